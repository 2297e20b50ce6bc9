#pragma once
#include <cstdint>

#include "toolkit/bmp_file.h"
#include "frame/matrix_types.h"
#include "toolkit/pixel_formats.h"

// Camera frames saved as 24-bit bottom-up BMP pictures, converted through a
// temporary Rgb24Image. Each returns what Bmp_SaveRGB24 / Bmp_SaveFloatPlanes
// return: 1 when the file was written, 0 with a message otherwise.

int Bmp_SaveFrameI420(const YuvPlanarFrame* frame, const char* path);
int Bmp_SaveFrameNV12(const YuvSemiPlanarFrame* frame, const char* path);
int Bmp_SaveFrameNV21(const YuvSemiPlanarFrame* frame, const char* path);
int Bmp_SaveFrameYUYV(const PackedFrame* frame, const char* path);
int Bmp_SaveFrameUYVY(const PackedFrame* frame, const char* path);
int Bmp_SaveFrameRGB565(const PackedFrame* frame, const char* path);

// One camera of a UYVY quad view: mask bit k selects quadrant k (0 top left,
// 1 top right, 2 bottom left, 3 bottom right); the lowest of bits 0..2 wins,
// quadrant 3 when none is set; 0 and 15 save the whole frame.
int Bmp_SaveQuadrantUYVY(const PackedFrame* frame, const char* path, int cameraMask);

// Four pictures of width / 2 x height / 2 joined into one width x height
// quad view (picture k in quadrant k), then saved. Semi-planar pictures are
// luma followed by interleaved chroma, both at a stride of width / 2.
int Bmp_SaveQuadNV12(int width, int height, const char* path, const uint8_t* p0, const uint8_t* p1,
                     const uint8_t* p2, const uint8_t* p3);
int Bmp_SaveQuadNV21(int width, int height, const char* path, const uint8_t* p0, const uint8_t* p1,
                     const uint8_t* p2, const uint8_t* p3);
int Bmp_SaveQuadUYVY(int width, int height, const char* path, const uint8_t* p0, const uint8_t* p1,
                     const uint8_t* p2, const uint8_t* p3);

// Float pictures: each value becomes min(scale * v, 1.0), then grey.
int Bmp_SaveScaledFloat(const Matrix* m, const char* path, float scale);
// Channel c (0..7) of a picture of 8 interleaved floats a pixel.
int Bmp_SaveFloatChannel(const FloatPixelImage* img, int channel, const char* path, float scale);
