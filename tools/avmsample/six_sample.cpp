#include "tools/avmsample/six_sample.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "camera/lut_config_file.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "testsupport/six_camera_rig.h"
#include "tools/avmhost/host_image.h"

namespace {

constexpr int32_t kCamW = 640, kCamH = 360;
// The four-camera sample's configuration: 200 x 600 picture, 2 m each side.
const char kBaseText[] = "2000,200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0";

bool WriteGroup(const SixCameraRig& rig, int32_t group, const std::string& path) {
  LutConfigFileData d{};
  d.carWidth = rig.carWidth;
  d.carLength = rig.carLength;
  d.carBoxParam = 1200;
  d.model = 2;
  d.groupNumber = group;
  d.splitLength = rig.carLength / 2;
  for (int c = 0; c < 4; ++c) {
    d.cornerCount[c] = gv().pointsPerCamera;
    d.seamAngles[c] = gv().config.seamAngle[c];
    const SceneCamera& cam = rig.GroupCamera(group, c);
    for (int i = 0; i < 9; ++i) d.params.K[c][i] = cam.K[i];
    for (int i = 0; i < 8; ++i) d.params.D[c][i] = cam.D[i];
    for (int i = 0; i < 3; ++i) d.params.R[c][i] = cam.r[i];
    for (int i = 0; i < 3; ++i) d.params.T[c][i] = cam.T[i];
  }
  d.quadWidth = 2 * rig.camW;
  d.quadHeight = 2 * rig.camH;
  d.frontOverhang = 900;
  d.wheelBase = 2700;
  return LutConfigFile_Write(path.c_str(), d, gv().pointsPerCamera, gv().maxPoints);
}

HostImage Picture(const std::vector<uint8_t>& grey, int32_t w, int32_t h) {
  HostImage img;
  img.width = w;
  img.height = h;
  img.data = grey;
  return img;
}

}  // namespace

bool WriteSixSample(const std::string& dir) {
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
  SetDataDirectory(dir.c_str());
  GlobalVariables_InitRuntimeDefaults();
  GlobalVariables_Init(1);
  const SixCameraRig rig(kCamW, kCamH, gv().f3, gv().f5);
  if (!WriteGroup(rig, 1, dir + "/lut_config_a.krv") || !WriteGroup(rig, 2, dir + "/lut_config_b.krv")) {
    fprintf(stderr, "avmsample: cannot write the group parameter files into %s\n", dir.c_str());
    return false;
  }
  std::vector<uint8_t> frame1, frame2;
  rig.RenderFrames(&frame1, &frame2);
  return HostImage_WriteBmp(dir + "/frame1.bmp", Picture(frame1, 2 * kCamW, 2 * kCamH)) &&
         HostImage_WriteBmp(dir + "/frame2.bmp", Picture(frame2, 2 * kCamW, kCamH));
}
