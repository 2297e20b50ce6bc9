#include "surround/color_correct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "testsupport/colour_overlap_scene.h"
#include "testsupport/config_state.h"
#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr int32_t kCamW = 160, kCamH = 120;
constexpr float kE = 2.71828f;

// Float offsets in the record of the end triples: region -> first end, second end.
constexpr int kFirstEnd[4] = {3, 0, 6, 9};
constexpr int kSecondEnd[4] = {15, 18, 12, 21};

struct Scene {
  MixAreaInfo mix;
  std::vector<uint8_t> rgb;
  Rgb24Image img;
  Scene(const float gains[4][3], int32_t rows = 60) : mix(ColourScene_MixArea(kCamW, kCamH, rows)) {
    rgb = ColourScene_RenderRGB(kCamW, kCamH, gains);
    img = Rgb24Image{2 * kCamW, 2 * kCamH, 1, rgb.data(), 6 * kCamW};
  }
  ~Scene() { MixAreaInfo_Release(&mix); }
};

// Camera 3 (bottom-left) darker and tinted; the others neutral.
const float kTint[3] = {0.62f, 0.74f, 0.9f};
const float kGains[4][3] = {{1, 1, 1}, {1, 1, 1}, {kTint[0], kTint[1], kTint[2]}, {1, 1, 1}};

TEST(ColorCorrectTest, GainsConvergeToTheRatioBetweenTwoCamerasAtTheRateLimit) {
  Scene s(kGains);
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 0);
  float prev[132], values[132];
  ColorCorrect_ApplyValues(&st, prev);
  int within = -1;  // first frame with region 1 within 2 % in every channel
  for (int f = 0; f < 80; ++f) {
    ColorCorrect_UpdateFrame(&st, kPixelFormatRGB24, &s.img, &s.mix, nullptr);
    ColorCorrect_ApplyValues(&st, values);
    bool near = true;
    for (int c = 0; c < 3; ++c) near = near && std::fabs(values[kFirstEnd[0] + c] / values[kSecondEnd[0] + c] / kTint[c] - 1.0f) < 0.02f;
    if (near && within < 0) within = f + 1;
    // At most 0.032 in the log domain per frame for the end gains.
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) {
        EXPECT_LE(std::fabs(std::log(values[kFirstEnd[r] + c] / prev[kFirstEnd[r] + c])), 0.0321f);
        EXPECT_LE(std::fabs(std::log(values[kSecondEnd[r] + c] / prev[kSecondEnd[r] + c])), 0.0321f);
      }
    memcpy(prev, values, sizeof values);
  }
  printf("within 2 %% after %d frames\n", within);
  EXPECT_GT(within, 5);  // the rate limit: no jump to the target
  // Regions 1 and 3 pair camera 3 with cameras 1 and 2: P x first-end gain
  // meets Q x second-end gain, so first / second is the ratio Q / P.
  for (int r : {0, 2})
    for (int c = 0; c < 3; ++c) {
      const float ratio = values[kFirstEnd[r] + c] / values[kSecondEnd[r] + c];
      printf("region %d channel %d: gain ratio %.4f, camera ratio %.4f (%.2f %%)\n", r + 1, c, ratio, kTint[c],
             100.0f * (ratio / kTint[c] - 1.0f));
      EXPECT_NEAR(ratio / kTint[c], 1.0f, 0.02f) << "region " << r + 1 << " channel " << c;
      // Half each: the first end moves camera P halfway.
      EXPECT_NEAR(values[kFirstEnd[r] + c], std::sqrt(kTint[c]), 0.02f);
    }
  // Regions 2 and 4 see equal cameras: gains stay at 1.
  for (int r : {1, 3})
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(values[kFirstEnd[r] + c], 1.0f, 0.01f);
  // The segment boundary gains of region 1 follow its end gain (flat overlap).
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(values[(4 + k) * 6 + 3], values[kFirstEnd[0]], 0.03f) << k;
}

TEST(ColorCorrectTest, ImmediateFlagTakesTheTargetsInOneFrame) {
  Scene s(kGains);
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 1);
  ColorCorrect_UpdateFrame(&st, kPixelFormatRGB24, &s.img, &s.mix, nullptr);
  float values[132];
  ColorCorrect_ApplyValues(&st, values);
  EXPECT_NEAR(values[kFirstEnd[0]] / values[kSecondEnd[0]] / kTint[0], 1.0f, 0.02f);
}

TEST(ColorCorrectTest, FrameOfAnotherSizeChangesNothing) {
  Scene s(kGains);
  ColorCorrectState st, before;
  ColorCorrect_InitState(&st, 0);
  Rgb24Image small = s.img;
  small.width -= 2;
  memcpy(&before, &st, sizeof st);
  ColorCorrect_UpdateFrame(&st, kPixelFormatRGB24, &small, &s.mix, nullptr);
  EXPECT_EQ(memcmp(&before, &st, sizeof st), 0);
}

// Statistics of one region (region 1: pairs 0 and 4) with P flat at p and Q
// at p + d in every channel, segment `seg` differing by extra in R only.
void RegionOneStats(float stats[8][24], float d, int seg, float extra, float spreadP = 0.0f) {
  for (int k = 0; k < 8; ++k)
    for (int i = 0; i < 24; ++i) stats[k][i] = 5.0f;
  for (int c = 0; c < 3; ++c)
    for (int s = 0; s < 8; ++s) {
      stats[0][c * 8 + s] = 5.0f + (c == 0 ? spreadP : 0.0f);
      stats[4][c * 8 + s] = 5.0f + d + (c == 0 && s == seg ? extra : 0.0f);
    }
}

TEST(ColorCorrectTest, ChannelExclusionHasHysteresis) {
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 0);
  float stats[8][24];
  const struct {
    float extra;
    int excluded;
  } steps[] = {{0.9f, 1}, {0.75f, 1}, {0.6f, 1}, {0.5f, 0}, {0.75f, 0}, {0.9f, 1}};
  // chanDiff of segment 3 is 0.1 + extra: on above 0.9, off at 0.68 or less.
  for (const auto& step : steps) {
    RegionOneStats(stats, 0.1f, 3, step.extra);
    ColorCorrect_RegionStats(&st, stats);
    EXPECT_EQ(st.regions[0].channelExcluded[3], step.excluded) << step.extra;
  }
}

TEST(ColorCorrectTest, BrightnessExclusionHasHysteresis) {
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 0);
  float stats[8][24];
  // A whole-segment offset: meanDiff = 0.1 + x for segment 5 (all channels).
  auto set = [&](float x) {
    RegionOneStats(stats, 0.1f, -1, 0.0f);
    for (int c = 0; c < 3; ++c) stats[4][c * 8 + 5] += x;
  };
  const struct {
    float x;
    int excluded;
  } steps[] = {{0.75f, 1}, {0.6f, 1}, {0.45f, 0}, {0.65f, 0}};
  for (const auto& step : steps) {
    set(step.x);
    ColorCorrect_RegionStats(&st, stats);
    EXPECT_EQ(st.regions[0].brightnessExcluded[5], step.excluded) << step.x;
  }
}

TEST(ColorCorrectTest, ColourfulOverlapTurnsItsTriplesGreyUntilTheSpreadFalls) {
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 1);
  float stats[8][24], values[132];
  const struct {
    float spread;
    int colourful;
  } steps[] = {{0.7f, 1}, {0.5f, 1}, {0.4f, 0}};
  for (const auto& step : steps) {
    RegionOneStats(stats, 0.2f, -1, 0.0f, step.spread);
    ColorCorrect_RegionStats(&st, stats);
    EXPECT_EQ(st.regions[0].colourful, step.colourful);
    ColorCorrect_ApplyValues(&st, values);
    const float* t = values + kFirstEnd[0];
    if (step.colourful != 0) {
      EXPECT_EQ(t[0], t[1]);
      EXPECT_EQ(t[1], t[2]);
      EXPECT_NEAR(t[0], 0.2992f * st.gainBlock[3] + 0.5868f * st.gainBlock[4] + 0.114f * st.gainBlock[5], 1e-6f);
    }
  }
}

TEST(ColorCorrectTest, RegionModesNeutraliseExactlyTheirTriples) {
  Scene s(kGains);
  const float all[4][3] = {{1.3f, 1.2f, 1.1f}, {0.8f, 0.9f, 0.85f}, {0.7f, 0.8f, 0.9f}, {1.15f, 1.0f, 0.9f}};
  Scene mixed(all);
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 1);
  ColorCorrect_UpdateFrame(&st, kPixelFormatRGB24, &mixed.img, &mixed.mix, nullptr);
  // Triples owned by regions 1 and 2 (mode 2) and by regions 3 and 4 (mode 1).
  std::vector<int> r12 = {0, 3, 18, 15}, r34 = {6, 9, 12, 21};
  for (int e = 4; e <= 12; ++e) {
    r12.push_back(6 * e);
    r12.push_back(6 * e + 3);
  }
  for (int e = 13; e <= 21; ++e) {
    r34.push_back(6 * e);
    r34.push_back(6 * e + 3);
  }
  float values[132];
  for (int mode : {1, 2}) {
    st.regionMode = mode;
    ColorCorrect_ApplyValues(&st, values);
    const std::vector<int>& neutral = mode == 2 ? r12 : r34;
    const std::vector<int>& kept = mode == 2 ? r34 : r12;
    for (int t : neutral)
      for (int c = 0; c < 3; ++c) EXPECT_EQ(values[t + c], 1.0f) << mode << " " << t;
    int changed = 0;
    for (int t : kept) changed += std::fabs(values[t] - 1.0f) > 0.01f;
    EXPECT_GT(changed, 10) << mode;
  }
  // Grey form: every triple has three equal values.
  st.regionMode = 0;
  ColorCorrect_ComputeLuma(&st, values);
  for (int t = 0; t < 132; t += 3) {
    EXPECT_EQ(values[t], values[t + 1]);
    EXPECT_EQ(values[t], values[t + 2]);
  }
}

TEST(ColorCorrectTest, RegionWithoutAUsableRunDecaysToUnitGain) {
  Scene s(kGains);
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 1);
  ColorCorrect_UpdateFrame(&st, kPixelFormatRGB24, &s.img, &s.mix, nullptr);
  st.immediate = 0;
  float stats[8][24];
  RegionOneStats(stats, 0.0f, -1, 0.0f);
  // Every other segment excluded: no run of three.
  for (int seg = 0; seg < 8; seg += 2)
    for (int c = 0; c < 3; ++c) stats[4][c * 8 + seg] += 2.0f;
  const float start = st.regions[0].current[0][0];
  ASSERT_LT(start, -0.1f);
  ColorCorrect_RegionStats(&st, stats);
  EXPECT_EQ(st.regions[0].target[0][0], 0.0f);
  EXPECT_NEAR(st.regions[0].current[0][0] - start, 0.032f, 1e-5f);  // the fast step toward 0
  for (int f = 0; f < 40; ++f) ColorCorrect_RegionStats(&st, stats);
  EXPECT_NEAR(st.gainBlock[kFirstEnd[0]], 1.0f, 1e-3f);
}

TEST(ColorCorrectTest, OneShotExportReadsTheBmpAndTheMixAreaFile) {
  ScopedConfigState state;
  Scene s(kGains);
  ASSERT_EQ(MixAreaInfo_Save(&s.mix, state.Path("mix.krv").c_str()), 1);
  Rgb24Image bgr = s.img;
  std::vector<uint8_t> swapped(s.rgb);
  for (size_t i = 0; i < swapped.size(); i += 3) std::swap(swapped[i], swapped[i + 2]);
  bgr.rgbOrder = 0;
  bgr.data = swapped.data();
  ASSERT_EQ(Bmp_SaveRGB24(&bgr, state.Path("quad.bmp").c_str()), 1);
  float a[132], b[132];
  ASSERT_EQ(ColorCorrect_Vell(1, state.Path("quad.bmp").c_str(), state.Path("mix.krv").c_str(), a), 0);
  ASSERT_EQ(ColorCorrect_Vell(3, state.Path("quad.bmp").c_str(), state.Path("mix.krv").c_str(), b), 0);
  EXPECT_EQ(memcmp(a, b, sizeof a), 0);  // a fresh state each time; mode 3 is the RGB form too
  EXPECT_NEAR(a[kFirstEnd[0]] / a[kSecondEnd[0]] / kTint[0], 1.0f, 0.02f);
  ASSERT_EQ(ColorCorrect_Vell(0, state.Path("quad.bmp").c_str(), state.Path("mix.krv").c_str(), b), 0);
  EXPECT_EQ(b[kFirstEnd[0]], b[kFirstEnd[0] + 1]);  // grey form

  // An unreadable picture or mix-area file: an error and unit gains.
  state.WriteFile("broken.bmp", "BM not really");
  for (const char* img : {"broken.bmp", "missing.bmp"}) {
    for (float& v : a) v = 7.0f;
    EXPECT_EQ(ColorCorrect_Vell(1, state.Path(img).c_str(), state.Path("mix.krv").c_str(), a), -1) << img;
    for (float v : a) EXPECT_EQ(v, 1.0f);
  }
  EXPECT_EQ(ColorCorrect_Vell(1, state.Path("quad.bmp").c_str(), state.Path("nomix.krv").c_str(), a), -1);
  // Another size: unit gains, success.
  const float unit[4][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
  std::vector<uint8_t> other = ColourScene_RenderRGB(kCamW / 2, kCamH / 2, unit);
  Rgb24Image o{kCamW, kCamH, 1, other.data(), 3 * kCamW};
  ASSERT_EQ(Bmp_SaveRGB24(&o, state.Path("small.bmp").c_str()), 1);
  EXPECT_EQ(ColorCorrect_Vell(1, state.Path("small.bmp").c_str(), state.Path("mix.krv").c_str(), a), 0);
  for (float v : a) EXPECT_EQ(v, 1.0f);
}

// The brightness score written out from its rule on the sampled lumas
// themselves: each side's lumas sorted, the cut at the first luma value
// whose count of lumas up to it exceeds 60 % of the side (whole number),
// the mean of the lumas up to that value; the two means' ratio over 1.12,
// at most 1.
double ReferenceBrightnessScore(std::vector<int> first, std::vector<int> second) {
  auto lowMean = [](std::vector<int> v) {
    std::sort(v.begin(), v.end());
    const size_t limit = static_cast<size_t>(0.6 * static_cast<double>(v.size()));
    size_t upTo = 0;
    for (int cut = 1; cut <= 255; ++cut) {
      upTo = 0;
      while (upTo < v.size() && v[upTo] <= cut) ++upTo;
      if (upTo > limit) break;
    }
    double sum = 0.0;
    for (size_t i = 0; i < upTo; ++i) sum += v[i];
    return sum / static_cast<double>(upTo);
  };
  return std::min(1.0, lowMean(std::move(first)) / lowMean(std::move(second)) / 1.12);
}

// Score regions over a grey quad frame of random lumas: regions 1 and 2 on
// the upper half, 3 and 4 on the lower one, a few entries off the frame
// (negative), which are no samples. The score approaches the rule's ratio
// by 0.02 a frame.
TEST(ColorCorrectTest, BrightnessScoreFollowsTheLowerSixtyPercentMeans) {
  struct Case {
    const char* name;
    int upperLo, upperHi, lowerLo, lowerHi;  // luma ranges of the halves
  };
  const Case cases[] = {{"upper darker", 40, 160, 60, 230},
                        {"upper brighter: capped", 120, 250, 20, 120},
                        {"upper a little brighter", 95, 115, 90, 110}};
  const int32_t W = 2 * kCamW, H = 2 * kCamH;
  Scene s(kGains);  // the mix area of this quad size
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    uint32_t seed = 12345;
    auto next = [&seed](int lo, int hi) {
      seed = seed * 1664525u + 1013904223u;
      return lo + static_cast<int>((seed >> 8) % static_cast<uint32_t>(hi - lo + 1));
    };
    std::vector<uint8_t> luma(static_cast<size_t>(W) * H), chroma(static_cast<size_t>(W) * H / 4, 128);
    for (int32_t y = 0; y < H; ++y)
      for (int32_t x = 0; x < W; ++x)
        luma[y * W + x] = static_cast<uint8_t>(y < H / 2 ? next(k.upperLo, k.upperHi) : next(k.lowerLo, k.lowerHi));
    YuvPlanarFrame frame{W, H, luma.data(), chroma.data(), chroma.data(), W};
    ScoreGridInfo grid{};
    grid.valid = 1;
    grid.camW = kCamW;
    grid.camH = kCamH;
    std::vector<int32_t> maps[8];
    std::vector<int> sides[2];
    for (int pair = 0; pair < 4; ++pair) {
      const int32_t mw = 7, mh = 50 + 3 * pair;
      std::vector<int32_t>& xs = maps[2 * pair];
      std::vector<int32_t>& ys = maps[2 * pair + 1];
      for (int32_t i = 0; i < mw * mh; ++i) {
        int32_t x = next(0, W - 1), y = pair < 2 ? next(0, H / 2 - 1) : next(H / 2, H - 1);
        if (i % 23 == 5) x = -1;
        if (i % 31 == 7) y = -2;
        xs.push_back(x);
        ys.push_back(y);
        if (x >= 0 && y >= 0) sides[pair / 2].push_back(luma[y * W + x]);
      }
      grid.tables[2 * pair] = ImageI32{mw, mh, xs.data()};
      grid.tables[2 * pair + 1] = ImageI32{mw, mh, ys.data()};
    }
    const double want = ReferenceBrightnessScore(sides[0], sides[1]);
    ASSERT_GT(want, 0.1);
    ColorCorrectState st;
    ColorCorrect_InitState(&st, 0);
    ColorCorrect_UpdateFrame(&st, kPixelFormatI420, &frame, &s.mix, &grid);
    EXPECT_NEAR(st.lumaScore, 0.02f, 1e-6f);  // at most 0.02 a frame
    for (int f = 1; f < 60; ++f) ColorCorrect_UpdateFrame(&st, kPixelFormatI420, &frame, &s.mix, &grid);
    printf("%s: score %.5f, rule %.5f\n", k.name, st.lumaScore, want);
    EXPECT_NEAR(st.lumaScore, want, 1e-5);
  }
}

}  // namespace
