#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "frame/numeric_constants.h"
#include "toolkit/transform3d.h"

namespace {

std::vector<double> Apply(const float* m, int n, const std::vector<double>& v) {
  std::vector<double> out(n, 0.0);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) out[r] += m[r * n + c] * v[c];
  return out;
}

void ExpectVecNear(const std::vector<double>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol) << i;
}

const float kIdentity4[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

TEST(Transform3d, RotateIdentityQuarterTurnAboutZ) {
  float m[16];
  std::copy(kIdentity4, kIdentity4 + 16, m);
  Mat4_Rotate(m, kPi / 2, 0, 0, 1);
  ExpectVecNear(Apply(m, 4, {1, 0, 0, 1}), {0, 1, 0, 1}, 1e-6);
}

TEST(Transform3d, RotateMultipliesFromTheRightAndKeepsTranslation) {
  float m[16];
  std::copy(kIdentity4, kIdentity4 + 16, m);
  Mat4_Translate(m, 10, -20, 30);
  Mat4_Translate(m, 1, 1, 1);  // adds, no multiplication
  EXPECT_EQ(m[3], 11);
  EXPECT_EQ(m[7], -19);
  EXPECT_EQ(m[11], 31);
  Mat4_Rotate(m, 0.7f, 1, 0, 0);
  EXPECT_EQ(m[3], 11);
  EXPECT_EQ(m[7], -19);
  EXPECT_EQ(m[11], 31);
  // The rotation acts first: T R v.
  ExpectVecNear(Apply(m, 4, {0, 1, 0, 1}), {11, -19 + std::cos(0.7), 31 + std::sin(0.7), 1}, 1e-5);
}

TEST(Transform3d, RotateAboutUnitAxisMatchesRodrigues) {
  struct Case {
    float angle, x, y, z;
  };
  const Case cases[] = {{0.3f, 1, 0, 0}, {-1.2f, 0, 1, 0}, {2.0f, 0.6f, 0, 0.8f}, {0.9f, 2.0f / 3, 1.0f / 3, 2.0f / 3}};
  for (const Case& c : cases) {
    float m[16];
    std::copy(kIdentity4, kIdentity4 + 16, m);
    Mat4_Rotate(m, c.angle, c.x, c.y, c.z);
    const std::vector<double> v{0.5, -1.5, 2.0};
    // Rodrigues: v cos + (k x v) sin + k (k.v)(1 - cos).
    const double k[3] = {c.x, c.y, c.z};
    const double co = std::cos(c.angle), si = std::sin(c.angle);
    const double kv = k[0] * v[0] + k[1] * v[1] + k[2] * v[2];
    const double kx[3] = {k[1] * v[2] - k[2] * v[1], k[2] * v[0] - k[0] * v[2], k[0] * v[1] - k[1] * v[0]};
    std::vector<double> want(4, 1.0);
    for (int i = 0; i < 3; ++i) want[i] = v[i] * co + kx[i] * si + k[i] * kv * (1 - co);
    ExpectVecNear(Apply(m, 4, {v[0], v[1], v[2], 1}), want, 1e-5);
  }
}

TEST(Transform3d, PerspectiveExample) {
  float m[16];
  std::fill(m, m + 16, 7.0f);
  Mat4_Perspective(m, kPi / 2, 1, 1, 1, 3, 0, 0);
  const float want[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -2, -3, 0, 0, -1, 0};
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], want[i], 1e-6) << i;

  // Scale, aspect and centre offsets of the bowl view's call.
  Mat4_Perspective(m, 0.7853982f, 2, 1.5f, 0.1f, 100000, 0.25f, -0.5f);
  const double t = std::tan(0.7853982 / 2) * 2 * 0.1;
  EXPECT_NEAR(m[0], 0.2 / (2 * t * 1.5), 1e-5);
  EXPECT_NEAR(m[5], 0.2 / (2 * t), 1e-5);
  EXPECT_EQ(m[2], 0.25f);
  EXPECT_EQ(m[6], -0.5f);
  EXPECT_NEAR(m[10], -100000.1 / 99999.9, 1e-6);
  EXPECT_NEAR(m[11], -0.1 * 200000 / 99999.9, 1e-6);
}

TEST(Transform3d, OrthoMapsTheBoxOntoTheUnitCube) {
  float m[16];
  Mat4_Ortho(m, -2, 6, -1, 3, 1, 11);
  ExpectVecNear(Apply(m, 4, {-2, -1, -1, 1}), {-1, -1, -1, 1}, 1e-6);
  ExpectVecNear(Apply(m, 4, {6, 3, -11, 1}), {1, 1, 1, 1}, 1e-6);
}

TEST(Transform3d, ElementaryRotations) {
  struct Case {
    void (*rot)(float*, float);
    std::vector<double> in, out;  // quarter turn
  };
  const Case cases[] = {
      {Mat3_RotateZ, {1, 0, 0}, {0, 1, 0}},
      {Mat3_RotateX, {0, 1, 0}, {0, 0, 1}},
      {Mat3_RotateY, {0, 0, 1}, {1, 0, 0}},
  };
  for (const Case& c : cases) {
    float m[9];
    c.rot(m, kPi / 2);
    ExpectVecNear(Apply(m, 3, c.in), c.out, 1e-6);
  }
}

TEST(Transform3d, EulerXYZIsTheProductOfTheThreeRotations) {
  const float a = 0.4f, b = -1.1f, c = 2.3f;
  float rx[9], ry[9], rz[9], out[9];
  Mat3_RotateX(rx, a);
  Mat3_RotateY(ry, b);
  Mat3_RotateZ(rz, c);
  Mat3_FromEulerXYZ(out, a, b, c);
  const std::vector<double> v{0.3, -0.7, 1.9};
  ExpectVecNear(Apply(out, 3, v), Apply(rx, 3, Apply(ry, 3, Apply(rz, 3, v))), 1e-5);
}

}  // namespace
