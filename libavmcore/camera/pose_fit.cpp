#include "camera/pose_fit.h"

#include <cfloat>
#include <cmath>

#include "camera/pose_estimate.h"
#include "frame/log.h"
#include "toolkit/residual_rms.h"
#include "toolkit/levenberg_marquardt.h"

bool PoseParams_AllFinite(const PoseParams& p) {
  const float* groups[4] = {p.K, p.D, p.r, p.T};
  const int sizes[4] = {9, 8, 3, 3};
  for (int g = 0; g < 4; ++g)
    for (int k = 0; k < sizes[g]; ++k)
      if (!std::isfinite(groups[g][k])) return false;
  return true;
}

void PoseParams_Load(PoseParams* p, const Matrix* K, const Matrix* D, const Matrix* R, const Matrix* T) {
  for (int k = 0; k < 9; ++k) p->K[k] = K->data[k];
  for (int k = 0; k < 8; ++k) p->D[k] = D->data[k];
  for (int k = 0; k < 3; ++k) {
    p->r[k] = R->data[k];
    p->T[k] = T->data[k];
  }
}

void PoseParams_Store(const PoseParams& p, Matrix* K, Matrix* D, Matrix* R, Matrix* T) {
  for (int k = 0; k < 9; ++k) K->data[k] = p.K[k];
  for (int k = 0; k < 8; ++k) D->data[k] = p.D[k];
  for (int k = 0; k < 3; ++k) {
    R->data[k] = p.r[k];
    T->data[k] = p.T[k];
  }
}

void PoseParams_Pack(const PoseParams& p, float* v) {
  v[0] = p.K[0];
  v[1] = p.K[1];
  v[2] = p.K[3];
  v[3] = p.K[2];
  v[4] = p.K[5];
  for (int k = 0; k < 8; ++k) v[5 + k] = p.D[k];
  for (int k = 0; k < 3; ++k) {
    v[13 + k] = p.r[k];
    v[16 + k] = p.T[k];
  }
}

void PoseParams_Unpack(const float* v, PoseParams* p) {
  p->K[0] = v[0];
  p->K[1] = v[1];
  p->K[3] = v[2];
  p->K[2] = v[3];
  p->K[5] = v[4];
  for (int k = 0; k < 8; ++k) p->D[k] = v[5 + k];
  for (int k = 0; k < 3; ++k) {
    p->r[k] = v[13 + k];
    p->T[k] = v[16 + k];
  }
}

float PoseFit_ScoreCandidate(PoseProjectFn project, PoseUndistortFn undistort, const Matrix* objectPoints,
                             const Matrix* imagePoints, PoseParams* c, int32_t slot, PoseFitWork* work) {
  const int n = imagePoints->rows;
  Matrix K{3, 3, c->K}, D{1, 8, c->D};
  Matrix pin{2, n, work->pinhole.data()};
  undistort(imagePoints, &pin, &K, &D, 0, slot);
  PlanarPose_Estimate(objectPoints, &pin, c->r, c->T);
  return PoseFit_ScoreAtPose(project, objectPoints, imagePoints, c, slot, work);
}

float PoseFit_ScoreAtPose(PoseProjectFn project, const Matrix* objectPoints, const Matrix* imagePoints,
                          PoseParams* c, int32_t slot, PoseFitWork* work) {
  const int n = imagePoints->rows;
  Matrix K{3, 3, c->K}, D{1, 8, c->D}, r{3, 1, c->r}, T{1, 3, c->T};
  Matrix proj{2, n, work->projected.data()};
  project(objectPoints, &r, &T, &K, &D, &proj, nullptr, nullptr, nullptr, nullptr, nullptr, slot);
  for (int i = 0; i < n; ++i)
    for (int k = 0; k < 2; ++k)
      work->residual[2 * i + k] = work->projected[2 * i + k] - imagePoints->data[i * imagePoints->cols + k];
  Matrix res{1, 2 * n, work->residual.data()};
  return Residual_RMS(&res);
}

namespace {

void ApplyMask(LevMarq* lm, const FitMask& mask) {
  for (int i = 0; i < kPoseParamCount; ++i) lm->mask[i] = mask.fixed[i] ? 0u : 1u;
}

// Assembles one 19-column Jacobian row from the five blocks' row `row`.
void JacobianRow(float* J, const float* bK, const float* bC, const float* bD, const float* bR, const float* bT) {
  for (int k = 0; k < 3; ++k) J[k] = bK[k];
  for (int k = 0; k < 2; ++k) J[3 + k] = bC[k];
  for (int k = 0; k < 8; ++k) J[5 + k] = bD[k];
  for (int k = 0; k < 3; ++k) J[13 + k] = bR[k];
  for (int k = 0; k < 3; ++k) J[16 + k] = bT[k];
}

struct Blocks {
  explicit Blocks(int rows) : rot(3 * rows), trans(3 * rows), intr(3 * rows), centre(2 * rows), dist(8 * rows) {
    mRot = Matrix{3, rows, rot.data()};
    mTrans = Matrix{3, rows, trans.data()};
    mIntr = Matrix{3, rows, intr.data()};
    mCentre = Matrix{2, rows, centre.data()};
    mDist = Matrix{8, rows, dist.data()};
  }
  void Row(int i, float* J) const {
    JacobianRow(J, &intr[3 * i], &centre[2 * i], &dist[8 * i], &rot[3 * i], &trans[3 * i]);
  }
  std::vector<float> rot, trans, intr, centre, dist;
  Matrix mRot, mTrans, mIntr, mCentre, mDist;
};

// Runs the solver over the pose parameters from *p with `errors` residuals.
// evaluate(cur, J, err) fills the residuals of the parameters `cur` and,
// when J is not null, their Jacobian rows. *p gets the solver's result.
template <class Evaluate>
float RunPoseSolver(PoseParams* p, const FitMask& mask, int errors, float epsilon, Evaluate evaluate) {
  LevMarq lm;
  LevMarq_Create(&lm, kPoseParamCount, errors, 100, -6, epsilon);
  PoseParams_Pack(*p, lm.param.data);
  ApplyMask(&lm, mask);
  float errNorm = FLT_MAX;
  PoseParams cur = *p;
  for (;;) {
    Matrix* param = nullptr;
    Matrix* J = nullptr;
    Matrix* err = nullptr;
    if (!LevMarq_Update(&lm, &param, &J, &err, &errNorm)) break;
    if (J == nullptr && err == nullptr) continue;
    PoseParams_Unpack(param->data, &cur);
    evaluate(cur, J, err);
  }
  PoseParams_Unpack(lm.param.data, p);
  LevMarq_Free(&lm);
  return errNorm;
}

}  // namespace

float PoseFitScorer::Score(PoseParams* cand, PoseFitWork* work) const {
  return atPose ? PoseFit_ScoreAtPose(project, objectPoints, imagePoints, cand, slot, work)
                : PoseFit_ScoreCandidate(project, undistort, objectPoints, imagePoints, cand, slot, work);
}

bool PoseFit_SearchScaleGrid(const PoseFitScorer& scorer, const FitSetup& setup, int32_t width, int32_t height,
                             const PoseParams& start, PoseParams* best) {
  PoseParams base = start;
  const float k0[9] = {setup.aspect, 0.0f, static_cast<float>(width / 2) - 0.5f,
                       0.0f, 1.0f, static_cast<float>(height / 2) - 0.5f,
                       0.0f, 0.0f, 1.0f};
  for (int k = 0; k < 9; ++k) base.K[k] = k0[k];
  for (float& d : base.D) d = 0.0f;

  PoseFitWork work(scorer.imagePoints->rows);
  float bestRms = 1000.0f;
  bool found = false;
  int bestOuter = -1;
  // Best RMS over the second-term values at outer index i; with keep, a
  // better candidate becomes the fit's start.
  auto scoreOuter = [&](int i, bool keep) {
    float outerBest = 1000.0f;
    for (int j = 0; j < setup.innerCount; ++j) {
      PoseParams cand = base;
      cand.D[0] = setup.start + static_cast<float>(i) * setup.step;
      cand.D[1] = setup.secondStart + static_cast<float>(j) * setup.secondStep;
      const float rms = scorer.Score(&cand, &work);
      if (rms < outerBest) outerBest = rms;
      if (keep && rms < bestRms) {
        bestRms = rms;
        *best = cand;
        bestOuter = i;
        found = true;
      }
    }
    return outerBest;
  };
  for (int i = 0; i < setup.outerCount; ++i) scoreOuter(i, true);
  if (!found) return false;
  // The refinement holds the scale where the search put it: a best scale at
  // an edge of the grid is only the scale when one step beyond scores worse.
  return PoseFit_ScaleEdgeIsMinimum(bestOuter, setup.outerCount, bestRms, setup.start, setup.step, width, height,
                                    [&](int i) { return scoreOuter(i, false); });
}

float PoseFit_Refine(PoseProjectFn project, const Matrix* objectPoints, const Matrix* imagePoints, PoseParams* p,
                     const FitMask& mask, float epsilon, int32_t slot) {
  const int n = imagePoints->rows;
  if (n < 1) return NAN;  // nothing to fit; the callers keep their values
  Blocks blocks(2 * n);
  std::vector<float> projected(2 * n);
  return RunPoseSolver(p, mask, 2 * n, epsilon, [&](PoseParams& cur, Matrix* J, Matrix* err) {
    Matrix K{3, 3, cur.K}, D{1, 8, cur.D}, r{3, 1, cur.r}, T{1, 3, cur.T};
    Matrix proj{2, n, projected.data()};
    if (J != nullptr)
      project(objectPoints, &r, &T, &K, &D, &proj, &blocks.mRot, &blocks.mTrans, &blocks.mIntr, &blocks.mCentre,
              &blocks.mDist, slot);
    else
      project(objectPoints, &r, &T, &K, &D, &proj, nullptr, nullptr, nullptr, nullptr, nullptr, slot);
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < 2; ++k)
        err->data[2 * i + k] = projected[2 * i + k] - imagePoints->data[i * imagePoints->cols + k];
    if (J != nullptr)
      for (int row = 0; row < 2 * n; ++row) blocks.Row(row, J->data + row * kPoseParamCount);
  });
}

float PoseFit_Line(PoseGroundFn ground, const Matrix* targets, const Matrix* imagePoints, PoseParams* p,
                   const FitMask& mask, int extraErrors, int32_t slot) {
  const int n = imagePoints->rows;
  if (n < 1) return NAN;
  // Targets of two columns give the ground point whole, (x, y); one column
  // gives x alone.
  const int per = targets->cols >= 2 ? 2 : 1;
  const int m = per * n + extraErrors;
  Blocks blocks(2 * n);
  std::vector<float> mapped(2 * n);
  return RunPoseSolver(p, mask, m, FLT_EPSILON, [&](PoseParams& cur, Matrix* J, Matrix* err) {
    Matrix K{3, 3, cur.K}, D{1, 8, cur.D}, r{3, 1, cur.r}, T{1, 3, cur.T};
    Matrix g{2, n, mapped.data()};
    if (J != nullptr)
      ground(imagePoints, &g, &K, &D, &r, &T, &blocks.mRot, &blocks.mTrans, &blocks.mIntr, &blocks.mCentre,
             &blocks.mDist, slot);
    else
      ground(imagePoints, &g, &K, &D, &r, &T, nullptr, nullptr, nullptr, nullptr, nullptr, slot);
    // Mapped minus target, so that the solver's step goes downhill.
    for (int i = 0; i < n; ++i)
      for (int k = 0; k < per; ++k) err->data[per * i + k] = mapped[2 * i + k] - targets->data[i * targets->cols + k];
    for (int i = per * n; i < m; ++i) err->data[i] = 0.0f;
    if (J != nullptr) {
      for (int i = 0; i < n; ++i)
        for (int k = 0; k < per; ++k) blocks.Row(2 * i + k, J->data + (per * i + k) * kPoseParamCount);
      for (int i = per * n; i < m; ++i)
        for (int k = 0; k < kPoseParamCount; ++k) J->data[i * kPoseParamCount + k] = 0.0f;
    }
  });
}

FitMask LineFitMask(int32_t mode) {
  FitMask mask;
  mask.Fix(0, 12);
  switch (mode) {
    case 0:
    case 3:
      mask.Fix(16, 17);
      break;
    case 1:
      mask.Fix(13, 14);
      mask.Fix(16, 18);
      break;
    case 2:
      mask.Fix(16, 18);
      break;
    default:
      break;
  }
  return mask;
}

bool FitSetup_FromRows(const FitSetupRow* rows, size_t count, int32_t width, int32_t height, FitSetup* out) {
  if (width < 1 || height < 1 || count == 0) {
    AvmLog("fit set-up: no search for a %dx%d picture\n", width, height);
    return false;
  }
  for (size_t i = 0; i < count; ++i)
    if (rows[i].width == width && rows[i].height == height) {
      *out = rows[i].setup;
      return true;
    }
  const double aspect = static_cast<double>(width) / height;
  size_t best = 0;
  double bestAspect = 0.0, bestWidth = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double da = std::fabs(std::log(aspect * rows[i].height / rows[i].width));
    const double dw = std::fabs(std::log(static_cast<double>(width) / rows[i].width));
    if (i == 0 || da < bestAspect - 1e-9 || (da < bestAspect + 1e-9 && dw < bestWidth)) {
      best = i;
      bestAspect = da;
      bestWidth = dw;
    }
  }
  const FitSetupRow& r = rows[best];
  const float ratio = static_cast<float>(width) / static_cast<float>(r.width);
  *out = r.setup;
  out->start *= ratio;
  out->step *= ratio;
  out->secondStart *= ratio;
  out->secondStep *= ratio;
  AvmLog("fit set-up: %dx%d from the %dx%d row scaled by %f\n", width, height, r.width, r.height, ratio);
  return true;
}

void PoseFit_LogScaleEdge(float bestScale, float first, float last, float beyond, float beyondRms, float bestRms,
                          int32_t width, int32_t height) {
  AvmLog("BestFit: %dx%d scale %f at the edge of its search %f..%f, %f beyond scores %f < %f: no fit\n", width,
         height, bestScale, first, last, beyond, beyondRms, bestRms);
}
