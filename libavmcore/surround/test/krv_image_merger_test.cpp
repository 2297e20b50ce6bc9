// The byte-LUT merger against a stitch of the same frame through the float
// maps it was packed from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "surround/byte_lut_file.h"
#include "surround/krv_image.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"
#include "testsupport/four_camera_rig.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr int32_t kCamW = 320, kCamH = 240, kQW = 2 * kCamW, kQH = 2 * kCamH;

class KRVImageMergerTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string path_ = std::string(DataDirectory()) + "/lut.krv";
  FourCameraRig* rig_ = nullptr;
  KRVImageMerger merger_{};
  std::vector<uint8_t> uyvy_, rgb_;

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = new FourCameraRig(kCamW, kCamH, 160, 240);
    ASSERT_EQ(LUT_GenerateMergerLUT(rig_->lut, 0, 0), 0);
    ASSERT_EQ(LUT_GenerateByteLUTFile(rig_->lut, path_.c_str(), ""), 0);
    ASSERT_EQ(KRVImageMerger_Init(&merger_, path_.c_str(), kQW, kQH), 0);
    ASSERT_EQ(merger_.loaded, 1u);
    // A slowly varying colour picture per camera, as UYVY, and the RGB the
    // merger's converter gives back from it.
    std::vector<uint8_t> src(static_cast<size_t>(kQW) * kQH * 3);
    for (int32_t y = 0; y < kQH; ++y)
      for (int32_t x = 0; x < kQW; ++x) {
        const int cam = (y >= kCamH ? 2 : 0) + (x >= kCamW ? 1 : 0);
        uint8_t* p = &src[(static_cast<size_t>(y) * kQW + x) * 3];
        p[0] = static_cast<uint8_t>(90 + 2 * cam + (x % kCamW) / 64);
        p[1] = static_cast<uint8_t>(110 + cam + (y % kCamH) / 64);
        p[2] = static_cast<uint8_t>(130 - 2 * cam);
      }
    uyvy_.resize(static_cast<size_t>(kQW) * kQH * 2);
    const Rgb24Image in{kQW, kQH, 0, src.data(), 3 * kQW};
    const PackedFrame pf{kQW, kQH, uyvy_.data(), 2 * kQW};
    Rgb24_ToUYVY(&in, &pf);
    rgb_.resize(src.size());
    const Rgb24Image back{kQW, kQH, 0, rgb_.data(), 3 * kQW};
    Yuv_UYVYToRGB24(&pf, &back);
  }
  void TearDown() override {
    KRVImageMerger_Release(&merger_);
    delete rig_;
  }

  // Float-map stitch of output pixel i with per-sample gains, as the range
  // the samples' 3 x 3 pixel neighbourhoods give: the byte planes carry a
  // source point to a fraction of a pixel, so its truncation may land on
  // the neighbouring pixel.
  void Reference(size_t i, int channel, const float g1[3], const float g2[3], float* lo, float* hi) const {
    const LutConfig& c = rig_->lut->cfg;
    auto range = [&](float x, float y, float* mn, float* mx) {
      *mn = 255.0f;
      *mx = 0.0f;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int32_t xi = std::min(std::max(static_cast<int32_t>(x) + dx, 0), kQW - 1);
          const int32_t yi = std::min(std::max(static_cast<int32_t>(y) + dy, 0), kQH - 1);
          const float v = rgb_[(static_cast<size_t>(yi) * kQW + xi) * 3 + 2 - channel];
          *mn = std::min(*mn, v);
          *mx = std::max(*mx, v);
        }
    };
    float a0, a1, b0, b1;
    range(c.X1.data[i], c.Y1.data[i], &a0, &a1);
    range(c.X2.data[i], c.Y2.data[i], &b0, &b1);
    const float w = c.W1.data[i];
    *lo = std::min(255.0f, w * a0 * g1[channel] + (1.0f - w) * b0 * g2[channel]);
    *hi = std::min(255.0f, w * a1 * g1[channel] + (1.0f - w) * b1 * g2[channel]);
  }
  // How far the output lies outside the reference range, both ends
  // truncated to bytes as the merger stores them.
  float Outside(size_t i, int channel, const float g1[3], const float g2[3]) const {
    float lo, hi;
    Reference(i, channel, g1, g2, &lo, &hi);
    lo = std::floor(lo);
    hi = std::floor(hi);
    const float v = merger_.outRGB[i * 3 + channel];
    return v < lo ? lo - v : (v > hi ? v - hi : 0.0f);
  }
};

TEST_F(KRVImageMergerTest, PlainStitchEqualsTheFloatMaps) {
  ASSERT_EQ(KRVImageMerger_ExecUYVY(&merger_, uyvy_.data()), 0);
  const float one[3] = {1, 1, 1};
  const size_t n = static_cast<size_t>(merger_.outWidth) * merger_.outHeight;
  float worst = 0.0f;
  for (size_t i = 0; i < n; ++i)
    for (int ch = 0; ch < 3; ++ch)
      worst = std::max(worst, Outside(i, ch, one, one));
  EXPECT_LE(worst, 1.0f);
}

TEST_F(KRVImageMergerTest, ColourRowsEqualTheFloatMaps) {
  // Camera 3 and 4 single rows; nine rows each for cameras 1 and 2 that
  // change from row to row.
  std::vector<float> table(kKRVColourTableFloats, 1.0f);
  for (int i = 0; i < 6; ++i) {
    table[12 + i] = 0.8f + 0.02f * i;
    table[18 + i] = 1.1f - 0.01f * i;
  }
  for (int k = 0; k < 9; ++k)
    for (int i = 0; i < 6; ++i) {
      table[24 + 6 * k + i] = 0.9f + 0.02f * k + 0.01f * i;
      table[78 + 6 * k + i] = 1.05f - 0.015f * k;
    }
  ASSERT_EQ(KRVImageMerger_ExecColourUYVY(&merger_, table.data(), uyvy_.data()), 0);
  const LutConfig& c = rig_->lut->cfg;
  const int32_t W = merger_.outWidth, H = merger_.outHeight;
  auto gains = [&](float x, float y, int32_t r, float w2, float g[3]) {
    const int32_t xi = static_cast<int32_t>(x), yi = static_cast<int32_t>(y);
    float row[6] = {1, 1, 1, 1, 1, 1};
    if (yi > kCamH && xi != kCamW) {
      for (int i = 0; i < 6; ++i) row[i] = table[(xi < kCamW ? 12 : 18) + i];
    } else if (yi < kCamH && xi != kCamW) {
      const bool first = xi < kCamW;
      const float t = first ? 7.99f - r / (c.carTop / 7.99f) : 7.99f - (H - 1 - r) / ((H - c.carBottom) / 7.99f);
      const int k = std::min(std::max(static_cast<int>(t), 0), 7);
      const float f = t - k;
      const float* base = &table[first ? 24 : 78];
      for (int i = 0; i < 6; ++i) row[i] = (1 - f) * base[6 * k + i] + f * base[6 * (k + 1) + i];
    }
    for (int i = 0; i < 3; ++i) g[i] = w2 * row[i] + (1 - w2) * row[i + 3];
  };
  float worst = 0.0f;
  for (int32_t r = 0; r < H; ++r)
    for (int32_t col = 0; col < W; ++col) {
      const size_t i = static_cast<size_t>(r) * W + col;
      // W2 as the planes carry it (a byte; -1 where no ramp reaches is 0).
      const float w2 = static_cast<float>(static_cast<int>(std::max(c.W2.data[i], 0.0f) * 255.0f + 0.5f)) / 255.0f;
      float g1[3], g2[3];
      gains(c.X1.data[i], c.Y1.data[i], r, w2, g1);
      gains(c.X2.data[i], c.Y2.data[i], r, w2, g2);
      for (int ch = 0; ch < 3; ++ch)
        worst = std::max(worst, Outside(i, ch, g1, g2));
    }
  EXPECT_LE(worst, 1.0f);
}

TEST_F(KRVImageMergerTest, BadFramesAndRelease) {
  const KRVMergerFrame small{kQW / 2, kQH, uyvy_.data(), kQW};
  EXPECT_EQ(KRVImageMerger_Exec(&merger_, 7, &small), 1);
  EXPECT_EQ(KRVImageMerger_Exec(&merger_, 7, nullptr), 1);
  EXPECT_EQ(KRVImageMerger_ExecColourUYVY(&merger_, nullptr, uyvy_.data()), 1);
  // An unknown format converts nothing but still stitches.
  const KRVMergerFrame f{kQW, kQH, uyvy_.data(), 2 * kQW};
  EXPECT_EQ(KRVImageMerger_Exec(&merger_, 99, &f), 0);
  KRVImageMerger idle{};
  EXPECT_EQ(KRVImageMerger_Release(&idle), 0);
  EXPECT_EQ(KRVImageMerger_ExecUYVY(&idle, uyvy_.data()), 1);
}

}  // namespace

namespace {

// A sample on the quad frame's middle column belongs to no camera: it keeps
// unit gains (at the first pixel too), while its neighbour takes camera 1's.
TEST(KRVImageMergerGains, MiddleColumnSampleKeepsUnitGains) {
  ScopedConfigState state;
  const int32_t Wq = 320, Hq = 240, W = 2, H = 1;
  std::vector<float> x1 = {160.6f, 100.0f}, y1 = {10.0f, 10.0f}, one(2, 1.0f);
  const Matrix X1{W, H, x1.data()}, Y1{W, H, y1.data()}, O{W, H, one.data()};
  std::vector<uint8_t> bytes[4];
  ImageU8 p[4];
  for (int k = 0; k < 4; ++k) {
    bytes[k].assign(static_cast<size_t>(W) * 2 * H, 0);
    p[k] = ImageU8{W, 2 * H, bytes[k].data()};
  }
  LUT_PackBytePlanes(&p[0], &p[1], &p[2], &p[3], &X1, &Y1, &X1, &Y1, &O, &O, Wq, Hq);
  const std::string path = std::string(DataDirectory()) + "/mid.krv";
  const int32_t pair1[2] = {100, 0}, pair2[2] = {200, 2};
  ASSERT_EQ(KRVImage_Save(&p[0], &p[1], &p[2], &p[3], pair1, pair2, path.c_str()), 1);
  KRVImageMerger m{};
  ASSERT_EQ(KRVImageMerger_Init(&m, path.c_str(), Wq, Hq), 0);
  ASSERT_EQ(m.loaded, 1u);
  std::vector<uint8_t> uyvy(static_cast<size_t>(Wq) * Hq * 2);
  for (size_t i = 0; i < uyvy.size(); i += 2) {
    uyvy[i] = 128;
    uyvy[i + 1] = 100;
  }
  std::vector<float> table(kKRVColourTableFloats, 1.5f);
  ASSERT_EQ(KRVImageMerger_ExecUYVY(&m, uyvy.data()), 0);
  const uint8_t plain = m.outRGB[0];
  ASSERT_EQ(KRVImageMerger_ExecColourUYVY(&m, table.data(), uyvy.data()), 0);
  EXPECT_EQ(m.outRGB[0], plain);                          // middle column: unit gains
  EXPECT_NEAR(m.outRGB[3], std::min(255.0f, plain * 1.5f), 1.0f);  // camera 1
  KRVImageMerger_Release(&m);
}

}  // namespace
