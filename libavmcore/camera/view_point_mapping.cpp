#include "camera/view_point_mapping.h"

#include <cfloat>
#include <cmath>

#include "camera/rotation.h"
#include "camera/view_virtual.h"
#include "frame/global_variables.h"
#include "frame/numeric_constants.h"

namespace {

float Sign(float v) { return v < 0.0f ? -1.0f : 1.0f; }

float ViewAngle(float rho, float z) {
  float t = std::atan(rho / z);
  if (t < 0.0f) t += kPi;
  return t;
}

bool Inside(float x, float y, int32_t w, int32_t h) {
  return x >= 0.0f && x < static_cast<float>(w - 1) && y >= 0.0f && y <= static_cast<float>(h - 1);
}

int Finish(float x, float y, int32_t w, int32_t h, int check, float* outX, float* outY) {
  if (Inside(x, y, w, h)) {
    *outX = x;
    *outY = y;
    return 1;
  }
  if (check != 0) {
    *outX = -2.0f;
    *outY = -2.0f;
  } else {
    *outX = x;
    *outY = y;
  }
  return 0;
}

// ((b^8 + a^8) * c^4)^0.125 as the shaping terms compute it.
float SuperEllipse(float a, float b, float c) {
  return std::pow((std::pow(b, 8.0f) + std::pow(a, 8.0f)) * std::pow(c, 4.0f), 0.125f);
}

int MapCurved(UndistViewBlock* b, float x, float y, float z, int check, float* outX, float* outY) {
  if (b->pointFunction == nullptr || b->rowMap.data == nullptr) return 0;
  float sx = -2.0f, sy = -2.0f;
  b->pointFunction(static_cast<int32_t>(b->cam.model), &b->pointContext, &sx, &sy,
                   b->cam.lensSlot, x, y, z);
  const int32_t w4 = b->rowMap.cols, h4 = b->rowMap.rows;
  auto invalid = [&]() {
    *outX = -2.0f;
    *outY = -2.0f;
    return 0;
  };
  if (!(sx >= 1.0f && sy >= 1.0f) || sx >= static_cast<float>(2 * w4 - 3) ||
      sy >= static_cast<float>(2 * h4 - 3))
    return invalid();
  const int32_t ix = static_cast<int32_t>(sx), iy = static_cast<int32_t>(sy);
  if (ix < 1 || iy < 1 || ix >= 2 * w4 - 3 || iy >= 2 * h4 - 3) return invalid();
  const float m0 = b->rowMap.data[(iy / 2) * w4 + ix / 2];
  const float m1 = b->rowMap.data[(iy / 2 + 1) * w4 + ix / 2];
  const float rv = m0 + (m1 - m0) * (sy * 0.5f - static_cast<float>(iy / 2));
  if (rv < 0.0f) return invalid();
  const float k = 1.0f - (static_cast<float>(b->firstRow) + rv) / static_cast<float>(b->height - 1);
  const float t = k * k;
  const float rvec[3] = {(0.25f * t + 0.25f) * (-kPi) * b->sign, -b->rollRad * b->sign,
                         -b->rollRad * b->sign};
  RodriguesArr(rvec, b->scratchRotation, nullptr);
  const float* Q = b->scratchRotation;
  const float* T = b->cam.T;
  for (int i = 0; i < 3; ++i)
    b->scratchVector[i] = std::fma(Q[3 * i + 2], T[2], std::fma(Q[3 * i + 1], T[1], Q[3 * i] * T[0]));
  const float* c = b->scratchVector;
  float X = std::fma(Q[2], z, std::fma(Q[1], y, Q[0] * x)) + c[0];
  float Y = (t + 1.0f) * (std::fma(Q[5], z, std::fma(Q[4], y, Q[3] * x)) + c[1]);
  const float Z = std::fma(Q[8], z, std::fma(Q[7], y, Q[6] * x)) + c[2];
  X = View_EpsilonClamp(X);
  Y = View_EpsilonClamp(Y);
  const float theta = ViewAngle(std::sqrt(X * X + Y * Y), Z);
  const float r = std::tan(theta * b->invAngleDivisor);
  float cu, cv;
  View_DirectionSplit(X, Y, &cu, &cv);
  float ox = b->focal2 * r * cu - b->xShift + b->halfWidth;
  const float oy = (b->focal2 * r * cv * b->sign - b->yShift) / b->heightWidthRatio + b->halfHeight;
  if (b->flip) ox = static_cast<float>(b->width - 1) - ox;
  return Finish(ox, oy, b->width, b->height, check, outX, outY);
}

// Zoom mapping; sourceCheck rejects a source outside the picture (row 0
// excluded).
int MapZoom(ZoomViewBlock* z, bool sourceCheck, int check, float x, float y, float zz, float* outX,
            float* outY) {
  if (z->pointFunction == nullptr) return 0;
  float sx = -2.0f, sy = -2.0f;
  z->pointFunction(static_cast<int32_t>(z->model), &z->pointContext, &sx, &sy, z->lensSlot, x, y, zz);
  if (sourceCheck && !(sx >= 0.0f && sx <= static_cast<float>(z->srcWidth - 1) && sy >= 1.0f &&
                       sy <= static_cast<float>(z->srcHeight - 1))) {
    *outX = -2.0f;
    *outY = -2.0f;
    return 0;
  }
  const float xp = (sx - z->srcCx) * z->invSrcW;
  const float yp = (sy - z->srcCy) * z->invSrcH;
  float U = ((z->cosA * xp - z->sinA * yp) + 0.5f) * z->invSpanX - z->leftN;
  if (z->flip) U = 1.0f - U;
  const float X = static_cast<float>(z->width - 1) * U;
  const float Y = static_cast<float>(z->height - 1) * ((z->cosA * yp + z->sinA * xp + 0.5f) * z->invSpanY - z->topN);
  return Finish(X, Y, z->width, z->height, check, outX, outY);
}

// Cut mapping of cut types 1 to 3 and 11 and above. Returns -1 for the
// types without a mapping (nothing written).
int MapCut(CutViewBlock* c, int check, float x, float y, float z, float* outX, float* outY) {
  if (c->cutType >= 11) {
    float u = -2.0f, v = -2.0f;
    VirtualView_MapPoint(&c->virt, x, y, z, &u, &v);
    return Finish(u, v, c->width, c->height, check, outX, outY);
  }
  if (c->cutType < 1 || c->cutType > 3) return -1;
  const float* M = c->rotationInv;
  float Xc = std::fma(M[2], z, std::fma(M[1], y, M[0] * x)) + c->origin[0];
  float Yc = std::fma(M[5], z, std::fma(M[4], y, M[3] * x)) + c->origin[1];
  const float Zc = std::fma(M[8], z, std::fma(M[7], y, M[6] * x)) + c->origin[2];
  Xc = View_EpsilonClamp(Xc);
  Yc = View_EpsilonClamp(Yc);
  float nx, ny;
  if (c->tableProjection) {
    LoadTableUser(0);
    const GlobalVariables& g = gv();
    const float theta = ViewAngle(std::sqrt(Xc * Xc + Yc * Yc), Zc);
    const int32_t index = static_cast<int32_t>(theta / kPi * 180.0f * 400.0f);
    if (g.userTable2 == nullptr || index < 0 || index >= g.userTable2Count) {
      *outX = -2.0f;
      *outY = -2.0f;
      return 0;
    }
    const float r = g.userTable2[index];
    float cu, cv;
    View_DirectionSplit(Xc, Yc, &cu, &cv);
    nx = r * cu;
    ny = r * cv;
  } else {
    nx = Xc / Zc;
    ny = Yc / Zc;
  }
  const float X = (c->scale * nx - c->xShift) / c->aspect + c->colCentre;
  const float Y = c->rowCentre + c->sign * c->scale * ny - c->yShift;
  return Finish(X, Y, c->width, c->height, check, outX, outY);
}

}  // namespace

float View_EpsilonClamp(float w) {
  if (w >= 0.0f && w < FLT_EPSILON) return FLT_EPSILON;
  if (w < 0.0f && w > -FLT_EPSILON) return -FLT_EPSILON;
  return w;
}

void View_DirectionSplit(float u, float v, float* cu, float* cv) {
  if (u == 0.0f && v == 0.0f) {
    *cu = 0.0f;
    *cv = 0.0f;
    return;
  }
  *cu = u == 0.0f ? 0.0f : Sign(u) / std::sqrt((v * v) / (u * u) + 1.0f);
  *cv = v == 0.0f ? 0.0f : Sign(v) / std::sqrt((u * u) / (v * v) + 1.0f);
}

int UndistView_Physical2Disp(UndistViewBlock* b, float x, float y, float z, int check,
                             float* outX, float* outY) {
  if (b->viewType == 2) return MapCurved(b, x, y, z, check, outX, outY);
  if (b->viewType != 1 && b->viewType != 3 && b->viewType != 4) return 0;
  const float* R = b->rotation;
  float Xc = std::fma(R[2], z, std::fma(R[1], y, R[0] * x)) + b->translation[0];
  float Yc = std::fma(R[5], z, std::fma(R[4], y, R[3] * x)) + b->translation[1];
  const float Zc = std::fma(R[8], z, std::fma(R[7], y, R[6] * x)) + b->translation[2];
  Xc = View_EpsilonClamp(Xc);
  Yc = View_EpsilonClamp(Yc);
  const float u = b->cosRoll * Xc - b->sinNegRoll * Yc;
  const float v = b->cosRoll * Yc + b->sinNegRoll * Xc;
  const float theta = ViewAngle(std::sqrt(u * u + v * v), Zc);
  float cu, cv;
  View_DirectionSplit(u, v, &cu, &cv);
  const float k = b->invAngleDivisor, f = b->focal;
  const float H = static_cast<float>(b->height);
  float X, Y;
  if (b->viewType == 3) {
    const float r = std::tan(theta * k);
    X = b->cx + cu * r * f - b->xShift;
    Y = (cv * r * f) / b->heightWidthRatio + b->cy - b->yShift;
  } else if (b->viewType == 1) {
    const float r = std::tan(theta * k);
    const float a = theta * cu;
    const float bb = theta * cv - 2.0f * b->yOffset / H;
    const float e = SuperEllipse(a, bb, bb);
    const float q = a * a * e;
    const float s = std::fmax(0.0f, 0.1f - bb);
    const float p = b->sideWarp < 0.0f ? std::pow(s, 2.5f) : s * s;
    const float w = bb < 0.0f ? b->upperWarp * q * 0.12f : b->lowerWarp * q * 0.1f;
    X = b->cx + (cu * r) / ((b->sideWarp * p * 0.15f + 1.0f) * (b->sideWarpLinear * s * 0.1f + 1.0f)) * f -
        b->xShift;
    Y = ((cv * r) / (1.0f - w) * f) / b->heightWidthRatio + b->cy - b->yShift - b->yOffset;
  } else {
    const float g = theta * cv <= -0.1f ? 1.0f : ((1.0f - theta * cv) / 1.1f) * 0.3f + 0.7f;
    const float t2 = std::exp(std::log(theta) / g);
    const float r = std::tan(t2 * k);
    const float a = cu * t2, bb = cv * t2;
    const float e = SuperEllipse(a, bb, bb);
    const float h = bb - 0.1f <= 0.0f ? (bb - 0.1f) * (bb - 0.1f) * 0.15f : 0.0f;
    const float w = bb < 0.0f ? b->upperWarp * e * a * a * 0.1f : b->lowerWarp * a * a * 0.08f;
    X = b->cx + (cu * r) / (h * b->sideWarp + 1.0f) * f - b->xShift;
    Y = ((cv * r) / (1.0f - w) * f) / b->heightWidthRatio + b->cy - b->yShift;
  }
  if (b->flip) X = static_cast<float>(b->width - 1) - X;
  return Finish(X, Y, b->width, b->height, check, outX, outY);
}

int ZoomView_MapPoint(float* outX, float* outY, ZoomViewBlock* zoom, int check, float x, float y,
                      float z) {
  return MapZoom(zoom, check != 0, check, x, y, z, outX, outY);
}

int CutView_Physical2Disp(float* outX, float* outY, CutViewBlock* cut, int check, float x, float y,
                          float z) {
  const int r = MapCut(cut, check, x, y, z, outX, outY);
  return r < 0 ? 0 : r;
}

int UndistView_Physical2DispPoint(UndistOB* view, int32_t camera, int32_t zoom, float x, float y,
                                  float z, float* outX, float* outY) {
  const int32_t slot = View_CameraSlot(camera);
  if (zoom != 0) {
    // The point call writes the values even outside the view.
    return MapZoom(&view->zoom[slot], false, 0, x, y, z, outX, outY);
  }
  if (camera == 1 || camera == 2) return UndistView_Physical2Disp(&view->undist[slot], x, y, z, 0, outX, outY);
  const int r = MapCut(&view->cut[slot], 0, x, y, z, outX, outY);
  return r < 0 ? 0 : r;
}

namespace {

// Ground extent (mm) the line walk covers: the cameras of the unit see the
// ground only within tens of metres, and beyond this every step lands on
// the same pixel near the horizon.
constexpr float kLineGroundLimit = 200000.0f;

}  // namespace

int32_t UndistView_Physical2DispLine(UndistOB* view, int32_t camera, int32_t zoom, float x0,
                                     float y0, float x1, float y1, int32_t maxPoints, float* outX,
                                     float* outY) {
  if (maxPoints <= 0) return 0;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return 0;
  const int32_t slot = View_CameraSlot(camera);
  int32_t W, H;
  int kind;  // 0 zoom, 1 undistorted, 2 cut
  if (zoom != 0) {
    kind = 0;
    W = view->zoom[slot].width;
    H = view->zoom[slot].height;
  } else if (camera == 1 || camera == 2) {
    kind = 1;
    W = view->undist[slot].width;
    H = view->undist[slot].height;
  } else {
    kind = 2;
    W = view->cut[slot].width;
    H = view->cut[slot].height;
  }
  const double dx = static_cast<double>(x1) - x0, dy = static_cast<double>(y1) - y0;
  const bool alongX = std::fabs(dy) <= std::fabs(dx);
  double m, c, a, b;
  if (alongX) {
    m = dy / dx;
    c = y0 - m * x0;
    a = x0;
    b = x1;
  } else {
    m = dx / dy;
    c = x0 - m * y0;
    a = y0;
    b = y1;
  }
  if (!std::isfinite(m) || !std::isfinite(c)) return 0;
  const double lim = kLineGroundLimit;
  auto roundEnd = [&](double v) {
    v = std::floor(v + 0.5);
    if (v < -lim) v = -lim;
    if (v > lim) v = lim;
    return static_cast<int32_t>(v);
  };
  int32_t ia = roundEnd(a), ib = roundEnd(b);
  if (ia == ib) return 0;
  if (ia > ib) std::swap(ia, ib);
  int32_t count = 0;
  int32_t lastX = 0, lastY = 0;
  for (int32_t i = ia; i < ib && count < maxPoints; ++i) {
    const float other = static_cast<float>(c + m * i);
    if (!(std::fabs(other) <= kLineGroundLimit)) continue;
    const float gx = alongX ? static_cast<float>(i) : other;
    const float gy = alongX ? other : static_cast<float>(i);
    float X = -2.0f, Y = -2.0f;
    if (kind == 0) {
      MapZoom(&view->zoom[slot], true, 1, gx, gy, 0.0f, &X, &Y);
    } else if (kind == 1) {
      UndistView_Physical2Disp(&view->undist[slot], gx, gy, 0.0f, 1, &X, &Y);
    } else {
      if (MapCut(&view->cut[slot], 0, gx, gy, 0.0f, &X, &Y) < 0) continue;
    }
    if (!std::isfinite(X) || !std::isfinite(Y)) continue;
    const int16_t rx = static_cast<int16_t>(static_cast<int32_t>(std::fmax(std::fmin(X + 0.5f, 32767.0f), -32768.0f)));
    const int16_t ry = static_cast<int16_t>(static_cast<int32_t>(std::fmax(std::fmin(Y + 0.5f, 32767.0f), -32768.0f)));
    if (rx < 0 || rx >= W || ry < 0 || ry >= H) continue;
    if (rx == lastX && ry == lastY) continue;
    lastX = rx;
    lastY = ry;
    if (outX != nullptr && outY != nullptr) {
      outX[count] = X;
      outY[count] = Y;
    }
    ++count;
  }
  return count;
}

int UndistView_CameraImage2Physical(UndistOB* view, int32_t camera, float px, float py,
                                    float* outX, float* outY) {
  const int32_t slot = View_CameraSlot(camera);
  float pix[2] = {px, py};
  float ground[3] = {-1.0f, -1.0f, -1.0f};
  Matrix ip{2, 1, pix}, gp{3, 1, ground};
  Matrix K{3, 3, view->params.K[slot]}, D{8, 1, view->params.D[slot]};
  Matrix R{3, 1, view->params.R[slot]}, T{3, 1, view->params.T[slot]};
  CameraModel_ImageToRay(static_cast<int32_t>(view->model[slot]), &ip, &gp, &K, &D, &R, &T,
                         view->lensSlot[slot], 0.0f);
  if (!(ground[2] >= 0.0f)) return 0;
  *outX = ground[0];
  *outY = ground[1];
  return 1;
}
