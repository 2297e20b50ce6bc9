#include "camera/cam_model1_2.h"

#include "camera/lens_engine.h"
#include "camera/pose_estimate.h"

namespace {

// Shared by the closed-form models: field limit and the line fits' radial
// inverse with the two-term division (D[0], D[1]).
struct PolyModelBase {
  static constexpr int kPolyTerms = 3;
  static constexpr bool kDerivOutside = true;
  void Undistort(float xp, float yp, const float* D, float* xu, float* yu, float* gx, float* gy) const {
    RadialDivision_Undistort(xu, yu, gx, gy, xp, yp, D[0], D[1]);
  }
};

struct Equisolid : PolyModelBase {
  bool Rho(float th, float* rho, float* drho) const {
    *rho = 2.0f * std::sin(th * 0.5f);
    *drho = std::cos(th * 0.5f);
    return th <= lens::kFieldLimit;
  }
  bool Theta(float rho, float* th, float* dth) const {
    *th = 2.0f * std::asin(rho * 0.5f);
    *dth = 1.0f / std::sqrt(1.0f - rho * rho * 0.25f);
    return !std::isnan(*th);
  }
};

struct Equidistant : PolyModelBase {
  bool Rho(float th, float* rho, float* drho) const {
    *rho = th;
    *drho = 1.0f;
    return th <= lens::kFieldLimit;
  }
  bool Theta(float rho, float* th, float* dth) const {
    *th = rho;
    *dth = 1.0f;
    return true;
  }
};

}  // namespace

#define AVM_DEFINE_CAM_MODEL_1_2(N, Policy)                                                                        \
  void CamModel##N##_ProjectPoints(const Matrix* obj, const Matrix* R, const Matrix* T, const Matrix* K,           \
                                   const Matrix* D, Matrix* out, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,      \
                                   Matrix* dCentre, Matrix* dDist, int32_t) {                                      \
    lens::ProjectPoints(Policy(), obj, PoseView{R, T, K, D, N, 0}, out, {dRot, dTrans, dIntr, dCentre, dDist});     \
  }                                                                                                                \
  int32_t CamModel##N##_ProjectPoint(int32_t, const ProjectionContext* ctx, float* u, float* v, int32_t, float X, \
                                     float Y, float Z) {                                                           \
    return lens::ProjectPointCtx(Policy(), ctx, u, v, X, Y, Z);                                                    \
  }                                                                                                                \
  void CamModel##N##_ImageToRay(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R, \
                                const Matrix* T, int32_t, float h) {                                               \
    lens::ImageToRayPoly(Policy(), img, out, K, D, R, T, h);                                                       \
  }                                                                                                                \
  void CamModel##N##_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t,            \
                                        float theta, float dirX, float dirY) {                                     \
    lens::UndistPointToImagePoly(Policy(), K, D, u, v, theta, dirX, dirY);                                         \
  }                                                                                                                \
  void CamModel##N##_UndistortPoints(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D,             \
                                     int32_t pixelFlag, int32_t) {                                                 \
    lens::UndistortPointsPoly(Policy(), img, out, K, D, pixelFlag);                                                \
  }                                                                                                                \
  void CamModel##N##_ImageToGround(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D,               \
                                   const Matrix* R, const Matrix* T, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,  \
                                   Matrix* dCentre, Matrix* dDist, int32_t) {                                      \
    lens::ImageToGround(Policy(), img, out, K, D, R, T, dRot, dTrans, dIntr, dCentre, dDist);                      \
  }

AVM_DEFINE_CAM_MODEL_1_2(1, Equisolid)
AVM_DEFINE_CAM_MODEL_1_2(2, Equidistant)
