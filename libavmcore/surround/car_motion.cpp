#include "surround/car_motion.h"

#include <cmath>

#include "frame/clock.h"
#include "frame/global_variables.h"
#include "frame/numeric_constants.h"

namespace {

uint32_t gDriveLast = 0;
uint32_t gSceneLast = 0;

float ElapsedMs(int32_t dtMs, uint32_t* last) {
  if (dtMs >= 1) return static_cast<float>(dtMs);
  const uint32_t now = GetTickMs();
  uint32_t dt = now - *last;
  if (dt > 1000u) dt = 1000u;
  if (*last == 0) dt = 0;
  *last = now;
  return static_cast<float>(dt);
}

struct Turn {
  bool straight;
  float d;        // distance, mm
  float R, py;    // turning radius and pivot row, mm
  float s, c;
};

Turn Motion(float dt, float viewLength, float wheelBase, float axleOffset, float speed, float steer) {
  Turn t{};
  t.d = speed * dt / 3.6f;
  t.straight = steer > -0.01f && steer < 0.01f;
  if (t.straight) return t;
  t.R = -wheelBase / std::tan(DegToRadDivFirst(steer));
  t.py = viewLength * 0.5f - axleOffset - static_cast<float>(gv().f20_23[1]);
  float theta = t.d / std::sqrt(wheelBase * wheelBase + t.R * t.R);
  if (steer > 0.0f) theta = -theta;
  t.s = std::sin(theta);
  t.c = std::cos(theta);
  return t;
}

}  // namespace

void CarMotion_ResetClocks() {
  gDriveLast = 0;
  gSceneLast = 0;
}

void CalcCarDriveMatrix(int32_t dtMs, float* out, float viewLength, float viewWidth, float wheelBase,
                        float axleOffset, float speed, float steer) {
  const float dt = ElapsedMs(dtMs, &gDriveLast);
  const float sx = 2.0f / viewWidth, sy = -2.0f / viewLength;
  const Turn t = Motion(dt, viewLength, wheelBase, axleOffset, speed, steer);
  if (t.straight) {
    const float m[9] = {sx, 0, 0, 0, sy, -t.d * sy, 0, 0, 1};
    for (int i = 0; i < 9; ++i) out[i] = m[i];
    return;
  }
  const float m[9] = {sx * t.c, -sx * t.s, sx * (t.py * t.s - t.R * t.c + t.R),
                      sy * t.s, sy * t.c,  sy * (-t.R * t.s - t.py * t.c + t.py),
                      0,        0,         1};
  for (int i = 0; i < 9; ++i) out[i] = m[i];
}

void CalcCarSceneMatrix(int32_t dtMs, float* out, float viewLength, float /*ignoredWidth*/, float wheelBase,
                        float axleOffset, float speed, float steer, float xMin, float yMin, float xMax,
                        float yMax) {
  const float dt = ElapsedMs(dtMs, &gSceneLast);
  const float fx = 1.0f / (xMax - xMin), fy = 1.0f / (yMax - yMin);
  const float ox = 0.5f - (xMin + xMax) * 0.5f / (xMax - xMin);
  const float oy = 0.5f - (yMin + yMax) * 0.5f / (yMax - yMin);
  const Turn t = Motion(dt, viewLength, wheelBase, axleOffset, speed, steer);
  if (t.straight) {
    const float m[9] = {fx, 0, ox, 0, fy, oy - fy * t.d, 0, 0, 1};
    for (int i = 0; i < 9; ++i) out[i] = m[i];
    return;
  }
  const float m[9] = {fx * t.c, -fx * t.s, ox + fx * (t.py * t.s - t.R * t.c + t.R),
                      fy * t.s, fy * t.c,  oy + fy * (-t.R * t.s - t.py * t.c + t.py),
                      0,        0,         1};
  for (int i = 0; i < 9; ++i) out[i] = m[i];
}

int IsFarDistance(const int32_t point[2]) {
  return (static_cast<float>(point[1]) >= 5800.0f || static_cast<float>(point[0]) >= 2300.0f) ? 1 : 0;
}

float BlendWeight_Atan(float a, float b, float c, float d) {
  return 1.0f - std::atan2(a / c, b / d) * 180.0f / kPi / 90.0f;
}
