#pragma once
// Eight float lanes as a GCC / Clang vector extension (both compilers build
// it: two NEON registers on the target, one AVX register on x86-64 build
// machines). Arithmetic is lane-wise; a * b + c contracts into one fused
// multiply-add per lane under the project's -ffp-contract=fast, as the
// scalar forms do. Used where the compiler's own vectorisation keeps too
// few sums in flight.
#include <cstdint>
#include <cstring>

namespace float_lanes {

typedef float F32x8 __attribute__((vector_size(32)));
typedef uint32_t U32x8 __attribute__((vector_size(32)));

constexpr int kLanes = 8;

inline F32x8 Load(const float* p) {
  F32x8 v;
  memcpy(&v, p, sizeof v);
  return v;
}

inline void Store(float* p, F32x8 v) { memcpy(p, &v, sizeof v); }

inline F32x8 Splat(float s) { return F32x8{s, s, s, s, s, s, s, s}; }

inline F32x8 Abs(F32x8 v) {
  U32x8 bits;
  memcpy(&bits, &v, sizeof v);
  bits &= U32x8{0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFFu,
                0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFFu, 0x7FFFFFFFu};
  memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace float_lanes
