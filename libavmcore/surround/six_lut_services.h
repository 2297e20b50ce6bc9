#pragma once
// What the six-camera save chains use of the driver-assistance tables
// (defined in the pipeline layer).
#include <cstdint>

struct LUTOB;

// Generates the driver-assistance tables of the object with generateMask,
// writes the files of saveMask into the data directory and frees the tables.
// 1 written; 0 otherwise.
int32_t LUTSix_WriteAdasTables(LUTOB* lut, int32_t generateMask, int32_t saveMask);
