#include "calibration/solve/ground_grid_maps.h"

#include <algorithm>
#include <vector>

#include "camera/camera_model.h"
#include "frame/lens_table_lock.h"
#include "frame/log.h"

namespace {

bool MapsHold(const Matrix* U, const Matrix* V, int32_t cols, int32_t rows) {
  const bool ok = U != nullptr && V != nullptr && U->data != nullptr && V->data != nullptr && U->cols >= cols &&
                  U->rows >= rows && V->cols >= cols && V->rows >= rows;
  if (!ok) AvmLog("ground grid: maps smaller than the %d x %d grid\n", cols, rows);
  return ok;
}

// Projects the points (3 columns) and writes each (u, v), or -1 outside the
// inner area, through put(index, u, v).
// image holds 2 n floats.
template <class Put>
void ProjectGrid(float* points, int32_t n, float* image, int32_t width, int32_t height, const PoseView& pose,
                 Put put) {
  const Matrix P{3, n, points};
  Matrix I{2, n, image};
  {
    // Model 3 selects its lens-table slot for the projection; the others
    // read nothing process-wide.
    std::unique_lock<std::recursive_mutex> lock(LensTable_Mutex(), std::defer_lock);
    if (pose.model == 3) lock.lock();
    CameraModel_Project(pose, &P, &I);
  }
  const float maxU = static_cast<float>(width) - 2.0f, maxV = static_cast<float>(height) - 2.0f;
  for (int32_t k = 0; k < n; ++k) {
    const float u = image[2 * k], v = image[2 * k + 1];
    if (u >= 2.0f && u <= maxU && v >= 2.0f && v <= maxV)
      put(k, u, v);
    else
      put(k, -1.0f, -1.0f);
  }
}

}  // namespace

void Calib_ReprojectPoints(int32_t width, int32_t height, int32_t cols, int32_t rows, int32_t x0, int32_t y0,
                           const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D, Matrix* U, Matrix* V,
                           int32_t model, int32_t slot, float stepX, float stepY, float z) {
  if (cols < 1 || rows < 1 || !MapsHold(U, V, cols, rows)) return;
  std::vector<float> work(static_cast<size_t>(5) * cols * rows);
  Calib_ReprojectPointsBuffered(width, height, GroundGrid{cols, rows, x0, y0, stepX, stepY, z},
                                PoseView{R, T, K, D, model, slot}, U, V, work.data());
}

void Calib_ReprojectPointsBuffered(int32_t width, int32_t height, const GroundGrid& g, const PoseView& pose,
                                   Matrix* U, Matrix* V, float* work) {
  const int32_t cols = g.cols, rows = g.rows;
  if (cols < 1 || rows < 1 || !MapsHold(U, V, cols, rows)) return;
  const size_t n = static_cast<size_t>(cols) * rows;
  float* points = work;
  for (int32_t i = 0; i < rows; ++i)
    for (int32_t j = 0; j < cols; ++j) {
      float* p = &points[3 * (static_cast<size_t>(i) * cols + j)];
      p[0] = static_cast<float>(g.x0) + static_cast<float>(j) * g.stepX;
      p[1] = static_cast<float>(g.y0) + static_cast<float>(i) * g.stepY;
      p[2] = g.z;
    }
  ProjectGrid(points, static_cast<int32_t>(n), work + 3 * n, width, height, pose, [&](int32_t k, float u, float v) {
    const int32_t i = k / cols, j = k % cols;
    U->data[i * U->cols + j] = u;
    V->data[i * V->cols + j] = v;
  });
}

void Calib_MatchTargetPoints(int32_t width, int32_t height, int32_t cols, int32_t rows, int32_t x0, int32_t y0,
                             const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D, Matrix* U, Matrix* V,
                             int32_t model, int32_t slot, float stepX, float stepY) {
  if (cols < 0 || rows < 0 || !MapsHold(U, V, cols, rows)) return;
  std::fill(U->data, U->data + static_cast<size_t>(U->cols) * U->rows, -1.0f);
  std::fill(V->data, V->data + static_cast<size_t>(V->cols) * V->rows, -1.0f);
  const int32_t hc = cols / 2, hr = rows / 2;
  if (hc > 0 && hr > 0) {
    std::vector<float> points(static_cast<size_t>(3) * hc * hr);
    for (int32_t l = 0; l < hr; ++l)
      for (int32_t k = 0; k < hc; ++k) {
        float* p = &points[3 * (static_cast<size_t>(l) * hc + k)];
        p[0] = static_cast<float>(x0) + static_cast<float>(2 * k) * stepX;
        p[1] = static_cast<float>(y0) + static_cast<float>(2 * l) * stepY;
        p[2] = 0.0f;
      }
    std::vector<float> image(static_cast<size_t>(2) * hc * hr);
    ProjectGrid(points.data(), hc * hr, image.data(), width, height, PoseView{R, T, K, D, model, slot},
                [&](int32_t n, float u, float v) {
      const int32_t l = n / hc, k = n % hc;
      U->data[2 * l * U->cols + 2 * k] = u;
      V->data[2 * l * V->cols + 2 * k] = v;
    });
  }
  // Midpoints; a midpoint next to an unmapped element is unmapped itself
  // (averaging the -1 marker in would make a bogus image position).
  auto mid = [&](int32_t i, int32_t j, int32_t ia, int32_t ja, int32_t ib, int32_t jb) {
    const float ua = U->data[ia * U->cols + ja], ub = U->data[ib * U->cols + jb];
    const float va = V->data[ia * V->cols + ja], vb = V->data[ib * V->cols + jb];
    const bool mapped = ua >= 0.0f && ub >= 0.0f && va >= 0.0f && vb >= 0.0f;
    U->data[i * U->cols + j] = mapped ? (ua + ub) / 2.0f : -1.0f;
    V->data[i * V->cols + j] = mapped ? (va + vb) / 2.0f : -1.0f;
  };
  if (rows >= 1 && cols >= 3)
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 1; c <= cols - 2; c += 2) mid(r, c, r, c - 1, r, c + 1);
  if (cols >= 1 && rows >= 3)
    for (int32_t c = 0; c < cols; ++c)
      for (int32_t r = 1; r <= rows - 2; r += 2) mid(r, c, r - 1, c, r + 1, c);
}

void Calib_GroundPatchMaps(float z, int32_t width, int32_t height, int32_t x0, int32_t y0, const Matrix* R,
                           const Matrix* T, const Matrix* K, const Matrix* D, Matrix* U, Matrix* V, int32_t slot) {
  Calib_ReprojectPoints(width, height, kGroundPatchSize, kGroundPatchSize, x0, y0, R, T, K, D, U, V, 3, slot,
                        kGroundPatchStep, kGroundPatchStep, z);
}
