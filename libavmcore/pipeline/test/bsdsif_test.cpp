#include "pipeline/bsdsif_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "testsupport/adas_sequences.h"

namespace {

constexpr int32_t kFrameW = 160, kFrameH = 400;
// Row 0 of the grid near the bottom of the frame, row 279 near the top; the
// zone narrows with distance.
const float kP00[2] = {40, 380}, kP01[2] = {120, 380}, kP10[2] = {64, 20}, kP11[2] = {96, 20};
constexpr float kZoneLength = 20000.0f;

uint32_t gNow = 0;
uint32_t FakeTick() { return gNow; }

// Arc length at a frame row, interpolated from the object's table.
float ArcAtRow(const BSDSIFObject& obj, float y) {
  const float r = std::clamp((y - kP00[1]) / (kP10[1] - kP00[1]) * 279.0f, 0.0f, 279.0f);
  const int32_t r0 = std::min(static_cast<int32_t>(r), 278);
  return obj.arcLength[r0] + (r - r0) * (obj.arcLength[r0 + 1] - obj.arcLength[r0]);
}

class BsdsifTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = 5000;
    ASSERT_EQ(BSDSIF_Init(&obj_, kFrameW, kFrameH, nullptr, nullptr, kZoneLength, kP00, kP01, kP10, kP11), 1u);
    obj_.tickMs = FakeTick;
  }
  void TearDown() override { BSDSIF_Release(&obj_); }

  // Feeds one frame, steps and holds; returns the step result.
  uint32_t Step(const std::vector<ZoneVehicle>& vehicles, uint32_t seed) {
    const std::vector<uint8_t> f = ZoneScene_Render(kFrameW, kFrameH, vehicles, seed);
    BSDSIF_FeedLuma(&obj_, f.data());
    EXPECT_EQ(BSDSIF_HasFrame(&obj_), 1u);
    gNow += 66;
    BSDSIF_StepAndHold(&obj_);
    BSDSIF_NextRead(&obj_);
    return obj_.stepResult;
  }

  BSDSIFObject obj_;
};

TEST_F(BsdsifTest, InitRefusesBadArgumentsAndStartsFromAClearState) {
  BSDSIFObject other;
  EXPECT_EQ(BSDSIF_Init(nullptr, kFrameW, kFrameH, nullptr, nullptr, kZoneLength, kP00, kP01, kP10, kP11), 0u);
  EXPECT_EQ(BSDSIF_Init(&other, 0, kFrameH, nullptr, nullptr, kZoneLength, kP00, kP01, kP10, kP11), 0u);
  EXPECT_EQ(BSDSIF_Init(&other, kFrameW, kFrameH, nullptr, nullptr, 0.0f, kP00, kP01, kP10, kP11), 0u);
  // A zone whose last row has no width.
  EXPECT_EQ(BSDSIF_Init(&other, kFrameW, kFrameH, nullptr, nullptr, kZoneLength, kP00, kP01, kP10, kP10), 0u);
  EXPECT_EQ(other.inited, 0u);
  BSDSIF_Release(&other);  // safe on an object never initialised

  EXPECT_EQ(obj_.historyRef, 1);
  EXPECT_EQ(obj_.historyStore, 0);
  EXPECT_EQ(obj_.targets.count, 0u);
  EXPECT_EQ(obj_.targets.head, nullptr);
  for (int32_t h = 0; h < kBsdsifHistory; ++h)
    EXPECT_TRUE(std::all_of(obj_.history[h], obj_.history[h] + kBsdsifStrip, [](uint8_t v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(obj_.rowBackground, obj_.rowBackground + kBsdsifRows, [](int32_t v) { return v == 0; }));
  EXPECT_EQ(obj_.writeIndex.load(), 0);
}

TEST_F(BsdsifTest, GridFollowsTheZoneAndArcLengthGrowsInverselyToTheWidth) {
  const int32_t* g = obj_.grid.data;
  auto x = [](int32_t e) { return static_cast<int16_t>(e & 0xFFFF); };
  auto y = [](int32_t e) { return static_cast<int16_t>(e >> 16); };
  EXPECT_EQ(x(g[0]), 40);
  EXPECT_EQ(y(g[0]), 380);
  EXPECT_EQ(x(g[31]), 120);
  EXPECT_EQ(x(g[279 * 32]), 64);
  EXPECT_EQ(y(g[279 * 32 + 31]), 20);
  EXPECT_NEAR(obj_.arcLength[0], 0.0f, 1e-2f);
  EXPECT_NEAR(obj_.arcLength[279], kZoneLength, 1e-2f);
  EXPECT_EQ(obj_.arcAt271, obj_.arcLength[271]);
  // Row spacing: 32 / 80 of the far spacing at the near end (cells are whole
  // pixels, so the row next to the last is 33 wide, not 32.1).
  const float nearStep = obj_.arcLength[1] - obj_.arcLength[0];
  const float farStep = obj_.arcLength[279] - obj_.arcLength[278];
  EXPECT_NEAR(nearStep / farStep, 33.0f / 80.0f, 0.001f);
  for (int32_t r = 1; r < kBsdsifRows; ++r) EXPECT_GT(obj_.arcLength[r], obj_.arcLength[r - 1]);

  // A zone reaching outside the frame samples 0 there, never past the frame.
  BSDSIFObject wide;
  const float a[2] = {-30, 390}, b[2] = {200, 390}, c[2] = {-30, -50}, d[2] = {200, -50};
  ASSERT_EQ(BSDSIF_Init(&wide, kFrameW, kFrameH, nullptr, nullptr, kZoneLength, a, b, c, d), 1u);
  const std::vector<uint8_t> f(static_cast<size_t>(kFrameW) * kFrameH, 77);
  BSDSIF_FeedLuma(&wide, f.data());
  EXPECT_EQ(wide.slots[0][0], 0);
  EXPECT_EQ(wide.slots[0][16], 77);
  EXPECT_EQ(wide.slots[0][279 * 32 + 16], 0);
  BSDSIF_Release(&wide);
}

TEST_F(BsdsifTest, FeedsSampleTheirPixelFormAndTheRingHoldsTwo) {
  std::vector<uint8_t> bgr(static_cast<size_t>(kFrameW) * kFrameH * 3);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = static_cast<uint8_t>(i * 13 + 1);
  const int32_t e = obj_.grid.data[100];
  const size_t p = static_cast<size_t>(e >> 16) * kFrameW + (e & 0xFFFF);
  BSDSIF_FeedLuma(&obj_, bgr.data());
  BSDSIF_FeedPacked(&obj_, bgr.data());
  BSDSIF_FeedBGR(&obj_, bgr.data());  // refused: two pending
  EXPECT_EQ(obj_.writeIndex.load(), 2);
  EXPECT_EQ(BSDSIF_CanWrite(&obj_), 0u);
  EXPECT_EQ(obj_.slots[0][100], bgr[p]);
  EXPECT_EQ(obj_.slots[1][100], bgr[2 * p + 1]);
  BSDSIF_NextRead(&obj_);
  BSDSIF_FeedBGR(&obj_, bgr.data());
  const uint8_t* q = bgr.data() + 3 * p;
  EXPECT_EQ(obj_.slots[2][100], static_cast<uint8_t>(0.114f * q[0] + 0.5868f * q[1] + 0.2992f * q[2]));
  EXPECT_EQ(obj_.writeIndex.load(), 0);
  auto fetch = [](void*, int32_t stride, int32_t y, int32_t x) { return (y * stride + x) & 0xFF; };
  BSDSIF_FeedFetch(&obj_, nullptr, fetch);
  EXPECT_EQ(obj_.slots[0][100], static_cast<uint8_t>(p & 0xFF));
  EXPECT_EQ(obj_.writeIndex.load(), 0);
}

TEST(BsdsifRules, ExtractRunsKeepsRunsLongerThan1000UpToTheLimit) {
  std::vector<float> pos(20);
  for (int i = 0; i < 20; ++i) pos[i] = 250.0f * i;
  struct Case {
    std::vector<float> values;
    int32_t limit;
    std::vector<std::pair<float, float>> runs;  // (far, near)
  } cases[] = {
      // Opens above high (0.5), extends above high, closes below low (0.3).
      {{0, .6, .6, .4, .6, .6, .6, .2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {{1500, 250}}},
      // far - near exactly 1000 is not kept.
      {{0, .6, .6, .6, .6, .6, .2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {}},
      {{0, .6, .4, .4, .4, .4, .6, .2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {{1500, 250}}},
      {{0, .6, .4, .4, .4, .4, .4, .2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {}},
      // A ratio equal to high opens nothing; equal to low does not close.
      {{.5, .5, .6, .3, .3, .3, .3, .6, .2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8, {{1750, 500}}},
      // A run still open at the last window closes there.
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, .6, .6, .6, .6, .6, .6}, 8, {{4750, 3500}}},
      // The limit stops the scan.
      {{.6, .6, .6, .6, .6, .6, 0, .6, .6, .6, .6, .6, .6, 0, .6, .6, .6, .6, .6, .6}, 2, {{1250, 0}, {3000, 1750}}},
      {{.6, .6, .6, .6, .6, .6, 0, .6, .6, .6, .6, .6, .6, 0, .6, .6, .6, .6, .6, .6}, 0, {{1250, 0}}},
  };
  for (const Case& c : cases) {
    BSDSIFRun runs[8] = {};
    int32_t count = c.limit;
    BSDSIF_ExtractRuns(20, c.values.data(), pos.data(), &count, runs, 0.5f, 0.3f);
    ASSERT_EQ(count, static_cast<int32_t>(c.runs.size()));
    for (int32_t i = 0; i < count; ++i) {
      EXPECT_EQ(runs[i].far, c.runs[i].first);
      EXPECT_EQ(runs[i].near, c.runs[i].second);
      EXPECT_EQ(runs[i].used, 0u);
    }
  }
  int32_t count = 8;
  BSDSIFRun runs[8];
  BSDSIF_ExtractRuns(0, pos.data(), pos.data(), &count, runs, 0.5f, 0.3f);
  EXPECT_EQ(count, 0);
}

TEST(BsdsifRules, TargetDistanceByPassAndConfirmedEnds) {
  BSDSIFTarget t{};
  t.farHalf.lastValue = 5000.0f;
  t.nearHalf.lastValue = 2000.0f;
  const BSDSIFRun run{5300.0f, 2100.0f, 0};  // dFar 300, dNear 100
  struct Case {
    int32_t pass;
    uint32_t farConfirmed, nearConfirmed;
    float distance;
  } cases[] = {{0, 1, 1, 100.0f}, {0, 1, 0, 300.0f}, {0, 0, 1, 100.0f}, {0, 0, 0, 2500.1f},
               {1, 1, 0, 100.0f}, {1, 0, 1, 100.0f}, {1, 0, 0, 200.0f}};
  for (const Case& c : cases) {
    t.farHalf.confirmed = c.farConfirmed;
    t.nearHalf.confirmed = c.nearConfirmed;
    EXPECT_FLOAT_EQ(BSDSIF_TargetDistance(c.pass, &t, &run), c.distance) << c.pass << c.farConfirmed << c.nearConfirmed;
  }
}

TEST_F(BsdsifTest, AssociationMatchesTheNearestRunAndDropsTargetsWithoutOne) {
  // Two runs found a target each; both are updated next step by their own run.
  BSDSIFRun runs[2] = {{4000.0f, 2000.0f, 0}, {12000.0f, 9000.0f, 0}};
  BSDSIF_AssociateTargets(&obj_, &obj_.targets, 2, runs);
  ASSERT_EQ(obj_.targets.count, 2u);
  EXPECT_EQ(obj_.stepResult, 0u);  // new targets never alarm
  // The later run is pushed last, so it is at the head.
  const BSDSIFTarget* head = static_cast<BSDSIFTarget*>(obj_.targets.head->element);
  EXPECT_EQ(head->farHalf.lastValue, 12000.0f);
  // Neither end confirmed: the first pass matches nothing, the second by the
  // mean of both end distances.
  BSDSIFRun next[2] = {{4100.0f, 2100.0f, 0}, {12100.0f, 9100.0f, 0}};
  BSDSIF_AssociateTargets(&obj_, &obj_.targets, 2, next);
  EXPECT_EQ(obj_.targets.count, 2u);
  EXPECT_EQ(next[0].used, 1u);
  EXPECT_EQ(next[1].used, 1u);
  EXPECT_EQ(head->farHalf.lastValue, 12100.0f);
  // A run far from both targets matches neither; both die, the run founds a
  // new one.
  BSDSIFRun far[1] = {{16700.0f, 11600.0f, 0}};
  BSDSIF_AssociateTargets(&obj_, &obj_.targets, 1, far);
  ASSERT_EQ(obj_.targets.count, 1u);
  EXPECT_EQ(static_cast<BSDSIFTarget*>(obj_.targets.head->element)->nearHalf.lastValue, 11600.0f);
  // No run at all: every target goes, the reports stay.
  obj_.reportA = 1.0f;
  BSDSIF_AssociateTargets(&obj_, &obj_.targets, 0, far);
  EXPECT_EQ(obj_.targets.count, 0u);
  EXPECT_EQ(obj_.reportA, 1.0f);
}

TEST(BsdsifRules, HalfUpdateRisesConfirmsAndFallsBack) {
  BSDSIFObject obj;
  ASSERT_EQ(BSDSIF_Init(&obj, kFrameW, kFrameH, nullptr, nullptr, kZoneLength, kP00, kP01, kP10, kP11), 1u);
  BSDSIFRun run{3000.0f, 1000.0f, 0};
  BSDSIF_AssociateTargets(&obj, &obj.targets, 1, &run);
  BSDSIFTarget* t = static_cast<BSDSIFTarget*>(obj.targets.head->element);
  EXPECT_EQ(t->farHalf.needsInit, 0u);
  // Both ends rise 400 a step: riseStart at the first rise, confirmation once
  // both counts reach 5 and the rise reaches 1500.
  int32_t confirmedAt = -1;
  for (int32_t k = 1; k <= 12 && confirmedAt < 0; ++k) {
    BSDSIFRun r{3000.0f + 400.0f * k, 1000.0f + 400.0f * k, 0};
    ASSERT_EQ(BSDSIF_UpdateTarget(&obj, t, &r), 1u);
    if (t->nearHalf.confirmed) confirmedAt = k;
  }
  EXPECT_GE(confirmedAt, 5);
  EXPECT_EQ(t->farHalf.confirmed, 1u);
  EXPECT_GE(t->nearHalf.lastValue - t->nearHalf.riseStart, 1500.0f);
  EXPECT_EQ(t->alarm, 1u);
  // A jump far beyond the velocity limit refuses both ends and unconfirms them.
  BSDSIFRun jump{40000.0f, 38000.0f, 0};
  EXPECT_EQ(BSDSIF_UpdateTarget(&obj, t, &jump), 0u);
  EXPECT_EQ(t->nearHalf.confirmed, 0u);
  EXPECT_EQ(t->farHalf.riseCount, 0);
  BSDSIF_Release(&obj);
  EXPECT_EQ(obj.targets.count, 0u);
}

TEST_F(BsdsifTest, VehicleMovingUpTheZoneAlarmsWithItsEndsAsReports) {
  BSDSIF_SetHoldTime(&obj_, 500);
  std::vector<uint32_t> results;
  float top = 0;
  for (int32_t k = 0; k < 45; ++k) {
    top = 330.0f - 6.0f * k;
    results.push_back(Step({{top, top + 60.0f}}, k + 1));
  }
  const auto first = std::find(results.begin(), results.end(), 1u);
  ASSERT_NE(first, results.end());
  // Both ends need five rises and 1500 of travel after entering.
  EXPECT_GE(first - results.begin(), 6);
  EXPECT_LE(first - results.begin(), 25);
  EXPECT_EQ(obj_.state.load(), 1u);
  // The reports are the run's ends: the far end near the vehicle's front
  // (its top row), the near end near its back, within the 9-row window.
  const float tolerance = 10 * (obj_.arcLength[279] - obj_.arcLength[278]);
  EXPECT_NEAR(obj_.reportA, ArcAtRow(obj_, top), tolerance);
  EXPECT_NEAR(obj_.reportB, ArcAtRow(obj_, top + 60.0f), tolerance);
  // The vehicle leaves the zone: no run, the target goes, the state holds
  // 500 ms after the last result.
  const uint32_t last = obj_.holdStartMs;
  int32_t steps = 0;
  while (obj_.state.load() != 0 && steps < 30) {
    Step({}, 100 + steps);
    ++steps;
  }
  EXPECT_EQ(obj_.targets.count, 0u);
  EXPECT_GT(gNow - last, 500u);
  EXPECT_LE(gNow - 66 - last, 500u);
}

TEST_F(BsdsifTest, ParkedOrReceedingVehiclesNeverAlarm) {
  for (int32_t k = 0; k < 40; ++k) EXPECT_EQ(Step({{150.0f, 220.0f}}, k + 1), 0u) << k;
  EXPECT_GT(obj_.targets.count, 0u);  // tracked, never confirmed
  // A vehicle falling back along the zone (towards row 0).
  for (int32_t k = 0; k < 40; ++k) EXPECT_EQ(Step({{60.0f + 6.0f * k, 120.0f + 6.0f * k}}, 50 + k), 0u) << k;
  // Bright grading with nothing above 200 on the road: no run.
  BSDSIF_Ctrl(&obj_, 2);
  for (int32_t k = 0; k < 3; ++k) Step({}, 200 + k);
  EXPECT_EQ(obj_.runCount, 0);
  EXPECT_FLOAT_EQ(obj_.windowRatio[100], 0.0f);
}

TEST_F(BsdsifTest, GateCommandsAndHold) {
  BSDSIF_SetSpeedGate(&obj_, 30);  // flagA on above 20, off below 15; flagB on above 30, off below 25
  struct Case {
    int32_t speed;
    uint32_t changed, flagA, flagB;
  } cases[] = {{18, 0, 0, 0}, {21, 1, 1, 0}, {16, 0, 1, 0}, {31, 0, 1, 1}, {26, 0, 1, 1}, {24, 0, 1, 0},
               {14, 1, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(BSDSIF_UpdateGate(&obj_.gate, c.speed), c.changed) << c.speed;
    EXPECT_EQ(obj_.gate.flagA.load(), c.flagA) << c.speed;
    EXPECT_EQ(obj_.gate.flagB.load(), c.flagB) << c.speed;
  }
  BSDSIF_Ctrl(&obj_, 1);
  EXPECT_EQ(obj_.enabled.load(), 1u);
  EXPECT_EQ(obj_.changed.load(), 1u);
  EXPECT_EQ(BSDSIF_IsActive(&obj_), 0u);
  BSDSIF_UpdateGate(&obj_.gate, 40);
  EXPECT_EQ(BSDSIF_IsActive(&obj_), 1u);
  BSDSIF_Ctrl(&obj_, 2);
  EXPECT_EQ(obj_.secondSwitch.load(), 1u);
  BSDSIF_Ctrl(&obj_, 3);
  EXPECT_EQ(obj_.secondSwitch.load(), 0u);
  BSDSIF_Ctrl(&obj_, 9);

  BSDSIF_SetHoldTime(&obj_, 200);
  BSDSIF_UpdateHold(&obj_, 1);
  EXPECT_EQ(BSDSIF_GetResult(&obj_), 1u);
  gNow += 200;
  BSDSIF_UpdateHold(&obj_, 0);
  EXPECT_EQ(obj_.state.load(), 1u);
  gNow += 1;
  BSDSIF_UpdateHold(&obj_, 0);
  EXPECT_EQ(obj_.state.load(), 0u);
  BSDSIF_UpdateHold(&obj_, 1);
  BSDSIF_ClearState(&obj_);
  EXPECT_EQ(obj_.state.load(), 0u);
  EXPECT_EQ(obj_.lastReported.load(), static_cast<uint32_t>(-1));
}

}  // namespace
