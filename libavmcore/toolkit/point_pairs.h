#pragma once
#include <cstdint>

// Integer point pairs shared by the region, contour, fit and line tools. The
// meaning of the two members ({row, col} or {x, y}) is stated by each user.
struct PointI32 {
  int32_t p0;
  int32_t p1;
};

struct PointI16 {
  int16_t row;
  int16_t col;
};
