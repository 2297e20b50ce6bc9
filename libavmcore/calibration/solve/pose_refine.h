#pragma once
// Pose refinement of board layouts 11 (Calib_RefinePoseA) and 16
// (Calib_RefinePoseB): every camera starts from its vehicle profile's pose,
// fits with some parameters held, and the final solve of some cameras
// searches one translation component (T.z, or T.x for the side cameras of
// layout 16) in steps until a measure changes sign, before the last fit.
//
// Arguments as CalibrateCamera hands them: config (model number and
// lens-table slot per camera), camera image size, the camera's grey float
// image, camera 1..4, working K (3 x 3), D (8 x 1), R, T (3 x 1), world
// (3 columns x N), imagePts (2 columns (x, y) x N), count N, fitRefine,
// candidate (1: corner-finder test). Both return the fit error with the
// solution in K, D, R, T, or 999.0 at once (nothing touched) for a null
// image. The caller holds the lens-table lock.
#include <cstdint>
#include <functional>

#include "camera/lut_config.h"
#include "frame/matrix_types.h"

// focusFlag 1: fixed focal lengths are written into the current lens-table
// slot before fitting (0 and 2 do nothing).
float Calib_RefinePoseA(LutConfig* config, int32_t width, int32_t height, const Matrix* image, int32_t camera,
                        Matrix* K, Matrix* D, Matrix* R, Matrix* T, const Matrix* world, const Matrix* imagePts,
                        int32_t count, int32_t fitRefine, int32_t candidate, int32_t focusFlag);
float Calib_RefinePoseB(LutConfig* config, int32_t width, int32_t height, const Matrix* image, int32_t camera,
                        Matrix* K, Matrix* D, Matrix* R, Matrix* T, const Matrix* world, const Matrix* imagePts,
                        int32_t count, int32_t fitRefine, int32_t candidate);

// The measures. Each first fits (lens model 3, fitMode, fitRefine 0, slot)
// from the current K, D, R, T, keeps that fit, writes its error to
// *errorOut, and measures on the fitted pose.
//
// Observed minus projected image distance of world points A and B, minus
// offset.
float Calib_SpanDifference(float offset, int32_t width, int32_t height, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                           const Matrix* world, const Matrix* imagePts, int32_t pointA, int32_t pointB,
                           int32_t fitMode, float* errorOut, int32_t slot);
// Lean of the target edge in top-view patches around A and B: edge column
// crossing of patch row 8 minus that of row 87; returns lean(A) - lean(B).
float Calib_EdgeLeanRows(int32_t width, int32_t height, const Matrix* image, Matrix* K, Matrix* D, Matrix* R,
                         Matrix* T, const Matrix* world, const Matrix* imagePts, int32_t pointA, int32_t pointB,
                         int32_t fitMode, float* errorOut, int32_t slot);
// The same with patch columns 8 and 87; negated for camera 4.
float Calib_EdgeLeanColumns(int32_t width, int32_t height, const Matrix* image, int32_t camera, Matrix* K,
                            Matrix* D, Matrix* R, Matrix* T, const Matrix* world, const Matrix* imagePts,
                            int32_t pointA, int32_t pointB, int32_t fitMode, float* errorOut, int32_t slot);

// The step search: moves *t by `step` until measure() changes sign from
// start's side (from above, start > 0: until it is <= 0; else until it is
// > 0), then goes back half a step; after 16 steps without a change it
// stays there. Returns the number of steps taken.
int32_t Calib_StepSearch(float* t, float start, float step, const std::function<float()>& measure);

// Edge crossing along one line of a smoothed patch: mean m of elements 12 to
// 83, start side that of element 12; the first element c of 13..83 on the
// other side gives c - (v[c] - m) / (v[c] - v[c - 1]). false when none.
// `stride` steps from one element to the next (1 along a row, the patch
// width down a column).
bool Calib_EdgeCrossing(const float* line, int32_t stride, float* crossing);
