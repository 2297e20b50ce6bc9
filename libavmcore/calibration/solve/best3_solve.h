#pragma once
// Best3 line-target calibration: two long stripes on the floor along the
// car, one beyond each side. The line search finds the stripe edges in each
// camera's part of a combined float image (the quad frame as a 2 x 2 mosaic,
// camera 1 top left, 2 top right, 3 bottom left, 4 bottom right), the line
// fits turn them into new poses, a plausibility check compares them with
// the poses held before, and a passing set is written into the LUT object
// and its stitching tables are rebuilt. Cameras are numbered 1 to 4 (1, 2
// front/back, 3, 4 left/right).
#include <atomic>
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"
#include "toolkit/hough.h"

struct LUTOB;

constexpr int32_t kBest3Points = 80;            // image points per camera
constexpr int32_t kBest3EdgePoints = 40;        // floor samples per edge
constexpr float kBest3RotationLimit = 0.3f;     // rad, largest rotation-vector change
constexpr float kBest3HeightLimit = 600.0f;     // mm, largest height change of cameras 1, 2
constexpr float kBest3FBErrorLimit = 140.0f;
constexpr float kBest3LRErrorLimit = 35.0f;
// Result of a solve whose poses passed every check but whose stitching
// tables could not be rebuilt: the LUT object keeps its old poses.
constexpr int32_t kBest3RegenerateFailed = 50;

struct Best3Camera {
  float points[kBest3Points][2];  // (x, y) image points of the line search
  uint32_t model;
  float K[9];
  float D[8];
  float prevR[3], prevT[3];  // pose at set-up
  float newR[3], newT[3];    // pose of the last fit
};

// Search parameters of one camera pair: floor units per patch pixel, two
// floor extents (side margin and patch length for left/right, patch width
// and length for front/back), patch width and height in pixels.
struct Best3SearchParams {
  int32_t scale, extentA, extentB, width, height;
};

// One detected segment as the pair rule sees it (patch rows and columns).
struct Best3Line {
  float row0, col0, row1, col1;
  float position;   // column at the reference row
  float slope;      // column change per row
  float intercept;  // column at row 0
  float angle;      // atan2(row change, column change), radians
  int32_t used;
};

// The calibration state of one job or one synchronous solve. Set up with
// Best3Ctrl_CreateWork, torn down with Best3Ctrl_DestroyWork.
struct Best3Work {
  LUTOB* lut = nullptr;                 // not owned; read at set-up, written by a publish
  const Matrix* image = nullptr;        // combined float image of the running solve
  int32_t quadWidth = 0, quadHeight = 0;
  int32_t cfgWord0 = 0, cfgWord1 = 0;   // car width and length of the LUT configuration
  Best3SearchParams lr{}, fb{};
  Hough lrHough{}, fbHough{};
  Best3Camera cams[4]{};
  float lineValues[4] = {0, 0, 0, 0};   // inner and outer edge: left stripe (camera 3), right (camera 4)
  std::vector<float> scratch1, scratch2;
  float rotationLimit = 0.0f, heightLimit = 0.0f;
  // Written by the solve thread, read by the job's feeders and poll.
  std::atomic<uint32_t> done{0};
};

// Sets up work on lut (its poses, lens models, sizes). 1, or 0 for a null
// argument or a detector that cannot be created.
int32_t Best3Ctrl_CreateWork(Best3Work* work, LUTOB* lut);
void Best3Ctrl_DestroyWork(Best3Work* work);

// One pass: search every camera with threshold 0.005 in mode 0, fit, check,
// publish. 0 (done set, poses and tables in the LUT object) or 17..20,
// 33..36, 49, kBest3RegenerateFailed.
int32_t CalibBest3_Run(Best3Work* work, const Matrix* image, int32_t ignored);
// The job's solve: mode-1 searches at two thresholds for cameras 1 and 2,
// then up to four threshold pairs for cameras 3 and 4. Codes as above.
int32_t CalibBest3_NewImage(Best3Work* work, const Matrix* image);

// Line search of camera 1 or 2 (0, 100: fewer than 4 segments, 110: no
// stripe pair) and of camera 3 or 4 (0 or 200). mode 1 uses the region
// boundary edge map with the threshold, mode 0 the near-vertical edge
// detector.
int32_t CalibBest3_GetFB_2LPoint(Best3Work* work, int32_t camera, int32_t mode, float threshold);
int32_t CalibBest3_GetLR_LPoint(Best3Work* work, int32_t camera, int32_t mode, float threshold);

// Fits of one camera from its line points: 0, or 180 (FB) / 183 (LR) when
// the fit error exceeds its limit.
int32_t CalibBest3_CalibFB(Best3Work* work, int32_t camera);
int32_t CalibBest3_CalibLR(Best3Work* work, int32_t camera);
// 1 when every new pose is within the limits of the pose held before.
int32_t Best3Ctrl_CheckMaxSub(Best3Work* work);

// The pair rule: picks two edges of one stripe from lines[0..n) (unused
// ones), ordered nearest the car first by side (+1: larger column first,
// -1: smaller first), 60 to 600 floor units apart, with the middle between
// them set on more than half the rows of support (when given). 1 and the
// two indices, or 0.
int32_t Best3_PickPair(Best3Line* lines, int32_t n, float side, float scale, const Matrix* support, int32_t* first,
                       int32_t* second);
