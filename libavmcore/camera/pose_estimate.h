#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Planar pose helpers shared by the full fits of the lens models.

// scatter (3 x 3) = C^T C of the centred points (N x 3); centroid: 3 rows.
void Points_CentredScatter(const Matrix* points, Matrix* scatter, Matrix* centroid);

// Homography H (3 x 3, H[8] = 1) mapping src (N x 2) onto dst (N x 2):
// normalised DLT refined by Levenberg-Marquardt. 0 (H untouched) when a
// point set has no spread along an axis.
int32_t Homography_FromPoints(const Matrix* src, const Matrix* dst, Matrix* H);

// Pose (rotation vector r, translation T, pose convention Xc = R (X + T))
// of planar object points (N x 3) seen at pinhole-plane points (N x 2).
// A degenerate homography gives r = 0 and T = 0.
void PlanarPose_Estimate(const Matrix* objectPoints, const Matrix* pinholePoints, float* r, float* T);

// Fixed-point inverse of (x, y) * (c0 + c1 (x^2 + y^2)) = (X, Y) with the
// forward derivatives of x and y by (X, Y, c0, c1).
void RadialDivision_Undistort(float* x, float* y, float* dx, float* dy, float X, float Y, float c0,
                              float c1);

// Newton root of c0 + c1 x + ... + c4 x^4 from (a + b) / 2. sens (5 floats,
// may be null) receives dx/dc_k at the last step.
float QuarticNewtonRoot(const float* c, float* sens, float a, float b);
