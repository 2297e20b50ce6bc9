// Pose refinement of layouts 11 and 16: start pose from the profile, the fit
// mode per camera and point count, the measures and the step search.
#include "calibration/solve/pose_refine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "frame/calib_profile.h"
#include "solve_test_support.h"

namespace {

class PoseRefineTest : public ::testing::Test {
 protected:
  ScopedConfigState state;
  CalibProfileRecord savedProfile = CalibProfile();
  PoseScene scene;
  LutConfig cfg = OneModelConfig(3);
  std::vector<float> xy;
  float k[9] = {}, d[8] = {}, r[3] = {}, t[3] = {};
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  Matrix W{}, I{};
  std::vector<float> grey;
  Matrix image{};

  void SetUp() override {
    InstallLensTables(state);
    scene = PoseScene_Make(TruthIntrinsics(3), 1000, 900, 5);
    xy.resize(static_cast<size_t>(2 * scene.count));
    for (int i = 0; i < scene.count; ++i) {
      xy[2 * i] = scene.image[2 * i + 1];
      xy[2 * i + 1] = scene.image[2 * i];
    }
    W = Matrix{3, scene.count, scene.world.data()};
    I = Matrix{2, scene.count, xy.data()};
    UniformImage(0.5f);
  }
  void TearDown() override { CalibProfile() = savedProfile; }

  void UniformImage(float value) {
    grey.assign(static_cast<size_t>(scene.width) * scene.height, value);
    image = Matrix{scene.width, scene.height, grey.data()};
  }
  void RenderedImage() {
    RenderOptions opt;
    opt.width = scene.width;
    opt.height = scene.height;
    opt.supersample = 2;
    const std::vector<uint8_t> pix = Scene_RenderGrey(scene.cam, scene.board, opt);
    grey.resize(pix.size());
    for (size_t i = 0; i < pix.size(); ++i) grey[i] = pix[i] / 255.0f;
    image = Matrix{scene.width, scene.height, grey.data()};
  }
  // Profile start pose of `camera`: the truth moved by (dx, dy, dz).
  void SetStartPose(int camera, float dx, float dy, float dz) {
    CalibProfileRecord& p = CalibProfile();
    const int c = camera - 1;
    for (int i = 0; i < 3; ++i) p.SetF(2 + 3 * c + i, scene.cam.r[i]);
    p.SetF(14 + 3 * c, scene.cam.T[0] + dx);
    p.SetF(15 + 3 * c, scene.cam.T[1] + dy);
    p.SetF(16 + 3 * c, scene.cam.T[2] + dz);
  }
  float StartT(int camera, int i) const { return CalibProfile().F(14 + 3 * (camera - 1) + i); }
  // The solvers fit the point matrices whole; count only steers them (as
  // CalibrateCamera hands them count rows).
  float RefineA(int camera, int count, int candidate, int focusFlag = 0) {
    Matrix Wn{3, count, W.data}, In{2, count, I.data};
    return Calib_RefinePoseA(&cfg, scene.width, scene.height, &image, camera, &K, &D, &R, &T, &Wn, &In, count, 0,
                             candidate, focusFlag);
  }
  float RefineB(int camera, int count, int candidate) {
    Matrix Wn{3, count, W.data}, In{2, count, I.data};
    return Calib_RefinePoseB(&cfg, scene.width, scene.height, &image, camera, &K, &D, &R, &T, &Wn, &In, count, 0,
                             candidate);
  }
  // The fit a solver should make: from the profile's start pose (moved by
  // the centre offset dx, dy), with the camera's model and `mode`.
  struct Fit {
    float err, k[9], d[8], r[3], t[3];
  };
  Fit DirectFit(int camera, int count, int mode, float dx = 0.0f, float dy = 0.0f) {
    Fit f{};
    const int c = camera - 1;
    for (int i = 0; i < 3; ++i) {
      f.r[i] = CalibProfile().F(2 + 3 * c + i);
      f.t[i] = CalibProfile().F(14 + 3 * c + i);
    }
    f.t[0] -= dx;
    f.t[1] -= dy;
    Matrix Kf{3, 3, f.k}, Df{1, 8, f.d}, Rf{1, 3, f.r}, Tf{1, 3, f.t};
    Matrix Wn{3, count, W.data}, In{2, count, I.data};
    f.err = CameraModel_Calibrate(scene.width, scene.height, static_cast<int32_t>(cfg.model[c]), &Wn, &In, &Kf, &Df,
                                  &Rf, kCalibFitEpsilon, &Tf, mode, 100, 0, cfg.lensSlot[c]);
    return f;
  }
  void ExpectSameFit(const Fit& f, float err, const std::string& what) {
    EXPECT_EQ(err, f.err) << what;
    EXPECT_EQ(memcmp(k, f.k, sizeof k), 0) << what;
    EXPECT_EQ(memcmp(d, f.d, sizeof d), 0) << what;
    EXPECT_EQ(memcmp(r, f.r, sizeof r), 0) << what;
    EXPECT_EQ(memcmp(t, f.t, sizeof t), 0) << what;
  }
  void ClearWork() {
    memset(k, 0, sizeof k);
    memset(d, 0, sizeof d);
    memset(r, 0, sizeof r);
    memset(t, 0, sizeof t);
  }
};


TEST_F(PoseRefineTest, NullImageReturns999AndTouchesNothing) {
  std::fill(t, t + 3, 4.0f);
  std::fill(k, k + 9, 4.0f);
  const std::vector<float> before(t, t + 3);
  EXPECT_EQ(Calib_RefinePoseA(&cfg, 1280, 720, nullptr, 2, &K, &D, &R, &T, &W, &I, 48, 0, 0, 1), 999.0f);
  EXPECT_EQ(Calib_RefinePoseB(&cfg, 1280, 720, nullptr, 3, &K, &D, &R, &T, &W, &I, 4, 0, 0), 999.0f);
  EXPECT_EQ(std::vector<float>(t, t + 3), before);
  for (float v : k) EXPECT_EQ(v, 4.0f);
}

// Start pose from the profile less the vehicle centre offset of the
// reference lines; camera 1 of layout 11 fits with mode 6 as a candidate and
// in the final solve (here through lens model 2, whose restricted fits
// refine from the given pose).
TEST_F(PoseRefineTest, LayoutElevenCameraOneStartsFromTheProfileWithModeSix) {
  cfg = OneModelConfig(2);
  SetStartPose(1, 30, -20, 15);
  GlobalVariables& g = gv();
  g.place3 = 1000;  // front
  g.place4 = 1300;  // rear
  g.place5 = 800;   // left
  g.place6 = 900;   // right
  g.f20_23[1] = 40;
  g.f20_23[3] = 20;
  const float dx = ((900 - 20) - (800 - 0)) / 2.0f, dy = ((1300 - 40) - (1000 - 0)) / 2.0f;
  const Fit expected = DirectFit(1, 48, 6, dx, dy);
  for (int candidate : {1, 0}) {
    ClearWork();
    ExpectSameFit(expected, RefineA(1, 48, candidate, 1), candidate ? "candidate" : "final");
  }
  EXPECT_EQ(LensTable_Current()->scaleX, 345.0f);  // focusFlag 1: camera 1's fixed focal lengths
  EXPECT_EQ(LensTable_Current()->scaleY, 345.0f);
}

TEST_F(PoseRefineTest, FitModeFollowsLayoutCameraAndPointCount) {
  struct Case {
    int layout, camera, count, candidate, mode;
  } cases[] = {{16, 1, 9, 1, 0},  {16, 1, 8, 1, 7},  {16, 2, 9, 1, 0},  {16, 3, 13, 1, 0}, {16, 3, 12, 1, 8},
               {16, 4, 12, 1, 8}, {16, 2, 6, 0, 0},  {16, 4, 5, 0, 0},  {11, 1, 48, 1, 6}, {11, 2, 48, 1, 7},
               {11, 4, 48, 1, 7}, {11, 1, 48, 0, 6}};
  for (const Case& c : cases) {
    SetStartPose(c.camera, 25, 25, 25);
    ClearWork();
    const float err =
        c.layout == 16 ? RefineB(c.camera, c.count, c.candidate) : RefineA(c.camera, c.count, c.candidate);
    const std::string what = "layout " + std::to_string(c.layout) + " camera " + std::to_string(c.camera) +
                             " count " + std::to_string(c.count) + " candidate " + std::to_string(c.candidate);
    ExpectSameFit(DirectFit(c.camera, c.count, c.mode), err, what);
    // The restricted modes hold T.z (7), T.x (8) or all of T (6) at the start.
    if (c.mode == 6 || c.mode == 7) {
      EXPECT_EQ(t[2], StartT(c.camera, 2)) << what;
    }
    if (c.mode == 6 || c.mode == 8) {
      EXPECT_EQ(t[0], StartT(c.camera, 0)) << what;
    }
    if (c.mode == 0) {
      EXPECT_NE(t[2], StartT(c.camera, 2)) << what;
    }
  }
}

TEST_F(PoseRefineTest, SearchWithoutSignChangeEndsSixteenStepsAwayWithoutHalfStep) {
  struct Case {
    int layout, camera, count, focusFlag, component;
  } cases[] = {{16, 1, 5, 0, 2}, {16, 2, 5, 0, 2}, {16, 3, 4, 0, 0}, {16, 4, 4, 0, 0}, {11, 2, 48, 0, 2},
               {11, 2, 48, 1, 2}};
  for (const Case& c : cases) {
    SetStartPose(c.camera, 0, 0, 0);
    ClearWork();
    // A uniform picture has no edge: every lean is 0, the sign never
    // changes, and the final fit holds the component 16 steps of 3 away.
    if (c.layout == 16)
      RefineB(c.camera, c.count, 0);
    else
      RefineA(c.camera, c.count, 0, c.focusFlag);
    EXPECT_EQ(t[c.component], StartT(c.camera, c.component) + 48.0f)
        << "layout " << c.layout << " camera " << c.camera;
  }
}

TEST_F(PoseRefineTest, SpanSearchEndsWithAHalfStepNearTheTruth) {
  for (int camera : {3, 4}) {
    for (float off : {-21.0f, 22.0f}) {
      SetStartPose(camera, 0, 0, off);
      ClearWork();
      const float err = RefineA(camera, 48, 0);
      const float moved = t[2] - StartT(camera, 2);
      printf("[ span search ] camera %d, start %+.0f mm off: T.z moved %+.1f, ends %+.2f mm from the truth, "
             "error %.4f px\n",
             camera, off, moved, t[2] - scene.cam.T[2], err);
      EXPECT_EQ(std::fmod(std::fabs(moved), 4.0f), 2.0f) << camera << " " << off;
      EXPECT_LE(std::fabs(t[2] - scene.cam.T[2]), 4.0f) << camera << " " << off;
    }
  }
}

TEST_F(PoseRefineTest, StepSearchRules) {
  struct Case {
    float start, step;
    int signChangeAt;  // evaluation whose value changes sign; 0: never
    int steps;
    float moved;
  } cases[] = {
      {5.0f, -3.0f, 0, 16, -48.0f},  // never: 16 steps, no half step
      {-1.0f, 3.0f, 0, 16, 48.0f},   {0.0f, 4.0f, 0, 16, 64.0f},
      {5.0f, -3.0f, 4, 4, -10.5f},   // 4 steps, then half a step back
      {-2.0f, 4.0f, 1, 1, 2.0f},     {0.0f, 3.0f, 16, 16, 46.5f},
  };
  for (const Case& c : cases) {
    float t = 100.0f;
    int calls = 0;
    const bool fromAbove = c.start > 0.0f;
    const int32_t steps = Calib_StepSearch(&t, c.start, c.step, [&] {
      ++calls;
      const bool changed = c.signChangeAt != 0 && calls >= c.signChangeAt;
      // Zero counts as "not above" for a search from below.
      return fromAbove ? (changed ? 0.0f : 1.0f) : (changed ? 0.5f : 0.0f);
    });
    EXPECT_EQ(steps, c.steps) << c.start << " " << c.signChangeAt;
    EXPECT_EQ(calls, c.steps);
    EXPECT_EQ(t, 100.0f + c.moved) << c.start << " " << c.signChangeAt;
  }
}

TEST_F(PoseRefineTest, EdgeCrossingOfALine) {
  std::vector<float> line(96, 1.0f);
  float x = 0.0f;
  EXPECT_FALSE(Calib_EdgeCrossing(line.data(), 1, &x));
  for (int i = 40; i < 96; ++i) line[i] = 0.0f;  // bright to dark at 40
  line[40] = 0.25f;
  ASSERT_TRUE(Calib_EdgeCrossing(line.data(), 1, &x));
  float m = 0.0f;
  for (int i = 12; i <= 83; ++i) m += line[i];
  m /= 72.0f;
  EXPECT_FLOAT_EQ(x, 40.0f - (0.25f - m) / (0.25f - 1.0f));
  // Every second element along a column of a 2-wide patch.
  std::vector<float> column(192, 0.0f);
  for (int i = 0; i < 96; ++i) column[2 * i] = line[95 - i];  // dark to bright
  ASSERT_TRUE(Calib_EdgeCrossing(column.data(), 2, &x));
  EXPECT_GT(x, 54.0f);
  EXPECT_LT(x, 57.0f);
}

TEST_F(PoseRefineTest, EdgeLeanMeasures) {
  RenderedImage();
  std::memcpy(k, scene.cam.K, sizeof k);
  std::memcpy(d, scene.cam.D, sizeof d);
  std::memcpy(r, scene.cam.r, sizeof r);
  std::memcpy(t, scene.cam.T, sizeof t);
  float err = -1.0f;
  const float lean3 = Calib_EdgeLeanColumns(scene.width, scene.height, &image, 3, &K, &D, &R, &T, &W, &I, 9, 13, 8,
                                            &err, 0);
  EXPECT_GE(err, 0.0f);
  EXPECT_LT(err, 0.5f);
  // The measure's fit starts from the pose it is given: start camera 4's
  // from the same one.
  std::memcpy(k, scene.cam.K, sizeof k);
  std::memcpy(d, scene.cam.D, sizeof d);
  std::memcpy(r, scene.cam.r, sizeof r);
  std::memcpy(t, scene.cam.T, sizeof t);
  const float lean4 = Calib_EdgeLeanColumns(scene.width, scene.height, &image, 4, &K, &D, &R, &T, &W, &I, 9, 13, 8,
                                            &err, 0);
  EXPECT_EQ(lean4, -lean3);
  // Without any edge both leans are 0.
  UniformImage(0.3f);
  EXPECT_EQ(Calib_EdgeLeanRows(scene.width, scene.height, &image, &K, &D, &R, &T, &W, &I, 3, 4, 7, &err, 0), 0.0f);
  // The span of two points after a fit at the true pose: observed and
  // projected agree, so the offset comes back negated.
  const float span = Calib_SpanDifference(1.5f, scene.width, scene.height, &K, &D, &R, &T, &W, &I, 3, 2, 5, &err, 0);
  EXPECT_NEAR(span, -1.5f, 0.05f);
}

}  // namespace
