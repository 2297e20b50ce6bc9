#pragma once
// CPU stitching of the six-camera view from six pre-warped camera pictures
// and a MAB6 run-table file. Cameras 1..6: front, back, left-front,
// right-front, left-rear, right-rear; the view is two four-camera groups
// sharing the front and back cameras (group 1 with the front side cameras,
// group 2 with the rear ones).
//
// Each camera picture shows its camera's area of the output, origin at
// (0, 0) except back (H - bottom band A, 0), right-front (0, W - right band
// A) and right-rear (0, W - right band B); it is semi-planar 4:2:0 with a
// luma pitch and a chroma pitch in bytes, and must cover every output pixel
// of its camera's runs.
#include <cstdint>
#include <vector>

#include "surround/cpu_merger.h"
#include "surround/mab_file.h"

struct MergerCPUOB6 {
  int32_t loaded = 0;
  int32_t outWidth = 0, outHeight = 0;
  int32_t userValue = 0;
  int32_t bandSizesA[4] = {0, 0, 0, 0};  // top, bottom, left, right of group A's configuration
  int32_t bandSizesB[4] = {0, 0, 0, 0};
  // Low byte: gain-ramp position; high byte: first camera's weight in 31ths.
  std::vector<uint16_t> blendMap;
  std::vector<CPUStitchRun> singleRuns[6];  // cameras 1..6
  // Pairs 1..6: front/left-front, front/right-front, back/left-rear,
  // back/right-rear, left-front/left-rear, right-front/right-rear.
  std::vector<CPUStitchRun> blendRuns[6];
};

// 1 loaded (or already loaded); 0 when a configuration cannot be read
// (message), the MAB6 file is missing, of another magic or corrupt, or a run
// leaves its cameras' areas (message).
int LUTHI6CPU_InitFromFile(MergerCPUOB6* obj, const char* mab6Path, const char* lutConfigPathA,
                           const char* lutConfigPathB, int32_t userValue, int32_t* outWidth, int32_t* outHeight);
// cameras[k] = {luma, chroma} and cameraPitches[k] = {luma, chroma pitch}
// of camera k + 1; gains 24 floats (two RGB triples per camera of group
// order front, back, left, right); extraGains 12 floats or null (the
// middle-band gains X1..X4). 1 done; 0 when not loaded or an argument is
// missing.
int LUTHI6CPU_Exec(const MergerCPUOB6* obj, const uint8_t* const cameras[6][2], const int32_t cameraPitches[6][2],
                   const CPUMergerOutput* output, const int32_t pitches[2], const float gains[24],
                   const float* extraGains);
void LUTHI6CPU_Release(MergerCPUOB6* obj);

// The gain ramps of the six cameras (256 entries each) from the gains.
void LUTHI6CPU_BuildRamps(const float gains[24], const float* extraGains, int32_t ramps[6][256]);
// Origin (row, column) of camera k (0..5)'s picture in the output.
void LUTHI6CPU_CameraOrigin(const MergerCPUOB6* obj, int32_t camera, int32_t* row, int32_t* col);

// 4 for a MAB file, 6 for a MAB6 file, 0 for anything else or no file.
int32_t LUTFile_GetCameraCount(const char* path);
// Camera (0-based) of slot 0..3 of group 0 or 1.
int32_t CameraSlotTable(int32_t group, int32_t slot);

// Points per camera slot of the six-camera corner arrays.
constexpr int32_t kSixCornerSlot = 59;
// Copies the six-block calibration's target points into four arrays of
// 4 x 59 floats (y and x of group A, y and x of group B); the back camera's
// group-B points also replace its group-A points. fixedCount non-zero takes
// 8 points a slot.
void LUTSix_MergeHelper(float* yA, float* xA, float* yB, float* xB, int32_t fixedCount);
