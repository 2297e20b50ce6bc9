#include "pipeline/adas_function_services.h"

#define AVM_WEAK __attribute__((weak))

// Stand-ins until each function's module is in the build: Create returns
// null, so the manager never creates the function and nothing else runs.

AVM_WEAK MODObject* MOD_Create() { return nullptr; }
AVM_WEAK void MOD_Destroy(MODObject*) {}
AVM_WEAK void MOD_Init(MODObject*, const ADASConfig*) {}
AVM_WEAK void MOD_Release(MODObject*) {}
AVM_WEAK void MOD_SetSpeedAngle(MODObject*, int32_t, int32_t) {}
AVM_WEAK void MOD_SetGear(MODObject*, int32_t) {}
AVM_WEAK void MOD_SetSideSignal(MODObject*, int32_t, float) {}
AVM_WEAK void MOD_SetKeepTime(MODObject*, uint32_t) {}
AVM_WEAK void MOD_SetRadarInfo(MODObject*, int32_t, uint32_t) {}
AVM_WEAK void MOD_SetMask(MODObject*, uint32_t) {}
AVM_WEAK int32_t MOD_CanWrite(MODObject*) { return 0; }
AVM_WEAK int32_t MOD_HasFrame(MODObject*) { return 0; }
AVM_WEAK void MOD_NextRead(MODObject*) {}
AVM_WEAK void MOD_PushFrameGray(MODObject*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void MOD_PushFrameUYVY(MODObject*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void MOD_PushFrameYUYV(MODObject*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void MOD_PushFramePlanes(MODObject*, int32_t, int32_t, const uint8_t* const*, const ADASConfig*) {}
AVM_WEAK uint32_t MOD_Process(MODObject*) { return 0; }
AVM_WEAK int32_t MOD_GetResult(MODObject*, int32_t) { return 0; }
AVM_WEAK int32_t MOD_GetResultValue(MODObject*, int32_t) { return 0; }
AVM_WEAK void MOD_ClearResults(MODObject*) {}
AVM_WEAK uint32_t MOD_GetAlarm(const MODObject*, int32_t) { return 0; }
AVM_WEAK DirtyDetectState* DirtyDetect_Create() { return nullptr; }
AVM_WEAK void DirtyDetect_Destroy(DirtyDetectState*) {}
AVM_WEAK uint32_t DirtyDetect_Init(DirtyDetectState*, const char*, int32_t, int32_t) { return 0; }
AVM_WEAK void DirtyDetect_Release(DirtyDetectState*) {}
AVM_WEAK uint32_t DirtyDetect_IsInited(const DirtyDetectState*) { return 0; }
AVM_WEAK int32_t DirtyDetect_FeedA(DirtyDetectState*, const uint8_t*) { return 0; }
AVM_WEAK int32_t DirtyDetect_FeedB(DirtyDetectState*, const uint8_t*) { return 0; }
AVM_WEAK int32_t DirtyDetect_FeedC(DirtyDetectState*, const uint8_t*) { return 0; }
AVM_WEAK void DirtyDetect_SetParam(DirtyDetectState*, float) {}
AVM_WEAK uint32_t DirtyDetectStep(DirtyDetectState*) { return 0; }
AVM_WEAK RCTAInput* RCTAInput_Create() { return nullptr; }
AVM_WEAK void RCTAInput_Destroy(RCTAInput*) {}
AVM_WEAK void RCTAInput_Init(RCTAInput*, const ADASConfig*) {}
AVM_WEAK void RCTAInput_Release(RCTAInput*) {}
AVM_WEAK int32_t RCTAInput_CanWrite(RCTAInput*) { return 0; }
AVM_WEAK int32_t RCTAInput_HasFrame(RCTAInput*) { return 0; }
AVM_WEAK void RCTAInput_NextRead(RCTAInput*) {}
AVM_WEAK void RCTAInput_RemapCamA(RCTAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void RCTAInput_RemapCamB(RCTAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void RCTAInput_RemapCamC(RCTAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void RCTAInput_RemapPlanes(RCTAInput*, int32_t, int32_t, const uint8_t* const*, const ADASConfig*) {}
AVM_WEAK void RCTAInput_Process(RCTAInput*) {}
AVM_WEAK void RCTAInput_ClearStates(RCTAInput*) {}
AVM_WEAK void RCTAInput_SetNight(RCTAInput*, int32_t) {}
AVM_WEAK void RCTAInput_SetHoldTime(RCTAInput*, uint32_t) {}
AVM_WEAK uint32_t RCTAInput_LeftState(const RCTAInput*) { return 0; }
AVM_WEAK uint32_t RCTAInput_RightState(const RCTAInput*) { return 0; }
AVM_WEAK LVSAInput* LVSAInput_Create() { return nullptr; }
AVM_WEAK void LVSAInput_Destroy(LVSAInput*) {}
AVM_WEAK void LVSAInput_Init(LVSAInput*, const ADASConfig*) {}
AVM_WEAK void LVSAInput_Release(LVSAInput*) {}
AVM_WEAK int32_t LVSAInput_CanWrite(LVSAInput*) { return 0; }
AVM_WEAK int32_t LVSAInput_HasFrame(LVSAInput*) { return 0; }
AVM_WEAK void LVSAInput_NextRead(LVSAInput*) {}
AVM_WEAK void LVSAInput_RemapCamA(LVSAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void LVSAInput_RemapCamB(LVSAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void LVSAInput_RemapCamC(LVSAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*) {}
AVM_WEAK void LVSAInput_SetSpeed(LVSAInput*, float) {}
AVM_WEAK void LVSAInput_SetNight(LVSAInput*, int32_t) {}
AVM_WEAK void LVSAInput_Process(LVSAInput*) {}
AVM_WEAK void LVSAInput_ClearState(LVSAInput*) {}
AVM_WEAK void LVSAInput_SetHoldTime(LVSAInput*, uint32_t) {}
AVM_WEAK uint32_t LVSAInput_State(const LVSAInput*) { return 0; }
