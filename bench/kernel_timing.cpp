// For bench/compare_kernels.sh: "kind D n_a n_b seconds-per-call checksum" per
// shape (arguments kind/D/n_a/n_b pick some), the checksum hashing the
// result's bits. Only the public entry points, which older revisions' kernels
// have too. CPU time, less disturbed by a shared core's other processes than
// wall time; about 0.2 s of calls per shape.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "distance_kernels.hpp"

namespace {

struct Shape {
  std::size_t dim, n_a, n_b;
};

const std::vector<Shape> kPairwise = {
    {2, 2000, 2000},  {3, 2000, 2000}, {16, 2000, 2000}, {64, 1000, 1000},  {256, 500, 500},
    {1024, 256, 256}, {3, 100000, 8},  {128, 20000, 16}, {512, 2000, 2000}, {1024, 2000, 2000},
    {5, 37, 3001},    {33, 1001, 9},   {7, 333, 77},     {100, 129, 131},   {1, 5000, 5000}};
const std::vector<Shape> kWeighted = {
    {3, 2000, 2000},  {16, 1000, 1000}, {64, 500, 500}, {256, 300, 300}, {8, 300, 300},
    {24, 1500, 1500}, {130, 300, 300},  {5, 1000, 7},   {1, 2000, 2000}, {2, 2000, 2000}};

std::vector<double> values(std::size_t count, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> v(count);
  for (double& x : v) x = dist(gen);
  return v;
}

// Seconds per call of run, repeated for about 0.2 s after one warm-up call.
template <class Run>
double time_calls(Run run) {
  const auto since = [](std::clock_t start) {
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  };
  std::clock_t start = std::clock();
  run();
  const long calls = std::max(1L, static_cast<long>(0.2 / std::max(since(start), 1e-6)));
  start = std::clock();
  for (long c = 0; c < calls; ++c) run();
  return since(start) / static_cast<double>(calls);
}

}  // namespace

int main(int argc, char** argv) {
  using korvane::MatrixView;
  for (const std::vector<Shape>* shapes : {&kPairwise, &kWeighted})
    for (const Shape& s : *shapes) {
      const bool weighted = shapes == &kWeighted;
      const char* kind = weighted ? "weighted" : "pairwise";
      // Run when the command line names no shape, or names this one.
      char name[96];
      std::snprintf(name, sizeof name, "%s/%zu/%zu/%zu", kind, s.dim, s.n_a, s.n_b);
      if (argc > 1 && std::none_of(argv + 1, argv + argc,
                                   [&](const char* arg) { return std::strcmp(arg, name) == 0; }))
        continue;
      std::vector<double> a = values(s.dim * s.n_a, 1), b = values(s.dim * s.n_b, 2);
      std::vector<double> q = weighted ? values(s.n_a * s.n_b, 3) : std::vector<double>();
      std::vector<double> c(weighted ? s.dim : s.n_a * s.n_b);
      const MatrixView av{s.dim, s.n_a, a.data()}, bv{s.dim, s.n_b, b.data()};
      const MatrixView qv{s.n_a, s.n_b, q.data()};
      const MatrixView cv =
          weighted ? MatrixView{s.dim, 1, c.data()} : MatrixView{s.n_a, s.n_b, c.data()};
      const double seconds = time_calls([&] {
        weighted ? korvane::weighted_coordinate_sums(av, bv, qv, cv)
                 : korvane::pairwise_squared_distances(av, bv, cv);
      });
      // FNV-1a over the 8 bytes of every double.
      std::uint64_t h = 14695981039346656037ull;
      for (const double x : c) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        for (int byte = 0; byte < 8; ++byte)
          h = (h ^ ((bits >> (8 * byte)) & 0xff)) * 1099511628211ull;
      }
      std::printf("%s %zu %zu %zu %.9e %016llx\n", kind, s.dim, s.n_a, s.n_b, seconds,
                  static_cast<unsigned long long>(h));
    }
  return 0;
}
