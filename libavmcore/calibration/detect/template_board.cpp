#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "calibration/detect/corner_resample.h"
#include "calibration/detect/template_internal.h"
#include "frame/numeric_constants.h"
#include "toolkit/border_filters.h"

namespace {

const float kDirTol[4] = {0.18f, 0.28f, 0.28f, 0.38f};
const float kBackTol[4] = {0.28f, 0.28f, 0.5f, 0.38f};
const float kNmsThreshold[5] = {0.14f, 0.20f, 0.28f, 0.36f, 0.09f};
const float kScoreThreshold[5] = {0.15f, 0.23f, 0.23f, 0.23f, 0.07f};
const int32_t kGridStep[4][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}};  // (row, col) per direction

void DropLink(TemplateCorner* c, int32_t k) {
  c->link[k] = nullptr;
  c->backIndex[k] = -1;
  c->linkLength[k] = FLT_MAX;
}

int32_t BackTo(const TemplateCorner* q, const TemplateCorner* p) {
  for (int32_t b = 0; b < 4; ++b)
    if (q->link[b] == p) return b;
  return -1;
}

}  // namespace

void LinkTemplateCorners(TemplateCorner* c, int32_t n, int32_t allLevels, float maxDistance, float maxRatio) {
  if (n < 1) return;
  static const int32_t kAll[4] = {0, 1, 2, 3}, kSome[2] = {1, 3};
  const int32_t* levels = allLevels != 0 ? kAll : kSome;
  const int32_t levelCount = allLevels != 0 ? 4 : 2;
  // Distance and direction from corner i to every corner in reach, worked
  // out once for its four directions and all levels.
  std::vector<int32_t> near;
  std::vector<float> nearDist, nearPhi;
  for (int32_t i = 0; i < n; ++i) {
    TemplateCorner& ci = c[i];
    near.clear();
    nearDist.clear();
    nearPhi.clear();
    for (int32_t j = 0; j < n; ++j) {
      if (j == i) continue;
      const float dx = c[j].x - ci.x, dy = c[j].y - ci.y;
      const float d = std::sqrt(dx * dx + dy * dy);
      if (d > maxDistance) continue;
      float phi = std::atan2(dy, dx);
      if (phi < 0.0f) phi += 2.0f * kPi;
      near.push_back(j);
      nearDist.push_back(d);
      nearPhi.push_back(phi);
    }
    for (int32_t k = 0; k < 4; ++k) {
      int32_t cand = -1, candBack = -1;
      float candDist = 0.0f;
      for (int32_t li = 0; li < levelCount && cand < 0; ++li) {
        const int32_t lv = levels[li];
        float best = FLT_MAX;
        for (size_t q = 0; q < near.size(); ++q) {
          const int32_t j = near[q];
          const float d = nearDist[q];
          if (!(d < best)) continue;
          const float phi = nearPhi[q];
          float diff = std::fabs(ci.direction[k] - phi);
          if (diff > kPi) diff = 2.0f * kPi - diff;
          if (!(diff < kDirTol[lv])) continue;
          int32_t back = -1;
          for (int32_t m = 0; m < 4; ++m)
            if (std::fabs(std::fabs(phi - c[j].direction[m]) - kPi) < kBackTol[lv]) back = m;
          if (back < 0) continue;
          best = d;
          cand = j;
          candBack = back;
          candDist = d;
        }
      }
      if (cand < 0) continue;
      bool taken = false;
      for (int32_t e = 0; e < k; ++e)
        if (ci.link[e] == &c[cand]) taken = true;
      if (taken) continue;
      ci.link[k] = &c[cand];
      ci.linkLength[k] = candDist;
      ci.backIndex[k] = candBack;
    }
  }
  // Mutual pass: a partner that points elsewhere is taken over when its own
  // link is not mutual and ours is shorter.
  for (int32_t i = 0; i < n; ++i) {
    TemplateCorner* ci = &c[i];
    for (int32_t k = 0; k < 4; ++k) {
      TemplateCorner* j = ci->link[k];
      if (j == nullptr) continue;
      const int32_t m = ci->backIndex[k];
      if (j->link[m] == ci) continue;
      TemplateCorner* q = j->link[m];
      const bool qMutual = q != nullptr && j->backIndex[m] >= 0 && q->link[j->backIndex[m]] == j;
      const bool iLinkedFromJ = BackTo(j, ci) >= 0;
      if (!qMutual && !iLinkedFromJ && ci->linkLength[k] < j->linkLength[m]) {
        j->link[m] = ci;
        j->backIndex[m] = k;
        j->linkLength[m] = ci->linkLength[k];
      } else {
        DropLink(ci, k);
      }
    }
  }
  for (int32_t i = 0; i < n; ++i)
    for (int32_t k = 0; k < 4; ++k) {
      TemplateCorner* j = c[i].link[k];
      if (j == nullptr) continue;
      const int32_t m = c[i].backIndex[k];
      if (m < 0 || j->link[m] != &c[i] || j->backIndex[m] != k) DropLink(&c[i], k);
    }
  for (int32_t i = 0; i < n; ++i) {
    TemplateCorner* ci = &c[i];
    float mn = FLT_MAX;
    for (int32_t k = 0; k < 4; ++k) mn = std::min(mn, ci->linkLength[k]);
    for (int32_t k = 0; k < 4; ++k) {
      TemplateCorner* j = ci->link[k];
      if (j == nullptr || !(ci->linkLength[k] / mn > maxRatio)) continue;
      const int32_t m = ci->backIndex[k];
      if (m >= 0 && j->link[m] == ci) DropLink(j, m);
      DropLink(ci, k);
    }
  }
  for (int32_t i = 0; i < n; ++i)
    for (int32_t k = 0; k < 4; ++k)
      if (c[i].link[k] != nullptr) c[i].linkCount += 1;
}

int32_t GrowBoardEdge(TemplateCorner* corners, int32_t n, TemplateCorner* seed, int32_t d, TemplateCorner** out,
                      int32_t extent) {
  (void)corners;
  const int32_t L = seed->label;
  TemplateCorner* P = seed;
  TemplateCorner* Q = P->link[d];
  if (Q == nullptr) return 0;
  for (int32_t guard = 0; Q->label == L && Q != seed; ++guard) {
    const int32_t b = BackTo(Q, P);
    if (b < 0 || guard > n) return 0;
    P = Q;
    Q = Q->link[(b + 2) % 4];
    if (Q == nullptr) return 0;
  }
  if (Q->label >= 0 || (extent >= 2 && Q->linkCount < 2)) return 0;
  std::vector<TemplateCorner*> from;
  int32_t count = 0;
  auto clearMarks = [&]() {
    for (int32_t i = 0; i < count; ++i) out[i]->visitMark = 0;
  };
  out[count++] = Q;
  from.push_back(P);
  if (++Q->visitMark > 1) {
    clearMarks();
    return 0;
  }
  for (int32_t side = 0; side < 2; ++side) {
    const int32_t s = side == 0 ? (d + 3) % 4 : (d + 1) % 4;
    TemplateCorner* cur = P;
    int32_t dir = s;
    for (int32_t guard = 0; guard <= n; ++guard) {
      TemplateCorner* nxt = cur->link[dir];
      if (nxt == nullptr || nxt->label != L || nxt == P) break;
      const int32_t b = BackTo(nxt, cur);
      if (b < 0) break;
      dir = (b + 2) % 4;
      const int32_t growth = side == 0 ? (b + 3) % 4 : (b + 1) % 4;
      TemplateCorner* V = nxt->link[growth];
      if (V == nullptr || V->label >= 0 || (extent >= 2 && V->linkCount < 2) || count >= n) {
        clearMarks();
        return 0;
      }
      out[count++] = V;
      from.push_back(nxt);
      if (++V->visitMark > 1) {
        clearMarks();
        return 0;
      }
      cur = nxt;
    }
  }
  clearMarks();
  if (count != extent) return 0;
  for (int32_t i = 0; i < count; ++i) {
    out[i]->label = L;
    out[i]->gridRow = from[i]->gridRow + kGridStep[d][0];
    out[i]->gridCol = from[i]->gridCol + kGridStep[d][1];
  }
  return count;
}

int32_t GrowBoard(TemplateCorner* c, int32_t n, TemplateCorner** members, int32_t label, int32_t* rowsOut,
                  int32_t* colsOut, int32_t centreX) {
  TemplateCorner* seed = nullptr;
  int32_t bestScore = -1, bestDx = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (c[i].label >= 0) continue;
    int32_t score = 100 * c[i].linkCount;
    for (int32_t k = 0; k < 4; ++k)
      if (c[i].link[k] != nullptr) score += c[i].link[k]->linkCount;
    const int32_t dx = static_cast<int32_t>(std::fabs(c[i].x - static_cast<float>(centreX)));
    if (score > bestScore || (centreX != 0 && score == bestScore && dx < bestDx)) {
      seed = &c[i];
      bestScore = score;
      bestDx = dx;
    }
  }
  if (seed == nullptr) return 0;
  if (bestScore == 0) {
    seed->label = label;
    seed->gridRow = seed->gridCol = 1;
    *rowsOut = *colsOut = 1;
    members[0] = seed;
    return 1;
  }
  int32_t count = 0;
  for (int32_t d = 0; d < 4; ++d) {
    seed->label = label;
    seed->gridRow = seed->gridCol = 1;
    members[0] = seed;
    count = 1;
    int32_t e1 = 1, e2 = 1;
    for (;;) {
      int32_t added = 0;
      for (int32_t q = 0; q < 4; ++q) {
        const int32_t dir = (d + q) % 4;
        const bool alongD = (q % 2) == 0;
        const int32_t got = GrowBoardEdge(c, n, seed, dir, members + count, alongD ? e2 : e1);
        if (got > 0) {
          count += got;
          added += got;
          if (alongD)
            ++e1;
          else
            ++e2;
        }
      }
      if (added == 0) break;
    }
    if (d == 3 || (e1 > 1 && e2 > 1)) {
      if (d % 2 == 0) {
        *rowsOut = e2;
        *colsOut = e1;
      } else {
        *rowsOut = e1;
        *colsOut = e2;
      }
      return count;
    }
    for (int32_t i = 0; i < count; ++i) members[i]->label = members[i]->gridRow = members[i]->gridCol = -1;
  }
  return count;
}

int32_t CornerGridToArray(TemplateCorner** members, int32_t n, int32_t stride, float* out, TemplateCorner** ptrs) {
  int32_t minR = 10000, minC = 10000;
  for (int32_t i = 0; i < n; ++i) {
    minR = std::min(minR, members[i]->gridRow);
    minC = std::min(minC, members[i]->gridCol);
  }
  for (int32_t i = 0; i < n; ++i) {
    const int32_t idx = (members[i]->gridCol - minC) + (members[i]->gridRow - minR) * stride;
    out[2 * idx] = members[i]->y;
    out[2 * idx + 1] = members[i]->x;
    if (ptrs != nullptr) ptrs[idx] = members[i];
  }
  return n;
}

int32_t FindChessboardByTemplates(const Matrix* image, int32_t squaresX, int32_t squaresY, float* out,
                                  int32_t resampleMode, int32_t fast, int32_t selectMode, int32_t small) {
  if (image == nullptr || image->data == nullptr || out == nullptr || squaresX < 2 || squaresY < 2 ||
      image->cols < 1 || image->rows < 1)
    return 0;
  float sx = 1.0f, sy = 1.0f;
  MatrixPtr work(ResampleForCorners(image, resampleMode, &sx, &sy));
  const int32_t W = work->cols, H = work->rows;
  const size_t npix = static_cast<size_t>(W) * H;
  std::vector<float> smoothData(npix), likeData(npix);
  Matrix smooth{W, H, smoothData.data()}, like{W, H, likeData.data()};
  Image_BoxMean(work.get(), &smooth, 1, 1);
  CornerLikelihood(&smooth, &like, small);
  TemplateGradients grad;
  TemplateGradients_Compute(&smooth, &grad);

  const int32_t gw = squaresX - 1, gh = squaresY - 1, want = gw * gh;
  std::vector<float> best(2 * static_cast<size_t>(want));
  const float maxDistance = std::max(160.0f, 160.0f * static_cast<float>(W) / 720.0f);
  bool found = false;
  std::vector<TemplateCorner> corners;
  std::vector<TemplateCorner*> members;
  for (int32_t p = 0; p < 5 && !found; ++p) {
    TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
    int32_t counts[3] = {0, 0, 0};
    DetectTemplateCornersWith(&smooth, &like, grad, lists, counts, fast, kNmsThreshold[p], kScoreThreshold[p]);
    for (int32_t c = 0; c < 12 && !found; ++c) {
      const int32_t n = counts[c % 3];
      if (n < 1) continue;
      corners.assign(lists[c % 3], lists[c % 3] + n);
      const float maxRatio = (c < 3 || (c >= 6 && c < 9)) ? 4.0f : 6.0f;
      LinkTemplateCorners(corners.data(), n, c >= 6 ? 1 : 0, maxDistance, maxRatio);
      // GrowBoardEdge writes up to n candidates behind the members found so
      // far (at most n) before it checks them: room for both.
      members.assign(static_cast<size_t>(2 * n), nullptr);
      float bestKey = FLT_MAX;
      for (int32_t label = 0;; ++label) {
        int32_t rowsOut = 0, colsOut = 0;
        const int32_t m = GrowBoard(corners.data(), n, members.data(), label, &rowsOut, &colsOut, W / 2);
        if (m == 0) break;
        if (rowsOut != gh || colsOut != gw || m != want) continue;
        float key;
        if (selectMode == 0) {
          const float cx = 0.5f * static_cast<float>(W);
          float lo = FLT_MAX, hi = -FLT_MAX;
          for (int32_t i = 0; i < m; ++i) {
            lo = std::min(lo, members[i]->x);
            hi = std::max(hi, members[i]->x);
          }
          key = (cx >= lo && cx <= hi) ? 0.0f : std::min(std::fabs(cx - lo), std::fabs(cx - hi));
        } else {
          key = selectMode == 1 ? members[0]->y : static_cast<float>(H) - members[0]->y;
        }
        if (key < bestKey) {
          bestKey = key;
          CornerGridToArray(members.data(), m, gw, best.data(), nullptr);
          found = true;
          if (selectMode == 0 && key < 1.1920929e-7f) break;
        }
      }
    }
    for (TemplateCorner* l : lists) free(l);
  }
  work.reset();
  if (!found) return 0;
  for (int32_t i = 0; i < want; ++i) {
    out[2 * i] = best[2 * i] * sy;
    out[2 * i + 1] = best[2 * i + 1] * sx;
  }
  return want;
}
