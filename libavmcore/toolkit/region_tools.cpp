#include "toolkit/region_tools.h"

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

constexpr int32_t kFillMaxPoints = 256;
constexpr int32_t kNeighbours[8][2] = {{0, -1}, {-1, -1}, {-1, 0}, {-1, 1},
                                       {0, 1},  {1, 1},   {1, 0},  {1, -1}};

// Claims whatever is left of a region the bounded fill gave up on, so that
// its remainder is not mistaken for separate small regions later.
void ClaimRest(FloodFillState* s) {
  std::vector<int32_t> stack;
  for (int32_t i = 0; i < s->count; ++i) stack.push_back(s->rows[i] * s->width + s->cols[i]);
  while (!stack.empty()) {
    int32_t idx = stack.back();
    stack.pop_back();
    int32_t row = idx / s->width, col = idx % s->width;
    for (const auto& n : kNeighbours) {
      int32_t rr = row + n[0], cc = col + n[1];
      if (rr < 0 || rr >= s->height || cc < 0 || cc >= s->width) continue;
      uint8_t& m = s->mask[rr * s->width + cc];
      if (m != 1) continue;
      m = 0;
      stack.push_back(rr * s->width + cc);
    }
  }
}

// Seeds one region at (row, col) and clears it in dst when small.
void RemoveRegionFrom(int32_t maxSize, ImageI32* dst, FloodFillState* s, int32_t row, int32_t col) {
  s->mask[row * s->width + col] = 0;
  s->count = 1;
  s->rows[0] = row;
  s->cols[0] = col;
  Image_FloodFill(s, row, col);
  if (s->count >= s->maxPoints - 1) {
    ClaimRest(s);
    return;
  }
  if (s->count >= 1 && s->count <= maxSize) {
    for (int32_t i = 0; i < s->count; ++i) dst->data[s->rows[i] * dst->width + s->cols[i]] = 0;
  }
}

void InitFill(FloodFillState* s, ImageU8* mask) {
  s->width = mask->width;
  s->height = mask->height;
  s->mask = mask->data;
  s->maxPoints = kFillMaxPoints;
  s->count = 0;
}

}  // namespace

void Image_CirclePoints(int32_t r, PointI32* points, int32_t* count) {
  *count = 0;
  if (r < 0 || r >= 500) return;
  if (r == 0) {
    points[0] = {0, 0};
    *count = 1;
    return;
  }
  const int32_t side = 2 * r + 1;
  float* visited = static_cast<float*>(calloc(static_cast<size_t>(side) * side, sizeof(float)));
  auto cell = [&](int32_t p, int32_t q) -> float* {
    if (p < -r || p > r || q < -r || q > r) return nullptr;
    return &visited[(q + r) * side + (p + r)];
  };
  const int32_t maxCount = 8 * r;
  PointI32 cur = {0, -r};
  points[0] = cur;
  *cell(cur.p0, cur.p1) = 1.0f;
  int32_t n = 1;
  const int32_t r2 = r * r;
  while (n < maxCount) {
    const int32_t cand[8][2] = {{cur.p0, cur.p1 - 1},     {cur.p0 + 1, cur.p1 - 1},
                                {cur.p0 + 1, cur.p1},     {cur.p0 + 1, cur.p1 + 1},
                                {cur.p0, cur.p1 + 1},     {cur.p0 - 1, cur.p1 + 1},
                                {cur.p0 - 1, cur.p1},     {cur.p0 - 1, cur.p1 - 1}};
    int32_t best = -1, bestCost = 0;
    for (int32_t i = 0; i < 8; ++i) {
      const int32_t p = cand[i][0], q = cand[i][1];
      const float* v = cell(p, q);
      int32_t cost = (v && *v != 0.0f) ? 1000 : std::abs(p * p + q * q - r2);
      if (i == 0) {
        if (cost > 999) cost = 1000;
        best = 0;
        bestCost = cost;
      } else if (cost < bestCost) {
        best = i;
        bestCost = cost;
      }
    }
    if (bestCost >= 1000) break;  // boxed in by visited points: nowhere to go
    cur = {cand[best][0], cand[best][1]};
    if (float* v = cell(cur.p0, cur.p1)) *v = 1.0f;
    if (cur.p0 == points[0].p0 && cur.p1 == points[0].p1) break;
    points[n++] = cur;
    // From r points on (and at least 4, or a radius-2 walk would fall back
    // onto its start after two points) the walk may close on its start.
    if (n >= r && n >= 4) *cell(points[0].p0, points[0].p1) = 0.0f;
  }
  free(visited);
  *count = n;
}

void Matrix_DiscMask(int32_t r, Matrix* m) {
  for (int32_t i = 0; i < m->rows * m->cols; ++i) m->data[i] = 0.0f;
  const double rr = static_cast<double>(r) + 0.3;
  const int32_t t = static_cast<int32_t>(rr * rr);
  for (int32_t dy = -r; dy <= r; ++dy)
    for (int32_t dx = -r; dx <= r; ++dx)
      if (dx * dx + dy * dy <= t)
        m->data[(r + dy) * m->cols + (r + dx)] = 1.0f;
}

float Point_Distance(PointI32 a, PointI32 b) {
  const int64_t d0 = static_cast<int64_t>(a.p0) - b.p0;
  const int64_t d1 = static_cast<int64_t>(a.p1) - b.p1;
  return static_cast<float>(std::sqrt(static_cast<double>(d0 * d0 + d1 * d1)));
}

void Image_FloodFill(FloodFillState* state, int32_t row, int32_t col) {
  if (state->count >= state->maxPoints - 1) return;
  for (const auto& n : kNeighbours) {
    const int32_t rr = row + n[0], cc = col + n[1];
    if (rr < 0 || rr >= state->height || cc < 0 || cc >= state->width) continue;
    uint8_t& m = state->mask[rr * state->width + cc];
    if (m != 1) continue;
    m = 0;
    state->rows[state->count] = rr;
    state->cols[state->count] = cc;
    state->count += 1;
    if (state->count >= state->maxPoints - 1) return;
    Image_FloodFill(state, rr, cc);
    if (state->count >= state->maxPoints - 1) return;
  }
}

void Image_RemoveSmallRegions(int32_t maxSize, ImageI32* dst, ImageU8* mask) {
  if (mask->width < 1 || mask->height < 1) return;
  FloodFillState s;
  InitFill(&s, mask);
  for (int32_t row = 0; row < mask->height; ++row)
    for (int32_t col = 0; col < mask->width; ++col)
      if (s.mask[row * s.width + col] == 1) RemoveRegionFrom(maxSize, dst, &s, row, col);
}

void Image_RemoveSmallRegionsAt(int32_t maxSize, ImageI32* dst, ImageU8* mask,
                                const uint32_t (*seeds)[2], int32_t seedCount) {
  if (mask->width < 1 || mask->height < 1) return;
  FloodFillState s;
  InitFill(&s, mask);
  for (int32_t i = 0; i < seedCount; ++i) {
    const uint32_t row = seeds[i][0], col = seeds[i][1];
    if (row >= static_cast<uint32_t>(mask->height) || col >= static_cast<uint32_t>(mask->width)) continue;
    if (s.mask[row * s.width + col] != 1) continue;
    RemoveRegionFrom(maxSize, dst, &s, static_cast<int32_t>(row), static_cast<int32_t>(col));
  }
}
