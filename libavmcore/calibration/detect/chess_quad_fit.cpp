#include "calibration/detect/chess_quad.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "frame/geometry_utils.h"

namespace {

inline int64_t Dist2(const PointI16& a, const PointI16& b) {
  const int64_t dr = a.row - b.row, dc = a.col - b.col;
  return dr * dr + dc * dc;
}

// Polygon approximation of the closed outline between the two anchors:
// a point farther than e from its span's chord becomes a vertex. Vertices come
// back as outline indices in walking order from anchor a; false when there
// are more than five.
bool Approximate(const PointI16* c, int32_t n, int32_t a, int32_t b, int64_t e2, std::vector<int32_t>* out) {
  out->clear();
  // Positions relative to a, so that walking order is ascending. Work lists
  // kept per thread (a search fits hundreds of outlines).
  thread_local std::vector<int32_t> vertices;
  thread_local std::vector<std::pair<int32_t, int32_t>> stack;  // spans of positions
  vertices.clear();
  stack.clear();
  vertices.push_back(0);
  const int32_t pb = (b - a + n) % n;
  vertices.push_back(pb);
  stack.push_back({0, pb});
  stack.push_back({pb, n});
  while (!stack.empty()) {
    const auto span = stack.back();
    stack.pop_back();
    const PointI16& p0 = c[(a + span.first) % n];
    const PointI16& p1 = c[(a + span.second) % n];
    const int64_t dr = p1.row - p0.row, dc = p1.col - p0.col;
    const int64_t chord2 = dr * dr + dc * dc;
    int64_t best = -1;
    int32_t bestPos = -1;
    for (int32_t pos = span.first + 1; pos < span.second; ++pos) {
      const PointI16& p = c[(a + pos) % n];
      int64_t d;
      if (chord2 > 0) {
        const int64_t cross = (p.row - p0.row) * dc - (p.col - p0.col) * dr;
        d = cross * cross / chord2;
      } else {
        d = Dist2(p, p0);
      }
      if (d > best) {
        best = d;
        bestPos = pos;
      }
    }
    if (bestPos >= 0 && e2 < best) {
      vertices.push_back(bestPos);
      if (vertices.size() > 5) return false;
      stack.push_back({span.first, bestPos});
      stack.push_back({bestPos, span.second});
    }
  }
  std::sort(vertices.begin(), vertices.end());
  for (int32_t pos : vertices) out->push_back((a + pos) % n);
  return true;
}

float Angle(const PointI16& prev, const PointI16& v, const PointI16& next) {
  const float p[6] = {static_cast<float>(prev.col), static_cast<float>(prev.row), static_cast<float>(v.col),
                      static_cast<float>(v.row),    static_cast<float>(next.col), static_cast<float>(next.row)};
  return Vec2_AngleBetween(p);
}

inline float Cross(const PointI16& p, const PointI16& plus, const PointI16& minus) {
  const float ar = static_cast<float>(p.row - plus.row), ac = static_cast<float>(p.col - plus.col);
  const float br = static_cast<float>(minus.row - plus.row), bc = static_cast<float>(minus.col - plus.col);
  return std::fabs(ar * bc - ac * br);
}

// Moves a vertex of the pixel outline toward the true corner: the outline
// point farthest from the chord across the corner, pulled toward the
// neighbour on the sharper side when the corner is rounded off.
void RefineVertex(const PointI16* c, int32_t n, const PointI16& vertex, float out[2]) {
  out[0] = vertex.row;
  out[1] = vertex.col;
  int32_t i = -1;
  for (int32_t k = 0; k < n; ++k)
    if (c[k].row == vertex.row && c[k].col == vertex.col) {
      i = k;
      break;
    }
  if (i < 0) return;
  auto at = [&](int32_t k) -> const PointI16& { return c[((i + k) % n + n) % n]; };
  const PointI16& plus = at(14);
  const PointI16& minus = at(-14);
  float bestS = -1.0f;
  int32_t bestK = 0;
  for (int32_t k = -10; k <= 10; ++k) {
    const float s = Cross(at(k), plus, minus);
    if (s > bestS) {
      bestS = s;
      bestK = k;
    }
  }
  const PointI16& F = at(bestK);
  const float a = std::sqrt(Cross(at(1), plus, minus));
  const float b = std::sqrt(Cross(at(-1), plus, minus));
  const float S = std::sqrt(bestS);
  const PointI16& Q = a > b ? at(1) : at(-1);
  const float g = S - std::max(a, b);
  if (std::fabs(a - b) > g) {
    const float q = std::fabs(a - b) / g;
    const float w = std::min(0.5f, (q - 1.0f) * 0.4f);
    out[0] = F.row * (1.0f - w) + Q.row * w;
    out[1] = F.col * (1.0f - w) + Q.col * w;
  } else {
    out[0] = F.row;
    out[1] = F.col;
  }
}

int32_t Fit(const Blob* blob, ChessQuad* quad, int32_t schedule) {
  const int32_t n = blob->contourCount;
  const PointI16* c = blob->contour;
  if (n < 2 || c == nullptr) return 0;
  int32_t cur = 0, prev = 0;
  int64_t D = 0;
  for (int pass = 0; pass < 3; ++pass) {
    int64_t best = -1;
    int32_t bestIdx = cur;
    for (int32_t k = 0; k < n; ++k) {
      const int64_t d = Dist2(c[k], c[cur]);
      if (d > best) {
        best = d;
        bestIdx = k;
      }
    }
    D = std::max(D, best);
    prev = cur;
    cur = bestIdx;
  }
  const int32_t anchorA = prev, anchorB = cur;
  if (anchorA == anchorB) return 0;
  thread_local std::vector<int32_t> v, quadIdx;
  quadIdx.clear();
  for (int32_t e = 1; e <= 10; ++e) {
    if (static_cast<int64_t>(e) * e >= D) return 0;
    if (!Approximate(c, n, anchorA, anchorB, static_cast<int64_t>(e) * e, &v)) continue;
    if (v.size() < 4) return 0;
    if (v.size() == 4) {
      quadIdx = v;
      break;
    }
    float limit = 2.96f;
    if (schedule != 0) {
      static const float kLoose[4] = {2.93f, 2.91f, 2.89f, 2.87f};
      if (e >= 7) limit = kLoose[e - 7];
    }
    int32_t straight = -1, count = 0;
    for (int32_t k = 0; k < 5; ++k)
      if (Angle(c[v[(k + 4) % 5]], c[v[k]], c[v[(k + 1) % 5]]) > limit) {
        straight = k;
        ++count;
      }
    if (count == 1 && straight != 4) {
      v.erase(v.begin() + straight);
      quadIdx = v;
      break;
    }
  }
  if (quadIdx.size() != 4) return 0;
  // The linking and ordering walk take the corners counter-clockwise on the
  // picture (negative shoelace sum over (column, row)); an outline traced the
  // other way round is read backwards from its first vertex.
  {
    int64_t area = 0;
    for (int32_t k = 0; k < 4; ++k) {
      const PointI16& p = c[quadIdx[k]];
      const PointI16& q = c[quadIdx[(k + 1) % 4]];
      area += static_cast<int64_t>(p.col) * q.row - static_cast<int64_t>(q.col) * p.row;
    }
    if (area > 0) std::swap(quadIdx[1], quadIdx[3]);
  }

  for (int32_t k = 0; k < 4; ++k) {
    const PointI16& p = c[quadIdx[k]];
    const PointI16& pPrev = c[quadIdx[(k + 3) % 4]];
    const PointI16& pNext = c[quadIdx[(k + 1) % 4]];
    const bool longSides = Dist2(p, pPrev) >= 18 * 18 && Dist2(p, pNext) >= 18 * 18;
    if (longSides) {
      RefineVertex(c, n, p, quad->corners[k]);
    } else {
      quad->corners[k][0] = p.row;
      quad->corners[k][1] = p.col;
    }
  }
  quad->group = quad->column = quad->row = -1;
  quad->ordered = 0;
  quad->neighbours = 0;
  float mn = 0.0f, mx = 0.0f;
  for (int32_t k = 0; k < 4; ++k) {
    quad->links[k] = nullptr;
    const float dr = quad->corners[(k + 1) % 4][0] - quad->corners[k][0];
    const float dc = quad->corners[(k + 1) % 4][1] - quad->corners[k][1];
    const float d2 = dr * dr + dc * dc;
    if (k == 0 || d2 < mn) mn = d2;
    if (k == 0 || d2 > mx) mx = d2;
  }
  quad->minEdge = mn;
  quad->maxEdge = mx;
  return 1;
}

}  // namespace

int32_t ChessQuad_Fit(const Blob* blob, ChessQuad* quad) { return Fit(blob, quad, 0); }

int32_t ChessQuad_FitStraight(const Blob* blob, ChessQuad* quad, int32_t schedule) {
  return Fit(blob, quad, schedule);
}
