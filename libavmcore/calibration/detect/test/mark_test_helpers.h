#pragma once
// Helpers of the mark-detector tests: rendered conditions (lens model,
// distance, tilt, blur, noise) and matching of found quads and points with
// the truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "detect_scene_helpers.h"
#include "testsupport/mark_scenes.h"

// One rendered condition: the view (lens model, picture size, tilt, turn)
// and the picture's blur and noise, plus a scale of the mark sizes (near
// marks large, far marks small).
struct MarkCondition {
  std::string name;
  int model;
  float tiltDeg, yawDeg;
  float scale;  // mark size factor
  float blur, noise;
};

inline std::vector<MarkCondition> MarkConditions(int width = 640) {
  (void)width;
  std::vector<MarkCondition> c;
  for (int m = 1; m <= 4; ++m) {
    c.push_back({"near_sharp", m, 0.0f, 0.0f, 1.3f, 0.0f, 0.0f});
    c.push_back({"far_blur1_noise2", m, 20.0f, 0.0f, 0.8f, 1.0f, 2.0f});
    c.push_back({"tilt45_turned_blur1.5_noise2", m, 45.0f, 12.0f, 1.0f, 1.5f, 2.0f});
  }
  return c;
}

inline MarkScene MarkConditionScene(const MarkCondition& c, int width, int height) {
  BoardSceneSpec v;
  v.model = c.model;
  v.width = width;
  v.height = height;
  v.tiltDeg = c.tiltDeg;
  v.yawDeg = c.yawDeg;
  return MarkScene_Make(v);
}

inline RenderOptions MarkConditionOptions(const MarkCondition& c, uint32_t seed) {
  RenderOptions o;
  o.blurSigma = c.blur;
  o.noiseSigma = c.noise;
  o.seed = seed;
  return o;
}

// Largest distance between quad corners and truth corners in order
// (8 floats each); a large number when far apart.
inline double QuadError(const float* got, const std::vector<float>& truth) {
  double e = 0.0;
  for (int i = 0; i < 4; ++i)
    e = std::max(e, static_cast<double>(std::hypot(got[2 * i] - truth[2 * i], got[2 * i + 1] - truth[2 * i + 1])));
  return e;
}

// Running error figures of one condition, printed for the record.
struct ErrorTally {
  double mean = 0.0, max = 0.0;
  int n = 0;
  void Add(double e) {
    mean = (mean * n + e) / (n + 1);
    ++n;
    max = std::max(max, e);
  }
};

inline void PrintTally(const char* what, const std::string& condition, int model, const ErrorTally& t) {
  std::printf("[errors] %s %s model %d: n %d mean %.3f max %.3f px\n", what, condition.c_str(), model, t.n, t.mean,
              t.max);
}

// Systematic part of a quad's corner errors (8 floats each, same order):
// the mean offset of the corners along the truth's outward diagonals (a
// square found too large or too small: positive or negative) and the shift
// of the corner mean (the square found displaced). An outline taken on the
// wrong side of the edge, or a half-pixel slip in the coordinates, shows in
// one of the two; whole-pixel rounding alone averages out of both.
struct QuadBias {
  double outward;
  double shift;
};

inline QuadBias QuadSystematicError(const float* got, const std::vector<float>& truth) {
  double cr = 0.0, cc = 0.0, gr = 0.0, gc = 0.0;
  for (int i = 0; i < 4; ++i) {
    cr += 0.25 * truth[2 * i];
    cc += 0.25 * truth[2 * i + 1];
    gr += 0.25 * got[2 * i];
    gc += 0.25 * got[2 * i + 1];
  }
  double outward = 0.0;
  for (int i = 0; i < 4; ++i) {
    const double ur = truth[2 * i] - cr, uc = truth[2 * i + 1] - cc, n = std::hypot(ur, uc);
    outward += 0.25 * ((got[2 * i] - truth[2 * i]) * ur + (got[2 * i + 1] - truth[2 * i + 1]) * uc) / n;
  }
  return {outward, std::hypot(gr - cr, gc - cc)};
}

// Bound of a corner taken as a pixel of a dark square's outline, with no
// sub-pixel step: the outline pixel nearest a sharp edge lies 0 to 1 px
// from it along each axis, so a corner is off by up to sqrt(2) = 1.41 px
// (marker quads measured up to 1.14 px head-on). Blur of sigma s rounds a
// corner of angle a: the threshold contour crosses its bisector about
// 0.77 s sin(45 deg) / sin(a / 2) inside it, 0.77 s for a right angle (far,
// s = 1: bound 2.18 px, measured 0.95). A square tilted by t shows corners
// of 2 atan(cos t), 70.5 degrees at t = 45 (s = 1.5: bound 2.83 px,
// measured 2.03).
inline double OutlineCornerBound(const MarkCondition& c) {
  const double t = c.tiltDeg * M_PI / 180.0, halfAngle = std::atan(std::cos(t));
  return std::sqrt(2.0) + 0.77 * c.blur * std::sin(M_PI / 4.0) / std::sin(halfAngle);
}
