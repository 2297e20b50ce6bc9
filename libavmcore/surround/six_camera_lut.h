#pragma once
// The six-camera bird's-eye LUT: two four-camera groups, each its own LUT
// object and files. Group A (front part) is built without camera 2 and its
// side cameras take the second lens-table slot pair; group B (rear part)
// has camera 2 and the third slot pair. They meet at a split line across
// the vehicle, splitLength mm behind the car's front (0: the car's middle).
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;
struct LutConfig;
struct MixAreaInfo;
struct MixAreaSixEx;

// Builders of both groups. pairA and pairB each pack two 16-bit values and
// are handed whole to each group's build as front overhang and wheel base.
// When all four output paths are given, both groups' byte LUTs and
// configurations, lut_dyncalpha.krv, lut_mixareainfo.krv and
// lut_mixareainfo_sixex.krv are written; group A's files reach their names
// only after group B succeeded. 0, or the failing step's code (1 for a
// missing image, -1 for a file that did not land). cameraMask and
// groupNumber of the configuration are restored in every case.
int32_t LUTSix_InitMergerLUTOBByFile(LUTOB* lutA, LUTOB* lutB, int32_t carWidth, int32_t carLength,
                                     int32_t splitLength, int32_t pairA, int32_t pairB, int32_t model,
                                     const char* imagePath1, const char* imagePath2, int32_t* cameraSize,
                                     float* cornersA1, float* cornersA2, float* cornersB1, float* cornersB2,
                                     const char* byteLutPathA, const char* byteLutPathB, const char* configPathA,
                                     const char* configPathB, float* splitPoint);
int32_t LUTSix_InitMergerLUTOBByHand(LUTOB* lutA, LUTOB* lutB, int32_t carWidth, int32_t carLength,
                                     int32_t splitLength, int32_t pairA, int32_t pairB, int32_t model,
                                     int32_t cameraWidth, int32_t cameraHeight, const float* pointsA1,
                                     const float* pointsA2, const float* pointsB1, const float* pointsB2,
                                     const char* byteLutPathA, const char* byteLutPathB, const char* configPathA,
                                     const char* configPathB, float* splitPoint);

// Overhang and wheel base of a group for a split (only when splitLength > 0
// and the high half of pairA > 0).
void LUTSix_SetSplit(LUTOB* lut, int32_t group, int32_t splitLength, int32_t pairA, int32_t pairB);
// Output row of the split line: the car's top row plus splitLength in
// output pixels.
float LUTSix_SplitRow(const LutConfig* cfg);

// Save chains. 0; -1 when the byte LUT or configuration did not land.
// splitPoint (2 floats) may be null.
int32_t LUTSix_SaveGroupA(LUTOB* lutA, const char* byteLutPath, const char* configPath, MixAreaInfo* info,
                          MixAreaSixEx* sixEx, float* splitPoint);
// mixAreaPath / sixExPath null: both in the data directory.
int32_t LUTSix_SaveGroupB(LUTOB* lutB, const char* byteLutPath, const char* configPath, const MixAreaInfo* groupAInfo,
                          MixAreaSixEx* sixEx, const Matrix* testMap, const char* mixAreaPath,
                          const char* sixExPath);
// Both chains at once from two built objects (dynamic alpha from group B
// with group A's Y1 as its test map). 0, or -1 when a file did not land.
int32_t LUTSix_SaveBothGroups(LUTOB* lutA, LUTOB* lutB, const char* byteLutPathA, const char* byteLutPathB,
                              const char* configPathA, const char* configPathB, float* splitPoint,
                              const char* mixAreaPath, const char* sixExPath);
// The MAB6 file of both groups, each group's MAB file and configuration
// (each only when its path is given), then lut_mixareainfo.krv. 0, or -1.
int32_t LUTSix_SaveRunTables(LUTOB* lutA, LUTOB* lutB, const char* mab6Path, const char* mabPathA,
                             const char* mabPathB, const char* configPathA, const char* configPathB);
