// Lens-table files in both layouts: the full slot reader and the compact
// angle-table reader.
#include <cstdlib>

#include "frame/lens_table.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("table1.krv", data, size);
  LensTableSlot slot;
  LensTable_LoadFile(&slot, path.c_str());
  LensTable_FreeSlot(&slot);
  LensTableCompact compact{0.0f, nullptr, 0};
  if (LensTable_LoadAltLayout(&compact, path.c_str()) == 1) free(compact.angleTable);
  return 0;
}
