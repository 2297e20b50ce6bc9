// avmhost config: set the data directory, Init, print the configuration records.
#include <cstdio>

#include "avm_library.h"
#include "commands.h"
#include "globalimage_api.h"  // record types only; entry points are looked up

namespace {

void PrintInts(const char* name, const int32_t* v, int n) {
  printf("  %-20s", name);
  for (int i = 0; i < n; ++i) printf(" %d", v[i]);
  printf("\n");
}

void PrintFloats(const char* name, const float* v, int n) {
  printf("  %-20s", name);
  for (int i = 0; i < n; ++i) printf(" %g", static_cast<double>(v[i]));
  printf("\n");
}

void PrintTracking(int32_t count, int32_t width, int32_t height, float cx, float cy, float sx, float sy) {
  PrintInts("trackCount", &count, 1);
  PrintInts("trackWidth", &width, 1);
  PrintInts("trackHeight", &height, 1);
  PrintFloats("centreX", &cx, 1);
  PrintFloats("centreY", &cy, 1);
  PrintFloats("scaleX", &sx, 1);
  PrintFloats("scaleY", &sy, 1);
}

void PrintConfig(const Config& c) {
  printf("Config:\n");
  PrintInts("zoneDistance", c.zoneDistance, 3);
  PrintInts("lateralMargin", &c.lateralMargin, 1);
  PrintInts("staticStyle", &c.staticStyle, 1);
  PrintInts("dynamicStyle", &c.dynamicStyle, 1);
  PrintFloats("seamAngle", c.seamAngle, 4);
  PrintFloats("seamFraction", c.seamFraction, 4);
  PrintTracking(c.trackCount, c.trackWidth, c.trackHeight, c.centreX, c.centreY, c.scaleX, c.scaleY);
}

void PrintExtraConfig(const ExtraConfig& e) {
  printf("ExtraConfig:\n");
  PrintInts("frontLineStart", &e.frontLineStart, 1);
  PrintInts("rearLineStart", &e.rearLineStart, 1);
  PrintInts("frontBlendWidth", &e.frontBlendWidth, 1);
  PrintInts("rearBlendWidth", &e.rearBlendWidth, 1);
  PrintInts("layoutMode", &e.layoutMode, 1);
  PrintInts("nearMark", &e.nearMark, 1);
  PrintInts("derivedSizePercent", &e.derivedSizePercent, 1);
  PrintInts("traceOffset", &e.traceOffset, 1);
  PrintInts("spare8", &e.spare8, 1);
  PrintInts("spare9", &e.spare9, 1);
}

void PrintAdvCameraConfig(const AdvCameraConfig& a) {
  printf("AdvCameraConfig:\n");
  PrintInts("value0", &a.value0, 1);
  printf("  %-20s 0x%x\n", "cameraBits", a.cameraBits);
  PrintTracking(a.trackCount, a.trackWidth, a.trackHeight, a.centreX, a.centreY, a.scaleX, a.scaleY);
}

}  // namespace

int RunConfig(AvmLibrary& lib, const std::vector<std::string>& args) {
  std::string dir = OptionValue(args, "--data", AVMHOST_SAMPLE_DATA);
  auto setDir = lib.Get<void (*)(const char*, int, int, int)>("KRV_TVDecoder_CaptureFileEx");
  auto init = lib.Get<int (*)()>("KRV_GlobalImage_Init");
  auto getConfig = lib.Get<int (*)(Config*)>("KRV_GlobalImage_GetConfig");
  auto getExtra = lib.Get<int (*)(ExtraConfig*)>("KRV_GlobalImage_GetExtraConfig");
  auto getAdv = lib.Get<int (*)(AdvCameraConfig*)>("KRV_GlobalImage_GetAdvCameraConfig");
  if (setDir == nullptr || init == nullptr || getConfig == nullptr || getExtra == nullptr || getAdv == nullptr) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  setDir(dir.c_str(), 0, 152, 0);
  printf("data directory: %s\n", dir.c_str());
  int rc = init();
  printf("KRV_GlobalImage_Init: %d\n", rc);

  Config config = {};
  ExtraConfig extra = {};
  AdvCameraConfig adv = {};
  if (getConfig(&config) != 0 || getExtra(&extra) != 0 || getAdv(&adv) != 0) {
    fprintf(stderr, "avmhost: reading the configuration records failed\n");
    return 1;
  }
  PrintConfig(config);
  PrintExtraConfig(extra);
  PrintAdvCameraConfig(adv);
  return rc == 0 ? 0 : 1;
}
