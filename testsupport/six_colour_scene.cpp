#include "testsupport/six_colour_scene.h"

#include <new>
#include <cstddef>

#include "testsupport/colour_overlap_scene.h"
#include "toolkit/pixel_formats.h"
#include "toolkit/matrix_alloc.h"

void SixColourScene_RenderRGB(int32_t camW, int32_t camH, const float gains[6][3], std::vector<uint8_t>* frame1,
                              std::vector<uint8_t>* frame2) {
  const float first[4][3] = {{gains[0][0], gains[0][1], gains[0][2]},
                             {gains[1][0], gains[1][1], gains[1][2]},
                             {gains[2][0], gains[2][1], gains[2][2]},
                             {gains[3][0], gains[3][1], gains[3][2]}};
  *frame1 = ColourScene_RenderRGB(camW, camH, first);
  // The rear side cameras: the bottom half of a quad frame rendered with
  // their gains in the bottom quadrants (same ground texture).
  const float rear[4][3] = {{1, 1, 1},
                            {1, 1, 1},
                            {gains[4][0], gains[4][1], gains[4][2]},
                            {gains[5][0], gains[5][1], gains[5][2]}};
  const std::vector<uint8_t> quad = ColourScene_RenderRGB(camW, camH, rear);
  frame2->assign(quad.begin() + static_cast<std::ptrdiff_t>(quad.size() / 2), quad.end());
}

void SixColourScene_RenderNV12(int32_t camW, int32_t camH, const float gains[6][3], std::vector<uint8_t>* frame1,
                               std::vector<uint8_t>* frame2) {
  std::vector<uint8_t> rgb[2];
  SixColourScene_RenderRGB(camW, camH, gains, &rgb[0], &rgb[1]);
  std::vector<uint8_t>* out[2] = {frame1, frame2};
  for (int k = 0; k < 2; ++k) {
    const int32_t W = 2 * camW, H = k == 0 ? 2 * camH : camH;
    out[k]->assign(static_cast<size_t>(W) * H * 3 / 2, 0);
    const Rgb24Image src{W, H, 1, rgb[k].data(), 3 * W};
    const YuvSemiPlanarFrame dst{W, H, out[k]->data(), out[k]->data() + static_cast<size_t>(W) * H, W};
    Rgb24_ToNV12(&src, &dst);
  }
}

MixAreaInfo SixColourScene_MixArea(int32_t camW, int32_t camH, int32_t rows) {
  MixAreaInfo m = ColourScene_MixArea(camW, camH, rows);
  // Same points, second-frame rows: the bottom quadrants moved up by camH.
  for (int t : {11, 15}) ImageI32_SubtractAll(&m.tables[t], camH);
  return m;
}

MixAreaSixEx SixColourScene_SixEx(int32_t camW, int32_t camH, int32_t n) {
  MixAreaSixEx s = MixAreaSixEx_Empty();
  s.valid = 1;
  s.quadCoords = 1;
  s.quadWidth = 2 * camW;
  s.quadHeight = 2 * camH;
  for (int k = 0; k < 8; ++k) {
    ImageI32& t = s.tables[k];
    if (!ImageI32_NewData(&t, n, kMixAreaSixExRows)) throw std::bad_alloc();
    const bool right = k >= 4, rear = (k / 2) % 2 == 1, isY = k % 2 == 1;
    for (int32_t r = 0; r < kMixAreaSixExRows; ++r)
      for (int32_t c = 0; c < n; ++c) {
        const int32_t u = 4 + c * (camW - 8) / n, v = 2 + r * (camH - 4) / kMixAreaSixExRows;
        // Front side cameras in the quad's bottom row; rear ones in the
        // second frame's only row.
        t.data[r * n + c] = isY ? v + (rear ? 0 : camH) : u + (right ? camW : 0);
      }
  }
  return s;
}
