#include "calibration/detect/template_segment_finders.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/template_corner_pieces.h"
#include "calibration/detect/template_corners.h"
#include "frame/calib_profile.h"
#include "surround/lutob.h"
#include "toolkit/border_filters.h"

namespace {

// Threshold schedule: non-maximum suppression, score.
constexpr float kSuppression[7] = {0.28f, 0.36f, 0.2f, 0.14f, 0.09f, 0.28f, 0.36f};
constexpr float kScore[7] = {0.23f, 0.23f, 0.23f, 0.15f, 0.07f, 0.0f, 0.0f};

using Segment = std::array<float, 6>;  // three (row, column) corners in grid order

// The box of profile values first..first + 3, cut to the image, smoothed,
// with its corner likelihood.
struct CornerLists {
  TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
  int32_t counts[3] = {0, 0, 0};
  ~CornerLists() {
    for (TemplateCorner* l : lists) free(l);
  }
};

struct SearchBox {
  ImageBox box{};
  std::vector<float> crop, smooth, like;
  Matrix smoothM{0, 0, nullptr}, likeM{0, 0, nullptr};

  bool Cut(const Matrix* image, int32_t first) {
    const CalibProfileRecord& profile = CalibProfile();
    float v[4];
    for (int i = 0; i < 4; ++i) v[i] = profile.F(2 + first + i);
    if (!ImageBox_ClipEdges(image->cols, image->rows, v[0], v[1], v[2], v[3], &box)) return false;
    Matrix cropM{0, 0, nullptr};
    if (!Matrix_CropToImage(image, box.left, box.top, box.cols, box.rows, &crop, &cropM, &box)) return false;
    const size_t n = static_cast<size_t>(box.cols) * static_cast<size_t>(box.rows);
    smooth.assign(n, 0.0f);
    like.assign(n, 0.0f);
    smoothM = Matrix{box.cols, box.rows, smooth.data()};
    likeM = Matrix{box.cols, box.rows, like.data()};
    Image_BoxMean(&cropM, &smoothM, 1, 1);
    CornerLikelihood(&smoothM, &likeM, 0);
    return true;
  }

  // The template corners of pass p, in the coordinates of the whole image.
  void Detect(int32_t p, CornerLists* cl) const {
    DetectTemplateCorners(&smoothM, &likeM, cl->lists, cl->counts, 0, kSuppression[p], kScore[p]);
    for (int32_t j = 0; j < 3; ++j)
      for (int32_t i = 0; i < cl->counts[j]; ++i) {
        cl->lists[j][i].y += static_cast<float>(box.top);
        cl->lists[j][i].x += static_cast<float>(box.left);
      }
  }
};

float Spacing(const float* grid) { return std::hypot(grid[2] - grid[0], grid[3] - grid[1]); }

}  // namespace

uint32_t CalibFind_Layout53Templates(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  // Camera 2 has no world points in this layout: no other camera's fields
  // are touched on its behalf.
  if (lut == nullptr || camera < 1 || camera > 4 || camera == 2 || image == nullptr || image->data == nullptr ||
      points == nullptr)
    return 0;
  const int32_t first = camera == 1 ? 0 : camera == 3 ? 12 : 16;
  lut->cornerCounts[camera - 1] = 6;
  SearchBox sb;
  if (!sb.Cut(image, first)) return 0;
  const int32_t W = image->cols;
  const float linkDistance = std::max(110.0f, static_cast<float>(W) * 110.0f / 720.0f);
  std::vector<TemplateCorner*> members;
  std::vector<float> grid;
  for (int32_t p = 0; p < 7; ++p) {
    CornerLists cl;
    sb.Detect(p, &cl);
    for (int32_t j = 0; j < 3; ++j) {
      const int32_t n = cl.counts[j];
      if (n == 0) continue;
      TemplateCorner* list = cl.lists[j];
      LinkTemplateCorners(list, n, 0, linkDistance, 4.0f);
      // Growth writes candidates behind the members found so far.
      members.assign(2 * static_cast<size_t>(n) + 16, nullptr);
      std::vector<Segment> across, upright;
      for (int32_t k = 0;; ++k) {
        int32_t rowsOut = 0, colsOut = 0;
        const int32_t m = GrowBoard(list, n, members.data(), k, &rowsOut, &colsOut, W / 2);
        if (m == 0) break;
        if (m != rowsOut * colsOut) continue;
        grid.assign(2 * static_cast<size_t>(m), -1.0f);
        CornerGridToArray(members.data(), m, colsOut, grid.data(), nullptr);
        if (m < 2 || !(Spacing(grid.data()) > 30.0f)) continue;
        Segment s;
        if (rowsOut == 1 && colsOut == 3) {
          std::copy(grid.begin(), grid.end(), s.begin());
          across.push_back(s);
        } else if (rowsOut == 3 && colsOut == 1) {
          std::copy(grid.begin(), grid.end(), s.begin());
          upright.push_back(s);
        } else if (rowsOut == 2 && colsOut == 3) {
          std::copy(grid.begin(), grid.begin() + 6, s.begin());
          across.push_back(s);
          std::copy(grid.begin() + 6, grid.end(), s.begin());
          across.push_back(s);
        }
        if (across.size() >= 3 || upright.size() > 2) break;
      }
      const std::vector<Segment>& pair = camera == 1 ? upright : across;
      if (pair.size() != 2) continue;
      // Camera 1: the left strip first; the side cameras: the upper one.
      const int key = camera == 1 ? 1 : 0;
      const bool firstFirst = pair[0][key] < pair[1][key];
      const Segment& a = firstFirst ? pair[0] : pair[1];
      const Segment& b = firstFirst ? pair[1] : pair[0];
      std::copy(a.begin(), a.end(), points);
      std::copy(b.begin(), b.end(), points + 6);
      if (FinderSolvePose(lut, camera, 0).ok) return 6;
    }
  }
  return 0;
}

uint32_t CalibFind_Layout11Front(LUTOB* lut, uint32_t camera, Matrix* image, float* points) {
  // The front strip is camera 1's alone.
  if (lut == nullptr || camera != 1 || image == nullptr || image->data == nullptr || points == nullptr) return 0;
  lut->cornerCounts[0] = 3;
  const CalibProfileRecord& profile = CalibProfile();
  const float refX = profile.F(2 + 40), refY = profile.F(2 + 41);
  SearchBox sb;
  if (!sb.Cut(image, 24)) return 0;
  const int32_t W = image->cols;
  const float tolerance = static_cast<float>(W) * 15.0f / 720.0f;
  const float linkDistance = std::max(110.0f, static_cast<float>(W) * 110.0f / 720.0f);
  auto near = [&](const float* c) { return std::fabs(c[1] - refX) < tolerance && std::fabs(c[0] - refY) < tolerance; };
  std::vector<TemplateCorner*> members;
  std::vector<float> grid;
  for (int32_t p = 0; p < 5; ++p) {
    CornerLists cl;
    sb.Detect(p, &cl);
    for (int32_t j = 0; j < 3; ++j) {
      const int32_t n = cl.counts[j];
      if (n == 0) continue;
      TemplateCorner* list = cl.lists[j];
      LinkTemplateCorners(list, n, 0, linkDistance, 4.0f);
      members.assign(2 * static_cast<size_t>(n) + 16, nullptr);
      Segment found{};
      int32_t qualifying = 0;
      for (int32_t k = 0;; ++k) {
        int32_t rowsOut = 0, colsOut = 0;
        const int32_t m = GrowBoard(list, n, members.data(), k, &rowsOut, &colsOut, W / 2);
        if (m == 0) break;
        if (rowsOut != 1 || m != colsOut || m < 3 || m > 5) continue;
        grid.assign(2 * static_cast<size_t>(m), -1.0f);
        CornerGridToArray(members.data(), m, colsOut, grid.data(), nullptr);
        int32_t start = -1;
        if (m == 3 && near(&grid[0])) start = 0;
        if (m == 5 && near(&grid[2])) start = 1;
        if (m == 4) {
          const float d0 = std::fabs(grid[1] - refX), d1 = std::fabs(grid[3] - refX);
          if (std::min(d0, d1) < tolerance) start = d0 < d1 ? 0 : 1;
        }
        if (start < 0) continue;
        // A second strip near the reference makes the list ambiguous.
        if (++qualifying > 1) break;
        std::copy(grid.begin() + 2 * start, grid.begin() + 2 * start + 6, found.begin());
      }
      if (qualifying != 1) continue;
      const bool reversed = found[1] > found[3];
      for (int i = 0; i < 3; ++i) {
        const int src = reversed ? 2 - i : i;
        points[2 * i] = found[2 * src];
        points[2 * i + 1] = found[2 * src + 1];
      }
      if (FinderSolvePose(lut, camera, 0).ok) return 3;
    }
  }
  return 0;
}

namespace {

// The rear strip's search in one corner list: its three corners on the
// centre column, and the corners nearest the two reference points.
bool RearStrip(TemplateCorner* list, int32_t n, int32_t W, const float refA[2], const float refB[2], float tolerance,
               float* points) {
  const TemplateCorner* nearest[2] = {nullptr, nullptr};
  float best[2] = {10000.0f, 10000.0f};
  const float* refs[2] = {refA, refB};
  for (int32_t i = 0; i < n; ++i)
    for (int r = 0; r < 2; ++r) {
      const float d = std::min(10000.0f, std::hypot(list[i].x - refs[r][0], list[i].y - refs[r][1]));
      if (d < best[r]) {
        best[r] = d;
        nearest[r] = &list[i];
      }
    }
  if (!(best[0] < tolerance && best[1] < tolerance)) return false;
  const float nearA[2] = {nearest[0]->y, nearest[0]->x}, nearB[2] = {nearest[1]->y, nearest[1]->x};
  LinkTemplateCorners(list, n, 0, std::max(110.0f, static_cast<float>(W) * 110.0f / 720.0f), 4.0f);
  std::vector<TemplateCorner*> members(2 * static_cast<size_t>(n) + 16, nullptr);
  std::vector<float> grid;
  const float centre = static_cast<float>(W / 2);
  auto onCentre = [centre](const float* c) { return std::fabs(centre - c[1]); };
  Segment found{};
  int32_t qualifying = 0;
  for (int32_t k = 0;; ++k) {
    int32_t rowsOut = 0, colsOut = 0;
    const int32_t m = GrowBoard(list, n, members.data(), k, &rowsOut, &colsOut, W / 2);
    if (m == 0) break;
    if (rowsOut != 1 || m != colsOut || m < 3 || m > 5) continue;
    grid.assign(2 * static_cast<size_t>(m), -1.0f);
    CornerGridToArray(members.data(), m, colsOut, grid.data(), nullptr);
    int32_t start = -1;
    if (m == 3 && onCentre(&grid[2]) < 50.0f) start = 0;
    if (m == 5 && onCentre(&grid[4]) < 50.0f) start = 1;
    if (m == 4) {
      const float d1 = onCentre(&grid[2]), d2 = onCentre(&grid[4]);
      if (std::min(d1, d2) < 50.0f) start = d1 < d2 ? 0 : 1;
    }
    if (start < 0) continue;
    if (++qualifying > 1) break;
    std::copy(grid.begin() + 2 * start, grid.begin() + 2 * start + 6, found.begin());
  }
  if (qualifying != 1) return false;
  const bool reversed = found[1] > found[3];
  for (int i = 0; i < 3; ++i) {
    const int src = reversed ? 2 - i : i;
    points[2 * i] = found[2 * src];
    points[2 * i + 1] = found[2 * src + 1];
  }
  const bool aFirst = nearA[1] <= nearB[1];
  std::copy(aFirst ? nearA : nearB, (aFirst ? nearA : nearB) + 2, points + 6);
  std::copy(aFirst ? nearB : nearA, (aFirst ? nearB : nearA) + 2, points + 8);
  return true;
}

}  // namespace

uint32_t CalibFind_Layout11Rear(LUTOB* lut, uint32_t camera, Matrix* image, float* points) {
  // The rear strip is camera 2's alone.
  if (lut == nullptr || camera != 2 || image == nullptr || image->data == nullptr || points == nullptr) return 0;
  lut->cornerCounts[1] = 5;
  const CalibProfileRecord& profile = CalibProfile();
  const float refA[2] = {profile.F(2 + 42), profile.F(2 + 43)}, refB[2] = {profile.F(2 + 44), profile.F(2 + 45)};
  SearchBox sb;
  if (!sb.Cut(image, 28)) return 0;
  const int32_t W = image->cols;
  const float tolerance = static_cast<float>(W) * 40.0f / 720.0f;
  std::vector<TemplateCorner> work;
  for (int32_t p = 0; p < 7; ++p) {
    CornerLists cl;
    sb.Detect(p, &cl);
    for (int32_t j = 0; j < 3; ++j) {
      const int32_t n = cl.counts[j];
      if (n == 0) continue;
      // The list as found, then once more with only the corners whose
      // sectors look like a chessboard corner in the camera image.
      for (int32_t attempt = 0; attempt < 2; ++attempt) {
        work.clear();
        for (int32_t i = 0; i < n; ++i)
          if (attempt == 0 || CheckCornerSectors(&cl.lists[j][i], image)) work.push_back(cl.lists[j][i]);
        if (work.empty()) continue;
        if (RearStrip(work.data(), static_cast<int32_t>(work.size()), W, refA, refB, tolerance,
                      points) &&
            FinderSolvePose(lut, 2, 0).ok)
          return 5;
      }
    }
  }
  return 0;
}

uint32_t CalibFind_Layout53SideTemplates(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t,
                                         float* points) {
  // Only the side cameras have this target; any other camera would be
  // solved with camera 4's box and count.
  if (lut == nullptr || (camera != 3 && camera != 4) || image == nullptr || image->data == nullptr ||
      points == nullptr)
    return 0;
  lut->cornerCounts[camera - 1] = 7;
  SearchBox sb;
  if (!sb.Cut(image, camera == 3 ? 4 : 8)) return 0;
  const int32_t W = image->cols;
  const float linkDistance = std::max(110.0f, static_cast<float>(W) * 110.0f / 720.0f);
  auto spread = [](const float* grid) { return std::fabs(grid[3] - grid[1]) > 30.0f; };
  std::vector<TemplateCorner*> members;
  std::vector<float> grid;
  for (int32_t p = 0; p < 5; ++p) {
    CornerLists cl;
    sb.Detect(p, &cl);
    for (int32_t j = 0; j < 3; ++j) {
      const int32_t n = cl.counts[j];
      if (n == 0) continue;
      TemplateCorner* list = cl.lists[j];
      LinkTemplateCorners(list, n, 0, linkDistance, 4.0f);
      members.assign(2 * static_cast<size_t>(n) + 16, nullptr);
      std::vector<Segment> segments;
      std::array<float, 24> board{};
      bool haveBoard = false;
      for (int32_t k = 0;; ++k) {
        int32_t rowsOut = 0, colsOut = 0;
        const int32_t m = GrowBoard(list, n, members.data(), k, &rowsOut, &colsOut, W / 2);
        if (m == 0) break;
        if (m != rowsOut * colsOut) continue;
        const bool segment = rowsOut == 1 && colsOut == 3, gridBoard = rowsOut == 4 && colsOut == 3;
        if (!segment && !gridBoard) continue;
        grid.assign(2 * static_cast<size_t>(m), -1.0f);
        CornerGridToArray(members.data(), m, colsOut, grid.data(), nullptr);
        if (!spread(grid.data())) continue;
        if (segment) {
          Segment s;
          std::copy(grid.begin(), grid.end(), s.begin());
          segments.push_back(s);
          if (segments.size() > 2) break;
        } else if (!haveBoard) {
          std::copy(grid.begin(), grid.end(), board.begin());
          haveBoard = true;
        }
      }
      if (segments.size() != 1 || !haveBoard) continue;
      // The grid's four outer corners, then the segment (camera 3 sees it
      // running the other way).
      static const int kOuter[4] = {0, 2, 9, 11};
      for (int i = 0; i < 4; ++i) {
        points[2 * i] = board[2 * kOuter[i]];
        points[2 * i + 1] = board[2 * kOuter[i] + 1];
      }
      const Segment& s = segments[0];
      for (int i = 0; i < 3; ++i) {
        const int src = camera == 3 ? 2 - i : i;
        points[8 + 2 * i] = s[2 * src];
        points[8 + 2 * i + 1] = s[2 * src + 1];
      }
      if (FinderSolvePose(lut, camera, 0).ok) return 7;
    }
  }
  return 0;
}
