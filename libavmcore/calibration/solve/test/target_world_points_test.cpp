#include "calibration/solve/target_world_points.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "calibration/solve/site_frame.h"
#include "calibration/solve/world_point_layouts.h"
#include "camera/lut_config.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "testsupport/config_state.h"

namespace {

constexpr int kRows = 59;

// The worked site: vehicle 1800 x 4600, no side shift, all distances 0,
// 200 mm squares 100 mm from the vehicle, 8 x 6 boards, 43 points a camera.
struct Site {
  int32_t a = 1800, b = 4600, c = 0;
  int32_t code = 0;
  void Apply() const {
    GlobalVariables& g = gv();
    g.CalibLayoutCode = code;
    g.maxPoints = kRows;
    g.targetDimA = 200;
    g.targetDimB = 100;
    g.boardCols12 = 8;
    g.boardRows12 = 6;
    g.boardCols34 = 8;
    g.boardRows34 = 6;
    g.cornerCount1 = g.cornerCount2 = g.cornerCount34 = 43;
  }
};

class WorldPointsTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  LutConfig cfg_{};
  std::vector<float> data_ = std::vector<float>(3 * kRows, 0.0f);
  Matrix out_{3, kRows, nullptr};

  void SetUp() override {
    out_.data = data_.data();
    Site().Apply();
    SetBox(1800, 4600, 0);
  }
  void SetBox(int32_t a, int32_t b, int32_t c) {
    cfg_.carWidth = a;
    cfg_.carLength = b;
    cfg_.carBoxParam = c;
  }
  const float* Row(int r) const { return &data_[3 * r]; }
  const float* Compute(int camera) {
    std::fill(data_.begin(), data_.end(), 12345.0f);
    ComputeTargetWorldPoints(&cfg_, camera, &out_);
    return data_.data();
  }
  bool RowsZero(int from, int to) const {
    for (int r = from; r <= to; ++r)
      for (int k = 0; k < 3; ++k)
        if (Row(r)[k] != 0.0f) return false;
    return true;
  }
};

// One configuration change from the worked site; applied after Site().
struct Tweak {
  enum Word { kNone, kCode, kS, kW43, kW38, kW45, kW34, kW42, kW37, kW48, kW57, kW19, kHand, kDR, kCameraBoxA };
  Word word;
  int32_t value;
};

void ApplyTweak(const Tweak& t, LutConfig* cfg) {
  GlobalVariables& g = gv();
  switch (t.word) {
    case Tweak::kNone: break;
    case Tweak::kCode: g.CalibLayoutCode = t.value; break;
    case Tweak::kS: g.targetDimA = t.value; break;
    case Tweak::kW43: g.cornerCount1 = g.cornerCount2 = t.value; break;
    case Tweak::kW38: g.cornerCount34 = t.value; break;
    case Tweak::kW45: g.place0 = t.value; break;
    case Tweak::kW34: g.targetDimB = t.value; break;
    case Tweak::kW42: g.boardRows12 = t.value; break;
    case Tweak::kW37: g.boardRows34 = t.value; break;
    case Tweak::kW48: g.place3 = t.value; break;
    case Tweak::kW57: g.f20_23[0] = t.value; break;
    case Tweak::kW19: g.f18 = t.value; break;
    case Tweak::kHand: cfg->handEntered = t.value; break;
    case Tweak::kDR: g.place6 = t.value; break;
    case Tweak::kCameraBoxA: cfg->carWidth = t.value; break;
  }
}

struct PointCase {
  const char* what;
  int32_t code;
  Tweak tweaks[3];
  int camera, row;
  float x, y, z;
};

// Every worked example of the site drawings, and a few rows of each list
// checked against the drawings by hand.
const PointCase kPointCases[] = {
    // The configured grid alone (no layout generator).
    {"grid cam1 p0", 0, {}, 1, 0, -600, -3400, 0},
    {"grid cam1 p6", 0, {}, 1, 6, 600, -3400, 0},
    {"grid cam1 p34", 0, {}, 1, 34, 600, -2600, 0},
    {"grid cam2 p0", 0, {}, 2, 0, 600, 3400, 0},
    {"grid cam3 p0", 0, {}, 3, 0, -2000, -800, 0},
    {"grid cam3 p6", 0, {}, 3, 6, -2000, -2000, 0},
    {"grid cam4 p0", 0, {}, 4, 0, 2000, -2000, 0},
    {"grid cam4 p6", 0, {}, 4, 6, 2000, -800, 0},
    {"grid code 40", 40, {}, 1, 0, -600, -3400, 0},
    {"odd a halves toward zero", 0, {{Tweak::kCameraBoxA, 1801}}, 4, 0, 2000, -2000, 0},
    {"odd S*W halves toward zero", 0, {{Tweak::kS, 201}}, 1, 0, 0 - 804 + 201, -2300 - 100 - 5 * 201, 0},
    {"odd dR-dL halves toward zero", 0, {{Tweak::kDR, 1}}, 1, 0, -600, -3400, 0},
    {"front distance less offset", 0, {{Tweak::kW48, 1000}, {Tweak::kW57, 200}}, 1, 0, -600, -4200, 0},
    // Layout 1: marks behind the grid from row 35 (the word holds 43).
    {"layout 1 cam1 first mark", 1, {}, 1, 35, -1700, -2600, 0},
    {"layout 1 cam1 last mark", 1, {}, 1, 42, 1100, -2600, 0},
    {"layout 1 cam3 first mark", 1, {}, 3, 35, -1200, 1500, 0},
    {"layout 1 cam3 last mark", 1, {}, 3, 50, -1100, 3200, 0},
    {"layout 1 cam4 first mark", 1, {}, 4, 35, 1200, -1900, 0},
    {"layout 1 word 43 = 48", 1, {{Tweak::kW43, 48}}, 2, 48, 1700, 2600, 0},
    {"layout 1 grid kept", 1, {}, 1, 0, -600, -3400, 0},
    {"layout 3 cam1 first dot", 3, {{Tweak::kW43, 35}}, 1, 35, -1600, -3000, 0},
    {"layout 3 cam4 last dot", 3, {{Tweak::kW38, 35}}, 4, 52, 1600, 3000, 0},
    {"layout 4 cam1 row 0", 4, {}, 1, 0, -2400, -2300, 0},
    {"layout 4 cam1 row 8", 4, {}, 1, 8, -1900, -2800, 0},
    {"layout 4 cam4 row 15", 4, {}, 4, 15, 1400, 2800, 0},
    {"layout 6 cam2 row 12", 6, {{Tweak::kW43, 0}}, 2, 12, 1100, 2500, 0},
    {"layout 7 cam3 row 30", 7, {}, 3, 30, -2400, -3300, 0},
    {"layout 7 cam1 row 13", 7, {}, 1, 13, 1800, -3900, 0},
    {"layout 10 cam1 inner 200", 10, {{Tweak::kW43, 0}}, 1, 1, -1100, -3100, 0},
    {"layout 10 word 45 = 2380 inner 110", 10, {{Tweak::kW43, 0}, {Tweak::kW45, 2380}}, 1, 1, -1010, -3100, 0},
    {"layout 10 word 45 = 2380 outer 710", 10, {{Tweak::kW43, 0}, {Tweak::kW45, 2380}}, 1, 0, -1610, -3100, 0},
    {"layout 10 word 45 = 2381", 10, {{Tweak::kW43, 0}, {Tweak::kW45, 2381}}, 1, 0, -1700, -3100, 0},
    {"layout 15 cam2 row 43", 15, {}, 2, 43, -2300, 3400, 0},
    {"layout 15 hand row 0", 15, {{Tweak::kHand, 1}}, 1, 0, -2300, -3800, 0},
    {"layout 15 hand row 3 = grid row 2", 15, {{Tweak::kHand, 1}}, 1, 3, -200, -3400, 0},
    {"layout 20 cam2 row 13", 20, {}, 2, 13, 1100, 2500 + 1900, 0},
    {"layout 20 cam1 keeps the grid", 20, {}, 1, 0, -600, -3400, 0},
    {"layout 22 cam1 row 0", 22, {{Tweak::kW19, 3000}}, 1, 0, -1800, -2700, 0},
    {"layout 23 cam4 row 4", 23, {}, 4, 4, 3150, 3825, 0},
    {"layout 23 cam3 row 0", 23, {}, 3, 0, -3150, 3875, 0},
    {"layout 27 A cam3 row 0", 27, {{Tweak::kW34, 1}}, 3, 0, -2050, 755, 0},
    {"layout 27 B cam3 row 0", 27, {{Tweak::kW34, 2}}, 3, 0, -2050, 803, 0},
    {"layout 27 B cam1 row 21", 27, {{Tweak::kW34, 2}}, 1, 21, 1610, -2900, 0},
    {"layout 30 cam3 row 9", 30, {}, 3, 9, -1335, 2950, 0},
    {"layout 31 cam4 row 11", 31, {}, 4, 11, 2250, 3800, 0},
    {"layout 51 cam3 inner line", 51, {{Tweak::kW45, 3000}, {Tweak::kS, 600}}, 3, 0, -1500, 0, 0},
    {"layout 51 cam3 outer line", 51, {{Tweak::kW45, 3000}, {Tweak::kS, 600}}, 3, 53, -2100, 0, 0},
    {"layout 51 cam1 right line", 51, {{Tweak::kW45, 3000}, {Tweak::kS, 600}}, 1, 27, 1500, 0, 0},
    // Profile layouts (the generators load their programme first).
    {"layout 2 size 600 cam1 row 0", 2, {{Tweak::kS, 600}}, 1, 0, -1700, -3200, 0},
    {"layout 5 cam3 row 21 height", 5, {}, 3, 21, -1750, 3200, -10},
    {"layout 8 cam2 without yk3", 8, {}, 2, 0, 0, 3900, 0},
    // The side cameras' six marks follow their board, the order of its finder.
    {"layout 8 cam3 grid kept", 8, {}, 3, 0, -2000, -800, 0},
    {"layout 8 cam3 first mark", 8, {}, 3, 35, -2400, -3300, 0},
    {"layout 8 cam4 last mark", 8, {}, 4, 40, 2400, 3900, 0},
    {"layout 9 cam2 row 13", 9, {}, 2, 13, -1500, 3500, 0},
    {"layout 11 cam1 height", 11, {}, 1, 3, -500, -3462, -110},
    {"layout 12 cam1 first", 12, {}, 1, 0, -1800, -3200, 0},
    {"layout 12 cam1 last", 12, {}, 1, 7, 1800, -2600, 0},
    {"layout 13 cam3 row 8", 13, {}, 3, 8, -2100, 4150, 0},
    {"layout 14 word 33 = 201", 14, {{Tweak::kS, 201}}, 1, 0, -2200, -3600, 0},
    // On a chessboard site the squares follow the board, the order of its finder.
    {"layout 14 chessboard: grid kept", 14, {}, 1, 0, -600, -3400, 0},
    {"layout 14 chessboard: squares behind it", 14, {}, 1, 35, -2200, -3600, 0},
    {"layout 14 chessboard: last square corner", 14, {}, 3, 42, -1200, 3600, 0},
    {"layout 16 word 33 = 201 height", 16, {{Tweak::kS, 201}}, 4, 0, 1500, -2205, -8},
    {"layout 16 otherwise -50", 16, {}, 4, 0, 1500, -2205, -50},
    {"layout 17 mode 1 cam1 row 4", 17, {{Tweak::kW34, 1}}, 1, 4, 900, -2500, -25},
    {"layout 17 mode 3 cam2 row 5", 17, {{Tweak::kW34, 3}}, 2, 5, 1100 - 30, 2300, -26},
    {"layout 18 cam1 row 6", 18, {}, 1, 6, -2100, -4200, 0},
    {"layout 19 cam1 row 23", 19, {}, 1, 23, 2400, -3000, 0},
    // The side cameras: layout 3's dot fields behind the board.
    {"layout 21 cam4 first dot", 21, {{Tweak::kW38, 35}}, 4, 35, 1200, -3000, 0},
    {"layout 21 cam3 last dot", 21, {{Tweak::kW38, 35}}, 3, 52, -1200, 3000, 0},
    {"layout 21 cam3 grid kept", 21, {{Tweak::kW38, 35}}, 3, 0, -2000, -800, 0},
    {"layout 21 cam1 left board first", 21, {}, 1, 0, -1600, -3000, 0},
    {"layout 21 cam1 right board first", 21, {}, 1, 9, 1200, -3000, 0},
    {"layout 21 cam2 last", 21, {}, 2, 17, 1600, 3000, 0},
    {"layout 24 cam3 row 0", 24, {}, 3, 0, -2050, -300, 0},
    {"layout 25 cam2 row 15", 25, {}, 2, 15, 2400, 3200, 0},
    {"layout 26 mode 0 cam2 inner", 26, {{Tweak::kW34, 0}}, 2, 8, -2600, 2175, 0},
    {"layout 26 mode 1 unshifted square", 26, {{Tweak::kW34, 1}}, 3, 0, -2600, -2175, 0},
    {"layout 26 mode 2 cam1 corrected", 26, {{Tweak::kW34, 2}}, 1, 4, -2580, -3600, 0},
    {"layout 26 mode 2 cam1 right", 26, {{Tweak::kW34, 2}}, 1, 6, 2560, -3600, 0},
    {"layout 26 mode 2 cam2 pair", 26, {{Tweak::kW34, 2}}, 2, 8, -1870, 2375, 0},
    {"layout 28 cam1 row 0", 28, {}, 1, 0, -600, -3900, 0},
    {"layout 32 cam2 row 15", 32, {}, 2, 15, 1500, 4275, 0},
    {"layout 53 cam4 frame 0", 53, {}, 4, 0, 3220, 3400, 0},
    {"layout 54 cam3 frame 0", 54, {}, 3, 11, -1900, -4350, 0},
};

TEST_F(WorldPointsTest, EveryWorkedExample) {
  for (const PointCase& pc : kPointCases) {
    SCOPED_TRACE(pc.what);
    ScopedConfigState::ResetConfiguration();
    Site().Apply();
    gv().CalibLayoutCode = pc.code;
    SetBox(1800, 4600, 0);
    cfg_.handEntered = 0;
    for (const Tweak& t : pc.tweaks) ApplyTweak(t, &cfg_);
    Compute(pc.camera);
    EXPECT_EQ(Row(pc.row)[0], pc.x);
    EXPECT_EQ(Row(pc.row)[1], pc.y);
    EXPECT_EQ(Row(pc.row)[2], pc.z);
  }
}

TEST_F(WorldPointsTest, SiteAnchors) {
  const int32_t box[3] = {1800, 4600, 0};
  SiteAnchors s = SiteAnchors_Float(box, SiteDistances_FromConfig());
  EXPECT_EQ(s.xC, 0.0f);
  EXPECT_EQ(s.yC, 0.0f);
  EXPECT_EQ(s.xL, -900.0f);
  EXPECT_EQ(s.xR, 900.0f);
  EXPECT_EQ(s.yF, -2300.0f);
  EXPECT_EQ(s.yB, 2300.0f);
  gv().place3 = 1000;
  gv().f20_23[0] = 200;
  const SiteDistances d = SiteDistances_FromConfig();
  EXPECT_EQ(d.dF, 800);
  s = SiteAnchors_Float(box, d);
  EXPECT_EQ(s.yC, -400.0f);
  EXPECT_EQ(s.yF, -2300.0f - 800.0f);
  // Integer halves truncate toward zero, float halves do not.
  const int32_t odd[3] = {1801, 4601, 0};
  EXPECT_EQ(SiteAnchors_Integer(odd, SiteDistances{0, 0, 0, 0}).xR, 900.0f);
  EXPECT_EQ(SiteAnchors_Float(odd, SiteDistances{0, 0, 0, 0}).xR, 900.5f);
  EXPECT_EQ(SiteAnchors_Integer(odd, SiteDistances{0, 0, 1, 0}).xC, 0.0f);
}

TEST_F(WorldPointsTest, GridCountsAndEmptyBoards) {
  Compute(1);
  EXPECT_FALSE(RowsZero(34, 34));
  EXPECT_TRUE(RowsZero(35, kRows - 1));
  for (int32_t rows : {1, 0}) {
    SCOPED_TRACE(rows);
    gv().boardRows12 = rows;
    Compute(1);
    EXPECT_TRUE(RowsZero(0, kRows - 1));
    Compute(2);
    EXPECT_TRUE(RowsZero(0, kRows - 1));
  }
  Compute(3);  // the side boards are unaffected
  EXPECT_EQ(Row(0)[0], -2000.0f);
  // Another camera number writes nothing but the zeros.
  for (int camera : {0, 5, -1}) {
    Compute(camera);
    EXPECT_TRUE(RowsZero(0, kRows - 1));
  }
}

TEST_F(WorldPointsTest, Layout1MarkRows) {
  gv().CalibLayoutCode = 1;
  struct Case {
    int32_t w43, w38;
    int camera, first, count;
  } cases[] = {{43, 43, 1, 35, 8}, {43, 43, 2, 35, 8}, {43, 43, 3, 35, 16}, {43, 43, 4, 35, 16},
               {48, 43, 1, 48, 8}, {48, 43, 2, 48, 8}, {43, 40, 3, 40, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    gv().cornerCount1 = gv().cornerCount2 = c.w43;
    gv().cornerCount34 = c.w38;
    Compute(c.camera);
    EXPECT_FALSE(RowsZero(c.first, c.first)) << c.first;
    EXPECT_FALSE(RowsZero(c.first + c.count - 1, c.first + c.count - 1));
    if (c.first + c.count < kRows) {
      EXPECT_TRUE(RowsZero(c.first + c.count, kRows - 1));
    }
  }
}

// A configuration whose grid or layout-1 marks exceed the matrix gets no
// points at all, instead of running past the caller's array.
TEST_F(WorldPointsTest, OversizedTargetsAreRefused) {
  struct Case {
    const char* what;
    int32_t code, cols12, rows12, w38;
    int camera;
  } cases[] = {
      {"front board 10 x 8 (63 corners)", 0, 10, 8, 43, 1},
      {"rear board 10 x 8", 0, 10, 8, 43, 2},
      {"layout 1 side marks from row 48", 1, 8, 6, 48, 3},
      {"layout 1 side marks from row 48, camera 4", 1, 8, 6, 48, 4},
      {"layout 1 negative mark row", 1, 8, 6, -5, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gv().CalibLayoutCode = c.code;
    gv().boardCols12 = c.cols12;
    gv().boardRows12 = c.rows12;
    gv().cornerCount34 = c.w38;
    EXPECT_FALSE(TargetWorldPoints_Fit(c.camera, kRows));
    std::vector<float> guarded(3 * (kRows + 8), 777.0f);
    Matrix m{3, kRows, guarded.data()};
    ComputeTargetWorldPoints(&cfg_, c.camera, &m);
    for (int i = 0; i < 3 * kRows; ++i) ASSERT_EQ(guarded[i], 0.0f) << i;
    for (size_t i = 3 * kRows; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 777.0f) << i;
  }
  // The largest target that fits is written whole.
  gv().CalibLayoutCode = 0;
  gv().boardCols12 = 8;
  gv().boardRows12 = 6;
  EXPECT_TRUE(TargetWorldPoints_Fit(1, 35));
  EXPECT_FALSE(TargetWorldPoints_Fit(1, 34));
}

TEST_F(WorldPointsTest, EveryCodeDispatches) {
  std::vector<int32_t> codes;
  for (int32_t c = 1; c <= 32; ++c) codes.push_back(c);
  for (int32_t c = 51; c <= 54; ++c) codes.push_back(c);
  for (int32_t code : codes) EXPECT_NE(WorldPointGenerator_ForLayout(code), nullptr) << code;
  for (int32_t code : {0, 33, 40, 50, 55, -1}) EXPECT_EQ(WorldPointGenerator_ForLayout(code), nullptr) << code;

  // With no configured grid, each code's generator alone writes marks for
  // some camera; the block layouts only after a block calibration.
  for (int32_t code : codes) {
    SCOPED_TRACE(code);
    ScopedConfigState::ResetConfiguration();
    Site().Apply();
    gv().CalibLayoutCode = code;
    gv().boardRows12 = gv().boardRows34 = 1;
    gv().cornerCount1 = gv().cornerCount2 = gv().cornerCount34 = 0;
    gv().place0 = 3000;
    if (code == 2) gv().targetDimA = 600;  // a square size of a listed site
    bool any = false;
    for (int camera = 1; camera <= 4; ++camera) {
      Compute(camera);
      any = any || !RowsZero(0, kRows - 1);
    }
    EXPECT_EQ(any, code != 29 && code != 52);
  }
}

TEST_F(WorldPointsTest, UnknownCodeWritesOnlyTheGrid) {
  for (int32_t code : {0, 33, 40, 99}) {
    gv().CalibLayoutCode = code;
    Compute(3);
    EXPECT_EQ(Row(0)[0], -2000.0f);
    EXPECT_TRUE(RowsZero(35, kRows - 1));
  }
}

// Layout 21's side cameras are searched with layout 3's finder, on layout
// 3's dot fields: every row of theirs is layout 3's.
TEST_F(WorldPointsTest, Layout21SideCamerasTakeLayout3sPoints) {
  gv().cornerCount34 = 35;
  for (int camera = 3; camera <= 4; ++camera) {
    SCOPED_TRACE(camera);
    gv().CalibLayoutCode = 3;
    Compute(camera);
    std::vector<float> three;
    for (int r = 0; r < kRows; ++r) three.insert(three.end(), Row(r), Row(r) + 3);
    gv().CalibLayoutCode = 21;
    Compute(camera);
    for (int r = 0; r < kRows; ++r)
      for (int k = 0; k < 3; ++k) EXPECT_EQ(Row(r)[k], three[3 * r + k]) << "row " << r;
  }
}

TEST_F(WorldPointsTest, RepeatedCallsAreByteIdentical) {
  for (int32_t code = 0; code <= 55; ++code) {
    gv().CalibLayoutCode = code;
    for (int camera = 1; camera <= 4; ++camera) {
      Compute(camera);
      const std::vector<float> first = data_;
      Compute(camera);
      ASSERT_EQ(memcmp(first.data(), data_.data(), sizeof(float) * data_.size()), 0) << code << " " << camera;
    }
  }
}

TEST_F(WorldPointsTest, Layout27VariantsDifferWhereTheDrawingSays) {
  gv().CalibLayoutCode = 27;
  gv().boardRows12 = gv().boardRows34 = 1;  // no grid: the gap word is the variant word here
  const int expected[4] = {2, 2, 20, 20};
  for (int camera = 1; camera <= 4; ++camera) {
    gv().targetDimB = 1;
    Compute(camera);
    const std::vector<float> a = data_;
    gv().targetDimB = 2;
    Compute(camera);
    int differ = 0;
    for (int r = 0; r < kRows; ++r)
      if (memcmp(&a[3 * r], &data_[3 * r], 12) != 0) ++differ;
    EXPECT_EQ(differ, expected[camera - 1]) << camera;
    if (camera >= 3) {
      for (int r = 0; r < 20; ++r) EXPECT_EQ(data_[3 * r + 1] - a[3 * r + 1], 48.0f);
    }
  }
}

TEST_F(WorldPointsTest, ProfileLayoutEdgeCases) {
  // Layout 5 sets the thirty heights even for a camera outside 1..4.
  gv().CalibLayoutCode = 5;
  gv().boardRows12 = gv().boardRows34 = 1;
  std::fill(data_.begin(), data_.end(), 0.0f);
  CalibLayout5_WorldPoints(&cfg_, 0, &out_);
  for (int r = 0; r < 30; ++r) EXPECT_EQ(Row(r)[2], -10.0f);
  EXPECT_EQ(Row(0)[0], 0.0f);
  EXPECT_TRUE(RowsZero(30, kRows - 1));
  // Layout 53 has no marks for camera 2.
  gv().CalibLayoutCode = 53;
  Compute(2);
  EXPECT_TRUE(RowsZero(0, kRows - 1));
  // Layout 51 writes exactly 54 rows with y = 0.
  gv().CalibLayoutCode = 51;
  gv().place0 = 3000;
  Compute(4);
  for (int r = 0; r < 54; ++r) EXPECT_EQ(Row(r)[1], 0.0f);
  EXPECT_NE(Row(53)[0], 0.0f);
  EXPECT_TRUE(RowsZero(54, kRows - 1));
  // Layout 2 with a square size of no listed site writes nothing.
  gv().CalibLayoutCode = 2;
  gv().targetDimA = 700;
  Compute(1);
  EXPECT_TRUE(RowsZero(0, kRows - 1));
  // Layout 17 modes 1-3 set the front-camera words.
  gv().CalibLayoutCode = 17;
  gv().targetDimB = 2;
  Compute(1);
  EXPECT_EQ(gv().frontCameraXFixed, 1);
  EXPECT_EQ(gv().frontCameraX, 10.0f);
  // Layout 26 writes its mode back into the configuration.
  gv().CalibLayoutCode = 26;
  gv().targetDimB = 2;
  Compute(3);
  EXPECT_EQ(gv().layout26InvertFront, 1);
  EXPECT_EQ(gv().layout26Cam2Variant, 1);
  EXPECT_EQ(gv().layout26Cam1PartFinder, 1);
  // Layout 29 before any block calibration leaves the grid as it was.
  gv().CalibLayoutCode = 29;
  gv().boardRows12 = 6;
  gv().targetDimA = 200;
  gv().targetDimB = 100;
  Compute(1);
  EXPECT_EQ(Row(0)[0], -600.0f);
  EXPECT_TRUE(RowsZero(35, kRows - 1));
}

// The profile layouts load their programme before writing; layout 8's
// cameras 1 and 2 follow whether the yk3 profile is loaded, and layout 14
// loads fw_cfg.txt only for square-size word 201.
TEST_F(WorldPointsTest, ProfileLayoutsLoadTheirProgramme) {
  CalibProfile() = CalibProfileRecord{};
  gv().boardRows12 = gv().boardRows34 = 1;
  state_.WriteFile("fw_cfg.txt", "1,2,3,4;5,6,7,8;9,10,11,12\n");
  gv().CalibLayoutCode = 14;
  Compute(1);
  EXPECT_NE(CalibProfile().Tag(), 2u);
  gv().targetDimA = 201;
  Compute(1);
  EXPECT_EQ(CalibProfile().Tag(), 2u);

  gv().CalibLayoutCode = 8;
  Compute(1);  // no yk3_cfg.txt: the other list
  EXPECT_EQ(Row(4)[0], -2400.0f);
  EXPECT_EQ(Row(4)[1], -3300.0f);
  const std::string line = "1,2,3,4,5,6,7,8,9,10,11,12\n";
  state_.WriteFile("yk3_cfg.txt", line + line + line + line);
  Compute(1);
  EXPECT_EQ(CalibProfile().Tag(), 19u);
  EXPECT_EQ(Row(4)[0], -1200.0f);
  EXPECT_EQ(Row(4)[1], -2700.0f);
  CalibProfile() = CalibProfileRecord{};
}

}  // namespace
