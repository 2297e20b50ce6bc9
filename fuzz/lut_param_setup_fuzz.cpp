// The parameter-file LUT set-up: the four camera records
// (cc_config/0.json .. 3.json) and the car sizes (cc_config/param.txt), in
// that order (see fuzz_input.h), read into a LUT object.
#include <string>
#include <sys/stat.h>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "surround/lutob.h"
#include "surround/lutob_param_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 5);
  mkdir((fuzz::Dir() + "/cc_config").c_str(), 0755);
  for (int c = 0; c < 4; ++c) fuzz::WriteFile("cc_config/" + std::to_string(c) + ".json", files[c]);
  fuzz::WriteFile("cc_config/param.txt", files[4]);
  LUTOB* lut = LUTOB_Create();
  InitLUTOB_ParamFileCC(lut);
  LUTOB_Destroy(lut);
  return 0;
}
