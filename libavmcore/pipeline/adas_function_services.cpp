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
