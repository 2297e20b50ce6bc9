#include "tools/avmsample/sample_calibrate.h"

#include <cstdio>
#include <filesystem>

#include "testsupport/calibration_site.h"
#include "tools/avmhost/host_image.h"

namespace {

bool WriteText(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) {
    fprintf(stderr, "avmsample: cannot write %s\n", path.c_str());
    return false;
  }
  const bool ok = fputs(text.c_str(), f) >= 0;
  return fclose(f) == 0 && ok;
}

}  // namespace

bool WriteSampleCalibrate(const std::string& dir) { return WriteSampleCalibrateLayout(dir, 1); }

bool WriteSampleCalibrateLayout(const std::string& dir, int layout) {
  if (layout < 1 || layout > 3) {
    fprintf(stderr, "avmsample: no calibration sample of layout %d (1, 2 or 3)\n", layout);
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const CalibrationSite site = layout == 3   ? CalibrationSite_Layout3(2)
                               : layout == 2 ? CalibrationSite_Layout2(2)
                                             : CalibrationSite_Compact(2);
  if (!WriteText(dir + "/globalimage_base.txt", site.BaseText())) return false;
  // Layout 2's marker size windows (working-picture pixels): the front and
  // rear cameras' markers, then the side cameras' near and far halves.
  if (layout == 2 && !WriteText(dir + "/fw_cfg.txt", "30,250,40,300;8,250,20,300;8,250,20,300\n")) return false;

  char line[256];
  snprintf(line, sizeof line, "car %d %d %d 900 2700\nmodel %d\n", site.carWidth, site.carLength, site.SideShift(),
           site.model);
  std::string truth = line;
  for (int c = 1; c <= 4; ++c) {
    const SceneCamera cam = CalibrationSite_Camera(site, c);
    float p[3];
    CalibrationSite_CameraPosition(cam, p);
    snprintf(line, sizeof line, "camera %d %.7g %.7g %.7g %.7g %.7g %.7g\n", c, cam.r[0], cam.r[1], cam.r[2], p[0],
             p[1], p[2]);
    truth += line;
  }
  if (!WriteText(dir + "/" + kSampleSiteFile, truth)) return false;

  HostImage quad;
  quad.width = 2 * site.camW;
  quad.height = 2 * site.camH;
  quad.channels = 1;
  quad.data = CalibrationSite_RenderQuad(site);
  return HostImage_WriteBmp(dir + "/quad.bmp", quad);
}
