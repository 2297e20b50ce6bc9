#pragma once
// A calibration site with ground truth: the four configured chessboards
// around a vehicle, at the places the target world points give them, with
// the layout's further marks (layout 1: eight square marks beside the
// boards; layout 3: a small chessboard beyond each vehicle corner), seen by
// four fisheye cameras at known poses. Site frame: mm, origin at the centre of
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
  // Board layout 1 or 3. Layout 3 fixes its own boards (200 mm squares,
  // 100 mm gap, 5 x 5 front and rear, 7 x 5 beside), and its corner boards
  // stand sideDistance mm beyond the vehicle's sides, clear of the front
  // and rear boards' search windows.
  int32_t layout = 1;
  int32_t sideDistance = 0;

  // The side boards' shift along the vehicle (the vehicle box's third
  // value, handed to the LUT configuration): with 7-square side boards,
  // 7 S - gap puts each board midway between the layout's two side marks.
  int32_t SideShift() const;
  // globalimage_base.txt describing this site.
  std::string BaseText() const;
  // Squares across of camera 1..4's board (along the vehicle for the sides).
  int32_t BoardCols(int camera) const;
};

// Two sites of different vehicles, squares and camera heights.
CalibrationSite CalibrationSite_Compact(int32_t model);
CalibrationSite CalibrationSite_Large(int32_t model);
// The compact vehicle on a layout-2 site (600 mm squares).
CalibrationSite CalibrationSite_Layout2(int32_t model);
// The compact vehicle on a layout-3 site.
CalibrationSite CalibrationSite_Layout3(int32_t model);

// Camera 1..4 (front, rear, left, right) of the site at its true pose.
SceneCamera CalibrationSite_Camera(const CalibrationSite& site, int camera);
// Camera centre in the site frame (mm).
void CalibrationSite_CameraPosition(const SceneCamera& cam, float position[3]);
// The boards (cameras 1..4 in that order, the hidden one left out) and the
// layout's marks.
std::vector<TargetSpec> CalibrationSite_Targets(const CalibrationSite& site);
// The board of camera 1..4 (also when hidden).
TargetSpec CalibrationSite_Board(const CalibrationSite& site, int camera);
// Grey picture of camera 1..4 (camW x camH).
std::vector<uint8_t> CalibrationSite_Render(const CalibrationSite& site, int camera);
// Quad frame (2 camW x 2 camH), camera k in quadrant k.
std::vector<uint8_t> CalibrationSite_RenderQuad(const CalibrationSite& site);
