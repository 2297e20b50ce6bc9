#include "pipeline/fast_boot_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "surround/merger_lut.h"
#include "testsupport/config_state.h"
#include "testsupport/file_bytes.h"
#include "testsupport/four_camera_rig.h"
#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"
#include "toolkit/sampling.h"

namespace {

using testsupport::ReadFileBytes;

constexpr int32_t kCamW = 160, kCamH = 120, kOutW = 160, kOutH = 240, kScreenW = 260;

class FastBootTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  FourCameraRig* rig_ = nullptr;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = new FourCameraRig(kCamW, kCamH, kOutW, kOutH);
    gv().f7 = kScreenW;
    gv().f8 = kOutH;
    ASSERT_EQ(LUT_GenerateMergerLUT(rig_->lut, 0, 0), 0);
  }
  void TearDown() override { delete rig_; }
  std::string Path(const char* n) const { return dir_ + "/" + n; }
  // A colour BMP of w x h whose colour follows the position.
  void WritePicture(const std::string& path, int32_t w, int32_t h) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = static_cast<uint8_t>(40 + x % 100);
        p[1] = static_cast<uint8_t>(200 - y % 100);
        p[2] = 90;
      }
    const Rgb24Image img{w, h, 0, px.data(), 3 * w};
    ASSERT_EQ(Bmp_SaveRGB24(&img, path.c_str()), 1);
  }
  bool Build(FastBootImage* m) {
    const LutConfig& c = rig_->lut->cfg;
    const int32_t cw = (c.carRight - c.carLeft) & ~3, ch = c.carBottom - c.carTop;
    const int32_t hb = (kOutH - static_cast<int32_t>(0.2f * (kScreenW - kOutW))) & ~3;
    WritePicture(Path("car.bmp"), cw, ch);
    WritePicture(Path("under.bmp"), kScreenW - kOutW, kOutH - hb);
    return FastBoot_Build(m, rig_->lut, Path("car.bmp").c_str(), Path("under.bmp").c_str()) == 1;
  }
};

TEST_F(FastBootTest, WriteAndReadBackByteIdentical) {
  FastBootImage m;
  ASSERT_TRUE(Build(&m));
  EXPECT_EQ(m.W, kScreenW);
  EXPECT_EQ(m.Hb, 220);
  EXPECT_EQ(m.QW, 2 * kCamW);
  ASSERT_EQ(FastBoot_Save(&m, Path("fastboot.krv").c_str()), 1);
  FastBootImage back;
  ASSERT_EQ(FastBoot_Load(&back, Path("fastboot.krv").c_str()), 1);
  EXPECT_EQ(back.lut, m.lut);
  EXPECT_EQ(back.picture1, m.picture1);
  EXPECT_EQ(back.picture2, m.picture2);
  ASSERT_EQ(FastBoot_Save(&back, Path("again.krv").c_str()), 1);
  const std::vector<uint8_t> a = ReadFileBytes(Path("fastboot.krv")), b = ReadFileBytes(Path("again.krv"));
  EXPECT_EQ(a.size(), 44 + 4 * static_cast<size_t>(m.Wb) * m.H + m.picture1.size() + m.picture2.size());
  EXPECT_EQ(a, b);
  FastBoot_Free(&back);
  EXPECT_TRUE(back.lut.empty());
}

TEST_F(FastBootTest, RenderMatchesTheBirdsEyePicture) {
  FastBootImage m;
  ASSERT_TRUE(Build(&m));
  // A raw UYVY quad frame with a gentle luma gradient.
  const int32_t QW = 2 * kCamW, QH = 2 * kCamH;
  std::vector<uint8_t> frame(static_cast<size_t>(QW) * QH * 2);
  std::vector<float> luma(static_cast<size_t>(QW) * QH);
  for (int32_t y = 0; y < QH; ++y)
    for (int32_t x = 0; x < QW; ++x) {
      const uint8_t v = static_cast<uint8_t>(40 + (x % kCamW + y % kCamH) / 2);
      luma[static_cast<size_t>(y) * QW + x] = v;
      frame[(static_cast<size_t>(y) * QW + x) * 2] = (x & 1) ? 140 : 110;
      frame[(static_cast<size_t>(y) * QW + x) * 2 + 1] = v;
    }
  std::vector<uint8_t> out(static_cast<size_t>(kScreenW) * kOutH * 2);
  ASSERT_EQ(FastBoot_Render(&m, frame.data(), out.data()), 1);
  // The bird's-eye picture from the float maps, where one camera serves a
  // pixel (a blend mixes two far-apart places of the gradient).
  const LutConfig& c = rig_->lut->cfg;
  const Matrix img{QW, QH, luma.data()};
  const int32_t carX0 = ((kOutW - m.CW) / 2) & ~1;
  int worst = 0, checked = 0;
  for (int32_t r = 0; r < kOutH; ++r)
    for (int32_t col = 0; col < kOutW; ++col) {
      if (col >= carX0 && col < carX0 + m.CW && r >= m.P && r < m.P + m.CH) continue;  // car picture
      const size_t i = static_cast<size_t>(r) * kOutW + col;
      const float w = c.W1.data[i];
      if (w > 0.01f && w < 0.99f) continue;
      const float x = w >= 0.5f ? c.X1.data[i] : c.X2.data[i], y = w >= 0.5f ? c.Y1.data[i] : c.Y2.data[i];
      if (x < 1 || y < 1 || x > QW - 2 || y > QH - 2) continue;
      const float want = Image_SampleBilinear(&img, y, x);
      worst = std::max(worst, static_cast<int>(std::fabs(out[(static_cast<size_t>(r) * kScreenW + col) * 2 + 1] - want) + 0.5f));
      ++checked;
    }
  EXPECT_GT(checked, kOutW * kOutH / 2);
  EXPECT_LE(worst, 2);
  // The pictures over it.
  EXPECT_EQ(out[(static_cast<size_t>(m.P) * kScreenW + carX0) * 2 + 1], m.picture1[1]);
  EXPECT_EQ(out[(static_cast<size_t>(m.Hb) * kScreenW + kOutW) * 2 + 1], m.picture2[1]);
}

TEST_F(FastBootTest, BadFilesAndInputs) {
  FastBootImage m;
  EXPECT_EQ(FastBoot_Build(&m, rig_->lut, Path("none.bmp").c_str(), Path("none.bmp").c_str()), 0);
  ASSERT_TRUE(Build(&m));
  ASSERT_EQ(FastBoot_Save(&m, Path("fb.krv").c_str()), 1);
  std::vector<uint8_t> bytes = ReadFileBytes(Path("fb.krv"));
  auto loads = [&](const std::vector<uint8_t>& content) {
    FILE* f = fopen(Path("bad.krv").c_str(), "wb");
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
    FastBootImage t;
    const int r = FastBoot_Load(&t, Path("bad.krv").c_str());
    if (r == 0) {
      EXPECT_TRUE(t.lut.empty());
    }
    return r;
  };
  EXPECT_EQ(loads(std::vector<uint8_t>(bytes.begin(), bytes.end() - 1)), 0);  // short
  std::vector<uint8_t> bad = bytes;
  bad[0] = 0;
  EXPECT_EQ(loads(bad), 0);  // magic
  bad = bytes;
  bad[7] = 0x40;  // H far beyond any screen
  EXPECT_EQ(loads(bad), 0);
  bad = bytes;
  bad[12] = 0xFF;  // Wb wider than the screen
  bad[13] = 0x0F;
  EXPECT_EQ(loads(bad), 0);
  // The car picture's row P (word 7): far beyond any screen either way it
  // made the row arithmetic of the render overflow.
  for (int32_t p : {INT32_MAX, INT32_MIN, kFastBootMaxSide + 1, -kFastBootMaxSide - 1}) {
    bad = bytes;
    memcpy(&bad[28], &p, 4);
    EXPECT_EQ(loads(bad), 0) << p;
  }
  EXPECT_EQ(loads(bytes), 1);
  EXPECT_EQ(FastBoot_Load(&m, Path("none.krv").c_str()), 0);
  // A LUT word outside the frame paints nothing there.
  m.lut[0] = (5000u << 16) | 3u;
  std::vector<uint8_t> frame(static_cast<size_t>(m.QW) * m.QH * 2, 200), out(static_cast<size_t>(m.W) * m.H * 2);
  ASSERT_EQ(FastBoot_Render(&m, frame.data(), out.data()), 1);
  EXPECT_EQ(out[1], 128);
  EXPECT_EQ(FastBoot_Render(&m, nullptr, out.data()), 0);
}

}  // namespace
