#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/point_pairs.h"

// One region or boundary chain of a BlobList.
struct Blob {
  int32_t topRow;  // first outline pixel in row-major order (10000 before any)
  int32_t topCol;
  int32_t pixelCount;    // outline pixels of the region, or the chain length
  int32_t contourCount;  // points in contour
  PointI16* contour;     // {row, col}
};

// Result of the two region extractors; created by them, walked with
// BlobList_Next, released with BlobList_Free.
struct BlobList {
  int32_t width;
  int32_t height;
  // BlobList_FindComponents only (not the byte form): for each pixel the
  // index of the entry whose outline it belongs to, -1 elsewhere (32-bit, so
  // any number of regions).
  int32_t* labels;
  PointI16* contourPool;  // BlobList_TraceBoundaries only: all chains in one block
  int32_t count;
  Blob* entries;
  int32_t iterator;
};

// Dark (0.0) 8-connected regions of at least 9 pixels of a 0/1 image, whose
// outermost rows and columns are taken as bright; each entry holds the
// region's outline pixel count and its traced outline.
BlobList* BlobList_FindComponents(const Matrix* img);

// BlobList_FindComponents of a byte image, 0 dark and any other value
// bright: the entries of the float form on the image as 0.0 and 1.0, without
// labels (null).
BlobList* BlobList_FindComponentsU8(const ImageU8* img);
// Closed outer boundary chains (12 points or more) of the bright foreground.
BlobList* BlobList_TraceBoundaries(const Matrix* img);
// Next entry, or null once all were handed out.
Blob* BlobList_Next(BlobList* list);
void BlobList_Free(BlobList* list);
