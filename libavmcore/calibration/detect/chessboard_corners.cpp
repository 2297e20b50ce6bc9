#include "calibration/detect/chessboard_corners.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "calibration/detect/corner_resample.h"
#include "frame/log.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/morphology.h"
#include "toolkit/thresholds.h"

namespace {

struct Attempt {
  int32_t k;     // threshold radius; 0: global histogram level
  float offset;
};
const Attempt kAttempts[11] = {{0, 0.0f},   {21, 0.0f}, {21, -0.04f}, {21, -0.08f}, {21, 0.04f}, {21, 0.08f},
                               {41, 0.0f},  {41, -0.04f}, {41, -0.08f}, {41, 0.04f}, {41, 0.08f}};
const int32_t kDilate[3][2] = {{1, 1}, {2, 1}, {1, 2}};
const float kLinkDist2[6] = {196, 100, 196, 100, 196, 100};
const float kLinkMinEdge2[6] = {8, 8, 15, 15, 24, 24};

// Image_PercentileThreshold's level: the first bin whose running count
// passes the target, with the same bins. The bins are worked out in vector
// lanes into bytes (an out-of-range value sends its block to the exact
// scalar bin); the running count at a bin is the number of bytes at or
// below it, counted in vector lanes, and the first bin past the target is
// found by halving (the running count never falls).
uint32_t ExactBin(float v) {
  const float x = std::fma(v, 255.0f, 0.5f);
  if (!(x > 0.0f)) return 0;
  if (x >= 4294967296.0f) return 255;
  return static_cast<uint32_t>(x) & 255u;
}

int64_t CountAtMost(const uint8_t* bins, size_t n, uint8_t t) {
  int64_t total = 0;
  size_t i = 0;
  // Byte counters per lane of 32 bytes, emptied before they can wrap (255
  // steps): one compare and one add per 32 bytes in vector lanes.
  constexpr size_t kLanes = 32, kSteps = 255;
  while (n - i >= kLanes) {
    uint8_t lanes[kLanes] = {};
    const size_t steps = std::min(kSteps, (n - i) / kLanes);
    for (size_t s = 0; s < steps; ++s, i += kLanes) {
      const uint8_t* __restrict b = bins + i;
      for (size_t l = 0; l < kLanes; ++l) lanes[l] = static_cast<uint8_t>(lanes[l] + (b[l] <= t ? 1 : 0));
    }
    uint32_t sum = 0;
    for (size_t l = 0; l < kLanes; ++l) sum += lanes[l];
    total += sum;
  }
  for (; i < n; ++i) total += bins[i] <= t ? 1 : 0;
  return total;
}

constexpr size_t kBinBlock = 1024;

// The image's bins, and per block of kBinBlock pixels whether one of them
// lies outside 0 < fma(v, 255, 0.5) < 256 (not a number included): only
// inside that range does a bin bound its pixel, (b - 0.5 - 2^-17) / 255 <=
// v < (b + 0.5) / 255.
thread_local std::vector<uint8_t> tlsBins, tlsBinBlockOutside;

struct PercentileResult {
  float level;
  int32_t bin;   // the level's bin; -1 when the level is 1 (no bin passed)
  bool bounded;  // no block outside
};

PercentileResult PercentileLevel(const Matrix* img, float p) {
  PercentileResult res{1.0f, -1, true};
  const size_t n = static_cast<size_t>(img->cols) * static_cast<size_t>(img->rows);
  tlsBins.resize(n);
  tlsBinBlockOutside.resize((n + kBinBlock - 1) / kBinBlock);
  uint8_t* bins = tlsBins.data();
  for (size_t start = 0; start < n; start += kBinBlock) {
    const size_t m = std::min<size_t>(kBinBlock, n - start);
    const float* __restrict d = img->data + start;
    uint8_t* __restrict out = bins + start;
    // A block with a pixel outside takes the exact scalar bins (the same
    // bins, also for values that wrap or exceed 2^23).
    int32_t outside = 0;
    for (size_t i = 0; i < m; ++i) {
      const float x = std::fma(d[i], 255.0f, 0.5f);
      // Inside: the bin is x truncated; outside (not a number included) the
      // block is done again below.
      const bool inside = std::fabs(x - 128.0f) < 128.0f;
      outside |= inside ? 0 : 1;
      out[i] = static_cast<uint8_t>(static_cast<int32_t>(inside ? x : 0.0f));
    }
    if (outside != 0)
      for (size_t i = 0; i < m; ++i) out[i] = static_cast<uint8_t>(ExactBin(d[i]));
    tlsBinBlockOutside[start / kBinBlock] = static_cast<uint8_t>(outside);
    if (outside != 0) res.bounded = false;
  }
  const int64_t target = static_cast<int64_t>(static_cast<float>(img->cols) * p * static_cast<float>(img->rows));
  // The answer is the first bin t of 0 .. 254 with CountAtMost(t) > target
  // (none gives 1). A guess from every 16th block of the image is checked
  // with exact counts at it and the bin below; only a wrong guess leaves a
  // halving search of the side it tells.
  int lo = 0, hi = 254;  // the answer lies in lo .. hi, if anywhere
  bool passes = false;   // CountAtMost(hi) > target is known
  {
    constexpr size_t kStride = 16;
    size_t m = 0;
    for (size_t start = 0; start < n; start += kStride * kBinBlock) m += std::min(kBinBlock, n - start);
    if (m > 0 && n >= 64 * kBinBlock) {
      const double scaledTarget = static_cast<double>(target) * static_cast<double>(m) / static_cast<double>(n);
      auto sampleCount = [&](uint8_t t) {
        int64_t c = 0;
        for (size_t start = 0; start < n; start += kStride * kBinBlock)
          c += CountAtMost(bins + start, std::min(kBinBlock, n - start), t);
        return c;
      };
      int a = 0, b = 254;
      while (a < b) {
        const int mid = (a + b) / 2;
        if (static_cast<double>(sampleCount(static_cast<uint8_t>(mid))) > scaledTarget)
          b = mid;
        else
          a = mid + 1;
      }
      const int guess = a;
      if (CountAtMost(bins, n, static_cast<uint8_t>(guess)) > target) {
        if (guess == 0 || !(CountAtMost(bins, n, static_cast<uint8_t>(guess - 1)) > target)) {
          res.level = static_cast<float>(guess / 255.0);
          res.bin = guess;
          return res;
        }
        hi = guess - 1;
        passes = true;
      } else {
        lo = guess + 1;
        if (lo > 254) return res;
      }
    }
  }
  // Bins lo .. hi are looked at; none past the target gives 1.
  if (!passes && !(CountAtMost(bins, n, static_cast<uint8_t>(hi)) > target)) return res;
  while (lo < hi) {
    const int mid = (lo + hi) / 2;
    if (CountAtMost(bins, n, static_cast<uint8_t>(mid)) > target)
      hi = mid;
    else
      lo = mid + 1;
  }
  res.level = static_cast<float>(lo / 255.0);
  res.bin = lo;
  return res;
}

// out[i] = 1 where d[i] > level, else 0, for n pixels.
void AboveLevel(const float* __restrict d, float level, uint8_t* __restrict out, size_t n) {
  size_t i = 0;
  // Blocks of a fixed length: the compiler vectorises the compares and the
  // narrowing to bytes.
  for (; i + 32 <= n; i += 32)
    for (size_t j = i; j < i + 32; ++j) out[j] = static_cast<uint8_t>(static_cast<uint32_t>(d[j] > level));
  for (; i < n; ++i) out[i] = d[i] > level ? 1 : 0;
}

// AboveLevel with the level of bin lo, read from the bins where they decide
// it: inside the bounded range a pixel of a higher bin lies above the level
// (v >= (lo + 0.5 - 2^-17) / 255 > lo / 255, whose float is the level up to
// a relative 2^-24) and one of a lower bin below it, so only runs of 32
// holding bin lo and blocks with a pixel outside compare the pixels.
void AboveBinLevel(const float* d, const uint8_t* bins, const uint8_t* outsideBlocks, int32_t lo, float level,
                   uint8_t* out, size_t n) {
  const uint8_t b = static_cast<uint8_t>(lo);
  for (size_t start = 0; start < n; start += kBinBlock) {
    const size_t m = std::min(kBinBlock, n - start);
    if (outsideBlocks[start / kBinBlock] != 0 || m % 32 != 0) {
      AboveLevel(d + start, level, out + start, m);
      continue;
    }
    for (size_t i = start; i < start + m; i += 32) {
      const uint8_t* __restrict bi = bins + i;
      uint8_t* __restrict o = out + i;
      uint32_t tie = 0;
      for (size_t j = 0; j < 32; ++j) {
        o[j] = static_cast<uint8_t>(bi[j] > b ? 1 : 0);
        tie |= bi[j] == b ? 1u : 0u;
      }
      if (tie != 0) AboveLevel(d + i, level, out + i, 32);
    }
  }
}

// Work buffers of the detector, kept per thread across attempts and calls
// (cameras are searched on several threads at once).
struct SearchBuffers {
  std::vector<float> scaled, mean21, mean41, grid;
  std::vector<uint8_t> bin;
  std::vector<ChessQuad> quads, fresh;
  std::vector<ChessQuad*> group;
};
thread_local SearchBuffers tlsSearch;

// Binarisations of one working image into bytes (1 bright, 0 dark). The local mean of the adaptive
// threshold does not depend on the offset, so it is computed once per
// window radius and shared by the five offsets and the three passes.
class Binariser {
 public:
  explicit Binariser(const Matrix* image) : image_(image) {}
  Binariser(const Binariser&) = delete;
  Binariser& operator=(const Binariser&) = delete;

  // The percentile bins of the image when they bound its values, else null.
  const uint8_t* Bins() const { return histDone_ && hist_.bounded ? tlsBins.data() : nullptr; }

  void Run(int32_t attempt, uint8_t* out) {
    const size_t n = static_cast<size_t>(image_->cols) * image_->rows;
    const Attempt& a = kAttempts[attempt];
    if (a.k == 0) {
      if (!histDone_) {
        hist_ = PercentileLevel(image_, 0.5f);
        histDone_ = true;
      }
      if (hist_.bin < 0)
        AboveLevel(image_->data, hist_.level, out, n);
      else
        AboveBinLevel(image_->data, tlsBins.data(), tlsBinBlockOutside.data(), hist_.bin, hist_.level, out, n);
      return;
    }
    const float* mean = Mean(a.k);
    // The comparison of the toolkit's adaptive threshold: a pixel is bright
    // when truncate((p - m + 1) 256 - 0.5) exceeds 255 - K.
    const int K = static_cast<int>(static_cast<double>(a.offset) * 255.0 + 0.5);
    for (size_t i = 0; i < n; ++i) {
      const double idx = (static_cast<double>(image_->data[i] - mean[i]) + 1.0) * 256.0 - 0.5;
      int index;
      if (!(idx > 0.0))
        index = 0;
      else if (idx >= 767.0)
        index = 767;
      else
        index = static_cast<int>(idx);
      out[i] = (index - 255 > -K) ? 1 : 0;
    }
  }

 private:
  const float* Mean(int32_t k) {
    std::vector<float>& m = k == 21 ? tlsSearch.mean21 : tlsSearch.mean41;
    bool& done = k == 21 ? mean21Done_ : mean41Done_;
    if (!done) {
      done = true;
      m.resize(static_cast<size_t>(image_->cols) * image_->rows);
      Matrix dst{image_->cols, image_->rows, m.data()};
      Image_BoxMean(image_, &dst, k, k);
    }
    return m.data();
  }
  const Matrix* image_;
  bool histDone_ = false;
  PercentileResult hist_{1.0f, -1, false};
  bool mean21Done_ = false, mean41Done_ = false;
};

inline float D2(const float* p) { return p[0] * p[0] + p[1] * p[1]; }

void Reverse(float* points, int32_t n) {
  for (int32_t i = 0, j = n - 1; i < j; ++i, --j) {
    std::swap(points[2 * i], points[2 * j]);
    std::swap(points[2 * i + 1], points[2 * j + 1]);
  }
}

// A grid of corners is a board only when every cell is a quadrilateral
// turning the same way as the others at each of its four corners, none of
// them near a straight line (sine of the corner angle at least 0.2): groups
// of quads linked in noise can fill a grid with repeated corners or flat
// cells.
bool GridCellsSound(const float* grid, int32_t gw, int32_t gh) {
  int sign = 0;
  for (int32_t i = 0; i + 1 < gh; ++i)
    for (int32_t j = 0; j + 1 < gw; ++j) {
      const float* c[4] = {grid + 2 * (i * gw + j), grid + 2 * (i * gw + j + 1), grid + 2 * ((i + 1) * gw + j + 1),
                           grid + 2 * ((i + 1) * gw + j)};
      for (int k = 0; k < 4; ++k) {
        const float* p = c[k];
        const float* q = c[(k + 1) % 4];
        const float* r = c[(k + 2) % 4];
        const float ax = q[0] - p[0], ay = q[1] - p[1], bx = r[0] - q[0], by = r[1] - q[1];
        const float cross = ax * by - ay * bx;
        const float lengths = std::sqrt((ax * ax + ay * ay) * (bx * bx + by * by));
        if (!(lengths > 0.0f) || !(std::fabs(cross) >= 0.2f * lengths)) return false;
        const int s = cross > 0.0f ? 1 : -1;
        if (sign == 0) sign = s;
        if (s != sign) return false;
      }
    }
  return true;
}

// Mean of the 3 x 3 pixels around (row, column), edges clamped.
float MeanAround(const Matrix* image, float row, float col) {
  const int32_t r0 = static_cast<int32_t>(std::lround(row)), c0 = static_cast<int32_t>(std::lround(col));
  float sum = 0.0f;
  for (int32_t dr = -1; dr <= 1; ++dr)
    for (int32_t dc = -1; dc <= 1; ++dc) {
      const int32_t r = std::min(std::max(r0 + dr, 0), image->rows - 1);
      const int32_t c = std::min(std::max(c0 + dc, 0), image->cols - 1);
      sum += image->data[static_cast<size_t>(r) * image->cols + c];
    }
  return sum / 9.0f;
}

// Smallest difference between the two diagonals of a board corner that
// counts as a board's (grey 0..1): printed boards give ten times more, the
// noise of a bare floor far less.
constexpr float kMinCornerContrast = 0.05f;

// A grid is a board only when each corner has the diagonal contrast of one,
// its dark diagonal alternating from corner to corner: groups of quads
// linked in the noise of a bare floor fill grids of a small board's size.
bool GridContrastSound(const Matrix* image, const float* grid, int32_t gw, int32_t gh) {
  if (gw < 2 && gh < 2) return true;  // one corner: no steps to measure by
  auto at = [&](int32_t i, int32_t j) { return grid + 2 * (i * gw + j); };
  int sign0 = 0;
  for (int32_t i = 0; i < gh; ++i)
    for (int32_t j = 0; j < gw; ++j) {
      const float* p = at(i, j);
      // Steps to the next corner along the row and down the column; a grid
      // one corner wide or high takes the other step turned a right angle.
      float u[2] = {0.0f, 0.0f}, v[2] = {0.0f, 0.0f};
      if (gw > 1) {
        const float* a = at(i, j + 1 < gw ? j + 1 : j);
        const float* b = at(i, j + 1 < gw ? j : j - 1);
        u[0] = 0.3f * (a[0] - b[0]);
        u[1] = 0.3f * (a[1] - b[1]);
      }
      if (gh > 1) {
        const float* c = at(i + 1 < gh ? i + 1 : i, j);
        const float* d = at(i + 1 < gh ? i : i - 1, j);
        v[0] = 0.3f * (c[0] - d[0]);
        v[1] = 0.3f * (c[1] - d[1]);
      }
      if (gw < 2) {
        u[0] = -v[1];
        u[1] = v[0];
      }
      if (gh < 2) {
        v[0] = u[1];
        v[1] = -u[0];
      }
      const float same = MeanAround(image, p[0] + u[0] + v[0], p[1] + u[1] + v[1]) +
                         MeanAround(image, p[0] - u[0] - v[0], p[1] - u[1] - v[1]);
      const float other = MeanAround(image, p[0] + u[0] - v[0], p[1] + u[1] - v[1]) +
                          MeanAround(image, p[0] - u[0] + v[0], p[1] - u[1] + v[1]);
      const float diff = (same - other) / 2.0f;
      if (!(std::fabs(diff) >= kMinCornerContrast)) return false;
      const int s = (diff > 0.0f ? 1 : -1) * ((i + j) % 2 == 0 ? 1 : -1);
      if (sign0 == 0) sign0 = s;
      if (s != sign0) return false;
    }
  return true;
}

// Searches the working image; 1 with the refined grid (working
// coordinates) in grid.
int32_t Search(const Matrix* work, int32_t cols, int32_t rows, float* grid) {
  const int32_t W = work->cols, H = work->rows;
  const int32_t expected = (cols - 1) * (rows - 1);
  const int32_t half = cols * rows / 2, halfUp = (cols * rows + 1) / 2;
  std::vector<uint8_t>& binData = tlsSearch.bin;
  binData.resize(static_cast<size_t>(W) * H);
  ImageU8 bin{W, H, binData.data()};
  Binariser binariser(work);
  std::vector<ChessQuad>& quads = tlsSearch.quads;
  std::vector<ChessQuad>& fresh = tlsSearch.fresh;
  std::vector<ChessQuad*>& group = tlsSearch.group;
  for (int32_t r = 0; r < 3; ++r) {
    for (int32_t a = 0; a < 11; ++a) {
      binariser.Run(a, bin.data);
      ImageU8_DilateBinary(&bin, kDilate[r][0], kDilate[r][1]);
      if (a >= 1) Binary_BridgeGapsU8(&bin);
      BlobList* blobs = BlobList_FindComponentsU8(&bin);
      if (blobs->count == 0) {
        BlobList_Free(blobs);
        continue;
      }
      quads.assign(static_cast<size_t>(2 * blobs->count), ChessQuad{});
      int32_t n = 0;
      while (Blob* b = BlobList_Next(blobs))
        if (ChessQuad_Fit(b, &quads[n]) != 0) ++n;
      BlobList_Free(blobs);
      fresh.assign(quads.begin(), quads.begin() + n);
      group.resize(static_cast<size_t>(std::max(n, 1)));
      for (int32_t s = 0; s < 6; ++s) {
        std::copy(fresh.begin(), fresh.end(), quads.begin());
        ChessQuad_LinkNeighbours(quads.data(), n, kLinkDist2[s], kLinkMinEdge2[s]);
        for (int32_t g = 0;; ++g) {
          const int32_t size = ChessQuad_CollectGroup(quads.data(), n, group.data(), g);
          if (size == 0) break;
          if (size < half) continue;
          int32_t fc = cols, fr = rows;
          const int32_t placed = ChessQuad_OrderGroup(group.data(), size, &fc, &fr);
          if (placed != half && placed != halfUp) continue;
          if (fc != cols || fr != rows) continue;
          if (ChessQuad_FillGrid(group.data(), size, fc, fr, grid) != expected) continue;
          if (!GridCellsSound(grid, cols - 1, rows - 1)) continue;
          ChessCorners_RefineBinned(work, binariser.Bins(), grid, expected);
          if (!GridCellsSound(grid, cols - 1, rows - 1) || !GridContrastSound(work, grid, cols - 1, rows - 1))
            continue;
          AvmLog("get corner %d %d %d \n", r, a, s);
          return 1;
        }
      }
    }
  }
  return 0;
}

}  // namespace

void ChessCorners_NormaliseOrientation(float* points, int32_t cols, int32_t rows) {
  const int32_t gw = cols - 1, gh = rows - 1, n = gw * gh;
  if (n < 2) return;
  const float* P0 = points;
  const float* A = points + 2 * (gw - 1);
  const float* B = points + 2 * (n - gw);
  const float* L = points + 2 * (n - 1);
  if (cols != rows) {
    if (L[0] + L[1] < P0[0] + P0[1]) Reverse(points, n);
    return;
  }
  const float dP = D2(P0), dA = D2(A), dB = D2(B), dL = D2(L);
  if ((dP < dA && dP < dB) || (dA < dL && dB < dL)) return;
  if ((dL < dA && dL < dB) || (dA < dP && dB < dP)) {
    Reverse(points, n);
    return;
  }
  if (dB < dA) Reverse(points, n);
  // New grid row j is old grid column gw - 1 - j, read from top to bottom.
  std::vector<float> old(points, points + 2 * n);
  for (int32_t j = 0; j < gw; ++j)
    for (int32_t i = 0; i < gh; ++i) {
      const int32_t src = i * gw + (gw - 1 - j);
      const int32_t dst = j * gh + i;
      points[2 * dst] = old[2 * src];
      points[2 * dst + 1] = old[2 * src + 1];
    }
}

int32_t Chessboard_FindCorners(const Matrix* image, int32_t cols, int32_t rows, float* points, int32_t mode) {
  if (image == nullptr || image->data == nullptr || points == nullptr || cols < 2 || rows < 2 || image->cols < 1 ||
      image->rows < 1)
    return 0;
  const bool resample = (image->cols >= 1280 && mode != 0) || (image->rows == 480 && mode == 2);
  Matrix scaled{720, 576, nullptr};
  const Matrix* work = image;
  if (resample) {
    tlsSearch.scaled.resize(720 * 576);
    scaled.data = tlsSearch.scaled.data();
    ResampleForCornersInto(image, &scaled);
    work = &scaled;
  }
  const int32_t n = (cols - 1) * (rows - 1);
  std::vector<float>& grid = tlsSearch.grid;
  grid.resize(2 * static_cast<size_t>(n));
  const int32_t found = Search(work, cols, rows, grid.data());
  if (found) {
    ChessCorners_NormaliseOrientation(grid.data(), cols, rows);
    if (resample) {
      const float sy = static_cast<float>(image->rows) / 576.0f, sx = static_cast<float>(image->cols) / 720.0f;
      for (int32_t i = 0; i < n; ++i) {
        grid[2 * i] *= sy;
        grid[2 * i + 1] *= sx;
      }
    }
    memcpy(points, grid.data(), sizeof(float) * 2 * static_cast<size_t>(n));
  }
  return found;
}
