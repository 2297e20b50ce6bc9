// Layout 24 on a rendered site: the checker-circle mark in the camera's
// profile box gives the first pose, then three stages of checker crosses on
// the floor; the last eight marks come back with their world points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "camera/lut_config_file.h"
#include "detect_scene_helpers.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/calibration_site.h"
#include "testsupport/mark_scenes.h"
#include "testsupport/test_lutob.h"

namespace {

constexpr int kMaxPoints = 59;

class Layout24Site : public ::testing::Test {
 protected:
  void SetUp() override {
    gv().CalibLayoutCode = 24;
    for (float& l : gv().presetLimit) l = 5.0f;
    saved_ = CalibProfile();
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    points_.assign(2 * kMaxPoints, -1.0f);
    world_.assign(3 * kMaxPoints, 0.0f);
  }
  void TearDown() override {
    CalibProfile() = saved_;
  }

  // Camera 1's site: the four round marks about (0, -3000) and twelve
  // checker crosses further out (marks 4..15); hideCircles leaves the round
  // marks off, hideMark one cross.
  void Build(bool hideCircles, int hideMark = -1) {
    const CalibrationSite site = CalibrationSite_Compact(2);
    MarkScene scene;
    scene.cam = CalibrationSite_Camera(site, 1);
    const float s[3] = {1, 0, 0}, t[3] = {0, 1, 0};
    memcpy(scene.axisS, s, sizeof s);
    memcpy(scene.axisT, t, sizeof t);
    scene.ground = 128;
    // Round marks: in the picture upper-left, upper-right, lower-left,
    // lower-right, the upper-left and lower-right ones dark.
    std::vector<float> disc = {-220, -3220, 220, -3220, -220, -2780, 220, -2780}, img;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, disc, &img));
    std::vector<int> idx = {0, 1, 2, 3};
    std::sort(idx.begin(), idx.end(), [&](int a, int b) { return img[2 * a] < img[2 * b]; });
    if (img[2 * idx[0] + 1] > img[2 * idx[1] + 1]) std::swap(idx[0], idx[1]);
    if (img[2 * idx[2] + 1] > img[2 * idx[3] + 1]) std::swap(idx[2], idx[3]);
    std::vector<float> world;
    float top = 1e9f, bottom = -1e9f, left = 1e9f, right = -1e9f;
    for (int i = 0; i < 4; ++i) {
      const int k = idx[i];
      if (!hideCircles) MarkScene_AddDisc(&scene, disc[2 * k], disc[2 * k + 1], 90, (i == 0 || i == 3) ? 30 : 230);
      world.push_back(disc[2 * k]);
      world.push_back(disc[2 * k + 1]);
      top = std::min(top, img[2 * k]);
      bottom = std::max(bottom, img[2 * k]);
      left = std::min(left, img[2 * k + 1]);
      right = std::max(right, img[2 * k + 1]);
    }
    // Camera 1's profile box around them (values 0..3 at words 2..5).
    CalibProfile().SetI(0, 24);
    CalibProfile().SetF(2, left - 70);
    CalibProfile().SetF(3, top - 70);
    CalibProfile().SetF(4, right + 70);
    CalibProfile().SetF(5, bottom + 70);
    for (float y : {-2700.0f, -3300.0f, -3900.0f})
      for (float x : {-1500.0f, -900.0f, 900.0f, 1500.0f}) {
        if (static_cast<int>(world.size() / 2) != hideMark) MarkScene_AddChecker(&scene, x, y, 150, false, 30);
        world.push_back(x);
        world.push_back(y);
      }
    ASSERT_TRUE(MarkScene_ProjectAll(scene, world, &truth_));
    for (size_t i = 0; i < world.size() / 2; ++i) {
      world_[3 * i] = world[2 * i];
      world_[3 * i + 1] = world[2 * i + 1];
    }
    RenderOptions o;
    o.blurSigma = 0.6f;
    o.noiseSigma = 1.5f;
    MarkScene_Render(scene, o, &img_);
    lut_->cameraImages[0] = &img_.m;
    lut_->imagePoints[0] = points_.data();
    lut_->worldPoints[0] = world_.data();
  }

  LensModelScenes scenes_;
  CalibProfileRecord saved_{};
  TestLutob lut_;
  FloatImage img_;
  std::vector<float> points_, world_, truth_;
};

// The crosses come from top views at 8 mm a pixel and more, about 2 camera
// pixels a view pixel here; the template corner keeps them within 1 px.
TEST_F(Layout24Site, TheLastEightMarksComeBackWithTheirWorldPoints) {
  Build(false);
  const std::vector<float> world(world_.begin(), world_.begin() + 48);
  ASSERT_EQ(CalibFind_Layout24(lut_, 1, &img_.m, 0, 0, points_.data()), 8u);
  const std::vector<float> truth(truth_.begin() + 16, truth_.begin() + 32);
  const PointErrors e = ErrorsInOrder(points_, truth);
  EXPECT_LT(e.max, 1.0) << "mean " << e.mean;
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(world_[3 * i], world[3 * (8 + i)]);
    EXPECT_EQ(world_[3 * i + 1], world[3 * (8 + i) + 1]);
  }
}

TEST_F(Layout24Site, WithoutTheRoundMarksNothingIsFound) {
  Build(true);
  EXPECT_EQ(CalibFind_Layout24(lut_, 1, &img_.m, 0, 0, points_.data()), 0u);
}

// A missing cross ends the chain at the stage before it, after one more
// search from a re-solved pose; the last mark is a single corner.
TEST_F(Layout24Site, AMissingMarkKeepsTheStagesBeforeIt) {
  struct Case {
    int mark;
    uint32_t expected;
  };
  for (const Case& c : {Case{5, 4u}, Case{10, 8u}, Case{13, 12u}, Case{15, 12u}}) {
    SCOPED_TRACE(c.mark);
    Build(false, c.mark);
    EXPECT_EQ(CalibFind_Layout24(lut_, 1, &img_.m, 0, 0, points_.data()), c.expected);
    TearDown();
    SetUp();
  }
}

}  // namespace

namespace {

// Profile boxes reaching past the picture are cut to it: one running off
// the top-left corner still holds the round marks; one wholly outside finds
// nothing.
TEST_F(Layout24Site, ProfileBoxesPastThePictureAreCutToIt) {
  Build(false);
  const float right = CalibProfile().F(4), bottom = CalibProfile().F(5);
  CalibProfile().SetF(2, -4000.0f);
  CalibProfile().SetF(3, -3000.0f);
  EXPECT_EQ(CalibFind_Layout24(lut_, 1, &img_.m, 0, 0, points_.data()), 8u);
  CalibProfile().SetF(2, 5000.0f);
  CalibProfile().SetF(3, 4000.0f);
  CalibProfile().SetF(4, 5000.0f + right);
  CalibProfile().SetF(5, 4000.0f + bottom);
  EXPECT_EQ(CalibFind_Layout24(lut_, 1, &img_.m, 0, 0, points_.data()), 0u);
}

}  // namespace
