#include <gtest/gtest.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "pipeline/bsdsif_object.h"
#include "testsupport/adas_sequences.h"

namespace {

constexpr int32_t kFrameW = 160, kFrameH = 400;
const float kP00[2] = {40, 380}, kP01[2] = {120, 380}, kP10[2] = {64, 20}, kP11[2] = {96, 20};

struct Reports {
  std::mutex mutex;
  std::vector<uint32_t> values;
  std::vector<float> far;
};

void Record(uint32_t value, void* user, float a, float) {
  Reports* r = static_cast<Reports*>(user);
  std::lock_guard<std::mutex> lock(r->mutex);
  r->values.push_back(value);
  r->far.push_back(a);
}

// Hands a frame to the worker, waiting for room in the ring.
void Feed(BSDSIFObject* obj, const std::vector<uint8_t>& frame) {
  while (!BSDSIF_CanWrite(obj)) usleep(1000);
  BSDSIF_FeedLuma(obj, frame.data());
}

void WaitDrained(BSDSIFObject* obj) {
  while (BSDSIF_HasFrame(obj)) usleep(1000);
}

TEST(BsdsifWorker, ReportsTheVehicleThroughTheCallbackAndClearsWhenSwitchedOff) {
  Reports reports;
  BSDSIFObject obj;
  ASSERT_EQ(BSDSIF_Init(&obj, kFrameW, kFrameH, Record, &reports, 20000.0f, kP00, kP01, kP10, kP11), 1u);
  BSDSIF_SetSpeedGate(&obj, 0);  // detection above -10, reports above 0
  BSDSIF_SetSpeed(&obj, 10);
  BSDSIF_SetHoldTime(&obj, 100000);
  BSDSIF_Ctrl(&obj, 1);
  BSDSIF_StartThread(&obj);
  BSDSIF_StartThread(&obj);  // already running: no second worker
  for (int32_t k = 0; k < 45; ++k) {
    const float top = 330.0f - 6.0f * k;
    Feed(&obj, ZoneScene_Render(kFrameW, kFrameH, {{top, top + 60.0f}}, k + 1));
  }
  WaitDrained(&obj);
  usleep(50 * 1000);
  {
    std::lock_guard<std::mutex> lock(reports.mutex);
    ASSERT_FALSE(reports.values.empty());
    EXPECT_EQ(reports.values.back(), 1u);
    EXPECT_GT(reports.far.back(), 0.0f);
  }
  EXPECT_EQ(BSDSIF_GetResult(&obj), 1u);
  // Switched off: one report of 0 at the worker's next loop.
  BSDSIF_Ctrl(&obj, 0);
  for (int i = 0; i < 200 && obj.lastReported.load() != static_cast<uint32_t>(-1); ++i) usleep(5000);
  BSDSIF_StopThread(&obj);
  EXPECT_EQ(obj.threadState.load(), 0u);
  {
    std::lock_guard<std::mutex> lock(reports.mutex);
    EXPECT_EQ(reports.values.back(), 0u);
  }
  EXPECT_EQ(obj.state.load(), 0u);
  BSDSIF_Release(&obj);
}

TEST(BsdsifWorker, ReleaseWhileRunningWaitsForTheWorkerAndANullCallbackIsSkipped) {
  for (int round = 0; round < 3; ++round) {
    BSDSIFObject obj;
    ASSERT_EQ(BSDSIF_Init(&obj, kFrameW, kFrameH, nullptr, nullptr, 20000.0f, kP00, kP01, kP10, kP11), 1u);
    BSDSIF_SetSpeedGate(&obj, 0);
    BSDSIF_SetSpeed(&obj, 10);
    BSDSIF_Ctrl(&obj, 1);
    BSDSIF_StartThread(&obj);
    for (int32_t k = 0; k < 8 + 4 * round; ++k) {
      const float top = 330.0f - 6.0f * k;
      Feed(&obj, ZoneScene_Render(kFrameW, kFrameH, {{top, top + 60.0f}}, k + 1));
    }
    BSDSIF_Ctrl(&obj, 2);
    BSDSIF_Release(&obj);  // with strips pending: the worker leaves first
    EXPECT_EQ(obj.threadState.load(), 0u);
    EXPECT_EQ(obj.inited, 0u);
    EXPECT_EQ(obj.targets.count, 0u);
  }
}

}  // namespace
