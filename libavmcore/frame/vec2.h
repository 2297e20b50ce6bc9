#pragma once
// 2-D vectors of f32.

struct Vec2 {
  float x;
  float y;
};

void Vec2_Set(Vec2* v, float x, float y);
// sqrt(x*x + y*y), the sum as one fused multiply-add.
float Vec2_Length(const Vec2* v);
// a.x*b.x + a.y*b.y as one fused multiply-add.
float Vec2_Dot(const Vec2* a, const Vec2* b);
