// MAB and MAB6 run-table files.
#include "fuzz/fuzz_support.h"
#include "surround/mab_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("stitch.mab", data, size);
  MABFileData four;
  MABFile_Read(path.c_str(), &four);
  MAB6FileData six;
  MAB6File_Read(path.c_str(), &six);
  return 0;
}
