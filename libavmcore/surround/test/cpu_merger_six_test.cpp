#include "surround/cpu_merger_six.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "surround/byte_lut_file.h"
#include "surround/lutob.h"
#include "surround/mab_lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/six_camera_rig.h"

namespace {

constexpr int32_t kCamW = 160, kCamH = 120;

TEST(SixCameraRamps, ExamplesWithAndWithoutExtraGains) {
  float gains[24], extra[12];
  for (int k = 0; k < 24; ++k) gains[k] = 0.5f + 0.05f * (k / 3);  // G1..G8 = 128, 140, ...
  for (int k = 0; k < 12; ++k) extra[k] = 1.5f + 0.1f * (k / 3);   // X1..X4
  int32_t r[6][256];
  LUTHI6CPU_BuildRamps(gains, nullptr, r);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(r[2][i], r[4][i]);
    EXPECT_EQ(r[3][i], r[5][i]);
  }
  const int32_t G5 = static_cast<int32_t>(256 * (0.5f + 0.05f * 4)), X1 = static_cast<int32_t>(256 * 1.5f);
  const int32_t X2 = static_cast<int32_t>(256 * 1.6f);
  LUTHI6CPU_BuildRamps(gains, extra, r);
  EXPECT_EQ(r[2][128], 255 * X1);
  EXPECT_EQ(r[2][200], 255 * X1);
  EXPECT_EQ(r[4][129], 255 * X2);
  EXPECT_EQ(r[4][131], 254 * X2 + 1 * G5);
  EXPECT_EQ(r[4][255], 192 * X2 + 63 * G5);
}

TEST(SixCameraFiles, CameraCountAndSlots) {
  ScopedConfigState state;
  const std::string dir = DataDirectory();
  auto write = [&](const char* name, uint32_t magic) {
    const std::string p = dir + "/" + name;
    FILE* f = fopen(p.c_str(), "wb");
    fwrite(&magic, 4, 1, f);
    fclose(f);
    return p;
  };
  EXPECT_EQ(LUTFile_GetCameraCount(write("a.mab", kMABMagic).c_str()), 4);
  EXPECT_EQ(LUTFile_GetCameraCount(write("b.mab", kMAB6Magic).c_str()), 6);
  EXPECT_EQ(LUTFile_GetCameraCount(write("c.krv", 0x00666601u).c_str()), 0);
  EXPECT_EQ(LUTFile_GetCameraCount((dir + "/none").c_str()), 0);
  const int32_t want[2][4] = {{0, 1, 2, 3}, {0, 1, 4, 5}};
  for (int g = 0; g < 2; ++g)
    for (int s = 0; s < 4; ++s) EXPECT_EQ(CameraSlotTable(g, s), want[g][s]);
}

class SixCameraStitchTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  MergerCPUOB6 obj_;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    SixCameraRig rig(kCamW, kCamH, 120, 220);
    LUTOB* a = rig.MakeGroupLut(1);
    LUTOB* b = rig.MakeGroupLut(2);
    ASSERT_EQ(GenerateMAB6File(a, b, Path("six.mab").c_str()), 0);
    ASSERT_EQ(SaveLUTConfig(a, Path("cfg_a.krv").c_str()), 1);
    ASSERT_EQ(SaveLUTConfig(b, Path("cfg_b.krv").c_str()), 1);
    LUTOB_Destroy(a);
    LUTOB_Destroy(b);
  }
  void TearDown() override { LUTHI6CPU_Release(&obj_); }
  std::string Path(const char* n) const { return dir_ + "/" + n; }
};

TEST_F(SixCameraStitchTest, EqualsAPlainPerPixelReference) {
  int32_t W = 0, H = 0;
  ASSERT_EQ(LUTHI6CPU_InitFromFile(&obj_, Path("six.mab").c_str(), Path("cfg_a.krv").c_str(),
                                   Path("cfg_b.krv").c_str(), 5, &W, &H),
            1);
  ASSERT_EQ(W, 120);
  size_t runs = 0;
  for (auto& l : obj_.blendRuns) runs += l.size();
  ASSERT_GT(runs, 0u);
  // Pictures that cover the whole output from their origin (pitch W), with
  // a different pattern per camera.
  std::vector<uint8_t> luma[6], chroma[6];
  const uint8_t* cams[6][2];
  int32_t camPitch[6][2];
  for (int k = 0; k < 6; ++k) {
    luma[k].resize(static_cast<size_t>(W) * H);
    chroma[k].resize(static_cast<size_t>(W) * H / 2);
    for (size_t i = 0; i < luma[k].size(); ++i) luma[k][i] = static_cast<uint8_t>((i * (7 + 2 * k) + 31 * k) % 251);
    for (size_t i = 0; i < chroma[k].size(); ++i) chroma[k][i] = static_cast<uint8_t>((i * 3 + 50 * k) % 256);
    cams[k][0] = luma[k].data();
    cams[k][1] = chroma[k].data();
    camPitch[k][0] = W;
    camPitch[k][1] = W;
  }
  float gains[24], extra[12];
  for (int k = 0; k < 24; ++k) gains[k] = 0.8f + 0.03f * k;
  for (int k = 0; k < 12; ++k) extra[k] = 1.2f - 0.04f * k;
  std::vector<uint8_t> outY(static_cast<size_t>(W) * H, 0), outC(static_cast<size_t>(W) * H / 2, 0);
  const CPUMergerOutput out{outY.data(), outC.data()};
  const int32_t pitches[2] = {W, W};
  for (int form = 0; form < 2; ++form) {
    const float* x = form == 0 ? nullptr : extra;
    ASSERT_EQ(LUTHI6CPU_Exec(&obj_, cams, camPitch, &out, pitches, gains, x), 1);
    // The reference: every run pixel by the rules, one at a time.
    int32_t R[6][256];
    LUTHI6CPU_BuildRamps(gains, x, R);
    std::vector<int> refY(outY.size(), -1), refC(outC.size(), -1);
    auto px = [&](int k, int32_t r, int32_t c) {
      int32_t orow, ocol;
      LUTHI6CPU_CameraOrigin(&obj_, k, &orow, &ocol);
      return static_cast<uint32_t>(luma[k][static_cast<size_t>(r - orow) * W + (c - ocol)]);
    };
    auto pair = [&](int k, int32_t r, int32_t c, int32_t byte) {
      int32_t orow, ocol;
      LUTHI6CPU_CameraOrigin(&obj_, k, &orow, &ocol);
      return chroma[k][static_cast<size_t>((r - orow) >> 1) * W + 2 * ((c - ocol) >> 1) + byte];
    };
    auto lo = [&](int32_t r, int32_t c) { return obj_.blendMap[static_cast<size_t>(r) * W + c] & 255; };
    for (int k = 0; k < 6; ++k)
      for (const CPUStitchRun& run : obj_.singleRuns[k])
        for (int32_t c = run.col; c < run.col + run.length; ++c) {
          const int32_t r = run.row, a = run.col, b = run.col + run.length;
          const int32_t g0 = (a + 3) & ~3, last = (b - 1) & ~3, g = c & ~3;
          int32_t gain;
          if (c < g0 || c >= last) gain = R[k][lo(r, c)];
          else if (g == g0) gain = R[k][lo(r, g0 + 4)];
          else gain = R[k][lo(r, g)] + (c - g) * ((R[k][lo(r, g + 4)] - R[k][lo(r, g)]) / 4);
          refY[static_cast<size_t>(r) * W + c] = static_cast<int>(std::min<uint32_t>(255, (px(k, r, c) * gain) >> 16));
          if ((r & 1) == 0 && (c & 1) == 0)
            for (int by = 0; by < 2; ++by) refC[static_cast<size_t>(r / 2) * W + c + by] = pair(k, r, c, by);
        }
    const int first[6] = {0, 0, 1, 1, 2, 3}, second[6] = {2, 3, 4, 5, 4, 5};
    for (int p = 0; p < 6; ++p)
      for (const CPUStitchRun& run : obj_.blendRuns[p])
        for (int32_t c = run.col; c < run.col + run.length; ++c) {
          const int32_t r = run.row;
          const uint32_t a = obj_.blendMap[static_cast<size_t>(r) * W + c] >> 8;
          const uint32_t v = (px(first[p], r, c) * R[first[p]][lo(r, c)] * a +
                              px(second[p], r, c) * R[second[p]][lo(r, c)] * (32 - a)) >> 21;
          refY[static_cast<size_t>(r) * W + c] = static_cast<int>(std::min<uint32_t>(255, v));
          if ((r & 1) == 0 && (c & 1) == 0)
            for (int by = 0; by < 2; ++by) refC[static_cast<size_t>(r / 2) * W + c + by] = pair(first[p], r, c, by);
        }
    size_t covered = 0;
    for (size_t i = 0; i < refY.size(); ++i) {
      if (refY[i] < 0) continue;
      ++covered;
      ASSERT_EQ(outY[i], refY[i]) << "form " << form << " pixel " << i;
    }
    for (size_t i = 0; i < refC.size(); ++i)
      if (refC[i] >= 0) {
        ASSERT_EQ(outC[i], refC[i]) << "chroma " << i;
      }
    EXPECT_GT(covered, refY.size() / 2);
  }
}

TEST_F(SixCameraStitchTest, BadFilesAndUnloadedObject) {
  const uint8_t* cams[6][2] = {};
  int32_t camPitch[6][2] = {};
  std::vector<uint8_t> y(16), c(16);
  const CPUMergerOutput out{y.data(), c.data()};
  const int32_t pitches[2] = {4, 4};
  const float gains[24] = {};
  EXPECT_EQ(LUTHI6CPU_Exec(&obj_, cams, camPitch, &out, pitches, gains, nullptr), 0);
  EXPECT_EQ(LUTHI6CPU_InitFromFile(&obj_, Path("none.mab").c_str(), Path("cfg_a.krv").c_str(),
                                   Path("cfg_b.krv").c_str(), 0, nullptr, nullptr),
            0);
  EXPECT_EQ(LUTHI6CPU_InitFromFile(&obj_, Path("six.mab").c_str(), Path("none.krv").c_str(),
                                   Path("cfg_b.krv").c_str(), 0, nullptr, nullptr),
            0);
  // A four-camera run file is not a six-camera one.
  EXPECT_EQ(LUTHI6CPU_InitFromFile(&obj_, Path("cfg_a.krv").c_str(), Path("cfg_a.krv").c_str(),
                                   Path("cfg_b.krv").c_str(), 0, nullptr, nullptr),
            0);
  EXPECT_EQ(obj_.loaded, 0);
  LUTHI6CPU_Release(&obj_);  // unloaded: nothing
}

}  // namespace
