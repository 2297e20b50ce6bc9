#pragma once
// Marker-block calibration sites with ground truth (board layouts 29 and
// 52): square marker blocks on the floor (a dark square holding a light
// square), seen by fisheye cameras (lens model 2) at known poses.
//
// Site frame: mm, origin at the centre of the vehicle box, x to the right,
// y to the rear, z down (the library's frame). The cameras' intrinsics are
// those a block fit from scratch reaches (PoseScene_Camera). Corners of a
// block are listed in the block frame's order: (-h, -h), (h, -h), (-h, h),
// (h, h) about its centre along the site axes.
#include <cstdint>
#include <vector>

#include "testsupport/scene_renderer.h"

struct BlockSite {
  int32_t camW = 1280, camH = 720;
  float square = 700.0f;  // block side (configuration word 33)
  float inner = 0.45f;    // side of the light inner square, as a fraction
  // Cameras: 4 (front, back, left, right) or 6 (front, back, front-left,
  // front-right, rear-left, rear-right); blocks: 4 (front-left,
  // front-right, rear-left, rear-right) or 6 (front pair, middle pair, rear
  // pair).
  std::vector<SceneCamera> cams;
  std::vector<float> blockX, blockY;  // block centres
  // Optional per block: turn about the centre (radians, +x toward +y) and
  // height of the block's top above the floor (mm). Empty: 0.
  std::vector<float> blockYaw, blockHeight;
  float blurSigma = 0.7f;

  // Site position (x, y, z) of corner k of block g (z = -height).
  void Corner(int32_t g, int32_t k, float out[3]) const;
  // Pixel (row, column) of a ground point in camera c; false outside.
  bool Project(int32_t camera, const float world[3], float* row, float* col) const;
  // Grey picture of camera c (camW x camH).
  std::vector<uint8_t> Render(int32_t camera) const;
  // Camera centre (x, y) in the site frame.
  void CameraXY(int32_t camera, float xy[2]) const;
};

// Four blocks near the vehicle corners, four cameras.
BlockSite BlockSite_Four();
// Six blocks (front, middle, rear pairs), six cameras.
BlockSite BlockSite_Six();

// Global blocks that camera position c sees, in the calibration's order:
// four blocks (0, 1), (2, 3), (0, 2), (1, 3); six blocks by camera 0..5.
void BlockSite_CameraBlocks(const BlockSite& site, int32_t camera, int32_t blocks[2]);

// Hand-entered corners of the four-block site: 59 values a camera, corner k
// of camera c at [59 c + k] (column to xs, row to ys).
void BlockSite_HandCorners4(const BlockSite& site, std::vector<float>* xs, std::vector<float>* ys);
// The six-block site's two groups: group 1 the cameras front, back,
// front-left, front-right; group 2 (front), back, rear-left, rear-right.
void BlockSite_HandCorners6(const BlockSite& site, int32_t group, std::vector<float>* xs, std::vector<float>* ys);

// Quad frame of the four-block site (2 camW x 2 camH, camera k in quadrant
// k); the six-block site's first frame is the same of cameras 0..3, its
// second the rear side cameras side by side (2 camW x camH).
std::vector<uint8_t> BlockSite_RenderQuad(const BlockSite& site);
std::vector<uint8_t> BlockSite_RenderRear(const BlockSite& site);
