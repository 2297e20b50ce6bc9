#include "calibration/detect/am_marker_outline.h"

#include <cstdint>

#include "toolkit/blobs.h"
#include "toolkit/contours.h"
#include "toolkit/thresholds.h"

bool AM_FindMarkerBlobs(Matrix* image, float* out, int32_t darkOnLight) {
  if (image == nullptr || image->data == nullptr || out == nullptr || image->cols < 1 || image->rows < 1)
    return false;
  const int64_t n = static_cast<int64_t>(image->cols) * image->rows;
  if (darkOnLight == 0)
    for (int64_t i = 0; i < n; ++i) image->data[i] = 1.0f - image->data[i];
  Image_HistStretch(image, 0.5f);
  // The closed walks along the background side of the foreground's edges;
  // the border rows and columns take no part, so a region cut by the window
  // edge leaves an open walk, which is dropped.
  BlobList* outlines = BlobList_TraceBoundaries(image);
  if (outlines == nullptr) return false;
  const float centreRow = static_cast<float>(image->rows) * 0.5f;
  const float centreCol = static_cast<float>(image->cols) * 0.5f;
  float best = 100000000.0f;
  for (Blob* b = BlobList_Next(outlines); b != nullptr; b = BlobList_Next(outlines)) {
    if (b->contourCount < 13) continue;
    float row = 0.0f, col = 0.0f;
    Blob_Centroid(b, &row, &col);
    const float d2 = (row - centreRow) * (row - centreRow) + (col - centreCol) * (col - centreCol);
    if (d2 < best) {
      best = d2;
      out[0] = row;
      out[1] = col;
    }
  }
  BlobList_Free(outlines);
  return best < 25.0f;
}
