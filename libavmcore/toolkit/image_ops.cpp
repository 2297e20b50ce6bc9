// Copies, fills and conversions of the typed images.
#include "toolkit/image_ops.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

template <typename Image>
size_t PixelCount(const Image* img) {
  if (img->width < 1 || img->height < 1) return 0;
  return static_cast<size_t>(img->width) * static_cast<size_t>(img->height);
}

template <typename Image>
void CopyPixels(const Image* src, Image* dst) {
  const size_t n = PixelCount(src);
  if (n != 0) std::memcpy(dst->data, src->data, n * sizeof(*src->data));
}

template <typename Image, typename T>
void FillPixels(Image* img, T value) {
  if (PixelCount(img) == 0) return;
  const size_t w = static_cast<size_t>(img->width);
  auto* first = img->data;
  for (size_t x = 0; x < w; ++x) first[x] = value;
  for (int32_t y = 1; y < img->height; ++y) std::memcpy(first + y * w, first, w * sizeof(*first));
}

// Truncates toward zero and keeps the low bits of the integer, as a plain
// integer conversion on the target does; values too large for any integer
// (or NaN) give 0 instead of undefined behaviour.
inline int64_t TruncToInt(double v) {
  if (!(std::fabs(v) < 9.2e18)) return 0;
  return static_cast<int64_t>(v);
}

inline uint8_t& PixelAt(ImageU8* img, int32_t x, int32_t y) {
  return img->data[static_cast<ptrdiff_t>(y) * img->width + x];
}

inline float MatrixAt(const Matrix* m, int32_t r, int32_t c) {
  return m->data[static_cast<ptrdiff_t>(r) * m->cols + c];
}

}  // namespace

void ImageU8_Init(ImageU8* img, int32_t width, int32_t height, uint8_t* data) {
  img->width = width;
  img->height = height;
  img->data = data;
}

void ImageU16_Init(ImageU16* img, int32_t width, int32_t height, uint16_t* data) {
  img->width = width;
  img->height = height;
  img->data = data;
}

void ImageI32_Init(ImageI32* img, int32_t width, int32_t height, int32_t* data) {
  img->width = width;
  img->height = height;
  img->data = data;
}

void ImageU8_Copy(const ImageU8* src, ImageU8* dst) { CopyPixels(src, dst); }
void ImageU16_Copy(const ImageU16* src, ImageU16* dst) { CopyPixels(src, dst); }
void ImageI32_Copy(const ImageI32* src, ImageI32* dst) { CopyPixels(src, dst); }

void ImageU8_Fill(ImageU8* img, uint8_t value) { FillPixels(img, value); }
void ImageU16_Fill(ImageU16* img, uint16_t value) { FillPixels(img, value); }
void ImageI32_Fill(ImageI32* img, int32_t value) { FillPixels(img, value); }

void ImageU8_CopyBlock(const ImageU8* src, ImageU8* dst, int32_t blockWidth, int32_t blockHeight, int32_t srcX,
                       int32_t srcY, int32_t dstX, int32_t dstY) {
  if (blockWidth < 1 || blockHeight < 1) return;
  for (int32_t i = 0; i < blockHeight; ++i) {
    const uint8_t* s = src->data + static_cast<ptrdiff_t>(srcY + i) * src->width + srcX;
    uint8_t* d = dst->data + static_cast<ptrdiff_t>(dstY + i) * dst->width + dstX;
    std::memcpy(d, s, static_cast<size_t>(blockWidth));
  }
}

void ImageU8_ToMatrix(const ImageU8* img, Matrix* matrix) {
  const size_t n = PixelCount(img);
  const uint8_t* __restrict s = img->data;
  float* __restrict d = matrix->data;
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<float>(s[k]) / 255.0f;
}

void Matrix_ToImageU8(const Matrix* matrix, ImageU8* img) {
  if (matrix->rows < 1 || matrix->cols < 1) return;
  const size_t n = static_cast<size_t>(matrix->rows) * static_cast<size_t>(matrix->cols);
  const float* __restrict s = matrix->data;
  uint8_t* __restrict d = img->data;
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint8_t>(TruncToInt(s[k] * 255.99f) & 0xFF);
}

void ImageU16_Accumulate(const ImageU16* src, ImageU16* dst) {
  const size_t n = PixelCount(dst);
  const uint16_t* __restrict s = src->data;
  uint16_t* __restrict d = dst->data;
  for (size_t k = 0; k < n; ++k) d[k] = static_cast<uint16_t>(d[k] + s[k]);
}

void ImageU16_Scale(ImageU16* img, float factor) {
  const size_t n = PixelCount(img);
  uint16_t* d = img->data;
  for (size_t k = 0; k < n; ++k) {
    const float v = static_cast<float>(static_cast<int16_t>(d[k])) * factor;
    d[k] = static_cast<uint16_t>(TruncToInt(v) & 0xFFFF);
  }
}

void Matrix_ToU8Planes16(const Matrix* m, int32_t xA, int32_t yA, int32_t xB, int32_t yB, ImageU8* planeA,
                         ImageU8* planeB, double scale, double offset) {
  for (int32_t r = 0; r < m->rows; ++r) {
    for (int32_t c = 0; c < m->cols; ++c) {
      const int64_t q = TruncToInt(std::fma(scale, static_cast<double>(MatrixAt(m, r, c)), offset) + 0.5);
      PixelAt(planeA, xA + c, yA + r) = static_cast<uint8_t>(q & 0xFF);
      if (planeB != nullptr) PixelAt(planeB, xB + c, yB + r) = static_cast<uint8_t>((q >> 8) & 0xFF);
    }
  }
}

void Matrix_ToU8FixedPlanes(const Matrix* m, int32_t xA, int32_t yA, int32_t xB, int32_t yB, ImageU8* planeA,
                            ImageU8* planeB, float divisor, float scale, float offset) {
  for (int32_t r = 0; r < m->rows; ++r) {
    for (int32_t c = 0; c < m->cols; ++c) {
      const float t = std::fma(scale, MatrixAt(m, r, c), offset) / divisor * 255.0f;
      const int64_t i = TruncToInt(t);
      const float frac = t - static_cast<float>(i);
      PixelAt(planeA, xA + c, yA + r) = static_cast<uint8_t>(TruncToInt(frac * 255.99f) & 0xFF);
      if (planeB != nullptr) PixelAt(planeB, xB + c, yB + r) = static_cast<uint8_t>(i & 0xFF);
    }
  }
}

void Matrices_ToU8MapPlanes(const Matrix* mx, const Matrix* my, int32_t x0, int32_t y0, ImageU8* planeX,
                            ImageU8* planeY, ImageU8* planeNib, float sx, float sy, float ax, float ay, float bx,
                            float by) {
  for (int32_t r = 0; r < mx->rows; ++r) {
    for (int32_t c = 0; c < my->cols; ++c) {
      const float vx = MatrixAt(mx, r, c);
      const float vy = MatrixAt(my, r, c);
      if (!(vx > 0.0f && vy > 0.0f)) continue;
      const float tx = std::fma(vx, ax, bx) / sx * 255.0f;
      const float ty = std::fma(vy, ay, by) / sy * 255.0f;
      const int64_t ix = TruncToInt(tx);
      const int64_t iy = TruncToInt(ty);
      const int64_t nx = TruncToInt((tx - static_cast<float>(ix)) * 15.0f) & 15;
      const int64_t ny = TruncToInt((ty - static_cast<float>(iy)) * 15.0f);
      PixelAt(planeX, x0 + c, y0 + r) = static_cast<uint8_t>(ix & 0xFF);
      PixelAt(planeY, x0 + c, y0 + r) = static_cast<uint8_t>(iy & 0xFF);
      PixelAt(planeNib, x0 + c, y0 + r) = static_cast<uint8_t>((nx * 16) | ny);
    }
  }
}
