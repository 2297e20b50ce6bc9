#include "calibration/detect/layout30_finders.h"

#include <algorithm>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/template_corners.h"
#include "calibration/detect/template_crop_scan.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"

namespace {

constexpr float kUnitCols = 1280.0f, kUnitRows = 720.0f;

// Start points (row, column) on the unit's 1280 x 720 picture.
constexpr float kStartCam2A[16] = {557, 1118, 596, 1050, 510, 1051, 524, 961,
                                   594, 206,  557, 143,  525, 291,  512, 208};
constexpr float kStartCam2B[16] = {488, 1019, 496, 926, 461, 965, 462, 871,
                                   507, 356,  503, 264, 472, 410, 474, 316};
constexpr float kStartCams134[3][16] = {
    {465, 311, 463, 407, 576, 131, 628, 185, 462, 869, 463, 964, 626, 1091, 573, 1146},
    {450, 1039, 536, 1109, 448, 831, 612, 923, 461, 348, 593, 260, 469, 211, 544, 154},
    {555, 166, 469, 235, 624, 354, 462, 441, 597, 1013, 466, 923, 548, 1124, 472, 1065},
};
// The start points scaled from the unit's picture size to the image's.
void StartPoints(const float* table, const Matrix* image, float* points) {
  const float sr = static_cast<float>(image->rows) / kUnitRows, sc = static_cast<float>(image->cols) / kUnitCols;
  for (int32_t i = 0; i < 8; ++i) {
    points[2 * i] = table[2 * i] * sr;
    points[2 * i + 1] = table[2 * i + 1] * sc;
  }
}

// Copies the listed corners of boards into points, in order.
struct Pick {
  const float* board;
  int32_t corner;
};
void Put(float* points, std::initializer_list<Pick> picks) {
  int32_t i = 0;
  for (const Pick& p : picks) {
    points[2 * i] = p.board[2 * p.corner];
    points[2 * i + 1] = p.board[2 * p.corner + 1];
    ++i;
  }
}

bool RefineAndSolve(LUTOB* lut, uint32_t camera, const Matrix* image, float* points,
                    int32_t count) {
  ChessCorners_Refine(image, points, count);
  return FinderSolvePose(lut, camera, count, 0).ok;
}

// The left and right halves of an image, W/2 columns each.
struct Halves {
  std::vector<float> data[2];
  Matrix m[2];
  int32_t half;
  explicit Halves(const Matrix* image) : half(image->cols / 2) {
    for (int32_t s = 0; s < 2; ++s) {
      data[s].resize(static_cast<size_t>(half) * static_cast<size_t>(image->rows));
      for (int32_t r = 0; r < image->rows; ++r) {
        const float* src = image->data + static_cast<size_t>(r) * image->cols + static_cast<size_t>(s) * half;
        std::copy(src, src + half, data[s].data() + static_cast<size_t>(r) * half);
      }
      m[s] = Matrix{half, image->rows, data[s].data()};
    }
  }
};

// Boards of squaresX x squaresY squares in both halves with the try indices
// of the template detector, the left one searched first: a pair that does
// not solve sends both searches on to the next try index. found(L, R) writes
// the points and solves; L and R are in image coordinates.
template <typename Found>
bool HalfBoardPairs(const Matrix* image, int32_t squaresX, int32_t squaresY, int32_t mode, Found found) {
  Halves h(image);
  if (h.half < 1) return false;
  const size_t n = static_cast<size_t>(squaresX - 1) * static_cast<size_t>(squaresY - 1);
  std::vector<float> L(2 * n), R(2 * n);
  int32_t i = 0, j = 0;
  for (;;) {
    while (FindChessboardByTemplates(&h.m[0], squaresX, squaresY, L.data(), mode, 0, 0, i) == 0)
      if (++i >= 3) return false;
    while (FindChessboardByTemplates(&h.m[1], squaresX, squaresY, R.data(), mode, 0, 0, j) == 0)
      if (++j >= 3) return false;
    const FinderPoints right{R.data()};
    for (size_t k = 0; k < n; ++k) right.col(static_cast<int32_t>(k)) += static_cast<float>(h.half);
    if (found(L.data(), R.data())) return true;
    i = std::max(i, j) + 1;
    j = i;
    if (i > 2) return false;
  }
}

// The floor fallback: the start points solved first, then pattern `type`
// in the windows that start (dx, dy) short of world points a and b; the
// first `count` points are solved.
struct FallbackPlan {
  const float* start;
  int32_t cameraIndex;
  int32_t type;
  int32_t a, b;
  float dx, dy, width, height;
  int32_t count;
};

// pick(A, B) writes the points.
template <typename PickFn>
uint32_t FloorFallback(LUTOB* lut, uint32_t camera, const Matrix* image, float* points, const FallbackPlan& p,
                       PickFn pick) {
  StartPoints(p.start, image, points);
  FinderSolvePose(lut, camera, 8, 0);  // a provisional pose places the windows
  const int32_t n = CalibPattern_PointCount(p.type);
  std::vector<float> A(2 * static_cast<size_t>(n)), B(2 * static_cast<size_t>(n));
  if (CalibFindPatternIn(lut, p.cameraIndex, image, p.type, 0, 1, A.data(), 450.0f,
                         {FinderWorldX(lut, camera, p.a) - p.dx, FinderWorldY(lut, camera, p.a) - p.dy, p.width,
                          p.height}) == 0 ||
      CalibFindPatternIn(lut, p.cameraIndex, image, p.type, 0, 1, B.data(), 450.0f,
                         {FinderWorldX(lut, camera, p.b) - p.dx, FinderWorldY(lut, camera, p.b) - p.dy, p.width,
                          p.height}) == 0)
    return 0;
  pick(A.data(), B.data());
  return RefineAndSolve(lut, camera, image, points, p.count) ? static_cast<uint32_t>(p.count) : 0;
}

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Layout30) {
  if (camera != 2) return CalibFind_Layout30Cams134(lut, camera, image, points);
  const int32_t variant = gv().targetDimB;
  if (variant == 0 || variant == 1) return CalibFind_Layout30Cam2A(lut, camera, image, cols, rows, points);
  return CalibFind_Layout30Cam2B(lut, camera, image, cols, rows, points);
}

AVM_LAYOUT_FINDER(CalibFind_Layout30Cam2A) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points, 0, 2)) return 0;
  const int32_t W = image->cols;
  const bool smallBoards = gv().targetDimB == 1;
  // The boards lie in the picture's upper part (row 580 of the unit's 720).
  const float rowLimit = 580.0f * static_cast<float>(image->rows) / kUnitRows;
  const float half = static_cast<float>(W / 2);
  TemplateCropScan scan;
  if (scan.Prepare(image, 0, 0, W, image->rows, 2)) {
    const float limit = std::max(160.0f, static_cast<float>(W) * 160.0f / 720.0f);
    for (const auto& t : kBoardThresholds) {
      TemplateCornerLists cl;
      scan.Detect(t[0], t[1], &cl);
      for (int32_t j = 0; j < 3; ++j) {
        const std::vector<GrownBoard> boards = TemplateBoards_Grow(cl.lists[j], cl.counts[j], limit, W / 2);
        const GrownBoard* left = nullptr;
        const GrownBoard* right = nullptr;
        bool ambiguous = false;
        for (const GrownBoard& b : boards) {
          if (b.cols != 3 || !(b.rows == 3 || (smallBoards && b.rows == 2))) continue;
          const float* c0 = b.At(0);
          const float* c2 = b.At(2);
          if (!(c0[0] < rowLimit && c2[0] < rowLimit && c2[1] - c0[1] > 50.0f)) continue;
          const GrownBoard** side = nullptr;
          if (c0[1] < half && c2[1] < half) side = &left;
          if (c0[1] > half && c2[1] > half) side = &right;
          if (side == nullptr) continue;
          if (*side != nullptr) ambiguous = true;
          *side = &b;
        }
        if (ambiguous || left == nullptr || right == nullptr) continue;
        const float* L = left->grid.data();
        const float* R = right->grid.data();
        Put(points, {{R, 5}, {R, 3}, {R, 2}, {R, 0}, {L, 5}, {L, 3}, {L, 2}, {L, 0}});
        int32_t count = 8;
        if (left->rows == 3 && right->rows == 3) {
          Put(points + 16, {{R, 8}, {R, 6}, {L, 8}, {L, 6}});
          count = 12;
        }
        if (RefineAndSolve(lut, camera, image, points, count)) return static_cast<uint32_t>(count);
      }
    }
  }
  return FloorFallback(lut, camera, image, points, {kStartCam2A, 1, 19, 0, 4, 600.0f, 400.0f, 2100.0f, 1450.0f, 8},
                       [points](const float* A, const float* B) {
                         Put(points, {{A, 0}, {A, 2}, {A, 3}, {A, 5}, {B, 0}, {B, 2}, {B, 3}, {B, 5}});
                       });
}

AVM_LAYOUT_FINDER(CalibFind_Layout30Cam2B) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points, 0, 2)) return 0;
  const bool found = HalfBoardPairs(image, 4, 5, 0, [&](const float* L, const float* R) {
    Put(points, {{R, 5}, {R, 3}, {R, 2}, {R, 0}, {L, 5}, {L, 3}, {L, 2}, {L, 0}, {R, 8}, {R, 6}, {L, 8}, {L, 6},
                 {R, 11}, {R, 9}, {L, 11}, {L, 9}});
    return RefineAndSolve(lut, camera, image, points, 16);
  });
  if (found) return 16;
  return FloorFallback(lut, camera, image, points, {kStartCam2B, 1, 2, 12, 14, 900.0f, 900.0f, 2700.0f, 3150.0f, 16},
                       [points](const float* A, const float* B) {
                         Put(points, {{A, 6}, {A, 8}, {A, 9}, {A, 11}, {B, 6}, {B, 8}, {B, 9}, {B, 11}, {A, 3},
                                      {A, 5}, {B, 3}, {B, 5}, {A, 0}, {A, 2}, {B, 0}, {B, 2}});
                       });
}

AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout30Cams134) {
  // Camera 2 has finders of its own.
  if (!FinderCallValid(lut, camera, image, points, 0, 2) || camera == 2) return 0;
  const int32_t k = camera == 1 ? 0 : camera == 3 ? 1 : 2;
  if (camera == 1) {
    const bool found = HalfBoardPairs(image, 4, 5, 0, [&](const float* L, const float* R) {
      Put(points, {{L, 0}, {L, 2}, {L, 9}, {L, 11}, {R, 0}, {R, 2}, {R, 9}, {R, 11}});
      return RefineAndSolve(lut, camera, image, points, 8);
    });
    if (found) return 8;
    return FloorFallback(lut, camera, image, points,
                         {kStartCams134[k], 0, 2, 0, 4, 900.0f, 900.0f, 2700.0f, 3150.0f, 8},
                         [points](const float* A, const float* B) {
                           Put(points, {{A, 0}, {A, 2}, {A, 9}, {A, 11}, {B, 0}, {B, 2}, {B, 9}, {B, 11}});
                         });
  }
  const bool found = HalfBoardPairs(image, 7, 4, 1, [&](const float* L, const float* R) {
    if (camera == 3)
      Put(points, {{R, 5}, {R, 17}, {R, 0}, {R, 12}, {L, 5}, {L, 17}, {L, 0}, {L, 12}, {L, 1}, {L, 13}});
    else
      Put(points, {{L, 12}, {L, 0}, {L, 17}, {L, 5}, {R, 12}, {R, 0}, {R, 17}, {R, 5}, {R, 16}, {R, 4}});
    return RefineAndSolve(lut, camera, image, points, 10);
  });
  if (found) return 10;
  return FloorFallback(lut, camera, image, points,
                       {kStartCams134[k], static_cast<int32_t>(camera) - 1, 20, 0, 4, 600.0f, 600.0f, 2100.0f,
                        3450.0f, 8},
                       [points](const float* A, const float* B) {
                         Put(points, {{A, 0}, {A, 2}, {A, 15}, {A, 17}, {B, 0}, {B, 2}, {B, 15}, {B, 17}});
                       });
}
