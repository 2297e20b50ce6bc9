#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "frame/patch_sampling.h"
#include "toolkit/float_lanes.h"
#include "toolkit/matrix.h"
#include "toolkit/smoothing.h"

namespace {

void Spreads(const Matrix* patch, const float centre[2], float r, float* mirror, float* spread) {
  *mirror = *spread = 0.0f;
  const int32_t cx = static_cast<int32_t>(centre[0]), cy = static_cast<int32_t>(centre[1]);
  const int32_t R = static_cast<int32_t>(std::ceil(r + 0.5f));
  const float limit = r + 0.5f;
  auto at = [&](int32_t y, int32_t x) { return patch->data[static_cast<size_t>(y) * patch->cols + x]; };
  auto inside = [&](int32_t y, int32_t x) { return y >= 0 && y < patch->rows && x >= 0 && x < patch->cols; };
  // Sums in double: a constant patch then has a mean equal to its value and
  // spreads of exactly 0.
  double sum = 0.0;
  int32_t n = 0;
  for (int32_t dy = -R; dy <= R; ++dy)
    for (int32_t dx = -R; dx <= R; ++dx) {
      const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
      if (!(d > 0.0f && d <= limit) || !inside(cy + dy, cx + dx) || !inside(cy - dy, cx - dx)) continue;
      sum += at(cy + dy, cx + dx);
      ++n;
    }
  if (n == 0) return;
  const double m = sum / n;
  double d1 = 0.0, d2 = 0.0;
  for (int32_t dy = -R; dy <= R; ++dy)
    for (int32_t dx = -R; dx <= R; ++dx) {
      const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
      if (!(d > 0.0f && d <= limit) || !inside(cy + dy, cx + dx) || !inside(cy - dy, cx - dx)) continue;
      const double v = at(cy + dy, cx + dx);
      d1 += std::fabs(v - at(cy - dy, cx - dx));
      d2 += std::fabs(v - m);
    }
  *mirror = static_cast<float>(d1 / n);
  *spread = static_cast<float>(d2 / n);
}

}  // namespace

float CornerSymmetryScore(int32_t plainSpread, const Matrix* patch, const float centre[2], float r) {
  float d1, d2;
  Spreads(patch, centre, r, &d1, &d2);
  if (plainSpread != 0) return std::sqrt(d2);
  return 0.6f * std::sqrt(d2) - d1;
}

float Patch_SymmetryScore(const Matrix* patch, const float centre[2], float r) {
  return CornerSymmetryScore(0, patch, centre, r);
}

namespace {

// Offsets of the radius-7 disc of the refinement's symmetry score, as
// element offsets from the centre in a patch of the given row length; only
// one of each mirrored pair (the other is its negative).
struct RefineDisc {
  explicit RefineDisc(int32_t stride) {
    for (int32_t dy = -7; dy <= 7; ++dy)
      for (int32_t dx = -7; dx <= 7; ++dx) {
        const float d = std::sqrt(static_cast<float>(dx * dx + dy * dy));
        if (!(d > 0.0f && d <= 7.5f)) continue;
        if (dy > 0 || (dy == 0 && dx > 0)) half.push_back(dy * stride + dx);
      }
  }
  std::vector<int32_t> half;
};

// Spreads of the disc around centre: sum |v - mirrored v| and sum |v - mean|
// over the whole disc, and the disc's size.
inline void DiscSpreads(const RefineDisc& disc, const float* centre, float* d1, float* d2, int32_t* n) {
  float sum = 0.0f;
  for (int32_t o : disc.half) sum += centre[o] + centre[-o];
  *n = 2 * static_cast<int32_t>(disc.half.size());
  const float m = sum / static_cast<float>(*n);
  float a = 0.0f, b = 0.0f;
  for (int32_t o : disc.half) {
    const float u = centre[o], v = centre[-o];
    a += std::fabs(u - v);
    b += std::fabs(u - m) + std::fabs(v - m);
  }
  *d1 = 2.0f * a;
  *d2 = b;
}

// DiscSpreads of the eight centres base[0..7] at once, one per lane (each
// lane sums in the same order as DiscSpreads).
void DiscSpreadsRow(const RefineDisc& disc, const float* base, float* d1, float* d2) {
  using float_lanes::F32x8;
  F32x8 u, v, sum;
  float_lanes::Splat(&sum, 0.0f);
  for (int32_t o : disc.half) {
    float_lanes::Load(&u, base + o);
    float_lanes::Load(&v, base - o);
    sum += u + v;
  }
  const float n = static_cast<float>(2 * static_cast<int32_t>(disc.half.size()));
  F32x8 m, a, b, nv, t0, t1, t2;
  float_lanes::Splat(&nv, n);
  m = sum / nv;
  float_lanes::Splat(&a, 0.0f);
  float_lanes::Splat(&b, 0.0f);
  float tmp[8];
  for (int32_t o : disc.half) {
    float_lanes::Load(&u, base + o);
    float_lanes::Load(&v, base - o);
    t0 = u - v;
    float_lanes::StoreAbs(tmp, &t0);
    float_lanes::Load(&t0, tmp);
    a += t0;
    t1 = u - m;
    float_lanes::StoreAbs(tmp, &t1);
    float_lanes::Load(&t1, tmp);
    t2 = v - m;
    float_lanes::StoreAbs(tmp, &t2);
    float_lanes::Load(&t2, tmp);
    b += t1 + t2;
  }
  a *= 2.0f;
  float_lanes::Store(d1, &a);
  float_lanes::Store(d2, &b);
}

// Folds row[0..w-1] into the eight lanes of smallest and largest values
// (lane q takes the elements 8i + q; the tail goes to lane 0).
void LaneExtremes(const float* row, int32_t w, float* lanesLo, float* lanesHi) {
  using float_lanes::F32x8;
  F32x8 lo, hi, v;
  float_lanes::Load(&lo, lanesLo);
  float_lanes::Load(&hi, lanesHi);
  const int32_t body = w - w % 8;
  for (int32_t i = 0; i < body; i += 8) {
    float_lanes::Load(&v, row + i);
    lo = v < lo ? v : lo;
    hi = v > hi ? v : hi;
  }
  float_lanes::Store(lanesLo, &lo);
  float_lanes::Store(lanesHi, &hi);
  for (int32_t i = body; i < w; ++i) {
    lanesLo[0] = row[i] < lanesLo[0] ? row[i] : lanesLo[0];
    lanesHi[0] = row[i] > lanesHi[0] ? row[i] : lanesHi[0];
  }
}

struct BlurBuffers {
  std::vector<float> out, row, taps;
};
thread_local BlurBuffers tlsBlur;

// The 5-tap Gaussian (sigma 2) on a replicated border, separable: the
// vertical taps of a row, then the horizontal ones. Both helpers serve the
// full pass and the windows, so every pixel is the same sum wherever it is
// computed.
inline float VerticalTaps(const float* k, const float* const* r, int32_t x) {
  return k[0] * r[0][x] + k[1] * r[1][x] + k[2] * r[2][x] + k[3] * r[3][x] + k[4] * r[4][x];
}

void SourceRows(const Matrix* src, int32_t y, const float** r) {
  const int32_t w = src->cols, h = src->rows;
  for (int32_t i = 0; i < 5; ++i)
    r[i] = src->data + static_cast<size_t>(std::min(std::max(y + i - 2, 0), h - 1)) * w;
}

// Output columns x0 .. x1 - 1 of one row from its vertical sums t (indexed
// by column; only columns x0 - 2 .. x1 + 1, clamped to the row, are read).
inline void HorizontalTaps(const float* k, const float* t, int32_t w, float* o, int32_t x0, int32_t x1) {
  auto clamped = [&](int32_t x) {
    float s = 0.0f;
    for (int32_t i = 0; i < 5; ++i) s += k[i] * t[std::min(std::max(x + i - 2, 0), w - 1)];
    return s;
  };
  const int32_t a = std::max(x0, std::min(2, w)), b = std::min(x1, w - 2);
  int32_t x = x0;
  for (; x < std::min(a, x1); ++x) o[x] = clamped(x);
  for (; x < b; ++x) o[x] = k[0] * t[x - 2] + k[1] * t[x - 1] + k[2] * t[x] + k[3] * t[x + 1] + k[4] * t[x + 2];
  for (; x < x1; ++x) o[x] = clamped(x);
}

// Largest minus smallest value of the blurred image, taken row by row in
// eight independent lanes (a form the compiler vectorises; the comparisons
// are exact in any order) without keeping the image.
float BlurRangeFull(const Matrix* src) {
  const int32_t w = src->cols, h = src->rows;
  float k[5];
  Image_GaussianKernel(2, k, 2.0f);
  tlsBlur.row.resize(static_cast<size_t>(w));
  tlsBlur.taps.resize(static_cast<size_t>(w));
  float* t = tlsBlur.taps.data();
  float* o = tlsBlur.row.data();
  float lo[8], hi[8];
  bool first = true;
  for (int32_t y = 0; y < h; ++y) {
    const float* r[5];
    SourceRows(src, y, r);
    for (int32_t x = 0; x < w; ++x) t[x] = VerticalTaps(k, r, x);
    HorizontalTaps(k, t, w, o, 0, w);
    // Every lane starts from the image's first value.
    if (first) {
      for (int q = 0; q < 8; ++q) lo[q] = hi[q] = o[0];
      first = false;
    }
    LaneExtremes(o, w, lo, hi);
  }
  if (first) return 0.0f;
  float mn = lo[0], mx = hi[0];
  for (int q = 1; q < 8; ++q) {
    mn = lo[q] < mn ? lo[q] : mn;
    mx = hi[q] > mx ? hi[q] : mx;
  }
  return mx - mn;
}

// BlurRangeFull without blurring every part of the image. A blurred pixel
// is a weighted sum of the source pixels within two rows and columns, with
// positive weights summing to S per direction, so it lies within S^2 times
// their smallest and largest value, up to the rounding of ten fused
// multiply-adds (at most 32 u S^2 max|v|). The percentile bins bound the
// source values (a bin b = trunc(fma(v, 255, 0.5)) in 0 .. 255 puts v in
// [(b - 0.5 - 2^-16) / 255, (b + 0.5) / 255)), so each tile of 8 rows and 64
// columns gets bounds on its blurred values. The tiles of the highest and
// lowest bounds are blurred first; then, band by band, only the tiles whose
// bounds reach past the extremes found so far (the extremes only widen, so
// a tile passed over holds neither). Neighbouring tiles are blurred as one
// run of columns.
constexpr int32_t kTileRows = 8, kTileCols = 64;

// lo[x] = min(lo[x], row[x]) and hi[x] = max(hi[x], row[x]) (a function of
// its own: byte stores may alias any variable whose address is taken).
void ColumnBinExtremes(const uint8_t* __restrict row, int32_t w, uint8_t* __restrict lo, uint8_t* __restrict hi) {
  for (int32_t x = 0; x < w; ++x) {
    const uint8_t v = row[x];
    lo[x] = v < lo[x] ? v : lo[x];
    hi[x] = v > hi[x] ? v : hi[x];
  }
}

struct TileBuffers {
  std::vector<uint8_t> colLo, colHi, done;
  std::vector<double> lo, hi;
  std::vector<uint32_t> order;
};
thread_local TileBuffers tlsTiles;

float BlurRange(const Matrix* src, const uint8_t* bins) {
  const int32_t w = src->cols, h = src->rows;
  if (bins == nullptr || w < 2 * kTileCols || h < 2 * kTileRows) return BlurRangeFull(src);
  float k[5];
  Image_GaussianKernel(2, k, 2.0f);
  double S = 0.0;
  for (float v : k) {
    if (!(v > 0.0f)) return BlurRangeFull(src);
    S += v;
  }
  const int32_t tc = (w + kTileCols - 1) / kTileCols, tr = (h + kTileRows - 1) / kTileRows;
  const size_t tiles = static_cast<size_t>(tr) * tc;
  TileBuffers& tb = tlsTiles;
  tb.lo.resize(tiles);
  tb.hi.resize(tiles);
  tb.colLo.resize(static_cast<size_t>(w));
  tb.colHi.resize(static_cast<size_t>(w));
  uint8_t* colLo = tb.colLo.data();
  uint8_t* colHi = tb.colHi.data();
  const double S2 = S * S, u = 1.0 / 16777216.0;
  for (int32_t r = 0; r < tr; ++r) {
    // Smallest and largest bin of each column over the rows the tile row's
    // blur reaches, then over each tile's columns and two either side.
    const int32_t y0 = std::max(r * kTileRows - 2, 0), y1 = std::min((r + 1) * kTileRows + 2, h);
    std::fill(colLo, colLo + w, static_cast<uint8_t>(255));
    std::fill(colHi, colHi + w, static_cast<uint8_t>(0));
    for (int32_t y = y0; y < y1; ++y) ColumnBinExtremes(bins + static_cast<size_t>(y) * w, w, colLo, colHi);
    for (int32_t c = 0; c < tc; ++c) {
      const int32_t a = std::max(c * kTileCols - 2, 0), e = std::min((c + 1) * kTileCols + 2, w);
      uint8_t mn = 255, mx = 0;
      for (int32_t x = a; x < e; ++x) {
        mn = colLo[x] < mn ? colLo[x] : mn;
        mx = colHi[x] > mx ? colHi[x] : mx;
      }
      const double vLo = (mn - 0.5 - 1.0 / 65536.0) / 255.0, vHi = (mx + 0.5) / 255.0;
      const double margin = 32.0 * u * S2 * std::max(std::fabs(vLo), std::fabs(vHi)) + 1e-30;
      tb.lo[static_cast<size_t>(r) * tc + c] = S2 * vLo - margin;
      tb.hi[static_cast<size_t>(r) * tc + c] = S2 * vHi + margin;
    }
  }
  BlurBuffers& b = tlsBlur;
  b.taps.resize(static_cast<size_t>(w));
  b.row.resize(static_cast<size_t>(w));
  float* t = b.taps.data();
  float* o = b.row.data();
  float lo8[8], hi8[8];
  for (int q = 0; q < 8; ++q) {
    lo8[q] = INFINITY;
    hi8[q] = -INFINITY;
  }
  // Blurs tile columns c0 .. c1 - 1 of tile row r into the lanes.
  auto blurRun = [&](int32_t r, int32_t c0, int32_t c1) {
    const int32_t y0 = r * kTileRows, y1 = std::min(y0 + kTileRows, h);
    const int32_t x0 = c0 * kTileCols, x1 = std::min(c1 * kTileCols, w);
    const int32_t t0 = std::max(x0 - 2, 0), t1 = std::min(x1 + 2, w);
    for (int32_t y = y0; y < y1; ++y) {
      const float* rows[5];
      SourceRows(src, y, rows);
      for (int32_t x = t0; x < t1; ++x) t[x] = VerticalTaps(k, rows, x);
      HorizontalTaps(k, t, w, o, x0, x1);
      LaneExtremes(o + x0, x1 - x0, lo8, hi8);
    }
  };
  float curLo = INFINITY, curHi = -INFINITY;
  auto update = [&]() {
    for (int q = 0; q < 8; ++q) {
      curLo = lo8[q] < curLo ? lo8[q] : curLo;
      curHi = hi8[q] > curHi ? hi8[q] : curHi;
    }
  };
  tb.done.assign(tiles, 0);
  // Seeds: the four tiles of the highest and the four of the lowest bounds.
  std::vector<uint32_t>& order = tb.order;
  order.resize(tiles);
  for (size_t i = 0; i < tiles; ++i) order[i] = static_cast<uint32_t>(i);
  const size_t seeds = std::min<size_t>(4, tiles);
  for (int side = 0; side < 2; ++side) {
    std::partial_sort(order.begin(), order.begin() + seeds, order.end(), [&](uint32_t x, uint32_t y) {
      return side == 0 ? tb.hi[x] > tb.hi[y] : tb.lo[x] < tb.lo[y];
    });
    for (size_t s = 0; s < seeds; ++s) {
      const uint32_t i = order[s];
      if (tb.done[i]) continue;
      tb.done[i] = 1;
      blurRun(static_cast<int32_t>(i / tc), static_cast<int32_t>(i % tc), static_cast<int32_t>(i % tc) + 1);
    }
  }
  update();
  for (int32_t r = 0; r < tr; ++r) {
    int32_t c = 0;
    while (c < tc) {
      auto needed = [&](int32_t cc) {
        const size_t i = static_cast<size_t>(r) * tc + cc;
        return !tb.done[i] && (tb.hi[i] >= static_cast<double>(curHi) || tb.lo[i] <= static_cast<double>(curLo));
      };
      if (!needed(c)) {
        ++c;
        continue;
      }
      int32_t e = c + 1;
      while (e < tc && needed(e)) ++e;
      blurRun(r, c, e);
      update();
      c = e;
    }
  }
  return curHi - curLo;
}

// Blurs rows floor(row) - 11 .. floor(row) + 13 and the same columns around
// (row, column) into out (an image of the source's size): the patches
// sampled around the point and its shifts read rows floor(row) - 10 ..
// floor(row) + 12 (one more either side for the rounding of the shifted
// centres).
void BlurAround(const Matrix* src, float row, float col, float* out) {
  const int32_t w = src->cols, h = src->rows;
  auto span = [](float c, int32_t n, int32_t* a, int32_t* b) {
    const float lo = std::floor(c) - 11.0f, hi = std::floor(c) + 14.0f;
    // Outside the image (or not a number): nothing is sampled there.
    if (!(hi > 0.0f && lo < static_cast<float>(n))) return false;
    *a = lo > 0.0f ? static_cast<int32_t>(lo) : 0;
    *b = hi < static_cast<float>(n) ? static_cast<int32_t>(hi) : n;
    return true;
  };
  int32_t y0, y1, x0, x1;
  if (!span(row, h, &y0, &y1) || !span(col, w, &x0, &x1)) return;
  float k[5];
  Image_GaussianKernel(2, k, 2.0f);
  float* t = tlsBlur.taps.data();
  const int32_t t0 = std::max(x0 - 2, 0), t1 = std::min(x1 + 2, w);
  for (int32_t y = y0; y < y1; ++y) {
    const float* r[5];
    SourceRows(src, y, r);
    for (int32_t x = t0; x < t1; ++x) t[x] = VerticalTaps(k, r, x);
    HorizontalTaps(k, t, w, out + static_cast<size_t>(y) * w, x0, x1);
  }
}

}  // namespace

void ChessCorners_Refine(const Matrix* image, float* points, int32_t count) {
  ChessCorners_RefineBinned(image, nullptr, points, count);
}

void ChessCorners_RefineBinned(const Matrix* image, const uint8_t* bins, float* points, int32_t count) {
  if (count < 1 || image->cols < 1 || image->rows < 1) return;
  static const RefineDisc disc15(15), disc21(21);
  // The blurred image is only sampled near the points: its range comes
  // from one pass that keeps no rows, its pixels around each point are
  // blurred again when the point is refined.
  std::vector<float>& blurred = tlsBlur.out;
  const float range = BlurRange(image, bins);
  blurred.resize(static_cast<size_t>(image->cols) * image->rows);
  Matrix blur{image->cols, image->rows, blurred.data()};
  // The blurred image is taken as rescaled to 0..1 by its own minimum and
  // maximum. The score's spreads scale with the contrast and ignore the
  // offset, so the rescale is applied to the spreads instead of the pixels.
  if (!(range > 0.0f)) return;
  const float a = 1.0f / range;

  // The 15 x 15 patches around the 37 integer shifts of a point share their
  // sub-pixel fractions: one 21 x 21 patch holds them all, unless it would
  // leave the image (then each patch is sampled on its own).
  // The shared patch is followed by a pad: the lanes of the last rows of
  // shifts read one float past it (their results are not used).
  float bigData[21 * 21 + 8] = {}, patchData[15 * 15];
  Matrix big{21, 21, bigData}, patch{15, 15, patchData};
  float score[7][7];
  for (int32_t p = 0; p < count; ++p) {
    float* pt = points + 2 * p;
    for (int32_t pass = 0; pass < 2; ++pass) {
      BlurAround(image, pt[0], pt[1], blurred.data());
      const float left = pt[1] - 10.0f, top = pt[0] - 10.0f;
      const bool shared = left >= 0.0f && top >= 0.0f && left + 21.0f < static_cast<float>(image->cols) &&
                          top + 21.0f < static_cast<float>(image->rows);
      if (shared) Image_SamplePatchBilinear(&blur, &big, pt[0], pt[1]);
      float lo = 0.0f, hi = 0.0f;
      bool any = false;
      // Shared patch: the spreads of the seven shifts of a row i, taken in
      // lanes (shift j in lane j + 3).
      float rowD1[7][8], rowD2[7][8];
      if (shared)
        for (int32_t i = -3; i <= 3; ++i)
          DiscSpreadsRow(disc21, bigData + (10 + i) * 21 + 7, rowD1[i + 3], rowD2[i + 3]);
      const int32_t discSize = 2 * static_cast<int32_t>(disc21.half.size());
      for (int32_t i = -3; i <= 3; ++i)
        for (int32_t j = -3; j <= 3; ++j) {
          if (i * i + j * j > 12) continue;  // sqrt(i^2 + j^2) <= 3.5
          float d1, d2;
          int32_t n;
          if (shared) {
            d1 = rowD1[i + 3][j + 3];
            d2 = rowD2[i + 3][j + 3];
            n = discSize;
          } else {
            Image_SamplePatchBilinear(&blur, &patch, pt[0] + static_cast<float>(i), pt[1] + static_cast<float>(j));
            DiscSpreads(disc15, patchData + 7 * 15 + 7, &d1, &d2, &n);
          }
          const float s = 0.6f * std::sqrt(a * d2 / static_cast<float>(n)) - a * d1 / static_cast<float>(n);
          score[i + 3][j + 3] = s;
          if (!any || s < lo) lo = s;
          if (!any || s > hi) hi = s;
          any = true;
        }
      const float spread = hi - lo;
      float sw = 0.0f, si = 0.0f, sj = 0.0f;
      for (int32_t i = -3; i <= 3; ++i)
        for (int32_t j = -3; j <= 3; ++j) {
          if (i * i + j * j > 12) continue;
          float w = spread > 0.0f ? (score[i + 3][j + 3] - lo) / spread : 0.0f;
          w *= w;
          si += w * static_cast<float>(i);
          sj += w * static_cast<float>(j);
          if (i != 0 || j != 0) sw += w;
        }
      if (!(sw > 0.0f)) break;
      const float di = si / sw, dj = sj / sw;
      pt[0] += di;
      pt[1] += dj;
      if (std::sqrt(di * di + dj * dj) < 0.8f) break;
    }
  }
}

// A dark pixel is bridged when its 3 x 3 box holds 3 to 6 bright pixels
// (the box mean between a third and two thirds), one of the first five of
// its eight rays of seven pixels and one of the three across from it hold
// no bright pixel within four, and a ray of the first five with six or more
// bright pixels of seven has two such rays across from it.
void Binary_BridgeGapsU8(ImageU8* image) {
  const int32_t w = image->width, h = image->height;
  if (w <= 18 || h <= 18) return;
  const size_t n = static_cast<size_t>(w) * h;
  static thread_local std::vector<uint8_t> copyData;
  copyData.resize(n);
  uint8_t* copy = copyData.data();
  for (size_t i = 0; i < n; ++i) copy[i] = static_cast<uint8_t>(image->data[i] != 0);
  static const int32_t kRay[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
  for (int32_t y = 9; y < h - 9; ++y) {
    const uint8_t* up = copy + static_cast<size_t>(y - 1) * w;
    const uint8_t* mid = up + w;
    const uint8_t* down = mid + w;
    for (int32_t x = 9; x < w - 9; ++x) {
      if (mid[x] != 0) continue;
      const int32_t box = up[x - 1] + up[x] + up[x + 1] + mid[x - 1] + mid[x + 1] + down[x - 1] + down[x] + down[x + 1];
      if (box < 3 || box > 6) continue;
      int32_t nearS[8], farS[8];
      for (int32_t d = 0; d < 8; ++d) {
        int32_t s = 0;
        for (int32_t t = 1; t <= 7; ++t) {
          s += copy[static_cast<size_t>(y + kRay[d][0] * t) * w + (x + kRay[d][1] * t)];
          if (t == 4) nearS[d] = s;
        }
        farS[d] = s;
      }
      bool leave = true;
      for (int32_t d = 0; d <= 4 && leave; ++d) {
        const bool opposite = nearS[(d + 3) % 8] >= 1 && nearS[(d + 4) % 8] >= 1 && nearS[(d + 5) % 8] >= 1;
        if (!(nearS[d] >= 1 || opposite)) leave = false;
      }
      if (leave) continue;
      for (int32_t d = 0; d <= 4; ++d) {
        if (farS[d] < 6) continue;
        const int32_t across = (farS[(d + 3) % 8] >= 6) + (farS[(d + 4) % 8] >= 6) + (farS[(d + 5) % 8] >= 6);
        if (across >= 2) {
          image->data[static_cast<size_t>(y) * w + x] = 1;
          break;
        }
      }
    }
  }
}
