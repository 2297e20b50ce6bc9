// CalibrateCamera's acceptance rule, its per-layout changes of the lens
// state, the candidate test through a LUT object, and layout 11's image
// rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "calibration/solve/pose_refine.h"
#include "frame/calib_profile.h"
#include "frame/log.h"
#include "solve_test_support.h"
#include "surround/lutob.h"
#include "testsupport/test_lutob.h"

namespace {

std::mutex gLogMutex;
std::vector<std::string> gLog;
void CaptureLine(const char* line) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gLog.emplace_back(line);
}

class CalibrateCameraTest : public ::testing::Test {
 protected:
  ScopedConfigState state;
  PoseScene scene;
  void SetUp() override {
    InstallLensTables(state);
    gv().CalibLayoutCode = 1;
    for (float& l : gv().presetLimit) l = 5.0f;
    scene = PoseScene_Make(TruthIntrinsics(2), 900, 1000, 10, 0.3f, 3);
    gLog.clear();
    AvmLog_SetSink(CaptureLine);
  }
  void TearDown() override { AvmLog_SetSink(nullptr); }
};

TEST_F(CalibrateCameraTest, ErrorEqualToTheLimitIsAcceptedAboveIsRejected) {
  LutConfig cfg = OneModelConfig(2);
  ASSERT_EQ(SolveScene(&cfg, scene, 1).ret, 0);
  const float err = gv().lastCalibResult[0];
  ASSERT_GT(err, 0.1f);  // the noise leaves a residual
  gv().presetLimit[0] = err;
  EXPECT_EQ(SolveScene(&cfg, scene, 1).ret, 0);
  gv().presetLimit[0] = std::nextafter(err, 0.0f);
  EXPECT_EQ(SolveScene(&cfg, scene, 1).ret, -2);
}

TEST_F(CalibrateCameraTest, RejectedSolveLeavesOutputsAndWritesTheErrorWord) {
  LutConfig cfg = OneModelConfig(2);
  gv().presetLimit[1] = 0.01f;
  float k[9], d[8], r[3], t[3];
  std::fill(k, k + 9, 7.0f);
  std::fill(d, d + 8, 7.0f);
  std::fill(r, r + 3, 7.0f);
  std::fill(t, t + 3, 7.0f);
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  EXPECT_EQ(CalibrateCamera(&cfg, scene.width, scene.height, nullptr, 2, scene.count, scene.image.data(),
                            scene.world.data(), &K, &D, &R, &T, 0, 0),
            -2);
  for (float v : k) EXPECT_EQ(v, 7.0f);
  for (float v : d) EXPECT_EQ(v, 7.0f);
  for (float v : r) EXPECT_EQ(v, 7.0f);
  for (float v : t) EXPECT_EQ(v, 7.0f);
  EXPECT_GT(gv().lastCalibResult[1], 0.01f);
  EXPECT_EQ(gv().lastCalibResult[0], 0.0f);
  // The line of every solve: camera, error, D[0], D[1], fx, cx, cy, count.
  bool logged = false;
  for (const std::string& l : gLog) logged |= l.rfind("T1~~~~~~~~ 2 ", 0) == 0 && l.find(" 48 ") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(CalibrateCameraTest, EachCameraIsJudgedByItsLimitWordCameraFourByCameraThreesWord) {
  LutConfig cfg = OneModelConfig(2);
  struct Case {
    float limits[3];
    int camera;
    int expected;
  } cases[] = {
      {{5, 5, 0.01f}, 4, -2}, {{0.01f, 0.01f, 5}, 4, 0}, {{0.01f, 0.01f, 5}, 3, 0},
      {{5, 0.01f, 0.01f}, 1, 0}, {{0.01f, 5, 5}, 1, -2}, {{5, 0.01f, 5}, 2, -2},
  };
  for (const Case& c : cases) {
    for (int k = 0; k < 3; ++k) gv().presetLimit[k] = c.limits[k];
    EXPECT_EQ(SolveScene(&cfg, scene, c.camera).ret, c.expected) << "camera " << c.camera;
    EXPECT_GT(gv().lastCalibResult[c.camera - 1], 0.0f);
  }
}

TEST_F(CalibrateCameraTest, InvalidArgumentsAreRejected) {
  LutConfig cfg = OneModelConfig(2);
  float k[9], d[8], r[3], t[3];
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  float* img = scene.image.data();
  float* wld = scene.world.data();
  EXPECT_EQ(CalibrateCamera(nullptr, 1280, 720, nullptr, 1, 48, img, wld, &K, &D, &R, &T, 0, 0), -2);
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 0, 48, img, wld, &K, &D, &R, &T, 0, 0), -2);
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 5, 48, img, wld, &K, &D, &R, &T, 0, 0), -2);
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 1, 0, img, wld, &K, &D, &R, &T, 0, 0), -2);
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 1, gv().maxPoints + 1, img, wld, &K, &D, &R, &T, 0, 0), -2);
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 1, 48, nullptr, wld, &K, &D, &R, &T, 0, 0), -2);
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 1, 48, img, wld, &K, nullptr, &R, &T, 0, 0), -2);
}

// The intrinsics mode the model-3 fit sees is in its set-up line
// ("M1~~~~~~~~ <table>:<mode> ...").
int ModeSeenByFit() {
  for (const std::string& l : gLog) {
    const size_t p = l.find("M1~~~~~~~~ table7:");
    if (p != std::string::npos) return atoi(l.c_str() + p + 18);
  }
  return -1;
}

TEST_F(CalibrateCameraTest, LayoutsThatChangeTheIntrinsicsMode) {
  struct Case {
    int layout, count, candidate;
    int modeDuringFit, modeAfter;
  } cases[] = {
      {26, 9, 0, 1, 0}, {26, 8, 0, 0, 0}, {26, 9, 1, 0, 0}, {13, 8, 0, 1, 0}, {13, 9, 0, 0, 0},
      {13, 8, 1, 0, 0}, {54, 7, 1, 1, 0},  {54, 6, 0, 0, 0}, {1, 9, 0, 0, 0},  {14, 9, 1, 1, 1},
  };
  for (const Case& c : cases) {
    LensTableFixture_Install(state.dir(), 7, 8);
    PoseScene s = PoseScene_Make(TruthIntrinsics(3), 900, 1000, 10);
    LutConfig cfg = OneModelConfig(3);
    gv().CalibLayoutCode = c.layout;
    gLog.clear();
    SolveScene(&cfg, s, 1, 0, c.candidate, nullptr, c.count);
    EXPECT_EQ(ModeSeenByFit(), c.modeDuringFit) << "layout " << c.layout << " count " << c.count;
    EXPECT_EQ(LensTable_Current()->trackCount, c.modeAfter) << "layout " << c.layout << " count " << c.count;
  }
}

TEST_F(CalibrateCameraTest, LayoutTwentyFourSwitchesToModelFourForTables200And201) {
  EquidistantTable t;
  t.heightPerRadian = kTableHeight[0];
  for (int id : {200, 201}) ASSERT_TRUE(LensTableFixture_Write(state.dir(), id, t));
  struct Case {
    int table, candidate;
    uint32_t modelAfter;
  } cases[] = {{200, 0, 4}, {201, 0, 4}, {200, 1, 3}, {7, 0, 3}};
  gv().CalibLayoutCode = 24;
  for (const Case& c : cases) {
    LensTableFixture_Install(state.dir(), c.table);
    LutConfig cfg = OneModelConfig(3);
    PoseScene s = PoseScene_Make(TruthIntrinsics(3), 900, 1000, 10);
    SolveScene(&cfg, s, 2, 0, c.candidate);
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cfg.model[k], c.modelAfter) << "table " << c.table;
  }
}

struct LutobFixture {
  TestLutob lut;
  std::vector<float> pixels;
  Matrix image{1280, 720, nullptr};
  std::vector<float> points, world;
  explicit LutobFixture(PoseScene& s) : pixels(1280 * 720, 0.5f), points(s.image), world(s.world) {
    image.data = pixels.data();
    CameraParamSet_SetHeaders(&lut->params, &lut->poses);
    lut->cfg = OneModelConfig(2);
    lut->camW = 1280;
    lut->camH = 720;
    for (int c = 0; c < 4; ++c) {
      lut->cameraImages[c] = &image;
      lut->cornerCounts[c] = s.count;
      lut->imagePoints[c] = points.data();
      lut->worldPoints[c] = world.data();
    }
  }
};

TEST_F(CalibrateCameraTest, CandidateTestThroughTheLutObject) {
  LutobFixture f(scene);
  EXPECT_EQ(CalibrateCameraByIndex(f.lut, 0, 0, 0, 0), 0);
  EXPECT_EQ(CalibrateCameraByIndex(f.lut, 5, 0, 0, 0), 0);
  EXPECT_EQ(CalibrateCameraByIndex(nullptr, 1, 0, 0, 0), 0);
  f.lut->cornerCounts[1] = 0;
  EXPECT_EQ(CalibrateCameraByIndex(f.lut, 2, 0, 0, 0), 0);
  f.lut->cameraImages[2] = nullptr;
  EXPECT_EQ(CalibrateCameraByIndex(f.lut, 3, 0, 0, 0), 0);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(f.lut->params.T[c][0], 0.0f) << "nothing solved yet";

  // Width and height 0: the object's camera image size (the fit's centre).
  ASSERT_EQ(CalibrateCameraByIndex(f.lut, 1, 0, 0, 0), 1);
  EXPECT_EQ(f.lut->params.K[0][2], 639.5f);
  EXPECT_LT(PoseScene_PositionErrorMm(f.lut->params.T[0], scene.cam.T), 20.0);
  ASSERT_EQ(CalibrateCameraByIndex(f.lut, 4, 0, 1000, 0), 1);
  EXPECT_EQ(f.lut->params.K[3][2], 499.5f);

  // A failed test leaves the parameters.
  gv().presetLimit[2] = 0.01f;
  const CameraParamSet before = f.lut->params;
  EXPECT_EQ(CalibrateCameraByIndex(f.lut, 4, 0, 0, 0), 0);
  EXPECT_EQ(memcmp(&before, &f.lut->params, sizeof before), 0);
}

// Layout 11: the image height sets the focus flag and the error scale.
TEST_F(CalibrateCameraTest, LayoutElevenImageHeightRules) {
  gv().CalibLayoutCode = 11;
  LutConfig cfg = OneModelConfig(2);
  CalibProfileRecord& p = CalibProfile();
  for (int k = 0; k < 3; ++k) {
    p.SetF(2 + k, scene.cam.r[k] + 0.01f);
    p.SetF(14 + k, scene.cam.T[k]);
  }
  struct Case {
    int rows, trackCount;
    float scale;     // error divisor
    bool fixedFocal;  // fixed focal lengths written
  } cases[] = {{960, 3, 1.35f, true}, {960, 0, 1.35f, false}, {720, 3, 1.35f, false}, {576, 3, 1.0f, false}};
  for (const Case& c : cases) {
    std::vector<float> pixels(static_cast<size_t>(1280) * c.rows, 0.5f);
    Matrix image{1280, c.rows, pixels.data()};
    LensTableSlot* slot = LensTable_Current();
    slot->trackCount = c.trackCount;
    slot->scaleX = slot->scaleY = 1.0f;
    ASSERT_EQ(SolveScene(&cfg, scene, 1, 0, 0, &image).ret, 0) << c.rows;
    EXPECT_EQ(slot->scaleX == 345.0f && slot->scaleY == 345.0f, c.fixedFocal) << c.rows;
    // The same solve without the wrapper's scaling.
    std::vector<float> xy(static_cast<size_t>(2 * scene.count));
    for (int i = 0; i < scene.count; ++i) {
      xy[2 * i] = scene.image[2 * i + 1];
      xy[2 * i + 1] = scene.image[2 * i];
    }
    float k[9] = {}, d[8] = {}, r[3] = {}, t[3] = {};
    Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
    Matrix W{3, scene.count, scene.world.data()}, I{2, scene.count, xy.data()};
    const float direct =
        Calib_RefinePoseA(&cfg, 1280, 720, &image, 1, &K, &D, &R, &T, &W, &I, scene.count, 0, 0, 0);
    EXPECT_FLOAT_EQ(gv().lastCalibResult[0], direct / c.scale) << c.rows;
  }
}

}  // namespace

namespace {

// Layout 51: the line-target solves start from the parameter block.
TEST_F(CalibrateCameraTest, LayoutFiftyOneSolvesFromTheParameterBlock) {
  gv().CalibLayoutCode = 51;
  LutConfig cfg = OneModelConfig(2);
  PoseScene exact = PoseScene_Make(TruthIntrinsics(2), 900, 1000, 10);
  // Without a parameter block there is nothing to start from.
  EXPECT_EQ(SolveScene(&cfg, exact, 1).ret, -2);
  CameraParamBlock block{};
  block.quadWidth = 2560;
  block.quadHeight = 1440;
  for (int c = 0; c < 4; ++c) {
    block.model[c] = 2;
    memcpy(block.params.K[c], exact.cam.K, sizeof exact.cam.K);
    memcpy(block.params.D[c], exact.cam.D, sizeof exact.cam.D);
    memcpy(block.params.R[c], exact.cam.r, sizeof exact.cam.r);
    memcpy(block.params.T[c], exact.cam.T, sizeof exact.cam.T);
  }
  cfg.paramBlock = &block;
  gLog.clear();
  const SolveResult front = SolveScene(&cfg, exact, 2);
  ASSERT_EQ(front.ret, 0);
  EXPECT_LT(gv().lastCalibResult[1], 0.01f);
  EXPECT_LT(PoseScene_PositionErrorMm(front.T, exact.cam.T), 1.0);
  bool logged = false;
  for (const std::string& l : gLog) logged |= l.rfind("Line CalibFB ", 0) == 0;
  EXPECT_TRUE(logged);
  const SolveResult side = SolveScene(&cfg, exact, 3);
  ASSERT_EQ(side.ret, 0);
  bool loggedLR = false;
  for (const std::string& l : gLog) loggedLR |= l.rfind("Line CalibLR ", 0) == 0;
  EXPECT_TRUE(loggedLR);
  // More than the target's 54 points is refused.
  gv().maxPoints = 60;
  std::vector<float> img(120, 100.0f), wld(180, 0.0f);
  float k[9], d[8], r[3], t[3];
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  EXPECT_EQ(CalibrateCamera(&cfg, 1280, 720, nullptr, 1, 55, img.data(), wld.data(), &K, &D, &R, &T, 0, 0), -2);
}

}  // namespace
