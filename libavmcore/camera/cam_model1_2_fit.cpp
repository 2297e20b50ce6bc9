#include <cfloat>
#include <cmath>

#include "camera/cam_model1_2.h"
#include "camera/pose_fit.h"

namespace {

struct SetupRow {
  int32_t width, height;
  FitSetup setup;
};

// The last row of each table (size 0 x 0) serves every other image size.
const SetupRow kModel1Rows[] = {
    {720, 576, {210.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.0f}},
    {720, 480, {170.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.16f}},
    {1280, 720, {360.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {1920, 1080, {500.0f, 7.5f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {0, 0, {340.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
};
// Width 1920 pairs with height 1280 here; a 1920 x 1080 camera takes the last row.
const SetupRow kModel2Rows[] = {
    {720, 576, {190.0f, 5.0f, -3.0f, 3.0f, 14, 4, 1.0f}},
    {720, 480, {150.0f, 5.0f, -3.0f, 3.0f, 14, 4, 1.16f}},
    {1280, 720, {340.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {1920, 1280, {510.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {0, 0, {320.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
};

template <size_t N>
void PickSetup(const SetupRow (&rows)[N], FitSetup* out, int32_t w, int32_t h) {
  for (size_t i = 0; i + 1 < N; ++i)
    if (rows[i].width == w && rows[i].height == h) {
      *out = rows[i].setup;
      return;
    }
  *out = rows[N - 1].setup;
}

float BestFit12(PoseProjectFn project, PoseUndistortFn undistort, const FitSetup* setup, int32_t width,
                int32_t height, const Matrix* obj, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, float epsilon,
                Matrix* T, int32_t mode, int32_t freeCentre, int32_t slot) {
  PoseParams caller;
  PoseParams_Load(&caller, K, D, R, T);
  PoseParams best = caller;
  bool found = false;
  float bestRms = 1000.0f;
  // The restricted modes search the scale grid at the given pose: the
  // solvers that use them hand over a pose but no intrinsics.
  const bool restricted = PoseFit_IsRestricted(mode);
  const bool search = mode == 0 || mode == 3 || restricted;
  if (search) {
    PoseFitWork work(img->rows);
    auto consider = [&](PoseParams cand) {
      const float rms = restricted ? PoseFit_ScoreAtPose(project, obj, img, &cand, slot, &work)
                                   : PoseFit_ScoreCandidate(project, undistort, obj, img, &cand, slot, &work);
      if (rms < bestRms) {
        bestRms = rms;
        best = cand;
        found = true;
      }
    };
    if (mode == 0 || restricted) {
      PoseParams base = caller;
      const float k0[9] = {setup->aspect, 0.0f, static_cast<float>(width / 2) - 0.5f,
                           0.0f, 1.0f, static_cast<float>(height / 2) - 0.5f,
                           0.0f, 0.0f, 1.0f};
      for (int k = 0; k < 9; ++k) base.K[k] = k0[k];
      for (float& d : base.D) d = 0.0f;
      if (setup->outerCount >= 1 && setup->innerCount >= 1)
        for (int i = 0; i < setup->outerCount; ++i)
          for (int j = 0; j < setup->innerCount; ++j) {
            PoseParams cand = base;
            cand.D[0] = setup->start + static_cast<float>(i) * setup->step;
            cand.D[1] = setup->secondStart + static_cast<float>(j) * setup->secondStep;
            consider(cand);
          }
    } else {
      consider(caller);
    }
    // No candidate posed the target: the calibration stays as it was.
    if (!found) return FLT_MAX;
  }

  FitMask mask;
  mask.Fix(5);
  mask.Fix(7, 12);
  const bool centreFree = freeCentre == 1;
  if (mode == 2) {
    mask.Fix(1, 3);
    if (!centreFree) mask.Fix(4);
  } else if (mode == 3 || mode == 4) {
    mask.Fix(0, 4);
    mask.Fix(6);
  } else {
    mask.Fix(1, 2);
    if (!centreFree) mask.Fix(3, 4);
  }
  PoseFit_HoldTranslation(&mask, mode);
  PoseParams fit = best;
  const float rms = PoseFit_Refine(project, obj, img, &fit, mask, epsilon, slot);
  if (std::isnan(rms) || !PoseParams_AllFinite(fit)) return FLT_MAX;
  PoseParams_Store(fit, K, D, R, T);
  return rms;
}

float LineFit12(PoseGroundFn ground, const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R,
                Matrix* T, int32_t mode, int32_t slot) {
  PoseParams p;
  PoseParams_Load(&p, K, D, R, T);
  const float err = PoseFit_Line(ground, targets, img, &p, LineFitMask(mode), 0, slot);
  if (PoseParams_AllFinite(p)) PoseParams_Store(p, K, D, R, T);
  return err;
}

}  // namespace

void CamModel1_Setup(FitSetup* out, int32_t width, int32_t height) { PickSetup(kModel1Rows, out, width, height); }
void CamModel2_Setup(FitSetup* out, int32_t width, int32_t height) { PickSetup(kModel2Rows, out, width, height); }

float CamModel1_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* obj, const Matrix* img,
                        Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T, int32_t mode, int32_t,
                        int32_t freeCentre, int32_t slot) {
  return BestFit12(CamModel1_ProjectPoints, CamModel1_UndistortPoints, setup, width, height, obj, img, K, D, R,
                   epsilon, T, mode, freeCentre, slot);
}

float CamModel2_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* obj, const Matrix* img,
                        Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T, int32_t mode, int32_t,
                        int32_t freeCentre, int32_t slot) {
  return BestFit12(CamModel2_ProjectPoints, CamModel2_UndistortPoints, setup, width, height, obj, img, K, D, R,
                   epsilon, T, mode, freeCentre, slot);
}

float CamModel1_LineCalibFB(const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                            int32_t mode, int32_t slot) {
  return LineFit12(CamModel1_ImageToGround, targets, img, K, D, R, T, mode, slot);
}

float CamModel2_LineCalibFB(const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                            int32_t mode, int32_t slot) {
  return LineFit12(CamModel2_ImageToGround, targets, img, K, D, R, T, mode, slot);
}

float CamModel1_LineCalibLR(const Matrix*, const Matrix*, Matrix*, Matrix*, Matrix*, Matrix*, int32_t, int32_t) {
  return 0.0f;
}

float CamModel2_LineCalibLR(const Matrix*, const Matrix*, Matrix*, Matrix*, Matrix*, Matrix*, int32_t, int32_t) {
  return 0.0f;
}
