#pragma once
// The sample rig as the 3-D bowl tests use it: its camera parameter file
// (with a few words changeable) and its quad frame of the chessboard floor.
#include <cstdint>
#include <string>
#include <vector>

#include "camera/lut_config_file.h"
#include "frame/global_variables.h"
#include "testsupport/sample_rig_scene.h"
#include "testsupport/scene_renderer.h"

struct BowlRigOptions {
  uint32_t extraParam = 0;
  int32_t groupNumber = 0, splitLength = 0;
  int32_t cornerCount = 35;
  // Pose override of one camera (1..4; 0 none): rotation vector and T.
  int32_t poseCamera = 0;
  float r[3] = {0, 0, 0}, T[3] = {0, 0, 0};
};

// Writes the rig's lut_config file with the configuration's point counts.
inline bool BowlRig_WriteConfig(const std::string& path, const BowlRigOptions& opt = BowlRigOptions()) {
  LutConfigFileData d{};
  d.carWidth = kSampleCarWidth;
  d.carLength = kSampleCarLength;
  d.carBoxParam = 1200;
  d.model = 2;
  d.extraParam = static_cast<int32_t>(opt.extraParam);
  d.groupNumber = opt.groupNumber;
  d.splitLength = opt.splitLength;
  for (int c = 0; c < 4; ++c) {
    d.cornerCount[c] = opt.cornerCount;
    d.seamAngles[c] = gv().config.seamAngle[c];
    const SceneCamera cam = SampleRigCamera(c + 1);
    for (int i = 0; i < 9; ++i) d.params.K[c][i] = cam.K[i];
    for (int i = 0; i < 8; ++i) d.params.D[c][i] = cam.D[i];
    for (int i = 0; i < 3; ++i) d.params.R[c][i] = cam.r[i];
    for (int i = 0; i < 3; ++i) d.params.T[c][i] = cam.T[i];
    if (opt.poseCamera == c + 1)
      for (int i = 0; i < 3; ++i) {
        d.params.R[c][i] = opt.r[i];
        d.params.T[c][i] = opt.T[i];
      }
  }
  d.quadWidth = 2 * kSampleCamW;
  d.quadHeight = 2 * kSampleCamH;
  d.frontOverhang = 900;
  d.wheelBase = 2700;
  return LutConfigFile_Write(path.c_str(), d, gv().pointsPerCamera, gv().maxPoints);
}

// The four cameras' pictures of the floor packed 2 x 2 (grey, row-major).
inline std::vector<uint8_t> BowlRig_RenderQuad() {
  const int32_t W = 2 * kSampleCamW;
  std::vector<uint8_t> quad(static_cast<size_t>(W) * 2 * kSampleCamH, 0);
  RenderOptions opt;
  opt.width = kSampleCamW;
  opt.height = kSampleCamH;
  opt.supersample = 2;
  opt.background = 100;
  for (int c = 0; c < 4; ++c) {
    const std::vector<uint8_t> pic = Scene_RenderGrey(SampleRigCamera(c + 1), SampleRigFloor(), opt);
    const int ox = (c % 2) * kSampleCamW, oy = (c / 2) * kSampleCamH;
    for (int y = 0; y < kSampleCamH; ++y)
      for (int x = 0; x < kSampleCamW; ++x)
        quad[static_cast<size_t>(oy + y) * W + ox + x] = pic[static_cast<size_t>(y) * kSampleCamW + x];
  }
  return quad;
}
