#pragma once
// A complete calibrated data directory for the bird's-eye view: the global
// configuration, a camera parameter file of four fisheye cameras around a
// car with exactly known poses, and the quad frame they see of a chessboard
// laid on the ground around the car.
#include <string>

#include "testsupport/scene_renderer.h"

struct BirdseyeSample {
  static constexpr int kCameraWidth = 640;
  static constexpr int kCameraHeight = 480;
  static constexpr int kCarWidth = 1800;
  static constexpr int kCarLength = 4600;
  SceneCamera cameras[4];  // front, back, left, right
  TargetSpec ground;       // the chessboard on the ground (world mm, car centre at the origin)
};

// The sample's cameras and ground pattern.
BirdseyeSample BirdseyeSample_Describe();

// Writes globalimage_base.txt, lut_config.krv and quad.bmp (24-bit grey) into
// dir. False when a file cannot be written.
bool BirdseyeSample_Write(const std::string& dir);

// A fresh temporary directory holding the sample (written once per
// process); empty when it cannot be written.
std::string BirdseyeSampleDirectory();
