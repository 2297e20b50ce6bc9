#include "frame/smoothing1d.h"

#include <cstring>
#include <vector>

namespace {

void Pad(const float* data, int32_t n, int32_t r, float* work) {
  for (int32_t i = 0; i < r; ++i) {
    work[i] = data[0];
    work[n + r + i] = data[n - 1];
  }
  memcpy(work + r, data, sizeof(float) * static_cast<size_t>(n));
}

// Sample positions along one axis: 0, step, 2 step, ... and the last one.
std::vector<int32_t> SamplePositions(int32_t size, int32_t step) {
  std::vector<int32_t> pos;
  for (int32_t p = 0; p < size; p += step) pos.push_back(p);
  if (pos.empty() || pos.back() != size - 1) pos.push_back(size - 1);
  return pos;
}

// Interpolates the elements between sampled positions of one line; stride
// is the distance between neighbouring elements of the line.
void FillLine(int32_t* base, int32_t stride, const std::vector<int32_t>& pos) {
  for (size_t k = 0; k + 1 < pos.size(); ++k) {
    const int32_t a = pos[k], b = pos[k + 1];
    const int32_t va = base[static_cast<size_t>(a) * stride];
    const int32_t slope = (base[static_cast<size_t>(b) * stride] - va) / (b - a);
    int32_t v = va;
    for (int32_t p = a + 1; p < b; ++p) {
      v += slope;
      base[static_cast<size_t>(p) * stride] = v;
    }
  }
}

void FillLinePair(int32_t* u, int32_t* v, int32_t stride, const std::vector<int32_t>& pos) {
  for (size_t k = 0; k + 1 < pos.size(); ++k) {
    const size_t a = static_cast<size_t>(pos[k]) * stride, b = static_cast<size_t>(pos[k + 1]) * stride;
    if (u[a] < kScaleHole || u[b] < kScaleHole || v[a] < kScaleHole || v[b] < kScaleHole) continue;
    const int32_t gap = pos[k + 1] - pos[k];
    const int32_t su = (u[b] - u[a]) / gap, sv = (v[b] - v[a]) / gap;
    int32_t cu = u[a], cv = v[a];
    for (int32_t p = 1; p < gap; ++p) {
      cu += su;
      cv += sv;
      u[a + static_cast<size_t>(p) * stride] = cu;
      v[a + static_cast<size_t>(p) * stride] = cv;
    }
  }
}

}  // namespace

void Smooth1D(float* data, int32_t n, int32_t r, float* work) {
  static const float k1[] = {0.25f, 0.5f, 0.25f};
  static const float k2[] = {1 / 16.0f, 4 / 16.0f, 6 / 16.0f, 4 / 16.0f, 1 / 16.0f};
  static const float k3[] = {1 / 32.0f, 3.5f / 32.0f, 7 / 32.0f, 9 / 32.0f, 7 / 32.0f, 3.5f / 32.0f, 1 / 32.0f};
  const float* k = r == 1 ? k1 : r == 2 ? k2 : r == 3 ? k3 : nullptr;
  if (k == nullptr || n < 1) return;
  Pad(data, n, r, work);
  for (int32_t i = 0; i < n; ++i) {
    float s = 0.0f;
    for (int32_t t = 0; t <= 2 * r; ++t) s += k[t] * work[i + t];
    data[i] = s;
  }
}

float BoxSmooth1D(float* data, int32_t n, int32_t r, float* work) {
  if (n < 1 || r < 0) return 0.0f;
  Pad(data, n, r, work);
  const float inv = 1.0f / static_cast<float>(2 * r + 1);
  float sum = 0.0f;
  for (int32_t t = 0; t <= 2 * r; ++t) sum += work[t];
  data[0] = sum * inv;
  for (int32_t i = 1; i < n; ++i) {
    sum += work[i + 2 * r] - work[i - 1];
    data[i] = sum * inv;
  }
  return sum;
}

void Smooth3Interior(float* data, int32_t n, float* work) {
  if (n <= 2) return;
  memcpy(work, data, sizeof(float) * static_cast<size_t>(n));
  for (int32_t i = 1; i + 1 < n; ++i) data[i] = 0.25f * work[i - 1] + 0.5f * work[i] + 0.25f * work[i + 1];
}

void Image_ScaleCols(ImageI32* grid, int32_t step) {
  const int32_t w = grid->width, h = grid->height;
  if (w < 1 || h < 1 || step < 1) return;
  const std::vector<int32_t> cols = SamplePositions(w, step), rows = SamplePositions(h, step);
  for (int32_t y : rows) FillLine(grid->data + static_cast<size_t>(y) * w, 1, cols);
  for (int32_t x = 0; x < w; ++x) FillLine(grid->data + x, w, rows);
}

void Image_ScaleRows(ImageI32* gridU, ImageI32* gridV, int32_t step, int32_t maxU, int32_t maxV) {
  (void)maxU;
  (void)maxV;
  const int32_t w = gridU->width, h = gridU->height;
  if (w < 1 || h < 1 || step < 1 || gridV->width != w || gridV->height != h) return;
  const std::vector<int32_t> cols = SamplePositions(w, step), rows = SamplePositions(h, step);
  for (int32_t y : rows) {
    const size_t off = static_cast<size_t>(y) * w;
    FillLinePair(gridU->data + off, gridV->data + off, 1, cols);
  }
  for (int32_t x = 0; x < w; ++x) FillLinePair(gridU->data + x, gridV->data + x, w, rows);
}
