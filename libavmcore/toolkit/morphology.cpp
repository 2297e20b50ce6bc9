#include "toolkit/morphology.h"

#include <cstddef>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "toolkit/border_filters.h"

namespace {

bool Empty(const Matrix* m) { return m->cols < 1 || m->rows < 1; }

// For an image of only 0.0 and 1.0 every box-mean sum is a small integer,
// held exactly in a float, so "mean > 0" is exactly "some pixel of the box
// is 1". That lets two-level images take a counting path with the same
// result; anything else goes through the box mean itself.
bool IsTwoLevel(const Matrix* m, int32_t rx, int32_t ry) {
  if (rx < 0 || ry < 0 || (2.0 * rx + 1) * (2.0 * ry + 1) > 16777216.0) return false;
  const ptrdiff_t n = static_cast<ptrdiff_t>(m->cols) * m->rows;
  bool ok = true;
  for (ptrdiff_t i = 0; i < n; ++i) ok &= (m->data[i] == 0.0f) | (m->data[i] == 1.0f);
  return ok;
}

// In place: pixel := hit where some pixel of its clamped box equals hit,
// else 1 - hit.
void BoxAny(Matrix* img, int32_t rx, int32_t ry, float hit) {
  const int32_t w = img->cols, h = img->rows;
  // Rows of the horizontal result: 1 where the row window holds hit.
  std::vector<uint8_t> horiz(static_cast<size_t>(w) * h);
  std::vector<int32_t> prefix(static_cast<size_t>(w) + 1);
  for (int32_t y = 0; y < h; ++y) {
    const float* in = img->data + static_cast<ptrdiff_t>(y) * w;
    int32_t c = 0;
    prefix[0] = 0;
    for (int32_t x = 0; x < w; ++x) {
      c += in[x] == hit;
      prefix[x + 1] = c;
    }
    uint8_t* out = horiz.data() + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) {
      const int32_t lo = x - rx < 0 ? 0 : x - rx;
      const int32_t hi = x + rx >= w ? w - 1 : x + rx;
      out[x] = prefix[hi + 1] - prefix[lo] > 0;
    }
  }
  // Vertical running count over clamped rows.
  auto row = [&](int32_t r) {
    r = r < 0 ? 0 : (r >= h ? h - 1 : r);
    return horiz.data() + static_cast<ptrdiff_t>(r) * w;
  };
  std::vector<uint32_t> count(static_cast<size_t>(w), 0);
  for (int32_t r = -ry; r <= ry; ++r) {
    const uint8_t* p = row(r);
    for (int32_t x = 0; x < w; ++x) count[x] += p[x];
  }
  const float miss = 1.0f - hit;
  for (int32_t y = 0; y < h; ++y) {
    if (y > 0) {
      const uint8_t* leave = row(y - 1 - ry);
      const uint8_t* enter = row(y + ry);
      for (int32_t x = 0; x < w; ++x) count[x] = count[x] - leave[x] + enter[x];
    }
    float* out = img->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) out[x] = count[x] > 0 ? hit : miss;
  }
}

void DilateByMean(Matrix* img, int32_t rx, int32_t ry) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  float* mean = static_cast<float*>(malloc(sizeof(float) * n));
  Matrix m{img->cols, img->rows, mean};
  Image_BoxMean(img, &m, rx, ry);
  for (ptrdiff_t i = 0; i < n; ++i) img->data[i] = (mean[i] > 0.0f || std::isnan(mean[i])) ? 1.0f : 0.0f;
  free(mean);
}

void Invert(Matrix* img) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  for (ptrdiff_t i = 0; i < n; ++i) img->data[i] = 1.0f - img->data[i];
}

}  // namespace

void Image_Dilate(Matrix* img, int32_t rx, int32_t ry) {
  if (Empty(img)) return;
  if (IsTwoLevel(img, rx, ry))
    BoxAny(img, rx, ry, 1.0f);
  else
    DilateByMean(img, rx, ry);
}

void Image_Erode(Matrix* img, int32_t rx, int32_t ry) {
  if (Empty(img)) return;
  if (IsTwoLevel(img, rx, ry)) {
    BoxAny(img, rx, ry, 0.0f);
    return;
  }
  Invert(img);
  DilateByMean(img, rx, ry);
  Invert(img);
}
