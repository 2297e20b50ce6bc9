#include "toolkit/color_contrast.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

#include "toolkit/sampling.h"

namespace {

constexpr int32_t kLevels = 12;
constexpr int32_t kBins = kLevels * kLevels * kLevels;

inline int32_t Level(uint8_t v) { return static_cast<int32_t>(v / 255.0f * 11.9999f); }

float SrgbToLinear(float v) { return v <= 0.04045f ? v / 12.92f : std::pow((v + 0.055f) / 1.055f, 2.4f); }

float LabF(float t) { return t > 0.008856f ? std::cbrt(t) : 7.787f * t + 16.0f / 116.0f; }

}  // namespace

void ColorSegment_LinearBgrToLab(const float bgr[3], float lab[3]) {
  const float r = bgr[2], g = bgr[1], b = bgr[0];
  // D65 white point divided out of the sRGB to XYZ rows.
  const float x = (0.412453f * r + 0.357580f * g + 0.180423f * b) / 0.950456f;
  const float y = 0.212671f * r + 0.715160f * g + 0.072169f * b;
  const float z = (0.019334f * r + 0.119193f * g + 0.950227f * b) / 1.088754f;
  const float fx = LabF(x), fy = LabF(y), fz = LabF(z);
  lab[0] = y > 0.008856f ? 116.0f * fy - 16.0f : 903.3f * y;
  lab[1] = 500.0f * (fx - fy);
  lab[2] = 200.0f * (fy - fz);
}

void ColorSegment_BgrToLab(const float bgr[3], float lab[3]) {
  const float linear[3] = {SrgbToLinear(bgr[0]), SrgbToLinear(bgr[1]), SrgbToLinear(bgr[2])};
  ColorSegment_LinearBgrToLab(linear, lab);
}

int32_t ColorSegment_Quantize(const ColorImage8* image, std::vector<QuantColor>* colours,
                              std::vector<int32_t>* indexMap, float keptFraction) {
  colours->clear();
  indexMap->clear();
  if (!image || !image->data || image->width < 1 || image->height < 1) return 0;
  const size_t n = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
  std::vector<int32_t> bin(n);
  std::vector<int32_t> histogram(kBins, 0);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = image->data + 3 * i;
    bin[i] = Level(p[0]) * kLevels * kLevels + Level(p[1]) * kLevels + Level(p[2]);
    histogram[bin[i]] += 1;
  }
  std::vector<int32_t> used;
  for (int32_t b = 0; b < kBins; ++b)
    if (histogram[b] > 0) used.push_back(b);
  std::sort(used.begin(), used.end(), [&](int32_t a, int32_t b) {
    return histogram[a] != histogram[b] ? histogram[a] > histogram[b] : a < b;
  });
  const double cover = static_cast<double>(keptFraction) * static_cast<double>(n);
  size_t kept = 0;
  double covered = 0.0;
  while (kept < used.size() && (kept == 0 || covered < cover)) covered += histogram[used[kept++]];

  // Every used bin to a kept colour: itself, or the nearest kept one in the
  // quantised space.
  std::vector<int32_t> palette(kBins, -1);
  for (size_t k = 0; k < kept; ++k) palette[used[k]] = static_cast<int32_t>(k);
  for (size_t u = kept; u < used.size(); ++u) {
    const int32_t b = used[u];
    const int32_t b0 = b / (kLevels * kLevels), b1 = b / kLevels % kLevels, b2 = b % kLevels;
    int32_t best = 0, bestD = 1 << 30;
    for (size_t k = 0; k < kept; ++k) {
      const int32_t c = used[k];
      const int32_t d0 = c / (kLevels * kLevels) - b0, d1 = c / kLevels % kLevels - b1, d2 = c % kLevels - b2;
      const int32_t d = d0 * d0 + d1 * d1 + d2 * d2;
      if (d < bestD) {
        bestD = d;
        best = static_cast<int32_t>(k);
      }
    }
    palette[b] = best;
  }
  colours->assign(kept, QuantColor{{0, 0, 0}, {0, 0, 0}, 0});
  std::vector<double> sums(3 * kept, 0.0);
  indexMap->resize(n);
  for (size_t i = 0; i < n; ++i) {
    const int32_t k = palette[bin[i]];
    (*indexMap)[i] = k;
    (*colours)[k].count += 1;
    for (int c = 0; c < 3; ++c) sums[3 * k + c] += image->data[3 * i + c];
  }
  for (size_t k = 0; k < kept; ++k)
    for (int c = 0; c < 3; ++c)
      (*colours)[k].bgr[c] = static_cast<float>(sums[3 * k + c] / (*colours)[k].count / 255.0);
  return static_cast<int32_t>(kept);
}

void ColorSegment_ContrastMap(const std::vector<QuantColor>& colours, const std::vector<int32_t>& indexMap,
                              float* out) {
  const int32_t k = static_cast<int32_t>(colours.size());
  if (k < 1 || !out) return;
  std::vector<float> counts(k), freq(k);
  for (int32_t i = 0; i < k; ++i) counts[i] = static_cast<float>(colours[i].count);
  freq = counts;
  Vec_Normalize(counts.data(), freq.data(), k, 1, 1.0f, 0.0f);

  // Each colour's list starts with itself at distance 0, then the others by
  // distance: the smoothing then keeps the colour's own contrast with the
  // largest weight. Without it a rare colour would take only its
  // neighbours' contrast and the frequent colours would come out highest.
  std::vector<float> S(k, 0.0f);
  std::vector<std::vector<std::pair<float, int32_t>>> nearest(k);
  for (int32_t i = 0; i < k; ++i) {
    nearest[i].reserve(k);
    nearest[i].emplace_back(0.0f, i);
    for (int32_t j = 0; j < k; ++j) {
      if (j == i) continue;
      const float d0 = colours[i].lab[0] - colours[j].lab[0], d1 = colours[i].lab[1] - colours[j].lab[1],
                  d2 = colours[i].lab[2] - colours[j].lab[2];
      const float d = std::sqrt(d0 * d0 + d1 * d1 + d2 * d2);
      S[i] += freq[j] * d;
      nearest[i].emplace_back(d, j);
    }
    std::sort(nearest[i].begin() + 1, nearest[i].end());
  }
  std::vector<float> smoothed = S;
  if (k >= 2) {
    const int32_t m = std::min(std::max(static_cast<int32_t>(0.25f * k + 0.5f), 2), k);
    for (int32_t i = 0; i < k; ++i) {
      float T = 0.0f;
      for (int32_t e = 0; e < m; ++e) T += nearest[i][e].first;
      if (!(T > 0.0f)) continue;
      float v = 0.0f;
      for (int32_t e = 0; e < m; ++e) v += (T - nearest[i][e].first) * S[nearest[i][e].second];
      smoothed[i] = v / (T * static_cast<float>(m));
    }
  }
  std::vector<float> level(k, 0.0f);
  Vec_Normalize(smoothed.data(), level.data(), k, 3, 0.0f, 1.0f);
  const size_t n = indexMap.size();
  for (size_t i = 0; i < n; ++i) out[i] = level[indexMap[i]];
  Vec_Normalize(out, out, static_cast<int32_t>(n), 3, 0.0f, 1.0f);
}

void ColorSegment_Run(const ColorImage8* image, Matrix* out) {
  if (!image || !out || !out->data || out->cols != image->width || out->rows != image->height) return;
  std::vector<QuantColor> colours;
  std::vector<int32_t> indexMap;
  if (ColorSegment_Quantize(image, &colours, &indexMap, 0.95f) < 1) return;
  for (QuantColor& c : colours) ColorSegment_BgrToLab(c.bgr, c.lab);
  ColorSegment_ContrastMap(colours, indexMap, out->data);
}
