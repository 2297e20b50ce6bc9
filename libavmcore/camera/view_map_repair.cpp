#include "camera/view_map_repair.h"

#include <cstddef>
#include <vector>

namespace {

// Fills the samples strictly between grid positions along one line of a map
// pair. base is the index of the line's first sample, stride the distance
// between consecutive samples, n the line's length.
void RepairLine(float* mx, float* my, long base, long stride, int32_t n, int32_t step) {
  if (step < 1 || n < 2) return;
  for (int32_t j0 = 0;;) {
    int32_t j1 = j0 + step < n - 1 ? j0 + step : n - 1;
    if (j1 <= j0) break;
    const long i0 = base + j0 * stride, i1 = base + j1 * stride;
    const float x0 = mx[i0], y0 = my[i0], x1 = mx[i1], y1 = my[i1];
    if (x0 <= 0.0f || x1 <= 0.0f || y0 <= 0.0f || y1 <= 0.0f) {
      for (int32_t j = j0 + 1; j < j1; ++j) {
        mx[base + j * stride] = 0.0f;
        my[base + j * stride] = 0.0f;
      }
    } else {
      const float ddx = (x1 - x0) / static_cast<float>(j1 - j0);
      const float ddy = (y1 - y0) / static_cast<float>(j1 - j0);
      float x = x0, y = y0;
      for (int32_t j = j0 + 1; j < j1; ++j) {
        x += ddx;
        y += ddy;
        mx[base + j * stride] = x;
        my[base + j * stride] = y;
      }
    }
    j0 = j1;
  }
}

}  // namespace

void ViewMap_RepairRows(Matrix* mapX, Matrix* mapY, int32_t colStep, int32_t rowStep) {
  const int32_t w = mapX->cols, h = mapX->rows;
  if (rowStep < 1 || w < 1 || h < 1) return;
  for (int32_t i = 0; i < h + rowStep; i += rowStep) {
    int32_t r = i < h - 1 ? i : h - 1;
    RepairLine(mapX->data, mapY->data, static_cast<long>(r) * w, 1, w, colStep);
    if (r == h - 1) break;
  }
}

void ViewMap_RepairCols(Matrix* mapX, Matrix* mapY, int32_t rowStep) {
  const int32_t w = mapX->cols, h = mapX->rows;
  if (rowStep < 1 || h < 2 || w < 1) return;
  // Every column at once, row by row: the same running sums per column as
  // RepairLine down each column, in loops along the rows that vectorise.
  std::vector<float> step(4 * static_cast<size_t>(w));
  float* ddx = step.data();
  float* ddy = ddx + w;
  float* runX = ddy + w;
  float* runY = runX + w;
  float* mx = mapX->data;
  float* my = mapY->data;
  for (int32_t j0 = 0;;) {
    const int32_t j1 = j0 + rowStep < h - 1 ? j0 + rowStep : h - 1;
    if (j1 <= j0) break;
    const float* x0 = mx + static_cast<long>(j0) * w;
    const float* y0 = my + static_cast<long>(j0) * w;
    const float* x1 = mx + static_cast<long>(j1) * w;
    const float* y1 = my + static_cast<long>(j1) * w;
    const float span = static_cast<float>(j1 - j0);
    for (int32_t c = 0; c < w; ++c) {
      const bool bad = x0[c] <= 0.0f || x1[c] <= 0.0f || y0[c] <= 0.0f || y1[c] <= 0.0f;
      // Unusable ends fill the span with 0: a zero step from 0.
      ddx[c] = bad ? 0.0f : (x1[c] - x0[c]) / span;
      ddy[c] = bad ? 0.0f : (y1[c] - y0[c]) / span;
      runX[c] = bad ? 0.0f : x0[c];
      runY[c] = bad ? 0.0f : y0[c];
    }
    for (int32_t j = j0 + 1; j < j1; ++j) {
      float* ox = mx + static_cast<long>(j) * w;
      float* oy = my + static_cast<long>(j) * w;
      for (int32_t c = 0; c < w; ++c) {
        runX[c] += ddx[c];
        runY[c] += ddy[c];
        ox[c] = runX[c];
        oy[c] = runY[c];
      }
    }
    j0 = j1;
  }
}

void ViewMap_RepairRowsStep2(Matrix* mapX, Matrix* mapY, int32_t rowStep) {
  ViewMap_RepairRows(mapX, mapY, 2, rowStep);
}

void ViewMap_RepairCols8(Matrix* mapX, Matrix* mapY) { ViewMap_RepairCols(mapX, mapY, 8); }

void ViewMap_Repair8(Matrix* mapX, Matrix* mapY) {
  ViewMap_RepairRows(mapX, mapY, 8, 8);
  ViewMap_RepairCols8(mapX, mapY);
}

void CutView_RepairMaps(Matrix* mapX, Matrix* mapY) {
  ViewMap_RepairRowsStep2(mapX, mapY, 2);
  ViewMap_RepairCols(mapX, mapY, 2);
}

void ViewMap_ConvertLoaded(Matrix* mapX, Matrix* mapY, int32_t step) {
  ViewMap_RepairRows(mapX, mapY, step, step);
  ViewMap_RepairCols(mapX, mapY, step);
}

void ViewMap_SmoothSingle(Matrix* map, int32_t s) {
  const int32_t w = map->cols, h = map->rows;
  float* d = map->data;
  if (s < 1) return;
  for (int32_t c = 0; c < w; c += 2 * s) {
    for (int32_t r = s; r < h - s; r += 2 * s) {
      float a = d[static_cast<long>(r - s) * w + c], b = d[static_cast<long>(r + s) * w + c];
      if (a > 0.0f && b > 0.0f) d[static_cast<long>(r) * w + c] = (a + b) * 0.5f;
    }
  }
  for (int32_t r = 0; r < h; r += s) {
    for (int32_t c = s; c < w - s; c += 2 * s) {
      float a = d[static_cast<long>(r) * w + c - s], b = d[static_cast<long>(r) * w + c + s];
      if (a >= 0.0f && b >= 0.0f) d[static_cast<long>(r) * w + c] = (a + b) * 0.5f;
    }
  }
}
