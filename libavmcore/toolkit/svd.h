#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Singular value decomposition (Golub-Kahan bidiagonalisation followed by
// implicit-shift QR sweeps) and the SVD-based pseudo-inverse.

// Decomposes the row-major m x n array a as U * W * Vt. On return a holds W
// (singular values on the diagonal, non-negative and non-increasing; the
// remaining superdiagonal on the next diagonal), u (m x m) the first
// min(m, n) left singular vectors as columns, v (n x n) Vt. ldWork is the
// length of each of the three private work vectors (at least max(m, n) + 1).
// tol decides when a superdiagonal or diagonal element counts as zero.
// A singular value gets 60 sweeps at tol and, failing that, 60 more in which
// rounding-level elements count as negligible. Returns -1 when it still does
// not converge (the outputs are then the packed intermediate state), else 0.
int32_t Svd_Decompose(float* a, int32_t m, int32_t n, float* u, float* v, int32_t ldWork, float tol);

// Plane rotation zeroing ab[1] against ab[0]: cs = (c, s); ab becomes (r, z)
// with z the reconstruction value of the classic rotation generator.
void Svd_Givens(float* ab, float* cs);

// Writes s onto a's diagonal and e onto its superdiagonal (a zero
// elsewhere), then transposes the n x n array v in place.
void Svd_PackResult(float* a, const float* e, const float* s, float* v, int32_t m, int32_t n);

// a = U * W * Vt: a becomes W with every off-diagonal element 0, u.data gets
// U (rows x rows), v.data gets Vt (cols x cols).
void Matrix_SVD(Matrix* a, Matrix* u, Matrix* v);

// Replaces the square m (n = rows) by V * pinv(W) * transpose(U), inverting
// every non-zero singular value (however small) and keeping zero ones at
// zero. A non-square m is left unchanged.
void Matrix_PseudoInverse(Matrix* m);
