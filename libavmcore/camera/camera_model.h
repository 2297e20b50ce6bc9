#pragma once
#include <cstdint>

#include "camera/pose_view.h"
#include "frame/matrix_types.h"

// The one door to the lens models. Every operation takes the camera's lens
// model number (1 to 6) and hands the other arguments unchanged to that
// model's routine. Pose convention: camera coordinates = R * (world + T); R
// is a rotation vector (a 3-element Matrix) or, where stated, a 3 x 3
// matrix. The ground is the plane Z = 0.
//
// A point a model cannot project yields the pixel (-2, -2); single-point
// projections then return 0.

// What the single-point projection reads, filled once per camera.
struct ProjectionContext {
  float R[9];  // rotation matrix, row-major
  float t[3];  // R * T
  float D[8];
  float K[9];
};
static_assert(sizeof(ProjectionContext) == 29 * sizeof(float), "29 floats");

// function(model, context, out u, out v, lens-table slot, X, Y, Z): 1 and the
// pixel inside the model's field, 0 and (-2, -2) outside.
typedef int32_t (*ProjectPointFn)(int32_t model, const ProjectionContext* ctx, float* u, float* v,
                                  int32_t slot, float X, float Y, float Z);

// Start values of a model's coarse search, filled by its set-up routine.
struct FitSetup {
  float start;        // first candidate of the scale D[0]
  float step;         // scale step
  float secondStart;  // first candidate of D[1]
  float secondStep;   // step of D[1]
  int32_t outerCount;
  int32_t innerCount;
  float aspect;  // start value of K[0]
};
static_assert(sizeof(FitSetup) == 28, "seven 4-byte fields");

// Pose-fit parameter vector (19 floats): K[0], K[1], K[3], K[2], K[5],
// D[0..7], rotation vector r[0..2], T[0..2]. Derivative blocks of the
// projections have two rows per point (u, then v) and the columns
// rotation 3, translation 3, intrinsics (K[0], K[1], K[3]) 3, principal
// point (K[2], K[5]) 2, distortion (D[0..7]) 8; each block may be null.
constexpr int kPoseParamCount = 19;

// Full fit: the model's set-up, then its coarse search and refinement.
// K, D, R (vector), T are overwritten with the result. Returns the residual
// RMS in pixels (FLT_MAX for NaN); models 5, 6 and others: 0.0, no work.
float CameraModel_Calibrate(int32_t width, int32_t height, int32_t model, const Matrix* objectPoints,
                            const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R, float epsilon,
                            Matrix* T, int32_t mode, int32_t iterArg, int32_t freeCentre, int32_t slot);

// Line-target pose fits (targets: N rows, column 0 the target ground X).
float CameraModel_LineCalibFB(int32_t model, const Matrix* targets, const Matrix* imagePoints, Matrix* K,
                              Matrix* D, Matrix* R, Matrix* T, int32_t mode, int32_t width, int32_t height,
                              int32_t slot);
float CameraModel_LineCalibLR(int32_t model, const Matrix* targets, const Matrix* imagePoints, Matrix* K,
                              Matrix* D, Matrix* R, Matrix* T, int32_t mode, int32_t width, int32_t height,
                              int32_t slot);

// World points (N x 3) to pixels (N x 2) with optional derivative blocks.
void CameraModel_ProjectPoints(int32_t model, const Matrix* objectPoints, const Matrix* R, const Matrix* T,
                               const Matrix* K, const Matrix* D, Matrix* imagePoints, Matrix* dRot,
                               Matrix* dTrans, Matrix* dIntr, Matrix* dCentre, Matrix* dDist, int32_t slot);

// Pixels to pinhole-plane points (pixelFlag 0) or pinhole pixels (models 1-4).
void CameraModel_UndistortPoints(int32_t model, const Matrix* imagePoints, Matrix* out, const Matrix* K,
                                 const Matrix* D, int32_t pixelFlag, int32_t slot);

// Image point of a ray at incidence angle theta (radians) with unit image
// direction (dirX, dirY). Unknown model: outputs untouched.
void CameraModel_UndistPointToImage(int32_t model, const Matrix* K, const Matrix* D, float* u, float* v,
                                    int32_t slot, float theta, float dirX, float dirY);

// Per pixel: the intersection (x, y) of its viewing ray with the plane
// Z = -h and a flag (0 forward ray, -1 otherwise). out is N x 3.
void CameraModel_ImageToRay(int32_t model, const Matrix* imagePoints, Matrix* out, const Matrix* K,
                            const Matrix* D, const Matrix* R, const Matrix* T, int32_t slot, float h);

// Hands out the model's single-point function and fills its context.
// Another model number leaves *fn untouched (the context is still filled).
void CameraModel_ProjectPoint(int32_t model, const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D,
                              ProjectPointFn* fn, ProjectionContext* ctx);

// CameraModel_ProjectPoints over a pose view: world points (N x 3) to pixels
// (N x 2), with the blocks when given.
void CameraModel_Project(const PoseView& pose, const Matrix* objectPoints, Matrix* imagePoints,
                         const PoseDerivBlocks& blocks = PoseDerivBlocks());

// CameraModel_ProjectPoint over a pose view: the single-point function of the
// pose's model and its filled context.
void CameraModel_PointProjector(const PoseView& pose, ProjectPointFn* fn, ProjectionContext* ctx);
