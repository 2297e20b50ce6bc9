// The selector table.txt and the lens table it names, for both slots.
// Input: table.txt, then the file "table1.krv" (see fuzz_input.h).
#include "frame/lens_table.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 2);
  fuzz::WriteFile("table.txt", files[0]);
  fuzz::WriteFile("table1.krv", files[1]);
  LensTable_Select(1);
  LensTable_Select(0);
  fuzz::ResetConfiguration();
  return 0;
}
