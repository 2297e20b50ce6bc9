#include "toolkit/bmp_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#if AVM_HAVE_OPENCV_IMGCODECS
#include <opencv2/imgcodecs.hpp>
#endif
#include <random>
#include <string>
#include <vector>

#include "toolkit/test/pixel_test_util.h"

namespace {

using pixel_test::Exists;
using pixel_test::Le32;
using pixel_test::TempDir;
using pixel_test::WriteAll;

// The 54 header bytes every writer produces for a 24-bit picture.
std::vector<uint8_t> Header24(int32_t w, int32_t h) {
  std::vector<uint8_t> b(54, 0);
  auto put32 = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  const uint32_t image = static_cast<uint32_t>(w) * 3 * static_cast<uint32_t>(h);
  b[0] = 'B';
  b[1] = 'M';
  put32(2, 54 + image);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(w));
  put32(22, static_cast<uint32_t>(h));
  b[26] = 1;
  b[28] = 24;
  put32(34, image);
  return b;
}

TEST(BmpFile, OnePixelFileIsByteExact) {
  TempDir dir;
  uint8_t bgr[3] = {1, 2, 3};
  Rgb24Image img{1, 1, 0, bgr, 3};
  ASSERT_EQ(Bmp_SaveRGB24(&img, dir.File("one.bmp").c_str()), 1);
  std::vector<uint8_t> want = Header24(1, 1);
  want.insert(want.end(), {1, 2, 3, 0});
  const std::vector<uint8_t> got = testsupport::ReadFileBytes(dir.File("one.bmp"));
  EXPECT_EQ(got.size(), 58u);
  EXPECT_EQ(got, want);
  EXPECT_EQ(Le32(got, 2), 57u);  // the size field leaves out the padding
}

TEST(BmpFile, RowPaddingForWidthsOneToFive) {
  TempDir dir;
  const int padded[] = {4, 8, 12, 12, 16};
  for (int w = 1; w <= 5; ++w) {
    SCOPED_TRACE(w);
    const int h = 2;
    std::vector<uint8_t> grey(w * h);
    for (int i = 0; i < w * h; ++i) grey[i] = static_cast<uint8_t>(10 + i);
    const std::string path = dir.File("w" + std::to_string(w) + ".bmp");
    ASSERT_EQ(Bmp_SaveGrayU8(w, h, w, grey.data(), path.c_str()), 1);
    std::vector<uint8_t> want = Header24(w, h);
    for (int y = h - 1; y >= 0; --y) {  // bottom row first
      for (int x = 0; x < w; ++x) want.insert(want.end(), 3, grey[y * w + x]);
      want.insert(want.end(), padded[w - 1] - 3 * w, 0);
    }
    EXPECT_EQ(testsupport::ReadFileBytes(path), want);
  }
}

TEST(BmpFile, Rgb24RoundTripBothByteOrders) {
  TempDir dir;
  const int w = 7, h = 5;
  std::mt19937 rng(1);
  std::vector<uint8_t> px(w * h * 3);
  for (auto& b : px) b = rng() & 255;
  for (int order = 0; order < 2; ++order) {
    Rgb24Image img{w, h, order, px.data(), 3 * w};
    const std::string path = dir.File("rgb.bmp");
    ASSERT_EQ(Bmp_SaveRGB24(&img, path.c_str()), 1);
    Rgb24Image* back = Bmp_LoadRGB24(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->width, w);
    EXPECT_EQ(back->height, h);
    EXPECT_EQ(back->rgbOrder, 0);
    EXPECT_EQ(back->stride, 3 * w);
    for (int i = 0; i < w * h; ++i)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(back->data[3 * i + c], px[3 * i + (order ? 2 - c : c)]) << i;
    Rgb24Image_Delete(back);
  }
}

TEST(BmpFile, GreyRoundTrip) {
  TempDir dir;
  const int w = 5, h = 3;
  std::vector<uint8_t> grey(w * h);
  for (int i = 0; i < w * h; ++i) grey[i] = static_cast<uint8_t>(i * 17);
  ImageU8 img{w, h, grey.data()};
  const std::string path = dir.File("g.bmp");
  ASSERT_EQ(Bmp_SaveImageU8(&img, path.c_str(), 0), 1);
  // Grey pixels come back through the luma rule, exactly for R = G = B only
  // where Y(g, g, g) = g; check the planes instead, which are exact.
  ImageU8 *r = nullptr, *g = nullptr, *b = nullptr;
  ASSERT_EQ(Bmp_LoadRGBPlanesU8(path.c_str(), &r, &g, &b), 1);
  for (int i = 0; i < w * h; ++i) {
    EXPECT_EQ(r->data[i], grey[i]);
    EXPECT_EQ(g->data[i], grey[i]);
    EXPECT_EQ(b->data[i], grey[i]);
  }
  ImageU8* y = Bmp_LoadGrayU8(path.c_str());
  ASSERT_NE(y, nullptr);
  for (int i = 0; i < w * h; ++i) EXPECT_EQ(y->data[i], ((220 * grey[i] + 128) >> 8) + 16);
  ImageU8_Delete(r);
  ImageU8_Delete(g);
  ImageU8_Delete(b);
  ImageU8_Delete(y);
  // Two-level flag: non-zero bytes become 255.
  ASSERT_EQ(Bmp_SaveImageU8(&img, path.c_str(), 1), 1);
  ASSERT_EQ(Bmp_LoadRGBPlanesU8(path.c_str(), &r, &g, &b), 1);
  EXPECT_EQ(r->data[0], 0);
  EXPECT_EQ(r->data[1], 255);
  ImageU8_Delete(r);
  ImageU8_Delete(g);
  ImageU8_Delete(b);
}

TEST(BmpFile, FloatPlanesRoundTripAndGreyModes) {
  TempDir dir;
  pixel_test::FloatImage img(3, 2);
  const float values[6] = {0.0f, 1.0f, 0.5f, -0.2f, 0.25f, 1.0f};
  for (int i = 0; i < 6; ++i) img.v[i] = values[i];
  const std::string path = dir.File("f.bmp");
  ASSERT_EQ(Bmp_SaveFloatPlanes(&img.m, path.c_str()), 1);
  Matrix *r = nullptr, *g = nullptr, *b = nullptr, *a = reinterpret_cast<Matrix*>(1);
  ASSERT_EQ(Bmp_LoadRGBPlanesFloat(path.c_str(), &r, &g, &b, &a), 1);
  EXPECT_EQ(a, nullptr);  // a 24-bit file has no alpha
  const uint8_t bytes[6] = {0, 255, 128, 0, 64, 255};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r->data[i], bytes[i] / 255.0f) << i;
  Matrix_Delete(r);
  Matrix_Delete(g);
  Matrix_Delete(b);
  // A white pixel: luma 235 in mode 0, 1.0 in modes 1 and 2.
  Matrix* m0 = Bmp_LoadGrayFloat(path.c_str(), 0);
  Matrix* m1 = Bmp_LoadGrayFloat(path.c_str(), 1);
  Matrix* m2 = Bmp_LoadGrayFloat(path.c_str(), 2);
  ASSERT_TRUE(m0 && m1 && m2);
  EXPECT_EQ(m0->cols, 3);
  EXPECT_EQ(m0->rows, 2);
  EXPECT_EQ(m0->data[1], 235 / 255.0f);
  EXPECT_EQ(m1->data[1], 1.0f);
  EXPECT_EQ(m2->data[1], 1.0f);
  Matrix_Delete(m0);
  Matrix_Delete(m1);
  Matrix_Delete(m2);
}

TEST(BmpFile, MaxAndMinModesOfAColourPixel) {
  TempDir dir;
  uint8_t bgr[3] = {30, 200, 90};
  Rgb24Image img{1, 1, 0, bgr, 3};
  const std::string path = dir.File("c.bmp");
  ASSERT_EQ(Bmp_SaveRGB24(&img, path.c_str()), 1);
  Matrix* m1 = Bmp_LoadGrayFloat(path.c_str(), 1);
  Matrix* m7 = Bmp_LoadGrayFloat(path.c_str(), 7);
  EXPECT_EQ(m1->data[0], 200 / 255.0f);
  EXPECT_EQ(m7->data[0], 30 / 255.0f);
  Matrix_Delete(m1);
  Matrix_Delete(m7);
}

TEST(BmpFile, Rgba32GivesFourPlanes) {
  TempDir dir;
  uint8_t r[2] = {1, 2}, g[2] = {3, 4}, b[2] = {5, 6}, a[2] = {7, 255};
  ImageU8 R{2, 1, r}, G{2, 1, g}, B{2, 1, b}, A{2, 1, a};
  const std::string path = dir.File("a.bmp");
  ASSERT_EQ(Bmp_SaveRGBA32(&R, &G, &B, &A, path.c_str()), 1);
  const std::vector<uint8_t> file = testsupport::ReadFileBytes(path);
  ASSERT_EQ(file.size(), 54u + 8u);
  EXPECT_EQ(file[28], 32);
  EXPECT_EQ(Le32(file, 34), 8u);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 54, file.end()), (std::vector<uint8_t>{5, 3, 1, 7, 6, 4, 2, 255}));
  Matrix *pr, *pg, *pb, *pa;
  ASSERT_EQ(Bmp_LoadRGBPlanesFloat(path.c_str(), &pr, &pg, &pb, &pa), 1);
  ASSERT_NE(pa, nullptr);
  EXPECT_EQ(pa->data[1], 1.0f);
  EXPECT_EQ(pr->data[1], 2 / 255.0f);
  Matrix_Delete(pr);
  Matrix_Delete(pg);
  Matrix_Delete(pb);
  Matrix_Delete(pa);
  // 32-bit files read as 24-bit pictures too.
  Rgb24Image* rgb = Bmp_LoadRGB24(path.c_str());
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(rgb->data[3], 6);
  EXPECT_EQ(rgb->data[5], 2);
  Rgb24Image_Delete(rgb);
}

// A 3-row picture written by hand, rows 10, 20, 30 in file order.
std::vector<uint8_t> ThreeRowFile(int32_t height) {
  std::vector<uint8_t> f = Header24(1, 3);
  for (int i = 0; i < 4; ++i) f[22 + i] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> (8 * i));
  for (uint8_t v : {10, 20, 30}) f.insert(f.end(), {v, v, v, 0});
  return f;
}

TEST(BmpFile, BottomUpAndTopDownFilesBothRead) {
  TempDir dir;
  const std::string up = dir.File("up.bmp"), down = dir.File("down.bmp");
  WriteAll(up, ThreeRowFile(3));
  WriteAll(down, ThreeRowFile(-3));
  // Bottom-up: image row 0 is the file's last row.
  ImageU8* a = Bmp_LoadGrayU8(up.c_str());
  Rgb24Image* rgb = Bmp_LoadRGB24(up.c_str());
  ASSERT_TRUE(a && rgb);
  EXPECT_EQ(a->height, 3);
  EXPECT_EQ(rgb->data[0], 30);
  EXPECT_EQ(rgb->data[6], 10);
  // Top-down: height 3, row 0 is the file's first row.
  ImageU8* b = Bmp_LoadGrayU8(down.c_str());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->height, 3);
  EXPECT_EQ(b->data[0], a->data[2]);
  EXPECT_EQ(b->data[2], a->data[0]);
  Rgb24Image* rgbDown = Bmp_LoadRGB24(down.c_str());
  Matrix* fDown = Bmp_LoadGrayFloat(down.c_str(), 1);
  ASSERT_TRUE(rgbDown && fDown);
  EXPECT_EQ(rgbDown->data[0], 10);
  EXPECT_EQ(fDown->rows, 3);
  EXPECT_EQ(fDown->data[0], 10 / 255.0f);
  ImageU8_Delete(a);
  ImageU8_Delete(b);
  Rgb24Image_Delete(rgb);
  Rgb24Image_Delete(rgbDown);
  Matrix_Delete(fDown);
}

// Checked against OpenCV's reader and writer where the build has them (the
// arm64 cross build links OpenCV without its image codecs).
#if AVM_HAVE_OPENCV_IMGCODECS
TEST(BmpFile, OpenCvReadsWhatWeWrite) {
  TempDir dir;
  const int w = 13, h = 7;
  std::mt19937 rng(2);
  std::vector<uint8_t> px(w * h * 3);
  for (auto& b : px) b = rng() & 255;
  Rgb24Image img{w, h, 0, px.data(), 3 * w};
  const std::string path = dir.File("ours.bmp");
  ASSERT_EQ(Bmp_SaveRGB24(&img, path.c_str()), 1);
  cv::Mat read = cv::imread(path, cv::IMREAD_UNCHANGED);
  ASSERT_FALSE(read.empty());
  ASSERT_EQ(read.type(), CV_8UC3);
  ASSERT_EQ(read.cols, w);
  ASSERT_EQ(read.rows, h);
  for (int y = 0; y < h; ++y) EXPECT_EQ(std::memcmp(read.ptr(y), &px[y * 3 * w], 3 * w), 0) << y;
}

TEST(BmpFile, WeReadWhatOpenCvWrites) {
  TempDir dir;
  const int w = 11, h = 6;
  cv::Mat img(h, w, CV_8UC3);
  cv::randu(img, 0, 256);
  const std::string path = dir.File("theirs.bmp");
  ASSERT_TRUE(cv::imwrite(path, img));
  Rgb24Image* back = Bmp_LoadRGB24(path.c_str());
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->width, w);
  ASSERT_EQ(back->height, h);
  for (int y = 0; y < h; ++y) EXPECT_EQ(std::memcmp(img.ptr(y), back->data + y * back->stride, 3 * w), 0) << y;
  Rgb24Image_Delete(back);
}
#endif

// Broken files: each is rejected with a null result, never a partial one.
TEST(BmpFile, MalformedFilesAreRejected) {
  TempDir dir;
  const std::vector<uint8_t> good = ThreeRowFile(3);
  auto with32 = [&](size_t off, uint32_t v) {
    std::vector<uint8_t> f = good;
    for (int i = 0; i < 4; ++i) f[off + i] = static_cast<uint8_t>(v >> (8 * i));
    return f;
  };
  auto with16 = [&](size_t off, uint16_t v) {
    std::vector<uint8_t> f = good;
    f[off] = static_cast<uint8_t>(v);
    f[off + 1] = static_cast<uint8_t>(v >> 8);
    return f;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"empty", {}},
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 30)},
      {"no pixel rows", std::vector<uint8_t>(good.begin(), good.begin() + 54)},
      {"last row short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"not a bitmap", with16(0, 0x5A4D)},
      {"8 bits a pixel", with16(28, 8)},
      {"16 bits a pixel", with16(28, 16)},
      {"0 bits a pixel", with16(28, 0)},
      {"compressed", with32(30, 1)},
      {"zero width", with32(18, 0)},
      {"negative width", with32(18, static_cast<uint32_t>(-1))},
      {"zero height", with32(22, 0)},
      {"most negative height", with32(22, 0x80000000u)},
      {"overflowing size", with32(18, 0x7FFFFFFF)},
      {"huge height", with32(22, 0x7FFFFFFF)},
      {"data offset past the end", with32(10, 1000)},
      {"data offset inside the header", with32(10, 20)},
      {"data offset far out", with32(10, 0xFFFFFFF0u)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("bad.bmp");
    WriteAll(path, c.bytes);
    EXPECT_EQ(Bmp_LoadGrayU8(path.c_str()), nullptr);
    EXPECT_EQ(Bmp_LoadGrayFloat(path.c_str(), 0), nullptr);
    EXPECT_EQ(Bmp_LoadRGB24(path.c_str()), nullptr);
    EXPECT_EQ(Bmp_LoadRGB24Matrix(path.c_str()), nullptr);
    ImageU8 *r = reinterpret_cast<ImageU8*>(1), *g = r, *b = r;
    EXPECT_EQ(Bmp_LoadRGBPlanesU8(path.c_str(), &r, &g, &b), 0);
    EXPECT_TRUE(r == nullptr && g == nullptr && b == nullptr);
    Matrix *fr = reinterpret_cast<Matrix*>(1), *fg = fr, *fb = fr, *fa = fr;
    EXPECT_EQ(Bmp_LoadRGBPlanesFloat(path.c_str(), &fr, &fg, &fb, &fa), 0);
    EXPECT_TRUE(fr == nullptr && fg == nullptr && fb == nullptr && fa == nullptr);
    // The broken file itself is left as it was.
    EXPECT_EQ(testsupport::ReadFileBytes(path), c.bytes);
  }
}

TEST(BmpFile, MissingFilesAndDirectories) {
  TempDir dir;
  EXPECT_EQ(Bmp_LoadGrayU8(dir.File("none.bmp").c_str()), nullptr);
  EXPECT_EQ(Bmp_LoadGrayU8(nullptr), nullptr);
  uint8_t px[3] = {0, 0, 0};
  Rgb24Image img{1, 1, 0, px, 3};
  const std::string inMissing = dir.File("missing/dir/x.bmp");
  EXPECT_EQ(Bmp_SaveRGB24(&img, inMissing.c_str()), 0);
  EXPECT_FALSE(Exists(inMissing));
  EXPECT_EQ(Bmp_SaveRGB24(nullptr, dir.File("n.bmp").c_str()), 0);
  EXPECT_FALSE(Exists(dir.File("n.bmp")));
  EXPECT_EQ(Bmp_SaveRGB24(&img, nullptr), 0);
}

TEST(BmpFile, WriterWithoutPixelsLeavesAnEmptyFile) {
  TempDir dir;
  Matrix m{4, 4, nullptr};
  const std::string path = dir.File("e.bmp");
  EXPECT_EQ(Bmp_SaveFloatPlanes(&m, path.c_str()), 0);
  EXPECT_TRUE(Exists(path));
  EXPECT_TRUE(testsupport::ReadFileBytes(path).empty());
  // A negative size is refused before any file is made.
  uint8_t px[3] = {0, 0, 0};
  Rgb24Image bad{-2, 1, 0, px, 3};
  EXPECT_EQ(Bmp_SaveRGB24(&bad, dir.File("neg.bmp").c_str()), 0);
  EXPECT_FALSE(Exists(dir.File("neg.bmp")));
}

TEST(BmpFile, TypedGreyWriters) {
  TempDir dir;
  int32_t i32[4] = {-5, 0, 1, 300};
  uint16_t u16[4] = {0x8001, 0, 1, 0x1FF};
  ImageI32 a{4, 1, i32};
  ImageU16 b{4, 1, u16};
  struct Case {
    int which, twoLevel;
    std::vector<uint8_t> want;
  } cases[] = {{0, 0, {251, 0, 1, 44}}, {0, 1, {0, 0, 255, 255}}, {1, 0, {1, 0, 1, 255}}, {1, 1, {0, 0, 255, 255}}};
  for (const Case& c : cases) {
    const std::string path = dir.File("t.bmp");
    ASSERT_EQ(c.which == 0 ? Bmp_SaveImageI32(&a, path.c_str(), c.twoLevel)
                           : Bmp_SaveImageU16(&b, path.c_str(), c.twoLevel),
              1);
    const std::vector<uint8_t> f = testsupport::ReadFileBytes(path);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(f[54 + 3 * x], c.want[x]) << c.which << c.twoLevel << x;
  }
}

TEST(BmpFile, OverlayAndRgbFloatWriters) {
  TempDir dir;
  pixel_test::FloatImage r(2, 1), g(2, 1);
  r.v = {1.0f, 0.5f};
  g.v = {0.2f, 0.0f};
  r.m.data = r.v.data();
  g.m.data = g.v.data();
  const std::string path = dir.File("o.bmp");
  ASSERT_EQ(Bmp_SaveOverlayFloat(&r.m, &g.m, nullptr, path.c_str()), 1);
  std::vector<uint8_t> f = testsupport::ReadFileBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.begin() + 60), (std::vector<uint8_t>{0, 51, 255, 0, 0, 128}));
  // Planes of different sizes are refused.
  pixel_test::FloatImage small(1, 1);
  EXPECT_EQ(Bmp_SaveOverlayFloat(&r.m, &small.m, nullptr, dir.File("o2.bmp").c_str()), 0);
  EXPECT_FALSE(Exists(dir.File("o2.bmp")));

  uint8_t pr[2] = {9, 8}, pb[2] = {1, 2};
  ImageU8 R{2, 1, pr}, B{2, 1, pb};
  ASSERT_EQ(Bmp_SaveOverlayU8(&R, nullptr, &B, path.c_str()), 1);
  f = testsupport::ReadFileBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.begin() + 60), (std::vector<uint8_t>{1, 0, 9, 2, 0, 8}));

  // RGB float: truncation, no rounding; round trip through the matrix reader.
  float rgb[6] = {0.999f, 0.5f, 0.0f, 1.0f, 1.0f, 1.0f};
  FloatPixelImage fi{2, 1, rgb};
  ASSERT_EQ(Bmp_SaveRGBFloat(&fi, path.c_str()), 1);
  f = testsupport::ReadFileBytes(path);
  EXPECT_EQ(std::vector<uint8_t>(f.begin() + 54, f.begin() + 60), (std::vector<uint8_t>{0, 127, 254, 255, 255, 255}));
  FloatPixelImage* back = Bmp_LoadRGB24Matrix(path.c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->data[0], 254 / 255.0f);
  EXPECT_EQ(back->data[1], 127 / 255.0f);
  EXPECT_EQ(back->data[5], 1.0f);
  FloatPixelImage_Delete(back);
}

TEST(BmpFile, GreyWithMarks) {
  TempDir dir;
  pixel_test::FloatImage img(4, 3, 0.0f);
  const float xs[] = {1.0f, 3.0f, 0.0f, 2.5f, -1.0f};
  const float ys[] = {1.0f, 1.0f, 0.0f, 2.0f, 1.0f};
  const uint8_t colours[] = {1, 2, 3, 9, 4};  // only the first fits and has a known colour... and the fourth
  const std::string path = dir.File("m.bmp");
  ASSERT_EQ(Bmp_SaveGrayWithMarks(&img.m, 5, xs, ys, colours, path.c_str()), 1);
  Rgb24Image* back = Bmp_LoadRGB24(path.c_str());
  ASSERT_NE(back, nullptr);
  auto px = [&](int x, int y) { return back->data + y * back->stride + 3 * x; };
  const uint8_t red[3] = {0, 0, 255};
  for (auto p : {px(1, 1), px(1, 0), px(2, 1)}) EXPECT_EQ(std::memcmp(p, red, 3), 0);
  // Everything else stays black: the marks at the last column, the first
  // row, with colour 9 and at x -1 are skipped.
  int lit = 0;
  for (int i = 0; i < 4 * 3 * 3; ++i) lit += back->data[i] != 0;
  EXPECT_EQ(lit, 3);
  Rgb24Image_Delete(back);
}

TEST(BmpFile, BinarizeInPlaceKeepsHeadersAndLosesNothingOnFailure) {
  TempDir dir;
  // Dark left half, bright right half.
  std::vector<uint8_t> grey = {20, 30, 200, 220, 25, 35, 210, 230};
  const std::string path = dir.File("b.bmp");
  ASSERT_EQ(Bmp_SaveGrayU8(4, 2, 4, grey.data(), path.c_str()), 1);
  const std::vector<uint8_t> before = testsupport::ReadFileBytes(path);
  ASSERT_EQ(Bmp_BinarizeGrayInPlace(path.c_str()), 1);
  const std::vector<uint8_t> after = testsupport::ReadFileBytes(path);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 54, after.begin()));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(after[54 + 3 * i], (i % 4) < 2 ? 0 : 255) << i;
  EXPECT_FALSE(Exists(path + ".tmp"));
  // A truncated file is refused and left as it was.
  std::vector<uint8_t> cut(before.begin(), before.end() - 5);
  WriteAll(path, cut);
  EXPECT_EQ(Bmp_BinarizeGrayInPlace(path.c_str()), 0);
  EXPECT_EQ(testsupport::ReadFileBytes(path), cut);
  EXPECT_EQ(Bmp_BinarizeGrayInPlace(dir.File("none.bmp").c_str()), 0);
}

}  // namespace
