#pragma once
// Block-calibration objects. The global configuration owns one of each
// (created by the block calibration, deleted by GlobalVariables_Release) and
// reads their measured blind-area terms.
#include <cstdint>

struct BlockCalib4 {
  float lengthTerm = 0.0f;  // measured length of the blind (car-body) area, mm
  float widthTerm = 0.0f;   // measured width of the blind area, mm
  uint32_t cornerCounts[4] = {0, 0, 0, 0};
};

struct BlockCalib6 {
  float lengthTerm = 0.0f;
  float widthTerm = 0.0f;
};
