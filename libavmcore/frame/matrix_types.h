#pragma once
#include <cstdint>

// Plain headers shared by the whole library. The caller owns both the header
// and the element block; nothing here allocates.

// Dense single-precision matrix, row-major with no gaps: element (r, c) is
// data[r * cols + c]. An n-element column vector has cols 1 and rows n.
struct Matrix {
  int32_t cols;
  int32_t rows;
  float* data;
};

// Packed images: element (x, y) is data[y * width + x]. Width or height
// below 1 is an empty image.
struct ImageU8 {
  int32_t width;
  int32_t height;
  uint8_t* data;
};

struct ImageU16 {
  int32_t width;
  int32_t height;
  uint16_t* data;
};

struct ImageI32 {
  int32_t width;
  int32_t height;
  int32_t* data;
};
