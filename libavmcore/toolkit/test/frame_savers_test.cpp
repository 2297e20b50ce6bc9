#include "toolkit/frame_savers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/test/pixel_test_util.h"

namespace {

using pixel_test::Exists;
using pixel_test::TempDir;

// Pixel (x, y) of a saved 24-bit file, bytes B, G, R.
std::vector<uint8_t> FilePixel(const std::vector<uint8_t>& f, int w, int h, int x, int y) {
  const int row = ((24 * w + 31) >> 3) & ~3;
  const size_t off = 54 + static_cast<size_t>(h - 1 - y) * row + 3 * x;
  return {f[off], f[off + 1], f[off + 2]};
}

TEST(FrameSavers, BlackNv12FrameGivesA70ByteFile) {
  TempDir dir;
  uint8_t luma[4] = {16, 16, 16, 16}, chroma[2] = {128, 128};
  YuvSemiPlanarFrame f{2, 2, luma, chroma, 2};
  const std::string path = dir.File("nv12.bmp");
  ASSERT_EQ(Bmp_SaveFrameNV12(&f, path.c_str()), 1);
  const std::vector<uint8_t> file = testsupport::ReadFileBytes(path);
  ASSERT_EQ(file.size(), 70u);
  for (size_t i = 54; i < file.size(); ++i) EXPECT_EQ(file[i], 0) << i;
}

// Every single-frame saver against the converter of its layout: a grey
// frame (U = V = 128) of luma 235 saves as 254 everywhere.
TEST(FrameSavers, EverySingleFrameSaver) {
  TempDir dir;
  const int w = 4, h = 2;
  std::vector<uint8_t> luma(w * h, 235), chroma(w * h / 2, 128), cu(w * h / 4, 128), cv(w * h / 4, 128);
  std::vector<uint8_t> yuyv, uyvy;
  for (int i = 0; i < w * h / 2; ++i) {
    yuyv.insert(yuyv.end(), {235, 128, 235, 128});
    uyvy.insert(uyvy.end(), {128, 235, 128, 235});
  }
  std::vector<uint8_t> rgb565(w * h * 2, 0xFF);
  YuvPlanarFrame i420{w, h, luma.data(), cu.data(), cv.data(), w};
  YuvSemiPlanarFrame sp{w, h, luma.data(), chroma.data(), w};
  PackedFrame p1{w, h, yuyv.data(), 2 * w}, p2{w, h, uyvy.data(), 2 * w}, p3{w, h, rgb565.data(), 2 * w};
  struct Case {
    const char* name;
    int written;
    std::vector<uint8_t> bgr;
  } cases[] = {
      {"i420", Bmp_SaveFrameI420(&i420, dir.File("i420").c_str()), {254, 254, 254}},
      {"nv12", Bmp_SaveFrameNV12(&sp, dir.File("nv12").c_str()), {254, 254, 254}},
      {"nv21", Bmp_SaveFrameNV21(&sp, dir.File("nv21").c_str()), {254, 254, 254}},
      {"yuyv", Bmp_SaveFrameYUYV(&p1, dir.File("yuyv").c_str()), {254, 254, 254}},
      {"uyvy", Bmp_SaveFrameUYVY(&p2, dir.File("uyvy").c_str()), {254, 254, 254}},
      {"rgb565", Bmp_SaveFrameRGB565(&p3, dir.File("rgb565").c_str()), {248, 252, 248}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.written, 1);
    const std::vector<uint8_t> f = testsupport::ReadFileBytes(dir.File(c.name));
    ASSERT_EQ(f.size(), 54u + 12u * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) EXPECT_EQ(FilePixel(f, w, h, x, y), c.bgr);
  }
  EXPECT_EQ(Bmp_SaveFrameNV12(nullptr, dir.File("x").c_str()), 0);
  EXPECT_FALSE(Exists(dir.File("x")));
}

// A UYVY quad view whose quadrants have lumas 50, 100, 150, 200.
struct UyvyQuad {
  int w = 8, h = 4;
  std::vector<uint8_t> data;
  UyvyQuad() {
    data.resize(w * h * 2);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int q = (y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0);
        data[y * 2 * w + 2 * x] = 128;
        data[y * 2 * w + 2 * x + 1] = static_cast<uint8_t>(50 * (q + 1));
      }
  }
};

int GreyOf(int luma) {
  uint8_t bgr[3];
  uint8_t lum[2] = {static_cast<uint8_t>(luma), static_cast<uint8_t>(luma)}, ch[2] = {128, 128};
  YuvSemiPlanarFrame f{1, 1, lum, ch, 2};
  Rgb24Image out{1, 1, 0, bgr, 3};
  Yuv_NV12ToRGB24(&f, &out);
  return bgr[0];
}

TEST(FrameSavers, QuadrantMasks) {
  TempDir dir;
  UyvyQuad quad;
  PackedFrame f{quad.w, quad.h, quad.data.data(), 2 * quad.w};
  struct Case {
    int mask, quadrant;  // -1: whole frame
  } cases[] = {{1, 0}, {6, 1}, {2, 1}, {4, 2}, {12, 2}, {8, 3}, {0, -1}, {15, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    const std::string path = dir.File("q.bmp");
    ASSERT_EQ(Bmp_SaveQuadrantUYVY(&f, path.c_str(), c.mask), 1);
    const std::vector<uint8_t> file = testsupport::ReadFileBytes(path);
    const int w = pixel_test::Le32(file, 18), h = pixel_test::Le32(file, 22);
    if (c.quadrant < 0) {
      EXPECT_EQ(w, quad.w);
      EXPECT_EQ(h, quad.h);
      EXPECT_EQ(FilePixel(file, w, h, w - 1, h - 1)[0], GreyOf(200));
      continue;
    }
    EXPECT_EQ(w, quad.w / 2);
    EXPECT_EQ(h, quad.h / 2);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) EXPECT_EQ(FilePixel(file, w, h, x, y)[1], GreyOf(50 * (c.quadrant + 1)));
  }
}

TEST(FrameSavers, FourPicturesJoined) {
  TempDir dir;
  const int w = 8, h = 4, qw = 4, qh = 2;
  std::vector<uint8_t> nv[4], uy[4];
  for (int k = 0; k < 4; ++k) {
    nv[k].assign(qw * qh * 3 / 2, 128);
    std::fill(nv[k].begin(), nv[k].begin() + qw * qh, static_cast<uint8_t>(40 * (k + 1)));
    for (int i = 0; i < qw * qh / 2; ++i) uy[k].insert(uy[k].end(), {128, static_cast<uint8_t>(40 * (k + 1)), 128, static_cast<uint8_t>(40 * (k + 1))});
  }
  ASSERT_EQ(Bmp_SaveQuadNV12(w, h, dir.File("n12").c_str(), nv[0].data(), nv[1].data(), nv[2].data(), nv[3].data()), 1);
  ASSERT_EQ(Bmp_SaveQuadNV21(w, h, dir.File("n21").c_str(), nv[0].data(), nv[1].data(), nv[2].data(), nv[3].data()), 1);
  ASSERT_EQ(Bmp_SaveQuadUYVY(w, h, dir.File("uy").c_str(), uy[0].data(), uy[1].data(), uy[2].data(), uy[3].data()), 1);
  for (const char* name : {"n12", "n21", "uy"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> f = testsupport::ReadFileBytes(dir.File(name));
    ASSERT_EQ(f.size(), 54u + 24u * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const int k = (y >= qh ? 2 : 0) + (x >= qw ? 1 : 0);
        EXPECT_EQ(FilePixel(f, w, h, x, y)[2], GreyOf(40 * (k + 1))) << x << "," << y;
      }
  }
  EXPECT_EQ(Bmp_SaveQuadUYVY(w, h, dir.File("none").c_str(), uy[0].data(), nullptr, uy[2].data(), uy[3].data()), 0);
  EXPECT_FALSE(Exists(dir.File("none")));
}

TEST(FrameSavers, ScaledFloatAndChannel) {
  TempDir dir;
  pixel_test::FloatImage img(3, 1);
  img.v = {0.3f, 0.7f, -0.5f};
  img.m.data = img.v.data();
  const std::string path = dir.File("s.bmp");
  ASSERT_EQ(Bmp_SaveScaledFloat(&img.m, path.c_str(), 2.0f), 1);
  std::vector<uint8_t> f = testsupport::ReadFileBytes(path);
  EXPECT_EQ(f[54], 153);
  EXPECT_EQ(f[57], 255);
  EXPECT_EQ(f[60], 0);
  EXPECT_EQ(img.v[0], 0.3f);  // the source is not changed

  std::vector<float> eight(2 * 8, 0.0f);
  eight[5] = 0.25f;      // pixel 0, channel 5
  eight[8 + 5] = 0.5f;   // pixel 1, channel 5
  eight[8 + 6] = 1.0f;   // another channel, ignored
  FloatPixelImage pic{2, 1, eight.data()};
  ASSERT_EQ(Bmp_SaveFloatChannel(&pic, 5, path.c_str(), 1.0f), 1);
  f = testsupport::ReadFileBytes(path);
  EXPECT_EQ(f[54], 64);
  EXPECT_EQ(f[57], 128);
  EXPECT_EQ(Bmp_SaveFloatChannel(&pic, 8, dir.File("c8").c_str(), 1.0f), 0);
  // An empty picture still makes a (header-only) file.
  Matrix empty{0, 0, nullptr};
  ASSERT_EQ(Bmp_SaveScaledFloat(&empty, dir.File("e.bmp").c_str(), 1.0f), 1);
  EXPECT_EQ(testsupport::ReadFileBytes(dir.File("e.bmp")).size(), 54u);
}

}  // namespace
