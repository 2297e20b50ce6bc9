#include "surround/color_correct.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frame/log.h"
#include "frame/smoothing1d.h"
#include "toolkit/bmp_file.h"
#include "toolkit/frame_statistics.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr float kE = 2.71828f;
constexpr float kHoldSpeed = 15.0f;
constexpr float kStepFast = 0.032f, kStepSlow = 0.026f;
constexpr float kInvalid = -1000.0f;

// Region r (0..3): first and second pair index (table pair k = tables 2k, 2k+1).
constexpr int kFirstPair[4] = {0, 1, 2, 3};
constexpr int kSecondPair[4] = {4, 6, 5, 7};

float Gain(float x) { return powf(kE, x); }
float Luma(const float* t) { return 0.2992f * t[0] + 0.5868f * t[1] + 0.114f * t[2]; }

int ColStep(int32_t cols) { return cols > 5 ? (cols + 1) / 7 : 1; }
int RowStep(int32_t rows) { return rows >= 49 ? (rows + 1) / 50 : 1; }

// Exclusion masks of one region from P and Q (3 x 8 each).
void SegmentMasks(ColorRegionTrack* reg, const float* P, const float* Q, bool excluded[kColorSegments]) {
  float chanDiff[kColorSegments], meanDiff[kColorSegments], spread[kColorSegments];
  int nChan = 0, nMean = 0;
  for (int s = 0; s < kColorSegments; ++s) {
    float cd = 0.0f, pMin = P[s], pMax = P[s], qMin = Q[s], qMax = Q[s], pSum = 0.0f, qSum = 0.0f;
    for (int c = 0; c < 3; ++c) {
      const float p = P[c * 8 + s], q = Q[c * 8 + s];
      cd = std::max(cd, std::fabs(q - p));
      pMin = std::min(pMin, p);
      pMax = std::max(pMax, p);
      qMin = std::min(qMin, q);
      qMax = std::max(qMax, q);
      pSum += p;
      qSum += q;
    }
    chanDiff[s] = cd;
    meanDiff[s] = std::fabs(pSum / 3.0f - qSum / 3.0f);
    spread[s] = std::max(pMax - pMin, qMax - qMin);
    if (cd < 0.68f) ++nChan;
    if (meanDiff[s] < 0.6f) ++nMean;
  }
  bool anyAbove066 = false, anyAbove047 = false;
  for (int s = 0; s < kColorSegments; ++s) {
    bool out = false;
    uint8_t& A = reg->channelExcluded[s];
    if (A != 0) {
      if (chanDiff[s] <= (nChan < 3 ? 1.21f : 0.68f))
        A = 0;
      else
        out = true;
    } else if (nChan < 3 ? chanDiff[s] >= 1.65f : chanDiff[s] > 0.9f) {
      A = 1;
      out = true;
    }
    uint8_t& B = reg->brightnessExcluded[s];
    if (B != 0) {
      if (meanDiff[s] <= (nMean >= 3 ? 0.6f : 1.22f))
        B = 0;
      else
        out = true;
    } else if (nMean >= 3 ? meanDiff[s] > 0.8f : meanDiff[s] >= 1.55f) {
      B = 1;
      out = true;
    }
    excluded[s] = out;
    anyAbove066 = anyAbove066 || spread[s] >= 0.66f;
    anyAbove047 = anyAbove047 || spread[s] > 0.47f;
  }
  if (reg->colourful == 0 && anyAbove066) reg->colourful = 1;
  else if (reg->colourful != 0 && !anyAbove047) reg->colourful = 0;
}

// A value below -999 becomes the linear interpolation between the nearest
// valid values on each side; with one side only half that value; with none 0.
void FillInvalidSegments(float* v) {
  float in[kColorSegments];
  memcpy(in, v, sizeof in);
  for (int s = 0; s < kColorSegments; ++s) {
    if (in[s] >= -999.0f) continue;
    int l = s - 1, r = s + 1;
    while (l >= 0 && in[l] < -999.0f) --l;
    while (r < kColorSegments && in[r] < -999.0f) ++r;
    const bool hasL = l >= 0, hasR = r < kColorSegments;
    if (hasL && hasR)
      v[s] = in[l] + (in[r] - in[l]) * static_cast<float>(s - l) / static_cast<float>(r - l);
    else if (hasL)
      v[s] = in[l] / 2.0f;
    else if (hasR)
      v[s] = in[r] / 2.0f;
    else
      v[s] = 0.0f;
  }
}

void RegionTargets(ColorRegionTrack* reg, const float* P, const float* Q, const bool excluded[kColorSegments]) {
  int bestStart = 0, bestLen = 0;
  for (int s = 0; s < kColorSegments;) {
    if (excluded[s]) {
      ++s;
      continue;
    }
    int e = s;
    while (e < kColorSegments && !excluded[e]) ++e;
    if (e - s > bestLen) {
      bestLen = e - s;
      bestStart = s;
    }
    s = e;
  }
  if (bestLen < 3) {
    for (auto& ch : reg->target)
      for (float& t : ch) t = 0.0f;
    return;
  }
  float work[kColorSegments + 4];
  for (int c = 0; c < 3; ++c) {
    float p[kColorSegments], q[kColorSegments];
    memcpy(p, P + c * 8 + bestStart, sizeof(float) * bestLen);
    memcpy(q, Q + c * 8 + bestStart, sizeof(float) * bestLen);
    Smooth1D(p, bestLen, 2, work);
    Smooth1D(q, bestLen, 2, work);
    float mP = 0.0f, mQ = 0.0f;
    for (int i = 0; i < bestLen; ++i) {
      mP += p[i];
      mQ += q[i];
    }
    mP /= static_cast<float>(bestLen);
    mQ /= static_cast<float>(bestLen);
    float dev[kColorSegments];
    for (float& d : dev) d = kInvalid;
    for (int i = 0; i < bestLen; ++i) dev[bestStart + i] = (q[i] - p[i]) - (mQ - mP) / 2.0f;
    Smooth1D(dev + bestStart, bestLen, 1, work);
    FillInvalidSegments(dev);
    Smooth1D(dev, kColorSegments, 1, work);
    float mean = 0.0f;
    for (int s = 0; s < kColorSegments; ++s) {
      reg->target[c][2 + s] = dev[s];
      mean += dev[s];
    }
    mean /= static_cast<float>(kColorSegments);
    reg->target[c][0] = mean;
    reg->target[c][1] = -mean;
  }
}

float Toward(float current, float target, float step) {
  const float d = target - current;
  return current + std::max(-step, std::min(step, d));
}

void TrackRegion(ColorRegionTrack* reg, float step, bool immediate) {
  for (int c = 0; c < 3; ++c) {
    float* cur = reg->current[c];
    const float* tgt = reg->target[c];
    float dMax = -1e30f, dMin = 1e30f;
    for (int s = 0; s < kColorSegments; ++s) {
      const float d = tgt[2 + s] - cur[2 + s];
      dMax = std::max(dMax, d);
      dMin = std::min(dMin, d);
    }
    if (dMax < -0.06f) {
      const float m = std::max(dMax, -kStepFast);
      for (int s = 0; s < kColorSegments; ++s) cur[2 + s] += m;
      cur[0] += std::max(tgt[0] - cur[0], -kStepFast);
      cur[1] += std::min(tgt[1] - cur[1], kStepFast);
    } else if (dMin > 0.06f) {
      const float m = std::min(dMin, kStepFast);
      for (int s = 0; s < kColorSegments; ++s) cur[2 + s] += m;
      cur[0] += std::min(tgt[0] - cur[0], kStepFast);
      cur[1] += std::max(tgt[1] - cur[1], -kStepFast);
    } else {
      for (int i = 0; i < 2 + kColorSegments; ++i) cur[i] = Toward(cur[i], tgt[i], step);
    }
    if (immediate)
      for (int i = 0; i < 2 + kColorSegments; ++i) cur[i] = tgt[i];
  }
}

// Places of the end gains in entries 0..3: region -> (float offset of its
// first-end triple, of its second-end triple).
constexpr int kFirstEndAt[4] = {3, 0, 6, 9};    // r1: entry 0 second; r2: entry 0 first; r3: entry 1 first; r4: entry 1 second
constexpr int kSecondEndAt[4] = {15, 18, 12, 21};  // r1: entry 2 second; r2: entry 3 first; r3: entry 2 first; r4: entry 3 second
// Segment boundary triples: entries 4..12 (regions 2 first, 1 second) and
// 13..21 (regions 3 first, 4 second): float offset of b0 of each region.
constexpr int kBoundaryAt[4] = {4 * 6 + 3, 4 * 6, 13 * 6, 13 * 6 + 3};

void Gains(ColorCorrectState* st, int r) {
  const ColorRegionTrack& reg = st->regions[r];
  for (int c = 0; c < 3; ++c) {
    st->gainBlock[kFirstEndAt[r] + c] = Gain(reg.current[c][0]);
    st->gainBlock[kSecondEndAt[r] + c] = Gain(reg.current[c][1]);
    for (int s = 0; s < kColorSegments; ++s) st->gainBlock[24 + (r * 8 + s) * 3 + c] = Gain(reg.current[c][2 + s]);
  }
}

// Triples (float offsets) a region owns.
int OwnedTriples(int r, int out[11]) {
  int n = 0;
  out[n++] = kFirstEndAt[r];
  out[n++] = kSecondEndAt[r];
  for (int k = 0; k < 9; ++k) out[n++] = kBoundaryAt[r] + 6 * k;
  return n;
}

void SetOwned(int r, float* values, bool toLuma, float constant) {
  int t[11];
  const int n = OwnedTriples(r, t);
  for (int i = 0; i < n; ++i) {
    const float v = toLuma ? Luma(values + t[i]) : constant;
    values[t[i]] = values[t[i] + 1] = values[t[i] + 2] = v;
  }
}

void Compose(const ColorCorrectState* st, float* values) {
  ColorCorrect_ResetRecord(values);
  memcpy(values, st->gainBlock, sizeof(float) * 24);
  for (int r = 0; r < kColorRegions; ++r)
    for (int c = 0; c < 3; ++c) {
      float g[kColorSegments];
      for (int s = 0; s < kColorSegments; ++s) g[s] = st->gainBlock[24 + (r * 8 + s) * 3 + c];
      float b[9];
      b[0] = 2.0f * g[0] - (g[0] + g[1]) / 2.0f;
      for (int k = 1; k <= 7; ++k) b[k] = (g[k - 1] + g[k]) / 2.0f;
      b[8] = 2.0f * g[7] - (g[6] + g[7]) / 2.0f;
      for (int k = 0; k < 9; ++k) values[kBoundaryAt[r] + 6 * k + c] = b[k];
    }
}

void ApplyRegionMode(int32_t regionMode, float* values) {
  if (regionMode == 1) {
    SetOwned(2, values, false, 1.0f);
    SetOwned(3, values, false, 1.0f);
  } else if (regionMode == 2) {
    SetOwned(0, values, false, 1.0f);
    SetOwned(1, values, false, 1.0f);
  }
}

void LumaScore(ColorCorrectState* st, int32_t code, const void* frame, const ScoreGridInfo* score) {
  uint32_t h[2][256] = {};
  int32_t n[2] = {0, 0};
  for (int k = 0; k < 4; ++k) n[k / 2] += Frame_SumLumaAtMap(&score->tables[2 * k], &score->tables[2 * k + 1], code, frame, h[k / 2], 0);
  double mean[2];
  for (int i = 0; i < 2; ++i) {
    if (n[i] <= 0) return;  // nothing seen: the score stays
    const int64_t limit = static_cast<int64_t>(0.6 * n[i]);
    int64_t count = h[i][0], sum = 0;
    for (int v = 1; v < 256; ++v) {
      count += h[i][v];
      sum += static_cast<int64_t>(v) * h[i][v];
      if (count > limit) break;
    }
    if (count <= 0 || sum <= 0) return;
    mean[i] = static_cast<double>(sum) / static_cast<double>(count);
  }
  const float ratio = std::min(1.0f, static_cast<float>(mean[0] / mean[1] / 1.12));
  st->lumaScore = Toward(st->lumaScore, ratio, 0.02f);
}

}  // namespace

void ColorCorrect_InitState(ColorCorrectState* st, int32_t immediate) {
  memset(st, 0, sizeof *st);
  st->immediate = immediate;
  st->holdSpeed = kHoldSpeed;
  for (float& g : st->gainBlock) g = 1.0f;
}

void ColorCorrect_ResetRecord(float values[kColorCorrectValueCount]) {
  for (int i = 0; i < kColorCorrectValueCount; ++i) values[i] = 1.0f;
}

void ColorCorrect_PairStats(int32_t code, const void* frame, const MixAreaInfo* mix, float stats[8][24]) {
  int32_t codes[8];
  const void* frames[8];
  for (int k = 0; k < 8; ++k) {
    codes[k] = code;
    frames[k] = frame;
  }
  ColorCorrect_PairStatsEach(codes, frames, mix, stats);
}

void ColorCorrect_PairStatsEach(const int32_t codes[8], const void* const frames[8], const MixAreaInfo* mix,
                                float stats[8][24]) {
  const ImageI32& a = mix->tables[0];
  const ImageI32& b = mix->tables[4];
  const int aCol = ColStep(a.width), aRow = RowStep(a.height);
  const int bCol = ColStep(b.width), bRow = RowStep(b.height);
  for (int k = 0; k < 8; ++k) {
    // Pairs 0, 1 (front upper), 4, 6 (front others) have size A.
    const bool sizeA = k == 0 || k == 1 || k == 4 || k == 6;
    CalcBandColorStats(&mix->tables[2 * k], &mix->tables[2 * k + 1], codes[k], frames[k], sizeA ? aCol : bCol,
                       sizeA ? aRow : bRow, stats[k]);
  }
}

void ColorCorrect_RegionStats(ColorCorrectState* st, const float stats[8][24]) {
  bool excluded[kColorRegions][kColorSegments];
  for (int r = 0; r < kColorRegions; ++r)
    SegmentMasks(&st->regions[r], stats[kFirstPair[r]], stats[kSecondPair[r]], excluded[r]);
  const float step = st->speed > st->holdSpeed ? kStepFast : kStepSlow;
  for (int r = 0; r < kColorRegions; ++r) {
    RegionTargets(&st->regions[r], stats[kFirstPair[r]], stats[kSecondPair[r]], excluded[r]);
    TrackRegion(&st->regions[r], step, st->immediate != 0);
    Gains(st, r);
  }
}

void ColorCorrect_UpdateFrame(ColorCorrectState* st, int32_t code, const void* frame, const MixAreaInfo* mix,
                              const ScoreGridInfo* score) {
  const int32_t* size = static_cast<const int32_t*>(frame);
  if (mix == nullptr || mix->valid == 0 || mix->quadWidth != size[0] || mix->quadHeight != size[1]) return;
  float stats[8][24];
  ColorCorrect_PairStats(code, frame, mix, stats);
  ColorCorrect_RegionStats(st, stats);
  // The score grid holds quad coordinates of its own camera size: only a
  // frame of that size may be read through it.
  if (score != nullptr && score->valid != 0 && 2 * score->camW == size[0] && 2 * score->camH == size[1])
    LumaScore(st, code, frame, score);
}

void ColorCorrect_SetHold(ColorCorrectState* st, int32_t mode, float speed) {
  st->mode[0] = mode;
  st->speed = speed;
  if (speed > 0.0f) st->holdSpeed = kHoldSpeed;
}

void ColorCorrect_ApplyValues(const ColorCorrectState* st, float values[kColorCorrectValueCount]) {
  Compose(st, values);
  for (int r = 0; r < kColorRegions; ++r)
    if (st->regions[r].colourful != 0) SetOwned(r, values, true, 0.0f);
  ApplyRegionMode(st->regionMode, values);
}

void ColorCorrect_ComputeLuma(const ColorCorrectState* st, float values[kColorCorrectValueCount]) {
  Compose(st, values);
  for (int r = 0; r < kColorRegions; ++r) SetOwned(r, values, true, 0.0f);
  ApplyRegionMode(st->regionMode, values);
}

void ColorCorrect_Release(ScoreGridInfo* score) {
  ScoreGridInfo_Release(score);
  score->valid = 0;
  score->flag = 1;
}

int ColorCorrect_Vell(int32_t mode, const char* imagePath, const char* mixAreaPath,
                      float out[kColorCorrectValueCount]) {
  ColorCorrect_ResetRecord(out);
  const Rgb24ImagePtr img(imagePath != nullptr ? Bmp_LoadRGB24(imagePath) : nullptr);
  if (img == nullptr) {
    AvmLog("ColorCorrect_Vell: cannot read the picture %s \n", imagePath != nullptr ? imagePath : "(null)");
    return -1;
  }
  MixAreaInfo mix = MixAreaInfo_Empty();
  if (mixAreaPath != nullptr) MixAreaInfo_Load(&mix, mixAreaPath);
  if (mix.valid == 0) {
    AvmLog("ColorCorrect_Vell: cannot read the mix-area file %s \n", mixAreaPath != nullptr ? mixAreaPath : "(null)");
    return -1;
  }
  ColorCorrectState* st = static_cast<ColorCorrectState*>(malloc(sizeof(ColorCorrectState)));
  if (st != nullptr) {
    ColorCorrect_InitState(st, 1);
    if (img->width == mix.quadWidth && img->height == mix.quadHeight) {
      float stats[8][24];
      ColorCorrect_PairStats(kPixelFormatRGB24, img.get(), &mix, stats);
      ColorCorrect_RegionStats(st, stats);
    }
    if ((mode & ~2) == 1)
      ColorCorrect_ApplyValues(st, out);
    else
      ColorCorrect_ComputeLuma(st, out);
    free(st);
  }
  AvmLog("ColorCorrect_Vell %d %d %d %d %d \n", mode, img->width, img->height, mix.quadWidth, mix.quadHeight);
  MixAreaInfo_Release(&mix);
  return st != nullptr ? 0 : -1;
}
