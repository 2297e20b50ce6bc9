#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <vector>

#include "toolkit/levenberg_marquardt.h"

namespace {

// ---- state machine ----------------------------------------------------------

TEST(LevMarqCreate, ClampsLimitsAndStartsClean) {
  struct Case {
    int32_t maxIter;
    float epsilon;
    int32_t wantMaxIter;
    float wantEpsilon;
  };
  const Case cases[] = {{0, 1e-3f, 1, 1e-3f},  {-7, 0, 1, 0},      {5000, -1, 1000, 0},
                        {1000, 2, 1000, 2},    {1, 0, 1, 0},       {100, 1.1920929e-7f, 100, 1.1920929e-7f}};
  for (const Case& c : cases) {
    LevMarq lm;
    LevMarq_Create(&lm, 3, 4, c.maxIter, -6, c.epsilon);
    EXPECT_EQ(lm.maxIter, c.wantMaxIter);
    EXPECT_EQ(lm.epsilon, c.wantEpsilon);
    EXPECT_EQ(lm.state, static_cast<int32_t>(LevMarqState::Started));
    EXPECT_EQ(lm.iterations, 0);
    EXPECT_EQ(lm.lambdaLg10, -6);
    EXPECT_EQ(lm.prevErrNorm, FLT_MAX);
    EXPECT_EQ(lm.nErrors, 4);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lm.mask[i], 1u);
    EXPECT_EQ(lm.param.rows, 3);
    EXPECT_EQ(lm.J.rows, 4);
    EXPECT_EQ(lm.J.cols, 3);
    EXPECT_EQ(lm.Jt.rows, 3);
    EXPECT_EQ(lm.Jt.cols, 4);
    LevMarq_Free(&lm);
    LevMarq_Free(&lm);  // harmless
  }
}

// A one-parameter problem driven by hand: err = (p - 2, 0), J = (1, 0).
// Each step is p' = p - (p - 2) / (1 + lambda).
struct HandDriven {
  LevMarq lm{};
  Matrix* param = nullptr;
  Matrix* J = nullptr;
  Matrix* err = nullptr;
  float norm = -1;

  HandDriven(int32_t maxIter, int32_t lambdaLg10, float epsilon, float start) {
    LevMarq_Create(&lm, 1, 2, maxIter, lambdaLg10, epsilon);
    lm.param.data[0] = start;
  }
  ~HandDriven() { LevMarq_Free(&lm); }
  int32_t Update() { return LevMarq_Update(&lm, &param, &J, &err, &norm); }
  // Fills what the solver asked for with the true model.
  void FillTrue() {
    if (J != nullptr) {
      J->data[0] = 1;
      J->data[1] = 0;
    }
    if (err != nullptr) {
      err->data[0] = param->data[0] - 2;
      err->data[1] = 0;
    }
  }
  // Reports an arbitrary error norm for the trial (as the pair (e, 0)).
  void FillErr(float e) {
    ASSERT_NE(err, nullptr);
    err->data[0] = e;
    err->data[1] = 0;
  }
};

TEST(LevMarqUpdate, HandsOutTheRightMatricesInEachState) {
  HandDriven h(10, -2, 0, 5);
  // Started: J and err wanted.
  EXPECT_EQ(h.Update(), 1);
  EXPECT_EQ(h.param, &h.lm.param);
  EXPECT_EQ(h.J, &h.lm.J);
  EXPECT_EQ(h.err, &h.lm.err);
  h.FillTrue();
  // CalcJ: a trial step; only err wanted; the starting norm is reported.
  EXPECT_EQ(h.Update(), 1);
  EXPECT_EQ(h.J, nullptr);
  EXPECT_EQ(h.err, &h.lm.err);
  EXPECT_FLOAT_EQ(h.norm, std::sqrt(9.0f));  // one pair (3, 0)
  EXPECT_FLOAT_EQ(h.lm.prevParam.data[0], 5);
  EXPECT_FLOAT_EQ(h.param->data[0], 5 - 3 / (1 + 0.01f));
  EXPECT_EQ(h.lm.state, static_cast<int32_t>(LevMarqState::CheckErr));
  h.FillTrue();
  // CheckErr, improved: accepted, J wanted again, lambda down by one.
  EXPECT_EQ(h.Update(), 1);
  EXPECT_NE(h.J, nullptr);
  EXPECT_NE(h.err, nullptr);
  EXPECT_EQ(h.lm.iterations, 1);
  EXPECT_EQ(h.lm.lambdaLg10, -3);
  EXPECT_NEAR(h.norm, 3 - 3 / 1.01f, 1e-6);
}

TEST(LevMarqUpdate, FailedTrialRaisesLambdaAndRetriesFromPrevParam) {
  HandDriven h(10, 0, 0, 5);
  h.Update();
  h.FillTrue();
  h.Update();
  EXPECT_FLOAT_EQ(h.param->data[0], 5 - 3 / 2.0f);  // lambda 1
  h.FillErr(100);                                  // worse
  EXPECT_EQ(h.Update(), 1);
  EXPECT_EQ(h.lm.lambdaLg10, 1);
  EXPECT_EQ(h.J, nullptr);
  EXPECT_NE(h.err, nullptr);
  EXPECT_FLOAT_EQ(h.param->data[0], 5 - 3 / 11.0f);  // again from 5, lambda 10
  EXPECT_EQ(h.lm.iterations, 0);
}

TEST(LevMarqUpdate, FailedTrialAtTheCeilingEndsWithPrevParam) {
  HandDriven h(10, 3, 0, 5);
  h.Update();
  h.FillTrue();
  h.Update();
  EXPECT_NE(h.param->data[0], 5.0f);
  h.FillErr(3.5f);  // the norm rose: a failure
  EXPECT_EQ(h.Update(), 1);
  EXPECT_EQ(h.lm.state, static_cast<int32_t>(LevMarqState::Done));
  EXPECT_EQ(h.param->data[0], 5.0f);  // trial discarded
  EXPECT_EQ(h.Update(), 0);
  EXPECT_EQ(h.param, &h.lm.param);
  EXPECT_EQ(h.Update(), 0);  // stays done
}

TEST(LevMarqUpdate, LambdaFloorOnAcceptedSteps) {
  struct Case {
    int32_t start, want;
  };
  for (const Case c : {Case{-12, -12}, Case{-13, -12}, Case{-20, -12}, Case{-11, -12}, Case{-5, -6}}) {
    HandDriven h(10, c.start, 0, 5);
    h.Update();
    h.FillTrue();
    h.Update();
    h.FillTrue();
    h.Update();
    EXPECT_EQ(h.lm.iterations, 1);
    EXPECT_EQ(h.lm.lambdaLg10, c.want) << c.start;
  }
}

TEST(LevMarqUpdate, ImprovementOfExactlyEpsilonIsAccepted) {
  struct Case {
    float epsilon;
    bool accepted;
  };
  for (const Case c : {Case{0.5f, true}, Case{0.50001f, false}, Case{0.0f, true}}) {
    HandDriven h(10, 0, c.epsilon, 5);
    h.Update();
    h.FillTrue();  // starting norm 3
    h.Update();
    h.FillErr(2.5f);  // decrease 0.5 exactly
    h.Update();
    EXPECT_EQ(h.lm.iterations, c.accepted ? 1 : 0) << c.epsilon;
    EXPECT_EQ(h.lm.lambdaLg10, c.accepted ? -1 : 1) << c.epsilon;
  }
}

TEST(LevMarqUpdate, NotANumberNormIsAFailedTrial) {
  HandDriven h(10, 0, 0, 5);
  h.Update();
  h.FillTrue();
  h.Update();
  h.FillErr(std::nanf(""));
  h.Update();
  EXPECT_EQ(h.lm.iterations, 0);
  EXPECT_EQ(h.lm.lambdaLg10, 1);
}

TEST(LevMarqUpdate, ReturnsOneOnTheCallThatReachesMaxIterThenZero) {
  HandDriven h(2, -6, 0, 5);
  std::vector<int32_t> results;
  for (int call = 0; call < 8; ++call) {
    const int32_t r = h.Update();
    results.push_back(r);
    if (r == 0) break;
    h.FillTrue();
  }
  // Start, trial, accept (1), trial, accept (2 = maxIter, still 1), then 0.
  EXPECT_EQ(results, (std::vector<int32_t>{1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(h.lm.iterations, 2);
  EXPECT_NEAR(h.lm.param.data[0], 2.0f, 1e-5);
}

TEST(LevMarqUpdate, FrozenParameterKeepsItsValueExactly) {
  // err_i = (a + b t_i) - y_i with b frozen at a wrong value: a still fits.
  LevMarq lm;
  LevMarq_Create(&lm, 2, 6, 50, -3, 0);
  lm.param.data[0] = 0.1f;
  lm.param.data[1] = 0.3f;
  lm.mask[1] = 0;
  Matrix *param, *J, *err;
  float norm;
  const float ts[6] = {0, 1, 2, 3, 4, 5};
  while (LevMarq_Update(&lm, &param, &J, &err, &norm)) {
    EXPECT_EQ(param->data[1], 0.3f);
    if (J == nullptr && err == nullptr) continue;
    for (int i = 0; i < 6; ++i) {
      if (J != nullptr) {
        J->data[2 * i] = 1;
        J->data[2 * i + 1] = ts[i];
      }
      err->data[i] = param->data[0] + param->data[1] * ts[i] - (1 + 2 * ts[i]);
    }
  }
  EXPECT_EQ(lm.param.data[1], 0.3f);
  // Best a with b = 0.3: mean of y - 0.3 t = 1 + 1.7 * 2.5.
  EXPECT_NEAR(lm.param.data[0], 1 + 1.7f * 2.5f, 1e-4);
  LevMarq_Free(&lm);
}

TEST(LevMarqUpdateAlt, ReturnsZeroOnTheCallThatReachesMaxIter) {
  // The same one-parameter problem in normal-equation form.
  LevMarq lm;
  LevMarq_Create(&lm, 1, 0, 2, -6, 0);
  lm.param.data[0] = 5;
  Matrix *param, *jtj, *jterr;
  float* normPtr;
  std::vector<int32_t> results;
  std::vector<int> asked;  // 2: normal equations (+ norm), 1: norm only
  for (int call = 0; call < 10; ++call) {
    const int32_t r = LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr);
    results.push_back(r);
    if (r == 0) break;
    const float p = param->data[0];
    if (jtj != nullptr) {
      asked.push_back(2);
      jtj->data[0] += 1;
      jterr->data[0] += p - 2;
    } else if (normPtr != nullptr) {
      asked.push_back(1);
    }
    if (normPtr != nullptr) *normPtr = std::fabs(p - 2);
  }
  // Start, step, accept (1), step, accept (2 = maxIter): 0 at once.
  EXPECT_EQ(results, (std::vector<int32_t>{1, 1, 1, 1, 0}));
  EXPECT_EQ(asked, (std::vector<int>{2, 1, 2, 1}));
  EXPECT_EQ(lm.iterations, 2);
  EXPECT_EQ(LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr), 0);
  EXPECT_EQ(jtj, nullptr);
  EXPECT_EQ(normPtr, nullptr);
  EXPECT_NEAR(lm.param.data[0], 2.0f, 1e-5);
  LevMarq_Free(&lm);
}

TEST(LevMarqUpdateAlt, FailedTrialAtTheCeilingEndsWithPrevParam) {
  LevMarq lm;
  LevMarq_Create(&lm, 1, 0, 10, 3, 0);
  lm.param.data[0] = 5;
  Matrix *param, *jtj, *jterr;
  float* normPtr;
  ASSERT_EQ(LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr), 1);
  jtj->data[0] = 1;
  jterr->data[0] = 3;
  *normPtr = 3;
  ASSERT_EQ(LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr), 1);
  EXPECT_EQ(jtj, nullptr);
  ASSERT_NE(normPtr, nullptr);
  *normPtr = 4;  // worse
  EXPECT_EQ(LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr), 1);
  EXPECT_EQ(lm.state, static_cast<int32_t>(LevMarqState::Done));
  EXPECT_EQ(lm.param.data[0], 5.0f);
  EXPECT_EQ(LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr), 0);
  LevMarq_Free(&lm);
}

// ---- fits of exact synthetic data --------------------------------------------

// A model with n parameters and m residuals: residual(p, out) and
// jacobian(p, out m x n row-major). The residual is model - target.
struct Problem {
  const char* name;
  int32_t n, m;
  std::vector<float> truth, start;
  std::function<void(const float*, float*)> residual;
  std::function<void(const float*, float*)> jacobian;
};

// y = a exp(b t) + c sampled at 20 points.
Problem ExponentialCurve() {
  static const std::vector<float> truth{2.0f, -0.7f, 0.5f};
  Problem p{"exp", 3, 20, truth, {1.0f, -0.2f, 0.0f}, nullptr, nullptr};
  p.residual = [](const float* q, float* out) {
    for (int i = 0; i < 20; ++i) {
      const float t = 0.25f * i;
      out[i] = q[0] * std::exp(q[1] * t) + q[2] - (truth[0] * std::exp(truth[1] * t) + truth[2]);
    }
  };
  p.jacobian = [](const float* q, float* out) {
    for (int i = 0; i < 20; ++i) {
      const float t = 0.25f * i;
      const float e = std::exp(q[1] * t);
      out[3 * i] = e;
      out[3 * i + 1] = q[0] * t * e;
      out[3 * i + 2] = 1;
    }
  };
  return p;
}

// 2-D similarity: scale s, angle th, shift (tx, ty) mapping 12 points on a
// ring; residuals are (x, y) pairs as the pose fits produce them.
Problem RingSimilarity() {
  static const std::vector<float> truth{1.7f, 0.9f, 30.0f, -12.0f};
  Problem p{"ring", 4, 24, truth, {1.0f, 0.0f, 0.0f, 0.0f}, nullptr, nullptr};
  auto pt = [](int i, float& x, float& y) {
    const float a = 0.5235988f * i;
    x = 10 * std::cos(a) + (i % 3);
    y = 6 * std::sin(a) - (i % 2);
  };
  auto map = [pt](const float* q, int i, float& u, float& v) {
    float x, y;
    pt(i, x, y);
    const float c = std::cos(q[1]), s = std::sin(q[1]);
    u = q[0] * (c * x - s * y) + q[2];
    v = q[0] * (s * x + c * y) + q[3];
  };
  p.residual = [map](const float* q, float* out) {
    for (int i = 0; i < 12; ++i) {
      float u, v, tu, tv;
      map(q, i, u, v);
      map(truth.data(), i, tu, tv);
      out[2 * i] = u - tu;
      out[2 * i + 1] = v - tv;
    }
  };
  p.jacobian = [pt](const float* q, float* out) {
    for (int i = 0; i < 12; ++i) {
      float x, y;
      pt(i, x, y);
      const float c = std::cos(q[1]), s = std::sin(q[1]);
      float* ru = out + 8 * i;
      float* rv = ru + 4;
      ru[0] = c * x - s * y;
      ru[1] = q[0] * (-s * x - c * y);
      ru[2] = 1;
      ru[3] = 0;
      rv[0] = s * x + c * y;
      rv[1] = q[0] * (c * x - s * y);
      rv[2] = 0;
      rv[3] = 1;
    }
  };
  return p;
}

class LevMarqFitTest : public ::testing::TestWithParam<Problem (*)()> {};

TEST_P(LevMarqFitTest, JacobianFormConvergesToTheTruth) {
  const Problem p = GetParam()();
  LevMarq lm;
  LevMarq_Create(&lm, p.n, p.m, 100, -6, 1.1920929e-7f);
  for (int i = 0; i < p.n; ++i) lm.param.data[i] = p.start[i];
  Matrix *param, *J, *err;
  float norm = -1, first = -1;
  while (LevMarq_Update(&lm, &param, &J, &err, &norm)) {
    if (first < 0 && norm >= 0) first = norm;
    if (J != nullptr) p.jacobian(param->data, J->data);
    if (J != nullptr || err != nullptr) p.residual(param->data, err->data);
  }
  SCOPED_TRACE(p.name);
  EXPECT_GT(first, 0.1f);
  EXPECT_LT(norm, 1e-4f);
  for (int i = 0; i < p.n; ++i) EXPECT_NEAR(lm.param.data[i], p.truth[i], 1e-4 * (1 + std::fabs(p.truth[i]))) << i;
  LevMarq_Free(&lm);
}

TEST_P(LevMarqFitTest, NormalEquationFormConvergesToTheTruth) {
  const Problem p = GetParam()();
  LevMarq lm;
  LevMarq_Create(&lm, p.n, 0, 100, -6, 1.1920929e-7f);
  for (int i = 0; i < p.n; ++i) lm.param.data[i] = p.start[i];
  Matrix *param, *jtj, *jterr;
  float* normPtr;
  std::vector<float> r(p.m), J(static_cast<size_t>(p.m) * p.n);
  auto rms = [&]() {
    float s = 0;
    for (float x : r) s += x * x;
    return std::sqrt(s / (p.m / 2));
  };
  while (LevMarq_UpdateAlt(&lm, &param, &jtj, &jterr, &normPtr)) {
    p.residual(param->data, r.data());
    if (jtj != nullptr) {
      p.jacobian(param->data, J.data());
      for (int k = 0; k < p.m; ++k)
        for (int i = 0; i < p.n; ++i) {
          jterr->data[i] += J[k * p.n + i] * r[k];
          for (int j = i; j < p.n; ++j) jtj->data[i * p.n + j] += J[k * p.n + i] * J[k * p.n + j];  // upper only
        }
    }
    if (normPtr != nullptr) *normPtr = rms();
  }
  SCOPED_TRACE(p.name);
  for (int i = 0; i < p.n; ++i) EXPECT_NEAR(lm.param.data[i], p.truth[i], 1e-4 * (1 + std::fabs(p.truth[i]))) << i;
  LevMarq_Free(&lm);
}

INSTANTIATE_TEST_SUITE_P(Problems, LevMarqFitTest, ::testing::Values(&ExponentialCurve, &RingSimilarity));

}  // namespace
