#include "calibration/detect/template_corner_layout_finders.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/corner_resample.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/quad_measures.h"
#include "calibration/detect/quad_search.h"
#include "calibration/detect/template_corner_pieces.h"
#include "calibration/detect/template_corners.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "frame/numeric_constants.h"
#include "surround/lutob.h"
#include "toolkit/border_filters.h"
#include "toolkit/sampling.h"

namespace {

// Threshold schedule of the corner maps: suppression, score.
constexpr int32_t kSteps = 5;
constexpr float kSuppression[kSteps] = {0.28f, 0.36f, 0.2f, 0.14f, 0.09f};
constexpr float kScore[kSteps] = {0.23f, 0.23f, 0.23f, 0.15f, 0.07f};

// Every finder here needs the camera's point buffer and world points to
// hold `needed` points.
float V(int32_t i) { return CalibProfile().F(2 + i); }

// Pattern of `type` in the floor window.
int32_t PatternAt(LUTOB* lut, int32_t cameraIndex, const Matrix* image, int32_t type, int32_t level, float* out,
                  float size, const FloorWindow& window) {
  return CalibFindPatternIn(lut, cameraIndex, image, type, level, 0, out, size, window);
}

void CopyPoint(float* dst, int32_t i, const float* src, int32_t j) {
  dst[2 * i] = src[2 * j];
  dst[2 * i + 1] = src[2 * j + 1];
}

// A corner cut loose from every board and link, so that it can be linked
// again in another set.
TemplateCorner Loose(const TemplateCorner& c) {
  TemplateCorner t = c;
  t.label = -1;
  t.gridRow = t.gridCol = -1;
  t.linkCount = 0;
  t.visitMark = 0;
  for (int k = 0; k < 4; ++k) {
    t.link[k] = nullptr;
    t.linkLength[k] = FLT_MAX;
    t.backIndex[k] = -1;
  }
  return t;
}

bool Linked(const TemplateCorner* a, const TemplateCorner* b) {
  for (int k = 0; k < 4; ++k)
    if (a->link[k] == b || b->link[k] == a) return true;
  return false;
}

struct CornerLists {
  TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
  int32_t counts[3] = {0, 0, 0};
  CornerLists() = default;
  CornerLists(const CornerLists&) = delete;
  CornerLists& operator=(const CornerLists&) = delete;
  ~CornerLists() {
    for (TemplateCorner* l : lists) free(l);
  }
};

// The smoothed image part and its corner likelihood; corners come back in
// the coordinates of the whole image.
struct CornerMap {
  ImageBox box{};
  std::vector<float> crop, smooth, like;
  Matrix smoothM{0, 0, nullptr}, likeM{0, 0, nullptr};

  bool Build(const Matrix* image, const ImageBox& want, int32_t radius) {
    Matrix cropM{0, 0, nullptr};
    if (!Matrix_CropToImage(image, want.left, want.top, want.cols, want.rows, &crop, &cropM, &box)) return false;
    const size_t n = static_cast<size_t>(box.cols) * static_cast<size_t>(box.rows);
    smooth.assign(n, 0.0f);
    like.assign(n, 0.0f);
    smoothM = Matrix{box.cols, box.rows, smooth.data()};
    likeM = Matrix{box.cols, box.rows, like.data()};
    Image_BoxMean(&cropM, &smoothM, radius, radius);
    CornerLikelihood(&smoothM, &likeM, 0);
    return true;
  }
  // The profile box of values first..first + 3 (left, top, right, bottom).
  bool BuildFromProfile(const Matrix* image, int32_t first) {
    ImageBox want{};
    if (!ImageBox_ClipEdges(image->cols, image->rows, V(first), V(first + 1), V(first + 2), V(first + 3), &want))
      return false;
    return Build(image, want, 1);
  }
  void Detect(float suppression, float score, CornerLists* cl) const {
    DetectTemplateCorners(&smoothM, &likeM, cl->lists, cl->counts, 0, suppression, score);
    for (int32_t j = 0; j < 3; ++j)
      for (int32_t i = 0; i < cl->counts[j]; ++i) {
        cl->lists[j][i].y += static_cast<float>(box.top);
        cl->lists[j][i].x += static_cast<float>(box.left);
      }
  }
};

// One grown board: its corners row-major (row, column pairs).
struct Board {
  int32_t rows = 0, cols = 0;
  std::vector<float> grid;
  std::vector<TemplateCorner*> ptrs;
};

// Links the corners and grows every board out of them.
std::vector<Board> GrowAll(TemplateCorner* list, int32_t n, float linkLimit, float ratio, int32_t centreX) {
  std::vector<Board> boards;
  if (n <= 0) return boards;
  LinkTemplateCorners(list, n, 0, linkLimit, ratio);
  // Growth writes candidates behind the members found so far.
  std::vector<TemplateCorner*> members(2 * static_cast<size_t>(n) + 16, nullptr);
  for (int32_t label = 0; label <= n; ++label) {
    int32_t rowsOut = 0, colsOut = 0;
    const int32_t m = GrowBoard(list, n, members.data(), label, &rowsOut, &colsOut, centreX);
    if (m == 0) break;
    if (m != rowsOut * colsOut) continue;
    Board b;
    b.rows = rowsOut;
    b.cols = colsOut;
    b.grid.assign(2 * static_cast<size_t>(m), -1.0f);
    b.ptrs.assign(static_cast<size_t>(m), nullptr);
    CornerGridToArray(members.data(), m, colsOut, b.grid.data(), b.ptrs.data());
    boards.push_back(std::move(b));
  }
  return boards;
}

// The nearest corner of each reference point (row, column) among the
// corners nearer to it than to the other references; distances capped at
// 10000. index -1 when a reference got no corner.
struct Nearest {
  int32_t index[3] = {-1, -1, -1};
  float distance[3] = {10000.0f, 10000.0f, 10000.0f};
};

Nearest NearestToReferences(const std::vector<TemplateCorner>& corners, const float (*refs)[2], int32_t nRefs) {
  Nearest best;
  for (size_t i = 0; i < corners.size(); ++i) {
    float d[3];
    int32_t own = 0;
    for (int32_t r = 0; r < nRefs; ++r) {
      d[r] = std::min(10000.0f, std::hypot(corners[i].y - refs[r][0], corners[i].x - refs[r][1]));
      if (d[r] < d[own]) own = r;
    }
    if (d[own] < best.distance[own]) {
      best.distance[own] = d[own];
      best.index[own] = static_cast<int32_t>(i);
    }
  }
  return best;
}

void TurnBack(const Matrix* image, float* points, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    points[2 * i] = static_cast<float>(image->rows - 1) - points[2 * i];
    points[2 * i + 1] = static_cast<float>(image->cols - 1) - points[2 * i + 1];
  }
}

}  // namespace

// ---- Layout 8, camera 1.

namespace {

constexpr int32_t kLayout8Steps = 4;
constexpr float kLayout8Suppression[kLayout8Steps] = {0.28f, 0.2f, 0.14f, 0.09f};
constexpr float kLayout8Score[kLayout8Steps] = {0.23f, 0.23f, 0.15f, 0.07f};

struct Layout8Geometry {
  float W, H, bound, rowFactor, linkNear, linkSide;
};

// Of the 2 x 3 boards grown from the set, the one whose corner `scored`
// minimises |column - W/2| + (H - row).
bool SideBoard(std::vector<TemplateCorner>* set, const Layout8Geometry& g, int32_t scored, float* out) {
  if (set->empty()) return false;
  const std::vector<Board> boards = GrowAll(set->data(), static_cast<int32_t>(set->size()), g.linkSide, 6.0f,
                                            static_cast<int32_t>(g.W / 2));
  float best = 10000.0f;
  const Board* pick = nullptr;
  for (const Board& b : boards) {
    if (b.rows != 2 || b.cols != 3) continue;
    const float score = std::fabs(b.grid[2 * scored + 1] - g.W / 2) + (g.H - b.grid[2 * scored]);
    if (score < best) {
      best = score;
      pick = &b;
    }
  }
  if (pick == nullptr) return false;
  std::copy(pick->grid.begin(), pick->grid.end(), out);
  return true;
}

// One sub-try on one corner list of the working image: 16 points or none.
bool Layout8Boards(const TemplateCorner* list, int32_t n, const Layout8Geometry& g, bool oddTry, float* out) {
  const float right = 0.65f * g.W, top = g.H / 4;
  std::vector<TemplateCorner> candidates;
  for (int32_t i = 0; i < n; ++i)
    if (list[i].y >= top && list[i].x >= g.bound && list[i].x <= right) candidates.push_back(Loose(list[i]));
  if (candidates.empty()) return false;
  const std::vector<Board> boards = GrowAll(candidates.data(), static_cast<int32_t>(candidates.size()), g.linkNear,
                                            4.0f, static_cast<int32_t>(g.W / 2));
  const Board* block = nullptr;
  for (const Board& b : boards) {
    if (b.rows != 2 || b.cols < 2) continue;
    if (!Linked(b.ptrs[b.cols - 2], b.ptrs[b.cols - 1])) continue;
    block = &b;
    break;
  }
  if (block == nullptr) return false;
  const int32_t c = block->cols;
  const float* gr = block->grid.data();
  CopyPoint(out, 0, gr, c - 2);
  CopyPoint(out, 1, gr, c - 1);
  CopyPoint(out, 2, gr, 2 * c - 2);
  CopyPoint(out, 3, gr, 2 * c - 1);
  std::vector<const TemplateCorner*> inBlock = {block->ptrs[c - 2], block->ptrs[c - 1], block->ptrs[2 * c - 2],
                                                block->ptrs[2 * c - 1]};
  const float lo = std::min(out[0], out[2]) - 20.0f * g.rowFactor;
  const float hi = std::max(out[4], out[6]) + (oddTry ? 5.0f * g.rowFactor : 0.0f);
  std::vector<TemplateCorner> left, rightSet;
  for (int32_t i = 0; i < n; ++i) {
    const TemplateCorner& t = list[i];
    if (!(t.y >= lo && t.y <= hi && t.y >= top)) continue;
    if (t.x < g.bound)
      left.push_back(Loose(t));
    else if (t.x > right)
      rightSet.push_back(Loose(t));
  }
  for (const TemplateCorner& t : candidates) {
    if (!(t.y >= lo && t.y <= hi)) continue;
    bool member = false;
    for (const TemplateCorner* b : inBlock) member = member || (b == &t);
    if (member) continue;
    (t.x < g.W / 2 ? left : rightSet).push_back(Loose(t));
  }
  return SideBoard(&left, g, 5, out + 8) && SideBoard(&rightSet, g, 3, out + 20);
}

}  // namespace

uint32_t CalibFind_Layout8Part(LUTOB* lut, uint32_t camera, Matrix* image, float* points, int32_t* tries) {
  if (tries == nullptr) return 0;
  if (*tries > 3) {
    ++*tries;
    return 0;
  }
  // A call that cannot search still moves the counter on, so that a caller
  // repeating until the counter passes 3 comes to an end.
  const int32_t start = std::max(*tries, 0);
  *tries = 5;
  // The piece of camera 1 alone.
  if (camera != 1 || !FinderCallValid(lut, camera, image, points, 18)) return 0;
  float sx = 1.0f, sy = 1.0f;
  MatrixPtr work(ResampleForCorners(image, 1, &sx, &sy));
  if (work == nullptr) return 0;
  const int32_t w = work->cols, h = work->rows;
  std::vector<float> smooth(static_cast<size_t>(w) * h), like(smooth.size());
  Matrix smoothM{w, h, smooth.data()}, likeM{w, h, like.data()};
  Image_BoxMean(work.get(), &smoothM, 1, 1);
  CornerLikelihood(&smoothM, &likeM, 0);
  work.reset();
  Layout8Geometry g{static_cast<float>(w), static_cast<float>(h), 0.0f, sy, static_cast<float>(w) * 160.0f / 720.0f,
                    0.0f};
  if (g.linkNear < 160.0f) {
    g.linkNear = 160.0f;
    g.linkSide = 120.0f;
  } else {
    g.linkSide = 0.75f * g.linkNear;
  }
  float found[32];
  for (int32_t step = start; step < kLayout8Steps; ++step) {
    CornerLists cl;
    DetectTemplateCorners(&smoothM, &likeM, cl.lists, cl.counts, 0, kLayout8Suppression[step], kLayout8Score[step]);
    if (cl.counts[0] == 0) continue;
    bool ok = false;
    for (int32_t j : {0, 2}) {
      for (int32_t s = 0; s < 4 && !ok; ++s) {
        g.bound = (s < 2 ? 0.28f : 0.33f) * g.W;
        ok = Layout8Boards(cl.lists[j], cl.counts[j], g, (s & 1) != 0, found);
      }
      if (ok) break;
    }
    if (!ok) continue;
    *tries = step + 1;
    for (int32_t i = 0; i < 16; ++i) {
      points[2 * i] = found[2 * i] * sy;
      points[2 * i + 1] = found[2 * i + 1] * sx;
    }
    FinderSolvePose(lut, camera, 16, 1);
    float a[2], b[2];
    if (PatternAt(lut, 0, image, 8, 0, a, 200.0f,
                  FloorWindow_Before(FinderWorldPoint(lut, camera, 16), 400, 400, 800, 800, 0.0f)) != 0 &&
        PatternAt(lut, 0, image, 8, 0, b, 200.0f,
                  FloorWindow_Before(FinderWorldPoint(lut, camera, 17), 400, 400, 800, 800, 0.0f)) != 0) {
      CopyPoint(points, 16, a, 0);
      CopyPoint(points, 17, b, 0);
      return 18;
    }
    return 16;
  }
  return 0;
}

// ---- Layout 26, camera 1.

namespace {

constexpr int32_t kQuadTries = 14;
constexpr float kQuadOffsetA[kQuadTries] = {0.0f, 0.03f, 0.0f,  0.03f, -0.03f, 0.03f, 0.02f,
                                            -0.01f, 0.0f, 0.01f, 0.0f, 0.01f, 0.04f, 0.02f};
constexpr float kQuadOffsetB[kQuadTries] = {0.0f, 0.03f, 0.0f, 0.03f, -0.03f, 0.03f, 0.02f,
                                            -0.01f, 0.01f, 0.0f, 0.01f, 0.0f, 0.04f, 0.02f};
constexpr int32_t kQuadMode[kQuadTries] = {7, 7, 1, 6, 1, 1, 2, 2, 5, 1, 1, 5, 6, 6};

// Columns [c0, c0 + cols) of the image, inverted.
void InvertedColumns(const Matrix* image, int32_t c0, int32_t cols, std::vector<float>* buf, Matrix* out) {
  buf->assign(static_cast<size_t>(cols) * image->rows, 0.0f);
  for (int32_t r = 0; r < image->rows; ++r)
    for (int32_t q = 0; q < cols; ++q)
      (*buf)[static_cast<size_t>(r) * cols + q] = 1.0f - image->data[static_cast<size_t>(r) * image->cols + c0 + q];
  *out = Matrix{cols, image->rows, buf->data()};
}

// The side squares of the block found first: points 4..7, solved.
bool Layout26Sides(LUTOB* lut, const Matrix* image, float rowRef, float* points) {
  const int32_t W = image->cols, H = image->rows, half = W / 2;
  if (half < 1) return false;
  std::vector<float> lb, rb;
  Matrix left{}, right{};
  InvertedColumns(image, 0, half, &lb, &left);
  InvertedColumns(image, half, half, &rb, &right);
  const float lo = rowRef - static_cast<float>(H) / 6, hi = rowRef - static_cast<float>(H) / 36;
  std::vector<float> lq(8 * kQuadSearchMax), rq(8 * kQuadSearchMax);
  for (int32_t j = 0; j < kQuadTries; ++j) {
    const int32_t nl = Chessboard_FindQuads(&left, 0, kQuadMode[j], 0, lq.data(), 0, 0, 24, 240, 24, 340,
                                            kQuadOffsetA[j]);
    if (nl <= 0) continue;
    const int32_t nr = Chessboard_FindQuads(&right, 1, kQuadMode[j], 0, rq.data(), 0, 0, 24, 240, 24, 340,
                                            kQuadOffsetB[j]);
    if (nr <= 0) continue;
    for (int32_t a = 0; a < std::min(nl, kQuadSearchMax); ++a)
      for (int32_t b = 0; b < std::min(nr, kQuadSearchMax); ++b) {
        const float* L = &lq[8 * static_cast<size_t>(a)];
        const float* R = &rq[8 * static_cast<size_t>(b)];
        CopyPoint(points, 4, L, 2);
        CopyPoint(points, 5, L, 0);
        CopyPoint(points, 6, R, 3);
        CopyPoint(points, 7, R, 1);
        // The right half's points back into whole-image columns.
        const FinderPoints p{points};
        p.col(6) += static_cast<float>(half);
        p.col(7) += static_cast<float>(half);
        if (!(std::fabs(p.row(4) - p.row(6)) < static_cast<float>(H) / 24)) continue;
        if (!(p.row(4) > lo && p.row(4) < hi && p.row(6) > lo && p.row(6) < hi)) continue;
        if (FinderSolvePose(lut, 1, 8, 1).ok) return true;
      }
  }
  return false;
}

}  // namespace

AVM_LAYOUT_FINDER(CalibFind_Layout26Part) {
  (void)cols;
  (void)rows;
  // Camera 1's piece: it alone reads the middle square.
  if (camera != 1 || !FinderCallValid(lut, camera, image, points, 8)) return 0;
  const int32_t W = image->cols, H = image->rows;
  std::vector<float> quads(8 * kQuadSearchMax);
  for (int32_t i = 0; i < kQuadTries; ++i) {
    const int32_t n = Chessboard_FindQuads(image, 0, kQuadMode[i], 0, quads.data(), 0, 0, 100, 600, 100, 600,
                                           kQuadOffsetA[i]);
    for (int32_t q = 0; q < std::min(n, kQuadSearchMax); ++q) {
      float quad[8];
      for (int k = 0; k < 8; ++k) quad[k] = std::min(99999.0f, std::max(0.0f, quads[8 * static_cast<size_t>(q) + k]));
      float minCol = quad[1], maxCol = quad[1], minRow = quad[0], maxRow = quad[0];
      int32_t maxColCorner = 0;
      for (int32_t k = 1; k < 4; ++k) {
        if (quad[2 * k + 1] > maxCol) {
          maxCol = quad[2 * k + 1];
          maxColCorner = k;
        }
        minCol = std::min(minCol, quad[2 * k + 1]);
        minRow = std::min(minRow, quad[2 * k]);
        maxRow = std::max(maxRow, quad[2 * k]);
      }
      const float half = static_cast<float>(W) / 2;
      if (!(maxCol > half && minCol < half && maxRow > 0.55f * H && minRow < 0.75f * H)) continue;
      const float rowRef = quad[2 * maxColCorner];
      Quad_PermuteCorners(quad, (maxColCorner + 1) % 4);
      std::copy(quad, quad + 8, points);
      const FinderSolve block = FinderSolvePose(lut, 1, 4, 0);
      if (!block.ok) continue;
      // The first block that solves decides.
      if (!Layout26Sides(lut, image, rowRef, points)) return 0;
      const float residual = block.rms;
      const float* w0 = FinderWorldPoint(lut, 1, 0);
      const float* w3 = FinderWorldPoint(lut, 1, 3);
      const float f = w3[0] - w0[0];
      float refined[8];
      if (CalibFindPattern(lut, 0, image, 1, 0, 100, refined, f, w0[0] - 200, w0[1] - 200, f + 400,
                           w3[1] - w0[1] + 400, 0.0f) != 0) {
        float old[8];
        std::copy(points, points + 8, old);
        std::copy(refined, refined + 8, points);
        // The outline's corners are kept only when they fit no worse.
        if (const FinderSolve fit = FinderSolvePose(lut, 1, 8, 1); !fit.ok || fit.rms > residual) {
          std::copy(old, old + 8, points);
          FinderSolvePose(lut, 1, 8, 1);
        }
      }
      return 8;
    }
  }
  return 0;
}

// ---- Layout 31.

AVM_LAYOUT_FINDER(CalibFind_Layout31) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points, camera >= 3 ? 12 : 8)) return 0;
  const int32_t W = image->cols;
  const float w = static_cast<float>(W), half = w / 2;
  CornerMap map;
  if (!map.Build(image, ImageBox{0, 0, image->cols, image->rows}, 1)) return 0;
  const float linkLimit = std::max(160.0f, w * 160.0f / 720.0f);
  // Board corners 0, 3, 12, 15 of the left (L) and right (R) board in the
  // order of the camera's world points: index = 4 * (right ? 1 : 0) + corner.
  static const int32_t kOrder[4][8] = {{0, 1, 2, 3, 4, 5, 6, 7},
                                       {7, 6, 5, 4, 3, 2, 1, 0},
                                       {5, 7, 4, 6, 1, 3, 0, 2},
                                       {2, 0, 3, 1, 6, 4, 7, 5}};
  static const int32_t kCorner[4] = {0, 3, 12, 15};
  bool found = false;
  for (int32_t p = 0; p < kSteps && !found; ++p) {
    CornerLists cl;
    map.Detect(kSuppression[p], kScore[p], &cl);
    for (int32_t j = 0; j < 3 && !found; ++j) {
      const std::vector<Board> boards = GrowAll(cl.lists[j], cl.counts[j], linkLimit, 4.0f, W / 2);
      const Board* left = nullptr;
      const Board* right = nullptr;
      int32_t nLeft = 0, nRight = 0;
      for (const Board& b : boards) {
        if (b.rows != 4 || b.cols != 4) continue;
        const float c0 = b.grid[1], c3 = b.grid[7];
        if (c0 > half && c3 > half && (camera != 4 || c0 <= 0.78f * w)) {
          right = &b;
          ++nRight;
        } else if (c0 < half && c3 < half && (camera != 3 || c3 >= 0.22f * w)) {
          left = &b;
          ++nLeft;
        }
      }
      // A second board on one side makes the list ambiguous.
      if (nLeft != 1 || nRight != 1) continue;
      for (int32_t i = 0; i < 8; ++i) {
        const int32_t k = kOrder[camera - 1][i];
        CopyPoint(points, i, (k < 4 ? left : right)->grid.data(), kCorner[k % 4]);
      }
      found = FinderSolvePose(lut, camera, 8, 1).ok;
    }
  }
  if (!found) return 0;
  if (camera <= 2) return 8;
  float board[32];
  if (PatternAt(lut, static_cast<int32_t>(camera) - 1, image, 18, 0, board, 250.0f,
                FloorWindow_Before(FinderWorldPoint(lut, camera, 8), 500, 500, 1750, 1750, 0.0f)) == 0)
    return 8;
  for (int32_t i = 0; i < 4; ++i) CopyPoint(points, 8 + i, board, kCorner[i]);
  return FinderSolvePose(lut, camera, 12, 1).ok ? 12u : 8u;
}

// ---- Layout 11, side cameras.

namespace {

// The pair of strip corners and the two reference corners of one corner
// list: points 0..3.
bool Layout11SidePoints(const std::vector<TemplateCorner>& corners, const float refs[2][2], const float target[2],
                        float nearLimit, float tolerance, float linkLimit, int32_t centreX, float* points) {
  const Nearest near = NearestToReferences(corners, refs, 2);
  if (near.index[0] < 0 || near.index[1] < 0 || near.index[0] == near.index[1]) return false;
  if (!(near.distance[0] < nearLimit && near.distance[1] < nearLimit)) return false;
  std::vector<TemplateCorner> rest;
  for (size_t i = 0; i < corners.size(); ++i)
    if (static_cast<int32_t>(i) != near.index[0] && static_cast<int32_t>(i) != near.index[1])
      rest.push_back(Loose(corners[i]));
  if (rest.empty()) return false;
  const std::vector<Board> boards = GrowAll(rest.data(), static_cast<int32_t>(rest.size()), linkLimit, 4.0f, centreX);
  auto counts = [&](const float* first) {
    return std::fabs(first[0] - target[0]) < tolerance && std::fabs(first[1] - target[1]) < tolerance;
  };
  int32_t pairs = 0;
  float pair[4] = {0, 0, 0, 0};
  for (const Board& b : boards) {
    if (b.rows != 1 || b.cols < 2 || b.cols > 4) continue;
    // A 3-corner row offers both of its pairs; a 4-corner row its middle.
    std::vector<int32_t> starts;
    if (b.cols == 2) starts = {0};
    if (b.cols == 3) starts = {0, 1};
    if (b.cols == 4) starts = {1};
    for (int32_t s : starts) {
      if (!counts(&b.grid[2 * s])) continue;
      ++pairs;
      std::copy(&b.grid[2 * s], &b.grid[2 * s] + 4, pair);
    }
  }
  if (pairs != 1) return false;
  const bool pairSwap = pair[3] < pair[1];
  CopyPoint(points, 0, pair, pairSwap ? 1 : 0);
  CopyPoint(points, 1, pair, pairSwap ? 0 : 1);
  const TemplateCorner& a = corners[near.index[0]];
  const TemplateCorner& b = corners[near.index[1]];
  const TemplateCorner& first = a.x <= b.x ? a : b;
  const TemplateCorner& second = a.x <= b.x ? b : a;
  points[4] = first.y;
  points[5] = first.x;
  points[6] = second.y;
  points[7] = second.x;
  return true;
}

}  // namespace

uint32_t CalibFind_Layout11Side(LUTOB* lut, uint32_t camera, Matrix* image, float* points) {
  if ((camera != 3 && camera != 4) || !FinderCallValid(lut, camera, image, points, 5)) return 0;
  // Camera 3 may be mounted turned: the search runs on the upright picture
  // and the points go back into the delivered one.
  const bool turn = camera == 3 && (gv().JDSpecial & 8) != 0;
  std::vector<float> turnedBuf;
  Matrix turned{};
  if (turn) {
    turnedBuf.assign(static_cast<size_t>(image->cols) * image->rows, 0.0f);
    turned = Matrix{image->cols, image->rows, turnedBuf.data()};
    Image_Rotate(image, &turned, kPi);
  }
  const Matrix* work = turn ? &turned : image;
  const bool three = camera == 3;
  const float refs[2][2] = {{V(three ? 47 : 51), V(three ? 46 : 50)}, {V(three ? 49 : 53), V(three ? 48 : 52)}};
  const float target[2] = {V(three ? 55 : 57), V(three ? 54 : 56)};
  lut->cornerCounts[camera - 1] = 4;
  CornerMap map;
  if (!map.BuildFromProfile(work, three ? 32 : 36)) return 0;
  const float w = static_cast<float>(work->cols);
  const float nearLimit = w * 40.0f / 720.0f, tolerance = w * 32.0f / 720.0f;
  const float linkLimit = std::max(40.0f, nearLimit);
  int32_t result = 0;
  std::vector<TemplateCorner> corners;
  for (int32_t p = 0; p < kSteps && result == 0; ++p) {
    CornerLists cl;
    map.Detect(kSuppression[p], kScore[p], &cl);
    for (int32_t j = 0; j < 3 && result == 0; ++j)
      for (int32_t pass = 0; pass < 2 && result == 0; ++pass) {
        corners.clear();
        for (int32_t i = 0; i < cl.counts[j]; ++i)
          if (pass == 0 || CheckCornerSectors(&cl.lists[j][i], work) != 0) corners.push_back(Loose(cl.lists[j][i]));
        if (corners.size() < 3) continue;
        if (!Layout11SidePoints(corners, refs, target, nearLimit, tolerance, linkLimit, work->cols / 2, points))
          continue;
        if (FinderSolvePose(lut, camera, 4, 0).ok) result = 4;
      }
  }
  if (result == 0) return 0;
  const float* w4 = FinderWorldPoint(lut, camera, 4);
  float mark[2];
  if (PatternAt(lut, static_cast<int32_t>(camera) - 1, work, 8, 2, mark, 200.0f,
                FloorWindow_Before(w4, 400, 500, 800, 900, w4[2])) != 0) {
    CopyPoint(points, 4, mark, 0);
    if (FinderSolvePose(lut, camera, 5, 0).ok) result = 5;
  }
  if (turn) TurnBack(image, points, result);
  return static_cast<uint32_t>(result);
}

// ---- Layout 16.

namespace {

// Points 5..12 of cameras 1 and 2 from the marks A (around world point 3)
// and B (point 4): mark point indices, B's offset by 7. A mark's points 1
// and 4 lie toward -x and +x of the floor, 3 toward +y and 6 toward -y; the
// world points list the -y corner of each mark before the +y one.
constexpr int32_t kLayout16FrontMarks[2][8] = {{6, 3, 13, 10, 1, 4, 8, 11}, {3, 6, 10, 13, 4, 1, 11, 8}};

}  // namespace

uint32_t CalibFind_Layout16A(LUTOB* lut, uint32_t camera, Matrix* image, float* points) {
  if ((camera != 1 && camera != 2) || !FinderCallValid(lut, camera, image, points, 13)) return 0;
  const bool one = camera == 1;
  const float refs[2][2] = {{V(one ? 41 : 47), V(one ? 40 : 46)}, {V(one ? 43 : 49), V(one ? 42 : 48)}};
  const float refCol = V(50);
  lut->cornerCounts[camera - 1] = 5;
  CornerMap map;
  if (!map.BuildFromProfile(image, one ? 24 : 28)) return 0;
  const float w = static_cast<float>(image->cols);
  const float linkLimit = std::max(110.0f, w * 110.0f / 720.0f), refLimit = w * 40.0f / 720.0f;
  int32_t result = 0;
  std::vector<TemplateCorner> corners;
  for (int32_t p = 0; p < kSteps && result == 0; ++p) {
    CornerLists cl;
    map.Detect(kSuppression[p], kScore[p], &cl);
    for (int32_t j = 0; j < 3 && result == 0; ++j) {
      corners.clear();
      for (int32_t i = 0; i < cl.counts[j]; ++i) corners.push_back(Loose(cl.lists[j][i]));
      const Nearest near = NearestToReferences(corners, refs, 2);
      if (near.index[0] < 0 || near.index[1] < 0) continue;
      if (!(near.distance[0] < 55.0f && near.distance[1] < 55.0f)) continue;
      const float ref[2][2] = {{corners[near.index[0]].y, corners[near.index[0]].x},
                               {corners[near.index[1]].y, corners[near.index[1]].x}};
      const std::vector<Board> boards =
          GrowAll(corners.data(), static_cast<int32_t>(corners.size()), linkLimit, 4.0f, image->cols / 2);
      int32_t rowsFound = 0;
      float strip[6] = {0, 0, 0, 0, 0, 0};
      for (const Board& b : boards) {
        if (b.rows != 1 || b.cols < 3 || b.cols > 5) continue;
        int32_t start = b.cols == 3 ? 0 : 1;
        if (b.cols == 4 && std::fabs(b.grid[3] - refCol) > std::fabs(b.grid[1] - refCol)) start = 0;
        ++rowsFound;
        std::copy(&b.grid[2 * start], &b.grid[2 * start] + 6, strip);
      }
      if (rowsFound != 1 || !(near.distance[0] < refLimit && near.distance[1] < refLimit)) continue;
      const bool reversed = strip[5] < strip[1];
      for (int32_t i = 0; i < 3; ++i) CopyPoint(points, i, strip, reversed ? 2 - i : i);
      const bool aFirst = ref[0][1] <= ref[1][1];
      CopyPoint(points, 3, ref[aFirst ? 0 : 1], 0);
      CopyPoint(points, 4, ref[aFirst ? 1 : 0], 0);
      if (FinderSolvePose(lut, camera, 5, 0).ok) {
        ChessCorners_Refine(image, points, 5);
        result = 5;
      }
    }
  }
  // The marks beside the strip are placed by the strip's pose: without it
  // there is nothing to place them by.
  if (result == 0) return 0;
  float marks[28];  // A's seven points, then B's
  const float* w3 = FinderWorldPoint(lut, camera, 3);
  const float* w4 = FinderWorldPoint(lut, camera, 4);
  const int32_t index = one ? 0 : 1;
  if (PatternAt(lut, index, image, 6, 0, marks, 250.0f, FloorWindow_Before(w3, 500, 500, 1000, 1000, w3[2])) == 0 ||
      PatternAt(lut, index, image, 6, 0, marks + 14, 250.0f, FloorWindow_Before(w4, 500, 500, 1000, 1000, w4[2])) == 0)
    return 5;
  for (int32_t i = 0; i < 8; ++i) CopyPoint(points, 5 + i, marks, kLayout16FrontMarks[index][i]);
  return FinderSolvePose(lut, camera, 13, 0).ok ? 13u : 5u;
}

uint32_t CalibFind_Layout16B(LUTOB* lut, uint32_t camera, Matrix* image, float* points) {
  if ((camera != 3 && camera != 4) || !FinderCallValid(lut, camera, image, points, 13)) return 0;
  const bool three = camera == 3;
  const float refs[3][2] = {{V(three ? 53 : 59), V(three ? 52 : 58)},
                            {V(three ? 55 : 61), V(three ? 54 : 60)},
                            {V(three ? 57 : 63), V(three ? 56 : 62)}};
  lut->cornerCounts[camera - 1] = 3;
  CornerMap map;
  if (!map.BuildFromProfile(image, three ? 32 : 36)) return 0;
  bool first = false;
  std::vector<TemplateCorner> corners;
  for (int32_t p = 0; p < kSteps && !first; ++p) {
    CornerLists cl;
    map.Detect(kSuppression[p], kScore[p], &cl);
    for (int32_t j = 0; j < 3 && !first; ++j) {
      corners.assign(cl.lists[j], cl.lists[j] + cl.counts[j]);
      const Nearest near = NearestToReferences(corners, refs, 3);
      bool all = true;
      for (int32_t r = 0; r < 3; ++r) all = all && near.index[r] >= 0 && near.distance[r] < 55.0f;
      if (!all) continue;
      for (int32_t r = 0; r < 3; ++r) {
        points[2 * r] = corners[near.index[r]].y;
        points[2 * r + 1] = corners[near.index[r]].x;
      }
      first = FinderSolvePose(lut, camera, 3, 0).ok;
    }
  }
  if (!first) return 0;
  const int32_t index = static_cast<int32_t>(camera) - 1;
  const float* w0 = FinderWorldPoint(lut, camera, 0);
  const float* w2 = FinderWorldPoint(lut, camera, 2);
  const float* w3 = FinderWorldPoint(lut, camera, 3);
  const float* w8 = FinderWorldPoint(lut, camera, 8);
  float single[2], a[14], b[14];
  if (PatternAt(lut, index, image, 8, 2, single, 200.0f, FloorWindow_Before(w3, 400, 400, 800, 800, w3[2])) == 0 ||
      PatternAt(lut, index, image, 6, 0, a, 250.0f, FloorWindow_Before(w0, 500, 500, 1000, 1000, w0[2])) == 0 ||
      PatternAt(lut, index, image, 6, 0, b, 250.0f, FloorWindow_Before(w2, 500, 500, 1000, 1000, w2[2])) == 0)
    return 0;
  CopyPoint(points, 3, single, 0);
  const int32_t i1 = three ? 1 : 4, i4 = three ? 4 : 1;
  CopyPoint(points, 4, a, i1);
  CopyPoint(points, 5, a, i4);
  CopyPoint(points, 6, b, i1);
  CopyPoint(points, 7, b, i4);
  if (!FinderSolvePose(lut, camera, 8, 0).ok) return 0;
  for (int32_t attempt = 0; attempt < 2; ++attempt) {
    if (attempt == 1) FinderSolvePose(lut, camera, 8, 1);
    float e[14], f[14];
    if (PatternAt(lut, index, image, 6, 0, e, 250.0f, FloorWindow_Before(w8, 500, 500, 1000, 1000, w8[2])) == 0 ||
        PatternAt(lut, index, image, 6, 0, f, 250.0f, FloorWindow_Before(w3, 500, 500, 1000, 1000, w3[2])) == 0)
      continue;
    CopyPoint(points, 8, e, 0);
    CopyPoint(points, 9, e, i1);
    CopyPoint(points, 10, e, i4);
    CopyPoint(points, 11, f, i1);
    CopyPoint(points, 12, f, i4);
    if (FinderSolvePose(lut, camera, 13, 0).ok) return 13;
  }
  return 8;
}

// ---- Entries.

AVM_LAYOUT_FINDER(CalibFind_Layout11Entry) {
  (void)cols;
  (void)rows;
  if (camera == 1) return CalibFind_Layout11Front(lut, camera, image, points);
  if (camera == 2) return CalibFind_Layout11Rear(lut, camera, image, points);
  return CalibFind_Layout11Side(lut, camera, image, points);
}

AVM_LAYOUT_FINDER(CalibFind_Layout16Entry) {
  (void)cols;
  (void)rows;
  if (camera == 1 || camera == 2) return CalibFind_Layout16A(lut, camera, image, points);
  return CalibFind_Layout16B(lut, camera, image, points);
}
