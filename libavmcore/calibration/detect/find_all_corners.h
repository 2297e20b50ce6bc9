#pragma once
// The entry of target detection: FindAllChessboardCorners (declared for the
// LUT object's builds in surround/calibration_services.h) picks the finder of
// the board-layout code in force.
#include <cstdint>

#include "calibration/detect/layout_finders.h"
#include "surround/calibration_services.h"

// Layout 1 with a board other than 8 x 6: the quad detector, the template
// detector as fallback. Stores the expected count first, 0 when neither
// finds the board or the board does not fit the camera's point buffer.
AVM_LAYOUT_FINDER(CalibFind_Layout1Board);
