// globalimage_base.txt as the configuration reads it, then the blind-area
// set-up that derives every output size from it.
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  fuzz::WriteFile(kBaseFileName, data, size);
  if (GlobalVariables_Init(1) != 1) return 0;
  // Maps of the largest accepted outputs (2048 x 2048, 160 MiB) would
  // exceed the fuzzer's memory limit with the sanitizer's own: the sizes
  // are derived for every file, the maps allocated for the smaller ones.
  const int32_t allocMaps = static_cast<int64_t>(gv().f3) * gv().f5 <= (1 << 19) ? 1 : 0;
  for (int keep = 0; keep < 2; ++keep) {
    LutConfig cfg{};
    LutConfig_Init(&cfg, 1864, 4950, 0, 1053, 2850, 5, allocMaps, 0, keep);
    LutConfig_Release(&cfg, 1);
  }
  return 0;
}
