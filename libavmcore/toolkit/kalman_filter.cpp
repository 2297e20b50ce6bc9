#include "toolkit/kalman_filter.h"

#include <cstdlib>
#include <cstring>

#include "toolkit/matrix.h"
#include "toolkit/svd.h"

void KalmanFilter_Init(KalmanFilter* kf, int32_t n, int32_t m, int32_t c) {
  if (n < 1 || m <= 0) return;
  if (c < 0) c = n;
  kf->initialised = 1;
  kf->measureSize = m;
  kf->stateSize = n;
  kf->controlSize = c;
  // Sized from all three dimensions: a fixed 16 n^2 block is too small when
  // m or c outgrows n.
  const size_t floats = static_cast<size_t>(6 * n * n + 5 * m * n + 2 * m * m + n * c + 2 * n + m);
  kf->block = static_cast<float*>(calloc(floats, sizeof(float)));
  float* p = kf->block;
  auto carve = [&p](Matrix* mat, int32_t rows, int32_t cols) {
    Matrix_Init(mat, cols, rows, p);
    p += static_cast<size_t>(rows) * cols;
  };
  carve(&kf->statePre, n, 1);
  carve(&kf->statePost, n, 1);
  carve(&kf->transitionMatrix, n, n);
  carve(&kf->transitionMatrixT, n, n);
  carve(&kf->processNoiseCov, n, n);
  carve(&kf->measurementMatrix, m, n);
  carve(&kf->measurementMatrixT, n, m);
  carve(&kf->measurementNoiseCov, m, m);
  carve(&kf->errorCovPre, n, n);
  carve(&kf->errorCovPost, n, n);
  carve(&kf->gain, n, m);
  if (c > 0)
    carve(&kf->controlMatrix, n, c);
  else
    Matrix_Init(&kf->controlMatrix, 0, 0, nullptr);
  carve(&kf->temp1, n, n);
  carve(&kf->temp2, m, n);
  carve(&kf->temp3, m, m);
  carve(&kf->temp4, m, n);
  carve(&kf->temp5, m, 1);

  Matrix_SetDiagonal(&kf->transitionMatrix, 1.0f);
  Matrix_SetDiagonal(&kf->transitionMatrixT, 1.0f);
  Matrix_SetDiagonal(&kf->processNoiseCov, 1.0f);
  Matrix_SetDiagonal(&kf->measurementNoiseCov, 1.0f);
}

void KalmanFilter_Free(KalmanFilter* kf) {
  if (kf->block) {
    free(kf->block);
    kf->block = nullptr;
  }
}

void KalmanFilter_Reset(KalmanFilter* kf) {
  kf->initialised = 1;
  kf->corrections = 0;
  Matrix_Fill(&kf->statePre, 0.0f);
  Matrix_Fill(&kf->statePost, 0.0f);
  Matrix_Fill(&kf->errorCovPre, 0.0f);
  Matrix_Fill(&kf->errorCovPost, 0.0f);
  Matrix_Fill(&kf->gain, 0.0f);
}

const Matrix* KalmanFilter_Predict(KalmanFilter* kf, const Matrix* control) {
  Matrix_Multiply(&kf->transitionMatrix, &kf->statePost, nullptr, &kf->statePre);
  if (kf->controlSize > 0 && control)
    Matrix_Multiply(&kf->controlMatrix, control, &kf->statePre, &kf->statePre);
  Matrix_Multiply(&kf->transitionMatrix, &kf->errorCovPost, nullptr, &kf->temp1);
  Matrix_Multiply(&kf->temp1, &kf->transitionMatrixT, &kf->processNoiseCov, &kf->errorCovPre);
  Matrix_Copy(&kf->statePre, &kf->statePost);
  return &kf->statePre;
}

const Matrix* KalmanFilter_Correct(KalmanFilter* kf, const Matrix* measurement) {
  Matrix_Multiply(&kf->measurementMatrix, &kf->errorCovPre, nullptr, &kf->temp2);
  Matrix_Multiply(&kf->temp2, &kf->measurementMatrixT, &kf->measurementNoiseCov, &kf->temp3);
  Matrix_PseudoInverse(&kf->temp3);
  Matrix_Multiply(&kf->temp3, &kf->temp2, nullptr, &kf->temp4);
  Matrix_Transpose(&kf->temp4, &kf->gain);
  Matrix_Multiply(&kf->measurementMatrix, &kf->statePre, nullptr, &kf->temp5);
  Matrix_Scale(&kf->temp5, -1.0f);
  Matrix_Add(measurement, &kf->temp5);
  Matrix_Multiply(&kf->gain, &kf->temp5, &kf->statePre, &kf->statePost);
  Matrix_Multiply(&kf->gain, &kf->temp2, nullptr, &kf->errorCovPost);
  Matrix_Scale(&kf->errorCovPost, -1.0f);
  Matrix_Add(&kf->errorCovPre, &kf->errorCovPost);
  kf->corrections += 1;
  return &kf->statePost;
}

void KalmanFilter_InitLevelRate(KalmanFilter* kf, float q, float r) {
  KalmanFilter_Init(kf, 2, 1, 0);
  if (kf->block == nullptr) return;
  const float a[4] = {1, 1, 0, 1}, at[4] = {1, 0, 1, 1};
  memcpy(kf->transitionMatrix.data, a, sizeof(a));
  memcpy(kf->transitionMatrixT.data, at, sizeof(at));
  kf->measurementMatrix.data[0] = 1;
  kf->measurementMatrixT.data[0] = 1;
  kf->processNoiseCov.data[0] = kf->processNoiseCov.data[3] = q;
  kf->measurementNoiseCov.data[0] = r;
  kf->errorCovPost.data[0] = kf->errorCovPost.data[3] = 1.0f;
}
