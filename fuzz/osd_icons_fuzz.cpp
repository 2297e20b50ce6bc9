// The overlay icons (24-bit BMP under <data>/res/): the input is the blank
// glyph (10), a digit glyph (written as 1 and 2; the other glyphs are
// missing) and a camera-name icon (written for the four cameras), see
// fuzz_input.h. Loaded, composed into the date and speed lines and drawn
// into a small NV12 frame.
#include <string>
#include <sys/stat.h>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pipeline/osd_overlay.h"

namespace {

constexpr int32_t kFrameW = 160, kFrameH = 96;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 3);
  mkdir((fuzz::Dir() + "/res").c_str(), 0755);
  fuzz::WriteFile("res/icon_720p_" + std::to_string(kBlankGlyph) + ".bmp", files[0]);
  for (int g : {1, 2}) fuzz::WriteFile("res/icon_720p_" + std::to_string(g) + ".bmp", files[1]);
  for (const char* name : {"front", "back", "left", "right"})
    fuzz::WriteFile(std::string("res/icon_720p_") + name + ".bmp", files[2]);
  OSDState osd;
  if (OSD_Init(&osd, fuzz::Dir().c_str()) == 0) {
    OverlayBuffer date, speed;
    OSD_AllocOverlay(&osd, &date);
    OSD_AllocOverlay(&osd, &speed);
    OSD_DrawDateTimeAt(&osd, &date, 1, 1700000000);
    OSD_DrawSpeed(&osd, &speed, 10, 123, 4567);
    std::vector<uint8_t> frame(static_cast<size_t>(kFrameW) * kFrameH * 3 / 2, 16);
    OSD_DrawOverlay(frame.data(), kFrameW, kFrameH, &osd, &date, &speed, 0xFF, 4, 4);
    OSD_FreeOverlay(&date);
    OSD_FreeOverlay(&speed);
  }
  OSD_FreeIcons(&osd);
  return 0;
}
