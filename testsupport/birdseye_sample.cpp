#include "testsupport/birdseye_sample.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frame/global_variables.h"
#include "surround/lut_config_file.h"
#include "toolkit/bmp_file.h"

namespace {

// f0..f23: range 2000 mm, bird's-eye 350 x 600 in a 900 x 600 picture,
// board layout 1.
const char kBaseFile[] = "2000,200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0";

}  // namespace

BirdseyeSample BirdseyeSample_Describe() {
  BirdseyeSample s;
  const int w = BirdseyeSample::kCameraWidth, h = BirdseyeSample::kCameraHeight;
  const float hw = BirdseyeSample::kCarWidth / 2.0f, hl = BirdseyeSample::kCarLength / 2.0f;
  // Near-vertical fisheyes at the car's edges (world: x right, y to the
  // rear, z up): each sees the whole ground band beside it.
  const float pos[4][3] = {{0, -hl + 300, 800}, {0, hl - 300, 900}, {-hw + 100, 0, 1000}, {hw - 100, 0, 1000}};
  const float look[4][3] = {{0, -hl, 0}, {0, hl, 0}, {-hw - 200, 0, 0}, {hw + 200, 0, 0}};
  for (int c = 0; c < 4; ++c) {
    SceneCamera& cam = s.cameras[c];
    cam.model = 2;
    const float K[9] = {1, 0, w / 2.0f, 0, 1, h / 2.0f, 0, 0, 1};
    memcpy(cam.K, K, sizeof K);
    for (float& d : cam.D) d = 0.0f;
    cam.D[0] = std::min(w, h) / 2.0f / 1.76f;
    SceneCamera_LookAt(&cam, pos[c], look[c]);
  }
  s.ground.kind = TargetKind::kChessboard;
  s.ground.squareSize = 400.0f;
  s.ground.squaresX = 16;  // 6.4 m across
  s.ground.squaresY = 24;  // 9.6 m along
  s.ground.margin = 0.0f;
  s.ground.dark = 40;
  s.ground.light = 210;
  const float origin[3] = {-3200.0f, -4800.0f, 0.0f};
  memcpy(s.ground.origin, origin, sizeof origin);
  return s;
}

bool BirdseyeSample_Write(const std::string& dir) {
  const BirdseyeSample s = BirdseyeSample_Describe();
  FILE* f = fopen((dir + "/globalimage_base.txt").c_str(), "wb");
  if (f == nullptr) return false;
  const bool baseOk = fputs(kBaseFile, f) >= 0;
  if (fclose(f) != 0 || !baseOk) return false;

  LutConfigFileData d{};
  d.carWidth = BirdseyeSample::kCarWidth;
  d.carLength = BirdseyeSample::kCarLength;
  d.model = 2;
  d.viewRange = 2000;
  d.extraValue = 50;
  d.quadWidth = 2 * BirdseyeSample::kCameraWidth;
  d.quadHeight = 2 * BirdseyeSample::kCameraHeight;
  d.frontOverhang = 500;
  d.wheelBase = 2800;
  const float seams[4] = {72.0f, 72.0f, 42.0f, 42.0f};
  memcpy(d.seamAngles, seams, sizeof seams);
  for (int c = 0; c < 4; ++c) {
    d.cornerCount[c] = 35;
    memcpy(d.params.K[c], s.cameras[c].K, sizeof s.cameras[c].K);
    memcpy(d.params.D[c], s.cameras[c].D, sizeof s.cameras[c].D);
    memcpy(d.params.R[c], s.cameras[c].r, sizeof s.cameras[c].r);
    memcpy(d.params.T[c], s.cameras[c].T, sizeof s.cameras[c].T);
  }
  const GlobalVariables defaults;
  if (!LutConfigFile_Write((dir + "/lut_config.krv").c_str(), d, defaults.pointsPerCamera, defaults.maxPoints))
    return false;

  const int w = BirdseyeSample::kCameraWidth, h = BirdseyeSample::kCameraHeight;
  std::vector<uint8_t> quad(static_cast<size_t>(4) * w * h);
  RenderOptions opt;
  opt.width = w;
  opt.height = h;
  opt.supersample = 3;
  opt.background = 100;
  for (int c = 0; c < 4; ++c) {
    const std::vector<uint8_t> pic = Scene_RenderGrey(s.cameras[c], s.ground, opt);
    const int ox = (c & 1) ? w : 0, oy = c >= 2 ? h : 0;
    for (int y = 0; y < h; ++y) memcpy(&quad[static_cast<size_t>(oy + y) * 2 * w + ox], &pic[static_cast<size_t>(y) * w], w);
  }
  ImageU8 img{2 * w, 2 * h, quad.data()};
  return Bmp_SaveImageU8(&img, (dir + "/quad.bmp").c_str(), 0) == 1;
}

std::string BirdseyeSampleDirectory() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/avmsampleXXXXXX";
    const char* made = mkdtemp(tmpl);
    if (made == nullptr) return std::string();
    std::string d = made;
    return BirdseyeSample_Write(d) ? d : std::string();
  }();
  return dir;
}
