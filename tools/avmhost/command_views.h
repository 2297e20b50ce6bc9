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
