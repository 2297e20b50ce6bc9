#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "exports/tvdecoder_instance.h"
#include "frame/data_directory.h"
#include "testsupport/config_state.h"
#include "tvdecoder_api.h"

namespace {

struct SixCall {
  int32_t ref, ref2;
  uint64_t addr, addr2;
  int32_t w, h;
  uint64_t user;
};
std::mutex g_mutex;
std::vector<SixCall> g_calls;

int SixCallback(int32_t, int32_t ref, uint64_t addr, int32_t ref2, uint64_t addr2, int32_t w, int32_t h, uint64_t user) {
  std::lock_guard<std::mutex> l(g_mutex);
  g_calls.push_back(SixCall{ref, ref2, addr, addr2, w, h, user});
  return 1;
}
int FourCallback(int32_t, int32_t ref, uint64_t addr, int32_t w, int32_t h, uint64_t user) {
  return SixCallback(0, ref, addr, 0, 0, w, h, user);
}
void CalibDone(int32_t, int32_t, uint64_t) {}
void AdasEvent(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, void*) {}

class TVDecoderExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> l(g_mutex);
    g_calls.clear();
  }
  void TearDown() override { KRV_TVDecoder_Release(); }
  ScopedConfigState state_;
};

TEST_F(TVDecoderExportsTest, WithoutTheObjectEveryCallIsANoOp) {
  ASSERT_EQ(TVDecoder_Instance(), nullptr);
  EXPECT_EQ(KRV_TVDecoder_SetEXParam(2, 8), 0);
  EXPECT_EQ(KRV_TVDecoder_GetEXResult(4), 0);
  EXPECT_EQ(KRV_TVDecoder_InputVideoData(1, 2), 0);
  EXPECT_EQ(KRV_TVDecoder_RequestVideo(FourCallback, 1), 0);
  EXPECT_EQ(KRV_TVDecoder_StartRecordEx("/tmp/x.avi", 0), 0);
  EXPECT_EQ(KRV_TVDecoder_Better(1, 10, "a", "b", "c", CalibDone, 0), 0);
  EXPECT_EQ(KRV_TVDecoder_RequestADASEvent(AdasEvent, nullptr), 0);
  float values[132];
  for (float& v : values) v = -5.0f;
  KRV_TVDecoder_GetColorCorrectValue(values);
  KRV_TVDecoder_GetSixExColorCorrectValue(values);
  for (float v : values) EXPECT_EQ(v, -5.0f);
  KRV_TVDecoder_StopRecordEx(0);
  KRV_TVDecoder_OnVideoDataOver();
  EXPECT_EQ(KRV_TVDecoder_Release(), 0);
}

TEST_F(TVDecoderExportsTest, SecondInitKeepsTheFirstObject) {
  ASSERT_EQ(KRV_TVDecoder_Init(1, 64, 32), 0);
  TVDecoderBase* first = TVDecoder_Instance();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(KRV_TVDecoder_Init(0, 128, 64), 0);
  EXPECT_EQ(TVDecoder_Instance(), first);
  EXPECT_EQ(first->width, 64);
  EXPECT_EQ(first->layout, 1);  // always layout 1
  float values[132];
  KRV_TVDecoder_GetColorCorrectValue(values);
  for (float v : values) EXPECT_EQ(v, 1.0f);
  EXPECT_EQ(KRV_TVDecoder_GetEXResult(4), 0);
  EXPECT_EQ(KRV_TVDecoder_Release(), 0);
  EXPECT_EQ(TVDecoder_Instance(), nullptr);
}

TEST_F(TVDecoderExportsTest, DataDirectoryBeforeInitIsWhereInitReads) {
  ScopedConfigState other;
  other.WriteFile("globalimage_base.txt", "2000,200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0");
  KRV_TVDecoder_CaptureFileEx(other.dir().c_str(), 0, 152, 0);
  EXPECT_STREQ(DataDirectory(), other.dir().c_str());
  ASSERT_EQ(KRV_TVDecoder_Init(1, 64, 32), 0);
  EXPECT_EQ(gv().loaded, 1);
}

TEST_F(TVDecoderExportsTest, InputsHandTheirValuesToTheCallbacks) {
  ASSERT_EQ(KRV_TVDecoder_Init(1, 64, 32), 0);
  std::vector<uint8_t> a(64 * 32 * 3 / 2, 50), b(64 * 16 * 3 / 2, 50);
  const uint64_t pa = reinterpret_cast<uintptr_t>(a.data()), pb = reinterpret_cast<uintptr_t>(b.data());
  KRV_TVDecoder_RequestSixVideo(SixCallback, 99);
  // (a, b, c, d) are the values (a, b, 0, c, d, 0): no reference, so the
  // encoder addresses stand in for them.
  ASSERT_EQ(KRV_TVDecoder_InputSixVideoData(0x1234, pa, 0x5678, pb), 0);
  ASSERT_EQ(KRV_TVDecoder_InputSixVideoDataEx(0x1234, pa, 0x77, 0x5678, pb, 0x88), 0);
  KRV_TVDecoder_RequestVideo(FourCallback, 7);
  ASSERT_EQ(KRV_TVDecoder_InputVideoDataEx(0x1234, pa, 0x99), 0);
  ASSERT_EQ(KRV_TVDecoder_InputVideoData(0x4321, pa), 0);
  std::lock_guard<std::mutex> l(g_mutex);
  ASSERT_EQ(g_calls.size(), 4u);
  EXPECT_EQ(g_calls[0].ref, 0x1234);
  EXPECT_EQ(g_calls[0].ref2, 0x5678);
  EXPECT_EQ(g_calls[0].addr, pa);
  EXPECT_EQ(g_calls[0].addr2, pb);
  EXPECT_EQ(g_calls[0].w, 64);
  EXPECT_EQ(g_calls[0].h, 32);
  EXPECT_EQ(g_calls[1].ref, 0x77);
  EXPECT_EQ(g_calls[1].ref2, 0x88);
  EXPECT_EQ(g_calls[2].ref, 0x99);
  EXPECT_EQ(g_calls[2].user, 7u);
  EXPECT_EQ(g_calls[3].ref, 0x4321);
}

TEST_F(TVDecoderExportsTest, CalibrationJobIsRefusedWithBadArgumentsOrCameraFile) {
  ASSERT_EQ(KRV_TVDecoder_Init(1, 64, 32), 0);
  EXPECT_EQ(KRV_TVDecoder_Better(2, 10, "a", "b", "c", CalibDone, 0), -1);
  EXPECT_EQ(KRV_TVDecoder_Better(1, 10, nullptr, "b", "c", CalibDone, 0), -1);
  EXPECT_EQ(KRV_TVDecoder_Better(1, 10, "a", "b", "c", nullptr, 0), -1);
  // A camera file that cannot be read: the job does not start.
  EXPECT_EQ(KRV_TVDecoder_Better(1, 10, "a", "b", "c", CalibDone, 0), -1);
}

TEST_F(TVDecoderExportsTest, RecordingNeedsAStartableEncoder) {
  ASSERT_EQ(KRV_TVDecoder_Init(1, 63, 32), 0);  // an odd width the encoder refuses
  EXPECT_EQ(KRV_TVDecoder_StartRecordEx(state_.Path("r.avi").c_str(), 0), KRV_TVDECODER_RECORD_ENCODER_FAILED);
  EXPECT_FALSE(state_.Exists("r.avi"));
}

// The display application's shutdown with an output callback that never
// returns: Release returns after its bounded stop; the decoder, which the
// blocked main thread still uses, is kept until that thread has left and
// then freed by the next Init.
std::mutex g_blockMutex;
std::condition_variable g_blockCv;
bool g_blocking = false, g_blocked = false;

int BlockingCallback(int32_t, int32_t, uint64_t, int32_t, int32_t, uint64_t) {
  std::unique_lock<std::mutex> l(g_blockMutex);
  g_blocked = true;
  g_blockCv.notify_all();
  g_blockCv.wait(l, [] { return !g_blocking; });
  return 1;
}

void Unblock() {
  std::lock_guard<std::mutex> l(g_blockMutex);
  g_blocking = false;
  g_blockCv.notify_all();
}

TEST_F(TVDecoderExportsTest, ReleaseWithACallbackThatNeverReturnsDoesNotHang) {
  ASSERT_EQ(KRV_TVDecoder_Init(1, 64, 32), 0);
  TVDecoder_Instance()->timing.stopPolls = 2;  // the default bound is 3 s
  {
    std::lock_guard<std::mutex> l(g_blockMutex);
    g_blocking = true;
    g_blocked = false;
  }
  KRV_TVDecoder_RequestVideo(BlockingCallback, 0);
  std::vector<uint8_t> frame(64 * 32 * 3 / 2, 50);
  EXPECT_EQ(KRV_TVDecoder_InputVideoData(1, reinterpret_cast<uintptr_t>(frame.data())), 1);
  {
    std::unique_lock<std::mutex> l(g_blockMutex);
    ASSERT_TRUE(g_blockCv.wait_for(l, std::chrono::seconds(5), [] { return g_blocked; }));
  }
  std::mutex m;
  std::condition_variable cv;
  bool released = false;
  std::thread releaser([&] {
    KRV_TVDecoder_Release();
    std::lock_guard<std::mutex> l(m);
    released = true;
    cv.notify_all();
  });
  bool returned;
  {
    std::unique_lock<std::mutex> l(m);
    returned = cv.wait_for(l, std::chrono::seconds(10), [&] { return released; });
  }
  EXPECT_TRUE(returned) << "Release waited for the blocked callback";
  EXPECT_EQ(TVDecoder_Instance(), nullptr);
  // Every export is a no-op again.
  EXPECT_EQ(KRV_TVDecoder_InputVideoData(1, reinterpret_cast<uintptr_t>(frame.data())), 0);
  Unblock();
  releaser.join();
  // The kept decoder is freed once its main thread has left.
  int32_t kept = 1;
  for (int i = 0; i < 1000 && kept != 0; ++i) {
    kept = TVDecoder_ReclaimAbandoned();
    if (kept != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(kept, 0);
  // A new decoder starts and runs normally.
  ASSERT_EQ(KRV_TVDecoder_Init(1, 64, 32), 0);
  KRV_TVDecoder_RequestVideo(FourCallback, 1);
  EXPECT_EQ(KRV_TVDecoder_InputVideoData(1, reinterpret_cast<uintptr_t>(frame.data())), 0);
}

}  // namespace
