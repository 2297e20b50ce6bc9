#include "surround/virtual_view_lut.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "camera/lut_config.h"
#include "camera/rotation.h"
#include "frame/global_variables.h"
#include "frame/mat3.h"
#include "frame/numeric_constants.h"
#include "surround/surround_codes.h"

namespace {

constexpr float kEps = 1.1920929e-7f;

void AxisRotation(int axis, float angle, float* m) {
  float r[3] = {0, 0, 0};
  r[axis] = angle;
  RodriguesArr(r, m, nullptr);
}
float Wrap(float a) {
  if (a < -kPi) return a + kTwoPi;
  if (a > kPi) return a - kTwoPi;
  return a;
}
float Dir(float x, float y) { return std::atan2(y, x); }

// One pixel's sources as the maps hold them.
struct Sample {
  int32_t cam;  // kNoCamera when empty
  float x1, y1, x2, y2, w;
};

void WriteTexelGrid(const VirtualViewLUTGen* g, uint32_t* tex, int32_t tw, int32_t th, int32_t row, int32_t col,
                    const Sample& v);

struct Builder {
  VirtualViewLUTGen& g;
  uint32_t* tex;
  int32_t s;
  float a[2], b[2];  // ellipse semi-axes: side bowl, end bowl
  float camW, camH;
  bool half = false;  // texel (r / 2, c / 2) of a (W / 2) x (H / 2) grid for even r, c

  size_t Idx(int32_t r, int32_t c) const { return static_cast<size_t>(r) * g.W + c; }
  Sample At(int32_t r, int32_t c) const {
    const size_t i = Idx(r, c);
    return Sample{g.mask[i], g.x1[i], g.y1[i], g.x2[i], g.y2[i], g.weight[i]};
  }
  void Store(int32_t r, int32_t c, const Sample& v) {
    const size_t i = Idx(r, c);
    g.mask[i] = static_cast<uint8_t>(v.cam);
    g.x1[i] = v.x1;
    g.y1[i] = v.y1;
    g.x2[i] = v.x2;
    g.y2[i] = v.y2;
    g.weight[i] = v.w;
  }
  void Texel(int32_t r, int32_t c, const Sample& v) {
    if (half)
      WriteTexelGrid(&g, tex, g.W / 2, g.H / 2, r / 2, c / 2, v);
    else
      WriteTexelGrid(&g, tex, g.W, g.H, r, c, v);
  }
  // Interpolates between a (at column ca) and b (at cb) on row r into the
  // texels of the even columns from..to (inclusive), with the swap rule
  // when the cameras differ.
  void HalfSpan(int32_t r, int32_t ca, Sample a, int32_t cb, Sample b, int32_t from, int32_t to) {
    if (a.cam != b.cam) b = Swap(b);
    Substitute(&a, &b);
    for (int32_t c = from; c <= to; c += 2) Texel(r, c, Lerp(a, b, static_cast<float>(c - ca) / (cb - ca), false));
  }

  // Viewing ray of pixel (row, col) in the world.
  void Ray(int32_t row, int32_t col, float d[3]) const {
    const float u = (col - (g.W >> 1)) / g.focal * g.aspect + kEps;
    const float v = (row - (g.H >> 1)) / g.focal + kEps;
    const float rho = std::sqrt(u * u + v * v);
    const float t = std::tan(std::min(rho, 1.5f));
    const float rx = std::copysign(t / std::sqrt(1 + v * v / (u * u)), u);
    const float ry = std::copysign(t / std::sqrt(1 + u * u / (v * v)), v);
    const float c[3] = {rx, ry, 1.0f};
    Mat3_MulVec(g.M, c, d);
  }

  bool InsideEllipse(float x, float y, int k) const { return x * x / (a[k] * a[k]) + y * y / (b[k] * b[k]) < 1.0f; }

  // Wall solver of one bowl surface, carried along a row of the sample
  // walk so that each solve starts from its neighbour's solution.
  struct Solver {
    int state = 0;                   // 0 row start, 1 last pixel on the floor, 2 on the wall
    float sol[3] = {0, 0, 0};        // (t, X, Y) of the last solve
    float entry[3] = {0, 0, 0};      // solution where the row last entered the wall
    float up[3] = {0, 0, 0};         // start for rays that point upwards
    float upDz = -100.0f;
  };

  // Newton on (t, X, Y) for the wall of surface k along ray d from the
  // camera centre: the ray point t d lies at distance R from the wall
  // circle's centre (X, Y, h), (X, Y) on the floor ellipse and on the ray
  // point's radial line. At most 16 steps; the last iterate stays in
  // sol either way. True when the last step was short (converged).
  bool SolveWall(const float d[3], int k, const float start[3], float sol[3]) const {
    const float R = g.view2;
    const float h = -R - g.eye[2];
    const float cx = -g.eye[0], cy = -g.eye[1];
    const float A2 = a[k] * a[k], B2 = b[k] * b[k];
    float t = start[0], X = start[1], Y = start[2];
    bool converged = false;
    for (int it = 0; it < 16 && !converged; ++it) {
      const float px = t * d[0] - X, py = t * d[1] - Y, pz = t * d[2] - h;
      const float F[3] = {px * px + py * py + pz * pz - R * R, B2 * (X - cx) * (X - cx) + A2 * (Y - cy) * (Y - cy) - A2 * B2,
                          (t * d[0] - cx) * (Y - cy) - (t * d[1] - cy) * (X - cx)};
      const float J[9] = {2 * (px * d[0] + py * d[1] + pz * d[2]), -2 * px, -2 * py,
                          0, 2 * B2 * (X - cx), 2 * A2 * (Y - cy),
                          d[0] * (Y - cy) - d[1] * (X - cx), -(t * d[1] - cy), t * d[0] - cx};
      // Inverse by cofactors.
      const float c00 = J[4] * J[8] - J[5] * J[7], c01 = J[5] * J[6] - J[3] * J[8], c02 = J[3] * J[7] - J[4] * J[6];
      const float det = J[0] * c00 + J[1] * c01 + J[2] * c02;
      if (!(std::fabs(det) > 1e-20f)) break;
      const float inv[9] = {c00 / det, (J[2] * J[7] - J[1] * J[8]) / det, (J[1] * J[5] - J[2] * J[4]) / det,
                            c01 / det, (J[0] * J[8] - J[2] * J[6]) / det, (J[2] * J[3] - J[0] * J[5]) / det,
                            c02 / det, (J[1] * J[6] - J[0] * J[7]) / det, (J[0] * J[4] - J[1] * J[3]) / det};
      float step[3];
      Mat3_MulVec(inv, F, step);
      t -= step[0];
      X -= step[1];
      Y -= step[2];
      converged = step[0] * step[0] + step[1] * step[1] + step[2] * step[2] < 0.001f;
    }
    sol[0] = t;
    sol[1] = X;
    sol[2] = Y;
    return converged;
  }

  // A solution is a bowl point only in front of the camera and on the
  // rising quarter: above the ground and no higher than the wall (the
  // equations also hold on the rest of the circle).
  bool OnWall(const float d[3], const float sol[3]) const {
    if (!(sol[0] > 0.0f)) return false;
    const float z = g.eye[2] + sol[0] * d[2];
    return z <= 1.0f && z >= -g.view2 - 1.0f;
  }
  bool Solve(const float d[3], int k, const float start[3], float sol[3]) const {
    return SolveWall(d, k, start, sol) && OnWall(d, sol);
  }

  // Bowl points of both surfaces along the viewing ray of (row, col): 0
  // found, 1 the ray meets the floor inside the car box (both solvers back
  // to their row start), 2 no wall point. The solvers carry the walk's
  // state; fresh solvers make an isolated solve.
  int Intersect(int32_t row, int32_t col, float side[3], float end[3], Solver sv[2]) const {
    float d[3];
    Ray(row, col, d);
    const float dz = d[2];
    // A ray that does not point down meets the floor behind the camera:
    // no floor point then.
    const bool down = dz > 0.0f;
    const float tf = -g.eye[2] / dz;
    const float fx = g.eye[0] + tf * d[0], fy = g.eye[1] + tf * d[1];
    const float hw = static_cast<float>(g.carWidth >> 1), hl = static_cast<float>(g.carLength >> 1);
    const float plane[3] = {tf, tf * d[0], tf * d[1]};
    for (int k = 0; k < 2; ++k) {
      float* p = k == 0 ? side : end;
      Solver& v = sv[k];
      if (down && InsideEllipse(fx, fy, k)) {
        if (std::fabs(fx) < hw && std::fabs(fy) < hl) {
          sv[0].state = sv[1].state = 0;
          return 1;
        }
        p[0] = fx;
        p[1] = fy;
        p[2] = 0.0f;
        v.state = 1;
        continue;
      }
      // Without a neighbour's solution a grazing ray's floor point lies far
      // beyond the wall and Newton may not get back from there: the point
      // of the floor's edge under the ray is a second start.
      auto solveAlone = [&](const float* first, float* out) {
        if (Solve(d, k, first, out)) return true;
        const float dh = std::sqrt(d[0] * d[0] + d[1] * d[1]);
        const float hx = down ? fx : g.eye[0] + d[0] * 1e5f, hy = down ? fy : g.eye[1] + d[1] * 1e5f;
        const float n = std::max(std::sqrt(hx * hx / (a[k] * a[k]) + hy * hy / (b[k] * b[k])), kEps);
        const float X = hx / n - g.eye[0], Y = hy / n - g.eye[1];
        const float edge[3] = {down ? tf : std::sqrt(X * X + Y * Y) / std::max(dh, kEps), X, Y};
        return Solve(d, k, edge, out);
      };
      float sol[3];
      if (v.state == 2) {
        if (!Solve(d, k, v.sol, sol) && !Solve(d, k, plane, sol)) return 2;
      } else if (v.state == 0) {
        if (!solveAlone(dz > 0.001f ? plane : v.up, sol)) return 2;
        std::copy(sol, sol + 3, v.entry);
        v.state = 2;
      } else {
        if (dz > 0.001f) {
          // Just off the floor going down. A solve that does not end on the
          // wall gives no point (a silently wrong pixel is worse than an
          // empty one).
          if (!solveAlone(plane, sol)) return 2;
        } else {
          if (!Solve(d, k, v.entry, sol) && !Solve(d, k, plane, sol)) return 2;
          const float wx = g.eye[0] + sol[0] * d[0], wy = g.eye[1] + sol[0] * d[1];
          if (dz < -0.01f && v.upDz < dz) {
            v.up[0] = sol[0];
            v.up[1] = std::fabs(wx) < std::fabs(wy) ? sol[1] - 0.6f * wx : sol[1];
            v.up[2] = sol[2];
            v.upDz = dz;
          }
        }
        std::copy(sol, sol + 3, v.entry);
        v.state = 2;
      }
      std::copy(sol, sol + 3, v.sol);
      for (int i = 0; i < 3; ++i) p[i] = g.eye[i] + sol[0] * d[i];
    }
    return 0;
  }

  float SeamWeight(int32_t row, int32_t col, int corner) const {
    float ang = Wrap(std::atan2(row - 0.5001f * g.H - g.cornerY[corner], col - 0.5001f * g.W - g.cornerX[corner]) -
                     g.seam[corner]);
    if (corner == 1 || corner == 2) ang = -ang;
    if (ang < 0.0f) return 0.0f;
    if (ang > g.blendWidth[corner]) return 1.0f;
    return ang / g.blendWidth[corner];
  }

  bool ProjectInto(int cam, const float p[3], bool strict, float* qx, float* qy) const {
    float u = -1, v = -1;
    if (g.project[cam] == nullptr ||
        g.project[cam](g.model[cam], &g.ctx[cam], &u, &v, g.lensSlot[cam], p[0], p[1], p[2]) == 0)
      return false;
    const bool in = strict ? (u > 2 && u < camW - 3 && v > 2 && v < camH - 3)
                           : (u >= 2 && u < camW - 3 && v >= 2 && v < camH - 3);
    if (!in) return false;
    *qx = u + ((cam & 1) ? camW : 0.0f);
    *qy = v + ((cam & 2) ? camH : 0.0f);
    return true;
  }

  // The exact sources of one pixel, solved on its own; cam kNoCamera when it
  // stays empty.
  Sample Exact(int32_t row, int32_t col) const {
    Solver sv[2];
    float side[3], end[3];
    if (Intersect(row, col, side, end, sv) != 0) return Sample{kNoCamera, 0, 0, 0, 0, 0};
    return Map(row, col, side, end);
  }

  // The sources of a pixel whose bowl points are known.
  Sample Map(int32_t row, int32_t col, const float side[3], const float end[3]) const {
    Sample out{kNoCamera, 0, 0, 0, 0, 0};
    const float x = side[0], y = side[1];
    const float hw = static_cast<float>(g.carWidth >> 1), hl = static_cast<float>(g.carLength >> 1);
    const bool front = y < -hl, back = y > hl, left = x < -hw, right = x > hw;
    int first, second = -1;
    float w = 1.0f;
    if ((front || back) && (left || right)) {
      const int corner = (back ? 2 : 0) + (right ? 1 : 0);
      const int endCam = back ? 1 : 0, sideCam = right ? 3 : 2;
      const float sw = SeamWeight(row, col, corner);
      if (sw >= 1.0f) first = endCam;
      else if (sw <= 0.0f) first = sideCam;
      else if (sw >= 0.5f) first = endCam, second = sideCam, w = sw;
      else first = sideCam, second = endCam, w = 1.0f - sw;
    } else if (front || back || left || right) {
      first = front ? 0 : (back ? 1 : (left ? 2 : 3));
    } else {
      return out;
    }
    const float* p1 = first < 2 ? end : side;
    if (!ProjectInto(first, p1, second >= 0, &out.x1, &out.y1)) return out;
    out.cam = first;
    out.w = 1.0f;
    if (second >= 0 && w < 0.99f) {
      const float* p2 = second < 2 ? end : side;
      if (ProjectInto(second, p2, true, &out.x2, &out.y2)) out.w = w;
    }
    return out;
  }

  // Substitutions before interpolating between a and b.
  static void Substitute(Sample* a, Sample* b) {
    if (a->w > 0.99f) a->x2 = b->x2, a->y2 = b->y2;
    if (b->w > 0.99f) b->x2 = a->x2, b->y2 = a->y2;
    if (b->w < 0.01f) b->x1 = a->x1, b->y1 = a->y1;
  }
  static Sample Swap(Sample v) {
    std::swap(v.x1, v.x2);
    std::swap(v.y1, v.y2);
    v.w = 1.0f - v.w;
    return v;
  }
  static Sample Lerp(const Sample& a, const Sample& b, float f, bool firstOnly) {
    Sample v = a;
    v.x1 = a.x1 + f * (b.x1 - a.x1);
    v.y1 = a.y1 + f * (b.y1 - a.y1);
    if (firstOnly) {
      v.w = 1.0f;
      return v;
    }
    v.x2 = a.x2 + f * (b.x2 - a.x2);
    v.y2 = a.y2 + f * (b.y2 - a.y2);
    v.w = a.w + f * (b.w - a.w);
    return v;
  }

  // The sample grid (rows and columns that are multiples of the spacing,
  // and the last row and column), walked from the image centre outward in
  // each quadrant so that every wall solve starts from its neighbour's
  // solution. A pixel with no wall point ends its row's stretch: further
  // out the rays only rise further above the wall.
  void SamplePass(int32_t sp) {
    const int32_t W = g.W, H = g.H;
    auto isSample = [sp](int32_t i, int32_t n) { return i % sp == 0 || i == n - 1; };
    for (int q = 0; q < 4; ++q) {
      const bool up = q < 2, leftward = (q & 1) == 0;
      const int32_t r0 = up ? H / 2 - 1 : H / 2, dr = up ? -1 : 1;
      const int32_t c0 = leftward ? W / 2 - 1 : W / 2, dc = leftward ? -1 : 1;
      Solver sv[2];
      for (int32_t r = r0; r >= 0 && r < H; r += dr) {
        if (!isSample(r, H)) continue;
        for (int32_t c = c0; c >= 0 && c < W; c += dc) {
          if (!isSample(c, W)) continue;
          float side[3], end[3];
          const int res = Intersect(r, c, side, end, sv);
          if (res == 2) break;
          if (res == 0) Store(r, c, Map(r, c, side, end));
        }
        sv[0].state = sv[1].state = 1;
      }
    }
  }

  void Run() {
    const int32_t W = g.W, H = g.H;
    SamplePass(s);
    // Column pass.
    int32_t e = 0;
    for (int32_t r = 0; r + s < H || (r == 0 && s < H); r += s) {
      if (r + s >= H) break;
      e = r + s;
      for (int32_t c = 0; c < W; c += s) {
        Sample A = At(r, c), B = At(r + s, c);
        if (A.cam == B.cam) {
          Substitute(&A, &B);
          const bool firstOnly = s != 2 && A.w >= 0.99f && B.w >= 0.99f;
          for (int32_t k = 1; k < s; ++k) {
            Sample v = Lerp(A, B, static_cast<float>(k) / s, firstOnly);
            v.cam = A.cam;
            Store(r + k, c, v);
          }
        } else {
          for (int32_t k = 1; k < s; ++k) Store(r + k, c, Exact(r + k, c));
        }
      }
      if ((W - 1) % s != 0) {
        Sample A = At(r, W - 1), B = At(r + s, W - 1);
        if (A.cam != kNoCamera && B.cam != kNoCamera) {
          Substitute(&A, &B);
          for (int32_t k = 1; k < s; ++k) {
            Sample v = Lerp(A, B, static_cast<float>(k) / s, false);
            v.cam = A.cam;
            Store(r + k, W - 1, v);
          }
        }
      }
    }
    if (e < H - 2)
      for (int32_t c = 0; c < W; c += s) {
        Sample A = At(e, c), B = At(H - 1, c);
        if (A.cam == kNoCamera || B.cam == kNoCamera) continue;
        Substitute(&A, &B);
        for (int32_t r = e + 1; r < H - 1; ++r) {
          Sample v = Lerp(A, B, static_cast<float>(r - e) / (H - e), false);
          v.cam = A.cam;
          Store(r, c, v);
        }
      }
    // Row pass: the texels.
    for (int32_t r = 0; r < H; ++r) {
      int32_t ct = 0;
      for (int32_t c = 0; c < W - s; c += s) {
        ct = c + s;
        Sample A = At(r, c), B = At(r, c + s);
        if (A.cam == kNoCamera && B.cam == kNoCamera) continue;
        const bool same = A.cam == B.cam;
        const bool swapped = !same && A.cam != kNoCamera && B.cam != kNoCamera && A.w <= 0.9f && B.w <= 0.9f;
        if (same || swapped) {
          if (swapped) B = Swap(B);
          Substitute(&A, &B);
          Texel(r, c, A);
          for (int32_t k = 1; k < s; ++k) Texel(r, c + k, Lerp(A, B, static_cast<float>(k) / s, false));
        } else {
          for (int32_t k = 0; k < s; ++k) {
            const Sample v = Exact(r, c + k);
            if (v.cam != kNoCamera) Texel(r, c + k, v);
          }
        }
      }
      Sample A = At(r, ct), B = At(r, W - 1);
      if (A.cam != kNoCamera && B.cam != kNoCamera) {
        if (A.cam != B.cam) B = Swap(B);
        Substitute(&A, &B);
        for (int32_t c = ct; c < W; ++c) Texel(r, c, Lerp(A, B, static_cast<float>(c - ct) / (W - ct), false));
      } else if (A.cam != kNoCamera) {
        for (int32_t c = ct; c < W; ++c) Texel(r, c, A);
      }
    }
    // Corner fill.
    const int32_t r0 = H % s == 0 ? H - s : H - 1 - H % s, c0 = W % s == 0 ? W - s : W - 1 - W % s;
    const size_t half = static_cast<size_t>(W) * H;
    if (r0 >= 0 && c0 >= 0) {
      const uint32_t top = tex[static_cast<size_t>(r0) * W + c0], bottom = tex[half + static_cast<size_t>(r0) * W + c0];
      for (int32_t r = r0; r < H; ++r)
        for (int32_t c = c0; c < W; ++c) {
          tex[static_cast<size_t>(r) * W + c] = top;
          tex[half + static_cast<size_t>(r) * W + c] = bottom;
        }
    }
  }

  // Half resolution: spacing 16, samples interpolated every second row and
  // column into a (W / 2) x (H / 2) texture; exact pixels of the row pass
  // still go to the maps and mask.
  void RunHalf() {
    constexpr int32_t S = 16;
    const int32_t W = g.W, H = g.H;
    SamplePass(S);
    // Column pass: rows r + 2 .. r + 14 of each block.
    int32_t e = 0;
    for (int32_t r = 0; r + S < H; r += S) {
      e = r + S;
      for (int32_t c = 0; c < W; c += S) {
        Sample A = At(r, c), B = At(r + S, c);
        if (A.cam == B.cam) {
          if (A.cam == kNoCamera) continue;
          Substitute(&A, &B);
          const bool firstOnly = A.w >= 0.99f && B.w >= 0.99f;
          for (int32_t k = 1; k < 8; ++k) {
            Sample v = Lerp(A, B, static_cast<float>(k) / 8, firstOnly);
            v.cam = A.cam;
            Store(r + 2 * k, c, v);
          }
        } else {
          for (int32_t k = 1; k < 8; ++k) Store(r + 2 * k, c, Exact(r + 2 * k, c));
        }
      }
      if ((W - 1) % S != 0) {
        Sample A = At(r, W - 1), B = At(r + S, W - 1);
        if (A.cam != kNoCamera && B.cam != kNoCamera) {
          Substitute(&A, &B);
          for (int32_t k = 1; k < 8; ++k) {
            Sample v = Lerp(A, B, static_cast<float>(k) / 8, false);
            v.cam = A.cam;
            Store(r + 2 * k, W - 1, v);
          }
        }
      }
    }
    if (e < H - 2)
      for (int32_t c = 0; c < W; c += S) {
        Sample A = At(e, c), B = At(H - 1, c);
        if (A.cam == kNoCamera || B.cam == kNoCamera) continue;
        Substitute(&A, &B);
        for (int32_t r = e + 2; r < H - 1; r += 2) {
          Sample v = Lerp(A, B, static_cast<float>(r - e) / (H - e), false);
          v.cam = A.cam;
          Store(r, c, v);
        }
      }
    // Row pass over the even rows.
    for (int32_t r = 0; r < H; r += 2) {
      int32_t ct = 0;
      for (int32_t c = 0; c < W - S; c += S) {
        ct = c + S;
        const Sample A = At(r, c), B = At(r, c + S);
        if (A.cam == kNoCamera && B.cam == kNoCamera) continue;
        if (A.cam != kNoCamera && B.cam != kNoCamera) {
          if (A.cam == B.cam || (A.w <= 0.9f && B.w <= 0.9f)) {
            HalfSpan(r, c, A, c + S, B, c, c + S - 2);
            continue;
          }
          // Different cameras, a weight above 0.9: exact every fourth
          // column; each piece writes its left end and its middle.
          Sample P[5];
          P[0] = A;
          P[4] = B;
          for (int i = 1; i < 4; ++i) {
            P[i] = Exact(r, c + 4 * i);
            Store(r, c + 4 * i, P[i]);
          }
          for (int i = 0; i < 4; ++i) {
            if (P[i].cam == kNoCamera) continue;
            Texel(r, c + 4 * i, P[i]);
            if (P[i + 1].cam != kNoCamera) HalfSpan(r, c + 4 * i, P[i], c + 4 * i + 4, P[i + 1], c + 4 * i + 2, c + 4 * i + 2);
          }
          continue;
        }
        // One end empty: halve towards the edge of what is seen.
        int32_t lo = c, hi = c + S;
        Sample L = A, R = B;
        while (hi - lo >= 2) {
          const int32_t m = (lo + hi) / 2;
          const Sample M = Exact(r, m);
          Store(r, m, M);
          const bool lowSeen = L.cam != kNoCamera;
          if (M.cam == kNoCamera) {
            if (lowSeen) hi = m, R = M;
            else lo = m, L = M;
            continue;
          }
          if (lowSeen) {
            HalfSpan(r, lo, L, m, M, lo, m);
            lo = m, L = M;
          } else {
            HalfSpan(r, m, M, hi, R, m, std::min(hi, c + S - 2));
            hi = m, R = M;
          }
        }
      }
      // The tail: fractions (c - ct) / (W - ct) as at full resolution.
      Sample A = At(r, ct), B = At(r, W - 1);
      if (A.cam != kNoCamera && B.cam != kNoCamera) {
        if (A.cam != B.cam) B = Swap(B);
        Substitute(&A, &B);
        for (int32_t c = ct; c < W; c += 2) Texel(r, c, Lerp(A, B, static_cast<float>(c - ct) / (W - ct), false));
      }
    }
    // Corner fill.
    const int32_t tw = W / 2, th = H / 2;
    const int32_t r0 = H % S == 0 ? H - S : H - 2 - H % S, c0 = W % S == 0 ? W - S : W - 2 - W % S;
    if (r0 >= 0 && c0 >= 0 && r0 / 2 < th && c0 / 2 < tw) {
      const size_t n = static_cast<size_t>(tw) * th, at = static_cast<size_t>(r0 / 2) * tw + c0 / 2;
      const uint32_t top = tex[at], bottom = tex[n + at];
      for (int32_t r = r0 / 2; r < th; ++r)
        for (int32_t c = c0 / 2; c < tw; ++c) {
          tex[static_cast<size_t>(r) * tw + c] = top;
          tex[n + static_cast<size_t>(r) * tw + c] = bottom;
        }
    }
  }
};

void SetupCamera(VirtualViewLUTGen* g) {
  const float dx = g->dirX, dy = g->dirY;
  const float dz = std::sqrt(std::max(0.0f, 1.0f - dx * dx - dy * dy));
  const float e = dx / std::max(std::sqrt(dx * dx + dz * dz), kEps);
  float gamma = -std::atan2(e, dy);
  for (int pass = 0; pass < 2; ++pass) {
    float r1[9], r2[9], r3[9], r32[9];
    AxisRotation(2, gamma, r1);
    AxisRotation(0, std::asin(std::min(std::max(dy, -1.0f), 1.0f)), r2);
    AxisRotation(1, -std::asin(std::min(std::max(e, -1.0f), 1.0f)), r3);
    Mat3_Mul(r3, r2, r32);
    Mat3_Mul(r32, r1, g->M);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) g->Minv[3 * i + j] = g->M[3 * j + i];
    if (pass == 1) break;
    // Roll: the world's vertical along the image's vertical axis.
    const float down[3] = {0, 0, -400};
    float v[3];
    Mat3_MulVec(g->Minv, down, v);
    if (std::fabs(v[1]) < kEps) break;
    gamma -= std::atan(v[0] / v[1]);
  }
  const float L = g->view1;
  g->t0[0] = -L * dx;
  g->t0[1] = -L * dy;
  g->t0[2] = L * dz;
  for (int i = 0; i < 3; ++i) g->eye[i] = g->target[i] - g->t0[i];
}

void SetupCorners(VirtualViewLUTGen* g) {
  const float hw = g->carWidth / 2.0f, hl = g->carLength / 2.0f;
  const float wx[4] = {-hw, hw, -hw, hw}, wy[4] = {-hl, -hl, hl, hl};
  float px[4], py[4];
  for (int k = 0; k < 4; ++k) VirtualViewLUTGen_ProjectToView(g, &px[k], &py[k], nullptr, wx[k], wy[k], 0.0f);
  const Config& cfg = gv().config;
  const float a0 = cfg.seamFraction[0], a1 = cfg.seamFraction[1], a2 = cfg.seamFraction[2], a3 = cfg.seamFraction[3];
  auto dir = [&](int i, int j) { return Dir(px[i] - px[j], py[i] - py[j]); };
  auto diff = [](float x, float y) {
    float d = x - y;
    if (d < -kPi) d += kTwoPi;
    return d;
  };
  float d = diff(dir(0, 2), dir(0, 1));
  g->seam[0] = Wrap(dir(0, 1) + a0 * d);
  g->blendWidth[0] = (a1 - a0) * d;
  d = diff(dir(1, 0), dir(1, 3));
  g->seam[1] = Wrap(dir(1, 0) - a0 * d);
  g->blendWidth[1] = (a1 - a0) * d;
  d = diff(dir(2, 3), dir(2, 0));
  g->seam[2] = Wrap(dir(2, 3) - a2 * d);
  g->blendWidth[2] = (a3 - a2) * d;
  d = diff(dir(3, 1), dir(3, 2));
  g->seam[3] = Wrap(dir(3, 2) + a2 * d);
  g->blendWidth[3] = (a3 - a2) * d;
  for (int k = 0; k < 4; ++k) {
    g->cornerX[k] = px[k];
    g->cornerY[k] = py[k];
  }
}

}  // namespace

int VirtualViewLUTGen_Init(VirtualViewLUTGen* g, const char* lutConfigPath, int32_t outWidth, int32_t outHeight,
                           float view1, float view2, float view3, float view4) {
  if (g == nullptr || outWidth < 1 || outHeight < 1) return 0;
  LutConfigInfo info;
  CameraParamSet params;
  if (lutConfigPath == nullptr || LoadLUTConfig(&info, &params, lutConfigPath, nullptr) == 0) return 0;
  VirtualViewLUTGen_Release(g);
  g->quadWidth = static_cast<int32_t>(info.quadWidth);
  g->quadHeight = static_cast<int32_t>(info.quadHeight);
  g->carWidth = static_cast<int32_t>(info.carWidth);
  g->carLength = static_cast<int32_t>(info.carLength);
  for (int k = 0; k < 4; ++k) {
    g->model[k] = static_cast<int32_t>(info.model);
    g->lensSlot[k] = static_cast<int32_t>(info.lensSlot[k]);
  }
  g->params = params;
  g->view1 = view1;
  g->view2 = view2;
  g->view3 = view3;
  g->view4 = view4;
  g->W = outWidth;
  g->H = outHeight;
  g->aspect = 1.0f;
  g->dirX = 0.0f;
  for (float& t : g->target) t = 0.0f;
  return 1;
}

void VirtualViewLUTGen_ProjectToView(const VirtualViewLUTGen* g, float* x, float* y, float* depth, float wx,
                                     float wy, float wz) {
  const float rel[3] = {wx - g->eye[0], wy - g->eye[1], wz - g->eye[2]};
  float p[3];
  Mat3_MulVec(g->Minv, rel, p);
  const float r = std::sqrt(p[0] * p[0] + p[1] * p[1]);
  const float s = r > kEps ? std::atan2(r, p[2]) / r : 1.0f / std::max(p[2], kEps);
  if (x != nullptr) *x = p[0] * s * g->focal / g->aspect;
  if (y != nullptr) *y = p[1] * s * g->focal;
  if (depth != nullptr) *depth = p[2];
}

void VirtualViewLUTGen_WriteTexel(const VirtualViewLUTGen* g, uint32_t* tex, int32_t row, int32_t col, float x1,
                                  float y1, float x2, float y2, float weight) {
  if (g == nullptr) return;
  WriteTexelGrid(g, tex, g->W, g->H, row, col, Sample{kNoCamera, x1, y1, x2, y2, weight});
}

namespace {

void WriteTexelGrid(const VirtualViewLUTGen* g, uint32_t* tex, int32_t tw, int32_t th, int32_t row, int32_t col,
                    const Sample& v) {
  const float x1 = v.x1, y1 = v.y1, x2 = v.x2, y2 = v.y2, weight = v.w;
  if (tex == nullptr || row < 0 || row >= th || col < 0 || col >= tw) return;
  const float sx = 255.0f / g->quadWidth, sy = 255.0f / g->quadHeight;
  auto split = [](float v, uint32_t* i, float* f) {
    v = std::min(std::max(v, 0.0f), 255.999f);
    *i = static_cast<uint32_t>(v);
    *f = v - static_cast<float>(*i);
  };
  uint32_t ix, iy, ix2, iy2;
  float fx, fy, fx2, fy2;
  split(x1 * sx, &ix, &fx);
  split(y1 * sy, &iy, &fy);
  const uint32_t w255 = static_cast<uint32_t>(std::min(std::max(255.0f * weight + 0.5f, 0.0f), 255.0f));
  const size_t i = static_cast<size_t>(row) * tw + col;
  tex[i] = ix | (iy << 8) | (static_cast<uint32_t>(fy * 127) << 16) | (static_cast<uint32_t>(fx * 127) << 24) |
           (w255 == 255 ? 0x80000000u : 0u);
  if (w255 == 255) return;
  split(x2 * sx, &ix2, &fx2);
  split(y2 * sy, &iy2, &fy2);
  tex[static_cast<size_t>(tw) * th + i] = ix2 | (iy2 << 8) | (static_cast<uint32_t>(fy2 * 15) << 16) |
                                          (static_cast<uint32_t>(fx2 * 15) << 20) | (w255 << 24);
}

}  // namespace

namespace {

// The virtual camera both builds are given, as the build exports take it.
struct VirtualCamera {
  float focal;
  float angleA, angleB;
  float aspect;
  float positionX, positionY, positionZ;
  float endBowlExtension;
};

// Both builds: the camera, then (with a texture) the maps and the texels.
void BuildView(VirtualViewLUTGen* g, int32_t step, bool half, uint32_t* texture, float* cameraMatrix,
               const VirtualCamera& cam) {
  const float focal = cam.focal, angleA = cam.angleA, angleB = cam.angleB, aspect = cam.aspect;
  const float positionX = cam.positionX, positionY = cam.positionY, positionZ = cam.positionZ;
  const float endBowlExtension = cam.endBowlExtension;
  g->dirX = std::sin(angleB) * std::sin(angleA);
  g->dirY = std::cos(angleB) * std::sin(angleA);
  g->focal = focal;
  g->aspect = aspect;
  g->target[0] = positionX;
  g->target[1] = positionY;
  g->target[2] = positionZ;
  g->endBowlExtension = endBowlExtension;
  SetupCamera(g);
  if (texture != nullptr) {
    const size_t n = static_cast<size_t>(g->W) * g->H;
    if (g->mask.size() != n) {
      for (auto* m : {&g->x1, &g->y1, &g->x2, &g->y2, &g->weight}) m->assign(n, 0.0f);
    }
    g->mask.assign(n, 255);
    const size_t texels = half ? static_cast<size_t>(g->W / 2) * (g->H / 2) : n;
    std::fill(texture, texture + texels, kVirtualViewEmptyTop);
    std::fill(texture + texels, texture + 2 * texels, 0u);
    for (int k = 0; k < 4; ++k) {
      Matrix R{1, 3, g->params.R[k]}, T{1, 3, g->params.T[k]}, K{3, 3, g->params.K[k]}, D{1, 8, g->params.D[k]};
      g->project[k] = nullptr;
      CameraModel_ProjectPoint(g->model[k], &R, &T, &K, &D, &g->project[k], &g->ctx[k]);
    }
    SetupCorners(g);
    Builder b{*g, texture, step, {}, {}, g->quadWidth / 2.0f, g->quadHeight / 2.0f};
    b.half = half;
    b.a[0] = b.a[1] = g->view3 + g->carWidth * 0.5f;
    b.b[0] = g->view4 + g->carLength * 0.5f;
    b.b[1] = g->view4 + 2000.0f + g->carLength * 0.5f + endBowlExtension;
    if (half)
      b.RunHalf();
    else
      b.Run();
  }
  if (cameraMatrix != nullptr) {
    float c[3];
    Mat3_MulVec(g->Minv, g->t0, c);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) cameraMatrix[4 * i + j] = g->Minv[3 * i + j];
      cameraMatrix[4 * i + 3] = c[i];
    }
  }
}

}  // namespace

int VirtualViewLUTGen_Build(VirtualViewLUTGen* g, int32_t sampleStep, uint32_t* texture, float* cameraMatrix,
                            float focal, float angleA, float angleB, float aspect, float positionX, float positionY,
                            float positionZ, float endBowlExtension) {
  // Only these spacings have an interpolation rule; others would leave the
  // pixels between samples empty.
  if (g == nullptr || (sampleStep != 2 && sampleStep != 4 && sampleStep != 8) || g->W < 1 || g->H < 1) return 0;
  BuildView(g, sampleStep, false, texture, cameraMatrix,
            {focal, angleA, angleB, aspect, positionX, positionY, positionZ, endBowlExtension});
  return 1;
}

int VirtualViewLUTGen_BuildHalf(VirtualViewLUTGen* g, uint32_t* texture, float* cameraMatrix, float focal,
                                float angleA, float angleB, float aspect, float positionX, float positionY,
                                float positionZ, float endBowlExtension) {
  if (g == nullptr || g->W < 2 || g->H < 2) return 0;
  BuildView(g, 16, true, texture, cameraMatrix,
            {focal, angleA, angleB, aspect, positionX, positionY, positionZ, endBowlExtension});
  return 1;
}

void VirtualViewLUTGen_Release(VirtualViewLUTGen* g) {
  if (g == nullptr) return;
  for (auto* m : {&g->x1, &g->y1, &g->x2, &g->y2, &g->weight}) std::vector<float>().swap(*m);
  std::vector<uint8_t>().swap(g->mask);
}
