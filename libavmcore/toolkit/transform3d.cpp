// 3-D projection and rotation matrices for the camera maths and the GPU views.
#include "toolkit/transform3d.h"

#include <cmath>
#include <cstring>

#include "toolkit/matrix.h"

void Mat4_Perspective(float* m, float fovY, float scale, float aspect, float near, float far, float offX,
                      float offY) {
  const float t = std::tan(fovY * 0.5f) * scale * near;
  const float r = t * aspect;
  std::memset(m, 0, 16 * sizeof(float));
  m[0] = (near + near) / (r + r);
  m[5] = (near + near) / (t + t);
  m[2] = offX;
  m[6] = offY;
  m[10] = -(near + far) / (far - near);
  m[11] = -(near * (far + far)) / (far - near);
  m[14] = -1.0f;
}

void Mat4_Ortho(float* m, float left, float right, float bottom, float top, float near, float far) {
  std::memset(m, 0, 16 * sizeof(float));
  m[0] = 2.0f / (right - left);
  m[5] = 2.0f / (top - bottom);
  m[10] = -2.0f / (far - near);
  m[3] = -(right + left) / (right - left);
  m[7] = -(top + bottom) / (top - bottom);
  m[11] = -(far + near) / (far - near);
  m[15] = 1.0f;
}

void Mat4_Translate(float* m, float tx, float ty, float tz) {
  m[3] += tx;
  m[7] += ty;
  m[11] += tz;
}

void Mat4_Rotate(float* m, float angle, float x, float y, float z) {
  float s, c;
  sincosf(angle, &s, &c);
  const float k = 1.0f - c;
  float r[16] = {};
  r[0] = std::fma(1.0f - x * x, c, x * x);
  r[1] = std::fma(-z, s, x * y * k);
  r[2] = std::fma(y, s, x * z * k);
  r[4] = std::fma(z, s, x * y * k);
  r[5] = std::fma(1.0f - y * y, c, y * y);
  r[6] = std::fma(-x, s, y * z * k);
  r[8] = std::fma(-y, s, x * z * k);
  r[9] = std::fma(x, s, y * z * k);
  r[10] = std::fma(1.0f - z * z, c, z * z);
  r[15] = 1.0f;
  // m * R through a copy of m, so the result can overwrite m.
  float copy[16];
  std::memcpy(copy, m, sizeof copy);
  Matrix a, b, d;
  Matrix_Init(&a, 4, 4, copy);
  Matrix_Init(&b, 4, 4, r);
  Matrix_Init(&d, 4, 4, m);
  Matrix_Product(&a, &b, &d);
}

void Mat3_RotateX(float* m, float a) {
  float s, c;
  sincosf(a, &s, &c);
  const float v[9] = {1, 0, 0, 0, c, -s, 0, s, c};
  std::memcpy(m, v, sizeof v);
}

void Mat3_RotateY(float* m, float a) {
  float s, c;
  sincosf(a, &s, &c);
  const float v[9] = {c, 0, s, 0, 1, 0, -s, 0, c};
  std::memcpy(m, v, sizeof v);
}

void Mat3_RotateZ(float* m, float a) {
  float s, c;
  sincosf(a, &s, &c);
  const float v[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
  std::memcpy(m, v, sizeof v);
}

void Mat3_FromEulerXYZ(float* out, float a, float b, float c) {
  float sb, cb, sc, cc;
  sincosf(b, &sb, &cb);
  sincosf(c, &sc, &cc);
  // RotY(b) * RotZ(c) in closed form.
  float yz[9] = {cb * cc, -cb * sc, sb, sc, cc, 0.0f, -sb * cc, sb * sc, cb};
  float rx[9];
  Mat3_RotateX(rx, a);
  Matrix mx, myz, mo;
  Matrix_Init(&mx, 3, 3, rx);
  Matrix_Init(&myz, 3, 3, yz);
  Matrix_Init(&mo, 3, 3, out);
  Matrix_Product(&mx, &myz, &mo);
}
