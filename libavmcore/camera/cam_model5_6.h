#pragma once
#include <cstdint>

#include "camera/camera_model.h"

// Projection-only fisheye models with radial-decentring distortion of the
// normalised coordinates (D[0], D[1] radial k1, k2; D[2], D[3] decentring
// p1, p2; fx = K[0], cx = K[2], fy = K[4], cy = K[5]):
//   model 5, unified sphere: m = (x, y) / (z + xi |p|) with xi = K[3];
//   model 6, equidistant: |m| = theta along the direction of (x, y).
// Rays beyond 1.7592919 rad are outside the field. The derivative blocks of
// the point-set projections are accepted but not filled; the slot is ignored.

#define AVM_DECLARE_CAM_MODEL_5_6(N)                                                                            \
  void CamModel##N##_ProjectPoints(const Matrix* objectPoints, const Matrix* R, const Matrix* T, const Matrix* K, \
                                   const Matrix* D, Matrix* imagePoints, Matrix* dRot, Matrix* dTrans,           \
                                   Matrix* dIntr, Matrix* dCentre, Matrix* dDist, int32_t slot);                  \
  int32_t CamModel##N##_ProjectPoint(int32_t model, const ProjectionContext* ctx, float* u, float* v,            \
                                     int32_t slot, float X, float Y, float Z);                                  \
  void CamModel##N##_ImageToRay(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,        \
                                const Matrix* R, const Matrix* T, int32_t slot, float h);                       \
  void CamModel##N##_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t slot,      \
                                        float theta, float dirX, float dirY);

AVM_DECLARE_CAM_MODEL_5_6(5)
AVM_DECLARE_CAM_MODEL_5_6(6)
