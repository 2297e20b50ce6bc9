// The detector on rendered bird's-eye sequences: the car driving over a
// textured floor, alone and with a box walking across one block.
#include <gtest/gtest.h>

#include <vector>

#include "frame/log.h"
#include "pipeline/mod_object.h"
#include "testsupport/mods_block_scene.h"

namespace {

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }

constexpr uint32_t kFrameMs = 66;

class ModSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousSink_ = AvmLog_SetSink([](const char*) {});
    MOD_SetClock(FakeClock);
    MOD_SetTuningFile("/nonexistent/mod_temp.txt");
    g_now = 1000;
    MOD_Init(&mod_, &scene_.config());
    ASSERT_EQ(mod_.initialised, 1);
    MOD_SetMask(&mod_, 0xF0);  // all four blocks in every step
  }
  void TearDown() override {
    MOD_Release(&mod_);
    MOD_SetClock(nullptr);
    MOD_SetTuningFile(nullptr);
    AvmLog_SetSink(previousSink_);
  }

  // One frame at speed km/h: push, step, advance; returns the alarm words.
  uint32_t Frame(int32_t speed, const std::vector<ModsBox>& boxes) {
    travelled_ += speed / 3.6f * kFrameMs;
    const std::vector<uint8_t> pic = scene_.Render(travelled_, boxes);
    g_now += kFrameMs;
    EXPECT_EQ(MOD_CanWrite(&mod_), 1);
    MOD_PushFrameGray(&mod_, scene_.width(), scene_.height(), pic.data(), &scene_.config());
    EXPECT_EQ(MOD_HasFrame(&mod_), 1);
    MOD_SetSpeedAngle(&mod_, speed, 0);
    MOD_Process(&mod_);
    MOD_NextRead(&mod_);
    uint32_t alarms = 0;
    for (int b = 0; b < 4; ++b)
      if (mod_.vehicle.alarms[b].alarm) alarms |= static_cast<uint32_t>(kModBlockIds[b]);
    return alarms;
  }

  AvmLogSink previousSink_ = nullptr;
  ModsBlockScene scene_;
  MODObject mod_;
  float travelled_ = 0.0f;
};

TEST_F(ModSceneTest, EgoMotionAloneRaisesNothing) {
  for (int f = 0; f < 1000; ++f) ASSERT_EQ(Frame(4, {}), 0u) << "frame " << f;
}

TEST_F(ModSceneTest, BoxWalkingAcrossTheRightBlockRaisesItsAlarmOnly) {
  for (int f = 0; f < 40; ++f) ASSERT_EQ(Frame(4, {}), 0u);
  // A 500 x 600 mm box walks outward at 5 km/h across block 8, about 1.5 m
  // ahead of the car's centre, standing on the floor (it drifts rearward with
  // it).
  const float walk = 5.0f / 3.6f * kFrameMs;
  const float startTravel = travelled_;
  int raisedAt = -1, steps = 0;
  int32_t firstHistory = -1;
  for (float x = 1300.0f; x < 3500.0f; x += walk, ++steps) {
    const ModsBox box{x, -1500.0f + (travelled_ - startTravel), 500.0f, 600.0f};
    const uint32_t alarms = Frame(4, {box});
    ASSERT_EQ(alarms & ~8u, 0u) << "step " << steps;
    if (firstHistory < 0 && mod_.blocks[3].history != 0) firstHistory = steps;
    if (alarms == 8u && raisedAt < 0) {
      raisedAt = steps;
      // Raised by the third hit within the five-step window.
      EXPECT_GE(mod_.blocks[3].hits, 3);
      EXPECT_EQ(__builtin_popcount(mod_.blocks[3].history & 31u), mod_.blocks[3].hits);
      // Reported on the right of the car, within the box's reach.
      EXPECT_GT(MOD_GetResult(&mod_, 8), 980);
      EXPECT_LT(MOD_GetResult(&mod_, 8), 4000);
    }
  }
  ASSERT_GE(raisedAt, 0) << "never raised; first hit at step " << firstHistory;
  EXPECT_LE(raisedAt - firstHistory, 4);
  // The box has gone: the alarm holds keepTime (1000 ms) after the last step
  // with enough hits, then drops.
  int dropped = -1;
  for (int f = 0; f < 60 && dropped < 0; ++f) {
    const uint32_t alarms = Frame(4, {});
    ASSERT_EQ(alarms & ~8u, 0u);
    if (alarms == 0) dropped = f;
  }
  ASSERT_GE(dropped, 0);
  const uint32_t held = g_now - static_cast<uint32_t>(mod_.vehicle.alarms[3].alarmTime);
  EXPECT_GT(held, 1000u);
  EXPECT_LE(held, 1000u + kFrameMs);
}

}  // namespace
