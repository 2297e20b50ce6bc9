#include "pipeline/adas_remap.h"

#include <cstddef>

namespace {

inline int32_t EntryX(int32_t e) { return static_cast<int16_t>(e & 0xFFFF); }
inline int32_t EntryY(int32_t e) { return static_cast<int16_t>((e >> 16) & 0xFFFF); }

}  // namespace

bool AdasRemap_Fits(const ImageI32& table, int32_t cols, int32_t rows) {
  return table.data && cols > 0 && rows > 0 && table.width == cols && table.height == rows;
}

void AdasRemap_Gather(const ImageI32& table, AdasPixel kind, const uint8_t* frame, int32_t width, int32_t height,
                      uint8_t* dst) {
  const size_t n = static_cast<size_t>(table.width) * static_cast<size_t>(table.height);
  if (!frame || width < 1 || height < 1) {
    for (size_t i = 0; i < n; ++i) dst[i] = 0;
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    const int32_t e = table.data[i];
    const int32_t x = EntryX(e), y = EntryY(e);
    if (x < 0 || y < 0 || x >= width || y >= height) {
      dst[i] = 0;
      continue;
    }
    const size_t p = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
    switch (kind) {
      case AdasPixel::kLuma: dst[i] = frame[p]; break;
      case AdasPixel::kPackedHigh: dst[i] = frame[2 * p + 1]; break;
      case AdasPixel::kPackedLow: dst[i] = frame[2 * p]; break;
      case AdasPixel::kBGR: {
        const uint8_t* q = frame + 3 * p;
        dst[i] = static_cast<uint8_t>(0.114f * q[0] + 0.5868f * q[1] + 0.2992f * q[2]);
        break;
      }
    }
  }
}
