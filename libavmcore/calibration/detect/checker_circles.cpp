#include "calibration/detect/checker_circles.h"

#include <algorithm>
#include <vector>

#include "calibration/detect/contour_shapes.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/thresholds.h"

namespace {

struct Round {
  float row, col;
  int32_t edges;
};

// One pass: the round dark regions of the (possibly inverted) image, at most
// four, and the two points the pass yields. False when the pass fails.
bool Pass(const Matrix* src, int32_t mode, float offset, float points[4]) {
  std::vector<float> buffer(static_cast<size_t>(src->cols) * src->rows);
  Matrix work{src->cols, src->rows, buffer.data()};
  Image_BoxMean(src, &work, 1, 1);
  Image_AdaptiveThreshold(&work, 32, offset);
  BlobList* blobs = BlobList_FindComponents(&work);
  if (blobs == nullptr) return false;
  std::vector<Round> accepted;
  for (Blob* b = BlobList_Next(blobs); b != nullptr && accepted.size() < 4; b = BlobList_Next(blobs)) {
    if (Contour_IsSmooth(b) == 0) continue;
    const int32_t edges = Contour_CountEdges(b);
    if (edges < 6) continue;
    float centre[2], rmin, rmax;
    Contour_CentreRadii(b, centre, &rmin, &rmax);
    accepted.push_back({centre[0], centre[1], edges});
  }
  BlobList_Free(blobs);
  const size_t a = accepted.size();
  std::vector<Round> kept;
  if (a == 2) {
    kept = accepted;
  } else if (a == 3 && (mode == 1 || mode == 2)) {
    // Marks of 7 or more straight pieces count by their row, the others 0.
    float value[3];
    for (int32_t i = 0; i < 3; ++i) value[i] = accepted[i].edges >= 7 ? std::min(accepted[i].row, 9999.0f) : 0.0f;
    int32_t drop = 0;
    for (int32_t i = 1; i < 3; ++i)
      if (mode == 1 ? value[i] < value[drop] : value[i] > value[drop]) drop = i;
    for (int32_t i = 0; i < 3; ++i)
      if (i != drop) kept.push_back(accepted[i]);
  } else if (a == 4 && mode == 2) {
    kept = {accepted[0], accepted[1]};
  } else {
    return false;
  }
  // Left (smaller column) first.
  if (kept[1].col < kept[0].col) std::swap(kept[0], kept[1]);
  points[0] = kept[0].row;
  points[1] = kept[0].col;
  points[2] = kept[1].row;
  points[3] = kept[1].col;
  return true;
}

}  // namespace

int32_t Pattern_FindCheckerCircles(const Matrix* image, int32_t mode, float* out, float offset) {
  if (image == nullptr || image->data == nullptr || image->cols < 1 || image->rows < 1 || out == nullptr) return 0;
  float p0[4], p1[4];
  if (!Pass(image, mode, offset, p0)) return 0;
  std::vector<float> inv(image->data, image->data + static_cast<size_t>(image->cols) * image->rows);
  for (float& v : inv) v = 1.0f - v;
  const Matrix inverted{image->cols, image->rows, inv.data()};
  if (!Pass(&inverted, mode, offset, p1)) return 0;
  const float* order[4];
  if (p1[0] < p0[0]) {
    order[0] = &p1[0];
    order[1] = &p0[2];
    order[2] = &p0[0];
    order[3] = &p1[2];
  } else {
    order[0] = &p0[0];
    order[1] = &p1[2];
    order[2] = &p1[0];
    order[3] = &p0[2];
  }
  for (int32_t i = 0; i < 4; ++i) {
    out[2 * i] = order[i][0];
    out[2 * i + 1] = order[i][1];
  }
  return 1;
}
