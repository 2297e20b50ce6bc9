#include "camera/rotation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "camera/pose_estimate.h"
#include "toolkit/residual_rms.h"
#include "testsupport/scene_renderer.h"

namespace {

void Rod(const float* r, float* R) { RodriguesArr(r, R, nullptr); }

TEST(Rodrigues, ZeroVectorIsIdentityWithZeroDerivative) {
  float r[3] = {0, 0, 0}, R[9], dR[27];
  Matrix mr{3, 1, r}, mR{3, 3, R}, mdR{9, 3, dR};
  Rodrigues(&mr, &mR, &mdR);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(R[k], (k % 4 == 0) ? 1.0f : 0.0f);
  for (float d : dR) EXPECT_EQ(d, 0.0f);
}

TEST(Rodrigues, DerivativeMatchesCentralDifferences) {
  const float cases[][3] = {{0.3f, -0.2f, 0.5f}, {1.2f, 0.4f, -2.0f}, {-2.9f, 0.1f, 0.2f}, {0.01f, 0.02f, -0.015f}};
  for (const auto& c : cases) {
    float R[9], dR[27];
    RodriguesArr(c, R, dR);
    for (int i = 0; i < 3; ++i) {
      const double h = 1e-3;
      float rp[3] = {c[0], c[1], c[2]}, rm[3] = {c[0], c[1], c[2]};
      rp[i] += static_cast<float>(h);
      rm[i] -= static_cast<float>(h);
      float Rp[9], Rm[9];
      Rod(rp, Rp);
      Rod(rm, Rm);
      for (int k = 0; k < 9; ++k) EXPECT_NEAR(dR[i * 9 + k], (Rp[k] - Rm[k]) / (2 * h), 2e-3) << i << " " << k;
    }
    // A rotation matrix: R R^T = I.
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b) {
        float dot = 0;
        for (int k = 0; k < 3; ++k) dot += R[a * 3 + k] * R[b * 3 + k];
        EXPECT_NEAR(dot, a == b ? 1.0f : 0.0f, 1e-6f);
      }
  }
}

TEST(Rotation, VectorMatrixRoundTrip) {
  const float cases[][3] = {{0.3f, -0.2f, 0.5f}, {1.2f, 0.4f, -2.0f}, {0, 0, 0}, {3.0f, 0.1f, -0.2f}, {0, 1e-4f, 0}};
  for (const auto& c : cases) {
    float R[9], r[3];
    Rod(c, R);
    Matrix mR{3, 3, R}, mr{3, 1, r};
    EXPECT_EQ(RotationToAxisAngle(&mR, &mr, 1), r);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(r[k], c[k], 2e-4f);
  }
}

TEST(Rotation, AxisAngleOfHalfTurnAboutX) {
  float R[9] = {1, 0, 0, 0, -1, 0, 0, 0, -1}, r[3];
  Matrix mR{3, 3, R}, mr{3, 1, r};
  RotationToAxisAngle(&mR, &mr, 0);
  EXPECT_NEAR(r[0], 3.1415927f, 1e-6f);
  EXPECT_EQ(r[1], 0.0f);
  EXPECT_EQ(r[2], 0.0f);
}

TEST(Rotation, OrthogonaliseFindsNearestRotation) {
  float c[3] = {0.4f, -0.7f, 0.2f}, R[9], r[3];
  Rod(c, R);
  float noisy[9];
  for (int k = 0; k < 9; ++k) noisy[k] = R[k] * 1.01f + ((k % 3) - 1) * 1e-3f;
  Matrix mR{3, 3, noisy}, mr{3, 1, r};
  RotationToAxisAngle(&mR, &mr, 1);
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(r[k], c[k], 3e-3f);
}

TEST(Rotation, EulerAnglesRoundTrip) {
  const float cases[][3] = {{0.3f, -0.2f, 0.5f}, {-2.5f, 1.0f, -1.2f}, {3.0f, -3.0f, 1.4f}};
  for (const auto& a : cases) {
    float R[9], back[3];
    Matrix mR{3, 3, R};
    RotationFromAngles(a, &mR);
    AnglesFromRotation(&mR, back);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(back[k], a[k], 1e-4f);
  }
  // Gimbal case R[6] = -1: a1 = 0, a2 = pi/2 and the same matrix.
  const float g[3] = {0.4f, 0.3f, 1.5707964f};
  float R[9], back[3], R2[9];
  Matrix mR{3, 3, R}, mR2{3, 3, R2};
  RotationFromAngles(g, &mR);
  R[6] = -1.0f;
  AnglesFromRotation(&mR, back);
  EXPECT_EQ(back[1], 0.0f);
  EXPECT_FLOAT_EQ(back[2], 1.5707964f);
  RotationFromAngles(back, &mR2);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(R2[k], R[k], 1e-5f);
}

TEST(Rotation, QuaternionRoundTripAllBranches) {
  // Rotations whose largest diagonal term falls in each branch.
  const float cases[][3] = {{0.2f, 0.1f, -0.3f}, {3.0f, 0.1f, 0.05f}, {0.1f, 3.0f, 0.05f}, {0.05f, 0.1f, 3.0f}};
  for (const auto& c : cases) {
    float R[9], q[4], R2[9];
    Rod(c, R);
    Matrix mR{3, 3, R}, mR2{3, 3, R2};
    RotationToQuaternion(&mR, q);
    const float n = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
    EXPECT_NEAR(n, 1.0f, 1e-5f);
    for (float& e : q) e *= 3.0f;  // need not be normalised
    QuaternionToRotation(q, &mR2);
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(R2[k], R[k], 1e-5f);
  }
  // Heading about z only.
  const float q[4] = {std::cos(0.35f), 0, 0, std::sin(0.35f)};
  float a[3];
  QuaternionToAngles(q, a);
  EXPECT_NEAR(a[1], std::asin(2 * q[0] * q[3]), 1e-6f);
}

TEST(Rotation, CofactorErrorAndCompletion) {
  const float c[3] = {0.5f, -0.3f, 0.8f};
  float R[9];
  Rod(c, R);
  Matrix mR{3, 3, R};
  EXPECT_NEAR(Rotation_CofactorError(&mR), 0.0f, 1e-5f);
  float M[9] = {R[0], R[1], 0, R[3], R[4], 0, 0, 0, 0};
  Matrix mM{3, 3, M};
  Rotation_CompleteFromRows(&mM);
  // The completion keeps the two given pairs and yields a proper rotation.
  EXPECT_NEAR(Rotation_CofactorError(&mM), 0.0f, 1e-4f);
  EXPECT_EQ(M[0], R[0]);
  EXPECT_EQ(M[4], R[4]);
}

TEST(Rotation, RigidTransformUsesPlainConvention) {
  float r[3] = {0, 0, 1.5707964f}, t[3] = {1, 2, 3}, p[3] = {1, 0, 0}, o[3];
  Matrix mp{3, 1, p}, mr{3, 1, r}, mt{3, 1, t}, mo{3, 1, o};
  Points_RigidTransform(&mp, &mr, &mt, &mo);
  EXPECT_NEAR(o[0], 1.0f, 1e-6f);
  EXPECT_NEAR(o[1], 3.0f, 1e-6f);
  EXPECT_NEAR(o[2], 3.0f, 1e-6f);
}

TEST(ResidualRms, RootMeanSquaredPairLength) {
  float e[4] = {3, 4, 0, 0};
  Matrix m{1, 4, e};
  EXPECT_FLOAT_EQ(Residual_RMS(&m), std::sqrt(25.0f / 2.0f));
  Matrix one{1, 1, e};
  EXPECT_TRUE(std::isnan(Residual_RMS(&one)));
}

TEST(RadialDivision, InverseAndDerivatives) {
  const float X = 0.4f, Y = -0.3f, c0 = 1.1f, c1 = 0.2f;
  float x, y, dx[4], dy[4];
  RadialDivision_Undistort(&x, &y, dx, dy, X, Y, c0, c1);
  const float d = c0 + c1 * (x * x + y * y);
  EXPECT_NEAR(x * d, X, 1e-6f);
  EXPECT_NEAR(y * d, Y, 1e-6f);
  const float in[4] = {X, Y, c0, c1};
  for (int k = 0; k < 4; ++k) {
    float p[4] = {in[0], in[1], in[2], in[3]}, m[4] = {in[0], in[1], in[2], in[3]};
    const float h = 1e-3f;
    p[k] += h;
    m[k] -= h;
    float xp, yp, xm, ym, t1[4], t2[4];
    RadialDivision_Undistort(&xp, &yp, t1, t2, p[0], p[1], p[2], p[3]);
    RadialDivision_Undistort(&xm, &ym, t1, t2, m[0], m[1], m[2], m[3]);
    EXPECT_NEAR(dx[k], (xp - xm) / (2 * h), 1e-3f) << k;
    EXPECT_NEAR(dy[k], (yp - ym) / (2 * h), 1e-3f) << k;
  }
}

TEST(QuarticNewton, FindsRootAndSensitivities) {
  // (x - 2)(x + 1)(x^2 + 1) = x^4 - x^3 - x^2 - x - 2
  const float c[5] = {-2, -1, -1, -1, 1};
  float sens[5];
  const float root = QuarticNewtonRoot(c, sens, 1.5f, 2.5f);
  EXPECT_NEAR(root, 2.0f, 1e-5f);
  // d root / d c0 = -1 / p'(2) with p'(2) = 4*8 - 3*4 - 2*2 - 1 = 15.
  EXPECT_NEAR(sens[0], -1.0f / 15.0f, 1e-4f);
}

TEST(Homography, RecoversExactMapping) {
  const float H[9] = {1.2f, 0.1f, 30.0f, -0.05f, 0.9f, -12.0f, 0.0004f, -0.0002f, 1.0f};
  float src[2 * 12], dst[2 * 12];
  for (int i = 0; i < 12; ++i) {
    const float X = (i % 4) * 50.0f - 60.0f, Y = (i / 4) * 40.0f + 5.0f * (i % 2);
    src[2 * i] = X;
    src[2 * i + 1] = Y;
    const float w = H[6] * X + H[7] * Y + H[8];
    dst[2 * i] = (H[0] * X + H[1] * Y + H[2]) / w;
    dst[2 * i + 1] = (H[3] * X + H[4] * Y + H[5]) / w;
  }
  float out[9];
  Matrix ms{2, 12, src}, md{2, 12, dst}, mh{3, 3, out};
  ASSERT_EQ(Homography_FromPoints(&ms, &md, &mh), 1);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(out[k], H[k], std::fabs(H[k]) * 1e-3f + 1e-6f) << k;
}

TEST(Homography, DegeneratePointsReturnZero) {
  float src[6] = {1, 5, 2, 5, 3, 5}, dst[6] = {1, 1, 2, 2, 3, 3}, H[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  Matrix ms{2, 3, src}, md{2, 3, dst}, mh{3, 3, H};
  EXPECT_EQ(Homography_FromPoints(&ms, &md, &mh), 0);
  EXPECT_EQ(H[0], 7.0f);
}

TEST(PlanarPose, RecoversPoseOfGroundPoints) {
  // Camera 1.5 m above the ground looking down and ahead (world Z up).
  SceneCamera cam;
  const float pos[3] = {100, -200, 1500}, at[3] = {-200, 1800, 0};
  SceneCamera_LookAt(&cam, pos, at);
  const float* rTrue = cam.r;
  const float* TTrue = cam.T;
  float R[9];
  Rod(rTrue, R);
  float obj[3 * 20], pin[2 * 20];
  for (int i = 0; i < 20; ++i) {
    const float P[3] = {(i % 5) * 300.0f - 600.0f, (i / 5) * 250.0f + 1200.0f, 0.0f};
    float xc[3];
    for (int k = 0; k < 3; ++k)
      xc[k] = R[k * 3] * (P[0] + TTrue[0]) + R[k * 3 + 1] * (P[1] + TTrue[1]) + R[k * 3 + 2] * (P[2] + TTrue[2]);
    for (int k = 0; k < 3; ++k) obj[3 * i + k] = P[k];
    pin[2 * i] = xc[0] / xc[2];
    pin[2 * i + 1] = xc[1] / xc[2];
  }
  Matrix mo{3, 20, obj}, mp{2, 20, pin};
  float r[3], T[3];
  PlanarPose_Estimate(&mo, &mp, r, T);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(r[k], rTrue[k], 1e-3f) << k;
    EXPECT_NEAR(T[k], TTrue[k], 2.0f) << k;
  }
}

}  // namespace
