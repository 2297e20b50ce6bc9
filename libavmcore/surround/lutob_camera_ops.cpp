#include "surround/lutob_camera_ops.h"

#include <cstring>

#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "toolkit/matrix_alloc.h"

int32_t LUTOB_SetImageAndFindCorners(LUTOB* lut, int32_t camera, const Matrix* image) {
  if (lut == nullptr || camera < 1 || camera > 4 || image == nullptr || image->data == nullptr ||
      image->cols != lut->camW || image->rows != lut->camH || lut->camW < 1 || lut->camH < 1)
    return 0;
  Matrix*& slot = lut->cameraImages[camera - 1];
  const size_t n = static_cast<size_t>(lut->camW) * lut->camH;
  if (slot == nullptr) slot = Matrix_New(lut->camW, lut->camH);
  if (slot->cols != lut->camW || slot->rows != lut->camH) return 0;
  memcpy(slot->data, image->data, n * sizeof(float));
  return static_cast<int32_t>(FindAllChessboardCorners(lut, static_cast<uint32_t>(camera)));
}

int32_t LUTOB_SolveCamera(LUTOB* lut, int32_t camera, int32_t enabled) {
  if (enabled == 0) return 1;
  if (lut == nullptr || camera < 1 || camera > 4) return 0;
  const GlobalVariables& g = gv();
  const int c = camera - 1;
  int32_t n = lut->cornerCounts[c];
  if (n <= 0) return 0;
  auto solve = [&](int32_t count, int32_t option) {
    return CalibrateCamera(&lut->cfg, lut->camW, lut->camH, lut->cameraImages[c], camera, count, lut->imagePoints[c],
                           lut->worldPoints[c], &lut->poses.K[c], &lut->poses.D[c], &lut->poses.R[c],
                           &lut->poses.T[c], option, 0) == 0;
  };
  if (lut->singleFitFlags[c] == 1) return solve(n, 1) ? 1 : 0;
  const int32_t fallback = camera == 1 ? g.cornerCount1 : (camera == 2 ? g.cornerCount2 : g.cornerCount34);
  const int32_t small = camera == 1 ? g.boardKind1 : (camera == 2 ? g.boardKind2 : g.boardKind34);
  const int32_t retry = camera <= 2 ? g.fallbackEnable12 : g.fallbackEnable34;
  const int32_t option = (n <= fallback && small != 0) ? 0 : 1;
  if (solve(n, option)) return 1;
  if (!(fallback >= 1 && fallback < n && retry != 0)) return 0;
  n = fallback;
  lut->cornerCounts[c] = n;
  int32_t retryOption = option;
  if (camera >= 3 && n < 43 && g.boardKind34 == 1) retryOption = 0;
  return solve(n, retryOption) ? 1 : 0;
}
