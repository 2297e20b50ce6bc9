// Exports of the marker-angle measurement.
#include "calibration/solve/am_measure.h"
#include "globalimage_api.h"

AVM_EXPORT int KRV_GlobalImage_AMCalib(const char* bmpPath, const uint32_t* window, int32_t tag, int32_t a,
                                       int32_t b, const char* modelPath) {
  int32_t box[4];
  if (window != nullptr)
    for (int i = 0; i < 4; ++i) box[i] = static_cast<int32_t>(window[i]);
  // The calibration reports 0 for a written model; the export 1.
  return AM_Calib(bmpPath, window != nullptr ? box : nullptr, static_cast<uint32_t>(tag), a, b, modelPath) == 0 ? 1
                                                                                                                 : 0;
}

AVM_EXPORT AMObject* KRV_GlobalImage_AMInitOB(const char* modelPath) { return AM_InitOB(modelPath); }

AVM_EXPORT int KRV_GlobalImage_AMInputVideo(AMObject* obj, const void* reserved, const uint8_t* luma,
                                            int32_t stride) {
  return AM_InputVideo(obj, reserved, luma, stride);
}

AVM_EXPORT int KRV_GlobalImage_AMGetAngle(AMObject* obj, float* out) { return AM_GetAngle(obj, out, nullptr); }

AVM_EXPORT int KRV_GlobalImage_AMReleaseOB(AMObject* obj) { return AM_Release(obj); }
