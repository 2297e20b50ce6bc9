// Bowl surface cast, projection into the cameras and the camera meshes.
#include "surround/bowl_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "frame/log.h"
#include "frame/numeric_constants.h"
#include "surround/bowl_cameras.h"
#include "toolkit/smoothing.h"

namespace {

constexpr float kTiny = 1.1920929e-07f;
constexpr float kWeighted = 1.1920929e-5f;
constexpr float kNoTexture = -2.0f;

enum RowState { kNone, kFloor, kWall };

// Newton's method on (w, x, y) for the rim point (x, y) on the floor ellipse
// in the ray's vertical plane and the ray point at depth w on the wall
// (rim false) or on the vertical rim (rim true); Cramer's rule on the 3 x 3
// Jacobian. Coordinates run to 10^4 mm and the ellipse term to 10^15, so the
// arithmetic is double.
int32_t SolveBowl(bool rim, double dx, double dy, double H, double A, double B, double h, double k, double* pw,
                  double* px, double* py) {
  const double A2 = A * A, B2 = B * B, base = H - h;
  double w = *pw, x = *px, y = *py;
  for (int it = 0; it < 16; ++it) {
    const double ex = x - dx * w, ey = y - dy * w;
    const double f1 = B2 * x * x + A2 * y * y - A2 * B2;
    const double f2 = dx * y - dy * x;
    double f3 = ex * ex + ey * ey - k * h * h;
    double j3w = -2.0 * (dx * ex + dy * ey);
    if (!rim) {
      f3 += k * (w - base) * (w - base);
      j3w += 2.0 * k * (w - base);
    }
    // Rows: (dF/dw, dF/dx, dF/dy).
    const double m[3][3] = {{0.0, 2.0 * B2 * x, 2.0 * A2 * y}, {0.0, -dy, dx}, {j3w, 2.0 * ex, 2.0 * ey}};
    const double rhs[3] = {-f1, -f2, -f3};
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (det == 0.0 || !std::isfinite(det)) break;
    double s[3];
    for (int c = 0; c < 3; ++c) {
      double t[3][3];
      std::memcpy(t, m, sizeof t);
      for (int r = 0; r < 3; ++r) t[r][c] = rhs[r];
      s[c] = (t[0][0] * (t[1][1] * t[2][2] - t[1][2] * t[2][1]) - t[0][1] * (t[1][0] * t[2][2] - t[1][2] * t[2][0]) +
              t[0][2] * (t[1][0] * t[2][1] - t[1][1] * t[2][0])) /
             det;
    }
    w += s[0];
    x += s[1];
    y += s[2];
    if (!std::isfinite(w) || !std::isfinite(x) || !std::isfinite(y)) break;
    if (s[0] * s[0] + s[1] * s[1] + s[2] * s[2] < 0.001) {
      // The wall stands outside the floor, on this ray's side of it: a
      // solution inward of the rim or at the far rim point is another
      // branch of the equations.
      const double qx = dx * w, qy = dy * w;
      if (x * qx + y * qy < 0.0 || qx * qx + qy * qy < 0.999 * (x * x + y * y)) return 0;
      *pw = w;
      *px = x;
      *py = y;
      return 1;
    }
  }
  return 0;
}

// The quadrant walk shared by the casts: start offsets and steps of
// quadrants 0 to 3, outward from the grid centre.
struct Quadrant {
  int32_t o0, p0, so, sp;
};
constexpr Quadrant kQuadrants[4] = {{-1, -1, -1, -1}, {0, -1, 1, -1}, {-1, 0, -1, 1}, {0, 0, 1, 1}};

}  // namespace

int32_t Bowl_SolveWall(double dx, double dy, double H, double A, double B, double h, double k, double* w,
                       double* x, double* y) {
  return SolveBowl(false, dx, dy, H, A, B, h, k, w, x, y);
}

int32_t Bowl_SolveRim(double dx, double dy, double H, double A, double B, double h, double k, double* w,
                      double* x, double* y) {
  return SolveBowl(true, dx, dy, H, A, B, h, k, w, x, y);
}

void Bowl_CastGrid(int32_t cols, int32_t rows, int32_t projType, float* X, float* Y, float* Z, int32_t mode,
                   float f, float H, float W, float L, const float insets[4], const BowlShape& shape) {
  const double A = shape.extX + W / 2, B = shape.extY + L / 2;
  const double h = shape.wallHeight, k = shape.reach;
  const float bx0 = -W / 2 + 80 + insets[2], bx1 = W / 2 - 80 - insets[3];
  const float by0 = -L / 2 + 80 + insets[0], by1 = L / 2 - 80 - insets[1];
  for (int q = 0; q < 4; ++q) {
    if ((mode == 1 && q > 1) || (mode == 2 && q < 2)) continue;
    const Quadrant& Q = kQuadrants[q];
    RowState state = kNone;
    double dx = 0.0, dy = 0.0;
    double pw = H, px = 0.0, py = 0.0;  // previous accepted solution
    double lw = H, lx = 0.0, ly = 0.0;  // last accepted wall solution
    bool haveWall = false;
    float prevOut[3] = {0.0f, 0.0f, 0.0f};
    for (int32_t rr = 0; rr < rows / 2; ++rr) {
      const int32_t p = Q.p0 + rr * Q.sp;
      bool rim = false;
      for (int32_t cc = 0; cc < cols / 2; ++cc) {
        const int32_t o = Q.o0 + cc * Q.so;
        const size_t idx = static_cast<size_t>(p + rows / 2) * cols + (o + cols / 2);
        const double a = o / f + kTiny, b = p / f + kTiny;
        if (projType == 1) {
          const double t = std::tan(std::sqrt(a * a + b * b));
          dx = std::copysign(t / std::sqrt(b * b / (a * a) + 1.0), a);
          dy = std::copysign(t / std::sqrt(a * a / (b * b) + 1.0), b);
        } else if (projType == 2) {
          const double n = std::sqrt(std::max(1.0 - a * a - b * b, 1e-12));
          dx = a / n;
          dy = b / n;
        } else if (projType == 3) {
          dx = a;
          dy = b;
        }
        const double gx = dx * H, gy = dy * H;
        if (B * B * gx * gx + A * A * gy * gy < A * A * B * B) {
          if (mode == 0 && gx > bx0 && gx < bx1 && gy > by0 && gy < by1) {
            state = kNone;
            continue;
          }
          X[idx] = static_cast<float>(gx);
          Y[idx] = static_cast<float>(gy);
          Z[idx] = 0.0f;
          prevOut[0] = X[idx];
          prevOut[1] = Y[idx];
          prevOut[2] = 0.0f;
          state = kFloor;
          continue;
        }
        double w = H, x = gx, y = gy;
        bool taken = false;
        if (!rim) {
          bool ok;
          if (state == kWall) {
            w = pw;
            x = px;
            y = py;
            ok = Bowl_SolveWall(dx, dy, H, A, B, h, k, &w, &x, &y) != 0;
            if (!ok) {
              w = H;
              x = gx;
              y = gy;
              ok = Bowl_SolveWall(dx, dy, H, A, B, h, k, &w, &x, &y) != 0;
            }
            taken = ok && w - H >= -h;
          } else {
            ok = Bowl_SolveWall(dx, dy, H, A, B, h, k, &w, &x, &y) != 0;
            taken = ok && (w - H >= -h || state == kFloor);
          }
          if (taken) {
            lw = w;
            lx = x;
            ly = y;
            haveWall = true;
          }
        }
        if (!taken) {
          if (rim) {
            w = pw;
            x = px;
            y = py;
          } else if (haveWall) {
            w = lw;
            x = lx;
            y = ly;
          } else {
            w = H;
            x = gx;
            y = gy;
          }
          if (Bowl_SolveRim(dx, dy, H, A, B, h, k, &w, &x, &y) != 0) {
            taken = true;
            rim = true;
          }
        }
        if (taken) {
          state = kWall;
          pw = w;
          px = x;
          py = y;
          prevOut[0] = static_cast<float>(dx * w);
          prevOut[1] = static_cast<float>(dy * w);
          prevOut[2] = static_cast<float>(w - H);
        }
        X[idx] = prevOut[0];
        Y[idx] = prevOut[1];
        Z[idx] = prevOut[2];
      }
      state = kFloor;
    }
  }
}

namespace {

// Scratch grids of one mesh generation.
struct BowlScratch {
  int32_t cols, rows;
  std::vector<float> X[2], Y[2], Z[2];
  std::vector<float> raw, smooth;
  std::vector<float> U[2], V[2];
  std::vector<int8_t> cam[2];  // camera the node's texture was taken from
};

struct SplitRow {
  int32_t mode = 0;  // 0 none, 1 mesh before the split row, 2 after it
  int32_t row = 0;
  bool coarseLimit = false;
};

void ProjectGrid(const D3DGrid* grid, const BowlCameras& cams, BowlScratch* s) {
  const int32_t cols = s->cols, rows = s->rows;
  const size_t n = static_cast<size_t>(cols) * rows;
  s->raw.assign(grid->seamA.data, grid->seamA.data + n);
  std::vector<float> clipped(n);
  for (size_t i = 0; i < n; ++i) clipped[i] = std::max(s->raw[i], 0.0f);
  s->smooth.assign(n, 0.0f);
  Matrix src{cols, rows, clipped.data()}, dst{cols, rows, s->smooth.data()};
  Image_Smooth3x3(&src, &dst, 8);
  for (int g = 0; g < 2; ++g) {
    s->U[g].assign(n, kNoTexture);
    s->V[g].assign(n, kNoTexture);
    s->cam[g].assign(n, 0);
  }

  // The vehicle rectangle's edges written exactly into the casts.
  float cL, cR, rT, rB;
  D3DGrid_CarEdges(grid, &cL, &cR, &rT, &rB);
  const float x0 = -grid->carW / 2 + grid->insets[2], x1 = grid->carW / 2 - grid->insets[3];
  const float y0 = -grid->carL / 2 + grid->insets[0], y1 = grid->carL / 2 - grid->insets[1];
  const int32_t iL = static_cast<int32_t>(cL), iR = static_cast<int32_t>(cR + 0.99999f);
  const int32_t iT = static_cast<int32_t>(rT), iB = static_cast<int32_t>(rB + 0.99999f);
  for (int g = 0; g < 2; ++g) {
    for (int32_t r = std::max(iT - 1, 0); r <= std::min(iB + 1, rows - 1); ++r) {
      if (iL >= 0 && iL < cols) s->X[g][static_cast<size_t>(r) * cols + iL] = x0;
      if (iR >= 0 && iR < cols) s->X[g][static_cast<size_t>(r) * cols + iR] = x1;
    }
    for (int32_t c = std::max(iL - 1, 0); c <= std::min(iR + 1, cols - 1); ++c) {
      if (iT >= 0 && iT < rows) s->Y[g][static_cast<size_t>(iT) * cols + c] = y0;
      if (iB >= 0 && iB < rows) s->Y[g][static_cast<size_t>(iB) * cols + c] = y1;
    }
  }

  float b[4] = {kHalfPi, kPi, kThreeHalfPi, kTwoPi};
  if (grid->info.extraParam != 0) {
    const float fr = static_cast<float>(rows), fc = static_cast<float>(cols);
    b[0] = std::atan2(fr, fc);
    b[1] = std::atan2(fr, -fc);
    b[2] = std::atan2(-fr, -fc) + kTwoPi;
    b[3] = std::atan2(-fr, fc) + kTwoPi;
  }
  // A node's projection into camera c, kept when inside the picture.
  const auto project = [&](int g, size_t i, int32_t c) {
    const float x = s->X[g][i], y = s->Y[g][i], z = s->Z[g][i];
    if (x == 0.0f && y == 0.0f && z == 0.0f) return false;
    float u, v;
    if (!BowlCameras_Project(&cams, c, x, y, z, &u, &v) || !BowlCameras_Inside(&cams, u, v)) return false;
    BowlCameras_Texture(&cams, c, u, v, &s->U[g][i], &s->V[g][i]);
    s->cam[g][i] = static_cast<int8_t>(c);
    return true;
  };
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      const size_t i = static_cast<size_t>(r) * cols + c;
      const float w = s->smooth[i];
      if (w < -0.001f) continue;
      float q = std::atan2(static_cast<float>(r - rows / 2), static_cast<float>(c - cols / 2));
      if (q < 0.0f) q += kTwoPi;
      int32_t c1, c2;
      if (q <= b[0]) c1 = 2, c2 = 4;
      else if (q <= b[1]) c1 = 2, c2 = 3;
      else if (q < b[2]) c1 = 1, c2 = 3;
      else if (q < b[3]) c1 = 1, c2 = 4;
      else c1 = 2, c2 = 4;
      // Every texture coordinate stays inside its camera's quarter of the
      // quad frame: a floor point below the picture is not seen.
      if (w > 0.001f && !project(0, i, c1)) s->raw[i] = s->smooth[i] = -1.0f;
      if (w < 0.999f && !project(1, i, c2) && w < 0.001f) s->raw[i] = s->smooth[i] = -1.0f;
    }
  for (size_t i = 0; i < n; ++i)
    if (s->raw[i] < -0.001f) s->smooth[i] = s->raw[i];
}

class TriangleBuilder {
 public:
  TriangleBuilder(D3DGrid* grid, const BowlCameras& cams, const BowlScratch& s, const SplitRow& split)
      : grid_(grid), cams_(cams), s_(s), split_(split), cols_(s.cols), rows_(s.rows) {}

  void Build() {
    for (int g = 0; g < 2; ++g) {
      cells_.assign(static_cast<size_t>(cols_) * rows_, 0);
      CellPass(g, 4, false);
      CellPass(g, 2, true);
      ZipPass(g);
    }
  }

 private:
  size_t Node(int32_t r, int32_t c) const { return static_cast<size_t>(r) * cols_ + c; }
  float GroupWeight(const std::vector<float>& w, int g, size_t i) const {
    const float v = w[i];
    return g == 0 || v < 0.0f ? v : 1.0f - v;
  }
  bool HasTexture(int g, size_t i) const { return s_.cam[g][i] != 0; }
  bool Covered(int g, size_t i) const { return HasTexture(g, i) && GroupWeight(s_.smooth, g, i) >= 0.999f; }
  bool Weighted(int g, size_t i) const { return HasTexture(g, i) && GroupWeight(s_.smooth, g, i) > kWeighted; }
  bool InBox(int g, size_t i) const {
    return std::fabs(s_.X[g][i]) < grid_->carW / 2 + 2000 && std::fabs(s_.Y[g][i]) < grid_->carL / 2 + 3000;
  }
  int32_t Camera(int g, int32_t r, int32_t c) const {
    if (g == 0) return r < rows_ / 2 ? 1 : 2;
    return c < cols_ / 2 ? 3 : 4;
  }
  // TR-BL or TL-BR diagonal of a cell with top row r and left column c.
  bool CutTrBl(int32_t r, int32_t c) const {
    return r == rows_ / 2 || (r < rows_ / 2 && c >= cols_ / 2) || (r > rows_ / 2 && c <= cols_ / 2);
  }
  bool CellAllowed(int32_t top, int32_t bottom) const {
    if (!split_.coarseLimit) return true;
    if (split_.mode == 1) return bottom < split_.row - 15;
    return top > split_.row + 15;
  }

  // Appends one triangle to the camera's mesh. A corner whose texture was
  // taken from another camera (cells across the grid's centre lines) is
  // projected again into this one; the triangle is dropped when that fails.
  void Emit(int g, int32_t camera, const size_t n[3], const float weights[3], uint32_t flag) {
    float rec[12], pos[9];
    for (int k = 0; k < 3; ++k) {
      const size_t i = n[k];
      pos[3 * k] = s_.X[g][i];
      pos[3 * k + 1] = s_.Y[g][i];
      pos[3 * k + 2] = s_.Z[g][i];
      float tu = s_.U[g][i], tv = s_.V[g][i];
      if (s_.cam[g][i] != camera) {
        float u, v;
        if (!BowlCameras_Project(&cams_, camera, pos[3 * k], pos[3 * k + 1], pos[3 * k + 2], &u, &v) ||
            !BowlCameras_Inside(&cams_, u, v))
          return;
        BowlCameras_Texture(&cams_, camera, u, v, &tu, &tv);
      }
      rec[4 * k] = tu;
      rec[4 * k + 1] = tv;
      rec[4 * k + 2] = weights[k];
      rec[4 * k + 3] = grid_->seamB.data[i];
    }
    BowlCameraMesh& m = grid_->meshes[camera - 1];
    m.vertices.insert(m.vertices.end(), pos, pos + 9);
    m.texture.insert(m.texture.end(), rec, rec + 12);
    m.flags.push_back(flag);
    (flag == 1 ? m.part1 : m.part2) += 1;
  }

  void EmitTriangle(int g, int32_t camera, size_t a, size_t b, size_t c, const float* fade) {
    const size_t n[3] = {a, b, c};
    float w[3];
    bool seam = false;
    for (int k = 0; k < 3; ++k) {
      w[k] = fade != nullptr ? fade[k] : GroupWeight(s_.raw, g, n[k]);
      seam = seam || GroupWeight(s_.smooth, g, n[k]) < 0.999f;
    }
    Emit(g, camera, n, w, seam ? 1u : 2u);
  }

  // Two triangles of the cell (r, c)-(r + d, c + d), full coverage.
  void EmitCell(int g, int32_t r, int32_t c, int32_t d) {
    const size_t tl = Node(r, c), tr = Node(r, c + d), bl = Node(r + d, c), br = Node(r + d, c + d);
    const int32_t camera = Camera(g, r, c);
    const auto emit = [&](size_t a, size_t b, size_t e) {
      const size_t n[3] = {a, b, e};
      const float w[3] = {GroupWeight(s_.raw, g, a), GroupWeight(s_.raw, g, b), GroupWeight(s_.raw, g, e)};
      Emit(g, camera, n, w, 2u);
    };
    if (CutTrBl(r, c)) {
      emit(tl, bl, tr);
      emit(tr, bl, br);
    } else {
      emit(tl, bl, br);
      emit(tl, br, tr);
    }
    for (int32_t y = r; y < r + d; ++y)
      for (int32_t x = c; x < c + d; ++x) cells_[Node(y, x)] = 1;
  }

  // Coarse (4 x 4, away from the vehicle) or medium (2 x 2, near it) cells
  // whose four corners the group covers alone.
  void CellPass(int g, int32_t d, bool nearVehicle) {
    for (int32_t r = 0; r + d <= rows_ - 1; r += d)
      for (int32_t c = 0; c + d <= cols_ - 1; c += d) {
        if (!CellAllowed(r, r + d)) continue;
        const size_t tl = Node(r, c), br = Node(r + d, c + d);
        if (!Covered(g, tl) || !Covered(g, Node(r, c + d)) || !Covered(g, Node(r + d, c)) || !Covered(g, br))
          continue;
        const bool near = InBox(g, tl) || InBox(g, br);
        if (near != nearVehicle) continue;
        bool done = true;
        for (int32_t y = r; y < r + d && done; ++y)
          for (int32_t x = c; x < c + d && done; ++x) done = cells_[Node(y, x)] != 0;
        if (!done) EmitCell(g, r, c, d);
      }
  }

  // True when the band between rows r and r + 1 is already covered by cells
  // over columns lo..hi.
  bool CellsCover(int32_t r, int32_t lo, int32_t hi) const {
    if (hi == lo) hi = lo + 1;
    for (int32_t x = lo; x < hi; ++x)
      if (x >= cols_ - 1 || cells_[Node(r, x)] == 0) return false;
    return true;
  }

  // One fine triangle of the zip between rows r (upper) and r + 1.
  void ZipTriangle(int g, int32_t r, int32_t c0, int32_t r0, int32_t c1, int32_t r1, int32_t c2, int32_t r2) {
    const int32_t lo = std::min(c0, std::min(c1, c2)), hi = std::max(c0, std::max(c1, c2));
    if (CellsCover(r, lo, hi)) return;
    float fade[3];
    const float* f = nullptr;
    if (split_.mode != 0) {
      const int32_t rs[3] = {r0, r1, r2};
      const float S = static_cast<float>(split_.row);
      bool apply = false;
      for (int k = 0; k < 3; ++k) {
        const float rr = static_cast<float>(r);
        const bool lower = rs[k] != r;
        if (split_.mode == 1 && S - 15 <= rr) {
          fade[k] = (lower ? S + 14 - rr : S + 15 - rr) / 30;
          apply = true;
        } else if (split_.mode == 2 && rr + 1 <= S + 15) {
          fade[k] = (lower ? rr - S + 16 : rr - S + 15) / 30;
          apply = true;
        }
      }
      if (apply) f = fade;
    }
    EmitTriangle(g, Camera(g, r, c0), Node(r0, c0), Node(r1, c1), Node(r2, c2), f);
  }

  void ZipCell(int g, int32_t r, int32_t c) {
    if (CutTrBl(r, c)) {
      ZipTriangle(g, r, c, r, c, r + 1, c + 1, r);
      ZipTriangle(g, r, c + 1, r, c, r + 1, c + 1, r + 1);
    } else {
      ZipTriangle(g, r, c, r, c, r + 1, c + 1, r + 1);
      ZipTriangle(g, r, c, r, c + 1, r + 1, c + 1, r);
    }
  }

  // Closes the band between each pair of neighbouring rows like a zip.
  void ZipPass(int g) {
    const int32_t last = cols_ - 1;
    for (int32_t r = 0; r + 1 < rows_; ++r) {
      if (split_.mode == 1 && r > split_.row + 15) continue;
      if (split_.mode == 2 && r + 1 < split_.row - 15) continue;
      const auto up = [&](int32_t c) { return Weighted(g, Node(r, c)); };
      const auto dn = [&](int32_t c) { return Weighted(g, Node(r + 1, c)); };
      int32_t i = 0, j = 0;
      bool ended = false;
      while (!ended) {
        // Skip to the next weighted node of each row, keeping the cursors
        // within 5 columns of each other.
        for (;;) {
          while (i < last && !up(i)) ++i;
          while (j < last && !dn(j)) ++j;
          if (i >= last || j >= last) {
            ended = true;
            break;
          }
          if (i + 5 < j) {
            ++i;
            continue;
          }
          if (j + 5 < i) {
            ++j;
            continue;
          }
          break;
        }
        if (ended) break;
        for (;;) {
          if (i >= last || j >= last) {
            ended = true;
            break;
          }
          const bool ui = up(i + 1), lj = dn(j + 1);
          if (!ui && !lj) {
            ++i;
            ++j;
            break;
          }
          if (!ui) {
            ZipTriangle(g, r, i, r, j, r + 1, j + 1, r + 1);
            ++j;
          } else if (lj && i == j) {
            ZipCell(g, r, i);
            ++i;
            ++j;
          } else if (lj && j < i) {
            ZipTriangle(g, r, i, r, j, r + 1, j + 1, r + 1);
            ++j;
          } else {
            ZipTriangle(g, r, i, r, j, r + 1, i + 1, r);
            ++i;
          }
          if (i > j + 5) {
            ++j;
            break;
          }
          if (j > i + 5) {
            ++i;
            break;
          }
        }
      }
    }
  }

  D3DGrid* grid_;
  const BowlCameras& cams_;
  const BowlScratch& s_;
  SplitRow split_;
  int32_t cols_, rows_;
  std::vector<uint8_t> cells_;  // unit cells (top-left node) emitted by the cell passes
};

}  // namespace

void D3DGrid_GenerateMeshes(D3DGrid* grid) {
  for (BowlCameraMesh& m : grid->meshes) m = BowlCameraMesh();
  const int32_t cols = grid->cols, rows = grid->rows;
  if (grid->ready == 0 || cols < 2 || rows < 2) return;
  const size_t n = static_cast<size_t>(cols) * rows;
  const size_t cap = 2 * static_cast<size_t>(cols - 1) * (rows - 1);
  for (BowlCameraMesh& m : grid->meshes) {
    m.vertices.reserve(cap / 4 * 9);
    m.texture.reserve(cap / 4 * 12);
  }
  BowlScratch s;
  s.cols = cols;
  s.rows = rows;
  for (int g = 0; g < 2; ++g) {
    s.X[g].assign(n, 0.0f);
    s.Y[g].assign(n, 0.0f);
    s.Z[g].assign(n, 0.0f);
    Bowl_CastGrid(cols, rows, grid->projType, s.X[g].data(), s.Y[g].data(), s.Z[g].data(), 0, grid->focal,
                  grid->height, grid->carW, grid->carL, grid->insets, grid->shape[g]);
  }
  BowlCameras cams;
  const uint32_t* slot = grid->info.lensSlot;
  BowlCameras_Setup(&cams, &grid->headers, grid->model, slot, grid->quadW, grid->quadH);
  ProjectGrid(grid, cams, &s);

  SplitRow split;
  const uint32_t mode = grid->info.groupNumber;
  if (mode == 1 || mode == 2) {
    float px, py;
    D3DGrid_ViewPoint(grid, 0.0f, -grid->carL / 2 + static_cast<float>(grid->info.splitLength), grid->height, &px,
                      &py);
    split.mode = static_cast<int32_t>(mode);
    split.row = static_cast<int32_t>(rows / 2 + py + 0.5f);
    split.coarseLimit = (mode == 1 && grid->info.cornerCount[1] == 0) || (mode == 2 && grid->info.cornerCount[0] == 0);
  }
  TriangleBuilder(grid, cams, s, split).Build();
  grid->meshesBuilt = 1;
}

void Generate3DTrian(D3DGrid* grid, int32_t camera, int32_t mask, uint32_t* count, float* vertices,
                     float* texture) {
  // An object whose parameter file was not read has no grid to build from.
  if (grid->ready == 0) {
    if (count != nullptr) *count = 0;
    AvmLog("D3D TrianCnt %d %d \n", camera, 0);
    return;
  }
  if (grid->meshesBuilt == 0) D3DGrid_GenerateMeshes(grid);
  const int32_t c = camera >= 1 && camera <= 3 ? camera : 4;
  const BowlCameraMesh& m = grid->meshes[c - 1];
  const uint32_t n = static_cast<uint32_t>(((mask & 1) ? m.part1 : 0) + ((mask & 2) ? m.part2 : 0));
  if (count != nullptr) *count = n;
  if (vertices != nullptr && texture != nullptr && !m.flags.empty()) {
    size_t out = 0;
    for (size_t t = 0; t < m.flags.size(); ++t) {
      if ((m.flags[t] & static_cast<uint32_t>(mask)) == 0) continue;
      std::memcpy(vertices + out * 9, &m.vertices[t * 9], 9 * sizeof(float));
      std::memcpy(texture + out * 12, &m.texture[t * 12], 12 * sizeof(float));
      ++out;
    }
  }
  AvmLog("D3D TrianCnt %d %d \n", camera, static_cast<int32_t>(n));
}
