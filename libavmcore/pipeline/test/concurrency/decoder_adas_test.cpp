// The decoder's analysis thread feeds the driver-assistance manager, whose
// workers start with the decoder and have left when it is released.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/test/decoder_test_support.h"
#include "testsupport/adas_road_scene.h"

namespace {

class DecoderAdasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeEncoder::Get().Reset();
    AdasSampleRig rig;
    ADASConfig cfg{};
    ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasLDWS | kAdasBSDS);
    ASSERT_EQ(ADASConfig_Save(&cfg, state_.dir().c_str(), kAdasLDWS | kAdasBSDS), 1);
    w_ = cfg.C[kAdasFrameWidth];
    h_ = cfg.C[kAdasFrameHeight];
    ADASConfig_Free(&cfg);
  }
  ScopedConfigState state_;
  OutputLog out_;
  int32_t w_ = 0, h_ = 0;
};

}  // namespace

TEST_F(DecoderAdasTest, AnalysisThreadFeedsTheManagersWorkers) {
  auto d = StartDecoder(w_, h_, nullptr);
  ASSERT_EQ(d->adas.inited.load(), 1);
  EXPECT_EQ(d->adas.workerCount.load(), 2);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out_));
  d->SetEXParam(7, 1);    // BSDS on
  d->SetEXParam(12, 30);  // inside its speed range
  FramePool pool(w_, h_, 2);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int i = 0;
  while (d->adas.frameCounter.load() < 5 && std::chrono::steady_clock::now() < deadline) {
    InputFrame(d.get(), pool.Addr(i++ % 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(d->adas.frameCounter.load(), 5);
  EXPECT_EQ(ADAS_IsBSDSActive(&d->adas), 1);
  d->Shutdown();
  EXPECT_EQ(d->adas.workerCount.load(), 0);
  EXPECT_EQ(d->adas.runState.load(), 0);
}

namespace {

// An event callback that does not return until the test lets it go.
std::mutex g_eventMutex;
std::condition_variable g_eventCv;
bool g_eventHold = false, g_eventEntered = false;

void HoldingEvent(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, void*) {
  std::unique_lock<std::mutex> l(g_eventMutex);
  g_eventEntered = true;
  g_eventCv.notify_all();
  g_eventCv.wait(l, [] { return !g_eventHold; });
}

uint32_t FixedAdasClock() { return 1000; }

}  // namespace

// A worker held in the application's event callback: the stop returns after
// its bound, the release leaves the functions allocated (the worker still
// uses them), and a release once the worker has left frees them.
TEST_F(DecoderAdasTest, StopIsBoundedWhileAnEventCallbackBlocks) {
  ADASManager a;
  a.clock = FixedAdasClock;
  a.stopPolls = 3;
  ASSERT_EQ(ADAS_Init(&a, state_.dir().c_str()), 1);
  ADAS_SetSpeed(&a, 30);
  CtrlBSDS(&a, w_, h_, 1);
  SpeedGate_Update(&a.bsdsCtl.gate, 30);  // active before the feed below
  // A held left result: the worker sends it after the frame it processes.
  a.bsds.leftResult = 1;
  a.bsds.leftDeadline = 1000 + 100000;
  a.bsds.leftBit0Time = 1000;
  {
    std::lock_guard<std::mutex> l(g_eventMutex);
    g_eventHold = true;
    g_eventEntered = false;
  }
  ADAS_SetEventCallback(HoldingEvent, nullptr);
  ADAS_StartThreads(&a);
  std::vector<uint8_t> frame(static_cast<size_t>(w_) * h_ * 3 / 2, 80);
  ADAS_FeedFrame(&a, w_, h_, frame.data(), nullptr, 0, 0, 0);
  {
    std::unique_lock<std::mutex> l(g_eventMutex);
    ASSERT_TRUE(g_eventCv.wait_for(l, std::chrono::seconds(5), [] { return g_eventEntered; }));
  }
  EXPECT_EQ(ADAS_StopThreads(&a), 0);
  EXPECT_EQ(a.workerCount.load(), 1);
  ADAS_Release(&a);
  EXPECT_EQ(a.inited.load(), 1);  // left allocated
  EXPECT_EQ(a.bsdsCtl.created.load(), 1);
  {
    std::lock_guard<std::mutex> l(g_eventMutex);
    g_eventHold = false;
    g_eventCv.notify_all();
  }
  for (int i = 0; i < 1000 && a.workerCount.load() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(a.workerCount.load(), 0);
  ADAS_SetEventCallback(nullptr, nullptr);
  EXPECT_EQ(ADAS_StopThreads(&a), 1);
  ADAS_Release(&a);
  EXPECT_EQ(a.inited.load(), 0);
}
