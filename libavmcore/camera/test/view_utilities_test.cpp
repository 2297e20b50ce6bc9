#include "camera/view_utilities.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "camera/grid_lut_file.h"
#include "frame/lens_table.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "toolkit/bmp_file.h"

namespace {

std::string Temp(const char* name) { return "/tmp/viewutil_" + std::to_string(getpid()) + "_" + name; }

// Grey picture with a smooth pattern, saved as a BMP.
std::vector<float> SavePattern(const std::string& path, int w, int h) {
  std::vector<float> px(static_cast<size_t>(w) * h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) px[r * w + c] = 0.5f + 0.4f * std::sin(c * 0.05f) * std::cos(r * 0.07f);
  Matrix m{w, h, px.data()};
  EXPECT_EQ(Bmp_SaveFloatPlanes(&m, path.c_str()), 1);
  return px;
}

// What a grey float picture becomes after a BMP write and read (the reader
// takes the luma of the stored bytes).
std::vector<float> ThroughBmp(const std::vector<float>& px, int w, int h) {
  const std::string path = Temp("through.bmp");
  Matrix m{w, h, const_cast<float*>(px.data())};
  EXPECT_EQ(Bmp_SaveFloatPlanes(&m, path.c_str()), 1);
  Matrix* back = Bmp_LoadGrayFloat(path.c_str(), 0);
  std::vector<float> out(back->data, back->data + static_cast<size_t>(w) * h);
  free(back->data);
  free(back);
  unlink(path.c_str());
  return out;
}

TEST(ViewUtilities, CurvesAndRamp) {
  EXPECT_FLOAT_EQ(EdgeCurve_Position(3, 11, 10, 1.0f), 20.0f);
  EXPECT_FLOAT_EQ(EdgeCurve_Shift(3, 11, 10, 1.0f), 10.0f);
  EXPECT_FLOAT_EQ(EdgeCurve_Position(1, 11, 0, 1.0f), -10.0f);
  EXPECT_FLOAT_EQ(EdgeCurve_Shift(1, 11, 0, 1.0f), 10.0f);
  EXPECT_FLOAT_EQ(EdgeCurve_Position(1, 11, 10, 1.0f), 10.0f);
  EXPECT_FLOAT_EQ(LinearRamp(11, 10), 10.0f);
  EXPECT_FLOAT_EQ(LinearRamp(11, 5), 5.0f * 0.95f);
}

TEST(ViewUtilities, GridLutAppliedToAPicture) {
  const std::string bmp = Temp("src.bmp"), grid = Temp("grid.krv"), out = Temp("out.bmp");
  SavePattern(bmp, 200, 150);
  Matrix* loaded = Bmp_LoadGrayFloat(bmp.c_str(), 0);
  ASSERT_NE(loaded, nullptr);
  // Map: a shifted window of the picture, with a band of sources far beyond
  // it that must give black instead of a read outside the picture.
  const int w = 100, h = 80;
  std::vector<float> xs(w * h), ys(w * h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      xs[r * w + c] = c < 90 ? c + 10.0f : 4000.0f + c;
      ys[r * w + c] = r + 5.0f;
    }
  Matrix mx{w, h, xs.data()}, my{w, h, ys.data()};
  ASSERT_EQ(GridLUT_WriteFile(&mx, &my, -1, grid.c_str()), 1);
  ASSERT_EQ(GridLUT_ApplyToBmp(grid.c_str(), bmp.c_str(), out.c_str()), 1);
  Matrix* res = Bmp_LoadGrayFloat(out.c_str(), 0);
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(res->cols, w);
  std::vector<float> want(w * h, 0.0f);  // no source: black
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < 90; ++c) want[r * w + c] = loaded->data[(r + 5) * 200 + c + 10];
  want = ThroughBmp(want, w, h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < 88; ++c) ASSERT_NEAR(res->data[r * w + c], want[r * w + c], 1.0f / 255) << r << "," << c;
  free(loaded->data);
  free(loaded);
  EXPECT_NEAR(res->data[10 * w + 95], want[10 * w + 95], 1.0f / 255);  // black
  free(res->data);
  free(res);
  EXPECT_EQ(GridLUT_ApplyToBmp("/nonexistent/grid.krv", bmp.c_str(), out.c_str()), 0);
  EXPECT_EQ(GridLUT_ApplyToBmp(grid.c_str(), "/nonexistent/src.bmp", out.c_str()), 0);
  for (auto& p : {bmp, grid, out}) unlink(p.c_str());
}

TEST(ViewUtilities, UndistortionOfAFisheyePicture) {
  ScopedConfigState state;
  EquidistantTable t;
  ASSERT_TRUE(LensTableFixture_Write(state.dir(), 4, t));
  LensTableFixture_Install(state.dir(), 4);
  ASSERT_NE(LensTable_Current()->heightTable, nullptr);
  float K[9] = {1, 0, 100, 0, 1, 75, 0, 0, 1}, D[8] = {12};
  UndistortCamera cam{Matrix{3, 3, K}, Matrix{8, 1, D}, 200, 150};
  const std::string bmp = state.dir() + "/fish.bmp", out = state.dir() + "/flat.bmp";
  const std::vector<float> src = SavePattern(bmp, 200, 150);
  ASSERT_EQ(BmpUndistortFile(bmp.c_str(), out.c_str(), &cam, 120, 90, 0, 100.0f, 2.0f, 0, 0, 1.0f, 0.0f), 1);
  Matrix* res = Bmp_LoadGrayFloat(out.c_str(), 0);
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(res->cols, 120);
  // The packed form copies the nearest source pixel of the same map: both
  // pictures agree wherever the pattern is smooth, and the view centre shows
  // the picture centre.
  Matrix* loaded = Bmp_LoadGrayFloat(bmp.c_str(), 0);
  ASSERT_NE(loaded, nullptr);
  std::vector<uint8_t> rgb(200 * 150 * 3), flat(120 * 90 * 3, 7);
  for (size_t i = 0; i < src.size(); ++i)
    rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = static_cast<uint8_t>(loaded->data[i] * 255.0f + 0.5f);
  Rgb24UndistortBuffer(rgb.data(), 200, 150, flat.data(), &cam, 120, 90, 0, 100.0f, 2.0f, 0, 0, 1.0f, 0.0f);
  std::vector<float> nearest(120 * 90);
  for (int i = 0; i < 120 * 90; ++i) nearest[i] = flat[3 * i] / 255.0f;
  nearest = ThroughBmp(nearest, 120, 90);
  int close = 0;
  for (int i = 0; i < 120 * 90; ++i) close += std::fabs(nearest[i] - res->data[i]) < 0.03f;
  EXPECT_GT(close, 120 * 90 * 9 / 10);
  EXPECT_NEAR(nearest[45 * 120 + 60], res->data[45 * 120 + 60], 0.03f);
  free(loaded->data);
  free(loaded);
  free(res->data);
  free(res);
  EXPECT_EQ(BmpUndistortFile("/nonexistent.bmp", out.c_str(), &cam, 120, 90, 0, 100.0f, 2.0f, 0, 0, 1.0f, 0.0f), 0);
}

}  // namespace
