#pragma once
// Layout finders that pick correlation-template corners (or threshold quads)
// by where they lie in the image and by the small boards they form, solve
// the camera's pose from those few points and then add the further marks
// with the pattern search. Points are (row, column) f32 pairs in the order
// of the layout's world points; the result is the point count, 0 when the
// target was not found.
#include <cstdint>

#include "calibration/detect/layout_finders.h"

// Layout 8, camera 1: the middle 2 x 2 block and the two 2 x 3 boards
// beside it (16 points), then the two single corners ahead of them (18).
// *tries is the threshold step (0..3) to start from; on return it names the
// step after the one that succeeded, 5 after a search that found nothing,
// or is one higher when it started above 3 (nothing is searched then).
// Returns 18, 16 or 0.
uint32_t CalibFind_Layout8Part(LUTOB* lut, uint32_t camera, Matrix* image, float* points, int32_t* tries);

// Entries that pick the finder of layouts 11 and 16 by camera, as the
// dispatcher does.
AVM_LAYOUT_FINDER(CalibFind_Layout11Entry);
AVM_LAYOUT_FINDER(CalibFind_Layout16Entry);
