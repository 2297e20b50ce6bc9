#include "toolkit/hough.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr float kDeg = 3.14159265f / 180.0f;

struct Seg {
  int r0, c0, r1, c1;  // r0 <= r1
};

// Pixels of the segment, one per step of the major axis, rounded.
void Draw(std::vector<uint8_t>& img, int w, const Seg& s) {
  const int dr = s.r1 - s.r0, dc = s.c1 - s.c0;
  const int n = std::max(std::abs(dr), std::abs(dc));
  for (int i = 0; i <= n; ++i) {
    const int r = static_cast<int>(std::lround(s.r0 + static_cast<double>(dr) * i / n));
    const int c = static_cast<int>(std::lround(s.c0 + static_cast<double>(dc) * i / n));
    img[r * w + c] = 255;
  }
}

double AngleOf(const Seg& s) { return std::atan2(s.r1 - s.r0, s.c1 - s.c0) * 180.0 / M_PI; }

double AngleDiff(double a, double b) {
  double d = std::fmod(std::fabs(a - b), 180.0);
  return std::min(d, 180.0 - d);
}

bool Near(int r, int c, int er, int ec, int tol) { return std::abs(r - er) <= tol && std::abs(c - ec) <= tol; }

// True when some found segment has the expected angle and ends.
bool Matches(const HoughSegment* found, int n, const Seg& e, int tol = 1) {
  for (int i = 0; i < n; ++i) {
    const HoughSegment& f = found[i];
    if (AngleDiff(f.angleDeg, AngleOf(e)) > 1.0) continue;
    const bool same = Near(f.row0, f.col0, e.r0, e.c0, tol) && Near(f.row1, f.col1, e.r1, e.c1, tol);
    const bool swapped = Near(f.row0, f.col0, e.r1, e.c1, tol) && Near(f.row1, f.col1, e.r0, e.c0, tol);
    if (same || swapped) return true;
  }
  return false;
}

std::string Dump(const HoughSegment* found, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) {
    const HoughSegment& f = found[i];
    s += "(" + std::to_string(f.row0) + "," + std::to_string(f.col0) + ")-(" + std::to_string(f.row1) +
         "," + std::to_string(f.col1) + ") " + std::to_string(f.angleDeg) + "\n";
  }
  return s;
}

class HoughTest : public ::testing::Test {
 protected:
  Hough h{};
  void TearDown() override { Hough_Destroy(&h); }
};

TEST_F(HoughTest, StrongestCellFindsEverySegmentOfAScene) {
  const int w = 320, hh = 240;
  std::vector<uint8_t> img(w * hh, 0);
  const std::vector<Seg> lines = {
      {20, 40, 200, 40},    // vertical
      {220, 60, 220, 280},  // horizontal, clear of the others' extensions
      {30, 100, 150, 220},  // 45 degrees
      {40, 300, 200, 208},  // steep, to the left (about 120 degrees)
  };
  for (const Seg& s : lines) Draw(img, w, s);
  ASSERT_EQ(Hough_Create(&h, w, hh, 180, 40, hh, 1.0f, kDeg, 0.0f), 1);
  ImageU8 u8{w, hh, img.data()};
  Hough_CollectPointsU8(&h, &u8);
  HoughSegment found[10];
  int32_t n = 10;
  Hough_Detect(&h, found, &n);
  EXPECT_EQ(n, 4) << Dump(found, n);
  for (const Seg& s : lines) EXPECT_TRUE(Matches(found, n, s)) << s.r0 << "," << s.c0 << "\n" << Dump(found, n);
  for (int i = 0; i < n; ++i) EXPECT_LE(found[i].row0, found[i].row1);
}

TEST_F(HoughTest, FloatCollectAndRequestedCountLimitTheResult) {
  const int w = 100, hh = 80;
  std::vector<float> img(w * hh, 0.0f);
  for (int r = 10; r < 70; ++r) img[r * w + 30] = 1.0f;
  for (int r = 10; r < 50; ++r) img[r * w + 70] = 0.5f;
  ASSERT_EQ(Hough_Create(&h, w, hh, 180, 20, hh, 1.0f, kDeg, 0.0f), 1);
  Matrix m{w, hh, img.data()};
  Hough_CollectPointsF(&h, &m);
  EXPECT_EQ(h.pointCount, 100);
  HoughSegment found[4];
  int32_t n = 1;
  Hough_Detect(&h, found, &n);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(found[0].col0, 30);  // the stronger line first
  EXPECT_EQ(found[0].row0, 10);
  EXPECT_EQ(found[0].row1, 69);
}

TEST_F(HoughTest, SinglePointGivesADegenerateSegment) {
  std::vector<uint8_t> img(20 * 20, 0);
  img[5 * 20 + 7] = 1;
  ASSERT_EQ(Hough_Create(&h, 20, 20, 180, 1, 20, 1.0f, kDeg, 0.0f), 1);
  ImageU8 u8{20, 20, img.data()};
  Hough_CollectPointsU8(&h, &u8);
  HoughSegment s[2];
  int32_t n = 2;
  Hough_Detect(&h, s, &n);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(s[0].row0, 5);
  EXPECT_EQ(s[0].col0, 7);
  EXPECT_EQ(s[0].row1, 5);
  EXPECT_EQ(s[0].col1, 7);
  EXPECT_EQ(s[0].angleDeg, 0.0f);
  EXPECT_TRUE(std::isnan(s[0].baseCol));
  EXPECT_EQ(s[0].reserved, 0);
}

TEST_F(HoughTest, VerticalRunGivesNinetyDegreesAndItsColumnAsBase) {
  std::vector<uint8_t> img(40 * 60, 0);
  for (int r = 12; r < 30; ++r) img[r * 40 + 17] = 1;
  // 90 degrees is angle 25 of 51 one-degree angles from 65.
  ASSERT_EQ(Hough_Create(&h, 40, 60, 51, 10, 60, 1.0f, kDeg, 65.0f * kDeg), 1);
  ImageU8 u8{40, 60, img.data()};
  Hough_CollectPointsU8(&h, &u8);
  HoughSegment s[2];
  int32_t n = 2;
  Hough_Detect(&h, s, &n);
  ASSERT_EQ(n, 1);
  EXPECT_EQ(s[0].col0, 17);
  EXPECT_EQ(s[0].col1, 17);
  EXPECT_EQ(s[0].row0, 12);
  EXPECT_EQ(s[0].row1, 29);
  EXPECT_FLOAT_EQ(s[0].angleDeg, 90.0f);
  EXPECT_FLOAT_EQ(s[0].baseCol, 17.0f);
}

TEST_F(HoughTest, AngleCountsAboveTheLimitAreRefused) {
  EXPECT_EQ(Hough_Create(&h, 10, 10, 361, 1, 10, 1.0f, kDeg, 0.0f), 0);
  EXPECT_EQ(h.accumulator, nullptr);
  EXPECT_EQ(Hough_Create(&h, 10, 10, 0, 1, 10, 1.0f, kDeg, 0.0f), 0);
  EXPECT_EQ(Hough_Create(&h, 10, 10, 10, 1, 10, 0.0f, kDeg, 0.0f), 0);
  ASSERT_EQ(Hough_Create(&h, 10, 10, 360, 1, 10, 1.0f, kDeg, 0.0f), 1);
  std::vector<uint8_t> img(100, 1);
  ImageU8 u8{10, 10, img.data()};
  Hough_CollectPointsU8(&h, &u8);
  HoughSegment s[2];
  s[0].row0 = -7;
  int32_t n = 2;
  Hough_DetectSegments(&h, s, &n, 361, 1, 0.0f);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(s[0].row0, -7);  // output untouched
  n = 2;
  Hough_DetectSegments(&h, s, &n, 361 - 1 + 1, 1, 0.0f);
  EXPECT_EQ(n, 0);
  n = 0;
  Hough_Detect(&h, s, &n);
  EXPECT_EQ(n, 0);
}

TEST_F(HoughTest, CollectStopsAtAQuarterOfThePixels) {
  std::vector<uint8_t> img(16 * 8, 1);
  ASSERT_EQ(Hough_Create(&h, 16, 8, 10, 1, 8, 1.0f, kDeg, 0.0f), 1);
  ImageU8 u8{16, 8, img.data()};
  Hough_CollectPointsU8(&h, &u8);
  EXPECT_EQ(h.pointCount, 32);
  int set = 0;
  for (int i = 0; i < 16 * 8; ++i) set += h.mask[i];
  EXPECT_EQ(set, 32);
  std::vector<float> f(16 * 8, 1.0f);
  Matrix m{16, 8, f.data()};
  Hough_CollectPointsF(&h, &m);
  EXPECT_EQ(h.pointCount, 32);
  EXPECT_EQ(h.points[31].p0, 1);
  EXPECT_EQ(h.points[31].p1, 15);
}

// Lane-style detector: 51 one-degree angles from 65 degrees, threshold 26.
class HoughRandomTest : public HoughTest {
 protected:
  static constexpr int W = 400, H = 300;
  std::vector<uint8_t> img = std::vector<uint8_t>(W * H, 0);
  void Create() { ASSERT_EQ(Hough_Create(&h, W, H, 51, 26, H, 1.0f, kDeg, 65.0f * kDeg), 1); }
  void Collect() {
    ImageU8 u8{W, H, img.data()};
    Hough_CollectPointsU8(&h, &u8);
  }
};

TEST_F(HoughRandomTest, EachRandomDetectorFindsTheLaneLines) {
  // Lines at 80 and 100 degrees (within 0.01 degree, so the one-degree
  // accumulator tracks them to the pixel) and a vertical one.
  const std::vector<Seg> lines = {
      {129, 163, 299, 133},  // 100 degrees, down to the bottom row
      {120, 300, 290, 330},  // 80 degrees
      {50, 220, 250, 220},   // vertical
  };
  using Detector = void (*)(Hough*, HoughSegment*, int32_t*);
  const Detector detectors[2] = {Hough_DetectSegmentsRandom, Hough_DetectSegmentsRandomBidir};
  for (int d = 0; d < 2; ++d) {
    // The detectors reseed rand() from the clock; vary the run a few times
    // anyway by starting each from a different srand state.
    for (int run = 0; run < 3; ++run) {
      std::fill(img.begin(), img.end(), 0);
      for (const Seg& s : lines) Draw(img, W, s);
      Create();
      Collect();
      HoughSegment found[8];
      int32_t n = 8;
      detectors[d](&h, found, &n);
      EXPECT_EQ(n, 3) << "detector " << d << "\n" << Dump(found, n);
      for (const Seg& s : lines)
        EXPECT_TRUE(Matches(found, n, s)) << "detector " << d << " line " << s.r0 << "\n" << Dump(found, n);
      if (d == 0) {
        for (int i = 0; i < n; ++i) EXPECT_LT(found[i].row0, found[i].row1);  // upper end first
      }
      Hough_Destroy(&h);
    }
  }
}

TEST_F(HoughRandomTest, RunsAcrossGapsMergeAndShortRunsAreIgnored) {
  const int c = 200;
  for (int r = 260; r <= 299; ++r) img[r * W + c] = 1;  // lower run, 40 hits
  for (int r = 230; r <= 249; ++r) img[r * W + c] = 1;  // 10 misses, then 20 hits
  img[210 * W + c] = 1;                                  // 2 hits after 19 misses:
  img[209 * W + c] = 1;                                  // ignored
  Create();
  Collect();
  HoughSegment found[4];
  int32_t n = 4;
  Hough_DetectSegmentsRandom(&h, found, &n);
  ASSERT_EQ(n, 1) << Dump(found, n);
  EXPECT_EQ(found[0].row0, 230);  // end: last point of the upper run
  EXPECT_EQ(found[0].row1, 299);  // start: first point of the lower run
  EXPECT_EQ(found[0].col0, c);
  EXPECT_EQ(found[0].col1, c);
  EXPECT_FLOAT_EQ(found[0].baseCol, static_cast<float>(c));
}

TEST_F(HoughRandomTest, NoPointsOrNoRoomGiveNothing) {
  Create();
  Collect();
  HoughSegment s[1];
  int32_t n = 1;
  Hough_DetectSegmentsRandom(&h, s, &n);
  EXPECT_EQ(n, 0);
  n = 1;
  Hough_DetectSegmentsRandomBidir(&h, s, &n);
  EXPECT_EQ(n, 0);
}

}  // namespace

namespace {

TEST(HoughLinesStandard, StrongestLinesFirstWithRhoAndTheta) {
  const int w = 80, h = 60;
  std::vector<float> px(w * h, 0.0f);
  for (int r = 0; r < h; ++r) px[r * w + 30] = 1.0f;        // x = 30: theta 0, rho 30
  for (int c = 10; c < 50; ++c) px[20 * w + c] = 1.0f;      // y = 20: theta 90, rho 20
  Matrix img{w, h, px.data()};
  float lines[2 * 4];
  int32_t n = 4;
  Image_HoughLinesStandard(&img, 30, lines, &n, 1.0f, kDeg);
  ASSERT_GE(n, 2);
  EXPECT_NEAR(lines[0], 30.0f, 1.0f);  // the 60-pixel line first
  EXPECT_NEAR(lines[1], 0.0f, 1e-6f);
  // The horizontal line, at rho 20 within the truncation of one cell (its
  // neighbouring angle may be listed too).
  bool horizontal = false;
  for (int i = 1; i < n; ++i)
    horizontal |= std::fabs(lines[2 * i] - 20.0f) <= 1.0f && std::fabs(lines[2 * i + 1] / kDeg - 90.0f) <= 1.01f;
  EXPECT_TRUE(horizontal);
  for (int i = 1; i < n; ++i) EXPECT_LE(lines[2 * i], 30.0f);
  n = 1;
  Image_HoughLinesStandard(&img, 30, lines, &n, 1.0f, kDeg);
  EXPECT_EQ(n, 1);
  n = 4;
  Image_HoughLinesStandard(&img, 100, lines, &n, 1.0f, kDeg);
  EXPECT_EQ(n, 0);
}

}  // namespace
