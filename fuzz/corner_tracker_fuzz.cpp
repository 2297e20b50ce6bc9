// The corner tracker's parameter file, read into a tracker object; its
// ground mapping used both ways, and one frame tracked when the file's
// frame is small.
#include <vector>

#include "calibration/solve/corner_tracker.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr int64_t kMaxStepPixels = 64 * 48;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("corner_tracker.krv", data, size);
  CornerTracker* tracker = CornerTracker_Create(path.c_str());
  if (tracker != nullptr) {
    float m, x, y, a;
    CornerTracker_GetResult(tracker, &m, &x, &y, &a);
    CornerTracker_DistanceFilter(tracker, 120.0f, 130.0f);
    const float xs[3] = {0.0f, 10.5f, 1e6f}, ys[3] = {0.0f, 7.25f, -1e6f};
    float X[3], Y[3], u[3], v[3];
    if (CornerTracker_ImageToGround(tracker, 3, xs, ys, X, Y) == 0) CornerTracker_GroundToImage(tracker, 3, X, Y, u, v);
    if (tracker->width >= 1 && tracker->height >= 1 &&
        static_cast<int64_t>(tracker->width) * tracker->height <= kMaxStepPixels) {
      std::vector<uint8_t> frame(static_cast<size_t>(tracker->width) * tracker->height);
      for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i % 7) * 36);
      CornerTracker_Step(tracker, frame.data(), tracker->width);
    }
    CornerTracker_Release(tracker);
  }
  return 0;
}
