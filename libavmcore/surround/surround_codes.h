#pragma once
#include <cstdint>

// Camera slot of a stitched-view sample that no camera sees.
enum : int32_t { kNoCamera = 255 };

// Where a pixel of the stitched top view lies around the car rectangle: the
// centre (under the car), the four bands beside it and the four corners
// where two cameras overlap.
enum StitchRegion : int32_t {
  kRegionCentre = 0,
  kRegionFront = 1,
  kRegionRear = 2,
  kRegionLeft = 3,
  kRegionRight = 4,
  kRegionFrontLeft = 5,
  kRegionFrontRight = 6,
  kRegionRearLeft = 7,
  kRegionRearRight = 8,
};
