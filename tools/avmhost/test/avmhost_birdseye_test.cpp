// Runs `avmhost birdseye` on its embedded sample data and checks that the
// stitched picture shows the ground chessboard where the ground geometry of
// the bird's-eye view puts it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "frame/global_variables.h"
#include "pipeline/data_directory.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/birdseye_sample.h"
#include "testsupport/config_state.h"
#include "toolkit/bmp_file.h"

namespace {

int RunHost(const std::string& args, std::string* out) {
  const std::string cmd = std::string(AVMHOST_BINARY) + " " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
  const int st = pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

TEST(AvmhostBirdseyeTest, StitchedPictureShowsTheGroundPatternInPlace) {
  ScopedConfigState state;
  const std::string dir = DataDirectory();
  const std::string picture = dir + "/birdseye.bmp";
  std::string out;
  ASSERT_EQ(RunHost("birdseye --out " + picture, &out), 0) << out;
  EXPECT_NE(out.find("KRV_GlobalImage_GetLUTOBResult_EX: 0"), std::string::npos) << out;

  // Ground geometry of the same set-up, from the library itself.
  ASSERT_TRUE(BirdseyeSample_Write(dir));
  GlobalVariables_InitRuntimeDefaults();
  ASSERT_EQ(GlobalVariables_Init(1), 1);
  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(lut, (dir + "/lut_config.krv").c_str(), nullptr), 1);
  ASSERT_EQ(LUT_GenerateMergerLUT(lut, 0, 0), 0);
  const Matrix& g = lut->cfg.groundTable;
  const int W = lut->cfg.W1.cols, H = lut->cfg.W1.rows;
  ASSERT_EQ(g.rows, W * H);
  const float x0 = g.data[0], y0 = g.data[1];
  const float step = (g.data[3 * (W - 1)] - x0) / (W - 1);
  const float stepY = (g.data[3 * W * (H - 1) + 1] - y0) / (H - 1);
  ASSERT_NEAR(step, stepY, 1e-3f);
  LUTOB_Destroy(lut);

  ImageU8* img = Bmp_LoadGrayU8(picture.c_str());
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(img->width, W);
  ASSERT_EQ(img->height, H);
  cv::Mat grey(H, W, CV_8U, img->data);

  const BirdseyeSample s = BirdseyeSample_Describe();
  const float hw = BirdseyeSample::kCarWidth / 2.0f, hl = BirdseyeSample::kCarLength / 2.0f;
  int checked = 0;
  double worst = 0.0;
  for (int j = 1; j < s.ground.squaresY; ++j)
    for (int i = 1; i < s.ground.squaresX; ++i) {
      const float X = s.ground.origin[0] + i * s.ground.squareSize;
      const float Y = s.ground.origin[1] + j * s.ground.squareSize;
      // Ground within 1.5 m of the car body, and off the car itself.
      if (std::fabs(X) > hw + 1500.0f || std::fabs(Y) > hl + 1500.0f) continue;
      if (std::fabs(X) < hw + 200.0f && std::fabs(Y) < hl + 200.0f) continue;
      const float c = (X - x0) / step, r = (Y - y0) / step;
      if (c < 8 || r < 8 || c > W - 9 || r > H - 9) continue;
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
    }
  EXPECT_GE(checked, 40);
  printf("%d corners, largest offset %.2f px\n", checked, worst);
  free(img->data);
  free(img);
}

TEST(AvmhostBirdseyeTest, BadArgumentsAreReported) {
  ScopedConfigState state;
  std::string out;
  EXPECT_EQ(RunHost("birdseye --data " + std::string(DataDirectory()) + " --out /dev/null", &out), 2);
  out.clear();
  EXPECT_EQ(RunHost("birdseye --data " + std::string(DataDirectory()) + " --frame " + DataDirectory() +
                        "/none.bmp --out /dev/null",
                    &out),
            1);
  EXPECT_NE(out.find("none.bmp"), std::string::npos);
}

}  // namespace
