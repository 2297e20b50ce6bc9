// The two-board targets of layouts 10 and 12 on a rendered site: a 3 x 3
// square board in each half of the picture of the site's camera at its true
// pose; the eight points come back in the camera's world-point order.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/eight_point_layout_finders.h"
#include "frame/calib_profile.h"
#include "calibration/detect/predicted_target_finders.h"
#include "camera/lut_config_file.h"
#include "detect_scene_helpers.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "toolkit/sampling.h"
#include "testsupport/calibration_site.h"
#include "testsupport/mark_scenes.h"
#include "testsupport/test_lutob.h"

namespace {

constexpr int kMaxPoints = 59;

// Source point of each output position, per camera (the placement order).
const int kOrder[4][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1, 0}, {5, 7, 4, 6, 1, 3, 0, 2}, {2, 0, 3, 1, 6, 4, 7, 5}};

class EightPointTargets : public ::testing::Test {
 protected:
  void SetUp() override {
    for (float& l : gv().presetLimit) l = 5.0f;
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    points_.assign(2 * kMaxPoints, -1.0f);
    world_.assign(3 * kMaxPoints, 0.0f);
  }

  // Boards of 3 x 3 squares of 400 mm left and right ahead of camera 1 or
  // 2, or front and rear beside camera 3; `firstRow` is where the eight
  // world points go (layout 10's second set lies at rows 16..23). hideRight
  // leaves the second board off.
  void Build(int camera, int firstRow, bool hideRight, int mainCols = 0, int mainRows = 0) {
    const CalibrationSite site = CalibrationSite_Compact(2);
    MarkScene scene;
    scene.cam = CalibrationSite_Camera(site, camera);
    const float s[3] = {1, 0, 0}, t[3] = {0, 1, 0};
    memcpy(scene.axisS, s, sizeof s);
    memcpy(scene.axisT, t, sizeof t);
    const float y0 = camera == 1 ? -3900.0f : 2700.0f;
    // Top-left corners of the two boards on the floor.
    float at[2][2] = {{-1700, y0}, {500, y0}};
    if (camera == 3) {
      const float side[2][2] = {{-2500, -2100}, {-2500, 500}};
      memcpy(at, side, sizeof at);
    }
    std::vector<float> st[2];
    MarkScene probe = scene;
    for (int b = 0; b < 2; ++b) {
      st[b] = MarkScene_AddChessboard(&probe, at[b][0], at[b][1], 3, 3, 400, 30);
      if (b == 0 || !hideRight) MarkScene_AddChessboard(&scene, at[b][0], at[b][1], 3, 3, 400, 30);
    }
    // Per picture half (left, right), the corners in the detector's order:
    // row by row from the one nearest the picture's origin.
    std::vector<float> st8, img8;
    for (int b = 0; b < 2; ++b) {
      std::vector<float> img;
      ASSERT_TRUE(MarkScene_ProjectAll(scene, st[b], &img));
      st8.insert(st8.end(), st[b].begin(), st[b].end());
      img8.insert(img8.end(), img.begin(), img.end());
    }
    if (img8[1] > img8[9]) {  // board 1 in the left half
      std::rotate(st8.begin(), st8.begin() + 8, st8.end());
      std::rotate(img8.begin(), img8.begin() + 8, img8.end());
    }
    std::vector<float> srcSt(16), srcImg(16);
    for (int b = 0; b < 2; ++b) {
      std::vector<float> ordered(img8.begin() + 8 * b, img8.begin() + 8 * b + 8);
      ChessCorners_NormaliseOrientation(ordered.data(), 3, 3);
      for (int i = 0; i < 4; ++i) {
        int best = 0;
        double bd = 1e30;
        for (int k = 0; k < 4; ++k) {
          const double d = std::hypot(ordered[2 * i] - img8[8 * b + 2 * k], ordered[2 * i + 1] - img8[8 * b + 2 * k + 1]);
          if (d < bd) bd = d, best = k;
        }
        for (int j = 0; j < 2; ++j) {
          srcSt[8 * b + 2 * i + j] = st8[8 * b + 2 * best + j];
          srcImg[8 * b + 2 * i + j] = img8[8 * b + 2 * best + j];
        }
      }
    }
    truth_.assign(16, 0.0f);
    for (int i = 0; i < 8; ++i) {
      const int k = kOrder[camera - 1][i];
      truth_[2 * i] = srcImg[2 * k];
      truth_[2 * i + 1] = srcImg[2 * k + 1];
      world_[3 * (firstRow + i)] = srcSt[2 * k];
      world_[3 * (firstRow + i) + 1] = srcSt[2 * k + 1];
    }
    if (mainCols > 0) {
      // Layout 10's own board of 150 mm squares between the two small ones;
      // its corners in the detector's order take rows 0 .. firstRow - 1.
      const std::vector<float> st = MarkScene_AddChessboard(&scene, -75.0f * mainCols, -3500, mainCols, mainRows, 150, 30);
      std::vector<float> img, ordered;
      ASSERT_TRUE(MarkScene_ProjectAll(scene, st, &img));
      ordered = img;
      ChessCorners_NormaliseOrientation(ordered.data(), mainCols, mainRows);
      std::vector<float> mainTruth;
      for (size_t i = 0; i < ordered.size() / 2; ++i) {
        size_t best = 0;
        double bd = 1e30;
        for (size_t k = 0; k < img.size() / 2; ++k) {
          const double d = std::hypot(ordered[2 * i] - img[2 * k], ordered[2 * i + 1] - img[2 * k + 1]);
          if (d < bd) bd = d, best = k;
        }
        mainTruth.push_back(img[2 * best]);
        mainTruth.push_back(img[2 * best + 1]);
        world_[3 * i] = st[2 * best];
        world_[3 * i + 1] = st[2 * best + 1];
      }
      truth_.insert(truth_.begin(), mainTruth.begin(), mainTruth.end());
    }
    // The picture depends on the boards alone (the noise is seeded): each
    // is rendered once for the suite.
    static std::map<std::array<int, 4>, FloatImage> pictures;
    FloatImage& pic = pictures[{camera, hideRight ? 1 : 0, mainCols, mainRows}];
    if (pic.data.empty()) {
      RenderOptions o;
      o.blurSigma = 0.6f;
      o.noiseSigma = 1.5f;
      MarkScene_Render(scene, o, &pic);
    }
    img_.data = pic.data;
    img_.m = pic.m;
    img_.m.data = img_.data.data();
    const int c = camera - 1;
    lut_->cameraImages[c] = &img_.m;
    lut_->imagePoints[c] = points_.data();
    lut_->worldPoints[c] = world_.data();
  }

  LensModelScenes scenes_;
  TestLutob lut_;
  FloatImage img_;
  std::vector<float> points_, world_, truth_;
};

// The 900-column copy costs the board corners up to half a copy pixel
// (1280 / 900 camera pixels) before the corner refiner; the quad detector
// refines on the copy, so the error stays near its sub-pixel step times
// the scale.
TEST_F(EightPointTargets, Layout12HalvesInTheCameraOrder) {
  for (int camera : {1, 2}) {
    SCOPED_TRACE("camera " + std::to_string(camera));
    Build(camera, 0, false);
    ASSERT_EQ(CalibFind_Layout12(lut_, static_cast<uint32_t>(camera), &img_.m, 0, 0, points_.data()), 8u);
    const PointErrors e = ErrorsInOrder(points_, truth_);
    EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
    TearDown();
    SetUp();
  }
}

// Camera 3 with bit 3 of word 66: the search runs on the turned picture and
// the points come back in the camera's own orientation. The order of an
// oblique small board in the turned picture is the detector's: it is read
// off a clean turned copy and the world points follow it.
TEST_F(EightPointTargets, Layout12OnTheTurnedPictureComesBackUnturned) {
  Build(3, 0, false);
  std::vector<float> turnedData(img_.data.size());
  Matrix turned{1280, 720, turnedData.data()};
  Image_Rotate(&img_.m, &turned, 3.14159265358979f);
  // The points are placed before the solve, which may fail in this order.
  CalibFind_Layout12Halves(lut_, 3, &turned, 0, 0, points_.data());
  const std::vector<float> unturnedTruth = truth_, world = world_;
  for (int i = 0; i < 8; ++i) {
    const float r = 719.0f - points_[2 * i], c = 1279.0f - points_[2 * i + 1];
    int best = 0;
    double bd = 1e30;
    for (int k = 0; k < 8; ++k) {
      const double d = std::hypot(r - unturnedTruth[2 * k], c - unturnedTruth[2 * k + 1]);
      if (d < bd) bd = d, best = k;
    }
    ASSERT_LT(bd, 1.5);
    truth_[2 * i] = unturnedTruth[2 * best];
    truth_[2 * i + 1] = unturnedTruth[2 * best + 1];
    world_[3 * i] = world[3 * best];
    world_[3 * i + 1] = world[3 * best + 1];
  }
  gv().JDSpecial = 8;
  points_.assign(points_.size(), -1.0f);
  ASSERT_EQ(CalibFind_Layout12(lut_, 3, &img_.m, 0, 0, points_.data()), 8u);
  const PointErrors e = ErrorsInOrder(points_, truth_);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
}

// Layout 10 with word 34 set goes straight to the halves, whose eight world
// points (rows 16..23) replace rows 0..7 and turn the camera's second
// point set on.
TEST_F(EightPointTargets, Layout10HalvesTakeTheSecondPointSet) {
  gv().targetDimB = 1;
  Build(1, 16, false);
  ASSERT_EQ(CalibFind_Layout10(lut_, 1, &img_.m, 9, 7, points_.data()), 8u);
  const PointErrors e = ErrorsInOrder(points_, truth_);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
  for (int i = 0; i < 24; ++i) EXPECT_EQ(world_[i], world_[48 + i]);
  EXPECT_EQ(lut_->singleFitFlags[0], 1);
}

// Layout 10's full road: its own board, then the small board found in a
// top view placed by that board's pose and the other small board as a
// pattern; n + 8 points in world-point order, and the point set solves.
TEST_F(EightPointTargets, Layout10FullBoardAndBothSmallBoards) {
  constexpr int kCols = 5, kRows = 4, kN = (kCols - 1) * (kRows - 1);
  Build(1, kN, false, kCols, kRows);
  lut_->singleFitFlags[0] = 1;
  ASSERT_EQ(CalibFind_Layout10(lut_, 1, &img_.m, kCols, kRows, points_.data()), static_cast<uint32_t>(kN + 8));
  EXPECT_EQ(kN + 8, lut_->cornerCounts[0]);
  EXPECT_EQ(0, lut_->singleFitFlags[0]);
  const PointErrors e = ErrorsInOrder(points_, truth_);
  std::printf("[errors] layout 10 full road: max %.2f px, mean %.2f px\n", e.max, e.mean);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
}

// Layout 10 with its board found but no pose to place the top view by (the
// board's world points are mirrored, so no try solves): after three tries
// the halves take over with the second point set over rows 0..7.
TEST_F(EightPointTargets, Layout10WithoutTopViewCornersFallsBackToTheHalves) {
  constexpr int kCols = 5, kRows = 5, kN = 16;
  Build(1, kN, false, kCols, kRows);
  for (int i = 0; i < kN; ++i) world_[3 * i] = -world_[3 * i] + 37.0f * static_cast<float>(i % 3);
  const std::vector<float> second(world_.begin() + 3 * kN, world_.begin() + 3 * (kN + 8));
  const std::vector<float> halves(truth_.begin() + 2 * kN, truth_.end());
  ASSERT_EQ(CalibFind_Layout10(lut_, 1, &img_.m, kCols, kRows, points_.data()), 8u);
  EXPECT_EQ(1, lut_->singleFitFlags[0]);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(second[i], world_[i]) << i;
  truth_ = halves;
  const PointErrors e = ErrorsInOrder(points_, truth_);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
}

// The camera's point buffers hold word 31 points: a board whose corners and
// the eight points after them do not fit is not searched, and the halves
// need the world rows 16..23 of their second point set. The buffers here
// are exactly word 31 points long, so a write or read past them is caught.
TEST_F(EightPointTargets, PointBuffersBoundTheLayoutTenRoads) {
  constexpr int kCols = 5, kRows = 4, kN = 12;
  Build(1, kN, false, kCols, kRows);
  struct Case {
    int32_t maxPoints, word34;
    uint32_t expected;
  };
  const Case cases[] = {{kN + 7, 0, 0}, {kN + 8, 0, kN + 8}, {23, 1, 0}, {7, 1, 0}};
  const std::vector<float> world = world_;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "word 31 " << c.maxPoints << " word 34 " << c.word34);
    gv().maxPoints = c.maxPoints;
    gv().targetDimB = c.word34;
    std::vector<float> pts(2 * static_cast<size_t>(c.maxPoints), -1.0f);
    std::vector<float> wld(world.begin(), world.begin() + 3 * c.maxPoints);
    lut_->imagePoints[0] = pts.data();
    lut_->worldPoints[0] = wld.data();
    EXPECT_EQ(c.expected, CalibFind_Layout10(lut_, 1, &img_.m, kCols, kRows, pts.data()));
  }
  // Layout 23's side cameras write eighteen points.
  gv().maxPoints = 17;
  std::vector<float> pts(34, -1.0f), wld(51, 0.0f);
  lut_->imagePoints[2] = pts.data();
  lut_->worldPoints[2] = wld.data();
  EXPECT_EQ(0u, CalibFind_Layout23(lut_, 3, &img_.m, 0, 0, pts.data()));
  lut_->worldPoints[0] = lut_->imagePoints[0] = nullptr;
  lut_->worldPoints[2] = lut_->imagePoints[2] = nullptr;
}

// Layout 12's own road: the profile's eight predicted points give a first
// pose, the first board is found in a top view around world point 0 and the
// second as a pattern around world point 4, and both again from the pose
// they solve. The predictions are off by several pixels; the found points
// are not. Without the second board nothing is returned.
TEST_F(EightPointTargets, Layout12PartFromThePredictedPoints) {
  struct Case {
    bool hideRight;
    uint32_t expected;
  };
  for (const Case& c : {Case{false, 8u}, Case{true, 0u}}) {
    SCOPED_TRACE(c.hideRight);
    Build(1, 0, c.hideRight);
    CalibProfileRecord& profile = CalibProfile();
    profile = CalibProfileRecord{};
    for (int i = 0; i < 8; ++i) {
      // Predictions 6 and 5 px off leave eight points whose scale search
      // ends on its grid's edge; the fit then gives no first pose.
      const float shift = (i % 2 == 0 ? 4.0f : -3.0f);
      profile.SetF(2 + i, truth_[2 * i + 1] + shift);      // column
      profile.SetF(2 + 8 + i, truth_[2 * i] - shift / 2);  // row
    }
    points_.assign(points_.size(), -1.0f);
    ASSERT_EQ(c.expected, CalibFind_Layout12Part(lut_, 1, &img_.m, 0, 0, points_.data()));
    EXPECT_EQ(8, lut_->cornerCounts[0]);
    if (c.expected == 8) {
      const PointErrors e = ErrorsInOrder(points_, truth_);
      std::printf("[errors] layout 12 from predictions: max %.2f px, mean %.2f px\n", e.max, e.mean);
      EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
    }
    profile = CalibProfileRecord{};
    TearDown();
    SetUp();
  }
}

TEST_F(EightPointTargets, AHiddenHalfGivesZero) {
  Build(1, 0, true);
  EXPECT_EQ(CalibFind_Layout12Halves(lut_, 1, &img_.m, 0, 0, points_.data()), 0u);
  gv().targetDimB = 1;
  EXPECT_EQ(CalibFind_Layout10(lut_, 1, &img_.m, 9, 7, points_.data()), 0u);
}

}  // namespace
