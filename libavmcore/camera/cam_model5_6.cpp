#include "camera/cam_model5_6.h"

#include <cmath>

#include "camera/lens_common.h"
#include "frame/geometry_utils.h"

namespace {

inline void Distort(const float* K, const float* D, float mx, float my, float* u, float* v) {
  const float k1 = D[0], k2 = D[1], p1 = D[2], p2 = D[3];
  const float r2 = mx * mx + my * my;
  const float radial = 1.0f + k1 * r2 + k2 * r2 * r2;
  const float xd = mx * radial + 2.0f * p1 * mx * my + p2 * (r2 + 2.0f * mx * mx);
  const float yd = my * radial + 2.0f * p2 * mx * my + p1 * (r2 + 2.0f * my * my);
  *u = K[0] * xd + K[2];
  *v = K[4] * yd + K[5];
}

// Normalised coordinates of a camera-frame point; false beyond the field.
template <int kModel>
inline bool Normalise(const float* K, float x, float y, float z, float* mx, float* my) {
  const float r = std::sqrt(x * x + y * y);
  const float theta = lens::IncidenceAngle(r, z);
  if (!(theta <= lens::kFieldLimit)) return false;
  if (kModel == 5) {
    const float n = std::sqrt(x * x + y * y + z * z);
    const float den = z + K[3] * n;
    *mx = x / den;
    *my = y / den;
  } else {
    // On the optical axis the direction is undefined: the guard sends the
    // point to the principal point.
    lens::SplitDir(theta, lens::Guard(x), lens::Guard(y), mx, my);
  }
  return true;
}

template <int kModel>
inline int32_t ProjectCam(const float* K, const float* D, float x, float y, float z, float* u, float* v) {
  float mx, my;
  if (!Normalise<kModel>(K, x, y, z, &mx, &my)) {
    *u = *v = -2.0f;
    return 0;
  }
  Distort(K, D, mx, my, u, v);
  return 1;
}

template <int kModel>
void ProjectPointsT(const Matrix* obj, const Matrix* Rm, const Matrix* Tm, const Matrix* Km, const Matrix* Dm,
                    Matrix* out) {
  float R[9];
  lens::PoseRotation(Rm, R, nullptr);
  float t[3];
  lens::Mat3Vec(R, Tm->data, t);
  for (int i = 0; i < obj->rows; ++i) {
    float xc[3];
    lens::Mat3Vec(R, lens::Row(obj, i), xc);
    float* o = lens::Row(out, i);
    ProjectCam<kModel>(Km->data, Dm->data, xc[0] + t[0], xc[1] + t[1], xc[2] + t[2], &o[0], &o[1]);
  }
}

template <int kModel>
int32_t ProjectPointT(const ProjectionContext* c, float* u, float* v, float X, float Y, float Z) {
  const float* R = c->R;
  const float x = R[0] * X + R[1] * Y + R[2] * Z + c->t[0];
  const float y = R[3] * X + R[4] * Y + R[5] * Z + c->t[1];
  const float z = R[6] * X + R[7] * Y + R[8] * Z + c->t[2];
  return ProjectCam<kModel>(c->K, c->D, x, y, z, u, v);
}

template <int kModel>
void ImageToRayT(const Matrix* img, Matrix* out, const Matrix* Km, const Matrix* Dm, const Matrix* Rm,
                 const Matrix* Tm, float h) {
  const float* K = Km->data;
  const float* D = Dm->data;
  const float* T = Tm->data;
  const float xi = K[3];
  float Rp[9];
  lens::InverseRotation(Rm, Rp, nullptr);
  for (int i = 0; i < img->rows; ++i) {
    const float* p = lens::Row(img, i);
    float* o = lens::Row(out, i);
    const float x0 = (p[0] - K[2]) / K[0];
    const float y0 = (p[1] - K[5]) / K[4];
    float x = x0, y = y0;
    for (int it = 0; it < 50; ++it) {
      const float r2 = x * x + y * y;
      const float f = 1.0f + D[0] * r2 + D[1] * r2 * r2;
      const float nx = x0 / f, ny = y0 / f;
      const bool same = nx == x && ny == y;
      x = nx;
      y = ny;
      if (same) break;
    }
    float ray[3];
    if (kModel == 5) {
      const float q = x * x + y * y;
      float L = 0.0f, L2 = 0.0f;
      if (SolveQuadratic(&L, &L2, q + 1.0f, 2.0f * xi * q, xi * xi * q - 1.0f) < 2) {
        o[2] = -1.0f;
        continue;
      }
      ray[0] = (xi + L) * x;
      ray[1] = (xi + L) * y;
      ray[2] = L;
    } else {
      x = lens::Guard(x);
      y = lens::Guard(y);
      const float r = std::sqrt(x * x + y * y);
      const float t = std::tan(r);
      ray[0] = t * x / r;
      ray[1] = t * y / r;
      ray[2] = 1.0f;
    }
    float d[3];
    lens::Mat3Vec(Rp, ray, d);
    const float k = (T[2] - h) / d[2];
    o[0] = k * d[0] - T[0];
    o[1] = k * d[1] - T[1];
    o[2] = d[2] < 0.0f ? 0.0f : -1.0f;
  }
}

template <int kModel>
void UndistPointToImageT(const Matrix* Km, const Matrix* Dm, float* u, float* v, float theta, float dirX,
                         float dirY) {
  const float* K = Km->data;
  float mx, my;
  if (kModel == 5) {
    const float t = std::tan(theta);
    const float m = t / (1.0f + K[3] * std::sqrt(1.0f + t * t));
    lens::SplitDir(m, dirX, dirY, &mx, &my);
  } else {
    mx = theta * dirX;
    my = theta * dirY;
  }
  Distort(K, Dm->data, mx, my, u, v);
}

}  // namespace

#define AVM_DEFINE_CAM_MODEL_5_6(N)                                                                                \
  void CamModel##N##_ProjectPoints(const Matrix* obj, const Matrix* R, const Matrix* T, const Matrix* K,           \
                                   const Matrix* D, Matrix* out, Matrix*, Matrix*, Matrix*, Matrix*, Matrix*,      \
                                   int32_t) {                                                                      \
    ProjectPointsT<N>(obj, R, T, K, D, out);                                                                       \
  }                                                                                                                \
  int32_t CamModel##N##_ProjectPoint(int32_t, const ProjectionContext* ctx, float* u, float* v, int32_t, float X, \
                                     float Y, float Z) {                                                           \
    return ProjectPointT<N>(ctx, u, v, X, Y, Z);                                                                   \
  }                                                                                                                \
  void CamModel##N##_ImageToRay(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R, \
                                const Matrix* T, int32_t, float h) {                                               \
    ImageToRayT<N>(img, out, K, D, R, T, h);                                                                       \
  }                                                                                                                \
  void CamModel##N##_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t,            \
                                        float theta, float dirX, float dirY) {                                     \
    UndistPointToImageT<N>(K, D, u, v, theta, dirX, dirY);                                                         \
  }

AVM_DEFINE_CAM_MODEL_5_6(5)
AVM_DEFINE_CAM_MODEL_5_6(6)
