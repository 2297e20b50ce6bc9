#include <cfloat>
#include <cmath>

#include "camera/cam_model1_2.h"
#include "camera/pose_fit.h"
#include "camera/pose_view.h"

namespace {

// A picture size without a row of its own takes the nearest row, scaled.
const FitSetupRow kModel1Rows[] = {
    {720, 576, {210.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.0f}},
    {720, 480, {170.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.16f}},
    {1280, 720, {360.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {1920, 1080, {500.0f, 7.5f, -3.0f, 3.0f, 18, 4, 1.0f}},
};
// The 1920 row serves both 1920 x 1080 and 1920 x 1280.
const FitSetupRow kModel2Rows[] = {
    {720, 576, {190.0f, 5.0f, -3.0f, 3.0f, 14, 4, 1.0f}},
    {720, 480, {150.0f, 5.0f, -3.0f, 3.0f, 14, 4, 1.16f}},
    {1280, 720, {340.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {1920, 1080, {510.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {1920, 1280, {510.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
};

// A set-up that searches nothing: the fit then reports no pose.
constexpr FitSetup kNoSearch = {0.0f, 0.0f, 0.0f, 0.0f, 0, 0, 1.0f};

template <size_t N>
void PickSetup(const FitSetupRow (&rows)[N], FitSetup* out, int32_t w, int32_t h) {
  if (!FitSetup_FromRows(rows, N, w, h, out)) *out = kNoSearch;
}

// What a full fit of models 1 and 2 is asked, as the model's own fit
// receives it: set-up and picture size, the point pairs, the refinement's
// epsilon, the mode and whether the principal point is free (1).
struct FullFitRequest {
  const FitSetup* setup;
  int32_t width;
  int32_t height;
  const Matrix* obj;
  const Matrix* img;
  float epsilon;
  int32_t mode;
  int32_t freeCentre;
};

float BestFit12(PoseProjectFn project, PoseUndistortFn undistort, const FullFitRequest& req, const PoseEdit& pose) {
  const FitSetup* setup = req.setup;
  const int32_t width = req.width, height = req.height, mode = req.mode, freeCentre = req.freeCentre;
  const Matrix *obj = req.obj, *img = req.img;
  const float epsilon = req.epsilon;
  const int32_t slot = pose.slot;
  Matrix *K = pose.K, *D = pose.D, *R = pose.R, *T = pose.T;
  PoseParams caller;
  PoseParams_Load(&caller, K, D, R, T);
  PoseParams best = caller;
  // The restricted modes search the scale grid at the given pose: the
  // solvers that use them hand over a pose but no intrinsics.
  const bool restricted = PoseFit_IsRestricted(mode);
  const bool search = mode == 0 || mode == 3 || restricted;
  if (search) {
    const PoseFitScorer scorer = {project, undistort, obj, img, slot, restricted};
    if (mode == 0 || restricted) {
      // No candidate posed the target, or the scale is not found: the
      // calibration stays as it was.
      if (!PoseFit_SearchScaleGrid(scorer, *setup, width, height, caller, &best)) return FLT_MAX;
    } else {
      // The caller's own pose as the one candidate; one that does not pose
      // the target (RMS 1000 or more, or NaN) leaves the calibration as it was.
      PoseFitWork work(img->rows);
      PoseParams cand = caller;
      if (!(scorer.Score(&cand, &work) < 1000.0f)) return FLT_MAX;
      best = cand;
    }
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
  return BestFit12(CamModel1_ProjectPoints, CamModel1_UndistortPoints,
                   {setup, width, height, obj, img, epsilon, mode, freeCentre}, PoseEdit{R, T, K, D, 1, slot});
}

float CamModel2_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* obj, const Matrix* img,
                        Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T, int32_t mode, int32_t,
                        int32_t freeCentre, int32_t slot) {
  return BestFit12(CamModel2_ProjectPoints, CamModel2_UndistortPoints,
                   {setup, width, height, obj, img, epsilon, mode, freeCentre}, PoseEdit{R, T, K, D, 2, slot});
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
