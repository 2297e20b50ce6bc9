#include "calibration/detect/side_markers.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/morphology.h"
#include "toolkit/thresholds.h"

namespace {

enum class Morph { kNone, kOpen, kClose };

// One binarisation of src (box mean radius r, threshold radius k, offset,
// then an opening or closing of radius m) and the quads of its regions in
// blob order. False when it has no region at all.
bool QuadsOf(const Matrix* src, int32_t r, int32_t k, float offset, Morph morph, int32_t m,
             std::vector<ChessQuad>* quads) {
  quads->clear();
  std::vector<float> buffer(static_cast<size_t>(src->cols) * src->rows);
  Matrix work{src->cols, src->rows, buffer.data()};
  Image_BoxMean(src, &work, r, r);
  Image_AdaptiveThreshold(&work, k, offset);
  if (morph == Morph::kOpen && m > 0) {
    Image_Erode(&work, m, m);
    Image_Dilate(&work, m, m);
  } else if (morph == Morph::kClose && m > 0) {
    Image_Dilate(&work, m, m);
    Image_Erode(&work, m, m);
  }
  BlobList* blobs = BlobList_FindComponents(&work);
  if (blobs == nullptr) return false;
  const bool any = blobs->count > 0;
  for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
    ChessQuad q;
    if (ChessQuad_Fit(b, &q) != 0) quads->push_back(q);
  }
  BlobList_Free(blobs);
  return any;
}

int32_t Agreement(const ChessQuad& a, const ChessQuad& b, float d2) {
  int32_t n = 0;
  for (const auto& p : a.corners)
    for (const auto& q : b.corners) {
      const float dr = p[0] - q[0], dc = p[1] - q[1];
      if (dr * dr + dc * dc < d2) {
        ++n;
        break;
      }
    }
  return n;
}

// Writes the quad's corners from its start corner relative to (pr, pc) on.
void WriteFromStart(const ChessQuad& q, float pr, float pc, float* out) {
  float d[4];
  for (int32_t k = 0; k < 4; ++k) d[k] = std::hypot(q.corners[k][0] - pr, q.corners[k][1] - pc);
  const float s[4] = {std::max(d[0] - d[2], 0.0f), d[1] - d[3], d[2] - d[0], d[3] - d[1]};
  int32_t start = 0;
  for (int32_t k = 1; k < 4; ++k)
    if (s[k] > s[start]) start = k;
  for (int32_t k = 0; k < 4; ++k) {
    out[2 * k] = q.corners[(start + k) % 4][0];
    out[2 * k + 1] = q.corners[(start + k) % 4][1];
  }
}

void WriteLeft(const ChessQuad& q, const Matrix* image, float* out) {
  WriteFromStart(q, 0.0f, static_cast<float>(image->cols - 1), out);
}
void WriteRight(const ChessQuad& q, float* out) { WriteFromStart(q, 0.0f, 0.0f, out); }

float MinCol(const ChessQuad& q) {
  return std::min(std::min(q.corners[0][1], q.corners[1][1]), std::min(q.corners[2][1], q.corners[3][1]));
}
float MaxCol(const ChessQuad& q) {
  return std::max(std::max(q.corners[0][1], q.corners[1][1]), std::max(q.corners[2][1], q.corners[3][1]));
}

bool Usable(const Matrix* image, const float* out) {
  return image != nullptr && image->data != nullptr && image->cols > 0 && image->rows > 0 && out != nullptr;
}

std::vector<float> Inverted(const Matrix* image) {
  std::vector<float> v(image->data, image->data + static_cast<size_t>(image->cols) * image->rows);
  for (float& x : v) x = 1.0f - x;
  return v;
}

// The marker beside the board on one side: every corner at least 6 px from
// the board's outermost point, three corners beyond it, at the board's
// height, and (with a near limit) not farther out than the limit.
struct SideRef {
  float row, col, rowMin, rowMax;
  bool left;
  float nearLimit;  // < 0: none
};

int32_t PickMarker(const std::vector<ChessQuad>& candidates, const SideRef& s) {
  int32_t best = -1;
  float bestScore = 0.0f;
  for (size_t i = 0; i < candidates.size(); ++i) {
    const ChessQuad& q = candidates[i];
    bool ok = true;
    int32_t beyond = 0, rowsInside = 0;
    float score = 100000000.0f, meanRow = 0.0f;
    for (const auto& c : q.corners) {
      const float dr = c[0] - s.row, dc = c[1] - s.col;
      const float d2 = dr * dr + dc * dc;
      if (d2 < 36.0f) ok = false;
      score = std::min(score, d2);
      if (s.left ? c[1] < s.col : c[1] > s.col) ++beyond;
      if (c[0] > s.rowMin && c[0] < s.rowMax) ++rowsInside;
      meanRow += 0.25f * c[0];
    }
    if (!ok || beyond < 3) continue;
    if (!(meanRow > s.rowMin && meanRow < s.rowMax) && rowsInside == 0) continue;
    if (s.nearLimit >= 0.0f && (s.left ? s.col - MaxCol(q) : MinCol(q) - s.col) > s.nearLimit) continue;
    if (best < 0 || score < bestScore) {
      best = static_cast<int32_t>(i);
      bestScore = score;
    }
  }
  return best;
}

// Where the two side markers are expected: a point near each (column, row)
// and the row band both lie in.
struct SideGuess {
  float leftCol, leftRow;
  float rightCol, rightRow;
  float rowMin, rowMax;
};

int32_t SideSearch(const Matrix* src, const Matrix* image, float* out, bool inverted, int32_t nearLimitFlag,
                   const SideGuess& g) {
  const float leftCol = g.leftCol, leftRow = g.leftRow, rightCol = g.rightCol, rightRow = g.rightRow;
  const float rowMin = g.rowMin, rowMax = g.rowMax;
  const bool large = image->cols >= 1280;
  const float minMax = inverted ? 4000.0f : (large ? 200.0f : 100.0f);
  const float r1 = inverted ? 9.0f : (large ? 16.0f : 9.0f), r2 = large ? 36.0f : 25.0f;
  const float nearLimit = inverted || nearLimitFlag != 1 ? -1.0f : (large ? 150.0f : 120.0f);
  const size_t maxCandidates = inverted ? 32 : 16;
  static const float kT1[6] = {0.0f, 0.02f, 0.03f, 0.02f, 0.06f, 0.08f};
  static const float kT2[6] = {0.04f, 0.04f, 0.05f, 0.04f, 0.04f, 0.04f};
  static const int32_t kK[6] = {25, 25, 51, 51, 51, 51};
  static const float kInv0[6] = {0.16f, 0.13f, 0.10f, 0.07f, 0.04f, 0.01f};
  static const float kInv1[6] = {0.18f, 0.15f, 0.12f, 0.19f, 0.06f, 0.03f};
  std::vector<ChessQuad> l0, l1, l2, candidates;
  for (int32_t i = 0; i < 6; ++i) {
    if (inverted) {
      if (!QuadsOf(src, 1, 21, kInv0[i], Morph::kNone, 0, &l0) || !QuadsOf(src, 1, 21, kInv1[i], Morph::kNone, 0, &l1))
        continue;
    } else {
      if (!QuadsOf(src, 1, kK[i], kT1[i], Morph::kNone, 0, &l0) ||
          !QuadsOf(src, 1, kK[i], kT1[i], i < 5 ? Morph::kOpen : Morph::kNone, 2, &l1) ||
          !QuadsOf(src, 1, kK[i], kT2[i], Morph::kClose, 2, &l2))
        continue;
    }
    candidates.clear();
    for (const ChessQuad& a : l0) {
      if (a.maxEdge < minMax) continue;
      bool keep = false;
      if (inverted) {
        for (const ChessQuad& b : l1)
          if (b.maxEdge >= minMax && Agreement(a, b, r1) >= 3) {
            keep = true;
            break;
          }
      } else {
        const ChessQuad* b = nullptr;
        for (const ChessQuad& q : l1)
          if (q.maxEdge >= minMax && Agreement(a, q, r1) >= 3) {
            b = &q;
            break;
          }
        if (b != nullptr)
          for (const ChessQuad& q3 : l2)
            if (q3.maxEdge >= minMax && Agreement(a, q3, r2) >= 2) {
              keep = true;
              break;
            }
      }
      if (!keep) continue;
      candidates.push_back(a);
      if (candidates.size() >= maxCandidates) break;
    }
    const int32_t left = PickMarker(candidates, {leftRow, leftCol, rowMin, rowMax, true, nearLimit});
    const int32_t right = PickMarker(candidates, {rightRow, rightCol, rowMin, rowMax, false, nearLimit});
    if (left < 0 || right < 0) continue;
    WriteLeft(candidates[left], image, out);
    WriteRight(candidates[right], out + 8);
    return 1;
  }
  return 0;
}

}  // namespace

int32_t Chessboard_FindSideQuads(const Matrix* image, float* out, int32_t nearLimitFlag, float leftCol,
                                 float leftRow, float rightCol, float rightRow, float rowMin, float rowMax) {
  if (!Usable(image, out)) return 0;
  return SideSearch(image, image, out, false, nearLimitFlag, {leftCol, leftRow, rightCol, rightRow, rowMin, rowMax});
}

int32_t Chessboard_FindSideQuadsInverted(const Matrix* image, float* out, float leftCol, float leftRow,
                                         float rightCol, float rightRow, float rowMin, float rowMax) {
  if (!Usable(image, out)) return 0;
  std::vector<float> inv = Inverted(image);
  const Matrix src{image->cols, image->rows, inv.data()};
  return SideSearch(&src, image, out, true, 0, {leftCol, leftRow, rightCol, rightRow, rowMin, rowMax});
}

int32_t Chessboard_FindNestedMarkerPair(const Matrix* image, float* out, int32_t openSize) {
  if (!Usable(image, out)) return 0;
  std::vector<float> inv = Inverted(image);
  const Matrix inverted{image->cols, image->rows, inv.data()};
  static const float kOff0[3] = {0.01f, 0.03f, -0.01f}, kOff1[3] = {0.03f, 0.0f, -0.02f},
                     kOff2[3] = {-0.01f, 0.01f, -0.03f};
  const float half = static_cast<float>(image->cols) * 0.5f;
  std::vector<ChessQuad> l0, l1, l2;
  for (int32_t i = 0; i < 3; ++i) {
    if (!QuadsOf(image, 1, 21, kOff0[i], Morph::kOpen, openSize, &l0) ||
        !QuadsOf(&inverted, 1, 21, kOff1[i], Morph::kOpen, openSize, &l1) ||
        !QuadsOf(image, 1, 21, kOff2[i], Morph::kOpen, openSize, &l2))
      continue;
    std::vector<std::pair<const ChessQuad*, const ChessQuad*>> pairs;
    bool tooMany = false;
    for (const ChessQuad& a : l0) {
      if (a.maxEdge < 400.0f) continue;
      const ChessQuad* confirm = nullptr;
      for (const ChessQuad& q : l2)
        if (q.maxEdge >= 400.0f && Agreement(a, q, 9.0f) >= 3) {
          confirm = &q;
          break;
        }
      if (confirm == nullptr) continue;
      float top = a.corners[0][0], bottom = top, lo = a.corners[0][1], hi = lo;
      for (const auto& c : a.corners) {
        top = std::min(top, c[0]);
        bottom = std::max(bottom, c[0]);
        lo = std::min(lo, c[1]);
        hi = std::max(hi, c[1]);
      }
      const float cr = 0.5f * (top + bottom), cc = 0.5f * (lo + hi);
      float best = 100000.0f;
      const ChessQuad* inner = nullptr;
      for (const ChessQuad& q : l1) {
        if (q.maxEdge < 36.0f) continue;
        bool inside = true;
        float qt = q.corners[0][0], qb = qt, ql = q.corners[0][1], qh = ql;
        for (const auto& c : q.corners) {
          inside = inside && c[0] >= top && c[0] <= bottom && c[1] >= lo && c[1] <= hi;
          qt = std::min(qt, c[0]);
          qb = std::max(qb, c[0]);
          ql = std::min(ql, c[1]);
          qh = std::max(qh, c[1]);
        }
        if (!inside) continue;
        const float dr = 0.5f * (qt + qb) - cr, dc = 0.5f * (ql + qh) - cc;
        if (dr * dr + dc * dc < best) {
          best = dr * dr + dc * dc;
          inner = &q;
        }
      }
      if (inner == nullptr || !(best < 625.0f)) continue;
      pairs.push_back({&a, inner});
      if (pairs.size() >= 4) {
        tooMany = true;
        break;
      }
    }
    if (tooMany || pairs.size() != 2) continue;
    const std::pair<const ChessQuad*, const ChessQuad*>* left = nullptr;
    const std::pair<const ChessQuad*, const ChessQuad*>* right = nullptr;
    for (const auto& p : pairs) {
      if (MinCol(*p.first) > half)
        right = &p;
      else if (MaxCol(*p.first) < half)
        left = &p;
    }
    if (left == nullptr || right == nullptr) continue;
    WriteLeft(*left->first, image, out);
    WriteRight(*right->first, out + 8);
    WriteLeft(*left->second, image, out + 16);
    WriteRight(*right->second, out + 24);
    return 1;
  }
  return 0;
}

int32_t Chessboard_FindLowerMarkerPair(const Matrix* image, float* out, int32_t openSize, float minSide) {
  if (!Usable(image, out)) return 0;
  static const int32_t kR[5] = {1, 1, 1, 1, 2}, kK[5] = {21, 21, 21, 48, 32};
  static const float kOff0[5] = {0.01f, 0.03f, -0.01f, 0.01f, -0.05f}, kOff1[5] = {-0.01f, 0.01f, -0.03f, 0.0f, -0.05f};
  const float limit = minSide * minSide;
  const int32_t firstEntry = (((2 * openSize) % 5) + 5) % 5;
  const float targetRow = static_cast<float>((2 * image->rows) / 3), centre = static_cast<float>(image->cols / 2);
  const float half = static_cast<float>(image->cols) * 0.5f;
  std::vector<ChessQuad> l0, l1, candidates;
  for (int32_t t = 0; t < 5; ++t) {
    const int32_t j = (firstEntry + t) % 5;
    if (!QuadsOf(image, kR[j], kK[j], kOff0[j], Morph::kOpen, openSize, &l0) ||
        !QuadsOf(image, kR[j], kK[j], kOff1[j], Morph::kOpen, openSize, &l1))
      continue;
    candidates.clear();
    for (const ChessQuad& a : l0) {
      if (a.maxEdge < limit) continue;
      bool keep = false;
      for (const ChessQuad& b : l1)
        if (b.maxEdge >= limit && Agreement(a, b, 25.0f) == 4) {
          keep = true;
          break;
        }
      if (!keep) continue;
      candidates.push_back(a);
      if (candidates.size() >= 5) break;
    }
    if (candidates.size() < 2 || (candidates.size() > 2 && t < 2)) continue;
    float bestLeft = 10000.0f, bestRight = 10000.0f;
    int32_t left = -1, right = -1;
    for (size_t i = 0; i < candidates.size(); ++i) {
      const ChessQuad& q = candidates[i];
      int32_t lo = 0, hi = 0;
      for (int32_t k = 1; k < 4; ++k) {
        if (q.corners[k][1] < q.corners[lo][1]) lo = k;
        if (q.corners[k][1] > q.corners[hi][1]) hi = k;
      }
      if (q.corners[lo][1] > half) {
        const float score = (centre - q.corners[lo][1]) + std::fabs(q.corners[lo][0] - targetRow);
        if (score < bestRight) {
          bestRight = score;
          right = static_cast<int32_t>(i);
        }
      } else if (q.corners[hi][1] < half) {
        const float score = (q.corners[hi][1] - centre) + std::fabs(q.corners[hi][0] - targetRow);
        if (score < bestLeft) {
          bestLeft = score;
          left = static_cast<int32_t>(i);
        }
      }
    }
    if (left < 0 || right < 0) continue;
    WriteLeft(candidates[left], image, out);
    WriteRight(candidates[right], out + 8);
    return 1;
  }
  return 0;
}
