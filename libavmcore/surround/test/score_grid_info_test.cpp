#include "surround/score_grid_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "surround/lutob.h"
#include "testsupport/config_state.h"

namespace {

class ScoreGrid : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    gv().f3 = 60;
    gv().f5 = 100;
  }
  std::string WriteConfig(int32_t carLength) {
    std::vector<float> pts(4 * kLutobHandPoints, 1.0f);
    LUTOB* lut = LUTOB_Create();
    EXPECT_EQ(LUTOB_BuildFromHand(lut, 1800, carLength, 0, 500, 2800, 2, 640, 480, pts.data(), pts.data()), 0);
    const std::string path = state_.Path("lut_config_" + std::to_string(carLength) + ".krv");
    EXPECT_EQ(SaveLUTConfig(lut, path.c_str()), 1);
    LUTOB_Destroy(lut);
    return path;
  }
};

TEST_F(ScoreGrid, BuildsFromTheParameterFile) {
  const std::string path = WriteConfig(4600);
  ScoreGridInfo grid{};
  ASSERT_EQ(ScoreGridInfo_Build(&grid, path.c_str()), 1);
  EXPECT_EQ(grid.valid, 1u);
  EXPECT_EQ(grid.flag, 1u);
  EXPECT_EQ(grid.camW, 320);
  EXPECT_EQ(grid.camH, 240);
  for (int t = 0; t < 8; ++t) {
    ASSERT_EQ(grid.tables[t].width, 5);
    ASSERT_EQ(grid.tables[t].height, 3);
  }
  // The hand-built set-up holds no camera poses, so no point lands in an
  // image: (-1, -1) plus the side camera's quadrant offset.
  EXPECT_EQ(grid.tables[0].data[0], -1);
  EXPECT_EQ(grid.tables[1].data[0], -1 + 240);
  EXPECT_EQ(grid.tables[2].data[4], -1 + 320);
  int32_t* kept = grid.tables[0].data;
  EXPECT_EQ(ScoreGridInfo_Build(&grid, "/nonexistent"), 1);  // already valid
  EXPECT_EQ(grid.tables[0].data, kept);
  ScoreGridInfo_Release(&grid);
  EXPECT_EQ(grid.valid, 0u);
  EXPECT_EQ(grid.tables[0].data, nullptr);
}

TEST_F(ScoreGrid, ShortCarsAndMissingFilesLeaveItInvalid) {
  ScoreGridInfo grid{};
  EXPECT_EQ(ScoreGridInfo_Build(&grid, WriteConfig(2999).c_str()), 0);
  EXPECT_EQ(grid.valid, 0u);
  EXPECT_EQ(ScoreGridInfo_Build(&grid, state_.Path("missing.krv").c_str()), 0);
  EXPECT_EQ(grid.tables[0].data, nullptr);
  ScoreGridInfo_Release(&grid);
}

}  // namespace
