#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/pixel_formats.h"

// Measurements taken straight from a camera frame in any layout. A frame is
// named by a PixelFormatCode and its descriptor (YuvPlanarFrame for 1,
// Rgb24Image for 2, YuvSemiPlanarFrame for 3 and 6, PackedFrame for 4, 5
// and 7); sample positions come from an x map and a y map of equal size.

// Means of ln(channel + 1) over the sampled map positions, in 8 bands of
// map rows: out[b] R, out[8 + b] G, out[16 + b] B. Every rowStep-th row and
// every colStep-th column (the last column always included) is sampled;
// positions off the frame are skipped. A band without samples gives 0. Unknown codes leave out at 0.
void CalcBandColorStats(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame,
                        int32_t colStep, int32_t rowStep, float out[24]);
// The same over the whole map: out[0..2] = R, G, B means.
void CalcBandColorStatsEx(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame,
                          int32_t colStep, int32_t rowStep, float out[3]);

// Day/night test on row 8 of a frame (codes 2, 3, 4, 6, 7); with frameB the
// two frames are width / 2 x height / 2 each. Returns 1 when dark, else 0
// (also for frames too small to hold the sample windows or other codes).
int CalcFrameBrightnessWindow(int32_t code, int32_t width, int32_t height, const uint8_t* frameA,
                              const uint8_t* frameB, int32_t unused = 0);

// Adds 1 to histogram[luma] for every map position with x >= 0 and y >= 0
// and returns the number counted. An unknown code counts fallback instead
// of a luma. The histogram is not cleared.
int32_t Frame_SumLumaAtMap(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame,
                           uint32_t histogram[256], int32_t fallback = 0);

// m(y, x) = luma[y * width + x] / 255.
void LumaToMatrix(int32_t width, int32_t height, const uint8_t* luma, Matrix* m);
// m(y, x) = odd byte of a UYVY row (its luma) / 255; sizes from m, rows of
// 2 * m.cols bytes.
void ImageToMatrix(const PackedFrame* src, Matrix* m);
// dst(r, x) = plane[2r * stride + 2x].
void SubsampleLumaU16(const uint8_t* plane, int32_t stride, ImageU16* dst);
// dst(r, x) = byte 1 of group x of row 2r (Y0 of a UYVY frame).
void SubsampleChromaU16A(const PackedFrame* src, ImageU16* dst);
// dst(r, x) = byte 0 of group x of row 2r (Y0 of a YUYV frame).
void SubsampleChromaU16B(const PackedFrame* src, ImageU16* dst);
