#include "testsupport/colour_overlap_scene.h"

#include <new>
#include <cmath>
#include <cstdlib>

#include "toolkit/pixel_formats.h"
#include "toolkit/matrix_alloc.h"

namespace {

// Low-saturation ground with a gentle texture, bright enough that
// ln(v + 1) follows ln(v) closely.
void Ground(int32_t u, int32_t v, float rgb[3]) {
  const float t = 18.0f * std::sin(0.11f * u) * std::cos(0.07f * v) + 10.0f * std::sin(0.023f * (u + 2 * v));
  rgb[0] = 170.0f + t;
  rgb[1] = 160.0f + t;
  rgb[2] = 150.0f + t;
}

uint8_t Clamp(float v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : std::lround(v))); }

}  // namespace

std::vector<uint8_t> ColourScene_RenderRGB(int32_t camW, int32_t camH, const float gains[4][3], int32_t shift) {
  const int32_t W = 2 * camW, H = 2 * camH;
  std::vector<uint8_t> rgb(static_cast<size_t>(W) * H * 3);
  for (int32_t y = 0; y < H; ++y)
    for (int32_t x = 0; x < W; ++x) {
      const int k = (y >= camH ? 2 : 0) + (x >= camW ? 1 : 0);
      float g[3];
      Ground(x % camW + shift, y % camH, g);
      uint8_t* p = &rgb[(static_cast<size_t>(y) * W + x) * 3];
      for (int c = 0; c < 3; ++c) p[c] = Clamp(g[c] * gains[k][c]);
    }
  return rgb;
}

std::vector<uint8_t> ColourScene_RenderNV12(int32_t camW, int32_t camH, const float gains[4][3], int32_t shift) {
  std::vector<uint8_t> rgb = ColourScene_RenderRGB(camW, camH, gains, shift);
  const int32_t W = 2 * camW, H = 2 * camH;
  std::vector<uint8_t> nv12(static_cast<size_t>(W) * H * 3 / 2);
  const Rgb24Image src{W, H, 1, rgb.data(), 3 * W};
  const YuvSemiPlanarFrame dst{W, H, nv12.data(), nv12.data() + static_cast<size_t>(W) * H, W};
  Rgb24_ToNV12(&src, &dst);
  return nv12;
}

MixAreaInfo ColourScene_MixArea(int32_t camW, int32_t camH, int32_t rows) {
  MixAreaInfo m = MixAreaInfo_Empty();
  m.valid = 1;
  m.quadCoords = 1;
  m.quadWidth = 2 * camW;
  m.quadHeight = 2 * camH;
  m.bandColumns = kMixAreaBandColumns;
  m.frontRows = rows;
  m.rearRows = rows;
  // Region: first-pair tables, second-pair tables, camera P, camera Q.
  const int32_t regions[4][4] = {{0, 8, 0, 2}, {2, 12, 0, 3}, {4, 10, 1, 2}, {6, 14, 1, 3}};
  for (const auto& r : regions)
    for (int side = 0; side < 2; ++side) {
      const int32_t t = r[side], cam = r[2 + side];
      const int32_t ox = (cam % 2) * camW, oy = (cam / 2) * camH;
      for (int32_t k = 0; k < 2; ++k) {
        ImageI32& img = m.tables[t + k];
        if (!ImageI32_NewData(&img, kMixAreaBandColumns, rows)) throw std::bad_alloc();
        for (int32_t row = 0; row < rows; ++row)
          for (int32_t col = 0; col < kMixAreaBandColumns; ++col) {
            const int32_t u = 4 + col * (camW - 8) / kMixAreaBandColumns;
            const int32_t v = 2 + row * (camH - 4) / rows;
            img.data[row * kMixAreaBandColumns + col] = k == 0 ? ox + u : oy + v;
          }
      }
    }
  return m;
}
