#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "toolkit/matrix.h"
#include "toolkit/test/matrix_test_util.h"

namespace {

using matrix_test::MaxAbsDiff;
using matrix_test::Mul;
using matrix_test::OwnedMatrix;
using matrix_test::RandomMatrix;
using matrix_test::Ref;
using matrix_test::Transposed;

struct ProductCase {
  int32_t n, k, m;  // (n x k) * (k x m)
};

class MatrixProductTest : public ::testing::TestWithParam<ProductCase> {};

TEST_P(MatrixProductTest, AgreesWithDoubleReference) {
  const ProductCase pc = GetParam();
  OwnedMatrix a = RandomMatrix(pc.n, pc.k, 11 + pc.n);
  OwnedMatrix b = RandomMatrix(pc.k, pc.m, 23 + pc.m);
  OwnedMatrix d(pc.n, pc.m, std::vector<float>(static_cast<size_t>(pc.n) * pc.m, 99.0f));
  Matrix_Product(&a.m, &b.m, &d.m);
  const Ref want = Mul(Ref(a), Ref(b));
  EXPECT_LT(MaxAbsDiff(d, want), 1e-5 * pc.k);

  // The same with an addend that is neither null nor the destination.
  OwnedMatrix c = RandomMatrix(pc.n, pc.m, 5);
  Matrix_Multiply(&a.m, &b.m, &c.m, &d.m);
  Ref wantc = want;
  for (size_t i = 0; i < wantc.v.size(); ++i) wantc.v[i] += c.store[i];
  EXPECT_LT(MaxAbsDiff(d, wantc), 1e-5 * (pc.k + 1));
}

INSTANTIATE_TEST_SUITE_P(Shapes, MatrixProductTest,
                         ::testing::Values(ProductCase{1, 1, 1}, ProductCase{3, 3, 3}, ProductCase{2, 5, 3},
                                           ProductCase{7, 4, 1}, ProductCase{1, 9, 6}, ProductCase{16, 16, 16},
                                           ProductCase{19, 8, 19}));

TEST(MatrixProduct, EachTermIsOneFusedMultiplyAddInIndexOrder) {
  // (1 + e)(1 - e) - 1 = -e^2 only when the second term is fused onto the
  // first; a separate product rounds to 1, and the other order rounds to 0.
  const float e = std::ldexp(1.0f, -13);
  OwnedMatrix a(1, 2, {-1.0f, 1.0f + e});
  OwnedMatrix b(2, 1, {1.0f, 1.0f - e});
  OwnedMatrix d(1, 1);
  Matrix_Product(&a.m, &b.m, &d.m);
  EXPECT_EQ(d.store[0], -e * e);
}

TEST(MatrixMultiply, NullAddendEqualsProductAndSelfAddendAccumulates) {
  OwnedMatrix a = RandomMatrix(3, 4, 1);
  OwnedMatrix b = RandomMatrix(4, 2, 2);
  OwnedMatrix p(3, 2), d(3, 2, std::vector<float>(6, 7.0f));
  Matrix_Product(&a.m, &b.m, &p.m);
  Matrix_Multiply(&a.m, &b.m, nullptr, &d.m);
  EXPECT_EQ(p.store, d.store);
  Matrix_Multiply(&a.m, &b.m, &d.m, &d.m);
  const Ref want = Mul(Ref(a), Ref(b));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_NEAR(d.at(i, j), 2 * want(i, j), 1e-5);
}

TEST(MatrixProduct, DestinationZeroedOverItsOwnShape) {
  // d is larger than the product: the tail beyond the product is zeroed too.
  OwnedMatrix a(1, 1, {2.0f}), b(1, 1, {3.0f});
  OwnedMatrix d(2, 2, {5, 5, 5, 5});
  Matrix_Product(&a.m, &b.m, &d.m);
  EXPECT_EQ(d.store, (std::vector<float>{6, 0, 0, 0}));
}

TEST(MatrixTranspose, PlainAndSquareInPlaceAndMulTransposed) {
  OwnedMatrix a = RandomMatrix(3, 5, 3);
  OwnedMatrix t(5, 3);
  Matrix_Transpose(&a.m, &t.m);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 5; ++c) EXPECT_EQ(t.at(c, r), a.at(r, c));

  OwnedMatrix s = RandomMatrix(4, 4, 4);
  OwnedMatrix s0 = s;
  Matrix_TransposeSquareInPlace(&s.m);
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(s.at(c, r), s0.at(r, c));

  OwnedMatrix ata(5, 5), aat(3, 3);
  Matrix_MulTransposed(&a.m, &ata.m, 1);
  Matrix_MulTransposed(&a.m, &aat.m, 0);
  EXPECT_LT(MaxAbsDiff(ata, Mul(Transposed(Ref(a)), Ref(a))), 1e-5);
  EXPECT_LT(MaxAbsDiff(aat, Mul(Ref(a), Transposed(Ref(a)))), 1e-5);
}

TEST(MatrixTranspose, SquareInPlaceUsesColsAsStride) {
  // A 2 x 2 block inside rows of 3: the third column is left alone.
  OwnedMatrix m(2, 3, {1, 2, 9, 3, 4, 9});
  Matrix_TransposeSquareInPlace(&m.m);
  EXPECT_EQ(m.store, (std::vector<float>{1, 3, 9, 2, 4, 9}));
}

TEST(MatrixSymmetrize, CopiesTheChosenTriangle) {
  OwnedMatrix up(3, 3, {1, 2, 3, 0, 4, 5, 0, 0, 6});
  Matrix_Symmetrize(&up.m, 1);
  EXPECT_EQ(up.store, (std::vector<float>{1, 2, 3, 2, 4, 5, 3, 5, 6}));
  OwnedMatrix lo(3, 3, {1, 0, 0, 2, 4, 0, 3, 5, 6});
  Matrix_Symmetrize(&lo.m, 0);
  EXPECT_EQ(lo.store, (std::vector<float>{1, 2, 3, 2, 4, 5, 3, 5, 6}));
}

TEST(MatrixElementwise, SecondOperandIsTheDestination) {
  struct Case {
    const char* name;
    void (*op)(const Matrix*, Matrix*);
    std::vector<float> want;
  };
  const std::vector<float> av{1, 2, 4, -8}, bv{3, 6, 8, 2};
  const Case cases[] = {
      {"add", Matrix_Add, {4, 8, 12, -6}},
      {"sub", Matrix_Sub, {2, 4, 4, 10}},  // b - a, not a - b
      {"mul", Matrix_MulElem, {3, 12, 32, -16}},
      {"div", Matrix_DivElem, {3, 3, 2, -0.25f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedMatrix a(2, 2, av), b(2, 2, bv);
    c.op(&a.m, &b.m);
    EXPECT_EQ(a.store, av);
    EXPECT_EQ(b.store, c.want);
  }
}

TEST(MatrixElementwise, ScalarForms) {
  OwnedMatrix m(1, 3, {1, -2, 4});
  Matrix_Scale(&m.m, 0.5f);
  EXPECT_EQ(m.store, (std::vector<float>{0.5f, -1, 2}));
  Matrix_AddScalar(&m.m, 1);
  EXPECT_EQ(m.store, (std::vector<float>{1.5f, 0, 3}));
  Matrix_SubFromScalar(&m.m, 3);
  EXPECT_EQ(m.store, (std::vector<float>{1.5f, 3, 0}));
}

TEST(MatrixElementwise, EmptyShapeLeavesDestinationUntouched) {
  OwnedMatrix a(1, 2, {1, 1});
  OwnedMatrix b(1, 2, {5, 6});
  Matrix empty;
  Matrix_Init(&empty, 0, 1, b.store.data());
  Matrix_Add(&a.m, &empty);
  Matrix_Fill(&empty, 3);
  Matrix_SetDiagonal(&empty, 3);
  Matrix_Scale(&empty, 3);
  Matrix_NormalizeMinMax(&empty);
  Matrix_Init(&empty, 2, 0, b.store.data());
  Matrix_Copy(&empty, &a.m);
  Matrix_CopyBlock(&b.m, &a.m, 0, 1, 0, 0, 0, 0);
  Matrix_CopyBlockElems(&b.m, &a.m, 2, 0, 0, 0, 0, 0);
  EXPECT_EQ(b.store, (std::vector<float>{5, 6}));
  EXPECT_EQ(a.store, (std::vector<float>{1, 1}));
}

TEST(MatrixFill, FillDiagonalAndCopies) {
  OwnedMatrix m(3, 4);
  Matrix_Fill(&m.m, 2.5f);
  for (float x : m.store) EXPECT_EQ(x, 2.5f);
  OwnedMatrix d(2, 3, std::vector<float>(6, 9));
  Matrix_SetDiagonal(&d.m, 1);
  EXPECT_EQ(d.store, (std::vector<float>{1, 0, 0, 0, 1, 0}));

  OwnedMatrix src(3, 4, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  for (auto copy : {Matrix_CopyBlock, Matrix_CopyBlockElems}) {
    OwnedMatrix dst(3, 3);
    copy(&src.m, &dst.m, 2, 2, 1, 1, 0, 1);  // 2 x 2 from (row 1, col 1) to (row 1, col 0)
    EXPECT_EQ(dst.store, (std::vector<float>{0, 0, 0, 5, 6, 0, 9, 10, 0}));
  }
  OwnedMatrix whole(3, 4);
  Matrix_Copy(&src.m, &whole.m);
  EXPECT_EQ(whole.store, src.store);
}

TEST(MatrixNormalize, Cases) {
  struct Case {
    std::vector<float> in, want;
  };
  const Case cases[] = {
      {{2, 4, 6}, {0, 0.5f, 1}},
      {{0, 0, 0}, {0, 0, 0}},
      {{-4, -2}, {0, 2.0f / (FLT_MIN + 4.0f)}},  // top stays below 1 when all are negative
      {{3, 3, 3}, {0, 0, 0}},                     // no spread: zero, not NaN
  };
  for (const Case& c : cases) {
    OwnedMatrix m(1, static_cast<int32_t>(c.in.size()), c.in);
    Matrix_NormalizeMinMax(&m.m);
    for (size_t i = 0; i < c.in.size(); ++i) EXPECT_FLOAT_EQ(m.store[i], c.want[i]) << i;
  }
}

TEST(MatrixScan, MaxMinLocAndMean) {
  OwnedMatrix m(1, 3, {3, 7, 7});
  int32_t col = -1, row = -1;
  EXPECT_EQ(Matrix_MaxLoc(&m.m, &col, &row), 7);
  EXPECT_EQ(col, 1);
  EXPECT_EQ(row, 0);
  OwnedMatrix n(2, 2, {4, -1, -1, 8});
  EXPECT_EQ(Matrix_MinLoc(&n.m, &col, &row), -1);
  EXPECT_EQ(col, 1);
  EXPECT_EQ(row, 0);
  EXPECT_EQ(Matrix_MaxLoc(&n.m, nullptr, nullptr), 8);
  EXPECT_FLOAT_EQ(Matrix_Mean(&n.m), 2.5f);

  Matrix empty;
  Matrix_Init(&empty, 3, 0, m.store.data());
  col = row = 42;
  EXPECT_EQ(Matrix_MaxLoc(&empty, &col, &row), -FLT_MAX);
  EXPECT_EQ(Matrix_MinLoc(&empty, &col, &row), FLT_MAX);
  EXPECT_EQ(col, 42);
  EXPECT_TRUE(std::isnan(Matrix_Mean(&empty)));
}

TEST(MatrixNorms, PNormAndPDistanceUseAbsoluteValues) {
  OwnedMatrix a(1, 2, {-3, 4});
  EXPECT_FLOAT_EQ(Matrix_PNorm(&a.m, 2), 5);
  EXPECT_FLOAT_EQ(Matrix_PNorm(&a.m, 1), 7);
  EXPECT_FLOAT_EQ(Matrix_PNorm(&a.m, 3), std::cbrt(91.0f));
  OwnedMatrix b(1, 2, {0, 0});
  EXPECT_FLOAT_EQ(Matrix_PDistance(&a.m, &b.m, 2), 5);
  EXPECT_FLOAT_EQ(Matrix_PDistance(&b.m, &a.m, 1), 7);
}

TEST(Vec3, CrossAndDot) {
  struct Case {
    std::vector<float> a, b, cross;
    float dot;
  };
  const Case cases[] = {
      {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, 0},
      {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}, 0},
      {{1, 2, 3}, {4, 5, 6}, {-3, 6, -3}, 32},
      {{2, 2, 2}, {2, 2, 2}, {0, 0, 0}, 12},
  };
  for (const Case& c : cases) {
    OwnedMatrix a(3, 1, c.a), b(3, 1, c.b), x(3, 1);
    Vec3_Cross(&a.m, &b.m, &x.m);
    EXPECT_EQ(x.store, c.cross);
    EXPECT_EQ(Vec3_Dot(&a.m, &b.m), c.dot);
  }
}

}  // namespace
