#pragma once
// Finders of the stripe targets of board layout 51: long straight stripes on
// the floor along the vehicle, found in a metric top view of the ground built
// with the camera's current pose. Image points are (row, column) pairs.
#include <cstdint>

#include "frame/matrix_types.h"

struct CameraParamBlock;

// One straight line of a top view (row, column coordinates of the view).
struct GroundLineRec {
  float row1, col1;
  float row2, col2;
  float key;        // the line's column at the finder's reference row
  float slope;      // column change per row
  float intercept;  // column at row 0
  uint32_t excluded;  // non-zero: not a candidate
};

// Points each layout-51 finder returns: 27 along each of two lines.
constexpr int32_t kLineTargetPoints = 54;

// Picks two neighbouring candidate lines (ordered by sign * key, largest
// first) whose key distance lies in [minGap, maxGap] and whose middle is
// set (> 0.5) in more than half the rows of the binarised view; a middle
// column outside the view does not count. 1 with the pair in first and
// second; 0 with the two leading candidates there.
int32_t SelectLinePair(float sign, float maxGap, float minGap, const GroundLineRec* lines, int32_t count,
                       GroundLineRec* first, GroundLineRec* second, const Matrix* binary);

// Side cameras 3 and 4: the inner and outer edge of the stripe beside the
// vehicle. 1 with 54 image points and their 54 world points (x, y, z; x set
// to xFirst / xSecond), else 0.
int32_t CalibFind_Layout51LR(const CameraParamBlock* block, const Matrix* image, int32_t camera, float* points,
                             float* worldPoints, float stripeWidth, float xFirst, float xSecond);

// Front and rear cameras 1 and 2: the inner edges of the left and the right
// stripe. 1 with 54 image points (left line first), else 0.
int32_t CalibFind_Layout51FB(const CameraParamBlock* block, const Matrix* image, int32_t camera, float* points,
                             float stripeWidth);
