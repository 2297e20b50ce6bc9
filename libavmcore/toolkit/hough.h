#pragma once
#include <cstdint>

#include "frame/matrix_types.h"
#include "toolkit/point_pairs.h"

// Line detector over the edge points of one image size and a fixed set of
// angles. The convention is rho = col * sin(theta) + row * cos(theta); angle
// n is thetaFirst + n * thetaStep. The caller owns the header; the
// operations own the three buffers.
struct Hough {
  int32_t width;
  int32_t height;
  float rhoStep;
  float thetaStep;
  float thetaFirst;
  int32_t angleCount;  // 1 .. 360
  int32_t threshold;
  int32_t baseRow;  // a segment's baseCol is taken at row baseRow - 1
  int32_t pointCount;
  int32_t* accumulator;  // angleCount rows of numRho signed counts
  uint8_t* mask;         // width * height, 1 where an edge point is available
  PointI32* points;      // {p0 = row, p1 = col}
  int32_t maxPoints;     // (width * height) / 4
};

constexpr int32_t kHoughMaxAngles = 360;

struct HoughSegment {
  int32_t row0, col0;  // first end (the upper one for steep lines)
  int32_t row1, col1;
  float angleDeg;  // atan2(row1 - row0, col1 - col0) in degrees
  float baseCol;   // column where the segment's line meets row baseRow - 1
  int32_t reserved;
};

// Returns 1, or 0 (nothing allocated, buffers null) for sizes below 1, a
// rho step <= 0 or an angle count outside 1 .. 360.
int32_t Hough_Create(Hough* hough, int32_t width, int32_t height, int32_t angleCount,
                     int32_t threshold, int32_t baseRow, float rhoStep, float thetaStep,
                     float thetaFirst);
void Hough_Destroy(Hough* hough);

// Rebuild the point list and mask from the pixels > 0 (non-zero bytes) of the
// detector-sized top-left part of img, in row-major order, at most maxPoints.
void Hough_CollectPointsF(Hough* hough, const Matrix* img);
void Hough_CollectPointsU8(Hough* hough, const ImageU8* img);

// Strongest-cell detection: repeatedly votes the remaining points, takes the
// first cell to reach the highest count (at least threshold) and walks its
// line both ways from the winning point, clearing a five-pixel strip.
// count is the capacity in, the number found out. angleCount must be 1 ..
// the detector's angle count.
void Hough_DetectSegments(Hough* hough, HoughSegment* segments, int32_t* count,
                          int32_t angleCount, int32_t threshold, float thetaFirst);
void Hough_Detect(Hough* hough, HoughSegment* segments, int32_t* count);

// Random-order detection for lane marks: points are drawn with rand()
// (reseeded from the clock on each call), the accumulator keeps all votes of
// the call, and the line of an accepted point is walked bottom-up; runs of 3
// or more hits with gaps of up to 7 misses form the segment.
void Hough_DetectSegmentsRandom(Hough* hough, HoughSegment* segments, int32_t* count);
// As above with the two-way walk from the drawn point.
void Hough_DetectSegmentsRandomBidir(Hough* hough, HoughSegment* segments, int32_t* count);

// Classic transform over the pixels > 0 of img: lines as (rho, theta) pairs
// with rho = col * cos + row * sin, strongest first. linesMax: capacity in,
// number written out.
void Image_HoughLinesStandard(const Matrix* img, int32_t threshold, float* lines,
                              int32_t* linesMax, float rhoStep, float thetaStep);
