#include "surround/six_bright_balance.h"

#include <algorithm>
#include <cmath>

#include "surround/mix_area_six_ex.h"
#include "toolkit/frame_statistics.h"

namespace {

// Every frame descriptor of the statistics begins with width and height.
void FrameSize(const void* frame, int32_t* w, int32_t* h) {
  const int32_t* words = static_cast<const int32_t*>(frame);
  *w = words[0];
  *h = words[1];
}

float Toward(float value, float target, float step) {
  if (target > value) return std::min(target, value + step);
  return std::max(target, value - step);
}

}  // namespace

void BrightBalance_Track(BrightBalanceState* s, const float a[3], const float b[3], const float c[3],
                         const float d[3]) {
  if (s == nullptr) return;
  const float step = s->immediate != 0 ? kBrightBalanceImmediateStep : kBrightBalanceStep;
  for (int k = 0; k < 3; ++k) {
    s->target[k] = (a[k] - b[k]) / 2.0f;
    s->target[3 + k] = (c[k] - d[k]) / 2.0f;
  }
  for (int k = 0; k < 6; ++k) s->current[k] = Toward(s->current[k], s->target[k], step);
}

namespace {

// Pair statistics (pair p from frames[p]) and the tracking step.
void UpdateFromPairs(BrightBalanceState* s, const int32_t codes[4], const void* const frames[4],
                     const MixAreaSixEx* six) {
  const ImageI32& first = six->tables[0];
  if (first.width < 1 || first.height < 1) return;
  const int32_t colStep = first.width >= 15 ? (first.width + 1) >> 4 : 1;
  const int32_t rowStep = first.height > 6 ? (first.height + 1) >> 3 : 1;
  float stats[4][3] = {};
  for (int p = 0; p < 4; ++p)
    CalcBandColorStatsEx(&six->tables[2 * p], &six->tables[2 * p + 1], codes[p], frames[p], colStep, rowStep,
                         stats[p]);
  BrightBalance_Track(s, stats[0], stats[1], stats[2], stats[3]);
}

}  // namespace

void BrightBalance_Update(BrightBalanceState* s, int32_t code1, const void* frame1, int32_t code2,
                          const void* frame2, const MixAreaSixEx* six) {
  if (s == nullptr || s->enabled == 0 || frame1 == nullptr || frame2 == nullptr || six == nullptr ||
      six->valid == 0)
    return;
  int32_t w, h;
  FrameSize(frame1, &w, &h);
  if (six->quadWidth != w || six->quadHeight != h) return;
  // Pairs 1 and 3 sample the quad frame, 2 and 4 the second frame.
  const int32_t codes[4] = {code1, code2, code1, code2};
  const void* const frames[4] = {frame1, frame2, frame1, frame2};
  UpdateFromPairs(s, codes, frames, six);
}

void BrightBalance_UpdateEx(BrightBalanceState* s, int32_t code, const void* const cameras[4], MixAreaSixEx* six,
                            float steps[2]) {
  if (steps != nullptr) {
    steps[0] = kBrightBalanceStep;
    steps[1] = kBrightBalanceImmediateStep;
  }
  if (s == nullptr || s->enabled == 0 || cameras == nullptr || six == nullptr || six->valid == 0) return;
  int32_t w = 0, h = 0;
  for (int k = 0; k < 4; ++k) {
    if (cameras[k] == nullptr) return;
    int32_t wk, hk;
    FrameSize(cameras[k], &wk, &hk);
    if (k > 0 && (wk != w || hk != h)) return;
    w = wk;
    h = hk;
  }
  MixAreaSixEx_ToCameraCoords(six);
  if (six->quadWidth != 2 * w || six->quadHeight != 2 * h) return;
  const int32_t codes[4] = {code, code, code, code};
  UpdateFromPairs(s, codes, cameras, six);
}

void BrightBalance_Gains(const BrightBalanceState* s, int32_t rgb, float values[12]) {
  if (s == nullptr || values == nullptr) return;
  for (int k = 0; k < 3; ++k) {
    values[k] = powf(2.71828f, -s->current[k]);
    values[3 + k] = powf(2.71828f, s->current[k]);
    values[6 + k] = powf(2.71828f, -s->current[3 + k]);
    values[9 + k] = powf(2.71828f, s->current[3 + k]);
  }
  if (rgb == 0)
    for (int t = 0; t < 4; ++t) {
      float* g = values + 3 * t;
      const float y = 0.2992f * g[0] + 0.5868f * g[1] + 0.114f * g[2];
      g[0] = g[1] = g[2] = y;
    }
}
