#include "calibration/detect/chess_quad.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace {

inline float Dist2(const float* a, const float* b) {
  const float dr = a[0] - b[0], dc = a[1] - b[1];
  return dr * dr + dc * dc;
}

bool Linked(const ChessQuad* a, const ChessQuad* b) {
  for (int k = 0; k < 4; ++k)
    if (a->links[k] == b || b->links[k] == a) return true;
  return false;
}

// Free (unlinked) corners bucketed by position, so that a corner's partners
// are looked up among its neighbours instead of among all quads.
class CornerGrid {
 public:
  CornerGrid(ChessQuad* quads, int32_t n, float cell) : quads_(quads), cell_(cell > 1.0f ? cell : 1.0f) {
    for (int32_t i = 0; i < n; ++i)
      for (int32_t k = 0; k < 4; ++k)
        if (quads[i].links[k] == nullptr) cells_[Key(quads[i].corners[k])].push_back(4 * i + k);
  }
  void Remove(int32_t id) {
    auto it = cells_.find(Key(quads_[id / 4].corners[id % 4]));
    if (it == cells_.end()) return;
    auto& v = it->second;
    v.erase(std::remove(v.begin(), v.end(), id), v.end());
  }
  // Calls f(id) for every free corner within one cell of p (a radius of up
  // to one cell size).
  template <typename F>
  void Near(const float* p, F f) const {
    const int64_t cr = Cell(p[0]), cc = Cell(p[1]);
    for (int64_t r = cr - 1; r <= cr + 1; ++r)
      for (int64_t c = cc - 1; c <= cc + 1; ++c) {
        auto it = cells_.find(Pack(r, c));
        if (it == cells_.end()) continue;
        for (int32_t id : it->second) f(id);
      }
  }

 private:
  int64_t Cell(float v) const { return static_cast<int64_t>(std::floor(v / cell_)); }
  static int64_t Pack(int64_t r, int64_t c) {
    return static_cast<int64_t>((static_cast<uint64_t>(r) << 32) ^ (static_cast<uint64_t>(c) & 0xffffffffu));
  }
  int64_t Key(const float* p) const { return Pack(Cell(p[0]), Cell(p[1])); }
  ChessQuad* quads_;
  float cell_;
  std::unordered_map<int64_t, std::vector<int32_t>> cells_;
};

}  // namespace

void ChessQuad_LinkNeighbours(ChessQuad* quads, int32_t n, float maxDist2, float minEdge2) {
  if (n < 2) return;
  CornerGrid grid(quads, n, std::sqrt(std::max(maxDist2, 0.0f)) + 1.0f);
  for (int32_t i = 0; i < n; ++i) {
    ChessQuad& qi = quads[i];
    if (qi.minEdge < minEdge2) continue;
    for (int32_t k = 0; k < 4; ++k) {
      if (qi.links[k] != nullptr) continue;
      // Closest free corner of another quad; ties go to the lowest (quad,
      // corner), as a scan in array order would give.
      float best = 0.0f;
      int32_t bestId = -1;
      grid.Near(qi.corners[k], [&](int32_t id) {
        const int32_t j = id / 4;
        if (j == i) return;
        const ChessQuad& qj = quads[j];
        if (qj.minEdge < minEdge2) return;
        const float d = Dist2(qi.corners[k], qj.corners[id % 4]);
        if (d > maxDist2) return;
        const float ratio = qi.minEdge / qj.minEdge;
        if (!(ratio >= 0.0f && ratio <= 16.0f)) return;
        if (bestId < 0 || d < best || (d == best && id < bestId)) {
          best = d;
          bestId = id;
        }
      });
      if (bestId < 0) continue;
      const int32_t j = bestId / 4, m = bestId % 4;
      ChessQuad& qj = quads[j];
      if (Linked(&qi, &qj) || qi.neighbours >= 4 || qj.neighbours >= 4) continue;
      const float* cand = qj.corners[m];
      bool reject = false;
      for (int32_t kk = 0; kk < 4 && !reject; ++kk)
        if (kk != k && Dist2(cand, qi.corners[kk]) < best) reject = true;
      if (reject) continue;
      grid.Near(cand, [&](int32_t id) {
        const int32_t t = id / 4;
        if (t == i || t == j) return;
        if (Dist2(cand, quads[t].corners[id % 4]) < best) reject = true;
      });
      if (reject) continue;
      grid.Remove(4 * i + k);
      grid.Remove(bestId);
      qi.links[k] = &qj;
      qj.links[m] = &qi;
      qi.neighbours += 1;
      qj.neighbours += 1;
      const float mr = 0.5f * (qi.corners[k][0] + qj.corners[m][0]);
      const float mc = 0.5f * (qi.corners[k][1] + qj.corners[m][1]);
      qi.corners[k][0] = qj.corners[m][0] = mr;
      qi.corners[k][1] = qj.corners[m][1] = mc;
    }
  }
}

int32_t ChessQuad_CollectGroup(ChessQuad* quads, int32_t n, ChessQuad** group, int32_t g) {
  int32_t start = -1;
  for (int32_t i = 0; i < n; ++i)
    if (quads[i].neighbours > 0 && quads[i].group < 0) {
      start = i;
      break;
    }
  if (start < 0) return 0;
  int32_t size = 0;
  std::vector<ChessQuad*> stack;
  ChessQuad* q = &quads[start];
  q->group = g;
  q->ordered = 0;
  group[size++] = q;
  stack.push_back(q);
  while (!stack.empty()) {
    q = stack.back();
    stack.pop_back();
    for (int32_t k = 0; k < 4; ++k) {
      ChessQuad* nb = q->links[k];
      if (nb == nullptr || nb->neighbours <= 0 || nb->group >= 0) continue;
      nb->group = g;
      nb->ordered = 0;
      group[size++] = nb;
      stack.push_back(nb);
    }
  }
  return size;
}

int32_t ChessQuad_RotateTo(ChessQuad* quad, const float point[2], int32_t k) {
  int32_t m = -1;
  for (int32_t i = 0; i < 4; ++i)
    if (quad->corners[i][0] == point[0] && quad->corners[i][1] == point[1]) {
      m = i;
      break;
    }
  if (m < 0) return 0;
  const int32_t s = ((k - m) % 4 + 4) % 4;
  if (s == 0) return 1;
  float corners[4][2];
  ChessQuad* links[4];
  for (int32_t i = 0; i < 4; ++i) {
    corners[(i + s) % 4][0] = quad->corners[i][0];
    corners[(i + s) % 4][1] = quad->corners[i][1];
    links[(i + s) % 4] = quad->links[i];
  }
  for (int32_t i = 0; i < 4; ++i) {
    quad->corners[i][0] = corners[i][0];
    quad->corners[i][1] = corners[i][1];
    quad->links[i] = links[i];
  }
  return 1;
}

int32_t ChessQuad_OrderGroup(ChessQuad** group, int32_t size, int32_t* cols, int32_t* rows) {
  if (size < 1) return 0;
  static const int32_t kStep[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};  // (column, row)
  ChessQuad* first = group[0];
  first->column = 0;
  first->row = 0;
  first->ordered = 1;
  std::vector<ChessQuad*> stack{first};
  int32_t minC = 0, maxC = 0, minR = 0, maxR = 0;
  while (!stack.empty()) {
    ChessQuad* q = stack.back();
    stack.pop_back();
    minC = std::min(minC, q->column);
    maxC = std::max(maxC, q->column);
    minR = std::min(minR, q->row);
    maxR = std::max(maxR, q->row);
    for (int32_t k = 0; k < 4; ++k) {
      ChessQuad* nb = q->links[k];
      if (nb == nullptr || nb->ordered) continue;
      // The shared corner faces back: corner k of q is corner k + 2 of nb.
      if (!ChessQuad_RotateTo(nb, q->corners[k], (k + 2) % 4)) continue;
      nb->column = q->column + kStep[k][0];
      nb->row = q->row + kStep[k][1];
      nb->ordered = 1;
      stack.push_back(nb);
    }
  }
  const int32_t width = maxC - minC + 1, height = maxR - minR + 1;
  bool rotate;
  if (width == *cols && height == *rows) {
    rotate = false;
    if (*cols == *rows) {
      float colFirst = 0, colLast = 0, rowFirst = 0, rowLast = 0;
      for (int32_t i = 0; i < size; ++i) {
        const ChessQuad* q = group[i];
        if (!q->ordered) continue;
        const float side = std::sqrt(q->maxEdge);
        if (q->column == minC) colFirst += side;
        if (q->column == maxC) colLast += side;
        if (q->row == minR) rowFirst += side;
        if (q->row == maxR) rowLast += side;
      }
      const float A = std::max(colFirst, colLast), B = std::max(rowFirst, rowLast);
      if (B > 28.0f || A > 28.0f) {
        rotate = A > B;
      } else {
        const ChessQuad* q = group[size - 1];
        const float c0 = q->corners[0][1], c1 = q->corners[1][1], c2 = q->corners[2][1], c3 = q->corners[3][1];
        const float s = c2 + c3;
        rotate = !(s > c0 + c1 && s > c1 + c2 && s > c0 + c3);
      }
    }
  } else if (width == *rows && height == *cols) {
    rotate = true;
  } else {
    return 0;
  }
  int32_t placed = 0;
  int32_t nMinC = 1 << 30, nMinR = 1 << 30, nMaxC = -(1 << 30), nMaxR = -(1 << 30);
  for (int32_t i = 0; i < size; ++i) {
    ChessQuad* q = group[i];
    if (!q->ordered) continue;
    if (rotate) {
      const int32_t c = q->column;
      q->column = q->row;
      q->row = -c;
    }
    nMinC = std::min(nMinC, q->column);
    nMinR = std::min(nMinR, q->row);
    nMaxC = std::max(nMaxC, q->column);
    nMaxR = std::max(nMaxR, q->row);
    ++placed;
  }
  for (int32_t i = 0; i < size; ++i) {
    ChessQuad* q = group[i];
    if (!q->ordered) continue;
    q->column -= nMinC;
    q->row -= nMinR;
  }
  *cols = nMaxC - nMinC + 1;
  *rows = nMaxR - nMinR + 1;
  return placed;
}

int32_t ChessQuad_FillGrid(ChessQuad** group, int32_t size, int32_t cols, int32_t rows, float* points) {
  if (size < 1 || cols < 2 || rows < 2) return 0;
  const ChessQuad* ref = nullptr;
  for (int32_t i = 0; i < size && ref == nullptr; ++i)
    if (group[i]->ordered && group[i]->neighbours == 4) ref = group[i];
  if (ref == nullptr) {
    if (cols >= 4 && rows >= 4) return 0;
    for (int32_t i = 0; i < size; ++i)
      if (group[i]->ordered && (ref == nullptr || group[i]->neighbours > ref->neighbours)) ref = group[i];
    if (ref == nullptr) return 0;
  }
  int32_t dr[4], dc[4];
  bool known[4] = {false, false, false, false};
  for (int32_t k = 0; k < 4; ++k) {
    const ChessQuad* nb = ref->links[k];
    if (nb == nullptr) continue;
    dr[k] = (nb->row - (ref->row - 1)) / 2 - 1;
    dc[k] = (nb->column - (ref->column - 1)) / 2 - 1;
    known[k] = true;
  }
  for (int32_t k = 0; k < 4; ++k) {
    if (known[k] || ref->links[(k + 2) % 4] == nullptr) continue;
    dr[k] = dr[(k + 2) % 4] == -1 ? 0 : -1;
    dc[k] = dc[(k + 2) % 4] == -1 ? 0 : -1;
    known[k] = true;
  }
  const int32_t gw = cols - 1, gh = rows - 1;
  for (int32_t i = 0; i < gw * gh; ++i) points[2 * i] = points[2 * i + 1] = -1.0f;
  std::vector<uint8_t> set(static_cast<size_t>(gw) * gh, 0);
  int32_t count = 0;
  for (int32_t i = 0; i < size; ++i) {
    const ChessQuad* q = group[i];
    if (!q->ordered) continue;
    for (int32_t k = 0; k < 4; ++k) {
      if (q->links[k] == nullptr || !known[k]) continue;
      const int32_t r = q->row + dr[k], c = q->column + dc[k];
      if (r < 0 || r >= gh || c < 0 || c >= gw || set[r * gw + c]) continue;
      set[r * gw + c] = 1;
      points[2 * (r * gw + c)] = q->corners[k][0];
      points[2 * (r * gw + c) + 1] = q->corners[k][1];
      ++count;
    }
  }
  return count;
}
