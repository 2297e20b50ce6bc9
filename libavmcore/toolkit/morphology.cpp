#include "toolkit/morphology.h"

#include <cstddef>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/border_filters.h"

namespace {

bool Empty(const Matrix* m) { return m->cols < 1 || m->rows < 1; }

// For an image of only 0.0 and 1.0 every box-mean sum is a small integer,
// held exactly in a float, so "mean > 0" is exactly "some pixel of the box
// is 1". That lets two-level images take a window-extreme path with the
// same result; anything else goes through the box mean itself.
bool IsTwoLevel(const Matrix* m, int32_t rx, int32_t ry) {
  if (rx < 0 || ry < 0 || (2.0 * rx + 1) * (2.0 * ry + 1) > 16777216.0) return false;
  const ptrdiff_t n = static_cast<ptrdiff_t>(m->cols) * m->rows;
  // Counted in blocks (a form the compiler vectorises), leaving at the first
  // block with another value.
  constexpr ptrdiff_t kBlock = 4096;
  for (ptrdiff_t i = 0; i < n; i += kBlock) {
    const ptrdiff_t end = i + kBlock < n ? i + kBlock : n;
    int32_t twoLevel = 0;
    for (ptrdiff_t k = i; k < end; ++k) twoLevel += (m->data[k] == 0.0f) + (m->data[k] == 1.0f);
    if (twoLevel != end - i) return false;
  }
  return true;
}

// In place on a two-level image: pixel := 1 where some pixel of its clamped
// box is 1 (dilation, kMax) or := 0 where some pixel is 0 (erosion). On 0/1
// values that is the window maximum or minimum, taken separably: rows of
// the source first (through row pointers clamped at the edges), then along
// the row buffer, whose ends replicate the edge columns. Straight loops over
// contiguous floats, which the compiler vectorises.
template <bool kMax>
inline float Pick(float a, float b) {
  return kMax ? (a > b ? a : b) : (a < b ? a : b);
}

// mid[x] = extreme of rows[0..count-1][x]. Small counts are unrolled so each
// element is stored once.
template <bool kMax, int kCount>
void ColumnExtremeFixed(const float* const* rows, float* mid, int32_t w) {
  for (int32_t x = 0; x < w; ++x) {
    float m = rows[0][x];
    for (int k = 1; k < kCount; ++k) m = Pick<kMax>(m, rows[k][x]);
    mid[x] = m;
  }
}

template <bool kMax>
void ColumnExtreme(const float* const* rows, int count, float* mid, int32_t w) {
  switch (count) {
    case 1: ColumnExtremeFixed<kMax, 1>(rows, mid, w); return;
    case 2: ColumnExtremeFixed<kMax, 2>(rows, mid, w); return;
    case 3: ColumnExtremeFixed<kMax, 3>(rows, mid, w); return;
    case 4: ColumnExtremeFixed<kMax, 4>(rows, mid, w); return;
    case 5: ColumnExtremeFixed<kMax, 5>(rows, mid, w); return;
    case 6: ColumnExtremeFixed<kMax, 6>(rows, mid, w); return;
    case 7: ColumnExtremeFixed<kMax, 7>(rows, mid, w); return;
    default: break;
  }
  ColumnExtremeFixed<kMax, 7>(rows, mid, w);
  for (int k = 7; k < count; ++k)
    for (int32_t x = 0; x < w; ++x) mid[x] = Pick<kMax>(mid[x], rows[k][x]);
}

// out[x] = 1.0 where the extreme of row[x..x+taps-1] is 1.0, else 0.0
// (exactly: a -0.0 source pixel must not come through).
template <bool kMax, int kTaps>
void RowExtremeFixed(const float* row, float* out, int32_t w) {
  for (int32_t x = 0; x < w; ++x) {
    float m = row[x];
    for (int k = 1; k < kTaps; ++k) m = Pick<kMax>(m, row[x + k]);
    out[x] = m == 1.0f ? 1.0f : 0.0f;
  }
}

template <bool kMax>
void RowExtreme(float* row, int taps, float* out, int32_t w) {
  switch (taps) {
    case 1: RowExtremeFixed<kMax, 1>(row, out, w); return;
    case 3: RowExtremeFixed<kMax, 3>(row, out, w); return;
    case 5: RowExtremeFixed<kMax, 5>(row, out, w); return;
    case 7: RowExtremeFixed<kMax, 7>(row, out, w); return;
    case 9: RowExtremeFixed<kMax, 9>(row, out, w); return;
    default: break;
  }
  // Wider windows: fold the row onto itself taps - 9 times (after s folds
  // row[x] holds the extreme of x..x+s), then the 9-tap pass.
  const int32_t length = w + taps - 1;
  for (int s = 1; s <= taps - 9; ++s)
    for (int32_t x = 0; x < length - s; ++x) row[x] = Pick<kMax>(row[x], row[x + 1]);
  RowExtremeFixed<kMax, 9>(row, out, w);
}

// In place on a two-level image: pixel := 1 where some pixel of its clamped
// box is 1 (dilation, kMax) or := 0 where some pixel is 0 (erosion). On 0/1
// values that is the window maximum or minimum, taken separably: source
// rows first (through row pointers clamped at the edges), then along the row
// buffer, whose ends replicate the edge columns. Straight loops over
// contiguous floats, which the compiler vectorises.
template <bool kMax>
void BoxExtreme(Matrix* img, int32_t rx, int32_t ry) {
  const int32_t w = img->cols, h = img->rows;
  // Rows are overwritten in place; the last ry source rows are kept in a
  // ring, since later output rows still need them.
  const int32_t ringRows = ry + 1;
  std::vector<float> ring(static_cast<size_t>(ringRows) * w);
  std::vector<float> row(static_cast<size_t>(w) + 2 * rx);
  std::vector<const float*> rows(static_cast<size_t>(2 * ry + 1));
  float* mid = row.data() + rx;
  for (int32_t y = 0; y < h; ++y) {
    const int32_t r0 = y - ry < 0 ? 0 : y - ry;
    const int32_t r1 = y + ry >= h ? h - 1 : y + ry;
    int count = 0;
    for (int32_t r = r0; r <= r1; ++r)
      rows[count++] = r < y ? ring.data() + static_cast<size_t>(r % ringRows) * w
                            : img->data + static_cast<size_t>(r) * w;
    ColumnExtreme<kMax>(rows.data(), count, mid, w);
    for (int32_t i = 0; i < rx; ++i) {
      row[i] = mid[0];
      mid[w + i] = mid[w - 1];
    }
    float* out = img->data + static_cast<size_t>(y) * w;
    if (ry > 0) std::memcpy(ring.data() + static_cast<size_t>(y % ringRows) * w, out, sizeof(float) * w);
    RowExtreme<kMax>(row.data(), 2 * rx + 1, out, w);
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
    BoxExtreme<true>(img, rx, ry);
  else
    DilateByMean(img, rx, ry);
}

void Image_Erode(Matrix* img, int32_t rx, int32_t ry) {
  if (Empty(img)) return;
  if (IsTwoLevel(img, rx, ry)) {
    BoxExtreme<false>(img, rx, ry);
    return;
  }
  Invert(img);
  DilateByMean(img, rx, ry);
  Invert(img);
}
