#include "camera/view_lut.h"

#include <cstdlib>
#include <ctime>

void ViewLUT_Encode(int32_t frameWidth, int32_t frameHeight, const Matrix* mapX,
                    const Matrix* mapY, int32_t camera, uint32_t* out) {
  float offX = 0.0f, offY = 0.0f;
  if (camera == 2 || camera == 4) offX = static_cast<float>(frameWidth / 2);
  if (camera == 3 || camera == 4) offY = static_cast<float>(frameHeight / 2);
  const float fw = static_cast<float>(frameWidth), fh = static_cast<float>(frameHeight);
  const long n = static_cast<long>(mapX->cols) * mapX->rows;
  // Without a frame there is no source pixel: every entry is a hole.
  const bool noFrame = frameWidth < 2 || frameHeight < 2;
  // Sources that no frame holds (infinite ones above all) are holes too:
  // their quantised value would not fit the integer conversion.
  constexpr float kFarSource = 16777216.0f;
  for (long i = 0; i < n; ++i) {
    const float x = mapX->data[i], y = mapY->data[i];
    if (noFrame || !(x >= 1.0f) || !(y >= 1.0f) || !(x < kFarSource) || !(y < kFarSource)) {
      out[i] = 0;
      continue;
    }
    const float xq = (offX + x) * 255.0f / fw;
    const float yq = (offY + y) * 255.0f / fh;
    const uint32_t xi = static_cast<uint32_t>(xq), yi = static_cast<uint32_t>(yq);
    const uint32_t xf = static_cast<uint32_t>((xq - static_cast<float>(xi)) * 127.0f);
    const uint32_t yf = static_cast<uint32_t>((yq - static_cast<float>(yi)) * 127.0f);
    out[i] = (xi & 0xFFu) | ((yi & 0xFFu) << 8) | ((yf & 0xFFu) << 16) | ((xf & 0xFFu) << 24);
  }
}

namespace {

int32_t ClampRow(int32_t r, int32_t h) { return r < 0 ? 0 : (r > h - 1 ? h - 1 : r); }

}  // namespace

void ViewMap_FillHoles(Matrix* mapX, Matrix* mapY) {
  const int32_t w = mapX->cols, h = mapX->rows;
  if (w < 12 || h < 1) return;
  float* mx = mapX->data;
  float* my = mapY->data;
  srand(static_cast<unsigned>(time(nullptr)));
  // Source rows are kept inside the map: short views (below 16 rows) would
  // otherwise reach above the first or below the last row.
  for (int32_t r = h / 2; r < h; ++r) {
    for (int32_t c = 11; c < w; ++c) {
      const long i = static_cast<long>(r) * w + c;
      if (mx[i] >= 1.0f && my[i] >= 3.0f) continue;
      const int32_t dc = rand() % 8 + 1;
      const int32_t dr = rand() % 8;
      const long s = static_cast<long>(ClampRow(r - dr, h)) * w + (c - dc);
      mx[i] = mx[s];
      my[i] = my[s];
    }
  }
  for (int32_t r = h / 2; r >= 0; --r) {
    for (int32_t c = 11; c < w; ++c) {
      const long i = static_cast<long>(r) * w + c;
      if (mx[i] >= 1.0f && my[i] >= 3.0f) continue;
      const int32_t dc = rand() % 8 + 1;
      const int32_t dr = rand() % 8;
      int32_t sr = r + dr;
      if (sr < 3) sr = 3;
      const long s = static_cast<long>(ClampRow(sr, h)) * w + (c - dc);
      mx[i] = mx[s];
      my[i] = my[s];
    }
  }
}

void CutView_FillHoles(Matrix* mapX, Matrix* mapY, int32_t camera) {
  const int32_t w = mapX->cols, h = mapX->rows;
  if (w < 12 || h < 1) return;
  float* mx = mapX->data;
  float* my = mapY->data;
  srand(static_cast<unsigned>(time(nullptr)));
  for (int32_t r = 0; r < h; ++r) {
    const bool left = camera == 3;
    for (int32_t k = 0; k < w - 11; ++k) {
      const int32_t c = left ? 11 + k : w - 12 - k;
      const long i = static_cast<long>(r) * w + c;
      if (mx[i] >= 1.0f && my[i] >= 1.0f) continue;
      const int32_t dc = rand() % 10 + 1;
      int32_t dr = rand() % 4;
      if (dr > r) dr = r;
      const long s = static_cast<long>(r - dr) * w + (left ? c - dc : c + dc);
      mx[i] = mx[s];
      my[i] = my[s];
    }
  }
}
