#include <cstdio>

#include "avm_library.h"
#include "commands.h"

int RunConfig(AvmLibrary& lib, const std::vector<std::string>& args) {
  std::string dir = OptionValue(args, "--data", AVMHOST_SAMPLE_DATA);
  auto setDir = lib.Get<void (*)(const char*, int, int, int)>("KRV_TVDecoder_CaptureFileEx");
  if (setDir == nullptr) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  setDir(dir.c_str(), 0, 152, 0);
  printf("data directory: %s\n", dir.c_str());
  return 0;
}
