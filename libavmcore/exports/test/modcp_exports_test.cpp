// Manual pose adjustment through its exports: camera files of four and six
// cameras whose first eight points are the corners of the target blocks,
// seen through the stripe site's cameras at their true poses.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "calibration/solve/modcp.h"
#include "camera/camera_model.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "surround/byte_lut_file.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/best3_site.h"
#include "testsupport/config_state.h"

namespace {

// Corner k (0..3) of block b: 400 mm squares near the vehicle's corners
// (0 front left, 1 front right) and, with six cameras, beside its middle (2
// left, 3 right) and near its rear corners (4, 5); with four cameras blocks
// 2 and 3 are the rear corners.
void BlockCorner(int b, int k, bool six, float* w) {
  const float xs[6] = {-1500, 1100, -1500, 1100, -1500, 1100};
  const float ys6[6] = {-3100, -3100, -200, -200, 2700, 2700};
  const float ys4[4] = {-3100, -3100, 2700, 2700};
  const float x0 = xs[b], y0 = six ? ys6[b] : ys4[b];
  w[0] = x0 + ((k == 1 || k == 2) ? 400.0f : 0.0f);
  w[1] = y0 + (k >= 2 ? 400.0f : 0.0f);
  w[2] = 0.0f;
}

class ModCP : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.WriteFile("globalimage_base.txt", site_.BaseText());
    ScopedConfigState::ResetConfiguration();
    GlobalVariables_InitRuntimeDefaults();
    GlobalVariables_Init(1);
    for (int c = 0; c < 4; ++c) cams_[c] = Best3Site_Camera(site_, c + 1);
    // The second file's side cameras sit further back.
    rear_[0] = cams_[0];
    rear_[1] = cams_[1];
    for (int c = 2; c < 4; ++c) {
      rear_[c] = cams_[c];
      rear_[c].T[1] -= 2400.0f;  // camera centre 2400 mm to the rear
    }
  }

  // Writes a camera file of cams whose camera c sees blocks[c].
  void WriteFile(const std::string& name, const SceneCamera cams[4], const int blocks[4][2], bool six) {
    LUTOB* lut = Best3Site_MakeLut(site_, cams);
    const int32_t m = gv().maxPoints;
    for (int c = 0; c < 4; ++c) {
      lut->imagePoints[c] = new float[2 * m]();
      lut->worldPoints[c] = new float[3 * m]();
      lut->cornerCounts[c] = 8;
      float world[8][3], px[8][2];
      for (int p = 0; p < 8; ++p) BlockCorner(blocks[c][p / 4], p % 4, six, world[p]);
      float K[9], D[8], r[3], T[3];
      memcpy(K, cams[c].K, sizeof K);
      memcpy(D, cams[c].D, sizeof D);
      memcpy(r, cams[c].r, sizeof r);
      memcpy(T, cams[c].T, sizeof T);
      Matrix mw{3, 8, &world[0][0]}, mp{2, 8, &px[0][0]}, mK{3, 3, K}, mD{1, 8, D}, mr{1, 3, r}, mT{1, 3, T};
      CameraModel_ProjectPoints(cams[c].model, &mw, &mr, &mT, &mK, &mD, &mp, nullptr, nullptr, nullptr, nullptr,
                                nullptr, 0);
      for (int p = 0; p < 8; ++p) {
        ASSERT_GT(px[p][0], 0.0f) << name << " camera " << c + 1 << " point " << p;
        lut->imagePoints[c][2 * p] = px[p][1];  // (row, column)
        lut->imagePoints[c][2 * p + 1] = px[p][0];
        memcpy(&lut->worldPoints[c][3 * p], world[p], sizeof world[p]);
      }
    }
    ASSERT_EQ(SaveLUTConfig(lut, state_.Path(name).c_str()), 1);
    LUTOB_Destroy(lut);
  }
  void WriteFour() {
    const int blocks[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
    WriteFile("cfg1.krv", cams_, blocks, false);
  }
  void WriteSix() {
    const int blocks1[4][2] = {{0, 1}, {4, 5}, {0, 2}, {1, 3}};
    const int blocks2[4][2] = {{0, 1}, {4, 5}, {2, 4}, {3, 5}};
    WriteFile("cfg1.krv", cams_, blocks1, true);
    WriteFile("cfg2.krv", rear_, blocks2, true);
  }

  // The byte LUT and camera file the LUT code makes of a camera file with
  // the given poses of its four cameras.
  void Reference(const std::string& cfg, const float* rot, const float* pos, const std::string& lutOut,
                 const std::string& cfgOut) {
    LUTOB* lut = LUTOB_Create();
    ASSERT_EQ(LUTOB_LoadConfig(lut, state_.Path(cfg).c_str(), nullptr), 1);
    for (int c = 0; c < 4; ++c) {
      memcpy(lut->params.R[c], rot + 3 * c, 3 * sizeof(float));
      memcpy(lut->params.T[c], pos + 3 * c, 3 * sizeof(float));
    }
    ASSERT_EQ(LUT_GenerateMergerLUT(lut, 0, 0), 0);
    ASSERT_EQ(LUT_GenerateByteLUTFile(lut, state_.Path(lutOut).c_str(), state_.Path(cfgOut).c_str()), 0);
    LUTOB_Destroy(lut);
  }

  ScopedConfigState state_;
  Best3Site site_;
  SceneCamera cams_[4], rear_[4];
};

TEST_F(ModCP, InitFailsWithoutItsFiles) {
  EXPECT_EQ(KRV_GlobalImage_ModCPInit(state_.Path("missing.krv").c_str(), nullptr, 0), nullptr);
  WriteFour();
  EXPECT_EQ(KRV_GlobalImage_ModCPInit(state_.Path("cfg1.krv").c_str(), state_.Path("missing.krv").c_str(), 0),
            nullptr);
  ModCPObject* o = KRV_GlobalImage_ModCPInit(state_.Path("cfg1.krv").c_str(), nullptr, 0);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->cameraCount, 4);
  EXPECT_EQ(o->state, 1);
  KRV_GlobalImage_ModCPRelease(o);
}

// Mode 0: a move changes one component of one camera; a turn composes the
// rotation with minus the step; unknown steps, linked calls and cameras
// outside the set-up change nothing.
TEST_F(ModCP, SingleCameraSteps) {
  WriteFour();
  ModCPObject* o = KRV_GlobalImage_ModCPInit(state_.Path("cfg1.krv").c_str(), nullptr, 0);
  ASSERT_NE(o, nullptr);
  float r0[18], t0[18], r[18], t[18];
  ASSERT_EQ(KRV_GlobalImage_ModCPReset(o, 9, r0, t0), 0);
  EXPECT_EQ(KRV_GlobalImage_ModCPExec(o, 1, 1, 0, r, t, 10.0f), 0);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(r[i], r0[i]) << i;
    EXPECT_EQ(t[i], t0[i] + (i == 3 ? 10.0f : 0.0f)) << i;
  }
  KRV_GlobalImage_ModCPExec(o, 2, 4, 0, r, t, 0.01f);
  float expect[3];
  const float angles[3] = {-0.01f, 0.0f, 0.0f};
  RotationVec_ApplyAngles(r0 + 6, angles, expect);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r[6 + i], expect[i]);
  float r1[18], t1[18];
  memcpy(r1, r, sizeof r);
  memcpy(t1, t, sizeof t);
  const int32_t ignored[][3] = {{0, 9, 0}, {-1, 1, 0}, {4, 1, 0}, {5, 1, 0}, {6, 1, 0}, {0, 1, 1}};
  for (const auto& k : ignored) {
    KRV_GlobalImage_ModCPExec(o, k[0], k[1], k[2], r, t, 25.0f);
    EXPECT_EQ(memcmp(r, r1, 12 * sizeof(float)), 0) << k[0] << " " << k[1];
    EXPECT_EQ(memcmp(t, t1, 12 * sizeof(float)), 0) << k[0] << " " << k[1];
  }
  KRV_GlobalImage_ModCPReset(o, -1, r, t);
  EXPECT_EQ(memcmp(r, r0, 12 * sizeof(float)), 0);
  EXPECT_EQ(memcmp(t, t0, 12 * sizeof(float)), 0);
  KRV_GlobalImage_ModCPRelease(o);
}

// Linked mode: the first call only re-fits (the corners were made with the
// true poses, so the fit keeps them); the next move shifts the camera and
// re-fits its neighbours to the moved corners, the other camera stays.
TEST_F(ModCP, LinkedStepsRefitTheNeighbours) {
  WriteFour();
  ModCPObject* o = KRV_GlobalImage_ModCPInit(state_.Path("cfg1.krv").c_str(), nullptr, 1);
  ASSERT_NE(o, nullptr);
  float r0[18], t0[18], r[18], t[18];
  KRV_GlobalImage_ModCPExec(o, 0, 1, 1, r0, t0, 10.0f);
  EXPECT_EQ(o->state, 2);
  for (int c = 0; c < 4; ++c)
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(t0[3 * c + i], cams_[c].T[i], 2.0f) << c << " " << i;
  KRV_GlobalImage_ModCPExec(o, 0, 1, 1, r, t, 10.0f);
  EXPECT_FLOAT_EQ(t[0], t0[0] + 10.0f);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(t[3 + i], t0[3 + i]);  // camera slot 1 is no neighbour of slot 0
  // The neighbours followed the moved block (their other block stayed):
  // part of the way, in the direction of the corners' move.
  for (int c : {2, 3}) {
    EXPECT_GT(t[3 * c] - t0[3 * c], 1.0f) << c;
    EXPECT_LT(t[3 * c] - t0[3 * c], 10.0f) << c;
  }
  // Reset of the camera takes its corner changes back: all poses return.
  KRV_GlobalImage_ModCPReset(o, 0, r, t);
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(t[i], t0[i], 0.05f) << i;
  // -2 centres the principal points and re-fits every camera.
  KRV_GlobalImage_ModCPReset(o, -2, r, t);
  EXPECT_EQ(o->state, 3);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(o->K[c][2], site_.camW / 2.0f);
    EXPECT_EQ(o->K[c][5], site_.camH / 2.0f);
  }
  KRV_GlobalImage_ModCPRelease(o);
}

std::string Bytes(const ScopedConfigState& s, const std::string& name) { return s.ReadFile(name); }

// SaveConfig writes what the LUT code makes of the same poses; a failure
// replaces nothing.
TEST_F(ModCP, SaveConfigFourCameras) {
  WriteFour();
  ModCPObject* o = KRV_GlobalImage_ModCPInit(state_.Path("cfg1.krv").c_str(), nullptr, 0);
  ASSERT_NE(o, nullptr);
  float r[18], t[18];
  KRV_GlobalImage_ModCPExec(o, 2, 3, 0, r, t, -30.0f);
  KRV_GlobalImage_ModCPExec(o, 0, 5, 0, r, t, 0.02f);
  const std::string before = Bytes(state_, "cfg1.krv");
  EXPECT_EQ(KRV_GlobalImage_ModCPSaveConfig(o, state_.Path("no/dir/lut.krv").c_str(), nullptr,
                                            state_.Path("cfg1.krv").c_str(), nullptr),
            -1);
  EXPECT_TRUE(Bytes(state_, "cfg1.krv") == before);
  EXPECT_FALSE(state_.Exists("lut_mixareainfo.krv"));

  Reference("cfg1.krv", r, t, "ref_lut.krv", "ref_cfg.krv");
  ASSERT_EQ(KRV_GlobalImage_ModCPSaveConfig(o, state_.Path("lut.krv").c_str(), nullptr,
                                            state_.Path("cfg1.krv").c_str(), nullptr),
            0);
  EXPECT_TRUE(Bytes(state_, "lut.krv") == Bytes(state_, "ref_lut.krv"));
  EXPECT_TRUE(Bytes(state_, "cfg1.krv") == Bytes(state_, "ref_cfg.krv"));
  EXPECT_TRUE(state_.Exists("lut_mixareainfo.krv"));
  KRV_GlobalImage_ModCPRelease(o);
}

TEST_F(ModCP, SixCamerasSaveBothFiles) {
  WriteSix();
  ModCPObject* o =
      KRV_GlobalImage_ModCPInit(state_.Path("cfg1.krv").c_str(), state_.Path("cfg2.krv").c_str(), 1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->cameraCount, 6);
  float r[18], t[18];
  KRV_GlobalImage_ModCPExec(o, 5, 2, 1, r, t, 0.0f);  // prepares the linked geometry
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(t[15 + i], rear_[3].T[i], 2.0f) << i;
  KRV_GlobalImage_ModCPExec(o, 5, 2, 1, r, t, 20.0f);
  float rot1[12], pos1[12], rot2[12], pos2[12];
  const int slots1[4] = {0, 1, 2, 3}, slots2[4] = {0, 1, 4, 5};
  for (int c = 0; c < 4; ++c) {
    memcpy(rot1 + 3 * c, r + 3 * slots1[c], 12);
    memcpy(pos1 + 3 * c, t + 3 * slots1[c], 12);
    memcpy(rot2 + 3 * c, r + 3 * slots2[c], 12);
    memcpy(pos2 + 3 * c, t + 3 * slots2[c], 12);
  }
  Reference("cfg1.krv", rot1, pos1, "ref_lut1.krv", "ref_cfg1.krv");
  Reference("cfg2.krv", rot2, pos2, "ref_lut2.krv", "ref_cfg2.krv");
  ASSERT_EQ(KRV_GlobalImage_ModCPSaveConfig(o, state_.Path("lut1.krv").c_str(), state_.Path("lut2.krv").c_str(),
                                            state_.Path("cfg1.krv").c_str(), state_.Path("cfg2.krv").c_str()),
            0);
  EXPECT_TRUE(Bytes(state_, "lut1.krv") == Bytes(state_, "ref_lut1.krv"));
  EXPECT_TRUE(Bytes(state_, "lut2.krv") == Bytes(state_, "ref_lut2.krv"));
  EXPECT_TRUE(Bytes(state_, "cfg1.krv") == Bytes(state_, "ref_cfg1.krv"));
  EXPECT_TRUE(Bytes(state_, "cfg2.krv") == Bytes(state_, "ref_cfg2.krv"));
  KRV_GlobalImage_ModCPRelease(o);
}

// Blind-area rewrite: zero extensions regenerate the files unchanged in
// content; extensions move the cameras and add to the global offsets, but
// only when the files were replaced.
TEST_F(ModCP, ConfigFileBlind) {
  WriteFour();
  float rot[12], pos[12];
  for (int c = 0; c < 4; ++c) {
    memcpy(rot + 3 * c, cams_[c].r, 12);
    memcpy(pos + 3 * c, cams_[c].T, 12);
  }
  Reference("cfg1.krv", rot, pos, "ref_lut.krv", "ref_cfg.krv");
  ASSERT_EQ(KRV_GlobalImage_ModConfigFileBlind(0, 0, 0, 0, state_.Path("cfg1.krv").c_str(), nullptr,
                                               state_.Path("lut.krv").c_str(), nullptr),
            0);
  EXPECT_TRUE(Bytes(state_, "lut.krv") == Bytes(state_, "ref_lut.krv"));
  EXPECT_TRUE(Bytes(state_, "cfg1.krv") == Bytes(state_, "ref_cfg.krv"));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(gv().f20_23[k], 0);

  const std::string before = Bytes(state_, "cfg1.krv");
  EXPECT_EQ(KRV_GlobalImage_ModConfigFileBlind(100, 200, 50, 50, state_.Path("cfg1.krv").c_str(), nullptr,
                                               state_.Path("no/dir/lut.krv").c_str(), nullptr),
            -1);
  EXPECT_TRUE(Bytes(state_, "cfg1.krv") == before);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(gv().f20_23[k], 0);

  ASSERT_EQ(KRV_GlobalImage_ModConfigFileBlind(100, 200, 50, 50, state_.Path("cfg1.krv").c_str(), nullptr,
                                               state_.Path("lut.krv").c_str(), nullptr),
            0);
  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(lut, state_.Path("cfg1.krv").c_str(), nullptr), 1);
  EXPECT_EQ(lut->cfg.carWidth, site_.carWidth + 100);
  EXPECT_EQ(lut->cfg.carLength, site_.carLength + 300);
  for (int c = 0; c < 4; ++c) {
    EXPECT_FLOAT_EQ(lut->params.T[c][0], cams_[c].T[0]);
    EXPECT_FLOAT_EQ(lut->params.T[c][1], cams_[c].T[1] + 50.0f);
  }
  LUTOB_Destroy(lut);
  const int32_t want[4] = {100, 200, 50, 50};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(gv().f20_23[k], want[k]);
  // A sum of -1000 (the writer's "keep") is stored as -1001.
  ASSERT_EQ(KRV_GlobalImage_ModConfigFileBlind(-1100, 0, 0, 0, state_.Path("cfg1.krv").c_str(), nullptr,
                                               state_.Path("lut.krv").c_str(), nullptr),
            0);
  EXPECT_EQ(gv().f20_23[0], -1001);
}

}  // namespace
