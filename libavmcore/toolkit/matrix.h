#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Elementary single-precision algebra on caller-owned Matrix headers.
//
// Nothing here checks shapes, null pointers or aliasing, and nothing
// allocates a caller's matrix. Each operation takes its loop bounds from one
// operand (noted per function); the others must be at least that large.
// Element-wise operations with two operands write into the second one.
// Products accumulate with one fused multiply-add per term, in increasing
// index order, so results are the same whatever the vector width.

// Stores the three fields; allocates nothing.
void Matrix_Init(Matrix* m, int32_t cols, int32_t rows, float* data);

// Copies src.cols * src.rows floats into dst.data; dst's header is untouched.
void Matrix_Copy(const Matrix* src, Matrix* dst);

// Copies a width x height block from src (srcRow, srcCol) to dst (dstRow,
// dstCol), each side addressed with its own cols. Nothing when width < 1 or
// height < 1.
void Matrix_CopyBlock(const Matrix* src, Matrix* dst, int32_t width, int32_t height, int32_t srcCol,
                      int32_t srcRow, int32_t dstCol, int32_t dstRow);
// The same copy, element by element.
void Matrix_CopyBlockElems(const Matrix* src, Matrix* dst, int32_t width, int32_t height,
                           int32_t srcCol, int32_t srcRow, int32_t dstCol, int32_t dstRow);

// Every element = value.
void Matrix_Fill(Matrix* m, float value);
// Every element 0, then (i, i) = value for i < min(rows, cols).
void Matrix_SetDiagonal(Matrix* m, float value);

// Element-wise, shape from b, result in b.
void Matrix_Add(const Matrix* a, Matrix* b);      // b = b + a
void Matrix_Sub(const Matrix* a, Matrix* b);      // b = b - a
void Matrix_MulElem(const Matrix* a, Matrix* b);  // b = b * a
void Matrix_DivElem(const Matrix* a, Matrix* b);  // b = b / a

// Scalar forms, in place.
void Matrix_Scale(Matrix* m, float s);          // m = m * s
void Matrix_AddScalar(Matrix* m, float s);      // m = m + s
void Matrix_SubFromScalar(Matrix* m, float s);  // m = s - m

// Rescales m in place to 0..1: subtracts the minimum, then multiplies by
// 1 / (max - min). The maximum search starts at the smallest positive normal
// float, so an all-zero matrix stays zero and an all-negative one tops out
// below 1. A matrix with no spread (all elements equal) becomes all zero.
void Matrix_NormalizeMinMax(Matrix* m);

// d = a * b. d is zeroed over its own shape first; the loops run over
// a.rows, a.cols and b.cols, and d's row stride is b.cols.
void Matrix_Product(const Matrix* a, const Matrix* b, Matrix* d);
// d = a * b + c. c null: as Matrix_Product. c == d: accumulates onto d.
// Any other c is first copied into d (c.cols * c.rows floats).
void Matrix_Multiply(const Matrix* a, const Matrix* b, const Matrix* c, Matrix* d);

// b(c, r) = a(r, c), shape from a; b is addressed with its own cols.
void Matrix_Transpose(const Matrix* a, Matrix* b);
// Transposes the n x n matrix (n = rows, row stride = cols) through a
// private copy.
void Matrix_TransposeSquareInPlace(Matrix* m);
// transposeFirst non-zero: d = transpose(a) * a; zero: d = a * transpose(a).
void Matrix_MulTransposed(const Matrix* a, Matrix* d, int32_t transposeFirst);
// Square m, n = cols. Non-zero lowerFromUpper copies the upper triangle onto
// the lower one; zero copies the lower onto the upper.
void Matrix_Symmetrize(Matrix* m, int32_t lowerFromUpper);

// (sum of |x|^p)^(1/p), all in float.
float Matrix_PNorm(const Matrix* m, float p);
// (sum of |a - b|^p)^(1/p); float sum, double-precision root. Shape from a.
float Matrix_PDistance(const Matrix* a, const Matrix* b, float p);

// First three elements of c = a x b; c must not share storage with a or b.
void Vec3_Cross(const Matrix* a, const Matrix* b, Matrix* c);
// Dot product of the first three elements.
float Vec3_Dot(const Matrix* a, const Matrix* b);

// Largest (smallest) element; the first occurrence wins. Its column and row
// are written to the non-null pointers. With no element the start value
// (-FLT_MAX or FLT_MAX) is returned and nothing is written.
float Matrix_MaxLoc(const Matrix* m, int32_t* outCol, int32_t* outRow);
float Matrix_MinLoc(const Matrix* m, int32_t* outCol, int32_t* outRow);

// Float sum of all elements in row-major order divided by rows * cols
// (NaN for an empty matrix).
float Matrix_Mean(const Matrix* m);
