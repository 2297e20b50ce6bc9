// The six-camera CPU merger's loaders: the MAB6 file and the two groups'
// camera parameter files, in that order (see fuzz_input.h); the camera
// count of each parameter file too.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "surround/cpu_merger_six.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 3);
  const std::string mab = fuzz::WriteFile("six.mab", files[0]);
  const std::string cfgA = fuzz::WriteFile("lut_config_a.krv", files[1]);
  const std::string cfgB = fuzz::WriteFile("lut_config_b.krv", files[2]);
  LUTFile_GetCameraCount(cfgA.c_str());
  LUTFile_GetCameraCount(cfgB.c_str());
  MergerCPUOB6 obj;
  int32_t w = 0, h = 0;
  LUTHI6CPU_InitFromFile(&obj, mab.c_str(), cfgA.c_str(), cfgB.c_str(), 0, &w, &h);
  LUTHI6CPU_Release(&obj);
  return 0;
}
