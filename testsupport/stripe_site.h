#pragma once
// A board-layout-51 site: two long bright stripes on a dark floor along the
// vehicle, one each side, seen by four fisheye cameras (lens model 2, or 3) at
// known poses, and the camera parameter block of those poses. Frame: mm,
// origin at the vehicle's centre, x right, y to the rear, z up.
#include <cstdint>
#include <vector>

#include "camera/lut_config.h"
#include "testsupport/scene_renderer.h"

struct StripeSite {
  int32_t camW = 1280, camH = 720;
  float carWidth = 1800.0f, carLength = 4600.0f;
  int32_t stripe = 100;      // stripe width
  int32_t innerSpan = 2600;  // distance between the two inner edges
  float centre = 0.0f;       // x of the middle between the stripes
  bool left = true, right = true;  // which stripes lie on the floor
  // Lens model of every camera: 2, or 3 with `scale3` pixels per lens-table
  // height unit from slot `slot` (the test installs the table).
  int32_t model = 2;
  float scale3 = 0.0f;
  int32_t slot = 0;
  SceneCamera cams[4];
  CameraParamBlock block;  // the true poses (headers point into it: do not copy)
};

// Cameras 1..4 (front, rear, left, right) and the parameter block.
void StripeSite_Init(StripeSite* site);
// Camera 1..4's picture as floats (grey / 255), camW x camH.
std::vector<float> StripeSite_Render(const StripeSite& site, int camera);
// (row, column) of ground points (x, y, z triples) through camera 1..4's true pose.
std::vector<float> StripeSite_Project(const StripeSite& site, int camera, const std::vector<float>& ground);
