// Corner tracker: its parameter file, its distance filter, and its
// per-frame step on a rendered marker pair.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <vector>

#include "calibration/solve/corner_tracker.h"
#include "solve_test_support.h"
#include "testsupport/am_marker_scene.h"
#include "testsupport/config_state.h"
#include "testsupport/pose_scene.h"
#include "toolkit/bmp_file.h"

namespace {

CornerTracker Sample() {
  CornerTracker t;
  t.width = 1280;
  t.height = 720;
  t.tag = 77;
  t.a = 100;
  t.b = 300;
  t.h = 812.5f;
  for (int i = 0; i < 8; ++i) {
    t.image[i][0] = 10.0f + i;
    t.image[i][1] = 20.0f + i;
    for (int k = 0; k < 3; ++k) t.world[i][k] = 100.0f * i + k;
  }
  for (int i = 0; i < 9; ++i) t.K[i] = 1.5f * i;
  for (int i = 0; i < 8; ++i) t.D[i] = 2.5f * i;
  t.R[1] = 0.25f;
  t.T[2] = 812.5f;
  return t;
}

TEST(CornerTracker, ParameterFileRoundTrips) {
  ScopedConfigState state;
  const std::string path = state.Path("tracker.krv");
  const CornerTracker t = Sample();
  ASSERT_TRUE(CornerTracker_Save(t, path.c_str()));
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  EXPECT_EQ(280, static_cast<int>(in.tellg()));
  CornerTracker* back = CornerTracker_Create(path.c_str());
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(t.width, back->width);
  EXPECT_EQ(t.height, back->height);
  EXPECT_EQ(t.tag, back->tag);
  EXPECT_EQ(t.a, back->a);
  EXPECT_EQ(t.b, back->b);
  EXPECT_EQ(t.h, back->h);
  EXPECT_EQ(0, memcmp(t.image, back->image, sizeof t.image));
  EXPECT_EQ(0, memcmp(t.world, back->world, sizeof t.world));
  EXPECT_EQ(0, memcmp(t.K, back->K, sizeof t.K));
  EXPECT_EQ(0, memcmp(t.D, back->D, sizeof t.D));
  EXPECT_EQ(0, memcmp(t.R, back->R, sizeof t.R));
  EXPECT_EQ(0, memcmp(t.T, back->T, sizeof t.T));
  EXPECT_EQ(1000, back->failures);
  EXPECT_EQ(0.0f, back->m);
  // No measurement yet: no result and no mapping.
  float m, x, y, a;
  EXPECT_EQ(-1, CornerTracker_GetResult(back, &m, &x, &y, &a));
  EXPECT_EQ(-1, CornerTracker_ImageToGround(back, 1, &x, &y, &m, &a));
  EXPECT_EQ(0, CornerTracker_Release(back));
}

TEST(CornerTracker, FilesOfAnotherKindGiveNoObject) {
  ScopedConfigState state;
  const std::string path = state.Path("tracker.krv");
  ASSERT_TRUE(CornerTracker_Save(Sample(), path.c_str()));
  std::vector<char> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto write = [&](const std::vector<char>& b) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(b.data(), static_cast<std::streamsize>(b.size()));
  };
  std::vector<char> magic = bytes;
  magic[0] ^= 1;
  write(magic);
  EXPECT_EQ(nullptr, CornerTracker_Create(path.c_str()));
  write(std::vector<char>(bytes.begin(), bytes.end() - 4));
  EXPECT_EQ(nullptr, CornerTracker_Create(path.c_str()));
  EXPECT_EQ(nullptr, CornerTracker_Create(state.Path("missing.krv").c_str()));
}

TEST(CornerTracker, DistanceFilter) {
  struct Case {
    float first, second;
    int32_t tracking;
    int32_t valid;
    float m;  // m before: 42
  } cases[] = {
      {120, 400, 0, 0, 42},  // more than 250 apart
      {120, 300, 0, 1, 300},  // within 250: the larger
      {300, 120, 0, 1, 300},
      {120, 370, 0, 1, 370},  // exactly 250 apart
      {5, 8, 0, 0, 42},       // both below 10
      {5, 300, 0, 0, 42},     // one below 10: no reading
      {120, 300, 1, 0, 42},   // tracking keeps m
  };
  for (const Case& c : cases) {
    CornerTracker t;
    t.m = 42.0f;
    t.valid = 1;
    t.tracking = c.tracking;
    CornerTracker_DistanceFilter(&t, c.first, c.second);
    EXPECT_EQ(c.valid, t.valid) << c.first << " " << c.second;
    EXPECT_EQ(c.m, t.m) << c.first << " " << c.second;
  }
}

// The marker pair seen from above (1000 mm up, 300 mm off) and large enough
// that the followed quads, whole pixels in the 640 x 360 picture, keep the
// follow's side ratio of 0.9; the tracker is calibrated on the still
// picture of the unturned pair.
class CornerTrackerStep : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallLensTables(state_);
    scene_ = AMMarkerScene_Make(TruthIntrinsics(3, 1), 300.0f, 1000.0f);
    scene_.a = 160;  // some 27 px a side in the 640 x 360 picture
    const std::string bmp = state_.Path("still.bmp");
    path_ = state_.Path("tracker.krv");
    const std::vector<uint8_t> still = AMMarkerScene_Render(scene_, 0.0f);
    ASSERT_EQ(1, Bmp_SaveGrayU8(scene_.width, scene_.height, scene_.width, still.data(), bmp.c_str()));
    ASSERT_EQ(0, CornerTracker_Calibrate(bmp.c_str(), 5u, scene_.a, scene_.b, path_.c_str()));
  }

  int32_t Feed(CornerTracker* t, const AMMarkerScene& scene, float angle, bool visible = true) {
    const std::vector<uint8_t> frame = AMMarkerScene_Render(scene, angle, visible);
    return CornerTracker_Step(t, frame.data(), scene.width);
  }

  ScopedConfigState state_;
  AMMarkerScene scene_;
  std::string path_;
};

// The step's states on rendered frames: a found pair turns tracking on and
// clears the failures, m comes from the solved depth; a frame without the
// markers loses them (1, tracking off) and keeps the result until more than
// five frames failed; the next frame with them finds them again.
TEST_F(CornerTrackerStep, FindsLosesAndFindsThePairAgain) {
  CornerTracker* t = CornerTracker_Create(path_.c_str());
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(1280, t->width);
  EXPECT_EQ(720, t->height);
  // The reference value and depth are the calibration's depth.
  EXPECT_EQ(t->T[2], t->h);
  EXPECT_EQ(t->T[2], t->refDepth);
  float m, x, y, angle;
  EXPECT_EQ(-1, CornerTracker_GetResult(t, &m, &x, &y, &angle));
  // First frame: the whole-picture search. Its first fit frees the lens
  // (here some 25 % too long a focal length and depth); the pose refitted
  // with the calibrated lens gives the calibration's depth back.
  ASSERT_EQ(0, Feed(t, scene_, 0.0f));
  EXPECT_EQ(1, t->tracking);
  EXPECT_EQ(0, t->failures);
  EXPECT_FLOAT_EQ(t->t[2] / t->refDepth * t->h, t->m);
  EXPECT_NEAR(t->h, t->m, 0.01f * t->h);
  // Then the quads are followed (not the search window's own outline) and
  // the pose refitted: the pair turns about its centre, the camera's depth
  // stays.
  for (float deg : {0.0f, 2.0f, 4.0f}) {
    ASSERT_EQ(0, Feed(t, scene_, deg * 3.14159265f / 180.0f)) << deg;
    EXPECT_EQ(1, t->tracking) << deg;
    EXPECT_EQ(0, t->failures) << deg;
    EXPECT_NEAR(t->h, t->m, 0.01f * t->h) << deg;
  }
  // Plain dark squares: only the follow sees them (the whole-picture search
  // wants the light square inside).
  AMMarkerScene plain = scene_;
  plain.inner = 0.0f;
  EXPECT_EQ(0, Feed(t, plain, 0.0f));
  EXPECT_EQ(1, t->tracking);
  EXPECT_NEAR(t->h, t->m, 0.01f * t->h);
  ASSERT_EQ(0, CornerTracker_GetResult(t, &m, &x, &y, &angle));
  EXPECT_EQ(t->m, m);
  const float before = t->m;
  EXPECT_EQ(1, Feed(t, scene_, 0.0f, false));
  EXPECT_EQ(0, t->tracking);
  EXPECT_EQ(before, t->m);
  EXPECT_EQ(0, CornerTracker_GetResult(t, &m, &x, &y, &angle));
  EXPECT_EQ(before, m);
  for (int i = 2; i <= 6; ++i) EXPECT_EQ(1, Feed(t, scene_, 0.0f, false));
  EXPECT_EQ(6, t->failures);
  EXPECT_EQ(-1, CornerTracker_GetResult(t, &m, &x, &y, &angle));
  EXPECT_EQ(0, Feed(t, scene_, 0.0f));
  EXPECT_EQ(1, t->tracking);
  EXPECT_EQ(0, t->failures);
  EXPECT_EQ(0, CornerTracker_GetResult(t, &m, &x, &y, &angle));
  // Calls without a frame, or with a stride shorter than a row, do nothing.
  EXPECT_EQ(2, CornerTracker_Step(t, nullptr, t->width));
  std::vector<uint8_t> row(static_cast<size_t>(t->width) * t->height, 170);
  EXPECT_EQ(2, CornerTracker_Step(t, row.data(), t->width - 1));
  EXPECT_EQ(0, CornerTracker_Release(t));
}

}  // namespace
