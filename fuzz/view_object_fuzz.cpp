// The camera parameter file through the view object: loaded by the view
// export, then small undistorted, cut and wide views built from it.
#include <vector>

#include "frame/global_variables.h"
#include "fuzz/fuzz_support.h"
#include "globalimage_api.h"

namespace {

constexpr int32_t kW = 32, kH = 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  gv().CalibLayoutCode = 3;  // the file as it stands, no lock calibration
  const std::string path = fuzz::WriteFile("lut_config.krv", data, size);
  UndistOB* view = KRV_GlobalImage_InitUndistOB(path.c_str());
  if (view == nullptr) return 0;
  std::vector<uint32_t> lut(static_cast<size_t>(kW) * kH);
  for (int32_t camera = 1; camera <= 4; ++camera) {
    KRV_GlobalImage_SetUndistParam(view, camera, kW, kH, 0, 0, 0, 0, 120.0f, 1.0f, 0.0f, 0.0f);
    KRV_GlobalImage_GenerateUndistLUT(view, camera, lut.data());
    KRV_GlobalImage_GenerateWideLUT_EX(view, camera, kW, kH, lut.data(), 1.0f, 0.0f, 0.0f);
  }
  KRV_GlobalImage_SetCutParam(view, 3, kW, kH, 1, 0.0f, 0.0f, 0.0f);
  KRV_GlobalImage_GenerateCutLUT(view, 3, lut.data());
  float x = 0, y = 0;
  KRV_GlobalImage_CameraImage2Physical(view, 1, &x, &y, 10.0f, 10.0f);
  KRV_GlobalImage_UnInitUndistOB(view);
  return 0;
}
