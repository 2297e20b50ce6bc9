#include "camera/view_source_maps.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <vector>

#include "camera/grid_lut_file.h"
#include "camera/rotation.h"
#include "camera/view_map_repair.h"
#include "camera/view_point_mapping.h"
#include "camera/view_virtual.h"
#include "frame/global_variables.h"
#include "frame/geometry_utils.h"
#include "frame/numeric_constants.h"

namespace {

// Map pair of one build: owned (freed here unless released to the caller)
// or borrowed from per-thread buffers kept between builds, for builds whose
// maps never leave the call (no fresh pages to fault in every time).
struct MapPair {
  Matrix x{0, 0, nullptr}, y{0, 0, nullptr};
  bool owned = false;
  ~MapPair() {
    if (!owned) return;
    delete[] x.data;
    delete[] y.data;
  }
  // fill: start every element at -2 (builders that write every element
  // skip it).
  bool Alloc(int32_t w, int32_t h, bool fill = true, bool keep = false) {
    if (w < 1 || h < 1) return false;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (keep) {
      thread_local std::vector<float> keptX, keptY;
      if (keptX.size() < n) {
        keptX.resize(n);
        keptY.resize(n);
      }
      x = Matrix{w, h, keptX.data()};
      y = Matrix{w, h, keptY.data()};
    } else {
      owned = true;
      x = Matrix{w, h, new (std::nothrow) float[n]};
      y = Matrix{w, h, new (std::nothrow) float[n]};
      if (x.data == nullptr || y.data == nullptr) return false;
    }
    if (fill)
      for (size_t i = 0; i < n; ++i) x.data[i] = y.data[i] = -2.0f;
    return true;
  }
  void Release(Matrix* ox, Matrix* oy) {
    *ox = x;
    *oy = y;
    x.data = y.data = nullptr;
  }
};

// Grid positions 0, step, 2 step, ... and the last index.
template <typename F>
void ForGrid(int32_t n, int32_t step, F f) {
  if (n < 1) return;
  for (int32_t i = 0;; i += step) {
    const int32_t p = i < n - 1 ? i : n - 1;
    f(p);
    if (p == n - 1) break;
  }
}

void Put(Matrix* mx, Matrix* my, int32_t c, int32_t r, float x, float y) {
  const long i = static_cast<long>(r) * mx->cols + c;
  mx->data[i] = x;
  my->data[i] = y;
}

float Pow15(float v) { return v > 0.0f ? std::pow(v, 1.5f) : 0.0f; }

float SuperEllipse(float a, float b, float c) {
  return std::pow((std::pow(b, 8.0f) + std::pow(a, 8.0f)) * std::pow(c, 4.0f), 0.125f);
}

// Common walk of the undistorted builders: view ray of every grid pixel,
// shaped by the type, to the camera picture.
template <typename Shape>
void BuildUndist(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mx, Matrix* my, Shape shape) {
  float K[9];
  memcpy(K, b->cam.K, sizeof K);
  K[5] += b->cyLift;
  float D[8];
  memcpy(D, b->cam.D, sizeof D);
  Matrix Km{3, 3, K}, Dm{8, 1, D};
  const float sn = std::sin(b->rollRad), cs = std::cos(b->rollRad);
  const int32_t W = b->width, H = b->height;
  ForGrid(H, 8, [&](int32_t r) {
    ForGrid(W, 8, [&](int32_t c) {
      const int32_t cc = b->flip ? W - 1 - c : c;
      const float dx = (static_cast<float>(cc) - b->cx) + b->xShift;
      const float dy = ((static_cast<float>(r) - b->cy) + b->yShift) * b->heightWidthRatio;
      const float u = cs * dx - sn * dy;
      const float v = cs * dy + sn * dx;
      float cu, cv;
      View_DirectionSplit(u, v, &cu, &cv);
      const float theta = std::atan(std::sqrt(u * u + v * v) / b->focal) / b->invAngleDivisor;
      float ts, dirX, dirY;
      shape(r, theta, cu, cv, &ts, &dirX, &dirY);
      float sx = -2.0f, sy = -2.0f;
      CameraModel_UndistPointToImage(static_cast<int32_t>(b->cam.model), &Km, &Dm, &sx, &sy,
                                     b->cam.lensSlot, ts, dirX, dirY);
      if (sx >= 1.0f && sx <= static_cast<float>(camW - 1) && sy >= 1.0f &&
          sy <= static_cast<float>(camH - 1))
        Put(mx, my, c, r, sx, sy);
      else
        Put(mx, my, c, r, -2.0f, -2.0f);
    });
  });
  ViewMap_Repair8(mx, my);
}

bool KeepInside(float x, float y, int32_t camW, int32_t camH) {
  return x >= 1.0f && x <= static_cast<float>(camW - 2) && y >= 1.0f && y <= static_cast<float>(camH - 2);
}

void ProjectorOf(const ViewCameraRecord& cam, ProjectPointFn* fn, ProjectionContext* ctx) {
  Matrix R{3, 1, const_cast<float*>(cam.R)}, T{3, 1, const_cast<float*>(cam.T)};
  Matrix K{3, 3, const_cast<float*>(cam.K)}, D{8, 1, const_cast<float*>(cam.D)};
  *fn = nullptr;
  CameraModel_ProjectPoint(static_cast<int32_t>(cam.model), &R, &T, &K, &D, fn, ctx);
}

bool HoleFillOn() { return gv().CutIfFill != 0; }

}  // namespace

void UndistView_BuildMapsType1(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mx,
                               Matrix* my) {
  BuildUndist(b, camW, camH, mx, my,
              [b](int32_t, float theta, float cu, float cv, float* ts, float* dirX, float* dirY) {
                const float a = cu * theta, bb = cv * theta;
                const float e = SuperEllipse(a, bb, bb);
                const float q = a * a * e;
                const float s = std::fmax(0.0f, 0.1f - bb);
                const float p = b->sideWarp < 0.0f ? std::pow(s, 2.5f) : s * s;
                const float w = bb >= 0.0f ? b->lowerWarp * q * 0.1f : b->upperWarp * q * 0.12f;
                *ts = theta;
                *dirX = (b->sideWarp * p * 0.15f + 1.0f) * (b->sideWarpLinear * s * 0.1f + 1.0f) * cu;
                *dirY = (1.0f - w) * cv;
              });
}

void UndistView_BuildMapsType3(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mx,
                               Matrix* my) {
  const float H = static_cast<float>(b->height);
  BuildUndist(b, camW, camH, mx, my,
              [b, H](int32_t r, float theta, float cu, float cv, float* ts, float* dirX, float* dirY) {
                const float qv = -(static_cast<float>(r) - 0.45f * H) / (1.25f * H);
                *ts = qv >= 0.0f ? (1.0f - qv * qv * 0.14f) * theta : theta;
                const float bb = cv * theta;
                float s = (0.1f - bb) * 0.5f, lin;
                if (s >= 0.0f) {
                  lin = s * 0.1f;
                } else {
                  s = 0.0f;
                  lin = 0.0f;
                }
                const float p = std::pow(s, 2.5f);
                *dirX = (b->sideWarpLinear * p * 0.15f + 1.0f) * (b->sideWarp * lin + 1.0f) * cu;
                const float a = theta * *dirX;
                const float e = SuperEllipse(a, bb, a);
                *dirY = bb < 0.0f ? cv * (1.0f - b->upperWarp * bb * bb * e * 0.12f) : cv;
              });
}

void UndistView_BuildMapsType4(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mx,
                               Matrix* my) {
  BuildUndist(b, camW, camH, mx, my,
              [b](int32_t, float theta, float cu, float cv, float* ts, float* dirX, float* dirY) {
                const float g = cv * theta <= -0.1f ? 1.0f : ((1.0f - cv * theta) / 1.1f) * 0.3f + 0.7f;
                *ts = std::pow(theta, g);
                const float a = cu * *ts, bb = cv * *ts;
                const float e = SuperEllipse(a, bb, bb);
                const float h = bb - 0.1f <= 0.0f ? (bb - 0.1f) * (bb - 0.1f) * 0.15f : 0.0f;
                const float w = bb >= 0.0f ? b->lowerWarp * a * a * 0.1f : b->upperWarp * e * a * a * 0.12f;
                *dirX = cu * (b->sideWarp * h + 1.0f);
                *dirY = cv * (1.0f - w);
              });
}

void UndistView_BuildCurvedMaps(const UndistOB* view, UndistViewBlock* b) {
  Matrix* mx = &b->mapX;
  Matrix* my = &b->mapY;
  const int32_t W = b->width, H = b->height;
  const int32_t camW = view->frameWidth / 2, camH = view->frameHeight / 2;
  const long n = static_cast<long>(W) * H;
  for (long i = 0; i < n; ++i) mx->data[i] = my->data[i] = -2.0f;
  if (H < 2 || b->pointFunction == nullptr) return;
  const float Hm1 = static_cast<float>(H - 1);

  // Source point of the view ray of (column cc, row r) with row term rt.
  auto ray = [&](int32_t cc, int32_t r, int32_t r0, float* sx, float* sy) {
    const float k = 1.0f - static_cast<float>(r + r0) / Hm1;
    const float t = k * k;
    const float ty = ((b->yShift + b->heightWidthRatio * (static_cast<float>(r) - b->halfHeight) + 0.0001f) /
                      b->focal2) * b->sign;
    const float tx = ((static_cast<float>(cc) - b->halfWidth) + b->xShift + 0.0001f) / b->focal2;
    const float rvec[3] = {(0.25f * t + 0.25f) * kPi * b->sign, b->rollRad * b->sign, 0.0f};
    float Q[9];
    RodriguesArr(rvec, Q, nullptr);
    const float* T = b->cam.T;
    float cT[3];
    for (int i = 0; i < 3; ++i) cT[i] = std::fma(Q[3 * i + 2], T[2], std::fma(Q[3 * i + 1], T[1], Q[3 * i] * T[0]));
    const float phi = std::atan(std::sqrt(tx * tx + ty * ty));
    const float rho = std::tan(phi / b->invAngleDivisor);
    float cu, cv;
    View_DirectionSplit(tx, ty, &cu, &cv);
    const float d[3] = {rho * cu, rho * cv / (t + 1.0f), 1.0f};
    float qd[3];
    for (int i = 0; i < 3; ++i) qd[i] = std::fma(Q[3 * i + 2], d[2], std::fma(Q[3 * i + 1], d[1], Q[3 * i] * d[0]));
    const float lambda = std::fabs((b->sign * -800000.0f + cT[1]) / qd[1]);
    *sx = -2.0f;
    *sy = -2.0f;
    b->pointFunction(static_cast<int32_t>(b->cam.model), &b->pointContext, sx, sy, b->cam.lensSlot,
                     lambda * qd[0] - cT[0], lambda * qd[1] - cT[1], lambda * qd[2] - cT[2]);
  };

  const int32_t c0 = b->flip ? (W - 1) - W / 2 : W / 2;
  int32_t r0 = H;
  for (int32_t r = 0; r < H; ++r) {
    float sx, sy;
    ray(c0, r, 0, &sx, &sy);
    if (sx > 4.0f && sx < static_cast<float>(camW - 2) && sy > 4.0f && sy < static_cast<float>(camH - 2)) {
      r0 = r;
      break;
    }
  }
  b->yShift += static_cast<float>(r0) * b->heightWidthRatio;
  b->firstRow = r0;
  ForGrid(H, 8, [&](int32_t r) {
    ForGrid(W, 8, [&](int32_t c) {
      const int32_t cc = b->flip ? W - 1 - c : c;
      float sx, sy;
      ray(cc, r, r0, &sx, &sy);
      if (KeepInside(sx, sy, camW, camH))
        Put(mx, my, c, r, sx, sy);
      else
        Put(mx, my, c, r, -2.0f, -2.0f);
    });
  });
  ViewMap_Repair8(mx, my);

  // Row map: for a camera pixel (in half resolution) the view row that
  // shows it, for the point mapping of this view type.
  Matrix* rm = &b->rowMap;
  const int32_t W4 = rm->cols, H4 = rm->rows;
  for (long i = 0; i < static_cast<long>(W4) * H4; ++i) rm->data[i] = -2.0f;
  const float rowScale = 0.8f * static_cast<float>(H) / static_cast<float>(view->frameHeight / 2);
  for (int32_t r = 0; r < H; r += 2) {
    for (int32_t c = 0; c < W; c += 2) {
      const long i = static_cast<long>(r) * W + c;
      if (!(mx->data[i] >= 0.0f) || !(my->data[i] >= 0.0f)) continue;
      const float sx = mx->data[i] * 0.5f, sy = my->data[i] * 0.5f;
      const int32_t ix = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(sx)) & 0xFFFCu);
      const int32_t iy = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(sy)) & 0xFFFCu);
      if (ix >= W4 || iy >= H4) continue;
      rm->data[static_cast<long>(iy) * W4 + ix] = static_cast<float>(r) - (sy - static_cast<float>(iy)) * rowScale;
    }
  }
  float* m = rm->data;
  auto at = [&](int32_t r, int32_t c) -> float& { return m[static_cast<long>(r) * W4 + c]; };
  for (int32_t c = 0; c < W4; c += 4)
    for (int32_t r = 2; r < H4 - 2; r += 4)
      if (at(r - 2, c) > 0.0f && at(r + 2, c) > 0.0f) at(r, c) = (at(r - 2, c) + at(r + 2, c)) * 0.5f;
  for (int32_t r = 0; r < H4; r += 2)
    for (int32_t c = 2; c < W4 - 2; c += 4)
      if (at(r, c - 2) >= 0.0f && at(r, c + 2) >= 0.0f) at(r, c) = (at(r, c - 2) + at(r, c + 2)) * 0.5f;
  for (int32_t c = 0; c < W4; c += 2)
    for (int32_t r = 1; r < H4 - 1; r += 2)
      if (at(r - 1, c) > 0.0f && at(r + 1, c) > 0.0f) at(r, c) = (at(r - 1, c) + at(r + 1, c)) * 0.5f;
  for (int32_t r = 0; r < H4; ++r)
    for (int32_t c = 1; c < W4 - 1; c += 2)
      if (at(r, c - 1) >= 0.0f && at(r, c + 1) >= 0.0f) at(r, c) = (at(r, c - 1) + at(r, c + 1)) * 0.5f;
}

namespace {

// Column position X and row shift of the sphere and wall builders.
void EdgeColumn(const CutViewBlock* c, int32_t col, float* X, float* rowShift) {
  const int32_t W = c->width;
  const float Wm1 = static_cast<float>(W - 1);
  if (c->camera == 3) {
    const float cp = static_cast<float>(W - 1 - col);
    const float p1 = Pow15(c->extra1 * cp / Wm1), p2 = Pow15(c->extra2 * cp / Wm1);
    *X = (static_cast<float>(W) - cp * (p1 + 1.0f)) - 1.0f;
    *rowShift = static_cast<float>(col) - ((static_cast<float>(W) - cp * (p2 + 1.0f)) - 1.0f);
  } else {
    const float cf = static_cast<float>(col);
    const float p1 = Pow15(c->extra1 * cf / Wm1), p2 = Pow15(c->extra2 * cf / Wm1);
    *X = (p1 + 1.0f) * cf;
    *rowShift = (p2 + 1.0f) * cf - cf;
  }
}

}  // namespace

void CutView_BuildMapsSphere(const UndistOB* view, CutViewBlock* c, Matrix* mx, Matrix* my) {
  const GlobalVariables& g = gv();
  if (c->tableProjection) LoadTableUser(0);
  ProjectPointFn fn;
  ProjectionContext ctx;
  ProjectorOf(c->cam, &fn, &ctx);
  if (fn == nullptr) return;
  const int32_t camW = view->frameWidth / 2, camH = view->frameHeight / 2;
  const float Rs = c->farLimit;
  const float o[3] = {c->x0 + c->originRotated[0], c->y0 + c->originRotated[1], c->originRotated[2] - Rs};
  const float oo = o[0] * o[0] + o[1] * o[1] + o[2] * o[2];
  ForGrid(c->width, 8, [&](int32_t col) {
    float X, rowShift;
    EdgeColumn(c, col, &X, &rowShift);
    const float nx = (c->xShift + c->aspect * (X - c->colCentre)) / c->scale;
    ForGrid(c->height, 8, [&](int32_t r) {
      const float ny = ((static_cast<float>(r) - c->rowCentre) + c->yShift) / c->scale * c->sign;
      float d[3] = {nx, ny, 1.0f};
      if (c->tableProjection) {
        const float rho = std::sqrt(nx * nx + ny * ny);
        const int32_t index = static_cast<int32_t>(rho * 1000.0f + 0.5f);
        if (g.userTable1 == nullptr || (g.userTableValue > 0.0f && rho > g.userTableValue) || index < 0 ||
            index >= g.userTable1Count)
          return;
        const float alpha = g.userTable1[index];
        const float tau = std::tan(alpha);
        float cu, cv;
        View_DirectionSplit(nx, ny, &cu, &cv);
        if (alpha <= 1.570795f) {
          d[0] = tau * cu;
          d[1] = tau * cv;
        } else {
          // Behind the camera plane a zero component counts as negative.
          if (nx == 0.0f) cu = -std::fabs(cu);
          if (ny == 0.0f) cv = -std::fabs(cv);
          d[0] = -tau * cu;
          d[1] = -tau * cv;
          d[2] = -1.0f;
        }
      }
      float e[3];
      for (int i = 0; i < 3; ++i)
        e[i] = std::fma(c->rotationM[3 * i + 2], d[2], std::fma(c->rotationM[3 * i + 1], d[1], c->rotationM[3 * i] * d[0]));
      const float qa = e[0] * e[0] + e[1] * e[1] + e[2] * e[2];
      const float qb = -2.0f * (o[0] * e[0] + o[1] * e[1] + o[2] * e[2]);
      const float qc = oo - Rs * Rs;
      float r1 = 0.0f, r2 = 0.0f;
      const float lambda = SolveQuadratic(&r1, &r2, qa, qb, qc) > 0 ? r1 : 0.0f;
      float sx = -2.0f, sy = -2.0f;
      fn(static_cast<int32_t>(c->cam.model), &ctx, &sx, &sy, c->cam.lensSlot,
         e[0] * lambda - c->originRotated[0], e[1] * lambda - c->originRotated[1],
         e[2] * lambda - c->originRotated[2] - 0.3f * rowShift);
      if (KeepInside(sx, sy, camW, camH))
        Put(mx, my, col, r, sx, sy);
      else
        Put(mx, my, col, r, -2.0f, -2.0f);
    });
  });
  ViewMap_Repair8(mx, my);
}

void CutView_BuildMapsWall(const UndistOB* view, CutViewBlock* c, Matrix* mx, Matrix* my) {
  ProjectPointFn fn;
  ProjectionContext ctx;
  ProjectorOf(c->cam, &fn, &ctx);
  if (fn == nullptr) return;
  const int32_t camW = view->frameWidth / 2, camH = view->frameHeight / 2;
  const int32_t W = c->width, H = c->height;
  const float side = c->camera == 3 ? -800.0f : 800.0f;
  const float Hm1 = static_cast<float>(H - 1);
  ForGrid(H, 2, [&](int32_t r) {
    ForGrid(W, 2, [&](int32_t col) {
      float X, rowShift;
      EdgeColumn(c, col, &X, &rowShift);
      float u = (c->xShift + X) / static_cast<float>(W);
      if (c->camera == 3) u -= 1.0f;
      const float rf = static_cast<float>(r);
      const float px = side + u * 160.0f * c->focalRef * c->aspect * 6000.0f / static_cast<float>(W) - 3.0f * c->rz * rf;
      const float py = c->cutType == 4 ? c->depthPlane - 0.5f * rowShift : c->depthPlane + 0.5f * rowShift;
      const float pz = -(1480.0f * c->focalRef / static_cast<float>(H)) *
                           (Hm1 - (c->yShift + (0.9f + 0.1f * rf / Hm1) * rf)) -
                       0.3f * rowShift;
      float sx = -2.0f, sy = -2.0f;
      fn(static_cast<int32_t>(c->cam.model), &ctx, &sx, &sy, c->cam.lensSlot, px, py, pz);
      if (KeepInside(sx, sy, camW, camH))
        Put(mx, my, col, r, sx, sy);
      else
        Put(mx, my, col, r, -2.0f, -2.0f);
    });
  });
  CutView_RepairMaps(mx, my);
}

void CutView_BuildMapsRotated(UndistOB* view, CutViewBlock* c, Matrix* mx, Matrix* my) {
  int32_t side;
  if (c->cutType == 5)
    side = c->camera == 3 ? 3 : 4;
  else
    side = c->camera == 3 ? 1 : 2;
  const float f[6] = {c->focalRef, c->aspect, c->xShift, c->yShift, 15.0f * c->extra1, 15.0f * c->extra2};
  SideView_BuildMap(&view->viewParam, side, c->width, c->height, c->rotationM, 2, mx, my, f);
  CutView_RepairMaps(mx, my);
}

void CutView_BuildMapsParam(CutViewBlock* c, Matrix* mx, Matrix* my) {
  VirtualView_BuildMap(&c->virt, 2, mx, my);
  CutView_RepairMaps(mx, my);
}

namespace {

// Builds the maps of the camera's undistorted view into p. 1 own maps, 2
// the block's type-2 maps (headers copied), 0 no builder or no memory.
int BuildUndistMaps(UndistOB* view, int32_t camera, MapPair* p, Matrix* ox, Matrix* oy, bool keep) {
  UndistViewBlock* b = &view->undist[View_CameraSlot(camera)];
  const int32_t camW = view->frameWidth / 2, camH = view->frameHeight / 2;
  switch (b->viewType) {
    case 1:
    case 3:
    case 4:
      // These builders write every element (grid, then map repair).
      if (!p->Alloc(b->width, b->height, false, keep)) return 0;
      if (b->viewType == 1) UndistView_BuildMapsType1(b, camW, camH, &p->x, &p->y);
      if (b->viewType == 3) UndistView_BuildMapsType3(b, camW, camH, &p->x, &p->y);
      if (b->viewType == 4) UndistView_BuildMapsType4(b, camW, camH, &p->x, &p->y);
      *ox = p->x;
      *oy = p->y;
      return 1;
    case 2:
      if (b->mapX.data == nullptr) return 0;
      *ox = b->mapX;
      *oy = b->mapY;
      return 2;
    default:
      return 0;
  }
}

bool BuildCutMaps(UndistOB* view, int32_t camera, MapPair* p) {
  CutViewBlock* c = &view->cut[View_CameraSlot(camera)];
  if (!p->Alloc(c->width, c->height)) return false;
  const int32_t t = c->cutType;
  if (t >= 1 && t <= 3) CutView_BuildMapsSphere(view, c, &p->x, &p->y);
  else if (t == 4 || t == 6) CutView_BuildMapsWall(view, c, &p->x, &p->y);
  else if (t == 5 || t == 7) CutView_BuildMapsRotated(view, c, &p->x, &p->y);
  else if (t >= 11) CutView_BuildMapsParam(c, &p->x, &p->y);
  return true;
}

struct WideConstants {
  float st, leftBase, rightBase, foldRate, yP, heightScale;
};

bool BuildWideFold(UndistOB* view, int32_t camera, int32_t W, int32_t H, float f0, float f4, float f5,
                   bool dividers, MapPair* p) {
  if (H < 2 || !p->Alloc(W, H)) return false;
  const int32_t slot = camera == 1 ? 0 : 1;
  ViewCameraRecord cam{};
  cam.model = view->model[slot];
  cam.lensSlot = view->lensSlot[slot];
  memcpy(cam.K, view->params.K[slot], sizeof cam.K);
  memcpy(cam.D, view->params.D[slot], sizeof cam.D);
  memcpy(cam.R, view->params.R[slot], sizeof cam.R);
  memcpy(cam.T, view->params.T[slot], sizeof cam.T);
  ProjectPointFn fn;
  ProjectionContext ctx;
  ProjectorOf(cam, &fn, &ctx);
  if (fn == nullptr) return true;
  const float deg30 = 0.5235988f, deg25 = 0.43633235f;
  const WideConstants k =
      slot == 0 ? WideConstants{-0.34202015f, -deg30, deg30, -deg25, cam.T[1] + 340.0f, f5 * 0.8f}
                : WideConstants{0.34202015f, deg30, -deg30, deg25, cam.T[1] - 340.0f, f5};
  const int32_t camW = view->frameWidth / 2, camH = view->frameHeight / 2;
  const float Wf = static_cast<float>(W), Hf = static_cast<float>(H);
  const float kx = f0 * 3047.0f / Wf;
  const float kz = ((Wf * k.heightScale / Hf) / 2.2f) * kx;
  const float kd = 1120.0f / Wf;
  const float h0 = f4 * 10.0f;
  const int32_t cL = (W / 4) & ~1, cR = (3 * W / 4) & ~1;
  const float halfW = Wf / 2.0f;
  for (int32_t r = 0; r <= H + 7; r += 8) {
    const int32_t rr = r < H - 1 ? r : H - 1;
    const float rf = static_cast<float>(rr);
    const float tr = std::fmax(0.0f, (0.7f * Hf - std::fmin(rf, 0.7f * Hf)) / Hf);
    const float k1 = Pow15(tr) * 0.5f + 0.8f;
    const float k2 = (1.0f - std::fmin(rf, Hf / 2.0f) / (Hf - 1.0f)) * 0.56f;
    const float phi = rf * k.foldRate / (Hf - 1.0f);
    const float h = h0 + kz * (rf - Hf);
    auto emit = [&](int32_t c, float X, float depth, float height) {
      const float wx = X;
      const float wy = depth * 0.9396926f - height * k.st - k.yP;
      const float wz = height * 0.9396926f + k.st * depth;
      float sx = -2.0f, sy = -2.0f;
      fn(static_cast<int32_t>(cam.model), &ctx, &sx, &sy, cam.lensSlot, wx, wy, wz);
      if (sx > 1.0f && sx < static_cast<float>(camW - 2) && sy > 1.0f && sy < static_cast<float>(camH - 2))
        Put(&p->x, &p->y, c, rr, sx, sy);
      else
        Put(&p->x, &p->y, c, rr, -2.0f, -2.0f);
    };
    for (int32_t c = cL; c < cR; c += 2) emit(c, k1 * (static_cast<float>(c) - halfW) * kx, 0.0f, h);
    const float xeL = k1 * (static_cast<float>(cL) - halfW) * kx;
    const float aL = phi + k.leftBase;
    for (int32_t c = 0; c < cL; c += 2) {
      const float d = k1 * (static_cast<float>(c) - halfW) * kx - xeL;
      emit(c, xeL + std::cos(aL) * d, std::sin(aL) * d, h + k2 * static_cast<float>(cL - c) * kd);
    }
    const float xeR = k1 * (static_cast<float>(cR) - halfW) * kx;
    const float aR = k.rightBase - phi;
    for (int32_t c = cR; c <= W + 1; c += 2) {
      const int32_t cc = c < W - 1 ? c : W - 1;
      const float d = k1 * (static_cast<float>(cc) - halfW) * kx - xeR;
      emit(cc, xeR + std::cos(aR) * d, std::sin(aR) * d, h + k2 * static_cast<float>(cc - cR) * kd);
      if (cc == W - 1) break;
    }
    if (rr == H - 1) break;
  }
  ViewMap_RepairRowsStep2(&p->x, &p->y, 8);
  ViewMap_RepairCols8(&p->x, &p->y);
  if (dividers) {
    for (int32_t r = 0; r < H; ++r)
      for (int32_t c : {cL - 1, cL, cL + 1, cR - 1, cR, cR + 1})
        if (c >= 0 && c < W) Put(&p->x, &p->y, c, r, 1.0f, 3.0f);
  }
  return true;
}

bool BuildWidePlane(UndistOB* view, int32_t camera, int32_t W, int32_t H, float f0, float f3, float f4,
                    float f5, MapPair* p) {
  if (!p->Alloc(W, H)) return false;
  const int32_t slot = camera == 1 ? 0 : 1;
  ViewCameraRecord cam{};
  cam.model = view->model[slot];
  cam.lensSlot = view->lensSlot[slot];
  memcpy(cam.K, view->params.K[slot], sizeof cam.K);
  memcpy(cam.D, view->params.D[slot], sizeof cam.D);
  memcpy(cam.R, view->params.R[slot], sizeof cam.R);
  memcpy(cam.T, view->params.T[slot], sizeof cam.T);
  ProjectPointFn fn;
  ProjectionContext ctx;
  ProjectorOf(cam, &fn, &ctx);
  if (fn == nullptr) return true;
  const float sign = slot == 0 ? 1.0f : -1.0f;
  const float Wf = static_cast<float>(W), Hf = static_cast<float>(H);
  const float py = sign * (-(500.0f - f4 * 10.0f) - static_cast<float>(view->carBoxLength) * 0.5f);
  const float zScale = -((1280.0f / f0) * f5 / Hf);
  const float xScale = (460.0f / f0) * (2400.0f / (Wf / kPi));
  const float maxX = static_cast<float>(view->frameWidth / 2 - 2);
  const float maxY = static_cast<float>(view->frameHeight / 2 - 2);
  for (int32_t c = 0; c < W; ++c) {
    const float a = ((static_cast<float>(c) - Wf * 0.5f + f3) / Wf) * 1.2f;
    const float g = a <= 0.0f ? std::sqrt(a + 1.0f) - 1.0f : 1.0f - std::sqrt(1.0f - a);
    for (int32_t r = 0; r < H; ++r) {
      float sx = -2.0f, sy = -2.0f;
      fn(static_cast<int32_t>(cam.model), &ctx, &sx, &sy, cam.lensSlot, xScale * g, py,
         (Hf - 1.0f - static_cast<float>(r)) * zScale);
      if (sx >= 1.0f && sx <= maxX && sy >= 1.0f && sy <= maxY)
        Put(&p->x, &p->y, c, r, sx, sy);
      else
        Put(&p->x, &p->y, c, r, -2.0f, -2.0f);
    }
  }
  return true;
}

bool BuildWide(UndistOB* view, int32_t camera, int32_t W, int32_t H, int32_t mode, float f0, float f3,
               float f4, float f5, bool dividers, MapPair* p) {
  if (mode == 1) return BuildWideFold(view, camera, W, H, f0, f4, f5, dividers, p);
  if (mode == 2) return BuildWidePlane(view, camera, W, H, f0, f3, f4, f5, p);
  return false;
}

}  // namespace

int UndistView_GenerateLUT(UndistOB* view, int32_t camera, uint32_t* out) {
  MapPair p;
  Matrix mx, my;
  const int kind = BuildUndistMaps(view, camera, &p, &mx, &my, true);
  if (kind == 0) return 0;
  if (HoleFillOn()) ViewMap_FillHoles(&mx, &my);
  ViewLUT_Encode(view->frameWidth, view->frameHeight, &mx, &my, camera, out);
  return 1;
}

int CutView_GenerateLUT(UndistOB* view, int32_t camera, uint32_t* out) {
  MapPair p;
  if (!BuildCutMaps(view, camera, &p)) return 0;
  if (HoleFillOn()) CutView_FillHoles(&p.x, &p.y, camera);
  ViewLUT_Encode(view->frameWidth, view->frameHeight, &p.x, &p.y, camera, out);
  return 1;
}

int WideView_GenerateLUT(UndistOB* view, int32_t camera, int32_t width, int32_t height, int32_t mode,
                         uint32_t* out, float f0, float, float, float f3, float f4, float f5) {
  MapPair p;
  if (!BuildWide(view, camera, width, height, mode, f0, f3, f4, f5, gv().advValue9 != 0, &p)) return 0;
  if (HoleFillOn()) ViewMap_FillHoles(&p.x, &p.y);
  ViewLUT_Encode(view->frameWidth, view->frameHeight, &p.x, &p.y, camera, out);
  return 1;
}

int UndistView_BuildMaps(UndistOB* view, int32_t camera, Matrix* mapX, Matrix* mapY) {
  MapPair p;
  Matrix mx, my;
  const int kind = BuildUndistMaps(view, camera, &p, &mx, &my, false);
  if (kind == 1) p.Release(mapX, mapY);
  if (kind == 2) {
    *mapX = mx;
    *mapY = my;
  }
  return kind;
}

int CutView_BuildMaps(UndistOB* view, int32_t camera, Matrix* mapX, Matrix* mapY) {
  MapPair p;
  if (!BuildCutMaps(view, camera, &p)) return 0;
  p.Release(mapX, mapY);
  return 1;
}

int UndistView_SaveGridLUT(UndistOB* view, int32_t camera, const char* path) {
  MapPair p;
  Matrix mx, my;
  if (BuildUndistMaps(view, camera, &p, &mx, &my, true) == 0) return 0;
  return GridLUT_WriteFile(&mx, &my, -1, path);
}

int CutView_SaveGridLUT(UndistOB* view, int32_t camera, const char* path) {
  MapPair p;
  if (!BuildCutMaps(view, camera, &p)) return 0;
  return GridLUT_WriteFile(&p.x, &p.y, -1, path);
}

int WideView_SaveGridLUT(UndistOB* view, int32_t camera, int32_t width, int32_t height, int32_t mode,
                         float scale, float shift, float distance, float heightScale, const char* path) {
  MapPair p;
  if (!BuildWide(view, camera, width, height, mode, scale, shift, distance, heightScale, false, &p)) return 0;
  return GridLUT_WriteFile(&p.x, &p.y, -1, path);
}
