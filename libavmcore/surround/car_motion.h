#pragma once
// Car motion matrices (3x3, row-major) that move the ground picture by the
// distance covered since the last call, and two small helpers of the
// stitched-view writers.
#include <cstdint>

// dtMs >= 1 is the elapsed time; otherwise the clock gives it (limited to
// 1000 ms, 0 on the first call); each matrix keeps its own last time.
void CalcCarDriveMatrix(int32_t dtMs, float* out, float viewLength, float viewWidth, float wheelBase,
                        float axleOffset, float speed, float steer);
void CalcCarSceneMatrix(int32_t dtMs, float* out, float viewLength, float ignoredWidth, float wheelBase,
                        float axleOffset, float speed, float steer, float xMin, float yMin, float xMax,
                        float yMax);
// Forgets the last times of both matrices (the next automatic call is a
// first call again).
void CarMotion_ResetClocks();

// point = (x, y): 1 when y >= 5800.0 or x >= 2300.0.
int IsFarDistance(const int32_t point[2]);
// 1 - atan2(a / c, b / d) in degrees / 90.
float BlendWeight_Atan(float a, float b, float c, float d);
