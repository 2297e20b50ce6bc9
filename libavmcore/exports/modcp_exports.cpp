// Exports of the manual pose adjustment.
#include <memory>

#include "exports/export_guard.h"
#include "calibration/solve/modcp.h"
#include "globalimage_api.h"

ModCPObject* KRV_GlobalImage_ModCPInit(const char* configPath1, const char* configPath2, int32_t mode) try {
  std::unique_ptr<ModCPObject> obj(new ModCPObject());
  if (ModCP_Init(obj.get(), configPath1, configPath2, mode) == 0) return nullptr;
  return obj.release();
}
AVM_EXPORT_CATCH(nullptr)

int KRV_GlobalImage_ModCPExec(ModCPObject* obj, int32_t camera, int32_t stepMode, int32_t linked, float* outRot,
                              float* outPos, float step) try {
  if (obj == nullptr) return 0;
  if (linked != 0)
    ModCP_AdjustLinked(obj, camera, stepMode, step);
  else
    ModCP_Adjust(obj, camera, stepMode, step);
  ModCP_Output(obj, outRot, outPos);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_ModCPReset(ModCPObject* obj, int32_t camera, float* outRot, float* outPos) try {
  if (obj == nullptr) return 0;
  ModCP_Reset(obj, camera);
  ModCP_Output(obj, outRot, outPos);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

int KRV_GlobalImage_ModCPSaveConfig(ModCPObject* obj, const char* lutPath1, const char* lutPath2,
                                    const char* configPath1, const char* configPath2) try {
  return ModCP_SaveConfig(obj, lutPath1, lutPath2, configPath1, configPath2) != 0
             ? 0
             : kModCPNotReplaced;
}
AVM_EXPORT_CATCH(kModCPNotReplaced)

void KRV_GlobalImage_ModCPRelease(ModCPObject* obj) try {
  delete obj;
}
AVM_EXPORT_CATCH_VOID

int KRV_GlobalImage_ModConfigFileBlind(int32_t extA, int32_t extB, int32_t extC, int32_t extD,
                                       const char* configPath1, const char* configPath2, const char* lutPath1,
                                       const char* lutPath2) try {
  return ModCP_ConfigFileBlind(extA, extB, extC, extD, configPath1, configPath2, lutPath1,
                               lutPath2) != 0
             ? 0
             : kModCPNotReplaced;
}
AVM_EXPORT_CATCH(kModCPNotReplaced)
