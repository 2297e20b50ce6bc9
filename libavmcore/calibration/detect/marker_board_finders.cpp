// Marker boards: two square markers per camera, one in each half of the
// picture. Quads are searched in a working copy of at most 1280 x 720,
// paired left with right, and every pair is judged by the pose it solves;
// the markers may then be re-found on a top view of the floor around
// their world places.
#include "calibration/detect/marker_board_finders.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "calibration/detect/box_block_finders.h"
#include "calibration/detect/corner_resample.h"
#include "calibration/detect/finder_helpers.h"
#include "calibration/detect/layout_finders.h"
#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/pose_solve_services.h"
#include "calibration/detect/quad_search.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/car_motion.h"
#include "surround/lutob.h"
#include "toolkit/sampling.h"

namespace {

constexpr int32_t kMarkerPoints = 8;
constexpr int32_t kAllPasses = 14;
constexpr int32_t kQuickPasses = 3;
// Square size from which the lenient limits hold.
constexpr int32_t kLenientSquare = 1500;
// Word 66 bit: camera 2's picture is mirrored.
constexpr int32_t kMirrorCamera2 = 0x20;

struct Pass {
  int32_t mode;
  float leftOffset, rightOffset;
};

const Pass kPasses[kAllPasses] = {{7, 0.0f, 0.0f},     {7, 0.03f, 0.03f},  {1, 0.0f, 0.0f},   {6, 0.03f, 0.03f},
                                  {1, -0.03f, -0.03f}, {1, 0.03f, 0.03f},  {2, 0.02f, 0.02f}, {2, -0.01f, -0.01f},
                                  {5, 0.0f, 0.01f},    {1, 0.01f, 0.0f},   {1, 0.0f, 0.01f},  {5, 0.01f, 0.0f},
                                  {6, 0.04f, 0.04f},   {6, 0.02f, 0.02f}};

const float kStrictLimits[kAllPasses] = {1.51f, 2.01f, 2.31f, 3.21f, 3.21f, 3.21f, 3.21f,
                                         3.21f, 3.21f, 4.21f, 4.21f, 4.21f, 4.21f, 4.21f};
const float kLooseLimits[kAllPasses] = {2.01f, 2.51f, 3.21f, 4.21f, 4.21f, 4.21f, 5.21f,
                                        5.21f, 5.21f, 5.21f, 5.21f, 5.21f, 5.21f, 5.21f};

// Side-length window of a quad (working-image pixels), strict on both ends.
struct SizeWindow {
  float minLo, minHi, maxLo, maxHi;
};

// Four consecutive profile values from word `first`.
SizeWindow ProfileWindow(int32_t first) {
  const CalibProfileRecord& p = CalibProfile();
  return {p.F(first), p.F(first + 1), p.F(first + 2), p.F(first + 3)};
}

// Windows of the two halves by level and camera. Layout 2's values start at
// profile word 3 (p1), layout 17's at word 2 (q1).
void MarkerWindows(int32_t level, uint32_t camera, SizeWindow* left, SizeWindow* right) {
  const int32_t word71 = gv().groupNumber;
  SizeWindow l{0.0f, 1000.0f, 0.0f, 1000.0f};
  SizeWindow r = l;
  if (level == 1 || level == 2 || level == 7) {
    const int32_t p = level == 1 ? 3 : 2;  // word of the first value
    const SizeWindow front = ProfileWindow(p), a = ProfileWindow(p + 4), b = ProfileWindow(p + 8);
    SizeWindow relaxed = a;  // level 7: lower bounds 3 and 30
    if (level == 7) relaxed.minLo = 3.0f, relaxed.maxLo = 30.0f;
    if (camera <= 2) {
      l = r = front;
    } else if (camera == 3) {
      l = relaxed;
      r = b;
    } else {
      l = b;
      r = relaxed;
    }
  } else if (level == 3 || level == 5 || level == 6) {
    if (camera == 1)
      l = {24.0f, 240.0f, 24.0f, 340.0f};
    else if (camera == 2)
      l = word71 == 0 ? SizeWindow{35.0f, 240.0f, 35.0f, 340.0f} : SizeWindow{18.0f, 240.0f, 18.0f, 340.0f};
    else
      l = word71 == 0 ? SizeWindow{18.0f, 160.0f, 50.0f, 260.0f} : SizeWindow{12.0f, 160.0f, 35.0f, 260.0f};
    r = l;
  } else if (level == 4) {
    // Only camera 2 sees this board's markers.
    l = camera == 2 ? SizeWindow{60.0f, 1240.0f, 60.0f, 1340.0f} : SizeWindow{0.0f, 0.0f, 0.0f, 0.0f};
    r = l;
  }
  *left = l;
  *right = r;
}

int32_t SearchQuads(const Matrix* half, int32_t side, int32_t mode, bool dropOuter, const SizeWindow& w, float offset,
                    float* quads) {
  return Chessboard_FindQuads(half, side, mode, dropOuter ? 1 : 0, quads, 0, 0, w.minLo, w.minHi, w.maxLo, w.maxHi,
                              offset);
}

// The working copy of the searched picture and its two halves.
struct WorkImages {
  MatrixPtr work;
  float colScale = 1.0f, rowScale = 1.0f;
  int32_t W = 0, H = 0, half = 0;
  std::vector<float> leftPixels, rightPixels;
  Matrix left{0, 0, nullptr}, right{0, 0, nullptr};
};

// inverted: each half holds 1 - v (bright markers on a dark floor).
bool PrepareHalves(const Matrix* source, bool inverted, WorkImages* w) {
  w->work.reset(ResampleTo1280x720(source, &w->colScale, &w->rowScale));
  if (!w->work || w->work->data == nullptr) return false;
  w->W = w->work->cols;
  w->H = w->work->rows;
  w->half = w->W / 2;
  if (w->half < 1 || w->H < 1) return false;
  const size_t n = static_cast<size_t>(w->half) * static_cast<size_t>(w->H);
  w->leftPixels.resize(n);
  w->rightPixels.resize(n);
  for (int32_t r = 0; r < w->H; ++r) {
    const float* row = w->work->data + static_cast<size_t>(r) * static_cast<size_t>(w->W);
    float* l = w->leftPixels.data() + static_cast<size_t>(r) * static_cast<size_t>(w->half);
    float* rr = w->rightPixels.data() + static_cast<size_t>(r) * static_cast<size_t>(w->half);
    for (int32_t c = 0; c < w->half; ++c) {
      l[c] = inverted ? 1.0f - row[c] : row[c];
      rr[c] = inverted ? 1.0f - row[w->half + c] : row[w->half + c];
    }
  }
  w->left = Matrix{w->half, w->H, w->leftPixels.data()};
  w->right = Matrix{w->half, w->H, w->rightPixels.data()};
  return true;
}

// Left quad i, then right quad j moved into working-image columns.
void BuildCandidate(const float* leftQuad, const float* rightQuad, int32_t half, float* cand) {
  for (int32_t k = 0; k < 4; ++k) {
    cand[2 * k] = leftQuad[2 * k];
    cand[2 * k + 1] = leftQuad[2 * k + 1];
    cand[8 + 2 * k] = rightQuad[2 * k];
    cand[8 + 2 * k + 1] = rightQuad[2 * k + 1] + static_cast<float>(half);
  }
}

// Working-image rows of all eight points: at least minFrac H and at most
// maxFrac H.
bool RowsWithin(const float* cand, int32_t H, float minFrac, float maxFrac) {
  for (int32_t k = 0; k < kMarkerPoints; ++k) {
    const float r = cand[2 * k];
    if (r < minFrac * static_cast<float>(H) || r > maxFrac * static_cast<float>(H)) return false;
  }
  return true;
}

// The candidate into points in the camera's world-point order, scaled to the
// searched picture, with the count 8.
void PlaceCandidate(LUTOB* lut, uint32_t camera, const float* cand, const WorkImages& w, float* points) {
  if (camera == 1) {
    for (int32_t k = 0; k < kMarkerPoints; ++k) {
      points[2 * k] = cand[2 * k] * w.rowScale;
      points[2 * k + 1] = cand[2 * k + 1] * w.colScale;
    }
    lut->cornerCounts[0] = kMarkerPoints;
    return;
  }
  CalibMarker_OrderPoints(lut, camera, cand, points, w.colScale, w.rowScale);
}

// Pattern search for one marker whose world corners are points
// first..first+3: a window grown by `grow` on every side of the marker.
int32_t FindMarkerOnGround(LUTOB* lut, uint32_t camera, const Matrix* source, int32_t type, int32_t first, float grow,
                           float* out) {
  const float* p1 = FinderWorldPoint(lut, camera, first);
  const float* p4 = FinderWorldPoint(lut, camera, first + 3);
  const float size = p4[0] - p1[0];
  return CalibFindPattern(lut, static_cast<int32_t>(camera) - 1, source, type, 0, 3, out, size, p1[0] - grow,
                          p1[1] - grow, size + 2.0f * grow, (p4[1] - p1[1]) + 2.0f * grow, 0.0f);
}

// Re-finds both markers on the ground around their world places. When both
// are found they replace the eight points and the camera is solved again
// (fit receives the result); should that push a residual that was within
// the limit beyond it, the quad points come back and are solved once more.
// False (points and fit untouched) when either marker is not found.
bool RefineOnGround(LUTOB* lut, uint32_t camera, const Matrix* source, int32_t type, float grow,
                    float limit, float* points, FinderSolve* fit) {
  float a[8], b[8];
  if (FindMarkerOnGround(lut, camera, source, type, 0, grow, a) == 0) return false;
  if (FindMarkerOnGround(lut, camera, source, type, 4, grow, b) == 0) return false;
  float kept[2 * kMarkerPoints];
  memcpy(kept, points, sizeof kept);
  memcpy(points, a, sizeof a);
  memcpy(points + 8, b, sizeof b);
  const bool wasWithin = fit->rms <= limit;
  *fit = FinderSolvePose(lut, camera, 1);
  if (wasWithin && !(fit->rms <= limit)) {
    memcpy(points, kept, sizeof kept);
    *fit = FinderSolvePose(lut, camera, 1);
  }
  return true;
}

}  // namespace

int32_t CalibMarker_PassCount() { return gv().cornerQuickMode != 0 ? kQuickPasses : kAllPasses; }

float CalibMarker_ResidualLimit(int32_t level, int32_t pass) {
  if (pass < 0 || pass >= kAllPasses) return 0.0f;
  if (gv().targetDimA >= kLenientSquare) return 5.21f;
  return level == 1 ? kStrictLimits[pass] : kLooseLimits[pass];
}

bool CalibMarker_PreferSecond(uint32_t camera, const float* held, const float* next) {
  if (camera == 2) return next[0] > held[0];
  const float d = next[9] - held[9];  // column of the fifth point
  if (camera == 3) return d > 0.0f && d < 50.0f;
  if (camera == 4) return d < 0.0f && d > -50.0f;
  return false;
}

uint32_t CalibFindMarkerBoard(LUTOB* lut, uint32_t camera, Matrix* image, int32_t level, float* points) {
  if (!FinderCallValid(lut, camera, image, points, kMarkerPoints)) return 0;
  const GlobalVariables& g = gv();
  const int32_t c = static_cast<int32_t>(camera) - 1;

  // Camera 2's mirrored picture is searched turned back.
  const bool mirrored = camera == 2 && (g.JDSpecial & kMirrorCamera2) != 0;
  std::vector<float> mirrorPixels;
  Matrix mirror{0, 0, nullptr};
  const Matrix* source = image;
  if (mirrored) {
    mirrorPixels.resize(static_cast<size_t>(image->cols) * static_cast<size_t>(image->rows));
    mirror = Matrix{image->cols, image->rows, mirrorPixels.data()};
    Matrix_MirrorHorizontal(image, &mirror);
    source = &mirror;
  }
  WorkImages w;
  if (!PrepareHalves(source, false, &w)) return 0;

  SizeWindow winL, winR;
  MarkerWindows(level, camera, &winL, &winR);
  const float centreTolerance = CalibProfile().I(14) != 0 ? 0.15f : 0.1f;
  if (level == 7) level = 2;

  const int32_t carBox[2] = {lut->cfg.carWidth, lut->cfg.carLength};
  const bool far = IsFarDistance(carBox) != 0;
  const bool lenient = g.targetDimA >= kLenientSquare;
  bool dropOuter = g.HZCheckHigh != 0 && !lenient;
  if (level == 1 && far) dropOuter = false;
  if (level == 3 && camera >= 3) dropOuter = false;

  float minRow = 0.25f, maxRow = 1e9f;  // fractions of the working height
  if (camera == 2 && level == 3) {
    minRow = -1e9f;
    maxRow = 0.5f;
  } else if (camera == 2 && level == 6) {
    minRow = -1e9f;
    maxRow = 0.61f;
  } else if (camera >= 3) {
    minRow = -1e9f;
  }
  const bool partLevel = level == 3 || level == 5 || level == 6;
  const int32_t halfCols = image->cols / 2;
  const float heightLimits[2] = {1200.0f, 2000.0f};

  std::vector<float> quadsL(8 * kQuadSearchMax), quadsR(8 * kQuadSearchMax);
  const int32_t passes = CalibMarker_PassCount();
  bool accepted = false;
  for (int32_t p = 0; p < passes && !accepted; ++p) {
    const Pass& pass = kPasses[p];
    const float limit = CalibMarker_ResidualLimit(level, p);
    const int32_t nL = SearchQuads(&w.left, 1, pass.mode, dropOuter, winL, pass.leftOffset, quadsL.data());
    if (nL == 0) continue;
    const int32_t nR = SearchQuads(&w.right, 0, pass.mode, dropOuter, winR, pass.rightOffset, quadsR.data());
    if (nR == 0) continue;
    for (int32_t i = 0; i < nL && !accepted; ++i) {
      for (int32_t j = 0; j < nR && !accepted; ++j) {
        float cand[2 * kMarkerPoints];
        BuildCandidate(&quadsL[8 * i], &quadsR[8 * j], w.half, cand);
        if (camera <= 2 && !RowsWithin(cand, w.H, minRow, maxRow)) continue;
        PlaceCandidate(lut, camera, cand, w, points);
        FinderSolve fit = FinderSolvePose(lut, camera, 1);
        if (!fit.ok) continue;

        bool offCentre = false;
        if (partLevel) {
          if (!(fit.rms <= limit)) continue;
          offCentre = std::fabs(lut->params.K[c][2] - static_cast<float>(halfCols)) > 25.0f;
          AvmLog("W1~~~~~~~~%d %d ================================== \n", c, p);
          if (!offCentre) {
            accepted = true;
            break;
          }
        }
        RefineOnGround(lut, camera, source, 1, 400.0f, limit, points, &fit);

        // The point set is taken only with a pose it solved.
        if (!fit.ok || !(fit.rms <= limit)) continue;
        if (offCentre) {
          accepted = std::fabs(lut->params.K[c][2] - static_cast<float>(halfCols)) <= 30.0f;
        } else if (level == 1 && g.HZCheckHigh != 0) {
          if (far || lenient || camera >= 3)
            accepted = true;
          else
            accepted = !(lut->params.T[c][2] > heightLimits[p < 2 ? 0 : 1]);
        } else if (level == 2) {
          const float hw = static_cast<float>(lut->camW) / 2.0f, hh = static_cast<float>(lut->camH) / 2.0f;
          accepted = !(std::fabs(lut->params.K[c][2] - hw) / hw > centreTolerance) &&
                     !(std::fabs(lut->params.K[c][5] - hh) / hh > centreTolerance);
        } else {
          accepted = true;
        }
      }
    }
  }
  if (!accepted) return 0;
  if (mirrored)
    for (int32_t k = 0; k < kMarkerPoints; ++k)
      points[2 * k + 1] = static_cast<float>(image->cols - 1) - points[2 * k + 1];
  return kMarkerPoints;
}

AVM_LAYOUT_FINDER(CalibFind_Layout2) {
  (void)cols;
  (void)rows;
  return CalibFindMarkerBoard(lut, camera, image, 1, points);
}

AVM_LAYOUT_FINDER(CalibFind_Layout17) {
  (void)cols;
  (void)rows;
  const uint32_t n = CalibFindMarkerBoard(lut, camera, image, 2, points);
  if (n != 0 || camera == 1 || camera == 2 || lut == nullptr || lut->cfg.carLength <= 7500) return n;
  return CalibFindMarkerBoard(lut, camera, image, 7, points);
}

AVM_LAYOUT_FINDER(CalibFind_Layout32) {
  (void)cols;
  (void)rows;
  if (!FinderCallValid(lut, camera, image, points, kMarkerPoints)) return 0;
  WorkImages w;
  if (!PrepareHalves(image, true, &w)) return 0;
  SizeWindow winL{0.0f, 1000.0f, 0.0f, 1000.0f}, winR = winL;
  if (camera <= 2) {
    winL = winR = ProfileWindow(2);
  } else if (camera == 3) {
    winL = ProfileWindow(6);
    winR = ProfileWindow(10);
  } else {
    winL = ProfileWindow(10);
    winR = ProfileWindow(6);
  }

  std::vector<float> quadsL(8 * kQuadSearchMax), quadsR(8 * kQuadSearchMax);
  float held[2 * kMarkerPoints];
  bool chosen = false;
  const int32_t passes = CalibMarker_PassCount();
  for (int32_t p = 0; p < passes && !chosen; ++p) {
    const Pass& pass = kPasses[p];
    const float limit = kLooseLimits[p];
    int32_t nL = 0, nR = 0;
    // Camera 3's first marker lies in the right half: that half goes first.
    if (camera == 3) {
      nR = SearchQuads(&w.right, 0, pass.mode, true, winR, pass.rightOffset, quadsR.data());
      if (nR == 0) continue;
      nL = SearchQuads(&w.left, 1, pass.mode, true, winL, pass.leftOffset, quadsL.data());
    } else {
      nL = SearchQuads(&w.left, 1, pass.mode, true, winL, pass.leftOffset, quadsL.data());
      if (nL == 0) continue;
      nR = SearchQuads(&w.right, 0, pass.mode, true, winR, pass.rightOffset, quadsR.data());
    }
    if (nL == 0 || nR == 0) continue;
    bool holding = false;
    for (int32_t i = 0; i < nL && !chosen; ++i) {
      for (int32_t j = 0; j < nR && !chosen; ++j) {
        float cand[2 * kMarkerPoints];
        BuildCandidate(&quadsL[8 * i], &quadsR[8 * j], w.half, cand);
        if (camera <= 2 && !RowsWithin(cand, w.H, 0.25f, 1e9f)) continue;
        PlaceCandidate(lut, camera, cand, w, points);
        FinderSolve fit = FinderSolvePose(lut, camera, 1);
        if (!fit.ok) continue;
        if (camera <= 2) RefineOnGround(lut, camera, image, 15, 300.0f, limit, points, &fit);
        if (!fit.ok || !(fit.rms <= limit)) continue;
        if (camera == 1) {
          chosen = true;
        } else if (!holding) {
          memcpy(held, points, sizeof held);
          holding = true;
        } else {
          if (!CalibMarker_PreferSecond(camera, held, points)) memcpy(points, held, sizeof held);
          chosen = true;
        }
      }
    }
    if (!chosen && holding) {
      memcpy(points, held, sizeof held);
      chosen = true;
    }
  }
  if (!chosen) return 0;
  if (camera == 1) return kMarkerPoints;

  // Further targets, found on the ground by the pose of the chosen pair.
  const int32_t c = static_cast<int32_t>(camera) - 1;
  const int32_t extra = camera == 2 ? 2 : 1;
  const int32_t total = kMarkerPoints + 4 * extra;
  lut->cornerCounts[c] = kMarkerPoints;
  FinderSolvePose(lut, camera, 1);
  if (gv().maxPoints < total) return kMarkerPoints;  // no room for them
  for (int32_t t = 0; t < extra; ++t) {
    const float* p = FinderWorldPoint(lut, camera, kMarkerPoints + 4 * t);
    if (CalibFindPattern(lut, c, image, 15, 0, 0, points + 2 * (kMarkerPoints + 4 * t), 400.0f, p[0] - 300.0f,
                         p[1] - 300.0f, 1000.0f, 1000.0f, 0.0f) == 0)
      return kMarkerPoints;
  }
  lut->cornerCounts[c] = total;
  if (FinderSolvePose(lut, camera, 1).ok) return static_cast<uint32_t>(total);
  lut->cornerCounts[c] = kMarkerPoints;
  return kMarkerPoints;
}
