#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "toolkit/image_ops.h"
#include "toolkit/matrix.h"

namespace {

TEST(ImageOps, InitCopyAndFillOfEachType) {
  std::vector<uint8_t> a8(12), b8(12, 0);
  std::vector<uint16_t> a16(12), b16(12, 0);
  std::vector<int32_t> a32(12), b32(12, 0);
  ImageU8 s8, d8;
  ImageU16 s16, d16;
  ImageI32 s32, d32;
  ImageU8_Init(&s8, 4, 3, a8.data());
  ImageU8_Init(&d8, 4, 3, b8.data());
  ImageU16_Init(&s16, 4, 3, a16.data());
  ImageU16_Init(&d16, 4, 3, b16.data());
  ImageI32_Init(&s32, 4, 3, a32.data());
  ImageI32_Init(&d32, 4, 3, b32.data());
  EXPECT_EQ(s8.width, 4);
  EXPECT_EQ(s8.height, 3);
  EXPECT_EQ(s8.data, a8.data());

  ImageU8_Fill(&s8, 200);
  ImageU16_Fill(&s16, 60000);
  ImageI32_Fill(&s32, -5);
  ImageU8_Copy(&s8, &d8);
  ImageU16_Copy(&s16, &d16);
  ImageI32_Copy(&s32, &d32);
  EXPECT_EQ(b8, std::vector<uint8_t>(12, 200));
  EXPECT_EQ(b16, std::vector<uint16_t>(12, 60000));
  EXPECT_EQ(b32, std::vector<int32_t>(12, -5));
}

TEST(ImageOps, FillCoversOneRowAndOneColumnImages) {
  struct Case {
    int32_t width, height;
  };
  for (const Case c : {Case{5, 1}, Case{1, 4}, Case{3, 3}}) {
    std::vector<uint8_t> buf(c.width * c.height + 2, 9);  // guard bytes at the end
    ImageU8 img;
    ImageU8_Init(&img, c.width, c.height, buf.data());
    ImageU8_Fill(&img, 1);
    for (int i = 0; i < c.width * c.height; ++i) EXPECT_EQ(buf[i], 1);
    EXPECT_EQ(buf[c.width * c.height], 9);
    EXPECT_EQ(buf[c.width * c.height + 1], 9);
  }
}

TEST(ImageOps, EmptyImagesLeaveDestinationsUntouched) {
  struct Case {
    int32_t width, height;
  };
  for (const Case c : {Case{0, 3}, Case{3, 0}, Case{-1, 2}}) {
    std::vector<uint8_t> s8(6, 7), d8(6, 1);
    std::vector<uint16_t> s16(6, 7), d16(6, 1);
    std::vector<float> f(6, 0.5f);
    ImageU8 src8, dst8;
    ImageU16 src16, dst16;
    ImageU8_Init(&src8, c.width, c.height, s8.data());
    ImageU8_Init(&dst8, c.width, c.height, d8.data());
    ImageU16_Init(&src16, c.width, c.height, s16.data());
    ImageU16_Init(&dst16, c.width, c.height, d16.data());
    Matrix m;
    Matrix_Init(&m, c.width, c.height, f.data());
    ImageU8_Copy(&src8, &dst8);
    ImageU8_Fill(&dst8, 3);
    ImageU16_Accumulate(&src16, &dst16);
    ImageU16_Scale(&dst16, 2.0f);
    ImageU16_Fill(&dst16, 3);
    ImageU8_ToMatrix(&src8, &m);
    Matrix_ToImageU8(&m, &dst8);
    EXPECT_EQ(d8, std::vector<uint8_t>(6, 1));
    EXPECT_EQ(d16, std::vector<uint16_t>(6, 1));
    EXPECT_EQ(f, std::vector<float>(6, 0.5f));
  }
}

TEST(ImageOps, CopyBlockUsesEachImagesOwnWidth) {
  std::vector<uint8_t> s(5 * 4), d(3 * 3, 0);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(i);
  ImageU8 src, dst;
  ImageU8_Init(&src, 5, 4, s.data());
  ImageU8_Init(&dst, 3, 3, d.data());
  ImageU8_CopyBlock(&src, &dst, 2, 2, 3, 1, 1, 0);
  EXPECT_EQ(d, (std::vector<uint8_t>{0, 8, 9, 0, 13, 14, 0, 0, 0}));
  ImageU8_CopyBlock(&src, &dst, 0, 2, 0, 0, 0, 0);  // nothing
  EXPECT_EQ(d[0], 0);
}

TEST(ImageOps, MatrixToImageU8Cases) {
  struct Case {
    float v;
    uint8_t want;
  };
  const Case cases[] = {
      {1.0f, 255}, {0.999f, 255}, {0.5f, 127}, {0.0f, 0}, {1.0f / 255.99f, 1},
      {2.0f, 255},           // trunc(511.98) = 511, low byte 255: wraps, no clamp
      {1.5f, 127},           // trunc(383.985) = 383 -> 127
      {-0.01f, 254},         // trunc(-2.56) = -2 -> 0xFE
      {1e30f, 0},            // beyond any integer: 0, no undefined conversion
  };
  for (const Case& c : cases) {
    float v = c.v;
    uint8_t out = 77;
    Matrix m;
    ImageU8 img;
    Matrix_Init(&m, 1, 1, &v);
    ImageU8_Init(&img, 1, 1, &out);
    Matrix_ToImageU8(&m, &img);
    EXPECT_EQ(out, c.want) << c.v;
  }
}

TEST(ImageOps, ImageU8ToMatrixRoundTrips) {
  std::vector<uint8_t> px(256), back(256);
  for (int i = 0; i < 256; ++i) px[i] = static_cast<uint8_t>(i);
  std::vector<float> f(256);
  ImageU8 img, out;
  ImageU8_Init(&img, 16, 16, px.data());
  ImageU8_Init(&out, 16, 16, back.data());
  Matrix m;
  Matrix_Init(&m, 16, 16, f.data());
  ImageU8_ToMatrix(&img, &m);
  EXPECT_EQ(f[0], 0.0f);
  EXPECT_EQ(f[255], 1.0f);
  EXPECT_FLOAT_EQ(f[51], 0.2f);
  Matrix_ToImageU8(&m, &out);
  EXPECT_EQ(back, px);
}

TEST(ImageOps, U16AccumulateWrapsAndScaleTruncatesTowardZero) {
  std::vector<uint16_t> s{1, 2, 0xFFFF, 40000}, d{10, 0xFFFF, 1, 40000};
  ImageU16 src, dst;
  ImageU16_Init(&src, 2, 2, s.data());
  ImageU16_Init(&dst, 2, 2, d.data());
  ImageU16_Accumulate(&src, &dst);
  EXPECT_EQ(d, (std::vector<uint16_t>{11, 1, 0, 14464}));  // modulo 2^16

  struct Case {
    uint16_t in;
    float factor;
    uint16_t want;
  };
  const Case cases[] = {
      {1275, 0.2f, 255},
      {0xFFFF, 0.2f, 0},                               // -1 * 0.2 = -0.2 -> 0
      {static_cast<uint16_t>(-7), 0.5f, 0xFFFD},       // -3.5 -> -3
      {1000, 40.0f, static_cast<uint16_t>(40000)},     // low 16 bits of 40000
      {static_cast<uint16_t>(-20000), 2.0f, static_cast<uint16_t>(-40000)},
  };
  for (const Case& c : cases) {
    uint16_t v = c.in;
    ImageU16 img;
    ImageU16_Init(&img, 1, 1, &v);
    ImageU16_Scale(&img, c.factor);
    EXPECT_EQ(v, c.want) << c.in << " * " << c.factor;
  }
}

TEST(ImageOps, FrameAveragingThroughAccumulateAndScale) {
  // Four frames summed into one image, then scaled by 1/4.
  std::vector<uint16_t> sum(6, 0), frame(6);
  ImageU16 s, f;
  ImageU16_Init(&s, 3, 2, sum.data());
  ImageU16_Init(&f, 3, 2, frame.data());
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 6; ++i) frame[i] = static_cast<uint16_t>(100 * i + k);
    ImageU16_Accumulate(&f, &s);
  }
  ImageU16_Scale(&s, 0.25f);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(sum[i], 100 * i + 1) << i;  // (4*100i + 6) / 4, truncated
}

TEST(ImageOps, MatrixToU8Planes16SplitsBytes) {
  std::vector<float> v{0.0f, 1.0f, 2.5f, 1000.0f};
  Matrix m;
  Matrix_Init(&m, 2, 2, v.data());
  std::vector<uint8_t> a(4 * 3, 0), b(4 * 3, 0);
  ImageU8 pa, pb;
  ImageU8_Init(&pa, 4, 3, a.data());
  ImageU8_Init(&pb, 4, 3, b.data());
  // q = 100 v + 3 + 0.5 truncated: 3, 103, 253, 100003.
  Matrix_ToU8Planes16(&m, 1, 0, 2, 1, &pa, &pb, 100.0, 3.0);
  EXPECT_EQ(a, (std::vector<uint8_t>{0, 3, 103, 0, 0, 253, 100003 & 0xFF, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, (100003 >> 8) & 0xFF}));
  b[11] = 0;
  Matrix_ToU8Planes16(&m, 0, 0, 0, 0, &pa, nullptr, 1.0, 0.0);  // planeB optional
  EXPECT_EQ(b, std::vector<uint8_t>(12, 0));
}

TEST(ImageOps, MatrixToU8FixedPlanes) {
  std::vector<float> v{0.5f, 1.25f};
  Matrix m;
  Matrix_Init(&m, 2, 1, v.data());
  std::vector<uint8_t> a(2, 0), b(2, 0);
  ImageU8 pa, pb;
  ImageU8_Init(&pa, 2, 1, a.data());
  ImageU8_Init(&pb, 2, 1, b.data());
  // t = (2 v + 0) / 2 * 255 = 127.5 and 318.75.
  Matrix_ToU8FixedPlanes(&m, 0, 0, 0, 0, &pa, &pb, 2.0f, 2.0f, 0.0f);
  EXPECT_EQ(a[0], 127);  // 0.5 * 255.99
  EXPECT_EQ(b[0], 127);
  EXPECT_EQ(a[1], 191);  // 0.75 * 255.99
  EXPECT_EQ(b[1], 318 & 0xFF);
}

TEST(ImageOps, MapPlanesOnlyWhereBothMapsArePositive) {
  std::vector<float> x{10.5f, -2.0f, 3.0f, 0.0f}, y{20.25f, 5.0f, 6.0f, 7.0f};
  Matrix mx, my;
  Matrix_Init(&mx, 2, 2, x.data());
  Matrix_Init(&my, 2, 2, y.data());
  std::vector<uint8_t> px(9, 99), py(9, 99), pn(9, 99);
  ImageU8 ix, iy, in;
  ImageU8_Init(&ix, 3, 3, px.data());
  ImageU8_Init(&iy, 3, 3, py.data());
  ImageU8_Init(&in, 3, 3, pn.data());
  // sx = sy = 255, a = 1, b = 0: the map values themselves.
  Matrices_ToU8MapPlanes(&mx, &my, 1, 1, &ix, &iy, &in, 255, 255, 1, 1, 0, 0);
  EXPECT_EQ(px[4], 10);
  EXPECT_EQ(py[4], 20);
  EXPECT_EQ(pn[4], (7 << 4) | 3);  // trunc(0.5*15) = 7, trunc(0.25*15) = 3
  EXPECT_EQ(px[5], 99);            // x negative: untouched
  EXPECT_EQ(px[7], 3);
  EXPECT_EQ(py[7], 6);
  EXPECT_EQ(pn[7], 0);
  EXPECT_EQ(px[8], 99);  // x zero: untouched
}

}  // namespace
