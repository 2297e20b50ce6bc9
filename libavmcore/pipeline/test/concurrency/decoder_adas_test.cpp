// The decoder's analysis thread feeds the driver-assistance manager, whose
// workers start with the decoder and have left when it is released.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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
