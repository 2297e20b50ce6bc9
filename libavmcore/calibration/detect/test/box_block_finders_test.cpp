#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/box_block_finders.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/solve/block_calib.h"
#include "detect_scene_helpers.h"
#include "testsupport/mark_scenes.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/config_state.h"

namespace {

class BlockFinders : public ::testing::Test {
 protected:
  void SetUp() override { lut_ = LUTOB_Create(); }
  void TearDown() override { LUTOB_Destroy(lut_); }
  ScopedConfigState state_;
  LUTOB* lut_ = nullptr;
};

// Point i of the source is (10 i, 10 i + 1).
TEST_F(BlockFinders, MarkerOrderPerCamera) {
  float src[16];
  for (int i = 0; i < 8; ++i) {
    src[2 * i] = 10.0f * i;
    src[2 * i + 1] = 10.0f * i + 1.0f;
  }
  const struct {
    uint32_t camera;
    int order[8];
  } cases[] = {{2, {7, 6, 5, 4, 3, 2, 1, 0}}, {3, {5, 7, 4, 6, 1, 3, 0, 2}}, {4, {2, 0, 3, 1, 6, 4, 7, 5}}};
  for (const auto& c : cases) {
    float dst[16] = {};
    lut_->cornerCounts[c.camera - 1] = 0;
    CalibMarker_OrderPoints(lut_, c.camera, src, dst, 2.0f, 0.5f);
    EXPECT_EQ(lut_->cornerCounts[c.camera - 1], 8) << c.camera;
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(dst[2 * i], src[2 * c.order[i]] * 0.5f) << c.camera << " slot " << i;
      EXPECT_EQ(dst[2 * i + 1], src[2 * c.order[i] + 1] * 2.0f) << c.camera << " slot " << i;
    }
  }
  // In place gives the same.
  float same[16];
  std::copy(src, src + 16, same);
  CalibMarker_OrderPoints(lut_, 2, same, same, 1.0f, 1.0f);
  EXPECT_EQ(same[0], src[14]);
  EXPECT_EQ(same[14], src[0]);
  // Camera 1 writes nothing, not even the count.
  float dst[16] = {};
  lut_->cornerCounts[0] = 77;
  CalibMarker_OrderPoints(lut_, 1, src, dst, 1.0f, 1.0f);
  EXPECT_EQ(lut_->cornerCounts[0], 77);
  for (float v : dst) EXPECT_EQ(v, 0.0f);
}

TEST_F(BlockFinders, BlockPointsComeFromTheChosenSet) {
  float points[16];
  for (float& v : points) v = -7.0f;
  // Absent objects: nothing found, nothing touched.
  EXPECT_EQ(CalibFind_Layout52(lut_, 3, nullptr, 0, 0, points), 0u);
  EXPECT_EQ(BlockCalib4_CopyCameraPoints(lut_, 3, nullptr, 0, 0, points), 0u);
  for (float v : points) EXPECT_EQ(v, -7.0f);

  BlockCalib6* six = BlockCalib6_Instance();
  for (int k = 0; k < 4; ++k) {
    six->frontSet.points[4][k][0] = 100.0f + k;
    six->rearSet.points[4][k][0] = 200.0f + k;
  }
  six->frontSet.counts[2] = 8;
  six->rearSet.counts[2] = 0;
  gv().groupNumber = 1;
  EXPECT_EQ(CalibFind_Layout52(lut_, 3, nullptr, 0, 0, points), 8u);
  EXPECT_EQ(points[0], 100.0f);
  EXPECT_EQ(points[6], 103.0f);
  gv().groupNumber = 2;
  EXPECT_EQ(CalibFind_Layout52(lut_, 3, nullptr, 0, 0, points), 0u);
  EXPECT_EQ(points[0], 200.0f);

  BlockCalib4* four = BlockCalib4_Instance();
  four->blocks.points[2][1][1] = 55.0f;
  four->blocks.counts[1] = 8;
  EXPECT_EQ(BlockCalib4_CopyCameraPoints(lut_, 2, nullptr, 0, 0, points), 8u);
  EXPECT_EQ(points[3], 55.0f);
  EXPECT_EQ(BlockCalib4_CopyCameraPoints(lut_, 5, nullptr, 0, 0, points), 0u);
}

// Profile boxes that lie partly or wholly outside the image are cut to it
// (ASan checks no read leaves the image).
TEST_F(BlockFinders, ProfileBoxesOutsideTheImageAreCut) {
  std::vector<float> pixels(320 * 240, 0.5f);
  Matrix image{320, 240, pixels.data()};
  float points[2 * 59] = {};
  CalibProfileRecord& p = CalibProfile();
  p.words[0] = 9;
  const float boxes[8] = {-500.0f, -400.0f, 100.0f, 100.0f, 200.0f, 150.0f, 5000.0f, 4000.0f};
  for (int k = 0; k < 32; ++k) p.SetF(2 + k, boxes[k % 8]);
  for (uint32_t camera = 1; camera <= 4; ++camera)
    EXPECT_EQ(CalibFind_Layout9(lut_, camera, &image, 0, 0, points), 0u);
  EXPECT_EQ(lut_->cornerCounts[0], 14);  // the expected count is written before searching
  p.words[0] = 21;
  for (uint32_t camera = 1; camera <= 2; ++camera)
    EXPECT_EQ(CalibFind_Layout21(lut_, camera, &image, 0, 0, points), 0u);
  const float outside[4] = {1000.0f, 1000.0f, 2000.0f, 2000.0f};
  for (int k = 0; k < 16; ++k) p.SetF(2 + k, outside[k % 4]);
  EXPECT_EQ(CalibFind_Layout21(lut_, 1, &image, 0, 0, points), 0u);
  CalibProfile() = CalibProfileRecord{};
}

// Without the board profile, layout 21 looks for one board in each half of
// the image; the points land in the buffer in the camera's order (camera 1
// left board first, camera 2 reversed) even when the pose does not solve.
TEST_F(BlockFinders, Layout21SearchesTheImageHalves) {
  CalibProfile() = CalibProfileRecord{};
  BoardSceneSpec left;
  left.squaresX = left.squaresY = 4;
  left.span = 0.35f;
  left.offsetX = -0.3f;
  BoardSceneSpec right = left;
  right.offsetX = 0.3f;
  const BoardScene sa = BoardScene_Make(left), sb = BoardScene_Make(right);
  std::vector<float> ta, tb;
  ASSERT_TRUE(BoardScene_Truth(sa, &ta));
  ASSERT_TRUE(BoardScene_Truth(sb, &tb));
  RenderOptions opt;
  opt.blurSigma = 0.7f;
  FloatImage ia, ib;
  BoardScene_Render(sa, opt, &ia);
  BoardScene_Render(sb, opt, &ib);
  std::vector<float> pixels(ia.data);
  const int w = ia.m.cols;
  for (int r = 0; r < ia.m.rows; ++r)
    for (int c = w / 2; c < w; ++c) pixels[r * w + c] = ib.data[r * w + c];
  Matrix image{w, ia.m.rows, pixels.data()};
  ta = TruthInDetectorOrder(ta, 3, 3);
  tb = TruthInDetectorOrder(tb, 3, 3);
  std::vector<float> joined(ta);
  joined.insert(joined.end(), tb.begin(), tb.end());
  for (uint32_t camera : {1u, 2u}) {
    SCOPED_TRACE(camera);
    std::vector<float> points(2 * 59, -1.0f);
    EXPECT_EQ(CalibFind_Layout21(lut_, camera, &image, 0, 0, points.data()), 0u);  // no world points to solve with
    EXPECT_EQ(lut_->cornerCounts[camera - 1], 18);
    std::vector<float> got(points.begin(), points.begin() + 36);
    if (camera == 2)
      for (int i = 0; i < 9; ++i)
        for (int k = 0; k < 2; ++k) std::swap(got[2 * i + k], got[2 * (17 - i) + k]);
    EXPECT_LT(ErrorsInOrder(got, joined).max, 1.0);
  }
  EXPECT_EQ(CalibProfile().F(2 + 6), static_cast<float>(w - 1));  // defaults written into the profile
  CalibProfile() = CalibProfileRecord{};
}

// Two checker corners, each with its pair of squares, in the two boxes of
// camera 2 (the first reaching past the picture's top-left): the corners
// land in the buffer in picture coordinates, box A's first. Without world
// points the pose does not solve and every pass runs.
TEST_F(BlockFinders, Layout9CornersMoveBackIntoThePicture) {
  std::vector<float> pixels(320 * 240, 0.8f);
  Matrix image{320, 240, pixels.data()};
  auto rect = [&](float r0, float c0, float r1, float c1) {
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x) {
        const float cy = std::max(0.0f, std::min(y + 0.5f, r1) - std::max(y - 0.5f, r0));
        const float cx = std::max(0.0f, std::min(x + 0.5f, c1) - std::max(x - 0.5f, c0));
        float& p = pixels[static_cast<size_t>(y) * 320 + x];
        p = p * (1.0f - cy * cx) + 0.15f * cy * cx;
      }
  };
  const float corners[2][2] = {{60.4f, 70.7f}, {150.3f, 220.6f}};  // (row, column)
  for (const auto& k : corners) {
    rect(k[0] - 22, k[1], k[0], k[1] + 22);  // upper-right and lower-left dark
    rect(k[0], k[1] - 22, k[0] + 22, k[1]);
  }
  CalibProfileRecord& p = CalibProfile();
  p.words[0] = 9;
  const float boxes[8] = {-30.5f, -20.25f, 125.0f, 115.0f, 160.0f, 95.0f, 285.0f, 210.0f};
  for (int k = 0; k < 8; ++k) p.SetF(2 + 8 + k, boxes[k]);
  float points[2 * 59];
  EXPECT_EQ(CalibFind_Layout9(lut_, 2, &image, 0, 0, points), 0u);
  EXPECT_EQ(lut_->cornerCounts[1], 14);
  for (int b = 0; b < 2; ++b) {
    EXPECT_NEAR(points[14 * b], corners[b][0], 1.0f) << b;
    EXPECT_NEAR(points[14 * b + 1], corners[b][1], 1.0f) << b;
  }
  CalibProfile() = CalibProfileRecord{};
}

// Layout 4 without markers in the picture finds nothing; the count written
// last is that of the lower marker pair.
TEST_F(BlockFinders, Layout4WithoutMarkers) {
  std::vector<float> pixels(320 * 240, 0.6f);
  Matrix image{320, 240, pixels.data()};
  float points[2 * 59];
  for (uint32_t camera = 1; camera <= 4; ++camera) {
    EXPECT_EQ(CalibFind_Layout4(lut_, camera, &image, 0, 0, points), 0u) << camera;
    EXPECT_EQ(lut_->cornerCounts[camera - 1], 8) << camera;
  }
}

// A 6 x 4 board with a square marker either side: 15 board corners in the
// detector's order, then the two markers; without the markers the board
// alone; without the board nothing.
TEST(BoardWithSideQuads, BoardThenMarkers) {
  LensModelScenes scenes;
  BoardSceneSpec v;
  v.model = 2;
  v.width = 768;
  v.height = 432;
  const float sq = 80.0f;
  for (const bool markers : {true, false}) {
    SCOPED_TRACE(markers);
    MarkScene scene = MarkScene_Make(v);
    const std::vector<float> board = MarkScene_AddChessboard(&scene, -3 * sq, -2 * sq, 6, 4, sq, 30);
    std::vector<float> boardPx, gl, gr;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, board, &boardPx));
    if (markers) {
      ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, -4.6f * sq, 0, 1.3f * sq, 0, 30), &gl));
      ASSERT_TRUE(MarkScene_ProjectAll(scene, MarkScene_AddSquare(&scene, 4.6f * sq, 0, 1.3f * sq, 0, 30), &gr));
    }
    FloatImage img;
    RenderOptions o;
    o.blurSigma = 0.7f;
    MarkScene_Render(scene, o, &img);
    std::vector<float> points(2 * 59, -7.0f);
    ASSERT_EQ(FindBoardWithSideQuads(&img.m, 6, 4, points.data()), markers ? 23u : 15u);
    const std::vector<float> truth = TruthInDetectorOrder(boardPx, 5, 3);
    EXPECT_LT(ErrorsInOrder(std::vector<float>(points.begin(), points.begin() + 30), truth).max, 1.0);
    if (markers) {
      // Every marker point near one of the two squares' corners (whole pixels).
      std::vector<float> corners(gl);
      corners.insert(corners.end(), gr.begin(), gr.end());
      for (int i = 15; i < 23; ++i) {
        double best = 1e9;
        for (size_t k = 0; k < corners.size(); k += 2)
          best = std::min(best, std::hypot(double(points[2 * i] - corners[k]), double(points[2 * i + 1] - corners[k + 1])));
        EXPECT_LT(best, 2.0) << i;
      }
    }
  }
  std::vector<float> empty(768 * 432, 0.5f);
  Matrix m{768, 432, empty.data()};
  std::vector<float> points(2 * 59);
  EXPECT_EQ(FindBoardWithSideQuads(&m, 6, 4, points.data()), 0u);
}

}  // namespace
