#include "pipeline/adas_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "testsupport/adas_road_scene.h"
#include "testsupport/config_state.h"

namespace {

struct Event {
  int32_t event, value, a, b, c, d;
};

std::mutex g_eventsMutex;
std::vector<Event> g_events;

void Record(int32_t e, int32_t v, int32_t a, int32_t b, int32_t c, int32_t d, void*) {
  std::lock_guard<std::mutex> l(g_eventsMutex);
  g_events.push_back({e, v, a, b, c, d});
}

std::vector<Event> Events() {
  std::lock_guard<std::mutex> l(g_eventsMutex);
  return g_events;
}

uint32_t g_now = 1000;
uint32_t FakeClock() { return g_now; }

// A data directory with the sample rig's LDWS and BSDS files.
class AdasManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ADASConfig cfg{};
    ADAS_GenerateTablesFromRig(&cfg, rig_.rig, kAdasLDWS | kAdasBSDS);
    ASSERT_EQ(ADASConfig_Save(&cfg, state_.dir().c_str(), kAdasLDWS | kAdasBSDS), 1);
    ADASConfig_Free(&cfg);
    {
      std::lock_guard<std::mutex> l(g_eventsMutex);
      g_events.clear();
    }
    ADAS_SetEventCallback(Record, nullptr);
    g_now = 1000;
  }
  void TearDown() override { ADAS_SetEventCallback(nullptr, nullptr); }
  ScopedConfigState state_;
  AdasSampleRig rig_;
};

}  // namespace

TEST(SpeedGateTest, DefaultsAndSetterFormulas) {
  struct Case {
    const char* what;
    int32_t mode, t1, t2, t3, t4;
    std::vector<std::pair<float, std::pair<int, int>>> steps;  // speed -> active, report
  };
  const Case cases[] = {
      {"LDWS",
       1, 30, 38, 60, 54,
       {{37.9f, {0, 0}}, {38, {1, 0}}, {59, {1, 0}}, {60, {1, 1}}, {54, {1, 1}}, {53.9f, {1, 0}}, {30, {1, 0}},
        {29, {0, 0}}}},
      {"MODS", 2, 20, 25, 15, 17, {{30, {0, 0}}, {20, {1, 0}}, {25, {1, 0}}, {15, {1, 1}}, {17, {1, 1}},
                                    {18, {1, 0}}, {26, {0, 0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SpeedGate g;
    SpeedGate_Set(&g, c.mode, c.t1, c.t2, c.t3, c.t4);
    for (const auto& s : c.steps) {
      SpeedGate_Update(&g, s.first);
      EXPECT_EQ(g.active.load(), s.second.first) << s.first;
      EXPECT_EQ(g.report.load(), s.second.second) << s.first;
    }
  }
  // A clear is asked on an active change or on the report flag going off.
  SpeedGate g;
  SpeedGate_Set(&g, 1, 30, 38, 60, 54);
  EXPECT_EQ(SpeedGate_Update(&g, 40), 1);
  EXPECT_EQ(SpeedGate_Update(&g, 61), 0);
  EXPECT_EQ(SpeedGate_Update(&g, 50), 1);
  EXPECT_EQ(SpeedGate_Update(&g, 50), 0);

  ADASManager a;
  ADAS_SetParam(&a, 22, 60, 0, 0);
  ADAS_SetParam(&a, 24, 20, 0, 0);
  ADAS_SetParam(&a, 28, 15, 0, 0);
  ADAS_SetRCTASpeedGate(&a, 1);
  const SpeedGate* gates[] = {&a.ldwsCtl.gate, &a.bsdsCtl.gate, &a.modsCtl.gate, &a.rctaCtl.gate};
  const int32_t want[4][5] = {{1, 30, 38, 60, 54}, {1, 4, 10, 20, 15}, {2, 20, 25, 15, 17}, {2, 6, 11, 1, 3}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(gates[i]->mode.load(), want[i][0]);
    EXPECT_EQ(gates[i]->t1.load(), want[i][1]);
    EXPECT_EQ(gates[i]->t2.load(), want[i][2]);
    EXPECT_EQ(gates[i]->t3.load(), want[i][3]);
    EXPECT_EQ(gates[i]->t4.load(), want[i][4]);
    EXPECT_EQ(gates[i]->active.load(), 0);
  }
}

TEST(NightDebounceTest, EightyFirstDisagreeingFrameSwitches) {
  ADASManager a;
  for (int i = 0; i < 80; ++i) ADAS_UpdateNightMode(&a, 1);
  EXPECT_EQ(ADAS_IsNight(&a), 0);
  ADAS_UpdateNightMode(&a, 1);
  EXPECT_EQ(ADAS_IsNight(&a), 1);
  // One agreeing frame among them does not restart the count, two do.
  for (int i = 0; i < 40; ++i) ADAS_UpdateNightMode(&a, 0);
  ADAS_UpdateNightMode(&a, 1);
  for (int i = 0; i < 41; ++i) ADAS_UpdateNightMode(&a, 0);
  EXPECT_EQ(ADAS_IsNight(&a), 0);
  for (int i = 0; i < 40; ++i) ADAS_UpdateNightMode(&a, 1);
  ADAS_UpdateNightMode(&a, 0);
  ADAS_UpdateNightMode(&a, 0);
  for (int i = 0; i < 80; ++i) ADAS_UpdateNightMode(&a, 1);
  EXPECT_EQ(ADAS_IsNight(&a), 0);
  ADAS_UpdateNightMode(&a, 1);
  EXPECT_EQ(ADAS_IsNight(&a), 1);
}

TEST(DirtyEventTest, RepeatsOncePerSecondNotEveryPass) {
  uint32_t last = 0, noted = 0;
  int sent = 0;
  EXPECT_EQ(ADAS_DirtyEventDue(0, 0, &last, &noted), 0);
  EXPECT_EQ(ADAS_DirtyEventDue(2, 100, &last, &noted), 1);
  // 10 ms passes for 3 s: one send a second.
  for (uint32_t t = 110; t <= 3100; t += 10) sent += ADAS_DirtyEventDue(2, t, &last, &noted);
  EXPECT_EQ(sent, 2);
  EXPECT_EQ(ADAS_DirtyEventDue(0, 3110, &last, &noted), 1);
  EXPECT_EQ(ADAS_DirtyEventDue(0, 5000, &last, &noted), 0);
}

TEST_F(AdasManagerTest, InitCreatesConfiguredFunctionsAndGatesKeepEarlyValues) {
  ADASManager a;
  a.clock = FakeClock;
  // Before Init a switched-on function reports itself active.
  CtrlLDWS(&a, 0, 0, 1);
  EXPECT_EQ(ADAS_IsLDWSActive(&a), 1);
  ADAS_SetBSDSSpeedGate(&a, 40);
  ASSERT_EQ(ADAS_Init(&a, state_.dir().c_str()), 1);
  EXPECT_EQ(ADAS_Init(&a, state_.dir().c_str()), 1);
  EXPECT_EQ(a.ldwsCtl.created.load(), 1);
  EXPECT_EQ(a.bsdsCtl.created.load(), 1);
  EXPECT_EQ(a.modsCtl.created.load(), 0);  // no MODS file (and MODS not built in)
  EXPECT_EQ(ADAS_IsLDWSActive(&a), 0);     // Init cleared the active flag
  EXPECT_EQ(a.bsdsCtl.gate.t3.load(), 40);
  EXPECT_EQ(a.ldwsCtl.gate.t2.load(), 38);
  EXPECT_EQ(a.hough.baseRow, 140);
  EXPECT_EQ(a.ldws.refRow, 140);

  ADASManager none;
  EXPECT_EQ(ADAS_Init(&none, "/nonexistent"), 0);
  ADAS_StartThreads(&none);
  EXPECT_EQ(none.workerCount.load(), 0);
  ADAS_StopThreads(&none);
}

TEST_F(AdasManagerTest, WorkersStartAndStopWithTheirCountReachingZero) {
  ADASManager a;
  // What is checked is that every worker leaves and the count reaches zero;
  // the product's 1.5 s wait can run out on a busy checking machine (the
  // running-out path has its own tests), so this one waits up to 30 s.
  a.stopPolls = 1000;
  ASSERT_EQ(ADAS_Init(&a, state_.dir().c_str()), 1);
  ADAS_StartThreads(&a);
  EXPECT_EQ(a.runState.load(), 1);
  EXPECT_EQ(a.workerCount.load(), 2);  // LDWS and BSDS
  ADAS_StartThreads(&a);               // running: nothing more
  EXPECT_EQ(a.workerCount.load(), 2);
  EXPECT_EQ(ADAS_StopThreads(&a), 1);
  EXPECT_EQ(a.workerCount.load(), 0);
  EXPECT_EQ(a.runState.load(), 0);
}

TEST_F(AdasManagerTest, SwitchOffSendsOneClearAndHeldResultRepeatsPerFrame) {
  ADASManager a;
  a.clock = FakeClock;
  ASSERT_EQ(ADAS_Init(&a, state_.dir().c_str()), 1);
  const int32_t W = a.config.C[kAdasFrameWidth], H = a.config.C[kAdasFrameHeight];
  ADAS_SetSpeed(&a, 30);
  CtrlBSDS(&a, W, H, 1);
  a.runState = 1;  // feeds without worker threads; the test runs the passes
  ADAS_BSDSPass(&a);
  EXPECT_EQ(a.bsdsCtl.gate.active.load(), 1);
  EXPECT_EQ(a.bsdsCtl.gate.report.load(), 1);
  // A held left result (deadline far ahead) is sent on every processed frame.
  a.bsds.leftResult = 1;
  a.bsds.leftDeadline = g_now + 100000;
  a.bsds.leftBit0Time = g_now;
  std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 3 / 2, 80);
  int processed = 0;
  for (int i = 0; i < 4; ++i) {
    ADAS_FeedFrame(&a, W, H, frame.data(), nullptr, 0, 0, 7);
    processed += ADAS_BSDSPass(&a);
  }
  EXPECT_EQ(processed, 4);
  auto ev = Events();
  ASSERT_EQ(ev.size(), 4u);
  for (const Event& e : ev) {
    EXPECT_EQ(e.event, 2);
    EXPECT_EQ(e.value, 1);
    EXPECT_EQ(e.d, 7);  // the frame stamp
  }
  EXPECT_EQ(ADAS_GetBSDSLeft(&a), 1);
  // A frame of another size is ignored.
  ADAS_FeedFrame(&a, W / 2, H, frame.data(), nullptr, 0, 0, 7);
  EXPECT_EQ(BSDS_HasFrame(&a.bsds), 0);
  // Switching off: one event 2 with 0 on the next pass.
  CtrlBSDS(&a, W, H, 0);
  ADAS_BSDSPass(&a);
  ADAS_BSDSPass(&a);
  ev = Events();
  ASSERT_EQ(ev.size(), 5u);
  EXPECT_EQ(ev[4].event, 2);
  EXPECT_EQ(ev[4].value, 0);
  a.runState = 0;
}

TEST_F(AdasManagerTest, EveryOtherFrameSplitsLdwsFromTheRest) {
  ADASManager a;
  a.clock = FakeClock;
  ASSERT_EQ(ADAS_Init(&a, state_.dir().c_str()), 1);
  const int32_t W = a.config.C[kAdasFrameWidth], H = a.config.C[kAdasFrameHeight];
  ADAS_SetSpeed(&a, 70);
  CtrlBSDS(&a, W, H, 1);
  CtrlLDWS(&a, W, H, 1);
  SpeedGate_Update(&a.ldwsCtl.gate, 70);
  SpeedGate_Update(&a.bsdsCtl.gate, 70);
  a.runState = 1;
  std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 3 / 2, 80);
  ADAS_FeedFrame(&a, W, H, frame.data(), nullptr, 1, 0, 0);  // counter 1: BSDS only
  EXPECT_EQ(BlockRing_Count(&a.ldwsRing), 0u);
  EXPECT_EQ(BSDS_HasFrame(&a.bsds), 1);
  ADAS_FeedFrame(&a, W, H, frame.data(), nullptr, 1, 0, 0);  // counter 2: LDWS only
  EXPECT_EQ(BlockRing_Count(&a.ldwsRing), 1u);
  // Full rings drop frames.
  for (int i = 0; i < 6; ++i) ADAS_FeedFrame(&a, W, H, frame.data(), nullptr, 0, 0, 0);
  EXPECT_EQ(BlockRing_Count(&a.ldwsRing), 2u);
  EXPECT_EQ(BSDS_CanWrite(&a.bsds), 0);
  a.runState = 0;
}
