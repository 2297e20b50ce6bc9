#include "toolkit/border_filters.h"

#include <cstddef>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/float_lanes.h"
#include "toolkit/row_kernels.h"
#include "toolkit/vector_shuffle.h"

namespace {

inline int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool EmptyMatrix(const Matrix* m) { return m->cols < 1 || m->rows < 1; }

// Pads src into a block of (W+2px) x (H+2py) floats.
void PadInto(const Matrix* src, float* block, int32_t px, int32_t py) {
  Matrix padded{src->cols + 2 * px, src->rows + 2 * py, block};
  Matrix_PadReplicate(src, &padded, px, py);
}

typedef int32_t I32x8 __attribute__((vector_size(32)));

// 8 x 8 transpose of the rows at src (row stride ss floats) into the rows
// at dst (stride ds), each output row divided by div when kDivide: lane j
// of input row i becomes lane i of output row j. Written out in named
// vectors so that they stay in registers.
template <bool kDivide>
__attribute__((always_inline)) inline void Transpose8(const float* src, ptrdiff_t ss, float* dst, ptrdiff_t ds,
                                                      float_lanes::F32x8 div) {
  using float_lanes::F32x8;
  F32x8 a0, a1, a2, a3, a4, a5, a6, a7;
  float_lanes::Load(&a0, src);
  float_lanes::Load(&a1, src + ss);
  float_lanes::Load(&a2, src + 2 * ss);
  float_lanes::Load(&a3, src + 3 * ss);
  float_lanes::Load(&a4, src + 4 * ss);
  float_lanes::Load(&a5, src + 5 * ss);
  float_lanes::Load(&a6, src + 6 * ss);
  float_lanes::Load(&a7, src + 7 * ss);
  const F32x8 t0 = AVM_SHUFFLE2(I32x8, a0, a1, 0, 8, 1, 9, 4, 12, 5, 13);
  const F32x8 t1 = AVM_SHUFFLE2(I32x8, a0, a1, 2, 10, 3, 11, 6, 14, 7, 15);
  const F32x8 t2 = AVM_SHUFFLE2(I32x8, a2, a3, 0, 8, 1, 9, 4, 12, 5, 13);
  const F32x8 t3 = AVM_SHUFFLE2(I32x8, a2, a3, 2, 10, 3, 11, 6, 14, 7, 15);
  const F32x8 t4 = AVM_SHUFFLE2(I32x8, a4, a5, 0, 8, 1, 9, 4, 12, 5, 13);
  const F32x8 t5 = AVM_SHUFFLE2(I32x8, a4, a5, 2, 10, 3, 11, 6, 14, 7, 15);
  const F32x8 t6 = AVM_SHUFFLE2(I32x8, a6, a7, 0, 8, 1, 9, 4, 12, 5, 13);
  const F32x8 t7 = AVM_SHUFFLE2(I32x8, a6, a7, 2, 10, 3, 11, 6, 14, 7, 15);
  const F32x8 u0 = AVM_SHUFFLE2(I32x8, t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
  const F32x8 u1 = AVM_SHUFFLE2(I32x8, t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
  const F32x8 u2 = AVM_SHUFFLE2(I32x8, t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  const F32x8 u3 = AVM_SHUFFLE2(I32x8, t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
  const F32x8 u4 = AVM_SHUFFLE2(I32x8, t4, t6, 0, 1, 8, 9, 4, 5, 12, 13);
  const F32x8 u5 = AVM_SHUFFLE2(I32x8, t4, t6, 2, 3, 10, 11, 6, 7, 14, 15);
  const F32x8 u6 = AVM_SHUFFLE2(I32x8, t5, t7, 0, 1, 8, 9, 4, 5, 12, 13);
  const F32x8 u7 = AVM_SHUFFLE2(I32x8, t5, t7, 2, 3, 10, 11, 6, 7, 14, 15);
  F32x8 r[8] = {AVM_SHUFFLE2(I32x8, u0, u4, 0, 1, 2, 3, 8, 9, 10, 11), AVM_SHUFFLE2(I32x8, u1, u5, 0, 1, 2, 3, 8, 9, 10, 11),
                AVM_SHUFFLE2(I32x8, u2, u6, 0, 1, 2, 3, 8, 9, 10, 11), AVM_SHUFFLE2(I32x8, u3, u7, 0, 1, 2, 3, 8, 9, 10, 11),
                AVM_SHUFFLE2(I32x8, u0, u4, 4, 5, 6, 7, 12, 13, 14, 15), AVM_SHUFFLE2(I32x8, u1, u5, 4, 5, 6, 7, 12, 13, 14, 15),
                AVM_SHUFFLE2(I32x8, u2, u6, 4, 5, 6, 7, 12, 13, 14, 15), AVM_SHUFFLE2(I32x8, u3, u7, 4, 5, 6, 7, 12, 13, 14, 15)};
  if (kDivide)
    for (int i = 0; i < 8; ++i) r[i] = r[i] / div;
  for (int i = 0; i < 8; ++i) float_lanes::Store(dst + i * ds, &r[i]);
}

typedef float F32x4 __attribute__((vector_size(16)));
typedef int32_t I32x4 __attribute__((vector_size(16)));

// 4 x 4 form of Transpose8, for builds whose registers hold four floats
// (there the 8-float vectors would be split by the compiler, and not
// always kept in registers).
template <bool kDivide>
__attribute__((always_inline)) inline void Transpose4(const float* src, ptrdiff_t ss, float* dst, ptrdiff_t ds,
                                                      F32x4 div) {
  F32x4 a0, a1, a2, a3;
  memcpy(&a0, src, sizeof a0);
  memcpy(&a1, src + ss, sizeof a1);
  memcpy(&a2, src + 2 * ss, sizeof a2);
  memcpy(&a3, src + 3 * ss, sizeof a3);
  const F32x4 t0 = AVM_SHUFFLE2(I32x4, a0, a1, 0, 4, 1, 5), t1 = AVM_SHUFFLE2(I32x4, a0, a1, 2, 6, 3, 7);
  const F32x4 t2 = AVM_SHUFFLE2(I32x4, a2, a3, 0, 4, 1, 5), t3 = AVM_SHUFFLE2(I32x4, a2, a3, 2, 6, 3, 7);
  F32x4 r[4] = {AVM_SHUFFLE2(I32x4, t0, t2, 0, 1, 4, 5), AVM_SHUFFLE2(I32x4, t0, t2, 2, 3, 6, 7),
                AVM_SHUFFLE2(I32x4, t1, t3, 0, 1, 4, 5), AVM_SHUFFLE2(I32x4, t1, t3, 2, 3, 6, 7)};
  if (kDivide)
    for (int i = 0; i < 4; ++i) r[i] = r[i] / div;
  for (int i = 0; i < 4; ++i) memcpy(dst + i * ds, &r[i], sizeof r[i]);
}

template <int kL>
struct BoxLanes;
template <>
struct BoxLanes<8> {
  typedef float_lanes::F32x8 V;
  template <bool kDivide>
  static void Transpose(const float* src, ptrdiff_t ss, float* dst, ptrdiff_t ds, V div) {
    Transpose8<kDivide>(src, ss, dst, ds, div);
  }
};
template <>
struct BoxLanes<4> {
  typedef F32x4 V;
  template <bool kDivide>
  static void Transpose(const float* src, ptrdiff_t ss, float* dst, ptrdiff_t ds, V div) {
    Transpose4<kDivide>(src, ss, dst, ds, div);
  }
};

// Rows summed along at once by the lane form of the row pass.
constexpr int32_t kBoxLaneRows = 16;

// The running row sums of kBoxLaneRows output rows at once, one row per
// lane: the column sums c[0..15] (pw floats each) are turned into columns
// of 16 (lanes), each lane runs exactly the update order of its own row
// (sum of columns 0..2rx from column 0, then subtract, then add), and the
// sums come back as rows divided by the area. The running sums of a row
// depend on each other, so one row alone waits on every addition; sixteen
// in lanes keep the adder busy and leave no scalar division. The rows c[l]
// lie pw apart. kL floats a vector: 8 where the build has 256-bit
// registers, else 4 (128-bit: SSE, NEON).
template <int kL>
void BoxRowSumsLanesOf(const float* const* c, int32_t pw, float* out, int32_t ow, int32_t w, int32_t rx,
                       float area, float* lanesIn, float* lanesOut) {
  typedef typename BoxLanes<kL>::V V;
  constexpr int kG = kBoxLaneRows / kL;
  V none, div;
  for (int i = 0; i < kL; ++i) {
    none[i] = 1.0f;
    div[i] = area;
  }
  const int32_t blocks = pw / kL * kL;
  for (int32_t g = 0; g < kG; ++g) {
    const float* const* rows = c + kL * g;
    for (int32_t x0 = 0; x0 < blocks; x0 += kL)
      BoxLanes<kL>::template Transpose<false>(rows[0] + x0, pw, lanesIn + static_cast<ptrdiff_t>(x0) * 16 + kL * g,
                                              16, none);
    for (int32_t x = blocks; x < pw; ++x)
      for (int i = 0; i < kL; ++i) lanesIn[static_cast<ptrdiff_t>(x) * 16 + kL * g + i] = rows[i][x];
  }
  V acc[kG], t;
  for (int g = 0; g < kG; ++g) memcpy(&acc[g], lanesIn + kL * g, sizeof acc[g]);
  for (int32_t x = 1; x <= 2 * rx; ++x)
    for (int g = 0; g < kG; ++g) {
      memcpy(&t, lanesIn + 16 * x + kL * g, sizeof t);
      acc[g] += t;
    }
  for (int g = 0; g < kG; ++g) memcpy(lanesOut + kL * g, &acc[g], sizeof acc[g]);
  for (int32_t x = 1; x < w; ++x) {
    const float* leave = lanesIn + static_cast<ptrdiff_t>(x - 1) * 16;
    const float* enter = lanesIn + static_cast<ptrdiff_t>(x + 2 * rx) * 16;
    float* o = lanesOut + static_cast<ptrdiff_t>(x) * 16;
    for (int g = 0; g < kG; ++g) {
      V l, e;
      memcpy(&l, leave + kL * g, sizeof l);
      memcpy(&e, enter + kL * g, sizeof e);
      acc[g] = (acc[g] - l) + e;
      memcpy(o + kL * g, &acc[g], sizeof acc[g]);
    }
  }
  const int32_t outBlocks = w / kL * kL;
  for (int32_t g = 0; g < kG; ++g) {
    float* o = out + static_cast<ptrdiff_t>(kL * g) * ow;
    for (int32_t x0 = 0; x0 < outBlocks; x0 += kL)
      BoxLanes<kL>::template Transpose<true>(lanesOut + static_cast<ptrdiff_t>(x0) * 16 + kL * g, 16, o + x0, ow,
                                             div);
    for (int32_t x = outBlocks; x < w; ++x)
      for (int i = 0; i < kL; ++i)
        o[static_cast<ptrdiff_t>(i) * ow + x] = lanesOut[static_cast<ptrdiff_t>(x) * 16 + kL * g + i] / area;
  }
}

#if defined(__AVX__)
constexpr int kBoxLanes = 8;
#else
constexpr int kBoxLanes = 4;
#endif

inline void BoxRowSumsLanes(const float* const* c, int32_t pw, float* out, int32_t ow, int32_t w, int32_t rx,
                            float area, float* lanesIn, float* lanesOut) {
  BoxRowSumsLanesOf<kBoxLanes>(c, pw, out, ow, w, rx, area, lanesIn, lanesOut);
}

thread_local std::vector<float> tlsBoxSums, tlsBoxLanes, tlsBoxCopy;

// Running-sum window mean, w x h outputs into out (stride ow). rowAt(p)
// gives padded row p; the column sums of a row cover the n columns it
// supplies and sit at cs + lead, the remaining columns of the padded width
// pw replicate the edge sums (a replicated border column has the sums of its
// edge column). Every sum keeps the running update order (subtract, then
// add): the column sums run down the image row by row, the row sums of
// sixteen rows at a time run in lanes (BoxRowSumsLanes), the last rows one
// at a time.
template <typename RowAt>
void BoxMeanCore(RowAt rowAt, int32_t n, int32_t lead, int32_t pw, float* out, int32_t ow, int32_t w, int32_t h,
                 int32_t rx, int32_t ry) {
  const float area = static_cast<float>((2 * rx + 1) * (2 * ry + 1));
  float* cs = row_kernels::Scratch(tlsBoxSums, static_cast<size_t>(kBoxLaneRows) * pw);
  float* lanes = row_kernels::Scratch(tlsBoxLanes, static_cast<size_t>(kBoxLaneRows) * (pw + w));
  float* rows[kBoxLaneRows];
  for (int32_t l = 0; l < kBoxLaneRows; ++l) rows[l] = cs + static_cast<ptrdiff_t>(l) * pw;
  const float* prev = nullptr;
  for (int32_t y0 = 0; y0 < h; y0 += kBoxLaneRows) {
    const int32_t count = h - y0 < kBoxLaneRows ? h - y0 : kBoxLaneRows;
    for (int32_t l = 0; l < count; ++l) {
      const int32_t y = y0 + l;
      float* c = rows[l] + lead;
      if (y == 0) {
        const float* r0 = rowAt(0);
        for (int32_t x = 0; x < n; ++x) c[x] = 0.0f;
        for (int32_t r = 0; r <= 2 * ry; ++r) {
          const float* row = r == 0 ? r0 : rowAt(r);
          for (int32_t x = 0; x < n; ++x) c[x] += row[x];
        }
      } else {
        const float* p = prev + lead;
        const float* leave = rowAt(y - 1);
        const float* enter = rowAt(y + 2 * ry);
        for (int32_t x = 0; x < n; ++x) c[x] = (p[x] - leave[x]) + enter[x];
      }
      for (int32_t i = 0; i < lead; ++i) rows[l][i] = c[0];
      for (int32_t i = lead + n; i < pw; ++i) rows[l][i] = c[n - 1];
      prev = rows[l];
    }
    if (count == kBoxLaneRows) {
      BoxRowSumsLanes(rows, pw, out + static_cast<ptrdiff_t>(y0) * ow, ow, w, rx, area, lanes,
                      lanes + static_cast<ptrdiff_t>(kBoxLaneRows) * pw);
    } else {
      for (int32_t l = 0; l < count; ++l) {
        const float* c = rows[l];
        float* o = out + static_cast<ptrdiff_t>(y0 + l) * ow;
        float s = c[0];
        for (int32_t x = 1; x <= 2 * rx; ++x) s += c[x];
        o[0] = s / area;
        for (int32_t x = 1; x < w; ++x) {
          s = (s - c[x - 1]) + c[x + 2 * rx];
          o[x] = s / area;
        }
      }
    }
    // The next group's first row continues from the last buffer (prev)
    // into rows[0], a different one.
  }
}

// Window mean of src on a replicated border without a padded copy: padded
// row p is source row clamp(p - ry). cs: 4 * (W + 2rx) floats.
void BoxMeanSource(const float* src, int32_t w, int32_t h, float* out, int32_t rx, int32_t ry) {
  auto rowAt = [src, w, h, ry](int32_t p) {
    const int32_t r = p - ry < 0 ? 0 : (p - ry >= h ? h - 1 : p - ry);
    return src + static_cast<ptrdiff_t>(r) * w;
  };
  BoxMeanCore(rowAt, w, rx, w + 2 * rx, out, w, w, h, rx, ry);
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

// Two consecutive output rows at once: rows[1..kCount-1] are shared, out0
// adds rows[0] and out1 rows[kCount]. Every row a parameter of its own,
// marked as not overlapping the outputs, so that the compiler vectorises
// the loop without run-time overlap checks (with an array of row pointers
// it gives up on them and runs it scalar).
template <bool kMax>
void ExtremeOfRowPair3(const float* __restrict a, const float* __restrict b, const float* __restrict c,
                       const float* __restrict d, float start, float* __restrict out0, float* __restrict out1,
                       int32_t w) {
  for (int32_t x = 0; x < w; ++x) {
    const float e = Better<kMax>(Better<kMax>(start, b[x]), c[x]);
    out0[x] = Better<kMax>(e, a[x]);
    out1[x] = Better<kMax>(e, d[x]);
  }
}

template <bool kMax>
void ExtremeOfRowPair5(const float* __restrict a, const float* __restrict b, const float* __restrict c,
                       const float* __restrict d, const float* __restrict e, const float* __restrict f, float start,
                       float* __restrict out0, float* __restrict out1, int32_t w) {
  for (int32_t x = 0; x < w; ++x) {
    const float m = Better<kMax>(Better<kMax>(Better<kMax>(Better<kMax>(start, b[x]), c[x]), d[x]), e[x]);
    out0[x] = Better<kMax>(m, a[x]);
    out1[x] = Better<kMax>(m, f[x]);
  }
}

template <bool kMax>
void ExtremeOfRowPair7(const float* __restrict a, const float* __restrict b, const float* __restrict c,
                       const float* __restrict d, const float* __restrict e, const float* __restrict f,
                       const float* __restrict g, const float* __restrict h, float start, float* __restrict out0,
                       float* __restrict out1, int32_t w) {
  for (int32_t x = 0; x < w; ++x) {
    // One chain from the start value: a pair of source values folded on its
    // own would let a NaN hide its partner.
    float m = Better<kMax>(Better<kMax>(Better<kMax>(start, b[x]), c[x]), d[x]);
    m = Better<kMax>(Better<kMax>(Better<kMax>(m, e[x]), f[x]), g[x]);
    out0[x] = Better<kMax>(m, a[x]);
    out1[x] = Better<kMax>(m, h[x]);
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
  if (K == 7) {
    for (int32_t x = 0; x < w; ++x) {
      const float a = Better<kMax>(padded[x], padded[x + 1]), b = Better<kMax>(padded[x + 2], padded[x + 3]);
      const float c = Better<kMax>(padded[x + 4], padded[x + 5]);
      out[x] = Better<kMax>(Better<kMax>(a, b), Better<kMax>(c, padded[x + 6]));
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
  float* work = row_kernels::Scratch(rowsWork, static_cast<size_t>(K + 1) * w + 2 * pw);
  float* suffix = work;
  float* prefix = work + static_cast<ptrdiff_t>(K) * w;
  float* padded = prefix + w;
  float* padded2 = padded + pw;
  auto horizontalIn = [&](float* buffer, int32_t y, const float* v) {
    if (v != buffer + rx) memcpy(buffer + rx, v, sizeof(float) * w);
    for (int32_t i = 0; i < rx; ++i) {
      buffer[i] = v[0];
      buffer[rx + w + i] = v[w - 1];
    }
    HorizontalExtremes<kMax>(buffer, w, rx, dst->data + static_cast<ptrdiff_t>(y) * w);
  };
  auto horizontal = [&](int32_t y, const float* v) { horizontalIn(padded, y, v); };
  if (ry <= 3) {
    // Small windows: the rows of each output row directly, two output rows
    // at a time sharing the 2ry rows both reach.
    const float* rows[8];
    auto rowAt = [&](int32_t r) { return s + static_cast<ptrdiff_t>(r < 0 ? 0 : (r >= h ? h - 1 : r)) * w; };
    int32_t y = 0;
    if (ry > 0) {
      for (; y + 1 < h; y += 2) {
        for (int32_t j = 0; j <= K; ++j) rows[j] = rowAt(y + j - ry);
        if (ry == 1) ExtremeOfRowPair3<kMax>(rows[0], rows[1], rows[2], rows[3], start, padded + rx, padded2 + rx, w);
        if (ry == 2)
          ExtremeOfRowPair5<kMax>(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], start, padded + rx,
                                  padded2 + rx, w);
        if (ry == 3)
          ExtremeOfRowPair7<kMax>(rows[0], rows[1], rows[2], rows[3], rows[4], rows[5], rows[6], rows[7], start,
                                  padded + rx, padded2 + rx, w);
        horizontalIn(padded, y, padded + rx);
        horizontalIn(padded2, y + 1, padded2 + rx);
      }
    }
    for (; y < h; ++y) {
      for (int32_t j = 0; j < K; ++j) rows[j] = rowAt(y + j - ry);
      if (ry == 0) ExtremeOfRows<kMax, 1>(rows, start, padded + rx, w);
      if (ry == 1) ExtremeOfRows<kMax, 3>(rows, start, padded + rx, w);
      if (ry == 2) ExtremeOfRows<kMax, 5>(rows, start, padded + rx, w);
      if (ry == 3) ExtremeOfRows<kMax, 7>(rows, start, padded + rx, w);
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

void Image_BoxMeanPadded(const Matrix* padded, Matrix* dst, int32_t rx, int32_t ry) {
  if (EmptyMatrix(dst)) return;
  const int32_t pw = padded->cols;
  const float* data = padded->data;
  auto rowAt = [data, pw](int32_t p) { return data + static_cast<ptrdiff_t>(p) * pw; };
  BoxMeanCore(rowAt, pw, 0, pw, dst->data, dst->cols, dst->cols, dst->rows, rx, ry);
}

void Image_BoxMeanBuffered(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry, float* work) {
  if (EmptyMatrix(src)) return;
  const int32_t w = src->cols, h = src->rows;
  const float* s = src->data;
  // Output rows are written while later ones still read the source: an
  // in-place call works from a copy (the caller's work block).
  if (row_kernels::Overlap(s, dst->data, static_cast<size_t>(w) * h)) {
    memcpy(work, s, sizeof(float) * static_cast<size_t>(w) * h);
    s = work;
  }
  BoxMeanSource(s, w, h, dst->data, rx, ry);
}

void Image_BoxMean(const Matrix* src, Matrix* dst, int32_t rx, int32_t ry) {
  if (EmptyMatrix(src)) return;
  const int32_t w = src->cols, h = src->rows;
  const size_t n = static_cast<size_t>(w) * h;
  const float* s = src->data;
  if (row_kernels::Overlap(s, dst->data, n)) {
    float* copy = row_kernels::Scratch(tlsBoxCopy, n);
    memcpy(copy, s, sizeof(float) * n);
    s = copy;
  }
  BoxMeanSource(s, w, h, dst->data, rx, ry);
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
