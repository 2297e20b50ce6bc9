// The checks that judge found blocks: depth, tilt, repeat and the corner
// order between the two cameras that see one block.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "calibration/solve/block_solve.h"
#include "camera/rotation.h"
#include "frame/geometry_utils.h"
#include "frame/log.h"
#include "frame/mat3.h"
#include "frame/numeric_constants.h"

namespace {

float Direction(const float c[8], int p, int q) {
  return std::atan2(c[2 * p] - c[2 * q], c[2 * p + 1] - c[2 * q + 1]);
}

void Reorder(float b[8], const int order[4]) {
  float old[8];
  memcpy(old, b, sizeof old);
  for (int k = 0; k < 4; ++k) {
    b[2 * k] = old[2 * order[k]];
    b[2 * k + 1] = old[2 * order[k] + 1];
  }
}

}  // namespace

bool CheckBlockHigh(float depthA, float depthB, float limit) {
  const float hi = std::max(depthA, depthB), lo = std::min(depthA, depthB);
  const float ratio = (hi - lo) / hi;
  AvmLog("CheckBlockHigh %f \n", ratio);
  return ratio <= limit;
}

bool CheckBlockAngle(const float rA[3], const float rB[3], float* yaw, float limit) {
  const float negA[3] = {-rA[0], -rA[1], -rA[2]};
  float Ra[9], Rb[9], M[9];
  RodriguesArr(negA, Ra, nullptr);
  RodriguesArr(rB, Rb, nullptr);
  Mat3_Mul(Ra, Rb, M);
  float a[3];
  Matrix m{3, 3, M};
  AnglesFromRotation(&m, a);
  if (yaw != nullptr) *yaw = a[0];
  AvmLog("CheckBlockAngle %f %f \n", a[1], a[2]);
  return std::fabs(a[1]) <= limit && std::fabs(a[2]) <= limit;
}

bool CheckCornerRepeat(const float stored[8], int32_t block, int32_t position, const float corners[8]) {
  if (position < ((block % 2 == 0) ? 11 : 10)) return false;
  float dr = 0.0f, dc = 0.0f;
  for (int k = 0; k < 4; ++k) {
    dr += corners[2 * k] - stored[2 * k];
    dc += corners[2 * k + 1] - stored[2 * k + 1];
  }
  dr /= 4.0f;
  dc /= 4.0f;
  const float d2 = dr * dr + dc * dc;
  if (d2 < 100.0f) {
    AvmLog("CheckCornerRepeat %f \n", d2);
    return true;
  }
  return false;
}

int32_t CheckBlockCornerOrder(int32_t kind, const float a[8], float b[8], int32_t attempt) {
  struct Kind {
    int a[2], b0[2], b1[2], limit;
  };
  static const Kind kKinds[6] = {
      {{1, 0}, {2, 3}, {0, 2}, 0}, {{1, 0}, {1, 0}, {3, 1}, 1}, {{2, 3}, {2, 3}, {0, 2}, 1},
      {{2, 3}, {1, 0}, {3, 1}, 0}, {{0, 2}, {2, 3}, {0, 2}, 2}, {{2, 0}, {1, 0}, {3, 1}, 3},
  };
  static const float kLimits[2][4][2] = {
      {{0.0f, kPi / 2}, {-kPi / 2, 0.0f}, {-kPi / 8, 7 * kPi / 16}, {-7 * kPi / 16, kPi / 8}},
      {{-kPi / 16, kPi / 2}, {-kPi / 2, kPi / 16}, {-kPi / 8, 7 * kPi / 16}, {-7 * kPi / 16, kPi / 8}},
  };
  if (kind < 1 || kind > 6) return 0;
  const Kind& k = kKinds[kind - 1];
  const int t = attempt == 0 ? 0 : 1;
  const int* pb = t == 0 ? k.b0 : k.b1;
  float d = AngleDiffWrapped(Direction(a, k.a[0], k.a[1]), Direction(b, pb[0], pb[1]));
  if (t == 0) d = AngleDiffWrapped(d, kPi / 2);
  const float lo = kLimits[t][k.limit][0], hi = kLimits[t][k.limit][1];
  int32_t result = 0;
  if (d > hi) {
    static const int kTurn1[4] = {1, 3, 0, 2};
    Reorder(b, kTurn1);
    result = 1;
  } else if (d < lo) {
    static const int kTurn2[4] = {2, 0, 3, 1};
    Reorder(b, kTurn2);
    result = 2;
  }
  AvmLog("AD~~~~~~~~~~~~~~~~~~~~~~ %d %d %d %f \n", kind, t, result, d);
  return result;
}
