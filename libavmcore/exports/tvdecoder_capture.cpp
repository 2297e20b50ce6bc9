#include "exports/export_guard.h"
#include "exports/tvdecoder_instance.h"
#include "frame/data_directory.h"
#include "tvdecoder_api.h"

namespace {
constexpr int kCaptureTypeDataDirectory = 152;
}

AVM_EXPORT void KRV_TVDecoder_CaptureFileEx(const char* path, int index, int type, int wait) try {
  if (type == kCaptureTypeDataDirectory) {
    SetDataDirectory(path);
    return;
  }
  if (TVDecoderBase* d = TVDecoder_Instance()) d->CaptureFileEx(path, index, type, wait);
}
AVM_EXPORT_CATCH_VOID
