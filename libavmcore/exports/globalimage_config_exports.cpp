// Configuration exports of the KRV_GlobalImage_* family.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "exports/export_guard.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "frame/log.h"

namespace {

constexpr int kNullArgument = -1;

bool Refuse(const char* what) {
  AvmLog("%s: null argument\n", what);
  return true;
}

}  // namespace

AVM_EXPORT int KRV_GlobalImage_Init() try {
  GlobalVariables_InitRuntimeDefaults();
  GlobalVariables_Init(0);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_Release() try {
  GlobalVariables_Release();
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_SetConfig(Config* cfg) try {
  if (cfg == nullptr && Refuse("KRV_GlobalImage_SetConfig")) return kNullArgument;
  GlobalVariables_SetConfig(cfg);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GetConfig(Config* cfg) try {
  if (cfg == nullptr && Refuse("KRV_GlobalImage_GetConfig")) return kNullArgument;
  memcpy(cfg, &gv().config, sizeof(Config));
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_SetExtraConfig(ExtraConfig* cfg) try {
  if (cfg == nullptr && Refuse("KRV_GlobalImage_SetExtraConfig")) return kNullArgument;
  GlobalVariables_SetExtraConfig(cfg);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GetExtraConfig(ExtraConfig* cfg) try {
  if (cfg == nullptr && Refuse("KRV_GlobalImage_GetExtraConfig")) return kNullArgument;
  memcpy(cfg, &gv().extraConfig, sizeof(ExtraConfig));
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_SetAdvCameraConfig(AdvCameraConfig* cfg) try {
  if (cfg == nullptr && Refuse("KRV_GlobalImage_SetAdvCameraConfig")) return kNullArgument;
  GlobalVariables_SetAdvCameraConfig(cfg);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GetAdvCameraConfig(AdvCameraConfig* cfg) try {
  if (cfg == nullptr && Refuse("KRV_GlobalImage_GetAdvCameraConfig")) return kNullArgument;
  memcpy(cfg, &gv().advCameraConfig, sizeof(AdvCameraConfig));
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_ModGlobalVariablesFile(int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) try {
  if (a != 0 || b != 0 || c != 0 || d != 0 || e != 0) {
    ModFileKeyParam(a, b, c, d & ~1, e);
    sync();
  }
  GlobalVariables_Init(1);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_ModChessParam(int32_t* params, int32_t* offsets, int32_t* outWidth,
                                             int32_t* outLength) try {
  GlobalVariables_ModChessParam(params, offsets, outWidth, outLength);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_AdvanceCtrl(int32_t id, int32_t value) try {
  GlobalVariables& g = gv();
  switch (id) {
    case 1: LoadTableUser(1); break;
    case 3:
      g.SpaceIndex = value;
      AvmLog("SetSpaceIndex %d \n ", value);
      break;
    case 4:
      g.JDSpecial = value;
      AvmLog("SetJDSpecial %d \n ", value);
      break;
    case 5:
      g.CutIfFill = value;
      AvmLog("SetCutIfFill %d \n ", value);
      break;
    case 6:
      g.HZCheckHigh = value;
      AvmLog("SetHZCheckHigh %d \n ", value);
      break;
    case 7: g.advAngle = static_cast<float>(value) / 10.0f / 180.0f * 3.1415927f; break;  // tenths of a degree
    case 8: g.advValue8 = value; break;
    case 9: g.advValue9 = value; break;
    case 11: g.advValue11 = value; break;
    case 12: g.advValue12 = static_cast<float>(value); break;
    case 13: g.advValue13 = static_cast<float>(value); break;
    case 14: g.advValue14 = value; break;
    case 15: g.advValue15 = value; break;
    default: break;
  }
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GetLastCalibResult(float* out) try {
  if (out == nullptr && Refuse("KRV_GlobalImage_GetLastCalibResult")) return kNullArgument;
  memcpy(out, gv().lastCalibResult, sizeof gv().lastCalibResult);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GetCalibResult(const float* record, int32_t camera, int32_t kind, float* out) try {
  if ((record == nullptr || out == nullptr) && Refuse("KRV_GlobalImage_GetCalibResult")) return kNullArgument;
  int k = (camera >= 2 && camera <= 4) ? camera - 1 : 0;
  int base;
  if (kind == 1) {
    base = 94 + 3 * k;
  } else if (kind == 2) {
    base = 82 + 3 * k;
  } else {
    return 0;
  }
  for (int i = 0; i < 3; ++i) out[i] = -record[base + i];
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
