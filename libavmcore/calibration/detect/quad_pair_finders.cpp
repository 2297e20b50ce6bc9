#include "calibration/detect/quad_pair_finders.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "calibration/detect/chess_quad.h"
#include "calibration/detect/corner_resample.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/image_box.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pose_solve_services.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/lutob.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/matrix.h"
#include "toolkit/morphology.h"
#include "toolkit/thresholds.h"

namespace {

struct Pass {
  int32_t mode;
  int32_t window;
  float offset;
  float limit;  // residual limit
};

const Pass kLayout53Passes[] = {
    {2, 21, 0.0f, 1.31f},  {2, 21, -0.04f, 1.91f}, {2, 21, 0.02f, 2.41f}, {2, 21, 0.04f, 3.21f},
    {2, 21, 0.08f, 3.21f}, {2, 41, 0.0f, 3.51f},   {2, 41, -0.04f, 3.51f}, {2, 41, 0.02f, 4.21f},
    {2, 41, 0.04f, 4.21f}, {2, 41, 0.08f, 4.21f},  {3, 21, -0.04f, 4.51f},
};
constexpr int32_t kLayout54Modes[16] = {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 4, 4, 3, 4, 3};
constexpr int32_t kLayout54Windows[16] = {21, 21, 21, 21, 7, 41, 41, 41, 41, 41, 21, 41, 41, 31, 41, 31};
constexpr float kLayout54Offsets[16] = {0.0f,  -0.04f, -0.03f, 0.04f,  -0.01f, 0.0f,  -0.04f, -0.07f,
                                        0.04f, 0.07f,  -0.03f, -0.03f, -0.01f, 0.0f,  -0.04f, 0.04f};
constexpr float kLayout54PairLimits[16] = {1.31f, 1.91f, 2.41f, 3.21f, 3.21f, 3.51f, 3.51f, 4.21f,
                                           4.21f, 4.21f, 4.51f, 4.51f, 4.51f, 4.51f, 4.51f, 4.51f};
constexpr float kLayout54QuadLimits[16] = {2.71f, 2.71f, 2.71f, 3.21f, 3.21f, 3.51f, 3.51f, 4.21f,
                                           4.21f, 4.21f, 4.51f, 4.51f, 4.51f, 4.51f, 4.51f, 4.51f};

std::vector<Pass> Layout54Passes(const float* limits) {
  std::vector<Pass> p(16);
  for (int i = 0; i < 16; ++i) p[i] = {kLayout54Modes[i], kLayout54Windows[i], kLayout54Offsets[i], limits[i]};
  return p;
}

constexpr int32_t kDilate[3][2] = {{1, 1}, {2, 1}, {1, 2}};
constexpr float kLink[2][2] = {{144.0f, 49.0f}, {81.0f, 49.0f}};

// Three inner corners of a 2 x 4 patch, (row, column) each.
struct Triple {
  float p[3][2];
};

float Row(const float* p) { return p[0]; }
float Col(const float* p) { return p[1]; }
void SwapEnds(Triple* t) {
  std::swap(t->p[0][0], t->p[2][0]);
  std::swap(t->p[0][1], t->p[2][1]);
}
void Put(float* out, int slot, const float* p) {
  out[2 * slot] = p[0];
  out[2 * slot + 1] = p[1];
}

// Resets the ordering marks so a group can be placed on another board size.
void ClearOrder(ChessQuad** group, int32_t size) {
  for (int32_t i = 0; i < size; ++i) {
    group[i]->ordered = 0;
    group[i]->column = -1;
    group[i]->row = -1;
  }
}

// Places the group on a cols x rows board; the inner corners in the fill's
// order when it holds exactly the dark squares and every inner corner.
bool GroupBoard(ChessQuad** group, int32_t size, int32_t cols, int32_t rows, std::vector<float>* corners) {
  int32_t a = cols, b = rows;
  const int32_t placed = ChessQuad_OrderGroup(group, size, &a, &b);
  if (placed != cols * rows / 2) return false;
  const int32_t expected = (cols - 1) * (rows - 1);
  corners->assign(2 * static_cast<size_t>(expected), -1.0f);
  return ChessQuad_FillGrid(group, placed, a, b, corners->data()) == expected;
}

// The linked quads of one try: writes the output points (box coordinates)
// and returns true when the groups form the expected targets.
using GroupStage = std::function<bool(ChessQuad* quads, int32_t count, float* out)>;

// Patches of (cols, rows) squares among the groups; false when more than
// `wanted` qualify.
bool CollectTriples(ChessQuad* quads, int32_t count, int32_t cols, int32_t rows, size_t wanted,
                    std::vector<Triple>* found) {
  found->clear();
  std::vector<ChessQuad*> group(static_cast<size_t>(count));
  std::vector<float> corners;
  for (int32_t g = 0;; ++g) {
    const int32_t size = ChessQuad_CollectGroup(quads, count, group.data(), g);
    if (size == 0) break;
    if (!GroupBoard(group.data(), size, cols, rows, &corners)) continue;
    Triple t;
    std::copy(corners.begin(), corners.end(), &t.p[0][0]);
    found->push_back(t);
    if (found->size() > wanted) return false;
  }
  return found->size() == wanted;
}

struct Search {
  LUTOB* lut;
  uint32_t camera;
  const Matrix* image;
  const float* boxValues;  // left, top, right, bottom
  float scale;
  bool smooth;
  std::vector<Pass> passes;
  int32_t solverFlag;
  bool residualTest;
  const char* log;
  int32_t count;  // points written
  GroupStage stage;
};

// Cuts the box out of the image (clipped to it), resamples and, where asked,
// smooths it, then runs the schedule. The points are in camera-image
// coordinates once the stage accepts them.
uint32_t RunSearch(const Search& s, float* points) {
  if (s.image == nullptr || s.image->data == nullptr || points == nullptr || !(s.scale > 0.0f)) return 0;
  ImageBox box;
  if (!ImageBox_ClipEdges(s.image->cols, s.image->rows, s.boxValues[0], s.boxValues[1], s.boxValues[2],
                          s.boxValues[3], &box))
    return 0;
  std::vector<float> cropPixels;
  Matrix crop{0, 0, nullptr};
  if (!Matrix_CropToImage(s.image, box.left, box.top, box.cols, box.rows, &cropPixels, &crop, &box)) return 0;
  MatrixPtr resampled(ResampleByFactor(&crop, s.scale));
  if (!resampled || resampled->cols < 3 || resampled->rows < 3) return 0;
  const size_t pixels = static_cast<size_t>(resampled->cols) * static_cast<size_t>(resampled->rows);
  std::vector<float> workPixels(pixels);
  Matrix work{resampled->cols, resampled->rows, workPixels.data()};
  if (s.smooth) {
    Image_BoxMean(resampled.get(), &work, 1, 1);
    Matrix_Copy(&work, resampled.get());
  }
  std::vector<ChessQuad> quads, fitted;
  std::vector<float> out(2 * static_cast<size_t>(s.count));
  for (int32_t r = 0; r < 3; ++r) {
    for (size_t p = 0; p < s.passes.size(); ++p) {
      const Pass& pass = s.passes[p];
      if (pass.mode == 4)
        Image_BoxMean(resampled.get(), &work, 1, 1);
      else
        Matrix_Copy(resampled.get(), &work);
      Image_AdaptiveThreshold(&work, pass.window, pass.offset);
      Image_Dilate(&work, kDilate[r][0], kDilate[r][1]);
      if (pass.mode == 3) {
        Image_Erode(&work, 3, 3);
        Image_Dilate(&work, 3, 3);
      }
      BlobList* blobs = BlobList_FindComponents(&work);
      if (blobs == nullptr) continue;
      if (blobs->count == 0) {
        BlobList_Free(blobs);
        continue;
      }
      fitted.clear();
      fitted.reserve(2 * static_cast<size_t>(blobs->count));
      while (Blob* blob = BlobList_Next(blobs)) {
        ChessQuad q{};
        if (ChessQuad_FitStraight(blob, &q, 0)) fitted.push_back(q);
      }
      BlobList_Free(blobs);
      const int32_t n = static_cast<int32_t>(fitted.size());
      if (n < 2) continue;
      for (int32_t t = 0; t < 2; ++t) {
        quads = fitted;
        ChessQuad_LinkNeighbours(quads.data(), n, kLink[t][0], kLink[t][1]);
        if (!s.stage(quads.data(), n, out.data())) continue;
        for (int32_t i = 0; i < s.count; ++i) {
          points[2 * i] = out[2 * i] / s.scale + static_cast<float>(box.top);
          points[2 * i + 1] = out[2 * i + 1] / s.scale + static_cast<float>(box.left);
        }
        const FinderSolve fit = FinderSolvePose(s.lut, s.camera, s.solverFlag);
        if (!fit.ok) continue;
        if (s.residualTest && !(fit.rms <= pass.limit)) continue;
        AvmLog(s.log, r, static_cast<int>(p), t);
        return static_cast<uint32_t>(s.count);
      }
    }
  }
  return 0;
}

const float* ProfileBox(int32_t first, float values[4]) {
  const CalibProfileRecord& profile = CalibProfile();
  for (int i = 0; i < 4; ++i) values[i] = profile.F(2 + first + i);
  return values;
}

bool ValidLut(LUTOB* lut, uint32_t camera) { return lut != nullptr && camera >= 1 && camera <= 4; }

}  // namespace

uint32_t CalibFind_Layout54Pairs(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  if (!ValidLut(lut, camera)) return 0;
  static const int32_t kBox[4] = {0, 20, 12, 16};
  float values[4];
  lut->cornerCounts[camera - 1] = 6;
  Search s{lut, camera, image, ProfileBox(kBox[camera - 1], values), 1.0f, true, Layout54Passes(kLayout54PairLimits),
           1, true, "~~~~~~~~~~~~~~~~~~ hulvex %d %d %d  \n", 6, nullptr};
  const bool across = camera <= 2;  // the front and rear patches run along the image rows
  s.stage = [camera, across](ChessQuad* quads, int32_t n, float* out) {
    std::vector<Triple> g;
    if (!CollectTriples(quads, n, across ? 2 : 4, across ? 4 : 2, 2, &g)) return false;
    for (Triple& t : g) {
      const float dr = std::fabs(Row(t.p[0]) - Row(t.p[2])), dc = std::fabs(Col(t.p[0]) - Col(t.p[2]));
      // Side pairs go by rows: seen from a car-height side camera a pair can
      // look flatter than 45 degrees and its column order then runs against
      // the row order (camera 3's ends came back swapped and solved a pose
      // half a turn off); the far end is always the higher one.
      const bool byRow = camera != 1 || dr >= dc;
      if (byRow ? Row(t.p[0]) > Row(t.p[2]) : Col(t.p[0]) > Col(t.p[2])) SwapEnds(&t);
    }
    const bool firstLeft = Col(g[0].p[0]) < Col(g[1].p[0]);
    const Triple& L = firstLeft ? g[0] : g[1];
    const Triple& R = firstLeft ? g[1] : g[0];
    const float* order[6];
    if (camera == 1) {
      const float* o[6] = {L.p[0], L.p[2], R.p[0], R.p[2], L.p[1], R.p[1]};
      std::copy(o, o + 6, order);
    } else if (camera == 2) {
      const float* o[6] = {R.p[2], R.p[0], L.p[2], L.p[0], R.p[1], L.p[1]};
      std::copy(o, o + 6, order);
    } else if (camera == 3) {
      // The mirror of camera 4's order: the side lists run outward on the
      // right and inward on the left, so camera 3 starts at each pair's far
      // end (camera 2's order here swapped every pair's ends and solved a
      // pose turned half a turn).
      const float* o[6] = {R.p[0], R.p[2], L.p[0], L.p[2], R.p[1], L.p[1]};
      std::copy(o, o + 6, order);
    } else {
      const float* o[6] = {L.p[2], L.p[0], R.p[2], R.p[0], L.p[1], R.p[1]};
      std::copy(o, o + 6, order);
    }
    for (int i = 0; i < 6; ++i) Put(out, i, order[i]);
    return true;
  };
  return RunSearch(s, points);
}

uint32_t CalibFind_Layout54Quads(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points) {
  // Camera 2 has no four-patch set; a stand-in camera's fields stay untouched.
  if (!ValidLut(lut, camera) || camera == 2) return 0;
  static const int32_t kBox[4] = {0, 0, 4, 8};
  float values[4];
  lut->cornerCounts[camera - 1] = 12;
  Search s{lut, camera, image, ProfileBox(kBox[camera - 1], values), 1.0f, true, Layout54Passes(kLayout54QuadLimits),
           1, true, "~~~~~~~~~~~~~~~~~~ hulvex %d %d %d  \n", 12, nullptr};
  s.stage = [camera](ChessQuad* quads, int32_t n, float* out) {
    std::vector<Triple> g;
    if (!CollectTriples(quads, n, camera == 1 ? 2 : 4, camera == 1 ? 4 : 2, 4, &g)) return false;
    std::vector<Triple> lying, standing;
    for (Triple t : g) {
      const float dr = std::fabs(Row(t.p[0]) - Row(t.p[2])), dc = std::fabs(Col(t.p[0]) - Col(t.p[2]));
      if (dc > dr) {
        if (Col(t.p[0]) > Col(t.p[2])) SwapEnds(&t);
        lying.push_back(t);
      } else {
        if (Row(t.p[0]) > Row(t.p[2])) SwapEnds(&t);
        standing.push_back(t);
      }
    }
    const size_t wantLying = camera == 1 ? 2 : 1;
    if (lying.size() != wantLying) return false;
    auto byCol = [](const Triple& a, const Triple& b) { return Col(a.p[0]) < Col(b.p[0]); };
    std::stable_sort(lying.begin(), lying.end(), byCol);
    std::stable_sort(standing.begin(), standing.end(), byCol);
    const float* order[12];
    if (camera == 1) {
      const Triple &S1 = standing[0], &S2 = standing[1], &L1 = lying[0], &L2 = lying[1];
      const float* o[12] = {S1.p[0], S1.p[2], S2.p[0], S2.p[2], S1.p[1], S2.p[1],
                            L1.p[0], L1.p[1], L1.p[2], L2.p[0], L2.p[1], L2.p[2]};
      std::copy(o, o + 12, order);
    } else if (camera == 3) {
      const Triple &T1 = standing[0], &T2 = standing[1], &T3 = standing[2], &H = lying[0];
      const float* o[12] = {T3.p[0], T3.p[2], T2.p[0], T2.p[2], T3.p[1], T2.p[1],
                            T1.p[0], T1.p[1], T1.p[2], H.p[2],  H.p[1],  H.p[0]};
      std::copy(o, o + 12, order);
    } else {
      const Triple &T1 = standing[0], &T2 = standing[1], &T3 = standing[2], &H = lying[0];
      const float* o[12] = {T1.p[2], T1.p[0], T2.p[2], T2.p[0], T1.p[1], T2.p[1],
                            T3.p[2], T3.p[1], T3.p[0], H.p[0],  H.p[1],  H.p[2]};
      std::copy(o, o + 12, order);
    }
    for (int i = 0; i < 12; ++i) Put(out, i, order[i]);
    return true;
  };
  return RunSearch(s, points);
}

uint32_t CalibFind_Layout54(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows, float* points) {
  const GlobalVariables& g = gv();
  const bool pairs = camera == 2 || (camera == 1 && g.targetDimB == 1) ||
                     ((camera == 3 || camera == 4) && g.groupNumber == 2);
  return pairs ? CalibFind_Layout54Pairs(lut, camera, image, cols, rows, points)
               : CalibFind_Layout54Quads(lut, camera, image, cols, rows, points);
}

uint32_t CalibFind_Layout53Pairs(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points,
                                 float scale) {
  // Camera 2 has no world points in this layout.
  if (!ValidLut(lut, camera) || camera == 2) return 0;
  static const int32_t kBox[4] = {0, 0, 12, 16};
  float values[4];
  lut->cornerCounts[camera - 1] = 6;
  Search s{lut,     camera, image, ProfileBox(kBox[camera - 1], values), scale, false,
           std::vector<Pass>(std::begin(kLayout53Passes), std::end(kLayout53Passes)),
           0,       true,   "~~~~~~~~~~~~~~~~~~ mbto %d %d %d  \n", 6, nullptr};
  s.stage = [camera](ChessQuad* quads, int32_t n, float* out) {
    std::vector<Triple> g;
    if (!CollectTriples(quads, n, camera == 1 ? 2 : 4, camera == 1 ? 4 : 2, 2, &g)) return false;
    for (Triple& t : g)
      if (camera == 1 ? Row(t.p[0]) > Row(t.p[2]) : Col(t.p[0]) > Col(t.p[2])) SwapEnds(&t);
    const bool firstA =
        camera == 1 ? Col(g[0].p[0]) < Col(g[1].p[0]) : Row(g[0].p[0]) < Row(g[1].p[0]);
    const Triple& A = firstA ? g[0] : g[1];
    const Triple& B = firstA ? g[1] : g[0];
    for (int i = 0; i < 3; ++i) {
      Put(out, i, A.p[i]);
      Put(out, 3 + i, B.p[i]);
    }
    return true;
  };
  return RunSearch(s, points);
}

uint32_t CalibFind_Layout53SideQuads(LUTOB* lut, uint32_t camera, Matrix* image, int32_t, int32_t, float* points,
                                     float scale) {
  // Only the side cameras see the large patch.
  if (!ValidLut(lut, camera) || camera < 3) return 0;
  float values[4];
  lut->cornerCounts[camera - 1] = 7;
  Search s{lut,     camera, image, ProfileBox(camera == 3 ? 4 : 8, values), scale, false,
           std::vector<Pass>(std::begin(kLayout53Passes), std::end(kLayout53Passes)),
           0,       false,  "mbto %d %d %d  \n", 7, nullptr};
  s.stage = [camera](ChessQuad* quads, int32_t n, float* out) {
    std::vector<ChessQuad*> group(static_cast<size_t>(n));
    std::vector<float> corners, big, small;
    int32_t bigFound = 0, smallFound = 0;
    for (int32_t g = 0;; ++g) {
      const int32_t size = ChessQuad_CollectGroup(quads, n, group.data(), g);
      if (size == 0) break;
      if (GroupBoard(group.data(), size, 4, 5, &corners)) {
        if (++bigFound > 1) break;
        big = corners;
        continue;
      }
      ClearOrder(group.data(), size);
      if (GroupBoard(group.data(), size, 4, 2, &corners)) {
        if (++smallFound > 1) break;
        small = corners;
      }
    }
    if (bigFound != 1 || smallFound != 1) return false;
    // Both side lists run from the vehicle's front (y = -5400) and camera
    // 4's patch list is not the mirror of camera 3's, so seen in the mirror
    // image camera 4's fill comes out in the reverse of its list: its patch
    // corners are taken from the grid's far end and its strip reversed like
    // camera 3's (the fill's order here solved no pose and gave 0).
    static const int kOuter[2][4] = {{0, 2, 9, 11}, {11, 9, 2, 0}};
    for (int i = 0; i < 4; ++i) Put(out, i, &big[2 * kOuter[camera - 3][i]]);
    for (int i = 0; i < 3; ++i) Put(out, 4 + i, &small[2 * (2 - i)]);
    return true;
  };
  return RunSearch(s, points);
}
