// Layout 5: a strip of chessboard squares, two two-square pieces and two
// seven-corner patterns per camera. The quad stage finds the strip and the
// pieces over a schedule of binarisations, adds corners picked on the blob
// outlines and accepts the set by the residual of its solve; the pattern
// stage then looks for the seven-corner patterns from that pose.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/outline_corner.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/numeric_constants.h"
#include "surround/lutob.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/matrix.h"
#include "toolkit/morphology.h"
#include "toolkit/sampling.h"
#include "toolkit/thresholds.h"

namespace {

enum Method { kPlain, kSmooth, kOpened };

struct Attempt {
  Method method;
  int32_t window;
  float offset;
  float limit;  // residual limit of the acceptance test
};

const Attempt kFrontAttempts[] = {
    {kSmooth, 21, 0.0f, 1.91f},  {kSmooth, 21, -0.04f, 2.31f}, {kPlain, 21, -0.03f, 2.71f},
    {kPlain, 21, 0.0f, 3.21f},   {kPlain, 7, 0.03f, 3.21f},    {kPlain, 41, 0.0f, 3.51f},
    {kPlain, 41, -0.04f, 3.51f}, {kPlain, 41, -0.07f, 4.21f},  {kPlain, 41, 0.04f, 4.21f},
    {kPlain, 41, 0.07f, 4.21f},  {kOpened, 21, -0.03f, 4.51f}, {kSmooth, 41, -0.03f, 4.51f},
    {kSmooth, 41, -0.01f, 4.51f}, {kOpened, 31, 0.0f, 4.51f},  {kSmooth, 41, -0.04f, 4.51f},
    {kOpened, 31, 0.04f, 4.51f},
};

const Attempt kSideAttempts[] = {
    {kPlain, 21, 0.0f, 1.91f},  {kPlain, 21, -0.04f, 2.31f}, {kPlain, 21, -0.03f, 2.71f},
    {kPlain, 21, 0.04f, 3.21f}, {kPlain, 21, 0.03f, 3.21f},  {kPlain, 41, 0.0f, 3.51f},
    {kPlain, 41, -0.04f, 3.51f}, {kPlain, 41, -0.07f, 4.21f}, {kPlain, 41, 0.04f, 4.21f},
    {kPlain, 41, 0.07f, 4.21f}, {kOpened, 21, -0.03f, 4.51f},
};

constexpr int32_t kKernels[3][2] = {{1, 1}, {2, 1}, {1, 2}};

struct LinkSetting {
  float maxDist2, minEdge2;
  float centreLimit;  // side cameras: how far off the middle a piece may lie
};

const LinkSetting kFrontLinks[] = {{144, 121, 0}, {81, 121, 0}, {144, 225, 0}, {81, 225, 0}};
const LinkSetting kSideLinks[] = {{196, 121, 0.48f}, {100, 121, 0.48f}, {196, 121, 0.58f},
                                  {100, 121, 0.58f}, {196, 121, 0.68f}, {100, 121, 0.68f}};

constexpr float kOutlineOffsets[3] = {0.005f, 0.02f, 0.035f};
constexpr float kNoCorner = 10000.0f;
constexpr int32_t kFrontCount = 21, kSideCount = 22;

// Resets the ordering marks so a group can be placed on another board size.
void ClearOrder(ChessQuad** group, int32_t size) {
  for (int32_t i = 0; i < size; ++i) {
    group[i]->ordered = 0;
    group[i]->column = -1;
    group[i]->row = -1;
  }
}

// Places the group on a board of cols x rows squares; its inner corners
// (row by row of the found orientation) when every dark square is placed and
// every inner corner written.
bool GroupBoard(ChessQuad** group, int32_t size, int32_t cols, int32_t rows, std::vector<float>* corners) {
  ClearOrder(group, size);
  int32_t a = cols, b = rows;
  const int32_t placed = ChessQuad_OrderGroup(group, size, &a, &b);
  if (placed != cols * rows / 2) return false;
  const int32_t expected = (cols - 1) * (rows - 1);
  corners->assign(2 * static_cast<size_t>(expected), -1.0f);
  return ChessQuad_FillGrid(group, placed, a, b, corners->data()) == expected;
}

// The search box: four profile values (x0, y0, x1, y1) from `first`. A
// layout-5 profile whose file could not be read gets the whole picture less
// two pixels as every box, and counts as loaded from then on. Without a
// layout-5 profile at all the whole picture is searched and the record,
// which may hold another layout's profile or be read later, is left alone.
void SearchBox(int32_t first, const Matrix* image, float box[4]) {
  CalibProfileRecord& profile = CalibProfile();
  const float whole[4] = {0.0f, 0.0f, static_cast<float>(image->cols - 2), static_cast<float>(image->rows - 2)};
  if (profile.Tag() != 5) {
    std::copy(whole, whole + 4, box);
    return;
  }
  if (profile.I(2) == 0) {
    for (int32_t k = 0; k < 16; ++k) profile.SetF(3 + k, whole[k % 4]);
    profile.SetI(2, 1);
  }
  for (int32_t k = 0; k < 4; ++k) box[k] = profile.F(3 + first + k);
}

struct Finder {
  LUTOB* lut;
  uint32_t camera;
  const Matrix* image;  // the picture searched (turned when asked)
  bool side;
  int32_t expected;  // quad-stage points
  Matrix crop;       // the search box
  ImageBox box;
  Matrix work;
  std::vector<float> workData;
  int32_t tries = 0;  // solves made so far

  void Binarise(const Attempt& a, int32_t kernel) {
    Matrix_Copy(&crop, &work);
    if (a.method == kSmooth) Image_BoxMean(&work, &work, 1, 1);
    Image_AdaptiveThreshold(&work, a.window, a.offset);
    Image_Dilate(&work, kKernels[kernel][0], kKernels[kernel][1]);
    if (a.method == kOpened) {
      Image_Erode(&work, 3, 3);
      Image_Dilate(&work, 3, 3);
    }
  }

  // Strip and pieces among the linked quads: the quad-stage points 0..4
  // (front) or 0..3 (side) in box coordinates.
  bool Pieces(ChessQuad* quads, int32_t count, const LinkSetting& link, float* out) const {
    std::vector<ChessQuad*> group(static_cast<size_t>(count));
    std::vector<float> corners, strip;
    std::vector<float> small;  // (row, column) pairs
    int32_t strips = 0;
    const int32_t stripCols = side ? 3 : 4, stripCorners = stripCols - 1;
    const float W = static_cast<float>(image->cols), H = static_cast<float>(image->rows);
    for (int32_t g = 0; strips <= 1 && small.size() <= 4; ++g) {
      const int32_t size = ChessQuad_CollectGroup(quads, count, group.data(), g);
      if (size == 0) break;
      if (size == stripCols) {
        if (!GroupBoard(group.data(), size, stripCols, 2, &corners)) continue;
        ++strips;
        strip = corners;
      } else if (size == 2) {
        if (!GroupBoard(group.data(), size, 2, 2, &corners)) continue;
        const float row = corners[0] + static_cast<float>(box.top);
        const float col = corners[1] + static_cast<float>(box.left);
        if (side) {
          const float half = W / 2.0f;
          if (!(std::fabs(col - half) / half < link.centreLimit && row > 0.25f * H)) continue;
        } else if (!(row > 0.3f * H && row < 0.9f * H)) {
          continue;
        }
        small.push_back(corners[0]);
        small.push_back(corners[1]);
      }
    }
    if (strips != 1 || small.size() != 4) return false;
    // The two pieces lie on either side of the picture's middle (front and
    // rear cameras).
    const float c0 = small[1] + static_cast<float>(box.left), c1 = small[3] + static_cast<float>(box.left);
    if (!side && !(std::min(c0, c1) <= W / 2.0f && W / 2.0f <= std::max(c0, c1))) return false;
    // The strip ascending by column unless its first two corners say
    // otherwise.
    const bool reverse = strip[1] > strip[3];
    for (int32_t i = 0; i < stripCorners; ++i) {
      const int32_t from = reverse ? stripCorners - 1 - i : i;
      out[2 * i] = strip[2 * from];
      out[2 * i + 1] = strip[2 * from + 1];
    }
    const int32_t first = small[1] <= small[3] ? 0 : 1;
    for (int32_t i = 0; i < 2; ++i) {
      const int32_t from = i == 0 ? first : 1 - first;
      out[2 * (stripCorners + i)] = small[2 * from];
      out[2 * (stripCorners + i) + 1] = small[2 * from + 1];
    }
    return true;
  }

  // Corners picked on the blob outlines beside the pieces: points 5 and 6
  // (front) or 4 to 7 (side), box coordinates.
  bool OutlineCorners(const Attempt& a, float* out) {
    const int32_t n = side ? 4 : 2;
    float best[4] = {kNoCorner, kNoCorner, kNoCorner, kNoCorner};
    for (int32_t t = 0; t < 3; ++t) {
      Matrix_Copy(&crop, &work);
      Image_AdaptiveThreshold(&work, a.window + 5 * t, a.offset + kOutlineOffsets[t]);
      if (!side) {
        Image_Dilate(&work, 1, 1);
        Image_Erode(&work, 1, 1);
      }
      BlobList* blobs = BlobList_FindComponents(&work);
      if (blobs != nullptr) {
        while (const Blob* blob = BlobList_Next(blobs)) {
          if (side) {
            Blob_FindCornerNear(blob, out + 4, 0, 1, &best[0], out + 8, 140.0f);
            Blob_FindCornerNear(blob, out + 4, 3, 1, &best[1], out + 10, 140.0f);
            Blob_FindCornerNear(blob, out + 6, 2, 1, &best[2], out + 12, 140.0f);
            Blob_FindCornerNear(blob, out + 6, 1, 1, &best[3], out + 14, 140.0f);
          } else {
            Blob_FindCornerNear(blob, out + 0, 0, 1, &best[0], out + 10, 180.0f);
            Blob_FindCornerNear(blob, out + 4, 3, 1, &best[1], out + 12, 230.0f);
          }
        }
        BlobList_Free(blobs);
      }
      if (std::all_of(best, best + n, [](float d) { return d < kNoCorner; })) return true;
    }
    return false;
  }

  FinderSolve Solve(int32_t flag) { return FinderSolvePose(lut, camera, flag); }

  // The quad stage; true with points 0 .. expected - 1 (picture coordinates)
  // accepted by a solve within the attempt's residual limit.
  bool QuadStage(float* points) {
    const Attempt* attempts = side ? kSideAttempts : kFrontAttempts;
    const int32_t attemptCount = side ? 11 : 16;
    const LinkSetting* links = side ? kSideLinks : kFrontLinks;
    const int32_t linkCount = side ? 6 : 4;
    const float H = static_cast<float>(image->rows);
    std::vector<ChessQuad> fitted, quads;
    std::vector<float> out(2 * static_cast<size_t>(expected));
    for (int32_t sweep = 0; sweep < 3; ++sweep) {
      for (int32_t ai = 0; ai < attemptCount; ++ai) {
        const Attempt& a = attempts[ai];
        Binarise(a, sweep);
        BlobList* blobs = BlobList_FindComponents(&work);
        if (blobs == nullptr) continue;
        fitted.clear();
        while (const Blob* blob = BlobList_Next(blobs)) {
          ChessQuad q{};
          if (ChessQuad_FitStraight(blob, &q, 0)) fitted.push_back(q);
        }
        BlobList_Free(blobs);
        const auto count = static_cast<int32_t>(fitted.size());
        if (count == 0) continue;
        for (int32_t li = 0; li < linkCount; ++li) {
          quads = fitted;
          ChessQuad_LinkNeighbours(quads.data(), count, links[li].maxDist2, links[li].minEdge2);
          if (!Pieces(quads.data(), count, links[li], out.data())) continue;
          // A front or rear strip whose middle corner lies too high in the
          // picture is never solved (tested before the outline search, which
          // does not move that corner).
          if (!side && !(out[2] + static_cast<float>(box.top) > 0.38f * H)) continue;
          if (!OutlineCorners(a, out.data())) continue;
          const FinderPoints p{points};
          for (int32_t i = 0; i < expected; ++i) {
            p.row(i) = out[2 * i] + static_cast<float>(box.top);
            p.col(i) = out[2 * i + 1] + static_cast<float>(box.left);
          }
          const FinderSolve fit = Solve(tries > 4 ? 1 : 0);
          ++tries;
          if (!fit.ok || !(fit.rms <= a.limit)) continue;
          if (!side) AvmLog("~~~~~~~~~~~~~~~~~~ qanic %d %d %d  \n", sweep, ai, li);
          ChessCorners_Refine(image, points, side ? 4 : 5);
          return true;
        }
      }
    }
    return false;
  }

  // The two seven-corner patterns from the accepted pose, solved again
  // with flag 0 and then 1 before each search.
  bool Patterns(float* points) {
    const float* wp = lut->worldPoints[camera - 1];
    const int32_t at[2] = {side ? 8 : 7, side ? 15 : 14};
    const float halfW = 500.0f, halfH = side ? 800.0f : 500.0f;
    float found[2][14];
    for (int32_t pass = 0; pass < 2; ++pass) {
      Solve(pass);
      bool all = true;
      for (int32_t k = 0; k < 2 && all; ++k) {
        const float* w = wp + 3 * at[k];
        all = CalibFindPattern(lut, static_cast<int32_t>(camera) - 1, image, 6, 0, 0, found[k], 250.0f,
                               w[0] - halfW, w[1] - halfH, 2 * halfW, 2 * halfH, 0.0f) != 0;
      }
      if (!all) continue;
      for (int32_t k = 0; k < 2; ++k) memcpy(points + 2 * at[k], found[k], sizeof found[k]);
      return true;
    }
    return false;
  }
};

bool Usable(const LUTOB* lut, uint32_t camera, const Matrix* image, const float* points, int32_t count) {
  // The output and world-point buffers hold word-31 points a camera.
  return lut != nullptr && camera >= 1 && camera <= 4 && image != nullptr && image->data != nullptr &&
         image->cols > 2 && image->rows > 2 && points != nullptr && lut->worldPoints[camera - 1] != nullptr &&
         gv().maxPoints >= count;
}

uint32_t Run(LUTOB* lut, uint32_t camera, Matrix* image, float* points, bool side, bool turn) {
  std::vector<float> turnedData;
  Matrix turned{};
  if (turn) {
    turnedData.assign(static_cast<size_t>(image->cols) * image->rows, 0.0f);
    turned = Matrix{image->cols, image->rows, turnedData.data()};
    Image_Rotate(image, &turned, kPi);
  }
  Finder f{lut, camera, turn ? &turned : image, side, side ? 8 : 7, {}, {}, {}, {}};
  float values[4];
  SearchBox(4 * static_cast<int32_t>(camera - 1), image, values);
  std::vector<float> cropData;
  if (!ImageBox_ClipEdges(image->cols, image->rows, values[0], values[1], values[2], values[3], &f.box) ||
      !Matrix_CropToImage(f.image, f.box.left, f.box.top, f.box.cols, f.box.rows, &cropData, &f.crop, &f.box))
    return 0;
  f.workData.assign(cropData.size(), 0.0f);
  f.work = Matrix{f.crop.cols, f.crop.rows, f.workData.data()};
  uint32_t n = 0;
  if (f.QuadStage(points)) {
    if (f.Patterns(points))
      n = static_cast<uint32_t>(side ? kSideCount : kFrontCount);
    else if (!side)
      n = 7;
  }
  if (turn)
    for (uint32_t i = 0; i < n; ++i) {
      points[2 * i] = static_cast<float>(image->rows - 1) - points[2 * i];
      points[2 * i + 1] = static_cast<float>(image->cols - 1) - points[2 * i + 1];
    }
  return n;
}

}  // namespace

AVM_LAYOUT_FINDER_SHORT(CalibInit_FindChessboardCorners) {
  if (!Usable(lut, camera, image, points, kFrontCount) || camera > 2) return 0;
  lut->cornerCounts[camera - 1] = 7;
  AvmLog("CalibInit_FindChessboardCorners ");
  const bool turn = (gv().JDSpecial & (camera == 1 ? 4 : 2)) != 0;
  return Run(lut, camera, image, points, false, turn);
}

AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout5Side) {
  if (!Usable(lut, camera, image, points, kSideCount) || camera < 3) return 0;
  lut->cornerCounts[camera - 1] = 8;
  const bool turn = camera == 4 && (gv().JDSpecial & 1) != 0;
  return Run(lut, camera, image, points, true, turn);
}

AVM_LAYOUT_FINDER(CalibFind_Layout5Any) {
  (void)cols;
  (void)rows;
  if (camera == 1 || camera == 2) return CalibInit_FindChessboardCorners(lut, camera, image, points);
  return CalibFind_Layout5Side(lut, camera, image, points);
}
