// Six-camera colour work: the colour correction with the rear side cameras
// in a second frame, and the brightness balance between the front and rear
// side cameras, on the colour-overlap ground seen by six cameras.
#include "surround/six_colour_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "surround/six_bright_balance.h"
#include "testsupport/six_colour_scene.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr int32_t kCamW = 160, kCamH = 120;
// Float offsets in the record of the end triples: region -> first end, second end.
constexpr int kFirstEnd[4] = {3, 0, 6, 9};
constexpr int kSecondEnd[4] = {15, 18, 12, 21};
// The left-rear camera darker and tinted; the others neutral.
const float kTint[3] = {0.62f, 0.74f, 0.9f};
const float kGains[6][3] = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, {kTint[0], kTint[1], kTint[2]}, {1, 1, 1}};

struct SixScene {
  std::vector<uint8_t> p1, p2;
  Rgb24Image f1{}, f2{};
  MixAreaInfo mix = SixColourScene_MixArea(kCamW, kCamH, 60);
  MixAreaSixEx six = SixColourScene_SixEx(kCamW, kCamH, 20);
  explicit SixScene(const float gains[6][3]) {
    SixColourScene_RenderRGB(kCamW, kCamH, gains, &p1, &p2);
    f1 = Rgb24Image{2 * kCamW, 2 * kCamH, 1, p1.data(), 6 * kCamW};
    f2 = Rgb24Image{2 * kCamW, kCamH, 1, p2.data(), 6 * kCamW};
  }
  ~SixScene() {
    MixAreaInfo_Release(&mix);
    MixAreaSixEx_Free(&six);
  }
  // One camera's picture as a frame of its own (k in SixCamera order).
  Rgb24Image Camera(int k) const {
    const bool second = k >= 4;
    const int32_t q = second ? k - 2 : k;  // quadrant in its frame
    const uint8_t* base = (second ? p2 : p1).data();
    const int32_t row = second ? 0 : (q / 2) * kCamH;
    return Rgb24Image{kCamW, kCamH, 1, const_cast<uint8_t*>(base) + (static_cast<size_t>(row) * 2 * kCamW + (q % 2) * kCamW) * 3,
                      6 * kCamW};
  }
};

// The four-camera convergence, with region 3's second camera in frame 2:
// the rate limit holds, region 3 finds the tint, the others stay at 1.
TEST(SixColourStats, RearSideCameraInTheSecondFrameConvergesAsFourCamerasDo) {
  SixScene s(kGains);
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 0);
  float prev[132], values[132];
  ColorCorrect_ApplyValues(&st, prev);
  int within = -1;
  for (int f = 0; f < 80; ++f) {
    MergerColorStatsSix(&st, kPixelFormatRGB24, &s.f1, kPixelFormatRGB24, &s.f2, &s.mix);
    ColorCorrect_ApplyValues(&st, values);
    bool near = true;
    for (int c = 0; c < 3; ++c)
      near = near && std::fabs(values[kFirstEnd[2] + c] / values[kSecondEnd[2] + c] / kTint[c] - 1.0f) < 0.02f;
    if (near && within < 0) within = f + 1;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 3; ++c) {
        EXPECT_LE(std::fabs(std::log(values[kFirstEnd[r] + c] / prev[kFirstEnd[r] + c])), 0.0321f);
        EXPECT_LE(std::fabs(std::log(values[kSecondEnd[r] + c] / prev[kSecondEnd[r] + c])), 0.0321f);
      }
    memcpy(prev, values, sizeof values);
  }
  printf("region 3 within 2 %% after %d frames\n", within);
  EXPECT_GT(within, 5);
  for (int c = 0; c < 3; ++c) {
    const float ratio = values[kFirstEnd[2] + c] / values[kSecondEnd[2] + c];
    printf("region 3 channel %d: gain ratio %.4f, camera ratio %.4f\n", c, ratio, kTint[c]);
    EXPECT_NEAR(ratio / kTint[c], 1.0f, 0.02f) << c;
    EXPECT_NEAR(values[kFirstEnd[2] + c], std::sqrt(kTint[c]), 0.02f) << c;
  }
  for (int r : {0, 1, 3})
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(values[kFirstEnd[r] + c], 1.0f, 0.01f) << r << " " << c;
  // The score is not computed with a second frame.
  EXPECT_EQ(st.lumaScore, 0.0f);
}

TEST(SixColourStats, QuadFrameOfAnotherSizeChangesNothingAndOffFrameEntriesAreSkipped) {
  SixScene s(kGains);
  ColorCorrectState st, before;
  ColorCorrect_InitState(&st, 0);
  memcpy(&before, &st, sizeof st);
  Rgb24Image small = s.f1;
  small.width -= 2;
  MergerColorStatsSix(&st, kPixelFormatRGB24, &small, kPixelFormatRGB24, &s.f2, &s.mix);
  EXPECT_EQ(memcmp(&before, &st, sizeof st), 0);
  // A record whose rear side tables still hold quad rows (camH and more)
  // points below the second frame: those entries are no samples, so the
  // region sees nothing and stays at 1 instead of reading past the frame.
  for (int t : {11, 15}) ImageI32_SubtractAll(&s.mix.tables[t], -kCamH);
  ColorCorrect_InitState(&st, 1);
  MergerColorStatsSix(&st, kPixelFormatRGB24, &s.f1, kPixelFormatRGB24, &s.f2, &s.mix);
  float values[132];
  ColorCorrect_ApplyValues(&st, values);
  for (int r : {2, 3})
    for (int c = 0; c < 3; ++c) EXPECT_EQ(values[kFirstEnd[r] + c], 1.0f) << r << " " << c;
}

// The per-camera form on the six pictures cut apart gives the quad form's
// state bit for bit, and leaves the record in camera coordinates.
TEST(SixColourStats, PerCameraFormEqualsTheQuadForm) {
  SixScene s(kGains);
  ColorCorrectState quad, cams;
  ColorCorrect_InitState(&quad, 0);
  ColorCorrect_InitState(&cams, 0);
  MergerColorStatsSix(&quad, kPixelFormatRGB24, &s.f1, kPixelFormatRGB24, &s.f2, &s.mix);
  Rgb24Image pics[6];
  const void* frames[6];
  for (int k = 0; k < 6; ++k) {
    pics[k] = s.Camera(k);
    frames[k] = &pics[k];
  }
  MergerColorStatsSixEx(&cams, kPixelFormatRGB24, frames, &s.mix);
  EXPECT_EQ(s.mix.quadCoords, 0u);
  EXPECT_EQ(memcmp(&quad, &cams, sizeof quad), 0);
  // Camera frames of different sizes: nothing.
  ColorCorrectState other, before;
  ColorCorrect_InitState(&other, 0);
  memcpy(&before, &other, sizeof other);
  pics[3].width -= 2;
  MergerColorStatsSixEx(&other, kPixelFormatRGB24, frames, &s.mix);
  EXPECT_EQ(memcmp(&before, &other, sizeof other), 0);
}

// The balance between left-front and left-rear: disabled until the first
// fetch, then the bounded step until each side moved half-way; per-camera
// form the same.
TEST(SixColourStats, BrightBalanceBringsTheRearSideCameraToItsNeighbour) {
  SixScene s(kGains);
  BrightBalanceState st{};
  float g[12];
  for (int f = 0; f < 5; ++f) BrightBalance_Update(&st, kPixelFormatRGB24, &s.f1, kPixelFormatRGB24, &s.f2, &s.six);
  BrightBalance_Gains(&st, 1, g);
  for (float v : g) EXPECT_EQ(v, 1.0f);
  st.enabled = 1;
  float prev[12];
  memcpy(prev, g, sizeof g);
  int within = -1;
  for (int f = 0; f < 40; ++f) {
    BrightBalance_Update(&st, kPixelFormatRGB24, &s.f1, kPixelFormatRGB24, &s.f2, &s.six);
    BrightBalance_Gains(&st, 1, g);
    for (int i = 0; i < 12; ++i) EXPECT_LE(std::fabs(std::log(g[i] / prev[i])), kBrightBalanceStep + 1e-4f) << i;
    bool near = true;
    for (int c = 0; c < 3; ++c) near = near && std::fabs(g[c] / g[3 + c] / kTint[c] - 1.0f) < 0.02f;
    if (near && within < 0) within = f + 1;
    memcpy(prev, g, sizeof g);
  }
  printf("left balance within 2 %% after %d frames\n", within);
  EXPECT_GT(within, 3);
  for (int c = 0; c < 3; ++c) {
    // Left-front x its gain meets left-rear x its gain: gain ratio = tint.
    EXPECT_NEAR(g[c] / g[3 + c] / kTint[c], 1.0f, 0.02f) << c;
    EXPECT_NEAR(g[c] * g[3 + c], 1.0f, 1e-4f) << c;  // half-way each
    EXPECT_NEAR(g[6 + c], 1.0f, 0.005f) << c;        // the right side is balanced
    EXPECT_NEAR(g[9 + c], 1.0f, 0.005f) << c;
  }
  // Per-camera form: left-front, left-rear, right-front, right-rear.
  BrightBalanceState ex{};
  ex.enabled = 1;
  Rgb24Image pics[4] = {s.Camera(kSixLeftFront), s.Camera(kSixLeftRear), s.Camera(kSixRightFront),
                        s.Camera(kSixRightRear)};
  const void* frames[4] = {&pics[0], &pics[1], &pics[2], &pics[3]};
  BrightBalanceState quad{};
  quad.enabled = 1;
  float steps[2] = {0, 0};
  MixAreaSixEx cameraRecord = SixColourScene_SixEx(kCamW, kCamH, 20);
  for (int f = 0; f < 3; ++f) {
    BrightBalance_Update(&quad, kPixelFormatRGB24, &s.f1, kPixelFormatRGB24, &s.f2, &s.six);
    BrightBalance_UpdateEx(&ex, kPixelFormatRGB24, frames, &cameraRecord, steps);
  }
  EXPECT_EQ(cameraRecord.quadCoords, 0u);
  MixAreaSixEx_Free(&cameraRecord);
  EXPECT_EQ(memcmp(&quad, &ex, sizeof ex), 0);
  EXPECT_EQ(steps[0], 0.032f);
  EXPECT_EQ(steps[1], 100.0f);
}

}  // namespace
