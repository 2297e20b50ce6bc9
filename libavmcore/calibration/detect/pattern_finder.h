#pragma once
// The calibration pattern finder: one pattern of a given type in a
// rectangle of the ground, found on a top view of that rectangle rendered
// from the camera image and handed back in camera-image points (row,
// column). Also the square finders several pattern types use.
#include <cstdint>

#include "calibration/detect/floor_window.h"
#include "frame/matrix_types.h"
#include "toolkit/blobs.h"

struct LUTOB;
struct ChessQuad;

// Pattern types 1..20.
constexpr int32_t kPatternTypes = 20;
// Points written by pattern type 1..20; 0 for any other type.
int32_t CalibPattern_PointCount(int32_t type);
// Top-view scales (ground units a view pixel) in the order type tries them
// for this camera (index 0..3) and camera image height; first and last
// receive the range of scale indexes tried for level (1..4 one scale, any
// other the type's default range).
void CalibPattern_Scales(int32_t type, int32_t camera, int32_t imageHeight, int32_t level, float scales[4],
                         int32_t* first, int32_t* last);

// camera 0..3; the found points are written only on success (non-zero,
// then exactly the type's point count). The top view of scale s shows the
// ground point (int(x0) + s c, int(y0) + s r, z) at view pixel (r, c).
int32_t CalibFindPattern(LUTOB* lut, int32_t camera, const Matrix* image, int32_t type, int32_t level,
                         int32_t variant, float* points, float size, float x0, float y0, float width, float height,
                         float z);
// The same over a floor window.
int32_t CalibFindPatternIn(LUTOB* lut, int32_t camera, const Matrix* image, int32_t type, int32_t level,
                           int32_t variant, float* points, float size, const FloorWindow& window);

// The dark square whose sides best match sideA (shortest) and sideB
// (longest), found at threshold radii 21, 31 and 48 with the offset; four
// corners from the one nearest the view origin in grid order (top-left,
// top-right, bottom-left, bottom-right for an upright square). 1 or 0.
// extremeCorners != 0 takes the outline points nearest the view's corners
// instead of a fitted quad.
int32_t Square_Find(const Matrix* view, int32_t extremeCorners, float* points, float sideA, float sideB,
                    float offset);
// Square_Find at the offsets 0.04, 0.02, 0, 0.06, -0.02 in turn.
int32_t Square_FindMultiThreshold(const Matrix* view, int32_t extremeCorners, float* points, float sideA,
                                  float sideB);
// The outline points nearest to (0, 0), (rows - 1, 0), (rows - 1, cols - 1)
// and (0, cols - 1) of a rows x cols view, in this order, with their min and
// max squared edge. 0 for an empty outline.
int32_t Blob_ExtremeQuad(const Blob* blob, int32_t rows, int32_t cols, ChessQuad* quad);
