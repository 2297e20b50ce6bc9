#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "../decoder_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

class FrameRoadTest : public ::testing::Test {
 protected:
  void SetUp() override { FakeEncoder::Get().Reset(); }
  ScopedConfigState state_;
  FakeAnalysis analysis_;
  OutputLog out_;
};

TEST_F(FrameRoadTest, EveryFrameReachesTheCallbackOnceAndInOrder) {
  FramePool pool(64, 32, 40);
  auto d = StartDecoder(64, 32, &analysis_);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  std::vector<uint64_t> sent;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(InputFrame(d.get(), pool.Addr(i)), 0) << i;
    sent.push_back(pool.Addr(i));
    // When the input returns, its own frame has been delivered.
    ASSERT_EQ(out_.Get().back(), pool.Addr(i));
  }
  EXPECT_EQ(out_.Get(), sent);
  EXPECT_EQ(d->Counters().framesDropped, 0);
  // The corner marks are painted into each frame: dark grey luma, neutral chroma.
  EXPECT_EQ(pool.frames[0][0], 77);
  EXPECT_EQ(pool.frames[0][31 * 64 + 1], 77);
  EXPECT_EQ(pool.frames[0][64 * 32], 128);
}

TEST_F(FrameRoadTest, NoCallbackStillTakesFramesAndAllOnesSkipsTheMarks) {
  FramePool pool(64, 32, 3);
  auto d = StartDecoder(64, 32, &analysis_);
  const uint64_t v[6] = {~0ull, pool.Addr(0), 0, 0, 0, 0};
  EXPECT_EQ(d->Input(v), 0);
  EXPECT_EQ(pool.frames[0][0], 60);  // untouched
  EXPECT_EQ(InputFrame(d.get(), pool.Addr(1)), 0);
  EXPECT_EQ(d->Counters().framesIn, 2);
  EXPECT_EQ(d->Counters().framesOut, 0);
}

TEST_F(FrameRoadTest, SlowCallbackTimesTheInputOutAndTheNextInputWaitsForItsOwnFrame) {
  FramePool pool(64, 32, 6);
  auto d = StartDecoder(64, 32, &analysis_);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(0)), 0);
  out_.slowMs = 180;
  out_.slowAddress = pool.Addr(1);
  EXPECT_EQ(InputFrame(d.get(), pool.Addr(1)), 1);  // the callback takes longer than 100 ms
  // The next input returns only once its own frame was delivered, not on
  // the late post of the slow one.
  EXPECT_EQ(InputFrame(d.get(), pool.Addr(2)), 0);
  EXPECT_EQ(out_.Get(), (std::vector<uint64_t>{pool.Addr(0), pool.Addr(1), pool.Addr(2)}));
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(3)), 0);
  EXPECT_EQ(out_.Get().back(), pool.Addr(3));
  EXPECT_EQ(out_.Get().size(), 4u);
}

TEST_F(FrameRoadTest, WithoutAMainThreadTheInputTimesOutAndTheFrameIsWithdrawn) {
  FramePool pool(64, 32, 2);
  auto d = StartDecoder(64, 32, &analysis_);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  d->Shutdown();  // no threads
  const auto t0 = Clock::now();
  EXPECT_EQ(InputFrame(d.get(), pool.Addr(0)), 1);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  EXPECT_GE(ms, 95);
  EXPECT_TRUE(out_.Get().empty());
}

TEST_F(FrameRoadTest, BusySubThreadsSplitByParityDropAfterTheSlotWaitAndEncodeInOrder) {
  FramePool pool(64, 32, 12);
  auto d = StartDecoder(64, 32, &analysis_);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  d->encoderReady = 1;
  d->recordFrameRate = 25;  // every frame to the encoder
  FakeEncoder& enc = FakeEncoder::Get();
  enc.recording = 1;
  analysis_.active = 1;
  enc.gate.Close();
  analysis_.gate.Close();
  // Frame 0 goes to both sub-threads, which then hang in their work.
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(0)), 0);
  ASSERT_TRUE(enc.gate.WaitEntered(1));
  ASSERT_TRUE(analysis_.gate.WaitEntered(1));
  // Frame 1 (frame counter 2, even): both busy, so it goes to analysis only.
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(1)), 0);
  // Frame 2 finds slot 0 still busy: dropped after 20 x 5 ms, no callback.
  // The slot wait is as long as the input's own wait, so the caller may
  // see its time-out first; the next input waits for its own frame anyway.
  const auto t0 = Clock::now();
  const int32_t r = InputFrame(d.get(), pool.Addr(2));
  EXPECT_TRUE(r == 0 || r == 1);
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 90);
  for (int i = 0; i < 100 && d->Counters().framesDropped == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(d->Counters().framesDropped, 1);
  EXPECT_EQ(out_.Get(), (std::vector<uint64_t>{pool.Addr(0), pool.Addr(1)}));
  enc.gate.Open();
  analysis_.gate.Open();
  for (int i = 3; i < 12; ++i) {
    ASSERT_EQ(InputFrame(d.get(), pool.Addr(i)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  d->Shutdown();
  const std::vector<uint64_t> encoded = enc.Encoded();
  const std::vector<uint64_t> analysed = analysis_.Analysed();
  ASSERT_GE(encoded.size(), 2u);
  EXPECT_EQ(encoded[0], pool.Addr(0));
  EXPECT_EQ(std::count(encoded.begin(), encoded.end(), pool.Addr(1)), 0);  // parity: analysis only
  EXPECT_EQ(std::count(analysed.begin(), analysed.end(), pool.Addr(1)), 1);
  EXPECT_EQ(std::count(encoded.begin(), encoded.end(), pool.Addr(2)), 0);  // dropped
  EXPECT_EQ(std::count(analysed.begin(), analysed.end(), pool.Addr(2)), 0);
  // Encoded frames keep the input order.
  std::vector<int> order;
  for (uint64_t a : encoded)
    for (int i = 0; i < 12; ++i)
      if (pool.Addr(i) == a) order.push_back(i);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

TEST_F(FrameRoadTest, HeldFramesAreTakenQuicklyAndNotProcessed) {
  FramePool pool(64, 32, 6);
  auto d = StartDecoder(64, 32, &analysis_);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  d->SetEXParam(9, 1);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(InputFrame(d.get(), pool.Addr(i)), 0);
  EXPECT_EQ(d->Counters().framesIn, 0);
  EXPECT_TRUE(out_.Get().empty());
  EXPECT_EQ(pool.frames[0][0], 60);
  d->SetEXParam(9, 0);
  EXPECT_EQ(InputFrame(d.get(), pool.Addr(3)), 0);
  EXPECT_EQ(out_.Get(), std::vector<uint64_t>{pool.Addr(3)});
}

TEST_F(FrameRoadTest, MixAreaReloadWhileStreamingKeepsAHoldAndTheRoadGoing) {
  FramePool pool(64, 32, 4);
  auto d = StartDecoder(64, 32, &analysis_);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::thread feeder([&] {
    for (int i = 0; !stop.load(); ++i)
      if (InputFrame(d.get(), pool.Addr(i % 4)) == 0) ++taken;
  });
  for (int k = 0; k < 5; ++k) d->SetEXParam(47, 0);
  EXPECT_EQ(d->holdFrames.load(), 0);
  // A hold set by id 9 outlives the reload.
  d->SetEXParam(9, 1);
  d->SetEXParam(47, 0);
  EXPECT_EQ(d->holdFrames.load(), 1);
  d->SetEXParam(9, 0);
  const size_t before = out_.Get().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop = true;
  feeder.join();
  EXPECT_GT(out_.Get().size(), before);
  EXPECT_GT(taken.load(), 0);
}

TEST_F(FrameRoadTest, ReleaseWithWellBehavedThreadsIsQuick) {
  FramePool pool(64, 32, 2);
  auto d = StartDecoder(64, 32, &analysis_);
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(0)), 0);
  const auto t0 = Clock::now();
  d.reset();
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 200);
}

TEST_F(FrameRoadTest, DeletingDirectlyWaitsForAThreadStuckPastTheBound) {
  FramePool pool(64, 32, 2);
  DecoderTiming t;
  t.stopPolls = 2;  // a 60 ms bound
  auto d = StartDecoder(64, 32, &analysis_, t);
  analysis_.active = 1;
  analysis_.gate.Close();
  ASSERT_EQ(InputFrame(d.get(), pool.Addr(0)), 0);
  ASSERT_TRUE(analysis_.gate.WaitEntered(1));
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    analysis_.gate.Open();
  });
  const auto t0 = Clock::now();
  d.reset();  // a direct delete must not free the object under the analysis thread
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 200);
  opener.join();
  EXPECT_EQ(analysis_.Analysed().size(), 1u);
}

// An output callback that never returns: the release of the export returns
// after its bounded stop and keeps the object, which the blocked main thread
// still uses, until that thread has left; then it is freed.
TEST_F(FrameRoadTest, ReleaseReturnsWithinItsBoundAndKeepsTheDecoderForACallbackThatBlocks) {
  FramePool pool(64, 32, 2);
  DecoderTiming t;
  t.stopPolls = 2;  // a 110 ms bound
  TVDecoderBase* d = StartDecoder(64, 32, &analysis_, t).release();
  BlockingOutput out;
  out.gate.Close();
  out.block = true;
  d->RequestVideo(BlockingOutput::Callback, reinterpret_cast<uintptr_t>(&out));
  EXPECT_EQ(InputFrame(d, pool.Addr(0)), 1);
  ASSERT_TRUE(out.gate.WaitEntered(1));
  {
    // The mix-area reload does not wait for the blocked main thread either.
    BoundedCall reload([d] { d->SetEXParam(47, 0); });
    const bool returned = reload.Wait(10000);
    if (!returned) out.gate.Open();
    ASSERT_TRUE(returned) << "SetEXParam 47 waited for the blocked callback";
  }
  EXPECT_EQ(d->holdFrames.load(), 0);
  bool returned;
  {
    BoundedCall release([d] { TVDecoder_Release(d); });
    returned = release.Wait(10000);
    // Kept, not freed, while the callback blocks.
    if (returned) {
      EXPECT_EQ(TVDecoder_ReclaimAbandoned(), 1);
    }
    out.gate.Open();
  }
  EXPECT_TRUE(returned) << "the release waited for the blocked callback";
  int32_t kept = 1;
  for (int i = 0; i < 1000 && kept != 0; ++i) {
    kept = TVDecoder_ReclaimAbandoned();
    if (kept != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(kept, 0);
}

TEST_F(FrameRoadTest, RecordingResultFollowsTheSyncThread) {
  DecoderTiming t;
  t.syncTicks = 2;  // a 20 ms "second"
  auto d = StartDecoder(64, 32, &analysis_, t);
  EXPECT_EQ(d->GetEXResult(4), 0);
  d->encoderReady = 1;
  FakeEncoder::Get().recording = 1;
  const auto until = [&](int want) {
    for (int i = 0; i < 200 && d->GetEXResult(4) != want; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return d->GetEXResult(4);
  };
  EXPECT_EQ(until(1), 1);
  EXPECT_GT(FakeEncoder::Get().syncs.load(), 0);
  // Frames keep coming: their hand-overs must not shorten the sync period.
  FramePool pool(64, 32, 2);
  std::atomic<bool> stop{false};
  std::thread feeder([&] {
    for (int i = 0; !stop.load(); ++i) InputFrame(d.get(), pool.Addr(i % 2));
  });
  FakeEncoder::Get().recording = 0;
  const auto t0 = Clock::now();
  EXPECT_EQ(until(0), 0);
  // About three periods after the stop.
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 40);
  stop = true;
  feeder.join();
}

}  // namespace
