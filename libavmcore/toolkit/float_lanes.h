#pragma once
// Eight float lanes as a GCC / Clang vector extension (both compilers build
// it: two NEON registers on the target, one AVX register on x86-64 build
// machines). Arithmetic is lane-wise; a * b + c contracts into one fused
// multiply-add per lane under the project's -ffp-contract=fast, as the
// scalar forms do. Used where the compiler's own vectorisation keeps too
// few sums in flight. Values move through pointers, never as arguments or
// results, so no calling convention depends on the vector width.
#include <cmath>
#include <cstdint>
#include <cstring>

namespace float_lanes {

typedef float F32x8 __attribute__((vector_size(32)));
typedef uint32_t U32x8 __attribute__((vector_size(32)));

constexpr int kLanes = 8;

// Float and bit vectors of kL lanes, for kernels written for several widths
// (16 lanes only inside functions compiled for 512-bit registers).
template <int kL>
struct Lanes;
template <>
struct Lanes<8> {
  typedef F32x8 F;
  typedef U32x8 U;
};
template <>
struct Lanes<16> {
  typedef float F __attribute__((vector_size(64)));
  typedef uint32_t U __attribute__((vector_size(64)));
};

// The scalar form of a lane's a * b + c, for loops the compiler vectorises
// and for the tails of the lane loops: one fused multiply-add wherever the
// build has the instruction (the default x86-64 build, the ARM target). An
// x86-64 build without it (x86-64-v2) rounds the product as its lanes do,
// rather than calling the C library's fmaf for every element.
inline float MulAdd(float a, float b, float c) {
#if defined(__x86_64__) && !defined(__FMA__)
  return a * b + c;
#else
  return std::fma(a, b, c);
#endif
}

inline void Load(F32x8* v, const float* p) { memcpy(v, p, sizeof *v); }

inline void Store(float* p, const F32x8* v) { memcpy(p, v, sizeof *v); }

inline void Splat(F32x8* v, float s) { *v = F32x8{s, s, s, s, s, s, s, s}; }

// Stores |v| lane by lane (the sign bit cleared).
inline void StoreAbs(float* p, const F32x8* v) {
  U32x8 bits;
  memcpy(&bits, v, sizeof bits);
  bits &= 0x7FFFFFFFu;
  memcpy(p, &bits, sizeof bits);
}

}  // namespace float_lanes
