#include <gtest/gtest.h>

#include <opencv2/core.hpp>

#include <cmath>
#include <vector>

#include "toolkit/linear_solvers.h"
#include "toolkit/matrix.h"
#include "toolkit/matrix_inverse.h"
#include "toolkit/svd.h"
#include "toolkit/test/matrix_test_util.h"

namespace {

using matrix_test::MaxAbsDiff;
using matrix_test::Mul;
using matrix_test::OwnedMatrix;
using matrix_test::RandomMatrix;
using matrix_test::Ref;
using matrix_test::Transposed;

cv::Mat ToCv(const OwnedMatrix& m) {
  cv::Mat out(m.m.rows, m.m.cols, CV_64F);
  for (int r = 0; r < m.m.rows; ++r)
    for (int c = 0; c < m.m.cols; ++c) out.at<double>(r, c) = m.at(r, c);
  return out;
}

Ref FromCv(const cv::Mat& m) {
  Ref out(m.rows, m.cols);
  for (int r = 0; r < m.rows; ++r)
    for (int c = 0; c < m.cols; ++c) out(r, c) = m.at<double>(r, c);
  return out;
}

// A rows x cols matrix of the given rank: a product of random factors.
OwnedMatrix RankDeficient(int32_t rows, int32_t cols, int32_t rank, uint32_t seed) {
  OwnedMatrix l = RandomMatrix(rows, rank, seed);
  OwnedMatrix r = RandomMatrix(rank, cols, seed + 1);
  OwnedMatrix a(rows, cols);
  Matrix_Product(&l.m, &r.m, &a.m);
  return a;
}

// ---- inversion and determinant ------------------------------------------

TEST(MatrixInvert, KnownCases) {
  struct Case {
    std::vector<float> in, want;
  };
  const Case cases[] = {
      {{0, 2, 3, 0}, {0, 1.0f / 3, 0.5f, 0}},  // full pivoting takes 3 first
      {{4}, {0.25f}},
      {{2, 0, 0, 0, 4, 0, 0, 0, 8}, {0.5f, 0, 0, 0, 0.25f, 0, 0, 0, 0.125f}},
      {{1, 2, 3, 4}, {-2, 1, 1.5f, -0.5f}},
  };
  for (const Case& c : cases) {
    const int32_t n = static_cast<int32_t>(std::lround(std::sqrt(c.in.size())));
    OwnedMatrix m(n, n, c.in);
    ASSERT_EQ(Matrix_Invert(&m.m), 1);
    for (size_t i = 0; i < c.want.size(); ++i) EXPECT_FLOAT_EQ(m.store[i], c.want[i]) << i;
  }
}

TEST(MatrixInvert, SingularReturnsZero) {
  OwnedMatrix zeroRow(3, 3, {1, 2, 3, 0, 0, 0, 4, 5, 6});
  EXPECT_EQ(Matrix_Invert(&zeroRow.m), 0);
  OwnedMatrix dependent(2, 2, {1, 2, 2, 4});
  EXPECT_EQ(Matrix_Invert(&dependent.m), 0);
  OwnedMatrix big = RankDeficient(10, 10, 9, 3);  // heap pivot arrays
  big.at(9, 0) = big.at(9, 1) = 0;
  for (int c = 0; c < 10; ++c) big.at(9, c) = 0;
  EXPECT_EQ(Matrix_Invert(&big.m), 0);
  std::vector<float> z(25, 0.0f);
  EXPECT_EQ(Mat5_Invert(z.data()), 0);
}

TEST(MatrixInvert, RandomSizesAgreeWithDoubleReference) {
  for (int32_t n : {1, 2, 3, 5, 8, 9, 12, 19}) {
    SCOPED_TRACE(n);
    OwnedMatrix a = RandomMatrix(n, n, 100 + n);
    for (int i = 0; i < n; ++i) a.at(i, i) += static_cast<float>(n);  // well conditioned
    const Ref want = matrix_test::Inverse(Ref(a));
    ASSERT_EQ(Matrix_Invert(&a.m), 1);
    EXPECT_LT(MaxAbsDiff(a, want), 2e-6);
  }
}

TEST(MatrixInvert, FiveByFiveFormMatchesGeneralFormExactly) {
  for (uint32_t seed = 0; seed < 20; ++seed) {
    OwnedMatrix a = RandomMatrix(5, 5, seed);
    OwnedMatrix b = a;
    const int32_t ra = Matrix_Invert(&a.m);
    const int32_t rb = Mat5_Invert(b.store.data());
    ASSERT_EQ(ra, rb);
    EXPECT_EQ(a.store, b.store);
  }
}

TEST(MatrixDeterminant, KnownCases) {
  struct Case {
    std::vector<float> in;
    float want;
  };
  const Case cases[] = {
      {{0, 1, 1, 0}, -1},
      {{2, 0, 0, 3}, 6},
      {{1, 0, 2, 3, 0, 4, 5, 0, 6}, 0},  // all-zero column
      {{-7}, -7},
      {{0, 0, 1, 0, 1, 0, 1, 0, 0}, -1},
      {{2, 1, 0, 1, 3, 1, 0, 1, 4}, 18},
  };
  for (const Case& c : cases) {
    const int32_t n = static_cast<int32_t>(std::lround(std::sqrt(c.in.size())));
    OwnedMatrix m(n, n, c.in);
    EXPECT_FLOAT_EQ(Matrix_Determinant(&m.m), c.want);
    EXPECT_EQ(m.store, c.in);  // the input is left alone
  }
}

TEST(MatrixDeterminant, RandomAgreesWithDoubleReference) {
  for (int32_t n : {2, 3, 4, 6, 9}) {
    OwnedMatrix a = RandomMatrix(n, n, 7 * n);
    const double want = matrix_test::Determinant(Ref(a));
    EXPECT_NEAR(Matrix_Determinant(&a.m), want, 1e-5 * std::max(1.0, std::abs(want))) << n;
  }
}

// ---- SVD ------------------------------------------------------------------

void ExpectValidSvd(const OwnedMatrix& a0) {
  const int32_t rows = a0.m.rows, cols = a0.m.cols, k = std::min(rows, cols);
  OwnedMatrix w = a0, u(rows, rows), vt(cols, cols);
  Matrix_SVD(&w.m, &u.m, &vt.m);

  // Singular values: non-negative, non-increasing, and as the reference says.
  cv::Mat refW;
  cv::SVD::compute(ToCv(a0), refW, cv::SVD::NO_UV);
  for (int32_t i = 0; i < k; ++i) {
    EXPECT_GE(w.at(i, i), 0.0f);
    if (i > 0) {
      EXPECT_LE(w.at(i, i), w.at(i - 1, i - 1));
    }
    EXPECT_NEAR(w.at(i, i), refW.at<double>(i), 2e-5 * refW.at<double>(0) + 1e-30);
  }
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c)
      if (r != c) {
        EXPECT_EQ(w.at(r, c), 0.0f);
      }

  // U W Vt gives A back; only the first k columns of U take part.
  Ref uk(rows, k);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < k; ++c) uk(r, c) = u.at(r, c);
  Ref wk(k, cols);
  for (int32_t i = 0; i < k; ++i) wk(i, i) = w.at(i, i);
  const Ref back = Mul(Mul(uk, wk), Ref(vt));
  EXPECT_LT(MaxAbsDiff(a0, back), 2e-5 * std::max(1, k) * refW.at<double>(0) + 1e-30);

  // The singular vectors are orthonormal.
  const Ref utu = Mul(Transposed(uk), uk);
  const Ref vvt = Mul(Ref(vt), Transposed(Ref(vt)));
  for (int32_t i = 0; i < k; ++i)
    for (int32_t j = 0; j < k; ++j) EXPECT_NEAR(utu(i, j), i == j ? 1.0 : 0.0, 2e-5);
  for (int32_t i = 0; i < cols; ++i)
    for (int32_t j = 0; j < cols; ++j) EXPECT_NEAR(vvt(i, j), i == j ? 1.0 : 0.0, 2e-5);
}

struct SvdCase {
  int32_t rows, cols, rank;  // rank 0: full random
  float scale;
};

class MatrixSvdTest : public ::testing::TestWithParam<SvdCase> {};

TEST_P(MatrixSvdTest, ReproducesInputWithSortedValues) {
  const SvdCase c = GetParam();
  for (uint32_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(seed);
    OwnedMatrix a = c.rank == 0 ? RandomMatrix(c.rows, c.cols, seed * 31 + c.rows)
                                : RankDeficient(c.rows, c.cols, c.rank, seed * 17 + c.cols);
    for (float& x : a.store) x *= c.scale;
    ExpectValidSvd(a);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, MatrixSvdTest,
                         ::testing::Values(SvdCase{1, 1, 0, 1}, SvdCase{2, 2, 0, 1}, SvdCase{3, 3, 0, 1},
                                           SvdCase{8, 8, 0, 1}, SvdCase{19, 19, 0, 1}, SvdCase{6, 3, 0, 1},
                                           SvdCase{20, 9, 0, 1}, SvdCase{3, 6, 0, 1}, SvdCase{2, 9, 0, 1},
                                           SvdCase{4, 4, 2, 1}, SvdCase{8, 8, 5, 1}, SvdCase{9, 4, 2, 1},
                                           SvdCase{4, 9, 3, 1}, SvdCase{6, 6, 1, 1}, SvdCase{8, 8, 0, 1e4f},
                                           SvdCase{5, 5, 0, 1e-3f}, SvdCase{7, 4, 3, 1e3f}));

// Rotation matrices have three equal singular values; the tiny tolerance
// alone never lets their last superdiagonal count as zero.
TEST(MatrixSvd, RotationMatricesDecomposeToIdentityValues) {
  const float axes[][3] = {{1.2f, 0.4f, -2.0f}, {0.0f, 0.0f, 3.0f}, {0.1f, 0.2f, 0.3f}, {2.5f, -1.0f, 0.5f}};
  for (const auto& ax : axes) {
    SCOPED_TRACE(testing::Message() << ax[0] << " " << ax[1] << " " << ax[2]);
    // Rodrigues' formula in double: R = I + sin(t) K + (1 - cos(t)) K^2.
    const double t = std::sqrt(double(ax[0]) * ax[0] + double(ax[1]) * ax[1] + double(ax[2]) * ax[2]);
    const double k[3] = {ax[0] / t, ax[1] / t, ax[2] / t};
    const double kx[9] = {0, -k[2], k[1], k[2], 0, -k[0], -k[1], k[0], 0};
    OwnedMatrix a(3, 3);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        double k2 = 0;
        for (int m = 0; m < 3; ++m) k2 += kx[i * 3 + m] * kx[m * 3 + j];
        a.store[i * 3 + j] = static_cast<float>((i == j) + std::sin(t) * kx[i * 3 + j] + (1 - std::cos(t)) * k2);
      }
    OwnedMatrix w = a, u(3, 3), vt(3, 3);
    EXPECT_EQ(Svd_Decompose(w.store.data(), 3, 3, u.store.data(), vt.store.data(), 4, 1e-16f), 0);
    ExpectValidSvd(a);
  }
}

TEST(MatrixSvd, NonFiniteInputGivesUpAtOnce) {
  for (float bad : {std::nanf(""), INFINITY}) {
    OwnedMatrix a(3, 3, {1, 2, 3, 4, bad, 6, 7, 8, 10});
    OwnedMatrix u(3, 3), vt(3, 3);
    EXPECT_EQ(Svd_Decompose(a.store.data(), 3, 3, u.store.data(), vt.store.data(), 4, 1e-16f), -1);
  }
}

TEST(MatrixSvd, ZeroAndDiagonalInputs) {
  ExpectValidSvd(OwnedMatrix(3, 3));
  ExpectValidSvd(OwnedMatrix(3, 3, {0, 0, 0, 0, 5, 0, 0, 0, 0}));
  // Exact zeros on the diagonal of the reduced matrix (split and deflation).
  ExpectValidSvd(OwnedMatrix(3, 3, {1, 1, 0, 0, 0, 1, 0, 0, 1}));
  ExpectValidSvd(OwnedMatrix(2, 2, {0, 1, 0, 0}));
  ExpectValidSvd(OwnedMatrix(2, 2, {0, 0, 1, 0}));
  ExpectValidSvd(OwnedMatrix(4, 4, {2, 1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0, 0, 4}));
  ExpectValidSvd(OwnedMatrix(1, 4, {1, -2, 3, 0.5f}));
  ExpectValidSvd(OwnedMatrix(4, 1, {1, -2, 3, 0.5f}));

  OwnedMatrix a(2, 2, {1, 0, 0, 3}), u(2, 2), vt(2, 2);
  Matrix_SVD(&a.m, &u.m, &vt.m);
  EXPECT_FLOAT_EQ(a.at(0, 0), 3);
  EXPECT_FLOAT_EQ(a.at(1, 1), 1);
  // The first singular pair belongs to the second axis.
  EXPECT_FLOAT_EQ(std::fabs(u.at(1, 0)), 1);
  EXPECT_FLOAT_EQ(std::fabs(vt.at(0, 1)), 1);
  EXPECT_FLOAT_EQ(u.at(1, 0) * vt.at(0, 1), 1);

  OwnedMatrix b(2, 2, {-2, 0, 0, 1});
  Matrix_SVD(&b.m, &u.m, &vt.m);
  EXPECT_FLOAT_EQ(b.at(0, 0), 2);
  EXPECT_FLOAT_EQ(b.at(1, 1), 1);
  // -2 = u * 2 * v: one of the two vectors carries the sign.
  EXPECT_FLOAT_EQ(u.at(0, 0) * vt.at(0, 0), -1);
  EXPECT_FLOAT_EQ(u.at(1, 1) * vt.at(1, 1), 1);
}

TEST(MatrixSvd, GivensRotation) {
  struct Case {
    float a, b;
    float c, s, r, z;
  };
  const Case cases[] = {
      {3, 4, 0.6f, 0.8f, 5, 1.0f / 0.6f},   // |b| dominates: z = 1/c
      {4, 3, 0.8f, 0.6f, 5, 0.6f},          // |a| dominates: z = s
      {-4, 3, 0.8f, -0.6f, -5, -0.6f},      // r takes the sign of a
      {3, -4, -0.6f, 0.8f, -5, -1 / 0.6f},  // r takes the sign of b
      {0, 2, 0, 1, 2, 1},                   // c = 0: z = 1
      {1e-8f, 1e-8f, 1, 0, 0, 0},           // below FLT_EPSILON: identity
  };
  for (const Case& c : cases) {
    float ab[2] = {c.a, c.b}, cs[2];
    Svd_Givens(ab, cs);
    EXPECT_FLOAT_EQ(cs[0], c.c);
    EXPECT_FLOAT_EQ(cs[1], c.s);
    EXPECT_FLOAT_EQ(ab[0], c.r);
    EXPECT_FLOAT_EQ(ab[1], c.z);
  }
}

TEST(MatrixSvd, PackResultPlacesDiagonalsAndTransposesV) {
  const float s[] = {5, 4, 3}, e[] = {0.5f, 0.25f, 0.125f};
  std::vector<float> a(2 * 3, 9), v{1, 2, 3, 4, 5, 6, 7, 8, 9};
  Svd_PackResult(a.data(), e, s, v.data(), 2, 3);  // wide: e also at (1, 2)
  EXPECT_EQ(a, (std::vector<float>{5, 0.5f, 0, 0, 4, 0.25f}));
  EXPECT_EQ(v, (std::vector<float>{1, 4, 7, 2, 5, 8, 3, 6, 9}));
  std::vector<float> tall(3 * 2, 9), v2{1, 2, 3, 4};
  Svd_PackResult(tall.data(), e, s, v2.data(), 3, 2);
  EXPECT_EQ(tall, (std::vector<float>{5, 0.5f, 0, 4, 0, 0}));
}

// ---- pseudo-inverse ---------------------------------------------------------

TEST(MatrixPseudoInverse, KnownCase) {
  OwnedMatrix m(2, 2, {2, 0, 0, 0});
  Matrix_PseudoInverse(&m.m);
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(m.store[i], (std::vector<float>{0.5f, 0, 0, 0})[i], 1e-7);
}

TEST(MatrixPseudoInverse, NonSquareInputIsLeftAlone) {
  OwnedMatrix m(2, 3, {1, 2, 3, 4, 5, 6});
  Matrix_PseudoInverse(&m.m);
  EXPECT_EQ(m.store, (std::vector<float>{1, 2, 3, 4, 5, 6}));
  OwnedMatrix empty(0, 0);
  Matrix_PseudoInverse(&empty.m);
  Matrix_SVD(&empty.m, &empty.m, &empty.m);
}

TEST(MatrixPseudoInverse, InvertibleInputGivesTheInverse) {
  for (int32_t n : {1, 3, 6, 8, 19}) {
    SCOPED_TRACE(n);
    OwnedMatrix a = RandomMatrix(n, n, 40 + n);
    for (int i = 0; i < n; ++i) a.at(i, i) += static_cast<float>(n);
    const Ref want = matrix_test::Inverse(Ref(a));
    Matrix_PseudoInverse(&a.m);
    EXPECT_LT(MaxAbsDiff(a, want), 1e-5);
  }
}

TEST(MatrixPseudoInverse, ExactlyZeroSingularValuesStayZero) {
  // A random 3 x 3 block inside zero rows and columns, scattered by a
  // permutation: rank 3 of 5, with exactly zero singular values.
  OwnedMatrix blockm = RandomMatrix(3, 3, 77);
  for (int i = 0; i < 3; ++i) blockm.at(i, i) += 3.0f;
  const int rowAt[3] = {4, 0, 2}, colAt[3] = {1, 3, 0};
  OwnedMatrix a(5, 5);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a.at(rowAt[r], colAt[c]) = blockm.at(r, c);
  cv::Mat ref;
  cv::invert(ToCv(a), ref, cv::DECOMP_SVD);
  OwnedMatrix p = a;
  Matrix_PseudoInverse(&p.m);
  EXPECT_LT(MaxAbsDiff(p, FromCv(ref)), 1e-5);
  // Moore-Penrose: A A+ A = A.
  EXPECT_LT(MaxAbsDiff(a, Mul(Mul(Ref(a), Ref(p)), Ref(a))), 1e-5);
}

// ---- linear solve and least squares ---------------------------------------

TEST(MatrixSolveLinear, KnownCases) {
  struct Case {
    std::vector<float> a, b;
    int32_t ok;
    std::vector<float> x;
  };
  const Case cases[] = {
      {{0, 1, 1, 1}, {1, 2}, 1, {1, 1}},  // row swap on the first column
      {{2, 0, 0, 4}, {2, 2}, 1, {1, 0.5f}},
      {{5}, {10}, 1, {2}},
      {{0}, {1}, 0, {-7}},                               // 1 x 1: the final test only
      {{1, 2, 2, 4}, {1, 2}, 0, {-7, -7}},               // singular: x untouched
      {{1e-17f, 0, 0, 1e-17f}, {1, 1}, 0, {-7, -7}},     // pivot below the threshold
      {{2, 1, 1, 1, 3, 2, 1, 0, 0}, {4, 5, 6}, 1, {6, 15, -23}},
  };
  for (const Case& c : cases) {
    const int32_t n = static_cast<int32_t>(c.b.size());
    OwnedMatrix a(n, n, c.a), b(n, 1, c.b), x(n, 1, std::vector<float>(n, -7));
    EXPECT_EQ(Matrix_SolveLinear(&a.m, &b.m, &x.m), c.ok);
    for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(x.store[i], c.x[i], 1e-5) << i;
  }
}

TEST(MatrixSolveLinear, RandomAgreesWithDoubleReferenceAndHonoursStrides) {
  for (int32_t n : {2, 4, 7, 12}) {
    OwnedMatrix a = RandomMatrix(n, n, 60 + n);
    for (int i = 0; i < n; ++i) a.at(i, i) += 2.0f;
    // b and x are the second column of wider blocks: stride = own cols.
    OwnedMatrix b = RandomMatrix(n, 3, 70 + n), x(n, 2);
    Ref bref(n, 1);
    for (int i = 0; i < n; ++i) bref(i, 0) = b.at(i, 0);
    const Ref want = Mul(matrix_test::Inverse(Ref(a)), bref);
    ASSERT_EQ(Matrix_SolveLinear(&a.m, &b.m, &x.m), 1);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(x.at(i, 0), want(i, 0), 1e-5);
      EXPECT_EQ(x.at(i, 1), 0.0f);
    }
  }
}

TEST(MatrixLeastSquares, ExactLineFit) {
  // y = 2.5 x - 1 through five exact points.
  OwnedMatrix a(5, 2), b(5, 1), x(2, 1);
  for (int i = 0; i < 5; ++i) {
    a.at(i, 0) = static_cast<float>(i);
    a.at(i, 1) = 1;
    b.at(i, 0) = 2.5f * i - 1;
  }
  EXPECT_EQ(Matrix_LeastSquares(&a.m, &b.m, nullptr, &x.m), 1);
  EXPECT_NEAR(x.store[0], 2.5f, 1e-5);
  EXPECT_NEAR(x.store[1], -1.0f, 1e-5);
}

// Weighted normal equations in double precision: (At W A) x = At W b.
Ref WeightedReference(const OwnedMatrix& a, const OwnedMatrix& b, const OwnedMatrix& w) {
  const Ref at = Transposed(Ref(a));
  const Ref atw = Mul(at, Ref(w));
  return Mul(matrix_test::Inverse(Mul(atw, Ref(a))), Mul(atw, Ref(b)));
}

TEST(MatrixLeastSquares, WeightsEnterBothSidesOfTheNormalEquations) {
  // Inconsistent data (a line plus an outlier): weights change the answer.
  const int m = 6;
  OwnedMatrix a(m, 2), b(m, 1), w(m, m), x(2, 1), xu(2, 1);
  const float ys[m] = {1, 3, 5, 7, 9, 30};
  const float ws[m] = {1, 2, 1, 3, 1, 0.05f};
  for (int i = 0; i < m; ++i) {
    a.at(i, 0) = static_cast<float>(i);
    a.at(i, 1) = 1;
    b.at(i, 0) = ys[i];
    w.at(i, i) = ws[i];
  }
  ASSERT_EQ(Matrix_LeastSquares(&a.m, &b.m, &w.m, &x.m), 1);
  const Ref want = WeightedReference(a, b, w);
  EXPECT_NEAR(x.store[0], want(0, 0), 1e-4);
  EXPECT_NEAR(x.store[1], want(1, 0), 1e-4);

  // The right-hand side without weights would give a visibly different line.
  ASSERT_EQ(Matrix_LeastSquares(&a.m, &b.m, nullptr, &xu.m), 1);
  EXPECT_GT(std::fabs(xu.store[0] - x.store[0]), 0.5f);

  // Equal weights give the unweighted result.
  OwnedMatrix w2(m, m), x2(2, 1);
  Matrix_SetDiagonal(&w2.m, 3.0f);
  ASSERT_EQ(Matrix_LeastSquares(&a.m, &b.m, &w2.m, &x2.m), 1);
  EXPECT_NEAR(x2.store[0], xu.store[0], 1e-4);
  EXPECT_NEAR(x2.store[1], xu.store[1], 1e-4);
}

TEST(MatrixLeastSquares, RandomOverdeterminedAgreesWithDoubleReference) {
  for (int32_t n : {1, 3, 5}) {
    const int32_t m = 4 * n + 3;
    OwnedMatrix a = RandomMatrix(m, n, 80 + n), b = RandomMatrix(m, 1, 90 + n), x(n, 1);
    OwnedMatrix w(m, m);
    for (int i = 0; i < m; ++i) w.at(i, i) = 0.5f + static_cast<float>(i % 4);
    ASSERT_EQ(Matrix_LeastSquares(&a.m, &b.m, &w.m, &x.m), 1);
    const Ref want = WeightedReference(a, b, w);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(x.store[i], want(i, 0), 2e-4) << n;
  }
}

}  // namespace
