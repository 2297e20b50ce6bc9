// Runs `avmhost birdseye --six` on the six-camera sample and checks that the
// stitched picture shows the chessboard floor where the ground geometry of
// the bird's-eye view puts it, above and below the split line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"
#include "testsupport/six_camera_rig.h"
#include "toolkit/bmp_file.h"
#include "tools/avmhost/test/host_runner.h"
#include "tools/avmsample/six_sample.h"

namespace {

TEST(AvmhostBirdseyeSixTest, FloorInPlaceOnBothSidesOfTheSplit) {
  ScopedConfigState state;
  const std::string sample = std::string(DataDirectory()) + "/six";
  const std::string picture = std::string(DataDirectory()) + "/six.bmp";
  ASSERT_TRUE(WriteSixSample(sample));
  std::string out;
  ASSERT_EQ(RunHost("birdseye --six --data " + sample + " --out " + picture, &out), 0) << out;
  EXPECT_NE(out.find("split line at row"), std::string::npos) << out;

  // Ground geometry of the view, from the library itself.
  ASSERT_TRUE(SetDataDirectory(sample.c_str()));
  GlobalVariables_InitRuntimeDefaults();
  ASSERT_EQ(GlobalVariables_Init(1), 1);
  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(LUTOB_LoadConfig(lut, (sample + "/lut_config_a.krv").c_str(), nullptr), 1);
  ASSERT_EQ(LUT_GenerateMergerLUT(lut, 0, 0), 0);
  const int W = lut->cfg.W1.cols, H = lut->cfg.W1.rows;
  const float mm = lut->cfg.mmPerPixel;
  const std::vector<float> ground(lut->cfg.groundTable.data, lut->cfg.groundTable.data + 3 * size_t(W) * H);
  LUTOB_Destroy(lut);

  ImageU8* img = Bmp_LoadGrayU8(picture.c_str());
  ASSERT_NE(img, nullptr);
  ASSERT_EQ(img->width, W);
  ASSERT_EQ(img->height, H);
  const TargetSpec floor = SixCameraRig::Floor();
  int checked[2] = {0, 0}, wrong[2] = {0, 0};
  for (int r = 0; r < H; ++r)
    for (int c = 0; c < W; ++c) {
      const float x = ground[3 * (size_t(r) * W + c)], y = ground[3 * (size_t(r) * W + c) + 1];
      if (std::fabs(x) < 900 + 200 && std::fabs(y) < 2300 + 200) continue;  // the car and its rim
      // Farther out the cameras look at the ground so flatly that one
      // camera pixel spans several picture pixels: a square edge there is
      // wider than the margin below.
      if (std::fabs(x) > 900 + 1200 || std::fabs(y) > 2300 + 1200) continue;
      const float s = (x - floor.origin[0]) / floor.squareSize, t = (y - floor.origin[1]) / floor.squareSize;
      // Two picture pixels clear of every square edge.
      const float margin = 2.0f * mm / floor.squareSize;
      if (std::fabs(s - std::round(s)) < margin || std::fabs(t - std::round(t)) < margin) continue;
      const bool dark = ((static_cast<int>(std::floor(s)) + static_cast<int>(std::floor(t))) & 1) == 0;
      const int v = img->data[size_t(r) * W + c];
      const int half = r < H / 2 ? 0 : 1;
      ++checked[half];
      if (dark ? v > 110 : v < 140) ++wrong[half];
    }
  free(img->data);
  free(img);
  for (int half = 0; half < 2; ++half) {
    EXPECT_GT(checked[half], W * H / 16) << half;
    EXPECT_LT(wrong[half], checked[half] / 100 + 1) << "half " << half << ": " << wrong[half] << " of "
                                                     << checked[half];
  }
}

}  // namespace
