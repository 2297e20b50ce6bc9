#include "calibration/solve/calibration_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "frame/lens_table.h"
#include "frame/global_variables.h"
#include "camera/lut_config_file.h"
#include "testsupport/scene_renderer.h"

namespace {

constexpr int kW = 1280, kH = 720;

// Camera k of a rig around a car (z down, front at negative y) and a
// chessboard on the ground in its view.
SceneCamera RigCamera(int k) {
  SceneCamera cam;
  cam.model = 2;
  cam.D[0] = 300.0f;
  const float pos[4][3] = {{0, -2300, -900}, {0, 2300, -900}, {-1000, 0, -1000}, {1000, 0, -1000}};
  const float at[4][3] = {{0, -4300, 0}, {0, 4300, 0}, {-3000, 0, 0}, {3000, 0, 0}};
  const float up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos[k], at[k], up);
  return cam;
}

TargetSpec RigBoard(int k) {
  TargetSpec t;
  t.squaresX = 8;
  t.squaresY = 6;
  t.squareSize = 200.0f;
  const float origin[4][3] = {{-800, -4900, 0}, {-800, 3700, 0}, {-3600, -800, 0}, {2400, -800, 0}};
  memcpy(t.origin, origin[k], sizeof t.origin);
  if (k >= 2) {  // side boards: 8 squares along the car
    const float s[3] = {0, 1, 0}, tt[3] = {1, 0, 0};
    memcpy(t.axisS, s, sizeof s);
    memcpy(t.axisT, tt, sizeof tt);
  }
  return t;
}

struct RigFile {
  LutConfigFileData d{};
  CameraParamSet truth{};
  std::vector<float> image[4], world[4];
  int counts[4] = {0, 0, 0, 0};
};

// The rig's true parameters, the rendered corners as the stored point pairs
// ((row, column) image points), and disturbed parameters in the file.
RigFile MakeRig(int model, float noisePx = 0.0f) {
  RigFile f;
  const int m = gv().maxPoints;
  f.d.carWidth = 1800;
  f.d.carLength = 4600;
  f.d.model = static_cast<uint32_t>(model);
  f.d.quadWidth = 2 * kW;
  f.d.quadHeight = 2 * kH;
  f.d.frontOverhang = 900;
  f.d.wheelBase = 2700;
  for (int k = 0; k < 4; ++k) {
    const SceneCamera cam = RigCamera(k);
    memcpy(f.truth.K[k], cam.K, sizeof cam.K);
    memcpy(f.truth.D[k], cam.D, sizeof cam.D);
    memcpy(f.truth.R[k], cam.r, sizeof cam.r);
    memcpy(f.truth.T[k], cam.T, sizeof cam.T);
    f.image[k].assign(static_cast<size_t>(2 * m), 0.0f);
    f.world[k].assign(static_cast<size_t>(3 * m), 0.0f);
    int n = 0;
    for (const TargetCorner& c : Target_Corners(RigBoard(k), cam, kW, kH)) {
      if (!c.visible || n >= gv().pointsPerCamera) continue;
      const float jitter = (n % 2 ? 1.0f : -1.0f) * noisePx;
      f.image[k][2 * n] = c.v + jitter;
      f.image[k][2 * n + 1] = c.u - jitter;
      memcpy(&f.world[k][3 * n], c.world, sizeof c.world);
      ++n;
    }
    f.counts[k] = n;
    f.d.cornerCount[k] = n;
    f.d.image[k] = f.image[k].data();
    f.d.world[k] = f.world[k].data();
  }
  f.d.params = f.truth;
  for (int k = 0; k < 4; ++k) {
    f.d.params.R[k][0] += 0.03f;
    f.d.params.R[k][2] -= 0.02f;
    f.d.params.T[k][0] += 40.0f;
    f.d.params.T[k][2] -= 25.0f;
    f.d.params.K[k][2] += 12.0f;
    f.d.params.K[k][5] -= 9.0f;
  }
  return f;
}

class CalibrationLockTest : public ::testing::Test {
 protected:
  GlobalVariables saved = gv();
  std::string path = "/tmp/calib_lock_" + std::to_string(getpid()) + ".krv";
  void SetUp() override { gv().CalibLayoutCode = 1; }
  void TearDown() override {
    unlink(path.c_str());
    gv() = saved;
  }
  bool Write(const RigFile& f) {
    return LutConfigFile_Write(path.c_str(), f.d, gv().pointsPerCamera, gv().maxPoints);
  }
};

TEST_F(CalibrationLockTest, LockGivesBackTheTruePose) {
  RigFile f = MakeRig(2);
  for (int k = 0; k < 4; ++k) ASSERT_GE(f.counts[k], 12) << k;
  ASSERT_TRUE(Write(f));
  LutConfigInfo info;
  memset(&info, 0xFF, sizeof info);
  CameraParamSet ps;
  ASSERT_EQ(ExecLockCalibration(&info, &ps, path.c_str()), 1);
  EXPECT_EQ(info.quadWidth, 2u * kW);
  EXPECT_EQ(info.model, 2u);
  EXPECT_EQ(info.extraParam, 0u);
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(ps.R[k][i], f.truth.R[k][i], 2e-3f) << "camera " << k + 1;
      EXPECT_NEAR(ps.T[k][i], f.truth.T[k][i], 5.0f) << "camera " << k + 1;
    }
    EXPECT_EQ(ps.K[k][2], kW * 0.5f);  // started at the exact centre, held there
    EXPECT_NEAR(ps.K[k][5], f.truth.K[k][5], 2.0f);
  }
}

TEST_F(CalibrationLockTest, CasesThatLockNothing) {
  struct Case {
    const char* what;
    int model, layout;
    float d0;
  } cases[] = {
      {"model 5", 5, 1, 300.0f}, {"model 6", 6, 1, 300.0f}, {"layout 3", 2, 3, 300.0f},
      {"scale 10", 2, 1, 10.0f}, {"scale 10000", 2, 24, 10000.0f},
  };
  for (const Case& c : cases) {
    gv().CalibLayoutCode = c.layout;
    RigFile f = MakeRig(c.model);
    for (int k = 0; k < 4; ++k) f.d.params.D[k][0] = c.d0;
    ASSERT_TRUE(Write(f));
    LutConfigInfo info;
    CameraParamSet ps;
    ASSERT_EQ(ExecLockCalibration(&info, &ps, path.c_str()), 1) << c.what;
    EXPECT_EQ(memcmp(&ps, &f.d.params, sizeof ps), 0) << c.what;
  }
}

TEST_F(CalibrationLockTest, LayoutFourteenAndTwentyFourLock) {
  for (int layout : {14, 24, 2}) {
    gv().CalibLayoutCode = layout;
    RigFile f = MakeRig(2);
    ASSERT_TRUE(Write(f));
    LutConfigInfo info;
    CameraParamSet ps;
    ASSERT_EQ(ExecLockCalibration(&info, &ps, path.c_str()), 1);
    EXPECT_NEAR(ps.T[0][0], f.truth.T[0][0], 5.0f) << layout;
  }
}

TEST_F(CalibrationLockTest, PoorFitIsRejectedAndOthersStillLock) {
  RigFile f = MakeRig(2);
  // Camera 2's stored points are far off: its fit cannot reach 3.51 px.
  for (int i = 0; i < f.counts[1]; ++i) f.image[1][2 * i] += (i % 3 - 1) * 25.0f;
  ASSERT_TRUE(Write(f));
  LutConfigInfo info;
  CameraParamSet ps;
  ASSERT_EQ(ExecLockCalibration(&info, &ps, path.c_str()), 1);
  EXPECT_EQ(memcmp(ps.R[1], f.d.params.R[1], sizeof ps.R[1]), 0);
  EXPECT_EQ(memcmp(ps.K[1], f.d.params.K[1], sizeof ps.K[1]), 0);
  EXPECT_NEAR(ps.T[0][0], f.truth.T[0][0], 5.0f);
}

TEST_F(CalibrationLockTest, UnreadableFilesLeaveOutputsUntouched) {
  LutConfigInfo info;
  memset(&info, 0x5A, sizeof info);
  CameraParamSet ps;
  memset(&ps, 0x5A, sizeof ps);
  EXPECT_EQ(ExecLockCalibration(&info, &ps, "/nonexistent/lut_config.krv"), 0);
  RigFile f = MakeRig(2);
  ASSERT_TRUE(Write(f));
  FILE* fp = fopen(path.c_str(), "r+b");
  fputc(0x77, fp);
  fclose(fp);
  EXPECT_EQ(ExecLockCalibration(&info, &ps, path.c_str()), 0);
  EXPECT_EQ(info.quadWidth, 0x5A5A5A5Au);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(&ps)[100], 0x5A);
}

TEST_F(CalibrationLockTest, SingleCameraLockRules) {
  RigFile f = MakeRig(2);
  float K[9], D[8], R[3], T[3];
  auto load = [&]() {
    memcpy(K, f.d.params.K[0], sizeof K);
    memcpy(D, f.d.params.D[0], sizeof D);
    memcpy(R, f.d.params.R[0], sizeof R);
    memcpy(T, f.d.params.T[0], sizeof T);
  };
  load();
  EXPECT_EQ(Lock_CalibrationAll(kW, kH, 0, 2, 0, f.image[0].data(), f.world[0].data(), K, D, R, T), -1);
  EXPECT_EQ(Lock_CalibrationAll(kW, kH, 0, 2, gv().maxPoints + 1, f.image[0].data(), f.world[0].data(), K, D, R,
                                T),
            -1);
  EXPECT_EQ(memcmp(K, f.d.params.K[0], sizeof K), 0);
  // A model without a fit (error 0.0) shows the start: the principal point
  // at the exact centre of the camera picture.
  EXPECT_EQ(Lock_CalibrationAll(kW + 1, kH + 1, 0, 5, 10, f.image[0].data(), f.world[0].data(), K, D, R, T), 0);
  EXPECT_EQ(K[2], (kW + 1) * 0.5f);
  EXPECT_EQ(K[5], (kH + 1) * 0.5f);
  // Model 3 with an intrinsics mode above 1 locks only under layout 14.
  load();
  LensTable_Current()->trackCount = 2;
  EXPECT_EQ(Lock_CalibrationAll(kW, kH, 0, 3, 10, f.image[0].data(), f.world[0].data(), K, D, R, T), -1);
  EXPECT_EQ(memcmp(K, f.d.params.K[0], sizeof K), 0);
  LensTable_Current()->trackCount = 0;
}

}  // namespace
