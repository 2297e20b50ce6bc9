#pragma once
// Layout 53: the patch-pair and template-strip routes in a fixed order of
// preference per camera; on the side cameras a three-corner strip behind
// the front wheel is added from the solved pose. Points are (row, column)
// f32 pairs in the order of the layout's world points; the result is the
// count, 0 when not found.
#include <cstdint>

#include "calibration/detect/layout_finders.h"

// Side cameras: the outer corners of the 4 x 5 patch found with template
// corners in the camera's profile box, then the standing strip of three
// corners ahead from the floor; 7 or 0.
AVM_LAYOUT_FINDER(CalibFind_Layout53Side);
