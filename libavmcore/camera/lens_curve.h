#pragma once
#include <cstdint>

struct LensTableSlot;

// Builds a slot's lens tables from two text files instead of a lens-table
// file: a curve of image heights (one per line, line i at (i + 1) * 0.1
// degrees, at most 1500 lines) and a descriptor (kind, sensorA, sensorB).
// The height table gets 40 entries per curve line, the angle table 15000
// (one per 0.001 of height). Returns 1 when loaded; 0 when a file cannot be
// opened or its contents cannot make valid tables (too few lines, a height
// outside 0 .. 15, a sensor value below 2) - the slot is then untouched.
int32_t LensCurve_LoadText(LensTableSlot* slot, const char* curvePath, const char* descriptorPath);

// Frees both tables of the slot and clears the pointers.
void LensCurve_Free(LensTableSlot* slot);

constexpr int32_t kLensCurveMaxLines = 1500;
constexpr int32_t kLensCurveAngleCount = 15000;
