#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tools/avmsample/sample_rig.h"
#include "tools/avmhost/host_image.h"
#include "camera/lut_config_file.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "testsupport/scene_renderer.h"

namespace {

SceneCamera RigCamera(int camera) { return SampleRigCamera(camera); }

TargetSpec Floor() { return SampleRigFloor(); }

const char kBaseText[] = "2000,200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0";

}  // namespace

HostCamera SampleCamera(int camera) {
  const SceneCamera c = RigCamera(camera);
  HostCamera h;
  h.model = c.model;
  for (int i = 0; i < 9; ++i) h.K[i] = c.K[i];
  for (int i = 0; i < 8; ++i) h.D[i] = c.D[i];
  for (int i = 0; i < 3; ++i) h.r[i] = c.r[i];
  for (int i = 0; i < 3; ++i) h.T[i] = c.T[i];
  return h;
}

bool WriteSampleRig(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string base = dir + "/globalimage_base.txt";
  FILE* f = fopen(base.c_str(), "w");
  if (f == nullptr) {
    fprintf(stderr, "avmsample: cannot write %s\n", base.c_str());
    return false;
  }
  const bool baseOk = fputs(kBaseText, f) >= 0;
  if (fclose(f) != 0 || !baseOk) return false;

  // The point counts of the camera file follow the configuration the
  // library will read from this directory.
  SetDataDirectory(dir.c_str());
  GlobalVariables_InitRuntimeDefaults();
  GlobalVariables_Init(1);
  LutConfigFileData d{};
  d.carWidth = 1800;
  d.carLength = 4600;
  d.carBoxParam = 1200;
  d.model = 2;
  for (int c = 0; c < 4; ++c) {
    // As a calibration leaves it: the stitch treats a camera without corners
    // as absent (its ground goes to the end cameras), and its seams follow
    // the recorded angles.
    d.cornerCount[c] = gv().pointsPerCamera;
    d.seamAngles[c] = gv().config.seamAngle[c];
    const SceneCamera cam = RigCamera(c + 1);
    for (int i = 0; i < 9; ++i) d.params.K[c][i] = cam.K[i];
    for (int i = 0; i < 8; ++i) d.params.D[c][i] = cam.D[i];
    for (int i = 0; i < 3; ++i) d.params.R[c][i] = cam.r[i];
    for (int i = 0; i < 3; ++i) d.params.T[c][i] = cam.T[i];
  }
  d.quadWidth = 2 * kSampleCamW;
  d.quadHeight = 2 * kSampleCamH;
  d.frontOverhang = 900;
  d.wheelBase = 2700;
  const std::string cfg = dir + "/lut_config.krv";
  if (!LutConfigFile_Write(cfg.c_str(), d, gv().pointsPerCamera, gv().maxPoints)) {
    fprintf(stderr, "avmsample: cannot write %s\n", cfg.c_str());
    return false;
  }

  return HostImage_WriteBmp(dir + "/quad.bmp", RenderSampleQuad(0.0f, 3));
}

HostImage RenderSampleQuad(float floorShiftY, int32_t supersample) {
  // Quad frame: camera k's picture in quadrant k.
  HostImage quad;
  quad.width = 2 * kSampleCamW;
  quad.height = 2 * kSampleCamH;
  quad.data.assign(static_cast<size_t>(quad.width) * quad.height, 0);
  RenderOptions opt;
  opt.width = kSampleCamW;
  opt.height = kSampleCamH;
  opt.supersample = supersample;
  opt.background = 100;
  opt.blurSigma = 0.8f;  // the softness of a real lens
  TargetSpec floor = Floor();
  floor.origin[1] += floorShiftY;
  for (int c = 0; c < 4; ++c) {
    const std::vector<uint8_t> pic = Scene_RenderGrey(RigCamera(c + 1), floor, opt);
    const int ox = (c % 2) * kSampleCamW, oy = (c / 2) * kSampleCamH;
    for (int y = 0; y < kSampleCamH; ++y)
      for (int x = 0; x < kSampleCamW; ++x)
        quad.data[static_cast<size_t>(oy + y) * quad.width + ox + x] = pic[static_cast<size_t>(y) * kSampleCamW + x];
  }
  return quad;
}
