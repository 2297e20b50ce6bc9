// The driver-assistance files: adas_base.krv and every function file,
// loaded, turned to camera coordinates and written back.
// Input: adas_base.krv, then adas_ldws, adas_bsds, adas_mods, adas_rcta,
// adas_lvsa and adas_apa .krv (see fuzz_input.h).
#include "fuzz/fuzz_support.h"
#include "pipeline/adas_config.h"

namespace {

const char* const kFiles[] = {"adas_base.krv", "adas_ldws.krv", "adas_bsds.krv", "adas_mods.krv",
                              "adas_rcta.krv", "adas_lvsa.krv", "adas_apa.krv"};
constexpr int kFileCount = sizeof kFiles / sizeof kFiles[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, kFileCount);
  for (int i = 0; i < kFileCount; ++i) fuzz::WriteFile(kFiles[i], files[i]);
  const char* dir = fuzz::Dir().c_str();
  ADASConfig_ReadBaseValue(dir);
  ADASConfig config{};
  if (ADASConfig_Load(&config, dir) == 1) {
    // Loading twice replaces the tables of the first load.
    ADASConfig_Load(&config, dir);
    config.C[kAdasCameraCoords] = 1;
    ADASConfig_ToCameraCoords(&config);
    ADASConfig_Save(&config, dir, config.C[kAdasEnableMask]);
  }
  ADASConfig_Free(&config);
  return 0;
}
