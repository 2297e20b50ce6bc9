// Exports of the marker-angle measurement.
#include "exports/export_guard.h"
#include "calibration/solve/am_measure.h"
#include "globalimage_api.h"

AVM_EXPORT int KRV_GlobalImage_AMCalib(const char* bmpPath, const uint32_t* window, int32_t tag, int32_t a,
                                       int32_t b, const char* modelPath) try {
  int32_t box[4];
  if (window != nullptr)
    for (int i = 0; i < 4; ++i) box[i] = static_cast<int32_t>(window[i]);
  // The calibration reports 0 for a written model; the export 1.
  return AM_Calib(bmpPath, window != nullptr ? box : nullptr, static_cast<uint32_t>(tag), a, b, modelPath) == 0 ? 1
                                                                                                                 : 0;
}
AVM_EXPORT_CATCH(0)

AVM_EXPORT AMObject* KRV_GlobalImage_AMInitOB(const char* modelPath) try {
  return AM_InitOB(modelPath);
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT int KRV_GlobalImage_AMInputVideo(AMObject* obj, const void* reserved, const uint8_t* luma,
                                            int32_t stride) try {
  return AM_InputVideo(obj, reserved, luma, stride);
}
AVM_EXPORT_CATCH(kAMNotFollowed)

AVM_EXPORT int KRV_GlobalImage_AMGetAngle(AMObject* obj, float* out) try {
  return AM_GetAngle(obj, out, nullptr);
}
AVM_EXPORT_CATCH(kAMNoAngle)

AVM_EXPORT int KRV_GlobalImage_AMReleaseOB(AMObject* obj) try {
  return AM_Release(obj);
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
