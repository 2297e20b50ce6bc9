#include <cmath>
#include <cstdlib>
#include <vector>

#include "pipeline/mod_core.h"

namespace {

bool Usable(const ImageU8* img) {
  return img != nullptr && img->data != nullptr && img->width > 0 && img->height > 0;
}

}  // namespace

void MOD_RoadModelUpdate(MODBlockTracker* tracker, const ImageU8* current, const ImageU8* previous) {
  if (tracker == nullptr || !Usable(current) || !Usable(previous)) return;
  const int32_t w = tracker->width, h = tracker->height;
  if (w < 1 || h < 1 || current->width != w || current->height != h || previous->width != w ||
      previous->height != h)
    return;
  // Sums of this update only: accumulated over the frames they would
  // overflow within the hour and the reference would stop following the road.
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* c = current->data + static_cast<size_t>(y) * w;
    const uint8_t* p = previous->data + static_cast<size_t>(y) * w;
    uint8_t* bg = tracker->background.data + static_cast<size_t>(y) * w;
    uint8_t* fg = tracker->foreground.data + static_cast<size_t>(y) * w;
    const int32_t ref = tracker->rowRef[y] & 0xFF;
    int32_t sum = 0, count = 0;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v = c[x];
      const bool still = std::abs(v - p[x]) < 18;
      const bool background = ref != 0 ? (still && std::abs(v - ref) < 31) : still;
      if (background) {
        fg[x] = 0;
        bg[x] = static_cast<uint8_t>(ref != 0 ? ref : v);
        sum += v;
        ++count;
      } else {
        fg[x] = bg[x] = static_cast<uint8_t>(v);
      }
    }
    tracker->rowSum[y] = sum;
    tracker->rowCount[y] = count;
  }
  // Mean background over rows y-25 .. y+25, edge rows repeated, in one
  // sliding window.
  auto at = [h](int32_t r) { return r < 0 ? 0 : (r >= h ? h - 1 : r); };
  int64_t s = 0, n = 0;
  for (int32_t r = -25; r <= 25; ++r) {
    s += tracker->rowSum[at(r)];
    n += tracker->rowCount[at(r)];
  }
  for (int32_t y = 0; y < h; ++y) {
    tracker->rowRef[y] = n > 0 ? static_cast<int32_t>(s / n) : 0;
    s += tracker->rowSum[at(y + 26)] - tracker->rowSum[at(y - 25)];
    n += tracker->rowCount[at(y + 26)] - tracker->rowCount[at(y - 25)];
  }
}

void MOD_ContrastMap(const ImageU8* image, ImageU8* out) {
  if (!Usable(image) || !Usable(out) || out->width != image->width || out->height != image->height) return;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  int64_t hist[256] = {0};
  for (size_t i = 0; i < n; ++i) ++hist[image->data[i]];
  // Cost of every grey level, 0..255, whether present or not: the range runs
  // up to the cost of the far end of the scale, so a picture of few grey
  // levels is not stretched to full contrast (its small changes would pass
  // for motion).
  float cost[256];
  float lo = 0.0f, hi = 0.0f;
  for (int v = 0; v < 256; ++v) {
    float c = 0.0f;
    for (int u = 0; u < 256; ++u) c += static_cast<float>(v > u ? v - u : u - v) * static_cast<float>(hist[u]);
    cost[v] = c;
    if (v == 0 || c < lo) lo = c;
    if (v == 0 || c > hi) hi = c;
  }
  uint8_t lut[256] = {0};
  if (hi > lo)
    for (int v = 0; v < 256; ++v) lut[v] = static_cast<uint8_t>((cost[v] - lo) * 255.0f / (hi - lo));
  for (size_t i = 0; i < n; ++i) out->data[i] = lut[image->data[i]];
}

void MOD_BoxMean5(const ImageU8* image, ImageU8* out) {
  if (!Usable(image) || !Usable(out) || out->width != image->width || out->height != image->height) return;
  const int32_t w = image->width, h = image->height;
  // A padded copy keeps an in-place call correct.
  const int32_t pw = w + 4, ph = h + 4;
  std::vector<uint8_t> pad(static_cast<size_t>(pw) * ph);
  for (int32_t y = 0; y < ph; ++y) {
    const int32_t sy = y - 2 < 0 ? 0 : (y - 2 >= h ? h - 1 : y - 2);
    for (int32_t x = 0; x < pw; ++x) {
      const int32_t sx = x - 2 < 0 ? 0 : (x - 2 >= w ? w - 1 : x - 2);
      pad[static_cast<size_t>(y) * pw + x] = image->data[static_cast<size_t>(sy) * w + sx];
    }
  }
  // Running column sums of five padded rows.
  std::vector<int32_t> col(static_cast<size_t>(pw), 0);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < pw; ++x) col[x] += pad[static_cast<size_t>(y) * pw + x];
  for (int32_t y = 0; y < h; ++y) {
    int32_t s = col[0] + col[1] + col[2] + col[3] + col[4];
    uint8_t* o = out->data + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      o[x] = static_cast<uint8_t>(s / 25.0);
      if (x + 5 < pw) s += col[x + 5] - col[x];
    }
    if (y + 1 < h)
      for (int32_t x = 0; x < pw; ++x)
        col[x] += pad[static_cast<size_t>(y + 5) * pw + x] - pad[static_cast<size_t>(y) * pw + x];
  }
}

double MOD_Entropy2D(const ImageU8* image) {
  if (!Usable(image)) return 0.0;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  std::vector<uint8_t> mean(n);
  ImageU8 m{image->width, image->height, mean.data()};
  MOD_BoxMean5(image, &m);
  // 8-bit counters and a fixed divisor: the detector's thresholds (6.6 and
  // 0.5) were set on this measure, so it stays as they expect.
  std::vector<uint8_t> hist(128 * 128, 0);
  for (size_t i = 0; i < n; ++i) ++hist[static_cast<size_t>(mean[i] >> 1) * 128 + (image->data[i] >> 1)];
  double e = 0.0;
  for (uint8_t c : hist) {
    const double p = c / 16384.0;
    if (p > 0.00001) e -= p * std::log2(p);
  }
  return e;
}
