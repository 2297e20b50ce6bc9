#include "surround/byte_lut_file.h"
#include "frame/log.h"

#include <cstdio>
#include <vector>

#include "surround/ground_grid.h"
#include "surround/krv_image.h"
#include "surround/lutob.h"

namespace {

int32_t PackAndSave(const LUTOB* lut, const Matrix& X1, const Matrix& Y1, const Matrix& X2, const Matrix& Y2,
                    const Matrix& W1, const Matrix& W2, const int32_t body[4], const char* path) {
  const int32_t W = X1.cols, H = X1.rows;
  std::vector<uint8_t> bytes[4];
  ImageU8 planes[4];
  for (int k = 0; k < 4; ++k) {
    bytes[k].assign(static_cast<size_t>(W) * 2 * H, 0);
    planes[k] = ImageU8{W, 2 * H, bytes[k].data()};
  }
  LUT_PackBytePlanes(&planes[0], &planes[1], &planes[2], &planes[3], &X1, &Y1, &X2, &Y2, &W1, &W2, 2 * lut->camW,
                     2 * lut->camH);
  // Each pair is written second word first: the file carries left, top,
  // right, bottom.
  const int32_t pair1[2] = {body[1], body[0]};
  const int32_t pair2[2] = {body[3], body[2]};
  return KRVImage_Save(&planes[0], &planes[1], &planes[2], &planes[3], pair1, pair2, path) == 1 ? 0 : -1;
}

}  // namespace

int32_t LUT_GenerateByteLUTFile(LUTOB* lut, const char* krvPath, const char* cfgPath) {
  if (lut == nullptr) return -1;
  int32_t result = 0;
  const LutConfig& c = lut->cfg;
  if (krvPath != nullptr && krvPath[0] != '\0') {
    if (c.X1.data == nullptr) {
      AvmLog("LUT_GenerateByteLUTFile: no maps\n");
      result = -1;
    } else {
      const int32_t body[4] = {c.carLeft, c.carTop, c.carRight, c.carBottom};
      if (PackAndSave(lut, c.X1, c.Y1, c.X2, c.Y2, c.W1, c.W2, body, krvPath) != 0) result = -1;
    }
  }
  if (cfgPath != nullptr && cfgPath[0] != '\0' && SaveLUTConfig(lut, cfgPath) != 1) result = -1;
  return result;
}

int32_t LUT_GenerateNewByteLUTFile(LUTOB* lut, const char* path, int32_t width, int32_t height, int32_t margin,
                                   int32_t yOffset, int32_t box[4]) {
  AvmLog("LUT_GenerateNewByteLUTFile %d %d %d %d \n", width, height, margin, yOffset);
  if (lut == nullptr || width < 1 || height < 1) return -1;
  const size_t n = static_cast<size_t>(width) * height;
  std::vector<float> buf[6];
  for (auto& b : buf) b.assign(n, 0.0f);
  GroundGridMaps m{};
  Matrix* maps[6] = {&m.W1, &m.W2, &m.X1, &m.Y1, &m.X2, &m.Y2};
  for (int k = 0; k < 6; ++k) *maps[k] = Matrix{width, height, buf[k].data()};
  LUT_BuildGroundGrid(lut, width, height, margin, yOffset, &m);
  if (box != nullptr)
    for (int k = 0; k < 4; ++k) box[k] = m.box[k];
  if (path == nullptr) return -1;
  return PackAndSave(lut, m.X1, m.Y1, m.X2, m.Y2, m.W1, m.W2, m.box, path);
}
