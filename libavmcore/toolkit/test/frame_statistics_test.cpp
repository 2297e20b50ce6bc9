#include "toolkit/frame_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Coordinate maps with their own storage.
struct Maps {
  std::vector<int32_t> xs, ys;
  ImageI32 x{}, y{};
  Maps(int w, int h) : xs(w * h), ys(w * h) {
    x = {w, h, xs.data()};
    y = {w, h, ys.data()};
  }
};

// An RGB24 frame (bytes B, G, R) whose pixel (x, y) has R = G = B = value(x, y).
struct GreyRgbFrame {
  std::vector<uint8_t> data;
  Rgb24Image img{};
  template <class F>
  GreyRgbFrame(int w, int h, F value) : data(w * h * 3) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) data[(y * w + x) * 3 + c] = static_cast<uint8_t>(value(x, y));
    img = {w, h, 0, data.data(), 3 * w};
  }
};

float LnMean(std::initializer_list<int> values) {
  float s = 0.0f;
  for (int v : values) s += static_cast<float>(std::log(v + 1.0));
  return s / static_cast<float>(values.size());
}

TEST(FrameStatistics, BandsOfSixteenAndEightRows) {
  // Map row r samples frame row r; frame row r has value r + 1.
  for (int rows : {16, 8}) {
    SCOPED_TRACE(rows);
    Maps m(1, rows);
    for (int r = 0; r < rows; ++r) m.ys[r] = r;
    GreyRgbFrame frame(1, rows, [](int, int y) { return y + 1; });
    float out[24];
    CalcBandColorStats(&m.x, &m.y, kPixelFormatRGB24, &frame.img, 1, 1, out);
    if (rows == 16) {
      EXPECT_FLOAT_EQ(out[0], LnMean({1, 2, 3}));   // rows 0, 1, 2
      EXPECT_FLOAT_EQ(out[1], LnMean({4, 5}));      // rows 3, 4
      EXPECT_FLOAT_EQ(out[6], LnMean({14, 15}));    // rows 13, 14
      EXPECT_FLOAT_EQ(out[7], LnMean({16}));        // row 15 alone
    } else {
      EXPECT_FLOAT_EQ(out[0], LnMean({1, 2}));
      EXPECT_FLOAT_EQ(out[6], LnMean({8}));  // row 7
      EXPECT_EQ(out[7], 0.0f);                // no sample: 0, not NaN
    }
    for (int b = 0; b < 8; ++b) {
      EXPECT_EQ(out[8 + b], out[b]);
      EXPECT_EQ(out[16 + b], out[b]);
    }
  }
}

TEST(FrameStatistics, ColumnStepAlwaysTakesTheLastColumn) {
  Maps m(10, 1);
  for (int c = 0; c < 10; ++c) m.xs[c] = c;
  GreyRgbFrame frame(10, 1, [](int x, int) { return 10 * x; });
  float out[3];
  CalcBandColorStatsEx(&m.x, &m.y, kPixelFormatRGB24, &frame.img, 4, 1, out);
  EXPECT_FLOAT_EQ(out[0], LnMean({0, 40, 80, 90}));  // columns 0, 4, 8, 9
}

TEST(FrameStatistics, BlackAndWhiteFrames) {
  Maps m(4, 4);
  for (int i = 0; i < 16; ++i) {
    m.xs[i] = i % 4;
    m.ys[i] = i / 4;
  }
  // Black in every YUV layout.
  std::vector<uint8_t> luma(16, 16), chroma(8, 128), cu(4, 128), cv(4, 128), packed(32);
  for (int i = 0; i < 32; i += 2) {
    packed[i] = 16;
    packed[i + 1] = 128;
  }
  std::vector<uint8_t> uyvy(32);
  for (int i = 0; i < 32; i += 2) {
    uyvy[i] = 128;
    uyvy[i + 1] = 16;
  }
  YuvPlanarFrame i420{4, 4, luma.data(), cu.data(), cv.data(), 4};
  YuvSemiPlanarFrame sp{4, 4, luma.data(), chroma.data(), 4};
  PackedFrame yuyv{4, 4, packed.data(), 8}, pu{4, 4, uyvy.data(), 8};
  std::vector<uint8_t> zero565(32, 0);
  PackedFrame p565{4, 4, zero565.data(), 8};
  struct Case {
    int code;
    const void* frame;
  } cases[] = {{1, &i420}, {3, &sp}, {6, &sp}, {4, &yuyv}, {7, &pu}, {5, &p565}};
  for (const Case& c : cases) {
    float out[24];
    CalcBandColorStats(&m.x, &m.y, c.code, c.frame, 1, 1, out);
    for (int b : {0, 1, 3, 5}) EXPECT_EQ(out[b], 0.0f) << c.code;  // bands with samples
  }
  GreyRgbFrame white(4, 4, [](int, int) { return 255; });
  float out[24];
  CalcBandColorStats(&m.x, &m.y, kPixelFormatRGB24, &white.img, 1, 1, out);
  EXPECT_NEAR(out[0], 5.545f, 1e-3f);
  EXPECT_NEAR(out[16 + 5], 5.545f, 1e-3f);
}

// Frames for the darkness test whose sampled blue values are set directly:
// an RGB24 frame (third byte of each pixel) and a UYVY frame of grey luma.
TEST(FrameStatistics, DarknessTest) {
  const int w = 160, h = 12;
  auto rgbFrame = [&](int left, int right) {
    std::vector<uint8_t> f(w * h * 3, 0);
    for (int x = 0; x < w; ++x) f[(8 * w + x) * 3 + 2] = static_cast<uint8_t>(x < w / 2 ? left : right);
    return f;
  };
  struct Case {
    int left, right, dark;
  } cases[] = {{84, 84, 1}, {86, 86, 0}, {80, 130, 0}, {80, 100, 1}, {125, 125, 0}};
  for (const Case& c : cases) {
    std::vector<uint8_t> f = rgbFrame(c.left, c.right);
    EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatRGB24, w, h, f.data(), nullptr), c.dark)
        << c.left << "," << c.right;
  }
  // Two frames of half size: window 0 in A, window 1 in B.
  std::vector<uint8_t> a(w / 2 * h * 3, 0), b(w / 2 * h * 3, 0);
  for (int x = 0; x < w / 2; ++x) {
    a[(8 * (w / 2) + x) * 3 + 2] = 84;
    b[(8 * (w / 2) + x) * 3 + 2] = 84;
  }
  EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatRGB24, w, 2 * h, a.data(), b.data()), 1);
  // The same through the YUV table: grey luma 16 is blue 0 (dark), 235 is
  // 254 (bright), in every layout the decoder uses.
  for (int luma : {16, 235}) {
    std::vector<uint8_t> uyvy(w * 2 * h), yuyv(w * 2 * h), nv(w * h * 3 / 2, 128);
    for (int i = 0; i < w * h; ++i) {
      uyvy[2 * i] = 128;
      uyvy[2 * i + 1] = static_cast<uint8_t>(luma);
      yuyv[2 * i] = static_cast<uint8_t>(luma);
      yuyv[2 * i + 1] = 128;
      nv[i] = static_cast<uint8_t>(luma);
    }
    const int dark = luma == 16 ? 1 : 0;
    EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatUYVY, w, h, uyvy.data(), nullptr), dark);
    EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatYUYV, w, h, yuyv.data(), nullptr), dark);
    EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatNV12, w, h, nv.data(), nullptr), dark);
    EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatNV21, w, h, nv.data(), nullptr), dark);
  }
  // Frames too small for row 8, unknown codes and a null frame are not dark.
  std::vector<uint8_t> tiny(w * 8 * 3, 0);
  EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatRGB24, w, 8, tiny.data(), nullptr), 0);
  EXPECT_EQ(CalcFrameBrightnessWindow(9, w, h, tiny.data(), nullptr), 0);
  EXPECT_EQ(CalcFrameBrightnessWindow(kPixelFormatRGB24, w, h, nullptr, nullptr), 0);
}

TEST(FrameStatistics, LumaHistogramAtMap) {
  Maps m(3, 1);
  m.xs = {0, -1, 1};
  m.ys = {0, 0, -2};
  m.x.data = m.xs.data();
  m.y.data = m.ys.data();
  uint8_t uyvy[4] = {128, 77, 128, 99};
  PackedFrame f{2, 1, uyvy, 4};
  uint32_t hist[256] = {0};
  hist[77] = 5;  // not cleared by the call
  EXPECT_EQ(Frame_SumLumaAtMap(&m.x, &m.y, kPixelFormatUYVY, &f, hist), 1);
  EXPECT_EQ(hist[77], 6u);
  // Luma by code for the position (1, 0).
  m.xs = {1, 1, 1};
  m.ys = {0, 0, 0};
  uint8_t yuyv[4] = {11, 128, 22, 128};
  PackedFrame fy{2, 1, yuyv, 4};
  uint8_t luma[2] = {33, 44}, chroma[2] = {128, 128};
  YuvSemiPlanarFrame sp{2, 1, luma, chroma, 2};
  YuvPlanarFrame pl{2, 1, luma, chroma, chroma, 2};
  uint8_t bgr[6] = {0, 0, 0, 10, 200, 30};
  Rgb24Image rgb{2, 1, 0, bgr, 6};
  uint8_t p565[4] = {0, 0, 0xFF, 0xFF};
  PackedFrame f565{2, 1, p565, 4};
  struct Case {
    int code;
    const void* frame;
    int luma;
  } cases[] = {{kPixelFormatYUYV, &fy, 22},
               {kPixelFormatUYVY, &f, 99},
               {kPixelFormatNV12, &sp, 44},
               {kPixelFormatNV21, &sp, 44},
               {kPixelFormatI420, &pl, 44},
               {kPixelFormatRGB24, &rgb, ((66 * 30 + 129 * 200 + 25 * 10 + 128) >> 8) + 16},
               {kPixelFormatRGB565, &f565, ((129 * 252 + 66 * 248 + 200 * 31 + 128) >> 8) + 16}};
  for (const Case& c : cases) {
    uint32_t h[256] = {0};
    EXPECT_EQ(Frame_SumLumaAtMap(&m.x, &m.y, c.code, c.frame, h), 3);
    EXPECT_EQ(h[c.luma], 3u) << c.code;
  }
  // An unknown code counts the fallback value.
  uint32_t h[256] = {0};
  EXPECT_EQ(Frame_SumLumaAtMap(&m.x, &m.y, 0, &f, h, 200), 3);
  EXPECT_EQ(h[200], 3u);
}

TEST(FrameStatistics, PlaneExtraction) {
  // 4 x 4 UYVY frame, byte i of row y = 16 * y + i (8 bytes a row).
  std::vector<uint8_t> data(4 * 8 + 8);  // one spare row of stride
  for (int y = 0; y < 4; ++y)
    for (int i = 0; i < 8; ++i) data[y * 8 + i] = static_cast<uint8_t>(16 * y + i);
  PackedFrame f{4, 4, data.data(), 8};
  uint16_t out[4];
  ImageU16 dst{2, 2, out};
  SubsampleChromaU16A(&f, &dst);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{1, 5, 33, 37}));
  SubsampleChromaU16B(&f, &dst);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{0, 4, 32, 36}));
  SubsampleLumaU16(data.data(), 8, &dst);
  EXPECT_EQ(std::vector<uint16_t>(out, out + 4), (std::vector<uint16_t>{0, 2, 32, 34}));

  std::vector<float> m(2 * 4);
  Matrix mat{4, 2, m.data()};
  ImageToMatrix(&f, &mat);
  EXPECT_EQ(m[0], 1 / 255.0f);
  EXPECT_EQ(m[3], 7 / 255.0f);
  EXPECT_EQ(m[4], 17 / 255.0f);

  uint8_t luma[6] = {0, 51, 102, 153, 204, 255};
  std::vector<float> lm(4 * 2, -1.0f);
  Matrix lmat{4, 2, lm.data()};  // wider than the luma: the extra columns stay
  LumaToMatrix(3, 2, luma, &lmat);
  EXPECT_EQ(lm, (std::vector<float>{0.0f, 0.2f, 0.4f, -1.0f, 0.6f, 0.8f, 1.0f, -1.0f}));
}

}  // namespace
