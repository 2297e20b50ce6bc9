#include "toolkit/thresholds.h"

#include <cstddef>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "toolkit/border_filters.h"
#include "toolkit/image_ops.h"

namespace {

// Float to unsigned by truncation: negative (and NaN) give 0, values past
// the 32-bit range saturate as the target's conversion does.
inline uint32_t ToU32(float x) {
  if (!(x > 0.0f)) return 0;
  if (x >= 4294967296.0f) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(x);
}

inline uint32_t HistBin(float v) { return ToU32(std::fma(v, 255.0f, 0.5f)) & 255u; }

void Histogram(const Matrix* img, uint32_t hist[256]) {
  std::memset(hist, 0, sizeof(uint32_t) * 256);
  if (img->cols < 1 || img->rows < 1) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  for (ptrdiff_t i = 0; i < n; ++i) ++hist[HistBin(img->data[i])];
}

// The iterative threshold as a bin number (0 when it stops at once).
int IterativeBin(const Matrix* img, float a) {
  uint32_t hist[256];
  Histogram(img, hist);
  int lowest = -1, highest = -1;
  for (int i = 0; i < 256; ++i)
    if (hist[i]) {
      if (lowest < 0) lowest = i;
      highest = i;
    }
  int t = lowest < 0 ? 128 : lowest + (highest - lowest + 1) / 2;
  // The totals run on over the iterations (they are not reset).
  uint64_t countBelow = 0, sumBelow = 0, countAbove = 0, sumAbove = 0;
  int result = 0;
  // The accumulated totals settle quickly; the cap only guards against an
  // endless alternation.
  for (int iter = 0; iter < 1000; ++iter) {
    for (int i = 0; i < 256; ++i) {
      if (i <= t) {
        countBelow += hist[i];
        sumBelow += static_cast<uint64_t>(i) * hist[i];
      } else {
        countAbove += hist[i];
        sumAbove += static_cast<uint64_t>(i) * hist[i];
      }
    }
    if (countBelow == 0 || countAbove == 0) break;
    const float meanBelow = static_cast<float>(sumBelow) / static_cast<float>(countBelow);
    const float meanAbove = static_cast<float>(sumAbove) / static_cast<float>(countAbove);
    const float mix = std::fma(a, meanAbove, (1.0f - a) * meanBelow);
    const int next = static_cast<int>(static_cast<double>(mix) + 0.5);
    result = next;
    if (next == t) break;
    t = next;
  }
  return result;
}

void BinarizeAbove(Matrix* img, double t) {
  if (img->cols < 1 || img->rows < 1) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  for (ptrdiff_t i = 0; i < n; ++i) img->data[i] = img->data[i] > t ? 1.0f : 0.0f;
}

}  // namespace

float Image_IterativeThreshold(const Matrix* img, float a) {
  return static_cast<float>(IterativeBin(img, a) / 255.0);
}

void Image_BinarizeIterative(Matrix* img, float a) {
  const int t = IterativeBin(img, a);
  BinarizeAbove(img, t / 255.0);
}

float Image_PercentileThreshold(const Matrix* img, float p) {
  uint32_t hist[256];
  Histogram(img, hist);
  const int64_t target = static_cast<int64_t>(static_cast<float>(img->cols) * p * static_cast<float>(img->rows));
  int64_t sum = 0;
  for (int i = 0; i < 255; ++i) {
    sum += hist[i];
    if (sum > target) return static_cast<float>(i / 255.0);
  }
  return 1.0f;
}

float Image_EntropyThreshold(const Matrix* img) {
  uint32_t counts[256];
  Histogram(img, counts);
  double hist[256];
  for (int i = 0; i < 256; ++i) hist[i] = counts[i];
  const float total = static_cast<float>(img->cols) * static_cast<float>(img->rows);
  double best = 0.0;
  int bestT = 0;
  for (int t = 0; t < 256; ++t) {
    float p1 = 0.1f;
    for (int i = 0; i <= t; ++i) p1 += static_cast<float>(hist[i]);
    double h1 = 0.0;
    for (int i = 0; i <= t; ++i) h1 += -(hist[i] / p1) * std::log((hist[i] + 1.0) / p1);
    double h2 = 0.0;
    if (t < 255) {
      const float p2 = total - p1;
      for (int i = t + 1; i < 256; ++i) h2 += -(hist[i] / p2) * std::log((hist[i] + 1.0) / p2);
    }
    const double score = h1 + h2;
    if (score > best) {
      best = score;
      bestT = t;
    }
  }
  return static_cast<float>(bestT / 255.0);
}

void Image_Binarize(Matrix* img, float t) {
  if (img->cols < 1 || img->rows < 1) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  for (ptrdiff_t i = 0; i < n; ++i) img->data[i] = img->data[i] > t ? 1.0f : 0.0f;
}

void Image_AdaptiveThreshold(Matrix* img, int32_t k, float offset) {
  if (img->cols < 1 || img->rows < 1) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  float* mean = static_cast<float*>(malloc(sizeof(float) * n));
  Image_AdaptiveThresholdBuffered(img, k, offset, mean);
  free(mean);
}

void Image_AdaptiveThresholdBuffered(Matrix* img, int32_t k, float offset, float* mean) {
  if (img->cols < 1 || img->rows < 1) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  Matrix m{img->cols, img->rows, mean};
  Image_BoxMean(img, &m, k, k);
  const int K = static_cast<int>(static_cast<double>(offset) * 255.0 + 0.5);
  float table[768];
  for (int i = 0; i < 768; ++i) table[i] = (i - 255 > -K) ? 1.0f : 0.0f;
  for (ptrdiff_t i = 0; i < n; ++i) {
    const double idx = (static_cast<double>(img->data[i] - mean[i]) + 1.0) * 256.0 - 0.5;
    // Pixels outside 0..1 would index past the table: clamp.
    int index;
    if (!(idx > 0.0))
      index = 0;
    else if (idx >= 767.0)
      index = 767;
    else
      index = static_cast<int>(idx);
    img->data[i] = table[index];
  }
}

int64_t Image_LocalContrastWorkSize(int width, int height, int k) {
  if (width < 1 || height < 1) return 0;
  const int64_t n = static_cast<int64_t>(width) * height;
  const int64_t scratch = static_cast<int64_t>(width + 2 * k) * (height + 2 * k);
  return ((4 * n + n + 15) & ~int64_t{15}) + 4 * scratch;
}

void Image_LocalContrastThreshold(const Matrix* img, ImageU8* dst, uint8_t* work, int32_t k,
                                  float scale, float low, float fraction) {
  const int32_t w = img->cols, h = img->rows;
  // The marks are written by pixel index: a mask of another size would be
  // overrun.
  if (w < 1 || h < 1 || dst->width != w || dst->height != h) return;
  const ptrdiff_t n = static_cast<ptrdiff_t>(w) * h;
  // Work area: the mean image, the contrast bytes, then (aligned) the box
  // filter's padded copy.
  float* mean = reinterpret_cast<float*>(work);
  uint8_t* contrast = work + 4 * n;
  float* scratch = reinterpret_cast<float*>(work + ((4 * n + n + 15) & ~ptrdiff_t{15}));
  Matrix m{w, h, mean};
  Image_BoxMeanBuffered(img, &m, k, k, scratch);
  uint32_t hist[256] = {0};
  const float gain = 127.0f / scale;
  for (ptrdiff_t i = 0; i < n; ++i) {
    const uint8_t d = static_cast<uint8_t>(ToU32(std::fma(img->data[i] - mean[i], gain, 127.0f)) & 255u);
    contrast[i] = d;
    ++hist[d];
  }
  const int lowBin = static_cast<int>(static_cast<double>(low) * 127.0) + 127;
  const int64_t target = static_cast<int64_t>(static_cast<float>(w) * fraction * static_cast<float>(h));
  int level;
  if (lowBin > 254 || target <= hist[254]) {
    level = 254;
  } else {
    level = lowBin - 1;
    int64_t running = hist[254];
    for (int bin = 253; bin >= lowBin; --bin) {
      running += hist[bin];
      if (running >= target) {
        level = bin;
        break;
      }
    }
  }
  ImageU8_Fill(dst, 0);
  for (ptrdiff_t i = 0; i < n; ++i)
    if (contrast[i] > level) dst->data[i] = 1;
}
