#pragma once
// Run-table (MAB, MAB6) and dynamic-alpha files written from LUT objects.
// Each returns 0 when the file landed, 1 otherwise (message printed).
#include "surround/mab_file.h"
#include "frame/matrix_types.h"

struct LUTOB;

// The object's maps, camera size and band sizes.
StitchMaps StitchMaps_OfLUTOB(const LUTOB* lut);

int GenerateMABFile(const LUTOB* lut, const char* path);
// Group A (front part) and group B (rear part) of the six-camera set-up.
int GenerateMAB6File(const LUTOB* lutA, const LUTOB* lutB, const char* path);
// lut_dyncalpha.krv; testMap (or null for the object's Y1) decides the camera
// side of corner pixels in the upper half.
int SaveDynAlphaFile(const LUTOB* lut, const char* path, const Matrix* testMap);
int GenerateDynAlphaMABFiles(const LUTOB* lut, const char* pathA, const char* pathB);
