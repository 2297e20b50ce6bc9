#pragma once

// Camera rotation vectors from three Euler angles (radians) with fixed axis
// offsets; out receives 3 floats. The first argument is not used.

// out = -rotvec(Rz(pi/2) * Ry(pi) * Rx(-b) * Ry(-a) * Rz(-c)).
void CamPose_EulerToRotVec(const void* unused, float* out, float a, float b, float c);
// out = -rotvec(Ry(pi/2) * Ry(-a) * Rz(-c) * Rx(-b)).
void CamPose_EulerToRotVecAlt(const void* unused, float* out, float a, float b, float c);
