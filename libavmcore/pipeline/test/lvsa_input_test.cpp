#include "pipeline/lvsa_input.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/adas_config.h"
#include "testsupport/adas_sequences.h"

namespace {

constexpr int32_t kFrameW = 160, kFrameH = 120;
constexpr int32_t kCols = 40, kRows = 60;
constexpr int32_t kLeft = 50, kTop = 30;  // the table's window in the frame

uint32_t gNow = 0;
uint32_t FakeTick() { return gNow; }

// An LVSA section whose table shows the kCols x kRows window at (kLeft, kTop).
struct LvsaConfig {
  ADASConfig cfg{};
  std::vector<int32_t> table;
  LvsaConfig(int32_t cols = kCols, int32_t rows = kRows) {
    cfg.C[kAdasLoaded] = 1;
    cfg.C[kAdasFrameWidth] = kFrameW;
    cfg.C[kAdasFrameHeight] = kFrameH;
    cfg.C[kAdasLvsaPresent] = 1;
    cfg.C[kAdasLvsaPresent + 1] = 7;
    cfg.C[kAdasLvsaCols] = cols;
    cfg.C[kAdasLvsaRows] = rows;
    cfg.C[kAdasLvsaFrontY] = 9;
    table.resize(static_cast<size_t>(cols) * rows);
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < cols; ++c) table[r * cols + c] = ((kTop + r) << 16) | (kLeft + c);
    cfg.lvsa = ImageI32{cols, rows, table.data()};
  }
};

class LvsaInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = 10000;
    input_.tickMs = FakeTick;
  }
  void TearDown() override { LVSAInput_Release(&input_); }

  // One frame with the edge at frame row edgeRow, 100 ms later; returns the
  // state after the step.
  uint32_t Frame(int32_t edgeRow) {
    const std::vector<uint8_t> f = LvsaScene_Render(kFrameW, kFrameH, edgeRow, static_cast<uint32_t>(gNow));
    EXPECT_TRUE(LVSAInput_CanWrite(&input_));
    LVSAInput_RemapCamA(&input_, kFrameW, kFrameH, f.data(), &config_.cfg);
    gNow += 100;
    EXPECT_TRUE(LVSAInput_HasFrame(&input_));
    LVSAInput_SetSpeed(&input_, speed_);
    LVSAInput_Process(&input_);
    LVSAInput_NextRead(&input_);
    return input_.state;
  }

  LvsaConfig config_;
  LVSAInput input_;
  float speed_ = 0.0f;
};

TEST_F(LvsaInputTest, InitTakesTheSectionAndRefusesATableOfTheWrongSize) {
  ADASConfig none{};
  LVSAInput_Init(&input_, &none);
  EXPECT_EQ(input_.inited, 0u);
  LvsaConfig wrong;
  wrong.cfg.lvsa.height = kRows - 1;
  LVSAInput_Init(&input_, &wrong.cfg);
  EXPECT_EQ(input_.inited, 0u);
  // Not initialised: remaps and steps do nothing.
  const std::vector<uint8_t> f(kFrameW * kFrameH, 9);
  LVSAInput_RemapCamA(&input_, kFrameW, kFrameH, f.data(), &wrong.cfg);
  LVSAInput_Process(&input_);
  EXPECT_EQ(input_.writeIndex.load(), 0);

  LVSAInput_Init(&input_, &config_.cfg);
  ASSERT_EQ(input_.inited, 1u);
  EXPECT_EQ(input_.step.columns, kCols);
  EXPECT_EQ(input_.step.rows, kRows);
  EXPECT_EQ(input_.step.lvsaParam1, 7);
  EXPECT_EQ(input_.step.lvsaParam4, 9);
  EXPECT_EQ(input_.holdTimeMs, 1500u);
}

TEST_F(LvsaInputTest, RemapsReadTheirPixelFormAndABadEntryReadsZero) {
  config_.table[0] = (5 << 16) | kFrameW;          // one column past the frame
  config_.table[1] = static_cast<int32_t>(0xFFFF0003u);  // row -1
  config_.table[2] = (kFrameH - 1) << 16 | (kFrameW - 1);
  LVSAInput_Init(&input_, &config_.cfg);
  ASSERT_EQ(input_.inited, 1u);
  std::vector<uint8_t> bgr(static_cast<size_t>(kFrameW) * kFrameH * 3);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 7 + 3);
  struct Case {
    void (*remap)(LVSAInput*, int32_t, int32_t, const uint8_t*, const ADASConfig*);
    int32_t bytes;   // per pixel
    int32_t offset;  // of the grey byte, -1 for the BGR weighting
  } cases[] = {{LVSAInput_RemapCamA, 1, 0},
               {LVSAInput_RemapCamB, 2, 1},
               {LVSAInput_RemapCamC, 2, 0},
               {LVSAInput_RemapBGR, 3, -1}};
  for (const Case& c : cases) {
    const int32_t slot = input_.writeIndex.load();
    c.remap(&input_, kFrameW, kFrameH, bgr.data(), &config_.cfg);
    const uint8_t* img = input_.step.slots[slot];
    EXPECT_EQ(img[0], 0);
    EXPECT_EQ(img[1], 0);
    for (int32_t i : {2, kCols + 3, kCols * kRows - 1}) {
      const int32_t e = config_.table[i];
      const size_t p = static_cast<size_t>(e >> 16) * kFrameW + (e & 0xFFFF);
      const uint8_t* q = bgr.data() + p * c.bytes;
      const uint8_t want = c.offset >= 0 ? q[c.offset] : static_cast<uint8_t>(0.114f * q[0] + 0.5868f * q[1] + 0.2992f * q[2]);
      EXPECT_EQ(img[i], want) << i;
    }
    LVSAInput_NextRead(&input_);
  }
  // A frame smaller than the configured one: the entries beyond it read 0.
  const int32_t slot = input_.writeIndex.load();
  LVSAInput_RemapCamA(&input_, kLeft + 10, kTop + 10, bgr.data(), &config_.cfg);
  EXPECT_NE(input_.step.slots[slot][9 * kCols + 9], 0);
  EXPECT_EQ(input_.step.slots[slot][9 * kCols + 10], 0);
  EXPECT_EQ(input_.step.slots[slot][10 * kCols + 9], 0);
}

TEST_F(LvsaInputTest, RingHoldsTwoPendingFrames) {
  LVSAInput_Init(&input_, &config_.cfg);
  const std::vector<uint8_t> f(kFrameW * kFrameH, 9);
  EXPECT_EQ(LVSAInput_HasFrame(&input_), 0);
  LVSAInput_RemapCamA(&input_, kFrameW, kFrameH, f.data(), &config_.cfg);
  EXPECT_EQ(LVSAInput_CanWrite(&input_), 1);
  LVSAInput_RemapCamA(&input_, kFrameW, kFrameH, f.data(), &config_.cfg);
  EXPECT_EQ(LVSAInput_CanWrite(&input_), 0);
  EXPECT_EQ(input_.step.writeSlot, 2);
  LVSAInput_NextRead(&input_);
  EXPECT_EQ(input_.step.readSlot, 1);
  EXPECT_EQ(LVSAInput_CanWrite(&input_), 1);
}

TEST_F(LvsaInputTest, EdgeMovingUpRaisesTheAlertAtItsFourthMovingFrameAndHolds) {
  LVSAInput_Init(&input_, &config_.cfg);
  // The edge rises one row a frame from frame row 85 (image row 55).
  std::vector<uint32_t> states;
  for (int32_t f = 0; f < 20; ++f) states.push_back(Frame(85 - f));
  // Frames 1-6 warm up; detections from frame 7, moving from the fifth
  // detection (frame 11); the fourth moving frame is frame 14.
  for (int32_t f = 0; f < 13; ++f) EXPECT_EQ(states[f], 0u) << "frame " << f + 1;
  for (int32_t f = 13; f < 20; ++f) EXPECT_EQ(states[f], 1u) << "frame " << f + 1;
  EXPECT_EQ(input_.step.edgeRows[0], 85 - 19 - kTop + 4);
  // The edge stops: results end, the state holds 1500 ms after the last.
  uint32_t last = input_.holdStartMs;
  bool cleared = false;
  for (int32_t f = 0; f < 25 && !cleared; ++f) {
    cleared = Frame(85 - 19) == 0;
    if (input_.step.result) last = gNow;
  }
  ASSERT_TRUE(cleared);
  EXPECT_EQ(input_.holdStartMs, last);
  EXPECT_GT(gNow - last, 1500u);
  EXPECT_LE(gNow - 100 - last, 1500u);
}

TEST_F(LvsaInputTest, NothingMovingRaisesNothing) {
  LVSAInput_Init(&input_, &config_.cfg);
  for (int32_t f = 0; f < 30; ++f) EXPECT_EQ(Frame(70), 0u);
  EXPECT_EQ(input_.step.movingCount, 0);
  // A band that appears and then stays: detections but no movement.
  for (int32_t f = 0; f < 10; ++f) EXPECT_EQ(Frame(50), 0u);
  EXPECT_EQ(input_.step.movingCount, 0);
}

TEST_F(LvsaInputTest, OneFrameWithoutTheEdgeResetsTheCounts) {
  LVSAInput_Init(&input_, &config_.cfg);
  for (int32_t f = 0; f < 12; ++f) Frame(85 - f);
  EXPECT_GT(input_.step.movingCount, 0);
  // The window goes dark: nothing is brighter than five frames earlier.
  Frame(kFrameH);
  EXPECT_EQ(input_.step.detectionCount, 0);
  EXPECT_EQ(input_.step.movingCount, 0);
}

TEST_F(LvsaInputTest, SixRowsOrFewerNeverAlert) {
  LvsaConfig tiny(kCols, 6);
  LVSAInput_Init(&input_, &tiny.cfg);
  ASSERT_EQ(input_.inited, 1u);
  for (int32_t f = 0; f < 20; ++f) {
    const std::vector<uint8_t> frame = LvsaScene_Render(kFrameW, kFrameH, kTop + 6 - f % 7, f);
    LVSAInput_RemapCamA(&input_, kFrameW, kFrameH, frame.data(), &tiny.cfg);
    LVSAInput_Process(&input_);
    LVSAInput_NextRead(&input_);
    EXPECT_EQ(input_.state, 0u);
  }
}

TEST_F(LvsaInputTest, AfterMovingOnceAStopAlertsForTenSecondsUntilTheNextStop) {
  LVSAInput_Init(&input_, &config_.cfg);
  speed_ = 5.0f;
  Frame(100);
  EXPECT_EQ(input_.moved, 1u);
  speed_ = 0.0f;
  int32_t row = 85;
  for (int32_t f = 0; f < 14; ++f) Frame(row--);
  ASSERT_EQ(input_.state, 1u);
  ASSERT_NE(input_.lastAlertMs, 0u);
  // Results keep coming within 10 s: refreshed.
  for (int32_t f = 0; f < 5; ++f) Frame(row--);
  EXPECT_EQ(input_.lastAlertMs, gNow);
  // Eleven seconds later in the same stop a new result is ignored.
  gNow += 11000;
  for (int32_t f = 0; f < 3; ++f) Frame(row--);
  EXPECT_EQ(input_.state, 0u);
  // Moving off and stopping again re-arms the alert.
  speed_ = 2.0f;
  Frame(row);
  speed_ = 0.0f;
  LVSAInput_ClearState(&input_);
  row = 85;
  for (int32_t f = 0; f < 14; ++f) Frame(row--);
  EXPECT_EQ(input_.state, 1u);
}

TEST_F(LvsaInputTest, ClearStateAndTheFreeStandingOperations) {
  LVSAInput_Init(&input_, &config_.cfg);
  for (int32_t f = 0; f < 14; ++f) Frame(85 - f);
  ASSERT_EQ(input_.state, 1u);
  LVSAInput_ClearState(&input_);
  EXPECT_EQ(input_.state, 0u);
  EXPECT_EQ(input_.step.frameCount, 0);
  EXPECT_EQ(input_.step.movingCount, 0);

  LVSAInput_SetHoldTime(&input_, 300);
  LVSAInput_UpdateHold(&input_, 3);
  EXPECT_EQ(input_.state, 3u);
  gNow += 300;
  LVSAInput_UpdateHold(&input_, 0);
  EXPECT_EQ(input_.state, 3u);
  gNow += 1;
  LVSAInput_UpdateHold(&input_, 0);
  EXPECT_EQ(input_.state, 0u);

  LVSAStep step;
  LVSAStep_Init(&step, 4, 3, 1, 2);
  int32_t table[12];
  for (int i = 0; i < 12; ++i) table[i] = ((i / 4) << 16) | (i % 4);
  ImageI32 t{4, 3, table};
  auto fetch = [](void*, int32_t stride, int32_t y, int32_t x) { return y * stride + x; };
  EXPECT_EQ(LVSAInput_RemapFetch(&step, &t, 10, 0, nullptr, fetch), 4);
  EXPECT_EQ(step.slots[0][5], 11);
  LVSAStep_Release(&step);
  EXPECT_EQ(step.slots[0], nullptr);
}

}  // namespace
