#include "pipeline/best3_services.h"

#define AVM_WEAK __attribute__((weak))

AVM_WEAK Best3Ctrl* Best3Ctrl_Create() { return nullptr; }
AVM_WEAK void Best3Ctrl_Destroy(Best3Ctrl*) {}
AVM_WEAK int32_t Best3Ctrl_Init(Best3Ctrl*, int32_t, const char*, const char*, const char*) { return 0; }
AVM_WEAK void Best3Ctrl_InputFrame(Best3Ctrl*, int32_t, const void*) {}
AVM_WEAK int32_t Best3Ctrl_PollAndSave(Best3Ctrl*) { return 2; }
AVM_WEAK void Best3Ctrl_Release(Best3Ctrl*) {}
