// Initialisation, copies and fills of Matrix blocks.
#include <cstddef>
#include <cstring>

#include "toolkit/matrix.h"

namespace {

inline bool IsEmpty(const Matrix* m) { return m->rows < 1 || m->cols < 1; }

inline size_t ElementCount(const Matrix* m) {
  return static_cast<size_t>(m->rows) * static_cast<size_t>(m->cols);
}

}  // namespace

void Matrix_Init(Matrix* m, int32_t cols, int32_t rows, float* data) {
  m->cols = cols;
  m->rows = rows;
  m->data = data;
}

void Matrix_Copy(const Matrix* src, Matrix* dst) {
  if (IsEmpty(src)) return;
  std::memcpy(dst->data, src->data, ElementCount(src) * sizeof(float));
}

void Matrix_CopyBlock(const Matrix* src, Matrix* dst, int32_t width, int32_t height, int32_t srcCol,
                      int32_t srcRow, int32_t dstCol, int32_t dstRow) {
  if (width < 1 || height < 1) return;
  for (int32_t r = 0; r < height; ++r) {
    const float* s = src->data + static_cast<ptrdiff_t>(srcRow + r) * src->cols + srcCol;
    float* d = dst->data + static_cast<ptrdiff_t>(dstRow + r) * dst->cols + dstCol;
    std::memcpy(d, s, static_cast<size_t>(width) * sizeof(float));
  }
}

void Matrix_CopyBlockElems(const Matrix* src, Matrix* dst, int32_t width, int32_t height,
                           int32_t srcCol, int32_t srcRow, int32_t dstCol, int32_t dstRow) {
  if (width < 1 || height < 1) return;
  for (int32_t r = 0; r < height; ++r) {
    const float* s = src->data + static_cast<ptrdiff_t>(srcRow + r) * src->cols + srcCol;
    float* d = dst->data + static_cast<ptrdiff_t>(dstRow + r) * dst->cols + dstCol;
    for (int32_t c = 0; c < width; ++c) d[c] = s[c];
  }
}

void Matrix_Fill(Matrix* m, float value) {
  if (IsEmpty(m)) return;
  const size_t cols = static_cast<size_t>(m->cols);
  float* first = m->data;
  for (size_t c = 0; c < cols; ++c) first[c] = value;
  for (int32_t r = 1; r < m->rows; ++r) std::memcpy(first + r * cols, first, cols * sizeof(float));
}

void Matrix_SetDiagonal(Matrix* m, float value) {
  if (IsEmpty(m)) return;
  Matrix_Fill(m, 0.0f);
  const int32_t n = m->rows < m->cols ? m->rows : m->cols;
  for (int32_t i = 0; i < n; ++i) m->data[static_cast<size_t>(i) * m->cols + i] = value;
}
