#pragma once
// The one allocator of the library's plain buffers. Every Matrix or ImageU8
// that one function allocates and another frees comes from here, so any
// holder can free any of them: header and element block from malloc (the
// block zeroed), freed with free(). Callers of the BMP readers and of the
// corner resamplers keep freeing results with free() on block and header.
//
// Sizes are stored as given; a size below 1 gets a one-element block, so data
// is never null on success. Out of memory: null, nothing allocated.
#include <cstdint>
#include <memory>

#include "frame/matrix_types.h"

struct Rgb24Image;       // toolkit/pixel_formats.h
struct FloatPixelImage;  // toolkit/bmp_file.h

Matrix* Matrix_New(int32_t cols, int32_t rows);
// Block, then header. Null is fine.
void Matrix_Delete(Matrix* m);

// The same block for a header held by value (an object's member): sets the
// three fields, or leaves the header empty ({cols, rows, null}) and returns
// false when out of memory. Matrix_FreeData frees the block and nulls data.
bool Matrix_NewData(Matrix* m, int32_t cols, int32_t rows);
void Matrix_FreeData(Matrix* m);

// The integer tables held inside records (ADAS remap tables, mix-area and
// score-grid tables): the member-block form only, as Matrix_NewData.
bool ImageI32_NewData(ImageI32* t, int32_t width, int32_t height);
void ImageI32_FreeData(ImageI32* t);

ImageU8* ImageU8_New(int32_t width, int32_t height);
void ImageU8_Delete(ImageU8* img);

struct MatrixDeleter {
  void operator()(Matrix* m) const { Matrix_Delete(m); }
};
using MatrixPtr = std::unique_ptr<Matrix, MatrixDeleter>;

struct ImageU8Deleter {
  void operator()(ImageU8* img) const { ImageU8_Delete(img); }
};
using ImageU8Ptr = std::unique_ptr<ImageU8, ImageU8Deleter>;

// Packed pictures of the BMP readers, the same layout: Rgb24Image with
// rgbOrder 0 and stride 3 * width (3 * width * height bytes), FloatPixelImage
// with 3 floats a pixel.
Rgb24Image* Rgb24Image_New(int32_t width, int32_t height);
void Rgb24Image_Delete(Rgb24Image* img);
FloatPixelImage* FloatPixelImage_New(int32_t width, int32_t height);
void FloatPixelImage_Delete(FloatPixelImage* img);

struct Rgb24ImageDeleter {
  void operator()(Rgb24Image* img) const { Rgb24Image_Delete(img); }
};
using Rgb24ImagePtr = std::unique_ptr<Rgb24Image, Rgb24ImageDeleter>;

struct FloatPixelImageDeleter {
  void operator()(FloatPixelImage* img) const { FloatPixelImage_Delete(img); }
};
using FloatPixelImagePtr = std::unique_ptr<FloatPixelImage, FloatPixelImageDeleter>;
