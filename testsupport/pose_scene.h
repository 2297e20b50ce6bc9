#pragma once
// Point pairs of a chessboard on the ground seen by one camera at a known
// pose, for pose-solving tests and benchmarks: the board's inner corners
// projected exactly through the camera's lens model (the scene renderer's
// corner positions), optionally with seeded Gaussian noise.
//
// Site frame: millimetres, x to the right, y to the rear, z downward (the
// ground is z = 0 and a camera h mm above it sits at z = -h). Image points
// are stored as the calibration stores them: (row, column) pairs.
#include <cstdint>
#include <vector>

#include "testsupport/scene_renderer.h"

struct PoseScene {
  SceneCamera cam;  // the truth
  TargetSpec board;
  int32_t width = 1280, height = 720;
  int32_t count = 0;
  std::vector<float> image;  // count (row, column) pairs, noise included
  std::vector<float> world;  // count (x, y, z) triples
  std::vector<float> exactU, exactV;  // noise-free projections
};

// Intrinsics of lens model 1, 2 or 4 for a width x height camera that the
// model's fit from scratch can reach exactly (its scale on the fit's search
// grid, principal point at the image centre, no higher terms): focal scale
// 360 px, second term 0, K[0] 1. Model 3 takes scale3 (pixels per
// lens-table height unit) and lens-table slot `slot`.
SceneCamera PoseScene_Camera(int32_t model, int32_t width, int32_t height, float scale3 = 0.0f, int32_t slot = 0);

// The camera `heightMm` above the ground at (x, y) = (0, 0) looks at the
// centre of a 9 x 7 chessboard (48 inner corners, squares of `squareMm`)
// whose near edge lies `distanceMm` ahead, straight ahead being the front
// (-y) turned by yawDeg to the right. noisePx: standard deviation of the
// noise added to each coordinate (seeded).
PoseScene PoseScene_Make(const SceneCamera& intrinsics, float heightMm, float distanceMm, float yawDeg,
                         float noisePx = 0.0f, uint32_t seed = 1, int32_t width = 1280, int32_t height = 720,
                         float squareMm = 100.0f);

// Angle (degrees) of the rotation between two rotation vectors, and the
// distance (mm) between the camera centres (-T) of two translations.
double PoseScene_RotationErrorDeg(const float* r1, const float* r2);
double PoseScene_PositionErrorMm(const float* T1, const float* T2);
// Distance (mm) between the camera centres (-R^T T) of two poses
// x_cam = R x + T given as rotation vectors and translations.
double PoseScene_CentreGapMm(const float* r1, const float* T1, const float* r2, const float* T2);
