#pragma once
// What the LUT object's builds use of target detection and pose solving.
// The LUT code calls these names; they are defined by the calibration layers.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;
struct LutConfig;

// Finds the target corners in camera 1..4's image slot of the LUT object,
// stores them as its image points and their number as its corner count;
// returns the count (0: none).
uint32_t FindAllChessboardCorners(LUTOB* lut, uint32_t camera);

// Solves camera 1..4's intrinsics, distortion and pose from n image points
// (row, column pairs) and n world points (x, y, z) with the rules of the board
// layout in force. 0 when the fit error is within the camera's limit, and
// K (3 x 3), D (8 x 1), R, T (3 x 1) receive the solution; -2 otherwise
// (outputs untouched; also for invalid arguments). Every solve writes the
// camera's last fit error into the configuration. fitRefine goes to the final
// lens-model fit; candidate is 1 when a corner finder tests a point set, 0
// for the final solve of a LUT build. Defined in calibration/solve.
int32_t CalibrateCamera(LutConfig* cfg, int32_t width, int32_t height, Matrix* image, int32_t camera, int32_t n,
                        float* imagePoints, float* worldPoints, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                        int32_t fitRefine, int32_t candidate);

// Ground positions (mm) of the target marks of camera 1..4 for the current
// board layout into `world` (3 columns x M rows); rows past the marks are 0.
// Defined with the target world points of calibration/solve.
void ComputeTargetWorldPoints(LutConfig* cfg, int32_t camera, Matrix* world);

// Projects the cols x rows grid of ground points (x0 + c stepX,
// y0 + r stepY, z) through the camera into U and V (cols x rows each);
// points within 2 pixels of the border or outside get (-1, -1). U and V are
// at least cols x rows; a grid without rows or columns leaves them as they
// are. Defined in calibration/solve.
void Calib_ReprojectPoints(int32_t width, int32_t height, int32_t cols, int32_t rows, int32_t x0, int32_t y0,
                           const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D, Matrix* U, Matrix* V,
                           int32_t model, int32_t slot, float stepX, float stepY, float z);

// Four-block calibration (board layout 29) from a quad frame (imageKind 0 a
// float Matrix, otherwise an 8-bit ImageU8) or from hand-entered corners.
// 0 unless the layout is 29; then 0 on success or a calibration code.
// Defined with the block calibrations in calibration/solve.
int32_t BlockCalib4_RunAuto(int32_t cameraModel, int32_t imageKind, const void* image);
int32_t BlockCalib4_RunHand(int32_t cameraModel, int32_t cameraWidth, int32_t cameraHeight, const float* xs,
                            const float* ys);

// Six-block calibration (board layout 52) on the two quad frames, or from
// the hand-entered points of both groups (59 a camera slot). 0 unless the
// layout is 52; then 0 on success or a calibration code.
int32_t BlockCalib6_RunAuto(int32_t model, const ImageU8* image1, const ImageU8* image2);
int32_t BlockCalib6_RunHand(int32_t model, int32_t cameraWidth, int32_t cameraHeight, const float* pointsA1,
                            const float* pointsA2, const float* pointsB1, const float* pointsB2);
// Target points the six-block calibration found for camera slot 1..4 of
// group 0 (A) or 1 (B): 8 (x, y) pairs into points; returns the number the
// calibration found (0 before a run).
constexpr int32_t kBlockCalib6Points = 8;
int32_t BlockCalib6_GetGroupPoints(int32_t group, int32_t slot, float points[2 * kBlockCalib6Points]);
