// The corner tracker's parameter file, read into a tracker object.
#include "calibration/solve/corner_tracker.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("corner_tracker.krv", data, size);
  CornerTracker* tracker = CornerTracker_Create(path.c_str());
  if (tracker != nullptr) {
    float m, x, y, a;
    CornerTracker_GetResult(tracker, &m, &x, &y, &a);
    CornerTracker_Release(tracker);
  }
  return 0;
}
