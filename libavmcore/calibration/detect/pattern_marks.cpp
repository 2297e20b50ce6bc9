#include "calibration/detect/pattern_marks.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "calibration/detect/contour_shapes.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/contours.h"
#include "toolkit/morphology.h"
#include "toolkit/thinning.h"
#include "toolkit/thresholds.h"

namespace {

bool Usable(const Matrix* image) {
  return image != nullptr && image->data != nullptr && image->cols > 0 && image->rows > 0;
}

// Pixels of a thinned 0/1 image with at least 3 set 8-neighbours; outside
// the image counts as unset.
std::vector<std::pair<int32_t, int32_t>> JunctionPixels(const Matrix& m, int32_t margin) {
  std::vector<std::pair<int32_t, int32_t>> out;
  auto on = [&](int32_t r, int32_t c) {
    return r >= 0 && r < m.rows && c >= 0 && c < m.cols && m.data[static_cast<size_t>(r) * m.cols + c] > 0.5f;
  };
  for (int32_t r = margin; r < m.rows - margin; ++r)
    for (int32_t c = margin; c < m.cols - margin; ++c) {
      if (!on(r, c)) continue;
      int32_t n = 0;
      for (int32_t dr = -1; dr <= 1; ++dr)
        for (int32_t dc = -1; dc <= 1; ++dc)
          if ((dr != 0 || dc != 0) && on(r + dr, c + dc)) ++n;
      if (n >= 3) out.push_back({r, c});
    }
  return out;
}

}  // namespace

int32_t Pattern_FindCircleCentre(const Matrix* image, float* out, float radius) {
  if (!Usable(image) || out == nullptr) return 0;
  std::vector<float> buffer(static_cast<size_t>(image->cols) * image->rows);
  Matrix work{image->cols, image->rows, buffer.data()};
  for (float p : {0.75f, 0.65f, 0.55f}) {
    Image_BoxMean(image, &work, 1, 1);
    Image_HistStretch(&work, p);
    BlobList* blobs = BlobList_FindComponents(&work);
    if (blobs == nullptr) return 0;
    if (blobs->count == 0) {
      BlobList_Free(blobs);
      return 0;
    }
    float best = 10000.0f, bestRow = 0.0f, bestCol = 0.0f;
    for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
      if (b->contourCount < 1) continue;
      float centre[2], rmin = 0.0f, rmax = 0.0f;
      Contour_CentreRadii(b, centre, &rmin, &rmax);
      if (Blob_Roundness(b, centre) > 0.15f) continue;
      const float estimate = 0.5f * (rmin + rmax);
      const float ratio = std::max(estimate, radius) / std::min(estimate, radius);
      if (ratio < best) {
        best = ratio;
        bestRow = centre[0];
        bestCol = centre[1];
      }
    }
    BlobList_Free(blobs);
    if (best < 2.0f) {
      out[0] = bestRow;
      out[1] = bestCol;
      return 1;
    }
  }
  return 0;
}

int32_t Pattern_FindJunction(const Matrix* image, float* out) {
  if (!Usable(image) || out == nullptr) return 0;
  std::vector<float> buffer(image->data, image->data + static_cast<size_t>(image->cols) * image->rows);
  Matrix work{image->cols, image->rows, buffer.data()};
  Image_AdaptiveThreshold(&work, 16, -0.1f);
  Image_Dilate(&work, 1, 1);
  Image_Erode(&work, 1, 1);
  Image_ThinZhangSuen(&work);
  // All junction pixels are kept, not only the first 64 of the scan: a
  // cluttered patch must not hide the junction at its centre.
  const std::vector<std::pair<int32_t, int32_t>> junctions = JunctionPixels(work, 0);
  if (junctions.empty()) return 0;
  const float cr = static_cast<float>(image->rows) * 0.5f, cc = static_cast<float>(image->cols) * 0.5f;
  float best = 100000.0f;
  size_t seed = 0;
  for (size_t i = 0; i < junctions.size(); ++i) {
    const float d = std::hypot(static_cast<float>(junctions[i].first) - cr, static_cast<float>(junctions[i].second) - cc);
    if (d < best) {
      best = d;
      seed = i;
    }
  }
  float sr = 0.0f, sc = 0.0f;
  int32_t n = 0;
  for (const auto& j : junctions) {
    const float dr = static_cast<float>(j.first - junctions[seed].first);
    const float dc = static_cast<float>(j.second - junctions[seed].second);
    if (dr * dr + dc * dc <= 16.0f) {
      sr += static_cast<float>(j.first);
      sc += static_cast<float>(j.second);
      ++n;
    }
  }
  out[0] = sr / static_cast<float>(n);
  out[1] = sc / static_cast<float>(n);
  return 1;
}

int32_t Pattern_FindLowerSquareEdge(const Matrix* image, float* out) {
  if (!Usable(image) || out == nullptr) return 0;
  const size_t n = static_cast<size_t>(image->cols) * image->rows;
  std::vector<float> buffer(n);
  float M = 0.0f;
  for (size_t i = 0; i < n; ++i) {
    buffer[i] = 1.0f - image->data[i];
    M = std::max(M, buffer[i]);
  }
  const auto band = static_cast<int32_t>(static_cast<float>(image->rows) * 0.42f);
  std::fill(buffer.begin(), buffer.begin() + static_cast<size_t>(band) * image->cols, M);
  Matrix work{image->cols, image->rows, buffer.data()};
  Image_BoxMean(&work, &work, 1, 1);
  Image_HistStretch(&work, 0.5f);
  BlobList* blobs = BlobList_FindComponents(&work);
  if (blobs == nullptr) return 0;
  const float expected = static_cast<float>(image->cols) * 0.3846154f;
  float best = 1000.0f;
  ChessQuad winner{};
  bool found = false;
  for (Blob* b = BlobList_Next(blobs); b != nullptr; b = BlobList_Next(blobs)) {
    ChessQuad q;
    if (ChessQuad_Fit(b, &q) == 0) continue;
    const float side = std::sqrt(q.maxEdge);
    const float ratio = side >= expected ? side / expected : expected / side;
    if (ratio < best) {
      best = ratio;
      winner = q;
      found = true;
    }
  }
  BlobList_Free(blobs);
  // A best quad twice the expected side or more is no square of the
  // pattern (an empty patch leaves only its own lower part as a region).
  if (!found || !(best < 2.0f)) return 0;
  float d[4];
  for (int32_t k = 0; k < 4; ++k) d[k] = std::hypot(winner.corners[k][0], winner.corners[k][1]);
  const float score[4] = {std::max(d[0] - d[2], 0.0f), d[1] - d[3], d[2] - d[0], d[3] - d[1]};
  int32_t k = 0;
  for (int32_t i = 1; i < 4; ++i)
    if (score[i] > score[k]) k = i;
  const float* p0 = winner.corners[(k + 3) % 4];
  const float* p1 = winner.corners[k];
  out[0] = p0[0];
  out[1] = p0[1];
  out[2] = p1[0];
  out[3] = p1[1];
  const float cols = static_cast<float>(image->cols);
  return out[1] <= cols * 0.58f && out[3] >= cols * 0.42f ? 2 : 0;
}
