#pragma once
#include <cstdint>

#include "camera/camera_model.h"

// Lens model 4 (sine fisheye): rho = sin(0.6 theta) / 0.6, then the radial
// polynomial D[0] + D[1] rho^2 + D[2] rho^4 and the pixel mapping of models
// 1 and 2. Rays beyond 1.7592919 rad are outside the field. No lens table:
// the slot is ignored.

void CamModel4_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t slot, float theta,
                                  float dirX, float dirY);
int32_t CamModel4_ProjectPoint(int32_t model, const ProjectionContext* ctx, float* u, float* v, int32_t slot,
                               float X, float Y, float Z);
void CamModel4_ProjectPointSet(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,
                               int32_t pixelFlag, int32_t slot);
void CamModel4_ImageToRay(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R,
                          const Matrix* T, int32_t slot, float h);
void CamModel4_ProjectPoints(const Matrix* objectPoints, const Matrix* R, const Matrix* T, const Matrix* K,
                             const Matrix* D, Matrix* imagePoints, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                             Matrix* dCentre, Matrix* dDist, int32_t slot);
void CamModel4_ImageToGround(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,
                             const Matrix* R, const Matrix* T, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                             Matrix* dCentre, Matrix* dDist, int32_t slot);
void CamModel4_Setup(FitSetup* out, int32_t width, int32_t height);
float CamModel4_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* objectPoints,
                        const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T,
                        int32_t mode, int32_t iterArg, int32_t freeCentre, int32_t slot);
float CamModel4_LineCalibFB(const Matrix* targets, const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R,
                            Matrix* T, int32_t mode, int32_t slot);
float CamModel4_LineCalibLR(const Matrix* targets, const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R,
                            Matrix* T, int32_t mode, int32_t slot);
