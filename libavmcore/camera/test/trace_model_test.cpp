#include "camera/trace_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frame/global_variables.h"

namespace {

// Keeps the global configuration of the other tests.
class TraceModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const GlobalVariables& g = gv();
    savedF4_ = g.f4;
    savedF6_ = g.f6;
    savedBlind_[0] = g.f20_23[0];
    savedBlind_[1] = g.f20_23[1];
    savedConfig_ = g.config;
    savedExtra_ = g.extraConfig;
    GlobalVariables_InitRuntimeDefaults();
    gv().f6 = 0;  // derived sizes recomputed for our car
    memset(&model_, 0, sizeof model_);
  }
  void TearDown() override {
    Undist4Camera_ReleaseModel(&model_);
    GlobalVariables& g = gv();
    g.f4 = savedF4_;
    g.f6 = savedF6_;
    g.f20_23[0] = savedBlind_[0];
    g.f20_23[1] = savedBlind_[1];
    g.config = savedConfig_;
    g.extraConfig = savedExtra_;
  }
  int32_t savedF4_ = 0, savedF6_ = 0, savedBlind_[2] = {0, 0};
  Config savedConfig_{};
  ExtraConfig savedExtra_{};
  TraceModel model_;
};

TEST_F(TraceModelTest, EdgeSetsFromConfiguration) {
  GlobalVariables& g = gv();
  g.config.zoneDistance[0] = 500;
  g.config.zoneDistance[1] = 1400;
  g.config.zoneDistance[2] = 3000;
  g.config.lateralMargin = 50;
  g.extraConfig.frontLineStart = 100;
  g.extraConfig.rearLineStart = 200;
  g.extraConfig.layoutMode = 0;
  g.extraConfig.nearMark = 300;
  g.f20_23[0] = 0;
  g.f20_23[1] = 0;
  int dummyOwner = 0;
  UndistOB* owner = reinterpret_cast<UndistOB*>(&dummyOwner);
  ASSERT_EQ(TraceModel_Create(&model_, owner, 1280, 720, 1800, 4600, 500, 3000), 1);
  EXPECT_EQ(model_.owner, owner);
  const TraceEdgeSet& r = model_.rear;
  const TraceEdgeSet& f = model_.front;
  EXPECT_EQ(r.dir, 1);
  EXPECT_EQ(f.dir, -1);
  EXPECT_EQ(r.edgeY, 2300);
  EXPECT_EQ(f.edgeY, -2300);
  EXPECT_EQ(r.startY, 2300 - 200);
  EXPECT_EQ(f.startY, -2300 + 100);
  EXPECT_EQ(r.d1, 1400);
  EXPECT_EQ(f.margin, 50);
  // Rear axle line: L/2 - f21 - limit1, the same row for both sets.
  EXPECT_EQ(r.axleY, 1800);
  EXPECT_EQ(f.axleY, 1800);
  EXPECT_EQ(r.turnDist10, std::abs(1800 - 2100));
  EXPECT_EQ(f.turnDist11, std::abs(1800 + 2300));
  // The sides sit symmetric about the car centre line, about half a car
  // width out (pixel rounding of the bird's-eye car image).
  EXPECT_NEAR(r.xRight, -r.xLeft, 2 * model_.mmPerPixel + 1);
  EXPECT_NEAR(r.xRight, 900, 2 * model_.mmPerPixel + 1);
  // Bumpers near the car-box edges, rear behind, front ahead.
  EXPECT_NEAR(r.bumperY, 2300, 2 * model_.mmPerPixel + 1);
  EXPECT_NEAR(f.bumperY, -2300, 2 * model_.mmPerPixel + 1);
  EXPECT_EQ(model_.nearMark, 300);
  EXPECT_EQ(model_.undistA.capacity, 12800);
  EXPECT_EQ(model_.mergerB.capacity, 10240);
  EXPECT_EQ(model_.undistB.count, 0);

  // A second create keeps what is there.
  TracePointList before = model_.undistA;
  ASSERT_EQ(TraceModel_Create(&model_, owner, 640, 480, 1, 1, 1, 1), 1);
  EXPECT_EQ(model_.undistA.x, before.x);
  EXPECT_EQ(model_.frameWidth, 1280);
}

TEST_F(TraceModelTest, LayoutModesAndBlindOffsets) {
  GlobalVariables& g = gv();
  g.f20_23[0] = 40;
  g.f20_23[1] = 60;
  struct Case {
    int mode;
    int rear10, front10;
  } cases[] = {{1, 0, 3000}, {2, 500, 4600 - 40 - 60 - 500}};
  int dummyOwner = 0;
  for (const Case& c : cases) {
    g.extraConfig.layoutMode = c.mode;
    memset(&model_, 0, sizeof model_);
    ASSERT_EQ(TraceModel_Create(&model_, reinterpret_cast<UndistOB*>(&dummyOwner), 1280, 720, 1800, 4600, 500, 3000), 1);
    EXPECT_EQ(model_.rear.turnDist10, c.rear10);
    EXPECT_EQ(model_.rear.turnDist11, c.rear10);
    EXPECT_EQ(model_.front.turnDist10, c.front10);
    EXPECT_EQ(model_.layoutMode, c.mode);
    Undist4Camera_ReleaseModel(&model_);
  }
  // Mode 3 leaves the blind-area offsets out of the bumpers and is stored as 0.
  g.extraConfig.layoutMode = 3;
  TraceModel withOffsets;
  memset(&withOffsets, 0, sizeof withOffsets);
  memset(&model_, 0, sizeof model_);
  ASSERT_EQ(TraceModel_Create(&model_, reinterpret_cast<UndistOB*>(&dummyOwner), 1280, 720, 1800, 4600, 500, 3000), 1);
  g.extraConfig.layoutMode = 0;
  ASSERT_EQ(TraceModel_Create(&withOffsets, reinterpret_cast<UndistOB*>(&dummyOwner), 1280, 720, 1800, 4600, 500, 3000), 1);
  EXPECT_EQ(model_.layoutMode, 0);
  EXPECT_EQ(withOffsets.rear.bumperY, model_.rear.bumperY - 60);
  EXPECT_EQ(withOffsets.front.bumperY, model_.front.bumperY + 40);
  Undist4Camera_ReleaseModel(&withOffsets);
  Undist4Camera_ReleaseModel(&withOffsets);  // twice is harmless
  EXPECT_EQ(withOffsets.owner, nullptr);
}

TEST_F(TraceModelTest, ZeroCarWidthStaysFinite) {
  int dummyOwner = 0;
  ASSERT_EQ(TraceModel_Create(&model_, reinterpret_cast<UndistOB*>(&dummyOwner), 0, 0, 0, 0, 0, 0), 1);
  EXPECT_TRUE(std::isfinite(model_.mmPerPixel));
  EXPECT_EQ(model_.undistA.capacity, 0);
}

}  // namespace
