#include "frame/vec2.h"

#include <cmath>

void Vec2_Zero(Vec2* v) { v->x = v->y = 0.0f; }

void Vec2_Set(Vec2* v, float x, float y) {
  v->x = x;
  v->y = y;
}

void Vec2_SetInt(Vec2* v, int ix, int iy) {
  v->x = static_cast<float>(ix);
  v->y = static_cast<float>(iy);
}

Vec2 Vec2_Copy(Vec2* dst, const Vec2* src) {
  *dst = *src;
  return *dst;
}

Vec2 Vec2_Add(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
Vec2 Vec2_Sub(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
Vec2 Vec2_Scale(Vec2 a, float s) { return {a.x * s, a.y * s}; }
Vec2 Vec2_DivScalar(Vec2 a, float s) { return {a.x / s, a.y / s}; }
Vec2 Vec2_Negate(Vec2 a) { return {-a.x, -a.y}; }
Vec2 Vec2_MulMat2(Vec2 a, const float m[4]) { return {a.x * m[0] + a.y * m[1], a.x * m[2] + a.y * m[3]}; }

float Vec2_Length(const Vec2* v) { return std::sqrt(std::fma(v->x, v->x, v->y * v->y)); }

float Vec2_LengthOf(float x, float y) { return std::sqrt(std::fma(x, x, y * y)); }

float Vec2_Dot(const Vec2* a, const Vec2* b) { return std::fma(a->x, b->x, a->y * b->y); }

Vec2 Vec2_Make(float x, float y) { return {x, y}; }

Vec2 Vec2_FromInt(int ix, int iy) { return {static_cast<float>(ix), static_cast<float>(iy)}; }

float Vec2_MinCornerDistance(Vec2 p, const Vec2 corners[4]) {
  float best = 0.0f;
  for (int k = 0; k < 4; ++k) {
    const Vec2 d = Vec2_Sub(corners[k], p);
    const float len = Vec2_Length(&d);
    if (k == 0 || len < best) best = len;
  }
  return best;
}
