#pragma once
// Mix-area information: for each corner of the stitched view (front-left,
// front-right, rear-left, rear-right) a band 24 output pixels wide beside
// the car, one row per output row, holding both cameras' source points in
// the quad frame. Colour correction compares the two cameras on them.
#include <cstdint>

#include "frame/matrix_types.h"

struct LutConfig;

constexpr uint32_t kMixAreaInfoMagic = 0x08060808u;
constexpr int32_t kMixAreaBandColumns = 24;
// Header sizes beyond these are a corrupt file.
constexpr int32_t kMixAreaMaxColumns = 4096;
constexpr int32_t kMixAreaMaxRows = 16384;
// Quad-frame sizes and table entries (quad-frame coordinates) beyond these
// are a corrupt file too.
constexpr int32_t kMixAreaMaxQuadSide = 32768;
constexpr int32_t kMixAreaMaxEntry = 1 << 20;

// Table order of the record and the file:
//  0/1 front-left upper x/y, 2/3 front-right upper, 4/5 rear-left upper,
//  6/7 rear-right upper, 8/9 front-left other, 10/11 rear-left other,
//  12/13 front-right other, 14/15 rear-right other.
struct MixAreaInfo {
  uint32_t valid;
  uint32_t quadCoords;  // 1 while the entries are quad-frame coordinates
  int32_t quadWidth, quadHeight;
  ImageI32 tables[16];  // width = columns (24), height = rows
  float frontSeamAngle, rearSeamAngle;
  int32_t bandColumns;
  int32_t frontRows;
  int32_t rearRows;
  int32_t coverageMode;  // 1: second count 0; 2: first count 0; else 0
};

// An invalid record (valid 0, quad-coordinates flag 1).
MixAreaInfo MixAreaInfo_Empty();
// True for the tables of the front corners (0-3, 8, 9, 12, 13).
bool MixAreaInfo_IsFrontTable(int index);

// Builds from the maps of a LutConfig; nothing when info is valid or the
// config's extraParam is non-zero (the sector layout has no such corners).
void MixAreaInfo_Build(MixAreaInfo* info, const LutConfig* cfg, int32_t quadWidth, int32_t quadHeight,
                       int32_t countA, int32_t countB);
// Valid: the file, then fflush and fsync; invalid: an empty file. 1 when the
// file landed, 0 when it could not be created or written.
int MixAreaInfo_Save(const MixAreaInfo* info, const char* path);
// Nothing when info is valid. A missing file, another magic, impossible
// table sizes or tables cut short leave the record invalid (no allocation
// kept). Trailing fields the file lacks keep their defaults.
void MixAreaInfo_Load(MixAreaInfo* info, const char* path);
void MixAreaInfo_Release(MixAreaInfo* info);
// Front from groupA, rear and coverage mode from groupB; tables copied. A
// table that is empty in its source is empty (no buffer) in out.
void MixAreaInfo_Merge(MixAreaInfo* out, const MixAreaInfo* groupA, const MixAreaInfo* groupB);
void MixAreaInfo_ToCameraCoords(MixAreaInfo* info);
