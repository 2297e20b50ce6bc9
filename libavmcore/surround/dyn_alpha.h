#pragma once
// Dynamic-alpha file lut_dyncalpha.krv: two alternative weight planes A and B
// of the stitched view for the display application (little-endian: magic
// 0x00666701, W, H, plane A then plane B, one byte per output pixel).
#include <cstdint>
#include <vector>

#include "surround/mab_file.h"
#include "frame/matrix_types.h"

constexpr uint32_t kDynAlphaMagic = 0x00666701u;

// What the planes are computed from. The maps' W1 and Y1 give the weights and
// the camera side of the corner pixels; groundTable (3 x (W * H)) the ground
// point of every output pixel; carWidth, carLength in mm; the angles (degrees)
// come from the configuration.
struct DynAlphaSource {
  StitchMaps maps;
  const Matrix* groundTable;
  int32_t carWidth, carLength;
};

// The two planes as bytes (W * H each). testMap (W x H, or null for Y1)
// decides the camera side of corner pixels in the upper half. False when the
// inputs are missing or of unequal sizes.
bool DynAlpha_ComputePlanes(const DynAlphaSource& src, const Matrix* testMap, std::vector<uint8_t>* planeA,
                            std::vector<uint8_t>* planeB);

// Computes and writes the file. 0 when written, flushed and synced; 1 when
// the inputs are unusable, the file cannot be created or a write fails
// (message printed).
int SaveDynAlphaFileFromMaps(const DynAlphaSource& src, const char* path, const Matrix* testMap);

// Writes two MAB files, the first with plane A in place of W1 at the corner
// pixels, the second with plane B. 0, or the first failure of the writers.
int GenerateDynAlphaMABFilesFromMaps(const DynAlphaSource& src, const char* pathA, const char* pathB);
