#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Operations on the packed ImageU8 / ImageU16 / ImageI32 headers. The caller
// owns headers and pixels; nothing here allocates. An image with width or
// height below 1 is empty and every operation on it does nothing. Source and
// destination of one call must not overlap.

void ImageU8_Init(ImageU8* img, int32_t width, int32_t height, uint8_t* data);
void ImageU16_Init(ImageU16* img, int32_t width, int32_t height, uint16_t* data);
void ImageI32_Init(ImageI32* img, int32_t width, int32_t height, int32_t* data);

// Copies width * height elements of src into dst.data.
void ImageU8_Copy(const ImageU8* src, ImageU8* dst);
void ImageU16_Copy(const ImageU16* src, ImageU16* dst);
void ImageI32_Copy(const ImageI32* src, ImageI32* dst);

// Every element = value.
void ImageU8_Fill(ImageU8* img, uint8_t value);
void ImageU16_Fill(ImageU16* img, uint16_t value);
void ImageI32_Fill(ImageI32* img, int32_t value);

// Copies a blockWidth x blockHeight block from src (srcX, srcY) to dst
// (dstX, dstY); no clipping.
void ImageU8_CopyBlock(const ImageU8* src, ImageU8* dst, int32_t blockWidth, int32_t blockHeight, int32_t srcX,
                       int32_t srcY, int32_t dstX, int32_t dstY);

// matrix.data[k] = img.data[k] / 255 for the width * height elements of img.
void ImageU8_ToMatrix(const ImageU8* img, Matrix* matrix);

// img.data[r * cols + c] = low 8 bits of trunc(matrix(r, c) * 255.99), so
// that 1.0 maps to 255; values outside 0..1 wrap, they are not clamped.
void Matrix_ToImageU8(const Matrix* matrix, ImageU8* img);

// dst[k] = dst[k] + src[k] modulo 2^16 (size from dst).
void ImageU16_Accumulate(const ImageU16* src, ImageU16* dst);

// Each element read as signed 16-bit, multiplied by factor, truncated toward
// zero; the low 16 bits are stored back.
void ImageU16_Scale(ImageU16* img, float factor);

// Writes round(scale * v + offset) of each element v of m as two 8-bit
// planes: the low byte into planeA at (yA + r, xA + c), the next byte into
// planeB (may be null) at (yB + r, xB + c). No clipping.
void Matrix_ToU8Planes16(const Matrix* m, int32_t xA, int32_t yA, int32_t xB, int32_t yB, ImageU8* planeA,
                         ImageU8* planeB, double scale, double offset);

// t = (scale * v + offset) / divisor * 255: the fraction of t (times 255.99)
// into planeA, the integer part's low byte into planeB (may be null).
void Matrix_ToU8FixedPlanes(const Matrix* m, int32_t xA, int32_t yA, int32_t xB, int32_t yB, ImageU8* planeA,
                            ImageU8* planeB, float divisor, float scale, float offset);

// Packs a source map (mx, my) into 8-bit integer planes and one plane of two
// 4-bit fractions; only where both map values are positive. Loops over the
// rows of mx and the columns of my.
void Matrices_ToU8MapPlanes(const Matrix* mx, const Matrix* my, int32_t x0, int32_t y0, ImageU8* planeX,
                            ImageU8* planeY, ImageU8* planeNib, float sx, float sy, float ax, float ay, float bx,
                            float by);
