#include "camera/cam_model4.h"

#include <cfloat>
#include <cmath>

#include "camera/lens_engine.h"
#include "camera/pose_estimate.h"
#include "camera/pose_fit.h"

namespace {

constexpr float kSineFactor = 0.6f;
constexpr float kSineInverse = 1.6666666f;

struct SineFisheye {
  static constexpr int kPolyTerms = 3;
  static constexpr bool kDerivOutside = true;
  bool Rho(float th, float* rho, float* drho) const {
    const float a = kSineFactor * th;
    *rho = std::sin(a) * kSineInverse;
    *drho = kSineFactor * std::cos(a) * kSineInverse;
    return th <= lens::kFieldLimit;
  }
  bool Theta(float rho, float* th, float* dth) const {
    const float a = kSineFactor * rho;
    *th = std::asin(a) * kSineInverse;
    *dth = kSineFactor * kSineInverse / std::sqrt(1.0f - a * a);
    return !std::isnan(*th);
  }
  void Undistort(float xp, float yp, const float* D, float* xu, float* yu, float* gx, float* gy) const {
    RadialDivision_Undistort(xu, yu, gx, gy, xp, yp, D[0], D[1]);
  }
};

// A picture size without a row of its own takes the nearest row, scaled.
const FitSetupRow kRows[] = {
    {720, 576, {210.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.0f}},
    {720, 480, {170.0f, 5.0f, 0.0f, 3.0f, 14, 1, 1.16f}},
    {1280, 720, {360.0f, 5.0f, -3.0f, 3.0f, 18, 4, 1.0f}},
    {1920, 1080, {500.0f, 7.5f, -3.0f, 3.0f, 18, 4, 1.0f}},
};
// A set-up that searches nothing: the fit then reports no pose.
constexpr FitSetup kNoSearch = {0.0f, 0.0f, 0.0f, 0.0f, 0, 0, 1.0f};

}  // namespace

void CamModel4_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t, float theta,
                                  float dirX, float dirY) {
  lens::UndistPointToImagePoly(SineFisheye(), K, D, u, v, theta, dirX, dirY);
}

int32_t CamModel4_ProjectPoint(int32_t, const ProjectionContext* ctx, float* u, float* v, int32_t, float X, float Y,
                               float Z) {
  return lens::ProjectPointCtx(SineFisheye(), ctx, u, v, X, Y, Z);
}

void CamModel4_ProjectPointSet(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D, int32_t pixelFlag,
                               int32_t) {
  lens::UndistortPointsPoly(SineFisheye(), img, out, K, D, pixelFlag);
}

void CamModel4_ImageToRay(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R,
                          const Matrix* T, int32_t, float h) {
  lens::ImageToRayPoly(SineFisheye(), img, out, K, D, R, T, h);
}

void CamModel4_ProjectPoints(const Matrix* obj, const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D,
                             Matrix* out, Matrix* dRot, Matrix* dTrans, Matrix* dIntr, Matrix* dCentre, Matrix* dDist,
                             int32_t) {
  lens::ProjectPoints(SineFisheye(), obj, PoseView{R, T, K, D, 4, 0}, out, {dRot, dTrans, dIntr, dCentre, dDist});
}

void CamModel4_ImageToGround(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R,
                             const Matrix* T, Matrix* dRot, Matrix* dTrans, Matrix* dIntr, Matrix* dCentre,
                             Matrix* dDist, int32_t) {
  lens::ImageToGround(SineFisheye(), img, out, K, D, R, T, dRot, dTrans, dIntr, dCentre, dDist);
}

void CamModel4_Setup(FitSetup* out, int32_t width, int32_t height) {
  if (!FitSetup_FromRows(kRows, sizeof kRows / sizeof kRows[0], width, height, out)) *out = kNoSearch;
}

float CamModel4_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* obj, const Matrix* img,
                        Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T, int32_t mode, int32_t,
                        int32_t freeCentre, int32_t slot) {
  PoseParams caller;
  PoseParams_Load(&caller, K, D, R, T);
  // The restricted modes search the scale at the given pose.
  const PoseFitScorer scorer = {CamModel4_ProjectPoints, CamModel4_ProjectPointSet, obj, img, slot,
                                PoseFit_IsRestricted(mode)};
  PoseParams best = caller;
  if (!PoseFit_SearchScaleGrid(scorer, *setup, width, height, caller, &best)) return FLT_MAX;

  FitMask mask;
  if (mode == 2) {
    mask.Fix(1, 3);
    mask.Fix(5);
  } else if (mode == 3 || mode == 4) {
    mask.Fix(0, 6);
  } else {
    mask.Fix(1, 2);
    mask.Fix(5);
  }
  if (freeCentre != 1) mask.Fix(3, 4);
  mask.Fix(7, 12);
  PoseFit_HoldTranslation(&mask, mode);
  PoseParams fit = best;
  const float rms = PoseFit_Refine(CamModel4_ProjectPoints, obj, img, &fit, mask, epsilon, slot);
  if (std::isnan(rms) || !PoseParams_AllFinite(fit)) return FLT_MAX;
  PoseParams_Store(fit, K, D, R, T);
  return rms;
}

float CamModel4_LineCalibFB(const Matrix* targets, const Matrix* img, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                            int32_t mode, int32_t slot) {
  PoseParams p;
  PoseParams_Load(&p, K, D, R, T);
  const float err = PoseFit_Line(CamModel4_ImageToGround, targets, img, &p, LineFitMask(mode), 0, slot);
  if (PoseParams_AllFinite(p)) PoseParams_Store(p, K, D, R, T);
  return err;
}

float CamModel4_LineCalibLR(const Matrix*, const Matrix*, Matrix*, Matrix*, Matrix*, Matrix*, int32_t, int32_t) {
  return 0.0f;
}
