// Modules that the test host must refuse for the API they declare: built with
// DECLARED_API, one that answers mexfilerequiredapiversion with that API (the
// interleaved-complex one, which our gateway is not written for); without, one
// that has no such function, as modules built before it existed.
extern "C" {

__declspec(dllexport) void mexFunction(int, void*[], int, const void*[]) {}

#if defined(DECLARED_API)
__declspec(dllexport) void mexfilerequiredapiversion(unsigned int* built_by_rel,
                                                     unsigned int* target_api_ver) {
  *built_by_rel = 0x2018a;
  *target_api_ver = DECLARED_API;
}
#endif

}  // extern "C"
