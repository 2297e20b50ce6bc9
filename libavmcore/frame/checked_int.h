#pragma once
// Integer arithmetic on values that come from files or callers: nothing here
// overflows or converts out of range, whatever the inputs.
#include <cstdint>

// a saturated to the int32 range.
inline int32_t SaturateToInt32(int64_t a) {
  if (a > INT32_MAX) return INT32_MAX;
  if (a < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(a);
}

// Float to integer, truncating toward zero; values no int32 can hold (NaN,
// infinities, a division by a zero scale) give 0.
inline int32_t TruncToInt32(float v) {
  if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
  return static_cast<int32_t>(v);
}

inline bool InRange(int64_t v, int64_t lo, int64_t hi) { return v >= lo && v <= hi; }
