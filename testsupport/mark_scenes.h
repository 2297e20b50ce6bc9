#pragma once
// Single calibration marks on the ground for the detector tests and
// benchmarks: plain and nested squares, discs darker or lighter than their
// ground, checker crosses, stripes and dot fields, placed by ground
// coordinates and seen through lens models 1 to 4 at a known pose (the
// camera of a BoardScene), with the exact image position of every corner or
// centre they define.
//
// Ground coordinates (s, t) are millimetres about the point the camera looks
// at, s to the picture's right and t downwards (for yaw 0); the camera is
// 1000 mm from that point.
#include <cstdint>
#include <vector>

#include "testsupport/board_scenes.h"

struct MarkShape {
  enum Kind { kPolygon, kDisc } kind = kPolygon;
  std::vector<float> st;  // polygon: convex, (s, t) vertex pairs
  float cs = 0.0f, ct = 0.0f, radius = 0.0f;  // disc
  uint8_t level = 30;
};

struct MarkScene {
  SceneCamera cam;
  int32_t width = 1280, height = 720;
  float yawDeg = 0.0f;
  float groundOrigin[3] = {0, 0, 0};  // ground (0, 0) in the world
  float axisS[3] = {1, 0, 0};
  float axisT[3] = {0, -1, 0};
  uint8_t ground = 200;
  std::vector<MarkShape> shapes;  // later shapes paint over earlier ones
};

// Camera, picture size and ground placement from the view part of a board
// spec (model, size, tilt, yaw, offset; the span is not used).
MarkScene MarkScene_Make(const BoardSceneSpec& view, uint8_t ground = 200);

// Square of side `side` centred at (cs, ct), turned by angleDeg on the ground.
// Returns its corners (s, t) in the order top-left, top-right, bottom-left,
// bottom-right (before turning).
std::vector<float> MarkScene_AddSquare(MarkScene* scene, float cs, float ct, float side, float angleDeg,
                                       uint8_t level);
// Square of the given level holding a centred square of innerRatio x side
// of the ground level: a marker. Returns the outer corners as above.
std::vector<float> MarkScene_AddNestedSquare(MarkScene* scene, float cs, float ct, float side, float innerRatio,
                                             float angleDeg, uint8_t level);
void MarkScene_AddDisc(MarkScene* scene, float cs, float ct, float radius, uint8_t level);
// Two squares of side `side` meeting at (cs, ct): the upper-left and the
// lower-right one (or the upper-right and lower-left with flip).
void MarkScene_AddChecker(MarkScene* scene, float cs, float ct, float side, bool flip, uint8_t level);
// Straight band of width w from (s0, t0) to (s1, t1).
void MarkScene_AddStripe(MarkScene* scene, float s0, float t0, float s1, float t1, float w, uint8_t level);
// A rows x cols field of discs of radius r at pitch p, first centre (cs, ct).
void MarkScene_AddDotField(MarkScene* scene, float cs, float ct, int32_t cols, int32_t rows, float pitch, float r,
                           uint8_t level);

// Exact picture position of ground point (s, t) as (row, column); false when
// it is outside the lens field or the picture.
bool MarkScene_Project(const MarkScene& scene, float s, float t, float* row, float* col);
// The same for a list of (s, t) pairs into (row, column) pairs.
bool MarkScene_ProjectAll(const MarkScene& scene, const std::vector<float>& st, std::vector<float>* points);

void MarkScene_Render(const MarkScene& scene, const RenderOptions& opt, FloatImage* out);
