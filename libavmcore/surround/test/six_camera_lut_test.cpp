// The six-camera LUT builders on a rendered six-camera rig. Pose solving is
// replaced here by the rig's true poses, so that the test sees the builders'
// own work: the two groups, the split line, the seams and the files.
#include "surround/six_camera_lut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "surround/lutob_camera_ops.h"
#include "surround/mab_file.h"
#include "surround/mix_area_six_ex.h"
#include "testsupport/config_state.h"
#include "testsupport/six_camera_rig.h"

namespace {

const SixCameraRig* g_rig = nullptr;  // the poses the solver hands out
int32_t g_failGroup = 0;              // this group's solve fails

}  // namespace

// Solver of this test executable: the rig's pose of the camera the group
// puts in this slot; without a rig, failure as when no solver is linked.
int32_t CalibrateCamera(LutConfig*, int32_t, int32_t, Matrix*, int32_t camera, int32_t, float*, float*, Matrix* K,
                        Matrix* D, Matrix* R, Matrix* T, int32_t, int32_t) {
  if (g_rig == nullptr || camera < 1 || camera > 4 || g_failGroup == gv().groupNumber) return -2;
  const SceneCamera& c = g_rig->GroupCamera(gv().groupNumber, camera - 1);
  std::copy(c.K, c.K + 9, K->data);
  std::copy(c.D, c.D + 8, D->data);
  std::copy(c.r, c.r + 3, R->data);
  std::copy(c.T, c.T + 3, T->data);
  return 0;
}

namespace {

constexpr int32_t kCamW = 320, kCamH = 240, kOutW = 160, kOutH = 300;

class SixCameraLutTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  SixCameraRig* rig_ = nullptr;
  std::vector<float> points_ = std::vector<float>(4 * 59, 0.0f);
  LUTOB* a_ = nullptr;
  LUTOB* b_ = nullptr;

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = new SixCameraRig(kCamW, kCamH, kOutW, kOutH);
    g_rig = rig_;
    // Hand-entered targets of 8 points a camera.
    gv().cornerCount1 = gv().cornerCount2 = gv().cornerCount34 = 8;
    g_failGroup = 0;
    a_ = LUTOB_Create();
    b_ = LUTOB_Create();
  }
  void TearDown() override {
    g_rig = nullptr;
    LUTOB_Destroy(a_);
    LUTOB_Destroy(b_);
    delete rig_;
  }
  std::string Path(const char* n) const { return dir_ + "/" + n; }
  int32_t Build(bool files, float* split) {
    const std::string ba = Path("lut_a.krv"), bb = Path("lut_b.krv"), ca = Path("cfg_a.krv"), cb = Path("cfg_b.krv");
    return LUTSix_InitMergerLUTOBByHand(a_, b_, rig_->carWidth, rig_->carLength, 0, 900, 2800, 2, kCamW, kCamH,
                                        points_.data(), points_.data(), points_.data(), points_.data(),
                                        files ? ba.c_str() : nullptr, files ? bb.c_str() : nullptr,
                                        files ? ca.c_str() : nullptr, files ? cb.c_str() : nullptr, split);
  }
};

TEST_F(SixCameraLutTest, FloorInPlaceAcrossTheSplitAndEverySeam) {
  gv().cameraMask = 15;
  ASSERT_EQ(Build(false, nullptr), 0);
  EXPECT_EQ(gv().groupNumber, 0);
  EXPECT_EQ(gv().cameraMask, 15);
  const LutConfig& ca = a_->cfg;
  const LutConfig& cb = b_->cfg;
  ASSERT_EQ(ca.X1.cols, kOutW);
  ASSERT_EQ(cb.X1.rows, ca.X1.rows);
  EXPECT_EQ(ca.groupNumber, 1);
  EXPECT_EQ(cb.groupNumber, 2);
  EXPECT_EQ(ca.splitLength, rig_->carLength / 2);
  const float split = LUTSix_SplitRow(&ca);
  EXPECT_NEAR(split, (ca.carTop + ca.carBottom) / 2.0f, 1.0f);

  const int32_t W = ca.X1.cols, H = ca.X1.rows;
  double worst = 0.0;
  int64_t checked = 0, unseen = 0;
  for (int32_t r = 0; r < H; ++r)
    for (int32_t c = 0; c < W; ++c) {
      // Away from the car: two pixels clear of its rectangle.
      if (r >= ca.carTop - 2 && r <= ca.carBottom + 2 && c >= ca.carLeft - 2 && c <= ca.carRight + 2) continue;
      const bool groupA = r < split;
      const LutConfig& cfg = groupA ? ca : cb;
      const size_t i = static_cast<size_t>(r) * W + c;
      const float gx = cfg.groundTable.data[3 * i], gy = cfg.groundTable.data[3 * i + 1];
      const float w1 = cfg.W1.data[i];
      for (int s = 0; s < 2; ++s) {
        if (s == 1 && !(w1 < 0.999f)) break;
        const float x = s == 0 ? cfg.X1.data[i] : cfg.X2.data[i], y = s == 0 ? cfg.Y1.data[i] : cfg.Y2.data[i];
        const int32_t slot = MAB_CameraOf(x, y, kCamW, kCamH) - 1;
        const float ox = (slot & 1) ? kCamW : 0.0f, oy = (slot & 2) ? kCamH : 0.0f;
        if (x == ox && y == oy) {
          ++unseen;
          continue;
        }
        const int32_t cam = groupA ? slot : (slot < 2 ? slot : slot + 2);
        float u, v, ux, vx, uy, vy;
        ASSERT_TRUE(rig_->Project(cam, gx, gy, &u, &v));
        const float mm = cfg.mmPerPixel;
        ASSERT_TRUE(rig_->Project(cam, gx + mm, gy, &ux, &vx));
        ASSERT_TRUE(rig_->Project(cam, gx, gy + mm, &uy, &vy));
        // Camera pixels per output pixel at this place, the smaller way.
        const double step = std::min(std::hypot(ux - u, vx - v), std::hypot(uy - u, vy - v));
        const double err = std::hypot(x - ox - u, y - oy - v) / std::max(step, 1e-6);
        worst = std::max(worst, err);
        ++checked;
      }
    }
  EXPECT_EQ(unseen, 0);
  EXPECT_GT(checked, static_cast<int64_t>(W) * H / 2);
  EXPECT_LE(worst, 1.0);
}

TEST_F(SixCameraLutTest, FilesLandOnlyAfterBothGroups) {
  gv().cameraMask = 7;
  gv().groupNumber = 0;
  float split[2] = {0, 0};
  ASSERT_EQ(Build(true, split), 0);
  EXPECT_EQ(gv().cameraMask, 7);
  EXPECT_EQ(gv().groupNumber, 0);
  EXPECT_EQ(split[0], kOutW / 2);
  EXPECT_GT(split[1], 0.0f);
  for (const char* f : {"lut_a.krv", "lut_b.krv", "cfg_a.krv", "cfg_b.krv", "lut_dyncalpha.krv",
                        "lut_mixareainfo.krv", "lut_mixareainfo_sixex.krv"})
    EXPECT_TRUE(std::filesystem::exists(Path(f))) << f;
  EXPECT_FALSE(std::filesystem::exists(Path("lut_a.krv_")));
  EXPECT_FALSE(std::filesystem::exists(Path("cfg_a.krv_")));
  MixAreaSixEx s = MixAreaSixEx_Empty();
  MixAreaSixEx_Load(&s, Path("lut_mixareainfo_sixex.krv").c_str());
  ASSERT_EQ(s.valid, 1u);
  EXPECT_EQ(s.quadWidth, 2 * kCamW);
  EXPECT_GT(s.tables[0].width, 0);
  MixAreaSixEx_Free(&s);

  // Group B fails: group A's files keep their old content, no temporaries
  // remain, and the configuration words are back.
  FILE* f = fopen(Path("lut_a.krv").c_str(), "wb");
  fputs("old", f);
  fclose(f);
  g_failGroup = 2;
  EXPECT_EQ(Build(true, split), 34);  // camera 2, the first of group B's mask 7 & 14
  EXPECT_EQ(std::filesystem::file_size(Path("lut_a.krv")), 3u);
  EXPECT_FALSE(std::filesystem::exists(Path("lut_a.krv_")));
  EXPECT_FALSE(std::filesystem::exists(Path("cfg_a.krv_")));
  EXPECT_EQ(gv().cameraMask, 7);
  EXPECT_EQ(gv().groupNumber, 0);
}

TEST_F(SixCameraLutTest, SplitRulesAndMissingInputs) {
  LUTOB* lut = LUTOB_Create();
  lut->cfg.carLength = 4600;
  const int32_t pairA = (300 << 16) | 800, pairB = (900 << 16) | 2700;
  LUTSix_SetSplit(lut, 1, 2000, pairA, pairB);
  EXPECT_EQ(lut->cfg.frontOverhang, 4600 - 2700 - 300);
  EXPECT_EQ(lut->cfg.wheelBase, 2700);
  LUTSix_SetSplit(lut, 2, 2000, pairA, pairB);
  EXPECT_EQ(lut->cfg.frontOverhang, 800);
  EXPECT_EQ(lut->cfg.wheelBase, 4600 - 2000 - 800 - 900);
  lut->cfg.wheelBase = 1;
  LUTSix_SetSplit(lut, 2, 2000, 800, pairB);  // high half 0: no change
  EXPECT_EQ(lut->cfg.wheelBase, 1);
  LUTOB_Destroy(lut);

  const int32_t mask = gv().cameraMask;
  EXPECT_EQ(LUTSix_InitMergerLUTOBByFile(a_, b_, 1800, 4600, 0, 900, 2800, 2, Path("none1.bmp").c_str(),
                                         Path("none2.bmp").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr),
            1);
  EXPECT_EQ(gv().cameraMask, mask);
  EXPECT_EQ(LUTSix_InitMergerLUTOBByHand(a_, b_, 1800, 4600, 0, 900, 2800, 2, kCamW, kCamH, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            1);
}

}  // namespace

namespace {

TEST_F(SixCameraLutTest, PerCameraImageAndSolve) {
  LUTOB* lut = rig_->MakeGroupLut(1);
  std::vector<float> pic(static_cast<size_t>(kCamW) * kCamH, 0.5f), small(16, 0.5f);
  const Matrix m{kCamW, kCamH, pic.data()}, wrong{4, 4, small.data()};
  EXPECT_EQ(LUTOB_SetImageAndFindCorners(lut, 2, &wrong), 0);
  EXPECT_EQ(LUTOB_SetImageAndFindCorners(lut, 5, &m), 0);
  // No detector linked in this executable: the picture lands, no corners.
  EXPECT_EQ(LUTOB_SetImageAndFindCorners(lut, 2, &m), 0);
  ASSERT_NE(lut->cameraImages[1], nullptr);
  EXPECT_EQ(lut->cameraImages[1]->data[7], 0.5f);

  EXPECT_EQ(LUTOB_SolveCamera(lut, 3, 0), 1);  // not enabled
  lut->cornerCounts[2] = 0;
  EXPECT_EQ(LUTOB_SolveCamera(lut, 3, 1), 0);  // no corners
  lut->cornerCounts[2] = 20;
  gv().groupNumber = 1;
  EXPECT_EQ(LUTOB_SolveCamera(lut, 3, 1), 1);  // this executable's solver: the rig's pose
  EXPECT_EQ(lut->params.T[2][0], rig_->cams[2].T[0]);
  // A failing solve retries once with the fallback count when enabled.
  g_failGroup = 1;
  gv().fallbackEnable34 = 1;
  gv().cornerCount34 = 8;
  EXPECT_EQ(LUTOB_SolveCamera(lut, 3, 1), 0);
  EXPECT_EQ(lut->cornerCounts[2], 8);
  gv().groupNumber = 0;
  LUTOB_Destroy(lut);
}

}  // namespace
