#pragma once
// The embedded calibration sample: a board-layout-1 site rendered through
// four fisheye cameras at known poses, with a data directory whose
// configuration describes that site.
#include <string>

// Name of the file beside the data that records the site for avmhost: the
// vehicle ("car W L SHIFT OVERHANG WHEELBASE"), the lens model ("model N")
// and each camera's true pose ("camera K RX RY RZ PX PY PZ": rotation vector,
// centre in mm, the library's conventions).
constexpr const char* kSampleSiteFile = "calibrate_site.txt";

// Writes globalimage_base.txt, quad.bmp and calibrate_site.txt into dir.
bool WriteSampleCalibrate(const std::string& dir);
