#pragma once
// CPU stitching of four camera images into the bird's-eye picture. Load time
// turns a stitching LUT into per-pixel source offsets, 16-bit blend cells and
// per-row run lists; the frame step walks only the runs, in integers.
//
// Camera images and the output are semi-planar YUV 4:2:0. A camera image is
// cw x ch luma bytes followed by ch / 2 rows of cw / 2 two-byte chroma pairs.
#include <cstdint>
#include <vector>

#include "surround/mab_file.h"

struct MergerCPUOB {
  int32_t loaded = 0;
  int32_t outWidth = 0, outHeight = 0;
  int32_t camWidth = 0, camHeight = 0;
  int32_t userValue1 = 0, userValue2 = 0;
  int32_t bandSizes[4] = {0, 0, 0, 0};  // top rows, bottom rows, left columns, right columns
  // Per output pixel: offsets of the end-camera (1, 2) and side-camera (3, 4)
  // source in that camera's luma plane and, in chroma pairs, chroma plane.
  std::vector<int32_t> endLumaIndex, endChromaIndex, sideLumaIndex, sideChromaIndex;
  // Low byte: gain-ramp position 0..255; high byte: end-camera weight 0..31.
  std::vector<uint16_t> blendMap;
  std::vector<CPUStitchRun> singleRuns[4];  // cameras 1..4, rows ascending
  std::vector<CPUStitchRun> blendRuns[4];   // pairs 1..4 (front-left, front-right, back-left, back-right)
};

// Load from a KRVImage byte LUT and its LUT configuration. 1 loaded (or
// already loaded); 0 on failure (message printed, object unchanged). W and H
// go to outWidth / outHeight (either may be null). The camera size must be
// even, at least 4, and half the configuration's quad size.
int LUTCPU_InitFromFile(MergerCPUOB* obj, const char* krvImagePath, const char* lutConfigPath, int32_t userValue1,
                        int32_t cameraWidth, int32_t cameraHeight, int32_t userValue2, int32_t* outWidth,
                        int32_t* outHeight);

// The decoding step of the KRVImage load: planes[0..3] are the byte planes
// P0..P3 of W x 2H; the quad frame is qw x qh. carBox: carLeft, carTop,
// carRight, carBottom. Returns 1, or 0 (object unchanged) for unusable sizes.
int LUTCPU_InitFromBytePlanes(MergerCPUOB* obj, const uint8_t* const planes[4], int32_t W, int32_t H, int32_t qw,
                              int32_t qh, int32_t cameraWidth, int32_t cameraHeight, const int32_t carBox[4],
                              int32_t userValue1, int32_t userValue2);

// Load from a MAB file (runs and blend cells as stored, every run checked
// against the output) and one grid-LUT file per camera (any may be null) for
// the source offsets. Sources outside the camera image are clamped to it and
// grid cells outside the output are ignored; pixels no grid covers read the
// camera's first pixel.
int LUTCPU_InitFromFile_YW(MergerCPUOB* obj, const char* lutConfigPath, const char* mabPath,
                           const char* frontGridPath, const char* backGridPath, const char* leftGridPath,
                           const char* rightGridPath, int32_t userValue1, int32_t cameraWidth,
                           int32_t cameraHeight, int32_t userValue2, int32_t* outWidth, int32_t* outHeight);

// Output planes and their row pitches in bytes.
struct CPUMergerOutput {
  uint8_t* luma;
  uint8_t* chroma;
};

// Stitches one frame: images[0..3] = front, back, left, right (luma start);
// gains = 24 floats (two RGB triples per camera); region 1..5 selects part
// of the picture, any other value all of it. 1 done; 0 when not loaded
// (nothing written).
int LUTCPU_Exec(const MergerCPUOB* obj, const uint8_t* const images[4], const CPUMergerOutput* output,
                const int32_t pitches[2], const float gains[24], int32_t region);

// The same for the runs of output rows rowBegin .. rowEnd - 1 only, so that
// disjoint row bands can be stitched on several threads at once.
int LUTCPU_ExecRows(const MergerCPUOB* obj, const uint8_t* const images[4], const CPUMergerOutput* output,
                    const int32_t pitches[2], const float gains[24], int32_t region, int32_t rowBegin,
                    int32_t rowEnd);

// Gain ramp of camera k (1..4): R(i) = i * G(2k - 1) + (255 - i) * G(2k).
void LUTCPU_BuildRamp(const float gains[24], int32_t camera, int32_t ramp[256]);

// Frees the tables of a loaded object and clears `loaded`.
void LUTCPU_Release(MergerCPUOB* obj);
