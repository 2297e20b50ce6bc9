#include "toolkit/pixel_formats.h"

#include "toolkit/yuv_rgb_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace {

// Reference conversion from the table rule (independent of the table).
int Entry(double factor, int value, int centre) { return static_cast<int>(factor * 64 * (value - centre) + 0.5); }
int Clamp6(int s) {
  s >>= 6;
  return s < 0 ? 0 : (s > 255 ? 255 : s);
}
void RefBgr(int y, int u, int v, uint8_t out[3]) {
  const int ty = Entry(1.164, y, 16);
  out[0] = static_cast<uint8_t>(Clamp6(Entry(2.018, u, 128) + ty));
  out[1] = static_cast<uint8_t>(Clamp6(Entry(-0.813, v, 128) + Entry(-0.391, u, 128) + ty));
  out[2] = static_cast<uint8_t>(Clamp6(Entry(1.596, v, 128) + ty));
}

enum class Layout { I420, NV12, NV21, YUYV, UYVY };

// A picture given by its logical samples (Y per pixel, U and V per 2 x 2
// block for 4:2:0 or per pixel pair for 4:2:2) packed into one layout with
// padded rows; the padding holds noise so a converter reading it shows.
struct YuvPicture {
  Layout layout;
  int w, h, stride;
  std::vector<uint8_t> Y, U, V;  // logical samples
  std::vector<uint8_t> luma, cu, cv, chroma, packed;

  YuvPicture(Layout l, int width, int height, uint32_t seed) : layout(l), w(width), h(height) {
    std::mt19937 rng(seed);
    const bool packedForm = l == Layout::YUYV || l == Layout::UYVY;
    const int cw = (w + 1) / 2, ch = packedForm ? h : (h + 1) / 2;
    Y.resize(w * h);
    U.resize(cw * ch);
    V.resize(cw * ch);
    for (auto& b : Y) b = rng() & 255;
    for (auto& b : U) b = rng() & 255;
    for (auto& b : V) b = rng() & 255;
    if (packedForm) {
      stride = 4 * cw + 6;
      packed.resize(stride * h);
      for (auto& b : packed) b = rng() & 255;
      const int yOff = l == Layout::YUYV ? 0 : 1;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          uint8_t* g = &packed[y * stride + 4 * (x / 2)];
          g[yOff + 2 * (x & 1)] = Y[y * w + x];
          g[1 - yOff] = U[y * cw + x / 2];
          g[3 - yOff] = V[y * cw + x / 2];
        }
      return;
    }
    stride = 2 * cw + 4;  // even, above the width
    luma.resize(stride * h);
    for (auto& b : luma) b = rng() & 255;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) luma[y * stride + x] = Y[y * w + x];
    if (l == Layout::I420) {
      cu.resize(stride / 2 * ch);
      cv.resize(stride / 2 * ch);
      for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
          cu[y * (stride / 2) + x] = U[y * cw + x];
          cv[y * (stride / 2) + x] = V[y * cw + x];
        }
      return;
    }
    chroma.resize(stride * ch);
    for (auto& b : chroma) b = rng() & 255;
    const int uOff = l == Layout::NV12 ? 0 : 1;
    for (int y = 0; y < ch; ++y)
      for (int x = 0; x < cw; ++x) {
        chroma[y * stride + 2 * x + uOff] = U[y * cw + x];
        chroma[y * stride + 2 * x + 1 - uOff] = V[y * cw + x];
      }
  }

  int ChromaIndex(int x, int y) const {
    const int cw = (w + 1) / 2;
    const bool packedForm = layout == Layout::YUYV || layout == Layout::UYVY;
    return (packedForm ? y : y / 2) * cw + x / 2;
  }

  void Convert(const Rgb24Image* dst) {
    switch (layout) {
      case Layout::I420: {
        YuvPlanarFrame f{w, h, luma.data(), cu.data(), cv.data(), stride};
        Yuv_I420ToRGB24(&f, dst);
        break;
      }
      case Layout::NV12:
      case Layout::NV21: {
        YuvSemiPlanarFrame f{w, h, luma.data(), chroma.data(), stride};
        (layout == Layout::NV12 ? Yuv_NV12ToRGB24 : Yuv_NV21ToRGB24)(&f, dst);
        break;
      }
      case Layout::YUYV:
      case Layout::UYVY: {
        PackedFrame f{w, h, packed.data(), stride};
        (layout == Layout::YUYV ? Yuv_YUYVToRGB24 : Yuv_UYVYToRGB24)(&f, dst);
        break;
      }
    }
  }
};

const char* Name(Layout l) {
  static const char* names[] = {"I420", "NV12", "NV21", "YUYV", "UYVY"};
  return names[static_cast<int>(l)];
}

// Converts a random picture into a destination with padded rows and counts
// the bytes that differ from the rule, padding overwritten included.
int MismatchesAgainstTheRule(Layout l, int w, int h, int order, uint32_t seed) {
  YuvPicture pic(l, w, h, seed);
  const int dstStride = 3 * w + 5;
  std::vector<uint8_t> out(dstStride * h, 0xAB);
  Rgb24Image dst{w, h, order, out.data(), dstStride};
  pic.Convert(&dst);
  int bad = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t want[3];
      const int c = pic.ChromaIndex(x, y);
      RefBgr(pic.Y[y * w + x], pic.U[c], pic.V[c], want);
      const uint8_t* got = &out[y * dstStride + 3 * x];
      for (int k = 0; k < 3; ++k) bad += got[k] != want[order ? 2 - k : k];
    }
    for (int x = 3 * w; x < dstStride; ++x) bad += out[y * dstStride + x] != 0xAB;  // padding untouched
  }
  return bad;
}

const Layout kYuvLayouts[] = {Layout::I420, Layout::NV12, Layout::NV21, Layout::YUYV, Layout::UYVY};

TEST(PixelFormats, EveryLayoutToRgb24FollowsTheTableRule) {
  const int sizes[][2] = {{6, 4}, {5, 3}, {1, 1}, {7, 2}};
  for (Layout l : kYuvLayouts)
    for (const auto& sz : sizes)
      for (int order = 0; order < 2; ++order) {
        SCOPED_TRACE(std::string(Name(l)) + " " + std::to_string(sz[0]) + "x" + std::to_string(sz[1]) +
                     " order " + std::to_string(order));
        EXPECT_EQ(MismatchesAgainstTheRule(l, sz[0], sz[1], order, 7 + sz[0]), 0);
      }
}

// Rows run in blocks of pixels with the rest done one pair at a time: every
// width up to a few blocks, odd ones included, in both byte orders.
TEST(PixelFormats, EveryWidthFollowsTheTableRule) {
  for (Layout l : kYuvLayouts)
    for (int w = 1; w <= 70; ++w)
      for (int order = 0; order < 2; ++order) {
        SCOPED_TRACE(std::string(Name(l)) + " width " + std::to_string(w) + " order " + std::to_string(order));
        EXPECT_EQ(MismatchesAgainstTheRule(l, w, 3, order, 1000 + w), 0);
      }
}

// The frame converters (clamping by table, chroma shared by pixel pairs)
// give every one of the 2^24 triples the bytes of the table rule (checked
// exhaustively against the rule itself by the table's own test).
TEST(PixelFormats, ConvertersGiveEveryTripleTheTableResult) {
  uint8_t luma[256], chroma[256], out[256 * 3];
  for (int i = 0; i < 256; ++i) luma[i] = static_cast<uint8_t>(i);
  YuvSemiPlanarFrame src{256, 1, luma, chroma, 256};
  Rgb24Image dst{256, 1, 0, out, 256 * 3};
  int64_t mismatches = 0;
  for (int u = 0; u < 256; ++u)
    for (int v = 0; v < 256; ++v) {
      for (int i = 0; i < 256; i += 2) {
        chroma[i] = static_cast<uint8_t>(u);
        chroma[i + 1] = static_cast<uint8_t>(v);
      }
      Yuv_NV12ToRGB24(&src, &dst);
      for (int y = 0; y < 256; ++y) {
        uint8_t b, g, r;
        YuvRgb_Convert(y, u, v, &b, &g, &r);
        mismatches += (out[3 * y] != b) + (out[3 * y + 1] != g) + (out[3 * y + 2] != r);
      }
    }
  EXPECT_EQ(mismatches, 0);
}

// OpenCV's converters use the same BT.601 studio-range coefficients with
// their own fixed-point rounding: an independent check within 2 levels.
TEST(PixelFormats, AgreesWithOpenCvWithinRounding) {
  const int w = 64, h = 32;
  struct Case {
    Layout layout;
    int code;
  } cases[] = {{Layout::I420, cv::COLOR_YUV2BGR_I420},
               {Layout::NV12, cv::COLOR_YUV2BGR_NV12},
               {Layout::NV21, cv::COLOR_YUV2BGR_NV21},
               {Layout::YUYV, cv::COLOR_YUV2BGR_YUYV},
               {Layout::UYVY, cv::COLOR_YUV2BGR_UYVY}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Name(c.layout));
    YuvPicture pic(c.layout, w, h, 99);
    // OpenCV lifts luma below 16 to 16 before converting; keep to 16..255.
    for (auto& b : pic.luma) b = std::max<uint8_t>(b, 16);
    for (auto& b : pic.packed) b = std::max<uint8_t>(b, 16);
    for (size_t i = 0; i < pic.Y.size(); ++i) pic.Y[i] = std::max<uint8_t>(pic.Y[i], 16);
    cv::Mat src;
    if (c.layout == Layout::YUYV || c.layout == Layout::UYVY) {
      src = cv::Mat(h, w, CV_8UC2, pic.packed.data(), pic.stride).clone();
    } else {
      // Tight planes for OpenCV: luma, then U and V (or the pairs).
      src = cv::Mat(h * 3 / 2, w, CV_8UC1);
      for (int y = 0; y < h; ++y) std::memcpy(src.ptr(y), &pic.luma[y * pic.stride], w);
      uint8_t* tail = src.ptr(h);
      if (c.layout == Layout::I420) {
        for (int y = 0; y < h / 2; ++y) std::memcpy(tail + y * w / 2, &pic.cu[y * (pic.stride / 2)], w / 2);
        tail += w * h / 4;
        for (int y = 0; y < h / 2; ++y) std::memcpy(tail + y * w / 2, &pic.cv[y * (pic.stride / 2)], w / 2);
      } else {
        for (int y = 0; y < h / 2; ++y) std::memcpy(tail + y * w, &pic.chroma[y * pic.stride], w);
      }
    }
    cv::Mat want;
    cv::cvtColor(src, want, c.code);
    std::vector<uint8_t> out(w * h * 3);
    Rgb24Image dst{w, h, 0, out.data(), 3 * w};
    pic.Convert(&dst);
    cv::Mat got(h, w, CV_8UC3, out.data());
    cv::Mat diff;
    cv::absdiff(got, want, diff);
    double maxDiff;
    cv::minMaxLoc(diff.reshape(1), nullptr, &maxDiff);
    EXPECT_LE(maxDiff, 2.0);
  }
}

TEST(PixelFormats, RgbToYuvWhiteAndBlack) {
  EXPECT_EQ(Rgb_ToY(255, 255, 255), 235);
  EXPECT_EQ(Rgb_ToU(255, 255, 255), 128);
  EXPECT_EQ(Rgb_ToV(255, 255, 255), 128);
  EXPECT_EQ(Rgb_ToY(0, 0, 0), 16);
  EXPECT_EQ(Rgb_ToU(0, 0, 0), 128);
  EXPECT_EQ(Rgb_ToV(0, 0, 0), 128);
  // Through a converter, both byte orders.
  for (int order = 0; order < 2; ++order) {
    uint8_t rgb[6] = {255, 255, 255, 0, 0, 0};
    Rgb24Image src{2, 1, order, rgb, 6};
    uint8_t out[4];
    PackedFrame dst{2, 1, out, 4};
    Rgb24_ToUYVY(&src, &dst);
    EXPECT_EQ(out[1], 235);
    EXPECT_EQ(out[3], 16);
    EXPECT_EQ(out[0], 128);  // (128 >> 1) + (128 >> 1)
    EXPECT_EQ(out[2], 128);
  }
}

TEST(PixelFormats, Rgb565Expansion) {
  struct Case {
    uint16_t word;
    uint8_t r, g, b;
  } cases[] = {{0xFFFF, 248, 252, 248}, {0x0000, 0, 0, 0}, {0xF800, 248, 0, 0},
               {0x07E0, 0, 252, 0},     {0x001F, 0, 0, 248}, {0x8410, 128, 128, 128}};
  for (const Case& c : cases)
    for (int order = 0; order < 2; ++order) {
      uint8_t in[2] = {static_cast<uint8_t>(c.word & 255), static_cast<uint8_t>(c.word >> 8)};
      PackedFrame src{1, 1, in, 2};
      uint8_t out[3];
      Rgb24Image dst{1, 1, order, out, 3};
      Rgb565_ToRGB24(&src, &dst);
      EXPECT_EQ(out[order ? 0 : 2], c.r) << std::hex << c.word;
      EXPECT_EQ(out[1], c.g) << std::hex << c.word;
      EXPECT_EQ(out[order ? 2 : 0], c.b) << std::hex << c.word;
    }
}

TEST(PixelFormats, RgbToSemiPlanarKeepsTheLastPixelOfEachBlock) {
  // 2 x 2 block: the chroma of the bottom-right pixel (blue) wins.
  uint8_t rgb[12] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 0, 0};  // B,G,R: red, green / blue, blue
  Rgb24Image src{2, 2, 0, rgb, 6};
  uint8_t luma[4], chroma[2], cu[1], cv[1];
  YuvSemiPlanarFrame nv12{2, 2, luma, chroma, 2};
  Rgb24_ToNV12(&src, &nv12);
  EXPECT_EQ(luma[0], Rgb_ToY(255, 0, 0));
  EXPECT_EQ(luma[1], Rgb_ToY(0, 255, 0));
  EXPECT_EQ(chroma[0], Rgb_ToU(0, 0, 255));
  EXPECT_EQ(chroma[1], Rgb_ToV(0, 0, 255));
  Rgb24_ToNV21(&src, &nv12);
  EXPECT_EQ(chroma[0], Rgb_ToV(0, 0, 255));
  EXPECT_EQ(chroma[1], Rgb_ToU(0, 0, 255));
  YuvPlanarFrame i420{2, 2, luma, cu, cv, 2};
  Rgb24_ToI420(&src, &i420);
  EXPECT_EQ(cu[0], Rgb_ToU(0, 0, 255));
  EXPECT_EQ(cv[0], Rgb_ToV(0, 0, 255));
}

TEST(PixelFormats, PackedTargetsAverageHalvesRoundedDown) {
  uint8_t rgb[6] = {0, 0, 255, 255, 0, 0};  // B,G,R: red then blue
  Rgb24Image src{2, 1, 0, rgb, 6};
  uint8_t out[4];
  PackedFrame dst{2, 1, out, 4};
  Rgb24_ToYUYV(&src, &dst);
  const int u = (Rgb_ToU(255, 0, 0) >> 1) + (Rgb_ToU(0, 0, 255) >> 1);
  const int v = (Rgb_ToV(255, 0, 0) >> 1) + (Rgb_ToV(0, 0, 255) >> 1);
  EXPECT_EQ(out[0], Rgb_ToY(255, 0, 0));
  EXPECT_EQ(out[1], u);
  EXPECT_EQ(out[2], Rgb_ToY(0, 0, 255));
  EXPECT_EQ(out[3], v);
}

// RGB24 -> layout -> RGB24 on pictures of flat 2 x 2 blocks (so the chroma
// subsampling loses nothing): back within the integer rounding of the two
// directions (up to 4 levels).
TEST(PixelFormats, RoundTripThroughEveryLayout) {
  const int sizes[][2] = {{8, 6}, {5, 3}};
  for (const auto& sz : sizes) {
    const int w = sz[0], h = sz[1];
    std::mt19937 rng(5);
    std::vector<uint8_t> rgb(w * h * 3);
    for (int by = 0; by < (h + 1) / 2; ++by)
      for (int bx = 0; bx < (w + 1) / 2; ++bx) {
        // In-gamut colours: mixes of 40..215.
        const uint8_t c[3] = {static_cast<uint8_t>(40 + rng() % 176), static_cast<uint8_t>(40 + rng() % 176),
                              static_cast<uint8_t>(40 + rng() % 176)};
        for (int y = 2 * by; y < std::min(h, 2 * by + 2); ++y)
          for (int x = 2 * bx; x < std::min(w, 2 * bx + 2); ++x) std::memcpy(&rgb[(y * w + x) * 3], c, 3);
      }
    Rgb24Image src{w, h, 0, rgb.data(), 3 * w};
    const int stride = w + (w & 1);
    std::vector<uint8_t> luma(stride * h), chroma(stride * ((h + 1) / 2)), cu(stride / 2 * ((h + 1) / 2)),
        cv(stride / 2 * ((h + 1) / 2)), packed(2 * stride * h);
    std::vector<uint8_t> back(w * h * 3);
    Rgb24Image dst{w, h, 0, back.data(), 3 * w};
    auto check = [&](const char* name) {
      int worst = 0;
      for (size_t i = 0; i < rgb.size(); ++i) worst = std::max(worst, std::abs(rgb[i] - back[i]));
      EXPECT_LE(worst, 4) << name << " " << w << "x" << h;
    };
    YuvPlanarFrame i420{w, h, luma.data(), cu.data(), cv.data(), stride};
    Rgb24_ToI420(&src, &i420);
    Yuv_I420ToRGB24(&i420, &dst);
    check("I420");
    YuvSemiPlanarFrame sp{w, h, luma.data(), chroma.data(), stride};
    Rgb24_ToNV12(&src, &sp);
    Yuv_NV12ToRGB24(&sp, &dst);
    check("NV12");
    Rgb24_ToNV21(&src, &sp);
    Yuv_NV21ToRGB24(&sp, &dst);
    check("NV21");
    if (w % 2 == 0) {  // the 4:2:2 targets take whole pairs
      PackedFrame pk{w, h, packed.data(), 2 * w};
      Rgb24_ToYUYV(&src, &pk);
      Yuv_YUYVToRGB24(&pk, &dst);
      check("YUYV");
      Rgb24_ToUYVY(&src, &pk);
      Yuv_UYVYToRGB24(&pk, &dst);
      check("UYVY");
    }
  }
}

TEST(PixelFormats, PackedTargetWithOddWidthWritesWholePairsOnly) {
  uint8_t rgb[9] = {0};
  Rgb24Image src{3, 1, 0, rgb, 9};
  uint8_t out[8];
  std::memset(out, 0xEE, sizeof out);
  PackedFrame dst{3, 1, out, 6};
  Rgb24_ToUYVY(&src, &dst);
  EXPECT_EQ(out[1], 16);
  EXPECT_EQ(out[4], 0xEE);  // the odd pixel and beyond untouched
}

TEST(PixelFormats, FloatConvertersMatchTheByteConverters) {
  YuvPicture nv12(Layout::NV12, 6, 4, 3), yuyv(Layout::YUYV, 6, 4, 4), uyvy(Layout::UYVY, 6, 4, 5);
  for (YuvPicture* pic : {&nv12, &yuyv, &uyvy}) {
    std::vector<uint8_t> bytes(6 * 4 * 3);
    Rgb24Image rgb{6, 4, 1, bytes.data(), 18};
    pic->Convert(&rgb);
    std::vector<float> f(6 * 4 * 3, -1.0f);
    if (pic->layout == Layout::NV12) {
      YuvSemiPlanarFrame fr{6, 4, pic->luma.data(), pic->chroma.data(), pic->stride};
      Yuv_NV12ToFloatRGB(&fr, f.data());
    } else {
      PackedFrame fr{6, 4, pic->packed.data(), pic->stride};
      (pic->layout == Layout::YUYV ? Yuv_YUYVToFloatRGB : Yuv_UYVYToFloatRGB)(&fr, f.data());
    }
    for (size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[i], bytes[i] / 255.0f) << Name(pic->layout) << " " << i;
    std::vector<float> g(f.size());
    Rgb24_ToFloatRGB(&rgb, g.data());
    EXPECT_EQ(f, g);
  }
  uint8_t bgr[3] = {10, 20, 30};
  Rgb24Image img{1, 1, 0, bgr, 3};
  float out[3];
  Rgb24_ToFloatRGB(&img, out);
  EXPECT_EQ(out[0], 30 / 255.0f);
  EXPECT_EQ(out[2], 10 / 255.0f);
}

TEST(PixelFormats, EmptySizesDoNothing) {
  uint8_t byte = 0x5A;
  Rgb24Image dst{0, 4, 0, &byte, 0};
  PackedFrame src{0, 4, &byte, 0};
  Yuv_UYVYToRGB24(&src, &dst);
  YuvSemiPlanarFrame sp{4, -1, &byte, &byte, 4};
  Yuv_NV12ToRGB24(&sp, &dst);
  EXPECT_EQ(byte, 0x5A);
}

TEST(PixelFormats, QuadPutAndGetPacked) {
  const int w = 3, h = 2;  // each picture 3 x 2 pixels, 6 bytes a row
  std::vector<uint8_t> big(4 * w * 2 * h, 0);
  for (int q = 0; q < 4; ++q) {
    std::vector<uint8_t> pic(2 * w * h, static_cast<uint8_t>(10 * (q + 1)));
    pic[0] = static_cast<uint8_t>(100 + q);
    Quad_PutPacked422(pic.data(), big.data(), w, h, q);
  }
  const int stride = 4 * w;
  EXPECT_EQ(big[0], 100);
  EXPECT_EQ(big[2 * w], 101);
  EXPECT_EQ(big[h * stride], 102);
  EXPECT_EQ(big[h * stride + 2 * w], 103);
  EXPECT_EQ(big[stride - 1], 20);
  for (int q = 0; q < 4; ++q) {
    std::vector<uint8_t> pic(2 * w * h, 0);
    Quad_GetPacked422(big.data(), pic.data(), w, h, q);
    EXPECT_EQ(pic[0], 100 + q);
    EXPECT_EQ(pic.back(), 10 * (q + 1));
  }
}

TEST(PixelFormats, QuadSemiPlanarRoundTripAndShift) {
  const int w = 4, h = 4;
  std::vector<uint8_t> pics[4];
  std::vector<uint8_t> big(2 * w * 2 * h * 3 / 2, 0);
  for (int q = 0; q < 4; ++q) {
    pics[q].resize(w * h * 3 / 2);
    for (size_t i = 0; i < pics[q].size(); ++i) pics[q][i] = static_cast<uint8_t>(q * 50 + i);
    Quad_PutSemiPlanar(pics[q].data(), big.data(), w, h, q, 0);
  }
  // Quadrant 3's first luma and chroma bytes.
  EXPECT_EQ(big[2 * w * h + w], pics[3][0]);
  EXPECT_EQ(big[4 * w * h + w * h + w], pics[3][w * h]);
  std::vector<uint8_t> other(big.size(), 0);
  for (int q = 0; q < 4; ++q) {
    std::vector<uint8_t> back(w * h * 3 / 2, 0);
    Quad_GetSemiPlanar(big.data(), back.data(), w, h, q, 0);
    EXPECT_EQ(back, pics[q]);
    Quad_CopySemiPlanar(big.data(), other.data(), w, h, q);
  }
  EXPECT_EQ(other, big);
  // With a shift, w - 1 chroma bytes from one byte later.
  std::vector<uint8_t> shifted(big.size(), 0xEE);
  Quad_PutSemiPlanar(pics[0].data(), shifted.data(), w, h, 0, 1);
  EXPECT_EQ(shifted[4 * w * h], pics[0][w * h + 1]);
  EXPECT_EQ(shifted[4 * w * h + w - 2], pics[0][w * h + w - 1]);
  EXPECT_EQ(shifted[4 * w * h + w - 1], 0xEE);
}

}  // namespace
