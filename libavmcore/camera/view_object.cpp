#include "camera/view_object.h"
#include "frame/log.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "camera/calibration_services.h"
#include "camera/rotation.h"
#include "camera/view_point_mapping.h"
#include "camera/view_source_maps.h"
#include "camera/view_virtual.h"
#include "frame/numeric_constants.h"
#include "toolkit/matrix_inverse.h"
#include "toolkit/matrix_alloc.h"
#include "toolkit/transform3d.h"

namespace {

void CopyCamera(const UndistOB* view, int32_t slot, ViewCameraRecord* rec) {
  memcpy(rec->K, view->params.K[slot], sizeof rec->K);
  memcpy(rec->D, view->params.D[slot], sizeof rec->D);
  memcpy(rec->R, view->params.R[slot], sizeof rec->R);
  memcpy(rec->T, view->params.T[slot], sizeof rec->T);
}

}  // namespace

int32_t View_CameraSlot(int32_t camera) {
  return (camera >= 2 && camera <= 4) ? camera - 1 : 0;
}

CutViewBlock* CutBlockOf(UndistOB* view, int32_t camera) {
  return &view->cut[camera == 3 ? 2 : 3];
}

UndistOB* UndistOB_Create() {
  UndistOB* view = new UndistOB();
  for (int k = 0; k < 4; ++k) {
    view->undist[k].camera = static_cast<uint32_t>(k + 1);
    view->cut[k].camera = static_cast<uint32_t>(k + 1);
    view->zoom[k].camera = static_cast<uint32_t>(k + 1);
  }
  return view;
}

void UndistOB_Destroy(UndistOB* view) {
  if (view == nullptr) return;
  Undist4Camera_Release(view);
  delete view;
}

int Undist4Camera_Init(UndistOB* view, const char* path) {
  if (view == nullptr || path == nullptr) return 0;
  LutConfigInfo info;
  if (ExecLockCalibration(&info, &view->params, path) == 0) return 0;
  Undist4Camera_LoadParam(&view->viewParam, path);
  view->frameWidth = static_cast<int32_t>(info.quadWidth);
  view->frameHeight = static_cast<int32_t>(info.quadHeight);
  view->carBoxWidth = static_cast<int32_t>(info.carWidth);
  view->carBoxLength = static_cast<int32_t>(info.carLength);
  view->limits[0] = static_cast<int32_t>(info.frontOverhang);
  view->limits[1] = static_cast<int32_t>(info.wheelBase);
  for (int k = 0; k < 4; ++k) {
    view->model[k] = info.model;
    view->lensSlot[k] = static_cast<int32_t>(info.lensSlot[k]);
  }
  for (int k = 0; k < 4; ++k) {
    UndistViewBlock& u = view->undist[k];
    u.width = 600;
    u.height = 400;
    u.flip = 0;
    u.xShift = 0.0f;
    u.yShift = 0.0f;
    u.cam.lensSlot = view->lensSlot[k];
    CutViewBlock& c = view->cut[k];
    c.width = 600;
    c.height = 400;
    c.cam.lensSlot = view->lensSlot[k];
    view->zoom[k].lensSlot = view->lensSlot[k];
  }
  Undist4Camera_CreateModel(&view->traceModel, view);
  AvmLog("Undist4Camera_Init over %d %d \n", view->frameWidth, view->frameHeight);
  return 1;
}

void Undist4Camera_Release(UndistOB* view) {
  if (view == nullptr) return;
  Undist4Camera_ReleaseParam();
  Undist4Camera_ReleaseModel(&view->traceModel);
  for (UndistViewBlock& u : view->undist) {
    Matrix_FreeData(&u.mapX);
    Matrix_FreeData(&u.mapY);
    Matrix_FreeData(&u.rowMap);
  }
}

void UndistView_SetParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                         int32_t viewType, int32_t flip, float fovDeg, float angleDivisor,
                         float xShift, float yShift, float heightWidthRatio, float rollDeg,
                         float sideWarp, float upperWarp, float lowerWarp, float sideWarpLinear,
                         float cyLift) {
  UndistView_Configure(view, UndistViewParam{camera, width, height, viewType, flip, fovDeg,
                                             angleDivisor, xShift, yShift, heightWidthRatio,
                                             rollDeg, sideWarp, upperWarp, lowerWarp,
                                             sideWarpLinear, cyLift});
}

void UndistView_Configure(UndistOB* view, const UndistViewParam& p) {
  const int32_t camera = p.camera, width = p.width, height = p.height, viewType = p.viewType;
  const float fovDeg = p.fovDeg, angleDivisor = p.angleDivisor, xShift = p.xShift;
  const float rollDeg = p.rollDeg, sideWarp = p.sideWarp, upperWarp = p.upperWarp;
  const float lowerWarp = p.lowerWarp, sideWarpLinear = p.sideWarpLinear, cyLift = p.cyLift;
  // Type 2 moves these two before they are kept.
  float yShift = p.yShift, heightWidthRatio = p.heightWidthRatio;
  AvmLog("SetUndistParam %d W%d H%d F%d %d Rg%f Rd%f XP%f YP%f HWR%f AO%f %f %f %f \n", camera,
         width, height, viewType, p.flip, fovDeg, angleDivisor, xShift, yShift, heightWidthRatio,
         rollDeg, sideWarp, upperWarp, lowerWarp);
  const int32_t slot = View_CameraSlot(camera);
  UndistViewBlock& b = view->undist[slot];
  b.cam.model = view->model[slot];
  uint32_t flipValue = p.flip != 0 ? 1u : 0u;
  if (viewType == 2) {
    yShift += 20.0f;
    heightWidthRatio *= 0.7f;
    if (camera == 2) flipValue ^= 1u;
  }
  const float rollRad = rollDeg * kDegToRad;
  const float invDivisor = 1.0f / angleDivisor;
  const bool unchanged = width == b.width && height == b.height && flipValue == b.flip &&
                         yShift == b.yShift && xShift == b.xShift && rollRad == b.rollRad &&
                         invDivisor == b.invAngleDivisor && viewType == b.viewType &&
                         fovDeg == b.fovDeg && heightWidthRatio == b.heightWidthRatio;
  bool resized = false;
  if (!unchanged) {
    resized = width != b.width || height != b.height || viewType != b.viewType;
    b.width = width;
    b.height = height;
    b.flip = flipValue;
    b.yShift = yShift;
    b.xShift = xShift;
    b.rollRad = rollRad;
    b.invAngleDivisor = invDivisor;
    b.viewType = viewType;
    b.fovDeg = fovDeg;
    b.heightWidthRatio = heightWidthRatio;
  }
  b.yOffset = 0.0f;
  b.sideWarp = sideWarp;
  b.sideWarpLinear = sideWarpLinear;
  b.upperWarp = upperWarp;
  b.lowerWarp = viewType == 1 ? lowerWarp : 0.0f;
  b.cyLift = viewType == 1 ? cyLift : 0.0f;
  CopyCamera(view, slot, &b.cam);

  Matrix R{3, 1, b.cam.R}, T{3, 1, b.cam.T}, K{3, 3, b.cam.K}, D{8, 1, b.cam.D};
  if (viewType == 1 || viewType == 3 || viewType == 4) {
    RodriguesArr(b.cam.R, b.rotation, nullptr);
    for (int i = 0; i < 3; ++i) {
      b.translation[i] = b.rotation[3 * i] * b.cam.T[0];
      b.translation[i] = std::fma(b.rotation[3 * i + 1], b.cam.T[1], b.translation[i]);
      b.translation[i] = std::fma(b.rotation[3 * i + 2], b.cam.T[2], b.translation[i]);
    }
    b.focal = (static_cast<float>(b.width) * 0.5f) / std::tan(fovDeg * kDegToRad / angleDivisor);
    b.cx = b.cam.K[2] / static_cast<float>(view->frameWidth / 2) * static_cast<float>(b.width) +
           0.0001f;
    b.cy = (b.cam.K[5] + b.cyLift) / static_cast<float>(view->frameHeight / 2) *
           static_cast<float>(b.height);
    b.cosRoll = std::cos(b.rollRad);
    b.sinNegRoll = std::sin(-b.rollRad);
    if (b.cyLift == 0.0f) return;
    const float d = slot == 1 ? static_cast<float>(view->carBoxLength) + 800.0f
                              : -static_cast<float>(view->carBoxLength) - 800.0f;
    float ground[3] = {0.0f, d, 0.0f};
    float pix[2] = {-2.0f, -2.0f};
    Matrix gp{3, 1, ground}, ip{2, 1, pix};
    b.cam.K[5] += b.cyLift;
    CameraModel_ProjectPoints(static_cast<int32_t>(b.cam.model), &gp, &R, &T, &K, &D, &ip, nullptr,
                              nullptr, nullptr, nullptr, nullptr, b.cam.lensSlot);
    b.cam.K[5] -= b.cyLift;
    float back[3] = {-1.0f, -1.0f, -1.0f};
    Matrix bp{3, 1, back};
    CameraModel_ImageToRay(static_cast<int32_t>(b.cam.model), &ip, &bp, &K, &D, &R, &T,
                           b.cam.lensSlot, 0.0f);
    // A ray that misses the ground leaves the offset at 0.
    if (back[2] < 0.0f) return;
    float x0, y0, x1, y1;
    UndistView_Physical2Disp(&b, 0.0f, d, 0.0f, 1, &x0, &y0);
    UndistView_Physical2Disp(&b, back[0], back[1], 0.0f, 1, &x1, &y1);
    b.yOffset = y1 - y0;
    return;
  }
  if (viewType != 2) return;
  b.sign = slot == 0 ? 1.0f : -1.0f;
  b.halfWidth = static_cast<float>(b.width) * 0.5f;
  b.halfHeight = static_cast<float>(b.height) * 0.5f;
  b.negT0 = -b.cam.T[0];
  b.negT1 = -b.cam.T[1];
  b.focal2 = static_cast<float>(b.height) * 0.75f / std::tan(fovDeg * kDegToRad / 1.2f);
  memcpy(b.tCopy, b.cam.T, sizeof b.tCopy);
  if (unchanged && b.mapX.data != nullptr) return;
  if (resized || b.mapX.data == nullptr) {
    Matrix_FreeData(&b.mapX);
    Matrix_FreeData(&b.mapY);
    Matrix_FreeData(&b.rowMap);
    if (!Matrix_NewData(&b.mapX, b.width, b.height) || !Matrix_NewData(&b.mapY, b.width, b.height) ||
        !Matrix_NewData(&b.rowMap, view->frameWidth / 4, view->frameHeight / 4)) {
      AvmLog("UndistView_SetParam: out of memory for the panorama maps\n");
      Matrix_FreeData(&b.mapX);
      Matrix_FreeData(&b.mapY);
      Matrix_FreeData(&b.rowMap);
      return;
    }
  }
  CameraModel_ProjectPoint(static_cast<int32_t>(b.cam.model), &R, &T, &K, &D, &b.pointFunction,
                           &b.pointContext);
  UndistView_BuildCurvedMaps(view, &b);
}

void CutView_SetRotation(CutViewBlock* c) {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  Mat4_Rotate(m, c->rz, 0.0f, 0.0f, 1.0f);
  Mat4_Rotate(m, c->ry, 0.0f, 1.0f, 0.0f);
  Mat4_Rotate(m, c->rx, 1.0f, 0.0f, 0.0f);
  for (int r = 0; r < 3; ++r)
    for (int k = 0; k < 3; ++k) c->rotationM[3 * r + k] = m[4 * r + k];
  memcpy(c->rotationInv, c->rotationM, sizeof c->rotationInv);
  Matrix inv{3, 3, c->rotationInv};
  Matrix_Invert(&inv);
}

void CutView_SetGeometry(CutViewBlock* c) {
  const float h = static_cast<float>(c->height), w = static_cast<float>(c->width);
  float ax = c->rx, ay = c->ry, az = c->rz, h0, depth;
  switch (c->cutType) {
    case 1:
      c->tableProjection = 1;
      c->scale = 0.4f * h / c->focalRef;
      c->rowCentre = 0.8f * h;
      c->sign = 1.0f;
      h0 = 200.0f;
      depth = 600.0f;
      c->farLimit = 200000.0f;
      break;
    case 2:
      c->tableProjection = 1;
      c->scale = 0.35f * h / c->focalRef;
      c->rowCentre = 0.95f * h;
      c->sign = -1.0f;
      ax = -ax;
      az = -az;
      h0 = 20.0f;
      depth = 600.0f;
      c->farLimit = 400000.0f;
      break;
    default:
      c->tableProjection = 0;
      c->scale = 0.63f * h / c->focalRef;
      c->rowCentre = 0.45f * h;
      c->sign = 1.0f;
      h0 = 20.0f;
      depth = 2400.0f;
      c->farLimit = 400000.0f;
      break;
  }
  if (c->camera == 3) {
    ay = -ay;
    c->colCentre = 0.72f * w;
    c->x0 = -c->cam.T[0] - c->zOffset;
  } else {
    az = -az;
    c->colCentre = 0.28f * w;
    c->x0 = c->zOffset - c->cam.T[0];
  }
  c->y0 = h0 - c->cam.T[1];
  const float rx = c->rx, ry = c->ry, rz = c->rz;
  c->rx = ax;
  c->ry = ay;
  c->rz = az;
  CutView_SetRotation(c);
  c->rx = rx;
  c->ry = ry;
  c->rz = rz;
  c->origin[0] = -c->x0;
  c->origin[1] = -c->y0;
  c->origin[2] = depth;
  for (int i = 0; i < 3; ++i) {
    float v = c->rotationM[3 * i] * c->origin[0];
    v = std::fma(c->rotationM[3 * i + 1], c->origin[1], v);
    c->originRotated[i] = std::fma(c->rotationM[3 * i + 2], c->origin[2], v);
  }
}

namespace {

uint32_t ViewCodeOf(int32_t camera, int32_t cutType) {
  static const uint32_t cam3[8] = {1, 2, 3, 4, 5, 11, 13, 15};
  static const uint32_t cam4[8] = {6, 7, 8, 9, 10, 12, 14, 16};
  if (cutType < 11 || cutType > 18) return 0;
  return camera == 3 ? cam3[cutType - 11] : cam4[cutType - 11];
}

}  // namespace

void CutView_SetParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                      int32_t cutType, float focalRef, float xShift, float yShift, float aspect,
                      float rxDeg, float ryDeg, float rzDeg, float zOffset, float extra1,
                      float extra2) {
  CutView_Configure(view, CutViewParam{camera, width, height, cutType, focalRef, xShift, yShift,
                                       aspect, rxDeg, ryDeg, rzDeg, zOffset, extra1, extra2});
}

void CutView_Configure(UndistOB* view, const CutViewParam& p) {
  const int32_t camera = p.camera, width = p.width, height = p.height, cutType = p.cutType;
  const float focalRef = p.focalRef, xShift = p.xShift, yShift = p.yShift, aspect = p.aspect;
  const float zOffset = p.zOffset;
  const int32_t index = camera == 3 ? 2 : 3;
  CutViewBlock& c = view->cut[index];
  c.width = width;
  c.height = height;
  c.cutType = cutType;
  c.focalRef = focalRef;
  c.xShift = xShift;
  c.yShift = yShift;
  c.aspect = aspect;
  c.rx = p.rxDeg / 180.0f * kPi;
  c.ry = p.ryDeg / 180.0f * kPi;
  c.rz = p.rzDeg / 180.0f * kPi;
  c.zOffset = zOffset;
  c.extra1 = p.extra1;
  c.extra2 = p.extra2;
  c.cam.model = view->model[index];
  CopyCamera(view, index, &c.cam);
  if (cutType >= 1 && cutType <= 3) {
    CutView_SetGeometry(&c);
  } else if (cutType == 4 || cutType == 6) {
    c.depthPlane = cutType == 4 ? zOffset + 200.0f : zOffset - 1000.0f;
  } else if (cutType == 5 || cutType == 7) {
    CutView_SetRotation(&c);
  } else if (cutType >= 11) {
    const float f[8] = {focalRef, aspect, c.rx, c.ry, c.rz, xShift, yShift, zOffset};
    VirtualView_SetParam(&view->viewParam, &c.virt, ViewCodeOf(static_cast<int32_t>(c.camera), cutType),
                         width, height, f);
  }
}

void UndistView_SetZoominParam(UndistOB* view, int32_t camera, int32_t width, int32_t height,
                               int32_t flip, float angle, float left, float top, float right,
                               float bottom) {
  const int32_t slot = View_CameraSlot(camera);
  ZoomViewBlock& z = view->zoom[slot];
  z.width = width;
  z.height = height;
  z.flip = flip != 0 ? 1u : 0u;
  z.angle = angle;
  z.left = left;
  z.top = top;
  z.right = right;
  z.bottom = bottom;
  z.srcWidth = view->frameWidth / 2;
  z.srcHeight = view->frameHeight / 2;
  z.invSpanX = 1.0f / (1.0f - left - right);
  z.invSpanY = 1.0f / (1.0f - top - bottom);
  z.leftN = left * z.invSpanX;
  z.topN = top * z.invSpanY;
  z.invSrcW = 1.0f / static_cast<float>(z.srcWidth - 1);
  z.invSrcH = 1.0f / static_cast<float>(z.srcHeight - 1);
  z.srcCx = static_cast<float>(z.srcWidth - 1) * 0.5f;
  z.srcCy = static_cast<float>(z.srcHeight - 1) * 0.5f;
  z.cosA = std::cos(angle);
  z.sinA = std::sin(angle);
  Matrix R{3, 1, view->params.R[slot]}, T{3, 1, view->params.T[slot]};
  Matrix K{3, 3, view->params.K[slot]}, D{8, 1, view->params.D[slot]};
  CameraModel_ProjectPoint(static_cast<int32_t>(view->model[slot]), &R, &T, &K, &D,
                           &z.pointFunction, &z.pointContext);
  z.model = view->model[slot];
}

namespace {

int32_t GridFloats(int32_t w, int32_t h) { return 2 * ((w + 7) / 8) * ((h + 7) / 8); }

}  // namespace

int32_t UndistView_GridFloatCount(const UndistOB* view, int32_t camera) {
  const UndistViewBlock& b = view->undist[View_CameraSlot(camera)];
  return GridFloats(b.width, b.height);
}

int32_t CutView_GridFloatCount(const UndistOB* view, int32_t camera) {
  const CutViewBlock& c = view->cut[View_CameraSlot(camera)];
  return GridFloats(c.width, c.height);
}
