#include "pipeline/dirty_detect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "frame/log.h"
#include "testsupport/adas_sequences.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/config_state.h"

namespace {

constexpr int32_t kQuadW = 2 * kSampleCamW, kQuadH = 2 * kSampleCamH;

uint32_t gNow = 0;
uint32_t FakeTick() { return gNow; }

std::vector<std::string> gLines;
void CaptureLine(const char* line) { gLines.emplace_back(line); }

class DirtyDetectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    frames_ = new std::vector<std::vector<uint8_t>>();
    for (int p = 0; p < 6; ++p) frames_->push_back(DirtScene_RenderQuad(p));
  }
  static void TearDownTestSuite() {
    delete frames_;
    frames_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(BowlRig_WriteConfig(config_.Path("lut_config.krv")));
    state_.tickMs = FakeTick;
    gNow = 1000;
    gLines.clear();
    AvmLog_SetSink(CaptureLine);
  }
  void TearDown() override {
    AvmLog_SetSink(nullptr);
    DirtyDetect_Release(&state_);
  }

  bool Init() { return DirtyDetect_Init(&state_, config_.Path("lut_config.krv").c_str(), 0, 0) == 1; }

  // One feed 300 ms after the last (camera writeIndex, phase moving with
  // each camera's images) and one step. Returns the mask.
  uint32_t FeedAndStep(int32_t image, const std::vector<Smudge>& smudges) {
    std::vector<uint8_t> quad = (*frames_)[(image / 4) % 6];
    for (const Smudge& s : smudges) DirtScene_ApplySmudge(&quad, kQuadW, s);
    gNow += 300;
    EXPECT_EQ(DirtyDetect_FeedA(&state_, quad.data(), kQuadW, kQuadH), 1);
    return DirtyDetectStep(&state_);
  }

  ScopedConfigState config_;
  DirtyDetectState state_;
  static std::vector<std::vector<uint8_t>>* frames_;
};
std::vector<std::vector<uint8_t>>* DirtyDetectTest::frames_ = nullptr;

TEST_F(DirtyDetectTest, InitReadsTheCameraFileAndBuildsTheRegionMask) {
  EXPECT_EQ(DirtyDetect_Init(&state_, nullptr, 0, 0), 0u);
  EXPECT_EQ(DirtyDetect_Init(&state_, config_.Path("missing.krv").c_str(), 0, 0), 0u);
  EXPECT_EQ(state_.inited, 0u);
  const uint8_t frame[16] = {};
  EXPECT_EQ(DirtyDetect_FeedA(&state_, frame, 4, 4), 0);
  EXPECT_EQ(DirtyDetect_IsInited(&state_), 0u);
  EXPECT_EQ(DirtyDetectStep(&state_), 0u);

  ASSERT_TRUE(Init());
  EXPECT_EQ(state_.width, kQuadW / 4);
  EXPECT_EQ(state_.height, kQuadH / 4);
  EXPECT_EQ(state_.vehicleExtentX, kSampleCarWidth);
  EXPECT_EQ(state_.vehicleExtentY, kSampleCarLength);
  EXPECT_EQ(state_.cameras[3].frameCounter, -1);
  // Centre, ring and outer zone along the middle row.
  const int32_t w = state_.width, mid = state_.height / 2;
  EXPECT_EQ(state_.regionMask.data[mid * w + w / 2], 0);
  EXPECT_EQ(state_.regionMask.data[mid * w + w / 2 + static_cast<int>(0.7f * w / 2)], 1);
  EXPECT_EQ(state_.regionMask.data[mid * w + 2], 2);
  // Already initialised: nothing is read again.
  EXPECT_EQ(DirtyDetect_Init(&state_, nullptr, 0, 0), 1u);
  DirtyDetect_Release(&state_);
  DirtyDetect_Release(&state_);
  EXPECT_EQ(state_.inited, 0u);
}

TEST_F(DirtyDetectTest, FeedsTakeOneImageEvery250MsInCameraOrderAndStopAtThreePending) {
  ASSERT_TRUE(Init());
  const std::vector<uint8_t>& quad = (*frames_)[0];
  std::vector<int32_t> taken;
  for (int i = 0; i < 12; ++i) {
    gNow += 100;
    const int32_t before = state_.writeIndex.load();
    if (DirtyDetect_FeedA(&state_, quad.data(), kQuadW, kQuadH)) taken.push_back(before);
  }
  // 1200 ms of feeds every 100 ms: taken at 1100 (more than 250 after 0),
  // 1400, 1700 and 2000, the fourth refused by the full ring but timed.
  EXPECT_EQ(taken, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(state_.lastFeedMs, 2000u);
  EXPECT_EQ(DirtyDetect_CanWrite(&state_), 0u);
  EXPECT_EQ(DirtyDetectStep(&state_), 0u);
  EXPECT_EQ(state_.cameras[0].frameCounter, 0);
  EXPECT_EQ(state_.cameras[1].frameCounter, -1);
  gNow += 251;
  EXPECT_EQ(DirtyDetect_FeedA(&state_, quad.data(), kQuadW, kQuadH), 1);
  // The clock going back lets the next feed through.
  gNow -= 1000;
  DirtyDetectStep(&state_);
  EXPECT_EQ(DirtyDetect_FeedA(&state_, quad.data(), kQuadW, kQuadH), 1);
}

TEST_F(DirtyDetectTest, FeedsTakeTheQuarterFromTheFrameAndSkipAFrameTooSmall) {
  ASSERT_TRUE(Init());
  // Half the configured size: the quarters would be read past the end.
  std::vector<uint8_t> small(static_cast<size_t>(kQuadW / 2) * (kQuadH / 2), 50);
  gNow += 300;
  EXPECT_EQ(DirtyDetect_FeedA(&state_, small.data(), kQuadW / 2, kQuadH / 2), 0);
  EXPECT_EQ(DirtyDetect_FeedB(&state_, small.data(), kQuadW / 4, kQuadH / 2), 0);
  EXPECT_EQ(state_.writeIndex.load(), 0);

  // Packed frames: the camera's luma byte, every second pixel of every
  // second row of its quarter.
  std::vector<uint8_t> packed(static_cast<size_t>(kQuadW) * kQuadH * 2);
  for (int32_t y = 0; y < kQuadH; ++y)
    for (int32_t x = 0; x < kQuadW; ++x) {
      packed[2 * (static_cast<size_t>(y) * kQuadW + x)] = static_cast<uint8_t>(x + y);
      packed[2 * (static_cast<size_t>(y) * kQuadW + x) + 1] = static_cast<uint8_t>(x * 3 + y);
    }
  EXPECT_EQ(DirtyDetect_FeedB(&state_, packed.data(), kQuadW, kQuadH), 1);  // camera 0, second byte
  gNow += 300;
  EXPECT_EQ(DirtyDetect_FeedC(&state_, packed.data(), kQuadW, kQuadH), 1);  // camera 1, first byte
  const ImageU16& c0 = state_.cameras[0].current;
  const ImageU16& c1 = state_.cameras[1].current;
  for (int32_t i : {0, 7, state_.height - 1})
    for (int32_t j : {0, 5, state_.width - 1}) {
      EXPECT_EQ(c0.data[i * c0.width + j], static_cast<uint8_t>(2 * j * 3 + 2 * i));
      EXPECT_EQ(c1.data[i * c1.width + j], static_cast<uint8_t>(kSampleCamW + 2 * j + 2 * i));
    }
  // 3-byte pixels, cameras of the work size, weighted grey without subsampling.
  const int32_t bw = 2 * state_.width, bh = 2 * state_.height;
  std::vector<uint8_t> bgr(static_cast<size_t>(bw) * bh * 3);
  for (size_t k = 0; k < bgr.size(); ++k) bgr[k] = static_cast<uint8_t>(k * 11 + 5);
  gNow += 300;
  EXPECT_EQ(DirtyDetect_FeedBGR(&state_, bgr.data(), bw - 2, bh), 0);  // too small
  EXPECT_EQ(DirtyDetect_FeedBGR(&state_, bgr.data(), bw, bh), 1);      // camera 2
  const uint8_t* q = bgr.data() + 3 * (static_cast<size_t>(state_.height + 4) * bw + 7);
  EXPECT_EQ(state_.cameras[2].current.data[4 * state_.width + 7],
            static_cast<uint16_t>(0.114f * q[0] + 0.5868f * q[1] + 0.2992f * q[2]));
}

TEST_F(DirtyDetectTest, SmudgedCameraIsReportedAtItsFifthDecisionAndCleanOnesNever) {
  ASSERT_TRUE(Init());
  // A dark smudge in the upper half of the rear camera (1), inside the centre zone.
  const std::vector<Smudge> smudge = {{1, 250.0f, 130.0f, 28.0f, 0.8f}};
  uint32_t mask = 0;
  int32_t firstDirty = -1;
  for (int32_t image = 0; image < 4 * 56; ++image) {
    mask = FeedAndStep(image, smudge);
    EXPECT_EQ(mask & ~2u, 0u) << "image " << image;
    if ((mask & 2u) && firstDirty < 0) firstDirty = image;
  }
  // Camera 1's 52nd image (the 5th decision: images 12, 22, 32, 42, 52).
  EXPECT_EQ(firstDirty, 4 * 51 + 1);
  EXPECT_EQ(mask, 2u);
  EXPECT_EQ(state_.cameras[1].decisionCount, 5);
  EXPECT_EQ(state_.cameras[0].decisionCount, 5);
  std::vector<std::string> results;
  for (const std::string& l : gLines)
    if (l.rfind("DirtyDetectResult 1 ", 0) == 0) results.push_back(l);
  EXPECT_EQ(results, (std::vector<std::string>{"DirtyDetectResult 1 1 0 \n", "DirtyDetectResult 1 2 0 \n",
                                                "DirtyDetectResult 1 3 0 \n", "DirtyDetectResult 1 4 0 \n",
                                                "DirtyDetectResult 1 5 1 \n"}));
  // The lens is cleaned: the next decision clears the bit.
  for (int32_t image = 4 * 56; image < 4 * 62; ++image) mask = FeedAndStep(image, {});
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(state_.cameras[1].hitCount, 0);
}

TEST_F(DirtyDetectTest, FasterThan13DecidesEveryFifthImageUntilBelow10) {
  ASSERT_TRUE(Init());
  DirtyDetect_SetParam(&state_, 11.0f);
  for (int32_t image = 0; image < 4 * 2; ++image) FeedAndStep(image, {});
  EXPECT_EQ(state_.period, 10);
  DirtyDetect_SetParam(&state_, 13.5f);
  for (int32_t image = 8; image < 4 * 13; ++image) FeedAndStep(image, {});
  EXPECT_EQ(state_.period, 5);
  // Images 1..13 of each camera: decisions at frameCounter 5 and 10.
  EXPECT_EQ(state_.cameras[2].decisionCount, 2);
  DirtyDetect_SetParam(&state_, 10.5f);
  FeedAndStep(4 * 13, {});
  EXPECT_EQ(state_.period, 5);
  DirtyDetect_SetParam(&state_, 9.5f);
  FeedAndStep(4 * 13 + 1, {});
  EXPECT_EQ(state_.period, 10);
}

TEST_F(DirtyDetectTest, GroundPointsComeBackThroughTheLensModel) {
  ASSERT_TRUE(Init());
  // Ground points seen by the left camera (2); projected with the rig's own
  // camera, then taken back from work-image coordinates.
  const SceneCamera cam = SampleRigCamera(3);
  const float ground[][2] = {{-2500.0f, 300.0f}, {-1600.0f, -800.0f}, {-3200.0f, 1200.0f}};
  for (const auto& g : ground) {
    float world[3] = {g[0], g[1], 0.0f}, image[2];
    Matrix W{3, 1, world}, I{2, 1, image};
    float Kd[9], Dd[8], Rd[3], Td[3];
    std::copy(cam.K, cam.K + 9, Kd);
    std::copy(cam.D, cam.D + 8, Dd);
    std::copy(cam.r, cam.r + 3, Rd);
    std::copy(cam.T, cam.T + 3, Td);
    Matrix K{3, 3, Kd}, D{1, 8, Dd}, R{1, 3, Rd}, T{1, 3, Td};
    CameraModel_ProjectPoints(2, &W, &R, &T, &K, &D, &I, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    float x = 0, y = 0;
    ASSERT_EQ(DirtyDetect_ImageToGround(&state_, 2, image[0] / 2, image[1] / 2, &x, &y), 1u);
    EXPECT_NEAR(x, g[0], 2.0f);
    EXPECT_NEAR(y, g[1], 2.0f);
  }
  // Above the horizon the ray meets the ground only behind the camera, never
  // beyond the car on its own side.
  float x = 0, y = 0;
  const uint32_t met = DirtyDetect_ImageToGround(&state_, 2, state_.width / 2.0f, 0.0f, &x, &y);
  EXPECT_FALSE(met && DirtyDetect_OutsideVehicle(&state_, 2, x, y)) << x << " " << y;
}

TEST_F(DirtyDetectTest, OutsideVehicleTestsTheCamerasOwnSide) {
  ASSERT_TRUE(Init());
  const float ex = kSampleCarWidth / 2.0f, ey = kSampleCarLength / 2.0f;
  struct Case {
    int32_t camera;
    float x, y;
    uint32_t outside;
  } cases[] = {
      {0, 0, -ey - 250, 1}, {0, 0, -ey - 100, 0}, {1, 0, ey + 200, 1}, {1, 0, ey + 150, 0},
      {2, -ex - 250, 0, 1}, {2, -ex - 100, 0, 0}, {3, ex + 250, 0, 1}, {3, ex + 100, 0, 0},
      {7, 0, 0, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DirtyDetect_OutsideVehicle(&state_, c.camera, c.x, c.y), c.outside) << c.camera << " " << c.x;
}

TEST_F(DirtyDetectTest, SmudgeLowOnTheLeftCameraCountsOnlyBeyondTheCar) {
  ASSERT_TRUE(Init());
  // Lower half of camera 2, looking at the ground about 2 m left of the car.
  const std::vector<Smudge> smudge = {{2, 330.0f, 240.0f, 28.0f, 0.8f}};
  float x = 0, y = 0;
  ASSERT_EQ(DirtyDetect_ImageToGround(&state_, 2, 165.0f, 120.0f, &x, &y), 1u);
  ASSERT_LT(x, -kSampleCarWidth / 2.0f - 200.0f);
  uint32_t mask = 0;
  for (int32_t image = 0; image < 4 * 52; ++image) mask = FeedAndStep(image, smudge);
  EXPECT_EQ(mask, 4u);
  bool logged = false;
  for (const std::string& l : gLines)
    if (l.rfind("DirtyDetectOne ", 0) == 0) {
      float gx = 0, gy = 0;
      ASSERT_EQ(std::sscanf(l.c_str(), "DirtyDetectOne %f %f", &gx, &gy), 2);
      EXPECT_LT(gx, -kSampleCarWidth / 2.0f - 200.0f);
      logged = true;
    }
  EXPECT_TRUE(logged);
}

}  // namespace
