#pragma once
// Road scenes for the driver-assistance tests: the sample rig's four cameras
// in the form the driver-assistance table builders take, and quad frames
// (NV12) of a painted ground drawn through those cameras.
#include <cstdint>
#include <functional>
#include <vector>

#include "frame/matrix_types.h"
#include "pipeline/adas_config.h"
#include "testsupport/sample_rig_scene.h"

struct AdasSampleRig {
  // scale 2 gives the same cameras at 1280 x 720.
  explicit AdasSampleRig(int32_t scale = 1);
  SceneCamera cam[4];
  Matrix K[4], D[4], R[4], T[4];
  AdasCameraRig rig{};
};

// Ground luma at world point (x, y) in mm (x right, y to the rear).
using GroundPaint = std::function<uint8_t(float x, float y)>;

// Draws the ground seen by the four cameras into an NV12 quad frame of
// 2 camW x 2 camH (chroma neutral). The ground points of every camera are
// projected once, on a grid of `step` mm over |x| <= halfWidth and
// |y| <= halfLength; each frame then only paints.
class AdasRoadRenderer {
 public:
  AdasRoadRenderer(const AdasSampleRig& rig, float halfWidth, float halfLength, float step);
  std::vector<uint8_t> Render(const GroundPaint& paint, uint8_t background = 80) const;
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

 private:
  struct Splat {
    float x, y;
    int32_t offset;
  };
  std::vector<Splat> splats_;
  int32_t width_, height_;
};
