#include "calibration/detect/quad_search.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "calibration/detect/image_box.h"
#include "calibration/detect/quad_measures.h"
#include "calibration/detect/template_corners.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/morphology.h"
#include "toolkit/thresholds.h"

namespace {

struct MarkerStep {
  float offset;
  int32_t mode;
};

const MarkerStep kMarkerSchedule[kMarkerScheduleSize] = {
    {0.0f, 0},  {0.0f, 8},   {0.01f, 8},  {0.0f, 7},   {0.03f, 7},  {0.0f, 3},  {-0.02f, 7},
    {-0.01f, 1}, {0.007f, 7}, {0.0f, 1},  {0.03f, 8},  {0.02f, 1},  {0.04f, 6}, {0.02f, 6}};

// Binarisation by mode: smoothing radius, threshold radius and the closing
// (2) or opening (5) after it.
void Binarise(Matrix* work, int32_t mode, float offset) {
  int32_t smooth = 1, k = 23;
  switch (mode) {
    case 0: smooth = 0; break;
    case 1: break;
    case 2: smooth = 2; k = 51; break;
    case 3: k = 3; break;
    case 5: break;
    case 6: k = 6; break;
    case 7: k = 16; break;
    case 8: k = 11; break;
    default: smooth = mode > 0 ? mode : 0; break;
  }
  if (smooth > 0) Image_BoxMean(work, work, smooth, smooth);
  Image_AdaptiveThreshold(work, k, offset);
  if (mode == 2) {
    Image_Dilate(work, 2, 2);
    Image_Erode(work, 2, 2);
  } else if (mode == 5) {
    Image_Erode(work, 2, 2);
    Image_Dilate(work, 2, 2);
  }
}

struct Bounds {
  float minRow, maxRow, minCol, maxCol;
};

// Corner box with the coordinates clamped to 0..10000.
Bounds ClampedBounds(const float* q) {
  Bounds b{10000.0f, 0.0f, 10000.0f, 0.0f};
  for (int32_t i = 0; i < 4; ++i) {
    const float r = std::clamp(q[2 * i], 0.0f, 10000.0f), c = std::clamp(q[2 * i + 1], 0.0f, 10000.0f);
    b.minRow = std::min(b.minRow, r);
    b.maxRow = std::max(b.maxRow, r);
    b.minCol = std::min(b.minCol, c);
    b.maxCol = std::max(b.maxCol, c);
  }
  return b;
}

// p lies inside q's box and spans at least half of it both ways.
bool HoldsSizeableQuad(const float* q, const float* p) {
  const Bounds bq = ClampedBounds(q), bp = ClampedBounds(p);
  for (int32_t i = 0; i < 4; ++i) {
    const float r = p[2 * i], c = p[2 * i + 1];
    if (!(r > bq.minRow && r < bq.maxRow && c > bq.minCol && c < bq.maxCol)) return false;
  }
  return bp.maxRow - bp.minRow >= 0.5f * (bq.maxRow - bq.minRow) &&
         bp.maxCol - bp.minCol >= 0.5f * (bq.maxCol - bq.minCol);
}

}  // namespace

int32_t Quad_FirstCorner(int32_t side, const ChessQuad* quad) {
  const float(*c)[2] = quad->corners;
  const float m = std::sqrt(quad->minEdge);
  const float D[4] = {std::max(0.0f, c[0][1] - c[2][1]), c[1][1] - c[3][1], c[2][1] - c[0][1], c[3][1] - c[1][1]};
  int32_t k = 0;
  for (int32_t i = 1; i < 4; ++i)
    if (D[i] > D[k]) k = i;
  int32_t u = side != 0 ? (k + 3) % 4 : k;
  if (c[(u + 3) % 4][0] - c[(u + 2) % 4][0] < 0.5f * m) {
    const float t = c[(u + 2) % 4][0] - c[(u + 1) % 4][0];
    if (std::fabs(t) > 0.5f * m) u = t > 0.0f ? (u + 3) % 4 : (u + 1) % 4;
  }
  return u;
}

int32_t Chessboard_FindQuads(const Matrix* image, int32_t side, int32_t mode, int32_t dropOuterThird, float* out,
                             int32_t straightSchedule, int32_t traceBoundaries, float minEdgeLo, float minEdgeHi,
                             float maxEdgeLo, float maxEdgeHi, float offset) {
  if (image == nullptr || image->data == nullptr || image->cols < 1 || image->rows < 1 || out == nullptr) return 0;
  const size_t n = static_cast<size_t>(image->cols) * static_cast<size_t>(image->rows);
  std::vector<float> buffer(image->data, image->data + n);
  Matrix work{image->cols, image->rows, buffer.data()};
  Binarise(&work, mode, offset);
  BlobList* blobs = traceBoundaries != 0 ? BlobList_TraceBoundaries(&work) : BlobList_FindComponents(&work);
  if (blobs == nullptr) return 0;
  std::vector<ChessQuad> fitted;
  fitted.reserve(static_cast<size_t>(blobs->count));
  for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
    ChessQuad q;
    if (ChessQuad_FitStraight(b, &q, straightSchedule) != 0) fitted.push_back(q);
  }
  BlobList_Free(blobs);

  const float width = static_cast<float>(image->cols);
  std::vector<const ChessQuad*> ranked;  // largest max edge first
  for (const ChessQuad& q : fitted) {
    if (dropOuterThird != 0) {
      float minC = q.corners[0][1], maxC = q.corners[0][1];
      for (int32_t i = 1; i < 4; ++i) {
        minC = std::min(minC, q.corners[i][1]);
        maxC = std::max(maxC, q.corners[i][1]);
      }
      if (side == 0 ? maxC <= 0.33f * width : minC >= 0.67f * width) continue;
    }
    if (!(minEdgeLo * minEdgeLo < q.minEdge && q.minEdge < minEdgeHi * minEdgeHi &&
          maxEdgeLo * maxEdgeLo < q.maxEdge && q.maxEdge < maxEdgeHi * maxEdgeHi))
      continue;
    size_t at = 0;
    while (at < ranked.size() && !(ranked[at]->maxEdge < q.maxEdge)) ++at;
    if (at >= static_cast<size_t>(kQuadSearchMax)) continue;
    ranked.insert(ranked.begin() + static_cast<std::ptrdiff_t>(at), &q);
    if (ranked.size() > static_cast<size_t>(kQuadSearchMax)) ranked.pop_back();
  }
  for (size_t i = 0; i < ranked.size(); ++i) {
    const ChessQuad* q = ranked[i];
    const int32_t u = Quad_FirstCorner(side, q);
    const int32_t order[4] = {(u + 2) % 4, (u + 1) % 4, (u + 3) % 4, u};
    for (int32_t j = 0; j < 4; ++j) {
      out[8 * i + 2 * j] = q->corners[order[j]][0];
      out[8 * i + 2 * j + 1] = q->corners[order[j]][1];
    }
  }
  return static_cast<int32_t>(ranked.size());
}

bool MarkerQuad_Verify(const Matrix* image, const float* quad, int32_t innerMode) {
  if (image == nullptr || image->data == nullptr || quad == nullptr) return false;
  float minSide = 0.0f, maxSide = 0.0f, maxRowStep = 0.0f, maxColStep = 0.0f;
  Quad_Measure(quad, &minSide, &maxSide, nullptr, &maxRowStep, &maxColStep);
  if (!(minSide > 0.0f) || maxSide > 8.0f * minSide) return false;

  float minR = quad[0], maxR = quad[0], minC = quad[1], maxC = quad[1];
  for (int32_t i = 1; i < 4; ++i) {
    minR = std::min(minR, quad[2 * i]);
    maxR = std::max(maxR, quad[2 * i]);
    minC = std::min(minC, quad[2 * i + 1]);
    maxC = std::max(maxC, quad[2 * i + 1]);
  }
  if (!std::isfinite(minR + maxR + minC + maxC)) return false;
  if (static_cast<int32_t>(maxC - minC) < 7 || static_cast<int32_t>(maxR - minR) < 7) return false;

  // The box from the first to the last pixel the corners fall in, cut to the
  // image: a quad handed in from elsewhere may reach past it.
  const auto left = static_cast<int64_t>(std::floor(minC)), top = static_cast<int64_t>(std::floor(minR));
  const auto right = static_cast<int64_t>(std::floor(maxC)), bottom = static_cast<int64_t>(std::floor(maxR));
  std::vector<float> buffer;
  Matrix box;
  ImageBox where;
  if (Matrix_CropToImage(image, left, top, right - left + 1, bottom - top + 1, &buffer, &box, &where) == 0)
    return false;
  for (float& v : buffer) v = 1.0f - v;
  float centreR = 0.0f, centreC = 0.0f;
  for (int32_t i = 0; i < 4; ++i) {
    centreR += 0.25f * quad[2 * i];
    centreC += 0.25f * quad[2 * i + 1];
  }
  centreR -= static_cast<float>(where.top);
  centreC -= static_cast<float>(where.left);

  static const float kOffsets[6] = {0.01f, 0.04f, -0.04f, -0.04f, 0.0f, 0.04f};
  std::vector<float> inner(8 * kQuadSearchMax);
  for (int32_t attempt = 0; attempt < 6; ++attempt) {
    const int32_t mode = attempt < 3 ? innerMode : 0;
    const int32_t count =
        Chessboard_FindQuads(&box, 1, mode, 0, inner.data(), 1, 0, 0.0f, 10000.0f, 0.0f, 10000.0f, kOffsets[attempt]);
    for (int32_t i = 0; i < count; ++i) {
      const float* q = &inner[8 * i];
      float qMin = 0.0f, qMax = 0.0f, spread = 0.0f, qRow = 0.0f, qCol = 0.0f;
      Quad_Measure(q, &qMin, &qMax, &spread, &qRow, &qCol);
      if (!(qMin > 0.0f) || qMax > 8.0f * qMin || minSide > 6.0f * qMin) continue;
      if (spread < 0.25f) continue;
      if (qMax > 0.75f * maxSide) continue;
      if (!(qRow > 0.0f) || !(qCol > 0.0f) || maxRowStep > 6.0f * qRow || maxColStep > 6.0f * qCol) continue;
      const float qr = 0.25f * (q[0] + q[2] + q[4] + q[6]), qc = 0.25f * (q[1] + q[3] + q[5] + q[7]);
      if (std::hypot(qr - centreR, qc - centreC) > 0.13f * maxSide) continue;

      // This inner quad decides: the box must hold two grey levels, and its
      // centre must be the darker one of the inverted box.
      float hist[26] = {0};
      double sum = 0.0;
      for (float v : buffer) {
        hist[std::clamp(static_cast<int32_t>(v * 23.99f), 0, 25)] += 1.0f;
        sum += v;
      }
      int32_t modes[2];
      float values[2];
      if (FindHistogramModes(hist, 26, modes, values, 1.0f) == 0) return false;
      const double mean = sum / static_cast<double>(buffer.size());
      double upper = 0.0;
      int64_t upperCount = 0;
      for (float v : buffer)
        if (v >= mean) {
          upper += v;
          ++upperCount;
        }
      const auto cr = static_cast<int32_t>(centreR), cc = static_cast<int32_t>(centreC);
      double centre = 0.0;
      int32_t centreCount = 0;
      for (int32_t r = std::max(0, cr - 2); r <= std::min(box.rows - 1, cr + 2); ++r)
        for (int32_t c = std::max(0, cc - 2); c <= std::min(box.cols - 1, cc + 2); ++c) {
          centre += buffer[static_cast<size_t>(r) * box.cols + c];
          ++centreCount;
        }
      if (centreCount == 0 || upperCount == 0) return false;
      return centre / centreCount <= upper / static_cast<double>(upperCount) - 0.06;
    }
  }
  return false;
}

int32_t Chessboard_FindMarkerQuads(const Matrix* image, int32_t side, int32_t index, float* out, float minEdgeLo,
                                   float minEdgeHi, float maxEdgeLo, float maxEdgeHi) {
  if (index < 0 || index >= kMarkerScheduleSize || image == nullptr || out == nullptr) return 0;
  const MarkerStep step = kMarkerSchedule[index];
  std::vector<float> quads(8 * kQuadSearchMax);
  const int32_t count = Chessboard_FindQuads(image, side, step.mode, 0, quads.data(), 1, 0, minEdgeLo, minEdgeHi,
                                             maxEdgeLo, maxEdgeHi, step.offset);
  int32_t kept = 0;
  for (int32_t i = 0; i < count && kept < kMarkerQuadMax; ++i) {
    const float* q = &quads[8 * i];
    bool holdsQuad = false;
    for (int32_t j = 0; j < count && !holdsQuad; ++j)
      if (j != i) holdsQuad = HoldsSizeableQuad(q, &quads[8 * j]);
    if (holdsQuad) continue;
    float rowStep = 0.0f, colStep = 0.0f;
    Quad_Measure(q, nullptr, nullptr, nullptr, &rowStep, &colStep);
    if (rowStep > 0.66f * static_cast<float>(image->rows) || colStep > 0.66f * static_cast<float>(image->cols))
      continue;
    if (!MarkerQuad_Verify(image, q, step.mode == 3 ? 3 : 6)) continue;
    std::copy(q, q + 8, out + 8 * kept);
    ++kept;
  }
  return kept;
}
