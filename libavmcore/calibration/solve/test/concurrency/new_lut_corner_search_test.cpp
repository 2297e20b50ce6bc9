// The parallel corner search of a new LUT object, with a recording finder in
// place of the chessboard detector: which cameras are searched, in which
// order, on how many threads at once, and which code comes back.
#include "calibration/solve/new_lut_corner_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "frame/global_variables.h"
#include "frame/thread_start.h"
#include "surround/lutob.h"
#include "testsupport/calibration_site.h"
#include "testsupport/config_state.h"

namespace {

constexpr int32_t kCamW = 64, kCamH = 48;

// What the recording finder returns and saw. Written by the workers, read by
// the test after the search returned.
struct Recorder {
  std::atomic<int32_t> found[4];
  std::atomic<int32_t> calls[4];
  std::atomic<int32_t> startSeq[4];
  std::atomic<int32_t> endSeq[4];
  std::atomic<int32_t> seq{0};
  std::atomic<int32_t> running{0};
  std::atomic<int32_t> maxRunning{0};
  std::mutex mu;
  float firstWorldX[4] = {0, 0, 0, 0};
  float firstPixel[4] = {0, 0, 0, 0};
  void Reset(const int32_t counts[4]) {
    for (int c = 0; c < 4; ++c) {
      found[c] = counts[c];
      calls[c] = 0;
      startSeq[c] = endSeq[c] = -1;
    }
    seq = running = maxRunning = 0;
  }
};
Recorder g_rec;

uint32_t RecordingFinder(LUTOB* lut, uint32_t camera) {
  const int c = static_cast<int>(camera) - 1;
  g_rec.calls[c]++;
  g_rec.startSeq[c] = g_rec.seq++;
  const int32_t now = ++g_rec.running;
  int32_t seen = g_rec.maxRunning.load();
  while (now > seen && !g_rec.maxRunning.compare_exchange_weak(seen, now)) {
  }
  {
    std::lock_guard<std::mutex> lock(g_rec.mu);
    g_rec.firstWorldX[c] = lut->worldPoints[c][0];
    g_rec.firstPixel[c] = lut->cameraImages[c]->data[0];
  }
  usleep(40000);  // long enough for the other searches to overlap
  --g_rec.running;
  g_rec.endSeq[c] = g_rec.seq++;
  return static_cast<uint32_t>(g_rec.found[c].load());
}

// Thread starts that fail at the k-th call (1-based) after arming; the others
// start as the library does.
std::atomic<int> g_startCalls{0};
int g_failAtCall = 0;
int StartFailingAt(ThreadRoutine routine, void* arg) {
  if (++g_startCalls == g_failAtCall) return 11;  // EAGAIN
  Thread_SetStartOverride(nullptr);
  const int rc = Thread_CreateDetached(nullptr, routine, arg);
  Thread_SetStartOverride(StartFailingAt);
  return rc;
}

class NewLutCornerSearch : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::vector<float> quad_ = std::vector<float>(static_cast<size_t>(4) * kCamW * kCamH);
  Matrix quadM_{2 * kCamW, 2 * kCamH, nullptr};
  LUTOB* lut_ = nullptr;

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    GlobalVariables& g = gv();
    g.CalibLayoutCode = 1;
    g.maxPoints = 59;
    g.targetDimA = 200;
    g.targetDimB = 100;
    g.boardCols12 = g.boardCols34 = 8;
    g.boardRows12 = g.boardRows34 = 6;
    g.cornerCount1 = g.cornerCount2 = g.cornerCount34 = 43;
    // Each quadrant carries its camera number / 10.
    for (int32_t y = 0; y < 2 * kCamH; ++y)
      for (int32_t x = 0; x < 2 * kCamW; ++x)
        quad_[static_cast<size_t>(y) * 2 * kCamW + x] = 0.1f * static_cast<float>(1 + (x >= kCamW) + 2 * (y >= kCamH));
    quadM_.data = quad_.data();
    lut_ = LUTOB_Create();
  }
  void TearDown() override { LUTOB_Destroy(lut_); }

  int32_t Run(int32_t mask, const int32_t counts[4]) {
    gv().cameraMask = mask;
    g_rec.Reset(counts);
    return InitLUTOB_New_DetectCornersWith(lut_, 1800, 4600, 0, 500, 2800, 2, &quadM_, RecordingFinder);
  }
  static int32_t Calls(int c) { return g_rec.calls[c - 1].load(); }
};

TEST_F(NewLutCornerSearch, AllCamerasFoundCameraOneFirstThenTheOthersTogether) {
  const int32_t counts[4] = {35, 35, 30, 29};
  ASSERT_EQ(Run(0xF, counts), 0);
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(Calls(c), 1);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(lut_->cornerCounts[c], counts[c]);
  // Camera 1's search ended before any other began; the other three ran at
  // the same time.
  for (int c = 1; c < 4; ++c) EXPECT_GT(g_rec.startSeq[c].load(), g_rec.endSeq[0].load());
  EXPECT_GE(g_rec.maxRunning.load(), 2);
  // Each search saw its camera's target and its quadrant of the frame.
  EXPECT_EQ(g_rec.firstWorldX[0], -600.0f);
  EXPECT_EQ(g_rec.firstWorldX[2], -2000.0f);
  for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(g_rec.firstPixel[c], 0.1f * (c + 1));
  EXPECT_EQ(lut_->camW, kCamW);
  EXPECT_EQ(lut_->camH, kCamH);
  ASSERT_NE(lut_->poses.K[3].data, nullptr);
  EXPECT_EQ(lut_->poses.K[3].data, lut_->params.K[3]);
}

TEST_F(NewLutCornerSearch, FirstFailingCameraGivesItsCodeAndReleasesTheObject) {
  struct Case {
    int32_t counts[4];
    int32_t code;
    int searched;  // cameras searched
  } cases[] = {
      {{35, 35, 0, 29}, 19, 4},
      {{35, 0, 30, 0}, 18, 4},
      {{35, 35, 30, 0}, 20, 4},
      {{0, 35, 30, 29}, 17, 1},  // camera 1 failing stops the search
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.code);
    EXPECT_EQ(Run(0xF, k.counts), k.code);
    int searched = 0;
    for (int c = 1; c <= 4; ++c) searched += Calls(c);
    EXPECT_EQ(searched, k.searched);
    EXPECT_EQ(lut_->camW, 0);
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(lut_->worldPoints[c], nullptr);
      EXPECT_EQ(lut_->imagePoints[c], nullptr);
      EXPECT_EQ(lut_->cameraImages[c], nullptr);
    }
    EXPECT_EQ(lut_->previewImage.data, nullptr);
  }
}

TEST_F(NewLutCornerSearch, PartialMasks) {
  // Camera 1 alone, failing: nothing else is searched, no code.
  const int32_t camera1Fails[4] = {0, 35, 30, 29};
  EXPECT_EQ(Run(0x1, camera1Fails), 0);
  EXPECT_EQ(Calls(1), 1);
  EXPECT_EQ(Calls(2) + Calls(3) + Calls(4), 0);
  EXPECT_EQ(lut_->cornerCounts[0], 0);
  EXPECT_NE(lut_->worldPoints[0], nullptr);

  // Camera 1 not enabled: its count keeps its earlier value; cameras 2 to 4
  // are searched whatever their bits; a failure there gives no code.
  LUTOB_Destroy(lut_);
  lut_ = LUTOB_Create();
  lut_->cornerCounts[0] = 77;
  const int32_t camera3Fails[4] = {35, 35, 0, 29};
  EXPECT_EQ(Run(0x2, camera3Fails), 0);
  EXPECT_EQ(Calls(1), 0);
  for (int c = 2; c <= 4; ++c) EXPECT_EQ(Calls(c), 1);
  EXPECT_EQ(lut_->cornerCounts[0], 77);
  EXPECT_EQ(lut_->cornerCounts[1], 35);
  EXPECT_EQ(lut_->cornerCounts[2], 0);
  EXPECT_NE(lut_->cameraImages[2], nullptr);

  // Camera 1 enabled and found, the others' bits clear: all four searched.
  LUTOB_Destroy(lut_);
  lut_ = LUTOB_Create();
  const int32_t all[4] = {35, 35, 30, 29};
  EXPECT_EQ(Run(0x1, all), 0);
  for (int c = 1; c <= 4; ++c) EXPECT_EQ(Calls(c), 1);
}

// A search thread that cannot be started gives its camera's code under any
// mask and releases the object; the search never waits for it.
TEST_F(NewLutCornerSearch, SearchThreadThatDoesNotStartGivesItsCameraCode) {
  struct Case {
    int32_t mask;
    int failAt;  // which start fails: camera 1's first when enabled
    int32_t code;
    int searched;
  } cases[] = {
      {0xF, 1, 17, 0},  // camera 1: nothing else searched
      {0xF, 3, 19, 3},  // camera 3 (after 1 and 2)
      {0x2, 2, 19, 2},  // camera 1 not enabled: starts are cameras 2, 3, 4
      {0x1, 4, 20, 3},
  };
  const int32_t all[4] = {35, 35, 30, 29};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.code);
    LUTOB_Destroy(lut_);
    lut_ = LUTOB_Create();
    g_startCalls = 0;
    g_failAtCall = k.failAt;
    Thread_SetStartOverride(StartFailingAt);
    const int32_t r = Run(k.mask, all);
    Thread_SetStartOverride(nullptr);
    EXPECT_EQ(r, k.code);
    int searched = 0;
    for (int c = 1; c <= 4; ++c) searched += Calls(c);
    EXPECT_EQ(searched, k.searched);
    EXPECT_EQ(lut_->camW, 0);
    EXPECT_EQ(lut_->worldPoints[0], nullptr);
  }
}

TEST_F(NewLutCornerSearch, CornerMinimumRequestIsOneShot) {
  // A dark pixel well inside camera 1's image, in a bright field.
  const size_t at = static_cast<size_t>(20) * 2 * kCamW + 20;
  std::fill(quad_.begin(), quad_.end(), 0.8f);
  quad_[at] = 0.0f;
  gv().advValue8 = 1;
  const int32_t all[4] = {35, 35, 30, 29};
  ASSERT_EQ(Run(0xF, all), 0);
  EXPECT_EQ(gv().advValue8, 0);
  EXPECT_FLOAT_EQ(lut_->cameraImages[0]->data[20 * kCamW + 20], 0.8f);
  EXPECT_FLOAT_EQ(quad_[at], 0.8f);  // filtered in place

  quad_[at] = 0.0f;
  LUTOB_Destroy(lut_);
  lut_ = LUTOB_Create();
  ASSERT_EQ(Run(0xF, all), 0);
  EXPECT_FLOAT_EQ(lut_->cameraImages[0]->data[20 * kCamW + 20], 0.0f);
}

TEST_F(NewLutCornerSearch, TargetTooLargeForThePointArraysIsNotSearched) {
  gv().boardCols12 = 10;  // 9 x 7 = 63 corners, more than 59 rows
  gv().boardRows12 = 8;
  const int32_t all[4] = {35, 35, 30, 29};
  EXPECT_EQ(Run(0xF, all), 17);
  EXPECT_EQ(Calls(1), 0);
  EXPECT_EQ(lut_->camW, 0);
}

TEST_F(NewLutCornerSearch, FailedBlockCalibrationLeavesTheObjectUntouched) {
  gv().CalibLayoutCode = 29;  // no block calibration has succeeded here
  const int32_t all[4] = {8, 8, 8, 8};
  const int32_t r = Run(0xF, all);
  EXPECT_NE(r, 0);
  EXPECT_EQ(Calls(1) + Calls(2) + Calls(3) + Calls(4), 0);
  EXPECT_EQ(lut_->camW, 0);
  EXPECT_EQ(lut_->cfg.carWidth, 0);
  EXPECT_EQ(lut_->worldPoints[0], nullptr);
}

TEST_F(NewLutCornerSearch, BadInputIsRefused) {
  const int32_t all[4] = {35, 35, 30, 29};
  g_rec.Reset(all);
  EXPECT_EQ(InitLUTOB_New_DetectCornersWith(nullptr, 1800, 4600, 0, 500, 2800, 2, &quadM_, RecordingFinder), 17);
  EXPECT_EQ(InitLUTOB_New_DetectCornersWith(lut_, 1800, 4600, 0, 500, 2800, 2, nullptr, RecordingFinder), 17);
  Matrix tiny{1, 1, quad_.data()};
  EXPECT_EQ(InitLUTOB_New_DetectCornersWith(lut_, 1800, 4600, 0, 500, 2800, 2, &tiny, RecordingFinder), 17);
  EXPECT_EQ(Calls(1) + Calls(2) + Calls(3) + Calls(4), 0);
}

}  // namespace

// The library's own finder and candidate solves on a rendered layout-1 site,
// cameras 2 to 4 on three threads at once: every camera finds its board.
TEST(NewLutCornerSearchRendered, EveryCameraFindsItsBoard) {
  ScopedConfigState state;
  CalibrationSite site = CalibrationSite_Compact(2);
  site.camW = 640;
  site.camH = 360;
  state.WriteFile("globalimage_base.txt", site.BaseText());
  ScopedConfigState::ResetConfiguration();
  GlobalVariables_InitRuntimeDefaults();
  ASSERT_EQ(GlobalVariables_Init(1), 1);
  const std::vector<uint8_t> quad = CalibrationSite_RenderQuad(site);
  std::vector<float> f(quad.size());
  for (size_t i = 0; i < quad.size(); ++i) f[i] = quad[i] / 255.0f;
  Matrix m{2 * site.camW, 2 * site.camH, f.data()};
  gv().cameraMask = 0xF;
  LUTOB* lut = LUTOB_Create();
  EXPECT_EQ(InitLUTOB_New_DetectCorners(lut, site.carWidth, site.carLength, site.SideShift(), 900, 2700, site.model,
                                        &m),
            0);
  const int32_t expected = (site.boardCols - 1) * (site.boardRows - 1);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(lut->cornerCounts[c], expected) << c + 1;
  LUTOB_Destroy(lut);
}
