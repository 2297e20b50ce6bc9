#include "calibration/detect/profile_template_finders.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/template_corners.h"
#include "calibration/detect/template_crop_scan.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"

namespace {

constexpr uint32_t kPredictionProfileTag = 19;  // the profile of layouts 8, 18, 19 and 28
constexpr float kClampHigh = 100000.0f;

// Threshold pairs (suppression, score) of the predicted-corner searches; the
// sixth only for layout 13.
constexpr float kPredictionThresholds[6][2] = {{0.36f, 0.23f}, {0.28f, 0.23f}, {0.2f, 0.23f},
                                               {0.14f, 0.15f}, {0.09f, 0.07f}, {0.06f, 0.07f}};

// The point buffer holds word 31 points.
bool Fits(int32_t count) { return count <= gv().maxPoints; }
// Predicted image positions: k x values, then k y values, from profile
// word `base`; clamped to 0..100000 (a value that is not a number gives
// no prediction).
struct Predictions {
  int32_t k = 0;
  float x[6] = {}, y[6] = {};
};

bool ReadPredictions(int32_t base, int32_t k, Predictions* p) {
  const CalibProfileRecord& profile = CalibProfile();
  if (base < 2 || base + 2 * k > kCalibProfileWords) return false;
  p->k = k;
  for (int32_t i = 0; i < k; ++i) {
    const float x = profile.F(base + i), y = profile.F(base + k + i);
    if (std::isnan(x) || std::isnan(y)) return false;
    p->x[i] = std::min(std::max(x, 0.0f), kClampHigh);
    p->y[i] = std::min(std::max(y, 0.0f), kClampHigh);
  }
  return true;
}

Predictions Shifted(const Predictions& p, float dx, float dy) {
  Predictions s = p;
  for (int32_t i = 0; i < p.k; ++i) s.x[i] += dx, s.y[i] += dy;
  return s;
}

// The crop around the predictions with margin m on every side.
bool PrepareAround(const Matrix* image, const Predictions& p, float m, int32_t radius, float factor,
                   TemplateCropScan* scan) {
  float X = 0.0f, Y = 0.0f, x = kClampHigh, y = kClampHigh;
  for (int32_t i = 0; i < p.k; ++i) {
    X = std::max(X, p.x[i]);
    Y = std::max(Y, p.y[i]);
    x = std::min(x, p.x[i]);
    y = std::min(y, p.y[i]);
  }
  return scan->Prepare(image, static_cast<int64_t>(x - m), static_cast<int64_t>(y - m),
                       static_cast<int64_t>(X - x + 2.0f * m), static_cast<int64_t>(Y - y + 2.0f * m), radius,
                       factor);
}

// For each prediction the list's nearest corner within radius (the first on
// equal distance); false when one has none.
bool NearestCorners(const TemplateCorner* list, int32_t n, const Predictions& p, float radius, float* out) {
  for (int32_t k = 0; k < p.k; ++k) {
    float best = radius * radius;
    int32_t idx = -1;
    for (int32_t i = 0; i < n; ++i) {
      const float dy = list[i].y - p.y[k], dx = list[i].x - p.x[k];
      const float d2 = dy * dy + dx * dx;
      if (d2 < best) best = d2, idx = i;
    }
    if (idx < 0) return false;
    out[2 * k] = list[idx].y;
    out[2 * k + 1] = list[idx].x;
  }
  return true;
}

// The floor patterns that follow the six corners.
struct PatternPlan {
  int32_t type;
  int32_t at[2];  // world point indexes (0-based)
  int32_t count;  // patterns
  float width, height;
  int32_t variant;
  int32_t Points() const { return 6 + count * CalibPattern_PointCount(type); }
};

bool FindPatterns(LUTOB* lut, int32_t cameraIndex, uint32_t camera, const Matrix* image, const PatternPlan& plan,
                  float* out) {
  const int32_t each = CalibPattern_PointCount(plan.type);
  for (int32_t i = 0; i < plan.count; ++i)
    if (CalibFindPattern(lut, cameraIndex, image, plan.type, 0, plan.variant, out + 2 * each * i,
                         600.0f, FinderWorldX(lut, camera, plan.at[i]) - 400.0f,
                         FinderWorldY(lut, camera, plan.at[i]) - 400.0f, plan.width, plan.height,
                         0.0f) == 0)
      return false;
  return true;
}

// What follows the six matched corners (written at points 0..5): the count
// to return, or 0 to try the next list.
enum class Finish { kPatterns, kLayout28Front };

uint32_t AfterCorners(LUTOB* lut, uint32_t camera, const Matrix* image, float* points, const PatternPlan& plan,
                      int32_t cameraIndex, Finish finish) {
  if (!FinderSolvePose(lut, camera, 6, 1).ok) return 0;
  std::vector<float> found(2 * static_cast<size_t>(plan.Points() - 6));
  if (finish == Finish::kPatterns) {
    if (!FindPatterns(lut, cameraIndex, camera, image, plan, found.data())) {
      FinderSolvePose(lut, camera, 6, 0);
      if (!FindPatterns(lut, cameraIndex, camera, image, plan, found.data())) return 0;
    }
    std::copy(found.begin(), found.end(), points + 12);
    lut->cornerCounts[camera - 1] = 6;  // the caller stores the result
    return static_cast<uint32_t>(plan.Points());
  }
  // Layout 28's front cameras solve the whole set before accepting it.
  for (int32_t attempt = 0; attempt < 2; ++attempt) {
    if (FindPatterns(lut, cameraIndex, camera, image, plan, found.data())) {
      std::copy(found.begin(), found.end(), points + 12);
      if (FinderSolvePose(lut, camera, plan.Points(), attempt == 0 ? 1 : 0).ok)
        return static_cast<uint32_t>(plan.Points());
    }
    if (attempt == 0) FinderSolvePose(lut, camera, 4, 0);
  }
  return 0;
}

// The search of the six predicted corners over the threshold pairs and the
// three lists of each, box radius `radius`.
uint32_t SixCornerSearch(LUTOB* lut, uint32_t camera, const Matrix* image, float* points, const Predictions& p,
                         int32_t radius, const PatternPlan& plan, int32_t cameraIndex, Finish finish) {
  const float m = static_cast<float>(image->cols) / 1280.0f * 90.0f;
  TemplateCropScan scan;
  if (!PrepareAround(image, p, m, radius, 1.0f, &scan)) return 0;
  const float R = static_cast<float>(image->rows) * 65.0f / 720.0f;
  for (int32_t t = 0; t < 5; ++t) {
    TemplateCornerLists cl;
    scan.Detect(kPredictionThresholds[t][0], kPredictionThresholds[t][1], &cl);
    for (int32_t j = 0; j < 3; ++j) {
      if (!NearestCorners(cl.lists[j], cl.counts[j], p, R, points)) continue;
      const uint32_t r = AfterCorners(lut, camera, image, points, plan, cameraIndex, finish);
      if (r != 0) return r;
    }
  }
  return 0;
}

// Profile line of the camera: set 0 lines 1 to 4, set 1 lines 5 to 8.
int32_t PredictionBase(uint32_t camera, int32_t set) { return (set == 0 ? 2 : 51) + 12 * (static_cast<int32_t>(camera) - 1); }

const PatternPlan kLayout18Plans[3] = {{12, {6, 12}, 2, 1400, 2000, 1}, {3, {6, 15}, 2, 2000, 2000, 0},
                                       {11, {6, 0}, 1, 2000, 6800, 0}};
const PatternPlan kLayout19Plans[3] = {{3, {6, 15}, 2, 2000, 2000, 1}, {2, {6, 18}, 2, 2000, 2600, 0},
                                       {10, {6, 0}, 1, 2000, 7400, 0}};
const PatternPlan kLayout28Plans[2] = {{12, {6, 12}, 2, 1400, 2000, 1}, {10, {6, 0}, 1, 2000, 7400, 0}};

uint32_t PredictedLayout(LUTOB* lut, uint32_t camera, Matrix* image, float* points, const PatternPlan& plan,
                         int32_t set, Finish finish) {
  if (!FinderCallValid(lut, camera, image, points) || !Fits(plan.Points())) return 0;
  lut->cornerCounts[camera - 1] = 6;
  Predictions p;
  if (!ReadPredictions(PredictionBase(camera, set), 6, &p)) return 0;
  return SixCornerSearch(lut, camera, image, points, p, 1, plan, static_cast<int32_t>(camera) - 1, finish);
}

int32_t PlanRow(uint32_t camera) { return camera == 1 ? 0 : camera == 2 ? 1 : 2; }

// Layout 13: the nearest corner c1 of a prediction, or the second nearest
// c2 when it is less than 15 pixels farther and lies more than 8 pixels
// above (rule 1), left of (rule 2) or right of (rule 3) c1.
bool Layout13Corner(const TemplateCorner* list, int32_t n, float py, float px, int32_t rule, float* out) {
  constexpr float kRadius = 40.0f;
  int32_t c1 = -1, c2 = -1;
  float d1 = 0.0f, d2 = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float d = std::hypot(list[i].y - py, list[i].x - px);
    if (c1 < 0 || d < d1) {
      c2 = c1, d2 = d1;
      c1 = i, d1 = d;
    } else if (c2 < 0 || d < d2) {
      c2 = i, d2 = d;
    }
  }
  if (c1 < 0 || !(d1 < kRadius)) return false;
  int32_t pick = c1;
  if (rule != 0 && c2 >= 0 && d2 - d1 < 15.0f) {
    const TemplateCorner &a = list[c1], &b = list[c2];
    if ((rule == 1 && b.y < a.y - 8.0f) || (rule == 2 && b.x < a.x - 8.0f) || (rule == 3 && b.x > a.x + 8.0f))
      pick = c2;
  }
  out[0] = list[pick].y;
  out[1] = list[pick].x;
  return true;
}

constexpr int32_t kLayout13Rules[4][4] = {{1, 0, 1, 0}, {0, 1, 0, 1}, {0, 3, 0, 2}, {0, 2, 0, 3}};

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Layout18) {
  (void)cols;
  (void)rows;
  return PredictedLayout(lut, camera, image, points, kLayout18Plans[camera >= 1 && camera <= 4 ? PlanRow(camera) : 0],
                         0, Finish::kPatterns);
}

AVM_LAYOUT_FINDER(CalibFind_Layout19) {
  (void)cols;
  (void)rows;
  return PredictedLayout(lut, camera, image, points, kLayout19Plans[camera >= 1 && camera <= 4 ? PlanRow(camera) : 0],
                         0, Finish::kPatterns);
}

uint32_t CalibFind_Layout28Set(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points,
                               int32_t set) {
  const bool front = camera == 1 || camera == 2;
  return PredictedLayout(lut, camera, image, points, kLayout28Plans[front ? 0 : 1], set != 0 ? 1 : 0,
                         front ? Finish::kLayout28Front : Finish::kPatterns);
}

AVM_LAYOUT_FINDER(CalibFind_Layout28) {
  const uint32_t r = CalibFind_Layout28Set(lut, camera, image, cols, rows, points, 0);
  if (r != 0) return r;
  const uint32_t bit = camera >= 1 && camera <= 3 ? camera - 1 : 3;
  if ((CalibProfile().words[50] >> bit & 1u) == 0) return 0;
  return CalibFind_Layout28Set(lut, camera, image, cols, rows, points, 1);
}

AVM_LAYOUT_FINDER(CalibFind_Layout8) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  if (camera >= 3) {
    if (cols < 2 || rows < 2 || cols > 64 || rows > 64) return 0;
    const int32_t N = (cols - 1) * (rows - 1);
    if (!Fits(N + 6) || FindChessboardByTemplates(image, cols, rows, points, 1, 0, 0, 0) == 0) return 0;
    FinderSolvePose(lut, camera, N, 1);
    float a[8], b[8];
    const int32_t index = static_cast<int32_t>(camera) - 1;
    if (CalibFindPattern(lut, index, image, 4, 0, 0, a, 600.0f,
                         FinderWorldX(lut, camera, N) - 300.0f,
                         FinderWorldY(lut, camera, N) - 300.0f, 1200.0f, 1200.0f, 0.0f) == 0 ||
        CalibFindPattern(lut, index, image, 4, 0, 0, b, 600.0f,
                         FinderWorldX(lut, camera, N + 2) - 300.0f,
                         FinderWorldY(lut, camera, N + 2) - 300.0f, 1200.0f, 1200.0f, 0.0f) == 0)
      return static_cast<uint32_t>(N);
    std::copy(a, a + 4, points + 2 * N);
    std::copy(b, b + 8, points + 2 * (N + 2));
    return static_cast<uint32_t>(N + 6);
  }
  if (CalibProfile().Tag() != kPredictionProfileTag) {
    // The board pieces of the two cameras advance the counter themselves; a
    // counter that does not move ends the repetition.
    int32_t tries = 0;
    uint32_t r = 0;
    for (;;) {
      const int32_t before = tries;
      r = camera == 1 ? CalibFind_Layout8Part(lut, camera, image, points, &tries)
                      : CalibFind_TemplateRearPart(lut, camera, image, points, &tries);
      lut->cornerCounts[camera - 1] = static_cast<int32_t>(r);
      if (r != 0 && FinderSolvePose(lut, camera, 1).ok) break;
      if (tries > 3 || tries <= before) break;
    }
    return r;
  }
  const PatternPlan plan = kLayout18Plans[0];
  if (!Fits(plan.Points())) return 0;
  lut->cornerCounts[camera - 1] = 6;
  Predictions p;
  if (!ReadPredictions(PredictionBase(camera, 0), 6, &p)) return 0;
  const int32_t index = camera == 1 ? 0 : 1;
  uint32_t r = SixCornerSearch(lut, camera, image, points, p, 1, plan, index, Finish::kPatterns);
  if (r != 0) return r;
  const float shifts[5][2] = {{0, 0}, {-10, 0}, {10, 0}, {0, -10}, {0, 10}};  // (column, row)
  for (const auto& s : shifts) {
    r = SixCornerSearch(lut, camera, image, points, Shifted(p, s[0], s[1]), 2, plan, index, Finish::kPatterns);
    if (r != 0) return r;
  }
  return 0;
}

uint32_t CalibFind_Layout13(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows, float* points,
                            int32_t variant) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points) || !Fits(8)) return 0;
  const int32_t c = static_cast<int32_t>(camera) - 1;
  lut->cornerCounts[c] = 4;
  Predictions p;
  if (!ReadPredictions(2 + 8 * c, 4, &p)) return 0;
  const float H = static_cast<float>(image->rows), Wd = static_cast<float>(image->cols);
  const float f = 960.0f / H;
  TemplateCropScan scan;
  if (!PrepareAround(image, p, H * 90.0f / 960.0f, 1, f, &scan)) return 0;
  const bool front = camera <= 2;
  const float residualLimit = std::max(1.0f, Wd / 1026.0f) * (front ? 1.54f : 1.95f);
  for (int32_t t = 0; t < 6; ++t) {
    TemplateCornerLists cl;
    scan.Detect(kPredictionThresholds[t][0], kPredictionThresholds[t][1], &cl);
    for (int32_t j = 0; j < 3; ++j) {
      bool all = true;
      for (int32_t k = 0; k < 4 && all; ++k) {
        const int32_t rule = variant == 1 ? kLayout13Rules[c][k] : 0;
        all = Layout13Corner(cl.lists[j], cl.counts[j], p.y[k] * f, p.x[k] * f, rule, points + 2 * k);
      }
      if (!all) continue;
      for (int32_t i = 0; i < 8; ++i) points[i] /= f;
      // The two upright pairs of the front cameras must look alike.
      if (front && t < 2 &&
          std::fabs(std::fabs(points[0] - points[2]) - std::fabs(points[4] - points[6])) > H * 8.0f / 960.0f)
        continue;
      if (const FinderSolve fit = FinderSolvePose(lut, camera, 4, 0);
          !fit.ok || !(fit.rms < residualLimit))
        continue;
      if (front) return 4;
      float a[4], b[4];
      if (CalibFindPattern(lut, c, image, 7, 0, 1, a, 200.0f, FinderWorldX(lut, camera, 4) - 600.0f,
                           FinderWorldY(lut, camera, 4) - 600.0f, 1200.0f, 1400.0f, 0.0f) == 0)
        return 4;
      std::copy(a, a + 4, points + 8);
      if (!FinderSolvePose(lut, camera, 6, 0).ok) return 4;
      if (CalibFindPattern(lut, c, image, 7, 0, 2, b, 200.0f, FinderWorldX(lut, camera, 6) - 600.0f,
                           FinderWorldY(lut, camera, 6) - 700.0f, 1200.0f, 1600.0f, 0.0f) == 0)
        return 6;
      std::copy(b, b + 4, points + 12);
      return FinderSolvePose(lut, camera, 8, 1).ok ? 8 : 6;
    }
  }
  return 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout13Auto) {
  if (camera != 1 && camera != 2) {
    const uint32_t n = CalibFind_Layout13(lut, camera, image, cols, rows, points, 0);
    if (n == 8) return n;
  }
  return CalibFind_Layout13(lut, camera, image, cols, rows, points, 1);
}
