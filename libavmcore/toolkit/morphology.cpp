#include "toolkit/morphology.h"

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <cstring>
#include <vector>

#include "toolkit/border_filters.h"

namespace {

bool Empty(const Matrix* m) { return m->cols < 1 || m->rows < 1; }

// For an image of only 0.0 and 1.0 every box-mean sum is a small integer,
// held exactly in a float, so "mean > 0" is exactly "some pixel of the box
// is 1". That lets two-level images take a window-extreme path with the
// same result. Rows are checked as the extreme path first reads them, so
// the image is read once; a row with another value hands over to the box
// mean (see FinishByMean).
bool ExactBoxSums(int32_t rx, int32_t ry) {
  return rx >= 0 && ry >= 0 && (2.0 * rx + 1) * (2.0 * ry + 1) <= 16777216.0;
}

// Tells whether row holds only 0.0, -0.0 and 1.0, copying it to keep when
// keep is given.
bool TwoLevelRow(const float* row, float* __restrict keep, int32_t w) {
  uint32_t other = 0;
  if (keep) {
    for (int32_t x = 0; x < w; ++x) {
      keep[x] = row[x];
      other |= (row[x] != 0.0f) & (row[x] != 1.0f);
    }
  } else {
    for (int32_t x = 0; x < w; ++x) other |= (row[x] != 0.0f) & (row[x] != 1.0f);
  }
  return other == 0;
}

template <bool kMax>
inline float Pick(float a, float b) {
  return kMax ? (a > b ? a : b) : (a < b ? a : b);
}

// 0.0, -0.0 or 1.0 to 0.0 or 1.0: the bits of 1.0 kept, the sign dropped
// (one AND, where a compare and select would take two steps).
inline float TwoLevel(float v) {
  uint32_t b;
  std::memcpy(&b, &v, sizeof b);
  b &= 0x3F800000u;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// out[x] = extreme of rows[0..count-1][from + x]. Small counts are unrolled so
// each element is stored once.
template <bool kMax, int kCount>
void ColumnExtremeFixed(const float* const* rows, float* __restrict out, int32_t w, int32_t from = 0) {
  const float* r[kCount];
  for (int k = 0; k < kCount; ++k) r[k] = rows[k] + from;
  for (int32_t x = 0; x < w; ++x) {
    float m = r[0][x];
    for (int k = 1; k < kCount; ++k) m = Pick<kMax>(m, r[k][x]);
    out[x] = m;
  }
}

template <bool kMax>
void ColumnExtreme(const float* const* rows, int count, float* out, int32_t w) {
  switch (count) {
    case 1: ColumnExtremeFixed<kMax, 1>(rows, out, w); return;
    case 2: ColumnExtremeFixed<kMax, 2>(rows, out, w); return;
    case 3: ColumnExtremeFixed<kMax, 3>(rows, out, w); return;
    case 4: ColumnExtremeFixed<kMax, 4>(rows, out, w); return;
    case 5: ColumnExtremeFixed<kMax, 5>(rows, out, w); return;
    case 6: ColumnExtremeFixed<kMax, 6>(rows, out, w); return;
    case 7: ColumnExtremeFixed<kMax, 7>(rows, out, w); return;
    default: break;
  }
  ColumnExtremeFixed<kMax, 7>(rows, out, w);
  for (int k = 7; k < count; ++k)
    for (int32_t x = 0; x < w; ++x) out[x] = Pick<kMax>(out[x], rows[k][x]);
}

// out[x] = TwoLevel(extreme of row[x - kR .. x + kR]) for x = kR .. w-1-kR,
// straight from the source row.
template <bool kMax, int kR>
void RowExtremeInterior(const float* row, float* __restrict out, int32_t w) {
  for (int32_t x = kR; x < w - kR; ++x) {
    float m = row[x - kR];
    for (int k = 1 - kR; k <= kR; ++k) m = Pick<kMax>(m, row[x + k]);
    out[x] = TwoLevel(m);
  }
}

// out[x] = TwoLevel(extreme of the source row over x-rx .. x+rx, the edge
// columns replicated). Narrow windows read the row in place (the first and
// last rx columns one by one); wider ones go through the padded buffer,
// folded onto itself until a 9-tap pass finishes (after s folds pad[x]
// holds the extreme of x..x+s).
template <bool kMax>
void RowExtreme(const float* row, int32_t rx, float* pad, float* out, int32_t w) {
  if (rx <= 4 && w > 2 * rx) {
    switch (rx) {
      case 0: RowExtremeInterior<kMax, 0>(row, out, w); return;
      case 1: RowExtremeInterior<kMax, 1>(row, out, w); break;
      case 2: RowExtremeInterior<kMax, 2>(row, out, w); break;
      case 3: RowExtremeInterior<kMax, 3>(row, out, w); break;
      default: RowExtremeInterior<kMax, 4>(row, out, w); break;
    }
    for (int32_t e = 0; e < rx; ++e)
      for (int32_t x : {e, w - 1 - e}) {
        float m = row[x];
        for (int32_t k = -rx; k <= rx; ++k) {
          const int32_t c = x + k < 0 ? 0 : (x + k >= w ? w - 1 : x + k);
          m = Pick<kMax>(m, row[c]);
        }
        out[x] = TwoLevel(m);
      }
    return;
  }
  for (int32_t i = 0; i < rx; ++i) {
    pad[i] = row[0];
    pad[rx + w + i] = row[w - 1];
  }
  std::memcpy(pad + rx, row, sizeof(float) * w);
  const int32_t taps = 2 * rx + 1, length = w + taps - 1;
  const int32_t folds = taps > 9 ? taps - 9 : 0;
  for (int32_t s = 1; s <= folds; ++s)
    for (int32_t x = 0; x < length - s; ++x) pad[x] = Pick<kMax>(pad[x], pad[x + 1]);
  const int32_t rest = taps - folds;
  for (int32_t x = 0; x < w; ++x) {
    float m = pad[x];
    for (int32_t k = 1; k < rest; ++k) m = Pick<kMax>(m, pad[x + k]);
    out[x] = TwoLevel(m);
  }
}

// Per-thread rings of the extreme path, kept across calls.
struct ExtremeRings {
  std::vector<float> extremes, sources, pad;
  std::vector<const float*> rows;
};
thread_local ExtremeRings tlsRings;

// In place on a two-level image: pixel := 1 where some pixel of its clamped
// box is 1 (dilation, kMax) or := 0 where some pixel is 0 (erosion). On 0/1
// values that is the window maximum or minimum, taken separably: the row
// extremes of each source row (normalised to +0.0 / 1.0) go into a ring of
// 2ry + 1 rows before that row is overwritten; each output row is the
// extreme of the ring rows of its box. Straight loops over contiguous
// floats, which the compiler vectorises. Returns the number of rows
// written: all of them, or the row y whose box first meets a row with
// another value, with rows y .. h-1 untouched and the sources of rows
// y-ry .. y-1 in tlsRings.sources (slot r % (2ry + 1)).
template <bool kMax>
int32_t BoxExtreme(Matrix* img, int32_t rx, int32_t ry) {
  const int32_t w = img->cols, h = img->rows;
  const int32_t slots = 2 * ry + 1;
  ExtremeRings& t = tlsRings;
  const size_t ringSize = static_cast<size_t>(slots) * w;
  if (t.extremes.size() < ringSize) t.extremes.resize(ringSize);
  if (ry > 0 && t.sources.size() < ringSize) t.sources.resize(ringSize);
  if (t.pad.size() < static_cast<size_t>(w) + 2 * rx) t.pad.resize(static_cast<size_t>(w) + 2 * rx);
  if (t.rows.size() < static_cast<size_t>(slots)) t.rows.resize(static_cast<size_t>(slots));
  auto slot = [&](std::vector<float>& ring, int32_t r) { return ring.data() + static_cast<size_t>(r % slots) * w; };
  // Source row r enters (checked, kept, its row extreme taken) while output
  // row r - ry is due: only rows above that are written by then.
  auto enter = [&](int32_t r) {
    const float* src = img->data + static_cast<size_t>(r) * w;
    if (!TwoLevelRow(src, ry > 0 ? slot(t.sources, r) : nullptr, w)) return false;
    RowExtreme<kMax>(src, rx, t.pad.data(), slot(t.extremes, r), w);
    return true;
  };
  int32_t next = 0;
  for (; next <= ry && next < h; ++next)
    if (!enter(next)) return 0;
  for (int32_t y = 0; y < h; ++y) {
    if (next < h && next == y + ry) {
      if (!enter(next)) return y;
      ++next;
    }
    const int32_t r0 = y - ry < 0 ? 0 : y - ry;
    const int32_t r1 = y + ry >= h ? h - 1 : y + ry;
    int count = 0;
    for (int32_t r = r0; r <= r1; ++r) t.rows[count++] = slot(t.extremes, r);
    ColumnExtreme<kMax>(t.rows.data(), count, img->data + static_cast<size_t>(y) * w, w);
  }
  return h;
}

void DilateByMean(Matrix* img, int32_t rx, int32_t ry) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  std::vector<float> block(static_cast<size_t>(n));
  float* mean = block.data();
  Matrix m{img->cols, img->rows, mean};
  Image_BoxMean(img, &m, rx, ry);
  for (ptrdiff_t i = 0; i < n; ++i) img->data[i] = (mean[i] > 0.0f || std::isnan(mean[i])) ? 1.0f : 0.0f;
}

void Invert(Matrix* img) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(img->cols) * img->rows;
  for (ptrdiff_t i = 0; i < n; ++i) img->data[i] = 1.0f - img->data[i];
}

// The box-mean path for an image whose rows 0 .. done-1 the extreme path
// has already written. Those rows keep their values: their boxes hold
// only 0 and 1, where both paths agree. The box mean runs its column sums
// down the image; on rows of 0 and 1 every such sum is an exact integer
// whatever rows it passed, so with the written rows (0 and 1 as well)
// above row done - ry and the sources restored from there on, the sums of
// rows done .. h-1, and so their outputs, are those of the source image.
void FinishByMean(Matrix* img, int32_t rx, int32_t ry, int32_t done, bool erode) {
  const int32_t w = img->cols;
  const size_t written = static_cast<size_t>(done) * w;
  std::vector<float> kept(img->data, img->data + written);
  const int32_t slots = 2 * ry + 1;
  for (int32_t r = done - ry < 0 ? 0 : done - ry; r < done; ++r)
    std::memcpy(img->data + static_cast<size_t>(r) * w, tlsRings.sources.data() + static_cast<size_t>(r % slots) * w,
                sizeof(float) * w);
  if (erode) Invert(img);
  DilateByMean(img, rx, ry);
  if (erode) Invert(img);
  std::copy(kept.begin(), kept.end(), img->data);
}

}  // namespace

void Image_Dilate(Matrix* img, int32_t rx, int32_t ry) {
  if (Empty(img)) return;
  if (!ExactBoxSums(rx, ry)) {
    DilateByMean(img, rx, ry);
    return;
  }
  const int32_t done = BoxExtreme<true>(img, rx, ry);
  if (done < img->rows) FinishByMean(img, rx, ry, done, false);
}

void Image_Erode(Matrix* img, int32_t rx, int32_t ry) {
  if (Empty(img)) return;
  if (!ExactBoxSums(rx, ry)) {
    Invert(img);
    DilateByMean(img, rx, ry);
    Invert(img);
    return;
  }
  const int32_t done = BoxExtreme<false>(img, rx, ry);
  if (done < img->rows) FinishByMean(img, rx, ry, done, true);
}
