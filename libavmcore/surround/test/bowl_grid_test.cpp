// The bowl object: grid size, creation and failure, seam weight maps.
#include "surround/bowl_grid.h"

#include <gtest/gtest.h>

#include <cmath>

#include "bowl_test_fixture.h"
#include "surround/bowl_mesh.h"

namespace {

TEST(BowlGridSize, FollowsTheFloorExtensionAlongTheVehicle) {
  struct Case {
    float extY;
    int32_t cols, rows;
    float height, focal;
  } cases[] = {
      {20000.0f, 400, 536, 16000.0f, 170.0f}, {14000.5f, 400, 536, 16000.0f, 170.0f},
      {14000.0f, 340, 455, 13600.0f, 144.5f}, {11000.5f, 340, 455, 13600.0f, 144.5f},
      {9000.5f, 280, 375, 11200.0f, 119.0f},  {7000.5f, 240, 321, 9600.0f, 102.00001f},
      {7000.0f, 200, 268, 8000.0f, 85.0f},    {5400.0f, 200, 268, 8000.0f, 85.0f},
  };
  for (const Case& c : cases) {
    int32_t cols = 0, rows = 0;
    float h = 0, f = 0;
    D3DGrid_PickSize(c.extY, &cols, &rows, &h, &f);
    EXPECT_EQ(cols, c.cols) << c.extY;
    EXPECT_EQ(rows, c.rows) << c.extY;
    EXPECT_EQ(h, c.height) << c.extY;
    EXPECT_EQ(f, c.focal) << c.extY;
  }
}

using BowlGridTest = BowlFixture;

TEST_F(BowlGridTest, DefaultCreationAndTheExtendedForms) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->ready, 1);
  EXPECT_EQ(g->meshesBuilt, 0);
  EXPECT_EQ(g->cols, 200);
  EXPECT_EQ(g->rows, 268);
  EXPECT_EQ(g->height, 8000.0f);
  EXPECT_EQ(g->focal, 85.0f);
  EXPECT_EQ(g->projType, 1);
  EXPECT_EQ(g->quadW, 2u * kSampleCamW);
  EXPECT_EQ(g->carW, 1800.0f);
  EXPECT_EQ(g->carL, 4600.0f);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(g->model[c], 2u);

  GridPtr wide(KRV_GlobalImage_Init3DTrianOB_EX(path_.c_str(), 2400, 7000.5f, 6000, 1, 2400, 3400, 4000, 1));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->cols, 240);
  EXPECT_EQ(wide->rows, 321);
  EXPECT_EQ(wide->height, 9600.0f);
  GridPtr edge(KRV_GlobalImage_Init3DTrianOB_EX(path_.c_str(), 2400, 7000.0f, 6000, 1, 2400, 3400, 4000, 1));
  ASSERT_NE(edge, nullptr);
  EXPECT_EQ(edge->cols, 200);
  GridPtr inset(
      KRV_GlobalImage_Init3DTrianOB_EXD(path_.c_str(), 2400, 5400, 6000, 1, 2400, 3400, 4000, 1, 10, 20, 30, 40));
  ASSERT_NE(inset, nullptr);
  EXPECT_EQ(inset->insets[0], 10.0f);
  EXPECT_EQ(inset->insets[3], 40.0f);
}

TEST_F(BowlGridTest, AnUnreadableFileGivesNoHandleAndAMeshRequestOnItIsRefused) {
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB(state_.Path("missing.krv").c_str()), nullptr);
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB(nullptr), nullptr);
  state_.WriteFile("bad.krv", std::string(2000, '\x07'));
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB_EX(state_.Path("bad.krv").c_str(), 1, 2, 3, 4, 5, 6, 7, 8), nullptr);
  EXPECT_EQ(KRV_GlobalImage_Init3DTrianOB_EXD(state_.Path("bad.krv").c_str(), 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0),
            nullptr);

  // The internal object keeps ready 0 and a mesh request gives count 0.
  D3DGrid grid;
  EXPECT_EQ(D3DGrid_Init_New(&grid, state_.Path("missing.krv").c_str(), kBowlDefaultShape,
                             std::vector<float>(4, 0.0f).data()),
            0);
  EXPECT_EQ(grid.ready, 0);
  uint32_t count = 77;
  Generate3DTrian(&grid, 1, 3, &count, nullptr, nullptr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(grid.meshesBuilt, 0);
  count = 77;
  EXPECT_EQ(KRV_GlobalImage_Generate3DTrian(nullptr, 1, 3, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(KRV_GlobalImage_UnInit3DTrianOB(nullptr), 0);
}

TEST_F(BowlGridTest, SeamMapsMarkTheVehicleAndHoldShares) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  float cL, cR, rT, rB;
  D3DGrid_CarEdges(g.get(), &cL, &cR, &rT, &rB);
  // The vehicle: 1800 x 4600 mm seen from 8000 mm with 85 px a radian.
  EXPECT_NEAR(cR - cL, 2 * 85 * std::atan(std::hypot(900.0, 2300.0) / 8000.0) * 900 / std::hypot(900.0, 2300.0), 1e-3);
  int inside = 0;
  for (int32_t r = 0; r < g->rows; ++r)
    for (int32_t c = 0; c < g->cols; ++c) {
      const float a = g->seamA.data[r * g->cols + c], b = g->seamB.data[r * g->cols + c];
      const bool car = c >= cL && c <= cR && r >= rT && r <= rB;
      if (car) {
        EXPECT_EQ(a, -1.0f) << c << "," << r;
        ++inside;
      } else {
        EXPECT_GE(a, 0.0f) << c << "," << r;
        EXPECT_LE(a, 1.0f) << c << "," << r;
      }
      EXPECT_TRUE(b == -1.0f || (b >= 0.0f && b <= 1.0f)) << c << "," << r << " " << b;
    }
  EXPECT_GT(inside, 100);
  // Straight ahead and behind: the front/rear group; beside: the side group.
  EXPECT_EQ(g->seamA.data[5 * g->cols + g->cols / 2], 1.0f);
  EXPECT_EQ(g->seamA.data[(g->rows - 5) * g->cols + g->cols / 2], 1.0f);
  EXPECT_EQ(g->seamA.data[(g->rows / 2) * g->cols + 3], 0.0f);
  EXPECT_EQ(g->seamA.data[(g->rows / 2) * g->cols + g->cols - 3], 0.0f);
}

TEST_F(BowlGridTest, DegenerateSeamFractionsGiveFiniteMaps) {
  const float sets[][4] = {{0, 0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f}, {0.7f, 0.7f, 0.2f, 0.2f}, {0.55f, 0.75f, 0.3f, 0.5f}};
  for (const auto& s : sets) {
    for (int k = 0; k < 4; ++k) gv().config.seamFraction[k] = s[k];
    GridPtr g = Grid();
    ASSERT_NE(g, nullptr);
    int bad = 0;
    for (int32_t i = 0; i < g->cols * g->rows; ++i)
      bad += !std::isfinite(g->seamA.data[i]) || !std::isfinite(g->seamB.data[i]);
    EXPECT_EQ(bad, 0) << s[0] << " " << s[1] << " " << s[2] << " " << s[3];
  }
}

TEST_F(BowlGridTest, AxisWeightsWhenTheFileAsksForThem) {
  BowlRigOptions opt;
  opt.extraParam = 1;
  GridPtr g = GridWith(opt, "axis.krv");
  ASSERT_NE(g, nullptr);
  for (int32_t i = 0; i < g->cols * g->rows; ++i) ASSERT_EQ(g->seamB.data[i], 0.5f);
  // Front band: 1 on the left, 0 on the right; rear band the other way.
  EXPECT_EQ(g->seamA.data[2 * g->cols + 2], 1.0f);
  EXPECT_EQ(g->seamA.data[2 * g->cols + g->cols - 3], 0.0f);
  EXPECT_EQ(g->seamA.data[(g->rows - 3) * g->cols + 2], 0.0f);
  EXPECT_EQ(g->seamA.data[(g->rows - 3) * g->cols + g->cols - 3], 1.0f);
  EXPECT_EQ(g->seamA.data[(g->rows / 2) * g->cols + g->cols / 2], -1.0f);
}

}  // namespace
