// Vehicle profile readers on fixture files: where each programme's values
// land in CalibProfile, the tag cache, and missing, short and long files.
#include "calibration/solve/calib_profile_files.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "frame/calib_profile.h"
#include "frame/log.h"
#include "testsupport/config_state.h"

namespace {

std::mutex gLogMutex;
std::string gLog;
void CaptureLine(const char* line) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gLog += line;
}

const char* const F4 = "%f,%f,%f,%f";
const char* const F3x4 = "%f,%f,%f;%f,%f,%f;%f,%f,%f;%f,%f,%f";
const char* const F4x2 = "%f,%f,%f,%f;%f,%f,%f,%f";
const char* const F4x3 = "%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f";
const char* const F4x4 = "%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f";
const char* const F12 = "%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f";

// Value k of line n (both from 0) of every fixture file.
float Value(int n, int k) { return 100.0f * (n + 1) + k + 0.25f; }

// A fixture line: the format with each value written in.
std::string Line(const char* format, int n) {
  std::string out;
  int k = 0;
  for (const char* f = format; *f != '\0'; ++f) {
    if (f[0] == '%' && f[1] == 'f') {
      out += std::to_string(Value(n, k++));
      ++f;
    } else {
      out += *f;
    }
  }
  return out + "\n";
}

struct Programme {
  const char* code;
  void (*read)();
  uint32_t tag;
  std::vector<const char*> formats;
  std::vector<int> bases;  // record word of value 0 of each line
  int pairs;               // > 0: values alternate x and y of this many points (x block, then y block)
  int requiredLines;       // lines before the tag is written
};

int WordOf(const Programme& p, int n, int k) {
  if (p.pairs > 0) return p.bases[n] + (k % 2) * p.pairs + k / 2;
  return p.bases[n] + k;
}

int Count(const char* format) {
  int c = 0;
  for (const char* f = format; *f; ++f) c += *f == '%';
  return c;
}

const std::vector<Programme>& Programmes() {
  static const std::vector<Programme> list = {
      {"kelvor", CalibProfile_Read_kelvor, 11,
       {F3x4, F3x4, F4x4, "%f,%f;%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f", "%f,%f;%f,%f"}, {2, 14, 26, 42, 56}, 0, 5},
      {"rv463", CalibProfile_Read_rv463, 16,
       {F3x4, F3x4, F4x4, "%f,%f,%f,%f,%f,%f;%f,%f,%f,%f,%f,%f;%f,%f,%f,%f,%f,%f;%f,%f,%f,%f,%f,%f"},
       {2, 14, 26, 42}, 0, 4},
      {"qd", CalibProfile_Read_qd, 9, {F4x2, F4x2, F4x2, F4x2}, {2, 10, 18, 26}, 0, 4},
      {"bq1", CalibProfile_Read_bq1, 21, {F4x2, F4x2}, {2, 10}, 0, 2},
      {"ez2", CalibProfile_Read_ez2, 32, {F4x3}, {2}, 0, 1},
      {"zan1", CalibProfile_Read_zan1, 17, {F4x3}, {2}, 0, 1},
      {"fw", CalibProfile_Read_fw, 2, {F4x3}, {3}, 0, 1},
      {"yk3", CalibProfile_Read_yk3, 19, {F12, F12, F12, F12}, {2, 14, 26, 38}, 6, 2},
      {"gj1", CalibProfile_Read_gj1, 5, {F4, F4, F4, F4}, {3, 7, 11, 15}, 0, 4},
      {"ruvk", CalibProfile_Read_ruvk, 24, {F4, F4, F4, F4}, {2, 6, 10, 14}, 0, 4},
      {"cvj", CalibProfile_Read_cvj, 25, {F4, F4, F4, F4}, {2, 6, 10, 14}, 0, 4},
      {"dk1", CalibProfile_Read_dk1, 26, {F4, F4}, {2, 6}, 0, 2},
      {"mbto", CalibProfile_Read_mbto, 53, {F4, F4, F4, F4, F4}, {2, 6, 10, 14, 18}, 0, 5},
      {"hulvex", CalibProfile_Read_hulvex, 54, {F4, F4, F4, F4, F4, F4}, {2, 6, 10, 14, 18, 22}, 0, 6},
  };
  return list;
}

class CalibProfileFilesTest : public ::testing::Test {
 protected:
  ScopedConfigState state;
  CalibProfileRecord saved = CalibProfile();
  void SetUp() override {
    CalibProfile() = CalibProfileRecord{};
    gLog.clear();
    AvmLog_SetSink(CaptureLine);
  }
  void TearDown() override {
    AvmLog_SetSink(nullptr);
    CalibProfile() = saved;
  }
  void WriteLines(const Programme& p, int lines, const std::string& extra = "") {
    std::string text;
    for (int n = 0; n < lines; ++n) text += Line(p.formats[n], n);
    state.WriteFile(std::string(p.code) + "_cfg.txt", text + extra);
  }
  void ExpectLines(const Programme& p, int lines) {
    const CalibProfileRecord& r = CalibProfile();
    for (int n = 0; n < lines; ++n)
      for (int k = 0; k < Count(p.formats[n]); ++k)
        EXPECT_EQ(r.F(WordOf(p, n, k)), Value(n, k)) << p.code << " line " << n + 1 << " value " << k;
  }
};

TEST_F(CalibProfileFilesTest, EveryProgrammeLoadsItsWordsAndTag) {
  for (const Programme& p : Programmes()) {
    CalibProfile() = CalibProfileRecord{};
    gv().targetDimA = 250;
    WriteLines(p, static_cast<int>(p.formats.size()));
    p.read();
    EXPECT_EQ(CalibProfile().Tag(), p.tag) << p.code;
    ExpectLines(p, static_cast<int>(p.formats.size()));
    EXPECT_EQ(CalibProfile().I(1), 0) << p.code;
  }
  // The programme-specific words.
  CalibProfile() = CalibProfileRecord{};
  CalibProfile_Read_gj1();
  EXPECT_EQ(CalibProfile().I(2), 1);  // loaded flag
  CalibProfile_Read_fw();
  EXPECT_EQ(CalibProfile().I(2), 250);  // square size at load time
  CalibProfile_Read_zan1();
  EXPECT_EQ(CalibProfile().I(14), 0);
}

TEST_F(CalibProfileFilesTest, TheTagCachesTheFile) {
  for (const Programme& p : Programmes()) {
    CalibProfile() = CalibProfileRecord{};
    WriteLines(p, static_cast<int>(p.formats.size()));
    p.read();
    state.WriteFile(std::string(p.code) + "_cfg.txt", "");  // no longer read
    p.read();
    ExpectLines(p, static_cast<int>(p.formats.size()));
  }
  // Layouts 8, 18, 19 and 28 share yk3's tag; layouts 2 and 14 share fw's,
  // which a changed square size reloads.
  const Programme& fw = Programmes()[6];
  CalibProfile() = CalibProfileRecord{};
  gv().targetDimA = 200;
  WriteLines(fw, 1);
  CalibProfile_Read_fw();
  state.WriteFile("fw_cfg.txt", "1,2,3,4;5,6,7,8;9,10,11,12\n");
  CalibProfile_Read_fw();
  EXPECT_EQ(CalibProfile().F(3), Value(0, 0));
  gv().targetDimA = 300;
  CalibProfile_Read_fw();
  EXPECT_EQ(CalibProfile().F(3), 1.0f);
  EXPECT_EQ(CalibProfile().I(2), 300);
}

TEST_F(CalibProfileFilesTest, ShortFilesKeepTheirLinesAndAreReadAgain) {
  struct Case {
    int programme;  // index in Programmes()
    int lines;
    bool tagged;
  } cases[] = {{0, 4, false}, {1, 3, false}, {2, 2, false}, {3, 1, false}, {7, 1, false}, {7, 2, true},
               {8, 3, false}, {9, 2, false}, {11, 1, false}, {12, 4, false}, {13, 5, false}};
  for (const Case& c : cases) {
    const Programme& p = Programmes()[c.programme];
    CalibProfile() = CalibProfileRecord{};
    WriteLines(p, c.lines);
    p.read();
    EXPECT_EQ(CalibProfile().Tag() == p.tag, c.tagged) << p.code << " with " << c.lines << " lines";
    ExpectLines(p, c.lines);
    if (c.tagged) continue;
    // Not tagged: the next call reads the (now complete) file.
    WriteLines(p, static_cast<int>(p.formats.size()));
    p.read();
    EXPECT_EQ(CalibProfile().Tag(), p.tag) << p.code;
  }
  EXPECT_NE(gLog.find("gj1_cfg.txt incomplete"), std::string::npos);
}

TEST_F(CalibProfileFilesTest, ExtraLinesAreIgnored) {
  for (const Programme& p : Programmes()) {
    if (p.code == std::string("zan1") || p.code == std::string("yk3")) continue;  // optional lines of their own
    CalibProfile() = CalibProfileRecord{};
    WriteLines(p, static_cast<int>(p.formats.size()), "9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9\n7\n");
    p.read();
    EXPECT_EQ(CalibProfile().Tag(), p.tag) << p.code;
    ExpectLines(p, static_cast<int>(p.formats.size()));
  }
}

TEST_F(CalibProfileFilesTest, MissingFilesLeaveNoTagAndAreTriedAgain) {
  for (const Programme& p : Programmes()) {
    // An earlier programme in the record.
    CalibProfile() = CalibProfileRecord{};
    CalibProfile().words[0] = 99;
    for (int w = 2; w < kCalibProfileWords; ++w) CalibProfile().SetF(w, 5.0f);
    gLog.clear();
    p.read();
    EXPECT_NE(CalibProfile().Tag(), p.tag) << p.code;
    EXPECT_NE(gLog.find(std::string("open ") + p.code + "_cfg fail"), std::string::npos) << p.code;
    if (p.code == std::string("yk3")) {
      EXPECT_NE(gLog.find("open yk3_cfg fail \n"), std::string::npos);
    }
    WriteLines(p, static_cast<int>(p.formats.size()));
    p.read();
    EXPECT_EQ(CalibProfile().Tag(), p.tag) << p.code << " is read once it exists";
    ExpectLines(p, static_cast<int>(p.formats.size()));
  }
}

TEST_F(CalibProfileFilesTest, RegionProgrammesClearTheirWordsAndTagOnlyAWholeFile) {
  // Without its file, gj1's loaded flag is 0 (the finders then search the
  // whole image) although another programme's value sat in that word.
  CalibProfile().words[0] = 2;
  CalibProfile().SetI(2, 200);
  CalibProfile().SetF(3, 17.0f);
  CalibProfile_Read_gj1();
  EXPECT_EQ(CalibProfile().Tag(), 0u);
  EXPECT_EQ(CalibProfile().I(2), 0);
  EXPECT_EQ(CalibProfile().F(3), 0.0f);
  // An unreadable value: no tag, the words of a partial parse stay.
  state.WriteFile("ruvk_cfg.txt", "1,2,3,4\n5,x,7,8\n9,10,11,12\n13,14,15,16\n");
  CalibProfile_Read_ruvk();
  EXPECT_EQ(CalibProfile().Tag(), 0u);
  EXPECT_EQ(CalibProfile().F(6), 5.0f);
  EXPECT_EQ(CalibProfile().F(7), 0.0f);
  EXPECT_EQ(CalibProfile().F(17), 16.0f);
}

TEST_F(CalibProfileFilesTest, OptionalLines) {
  const Programme& yk3 = Programmes()[7];
  std::string six;
  for (int n = 0; n < 4; ++n) six += Line(yk3.formats[n], n);
  six += "1,2,3,4,5,6,7,8,9,10,11,12\n21,22,23,24,25,26,27,28,29,30,31,32\n";
  state.WriteFile("yk3_cfg.txt", six);
  CalibProfile_Read_yk3();
  EXPECT_EQ(CalibProfile().Tag(), 19u);
  EXPECT_EQ(CalibProfile().words[50], 3u);
  EXPECT_EQ(CalibProfile().F(51), 1.0f);   // L5: x of point 0
  EXPECT_EQ(CalibProfile().F(57), 2.0f);   // L5: y of point 0
  EXPECT_EQ(CalibProfile().F(68), 31.0f);  // L6: x of point 5
  EXPECT_EQ(CalibProfile().F(74), 32.0f);  // L6: y of point 5
  // zan1's optional integer line.
  state.WriteFile("zan1_cfg.txt", Line(F4x3, 0) + "3\n");
  CalibProfile_Read_zan1();
  EXPECT_EQ(CalibProfile().I(14), 3);
}

TEST_F(CalibProfileFilesTest, ReorderingReaders) {
  // Eight points per line: x_k = 10 n + k, y_k = 100 + 10 n + k.
  auto pointsLine = [](int n, int points) {
    std::string s;
    for (int k = 0; k < points; ++k)
      s += std::to_string(10 * n + k) + "," + std::to_string(100 + 10 * n + k) + (k + 1 < points ? "," : "\n");
    return s;
  };
  auto write = [&](const char* name, int points, int lines) {
    std::string s;
    for (int n = 0; n < lines; ++n) s += pointsLine(n, points);
    state.WriteFile(name, s);
  };
  const int kelvor2[4][8] = {{0, 1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1, 0}, {5, 7, 4, 6, 1, 3, 0, 2},
                             {2, 0, 3, 1, 6, 4, 7, 5}};
  const int pq1[4][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {2, 3, 0, 1}, {0, 1, 2, 3}};
  // Layout 12: kelvor2n first, kelvor2 only without it.
  write("kelvor2_cfg.txt", 8, 4);
  CalibProfile_Read_kelvor2n();
  EXPECT_NE(gLog.find("open kelvor2n_cfg fail"), std::string::npos);
  CalibProfile_Read_kelvor2();
  ASSERT_EQ(CalibProfile().Tag(), 12u);
  for (int n = 0; n < 4; ++n)
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(CalibProfile().F(2 + 16 * n + i), 10.0f * n + kelvor2[n][i]) << n << "," << i;
      EXPECT_EQ(CalibProfile().F(10 + 16 * n + i), 100.0f + 10 * n + kelvor2[n][i]) << n << "," << i;
    }
  CalibProfile() = CalibProfileRecord{};
  write("kelvor2n_cfg.txt", 8, 4);
  CalibProfile_Read_kelvor2n();
  CalibProfile_Read_kelvor2();
  for (int n = 0; n < 4; ++n)
    for (int i = 0; i < 8; ++i) EXPECT_EQ(CalibProfile().F(2 + 16 * n + i), 10.0f * n + i);
  write("pq1_cfg.txt", 4, 4);
  CalibProfile_Read_pq1();
  ASSERT_EQ(CalibProfile().Tag(), 13u);
  for (int n = 0; n < 4; ++n)
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(CalibProfile().F(2 + 8 * n + i), 10.0f * n + pq1[n][i]);
      EXPECT_EQ(CalibProfile().F(6 + 8 * n + i), 100.0f + 10 * n + pq1[n][i]);
    }
  // Fewer than four lines: what was read is kept, no tag.
  CalibProfile() = CalibProfileRecord{};
  write("pq1_cfg.txt", 4, 2);
  CalibProfile_Read_pq1();
  EXPECT_EQ(CalibProfile().Tag(), 0u);
  EXPECT_EQ(CalibProfile().F(10), 13.0f);  // line 2, position 0: file point 3
  EXPECT_EQ(CalibProfile().F(18), 0.0f);
  // A value that does not parse repeats the previous line's.
  state.WriteFile("pq1_cfg.txt", pointsLine(0, 4) + "x\n" + pointsLine(2, 4) + pointsLine(3, 4));
  CalibProfile_Read_pq1();
  EXPECT_EQ(CalibProfile().F(10), 3.0f);  // line 2 took line 1's point 3
}

}  // namespace
