#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "pipeline/ldws.h"

namespace {

// Paint value of a pair of cells from their luma and chroma.
inline void PairValues(const int32_t y[2], const int32_t c1[2], const int32_t c2[2], float* out, int n) {
  const float d = n == 2 ? 0.014f * std::abs(c1[0] - c1[1]) + 0.00675f * std::abs(c2[0] - c2[1]) : 0.0f;
  for (int k = 0; k < n; ++k) out[k] = std::min(1.0f, d + 0.003474f * y[k] - 0.000792f * (c1[k] - 128));
}

// fetch(cell index, &Y, &c1, &c2)
template <typename Fetch>
void Fill(const LDWSState* s, float* block, Fetch fetch) {
  if (s == nullptr || block == nullptr || s->inited == 0) return;
  for (int32_t r = 0; r < s->rows; ++r) {
    const size_t base = static_cast<size_t>(r) * s->columns;
    for (int32_t x = 0; x < s->columns; x += 2) {
      const int n = x + 1 < s->columns ? 2 : 1;
      int32_t y[2] = {0, 0}, c1[2] = {128, 128}, c2[2] = {128, 128};
      for (int k = 0; k < n; ++k) fetch(base + x + k, &y[k], &c1[k], &c2[k]);
      PairValues(y, c1, c2, block + base + x, n);
    }
  }
}

}  // namespace

void LDWS_InputLuma(const LDWSState* s, const uint8_t* f, float* block) {
  if (f == nullptr) return;
  Fill(s, block, [s, f](size_t i, int32_t* y, int32_t* c1, int32_t* c2) {
    if (s->lumaOffset[i] < 0) return;
    *y = f[s->lumaOffset[i]];
    *c1 = f[s->chromaOffset[i]];
    *c2 = f[s->chromaOffset[i] + 1];
  });
}

void LDWS_InputLumaB(const LDWSState* s, const uint8_t* f, float* block) {
  if (f == nullptr) return;
  Fill(s, block, [s, f](size_t i, int32_t* y, int32_t* c1, int32_t* c2) {
    if (s->lumaOffset[i] < 0) return;
    *y = f[s->lumaOffset[i]];
    *c1 = f[s->chromaOffset[i] + 1];
    *c2 = f[s->chromaOffset[i]];
  });
}

// Packed 2-byte pixels: a pixel pair shares U and V.
void LDWS_InputUYVY(const LDWSState* s, const uint8_t* f, float* block) {
  if (f == nullptr) return;
  Fill(s, block, [s, f](size_t i, int32_t* y, int32_t* c1, int32_t* c2) {
    const int32_t o = s->lumaOffset[i];
    if (o < 0) return;
    const size_t pair = static_cast<size_t>(o / 2) * 4;
    *y = f[2 * static_cast<size_t>(o) + 1];
    *c1 = f[pair];
    *c2 = f[pair + 2];
  });
}

void LDWS_InputYUYV(const LDWSState* s, const uint8_t* f, float* block) {
  if (f == nullptr) return;
  Fill(s, block, [s, f](size_t i, int32_t* y, int32_t* c1, int32_t* c2) {
    const int32_t o = s->lumaOffset[i];
    if (o < 0) return;
    const size_t pair = static_cast<size_t>(o / 2) * 4;
    *y = f[2 * static_cast<size_t>(o)];
    *c1 = f[pair + 1];
    *c2 = f[pair + 3];
  });
}

void LDWS_InputPlanes(const LDWSState* s, const uint8_t* const* planes, float* block) {
  if (planes == nullptr) return;
  const int32_t fw = s->frameWidth, hw = fw / 2, hh = s->frameHeight / 2;
  if (hw < 1 || hh < 1) return;
  Fill(s, block, [=](size_t i, int32_t* y, int32_t*, int32_t*) {
    const int32_t o = s->lumaOffset[i];
    if (o < 0) return;
    const int32_t x = o % fw, r = o / fw;
    const uint8_t* p = planes[(x >= hw ? 1 : 0) + (r >= hh ? 2 : 0)];
    if (p != nullptr) *y = p[static_cast<size_t>(r % hh) * hw + x % hw];
  });
}

void LDWS_ExtractLinePoints(const LDWSState* s, const float* block, float* thin, float* work) {
  const int32_t W = s->columns, H = s->rows;
  if (W < 1 || H < 1 || block == nullptr || thin == nullptr || work == nullptr) return;
  const int32_t PW = W + 24;
  float* padded = work;                                      // PW a row
  float* response = work + static_cast<size_t>(PW) * H;      // W x H
  float* smooth = response + static_cast<size_t>(W) * H;     // W x H
  for (int32_t r = 0; r < H; ++r) {
    const float* src = block + static_cast<size_t>(r) * W;
    float* p = padded + static_cast<size_t>(r) * PW;
    for (int32_t x = 0; x < PW; ++x) p[x] = src[std::min(std::max(x - 12, 0), W - 1)];
    // Running sums along the padded row.
    float* out = response + static_cast<size_t>(r) * W;
    for (int32_t x = 0; x < W; ++x) {
      const int32_t c = x + 12;
      float centre = 0, left = 0, right = 0;
      for (int32_t k = -1; k <= 1; ++k) centre += p[c + k];
      for (int32_t k = 2; k <= 12; ++k) {
        left += p[c - k];
        right += p[c + k];
      }
      centre /= 3.0f;
      left /= 11.0f;
      right /= 11.0f;
      const float v = std::min(centre - left, centre - right);
      out[x] = v > 0 ? v : 0;
    }
  }
  // Vertical smoothing: mean over 16 rows (8 above, 7 below), clipped.
  for (int32_t x = 0; x < W; ++x) {
    for (int32_t r = 0; r < H; ++r) {
      float sum = 0;
      int32_t n = 0;
      for (int32_t k = std::max(0, r - 8); k <= std::min(H - 1, r + 7); ++k, ++n) sum += response[k * W + x];
      smooth[r * W + x] = sum / n;
    }
  }
  // Threshold and one point in the middle of each run (runs end at three
  // zero cells or the row end).
  for (int32_t r = 0; r < H; ++r) {
    float* t = thin + static_cast<size_t>(r) * W;
    const float* a = response + static_cast<size_t>(r) * W;
    const float* b = smooth + static_cast<size_t>(r) * W;
    auto on = [&](int32_t x) { return a[x] > 0.022f && b[x] > 0.015f; };
    std::fill(t, t + W, 0.0f);
    int32_t start = -1, last = -1;
    for (int32_t x = 0; x <= W; ++x) {
      if (x < W && on(x)) {
        if (start < 0) start = x;
        last = x;
        continue;
      }
      if (start >= 0 && (x == W || x - last >= 3)) {
        t[(start + last) / 2] = 1.0f;
        start = -1;
      }
    }
  }
}

void LDWS_FindSegments(Hough* hough, const float* thin, int32_t columns, int32_t rows, HoughSegment* segs,
                       int32_t* count) {
  *count = 0;
  if (hough == nullptr || hough->accumulator == nullptr || thin == nullptr) return;
  Matrix m{columns, rows, const_cast<float*>(thin)};
  Hough_CollectPointsF(hough, &m);
  int32_t n = 8;
  Hough_DetectSegments(hough, segs, &n, 13, 36, 1.4660766f);
  int32_t k = 8;
  Hough_DetectSegmentsRandom(hough, segs + n, &k);
  *count = n + k;
  for (int32_t i = 0; i < *count; ++i) segs[i].reserved = 0;
}
