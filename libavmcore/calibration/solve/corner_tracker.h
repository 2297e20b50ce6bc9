#pragma once
// Corner tracker: a second form of the two-marker measurement that keeps a
// re-solved camera pose per frame and derives a height value from it, with
// which it maps between image and ground. Works on images resampled to
// 640 x 360; lens model 3, lens-table slot 1. No export calls it.
#include <cstdint>
#include <vector>

constexpr uint32_t kCornerTrackerMagic = 0x03080101u;
constexpr int32_t kCornerTrackerFileSize = 280;

struct CornerTracker {
  // The parameter file's fields.
  int32_t width = 0, height = 0;  // frames the tracker is fed
  uint32_t tag = 0;
  int32_t a = 0, b = 0;
  float world[8][3] = {};
  float h = 0.0f;            // reference value: the calibration's depth
  float image[8][2] = {};    // (row, column) in the 640 x 360 image
  float K[9] = {}, D[8] = {}, R[3] = {}, T[3] = {};
  // State.
  float refDepth = 0.0f;
  float m = 0.0f;            // height value
  float r[3] = {}, t[3] = {};  // current pose
  float quads[2][8] = {};
  int32_t valid = 0;
  int32_t tracking = 0;
  int32_t failures = 1000;
  std::vector<float> frame, small;  // width x height each
};

// Object from a parameter file, or null (missing, not 280 bytes, another
// magic, a frame size outside 1..8192). Free with CornerTracker_Release.
CornerTracker* CornerTracker_Create(const char* path);
int32_t CornerTracker_Release(CornerTracker* tracker);
// Writes the file through a temporary one (fsync, rename); false on failure.
bool CornerTracker_Save(const CornerTracker& tracker, const char* path);
// 1 when read into the tracker, 0 otherwise (the tracker then unchanged).
int32_t CornerTracker_Load(CornerTracker* tracker, const char* path);
// Calibration from a BMP: 0 and the file written, 1 when no marker pair fits
// or the image cannot be read or the file not written.
int32_t CornerTracker_Calibrate(const char* bmpPath, uint32_t tag, int32_t a, int32_t b, const char* path);
// One luma frame (width x height, row stride `stride`): 0 measured, 1 fewer
// than two quads, 2 no pair solved (both count as failed frames).
int32_t CornerTracker_Step(CornerTracker* tracker, const uint8_t* luma, int32_t stride);
// -1 while more than five frames failed and tracking is off, or before any
// measurement; else 0, m, the midpoint (x, y) of the two markers on the
// ground and the angle of the line between them.
int32_t CornerTracker_GetResult(const CornerTracker* tracker, float* m, float* x, float* y, float* angle);
// n image points (columns xs, rows ys) to ground (X, Y), and back; -1 while
// m is 0, else 0.
int32_t CornerTracker_ImageToGround(const CornerTracker* tracker, int32_t n, const float* xs, const float* ys,
                                    float* X, float* Y);
int32_t CornerTracker_GroundToImage(const CornerTracker* tracker, int32_t n, const float* X, const float* Y,
                                    float* xs, float* ys);
// Two distance readings: both at least 10 and within 250 of each other set
// m to the larger and the valid flag (only while not tracking; tracking
// clears the flag and keeps m); anything else clears the flag.
void CornerTracker_DistanceFilter(CornerTracker* tracker, float first, float second);
