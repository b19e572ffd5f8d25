// The API a module declares to MATLAB, which asks every module it loads.
// MATLAB's mex adds this function to each module it builds; the modules
// built without it link this file. The answer is that of mex -R2017b in
// R2018a: release 0x2018a, API 0x07300000 (separate complex, large-array
// dims: MX_LAST_SEPARATE_COMPLEX_VER), the API the gateway is written for.
extern "C" {

void mexfilerequiredapiversion(unsigned int* built_by_rel, unsigned int* target_api_ver);

void mexfilerequiredapiversion(unsigned int* built_by_rel, unsigned int* target_api_ver) {
  *built_by_rel = 0x2018a;
  *target_api_ver = 0x07300000;
}

}  // extern "C"
