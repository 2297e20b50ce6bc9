// The calibration road with a calibration job of this test standing in for
// the real one (these definitions replace the weak stand-ins in this test
// executable only).
#include <gtest/gtest.h>

#include <atomic>

#include "../decoder_test_support.h"

struct Best3Ctrl {
  int32_t timeout = 0;
  int32_t polls = 0;
  int32_t frames = 0;
};

namespace {
std::atomic<int32_t> g_pollsUntilDone{3};
std::atomic<int32_t> g_result{1};
std::atomic<int32_t> g_framesSeen{0};
std::atomic<int32_t> g_released{0};
std::atomic<int32_t> g_initResult{1};
std::atomic<int32_t> g_lastTimeout{0};
}  // namespace

Best3Ctrl* Best3Ctrl_Create() { return new Best3Ctrl; }
void Best3Ctrl_Destroy(Best3Ctrl* job) { delete job; }
int32_t Best3Ctrl_Init(Best3Ctrl* job, int32_t timeout, const char*, const char*, const char*) {
  job->timeout = timeout;
  g_lastTimeout = timeout;
  return g_initResult.load();
}
void Best3Ctrl_InputFrame(Best3Ctrl* job, int32_t layout, const void* descriptor) {
  if (layout == 1 && descriptor != nullptr) ++job->frames;
  ++g_framesSeen;
}
int32_t Best3Ctrl_PollAndSave(Best3Ctrl* job) { return ++job->polls >= g_pollsUntilDone.load() ? g_result.load() : 0; }
void Best3Ctrl_Release(Best3Ctrl*) { ++g_released; }

namespace {

struct CalibLog {
  std::atomic<int> calls{0};
  std::atomic<int> outcome{-1};
  std::atomic<uint64_t> user{0};
};
CalibLog g_calib;
void OnCalib(int32_t kind, int32_t outcome, uint64_t user) {
  EXPECT_EQ(kind, 1);
  g_calib.outcome = outcome;
  g_calib.user = user;
  ++g_calib.calls;
}

TEST(CalibrationRoadTest, FramesGoToTheJobAndTheOutputOnlyUntilItEnds) {
  ScopedConfigState state;
  FakeEncoder::Get().Reset();
  FakeAnalysis analysis;
  OutputLog out;
  auto d = StartDecoder(64, 32, &analysis);
  d->RequestVideo(OutputLog::Callback, reinterpret_cast<uintptr_t>(&out));
  analysis.active = 1;
  for (int32_t outcome : {1, 2}) {
    g_result = outcome;
    g_calib.calls = 0;
    g_framesSeen = 0;
    const size_t analysedBefore = analysis.Analysed().size();
    ASSERT_EQ(d->Better(1, 99, "cfg", "lut1", "lut2", OnCalib, 42), 0);
    EXPECT_EQ(g_lastTimeout.load(), 30);  // clamped to 10..30 s
    EXPECT_EQ(d->Better(1, 5, "cfg", "lut1", "lut2", OnCalib, 43), 0);  // already running: nothing changes
    FramePool pool(64, 32, 4);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(InputFrame(d.get(), pool.Addr(i)), 0);
    EXPECT_EQ(g_framesSeen.load(), 3);  // the job ended on its third frame
    EXPECT_EQ(g_calib.calls.load(), 1);
    EXPECT_EQ(g_calib.outcome.load(), outcome - 1);  // 0 written, 1 timed out
    EXPECT_EQ(g_calib.user.load(), 42u);
    // The job's frames were delivered but not analysed; the fourth went the normal road.
    EXPECT_EQ(out.Get().back(), pool.Addr(3));
    for (int k = 0; k < 100 && analysis.Analysed().size() == analysedBefore; ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(analysis.Analysed().size(), analysedBefore + 1);
  }
  EXPECT_EQ(g_released.load(), 2);
  g_initResult = 0;
  EXPECT_EQ(d->Better(1, 10, "cfg", "lut1", "lut2", OnCalib, 0), -1);  // the job failed to start
  g_initResult = 1;
}

}  // namespace
