#include "toolkit/matrix_alloc.h"

#include <cstdlib>

namespace {

template <class T>
T* NewBlock(int32_t cols, int32_t rows) {
  const size_t n = static_cast<size_t>(cols > 0 ? cols : 0) * static_cast<size_t>(rows > 0 ? rows : 0);
  return static_cast<T*>(calloc(n > 0 ? n : 1, sizeof(T)));
}

template <class Header, class T>
Header* NewWithBlock(int32_t cols, int32_t rows) {
  Header* h = static_cast<Header*>(malloc(sizeof(Header)));
  if (h == nullptr) return nullptr;
  T* data = NewBlock<T>(cols, rows);
  if (data == nullptr) {
    free(h);
    return nullptr;
  }
  *h = Header{cols, rows, data};
  return h;
}

}  // namespace

Matrix* Matrix_New(int32_t cols, int32_t rows) { return NewWithBlock<Matrix, float>(cols, rows); }

void Matrix_Delete(Matrix* m) {
  if (m == nullptr) return;
  free(m->data);
  free(m);
}

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

ImageU8* ImageU8_New(int32_t width, int32_t height) { return NewWithBlock<ImageU8, uint8_t>(width, height); }

void ImageU8_Delete(ImageU8* img) {
  if (img == nullptr) return;
  free(img->data);
  free(img);
}
