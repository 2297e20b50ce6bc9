#include "frame/geometry_utils.h"

#include <cmath>

#include "frame/vec2.h"

float AngleDiffWrapped(float a, float b) {
  float d = a - b;
  if (d < -3.1415927f) d += 6.2831855f;
  if (d > 3.1415927f) d -= 6.2831855f;
  return d;
}

float Vec2_AngleBetween(const float p[6]) {
  Vec2 u, v;
  Vec2_Set(&u, p[0] - p[2], p[1] - p[3]);
  Vec2_Set(&v, p[4] - p[2], p[5] - p[3]);
  float c = Vec2_Dot(&u, &v) / (Vec2_Length(&u) * Vec2_Length(&v));
  if (c > 1.0f) c = 1.0f;
  if (c < -1.0f) c = -1.0f;
  return std::acos(c);
}

int Line_Intersect(const float p[8], float out[2]) {
  const bool firstFlat = p[1] == p[5];
  const bool secondFlat = p[3] == p[7];
  if (firstFlat && secondFlat) return 0;
  // Each line as x = x0 + k * (y - y0).
  const float kA = firstFlat ? 0.0f : (p[0] - p[4]) / (p[1] - p[5]);
  const float kB = secondFlat ? 0.0f : (p[2] - p[6]) / (p[3] - p[7]);
  float y;
  if (firstFlat) {
    y = p[1];
  } else if (secondFlat) {
    y = p[3];
  } else {
    if (kA == kB) return 0;
    y = (p[1] * kA - p[3] * kB + p[2] - p[0]) / (kA - kB);
  }
  out[1] = y;
  out[0] = firstFlat ? p[2] + kB * (y - p[3]) : p[0] + kA * (y - p[1]);
  return 1;
}

int SolveQuadratic(float* r1, float* r2, float a, float b, float c) {
  const float disc = std::fma(b, b, -4.0f * a * c);
  if (disc > 0.0f) {
    const float s = std::sqrt(disc);
    *r1 = (s - b) / (2.0f * a);
    *r2 = (-b - s) / (2.0f * a);
    return 2;
  }
  if (disc == 0.0f) {
    *r1 = -b / (2.0f * a);
    return 1;
  }
  return 0;
}

bool IsNaN(float v) { return v != v; }
