#include "calibration/detect/pattern_finder.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/pattern_marks.h"
#include "calibration/detect/template_corner_pieces.h"
#include "calibration/detect/template_corners.h"
#include "camera/camera_model.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "toolkit/sampling.h"

namespace {

struct PatternType {
  int32_t points;
  int32_t firstScale;
};

const PatternType kTypes[kPatternTypes + 1] = {
    {0, 0},                                                      // unused
    {4, 0},  {12, 1}, {9, 0},  {4, 0},  {3, 0}, {7, 0}, {2, 0}, {1, 0}, {1, 0}, {36, 0},
    {33, 0}, {6, 0},  {1, 2},  {2, 0},  {4, 0}, {4, 0}, {3, 1}, {16, 1}, {6, 1}, {18, 1}};

// Threshold pairs of the template-corner types, tried in this order.
const float kThresholdPairs[4][2] = {{0.22f, 0.23f}, {0.17f, 0.23f}, {0.12f, 0.15f}, {0.07f, 0.07f}};

int32_t Templates(const Matrix* view, int32_t cols, int32_t rows, float* pts) {
  return FindChessboardByTemplates(view, cols, rows, pts, 0, 0, 0, 0);
}

int32_t QuadsThenTemplates(const Matrix* view, int32_t cols, int32_t rows, float* pts) {
  if (Chessboard_FindCorners(view, cols, rows, pts, 0) != 0) return 1;
  return Templates(view, cols, rows, pts);
}

int32_t Squares(const Matrix* view, int32_t variant, float* pts, float side) {
  if (variant == 100) return Square_FindMultiThreshold(view, 1, pts, side, side);
  if (variant <= 0) return Square_FindMultiThreshold(view, 0, pts, side, side);
  static const float kOffsets[6] = {0.02f, 0.04f, 0.0f, 0.08f, -0.02f, 0.06f};
  if (variant <= 6) return Square_Find(view, 0, pts, side, side, kOffsets[variant - 1]);
  return 0;  // no offset for this variant
}

// The type's detector on one top view of scale s.
int32_t Detect(const Matrix* view, int32_t type, int32_t variant, float size, float s, float* pts) {
  switch (type) {
    case 1: return Squares(view, variant, pts, size / s);
    case 2: return Templates(view, 4, 5, pts);
    case 3: return variant == 0 ? QuadsThenTemplates(view, 4, 4, pts) : Templates(view, 4, 4, pts);
    case 4: return QuadsThenTemplates(view, 3, 3, pts);
    case 5: return QuadsThenTemplates(view, 2, 4, pts);
    case 6:
      for (const auto& t : kThresholdPairs)
        if (FindCornerWithQuads(view, pts, 1, t[0], t[1]) != 0) return 1;
      return 0;
    case 7: {
      const float d = 64.0f / (s * 0.125f);
      for (const auto& t : kThresholdPairs)
        if (FindTemplateCornerPair(view, pts, variant, t[0], t[1], 0.0f, d, d) != 0) {
          if (pts[2] < pts[0]) {
            std::swap(pts[0], pts[2]);
            std::swap(pts[1], pts[3]);
          }
          return 1;
        }
      return 0;
    }
    case 8:
      for (const auto& t : kThresholdPairs)
        if (FindSingleTemplateCorner(view, pts, t[0], t[1]) != 0) return 1;
      return 0;
    case 9: return Pattern_FindCircleCentre(view, pts, size * 0.5f / s);
    case 10: return Templates(view, 4, 13, pts);
    case 11: return Templates(view, 4, 12, pts);
    case 12: return Templates(view, 3, 4, pts);
    case 13: return Pattern_FindJunction(view, pts);
    case 14: return Pattern_FindLowerSquareEdge(view, pts);
    case 15: {
      std::vector<float> inverted(view->data, view->data + static_cast<size_t>(view->cols) * view->rows);
      for (float& v : inverted) v = 1.0f - v;
      const Matrix inv{view->cols, view->rows, inverted.data()};
      return Squares(&inv, variant, pts, size / s);
    }
    case 16: return Square_FindMultiThreshold(view, 0, pts, 0.48f * size / s, 0.8f * size / s);
    case 17: return QuadsThenTemplates(view, 4, 2, pts);
    case 18: return Templates(view, 5, 5, pts);
    case 19: return Templates(view, 4, 3, pts);
    case 20: return Templates(view, 4, 7, pts);
    default: return 0;
  }
}

}  // namespace

int32_t CalibPattern_PointCount(int32_t type) { return type >= 1 && type <= kPatternTypes ? kTypes[type].points : 0; }

void CalibPattern_Scales(int32_t type, int32_t camera, int32_t imageHeight, int32_t level, float scales[4],
                         int32_t* first, int32_t* last) {
  static const float kDefault[4] = {8, 16, 24, 38}, kSmallSide[4] = {24, 16, 8, 4}, kFine[4] = {4, 6, 8, 12};
  const float* table = kDefault;
  if (type == 1 && imageHeight < 710 && (camera == 2 || camera == 3)) table = kSmallSide;
  if (type == 6) table = kFine;
  std::copy(table, table + 4, scales);
  if (level >= 1 && level <= 4) {
    *first = *last = level - 1;
  } else {
    *first = type >= 1 && type <= kPatternTypes ? kTypes[type].firstScale : 0;
    *last = 2;
  }
}

int32_t CalibFindPattern(LUTOB* lut, int32_t camera, const Matrix* image, int32_t type, int32_t level,
                         int32_t variant, float* points, float size, float x0, float y0, float width, float height,
                         float z) {
  return CalibFindPatternIn(lut, camera, image, type, level, variant, points, size,
                            FloorWindow{x0, y0, width, height, z});
}

int32_t CalibFindPatternIn(LUTOB* lut, int32_t camera, const Matrix* image, int32_t type, int32_t level,
                           int32_t variant, float* points, float size, const FloorWindow& window) {
  const float x0 = window.x0, y0 = window.y0, width = window.width, height = window.height;
  const int32_t count = CalibPattern_PointCount(type);
  if (lut == nullptr || camera < 0 || camera > 3 || image == nullptr || image->data == nullptr || image->cols < 1 ||
      image->rows < 1 || points == nullptr || count == 0)
    return 0;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(width) || !std::isfinite(height) ||
      std::fabs(x0) > 1.0e9f || std::fabs(y0) > 1.0e9f)
    return 0;
  float scales[4];
  int32_t first = 0, last = 0;
  CalibPattern_Scales(type, camera, lut->camH, level, scales, &first, &last);
  const PoseView pose = FinderPose(lut, camera);
  // Detector output: room for the largest type and the pieces' scratch.
  std::vector<float> found(2 * 64);
  for (int32_t si = first; si <= last; ++si) {
    const float s = scales[si];
    const float fc = width / s, fr = height / s;
    // A view beyond any camera image is no view.
    if (!(fc >= 1.0f && fr >= 1.0f && fc * fr <= 64.0e6f)) continue;
    const auto cols = static_cast<int32_t>(fc), rows = static_cast<int32_t>(fr);
    const size_t n = static_cast<size_t>(cols) * rows;
    std::vector<float> mapX(n), mapY(n), viewData(n, 0.0f);
    Matrix U{cols, rows, mapX.data()}, V{cols, rows, mapY.data()}, view{cols, rows, viewData.data()};
    // The image's own size bounds the maps: an image smaller than the
    // object's camera size is never read past its end.
    Calib_ReprojectPoints(image->cols, image->rows, cols, rows, static_cast<int32_t>(x0), static_cast<int32_t>(y0),
                          pose.R, pose.T, pose.K, pose.D, &U, &V, pose.model, pose.slot, s, s, window.z);
    Image_RemapBilinear(image, &U, &V, &view, 0, 0);
    const int32_t result = Detect(&view, type, variant, size, s, found.data());
    if (result == 0) continue;
    ProjectPointFn fn = nullptr;
    ProjectionContext ctx;
    CameraModel_PointProjector(pose, &fn, &ctx);
    if (fn == nullptr) return 0;
    for (int32_t i = 0; i < count; ++i) {
      float u = 0.0f, v = 0.0f;
      fn(pose.model, &ctx, &u, &v, pose.slot, x0 + s * found[2 * i + 1], y0 + s * found[2 * i], window.z);
      points[2 * i] = v;
      points[2 * i + 1] = u;
    }
    return result;
  }
  return 0;
}
