// Corner finding runs on one thread per camera at once (camera 1 first, then
// cameras 2 to 4 together): each call writes only its own camera's count and
// points, and gives what a call on its own gives.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "calibration/detect/find_all_corners.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/board_scenes.h"
#include "testsupport/config_state.h"
#include "testsupport/test_lutob.h"

TEST(FindAllThreads, CamerasInParallelGiveTheSingleThreadedResult) {
  ScopedConfigState state;
  gv().boardCols12 = gv().boardCols34 = 9;
  gv().boardRows12 = gv().boardRows34 = 7;
  TestLutob owner;
  LUTOB* lut = owner;
  FloatImage images[4];
  std::vector<float> points[4];
  for (int c = 0; c < 4; ++c) {
    BoardSceneSpec spec;
    spec.model = 2;
    spec.tiltDeg = 10.0f * c;
    spec.offsetX = 0.1f * c;
    RenderOptions opt;
    opt.blurSigma = 0.8f;
    opt.noiseSigma = 2.0f;
    BoardScene_Render(BoardScene_Make(spec), opt, &images[c]);
    lut->cameraImages[c] = &images[c].m;
    points[c].assign(2 * 59, 0.0f);
    lut->imagePoints[c] = points[c].data();
  }
  std::vector<std::vector<float>> alone(4);
  for (uint32_t c = 1; c <= 4; ++c) {
    ASSERT_EQ(48u, FindAllChessboardCorners(lut, c));
    alone[c - 1].assign(lut->imagePoints[c - 1], lut->imagePoints[c - 1] + 96);
  }
  for (int c = 0; c < 4; ++c) std::fill(lut->imagePoints[c], lut->imagePoints[c] + 2 * 59, 0.0f);
  FindAllChessboardCorners(lut, 1);
  std::vector<std::thread> threads;
  for (uint32_t c = 2; c <= 4; ++c) threads.emplace_back([lut, c] { FindAllChessboardCorners(lut, c); });
  for (std::thread& t : threads) t.join();
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(48, lut->cornerCounts[c]);
    EXPECT_EQ(alone[c], std::vector<float>(lut->imagePoints[c], lut->imagePoints[c] + 96)) << c;
  }
}
