#include "calibration/detect/spot_junctions.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/matrix.h"
#include "toolkit/morphology.h"
#include "toolkit/thinning.h"
#include "toolkit/thresholds.h"

namespace {

struct Px {
  int32_t r, c;
};

// Mean of the junctions within the ellipse sqrt(dr^2 + (cw dc)^2) <= radius.
void MeanNear(const std::vector<Px>& js, float r, float c, float radius, float cw, float* out) {
  double sr = 0.0, sc = 0.0;
  int32_t n = 0;
  for (const Px& j : js) {
    const float dr = static_cast<float>(j.r) - r, dc = static_cast<float>(j.c) - c;
    if (std::sqrt(dr * dr + cw * cw * dc * dc) <= radius) {
      sr += j.r;
      sc += j.c;
      ++n;
    }
  }
  out[0] = n > 0 ? static_cast<float>(sr / n) : r;
  out[1] = n > 0 ? static_cast<float>(sc / n) : c;
}

}  // namespace

void SpotJunctions_Collect(const Matrix* image, int32_t k, float offset, std::vector<int32_t>* junctions) {
  junctions->clear();
  if (image == nullptr || image->data == nullptr || image->cols < 3 || image->rows < 3) return;
  const int32_t rows = image->rows, cols = image->cols;
  const size_t n = static_cast<size_t>(cols) * rows;
  std::vector<float> skel(image->data, image->data + n);
  Matrix sk{cols, rows, skel.data()};
  Image_AdaptiveThreshold(&sk, k, offset);
  Image_Dilate(&sk, 1, 1);
  Image_Erode(&sk, 1, 1);
  Image_ThinZhangSuen(&sk);
  for (int32_t r = 1; r <= rows - 2 && junctions->size() < 2 * 1024; ++r)
    for (int32_t c = 1; c <= cols - 2 && junctions->size() < 2 * 1024; ++c) {
      if (!(skel[static_cast<size_t>(r) * cols + c] > 0.5f)) continue;
      int32_t nb = 0;
      for (int32_t dr = -1; dr <= 1; ++dr)
        for (int32_t dc = -1; dc <= 1; ++dc)
          if ((dr != 0 || dc != 0) && skel[static_cast<size_t>(r + dr) * cols + c + dc] > 0.5f) ++nb;
      if (nb >= 3) {
        junctions->push_back(r);
        junctions->push_back(c);
      }
    }
}

int32_t Pattern_FindSpotJunctions(const Matrix* image, float* out, int32_t k, int32_t mode, int32_t flag,
                                  float offset) {
  if (image == nullptr || image->data == nullptr || image->cols < 3 || image->rows < 3 || out == nullptr) return 0;
  // The skeleton does not change between tries.
  std::vector<int32_t> junctions;
  SpotJunctions_Collect(image, k, offset, &junctions);
  return Pattern_FindSpotJunctionsIn(image, junctions, out, mode, flag);
}

int32_t Pattern_FindSpotJunctionsIn(const Matrix* image, const std::vector<int32_t>& junctions, float* out,
                                    int32_t mode, int32_t flag) {
  if (image == nullptr || image->data == nullptr || image->cols < 3 || image->rows < 3 || out == nullptr) return 0;
  const int32_t rows = image->rows, cols = image->cols;
  const size_t n = static_cast<size_t>(cols) * rows;
  std::vector<Px> js;
  for (size_t i = 0; i + 1 < junctions.size() && js.size() < 1024; i += 2) js.push_back({junctions[i], junctions[i + 1]});

  const int32_t tries = mode == 0 && flag != 0 ? 6 : 3;
  const int32_t ry = flag != 0 && (mode == 0 || mode == 1) ? 5 : 10;
  int32_t topBand = 30, bottomBand = 35;
  const int32_t sideBand = 40;
  std::vector<float> spot(n);
  Matrix sp{cols, rows, spot.data()};
  int32_t prevRow = -1;
  for (int32_t t = 0; t < tries; ++t) {
    if (t > 0) {
      if (prevRow < rows / 2)
        topBand = prevRow + 20;
      else
        bottomBand = rows - prevRow + 30;
    }
    std::copy(image->data, image->data + n, spot.begin());
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < cols; ++c)
        if (r < topBand || r >= rows - bottomBand || c < sideBand || c >= cols - sideBand)
          spot[static_cast<size_t>(r) * cols + c] = 0.0f;
    Image_BoxMean(&sp, &sp, 10, ry);
    int32_t maxCol = 0, maxRow = 0;
    Matrix_MaxLoc(&sp, &maxCol, &maxRow);
    prevRow = maxRow;

    // Near points level with the spot, either side of it.
    int32_t nearL = -1, nearR = -1;
    int32_t bestL = 10000, bestR = 10000;
    for (size_t i = 0; i < js.size(); ++i) {
      const int32_t dc = js[i].c - maxCol;
      if (std::abs(maxRow - js[i].r) > 18 || std::abs(dc) < 18) continue;
      if (js[i].c < maxCol && std::abs(dc) < bestL) {
        bestL = std::abs(dc);
        nearL = static_cast<int32_t>(i);
      }
      if (js[i].c >= maxCol && std::abs(dc) < bestR) {
        bestR = std::abs(dc);
        nearR = static_cast<int32_t>(i);
      }
    }
    if (nearL < 0 || nearR < 0) continue;

    const float B = mode <= 1 ? -5.0f : 5.0f;
    int32_t slot[4] = {-1, -1, -1, -1};  // upper-left, upper-right, lower-left, lower-right
    for (int32_t side = 0; side < 2; ++side) {
      const Px p = js[side == 0 ? nearL : nearR];
      float bestUp = 10000.0f, bestDown = 10000.0f;
      for (size_t i = 0; i < js.size(); ++i) {
        const float dc = static_cast<float>(js[i].c - p.c);
        if (js[i].r < p.r) {
          if (side == 0 ? dc < -5.0f : dc > 5.0f) continue;
          const float dy = static_cast<float>(p.r - js[i].r);
          if (dy < 14.0f) continue;
          const float d = std::sqrt(dc * dc + dy * dy);
          if (d < bestUp) {
            bestUp = d;
            slot[side] = static_cast<int32_t>(i);
          }
        } else {
          if (side == 0 ? dc > B : dc < -B) continue;
          const float dy = static_cast<float>(js[i].r - p.r);
          if (dy < 18.0f) continue;
          float h = std::fabs(dc);
          if (mode == 0) h = side == 0 ? (-dc) - 50.0f : (-dc) + 50.0f;
          const float d = std::sqrt(h * h + dy * dy);
          if (d < bestDown) {
            bestDown = d;
            slot[2 + side] = static_cast<int32_t>(i);
          }
        }
      }
    }
    bool ok = slot[0] >= 0 && slot[1] >= 0 && slot[2] >= 0 && slot[3] >= 0;
    for (int32_t i = 0; ok && i < 4; ++i)
      ok = std::hypot(static_cast<float>(js[slot[i]].r - maxRow), static_cast<float>(js[slot[i]].c - maxCol)) >= 40.0f;
    if (!ok) continue;
    const int32_t upperW = js[slot[1]].c - js[slot[0]].c, lowerW = js[slot[3]].c - js[slot[2]].c;
    if (upperW < 70 || upperW > lowerW) continue;
    if (mode <= 1 && (std::abs(js[slot[0]].r - js[slot[1]].r) > 30 || std::abs(js[slot[2]].r - js[slot[3]].r) > 30))
      continue;
    for (int32_t i = 0; i < 4; ++i)
      MeanNear(js, static_cast<float>(js[slot[i]].r), static_cast<float>(js[slot[i]].c), 4.0f, 1.0f, out + 2 * i);
    MeanNear(js, static_cast<float>(js[nearL].r), static_cast<float>(js[nearL].c), 14.0f, 0.5f, out + 8);
    MeanNear(js, static_cast<float>(js[nearR].r), static_cast<float>(js[nearR].c), 14.0f, 0.5f, out + 10);
    return 1;
  }
  return 0;
}
