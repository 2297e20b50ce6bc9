#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibration/solve/block_calib.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "camera/lut_config_file.h"
#include "testsupport/config_state.h"

namespace {

std::string BaseText(const std::vector<int>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) s += (i == 20 ? ";" : ",");
    s += std::to_string(v[i]);
  }
  return s;
}

// f13..f19 = 100, 200, 300, 400, 5000, 6000, 70; f20..f23 = 7, 8, 9, 10.
std::vector<int> Board(int code) {
  return {2000, 200, 100, 350, 0, 600, 0, 900, 600, code, 8, 6, 35, 100, 200, 300, 400, 5000, 6000, 70,
          7,    8,   9,   10};
}

class BaseFileEditTest : public ::testing::Test {
 protected:
  void Load(const std::string& text) {
    state_.WriteFile(kBaseFileName, text);
    KRV_GlobalImage_Init();
    ASSERT_EQ(1, gv().loaded);
  }
  std::string File() const { return state_.ReadFile(kBaseFileName); }
  ScopedConfigState state_;
};

TEST_F(BaseFileEditTest, ModGlobalVariablesFileAllZeroWritesNothingButReloads) {
  // A text the writer would never produce shows whether the file was rewritten.
  const std::string odd = " 2000, 200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0";
  Load(odd);
  state_.WriteFile(kBaseFileName, " 3000, 200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0");
  KRV_GlobalImage_ModGlobalVariablesFile(0, 0, 0, 0, 0);
  EXPECT_EQ(" 3000, 200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0", File());
  EXPECT_EQ(3000, gv().f0);  // forced reload
}

struct KeyParamCase {
  const char* name;
  int a, b, c, d, e;
  const char* text;
};

class ModKeyParamTest : public BaseFileEditTest, public ::testing::WithParamInterface<KeyParamCase> {};

TEST_P(ModKeyParamTest, RewritesExactText) {
  const KeyParamCase& k = GetParam();
  Load("2000,200,100,350,12,600,34,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5");
  KRV_GlobalImage_ModGlobalVariablesFile(k.a, k.b, k.c, k.d, k.e);
  EXPECT_EQ(std::string(k.text), File());
  EXPECT_EQ(1, gv().loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, ModKeyParamTest,
    ::testing::Values(
        KeyParamCase{"view_size_odd_width", 0, 900, 600, 351, 600,
                     "2000,200,100,350,12,600,34,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5"},
        KeyParamCase{"range_and_view", 3500, 1280, 480, 420, 480,
                     "3500,200,100,420,12,480,34,1280,480,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5"},
        KeyParamCase{"range_only", 3000, 0, 0, 0, 0,
                     "3000,200,100,350,12,600,34,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5"},
        // One of the four view values missing: the view size stays.
        KeyParamCase{"partial_view", 0, 1280, 0, 420, 480,
                     "2000,200,100,350,12,600,34,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5"}),
    [](const ::testing::TestParamInfo<KeyParamCase>& i) { return std::string(i.param.name); });

TEST_F(BaseFileEditTest, ModFileKeyParamCountsMissingFieldsAsZero) {
  Load("2000,200,100");
  ModFileKeyParam(2500, 0, 0, 0, 0);
  EXPECT_EQ("2500,200,100,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0;0,0,0,0", File());
}

// A view size or range the next read would refuse is not written: the file
// stays as it was and still loads.
TEST_F(BaseFileEditTest, ModFileKeyParamRefusesValuesTheReaderWouldRefuse) {
  const std::string text = "2000,200,100,350,12,600,34,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5";
  Load(text);
  ModFileKeyParam(-5, 0, 0, 0, 0);
  ModFileKeyParam(0, 1280, 720, 4096, 600);
  ModFileKeyParam(0, 1280, 720, 320, INT32_MAX);
  ModFileKeyParam(0, -1280, 720, 320, 480);
  EXPECT_EQ(text, File());
  ModFileKeyParam(0, 1280, 720, 2048, 2048);
  EXPECT_EQ("2000,200,100,2048,12,2048,34,1280,720,1,8,6,35,0,0,0,0,0,0,0;0,0,0,-5", File());
  EXPECT_EQ(1, GlobalVariables_Init(1));
}

TEST_F(BaseFileEditTest, ModFileKeyParamWithoutFileWritesNothing) {
  ModFileKeyParam(2500, 900, 600, 350, 600);
  EXPECT_FALSE(state_.Exists(kBaseFileName));
}

TEST_F(BaseFileEditTest, ChessOffsetsSkipKeepMarkers) {
  Load(BaseText(Board(3)));
  int32_t offsets[4] = {-1000, 5, -10000, 0};
  int32_t w = -1, l = -1;
  KRV_GlobalImage_ModChessParam(nullptr, offsets, &w, &l);
  std::vector<int> expected = Board(3);
  expected[21] = 5;
  expected[23] = 0;
  EXPECT_EQ(BaseText(expected), File());
  EXPECT_EQ(7, offsets[0]);
  EXPECT_EQ(5, offsets[1]);
  EXPECT_EQ(9, offsets[2]);
  EXPECT_EQ(0, offsets[3]);
  EXPECT_EQ(5, gv().f20_23[1]);
  EXPECT_EQ(0, gv().f20_23[3]);
  // W = f17 - f15 - f16 + f22 + f23, L = f18 - f13 - f14 + f20 + f21.
  EXPECT_EQ(5000 - 300 - 400 + 9 + 0, w);
  EXPECT_EQ(6000 - 100 - 200 + 7 + 5, l);
}

TEST_F(BaseFileEditTest, ChessParamsWithoutChangeDoNotWrite) {
  const std::string odd = " 2000,200,100,350,0,600,0,900,600,3,8,6,35,100,200,300,400,5000,6000,70;7,8,9,10";
  Load(odd);
  int32_t params[8] = {0, 0, -3, 0, -1, -1, -1, -1};
  KRV_GlobalImage_ModChessParam(params, nullptr, nullptr, nullptr);
  EXPECT_EQ(odd, File());
  // Re-applying the current code is no change either.
  params[0] = 3;
  KRV_GlobalImage_ModChessParam(params, nullptr, nullptr, nullptr);
  EXPECT_EQ(odd, File());
  // A margin of 0 is a change.
  params[0] = 0;
  params[4] = 0;
  KRV_GlobalImage_ModChessParam(params, nullptr, nullptr, nullptr);
  std::vector<int> expected = Board(3);
  expected[13] = 0;
  EXPECT_EQ(BaseText(expected), File());
  EXPECT_EQ(0, gv().f13);
}

TEST_F(BaseFileEditTest, ChessParamsWriteFileAndRecordAndPresets) {
  Load(BaseText(Board(3)));
  int32_t params[8] = {14, 4000, 0, 55, 10, -1, 30, 40};
  int32_t w = 0, l = 0;
  KRV_GlobalImage_ModChessParam(params, nullptr, &w, &l);
  std::vector<int> expected = Board(14);
  expected[17] = 4000;
  expected[19] = 55;
  expected[13] = 10;
  expected[15] = 30;
  expected[16] = 40;
  EXPECT_EQ(BaseText(expected), File());  // f4 and f6 of the file stay
  const GlobalVariables& g = gv();
  EXPECT_EQ(14, g.f9);
  EXPECT_EQ(14, g.CalibLayoutCode);
  EXPECT_EQ(7, g.boardCols34);  // preset 14
  EXPECT_EQ(4000, g.place0);
  EXPECT_EQ(55, g.place2);
  EXPECT_EQ(10, g.place3);
  EXPECT_EQ(4000 - 30 - 40 + 9 + 10, w);
  EXPECT_EQ(6000 - 10 - 200 + 7 + 8, l);
  // The record's derived sizes follow the new blind area.
  EXPECT_NE(0, g.f4);
  EXPECT_EQ(0, g.f4 % 4);
  EXPECT_EQ(0, g.f6 % 2);
}

TEST_F(BaseFileEditTest, ChessParamsRecomputeEvenCachedSizes) {
  std::vector<int> v = Board(3);
  v[4] = 96;  // cached f4
  v[6] = 40;  // cached f6
  Load(BaseText(v));
  gv().extraConfig.derivedSizePercent = 50;
  int32_t offsets[4] = {0, 0, 0, 0};
  KRV_GlobalImage_ModChessParam(nullptr, offsets, nullptr, nullptr);
  const GlobalVariables& g = gv();
  EXPECT_NE(40, g.f6);
  EXPECT_NE(96, g.f4);
  EXPECT_NE(std::string::npos, File().find(",96,600,40,"));  // the file keeps its own
}

struct BlindCase {
  int code;
  bool block4, block6;
  int w, l;
};

class BlindAreaTest : public BaseFileEditTest, public ::testing::WithParamInterface<BlindCase> {};

TEST_P(BlindAreaTest, WidthAndLengthByLayoutCode) {
  const BlindCase& b = GetParam();
  Load(BaseText(Board(b.code)));
  if (b.block4) {
    gv().blockCalib4 = new BlockCalib4;
    gv().blockCalib4->lengthTerm = 4000.7f;
    gv().blockCalib4->widthTerm = 1800.2f;
  }
  if (b.block6) {
    gv().blockCalib6 = new BlockCalib6;
    gv().blockCalib6->lengthTerm = 5000.9f;
    gv().blockCalib6->widthTerm = 2100.5f;
  }
  int32_t w = -1, l = -1;
  KRV_GlobalImage_ModChessParam(nullptr, nullptr, &w, &l);
  EXPECT_EQ(b.w, w);
  EXPECT_EQ(b.l, l);
  // Only one of the two outputs: neither is written.
  int32_t only = -1;
  KRV_GlobalImage_ModChessParam(nullptr, nullptr, &only, nullptr);
  EXPECT_EQ(-1, only);
}

// Offsets f20..f23 = 7, 8, 9, 10; margins f13..f16 = 100..400; spans 5000, 6000.
INSTANTIATE_TEST_SUITE_P(Codes, BlindAreaTest,
                         ::testing::Values(BlindCase{1, false, false, 0, 0}, BlindCase{24, false, false, 0, 0},
                                           BlindCase{3, false, false, 4319, 5715},
                                           BlindCase{29, true, false, 1800 + 19, 4000 + 15},
                                           BlindCase{29, false, true, 0, 0},
                                           BlindCase{52, true, true, 2100 + 19, 5000 + 15},
                                           // Without lut_config_base.krv the formula values stay.
                                           BlindCase{51, false, false, 4319, 5715}));

TEST_F(BaseFileEditTest, Code51TakesTheBaseLutConfigSize) {
  LutConfigFileData d = {};
  d.carWidth = 1900;
  d.carLength = 4800;
  d.quadWidth = 1440;
  d.quadHeight = 1152;
  ASSERT_TRUE(LutConfigFile_Write(state_.Path("lut_config_base.krv").c_str(), d, 43, 59));
  // Side gaps set (place5/6 = f15/f16 = 300/400): only the length is taken.
  Load(BaseText(Board(51)));
  int32_t w = -1, l = -1;
  KRV_GlobalImage_ModChessParam(nullptr, nullptr, &w, &l);
  EXPECT_EQ(4319, w);
  EXPECT_EQ(4800, l);
  // Without side gaps the width is taken too.
  std::vector<int> v = Board(51);
  v[15] = v[16] = 0;
  state_.WriteFile(kBaseFileName, BaseText(v));
  GlobalVariables_Init(1);
  KRV_GlobalImage_ModChessParam(nullptr, nullptr, &w, &l);
  EXPECT_EQ(1900, w);
  EXPECT_EQ(4800, l);
}

TEST_F(BaseFileEditTest, ChessParamWithoutFileDoesNothing) {
  KRV_GlobalImage_Init();
  int32_t params[8] = {5, 1, 1, 1, 1, 1, 1, 1};
  int32_t w = -1, l = -1;
  KRV_GlobalImage_ModChessParam(params, nullptr, &w, &l);
  EXPECT_EQ(-1, w);
  EXPECT_EQ(1, gv().f9);
  EXPECT_FALSE(state_.Exists(kBaseFileName));
}

}  // namespace
