#include "pipeline/rcta_input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

constexpr int32_t kFrameW = 200, kFrameH = 100;
constexpr int32_t kCols = 16, kRows = 30;
constexpr int32_t kCell = 100, kOffset = 300;  // rctaParam1 and rctaParam4

uint32_t gNow = 0;
uint32_t FakeTick() { return gNow; }

// An RCTA section: the left table shows the window at (10, 20), the right
// one the window at (150, 40).
struct RctaConfig {
  ADASConfig cfg{};
  std::vector<int32_t> left, right;
  RctaConfig() {
    cfg.C[kAdasLoaded] = 1;
    cfg.C[kAdasFrameWidth] = kFrameW;
    cfg.C[kAdasFrameHeight] = kFrameH;
    cfg.C[kAdasRctaPresent] = 1;
    cfg.C[kAdasRctaPresent + 1] = kCell;
    cfg.C[kAdasRctaCols] = kCols;
    cfg.C[kAdasRctaRows] = kRows;
    cfg.C[kAdasRctaPresent + 4] = kOffset;
    left = Window(10, 20);
    right = Window(150, 40);
    cfg.rcta[0] = ImageI32{kCols, kRows, left.data()};
    cfg.rcta[1] = ImageI32{kCols, kRows, right.data()};
  }
  static std::vector<int32_t> Window(int32_t x0, int32_t y0) {
    std::vector<int32_t> t(kCols * kRows);
    for (int32_t r = 0; r < kRows; ++r)
      for (int32_t c = 0; c < kCols; ++c) t[r * kCols + c] = ((y0 + r) << 16) | (x0 + c);
    return t;
  }
};

class RctaInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = 20000;
    input_.tickMs = FakeTick;
  }
  void TearDown() override { RCTAInput_Release(&input_); }
  RctaConfig config_;
  RCTAInput input_;
};

TEST_F(RctaInputTest, InitSetsUpBothTrackersFromTheSection) {
  ADASConfig none{};
  RCTAInput_Init(&input_, &none);
  EXPECT_EQ(input_.inited, 0u);
  RctaConfig wrong;
  wrong.cfg.rcta[1].width = kCols + 1;
  RCTAInput_Init(&input_, &wrong.cfg);
  EXPECT_EQ(input_.inited, 0u);

  RCTAInput_Init(&input_, &config_.cfg);
  ASSERT_EQ(input_.inited, 1u);
  EXPECT_STREQ(input_.trackerRight.name, "TR");
  EXPECT_STREQ(input_.trackerLeft.name, "TL");
  for (const BSDSTracker* t : {&input_.trackerRight, &input_.trackerLeft}) {
    EXPECT_EQ(t->kind, 1);
    EXPECT_EQ(t->width, kCols);
    EXPECT_EQ(t->rows, kRows);
    EXPECT_EQ(t->nearDistance, 5 * kCell - kOffset);
    EXPECT_EQ(std::memcmp(&t->settings, &kRctaTrackerSettings, sizeof(BSDSSettings)), 0);
    ASSERT_NE(t->slots[2], nullptr);
  }
  EXPECT_EQ(kRctaTrackerSettings.S1, 12);
  EXPECT_EQ(kRctaTrackerSettings.S4, 3);
  EXPECT_EQ(kRctaTrackerSettings.leaveRate, 10.0f);
  EXPECT_EQ(input_.holdTimeMs, 1000u);
}

TEST_F(RctaInputTest, RemapsFillBothSidesAndTheRingHoldsTwo) {
  config_.left[0] = (3 << 16) | kFrameW;  // past the frame: reads 0
  RCTAInput_Init(&input_, &config_.cfg);
  std::vector<uint8_t> frame(static_cast<size_t>(kFrameW) * kFrameH * 2);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 31 + 7);
  EXPECT_EQ(RCTAInput_HasFrame(&input_), 0);
  RCTAInput_RemapCamA(&input_, kFrameW, kFrameH, frame.data(), &config_.cfg);
  RCTAInput_RemapCamB(&input_, kFrameW, kFrameH, frame.data(), &config_.cfg);
  EXPECT_EQ(RCTAInput_CanWrite(&input_), 0);
  EXPECT_EQ(input_.trackerLeft.writeSlot, 2);
  EXPECT_EQ(input_.trackerRight.writeSlot, 2);
  const size_t pl = 20 * kFrameW + 10 + 1, pr = 40 * kFrameW + 150 + 1;  // entry 1 of each table
  EXPECT_EQ(input_.trackerLeft.slots[0][0], 0);
  EXPECT_EQ(input_.trackerLeft.slots[0][1], frame[pl]);
  EXPECT_EQ(input_.trackerRight.slots[0][1], frame[pr]);
  EXPECT_EQ(input_.trackerLeft.slots[1][1], frame[2 * pl + 1]);
  EXPECT_EQ(input_.trackerRight.slots[1][1], frame[2 * pr + 1]);
  RCTAInput_NextRead(&input_);
  EXPECT_EQ(input_.trackerLeft.readSlot, 1);
  EXPECT_EQ(RCTAInput_CanWrite(&input_), 1);
  RCTAInput_RemapCamC(&input_, kFrameW, kFrameH, frame.data(), &config_.cfg);
  EXPECT_EQ(input_.trackerRight.slots[2][1], frame[2 * pr]);
  // Planes: the left table reads plane 2, the right plane 3.
  RCTAInput_NextRead(&input_);
  std::vector<uint8_t> p2(kFrameW * kFrameH, 22), p3(kFrameW * kFrameH, 33);
  const uint8_t* planes[4] = {nullptr, nullptr, p2.data(), p3.data()};
  RCTAInput_RemapPlanes(&input_, kFrameW, kFrameH, planes, &config_.cfg);
  EXPECT_EQ(input_.trackerLeft.slots[0][5], 22);
  EXPECT_EQ(input_.trackerRight.slots[0][5], 33);
  // A smaller frame than the tables address: those entries read 0.
  RCTAInput_NextRead(&input_);
  RCTAInput_RemapCamA(&input_, 100, kFrameH, frame.data(), &config_.cfg);
  EXPECT_NE(input_.trackerLeft.slots[1][5], 0);
  EXPECT_EQ(input_.trackerRight.slots[1][5], 0);

  auto fetch = [](void*, int32_t stride, int32_t y, int32_t x) { return (y * stride + x) & 0xFF; };
  BSDSTracker& t = input_.trackerLeft;
  EXPECT_EQ(RCTAInput_RemapFetch(&t, &config_.cfg.rcta[0], 7, 0, nullptr, fetch), kCols);
  EXPECT_EQ(t.slots[t.writeSlot][kCols + 2], (21 * 7 + 12) & 0xFF);
}

TEST_F(RctaInputTest, StateHoldsAfterTheLastReportLongerForACloseTarget) {
  RCTAInput_Init(&input_, &config_.cfg);
  const int32_t near = input_.trackerRight.nearDistance;
  struct Case {
    int32_t nearest;   // the tracker's nearest-target value
    uint32_t heldMs;   // how long the state outlasts the last report
  } cases[] = {{near + 500, 1000}, {near + 499, 6000}, {near - 100, 6000}};
  for (const Case& c : cases) {
    RCTAInput_ClearStates(&input_);
    input_.rightHoldStart = 0;
    input_.trackerRight.farLimit = c.nearest;
    RCTAInput_UpdateHold(&input_, 0, 2);
    EXPECT_EQ(RCTAInput_RightState(&input_), 2u);
    EXPECT_EQ(RCTAInput_LeftState(&input_), 0u);
    const uint32_t last = gNow;
    uint32_t cleared = 0;
    for (int step = 0; step < 200 && !cleared; ++step) {
      gNow += 50;
      RCTAInput_UpdateHold(&input_, 0, 0);
      if (input_.rightState == 0) cleared = gNow - last;
    }
    EXPECT_EQ(cleared, c.heldMs + 50) << c.nearest;
  }
  // The left side follows the same rule with its own tracker.
  input_.trackerLeft.farLimit = 1000000;
  RCTAInput_UpdateHold(&input_, 1, 0);
  EXPECT_EQ(RCTAInput_LeftState(&input_), 1u);
  RCTAInput_SetHoldTime(&input_, 200);
  gNow += 200;
  RCTAInput_UpdateHold(&input_, 0, 0);
  EXPECT_EQ(input_.leftState, 1u);
  gNow += 1;
  RCTAInput_UpdateHold(&input_, 0, 0);
  EXPECT_EQ(input_.leftState, 0u);
  // Clearing drops both at once.
  RCTAInput_UpdateHold(&input_, 1, 2);
  RCTAInput_ClearStates(&input_);
  EXPECT_EQ(input_.leftState + input_.rightState, 0u);
}

TEST_F(RctaInputTest, CreateAndDestroyLeaveNothingBehind) {
  RCTAInput* in = RCTAInput_Create();
  EXPECT_EQ(in->holdTimeMs, 1000u);
  RCTAInput_Init(in, &config_.cfg);
  EXPECT_EQ(in->inited, 1u);
  RCTAInput_Destroy(in);
  RCTAInput_Destroy(nullptr);
}

}  // namespace
