#include "testsupport/pose_scene.h"

#include <cmath>
#include <random>

#include "camera/rotation.h"

namespace {

void RotationMatrix(const float* rv, double* R) {
  const double x = rv[0], y = rv[1], z = rv[2];
  const double th = std::sqrt(x * x + y * y + z * z);
  if (th < 1e-15) {
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int k = 0; k < 9; ++k) R[k] = I[k];
    return;
  }
  const double kx = x / th, ky = y / th, kz = z / th, c = std::cos(th), s = std::sin(th), v = 1 - c;
  const double M[9] = {c + kx * kx * v,      kx * ky * v - kz * s, kx * kz * v + ky * s,
                       ky * kx * v + kz * s, c + ky * ky * v,      ky * kz * v - kx * s,
                       kz * kx * v - ky * s, kz * ky * v + kx * s, c + kz * kz * v};
  for (int k = 0; k < 9; ++k) R[k] = M[k];
}

}  // namespace

SceneCamera PoseScene_Camera(int32_t model, int32_t width, int32_t height, float scale3, int32_t slot) {
  SceneCamera cam;
  cam.model = model;
  const float K[9] = {1, 0, static_cast<float>(width / 2) - 0.5f, 0, 1, static_cast<float>(height / 2) - 0.5f, 0, 0, 1};
  for (int k = 0; k < 9; ++k) cam.K[k] = K[k];
  for (float& d : cam.D) d = 0.0f;
  cam.D[0] = model == 3 ? scale3 : 360.0f;
  cam.slot = slot;
  return cam;
}

PoseScene PoseScene_Make(const SceneCamera& intrinsics, float heightMm, float distanceMm, float yawDeg, float noisePx,
                         uint32_t seed, int32_t width, int32_t height, float squareMm) {
  PoseScene s;
  s.width = width;
  s.height = height;
  s.cam = intrinsics;
  const double yaw = yawDeg * M_PI / 180.0;
  // Ahead: the front (-y) turned to the right (+x) by yaw.
  const float ax = static_cast<float>(std::sin(yaw)), ay = static_cast<float>(-std::cos(yaw));
  const float rx = -ay, ry = ax;  // to the right of ahead
  TargetSpec& b = s.board;
  b.squaresX = 9;
  b.squaresY = 7;
  b.squareSize = squareMm;
  const float halfW = 4.5f * squareMm, depth = 7.0f * squareMm;
  // s runs to the right, t away from the camera.
  const float origin[3] = {ax * distanceMm - rx * halfW, ay * distanceMm - ry * halfW, 0.0f};
  const float axisS[3] = {rx, ry, 0.0f}, axisT[3] = {ax, ay, 0.0f};
  for (int k = 0; k < 3; ++k) {
    b.origin[k] = origin[k];
    b.axisS[k] = axisS[k];
    b.axisT[k] = axisT[k];
  }
  const float position[3] = {0.0f, 0.0f, -heightMm};
  const float centre = distanceMm + depth / 2.0f;
  const float lookAt[3] = {ax * centre, ay * centre, 0.0f};
  const float up[3] = {0.0f, 0.0f, -1.0f};
  SceneCamera_LookAt(&s.cam, position, lookAt, up);
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, noisePx > 0.0f ? noisePx : 1.0f);
  for (const TargetCorner& c : Target_Corners(b, s.cam, width, height)) {
    if (!c.visible) continue;
    const float du = noisePx > 0.0f ? noise(rng) : 0.0f;
    const float dv = noisePx > 0.0f ? noise(rng) : 0.0f;
    s.image.push_back(c.v + dv);
    s.image.push_back(c.u + du);
    s.world.insert(s.world.end(), c.world, c.world + 3);
    s.exactU.push_back(c.u);
    s.exactV.push_back(c.v);
    ++s.count;
  }
  return s;
}

double PoseScene_RotationErrorDeg(const float* r1, const float* r2) {
  double A[9], B[9];
  RotationMatrix(r1, A);
  RotationMatrix(r2, B);
  // trace(A B^T) = 1 + 2 cos(angle)
  double tr = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) tr += A[3 * i + k] * B[3 * i + k];
  const double c = std::max(-1.0, std::min(1.0, (tr - 1.0) / 2.0));
  // acos loses precision near 0; use the antisymmetric part there.
  double w[3] = {0, 0, 0};
  for (int k = 0; k < 3; ++k) {
    // (A B^T - B A^T) / 2 = sin(angle) [axis]x
    const int i = (k + 1) % 3, j = (k + 2) % 3;
    double ab_ij = 0, ab_ji = 0;
    for (int m = 0; m < 3; ++m) {
      ab_ij += A[3 * i + m] * B[3 * j + m];
      ab_ji += A[3 * j + m] * B[3 * i + m];
    }
    w[k] = (ab_ij - ab_ji) / 2.0;
  }
  const double sn = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  return std::atan2(sn, c) * 180.0 / M_PI;
}

double PoseScene_PositionErrorMm(const float* T1, const float* T2) {
  double s = 0.0;
  for (int k = 0; k < 3; ++k) s += (static_cast<double>(T1[k]) - T2[k]) * (static_cast<double>(T1[k]) - T2[k]);
  return std::sqrt(s);
}

double PoseScene_CentreGapMm(const float* r1, const float* T1, const float* r2, const float* T2) {
  float A[9], B[9];
  RodriguesArr(r1, A, nullptr);
  RodriguesArr(r2, B, nullptr);
  double s = 0.0;
  for (int j = 0; j < 3; ++j) {
    double c1 = 0.0, c2 = 0.0;  // -R^T T
    for (int i = 0; i < 3; ++i) {
      c1 -= static_cast<double>(A[3 * i + j]) * T1[i];
      c2 -= static_cast<double>(B[3 * i + j]) * T2[i];
    }
    s += (c1 - c2) * (c1 - c2);
  }
  return std::sqrt(s);
}
