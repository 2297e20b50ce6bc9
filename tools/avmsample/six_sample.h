#pragma once
// The embedded six-camera sample: six fisheye cameras around a car on a
// chessboard floor (the test-support six-camera rig), written as a data
// directory.
#include <string>

// globalimage_base.txt, lut_config_a.krv and lut_config_b.krv (the two
// camera groups, calibrated), frame1.bmp (front, back, left-front,
// right-front as a quad frame) and frame2.bmp (left-rear, right-rear side by
// side). True when all were written.
bool WriteSixSample(const std::string& dir);
