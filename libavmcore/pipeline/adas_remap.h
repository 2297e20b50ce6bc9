#pragma once
// Remap tables of the rear cross-traffic and LVSA inputs: one packed source
// position per output pixel (column in bits 0-15, row in bits 16-31, both
// signed), gathered from a camera frame into a byte image.
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"

// Marks a table entry that addresses no pixel; it samples as 0.
constexpr int32_t kAdasRemapBad = -1;

// A copy of table taken at Init: empty (false) when the table is missing or
// its size is not cols x rows; entries outside frameWidth x frameHeight (when
// both are positive) are marked bad.
bool AdasRemap_Copy(const ImageI32& table, int32_t cols, int32_t rows, int32_t frameWidth, int32_t frameHeight,
                    std::vector<int32_t>* out);

// Reads one grey value of pixel (x, y); the frame has been checked to hold it.
enum class AdasPixel { kLuma, kPackedHigh, kPackedLow, kBGR };

// dst[i] = grey of the source pixel of table[i], 0 for a bad entry or one
// outside the width x height frame.
void AdasRemap_Gather(const std::vector<int32_t>& table, AdasPixel kind, const uint8_t* frame, int32_t width,
                      int32_t height, uint8_t* dst);

// Pixel fetch of the free-standing remaps: grey of (x, y) of the user's frame
// with the given row length.
typedef int32_t (*AdasPixelFetch)(void* user, int32_t stride, int32_t y, int32_t x);
