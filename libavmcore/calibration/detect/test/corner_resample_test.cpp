#include <gtest/gtest.h>

#include <vector>

#include "calibration/detect/corner_resample.h"
#include "toolkit/sampling.h"

namespace {

struct Image {
  Image(int w, int h) : data(static_cast<size_t>(w) * h), m{w, h, data.data()} {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) data[static_cast<size_t>(y) * w + x] = 0.001f * x + 0.0007f * y + 0.1f;
  }
  std::vector<float> data;
  Matrix m;
};

void ExpectZeroBorder(const Matrix* m) {
  for (int y = 0; y < m->rows; ++y)
    for (int x = 0; x < m->cols; ++x)
      if (y < 2 || x < 2 || y >= m->rows - 2 || x >= m->cols - 2) {
        ASSERT_EQ(0.0f, m->data[static_cast<size_t>(y) * m->cols + x]) << x << "," << y;
      }
}

}  // namespace

TEST(CornerResample, ForCornersBySizeAndMode) {
  struct Case {
    int w, h, mode;
    int outW, outH;
    float sx, sy;
  };
  const Case cases[] = {
      {1280, 720, 1, 720, 576, 1280.0f / 720.0f, 1.25f},
      {1280, 720, 2, 720, 576, 1280.0f / 720.0f, 1.25f},
      {1280, 720, 0, 1280, 720, 1.0f, 1.0f},
      {720, 480, 2, 720, 576, 1.0f, 480.0f / 576.0f},  // stretched
      {720, 480, 1, 720, 480, 1.0f, 1.0f},
      {720, 576, 2, 720, 576, 1.0f, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " mode " + std::to_string(c.mode));
    Image src(c.w, c.h);
    float sx = 0, sy = 0;
    Matrix* out = ResampleForCorners(&src.m, c.mode, &sx, &sy);
    ASSERT_EQ(c.outW, out->cols);
    ASSERT_EQ(c.outH, out->rows);
    EXPECT_FLOAT_EQ(c.sx, sx);
    EXPECT_FLOAT_EQ(c.sy, sy);
    if (sx == 1.0f && sy == 1.0f) {
      EXPECT_EQ(src.data, std::vector<float>(out->data, out->data + src.data.size()));
    } else {
      ExpectZeroBorder(out);
      // A working pixel is the source sampled at its position times the scales.
      EXPECT_FLOAT_EQ(Image_SampleBilinear(&src.m, 100 * sy, 300 * sx), out->data[100 * out->cols + 300]);
    }
    Matrix_Delete(out);
  }
}

TEST(CornerResample, OtherTargets) {
  float sx = 0, sy = 0;
  Image hd(1280, 720);
  Matrix* a = ResampleTo1280x720(&hd.m, &sx, &sy);
  EXPECT_EQ(1280, a->cols);
  EXPECT_EQ(1.0f, sx);
  EXPECT_EQ(hd.data, std::vector<float>(a->data, a->data + hd.data.size()));
  Matrix_Delete(a);
  Image fhd(1920, 1080);
  Matrix* b = ResampleTo1280x720(&fhd.m, &sx, &sy);
  EXPECT_EQ(720, b->rows);
  EXPECT_FLOAT_EQ(1.5f, sx);
  EXPECT_FLOAT_EQ(1.5f, sy);
  ExpectZeroBorder(b);
  Matrix_Delete(b);

  Matrix* c = ResampleToSize(&fhd.m, 640, 360, &sx, &sy);
  EXPECT_EQ(640, c->cols);
  EXPECT_FLOAT_EQ(3.0f, sx);
  ExpectZeroBorder(c);
  Matrix_Delete(c);

  // Into a destination: one of exactly the source's size is a plain copy.
  std::vector<float> dstData(1280 * 720, -1.0f);
  Matrix dst{1280, 720, dstData.data()};
  ResampleToSizeInto(&hd.m, &dst, &sx, &sy);
  EXPECT_EQ(hd.data, dstData);
  EXPECT_EQ(1.0f, sy);
  std::vector<float> smallData(320 * 180, -1.0f);
  Matrix small{320, 180, smallData.data()};
  ResampleToSizeInto(&hd.m, &small, &sx, &sy);
  EXPECT_FLOAT_EQ(4.0f, sx);
  ExpectZeroBorder(&small);
  EXPECT_FLOAT_EQ(Image_SampleBilinear(&hd.m, 50 * 4.0f, 60 * 4.0f), smallData[50 * 320 + 60]);

  Matrix* d = ResampleByFactor(&hd.m, 0.25f);
  EXPECT_EQ(320, d->cols);
  EXPECT_EQ(180, d->rows);
  EXPECT_FLOAT_EQ(Image_SampleBilinear(&hd.m, 40 / 0.25f, 70 / 0.25f), d->data[40 * 320 + 70]);
  ExpectZeroBorder(d);
  Matrix_Delete(d);
  Matrix* e = ResampleByFactor(&hd.m, 0.003f);  // 3 x 2: all zero
  for (int i = 0; i < e->cols * e->rows; ++i) EXPECT_EQ(0.0f, e->data[i]);
  Matrix_Delete(e);
}
