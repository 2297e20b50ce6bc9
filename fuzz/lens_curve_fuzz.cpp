// Lens curves: the height curve text and its descriptor.
// Input: the curve, then the descriptor (see fuzz_input.h).
#include "camera/lens_curve.h"
#include "frame/lens_table.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 2);
  const std::string curve = fuzz::WriteFile("curve.txt", files[0]);
  const std::string desc = fuzz::WriteFile("curve_desc.txt", files[1]);
  LensTableSlot slot;
  LensCurve_LoadText(&slot, curve.c_str(), desc.c_str());
  LensCurve_Free(&slot);
  return 0;
}
