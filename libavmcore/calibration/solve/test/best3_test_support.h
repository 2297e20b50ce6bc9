#pragma once
// Shared by the Best3 tests: the rendered site, cached per process (the
// renders are the slow part), and a calibration state on a LUT object of it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "calibration/solve/best3_solve.h"
#include "camera/camera_model.h"
#include "camera/rotation.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/best3_site.h"
#include "testsupport/config_state.h"

inline const std::vector<uint8_t>& Best3Quad(bool stripes = true) {
  static std::vector<uint8_t> with, without;
  std::vector<uint8_t>& q = stripes ? with : without;
  if (q.empty()) {
    Best3Site site;
    site.stripes = stripes;
    q = Best3Site_RenderQuad(site);
  }
  return q;
}

inline void Best3LoadConfig(const ScopedConfigState& state, const Best3Site& site) {
  state.WriteFile("globalimage_base.txt", site.BaseText());
  ScopedConfigState::ResetConfiguration();
  GlobalVariables_InitRuntimeDefaults();
  GlobalVariables_Init(1);
}

// Rotation of r by a small turn about each world axis (degrees) and a shift
// of the camera centre (mm): the camera pose of a disturbed installation.
inline void DisturbPose(SceneCamera* cam, const float turnDeg[3], const float shift[3]) {
  float Rm[9];
  Matrix r{1, 3, cam->r}, M{3, 3, Rm};
  RodriguesToMatrix(&r, &M);
  // camera = R (world + T): a turn Q of the world about the camera centre
  // gives R' = R Q.
  float Q[9];
  float a[3] = {turnDeg[0] * 3.14159265f / 180.0f, turnDeg[1] * 3.14159265f / 180.0f,
                turnDeg[2] * 3.14159265f / 180.0f};
  Matrix ar{1, 3, a}, Qm{3, 3, Q};
  RodriguesToMatrix(&ar, &Qm);
  float RQ[9];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) RQ[3 * i + j] = Rm[3 * i] * Q[j] + Rm[3 * i + 1] * Q[3 + j] + Rm[3 * i + 2] * Q[6 + j];
  Matrix rq{3, 3, RQ}, out{1, 3, cam->r};
  RotationToAxisAngle(&rq, &out, 0);
  for (int k = 0; k < 3; ++k) cam->T[k] -= shift[k];
}

// Angle in degrees between two rotation vectors' rotations.
inline double RotationGapDeg(const float* r1, const float* r2) {
  float A[9], B[9];
  float a[3] = {r1[0], r1[1], r1[2]}, b[3] = {r2[0], r2[1], r2[2]};
  Matrix ma{1, 3, a}, mb{1, 3, b}, MA{3, 3, A}, MB{3, 3, B};
  RodriguesToMatrix(&ma, &MA);
  RodriguesToMatrix(&mb, &MB);
  double tr = 0.0;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) tr += static_cast<double>(A[3 * k + i]) * B[3 * k + i];
  const double c = std::max(-1.0, std::min(1.0, (tr - 1.0) / 2.0));
  return std::acos(c) * 180.0 / 3.14159265358979;
}
