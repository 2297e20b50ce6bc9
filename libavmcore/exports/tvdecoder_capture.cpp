#include "frame/data_directory.h"
#include "tvdecoder_api.h"

namespace {
constexpr int kCaptureTypeDataDirectory = 152;
}

AVM_EXPORT void KRV_TVDecoder_CaptureFileEx(const char* path, int index, int type, int wait) {
  (void)index;
  (void)wait;
  if (type == kCaptureTypeDataDirectory) {
    SetDataDirectory(path);
    return;
  }
  // Capture requests need the decoder object, which does not exist yet.
}
