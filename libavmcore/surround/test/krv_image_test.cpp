#include "surround/krv_image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "testsupport/config_state.h"
#include "toolkit/matrix_alloc.h"

namespace {

struct Maps {
  int32_t W, H;
  std::vector<float> x1, y1, x2, y2, w1, w2;
  Matrix X1, Y1, X2, Y2, W1, W2;
  Maps(int32_t w, int32_t h) : W(w), H(h) {
    for (auto* v : {&x1, &y1, &x2, &y2, &w1, &w2}) v->assign(static_cast<size_t>(w) * h, 0.0f);
    X1 = {w, h, x1.data()};
    Y1 = {w, h, y1.data()};
    X2 = {w, h, x2.data()};
    Y2 = {w, h, y2.data()};
    W1 = {w, h, w1.data()};
    W2 = {w, h, w2.data()};
  }
};

struct Planes {
  std::vector<uint8_t> b[4];
  ImageU8 p[4];
  Planes(int32_t w, int32_t h2) {
    for (int k = 0; k < 4; ++k) {
      b[k].assign(static_cast<size_t>(w) * h2, 0);
      p[k] = {w, h2, b[k].data()};
    }
  }
};

void Pack(const Maps& m, Planes* pl, int32_t Wq, int32_t Hq) {
  LUT_PackBytePlanes(&pl->p[0], &pl->p[1], &pl->p[2], &pl->p[3], &m.X1, &m.Y1, &m.X2, &m.Y2, &m.W1, &m.W2, Wq,
                     Hq);
}

TEST(KRVImagePacking, WeightsCoordinatesAndRamp) {
  // Quad frame of 2 x (160 x 120).
  const int32_t Wq = 320, Hq = 240;
  Maps m(4, 1);
  // Pixel 0: W1 1.0, source at the last quad column; pixel 1: W1 0.0, W2 0.5;
  // pixel 2: W1 0.5; pixel 3: fractions of both sources.
  m.w1 = {1.0f, 0.0f, 0.5f, 1.0f};
  m.w2 = {0.0f, 0.5f, 1.0f, -1.0f};
  m.x1[0] = Wq - 1;
  m.y1[0] = Hq - 1;
  m.x1[3] = 100.0f;  // 100 * 255 / 320 = 79.6875: int 79, frac 0.6875
  m.y1[3] = 50.0f;   // 50 * 255 / 240 = 53.125
  m.x2[3] = 100.0f;
  m.y2[3] = 50.0f;
  Planes pl(4, 2);
  Pack(m, &pl, Wq, Hq);
  // Upper row.
  EXPECT_EQ(pl.b[0][0], 254);  // just below 255: never overflows inside the frame
  EXPECT_EQ(pl.b[1][0], 253);  // 239 * 255 / 240 = 253.94
  EXPECT_EQ(pl.b[3][0] & 3, 3);         // w5 = 31
  EXPECT_EQ((pl.b[2][0] >> 5) & 7, 7);
  EXPECT_EQ(pl.b[3][1] & 3, 0);         // w5 = 0
  EXPECT_EQ((pl.b[2][1] >> 5) & 7, 0);
  const int w5half = (((pl.b[2][2] >> 5) & 7) << 2) | (pl.b[3][2] & 3);
  EXPECT_EQ(w5half, 16);
  EXPECT_EQ(pl.b[0][3], 79);
  EXPECT_EQ(pl.b[3][3] >> 2, static_cast<int>(0.6875f * 63));
  EXPECT_EQ(pl.b[1][3], 53);
  EXPECT_EQ(pl.b[2][3] & 31, static_cast<int>(0.125f * 31));
  // Lower row: second source and the seam ramp.
  EXPECT_EQ(pl.b[3][4 + 1], 128);  // W2 0.5
  EXPECT_EQ(pl.b[3][4 + 2], 255);
  EXPECT_EQ(pl.b[3][4 + 3], static_cast<uint8_t>(-254));  // -1: low byte of trunc(-254.5)
  EXPECT_EQ(pl.b[0][4 + 3], 79);
  EXPECT_EQ(pl.b[1][4 + 3], 53);
  EXPECT_EQ(pl.b[2][4 + 3] >> 4, static_cast<int>(0.6875f * 15));
  EXPECT_EQ(pl.b[2][4 + 3] & 15, static_cast<int>(0.125f * 15));
}

class KRVImageFile : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string path_ = state_.Path("lut.krv");

  static bool Load(const std::string& path, Matrix* out[4], int32_t p1[2], int32_t p2[2]) {
    return KRVImage_Load(path.c_str(), &out[0], &out[1], &out[2], &out[3], p1, p2) == 1;
  }
  std::vector<uint8_t> Bytes() const {
    std::ifstream in(path_, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  void WriteBytes(const std::vector<uint8_t>& b) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
};

TEST_F(KRVImageFile, WriteThenReadGivesTheSameBytesAndPairs) {
  const int32_t W = 7, H2 = 6;
  Planes pl(W, H2);
  for (int k = 0; k < 4; ++k)
    for (size_t i = 0; i < pl.b[k].size(); ++i) pl.b[k][i] = static_cast<uint8_t>(i * 37 + k * 11);
  gv().config.seamAngle[0] = 70.0f;
  gv().config.seamAngle[3] = 40.5f;
  const int32_t pair1[2] = {12, 34}, pair2[2] = {56, 78};
  ASSERT_EQ(KRVImage_Save(&pl.p[0], &pl.p[1], &pl.p[2], &pl.p[3], pair1, pair2, path_.c_str()), 1);

  const std::vector<uint8_t> raw = Bytes();
  ASSERT_EQ(raw.size(), static_cast<size_t>(28 + W * H2 * 4 + 16));
  int32_t head[7];
  memcpy(head, raw.data(), sizeof head);
  EXPECT_EQ(static_cast<uint32_t>(head[0]), kKRVImageMagic);
  EXPECT_EQ(head[1], W);
  EXPECT_EQ(head[2], H2);
  // Each pair is stored second word first.
  EXPECT_EQ(head[3], 34);
  EXPECT_EQ(head[4], 12);
  EXPECT_EQ(head[5], 78);
  EXPECT_EQ(head[6], 56);
  float angles[4];
  memcpy(angles, raw.data() + raw.size() - 16, 16);
  EXPECT_EQ(angles[0], 70.0f);
  EXPECT_EQ(angles[3], 40.5f);

  Matrix* out[4];
  int32_t p1[2], p2[2];
  ASSERT_TRUE(Load(path_, out, p1, p2));
  EXPECT_EQ(p1[0], 12);
  EXPECT_EQ(p1[1], 34);
  EXPECT_EQ(p2[0], 56);
  EXPECT_EQ(p2[1], 78);
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(out[k]->cols, W);
    ASSERT_EQ(out[k]->rows, H2);
    for (size_t i = 0; i < pl.b[k].size(); ++i)
      ASSERT_EQ(static_cast<int>(out[k]->data[i] * 255.0f + 0.5f), pl.b[k][i]) << k << " " << i;
    Matrix_Delete(out[k]);
  }
}

TEST_F(KRVImageFile, CorruptFilesAreRefusedAndOutputsUntouched) {
  Planes pl(4, 2);
  const int32_t pair[2] = {1, 2};
  ASSERT_EQ(KRVImage_Save(&pl.p[0], &pl.p[1], &pl.p[2], &pl.p[3], pair, pair, path_.c_str()), 1);
  const std::vector<uint8_t> good = Bytes();
  auto withWord = [&](int word, int32_t v) {
    std::vector<uint8_t> b = good;
    memcpy(&b[4 * word], &v, 4);
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"wrong magic", withWord(0, 0x00666701)},
      {"zero width", withWord(1, 0)},
      {"negative height", withWord(2, -2)},
      {"odd height", withWord(2, 3)},
      {"huge width", withWord(1, 1 << 30)},
      {"short body", std::vector<uint8_t>(good.begin(), good.begin() + 28 + 4 * 4 * 2 - 1)},
      // The header alone declaring the largest planes: refused from the
      // file's length before 2 GiB are allocated and zero-filled.
      {"largest size, header only", [&] {
         std::vector<uint8_t> b = withWord(1, kKRVImageMaxSide);
         const int32_t h2 = 2 * kKRVImageMaxSide;
         memcpy(&b[8], &h2, 4);
         b.resize(kKRVImageHeaderBytes);
         return b;
       }()},
      {"short header", std::vector<uint8_t>(good.begin(), good.begin() + 20)},
      {"empty", {}},
  };
  for (const Case& c : cases) {
    WriteBytes(c.bytes);
    Matrix* sentinel = reinterpret_cast<Matrix*>(0x1);
    Matrix* out[4] = {sentinel, sentinel, sentinel, sentinel};
    int32_t p1[2] = {-7, -7}, p2[2] = {-7, -7};
    EXPECT_FALSE(Load(path_, out, p1, p2)) << c.what;
    for (Matrix* m : out) EXPECT_EQ(m, sentinel) << c.what;
    EXPECT_EQ(p1[0], -7) << c.what;
  }
  Matrix* out[4];
  int32_t p1[2], p2[2];
  EXPECT_FALSE(Load(state_.Path("missing.krv"), out, p1, p2));
}

TEST_F(KRVImageFile, UncreatableFileIsReported) {
  Planes pl(2, 2);
  const int32_t pair[2] = {0, 0};
  EXPECT_EQ(KRVImage_Save(&pl.p[0], &pl.p[1], &pl.p[2], &pl.p[3], pair, pair,
                          state_.Path("no/such/dir/lut.krv").c_str()),
            0);
  // A full device: the bytes do not land.
  if (FILE* probe = fopen("/dev/full", "wb")) {
    fclose(probe);
    EXPECT_EQ(KRVImage_Save(&pl.p[0], &pl.p[1], &pl.p[2], &pl.p[3], pair, pair, "/dev/full"), 0);
  }
}

TEST_F(KRVImageFile, MergerSetsUpFromTheFileAndReleases) {
  Planes pl(6, 4);
  const int32_t pair1[2] = {3, 4}, pair2[2] = {5, 6};
  ASSERT_EQ(KRVImage_Save(&pl.p[0], &pl.p[1], &pl.p[2], &pl.p[3], pair1, pair2, path_.c_str()), 1);
  KRVImageMerger m{};
  EXPECT_EQ(KRVImageMerger_Init(&m, path_.c_str(), 32, 24), 0);
  ASSERT_EQ(m.loaded, 1u);
  EXPECT_EQ(m.outWidth, 6);
  EXPECT_EQ(m.outHeight, 2);
  EXPECT_EQ(m.inWidth, 32);
  EXPECT_EQ(m.pair1[0], 3);
  EXPECT_EQ(m.pair2[1], 6);
  Matrix* first = m.planes[0];
  EXPECT_EQ(KRVImageMerger_Init(&m, path_.c_str(), 32, 24), 0);  // loaded: nothing happens
  EXPECT_EQ(m.planes[0], first);
  EXPECT_EQ(KRVImageMerger_Release(&m), 0);
  EXPECT_EQ(m.loaded, 0u);
  EXPECT_EQ(KRVImageMerger_Release(&m), 0);

  KRVImageMerger bad{};
  EXPECT_EQ(KRVImageMerger_Init(&bad, state_.Path("missing.krv").c_str(), 32, 24), 0);
  EXPECT_EQ(bad.loaded, 0u);
}

// A frame size whose buffer cannot exist fails after the file's planes were
// loaded: the planes are freed (LeakSanitizer checks), the record stays
// unloaded and a later set-up works.
TEST_F(KRVImageFile, MergerThatCannotAllocateFreesThePlanes) {
  Planes pl(6, 4);
  const int32_t pair[2] = {0, 0};
  ASSERT_EQ(KRVImage_Save(&pl.p[0], &pl.p[1], &pl.p[2], &pl.p[3], pair, pair, path_.c_str()), 1);
  KRVImageMerger m{};
  EXPECT_THROW(KRVImageMerger_Init(&m, path_.c_str(), INT32_MAX, INT32_MAX), std::length_error);
  EXPECT_EQ(m.loaded, 0u);
  for (Matrix* p : m.planes) EXPECT_EQ(p, nullptr);
  EXPECT_EQ(KRVImageMerger_Init(&m, path_.c_str(), 8, 6), 0);
  EXPECT_EQ(m.loaded, 1u);
  EXPECT_EQ(m.inRGB.size(), 8u * 6 * 3);
  EXPECT_EQ(KRVImageMerger_Release(&m), 0);
}

}  // namespace
