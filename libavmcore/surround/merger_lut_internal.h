#pragma once
// Pieces shared by the stitched map builders.
#include <cstdint>
#include <functional>
#include <vector>

#include "camera/camera_model.h"
#include "frame/matrix_types.h"

struct LUTOB;

namespace lut_internal {

int32_t BuildThreads();
// fn(firstRow, endRow) over disjoint row ranges, on up to BuildThreads()
// threads; returns when all are done.
void ParallelRows(int32_t rows, const std::function<void(int32_t, int32_t)>& fn);

// The four cameras' single-point projections.
struct Projectors {
  int32_t camW = 0, camH = 0;
  ProjectPointFn fn[4] = {nullptr, nullptr, nullptr, nullptr};
  ProjectionContext ctx[4] = {};
  int32_t model[4] = {0, 0, 0, 0};
  int32_t slot[4] = {0, 0, 0, 0};
  void Prepare(LUTOB* lut);
  // Ground point p (x, y, z) through camera cam (0..3) into the quad frame.
  // A point on or beyond the three-pixel border becomes (0, 0) of the
  // camera's quadrant; false then.
  bool Project(int cam, const float* p, float* qx, float* qy) const;
};

struct CarRect {
  int32_t left, top, right, bottom;
  int32_t innerLeft, innerTop, innerRight, innerBottom;
};
CarRect MakeCarRect(const LUTOB* lut, int32_t marginMode, int32_t W, const Matrix* groundTable);
void StoreCarRect(const CarRect& r, int32_t* carLeft, int32_t* carTop, int32_t* carRight, int32_t* carBottom,
                  int32_t* innerLeft, int32_t* innerTop, int32_t* innerRight, int32_t* innerBottom);
void SplitPoint(const LUTOB* lut, int32_t W, int32_t H, int32_t* splitCol, int32_t* splitRow);
void FillMaps(const LUTOB* lut, int32_t W, int32_t H, Matrix* X1, Matrix* Y1, Matrix* W1, Matrix* W2, float w2,
              Matrix* W3);
// The W2 ramp passes: 0..1 left to right across the front, 1..0 across the
// rear, 0..1 down the left, 1..0 down the right. Each row depends only on
// its own earlier values, so Rows may run on disjoint row ranges in any
// order or at once (the builders run it in their row chunks, after the
// start fill).
class SeamRamp {
 public:
  SeamRamp(int32_t W, int32_t H, int32_t innerLeft, int32_t innerTop, int32_t innerRight, int32_t innerBottom,
           float sF, float sR);
  void Rows(Matrix* W2, int32_t r0, int32_t r1) const;

 private:
  int32_t W_, H_, innerLeft_, innerTop_, innerRight_, innerBottom_;
  float sF_, sR_;
  std::vector<int32_t> first_, last_;  // rows of the side pass, per left column
};

}  // namespace lut_internal
