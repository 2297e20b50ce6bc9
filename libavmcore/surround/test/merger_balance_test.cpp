#include "surround/merger_balance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int32_t kW = 1120, kH = 1680, kX0 = 400, kY0 = 600, kCarW = 320, kCarH = 480;

struct Balance {
  MergerBalanceOB ob = MergerBalance_Empty();
  Balance() { EXPECT_EQ(KRV_InitMergerBalance(&ob, kW, kH, kX0, kY0, kCarW, kCarH), 0); }
  ~Balance() { KRV_ReleaseMergerBalance(&ob); }
  float Weight(int r, int c) const { return ob.weightTable[r * kMergerBalanceCols + c]; }
  float Gain(int r, int c) const { return ob.gainTable[r * kMergerBalanceCols + c]; }
};

// A stitched grey frame: front band above the car, rear band below, left
// and right bands beside it, each camera at its own brightness, with mild
// sensor noise.
std::vector<uint8_t> BandFrame(int front, int rear, int left, int right) {
  std::vector<uint8_t> f(static_cast<size_t>(kW) * kH);
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> noise(-3, 3);
  for (int32_t r = 0; r < kH; ++r)
    for (int32_t c = 0; c < kW; ++c) {
      int v = r < kY0 ? front : (r >= kY0 + kCarH ? rear : (c < kX0 + kCarW / 2 ? left : right));
      f[static_cast<size_t>(r) * kW + c] = static_cast<uint8_t>(v + noise(rng));
    }
  return f;
}

TEST(MergerBalance, InitWeightsOfTheExample) {
  Balance b;
  EXPECT_EQ(b.ob.counter, 1);
  EXPECT_EQ(b.ob.cols, 28);
  EXPECT_EQ(b.ob.rows, 42);
  EXPECT_FLOAT_EQ(b.Weight(0, 14), 0.0f);
  EXPECT_NEAR(b.Weight(15, 5), 0.5f, 1e-5f);
  for (int i = 0; i < kMergerBalanceCols * kMergerBalanceRows; ++i) EXPECT_EQ(b.ob.savedGains[i], 0.5f);
  // A second Init changes nothing.
  EXPECT_EQ(KRV_InitMergerBalance(&b.ob, 10, 10, 0, 0, 1, 1), 0);
  EXPECT_EQ(b.ob.width, kW);
}

TEST(MergerBalance, FirstCalcAndOutputBytes) {
  Balance b;
  const std::vector<uint8_t> f = BandFrame(120, 120, 120, 120);
  std::vector<uint8_t> out(1176, 0xEE);
  EXPECT_EQ(KRV_CalcMergerBalance(&b.ob, 4, f.data(), out.data()), 0);
  // Previous mean 0: every sampled cell gets 0.5 - 0.22 x weight.
  EXPECT_NEAR(b.Gain(0, 0), 0.5f - 0.22f * b.Weight(0, 0), 1e-5f);
  EXPECT_NEAR(b.Gain(30, 3), 0.5f - 0.22f * b.Weight(30, 3), 1e-5f);
  EXPECT_NEAR(b.ob.previousMean, 120.0f / 255.0f, 0.01f);
  EXPECT_EQ(out[0], static_cast<uint8_t>(b.Gain(0, 0) * 255.99f));
  EXPECT_EQ(b.ob.counter, 2);
}

TEST(MergerBalance, DarkenedCameraIsBroughtBackWithinThreePercent) {
  Balance b;
  // The left camera at 60 % of the others.
  const std::vector<uint8_t> f = BandFrame(150, 150, 90, 150);
  KRV_CalcMergerBalance(&b.ob, 4, f.data(), nullptr);
  KRV_CalcMergerBalance(&b.ob, 4, f.data(), nullptr);
  // Measure each full-weight cell again and apply its multiplier 2 g.
  std::vector<double> sum(kMergerBalanceCols * kMergerBalanceRows, 0.0);
  std::vector<int> n(sum.size(), 0);
  for (int32_t r = 0; r < kH; r += 4)
    for (int32_t c = 0; c < kW; c += 4) {
      const int tr = static_cast<int>(r / (kH / 42.0f) + 0.5f), tc = static_cast<int>(c / (kW / 28.0f) + 0.5f);
      if (tr >= 42 || tc >= 28) continue;
      if (r > kY0 && r < kY0 + kCarH && c > kX0 && c < kX0 + kCarW) continue;
      sum[tr * 28 + tc] += f[static_cast<size_t>(r) * kW + c];
      n[tr * 28 + tc] += 1;
    }
  double lo = 1e9, hi = 0;
  int cells = 0;
  for (int i = 0; i < 28 * 42; ++i) {
    if (n[i] == 0 || b.ob.weightTable[i] < 1.0f) continue;
    const double v = sum[i] / n[i] * 2.0 * b.ob.gainTable[i];
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    ++cells;
  }
  ASSERT_GT(cells, 20);
  EXPECT_LT((hi - lo) / hi, 0.03) << lo << " .. " << hi;
}

TEST(MergerBalance, TexturedFrameFallsBackToSavedGains) {
  Balance b;
  // Stripes across the strip in front of the car: deviation far above 30.
  std::vector<uint8_t> f = BandFrame(120, 120, 120, 120);
  const int32_t yA = kY0 - kCarW / 6;
  for (int32_t c = 0; c < kW; ++c) f[static_cast<size_t>(yA) * kW + c] = (c / 4) % 2 ? 250 : 10;
  std::vector<uint8_t> out(1176);
  for (int k = 0; k < 3; ++k) {
    KRV_CalcMergerBalance(&b.ob, 4, f.data(), out.data());
    for (uint8_t v : out) ASSERT_EQ(v, 127);
  }
}

TEST(MergerBalance, HoleAroundTheCarTakesItsEdges) {
  Balance b;
  const std::vector<uint8_t> f = BandFrame(100, 160, 130, 130);
  KRV_CalcMergerBalance(&b.ob, 4, f.data(), nullptr);
  KRV_CalcMergerBalance(&b.ob, 4, f.data(), nullptr);
  // Rows of the car's hole: the two cells beside each edge copy the edge.
  int top = 0;
  while (b.ob.countTable[top * 28 + 14] != 0) ++top;
  int left = 0;
  while (b.ob.countTable[21 * 28 + left] != 0) ++left;
  EXPECT_EQ(b.Gain(21, left), b.Gain(21, left - 1));
  EXPECT_EQ(b.Gain(21, left + 1), b.Gain(21, left - 1));
  EXPECT_EQ(b.Gain(top, 14), b.Gain(top - 1, 14));
}

TEST(MergerBalance, NoHoleOrHoleAtTheEdgeIsLeftAlone) {
  // The car reaching the frame's top edge: its hole touches the table edge
  // and is not filled from outside the table.
  MergerBalanceOB ob = MergerBalance_Empty();
  ASSERT_EQ(KRV_InitMergerBalance(&ob, kW, kH, kX0, -10, kCarW, kCarH + 10), 0);
  const std::vector<uint8_t> f = BandFrame(100, 100, 100, 100);
  EXPECT_EQ(KRV_CalcMergerBalance(&ob, 4, f.data(), nullptr), 0);
  EXPECT_EQ(ob.gainTable[0 * 28 + 14], 0.0f);
  KRV_ReleaseMergerBalance(&ob);
  // No car at all: nothing to fill, no cell left at 0.
  ASSERT_EQ(KRV_InitMergerBalance(&ob, kW, kH, 0, 0, 0, 0), 0);
  EXPECT_EQ(KRV_CalcMergerBalance(&ob, 4, f.data(), nullptr), 0);
  for (int i = 0; i < 28 * 42; ++i) EXPECT_GT(ob.gainTable[i], 0.0f) << i;
  KRV_ReleaseMergerBalance(&ob);
}

TEST(MergerBalance, ReleaseAndBadCalls) {
  MergerBalanceOB ob = MergerBalance_Empty();
  const std::vector<uint8_t> f(16, 0);
  EXPECT_EQ(KRV_CalcMergerBalance(&ob, 4, f.data(), nullptr), 1);  // not set up
  EXPECT_EQ(KRV_InitMergerBalance(&ob, 0, 10, 0, 0, 0, 0), 1);
  ASSERT_EQ(KRV_InitMergerBalance(&ob, 64, 64, 16, 16, 32, 32), 0);
  EXPECT_EQ(KRV_CalcMergerBalance(&ob, 4, nullptr, nullptr), 1);
  EXPECT_EQ(KRV_ReleaseMergerBalance(&ob), 0);
  EXPECT_EQ(ob.counter, 0);
  EXPECT_EQ(ob.gainTable, nullptr);
  // Init may run again after a release.
  EXPECT_EQ(KRV_InitMergerBalance(&ob, 64, 64, 16, 16, 32, 32), 0);
  EXPECT_EQ(ob.counter, 1);
  KRV_ReleaseMergerBalance(&ob);
}

TEST(MergerBalance, DistanceWeights) {
  std::vector<float> d(40 * 30);
  Matrix m{40, 30, d.data()};
  MergerBalance_DistanceWeights(40, 30, 10, 10, 20, 10, 0, 0, 0, 0, 5.0f, &m);
  EXPECT_NEAR(d[5 * 40 + 15], 1.0f, 1e-5f);          // 5 rows above: 5 / 5
  EXPECT_NEAR(d[12 * 40 + 8], 2.0f / 5.0f, 1e-5f);   // 2 columns left
  EXPECT_NEAR(d[8 * 40 + 7], std::sqrt(13.0f) / 5.0f, 1e-5f);  // diagonal to (10, 10)
  EXPECT_LE(d[15 * 40 + 20], 0.0f);                  // inside
}

}  // namespace
