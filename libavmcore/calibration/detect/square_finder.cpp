#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "calibration/detect/pattern_finder.h"
#include "toolkit/border_filters.h"
#include "toolkit/thresholds.h"

int32_t Blob_ExtremeQuad(const Blob* blob, int32_t rows, int32_t cols, ChessQuad* quad) {
  if (blob == nullptr || blob->contourCount < 1 || quad == nullptr) return 0;
  const float targets[4][2] = {{0.0f, 0.0f},
                               {static_cast<float>(rows - 1), 0.0f},
                               {static_cast<float>(rows - 1), static_cast<float>(cols - 1)},
                               {0.0f, static_cast<float>(cols - 1)}};
  for (int32_t k = 0; k < 4; ++k) {
    float best = -1.0f;
    for (int32_t i = 0; i < blob->contourCount; ++i) {
      const float dr = blob->contour[i].row - targets[k][0], dc = blob->contour[i].col - targets[k][1];
      const float d = dr * dr + dc * dc;
      if (best < 0.0f || d < best) {
        best = d;
        quad->corners[k][0] = blob->contour[i].row;
        quad->corners[k][1] = blob->contour[i].col;
      }
    }
    quad->links[k] = nullptr;
  }
  quad->group = quad->column = quad->row = -1;
  quad->ordered = 0;
  quad->neighbours = 0;
  for (int32_t k = 0; k < 4; ++k) {
    const float dr = quad->corners[(k + 1) % 4][0] - quad->corners[k][0];
    const float dc = quad->corners[(k + 1) % 4][1] - quad->corners[k][1];
    const float d2 = dr * dr + dc * dc;
    if (k == 0 || d2 < quad->minEdge) quad->minEdge = d2;
    if (k == 0 || d2 > quad->maxEdge) quad->maxEdge = d2;
  }
  return 1;
}

int32_t Square_Find(const Matrix* view, int32_t extremeCorners, float* points, float sideA, float sideB,
                    float offset) {
  if (view == nullptr || view->data == nullptr || view->cols < 1 || view->rows < 1 || points == nullptr ||
      !(sideA > 0.0f) || !(sideB > 0.0f))
    return 0;
  std::vector<float> buffer(static_cast<size_t>(view->cols) * view->rows);
  Matrix work{view->cols, view->rows, buffer.data()};
  for (int32_t R : {21, 31, 48}) {
    Image_BoxMean(view, &work, 1, 1);
    Image_AdaptiveThreshold(&work, R, offset);
    BlobList* blobs = BlobList_FindComponents(&work);
    if (blobs == nullptr) continue;
    float bestScore = 0.0f;
    ChessQuad winner{};
    bool found = false;
    for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
      ChessQuad q;
      const int32_t ok = extremeCorners == 0 ? ChessQuad_Fit(b, &q) : Blob_ExtremeQuad(b, view->rows, view->cols, &q);
      if (ok == 0 || !(q.minEdge > 0.0f)) continue;
      const float lo = std::sqrt(q.minEdge), hi = std::sqrt(q.maxEdge);
      const float a = std::min(lo / sideA, sideA / lo), bb = std::min(hi / sideB, sideB / hi);
      const float c = sideA == sideB ? std::sqrt(q.minEdge / q.maxEdge) : 1.0f;
      if (!(a > 0.5f && bb > 0.5f && c > 0.38f)) continue;
      const float score = std::min(a, bb);
      if (!found || score > bestScore) {
        bestScore = score;
        winner = q;
        found = true;
      }
    }
    BlobList_Free(blobs);
    if (!found) continue;
    float d[4];
    for (int32_t k = 0; k < 4; ++k) d[k] = std::hypot(winner.corners[k][0], winner.corners[k][1]);
    const float s[4] = {std::max(0.0f, d[0] - d[2]), d[1] - d[3], d[2] - d[0], d[3] - d[1]};
    int32_t i = 0;
    for (int32_t k = 1; k < 4; ++k)
      if (s[k] > s[i]) i = k;
    const int32_t order[4] = {(i + 2) % 4, (i + 1) % 4, (i + 3) % 4, i};
    for (int32_t k = 0; k < 4; ++k) {
      points[2 * k] = winner.corners[order[k]][0];
      points[2 * k + 1] = winner.corners[order[k]][1];
    }
    return 1;
  }
  return 0;
}

int32_t Square_FindMultiThreshold(const Matrix* view, int32_t extremeCorners, float* points, float sideA,
                                  float sideB) {
  for (float offset : {0.04f, 0.02f, 0.0f, 0.06f, -0.02f})
    if (Square_Find(view, extremeCorners, points, sideA, sideB, offset) != 0) return 1;
  return 0;
}
