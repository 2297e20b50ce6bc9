#pragma once
// Writers of the KRVImage byte LUT from a LUT object.
#include <cstdint>

struct LUTOB;

// Packs the object's maps into a KRVImage file (when krvPath is not empty)
// with the car body as box, then writes its lut_config file (when cfgPath is
// not empty). 0, or -1 when a file did not land.
int32_t LUT_GenerateByteLUTFile(LUTOB* lut, const char* krvPath, const char* cfgPath);
// The same for the maps of a ground grid (LUT_BuildGroundGrid); box receives
// carLeft, carTop, carRight, carBottom of the grid. 0, or -1 when the file
// did not land or the grid is empty.
int32_t LUT_GenerateNewByteLUTFile(LUTOB* lut, const char* path, int32_t width, int32_t height, int32_t margin,
                                   int32_t yOffset, int32_t box[4]);
