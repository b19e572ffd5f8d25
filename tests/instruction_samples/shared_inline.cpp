// An inline function left out of line: the unit symbol check must reject it.
__attribute__((noinline)) inline int sample_shared_helper(int x) {
  return 3 * x + 1;
}

int sample_user(int x) {
  return sample_shared_helper(x);
}
