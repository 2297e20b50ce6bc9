// Runs `avmhost birdseye` on the sample rig and checks that the
// stitched picture shows the ground chessboard where the ground geometry of
// the bird's-eye view puts it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "frame/global_variables.h"
#include "frame/data_directory.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "tools/avmhost/test/host_runner.h"
#include "tools/avmsample/sample_rig.h"
#include "testsupport/config_state.h"
#include "toolkit/bmp_file.h"

namespace {

TEST(AvmhostBirdseyeTest, StitchedPictureShowsTheGroundPatternInPlace) {
  ScopedConfigState state;
  const std::string dir = DataDirectory();
  const std::string picture = dir + "/birdseye.bmp";
  std::string out;
  const std::string sample = dir + "/sample";
  ASSERT_TRUE(WriteSampleRig(sample));
  ASSERT_EQ(RunHost("birdseye --data " + sample + " --out " + picture, &out), 0) << out;
  EXPECT_NE(out.find("KRV_GlobalImage_GetLUTOBResult_EX: 0"), std::string::npos) << out;

  // Ground geometry of the same set-up, from the library itself.
  ASSERT_TRUE(SetDataDirectory(sample.c_str()));
  GlobalVariables_InitRuntimeDefaults();
  ASSERT_EQ(GlobalVariables_Init(1), 1);
  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(lut, (sample + "/lut_config.krv").c_str(), nullptr), 1);
  ASSERT_EQ(LUT_GenerateMergerLUT(lut, 0, 0), 0);
  const Matrix& g = lut->cfg.groundTable;
  const int W = lut->cfg.W1.cols, H = lut->cfg.W1.rows;
  ASSERT_EQ(g.rows, W * H);
  const float x0 = g.data[0], y0 = g.data[1];
  const float step = (g.data[3 * (W - 1)] - x0) / (W - 1);
  const float stepY = (g.data[3 * W * (H - 1) + 1] - y0) / (H - 1);
  ASSERT_NEAR(step, stepY, 1e-3f);
  // Output pixels the cameras see: every source inside its camera picture
  // (no camera sees the ground right along the car body).
  const int cw = lut->camW, ch = lut->camH;
  const auto inside = [&](float x, float y) {
    if (x > cw) x -= cw;
    if (y > ch) y -= ch;
    const int ix = static_cast<int>(x + 0.5f), iy = static_cast<int>(y + 0.5f);
    return ix >= 1 && ix <= cw - 2 && iy >= 1 && iy <= ch - 2;
  };
  std::vector<uint8_t> seen(static_cast<size_t>(W) * H, 0);
  const LutConfig& m = lut->cfg;
  for (size_t i = 0; i < seen.size(); ++i)
    seen[i] = inside(m.X1.data[i], m.Y1.data[i]) && (m.W1.data[i] >= 0.9999f || inside(m.X2.data[i], m.Y2.data[i]));
  // Camera pixels per picture pixel at (c, r), along the coarser direction.
  // Where a camera pixel spans more than a picture pixel, the nearest-pixel
  // picture cannot be held to one pixel; those corners are not checked.
  // blendDetail: the coarser of both sources where a pixel blends two.
  // Gradients follow one camera: across a seam the two maps swap sources.
  std::vector<float> detail(static_cast<size_t>(W) * H, 0.0f), blendDetail(detail.size(), 0.0f);
  const auto quadrant = [&](float x, float y) { return (x > cw ? 1 : 0) + (y > ch ? 2 : 0); };
  const auto pixelsPerPixel = [&](size_t i, bool second) {
    const float x = second ? m.X2.data[i] : m.X1.data[i], y = second ? m.Y2.data[i] : m.Y1.data[i];
    const int q = quadrant(x, y);
    const auto at = [&](size_t j, float* u, float* v) {
      const bool other = quadrant(m.X1.data[j], m.Y1.data[j]) != q;
      *u = other ? m.X2.data[j] : m.X1.data[j];
      *v = other ? m.Y2.data[j] : m.Y1.data[j];
    };
    float ax, ay, bx, by, cx, cy, dx, dy;
    at(i - 2, &ax, &ay);
    at(i + 2, &bx, &by);
    at(i - 2 * W, &cx, &cy);
    at(i + 2 * W, &dx, &dy);
    return std::min(std::hypot(bx - ax, by - ay), std::hypot(dx - cx, dy - cy)) / 4;
  };
  for (int r = 2; r < H - 2; ++r)
    for (int c = 2; c < W - 2; ++c) {
      const size_t i = static_cast<size_t>(r) * W + c;
      detail[i] = pixelsPerPixel(i, false);
      blendDetail[i] = m.W1.data[i] >= 0.9999f ? detail[i] : std::min(detail[i], pixelsPerPixel(i, true));
    }
  const std::vector<float> ground(g.data, g.data + 3 * static_cast<size_t>(W) * H);
  LUTOB_Destroy(lut);

  ImageU8* img = Bmp_LoadGrayU8(picture.c_str());
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(img->width, W);
  ASSERT_EQ(img->height, H);
  cv::Mat grey(H, W, CV_8U, img->data);

  const float hw = 1800 / 2.0f, hl = 4600 / 2.0f;  // the sample car
  // Every camera is in the sample: all ground more than 200 mm off the car
  // body is seen (by one camera at least; the blend may lean on either).
  int unseen = 0;
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const float* p = &ground[3 * (static_cast<size_t>(r) * W + c)];
      if (std::fabs(p[0]) < hw + 200.0f && std::fabs(p[1]) < hl + 200.0f) continue;
      if (seen[static_cast<size_t>(r) * W + c] == 0) ++unseen;
    }
  EXPECT_EQ(unseen, 0) << "output pixels off the car that no camera fills";

  // The shade of every seen pixel whose ground point lies more than two
  // camera pixels (the lens blur) plus an output pixel from a square edge:
  // the chessboard across the whole picture, far corners included.
  int shaded = 0, wrongShade = 0;
  for (int r = 2; r < H - 2; ++r)
    for (int c = 2; c < W - 2; ++c) {
      const size_t i = static_cast<size_t>(r) * W + c;
      if (seen[i] == 0 || blendDetail[i] <= 0.0f) continue;
      const float* p = &ground[3 * i];
      const float s = (p[0] - kSampleBoardX0) / kSampleSquare, t = (p[1] - kSampleBoardY0) / kSampleSquare;
      const float fs = std::floor(s), ft = std::floor(t);
      const float edge = std::min(std::min(s - fs, fs + 1 - s), std::min(t - ft, ft + 1 - t)) * kSampleSquare;
      if (edge < 2.0f * step / blendDetail[i] + step) continue;
      const bool dark = ((static_cast<int>(fs) + static_cast<int>(ft)) & 1) == 0;
      const int v = grey.at<uint8_t>(r, c);
      ++shaded;
      if (dark != (v < 125)) {
        if (++wrongShade <= 5)
          ADD_FAILURE() << "pixel (" << c << ", " << r << ") on ground (" << p[0] << ", " << p[1] << ") has grey " << v
                        << ", expected " << (dark ? "dark" : "light");
      }
    }
  EXPECT_EQ(wrongShade, 0) << "of " << shaded;
  EXPECT_GT(shaded, W * H / 3);

  // Chessboard corners over the whole picture, wherever a camera pixel is no
  // larger than an output pixel; every side of the car must contribute.
  int checked = 0, beside[4] = {0, 0, 0, 0};  // front, rear, left, right
  double worst = 0.0;
  for (int j = 1; j < kSampleSquaresY; ++j)
    for (int i = 1; i < kSampleSquaresX; ++i) {
      const float X = kSampleBoardX0 + i * kSampleSquare;
      const float Y = kSampleBoardY0 + j * kSampleSquare;
      // Off the car itself.
      if (std::fabs(X) < hw + 200.0f && std::fabs(Y) < hl + 200.0f) continue;
      const float c = (X - x0) / step, r = (Y - y0) / step;
      if (c < 10 || r < 10 || c > W - 11 || r > H - 11) continue;
      bool visible = true;
      for (int dy = -9; dy <= 9 && visible; ++dy)
        for (int dx = -9; dx <= 9 && visible; ++dx)
          visible = seen[static_cast<size_t>(std::lround(r) + dy) * W + std::lround(c) + dx] != 0;
      if (!visible || detail[static_cast<size_t>(std::lround(r)) * W + std::lround(c)] < 1.0f) continue;
      // A chessboard corner: diagonal quadrants alike, neighbours opposite.
      const int ci = static_cast<int>(std::lround(c)), ri = static_cast<int>(std::lround(r));
      const auto q = [&](int dx, int dy) { return grey.at<uint8_t>(ri + dy, ci + dx); };
      const int a = q(-4, -4), b = q(4, -4), d = q(-4, 4), e = q(4, 4);
      EXPECT_GT(std::abs((a + e) - (b + d)), 150) << "no corner near (" << c << ", " << r << ")";
      std::vector<cv::Point2f> pt = {cv::Point2f(c, r)};
      cv::cornerSubPix(grey, pt, cv::Size(8, 8), cv::Size(-1, -1),
                       cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 40, 0.01));
      const double dist = std::hypot(pt[0].x - c, pt[0].y - r);
      worst = std::max(worst, dist);
      EXPECT_LE(dist, 1.0) << "corner (" << X << ", " << Y << ") expected at (" << c << ", " << r << "), found at ("
                           << pt[0].x << ", " << pt[0].y << ")";
      ++checked;
      if (std::fabs(X) < hw) ++beside[Y < 0 ? 0 : 1];
      if (std::fabs(Y) < hl) ++beside[X < 0 ? 2 : 3];
    }
  EXPECT_GE(checked, 30);
  for (int side = 0; side < 4; ++side) EXPECT_GE(beside[side], 2) << "side " << side;
  printf("%d corners (front %d, rear %d, left %d, right %d), largest offset %.2f px; %d shaded pixels\n", checked,
         beside[0], beside[1], beside[2], beside[3], worst, shaded);
  free(img->data);
  free(img);
  std::error_code ec;
  std::filesystem::remove_all(sample, ec);
}

TEST(AvmhostBirdseyeTest, BadArgumentsAreReported) {
  ScopedConfigState state;
  std::string out;
  EXPECT_EQ(RunHost("birdseye --out /dev/null", &out), 2);
  out.clear();
  EXPECT_EQ(RunHost("birdseye --data " + std::string(DataDirectory()) + " --frame " + DataDirectory() +
                        "/none.bmp --out /dev/null",
                    &out),
            1);
  EXPECT_NE(out.find("none.bmp"), std::string::npos);
}

}  // namespace
