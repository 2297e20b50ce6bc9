#include "calibration/detect/quad_measures.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/quad_search.h"

namespace {

struct MarkerStep {
  float offset;
  int32_t mode;
};

// The angle measurement's own schedule: entry 5 differs from the marker
// schedule of the quad search.
const MarkerStep kAMSchedule[kMarkerScheduleSize] = {
    {0.0f, 0},  {0.0f, 8},   {0.01f, 8},  {0.0f, 7},   {0.03f, 7},  {0.03f, 6}, {-0.02f, 7},
    {-0.01f, 1}, {0.007f, 7}, {0.0f, 1},  {0.03f, 8},  {0.02f, 1},  {0.04f, 6}, {0.02f, 6}};

struct Extent {
  float minRow = 10000.0f, maxRow = 0.0f, minCol = 10000.0f, maxCol = 0.0f;
};

Extent QuadExtent(const float* q) {
  Extent e;
  for (int32_t i = 0; i < 4; ++i) {
    e.minRow = std::min(e.minRow, q[2 * i]);
    e.maxRow = std::max(e.maxRow, q[2 * i]);
    e.minCol = std::min(e.minCol, q[2 * i + 1]);
    e.maxCol = std::max(e.maxCol, q[2 * i + 1]);
  }
  return e;
}

}  // namespace

void Quad_Measure(const float* quad, float* minSide, float* maxSide, float* angleSpread, float* maxRowStep,
                  float* maxColStep) {
  static const int32_t kSides[4][2] = {{0, 1}, {1, 3}, {3, 2}, {2, 0}};
  float lo = 1000000000.0f, hi = 0.0f, rowStep = 0.0f, colStep = 0.0f;
  for (const auto& s : kSides) {
    const float dr = quad[2 * s[0]] - quad[2 * s[1]], dc = quad[2 * s[0] + 1] - quad[2 * s[1] + 1];
    const float d2 = dr * dr + dc * dc;
    lo = std::min(lo, d2);
    hi = std::max(hi, d2);
    rowStep = std::max(rowStep, std::fabs(dr));
    colStep = std::max(colStep, std::fabs(dc));
  }
  if (minSide != nullptr) *minSide = std::sqrt(lo);
  if (maxSide != nullptr) *maxSide = std::sqrt(hi);
  if (maxRowStep != nullptr) *maxRowStep = rowStep;
  if (maxColStep != nullptr) *maxColStep = colStep;
  if (angleSpread != nullptr) {
    auto dist2 = [&](int32_t a, int32_t b) {
      const float dr = quad[2 * a] - quad[2 * b], dc = quad[2 * a + 1] - quad[2 * b + 1];
      return dr * dr + dc * dc;
    };
    const int32_t apex = dist2(0, 3) > dist2(1, 2) ? 0 : 1;
    float angles[3];
    int32_t n = 0;
    for (int32_t k = 0; k < 4; ++k)
      if (k != apex)
        angles[n++] = std::atan2(quad[2 * apex] - quad[2 * k], quad[2 * apex + 1] - quad[2 * k + 1]);
    float spread = 0.0f;
    for (int32_t a = 0; a < 3; ++a)
      for (int32_t b = a + 1; b < 3; ++b) spread = std::max(spread, std::fabs(angles[a] - angles[b]));
    *angleSpread = spread;
  }
}

bool Quad_EnclosesQuad(const float* inner, const float* outer, float ratio) {
  const Extent o = QuadExtent(outer);
  for (int32_t i = 0; i < 4; ++i) {
    const float r = inner[2 * i], c = inner[2 * i + 1];
    if (!(r > o.minRow && r < o.maxRow && c > o.minCol && c < o.maxCol)) return false;
  }
  const Extent in = QuadExtent(inner);
  return (in.maxCol - in.minCol) / (o.maxCol - o.minCol) >= ratio &&
         (in.maxRow - in.minRow) / (o.maxRow - o.minRow) >= ratio;
}

int32_t Chessboard_FindMarkerQuadsAM(const Matrix* image, int32_t side, int32_t index, float* out, float minEdgeLo,
                                     float minEdgeHi, float maxEdgeLo, float maxEdgeHi) {
  if (index < 0 || index >= kMarkerScheduleSize || image == nullptr || out == nullptr) return 0;
  const MarkerStep step = kAMSchedule[index];
  std::vector<float> quads(8 * kQuadSearchMax);
  const int32_t count = Chessboard_FindQuads(image, side, step.mode, 0, quads.data(), 1, 1, minEdgeLo, minEdgeHi,
                                             maxEdgeLo, maxEdgeHi, step.offset);
  int32_t kept = 0;
  for (int32_t i = 0; i < count && kept < kMarkerQuadMax; ++i) {
    const float* q = &quads[8 * i];
    float rowStep = 0.0f, colStep = 0.0f;
    Quad_Measure(q, nullptr, nullptr, nullptr, &rowStep, &colStep);
    if (rowStep > 0.76f * static_cast<float>(image->rows) || colStep > 0.76f * static_cast<float>(image->cols))
      continue;
    bool encloses = false;
    for (int32_t j = 0; j < count && !encloses; ++j)
      if (j != i) encloses = Quad_EnclosesQuad(&quads[8 * j], q, 0.38f);
    if (!encloses) continue;
    std::copy(q, q + 8, out + 8 * kept);
    ++kept;
  }
  return kept;
}

void Quad_PermuteCorners(float* points, int32_t k) {
  static const int32_t kT[4][4] = {{0, 1, 2, 3}, {1, 3, 0, 2}, {2, 0, 3, 1}, {3, 2, 1, 0}};
  if (points == nullptr || k < 0 || k > 3) return;
  float old[8];
  std::copy(points, points + 8, old);
  for (int32_t i = 0; i < 4; ++i) {
    points[2 * i] = old[2 * kT[k][i]];
    points[2 * i + 1] = old[2 * kT[k][i] + 1];
  }
}
