#include "camera/cam_model3.h"

#include <cmath>

#include "camera/lens_engine.h"
#include "frame/lens_table.h"

bool LensTable_HeightAt(const LensTableSlot* slot, float theta, float* height) {
  if (slot == nullptr || slot->heightTable == nullptr || slot->heightCount <= 0) return false;
  const float f = theta / 3.1415927f * 180.0f * 400.0f;
  // Index by truncation toward zero; NaN and anything past the end is outside.
  if (!(f > -1.0f) || !(f < static_cast<float>(slot->heightCount))) return false;
  *height = slot->heightTable[static_cast<int32_t>(f)];
  return true;
}

bool LensTable_AngleAt(const LensTableSlot* slot, float radius, float* theta) {
  if (slot == nullptr || slot->angleTable == nullptr || slot->angleCount <= 0) return false;
  const float f = radius * 1000.0f + 0.5f;
  if (!(f > -1.0f) || !(f < static_cast<float>(slot->angleCount))) return false;
  *theta = slot->angleTable[static_cast<int32_t>(f)];
  return true;
}

bool LensTable_AngleAtClamped(const LensTableSlot* slot, float radius, float* theta) {
  if (slot == nullptr || slot->angleTable == nullptr || slot->angleCount <= 0) return false;
  const float f = radius * 1000.0f + 0.5f;
  if (std::isnan(f)) return false;
  int32_t idx = slot->angleCount - 1;
  if (f < static_cast<float>(slot->angleCount)) idx = f > 0.0f ? static_cast<int32_t>(f) : 0;
  *theta = slot->angleTable[idx];
  return true;
}

namespace {

// Model 3 as a policy of the shared lens engine: the scale is D[0] alone and
// the derivative of the table is taken as locally proportional (h / theta).
struct TableModel {
  static constexpr int kPolyTerms = 1;
  static constexpr bool kDerivOutside = false;
  const LensTableSlot* slot;
  bool Rho(float th, float* rho, float* drho) const {
    if (!LensTable_HeightAt(slot, th, rho)) {
      *rho = *drho = 0.0f;
      return false;
    }
    *drho = th > 0.0f ? *rho / th : 0.0f;
    return true;
  }
  // The ground mapping clamps radii past the table (a fit must see numbers).
  bool Theta(float r, float* th, float* dth) const {
    if (!LensTable_AngleAtClamped(slot, r, th)) {
      *th = *dth = NAN;
      return false;
    }
    *dth = r > 0.0f ? *th / r : 0.0f;
    return true;
  }
  void Undistort(float xp, float yp, const float* D, float* xu, float* yu, float* gx, float* gy) const {
    const float s = D[0];
    *xu = xp / s;
    *yu = yp / s;
    gx[0] = 1.0f / s;
    gx[1] = 0.0f;
    gx[2] = -*xu / s;
    gx[3] = 0.0f;
    gy[0] = 0.0f;
    gy[1] = 1.0f / s;
    gy[2] = -*yu / s;
    gy[3] = 0.0f;
  }
};

TableModel Selected(int32_t slot) {
  LensTable_Select(slot);
  return TableModel{LensTable_Current()};
}

}  // namespace

void CamModel3_UndistPointToImage(const Matrix* Km, const Matrix* Dm, float* u, float* v, int32_t slot, float theta,
                                  float dirX, float dirY) {
  const TableModel m = Selected(slot);
  float h;
  if (!LensTable_HeightAt(m.slot, theta, &h)) {
    *u = *v = -2.0f;
    return;
  }
  const float* K = Km->data;
  const float sh = Dm->data[0] * h;
  const float hx = sh * dirX, hy = sh * dirY;
  *u = K[0] * hx + K[1] * hy + K[2];
  *v = K[3] * hx + hy + K[5];
}

int32_t CamModel3_ProjectPoint(int32_t, const ProjectionContext* ctx, float* u, float* v, int32_t slot, float X,
                               float Y, float Z) {
  return lens::ProjectPointCtx(Selected(slot), ctx, u, v, X, Y, Z);
}

void CamModel3_ProjectPointSet(const Matrix* img, Matrix* out, const Matrix* Km, const Matrix* Dm, int32_t pixelFlag,
                               int32_t slot) {
  const TableModel m = Selected(slot);
  float Ki[9];
  if (!lens::InvertK(Km, Ki)) return;
  const float* K = Km->data;
  const float s = Dm->data[0];
  for (int i = 0; i < img->rows; ++i) {
    const float* p = lens::Row(img, i);
    const float x = lens::Guard((Ki[0] * p[0] + Ki[1] * p[1] + Ki[2]) / s);
    const float y = lens::Guard((Ki[3] * p[0] + Ki[4] * p[1] + Ki[5]) / s);
    const float r = std::sqrt(x * x + y * y);
    float theta = NAN;
    LensTable_AngleAtClamped(m.slot, r, &theta);
    float ux, uy;
    lens::SplitDir(std::tan(theta), x, y, &ux, &uy);
    float* o = lens::Row(out, i);
    if (pixelFlag == 0) {
      o[0] = ux;
      o[1] = uy;
    } else {
      o[0] = K[0] * s * ux + K[1] * s * uy + K[2];
      o[1] = K[3] * s * ux + s * uy + K[5];
    }
  }
}

void CamModel3_ImageToRay(const Matrix* img, Matrix* out, const Matrix* Km, const Matrix* Dm, const Matrix* Rm,
                          const Matrix* Tm, int32_t slot, float h) {
  const TableModel m = Selected(slot);
  float Ki[9];
  if (!lens::InvertK(Km, Ki)) return;
  float Rp[9];
  lens::InverseRotation(Rm, Rp, nullptr);
  const float s = Dm->data[0];
  const float* T = Tm->data;
  for (int i = 0; i < img->rows; ++i) {
    const float* p = lens::Row(img, i);
    float* o = lens::Row(out, i);
    const float x = lens::Guard((Ki[0] * p[0] + Ki[1] * p[1] + Ki[2]) / s);
    const float y = lens::Guard((Ki[3] * p[0] + Ki[4] * p[1] + Ki[5]) / s);
    const float r = std::sqrt(x * x + y * y);
    float theta;
    if (!LensTable_AngleAt(m.slot, r, &theta)) {
      // Beyond the angle table: no ray.
      o[0] = o[1] = -2.0f;
      o[2] = -1.0f;
      continue;
    }
    float ray[3] = {0.0f, 0.0f, 1.0f};
    lens::SplitDir(std::tan(theta), x, y, &ray[0], &ray[1]);
    float d[3];
    lens::Mat3Vec(Rp, ray, d);
    const float k = (T[2] - h) / d[2];
    o[0] = k * d[0] - T[0];
    o[1] = k * d[1] - T[1];
    o[2] = theta < lens::kHalfPi ? 0.0f : -1.0f;
  }
}

void CamModel3_ImageToGroundJac(const Matrix* img, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R,
                                const Matrix* T, Matrix* dRot, Matrix* dTrans, Matrix* dIntr, Matrix* dCentre,
                                Matrix* dDist, int32_t slot) {
  lens::ImageToGround(Selected(slot), img, out, K, D, R, T, dRot, dTrans, dIntr, dCentre, dDist);
}

void CamModel3_ProjectPoints(const Matrix* obj, const Matrix* R, const Matrix* T, const Matrix* K, const Matrix* D,
                             Matrix* out, Matrix* dRot, Matrix* dTrans, Matrix* dIntr, Matrix* dCentre, Matrix* dDist,
                             int32_t slot) {
  lens::ProjectPoints(Selected(slot), obj, PoseView{R, T, K, D, 3, slot}, out, {dRot, dTrans, dIntr, dCentre, dDist});
}

int32_t LensTable_BuildRemap(int32_t width, int32_t height, Matrix* outX, Matrix* outY, float cx, float cy, float sx,
                             float sy) {
  if (width < 1 || height < 1) return 0;
  const LensTableSlot* slot = LensTable_Current();
  const float w = static_cast<float>(width);
  for (int j = 0; j < height; ++j)
    for (int i = 0; i < width; ++i) {
      const float x = lens::Guard((static_cast<float>(i) - w * 0.5f) / w * 10.0f);
      const float y = lens::Guard((static_cast<float>(j) - static_cast<float>(height) * 0.5f) / w * 10.0f);
      const float theta = lens::IncidenceAngle(std::sqrt(x * x + y * y), 1.0f);
      float h, hx, hy;
      float* ox = lens::Row(outX, j) + i;
      float* oy = lens::Row(outY, j) + i;
      if (!LensTable_HeightAt(slot, theta, &h)) {
        *ox = *oy = 0.0f;
        continue;
      }
      lens::SplitDir(h, x, y, &hx, &hy);
      *ox = cx + sx * hx;
      *oy = cy + sy * hy;
    }
  return 0;
}
