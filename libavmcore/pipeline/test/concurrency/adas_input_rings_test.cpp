// The lens-dirt, LVSA and RCTA rings hand images from the feed thread to the
// worker: every image the worker reads is whole (all of one frame's value)
// and comes in feed order.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "pipeline/dirty_detect.h"
#include "pipeline/lvsa_input.h"
#include "pipeline/rcta_input.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/config_state.h"

namespace {

constexpr int kFrames = 400;

std::atomic<uint32_t> gNow{0};
uint32_t FakeTick() { return gNow.load(); }

// Frames of one grey value each (1, 2, ...); the worker checks that a slot
// is uniform and that the values rise.
template <typename Produce, typename Consume>
void RunRing(Produce produce, Consume consume) {
  std::thread producer([&] {
    for (int f = 1; f <= kFrames; ++f)
      while (!produce(static_cast<uint8_t>(f % 250 + 1))) std::this_thread::yield();
  });
  int seen = 0, last = 0;
  while (seen < kFrames) {
    int value = 0;
    if (!consume(&value)) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_GT(value, 0);
    if (last != 0) {
      EXPECT_EQ(value, last % 250 + 1);
    }
    last = value;
    ++seen;
  }
  producer.join();
}

int Uniform(const uint8_t* p, size_t n) {
  for (size_t i = 1; i < n; ++i)
    if (p[i] != p[0]) return -1;
  return p[0];
}

TEST(AdasInputRings, LvsaSlotsArriveWhole) {
  ADASConfig cfg{};
  cfg.C[kAdasLoaded] = cfg.C[kAdasLvsaPresent] = 1;
  cfg.C[kAdasLvsaCols] = 32;
  cfg.C[kAdasLvsaRows] = 24;
  std::vector<int32_t> table(32 * 24);
  for (int i = 0; i < 32 * 24; ++i) table[i] = ((i / 32) << 16) | (i % 32);
  cfg.lvsa = ImageI32{32, 24, table.data()};
  LVSAInput in;
  LVSAInput_Init(&in, &cfg);
  ASSERT_EQ(in.inited, 1u);
  std::vector<uint8_t> frame(64 * 48);
  RunRing(
      [&](uint8_t v) {
        if (!LVSAInput_CanWrite(&in)) return false;
        std::fill(frame.begin(), frame.end(), v);
        LVSAInput_RemapCamA(&in, 64, 48, frame.data(), &cfg);
        return true;
      },
      [&](int* value) {
        if (!LVSAInput_HasFrame(&in)) return false;
        *value = Uniform(in.step.slots[in.readIndex.load()], 32 * 24);
        LVSAInput_NextRead(&in);
        return true;
      });
  LVSAInput_Release(&in);
}

TEST(AdasInputRings, RctaSlotsArriveWhole) {
  ADASConfig cfg{};
  cfg.C[kAdasLoaded] = cfg.C[kAdasRctaPresent] = 1;
  cfg.C[kAdasRctaPresent + 1] = 100;
  cfg.C[kAdasRctaCols] = 16;
  cfg.C[kAdasRctaRows] = 20;
  std::vector<int32_t> table(16 * 20);
  for (int i = 0; i < 16 * 20; ++i) table[i] = ((i / 16) << 16) | (i % 16);
  cfg.rcta[0] = cfg.rcta[1] = ImageI32{16, 20, table.data()};
  RCTAInput in;
  RCTAInput_Init(&in, &cfg);
  ASSERT_EQ(in.inited, 1u);
  std::vector<uint8_t> frame(32 * 32);
  RunRing(
      [&](uint8_t v) {
        if (!RCTAInput_CanWrite(&in)) return false;
        std::fill(frame.begin(), frame.end(), v);
        RCTAInput_RemapCamA(&in, 32, 32, frame.data(), &cfg);
        return true;
      },
      [&](int* value) {
        if (!RCTAInput_HasFrame(&in)) return false;
        const int read = in.readIndex.load();
        const int left = Uniform(in.trackerLeft.slots[read], 16 * 20);
        *value = left == Uniform(in.trackerRight.slots[read], 16 * 20) ? left : -1;
        RCTAInput_NextRead(&in);
        return true;
      });
  RCTAInput_Release(&in);
}

TEST(AdasInputRings, LensDirtImagesArriveWhole) {
  ScopedConfigState config;
  ASSERT_TRUE(BowlRig_WriteConfig(config.Path("lut_config.krv")));
  DirtyDetectState dd;
  dd.tickMs = FakeTick;
  ASSERT_EQ(DirtyDetect_Init(&dd, config.Path("lut_config.krv").c_str(), 0, 0), 1u);
  const int32_t qw = 2 * kSampleCamW, qh = 2 * kSampleCamH;
  std::vector<uint8_t> frame(static_cast<size_t>(qw) * qh);
  const size_t n = static_cast<size_t>(dd.width) * dd.height;
  RunRing(
      [&](uint8_t v) {
        if (!DirtyDetect_CanWrite(&dd)) return false;
        std::fill(frame.begin(), frame.end(), v);
        gNow += 300;  // only the feed thread moves the clock
        return DirtyDetect_FeedA(&dd, frame.data(), qw, qh) == 1;
      },
      [&](int* value) {
        if (!DirtyDetect_HasFrame(&dd)) return false;
        std::vector<uint8_t> bytes(n);
        const uint16_t* img = dd.cameras[dd.readIndex.load()].current.data;
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(img[i]);
        *value = Uniform(bytes.data(), n);
        DirtyDetect_NextRead(&dd);
        return true;
      });
  DirtyDetect_Release(&dd);
}

}  // namespace
