#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "globalimage_api.h"
#include "surround/cpu_merger.h"
#include "camera/lut_config_file.h"
#include "testsupport/config_state.h"

namespace {

class CpuMergerExportsTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  std::string Path(const char* n) { return dir_ + "/" + n; }
};

TEST_F(CpuMergerExportsTest, FailedInitsReturnNullAndKeepNothing) {
  uint32_t w = 77, h = 77;
  EXPECT_EQ(KRV_GlobalImage_InitMergerCPUOB(Path("lut_config.krv").c_str(), Path("missing.krv").c_str(), 0, 640,
                                            480, 0, &w, &h),
            nullptr);
  EXPECT_EQ(w, 77u);
  LutConfigFileData d{};
  d.quadWidth = 1280;
  d.quadHeight = 960;
  ASSERT_TRUE(LutConfigFile_Write(Path("lut_config.krv").c_str(), d, gv().pointsPerCamera, gv().maxPoints));
  EXPECT_EQ(KRV_GlobalImage_InitMergerCPUOB(Path("lut_config.krv").c_str(), Path("missing.krv").c_str(), 0, 640,
                                            480, 0, &w, &h),
            nullptr);
  EXPECT_EQ(KRV_GlobalImage_InitMergerCPUOB_YW(Path("lut_config.krv").c_str(), Path("missing.mab").c_str(), nullptr,
                                               nullptr, nullptr, nullptr, 0, 640, 480, 0, &w, &h),
            nullptr);
  EXPECT_EQ(KRV_GlobalImage_UnInitMergerCPUOB(nullptr), 0);
}

TEST_F(CpuMergerExportsTest, RunTableInitExecAndRelease) {
  // A 16 x 8 output whose top band (4 rows) reads camera 1 at (5 + c, 5 + r).
  const int W = 16, H = 8;
  std::vector<float> x1(W * H, 0), y1(W * H, 0), x2(W * H, 0), y2(W * H, 0), w1(W * H, 1.0f), w2(W * H, 0);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < W; ++c) {
      x1[r * W + c] = 5.0f + c;
      y1[r * W + c] = 5.0f + r;
    }
  Matrix m[6] = {{W, H, x1.data()}, {W, H, y1.data()}, {W, H, x2.data()},
                 {W, H, y2.data()}, {W, H, w1.data()}, {W, H, w2.data()}};
  StitchMaps maps{32, 24, {4, 0, 0, 0}, &m[0], &m[1], &m[2], &m[3], &m[4], &m[5]};
  ASSERT_EQ(GenerateMABFileFromMaps(maps, Path("a.mab").c_str()), 0);
  LutConfigFileData d{};
  d.quadWidth = 64;
  d.quadHeight = 48;
  d.bandSizes[0] = 4;
  ASSERT_TRUE(LutConfigFile_Write(Path("lut_config.krv").c_str(), d, gv().pointsPerCamera, gv().maxPoints));
  uint32_t w = 0, h = 0;
  MergerCPUOB* obj = KRV_GlobalImage_InitMergerCPUOB_YW(Path("lut_config.krv").c_str(), Path("a.mab").c_str(),
                                                        nullptr, nullptr, nullptr, nullptr, 1, 32, 24, 2, &w, &h);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(w, 16u);
  EXPECT_EQ(h, 8u);
  std::vector<uint8_t> cam(32 * 24 * 3 / 2, 100), luma(W * H, 0), chroma(W * H / 2, 0);
  uint8_t* out[2] = {luma.data(), chroma.data()};
  uint32_t pitches[2] = {16, 16};
  std::vector<float> gains(24, 1.0f);
  EXPECT_EQ(KRV_GlobalImage_ExecCPUMerger(obj, cam.data(), cam.data(), cam.data(), cam.data(), out, pitches,
                                          gains.data(), 0),
            0);
  // No grid: every pixel reads the camera's first pixel, scaled by 255/256.
  EXPECT_EQ(luma[0], 99);
  EXPECT_EQ(luma[3 * W + 15], 99);
  EXPECT_EQ(luma[4 * W], 0);
  EXPECT_EQ(KRV_GlobalImage_UnInitMergerCPUOB(obj), 0);
  // Exec on a null handle writes nothing and still returns 0.
  EXPECT_EQ(KRV_GlobalImage_ExecCPUMerger(nullptr, cam.data(), cam.data(), cam.data(), cam.data(), out, pitches,
                                          gains.data(), 0),
            0);
}

}  // namespace
