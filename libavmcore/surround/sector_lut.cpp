// The sector layout of the stitched view: each pair of cameras meets across
// the middle of one side of the car; the pair of a pixel follows from the
// sector around the view's split point in which it lies.
#include <cmath>

#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "surround/merger_lut_internal.h"

using namespace lut_internal;

namespace {

// Weight of the first camera across a band centred on mid: `high` on the
// low side of the band, 1 - high on the other.
float BandRamp(float v, float mid, float band, bool highFirst) {
  const float lo = mid - band / 2, hi = mid + band / 2;
  float t;
  if (v <= lo)
    t = 1.0f;
  else if (v >= hi)
    t = 0.0f;
  else
    t = (hi - v) / band;
  return highFirst ? t : 1.0f - t;
}

}  // namespace

int32_t LUT_BuildSectorMaps(LUTOB* lut, int32_t marginMode, int32_t W, int32_t H, const Matrix* groundTable,
                            Matrix* W1m, Matrix* W2m, Matrix* X1m, Matrix* Y1m, Matrix* X2m, Matrix* Y2m,
                            Matrix* W3m, int32_t* carLeftOut, int32_t* carTopOut, int32_t* carRightOut,
                            int32_t* carBottomOut, int32_t* innerLeftOut, int32_t* innerTopOut,
                            int32_t* innerRightOut, int32_t* innerBottomOut) {
  if (lut == nullptr || W < 1 || H < 1 || groundTable == nullptr || groundTable->data == nullptr ||
      X1m->data == nullptr || W1m->data == nullptr)
    return 0;
  const GlobalVariables& g = gv();
  Projectors proj;
  proj.Prepare(lut);
  const CarRect cr = MakeCarRect(lut, marginMode, W, groundTable);
  StoreCarRect(cr, carLeftOut, carTopOut, carRightOut, carBottomOut, innerLeftOut, innerTopOut, innerRightOut,
               innerBottomOut);
  FillMaps(lut, W, H, X1m, Y1m, W1m, W2m, 0.5f, W3m);

  const float band = static_cast<float>(g.extraConfig.frontBlendWidth + g.extraConfig.rearBlendWidth) * 0.5f;
  const float midC = static_cast<float>(cr.left + cr.right) * 0.5f;
  const float midR = static_cast<float>(cr.top + cr.bottom) * 0.5f;
  // A car box given the wrong way round turns its ramps round too.
  const bool colsRev = cr.right <= cr.left, rowsRev = cr.bottom <= cr.top;
  auto T = [&](int32_t c) { return BandRamp(static_cast<float>(c), midC, band, !colsRev); };
  auto B = [&](int32_t c) { return BandRamp(static_cast<float>(c), midC, band, colsRev); };
  auto L = [&](int32_t r) { return BandRamp(static_cast<float>(r), midR, band, !rowsRev); };
  auto R = [&](int32_t r) { return BandRamp(static_cast<float>(r), midR, band, rowsRev); };

  int32_t splitCol, splitRow;
  SplitPoint(lut, W, H, &splitCol, &splitRow);
  const double twoPi = 2.0 * 3.1415927;
  const double dW = W, dH = H;
  const float TL = static_cast<float>(std::atan2(-dH, -dW) + twoPi);
  const float TR = static_cast<float>(std::atan2(-dH, dW) + twoPi);
  const float BR = static_cast<float>(std::atan2(dH, dW));
  const float BL = static_cast<float>(std::atan2(dH, -dW));

  auto rows = [&](int32_t r0, int32_t r1) {
    for (int32_t r = r0; r < r1; ++r) {
      for (int32_t c = 0; c < W; ++c) {
        const size_t k = static_cast<size_t>(r) * W + c;
        float w;
        if (r < cr.top) {
          w = c < cr.left ? 1.0f : (c > cr.right ? 0.0f : T(c));
        } else if (r > cr.bottom) {
          w = c < cr.left ? 0.0f : (c > cr.right ? 1.0f : B(c));
        } else if (c < cr.left) {
          w = L(r);
        } else if (c > cr.right) {
          w = R(r);
        } else if (r < cr.innerTop) {
          w = T(c);
        } else if (r > cr.innerBottom) {
          w = B(c);
        } else if (c < cr.innerLeft) {
          w = L(r);
        } else if (c > cr.innerRight) {
          w = R(r);
        } else {
          w = -1.0f;
        }
        if (w < 0.0f) {
          W1m->data[k] = 1.0f;
          continue;
        }
        float a = static_cast<float>(std::atan2(static_cast<double>(r - splitRow), static_cast<double>(c - splitCol)));
        if (a < 0.0f) a += static_cast<float>(twoPi);
        int first, second;
        if (a <= BL || a >= TR) {
          first = 1;
          second = (a <= BR || a >= TL) ? 3 : 2;
        } else {
          first = 0;
          second = a >= TL ? 3 : 2;
        }
        const float* p = groundTable->data + 3 * k;
        float fx, fy, sx, sy;
        const bool fOk = proj.Project(first, p, &fx, &fy);
        const bool sOk = proj.Project(second, p, &sx, &sy);
        const bool firstLeads = fOk && (!sOk || w >= 0.5f);
        X1m->data[k] = firstLeads ? fx : sx;
        Y1m->data[k] = firstLeads ? fy : sy;
        X2m->data[k] = firstLeads ? sx : fx;
        Y2m->data[k] = firstLeads ? sy : fy;
        W1m->data[k] = (fOk && sOk) ? (w < 0.5f ? 1.0f - w : w) : 1.0f;
      }
    }
  };
  ParallelRows(H, rows);
  (void)W2m;
  return 0;
}
