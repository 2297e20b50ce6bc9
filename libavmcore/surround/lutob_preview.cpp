#include "surround/lutob_preview.h"

#include <algorithm>
#include <vector>

#include "surround/lutob.h"
#include "toolkit/bmp_file.h"
#include "toolkit/sampling.h"

namespace {

bool MapsMatch(const LutConfig& cfg, const Matrix& out) {
  const Matrix* m[5] = {&cfg.X1, &cfg.Y1, &cfg.X2, &cfg.Y2, &cfg.W1};
  for (const Matrix* x : m)
    if (x->data == nullptr || x->cols != out.cols || x->rows != out.rows) return false;
  return true;
}

// Bilinear sample that stays inside the image.
float Sample(const Matrix* img, float row, float col) {
  row = std::min(std::max(row, 0.0f), static_cast<float>(img->rows - 1));
  col = std::min(std::max(col, 0.0f), static_cast<float>(img->cols - 1));
  return Image_SampleBilinear(img, row, col);
}

void Blend(const LutConfig& cfg, const Matrix* image, Matrix* out, bool rangeTest) {
  const size_t n = static_cast<size_t>(out->cols) * out->rows;
  for (size_t i = 0; i < n; ++i) {
    const float x1 = cfg.X1.data[i], y1 = cfg.Y1.data[i], x2 = cfg.X2.data[i], y2 = cfg.Y2.data[i];
    if (rangeTest && !(static_cast<int32_t>(x1) > 1 && static_cast<int32_t>(y1) > 1 &&
                       static_cast<int32_t>(x2) > 1 && static_cast<int32_t>(y2) > 1))
      continue;
    const float w = cfg.W1.data[i];
    out->data[i] = (1.0f - w) * Sample(image, y2, x2) + w * Sample(image, y1, x1);
  }
}

}  // namespace

int32_t LUTOB_RenderPreview(LUTOB* lut, int32_t mode) {
  if (lut == nullptr || lut->previewImage.data == nullptr) return 255;
  Matrix& out = lut->previewImage;
  std::fill(out.data, out.data + static_cast<size_t>(out.cols) * out.rows, 0.0f);
  for (const Matrix* img : lut->cameraImages)
    if (img == nullptr || img->data == nullptr) return 0;
  const LutConfig& cfg = lut->cfg;
  if (!MapsMatch(cfg, out)) return 0;
  const int32_t camW = lut->camW, camH = lut->camH;
  for (const Matrix* img : lut->cameraImages)
    if (img->cols < camW || img->rows < camH) return 0;
  struct Point {
    int32_t x, y, rawY;
    bool upper;
    float v;
  };
  auto take = [&](float fx, float fy) {
    Point p;
    p.x = static_cast<int32_t>(fx);
    p.y = static_cast<int32_t>(fy);
    p.rawY = p.y;
    if (p.x < 0 || p.y < 0) p.x = p.y = 0;
    p.upper = p.y < camH;
    const int cam = (p.upper ? 0 : 2) + (p.x < camW ? 0 : 1);
    const int32_t col = std::min(p.x < camW ? p.x : p.x - camW, camW - 1);
    const int32_t row = std::min(p.upper ? p.y : p.y - camH, camH - 1);
    const Matrix* img = lut->cameraImages[cam];
    p.v = img->data[static_cast<size_t>(row) * img->cols + col];
    return p;
  };
  for (int32_t r = 0; r < out.rows; ++r)
    for (int32_t c = 0; c < out.cols; ++c) {
      const size_t i = static_cast<size_t>(r) * out.cols + c;
      float w = cfg.W1.data[i];
      Point a = take(cfg.X1.data[i], cfg.Y1.data[i]);
      Point b = take(cfg.X2.data[i], cfg.Y2.data[i]);
      float value = 0.0f;
      if (mode == 0 || mode == 3) {
        bool dropB = false;
        if (mode == 0) {
          const bool innerCol = cfg.innerLeft < c && c < cfg.innerRight;
          if ((a.upper && cfg.innerTop < r && r < cfg.innerBottom) || (!a.upper && innerCol)) {
            a.v = 0.0f;
            w = 0.0f;
          }
          dropB = (b.upper && cfg.innerTop <= r && r <= cfg.innerBottom) || (!b.upper && innerCol);
        }
        value = dropB ? a.v : a.v * w + (1.0f - w) * b.v;
      } else if (mode == 1) {
        if (a.rawY > camH) value = a.v;
        else if (b.rawY > camH) value = b.v;
      } else {
        if (a.rawY < camH) value = a.v;
        else if (b.rawY < camH) value = b.v;
      }
      out.data[i] = value;
    }
  return 0;
}

int32_t LUTOB_RenderPreviewFromImage(LUTOB* lut, const Matrix* image) {
  if (lut == nullptr || lut->previewImage.data == nullptr || image == nullptr || image->data == nullptr ||
      image->cols < 1 || image->rows < 1)
    return 255;
  if (MapsMatch(lut->cfg, lut->previewImage)) Blend(lut->cfg, image, &lut->previewImage, true);
  return 0;
}

int32_t LUT_SaveBlendedBmp(const LUTOB* lut, const Matrix* image, const char* path) {
  if (lut == nullptr || image == nullptr || image->data == nullptr || image->cols < 1 || image->rows < 1 ||
      path == nullptr)
    return 1;
  const Matrix& x1 = lut->cfg.X1;
  if (x1.data == nullptr || x1.cols < 1 || x1.rows < 1) return 1;
  std::vector<float> buf(static_cast<size_t>(x1.cols) * x1.rows, 0.0f);
  Matrix out{x1.cols, x1.rows, buf.data()};
  if (!MapsMatch(lut->cfg, out)) return 1;
  Blend(lut->cfg, image, &out, false);
  return Bmp_SaveFloatPlanes(&out, path) != 0 ? 0 : 1;
}
