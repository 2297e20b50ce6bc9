#pragma once
// Shared by the Best3 tests: the rendered site, cached per process (the
// renders are the slow part), and a calibration state on a LUT object of it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "calibration/solve/best3_solve.h"
#include "camera/camera_model.h"
#include "camera/rotation.h"
#include "frame/global_variables.h"
#include "frame/log.h"
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

// The last fit error a Best3 fit printed ("Calib FB %f" / "Calib LR %f").
inline float& Best3LastFitError() {
  static float e = -1.0f;
  return e;
}
inline void Best3CatchFitError(const char* line) {
  float e = 0.0f;
  if (std::sscanf(line, "Calib FB %f", &e) == 1 || std::sscanf(line, "Calib LR %f", &e) == 1)
    Best3LastFitError() = e;
}

// A fit's error limit at its boundary. The camera's found points are moved
// by a fixed pattern of pixel offsets times a scale: the fit error grows
// smoothly with the scale from about 0, and `maxScale` must take it past
// the limit. The scale where the fit turns from passing to failing is
// narrowed to a hair; the errors printed either side must lie within 0.01
// of `limit`, the passing fit store its pose and the failing one give
// `failCode` and keep the pose of the passing one.
inline void Best3ExpectFitLimit(Best3Work* work, int32_t camera, float limit, int32_t failCode, float maxScale) {
  const bool fb = camera <= 2;
  Best3Camera& cam = work->cams[camera - 1];
  float found[kBest3Points][2];
  memcpy(found, cam.points, sizeof found);
  const AvmLogSink previous = AvmLog_SetSink(Best3CatchFitError);
  auto fit = [&](float scale, float* err) {
    for (int i = 0; i < kBest3Points; ++i) {
      cam.points[i][0] = found[i][0] + scale * static_cast<float>((i * 7) % 11 - 5);
      cam.points[i][1] = found[i][1] + scale * static_cast<float>((i * 5) % 13 - 6);
    }
    Best3LastFitError() = -1.0f;
    const int32_t r = fb ? CalibBest3_CalibFB(work, camera) : CalibBest3_CalibLR(work, camera);
    *err = Best3LastFitError();
    return r;
  };
  float lo = 0.0f, hi = maxScale, eLo = 0.0f, eHi = 0.0f;
  ASSERT_EQ(fit(lo, &eLo), 0) << "the unmoved points must pass";
  ASSERT_EQ(fit(hi, &eHi), failCode) << "the largest scale must fail: error " << eHi;
  for (int i = 0; i < 24; ++i) {
    const float mid = 0.5f * (lo + hi);
    float e = 0.0f;
    if (fit(mid, &e) == 0) {
      lo = mid;
      eLo = e;
    } else {
      hi = mid;
      eHi = e;
    }
  }
  AvmLog_SetSink(previous);
  printf("camera %d: passes at error %.5f, fails at %.5f (limit %.1f)\n", camera, eLo, eHi, limit);
  EXPECT_LE(eLo, limit);
  EXPECT_GE(eLo, limit - 0.01f);
  EXPECT_GT(eHi, limit);
  EXPECT_LE(eHi, limit + 0.01f);
  float stored[6];
  memset(cam.newR, 0, sizeof cam.newR);
  memset(cam.newT, 0, sizeof cam.newT);
  float e = 0.0f;
  ASSERT_EQ(fit(lo, &e), 0);
  memcpy(stored, cam.newR, sizeof cam.newR);
  memcpy(stored + 3, cam.newT, sizeof cam.newT);
  EXPECT_NE(stored[5], 0.0f) << "a passing fit stores its pose";
  EXPECT_EQ(fit(hi, &e), failCode);
  EXPECT_EQ(memcmp(stored, cam.newR, sizeof cam.newR), 0) << "a failing fit stores nothing";
  EXPECT_EQ(memcmp(stored + 3, cam.newT, sizeof cam.newT), 0);
  memcpy(cam.points, found, sizeof found);
}
