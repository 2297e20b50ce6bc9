#include "calibration/detect/box_block_finders.h"

#include <cstring>
#include <utility>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/detect_services.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/side_markers.h"
#include "calibration/detect/template_corner_pieces.h"
#include "calibration/detect/template_corners.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"

namespace {

constexpr uint32_t kLayout21Tag = 21;  // bq1_cfg.txt
// Profile value k is word k + 2 of the record.
constexpr int kProfileValueBase = 2;

bool Usable(const LUTOB* lut, uint32_t camera, const Matrix* image, const float* points, int32_t count) {
  // The finders write count points; the camera's buffer holds word 31 points.
  return lut != nullptr && camera >= 1 && camera <= 4 && image != nullptr && image->data != nullptr &&
         image->cols > 0 && image->rows > 0 && points != nullptr && count <= gv().maxPoints;
}

void SetCount(LUTOB* lut, uint32_t camera, int32_t count) { lut->cornerCounts[camera - 1] = count; }

bool Solves(LUTOB* lut, uint32_t camera) { return FinderSolvePose(lut, camera, 1).ok; }

// A search box of profile values first..first + 3 (left, top, right,
// bottom), cut to the image. The offset adds the profile's left and top as
// they stand plus whatever the cut took off, so points map back into the
// image also from a box that reaches past it.
struct ProfileBox {
  std::vector<float> buffer;
  Matrix crop{0, 0, nullptr};
  float rowOffset = 0.0f, colOffset = 0.0f;
  bool valid = false;

  ProfileBox(const Matrix* image, int first) {
    const CalibProfileRecord& p = CalibProfile();
    const int w = kProfileValueBase + first;
    const float left = p.F(w), top = p.F(w + 1), right = p.F(w + 2), bottom = p.F(w + 3);
    ImageBox clip{};
    if (ImageBox_ClipEdges(image->cols, image->rows, left, top, right, bottom, &clip) == 0) return;
    ImageBox box{};
    valid = Matrix_CropToImage(image, clip.left, clip.top, clip.cols, clip.rows, &buffer, &crop, &box) != 0;
    colOffset = left + static_cast<float>(box.left - static_cast<int32_t>(left));
    rowOffset = top + static_cast<float>(box.top - static_cast<int32_t>(top));
  }
  // Integer origin of the crop in the image.
  void MoveIntegral(float* points, int32_t n) const {
    const auto dr = static_cast<float>(static_cast<int32_t>(rowOffset));
    const auto dc = static_cast<float>(static_cast<int32_t>(colOffset));
    const FinderPoints p{points};
    for (int32_t i = 0; i < n; ++i) {
      p.row(i) += dr;
      p.col(i) += dc;
    }
  }
};

// Swaps the two squares of one box's seven points (points 1..3 with 4..6).
void SwapSquares(float* seven) {
  for (int i = 1; i <= 3; ++i) {
    std::swap(seven[2 * i], seven[2 * (i + 3)]);
    std::swap(seven[2 * i + 1], seven[2 * (i + 3) + 1]);
  }
}

}  // namespace

uint32_t CalibFind_Layout4(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  if (!Usable(lut, camera, image, points, 16)) return 0;
  const float limit = camera >= 3 ? 0.38f * static_cast<float>(image->rows) : 0.0f;
  // Markers seen too high in a side camera's image are not the ones on the floor.
  auto placed = [&] { return !(points[2 * 1] < limit && points[2 * 4] < limit); };
  SetCount(lut, camera, 16);
  for (int32_t open : {0, 2})
    if (Chessboard_FindNestedMarkerPair(image, points, open) != 0 && placed() && Solves(lut, camera)) return 16;
  SetCount(lut, camera, 8);
  for (int32_t open : {1, 0, 2})
    if (Chessboard_FindLowerMarkerPair(image, points, open, 40.0f) != 0 && placed() && Solves(lut, camera)) return 8;
  return 0;
}

uint32_t CalibFind_Layout9(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  if (!Usable(lut, camera, image, points, 14)) return 0;
  SetCount(lut, camera, 14);
  const int first = 8 * static_cast<int>(camera - 1);
  const ProfileBox a(image, first), b(image, first + 4);
  static const float kThresholds[5][2] = {{0.22f, 0.23f}, {0.17f, 0.23f}, {0.17f, 0.07f}, {0.12f, 0.07f},
                                          {0.07f, 0.07f}};
  for (const auto& t : kThresholds) {
    if (!a.valid || FindCornerWithQuads(&a.crop, points, 0, t[0], t[1]) == 0) continue;
    a.MoveIntegral(points, 7);
    if (!b.valid || FindCornerWithQuads(&b.crop, points + 14, 0, t[0], t[1]) == 0) continue;
    b.MoveIntegral(points + 14, 7);
    // The piece puts the square on the left of the shared corner first,
    // which is the world order while a pair keeps its floor orientation in
    // the picture. Near the edge of a side camera's fisheye a pair turns by
    // most of a right angle and its squares come back swapped, so the
    // swapped orders are solved too (A, then A and B, then B) before the
    // pass is given up; a wrong order leaves a residual the solver rejects.
    if (Solves(lut, camera)) return 14;
    for (float* box : {points, points + 14, points}) {
      SwapSquares(box);
      if (Solves(lut, camera)) return 14;
    }
    SwapSquares(points + 14);  // back to the piece's order
  }
  return 0;
}

uint32_t CalibFind_Layout21(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  if (!Usable(lut, camera, image, points, 18)) return 0;
  CalibProfileRecord& profile = CalibProfile();
  if (profile.Tag() != kLayout21Tag) {
    // No board profile: each board is looked for in one half of the image.
    const auto w = static_cast<float>(image->cols), h = static_cast<float>(image->rows);
    const float halves[8] = {0.0f, 0.0f, w / 2.0f, h - 1.0f, w / 2.0f, 0.0f, w - 1.0f, h - 1.0f};
    for (int k = 0; k < 16; ++k) profile.SetF(kProfileValueBase + k, halves[k % 8]);
  }
  const int first = camera == 1 ? 0 : 8;
  lut->cornerCounts[camera == 1 ? 0 : 1] = 18;
  const ProfileBox a(image, first), b(image, first + 4);
  float found[2][18];  // per box: 9 points found by the current method
  auto search = [&](const ProfileBox& box, bool templates, float* out) {
    if (!box.valid) return false;
    return templates ? FindChessboardByTemplates(&box.crop, 4, 4, out, 0, 0, 0, 0) != 0
                     : Chessboard_FindCorners(&box.crop, 4, 4, out, 0) != 0;
  };
  auto writeAndSolve = [&] {
    float joined[36];
    for (int i = 0; i < 9; ++i) {
      joined[2 * i] = found[0][2 * i] + a.rowOffset;
      joined[2 * i + 1] = found[0][2 * i + 1] + a.colOffset;
      joined[18 + 2 * i] = found[1][2 * i] + b.rowOffset;
      joined[18 + 2 * i + 1] = found[1][2 * i + 1] + b.colOffset;
    }
    for (int i = 0; i < 18; ++i) {
      const int slot = camera == 1 ? i : 17 - i;
      points[2 * slot] = joined[2 * i];
      points[2 * slot + 1] = joined[2 * i + 1];
    }
    return Solves(lut, camera);
  };
  bool solved = false;
  if (search(a, false, found[0])) {
    if (search(b, false, found[1]) && writeAndSolve()) return 18;
    if (search(b, true, found[1]) && writeAndSolve()) return 18;
  }
  if (!search(a, true, found[0])) return 0;
  if (search(b, false, found[1]) && writeAndSolve()) return 18;
  if (!search(b, true, found[1])) return 0;
  solved = writeAndSolve();
  return solved ? 18 : 0;
}

uint32_t CalibFind_Layout52(LUTOB*, uint32_t camera, Matrix*, int32_t, int32_t, float* points) {
  const GlobalVariables& g = gv();
  if (g.blockCalib6 == nullptr || points == nullptr || g.maxPoints < 8) return 0;
  return BlockCalib6_CopyFoundPoints(g.blockCalib6, g.groupNumber == 1 ? 1 : 0, camera, points);
}

uint32_t BlockCalib4_CopyCameraPoints(LUTOB*, uint32_t camera, Matrix*, int32_t, int32_t, float* points) {
  const GlobalVariables& g = gv();
  if (g.blockCalib4 == nullptr || points == nullptr || g.maxPoints < 8) return 0;
  return BlockCalib4_CopyFoundPoints(g.blockCalib4, camera, points);
}

void CalibMarker_OrderPoints(LUTOB* lut, uint32_t camera, const float* src, float* dst, float colScale,
                             float rowScale) {
  static const int kOrder[3][8] = {{7, 6, 5, 4, 3, 2, 1, 0}, {5, 7, 4, 6, 1, 3, 0, 2}, {2, 0, 3, 1, 6, 4, 7, 5}};
  if (lut == nullptr || src == nullptr || dst == nullptr || camera < 2 || camera > 4) return;
  SetCount(lut, camera, 8);
  const int* order = kOrder[camera - 2];
  float out[16];
  for (int i = 0; i < 8; ++i) {
    out[2 * i] = src[2 * order[i]] * rowScale;
    out[2 * i + 1] = src[2 * order[i] + 1] * colScale;
  }
  memcpy(dst, out, sizeof out);  // src and dst may be the same buffer
}

uint32_t FindBoardWithSideQuads(Matrix* image, int32_t cols, int32_t rows, float* points) {
  if (image == nullptr || points == nullptr) return 0;
  if (Chessboard_FindCorners(image, cols, rows, points, 2) == 0 &&
      FindChessboardByTemplates(image, cols, rows, points, 2, 0, 0, 0) == 0)
    return 0;
  const int32_t n = (cols - 1) * (rows - 1);
  float leftCol = 20000.0f, leftRow = 0.0f, rightCol = 0.0f, rightRow = 0.0f, top = 20000.0f, bottom = 0.0f;
  for (int32_t i = 0; i < n; ++i) {
    const float r = points[2 * i], c = points[2 * i + 1];
    if (c < leftCol) {
      leftCol = c;
      leftRow = r;
    }
    if (c > rightCol) {
      rightCol = c;
      rightRow = r;
    }
    if (r < top) top = r;
    if (r > bottom) bottom = r;
  }
  const int32_t m = n > 0 ? n : 0;
  if (Chessboard_FindSideQuads(image, points + 2 * m, 1, leftCol, leftRow, rightCol, rightRow, top, bottom) != 0)
    return static_cast<uint32_t>(n + 8);
  return static_cast<uint32_t>(n);
}
