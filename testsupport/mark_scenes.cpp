#include "testsupport/mark_scenes.h"

#include <algorithm>
#include <cmath>
#include <memory>

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

// Shape indices bucketed by their (s, t) boxes, each cell's list ascending.
// Boxes are widened by a millimetre so rounding at a shape's edge cannot
// drop a sample the exact test would take; a polygon without area (whose
// edge test holds along its whole line) goes into every cell.
struct ShapeGrid {
  float s0 = 0.0f, t0 = 0.0f, inv = 1.0f;
  int32_t nx = 0, ny = 0;
  std::vector<uint32_t> start, index;

  bool Cell(float s, float t, const uint32_t** first, const uint32_t** last) const {
    if (nx == 0) return false;
    const float fx = (s - s0) * inv, fy = (t - t0) * inv;
    if (!(fx >= 0.0f && fy >= 0.0f && fx < static_cast<float>(nx) && fy < static_cast<float>(ny))) return false;
    const size_t c = static_cast<size_t>(static_cast<int32_t>(fy)) * nx + static_cast<int32_t>(fx);
    *first = index.data() + start[c];
    *last = index.data() + start[c + 1];
    return true;
  }
};

ShapeGrid ShapeGrid_Make(const std::vector<MarkShape>& shapes) {
  ShapeGrid g;
  if (shapes.empty()) return g;
  constexpr float kWiden = 1.0f;
  struct Box {
    float s0, s1, t0, t1;
    bool everywhere;
  };
  std::vector<Box> boxes;
  float u0 = 1e30f, u1 = -1e30f, v0 = 1e30f, v1 = -1e30f;
  for (const MarkShape& m : shapes) {
    Box b{m.cs - m.radius, m.cs + m.radius, m.ct - m.radius, m.ct + m.radius, false};
    if (m.kind != MarkShape::kDisc) {
      b = Box{1e30f, -1e30f, 1e30f, -1e30f, false};
      double area = 0.0;
      const size_t n = m.st.size() / 2;
      for (size_t i = 0; i < n; ++i) {
        b.s0 = std::min(b.s0, m.st[2 * i]);
        b.s1 = std::max(b.s1, m.st[2 * i]);
        b.t0 = std::min(b.t0, m.st[2 * i + 1]);
        b.t1 = std::max(b.t1, m.st[2 * i + 1]);
        const size_t j = (i + 1) % n;
        area += static_cast<double>(m.st[2 * i]) * m.st[2 * j + 1] - static_cast<double>(m.st[2 * j]) * m.st[2 * i + 1];
      }
      b.everywhere = n < 3 || area == 0.0 || !(b.s1 - b.s0 < 1e7f && b.t1 - b.t0 < 1e7f);
    }
    b.s0 -= kWiden;
    b.s1 += kWiden;
    b.t0 -= kWiden;
    b.t1 += kWiden;
    if (!b.everywhere) {
      u0 = std::min(u0, b.s0);
      u1 = std::max(u1, b.s1);
      v0 = std::min(v0, b.t0);
      v1 = std::max(v1, b.t1);
    }
    boxes.push_back(b);
  }
  const bool anyEverywhere = std::any_of(boxes.begin(), boxes.end(), [](const Box& b) { return b.everywhere; });
  if (anyEverywhere || u0 > u1) {
    // One cell over everything: no culling, every shape in order.
    g.s0 = -1e30f;
    g.t0 = -1e30f;
    g.inv = 0.0f;
    g.nx = g.ny = 1;
    g.start = {0, static_cast<uint32_t>(shapes.size())};
    for (uint32_t k = 0; k < shapes.size(); ++k) g.index.push_back(k);
    return g;
  }
  const float side = std::max({(u1 - u0) / 256.0f, (v1 - v0) / 256.0f, 1.0f});
  g.s0 = u0;
  g.t0 = v0;
  g.inv = 1.0f / side;
  g.nx = static_cast<int32_t>((u1 - u0) / side) + 1;
  g.ny = static_cast<int32_t>((v1 - v0) / side) + 1;
  auto span = [&](float a0, float a1, float origin, int32_t n, int32_t* i0, int32_t* i1) {
    *i0 = std::clamp(static_cast<int32_t>(std::floor((a0 - origin) * g.inv)), 0, n - 1);
    *i1 = std::clamp(static_cast<int32_t>(std::floor((a1 - origin) * g.inv)), 0, n - 1);
  };
  std::vector<uint32_t> count(static_cast<size_t>(g.nx) * g.ny + 1, 0);
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t k = 0; k < boxes.size(); ++k) {
      int32_t x0, x1, y0, y1;
      span(boxes[k].s0, boxes[k].s1, g.s0, g.nx, &x0, &x1);
      span(boxes[k].t0, boxes[k].t1, g.t0, g.ny, &y0, &y1);
      for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) {
          const size_t c = static_cast<size_t>(y) * g.nx + x;
          if (pass == 0)
            ++count[c + 1];
          else
            g.index[count[c]++] = k;
        }
    }
    if (pass == 0) {
      for (size_t c = 1; c < count.size(); ++c) count[c] += count[c - 1];
      g.start = count;
      g.index.resize(count.back());
    }
  }
  return g;
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
  // Every sample tests only the shapes whose box holds it: the last shape
  // containing the sample paints it, as when all shapes are tested in order.
  const auto grid = std::make_shared<const ShapeGrid>(ShapeGrid_Make(scene.shapes));
  const std::vector<MarkShape>* shapes = &scene.shapes;
  const float groundLevel = scene.ground;
  ground.shade = [shapes, grid, groundLevel](float s, float t) {
    s -= kGroundHalf;
    t -= kGroundHalf;
    const uint32_t* first;
    const uint32_t* last;
    if (!grid->Cell(s, t, &first, &last)) return groundLevel;
    for (const uint32_t* k = last; k != first;) {
      const MarkShape& m = (*shapes)[*--k];
      const bool in = m.kind == MarkShape::kDisc
                          ? (s - m.cs) * (s - m.cs) + (t - m.ct) * (t - m.ct) <= m.radius * m.radius
                          : InsideConvex(m.st, s, t);
      if (in) return static_cast<float>(m.level);
    }
    return groundLevel;
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

std::vector<float> MarkScene_AddChessboard(MarkScene* scene, float s0, float t0, int32_t squaresX, int32_t squaresY,
                                           float side, uint8_t level) {
  for (int32_t j = 0; j < squaresY; ++j)
    for (int32_t i = 0; i < squaresX; ++i)
      if (((i + j) & 1) == 0) MarkScene_AddSquare(scene, s0 + (i + 0.5f) * side, t0 + (j + 0.5f) * side, side, 0.0f, level);
  std::vector<float> corners;
  for (int32_t j = 1; j < squaresY; ++j)
    for (int32_t i = 1; i < squaresX; ++i) {
      corners.push_back(s0 + i * side);
      corners.push_back(t0 + j * side);
    }
  return corners;
}

void MarkScene_World(const MarkScene& scene, float s, float t, float* x, float* y) {
  *x = scene.groundOrigin[0] + s * scene.axisS[0] + t * scene.axisT[0];
  *y = scene.groundOrigin[1] + s * scene.axisS[1] + t * scene.axisT[1];
}
