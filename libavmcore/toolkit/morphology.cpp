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

// In place on a two-level image: pixel := 1 where some pixel of its clamped
// box is 1 (dilation, kMax) or := 0 where some pixel is 0 (erosion). Each
// source row is read once, checked and turned into bytes (1 where the pixel
// is 1.0); on bytes of 0 and 1 the window maximum is an OR and the minimum
// an AND, taken separably: the byte rows of the box first, then along the
// row buffer, whose ends replicate the edge columns. A quarter of the float
// traffic, and 32 pixels per 256-bit operation. The output is 1.0 or 0.0
// exactly (a -0.0 source pixel never comes through).

// bits[x] = 1 where row[x] is 1.0, else 0. Returns false when the row holds
// a value other than 0.0, -0.0 and 1.0 (bits then undefined).
bool ToBits(const float* row, uint8_t* bits, int32_t w) {
  uint32_t other = 0;
  int32_t x = 0;
  // Blocks of a fixed length: the compiler vectorises the compares and the
  // narrowing to bytes.
  constexpr int32_t kBlock = 32;
  for (; x + kBlock <= w; x += kBlock) {
    uint32_t o = 0;
    for (int32_t i = 0; i < kBlock; ++i) {
      const float v = row[x + i];
      const uint32_t one = v == 1.0f;
      bits[x + i] = static_cast<uint8_t>(one);
      o |= (v != 0.0f) & (one ^ 1u);
    }
    other |= o;
  }
  for (; x < w; ++x) {
    const float v = row[x];
    bits[x] = static_cast<uint8_t>(v == 1.0f);
    other |= (v != 0.0f) & (v != 1.0f);
  }
  return other == 0;
}

template <bool kMax>
inline uint8_t Pick(uint8_t a, uint8_t b) {
  return static_cast<uint8_t>(kMax ? (a | b) : (a & b));
}

// mid[x] = extreme of rows[0..count-1][x]. Small counts are unrolled so each
// element is stored once.
template <bool kMax, int kCount>
void ColumnExtremeFixed(const uint8_t* const* rows, uint8_t* mid, int32_t w) {
  const uint8_t* r[kCount];
  for (int k = 0; k < kCount; ++k) r[k] = rows[k];
  for (int32_t x = 0; x < w; ++x) {
    uint8_t m = r[0][x];
    for (int k = 1; k < kCount; ++k) m = Pick<kMax>(m, r[k][x]);
    mid[x] = m;
  }
}

template <bool kMax>
void ColumnExtreme(const uint8_t* const* rows, int count, uint8_t* mid, int32_t w) {
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
  for (int k = 7; k < count; ++k) {
    const uint8_t* r = rows[k];
    for (int32_t x = 0; x < w; ++x) mid[x] = Pick<kMax>(mid[x], r[x]);
  }
}

// out[x] = 1 (1.0 or byte 1) where the extreme of row[x..x+taps-1] is 1,
// else 0.
template <bool kMax, int kTaps, class Out>
void RowExtremeFixed(const uint8_t* row, Out* __restrict out, int32_t w) {
  for (int32_t x = 0; x < w; ++x) {
    uint8_t m = row[x];
    for (int k = 1; k < kTaps; ++k) m = Pick<kMax>(m, row[x + k]);
    out[x] = static_cast<Out>(m);
  }
}

template <bool kMax, class Out>
void RowExtreme(uint8_t* row, int taps, Out* out, int32_t w) {
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

// Per-thread buffers of the extreme path, kept across calls: the byte rows
// of the source rows a box can reach (row r in slot r % RingSlots), the
// row buffer with its replicated ends, the row pointers.
// A box reaches 2 ry + 1 consecutive rows, never more than the image has.
int32_t RingSlots(int32_t ry, int32_t h) { return ry < h ? 2 * ry + 1 : h; }

struct ExtremeBuffers {
  std::vector<uint8_t> ring, row;
  std::vector<const uint8_t*> rows;
};
thread_local ExtremeBuffers tlsExtreme;

// Returns the number of rows written: all of them, or the row y whose box
// first meets a row with another value, with rows y .. h-1 untouched and
// the sources of rows y-ry .. y-1 as bytes in tlsExtreme.ring.
// toBits(src row, bytes, w) turns a source row into bytes of 0 and 1 (false
// when it holds another value).
template <bool kMax, class Pixel, class ToBitsFn>
int32_t BoxExtreme(Pixel* data, int32_t w, int32_t h, int32_t rx, int32_t ry, ToBitsFn toBits) {
  const int32_t slots = RingSlots(ry, h);
  ExtremeBuffers& t = tlsExtreme;
  if (t.ring.size() < static_cast<size_t>(slots) * w) t.ring.resize(static_cast<size_t>(slots) * w);
  if (t.row.size() < static_cast<size_t>(w) + 2 * rx) t.row.resize(static_cast<size_t>(w) + 2 * rx);
  if (t.rows.size() < static_cast<size_t>(slots)) t.rows.resize(static_cast<size_t>(slots));
  uint8_t* mid = t.row.data() + rx;
  auto slot = [&](int32_t r) { return t.ring.data() + static_cast<size_t>(r % slots) * w; };
  // Source row r is checked and turned into bytes when output row r - ry
  // first reads it, before any row it reaches is overwritten.
  auto bits = [&](int32_t r) { return toBits(data + static_cast<size_t>(r) * w, slot(r), w); };
  for (int32_t r = 0; r < ry && r < h; ++r)
    if (!bits(r)) return 0;
  for (int32_t y = 0; y < h; ++y) {
    if (y + ry < h && !bits(y + ry)) return y;
    const int32_t r0 = y - ry < 0 ? 0 : y - ry;
    const int32_t r1 = y + ry >= h ? h - 1 : y + ry;
    int count = 0;
    for (int32_t r = r0; r <= r1; ++r) t.rows[count++] = slot(r);
    ColumnExtreme<kMax>(t.rows.data(), count, mid, w);
    for (int32_t i = 0; i < rx; ++i) {
      t.row[i] = mid[0];
      mid[w + i] = mid[w - 1];
    }
    RowExtreme<kMax>(t.row.data(), 2 * rx + 1, data + static_cast<size_t>(y) * w, w);
  }
  return h;
}

template <bool kMax>
int32_t BoxExtreme(Matrix* img, int32_t rx, int32_t ry) {
  return BoxExtreme<kMax>(img->data, img->cols, img->rows, rx, ry, ToBits);
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
  // The sources come back from their bytes as 0.0 and 1.0: a -0.0 turned
  // into 0.0 changes no box sum's sign.
  const int32_t slots = RingSlots(ry, img->rows);
  for (int32_t r = done - ry < 0 ? 0 : done - ry; r < done; ++r) {
    const uint8_t* b = tlsExtreme.ring.data() + static_cast<size_t>(r % slots) * w;
    float* d = img->data + static_cast<size_t>(r) * w;
    for (int32_t x = 0; x < w; ++x) d[x] = static_cast<float>(b[x]);
  }
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

void ImageU8_DilateBinary(ImageU8* img, int32_t rx, int32_t ry) {
  if (img->width < 1 || img->height < 1 || rx < 0 || ry < 0) return;
  auto toBits = [](const uint8_t* row, uint8_t* bits, int32_t w) {
    for (int32_t x = 0; x < w; ++x) bits[x] = static_cast<uint8_t>(row[x] != 0);
    return true;
  };
  BoxExtreme<true>(img->data, img->width, img->height, rx, ry, toBits);
}
