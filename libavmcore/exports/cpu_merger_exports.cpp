// Exports of the CPU stitching object.
#include <memory>
#include <new>

#include "exports/export_guard.h"
#include "globalimage_api.h"
#include "surround/cpu_merger.h"

AVM_EXPORT MergerCPUOB* KRV_GlobalImage_InitMergerCPUOB(const char* configPath, const char* lutPath, int32_t a,
                                                        int32_t b, int32_t c, int32_t d, uint32_t* outWidth,
                                                        uint32_t* outHeight) try {
  if (!ExportPictureOk(__func__, b, c)) return nullptr;  // the camera picture
  std::unique_ptr<MergerCPUOB> obj(new (std::nothrow) MergerCPUOB());
  if (obj == nullptr) return nullptr;
  int32_t w = 0, h = 0;
  // The export takes the configuration path first, the loader the byte LUT
  // first: the order is swapped here and nowhere else.
  if (LUTCPU_InitFromFile(obj.get(), lutPath, configPath, a, b, c, d, &w, &h) == 0) return nullptr;
  if (outWidth != nullptr) *outWidth = static_cast<uint32_t>(w);
  if (outHeight != nullptr) *outHeight = static_cast<uint32_t>(h);
  return obj.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT MergerCPUOB* KRV_GlobalImage_InitMergerCPUOB_YW(const char* configPath, const char* mabPath,
                                                           const char* frontGridPath, const char* backGridPath,
                                                           const char* leftGridPath, const char* rightGridPath,
                                                           int32_t userValue1, int32_t cameraWidth,
                                                           int32_t cameraHeight, int32_t userValue2,
                                                           uint32_t* outWidth, uint32_t* outHeight) try {
  if (!ExportPictureOk(__func__, cameraWidth, cameraHeight)) return nullptr;
  std::unique_ptr<MergerCPUOB> obj(new (std::nothrow) MergerCPUOB());
  if (obj == nullptr) return nullptr;
  int32_t w = 0, h = 0;
  if (LUTCPU_InitFromFile_YW(obj.get(), configPath, mabPath, frontGridPath, backGridPath, leftGridPath, rightGridPath,
                             userValue1, cameraWidth, cameraHeight, userValue2, &w, &h) == 0)
    return nullptr;
  if (outWidth != nullptr) *outWidth = static_cast<uint32_t>(w);
  if (outHeight != nullptr) *outHeight = static_cast<uint32_t>(h);
  return obj.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT int KRV_GlobalImage_ExecCPUMerger(MergerCPUOB* handle, const uint8_t* frontImage,
                                             const uint8_t* backImage, const uint8_t* leftImage,
                                             const uint8_t* rightImage, uint8_t** output, uint32_t* pitches,
                                             const float* gains, int32_t region) try {
  if (handle == nullptr || output == nullptr || pitches == nullptr || gains == nullptr) return 0;
  const uint8_t* images[4] = {frontImage, backImage, leftImage, rightImage};
  const CPUMergerOutput out{output[0], output[1]};
  const int32_t p[2] = {static_cast<int32_t>(pitches[0]), static_cast<int32_t>(pitches[1])};
  LUTCPU_Exec(handle, images, &out, p, gains, region);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_UnInitMergerCPUOB(MergerCPUOB* handle) try {
  if (handle == nullptr) return 0;
  LUTCPU_Release(handle);
  delete handle;
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
