#include "toolkit/sampling.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <vector>

namespace {

struct Img {
  std::vector<float> d;
  Matrix m;
  Img(int w, int h, float v = 0.0f) : d(static_cast<size_t>(w * h), v) { m = Matrix{w, h, d.data()}; }
  float& at(int r, int c) { return d[static_cast<size_t>(r * m.cols + c)]; }
};

Img Ramp(int w, int h) {
  Img im(w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) im.at(r, c) = std::sin(0.3f * c) + 0.1f * r * r * 0.01f + 0.02f * c * r;
  return im;
}

TEST(Sampling, BilinearAtTheLastPixelAndAgainstOpenCV) {
  Img im = Ramp(13, 9);
  EXPECT_EQ(Image_SampleBilinear(&im.m, 8.0f, 12.0f), im.at(8, 12));
  EXPECT_EQ(Image_SampleBilinear(&im.m, 8.0f, 11.5f), 0.5f * im.at(8, 11) + 0.5f * im.at(8, 12));
  cv::Mat src(9, 13, CV_32F, im.d.data());
  for (float row : {0.0f, 1.25f, 4.5f, 7.75f})
    for (float col : {0.0f, 2.5f, 6.125f, 11.9f}) {
      cv::Mat mx(1, 1, CV_32F, cv::Scalar(col)), my(1, 1, CV_32F, cv::Scalar(row)), out;
      cv::remap(src, out, mx, my, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
      EXPECT_NEAR(Image_SampleBilinear(&im.m, row, col), out.at<float>(0, 0), 2e-3f) << row << "," << col;
    }
}

TEST(Sampling, RemapZeroForNegativeXAndOffsets) {
  Img im = Ramp(10, 10);
  Img xm(3, 1), ym(3, 1), dst(3, 1, 9.0f);
  xm.d = {-0.5f, 0.0f, 2.0f};
  ym.d = {1.0f, 1.0f, 3.0f};
  Image_RemapBilinear(&im.m, &xm.m, &ym.m, &dst.m, 0, 0);
  EXPECT_EQ(dst.d[0], 0.0f);
  EXPECT_EQ(dst.d[1], im.at(1, 0));
  EXPECT_EQ(dst.d[2], im.at(3, 2));
  Image_RemapBilinear(&im.m, &xm.m, &ym.m, &dst.m, 1, 2);
  EXPECT_EQ(dst.d[0], Image_SampleBilinear(&im.m, 3.0f, 0.5f));
  EXPECT_EQ(dst.d[2], im.at(5, 3));
  MatrixPtr a(Image_RemapBilinearAlloc(&im.m, &xm.m, &ym.m));
  ASSERT_EQ(a->cols, 3);
  EXPECT_EQ(a->data[0], 0.0f);
  EXPECT_EQ(a->data[2], im.at(3, 2));
}

TEST(Sampling, ResizeNearestAndBilinear) {
  Img src(4, 1);
  src.d = {10, 11, 12, 13};
  Img dst(8, 1);
  Image_Resize(&src.m, &dst.m, 1);
  EXPECT_EQ(dst.d, (std::vector<float>{10, 10, 11, 11, 12, 12, 13, 13}));
  Img untouched(8, 1, 5.0f);
  Image_Resize(&src.m, &untouched.m, 3);
  EXPECT_EQ(untouched.d[0], 5.0f);

  // Bilinear halving and doubling agree with OpenCV's linear resize inside.
  Img big = Ramp(40, 30);
  cv::Mat cvsrc(30, 40, CV_32F, big.d.data());
  for (cv::Size sz : {cv::Size(20, 15), cv::Size(80, 60), cv::Size(3000, 4)}) {
    Img out(sz.width, sz.height);
    Image_Resize(&big.m, &out.m, 2);
    cv::Mat ref;
    cv::resize(cvsrc, ref, sz, 0, 0, cv::INTER_LINEAR);
    for (int r = 2; r < sz.height - 2; ++r)
      for (int c = 2; c < sz.width - 2; ++c)
        ASSERT_NEAR(out.at(r, c), ref.at<float>(r, c), 2e-3f) << sz << " " << r << "," << c;
  }
}

TEST(Sampling, RotateAndMirror) {
  Img im = Ramp(21, 21);
  Img same(21, 21);
  Image_Rotate(&im.m, &same.m, 0.0f);
  EXPECT_EQ(same.at(5, 7), im.at(5, 7));
  EXPECT_EQ(same.at(20, 20), 0.0f);  // beyond cols - 2: no source
  Img quarter(21, 21);
  Image_Rotate(&im.m, &quarter.m, static_cast<float>(M_PI / 2));
  // xs = (r - 10) + 10, ys = -(k - 10) + 10.
  EXPECT_NEAR(quarter.at(4, 9), im.at(11, 4), 1e-4f);

  Img mir(21, 21);
  Matrix_MirrorHorizontal(&im.m, &mir.m);
  EXPECT_EQ(mir.at(3, 0), im.at(3, 20));
  Matrix_MirrorHorizontal(&mir.m, &mir.m);
  EXPECT_EQ(mir.d, im.d);
}

TEST(Sampling, Normalize) {
  const float src[4] = {1, 2, 3, -2};
  float dst[4];
  Vec_Normalize(src, dst, 4, 1, 2.0f, 0.0f);
  EXPECT_FLOAT_EQ(dst[0], 0.5f);
  Vec_Normalize(src, dst, 4, 2, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(dst[2], 3.0f / std::sqrt(18.0f));
  Vec_Normalize(src, dst, 4, 4, 1.0f, 0.0f);
  EXPECT_FLOAT_EQ(dst[3], -2.0f / 3.0f);
  Vec_Normalize(src, dst, 4, 3, 0.0f, 10.0f);
  EXPECT_FLOAT_EQ(dst[3], 0.0f);
  EXPECT_FLOAT_EQ(dst[2], 10.0f);
  float keep[2] = {7, 7};
  const float zero[2] = {0, 0};
  Vec_Normalize(zero, keep, 2, 2, 1.0f, 0.0f);
  EXPECT_EQ(keep[0], 7.0f);
  Vec_Normalize(zero, keep, 2, 3, 1.0f, 2.0f);
  EXPECT_EQ(keep[1], 7.0f);
}

TEST(Sampling, RaiseToCornerMin) {
  Img small(100, 20, 0.5f);
  small.at(10, 50) = 0.0f;
  Image_RaiseToCornerMin(&small.m, &small.m);
  EXPECT_EQ(small.at(10, 50), 0.0f);  // 20 rows: nothing happens

  Img im(40, 40, 0.5f);
  im.at(20, 20) = 0.0f;  // dark speck: raised
  im.at(25, 28) = 1.0f;  // bright pixel: lowered
  im.at(5, 5) = 0.0f;    // border: kept
  Image_RaiseToCornerMin(&im.m, &im.m);
  EXPECT_EQ(im.at(20, 20), 0.5f);
  EXPECT_EQ(im.at(25, 28), 0.5f);
  EXPECT_EQ(im.at(5, 5), 0.0f);
}

TEST(Sampling, SuppressNearKeepsTheStrongestOfACluster) {
  PointRecord r[5] = {{0, 0, 0, 1.0f}, {3, 0, 0, 5.0f}, {100, 100, 0, 2.0f}, {4, 1, 0, 4.0f}, {102, 100, 0, 0.5f}};
  Points_SuppressNear(r, 5, 10.0f);
  EXPECT_EQ(r[0].value, 5.0f);  // sorted, strongest first
  int valid = 0;
  for (const PointRecord& p : r) {
    valid += p.valid;
    if (p.value == 5.0f || p.value == 2.0f) {
      EXPECT_EQ(p.valid, 1);
    }
  }
  EXPECT_EQ(valid, 2);
  PointRecord z[2] = {{0, 0, 0, 1.0f}, {0, 0, 0, 2.0f}};
  Points_SuppressNear(z, 2, 0.0f);  // distance 0 suppresses nothing
  EXPECT_EQ(z[0].valid + z[1].valid, 2);
}

TEST(Sampling, RaiseToCornerMinOnBytes) {
  std::vector<uint8_t> px(40 * 40, 128);
  px[20 * 40 + 20] = 0;
  ImageU8 img{40, 40, px.data()};
  ImageU8_RaiseToCornerMin(&img);
  EXPECT_EQ(px[20 * 40 + 20], 128);
  EXPECT_EQ(px[0], 128);
}

}  // namespace
