#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "frame/log.h"
#include "pipeline/mod_object.h"
#include "testsupport/config_state.h"
#include "testsupport/mods_block_scene.h"

namespace {

std::vector<std::string> g_lines;
uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }

class ModTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    previousSink_ = AvmLog_SetSink([](const char* line) { g_lines.emplace_back(line); });
    MOD_SetClock(FakeClock);
    MOD_SetTuningFile(state_.Path("mod_temp.txt").c_str());
    g_now = 5000;
  }
  void TearDown() override {
    MOD_Release(&mod_);
    MODTuning_Reset();
    MOD_SetClock(nullptr);
    MOD_SetTuningFile(nullptr);
    AvmLog_SetSink(previousSink_);
  }
  void Init() {
    MOD_Init(&mod_, &scene_.config());
    ASSERT_EQ(mod_.initialised, 1);
    g_lines.clear();
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const std::string& l : g_lines) n += l == text ? 1 : 0;
    return n;
  }

  ScopedConfigState state_;
  AvmLogSink previousSink_ = nullptr;
  ModsBlockScene scene_;
  MODObject mod_;
};

TEST_F(ModTest, NewObjectHoldsTheOwnerDefaults) {
  const MODVehicleState& v = mod_.vehicle;
  EXPECT_EQ(v.keepTime.load(), 1000u);
  for (const auto& r : v.radar) EXPECT_EQ(r.load(), 0xFFFFFFFFu);
  EXPECT_EQ(v.LL, 2500);
  EXPECT_EQ(v.DL, 500);
  EXPECT_EQ(v.CW, 1960);
  EXPECT_EQ(v.CL, 5280);
  EXPECT_EQ(mod_.activeBlocks.load(), 15u);
  EXPECT_EQ(MOD_CanWrite(&mod_), 0);  // not set up: MODS off
}

TEST_F(ModTest, InitSetsUpTheBlocksFromTheConfiguration) {
  Init();
  EXPECT_EQ(mod_.vehicle.CW, 1960);
  EXPECT_EQ(mod_.vehicle.LL, 2500);
  const int32_t fb = scene_.config().C[kAdasModsCols];
  const int32_t sideRows = scene_.config().C[kAdasModsSideRows];
  const struct {
    int32_t id, width, height, buffer;
  } want[4] = {{1, fb, 72 - 18, 72}, {2, fb, 72, 72}, {4, 56, sideRows, sideRows}, {8, 56, sideRows, sideRows}};
  for (int b = 0; b < 4; ++b) {
    const MODBlock& blk = mod_.blocks[b];
    EXPECT_EQ(blk.id, want[b].id);
    EXPECT_EQ(blk.tracker.id, want[b].id);
    EXPECT_EQ(blk.width, want[b].width);
    EXPECT_EQ(blk.height, want[b].height);
    EXPECT_EQ(blk.tracker.height, want[b].height);
    EXPECT_EQ(blk.bufferHeight, want[b].buffer);
    EXPECT_EQ(blk.PPP, 50);
    EXPECT_EQ(blk.vehicle, &mod_.vehicle);
    for (uint8_t* f : blk.frames) EXPECT_NE(f, nullptr);
  }
  MOD_Release(&mod_);
  for (const MODBlock& blk : mod_.blocks)
    for (uint8_t* f : blk.frames) EXPECT_EQ(f, nullptr);
}

TEST_F(ModTest, InitRefusesWhatWouldDivideByZeroOrLeaveBlockOneEmpty) {
  struct Case {
    const char* name;
    int word;
    int32_t value;
  } cases[] = {{"PPP 0", kAdasModsPresent + 1, 0},
               {"PPP negative", kAdasModsPresent + 1, -50},
               {"block 1 height 18", kAdasModsRows, 18},
               {"block 1 height 5", kAdasModsRows, 5},
               {"side width 0", kAdasModsSideCols, 0}};
  for (const Case& c : cases) {
    ModsBlockScene scene;
    scene.mutableConfig()->C[c.word] = c.value;
    MODObject obj;
    MOD_Init(&obj, &scene.config());
    EXPECT_EQ(obj.initialised, 0) << c.name;
    EXPECT_EQ(MOD_CanWrite(&obj), 0) << c.name;
    std::vector<uint8_t> pic = scene.Render(0);
    MOD_PushFrameGray(&obj, scene.width(), scene.height(), pic.data(), &scene.config());
    EXPECT_EQ(obj.writePos.load(), 0) << c.name;
    EXPECT_EQ(MOD_Process(&obj), 0u) << c.name;
    MOD_Release(&obj);
  }
  // Without the MODS file the object stays as it was.
  ModsBlockScene scene;
  scene.mutableConfig()->C[kAdasModsPresent] = 0;
  MODObject obj;
  obj.vehicle.CW = 1234;
  g_lines.clear();
  MOD_Init(&obj, &scene.config());
  EXPECT_EQ(obj.vehicle.CW, 1234);
  EXPECT_TRUE(g_lines.empty());
}

TEST_F(ModTest, TuningFileSetsTheHistoryWindow) {
  state_.WriteFile("mod_temp.txt", "63,4,64,4,0.5,10,1\n12\n48\n");
  Init();
  EXPECT_EQ(g_modTuning.historyMask, 63);
  EXPECT_EQ(g_modTuning.historyTopBit, 32);
  EXPECT_EQ(g_modTuning.hitThreshold, 4);
  EXPECT_EQ(g_modTuning.debugFlags, 48);
  // A later Init without the file is back at the defaults.
  std::remove(state_.Path("mod_temp.txt").c_str());
  Init();
  EXPECT_EQ(g_modTuning.historyMask, 31);
  EXPECT_EQ(g_modTuning.hitThreshold, 3);
}

TEST_F(ModTest, SpeedIsStoredWithItsOffsetAndPrintedOnChangeOnly) {
  const struct {
    int32_t speed, stored;
  } cases[] = {{-3, -3}, {0, 0}, {4, 4}, {5, 6}, {6, 7}, {7, 9}, {9, 12}, {10, 13}, {12, 16}, {13, 18}, {40, 45}};
  for (const auto& c : cases) {
    MOD_SetSpeedAngle(&mod_, c.speed, 0);
    EXPECT_EQ(mod_.vehicle.speed, c.stored) << c.speed;
  }
  g_lines.clear();
  MOD_SetSpeedAngle(&mod_, 12, 3);
  MOD_SetSpeedAngle(&mod_, 12, 3);
  EXPECT_EQ(Count("MOD set speed angle [16, 3]\n"), 1);
  EXPECT_EQ(g_lines.size(), 1u);
  MOD_SetGear(&mod_, 2);
  MOD_SetGear(&mod_, 2);
  EXPECT_EQ(Count("MOD Set gear [2]\n"), 1);
}

// Reverse at speed 13 (stored 18, negated by the step), then drive at the
// same speed: the ego motion must point forward again.
TEST_F(ModTest, SpeedTakesItsSignBackAfterReverse) {
  Init();
  MOD_SetSideSignal(&mod_, 0, 1.0f);
  MOD_SetGear(&mod_, 2);
  MOD_SetSpeedAngle(&mod_, 13, 0);
  g_now += 66;
  MOD_Process(&mod_);
  EXPECT_EQ(mod_.vehicle.speed, -18);
  EXPECT_EQ(mod_.activeBlocks.load(), 2u);
  EXPECT_LT(mod_.blocks[1].motion.m[1], 0.0f);
  g_lines.clear();
  MOD_SetSpeedAngle(&mod_, 13, 0);  // still reversing: no new log line
  EXPECT_TRUE(g_lines.empty());
  MOD_SetGear(&mod_, 3);
  MOD_SetSpeedAngle(&mod_, 13, 0);
  EXPECT_EQ(mod_.vehicle.speed, 18);
  g_now += 66;
  MOD_Process(&mod_);
  EXPECT_EQ(mod_.vehicle.speed, 18);
  EXPECT_EQ(mod_.activeBlocks.load(), 1u);
  // 66 ms at 18 km/h on 50 mm pixels: 66 x 18 / 180 = 6.6 pixels forward.
  EXPECT_NEAR(mod_.blocks[0].motion.m[1], 6.6f, 1e-4f);
}

TEST_F(ModTest, SignalSetters) {
  MOD_SetSideSignal(&mod_, 0, 0.5f);
  MOD_SetSideSignal(&mod_, 3, 0.25f);
  EXPECT_EQ(mod_.vehicle.sideSignal0.load(), 0.5f);
  EXPECT_EQ(mod_.vehicle.sideSignal1.load(), 0.25f);
  MOD_SetKeepTime(&mod_, 1500);
  EXPECT_EQ(MOD_GetKeepTime(&mod_), 1500u);
  EXPECT_EQ(Count("MOD Set keep time [1500]\n"), 1);
  MOD_SetRadarInfo(&mod_, 2, 0x1234);
  EXPECT_EQ(mod_.vehicle.radar[1].load(), 0xFFFFFFFFu);
  EXPECT_EQ(Count("MOD RadarInfo 1:[FFFFFFFF]\n"), 1);
  MOD_SetRadarInfo(&mod_, 1, 0x0120);
  EXPECT_EQ(mod_.vehicle.radar[0].load(), 0x0120u);
  g_lines.clear();
  MOD_SetRadarInfo(&mod_, 5, 0x0001);
  MOD_SetRadarInfo(&mod_, 0, 0x0001);
  EXPECT_TRUE(g_lines.empty());
  MOD_SetMask(&mod_, 0x3A);
  EXPECT_EQ(mod_.vehicle.mask.load(), 0x3Au);
  EXPECT_EQ(Count("MOD Set mask [0x3A]\n"), 1);
}

TEST_F(ModTest, ResultsByBlockAndClearing) {
  Init();
  for (int b = 0; b < 4; ++b) {
    mod_.blocks[b].tracker.resultX = 10 * (b + 1);
    mod_.blocks[b].tracker.resultY = -10 * (b + 1);
    mod_.vehicle.alarms[b].alarm = 1;
    mod_.blocks[b].history = 7;
    mod_.blocks[b].hits = 3;
  }
  const struct {
    int32_t block, x;
  } cases[] = {{1, 10}, {2, 20}, {4, 30}, {8, 40}, {3, 10}, {0, 10}, {16, 10}};
  for (const auto& c : cases) {
    EXPECT_EQ(MOD_GetResult(&mod_, c.block), c.x) << c.block;
    EXPECT_EQ(MOD_GetResultValue(&mod_, c.block), -c.x) << c.block;
  }
  EXPECT_EQ(MOD_GetAlarm(&mod_, 4), 1u);
  EXPECT_EQ(MOD_GetAlarm(&mod_, 3), 0u);
  MOD_ClearResults(&mod_);
  for (int b = 0; b < 4; ++b) {
    EXPECT_EQ(mod_.vehicle.alarms[b].alarm, 0u);
    EXPECT_EQ(mod_.blocks[b].history, 0u);
    EXPECT_EQ(mod_.blocks[b].hits, 0);
  }
  EXPECT_NE(MOD_GetBlockImage(&mod_, 8), nullptr);
  EXPECT_EQ(MOD_GetBlockImage(&mod_, 3), nullptr);
}

TEST_F(ModTest, RingArithmetic) {
  Init();
  const struct {
    int32_t write, read, hasFrame, canWrite;
  } cases[] = {{3, 7, 1, 0}, {5, 5, 0, 1}, {0, 5, 1, 1}, {11, 0, 1, 1}, {12, 0, 1, 0}, {4, 8, 1, 0}, {15, 4, 1, 1}};
  for (const auto& c : cases) {
    mod_.writePos = c.write;
    mod_.readPos = c.read;
    EXPECT_EQ(MOD_HasFrame(&mod_), c.hasFrame) << c.write << " " << c.read;
    EXPECT_EQ(MOD_CanWrite(&mod_), c.canWrite) << c.write << " " << c.read;
  }
  mod_.readPos = 15;
  MOD_NextRead(&mod_);
  EXPECT_EQ(mod_.readPos.load(), 0);
  for (const MODBlock& b : mod_.blocks) EXPECT_EQ(b.readPos, 0);
}

TEST_F(ModTest, PushesReadTheLumaByteOfEachFormat) {
  Init();
  // Every block pixel reads source row 2, column 5.
  for (MODBlock& b : mod_.blocks) std::fill(b.table.begin(), b.table.end(), (2 << 16) | 5);
  const int32_t W = 1280, H = 8;
  std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 3, 0);
  const struct {
    const char* name;
    size_t at;
    int format;
  } cases[] = {{"UYVY", 2 * 2560 + 2 * 5 + 1, 0}, {"YUYV", 2 * 2560 + 2 * 5, 1}, {"grey", 2 * 1280 + 5, 2}};
  for (const auto& c : cases) {
    std::fill(frame.begin(), frame.end(), 0);
    frame[c.at] = 77;
    const int32_t slot = mod_.writePos.load();
    if (c.format == 0) MOD_PushFrameUYVY(&mod_, W, H, frame.data(), &scene_.config());
    if (c.format == 1) MOD_PushFrameYUYV(&mod_, W, H, frame.data(), &scene_.config());
    if (c.format == 2) MOD_PushFrameGray(&mod_, W, H, frame.data(), &scene_.config());
    for (const MODBlock& b : mod_.blocks) {
      const size_t first = b.id == 1 ? static_cast<size_t>(18) * b.width : 0;
      EXPECT_EQ(b.frames[slot][first], 77) << c.name << " block " << b.id;
      EXPECT_EQ(b.frames[slot][static_cast<size_t>(b.width) * b.bufferHeight - 1], 77) << c.name;
    }
    MOD_NextRead(&mod_);
  }
  // BGR: 0.114 B + 0.587 G + 0.299 R.
  std::fill(frame.begin(), frame.end(), 0);
  const size_t px = 3 * (5 + 2 * static_cast<size_t>(W));
  frame[px] = 100;
  frame[px + 1] = 200;
  frame[px + 2] = 50;
  const int32_t slot = mod_.writePos.load();
  EXPECT_EQ(MOD_PushFrameBGR(&mod_, W, H, frame.data(), &scene_.config()), slot + 1);
  EXPECT_EQ(mod_.blocks[1].frames[slot][0], static_cast<uint8_t>(100 * 0.114f + 200 * 0.587f + 50 * 0.299f));
  // Planes: block b reads plane b.
  std::vector<std::vector<uint8_t>> planes(4, std::vector<uint8_t>(static_cast<size_t>(W) * H, 0));
  for (int p = 0; p < 4; ++p) planes[p][2 * W + 5] = static_cast<uint8_t>(10 + p);
  const uint8_t* ptrs[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
  const int32_t slot2 = mod_.writePos.load();
  MOD_PushFramePlanes(&mod_, W, H, ptrs, &scene_.config());
  for (int b = 0; b < 4; ++b) {
    const size_t first = b == 0 ? static_cast<size_t>(18) * mod_.blocks[0].width : 0;
    EXPECT_EQ(mod_.blocks[b].frames[slot2][first], 10 + b) << b;
  }
  // Tables still in quad-frame form (a 2 x 2 arrangement of the planes) fold
  // onto each camera's plane.
  for (MODBlock& b : mod_.blocks) std::fill(b.table.begin(), b.table.end(), ((2 + H) << 16) | (5 + W));
  const int32_t slot3 = mod_.writePos.load();
  MOD_PushFramePlanes(&mod_, W, H, ptrs, &scene_.config());
  for (int b = 0; b < 4; ++b) {
    const size_t first = b == 0 ? static_cast<size_t>(18) * mod_.blocks[0].width : 0;
    EXPECT_EQ(mod_.blocks[b].frames[slot3][first], 10 + b) << b;
  }
}

TEST_F(ModTest, PushWithoutActiveBlocksStampsAndAdvancesOnly) {
  Init();
  mod_.activeBlocks = 0;
  for (MODBlock& b : mod_.blocks) std::fill(b.frames[0], b.frames[0] + b.width * b.bufferHeight, 9);
  std::vector<uint8_t> pic(static_cast<size_t>(scene_.width()) * scene_.height(), 200);
  g_now = 4242;
  MOD_PushFrameGray(&mod_, scene_.width(), scene_.height(), pic.data(), &scene_.config());
  EXPECT_EQ(mod_.writePos.load(), 1);
  for (const MODBlock& b : mod_.blocks) {
    EXPECT_EQ(b.frameTimes[0], 4242u);
    EXPECT_EQ(b.writePos, 1);
    EXPECT_EQ(b.frames[0][b.width * b.bufferHeight / 2], 9);
  }
}

TEST_F(ModTest, TableEntriesOutsideTheFrameReadPixelZero) {
  ModsBlockScene scene;
  ImageI32& t = scene.mutableConfig()->mods[3];
  t.data[0] = (5000 << 16) | 3;        // row beyond the frame
  t.data[1] = (3 << 16) | 0xFFFF;      // column beyond the frame
  t.data[2] = static_cast<int32_t>(0x80000000u) | 7;  // negative row
  MODObject obj;
  MOD_Init(&obj, &scene.config());
  ASSERT_EQ(obj.initialised, 1);
  std::vector<uint8_t> pic(static_cast<size_t>(scene.width()) * scene.height(), 50);
  pic[0] = 211;
  MOD_PushFrameGray(&obj, scene.width(), scene.height(), pic.data(), &scene.config());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(obj.blocks[3].frames[0][i], 211) << i;
  // A frame smaller than the configured one: entries beyond it read pixel 0 too.
  std::vector<uint8_t> small(16 * 16, 60);
  small[0] = 199;
  MOD_PushFrameGray(&obj, 16, 16, small.data(), &scene.config());
  EXPECT_EQ(obj.blocks[3].frames[1][obj.blocks[3].width * 100], 199);
  MOD_Release(&obj);
}

TEST_F(ModTest, FillBlockLeavesBlockOnesFirst18RowsOut) {
  MODBlock block;
  ASSERT_EQ(MOD_InitBlock(&block, 4, 20, 50, 1), 1);
  EXPECT_EQ(MOD_InitBlock(&block, 4, 18, 50, 1), 0);
  ASSERT_EQ(MOD_InitBlock(&block, 4, 20, 50, 1), 1);
  std::fill(block.frames[0], block.frames[0] + 80, 1);
  std::vector<int32_t> lut(4 * 18, 0);
  ImageI32 l{4, 18, lut.data()};
  const uint8_t src[1] = {99};
  MOD_FillBlock(&block, &l, 1, src, [](const void* c, int32_t, int32_t, int32_t) {
    return static_cast<const uint8_t*>(c)[0];
  });
  for (int i = 0; i < 80; ++i) EXPECT_EQ(block.frames[0][i], 1);
  MOD_ReleaseBlock(&block);
}

TEST_F(ModTest, BlockSelection) {
  Init();
  const struct {
    int32_t speed, gear;
    float side0;
    uint32_t mask, want;
    int32_t storedSpeed;
  } cases[] = {
      {0, 3, 0.0f, 0x00, 15, 0},      {0, 3, 0.5f, 0x50, 5, 0},    {0, 3, 0.0f, 0x03, 12, 0},
      {20, 3, 0.0f, 0x00, 0, 20},     {20, 1, 0.0f, 0x80, 8, 20},  {20, 3, 0.001f, 0x00, 1, 20},
      {18, 2, 0.001f, 0x00, 2, -18},  {-5, 3, 0.001f, 0x00, 2, -5}, {20, 3, 0.001f, 0x01, 0, 20},
  };
  for (const auto& c : cases) {
    mod_.vehicle.speed = c.speed;
    mod_.vehicle.gear = c.gear;
    mod_.vehicle.sideSignal0 = c.side0;
    mod_.vehicle.mask = c.mask;
    MOD_Process(&mod_);
    EXPECT_EQ(mod_.activeBlocks.load(), c.want) << c.speed << " " << c.gear << " " << c.side0 << " " << c.mask;
    EXPECT_EQ(mod_.vehicle.speed, c.storedSpeed);
  }
}

TEST_F(ModTest, EgoMotion) {
  Init();
  MODMotion m;
  mod_.vehicle.speed = 36;
  mod_.vehicle.frameGap = 50;
  mod_.vehicle.angle = 2;
  MOD_ComputeMotion(&mod_.blocks[0], &mod_.vehicle, &m);
  EXPECT_FLOAT_EQ(m.m[1], 10.0f);
  for (int k : {0, 2, 3, 4, 5}) EXPECT_EQ(m.m[k], 0.0f);
  // Turning: a rotation about the turning centre, so the motion of the
  // turning centre itself is zero.
  mod_.vehicle.angle = 20;
  for (int b = 0; b < 4; ++b) {
    const MODBlock& blk = mod_.blocks[b];
    MOD_ComputeMotion(&blk, &mod_.vehicle, &m);
    EXPECT_NEAR(m.m[2], m.m[5], 1e-6f);
    EXPECT_NEAR(m.m[3], -m.m[4], 1e-6f);
    const float R = static_cast<float>(2500 / 50) / std::tan(20 * 3.1415927f / 180);
    const float s = std::sin(10.0f / R);
    EXPECT_NEAR(m.m[4], s, 1e-6f);
  }
}

TEST_F(ModTest, AlarmsWithTheRadarNearTheBumpers) {
  Init();
  MODVehicleState& v = mod_.vehicle;
  MODBlockTracker& front = mod_.blocks[0].tracker;
  const struct {
    int32_t x, y;
    uint32_t radar;
    uint32_t raised;
  } cases[] = {
      {0, -4500, 0, 1},         // 1860 mm beyond the bumper: no radar asked
      {0, -4000, 0, 0},         // near: centre bits 4-7 asked, all clear
      {0, -4000, 0x0010, 1},    // centre bit set
      {0, -4000, 0x0F0F, 0},    // only the side bits set
      {800, -4000, 0x0100, 1},  // right bits 8-11
      {800, -4000, 0x00F0, 0},
      {-800, -4000, 0x0001, 1}, // left bits 0-3
      {-1800, -4000, 0, 1},     // beyond the radar's reach
      {0, -4000, 0xFFFFFFFFu, 1},
  };
  for (const auto& c : cases) {
    v.alarms[0].alarm = 0;
    front.resultX = c.x;
    front.resultY = c.y;
    v.radar[0] = c.radar;
    const uint32_t changes = MOD_UpdateAlarms(&mod_, 1, 0, 0, 0);
    EXPECT_EQ(v.alarms[0].alarm, c.raised) << c.x << " " << c.y << " " << c.radar;
    EXPECT_EQ(changes, c.raised);
  }
  // Held keepTime after the last raise, then dropped.
  v.alarms[0].alarm = 0;
  v.radar[0] = 0xFFFFFFFFu;
  g_now = 10000;
  MOD_UpdateAlarms(&mod_, 1, 0, 0, 0);
  g_now = 11000;
  EXPECT_EQ(MOD_UpdateAlarms(&mod_, 0, 0, 0, 0), 0u);
  EXPECT_EQ(v.alarms[0].alarm, 1u);
  g_now = 11001;
  EXPECT_EQ(MOD_UpdateAlarms(&mod_, 0, 0, 0, 0), 1u);
  EXPECT_EQ(v.alarms[0].alarm, 0u);
  // Block 8 reports a moved result as a change while raised.
  MODBlockTracker& right = mod_.blocks[3].tracker;
  right.resultX = 1500;
  EXPECT_EQ(MOD_UpdateAlarms(&mod_, 0, 0, 0, 1), 8u);
  EXPECT_EQ(MOD_UpdateAlarms(&mod_, 0, 0, 0, 1), 0u);
  right.resultX = 1600;
  EXPECT_EQ(MOD_UpdateAlarms(&mod_, 0, 0, 0, 1), 8u);
}

TEST_F(ModTest, FrameGapOutsideItsRangeRestartsTheHistory) {
  Init();
  MODBlock& b = mod_.blocks[2];
  b.warmup = 30;
  b.history = 0x5;
  b.hits = 2;
  b.lastTime = 1000;
  b.frameTimes[1] = 1250;
  b.readPos = 1;
  MOD_StepBlock(&b, &mod_.vehicle);
  EXPECT_EQ(mod_.vehicle.frameGap, 66);
  EXPECT_EQ(b.history, 0u);
  EXPECT_EQ(b.hits, 0);
  b.frameTimes[2] = 1300;
  b.readPos = 2;
  MOD_StepBlock(&b, &mod_.vehicle);
  EXPECT_EQ(mod_.vehicle.frameGap, 50);
}

// A steady track close to the car's edge (position test fails) while the ego
// motion at its centre has no lengthwise part: the last step's ratio to it is
// unbounded, so a step along +y confirms and a step along -y does not.
TEST(ModEvaluateTracks, LastStepAgainstAnEgoMotionWithoutLengthwisePart) {
  const struct {
    float ldy;
    int32_t detected;
  } cases[] = {{0.5f, 1}, {-0.5f, 0}};
  for (const auto& c : cases) {
    MODBlockTracker t;
    MODBlockTrackerInit(&t, 40, 30);
    t.id = 1;
    MODVehicleState v;
    const float motion[6] = {1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};  // e = (1, 0) everywhere
    t.vehicle = &v;
    t.motion = motion;
    std::fill(t.staticMask.data, t.staticMask.data + 40 * 30, 0);  // every pixel changed
    MODTrack tr{};
    tr.count = 4;
    tr.dense = 2;
    tr.updated = 1;
    const float cosines[3] = {0.9f, 0.95f, 1.0f};
    for (int k = 0; k < 3; ++k) {
      tr.cosine[k] = cosines[k];
      tr.cosineSum += cosines[k];
      tr.dx[k] = 0.5f;
      tr.dy[k] = 2.0f;  // against e: (0.5 - 1)^2 + 2^2 >= 2.4
    }
    tr.dx[3] = 0.5f;
    tr.dy[3] = c.ldy;
    // Centred at the bottom edge: a = 0, b = 0.
    tr.last.minX = 16, tr.last.maxX = 24, tr.last.minY = 24, tr.last.maxY = 29;
    tr.last.w = 8, tr.last.h = 5, tr.last.cx = 20.0f, tr.last.cy = 26.5f;
    t.tracks.push_back(tr);
    MOD_EvaluateTracks(&t);
    EXPECT_EQ(t.detected, c.detected) << c.ldy;
    ASSERT_EQ(t.tracks.size(), 1u);
    EXPECT_EQ(t.tracks.front().alarm, 1) << c.ldy;
    MODBlockTrackerRelease(&t);
  }
}

TEST(ModHistPeak, Cases) {
  std::vector<uint8_t> px(64);
  ImageU8 img{8, 8, px.data()};
  std::fill(px.begin(), px.end(), 100);
  EXPECT_EQ(MOD_HistPeak(&img, 0, 16), 92);
  std::fill(px.begin(), px.end(), 5);
  EXPECT_EQ(MOD_HistPeak(&img, 0, 16), 8);
  ImageU8 empty{0, 0, px.data()};
  EXPECT_EQ(MOD_HistPeak(&empty, 0, 16), 0);
}

TEST(ModBlockDetect, BrightnessJumpFreezesAndStandstillUsesTheStaticMask) {
  MODVehicleState v;
  MODBlockTracker t;
  MODBlockTrackerInit(&t, 40, 30);
  t.id = 1;
  t.vehicle = &v;
  const float motion[6] = {0, 0, 0, 0, 0, 0};
  t.motion = motion;
  std::vector<uint8_t> px(40 * 30, 20);
  ImageU8 img{40, 30, px.data()};
  t.freeze = 0;
  t.previousRects.push_back(MODRect{});
  std::fill(px.begin(), px.end(), 200);  // grey level jumps from 0 to 200
  MOD_DetectBlock(&t, &img);
  EXPECT_EQ(t.freeze, 11);
  EXPECT_TRUE(t.previousRects.empty());
  MODBlockTrackerRelease(&t);

  // Standstill: the candidate mask is the static mask, 0 only where the
  // picture changed by more than 20.
  MODBlockTrackerInit(&t, 40, 30);
  t.id = 4;
  t.vehicle = &v;
  t.motion = motion;
  t.freeze = 0;
  std::fill(px.begin(), px.end(), 8);
  std::fill(t.previousFrame.data, t.previousFrame.data + 1200, 8);
  for (int y = 10; y < 20; ++y)
    for (int x = 10; x < 20; ++x) px[y * 40 + x] = 200;
  MOD_DetectBlock(&t, &img);
  EXPECT_EQ(t.mask.data[0], 1.0f);
  EXPECT_EQ(t.mask.data[15 * 40 + 15], 0.0f);
  EXPECT_EQ(t.staticMask.data[15 * 40 + 15], 0);
  MODBlockTrackerRelease(&t);
}

TEST(ModBlockDetect, NearerConfirmationSetsTheResult) {
  MODVehicleState v;
  MODBlockTracker t;
  MODBlockTrackerInit(&t, 56, 100);
  t.id = 8;
  t.vehicle = &v;
  t.bestDistance = 9999;
  MOD_UpdatePosition(&t, 30, 50);
  const int32_t far = t.resultX;
  MOD_UpdatePosition(&t, 10, 50);  // nearer the car: taken
  EXPECT_LT(t.resultX, far);
  const int32_t near = t.resultX;
  MOD_UpdatePosition(&t, 40, 50);  // farther: ignored
  EXPECT_EQ(t.resultX, near);
  MODBlockTrackerRelease(&t);
}

}  // namespace
