#include "toolkit/border_filters.h"

#include <cstddef>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/row_kernels.h"

namespace {

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool EmptyMatrix(const Matrix* m) { return m->cols < 1 || m->rows < 1; }

// Pads src into a block of (W+2px) x (H+2py) floats.
void PadInto(const Matrix* src, float* block, int32_t px, int32_t py) {
  Matrix padded{src->cols + 2 * px, src->rows + 2 * py, block};
  Matrix_PadReplicate(src, &padded, px, py);
}

// Running-sum window mean of a padded image of width pw (stride pw) into
// out (stride ow), w x h outputs. colsum holds pw floats.
void BoxMeanCore(const float* padded, int32_t pw, float* out, int32_t ow, int32_t w, int32_t h,
                 int32_t rx, int32_t ry, float* colsum) {
  const float area = static_cast<float>((2 * rx + 1) * (2 * ry + 1));
  for (int32_t x = 0; x < pw; ++x) colsum[x] = 0.0f;
  for (int32_t r = 0; r <= 2 * ry; ++r) {
    const float* row = padded + static_cast<ptrdiff_t>(r) * pw;
    for (int32_t x = 0; x < pw; ++x) colsum[x] += row[x];
  }
  for (int32_t y = 0; y < h; ++y) {
    if (y > 0) {
      const float* leave = padded + static_cast<ptrdiff_t>(y - 1) * pw;
      const float* enter = padded + static_cast<ptrdiff_t>(y + 2 * ry) * pw;
      for (int32_t x = 0; x < pw; ++x) colsum[x] = (colsum[x] - leave[x]) + enter[x];
    }
    float* o = out + static_cast<ptrdiff_t>(y) * ow;
    float s = colsum[0];
    for (int32_t x = 1; x <= 2 * rx; ++x) s += colsum[x];
    o[0] = s / area;
    for (int32_t x = 1; x < w; ++x) {
      s = (s - colsum[x - 1]) + colsum[x + 2 * rx];
      o[x] = s / area;
    }
  }
}

// Window extreme on a replicated border; kMax selects maximum (from 0.0)
// or minimum (from 1.0). A NaN never replaces the running extreme. The
// extreme of values that already passed through Better is independent of
// the order they are taken in, which lets the filter take them in the
// orders below.
template <bool kMax>
inline float Better(float cur, float v) {
  return kMax ? (v > cur ? v : cur) : (v < cur ? v : cur);
}

// out[x] = start folded with rows[0..kCount-1][x].
template <bool kMax, int kCount>
void ExtremeOfRows(const float* const* rows, float start, float* __restrict out, int32_t w) {
  const float* r[kCount];
  for (int j = 0; j < kCount; ++j) r[j] = rows[j];
  for (int32_t x = 0; x < w; ++x) {
    float e = Better<kMax>(start, r[0][x]);
    for (int j = 1; j < kCount; ++j) e = Better<kMax>(e, r[j][x]);
    out[x] = e;
  }
}

// Vertical extremes of every output row over a replicated border of ry
// rows, by van Herk / Gil-Werman: padded rows fall into blocks of K = 2ry+1;
// a window starting at row p of block B is the suffix extreme of B from p
// folded with the prefix extreme of block B+1 up to p+K-1, three
// comparisons per element whatever the radius. emit(y, row) receives each
// output row in order.
template <bool kMax, typename Emit>
void VerticalExtremes(const float* src, int32_t w, int32_t h, int32_t ry, float start, float* suffix,
                      float* prefix, float* out, Emit emit) {
  const int32_t K = 2 * ry + 1;
  auto row = [&](int32_t p) {
    const int32_t r = p - ry < 0 ? 0 : (p - ry >= h ? h - 1 : p - ry);
    return src + static_cast<ptrdiff_t>(r) * w;
  };
  for (int32_t p0 = 0; p0 < h; p0 += K) {
    // Suffix extremes of the block: suffix row j covers rows p0+j .. p0+K-1.
    float* last = suffix + static_cast<ptrdiff_t>(K - 1) * w;
    const float* rl = row(p0 + K - 1);
    for (int32_t x = 0; x < w; ++x) last[x] = Better<kMax>(start, rl[x]);
    for (int32_t j = K - 2; j >= 0; --j) {
      float* sj = suffix + static_cast<ptrdiff_t>(j) * w;
      const float* next = sj + w;
      const float* r = row(p0 + j);
      for (int32_t x = 0; x < w; ++x) sj[x] = Better<kMax>(next[x], r[x]);
    }
    emit(p0, suffix);
    for (int32_t j = 1; j < K && p0 + j < h; ++j) {
      const float* r = row(p0 + K + j - 1);
      if (j == 1) {
        for (int32_t x = 0; x < w; ++x) prefix[x] = Better<kMax>(start, r[x]);
      } else {
        for (int32_t x = 0; x < w; ++x) prefix[x] = Better<kMax>(prefix[x], r[x]);
      }
      const float* sj = suffix + static_cast<ptrdiff_t>(j) * w;
      for (int32_t x = 0; x < w; ++x) out[x] = Better<kMax>(sj[x], prefix[x]);
      emit(p0 + j, out);
    }
  }
}

// Horizontal extremes of one row over a replicated border of rx columns:
// padded holds the row with its border (w + 2rx values, already folded with
// the start value). Narrow windows directly; wider ones by doubling spans
// (after s passes padded[x] covers 2^s columns from x), then two
// overlapping spans.
template <bool kMax>
void HorizontalExtremes(float* padded, int32_t w, int32_t rx, float* __restrict out) {
  const int32_t K = 2 * rx + 1;
  if (K == 1) {
    memcpy(out, padded, sizeof(float) * w);
    return;
  }
  if (K == 3) {
    for (int32_t x = 0; x < w; ++x) out[x] = Better<kMax>(Better<kMax>(padded[x], padded[x + 1]), padded[x + 2]);
    return;
  }
  if (K == 5) {
    for (int32_t x = 0; x < w; ++x) {
      const float a = Better<kMax>(padded[x], padded[x + 1]), b = Better<kMax>(padded[x + 2], padded[x + 3]);
      out[x] = Better<kMax>(Better<kMax>(a, b), padded[x + 4]);
    }
    return;
  }
  int32_t span = 1, length = w + 2 * rx;
  while (2 * span <= K) {
    for (int32_t x = 0; x + span < length; ++x) padded[x] = Better<kMax>(padded[x], padded[x + span]);
    length -= span;
    span *= 2;
  }
  const int32_t tail = K - span;
  for (int32_t x = 0; x < w; ++x) out[x] = Better<kMax>(padded[x], padded[x + tail]);
}

template <bool kMax>
void ExtremeFilter(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry) {
  if (EmptyMatrix(src)) return;
  const int32_t w = src->cols, h = src->rows;
  const size_t n = static_cast<size_t>(w) * h;
  const float start = kMax ? 0.0f : 1.0f;
  thread_local std::vector<float> copy, rowsWork;
  const float* s = src->data;
  // Output rows are written while later ones still read the source.
  if (row_kernels::Overlap(s, dst->data, n)) {
    s = row_kernels::Scratch(copy, n);
    memcpy(copy.data(), src->data, sizeof(float) * n);
  }
  const int32_t K = 2 * ry + 1;
  const int32_t pw = w + 2 * rx;
  float* work = row_kernels::Scratch(rowsWork, static_cast<size_t>(K + 1) * w + pw);
  float* suffix = work;
  float* prefix = work + static_cast<ptrdiff_t>(K) * w;
  float* padded = prefix + w;
  auto horizontal = [&](int32_t y, const float* v) {
    if (v != padded + rx) memcpy(padded + rx, v, sizeof(float) * w);
    for (int32_t i = 0; i < rx; ++i) {
      padded[i] = v[0];
      padded[rx + w + i] = v[w - 1];
    }
    HorizontalExtremes<kMax>(padded, w, rx, dst->data + static_cast<ptrdiff_t>(y) * w);
  };
  if (ry <= 2) {
    const float* rows[5];
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t j = 0; j < K; ++j) {
        const int32_t r = y + j - ry;
        rows[j] = s + static_cast<ptrdiff_t>(r < 0 ? 0 : (r >= h ? h - 1 : r)) * w;
      }
      if (ry == 0) ExtremeOfRows<kMax, 1>(rows, start, padded + rx, w);
      if (ry == 1) ExtremeOfRows<kMax, 3>(rows, start, padded + rx, w);
      if (ry == 2) ExtremeOfRows<kMax, 5>(rows, start, padded + rx, w);
      horizontal(y, padded + rx);
    }
    return;
  }
  VerticalExtremes<kMax>(s, w, h, ry, start, suffix, prefix, padded + rx, horizontal);
}

}  // namespace

void Matrix_PadReplicate(const Matrix* src, Matrix* dst, int32_t px, int32_t py) {
  if (EmptyMatrix(src)) return;
  const int32_t w = src->cols, h = src->rows;
  for (int32_t r = 0; r < dst->rows; ++r) {
    const float* s = src->data + static_cast<ptrdiff_t>(Clamp(r - py, 0, h - 1)) * w;
    float* d = dst->data + static_cast<ptrdiff_t>(r) * dst->cols;
    std::fill(d, d + px, s[0]);
    std::memcpy(d + px, s, sizeof(float) * w);
    std::fill(d + px + w, d + 2 * px + w, s[w - 1]);
  }
}

void Matrix_PadBandMirror(const Matrix* src, Matrix* dst, int32_t px, int32_t py) {
  if (EmptyMatrix(src)) return;
  const int32_t w = src->cols, h = src->rows;
  for (int32_t r = 0; r < dst->rows; ++r) {
    const int32_t sr = r < py ? 0 : (r >= py + h ? h - 1 : r - py);
    const bool band = r < py || r >= py + h;
    const float* s = src->data + static_cast<ptrdiff_t>(sr) * w;
    float* d = dst->data + static_cast<ptrdiff_t>(r) * dst->cols;
    for (int32_t c = 0; c < w + 2 * px; ++c) {
      int32_t sc;
      if (c < px)
        sc = band ? px - 1 - c : 0;
      else if (c < px + w)
        sc = c - px;
      else
        sc = band ? 2 * w + px - 1 - c : w - 1;
      d[c] = s[Clamp(sc, 0, w - 1)];
    }
  }
}

// The column-sum row lives on the stack below this many floats, sparing a
// second allocation for the usual image widths.
constexpr int32_t kStackColumnSums = 2600;

void Image_BoxMeanPadded(const Matrix* padded, Matrix* dst, int32_t rx, int32_t ry) {
  if (EmptyMatrix(dst)) return;
  float stackRow[kStackColumnSums];
  std::vector<float> heapRow;
  float* colsum = stackRow;
  if (padded->cols >= kStackColumnSums) {
    heapRow.resize(static_cast<size_t>(padded->cols));
    colsum = heapRow.data();
  }
  BoxMeanCore(padded->data, padded->cols, dst->data, dst->cols, dst->cols, dst->rows, rx, ry, colsum);
}

void Image_BoxMeanBuffered(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry, float* work) {
  if (EmptyMatrix(src)) return;
  PadInto(src, work, rx, ry);
  const int32_t pw = src->cols + 2 * rx;
  float stackRow[kStackColumnSums];
  std::vector<float> heapRow;
  float* colsum = stackRow;
  if (pw >= kStackColumnSums) {
    heapRow.resize(static_cast<size_t>(pw));
    colsum = heapRow.data();
  }
  BoxMeanCore(work, pw, dst->data, src->cols, src->cols, src->rows, rx, ry, colsum);
}

void Image_BoxMean(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry) {
  if (EmptyMatrix(src)) return;
  const int32_t w = src->cols, h = src->rows;
  const int32_t pw = w + 2 * rx, ph = h + 2 * ry;
  // One block: the padded copy, then the column-sum row.
  float* block = static_cast<float*>(malloc(sizeof(float) * (static_cast<size_t>(pw) * ph + 2 * pw)));
  PadInto(src, block, rx, ry);
  BoxMeanCore(block, pw, dst->data, w, w, h, rx, ry, block + static_cast<size_t>(pw) * ph);
  free(block);
}

void Image_MaxFilter(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry) {
  ExtremeFilter<true>(src, dst, rx, ry);
}

void Image_MinFilter(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry) {
  ExtremeFilter<false>(src, dst, rx, ry);
}

int Image_OffsetMean(const Matrix* src, Matrix* dst, const int32_t* dx, const int32_t* dy,
                     int32_t count) {
  if (count < 1 || dx == nullptr || dy == nullptr) return 0;
  int32_t minDx = 20000, maxDx = -20000, minDy = 20000, maxDy = -20000;
  for (int32_t k = 0; k < count; ++k) {
    minDx = std::min(minDx, dx[k]);
    maxDx = std::max(maxDx, dx[k]);
    minDy = std::min(minDy, dy[k]);
    maxDy = std::max(maxDy, dy[k]);
  }
  // The row arrays hold 64 rows; a longer span would run past them.
  if (maxDy - minDy + 1 > kOffsetMeanMaxRows || minDx < -20000 || maxDx > 20000) return 0;
  const int32_t span = maxDy - minDy + 1;
  int32_t rowMin[kOffsetMeanMaxRows], rowMax[kOffsetMeanMaxRows], rowCount[kOffsetMeanMaxRows];
  for (int32_t d = 0; d < span; ++d) {
    rowMin[d] = 20000;
    rowMax[d] = -20000;
    rowCount[d] = 0;
  }
  for (int32_t k = 0; k < count; ++k) {
    const int32_t d = dy[k] - minDy;
    rowMin[d] = std::min(rowMin[d], dx[k]);
    rowMax[d] = std::max(rowMax[d], dx[k]);
    ++rowCount[d];
  }
  // Every row one run of distinct consecutive dx: count equals the run
  // length and no dx repeats.
  for (int32_t d = 0; d < span; ++d) {
    if (rowCount[d] == 0 || rowCount[d] != rowMax[d] - rowMin[d] + 1) return 0;
    std::vector<int32_t> seen;
    for (int32_t k = 0; k < count; ++k)
      if (dy[k] - minDy == d) seen.push_back(dx[k]);
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) return 0;
  }
  if (EmptyMatrix(src)) return 1;
  const int32_t w = src->cols, h = src->rows;
  const int32_t px = std::max(std::abs(minDx), maxDx), py = std::max(std::abs(minDy), maxDy);
  const int32_t pw = w + 2 * px, ph = h + 2 * py;
  std::vector<float> padded(static_cast<size_t>(pw) * ph);
  PadInto(src, padded.data(), px, py);
  auto P = [&](int32_t r, int32_t c) { return padded[static_cast<size_t>(r) * pw + c]; };
  const float n = static_cast<float>(count);
  float rowSum[kOffsetMeanMaxRows];
  for (int32_t y = 0; y < h; ++y) {
    float* o = dst->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t d = 0; d < span; ++d) rowSum[d] = 0.0f;
    for (int32_t k = 0; k < count; ++k) rowSum[dy[k] - minDy] += P(y + py + dy[k], px + dx[k]);
    float s = rowSum[0];
    for (int32_t d = 1; d < span; ++d) s += rowSum[d];
    o[0] = s / n;
    for (int32_t x = 1; x < w; ++x) {
      for (int32_t d = 0; d < span; ++d) {
        const int32_t r = y + py + minDy + d;
        rowSum[d] = (rowSum[d] - P(r, px + x + rowMin[d] - 1)) + P(r, px + x + rowMax[d]);
      }
      s = rowSum[0];
      for (int32_t d = 1; d < span; ++d) s += rowSum[d];
      o[x] = s / n;
    }
  }
  return 1;
}

void Image3_MinChannel(const Matrix* src, Matrix* dst) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(std::max(src->cols, 0)) * std::max(src->rows, 0);
  for (ptrdiff_t i = 0; i < n; ++i) {
    const float* p = src->data + 3 * i;
    const float m = std::min(p[0], p[1]);
    dst->data[i] = std::min(m, p[2]);
  }
}

void Image3_Invert(Matrix* m) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(std::max(m->cols, 0)) * std::max(m->rows, 0) * 3;
  for (ptrdiff_t i = 0; i < n; ++i) m->data[i] = 1.0f - m->data[i];
}

void Image3_Copy(const Matrix* src, Matrix* dst) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(std::max(src->cols, 0)) * std::max(src->rows, 0) * 3;
  if (n > 0) std::memcpy(dst->data, src->data, sizeof(float) * n);
}
