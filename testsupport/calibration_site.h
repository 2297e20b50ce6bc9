#pragma once
// A board-layout-1 calibration site with ground truth: the four configured
// chessboards around a vehicle, at the places the target world points give
// them, with the layout's eight square marks beside them, seen by four
// fisheye cameras at known poses. Site frame: mm, origin at the centre of
// the vehicle box, x right, y to the rear, z down (the library's frame).
#include <cstdint>
#include <string>
#include <vector>

#include "testsupport/scene_renderer.h"

struct CalibrationSite {
  int32_t carWidth = 1800, carLength = 4600;
  int32_t square = 200, gap = 100;  // board square and its distance from the vehicle box
  int32_t boardCols = 7, boardRows = 5;  // squares across (along the vehicle for the sides), outward
  float cameraHeight[4] = {850, 950, 1000, 1000};
  int32_t model = 2;
  int32_t camW = 1280, camH = 720;
  int32_t hiddenBoard = 0;  // camera 1..4 whose board is left off the floor; 0: none
  float blurSigma = 0.6f;   // the softness of a real lens, in pixels
  uint8_t floorLevel = 100;  // grey of the floor around the targets

  // The side boards' shift along the vehicle (the vehicle box's third
  // value, handed to the LUT configuration): with 7-square side boards,
  // 7 S - gap puts each board midway between the layout's two side marks.
  int32_t SideShift() const;
  // globalimage_base.txt describing this site (layout 1).
  std::string BaseText() const;
};

// Two sites of different vehicles, squares and camera heights.
CalibrationSite CalibrationSite_Compact(int32_t model);
CalibrationSite CalibrationSite_Large(int32_t model);

// Camera 1..4 (front, rear, left, right) of the site at its true pose.
SceneCamera CalibrationSite_Camera(const CalibrationSite& site, int camera);
// Camera centre in the site frame (mm).
void CalibrationSite_CameraPosition(const SceneCamera& cam, float position[3]);
// The boards (cameras 1..4 in that order, the hidden one left out) and the
// eight marks.
std::vector<TargetSpec> CalibrationSite_Targets(const CalibrationSite& site);
// The board of camera 1..4 (also when hidden).
TargetSpec CalibrationSite_Board(const CalibrationSite& site, int camera);
// Grey picture of camera 1..4 (camW x camH).
std::vector<uint8_t> CalibrationSite_Render(const CalibrationSite& site, int camera);
// Quad frame (2 camW x 2 camH), camera k in quadrant k.
std::vector<uint8_t> CalibrationSite_RenderQuad(const CalibrationSite& site);
