#include "testsupport/adas_road_scene.h"

#include <cmath>

#include "camera/camera_model.h"

AdasSampleRig::AdasSampleRig(int32_t scale) {
  rig.camW = kSampleCamW * scale;
  rig.camH = kSampleCamH * scale;
  rig.carWidth = kSampleCarWidth;
  rig.carLength = kSampleCarLength;
  rig.frontOverhang = 900;
  rig.wheelBase = 2800;
  for (int k = 0; k < 4; ++k) {
    cam[k] = SampleRigCamera(k + 1);
    cam[k].K[2] *= static_cast<float>(scale);
    cam[k].K[5] *= static_cast<float>(scale);
    cam[k].D[0] *= static_cast<float>(scale);
    K[k] = Matrix{3, 3, cam[k].K};
    D[k] = Matrix{8, 1, cam[k].D};
    R[k] = Matrix{3, 1, cam[k].r};
    T[k] = Matrix{1, 3, cam[k].T};
    rig.model[k] = cam[k].model;
    rig.slot[k] = 0;
    rig.K[k] = &K[k];
    rig.D[k] = &D[k];
    rig.R[k] = &R[k];
    rig.T[k] = &T[k];
  }
}

AdasRoadRenderer::AdasRoadRenderer(const AdasSampleRig& r, float halfWidth, float halfLength, float step)
    : width_(2 * r.rig.camW), height_(2 * r.rig.camH) {
  const int nx = static_cast<int>(2 * halfWidth / step) + 1, ny = static_cast<int>(2 * halfLength / step) + 1;
  std::vector<float> ground;
  ground.reserve(static_cast<size_t>(nx) * ny * 3);
  for (int j = 0; j < ny; ++j)
    for (int i = 0; i < nx; ++i) {
      ground.push_back(-halfWidth + i * step);
      ground.push_back(-halfLength + j * step);
      ground.push_back(0.0f);
    }
  const int n = nx * ny;
  std::vector<float> px(static_cast<size_t>(n) * 2);
  for (int k = 0; k < 4; ++k) {
    // Only points in front of the camera: camera z > 0.
    Matrix obj{3, n, ground.data()};
    Matrix img{2, n, px.data()};
    CameraModel_ProjectPoints(r.rig.model[k], &obj, r.rig.R[k], r.rig.T[k], r.rig.K[k], r.rig.D[k], &img, nullptr,
                              nullptr, nullptr, nullptr, nullptr, 0);
    const int ox = (k == 1 || k == 3) ? r.rig.camW : 0, oy = k >= 2 ? r.rig.camH : 0;
    const SceneCamera& c = r.cam[k];
    // Camera centre in the world: -T; a point is in front when its offset
    // from the centre points along the optical axis.
    const float th = std::sqrt(c.r[0] * c.r[0] + c.r[1] * c.r[1] + c.r[2] * c.r[2]);
    float Rm[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (th > 0) {
      const float ux = c.r[0] / th, uy = c.r[1] / th, uz = c.r[2] / th, cs = std::cos(th), sn = std::sin(th);
      const float t = 1 - cs;
      const float m[9] = {cs + ux * ux * t,      ux * uy * t - uz * sn, ux * uz * t + uy * sn,
                          uy * ux * t + uz * sn, cs + uy * uy * t,      uy * uz * t - ux * sn,
                          uz * ux * t - uy * sn, uz * uy * t + ux * sn, cs + uz * uz * t};
      for (int q = 0; q < 9; ++q) Rm[q] = m[q];
    }
    for (int p = 0; p < n; ++p) {
      const float* g = &ground[3 * static_cast<size_t>(p)];
      const float zc = Rm[6] * (g[0] + c.T[0]) + Rm[7] * (g[1] + c.T[1]) + Rm[8] * (g[2] + c.T[2]);
      if (zc <= 0) continue;
      const float u = px[2 * static_cast<size_t>(p)], v = px[2 * static_cast<size_t>(p) + 1];
      if (!std::isfinite(u) || !std::isfinite(v)) continue;
      const int iu = static_cast<int>(std::lround(u)), iv = static_cast<int>(std::lround(v));
      if (iu < 0 || iv < 0 || iu >= r.rig.camW || iv >= r.rig.camH) continue;
      splats_.push_back({g[0], g[1], (oy + iv) * width_ + ox + iu});
    }
  }
}

std::vector<uint8_t> AdasRoadRenderer::Render(const GroundPaint& paint, uint8_t background) const {
  const size_t luma = static_cast<size_t>(width_) * height_;
  std::vector<uint8_t> f(luma + luma / 2, 128);
  std::fill(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(luma), background);
  for (const Splat& s : splats_) f[static_cast<size_t>(s.offset)] = paint(s.x, s.y);
  return f;
}
