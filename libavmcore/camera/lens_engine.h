#pragma once
// Projection, back-projection and ground mapping shared by the radial lens
// models (1 to 4). A model is a policy object with:
//   bool Rho(theta, &rho, &drho)    image-plane radius of an incidence angle
//                                   (false: outside the field)
//   kPolyTerms                      3: s = D0 + D1 rho^2 + D2 rho^4; 1: s = D0
//   kDerivOutside                   derivative rows of outside points written
//   bool Theta(rho, &theta, &dtheta)  inverse of Rho (false: no ray)
//   void Undistort(x', y', D, &xu, &yu, gx[4], gy[4])  the ground mapping's
//                                   radial inverse with derivatives by
//                                   (x', y', D0, D1)
#include <cmath>
#include <vector>

#include "camera/camera_model.h"
#include "camera/lens_common.h"

namespace lens {

// Radial polynomial of the image-plane radius and its derivative.
template <int kTerms>
inline float RadialScale(float rho, const float* D, float* dscale) {
  if (kTerms == 1) {
    *dscale = 0.0f;
    return D[0];
  }
  const float r2 = rho * rho;
  *dscale = 2.0f * D[1] * rho + 4.0f * D[2] * r2 * rho;
  return D[0] + D[1] * r2 + D[2] * r2 * r2;
}

struct ForwardOut {
  float u, v;
  float ax, ay, rho;  // image-plane offset before scaling, and its radius
  float px, py;       // scaled offset in pixels
  float du[3], dv[3]; // d(u, v) / d(camera x, y, z)
};

// One camera-frame point to a pixel. Returns false outside the field; out
// then holds (-2, -2) and, unless the model stops early, the derivatives.
template <class M, bool kDeriv>
__attribute__((always_inline)) inline bool Forward(const M& m, float x, float y, float z, const float* K, const float* D, ForwardOut* o) {
  x = Guard(x);
  y = Guard(y);
  const float x2 = x * x, y2 = y * y;
  const float r = std::sqrt(x2 + y2);
  const float theta = IncidenceAngle(r, z);
  float rho = 0.0f, drho = 0.0f;
  const bool inside = m.Rho(theta, &rho, &drho);
  if (!inside && (!kDeriv || !M::kDerivOutside)) {
    o->u = o->v = -2.0f;
    return false;
  }
  const float cx = std::copysign(1.0f / std::sqrt(1.0f + y2 / x2), x);
  const float cy = std::copysign(1.0f / std::sqrt(1.0f + x2 / y2), y);
  float ax, ay;
  SplitDir(rho, x, y, &ax, &ay);
  float ds;
  const float s = RadialScale<M::kPolyTerms>(rho, D, &ds);
  const float px = s * ax, py = s * ay;
  o->ax = ax;
  o->ay = ay;
  o->rho = rho;
  o->px = px;
  o->py = py;
  if (inside) {
    o->u = K[0] * px + K[1] * py + K[2];
    o->v = K[3] * px + py + K[5];
  } else {
    o->u = o->v = -2.0f;
  }
  if (kDeriv) {
    const float q = r / z;
    const float dthdq = 1.0f / (1.0f + q * q);
    const float dq[3] = {x / (r * z), y / (r * z), -q / z};
    const float dcx[3] = {cy * cy / r, -cx * cy / r, 0.0f};
    const float dcy[3] = {-cx * cy / r, cx * cx / r, 0.0f};
    for (int k = 0; k < 3; ++k) {
      const float drk = drho * dthdq * dq[k];
      const float dax = drk * cx + rho * dcx[k];
      const float day = drk * cy + rho * dcy[k];
      const float dpx = ds * drk * ax + s * dax;
      const float dpy = ds * drk * ay + s * day;
      o->du[k] = K[0] * dpx + K[1] * dpy;
      o->dv[k] = K[3] * dpx + dpy;
    }
  }
  return inside;
}

// Single-point projection from a filled context.
template <class M>
inline int32_t ProjectPointCtx(const M& m, const ProjectionContext* c, float* u, float* v, float X, float Y,
                               float Z) {
  const float* R = c->R;
  const float x = R[0] * X + R[1] * Y + R[2] * Z + c->t[0];
  const float y = R[3] * X + R[4] * Y + R[5] * Z + c->t[1];
  const float z = R[6] * X + R[7] * Y + R[8] * Z + c->t[2];
  ForwardOut o;
  const bool in = Forward<M, false>(m, x, y, z, c->K, c->D, &o);
  *u = o.u;
  *v = o.v;
  return in ? 1 : 0;
}

// Point-set projection with optional derivative blocks.
template <class M>
void ProjectPoints(const M& m, const Matrix* obj, const PoseView& pose, Matrix* out, const PoseDerivBlocks& blocks) {
  const Matrix *Rm = pose.R, *Tm = pose.T, *Km = pose.K, *Dm = pose.D;
  Matrix *dRot = blocks.dRot, *dT = blocks.dTrans, *dK = blocks.dIntr, *dC = blocks.dCentre, *dD = blocks.dDist;
  const bool anyBlock = dRot || dT || dK || dC || dD;
  const bool poseDeriv = dRot || dT;
  float R[9], dR[27];
  PoseRotation(Rm, R, anyBlock ? dR : nullptr);
  const float* T = Tm->data;
  float t[3];
  Mat3Vec(R, T, t);
  const float* K = Km->data;
  const float* D = Dm->data;
  for (int i = 0; i < obj->rows; ++i) {
    const float* P = Row(obj, i);
    float xc[3];
    Mat3Vec(R, P, xc);
    for (int k = 0; k < 3; ++k) xc[k] += t[k];
    ForwardOut o{};
    bool in;
    if (poseDeriv)
      in = Forward<M, true>(m, xc[0], xc[1], xc[2], K, D, &o);
    else
      in = Forward<M, false>(m, xc[0], xc[1], xc[2], K, D, &o);
    float* op = Row(out, i);
    op[0] = o.u;
    op[1] = o.v;
    if (!anyBlock || (!in && !M::kDerivOutside)) continue;
    if (!in && !poseDeriv) {
      // The derivative-free path stopped early; redo it for the blocks.
      Forward<M, true>(m, xc[0], xc[1], xc[2], K, D, &o);
    }
    const int ru = 2 * i, rv = 2 * i + 1;
    if (dRot != nullptr) {
      const float pt[3] = {P[0] + T[0], P[1] + T[1], P[2] + T[2]};
      for (int k = 0; k < 3; ++k) {
        float dx[3];
        Mat3Vec(dR + 9 * k, pt, dx);
        Row(dRot, ru)[k] = o.du[0] * dx[0] + o.du[1] * dx[1] + o.du[2] * dx[2];
        Row(dRot, rv)[k] = o.dv[0] * dx[0] + o.dv[1] * dx[1] + o.dv[2] * dx[2];
      }
    }
    if (dT != nullptr) {
      for (int k = 0; k < 3; ++k) {
        const float c0 = R[k], c1 = R[3 + k], c2 = R[6 + k];
        Row(dT, ru)[k] = o.du[0] * c0 + o.du[1] * c1 + o.du[2] * c2;
        Row(dT, rv)[k] = o.dv[0] * c0 + o.dv[1] * c1 + o.dv[2] * c2;
      }
    }
    if (dK != nullptr) {
      float* a = Row(dK, ru);
      float* b = Row(dK, rv);
      a[0] = o.px;
      a[1] = o.py;
      a[2] = 0.0f;
      b[0] = 0.0f;
      b[1] = 0.0f;
      b[2] = o.px;
    }
    if (dC != nullptr) {
      float* a = Row(dC, ru);
      float* b = Row(dC, rv);
      a[0] = 1.0f;
      a[1] = 0.0f;
      b[0] = 0.0f;
      b[1] = 1.0f;
    }
    if (dD != nullptr) {
      float* a = Row(dD, ru);
      float* b = Row(dD, rv);
      const float g = K[0] * o.ax + K[1] * o.ay;
      const float q = K[3] * o.ax + o.ay;
      const float r2 = o.rho * o.rho;
      for (int k = 0; k < 8; ++k) a[k] = b[k] = 0.0f;
      a[0] = g;
      b[0] = q;
      if (M::kPolyTerms == 3) {
        a[1] = g * r2;
        a[2] = g * r2 * r2;
        b[1] = q * r2;
        b[2] = q * r2 * r2;
      }
    }
  }
}

// Ray through a pinhole-plane point (x, y) from the unit-focal image plane:
// returns false when the radius has no ray.
template <class M>
inline bool PinholeFromRadial(const M& m, float x, float y, float* tx, float* ty, float* theta) {
  const float rho = std::sqrt(x * x + y * y);
  float dth;
  if (!m.Theta(rho, theta, &dth)) return false;
  SplitDir(std::tan(*theta), x, y, tx, ty);
  return true;
}

// Where the ray (tx, ty, 1) of the camera meets the plane Z = -h. The tangent
// grows fast towards the horizon, so this last step runs in double precision
// to keep ground points exact to float resolution.
inline void RayToPlane(const float* Rp, const float* T, float theta, float x, float y, float h, float* out) {
  const double t = std::tan(static_cast<double>(theta));
  const double x2 = static_cast<double>(x) * x, y2 = static_cast<double>(y) * y;
  const double tx = std::copysign(t / std::sqrt(1.0 + y2 / x2), static_cast<double>(x));
  const double ty = std::copysign(t / std::sqrt(1.0 + x2 / y2), static_cast<double>(y));
  double d[3];
  for (int k = 0; k < 3; ++k) d[k] = Rp[k * 3] * tx + Rp[k * 3 + 1] * ty + static_cast<double>(Rp[k * 3 + 2]);
  const double k = (static_cast<double>(T[2]) - h) / d[2];
  out[0] = static_cast<float>(k * d[0] - T[0]);
  out[1] = static_cast<float>(k * d[1] - T[1]);
}

// Fixed-point inverse of (x, y) * f(x^2 + y^2) = (x0, y0), f = c0 + c1 q + c2 q^2.
inline void InvertRadial(float x0, float y0, float c0, float c1, float c2, float* xo, float* yo) {
  float x = x0, y = y0;
  for (int it = 0; it < 50; ++it) {
    const float q = x * x + y * y;
    const float f = c0 + c1 * q + c2 * q * q;
    const float nx = x0 / f, ny = y0 / f;
    const bool same = nx == x && ny == y;
    x = nx;
    y = ny;
    if (same) break;
  }
  *xo = x;
  *yo = y;
}

// Ray of each pixel intersected with the plane Z = -h (models 1, 2, 4).
template <class M>
void ImageToRayPoly(const M& m, const Matrix* img, Matrix* out, const Matrix* Km, const Matrix* Dm,
                    const Matrix* Rm, const Matrix* Tm, float h) {
  float Ki[9];
  if (!InvertK(Km, Ki)) return;
  float Rp[9];
  InverseRotation(Rm, Rp, nullptr);
  const float* D = Dm->data;
  const float* T = Tm->data;
  for (int i = 0; i < img->rows; ++i) {
    const float* p = Row(img, i);
    const float x0 = Ki[0] * p[0] + Ki[1] * p[1] + Ki[2];
    const float y0 = Ki[3] * p[0] + Ki[4] * p[1] + Ki[5];
    float x, y;
    InvertRadial(x0, y0, D[0], D[1], D[2], &x, &y);
    x = Guard(x);
    y = Guard(y);
    float theta = NAN, dth;
    const bool ok = m.Theta(std::sqrt(x * x + y * y), &theta, &dth);
    float* o = Row(out, i);
    RayToPlane(Rp, T, theta, x, y, h, o);
    o[2] = (ok && theta < kHalfPi) ? 0.0f : -1.0f;
  }
}

// Pixels to the pinhole plane (pixelFlag 0) or to the pixels of a pinhole
// camera with focal scale D[0] and the same K (models 1, 2, 4).
template <class M>
void UndistortPointsPoly(const M& m, const Matrix* img, Matrix* out, const Matrix* Km, const Matrix* Dm,
                         int32_t pixelFlag) {
  float Ki[9];
  if (!InvertK(Km, Ki)) return;
  const float* K = Km->data;
  const float* D = Dm->data;
  const float s = D[0];
  for (int i = 0; i < img->rows; ++i) {
    const float* p = Row(img, i);
    const float x0 = (Ki[0] * p[0] + Ki[1] * p[1] + Ki[2]) / s;
    const float y0 = (Ki[3] * p[0] + Ki[4] * p[1] + Ki[5]) / s;
    float x, y;
    InvertRadial(x0, y0, 1.0f, D[1] / s, D[2] / s, &x, &y);
    float tx, ty, theta;
    if (!PinholeFromRadial(m, x, y, &tx, &ty, &theta)) tx = ty = NAN;
    float* o = Row(out, i);
    if (pixelFlag == 0) {
      o[0] = tx;
      o[1] = ty;
    } else {
      o[0] = K[0] * s * tx + K[1] * s * ty + K[2];
      o[1] = K[3] * s * tx + s * ty + K[5];
    }
  }
}

// Angle-to-image map of the undistorted views (two-term radial form, no
// field limit).
template <class M>
inline void UndistPointToImagePoly(const M& m, const Matrix* Km, const Matrix* Dm, float* u, float* v, float theta,
                                   float dirX, float dirY) {
  float rho, drho;
  m.Rho(theta, &rho, &drho);
  const float* K = Km->data;
  const float* D = Dm->data;
  const float f = rho * (D[0] + D[1] * rho * rho);
  const float px = f * dirX, py = f * dirY;
  *u = K[0] * px + K[1] * py + K[2];
  *v = K[3] * px + py + K[5];
}

// Image points to ground points (Z = 0) with derivative blocks (ground X
// row, ground Y row per point): the measurement of the line-target fits.
template <class M>
void ImageToGround(const M& m, const Matrix* img, Matrix* out, const Matrix* Km, const Matrix* Dm, const Matrix* Rm,
                   const Matrix* Tm, Matrix* dRot, Matrix* dT, Matrix* dK, Matrix* dC, Matrix* dD) {
  float Rp[9], dRp[27];
  InverseRotation(Rm, Rp, dRp);
  const float* K = Km->data;
  const float* D = Dm->data;
  const float* T = Tm->data;
  for (int i = 0; i < img->rows; ++i) {
    const float* p = Row(img, i);
    const float xp = (p[0] - K[2]) / K[0];
    const float yp = p[1] - K[5];
    float xu, yu, gx[4], gy[4];
    m.Undistort(xp, yp, D, &xu, &yu, gx, gy);
    xu = Guard(xu);
    yu = Guard(yu);
    const float rho = std::sqrt(xu * xu + yu * yu);
    float theta, dth;
    m.Theta(rho, &theta, &dth);
    const float t = std::tan(theta);
    const float dt = (1.0f + t * t) * dth;
    const float cx = std::copysign(1.0f / std::sqrt(1.0f + (yu * yu) / (xu * xu)), xu);
    const float cy = std::copysign(1.0f / std::sqrt(1.0f + (xu * xu) / (yu * yu)), yu);
    float tx, ty;
    SplitDir(t, xu, yu, &tx, &ty);
    const float ray[3] = {tx, ty, 1.0f};
    float d[3];
    Mat3Vec(Rp, ray, d);
    const float k = T[2] / d[2];
    float* o = Row(out, i);
    o[0] = k * d[0] - T[0];
    o[1] = k * d[1] - T[1];
    if (!(dRot || dT || dK || dC || dD)) continue;
    // dG/dd for the two ground coordinates.
    const float iz = 1.0f / d[2];
    const float gX[3] = {T[2] * iz, 0.0f, -T[2] * d[0] * iz * iz};
    const float gY[3] = {0.0f, T[2] * iz, -T[2] * d[1] * iz * iz};
    // d(tx, ty) / d(xu, yu).
    const float j00 = dt * cx * cx + t * cy * cy / rho;
    const float j01 = dt * cx * cy - t * cx * cy / rho;
    const float j11 = dt * cy * cy + t * cx * cx / rho;
    // dG / d(tx, ty) through the first two columns of R'.
    const float gXt[2] = {gX[0] * Rp[0] + gX[1] * Rp[3] + gX[2] * Rp[6], gX[0] * Rp[1] + gX[1] * Rp[4] + gX[2] * Rp[7]};
    const float gYt[2] = {gY[0] * Rp[0] + gY[1] * Rp[3] + gY[2] * Rp[6], gY[0] * Rp[1] + gY[1] * Rp[4] + gY[2] * Rp[7]};
    const float gXu[2] = {gXt[0] * j00 + gXt[1] * j01, gXt[0] * j01 + gXt[1] * j11};
    const float gYu[2] = {gYt[0] * j00 + gYt[1] * j01, gYt[0] * j01 + gYt[1] * j11};
    // dG / d(x', y', D0, D1).
    float gXa[4], gYa[4];
    for (int a = 0; a < 4; ++a) {
      gXa[a] = gXu[0] * gx[a] + gXu[1] * gy[a];
      gYa[a] = gYu[0] * gx[a] + gYu[1] * gy[a];
    }
    const int rx = 2 * i, ry = 2 * i + 1;
    if (dT != nullptr) {
      float* a = Row(dT, rx);
      float* b = Row(dT, ry);
      a[0] = -1.0f;
      a[1] = 0.0f;
      a[2] = d[0] * iz;
      b[0] = 0.0f;
      b[1] = -1.0f;
      b[2] = d[1] * iz;
    }
    if (dRot != nullptr) {
      for (int c = 0; c < 3; ++c) {
        float dd[3];
        Mat3Vec(dRp + 9 * c, ray, dd);
        Row(dRot, rx)[c] = gX[0] * dd[0] + gX[1] * dd[1] + gX[2] * dd[2];
        Row(dRot, ry)[c] = gY[0] * dd[0] + gY[1] * dd[1] + gY[2] * dd[2];
      }
    }
    if (dK != nullptr) {
      const float dxk0 = -(p[0] - K[2]) / (K[0] * K[0]);
      float* a = Row(dK, rx);
      float* b = Row(dK, ry);
      a[0] = gXa[0] * dxk0;
      b[0] = gYa[0] * dxk0;
      a[1] = a[2] = b[1] = b[2] = 0.0f;
    }
    if (dC != nullptr) {
      float* a = Row(dC, rx);
      float* b = Row(dC, ry);
      a[0] = -gXa[0] / K[0];
      a[1] = -gXa[1];
      b[0] = -gYa[0] / K[0];
      b[1] = -gYa[1];
    }
    if (dD != nullptr) {
      float* a = Row(dD, rx);
      float* b = Row(dD, ry);
      for (int c = 0; c < 8; ++c) a[c] = b[c] = 0.0f;
      a[0] = gXa[2];
      a[1] = gXa[3];
      b[0] = gYa[2];
      b[1] = gYa[3];
    }
  }
}

}  // namespace lens
