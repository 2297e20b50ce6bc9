#include "toolkit/kalman_filter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

namespace {

void SetConstantVelocity(KalmanFilter* kf, float q, float r) {
  float* F = kf->transitionMatrix.data;
  F[0] = 1; F[1] = 1; F[2] = 0; F[3] = 1;
  float* Ft = kf->transitionMatrixT.data;
  Ft[0] = 1; Ft[1] = 0; Ft[2] = 1; Ft[3] = 1;
  kf->measurementMatrix.data[0] = 1;
  kf->measurementMatrix.data[1] = 0;
  kf->measurementMatrixT.data[0] = 1;
  kf->measurementMatrixT.data[1] = 0;
  float* Q = kf->processNoiseCov.data;
  Q[0] = q; Q[1] = 0; Q[2] = 0; Q[3] = q;
  kf->measurementNoiseCov.data[0] = r;
  float* P = kf->errorCovPost.data;
  P[0] = 1; P[1] = 0; P[2] = 0; P[3] = 1;
}

TEST(KalmanFilter, WorkedExampleGainAndState) {
  KalmanFilter kf{};
  KalmanFilter_Init(&kf, 2, 1, 0);
  ASSERT_NE(kf.block, nullptr);
  EXPECT_EQ(kf.initialised, 1);
  SetConstantVelocity(&kf, 0.0f, 1.0f);
  KalmanFilter_Predict(&kf, nullptr);
  float z = 2.0f;
  Matrix meas{1, 1, &z};
  const Matrix* post = KalmanFilter_Correct(&kf, &meas);
  EXPECT_NEAR(kf.gain.data[0], 2.0f / 3.0f, 1e-6f);
  EXPECT_NEAR(kf.gain.data[1], 1.0f / 3.0f, 1e-6f);
  EXPECT_NEAR(post->data[0], 4.0f / 3.0f, 1e-6f);
  EXPECT_NEAR(post->data[1], 2.0f / 3.0f, 1e-6f);
  EXPECT_EQ(kf.corrections, 1);
  KalmanFilter_Free(&kf);
  EXPECT_EQ(kf.block, nullptr);
  KalmanFilter_Free(&kf);  // second free is harmless
}

TEST(KalmanFilter, PredictWithoutCorrectKeepsThePrediction) {
  KalmanFilter kf{};
  KalmanFilter_Init(&kf, 2, 1, 0);
  SetConstantVelocity(&kf, 0.01f, 1.0f);
  kf.statePost.data[0] = 5.0f;
  kf.statePost.data[1] = 2.0f;
  const Matrix* pre = KalmanFilter_Predict(&kf, nullptr);
  EXPECT_FLOAT_EQ(pre->data[0], 7.0f);
  EXPECT_FLOAT_EQ(pre->data[1], 2.0f);
  EXPECT_FLOAT_EQ(kf.statePost.data[0], 7.0f);
  EXPECT_FLOAT_EQ(kf.statePost.data[1], 2.0f);
  KalmanFilter_Reset(&kf);
  EXPECT_EQ(kf.corrections, 0);
  EXPECT_EQ(kf.statePost.data[0], 0.0f);
  KalmanFilter_Free(&kf);
}

TEST(KalmanFilter, ConstantVelocityTrackConvergesOnNoisyMeasurements) {
  KalmanFilter kf{};
  KalmanFilter_Init(&kf, 2, 1, 0);
  SetConstantVelocity(&kf, 1e-4f, 4.0f);
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(0.0f, 2.0f);
  const float x0 = 10.0f, v = 1.5f;
  for (int k = 1; k <= 200; ++k) {
    KalmanFilter_Predict(&kf, nullptr);
    float z = x0 + v * k + noise(rng);
    Matrix meas{1, 1, &z};
    KalmanFilter_Correct(&kf, &meas);
  }
  EXPECT_NEAR(kf.statePost.data[0], x0 + v * 200, 1.0f);
  EXPECT_NEAR(kf.statePost.data[1], v, 0.05f);
  EXPECT_LT(kf.errorCovPost.data[0], 1.0f);  // the position variance has shrunk
  KalmanFilter_Free(&kf);
}

TEST(KalmanFilter, ControlInputAndLargeMeasurementVector) {
  // m = 3 > n = 2 with c = 3 needs more than the 16 n^2 floats of a fixed
  // block; the filter must size its block from all three sizes.
  KalmanFilter kf{};
  KalmanFilter_Init(&kf, 2, 3, 3);
  ASSERT_NE(kf.block, nullptr);
  for (int i = 0; i < 3; ++i) {
    kf.measurementMatrix.data[i * 2 + (i % 2)] = 1.0f;
    kf.measurementMatrixT.data[(i % 2) * 3 + i] = 1.0f;
  }
  kf.controlMatrix.data[0] = 1.0f;  // control 0 pushes the position
  kf.errorCovPost.data[0] = 1.0f;
  kf.errorCovPost.data[3] = 1.0f;
  float u[3] = {3.0f, 0.0f, 0.0f};
  Matrix control{1, 3, u};
  const Matrix* pre = KalmanFilter_Predict(&kf, &control);
  EXPECT_FLOAT_EQ(pre->data[0], 3.0f);
  float z[3] = {3.0f, 1.0f, 3.0f};
  Matrix meas{1, 3, z};
  const Matrix* post = KalmanFilter_Correct(&kf, &meas);
  EXPECT_NEAR(post->data[0], 3.0f, 1e-5f);  // measured where predicted
  EXPECT_GT(post->data[1], 0.0f);
  KalmanFilter_Free(&kf);
}

TEST(KalmanFilter, BadSizesLeaveTheFilterUntouched) {
  KalmanFilter kf{};
  kf.stateSize = 42;
  KalmanFilter_Init(&kf, 0, 1, 0);
  KalmanFilter_Init(&kf, 2, 0, 0);
  EXPECT_EQ(kf.block, nullptr);
  EXPECT_EQ(kf.stateSize, 42);
  KalmanFilter_Init(&kf, 2, 1, -1);  // c < 0 means c = n
  EXPECT_EQ(kf.controlSize, 2);
  KalmanFilter_Free(&kf);
}

}  // namespace

// A level rising by a constant step: the level-and-rate filter's rate settles
// on the step and its level on the last measurement.
TEST(KalmanFilterLevelRate, FollowsAConstantRamp) {
  KalmanFilter kf{};
  KalmanFilter_InitLevelRate(&kf, 1e-4f, 0.1f);
  ASSERT_NE(kf.block, nullptr);
  float m = 0.0f;
  Matrix meas{1, 1, &m};
  const Matrix* post = nullptr;
  for (int i = 0; i < 200; ++i) {
    m = 10.0f + 0.5f * i;
    KalmanFilter_Predict(&kf, nullptr);
    post = KalmanFilter_Correct(&kf, &meas);
  }
  EXPECT_NEAR(post->data[0], m, 0.05f);
  EXPECT_NEAR(post->data[1], 0.5f, 0.01f);
  KalmanFilter_Free(&kf);
}
