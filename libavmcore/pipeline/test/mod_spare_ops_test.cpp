#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "pipeline/mod_core.h"

namespace {

std::vector<uint8_t> Random(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (auto& x : v) x = static_cast<uint8_t>(rng());
  return v;
}

}  // namespace

TEST(ModSpareOps, BoxMeansAgreeWithWindowSumsAndTheFiveByFive) {
  const int W = 11, H = 7;
  std::vector<uint8_t> img = Random(W * H, 1), a(W * H), b(W * H);
  ImageU8 s{W, H, img.data()}, da{W, H, a.data()}, db{W, H, b.data()};
  MOD_BoxMean(&s, &da, 2, 2);
  MOD_BoxMean5(&s, &db);
  EXPECT_EQ(a, b);
  MOD_BoxMean(&s, &da, 3, 1);  // 7 wide, 3 high
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      int sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -3; dx <= 3; ++dx)
          sum += img[std::clamp(y + dy, 0, H - 1) * W + std::clamp(x + dx, 0, W - 1)];
      ASSERT_EQ(a[y * W + x], sum / 21) << x << "," << y;
    }
  std::vector<uint8_t> in = img;
  ImageU8 ii{W, H, in.data()};
  MOD_BoxMean(&s, &da, 2, 2);
  MOD_BoxMeanInPlace(&ii, 2);
  EXPECT_EQ(in, a);
  MOD_BoxMean3(&s, &da);
  EXPECT_EQ(a[0], (4 * img[0] + 2 * img[1] + 2 * img[W] + img[W + 1]) / 9);
}

TEST(ModSpareOps, PadMedianSelectAndCopy) {
  std::vector<uint8_t> img = {1, 2, 3, 4, 5, 6};
  ImageU8 s{3, 2, img.data()};
  std::vector<uint8_t> p(7 * 4);
  ImageU8 d{7, 4, p.data()};
  MOD_PadReplicateEx(&s, &d, 2, 1);
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.begin() + 7), (std::vector<uint8_t>{1, 1, 1, 2, 3, 3, 3}));
  EXPECT_EQ(std::vector<uint8_t>(p.end() - 7, p.end()), (std::vector<uint8_t>{4, 4, 4, 5, 6, 6, 6}));
  // A lone spike disappears under the median.
  std::vector<uint8_t> m(5 * 5, 10);
  m[12] = 255;
  ImageU8 mi{5, 5, m.data()};
  MOD_Median3(&mi);
  EXPECT_EQ(m[12], 10);
  std::vector<uint8_t> v = {9, 1, 8, 2, 7, 3};
  EXPECT_EQ(MOD_Select(v.data(), 6, 2), 3);
  EXPECT_EQ(MOD_Select(v.data(), 0, 0), 0);
  std::vector<uint8_t> dst(4 * 4, 0);
  ImageU8 di{4, 4, dst.data()};
  MOD_CopyRect(&s, 1, 0, &di, 3, 3, 2, 2);  // clipped to one pixel
  EXPECT_EQ(dst[15], 2);
  EXPECT_EQ(std::count(dst.begin(), dst.end(), 0), 15);
}

TEST(ModSpareOps, TracksSlotsAndBoxes) {
  MODBlockTracker t;
  MODBlockTrackerInit(&t, 20, 20);
  MODRect b{};
  b.cx = 5;
  b.cy = 6;
  MODTrack tr = MOD_TrackCreate(&t, &b, 1, 1);
  EXPECT_EQ(tr.trackId, 0);
  EXPECT_FLOAT_EQ(tr.dx[0], 4);
  EXPECT_FLOAT_EQ(tr.dy[0], 5);
  EXPECT_EQ(MOD_TakeFreeSlot(&t), 1);
  t.tracks.push_back(tr);
  MOD_TrackListReset(&t, &t.tracks);
  EXPECT_TRUE(t.tracks.empty());
  EXPECT_EQ(MOD_TakeFreeSlot(&t), 0);
  const int32_t a[4] = {0, 0, 10, 10}, near[4] = {13, 13, 20, 20}, far[4] = {14, 0, 20, 10};
  EXPECT_EQ(MOD_BoxesOverlap(a, near), 1);
  EXPECT_EQ(MOD_BoxesOverlap(a, far), 0);
  MODBlockTrackerRelease(&t);
}

TEST(ModSpareOps, DelayRingReturnsTheImageNineteenCallsOld) {
  MODBlockTracker t;
  MODBlockTrackerInit(&t, 4, 3);
  std::vector<uint8_t> img(12);
  ImageU8 i{4, 3, img.data()};
  for (int k = 0; k < 25; ++k) {
    std::fill(img.begin(), img.end(), static_cast<uint8_t>(k));
    const ImageU8* old = MOD_DelayRing(&t, &i);
    if (k < 19) {
      EXPECT_EQ(old, nullptr) << k;
    } else {
      ASSERT_NE(old, nullptr) << k;
      EXPECT_EQ(old->data[0], k - 19) << k;
    }
  }
  MODBlockTrackerRelease(&t);
}

TEST(ModSpareOps, HistogramMeasures) {
  // Two equal populations at bins 10 and 50: intermeans threshold between.
  std::vector<int32_t> h(64, 0);
  h[10] = 100;
  h[50] = 100;
  EXPECT_EQ(MOD_IsodataThreshold(h.data(), 64), 30);
  std::vector<int32_t> one(8, 0);
  one[3] = 5;
  EXPECT_EQ(MOD_IsodataThreshold(one.data(), 8), 3);
  std::vector<uint8_t> img(16);
  for (int k = 0; k < 16; ++k) img[k] = static_cast<uint8_t>(k < 8 ? 0 : 255);
  ImageU8 s{4, 4, img.data()};
  EXPECT_DOUBLE_EQ(MOD_Entropy(&s), 1.0);
  EXPECT_DOUBLE_EQ(MOD_HistVariance(&s), 127.0 * 127.0 / 4);
  int32_t rows[4], cols[4];
  MOD_RowColumnSums(&s, rows, cols);
  EXPECT_EQ(rows[0], 0);
  EXPECT_EQ(rows[3], 4 * 255);
  EXPECT_EQ(cols[0], 2 * 255);
  std::vector<double> cost(16);
  std::vector<float> map(16);
  MOD_ContrastCost(&s, cost.data());
  EXPECT_DOUBLE_EQ(cost[0], 8 * 255.0);
  MOD_ContrastMapF(&s, map.data());
  EXPECT_FLOAT_EQ(map[0], 0.0f);  // equal costs: no contrast
}
