#pragma once
// Row loops shared by the window filters. Each output element keeps the
// exact operation order of the scalar definition (first tap a product, then
// one fused multiply-add per further tap), with straight loops across x that
// GCC and Clang vectorise (NEON on the target, AVX on x86-64 build
// machines).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "toolkit/float_lanes.h"
#include "toolkit/vector_shuffle.h"

namespace row_kernels {

constexpr int32_t kRowBlock = 32;

// out[x] = taps[0] * rows[0][x], then s = fma(taps[j], rows[j][x], s) for
// j = 1 .. kTaps-1; x = 0 .. n-1. The tap loop unrolls completely and the x
// loop vectorises (out is written through no other pointer).
template <int kTaps>
inline void WeightedRows(const float* const* rows, const float* taps, float* __restrict out, int32_t n) {
  const float* r[kTaps];
  float t[kTaps];
  for (int j = 0; j < kTaps; ++j) {
    r[j] = rows[j];
    t[j] = taps[j];
  }
  for (int32_t x = 0; x < n; ++x) {
    float s = t[0] * r[0][x];
    for (int j = 1; j < kTaps; ++j) s = float_lanes::MulAdd(t[j], r[j][x], s);
    out[x] = s;
  }
}

// Run-time tap count form of WeightedRows: one pass over the row per tap.
inline void WeightedRowsN(const float* const* rows, const float* taps, int32_t count, float* __restrict out,
                          int32_t n) {
  const float t0 = taps[0];
  const float* r0 = rows[0];
  for (int32_t x = 0; x < n; ++x) out[x] = t0 * r0[x];
  for (int32_t j = 1; j < count; ++j) {
    const float t = taps[j];
    const float* r = rows[j];
    for (int32_t x = 0; x < n; ++x) out[x] = float_lanes::MulAdd(t, r[x], out[x]);
  }
}

// out[x] = taps[0] * row[x], then s = fma(taps[i], row[x + i], s); row holds
// n + kTaps - 1 elements.
template <int kTaps>
inline void WeightedShifts(const float* row, const float* taps, float* __restrict out, int32_t n) {
  float t[kTaps];
  for (int i = 0; i < kTaps; ++i) t[i] = taps[i];
  for (int32_t x = 0; x < n; ++x) {
    float s = t[0] * row[x];
    for (int i = 1; i < kTaps; ++i) s = float_lanes::MulAdd(t[i], row[x + i], s);
    out[x] = s;
  }
}

inline void WeightedShiftsN(const float* row, const float* taps, int32_t count, float* __restrict out, int32_t n) {
  const float t0 = taps[0];
  for (int32_t x = 0; x < n; ++x) out[x] = t0 * row[x];
  for (int32_t i = 1; i < count; ++i) {
    const float t = taps[i];
    const float* r = row + i;
    for (int32_t x = 0; x < n; ++x) out[x] = float_lanes::MulAdd(t, r[x], out[x]);
  }
}

// 2-D correlation of kh rows: out[x] = |sum over j < kh, i < kw of
// rows[j][x + i] * kernel[j * kw + i]|, summed from 0 with one fused
// multiply-add per tap, row by row (each row holds n + kw - 1 elements).
// Square kernels: four groups of eight outputs at a time, each with its own
// running sum, so that four chains of fused multiply-adds are in flight
// (one chain of kSide * kSide dependent steps per output is the cost).
// Per output the sum order is the scalar one.
template <int kSide>
inline void CorrelateAbsRowsSquare(const float* const* rows, const float* kernel, float* __restrict out,
                                   int32_t n) {
  using float_lanes::F32x8;
  constexpr int L = float_lanes::kLanes;
  const float* r[kSide];
  F32x8 k[kSide * kSide];
  for (int j = 0; j < kSide; ++j) r[j] = rows[j];
  for (int i = 0; i < kSide * kSide; ++i) float_lanes::Splat(&k[i], kernel[i]);
  int32_t x = 0;
  for (; x + 4 * L <= n; x += 4 * L) {
    F32x8 s0, s1, s2, s3, v0, v1, v2, v3;
    float_lanes::Splat(&s0, 0.0f);
    s1 = s2 = s3 = s0;
    for (int j = 0; j < kSide; ++j) {
      const float* p = r[j] + x;
      for (int i = 0; i < kSide; ++i) {
        const F32x8 t = k[j * kSide + i];
        float_lanes::Load(&v0, p + i);
        float_lanes::Load(&v1, p + i + L);
        float_lanes::Load(&v2, p + i + 2 * L);
        float_lanes::Load(&v3, p + i + 3 * L);
        s0 = v0 * t + s0;
        s1 = v1 * t + s1;
        s2 = v2 * t + s2;
        s3 = v3 * t + s3;
      }
    }
    float_lanes::StoreAbs(out + x, &s0);
    float_lanes::StoreAbs(out + x + L, &s1);
    float_lanes::StoreAbs(out + x + 2 * L, &s2);
    float_lanes::StoreAbs(out + x + 3 * L, &s3);
  }
  for (; x < n; ++x) {
    float s = 0.0f;
    for (int j = 0; j < kSide; ++j)
      for (int i = 0; i < kSide; ++i) s = float_lanes::MulAdd(r[j][x + i], kernel[j * kSide + i], s);
    out[x] = std::fabs(s);
  }
}

// True when a 5 x 5 kernel's weights depend only on the squared distance
// from its centre (as a Gaussian's do): six distinct weights, listed in
// weights[] in the order of kRing5.
constexpr int kRing5[25] = {5, 4, 3, 4, 5, 4, 2, 1, 2, 4, 3, 1, 0, 1, 3, 4, 2, 1, 2, 4, 5, 4, 3, 4, 5};
inline bool RadialWeights5(const float* kernel, float weights[6]) {
  for (int i = 0; i < 25; ++i) weights[kRing5[i]] = kernel[i];
  for (int i = 0; i < 25; ++i)
    if (!(kernel[i] == weights[kRing5[i]])) return false;
  return true;
}

typedef int32_t Mask16 __attribute__((vector_size(64)));

// *v = lanes i .. i + 15 of the 32 lanes of *a then *b, for i = 0 .. 4.
template <class V>
__attribute__((always_inline)) inline void ShiftIn16(V* v, const V* a, const V* b, int i) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
  // One valignd (lanes i.. of b:a); GCC's own two-source permute overwrites
  // a source and needs a register copy besides (Clang picks valignd itself
  // and checks the operand size before inlining, so it keeps the shuffle).
  switch (i) {
    case 0: *v = *a; return;
    case 1: __asm__("valignd $1, %1, %2, %0" : "=v"(*v) : "v"(*a), "v"(*b)); return;
    case 2: __asm__("valignd $2, %1, %2, %0" : "=v"(*v) : "v"(*a), "v"(*b)); return;
    case 3: __asm__("valignd $3, %1, %2, %0" : "=v"(*v) : "v"(*a), "v"(*b)); return;
    default: __asm__("valignd $4, %1, %2, %0" : "=v"(*v) : "v"(*a), "v"(*b)); return;
  }
#endif
  switch (i) {
    case 0: *v = *a; return;
    case 1: *v = AVM_SHUFFLE2(Mask16, *a, *b, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16); return;
    case 2: *v = AVM_SHUFFLE2(Mask16, *a, *b, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17); return;
    case 3: *v = AVM_SHUFFLE2(Mask16, *a, *b, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18); return;
    default: *v = AVM_SHUFFLE2(Mask16, *a, *b, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19); return;
  }
}

// kR output rows of the 5 x 5 correlation of a radial kernel from kR + 4
// rows (rows[r .. r + 4] for out[r]): each loaded vector of a source row
// feeds the sums of every output row it is a tap of, so the loads are
// shared and kR * kG independent chains of fused multiply-adds hide their
// latency. Per output the sum order is the scalar one, fma(src, w, s) tap
// by tap from s = 0: the first tap is written as a fused multiply-add to a
// zero vector, so that every step is a multiply added to a sum and the
// compiler cannot fuse the other product of "a * b + c * d" instead.
// kL lanes per vector: 8 in the portable form; a caller compiled for wider
// registers may take 16 (the lanes are independent, so the results are the
// same). Always inlined, so that the caller's instruction set applies.
// next[0 .. kR - 1], when not null, are source rows the caller reads next:
// they are prefetched while the sums run, so that copying them in finds
// them in the cache.
template <int kL, int kR, int kG>
__attribute__((always_inline)) inline int32_t CorrelateAbsRowsRadial5Block(const float* const* rows,
                                                                          const float weights[6],
                                                                          float* const* out, int32_t x,
                                                                          int32_t n, const float* const* next) {
  typedef typename float_lanes::Lanes<kL>::F V;
  typedef typename float_lanes::Lanes<kL>::U U;
  // Tap rows 1 and 3 have the same weights, and one pass may multiply the
  // same source vector by both: a compiler that shares that product
  // (Clang does) no longer fuses it into the sums. Row 3 takes its weights
  // from a copy the compiler cannot see to be equal. GCC fuses a shared
  // product into every sum that uses it, and without the copy the eight
  // sums of the 8-lane form and their weights fit the sixteen AVX
  // registers (with the copy they spill).
#if defined(__clang__)
  constexpr bool kSeparateRow3Weights = true;
#else
  constexpr bool kSeparateRow3Weights = false;
#endif
  V k[6], k3[6], zero;
  float copy[6];
  memcpy(copy, weights, sizeof copy);
  __asm__ volatile("" : : "r"(copy) : "memory");
  for (int i = 0; i < 6; ++i) {
    float lanes[kL];
    for (int l = 0; l < kL; ++l) lanes[l] = weights[i];
    memcpy(&k[i], lanes, sizeof k[i]);
    for (int l = 0; l < kL; ++l) lanes[l] = copy[i];
    memcpy(&k3[i], lanes, sizeof k3[i]);
  }
  {
    float lanes[kL] = {};
    memcpy(&zero, lanes, sizeof zero);
  }
  for (; x + kG * kL <= n; x += kG * kL) {
    if (next != nullptr)
      for (int r = 0; r < kR; ++r)
        for (int g = 0; g < kG * kL; g += 16) __builtin_prefetch(next[r] + x + g);
    V acc[kR][kG] = {}, v;
#pragma GCC unroll 16
    for (int m = 0; m < kR + 4; ++m) {
      const float* p = rows[m] + x;
      // 16 lanes: the vectors at p + i + g * 16 from the kG + 1 vectors at
      // p + g * 16 by lane shifts, one load per vector instead of five.
      V c[kG + 1];
      if constexpr (kL == 16) {
        for (int g = 0; g < kG; ++g) memcpy(&c[g], p + g * kL, sizeof c[g]);
        // The four values after the last vector, from a load ending with
        // them (nothing past the row is read).
        memcpy(&v, p + kG * kL + 4 - kL, sizeof v);
        c[kG] = AVM_SHUFFLE1(Mask16, v, 12, 13, 14, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
      }
#pragma GCC unroll 5
      for (int i = 0; i < 5; ++i) {
#pragma GCC unroll 4
        for (int g = 0; g < kG; ++g) {
          if constexpr (kL == 16)
            ShiftIn16(&v, &c[g], &c[g + 1], i);
          else
            memcpy(&v, p + i + g * kL, sizeof v);
#pragma GCC unroll 16
          for (int r = 0; r < kR; ++r) {
            const int j = m - r;
            if (j < 0 || j > 4) continue;
            const V& t = (kSeparateRow3Weights && j == 3 ? k3 : k)[kRing5[j * 5 + i]];
            acc[r][g] = v * t + (j == 0 && i == 0 ? zero : acc[r][g]);
          }
        }
      }
    }
    for (int r = 0; r < kR; ++r)
      for (int g = 0; g < kG; ++g) {
        U bits;
        memcpy(&bits, &acc[r][g], sizeof bits);
        bits &= 0x7FFFFFFFu;
        memcpy(out[r] + x + g * kL, &bits, sizeof bits);
      }
  }
  return x;
}

template <int kL, int kR, int kG>
__attribute__((always_inline)) inline void CorrelateAbsRowsRadial5Lanes(const float* const* rows,
                                                                       const float weights[6], float* const* out,
                                                                       int32_t n, const float* const* next) {
  int32_t x = CorrelateAbsRowsRadial5Block<kL, kR, kG>(rows, weights, out, 0, n, next);
  if constexpr (kG > 1) x = CorrelateAbsRowsRadial5Block<kL, kR, 1>(rows, weights, out, x, n, nullptr);
  for (; x < n; ++x)
    for (int r = 0; r < kR; ++r) {
      float s = 0.0f;
      for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i) s = float_lanes::MulAdd(rows[r + j][x + i], weights[kRing5[j * 5 + i]], s);
      out[r][x] = std::fabs(s);
    }
}

inline void CorrelateAbsRows(const float* const* rows, const float* kernel, int32_t kw, int32_t kh,
                             float* __restrict out, int32_t n) {
  if (kw == kh) {
    switch (kw) {
      case 3: CorrelateAbsRowsSquare<3>(rows, kernel, out, n); return;
      case 5: CorrelateAbsRowsSquare<5>(rows, kernel, out, n); return;
      case 7: CorrelateAbsRowsSquare<7>(rows, kernel, out, n); return;
      default: break;
    }
  }
  for (int32_t x = 0; x < n; ++x) out[x] = 0.0f;
  for (int32_t j = 0; j < kh; ++j) {
    const float* kr = kernel + static_cast<ptrdiff_t>(j) * kw;
    for (int32_t i = 0; i < kw; ++i) {
      const float t = kr[i];
      const float* r = rows[j] + i;
      for (int32_t x = 0; x < n; ++x) out[x] = float_lanes::MulAdd(r[x], t, out[x]);
    }
  }
  for (int32_t x = 0; x < n; ++x) out[x] = std::fabs(out[x]);
}

// Per-thread scratch kept between calls, so that filters called every frame
// neither allocate nor fault in fresh pages. Grows, never shrinks.
inline float* Scratch(std::vector<float>& v, size_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

// True when the two blocks of n floats overlap (an in-place call).
inline bool Overlap(const float* a, const float* b, size_t n) {
  const uintptr_t pa = reinterpret_cast<uintptr_t>(a), pb = reinterpret_cast<uintptr_t>(b);
  const uintptr_t bytes = n * sizeof(float);
  return pa < pb + bytes && pb < pa + bytes;
}

}  // namespace row_kernels
