#include "toolkit/matrix_alloc.h"

#include <cstdlib>

#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"

namespace {

// cols * rows pixels of `channels` elements each, zeroed; at least one.
template <class T>
T* NewBlock(int32_t cols, int32_t rows, size_t channels = 1) {
  const size_t n = static_cast<size_t>(cols > 0 ? cols : 0) * static_cast<size_t>(rows > 0 ? rows : 0) * channels;
  return static_cast<T*>(calloc(n > 0 ? n : 1, sizeof(T)));
}

// Header and block, or nothing; make(data) fills the header.
template <class Header, class T, class Make>
Header* NewWithBlock(int32_t cols, int32_t rows, size_t channels, Make make) {
  Header* h = static_cast<Header*>(malloc(sizeof(Header)));
  if (h == nullptr) return nullptr;
  T* data = NewBlock<T>(cols, rows, channels);
  if (data == nullptr) {
    free(h);
    return nullptr;
  }
  *h = make(data);
  return h;
}

template <class Header, class T>
Header* NewWithBlock(int32_t cols, int32_t rows) {
  return NewWithBlock<Header, T>(cols, rows, 1, [&](T* data) { return Header{cols, rows, data}; });
}

template <class Header>
void DeleteWithBlock(Header* h) {
  if (h == nullptr) return;
  free(h->data);
  free(h);
}

}  // namespace

Matrix* Matrix_New(int32_t cols, int32_t rows) { return NewWithBlock<Matrix, float>(cols, rows); }

void Matrix_Delete(Matrix* m) { DeleteWithBlock(m); }

bool Matrix_NewData(Matrix* m, int32_t cols, int32_t rows) {
  m->cols = cols;
  m->rows = rows;
  m->data = NewBlock<float>(cols, rows);
  return m->data != nullptr;
}

void Matrix_FreeData(Matrix* m) {
  free(m->data);
  m->data = nullptr;
}

bool ImageI32_NewData(ImageI32* t, int32_t width, int32_t height) {
  t->width = width;
  t->height = height;
  t->data = NewBlock<int32_t>(width, height);
  return t->data != nullptr;
}

void ImageI32_FreeData(ImageI32* t) {
  free(t->data);
  t->data = nullptr;
}

ImageU8* ImageU8_New(int32_t width, int32_t height) { return NewWithBlock<ImageU8, uint8_t>(width, height); }

void ImageU8_Delete(ImageU8* img) { DeleteWithBlock(img); }

Rgb24Image* Rgb24Image_New(int32_t width, int32_t height) {
  return NewWithBlock<Rgb24Image, uint8_t>(width, height, 3, [&](uint8_t* data) {
    return Rgb24Image{width, height, 0, data, 3 * width};
  });
}

void Rgb24Image_Delete(Rgb24Image* img) { DeleteWithBlock(img); }

FloatPixelImage* FloatPixelImage_New(int32_t width, int32_t height) {
  return NewWithBlock<FloatPixelImage, float>(width, height, 3,
                                              [&](float* data) { return FloatPixelImage{width, height, data}; });
}

void FloatPixelImage_Delete(FloatPixelImage* img) { DeleteWithBlock(img); }
