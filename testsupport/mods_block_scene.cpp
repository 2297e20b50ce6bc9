#include "testsupport/mods_block_scene.h"

#include <cmath>
#include <cstdint>
#include <new>

#include "toolkit/matrix_alloc.h"

namespace {

constexpr int32_t kPPP = 50;
constexpr float kCell = 750.0f;  // floor texture cell, mm

}  // namespace

ModsBlockScene::ModsBlockScene(int32_t carWidth, int32_t carLength) {
  // Picture: 3000 mm beyond the side blocks and 3800 mm beyond the front and
  // rear blocks' far ends.
  originX_ = -(carWidth / 2.0f + 4000.0f);
  originY_ = -(carLength / 2.0f + 3800.0f);
  width_ = static_cast<int32_t>((carWidth + 8000) / kPPP);
  height_ = static_cast<int32_t>((carLength + 7600) / kPPP);

  int32_t* C = config_.C;
  C[kAdasLoaded] = 1;
  C[kAdasFrameWidth] = width_;
  C[kAdasFrameHeight] = height_;
  C[kAdasCarWidth] = carWidth;
  C[kAdasCarLength] = carLength;
  C[kAdasFrontOverhang] = 500;
  C[kAdasWheelBase] = 2500;
  C[kAdasEnableMask] = kAdasMODS;
  C[kAdasModsPresent] = 1;
  C[kAdasModsPresent + 1] = kPPP;
  const int32_t fbCols = ((carWidth + 5000) / 50 + 3) / 4 * 4;
  C[kAdasModsCols] = fbCols;
  C[kAdasModsRows] = 72;
  C[kAdasModsSideCols] = 56;
  C[kAdasModsSideRows] = (carLength + 2000) / 50;
  auto table = [&](ImageI32* t, int32_t cols, int32_t rows, auto ground) {
    if (!ImageI32_NewData(t, cols, rows)) throw std::bad_alloc();
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < cols; ++c) {
        float x, y, col, row;
        ground(c, r, &x, &y);
        ToPixel(x, y, &col, &row);
        const int32_t ci = static_cast<int32_t>(std::lround(col)), ri = static_cast<int32_t>(std::lround(row));
        t->data[static_cast<size_t>(r) * cols + c] = ci | (ri << 16);
      }
  };
  const float fbX0 = carWidth / 2.0f + (50.0f * fbCols - carWidth) / 2.0f;
  table(&config_.mods[0], fbCols, 72, [&](int32_t c, int32_t r, float* x, float* y) {
    *x = 50.0f * c - fbX0;
    *y = 50.0f * r - (carLength / 2.0f + 3600.0f);
  });
  table(&config_.mods[1], fbCols, 72, [&](int32_t c, int32_t r, float* x, float* y) {
    *x = 50.0f * c - fbX0;
    *y = carLength / 2.0f + 50.0f * r;
  });
  const int32_t sideRows = C[kAdasModsSideRows];
  table(&config_.mods[2], 56, sideRows, [&](int32_t c, int32_t r, float* x, float* y) {
    *x = 50.0f * c - (carWidth / 2.0f + 2800.0f);
    *y = 50.0f * r - (carLength / 2.0f + 1000.0f);
  });
  table(&config_.mods[3], 56, sideRows, [&](int32_t c, int32_t r, float* x, float* y) {
    *x = carWidth / 2.0f + 50.0f * c;
    *y = 50.0f * r - (carLength / 2.0f + 1000.0f);
  });

  // Smooth value noise, 80..140, repeating every 64 cells.
  noise_.resize(static_cast<size_t>(noiseSide_) * noiseSide_);
  uint32_t s = 12345u;
  for (float& v : noise_) {
    s = s * 1664525u + 1013904223u;
    v = 80.0f + 60.0f * static_cast<float>(s >> 8) / 16777216.0f;
  }
}

ModsBlockScene::~ModsBlockScene() { ADASConfig_Free(&config_); }

void ModsBlockScene::ToPixel(float x, float y, float* col, float* row) const {
  *col = (x - originX_) / kPPP;
  *row = (y - originY_) / kPPP;
}

float ModsBlockScene::Floor(float x, float y) const {
  const float fx = x / kCell + 1000.0f, fy = y / kCell + 1000.0f;  // keep positive
  const int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  const float ax = fx - ix, ay = fy - iy;
  auto at = [&](int32_t i, int32_t j) {
    return noise_[static_cast<size_t>((j % noiseSide_) * noiseSide_ + (i % noiseSide_))];
  };
  // Smoothstep weights: no kinks at the cell edges.
  const float wx = ax * ax * (3 - 2 * ax), wy = ay * ay * (3 - 2 * ay);
  const float top = at(ix, iy) * (1 - wx) + at(ix + 1, iy) * wx;
  const float bottom = at(ix, iy + 1) * (1 - wx) + at(ix + 1, iy + 1) * wx;
  return top * (1 - wy) + bottom * wy;
}

std::vector<uint8_t> ModsBlockScene::Render(float travelled, const std::vector<ModsBox>& boxes) const {
  std::vector<uint8_t> out(static_cast<size_t>(width_) * height_);
  for (int32_t r = 0; r < height_; ++r) {
    for (int32_t c = 0; c < width_; ++c) {
      const float x = originX_ + kPPP * c, y = originY_ + kPPP * r;
      float v = Floor(x, y - travelled);
      for (const ModsBox& b : boxes) {
        const float lx = x - (b.x - b.width / 2), ly = y - (b.y - b.length / 2);
        if (lx < 0 || ly < 0 || lx >= b.width || ly >= b.length) continue;
        // Stripes 100 mm wide across the box.
        v = (static_cast<int32_t>(lx / 100.0f) + static_cast<int32_t>(ly / 100.0f)) % 2 == 0 ? 240.0f : 190.0f;
      }
      out[static_cast<size_t>(r) * width_ + c] = static_cast<uint8_t>(v + 0.5f);
    }
  }
  return out;
}
