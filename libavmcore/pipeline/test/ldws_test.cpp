#include "pipeline/ldws.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "testsupport/adas_road_scene.h"

namespace {

// The sample rig on a road with two painted lines 3.5 m apart, drawn through
// its cameras and read back through its LDWS table.
class LdwsRoadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    rig_ = new AdasSampleRig();
    renderer_ = new AdasRoadRenderer(*rig_, 4600.0f, 9400.0f, 25.0f);
  }
  static void TearDownTestSuite() {
    delete renderer_;
    delete rig_;
  }
  void SetUp() override {
    ADAS_GenerateTablesFromRig(&cfg_, rig_->rig, kAdasLDWS);
    ASSERT_EQ(LDWS_Init(&s_, &cfg_, 0, 0), 1);
    const int32_t A = cfg_.C[12], B = cfg_.C[13], D = cfg_.C[16];
    ASSERT_EQ(Hough_Create(&hough_, s_.columns, s_.rows, 51, 26, A * D / (A + B), 1.0f, 0.017453292f, 1.134464f), 1);
    const size_t cells = static_cast<size_t>(s_.columns) * s_.rows;
    block_.assign(cells, 0.0f);
    thin_.assign(cells, 0.0f);
    work_.assign(cells * 4 + static_cast<size_t>(24) * s_.rows * 4, 0.0f);
  }
  void TearDown() override {
    Hough_Destroy(&hough_);
    LDWS_Release(&s_);
    ADASConfig_Free(&cfg_);
  }
  // One frame with the lines at x = offset -/+ 1750 (car frame, mm).
  void Frame(float offset, uint32_t now) {
    auto paint = [offset](float x, float) -> uint8_t {
      const float l = offset - 1750.0f, r = offset + 1750.0f;
      return (std::fabs(x - l) < 75.0f || std::fabs(x - r) < 75.0f) ? 230 : 80;
    };
    std::vector<uint8_t> f = renderer_->Render(paint);
    LDWS_InputLuma(&s_, f.data(), block_.data());
    LDWS_ExtractLinePoints(&s_, block_.data(), thin_.data(), work_.data());
    HoughSegment segs[16];
    int32_t n = 0;
    LDWS_FindSegments(&hough_, thin_.data(), s_.columns, s_.rows, segs, &n);
    LDWS_StepAt(&s_, segs, n, now);
  }
  float Column(float x) const { return (x + 4475.0f) / 50.0f; }

  static AdasSampleRig* rig_;
  static AdasRoadRenderer* renderer_;
  ADASConfig cfg_{};
  LDWSState s_;
  Hough hough_{};
  std::vector<float> block_, thin_, work_;
};

AdasSampleRig* LdwsRoadTest::rig_ = nullptr;
AdasRoadRenderer* LdwsRoadTest::renderer_ = nullptr;

}  // namespace

TEST_F(LdwsRoadTest, GeometryAndMargins) {
  EXPECT_EQ(s_.columns, 180);
  EXPECT_EQ(s_.rows, 280);
  EXPECT_EQ(s_.cell, 50);
  EXPECT_EQ(s_.refRow, 140);
  EXPECT_EQ(s_.minLane, 48);
  EXPECT_EQ(s_.maxLane, 106);
  EXPECT_EQ(s_.nominal, 64);
  EXPECT_EQ(s_.narrow, 56);
  EXPECT_EQ(s_.wide, 80);
  const int32_t w0 = s_.widthCells;
  LDWS_SetMargin(&s_, 1);
  EXPECT_EQ(s_.widthCells, w0 + 6);
  LDWS_SetMargin(&s_, -1);
  EXPECT_EQ(s_.widthCells, w0 - 4);
  LDWS_SetMargin(&s_, 0);
  EXPECT_EQ(s_.rightBound - s_.leftBound, w0 / 2 * 2 + 1);
}

TEST_F(LdwsRoadTest, ResultRuleHoldsAndSuppressesRepeats) {
  LDWS_UpdateResult(&s_, 4, 2000);
  EXPECT_EQ(s_.result.load(), 4);
  LDWS_UpdateResult(&s_, 0, 2300);  // within the 300 ms hold
  EXPECT_EQ(s_.result.load(), 4);
  LDWS_UpdateResult(&s_, 0, 2301);
  EXPECT_EQ(s_.result.load(), 0);
  LDWS_UpdateResult(&s_, 3, 3000);  // within 1500 ms of the last start
  EXPECT_EQ(s_.result.load(), 0);
  LDWS_UpdateResult(&s_, 3, 3501);
  EXPECT_EQ(s_.result.load(), 3);
}

TEST_F(LdwsRoadTest, StraightDrivingFindsTheLinesAndNeverWarns) {
  uint32_t now = 0;
  for (int f = 0; f < 45; ++f, now += 40) {
    Frame(0.0f, now);
    ASSERT_EQ(s_.result.load(), 0) << f;
  }
  ASSERT_EQ(s_.laneTracked.load(), 1);
  // Within 100 mm (2 cells) of the painted lines at the reference row.
  EXPECT_NEAR(s_.left->filtColumn, Column(-1750.0f), 2.0f);
  EXPECT_NEAR(s_.right->filtColumn, Column(1750.0f), 2.0f);
  EXPECT_NEAR(s_.filteredWidth, 70.0f, 2.0f);
}

TEST_F(LdwsRoadTest, DriftToTheRightWarnsForTheRightLine) {
  uint32_t now = 0;
  int f = 0;
  for (; f < 30; ++f, now += 40) Frame(0.0f, now);
  ASSERT_EQ(s_.laneTracked.load(), 1);
  // Drifting right at 24 mm a frame: the lines move left in the car's frame.
  const float step = 24.0f;
  // First frame whose predicted right-line column (12 frames ahead) lies
  // inside the vehicle's boundary columns.
  int expected = -1, warned = -1;
  for (int k = 1; k <= 60 && expected < 0; ++k)
    if (Column(1750.0f - step * k) - 12.0f * step / 50.0f <= s_.rightBound) expected = k;
  ASSERT_GT(expected, 0);
  for (int k = 1; k <= 60; ++k, now += 40) {
    Frame(-step * k, now);
    if (s_.result.load() != 0) {
      warned = k;
      break;
    }
  }
  ASSERT_GT(warned, 0);
  EXPECT_EQ(s_.result.load(), 4);
  // The filters lag the line by a few frames.
  EXPECT_GE(warned, expected - 2);
  EXPECT_LE(warned, expected + 6);
}

namespace {

// Ground lengths whose two configuration words sum beyond the int range
// leave lane departure off instead of overflowing.
TEST_F(LdwsRoadTest, GroundLengthBeyondTheIntRangeLeavesLaneDepartureOff) {
  const int32_t pairs[][2] = {{INT32_MAX, 1}, {2130706176, 352066558}, {INT32_MIN, -1}};
  for (const auto& p : pairs) {
    cfg_.C[12] = p[0];
    cfg_.C[13] = p[1];
    LDWSState off;
    EXPECT_EQ(LDWS_Init(&off, &cfg_, 0, 0), 0) << p[0] << " + " << p[1];
    LDWS_Release(&off);
  }
}

}  // namespace
