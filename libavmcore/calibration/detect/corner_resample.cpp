#include "calibration/detect/corner_resample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "toolkit/float_lanes.h"
#include "toolkit/sampling.h"

namespace {

Matrix* NewImage(int32_t cols, int32_t rows) { return Matrix_New(cols > 0 ? cols : 0, rows > 0 ? rows : 0); }

Matrix* Copy(const Matrix* image, float* scaleX, float* scaleY) {
  Matrix* m = NewImage(image->cols, image->rows);
  memcpy(m->data, image->data, sizeof(float) * static_cast<size_t>(m->cols) * static_cast<size_t>(m->rows));
  if (scaleX != nullptr) *scaleX = 1.0f;
  if (scaleY != nullptr) *scaleY = 1.0f;
  return m;
}

// Samples rows and columns 2 .. size - 3 of dst (zeroed by the caller) at
// (r sy, c sx) of the source; the two outermost lines stay 0.
// Image_SampleBilinear with the column terms worked out once per column and
// the row terms once per row. A source row's left and right neighbours of
// every column are gathered into straight arrays once (two rows are kept:
// consecutive output rows mostly share one), then combined in vector lanes.
// A term whose fraction is 0 is left out there (its pixel may not be
// finite): the lanes gather a valid pixel for it, compute it anyway and
// pick the sum without it, which is the same result.
struct GatheredRow {
  int32_t row = -1;
  std::vector<float> left, right;
};
struct SampleBuffers {
  std::vector<int32_t> left, right;
  // Per block of 8 columns from column 2: the first source column, or -1
  // when the block's pixels do not lie within 16 floats of the row; and the
  // block's left and right pixels as positions from that column.
  std::vector<int32_t> blockBase, blockLeft, blockRight;
  std::vector<float> fx, without, with;
  GatheredRow slot[2];
};
thread_local SampleBuffers tlsSample;

// The bilinear sums of columns c0 .. c1 - 1 between two gathered rows:
// without the right-hand terms and with them.
void CombineTwoRows(const float* __restrict p00, const float* __restrict p01, const float* __restrict p10,
                    const float* __restrict p11, const float* __restrict fx, float fy, float* __restrict without,
                    float* __restrict with, int32_t c0, int32_t c1) {
  const float gy = 1.0f - fy;
  for (int32_t c = c0; c < c1; ++c) {
    const float f = fx[c], g = 1.0f - f;
    const float v = std::fma(fy * g, p10[c], gy * g * p00[c]);
    without[c] = v;
    const float u = std::fma(gy * f, p01[c], v);
    with[c] = std::fma(fy * f, p11[c], u);
  }
}

void Sample(const Matrix* src, Matrix* dst, float sx, float sy) {
  const int32_t W = dst->cols, H = dst->rows;
  if (W <= 4 || H <= 4 || src->cols < 1 || src->rows < 1) return;
  const float maxRow = static_cast<float>(src->rows - 1), maxCol = static_cast<float>(src->cols - 1);
  SampleBuffers& b = tlsSample;
  const size_t n = static_cast<size_t>(W);
  for (auto* v : {&b.left, &b.right}) v->resize(n);
  for (auto* v : {&b.fx, &b.without, &b.with, &b.slot[0].left, &b.slot[0].right, &b.slot[1].left, &b.slot[1].right})
    v->resize(n);
  b.slot[0].row = b.slot[1].row = -1;  // gathered for this call only
  for (int32_t c = 2; c <= W - 3; ++c) {
    float x = static_cast<float>(c) * sx;
    if (x > maxCol) x = maxCol;  // a stretched or rounded last line stays inside
    b.left[c] = static_cast<int32_t>(x);
    b.fx[c] = b.left[c] == src->cols - 1 ? 0.0f : x - static_cast<float>(b.left[c]);
    b.right[c] = b.fx[c] != 0.0f ? b.left[c] + 1 : b.left[c];
  }
  const int32_t stride = src->cols;
  const int32_t* __restrict left = b.left.data();
  const int32_t* __restrict right = b.right.data();
  const float* __restrict fx = b.fx.data();
  float* __restrict without = b.without.data();
  float* __restrict with = b.with.data();
  const int32_t blocks = (W - 4) / 8;
  b.blockBase.resize(static_cast<size_t>(blocks));
  b.blockLeft.resize(8 * static_cast<size_t>(blocks));
  b.blockRight.resize(8 * static_cast<size_t>(blocks));
  for (int32_t k = 0; k < blocks; ++k) {
    const int32_t c0 = 2 + 8 * k, base = left[c0];
    bool near = base + 16 <= stride;
    for (int32_t i = 0; i < 8; ++i) {
      const int32_t l = left[c0 + i] - base, rr = right[c0 + i] - base;
      near = near && l >= 0 && l < 16 && rr >= 0 && rr < 16;
      b.blockLeft[8 * k + i] = l;
      b.blockRight[8 * k + i] = rr;
    }
    b.blockBase[k] = near ? base : -1;
  }
  // The gathered arrays of source row j, keeping the slot of row keep.
  auto gathered = [&](int32_t j, int32_t keep) -> const GatheredRow& {
    for (GatheredRow& g : b.slot)
      if (g.row == j) return g;
    GatheredRow& g = b.slot[0].row == keep ? b.slot[1] : b.slot[0];
    const float* row = src->data + static_cast<size_t>(j) * stride;
    float* __restrict gl = g.left.data();
    float* __restrict gr = g.right.data();
    int32_t c = 2;
#if defined(__GNUC__) && !defined(__clang__)
    // Two 8-float loads and one two-source permutation per side and block.
    // The tables in locals of this body: the stores (byte copies) could
    // otherwise alias the captured pointers, reloaded at every block.
    const int32_t* const blockBase = b.blockBase.data();
    const int32_t* const blockLeft = b.blockLeft.data();
    const int32_t* const blockRight = b.blockRight.data();
    const int32_t* const lefts = left;
    const int32_t* const rights = right;
    const int32_t nBlocks = blocks;
    for (int32_t k = 0; k < nBlocks; ++k, c += 8) {
      const int32_t base = blockBase[k];
      if (base < 0) {
        for (int32_t i = c; i < c + 8; ++i) {
          gl[i] = row[lefts[i]];
          gr[i] = row[rights[i]];
        }
        continue;
      }
      typedef int32_t I32x8 __attribute__((vector_size(32)));
      float_lanes::F32x8 lo, hi;
      I32x8 ml, mr;
      float_lanes::Load(&lo, row + base);
      float_lanes::Load(&hi, row + base + 8);
      memcpy(&ml, blockLeft + 8 * static_cast<size_t>(k), sizeof ml);
      memcpy(&mr, blockRight + 8 * static_cast<size_t>(k), sizeof mr);
      const float_lanes::F32x8 vl = __builtin_shuffle(lo, hi, ml), vr = __builtin_shuffle(lo, hi, mr);
      float_lanes::Store(gl + c, &vl);
      float_lanes::Store(gr + c, &vr);
    }
#endif
    for (; c <= W - 3; ++c) {
      gl[c] = row[left[c]];
      gr[c] = row[right[c]];
    }
    g.row = j;
    return g;
  };
  for (int32_t r = 2; r <= H - 3; ++r) {
    float y = static_cast<float>(r) * sy;
    if (y > maxRow) y = maxRow;
    const int32_t ri = static_cast<int32_t>(y);
    const float fy = ri == src->rows - 1 ? 0.0f : y - static_cast<float>(ri);
    const float gy = 1.0f - fy;
    float* __restrict out = dst->data + static_cast<size_t>(r) * W;
    const GatheredRow& top = gathered(ri, fy != 0.0f ? ri + 1 : -1);
    const float* __restrict p00 = top.left.data();
    const float* __restrict p01 = top.right.data();
    if (fy != 0.0f) {
      const GatheredRow& bottom = gathered(ri + 1, ri);
      const float* __restrict p10 = bottom.left.data();
      const float* __restrict p11 = bottom.right.data();
      CombineTwoRows(p00, p01, p10, p11, fx, fy, without, with, 2, W - 2);
    } else {
      for (int32_t c = 2; c <= W - 3; ++c) {
        const float f = fx[c], g = 1.0f - f;
        const float v = gy * g * p00[c];
        without[c] = v;
        with[c] = std::fma(gy * f, p01[c], v);
      }
    }
    for (int32_t c = 2; c <= W - 3; ++c) out[c] = fx[c] != 0.0f ? with[c] : without[c];
  }
}

Matrix* Resample(const Matrix* image, int32_t W, int32_t H, float* scaleX, float* scaleY) {
  const float sx = static_cast<float>(image->cols) / static_cast<float>(W);
  const float sy = static_cast<float>(image->rows) / static_cast<float>(H);
  Matrix* m = NewImage(W, H);
  Sample(image, m, sx, sy);
  if (scaleX != nullptr) *scaleX = sx;
  if (scaleY != nullptr) *scaleY = sy;
  return m;
}

}  // namespace

Matrix* ResampleForCorners(const Matrix* image, int32_t mode, float* scaleX, float* scaleY) {
  if ((image->cols >= 1280 && mode != 0) || (image->rows == 480 && mode == 2))
    return Resample(image, 720, 576, scaleX, scaleY);
  return Copy(image, scaleX, scaleY);
}

void ResampleForCornersInto(const Matrix* image, Matrix* dst) {
  const int32_t W = dst->cols, H = dst->rows;
  if (W < 1 || H < 1) return;
  // Only the two outermost lines on each side are not sampled.
  const size_t w = static_cast<size_t>(W);
  for (int32_t r = 0; r < H; ++r) {
    float* row = dst->data + static_cast<size_t>(r) * w;
    if (r < 2 || r > H - 3) {
      memset(row, 0, sizeof(float) * w);
    } else {
      for (int32_t c = 0; c < 2 && c < W; ++c) row[c] = 0.0f;
      for (int32_t c = std::max(2, W - 2); c < W; ++c) row[c] = 0.0f;
    }
  }
  Sample(image, dst, static_cast<float>(image->cols) / static_cast<float>(W),
         static_cast<float>(image->rows) / static_cast<float>(H));
}

Matrix* ResampleTo1280x720(const Matrix* image, float* scaleX, float* scaleY) {
  if (image->cols > 1280 || image->rows > 720) return Resample(image, 1280, 720, scaleX, scaleY);
  return Copy(image, scaleX, scaleY);
}

Matrix* ResampleToSize(const Matrix* image, int32_t W, int32_t H, float* scaleX, float* scaleY) {
  if (W >= 1 && H >= 1 && (image->cols > W || image->rows > H)) return Resample(image, W, H, scaleX, scaleY);
  return Copy(image, scaleX, scaleY);
}

void ResampleToSizeInto(const Matrix* image, Matrix* dst, float* scaleX, float* scaleY) {
  const int32_t W = dst->cols, H = dst->rows;
  if (image->cols > W || image->rows > H) {
    const float sx = static_cast<float>(image->cols) / static_cast<float>(W);
    const float sy = static_cast<float>(image->rows) / static_cast<float>(H);
    memset(dst->data, 0, sizeof(float) * static_cast<size_t>(W) * static_cast<size_t>(H));
    Sample(image, dst, sx, sy);
    if (scaleX != nullptr) *scaleX = sx;
    if (scaleY != nullptr) *scaleY = sy;
    return;
  }
  memcpy(dst->data, image->data, sizeof(float) * static_cast<size_t>(image->cols) * static_cast<size_t>(image->rows));
  if (scaleX != nullptr) *scaleX = 1.0f;
  if (scaleY != nullptr) *scaleY = 1.0f;
}

Matrix* ResampleByFactor(const Matrix* image, float factor) {
  const int32_t W = static_cast<int32_t>(static_cast<float>(image->cols) * factor);
  const int32_t H = static_cast<int32_t>(static_cast<float>(image->rows) * factor);
  Matrix* m = NewImage(W, H);
  if (W < 5 || H < 5) return m;
  const float maxRow = static_cast<float>(image->rows - 1), maxCol = static_cast<float>(image->cols - 1);
  for (int32_t r = 2; r <= H - 3; ++r) {
    float y = static_cast<float>(r) / factor;
    if (y > maxRow) y = maxRow;
    for (int32_t c = 2; c <= W - 3; ++c) {
      float x = static_cast<float>(c) / factor;
      if (x > maxCol) x = maxCol;
      m->data[static_cast<size_t>(r) * W + c] = Image_SampleBilinear(image, y, x);
    }
  }
  return m;
}

