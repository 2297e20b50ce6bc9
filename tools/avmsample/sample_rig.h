#pragma once
// The embedded sample rig: four fisheye cameras around a car on a chessboard
// floor, written as a data directory with the test-support scene renderer and
// the camera parameter file writer.
#include <cstdint>
#include <string>

#include "tools/avmhost/host_image.h"
#include "testsupport/sample_rig_scene.h"

// Writes the embedded sample data directory: globalimage_base.txt,
// lut_config.krv (four cameras around a car) and quad.bmp (the cameras'
// pictures of a chessboard floor). True when all three were written.
bool WriteSampleRig(const std::string& dir);
// The sample rig's camera (1..4) parameters: model, K, D, rotation vector, T
// and picture size.
struct HostCamera {
  int32_t model;
  float K[9], D[8], r[3], T[3];
};
HostCamera SampleCamera(int camera);

// The rig's quad frame (grey, 2 kSampleCamW x 2 kSampleCamH) with the floor
// moved by floorShiftY mm along the car (the car driving slowly over it).
HostImage RenderSampleQuad(float floorShiftY, int32_t supersample);
