#pragma once
// Floor pictures as the detector tests and benchmarks use them: a window of
// the plane z = const seen through a camera, 3 x 3 samples a pixel and the
// 0.6 px blur of a real lens, grey levels scaled to 0..1.
#include <cstdint>
#include <functional>
#include <vector>

#include "testsupport/scene_renderer.h"

struct FloorRenderWindow {
  float x0, y0;            // world corner of the window, mm
  float extentX, extentY;  // its size, mm
  float z = 0.0f;          // the plane's world z (up is negative)
};

// level(x, y) at world (x, y) of the window: a grey level 0..255, or a
// negative value for the light mat (215).
std::vector<float> Floor_Render(const SceneCamera& cam, int32_t width, int32_t height, const FloorRenderWindow& window,
                                std::function<float(float x, float y)> level);
