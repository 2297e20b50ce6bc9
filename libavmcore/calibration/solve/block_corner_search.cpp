// Corner search of one marker block: the block's search band is cut out of
// the quad frame, the marker-quad finder runs through its schedule, and the
// quad whose block-pose fit is good and that lies best is taken.
#include <algorithm>
#include <cstring>

#include "calibration/detect/quad_search.h"
#include "calibration/solve/block_solve.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "toolkit/sampling.h"

namespace {

constexpr int32_t kScheduleEnd = 16;
constexpr int32_t kVariant[16] = {0, 0, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr float kFitLimit[16] = {1.2f, 1.2f, 1.2f, 1.2f, 2.4f, 3.4f, 5.4f, 5.4f,
                                 5.4f, 5.4f, 5.4f, 5.4f, 5.4f, 5.4f, 5.4f, 5.4f};
constexpr float kRowFraction[16] = {0.46f, 0.53f, 0.46f, 0.53f, 0.53f, 0.53f, 0.53f, 0.53f,
                                    0.53f, 0.53f, 0.53f, 0.53f, 0.5f,  0.5f,  0.46f, 0.46f};
constexpr int32_t kSide[12] = {1, 0, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0};
constexpr int32_t kOrder[12][4] = {{0, 1, 2, 3}, {0, 1, 2, 3}, {3, 2, 1, 0}, {3, 2, 1, 0},
                                   {1, 3, 0, 2}, {1, 3, 0, 2}, {2, 0, 3, 1}, {2, 0, 3, 1},
                                   {1, 3, 0, 2}, {1, 3, 0, 2}, {2, 0, 3, 1}, {2, 0, 3, 1}};
constexpr int32_t kGreyPercent[8] = {50, 50, 50, 50, 44, 57, 44, 57};

// First column of a four-block band in the quad frame.
int32_t BandFirstColumn(int32_t block, int32_t W, int32_t w, int32_t b) {
  switch (block) {
    case 0: case 5: return 0;
    case 1: case 4: return w - b;
    case 3: case 6: return w;
    default: return W - b;  // 2, 7
  }
}

// Where a band lies in a frame: the frame's size, the band's first column
// and row, the camera picture's size, the band's width b, and the width and
// column scale it takes when resampled onto 720 rows.
struct BandWindow {
  int32_t frameW, frameH;
  int32_t firstCol, firstRow;
  int32_t camW, camH;
  int32_t b;
  int32_t resampledWidth;
  float xScaleResampled;
};

// Cuts a band of bandW x rows from a frame, copying or resampling onto 720
// rows; sample(row, column) reads the frame.
template <typename Sample>
bool CutBand(BlockBand* band, const BandWindow& at, Sample sample, float* xScale, float* yScale) {
  const int32_t frameW = at.frameW, frameH = at.frameH, firstRow = at.firstRow, camW = at.camW;
  const int32_t resampledWidth = at.resampledWidth;
  const float xScaleResampled = at.xScaleResampled;
  int32_t firstCol = at.firstCol, camH = at.camH, b = at.b;
  firstCol = std::clamp(firstCol, 0, std::max(frameW - 1, 0));
  b = std::clamp(b, 0, frameW - firstCol);
  camH = std::clamp(camH, 0, frameH - firstRow);
  if (b < 1 || camH < 1) return false;
  if (camW <= 1280 && camH <= 720) {
    band->data.assign(static_cast<size_t>(b) * camH, 0.0f);
    band->image = Matrix{b, camH, band->data.data()};
    for (int32_t r = 0; r < camH; ++r)
      for (int32_t c = 0; c < b; ++c)
        band->data[static_cast<size_t>(r) * b + c] = sample(firstRow + r, firstCol + c, true);
    *xScale = *yScale = 1.0f;
    return true;
  }
  const int32_t width = resampledWidth;
  *xScale = xScaleResampled;
  *yScale = static_cast<float>(camH) / 720.0f;
  if (width < 1) return false;
  band->data.assign(static_cast<size_t>(width) * 720, 0.0f);
  band->image = Matrix{width, 720, band->data.data()};
  for (int32_t r = 2; r <= 717; ++r)
    for (int32_t c = 2; c <= width - 3; ++c) {
      const float sr = firstRow + *yScale * r, sc = firstCol + *xScale * c;
      if (sr > frameH - 1 || sc > frameW - 1) continue;
      band->data[static_cast<size_t>(r) * width + c] = sample(sr, sc, false);
    }
  return true;
}

}  // namespace

bool CutBlockRegion(const Matrix* image, int32_t block, int32_t percent, BlockBand* band, float* xScale,
                    float* yScale, int32_t* columnOffset) {
  if (image == nullptr || image->data == nullptr || block < 0 || block > 7) return false;
  const int32_t W = image->cols, H = image->rows, w = W / 2, v = H / 2, b = w * percent / 100;
  const int32_t first = BandFirstColumn(block, W, w, b);
  *columnOffset = first >= w ? first - w : first;
  const bool front = block < 4;
  auto sample = [&](float r, float c, bool exact) {
    if (exact) return image->data[static_cast<size_t>(r) * W + static_cast<size_t>(c)];
    return Image_SampleBilinear(image, r, c);
  };
  return CutBand(band,
                 {W, H, first, block < 4 ? 0 : v, w, v, b, front ? percent * 1280 / 100 : b,
                  front ? static_cast<float>(w) / 1280.0f : 1.0f},
                 sample, xScale, yScale);
}

bool CutBlockRegionGray(const ImageU8* image, int32_t block, int32_t percent, BlockBand* band, float* xScale,
                        float* yScale, int32_t* columnOffset) {
  if (image == nullptr || image->data == nullptr || block < 0 || block > 7) return false;
  const int32_t W = image->width, H = image->height, w = W / 2, v = H / 2, b = w * percent / 100;
  const int32_t first = BandFirstColumn(block, W, w, b);
  *columnOffset = first >= w ? first - w : first;
  const bool front = block < 4;
  auto sample = [&](float r, float c, bool) {
    return image->data[static_cast<size_t>(r) * W + static_cast<size_t>(c)] / 255.0f;
  };
  return CutBand(band,
                 {W, H, first, block < 4 ? 0 : v, w, v, b, front ? percent * 1280 / 100 : b,
                  front ? static_cast<float>(w) / 1280.0f : 1.0f},
                 sample, xScale, yScale);
}

bool CutSideBlockRegionGray(const ImageU8* image, int32_t block, int32_t percent, int32_t rows, BlockBand* band,
                            float* xScale, float* yScale, int32_t* columnOffset) {
  if (image == nullptr || image->data == nullptr || block < 8 || block > 11) return false;
  const int32_t W2 = image->width, w2 = W2 / 2, b = w2 * percent / 100;
  const int32_t H2 = rows > 0 ? std::min(rows, image->height) : image->height;
  const int32_t first = block == 8 ? w2 - b : block == 9 ? 0 : block == 10 ? w2 : W2 - b;
  *columnOffset = first >= w2 ? first - w2 : first;
  auto sample = [&](float r, float c, bool) {
    return image->data[static_cast<size_t>(r) * W2 + static_cast<size_t>(c)] / 255.0f;
  };
  return CutBand(band, {W2, image->height, first, 0, w2, H2, b, b, 1.0f}, sample, xScale, yScale);
}

int32_t FindFourCorners(const BlockHeader& header, BlockSet* set, int32_t imageKind, const void* image,
                        int32_t block, int32_t* position, int32_t cameraValue, int32_t bandPass) {
  if (set == nullptr || image == nullptr || position == nullptr || block < 0 || block > 11) return 0;
  if (*position >= kScheduleEnd || *position < 0) {
    *position = kScheduleEnd;
    return 0;
  }
  float tol[4] = {header.quadTol[0], header.quadTol[1], header.quadTol[2], header.quadTol[3]};
  if (block < 4 && tol[0] < 10.0f) tol[0] = 10.0f;
  float xScale = 1.0f, yScale = 1.0f;
  int32_t columnOffset = 0;
  BlockBand band;
  bool cut;
  BlockHeader fit = header;
  if (block >= 8) {
    const auto* frame = static_cast<const ImageU8*>(image);
    const bool near = block == 8 || block == 10;
    const int32_t percent = near ? (bandPass == 0 ? 65 : 56) : (bandPass == 0 ? 36 : 45);
    // The rear cameras fill the frame's height, or its top half when the
    // frame is a quad frame of the first frame's size.
    const int32_t rows = header.halfHeight > 0 ? std::min(header.halfHeight, frame->height) : frame->height;
    cut = CutSideBlockRegionGray(frame, block, percent, rows, &band, &xScale, &yScale, &columnOffset);
    fit.halfWidth = frame->width / 2;
    fit.halfHeight = rows;
  } else if (imageKind == 0) {
    cut = CutBlockRegion(static_cast<const Matrix*>(image), block, 50, &band, &xScale, &yScale, &columnOffset);
  } else {
    cut = CutBlockRegionGray(static_cast<const ImageU8*>(image), block, kGreyPercent[block], &band, &xScale,
                             &yScale, &columnOffset);
  }
  const int32_t slot = block >= 8 ? block - 4 : block;
  const int32_t side = kSide[block];
  const bool gated = header.sideGate == 1 && !GlobalVariables_IsRangeAbove7500() &&
                     (block == 5 || block == 7 || block == 8 || block == 10);
  if (!cut) {
    *position = kScheduleEnd;
    return 0;
  }
  float quads[kMarkerQuadMax * 8];
  for (int32_t s = *position; s < kScheduleEnd; ++s) {
    const int32_t n = Chessboard_FindMarkerQuads(&band.image, side, kVariant[s], quads, tol[0], tol[1], tol[2], tol[3]);
    bool haveBest = false;
    bool bestRepeat = false;
    float bestRow = 0.0f, bestCol = 0.0f;
    float bestCorners[8];
    for (int32_t q = 0; q < n; ++q) {
      const float* quad = quads + 8 * q;
      if (quad[4] + quad[6] < quad[0] + quad[2]) continue;
      float cam[8];
      for (int k = 0; k < 4; ++k) {
        cam[2 * k] = yScale * quad[2 * k];
        cam[2 * k + 1] = columnOffset + xScale * quad[2 * k + 1];
      }
      if (gated && s < 6) {
        float reach = 0.0f;
        for (int k = 0; k < 4; ++k) {
          const float c = cam[2 * k + 1];
          reach = std::max(reach, (block == 7 || block == 8) ? fit.halfWidth - c : c);
        }
        const float limit = (block == 5 || block == 7) ? 0.22f : 0.26f;
        if (reach / fit.halfWidth < limit) continue;
      }
      float ordered[8];
      for (int k = 0; k < 4; ++k) {
        ordered[2 * k] = cam[2 * kOrder[block][k]];
        ordered[2 * k + 1] = cam[2 * kOrder[block][k] + 1];
      }
      // Fit into a scratch slot so that a rejected quad leaves the block's
      // pose as it was.
      BlockSet scratch;
      memcpy(scratch.K[0], set->K[slot], sizeof scratch.K[0]);
      memcpy(scratch.D[0], set->D[slot], sizeof scratch.D[0]);
      const float err = BlockFit_Square(fit, &scratch, 0, ordered, 0, 0, cameraValue);
      AvmLog("T3~~~~~~~~%d %d_%d %d %f %f %f %f %f %f \n", n, s, q, block, err, scratch.D[0][0], scratch.D[0][1],
             scratch.K[0][0], scratch.K[0][2], scratch.K[0][5]);
      if (!(err < kFitLimit[s])) continue;
      const float refCol = ordered[2 * (side == 0 ? 0 : 1) + 1];
      const float refRow = ordered[2 * (side == 0 ? 2 : 3)];
      const bool repeat = s > ((block % 2 == 0) ? 10 : 9) && CheckCornerRepeat(&set->points[slot][0][0], block, s, ordered);
      bool take = !haveBest;
      if (haveBest) {
        const float rowLimit = fit.halfHeight * kRowFraction[s];
        if (repeat != bestRepeat) {
          take = bestRepeat;
        } else if (bestRow < rowLimit || refRow < rowLimit) {
          take = bestRow < refRow;
        } else {
          take = side == 0 ? refCol < bestCol : refCol > bestCol;
        }
      }
      if (take) {
        haveBest = true;
        bestRepeat = repeat;
        bestRow = refRow;
        bestCol = refCol;
        memcpy(bestCorners, ordered, sizeof bestCorners);
        memcpy(set->K[slot], scratch.K[0], sizeof scratch.K[0]);
        memcpy(set->D[slot], scratch.D[0], sizeof scratch.D[0]);
        memcpy(set->R[slot], scratch.R[0], sizeof scratch.R[0]);
        memcpy(set->T[slot], scratch.T[0], sizeof scratch.T[0]);
      }
    }
    if (haveBest) {
      memcpy(set->points[slot], bestCorners, sizeof bestCorners);
      *position = s;
      return 1;
    }
  }
  *position = kScheduleEnd;
  return 0;
}
