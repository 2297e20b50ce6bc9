// Driver-assistance tables of the six-camera save chains.
#include "surround/six_lut_services.h"

#include "frame/data_directory.h"
#include "pipeline/adas_config.h"

int32_t LUTSix_WriteAdasTables(LUTOB* lut, int32_t generateMask, int32_t saveMask) {
  if (lut == nullptr) return 0;
  ADASConfig cfg{};
  ADAS_GenerateTables(&cfg, lut, generateMask);
  const int ok = ADASConfig_Save(&cfg, DataDirectory(), saveMask);
  ADASConfig_Free(&cfg);
  return ok != 0 ? 1 : 0;
}
