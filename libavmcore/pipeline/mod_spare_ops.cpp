#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pipeline/mod_core.h"

namespace {

bool Usable(const ImageU8* img) {
  return img != nullptr && img->data != nullptr && img->width > 0 && img->height > 0;
}
bool SameSize(const ImageU8* a, const ImageU8* b) { return a->width == b->width && a->height == b->height; }
inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

const ImageU8* MOD_DelayRing(MODBlockTracker* t, const ImageU8* image) {
  if (t == nullptr || !Usable(image) || image->width != t->width || image->height != t->height ||
      t->ring[0].data == nullptr)
    return nullptr;
  const size_t n = static_cast<size_t>(t->width) * t->height;
  memcpy(t->ring[t->ringWrite].data, image->data, n);
  t->ringWrite = (t->ringWrite + 1) % 20;
  if (t->ringWrite != t->ringRead) return nullptr;
  const int32_t old = t->ringRead;
  t->ringRead = (t->ringRead + 1) % 20;
  return &t->ring[old];
}

MODTrack MOD_TrackCreate(MODBlockTracker* tracker, const MODRect* blob, float refX, float refY) {
  MODTrack t{};
  t.count = 1;
  t.updated = 1;
  if (blob != nullptr) {
    t.last = *blob;
    t.dx[0] = blob->cx - refX;
    t.dy[0] = blob->cy - refY;
  }
  t.trackId = tracker != nullptr ? MOD_TakeFreeSlot(tracker) : kModTrackIds - 1;
  return t;
}

void MOD_TrackListReset(MODBlockTracker* tracker, MODTrackList* list) {
  if (list != nullptr) list->clear();
  if (tracker != nullptr)
    for (uint8_t& f : tracker->idFree) f = 1;
}

void MOD_TrackListRelease(MODTrackList* list) {
  if (list != nullptr) list->clear();
}

int32_t MOD_BoxesOverlap(const int32_t a[4], const int32_t b[4]) {
  return a[0] <= b[2] + 3 && b[0] <= a[2] + 3 && a[1] <= b[3] + 3 && b[1] <= a[3] + 3 ? 1 : 0;
}

uint8_t MOD_Select(uint8_t* data, int32_t n, int32_t k) {
  if (data == nullptr || n < 1) return 0;
  k = Clamp(k, 0, n - 1);
  std::nth_element(data, data + k, data + n);
  return data[k];
}

int32_t MOD_IsodataThreshold(const int32_t* hist, int32_t n) {
  if (hist == nullptr || n < 1) return 0;
  int32_t a = 0, b = n - 1;
  while (a < n && hist[a] == 0) ++a;
  while (b > a && hist[b] == 0) --b;
  if (a >= n) return 0;
  int32_t t = (a + b) / 2;
  for (int iter = 0; iter < 256; ++iter) {
    double s0 = 0, c0 = 0, s1 = 0, c1 = 0;
    for (int32_t i = 0; i < n; ++i) {
      if (i < t) {
        s0 += static_cast<double>(i) * hist[i];
        c0 += hist[i];
      } else {
        s1 += static_cast<double>(i) * hist[i];
        c1 += hist[i];
      }
    }
    if (c0 == 0 || c1 == 0) break;
    const int32_t next = static_cast<int32_t>((s0 / c0 + s1 / c1) / 2);
    if (next == t) break;
    t = next;
  }
  return t;
}

void MOD_PadReplicateEx(const ImageU8* src, ImageU8* dst, int32_t padX, int32_t padY) {
  if (!Usable(src) || !Usable(dst) || padX < 0 || padY < 0 || dst->width != src->width + 2 * padX ||
      dst->height != src->height + 2 * padY)
    return;
  for (int32_t y = 0; y < dst->height; ++y) {
    const uint8_t* s = src->data + static_cast<size_t>(Clamp(y - padY, 0, src->height - 1)) * src->width;
    uint8_t* d = dst->data + static_cast<size_t>(y) * dst->width;
    for (int32_t x = 0; x < dst->width; ++x) d[x] = s[Clamp(x - padX, 0, src->width - 1)];
  }
}

void MOD_PadReplicate(const ImageU8* src, ImageU8* dst, int32_t pad) { MOD_PadReplicateEx(src, dst, pad, pad); }

void MOD_BoxMean(const ImageU8* image, ImageU8* out, int32_t a, int32_t b) {
  if (!Usable(image) || !Usable(out) || !SameSize(image, out) || a < 0 || b < 0) return;
  const int32_t w = image->width, h = image->height;
  const int32_t pw = w + 2 * a, ph = h + 2 * b;
  std::vector<uint8_t> pad(static_cast<size_t>(pw) * ph);
  ImageU8 p{pw, ph, pad.data()};
  MOD_PadReplicateEx(image, &p, a, b);
  const double area = static_cast<double>(2 * a + 1) * (2 * b + 1);
  std::vector<int64_t> col(static_cast<size_t>(pw), 0);
  for (int32_t y = 0; y < 2 * b + 1; ++y)
    for (int32_t x = 0; x < pw; ++x) col[x] += pad[static_cast<size_t>(y) * pw + x];
  for (int32_t y = 0; y < h; ++y) {
    int64_t s = 0;
    for (int32_t x = 0; x < 2 * a + 1; ++x) s += col[x];
    uint8_t* o = out->data + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      o[x] = static_cast<uint8_t>(s / area);
      if (x + 2 * a + 1 < pw) s += col[x + 2 * a + 1] - col[x];
    }
    if (y + 1 < h)
      for (int32_t x = 0; x < pw; ++x)
        col[x] += pad[static_cast<size_t>(y + 2 * b + 1) * pw + x] - pad[static_cast<size_t>(y) * pw + x];
  }
}

void MOD_BoxMean3(const ImageU8* image, ImageU8* out) { MOD_BoxMean(image, out, 1, 1); }

// The padded copy taken first keeps the in-place call correct.
void MOD_BoxMeanInPlace(ImageU8* image, int32_t r) { MOD_BoxMean(image, image, r, r); }

void MOD_Median3(ImageU8* image) {
  if (!Usable(image)) return;
  const int32_t w = image->width, h = image->height;
  std::vector<uint8_t> copy(image->data, image->data + static_cast<size_t>(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      uint8_t v[9];
      int k = 0;
      for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx)
          v[k++] = copy[static_cast<size_t>(Clamp(y + dy, 0, h - 1)) * w + Clamp(x + dx, 0, w - 1)];
      std::nth_element(v, v + 4, v + 9);
      image->data[static_cast<size_t>(y) * w + x] = v[4];
    }
}

void MOD_ContrastCost(const ImageU8* image, double* out) {
  if (!Usable(image) || out == nullptr) return;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  int64_t hist[256] = {0};
  for (size_t i = 0; i < n; ++i) ++hist[image->data[i]];
  double cost[256];
  for (int v = 0; v < 256; ++v) {
    int64_t c = 0;
    for (int u = 0; u < 256; ++u) c += static_cast<int64_t>(v > u ? v - u : u - v) * hist[u];
    cost[v] = static_cast<double>(c);
  }
  for (size_t i = 0; i < n; ++i) out[i] = cost[image->data[i]];
}

void MOD_ContrastMapF(const ImageU8* image, float* out) {
  if (!Usable(image) || out == nullptr) return;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  std::vector<double> c(n);
  MOD_ContrastCost(image, c.data());
  const double lo = *std::min_element(c.begin(), c.end()), hi = *std::max_element(c.begin(), c.end());
  for (size_t i = 0; i < n; ++i) out[i] = hi > lo ? static_cast<float>((c[i] - lo) / (hi - lo)) : 0.0f;
}

double MOD_Entropy(const ImageU8* image) {
  if (!Usable(image)) return 0.0;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  int64_t hist[256] = {0};
  for (size_t i = 0; i < n; ++i) ++hist[image->data[i]];
  double e = 0;
  for (int64_t c : hist)
    if (c > 0) {
      const double p = static_cast<double>(c) / n;
      e -= p * std::log2(p);
    }
  return e;
}

double MOD_HistVariance(const ImageU8* image) {
  if (!Usable(image)) return 0.0;
  const size_t n = static_cast<size_t>(image->width) * image->height;
  double s = 0, s2 = 0;
  for (size_t i = 0; i < n; ++i) {
    const double b = image->data[i] >> 1;
    s += b;
    s2 += b * b;
  }
  const double m = s / n;
  return s2 / n - m * m;
}

void MOD_RowColumnSums(const ImageU8* image, int32_t* rowSums, int32_t* columnSums) {
  if (!Usable(image)) return;
  const int32_t w = image->width, h = image->height;
  if (rowSums != nullptr) std::fill(rowSums, rowSums + h, 0);
  if (columnSums != nullptr) std::fill(columnSums, columnSums + w, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int32_t v = image->data[static_cast<size_t>(y) * w + x];
      if (rowSums != nullptr) rowSums[y] += v;
      if (columnSums != nullptr) columnSums[x] += v;
    }
}

void MOD_CopyRect(const ImageU8* src, int32_t sx, int32_t sy, ImageU8* dst, int32_t dx, int32_t dy, int32_t w,
                  int32_t h) {
  if (!Usable(src) || !Usable(dst)) return;
  for (int32_t y = 0; y < h; ++y) {
    const int32_t ys = sy + y, yd = dy + y;
    if (ys < 0 || yd < 0 || ys >= src->height || yd >= dst->height) continue;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t xs = sx + x, xd = dx + x;
      if (xs < 0 || xd < 0 || xs >= src->width || xd >= dst->width) continue;
      dst->data[static_cast<size_t>(yd) * dst->width + xd] = src->data[static_cast<size_t>(ys) * src->width + xs];
    }
  }
}
