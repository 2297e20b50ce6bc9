#pragma once
// avmhost views: the single-camera views of a data directory drawn on the
// CPU from the tables the library hands out (LUTs, meshes, guide lines).
#include <cstdint>
#include <string>
#include <vector>

#include "host_image.h"

// One view the stand-in sets up and draws.
struct HostView {
  const char* name;  // picture name stem
  int32_t camera;
  enum Kind { kUndist, kCut, kWide } kind;
  int32_t type;  // undistorted view type, cut type or wide mode
  int32_t width, height;
};

// Every view the command draws, in order.
const std::vector<HostView>& HostViews();

// Set-up values of the undistorted views (integers and floats of
// KRV_GlobalImage_SetUndistParam_EXDD): view angle, divisor.
constexpr float kHostUndistFov = 65.0f;
constexpr float kHostUndistDivisor = 1.0f;
// Focal reference of the cut views (larger: wider view).
constexpr float kHostCutFocal = 0.5f;
// Steering angle of the dynamic guide lines drawn into the pictures.
constexpr double kHostSteeringAngle = 12.0;


// Writes the embedded sample data directory: globalimage_base.txt,
// lut_config.krv (four cameras around a car) and quad.bmp (the cameras'
// pictures of a chessboard floor). True when all three were written.
bool WriteSampleViewsData(const std::string& dir);
// The sample rig's camera (1..4) parameters: model, K, D, rotation vector, T
// and picture size.
struct HostCamera {
  int32_t model;
  float K[9], D[8], r[3], T[3];
};
HostCamera SampleCamera(int camera);
constexpr int32_t kSampleCamW = 640, kSampleCamH = 360;
// The chessboard floor of the sample: squares of kSampleSquare mm, corner
// (0, 0) of the pattern at (kSampleBoardX0, kSampleBoardY0).
constexpr float kSampleSquare = 400.0f;
constexpr float kSampleBoardX0 = -6000.0f, kSampleBoardY0 = -8000.0f;
constexpr int32_t kSampleSquaresX = 30, kSampleSquaresY = 40;
