#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Reverse-communication Levenberg-Marquardt minimiser in single precision.
// The solver never calls the model: each update call advances a small state
// machine and hands back the matrices the caller must fill at `param`
// before calling again.
//
// Jacobian form (nErrors > 0):
//   Matrix *param, *J, *err;
//   while (LevMarq_Update(&lm, &param, &J, &err, &norm)) {
//     if (J) fill J and err at *param; else if (err) fill err at *param;
//   }
// err is the residual whose RMS is minimised, J its derivative.
//
// Normal-equation form (nErrors == 0): loop on LevMarq_UpdateAlt; when JtJ
// and JtErr come back (zeroed), add the upper triangle of transpose(J) J
// and transpose(J) err at *param, and the error norm into *errNormPtr if
// that pointer came back too; when only errNormPtr comes back, compute the
// error norm at *param.

enum class LevMarqState : int32_t { Done = 0, Started = 1, CalcJ = 2, CheckErr = 3 };

struct LevMarq {
  int32_t nErrors;     // m; 0 selects the normal-equation form
  Matrix prevParam;    // n x 1, parameters before the current step
  Matrix param;        // n x 1, current or trial parameters
  Matrix err;          // m x 1 (only when m > 0)
  Matrix J;            // m x n (only when m > 0)
  Matrix JtJ;          // n x n
  Matrix JtJN;         // n x n, damped and inverted by the step
  Matrix JtErr;        // n x 1
  float prevErrNorm;   // error norm at prevParam
  float errNorm;       // error norm at the trial param
  int32_t lambdaLg10;  // decimal logarithm of the damping factor
  int32_t maxIter;     // limit on accepted steps, 1..1000
  float epsilon;       // smallest decrease of the norm that counts, >= 0
  int32_t state;       // a LevMarqState
  int32_t iterations;  // accepted steps so far
  Matrix Jt;           // n x m (only when m > 0)
  uint32_t* mask;      // n entries; 0 freezes a parameter
};

// Allocates the matrices (zeroed) and the mask (all 1). maxIter is clamped
// to 1..1000 and a negative epsilon becomes 0. The caller then writes the
// initial parameters into param and may clear mask entries.
void LevMarq_Create(LevMarq* lm, int32_t nParams, int32_t nErrors, int32_t maxIter, int32_t lambdaLg10,
                    float epsilon);

// One step of the Jacobian form. outJ and outErr come back null unless the
// caller must fill them; *outErrNorm receives the error norm of the starting
// point and of every accepted step. Returns 0 only when called in state Done.
int32_t LevMarq_Update(LevMarq* lm, Matrix** outParam, Matrix** outJ, Matrix** outErr, float* outErrNorm);

// One step of the normal-equation form. Returns 0 when called in state Done
// and on the call that reaches maxIter.
int32_t LevMarq_UpdateAlt(LevMarq* lm, Matrix** outParam, Matrix** outJtJ, Matrix** outJtErr,
                          float** outErrNormPtr);

// The damped step from prevParam: param = prevParam - pinv(JtJ (1 + lambda
// on the diagonal)) JtErr, frozen parameters kept.
void LevMarq_Step(LevMarq* lm);

// Frees the mask and the matrix block.
void LevMarq_Free(LevMarq* lm);
