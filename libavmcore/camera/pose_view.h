#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// The values that travel together wherever a camera's pose is read: the
// rotation vector R, the translation T, the intrinsics K, the distortion D,
// the lens model number and the lens-table slot. A view over the caller's
// matrices: it owns nothing and lives no longer than they do.
struct PoseView {
  const Matrix* R;
  const Matrix* T;
  const Matrix* K;
  const Matrix* D;
  int32_t model;
  int32_t slot;
};

// The same six for the fits, which write K, D, R and T back.
struct PoseEdit {
  Matrix* R;
  Matrix* T;
  Matrix* K;
  Matrix* D;
  int32_t model;
  int32_t slot;

  PoseView View() const { return PoseView{R, T, K, D, model, slot}; }
};

// The derivative blocks of a projection or ground mapping (two rows a point;
// columns as described in camera_model.h). Each may be null; the default is
// no block at all.
struct PoseDerivBlocks {
  Matrix* dRot = nullptr;
  Matrix* dTrans = nullptr;
  Matrix* dIntr = nullptr;
  Matrix* dCentre = nullptr;
  Matrix* dDist = nullptr;
};
