#include "camera/view_utilities.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "camera/camera_model.h"
#include "camera/view_map_repair.h"
#include "camera/view_point_mapping.h"
#include "toolkit/bmp_file.h"
#include "toolkit/sampling.h"

float EdgeCurve_Position(int32_t kind, int32_t n, int32_t i, float k) {
  const float nm1 = static_cast<float>(n - 1), fi = static_cast<float>(i);
  if (kind == 3) return fi * (1.0f + std::pow(k * fi / nm1, 1.5f));
  const float j = nm1 - fi;
  return nm1 - (1.0f + std::pow(k * j / nm1, 1.5f)) * j;
}

float EdgeCurve_Shift(int32_t kind, int32_t n, int32_t i, float k) {
  const float fi = static_cast<float>(i);
  if (kind == 3) return fi * std::pow(k * fi / static_cast<float>(n - 1), 1.5f);
  return fi - EdgeCurve_Position(kind, n, i, k);
}

float LinearRamp(int32_t n, int32_t i) {
  const float fi = static_cast<float>(i);
  return fi * (0.9f + 0.1f * fi / static_cast<float>(n - 1));
}

void UndistortCamera_BuildMap(const UndistortCamera* cam, int32_t mirror, float fovDeg, float divisor,
                              float shiftX, float shiftY, float verticalScale, float rollDeg, Matrix* mx,
                              Matrix* my) {
  const int32_t W = mx->cols, H = mx->rows;
  const long n = static_cast<long>(W) * H;
  for (long i = 0; i < n; ++i) mx->data[i] = my->data[i] = -2.0f;
  if (W < 1 || H < 1) return;
  const float f = (static_cast<float>(W) / 2.0f) / std::tan(fovDeg * 0.017453292f / divisor);
  const float px = static_cast<float>(W) * cam->K.data[2] / static_cast<float>(cam->width) - shiftX;
  const float py = static_cast<float>(H) * cam->K.data[5] / static_cast<float>(cam->height) - shiftY;
  const float roll = rollDeg * 0.017453292f, cs = std::cos(roll), sn = std::sin(roll);
  auto grid = [](int32_t len, int32_t i) { return i < len - 1 ? i : len - 1; };
  for (int32_t i = 0;; i += 8) {
    const int32_t r = grid(H, i);
    for (int32_t j = 0;; j += 8) {
      const int32_t c = grid(W, j);
      const float dx = static_cast<float>(c) - px;
      const float dy = (static_cast<float>(r) - py) * verticalScale;
      const float u = cs * dx - sn * dy, v = cs * dy + sn * dx;
      float cu, cv;
      View_DirectionSplit(u, v, &cu, &cv);
      const float theta = std::atan(std::sqrt(u * u + v * v) / f);
      float sx = -2.0f, sy = -2.0f;
      CameraModel_UndistPointToImage(3, &cam->K, &cam->D, &sx, &sy, 0, theta * divisor, cu, cv);
      const int32_t col = mirror ? W - 1 - c : c;
      const long k = static_cast<long>(r) * W + col;
      if (sx >= 1.0f && sx <= static_cast<float>(cam->width - 1) && sy >= 1.0f &&
          sy <= static_cast<float>(cam->height - 1)) {
        mx->data[k] = sx;
        my->data[k] = sy;
      }
      if (c == W - 1) break;
    }
    if (r == H - 1) break;
  }
  ViewMap_Repair8(mx, my);
}

int BmpUndistortFile(const char* bmpPath, const char* outPath, const UndistortCamera* cam, int32_t width,
                     int32_t height, int32_t mirror, float fovDeg, float divisor, float shiftX, float shiftY,
                     float verticalScale, float rollDeg) {
  if (width < 1 || height < 1) return 0;
  MatrixPtr src(Bmp_LoadGrayFloat(bmpPath, 0));
  if (src == nullptr) return 0;
  std::vector<float> xs(static_cast<size_t>(width) * height), ys(xs.size());
  Matrix mx{width, height, xs.data()}, my{width, height, ys.data()};
  UndistortCamera_BuildMap(cam, mirror, fovDeg, divisor, shiftX, shiftY, verticalScale, rollDeg, &mx, &my);
  // Only sources inside the picture are sampled; the rest stay black.
  for (size_t i = 0; i < xs.size(); ++i)
    if (!(xs[i] >= 1.0f && xs[i] <= src->cols - 1 && ys[i] >= 1.0f && ys[i] <= src->rows - 1)) xs[i] = -1.0f;
  MatrixPtr out(Image_RemapBilinearAlloc(src.get(), &mx, &my));
  const int ok = Bmp_SaveFloatPlanes(out.get(), outPath);
  return ok;
}

void Rgb24UndistortBuffer(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                          const UndistortCamera* cam, int32_t width, int32_t height, int32_t mirror, float fovDeg,
                          float divisor, float shiftX, float shiftY, float verticalScale, float rollDeg) {
  if (src == nullptr || dst == nullptr || width < 1 || height < 1) return;
  std::vector<float> xs(static_cast<size_t>(width) * height), ys(xs.size());
  Matrix mx{width, height, xs.data()}, my{width, height, ys.data()};
  UndistortCamera_BuildMap(cam, mirror, fovDeg, divisor, shiftX, shiftY, verticalScale, rollDeg, &mx, &my);
  for (size_t i = 0; i < xs.size(); ++i) {
    const long x = std::lround(xs[i]), y = std::lround(ys[i]);
    uint8_t* d = dst + 3 * i;
    if (xs[i] >= 1.0f && ys[i] >= 1.0f && x < srcWidth && y < srcHeight) {
      const uint8_t* s = src + 3 * (static_cast<size_t>(y) * srcWidth + x);
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
    } else {
      d[0] = d[1] = d[2] = 0;
    }
  }
}
