#include "toolkit/feature_filters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

TEST(GaborKernel, CentreSymmetryAndWave) {
  std::vector<float> k(7 * 5, -9.0f);
  Matrix m{7, 5, k.data()};  // kw 7, kh 5
  Image_GaborKernel(&m, 7, 5, 2.0f, 0.0f, 4.0f, 0.5f, 0.0f);
  EXPECT_FLOAT_EQ(k[2 * 7 + 3], 1.0f);
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 7; ++c) EXPECT_NEAR(k[r * 7 + c], k[(4 - r) * 7 + (6 - c)], 1e-6f);
  // One pixel from the centre along x: cos(2 pi / 4) = 0.
  EXPECT_NEAR(k[2 * 7 + 4], 0.0f, 1e-6f);
  // Two pixels: cos(pi) * exp(-0.5 * 4 / 4).
  EXPECT_NEAR(k[2 * 7 + 5], -std::exp(-0.5f), 1e-6f);
  EXPECT_FLOAT_EQ(Identity(-3.5f), -3.5f);
}

TEST(Radon, ProjectionKeepsTheMassAndPeaksOnALine) {
  const int w = 21, h = 21;
  std::vector<float> px(w * h, 0.0f);
  for (int r = 0; r < h; ++r) px[r * w + 14] = 1.0f;  // one column
  Matrix img{w, h, px.data()};
  std::vector<float> out(3 * 40, -1.0f);
  Matrix o{40, 3, out.data()};
  Image_Radon(&img, &o, 3, 90.0f, 0.0f);  // 0, 90 and 180 degrees
  for (int k = 0; k < 3; ++k) {
    double sum = 0;
    for (int i = 0; i < 40; ++i) sum += out[k * 40 + i];
    EXPECT_NEAR(sum, 21 * 0.008, 1e-5) << k;  // every pixel lands inside the row
  }
  // At 90 degrees the column projects onto a single position; at 0 degrees
  // it spreads along the row.
  int peak = 0;
  for (int i = 1; i < 40; ++i)
    if (out[40 + i] > out[40 + peak]) peak = i;
  EXPECT_NEAR(out[40 + peak - 1] + out[40 + peak] + out[40 + peak + 1], 21 * 0.008, 1e-5);
  float maxAt0 = 0;
  for (int i = 0; i < 40; ++i) maxAt0 = std::max(maxAt0, out[i]);
  EXPECT_LT(maxAt0, 0.2f * 21 * 0.008f);
}

}  // namespace
