#include "frame/base_file.h"
#include "frame/log.h"

#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "frame/data_directory.h"

namespace {

// Separator that follows field i (none after the last).
char SeparatorAfter(int i) { return i == 19 ? ';' : ','; }

// One "%d" conversion: optional white space, optional sign, digits.
bool ParseInt(const char*& p, const char* end, int32_t* out) {
  while (p < end && isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  if (p >= end || !isdigit(static_cast<unsigned char>(*p))) return false;
  long long v = 0;
  while (p < end && isdigit(static_cast<unsigned char>(*p))) {
    if (v <= INT32_MAX) v = v * 10 + (*p - '0');  // saturates below
    ++p;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  *out = static_cast<int32_t>(v);
  return true;
}

}  // namespace

int BaseFile_Parse(const char* text, size_t len, int32_t* const dst[kBaseFileFieldCount]) {
  const char* p = text;
  const char* end = text + len;
  for (int i = 0; i < kBaseFileFieldCount; ++i) {
    if (i > 0) {
      if (p >= end || *p != SeparatorAfter(i - 1)) return i;
      ++p;
    }
    int32_t v;
    if (!ParseInt(p, end, &v)) return i;
    *dst[i] = v;
  }
  return kBaseFileFieldCount;
}

// mm: viewing range, target sizes, board margins, spans and box value,
// blind-area offsets; px: output sizes (the bird's-eye view at most 2048 x
// 2048, beyond any display of the unit) and the derived car sizes.
const BaseFileFieldRange kBaseFileFieldRanges[kBaseFileFieldCount] = {
    {0, 50000},          // f0 viewing range
    {0, 100000},         // f1 targetDimA
    {0, 100000},         // f2 targetDimB
    {2, kBirdsEyeMaxSide},  // f3 bird's-eye width
    {0, kBirdsEyeMaxSide},  // f4 car image width (derived)
    {2, kBirdsEyeMaxSide},  // f5 bird's-eye height
    {0, kBirdsEyeMaxSide},  // f6 car image offset (derived)
    {0, 8192},           // f7 whole picture width
    {0, 8192},           // f8 whole picture height
    {INT32_MIN, INT32_MAX},  // f9 layout code
    {0, 100},            // f10 board columns
    {0, 100},            // f11 board rows
    {0, 10000},          // f12 corner count
    {0, 100000},         // f13-f16 board margins
    {0, 100000},
    {0, 100000},
    {0, 100000},
    {0, 100000},         // f17, f18 board spans
    {0, 100000},
    {0, 100000},         // f19 box value
    {-9999, 100000},     // f20-f23 blind-area offsets
    {-9999, 100000},
    {-9999, 100000},
    {-9999, 100000},
};

int BaseFile_FirstBadField(const int32_t v[kBaseFileFieldCount]) {
  for (int i = 0; i < kBaseFileFieldCount; ++i)
    if (v[i] < kBaseFileFieldRanges[i].lo || v[i] > kBaseFileFieldRanges[i].hi) return i;
  return -1;
}

int BaseFile_Format(char* out, size_t size, const int32_t v[kBaseFileFieldCount]) {
  int n = snprintf(out, size,
                   "%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d,%d;%d,%d,%d,%d", v[0], v[1],
                   v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14], v[15],
                   v[16], v[17], v[18], v[19], v[20], v[21], v[22], v[23]);
  if (n < 0 || static_cast<size_t>(n) >= size) return -1;
  return n;
}

long BaseFile_ReadText(const char* path, char* text, size_t size) {
  memset(text, 0, size);
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return -1;
  // Leave room for the terminating NUL.
  size_t want = (size < kBaseFileReadLimit ? size : kBaseFileReadLimit) - 1;
  size_t n = fread(text, 1, want, f);
  fclose(f);
  return static_cast<long>(n);
}

bool BaseFile_ReadValues(int32_t values[kBaseFileFieldCount]) {
  char path[kDataDirectorySize + 64];
  memset(values, 0, sizeof(int32_t) * kBaseFileFieldCount);
  if (!DataFilePath(path, sizeof path, kBaseFileName)) return false;
  char text[kBaseFileReadLimit];
  long n = BaseFile_ReadText(path, text, sizeof text);
  if (n < 0) return false;
  int32_t* dst[kBaseFileFieldCount];
  for (int i = 0; i < kBaseFileFieldCount; ++i) dst[i] = &values[i];
  BaseFile_Parse(text, static_cast<size_t>(n), dst);
  return true;
}

bool BaseFile_WriteValues(const int32_t values[kBaseFileFieldCount]) {
  char text[kBaseFileFieldCount * 12 + 8];
  int n = BaseFile_Format(text, sizeof text, values);
  char path[kDataDirectorySize + 64];
  if (n < 0 || !DataFilePath(path, sizeof path, kBaseFileName)) return false;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(text, 1, static_cast<size_t>(n), f) == static_cast<size_t>(n);
  ok = fflush(f) == 0 && ok;
  fsync(fileno(f));
  ok = fclose(f) == 0 && ok;
  if (!ok) AvmLog("write globalimage_base failed %s \n", path);
  return ok;
}

int32_t* BaseFile_RecordField(GlobalVariables& g, int i) {
  switch (i) {
    case 0: return &g.f0;
    case 1: return &g.f1;
    case 2: return &g.f2;
    case 3: return &g.f3;
    case 4: return &g.f4;
    case 5: return &g.f5;
    case 6: return &g.f6;
    case 7: return &g.f7;
    case 8: return &g.f8;
    case 9: return &g.f9;
    case 10: return &g.f10;
    case 11: return &g.f11;
    case 12: return &g.f12;
    case 13: return &g.f13;
    case 14: return &g.f14;
    case 15: return &g.f15;
    case 16: return &g.f16;
    case 17: return &g.f17;
    case 18: return &g.f18;
    case 19: return &g.f19;
    default: return &g.f20_23[(i - 20) & 3];
  }
}
