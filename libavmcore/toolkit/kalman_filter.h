#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Linear Kalman filter over Matrix, all matrices carved from one heap block.
// n = state size, m = measurement size, c = control size. The caller writes
// the model matrices' data directly and keeps transitionMatrixT and
// measurementMatrixT equal to the transposes.
struct KalmanFilter {
  int32_t initialised;
  int32_t corrections;
  int32_t measureSize;
  int32_t stateSize;
  int32_t controlSize;
  float* block;
  Matrix statePre;             // n x 1
  Matrix statePost;            // n x 1
  Matrix transitionMatrix;     // n x n
  Matrix transitionMatrixT;    // n x n
  Matrix controlMatrix;        // n x c (c > 0 only)
  Matrix measurementMatrix;    // m x n
  Matrix measurementMatrixT;   // n x m
  Matrix processNoiseCov;      // n x n
  Matrix measurementNoiseCov;  // m x m
  Matrix errorCovPre;          // n x n
  Matrix gain;                 // n x m
  Matrix errorCovPost;         // n x n
  Matrix temp1, temp2, temp3, temp4, temp5;  // n x n, m x n, m x m, m x n, m x 1
};

// c < 0 means c = n. Does nothing when n < 1 or m < 1. The block holds
// exactly what the three sizes need.
void KalmanFilter_Init(KalmanFilter* kf, int32_t n, int32_t m, int32_t c);
// A level and its rate (n = 2, m = 1, no control): transition [1 1; 0 1],
// measurement [1 0], process noise q on both states, measurement noise r,
// unit error covariance. Does nothing more when the block cannot be had.
void KalmanFilter_InitLevelRate(KalmanFilter* kf, float q, float r);
// Frees the block (safe to call twice).
void KalmanFilter_Free(KalmanFilter* kf);
// Clears both states, both error covariances and the gain.
void KalmanFilter_Reset(KalmanFilter* kf);
// Time update; control (c x 1) is read only when c > 0. Returns &statePre;
// statePost is set to the prediction too.
const Matrix* KalmanFilter_Predict(KalmanFilter* kf, const Matrix* control);
// Measurement update with measurement (m x 1). Returns &statePost.
const Matrix* KalmanFilter_Correct(KalmanFilter* kf, const Matrix* measurement);
