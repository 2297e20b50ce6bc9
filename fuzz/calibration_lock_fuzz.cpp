// The lock of a stored calibration: lut_config.krv read and each camera
// refitted to its stored point pairs.
#include "camera/calibration_services.h"
#include "camera/lut_config.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("lut_config.krv", data, size);
  LutConfigInfo info;
  CameraParamSet params;
  ExecLockCalibration(&info, &params, path.c_str());
  return 0;
}
