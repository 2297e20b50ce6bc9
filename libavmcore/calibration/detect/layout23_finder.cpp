// Layout 23: the front and rear cameras see the two-board target of layout
// 12; the side cameras see a long board of 3 x 13 corners, of which every
// third column of its outer rows is kept, and two small boards beyond it.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "calibration/detect/eight_point_layout_finders.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/template_corners.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "toolkit/border_filters.h"

namespace {

constexpr int32_t kBoardRows = 3, kBoardCols = 13;

// The long board's ten points: corners 0, 3, 6, 9, 12 of its first and
// third rows. False when no board of 3 x 13 corners grows.
bool LongBoard(const Matrix* image, float* points) {
  const int32_t W = image->cols, H = image->rows;
  const size_t npix = static_cast<size_t>(W) * H;
  std::vector<float> smoothData(npix), likeData(npix);
  Matrix smooth{W, H, smoothData.data()}, like{W, H, likeData.data()};
  Image_BoxMean(image, &smooth, 1, 1);
  CornerLikelihood(&smooth, &like, 0);
  const float maxDistance = std::max(160.0f, static_cast<float>(W) * 160.0f / 720.0f);
  static const float kThresholds[4][2] = {{0.28f, 0.23f}, {0.2f, 0.23f}, {0.14f, 0.15f}, {0.09f, 0.07f}};
  std::vector<TemplateCorner> corners;
  std::vector<TemplateCorner*> members;
  std::vector<float> grid(2 * kBoardRows * kBoardCols);
  bool found = false;
  for (const auto& t : kThresholds) {
    TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
    int32_t counts[3] = {0, 0, 0};
    DetectTemplateCorners(&smooth, &like, lists, counts, 0, t[0], t[1]);
    for (int32_t list : {0, 2}) {
      const int32_t n = counts[list];
      for (int32_t mode = 0; mode <= 1 && !found && n > 0; ++mode) {
        corners.assign(lists[list], lists[list] + n);
        LinkTemplateCorners(corners.data(), n, mode, maxDistance, 4.0f);
        // GrowBoard writes candidates behind the members: room for both.
        members.assign(static_cast<size_t>(2 * n), nullptr);
        for (int32_t label = 0;; ++label) {
          int32_t rowsOut = 0, colsOut = 0;
          const int32_t m = GrowBoard(corners.data(), n, members.data(), label, &rowsOut, &colsOut, W / 2);
          if (m == 0) break;
          if (rowsOut != kBoardRows || colsOut != kBoardCols || m != kBoardRows * kBoardCols) continue;
          CornerGridToArray(members.data(), m, kBoardCols, grid.data(), nullptr);
          found = true;
          break;
        }
      }
      if (found) break;
    }
    for (TemplateCorner* l : lists) free(l);
    if (found) break;
  }
  if (!found) return false;
  for (int32_t i = 0; i < 5; ++i)
    for (int32_t r = 0; r < 2; ++r) {
      const int32_t src = 2 * r * kBoardCols + 3 * i;  // rows 0 and 2
      points[2 * (5 * r + i)] = grid[2 * src];
      points[2 * (5 * r + i) + 1] = grid[2 * src + 1];
    }
  return true;
}

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Layout23) {
  if (!FinderCallValid(lut, camera, image, points)) return 0;
  if (camera <= 2) return CalibFind_Layout12Halves(lut, camera, image, cols, rows, points);
  // Ten board points and two four-point boards after them.
  if (gv().maxPoints < 18 || !LongBoard(image, points)) return 0;
  const int32_t c = static_cast<int32_t>(camera) - 1;
  struct Try {
    int32_t flag;
    float a, b;
  };
  for (const Try& t : {Try{0, 1150, 1150}, Try{1, 1150, 1150}, Try{1, 1250, 1550}}) {
    FinderSolvePose(lut, camera, 10, t.flag);
    const float w = 2 * t.a + 600, h = 2 * t.b + 600;
    // The small boards' points 10..13 and 14..17, placed by world points 10 and 14.
    if (CalibFindPattern(lut, c, image, 4, 0, 0, points + 2 * 10, 600.0f,
                         FinderWorldX(lut, camera, 10) - t.a, FinderWorldY(lut, camera, 10) - t.b,
                         w, h, 0.0f) == 0 ||
        CalibFindPattern(lut, c, image, 4, 0, 0, points + 2 * 14, 600.0f,
                         FinderWorldX(lut, camera, 14) - t.a, FinderWorldY(lut, camera, 14) - t.b,
                         w, h, 0.0f) == 0)
      continue;
    if (FinderSolvePose(lut, camera, 18, 1).ok) return 18;
  }
  return 10;
}
