#pragma once
// Exported KRV_TVDecoder_* interface of libavmcore: the video pipeline.
#include "avm_export.h"

// Type 152 sets the data directory (works before any other call); the other
// types are capture requests to the running decoder.
AVM_EXPORT void KRV_TVDecoder_CaptureFileEx(const char* path, int index, int type, int wait);
