#include "calibration/detect/image_box.h"

#include <algorithm>
#include <cmath>

#include "toolkit/matrix.h"

int32_t ImageBox_Clip(int32_t imageCols, int32_t imageRows, int64_t left, int64_t top, int64_t width,
                      int64_t height, ImageBox* box) {
  *box = ImageBox{0, 0, 0, 0};
  if (imageCols < 1 || imageRows < 1 || width < 1 || height < 1) return 0;
  const int64_t l = std::max<int64_t>(left, 0), t = std::max<int64_t>(top, 0);
  const int64_t r = std::min<int64_t>(left + width, imageCols), b = std::min<int64_t>(top + height, imageRows);
  if (l >= r || t >= b) return 0;
  *box = ImageBox{static_cast<int32_t>(l), static_cast<int32_t>(t), static_cast<int32_t>(r - l),
                  static_cast<int32_t>(b - t)};
  return 1;
}

int32_t ImageBox_ClipEdges(int32_t imageCols, int32_t imageRows, float left, float top, float right, float bottom,
                           ImageBox* box) {
  *box = ImageBox{0, 0, 0, 0};
  // Far beyond any image: keeps the conversions below in range.
  const float kFar = 1.0e9f;
  for (float v : {left, top, right, bottom})
    if (!std::isfinite(v) || std::fabs(v) > kFar) return 0;
  const auto width = static_cast<int64_t>(right - left), height = static_cast<int64_t>(bottom - top);
  return ImageBox_Clip(imageCols, imageRows, static_cast<int64_t>(left), static_cast<int64_t>(top), width, height,
                       box);
}

int32_t Matrix_CropToImage(const Matrix* image, int64_t left, int64_t top, int64_t width, int64_t height,
                           std::vector<float>* buffer, Matrix* crop, ImageBox* box) {
  *crop = Matrix{0, 0, nullptr};
  if (image == nullptr || image->data == nullptr ||
      ImageBox_Clip(image->cols, image->rows, left, top, width, height, box) == 0)
    return 0;
  buffer->assign(static_cast<size_t>(box->cols) * static_cast<size_t>(box->rows), 0.0f);
  *crop = Matrix{box->cols, box->rows, buffer->data()};
  Matrix_CopyBlock(image, crop, box->cols, box->rows, box->left, box->top, 0, 0);
  return 1;
}
