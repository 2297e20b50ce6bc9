#pragma once
// Extra mix-area record of the six-camera view: eight small tables of
// quad-frame source points beside the car's middle, sampled from both
// camera groups, which the six-camera brightness balance compares.
// Tables (n columns x 24 rows each): 0/1 left group A x/y, 2/3 left group B
// x / y minus half the quad height, 4..7 the same on the right.
//
// File lut_mixareainfo_sixex.krv (little-endian): magic 0x55080101, quad
// width, quad height, columns n, rows 24, then the eight tables row by row.
#include <cstdint>

#include "frame/matrix_types.h"

struct LutConfig;

constexpr uint32_t kMixAreaSixExMagic = 0x55080101u;
constexpr int32_t kMixAreaSixExRows = 24;
// Columns beyond this in a file are a corrupt file (the rule gives at most 40).
constexpr int32_t kMixAreaSixExMaxColumns = 4096;

struct MixAreaSixEx {
  uint32_t valid;
  uint32_t quadCoords;  // 1 while the entries are quad-frame coordinates
  int32_t quadWidth, quadHeight;
  ImageI32 tables[8];  // width n, height 24; data null when not allocated
};

// An invalid record with no tables (quad-coordinates flag 1).
MixAreaSixEx MixAreaSixEx_Empty();
// Columns a group's car gives: min(carLeft, 50) - 10, at least 0.
int32_t MixAreaSixEx_Columns(const LutConfig* cfg);
// Samples one group's maps into its four tables (allocating all eight,
// sized by this group, when none exist). When the group yields fewer
// columns than the tables hold, the tables are cut to its count first (the
// columns nearest the car stay), so that both groups fit. Output positions
// outside the maps store 0. The record is not marked valid.
void MixAreaSixEx_AddGroup(MixAreaSixEx* sixEx, int32_t isGroupA, const LutConfig* cfg, int32_t quadWidth,
                           int32_t quadHeight);
// Both groups; marks the record valid. Nothing when already valid.
void MixAreaSixEx_Build(MixAreaSixEx* sixEx, const LutConfig* cfgA, const LutConfig* cfgB, int32_t quadWidth,
                        int32_t quadHeight);
// Nothing when not valid. 1 written, flushed and synced; 0 when the file
// cannot be created or written (an invalid record also gives 0).
int MixAreaSixEx_Save(const MixAreaSixEx* sixEx, const char* path);
// Nothing when already valid. A missing file, another magic, impossible
// sizes or tables cut short leave the record invalid with nothing kept.
void MixAreaSixEx_Load(MixAreaSixEx* sixEx, const char* path);
// Frees the tables (valid or not), clears valid and sets the flag to 1.
void MixAreaSixEx_Free(MixAreaSixEx* sixEx);
// Quad-frame to per-camera coordinates (valid and flagged records only).
void MixAreaSixEx_ToCameraCoords(MixAreaSixEx* sixEx);

// target = a copy of source (block from ImageI32_NewData, freed with
// ImageI32_FreeData); nothing without a column or with rows <= 0, or when
// out of memory.
void ImageI32_Clone(const ImageI32* source, ImageI32* target);
void ImageI32_SubtractAll(ImageI32* image, int32_t value);
