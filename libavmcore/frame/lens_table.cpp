#include "frame/lens_table.h"
#include "frame/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/global_variables.h"
#include "frame/text_utils.h"
#include "frame/data_directory.h"

namespace {

LensTableRegistry gRegistry = {nullptr, -1, 0};

constexpr long kHeaderBytes = 28;

bool ReadU32(FILE* f, uint32_t* v) { return fread(v, 4, 1, f) == 1; }
bool ReadF32(FILE* f, float* v) { return fread(v, 4, 1, f) == 1; }

long FileSize(FILE* f) {
  long here = ftell(f);
  if (here < 0 || fseek(f, 0, SEEK_END) != 0) return -1;
  long size = ftell(f);
  if (fseek(f, here, SEEK_SET) != 0) return -1;
  return size;
}

// Table sizes stored in a file are trusted only as far as the file holds
// them: a corrupt count must not drive a huge allocation or a short read.
bool SizesFit(long fileSize, uint32_t nAngle, uint32_t nHeight) {
  if (fileSize < kHeaderBytes) return false;
  uint64_t need = static_cast<uint64_t>(kHeaderBytes) + 4ull * nAngle + 4ull * nHeight;
  return need <= static_cast<uint64_t>(fileSize);
}

}  // namespace

LensTableRegistry& LensTable_Registry() { return gRegistry; }

LensTableSlot* LensTable_Slot(int index) { return &gv().lensTableSlot[index == 1 ? 1 : 0]; }

LensTableSlot* LensTable_Current() {
  return gRegistry.current != nullptr ? gRegistry.current : LensTable_Slot(0);
}

void LensTable_FreeSlot(LensTableSlot* slot) {
  free(slot->heightTable);
  slot->heightTable = nullptr;
  slot->heightCount = 0;
  free(slot->angleTable);
  slot->angleTable = nullptr;
  slot->angleCount = 0;
  slot->id = -1;
  memset(slot->name, 0, sizeof slot->name);
}

int LensTable_LoadFile(LensTableSlot* slot, const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    AvmLog("open %s failed \n", path);
    return 0;
  }
  uint32_t magic = 0, kind = 0, nAngle = 0, nHeight = 0;
  float sensorA = 0, sensorB = 0, unitSize = 0;
  if (!ReadU32(f, &magic) || magic != kLensTableMagic) {
    fclose(f);
    return 0;
  }
  long size = FileSize(f);
  if (!ReadU32(f, &kind) || !ReadF32(f, &sensorA) || !ReadF32(f, &sensorB) || !ReadF32(f, &unitSize) ||
      !ReadU32(f, &nAngle) || !ReadU32(f, &nHeight)) {
    AvmLog("lens table %s: header truncated \n", path);
    fclose(f);
    return 0;
  }
  // The height table needs two entries to extend; the angle look-up one.
  if (nHeight < 2 || nAngle < 1 || !SizesFit(size, nAngle, nHeight) ||
      nHeight > static_cast<uint32_t>(INT32_MAX - kLensTableHeightExtension)) {
    AvmLog("lens table %s: bad table sizes %u %u \n", path, nAngle, nHeight);
    fclose(f);
    return 0;
  }
  float* angle = static_cast<float*>(malloc(sizeof(float) * nAngle));
  float* height = static_cast<float*>(malloc(sizeof(float) * (nHeight + kLensTableHeightExtension)));
  bool ok = angle != nullptr && height != nullptr && fread(angle, 4, nAngle, f) == nAngle &&
            fread(height, 4, nHeight, f) == nHeight;
  fclose(f);
  if (!ok) {
    AvmLog("lens table %s: short read \n", path);
    free(angle);
    free(height);
    return 0;
  }
  const float d = height[nHeight - 1] - height[nHeight - 2];
  float h = height[nHeight - 1];
  for (int32_t k = 0; k < kLensTableHeightExtension; ++k) {
    h += d;
    height[nHeight + k] = h;
  }
  free(slot->angleTable);
  free(slot->heightTable);
  slot->kind = kind;
  slot->sensorA = sensorA;
  slot->sensorB = sensorB;
  slot->unitSize = unitSize;
  slot->angleTable = angle;
  slot->angleCount = static_cast<int32_t>(nAngle);
  slot->heightTable = height;
  slot->heightCount = static_cast<int32_t>(nHeight) + kLensTableHeightExtension;
  return 1;
}

int LensTable_SaveFile(const LensTableSlot* slot, const char* path) {
  if (slot->angleCount < 0 || slot->heightCount < 0 || (slot->angleCount > 0 && slot->angleTable == nullptr) ||
      (slot->heightCount > 0 && slot->heightTable == nullptr)) {
    AvmLog("lens table %s: slot holds no tables \n", path);
    return 0;
  }
  FILE* f = fopen(path, "wb");
  if (f == nullptr) {
    AvmLog("open %s failed \n", path);
    return 0;
  }
  uint32_t header[7];
  header[0] = kLensTableMagic;
  header[1] = slot->kind;
  memcpy(&header[2], &slot->sensorA, 4);
  memcpy(&header[3], &slot->sensorB, 4);
  memcpy(&header[4], &slot->unitSize, 4);
  header[5] = static_cast<uint32_t>(slot->angleCount);
  header[6] = static_cast<uint32_t>(slot->heightCount);
  size_t na = static_cast<size_t>(slot->angleCount);
  size_t nh = static_cast<size_t>(slot->heightCount);
  bool ok = fwrite(header, 4, 7, f) == 7 && (na == 0 || fwrite(slot->angleTable, 4, na, f) == na) &&
            (nh == 0 || fwrite(slot->heightTable, 4, nh, f) == nh);
  ok = fflush(f) == 0 && ok;
  fsync(fileno(f));
  ok = fclose(f) == 0 && ok;
  return ok ? 1 : 0;
}

int LensTable_LoadAltLayout(LensTableCompact* out, const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return 0;
  uint32_t magic = 0, skip = 0, nAngle = 0, nHeight = 0;
  float unitSize = 0;
  long size = FileSize(f);
  bool ok = ReadU32(f, &magic) && magic == kLensTableMagic && ReadU32(f, &skip) && ReadU32(f, &skip) &&
            ReadU32(f, &skip) && ReadF32(f, &unitSize) && ReadU32(f, &nAngle) && ReadU32(f, &nHeight);
  if (ok && (nAngle < 1 || !SizesFit(size, nAngle, 0))) {
    AvmLog("lens table %s: bad table size %u \n", path, nAngle);
    ok = false;
  }
  float* angle = ok ? static_cast<float*>(malloc(sizeof(float) * nAngle)) : nullptr;
  ok = ok && angle != nullptr && fread(angle, 4, nAngle, f) == nAngle;
  fclose(f);
  if (!ok) {
    free(angle);
    return 0;
  }
  out->unitSize = unitSize;
  out->angleTable = angle;
  out->nAngle = static_cast<int32_t>(nAngle);
  return 1;
}

void LensTable_LoadFromTableTxt(const char* path) {
  LensTableSlot* cur = LensTable_Current();
  FILE* f;
  if (path != nullptr) {
    cur->reloadFlag = 0;
    f = fopen(path, "r");
  } else {
    if (cur->heightTable != nullptr && cur->angleTable != nullptr && cur->reloadFlag == 0) return;
    cur->reloadFlag = 0;
    char selector[kDataDirectorySize + 32];
    f = DataFilePath(selector, sizeof selector, "table.txt") ? fopen(selector, "r") : nullptr;
  }
  if (f == nullptr) {
    AvmLog("open table txt failed ");
    return;
  }
  char line[120] = {};
  if (fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
  fclose(f);

  const char* p = line;
  if (cur == LensTable_Slot(1)) {
    p = strchr(line, ',');
    if (p == nullptr) {
      AvmLog("table txt no table2 A ");
      return;
    }
    ++p;
  }
  auto isBreak = [](char c) { return c == ' ' || c == '\n' || c == ',' || c == '\r'; };
  while (*p != '\0' && isBreak(*p)) ++p;
  char token[101] = {};
  size_t len = 0;
  while (len < 100 && p[len] != '\0' && !isBreak(p[len])) {
    token[len] = p[len];
    ++len;
  }

  const char* tag = StrCaseStr(token, "table");
  if (tag == nullptr) {
    AvmLog("table txt no tableid ");
    return;
  }
  int32_t n = static_cast<int32_t>(strtol(tag + 5, nullptr, 10));
  if (cur->id == n) return;

  LensTable_FreeSlot(cur);
  char file[kDataDirectorySize + 128];
  int w = token[0] == '/' ? snprintf(file, sizeof file, "%s.krv", token)
                          : snprintf(file, sizeof file, "%s/%s.krv", DataDirectory(), token);
  if (w > 0 && static_cast<size_t>(w) < sizeof file && LensTable_LoadFile(cur, file) == 1) {
    snprintf(cur->name, sizeof cur->name, "table%d", n);
    cur->id = n;
  } else {
    AvmLog("table txt Load failed ");
  }
}

void LensTable_Select(int32_t slot) {
  LensTableRegistry& r = gRegistry;
  if (slot == r.selectedSlot) return;
  if (slot < 0) {
    r.selectedSlot = -1;
    return;
  }
  if (slot >= 2) return;
  int32_t effective = slot;
  if (r.slot1Unavailable != 0) {
    r.current = LensTable_Slot(0);
    LensTable_LoadFromTableTxt(nullptr);
    effective = 0;
  } else {
    r.current = LensTable_Slot(slot);
    LensTable_LoadFromTableTxt(nullptr);
    if (slot == 1 && LensTable_Slot(1)->id == -1) {
      r.current = LensTable_Slot(0);
      LensTable_LoadFromTableTxt(nullptr);
      r.slot1Unavailable = 1;
      effective = 0;
    }
  }
  LensTableSlot* cur = LensTable_Current();
  if (cur->heightTable != nullptr && cur->angleTable != nullptr) r.selectedSlot = effective;
}
