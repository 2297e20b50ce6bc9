// The 3-D LUT object: per-pixel bowl surface points, camera sources and
// side weights of the bowl view seen through its view matrix.
#include "surround/lut3d.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/numeric_constants.h"
#include "frame/smoothing1d.h"
#include "surround/view_matrix.h"
#include "toolkit/matrix.h"
#include "toolkit/transform3d.h"

namespace {

// The sampling step as the walks use it: a step beyond the largest side
// samples the same pixels (the first and the last), and keeps 2 * step and
// row + step inside 32 bits.
int32_t SampleStep(const LUT3DOB* lut) { return std::min(std::max(lut->step, 1), kLut3DMaxSide); }


constexpr float kEps = 1.1920929e-07f;

float Wrap(float a) {
  while (a < 0.0f) a += kTwoPi;
  while (a >= kTwoPi) a -= kTwoPi;
  return a;
}

// angle in [lo, hi), the interval taken across 2 pi when hi < lo; hi and the
// angle come back raised where that was needed.
bool InSpan(float lo, float* hi, float* angle) {
  if (*hi < lo) {
    *hi += kTwoPi;
    if (*angle < lo) *angle += kTwoPi;
  }
  return *angle >= lo && *angle < *hi;
}

// The ray and side record of the surface solves.
struct CastRay {
  double E[3];
  double D[3];
  double A2, B2, c, k;
};

// Newton's method on (t, X, Y): the ray point P = t D - E on the wall
// (rim false) or on the vertical rim, (X, Y) its rim point on the floor
// ellipse. 1 when converged within 16 steps.
int32_t SolveSurface(const CastRay& r, bool rim, double* pt, double* pX, double* pY) {
  double t = *pt, X = *pX, Y = *pY;
  for (int it = 0; it < 16; ++it) {
    const double Px = t * r.D[0] - r.E[0], Py = t * r.D[1] - r.E[1], Pz = t * r.D[2] - r.E[2];
    const double ex = Px - X, ey = Py - Y;
    const double f1 = r.B2 * X * X + r.A2 * Y * Y - r.A2 * r.B2;
    const double f2 = Y * Px - X * Py;
    double f3 = ex * ex + ey * ey;
    double j3t = 2.0 * (ex * r.D[0] + ey * r.D[1]);
    if (rim) {
      f3 -= r.k * r.c * r.c;
    } else {
      f3 += r.k * ((Pz + r.c) * (Pz + r.c) - r.c * r.c);
      j3t += 2.0 * r.k * (Pz + r.c) * r.D[2];
    }
    const double m[3][3] = {{0.0, 2.0 * r.B2 * X, 2.0 * r.A2 * Y},
                            {Y * r.D[0] - X * r.D[1], -Py, Px},
                            {j3t, -2.0 * ex, -2.0 * ey}};
    // Explicit inverse of the Jacobian.
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    if (det == 0.0 || !std::isfinite(det)) break;
    const double inv[3][3] = {{c00 / det, (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det,
                               (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det},
                              {c01 / det, (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det,
                               (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det},
                              {c02 / det, (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det,
                               (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det}};
    const double f[3] = {f1, f2, f3};
    double s[3];
    for (int i = 0; i < 3; ++i) s[i] = -(inv[i][0] * f[0] + inv[i][1] * f[1] + inv[i][2] * f[2]);
    t += s[0];
    X += s[1];
    Y += s[2];
    if (!std::isfinite(t) || !std::isfinite(X) || !std::isfinite(Y)) break;
    if (s[0] * s[0] + s[1] * s[1] + s[2] * s[2] < 0.001) {
      // The ray runs along -D from the eye: t > 0 lies behind the viewer.
      // The wall stands outside the floor on the point's side of it.
      const double qx = t * r.D[0] - r.E[0], qy = t * r.D[1] - r.E[1];
      if (t > 0.0 || X * qx + Y * qy < 0.0 || qx * qx + qy * qy < 0.999 * (X * X + Y * Y)) return 0;
      *pt = t;
      *pX = X;
      *pY = Y;
      return 1;
    }
  }
  return 0;
}

struct Quadrant {
  int32_t o0, p0, so, sp;
};
constexpr Quadrant kQuadrants[4] = {{-1, -1, -1, -1}, {0, -1, 1, -1}, {-1, 0, -1, 1}, {0, 0, 1, 1}};

enum RowState { kNone, kFloor, kWall };

}  // namespace

int32_t Init3DLut(LUT3DOB* lut, const char* path, int32_t outW, int32_t outH, const float shape[8]) {
  lut->outW = outW;
  lut->outH = outH;
  lut->shape[0] = {shape[0], shape[1], shape[2], shape[3]};
  lut->shape[1] = {shape[4], shape[5], shape[6], shape[7]};
  LutConfigInfo info{};
  if (path == nullptr) return 0;
  if (outW < 1 || outH < 1 || outW > kLut3DMaxSide || outH > kLut3DMaxSide ||
      static_cast<int64_t>(outW) * outH > static_cast<int64_t>(kLut3DMaxPixels)) {
    AvmLog("Init3DLut: output %d x %d out of range\n", outW, outH);
    return 0;
  }
  if (LoadLUTConfig(&info, &lut->params, path, nullptr) == 0) return 0;
  lut->quadW = info.quadWidth;
  lut->quadH = info.quadHeight;
  lut->carW = static_cast<float>(info.carWidth);
  lut->carL = static_cast<float>(info.carLength);
  for (int c = 0; c < 4; ++c) {
    lut->model[c] = info.model;
    lut->slot[c] = info.lensSlot[c];
  }
  CameraParamSet_SetHeaders(&lut->params, &lut->headers);
  BowlCameras_Setup(&lut->cams, &lut->headers, lut->model, lut->slot, lut->quadW, lut->quadH);
  const size_t n = static_cast<size_t>(outW) * outH;
  try {
    for (std::vector<float>* m : {&lut->mapY, &lut->mapX, &lut->mapZ}) m->assign(n, 0.0f);
    for (std::vector<int32_t>* m : {&lut->U1, &lut->V1, &lut->U0, &lut->V0, &lut->weight, &lut->weight2})
      m->assign(n, 0);
  } catch (const std::bad_alloc&) {
    // A size beyond memory: the object stays invalid with nothing held.
    UnInit3DLut(lut);
    return 0;
  }
  lut->valid = 1;
  return 1;
}

void Calc3DLut() {}

void UnInit3DLut(LUT3DOB* lut) {
  for (std::vector<float>* m : {&lut->mapY, &lut->mapX, &lut->mapZ}) std::vector<float>().swap(*m);
  for (std::vector<int32_t>* m : {&lut->U1, &lut->V1, &lut->U0, &lut->V0, &lut->weight, &lut->weight2})
    std::vector<int32_t>().swap(*m);
  lut->valid = 0;
}

void Lut3D_ProjectPoint(const LUT3DOB* lut, float* outX, float* outY, float x, float y, float z) {
  const float* m = lut->mvp;
  const float v[4] = {x, -y, -z, 1.0f};
  float r[4];
  for (int i = 0; i < 4; ++i) r[i] = m[4 * i] * v[0] + m[4 * i + 1] * v[1] + m[4 * i + 2] * v[2] + m[4 * i + 3] * v[3];
  *outX = r[0] / r[3];
  *outY = r[1] / r[3];
}

void Lut3D_SeamAngles(int32_t k, float* outFirst, float* outSecond, const float P[2], const float Q[2],
                      const float R[2]) {
  float* pair = gv().config.seamFraction + (k < 2 ? 0 : 2);
  float lo = pair[0], hi = pair[1];
  if (hi >= 0.9f) {
    hi = 0.9f;
    if (lo <= 0.1f) lo = 0.1f;
    else if (lo >= 0.84999996f) lo = 0.84999996f;
  } else {
    const float l = std::min(hi - 0.05f, std::max(lo, 0.1f));
    hi = std::max(l + 0.05f, hi);
    lo = l;
  }
  pair[0] = lo;
  pair[1] = hi;
  const float a1 = Wrap(std::atan2(P[1] - Q[1], P[0] - Q[0]));
  const float a2 = Wrap(std::atan2(P[1] - R[1], P[0] - R[0]));
  float span = a2 - a1;
  if (span < 0.0f) span += kTwoPi;
  float f, s;
  if (k == 1 || k == 2) {
    f = a1 + lo * span;
    s = a1 + hi * span;
  } else {
    f = a2 - lo * span;
    s = a2 - hi * span;
  }
  if (f < 0.0f) f += kTwoPi;
  if (s < 0.0f) s += kTwoPi;
  *outFirst = f;
  *outSecond = s;
}

void Lut3D_ProjectRefPoints(LUT3DOB* lut) {
  const float W = lut->carW, L = lut->carL;
  const float pts[7][2] = {{-W / 2, -L / 2}, {W / 2, -L / 2}, {-W / 2, L / 2}, {W / 2, L / 2},
                           {0, 0},           {0, -(L / 2 - W / 2)}, {0, L / 2 - W / 2}};
  for (int i = 0; i < 7; ++i) Lut3D_ProjectPoint(lut, &lut->refX[i], &lut->refY[i], pts[i][0], pts[i][1], 0.0f);
  const int nb[4][3] = {{0, 2, 1}, {1, 0, 3}, {2, 3, 0}, {3, 1, 2}};
  for (int k = 0; k < 4; ++k) {
    const float P[2] = {lut->refX[nb[k][0]], lut->refY[nb[k][0]]};
    const float Q[2] = {lut->refX[nb[k][1]], lut->refY[nb[k][1]]};
    const float R[2] = {lut->refX[nb[k][2]], lut->refY[nb[k][2]]};
    Lut3D_SeamAngles(k, &lut->seamFirst[k], &lut->seamSecond[k], P, Q, R);
  }
  const float* a = gv().config.seamFraction;
  const float th1 = (a[0] + a[1]) / 2 * kHalfPi, th2 = (a[2] + a[3]) / 2 * kHalfPi;
  Lut3D_ProjectPoint(lut, &lut->refX[7], &lut->refY[7], 0.0f, W / 2 * std::tan(th1) - L / 2, 0.0f);
  Lut3D_ProjectPoint(lut, &lut->refX[8], &lut->refY[8], 0.0f, L / 2 - W / 2 * std::tan(th2), 0.0f);
}

namespace {

// Camera of a side for a surface point, and its fixed-point source; a
// projection that fails or leaves the camera's picture is a hole.
void SourceOf(const LUT3DOB* lut, int32_t side, float x, float y, float z, int32_t* U, int32_t* V) {
  const int32_t cam = side == 1 ? (y < 0.0f ? 1 : 2) : (x < 0.0f ? 3 : 4);
  float u, v;
  if (!BowlCameras_Project(&lut->cams, cam, x, y, z, &u, &v) || !BowlCameras_Inside(&lut->cams, u, v)) {
    u = -20000.0f;
    v = -20000.0f;
  }
  *U = static_cast<int32_t>((u + lut->cams.ox[cam - 1]) * 1024.0f);
  *V = static_cast<int32_t>(v * 1024.0f);
  if (u == -20000.0f) *U = kLut3DHole;
}

bool Valid(int32_t U, int32_t V) { return U > kLut3DHoleLimit && V > kLut3DHoleLimit; }

// One midpoint of a cast pass: the map indices of its two neighbours and
// its own, its ground point, and the far neighbour's (x, y), which picks the
// camera.
struct MidPoint {
  size_t a, b, mid;
  float x, y, z;
  float camX, camY;
};

// Midpoint rule of the column and row passes: from the two neighbours'
// sources, or projected afresh when only one of them has one.
void Middle(const LUT3DOB* lut, int32_t side, std::vector<int32_t>& Um, std::vector<int32_t>& Vm, const MidPoint& p) {
  const size_t a = p.a, b = p.b, mid = p.mid;
  const float x = p.x, y = p.y, z = p.z, camX = p.camX, camY = p.camY;
  const bool va = Valid(Um[a], Vm[a]), vb = Valid(Um[b], Vm[b]);
  if (va && vb) {
    Um[mid] = (Um[a] + Um[b]) / 2;
    Vm[mid] = (Vm[a] + Vm[b]) / 2;
  } else if (va || vb) {
    // The camera follows the far neighbour's coordinate.
    const int32_t cam = side == 1 ? (camY < 0.0f ? 1 : 2) : (camX < 0.0f ? 3 : 4);
    float u, v;
    if (!BowlCameras_Project(&lut->cams, cam, x, y, z, &u, &v) || !BowlCameras_Inside(&lut->cams, u, v)) {
      Um[mid] = kLut3DHole;
      Vm[mid] = kLut3DHole;
    } else {
      Um[mid] = static_cast<int32_t>((u + lut->cams.ox[cam - 1]) * 1024.0f);
      Vm[mid] = static_cast<int32_t>(v * 1024.0f);
    }
  }
}

}  // namespace

void Lut3D_CastSide(LUT3DOB* lut, int32_t side) {
  const BowlShape& sh = side == 1 ? lut->shape[0] : lut->shape[1];
  std::vector<int32_t>& Um = side == 1 ? lut->U1 : lut->U0;
  std::vector<int32_t>& Vm = side == 1 ? lut->V1 : lut->V0;
  // Pixels no ray reaches are holes too, not sources at the frame's corner.
  std::fill(Um.begin(), Um.end(), kLut3DHole);
  std::fill(Vm.begin(), Vm.end(), kLut3DHole);
  const int32_t Wo = lut->outW, Ho = lut->outH, s = SampleStep(lut);
  const double A = sh.extX + lut->carW / 2, B = sh.extY + lut->carL / 2;
  const float pitch = lut->view[0], yaw = lut->view[1], dist = lut->view[2];
  const float zoom = lut->view[5], aspect = lut->view[6], offX = lut->view[7], offY = lut->view[8];
  float rz[9], rx[9], M[9];
  Mat3_RotateZ(rz, kTwoPi - yaw);
  Mat3_RotateX(rx, pitch);
  Matrix mz, mx, mm;
  Matrix_Init(&mz, 3, 3, rz);
  Matrix_Init(&mx, 3, 3, rx);
  Matrix_Init(&mm, 3, 3, M);
  Matrix_Product(&mz, &mx, &mm);
  CastRay ray{};
  ray.E[0] = dist * M[2];
  ray.E[1] = dist * M[5];
  ray.E[2] = dist * M[8];
  ray.A2 = A * A;
  ray.B2 = B * B;
  ray.c = sh.wallHeight;
  ray.k = sh.reach;
  const int32_t Wo2 = Wo / 2, Ho2 = Ho / 2;
  const auto cast = [&](int32_t i, int32_t last, int32_t step2) { return i % step2 == 0 || i == last; };
  for (const Quadrant& q : kQuadrants) {
    RowState state = kNone;
    bool haveSaved = false;
    double saved[3] = {0, 0, 0};
    double prev[3] = {0, 0, 0};
    for (int32_t rr = 0; rr < Ho2; ++rr) {
      const int32_t j = Ho2 + q.p0 + rr * q.sp;
      if (!cast(j, Ho - 1, 2 * s)) continue;
      bool rim = false;
      for (int32_t cc = 0; cc < Wo2; ++cc) {
        const int32_t i = Wo2 + q.o0 + cc * q.so;
        if (!cast(i, Wo - 1, 2 * s)) continue;
        const float nx = static_cast<float>(i - Wo2) / Wo2, ny = static_cast<float>(j - Ho2) / -Ho2;
        const float xp = (nx + kEps + offX) * (-(aspect * zoom) / 2.41421f);
        const float yp = (ny + kEps + offY) * (zoom / 2.41421f);
        for (int r = 0; r < 3; ++r) ray.D[r] = M[3 * r] * xp + M[3 * r + 1] * yp - M[3 * r + 2];
        const double tf = ray.E[2] / ray.D[2];
        const double fx = ray.D[0] * tf - ray.E[0], fy = ray.D[1] * tf - ray.E[1];
        double t = tf, X = fx, Y = fy;
        bool taken = false;
        // A floor plane behind the viewer (a ray above the horizon) is no floor hit.
        if (tf <= 0.0 && ray.B2 * fx * fx + ray.A2 * fy * fy < ray.A2 * ray.B2) {
          taken = true;
          state = kFloor;
        } else {
          if (!rim) {
            bool ok;
            if (state == kWall) {
              t = prev[0], X = prev[1], Y = prev[2];
              ok = SolveSurface(ray, false, &t, &X, &Y) != 0;
              if (!ok) {
                t = tf, X = fx, Y = fy;
                ok = SolveSurface(ray, false, &t, &X, &Y) != 0;
              }
            } else {
              if (ray.D[2] > -0.02 && haveSaved) t = saved[0], X = saved[1], Y = saved[2];
              ok = SolveSurface(ray, false, &t, &X, &Y) != 0;
            }
            const double z = ray.D[2] * t - ray.E[2];
            if (ok && (z >= -ray.c || state == kFloor)) {
              if ((state == kFloor || z < -ray.c) && ray.D[2] < -0.02) {
                saved[0] = tf, saved[1] = fx, saved[2] = fy;
                haveSaved = true;
              }
              taken = true;
              state = kWall;
            }
          }
          if (!taken) {
            if (state == kWall || rim) t = prev[0], X = prev[1], Y = prev[2];
            else if (haveSaved) t = saved[0], X = saved[1], Y = saved[2];
            else t = tf, X = fx, Y = fy;
            if (SolveSurface(ray, true, &t, &X, &Y) == 0) break;  // the rest of this row stays uncast
            taken = true;
            state = kWall;
            rim = true;
          }
        }
        prev[0] = t, prev[1] = X, prev[2] = Y;
        const float px = static_cast<float>(ray.D[0] * t - ray.E[0]);
        const float py = static_cast<float>(ray.D[1] * t - ray.E[1]);
        const float pz = state == kFloor ? 0.0f : static_cast<float>(ray.D[2] * t - ray.E[2]);
        const size_t idx = static_cast<size_t>(j) * Wo + i;
        lut->mapY[idx] = py;
        lut->mapX[idx] = px;
        lut->mapZ[idx] = pz;
        SourceOf(lut, side, px, py, pz, &Um[idx], &Vm[idx]);
      }
      state = kFloor;
    }
  }

  // Column pass: the row between two cast rows.
  std::vector<int32_t> castRows, castCols;
  for (int32_t r = 0; r < Ho; ++r)
    if (cast(r, Ho - 1, 2 * s)) castRows.push_back(r);
  for (int32_t c = 0; c < Wo; ++c)
    if (cast(c, Wo - 1, 2 * s)) castCols.push_back(c);
  for (int32_t c : castCols)
    for (size_t k = 0; k + 1 < castRows.size(); ++k) {
      const int32_t r1 = castRows[k], r2 = castRows[k + 1];
      if (r1 + s >= Ho) continue;
      const size_t a = static_cast<size_t>(r1) * Wo + c, b = static_cast<size_t>(r2) * Wo + c;
      const size_t mid = static_cast<size_t>(r1 + s) * Wo + c;
      const float y = (lut->mapY[a] + lut->mapY[b]) / 2, x = (lut->mapX[a] + lut->mapX[b]) / 2;
      const float z = (lut->mapZ[a] + lut->mapZ[b]) / 2;
      lut->mapY[mid] = y;
      lut->mapX[mid] = x;
      lut->mapZ[mid] = z;
      Middle(lut, side, Um, Vm, {a, b, mid, x, y, z, lut->mapX[b], lut->mapY[b]});
    }
  // Row pass: the column between two cast columns, on every s-th row.
  for (int32_t r = 0; r < Ho; ++r) {
    if (r % s != 0 && r != Ho - 1) continue;
    for (size_t k = 0; k + 1 < castCols.size(); ++k) {
      const int32_t c1 = castCols[k], c2 = castCols[k + 1];
      if (c1 + s >= Wo) continue;
      const size_t a = static_cast<size_t>(r) * Wo + c1, b = static_cast<size_t>(r) * Wo + c2;
      const size_t mid = static_cast<size_t>(r) * Wo + c1 + s;
      const float y = (lut->mapY[a] + lut->mapY[b]) / 2, x = (lut->mapX[a] + lut->mapX[b]) / 2;
      const float z = (lut->mapZ[a] + lut->mapZ[b]) / 2;
      lut->mapY[mid] = y;
      Middle(lut, side, Um, Vm, {a, b, mid, x, y, z, lut->mapX[b], lut->mapY[b]});
    }
  }
}

void Lut3D_FillBlendMap(LUT3DOB* lut) {
  const int32_t Wo = lut->outW, Ho = lut->outH, s = SampleStep(lut);
  const int32_t Wo2 = Wo / 2, Ho2 = Ho / 2;
  const float* f = lut->seamFirst;
  const float* sc = lut->seamSecond;
  const auto angleAbout = [&](int p, float nx, float ny) {
    return Wrap(std::atan2(ny - lut->refY[p], nx - lut->refX[p]));
  };
  const auto ramp = [](float num, float den) { return den != 0.0f ? num / den * 1023.99f : 0.0f; };
  float phi[4] = {};
  if (lut->secondWeight != 0) {
    const int from[4] = {5, 5, 6, 6};
    for (int k = 0; k < 4; ++k)
      phi[k] = Wrap(std::atan2(lut->refY[k] - lut->refY[from[k]], lut->refX[k] - lut->refX[from[k]]));
  }
  for (int32_t j = 0; j < Ho; ++j) {
    if (j % s != 0 && j != Ho - 1) continue;
    for (int32_t i = 0; i < Wo; ++i) {
      if (i % s != 0 && i != Wo - 1) continue;
      const size_t idx = static_cast<size_t>(j) * Wo + i;
      const float nx = static_cast<float>(i - Wo2) / Wo2, ny = static_cast<float>(j - Ho2) / -Ho2;
      float w = 0.0f;
      if (lut->mapY[idx] < 0.0f) {
        float th = angleAbout(7, nx, ny), hi = f[0], a = th;
        float hi2 = sc[0], a2 = th, hi3 = sc[1], a3 = th;
        if (InSpan(sc[1], &hi2, &a2)) w = 1023.0f;
        else if (InSpan(sc[0], &hi, &a)) w = ramp(hi - a, hi - sc[0]);
        else if (InSpan(f[1], &hi3, &a3)) w = ramp(a3 - f[1], hi3 - f[1]);
      } else {
        float th = angleAbout(8, nx, ny);
        float hi1 = sc[3], a1 = th, hi2 = sc[2], a2 = th, hi3 = f[3], a3 = th;
        if (InSpan(sc[2], &hi1, &a1)) w = 1023.0f;
        else if (InSpan(f[2], &hi2, &a2)) w = ramp(a2 - f[2], hi2 - f[2]);
        else if (InSpan(sc[3], &hi3, &a3)) w = ramp(hi3 - a3, hi3 - sc[3]);
      }
      lut->weight[idx] = static_cast<int32_t>(std::min(std::max(w, 0.0f), 1023.0f));
      if (lut->secondWeight != 0) {
        const float th = angleAbout(4, nx, ny);
        float v = 0.0f, hi, a;
        if (hi = phi[2], a = th, InSpan(phi[0], &hi, &a)) v = (a - phi[0]) / (hi - phi[0]);
        else if (hi = phi[3], a = th, InSpan(phi[2], &hi, &a)) v = 1.0f - (a - phi[2]) / (hi - phi[2]);
        else if (hi = phi[1], a = th, InSpan(phi[3], &hi, &a)) v = (a - phi[3]) / (hi - phi[3]);
        else if (hi = phi[0], a = th, InSpan(phi[1], &hi, &a)) v = 1.0f - (a - phi[1]) / (hi - phi[1]);
        lut->weight2[idx] = static_cast<int32_t>(std::min(std::max(v, 0.0f), 1.0f) * 1023.99f);
      }
    }
  }
}

void Lut3D_Compute(LUT3DOB* lut) {
  if (lut->valid == 0) return;
  const float* v = lut->view;
  Generate3DMVP(lut->mvp, v[5], v[6], v[7], v[8], v[0], v[1], v[2], v[3], v[4]);
  Lut3D_ProjectRefPoints(lut);
  Lut3D_CastSide(lut, 1);
  Lut3D_CastSide(lut, 0);
  Lut3D_FillBlendMap(lut);
  const int32_t s = SampleStep(lut);
  ImageI32 w{lut->outW, lut->outH, lut->weight.data()};
  Image_ScaleCols(&w, s);
  if (lut->secondWeight != 0) {
    ImageI32 w2{lut->outW, lut->outH, lut->weight2.data()};
    Image_ScaleCols(&w2, s);
  }
  ImageI32 u1{lut->outW, lut->outH, lut->U1.data()}, v1{lut->outW, lut->outH, lut->V1.data()};
  ImageI32 u0{lut->outW, lut->outH, lut->U0.data()}, v0{lut->outW, lut->outH, lut->V0.data()};
  Image_ScaleRows(&u1, &v1, s, 0, 0);
  Image_ScaleRows(&u0, &v0, s, 0, 0);
}

void Lut3D_ComputeEx(LUT3DOB* lut, int32_t step, float* mvp, int32_t flag, float zoom, float aspect, float offX,
                     float offY, float pitch, float yaw, float distance, float tx, float ty) {
  lut->step = step;
  const float v[9] = {pitch, yaw, distance, tx, ty, zoom, aspect, offX, offY};
  std::memcpy(lut->view, v, sizeof v);
  lut->secondWeight = flag != 0 ? 1 : 0;
  Lut3D_Compute(lut);
  if (mvp != nullptr) std::memcpy(mvp, lut->mvp, sizeof lut->mvp);
}

float Lut3D_SectorRamp4(const float a[4], float angle) {
  float hi, x;
  if (hi = a[1], x = angle, InSpan(a[0], &hi, &x)) return (x - a[0]) / (hi - a[0]);
  if (hi = a[2], x = angle, InSpan(a[1], &hi, &x)) return 1.0f - (x - a[1]) / (hi - a[1]);
  if (hi = a[3], x = angle, InSpan(a[2], &hi, &x)) return (x - a[2]) / (hi - a[2]);
  if (hi = a[0], x = angle, InSpan(a[3], &hi, &x)) return 1.0f - (x - a[3]) / (hi - a[3]);
  return 0.0f;
}

float Lut3D_BandWeight(float a, float b, float c, float d, float angle) {
  float hi, x;
  if (hi = b, x = angle, InSpan(d, &hi, &x)) return 1.0f;
  if (hi = a, x = angle, InSpan(b, &hi, &x)) return (hi - x) / (hi - b);
  if (hi = d, x = angle, InSpan(c, &hi, &x)) return (x - c) / (hi - c);
  return 0.0f;
}

void Lut3D_BandWeightEx(float p0, float p1, float p2, float p3, float angle, float out[3]) {
  float hi, x;
  out[0] = 0.0f;
  out[1] = p1;
  out[2] = p2;
  if (hi = p3, x = angle, InSpan(p1, &hi, &x)) {
    out[0] = 1.0f;
  } else if (hi = p1, x = angle, InSpan(p0, &hi, &x)) {
    out[0] = (x - p0) / (hi - p0);
    out[1] = hi;
  } else if (hi = p2, x = angle, InSpan(p3, &hi, &x)) {
    out[0] = (hi - x) / (hi - p3);
    out[2] = hi;
  }
}
