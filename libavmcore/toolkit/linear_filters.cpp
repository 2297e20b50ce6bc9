#include "toolkit/linear_filters.h"
#include "toolkit/code_path.h"

#include <cstddef>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/row_kernels.h"

namespace {

using row_kernels::CorrelateAbsRows;

// Vertical then horizontal taps of one output row (row buffer: source width).
template <int kTaps>
void SepRow(const float* const* rows, const float* hk, const float* vk, float* buffer, int32_t sw, float* out,
            int32_t w) {
  row_kernels::WeightedRows<kTaps>(rows, vk, buffer, sw);
  row_kernels::WeightedShifts<kTaps>(buffer, hk, out, w);
}

void SepRowN(const float* const* rows, int32_t taps, const float* hk, const float* vk, float* buffer, int32_t sw,
             float* out, int32_t w) {
  switch (taps) {
    case 3: SepRow<3>(rows, hk, vk, buffer, sw, out, w); return;
    case 5: SepRow<5>(rows, hk, vk, buffer, sw, out, w); return;
    case 7: SepRow<7>(rows, hk, vk, buffer, sw, out, w); return;
    case 9: SepRow<9>(rows, hk, vk, buffer, sw, out, w); return;
    case 11: SepRow<11>(rows, hk, vk, buffer, sw, out, w); return;
    default: break;
  }
  row_kernels::WeightedRowsN(rows, vk, taps, buffer, sw);
  row_kernels::WeightedShiftsN(buffer, hk, taps, out, w);
}

thread_local std::vector<float> tlsRows;

// The radial 5 x 5 correlation is bound by its 25 dependent multiply-adds
// per output, which the fixed summation order keeps: several output rows
// per pass share each loaded source vector and keep enough chains in
// flight. On x86-64 machines with 512-bit registers twice the lanes go
// through each instruction; the other machines run the portable eight-lane
// form. Both give the same bits. Four rows per pass of four 16-lane or two
// 8-lane groups: 16 or 8 sums in flight (the 8-lane form fits the sixteen
// AVX registers and the 32 NEON registers).
constexpr int32_t kRadialRows = 4, kRadialGroups16 = 4, kRadialGroups8 = 2;

std::atomic<int32_t> gLaneLimit{16};

template <int kL, int kR, int kG>
__attribute__((always_inline)) inline void RadialRowsLanes(int32_t count, const float* const* rows,
                                                           const float weights[6], float* const* out, int32_t n,
                                                           const float* const* next) {
  if (count == kR) {
    row_kernels::CorrelateAbsRowsRadial5Lanes<kL, kR, kG>(rows, weights, out, n, next);
    return;
  }
  // The last rows of the picture one at a time.
  for (int32_t r = 0; r < count; ++r)
    row_kernels::CorrelateAbsRowsRadial5Lanes<kL, 1, kG>(rows + r, weights, out + r, n, nullptr);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target("avx512f"))) void RadialRowsWide(int32_t count, const float* const* rows,
                                                       const float weights[6], float* const* out, int32_t n,
                                                       const float* const* next) {
  RadialRowsLanes<16, kRadialRows, kRadialGroups16>(count, rows, weights, out, n, next);
}

bool WideRegisters() {
  return CodePath_WideForms() != 0 && gLaneLimit.load(std::memory_order_relaxed) >= 16;
}

int32_t RadialBlock() { return WideRegisters() ? 16 * kRadialGroups16 : float_lanes::kLanes * kRadialGroups8; }

void RadialRows(int32_t count, const float* const* rows, const float weights[6], float* const* out, int32_t n,
                const float* const* next) {
  if (WideRegisters())
    RadialRowsWide(count, rows, weights, out, n, next);
  else
    RadialRowsLanes<float_lanes::kLanes, kRadialRows, kRadialGroups8>(count, rows, weights, out, n, next);
}
#else
int32_t RadialBlock() { return float_lanes::kLanes * kRadialGroups8; }

void RadialRows(int32_t count, const float* const* rows, const float weights[6], float* const* out, int32_t n,
                const float* const* next) {
  RadialRowsLanes<float_lanes::kLanes, kRadialRows, kRadialGroups8>(count, rows, weights, out, n, next);
}
#endif

}  // namespace

void LinearFilters_LimitLanes(int32_t lanes) { gLaneLimit.store(lanes); }

void Image_SepFilter3x3(const Matrix* src, Matrix* dst, const float hk[3], const float vk[3],
                        float* buffer) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w < 1 || h < 1) return;
  const int32_t sw = src->cols;
  for (int32_t y = 0; y < h; ++y) {
    const float* r0 = src->data + static_cast<ptrdiff_t>(y) * sw;
    const float* rows[3] = {r0, r0 + sw, r0 + 2 * sw};
    SepRow<3>(rows, hk, vk, buffer, w + 2, dst->data + static_cast<ptrdiff_t>(y) * w, w);
  }
}

void Image_SepFilter(const Matrix* src, Matrix* dst, int32_t k, const float* hk, const float* vk) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w < 1 || h < 1 || k < 0) return;
  const int32_t sw = src->cols;
  const int32_t taps = 2 * k + 1;
  std::vector<float> buffer(static_cast<size_t>(sw));
  std::vector<const float*> rows(static_cast<size_t>(taps));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t j = 0; j < taps; ++j) rows[j] = src->data + static_cast<ptrdiff_t>(y + j) * sw;
    SepRowN(rows.data(), taps, hk, vk, buffer.data(), sw, dst->data + static_cast<ptrdiff_t>(y) * w, w);
  }
}

void Image_SepFilterReplicate(const Matrix* src, Matrix* dst, int32_t k, const float* hk, const float* vk) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1 || k < 0) return;
  const size_t n = static_cast<size_t>(w) * h;
  const float* s = src->data;
  thread_local std::vector<float> copy;
  // Output rows are written while later ones still read the source.
  if (row_kernels::Overlap(s, dst->data, n)) {
    s = row_kernels::Scratch(copy, n);
    memcpy(copy.data(), src->data, sizeof(float) * n);
  }
  const int32_t taps = 2 * k + 1, sw = w + 2 * k;
  float* buffer = row_kernels::Scratch(tlsRows, static_cast<size_t>(sw));
  std::vector<const float*> rows(static_cast<size_t>(taps));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t j = 0; j < taps; ++j) {
      const int32_t r = y + j - k;
      rows[j] = s + static_cast<ptrdiff_t>(r < 0 ? 0 : (r >= h ? h - 1 : r)) * w;
    }
    // The vertical taps of the replicated border columns equal those of the
    // edge columns.
    float* out = dst->data + static_cast<ptrdiff_t>(y) * w;
    switch (taps) {
      case 3: row_kernels::WeightedRows<3>(rows.data(), vk, buffer + k, w); break;
      case 5: row_kernels::WeightedRows<5>(rows.data(), vk, buffer + k, w); break;
      case 7: row_kernels::WeightedRows<7>(rows.data(), vk, buffer + k, w); break;
      case 9: row_kernels::WeightedRows<9>(rows.data(), vk, buffer + k, w); break;
      case 11: row_kernels::WeightedRows<11>(rows.data(), vk, buffer + k, w); break;
      default: row_kernels::WeightedRowsN(rows.data(), vk, taps, buffer + k, w); break;
    }
    for (int32_t i = 0; i < k; ++i) {
      buffer[i] = buffer[k];
      buffer[k + w + i] = buffer[k + w - 1];
    }
    switch (taps) {
      case 3: row_kernels::WeightedShifts<3>(buffer, hk, out, w); break;
      case 5: row_kernels::WeightedShifts<5>(buffer, hk, out, w); break;
      case 7: row_kernels::WeightedShifts<7>(buffer, hk, out, w); break;
      case 9: row_kernels::WeightedShifts<9>(buffer, hk, out, w); break;
      case 11: row_kernels::WeightedShifts<11>(buffer, hk, out, w); break;
      default: row_kernels::WeightedShiftsN(buffer, hk, taps, out, w); break;
    }
  }
}

void Image_CorrelateAbs(const Matrix* src, Matrix* dst, const Matrix* kernel) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w < 1 || h < 1) return;
  const int32_t kw = kernel->cols, kh = kernel->rows;
  if (kw < 1 || kh < 1) {
    for (int32_t i = 0; i < w * h; ++i) dst->data[i] = 0.0f;
    return;
  }
  std::vector<const float*> rows(static_cast<size_t>(kh));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t j = 0; j < kh; ++j) rows[j] = src->data + static_cast<ptrdiff_t>(y + j) * src->cols;
    CorrelateAbsRows(rows.data(), kernel->data, kw, kh, dst->data + static_cast<ptrdiff_t>(y) * w, w);
  }
}

void Image_CorrelateAbsReplicate(const Matrix* src, Matrix* dst, const Matrix* kernel) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  const int32_t kw = kernel->cols, kh = kernel->rows;
  if (kw < 1 || kh < 1) {
    for (int32_t i = 0; i < w * h; ++i) dst->data[i] = 0.0f;
    return;
  }
  const int32_t px = kw / 2, py = kh / 2;
  const size_t n = static_cast<size_t>(w) * h;
  const float* s = src->data;
  thread_local std::vector<float> copy;
  if (row_kernels::Overlap(s, dst->data, n)) {
    s = row_kernels::Scratch(copy, n);
    memcpy(copy.data(), src->data, sizeof(float) * n);
  }
  float radial[6];
  if (kw == 5 && kh == 5 && row_kernels::RadialWeights5(kernel->data, radial)) {
    // Radial 5 x 5 kernels (the Gaussian's) kRadialRows output rows at a
    // time. The columns whose taps stay inside the picture read the source
    // rows in place; the first block of columns and the last few read short
    // padded copies of the row ends, kept in a ring (padded row p, source
    // row p - 2 clamped, in slot p % slots). Narrow pictures take whole
    // padded rows. The source rows of the next pass are prefetched while
    // this one runs.
    const int32_t slots = kRadialRows + 4, block = RadialBlock();
    auto source = [&](int32_t p) {
      const int32_t r = p - 2 < 0 ? 0 : (p - 2 >= h ? h - 1 : p - 2);
      return s + static_cast<ptrdiff_t>(r) * w;
    };
    // Columns [0, left) from the left copies, [left, right) in place,
    // [right, w) from the right copies; in-place blocks read up to 2 columns
    // past their end.
    const bool inPlace = w >= block + 2;
    const int32_t left = inPlace ? block : 0;
    const int32_t right = inPlace ? left + (w - 2 - left) / block * block : 0;
    const int32_t leftW = left + 4, rightW = w - right + 4;
    float* ring = row_kernels::Scratch(tlsRows, static_cast<size_t>(leftW + rightW) * slots);
    auto fill = [&](int32_t p) {
      const float* sr = source(p);
      float* d = ring + static_cast<ptrdiff_t>(p % slots) * (leftW + rightW);
      if (inPlace) {
        d[0] = d[1] = sr[0];
        memcpy(d + 2, sr, sizeof(float) * (left + 2));
        d += leftW;
      }
      const int32_t from = right - 2 < 0 ? 0 : right - 2;
      for (int32_t i = 0; i < from - (right - 2); ++i) d[i] = sr[0];
      memcpy(d + (from - (right - 2)), sr + from, sizeof(float) * (w - from));
      d[rightW - 2] = d[rightW - 1] = sr[w - 1];
    };
    for (int32_t p = 0; p < 4; ++p) fill(p);
    const float *leftRows[kRadialRows + 4], *midRows[kRadialRows + 4], *rightRows[kRadialRows + 4];
    const float* next[kRadialRows];
    float *out[kRadialRows], *outMid[kRadialRows], *outRight[kRadialRows];
    for (int32_t y = 0; y < h; y += kRadialRows) {
      const int32_t count = h - y < kRadialRows ? h - y : kRadialRows;
      for (int32_t p = y + 4; p < y + 4 + count; ++p) fill(p);
      for (int32_t j = 0; j < count + 4; ++j) {
        const float* d = ring + static_cast<ptrdiff_t>((y + j) % slots) * (leftW + rightW);
        leftRows[j] = d;
        rightRows[j] = inPlace ? d + leftW : d;
        midRows[j] = inPlace ? source(y + j) + left - 2 : d;
      }
      for (int32_t r = 0; r < count; ++r) {
        out[r] = dst->data + static_cast<ptrdiff_t>(y + r) * w;
        outMid[r] = out[r] + left;
        outRight[r] = out[r] + right;
        next[r] = source(y + 4 + kRadialRows + r);
      }
      if (inPlace) {
        RadialRows(count, leftRows, radial, out, left, nullptr);
        RadialRows(count, midRows, radial, outMid, right - left, y + kRadialRows < h ? next : nullptr);
      }
      RadialRows(count, rightRows, radial, outRight, w - right, nullptr);
    }
    return;
  }
  // A ring of kh + 1 padded rows: padded row p sits in slot p % (kh + 1).
  const int32_t pw = w + kw - 1, slots = kh + 1;
  float* ring = row_kernels::Scratch(tlsRows, static_cast<size_t>(pw) * slots);
  auto fill = [&](int32_t p) {
    const int32_t r = p - py < 0 ? 0 : (p - py >= h ? h - 1 : p - py);
    const float* sr = s + static_cast<ptrdiff_t>(r) * w;
    float* d = ring + static_cast<ptrdiff_t>(p % slots) * pw;
    for (int32_t i = 0; i < px; ++i) d[i] = sr[0];
    memcpy(d + px, sr, sizeof(float) * w);
    for (int32_t i = px + w; i < pw; ++i) d[i] = sr[w - 1];
  };
  std::vector<const float*> rows(static_cast<size_t>(slots));
  for (int32_t p = 0; p < kh - 1; ++p) fill(p);
  for (int32_t y = 0; y < h; ++y) {
    fill(y + kh - 1);
    for (int32_t j = 0; j < kh; ++j) rows[j] = ring + static_cast<ptrdiff_t>((y + j) % slots) * pw;
    CorrelateAbsRows(rows.data(), kernel->data, kw, kh, dst->data + static_cast<ptrdiff_t>(y) * w, w);
  }
}

void Image_CorrelateAbsSame(const Matrix* src, Matrix* dst, const Matrix* kernel) {
  if (src->cols < 1 || src->rows < 1) return;
  if (kernel->cols == kernel->rows) {
    Image_CorrelateAbsReplicate(src, dst, kernel);
    return;
  }
  const int32_t p = kernel->cols / 2;
  std::vector<float> block(static_cast<size_t>(src->cols + 2 * p) * (src->rows + 2 * p));
  Matrix padded{src->cols + 2 * p, src->rows + 2 * p, block.data()};
  Matrix_PadReplicate(src, &padded, p, p);
  Image_CorrelateAbs(&padded, dst, kernel);
}

namespace {

inline void SobelRowApart(const float* up, const float* mid, const float* dn, float* __restrict ox,
                          float* __restrict oy, int32_t w, float scale) {
  for (int32_t x = 1; x <= w - 2; ++x) {
    const float nw = up[x - 1], nn = up[x], ne = up[x + 1];
    const float wv = mid[x - 1], e = mid[x + 1];
    const float sw = dn[x - 1], s = dn[x], se = dn[x + 1];
    ox[x] = scale * ((ne + 2.0f * e + se) - (nw + 2.0f * wv + sw));
    oy[x] = scale * ((sw + 2.0f * s + se) - (nw + 2.0f * nn + ne));
  }
}

}  // namespace

void Image_SobelRow(const float* up, const float* mid, const float* dn, float* ox, float* oy, int32_t w,
                    float scale) {
  const size_t n = static_cast<size_t>(w);
  auto apart = [n, up, mid, dn](const float* o) {
    return !row_kernels::Overlap(o, up, n) && !row_kernels::Overlap(o, mid, n) && !row_kernels::Overlap(o, dn, n);
  };
  if (!row_kernels::Overlap(ox, oy, n) && apart(ox) && apart(oy)) {
    SobelRowApart(up, mid, dn, ox, oy, w, scale);
    return;
  }
  float bx[row_kernels::kRowBlock], by[row_kernels::kRowBlock];
  // Blocks through local arrays: ox and oy may be the same row.
  for (int32_t x0 = 1; x0 <= w - 2; x0 += row_kernels::kRowBlock) {
    const int32_t n = w - 1 - x0 < row_kernels::kRowBlock ? w - 1 - x0 : row_kernels::kRowBlock;
    for (int32_t l = 0; l < n; ++l) {
      const int32_t x = x0 + l;
      const float nw = up[x - 1], nn = up[x], ne = up[x + 1];
      const float wv = mid[x - 1], e = mid[x + 1];
      const float sw = dn[x - 1], s = dn[x], se = dn[x + 1];
      bx[l] = scale * ((ne + 2.0f * e + se) - (nw + 2.0f * wv + sw));
      by[l] = scale * ((sw + 2.0f * s + se) - (nw + 2.0f * nn + ne));
    }
    memcpy(ox + x0, bx, sizeof(float) * n);
    memcpy(oy + x0, by, sizeof(float) * n);
  }
}

void Image_SobelRows(const Matrix* src, Matrix* gx, Matrix* gy, float scale, int32_t y0, int32_t y1) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 3 || h < 3) return;
  if (y0 < 1) y0 = 1;
  if (y1 > h - 1) y1 = h - 1;
  // Whole rows of one image: rows addressed from one base (the compiler
  // vectorises this form best).
  const float* d = src->data;
  for (int32_t y = y0; y < y1; ++y) {
    for (int32_t x = 1; x <= w - 2; ++x) {
      const ptrdiff_t i = static_cast<ptrdiff_t>(y) * w + x;
      const float nw = d[i - w - 1], n = d[i - w], ne = d[i - w + 1];
      const float wv = d[i - 1], e = d[i + 1];
      const float sw = d[i + w - 1], s = d[i + w], se = d[i + w + 1];
      gx->data[i] = scale * ((ne + 2.0f * e + se) - (nw + 2.0f * wv + sw));
      gy->data[i] = scale * ((sw + 2.0f * s + se) - (nw + 2.0f * n + ne));
    }
  }
}

void Image_Sobel(const Matrix* src, Matrix* gx, Matrix* gy, float scale) {
  Image_SobelRows(src, gx, gy, scale, 1, src->rows - 1);
}

void Image_SobelMagnitude(const Matrix* src, Matrix* dst) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  const size_t n = static_cast<size_t>(w) * h;
  const float* s = src->data;
  thread_local std::vector<float> copy;
  if (row_kernels::Overlap(s, dst->data, n)) {
    s = row_kernels::Scratch(copy, n);
    memcpy(copy.data(), src->data, sizeof(float) * n);
  }
  // Row by row on a replicated border: the vertical taps of the border
  // columns equal those of the edge columns, so only the w + 2 row buffers
  // of the two 3 x 3 separable filters are needed.
  float* work = row_kernels::Scratch(tlsRows, 4 * static_cast<size_t>(w + 2));
  float* bx = work;
  float* by = work + (w + 2);
  float* gx = work + 2 * (w + 2);
  float* gy = work + 3 * (w + 2);
  const float diff[3] = {-1.0f, 0.0f, 1.0f};
  const float smooth[3] = {0.25f, 0.5f, 0.25f};
  float largest = 0.0f;
  float lanes[row_kernels::kRowBlock] = {};
  for (int32_t y = 0; y < h; ++y) {
    const float* rows[3] = {s + static_cast<ptrdiff_t>(y > 0 ? y - 1 : 0) * w, s + static_cast<ptrdiff_t>(y) * w,
                            s + static_cast<ptrdiff_t>(y + 1 < h ? y + 1 : h - 1) * w};
    row_kernels::WeightedRows<3>(rows, smooth, bx + 1, w);
    row_kernels::WeightedRows<3>(rows, diff, by + 1, w);
    bx[0] = bx[1];
    bx[w + 1] = bx[w];
    by[0] = by[1];
    by[w + 1] = by[w];
    row_kernels::WeightedShifts<3>(bx, diff, gx, w);
    row_kernels::WeightedShifts<3>(by, smooth, gy, w);
    float* o = dst->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) o[x] = std::sqrt(float_lanes::MulAdd(gx[x], gx[x], gy[x] * gy[x]));
    // Running maximum from 0.0 (a NaN never replaces it), kept per lane.
    int32_t x = 0;
    for (; x + row_kernels::kRowBlock <= w; x += row_kernels::kRowBlock)
      for (int l = 0; l < row_kernels::kRowBlock; ++l) lanes[l] = o[x + l] > lanes[l] ? o[x + l] : lanes[l];
    for (; x < w; ++x) largest = o[x] > largest ? o[x] : largest;
  }
  for (float v : lanes) largest = v > largest ? v : largest;
  // A flat image has no gradient: leave its zeros rather than divide by 0.
  if (largest > 0.0f) {
    const float inv = 1.0f / largest;
    for (size_t i = 0; i < n; ++i) dst->data[i] *= inv;
  }
}
