#include "toolkit/thinning.h"

#include <cstddef>
#include <cmath>
#include <cstring>
#include <vector>

#include "toolkit/image_ops.h"
#include "toolkit/matrix.h"

namespace {

// Neighbour bits of the table code.
enum : int { kNW = 0, kN = 1, kNE = 2, kW = 3, kE = 4, kSW = 5, kS = 6, kSE = 7 };

constexpr uint32_t Deletable(int code) {
  int set = 0;
  for (int b = 0; b < 8; ++b) set += (code >> b) & 1;
  // Complements in the cyclic order E, NE, N, NW, W, SW, S, SE.
  const int order[8] = {kE, kNE, kN, kNW, kW, kSW, kS, kSE};
  int c[8] = {};
  for (int k = 0; k < 8; ++k) c[k] = 1 - ((code >> order[k]) & 1);
  int conn = 0;
  for (int k = 0; k < 8; k += 2) conn += c[k] - c[k] * c[(k + 1) % 8] * c[(k + 2) % 8];
  return (set >= 2 && conn == 1) ? 1u : 0u;
}

struct Table {
  uint32_t v[256];
};

constexpr Table BuildTable() {
  Table t{};
  for (int i = 0; i < 256; ++i) t.v[i] = Deletable(i);
  return t;
}

constexpr Table kThin = BuildTable();

// Code of the pixel at p in a mask of row length w (interior pixels only).
inline int Code(const uint8_t* p, int32_t w) {
  return p[-w - 1] | (p[-w] << 1) | (p[-w + 1] << 2) | (p[-1] << 3) | (p[1] << 4) | (p[w - 1] << 5) |
         (p[w] << 6) | (p[w + 1] << 7);
}

// Column pass over byRow (the pixels still set after the row pass, in
// ascending order), adding its deletions to deleted: a counting sort by column puts
// them in the column pass's order (rows ascending within a column).
int64_t ColumnPass(ImageU8* mask, std::vector<int32_t>& byRow, int64_t deleted) {
  const int32_t w = mask->width;
  if (byRow.empty()) return deleted;
  thread_local std::vector<int32_t> byCol, columnStart, column;
  columnStart.assign(static_cast<size_t>(w) + 1, 0);
  // Columns without a division: the list ascends, so the row start only
  // moves forward.
  column.resize(byRow.size());
  int32_t rowStart = 0;
  for (size_t k = 0; k < byRow.size(); ++k) {
    while (byRow[k] - rowStart >= w) rowStart += w;
    column[k] = byRow[k] - rowStart;
    ++columnStart[column[k] + 1];
  }
  for (int32_t x = 0; x < w; ++x) columnStart[x + 1] += columnStart[x];
  byCol.resize(byRow.size());
  for (size_t k = 0; k < byRow.size(); ++k) byCol[columnStart[column[k]]++] = byRow[k];
  uint8_t* m = mask->data;
  const size_t count = byCol.size();
  for (size_t k = 0; k < count; ++k) {
    const int32_t i = byCol[k];
    uint8_t* p = m + i;
    if (*p && !(p[-w] == 1 && p[w] == 1) && kThin.v[Code(p, w)]) {
      *p = 0;
      ++deleted;
      if (k + 1 < count && byCol[k + 1] == i + w) ++k;  // the pixel below is skipped
    }
  }
  return deleted;
}

// Row pass then column pass; returns the number of deleted pixels. Only set
// pixels are ever examined and a pixel is cleared only when examined, so
// each pass visits the pixels that were set when it began, in its order:
// the row pass skips runs of clear bytes eight at a time and lists the
// pixels still set for the column pass.
int64_t TablePasses(ImageU8* mask) {
  const int32_t w = mask->width, h = mask->height;
  int64_t deleted = 0;
  thread_local std::vector<int32_t> byRow;
  byRow.clear();
  for (int32_t y = 1; y <= h - 2; ++y) {
    uint8_t* row = mask->data + static_cast<ptrdiff_t>(y) * w;
    for (int32_t x = 1; x < w - 1;) {
      if (x + 8 <= w - 1) {
        uint64_t word;
        memcpy(&word, row + x, sizeof word);
        if (word == 0) {
          x += 8;
          continue;
        }
      }
      uint8_t* p = row + x;
      if (*p && !(p[-1] == 1 && p[1] == 1) && kThin.v[Code(p, w)]) {
        *p = 0;
        ++deleted;
        // The next pixel is skipped here but stays a column-pass candidate.
        if (x + 1 < w - 1 && p[1]) byRow.push_back(y * w + x + 1);
        x += 2;
      } else {
        if (*p) byRow.push_back(y * w + x);
        ++x;
      }
    }
  }
  return ColumnPass(mask, byRow, deleted);
}

// TablePasses with the set pixels listed in row order: the row pass visits
// the list (a deletion skips the next pixel of the row, which then stays a
// column-pass candidate).
void TablePassesListed(ImageU8* mask, const int32_t* set, size_t count) {
  const int32_t w = mask->width;
  thread_local std::vector<int32_t> byRow;
  byRow.clear();
  uint8_t* m = mask->data;
  for (size_t k = 0; k < count; ++k) {
    const int32_t i = set[k];
    uint8_t* p = m + i;
    if (!(p[-1] == 1 && p[1] == 1) && kThin.v[Code(p, w)]) {
      *p = 0;
      if (k + 1 < count && set[k + 1] == i + 1) byRow.push_back(set[++k]);
    } else {
      byRow.push_back(i);
    }
  }
  ColumnPass(mask, byRow, 0);
}

// Clears isolated pixels, spurs and one-pixel lines, deciding from a copy.
void CleanUp(ImageU8* mask, uint8_t* work) {
  const int32_t w = mask->width, h = mask->height;
  ImageU8 copy{w, h, work};
  ImageU8_Copy(mask, &copy);
  for (int32_t y = 1; y <= h - 2; ++y)
    for (int32_t x = 1; x <= w - 2; ++x) {
      const ptrdiff_t i = static_cast<ptrdiff_t>(y) * w + x;
      if (!mask->data[i]) continue;
      const uint8_t* c = work + i;
      const uint8_t upper = static_cast<uint8_t>(c[-w - 1] + c[-w] + c[-w + 1] + c[-1]);
      const uint8_t lower = static_cast<uint8_t>(c[1] + c[w - 1] + c[w] + c[w + 1]);
      if (upper == 0 || lower == 0 || upper + lower <= 2) mask->data[i] = 0;
    }
}

bool TooSmall(const ImageU8* mask) { return mask->width - 1 < 2 || mask->height - 1 < 2; }

}  // namespace

const uint32_t ThinTable[256] = {
#define T(i) kThin.v[i]
#define T8(i) T(i), T(i + 1), T(i + 2), T(i + 3), T(i + 4), T(i + 5), T(i + 6), T(i + 7)
#define T64(i) T8(i), T8(i + 8), T8(i + 16), T8(i + 24), T8(i + 32), T8(i + 40), T8(i + 48), T8(i + 56)
    T64(0), T64(64), T64(128), T64(192)
#undef T64
#undef T8
#undef T
};

void ImageU8_Thin(ImageU8* mask) {
  if (TooSmall(mask)) return;
  TablePasses(mask);
}

void ImageU8_ThinListed(ImageU8* mask, const int32_t* set, size_t count) {
  if (TooSmall(mask)) return;
  TablePassesListed(mask, set, count);
}

void ImageU8_ThinIterative(ImageU8* mask, int32_t maxIter, uint8_t* work) {
  if (TooSmall(mask)) return;
  if (work != nullptr) CleanUp(mask, work);
  for (int32_t i = 0; i < maxIter; ++i)
    if (TablePasses(mask) == 0) break;
}

void ImageU8_ThinIterativeFast(ImageU8* mask, int32_t maxIter, uint8_t* work) {
  if (TooSmall(mask) || work == nullptr) return;
  const int32_t w = mask->width, h = mask->height;
  CleanUp(mask, work);
  // Candidates: the surviving interior pixels, in row order and in column
  // order. A pixel once cleared never returns, so its mask byte tells
  // whether the candidate is still alive.
  std::vector<int32_t> byRow, byCol;
  for (int32_t y = 1; y <= h - 2; ++y)
    for (int32_t x = 1; x <= w - 2; ++x)
      if (mask->data[static_cast<ptrdiff_t>(y) * w + x]) byRow.push_back(y * w + x);
  if (byRow.empty()) return;
  for (int32_t x = 1; x <= w - 2; ++x)
    for (int32_t y = 1; y <= h - 2; ++y)
      if (mask->data[static_cast<ptrdiff_t>(y) * w + x]) byCol.push_back(y * w + x);
  uint8_t* m = mask->data;
  for (int32_t it = 0; it < maxIter; ++it) {
    int64_t deleted = 0;
    for (size_t k = 0; k < byRow.size(); ++k) {
      uint8_t* p = m + byRow[k];
      if (*p && !(p[-1] == 1 && p[1] == 1) && kThin.v[Code(p, w)]) {
        *p = 0;
        ++deleted;
        // A deletion skips the next pixel of the row.
        if (k + 1 < byRow.size() && byRow[k + 1] == byRow[k] + 1) ++k;
      }
    }
    for (size_t k = 0; k < byCol.size(); ++k) {
      uint8_t* p = m + byCol[k];
      if (*p && !(p[-w] == 1 && p[w] == 1) && kThin.v[Code(p, w)]) {
        *p = 0;
        ++deleted;
        if (k + 1 < byCol.size() && byCol[k + 1] == byCol[k] + w) ++k;
      }
    }
    if (deleted == 0) break;
  }
}

void Image_ThinZhangSuen(Matrix* img) {
  const int32_t w = img->cols, h = img->rows;
  if (w < 1 || h < 1) return;
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<float> copy(n);
  Matrix copyM{w, h, copy.data()};
  // Neighbour value as an integer: truncated, modulo 256.
  auto bit = [&](int32_t x, int32_t y) -> int {
    const float v = copy[static_cast<size_t>(y) * w + x];
    if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
    return static_cast<int>(static_cast<int32_t>(v) & 255);
  };
  int64_t deleted;
  do {
    deleted = 0;
    for (int sub = 0; sub < 2; ++sub) {
      Matrix_Copy(img, &copyM);
      Matrix_Fill(img, 0.0f);
      for (int32_t y = 1; y <= h - 2; ++y)
        for (int32_t x = 1; x <= w - 2; ++x) {
          if (copy[static_cast<size_t>(y) * w + x] == 0.0f) continue;
          const int N = bit(x, y - 1), S = bit(x, y + 1), W = bit(x - 1, y), E = bit(x + 1, y);
          const int NW = bit(x - 1, y - 1), NE = bit(x + 1, y - 1), SW = bit(x - 1, y + 1),
                    SE = bit(x + 1, y + 1);
          const int B = (N != 0) + (S != 0) + (W != 0) + (E != 0) + (NW != 0) + (NE != 0) + (SW != 0) +
                        (SE != 0);
          const int seq[9] = {N, NW, W, SW, S, SE, E, NE, N};
          int A = 0;
          for (int i = 0; i < 8; ++i) A += (seq[i] == 0 && seq[i + 1] != 0);
          bool del = false, decided = false;
          if (A == 1 && B >= 2 && B <= 6) {
            del = sub == 0 ? (N * W * S == 0 && W * S * E == 0) : (N * W * E == 0 && N * S * E == 0);
            decided = del;
          }
          if (!decided && A == 2) {
            if (sub == 0)
              del = (N == 1 && E == 1 && S + W + NE == 0) || (N == 1 && W == 1 && S + NW + E == 0);
            else
              del = (S == 1 && W == 1 && N + SW + E == 0) || (S == 1 && E == 1 && N + W + SE == 0);
            decided = del;
          }
          if (!decided) del = NW + NE + SW + SE == 0 && (N != 0) + (S != 0) + (E != 0) + (W != 0) == 3;
          if (del)
            ++deleted;
          else
            img->data[static_cast<size_t>(y) * w + x] = 1.0f;
        }
    }
  } while (deleted > 5);
}
