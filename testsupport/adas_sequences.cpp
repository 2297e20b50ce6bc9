#include "testsupport/adas_sequences.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "testsupport/sample_rig_scene.h"
#include "testsupport/scene_renderer.h"

std::vector<uint8_t> DirtScene_RenderQuad(int32_t phase) {
  const int32_t W = 2 * kSampleCamW;
  std::vector<uint8_t> quad(static_cast<size_t>(W) * 2 * kSampleCamH, 0);
  RenderOptions opt;
  opt.width = kSampleCamW;
  opt.height = kSampleCamH;
  opt.supersample = 2;
  opt.background = 230;
  TargetSpec floor = SampleRigFloor();
  floor.origin[1] += static_cast<float>(phase % 6) * 800.0f / 6.0f;
  for (int c = 0; c < 4; ++c) {
    const std::vector<uint8_t> pic = Scene_RenderGrey(SampleRigCamera(c + 1), floor, opt);
    const int ox = (c % 2) * kSampleCamW, oy = (c / 2) * kSampleCamH;
    for (int y = 0; y < kSampleCamH; ++y)
      std::copy_n(pic.data() + static_cast<size_t>(y) * kSampleCamW, kSampleCamW,
                  quad.data() + static_cast<size_t>(oy + y) * W + ox);
  }
  return quad;
}

void DirtScene_ApplySmudge(std::vector<uint8_t>* quad, int32_t quadWidth, const Smudge& s) {
  const int32_t camW = quadWidth / 2, camH = static_cast<int32_t>(quad->size() / quadWidth) / 2;
  const int32_t ox = (s.camera % 2) * camW, oy = (s.camera / 2) * camH;
  for (int32_t y = 0; y < camH; ++y)
    for (int32_t x = 0; x < camW; ++x) {
      const float r = std::hypot(x - s.col, y - s.row);
      // Full depth inside 0.6 radius, fading out smoothly to the rim.
      const float t = std::clamp((s.radius - r) / (0.4f * s.radius), 0.0f, 1.0f);
      const float k = 1.0f - s.depth * t * t * (3.0f - 2.0f * t);
      uint8_t& p = (*quad)[static_cast<size_t>(oy + y) * quadWidth + ox + x];
      p = static_cast<uint8_t>(p * k);
    }
}

std::vector<uint8_t> LvsaScene_Render(int32_t width, int32_t height, int32_t edgeRow, uint32_t seed) {
  std::vector<uint8_t> img(static_cast<size_t>(width) * height);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-2, 2);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      img[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((y >= edgeRow ? 170 : 70) + noise(rng));
  return img;
}

std::vector<uint8_t> ZoneScene_Render(int32_t width, int32_t height, const std::vector<ZoneVehicle>& vehicles,
                                      uint32_t seed) {
  std::vector<uint8_t> img(static_cast<size_t>(width) * height);
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-2, 2);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      int v = 120 + noise(rng);
      for (const ZoneVehicle& veh : vehicles)
        if (y >= veh.rowTop && y < veh.rowBottom) {
          // Body panels, windows and wheels: blocks of dark and bright,
          // fixed to the vehicle so that the texture moves with it.
          const int by = static_cast<int>(std::floor((y - veh.rowTop) / 6.0f));
          v = ((x / 5 + by) % 2) ? 200 : 30;
        }
      img[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(v);
    }
  return img;
}
