#pragma once
// Shared by the pose-solving tests: a clean configuration with lens tables
// for model 3, a LutConfig for one camera set-up, and solves of a PoseScene.
#include <cstring>
#include <string>

#include "calibration/solve/calibrate_camera.h"
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "frame/lens_table.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/pose_scene.h"

// Lens tables of slot 0 (table 7) and slot 1 (table 8): equidistant curves
// of two heights per radian; kModel3Scale[slot] pixels per height unit make
// a focal scale of 360 px in both.
constexpr float kTableHeight[2] = {0.55f, 0.6f};
constexpr float kModel3Scale[2] = {360.0f / 0.55f, 360.0f / 0.6f};

inline void InstallLensTables(const ScopedConfigState& state) {
  for (int s = 0; s < 2; ++s) {
    EquidistantTable t;
    t.heightPerRadian = kTableHeight[s];
    LensTableFixture_Write(state.dir(), 7 + s, t);
  }
  LensTableFixture_Install(state.dir(), 7, 8);
}

inline LutConfig OneModelConfig(int32_t model, int32_t slot = 0) {
  LutConfig cfg;
  memset(&cfg, 0, sizeof cfg);
  for (int c = 0; c < 4; ++c) {
    cfg.model[c] = static_cast<uint32_t>(model);
    cfg.lensSlot[c] = slot;
  }
  return cfg;
}

// Models 1 and 4 search their scale from 360 px at 1280 x 720: their truth
// lies two grid steps inside, where noisy corners cannot make the grid's
// first value look like an edge beyond which the scale continues.
inline SceneCamera TruthIntrinsics(int32_t model, int32_t slot = 0, int32_t width = 1280, int32_t height = 720) {
  SceneCamera cam = PoseScene_Camera(model, width, height, model == 3 ? kModel3Scale[slot] : 0.0f, slot);
  if (model == 1 || model == 4) cam.D[0] = 370.0f * static_cast<float>(width) / 1280.0f;
  return cam;
}

struct SolveResult {
  int32_t ret = 0;
  float K[9] = {}, D[8] = {}, R[3] = {}, T[3] = {};
};

inline SolveResult SolveScene(LutConfig* cfg, PoseScene& s, int32_t camera, int32_t fitRefine = 0,
                              int32_t candidate = 0, Matrix* image = nullptr, int32_t count = -1) {
  SolveResult r;
  Matrix K{3, 3, r.K}, D{1, 8, r.D}, R{1, 3, r.R}, T{1, 3, r.T};
  r.ret = CalibrateCamera(cfg, s.width, s.height, image, camera, count < 0 ? s.count : count, s.image.data(),
                          s.world.data(), &K, &D, &R, &T, fitRefine, candidate);
  return r;
}

// Puts lens-table slot `slot` into intrinsics mode 2 with the camera's own
// principal point and scale: the model-3 fit then solves the pose alone.
inline void HoldModel3Intrinsics(const SceneCamera& cam, int32_t width, int32_t height) {
  LensTable_Select(cam.slot);
  LensTableSlot* s = LensTable_Current();
  s->trackCount = 2;
  s->trackWidth = width;
  s->trackHeight = height;
  s->centreX = cam.K[2];
  s->centreY = cam.K[5];
  s->scaleX = s->scaleY = cam.D[0];
}
