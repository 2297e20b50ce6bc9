#include "toolkit/blobs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/matrix.h"
#include "toolkit/smoothing.h"

namespace {

struct Run {
  int32_t row;
  int32_t first;
  int32_t last;
  int32_t region;
};

BlobList* NewList(int32_t width, int32_t height) {
  BlobList* list = static_cast<BlobList*>(calloc(1, sizeof(BlobList)));
  list->width = width;
  list->height = height;
  return list;
}

// Outline trace of one region (directions as (row, col): up, up-left, left,
// down-left, down, down-right, right, up-right); onOutline(i) tells whether
// pixel i is an outline pixel of the region, asked only of the neighbours of
// its outline pixels.
template <class OnOutline>
void TraceOutline(const BlobList* list, Blob* blob, OnOutline onOutline) {
  static const int32_t kDir[8][2] = {{-1, 0}, {-1, -1}, {0, -1}, {1, -1},
                                     {1, 0},  {1, 1},   {0, 1},  {-1, 1}};
  const int32_t w = list->width, h = list->height;
  std::vector<PointI16> steps;
  steps.reserve(static_cast<size_t>(blob->pixelCount) * 2);
  int32_t d = 2;
  int32_t row = blob->topRow, col = blob->topCol;
  // Each outline pixel can be passed from at most four sides; beyond that
  // the walk is cycling without reaching its start.
  const int64_t maxSteps = 4 * static_cast<int64_t>(blob->pixelCount) + 8;
  for (int64_t step = 0; step < maxSteps; ++step) {
    int32_t next = -1;
    for (int32_t k = 0; k < 8; ++k) {
      const int32_t dir = (d + 5 + k) & 7;
      const int32_t r = row + kDir[dir][0], c = col + kDir[dir][1];
      if (r < 0 || r >= h || c < 0 || c >= w) continue;
      if (onOutline(static_cast<size_t>(r) * w + c)) {
        next = dir;
        break;
      }
    }
    if (next < 0) break;  // isolated pixel
    const int32_t nr = row + kDir[next][0], nc = col + kDir[next][1];
    d = next;
    if (nr == blob->topRow && nc == blob->topCol) break;
    const PointI16 cur = {static_cast<int16_t>(row), static_cast<int16_t>(col)};
    if (!steps.empty() && steps.back().row == nr && steps.back().col == nc)
      steps.back() = cur;  // stepping back: drop the spur's tip
    else
      steps.push_back(cur);
    row = nr;
    col = nc;
  }
  steps.push_back({static_cast<int16_t>(row), static_cast<int16_t>(col)});

  int32_t n = static_cast<int32_t>(steps.size());
  PointI16* contour = static_cast<PointI16*>(malloc(sizeof(PointI16) * static_cast<size_t>(n)));
  for (int32_t i = 0; i < n; ++i) contour[i] = steps[n - 1 - i];
  auto same = [&](int32_t a, int32_t b) {
    return contour[a].row == contour[b].row && contour[a].col == contour[b].col;
  };
  if (n >= 4 && same(n - 2, 0)) {
    int32_t j = 1;
    while (j != n / 2 - 1 && same(j, n - 2 - j)) ++j;
    memmove(contour, contour + j, sizeof(PointI16) * static_cast<size_t>(n - 2 * j));
    n -= 2 * j;
  }
  blob->contour = contour;
  blob->contourCount = n;
}

// Tells whether every pixel is 0.0, -0.0 or 1.0.
bool TwoLevel(const float* d, size_t n) {
  uint32_t other = 0;
  for (size_t i = 0; i < n; ++i) other |= static_cast<uint32_t>((d[i] != 0.0f) & (d[i] != 1.0f));
  return other == 0;
}

// Per-thread work rows of the component search, kept across calls.
struct ComponentBuffers {
  std::vector<uint8_t> column, dark, mask;
};
thread_local ComponentBuffers tlsComponents;

// Regions, outlines and labels of an image given row by row: darkRow(y,
// shade) sets shade[x] = 1 where pixel (y, x) of A (the image with its
// outermost lines bright) is dark, outlineRow(y, near) sets near[x] = 1
// where the 3 x 3 box of A around (y, x) holds a bright pixel (needed only
// at the columns of dark runs).
//
// Without labels (kLabels false) the list holds none: the outline pixels
// are marked in a byte mask instead, which is all the trace needs (a dark
// neighbour of a region's pixel belongs to the region).
template <bool kLabels, class DarkRow, class OutlineRow>
BlobList* Components(int32_t w, int32_t h, DarkRow darkRow, OutlineRow outlineRow) {
  BlobList* list = NewList(w, h);
  const size_t npix = static_cast<size_t>(w) * h;
  ComponentBuffers& tb = tlsComponents;
  // Runs of dark pixels, row by row; rowStart[y] .. rowStart[y + 1] index the
  // runs of row y. The columns where a row changes shade are collected
  // without a branch on each pixel (a thresholded noisy ground changes at
  // random), skipping stretches of one shade eight pixels at a time.
  tb.dark.resize(static_cast<size_t>(w));
  std::vector<Run> runs;
  std::vector<int32_t> rowStart(static_cast<size_t>(h) + 1, 0);
  std::vector<int32_t> flips(static_cast<size_t>(w) + 1);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* shade = tb.dark.data();
    darkRow(y, shade);
    int32_t n = 0, prev = 0, x = 0;
    while (x < w) {
      // Stretches of eight pixels all of the current shade hold no change.
      if (x + 8 <= w) {
        uint64_t eight;
        std::memcpy(&eight, shade + x, sizeof eight);
        if (eight == (prev != 0 ? 0x0101010101010101ull : 0ull)) {
          x += 8;
          continue;
        }
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        // Byte i of the word is the shade of x + i: the bytes that differ
        // from the byte before (the previous pixel's shade for byte 0) are
        // the changes, taken lowest first.
        uint64_t change = eight ^ ((eight << 8) | static_cast<uint64_t>(prev));
        while (change != 0) {
          flips[n++] = x + (__builtin_ctzll(change) >> 3);
          change &= change - 1;
        }
        prev = static_cast<int32_t>(eight >> 56);
        x += 8;
        continue;
#endif
      }
      const int32_t end = std::min(w, x + 8);
      for (; x < end; ++x) {
        const int32_t dark = shade[x];
        flips[n] = x;
        n += dark ^ prev;
        prev = dark;
      }
    }
    flips[n] = w;  // a run reaching the row's end (the border is bright here)
    n += prev;
    for (int32_t i = 0; i + 1 < n; i += 2) runs.push_back({y, flips[i], flips[i + 1] - 1, -1});
    rowStart[y + 1] = static_cast<int32_t>(runs.size());
  }
  if (runs.empty()) return list;

  // Regions over runs: one sweep joins each run with the touching runs of the
  // row above (8-connected), a union-find whose root is always the smallest
  // run index of its region. Numbering the roots in run order then gives the
  // regions in the order a row-major growth would create them.
  const int32_t nruns = static_cast<int32_t>(runs.size());
  std::vector<int32_t> parent(static_cast<size_t>(nruns));
  for (int32_t i = 0; i < nruns; ++i) parent[i] = i;
  auto find = [&parent](int32_t i) {
    while (parent[i] != i) {
      parent[i] = parent[parent[i]];
      i = parent[i];
    }
    return i;
  };
  for (int32_t y = 1; y < h; ++y) {
    int32_t k = rowStart[y - 1];
    const int32_t kEnd = rowStart[y];
    for (int32_t i = rowStart[y]; i < rowStart[y + 1]; ++i) {
      const Run& run = runs[i];
      // Runs above ending left of this run's left neighbour touch no later
      // run of this row either.
      while (k < kEnd && runs[k].last < run.first - 1) ++k;
      for (int32_t j = k; j < kEnd && runs[j].first <= run.last + 1; ++j) {
        const int32_t a = find(i), b = find(j);
        if (a < b)
          parent[b] = a;
        else if (b < a)
          parent[a] = b;
      }
    }
  }
  std::vector<int32_t> area;
  for (int32_t i = 0; i < nruns; ++i) {
    const int32_t root = find(i);
    if (root == i) {
      runs[i].region = static_cast<int32_t>(area.size());
      area.push_back(0);
    } else {
      runs[i].region = runs[root].region;
    }
    area[runs[i].region] += runs[i].last - runs[i].first + 1;
  }

  // Keep regions of 9 pixels or more, labelled in creation order.
  std::vector<int32_t> labelOf(area.size(), -1);
  int32_t kept = 0;
  for (size_t r = 0; r < area.size(); ++r)
    if (area[r] >= 9) labelOf[r] = kept++;
  uint8_t* mask = nullptr;
  if (kLabels) {
    list->labels = static_cast<int32_t*>(malloc(sizeof(int32_t) * npix));
    for (size_t i = 0; i < npix; ++i) list->labels[i] = -1;
  }
  if (kept == 0) return list;
  if (!kLabels) {
    tb.mask.assign(npix, 0);
    mask = tb.mask.data();
  }

  std::vector<Blob> blobs(static_cast<size_t>(kept));
  for (Blob& b : blobs) b = {10000, 10000, 0, 0, nullptr};
  std::vector<uint8_t> nearBuf(static_cast<size_t>(w));
  int32_t nearRow = -1;
  for (const Run& run : runs) {
    const int32_t label = labelOf[run.region];
    if (label < 0) continue;
    Blob& b = blobs[label];
    if (run.row != nearRow) {
      outlineRow(run.row, nearBuf.data());
      nearRow = run.row;
    }
    const uint8_t* brow = nearBuf.data();
    int32_t x = run.first;
    if (b.pixelCount == 0) {
      while (x <= run.last && brow[x] == 0) ++x;
      if (x > run.last) continue;
      b.topRow = run.row;
      b.topCol = x;
    }
    // Outline pixels have a bright neighbour; interior ones keep -1. Counted
    // in a local and without a branch on the pixel: noisy outlines alternate
    // at random.
    int32_t count = 0;
    const int32_t last = run.last;  // a local: the label stores may alias it
    if (kLabels) {
      int32_t* lrow = list->labels + static_cast<size_t>(run.row) * w;
      for (; x <= last; ++x) {
        const int32_t outline = brow[x];
        count += outline;
        lrow[x] = (label + 1) * outline - 1;
      }
    } else {
      uint8_t* mrow = mask + static_cast<size_t>(run.row) * w;
      for (; x <= last; ++x) {
        const uint8_t outline = brow[x];
        count += outline;
        mrow[x] = outline;
      }
    }
    b.pixelCount += count;
  }

  // Drop regions without outline and renumber the labels to entry indices.
  std::vector<int32_t> entryOf(blobs.size(), -1);
  int32_t count = 0;
  for (size_t i = 0; i < blobs.size(); ++i)
    if (blobs[i].pixelCount > 0) entryOf[i] = count++;
  if (kLabels && count != kept) {
    for (size_t i = 0; i < npix; ++i)
      if (list->labels[i] >= 0) list->labels[i] = entryOf[list->labels[i]];
  }
  list->entries = static_cast<Blob*>(malloc(sizeof(Blob) * static_cast<size_t>(count > 0 ? count : 1)));
  for (size_t i = 0; i < blobs.size(); ++i)
    if (entryOf[i] >= 0) list->entries[entryOf[i]] = blobs[i];
  list->count = count;
  for (int32_t i = 0; i < count; ++i) {
    if (kLabels) {
      const int32_t* labels = list->labels;
      TraceOutline(list, &list->entries[i], [labels, i](size_t p) { return labels[p] == i; });
    } else {
      TraceOutline(list, &list->entries[i], [mask](size_t p) { return mask[p] != 0; });
    }
  }
  return list;
}

// Rows of A for a picture of two levels (0 dark, anything else bright),
// read from the picture itself: the outer lines of A are bright, and a
// pixel's 3 x 3 box holds a bright pixel when some column of it does.
template <class Pixel>
struct TwoLevelRows {
  const Pixel* data;
  int32_t w, h;
  uint8_t* column;  // w bytes of work

  // Dark flags (1 where A is dark) of row y. The members are read into
  // locals first: byte stores may alias them, which would keep the loops
  // scalar.
  void Dark(int32_t y, uint8_t* __restrict shade) const {
    const int32_t w = this->w;
    if (y == 0 || y == h - 1) {
      std::fill(shade, shade + w, static_cast<uint8_t>(0));
      return;
    }
    const Pixel* __restrict row = data + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) shade[x] = row[x] == Pixel(0) ? 1 : 0;
    shade[0] = 0;
    shade[w - 1] = 0;
  }
  // Outline flags of row y (1 where the box of A holds a bright pixel), for
  // the columns of its runs (dark pixels of A are never on its outer lines).
  void Outline(int32_t y, uint8_t* __restrict near) const {
    const int32_t w = this->w;
    uint8_t* __restrict col = column;
    const Pixel* __restrict up = data + static_cast<size_t>(y - 1) * w;
    const Pixel* __restrict mid = up + w;
    const Pixel* __restrict down = mid + w;
    const uint8_t edge = (y - 1 == 0 || y + 1 == h - 1) ? 1 : 0;
    for (int32_t x = 0; x < w; ++x)
      col[x] = static_cast<uint8_t>(edge | (up[x] != Pixel(0)) | (mid[x] != Pixel(0)) | (down[x] != Pixel(0)));
    col[0] = 1;
    col[w - 1] = 1;
    near[0] = near[w - 1] = 1;
    for (int32_t x = 1; x < w - 1; ++x) near[x] = static_cast<uint8_t>(col[x - 1] | col[x] | col[x + 1]);
  }
};

}  // namespace

BlobList* BlobList_FindComponents(const Matrix* img) {
  const int32_t w = img->cols, h = img->rows;
  if (w < 1 || h < 1) return NewList(w, h);
  const size_t npix = static_cast<size_t>(w) * h;

  // The image is searched with its outermost rows and columns taken as
  // bright (A). A dark pixel lies on the outline when the 3 x 3 box mean of
  // A around it is above 0. On an image of only 0 and 1 that box holds
  // whole numbers, so the test is "some pixel of the box is bright"; it is
  // then taken row by row from the image itself, without the copy and the
  // full box mean (same result). Other images take the box-mean road.
  ComponentBuffers& tb = tlsComponents;
  if (TwoLevel(img->data, npix)) {
    tb.column.resize(static_cast<size_t>(w));
    const TwoLevelRows<float> rows{img->data, w, h, tb.column.data()};
    return Components<true>(
        w, h, [&](int32_t y, uint8_t* shade) { rows.Dark(y, shade); },
        [&](int32_t y, uint8_t* near) { rows.Outline(y, near); });
  }
  std::vector<float> abuf(npix), bbuf(npix);
  Matrix A, B;
  Matrix_Init(&A, w, h, abuf.data());
  Matrix_Init(&B, w, h, bbuf.data());
  Matrix_Copy(img, &A);
  for (int32_t x = 0; x < w; ++x) {
    abuf[x] = 1.0f;
    abuf[(h - 1) * static_cast<size_t>(w) + x] = 1.0f;
  }
  for (int32_t y = 0; y < h; ++y) {
    abuf[static_cast<size_t>(y) * w] = 1.0f;
    abuf[static_cast<size_t>(y) * w + w - 1] = 1.0f;
  }
  Image_BoxMean(&A, &B, 1, 1);
  // Dark flags (1 where A is 0.0) and outline flags (box mean above 0).
  auto darkRow = [&](int32_t y, uint8_t* shade) {
    const float* row = abuf.data() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) shade[x] = row[x] == 0.0f ? 1 : 0;
  };
  auto outlineRow = [&](int32_t y, uint8_t* near) {
    const float* brow = bbuf.data() + static_cast<size_t>(y) * w;
    for (int32_t x = 0; x < w; ++x) near[x] = brow[x] > 0.0f ? 1 : 0;
  };
  return Components<true>(w, h, darkRow, outlineRow);
}

BlobList* BlobList_FindComponentsU8(const ImageU8* img) {
  const int32_t w = img->width, h = img->height;
  if (w < 1 || h < 1) return NewList(w, h);
  // The two-level road of BlobList_FindComponents on bytes (0 dark, any
  // other value bright): a quarter of the traffic, no check of the values.
  ComponentBuffers& tb = tlsComponents;
  tb.column.resize(static_cast<size_t>(w));
  const TwoLevelRows<uint8_t> rows{img->data, w, h, tb.column.data()};
  return Components<false>(
      w, h, [&](int32_t y, uint8_t* shade) { rows.Dark(y, shade); },
      [&](int32_t y, uint8_t* near) { rows.Outline(y, near); });
}

BlobList* BlobList_TraceBoundaries(const Matrix* img) {
  const int32_t w = img->cols, h = img->rows;
  BlobList* list = NewList(w, h);
  if (w < 1 || h < 1) return list;
  const size_t npix = static_cast<size_t>(w) * h;
  std::vector<float> sbuf(npix);
  Matrix S;
  Matrix_Init(&S, w, h, sbuf.data());
  Image_Smooth3x3(img, &S, 4);

  size_t boundary = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      const bool inner = y > 0 && y < h - 1 && x > 0 && x < w - 1;
      if (inner && img->data[i] < 0.5f && sbuf[i] > 0.00001f) {
        sbuf[i] = 1.0f;
        ++boundary;
      } else {
        sbuf[i] = 0.0f;
      }
    }
  }
  // Every boundary pixel joins at most one chain, so these cannot overflow.
  list->contourPool = static_cast<PointI16*>(malloc(sizeof(PointI16) * (boundary > 0 ? boundary : 1)));
  const size_t maxEntries = boundary / 12 + 1;
  list->entries = static_cast<Blob*>(malloc(sizeof(Blob) * maxEntries));

  static const int32_t kDir[8][2] = {{-1, 0}, {-1, 1}, {0, 1},  {1, 1},
                                     {1, 0},  {1, -1}, {0, -1}, {-1, -1}};
  size_t used = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      if (sbuf[static_cast<size_t>(y) * w + x] != 1.0f) continue;
      PointI16* chain = list->contourPool + used;
      int32_t n = 0;
      sbuf[static_cast<size_t>(y) * w + x] = 0.0f;
      chain[n++] = {static_cast<int16_t>(y), static_cast<int16_t>(x)};
      int32_t d = 2, row = y, col = x;
      for (;;) {
        int32_t next = -1;
        for (int32_t k = 0; k < 8; ++k) {
          const int32_t dir = (d + 5 + k) & 7;
          const int32_t r = row + kDir[dir][0], c = col + kDir[dir][1];
          if (r < 0 || r >= h || c < 0 || c >= w) continue;
          if (sbuf[static_cast<size_t>(r) * w + c] == 1.0f) {
            next = dir;
            break;
          }
        }
        if (next < 0) break;
        row += kDir[next][0];
        col += kDir[next][1];
        sbuf[static_cast<size_t>(row) * w + col] = 0.0f;
        chain[n++] = {static_cast<int16_t>(row), static_cast<int16_t>(col)};
        d = next;
      }
      if (n < 12) continue;  // too short: its pool space is reused
      const int32_t dr = chain[n - 1].row - chain[0].row, dc = chain[n - 1].col - chain[0].col;
      if (dr < -1 || dr > 1 || dc < -1 || dc > 1) continue;  // open chain
      list->entries[list->count++] = {chain[0].row, chain[0].col, n, n, chain};
      used += static_cast<size_t>(n);
    }
  }
  return list;
}

Blob* BlobList_Next(BlobList* list) {
  if (list->iterator >= list->count) return nullptr;
  return &list->entries[list->iterator++];
}

void BlobList_Free(BlobList* list) {
  if (!list) return;
  if (list->contourPool) {
    free(list->contourPool);
  } else if (list->entries) {
    for (int32_t i = 0; i < list->count; ++i) free(list->entries[i].contour);
  }
  free(list->labels);
  free(list->entries);
  free(list);
}
