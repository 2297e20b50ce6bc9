// The layout-21 finder on a 1280 x 720 fisheye frame holding a 4 x 4 board
// in each half: the quad and the template detector on both boxes. Without
// world points the pose never solves, so every combination runs (the
// finder's slowest path).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <vector>

#include "calibration/detect/layout_finders.h"
#include "frame/calib_profile.h"
#include "surround/lutob.h"
#include "testsupport/board_scenes.h"

namespace {

const int kMallocTuned = [] {
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  return 0;
}();

std::vector<float> TwoBoards() {
  BoardSceneSpec left;
  left.squaresX = left.squaresY = 4;
  left.span = 0.35f;
  left.offsetX = -0.3f;
  BoardSceneSpec right = left;
  right.offsetX = 0.3f;
  RenderOptions opt;
  opt.blurSigma = 0.7f;
  FloatImage a, b;
  BoardScene_Render(BoardScene_Make(left), opt, &a);
  BoardScene_Render(BoardScene_Make(right), opt, &b);
  std::vector<float> pixels(a.data);
  const int w = a.m.cols;
  for (int r = 0; r < a.m.rows; ++r)
    for (int c = w / 2; c < w; ++c) pixels[r * w + c] = b.data[r * w + c];
  return pixels;
}

void BM_Layout21AllCombinations(benchmark::State& state) {
  std::vector<float> pixels = TwoBoards();
  Matrix image{1280, 720, pixels.data()};
  LUTOB* lut = LUTOB_Create();
  CalibProfile() = CalibProfileRecord{};
  std::vector<float> points(2 * 59);
  for (auto _ : state) benchmark::DoNotOptimize(CalibFind_Layout21(lut, 1, &image, 0, 0, points.data()));
  LUTOB_Destroy(lut);
  CalibProfile() = CalibProfileRecord{};
}
BENCHMARK(BM_Layout21AllCombinations)->Unit(benchmark::kMillisecond);

}  // namespace
