#pragma once
#include <cstdint>

// The one YUV-to-RGB table of the library: 768 rows of {B, G, R, spare} in
// units of 1/64. Rows 0..255 are indexed by Y, 256..511 by 256 + U and
// 512..767 by 512 + V. Every YUV-to-RGB conversion goes through it, so all
// converted pixels share the same integer arithmetic.
extern const int16_t YuvRgbTable[768][4];

// Column indices of a table row.
enum YuvRgbColumn { kYuvRgbB = 0, kYuvRgbG = 1, kYuvRgbR = 2 };

// One channel: rows of V and U, then Y, summed, shifted by 6 and clamped to
// 0..255. The table's ranges keep every sum far inside 32 bits and the
// 16-bit saturation of the rule never changes the clamped byte, so plain
// int sums give the same result.
inline uint8_t YuvRgb_Channel(int y, int u, int v, int c) {
  int s = YuvRgbTable[512 + v][c] + YuvRgbTable[256 + u][c] + YuvRgbTable[y][c];
  s >>= 6;
  return static_cast<uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
}

// B, G and R of one YUV triple.
inline void YuvRgb_Convert(int y, int u, int v, uint8_t* b, uint8_t* g, uint8_t* r) {
  *b = YuvRgb_Channel(y, u, v, kYuvRgbB);
  *g = YuvRgb_Channel(y, u, v, kYuvRgbG);
  *r = YuvRgb_Channel(y, u, v, kYuvRgbR);
}
