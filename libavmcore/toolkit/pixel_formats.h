#pragma once
#include <cstdint>

// Frame descriptors: plain records filled by the caller, who owns the pixel
// memory. Nothing here allocates.

// Planar YUV 4:2:0. Luma row y at luma + y * stride; U and V rows are
// stride / 2 bytes long; chroma sample (x, y) at (y / 2) * (stride / 2) + x / 2.
struct YuvPlanarFrame {
  int32_t width;
  int32_t height;
  uint8_t* luma;
  uint8_t* planeU;
  uint8_t* planeV;
  int32_t stride;
};

// Semi-planar YUV 4:2:0 (NV12: U at the even byte of a pair, NV21: V).
// The chroma plane has the luma stride; the pair of pixel (x, y) starts at
// (y / 2) * stride + (x & ~1).
struct YuvSemiPlanarFrame {
  int32_t width;
  int32_t height;
  uint8_t* luma;
  uint8_t* chroma;
  int32_t stride;
};

// Two bytes a pixel: YUYV, UYVY or little-endian RGB565; row y at
// data + y * stride.
struct PackedFrame {
  int32_t width;
  int32_t height;
  uint8_t* data;
  int32_t stride;
};

// Three bytes a pixel; rgbOrder 0 stores B, G, R (the order of BMP files),
// non-zero stores R, G, B.
struct Rgb24Image {
  int32_t width;
  int32_t height;
  int32_t rgbOrder;
  uint8_t* data;
  int32_t stride;
};

// Layout codes that name a frame together with its descriptor.
enum PixelFormatCode : int32_t {
  kPixelFormatI420 = 1,    // YuvPlanarFrame
  kPixelFormatRGB24 = 2,   // Rgb24Image
  kPixelFormatNV12 = 3,    // YuvSemiPlanarFrame
  kPixelFormatYUYV = 4,    // PackedFrame
  kPixelFormatRGB565 = 5,  // PackedFrame
  kPixelFormatNV21 = 6,    // YuvSemiPlanarFrame
  kPixelFormatUYVY = 7,    // PackedFrame
};

// YUV to 24-bit RGB through YuvRgbTable; loops over the source's size.
void Yuv_I420ToRGB24(const YuvPlanarFrame* src, const Rgb24Image* dst);
void Yuv_NV12ToRGB24(const YuvSemiPlanarFrame* src, const Rgb24Image* dst);
void Yuv_NV21ToRGB24(const YuvSemiPlanarFrame* src, const Rgb24Image* dst);
void Yuv_YUYVToRGB24(const PackedFrame* src, const Rgb24Image* dst);
void Yuv_UYVYToRGB24(const PackedFrame* src, const Rgb24Image* dst);

// The same into packed float R, G, B (value / 255), rows of width * 3 floats.
void Yuv_NV12ToFloatRGB(const YuvSemiPlanarFrame* src, float* dst);
void Yuv_YUYVToFloatRGB(const PackedFrame* src, float* dst);
void Yuv_UYVYToFloatRGB(const PackedFrame* src, float* dst);

// 24-bit RGB to YUV (BT.601 studio range); loops over the RGB image's size.
// 4:2:0 targets keep the chroma of the last pixel of each 2 x 2 block; 4:2:2
// targets average each pair and convert whole pairs only (a trailing odd
// pixel is left untouched).
void Rgb24_ToI420(const Rgb24Image* src, const YuvPlanarFrame* dst);
void Rgb24_ToNV12(const Rgb24Image* src, const YuvSemiPlanarFrame* dst);
void Rgb24_ToNV21(const Rgb24Image* src, const YuvSemiPlanarFrame* dst);
void Rgb24_ToYUYV(const Rgb24Image* src, const PackedFrame* dst);
void Rgb24_ToUYVY(const Rgb24Image* src, const PackedFrame* dst);

// Packed float R, G, B whatever the source's byte order.
void Rgb24_ToFloatRGB(const Rgb24Image* src, float* dst);

// RGB565 to 24-bit RGB (low bits zero, no replication).
void Rgb565_ToRGB24(const PackedFrame* src, const Rgb24Image* dst);

// Luma and chroma of one RGB pixel (BT.601 studio range).
inline uint8_t Rgb_ToY(int r, int g, int b) {
  return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
inline uint8_t Rgb_ToU(int r, int g, int b) {
  return static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
inline uint8_t Rgb_ToV(int r, int g, int b) {
  return static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

// Quad views: a w x h picture placed in, or taken from, quadrant q (0 top
// left, 1 top right, 2 bottom left, 3 bottom right) of a 2w x 2h picture.
void Quad_PutPacked422(const uint8_t* src, uint8_t* dst, int w, int h, int q);
void Quad_GetPacked422(const uint8_t* src, uint8_t* dst, int w, int h, int q);
// Semi-planar: luma (w * h bytes) then chroma (rows of w bytes). A non-zero
// shift moves the chroma by one byte (w - 1 bytes from one byte later in the
// small picture).
void Quad_PutSemiPlanar(const uint8_t* src, uint8_t* dst, int w, int h, int q, int shift);
void Quad_GetSemiPlanar(const uint8_t* src, uint8_t* dst, int w, int h, int q, int shift);
void Quad_CopySemiPlanar(const uint8_t* src, uint8_t* dst, int w, int h, int q);
