#pragma once
// The fitting machinery shared by the lens models' full fits and line-target
// fits (internal to the camera module): packing of the 19-parameter vector,
// scoring of one coarse-search candidate and the Levenberg-Marquardt loops.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "camera/camera_model.h"

struct PoseParams {
  float K[9];
  float D[8];
  float r[3];
  float T[3];
};

typedef void (*PoseProjectFn)(const Matrix* objectPoints, const Matrix* R, const Matrix* T, const Matrix* K,
                              const Matrix* D, Matrix* imagePoints, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                              Matrix* dCentre, Matrix* dDist, int32_t slot);
typedef void (*PoseUndistortFn)(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,
                                int32_t pixelFlag, int32_t slot);
typedef void (*PoseGroundFn)(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,
                             const Matrix* R, const Matrix* T, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                             Matrix* dCentre, Matrix* dDist, int32_t slot);

// False when a fit ended on a non-finite value (nothing is written back then).
bool PoseParams_AllFinite(const PoseParams& p);

void PoseParams_Load(PoseParams* p, const Matrix* K, const Matrix* D, const Matrix* R, const Matrix* T);
void PoseParams_Store(const PoseParams& p, Matrix* K, Matrix* D, Matrix* R, Matrix* T);
// 0 K[0], 1 K[1], 2 K[3], 3 K[2], 4 K[5], 5..12 D, 13..15 r, 16..18 T.
void PoseParams_Pack(const PoseParams& p, float* v);
void PoseParams_Unpack(const float* v, PoseParams* p);

// Which of the 19 parameters a fit keeps fixed.
struct FitMask {
  bool fixed[kPoseParamCount] = {};
  void Fix(int first, int last) {
    for (int i = first; i <= last; ++i) fixed[i] = true;
  }
  void Fix(int i) { fixed[i] = true; }
};

// The restricted fit modes 5 to 8 start from the given pose and hold
// translation components there: 5 x and z, 6 all three, 7 z, 8 x.
inline bool PoseFit_IsRestricted(int32_t mode) { return mode >= 5 && mode <= 8; }
inline void PoseFit_HoldTranslation(FitMask* mask, int32_t mode) {
  if (mode == 5 || mode == 6 || mode == 8) mask->Fix(16);
  if (mode == 6) mask->Fix(17);
  if (mode == 5 || mode == 6 || mode == 7) mask->Fix(18);
}

// Scratch space of one fit, allocated once per call.
struct PoseFitWork {
  explicit PoseFitWork(int n) : pinhole(2 * n), projected(2 * n), residual(2 * n) {}
  std::vector<float> pinhole, projected, residual;
};

// One coarse-search candidate: undistorts the image points with the
// candidate's K and D, poses the plane, projects and returns the RMS. The
// candidate's r and T are filled.
float PoseFit_ScoreCandidate(PoseProjectFn project, PoseUndistortFn undistort, const Matrix* objectPoints,
                             const Matrix* imagePoints, PoseParams* cand, int32_t slot, PoseFitWork* work);

// A candidate at its own pose (the restricted fits start from a given
// pose, which a plane estimate would throw away): projects and returns the
// RMS; r and T are kept.
float PoseFit_ScoreAtPose(PoseProjectFn project, const Matrix* objectPoints, const Matrix* imagePoints,
                          PoseParams* cand, int32_t slot, PoseFitWork* work);

// How a full fit scores one coarse-search candidate: posed anew from its
// undistorted points, or at its own pose (atPose: the restricted modes).
struct PoseFitScorer {
  PoseProjectFn project;
  PoseUndistortFn undistort;
  const Matrix* objectPoints;
  const Matrix* imagePoints;
  int32_t slot;
  bool atPose;
  float Score(PoseParams* cand, PoseFitWork* work) const;
};

// The scale-grid search of the full fits: D[0] over the set-up's outer
// values, D[1] over its inner values, K at the picture centre with the
// set-up's aspect, the other D zero, r and T from `start`. False when no
// candidate posed the target or the best scale lies at an edge of the grid
// that one step beyond beats (the fit then reports no pose); otherwise true
// with the best candidate in *best.
bool PoseFit_SearchScaleGrid(const PoseFitScorer& scorer, const FitSetup& setup, int32_t width, int32_t height,
                             const PoseParams& start, PoseParams* best);

// Reprojection refinement (100 iterations at most, damping 10^-6 to start).
// Returns the last error norm the solver reported.
float PoseFit_Refine(PoseProjectFn project, const Matrix* objectPoints, const Matrix* imagePoints, PoseParams* p,
                     const FitMask& mask, float epsilon, int32_t slot);

// Line-target refinement: error_i = mapped ground X - target X (targets
// column 0), and mapped Y - target Y when the targets have a second column,
// plus extraErrors zero terms. Returns the last error norm.
float PoseFit_Line(PoseGroundFn ground, const Matrix* targets, const Matrix* imagePoints, PoseParams* p,
                   const FitMask& mask, int extraErrors, int32_t slot);

// Masks of the line-target fits by mode (shared by models 1 to 4).
FitMask LineFitMask(int32_t mode);

// One row of a model's fit set-up table.
struct FitSetupRow {
  int32_t width, height;
  FitSetup setup;
};

// The set-up of the row of exactly this picture size. A size without a row
// of its own takes the nearest row (closest picture aspect, then closest
// width) with its pixel-valued entries (the starts and steps of the scale
// and of the second term) scaled by the ratio of the picture widths: the
// same lens on a scaled picture has its scale scaled alike. Returns false
// (and logs) for a size no row can serve (width or height below 1).
bool FitSetup_FromRows(const FitSetupRow* rows, size_t count, int32_t width, int32_t height, FitSetup* out);

// The edge rule of every scale search: a search whose best scale is the
// first or last value it tried has not found the scale unless the scores one
// step beyond that edge are worse. scoreAt(i) scores the scale of outer
// index i (any index, also outside the range) over all second-term values
// and returns the best RMS. Returns true when the best is no edge or the
// edge is a true minimum; otherwise logs the search and returns false.
template <class ScoreAt>
bool PoseFit_ScaleEdgeIsMinimum(int bestOuter, int tried, float bestRms, float start, float step, int32_t width,
                                int32_t height, ScoreAt scoreAt);
void PoseFit_LogScaleEdge(float bestScale, float first, float last, float beyond, float beyondRms, float bestRms,
                          int32_t width, int32_t height);

template <class ScoreAt>
bool PoseFit_ScaleEdgeIsMinimum(int bestOuter, int tried, float bestRms, float start, float step, int32_t width,
                                int32_t height, ScoreAt scoreAt) {
  if (tried < 1 || bestOuter < 0) return true;
  const int beyond[2] = {bestOuter == 0 ? -1 : 0, bestOuter == tried - 1 ? tried : 0};
  for (int b : beyond) {
    if (b == 0) continue;
    const float rms = scoreAt(b);
    if (rms < bestRms) {
      PoseFit_LogScaleEdge(start + static_cast<float>(bestOuter) * step, start,
                           start + static_cast<float>(tried - 1) * step, start + static_cast<float>(b) * step, rms,
                           bestRms, width, height);
      return false;
    }
  }
  return true;
}
