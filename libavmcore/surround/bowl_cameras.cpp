#include "surround/bowl_cameras.h"

void BowlCameras_Setup(BowlCameras* cams, const CameraParamHeaders* headers, const uint32_t model[4],
                       const uint32_t slot[4], uint32_t quadW, uint32_t quadH) {
  for (int c = 0; c < 4; ++c) {
    cams->model[c] = static_cast<int32_t>(model[c]);
    cams->slot[c] = static_cast<int32_t>(slot[c]);
    cams->fn[c] = nullptr;
    CameraModel_ProjectPoint(cams->model[c], &headers->R[c], &headers->T[c], &headers->K[c], &headers->D[c],
                             &cams->fn[c], &cams->ctx[c]);
  }
  cams->quadW = static_cast<float>(quadW);
  cams->quadH = static_cast<float>(quadH);
  const float hw = static_cast<float>(quadW / 2), hh = static_cast<float>(quadH / 2);
  const float ox[4] = {0, hw, 0, hw}, oy[4] = {0, 0, hh, hh};
  for (int c = 0; c < 4; ++c) {
    cams->ox[c] = ox[c];
    cams->oy[c] = oy[c];
  }
  cams->umax = (cams->quadW - 1.0f) / 2 - 1.0f;
  cams->vmax = (cams->quadH - 1.0f) / 2 - 1.0f;
}

bool BowlCameras_Project(const BowlCameras* cams, int32_t camera, float x, float y, float z, float* u, float* v) {
  const int c = camera - 1;
  *u = -2.0f;
  *v = -2.0f;
  if (c < 0 || c > 3 || cams->fn[c] == nullptr) return false;
  return cams->fn[c](cams->model[c], &cams->ctx[c], u, v, cams->slot[c], x, y, z) != 0;
}
