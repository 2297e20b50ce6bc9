#include "calibration/detect/outline_corner.h"

#include <algorithm>
#include <cmath>

#include "frame/geometry_utils.h"
#include "frame/numeric_constants.h"

namespace {

bool InQuadrant(float drow, float dcol, int32_t quadrant) {
  const bool up = quadrant == 0 || quadrant == 1;
  const bool left = quadrant == 0 || quadrant == 2;
  return (up ? drow <= 0.0f : drow >= 0.0f) && (left ? dcol <= 0.0f : dcol >= 0.0f);
}

// Walks the outline from start in steps of dir until the outline turns away
// from the seed-candidate line by more than 0.18 rad (true), or comes within
// 8 pixels of the seed or runs once round (false).
bool SharpWalk(const Blob* blob, const float seed[2], int32_t cand, int32_t dir) {
  const int32_t n = blob->contourCount;
  const PointI16& c = blob->contour[cand];
  for (int32_t step = 0; step < n; ++step) {
    const int32_t k = (((cand + dir * (8 + step)) % n) + n) % n;
    const PointI16& p = blob->contour[k];
    const float dr = p.row - seed[0], dc = p.col - seed[1];
    if (std::sqrt(dr * dr + dc * dc) < 8.0f) return false;
    const float pts[6] = {seed[1], seed[0], static_cast<float>(c.col), static_cast<float>(c.row),
                          static_cast<float>(p.col), static_cast<float>(p.row)};
    const float a = Vec2_AngleBetween(pts);
    if (std::min(a, kPi - a) > 0.18f) return true;
  }
  return false;
}

}  // namespace

int32_t Blob_FindCornerNear(const Blob* blob, const float seed[2], int32_t quadrant, int32_t swapAxes, float* best,
                            float out[2], float maxDist) {
  if (*best < maxDist) return 0;
  const int32_t n = blob->contourCount;
  if (n < 1 || blob->contour == nullptr) return 0;
  float minR = blob->contour[0].row, maxR = minR, minC = blob->contour[0].col, maxC = minC;
  for (int32_t i = 1; i < n; ++i) {
    minR = std::min<float>(minR, blob->contour[i].row);
    maxR = std::max<float>(maxR, blob->contour[i].row);
    minC = std::min<float>(minC, blob->contour[i].col);
    maxC = std::max<float>(maxC, blob->contour[i].col);
  }
  if (seed[0] < minR - 5.0f || seed[0] > maxR + 5.0f || seed[1] < minC - 5.0f || seed[1] > maxC + 5.0f) return 0;
  const float rowExt = (quadrant == 2 || quadrant == 3) ? maxR - seed[0] : seed[0] - minR;
  const float colExt = (quadrant == 1 || quadrant == 3) ? maxC - seed[1] : seed[1] - minC;
  if (rowExt < 0.1f || colExt < 0.1f) return 0;
  const float aspect = (colExt / rowExt) * (colExt / rowExt);
  if (aspect < 0.1f) return 0;
  const float weights[2] = {swapAxes != 0 ? aspect : 1.0f, swapAxes != 0 ? 1.0f : aspect};
  for (float w : weights) {
    float far = -1.0f, nearest = 1e30f;
    int32_t cand = -1;
    for (int32_t i = 0; i < n; ++i) {
      const float dr = blob->contour[i].row - seed[0], dc = blob->contour[i].col - seed[1];
      if (!InQuadrant(dr, dc, quadrant)) continue;
      if (std::atan2(std::fabs(dr), std::fabs(dc)) < 0.2617994f) continue;
      const float d = std::sqrt(w * dr * dr + dc * dc);
      if (d > far) {
        far = d;
        cand = i;
      }
      nearest = std::min(nearest, d);
    }
    if (cand < 0 || !(far > 0.0f) || !(far < *best) || !(far < maxDist) || !(nearest < 5.0f)) continue;
    if (!SharpWalk(blob, seed, cand, 1) || !SharpWalk(blob, seed, cand, -1)) continue;
    *best = far;
    out[0] = blob->contour[cand].row;
    out[1] = blob->contour[cand].col;
    return 1;
  }
  return 0;
}
