// MODS through the driver-assistance manager: configuration files in a data
// directory, frames through the manager's feed, steps through its MODS pass,
// and the events through the process-wide callback.
#include <gtest/gtest.h>

#include <vector>

#include "frame/log.h"
#include "pipeline/adas_manager.h"
#include "pipeline/mod_object.h"
#include "testsupport/config_state.h"
#include "testsupport/mods_block_scene.h"

namespace {

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }

struct Event {
  int32_t event, value, a, b;
};

void Collect(int32_t event, int32_t value, int32_t a, int32_t b, int32_t, int32_t, void* user) {
  static_cast<std::vector<Event>*>(user)->push_back(Event{event, value, a, b});
}

TEST(ModManager, BoxCrossingTheRightBlockRaisesEventEight) {
  AvmLogSink previous = AvmLog_SetSink([](const char*) {});
  ScopedConfigState state;
  MOD_SetClock(FakeClock);
  MOD_SetTuningFile("/nonexistent/mod_temp.txt");
  g_now = 1000;
  {
    ModsBlockScene scene;
    ADASConfig* c = scene.mutableConfig();
    c->C[kAdasEnableMask] = kAdasMODS;
    ASSERT_EQ(ADASConfig_Save(c, state.dir().c_str(), kAdasMODS), 1);

    std::vector<Event> events;
    ADAS_SetEventCallback(Collect, &events);
    ADASManager adas;
    adas.clock = FakeClock;
    ASSERT_EQ(ADAS_Init(&adas, state.dir().c_str()), 1);
    ASSERT_NE(adas.mods, nullptr);
    ASSERT_EQ(adas.mods->initialised, 1);
    adas.runState = 1;  // the test runs the MODS pass itself
    CtrlMODS(&adas, scene.width(), scene.height(), 1 | (0xF0 << 4));  // on; all four blocks always
    ADAS_SetSpeed(&adas, 4.0f);
    EXPECT_EQ(ADAS_MODSPass(&adas), 0);  // the speed gate opens; no frame yet

    float travelled = 0.0f;
    auto frame = [&](const std::vector<ModsBox>& boxes) {
      travelled += 4.0f / 3.6f * 66.0f;
      g_now += 66;
      const std::vector<uint8_t> pic = scene.Render(travelled, boxes);
      ADAS_FeedFrame(&adas, scene.width(), scene.height(), pic.data(), nullptr, 0, 0, 0);
      EXPECT_EQ(ADAS_MODSPass(&adas), 1);
    };
    for (int f = 0; f < 40; ++f) frame({});
    for (const Event& e : events) EXPECT_EQ(e.value, 0) << e.event;
    const float start = travelled;
    for (float x = 1300.0f; x < 3500.0f; x += 5.0f / 3.6f * 66.0f)
      frame({ModsBox{x, -1500.0f + (travelled - start), 500.0f, 600.0f}});
    for (int f = 0; f < 30; ++f) frame({});

    int raised = 0, cleared = 0;
    for (const Event& e : events) {
      EXPECT_EQ(e.event, 8) << "only the right block reports";
      if (e.event != 8) continue;
      if (e.value == 1) {
        ++raised;
        EXPECT_GT(e.a, 980);   // X: right of the car
        EXPECT_LT(e.a, 4000);
      } else if (raised > 0) {
        ++cleared;
      }
    }
    EXPECT_GE(raised, 3);  // sent in every step while raised
    EXPECT_EQ(cleared, 1);  // and once when it falls
    EXPECT_EQ(ADAS_GetMODSResult8(&adas), 0);
    ADAS_SetEventCallback(nullptr, nullptr);
    ADAS_Release(&adas);
  }
  MOD_SetClock(nullptr);
  MOD_SetTuningFile(nullptr);
  AvmLog_SetSink(previous);
}

}  // namespace
