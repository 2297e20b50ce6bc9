#include "testsupport/six_camera_rig.h"

#include <algorithm>
#include <cstring>

#include "camera/camera_model.h"
#include "frame/global_variables.h"
#include "frame/matrix_types.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"

SixCameraRig::SixCameraRig(int32_t cameraWidth, int32_t cameraHeight, int32_t outW, int32_t outH)
    : camW(cameraWidth), camH(cameraHeight) {
  GlobalVariables& g = gv();
  g.f0 = 2000;
  g.f3 = outW;
  g.f5 = outH;
  g.f6 = 0;
  const float focal = static_cast<float>(std::min(cameraWidth, cameraHeight)) / 2.0f / 1.76f;
  const float hw = carWidth / 2.0f, hl = carLength / 2.0f, q = carLength / 4.0f;
  const float pos[6][3] = {{0, -hl + 300, 800},     {0, hl - 300, 900},      {-hw + 100, -q, 1000},
                           {hw - 100, -q, 1000},    {-hw + 100, q, 1000},    {hw - 100, q, 1000}};
  const float out = 300.0f;
  const float look[6][3] = {{0, -hl + 300 - out, 0}, {0, hl - 300 + out, 0}, {-hw + 100 - out, -q, 0},
                            {hw - 100 + out, -q, 0}, {-hw + 100 - out, q, 0}, {hw - 100 + out, q, 0}};
  for (int c = 0; c < 6; ++c) {
    SceneCamera& s = cams[c];
    s.model = 2;
    const float K[9] = {1, 0, cameraWidth / 2.0f, 0, 1, cameraHeight / 2.0f, 0, 0, 1};
    memcpy(s.K, K, sizeof K);
    for (float& d : s.D) d = 0.0f;
    s.D[0] = focal;
    SceneCamera_LookAt(&s, pos[c], look[c]);
  }
}

const SceneCamera& SixCameraRig::GroupCamera(int32_t group, int32_t slot) const {
  static const int kSlots[2][4] = {{0, 1, 2, 3}, {0, 1, 4, 5}};
  return cams[kSlots[group == 2 ? 1 : 0][std::min(std::max(slot, 0), 3)]];
}

bool SixCameraRig::Project(int32_t camera, float x, float y, float* u, float* v) const {
  const SceneCamera& cam = cams[camera];
  float K[9], D[8], r[3], T[3];
  std::copy(cam.K, cam.K + 9, K);
  std::copy(cam.D, cam.D + 8, D);
  std::copy(cam.r, cam.r + 3, r);
  std::copy(cam.T, cam.T + 3, T);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(cam.model, &mr, &mT, &mK, &mD, &fn, &ctx);
  return fn != nullptr && fn(cam.model, &ctx, u, v, cam.slot, x, y, 0.0f) != 0;
}

TargetSpec SixCameraRig::Floor() {
  TargetSpec t;
  t.kind = TargetKind::kChessboard;
  t.squaresX = 20;
  t.squaresY = 30;
  t.squareSize = 400.0f;
  t.margin = 0.0f;
  t.dark = 40;
  t.light = 210;
  t.origin[0] = -4000.0f;
  t.origin[1] = -6000.0f;
  t.origin[2] = 0.0f;
  return t;
}

std::vector<uint8_t> SixCameraRig::Render(int32_t camera) const {
  RenderOptions opt;
  opt.width = camW;
  opt.height = camH;
  opt.supersample = 2;
  opt.background = 100;
  return Scene_RenderGrey(cams[camera], Floor(), opt);
}

void SixCameraRig::RenderFrames(std::vector<uint8_t>* frame1, std::vector<uint8_t>* frame2) const {
  const int32_t qw = 2 * camW;
  frame1->assign(static_cast<size_t>(qw) * 2 * camH, 0);
  frame2->assign(static_cast<size_t>(qw) * camH, 0);
  for (int c = 0; c < 6; ++c) {
    const std::vector<uint8_t> pic = Render(c);
    std::vector<uint8_t>* dst = c < 4 ? frame1 : frame2;
    const int32_t ox = (c % 2) * camW, oy = c < 4 ? (c / 2) * camH : 0;
    for (int32_t y = 0; y < camH; ++y)
      memcpy(dst->data() + static_cast<size_t>(oy + y) * qw + ox, pic.data() + static_cast<size_t>(y) * camW, camW);
  }
}

LUTOB* SixCameraRig::MakeGroupLut(int32_t group) const {
  GlobalVariables& g = gv();
  const int32_t savedGroup = g.groupNumber;
  g.groupNumber = group;
  LUTOB* lut = LUTOB_Create();
  LutConfig_Init(&lut->cfg, carWidth, carLength, 0, 500, 2800, 2, 1, 0, 0);
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  lut->camW = camW;
  lut->camH = camH;
  for (int c = 0; c < 4; ++c) {
    const SceneCamera& s = GroupCamera(group, c);
    memcpy(lut->params.K[c], s.K, sizeof s.K);
    memcpy(lut->params.D[c], s.D, sizeof s.D);
    memcpy(lut->params.R[c], s.r, sizeof s.r);
    memcpy(lut->params.T[c], s.T, sizeof s.T);
    lut->cornerCounts[c] = 35;
    lut->seamAngles[c] = g.config.seamAngle[c];
  }
  LUT_GenerateMergerLUT(lut, 0, group == 1 ? 2 : 0);
  lut->cfg.groupNumber = group;
  lut->cfg.splitLength = carLength / 2;
  // Bands of the run tables: each side of the car rectangle.
  const LutConfig& c = lut->cfg;
  lut->bandSizes[0] = c.carTop;
  lut->bandSizes[1] = c.X1.rows - c.carBottom;
  lut->bandSizes[2] = c.carLeft;
  lut->bandSizes[3] = c.X1.cols - c.carRight;
  g.groupNumber = savedGroup;
  return lut;
}
