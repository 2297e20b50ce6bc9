// The manager runs the lens-dirt detector, the rear cross-traffic input and
// the LVSA input for real: frames in through its feed, events out through
// its callback.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "pipeline/adas_manager.h"
#include "pipeline/dirty_detect.h"
#include "pipeline/lvsa_input.h"
#include "pipeline/rcta_input.h"
#include "testsupport/adas_sequences.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/config_state.h"

namespace {

constexpr int32_t kW = 2 * kSampleCamW, kH = 2 * kSampleCamH;
constexpr int32_t kLvsaCols = 40, kLvsaRows = 60, kLvsaX = 600, kLvsaY = 300;
constexpr int32_t kRctaCols = 16, kRctaRows = 120, kRctaY = 200, kRctaLeftX = 100, kRctaRightX = 1100;

uint32_t gNow = 0;
uint32_t FakeTick() { return gNow; }

struct Event {
  int32_t event, value;
  uint32_t at;
};
std::vector<Event> gEvents;
void Collect(int32_t event, int32_t value, int32_t, int32_t, int32_t, int32_t, void*) {
  gEvents.push_back({event, value, gNow});
}

std::vector<int32_t> Window(int32_t cols, int32_t rows, int32_t x0, int32_t y0) {
  std::vector<int32_t> t(static_cast<size_t>(cols) * rows);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) t[r * cols + c] = ((y0 + r) << 16) | (x0 + c);
  return t;
}

class AdasManagerFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BowlRig_WriteConfig(dir_.Path("lut_config.krv")));
    ADASConfig cfg{};
    cfg.C[kAdasLoaded] = 1;
    cfg.C[kAdasFrameWidth] = kW;
    cfg.C[kAdasFrameHeight] = kH;
    cfg.C[kAdasCarWidth] = kSampleCarWidth;
    cfg.C[kAdasCarLength] = kSampleCarLength;
    cfg.C[kAdasCameraMask] = 15;
    cfg.C[kAdasLvsaPresent] = 1;
    cfg.C[kAdasLvsaCols] = kLvsaCols;
    cfg.C[kAdasLvsaRows] = kLvsaRows;
    std::vector<int32_t> lvsa = Window(kLvsaCols, kLvsaRows, kLvsaX, kLvsaY);
    cfg.lvsa = ImageI32{kLvsaCols, kLvsaRows, lvsa.data()};
    cfg.C[kAdasRctaPresent] = 1;
    cfg.C[kAdasRctaPresent + 1] = 100;  // 100 mm a row
    cfg.C[kAdasRctaCols] = kRctaCols;
    cfg.C[kAdasRctaRows] = kRctaRows;
    std::vector<int32_t> left = Window(kRctaCols, kRctaRows, kRctaLeftX, kRctaY);
    std::vector<int32_t> right = Window(kRctaCols, kRctaRows, kRctaRightX, kRctaY);
    cfg.rcta[0] = ImageI32{kRctaCols, kRctaRows, left.data()};
    cfg.rcta[1] = ImageI32{kRctaCols, kRctaRows, right.data()};
    ASSERT_EQ(ADASConfig_Save(&cfg, dir_.dir().c_str(), kAdasDirty | kAdasRCTA | kAdasLVSA), 1);

    gNow = 100000;
    gEvents.clear();
    ADAS_SetEventCallback(Collect, nullptr);
    adas_.clock = FakeTick;
    ASSERT_EQ(ADAS_Init(&adas_, dir_.dir().c_str()), 1);
    ASSERT_NE(adas_.dirty, nullptr);
    ASSERT_NE(adas_.rcta, nullptr);
    ASSERT_NE(adas_.lvsa, nullptr);
    adas_.dirty->tickMs = FakeTick;
    adas_.rcta->tickMs = FakeTick;
    adas_.lvsa->tickMs = FakeTick;
    // The feed takes frames while the manager runs; the tests drive the
    // worker passes themselves.
    adas_.runState = 1;
  }
  void TearDown() override {
    adas_.runState = 0;
    ADAS_Release(&adas_);
    ADAS_SetEventCallback(nullptr, nullptr);
  }

  std::vector<Event> EventsOf(int32_t event) const {
    std::vector<Event> out;
    for (const Event& e : gEvents)
      if (e.event == event) out.push_back(e);
    return out;
  }

  ScopedConfigState dir_;
  ADASManager adas_;
};

TEST_F(AdasManagerFunctionsTest, LensDirtEventComesAtTheFifthDecisionAndRepeatsOnceASecond) {
  EXPECT_EQ(DirtyDetect_IsInited(adas_.dirty), 1u);
  CtrlDirtyDetect(&adas_, kW, kH, 1);
  ADAS_SetSpeed(&adas_, 8.0f);
  std::vector<std::vector<uint8_t>> frames;
  for (int p = 0; p < 6; ++p) {
    frames.push_back(DirtScene_RenderQuad(p));
    DirtScene_ApplySmudge(&frames.back(), kW, Smudge{3, 250.0f, 130.0f, 28.0f, 0.8f});
  }
  uint32_t firstAt = 0;
  for (int32_t image = 0; image < 4 * 60; ++image) {
    gNow += 300;
    ADAS_FeedFrame(&adas_, kW, kH, frames[(image / 4) % 6].data(), nullptr, 0, 0, 0);
    // The worker passes every 100 ms.
    for (int pass = 0; pass < 3; ++pass) {
      ADAS_DirtyPass(&adas_);
      if (pass < 2) gNow += 100;
    }
    gNow -= 200;
    if (firstAt == 0 && !EventsOf(9).empty()) firstAt = static_cast<uint32_t>(image);
  }
  // Camera 3's 52nd image.
  EXPECT_EQ(firstAt, 4u * 51 + 3);
  const std::vector<Event> dirt = EventsOf(9);
  ASSERT_GE(dirt.size(), 3u);
  for (size_t i = 0; i < dirt.size(); ++i) {
    EXPECT_EQ(dirt[i].value, 8) << i;
    if (i > 0) {
      EXPECT_GT(dirt[i].at - dirt[i - 1].at, 1000u);
      EXPECT_LE(dirt[i].at - dirt[i - 1].at, 1100u);
    }
  }
}

TEST_F(AdasManagerFunctionsTest, LvsaEdgeRisingWhileStandingRaisesEvent12) {
  CtrlLVSA(&adas_, kW, kH, 1);
  ADAS_SetLVSASpeedGate(&adas_, 10);
  ADAS_SetSpeed(&adas_, 0.0f);
  EXPECT_EQ(ADAS_LVSAPass(&adas_), 0);  // the worker opens the gate
  std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH, 70);
  int32_t raisedAt = -1;
  for (int32_t f = 0; f < 20; ++f) {
    const int32_t edge = kLvsaY + 55 - f;
    for (int32_t y = kLvsaY; y < kLvsaY + kLvsaRows; ++y)
      std::fill_n(frame.begin() + static_cast<size_t>(y) * kW + kLvsaX, kLvsaCols, y >= edge ? 170 : 70);
    gNow += 100;
    ADAS_FeedFrame(&adas_, kW, kH, frame.data(), nullptr, 0, 0, 0);
    ASSERT_EQ(ADAS_LVSAPass(&adas_), 1);
    if (raisedAt < 0 && !EventsOf(12).empty()) raisedAt = f + 1;
  }
  EXPECT_EQ(raisedAt, 14);
  EXPECT_EQ(EventsOf(12).front().value, 1);
  EXPECT_EQ(ADAS_GetLVSAResult(&adas_), 1);
}

TEST_F(AdasManagerFunctionsTest, VehicleCrossingBehindRaisesTheRightRctaEvent) {
  CtrlRCTA(&adas_, kW, kH, 1);
  ADAS_SetRCTASpeedGate(&adas_, 10);
  ADAS_SetSpeed(&adas_, 0.0f);
  EXPECT_EQ(ADAS_RCTAPass(&adas_), 0);  // the worker opens the gate
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-2, 2);
  std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH);
  auto render = [&](int32_t top, bool vehicle) {
    for (auto& p : frame) p = static_cast<uint8_t>(120 + noise(rng));
    if (!vehicle) return;
    // A textured vehicle 25 rows (2.5 m) long in the right zone.
    for (int32_t y = std::max(top, 0); y < std::min(top + 25, kRctaRows); ++y)
      for (int32_t x = 0; x < kRctaCols; ++x)
        frame[static_cast<size_t>(kRctaY + y) * kW + kRctaRightX + x] = ((x / 4 + (y - top) / 5) % 2) ? 200 : 30;
  };
  int32_t raisedAt = -1;
  for (int32_t f = 0; f < 45; ++f) {
    render(-20 + 2 * f, true);
    gNow += 66;
    ADAS_FeedFrame(&adas_, kW, kH, frame.data(), nullptr, 0, 0, 0);
    ASSERT_EQ(ADAS_RCTAPass(&adas_), 1);
    if (raisedAt < 0 && !EventsOf(11).empty()) raisedAt = f;
  }
  ASSERT_GE(raisedAt, 0);
  EXPECT_EQ(EventsOf(11).front().value, 1);
  EXPECT_TRUE(EventsOf(10).empty());
  // Gone: the state is held for the hold time (1 s) after the tracker's last
  // report, 5 s more when that target was close; then event 11 goes to 0.
  const uint32_t gone = gNow;
  for (int32_t f = 0; f < 110; ++f) {
    render(0, false);
    gNow += 66;
    ADAS_FeedFrame(&adas_, kW, kH, frame.data(), nullptr, 0, 0, 0);
    ADAS_RCTAPass(&adas_);
  }
  const Event cleared = EventsOf(11).back();
  EXPECT_EQ(cleared.value, 0);
  EXPECT_GT(cleared.at - gone, 1000u);
  EXPECT_LE(cleared.at - gone, 6000u + 2 * 66u);
  EXPECT_EQ(ADAS_GetRCTARight(&adas_), 0);
}

TEST_F(AdasManagerFunctionsTest, NothingMovingRaisesNoRctaOrLvsaEvent) {
  CtrlRCTA(&adas_, kW, kH, 1);
  CtrlLVSA(&adas_, kW, kH, 1);
  ADAS_SetRCTASpeedGate(&adas_, 10);
  ADAS_SetLVSASpeedGate(&adas_, 10);
  std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH, 120);
  for (int32_t y = kRctaY + 30; y < kRctaY + 55; ++y)
    for (int32_t x = 0; x < kRctaCols; ++x) frame[static_cast<size_t>(y) * kW + kRctaRightX + x] = (x / 4 + y / 5) % 2 ? 200 : 30;
  for (int32_t f = 0; f < 40; ++f) {
    gNow += 66;
    ADAS_FeedFrame(&adas_, kW, kH, frame.data(), nullptr, 0, 0, 0);
    ADAS_RCTAPass(&adas_);
    ADAS_LVSAPass(&adas_);
  }
  EXPECT_TRUE(EventsOf(10).empty());
  EXPECT_TRUE(EventsOf(11).empty());
  EXPECT_TRUE(EventsOf(12).empty());
}

}  // namespace
