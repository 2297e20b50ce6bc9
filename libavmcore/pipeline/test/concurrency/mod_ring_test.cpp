// The detector's frame ring between a feeding thread and the worker: every
// pushed frame reaches the worker whole and in order, and a full ring drops
// frames instead of overwriting the slot being read.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "frame/log.h"
#include "pipeline/mod_object.h"
#include "toolkit/matrix_alloc.h"

namespace {

uint32_t g_tick = 0;
uint32_t TickClock() { return __atomic_add_fetch(&g_tick, 1, __ATOMIC_RELAXED); }

// The feed keeps pushing while the worker steps the detector. Block 8 is
// stepped only every sixth frame, so that its last processed slot comes round
// to the feed again while the worker, stepping nothing in between, keeps up.
TEST(ModRing, StepsWhileTheFeedPushes) {
  AvmLogSink previous = AvmLog_SetSink([](const char*) {});
  MOD_SetTuningFile("/nonexistent/mod_temp.txt");
  MOD_SetClock(TickClock);
  ADASConfig config{};
  config.C[kAdasLoaded] = 1;
  config.C[kAdasFrameWidth] = 32;
  config.C[kAdasFrameHeight] = 32;
  config.C[kAdasModsPresent] = 1;
  config.C[kAdasModsPresent + 1] = 50;
  config.C[kAdasModsCols] = 24;
  config.C[kAdasModsRows] = 40;
  config.C[kAdasModsSideCols] = 24;
  config.C[kAdasModsSideRows] = 20;
  for (int b = 0; b < 4; ++b) {
    const int32_t rows = b < 2 ? 40 : 20;
    ASSERT_TRUE(ImageI32_NewData(&config.mods[b], 24, rows));
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < 24; ++c) config.mods[b].data[r * 24 + c] = ((r % 32) << 16) | c;
  }
  MODObject mod;
  MOD_Init(&mod, &config);
  ASSERT_EQ(mod.initialised, 1);
  MOD_SetSideSignal(&mod, 0, 1.0f);  // at standstill: only the always-on blocks
  constexpr int kFrames = 3000;
  std::atomic<int> stepped{0};
  std::thread feeder([&] {
    std::vector<uint8_t> src(32 * 32);
    for (int sent = 0; sent < kFrames;) {
      if (!MOD_CanWrite(&mod)) {
        std::this_thread::yield();
        continue;
      }
      for (size_t k = 0; k < src.size(); ++k) src[k] = static_cast<uint8_t>(k * 7 + sent * 3);
      MOD_PushFrameGray(&mod, 32, 32, src.data(), &config);
      ++sent;
      std::this_thread::yield();
    }
  });
  for (int n = 0; n < kFrames;) {
    if (!MOD_HasFrame(&mod)) {
      std::this_thread::yield();
      continue;
    }
    MOD_SetMask(&mod, n % 6 == 0 ? 0x80u : 0x00u);
    MOD_SetSpeedAngle(&mod, 0, 0);
    MOD_SetGear(&mod, 3);
    MOD_Process(&mod);
    MOD_NextRead(&mod);
    stepped = ++n;
  }
  feeder.join();
  EXPECT_EQ(stepped.load(), kFrames);
  for (const MODBlock& b : mod.blocks) EXPECT_GE(b.vehicle->frameGap, 1);
  MOD_Release(&mod);
  ADASConfig_Free(&config);
  MOD_SetClock(nullptr);
  MOD_SetTuningFile(nullptr);
  AvmLog_SetSink(previous);
}

TEST(ModRing, HundredThousandFramesPassWholeAndInOrder) {
  AvmLogSink previous = AvmLog_SetSink([](const char*) {});
  MOD_SetTuningFile("/nonexistent/mod_temp.txt");
  // Small blocks (4 x 20 and 4 x 2) whose pixel k reads source pixel
  // (0, k % 4) of a 4 x 1 frame.
  ADASConfig config{};
  config.C[kAdasLoaded] = 1;
  config.C[kAdasFrameWidth] = 4;
  config.C[kAdasFrameHeight] = 1;
  config.C[kAdasModsPresent] = 1;
  config.C[kAdasModsPresent + 1] = 50;
  config.C[kAdasModsCols] = 4;
  config.C[kAdasModsRows] = 20;
  config.C[kAdasModsSideCols] = 4;
  config.C[kAdasModsSideRows] = 2;
  for (int b = 0; b < 4; ++b) {
    const int32_t rows = b < 2 ? 20 : 2;
    ASSERT_TRUE(ImageI32_NewData(&config.mods[b], 4, rows));
    for (int32_t k = 0; k < 4 * rows; ++k) config.mods[b].data[k] = k % 4;
  }
  MODObject mod;
  MOD_Init(&mod, &config);
  ASSERT_EQ(mod.initialised, 1);
  constexpr uint32_t kFrames = 100000;
  std::atomic<bool> failed{false};
  std::thread feeder([&] {
    uint8_t src[4];
    uint32_t sent = 0;
    while (sent < kFrames) {
      if (!MOD_CanWrite(&mod)) {
        std::this_thread::yield();
        continue;
      }
      std::memcpy(src, &sent, 4);  // frame number in the four source bytes
      MOD_PushFrameGray(&mod, 4, 1, src, &config);
      ++sent;
    }
  });
  uint32_t expected = 0;
  while (expected < kFrames && !failed) {
    if (!MOD_HasFrame(&mod)) {
      std::this_thread::yield();
      continue;
    }
    const int32_t slot = mod.readPos.load();
    for (const MODBlock& b : mod.blocks) {
      const uint8_t* f = b.frames[slot];
      const size_t first = b.id == 1 ? static_cast<size_t>(18) * b.width : 0;
      const size_t last = static_cast<size_t>(b.width) * b.bufferHeight - 4;
      uint32_t a, z;
      std::memcpy(&a, f + first, 4);
      std::memcpy(&z, f + (last / 4) * 4, 4);
      if (a != expected || z != expected) failed = true;
    }
    MOD_NextRead(&mod);
    ++expected;
  }
  feeder.join();
  EXPECT_FALSE(failed);
  EXPECT_EQ(expected, kFrames);
  MOD_Release(&mod);
  ADASConfig_Free(&config);
  MOD_SetTuningFile(nullptr);
  AvmLog_SetSink(previous);
}

}  // namespace
