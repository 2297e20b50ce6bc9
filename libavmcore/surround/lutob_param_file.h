#pragma once
// LUT objects set up from fixed camera parameters instead of calibration
// images: set-up A (a built-in parameter set) and set-up B (car sizes from
// "cc_config/param.txt" and one record per camera from
// "cc_config/<n>.json" in the data directory). Both leave the corner counts
// at 1, so that the merger LUT build keeps the given poses.
#include <cstdint>

struct LUTOB;

// Record entries of one camera in set-up B (see LUTOB_ReadCameraRecord).
constexpr int32_t kParamRecordFloats = 27;

int32_t InitLUTOB_ParamFileA(LUTOB* lut);
// 0; 2 when a camera record file is missing or malformed (message printed).
int32_t InitLUTOB_ParamFileCC(LUTOB* lut);
// out = -rotvec(Rz(s0) Ry(-s2) Rx(pi/2 - s1) Rz(s3)).
void CamPose_AnglesToRotVec(float s0, float s1, float s2, float s3, float out[3]);

// Car sizes of set-up B: width, length, wheel base, front overhang as far as
// the file supplies them (first 64 bytes, "%d,%d,%d,%d"); the defaults 1950,
// 5240, 3040, 1180 otherwise.
void ParamFile_ReadCarSizes(const char* path, int32_t sizes[4]);
// One camera record file: a JSON object with the camera picture's "width"
// and "height" and "params", an array of the 27 record values. 1 read; 0
// when missing or malformed.
int ParamFile_ReadCameraRecord(const char* path, float record[kParamRecordFloats], int32_t* width,
                               int32_t* height);
