#include "calibration/detect/predicted_target_finders.h"

#include <cstring>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/side_markers.h"
#include "calibration/detect/spot_junctions.h"
#include "calibration/detect/template_corner_pieces.h"
#include "calibration/detect/template_corners.h"
#include "calibration/detect/template_segment_finders.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"

namespace {

// Threshold pairs of the single-corner search, strict first.
const float kCornerThresholds[4][2] = {
    {0.22f, 0.23f}, {0.17f, 0.23f}, {0.12f, 0.15f}, {0.07f, 0.07f}};
// The quad detector, else the template detector, with the same mode.
int32_t QuadThenTemplates(const Matrix* image, int32_t cols, int32_t rows, float* out, int32_t mode) {
  return Chessboard_FindCorners(image, cols, rows, out, mode) != 0 ||
         FindChessboardByTemplates(image, cols, rows, out, mode, 0, 0, 0) != 0;
}

int32_t MainBoardCorners(int32_t cols, int32_t rows) {
  return cols >= 2 && rows >= 2 && cols <= 64 && rows <= 64 ? (cols - 1) * (rows - 1) : 0;
}

struct BoardInView {
  int32_t cols, rows;
  bool templatesOnly;
};

int32_t FindBoardInView(const Matrix* view, float* found, void* ctx) {
  const auto* b = static_cast<const BoardInView*>(ctx);
  if (b->templatesOnly) return FindChessboardByTemplates(view, b->cols, b->rows, found, 0, 0, 0, 0) != 0;
  return QuadThenTemplates(view, b->cols, b->rows, found, 0);
}

int32_t FindCornerInView(const Matrix* view, float* found, void*) {
  for (const auto& t : kCornerThresholds) {
    const int32_t r = FindSingleTemplateCorner(view, found, t[0], t[1]);
    if (r != 0) return r;
  }
  return 0;
}

// A board of cols x rows squares in the floor window, scales tried in order.
int32_t BoardOnFloor(LUTOB* lut, uint32_t camera, const Matrix* image, const FloorWindow& window,
                     const float* scales, int32_t nScales, BoardInView b, float* out) {
  for (int32_t i = 0; i < nScales; ++i)
    if (TopView_Search(lut, static_cast<int32_t>(camera) - 1, image, window, scales[i], (b.cols - 1) * (b.rows - 1),
                       FindBoardInView, &b, out) != 0)
      return 1;
  return 0;
}

int32_t Pattern(LUTOB* lut, uint32_t camera, const Matrix* image, int32_t type, int32_t level, float* out,
                float size, const FloorWindow& window) {
  return CalibFindPatternIn(lut, static_cast<int32_t>(camera) - 1, image, type, level, 0, out, size, window);
}

// Main board and two satellites: a board found inline in a top view, then a
// pattern, each in a window around its first world point. Two passes, solve
// flag 0 then 1; the whole set must solve. n + inline + pattern points, or 0.
struct SatellitePlan {
  float a, b, w, h;              // inline window: wp[n] - (a, b), w x h
  float scales[3];
  int32_t nScales, boardCols, boardRows;
  int32_t patternType;
  float pa, pb, pw, ph, size;    // pattern window: wp[n + inline] - (pa, pb), pw x ph
};

int32_t TwoSatellites(LUTOB* lut, uint32_t camera, Matrix* image, int32_t n, float* points, const SatellitePlan& p) {
  const int32_t inl = (p.boardCols - 1) * (p.boardRows - 1);
  const int32_t pat = CalibPattern_PointCount(p.patternType);
  std::vector<float> a(2 * static_cast<size_t>(inl)), b(2 * static_cast<size_t>(pat));
  for (int32_t flag = 0; flag <= 1; ++flag) {
    FinderSolvePose(lut, camera, n, flag);
    if (BoardOnFloor(lut, camera, image,
                     {FinderWorldX(lut, camera, n) - p.a, FinderWorldY(lut, camera, n) - p.b, p.w, p.h}, p.scales,
                     p.nScales, {p.boardCols, p.boardRows, false}, a.data()) == 0)
      continue;
    if (Pattern(lut, camera, image, p.patternType, 0, b.data(), p.size,
                {FinderWorldX(lut, camera, n + inl) - p.pa, FinderWorldY(lut, camera, n + inl) - p.pb, p.pw,
                 p.ph}) == 0)
      continue;
    memcpy(points + 2 * n, a.data(), a.size() * sizeof(float));
    memcpy(points + 2 * (n + inl), b.data(), b.size() * sizeof(float));
    // A satellite taken from floor texture does not solve with the board.
    if (FinderSolvePose(lut, camera, n + inl + pat, flag).ok) return n + inl + pat;
  }
  return 0;
}

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Board8x6) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const int32_t n = MainBoardCorners(cols, rows);
  if (n == 0 || !QuadThenTemplates(image, cols, rows, points, 2)) return 0;
  float minCol = 20000.0f, minColRow = 0.0f, maxCol = 0.0f, maxColRow = 0.0f, minRow = 20000.0f, maxRow = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float r = points[2 * i], c = points[2 * i + 1];
    if (c < minCol) minCol = c, minColRow = r;
    if (c > maxCol) maxCol = c, maxColRow = r;
    if (r < minRow) minRow = r;
    if (r > maxRow) maxRow = r;
  }
  if (Chessboard_FindSideQuads(image, points + 2 * n, 1, minCol, minColRow, maxCol, maxColRow, minRow, maxRow) == 0)
    return static_cast<uint32_t>(n);
  const int32_t m = n + 8;
  if (camera <= 2) return static_cast<uint32_t>(m);
  FinderSolvePose(lut, camera, m, 1);
  float a[8], b[8];
  if (Pattern(lut, camera, image, 1, 0, a, 600.0f,
              {FinderWorldX(lut, camera, m) - 500.0f, FinderWorldY(lut, camera, m) - 500.0f, 1600.0f, 1600.0f}) == 0 ||
      Pattern(lut, camera, image, 1, 0, b, 600.0f,
              {FinderWorldX(lut, camera, m + 4) - 500.0f, FinderWorldY(lut, camera, m + 4) - 500.0f, 1600.0f,
               1600.0f}) == 0)
    return static_cast<uint32_t>(m);
  memcpy(points + 2 * m, a, sizeof a);
  memcpy(points + 2 * (m + 4), b, sizeof b);
  return static_cast<uint32_t>(n + 16);
}

AVM_LAYOUT_FINDER(CalibFind_Layout3) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const int32_t n = MainBoardCorners(cols, rows);
  if (n == 0 || !QuadThenTemplates(image, cols, rows, points, 1)) return 0;
  const SatellitePlan p{1150, 1150, 2700, 2700, {8, 16, 24}, 3, 4, 4, 3, 1150, 1150, 2700, 3100, 200};
  return static_cast<uint32_t>(TwoSatellites(lut, camera, image, n, points, p));
}

AVM_LAYOUT_FINDER(CalibFind_Layout15) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const int32_t n = MainBoardCorners(cols, rows);
  if (n == 0 || !QuadThenTemplates(image, cols, rows, points, 1)) return 0;
  const SatellitePlan p{800, 1200, 2000, 2800, {8, 16, 24}, 3, 3, 3, 4, 800, 1200, 2000, 2800, 400};
  return static_cast<uint32_t>(TwoSatellites(lut, camera, image, n, points, p));
}

AVM_LAYOUT_FINDER(CalibFind_Layout6) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const int32_t n = MainBoardCorners(cols, rows);
  if (n == 0 || FindChessboardByTemplates(image, cols, rows, points, 1, 0, 0, 0) == 0) return 0;
  const float margin = camera <= 2 ? 1200.0f : 1800.0f, height = camera <= 2 ? 3600.0f : 4800.0f;
  const float scales[2] = {16, 24};
  float a[24], b[24];
  for (int32_t flag = 0; flag <= 1; ++flag) {
    FinderSolvePose(lut, camera, n, flag);
    if (BoardOnFloor(lut, camera, image,
                     {FinderWorldX(lut, camera, n) - 1200.0f, FinderWorldY(lut, camera, n) - 1200.0f, 3200.0f, 3600.0f},
                     scales, 2, {4, 5, true}, a) == 0)
      continue;
    if (Pattern(lut, camera, image, 2, 0, b, 400.0f,
                {FinderWorldX(lut, camera, n + 12) - 1200.0f, FinderWorldY(lut, camera, n + 12) - margin, 3200.0f,
                 height}) == 0)
      continue;
    memcpy(points + 2 * n, a, sizeof a);
    memcpy(points + 2 * (n + 12), b, sizeof b);
    if (FinderSolvePose(lut, camera, n + 24, flag).ok) return static_cast<uint32_t>(n + 24);
  }
  return static_cast<uint32_t>(n);
}

AVM_LAYOUT_FINDER(CalibFind_Layout12Part) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const int32_t k = static_cast<int32_t>(camera) - 1;
  lut->cornerCounts[k] = 8;
  const CalibProfileRecord& prof = CalibProfile();
  // Profile value i is word 2 + i of the record.
  auto v = [&prof](int32_t i) { return prof.F(2 + i); };
  const float scales[3] = {16, 24, 38};
  for (int32_t si = 0; si < 3; ++si) {
    const int32_t level = si + 2;
    for (int32_t i = 0; i < 8; ++i) {
      points[2 * i] = v(16 * k + 8 + i);
      points[2 * i + 1] = v(16 * k + i);
    }
    FinderSolvePose(lut, camera, 8, 0);
    const float ax = FinderWorldX(lut, camera, 0) - 1200.0f,
                ay = FinderWorldY(lut, camera, 0) - 1600.0f;
    const float bx = FinderWorldX(lut, camera, 4) - 1200.0f,
                by = FinderWorldY(lut, camera, 4) - 1600.0f;
    float first[8], second[8];
    if (BoardOnFloor(lut, camera, image, {ax, ay, 3000.0f, 3800.0f}, &scales[si], 1, {3, 3, false}, first) == 0)
      continue;
    if (Pattern(lut, camera, image, 4, level, second, 600.0f, {bx, by, 3000.0f, 3800.0f}) == 0) continue;
    memcpy(points, first, sizeof first);
    memcpy(points + 8, second, sizeof second);
    if (!FinderSolvePose(lut, camera, 8, 0).ok) continue;
    // Both targets once more from the refined pose.
    if (Pattern(lut, camera, image, 4, level, first, 600.0f, {ax, ay, 3000.0f, 3800.0f}) == 0 ||
        Pattern(lut, camera, image, 4, level, second, 600.0f, {bx, by, 3000.0f, 3800.0f}) == 0)
      continue;
    memcpy(points, first, sizeof first);
    memcpy(points + 8, second, sizeof second);
    if (FinderSolvePose(lut, camera, 8, 0).ok) return 8;
  }
  return 0;
}

int32_t CalibFind_Layout24Part(LUTOB* lut, int32_t cameraIndex, const Matrix* image, float* points, float x0,
                               float y0, float width, float height) {
  if (lut == nullptr || cameraIndex < 0 || cameraIndex > 3) return 0;
  for (float s : {8.0f, 16.0f, 24.0f})
    if (TopView_Search(lut, cameraIndex, image, {x0, y0, width, height}, s, 1, FindCornerInView, nullptr, points) !=
        0)
      return 1;
  return 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout7) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  if (camera == 3 || camera == 4) {
    const int32_t n = MainBoardCorners(cols, rows);
    if (n == 0 || n + 6 > gv().maxPoints || FindChessboardByTemplates(image, cols, rows, points, 1, 0, 0, 0) == 0)
      return 0;
    FinderSolvePose(lut, camera, n, 1);
    float a[8], b[8];
    if (Pattern(lut, camera, image, 4, 0, a, 600.0f,
                {FinderWorldX(lut, camera, n) - 300.0f, FinderWorldY(lut, camera, n) - 300.0f, 1200.0f,
                 1200.0f}) == 0 ||
        Pattern(lut, camera, image, 4, 0, b, 600.0f,
                {FinderWorldX(lut, camera, n + 2) - 300.0f, FinderWorldY(lut, camera, n + 2) - 300.0f, 1200.0f,
                 1200.0f}) == 0)
      return static_cast<uint32_t>(n);
    // Only the first pattern's near row belongs to this camera's list.
    memcpy(points + 2 * n, a, 4 * sizeof(float));
    memcpy(points + 2 * (n + 2), b, sizeof b);
    return static_cast<uint32_t>(n + 6);
  }
  // The front and rear mats: each part finder goes on from the step after
  // the last one whose points did not solve.
  if (gv().maxPoints < 16) return 0;
  int32_t tries = 0;
  for (;;) {
    const uint32_t r = camera == 1 ? CalibFind_TemplateFrontPart(lut, 1, image, points, &tries)
                                   : CalibFind_TemplateRearPart(lut, camera, image, points, &tries);
    if (r == 0) return 0;
    if (FinderSolvePose(lut, camera, static_cast<int32_t>(r), 1).ok || tries > 3) return r;
  }
}

AVM_LAYOUT_FINDER(CalibFind_Layout25) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points) || gv().maxPoints < 16) return 0;
  const int32_t k = static_cast<int32_t>(camera) - 1;
  const CalibProfileRecord& prof = CalibProfile();
  auto v = [&prof](int32_t i) { return prof.F(2 + i); };
  ImageBox box{};
  std::vector<float> cropData;
  Matrix crop{0, 0, nullptr};
  if (!ImageBox_ClipEdges(image->cols, image->rows, static_cast<float>(static_cast<int32_t>(v(4 * k))),
                          static_cast<float>(static_cast<int32_t>(v(4 * k + 1))),
                          static_cast<float>(static_cast<int32_t>(v(4 * k + 2))),
                          static_cast<float>(static_cast<int32_t>(v(4 * k + 3))), &box) ||
      !Matrix_CropToImage(image, box.left, box.top, box.cols, box.rows, &cropData, &crop, &box))
    return 0;
  // Four single junctions around world points first..first + 3.
  auto junctions = [&](int32_t first, int32_t level) {
    float found[4][2];
    for (int32_t j = 0; j < 4; ++j)
      if (Pattern(lut, camera, image, 13, level, found[j], 600.0f,
                  {FinderWorldX(lut, camera, first + j) - 400.0f, FinderWorldY(lut, camera, first + j) - 400.0f,
                   800.0f, 800.0f}) == 0)
        return false;
    memcpy(points + 2 * first, found, sizeof found);
    return true;
  };
  auto solvedWithin = [](const FinderSolve& fit, float limit) {
    return fit.ok && fit.rms <= limit;
  };
  static const float kOffset[10] = {-0.1f, -0.2f, 0.0f, 0.1f, -0.3f, -0.1f, -0.2f, 0.0f, 0.1f, -0.3f};
  // The second five attempts repeat the offsets of the first five: their
  // thinned pictures (most of the search's time) are kept.
  std::vector<int32_t> thinned[5];
  for (int32_t i = 0; i < 10; ++i) {
    const int32_t flag = i < 5 ? 0 : 1;
    const float limit = i < 5 ? 2.5f : 4.5f;
    float spot[12];
    if (i < 5) SpotJunctions_Collect(&crop, 31, kOffset[i], &thinned[i]);
    if (Pattern_FindSpotJunctionsIn(&crop, thinned[i % 5], spot, k, flag) == 0) continue;
    if (camera == 1) memcpy(spot, spot + 8, 4 * sizeof(float));
    const FinderPoints p{points};
    for (int32_t j = 0; j < 4; ++j) {
      p.row(j) = spot[2 * j] + static_cast<float>(box.top);
      p.col(j) = spot[2 * j + 1] + static_cast<float>(box.left);
    }
    if (const FinderSolve fit = FinderSolvePose(lut, camera, 4, 0); !fit.ok || fit.rms > 5.5f)
      continue;
    if (!junctions(4, 0)) continue;
    if (const FinderSolve fit = FinderSolvePose(lut, camera, 8, flag); !fit.ok || fit.rms > limit)
      continue;
    bool third = false;
    for (int32_t level : {3, 2, 1}) {
      if (junctions(8, level) && solvedWithin(FinderSolvePose(lut, camera, 12, 1), 4.5f)) {
        third = true;
        break;
      }
      FinderSolvePose(lut, camera, 8, 1);
    }
    if (!third) return 8;
    if (junctions(12, 0) && FinderSolvePose(lut, camera, 16, 1).ok) return 16;
    return 12;
  }
  return 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout27) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points) || gv().maxPoints < 22) return 0;
  if (camera <= 2) {
    if (!QuadThenTemplates(image, 5, 5, points, 2)) return 0;
    const float scales[3] = {8, 16, 24};
    for (int32_t flag = 0; flag <= 1; ++flag) {
      FinderSolvePose(lut, camera, 16, flag);
      float corner[2], far[2];
      bool cornerFound = false;
      for (float scale : scales)
        if (TopView_Search(lut, static_cast<int32_t>(camera) - 1, image,
                           {FinderWorldX(lut, camera, 16) - 400.0f, FinderWorldY(lut, camera, 16) - 400.0f, 800.0f,
                            800.0f},
                           scale, 1, FindCornerInView, nullptr, corner) != 0) {
          cornerFound = true;
          break;
        }
      if (!cornerFound)
        continue;
      if (Pattern(lut, camera, image, 8, 0, far, 200.0f,
                  {FinderWorldX(lut, camera, 17) - 400.0f, FinderWorldY(lut, camera, 17) - 400.0f, 800.0f,
                   800.0f}) == 0)
        continue;
      memcpy(points + 32, corner, sizeof corner);
      memcpy(points + 34, far, sizeof far);
      if (!FinderSolvePose(lut, camera, 18, 1).ok) continue;
      // The squares beside each corner give two points more each.
      for (int32_t attempt = 0; attempt < 2; ++attempt) {
        float a[14], b[14];
        if (Pattern(lut, camera, image, 6, 0, a, 200.0f,
                    {FinderWorldX(lut, camera, 16) - 500.0f, FinderWorldY(lut, camera, 16) - 500.0f, 800.0f,
                     800.0f}) != 0 &&
            Pattern(lut, camera, image, 6, 0, b, 200.0f,
                    {FinderWorldX(lut, camera, 17) - 500.0f, FinderWorldY(lut, camera, 17) - 500.0f, 800.0f,
                     800.0f}) != 0) {
          const float extra[8] = {a[6], a[7], a[12], a[13], b[6], b[7], b[12], b[13]};
          memcpy(points + 36, extra, sizeof extra);
          return FinderSolvePose(lut, camera, 22, 1).ok ? 22u : 18u;
        }
        if (attempt == 0) FinderSolvePose(lut, camera, 18, 0);
      }
      return 18;
    }
    return 0;
  }
  if (!QuadThenTemplates(image, 4, 5, points, 2)) return 0;
  // Board B: the quad detector's find must also solve, else the template
  // detector's.
  bool boardB = Chessboard_FindCorners(image, 3, 5, points + 24, 2) != 0 &&
                FinderSolvePose(lut, camera, 20, 1).ok;
  if (!boardB)
    boardB = FindChessboardByTemplates(image, 3, 5, points + 24, 2, 0, 0, 0) != 0 &&
             FinderSolvePose(lut, camera, 20, 1).ok;
  if (!boardB) return 0;
  for (int32_t flag = 0; flag <= 1; ++flag) {
    FinderSolvePose(lut, camera, 20, flag);
    float a[2], b[2];
    if (Pattern(lut, camera, image, 8, 0, a, 200.0f,
                {FinderWorldX(lut, camera, 20) - 400.0f, FinderWorldY(lut, camera, 20) - 400.0f, 800.0f,
                 800.0f}) == 0 ||
        Pattern(lut, camera, image, 8, 0, b, 200.0f,
                {FinderWorldX(lut, camera, 21) - 400.0f, FinderWorldY(lut, camera, 21) - 400.0f, 800.0f, 800.0f}) == 0)
      continue;
    memcpy(points + 40, a, sizeof a);
    memcpy(points + 42, b, sizeof b);
    return 22;
  }
  return 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout3Entry) { return CalibFind_Layout3(lut, camera, image, cols, rows, points); }

AVM_LAYOUT_FINDER(CalibFind_Layout21Entry) {
  if (camera == 1 || camera == 2) return CalibFind_Layout21(lut, camera, image, cols, rows, points);
  return CalibFind_Layout3(lut, camera, image, cols, rows, points);
}
