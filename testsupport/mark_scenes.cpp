#include "testsupport/mark_scenes.h"

#include <cmath>

#include "camera/camera_model.h"

namespace {

constexpr float kPi = 3.14159265358979f;
// Half the side of the ground patch the marks lie on, mm.
constexpr float kGroundHalf = 4000.0f;

bool InsideConvex(const std::vector<float>& v, float s, float t) {
  const size_t n = v.size() / 2;
  int sign = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n;
    const float cross = (v[2 * j] - v[2 * i]) * (t - v[2 * i + 1]) - (v[2 * j + 1] - v[2 * i + 1]) * (s - v[2 * i]);
    const int sg = cross > 0.0f ? 1 : (cross < 0.0f ? -1 : 0);
    if (sg == 0) continue;
    if (sign == 0)
      sign = sg;
    else if (sg != sign)
      return false;
  }
  return true;
}

std::vector<float> SquarePolygon(float cs, float ct, float side, float angleDeg) {
  const float a = angleDeg * kPi / 180.0f, c = std::cos(a), sn = std::sin(a), h = 0.5f * side;
  // Top-left, top-right, bottom-right, bottom-left: the outline order.
  const float local[8] = {-h, -h, h, -h, h, h, -h, h};
  std::vector<float> v(8);
  for (int i = 0; i < 4; ++i) {
    v[2 * i] = cs + c * local[2 * i] - sn * local[2 * i + 1];
    v[2 * i + 1] = ct + sn * local[2 * i] + c * local[2 * i + 1];
  }
  return v;
}

// Polygon order to grid order (top-left, top-right, bottom-left, bottom-right).
std::vector<float> GridOrder(const std::vector<float>& poly) {
  return {poly[0], poly[1], poly[2], poly[3], poly[6], poly[7], poly[4], poly[5]};
}

}  // namespace

MarkScene MarkScene_Make(const BoardSceneSpec& view, uint8_t ground) {
  const BoardScene board = BoardScene_Make(view);
  MarkScene s;
  s.cam = board.cam;
  s.width = view.width;
  s.height = view.height;
  s.yawDeg = view.yawDeg;
  s.ground = ground;
  const float d = 1000.0f;
  s.groundOrigin[0] = -view.offsetX * d;
  s.groundOrigin[1] = view.offsetY * d;
  s.groundOrigin[2] = 0.0f;
  const float yaw = view.yawDeg * kPi / 180.0f;
  const float c = std::cos(yaw), sn = std::sin(yaw);
  const float axisS[3] = {c, sn, 0.0f}, axisT[3] = {sn, -c, 0.0f};
  for (int k = 0; k < 3; ++k) {
    s.axisS[k] = axisS[k];
    s.axisT[k] = axisT[k];
  }
  return s;
}

std::vector<float> MarkScene_AddSquare(MarkScene* scene, float cs, float ct, float side, float angleDeg,
                                       uint8_t level) {
  MarkShape m;
  m.st = SquarePolygon(cs, ct, side, angleDeg);
  m.level = level;
  scene->shapes.push_back(m);
  return GridOrder(m.st);
}

std::vector<float> MarkScene_AddNestedSquare(MarkScene* scene, float cs, float ct, float side, float innerRatio,
                                             float angleDeg, uint8_t level) {
  std::vector<float> outer = MarkScene_AddSquare(scene, cs, ct, side, angleDeg, level);
  MarkScene_AddSquare(scene, cs, ct, side * innerRatio, angleDeg, scene->ground);
  return outer;
}

void MarkScene_AddDisc(MarkScene* scene, float cs, float ct, float radius, uint8_t level) {
  MarkShape m;
  m.kind = MarkShape::kDisc;
  m.cs = cs;
  m.ct = ct;
  m.radius = radius;
  m.level = level;
  scene->shapes.push_back(m);
}

void MarkScene_AddChecker(MarkScene* scene, float cs, float ct, float side, bool flip, uint8_t level) {
  const float h = 0.5f * side;
  if (!flip) {
    MarkScene_AddSquare(scene, cs - h, ct - h, side, 0.0f, level);
    MarkScene_AddSquare(scene, cs + h, ct + h, side, 0.0f, level);
  } else {
    MarkScene_AddSquare(scene, cs + h, ct - h, side, 0.0f, level);
    MarkScene_AddSquare(scene, cs - h, ct + h, side, 0.0f, level);
  }
}

void MarkScene_AddStripe(MarkScene* scene, float s0, float t0, float s1, float t1, float w, uint8_t level) {
  const float ds = s1 - s0, dt = t1 - t0, len = std::hypot(ds, dt);
  if (!(len > 0.0f)) return;
  const float ns = -dt / len * 0.5f * w, nt = ds / len * 0.5f * w;
  MarkShape m;
  m.st = {s0 + ns, t0 + nt, s1 + ns, t1 + nt, s1 - ns, t1 - nt, s0 - ns, t0 - nt};
  m.level = level;
  scene->shapes.push_back(m);
}

void MarkScene_AddDotField(MarkScene* scene, float cs, float ct, int32_t cols, int32_t rows, float pitch, float r,
                           uint8_t level) {
  for (int32_t j = 0; j < rows; ++j)
    for (int32_t i = 0; i < cols; ++i) MarkScene_AddDisc(scene, cs + i * pitch, ct + j * pitch, r, level);
}

bool MarkScene_Project(const MarkScene& scene, float s, float t, float* row, float* col) {
  float K[9], D[8], r[3], T[3];
  std::copy(scene.cam.K, scene.cam.K + 9, K);
  std::copy(scene.cam.D, scene.cam.D + 8, D);
  std::copy(scene.cam.r, scene.cam.r + 3, r);
  std::copy(scene.cam.T, scene.cam.T + 3, T);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(scene.cam.model, &mr, &mT, &mK, &mD, &fn, &ctx);
  if (fn == nullptr) return false;
  float w[3];
  for (int k = 0; k < 3; ++k) w[k] = scene.groundOrigin[k] + s * scene.axisS[k] + t * scene.axisT[k];
  float u = 0.0f, v = 0.0f;
  if (fn(scene.cam.model, &ctx, &u, &v, scene.cam.slot, w[0], w[1], w[2]) == 0) return false;
  *row = v;
  *col = u;
  return u >= 0.0f && v >= 0.0f && u <= scene.width - 1 && v <= scene.height - 1;
}

bool MarkScene_ProjectAll(const MarkScene& scene, const std::vector<float>& st, std::vector<float>* points) {
  points->assign(st.size(), 0.0f);
  bool all = true;
  for (size_t i = 0; i + 1 < st.size(); i += 2)
    all = MarkScene_Project(scene, st[i], st[i + 1], &(*points)[i], &(*points)[i + 1]) && all;
  return all;
}

void MarkScene_Render(const MarkScene& scene, const RenderOptions& opt, FloatImage* out) {
  TargetSpec ground;
  ground.kind = TargetKind::kCustom;
  ground.extentS = ground.extentT = 2.0f * kGroundHalf;
  ground.margin = 0.0f;
  ground.light = scene.ground;
  for (int k = 0; k < 3; ++k) {
    ground.axisS[k] = scene.axisS[k];
    ground.axisT[k] = scene.axisT[k];
    ground.origin[k] = scene.groundOrigin[k] - kGroundHalf * (scene.axisS[k] + scene.axisT[k]);
  }
  const std::vector<MarkShape>* shapes = &scene.shapes;
  const float groundLevel = scene.ground;
  ground.shade = [shapes, groundLevel](float s, float t) {
    s -= kGroundHalf;
    t -= kGroundHalf;
    float level = groundLevel;
    for (const MarkShape& m : *shapes) {
      const bool in = m.kind == MarkShape::kDisc
                          ? (s - m.cs) * (s - m.cs) + (t - m.ct) * (t - m.ct) <= m.radius * m.radius
                          : InsideConvex(m.st, s, t);
      if (in) level = m.level;
    }
    return level;
  };
  RenderOptions o = opt;
  o.width = scene.width;
  o.height = scene.height;
  o.background = scene.ground;
  const std::vector<uint8_t> grey = Scene_RenderGrey(scene.cam, ground, o);
  out->data.resize(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) out->data[i] = grey[i] / 255.0f;
  out->m = Matrix{scene.width, scene.height, out->data.data()};
}
