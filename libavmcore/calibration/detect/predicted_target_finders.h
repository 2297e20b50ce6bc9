#pragma once
// Layout finders that find a main board, solve the camera's pose from it and
// then look for the satellite targets where that pose puts them on the floor
// (top views of floor windows), and the pieces other layout finders build on.
#include <cstdint>

#include "calibration/detect/floor_window.h"
#include "calibration/detect/layout_finders.h"

// Entries that nothing calls: layout 3, and layout 21 (cameras 1 and 2 to
// the box finder, the others to layout 3's).
AVM_LAYOUT_FINDER(CalibFind_Layout3Entry);
AVM_LAYOUT_FINDER(CalibFind_Layout21Entry);
// Layout 12's target from the profile's predicted points: 8 or 0. cols and
// rows are not read.
AVM_LAYOUT_FINDER(CalibFind_Layout12Part);
// One corner in the floor window (x0, y0, width x height) of camera index
// 0..3: writes points[0..1] and returns non-zero, or returns 0.
int32_t CalibFind_Layout24Part(LUTOB* lut, int32_t cameraIndex, const Matrix* image, float* points, float x0,
                               float y0, float width, float height);

// The top view of the floor window at scale mm a pixel, rendered from
// image through camera index 0..3's current pose; the detector writes up to
// `count` view points (row, column) into its buffer and returns non-zero
// when found; they come back as camera-image points (row, column). The
// window is clipped to a sane size; an empty view finds nothing.
using TopViewDetector = int32_t (*)(const Matrix* view, float* found, void* ctx);
int32_t TopView_Search(LUTOB* lut, int32_t cameraIndex, const Matrix* image, const FloorWindow& window, float scale,
                       int32_t count, TopViewDetector detector, void* ctx, float* points);
