#include "frame/vec2.h"

#include <cmath>

void Vec2_Set(Vec2* v, float x, float y) {
  v->x = x;
  v->y = y;
}

float Vec2_Length(const Vec2* v) { return std::sqrt(std::fma(v->x, v->x, v->y * v->y)); }

float Vec2_Dot(const Vec2* a, const Vec2* b) { return std::fma(a->x, b->x, a->y * b->y); }
