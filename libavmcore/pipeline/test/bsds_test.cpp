#include "pipeline/bsds.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "testsupport/adas_road_scene.h"
#include "testsupport/config_state.h"

namespace {

constexpr BSDSSettings kSide{12, 5, 7, 4, 20.0f, 20.0f};
constexpr int kW = 20, kRows = 80, kCell = 100, kOffset = -3000;

// A zone image: smooth road, and a textured vehicle over rows
// [rear, front) (clipped to the zone).
void PaintZone(uint8_t* img, int rear, int front, std::mt19937* rng) {
  for (int r = 0; r < kRows; ++r)
    for (int x = 0; x < kW; ++x) {
      const bool car = r >= rear && r < front;
      img[r * kW + x] = static_cast<uint8_t>(car ? (*rng)() % 256 : 90 + (*rng)() % 3);
    }
}

}  // namespace

TEST(BsdsZoneTest, GeometryAndEmptyZone) {
  BSDSTracker z;
  BSDS_InitTracker(&z, 1, kW, kRows, kOffset, kCell, "ABCDEFGHIJ", &kSide);
  EXPECT_STREQ(z.name, "ABCDEFG");
  EXPECT_EQ(z.nearDistance, -2500);
  EXPECT_EQ(z.farDistance, -2500 + 69 * 100);
  std::mt19937 rng(1);
  for (int i = 0; i < 30; ++i) {
    PaintZone(z.slots[0], 0, 0, &rng);
    BSDS_TrackTargets(0, &z);
    EXPECT_EQ(z.result, 0);
    EXPECT_EQ(z.candidateCount, 0);
  }
  EXPECT_TRUE(z.targets.empty());
  // Too few rows: no windows, nothing found.
  BSDSTracker tiny;
  BSDS_InitTracker(&tiny, 1, kW, 10, 0, kCell, "T", &kSide);
  BSDS_TrackTargets(0, &tiny);
  EXPECT_EQ(tiny.result, 0);
  BSDS_ReleaseTracker(&z);
  BSDS_ReleaseTracker(&z);
}

TEST(BsdsZoneTest, ApproachingVehicleIsConfirmedWithTheCountsAndTravel) {
  BSDSTracker z;
  BSDS_InitTracker(&z, 1, kW, kRows, kOffset, kCell, "BR", &kSide);
  std::mt19937 rng(5);
  int confirmedAt = -1;
  for (int f = 0; f < 40 && confirmedAt < 0; ++f) {
    // The vehicle's front moves one row (100 mm) a frame toward the front.
    PaintZone(z.slots[0], 0, 15 + f, &rng);
    BSDS_TrackTargets(0, &z);
    ASSERT_LE(z.targets.size(), 1u);
    if (z.result != 0) {
      confirmedAt = f;
      const BSDSTarget& t = z.targets.front();
      EXPECT_EQ(t.nearEnd.confirmed, 1);
      EXPECT_GE(t.nearEnd.lastPosition - t.nearEnd.startPosition, 1300);
      // The rear end stays at the zone's start: the near end needs 7
      // approaches on its own.
      EXPECT_EQ(t.farEnd.confirmed, 0);
      EXPECT_EQ(z.position, t.nearEnd.lastPosition);
    }
  }
  ASSERT_GE(confirmedAt, 0);
  // 13 rows of travel at 100 mm a frame at the least.
  EXPECT_GE(confirmedAt, 13);
  EXPECT_LE(confirmedAt, 25);
  // Gone from the zone: no candidate, the target is removed.
  PaintZone(z.slots[0], 0, 0, &rng);
  BSDS_TrackTargets(0, &z);
  EXPECT_EQ(z.result, 0);
  EXPECT_TRUE(z.targets.empty());
}

class BsdsStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ADASConfig cfg{};
    ADAS_GenerateTablesFromRig(&cfg, rig_.rig, kAdasBSDS);
    ASSERT_EQ(BSDS_Init(&s_, &cfg), 1);
    ADASConfig_Free(&cfg);
    s_.rearCameraAbsent = 0;
    for (int z = 0; z < kBsdsZoneCount; ++z) BSDS_InitTracker(&s_.zones[z], z == kBsdsXR || z == kBsdsXL ? 2 : 1,
                                                              kW, kRows, kOffset, kCell, "Z", &kSide);
  }
  void TearDown() override { BSDS_Release(&s_); }
  // Steps at 40 ms frames with the vehicle in zone z; returns the first step
  // time at which the side result was set.
  BSDSState s_;
  AdasSampleRig rig_;
};

TEST_F(BsdsStateTest, SideResultHeldSixHundredPlusExtraHoldThenCleared) {
  std::mt19937 rng(9);
  uint32_t now = 10000, firstOn = 0, lastDetect = 0;
  for (int f = 0; f < 30; ++f, now += 40) {
    PaintZone(s_.zones[kBsdsBL].slots[0], 0, 15 + f, &rng);
    BSDS_StepAt(&s_, now);
    if (s_.leftResult.load() != 0 && firstOn == 0) firstOn = now;
    if (s_.zones[kBsdsBL].result != 0) lastDetect = now;
  }
  ASSERT_NE(firstOn, 0u);
  EXPECT_EQ(s_.leftResult.load(), 1);
  EXPECT_EQ(s_.rightResult.load(), 0);
  // The vehicle leaves: held until 600 ms past the deadline of the last
  // detection (deadline = detection + 600).
  uint32_t cleared = 0;
  for (; now < lastDetect + 3000; now += 40) {
    PaintZone(s_.zones[kBsdsBL].slots[0], 0, 0, &rng);
    BSDS_StepAt(&s_, now);
    if (s_.leftResult.load() == 0) {
      cleared = now;
      break;
    }
  }
  EXPECT_GT(cleared, lastDetect + 1200);
  EXPECT_LE(cleared, lastDetect + 1200 + 40);
}

TEST_F(BsdsStateTest, CentreZoneAloneRaisesNoSideAndEmptyRoadNothing) {
  std::mt19937 rng(4);
  uint32_t now = 5000;
  for (int f = 0; f < 30; ++f, now += 40) {
    PaintZone(s_.zones[kBsdsBC].slots[0], 0, 15 + f, &rng);
    EXPECT_EQ(BSDS_StepAt(&s_, now), 0);
  }
  EXPECT_NE(s_.zones[kBsdsBC].result, 0);
  EXPECT_EQ(s_.leftResult.load(), 0);
  EXPECT_EQ(s_.rightResult.load(), 0);
}

TEST_F(BsdsStateTest, SteeringBeyondLimitFreezesNewDetections) {
  std::mt19937 rng(2);
  BSDS_SetSteering(&s_, 5.0f);
  uint32_t now = 5000;
  for (int f = 0; f < 30; ++f, now += 40) {
    PaintZone(s_.zones[kBsdsBR].slots[0], 0, 15 + f, &rng);
    BSDS_StepAt(&s_, now);
  }
  EXPECT_NE(s_.zones[kBsdsBR].result, 0);
  EXPECT_EQ(s_.rightResult.load(), 0);
}

TEST_F(BsdsStateTest, TableEntriesOutsideTheFrameReadNothing) {
  // Built from the generated tables: every kept offset lies inside the frame.
  for (int z = 0; z < kBsdsZoneCount; ++z)
    for (int32_t o : s_.offsets_[z]) ASSERT_LT(o, s_.frameWidth_ * s_.frameHeight_);
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig_.rig, kAdasBSDS);
  cfg.bsds[0].data[0] = static_cast<int32_t>(0x7FFF7FFF);  // far outside
  BSDSState s;
  ASSERT_EQ(BSDS_Init(&s, &cfg), 1);
  EXPECT_EQ(s.offsets_[kBsdsBL][0], -1);
  std::vector<uint8_t> frame(static_cast<size_t>(cfg.C[kAdasFrameWidth]) * cfg.C[kAdasFrameHeight], 77);
  BSDS_InputLuma(&s, frame.data());
  EXPECT_EQ(s.zones[kBsdsBL].slots[0][0], 0);
  EXPECT_EQ(BSDS_HasFrame(&s), 1);
  BSDS_Release(&s);
  ADASConfig_Free(&cfg);
}

// Cell size and offsets come from the configuration file: values whose zone
// distances would overflow the tracker's arithmetic switch BSDS off instead.
TEST_F(BsdsStateTest, ZoneDistancesOutOfRangeLeaveBsdsOff) {
  struct Case {
    int field;
    int32_t value;
  };
  const Case cases[] = {{25, 1526726656}, {25, -1000000}, {28, INT32_MIN}, {kAdasBsdsRearExtent, 2000000},
                        {kAdasBsdsRows, 100000000}};
  for (const Case& k : cases) {
    ADASConfig cfg{};
    ADAS_GenerateTablesFromRig(&cfg, rig_.rig, kAdasBSDS);
    cfg.C[k.field] = k.value;
    BSDSState s;
    EXPECT_EQ(BSDS_Init(&s, &cfg), 0) << "field " << k.field << " = " << k.value;
    EXPECT_EQ(s.inited, 0);
    BSDS_Release(&s);
    ADASConfig_Free(&cfg);
  }
}

// A textured vehicle footprint on the ground, drawn through the sample rig's
// rear camera, overtaking in the lane to the right: read through the BSDS
// tables it is confirmed in the right rear zone and, once past, cleared.
TEST(BsdsRoadTest, OvertakingVehicleRaisesAndClearsTheRightSide) {
  AdasSampleRig rig;
  ADASConfig cfg{};
  ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasBSDS);
  BSDSState s;
  ASSERT_EQ(BSDS_Init(&s, &cfg), 1);
  s.rearCameraAbsent = 0;
  AdasRoadRenderer renderer(rig, 4000.0f, 16500.0f, 40.0f);
  std::mt19937 rng(11);
  std::vector<uint8_t> texture(64 * 64);
  for (auto& v : texture) v = static_cast<uint8_t>(rng());
  const float step = 150.0f;  // mm a frame toward the car
  uint32_t now = 20000, lastDetect = 0;
  int confirmedAt = -1, clearedAt = -1;
  const BSDSTracker& br = s.zones[kBsdsBR];
  for (int f = 0; f < 140; ++f, now += 40) {
    const float front = 12000.0f - step * f;  // y of the vehicle's front (behind the car: y > 0)
    std::vector<uint8_t> frame = renderer.Render([&](float x, float y) -> uint8_t {
      if (x > 1600 && x < 3200 && y > front && y < front + 4500)
        return texture[(static_cast<int>((x - 1600) / 100) & 63) * 64 + (static_cast<int>((y - front) / 100) & 63)];
      return 80;
    });
    BSDS_InputLuma(&s, frame.data());
    BSDS_StepAt(&s, now);
    BSDS_AdvanceRead(&s);
    if (br.result != 0) {
      lastDetect = now;
      if (confirmedAt < 0) {
        confirmedAt = f;
        const BSDSTarget& t = br.targets.front();
        const BSDSEnd& e = t.nearEnd.confirmed != 0 ? t.nearEnd : t.farEnd;
        const BSDSEnd& o = &e == &t.nearEnd ? t.farEnd : t.nearEnd;
        EXPECT_GE(e.lastPosition - e.startPosition, 1300);
        EXPECT_TRUE(e.approachCount >= 7 || (e.approachCount >= 5 && o.approachCount >= 5) ||
                    (o.confirmed != 0 && e.approachCount >= 4));
        EXPECT_EQ(s.rightResult.load(), 1);
      }
    }
    EXPECT_EQ(s.leftResult.load(), 0) << f;
    if (confirmedAt >= 0 && s.rightResult.load() == 0 && clearedAt < 0) clearedAt = f;
  }
  ASSERT_GE(confirmedAt, 0);
  ASSERT_GE(clearedAt, 0);
  const uint32_t clearedTime = 20000 + 40u * static_cast<uint32_t>(clearedAt);
  EXPECT_GT(clearedTime, lastDetect + 1200);
  EXPECT_LE(clearedTime, lastDetect + 1240);
  BSDS_Release(&s);
  ADASConfig_Free(&cfg);
}
