#include "calibration/detect/template_corner_pieces.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "frame/geometry_utils.h"
#include "frame/numeric_constants.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/thresholds.h"

namespace {

// The loose corner list of a patch with its smoothed copy.
struct LooseCorners {
  std::vector<float> smoothData;
  Matrix smooth{0, 0, nullptr};
  std::vector<TemplateCorner> corners;
};

bool Prepare(const Matrix* patch, float t1, float t2, LooseCorners* lc) {
  if (patch == nullptr || patch->data == nullptr || patch->cols < 1 || patch->rows < 1) return false;
  const size_t n = static_cast<size_t>(patch->cols) * patch->rows;
  lc->smoothData.resize(n);
  lc->smooth = Matrix{patch->cols, patch->rows, lc->smoothData.data()};
  Image_BoxMean(patch, &lc->smooth, 1, 1);
  std::vector<float> like(n);
  Matrix likelihood{patch->cols, patch->rows, like.data()};
  CornerLikelihood(&lc->smooth, &likelihood, 0);
  TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
  int32_t counts[3] = {0, 0, 0};
  DetectTemplateCorners(&lc->smooth, &likelihood, lists, counts, 0, t1, t2);
  if (lists[1] != nullptr && counts[1] > 0) lc->corners.assign(lists[1], lists[1] + counts[1]);
  for (TemplateCorner* l : lists) free(l);
  return true;
}

inline float Px(const Matrix* m, int32_t r, int32_t c) {
  r = std::clamp(r, 0, m->rows - 1);
  c = std::clamp(c, 0, m->cols - 1);
  return m->data[static_cast<size_t>(r) * m->cols + c];
}

float BlockSum(const Matrix* m, int32_t r0, int32_t c0, int32_t k) {
  float s = 0.0f;
  for (int32_t r = r0; r < r0 + k; ++r)
    for (int32_t c = c0; c < c0 + k; ++c) s += m->data[static_cast<size_t>(r) * m->cols + c];
  return s;
}

}  // namespace

float AngleDiff2Pi(float a, float b) {
  float d = std::fmod(std::fabs(a - b), 2.0f * kPi);
  if (d > kPi) d = 2.0f * kPi - d;
  return d;
}

float AngleDiffHalfPi(float a, float b) {
  const float d = AngleDiff2Pi(a, b);
  return d > kPi / 2.0f ? kPi - d : d;
}

float LocalContrast(const Matrix* image, int32_t k, int32_t y, int32_t x) {
  if (image == nullptr || k < 2 || y - k < 0 || x - k < 0 || y + k >= image->rows || x + k >= image->cols)
    return 0.0f;
  double sum = 0.0;
  for (int32_t r = y - k; r <= y + k; ++r)
    for (int32_t c = x - k; c <= x + k; ++c) sum += image->data[static_cast<size_t>(r) * image->cols + c];
  const double m = sum / static_cast<double>((2 * k + 1) * (2 * k + 1));
  double hi = 0.0, lo = 0.0;
  int32_t nHi = 0, nLo = 0;
  for (int32_t r = y - k; r <= y + k - 3; ++r)
    for (int32_t c = x - k; c <= x + k - 3; ++c) {
      const float v = image->data[static_cast<size_t>(r) * image->cols + c];
      if (v >= m) {
        hi += v;
        ++nHi;
      } else {
        lo += v;
        ++nLo;
      }
    }
  // A mean over no pixels counts as the (empty) sum, 0.
  const double meanHi = nHi > 0 ? hi / nHi : 0.0, meanLo = nLo > 0 ? lo / nLo : 0.0;
  return static_cast<float>(meanHi - meanLo);
}

int32_t CornerPolarity(const Matrix* image, int32_t y, int32_t x, int32_t k) {
  if (image == nullptr || k < 1 || y - k < 0 || x - k < 0 || y + k >= image->rows || x + k >= image->cols) return 0;
  const float tl = BlockSum(image, y - k, x - k, k), br = BlockSum(image, y + 1, x + 1, k);
  const float tr = BlockSum(image, y - k, x + 1, k), bl = BlockSum(image, y + 1, x - k, k);
  return tl + br > tr + bl ? 1 : 0;
}

int32_t FindSingleTemplateCorner(const Matrix* patch, float* out, float t1, float t2) {
  LooseCorners lc;
  if (out == nullptr || !Prepare(patch, t1, t2, &lc) || lc.corners.size() != 1) return 0;
  out[0] = lc.corners[0].y;
  out[1] = lc.corners[0].x;
  return 1;
}

int32_t FindTemplateCornerPair(const Matrix* patch, float* out, int32_t mode, float t1, float t2, float dx,
                               float dy, float maxDeviation) {
  LooseCorners lc;
  if (out == nullptr || !Prepare(patch, t1, t2, &lc) || lc.corners.size() < 2) return 0;
  const int32_t n = static_cast<int32_t>(lc.corners.size());
  std::vector<int32_t> polarity(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    polarity[i] = CornerPolarity(patch, static_cast<int32_t>(lc.corners[i].y), static_cast<int32_t>(lc.corners[i].x), 5);
  float best = 9000.0f, second = 10000.0f;
  int32_t bi = -1, bj = -1, si = -1, sj = -1;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j) {
      if (polarity[i] != polarity[j]) continue;
      const float ey = std::fabs(lc.corners[i].y - lc.corners[j].y) - dy;
      const float ex = std::fabs(lc.corners[i].x - lc.corners[j].x) - dx;
      const float d = std::sqrt(ey * ey + ex * ex);
      if (!(d < maxDeviation)) continue;
      if (d < best) {
        second = best;
        si = bi;
        sj = bj;
        best = d;
        bi = i;
        bj = j;
      } else if (d < second) {
        second = d;
        si = i;
        sj = j;
      }
    }
  int32_t ci = bi, cj = bj;
  if (mode != 0 && si >= 0 && bi >= 0 && second - best < 15.0f) {
    const float yBest = lc.corners[bi].y, ySecond = lc.corners[si].y;
    if (mode == 1 ? ySecond < yBest : ySecond > yBest) {
      ci = si;
      cj = sj;
    }
  }
  if (ci < 0) return 0;
  out[0] = lc.corners[ci].y;
  out[1] = lc.corners[ci].x;
  out[2] = lc.corners[cj].y;
  out[3] = lc.corners[cj].x;
  return 1;
}

int32_t FindCornerWithQuads(const Matrix* patch, float* out, int32_t checkRatio, float t1, float t2) {
  LooseCorners lc;
  if (out == nullptr || !Prepare(patch, t1, t2, &lc) || lc.corners.empty()) return 0;
  const Matrix* sm = &lc.smooth;
  const int32_t rows = sm->rows, cols = sm->cols;
  const int32_t n = static_cast<int32_t>(lc.corners.size());
  std::vector<float> contrast(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    contrast[i] = LocalContrast(sm, 9, static_cast<int32_t>(lc.corners[i].y), static_cast<int32_t>(lc.corners[i].x));
  std::vector<float> work(lc.smoothData.size());
  Matrix bin{cols, rows, work.data()};
  static const float kStretch[6] = {0.45f, 0.32f, 0.18f, 0.0f, 0.35f, 0.2f};
  const float aspect[2] = {0.7f, 0.5f};
  for (int32_t pass = 0; pass < 2; ++pass) {
    std::vector<char> tried(static_cast<size_t>(n), 0);
    for (int32_t attempt = 0; attempt < 10; ++attempt) {
      int32_t pick = -1;
      for (int32_t i = 0; i < n; ++i)
        if (!tried[i] && contrast[i] > 0.0f && (pick < 0 || contrast[i] > contrast[pick])) pick = i;
      if (pick < 0) {
        // No corner with contrast left: corner 0, once (again it would give
        // the same answer).
        if (tried[0]) break;
        pick = 0;
      }
      tried[pick] = 1;
      const float cy = lc.corners[pick].y, cx = lc.corners[pick].x;
      const auto y = static_cast<int32_t>(cy), x = static_cast<int32_t>(cx);
      out[0] = cy;
      out[1] = cx;
      const float D1 = Px(sm, y - 5, x - 5) + Px(sm, y + 5, x + 5) + Px(sm, y - 3, x - 5) + Px(sm, y + 3, x + 5) +
                       Px(sm, y - 5, x - 3) + Px(sm, y + 5, x + 3);
      const float D2 = Px(sm, y + 5, x - 5) + Px(sm, y - 5, x + 5) + Px(sm, y + 3, x - 5) + Px(sm, y - 3, x + 5) +
                       Px(sm, y + 5, x - 3) + Px(sm, y - 5, x + 3);
      for (int32_t v = 0; v < 8; ++v) {
        std::copy(lc.smoothData.begin(), lc.smoothData.end(), work.begin());
        if (v < 6)
          Image_HistStretch(&bin, kStretch[v]);
        else
          Image_AdaptiveThreshold(&bin, 15, v == 6 ? 0.01f : 0.04f);
        // A bright two-pixel line through the corner parts the two squares.
        auto set = [&](int32_t r, int32_t c) {
          if (r >= 0 && r < rows && c >= 0 && c < cols) work[static_cast<size_t>(r) * cols + c] = 1.0f;
        };
        if (D1 < D2) {
          for (int32_t k = -4; k <= 4; ++k) {
            set(y - k, x + k);
            set(y - k + 1, x + k);
          }
        } else {
          set(y - 4, x - 4);
          for (int32_t k = -3; k <= 4; ++k) {
            set(y + k, x + k - 1);
            set(y + k, x + k);
          }
          set(y + 5, x + 4);
        }
        BlobList* blobs = BlobList_FindComponents(&bin);
        if (blobs == nullptr) continue;
        bool filled[2] = {false, false};
        float minEdge[2] = {0, 0}, maxEdge[2] = {0, 0};
        const float near2 = v < 4 ? 25.0f : 100.0f, edge2 = v < 4 ? 100.0f : 49.0f;
        for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
          ChessQuad q;
          if (ChessQuad_FitStraight(b, &q, 0) == 0) continue;
          float bestD = 10000000.0f;
          int32_t j = -1;
          for (int32_t k = 0; k < 4; ++k) {
            const float dr = q.corners[k][0] - cy, dc = q.corners[k][1] - cx;
            const float d = std::min(dr * dr + dc * dc, 10000000.0f);
            if (d < bestD) {
              bestD = d;
              j = k;
            }
          }
          if (j < 0 || !(bestD <= near2) || q.minEdge < edge2) continue;
          if (checkRatio != 0 && !(q.minEdge / q.maxEdge >= aspect[pass])) continue;
          const float* o = q.corners[(j + 2) % 4];
          // The squares lie on opposite sides of the corner; the left one
          // (in the patch) fills points 1..3. Across the diagonal the squares
          // do not lie on, one of the two measures is about zero for both
          // squares, so the other one decides.
          const float across = (o[1] - cx) - (o[0] - cy), along = (o[1] - cx) + (o[0] - cy);
          const float measure = std::fabs(across) >= std::fabs(along) ? across : along;
          const int32_t side = measure <= 0.0f ? 0 : 1;
          const int32_t order[3] = {D2 <= D1 ? (j + 1) % 4 : (j + 3) % 4, (j + 2) % 4,
                                    D2 <= D1 ? (j + 3) % 4 : (j + 1) % 4};
          for (int32_t k = 0; k < 3; ++k) {
            out[2 * (1 + 3 * side + k)] = q.corners[order[k]][0];
            out[2 * (1 + 3 * side + k) + 1] = q.corners[order[k]][1];
          }
          filled[side] = true;
          minEdge[side] = q.minEdge;
          maxEdge[side] = q.maxEdge;
        }
        BlobList_Free(blobs);
        if (!filled[0] || !filled[1]) continue;
        if (pass == 0) {
          // The two squares' edges must run on through the corner, and the
          // squares must be of a size.
          const float a1[6] = {out[1], out[0], out[3], out[2], out[9], out[8]};
          const float a3[6] = {out[1], out[0], out[7], out[6], out[13], out[12]};
          const float angle1 = Vec2_AngleBetween(a1), angle3 = Vec2_AngleBetween(a3);
          const float rMin = std::min(minEdge[0], minEdge[1]) / std::max(minEdge[0], minEdge[1]);
          const float rMax = std::min(maxEdge[0], maxEdge[1]) / std::max(maxEdge[0], maxEdge[1]);
          if (!(angle1 <= 0.1f && angle3 <= 0.1f && std::min(rMin, rMax) >= 0.2f)) continue;
        }
        return 1;
      }
    }
  }
  return 0;
}

int32_t CheckCornerSectors(const TemplateCorner* corner, const Matrix* image) {
  if (corner == nullptr || image == nullptr || image->data == nullptr) return 0;
  const auto y = static_cast<int32_t>(corner->y), x = static_cast<int32_t>(corner->x);
  if (y < 11 || x < 11 || y > image->rows - 12 || x > image->cols - 12) return 0;
  int32_t dark = 0, bright = 0;
  for (int32_t i = 0; i < 4; ++i) {
    const float a = corner->direction[i], b = corner->direction[(i + 1) % 4];
    float theta = a + 0.5f * AngleDiff2Pi(b, a);
    if (theta > 2.0f * kPi) theta -= 2.0f * kPi;
    float sum = 0.0f;
    for (int32_t k = 3; k <= 8; ++k)
      sum += Px(image, static_cast<int32_t>(corner->y + k * std::sin(theta)),
                static_cast<int32_t>(corner->x + k * std::cos(theta)));
    const float value = sum * 0.125f;
    if (value < 0.24f) ++dark;
    if (value > 0.5f) ++bright;
  }
  return dark >= 1 && bright >= 2 ? 1 : 0;
}

int32_t FindLinkDirections(const TemplateCorner* corner, const TemplateCorner* other, int32_t* out) {
  if (corner == nullptr || other == nullptr || out == nullptr) return 0;
  for (int32_t k = 0; k < 4; ++k)
    if (corner->link[k] == other) {
      for (int32_t i = 0; i < 4; ++i) out[i] = (k + i) % 4;
      return 1;
    }
  return 0;
}

int32_t TakeUnlabelledNeighbour(const TemplateCorner* corner, int32_t direction, TemplateCorner** out,
                                int32_t needLinks) {
  if (corner == nullptr || out == nullptr || direction < 0 || direction > 3) return 0;
  TemplateCorner* n = corner->link[direction];
  if (n == nullptr || n->label != -1 || (needLinks != 0 && n->linkCount < 2)) return 0;
  ++n->visitMark;
  *out = n;
  return n->visitMark < 2 ? 1 : 0;
}

int32_t LabelNeighbour(const TemplateCorner* corner, int32_t direction, TemplateCorner** out) {
  if (corner == nullptr || out == nullptr || direction < 0 || direction > 3) return 0;
  TemplateCorner* n = corner->link[direction];
  if (n == nullptr) return 0;
  static const int32_t kStep[4][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}};  // (row, column)
  n->label = corner->label;
  n->gridRow = corner->gridRow + kStep[direction][0];
  n->gridCol = corner->gridCol + kStep[direction][1];
  *out = n;
  return 1;
}
