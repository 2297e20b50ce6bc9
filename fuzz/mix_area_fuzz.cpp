// Mix-area files of two groups, merged and turned to camera coordinates.
// Input: group A's file, then group B's (see fuzz_input.h).
#include "fuzz/fuzz_support.h"
#include "surround/mix_area_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 2);
  const std::string pa = fuzz::WriteFile("mixarea_a.krv", files[0]);
  const std::string pb = fuzz::WriteFile("mixarea_b.krv", files[1]);
  MixAreaInfo a = MixAreaInfo_Empty(), b = MixAreaInfo_Empty();
  MixAreaInfo_Load(&a, pa.c_str());
  MixAreaInfo_Load(&b, pb.c_str());
  MixAreaInfo merged = MixAreaInfo_Empty();
  MixAreaInfo_Merge(&merged, &a, &b);
  MixAreaInfo_ToCameraCoords(&merged);
  MixAreaInfo_ToCameraCoords(&a);
  MixAreaInfo_Release(&merged);
  MixAreaInfo_Release(&a);
  MixAreaInfo_Release(&b);
  return 0;
}
