#pragma once
// What the layout finders share: the check of their arguments, the pose
// solve of a camera's current point set, the camera's world points and a
// view of a picture-point buffer.
#include <cstdint>

#include "calibration/detect/pose_solve_services.h"
#include "frame/global_variables.h"
#include "frame/matrix_types.h"
#include "surround/lutob.h"

// A finder may run: object, camera 1..4, image with data of at least
// minCols x 1, point buffer and the camera's world points present; with
// minPoints > 0 the point buffers also hold at least that many points.
inline bool FinderCallValid(const LUTOB* lut, uint32_t camera, const Matrix* image,
                            const float* points, int32_t minPoints = 0, int32_t minCols = 1) {
  return lut != nullptr && camera >= 1 && camera <= 4 && image != nullptr &&
         image->data != nullptr && image->cols >= minCols && image->rows > 0 && points != nullptr &&
         lut->worldPoints[camera - 1] != nullptr && (minPoints <= 0 || gv().maxPoints >= minPoints);
}

// The outcome of a pose solve: whether the point set solved, and the
// camera's residual after it (the solve still leaves it in the global
// configuration, where the exports read it).
struct FinderSolve {
  bool ok;
  float rms;
};

// Solves camera 1..4 with its current point count (another camera number
// does not solve and has no residual).
inline FinderSolve FinderSolvePose(LUTOB* lut, uint32_t camera, int32_t flag) {
  const bool ok = CalibrateCameraByIndex(lut, static_cast<int32_t>(camera), flag, 0, 0) != 0;
  return {ok, camera >= 1 && camera <= 4 ? gv().lastCalibResult[camera - 1] : 0.0f};
}

// Sets the camera's point count to `count`, then solves.
inline FinderSolve FinderSolvePose(LUTOB* lut, uint32_t camera, int32_t count, int32_t flag) {
  lut->cornerCounts[camera - 1] = count;
  return FinderSolvePose(lut, camera, flag);
}

// World point j (0-based) of camera 1..4: x and y on the floor.
inline float FinderWorldX(const LUTOB* lut, uint32_t camera, int32_t j) {
  return lut->worldPoints[camera - 1][3 * j];
}
inline float FinderWorldY(const LUTOB* lut, uint32_t camera, int32_t j) {
  return lut->worldPoints[camera - 1][3 * j + 1];
}
// The whole world point j: x, y, z.
inline const float* FinderWorldPoint(const LUTOB* lut, uint32_t camera, int32_t j) {
  return lut->worldPoints[camera - 1] + 3 * j;
}

// A buffer of picture points as interleaved (row, column) pairs: point i
// is at 2i (row) and 2i + 1 (column).
struct FinderPoints {
  float* p;
  float& row(int32_t i) const { return p[2 * i]; }
  float& col(int32_t i) const { return p[2 * i + 1]; }
};
