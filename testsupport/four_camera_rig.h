#pragma once
// Four fisheye cameras (lens model 2) around a car, with known poses, and a
// LUT object set up for them: the shared fixture of the stitched-view tests
// and the benchmark. World frame of the ground table: x across the car
// (right positive), y along it (rear positive), z up; the car's centre at
// the origin.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/scene_renderer.h"

struct FourCameraRig {
  int32_t camW, camH;
  int32_t carWidth = 1800, carLength = 4600;
  SceneCamera cams[4];
  LUTOB* lut = nullptr;

  // Output outW x outH, range 2000 mm each side of the car. The
  // configuration's run-time defaults must be in force.
  // downward: the cameras look almost straight down, so that each sees the
  // whole ground around it (its image circle fits the shorter side).
  FourCameraRig(int32_t cameraWidth, int32_t cameraHeight, int32_t outW, int32_t outH, bool downward = false)
      : camW(cameraWidth), camH(cameraHeight) {
    GlobalVariables& g = gv();
    g.f0 = 2000;
    g.f3 = outW;
    g.f5 = outH;
    g.f6 = 0;
    const float focal = static_cast<float>(downward ? std::min(cameraWidth, cameraHeight) : cameraWidth) / 2.0f / 1.76f;
    const float hw = carWidth / 2.0f, hl = carLength / 2.0f;
    const float pos[4][3] = {{0, -hl + 300, 800}, {0, hl - 300, 900}, {-hw + 100, 0, 1000}, {hw - 100, 0, 1000}};
    const float out = downward ? 300.0f : 1500.0f;
    const float look[4][3] = {{0, -hl + 300 - out, 0}, {0, hl - 300 + out, 0}, {-hw + 100 - out, 0, 0},
                              {hw - 100 + out, 0, 0}};
    for (int c = 0; c < 4; ++c) {
      SceneCamera& s = cams[c];
      s.model = 2;
      const float K[9] = {1, 0, cameraWidth / 2.0f, 0, 1, cameraHeight / 2.0f, 0, 0, 1};
      memcpy(s.K, K, sizeof K);
      for (float& d : s.D) d = 0.0f;
      s.D[0] = focal;
      SceneCamera_LookAt(&s, pos[c], look[c]);
    }
    lut = LUTOB_Create();
    LutConfig_Init(&lut->cfg, carWidth, carLength, 0, 500, 2800, 2, 1, 0, 0);
    CameraParamSet_SetHeaders(&lut->params, &lut->poses);
    lut->camW = camW;
    lut->camH = camH;
    for (int c = 0; c < 4; ++c) {
      memcpy(lut->params.K[c], cams[c].K, sizeof cams[c].K);
      memcpy(lut->params.D[c], cams[c].D, sizeof cams[c].D);
      memcpy(lut->params.R[c], cams[c].r, sizeof cams[c].r);
      memcpy(lut->params.T[c], cams[c].T, sizeof cams[c].T);
      lut->cornerCounts[c] = 35;
      lut->seamAngles[c] = g.config.seamAngle[c];
    }
  }
  ~FourCameraRig() { LUTOB_Destroy(lut); }
  FourCameraRig(const FourCameraRig&) = delete;
  FourCameraRig& operator=(const FourCameraRig&) = delete;
};
