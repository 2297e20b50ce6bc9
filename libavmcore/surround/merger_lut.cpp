#include "surround/merger_lut.h"
#include "frame/log.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "camera/camera_model.h"
#include "frame/global_variables.h"
#include "frame/numeric_constants.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "surround/merger_lut_internal.h"
#include "surround/surround_codes.h"

namespace {

std::atomic<int32_t> gBuildThreads{0};

// dy / t, limited to cap; a seam along the car edge (t = 0) reaches the cap.
float SeamReach(float dy, float t, float cap) {
  if (std::fabs(t) < 1e-6f) return cap;
  return std::min(dy / t, cap);
}

float CornerFade(float dy, float e, float band) {
  return std::min(std::pow(std::atan2(2.0f * dy, e) / kHalfPi, 0.5f), (band - e) / band);
}

}  // namespace

void LUT_SetBuildThreads(int32_t threads) { gBuildThreads.store(threads < 0 ? 0 : threads); }

namespace lut_internal {

int32_t BuildThreads() {
  int32_t n = gBuildThreads.load();
  if (n <= 0) {
    n = static_cast<int32_t>(std::thread::hardware_concurrency());
    n = std::min(std::max(n, 1), 8);
  }
  return n;
}

void ParallelRows(int32_t rows, const std::function<void(int32_t, int32_t)>& fn) {
  const int32_t n = std::min(BuildThreads(), std::max(rows / 16, 1));
  if (n <= 1) {
    fn(0, rows);
    return;
  }
  // Rows cost very different amounts (corners project into two cameras, the
  // car area into none), so threads draw small chunks from a shared counter
  // until the rows run out instead of taking one fixed band each.
  // About 64 chunks a thread: the last chunk taken, which the others may
  // wait for, is then a small part of a thread's share.
  const int32_t chunk = std::max<int32_t>(2, rows / (64 * n));
  std::atomic<int32_t> next{0};
  auto work = [&fn, &next, rows, chunk] {
    for (int32_t r0; (r0 = next.fetch_add(chunk)) < rows;) fn(r0, std::min(r0 + chunk, rows));
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(n - 1));
  for (int32_t t = 1; t < n; ++t) pool.emplace_back(work);
  work();
  for (std::thread& th : pool) th.join();
}

void Projectors::Prepare(LUTOB* lut) {
  camW = lut->camW;
  camH = lut->camH;
  for (int c = 0; c < 4; ++c) {
    fn[c] = nullptr;
    model[c] = static_cast<int32_t>(lut->cfg.model[c]);
    slot[c] = lut->cfg.lensSlot[c];
    CameraModel_ProjectPoint(model[c], &lut->poses.R[c], &lut->poses.T[c], &lut->poses.K[c], &lut->poses.D[c],
                             &fn[c], &ctx[c]);
  }
}

bool Projectors::Project(int cam, const float* p, float* qx, float* qy) const {
  float u = -2.0f, v = -2.0f;
  if (fn[cam] != nullptr) fn[cam](model[cam], &ctx[cam], &u, &v, slot[cam], p[0], p[1], p[2]);
  const bool ok = u > 2.0f && v > 2.0f && u < static_cast<float>(camW - 3) && v < static_cast<float>(camH - 3);
  if (!ok) u = v = 0.0f;
  *qx = u + static_cast<float>((cam == 1 || cam == 3) ? camW : 0);
  *qy = v + static_cast<float>((cam == 2 || cam == 3) ? camH : 0);
  return ok;
}

CarRect MakeCarRect(const LUTOB* lut, int32_t marginMode, int32_t W, const Matrix* groundTable) {
  const float* gt = groundTable->data;
  float step = W >= 2 ? (gt[3 * (W - 1)] - gt[0]) / static_cast<float>(W - 1) : 0.0f;
  // A ground table of one column has no span; its scale is the config's.
  if (!(step > 0.0f)) step = lut->cfg.mmPerPixel > 0.0f ? lut->cfg.mmPerPixel : 1.0f;
  const float x0 = gt[0], y0 = gt[1];
  const float cw = static_cast<float>(lut->cfg.carWidth), cl = static_cast<float>(lut->cfg.carLength);
  auto px = [step](float v) { return static_cast<int32_t>(v / step + 0.5f); };
  CarRect r{};
  r.left = px(-cw / 2 - x0);
  r.right = px(cw / 2 - x0);
  r.top = px(-cl / 2 - y0);
  r.bottom = px(cl / 2 - y0);
  if (marginMode == 0) {
    r.innerLeft = r.left;
    r.innerRight = r.right;
    r.innerTop = r.top;
    r.innerBottom = r.bottom;
  } else {
    const float m = marginMode == 2 ? 600.0f : 200.0f;
    r.innerLeft = std::min(px(m - cw / 2 - x0), r.right);
    r.innerRight = std::max(px(cw / 2 - m - x0), r.left);
    r.innerTop = px(m - cl / 2 - y0);
    r.innerBottom = px(cl / 2 - m - y0);
  }
  return r;
}

void StoreCarRect(const CarRect& r, int32_t* carLeft, int32_t* carTop, int32_t* carRight, int32_t* carBottom,
                  int32_t* innerLeft, int32_t* innerTop, int32_t* innerRight, int32_t* innerBottom) {
  if (carLeft) *carLeft = r.left;
  if (carTop) *carTop = r.top;
  if (carRight) *carRight = r.right;
  if (carBottom) *carBottom = r.bottom;
  if (innerLeft) *innerLeft = r.innerLeft;
  if (innerTop) *innerTop = r.innerTop;
  if (innerRight) *innerRight = r.innerRight;
  if (innerBottom) *innerBottom = r.innerBottom;
}

void SplitPoint(const LUTOB* lut, int32_t W, int32_t H, int32_t* splitCol, int32_t* splitRow) {
  const LutConfig& cfg = lut->cfg;
  if (cfg.outHeight == H && cfg.carRect[2] == W) {
    *splitCol = (cfg.carRect[0] + cfg.carRect[1]) / 2;
    *splitRow = (cfg.carRect[3] + cfg.carRect[4]) / 2;
  } else {
    *splitCol = W / 2;
    *splitRow = H / 2;
  }
}

// The start values of rows r0 .. r1-1 of the maps.
void FillMapRows(const LUTOB* lut, int32_t W, int32_t r0, int32_t r1, Matrix* X1, Matrix* Y1, Matrix* W1,
                 Matrix* W2, float w2, Matrix* W3) {
  const size_t a = static_cast<size_t>(r0) * W, b = static_cast<size_t>(r1) * W;
  const float y1 = static_cast<float>(2 * lut->camH - 1);
  std::fill(X1->data + a, X1->data + b, 0.0f);
  std::fill(Y1->data + a, Y1->data + b, y1);
  std::fill(W1->data + a, W1->data + b, -1.0f);
  std::fill(W2->data + a, W2->data + b, w2);
  if (W3 != nullptr && W3->data != nullptr) std::fill(W3->data + a, W3->data + b, 1.0f);
}

void FillMaps(const LUTOB* lut, int32_t W, int32_t H, Matrix* X1, Matrix* Y1, Matrix* W1, Matrix* W2, float w2,
              Matrix* W3) {
  FillMapRows(lut, W, 0, H, X1, Y1, W1, W2, w2, W3);
}

namespace {

// A seam along the car edge (slope 0) reaches as far as the inner rectangle.
int32_t SeamReachCols(float dist, float s, int32_t cap) {
  if (!(std::fabs(s) > 1e-6f)) return cap;
  const float k = dist / s;
  return k >= static_cast<float>(cap) ? cap : static_cast<int32_t>(k);
}

}  // namespace

SeamRamp::SeamRamp(int32_t W, int32_t H, int32_t innerLeft, int32_t innerTop, int32_t innerRight,
                   int32_t innerBottom, float sF, float sR)
    : W_(W), H_(H), innerLeft_(innerLeft), innerTop_(innerTop), innerRight_(innerRight),
      innerBottom_(innerBottom), sF_(sF), sR_(sR) {
  for (int32_t c = 0; c < innerLeft && c < W; ++c) {
    const float d = static_cast<float>(innerLeft - c);
    const float upF = d * sF, downF = d * sR;
    const int32_t up = std::fabs(upF) < 1e8f ? static_cast<int32_t>(upF) : H;
    const int32_t down = std::fabs(downF) < 1e8f ? static_cast<int32_t>(downF) : H;
    first_.push_back(std::max(innerTop - up - 1, 0));
    last_.push_back(std::min(down + innerBottom + 1, H - 1));
  }
}

void SeamRamp::Rows(Matrix* W2m, int32_t r0, int32_t r1) const {
  const int32_t W = W_;
  float* w2 = W2m->data;
  auto ramp = [&](float* row, int32_t k, bool rising) {
    const int32_t a = innerLeft_ - k;
    const int32_t b = std::min(innerRight_ + k, W - 1);
    for (int32_t c = std::max(a, 0); c <= b; ++c) {
      // One column has no span: its middle.
      const float t = b > a ? static_cast<float>(c - a) / static_cast<float>(b - a) : 0.5f;
      row[c] = rising ? t : 1.0f - t;
    }
  };
  const float span = static_cast<float>(innerBottom_ - innerTop_);
  for (int32_t r = std::max(r0, 0); r < r1 && r < H_; ++r) {
    float* row = w2 + static_cast<size_t>(r) * W;
    // Across the front, then across the rear (a row in both takes both).
    if (r < innerTop_) ramp(row, SeamReachCols(static_cast<float>(innerTop_ - r), sF_, innerLeft_), true);
    if (r >= innerBottom_) ramp(row, SeamReachCols(static_cast<float>(r - innerBottom_), sR_, innerLeft_), false);
    // Down the sides: the left column's value where a ramp left one, else
    // the row's place between the inner rectangle's top and bottom; the
    // mirrored right column takes 1 - that. Left columns in order (a
    // mirror may fall among them on a narrow picture).
    float f;
    if (span > 0.0f)
      f = std::min(std::max(static_cast<float>(r - innerTop_) / span, 0.0f), 1.0f);
    else
      f = r <= innerTop_ ? 0.0f : 1.0f;
    const int32_t columns = static_cast<int32_t>(first_.size());
    for (int32_t c = 0; c < columns; ++c) {
      if (r < first_[c] || r > last_[c]) continue;
      const int32_t mirror = W - 1 - c;
      if (row[c] >= 0.0f) {
        row[mirror] = 1.0f - row[c];
      } else {
        row[c] = f;
        row[mirror] = 1.0f - f;
      }
    }
  }
}

}  // namespace lut_internal

using namespace lut_internal;

float LUT_CornerWeightBySeam(float dy, float dx, float /*ignored*/, float cap, const LUTOB* lut, int32_t front) {
  const GlobalVariables& g = gv();
  const float band = static_cast<float>(front == 1 ? g.extraConfig.frontBlendWidth : g.extraConfig.rearBlendWidth);
  const float* pair = front == 1 ? &lut->seamAngles[0] : &lut->seamAngles[2];
  const float t = std::tan(DegToRadDivFirst((pair[0] + pair[1]) * 0.5f));
  const float e = dx - SeamReach(dy, t, cap);
  if (e < 0.0f) return 1.0f;
  if (e > band) return 0.0f;
  if (!(band > 0.0f)) return 1.0f;  // e == 0 on a seam without blend band
  if (band > 8.0f) return CornerFade(dy, e, band);
  return (band - e) / band;
}

float LUT_CornerWeightByAngleRange(float dy, float dx, float scaleY, float scaleX, const LUTOB* lut,
                                   int32_t front) {
  if (scaleY == 0.0f) scaleY = 1.0f;
  if (scaleX == 0.0f) scaleX = 1.0f;
  const float a = RadToDeg(std::atan2(dy / scaleY, dx / scaleX));
  const float lo = front == 1 ? lut->seamAngles[0] : lut->seamAngles[2];
  const float hi = front == 1 ? lut->seamAngles[1] : lut->seamAngles[3];
  if (a < lo) return 0.0f;
  if (a > hi) return 1.0f;
  if (!(hi > lo)) return 1.0f;  // a == lo == hi
  return (a - lo) / (hi - lo);
}

int32_t LUT_BuildMergerMaps(LUTOB* lut, int32_t marginMode, int32_t useSeamWeight, int32_t W, int32_t H,
                            const Matrix* groundTable, Matrix* W1m, Matrix* W2m, Matrix* X1m, Matrix* Y1m,
                            Matrix* X2m, Matrix* Y2m, Matrix* W3m, int32_t* carLeftOut, int32_t* carTopOut,
                            int32_t* carRightOut, int32_t* carBottomOut, int32_t* innerLeftOut,
                            int32_t* innerTopOut, int32_t* innerRightOut, int32_t* innerBottomOut) {
  if (lut == nullptr || W < 1 || H < 1 || groundTable == nullptr || groundTable->data == nullptr ||
      X1m->data == nullptr || W1m->data == nullptr)
    return 0;
  const GlobalVariables& g = gv();
  Projectors proj;
  proj.Prepare(lut);
  const CarRect cr = MakeCarRect(lut, marginMode, W, groundTable);
  StoreCarRect(cr, carLeftOut, carTopOut, carRightOut, carBottomOut, innerLeftOut, innerTopOut, innerRightOut,
               innerBottomOut);
  const float cx = static_cast<float>(cr.left + cr.right) * 0.5f;
  const float yTop = static_cast<float>(cr.innerTop) + 0.18f * static_cast<float>(W);
  const float yBot = static_cast<float>(cr.innerBottom) - 0.18f * static_cast<float>(W);
  const float ref = std::atan2(yTop - static_cast<float>(cr.innerTop), cx - static_cast<float>(cr.innerLeft));
  float* const W3 = (W3m != nullptr) ? W3m->data : nullptr;

  const bool p1 = lut->cornerCounts[0] != 0, p2 = lut->cornerCounts[1] != 0;
  const bool p3 = lut->cornerCounts[2] != 0, p4 = lut->cornerCounts[3] != 0;
  const bool blank = g.advValue14 != 0;
  const float tanFront = std::tan(DegToRadDivFirst((lut->seamAngles[0] + lut->seamAngles[1]) * 0.5f));
  const float tanRear = std::tan(DegToRadDivFirst((lut->seamAngles[2] + lut->seamAngles[3]) * 0.5f));
  int32_t splitCol, splitRow;
  SplitPoint(lut, W, H, &splitCol, &splitRow);

  auto ramp = [ref](float a) {
    const float t = (a - ref) / 0.05f;
    if (t > 0.5f) return 1.0f;
    if (t < -0.5f) return 0.0f;
    return t + 0.5f;
  };

  // Passes 3 to 5: the seam ramp W2, row by row within each chunk.
  const float meanF = (lut->seamAngles[0] + lut->seamAngles[1]) * 0.5f;
  const float meanR = (lut->seamAngles[2] + lut->seamAngles[3]) * 0.5f;
  const float sF = meanF > 89.0f ? 57.29004f : tanFront;
  const float sR = meanR > 89.0f ? 57.29004f : tanRear;
  const SeamRamp seam(W, H, cr.innerLeft, cr.innerTop, cr.innerRight, cr.innerBottom, sF, sR);

  auto rows = [&](int32_t r0, int32_t r1) {
    // Each row range starts from the maps' start values, filled here so
    // that the fill is spread over the threads too.
    FillMapRows(lut, W, r0, r1, X1m, Y1m, W1m, W2m, -1.0f, W3m);
    seam.Rows(W2m, r0, r1);
    for (int32_t r = r0; r < r1; ++r) {
      for (int32_t c = 0; c < W; ++c) {
        const size_t k = static_cast<size_t>(r) * W + c;
        float& w1 = W1m->data[k];
        // Pass 1: region and weight.
        StitchRegion code;
        if (r < cr.top) {
          code = c < cr.left ? kRegionFrontLeft : (c <= cr.right ? kRegionFront : kRegionFrontRight);
        } else if (r > cr.bottom) {
          code = c < cr.left ? kRegionRearLeft : (c <= cr.right ? kRegionRear : kRegionRearRight);
        } else if (c < cr.left) {
          code = kRegionLeft;
        } else if (c > cr.right) {
          code = kRegionRight;
        } else if (r < cr.innerTop) {
          code = kRegionFront;
        } else if (r > cr.innerBottom) {
          code = kRegionRear;
        } else {
          code = c < cr.innerLeft ? kRegionLeft : (c > cr.innerRight ? kRegionRight : kRegionCentre);
        }
        const bool besideInner = c < cr.innerLeft || c > cr.innerRight;
        const float d = static_cast<float>(c < cr.innerLeft ? cx - static_cast<float>(c) : static_cast<float>(c) - cx);
        if (r >= cr.top && r < cr.innerTop && besideInner && p1 && p3 && p4) {
          w1 = ramp(std::atan2(yTop - static_cast<float>(r), d - 5.0f));
        } else if (r > cr.innerBottom && r <= cr.bottom && besideInner && p2 && p3 && p4) {
          w1 = ramp(std::atan2(static_cast<float>(r) - yBot, d - 5.0f));
        } else {
          const bool innerCols = c >= cr.innerLeft && c <= cr.innerRight;
          auto corner = [&]() {
            float dy, dx;
            const int front = (code == kRegionFrontLeft || code == kRegionFrontRight) ? 1 : 0;
            dy = static_cast<float>(front ? cr.top - r : r - cr.bottom);
            dx = static_cast<float>((code == kRegionFrontLeft || code == kRegionRearLeft) ? cr.left - c : c - cr.right);
            const float sTop = static_cast<float>(cr.top), sLeft = static_cast<float>(cr.left);
            const float w = useSeamWeight != 0 ? LUT_CornerWeightBySeam(dy, dx, sTop, sLeft, lut, front)
                                               : LUT_CornerWeightByAngleRange(dy, dx, sTop, sLeft, lut, front);
            if (W3 != nullptr) {
              const float e = dx - SeamReach(dy, front ? tanFront : tanRear, sLeft);
              float w3 = 1.0f;
              if (!(e < 0.0f || e > 24.0f)) {
                w3 = CornerFade(dy, e, 24.0f);
                if (w3 < 0.001f) w3 = 1.0f;
              }
              W3[k] = w3;
            }
            return w;
          };
          auto base = [&]() {
            switch (code) {
              case kRegionCentre: return w1;
              case kRegionFront:
              case kRegionRear: return 1.0f;
              case kRegionLeft:
              case kRegionRight: return 0.0f;
              default: return corner();
            }
          };
          auto frontAbsent = [&]() {
            if (code == kRegionFrontLeft || code == kRegionFrontRight) return 0.0f;
            if (code == kRegionFront) return (blank && innerCols) ? w1 : 0.0f;
            return base();
          };
          if (!p2) {
            if (!p3 && !p4) {
              w1 = 1.0f;
            } else if (code == kRegionRearLeft || code == kRegionRearRight) {
              w1 = 0.0f;
            } else if (code == kRegionRear) {
              w1 = (blank && innerCols) ? w1 : 0.0f;
            } else {
              w1 = p1 ? base() : frontAbsent();
            }
          } else if (!p1) {
            w1 = (!p3 && !p4) ? 1.0f : frontAbsent();
          } else {
            w1 = base();
          }
        }
        // Pass 2: source points.
        const float w = w1;
        if (w < 0.0f) {
          w1 = 1.0f;
          continue;
        }
        const float* p = groundTable->data + 3 * k;
        const int endCam = r >= splitRow ? 1 : 0;
        const int sideCam = c >= splitCol ? 3 : 2;
        float ex, ey, sx, sy;
        proj.Project(endCam, p, &ex, &ey);
        proj.Project(sideCam, p, &sx, &sy);
        if (w > 0.5f) {
          X1m->data[k] = ex;
          Y1m->data[k] = ey;
          X2m->data[k] = sx;
          Y2m->data[k] = sy;
          w1 = w;
        } else {
          X1m->data[k] = sx;
          Y1m->data[k] = sy;
          X2m->data[k] = ex;
          Y2m->data[k] = ey;
          w1 = 1.0f - w;
        }
      }
    }
  };
  ParallelRows(H, rows);
  return 0;
}

int32_t LUT_BuildMergerMapsDirect(LUTOB* lut) {
  if (lut == nullptr) return 0;
  LutConfig& cfg = lut->cfg;
  const int32_t W = cfg.X1.cols, H = cfg.X1.rows;
  if (W < 1 || H < 1 || cfg.X1.data == nullptr || cfg.groundTable.data == nullptr) return 0;
  const GlobalVariables& g = gv();
  const int32_t b = std::min(std::min(g.extraConfig.frontBlendWidth, g.extraConfig.rearBlendWidth), 8);
  const int32_t hc = cfg.outHeight;
  const int32_t left = cfg.carRect[0] + b, right = cfg.carRect[1] - b;
  const int32_t top = cfg.carRect[3] + hc / 48, bottom = cfg.carRect[4] - hc / 48;
  const int32_t seamTop = cfg.carRect[3] + hc / 120, seamBottom = cfg.carRect[4] - hc / 120;
  cfg.carLeft = cfg.innerLeft = left;
  cfg.carRight = cfg.innerRight = right;
  cfg.carTop = cfg.innerTop = top;
  cfg.carBottom = cfg.innerBottom = bottom;
  Projectors proj;
  proj.Prepare(lut);
  const bool p1 = lut->cornerCounts[0] != 0, p2 = lut->cornerCounts[1] != 0;
  const float tF = std::tan(DegToRadDivFirst((lut->seamAngles[0] + lut->seamAngles[1]) * 0.5f));
  const float tR = std::tan(DegToRadDivFirst((lut->seamAngles[2] + lut->seamAngles[3]) * 0.5f));
  const SeamRamp seam(W, H, left, seamTop, right, seamBottom, tF, tR);

  auto rows = [&](int32_t r0, int32_t r1) {
    // Start values and the seam ramp W2 of the chunk's rows (W1 starts at 1).
    FillMapRows(lut, W, r0, r1, &cfg.X1, &cfg.Y1, &cfg.W1, &cfg.W2, -1.0f, nullptr);
    std::fill(cfg.W1.data + static_cast<size_t>(r0) * W, cfg.W1.data + static_cast<size_t>(r1) * W, 1.0f);
    seam.Rows(&cfg.W2, r0, r1);
    for (int32_t r = r0; r < r1; ++r) {
      for (int32_t c = 0; c < W; ++c) {
        const size_t k = static_cast<size_t>(r) * W + c;
        const float* p = cfg.groundTable.data + 3 * k;
        int endCam = -1, sideCam = -1;
        const int side = c < left ? 2 : (c > right ? 3 : -1);
        if (r < seamTop) {
          endCam = 0;
          sideCam = side;
          if (side >= 0 && !p1) endCam = -1;
        } else if (r > seamBottom) {
          endCam = 1;
          sideCam = side;
          if (side >= 0 && !p2) endCam = -1;
        } else if (side >= 0) {
          sideCam = side;
        } else if (r < top) {
          endCam = 0;
        } else if (r > bottom) {
          endCam = 1;
        } else {
          continue;
        }
        float* X1 = cfg.X1.data + k;
        float* Y1 = cfg.Y1.data + k;
        float* X2 = cfg.X2.data + k;
        float* Y2 = cfg.Y2.data + k;
        float* W1 = cfg.W1.data + k;
        if (endCam < 0 || sideCam < 0) {
          float x, y;
          if (proj.Project(endCam >= 0 ? endCam : sideCam, p, &x, &y)) {
            *X1 = *X2 = x;
            *Y1 = *Y2 = y;
          }
          *W1 = 1.0f;
          continue;
        }
        const int front = endCam == 0 ? 1 : 0;
        const float dy = static_cast<float>(front ? seamTop - r : r - seamBottom);
        const float dx = static_cast<float>(side == 2 ? left - c : c - right);
        const float w = LUT_CornerWeightBySeam(dy, dx, 0.0f, static_cast<float>(left), lut, front);
        float ex, ey, sx, sy;
        const bool eOk = proj.Project(endCam, p, &ex, &ey);
        const bool sOk = proj.Project(sideCam, p, &sx, &sy);
        if (eOk && sOk) {
          const bool endFirst = w >= 0.00001f;
          *X1 = endFirst ? ex : sx;
          *Y1 = endFirst ? ey : sy;
          *X2 = endFirst ? sx : ex;
          *Y2 = endFirst ? sy : ey;
          *W1 = endFirst ? w : 1.0f - w;
        } else {
          if (eOk || sOk) {
            *X1 = eOk ? ex : sx;
            *Y1 = eOk ? ey : sy;
          }
          *W1 = 1.0f;
        }
      }
    }
  };
  ParallelRows(H, rows);
  return 0;
}

int32_t LUT_RegenerateMergerLUT(LUTOB* lut) {
  if (lut == nullptr) return 0;
  LutConfig& cfg = lut->cfg;
  AvmLog("LUT_GenerateMergerLUT %d \n", gv().f0);
  if (cfg.X1.data == nullptr || cfg.groundTable.data == nullptr) {
    AvmLog("LUT_GenerateMergerLUT: no maps to fill\n");
    return 0;
  }
  if (cfg.extraParam == 0) {
    LUT_BuildMergerMaps(lut, 1, 1, cfg.X1.cols, cfg.X1.rows, &cfg.groundTable, &cfg.W1, &cfg.W2, &cfg.X1, &cfg.Y1,
                        &cfg.X2, &cfg.Y2, &cfg.W3, &cfg.carLeft, &cfg.carTop, &cfg.carRight, &cfg.carBottom,
                        &cfg.innerLeft, &cfg.innerTop, &cfg.innerRight, &cfg.innerBottom);
  } else {
    LUT_BuildSectorMaps(lut, 1, cfg.X1.cols, cfg.X1.rows, &cfg.groundTable, &cfg.W1, &cfg.W2, &cfg.X1, &cfg.Y1,
                        &cfg.X2, &cfg.Y2, &cfg.W3, &cfg.carLeft, &cfg.carTop, &cfg.carRight, &cfg.carBottom,
                        &cfg.innerLeft, &cfg.innerTop, &cfg.innerRight, &cfg.innerBottom);
  }
  return 0;
}

int32_t LUT_GenerateMergerLUT(LUTOB* lut, int32_t calibrate, int32_t dropMask) {
  if (lut == nullptr) return 0;
  GlobalVariables& g = gv();
  const bool allOne = lut->cornerCounts[0] == 1 && lut->cornerCounts[1] == 1 && lut->cornerCounts[2] == 1 &&
                      lut->cornerCounts[3] == 1;
  if (calibrate != 0 && !allOne) {
    for (int k = 0; k < 4; ++k) lut->seamAngles[k] = g.config.seamAngle[k];
    for (int32_t i = 1; i <= 4; ++i) {
      if ((g.cameraMask & (1 << (i - 1))) == 0) continue;
      const int c = i - 1;
      int32_t n = lut->cornerCounts[c];
      if (n == 0) return 32 + i;
      auto solve = [&](int32_t count, int32_t option) {
        return CalibrateCamera(&lut->cfg, lut->camW, lut->camH, lut->cameraImages[c], i, count, lut->imagePoints[c],
                               lut->worldPoints[c], &lut->poses.K[c], &lut->poses.D[c], &lut->poses.R[c],
                               &lut->poses.T[c], option, 0);
      };
      if (lut->singleFitFlags[c] == 1) {
        if (solve(n, 1) != 0) return 32 + i;
        continue;
      }
      const int32_t F = i == 1 ? g.cornerCount1 : (i == 2 ? g.cornerCount2 : g.cornerCount34);
      const int32_t small = i == 1 ? g.boardKind1 : (i == 2 ? g.boardKind2 : g.boardKind34);
      const int32_t enable = i <= 2 ? g.fallbackEnable12 : g.fallbackEnable34;
      int32_t option = 1;
      if (n <= F) option = small == 0 ? 1 : 0;
      if (solve(n, option) == 0) continue;
      if (!(F > 0 && n > F && enable != 0)) return 32 + i;
      lut->cornerCounts[c] = F;
      n = F;
      if (i >= 3 && F <= 42 && g.boardKind34 == 1) option = 0;
      if (solve(n, option) != 0) return 32 + i;
    }
  }
  if (g.frontCameraXFixed != 0) LUTOB_SetFrontCameraX(lut);
  if ((dropMask & 1) != 0) lut->cornerCounts[0] = 0;
  if ((dropMask & 2) != 0) lut->cornerCounts[1] = 0;
  return LUT_RegenerateMergerLUT(lut);
}
