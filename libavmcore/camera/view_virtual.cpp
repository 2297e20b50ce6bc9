#include "camera/view_virtual.h"

#include <cmath>
#include <cstring>

#include "camera/lut_config.h"
#include "frame/mat3.h"
#include "frame/numeric_constants.h"
#include "toolkit/transform3d.h"

namespace {

void Upper3(const float* m4, float* m3) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m3[3 * r + c] = m4[4 * r + c];
}

struct CodeRow {
  float k, g;
  float n[3];
  float d;
  float eyeScale, eyeOffset, eyeY, eyeZ;
  int32_t camera;
  float oxf, oyf;  // multiples of fx, fy
  float pitch0, yaw0;
  float pitchSlope, yawSlope;  // multiples of 1/fx, 1/fy
  float A, B;
};

const CodeRow kCodes[16] = {
    {2.38f, 1.3f, {0.5f, 0.8f, -1.0f}, 1e6f, 1e6f, 0.0f, -100000.0f, 0.0f, 3, 0.7f, 0.8f, 0, 0, -1, 0, 3, 3},
    {1.28f, 1.2f, {0.5f, -0.35f, -0.5f}, 500000.0f, 500000.0f, 200000.0f, 200000.0f, 200000.0f, 3, 0.4f, 1.2f, 0, 0.88f, -1, 1, 8, 7},
    {2.08f, 1.0f, {-0.0f, 0.0f, -1.0f}, 0.0f, 500.0f, 1000.0f, 0.0f, 2500.0f, 3, 0.5f, 1.0f, 0, 0, 0, 0, 0, 0},
    {1.82f, 1.0f, {0.5f, 0.8f, -0.9f}, 500000.0f, 500000.0f, -350000.0f, -20000.0f, 0.0f, 3, 0.0f, 1.0f, 0, 0.88f, -1, 1, 6, 2},
    {0.88f, 1.0f, {1.0f, -0.7f, -1.0f}, 1e6f, 1e6f, 0.0f, 200000.0f, 80000.0f, 3, 0.3f, 0.8f, 0, 0.88f, -1, 1, 8, 15},
    {2.38f, 1.3f, {-0.5f, 0.8f, -1.0f}, 1e6f, 1e6f, 0.0f, -100000.0f, 0.0f, 4, -0.7f, 0.8f, 0, 0, 1, 0, 3, 3},
    {1.28f, 1.2f, {-0.5f, -0.35f, -0.5f}, 500000.0f, 500000.0f, -200000.0f, 200000.0f, 200000.0f, 4, -0.4f, 1.2f, 0, 0.88f, 1, 1, 8, 7},
    {2.08f, 1.0f, {-0.0f, 0.0f, -1.0f}, 0.0f, 500.0f, -1000.0f, 0.0f, 2500.0f, 4, -0.5f, 1.0f, 0, 0, 0, 0, 0, 0},
    {1.82f, 1.1f, {-0.5f, 0.8f, -0.9f}, 500000.0f, 500000.0f, 350000.0f, -20000.0f, 0.0f, 4, 0.0f, 1.0f, 0, 0.88f, 1, 1, 6, 2},
    {0.88f, 1.0f, {-1.0f, -0.7f, -1.0f}, 1e6f, 1e6f, 0.0f, 200000.0f, 80000.0f, 4, -0.3f, 0.8f, 0, 0.88f, 1, 1, 8, 15},
    {1.28f, 1.2f, {0.5f, -0.35f, -0.5f}, 500000.0f, 500000.0f, 50000.0f, 200000.0f, 300000.0f, 3, 0.4f, 1.2f, 0, 0.88f, -1, 1, 8, 7},
    {1.28f, 1.2f, {-0.5f, -0.35f, -0.5f}, 500000.0f, 500000.0f, -50000.0f, 200000.0f, 300000.0f, 4, -0.4f, 1.2f, 0, 0.88f, 1, 1, 8, 7},
    {2.08f, 1.0f, {-0.0f, 0.0f, -1.0f}, 0.0f, 500.0f, 1000.0f, 1000.0f, 2500.0f, 3, 0.5f, 1.0f, 0, 0, 0, 0, 0, 0},
    {2.08f, 1.0f, {-0.0f, 0.0f, -1.0f}, 0.0f, 500.0f, -1000.0f, 1000.0f, 2500.0f, 4, -0.5f, 1.0f, 0, 0, 0, 0, 0, 0},
    {2.38f, 1.95f, {0.5f, 0.8f, -1.0f}, 1e6f, 1e6f, 0.0f, -100000.0f, 0.0f, 3, 0.6f, 0.8f, 0, 0, -1, 0, 1, 9},
    {2.38f, 1.95f, {-0.5f, 0.8f, -1.0f}, 1e6f, 1e6f, 0.0f, -100000.0f, 0.0f, 4, -0.6f, 0.8f, 0, 0, 1, 0, 1, 9},
};

// Full view rotation of internal pixel (u, v): base rotation times the
// code's per-pixel turn.
void PixelRotation(const VirtualViewState* s, float u, float v, float* out) {
  const float pitch = std::fmax(0.0f, s->pitch0 + s->pitchSlope * (u - s->originXf));
  const float yaw = std::fmax(0.0f, s->yaw0 + s->yawSlope * (v - s->originYf));
  float turn[9];
  VirtualView_Rotation(turn, s->viewCode, yaw, pitch, s->angleA, s->angleB);
  Mat3_MulFma(s->rotation, turn, out);
}

// Plane point seen along world direction dw from the eye; false when the
// ray runs parallel to the plane or meets it behind the eye.
bool PlanePoint(const VirtualViewState* s, const float* dw, float* p) {
  const float nd = s->planeN[0] * dw[0] + s->planeN[1] * dw[1] + s->planeN[2] * dw[2];
  if (nd == 0.0f) return false;
  const float ne = s->planeN[0] * s->eye[0] + s->planeN[1] * s->eye[1] + s->planeN[2] * s->eye[2];
  const float lambda = (s->planeD - ne) / nd;
  if (!(lambda > 0.0f)) return false;  // the plane lies behind the eye
  for (int i = 0; i < 3; ++i) p[i] = std::fma(lambda, dw[i], s->eye[i]);
  return true;
}

}  // namespace

int Undist4Camera_LoadParam(ViewParamRecord* rec, const char* path) {
  LutConfigInfo info;
  if (LoadLUTConfig(&info, &rec->params, path, nullptr) == 0) return 0;
  rec->frameWidth = static_cast<int32_t>(info.quadWidth);
  rec->frameHeight = static_cast<int32_t>(info.quadHeight);
  rec->headerWord2 = static_cast<int32_t>(info.carWidth);
  rec->headerWord3 = static_cast<int32_t>(info.carLength);
  for (int k = 0; k < 4; ++k) {
    rec->model[k] = info.model;
    rec->lensSlot[k] = static_cast<int32_t>(info.lensSlot[k]);
  }
  CameraParamSet_SetHeaders(&rec->params, &rec->headers);
  for (int k = 0; k < 4; ++k) {
    rec->fn[k] = nullptr;
    CameraModel_ProjectPoint(static_cast<int32_t>(rec->model[k]), &rec->headers.R[k], &rec->headers.T[k],
                             &rec->headers.K[k], &rec->headers.D[k], &rec->fn[k], &rec->ctx[k]);
  }
  const float w = static_cast<float>(rec->frameWidth), h = static_cast<float>(rec->frameHeight);
  const float ox[4] = {0.0f, w / 2, 0.0f, w / 2}, oy[4] = {0.0f, 0.0f, h / 2, h / 2};
  memcpy(rec->quadOffsetX, ox, sizeof ox);
  memcpy(rec->quadOffsetY, oy, sizeof oy);
  return 1;
}

void Undist4Camera_ReleaseParam() {}

void VirtualView_Rotation(float* out, uint32_t code, float q, float p, float A, float B) {
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  auto rx = [&](float deg) { Mat4_Rotate(m, deg * kDegToRad, 1.0f, 0.0f, 0.0f); };
  auto ry = [&](float deg) { Mat4_Rotate(m, deg * kDegToRad, 0.0f, 1.0f, 0.0f); };
  auto rz = [&](float deg) { Mat4_Rotate(m, deg * kDegToRad, 0.0f, 0.0f, 1.0f); };
  const float p23 = std::pow(p, 2.3f);
  switch (code) {
    case 1:
    case 15: rz(-p * A); rx(32.0f); ry(-p * B); break;
    case 6:
    case 16: rz(p * A); rx(32.0f); ry(p * B); break;
    case 4: rz(-p * A); rx(50.0f); rz(5.0f); ry(-p * B); break;
    case 9: rz(p * A); rx(50.0f); rz(-5.0f); ry(p * B); break;
    case 2:
    case 11: rx(q * q * B); rz(A * p23); rx(kQuarterTurnDeg); rz(166.0f); break;
    case 7:
    case 12: rx(q * q * B); rz(-A * p23); rx(kQuarterTurnDeg); rz(194.0f); break;
    case 5: rx(q * q * B); rz(A * p23); rx(kQuarterTurnDeg); rz(kHalfTurnDeg); break;
    case 10: rx(q * q * B); rz(-A * p23); rx(kQuarterTurnDeg); rz(kHalfTurnDeg); break;
    case 13:
    case 14: rx(kHalfTurnDeg); rz(kHalfTurnDeg); break;
    default: break;
  }
  Upper3(m, out);
}

void VirtualView_SetParam(const ViewParamRecord* record, VirtualViewState* s, uint32_t code,
                          int32_t width, int32_t height, const float* f) {
  s->record = record;
  s->viewCode = code;
  s->width = width;
  s->height = height;
  float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  Mat4_Rotate(m, f[4], 0.0f, 0.0f, 1.0f);
  Mat4_Rotate(m, f[3], 0.0f, 1.0f, 0.0f);
  Mat4_Rotate(m, f[2], 1.0f, 0.0f, 0.0f);
  Upper3(m, s->rotation);
  s->shiftX = f[5];
  s->shiftY = f[6];
  s->scaleX = 1;
  s->scaleY = 1;
  if (code < 1 || code > 16) return;
  const CodeRow& row = kCodes[code - 1];
  const float W = static_cast<float>(width), H = static_cast<float>(height);
  const float e = f[7] / 100000.0f;
  s->fy = H / (f[0] * row.k);
  s->fx = f[1] * s->fy * row.g;
  memcpy(s->planeN, row.n, sizeof s->planeN);
  s->planeD = row.d;
  s->eye[0] = row.eyeScale * e + row.eyeOffset;
  s->eye[1] = row.eyeY;
  s->eye[2] = row.eyeZ;
  s->cameraIndex = row.camera - 1;
  s->originXf = row.oxf * s->fx;
  s->originYf = row.oyf * s->fy;
  s->pitch0 = row.pitch0;
  s->yaw0 = row.yaw0;
  s->pitchSlope = row.pitchSlope / s->fx;
  s->yawSlope = row.yawSlope / s->fy;
  s->angleA = row.A;
  s->angleB = row.B;
  s->originX = static_cast<int32_t>(s->originXf) - (row.camera == 3 ? width : 0);
  s->originY = static_cast<int32_t>(s->originYf) - height;
  (void)W;
}

void VirtualView_BuildMap(const VirtualViewState* s, int32_t step, Matrix* mx, Matrix* my) {
  const ViewParamRecord* rec = s->record;
  if (rec == nullptr || s->viewCode < 1 || s->viewCode > 16 || step < 1) return;
  const int32_t cam = s->cameraIndex;
  const ProjectPointFn fn = rec->fn[cam];
  if (fn == nullptr) return;
  const float camW = static_cast<float>(rec->frameWidth / 2), camH = static_cast<float>(rec->frameHeight / 2);
  const int32_t W = mx->cols, H = mx->rows;
  for (int32_t i = 0;; i += step) {
    const int32_t r = i < H - 1 ? i : H - 1;
    for (int32_t j = 0;; j += step) {
      const int32_t c = j < W - 1 ? j : W - 1;
      const float u = static_cast<float>(c * s->scaleX) + s->shiftX + static_cast<float>(s->originX);
      const float v = static_cast<float>(r * s->scaleY) + s->shiftY + static_cast<float>(s->originY);
      float rot[9];
      PixelRotation(s, u, v, rot);
      const float d[3] = {(u + 1.1920929e-07f) / s->fx, (v + 1.1920929e-07f) / s->fy, 1.0f};
      float dw[3], p[3];
      Mat3_MulVecFma(rot, d, dw);
      float sx = 0.0f, sy = 0.0f;
      if (PlanePoint(s, dw, p))
        fn(static_cast<int32_t>(rec->model[cam]), &rec->ctx[cam], &sx, &sy, rec->lensSlot[cam], p[0], p[1], p[2]);
      if (!(sx >= 1.0f && sx <= camW - 2.0f && sy >= 1.0f && sy <= camH - 2.0f)) sx = sy = 0.0f;
      const long k = static_cast<long>(r) * W + c;
      mx->data[k] = sx;
      my->data[k] = sy;
      if (c == W - 1) break;
    }
    if (r == H - 1) break;
  }
}

int VirtualView_MapPoint(const VirtualViewState* s, float x, float y, float z, float* outX, float* outY) {
  *outX = -2.0f;
  *outY = -2.0f;
  const ViewParamRecord* rec = s->record;
  if (rec == nullptr || s->viewCode < 1 || s->viewCode > 16) return 0;
  // The plane point on the real camera's ray through the world point shows
  // the world point's colour.
  const float* T = rec->params.T[s->cameraIndex];
  const float c[3] = {-T[0], -T[1], -T[2]};
  const float ray[3] = {x - c[0], y - c[1], z - c[2]};
  const float nd = s->planeN[0] * ray[0] + s->planeN[1] * ray[1] + s->planeN[2] * ray[2];
  if (nd == 0.0f) return 0;
  const float nc = s->planeN[0] * c[0] + s->planeN[1] * c[1] + s->planeN[2] * c[2];
  const float lambda = (s->planeD - nc) / nd;
  if (!(lambda > 0.0f)) return 0;
  float w[3];
  for (int i = 0; i < 3; ++i) w[i] = std::fma(lambda, ray[i], c[i]) - s->eye[i];
  // Pixel whose turned ray from the eye meets that plane point. The turn
  // depends on the pixel, so start from the display pixel whose ray points
  // closest to it and refine.
  const float wn = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  float u = 0.0f, v = 0.0f, best = -2.0f;
  for (int gy = 0; gy <= 8; ++gy)
    for (int gx = 0; gx <= 8; ++gx) {
      const float cu = static_cast<float>(gx) * static_cast<float>(s->width - 1) / 8.0f * static_cast<float>(s->scaleX) +
                       s->shiftX + static_cast<float>(s->originX);
      const float cv = static_cast<float>(gy) * static_cast<float>(s->height - 1) / 8.0f * static_cast<float>(s->scaleY) +
                       s->shiftY + static_cast<float>(s->originY);
      float rot[9], dw[3];
      PixelRotation(s, cu, cv, rot);
      const float d[3] = {cu / s->fx, cv / s->fy, 1.0f};
      Mat3_MulVecFma(rot, d, dw);
      const float dn = std::sqrt(dw[0] * dw[0] + dw[1] * dw[1] + dw[2] * dw[2]);
      const float cosine = (dw[0] * w[0] + dw[1] * w[1] + dw[2] * w[2]) / (dn * wn);
      if (cosine > best) {
        best = cosine;
        u = cu;
        v = cv;
      }
    }
  bool ok = false;
  for (int it = 0; it < 50; ++it) {
    float rot[9], dc[3];
    PixelRotation(s, u, v, rot);
    Mat3_MulTransposedVecFma(rot, w, dc);
    if (!(dc[2] > 0.0f)) break;
    const float nu = s->fx * dc[0] / dc[2], nv = s->fy * dc[1] / dc[2];
    const float move = (nu - u) * (nu - u) + (nv - v) * (nv - v);
    ok = true;
    if (move < 0.2f) {
      u = nu;
      v = nv;
      break;
    }
    u = (u + nu) * 0.5f;
    v = (v + nv) * 0.5f;
  }
  if (!ok || !std::isfinite(u) || !std::isfinite(v)) return 0;
  *outX = ((u - static_cast<float>(s->originX)) - s->shiftX) / static_cast<float>(s->scaleX);
  *outY = ((v - static_cast<float>(s->originY)) - s->shiftY) / static_cast<float>(s->scaleY);
  return 1;
}

void SideView_BuildMap(const ViewParamRecord* rec, int32_t side, int32_t width, int32_t height,
                       const float* rotation, int32_t step, Matrix* mx, Matrix* my, const float* f) {
  if (rec == nullptr || step < 1 || width < 2 || height < 2 || side < 1 || side > 4) return;
  const int32_t cam = (side == 1 || side == 3) ? 2 : 3;
  const ProjectPointFn fn = rec->fn[cam];
  if (fn == nullptr) return;
  const float* T = rec->params.T[cam];
  const float camW = static_cast<float>(rec->frameWidth / 2), camH = static_cast<float>(rec->frameHeight / 2);
  const float W = static_cast<float>(width), H = static_cast<float>(height);
  const float scale = f[0] * H * (side <= 2 ? 0.42f : 0.82f);
  const float expo = side <= 2 ? 2.3f : 1.3f;
  for (int32_t i = 0;; i += step) {
    const int32_t r = i < height - 1 ? i : height - 1;
    const float rowFrac = static_cast<float>(r) / (H - 1.0f);
    const float t = side <= 2 ? 1.0f - rowFrac : rowFrac;
    for (int32_t j = 0;; j += step) {
      const int32_t c = j < width - 1 ? j : width - 1;
      const float colFrac = static_cast<float>(c) / (W - 1.0f);
      float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
      Mat4_Rotate(m, f[4] * std::pow(t, expo) * kDegToRad, 1.0f, 0.0f, 0.0f);
      Mat4_Rotate(m, kQuarterTurnDeg * kDegToRad, 0.0f, 0.0f, 1.0f);
      Mat4_Rotate(m, ((colFrac * rowFrac) * 0.6f + 0.5f) * f[5] * kDegToRad, 0.0f, 1.0f, 0.0f);
      float turn[9], full[9];
      Upper3(m, turn);
      Mat3_MulFma(rotation, turn, full);
      const float d[3] = {((static_cast<float>(c) - W * 0.5f) + f[2]) * f[1] / scale,
                          ((static_cast<float>(r) - H * 0.5f) + f[3]) / scale, 1.0f};
      // Turned in the camera's own frame, then into the world.
      float dc[3], dw[3];
      Mat3_MulVecFma(full, d, dc);
      Mat3_MulTransposedVecFma(rec->ctx[cam].R, dc, dw);
      // The plane at depth 1e6 in front of the camera: far enough that the
      // view is a pure turn of the camera's own picture.
      const float depth = 1e6f / std::fmax(std::fabs(dc[2]), 1e-6f);
      float sx = 0.0f, sy = 0.0f;
      fn(static_cast<int32_t>(rec->model[cam]), &rec->ctx[cam], &sx, &sy, rec->lensSlot[cam],
         -T[0] + depth * dw[0], -T[1] + depth * dw[1], -T[2] + depth * dw[2]);
      if (!(sx >= 1.0f && sx <= camW - 2.0f && sy >= 1.0f && sy <= camH - 2.0f)) sx = sy = 0.0f;
      const long k = static_cast<long>(r) * width + c;
      mx->data[k] = sx;
      my->data[k] = sy;
      if (c == width - 1) break;
    }
    if (r == height - 1) break;
  }
}
