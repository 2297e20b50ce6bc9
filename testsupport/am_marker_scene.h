#pragma once
// The marker pair of the angle measurement with ground truth: two square
// markers (a dark square holding a light square) of side a, their inner
// edges b apart, on the ground about the origin and turned by a known angle,
// seen by one camera at a known pose. World frame as the measurement's: the
// ground z = 0, x along the pair, y across it; the camera looks along -y from
// y > 0, above the ground (z < 0), so that x runs to the picture's right.
#include <cstdint>
#include <vector>

#include "testsupport/scene_renderer.h"

struct AMMarkerScene {
  SceneCamera cam;
  int32_t width = 1280, height = 720;
  int32_t a = 100, b = 300;
  float inner = 0.45f;  // light square side, as a fraction of a
  uint8_t floor = 170, dark = 25, light = 230;
  int32_t supersample = 2;
};

// The camera (lens model `model`, lens-table slot `slot`) `distance` mm
// from the pair's centre along +y and `height` mm above the ground, looking
// at the centre.
AMMarkerScene AMMarkerScene_Make(const SceneCamera& intrinsics, float distance, float height);

// Grey picture of the pair turned by `angle` (radians, x towards y) about
// the origin; visible == false leaves the markers out. Only the pixels near
// the markers are traced; the rest is floor.
std::vector<uint8_t> AMMarkerScene_Render(const AMMarkerScene& scene, float angle, bool visible = true);

// Exact picture position (row, column) of the centre of the left (0) or
// right (1) marker at the given angle.
void AMMarkerScene_Centre(const AMMarkerScene& scene, float angle, int32_t marker, float* row, float* col);
