#pragma once
#include <cstdint>

#include "camera/camera_model.h"

// Lens model 1 (equisolid angle, rho = 2 sin(theta / 2)) and lens model 2
// (equidistant, rho = theta), each followed by the radial polynomial
// D[0] + D[1] rho^2 + D[2] rho^4 and the pixel mapping
// u = K[0] px + K[1] py + K[2], v = K[3] px + py + K[5]. Rays beyond
// 1.7592919 rad (0.56 pi) are outside the field. The slot is ignored.

#define AVM_DECLARE_CAM_MODEL_1_2(N)                                                                            \
  void CamModel##N##_ProjectPoints(const Matrix* objectPoints, const Matrix* R, const Matrix* T, const Matrix* K, \
                                   const Matrix* D, Matrix* imagePoints, Matrix* dRot, Matrix* dTrans,           \
                                   Matrix* dIntr, Matrix* dCentre, Matrix* dDist, int32_t slot);                  \
  int32_t CamModel##N##_ProjectPoint(int32_t model, const ProjectionContext* ctx, float* u, float* v,            \
                                     int32_t slot, float X, float Y, float Z);                                  \
  void CamModel##N##_ImageToRay(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,        \
                                const Matrix* R, const Matrix* T, int32_t slot, float h);                       \
  void CamModel##N##_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t slot,      \
                                        float theta, float dirX, float dirY);                                   \
  void CamModel##N##_UndistortPoints(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,   \
                                     int32_t pixelFlag, int32_t slot);                                          \
  void CamModel##N##_ImageToGround(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,     \
                                   const Matrix* R, const Matrix* T, Matrix* dRot, Matrix* dTrans,               \
                                   Matrix* dIntr, Matrix* dCentre, Matrix* dDist, int32_t slot);                 \
  void CamModel##N##_Setup(FitSetup* out, int32_t width, int32_t height);                                       \
  float CamModel##N##_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* objectPoints,  \
                              const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R, float epsilon,         \
                              Matrix* T, int32_t mode, int32_t iterArg, int32_t freeCentre, int32_t slot);       \
  float CamModel##N##_LineCalibFB(const Matrix* targets, const Matrix* imagePoints, Matrix* K, Matrix* D,        \
                                  Matrix* R, Matrix* T, int32_t mode, int32_t slot);                             \
  float CamModel##N##_LineCalibLR(const Matrix* targets, const Matrix* imagePoints, Matrix* K, Matrix* D,        \
                                  Matrix* R, Matrix* T, int32_t mode, int32_t slot);

AVM_DECLARE_CAM_MODEL_1_2(1)
AVM_DECLARE_CAM_MODEL_1_2(2)
