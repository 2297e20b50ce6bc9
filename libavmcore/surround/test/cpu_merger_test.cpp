#include "surround/cpu_merger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "camera/grid_lut_file.h"
#include "surround/krv_image.h"
#include "camera/lut_config_file.h"
#include "surround/mab_file.h"
#include "surround/test/merger_by_hand.h"
#include "testsupport/config_state.h"

namespace {

constexpr int kCw = 64, kCh = 48, kQw = 128, kQh = 96;
constexpr int kW = 40, kH = 56;
constexpr int kTop = 12, kBottom = 12, kLeft = 10, kRight = 10;
const int32_t kCarBox[4] = {kLeft, kTop, kW - kRight, kH - kBottom};

// The test layout's byte-LUT geometry with the given car box.
ByteLutGeometry Geometry(const int32_t box[4]) { return {kW, kH, kQw, kQh, {box[0], box[1], box[2], box[3]}}; }

// The stitched maps of a small synthetic set-up: four camera bands around a
// car, blended corners, no source in the car area.
struct Layout {
  std::vector<float> x1, y1, x2, y2, w1, w2;
  Layout() {
    const size_t n = static_cast<size_t>(kW) * kH;
    x1.assign(n, 0);
    y1.assign(n, 0);
    x2.assign(n, 0);
    y2.assign(n, 0);
    w1.assign(n, 1.0f);
    w2.assign(n, 0.0f);
    for (int r = 0; r < kH; ++r)
      for (int c = 0; c < kW; ++c) {
        const size_t i = static_cast<size_t>(r) * kW + c;
        w2[i] = static_cast<float>(c) / (kW - 1);
        const bool top = r < kTop, bottom = r >= kH - kBottom, left = c < kLeft, right = c >= kW - kRight;
        float ex = 0, ey = 0, sx = 0, sy = 0;
        bool hasEnd = false, hasSide = false;
        if (top || bottom) {
          hasEnd = true;
          ex = (bottom ? kCw : 0) + 5.0f + c;
          ey = 5.0f + (bottom ? r - (kH - kBottom) : r);
        }
        if (left || right) {
          hasSide = true;
          sx = (right ? kCw : 0) + 2.0f + r;
          sy = kCh + 5.0f + (right ? c - (kW - kRight) : c);
        }
        if (hasEnd && hasSide) {
          x1[i] = ex;
          y1[i] = ey;
          x2[i] = sx;
          y2[i] = sy;
          w1[i] = static_cast<float>((r + c) % 31) / 31.0f;  // codes 0..30: all blends
        } else if (hasEnd) {
          x1[i] = ex;
          y1[i] = ey;
        } else if (hasSide) {
          x1[i] = sx;
          y1[i] = sy;
        }
      }
  }
  size_t I(int r, int c) const { return static_cast<size_t>(r) * kW + c; }
};

// Byte planes of the KRVImage layout (W x 2H each).
void PackPlanes(const Layout& L, std::vector<uint8_t> planes[4]) {
  for (int k = 0; k < 4; ++k) planes[k].assign(static_cast<size_t>(kW) * 2 * kH, 0);
  const float sx = 255.0f / kQw, sy = 255.0f / kQh;
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c) {
      const size_t i = L.I(r, c), lo = static_cast<size_t>(r + kH) * kW + c;
      const float x1 = L.x1[i] * sx, y1 = L.y1[i] * sy, x2 = L.x2[i] * sx, y2 = L.y2[i] * sy;
      const int w = static_cast<int>(L.w1[i] * 31 + 0.5f);
      const auto frac = [](float v) { return v - static_cast<float>(static_cast<int>(v)); };
      planes[0][i] = static_cast<uint8_t>(static_cast<int>(x1));
      planes[1][i] = static_cast<uint8_t>(static_cast<int>(y1));
      planes[2][i] = static_cast<uint8_t>((static_cast<int>(frac(y1) * 31) & 31) | (((w >> 2) & 7) << 5));
      planes[3][i] = static_cast<uint8_t>((w & 3) | (static_cast<int>(frac(x1) * 63) << 2));
      planes[0][lo] = static_cast<uint8_t>(static_cast<int>(x2));
      planes[1][lo] = static_cast<uint8_t>(static_cast<int>(y2));
      planes[2][lo] = static_cast<uint8_t>((static_cast<int>(frac(y2) * 15) & 15) | (static_cast<int>(frac(x2) * 15) << 4));
      planes[3][lo] = static_cast<uint8_t>(static_cast<int>(L.w2[i] * 255 + 0.5f));
    }
}

// Four semi-planar camera images with smooth, distinct content.
struct Cameras {
  std::vector<uint8_t> img[4];
  const uint8_t* ptr[4];
  Cameras() {
    for (int k = 0; k < 4; ++k) {
      img[k].resize(kCw * kCh * 3 / 2);
      for (int y = 0; y < kCh; ++y)
        for (int x = 0; x < kCw; ++x) img[k][y * kCw + x] = static_cast<uint8_t>(20 + 40 * k + x + y);
      for (int y = 0; y < kCh / 2; ++y)
        for (int x = 0; x < kCw / 2; ++x) {
          img[k][kCw * kCh + 2 * (y * (kCw / 2) + x)] = static_cast<uint8_t>(100 + k);
          img[k][kCw * kCh + 2 * (y * (kCw / 2) + x) + 1] = static_cast<uint8_t>(x + y);
        }
      ptr[k] = img[k].data();
    }
  }
};

struct Output {
  std::vector<uint8_t> luma, chroma;
  CPUMergerOutput planes;
  int32_t pitches[2] = {kW + 8, kW + 4};  // padded rows
  Output() : luma(static_cast<size_t>(kW + 8) * kH, 0xEE), chroma(static_cast<size_t>(kW + 4) * kH / 2, 0xEE) {
    planes = CPUMergerOutput{luma.data(), chroma.data()};
  }
  uint8_t Y(int r, int c) const { return luma[static_cast<size_t>(r) * pitches[0] + c]; }
  uint16_t UV(int r, int c) const {
    uint16_t v;
    memcpy(&v, &chroma[static_cast<size_t>(r / 2) * pitches[1] + 2 * (c / 2)], 2);
    return v;
  }
};

std::vector<float> IdentityGains() { return std::vector<float>(24, 1.0f); }

void LoadFromPlanes(MergerCPUOB* o, const Layout& L) {
  std::vector<uint8_t> planes[4];
  PackPlanes(L, planes);
  const uint8_t* p[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
  ASSERT_EQ(LUTCPU_InitFromBytePlanes(o, p, Geometry(kCarBox), kCw, kCh, 7, 9), 1);
}

// Plain per-pixel reference of the stitching rules with identity gains:
// decodes each texel on its own and applies the single or blend formula.
void Reference(const Layout& L, const Cameras& cams, Output* out, std::vector<uint8_t>* valid) {
  std::vector<uint8_t> planes[4];
  PackPlanes(L, planes);
  valid->assign(static_cast<size_t>(kW) * kH, 0);
  const int32_t R = 255 * 256;  // ramp of gain 1.0 at every position
  auto locate = [](float x, float y, int* cam, int* px, int* py) {
    int k = 1;
    if (x > kCw) x -= kCw, k += 1;
    if (y > kCh) y -= kCh, k += 2;
    *px = static_cast<int>(x + 0.5f);
    *py = static_cast<int>(y + 0.5f);
    *cam = k;
    return *px >= 1 && *px <= kCw - 2 && *py >= 1 && *py <= kCh - 2;
  };
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c) {
      const size_t i = L.I(r, c), lo = static_cast<size_t>(r + kH) * kW + c;
      const int b0 = planes[0][i], b1 = planes[1][i], b2 = planes[2][i], b3 = planes[3][i];
      const int d0 = planes[0][lo], d1 = planes[1][lo], d2 = planes[2][lo];
      const float x1 = kQw * (b0 + (b3 >> 2) / 63.0f) / 255.0f, y1 = kQh * (b1 + (b2 & 31) / 31.0f) / 255.0f;
      const int code = (b2 >> 5) * 4 + (b3 & 3);
      int k1, u1, v1;
      if (!locate(x1, y1, &k1, &u1, &v1)) continue;
      const uint8_t* I1 = cams.img[k1 - 1].data();
      if (code == 31) {
        const int v = (I1[v1 * kCw + u1] * R) >> 16;
        out->luma[static_cast<size_t>(r) * out->pitches[0] + c] = static_cast<uint8_t>(std::min(v, 255));
        if ((r & 1) == 0 && (c & 1) == 0)
          memcpy(&out->chroma[static_cast<size_t>(r / 2) * out->pitches[1] + 2 * (c / 2)],
                 &I1[kCw * kCh + 2 * ((v1 >> 1) * (kCw / 2) + (u1 >> 1))], 2);
        (*valid)[i] = 1;
        continue;
      }
      const float x2 = kQw * (d0 + (d2 >> 4) / 15.0f) / 255.0f, y2 = kQh * (d1 + (d2 & 15) / 15.0f) / 255.0f;
      int k2, u2, v2;
      if (!locate(x2, y2, &k2, &u2, &v2)) continue;
      const bool end1 = k1 <= 2;
      const int ke = end1 ? k1 : k2, ue = end1 ? u1 : u2, ve = end1 ? v1 : v2;
      const int us = end1 ? u2 : u1, vs = end1 ? v2 : v1, ks = end1 ? k2 : k1;
      const float w = code / 31.0f;
      const uint32_t a = static_cast<uint32_t>(static_cast<int>(31.0f * (end1 ? w : 1.0f - w) + 0.5f));
      const uint32_t ye = cams.img[ke - 1][ve * kCw + ue], ys = cams.img[ks - 1][vs * kCw + us];
      const uint32_t v = (ye * R * a + ys * R * (32 - a)) >> 21;
      out->luma[static_cast<size_t>(r) * out->pitches[0] + c] = static_cast<uint8_t>(std::min<uint32_t>(v, 255));
      if ((r & 1) == 0 && (c & 1) == 0)
        memcpy(&out->chroma[static_cast<size_t>(r / 2) * out->pitches[1] + 2 * (c / 2)],
               &cams.img[ke - 1][kCw * kCh + 2 * ((ve >> 1) * (kCw / 2) + (ue >> 1))], 2);
      (*valid)[i] = 1;
    }
}

TEST(CpuMergerTest, StitchEqualsPlainPerPixelReference) {
  Layout L;
  Cameras cams;
  MergerCPUOB o;
  LoadFromPlanes(&o, L);
  EXPECT_EQ(o.bandSizes[0], kTop);
  EXPECT_EQ(o.bandSizes[1], kBottom);
  EXPECT_EQ(o.bandSizes[2], kLeft);
  EXPECT_EQ(o.bandSizes[3], kRight);
  EXPECT_EQ(o.userValue1, 7);
  Output got, want;
  const std::vector<float> g = IdentityGains();
  ASSERT_EQ(LUTCPU_Exec(&o, cams.ptr, &got.planes, got.pitches, g.data(), 0), 1);
  std::vector<uint8_t> valid;
  Reference(L, cams, &want, &valid);
  EXPECT_EQ(got.luma, want.luma);
  EXPECT_EQ(got.chroma, want.chroma);
  // Every band and corner pixel was stitched; the car area was not touched.
  EXPECT_EQ(got.Y(kH / 2, kW / 2), 0xEE);
  EXPECT_NE(got.Y(0, 0), 0xEE);
  EXPECT_NE(got.Y(kH - 2, kW - 2), 0xEE);
  // Without the packed chroma tables (an object filled by hand) the stitch
  // reads the full ones, to the same bytes.
  ASSERT_FALSE(o.endPairIndex.empty());
  MergerCPUOB full = o;
  full.endPairIndex.clear();
  full.sidePairIndex.clear();
  Output fromFull;
  ASSERT_EQ(LUTCPU_Exec(&full, cams.ptr, &fromFull.planes, fromFull.pitches, g.data(), 0), 1);
  EXPECT_EQ(fromFull.luma, got.luma);
  EXPECT_EQ(fromFull.chroma, got.chroma);
  LUTCPU_Release(&o);
  EXPECT_EQ(o.loaded, 0);
  EXPECT_TRUE(o.blendMap.empty());
  EXPECT_TRUE(o.endPairIndex.empty());
}

TEST(CpuMergerTest, StitchMatchesOpenCvRemapAndBlend) {
  Layout L;
  Cameras cams;
  MergerCPUOB o;
  LoadFromPlanes(&o, L);
  Output got;
  const std::vector<float> g = IdentityGains();
  ASSERT_EQ(LUTCPU_Exec(&o, cams.ptr, &got.planes, got.pitches, g.data(), 0), 1);

  // Per camera, a float map of where each output pixel reads that camera.
  cv::Mat mapX[4], mapY[4], warped[4];
  for (int k = 0; k < 4; ++k) {
    mapX[k] = cv::Mat(kH, kW, CV_32F, cv::Scalar(-10));
    mapY[k] = cv::Mat(kH, kW, CV_32F, cv::Scalar(-10));
  }
  auto put = [&](int r, int c, float x, float y) {
    int k = 0;
    if (x > kCw) x -= kCw, k += 1;
    if (y > kCh) y -= kCh, k += 2;
    mapX[k].at<float>(r, c) = x;
    mapY[k].at<float>(r, c) = y;
    return k;
  };
  std::vector<int> firstCam(kW * kH), secondCam(kW * kH);
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c) {
      const size_t i = L.I(r, c);
      firstCam[i] = put(r, c, L.x1[i], L.y1[i]);
      secondCam[i] = L.w1[i] < 1.0f ? put(r, c, L.x2[i], L.y2[i]) : -1;
    }
  for (int k = 0; k < 4; ++k) {
    cv::Mat src(kCh, kCw, CV_8U, cams.img[k].data());
    cv::remap(src, warped[k], mapX[k], mapY[k], cv::INTER_LINEAR, cv::BORDER_CONSTANT);
  }
  double sum = 0;
  int n = 0, worst = 0;
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c) {
      const size_t i = L.I(r, c);
      if (L.x1[i] == 0.0f) continue;  // car area
      float v;
      const float f = warped[firstCam[i]].at<uint8_t>(r, c);
      if (secondCam[i] < 0) {
        v = f;
      } else {
        const float s = warped[secondCam[i]].at<uint8_t>(r, c);
        const float a = std::floor(31.0f * L.w1[i] + 0.5f) / 32.0f;  // first source is the end camera
        v = a * f + (1.0f - a) * s;
      }
      v *= 65280.0f / 65536.0f;  // the ramp of gain 1.0: 255 * 256
      const int d = std::abs(static_cast<int>(std::lround(v)) - got.Y(r, c));
      sum += d;
      worst = std::max(worst, d);
      ++n;
    }
  ASSERT_GT(n, 1000);
  EXPECT_LE(sum / n, 1.0);
  EXPECT_LE(worst, 2);
}

TEST(CpuMergerTest, RegionsWriteOnlyTheirParts) {
  Layout L;
  Cameras cams;
  MergerCPUOB o;
  LoadFromPlanes(&o, L);
  const std::vector<float> g = IdentityGains();
  struct Probe {
    int r, c;
  };
  const Probe frontLeft{2, 3}, frontMid{2, 20}, leftMid{30, 3}, backRight{kH - 2, kW - 3}, frontRight{2, kW - 3};
  // A pixel the region does not write keeps the output's fill 0xEE.
  struct Case {
    int32_t region;
    std::vector<Probe> written, kept;
  };
  const Case cases[] = {
      {1, {frontMid, leftMid}, {frontLeft, backRight}},
      {2, {frontLeft}, {frontMid, leftMid, frontRight}},
      {5, {backRight}, {frontLeft}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("region " + std::to_string(c.region));
    Output out;
    LUTCPU_Exec(&o, cams.ptr, &out.planes, out.pitches, g.data(), c.region);
    for (const Probe& p : c.written) EXPECT_NE(out.Y(p.r, p.c), 0xEE) << p.r << ", " << p.c;
    for (const Probe& p : c.kept) EXPECT_EQ(out.Y(p.r, p.c), 0xEE) << p.r << ", " << p.c;
  }
  // Row bands stitched one by one give the whole frame.
  Output whole, banded;
  LUTCPU_Exec(&o, cams.ptr, &whole.planes, whole.pitches, g.data(), 0);
  for (int r0 = 0; r0 < kH; r0 += 10)
    LUTCPU_ExecRows(&o, cams.ptr, &banded.planes, banded.pitches, g.data(), 0, r0, r0 + 10);
  EXPECT_EQ(whole.luma, banded.luma);
  EXPECT_EQ(whole.chroma, banded.chroma);
}

TEST(CpuMergerTest, GainRampsAndGroupsOfFour) {
  std::vector<float> g(24, 1.0f);
  int32_t ramp[256];
  LUTCPU_BuildRamp(g.data(), 1, ramp);
  EXPECT_EQ(ramp[0], 65280);
  EXPECT_EQ(ramp[255], 65280);
  // Camera 2: first triple 2.0 (position 255), second 0.5 (position 0).
  for (int i = 6; i < 9; ++i) g[i] = 2.0f;
  for (int i = 9; i < 12; ++i) g[i] = 0.5f;
  LUTCPU_BuildRamp(g.data(), 2, ramp);
  EXPECT_EQ(ramp[255], 255 * 512);
  EXPECT_EQ(ramp[0], 255 * 128);

  // One run of camera 1, columns 1..13 of row 0, ramp position = column * 16:
  // head 1..3 exact, group 4..7 with the gain of column 8, group 8..11
  // interpolated from 8 to 12, tail 12..13 exact.
  MergerCPUOB o = MergerByHand(16, 2, 16, 4);
  for (int c = 0; c < 16; ++c) o.blendMap[c] = static_cast<uint16_t>(c * 16);
  o.singleRuns[0].push_back(CPUStitchRun{0, 1, 13});
  std::vector<uint8_t> img(16 * 4 * 3 / 2, 200);
  const uint8_t* imgs[4] = {img.data(), img.data(), img.data(), img.data()};
  for (int i = 0; i < 3; ++i) g[i] = 1.0f;
  for (int i = 3; i < 6; ++i) g[i] = 0.25f;
  LUTCPU_BuildRamp(g.data(), 1, ramp);
  std::vector<uint8_t> luma(32, 0), chroma(16, 0);
  CPUMergerOutput out{luma.data(), chroma.data()};
  const int32_t pitches[2] = {16, 16};
  ASSERT_EQ(LUTCPU_Exec(&o, imgs, &out, pitches, g.data(), 0), 1);
  auto lumaOf = [&](int32_t gain) { return std::min(255, static_cast<int>((200u * static_cast<uint32_t>(gain)) >> 16)); };
  for (int c = 1; c <= 3; ++c) EXPECT_EQ(luma[c], lumaOf(ramp[c * 16])) << c;
  for (int c = 4; c <= 7; ++c) EXPECT_EQ(luma[c], lumaOf(ramp[8 * 16])) << c;
  const int32_t s = ramp[8 * 16], step = (ramp[12 * 16] - s) / 4;
  for (int c = 8; c <= 11; ++c) EXPECT_EQ(luma[c], lumaOf(s + (c - 8) * step)) << c;
  for (int c = 12; c <= 13; ++c) EXPECT_EQ(luma[c], lumaOf(ramp[c * 16])) << c;
  EXPECT_EQ(luma[0], 0);
  EXPECT_EQ(luma[14], 0);
}

// Single-camera runs of every start and end phase against the group rule
// written out per pixel: long runs (many groups), ramp positions that rise
// and fall (steps of both signs, truncated toward zero), gains from 0.02 to
// 250 (outputs from 0 to the 255 clamp) on both ramp directions.
TEST(CpuMergerTest, LongSingleRunsFollowTheGroupRule) {
  struct Run {
    int32_t a, b;
  };
  const Run runs[] = {{0, 96}, {1, 95}, {2, 93}, {3, 94}, {4, 12}, {5, 13}, {4, 20}, {6, 7},
                      {7, 31}, {8, 40}, {9, 41}, {0, 9},  {3, 5},  {11, 96}, {13, 77}, {16, 29}};
  constexpr int32_t kRows = 16, kWidth = 96, kCamW = 32, kCamH = 8;
  MergerCPUOB o = MergerByHand(kWidth, kRows, kCamW, kCamH);
  const size_t n = static_cast<size_t>(kWidth) * kRows;
  cv::RNG rng(11);
  for (size_t i = 0; i < n; ++i) {
    o.endLumaIndex[i] = rng.uniform(0, kCamW * kCamH);
    o.sideLumaIndex[i] = rng.uniform(0, kCamW * kCamH);
    // Ramp positions: a random walk with jumps, so that neighbouring groups
    // differ by anything from 0 to 255 either way.
    o.blendMap[i] = static_cast<uint16_t>((i % 7 == 0) ? rng.uniform(0, 256) : (i * 37 + rng.uniform(0, 9)) & 255);
  }
  for (int32_t r = 0; r < kRows; ++r) o.singleRuns[r % 4].push_back(CPUStitchRun{r, runs[r].a, runs[r].b - runs[r].a});
  std::vector<uint8_t> img(kCamW * kCamH * 3 / 2);
  for (auto& v : img) v = static_cast<uint8_t>(rng.uniform(0, 256));
  const uint8_t* imgs[4] = {img.data(), img.data(), img.data(), img.data()};
  const float gainPairs[][8] = {{1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
                                {3.7f, 0.3f, 0.2f, 2.9f, 250.0f, 0.02f, 0.05f, 180.0f},
                                {0.9f, 1.6f, 1.3f, 0.7f, 1.1f, 1.05f, 0.4f, 0.45f}};
  for (const auto& gp : gainPairs) {
    std::vector<float> g(24);
    for (int t = 0; t < 8; ++t)
      for (int i = 0; i < 3; ++i) g[3 * t + i] = gp[t];
    std::vector<uint8_t> luma(n, 0xEE), chroma(n / 2, 0);
    CPUMergerOutput out{luma.data(), chroma.data()};
    const int32_t pitches[2] = {kWidth, kWidth};
    ASSERT_EQ(LUTCPU_Exec(&o, imgs, &out, pitches, g.data(), 0), 1);
    for (int32_t r = 0; r < kRows; ++r) {
      const int32_t k = r % 4, a = runs[r].a, b = runs[r].b;
      int32_t R[256];
      LUTCPU_BuildRamp(g.data(), k + 1, R);
      const size_t base = static_cast<size_t>(r) * kWidth;
      auto ramp = [&](int32_t c) { return R[o.blendMap[base + c] & 255]; };
      const int32_t g0 = (a + 3) / 4 * 4, last = (b - 1) / 4 * 4;
      for (int32_t c = 0; c < kWidth; ++c) {
        if (c < a || c >= b) {
          EXPECT_EQ(luma[base + c], 0xEE) << r << " " << c;
          continue;
        }
        int32_t gain = ramp(c);
        if (c >= g0 && c < last) {
          const int32_t start = c / 4 * 4;
          if (start == g0) {
            gain = ramp(g0 + 4);
          } else {
            const double step = (ramp(start + 4) - ramp(start)) / 4.0;
            gain = ramp(start) + (c - start) * static_cast<int32_t>(std::trunc(step));
          }
        }
        const int32_t* idx = (k < 2 ? o.endLumaIndex : o.sideLumaIndex).data();
        const uint64_t v = (static_cast<uint64_t>(img[idx[base + c]]) * static_cast<uint32_t>(gain)) >> 16;
        ASSERT_EQ(luma[base + c], std::min<uint64_t>(v, 255)) << "row " << r << " column " << c << " gain " << gp[0];
      }
    }
  }
}

TEST(CpuMergerTest, EdgeTexelsWeightsAndManyRunsPerRow) {
  Layout L;
  // First source on the outermost column of camera 1: invalid.
  L.x1[L.I(0, 15)] = 0.2f;
  // Weight code 30 in the front band: a blend pixel (camera 1 with 3).
  L.w1[L.I(1, 20)] = 30.0f / 31.0f;
  L.x2[L.I(1, 20)] = 10.0f;
  L.y2[L.I(1, 20)] = kCh + 10.0f;
  // Row 20 of the left band alternates cameras 3 and 4 every column.
  for (int c = 0; c < kLeft; ++c) {
    L.x1[L.I(20, c)] = (c & 1) ? kCw + 10.0f : 10.0f;
    L.y1[L.I(20, c)] = kCh + 10.0f;
  }
  // Two end cameras blended: no pair, left out.
  L.w1[L.I(2, 20)] = 0.5f;
  L.x2[L.I(2, 20)] = kCw + 10.0f;
  L.y2[L.I(2, 20)] = 10.0f;
  MergerCPUOB o;
  LoadFromPlanes(&o, L);
  Cameras cams;
  Output out;
  const std::vector<float> g = IdentityGains();
  LUTCPU_Exec(&o, cams.ptr, &out.planes, out.pitches, g.data(), 0);
  EXPECT_EQ(out.Y(0, 15), 0xEE);
  EXPECT_NE(out.Y(0, 14), 0xEE);
  EXPECT_NE(out.Y(0, 16), 0xEE);
  EXPECT_EQ(out.Y(2, 20), 0xEE);
  EXPECT_EQ(o.blendMap[L.I(1, 20)] >> 8, 30);
  int row20 = 0;
  for (const auto& list : o.singleRuns)
    for (const CPUStitchRun& r : list) row20 += r.row == 20 && r.col < kLeft;
  EXPECT_EQ(row20, kLeft);
  for (int c = 0; c < kLeft; ++c) EXPECT_NE(out.Y(20, c), 0xEE) << c;

  // Already loaded: a second init changes nothing and reads no file.
  EXPECT_EQ(LUTCPU_InitFromFile_YW(&o, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 1, 1, 0, nullptr,
                                   nullptr),
            1);
  EXPECT_EQ(o.camWidth, kCw);
  // Not loaded: nothing written.
  MergerCPUOB empty;
  Output untouched;
  EXPECT_EQ(LUTCPU_Exec(&empty, cams.ptr, &untouched.planes, untouched.pitches, g.data(), 0), 0);
  EXPECT_EQ(untouched.Y(0, 0), 0xEE);
  // Unusable camera sizes are refused.
  std::vector<uint8_t> planes[4];
  PackPlanes(L, planes);
  const uint8_t* p[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
  EXPECT_EQ(LUTCPU_InitFromBytePlanes(&empty, p, Geometry(kCarBox), 63, kCh, 0, 0), 0);
}

class CpuMergerFileTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  std::string Path(const char* name) { return dir_ + "/" + name; }

  void WriteConfig(const std::string& path, int32_t quadW, int32_t quadH) {
    LutConfigFileData d{};
    d.quadWidth = quadW;
    d.quadHeight = quadH;
    d.bandSizes[0] = kTop;
    d.bandSizes[1] = kBottom;
    d.bandSizes[2] = kLeft;
    d.bandSizes[3] = kRight;
    d.cornerCount[1] = 4;
    d.model = 2;
    ASSERT_TRUE(LutConfigFile_Write(path.c_str(), d, gv().pointsPerCamera, gv().maxPoints));
  }

  // One grid file per camera strip with that camera's local source points.
  void WriteGrids(const Layout& L, bool wild) {
    struct Strip {
      const char* name;
      int r0, c0, rows, cols, cam;  // cam 1..4
    } strips[4] = {{"front.grid", 0, 0, kTop, kW, 1},
                   {"back.grid", kH - kBottom, 0, kBottom, kW, 2},
                   {"left.grid", 0, 0, kH, kLeft, 3},
                   {"right.grid", 0, kW - kRight, kH, kRight, 4}};
    for (const Strip& s : strips) {
      std::vector<float> X(static_cast<size_t>(s.rows) * s.cols, 0), Y(X.size(), 0);
      for (int i = 0; i < s.rows; ++i)
        for (int j = 0; j < s.cols; ++j) {
          const size_t o = L.I(s.r0 + i, s.c0 + j);
          float x = L.x1[o], y = L.y1[o];
          auto camOf = [](float qx, float qy) { return 1 + (qx > kCw ? 1 : 0) + (qy > kCh ? 2 : 0); };
          if (camOf(x, y) != s.cam) {
            x = L.x2[o];
            y = L.y2[o];
          }
          if (x > kCw) x -= kCw;
          if (y > kCh) y -= kCh;
          X[static_cast<size_t>(i) * s.cols + j] = wild ? 5000.0f : x;
          Y[static_cast<size_t>(i) * s.cols + j] = wild ? -300.0f : y;
        }
      Matrix mx{s.cols, s.rows, X.data()}, my{s.cols, s.rows, Y.data()};
      ASSERT_EQ(GridLUT_WriteFile(&mx, &my, -1, Path(s.name).c_str()), 1);
    }
  }

  StitchMaps MapsOf(Layout& L, Matrix m[6]) {
    float* d[6] = {L.x1.data(), L.y1.data(), L.x2.data(), L.y2.data(), L.w1.data(), L.w2.data()};
    for (int k = 0; k < 6; ++k) m[k] = Matrix{kW, kH, d[k]};
    StitchMaps s{};
    s.camW = kCw;
    s.camH = kCh;
    s.bandSizes[0] = kTop;
    s.bandSizes[1] = kBottom;
    s.bandSizes[2] = kLeft;
    s.bandSizes[3] = kRight;
    s.X1 = &m[0];
    s.Y1 = &m[1];
    s.X2 = &m[2];
    s.Y2 = &m[3];
    s.W1 = &m[4];
    s.W2 = &m[5];
    return s;
  }

  int InitYW(MergerCPUOB* o, const char* mab, int32_t* w, int32_t* h) {
    return LUTCPU_InitFromFile_YW(o, Path("lut_config.krv").c_str(), Path(mab).c_str(),
                                  Path("front.grid").c_str(), Path("back.grid").c_str(), Path("left.grid").c_str(),
                                  Path("right.grid").c_str(), 3, kCw, kCh, 4, w, h);
  }
};

TEST_F(CpuMergerFileTest, RunTableLoadStitchesLikeTheByteLut) {
  Layout L;
  Matrix m[6];
  WriteConfig(Path("lut_config.krv"), kQw, kQh);
  ASSERT_EQ(GenerateMABFileFromMaps(MapsOf(L, m), Path("a.mab").c_str()), 0);
  WriteGrids(L, false);
  MergerCPUOB yw, krv;
  int32_t w = 0, h = 0;
  ASSERT_EQ(InitYW(&yw, "a.mab", &w, &h), 1);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
  EXPECT_EQ(yw.bandSizes[2], kLeft);
  LoadFromPlanes(&krv, L);
  Cameras cams;
  Output a, b;
  const std::vector<float> g = IdentityGains();
  LUTCPU_Exec(&yw, cams.ptr, &a.planes, a.pitches, g.data(), 0);
  LUTCPU_Exec(&krv, cams.ptr, &b.planes, b.pitches, g.data(), 0);
  for (int r = 0; r < kH; ++r)
    for (int c = 0; c < kW; ++c) {
      ASSERT_EQ(a.Y(r, c), b.Y(r, c)) << r << "," << c;
      ASSERT_EQ(a.UV(r, c), b.UV(r, c)) << r << "," << c;
    }
  LUTCPU_Release(&yw);

  // Grids pointing far outside the camera image are held at its border.
  WriteGrids(L, true);
  MergerCPUOB wild;
  ASSERT_EQ(InitYW(&wild, "a.mab", nullptr, nullptr), 1);
  for (int32_t v : wild.endLumaIndex) ASSERT_LT(v, kCw * kCh);
  for (int32_t v : wild.sideChromaIndex) ASSERT_LT(v, kCw * kCh / 4);
  Output c;
  LUTCPU_Exec(&wild, cams.ptr, &c.planes, c.pitches, g.data(), 0);
}

TEST_F(CpuMergerFileTest, ByteLutFileLoadsLikeItsPlanes) {
  Layout L;
  std::vector<uint8_t> planes[4];
  PackPlanes(L, planes);
  ImageU8 img[4];
  for (int k = 0; k < 4; ++k) img[k] = ImageU8{kW, 2 * kH, planes[k].data()};
  const int32_t pair1[2] = {kCarBox[1], kCarBox[0]}, pair2[2] = {kCarBox[3], kCarBox[2]};
  ASSERT_EQ(KRVImage_Save(&img[0], &img[1], &img[2], &img[3], pair1, pair2, Path("lut.krv").c_str()), 1);
  WriteConfig(Path("lut_config.krv"), kQw, kQh);
  MergerCPUOB fromFile, fromPlanes;
  int32_t w = 0, h = 0;
  ASSERT_EQ(LUTCPU_InitFromFile(&fromFile, Path("lut.krv").c_str(), Path("lut_config.krv").c_str(), 1, kCw, kCh, 2,
                                &w, &h),
            1);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
  const int32_t bands[4] = {kTop, kBottom, kLeft, kRight};
  for (int k = 0; k < 4; ++k) EXPECT_EQ(fromFile.bandSizes[k], bands[k]);
  LoadFromPlanes(&fromPlanes, L);
  EXPECT_EQ(fromFile.blendMap, fromPlanes.blendMap);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(fromFile.singleRuns[k].size(), fromPlanes.singleRuns[k].size());

  // Failures: the object stays unloaded and the sizes are not written.
  MergerCPUOB o;
  w = h = -1;
  EXPECT_EQ(LUTCPU_InitFromFile(&o, Path("none.krv").c_str(), Path("lut_config.krv").c_str(), 0, kCw, kCh, 0, &w,
                                &h),
            0);
  EXPECT_EQ(LUTCPU_InitFromFile(&o, Path("lut.krv").c_str(), Path("none.krv").c_str(), 0, kCw, kCh, 0, &w, &h), 0);
  EXPECT_EQ(LUTCPU_InitFromFile(&o, Path("lut.krv").c_str(), Path("lut_config.krv").c_str(), 0, kCw + 2, kCh, 0, &w,
                                &h),
            0);
  EXPECT_EQ(w, -1);
  EXPECT_EQ(o.loaded, 0);
}

TEST_F(CpuMergerFileTest, LoadFailures) {
  Layout L;
  Matrix m[6];
  ASSERT_EQ(GenerateMABFileFromMaps(MapsOf(L, m), Path("a.mab").c_str()), 0);
  MergerCPUOB o;
  // No configuration.
  EXPECT_EQ(InitYW(&o, "a.mab", nullptr, nullptr), 0);
  // Quad size not twice the camera size.
  WriteConfig(Path("lut_config.krv"), kQw + 2, kQh);
  EXPECT_EQ(InitYW(&o, "a.mab", nullptr, nullptr), 0);
  WriteConfig(Path("lut_config.krv"), kQw, kQh);
  // Missing MAB, other magic, a run beyond the output.
  EXPECT_EQ(InitYW(&o, "none.mab", nullptr, nullptr), 0);
  FILE* f = fopen(Path("a.mab").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  const uint32_t badRow = 5000;
  fseek(f, 44, SEEK_SET);
  fwrite(&badRow, 4, 1, f);
  fclose(f);
  EXPECT_EQ(InitYW(&o, "a.mab", nullptr, nullptr), 0);
  EXPECT_EQ(o.loaded, 0);
  // Missing grids: the load still succeeds.
  ASSERT_EQ(GenerateMABFileFromMaps(MapsOf(L, m), Path("a.mab").c_str()), 0);
  EXPECT_EQ(InitYW(&o, "a.mab", nullptr, nullptr), 1);
}

}  // namespace

namespace {

TEST_F(CpuMergerFileTest, PerPixelFormFollowsItsMaskRules) {
  Layout L;
  // A blend of two end cameras: mask 3, no pair.
  L.w1[L.I(2, 20)] = 0.5f;
  L.x2[L.I(2, 20)] = kCw + 10.0f;
  L.y2[L.I(2, 20)] = 10.0f;
  std::vector<uint8_t> planes[4];
  PackPlanes(L, planes);
  ImageU8 img[4];
  for (int k = 0; k < 4; ++k) img[k] = ImageU8{kW, 2 * kH, planes[k].data()};
  const int32_t pair1[2] = {kCarBox[1], kCarBox[0]}, pair2[2] = {kCarBox[3], kCarBox[2]};
  ASSERT_EQ(KRVImage_Save(&img[0], &img[1], &img[2], &img[3], pair1, pair2, Path("lut.krv").c_str()), 1);
  WriteConfig(Path("lut_config.krv"), kQw, kQh);
  MergerCPUOBPerPixel pp;
  int32_t w = 0, h = 0;
  ASSERT_EQ(LUTCPU_InitPerPixel(&pp, Path("lut.krv").c_str(), Path("lut_config.krv").c_str(), 0, kCw, kCh, 0, &w, &h), 1);
  EXPECT_EQ(w, kW);
  MergerCPUOB runs;
  LoadFromPlanes(&runs, L);
  Cameras cams;
  const std::vector<float> g = IdentityGains();
  Output a, b, filled;
  LUTCPU_ExecPerPixel(&pp, cams.ptr, &a.planes, a.pitches, g.data(), 0, 0);
  LUTCPU_Exec(&runs, cams.ptr, &b.planes, b.pitches, g.data(), 0);
  LUTCPU_ExecPerPixel(&pp, cams.ptr, &filled.planes, filled.pitches, g.data(), 0, 1);
  const uint32_t R = 65280;
  // Front band (end camera, weight 31): (Y R 31) >> 21.
  const size_t i = L.I(4, 20);
  const uint32_t yFront = cams.img[0][static_cast<size_t>(pp.endLumaIndex[i])];
  EXPECT_EQ(a.Y(4, 20), (yFront * R * 31) >> 21);
  // Left band (side camera, end weight 0): (Y R 32) >> 21, as the run form.
  EXPECT_EQ(a.Y(30, 4), b.Y(30, 4));
  // Corner blends: the run form's luma; chroma mixed by the weight.
  EXPECT_EQ(a.Y(5, 5), b.Y(5, 5));
  EXPECT_EQ(pp.descriptor[L.I(5, 5)] & 255u, 5u);
  // Mask 3 and, with the fill flag, the car area: luma 16, chroma 0x80.
  EXPECT_EQ(a.Y(2, 20), 16);
  EXPECT_EQ(a.UV(2, 20), 0x8080);
  EXPECT_EQ(a.Y(kH / 2, kW / 2), 0xEE);
  EXPECT_EQ(filled.Y(kH / 2, kW / 2), 16);
  EXPECT_EQ(filled.UV(kH / 2, kW / 2), 0x8080);
  LUTCPU_ReleasePerPixel(&pp);
  EXPECT_EQ(pp.loaded, 0);
  MergerCPUOBPerPixel none;
  EXPECT_EQ(LUTCPU_ExecPerPixel(&none, cams.ptr, &a.planes, a.pitches, g.data(), 0, 1), 0);
  EXPECT_EQ(LUTCPU_InitPerPixel(&none, Path("no.krv").c_str(), Path("lut_config.krv").c_str(), 0, kCw, kCh, 0, &w, &h), 0);
}

TEST_F(CpuMergerFileTest, PreWarpedFormReadsAreaPictures) {
  Layout L;
  Matrix m[6];
  WriteConfig(Path("lut_config.krv"), kQw, kQh);
  ASSERT_EQ(GenerateMABFileFromMaps(MapsOf(L, m), Path("a.mab").c_str()), 0);
  MergerCPUOBWarped wp;
  int32_t w = 0, h = 0;
  ASSERT_EQ(LUTCPU_InitFromMAB(&wp, Path("lut_config.krv").c_str(), Path("a.mab").c_str(), 5, &w, &h), 1);
  EXPECT_EQ(wp.userValue, 5);
  EXPECT_EQ(h, kH);
  // Each camera's area of the output, pre-warped from its picture.
  Cameras cams;
  const struct {
    int r0, c0, rows, cols;
  } area[4] = {{0, 0, kTop, kW}, {kH - kBottom, 0, kBottom, kW}, {0, 0, kH, kLeft}, {0, kW - kRight, kH, kRight}};
  std::vector<uint8_t> pics[4][2];
  const uint8_t* ptr[4][2];
  int32_t pitch[4][2];
  for (int k = 0; k < 4; ++k) {
    pics[k][0].assign(static_cast<size_t>(area[k].rows) * area[k].cols, 0);
    pics[k][1].assign(static_cast<size_t>(area[k].rows / 2) * area[k].cols, 0);
    for (int rr = 0; rr < area[k].rows; ++rr)
      for (int cc = 0; cc < area[k].cols; ++cc) {
        const size_t i = L.I(area[k].r0 + rr, area[k].c0 + cc);
        float x = L.x1[i], y = L.y1[i];
        if (1 + (x > kCw) + 2 * (y > kCh) != k + 1) {
          x = L.x2[i];
          y = L.y2[i];
        }
        if (x > kCw) x -= kCw;
        if (y > kCh) y -= kCh;
        const int sx = static_cast<int>(x + 0.5f), sy = static_cast<int>(y + 0.5f);
        pics[k][0][static_cast<size_t>(rr) * area[k].cols + cc] = cams.img[k][static_cast<size_t>(sy) * kCw + sx];
        if ((rr & 1) == 0 && (cc & 1) == 0)
          memcpy(&pics[k][1][static_cast<size_t>(rr / 2) * area[k].cols + cc],
                 &cams.img[k][kCw * kCh + 2 * ((sy >> 1) * (kCw / 2) + (sx >> 1))], 2);
      }
    ptr[k][0] = pics[k][0].data();
    ptr[k][1] = pics[k][1].data();
    pitch[k][0] = area[k].cols;
    pitch[k][1] = area[k].cols;
  }
  MergerCPUOB runs;
  LoadFromPlanes(&runs, L);
  const std::vector<float> g = IdentityGains();
  Output a, b;
  ASSERT_EQ(LUTCPU_ExecWarped(&wp, ptr, pitch, &a.planes, a.pitches, g.data(), 0), 1);
  LUTCPU_Exec(&runs, cams.ptr, &b.planes, b.pitches, g.data(), 0);
  EXPECT_EQ(a.luma, b.luma);
  EXPECT_EQ(a.chroma, b.chroma);
  LUTCPU_ReleaseWarped(&wp);
  EXPECT_EQ(LUTCPU_ExecWarped(&wp, ptr, pitch, &a.planes, a.pitches, g.data(), 0), 0);

  // A front run below the front band would read past its area picture.
  MABFileData d;
  ASSERT_EQ(MABFile_Read(Path("a.mab").c_str(), &d), 1);
  FILE* f = fopen(Path("a.mab").c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  const uint32_t row = kH - 1;
  fseek(f, 44, SEEK_SET);  // first record: camera 1's first run
  fwrite(&row, 4, 1, f);
  fclose(f);
  MergerCPUOBWarped bad;
  EXPECT_EQ(LUTCPU_InitFromMAB(&bad, Path("lut_config.krv").c_str(), Path("a.mab").c_str(), 0, &w, &h), 0);
}

}  // namespace

namespace {

// A car box edge outside the output made the band sizes overflow
// (H - carBottom with carBottom near -2^31): such a box is refused.
TEST(CpuMergerRanges, CarBoxOutsideTheOutputIsRefused) {
  Layout L;
  std::vector<uint8_t> planes[4];
  PackPlanes(L, planes);
  const uint8_t* p[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
  const int32_t boxes[][4] = {{kLeft, kTop, kW - kRight, INT32_MIN},
                              {-1, kTop, kW - kRight, kH - kBottom},
                              {kLeft, kTop, kW + 1, kH - kBottom},
                              {kLeft, INT32_MAX, kW - kRight, kH - kBottom}};
  for (const auto& box : boxes) {
    MergerCPUOB o;
    EXPECT_EQ(LUTCPU_InitFromBytePlanes(&o, p, Geometry(box), kCw, kCh, 0, 0), 0);
    EXPECT_EQ(o.loaded, 0);
  }
  const int32_t edges[4] = {0, 0, kW, kH};  // the whole output is a valid box
  MergerCPUOB o;
  EXPECT_EQ(LUTCPU_InitFromBytePlanes(&o, p, Geometry(edges), kCw, kCh, 0, 0), 1);
  EXPECT_EQ(o.bandSizes[1], 0);
}

}  // namespace

// Band sizes of the configuration place the back and right grids: beyond
// the output (or near 2^31, where H - band overflowed) the load is refused.
// Both loaders of MAB files: a band beyond the output is refused (the
// pre-warped form would otherwise place an area picture's origin outside
// the output and read before or past the picture).
TEST_F(CpuMergerFileTest, BandSizesBeyondTheOutputAreRefused) {
  Layout L;
  Matrix m[6];
  ASSERT_EQ(GenerateMABFileFromMaps(MapsOf(L, m), Path("a.mab").c_str()), 0);
  WriteGrids(L, false);
  struct Case {
    int slot;
    int32_t band;
  };
  // Case slot -1: the bands as they are, which load.
  for (const Case& k : {Case{-1, 0}, Case{1, kH + 1}, Case{1, 0x7FFFFFFF}, Case{0, kH + 1}, Case{2, kW + 1}, Case{3, -1}}) {
    LutConfigFileData d{};
    d.quadWidth = kQw;
    d.quadHeight = kQh;
    d.bandSizes[0] = kTop;
    d.bandSizes[1] = kBottom;
    d.bandSizes[2] = kLeft;
    d.bandSizes[3] = kRight;
    if (k.slot >= 0) d.bandSizes[k.slot] = static_cast<uint32_t>(k.band);
    d.cornerCount[1] = 4;
    d.model = 2;
    ASSERT_TRUE(LutConfigFile_Write(Path("lut_config.krv").c_str(), d, gv().pointsPerCamera, gv().maxPoints));
    if (k.slot == 1 || k.slot == 3) {
      MergerCPUOB o;
      EXPECT_EQ(InitYW(&o, "a.mab", nullptr, nullptr), 0) << k.slot << " " << k.band;
      EXPECT_EQ(o.loaded, 0);
    }
    MergerCPUOBWarped w;
    int32_t W = 0, H = 0;
    const int want = k.slot < 0 ? 1 : 0;
    EXPECT_EQ(LUTCPU_InitFromMAB(&w, Path("lut_config.krv").c_str(), Path("a.mab").c_str(), 1, &W, &H), want)
        << k.slot << " " << k.band;
    EXPECT_EQ(w.loaded, want);
    LUTCPU_ReleaseWarped(&w);
  }
}

// Seam runs of every start phase and length (the eight-lane body and the
// pixel-by-pixel rest) against the blend formula written out per pixel in
// unsigned 32-bit arithmetic, including gains whose products wrap.
TEST(CpuMergerTest, SeamRunsFollowTheBlendFormula) {
  struct Run {
    int32_t a, b;
  };
  const Run runs[] = {{0, 96}, {1, 95}, {2, 10}, {3, 11}, {5, 6},  {7, 24}, {8, 16}, {9, 26},
                      {0, 7},  {4, 13}, {6, 38}, {11, 96}, {13, 77}, {15, 31}, {31, 32}, {40, 57}};
  constexpr int32_t kRows = 16, kWidth = 96, kCamW = 32, kCamH = 8;
  MergerCPUOB o = MergerByHand(kWidth, kRows, kCamW, kCamH);
  const size_t n = static_cast<size_t>(kWidth) * kRows;
  cv::RNG rng(5);
  for (size_t i = 0; i < n; ++i) {
    o.endLumaIndex[i] = rng.uniform(0, kCamW * kCamH);
    o.sideLumaIndex[i] = rng.uniform(0, kCamW * kCamH);
    o.blendMap[i] = static_cast<uint16_t>(rng.uniform(0, 256) | (rng.uniform(0, 32) << 8));
  }
  for (int32_t r = 0; r < kRows; ++r) o.blendRuns[r % 4].push_back(CPUStitchRun{r, runs[r].a, runs[r].b - runs[r].a});
  std::vector<uint8_t> img[4];
  const uint8_t* imgs[4];
  for (int k = 0; k < 4; ++k) {
    img[k].resize(kCamW * kCamH * 3 / 2);
    for (auto& v : img[k]) v = static_cast<uint8_t>(rng.uniform(0, 256));
    imgs[k] = img[k].data();
  }
  // Gains per triple (8 triples): identity, uneven, and 250 / 180 (ramp
  // values near 2^24, so that source * ramp * weight passes 2^32).
  const float gainSets[][8] = {{1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
                               {0.9f, 1.6f, 1.3f, 0.7f, 1.1f, 1.05f, 0.4f, 0.45f},
                               {250.0f, 0.02f, 180.0f, 250.0f, 3.7f, 250.0f, 0.3f, 180.0f}};
  for (const auto& gs : gainSets) {
    std::vector<float> g(24);
    for (int t = 0; t < 8; ++t)
      for (int i = 0; i < 3; ++i) g[3 * t + i] = gs[t];
    std::vector<uint8_t> luma(n, 0xEE), chroma(n / 2, 0);
    CPUMergerOutput out{luma.data(), chroma.data()};
    const int32_t pitches[2] = {kWidth, kWidth};
    ASSERT_EQ(LUTCPU_Exec(&o, imgs, &out, pitches, g.data(), 0), 1);
    for (int32_t r = 0; r < kRows; ++r) {
      const int32_t p = r % 4, e = p < 2 ? 0 : 1, s = (p & 1) == 0 ? 2 : 3;
      int32_t Re[256], Rs[256];
      LUTCPU_BuildRamp(g.data(), e + 1, Re);
      LUTCPU_BuildRamp(g.data(), s + 1, Rs);
      const size_t base = static_cast<size_t>(r) * kWidth;
      for (int32_t c = 0; c < kWidth; ++c) {
        if (c < runs[r].a || c >= runs[r].b) {
          EXPECT_EQ(luma[base + c], 0xEE) << r << " " << c;
          continue;
        }
        const uint32_t lo = o.blendMap[base + c] & 255u, a = o.blendMap[base + c] >> 8;
        const uint32_t ye = img[e][o.endLumaIndex[base + c]], ys = img[s][o.sideLumaIndex[base + c]];
        const uint32_t v = (ye * static_cast<uint32_t>(Re[lo]) * a + ys * static_cast<uint32_t>(Rs[lo]) * (32u - a)) >> 21;
        ASSERT_EQ(luma[base + c], std::min<uint32_t>(v, 255)) << "row " << r << " column " << c << " gain " << gs[0];
      }
    }
  }
}

// The stitched bytes of a fixed scene, pinned: every build (x86-64-v3,
// x86-64-v2 with its 128-bit registers, the sanitizer build, aarch64) must
// give exactly these. The scene is made in integers only, so no build's
// floating-point contraction changes the input.
TEST(CpuMergerTest, StitchedBytesArePinned) {
  constexpr int32_t W = 200, H = 120, cw = 96, ch = 64;
  MergerCPUOB o = MergerByHand(W, H, cw, ch);
  uint32_t state = 12345u;
  auto next = [&](uint32_t range) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % range;
  };
  const size_t n = static_cast<size_t>(W) * H;
  for (size_t i = 0; i < n; ++i) {
    const int32_t x = 1 + static_cast<int32_t>(next(cw - 2)), y = 1 + static_cast<int32_t>(next(ch - 2));
    const int32_t xs = 1 + static_cast<int32_t>(next(cw - 2)), ys = 1 + static_cast<int32_t>(next(ch - 2));
    o.endLumaIndex[i] = y * cw + x;
    o.endChromaIndex[i] = (y >> 1) * (cw / 2) + (x >> 1);
    o.sideLumaIndex[i] = ys * cw + xs;
    o.sideChromaIndex[i] = (ys >> 1) * (cw / 2) + (xs >> 1);
    o.blendMap[i] = static_cast<uint16_t>(next(256) | (next(32) << 8));
  }
  // Each row: runs of random lengths (1..40) taking turns between a camera
  // and a seam pair, with gaps.
  for (int32_t r = 0; r < H; ++r)
    for (int32_t c = static_cast<int32_t>(next(3)); c < W;) {
      const int32_t len = std::min(1 + static_cast<int32_t>(next(40)), W - c);
      const int32_t which = static_cast<int32_t>(next(8));
      (which < 4 ? o.singleRuns[which] : o.blendRuns[which - 4]).push_back(CPUStitchRun{r, c, len});
      c += len + static_cast<int32_t>(next(3));
    }
  std::vector<uint8_t> img[4];
  const uint8_t* imgs[4];
  for (int k = 0; k < 4; ++k) {
    img[k].resize(static_cast<size_t>(cw) * ch * 3 / 2);
    for (auto& v : img[k]) v = static_cast<uint8_t>(next(256));
    imgs[k] = img[k].data();
  }
  const float gainSets[][8] = {{1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f},
                               {0.9f, 1.6f, 1.3f, 0.7f, 1.1f, 1.05f, 0.4f, 0.45f},
                               {250.0f, 0.02f, 180.0f, 250.0f, 3.7f, 250.0f, 0.3f, 180.0f}};
  uint64_t hash = 1469598103934665603ull;  // FNV-1a over every output byte
  auto add = [&](const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  };
  for (int region = 0; region <= 5; ++region)
    for (const auto& gs : gainSets) {
      std::vector<float> g(24);
      for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 3; ++i) g[3 * t + i] = gs[t];
      std::vector<uint8_t> luma(n, 0), chroma(n / 2, 0);
      CPUMergerOutput out{luma.data(), chroma.data()};
      const int32_t pitches[2] = {W, W};
      ASSERT_EQ(LUTCPU_Exec(&o, imgs, &out, pitches, g.data(), region), 1);
      add(luma);
      add(chroma);
    }
  EXPECT_EQ(hash, 6788858994415310475ull);
}
