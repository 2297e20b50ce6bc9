#include <gtest/gtest.h>

#include <vector>

#include "toolkit/thresholds.h"

TEST(HistStretch, CutsBetweenTheDarkAndBrightEnds) {
  // 900 pixels at 0.8 and 100 at 0.2: p 0.5 cuts at 0.5, p 0.9 at 0.74.
  std::vector<float> v(1000, 0.8f);
  for (int i = 0; i < 100; ++i) v[i] = 0.2f;
  v[500] = 0.75f;
  for (float p : {0.5f, 0.9f}) {
    std::vector<float> w = v;
    Matrix m{50, 20, w.data()};
    Image_HistStretch(&m, p);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(i < 100 ? 0.0f : 1.0f, w[i]) << i << " p " << p;
  }
  // A few stray pixels at the ends do not move the cut.
  std::vector<float> w = v;
  w[300] = 0.0f;
  w[301] = 1.0f;
  Matrix m{50, 20, w.data()};
  Image_HistStretch(&m, 0.98f);
  EXPECT_EQ(0.0f, w[500]);  // 0.75 lies below 0.2 + 0.98 x 0.6
  EXPECT_EQ(1.0f, w[301]);
}

TEST(HistStretch, AFlatImageHasNothingToCutOut) {
  std::vector<float> v(400, 0.5f);
  for (int i = 0; i < 400; i += 7) v[i] = 0.52f;
  Matrix m{20, 20, v.data()};
  Image_HistStretch(&m, 0.5f);
  for (float x : v) EXPECT_EQ(0.0f, x);
  Matrix empty{0, 0, nullptr};
  Image_HistStretch(&empty, 0.5f);
}
