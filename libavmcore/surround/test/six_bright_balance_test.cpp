#include "surround/six_bright_balance.h"

#include <new>
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "surround/mix_area_six_ex.h"
#include "toolkit/pixel_formats.h"
#include "toolkit/matrix_alloc.h"

namespace {

constexpr int32_t kQW = 64, kQH = 48, kN = 20;

// Frame 1 (quad) and frame 2 (quad width, half height) as RGB pictures;
// the record samples a block of each: pairs 1, 3 in frame 1, pairs 2, 4 in
// frame 2 (their y already less half the quad height).
struct Frames {
  std::vector<uint8_t> p1 = std::vector<uint8_t>(kQW * kQH * 3), p2 = std::vector<uint8_t>(kQW * kQH / 2 * 3);
  Rgb24Image f1{kQW, kQH, 1, p1.data(), 3 * kQW}, f2{kQW, kQH / 2, 1, p2.data(), 3 * kQW};
  MixAreaSixEx six = MixAreaSixEx_Empty();
  Frames(const uint8_t a[3], const uint8_t b[3]) {
    for (size_t i = 0; i < p1.size(); ++i) p1[i] = a[i % 3];
    for (size_t i = 0; i < p2.size(); ++i) p2[i] = b[i % 3];
    six.valid = 1;
    six.quadWidth = kQW;
    six.quadHeight = kQH;
    for (int k = 0; k < 8; ++k) {
      if (!ImageI32_NewData(&six.tables[k], kN, 24)) throw std::bad_alloc();
      for (int i = 0; i < kN * 24; ++i) six.tables[k].data[i] = (k & 1) ? (i / kN) % 20 : i % kN + (k >= 4 ? 30 : 0);
    }
  }
  ~Frames() { MixAreaSixEx_Free(&six); }
};

TEST(SixBrightBalance, ConstantDifferenceConvergesToHalfOnEachSide) {
  // Second frame darker: in log terms D per channel.
  const uint8_t a[3] = {150, 160, 170}, b[3] = {100, 110, 90};
  Frames f(a, b);
  BrightBalanceState s{};
  float g[12];
  // Disabled until the first fetch: nothing moves.
  BrightBalance_Update(&s, 2, &f.f1, 2, &f.f2, &f.six);
  BrightBalance_Gains(&s, 1, g);
  for (float v : g) EXPECT_EQ(v, 1.0f);
  s.enabled = 1;
  const float D = std::log(151.0f) - std::log(101.0f);
  BrightBalance_Update(&s, 2, &f.f1, 2, &f.f2, &f.six);
  EXPECT_NEAR(s.current[0], kBrightBalanceStep, 1e-6f);
  for (int n = 0; n < 100; ++n) BrightBalance_Update(&s, 2, &f.f1, 2, &f.f2, &f.six);
  EXPECT_NEAR(s.current[0], D / 2, 1e-4f);
  BrightBalance_Gains(&s, 1, g);
  EXPECT_NEAR(g[0], std::exp(-D / 2), 1e-3f);
  EXPECT_NEAR(g[3], std::exp(D / 2), 1e-3f);
  // Balanced: both sides meet in the middle, channel by channel and for
  // the second balance too.
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(std::log(a[k] + 1.0f) + std::log(g[k]), std::log(b[k] + 1.0f) + std::log(g[3 + k]), 1e-3f);
    EXPECT_NEAR(std::log(a[k] + 1.0f) + std::log(g[6 + k]), std::log(b[k] + 1.0f) + std::log(g[9 + k]), 1e-3f);
  }
}

TEST(SixBrightBalance, ImmediateGreyAndSizeMismatch) {
  const uint8_t a[3] = {200, 120, 60}, b[3] = {100, 100, 100};
  Frames f(a, b);
  BrightBalanceState s{};
  s.enabled = 1;
  s.immediate = 1;
  BrightBalance_Update(&s, 2, &f.f1, 2, &f.f2, &f.six);
  EXPECT_NEAR(s.current[0], (std::log(201.0f) - std::log(101.0f)) / 2, 1e-4f);
  float g[12];
  BrightBalance_Gains(&s, 0, g);
  for (int t = 0; t < 4; ++t) {
    EXPECT_EQ(g[3 * t], g[3 * t + 1]);
    EXPECT_EQ(g[3 * t], g[3 * t + 2]);
  }
  BrightBalanceState unit{};
  BrightBalance_Gains(&unit, 0, g);
  for (float v : g) EXPECT_NEAR(v, 1.0f, 1e-6f);
  // A record of another quad size leaves the state as it is.
  const BrightBalanceState before = s;
  f.six.quadWidth = kQW * 2;
  BrightBalance_Update(&s, 2, &f.f1, 2, &f.f2, &f.six);
  for (int k = 0; k < 6; ++k) EXPECT_EQ(s.current[k], before.current[k]);
}

}  // namespace
