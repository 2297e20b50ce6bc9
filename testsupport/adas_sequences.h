#pragma once
// Frame sequences for the lens-dirt, LVSA and blind-spot interface tests and
// benchmarks, with their ground truth.
#include <cstdint>
#include <vector>

// The sample rig's quad frame (grey, 2 kSampleCamW x 2 kSampleCamH) while the
// car drives forward over the chessboard floor: phase 0..5 moves the floor
// by phase x 800 / 6 mm, so the sequence repeats seamlessly every 6 frames.
// Everything off the floor is bright (sky).
std::vector<uint8_t> DirtScene_RenderQuad(int32_t phase);

// A soiled lens: darkens the camera's picture (camera 0..3 of the quad) by
// a blurred disc at (col, row) of the camera's picture, radius in pixels, its
// centre scaled by 1 - depth.
struct Smudge {
  int32_t camera;
  float col, row;
  float radius;
  float depth;
};
void DirtScene_ApplySmudge(std::vector<uint8_t>* quad, int32_t quadWidth, const Smudge& smudge);

// A grey frame (width x height) of an LVSA scene: dark above row edgeRow,
// bright from it down, with seeded noise of a few grey levels.
std::vector<uint8_t> LvsaScene_Render(int32_t width, int32_t height, int32_t edgeRow, uint32_t seed);

// Blind-spot interface scene: a road (grey 120 with slight noise) seen in a
// frame; the zone is the quadrilateral of its four corners. Vehicles are
// textured blocks covering frame rows [rowTop, rowBottom) across the zone.
struct ZoneVehicle {
  float rowTop, rowBottom;
};
std::vector<uint8_t> ZoneScene_Render(int32_t width, int32_t height, const std::vector<ZoneVehicle>& vehicles,
                                      uint32_t seed);
