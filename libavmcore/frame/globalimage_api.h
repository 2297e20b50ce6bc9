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
