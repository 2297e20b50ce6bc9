#include "calibration/detect/layout53_finder.h"

#include <algorithm>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/predicted_target_finders.h"
#include "calibration/detect/quad_pair_finders.h"
#include "calibration/detect/template_corners.h"
#include "calibration/detect/template_crop_scan.h"
#include "calibration/detect/template_segment_finders.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"

namespace {
// The strip of three corners (a 4 x 2 board) in a top view.
int32_t StripInView(const Matrix* view, float* found, void*) {
  return Chessboard_FindCorners(view, 4, 2, found, 0) != 0 ||
         FindChessboardByTemplates(view, 4, 2, found, 0, 0, 0, 0) != 0;
}

// The 4 x 5 patch: the first complete 4-row, 3-column board of template
// corners that solves gives its four outer corners.
bool SidePatch(LUTOB* lut, uint32_t camera, const Matrix* image, float* points) {
  const CalibProfileRecord& profile = CalibProfile();
  const int32_t first = camera == 3 ? 4 : 8;  // profile values, word 2 + value
  ImageBox box{};
  if (!ImageBox_ClipEdges(image->cols, image->rows, profile.F(2 + first), profile.F(3 + first),
                          profile.F(4 + first), profile.F(5 + first), &box))
    return false;
  TemplateCropScan scan;
  if (!scan.Prepare(image, box.left, box.top, box.cols, box.rows, 1)) return false;
  const int32_t W = image->cols;
  const float limit = std::max(110.0f, static_cast<float>(W) * 110.0f / 720.0f);
  for (const auto& t : kBoardThresholds) {
    TemplateCornerLists cl;
    scan.Detect(t[0], t[1], &cl);
    for (int32_t j = 0; j < 3; ++j) {
      for (const GrownBoard& b : TemplateBoards_Grow(cl.lists[j], cl.counts[j], limit, W / 2)) {
        if (b.rows != 4 || b.cols != 3 || !(std::abs(b.At(1)[1] - b.At(0)[1]) > 30.0f)) continue;
        const int32_t corners[4] = {0, 2, 9, 11};
        for (int32_t i = 0; i < 4; ++i) std::copy(b.At(corners[i]), b.At(corners[i]) + 2, points + 2 * i);
        if (FinderSolvePose(lut, camera, 4, 0).ok) return true;
        break;  // only the first such board of a list
      }
    }
  }
  return false;
}

// The standing strip ahead (pattern 5 at world point 4) into points 4..6.
bool FrontStrip(LUTOB* lut, uint32_t camera, const Matrix* image, float* points) {
  float strip[6];
  if (CalibFindPattern(lut, static_cast<int32_t>(camera) - 1, image, 5, 0, 0, strip, 500.0f,
                       FinderWorldX(lut, camera, 4) - 900.0f, FinderWorldY(lut, camera, 4) - 900.0f,
                       1800.0f, 2800.0f, 0.0f) == 0)
    return false;
  std::copy(strip, strip + 6, points + 8);
  return FinderSolvePose(lut, camera, 7, 0).ok;
}

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Layout53Side) {
  (void)cols;
  (void)rows;
  // The patch and the strip are the side cameras' marks.
  if (!FinderCallValid(lut, camera, image, points) || camera < 3) return 0;
  lut->cornerCounts[camera - 1] = 4;
  if (!SidePatch(lut, camera, image, points)) return 0;
  if (FrontStrip(lut, camera, image, points)) return 7;
  FinderSolvePose(lut, camera, 4, 1);
  return FrontStrip(lut, camera, image, points) ? 7 : 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout53) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  const bool sideRoute = camera >= 3 && gv().groupNumber == 1;
  if (!sideRoute) {
    uint32_t r = CalibFind_Layout53Pairs(lut, camera, image, cols, rows, points, 0.7f);
    if (r == 0) r = CalibFind_Layout53Pairs(lut, camera, image, cols, rows, points, 0.5f);
    if (r == 0) r = CalibFind_Layout53Templates(lut, camera, image, cols, rows, points);
    return r;
  }
  uint32_t r = CalibFind_Layout53SideTemplates(lut, camera, image, cols, rows, points);
  if (r == 0) r = CalibFind_Layout53Side(lut, camera, image, cols, rows, points);
  if (r == 0) r = CalibFind_Layout53SideQuads(lut, camera, image, cols, rows, points, 0.4f);
  if (r == 0) r = CalibFind_Layout53SideQuads(lut, camera, image, cols, rows, points, 0.7f);
  // Without the side marks there is no pose to place the rear strip by, and
  // no points of this call to solve it with.
  if (r == 0) return 0;
  const int32_t n = static_cast<int32_t>(r);
  const float scales[2] = {16.0f, 24.0f};
  float strip[6];
  for (int32_t pass = 0; pass < 2; ++pass) {
    lut->cornerCounts[camera - 1] = n;
    bool found = false;
    for (float s : scales)
      if (TopView_Search(lut, static_cast<int32_t>(camera) - 1, image,
                         {FinderWorldX(lut, camera, 7) - 900.0f, FinderWorldY(lut, camera, 7) - 900.0f,
                          2800.0f, 1800.0f},
                         s, 3, StripInView, nullptr, strip) != 0) {
        found = true;
        break;
      }
    if (found) {
      std::copy(strip, strip + 6, points + 14);
      if (FinderSolvePose(lut, camera, n + 3, 0).ok) return r + 3;
    }
    if (pass == 1) break;
    FinderSolvePose(lut, camera, n, 1);
  }
  lut->cornerCounts[camera - 1] = n;
  return r;
}
