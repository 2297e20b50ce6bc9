#include "toolkit/sampling.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

#include "frame/sorts.h"
#include "toolkit/image_ops.h"

float Image_SampleBilinear(const Matrix* img, float row, float col) {
  const int32_t r = static_cast<int32_t>(row), c = static_cast<int32_t>(col);
  float fy = row - static_cast<float>(r), fx = col - static_cast<float>(c);
  if (r == img->rows - 1) fy = 0.0f;
  if (c == img->cols - 1) fx = 0.0f;
  const float* p = img->data + static_cast<long>(r) * img->cols + c;
  float v = (1.0f - fy) * (1.0f - fx) * p[0];
  if (fy != 0.0f) v = std::fma(fy * (1.0f - fx), p[img->cols], v);
  if (fx != 0.0f) v = std::fma((1.0f - fy) * fx, p[1], v);
  if (fy != 0.0f && fx != 0.0f) v = std::fma(fy * fx, p[img->cols + 1], v);
  return v;
}

Matrix* Image_RemapBilinearAlloc(const Matrix* src, const Matrix* xmap, const Matrix* ymap) {
  Matrix* out = Matrix_New(xmap->cols, xmap->rows);
  const long n = static_cast<long>(xmap->cols) * xmap->rows;
  for (long i = 0; i < n; ++i) {
    const float x = xmap->data[i];
    out->data[i] = x < 0.0f ? 0.0f : Image_SampleBilinear(src, ymap->data[i], x);
  }
  return out;
}

void Image_RemapBilinear(const Matrix* src, const Matrix* xmap, const Matrix* ymap, Matrix* dst,
                         int32_t dx, int32_t dy) {
  const long n = static_cast<long>(xmap->cols) * xmap->rows;
  for (long i = 0; i < n; ++i) {
    const float x = static_cast<float>(dx) + xmap->data[i];
    const float y = static_cast<float>(dy) + ymap->data[i];
    dst->data[i] = x < 0.0f ? 0.0f : Image_SampleBilinear(src, y, x);
  }
}

void Image_Rotate(const Matrix* src, Matrix* dst, float angle) {
  const long n = static_cast<long>(dst->cols) * dst->rows;
  for (long i = 0; i < n; ++i) dst->data[i] = 0.0f;
  const float c = std::cos(angle), s = std::sin(angle);
  const float scx = static_cast<float>(src->cols - 1) / 2.0f;
  const float scy = static_cast<float>(src->rows - 1) / 2.0f;
  const float dcx = static_cast<float>(dst->cols - 1) / 2.0f;
  const float dcy = static_cast<float>(dst->rows - 1) / 2.0f;
  const float maxX = static_cast<float>(dst->cols - 2), maxY = static_cast<float>(dst->rows - 2);
  for (int32_t r = 0; r < dst->rows; ++r) {
    for (int32_t k = 0; k < dst->cols; ++k) {
      const float u = static_cast<float>(k) - scx, v = static_cast<float>(r) - scy;
      const float xs = std::fma(s, v, c * u) + dcx;
      const float ys = std::fma(c, v, -s * u) + dcy;
      if (xs >= 0.0f && xs <= maxX && ys >= 0.0f && ys <= maxY)
        dst->data[static_cast<long>(r) * dst->cols + k] = Image_SampleBilinear(src, ys, xs);
    }
  }
}

namespace {

void ResizeNearestIndex(int32_t srcN, int32_t dstN, int32_t* table) {
  const int32_t lo = (srcN < dstN ? srcN : dstN) - 1;
  for (int32_t d = 0; d < dstN; ++d) {
    int32_t s = static_cast<int32_t>((static_cast<int64_t>(lo) + static_cast<int64_t>(d) * 2 * srcN) /
                                     (2 * static_cast<int64_t>(dstN)));
    if (s >= srcN) s -= 1;
    table[d] = s;
  }
}

void ResizeLinearIndex(int32_t srcN, int32_t dstN, int32_t* idx, float* frac) {
  const float ratio = static_cast<float>(srcN) / static_cast<float>(dstN);
  int32_t step = static_cast<int32_t>(ratio);
  if (step < 1) step = 1;
  const int32_t limit = srcN - step;
  for (int32_t d = 0; d < dstN; ++d) {
    const float s = (static_cast<float>(d) + 0.5f) * ratio - 0.5f;
    int32_t i = static_cast<int32_t>(s);
    float f = s - static_cast<float>(i);
    if (s < 0.0f || i < 0) {
      i = 0;
      f = 0.0f;
    }
    if (i >= limit) {
      i = limit;
      f = 0.0f;
    }
    idx[d] = i;
    frac[d] = f;
  }
}

}  // namespace

void Image_Resize(const Matrix* src, Matrix* dst, int32_t mode) {
  if (mode != 1 && mode != 2) return;
  const int32_t sw = src->cols, sh = src->rows, dw = dst->cols, dh = dst->rows;
  if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;
  // Tables for widths up to 2600 live on the stack.
  constexpr int32_t kStack = 2600;
  int32_t colStack[kStack];
  float fracStack[kStack];
  std::vector<int32_t> colHeap;
  std::vector<float> fracHeap;
  int32_t* cols = colStack;
  float* cfrac = fracStack;
  if (dw > kStack) {
    colHeap.resize(static_cast<size_t>(dw));
    fracHeap.resize(static_cast<size_t>(dw));
    cols = colHeap.data();
    cfrac = fracHeap.data();
  }
  if (mode == 1) {
    ResizeNearestIndex(sw, dw, cols);
    std::vector<int32_t> rows(static_cast<size_t>(dh));
    ResizeNearestIndex(sh, dh, rows.data());
    for (int32_t y = 0; y < dh; ++y)
      for (int32_t x = 0; x < dw; ++x)
        dst->data[static_cast<long>(y) * dw + x] =
            src->data[static_cast<long>(rows[static_cast<size_t>(y)]) * sw + cols[x]];
    return;
  }
  ResizeLinearIndex(sw, dw, cols, cfrac);
  std::vector<int32_t> rows(static_cast<size_t>(dh));
  std::vector<float> rfrac(static_cast<size_t>(dh));
  ResizeLinearIndex(sh, dh, rows.data(), rfrac.data());
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t r = rows[static_cast<size_t>(y)];
    const float fy = rfrac[static_cast<size_t>(y)];
    const float* r0 = src->data + static_cast<long>(r) * sw;
    const float* r1 = r + 1 < sh ? r0 + sw : r0;
    for (int32_t x = 0; x < dw; ++x) {
      const int32_t c = cols[x];
      const float fx = cfrac[x];
      const int32_t c1 = c + 1 < sw ? c + 1 : c;
      const float top = std::fma(fx, r0[c1], (1.0f - fx) * r0[c]);
      const float bottom = std::fma(fx, r1[c1], (1.0f - fx) * r1[c]);
      dst->data[static_cast<long>(y) * dw + x] = std::fma(fy, bottom, (1.0f - fy) * top);
    }
  }
}

void Matrix_MirrorHorizontal(const Matrix* src, Matrix* dst) {
  const int32_t w = src->cols;
  for (int32_t r = 0; r < src->rows; ++r) {
    const float* s = src->data + static_cast<long>(r) * w;
    float* d = dst->data + static_cast<long>(r) * w;
    if (s == d) {
      for (int32_t c = 0; c < w / 2; ++c) std::swap(d[c], d[w - 1 - c]);
    } else {
      for (int32_t c = 0; c < w; ++c) d[c] = s[w - 1 - c];
    }
  }
}

void Vec_Normalize(const float* src, float* dst, int32_t n, int32_t normType, float a, float b) {
  if (n < 1) return;
  if (normType == 3) {
    float mn = FLT_MAX, mx = -FLT_MAX;
    for (int32_t i = 0; i < n; ++i) {
      mn = std::fmin(mn, src[i]);
      mx = std::fmax(mx, src[i]);
    }
    if (!(mx > mn)) return;
    const float k = (b - a) / (mx - mn);
    for (int32_t i = 0; i < n; ++i) dst[i] = std::fma(src[i] - mn, k, a);
    return;
  }
  float norm;
  if (normType == 1) {
    norm = 0.0f;
    for (int32_t i = 0; i < n; ++i) norm += src[i];
  } else if (normType == 2) {
    norm = 0.0f;
    for (int32_t i = 0; i < n; ++i) norm = std::fma(src[i], src[i], norm);
    norm = std::sqrt(norm);
  } else if (normType == 4) {
    norm = -FLT_MAX;
    for (int32_t i = 0; i < n; ++i) norm = std::fmax(norm, src[i]);
  } else {
    return;
  }
  // A zero norm has no meaningful result: the output is left as it was.
  if (norm == 0.0f) return;
  for (int32_t i = 0; i < n; ++i) dst[i] = a * src[i] / norm;
}

void Image_RaiseToCornerMin(const Matrix* src, Matrix* dst) {
  const int32_t w = dst->cols, h = dst->rows;
  if (w <= 20 || h <= 20) return;
  std::vector<float> copy;
  const float* s = src->data;
  if (src->data == dst->data) {
    copy.assign(src->data, src->data + static_cast<long>(w) * h);
    s = copy.data();
  }
  auto at = [&](int32_t r, int32_t c) { return s[static_cast<long>(r) * w + c]; };
  float* d = dst->data;
  for (int32_t r = 10; r <= h - 11; ++r) {
    for (int32_t c = 10; c <= w - 11; ++c) {
      const float v = at(r, c);
      float& out = d[static_cast<long>(r) * w + c];
      float m = std::fmin(std::fmin(at(r - 5, c - 5), at(r - 5, c + 5)),
                          std::fmin(at(r + 5, c - 5), at(r + 5, c + 5)));
      if (m > v) out = m;
      m = std::fmin(std::fmin(at(r, c - 7), at(r, c + 7)), std::fmin(at(r - 7, c), at(r + 7, c)));
      if (m > v) out = m;
      float M = std::fmax(std::fmax(at(r - 1, c - 1), at(r - 1, c + 1)),
                          std::fmax(at(r + 1, c - 1), at(r + 1, c + 1)));
      if (M < v) out = M;
      M = std::fmax(std::fmax(at(r, c - 2), at(r, c + 2)), std::fmax(at(r - 2, c), at(r + 2, c)));
      if (M < v) out = M;
    }
  }
}

void Points_SuppressNear(PointRecord* records, int32_t n, float distance) {
  static_assert(sizeof(PointRecord) == 16, "records of four 32-bit fields");
  if (records == nullptr || n < 1) return;
  for (int32_t i = 0; i < n; ++i) records[i].valid = 1;
  QuickSortRecords16(records, n);
  const int64_t limit = static_cast<int64_t>(distance * distance);
  for (int32_t i = 0; i < n; ++i) {
    if (!records[i].valid) continue;
    for (int32_t j = i + 1; j < n; ++j) {
      const int64_t dx = static_cast<int64_t>(records[j].x) - records[i].x;
      const int64_t dy = static_cast<int64_t>(records[j].y) - records[i].y;
      if (dx * dx + dy * dy < limit) records[j].valid = 0;
    }
  }
}

void ImageU8_RaiseToCornerMin(ImageU8* img) {
  if (img == nullptr || img->width < 1 || img->height < 1) return;
  std::vector<float> buf(static_cast<size_t>(img->width) * static_cast<size_t>(img->height));
  Matrix m{img->width, img->height, buf.data()};
  ImageU8_ToMatrix(img, &m);
  Image_RaiseToCornerMin(&m, &m);
  Matrix_ToImageU8(&m, img);
}
