#pragma once
#include <cstddef>
#include <cstdint>

#include "frame/matrix_types.h"

// Thinning of 0/1 masks to one-pixel-wide skeletons.

// 1 where a pixel with that 8-neighbour code may be deleted (bit 0 NW,
// 1 N, 2 NE, 3 W, 4 E, 5 SW, 6 S, 7 SE): at least two neighbours set and
// 8-connectivity number 1.
extern const uint32_t ThinTable[256];

// One table pass in row order, then one in column order, in place.
void ImageU8_Thin(ImageU8* mask);
// ImageU8_Thin of a mask whose set pixels are exactly the interior pixels
// listed in set (indices y * width + x, ascending): the same result without
// scanning the whole mask.
void ImageU8_ThinListed(ImageU8* mask, const int32_t* set, size_t count);
// Optional clean-up pass (when work, w * h bytes, is given), then table
// passes until one deletes nothing or maxIter passes are done.
void ImageU8_ThinIterative(ImageU8* mask, int32_t maxIter, uint8_t* work);
// Same result as ImageU8_ThinIterative with the clean-up pass, visiting
// only candidate pixels. work (w * h bytes) is required.
void ImageU8_ThinIterativeFast(ImageU8* mask, int32_t maxIter, uint8_t* work);
// Two-sub-iteration parallel thinning of a 0/1 float image, repeated while
// an iteration deletes more than 5 pixels.
void Image_ThinZhangSuen(Matrix* img);
