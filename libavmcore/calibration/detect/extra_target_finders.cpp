// Layouts 14, 20 and 26: a base target (a marker board, or a chessboard for
// layout 14) solves the camera's pose first; each further target is then
// looked for only in a floor window around its known world position, its
// points are appended behind those found so far and the pose is solved
// again. The count returned is the number of valid leading points.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/extra_target_finders.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/predicted_target_finders.h"
#include "calibration/detect/template_corners.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "toolkit/matrix.h"

namespace {

// The camera's point and world-point buffers hold word 31 points: a target
// whose points would lie past them is not searched.
bool Fits(int32_t count) { return count <= gv().maxPoints; }
// Ground-view resolutions (floor units a view pixel), of which the first
// three are tried: the low side cameras start coarse.
void Resolutions(const LUTOB* lut, uint32_t camera, float out[3]) {
  static const float kDefault[3] = {8, 16, 24}, kLowSide[3] = {24, 16, 8};
  const float* table = (camera >= 3 && lut->camH < 710) ? kLowSide : kDefault;
  std::copy(table, table + 3, out);
}

// One further target: a pattern in a floor window, all its points or one
// of them (pick >= 0).
struct Search {
  int32_t type;
  int32_t variant;
  float size;
  int32_t anchor;  // world point the window is placed by
  float dx, dy;    // window corner = anchor - (dx, dy)
  float width, height;
  int32_t pick;
};

int32_t Points(const Search& s) { return s.pick >= 0 ? 1 : CalibPattern_PointCount(s.type); }

int32_t RunSearch(LUTOB* lut, uint32_t camera, const Matrix* image, const Search& s, float* out) {
  float found[2 * 16];
  if (CalibFindPattern(lut, static_cast<int32_t>(camera) - 1, image, s.type, 0, s.variant, found,
                       s.size, FinderWorldX(lut, camera, s.anchor) - s.dx,
                       FinderWorldY(lut, camera, s.anchor) - s.dy, s.width, s.height, 0.0f) == 0)
    return 0;
  if (s.pick >= 0)
    memcpy(out, found + 2 * s.pick, 2 * sizeof(float));
  else
    memcpy(out, found, 2 * sizeof(float) * static_cast<size_t>(Points(s)));
  return 1;
}

// The extend step: with n valid points solve, run every search; when all
// succeed their points go behind the n and the pose is solved again. n + k
// when that solve succeeds, else n; rms (when given) gets the residual of
// that last solve whenever it ran.
int32_t Extend(LUTOB* lut, uint32_t camera, const Matrix* image, int32_t n, const Search* searches,
               int32_t count, float* points, float* rms = nullptr) {
  int32_t k = 0;
  int32_t maxAnchor = 0;
  for (int32_t i = 0; i < count; ++i) {
    k += Points(searches[i]);
    maxAnchor = std::max(maxAnchor, searches[i].anchor + 1);
  }
  if (!Fits(n + k) || !Fits(maxAnchor)) return n;
  FinderSolvePose(lut, camera, n, 1);
  std::vector<float> found(2 * static_cast<size_t>(k));
  for (int32_t i = 0, at = 0; i < count; at += Points(searches[i]), ++i)
    if (RunSearch(lut, camera, image, searches[i], found.data() + 2 * at) == 0) return n;
  memcpy(points + 2 * n, found.data(), found.size() * sizeof(float));
  const FinderSolve fit = FinderSolvePose(lut, camera, n + k, 1);
  if (rms != nullptr) *rms = fit.rms;
  return fit.ok ? n + k : n;
}

// Ground-view square searches.
struct SquareInView {
  int32_t extremeCorners;
  int32_t multi;  // Square_FindMultiThreshold, else Square_Find at offset
  float offset;
  float side;     // floor units
  float scale;    // set per view
  bool invert;
  float viewPoints[8];
};

int32_t FindSquareInView(const Matrix* view, float* found, void* ctx) {
  auto* s = static_cast<SquareInView*>(ctx);
  const float side = s->side / s->scale;
  std::vector<float> inverted;
  Matrix inv = *view;
  if (s->invert) {
    inverted.assign(view->data, view->data + static_cast<size_t>(view->cols) * view->rows);
    for (float& v : inverted) v = 1.0f - v;
    inv.data = inverted.data();
  }
  const int32_t r = s->multi != 0 ? Square_FindMultiThreshold(&inv, s->extremeCorners, found, side, side)
                                  : Square_Find(&inv, s->extremeCorners, found, side, side, s->offset);
  if (r != 0) memcpy(s->viewPoints, found, sizeof s->viewPoints);
  return r;
}

// The square in the floor window at the listed resolutions, the first view
// that shows it wins; its four corners come back as image points.
int32_t SquareOnFloor(LUTOB* lut, uint32_t camera, const Matrix* image, const FloorWindow& window,
                      const float* scales, int32_t nScales, SquareInView* s, float* out) {
  for (int32_t i = 0; i < nScales; ++i) {
    s->scale = scales[i];
    if (TopView_Search(lut, static_cast<int32_t>(camera) - 1, image, window, scales[i], 4, FindSquareInView, s,
                       out) != 0)
      return 1;
  }
  return 0;
}

// A zeroed image of the camera image's size holding the block of the image
// that the profile's region for camera 3 (line 1) or 4 (line 2) names.
// 0 when the region misses the image.
int32_t RegionCopy(const Matrix* image, uint32_t camera, std::vector<float>* buffer, Matrix* out) {
  const CalibProfileRecord& prof = CalibProfile();
  const int32_t base = 2 + 4 * (static_cast<int32_t>(camera) - 3);
  int64_t edge[4];
  for (int32_t i = 0; i < 4; ++i) {
    const float v = prof.F(base + i);
    if (!std::isfinite(v)) return 0;
    edge[i] = static_cast<int64_t>(std::max(-1.0e9f, std::min(1.0e9f, v)));
  }
  ImageBox box;
  if (ImageBox_Clip(image->cols, image->rows, edge[0], edge[1], edge[2] - edge[0], edge[3] - edge[1], &box) == 0)
    return 0;
  buffer->assign(static_cast<size_t>(image->cols) * image->rows, 0.0f);
  *out = Matrix{image->cols, image->rows, buffer->data()};
  Matrix_CopyBlock(image, out, box.cols, box.rows, box.left, box.top, box.left, box.top);
  return 1;
}

// Layout 26A, camera 1: the square beside world point 5 must stand upright
// in a ground view of the solved pose.
int32_t Layout26PoseCheck(LUTOB* lut, const Matrix* image) {
  if (!Fits(5)) return 0;
  SquareInView s{0, 1, 0.0f, 500.0f, 8.0f, true, {}};
  float out[8];
  if (TopView_Search(lut, 0, image, {FinderWorldX(lut, 1, 4), FinderWorldY(lut, 1, 4), 112 * 8.0f, 112 * 8.0f},
                     8.0f, 4, FindSquareInView, &s, out) == 0)
    return 0;
  const float* q = s.viewPoints;
  const float d = std::min(std::fabs(q[1] - q[5]), std::fabs(q[3] - q[7]));
  return d < 2.5f ? 1 : 0;
}

// Cameras 3 and 4 of layout 26: two squares (A at P9, B at P13) in variant
// 0 and then 100, then a third at P17. on: the image the squares are
// searched in.
struct SideRule {
  float size, window;
  bool countEightBeforeSolve;
  bool thirdByPattern;
};

uint32_t Layout26Side(LUTOB* lut, uint32_t camera, const Matrix* on, uint32_t r, float* points,
                      const SideRule& rule) {
  if (!Fits(20)) return r;
  bool pair = false;
  for (int32_t u : {0, 100}) {
    if (rule.countEightBeforeSolve) lut->cornerCounts[camera - 1] = 8;
    FinderSolvePose(lut, camera, 1);
    float a[8], b[8];
    const Search sa{1, u, rule.size, 8, 500.0f, 500.0f, rule.window, rule.window, -1};
    const Search sb{1, u, rule.size, 12, 500.0f, 500.0f, rule.window, rule.window, -1};
    if (RunSearch(lut, camera, on, sa, a) == 0 || RunSearch(lut, camera, on, sb, b) == 0) continue;
    memcpy(points + 16, a, sizeof a);
    memcpy(points + 24, b, sizeof b);
    if (FinderSolvePose(lut, camera, 16, 1).ok) {
      pair = true;
      break;
    }
  }
  if (!pair) return r;
  float c[8];
  if (rule.thirdByPattern) {
    const Search sc{1, 100, rule.size, 16, 500.0f, 500.0f, rule.window, rule.window, -1};
    if (RunSearch(lut, camera, on, sc, c) == 0) return r + 8;
  } else {
    float scales[3];
    Resolutions(lut, camera, scales);
    SquareInView s{1, 1, 0.0f, 900.0f, 0.0f, false, {}};
    if (SquareOnFloor(lut, camera, on,
                      {FinderWorldX(lut, camera, 16) - 500.0f, FinderWorldY(lut, camera, 16) - 500.0f, 1900.0f,
                       1900.0f},
                      scales, 3, &s, c) == 0)
      return r + 8;
  }
  memcpy(points + 32, c, sizeof c);
  return FinderSolvePose(lut, camera, 20, 1).ok ? r + 12 : r + 8;
}

// Camera 2 of layout 26 after its marker board: word 82 picks the two lower
// square edges or the two narrow squares.
uint32_t Layout26Rear(LUTOB* lut, const Matrix* image, uint32_t r, float* points) {
  const auto n = static_cast<int32_t>(r);
  if (gv().layout26Cam2Variant == 0) {
    const Search s[2] = {{14, 0, 900.0f, 8, 400.0f, 700.0f, 1300.0f, 1000.0f, -1},
                         {14, 0, 900.0f, 10, 400.0f, 700.0f, 1300.0f, 1000.0f, -1}};
    return static_cast<uint32_t>(Extend(lut, 2, image, n, s, 2, points));
  }
  const Search s[2] = {{16, 0, 200.0f, 8, 200.0f, 200.0f, 300.0f, 400.0f, 3},
                       {16, 0, 200.0f, 9, 100.0f, 200.0f, 300.0f, 400.0f, 2}};
  return static_cast<uint32_t>(Extend(lut, 2, image, n, s, 2, points));
}

}  // namespace

void Layout26_InvertImage(const Matrix* image, std::vector<float>* buffer, Matrix* out) {
  const size_t n = static_cast<size_t>(image->cols) * image->rows;
  double sum = 0.0;
  for (size_t i = 0; i < n; ++i) sum += 1.0 - image->data[i];
  const auto m = static_cast<float>(n > 0 ? sum / static_cast<double>(n) : 0.0);
  const float c = m + 0.1f <= 0.75f ? m + 0.1f : (m <= 0.75f ? 0.75f : m);
  buffer->resize(n);
  for (size_t i = 0; i < n; ++i) (*buffer)[i] = std::min(1.0f - image->data[i], c);
  *out = Matrix{image->cols, image->rows, buffer->data()};
}

AVM_LAYOUT_FINDER(CalibFind_Layout26A) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  if (camera >= 3) {
    std::vector<float> regionData;
    Matrix region{0, 0, nullptr};
    if (RegionCopy(image, camera, &regionData, &region) == 0) return 0;
    const uint32_t r = CalibFindMarkerBoard(lut, camera, &region, 3, points);
    if (r == 0) return 0;
    return Layout26Side(lut, camera, image, r, points, SideRule{900.0f, 1900.0f, false, false});
  }
  if (camera == 2) {
    uint32_t r = CalibFindMarkerBoard(lut, 2, image, 3, points);
    if (r == 0) r = CalibFindMarkerBoard(lut, 2, image, 5, points);
    if (r == 0) return 0;
    return Layout26Rear(lut, image, r, points);
  }
  const uint32_t r = CalibFindMarkerBoard(lut, 1, image, 3, points);
  if (r == 0) return 0;
  FinderSolvePose(lut, 1, 8, 1);
  return Layout26PoseCheck(lut, image) != 0 ? r : 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout26B) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  std::vector<float> invertedData;
  Matrix inverted{0, 0, nullptr};
  Layout26_InvertImage(image, &invertedData, &inverted);
  if (camera >= 3) {
    std::vector<float> regionData;
    Matrix region{0, 0, nullptr};
    if (RegionCopy(&inverted, camera, &regionData, &region) == 0) return 0;
    const uint32_t r = CalibFindMarkerBoard(lut, camera, &region, 3, points);
    if (r == 0) return 0;
    return Layout26Side(lut, camera, &inverted, r, points, SideRule{500.0f, 1500.0f, true, true});
  }
  if (camera == 2) {
    const bool pair = gv().layout26Cam2Variant != 0;
    uint32_t r = pair ? 0 : CalibFindMarkerBoard(lut, 2, &inverted, 3, points);
    if (r == 0) r = CalibFindMarkerBoard(lut, 2, &inverted, 6, points);
    if (r == 0) return 0;
    const uint32_t m = Layout26Rear(lut, image, r, points);
    if (!pair || m != r + 2) return m;
    // The middle square behind the pair counts only with a tight fit.
    const Search s{15, 0, 500.0f, 10, 200.0f, 200.0f, 900.0f, 900.0f, -1};
    float rms = 0.0f;
    const int32_t got = Extend(lut, 2, image, static_cast<int32_t>(m), &s, 1, points, &rms);
    return got == static_cast<int32_t>(m) + 4 && rms < 2.5f ? r + 6 : r + 2;
  }
  const uint32_t r = CalibFindMarkerBoard(lut, camera, &inverted, 3, points);
  if (r == 0 || camera != 1) return r;
  const Search s{15, 0, 500.0f, 8, 200.0f, 200.0f, 900.0f, 900.0f, -1};
  return static_cast<uint32_t>(Extend(lut, 1, image, static_cast<int32_t>(r), &s, 1, points));
}

AVM_LAYOUT_FINDER(CalibFind_Layout20) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const uint32_t r = CalibFindMarkerBoard(lut, camera, image, 4, points);
  if (r == 0 || camera != 2) return r;
  const Search s[2] = {{14, 0, 500.0f, 8, 400.0f, 700.0f, 1300.0f, 1000.0f, -1},
                       {14, 0, 500.0f, 10, 400.0f, 700.0f, 1300.0f, 1000.0f, -1}};
  return static_cast<uint32_t>(Extend(lut, 2, image, static_cast<int32_t>(r), s, 2, points));
}

AVM_LAYOUT_FINDER(CalibFind_Layout14) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  GlobalVariables& g = gv();
  if (g.targetDimA == 201) return CalibFindMarkerBoard(lut, camera, image, 1, points);
  lut->singleFitFlags[camera - 1] = 0;
  if (cols < 2 || rows < 2 || cols > 64 || rows > 64) return 0;
  const int32_t n = (cols - 1) * (rows - 1);
  if (!Fits(n)) return 0;
  if (Chessboard_FindCorners(image, cols, rows, points, 2) == 0 &&
      FindChessboardByTemplates(image, cols, rows, points, 2, 0, 0, 0) == 0)
    return 0;
  if (!Fits(n + 8)) return static_cast<uint32_t>(n);
  static const float kOffsets[6] = {0.02f, 0.04f, 0.0f, 0.08f, -0.02f, 0.06f};
  float scales[3];
  Resolutions(lut, camera, scales);
  const int32_t k = static_cast<int32_t>(camera) - 1;
  for (int32_t v = 0; v < 6; ++v) {
    float a[8], b[8];
    bool both = false;
    for (int32_t flag = 0; flag <= 1 && !both; ++flag) {
      FinderSolvePose(lut, camera, n, flag);
      SquareInView s{0, 0, kOffsets[v], 1000.0f, 0.0f, false, {}};
      if (SquareOnFloor(lut, camera, image,
                        {FinderWorldX(lut, camera, n) - 500.0f, FinderWorldY(lut, camera, n) - 600.0f, 2000.0f,
                         2200.0f},
                        scales, 3, &s, a) == 0)
        continue;
      both = CalibFindPattern(
                 lut, k, image, 1, 0, v + 1, b, 1000.0f, FinderWorldX(lut, camera, n + 4) - 500.0f,
                 FinderWorldY(lut, camera, n + 4) - 850.0f, 2000.0f, 2700.0f, 0.0f) != 0;
    }
    if (!both) continue;
    memcpy(points + 2 * n, a, sizeof a);
    memcpy(points + 2 * (n + 4), b, sizeof b);
    // Tight fits are asked of the first, strictest offsets only.
    if (const FinderSolve fit = FinderSolvePose(lut, camera, n + 8, 1);
        fit.ok && (v >= 3 || fit.rms <= 2.3f))
      return static_cast<uint32_t>(n + 8);
  }
  // Markers that never solved with the board are not counted.
  return static_cast<uint32_t>(n);
}
