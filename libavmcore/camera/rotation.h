#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Rotation-vector, rotation-matrix, Euler-angle and quaternion conversions.
// Rotation vectors are axis-angle (angle = length, radians); matrices are
// 3 x 3 row-major. Arguments are Matrix headers unless a float array is named.

void RodriguesToMatrix(const Matrix* r, Matrix* R);
// dR (3 rows x 9 columns, may be null): row i holds dR/dr_i row-major.
void Rodrigues(const Matrix* r, Matrix* R, Matrix* dR);
// Returns out->data. With orthogonalise set, R is first replaced by the
// nearest rotation U * V^T of its singular value decomposition.
float* RotationToAxisAngle(const Matrix* R, Matrix* out, int32_t orthogonalise);

// R = Rz(a0) * Ry(a2) * Rx(a1).
void RotationFromAngles(const float* angles, Matrix* R);
void AnglesFromRotation(const Matrix* R, float* angles);

void RotationToQuaternion(const Matrix* R, float* q);        // q = (w, x, y, z)
void QuaternionToRotation(const float* q, Matrix* R);        // need not be normalised
void QuaternionToAngles(const float* q, float* angles);      // heading, attitude, bank

float Rotation_CofactorError(const Matrix* R);
void Rotation_CompleteFromRows(Matrix* M);

// out = R(r) * p + t per point (plain convention, not the pose convention).
void Points_RigidTransform(const Matrix* points, const Matrix* r, const Matrix* t, Matrix* out);

// Array forms used inside the camera models (same formulas as above).
void RodriguesArr(const float* r, float* R, float* dR);  // dR: 27 floats or null
void RotationMatrixToVector(const float* R, float* r);   // no orthogonalisation
