#pragma once
// The Best3 line-calibration site with ground truth: two long painted
// stripes on the floor running along the vehicle, one beyond each side, seen
// by four fisheye cameras at known poses. Site frame: mm, origin at the
// centre of the vehicle box, x right, y to the rear, z down.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "testsupport/scene_renderer.h"

struct LUTOB;

struct Best3Site {
  int32_t carWidth = 1800, carLength = 4600;
  float stripeInner = 1500.0f;   // |x| of each stripe's inner edge
  float stripeWidth = 150.0f;
  float stripeLength = 16000.0f;  // centred on the vehicle
  bool stripes = true;            // false: the bare floor
  // Further painted strips along the car: x of the left edge, and width.
  std::vector<std::pair<float, float>> extraStripes;
  float cameraHeight[4] = {850, 950, 1000, 1000};
  int32_t model = 2;
  // Model 3: pixels per lens-table height unit (364 px per radian with the
  // default equidistant table of 5 units per radian); the table sits in
  // slot 0 and must be installed before rendering.
  float model3Scale = 364.0f / 5.0f;
  int32_t camW = 1280, camH = 720;
  uint8_t floor = 70, paint = 215;
  float blurSigma = 0.6f;

  // globalimage_base.txt of a layout-1 set-up for this vehicle.
  std::string BaseText() const;
  // x of the inner (edge 0) or outer (edge 1) edge of the left (side -1) or
  // right (side +1) stripe.
  float EdgeX(int side, int edge) const;
};

// Camera 1..4 (front, rear, left, right) at its true pose.
SceneCamera Best3Site_Camera(const Best3Site& site, int camera);
// Grey picture of camera 1..4 (camW x camH).
std::vector<uint8_t> Best3Site_Render(const Best3Site& site, int camera);
// Quad frame (2 camW x 2 camH), camera k in quadrant k (1 top left, 2 top
// right, 3 bottom left, 4 bottom right).
std::vector<uint8_t> Best3Site_RenderQuad(const Best3Site& site);
// The combined float image the Best3 job makes of a quad frame: the luma of
// every second pixel of every second row, / 255 (camW x camH).
std::vector<float> Best3Site_Combined(const Best3Site& site, const std::vector<uint8_t>& quad);
// A LUT object of the site (car box, camera image size) holding the given
// camera parameters; free with LUTOB_Destroy. The configuration's run-time
// defaults must be in force.
LUTOB* Best3Site_MakeLut(const Best3Site& site, const SceneCamera cams[4]);
