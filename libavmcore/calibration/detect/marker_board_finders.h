#pragma once
// Pieces of the marker-board finders (CalibFindMarkerBoard, layout 32)
// that their tests reach directly. The finders themselves are declared
// with the other layout finders (layout_finders.h).
#include <cstdint>

// Passes of the quad-pair search: 3 in quick mode (word 72), else 14.
int32_t CalibMarker_PassCount();

// Residual limit (pixels) of pass 0..13: lenient (square size 1500 and
// more) 5.21 throughout; level 1 the strict list; every other level, and
// layout 32, the loose list.
float CalibMarker_ResidualLimit(int32_t level, int32_t pass);

// Layout 32, cameras 2 to 4: whether the second accepted marker pair (eight
// written points, camera order) replaces the one held back. Camera 2 takes
// the pair seen lower in the picture (larger row of the first point);
// cameras 3 and 4 take the second only when its fifth point lies less than
// 50 columns further right (camera 3) or left (camera 4).
bool CalibMarker_PreferSecond(uint32_t camera, const float* held, const float* next);
