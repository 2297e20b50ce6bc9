// globalimage_base.txt as the configuration reads it, then the blind-area
// set-up that derives every output size from it.
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  fuzz::WriteFile(kBaseFileName, data, size);
  if (GlobalVariables_Init(1) != 1) return 0;
  // Maps are made only for small outputs (as the seeds have): filling
  // those of the largest accepted output (2048 x 2048, 160 MiB) takes
  // seconds under the sanitizers. The sizes are derived for every file.
  const int32_t allocMaps = static_cast<int64_t>(gv().f3) * gv().f5 <= (1 << 14) ? 1 : 0;
  for (int keep = 0; keep < 2; ++keep) {
    LutConfig cfg{};
    LutConfig_Init(&cfg, 1864, 4950, 0, 1053, 2850, 5, allocMaps, 0, keep);
    LutConfig_Release(&cfg, 1);
  }
  return 0;
}
