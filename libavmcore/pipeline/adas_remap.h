#pragma once
// Remap tables of the rear cross-traffic and LVSA inputs: one packed source
// position per output pixel (column in bits 0-15, row in bits 16-31, both
// signed), gathered from a camera frame into a byte image.
#include <cstdint>

#include "frame/matrix_types.h"

// 1 when table holds cols x rows entries (and any data at all).
bool AdasRemap_Fits(const ImageI32& table, int32_t cols, int32_t rows);

// Reads one grey value of pixel (x, y); the frame has been checked to hold it.
enum class AdasPixel { kLuma, kPackedHigh, kPackedLow, kBGR };

// dst[i] = grey of the source pixel of table entry i, 0 for an entry
// outside the width x height frame. The tables come from a file: every entry
// is checked against the frame it is applied to.
void AdasRemap_Gather(const ImageI32& table, AdasPixel kind, const uint8_t* frame, int32_t width, int32_t height,
                      uint8_t* dst);

// Pixel fetch of the free-standing remaps: grey of (x, y) of the user's frame
// with the given row length.
typedef int32_t (*AdasPixelFetch)(void* user, int32_t stride, int32_t y, int32_t x);
