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
  // The chroma indices the stitch reads (even rows, even columns), packed:
  // entry (r / 2) * ((W + 1) / 2) + c / 2; made by the loaders. Left empty,
  // the stitch reads the full tables.
  std::vector<int32_t> endPairIndex, sidePairIndex;
};

// Load from a KRVImage byte LUT and its LUT configuration. 1 loaded (or
// already loaded); 0 on failure (message printed, object unchanged). W and H
// go to outWidth / outHeight (either may be null). The camera size must be
// even, at least 4, and half the configuration's quad size.
int LUTCPU_InitFromFile(MergerCPUOB* obj, const char* krvImagePath, const char* lutConfigPath, int32_t userValue1,
                        int32_t cameraWidth, int32_t cameraHeight, int32_t userValue2, int32_t* outWidth,
                        int32_t* outHeight);

// The shape of a KRVImage byte LUT: output W x H (byte planes W x 2H), the
// quad frame qw x qh and the car box (carLeft, carTop, carRight, carBottom).
struct ByteLutGeometry {
  int32_t W, H;
  int32_t qw, qh;
  int32_t carBox[4];
};

// The decoding step of the KRVImage load: planes[0..3] are the byte planes
// P0..P3 of the geometry's W x 2H. Returns 1, or 0 (object unchanged) for
// unusable sizes.
int LUTCPU_InitFromBytePlanes(MergerCPUOB* obj, const uint8_t* const planes[4], const ByteLutGeometry& geometry,
                              int32_t cameraWidth, int32_t cameraHeight, int32_t userValue1, int32_t userValue2);

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

// Shared steps of the stitching forms.
// Quad-frame point to camera 1..4 and its rounded pixel; false when that
// pixel lies on or beyond the outermost row or column of the camera image.
bool LUTCPU_MapSource(float x, float y, int32_t cw, int32_t ch, int32_t* camera, int32_t* px, int32_t* py);
// Output rows rowBegin..rowEnd-1 and columns colBegin..colEnd-1.
struct CPUStitchRange {
  int32_t rowBegin, rowEnd, colBegin, colEnd;
};
// The lists a region uses and each camera's output range (bandSizes: top,
// bottom, left, right).
void LUTCPU_SelectRegion(int32_t region, int32_t W, int32_t H, const int32_t bandSizes[4],
                         CPUStitchRange ranges[4], bool useSingle[4], bool useBlend[4]);
// Reads and checks the LUT configuration (quad size twice the camera size)
// and the KRVImage, with the messages of LUTCPU_InitFromFile: the byte
// planes (W x 2H each) and their geometry. 1, or 0 with nothing kept.
int LUTCPU_LoadByteLut(const char* krvImagePath, const char* lutConfigPath, int32_t cameraWidth,
                       int32_t cameraHeight, std::vector<uint8_t> planes[4], ByteLutGeometry* geometry);

// ---- Other forms of the same stitching (available operations) ----

// Per-pixel form: one descriptor per output pixel instead of runs. Byte 0:
// camera mask (bit k - 1 for each contributing camera k, 0 invalid); byte 1:
// gain-ramp position; byte 2: end-camera weight in 31ths.
struct MergerCPUOBPerPixel {
  int32_t loaded = 0;
  int32_t outWidth = 0, outHeight = 0;
  int32_t camWidth = 0, camHeight = 0;
  int32_t userValue1 = 0, userValue2 = 0;
  std::vector<int32_t> endLumaIndex, endChromaIndex, sideLumaIndex, sideChromaIndex;
  std::vector<uint32_t> descriptor;
};
// Same arguments, checks and messages as LUTCPU_InitFromFile.
int LUTCPU_InitPerPixel(MergerCPUOBPerPixel* obj, const char* krvImagePath, const char* lutConfigPath,
                        int32_t userValue1, int32_t cameraWidth, int32_t cameraHeight, int32_t userValue2,
                        int32_t* outWidth, int32_t* outHeight);
// Every output pixel by its mask: single cameras, the four end/side pairs;
// any other mask (and an invalid pixel when fill is set) gets luma 16 and
// chroma 0x80, 0x80. The region does not apply to this form. 1; 0 when not
// loaded.
int LUTCPU_ExecPerPixel(const MergerCPUOBPerPixel* obj, const uint8_t* const images[4], const CPUMergerOutput* output,
                        const int32_t pitches[2], const float gains[24], int32_t region, int32_t fill);
void LUTCPU_ReleasePerPixel(MergerCPUOBPerPixel* obj);

// Pre-warped form: the runs and blend cells of a MAB file; each camera
// supplies a picture that already shows its area of the output.
struct MergerCPUOBWarped {
  int32_t loaded = 0;
  int32_t outWidth = 0, outHeight = 0;
  int32_t userValue = 0;
  int32_t bandSizes[4] = {0, 0, 0, 0};
  std::vector<uint16_t> blendMap;
  std::vector<CPUStitchRun> singleRuns[4];
  std::vector<CPUStitchRun> blendRuns[4];
};
// 1 loaded (or already loaded); 0 when the configuration or the MAB file
// cannot be read, or a run leaves its camera's area of the output.
int LUTCPU_InitFromMAB(MergerCPUOBWarped* obj, const char* lutConfigPath, const char* mabPath, int32_t userValue,
                       int32_t* outWidth, int32_t* outHeight);
// cameras[k] = {luma, chroma} of camera k + 1's area picture, cameraPitches[k]
// = {luma pitch, chroma pitch}; picture pixel (r - originRow, c - originCol)
// serves output pixel (r, c) (origins: front and left (0, 0), back
// (H - bottom, 0), right (0, W - right)).
int LUTCPU_ExecWarped(const MergerCPUOBWarped* obj, const uint8_t* const cameras[4][2],
                      const int32_t cameraPitches[4][2], const CPUMergerOutput* output, const int32_t pitches[2],
                      const float gains[24], int32_t region);
void LUTCPU_ReleaseWarped(MergerCPUOBWarped* obj);
