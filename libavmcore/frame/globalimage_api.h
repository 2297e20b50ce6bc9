#pragma once
// Exported KRV_GlobalImage_* interface of libavmcore.
#include <cstdint>

#include "frame/avm_export.h"
#include "frame/config_records.h"

// Global configuration.
AVM_EXPORT int KRV_GlobalImage_Init();
AVM_EXPORT int KRV_GlobalImage_Release();
AVM_EXPORT int KRV_GlobalImage_SetConfig(Config* cfg);
AVM_EXPORT int KRV_GlobalImage_GetConfig(Config* cfg);
AVM_EXPORT int KRV_GlobalImage_SetExtraConfig(ExtraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_GetExtraConfig(ExtraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_SetAdvCameraConfig(AdvCameraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_GetAdvCameraConfig(AdvCameraConfig* cfg);
AVM_EXPORT int KRV_GlobalImage_ModGlobalVariablesFile(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
AVM_EXPORT int KRV_GlobalImage_ModChessParam(int32_t* params, int32_t* offsets, int32_t* outWidth,
                                             int32_t* outLength);
AVM_EXPORT int KRV_GlobalImage_AdvanceCtrl(int32_t id, int32_t value);
AVM_EXPORT int KRV_GlobalImage_GetLastCalibResult(float* out);
AVM_EXPORT int KRV_GlobalImage_GetCalibResult(const float* record, int32_t camera, int32_t kind, float* out);

// ---- Bird's-eye view: LUT objects and files, CPU stitching ----
// (definitions in lut_exports.cpp and cpu_merger_exports.cpp)
struct MergerCPUOB;

// CPU stitching object from a KRVImage byte LUT and its LUT configuration
// file; a..d are userValue1, cameraWidth, cameraHeight, userValue2. Null on
// failure (nothing kept).
AVM_EXPORT MergerCPUOB* KRV_GlobalImage_InitMergerCPUOB(const char* configPath, const char* lutPath, int32_t a,
                                                        int32_t b, int32_t c, int32_t d, uint32_t* outWidth,
                                                        uint32_t* outHeight);
// The same from a MAB run-table file and one grid-LUT file per camera (any
// grid path may be null).
AVM_EXPORT MergerCPUOB* KRV_GlobalImage_InitMergerCPUOB_YW(const char* configPath, const char* mabPath,
                                                           const char* frontGridPath, const char* backGridPath,
                                                           const char* leftGridPath, const char* rightGridPath,
                                                           int32_t userValue1, int32_t cameraWidth,
                                                           int32_t cameraHeight, int32_t userValue2,
                                                           uint32_t* outWidth, uint32_t* outHeight);
// Stitches four semi-planar camera images (front, back, left, right) into
// the output planes {luma, chroma} with pitches {luma, chroma}; gains: 24
// floats; region 1..5 or all. Always 0.
AVM_EXPORT int KRV_GlobalImage_ExecCPUMerger(MergerCPUOB* handle, const uint8_t* frontImage,
                                             const uint8_t* backImage, const uint8_t* leftImage,
                                             const uint8_t* rightImage, uint8_t** output, uint32_t* pitches,
                                             const float* gains, int32_t region);
AVM_EXPORT int KRV_GlobalImage_UnInitMergerCPUOB(MergerCPUOB* handle);
