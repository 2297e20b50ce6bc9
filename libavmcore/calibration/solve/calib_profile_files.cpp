#include "calibration/solve/calib_profile_files.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/calib_profile.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/log.h"

namespace {

constexpr size_t kPathSize = 256;
constexpr int kLineBuffer = 512;
constexpr int kReorderLineBuffer = 128;

// Converts the values of `line` by `format` as sscanf does ("%f" and "%d";
// a blank matches any run of blanks, another character itself), handing
// value k to store(k, float, int). Stops at the first mismatch; returns the
// number converted.
template <class Store>
int ScanLine(const char* line, const char* format, Store store) {
  const char* p = line;
  int n = 0;
  for (const char* f = format; *f != '\0'; ++f) {
    if (f[0] == '%' && (f[1] == 'f' || f[1] == 'd')) {
      while (isspace(static_cast<unsigned char>(*p))) ++p;
      char* end = nullptr;
      if (f[1] == 'f') {
        const float v = strtof(p, &end);
        if (end == p) return n;
        store(n, v, 0);
      } else {
        const long v = strtol(p, &end, 10);
        if (end == p) return n;
        store(n, 0.0f, static_cast<int32_t>(v));
      }
      p = end;
      ++n;
      ++f;
    } else if (isspace(static_cast<unsigned char>(*f))) {
      while (isspace(static_cast<unsigned char>(*p))) ++p;
    } else {
      if (*p != *f) return n;
      ++p;
    }
  }
  return n;
}

int CountValues(const char* format) {
  int n = 0;
  for (const char* f = format; *f != '\0'; ++f)
    if (f[0] == '%' && f[1] != '\0') ++n;
  return n;
}

// One line of a profile file: its format and where its values go. With
// `pairs` the values alternate x and y of `pairs` points: x of point k to
// word base + k, y to base + pairs + k; otherwise value k to base + k.
struct LineLayout {
  const char* format;
  int base;
  int pairs;
};

const char* const kF3x4 = "%f,%f,%f;%f,%f,%f;%f,%f,%f;%f,%f,%f";
const char* const kF4x4 = "%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f";
const char* const kF4x3 = "%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f";
const char* const kF4x2 = "%f,%f,%f,%f;%f,%f,%f,%f";
const char* const kF4 = "%f,%f,%f,%f";
const char* const kF12 = "%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f";
const char* const kF16 = "%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f";
const char* const kF8 = "%f,%f,%f,%f,%f,%f,%f,%f";

enum class TagRule {
  kAfterLine,  // the tag is written once line `tagLine` is parsed
  kComplete,   // words cleared first; tag only when every line parsed whole
};

struct Programme {
  const char* code;
  uint32_t tag;
  const LineLayout* lines;
  int lineCount;
  TagRule rule;
  int tagLine;  // kAfterLine: 1-based
  // Called right after the tag is written (or, for kComplete, with it).
  void (*onTag)(CalibProfileRecord& r);
  // Called after each parsed line (1-based) beyond tagLine.
  void (*afterLine)(CalibProfileRecord& r, int line);
  int clearWord;  // kComplete: a further word cleared with the values (-1: none)
};

void StoreValue(CalibProfileRecord& r, const LineLayout& layout, int k, float f, int32_t i, bool isInt) {
  int word = layout.base + k;
  if (layout.pairs > 0) word = layout.base + (k % 2) * layout.pairs + k / 2;
  if (word < 2 || word >= kCalibProfileWords) return;
  if (isInt)
    r.SetI(word, i);
  else
    r.SetF(word, f);
}

FILE* OpenProfile(const char* code) {
  char name[64];
  snprintf(name, sizeof name, "%s_cfg.txt", code);
  char path[kPathSize];
  if (!DataFilePath(path, sizeof path, name)) return nullptr;
  return fopen(path, "rb");
}

void OpenFailed(const char* code) {
  if (strcmp(code, "yk3") == 0)
    AvmLog("open %s_cfg fail \n", code);
  else
    AvmLog("open %s_cfg fail", code);
}

void ReadLineByLine(const Programme& p, bool cacheChecked = false) {
  CalibProfileRecord& r = CalibProfile();
  if (!cacheChecked && r.Tag() == p.tag) return;
  if (p.rule == TagRule::kComplete) {
    // The record holds no complete programme until this one parses whole.
    r.words[0] = 0;
    if (p.clearWord >= 0) r.words[p.clearWord] = 0;
    for (int n = 0; n < p.lineCount; ++n)
      for (int k = 0, c = CountValues(p.lines[n].format); k < c; ++k) StoreValue(r, p.lines[n], k, 0.0f, 0, true);
  }
  FILE* f = OpenProfile(p.code);
  if (f == nullptr) {
    OpenFailed(p.code);
    return;
  }
  if (p.tag == 19) r.words[50] = 0;  // yk3: mask of its optional lines
  char line[kLineBuffer] = {};
  bool complete = true;
  int n = 0;
  for (; n < p.lineCount; ++n) {
    if (fgets(line, sizeof line, f) == nullptr) break;
    const LineLayout& layout = p.lines[n];
    const bool isInt = strstr(layout.format, "%d") != nullptr;
    const int got =
        ScanLine(line, layout.format, [&](int k, float v, int32_t i) { StoreValue(r, layout, k, v, i, isInt); });
    if (got != CountValues(layout.format)) complete = false;
    if (p.rule == TagRule::kAfterLine) {
      if (n + 1 == p.tagLine) {
        r.words[0] = p.tag;
        if (p.onTag != nullptr) p.onTag(r);
      } else if (n + 1 > p.tagLine && p.afterLine != nullptr) {
        p.afterLine(r, n + 1);
      }
    }
  }
  fclose(f);
  if (p.rule == TagRule::kComplete) {
    if (n == p.lineCount && complete) {
      r.words[0] = p.tag;
      if (p.onTag != nullptr) p.onTag(r);
    } else {
      AvmLog("%s_cfg.txt incomplete: %d of %d lines, %s\n", p.code, n, p.lineCount,
             complete ? "all values read" : "unreadable values");
    }
  }
}

// The readers whose lines end with the tag.
const LineLayout kKelvorLines[] = {{kF3x4, 2, 0}, {kF3x4, 14, 0}, {kF4x4, 26, 0}, {"%f,%f;%f,%f,%f,%f;%f,%f,%f,%f;%f,%f,%f,%f", 42, 0}, {"%f,%f;%f,%f", 56, 0}};
const LineLayout kRv463Lines[] = {{kF3x4, 2, 0},
                                {kF3x4, 14, 0},
                                {kF4x4, 26, 0},
                                {"%f,%f,%f,%f,%f,%f;%f,%f,%f,%f,%f,%f;%f,%f,%f,%f,%f,%f;%f,%f,%f,%f,%f,%f", 42, 0}};
const LineLayout kQdLines[] = {{kF4x2, 2, 0}, {kF4x2, 10, 0}, {kF4x2, 18, 0}, {kF4x2, 26, 0}};
const LineLayout kBq1Lines[] = {{kF4x2, 2, 0}, {kF4x2, 10, 0}};
const LineLayout kZan1Lines[] = {{kF4x3, 2, 0}, {"%d", 14, 0}};
const LineLayout kYk3Lines[] = {{kF12, 2, 6},  {kF12, 14, 6}, {kF12, 26, 6}, {kF12, 38, 6},
                              {kF12, 51, 6}, {kF12, 63, 6}, {kF12, 75, 6}, {kF12, 87, 6}};
const LineLayout kFwLines[] = {{kF4x3, 3, 0}};
const LineLayout kEz2Lines[] = {{kF4x3, 2, 0}};
const LineLayout kGj1Lines[] = {{kF4, 3, 0}, {kF4, 7, 0}, {kF4, 11, 0}, {kF4, 15, 0}};
const LineLayout kRegion4Lines[] = {{kF4, 2, 0}, {kF4, 6, 0}, {kF4, 10, 0}, {kF4, 14, 0}, {kF4, 18, 0}, {kF4, 22, 0}};

void Zan1Tagged(CalibProfileRecord& r) { r.SetI(14, 0); }
void FwTagged(CalibProfileRecord& r) { r.SetI(2, gv().targetDimA); }
void Gj1Loaded(CalibProfileRecord& r) { r.SetI(2, 1); }
void Yk3Optional(CalibProfileRecord& r, int line) {
  if (line >= 5) r.words[50] |= 1u << (line - 5);
}

const Programme kKelvor{"kelvor", 11, kKelvorLines, 5, TagRule::kAfterLine, 5, nullptr, nullptr, -1};
const Programme kRv463{"rv463", 16, kRv463Lines, 4, TagRule::kAfterLine, 4, nullptr, nullptr, -1};
const Programme kQd{"qd", 9, kQdLines, 4, TagRule::kAfterLine, 4, nullptr, nullptr, -1};
const Programme kBq1{"bq1", 21, kBq1Lines, 2, TagRule::kAfterLine, 2, nullptr, nullptr, -1};
const Programme kZan1{"zan1", 17, kZan1Lines, 2, TagRule::kAfterLine, 1, Zan1Tagged, nullptr, -1};
const Programme kYk3{"yk3", 19, kYk3Lines, 8, TagRule::kAfterLine, 2, nullptr, Yk3Optional, -1};
const Programme kFw{"fw", 2, kFwLines, 1, TagRule::kAfterLine, 1, FwTagged, nullptr, -1};
const Programme kEz2{"ez2", 32, kEz2Lines, 1, TagRule::kAfterLine, 1, nullptr, nullptr, -1};
const Programme kGj1{"gj1", 5, kGj1Lines, 4, TagRule::kComplete, 4, Gj1Loaded, nullptr, 2};
const Programme kRuvk{"ruvk", 24, kRegion4Lines, 4, TagRule::kComplete, 4, nullptr, nullptr, -1};
const Programme kCvj{"cvj", 25, kRegion4Lines, 4, TagRule::kComplete, 4, nullptr, nullptr, -1};
const Programme kDk1{"dk1", 26, kRegion4Lines, 2, TagRule::kComplete, 2, nullptr, nullptr, -1};
const Programme kMbto{"mbto", 53, kRegion4Lines, 5, TagRule::kComplete, 5, nullptr, nullptr, -1};
const Programme kHulvex{"hulvex", 54, kRegion4Lines, 6, TagRule::kComplete, 6, nullptr, nullptr, -1};

// Readers that store each line's points as a block of x values then y
// values, in a per-line point order.
struct ReorderProgramme {
  const char* code;
  uint32_t tag;
  int points;                 // per line
  const int8_t (*order)[8];   // [line][block position] = file point
};

const int8_t kKelvor2nOrder[4][8] = {{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7},
                                     {0, 1, 2, 3, 4, 5, 6, 7}};
const int8_t kKelvor2Order[4][8] = {{0, 1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1, 0}, {5, 7, 4, 6, 1, 3, 0, 2},
                                    {2, 0, 3, 1, 6, 4, 7, 5}};
const int8_t kPq1Order[4][8] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {2, 3, 0, 1}, {0, 1, 2, 3}};

void ReadReordered(const ReorderProgramme& p) {
  CalibProfileRecord& r = CalibProfile();
  if (r.Tag() == p.tag) return;
  FILE* f = OpenProfile(p.code);
  if (f == nullptr) {
    OpenFailed(p.code);
    return;
  }
  const char* format = p.points == 8 ? kF16 : kF8;
  float xs[8] = {}, ys[8] = {};  // kept from line to line
  int n = 0;
  for (; n < 4; ++n) {
    char line[kReorderLineBuffer];
    if (fgets(line, sizeof line, f) == nullptr) break;
    const size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
    ScanLine(line, format, [&](int k, float v, int32_t) {
      float* dst = k % 2 == 0 ? xs : ys;
      dst[k / 2] = v;
    });
    const int base = 2 + 2 * p.points * n;
    for (int i = 0; i < p.points; ++i) {
      r.SetF(base + i, xs[p.order[n][i]]);
      r.SetF(base + p.points + i, ys[p.order[n][i]]);
    }
  }
  fclose(f);
  // A file of fewer than four lines keeps what it gave but is read again.
  if (n == 4) r.words[0] = p.tag;
}

}  // namespace

void CalibProfile_Read_kelvor() { ReadLineByLine(kKelvor); }
void CalibProfile_Read_kelvor2n() { ReadReordered({"kelvor2n", 12, 8, kKelvor2nOrder}); }
void CalibProfile_Read_kelvor2() { ReadReordered({"kelvor2", 12, 8, kKelvor2Order}); }
void CalibProfile_Read_pq1() { ReadReordered({"pq1", 13, 4, kPq1Order}); }
void CalibProfile_Read_zan1() { ReadLineByLine(kZan1); }
void CalibProfile_Read_rv463() { ReadLineByLine(kRv463); }
void CalibProfile_Read_qd() { ReadLineByLine(kQd); }
void CalibProfile_Read_yk3() { ReadLineByLine(kYk3); }
void CalibProfile_Read_bq1() { ReadLineByLine(kBq1); }
void CalibProfile_Read_fw() {
  CalibProfileRecord& r = CalibProfile();
  // A changed board square size forces a re-read.
  if (r.Tag() == 2 && r.I(2) == gv().targetDimA) return;
  ReadLineByLine(kFw, true);
}
void CalibProfile_Read_gj1() { ReadLineByLine(kGj1); }
void CalibProfile_Read_ruvk() { ReadLineByLine(kRuvk); }
void CalibProfile_Read_cvj() { ReadLineByLine(kCvj); }
void CalibProfile_Read_dk1() { ReadLineByLine(kDk1); }
void CalibProfile_Read_mbto() { ReadLineByLine(kMbto); }
void CalibProfile_Read_hulvex() { ReadLineByLine(kHulvex); }
void CalibProfile_Read_ez2() { ReadLineByLine(kEz2); }
