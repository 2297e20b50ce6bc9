#include "frame/global_variables.h"
#include "frame/log.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/block_calib_services.h"
#include "frame/base_file.h"
#include "frame/data_directory.h"

namespace {

GlobalVariables gGlobalVariables;

template <typename Record>
void CopyTracking(LensTableSlot* slot, const Record& r) {
  slot->trackCount = r.trackCount;
  slot->trackWidth = r.trackWidth;
  slot->trackHeight = r.trackHeight;
  slot->centreX = r.centreX;
  slot->centreY = r.centreY;
  slot->scaleX = r.scaleX;
  slot->scaleY = r.scaleY;
}

void ApplyCameraBits(GlobalVariables& g) {
  uint32_t bits = g.advCameraConfig.cameraBits;
  for (int n = 0; n < 4; ++n) g.cameraEnabled[n] = (bits >> n) & 1u;
  g.cameraBit4 = (bits >> 4) & 1u;
  g.cameraBit5 = (bits >> 5) & 1u;
}

// Float to integer, truncating toward zero; values no integer can hold
// (a zero output width, say) give 0 instead of undefined behaviour.
int32_t TruncToInt(float v) {
  if (!(v > -2147483648.0f && v < 2147483648.0f)) return 0;
  return static_cast<int32_t>(v);
}

}  // namespace

GlobalVariables& gv() { return gGlobalVariables; }

void GlobalVariables_InitRuntimeDefaults() {
  GlobalVariables& g = gGlobalVariables;
  if (g.runtimeDefaultsDone != 0) return;
  for (int32_t& e : g.cameraEnabled) e = 0;
  g.cameraBit4 = 0;
  g.cameraBit5 = 0;

  Config& c = g.config;
  c = Config{};
  c.zoneDistance[0] = 500;
  c.zoneDistance[1] = 1400;
  c.zoneDistance[2] = 3000;
  c.seamAngle[0] = 72.0f;
  c.seamAngle[1] = 72.0f;
  c.seamAngle[2] = 42.0f;
  c.seamAngle[3] = 42.0f;
  c.seamFraction[0] = 0.55f;
  c.seamFraction[1] = 0.75f;
  c.seamFraction[2] = 0.3f;
  c.seamFraction[3] = 0.5f;
  c.trackCount = IsLayoutCode_1_2_24(g.CalibLayoutCode) ? 0 : 1;

  ExtraConfig& e = g.extraConfig;
  e = ExtraConfig{};
  e.frontBlendWidth = 30;
  e.rearBlendWidth = 45;
  e.layoutMode = 2;
  e.nearMark = 500;
  e.derivedSizePercent = 50;

  AdvCameraConfig& a = g.advCameraConfig;
  a = AdvCameraConfig{};
  a.value0 = 1;
  a.trackCount = 1;

  CopyTracking(&g.lensTableSlot[0], c);
  CopyTracking(&g.lensTableSlot[1], a);
  g.runtimeDefaultsDone = 1;
}

int GlobalVariables_Init(int force) {
  GlobalVariables& g = gGlobalVariables;
  AvmLog("GlobalVariables_Init %d %d %s %s \n", force, g.loaded, kGlobalVariablesVersion, DataDirectory());
  if (force == 0 && g.loaded == 1) return 1;

  char path[kDataDirectorySize + 64];
  char text[kBaseFileReadLimit];
  long n = -1;
  if (DataFilePath(path, sizeof path, kBaseFileName)) n = BaseFile_ReadText(path, text, sizeof text);
  if (n < 0) {
    AvmLog("GlobalVariables_Init fail\n");
    return 0;
  }
  // Parsed into a copy: fields the text lacks keep the record's values, and
  // a file with a field out of range changes nothing.
  int32_t values[kBaseFileFieldCount];
  int32_t* dst[kBaseFileFieldCount];
  for (int i = 0; i < kBaseFileFieldCount; ++i) {
    values[i] = *BaseFile_RecordField(g, i);
    dst[i] = &values[i];
  }
  BaseFile_Parse(text, static_cast<size_t>(n), dst);
  const int bad = BaseFile_FirstBadField(values);
  if (bad >= 0) {
    AvmLog("GlobalVariables_Init %s: field f%d = %d outside %d .. %d, file refused\n", path, bad, values[bad],
           kBaseFileFieldRanges[bad].lo, kBaseFileFieldRanges[bad].hi);
    return 0;
  }
  for (int i = 0; i < kBaseFileFieldCount; ++i) *BaseFile_RecordField(g, i) = values[i];

  GlobalVariables_ApplyModelPresets();
  g.lensTableSlot[0].reloadFlag = 1;
  g.lensTableSlot[1].reloadFlag = 1;
  LensTable_Select(-1);
  g.loaded = 1;
  g.calibState = 0;
  return 1;
}

void GlobalVariables_Release() {
  GlobalVariables& g = gGlobalVariables;
  BlockCalib4_Destroy(g.blockCalib4);
  g.blockCalib4 = nullptr;
  BlockCalib6_Destroy(g.blockCalib6);
  g.blockCalib6 = nullptr;
  // Freed slots are also marked empty so that the next selection loads them
  // again instead of keeping a table number without tables.
  LensTable_FreeSlot(&g.lensTableSlot[0]);
  LensTable_FreeSlot(&g.lensTableSlot[1]);
  LensTable_Select(-1);
  free(g.userTable1);
  g.userTable1 = nullptr;
  g.userTable1Count = 0;
  free(g.userTable2);
  g.userTable2 = nullptr;
  g.userTable2Count = 0;
  g.loaded = 0;
}

namespace {

int32_t CalcDerivedSizes(GlobalVariables& g, int32_t span1, int32_t span2) {
  float mmPerPixel = (2.0f * static_cast<float>(g.f0) + static_cast<float>(span1)) / static_cast<float>(g.f3);
  g.f4 = (TruncToInt(static_cast<float>(span1) / mmPerPixel + 3.0f)) & 0xFFFC;
  if (g.f4 != 0) mmPerPixel = static_cast<float>(span1) / static_cast<float>(g.f4);
  int32_t h = TruncToInt(static_cast<float>(g.f5) * mmPerPixel);
  int64_t d = (static_cast<int64_t>(h) - span2) * g.extraConfig.derivedSizePercent / 100;
  if (d < 0) d = 0;
  g.f6 = TruncToInt(static_cast<float>(d) / mmPerPixel + 1.0f) & 0xFFFE;
  return g.f6;
}

}  // namespace

int32_t GlobalVariables_CalcDerivedSizes(int32_t span1, int32_t span2) {
  GlobalVariables& g = gGlobalVariables;
  if (g.f6 != 0) return g.f6;
  return CalcDerivedSizes(g, span1, span2);
}

// Used by the board-parameter edit, which recomputes even cached sizes.
int32_t GlobalVariables_RecalcDerivedSizes(int32_t span1, int32_t span2) {
  return CalcDerivedSizes(gGlobalVariables, span1, span2);
}

void GlobalVariables_SetConfig(const Config* cfg) {
  GlobalVariables& g = gGlobalVariables;
  AvmLog("SetConfig %d %d %d %f %f %f %f %f %f \n", cfg->trackCount, cfg->trackWidth, cfg->trackHeight,
         cfg->centreX, cfg->centreY, cfg->seamFraction[0], cfg->seamFraction[1], cfg->seamFraction[2],
         cfg->seamFraction[3]);
  memcpy(&g.config, cfg, sizeof(Config));
  CopyTracking(&g.lensTableSlot[0], g.config);
}

void GlobalVariables_SetExtraConfig(ExtraConfig* cfg) {
  GlobalVariables& g = gGlobalVariables;
  const ExtraConfig& cur = g.extraConfig;
  AvmLog("SetExtraConfig %d %d \n", cfg->frontBlendWidth, cfg->rearBlendWidth);
  if (cfg->frontBlendWidth < 1) cfg->frontBlendWidth = cur.frontBlendWidth;
  if (cfg->rearBlendWidth < 1) cfg->rearBlendWidth = cur.rearBlendWidth;
  if (cfg->nearMark < 1) cfg->nearMark = cur.nearMark;
  if (cfg->derivedSizePercent < 1 || cfg->derivedSizePercent > 99) cfg->derivedSizePercent = cur.derivedSizePercent;
  if (cfg->traceOffset < -999 || cfg->traceOffset > 2999) cfg->traceOffset = cur.traceOffset;
  memcpy(&g.extraConfig, cfg, sizeof(ExtraConfig));
}

void GlobalVariables_SetAdvCameraConfig(const AdvCameraConfig* cfg) {
  GlobalVariables& g = gGlobalVariables;
  AvmLog("SetAdvCameraConfig %x %d %d %d %f %f \n", cfg->cameraBits, cfg->trackCount, cfg->trackWidth,
         cfg->trackHeight, cfg->centreX, cfg->centreY);
  memcpy(&g.advCameraConfig, cfg, sizeof(AdvCameraConfig));
  ApplyCameraBits(g);
  CopyTracking(&g.lensTableSlot[1], g.advCameraConfig);
}

void LoadTableUser(int force) {
  GlobalVariables& g = gGlobalVariables;
  if (g.userTable1 != nullptr && force == 0) return;
  char path[kDataDirectorySize + 64];
  if (!DataFilePath(path, sizeof path, "tableuser.krv")) return;
  LensTableSlot fresh;
  if (LensTable_LoadFile(&fresh, path) != 1) return;
  free(g.userTable1);
  free(g.userTable2);
  g.userTable1 = fresh.angleTable;
  g.userTable1Count = fresh.angleCount;
  g.userTable2 = fresh.heightTable;
  g.userTable2Count = fresh.heightCount;
  g.userTableValue = fresh.unitSize;
}

bool IsLayoutCode_1_2_24(int32_t code) { return code == 1 || code == 2 || code == 24; }

bool IsLayoutCode_29_52(int32_t code) { return code == 29 || code == 52; }

bool GlobalVariables_IsRangeAbove7500() { return static_cast<float>(gGlobalVariables.f0) > 7500.0f; }

LensTableSlot* GlobalVariables_ApplyConfigTracking() {
  GlobalVariables& g = gGlobalVariables;
  CopyTracking(&g.lensTableSlot[0], g.config);
  return &g.lensTableSlot[0];
}

void GlobalVariables_ApplyAdvCameraConfig() {
  GlobalVariables& g = gGlobalVariables;
  ApplyCameraBits(g);
  CopyTracking(&g.lensTableSlot[1], g.advCameraConfig);
}
