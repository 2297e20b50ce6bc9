#pragma once
// Chessboard scenes for the corner-detector tests and benchmarks: a board
// on the ground seen through lens models 1 to 4 at a chosen size in view,
// tilt, turn and place in the picture, with its exact inner corners.
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"
#include "testsupport/scene_renderer.h"

struct BoardSceneSpec {
  int32_t model = 2;  // 1..4; model 3 needs an equidistant lens table of 5 units a radian
  int32_t width = 1280;
  int32_t height = 720;
  int32_t squaresX = 9;
  int32_t squaresY = 7;
  float span = 0.9f;      // board width over its distance (about its angular width, radians)
  float tiltDeg = 0.0f;   // between the line of sight and the board's normal
  float yawDeg = 0.0f;    // board turned about its normal
  float offsetX = 0.0f;   // board centre moved right, in distances (fractions of a radian)
  float offsetY = 0.0f;   // and down
};

struct BoardScene {
  SceneCamera cam;
  TargetSpec board;
  int32_t width, height;
};

BoardScene BoardScene_Make(const BoardSceneSpec& spec);

// Exact inner corners as (row, column) pairs, row by row (squaresX - 1 a
// row); false when one is outside the picture.
bool BoardScene_Truth(const BoardScene& scene, std::vector<float>* points);

// The grey picture as a float image (values / 255).
struct FloatImage {
  std::vector<float> data;
  Matrix m;
};
void BoardScene_Render(const BoardScene& scene, const RenderOptions& opt, FloatImage* out);
