// The 3-D bowl object: creation from a parameter file, the grid size and the
// two seam weight maps.
#include "surround/bowl_grid.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/numeric_constants.h"

const float kBowlDefaultShape[8] = {2400, 5400, 6000, 1.0f, 2400, 3400, 4000, 1.0f};

namespace {

// The float nearest 1 - 0.998: the least share a ramp hands out.
constexpr float kRampFloor = 0.0019999743f;

// A slope or angle that divides must not be 0: a seam pair (0, 0) would
// otherwise turn every ramp into a division by zero.
float NonZero(float v) {
  if (std::fabs(v) >= 1e-3f) return v;
  return v < 0.0f ? -1e-3f : 1e-3f;
}

// int() of a float that may be huge (a slope near 0): clamped first.
int32_t ClampedInt(float v, int32_t hi) { return static_cast<int32_t>(std::min(v, static_cast<float>(hi))); }

}  // namespace

void D3DGrid_PickSize(float extY, int32_t* cols, int32_t* rows, float* height, float* focal) {
  struct SizeRow {
    float above;
    int32_t cols, rows;
    float height, focal;
  };
  static const SizeRow kRows[] = {
      {14000.0f, 400, 536, 16000.0f, 170.0f},
      {11000.0f, 340, 455, 13600.0f, 144.5f},
      {9000.0f, 280, 375, 11200.0f, 119.0f},
      {7000.0f, 240, 321, 9600.0f, 102.00001f},
  };
  for (const SizeRow& r : kRows)
    if (extY > r.above) {
      *cols = r.cols;
      *rows = r.rows;
      *height = r.height;
      *focal = r.focal;
      return;
    }
  *cols = 200;
  *rows = 268;
  *height = 8000.0f;
  *focal = 85.0f;
}

void D3DGrid_ViewPoint(const D3DGrid* grid, float x, float y, float height, float* px, float* py) {
  const float f = grid->focal;
  const float d = std::sqrt(x * x + y * y);
  if (grid->projType == 1) {
    if (d <= 1e-5f) {
      *px = 0.0f;
      *py = 0.0f;
      return;
    }
    const float s = f * std::atan(d / height) / d;
    *px = x * s;
    *py = y * s;
  } else if (grid->projType == 2) {
    const float n = std::sqrt(d * d + height * height);
    *px = f * x / n;
    *py = f * y / n;
  } else {
    *px = f * x / height;
    *py = f * y / height;
  }
}

void D3DGrid_CarEdges(const D3DGrid* grid, float* cL, float* cR, float* rT, float* rB) {
  const float x0 = -grid->carW / 2 + grid->insets[2], x1 = grid->carW / 2 - grid->insets[3];
  const float y0 = -grid->carL / 2 + grid->insets[0], y1 = grid->carL / 2 - grid->insets[1];
  float px, py;
  D3DGrid_ViewPoint(grid, x0, y0, grid->height, &px, &py);
  *cL = grid->cols / 2 + px;
  *rT = grid->rows / 2 + py;
  D3DGrid_ViewPoint(grid, x1, y1, grid->height, &px, &py);
  *cR = grid->cols / 2 + px;
  *rB = grid->rows / 2 + py;
}

float D3DGrid_SeamRamp(float g, float w, float dy, float dx, float cL) {
  const float k = 1.0f / std::tan(NonZero(g));
  const float kc = std::min(k, w);
  const float e = dx - std::min(k * dy, cL);
  const auto soft = [&]() { return std::min(std::atan2(dy, e) / kHalfPi, (w - e) / w); };
  if (dy < 3.0f && dx < 3.0f) return std::min(std::max(soft(), kRampFloor), 0.998f);
  if (-kc < e && e <= 0.0f) return 0.998f;
  if (e <= -kc) {
    if (kc + e <= -w / 2) return 1.0f;
    if (cL - dx >= w) return 0.998f;
    const float a = std::atan2(dy, dx) - g;
    return std::fabs(a) <= 0.12f ? 0.998f : 1.0f;
  }
  if (e > w) return e - w >= w / 2 ? 0.0f : kRampFloor;
  return soft();
}

void D3DGrid_BuildSeamWeights(D3DGrid* grid) {
  const float* a = gv().config.seamFraction;
  const int32_t cols = grid->cols, rows = grid->rows;
  float g1 = (a[0] + a[1]) / 2 * kHalfPi, g2 = (a[2] + a[3]) / 2 * kHalfPi;
  if (!(g1 > 0.0f)) g1 = 0.001f;
  if (!(g2 > 0.0f)) g2 = 0.001f;
  const float w1 = cols * std::max((a[1] - a[0]) * 25 / std::cos(kHalfPi - g1), 4.0f) / 200;
  const float w2 = cols * std::max((a[3] - a[2]) * 25 / std::cos(kHalfPi - g2), 4.0f) / 200;
  AvmLog("D3DGrid angle %f %f %f %f \n", a[0], a[1], a[2], a[3]);
  float cL, cR, rT, rB;
  D3DGrid_CarEdges(grid, &cL, &cR, &rT, &rB);
  const bool rearRamp = grid->info.cornerCount[1] != 0;

  float* A = grid->seamA.data;
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      const float fr = static_cast<float>(r), fc = static_cast<float>(c);
      const bool beside = fc >= cL && fc <= cR;
      float v;
      if (fr < rT) {
        if (beside) v = 1.0f;
        else if (fc < cL) v = D3DGrid_SeamRamp(g1, w1, rT - fr, cL - fc, cL);
        else v = D3DGrid_SeamRamp(g1, w1, rT - fr, fc - cR, cL);
      } else if (fr > rB) {
        if (beside) v = 1.0f;
        else if (!rearRamp) v = 0.0f;
        else v = D3DGrid_SeamRamp(g2, w2, fr - rB, fc < cL ? cL - fc : fc - cR, cL);
      } else {
        v = beside ? -1.0f : 0.0f;
      }
      A[static_cast<size_t>(r) * cols + c] = v;
    }

  float* B = grid->seamB.data;
  std::fill(B, B + static_cast<size_t>(cols) * rows, -1.0f);
  const int32_t iT = static_cast<int32_t>(rT), iB = static_cast<int32_t>(rB + 0.99999f);
  const int32_t iL = static_cast<int32_t>(cL), iR = static_cast<int32_t>(cR + 0.99999f);
  const float t1 = NonZero(std::tan((a[0] + a[1]) / 2)), t2 = NonZero(std::tan((a[2] + a[3]) / 2));
  const auto ramp = [](int32_t c, int32_t s, int32_t e) {
    return e > s ? static_cast<float>(c - s) / static_cast<float>(e - s) : 0.0f;
  };
  const auto at = [&](int32_t row, int32_t c) -> float& { return B[static_cast<size_t>(row) * cols + c]; };
  for (int32_t k = 0; k <= iT && k < rows; ++k) {
    const int32_t h = std::max(ClampedInt((iT - k) / t1, iL), 0);
    const int32_t s = iL - h, e = std::min(h + iR, cols - 1);
    for (int32_t c = std::max(s, 0); s <= e && c <= e; ++c) at(k, c) = ramp(c, s, e);
  }
  for (int32_t k = iT; k >= 0; --k) {
    const int32_t row = rows - 1 - (iT - k);
    if (row < 0 || row >= rows) continue;
    const int32_t h = std::max(ClampedInt(k / t2, iL), 0);
    const int32_t s = iL - h, e = std::min(iR + h, cols - 1);
    for (int32_t c = std::max(s, 0); s <= e && c <= e; ++c) at(row, c) = 1.0f - ramp(c, s, e);
  }
  if (iL >= 0) {
    for (int32_t j = 0; j <= iL && j < cols; ++j) {
      const float d = static_cast<float>(iL - j);
      const int32_t first = std::max(iT - ClampedInt(d * t1, rows) - 1, 0);
      int32_t last = ClampedInt(d * t2, rows) + iB + 1;
      if (last >= rows) last = rows - 1;
      for (int32_t row = first; row <= last; ++row) {
        if (at(row, j) < 0.0f) {
          const float v = iB > iT ? static_cast<float>(row - iT) / static_cast<float>(iB - iT) : 0.5f;
          at(row, j) = std::min(std::max(v, 0.0f), 1.0f);
        }
        at(row, cols - 1 - j) = 1.0f - at(row, j);
      }
    }
  }
}

void D3DGrid_BuildAxisWeights(D3DGrid* grid) {
  const float* a = gv().config.seamFraction;
  const int32_t cols = grid->cols, rows = grid->rows;
  std::fill(grid->seamB.data, grid->seamB.data + static_cast<size_t>(cols) * rows, 0.5f);
  if (cols < 1 || rows < 1) return;
  const float w = cols * std::max((a[1] + a[3] - a[0] - a[2]) * 15, 4.0f) / 200;
  float cL, cR, rT, rB;
  D3DGrid_CarEdges(grid, &cL, &cR, &rT, &rB);
  const float m = (cL + cR) / 2, n = (rT + rB) / 2;
  // 1 up to centre - w/2, 0 from centre + w/2, linear between.
  const auto fall = [&](float pos, float centre) {
    if (pos <= centre - w / 2) return 1.0f;
    if (pos >= centre + w / 2) return 0.0f;
    return (centre + w / 2 - pos) / w;
  };
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      const float fr = static_cast<float>(r), fc = static_cast<float>(c);
      float v;
      if (fr < rT) {
        v = fc < cL ? 1.0f : (fc > cR ? 0.0f : fall(fc, m));
      } else if (fr <= rB) {
        v = (fc >= cL && fc <= cR) ? -1.0f : fall(fr, n);
      } else {
        v = fc < cL ? 0.0f : (fc > cR ? 1.0f : 1.0f - fall(fc, m));
      }
      grid->seamA.data[static_cast<size_t>(r) * cols + c] = v;
    }
}

int32_t D3DGrid_Init_New(D3DGrid* grid, const char* path, const float shape[8], const float insets[4]) {
  AvmLog("D3DGrid_Init_New %s %f %f %f %f %f %f %f %f %f %f %f %f \n", path != nullptr ? path : "(null)",
         shape[0], shape[1], shape[2], shape[3], shape[4], shape[5], shape[6], shape[7], insets[0], insets[1],
         insets[2], insets[3]);
  if (path == nullptr) return 0;
  LutConfigInfo info{};
  CameraParamSet params{};
  if (LoadLUTConfig(&info, &params, path, nullptr) == 0) return 0;
  grid->info = info;
  grid->params = params;
  grid->quadW = info.quadWidth;
  grid->quadH = info.quadHeight;
  grid->carW = static_cast<float>(info.carWidth);
  grid->carL = static_cast<float>(info.carLength);
  for (uint32_t& m : grid->model) m = info.model;
  CameraParamSet_SetHeaders(&grid->params, &grid->headers);
  D3DGrid_PickSize(shape[1], &grid->cols, &grid->rows, &grid->height, &grid->focal);
  grid->projType = 1;
  grid->shape[0] = {shape[0], shape[1], shape[2], shape[3]};
  grid->shape[1] = {shape[4], shape[5], shape[6], shape[7]};
  std::memcpy(grid->insets, insets, sizeof grid->insets);
  const size_t n = static_cast<size_t>(grid->cols) * grid->rows;
  grid->seamAData.assign(n, 0.0f);
  grid->seamBData.assign(n, 0.0f);
  grid->seamA = {grid->cols, grid->rows, grid->seamAData.data()};
  grid->seamB = {grid->cols, grid->rows, grid->seamBData.data()};
  if (info.extraParam != 0) D3DGrid_BuildAxisWeights(grid);
  else D3DGrid_BuildSeamWeights(grid);
  grid->ready = 1;
  return 1;
}

void D3DGrid_Release(D3DGrid* grid) {
  AvmLog("D3DGrid_Release ");
  std::vector<float>().swap(grid->seamAData);
  std::vector<float>().swap(grid->seamBData);
  grid->seamA = {0, 0, nullptr};
  grid->seamB = {0, 0, nullptr};
  for (BowlCameraMesh& m : grid->meshes) m = BowlCameraMesh();
  grid->tb = TBMeshBlock();
  grid->meshesBuilt = 0;
  grid->ready = 0;
}
