#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "calibration/solve/block_calib.h"
#include "frame/base_file.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "testsupport/config_state.h"

namespace {

std::string BaseText(std::vector<int> v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) s += (i == 20 ? ";" : ",");
    s += std::to_string(v[i]);
  }
  return s;
}

std::vector<int> DefaultValues() {
  return {2000, 200, 100, 350, 0, 600, 0, 900, 600, 1, 8, 6, 35, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

class GlobalConfigTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
};

TEST_F(GlobalConfigTest, InitReadsTheFileOnceAndAgainAfterRelease) {
  std::vector<int> v = DefaultValues();
  v[9] = 3;
  state_.WriteFile(kBaseFileName, BaseText(v));
  EXPECT_EQ(0, KRV_GlobalImage_Init());
  GlobalVariables& g = gv();
  EXPECT_EQ(1, g.loaded);
  EXPECT_EQ(3, g.CalibLayoutCode);
  EXPECT_EQ(200, g.targetDimA);
  EXPECT_EQ(7, g.boardCols34);
  EXPECT_EQ(5, g.boardRows34);
  EXPECT_EQ(24, g.cornerCount34);
  EXPECT_EQ(3.81f, g.presetLimit[0]);
  EXPECT_EQ(3.81f, g.presetLimit[2]);

  // The application changes a record; a second Init neither re-reads the file
  // nor re-applies the run-time defaults.
  Config c;
  KRV_GlobalImage_GetConfig(&c);
  c.zoneDistance[0] = 777;
  KRV_GlobalImage_SetConfig(&c);
  v[9] = 14;
  state_.WriteFile(kBaseFileName, BaseText(v));
  KRV_GlobalImage_Init();
  EXPECT_EQ(3, g.CalibLayoutCode);

  KRV_GlobalImage_Release();
  EXPECT_EQ(0, g.loaded);
  KRV_GlobalImage_Init();
  EXPECT_EQ(14, g.CalibLayoutCode);
  EXPECT_EQ(777, g.config.zoneDistance[0]);
}

TEST_F(GlobalConfigTest, MissingFileKeepsDefaultsAndInitStillSucceeds) {
  EXPECT_EQ(0, KRV_GlobalImage_Init());
  GlobalVariables& g = gv();
  EXPECT_EQ(0, g.loaded);
  EXPECT_EQ(2000, g.f0);
  EXPECT_EQ(1, g.CalibLayoutCode);
  EXPECT_EQ(500, g.config.zoneDistance[0]);
  EXPECT_EQ(72.0f, g.config.seamAngle[0]);
  EXPECT_EQ(0.55f, g.config.seamFraction[0]);
  EXPECT_EQ(0, g.config.trackCount);  // layout 1
  EXPECT_EQ(30, g.extraConfig.frontBlendWidth);
  EXPECT_EQ(50, g.extraConfig.derivedSizePercent);
  EXPECT_EQ(1, g.advCameraConfig.value0);
  EXPECT_EQ(1, g.lensTableSlot[1].trackCount);
  EXPECT_EQ(0, GlobalVariables_Init(0));
}

TEST_F(GlobalConfigTest, RunTimeTrackingDefaultFollowsLayoutCode) {
  gv().CalibLayoutCode = 5;
  GlobalVariables_InitRuntimeDefaults();
  EXPECT_EQ(1, gv().config.trackCount);
  EXPECT_EQ(1, gv().lensTableSlot[0].trackCount);
}

struct ParseCase {
  const char* name;
  std::string text;
  int parsed;  // fields taken from the text; the rest keep the static defaults
};

class BaseFileParseTest : public GlobalConfigTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(BaseFileParseTest, UnparsedFieldsKeepTheirValues) {
  const ParseCase& pc = GetParam();
  state_.WriteFile(kBaseFileName, pc.text);
  KRV_GlobalImage_Init();
  GlobalVariables& g = gv();
  EXPECT_EQ(1, g.loaded);
  std::vector<int> defaults = DefaultValues();
  for (int i = 0; i < kBaseFileFieldCount; ++i) {
    int expected = i < pc.parsed ? 11 + i : defaults[i];
    EXPECT_EQ(expected, *BaseFile_RecordField(g, i)) << "field f" << i;
  }
}

std::string Numbered(int n, const std::string& sep_pad = "") {
  std::vector<int> v;
  for (int i = 0; i < 24; ++i) v.push_back(11 + i);
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i > 0) s += (i == 20 ? ";" : ",");
    s += sep_pad + std::to_string(v[i]);
  }
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Files, BaseFileParseTest,
    ::testing::Values(ParseCase{"complete", Numbered(24), 24}, ParseCase{"short", Numbered(4), 4},
                      ParseCase{"empty", "", 0},
                      ParseCase{"garbage_after_field_2", Numbered(2) + ",x," + Numbered(24).substr(6), 2},
                      ParseCase{"comma_for_semicolon", Numbered(20) + "," + "31,32,33,34", 20},
                      // Blanks before numbers are fine, but only 127 bytes are read
                      // (16 fields of 8 bytes): the fields beyond keep their values.
                      ParseCase{"longer_than_read_limit", Numbered(24, "     "), 16}),
    [](const ::testing::TestParamInfo<ParseCase>& i) { return std::string(i.param.name); });

TEST(BaseFileParse, NeverReadsPastTheGivenLength) {
  // No NUL and no separator at the end: the parser must stop at len.
  std::vector<char> text(kBaseFileReadLimit - 1, '7');
  int32_t v[kBaseFileFieldCount] = {};
  int32_t* dst[kBaseFileFieldCount];
  for (int i = 0; i < kBaseFileFieldCount; ++i) dst[i] = &v[i];
  EXPECT_EQ(1, BaseFile_Parse(text.data(), text.size(), dst));
  EXPECT_EQ(INT32_MAX, v[0]);  // saturated
  EXPECT_EQ(0, BaseFile_Parse(text.data(), 0, dst));
}

struct PresetCase {
  int code;
  int dimA, dimB, kind34, cols34, rows34, count34, kind1, kind2, cols12, rows12, count1, count2;
  int place[7];
  float limit[3];
};

class PresetTest : public GlobalConfigTest, public ::testing::WithParamInterface<PresetCase> {};

TEST_P(PresetTest, FileCodeSelectsPreset) {
  const PresetCase& p = GetParam();
  // Distinct board values so that each copied field is recognisable.
  std::vector<int> v = {2000, 210, 110, 350, 0, 600, 0, 900, 600, p.code, 9, 7, 41, 13, 14, 15, 16, 17, 18, 19,
                        0,    0,   0,   0};
  state_.WriteFile(kBaseFileName, BaseText(v));
  KRV_GlobalImage_Init();
  GlobalVariables& g = gv();
  EXPECT_EQ(p.code, g.CalibLayoutCode);
  EXPECT_EQ(43, g.pointsPerCamera);
  EXPECT_EQ(59, g.maxPoints);
  int got[12] = {g.targetDimA, g.targetDimB, g.boardKind34, g.boardCols34, g.boardRows34, g.cornerCount34,
                 g.boardKind1, g.boardKind2, g.boardCols12, g.boardRows12, g.cornerCount1, g.cornerCount2};
  int want[12] = {p.dimA, p.dimB, p.kind34, p.cols34, p.rows34, p.count34,
                  p.kind1, p.kind2, p.cols12, p.rows12, p.count1, p.count2};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(want[i], got[i]) << "board column " << i;
  int place[7] = {g.place0, g.place1, g.place2, g.place3, g.place4, g.place5, g.place6};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(p.place[i], place[i]) << "place" << i;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(p.limit[i], g.presetLimit[i]) << "limit " << i;
}

// File board values: f1 210, f2 110, f10 9, f11 7, f12 41, f13..f19 = 13..19.
const int kG[7] = {17, 18, 19, 13, 14, 15, 16};
INSTANTIATE_TEST_SUITE_P(
    Codes, PresetTest,
    ::testing::Values(
        PresetCase{1, 210, 110, 1, 9, 7, 43, 1, 1, 9, 7, 41, 41, {0, 0, 0, 0, 0, 0, 0}, {4.21f, 4.21f, 4.21f}},
        PresetCase{3, 200, 100, 4, 7, 5, 24, 4, 4, 5, 5, 16, 16, {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]},
                   {3.81f, 3.81f, 3.81f}},
        PresetCase{6, 400, -200, 19, 5, 4, 12, 19, 19, 4, 5, 12, 12,
                   {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]}, {5.01f, 5.01f, 5.01f}},
        PresetCase{10, 200, 110, 6, 5, 5, 16, 6, 6, 5, 5, 16, 16,
                   {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]}, {3.81f, 3.81f, 3.81f}},
        PresetCase{11, 250, 100, 19, 0, 0, 8, 19, 19, 0, 0, 7, 7,
                   {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]}, {2.31f, 2.91f, 3.51f}},
        PresetCase{16, 210, 100, 0, 0, 0, 13, 19, 19, 0, 0, 17, 17,
                   {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]}, {4.51f, 4.51f, 6.01f}},
        PresetCase{19, 600, -400, 1, 0, 0, 6, 1, 1, 0, 0, 6, 6, {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]},
                   {4.51f, 4.51f, 4.51f}},
        PresetCase{24, 600, 0, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8, {0, 0, 0, 0, 0, 0, 0}, {6.21f, 6.21f, 6.21f}},
        PresetCase{29, 210, 110, 0, 0, 0, 8, 0, 0, 0, 0, 8, 8, {0, 0, 0, 0, 0, 0, 0}, {22.21f, 22.21f, 22.21f}},
        PresetCase{51, 210, 0, 0, 0, 0, 54, 0, 0, 0, 0, 54, 54, {17, 0, 0, 0, 0, 15, 16}, {8.21f, 8.21f, 8.21f}},
        PresetCase{53, 500, 0, 0, 0, 0, 6, 1, 0, 0, 0, 6, 0, {kG[0], kG[1], kG[2], kG[3], kG[4], kG[5], kG[6]},
                   {5.21f, 5.21f, 5.21f}},
        // Unknown code: the board preset stays at the static defaults.
        PresetCase{40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {0, 0, 0, 0, 0, 0, 0}, {0.0f, 0.0f, 0.0f}}),
    [](const ::testing::TestParamInfo<PresetCase>& i) { return "code" + std::to_string(i.param.code); });

TEST_F(GlobalConfigTest, UnknownCodeKeepsThePreviousPreset) {
  std::vector<int> v = DefaultValues();
  v[9] = 3;
  state_.WriteFile(kBaseFileName, BaseText(v));
  KRV_GlobalImage_Init();
  v[9] = 40;
  state_.WriteFile(kBaseFileName, BaseText(v));
  GlobalVariables_Init(1);
  EXPECT_EQ(40, gv().CalibLayoutCode);
  EXPECT_EQ(200, gv().targetDimA);
  EXPECT_EQ(24, gv().cornerCount34);
  EXPECT_EQ(3.81f, gv().presetLimit[1]);
}

template <typename T>
T RandomBytes(std::mt19937& rng) {
  T t;
  unsigned char* p = reinterpret_cast<unsigned char*>(&t);
  for (size_t i = 0; i < sizeof t; ++i) p[i] = static_cast<unsigned char>(rng());
  return t;
}

TEST_F(GlobalConfigTest, RecordsRoundTripByteForByte) {
  KRV_GlobalImage_Init();
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    Config c = RandomBytes<Config>(rng), c2;
    ASSERT_EQ(0, KRV_GlobalImage_SetConfig(&c));
    KRV_GlobalImage_GetConfig(&c2);
    EXPECT_EQ(0, memcmp(&c, &c2, sizeof c));

    ExtraConfig e = RandomBytes<ExtraConfig>(rng), e2;
    e.frontBlendWidth = 1 + (e.frontBlendWidth & 0xFFFF);
    e.rearBlendWidth = 1 + (e.rearBlendWidth & 0xFFFF);
    e.nearMark = 1 + (e.nearMark & 0xFFFF);
    e.derivedSizePercent = 1 + (e.derivedSizePercent & 0x3F);
    e.traceOffset = -999 + (e.traceOffset & 0x7FF);
    ExtraConfig sent = e;
    KRV_GlobalImage_SetExtraConfig(&e);
    KRV_GlobalImage_GetExtraConfig(&e2);
    EXPECT_EQ(0, memcmp(&sent, &e2, sizeof e2));
    EXPECT_EQ(0, memcmp(&sent, &e, sizeof e));

    AdvCameraConfig a = RandomBytes<AdvCameraConfig>(rng), a2;
    KRV_GlobalImage_SetAdvCameraConfig(&a);
    KRV_GlobalImage_GetAdvCameraConfig(&a2);
    EXPECT_EQ(0, memcmp(&a, &a2, sizeof a));
  }
  EXPECT_EQ(-1, KRV_GlobalImage_GetConfig(nullptr));
}

TEST_F(GlobalConfigTest, SetRecordsMirrorIntoSlotsAndCameraFlags) {
  KRV_GlobalImage_Init();
  Config c;
  KRV_GlobalImage_GetConfig(&c);
  c.trackCount = 3;
  c.trackWidth = 1280;
  c.trackHeight = 720;
  c.centreX = 640.5f;
  c.centreY = 360.25f;
  c.scaleX = 1.5f;
  c.scaleY = 2.5f;
  KRV_GlobalImage_SetConfig(&c);
  const LensTableSlot& s0 = gv().lensTableSlot[0];
  EXPECT_EQ(3, s0.trackCount);
  EXPECT_EQ(1280, s0.trackWidth);
  EXPECT_EQ(720, s0.trackHeight);
  EXPECT_EQ(640.5f, s0.centreX);
  EXPECT_EQ(2.5f, s0.scaleY);

  AdvCameraConfig a = {};
  a.cameraBits = 0x2B;  // cameras 1, 2, 4 and bit 5
  a.trackCount = 4;
  a.scaleX = 9.0f;
  KRV_GlobalImage_SetAdvCameraConfig(&a);
  const GlobalVariables& g = gv();
  EXPECT_EQ(1, g.cameraEnabled[0]);
  EXPECT_EQ(1, g.cameraEnabled[1]);
  EXPECT_EQ(0, g.cameraEnabled[2]);
  EXPECT_EQ(1, g.cameraEnabled[3]);
  EXPECT_EQ(0, g.cameraBit4);
  EXPECT_EQ(1, g.cameraBit5);
  EXPECT_EQ(4, g.lensTableSlot[1].trackCount);
  EXPECT_EQ(9.0f, g.lensTableSlot[1].scaleX);
}

struct ExtraRangeCase {
  int field;
  int32_t value;
  bool accepted;
};

class ExtraConfigRangeTest : public GlobalConfigTest, public ::testing::WithParamInterface<ExtraRangeCase> {};

TEST_P(ExtraConfigRangeTest, OutOfRangeFieldKeepsCurrentValue) {
  KRV_GlobalImage_Init();
  ExtraConfig before;
  KRV_GlobalImage_GetExtraConfig(&before);
  ExtraConfig e = before;
  int32_t* fields = reinterpret_cast<int32_t*>(&e);
  fields[GetParam().field] = GetParam().value;
  KRV_GlobalImage_SetExtraConfig(&e);
  ExtraConfig after;
  KRV_GlobalImage_GetExtraConfig(&after);
  int32_t expected = GetParam().accepted ? GetParam().value : reinterpret_cast<int32_t*>(&before)[GetParam().field];
  EXPECT_EQ(expected, reinterpret_cast<int32_t*>(&after)[GetParam().field]);
  EXPECT_EQ(expected, fields[GetParam().field]);  // the caller's record is corrected too
}

INSTANTIATE_TEST_SUITE_P(Fields, ExtraConfigRangeTest,
                         ::testing::Values(ExtraRangeCase{0, -5, true}, ExtraRangeCase{2, 0, false},
                                           ExtraRangeCase{2, 1, true}, ExtraRangeCase{3, -1, false},
                                           ExtraRangeCase{4, -7, true}, ExtraRangeCase{5, 0, false},
                                           ExtraRangeCase{6, 0, false}, ExtraRangeCase{6, 100, false},
                                           ExtraRangeCase{6, 99, true}, ExtraRangeCase{6, 1, true},
                                           ExtraRangeCase{7, -1000, false}, ExtraRangeCase{7, -999, true},
                                           ExtraRangeCase{7, 2999, true}, ExtraRangeCase{7, 3000, false},
                                           ExtraRangeCase{8, INT32_MIN, true}, ExtraRangeCase{9, 12345, true}));

TEST_F(GlobalConfigTest, AdvanceCtrlTable) {
  KRV_GlobalImage_Init();
  GlobalVariables& g = gv();
  struct Case {
    int id, value;
    std::function<double()> read;
    double expected;
  } cases[] = {
      {3, 2, [&] { return g.SpaceIndex; }, 2},
      {4, 0x20, [&] { return g.JDSpecial; }, 0x20},
      {5, 1, [&] { return g.CutIfFill; }, 1},
      {6, 0, [&] { return g.HZCheckHigh; }, 0},
      {7, 900, [&] { return g.advAngle; }, static_cast<double>(3.1415927f / 2.0f)},
      {7, -450, [&] { return g.advAngle; }, static_cast<double>(-3.1415927f / 4.0f)},
      {8, 5, [&] { return g.advValue8; }, 5},
      {9, 3, [&] { return g.advValue9; }, 3},
      {11, 400, [&] { return g.advValue11; }, 400},
      {12, 15, [&] { return g.advValue12; }, 15.0},
      {13, 80, [&] { return g.advValue13; }, 80.0},
      {14, 1, [&] { return g.advValue14; }, 1},
      {15, 2, [&] { return g.advValue15; }, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(0, KRV_GlobalImage_AdvanceCtrl(c.id, c.value));
    EXPECT_FLOAT_EQ(c.expected, c.read()) << "id " << c.id;
  }
  // Ids not in the table change nothing.
  std::vector<unsigned char> before(sizeof(GlobalVariables));
  memcpy(before.data(), &g, sizeof g);
  for (int id : {0, 2, 10, 16, -1}) KRV_GlobalImage_AdvanceCtrl(id, 12345);
  EXPECT_EQ(0, memcmp(before.data(), &g, sizeof g));
}

TEST_F(GlobalConfigTest, LastAndStoredCalibResults) {
  gv().lastCalibResult[0] = 1.5f;
  gv().lastCalibResult[3] = -2.0f;
  float out[4];
  KRV_GlobalImage_GetLastCalibResult(out);
  EXPECT_EQ(1.5f, out[0]);
  EXPECT_EQ(-2.0f, out[3]);

  std::vector<float> record(120);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<float>(i);
  struct Case {
    int camera, kind, first;
  } cases[] = {{1, 1, 94}, {5, 1, 94}, {0, 2, 82}, {2, 1, 97}, {4, 1, 103}, {3, 2, 88}, {4, 2, 91}};
  for (const Case& c : cases) {
    float r[3] = {};
    KRV_GlobalImage_GetCalibResult(record.data(), c.camera, c.kind, r);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(-static_cast<float>(c.first + i), r[i]) << c.camera << "/" << c.kind;
  }
  float untouched[3] = {42.0f, 42.0f, 42.0f};
  KRV_GlobalImage_GetCalibResult(record.data(), 1, 3, untouched);
  EXPECT_EQ(42.0f, untouched[0]);
}

TEST_F(GlobalConfigTest, PredicatesAndRange) {
  for (int code : {1, 2, 24}) EXPECT_TRUE(IsLayoutCode_1_2_24(code));
  for (int code : {0, 3, 23, 25, 29}) EXPECT_FALSE(IsLayoutCode_1_2_24(code));
  EXPECT_TRUE(IsLayoutCode_29_52(29));
  EXPECT_TRUE(IsLayoutCode_29_52(52));
  EXPECT_FALSE(IsLayoutCode_29_52(51));
  gv().f0 = 7500;
  EXPECT_FALSE(GlobalVariables_IsRangeAbove7500());
  gv().f0 = 7501;
  EXPECT_TRUE(GlobalVariables_IsRangeAbove7500());
}

TEST_F(GlobalConfigTest, ReapplyingTrackingSettings) {
  GlobalVariables& g = gv();
  g.config.trackCount = 5;
  g.config.centreY = 12.5f;
  LensTableSlot* s0 = GlobalVariables_ApplyConfigTracking();
  EXPECT_EQ(&g.lensTableSlot[0], s0);
  EXPECT_EQ(5, s0->trackCount);
  EXPECT_EQ(12.5f, s0->centreY);
  g.advCameraConfig.cameraBits = 0x14;
  g.advCameraConfig.trackHeight = 480;
  GlobalVariables_ApplyAdvCameraConfig();
  EXPECT_EQ(1, g.cameraEnabled[2]);
  EXPECT_EQ(0, g.cameraEnabled[0]);
  EXPECT_EQ(1, g.cameraBit4);
  EXPECT_EQ(480, g.lensTableSlot[1].trackHeight);
}

TEST_F(GlobalConfigTest, DerivedSizes) {
  GlobalVariables& g = gv();
  g.extraConfig.derivedSizePercent = 50;
  // mm/px = 5800/350; f4 = (108.6 + 3) & ~3 = 108; mm/px = 1800/108;
  // h = int(600 * 16.666666f) = 10000; d = (10000 - 4500) * 50 / 100 = 2750;
  // f6 = (165 + 1) & ~1 = 166.
  EXPECT_EQ(166, GlobalVariables_CalcDerivedSizes(1800, 4500));
  EXPECT_EQ(108, g.f4);
  EXPECT_EQ(166, g.f6);
  // Cached while f6 is set.
  EXPECT_EQ(166, GlobalVariables_CalcDerivedSizes(3000, 100));
  EXPECT_EQ(108, g.f4);
  // A span beyond the view height gives offset 0 (negative d) -> f6 = 1 & ~1 = 0.
  g.f6 = 0;
  EXPECT_EQ(0, GlobalVariables_CalcDerivedSizes(1800, 20000));
  // A zero output width must not turn into undefined float-to-int conversions.
  g.f3 = 0;
  g.f6 = 0;
  GlobalVariables_CalcDerivedSizes(1800, 4500);
}

// A span far below the view height used to overflow h - span2 in 32 bits.
TEST_F(GlobalConfigTest, DerivedSizesOfExtremeSpans) {
  GlobalVariables& g = gv();
  g.extraConfig.derivedSizePercent = 50;
  // The sanitizer build checks the arithmetic; the offset stays an even
  // 16-bit value.
  for (const auto& spans : {std::pair<int32_t, int32_t>{1800, INT32_MIN}, {INT32_MAX, INT32_MAX}, {0, INT32_MAX}}) {
    g.f6 = 0;
    const int32_t f6 = GlobalVariables_CalcDerivedSizes(spans.first, spans.second);
    EXPECT_EQ(f6 & ~0xFFFE, 0) << spans.first << " " << spans.second;
  }
}

// Every field is range-checked when the file is read: a file with one field
// outside its range is refused with a log line and changes nothing, so that
// no later size or blind-area formula sees the value.
TEST_F(GlobalConfigTest, FieldsOutOfRangeRefuseTheFile) {
  struct Case {
    int field;
    int32_t value;
  } cases[] = {
      {0, -1},      {0, 2000000000}, {1, -5},  {3, 0},     {3, 2050},  {3, INT32_MAX}, {4, -4},   {5, 1},
      {5, 100000},  {6, -2},         {7, -1},  {8, 9000},  {10, 1000}, {12, -1},       {13, -1},  {16, 200000},
      {17, -3},     {18, INT32_MIN}, {19, -1}, {20, -10000}, {21, INT32_MIN}, {23, 2000000000},
  };
  for (const Case& c : cases) {
    ScopedConfigState::ResetConfiguration();
    std::vector<int> v = DefaultValues();
    v[9] = 10;
    v[c.field] = c.value;
    state_.WriteFile(kBaseFileName, BaseText(v));
    EXPECT_EQ(0, GlobalVariables_Init(1)) << "f" << c.field << " = " << c.value;
    const GlobalVariables& g = gv();
    EXPECT_EQ(0, g.loaded) << "f" << c.field;
    EXPECT_EQ(1, g.f9) << "f" << c.field;  // the record keeps its values
    EXPECT_EQ(350, g.f3) << "f" << c.field;
    EXPECT_EQ(2000, g.f0) << "f" << c.field;
  }
  // The ends of every range are accepted.
  for (int bound = 0; bound < 2; ++bound) {
    ScopedConfigState::ResetConfiguration();
    int32_t v[kBaseFileFieldCount];
    for (int i = 0; i < kBaseFileFieldCount; ++i)
      v[i] = bound == 0 ? kBaseFileFieldRanges[i].lo : kBaseFileFieldRanges[i].hi;
    v[9] = 1;
    char text[512];
    ASSERT_GT(BaseFile_Format(text, sizeof text, v), 0);
    state_.WriteFile(kBaseFileName, text);
    EXPECT_EQ(1, GlobalVariables_Init(1)) << text;
    EXPECT_EQ(v[3], gv().f3);
  }
}

TEST_F(GlobalConfigTest, UserTableLoadsThroughAdvanceCtrl) {
  LensTableSlot s;
  std::vector<float> angle = {0.0f, 0.1f, 0.2f};
  std::vector<float> height = {0.0f, 1.0f, 2.0f, 3.0f};
  s.kind = 1;
  s.unitSize = 2.75f;
  s.angleTable = angle.data();
  s.angleCount = 3;
  s.heightTable = height.data();
  s.heightCount = 4;
  ASSERT_EQ(1, LensTable_SaveFile(&s, state_.Path("tableuser.krv").c_str()));
  KRV_GlobalImage_AdvanceCtrl(1, 0);
  GlobalVariables& g = gv();
  ASSERT_NE(nullptr, g.userTable1);
  EXPECT_EQ(3, g.userTable1Count);
  EXPECT_EQ(0.2f, g.userTable1[2]);
  EXPECT_EQ(4 + 3000, g.userTable2Count);
  EXPECT_EQ(4.0f, g.userTable2[4]);
  EXPECT_EQ(2.75f, g.userTableValue);
  // Loads once without force; a missing file keeps the tables.
  float* kept = g.userTable1;
  LoadTableUser(0);
  EXPECT_EQ(kept, g.userTable1);
  std::remove(state_.Path("tableuser.krv").c_str());
  LoadTableUser(1);
  EXPECT_EQ(kept, g.userTable1);
  KRV_GlobalImage_Release();
  EXPECT_EQ(nullptr, g.userTable1);
  EXPECT_EQ(nullptr, g.userTable2);
}

TEST_F(GlobalConfigTest, ReleaseDeletesBlockCalibrations) {
  gv().blockCalib4 = new BlockCalib4;
  gv().blockCalib6 = new BlockCalib6;
  KRV_GlobalImage_Release();  // the leak checker catches a missing delete
  EXPECT_EQ(nullptr, gv().blockCalib4);
  EXPECT_EQ(nullptr, gv().blockCalib6);
}

}  // namespace
