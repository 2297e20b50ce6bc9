#pragma once
// The finders of layouts 14, 20 and 26 (a base target, then further targets
// searched where the solved pose puts them) are declared with the other
// layout finders; this header holds what their tests use beside them.
#include <vector>

#include "calibration/detect/layout_finders.h"

// The dark-on-light copy layout 26's second finder searches: each pixel
// 1 - v, capped at the mean of 1 - v plus 0.1 (at most 0.75, or the mean
// itself when that is above 0.75), so the bright floor cannot outshine the
// markers.
void Layout26_InvertImage(const Matrix* image, std::vector<float>* buffer, Matrix* out);
