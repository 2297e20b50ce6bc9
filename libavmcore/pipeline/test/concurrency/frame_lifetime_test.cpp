// How long the decoder uses a handed frame: until two later input calls have
// returned 0 (tvdecoder_api.h). An application that refills its buffers by
// that rule never shares one with the decoder's threads.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "../decoder_test_support.h"
#include "testsupport/osd_icons.h"

namespace {

class FrameLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeEncoder::Get().Reset(); }
  ScopedConfigState state_;
};

bool SlotsFree(TVDecoderBase* d) {
  for (int i = 0; i < 2000; ++i) {
    if (d->slots[0].flags.load() == 0 && d->slots[1].flags.load() == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// Frame 0 stays in the analysis thread's hands. Frame 1 returns 0: the first
// later call. Frame 2 would be the second, so it cannot return 0 while frame
// 0 is still read, whichever road it takes; once the analysis has let frame
// 0 go, the same road returns 0 again.
TEST_F(FrameLifetimeTest, NoSecondZeroWhileAFrameIsStillInUse) {
  enum Road { kHeld, kNoAddress, kSlotBusy };
  const struct {
    const char* what;
    Road road;
  } cases[] = {{"held frame", kHeld}, {"frame without CPU address", kNoAddress}, {"slot still busy", kSlotBusy}};
  for (const auto& c : cases) {
    FakeAnalysis analysis;
    analysis.active = 1;
    analysis.gate.Close();
    auto d = StartDecoder(64, 32, &analysis);
    FramePool pool(64, 32, 4);
    const auto hand = [&](int i) {
      if (c.road == kNoAddress) {
        const uint64_t v[6] = {1, 0, 0, 0, 0, 0};
        return d->Input(v);
      }
      return InputFrame(d.get(), pool.Addr(i));
    };
    ASSERT_EQ(InputFrame(d.get(), pool.Addr(0)), 0) << c.what;
    ASSERT_TRUE(analysis.gate.WaitEntered(1)) << c.what;
    ASSERT_EQ(InputFrame(d.get(), pool.Addr(1)), 0) << c.what;
    if (c.road == kHeld) d->SetEXParam(9, 1);
    EXPECT_EQ(hand(2), 1) << c.what;
    EXPECT_TRUE(analysis.Analysed().empty()) << c.what;  // frame 0 still inside
    analysis.gate.Open();
    ASSERT_TRUE(SlotsFree(d.get())) << c.what;
    EXPECT_EQ(hand(3), 0) << c.what;
    d->SetEXParam(9, 0);
  }
}

// The application's side: four buffers, each refilled only once two later
// calls have returned 0; when none is free it hands in no frame (a null CPU
// address), which also counts when it returns 0. The decoder's threads are
// slow now and then, so calls time out, frames are dropped and sub-threads
// fall behind while held frames go through. Every frame a sub-thread reads must be whole (one fill), and
// under ThreadSanitizer no access may race with the refills.
struct ConsistencyCheck {
  static std::atomic<int> torn, seen;
  static int32_t w, h;
  // Rows below the overlay (drawn at row 16) and above the bottom corner marks.
  static void Check(uint64_t cpu) {
    const uint8_t* f = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(cpu));
    const uint8_t first = f[static_cast<size_t>(40) * w];
    for (int32_t y = 40; y < h - 2; ++y)
      for (int32_t x = 0; x < w; ++x)
        if (f[static_cast<size_t>(y) * w + x] != first) {
          ++torn;
          return;
        }
    ++seen;
  }
};
std::atomic<int> ConsistencyCheck::torn{0}, ConsistencyCheck::seen{0};
int32_t ConsistencyCheck::w = 256, ConsistencyCheck::h = 64;

TEST_F(FrameLifetimeTest, AnApplicationKeepingTheStatedLifetimeNeverSharesAFrame) {
  const int32_t w = ConsistencyCheck::w, h = ConsistencyCheck::h;
  ConsistencyCheck::torn = 0;
  ConsistencyCheck::seen = 0;
  ASSERT_TRUE(OsdIcons_Write(state_.dir(), 8, 12, 16, 8));
  static std::atomic<int> analysed{0}, encoded{0};
  analysed = 0;
  encoded = 0;
  std::unique_ptr<TVDecoderMain> d(new TVDecoderMain);
  d->platform = FakeEncoder::Platform();
  d->platform.encodeFrame = [](uint64_t, uint64_t, uint64_t cpu, uint64_t) {
    ConsistencyCheck::Check(cpu);
    if (++encoded % 7 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(130));
    return 0;
  };
  d->analysis = DecoderAnalysis{nullptr, [](void*) { return 1; },
                                [](void*, const uint64_t v[6]) {
                                  ConsistencyCheck::Check(v[1]);
                                  if (++analysed % 5 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(60));
                                }};
  d->Init(1, w, h);
  d->SetEXParam(2, 25);  // every frame to the encoder, with the overlay drawn into it
  ASSERT_EQ(d->StartRecordEx(state_.Path("r.avi").c_str(), 0), 0);
  ASSERT_EQ(d->osd.initialised, 1);

  FramePool pool(w, h, 4);
  bool used[4] = {false, false, false, false};
  int zeroSince[4] = {0, 0, 0, 0};
  int handed = 0, empty = 0, ones = 0, next = 0;
  for (int step = 0; step < 2000 && handed < 120; ++step) {
    int b = -1;
    for (int k = 0; k < 4 && b < 0; ++k) {
      const int c = (next + k) % 4;
      if (!used[c] || zeroSince[c] >= 2) b = c;
    }
    // Now and then the application holds the decoder for a few frames
    // (SetEXParam 9): held calls are quick, but count like any other.
    if (handed % 17 == 5) d->SetEXParam(9, 1);
    if (handed % 17 == 9) d->SetEXParam(9, 0);
    int32_t r;
    if (b < 0) {
      const uint64_t v[6] = {1, 0, 0, 0, 0, 0};
      r = d->Input(v);
      ++empty;
    } else {
      std::vector<uint8_t>& f = pool.frames[static_cast<size_t>(b)];
      std::fill(f.begin(), f.end(), static_cast<uint8_t>(handed));
      r = InputFrame(d.get(), pool.Addr(b));
      next = (b + 1) % 4;
      ++handed;
    }
    if (r != 0) ++ones;
    for (int c = 0; c < 4; ++c)
      if (r == 0 && c != b) ++zeroSince[c];
    if (b >= 0) {
      used[b] = true;
      zeroSince[b] = 0;
    }
  }
  d->SetEXParam(9, 0);
  d->StopRecordEx(0);
  d.reset();
  printf("lifetime: %d frames handed, %d calls returned 1, %d empty calls, %d sub-thread reads\n", handed, ones,
         empty, ConsistencyCheck::seen.load());
  EXPECT_EQ(handed, 120);
  EXPECT_EQ(ConsistencyCheck::torn.load(), 0);
  EXPECT_GT(ConsistencyCheck::seen.load(), 0);
}

}  // namespace
