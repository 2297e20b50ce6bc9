// TB half-bowl surfaces, their single-camera meshes and the track mapping.
//
// Every surface piece is met along the ray itself: the rim point of a trough
// lies where the line from a far point through the ray point leaves the
// floor ellipse, and the depth below the ground is a function of the ray
// point, so one bracketed root of (ray depth - surface depth) gives the
// surface point; the walls, arc and cylinder are closed forms.
#include "surround/bowl_tb.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "frame/log.h"
#include "surround/bowl_cameras.h"

namespace {

constexpr double kTBFocal = 100.0, kTBHeight = 11180.0;
constexpr double kTBExtX = 9400.0;
constexpr double kTBArc = 2000.0;
constexpr double kFar = 100000.0;
constexpr double kMaxDepth = 14500.0;

struct Quadrant {
  int32_t o0, p0, so, sp;
};
constexpr Quadrant kQuadrants[4] = {{-1, -1, -1, -1}, {0, -1, 1, -1}, {-1, 0, -1, 1}, {0, 0, 1, 1}};

// Distance from (px, py) to the rim point where the line from the far point
// (0, oy) through it leaves the ellipse of semi-axes A, B beyond it (or, for
// a point outside, the nearer crossing). False when the line misses.
bool RimDistance(double px, double py, double oy, double A, double B, double* r) {
  const double ux = px, uy = py - oy;
  const double a = B * B * ux * ux + A * A * uy * uy;
  const double b = 2.0 * A * A * oy * uy;
  const double c = A * A * oy * oy - A * A * B * B;
  const double disc = b * b - 4.0 * a * c;
  if (a <= 0.0 || disc < 0.0) return false;
  const double tau = (-b + std::sqrt(disc)) / (2.0 * a);
  *r = std::fabs(tau - 1.0) * std::sqrt(ux * ux + uy * uy);
  return true;
}

bool InsideEllipse(double x, double y, double A, double B) { return B * B * x * x + A * A * y * y < A * A * B * B; }

// Root of f on the ray parameter, searched from l0 forward (f(l0) < 0) or
// backward (f(l0) > 0, not below lmin) in steps, then bisected.
bool RayRoot(const std::function<double(double)>& f, double l0, double step, double lmin, double lmax,
             double* root) {
  double a = l0, fa = f(a);
  if (fa == 0.0) {
    *root = a;
    return true;
  }
  const double dir = fa < 0.0 ? 1.0 : -1.0;
  double b = a, fb = fa;
  for (int k = 0; k < 400; ++k) {
    b = std::min(std::max(a + dir * step, lmin), lmax);
    fb = f(b);
    if ((fa < 0.0) != (fb < 0.0)) break;
    if (b == lmin || b == lmax) return false;
    a = b;
    fa = fb;
  }
  if ((fa < 0.0) == (fb < 0.0)) return false;
  for (int k = 0; k < 60; ++k) {
    const double m = 0.5 * (a + b), fm = f(m);
    if ((fm < 0.0) == (fa < 0.0)) a = m, fa = fm;
    else b = m;
  }
  *root = 0.5 * (a + b);
  return true;
}

// One node of the TBA cast: P = lambda (s e), z = -H + lambda c.
bool CastTBA(double ex, double ey, double s, double c, double A, double B, double oy, double* out) {
  const double H = kTBHeight;
  const double rhoE = 1.0 / std::sqrt(ex * ex / (A * A) + ey * ey / (B * B));
  const double lw = s > 1e-12 ? rhoE / s : 1e30;
  const double zw = -H + lw * c;
  if (s > 1e-12 && zw <= 0.0) {  // the vertical wall above the rim
    out[0] = rhoE * ex;
    out[1] = rhoE * ey;
    out[2] = zw;
    return true;
  }
  if (c <= 0.0) return false;
  const auto f = [&](double l) {
    const double px = l * s * ex, py = l * s * ey, z = -H + l * c;
    double r = 0.0;
    if (!RimDistance(px, py, oy, A, B, &r)) r = 0.0;
    const double q = px / A;
    return z - r * (1.0 + 0.6 * q * q);
  };
  const double lg = H / c;
  double l;
  if (!RayRoot(f, lg, 200.0, lg, std::min(lw, (H + 2.0 * kMaxDepth) / c), &l)) return false;
  out[0] = l * s * ex;
  out[1] = l * s * ey;
  out[2] = -H + l * c;
  return true;
}

// One node of the TBB cast: sunken cone, arc and cylinder about the rim
// point on the radial line.
bool CastTBB(double ex, double ey, double s, double c, double A, double B, double* out) {
  const double H = kTBHeight, r = kTBArc;
  const double rhoR = 1.0 / std::sqrt(ex * ex / (A * A) + ey * ey / (B * B));
  const double qRho = rhoR - r / std::sqrt(5.0), hQ = 2.0 * r / std::sqrt(5.0);
  double best = 1e300;
  const double den = c + s / 2.0;
  if (den > 0.0) {
    const double l = (H + rhoR / 2.0) / den;
    if (l > 0.0 && l * s <= rhoR && -H + l * c >= 0.0) best = std::min(best, l);
  }
  // Arc: (l s - qRho)^2 + (l c - H + hQ)^2 = r^2, ground out to the height of Q.
  const double bq = 2.0 * (-s * qRho + c * (hQ - H));
  const double cq = qRho * qRho + (hQ - H) * (hQ - H) - r * r;
  const double disc = bq * bq - 4.0 * cq;
  if (disc >= 0.0) {
    for (double sign : {-1.0, 1.0}) {
      const double l = (-bq + sign * std::sqrt(disc)) / 2.0;
      const double z = -H + l * c;
      if (l > 0.0 && l * s >= rhoR && z <= 0.0 && z >= -hQ) best = std::min(best, l);
    }
  }
  if (s > 1e-12) {
    const double l = (qRho + r) / s;
    if (l > 0.0 && -H + l * c <= -hQ) best = std::min(best, l);
  }
  if (best >= 1e299) return false;
  out[0] = best * s * ex;
  out[1] = best * s * ey;
  out[2] = -H + best * c;
  return true;
}

}  // namespace

void TB_CastGrid(int32_t shape, int32_t cols, int32_t rows, int32_t half, float* X, float* Y, float* Z, float W,
                 float L, float extY) {
  const double A = kTBExtX + W / 2, B = extY + L / 2;
  for (int q = 0; q < 4; ++q) {
    if ((half == 1 && q > 1) || (half == 2 && q < 2)) continue;
    const Quadrant& Q = kQuadrants[q];
    const double oy = q < 2 ? kFar : -kFar;
    for (int32_t rr = 0; rr < rows / 2; ++rr) {
      const int32_t p = Q.p0 + rr * Q.sp;
      for (int32_t cc = 0; cc < cols / 2; ++cc) {
        const int32_t o = Q.o0 + cc * Q.so;
        const size_t idx = static_cast<size_t>(p + rows / 2) * cols + (o + cols / 2);
        const double a = o / kTBFocal + 1.1920929e-07, b = p / kTBFocal + 1.1920929e-07;
        const double alpha = std::sqrt(a * a + b * b);
        const double ex = a / alpha, ey = b / alpha, s = std::sin(alpha), c = std::cos(alpha);
        double out[3];
        const bool ok = shape == 1 ? CastTBA(ex, ey, s, c, A, B, oy, out) : CastTBB(ex, ey, s, c, A, B, out);
        if (!ok || out[2] > kMaxDepth || (shape == 1 && out[2] < -kTBHeight * 4)) {
          AvmLog(shape == 1 ? "TBA Error1 %d %d %d %f \n" : "TBB Error1 %d %d %d %f \n", q, rr, cc,
                 ok ? out[2] : 0.0);
          if (!ok) continue;
        }
        X[idx] = static_cast<float>(out[0]);
        Y[idx] = static_cast<float>(out[1]);
        Z[idx] = static_cast<float>(out[2]);
      }
    }
  }
}

namespace {

void TBMesh_Project(const D3DGrid* grid, TBMeshBlock* tb, int32_t camera) {
  const size_t n = static_cast<size_t>(tb->cols) * tb->rows;
  tb->U.assign(n, -2.0f);
  tb->V.assign(n, -2.0f);
  tb->valid.assign(n, 0.0f);
  BowlCameras cams;
  BowlCameras_Setup(&cams, &grid->headers, grid->model, grid->info.lensSlot, grid->quadW, grid->quadH);
  for (size_t i = 0; i < n; ++i) {
    if (tb->X[i] == 0.0f && tb->Y[i] == 0.0f && tb->Z[i] == 0.0f) continue;  // not cast
    float u, v;
    if (!BowlCameras_Project(&cams, camera, tb->X[i], tb->Y[i], tb->Z[i], &u, &v) || !BowlCameras_Inside(&cams, u, v))
      continue;
    BowlCameras_Texture(&cams, camera, u, v, &tb->U[i], &tb->V[i]);
    tb->valid[i] = 1.0f;
  }
}

void TBMesh_EmitTriangle(TBMeshBlock* tb, size_t a, size_t b, size_t c) {
  for (size_t i : {a, b, c}) {
    tb->vertices.insert(tb->vertices.end(), {tb->X[i], tb->Y[i], tb->Z[i]});
    tb->texture.insert(tb->texture.end(), {tb->U[i], tb->V[i]});
  }
  ++tb->count;
}

// Coarse 3 x 3 cells where all four corners are seen; single cells (one or
// two triangles, as many as have three seen corners) everywhere else.
void TBMesh_BuildTriangles(TBMeshBlock* tb) {
  const int32_t cols = tb->cols, rows = tb->rows;
  tb->count = 0;
  tb->vertices.clear();
  tb->texture.clear();
  const auto node = [&](int32_t r, int32_t c) { return static_cast<size_t>(r) * cols + c; };
  const auto ok = [&](int32_t r, int32_t c) { return tb->valid[node(r, c)] > 0.5f; };
  std::vector<uint8_t> cell(static_cast<size_t>(cols) * rows, 0);
  for (int32_t r = 0; r + 3 <= rows - 1; r += 3)
    for (int32_t c = 0; c + 3 <= cols - 1; c += 3) {
      if (!ok(r, c) || !ok(r, c + 3) || !ok(r + 3, c) || !ok(r + 3, c + 3)) continue;
      TBMesh_EmitTriangle(tb, node(r, c), node(r + 3, c), node(r, c + 3));
      TBMesh_EmitTriangle(tb, node(r, c + 3), node(r + 3, c), node(r + 3, c + 3));
      for (int32_t y = r; y < r + 3; ++y)
        for (int32_t x = c; x < c + 3; ++x) cell[node(y, x)] = 1;
    }
  for (int32_t r = 0; r + 1 < rows; ++r)
    for (int32_t c = 0; c + 1 < cols; ++c) {
      if (cell[node(r, c)] != 0) continue;
      const bool tl = ok(r, c), tr = ok(r, c + 1), bl = ok(r + 1, c), br = ok(r + 1, c + 1);
      if (tl && tr && bl && br) {
        TBMesh_EmitTriangle(tb, node(r, c), node(r + 1, c), node(r, c + 1));
        TBMesh_EmitTriangle(tb, node(r, c + 1), node(r + 1, c), node(r + 1, c + 1));
      } else if (tr && bl && br) {
        TBMesh_EmitTriangle(tb, node(r, c + 1), node(r + 1, c), node(r + 1, c + 1));
      } else if (tl && bl && br) {
        TBMesh_EmitTriangle(tb, node(r, c), node(r + 1, c), node(r + 1, c + 1));
      } else if (tl && tr && br) {
        TBMesh_EmitTriangle(tb, node(r, c), node(r + 1, c + 1), node(r, c + 1));
      } else if (tl && tr && bl) {
        TBMesh_EmitTriangle(tb, node(r, c), node(r + 1, c), node(r, c + 1));
      }
    }
}

}  // namespace

void GetTBTrian(D3DGrid* grid, int32_t camera, int32_t shape, uint32_t* count, float* vertices, float* texture) {
  AvmLog("GetTBTrian %d %d \n", camera, shape);
  if (shape != 1 && shape != 2) return;
  TBMeshBlock& tb = grid->tb;
  if (grid->ready == 0) {
    if (count != nullptr) *count = 0;
    return;
  }
  const int32_t cam = camera >= 1 && camera <= 3 ? camera : 4;
  if (tb.camera != camera || tb.shape != shape || tb.cols != kTBCols || tb.rows != kTBRows) {
    tb.camera = camera;
    tb.shape = shape;
    tb.cols = kTBCols;
    tb.rows = kTBRows;
    const size_t n = static_cast<size_t>(kTBCols) * kTBRows;
    tb.X.assign(n, 0.0f);
    tb.Y.assign(n, 0.0f);
    tb.Z.assign(n, 0.0f);
    TB_CastGrid(shape, kTBCols, kTBRows, camera, tb.X.data(), tb.Y.data(), tb.Z.data(), grid->carW, grid->carL,
                shape == 1 ? 3400.0f : 5200.0f);
    TBMesh_Project(grid, &tb, cam);
    TBMesh_BuildTriangles(&tb);
    ++tb.builds;
  }
  if (count != nullptr) *count = static_cast<uint32_t>(tb.count);
  if (vertices != nullptr) std::memcpy(vertices, tb.vertices.data(), tb.vertices.size() * sizeof(float));
  if (texture != nullptr) std::memcpy(texture, tb.texture.data(), tb.texture.size() * sizeof(float));
}

void TrackPhyTransfer(const D3DGrid* grid, int32_t camera, int32_t shape, int32_t n, const float* x, const float* y,
                      float* outX, float* outY, float* outZ) {
  if ((shape != 1 && shape != 2) || n < 1 || x == nullptr || y == nullptr || outX == nullptr || outY == nullptr ||
      outZ == nullptr)
    return;
  const float* T = grid->params.T[camera == 1 ? 0 : 1];
  const double A = kTBExtX + grid->carW / 2, B = (shape == 1 ? 3400.0 : 5200.0) + grid->carL / 2;
  const double oy = camera == 1 ? kFar : -kFar;
  const double eye[3] = {-T[0], -T[1], -T[2]};
  for (int32_t i = 0; i < n; ++i) {
    // Ray from the camera through the ground point: P(l) = eye + l (G - eye),
    // the ground point at l = 1.
    const double d[3] = {x[i] - eye[0], y[i] - eye[1], -eye[2]};
    const auto point = [&](double l, double* p) {
      for (int k = 0; k < 3; ++k) p[k] = eye[k] + l * d[k];
    };
    const auto f = [&](double l) {
      double p[3];
      point(l, p);
      double r = 0.0;
      if (!RimDistance(p[0], p[1], oy, A, B, &r)) r = 0.0;
      const bool in = InsideEllipse(p[0], p[1], A, B);
      double depth;
      if (shape == 2) {
        depth = in ? r / 2.0 : -r / 2.0;  // the sunken cone, rising again beyond the rim
      } else {
        const double q = p[0] / A;
        depth = in ? r * (1.0 + 0.6 * q * q) : 0.0;
      }
      return p[2] - depth;
    };
    double l = 1.0, p[3] = {x[i], y[i], 0.0};
    const bool found = RayRoot(f, 1.0, 0.02, 1e-3, 50.0, &l);
    if (found) point(l, p);
    const bool inWindow = found && p[2] > -500.0 && p[2] < 4200.0;
    if (!inWindow) {
      AvmLog(shape == 1 ? "TBAT Error %f %f \n" : "TBBT Error %f %f \n", p[2], 0.0);
      if (shape == 1 || !found) {
        p[0] = x[i];
        p[1] = y[i];
        p[2] = 0.0;
      }
    }
    outX[i] = static_cast<float>(p[0]);
    outY[i] = static_cast<float>(p[1]);
    outZ[i] = static_cast<float>(p[2]);
  }
}
