#include "testsupport/osd_icons.h"

#include <filesystem>
#include <vector>

#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"

namespace {

bool WriteIcon(const std::string& path, int32_t w, int32_t h, int32_t icon) {
  uint8_t rgb[3];
  OsdIcon_Colour(icon, rgb);
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3, 0);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 1; x < w; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = rgb[2];
      p[1] = rgb[1];
      p[2] = rgb[0];
    }
  Rgb24Image img{w, h, 0, px.data(), 3 * w};
  return Bmp_SaveRGB24(&img, path.c_str()) == 1;
}

}  // namespace

void OsdIcon_Colour(int32_t icon, uint8_t rgb[3]) {
  rgb[0] = static_cast<uint8_t>(30 + 9 * icon);
  rgb[1] = static_cast<uint8_t>(230 - 7 * icon);
  rgb[2] = static_cast<uint8_t>(60 + (icon % 5) * 30);
}

bool OsdIcons_Write(const std::string& dir, int32_t glyphW, int32_t glyphH, int32_t cameraW, int32_t cameraH,
                    int32_t skipCamera) {
  std::error_code ec;
  std::filesystem::create_directories(dir + "/res", ec);
  for (int32_t i = 0; i < 19; ++i)
    if (!WriteIcon(dir + "/res/icon_720p_" + std::to_string(i) + ".bmp", glyphW, glyphH, i)) return false;
  const char* names[4] = {"front", "back", "left", "right"};
  for (int32_t k = 0; k < 4; ++k) {
    if (k == skipCamera) continue;
    if (!WriteIcon(dir + "/res/icon_720p_" + names[k] + ".bmp", cameraW, cameraH, 19 + k)) return false;
  }
  return true;
}
