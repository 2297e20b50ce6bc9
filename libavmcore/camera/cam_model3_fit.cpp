#include <cfloat>
#include <cmath>
#include <cstdio>

#include "camera/cam_model3.h"
#include "camera/lens_centre_tracking.h"
#include "frame/lens_table.h"
#include "camera/pose_fit.h"
#include "frame/global_variables.h"
#include "frame/log.h"

namespace {

float SensorAspect(const LensTableSlot* s, int32_t width, int32_t height) {
  if (s->kind == 1) return 1.0f;
  return (static_cast<float>(width) / static_cast<float>(height)) / (s->sensorA / s->sensorB);
}

float LineFit3(const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, Matrix* T, int32_t mode,
               int32_t slot, int extraErrors) {
  LensTable_Select(slot);
  PoseParams p;
  PoseParams_Load(&p, K, D, R, T);
  const float err = PoseFit_Line(CamModel3_ImageToGroundJac, targets, img, &p, LineFitMask(mode), extraErrors, slot);
  if (PoseParams_AllFinite(p)) PoseParams_Store(p, K, D, R, T);
  return err;
}

}  // namespace

void CamModel3_Setup(FitSetup* out, int32_t width, int32_t height, int32_t slot) {
  LensTable_Select(slot);
  const LensTableSlot* s = LensTable_Current();
  const float w = static_cast<float>(width);
  const float aspect = SensorAspect(s, width, height);
  out->start = w / 1.95f / s->unitSize / aspect - 25.0f;
  out->step = 5.0f * w / 1280.0f;
  out->secondStart = 0.0f;
  out->secondStep = 3.0f * w / 1280.0f;
  out->outerCount = 10;
  out->innerCount = 1;
  out->aspect = aspect;
  const int32_t layout = gv().CalibLayoutCode;
  if (layout != 11 && layout != 16)
    AvmLog("M1~~~~~~~~ %s:%d %d %f %f %f \n", s->name, s->trackCount, s->kind, aspect, out->start,
           out->start + 10.0f * out->step);
}

float CamModel3_LineCalibFB(const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                            int32_t mode, int32_t slot) {
  return LineFit3(targets, img, K, D, R, T, mode, slot, 0);
}

float CamModel3_LineCalibLR(const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                            int32_t mode, int32_t slot) {
  return LineFit3(targets, img, K, D, R, T, mode, slot, 2) * 0.2f;
}

float CamModel3_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* obj, const Matrix* img,
                        Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T, int32_t mode, int32_t,
                        int32_t freeCentre, int32_t slot) {
  LensTable_Select(slot);
  LensTableSlot* cur = LensTable_Current();
  LensTable_TrackCentre(cur, width, height);

  FitMask mask;
  if (mode == 2)
    mask.Fix(1, 3);
  else if (setup->secondStep == 0.0f)
    mask.Fix(0, 5);
  else if (mode == 5) {
    mask.Fix(1, 2);
    mask.Fix(16);
    mask.Fix(18);
  } else if (mode == 6) {
    mask.Fix(1, 2);
    mask.Fix(16, 18);
  } else if (mode == 7) {
    mask.Fix(1, 2);
    mask.Fix(18);
  } else if (mode == 8) {
    mask.Fix(1, 2);
    mask.Fix(16);
  } else if (mode == 9) {
    mask.Fix(0, 5);
    mask.Fix(13, 14);
  } else {
    mask.Fix(1, 2);
  }
  const bool centreFree = freeCentre == 1;
  switch (cur->trackCount) {
    case 1:
      if (!centreFree) mask.Fix(3, 4);
      break;
    case 2:
      mask.Fix(0);
      mask.Fix(3, 5);
      break;
    case 3:
      mask.Fix(0);
      mask.Fix(3);
      mask.Fix(5);
      if (!centreFree) mask.Fix(4);
      break;
    case 4:
      mask.Fix(0);
      mask.Fix(5);
      if (!centreFree) mask.Fix(3, 4);
      break;
    case 5:
      mask.Fix(3, 4);
      break;
    default:
      break;
  }
  if (cur->kind != 0) mask.Fix(0);
  mask.Fix(6, 12);

  // Where the refinement holds the searched scale and reports it, a best
  // scale at an edge of what the search tried is only the scale when one
  // step beyond scores worse. (A freed scale is refined from the search's
  // start; a slot's own scale replaces the searched one.)
  const bool reportsSearchedScale = mask.fixed[5] && !(cur->trackCount != 0 && cur->scaleY != 0.0f);

  PoseParams caller;
  PoseParams_Load(&caller, K, D, R, T);
  PoseParams best = caller;
  float bestRms = 1000.0f;
  const bool restricted = PoseFit_IsRestricted(mode);
  const bool search = mode == 0 || mode == 3 || restricted;
  if (search) {
    float cx = static_cast<float>(width / 2) - 0.5f;
    float cy = static_cast<float>(height / 2) - 0.5f;
    float aspect = setup->aspect;
    float start = setup->start, step = setup->step;
    float second = setup->secondStart, secondStep = setup->secondStep;
    int32_t outer = setup->outerCount, inner = setup->innerCount;
    if (cur->trackCount != 0) {
      cx = cur->centreX;
      cy = cur->centreY;
      aspect = cur->scaleX / cur->scaleY;
      start = cur->scaleY - 3.0f * step;
      outer = 7;
      inner = 1;
    }
    PoseParams base = caller;
    const float k0[9] = {aspect, 0.0f, cx, 0.0f, 1.0f, cy, 0.0f, 0.0f, 1.0f};
    for (int k = 0; k < 9; ++k) base.K[k] = k0[k];
    if (mode == 3) {
      // A fine search around the caller's own values.
      base = caller;
      step = 0.01f;
      start = caller.D[0] - 30.0f * step;
      second = caller.D[1];
      outer = 60;
      inner = 1;
    }
    PoseFitWork work(img->rows);
    int bestOuter = -1;
    // Best RMS over the second-term values at outer index i; with keep, a
    // better candidate becomes the fit's start.
    auto scoreOuter = [&](int i, bool keep) {
      float outerBest = 1000.0f;
      for (int j = 0; j < inner; ++j) {
        PoseParams cand = base;
        cand.D[0] = start + static_cast<float>(i) * step;
        cand.D[1] = second + static_cast<float>(j) * secondStep;
        // The restricted fits start from the caller's pose: only the scale
        // is searched. A plane estimate would replace the held components
        // and, from the collinear marks of some layouts, is no pose at all.
        const float rms =
            restricted
                ? PoseFit_ScoreAtPose(CamModel3_ProjectPoints, obj, img, &cand, slot, &work)
                : PoseFit_ScoreCandidate(CamModel3_ProjectPoints, CamModel3_ProjectPointSet, obj, img, &cand, slot,
                                         &work);
        if (rms < outerBest) outerBest = rms;
        if (keep && rms < bestRms) {
          bestRms = rms;
          best = cand;
          bestOuter = i;
        }
      }
      return outerBest;
    };
    int i = 0;
    for (; i < outer; ++i) {
      scoreOuter(i, true);
      if (i > 20 && bestRms < 10.0f) break;
    }
    const int tried = i < outer ? i + 1 : outer;
    if (reportsSearchedScale && bestRms < 1000.0f &&
        !PoseFit_ScaleEdgeIsMinimum(bestOuter, tried, bestRms, start, step, width, height,
                                    [&](int k) { return scoreOuter(k, false); }))
      return FLT_MAX;
    if (!(bestRms < 1000.0f)) {
      AvmLog("BestFit %d %d %f \n", i, -1, bestRms);
      best = caller;
    }
  }

  PoseParams fit = best;
  // Intrinsics modes that hold the scale report the slot's scale (below), so
  // the pose is refined at that scale, not at the search's nearest step.
  if (cur->trackCount != 0 && mask.fixed[5] && cur->scaleY != 0.0f) fit.D[0] = cur->scaleY;
  float rms = PoseFit_Refine(CamModel3_ProjectPoints, obj, img, &fit, mask, epsilon, slot);

  if (centreFree && rms < 8.0f && cur->trackCount == 1 && cur->centreX != 0.0f) {
    // Refine again while the freed centre wanders from the tracked one; keep
    // the round that stayed closest.
    PoseParams closest = fit;
    float closestRms = rms;
    float closestChange = 9999.0f;
    for (int round = 0; round < 8; ++round) {
      const float change = std::fabs(fit.K[2] - cur->centreX) / cur->centreX;
      if (change <= 0.014f) {
        AvmLog("C3~~~~~~~~ %f %f %f %f \n", rms, fit.K[2], fit.K[5], fit.D[0]);
        closest = fit;
        closestRms = rms;
        break;
      }
      AvmLog("CC~~~~~~~~ %f %f %f %f \n", rms, fit.K[2], fit.K[5], fit.D[0]);
      if (change < closestChange) {
        closestChange = change;
        closest = fit;
        closestRms = rms;
      }
      if (round == 7) break;
      fit.K[2] = cur->centreX;
      rms = PoseFit_Refine(CamModel3_ProjectPoints, obj, img, &fit, mask, epsilon, slot);
    }
    fit = closest;
    rms = closestRms;
  }
  if (cur->trackCount != 0) fit.D[0] = cur->scaleY;
  if (std::isnan(rms) || !PoseParams_AllFinite(fit)) return FLT_MAX;
  PoseParams_Store(fit, K, D, R, T);
  return rms;
}
