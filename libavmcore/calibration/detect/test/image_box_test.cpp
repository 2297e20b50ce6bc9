#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "calibration/detect/image_box.h"

TEST(ImageBox, BoxesAreCutToTheImageAndKeepTheirTrueOffset) {
  struct Case {
    int64_t left, top, width, height;
    int32_t ok;
    ImageBox want;
  };
  const Case cases[] = {
      {10, 20, 30, 40, 1, {10, 20, 30, 40}},   // inside
      {-5, -8, 30, 40, 1, {0, 0, 25, 32}},     // past the top-left
      {90, 70, 30, 40, 1, {90, 70, 10, 10}},   // past the bottom-right
      {-10, -10, 200, 200, 1, {0, 0, 100, 80}},
      {100, 0, 10, 10, 0, {0, 0, 0, 0}},       // just right of the image
      {-10, 0, 10, 10, 0, {0, 0, 0, 0}},       // just left of it
      {10, 10, 0, 10, 0, {0, 0, 0, 0}},        // empty
      {10, 10, 10, -3, 0, {0, 0, 0, 0}},
      {INT64_C(1) << 40, 0, 10, 10, 0, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    ImageBox b{-1, -1, -1, -1};
    EXPECT_EQ(c.ok, ImageBox_Clip(100, 80, c.left, c.top, c.width, c.height, &b)) << c.left << "," << c.top;
    EXPECT_EQ(c.want.left, b.left);
    EXPECT_EQ(c.want.top, b.top);
    EXPECT_EQ(c.want.cols, b.cols);
    EXPECT_EQ(c.want.rows, b.rows);
  }
}

TEST(ImageBox, EdgeBoxesConvertTowardZeroAndRefuseNonFiniteValues) {
  ImageBox b;
  ASSERT_EQ(1, ImageBox_ClipEdges(100, 80, 10.7f, 20.2f, 40.5f, 50.9f, &b));
  EXPECT_EQ(10, b.left);
  EXPECT_EQ(20, b.top);
  EXPECT_EQ(29, b.cols);  // int(40.5 - 10.7)
  EXPECT_EQ(30, b.rows);  // int(50.9 - 20.2)
  ASSERT_EQ(1, ImageBox_ClipEdges(100, 80, -20.0f, -20.0f, 20.0f, 20.0f, &b));
  EXPECT_EQ(0, b.left);
  EXPECT_EQ(20, b.cols);
  EXPECT_EQ(0, ImageBox_ClipEdges(100, 80, NAN, 0, 10, 10, &b));
  EXPECT_EQ(0, ImageBox_ClipEdges(100, 80, 0, 0, std::numeric_limits<float>::infinity(), 10, &b));
  EXPECT_EQ(0, ImageBox_ClipEdges(100, 80, 0, 0, 3e9f, 10, &b));
}

TEST(ImageBox, CropsCopyOnlyThePartInside) {
  std::vector<float> img(10 * 8);
  for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<float>(i);
  const Matrix m{10, 8, img.data()};
  std::vector<float> buf;
  Matrix crop;
  ImageBox b;
  ASSERT_EQ(1, Matrix_CropToImage(&m, 7, -2, 6, 4, &buf, &crop, &b));
  EXPECT_EQ(3, crop.cols);
  EXPECT_EQ(2, crop.rows);
  EXPECT_EQ(7, b.left);
  EXPECT_EQ(0, b.top);
  // Element (r, c) of the crop is image (r + top, c + left).
  for (int r = 0; r < crop.rows; ++r)
    for (int c = 0; c < crop.cols; ++c) EXPECT_EQ(img[(r + b.top) * 10 + c + b.left], crop.data[r * crop.cols + c]);
  EXPECT_EQ(0, Matrix_CropToImage(&m, 20, 20, 5, 5, &buf, &crop, &b));
  EXPECT_EQ(nullptr, crop.data);
  EXPECT_EQ(0, Matrix_CropToImage(nullptr, 0, 0, 5, 5, &buf, &crop, &b));
}
