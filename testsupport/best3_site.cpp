#include "testsupport/best3_site.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"

namespace {

// One stripe: a column of touching squares, so the whole strip is paint.
TargetSpec Stripe(const Best3Site& site, float x0, float width) {
  TargetSpec t;
  t.kind = TargetKind::kSquares;
  t.squareSize = width;
  t.pitch = width;
  t.squaresX = 1;
  t.squaresY = static_cast<int32_t>(site.stripeLength / width);
  t.margin = 0.0f;
  t.dark = site.paint;
  t.light = site.paint;
  t.origin[0] = x0;
  t.origin[1] = -site.stripeLength / 2.0f;
  t.origin[2] = 0.0f;
  return t;
}

}  // namespace

std::string Best3Site::BaseText() const {
  return "2000,200,100,350,0,600,0,900,600,1,7,5,24,0,0,0,0,0,0,0;0,0,0,0";
}

float Best3Site::EdgeX(int side, int edge) const {
  const float d = stripeInner + (edge == 0 ? 0.0f : stripeWidth);
  return side < 0 ? -d : d;
}

SceneCamera Best3Site_Camera(const Best3Site& site, int camera) {
  SceneCamera cam;
  cam.model = site.model;
  const float scale = static_cast<float>(site.camW) / 1280.0f;
  const float offX[4] = {6, -5, 3, -4}, offY[4] = {-4, 3, 5, -2};
  cam.K[2] = site.camW / 2.0f + offX[camera - 1];
  cam.K[5] = site.camH / 2.0f + offY[camera - 1];
  for (float& d : cam.D) d = 0.0f;
  cam.D[0] = (site.model == 1 ? 415.0f : site.model == 3 ? site.model3Scale : 364.0f) * scale;
  const float a = site.carWidth / 2.0f, b = site.carLength / 2.0f;
  const float* h = site.cameraHeight;
  const float pos[4][3] = {{0, -b + 200, -h[0]}, {0, b - 200, -h[1]}, {-a - 60, -150, -h[2]}, {a + 60, -150, -h[3]}};
  const float at[4][3] = {{40, -b - 1800, 0}, {-30, b + 1800, 0}, {-a - 900, -100, 0}, {a + 900, -200, 0}};
  const float up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos[camera - 1], at[camera - 1], up);
  return cam;
}

std::vector<uint8_t> Best3Site_Render(const Best3Site& site, int camera) {
  const SceneCamera cam = Best3Site_Camera(site, camera);
  RenderOptions opt;
  opt.width = site.camW;
  opt.height = site.camH;
  opt.supersample = 2;
  opt.background = site.floor;
  opt.blurSigma = site.blurSigma;
  const size_t n = static_cast<size_t>(site.camW) * site.camH;
  std::vector<uint8_t> out(n, site.floor);
  std::vector<std::pair<float, float>> strips = site.extraStripes;
  if (site.stripes) {
    strips.emplace_back(site.EdgeX(-1, 1), site.stripeWidth);
    strips.emplace_back(site.EdgeX(1, 0), site.stripeWidth);
  }
  // The strips never meet: each one's pixels replace the floor's.
  for (const auto& s : strips) {
    const std::vector<uint8_t> pic = Scene_RenderGrey(cam, Stripe(site, s.first, s.second), opt);
    for (size_t i = 0; i < n; ++i) out[i] = std::max(out[i], pic[i]);
  }
  return out;
}

std::vector<uint8_t> Best3Site_RenderQuad(const Best3Site& site) {
  return Scene_JoinQuad(site.camW, site.camH, [&](int32_t c) { return Best3Site_Render(site, c); });
}

std::vector<float> Best3Site_Combined(const Best3Site& site, const std::vector<uint8_t>& quad) {
  const int32_t W = site.camW, H = site.camH;
  std::vector<float> out(static_cast<size_t>(W) * H);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x)
      out[static_cast<size_t>(y) * W + x] = quad[static_cast<size_t>(2 * y) * 2 * W + 2 * x] / 255.0f;
  return out;
}

LUTOB* Best3Site_MakeLut(const Best3Site& site, const SceneCamera cams[4]) {
  LUTOB* lut = LUTOB_Create();
  LutConfig_Init(&lut->cfg, site.carWidth, site.carLength, 0, 900, 2700, site.model, 1, 0, 0);
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  lut->camW = site.camW;
  lut->camH = site.camH;
  for (int c = 0; c < 4; ++c) {
    memcpy(lut->params.K[c], cams[c].K, sizeof cams[c].K);
    memcpy(lut->params.D[c], cams[c].D, sizeof cams[c].D);
    memcpy(lut->params.R[c], cams[c].r, sizeof cams[c].r);
    memcpy(lut->params.T[c], cams[c].T, sizeof cams[c].T);
    lut->cornerCounts[c] = 24;
    lut->seamAngles[c] = gv().config.seamAngle[c];
  }
  return lut;
}
