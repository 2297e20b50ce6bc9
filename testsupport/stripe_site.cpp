#include "testsupport/stripe_site.h"

#include <cstring>

#include "camera/camera_model.h"

void StripeSite_Init(StripeSite* site) {
  const float hw = site->carWidth / 2.0f, hl = site->carLength / 2.0f;
  const float pos[4][3] = {{0, -hl + 300, 800}, {0, hl - 300, 900}, {-hw + 100, 0, 1000}, {hw - 100, 0, 1000}};
  const float look[4][3] = {{0, -hl - 1200, 0}, {0, hl + 1200, 0}, {-hw - 1400, 0, 0}, {hw + 1400, 0, 0}};
  CameraParamBlock& b = site->block;
  std::memset(&b, 0, sizeof b);
  CameraParamSet_SetHeaders(&b.params, &b.headers);
  b.carWidth = site->carWidth;
  b.carLength = site->carLength;
  for (int c = 0; c < 4; ++c) {
    SceneCamera& s = site->cams[c];
    s.model = site->model;
    s.slot = site->slot;
    const float K[9] = {1, 0, site->camW / 2.0f, 0, 1, site->camH / 2.0f, 0, 0, 1};
    std::memcpy(s.K, K, sizeof K);
    for (float& d : s.D) d = 0.0f;
    s.D[0] = site->model == 3 ? site->scale3 : static_cast<float>(site->camW) / 2.0f / 1.76f;
    SceneCamera_LookAt(&s, pos[c], look[c]);
    b.model[c] = static_cast<uint32_t>(site->model);
    b.lensSlot[c] = static_cast<uint32_t>(site->slot);
    std::memcpy(b.params.K[c], s.K, sizeof s.K);
    std::memcpy(b.params.D[c], s.D, sizeof s.D);
    std::memcpy(b.params.R[c], s.r, sizeof s.r);
    std::memcpy(b.params.T[c], s.T, sizeof s.T);
  }
}

std::vector<float> StripeSite_Render(const StripeSite& site, int camera) {
  TargetSpec floor;
  floor.kind = TargetKind::kCustom;
  floor.margin = 0.0f;
  floor.extentS = 8000.0f;
  floor.extentT = 20000.0f;
  floor.origin[0] = -4000.0f;
  floor.origin[1] = -10000.0f;
  const float inner = static_cast<float>(site.innerSpan) / 2.0f, width = static_cast<float>(site.stripe);
  const float centre = site.centre;
  const bool left = site.left, right = site.right;
  floor.shade = [=](float s, float) {
    const float x = s - 4000.0f - centre;
    if (left && x <= -inner && x >= -inner - width) return 220.0f;
    if (right && x >= inner && x <= inner + width) return 220.0f;
    return 60.0f;
  };
  RenderOptions opt;
  opt.width = site.camW;
  opt.height = site.camH;
  opt.supersample = 2;
  opt.background = 60;
  opt.blurSigma = 0.6f;
  opt.noiseSigma = 1.0f;
  const std::vector<uint8_t> grey = Scene_RenderGrey(site.cams[camera - 1], floor, opt);
  std::vector<float> out(grey.begin(), grey.end());
  for (float& p : out) p /= 255.0f;
  return out;
}

std::vector<float> StripeSite_Project(const StripeSite& site, int camera, const std::vector<float>& ground) {
  const int c = camera - 1, n = static_cast<int>(ground.size() / 3);
  std::vector<float> obj(ground), uv(2 * static_cast<size_t>(n)), out(2 * static_cast<size_t>(n));
  Matrix o{3, n, obj.data()}, m{2, n, uv.data()};
  const CameraParamHeaders& h = site.block.headers;
  CameraModel_ProjectPoints(site.cams[c].model, &o, &h.R[c], &h.T[c], &h.K[c], &h.D[c], &m, nullptr, nullptr,
                            nullptr, nullptr, nullptr, site.cams[c].slot);
  for (int i = 0; i < n; ++i) {
    out[2 * i] = uv[2 * i + 1];
    out[2 * i + 1] = uv[2 * i];
  }
  return out;
}
