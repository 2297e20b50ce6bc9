#pragma once
// The embedded calibration sample: a board-layout-1 (or 2 or 3) site
// rendered through four fisheye cameras at known poses, with a data
// directory whose configuration describes that site.
#include <string>

// Name of the file beside the data that records the site for avmhost: the
// vehicle ("car W L SHIFT OVERHANG WHEELBASE"), the lens model ("model N")
// and each camera's true pose ("camera K RX RY RZ PX PY PZ": rotation vector,
// centre in mm, the library's conventions).
constexpr const char* kSampleSiteFile = "calibrate_site.txt";

// Writes globalimage_base.txt, quad.bmp and calibrate_site.txt into dir:
// the layout-1 site.
bool WriteSampleCalibrate(const std::string& dir);
// The same for board layout 1, 2 (with its marker size file fw_cfg.txt)
// or 3; false for another code.
bool WriteSampleCalibrateLayout(const std::string& dir, int layout);
