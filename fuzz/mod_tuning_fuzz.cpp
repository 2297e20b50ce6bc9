// The moving-object detector's tuning file (three text lines).
#include "fuzz/fuzz_support.h"
#include "pipeline/mod_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("mod_temp.txt", data, size);
  int32_t objectValue = 25;
  MODTuning_Load(path.c_str(), &objectValue);
  MODTuning_Reset();
  return 0;
}
