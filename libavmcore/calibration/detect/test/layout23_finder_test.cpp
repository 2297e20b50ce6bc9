// Layout 23's side cameras on a rendered site: a long board of 3 x 13
// corners beside the vehicle; every third corner of its outer rows comes
// back in world-point order, and without the two small boards beyond it the
// finder keeps those ten points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "camera/lut_config_file.h"
#include "detect_scene_helpers.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/calibration_site.h"
#include "testsupport/mark_scenes.h"
#include "testsupport/test_lutob.h"

namespace {

constexpr int kMaxPoints = 59;

class Layout23Site : public ::testing::Test {
 protected:
  void SetUp() override {
    gv().CalibLayoutCode = 23;
    for (float& l : gv().presetLimit) l = 5.0f;
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    points_.assign(2 * kMaxPoints, -1.0f);
    world_.assign(3 * kMaxPoints, 0.0f);
  }
  // Camera 3's long board (4 x 14 squares of 110 mm) beside the vehicle;
  // hide leaves it off. The ten world points follow the template detector's
  // grid (taken from the detector on a clean picture, matched to the truth).
  void Build(bool hide, bool smallBoards = false) {
    const CalibrationSite site = CalibrationSite_Compact(2);
    MarkScene scene;
    scene.cam = CalibrationSite_Camera(site, 3);
    const float s[3] = {1, 0, 0}, t[3] = {0, 1, 0};
    memcpy(scene.axisS, s, sizeof s);
    memcpy(scene.axisT, t, sizeof t);
    const std::vector<float> st = MarkScene_AddChessboard(&scene, -1600, -1300, 4, 14, 110, 30);
    std::vector<float> img;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, st, &img));
    // Board rows run along the vehicle (13 corners, s fastest on the floor
    // is across): corner (r, q) of the picture's grid is floor corner (q, r)
    // of the 3-wide floor grid, up to the direction of each axis.
    // The detector's grid on the clean picture is matched once per suite.
    static std::vector<float> matchedTruth, matchedWorld;
    lut_->worldPoints[2] = world_.data();
    if (!matchedTruth.empty()) {
      truth_ = matchedTruth;
      std::copy(matchedWorld.begin(), matchedWorld.end(), world_.begin());
    } else {
      std::vector<float> ten(20);
      FloatImage plain;
      MarkScene_Render(scene, RenderOptions(), &plain);
      lut_->cameraImages[2] = &plain.m;
      lut_->imagePoints[2] = ten.data();
      ASSERT_EQ(CalibFind_Layout23(lut_, 3, &plain.m, 0, 0, ten.data()), 10u);
      truth_.assign(20, 0.0f);
      for (int i = 0; i < 10; ++i) {
        size_t best = 0;
        double bd = 1e30;
        for (size_t k = 0; k < img.size() / 2; ++k) {
          const double d = std::hypot(ten[2 * i] - img[2 * k], ten[2 * i + 1] - img[2 * k + 1]);
          if (d < bd) bd = d, best = k;
        }
        ASSERT_LT(bd, 1.5);
        truth_[2 * i] = img[2 * best];
        truth_[2 * i + 1] = img[2 * best + 1];
        world_[3 * i] = st[2 * best];
        world_[3 * i + 1] = st[2 * best + 1];
      }
      matchedTruth = truth_;
      matchedWorld.assign(world_.begin(), world_.begin() + 30);
    }
    if (hide) scene.shapes.clear();
    if (smallBoards) {
      // Two boards of 3 x 3 squares of 200 mm beyond the long board, far
      // enough apart that each search window holds one; world points 10..13
      // and 14..17 are their inner corners along x, then along y.
      for (int b = 0; b < 2; ++b) {
        const float x0 = kSmallX, y0 = kSmallY[b];
        MarkScene_AddChessboard(&scene, x0, y0, 3, 3, 200, 30);
        for (int k = 0; k < 4; ++k) {
          float* w = &world_[3 * (10 + 4 * b + k)];
          w[0] = x0 + 200 + 200 * (k % 2);
          w[1] = y0 + 200 + 200 * (k / 2);
          w[2] = 0.0f;
          float row = 0, col = 0;
          ASSERT_TRUE(MarkScene_Project(scene, w[0], w[1], &row, &col));
          truth_.push_back(row);
          truth_.push_back(col);
        }
      }
    }
    RenderOptions o;
    o.blurSigma = 0.6f;
    o.noiseSigma = 1.5f;
    MarkScene_Render(scene, o, &img_);
    lut_->cameraImages[2] = &img_.m;
    lut_->imagePoints[2] = points_.data();
  }

  static constexpr float kSmallX = -2500.0f;
  static constexpr float kSmallY[2] = {-2700.0f, 900.0f};
  LensModelScenes scenes_;
  TestLutob lut_;
  FloatImage img_;
  std::vector<float> points_, world_, truth_;
};

TEST_F(Layout23Site, LongBoardWithoutSmallBoardsGivesItsTenPoints) {
  Build(false);
  ASSERT_EQ(CalibFind_Layout23(lut_, 3, &img_.m, 0, 0, points_.data()), 10u);
  const PointErrors e = ErrorsInOrder(points_, truth_);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
  // Every third corner of rows 0 and 2: ten distinct floor points, 330 mm
  // apart along each row.
  EXPECT_NEAR(std::hypot(world_[3] - world_[0], world_[4] - world_[1]), 330.0, 1e-3);
  EXPECT_NEAR(std::hypot(world_[15] - world_[0], world_[16] - world_[1]), 220.0, 1e-3);
}

// With both small boards beyond the long board the three tries find them
// from the ten-point pose and the eighteen points solve.
TEST_F(Layout23Site, SmallBoardsBeyondGiveEighteenPoints) {
  Build(false, true);
  ASSERT_EQ(CalibFind_Layout23(lut_, 3, &img_.m, 0, 0, points_.data()), 18u);
  EXPECT_EQ(18, lut_->cornerCounts[2]);
  const PointErrors e = ErrorsInOrder(points_, truth_);
  std::printf("[errors] layout 23 camera 3, 18 points: max %.2f px, mean %.2f px\n", e.max, e.mean);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
}

TEST_F(Layout23Site, NoLongBoardGivesZero) {
  Build(true);
  EXPECT_EQ(CalibFind_Layout23(lut_, 3, &img_.m, 0, 0, points_.data()), 0u);
}

}  // namespace
