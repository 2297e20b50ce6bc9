#include "tools/avmsample/sample_play.h"

#include <cstdio>
#include <vector>

#include "testsupport/osd_icons.h"
#include "toolkit/pixel_formats.h"
#include "tools/avmhost/host_image.h"
#include "tools/avmsample/sample_rig.h"

namespace {

// Grey quad frame to NV12, camera 4 (bottom-right quadrant) tinted.
std::vector<uint8_t> ToNV12(const HostImage& quad) {
  const int32_t W = quad.width, H = quad.height;
  std::vector<uint8_t> rgb(static_cast<size_t>(W) * H * 3);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const bool tinted = x >= W / 2 && y >= H / 2;
      const uint8_t g = quad.data[static_cast<size_t>(y) * W + x];
      for (int c = 0; c < 3; ++c)
        rgb[(static_cast<size_t>(y) * W + x) * 3 + c] = static_cast<uint8_t>(tinted ? g * kPlayTint[c] + 0.5f : g);
    }
  std::vector<uint8_t> nv12(static_cast<size_t>(W) * H * 3 / 2);
  const Rgb24Image src{W, H, 1, rgb.data(), 3 * W};
  const YuvSemiPlanarFrame dst{W, H, nv12.data(), nv12.data() + static_cast<size_t>(W) * H, W};
  Rgb24_ToNV12(&src, &dst);
  return nv12;
}

}  // namespace

bool WriteSamplePlay(const std::string& dir) {
  if (!WriteSampleRig(dir)) return false;
  if (!OsdIcons_Write(dir, 12, 20, 40, 16)) return false;
  FILE* f = fopen((dir + "/" + kPlayFramesFile).c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = true;
  int32_t w = 0, h = 0;
  for (int32_t i = 0; i < kPlayFrameCount && ok; ++i) {
    // 40 mm a frame: walking pace at 25 frames a second.
    const HostImage quad = RenderSampleQuad(40.0f * static_cast<float>(i), 2);
    w = quad.width;
    h = quad.height;
    const std::vector<uint8_t> nv12 = ToNV12(quad);
    ok = fwrite(nv12.data(), 1, nv12.size(), f) == nv12.size();
  }
  ok = fclose(f) == 0 && ok;
  FILE* info = fopen((dir + "/" + kPlayInfoFile).c_str(), "w");
  if (info == nullptr) return false;
  fprintf(info, "%d %d %d\n", w, h, kPlayFrameCount);
  return fclose(info) == 0 && ok;
}
