#include "surround/merger_balance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/log.h"
#include "toolkit/sampling.h"

namespace {

constexpr int32_t kCells = kMergerBalanceCols * kMergerBalanceRows;

float& Cell(float* t, int32_t r, int32_t c) { return t[r * kMergerBalanceCols + c]; }

// Population standard deviation of the bytes of one frame row, columns
// c0..c1 in steps of 4.
float RowDeviation(const uint8_t* frame, int32_t width, int32_t bpp, int32_t byteIndex, int32_t row, int32_t c0,
                   int32_t c1) {
  double sum = 0.0, sq = 0.0;
  int32_t n = 0;
  for (int32_t c = c0; c <= c1; c += 4) {
    const double v = frame[(static_cast<size_t>(row) * width + c) * bpp + byteIndex];
    sum += v;
    sq += v * v;
    ++n;
  }
  if (n == 0) return 0.0f;
  const double mean = sum / n;
  return static_cast<float>(std::sqrt(std::max(0.0, sq / n - mean * mean)));
}

// First run of empty cells along a line of count cells: [begin, end). Only a
// run with filled cells on both sides counts; false otherwise.
bool BoundedHole(const int32_t* counts, int32_t n, int32_t stride, int32_t* begin, int32_t* end) {
  int32_t b = 0;
  while (b < n && counts[b * stride] != 0) ++b;
  if (b == 0 || b >= n) return false;
  int32_t e = b;
  while (e < n && counts[e * stride] == 0) ++e;
  if (e >= n) return false;
  *begin = b;
  *end = e;
  return true;
}

// The cells of the car's hole take the gains of its edges, two cells deep
// from each side; the inner cells keep 0.
void FillCarHole(MergerBalanceOB* ob) {
  int32_t top, bottom, left, right;
  if (!BoundedHole(ob->countTable + kMergerBalanceCols / 2, kMergerBalanceRows, kMergerBalanceCols, &top, &bottom))
    return;
  if (!BoundedHole(ob->countTable + (kMergerBalanceRows / 2) * kMergerBalanceCols, kMergerBalanceCols, 1, &left,
                   &right))
    return;
  float* g = ob->gainTable;
  for (int32_t r = top; r < bottom; ++r) {
    const float lv = Cell(g, r, left - 1), rv = Cell(g, r, right);
    for (int32_t c = left; c < std::min(left + 2, right); ++c) Cell(g, r, c) = lv;
    for (int32_t c = std::max(right - 2, left); c < right; ++c) Cell(g, r, c) = rv;
  }
  for (int32_t c = left; c < right; ++c) {
    const float tv = Cell(g, top - 1, c), bv = Cell(g, bottom, c);
    for (int32_t r = top; r < std::min(top + 2, bottom); ++r) Cell(g, r, c) = tv;
    for (int32_t r = std::max(bottom - 2, top); r < bottom; ++r) Cell(g, r, c) = bv;
  }
}

}  // namespace

MergerBalanceOB MergerBalance_Empty() {
  MergerBalanceOB ob;
  memset(&ob, 0, sizeof ob);
  return ob;
}

int32_t KRV_InitMergerBalance(MergerBalanceOB* ob, int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t w,
                              int32_t h) {
  if (ob == nullptr) return 1;
  AvmLog("KRV_InitMergerBalance %p %d %d %d %d %d %d \n", static_cast<void*>(ob), width, height, x0, y0, w, h);
  if (ob->counter != 0) return 0;
  if (width < 1 || height < 1) return 1;
  ob->counter = 1;
  ob->cols = kMergerBalanceCols;
  ob->rows = kMergerBalanceRows;
  ob->gainTable = new float[kCells]();
  ob->savedGains = new float[kCells];
  ob->weightTable = new float[kCells];
  ob->countTable = new int32_t[kCells]();
  ob->width = width;
  ob->height = height;
  ob->x0 = x0;
  ob->y0 = y0;
  ob->w = w;
  ob->h = h;
  const float sx = static_cast<float>(kMergerBalanceCols) / width, sy = static_cast<float>(kMergerBalanceRows) / height;
  const float cx0 = x0 * sx, cx1 = cx0 + w * sx, cy0 = y0 * sy, cy1 = cy0 + h * sy;
  const float fx = std::min(cx0, kMergerBalanceCols - cx1), fy = std::min(cy0, kMergerBalanceRows - cy1);
  for (int32_t r = 0; r < kMergerBalanceRows; ++r)
    for (int32_t c = 0; c < kMergerBalanceCols; ++c) {
      bool hasH = false, hasV = false;
      float hc = 0.0f, v = 0.0f;
      if (c < cx0) {
        hasH = true;
        hc = c / fx;
      } else if (c > cx1) {
        hasH = true;
        hc = (kMergerBalanceCols - 1 - c) / fx;
      }
      if (r < cy0) {
        hasV = true;
        v = std::pow(r / fy, 0.7f);
      } else if (r > cy0) {
        hasV = true;
        v = std::pow((kMergerBalanceRows - 1 - r) / fy, 0.7f);
      }
      float value = 1.0f;
      if (hasH && hasV) value = std::min(v, hc);
      else if (hasH) value = hc;
      else if (hasV) value = v;
      if (!(value >= 0.0f)) value = 0.0f;  // also a NaN of a zero margin
      Cell(ob->weightTable, r, c) = std::min(value, 1.0f);
    }
  std::fill(ob->savedGains, ob->savedGains + kCells, 0.5f);
  return 0;
}

int32_t KRV_CalcMergerBalance(MergerBalanceOB* ob, int32_t format, const uint8_t* frame, uint8_t* out) {
  if (ob == nullptr || ob->counter == 0 || ob->gainTable == nullptr || frame == nullptr) return 1;
  const int32_t W = ob->width, H = ob->height;
  const int32_t bpp = (format == 0 || format == 2) ? 4 : (format == 4 ? 1 : 3);
  const int32_t byteIndex = format == 4 ? 0 : 1;
  memset(ob->countTable, 0, sizeof(int32_t) * kCells);
  std::fill(ob->gainTable, ob->gainTable + kCells, 0.0f);
  const float rowScale = static_cast<float>(H) / kMergerBalanceRows, colScale = static_cast<float>(W) / kMergerBalanceCols;
  for (int32_t r = 0; r < H; r += 4) {
    const int32_t tr = static_cast<int32_t>(r / rowScale + 0.5f);
    if (tr >= kMergerBalanceRows) continue;
    const bool carRow = r > ob->y0 && r < ob->y0 + ob->h;
    for (int32_t c = 0; c < W; c += 4) {
      const int32_t tc = static_cast<int32_t>(c / colScale + 0.5f);
      if (tc >= kMergerBalanceCols) continue;
      if (carRow && c > ob->x0 && c < ob->x0 + ob->w) continue;
      Cell(ob->gainTable, tr, tc) += frame[(static_cast<size_t>(r) * W + c) * bpp + byteIndex];
      ob->countTable[tr * kMergerBalanceCols + tc] += 1;
    }
  }
  const float P = ob->previousMean;
  double meanSum = 0.0;
  int32_t cells = 0;
  for (int32_t i = 0; i < kCells; ++i) {
    const int32_t n = ob->countTable[i];
    if (n <= 0) continue;
    const float m = ob->gainTable[i] / n / 255.0f;
    meanSum += m;
    ++cells;
    const float g = P / (m + 0.0001f);
    const float f = g < 0.56f ? -0.44f : (g > 1.8f ? 0.79999995f : g - 1.0f);
    ob->gainTable[i] = (f * ob->weightTable[i] + 1.0f) * 0.5f;
  }
  if (cells > 0) ob->previousMean = static_cast<float>(meanSum / cells);
  FillCarHole(ob);

  const int32_t yA = std::max(0, ob->y0 - ob->w / 6), yB = std::min(H - 1, ob->y0 + ob->h + ob->w / 6);
  const int32_t c0 = std::max(0, ob->x0 - ob->w / 2), c1 = std::min(W - 1, ob->x0 + ob->w + ob->w / 2);
  const float devA = RowDeviation(frame, W, bpp, byteIndex, yA, c0, c1);
  const float devB = RowDeviation(frame, W, bpp, byteIndex, yB, c0, c1);
  if (ob->logFlag != 0) {
    AvmLog("~~~~~aFC %d %f %f \n", format, devA, devB);
  } else if (devA > 30.0f || devB > 30.0f) {
    memcpy(ob->gainTable, ob->savedGains, sizeof(float) * kCells);
  }
  if (ob->counter > 8) memcpy(ob->savedGains, ob->gainTable, sizeof(float) * kCells);
  if (out != nullptr)
    for (int32_t i = 0; i < kCells; ++i) {
      const int v = static_cast<int>(ob->gainTable[i] * 255.99f);
      out[i] = static_cast<uint8_t>(std::min(std::max(v, 0), 255));
    }
  ob->counter += 1;
  return 0;
}

int32_t KRV_ReleaseMergerBalance(MergerBalanceOB* ob) {
  if (ob == nullptr) return 0;
  AvmLog("KRV_ReleaseMergerBalance %p \n", static_cast<void*>(ob));
  delete[] ob->gainTable;
  delete[] ob->savedGains;
  delete[] ob->weightTable;
  delete[] ob->countTable;
  ob->gainTable = ob->savedGains = ob->weightTable = nullptr;
  ob->countTable = nullptr;
  ob->counter = 0;
  return 0;
}

float MergerBalance_SampleGain(const MergerBalanceOB* ob, float y, float x) {
  if (ob == nullptr || ob->gainTable == nullptr || ob->width < 1 || ob->height < 1) return 0.5f;
  const Matrix t{kMergerBalanceCols, kMergerBalanceRows, ob->gainTable};
  const float r = std::min(std::max(y * kMergerBalanceRows / ob->height, 0.0f), kMergerBalanceRows - 1.0f);
  const float c = std::min(std::max(x * kMergerBalanceCols / ob->width, 0.0f), kMergerBalanceCols - 1.0f);
  return Image_SampleBilinear(&t, r, c);
}

void MergerBalance_DistanceWeights(int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t w, int32_t h,
                                   int32_t marginTop, int32_t marginBottom, int32_t marginLeft, int32_t marginRight,
                                   float radius, Matrix* map) {
  if (map == nullptr || map->data == nullptr || map->cols != width || map->rows != height) return;
  const float left = static_cast<float>(x0 - marginLeft), right = static_cast<float>(x0 + w + marginRight);
  const float top = static_cast<float>(y0 - marginTop), bottom = static_cast<float>(y0 + h + marginBottom);
  const float div = radius + 1.1920929e-07f;
  for (int32_t r = 0; r < height; ++r)
    for (int32_t c = 0; c < width; ++c) {
      const float dx = c < left ? left - c : (c > right ? c - right : 0.0f);
      const float dy = r < top ? top - r : (r > bottom ? r - bottom : 0.0f);
      float d;
      if (dx > 0.0f && dy > 0.0f) d = std::sqrt(dx * dx + dy * dy);
      else if (dy > 0.0f) d = dy;
      else if (dx > 0.0f) d = dx;
      else d = c - right;  // inside: not above 0
      map->data[static_cast<size_t>(r) * width + c] = std::min(d / div, 1.0f);
    }
}
