// Levenberg-Marquardt state machine and its damped step.
#include "toolkit/levenberg_marquardt.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "toolkit/residual_rms.h"
#include "toolkit/matrix.h"
#include "toolkit/svd.h"

namespace {

constexpr int32_t kDone = static_cast<int32_t>(LevMarqState::Done);
constexpr int32_t kStarted = static_cast<int32_t>(LevMarqState::Started);
constexpr int32_t kCalcJ = static_cast<int32_t>(LevMarqState::CalcJ);
constexpr int32_t kCheckErr = static_cast<int32_t>(LevMarqState::CheckErr);

// The damping factor never falls below 10^-12 and a failed trial at 10^3
// ends the fit.
constexpr int32_t kLambdaLg10Floor = -11;
constexpr int32_t kLambdaLg10Ceiling = 2;

inline void SetOut(Matrix** out, Matrix* m) {
  if (out != nullptr) *out = m;
}

// A trial counts only when it lowers the norm by at least epsilon. Written
// as a positive test so that a NaN norm counts as a failure, not a success.
inline bool Improved(const LevMarq* lm) { return lm->prevErrNorm - lm->errNorm >= lm->epsilon; }

}  // namespace

void LevMarq_Create(LevMarq* lm, int32_t nParams, int32_t nErrors, int32_t maxIter, int32_t lambdaLg10,
                    float epsilon) {
  const int32_t n = nParams > 0 ? nParams : 0;
  const int32_t m = nErrors > 0 ? nErrors : 0;
  const size_t nn = static_cast<size_t>(n) * n;
  const size_t nm = static_cast<size_t>(n) * m;
  const size_t total = 2 * static_cast<size_t>(n) + m + nm + 2 * nn + n + nm;
  float* block = static_cast<float*>(std::calloc(total > 0 ? total : 1, sizeof(float)));
  float* p = block;
  auto carve = [&p](Matrix* mat, int32_t cols, int32_t rows) {
    Matrix_Init(mat, cols, rows, p);
    p += static_cast<size_t>(cols) * rows;
  };
  carve(&lm->prevParam, 1, n);
  carve(&lm->param, 1, n);
  if (m > 0) {
    carve(&lm->err, 1, m);
    carve(&lm->J, n, m);
  } else {
    Matrix_Init(&lm->err, 1, 0, nullptr);
    Matrix_Init(&lm->J, n, 0, nullptr);
  }
  carve(&lm->JtJ, n, n);
  carve(&lm->JtJN, n, n);
  carve(&lm->JtErr, 1, n);
  if (m > 0) {
    carve(&lm->Jt, m, n);
  } else {
    Matrix_Init(&lm->Jt, 0, n, nullptr);
  }
  lm->mask = static_cast<uint32_t*>(std::malloc((n > 0 ? n : 1) * sizeof(uint32_t)));
  for (int32_t i = 0; i < n; ++i) lm->mask[i] = 1;
  lm->nErrors = nErrors;
  lm->prevErrNorm = FLT_MAX;
  lm->errNorm = 0.0f;
  lm->lambdaLg10 = lambdaLg10;
  lm->maxIter = std::min(std::max(maxIter, 1), 1000);
  lm->epsilon = std::max(epsilon, 0.0f);
  lm->state = kStarted;
  lm->iterations = 0;
}

void LevMarq_Step(LevMarq* lm) {
  const int32_t n = lm->param.rows;
  const float lambda = std::exp(static_cast<float>(lm->lambdaLg10) * 2.3025851f);
  float* jtj = lm->JtJ.data;
  for (int32_t i = 0; i < n; ++i) {
    if (lm->mask[i] != 0) continue;
    for (int32_t k = 0; k < n; ++k) {
      jtj[static_cast<size_t>(i) * n + k] = 0.0f;
      jtj[static_cast<size_t>(k) * n + i] = 0.0f;
    }
    lm->JtErr.data[i] = 0.0f;
  }
  if (lm->nErrors == 0) Matrix_Symmetrize(&lm->JtJ, 1);
  Matrix_Copy(&lm->JtJ, &lm->JtJN);
  for (int32_t i = 0; i < n; ++i) {
    float& d = lm->JtJN.data[static_cast<size_t>(i) * n + i];
    d = d * (lambda + 1.0f);
  }
  // Frozen parameters leave zero rows and columns, which the pseudo-inverse
  // keeps at zero.
  Matrix_PseudoInverse(&lm->JtJN);
  Matrix_Multiply(&lm->JtJN, &lm->JtErr, nullptr, &lm->param);
  for (int32_t i = 0; i < n; ++i) {
    const float prev = lm->prevParam.data[i];
    lm->param.data[i] = lm->mask[i] != 0 ? prev - lm->param.data[i] : prev;
  }
}

int32_t LevMarq_Update(LevMarq* lm, Matrix** outParam, Matrix** outJ, Matrix** outErr, float* outErrNorm) {
  SetOut(outJ, nullptr);
  SetOut(outErr, nullptr);
  switch (lm->state) {
    case kStarted:
      SetOut(outParam, &lm->param);
      Matrix_Fill(&lm->J, 0.0f);
      Matrix_Fill(&lm->err, 0.0f);
      SetOut(outJ, &lm->J);
      SetOut(outErr, &lm->err);
      lm->state = kCalcJ;
      return 1;

    case kCalcJ:
      Matrix_Transpose(&lm->J, &lm->Jt);
      Matrix_Product(&lm->Jt, &lm->J, &lm->JtJ);
      Matrix_Product(&lm->Jt, &lm->err, &lm->JtErr);
      Matrix_Copy(&lm->param, &lm->prevParam);
      LevMarq_Step(lm);
      if (lm->iterations == 0) {
        lm->prevErrNorm = Residual_RMS(&lm->err);
        if (outErrNorm != nullptr) *outErrNorm = lm->prevErrNorm;
      }
      SetOut(outParam, &lm->param);
      Matrix_Fill(&lm->err, 0.0f);
      SetOut(outErr, &lm->err);
      lm->state = kCheckErr;
      return 1;

    case kCheckErr:
      lm->errNorm = Residual_RMS(&lm->err);
      if (!Improved(lm)) {
        if (lm->lambdaLg10 > kLambdaLg10Ceiling) {
          Matrix_Copy(&lm->prevParam, &lm->param);  // discard the trial
          SetOut(outParam, &lm->param);
          lm->state = kDone;
          return 1;
        }
        lm->lambdaLg10 += 1;
        LevMarq_Step(lm);
        SetOut(outParam, &lm->param);
        Matrix_Fill(&lm->err, 0.0f);
        SetOut(outErr, &lm->err);
        return 1;
      }
      lm->lambdaLg10 = std::max(lm->lambdaLg10, kLambdaLg10Floor) - 1;
      if (outErrNorm != nullptr) *outErrNorm = lm->errNorm;
      lm->iterations += 1;
      if (lm->iterations >= lm->maxIter) {
        SetOut(outParam, &lm->param);
        lm->state = kDone;
        return 1;
      }
      lm->prevErrNorm = lm->errNorm;
      SetOut(outParam, &lm->param);
      Matrix_Fill(&lm->J, 0.0f);
      SetOut(outJ, &lm->J);
      SetOut(outErr, &lm->err);  // still holds the error at param
      lm->state = kCalcJ;
      return 1;

    default:  // Done
      SetOut(outParam, &lm->param);
      return 0;
  }
}

int32_t LevMarq_UpdateAlt(LevMarq* lm, Matrix** outParam, Matrix** outJtJ, Matrix** outJtErr,
                          float** outErrNormPtr) {
  SetOut(outJtJ, nullptr);
  SetOut(outJtErr, nullptr);
  if (outErrNormPtr != nullptr) *outErrNormPtr = nullptr;
  auto askNorm = [lm, outErrNormPtr]() {
    lm->errNorm = 0.0f;
    if (outErrNormPtr != nullptr) *outErrNormPtr = &lm->errNorm;
  };
  switch (lm->state) {
    case kStarted:
      SetOut(outParam, &lm->param);
      Matrix_Fill(&lm->JtJ, 0.0f);
      Matrix_Fill(&lm->JtErr, 0.0f);
      SetOut(outJtJ, &lm->JtJ);
      SetOut(outJtErr, &lm->JtErr);
      askNorm();
      lm->state = kCalcJ;
      return 1;

    case kCalcJ:
      Matrix_Copy(&lm->param, &lm->prevParam);
      LevMarq_Step(lm);
      lm->prevErrNorm = lm->errNorm;
      SetOut(outParam, &lm->param);
      askNorm();
      lm->state = kCheckErr;
      return 1;

    case kCheckErr:
      if (!Improved(lm)) {
        if (lm->lambdaLg10 > kLambdaLg10Ceiling) {
          Matrix_Copy(&lm->prevParam, &lm->param);
          SetOut(outParam, &lm->param);
          lm->state = kDone;
          return 1;
        }
        lm->lambdaLg10 += 1;
        LevMarq_Step(lm);
        SetOut(outParam, &lm->param);
        askNorm();
        return 1;
      }
      lm->lambdaLg10 = std::max(lm->lambdaLg10, kLambdaLg10Floor) - 1;
      lm->iterations += 1;
      if (lm->iterations >= lm->maxIter) {
        SetOut(outParam, &lm->param);
        lm->state = kDone;
        return 0;
      }
      lm->prevErrNorm = lm->errNorm;
      SetOut(outParam, &lm->param);
      Matrix_Fill(&lm->JtJ, 0.0f);
      Matrix_Fill(&lm->JtErr, 0.0f);
      SetOut(outJtJ, &lm->JtJ);
      SetOut(outJtErr, &lm->JtErr);
      lm->state = kCalcJ;
      return 1;

    default:  // Done
      SetOut(outParam, &lm->param);
      return 0;
  }
}

void LevMarq_Free(LevMarq* lm) {
  std::free(lm->mask);
  std::free(lm->prevParam.data);
  // Cleared so that a second Free does nothing.
  lm->mask = nullptr;
  lm->prevParam.data = nullptr;
}
