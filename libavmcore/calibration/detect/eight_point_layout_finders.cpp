#include "calibration/detect/eight_point_layout_finders.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/predicted_target_finders.h"
#include "calibration/detect/template_corners.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/numeric_constants.h"
#include "surround/lutob.h"
#include "toolkit/matrix.h"
#include "toolkit/sampling.h"

namespace {

// The camera's point buffers hold word-31 points; every finder here writes
// at least eight.
// Four corners of a 3 x 3-square board: the quad detector, else the template
// detector with its fast flag.
bool SmallBoard(const Matrix* image, float* out, int32_t fast) {
  return Chessboard_FindCorners(image, 3, 3, out, 0) != 0 ||
         FindChessboardByTemplates(image, 3, 3, out, 0, fast, 0, 0) != 0;
}

// Columns [col, col + width) of image into a new packed image.
void CopyColumns(const Matrix* image, int32_t col, int32_t width, std::vector<float>* buf, Matrix* out) {
  buf->assign(static_cast<size_t>(width) * image->rows, 0.0f);
  *out = Matrix{width, image->rows, buf->data()};
  Matrix_CopyBlock(image, out, width, image->rows, col, 0, 0, 0);
}

// The picture turned by half a turn into buf.
void TurnHalf(const Matrix* image, std::vector<float>* buf, Matrix* out) {
  buf->assign(static_cast<size_t>(image->cols) * image->rows, 0.0f);
  *out = Matrix{image->cols, image->rows, buf->data()};
  Image_Rotate(image, out, kPi);
}

void TurnPointsBack(const Matrix* image, float* points, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    points[2 * i] = static_cast<float>(image->rows - 1) - points[2 * i];
    points[2 * i + 1] = static_cast<float>(image->cols - 1) - points[2 * i + 1];
  }
}

}  // namespace

int32_t CalibFind_PlaceEightPoints(LUTOB* lut, uint32_t camera, float* src, float* points, float colOffset,
                                   int32_t flag, float colScale, float rowScale) {
  if (lut == nullptr || camera < 1 || camera > 4 || src == nullptr || points == nullptr) return 0;
  // Source point of each output position, per camera.
  static const int32_t kOrder[4][8] = {
      {0, 1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1, 0}, {5, 7, 4, 6, 1, 3, 0, 2}, {2, 0, 3, 1, 6, 4, 7, 5}};
  const FinderPoints from{src}, to{points};
  for (int32_t i = 4; i < 8; ++i) from.col(i) += colOffset;
  lut->cornerCounts[camera - 1] = 8;
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t k = kOrder[camera - 1][i];
    to.row(i) = from.row(k) * rowScale;
    to.col(i) = from.col(k) * colScale;
  }
  return FinderSolvePose(lut, camera, flag).ok ? 1 : 0;
}

AVM_LAYOUT_FINDER(CalibFind_Layout10Halves) {
  (void)cols;
  (void)rows;
  // The second point set lies at world rows 16..23.
  if (!FinderCallValid(lut, camera, image, points, 8) || image->cols < 2 || gv().maxPoints < 24)
    return 0;
  const int32_t half = image->cols / 2;
  std::vector<float> lb, rb;
  Matrix left{}, right{};
  CopyColumns(image, 0, half, &lb, &left);
  CopyColumns(image, half, half, &rb, &right);
  float src[16];
  if (!SmallBoard(&left, src, 0) || !SmallBoard(&right, src + 8, 0)) return 0;
  // The two small boards have world points of their own, behind the board's.
  float* wp = lut->worldPoints[camera - 1];
  memmove(wp, wp + 3 * 16, 3 * 8 * sizeof(float));
  lut->singleFitFlags[camera - 1] = 1;
  return CalibFind_PlaceEightPoints(lut, camera, src, points, static_cast<float>(half), 0, 1.0f, 1.0f) != 0 ? 8u
                                                                                                              : 0u;
}

AVM_LAYOUT_FINDER(CalibFind_Layout10) {
  if (!FinderCallValid(lut, camera, image, points, 8)) return 0;
  if (gv().targetDimB != 0) return CalibFind_Layout10Halves(lut, camera, image, cols, rows, points);
  // The board's corners and the eight points after them must fit the
  // point buffers.
  if (cols < 2 || rows < 2 || cols > 64 || rows > 64 || (cols - 1) * (rows - 1) + 8 > gv().maxPoints ||
      (Chessboard_FindCorners(image, cols, rows, points, 1) == 0 &&
       FindChessboardByTemplates(image, cols, rows, points, 1, 0, 0, 0) == 0))
    return CalibFind_Layout10Halves(lut, camera, image, cols, rows, points);
  const int32_t c = static_cast<int32_t>(camera) - 1;
  lut->singleFitFlags[c] = 0;
  const int32_t n = (cols - 1) * (rows - 1);
  const float* wp = lut->worldPoints[c];
  struct Try {
    int32_t flag;
    float a, b;
  };
  for (const Try& t : {Try{0, 1150, 1150}, Try{1, 1150, 1150}, Try{1, 1250, 1550}}) {
    FinderSolvePose(lut, camera, n, t.flag);
    const float x0 = wp[3 * n] - t.a, y0 = wp[3 * n + 1] - t.b, w = 2 * t.a + 600, h = 2 * t.b + 600;
    int32_t found = 0;
    for (float s : {8.0f, 16.0f, 24.0f}) {
      struct Ctx {
        static int32_t Detect(const Matrix* view, float* out, void*) {
          return Chessboard_FindCorners(view, 3, 3, out, 0) != 0 ||
                 FindChessboardByTemplates(view, 3, 3, out, 0, 0, 0, 0) != 0;
        }
      };
      if (TopView_Search(lut, c, image, {x0, y0, w, h}, s, 4, Ctx::Detect, nullptr, points + 2 * n) != 0) {
        found = 1;
        break;
      }
    }
    if (found == 0) continue;
    if (CalibFindPattern(lut, c, image, 4, 0, 0, points + 2 * (n + 4), 600.0f, wp[3 * (n + 4)] - t.a,
                         wp[3 * (n + 4) + 1] - t.b, w, h, 0.0f) == 0)
      continue;
    if (FinderSolvePose(lut, camera, n + 8, 1).ok) return static_cast<uint32_t>(n + 8);
  }
  return CalibFind_Layout10Halves(lut, camera, image, cols, rows, points);
}

AVM_LAYOUT_FINDER(CalibFind_Layout12Halves) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points, 8)) return 0;
  const int32_t W = image->cols, H = image->rows;
  const auto outRows = static_cast<int32_t>(static_cast<int64_t>(H) * 900 / W);
  if (outRows < 8) return 0;
  const float colScale = static_cast<float>(W) / 900.0f, rowScale = static_cast<float>(H) / static_cast<float>(outRows);
  std::vector<float> buf(static_cast<size_t>(900) * outRows, 0.0f);
  Matrix copy{900, outRows, buf.data()};
  // A border of two pixels stays 0.
  for (int32_t r = 2; r < outRows - 2; ++r)
    for (int32_t q = 2; q < 898; ++q)
      buf[static_cast<size_t>(r) * 900 + q] =
          Image_SampleBilinear(image, static_cast<float>(r) * rowScale, static_cast<float>(q) * colScale);
  std::vector<float> lb, rb;
  Matrix left{}, right{};
  CopyColumns(&copy, 0, 450, &lb, &left);
  CopyColumns(&copy, 450, 450, &rb, &right);
  float src[16];
  if (!SmallBoard(&left, src, camera == 3 ? 1 : 0) || !SmallBoard(&right, src + 8, camera == 4 ? 1 : 0)) return 0;
  return CalibFind_PlaceEightPoints(lut, camera, src, points, 450.0f, 0, colScale, rowScale) != 0 ? 8u : 0u;
}

AVM_LAYOUT_FINDER(CalibFind_Layout12) {
  if (!FinderCallValid(lut, camera, image, points, 8)) return 0;
  std::vector<float> turnedBuf;
  Matrix turned{};
  const bool turn = camera == 3 && (gv().JDSpecial & 8) != 0;
  if (turn) TurnHalf(image, &turnedBuf, &turned);
  Matrix* work = turn ? &turned : image;
  uint32_t n = CalibFind_Layout12Part(lut, camera, work, cols, rows, points);
  if (n == 0) {
    AvmLog("Begin ________________________ ");
    n = CalibFind_Layout12Halves(lut, camera, work, cols, rows, points);
  }
  if (turn) TurnPointsBack(image, points, n);
  return n;
}
