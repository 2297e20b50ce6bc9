#pragma once
// Camera pose solving: the one entry point that solves a camera's
// intrinsics, distortion and pose from its point pairs with the rules of the
// board layout in force (CalibrateCamera, declared with the bird's-eye
// code's services), the candidate test of the corner finders
// (CalibrateCameraByIndex, declared with their services), and the
// line-target solvers of board layout 51.
#include <cstdint>

#include "calibration/detect/pose_solve_services.h"
#include "camera/lut_config.h"
#include "frame/matrix_types.h"
#include "surround/calibration_services.h"

// Line-target solves of board layout 51 (cameras 1, 2: FB; 3, 4: LR): start
// from the parameter block's K, D, R, T of the camera and refine them from
// at most 54 world points (x of each for FB, (x, y) for LR) and their image
// points (x, y). Returns the fit error; FLT_MAX (K, D, R, T untouched) for a
// null block, a camera outside 1..4 or more than 54 points.
float LineCalib_FB(const CameraParamBlock* block, int32_t camera, const Matrix* world, const Matrix* image, Matrix* K,
                   Matrix* D, Matrix* R, Matrix* T);
float LineCalib_LR(const CameraParamBlock* block, int32_t camera, const Matrix* world, const Matrix* image, Matrix* K,
                   Matrix* D, Matrix* R, Matrix* T);

// Epsilon handed to every lens-model fit of the calibration.
constexpr float kCalibFitEpsilon = 1.1920929e-07f;
// Points of a layout-51 line target per camera.
constexpr int32_t kLineTargetPoints = 54;
