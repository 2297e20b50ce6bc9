#include "frame/lens_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame/global_variables.h"
#include "testsupport/config_state.h"

namespace {

struct RawTable {
  uint32_t magic = kLensTableMagic;
  uint32_t kind = 2;
  float sensorA = 4.0f;
  float sensorB = 3.0f;
  float unitSize = 1.25f;
  std::vector<float> angle;
  std::vector<float> height;
  // Overrides of the stored counts (to corrupt them).
  int64_t nAngle = -1;
  int64_t nHeight = -1;
};

RawTable MakeTable(int nAngle, int nHeight, float seed) {
  RawTable t;
  for (int i = 0; i < nAngle; ++i) t.angle.push_back(seed + 0.001f * static_cast<float>(i));
  // Slightly curved so that the last step differs from the others.
  for (int i = 0; i < nHeight; ++i) t.height.push_back(seed + 0.5f * static_cast<float>(i) + 0.001f * i * i);
  return t;
}

void WriteRaw(const std::string& path, const RawTable& t, size_t truncateTo = SIZE_MAX) {
  std::vector<unsigned char> bytes;
  auto put = [&](const void* p, size_t n) {
    const unsigned char* c = static_cast<const unsigned char*>(p);
    bytes.insert(bytes.end(), c, c + n);
  };
  uint32_t na = t.nAngle >= 0 ? static_cast<uint32_t>(t.nAngle) : static_cast<uint32_t>(t.angle.size());
  uint32_t nh = t.nHeight >= 0 ? static_cast<uint32_t>(t.nHeight) : static_cast<uint32_t>(t.height.size());
  put(&t.magic, 4);
  put(&t.kind, 4);
  put(&t.sensorA, 4);
  put(&t.sensorB, 4);
  put(&t.unitSize, 4);
  put(&na, 4);
  put(&nh, 4);
  put(t.angle.data(), 4 * t.angle.size());
  put(t.height.data(), 4 * t.height.size());
  if (truncateTo < bytes.size()) bytes.resize(truncateTo);
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

class LensTableTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return state_.Path(name); }
  ScopedConfigState state_;
};

TEST_F(LensTableTest, LoadExtendsHeightTableAndSaveRoundTrips) {
  RawTable t = MakeTable(50, 100, 0.0f);
  WriteRaw(Path("table1.krv"), t);
  LensTableSlot s;
  ASSERT_EQ(1, LensTable_LoadFile(&s, Path("table1.krv").c_str()));
  EXPECT_EQ(2u, s.kind);
  EXPECT_EQ(4.0f, s.sensorA);
  EXPECT_EQ(3.0f, s.sensorB);
  EXPECT_EQ(1.25f, s.unitSize);
  ASSERT_EQ(50, s.angleCount);
  ASSERT_EQ(3100, s.heightCount);
  EXPECT_EQ(0, memcmp(t.angle.data(), s.angleTable, 50 * 4));
  EXPECT_EQ(0, memcmp(t.height.data(), s.heightTable, 100 * 4));
  const float d = t.height[99] - t.height[98];
  float h = t.height[99];
  for (int k = 0; k < 3000; ++k) {
    h += d;
    ASSERT_EQ(h, s.heightTable[100 + k]) << k;
  }

  // The writer stores the extended table; reading it back extends again.
  ASSERT_EQ(1, LensTable_SaveFile(&s, Path("copy.krv").c_str()));
  LensTableSlot r;
  ASSERT_EQ(1, LensTable_LoadFile(&r, Path("copy.krv").c_str()));
  EXPECT_EQ(s.kind, r.kind);
  EXPECT_EQ(s.unitSize, r.unitSize);
  EXPECT_EQ(50, r.angleCount);
  EXPECT_EQ(6100, r.heightCount);
  EXPECT_EQ(0, memcmp(s.angleTable, r.angleTable, 50 * 4));
  EXPECT_EQ(0, memcmp(s.heightTable, r.heightTable, 3100 * 4));

  LensTableCompact c = {};
  ASSERT_EQ(1, LensTable_LoadAltLayout(&c, Path("copy.krv").c_str()));
  EXPECT_EQ(1.25f, c.unitSize);
  EXPECT_EQ(50, c.nAngle);
  EXPECT_EQ(0, memcmp(s.angleTable, c.angleTable, 50 * 4));
  free(c.angleTable);
  LensTable_FreeSlot(&s);
  LensTable_FreeSlot(&r);
}

struct CorruptCase {
  const char* name;
  int64_t nAngle, nHeight;
  size_t truncateTo;
  uint32_t magic;
};

class CorruptLensTableTest : public LensTableTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptLensTableTest, RefusedAndSlotUntouched) {
  const CorruptCase& c = GetParam();
  WriteRaw(Path("good.krv"), MakeTable(10, 20, 1.0f));
  LensTableSlot s;
  ASSERT_EQ(1, LensTable_LoadFile(&s, Path("good.krv").c_str()));
  LensTableSlot before = s;

  RawTable bad = MakeTable(10, c.nHeight >= 0 && c.nHeight < 20 ? static_cast<int>(c.nHeight) : 20, 5.0f);
  bad.magic = c.magic;
  bad.nAngle = c.nAngle;
  bad.nHeight = c.nHeight;
  WriteRaw(Path("bad.krv"), bad, c.truncateTo);
  EXPECT_EQ(0, LensTable_LoadFile(&s, Path("bad.krv").c_str()));
  EXPECT_EQ(0, memcmp(&before, &s, sizeof s));
  EXPECT_EQ(1.0f, s.angleTable[0]);
  LensTableCompact compact = {};
  if (c.nAngle != 10 || c.truncateTo < 28 + 40 || c.magic != kLensTableMagic) {
    EXPECT_EQ(0, LensTable_LoadAltLayout(&compact, Path("bad.krv").c_str()));
  }
  free(compact.angleTable);
  LensTable_FreeSlot(&s);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CorruptLensTableTest,
    ::testing::Values(CorruptCase{"one_height", 10, 1, SIZE_MAX, kLensTableMagic},
                      CorruptCase{"no_height", 10, 0, SIZE_MAX, kLensTableMagic},
                      CorruptCase{"no_angle", 0, 20, SIZE_MAX, kLensTableMagic},
                      CorruptCase{"huge_angle", 0xFFFFFFFF, 20, SIZE_MAX, kLensTableMagic},
                      CorruptCase{"huge_height", 10, 0xFFFFFFF0, SIZE_MAX, kLensTableMagic},
                      CorruptCase{"counts_beyond_file", 10, 21, SIZE_MAX, kLensTableMagic},
                      CorruptCase{"truncated_tables", 10, 20, 28 + 40 + 16, kLensTableMagic},
                      CorruptCase{"truncated_header", 10, 20, 17, kLensTableMagic},
                      CorruptCase{"wrong_magic", 10, 20, SIZE_MAX, 0x06060102}),
    [](const ::testing::TestParamInfo<CorruptCase>& i) { return std::string(i.param.name); });

TEST_F(LensTableTest, MissingFileFails) {
  LensTableSlot s;
  EXPECT_EQ(0, LensTable_LoadFile(&s, Path("absent.krv").c_str()));
  LensTableCompact c = {};
  EXPECT_EQ(0, LensTable_LoadAltLayout(&c, Path("absent.krv").c_str()));
  EXPECT_EQ(0, LensTable_SaveFile(&s, Path("no/such/dir.krv").c_str()));
}

class LensTableSelectTest : public LensTableTest {
 protected:
  void SetUp() override {
    WriteRaw(Path("table1.krv"), MakeTable(10, 20, 1.0f));
    WriteRaw(Path("table3.krv"), MakeTable(12, 30, 3.0f));
  }
  LensTableRegistry& reg() { return LensTable_Registry(); }
};

TEST_F(LensTableSelectTest, SelectorLineGivesEachSlotItsTable) {
  state_.WriteFile("table.txt", "table1,table3\n");
  LensTable_Select(0);
  EXPECT_EQ(LensTable_Slot(0), LensTable_Current());
  EXPECT_EQ(0, reg().selectedSlot);
  EXPECT_EQ(1, LensTable_Slot(0)->id);
  EXPECT_STREQ("table1", LensTable_Slot(0)->name);
  EXPECT_EQ(20 + 3000, LensTable_Slot(0)->heightCount);
  EXPECT_EQ(0u, LensTable_Slot(0)->reloadFlag);

  LensTable_Select(1);
  EXPECT_EQ(LensTable_Slot(1), LensTable_Current());
  EXPECT_EQ(1, reg().selectedSlot);
  EXPECT_EQ(3, LensTable_Slot(1)->id);
  EXPECT_STREQ("table3", LensTable_Slot(1)->name);
  EXPECT_EQ(12, LensTable_Slot(1)->angleCount);
  EXPECT_EQ(0u, reg().slot1Unavailable);

  // Selecting the selected slot does nothing, even after the selector changed.
  state_.WriteFile("table.txt", "table3,table1");
  LensTable_Select(1);
  EXPECT_EQ(3, LensTable_Slot(1)->id);

  // A negative slot forgets the selection but keeps the current slot.
  LensTable_Select(-1);
  EXPECT_EQ(-1, reg().selectedSlot);
  EXPECT_EQ(LensTable_Slot(1), LensTable_Current());
  LensTable_Select(2);
  EXPECT_EQ(-1, reg().selectedSlot);
}

TEST_F(LensTableSelectTest, WithoutSecondTokenSlotOneFallsBackForGood) {
  state_.WriteFile("table.txt", "  table1\r\n");
  LensTable_Select(1);
  EXPECT_EQ(LensTable_Slot(0), LensTable_Current());
  EXPECT_EQ(0, reg().selectedSlot);
  EXPECT_EQ(1u, reg().slot1Unavailable);
  EXPECT_EQ(-1, LensTable_Slot(1)->id);
  EXPECT_EQ(1, LensTable_Slot(0)->id);

  state_.WriteFile("table.txt", "table1,table3");
  LensTable_Select(-1);
  LensTable_Select(1);
  EXPECT_EQ(LensTable_Slot(0), LensTable_Current());
  EXPECT_EQ(-1, LensTable_Slot(1)->id);
}

TEST_F(LensTableSelectTest, ReloadFlagMakesTheSelectorBeReadAgain) {
  state_.WriteFile("table.txt", "table1");
  LensTable_Select(0);
  EXPECT_EQ(1, LensTable_Slot(0)->id);
  WriteRaw(Path("TABLE3.krv"), MakeTable(12, 30, 3.0f));
  state_.WriteFile("table.txt", "TABLE3");  // the tag is found ignoring case
  LensTable_Select(-1);
  LensTable_Select(0);
  EXPECT_EQ(1, LensTable_Slot(0)->id);  // tables present, flag clear: not re-read
  LensTable_Select(-1);
  LensTable_Slot(0)->reloadFlag = 1;
  LensTable_Select(0);
  EXPECT_EQ(3, LensTable_Slot(0)->id);
  EXPECT_EQ(30 + 3000, LensTable_Slot(0)->heightCount);
}

TEST_F(LensTableSelectTest, AbsoluteTokenTakesOnlyTheExtension) {
  std::string abs = Path("lens_table7");
  WriteRaw(abs + ".krv", MakeTable(5, 6, 7.0f));
  state_.WriteFile("sel.txt", abs + "\n");
  LensTable_LoadFromTableTxt(Path("sel.txt").c_str());
  EXPECT_EQ(7, LensTable_Current()->id);
  EXPECT_EQ(5, LensTable_Current()->angleCount);
}

struct SelectorCase {
  const char* name;
  const char* line;  // null: no table.txt
  int32_t id;        // id of slot 0 afterwards
  const char* slotName;
};

class SelectorLineTest : public LensTableSelectTest, public ::testing::WithParamInterface<SelectorCase> {};

TEST_P(SelectorLineTest, Slot0) {
  const SelectorCase& c = GetParam();
  if (c.line != nullptr) state_.WriteFile("table.txt", c.line);
  LensTable_Select(0);
  EXPECT_EQ(c.id, LensTable_Slot(0)->id);
  EXPECT_STREQ(c.slotName, LensTable_Slot(0)->name);
  EXPECT_EQ(c.id == -1 ? -1 : 0, LensTable_Registry().selectedSlot);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SelectorLineTest,
    ::testing::Values(SelectorCase{"no_selector", nullptr, -1, ""}, SelectorCase{"empty", "", -1, ""},
                      SelectorCase{"no_tag", "lens1,lens3", -1, ""},
                      SelectorCase{"missing_file", "table9", -1, ""},
                      SelectorCase{"leading_separators", " ,\r table3\n", 3, "table3"},
                      // Only the first line is read.
                      SelectorCase{"second_line", "\ntable3", -1, ""},
                      // An id whose name fills the 16 bytes is still a terminated string.
                      SelectorCase{"long_id_missing_file", "table-2147483648", -1, ""}),
    [](const ::testing::TestParamInfo<SelectorCase>& i) { return std::string(i.param.name); });

TEST_F(LensTableSelectTest, LongNameIsBoundedToTheSlot) {
  WriteRaw(Path("table-2147483648.krv"), MakeTable(4, 4, 0.0f));
  state_.WriteFile("table.txt", "table-2147483648");
  LensTable_Select(0);
  EXPECT_EQ(INT32_MIN, LensTable_Slot(0)->id);
  EXPECT_STREQ("table-214748364", LensTable_Slot(0)->name);  // 15 characters and the NUL
}

TEST_F(LensTableSelectTest, ConfigurationInitAndReleaseReload) {
  state_.WriteFile("globalimage_base.txt", "2000,200,100,350,0,600,0,900,600,1,8,6,35,0,0,0,0,0,0,0;0,0,0,0");
  state_.WriteFile("table.txt", "table1,table3");
  GlobalVariables_InitRuntimeDefaults();
  ASSERT_EQ(1, GlobalVariables_Init(0));
  LensTable_Select(0);
  ASSERT_EQ(1, LensTable_Slot(0)->id);

  // Release frees the tables; the next Init and selection load them again.
  GlobalVariables_Release();
  EXPECT_EQ(nullptr, LensTable_Slot(0)->heightTable);
  EXPECT_EQ(-1, LensTable_Slot(0)->id);
  ASSERT_EQ(1, GlobalVariables_Init(0));
  EXPECT_EQ(-1, LensTable_Registry().selectedSlot);
  EXPECT_EQ(1u, LensTable_Slot(0)->reloadFlag);
  LensTable_Select(0);
  EXPECT_EQ(1, LensTable_Slot(0)->id);
  ASSERT_NE(nullptr, LensTable_Slot(0)->heightTable);

  // A forced Init re-reads the selector for the next selection.
  state_.WriteFile("table.txt", "table3,table1");
  ASSERT_EQ(1, GlobalVariables_Init(1));
  LensTable_Select(0);
  EXPECT_EQ(3, LensTable_Slot(0)->id);
}

}  // namespace
