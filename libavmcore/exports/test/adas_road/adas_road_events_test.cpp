// Every driver-assistance function through the decoder's exports: road
// scenes drawn through the sample rig's cameras go in with
// KRV_TVDecoder_InputVideoData, and the events come out through the callback
// of KRV_TVDecoder_RequestADASEvent. Each run starts with a stretch in which
// nothing may be raised, then brings the scene that must raise its event.
// Frames are paced like a camera (the functions keep their own clocks); when
// an event arrives it is stamped with the number of frames put in so far.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "frame/log.h"
#include "pipeline/adas_config.h"
#include "pipeline/ldws.h"
#include "testsupport/adas_road_scene.h"
#include "testsupport/adas_sequences.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/config_state.h"
#include "tvdecoder_api.h"

namespace {

struct Event {
  int32_t event, value, a, b;
  int frame;  // frames put in when it arrived
};

std::mutex gMutex;
std::vector<Event> gEvents;
std::atomic<int> gFrames{0};

void OnEvent(int32_t event, int32_t value, int32_t a, int32_t b, int32_t, int32_t, void*) {
  std::lock_guard<std::mutex> l(gMutex);
  gEvents.push_back({event, value, a, b, gFrames.load()});
}
int OnVideo(int32_t, int32_t, uint64_t, int32_t, int32_t, uint64_t) { return 1; }

class AdasRoadEventsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rig_ = new AdasSampleRig(); }
  static void TearDownTestSuite() {
    delete rig_;
    rig_ = nullptr;
  }
  void SetUp() override {
    previousSink_ = AvmLog_SetSink([](const char*) {});
    std::lock_guard<std::mutex> l(gMutex);
    gEvents.clear();
    gFrames = 0;
  }
  void TearDown() override {
    KRV_TVDecoder_RequestADASEvent(nullptr, nullptr);
    KRV_TVDecoder_Release();
    AvmLog_SetSink(previousSink_);
  }

  // Writes the configuration of the functions in mask and starts the decoder
  // on it.
  void Start(int32_t mask) {
    ADASConfig cfg{};
    ADAS_GenerateTablesFromRig(&cfg, rig_->rig, mask & ~kAdasDirty);
    cfg.C[kAdasCameraMask] = 15;
    if ((mask & kAdasDirty) != 0) {
      cfg.C[kAdasDirtyPresent] = 1;
      ASSERT_TRUE(BowlRig_WriteConfig(dir_.Path("lut_config.krv")));
    }
    width_ = cfg.C[kAdasFrameWidth];
    height_ = cfg.C[kAdasFrameHeight];
    ASSERT_EQ(ADASConfig_Save(&cfg, dir_.dir().c_str(), mask), 1);
    ADASConfig_Free(&cfg);
    KRV_TVDecoder_CaptureFileEx(dir_.dir().c_str(), 0, 152, 0);
    ASSERT_EQ(KRV_TVDecoder_Init(1, width_, height_), 0);
    KRV_TVDecoder_RequestVideo(OnVideo, 0);
    KRV_TVDecoder_RequestADASEvent(OnEvent, nullptr);
    for (auto& f : ring_) f.assign(static_cast<size_t>(width_) * height_ * 3 / 2, 128);
  }

  // One frame in (luma plane of width x height, or a whole NV12 frame), then
  // the pause to the next camera frame.
  void Feed(const std::vector<uint8_t>& frame, int periodMs = 40) {
    std::vector<uint8_t>& slot = ring_[next_++ % 4];
    std::copy(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), slot.size())),
              slot.begin());
    const uint64_t addr = reinterpret_cast<uintptr_t>(slot.data());
    KRV_TVDecoder_InputVideoData(addr, addr);
    ++gFrames;
    std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
  }
  // Lets the workers finish the frames put in.
  static void Drain() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

  static std::vector<Event> Of(int32_t event) {
    std::lock_guard<std::mutex> l(gMutex);
    std::vector<Event> out;
    for (const Event& e : gEvents)
      if (e.event == event) out.push_back(e);
    return out;
  }
  // Frame stamp of the first event with a value other than 0 (-1: none).
  static int FirstRaised(int32_t event, int32_t value) {
    for (const Event& e : Of(event))
      if (e.value == value) return e.frame;
    return -1;
  }
  static int FirstNonZero(int32_t event) {
    for (const Event& e : Of(event))
      if (e.value != 0) return e.frame;
    return -1;
  }
  static int CountNonZero(int32_t event) {
    int n = 0;
    for (const Event& e : Of(event)) n += e.value != 0 ? 1 : 0;
    return n;
  }

  static AdasSampleRig* rig_;
  ScopedConfigState dir_;
  AvmLogSink previousSink_ = nullptr;
  int32_t width_ = 0, height_ = 0;
  std::vector<uint8_t> ring_[4];
  size_t next_ = 0;
};

AdasSampleRig* AdasRoadEventsTest::rig_ = nullptr;

// Seeded texture of 64 x 64 cells, for vehicles and floors.
std::vector<uint8_t> Texture(uint32_t seed, int lo, int hi) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(lo, hi);
  std::vector<uint8_t> t(64 * 64);
  for (auto& v : t) v = static_cast<uint8_t>(d(rng));
  return t;
}
uint8_t Cell(const std::vector<uint8_t>& t, float u, float v, float cell) {
  const int i = static_cast<int>(std::floor(u / cell)) & 63, j = static_cast<int>(std::floor(v / cell)) & 63;
  return t[static_cast<size_t>(i) * 64 + static_cast<size_t>(j)];
}

}  // namespace

// Two lines 3.5 m apart at 60 km/h: straight for 30 frames (no warning),
// then a drift of 24 mm a frame to the right: event 1 with 4 once the right
// line's position 12 frames ahead lies inside the vehicle's boundary column.
TEST_F(AdasRoadEventsTest, LaneDepartureWarnsForTheLineBeingCrossed) {
  ASSERT_NO_FATAL_FAILURE(Start(kAdasLDWS));
  AdasRoadRenderer renderer(*rig_, 4600.0f, 9400.0f, 25.0f);
  // The boundary column of the configuration's LDWS grid.
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig_->rig, kAdasLDWS);
  LDWSState probe;
  ASSERT_EQ(LDWS_Init(&probe, &cfg, 0, 0), 1);
  const int32_t rightBound = probe.rightBound;
  LDWS_Release(&probe);
  ADASConfig_Free(&cfg);
  auto column = [](float x) { return (x + 4475.0f) / 50.0f; };
  const float step = 24.0f;
  int expected = -1;
  for (int k = 1; k <= 60 && expected < 0; ++k)
    if (column(1750.0f - step * k) - 12.0f * step / 50.0f <= rightBound) expected = k;
  ASSERT_GT(expected, 0);

  KRV_TVDecoder_SetEXParam(12, 60);
  KRV_TVDecoder_SetEXParam(6, 1);
  auto frame = [&](float offset) {
    return renderer.Render([offset](float x, float) -> uint8_t {
      return (std::fabs(x - offset + 1750.0f) < 75.0f || std::fabs(x - offset - 1750.0f) < 75.0f) ? 230 : 80;
    });
  };
  const std::vector<uint8_t> straight = frame(0.0f);
  for (int f = 0; f < 30; ++f) Feed(straight);
  const int straightEnd = gFrames.load();
  for (int k = 1; k <= 50; ++k) Feed(frame(-step * k));
  Drain();
  const int warned = FirstRaised(1, 4);
  ASSERT_GE(warned, 0);
  EXPECT_GE(warned - straightEnd, expected - 2);
  EXPECT_LE(warned - straightEnd, expected + 8);  // filter lag and the worker's queue
  EXPECT_EQ(FirstRaised(1, 3), -1);
  EXPECT_EQ(FirstRaised(1, 2) >= 0, true);  // lanes tracked
}

// A textured vehicle overtaking in the lane to the right at 30 km/h: event 3
// (bit 0: rear zone) while it passes the right rear zone, cleared after it left; the left
// side (event 2) stays quiet throughout, and so does the empty road before.
TEST_F(AdasRoadEventsTest, BlindSpotRaisesTheSideOfTheOvertakingVehicle) {
  ASSERT_NO_FATAL_FAILURE(Start(kAdasBSDS));
  AdasRoadRenderer renderer(*rig_, 4000.0f, 16500.0f, 40.0f);
  const std::vector<uint8_t> texture = Texture(11, 0, 255);
  KRV_TVDecoder_SetEXParam(12, 30);
  KRV_TVDecoder_SetEXParam(7, 1);
  const std::vector<uint8_t> empty = renderer.Render([](float, float) -> uint8_t { return 80; });
  for (int f = 0; f < 10; ++f) Feed(empty);
  EXPECT_EQ(CountNonZero(2) + CountNonZero(3), 0);
  const int start = gFrames.load();
  const float stepMm = 150.0f;
  int passed = -1;
  for (int f = 0; f < 115; ++f) {
    const float front = 12000.0f - stepMm * f;
    if (passed < 0 && front + 4500.0f < 0.0f) passed = gFrames.load();
    Feed(renderer.Render([&](float x, float y) -> uint8_t {
      if (x > 1600 && x < 3200 && y > front && y < front + 4500) return Cell(texture, x - 1600, y - front, 100.0f);
      return 80;
    }));
  }
  for (int f = 0; f < 35; ++f) Feed(empty);  // the 1.2 s hold runs out
  Drain();
  const int raised = FirstNonZero(3);
  ASSERT_GE(raised, 0);
  EXPECT_GT(raised, start);
  // Bit 0: the rear zone's target, confirmed while the vehicle is still
  // behind the car.
  EXPECT_NE(Of(3).front().value & 1, 0);
  EXPECT_LT(raised, passed);
  const std::vector<Event> right = Of(3);
  EXPECT_EQ(right.back().value, 0);  // cleared once the vehicle is gone
  EXPECT_EQ(CountNonZero(2), 0);
}

// Standing: an empty road behind the car, then a textured car crossing
// behind it from the left at 3 m/s (10.8 km/h) toward the car's centre line.
// Its side's event (11) comes before it reaches the car's corner; the other
// side (10) stays quiet.
TEST_F(AdasRoadEventsTest, RearCrossTrafficRaisesTheSideItComesFrom) {
  ASSERT_NO_FATAL_FAILURE(Start(kAdasRCTA));
  AdasRoadRenderer renderer(*rig_, 13000.0f, 6200.0f, 40.0f);
  const std::vector<uint8_t> texture = Texture(5, 0, 255), road = Texture(6, 116, 124);
  KRV_TVDecoder_SetEXParam(12, 0);
  KRV_TVDecoder_SetEXParam(53, 1);
  auto paint = [&](float front) {
    return renderer.Render([&](float x, float y) -> uint8_t {
      if (y > 3500 && y < 5300 && x < front && x > front - 4500) return Cell(texture, x - front, y, 100.0f);
      return Cell(road, x, y, 200.0f);
    }, 120);
  };
  const std::vector<uint8_t> empty = paint(-1e9f);
  for (int f = 0; f < 20; ++f) Feed(empty);
  EXPECT_EQ(CountNonZero(10) + CountNonZero(11), 0);
  int corner = -1;
  for (float front = -13000.0f; front < -500.0f; front += 120.0f) {
    if (corner < 0 && front > -900.0f) corner = gFrames.load();
    Feed(paint(front));
  }
  Drain();
  const int raised = FirstNonZero(11);
  ASSERT_GE(raised, 0);
  EXPECT_GT(raised, 20);
  EXPECT_LT(raised, corner);
  EXPECT_EQ(CountNonZero(10), 0);
}

// Standing behind a dark vehicle whose rear edge lies 6.1 m ahead of the
// front bumper: nothing while it waits; once it drives off (40 mm a frame at
// 10 frames a second) event 12 comes after about half a metre.
TEST_F(AdasRoadEventsTest, LeadingVehicleDrivingOffRaisesEvent12) {
  ASSERT_NO_FATAL_FAILURE(Start(kAdasLVSA));
  AdasRoadRenderer renderer(*rig_, 2600.0f, 8600.0f, 20.0f);
  KRV_TVDecoder_SetEXParam(12, 0);
  KRV_TVDecoder_SetEXParam(54, 1);
  auto paint = [&](float edge) {
    return renderer.Render(
        [edge](float x, float y) -> uint8_t { return (y <= edge && x > -1500.0f && x < 2500.0f) ? 70 : 170; }, 170);
  };
  const float standing = -static_cast<float>(kSampleCarLength) / 2.0f - 3800.0f;
  const std::vector<uint8_t> waiting = paint(standing);
  for (int f = 0; f < 20; ++f) Feed(waiting, 100);
  EXPECT_EQ(CountNonZero(12), 0);
  const int start = gFrames.load();
  for (int f = 1; f <= 30; ++f) Feed(paint(standing - 40.0f * f), 100);
  Drain();
  const int raised = FirstNonZero(12);
  ASSERT_GE(raised, 0);
  EXPECT_GT(raised - start, 3);
  EXPECT_LE(raised - start, 24);
}

// Driving at 20 km/h with a soiled right camera (a dark blurred disc on its
// picture) over the chessboard floor: event 9 reports that camera (bit 3)
// alone, after its fifth decision in a row that found the blot.
TEST_F(AdasRoadEventsTest, LensDirtReportsTheSoiledCameraOnly) {
  ASSERT_NO_FATAL_FAILURE(Start(kAdasDirty));
  std::vector<std::vector<uint8_t>> frames;
  for (int p = 0; p < 6; ++p) {
    frames.push_back(DirtScene_RenderQuad(p));
    DirtScene_ApplySmudge(&frames.back(), width_, Smudge{3, 250.0f, 130.0f, 28.0f, 0.8f});
  }
  KRV_TVDecoder_SetEXParam(12, 20);
  KRV_TVDecoder_SetEXParam(52, 1);
  // One camera picture is taken every 250 ms, cameras in turn; at this speed
  // a decision covers five pictures of a camera, the first one only primes:
  // the fifth decision of camera 3 needs its 27th picture, about 27 s.
  for (int f = 0; f < 1200 && FirstNonZero(9) < 0; ++f) Feed(frames[static_cast<size_t>(f / 6) % 6]);
  const std::vector<Event> dirt = Of(9);
  ASSERT_FALSE(dirt.empty());
  EXPECT_EQ(dirt.front().value, 8);
}

// Standing with every block on (SetEXParam 26 = 0xF01) over a textured floor:
// nothing while it is empty; a person-sized dark patch walking across ahead
// of the car at 1.5 m/s raises event 5 within a few frames, and only event 5.
TEST_F(AdasRoadEventsTest, MovingObjectRaisesTheBlockItWalksIn) {
  ASSERT_NO_FATAL_FAILURE(Start(kAdasMODS));
  AdasRoadRenderer renderer(*rig_, 3800.0f, 6000.0f, 20.0f);
  const std::vector<uint8_t> floor = Texture(9, 90, 130);
  KRV_TVDecoder_SetEXParam(12, 0);
  KRV_TVDecoder_SetEXParam(26, 0xF01);
  auto paint = [&](float cx) {
    return renderer.Render([&](float x, float y) -> uint8_t {
      if (std::fabs(x - cx) < 250.0f && std::fabs(y + 3600.0f) < 250.0f) return 25;
      return Cell(floor, x, y, 100.0f);
    });
  };
  constexpr int kPeriod = 66;
  const std::vector<uint8_t> empty = paint(-1e9f);
  for (int f = 0; f < 45; ++f) Feed(empty, kPeriod);
  for (int32_t e = 5; e <= 8; ++e) EXPECT_EQ(CountNonZero(e), 0) << e;
  const int start = gFrames.load();
  for (int f = 0; f < 30; ++f) Feed(paint(-2400.0f + 1.5f * kPeriod * f), kPeriod);
  Drain();
  const int raised = FirstNonZero(5);
  ASSERT_GE(raised, 0);
  // Two steps make a track, two dense ones confirm it, three confirmations
  // within five steps raise the alarm; the worker's queue adds a few frames.
  EXPECT_LE(raised - start, 12);
  const Event first = Of(5).front();
  EXPECT_LT(first.b, -kSampleCarLength / 2);  // ahead of the front bumper
  for (int32_t e = 6; e <= 8; ++e) EXPECT_EQ(CountNonZero(e), 0) << e;
}
