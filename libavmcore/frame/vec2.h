#pragma once
// 2-D vectors of f32. A 2 x 2 matrix is four floats m0, m1, m2, m3 in row
// order.

struct Vec2 {
  float x;
  float y;
};

void Vec2_Zero(Vec2* v);
void Vec2_Set(Vec2* v, float x, float y);
void Vec2_SetInt(Vec2* v, int ix, int iy);
// Copies src into dst and returns the copy.
Vec2 Vec2_Copy(Vec2* dst, const Vec2* src);
Vec2 Vec2_Add(Vec2 a, Vec2 b);
Vec2 Vec2_Sub(Vec2 a, Vec2 b);
Vec2 Vec2_Scale(Vec2 a, float s);
// No test for s == 0: the division's infinities come back.
Vec2 Vec2_DivScalar(Vec2 a, float s);
Vec2 Vec2_Negate(Vec2 a);
// (a.x m0 + a.y m1, a.x m2 + a.y m3).
Vec2 Vec2_MulMat2(Vec2 a, const float m[4]);
// sqrt(x*x + y*y), the sum as one fused multiply-add.
float Vec2_Length(const Vec2* v);
float Vec2_LengthOf(float x, float y);
// a.x*b.x + a.y*b.y as one fused multiply-add.
float Vec2_Dot(const Vec2* a, const Vec2* b);
Vec2 Vec2_Make(float x, float y);
Vec2 Vec2_FromInt(int ix, int iy);
// Smallest distance from p to one of the four corners.
float Vec2_MinCornerDistance(Vec2 p, const Vec2 corners[4]);
