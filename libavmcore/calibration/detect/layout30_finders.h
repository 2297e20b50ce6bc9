#pragma once
// Layout 30: two small boards in every camera's view, one left and one
// right of the image centre. Camera 2 has two routes chosen by configuration
// word 34 (0 or 1: boards grown from template corners, 1 also taking 2 x 3
// boards; other values: a 4 x 5 board in each image half); cameras 1, 3 and
// 4 look for one board in each half. When no board pair solves, the pose is
// solved from fixed start points and the boards are looked for on the floor
// where that pose puts them. Points are (row, column) f32 pairs in the order
// of the layout's world points; the result is the count, 0 when not found.
#include <cstdint>

#include "calibration/detect/layout_finders.h"

// Camera 2, 8 or 12 points.
AVM_LAYOUT_FINDER(CalibFind_Layout30Cam2A);
// Camera 2, 16 points.
AVM_LAYOUT_FINDER(CalibFind_Layout30Cam2B);
// Cameras 1 (8 points), 3 and 4 (10, or 8 from the floor search).
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout30Cams134);
