#include "testsupport/scene_renderer.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "camera/camera_model.h"
#include "camera/rotation.h"

namespace {

void Cross(const float* a, const float* b, float* c) {
  c[0] = a[1] * b[2] - a[2] * b[1];
  c[1] = a[2] * b[0] - a[0] * b[2];
  c[2] = a[0] * b[1] - a[1] * b[0];
}

void Normalise(float* v) {
  const float n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int k = 0; k < 3; ++k) v[k] /= n;
}

// Extent of the target (pattern plus margin) in target coordinates.
void TargetExtent(const TargetSpec& t, float* s0, float* s1, float* t0, float* t1) {
  float ws, wt;
  if (t.kind == TargetKind::kCustom) {
    ws = t.extentS;
    wt = t.extentT;
  } else if (t.kind == TargetKind::kChessboard) {
    ws = t.squaresX * t.squareSize;
    wt = t.squaresY * t.squareSize;
  } else {
    ws = (t.squaresX - 1) * t.pitch + t.squareSize;
    wt = (t.squaresY - 1) * t.pitch + t.squareSize;
  }
  *s0 = -t.margin;
  *t0 = -t.margin;
  *s1 = ws + t.margin;
  *t1 = wt + t.margin;
}

// Grey level at target coordinates (s, t); -1 outside the target.
inline float TargetLevel(const TargetSpec& t, float s0, float s1, float t0, float t1, float s, float tt) {
  if (s < s0 || s > s1 || tt < t0 || tt > t1) return -1.0f;
  bool dark = false;
  if (t.kind == TargetKind::kCustom) {
    const float v = s >= 0.0f && s <= t.extentS && tt >= 0.0f && tt <= t.extentT && t.shade ? t.shade(s, tt) : -1.0f;
    return v < 0.0f ? t.light : v;
  }
  if (t.kind == TargetKind::kChessboard) {
    const int i = static_cast<int>(std::floor(s / t.squareSize));
    const int j = static_cast<int>(std::floor(tt / t.squareSize));
    dark = i >= 0 && i < t.squaresX && j >= 0 && j < t.squaresY && ((i + j) & 1) == 0;
  } else {
    const int i = static_cast<int>(std::floor(s / t.pitch));
    const int j = static_cast<int>(std::floor(tt / t.pitch));
    if (i >= 0 && i < t.squaresX && j >= 0 && j < t.squaresY)
      dark = s - i * t.pitch < t.squareSize && tt - j * t.pitch < t.squareSize;
  }
  return dark ? t.dark : t.light;
}

inline void TargetToWorld(const TargetSpec& t, float s, float tt, float* w) {
  for (int k = 0; k < 3; ++k) w[k] = t.origin[k] + s * t.axisS[k] + tt * t.axisT[k];
}

struct Projector {
  explicit Projector(const SceneCamera& cam) : model(cam.model), slot(cam.slot) {
    float K[9], D[8], r[3], T[3];
    std::copy(cam.K, cam.K + 9, K);
    std::copy(cam.D, cam.D + 8, D);
    std::copy(cam.r, cam.r + 3, r);
    std::copy(cam.T, cam.T + 3, T);
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
    CameraModel_ProjectPoint(model, &mr, &mT, &mK, &mD, &fn, &ctx);
  }
  bool operator()(const float* w, float* u, float* v) const {
    return fn != nullptr && fn(model, &ctx, u, v, slot, w[0], w[1], w[2]) != 0;
  }
  int32_t model, slot;
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
};

}  // namespace

void Scene_GaussianBlur(std::vector<float>& img, int w, int h, float sigma) {
  const int rad = std::max(1, static_cast<int>(std::ceil(3.0f * sigma)));
  std::vector<float> k(2 * rad + 1);
  float sum = 0.0f;
  for (int i = -rad; i <= rad; ++i) sum += k[i + rad] = std::exp(-0.5f * i * i / (sigma * sigma));
  for (float& e : k) e /= sum;
  std::vector<float> tmp(img.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float a = 0.0f;
      for (int i = -rad; i <= rad; ++i) a += k[i + rad] * img[y * w + std::clamp(x + i, 0, w - 1)];
      tmp[y * w + x] = a;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      float a = 0.0f;
      for (int i = -rad; i <= rad; ++i) a += k[i + rad] * tmp[std::clamp(y + i, 0, h - 1) * w + x];
      img[y * w + x] = a;
    }
}

std::vector<uint8_t> Scene_JoinQuad(int32_t W, int32_t H, const std::function<std::vector<uint8_t>(int32_t)>& render) {
  std::vector<uint8_t> quad(static_cast<size_t>(4) * W * H);
  for (int32_t c = 0; c < 4; ++c) {
    const std::vector<uint8_t> pic = render(c + 1);
    const int32_t ox = (c % 2) * W, oy = (c / 2) * H;
    for (int32_t y = 0; y < H; ++y)
      std::copy(pic.begin() + static_cast<size_t>(y) * W, pic.begin() + static_cast<size_t>(y + 1) * W,
                quad.begin() + static_cast<size_t>(oy + y) * 2 * W + ox);
  }
  return quad;
}

void SceneCamera_LookAt(SceneCamera* cam, const float position[3], const float lookAt[3], const float up[3]) {
  const float defaultUp[3] = {0.0f, 0.0f, 1.0f};
  if (up == nullptr) up = defaultUp;
  float z[3] = {lookAt[0] - position[0], lookAt[1] - position[1], lookAt[2] - position[2]};
  Normalise(z);
  float x[3];
  Cross(z, up, x);
  Normalise(x);
  float y[3];
  Cross(z, x, y);
  const float R[9] = {x[0], x[1], x[2], y[0], y[1], y[2], z[0], z[1], z[2]};
  RotationMatrixToVector(R, cam->r);
  // Camera coordinates = R (world + T): the camera centre is -T.
  for (int k = 0; k < 3; ++k) cam->T[k] = -position[k];
}

std::vector<TargetCorner> Target_Corners(const TargetSpec& target, const SceneCamera& cam, int32_t width,
                                         int32_t height) {
  std::vector<TargetCorner> corners;
  auto add = [&](float s, float t) {
    TargetCorner c{};
    c.s = s;
    c.t = t;
    TargetToWorld(target, s, t, c.world);
    corners.push_back(c);
  };
  if (target.kind == TargetKind::kCustom) return corners;
  if (target.kind == TargetKind::kChessboard) {
    for (int j = 1; j < target.squaresY; ++j)
      for (int i = 1; i < target.squaresX; ++i) add(i * target.squareSize, j * target.squareSize);
  } else {
    for (int j = 0; j < target.squaresY; ++j)
      for (int i = 0; i < target.squaresX; ++i) {
        const float s0 = i * target.pitch, t0 = j * target.pitch;
        const float s1 = s0 + target.squareSize, t1 = t0 + target.squareSize;
        add(s0, t0);
        add(s1, t0);
        add(s1, t1);
        add(s0, t1);
      }
  }
  const int n = static_cast<int>(corners.size());
  std::vector<float> world(3 * n), image(2 * n);
  for (int i = 0; i < n; ++i) std::copy(corners[i].world, corners[i].world + 3, &world[3 * i]);
  float K[9], D[8], r[3], T[3];
  std::copy(cam.K, cam.K + 9, K);
  std::copy(cam.D, cam.D + 8, D);
  std::copy(cam.r, cam.r + 3, r);
  std::copy(cam.T, cam.T + 3, T);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T}, mw{3, n, world.data()}, mi{2, n, image.data()};
  CameraModel_ProjectPoints(cam.model, &mw, &mr, &mT, &mK, &mD, &mi, nullptr, nullptr, nullptr, nullptr, nullptr,
                            cam.slot);
  for (int i = 0; i < n; ++i) {
    corners[i].u = image[2 * i];
    corners[i].v = image[2 * i + 1];
    corners[i].visible = !(corners[i].u == -2.0f && corners[i].v == -2.0f) && corners[i].u >= 0.0f &&
                         corners[i].v >= 0.0f && corners[i].u <= width - 1 && corners[i].v <= height - 1;
  }
  return corners;
}

std::vector<uint8_t> Scene_RenderGrey(const SceneCamera& cam, const TargetSpec& target, const RenderOptions& opt) {
  const int W = opt.width, H = opt.height;
  const Projector project(cam);
  float s0, s1, t0, t1;
  TargetExtent(target, &s0, &s1, &t0, &t1);

  // Coarse mesh of the target plane, projected into the picture.
  const int cells = 96;
  const int nv = cells + 1;
  std::vector<float> mu(nv * nv), mv(nv * nv), ms(nv * nv), mt(nv * nv);
  std::vector<uint8_t> mok(nv * nv);
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nv; ++i) {
      const int k = j * nv + i;
      ms[k] = s0 + (s1 - s0) * i / cells;
      mt[k] = t0 + (t1 - t0) * j / cells;
      float w[3];
      TargetToWorld(target, ms[k], mt[k], w);
      mok[k] = project(w, &mu[k], &mv[k]) ? 1 : 0;
    }

  // Target coordinates of every pixel corner (corner (x, y) sits at
  // (x - 0.5, y - 0.5): pixel centres are at integer positions), found in the
  // mesh and refined by Newton steps through the exact projection.
  const int GW = W + 1, GH = H + 1;
  std::vector<float> gs(GW * GH), gt(GW * GH);
  std::vector<uint8_t> gok(GW * GH, 0);
  auto raster = [&](int a, int b, int c) {
    if (!mok[a] || !mok[b] || !mok[c]) return;
    // Affine map (s, t) -> (u, v) of the triangle and its inverse.
    const float du1 = mu[b] - mu[a], dv1 = mv[b] - mv[a], du2 = mu[c] - mu[a], dv2 = mv[c] - mv[a];
    const float det = du1 * dv2 - du2 * dv1;
    if (std::fabs(det) < 1e-6f) return;
    const float ds1 = ms[b] - ms[a], dt1 = mt[b] - mt[a], ds2 = ms[c] - ms[a], dt2 = mt[c] - mt[a];
    // d(s, t) / d(u, v) = [ds1 ds2; dt1 dt2] * inverse([du1 du2; dv1 dv2]).
    const float i00 = dv2 / det, i01 = -du2 / det, i10 = -dv1 / det, i11 = du1 / det;
    const float J00 = ds1 * i00 + ds2 * i10, J01 = ds1 * i01 + ds2 * i11;
    const float J10 = dt1 * i00 + dt2 * i10, J11 = dt1 * i01 + dt2 * i11;
    const float umin = std::min({mu[a], mu[b], mu[c]}), umax = std::max({mu[a], mu[b], mu[c]});
    const float vmin = std::min({mv[a], mv[b], mv[c]}), vmax = std::max({mv[a], mv[b], mv[c]});
    const int x0 = std::max(0, static_cast<int>(std::ceil(umin + 0.5f)));
    const int x1 = std::min(GW - 1, static_cast<int>(std::floor(umax + 0.5f)));
    const int y0 = std::max(0, static_cast<int>(std::ceil(vmin + 0.5f)));
    const int y1 = std::min(GH - 1, static_cast<int>(std::floor(vmax + 0.5f)));
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const int g = y * GW + x;
        if (gok[g]) continue;
        const float pu = x - 0.5f, pv = y - 0.5f;
        const float eu = pu - mu[a], ev = pv - mv[a];
        const float l1 = (eu * dv2 - du2 * ev) / det, l2 = (du1 * ev - eu * dv1) / det;
        if (l1 < -1e-4f || l2 < -1e-4f || l1 + l2 > 1.0001f) continue;
        float s = ms[a] + l1 * ds1 + l2 * ds2, t = mt[a] + l1 * dt1 + l2 * dt2;
        bool ok = true;
        for (int it = 0; it < 6; ++it) {
          float w[3], u, v;
          TargetToWorld(target, s, t, w);
          if (!project(w, &u, &v)) {
            ok = false;
            break;
          }
          const float ru = u - pu, rv = v - pv;
          if (std::fabs(ru) < 1e-4f && std::fabs(rv) < 1e-4f) break;
          s -= J00 * ru + J01 * rv;
          t -= J10 * ru + J11 * rv;
        }
        if (!ok) continue;
        gs[g] = s;
        gt[g] = t;
        gok[g] = 1;
      }
  };
  for (int j = 0; j < cells; ++j)
    for (int i = 0; i < cells; ++i) {
      const int k = j * nv + i;
      raster(k, k + 1, k + nv + 1);
      raster(k, k + nv + 1, k + nv);
    }

  // Shade each pixel from ss x ss samples of the target.
  std::vector<float> img(W * H, opt.background);
  const int ss = std::max(1, opt.supersample);
  const float bg = opt.background;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int g = y * GW + x;
      if (!gok[g] || !gok[g + 1] || !gok[g + GW] || !gok[g + GW + 1]) continue;
      float acc = 0.0f;
      for (int b = 0; b < ss; ++b) {
        const float fy = (b + 0.5f) / ss;
        const float sa = gs[g] + (gs[g + GW] - gs[g]) * fy, sb = gs[g + 1] + (gs[g + GW + 1] - gs[g + 1]) * fy;
        const float ta = gt[g] + (gt[g + GW] - gt[g]) * fy, tb = gt[g + 1] + (gt[g + GW + 1] - gt[g + 1]) * fy;
        for (int a = 0; a < ss; ++a) {
          const float fx = (a + 0.5f) / ss;
          const float level = TargetLevel(target, s0, s1, t0, t1, sa + (sb - sa) * fx, ta + (tb - ta) * fx);
          acc += level < 0.0f ? bg : level;
        }
      }
      img[y * W + x] = acc / (ss * ss);
    }

  for (const Occluder& o : opt.occluders)
    for (int y = std::max(0, static_cast<int>(std::ceil(o.y0))); y <= std::min(H - 1, static_cast<int>(std::floor(o.y1))); ++y)
      for (int x = std::max(0, static_cast<int>(std::ceil(o.x0))); x <= std::min(W - 1, static_cast<int>(std::floor(o.x1))); ++x)
        img[y * W + x] = o.level;
  if (opt.lightLeft != 1.0f || opt.lightRight != 1.0f)
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const float f = W > 1 ? static_cast<float>(x) / static_cast<float>(W - 1) : 0.0f;
        img[y * W + x] *= opt.lightLeft + (opt.lightRight - opt.lightLeft) * f;
      }
  if (opt.blurSigma > 0.0f) Scene_GaussianBlur(img, W, H, opt.blurSigma);
  if (opt.noiseSigma > 0.0f) {
    std::mt19937 rng(opt.seed);
    std::normal_distribution<float> noise(0.0f, opt.noiseSigma);
    for (float& p : img) p += noise(rng);
  }
  std::vector<uint8_t> out(W * H);
  for (int i = 0; i < W * H; ++i) out[i] = static_cast<uint8_t>(std::clamp(std::lround(img[i]), 0L, 255L));
  return out;
}

std::vector<uint8_t> Scene_GreyToYuv(const std::vector<uint8_t>& grey, int32_t width, int32_t height,
                                     YuvLayout layout) {
  const size_t n = static_cast<size_t>(width) * height;
  std::vector<uint8_t> out;
  switch (layout) {
    case YuvLayout::kI420:
    case YuvLayout::kNV12:
      out.assign(n + 2 * (static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2)), 128);
      std::copy(grey.begin(), grey.begin() + n, out.begin());
      break;
    case YuvLayout::kYUYV:
    case YuvLayout::kUYVY: {
      const int stride = 2 * ((width + 1) / 2) * 2;
      out.assign(static_cast<size_t>(stride) * height, 128);
      const int off = layout == YuvLayout::kYUYV ? 0 : 1;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out[y * stride + 2 * x + off] = grey[y * width + x];
      break;
    }
  }
  return out;
}
