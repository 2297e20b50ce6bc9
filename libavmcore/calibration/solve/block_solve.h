#pragma once
// The steps of the block calibrations (layouts 29 and 52): per-block pose
// fits, the checks that judge a pair of found blocks, the camera-pair
// records, the depth adjustment, the global block corners and the final
// refits. Internal to calibration/solve; the entry points are in
// block_calib_run.h.
#include <cstdint>
#include <vector>

#include "calibration/solve/block_calib.h"
#include "frame/matrix_types.h"

constexpr float kBlockFitEpsilon = 1.1920929e-07f;  // 2^-23

// Fits block `slot` of `set` from four image points (row, column) against
// the block-frame square (side header.squareSize) with the camera-model fit
// into the block's own K, D, R, T. Returns the fit error.
float BlockFit_Square(const BlockHeader& header, BlockSet* set, int32_t slot, const float corners[8], int32_t mode,
                      int32_t freeCentre, int32_t cameraValue);
// Fit of `slot` from n (1..8) image points (row, column) against n world
// points (x, y, z).
float BlockFit_Points(const BlockHeader& header, BlockSet* set, int32_t slot, const float* world,
                      const float* image, int32_t n, int32_t mode, int32_t freeCentre, int32_t cameraValue);
// Same, fitting the slot's stored corners, and printing
// "T3~~~~~~~~ %d %f ..." with `label`.
float BlockFit_Refit(const BlockHeader& header, BlockSet* set, int32_t slot, int32_t label, int32_t cameraValue);

// The block-frame square: (-h, -h, 0), (h, -h, 0), (-h, h, 0), (h, h, 0).
void Block_Square(float squareSize, float out[12]);

// ---- Block checks ----
// Passes when (max - min) / max of the two depths is within limit.
bool CheckBlockHigh(float depthA, float depthB, float limit);
// M = Rodrigues(-rA) Rodrigues(rB); passes when its second and third angles
// are within limit; yaw (may be null) receives the first.
bool CheckBlockAngle(const float rA[3], const float rB[3], float* yaw, float limit);
// True when the centroids of the stored and the candidate corners lie
// within 10 pixels; false at once for schedule positions below 11 (even
// blocks) or 10 (odd blocks).
bool CheckCornerRepeat(const float stored[8], int32_t block, int32_t position, const float corners[8]);
// Compares one edge of a block seen by the front/back camera (A) with the
// same block seen by a side camera (B); may turn B's corners in place.
// 0 unchanged, 1 or 2 turned one way or the other.
int32_t CheckBlockCornerOrder(int32_t kind, const float a[8], float b[8], int32_t attempt);

// ---- Camera-pair records and global coordinates ----
void BlockPair_Compute(const float rA[3], const float tA[3], const float rB[3], const float tB[3], BlockPair* pair,
                       float squareSize);
void BlockPair_AddYaw(BlockPair* pair, const float tA[3], const float tB[3], float yawOffset, float squareSize);
// out_k = rotation (corners_k + tB) - tA for four points (x, y, z).
void BlockPair_TransformCorners(const float rotation[9], const float tA[3], const float tB[3],
                                const float corners[12], float out[12]);
// Evens the depths of the camera's two blocks and refits the second; joint 1
// skips the fresh fits. 1 passed, 0 a fit error above 15.4.
int32_t AdjustCalibResult(const BlockHeader& header, BlockSet* set, int32_t camera, int32_t cameraValue,
                          int32_t joint);
// Global block corners and vehicle extents; 0, or 17 for a vehicle narrower
// than 500 or shorter than 1000 (the corners are stored all the same).
int32_t CalcGlobalPhyCoord(BlockCalib4* obj);
int32_t CalcGlobalPhyCoord_Mode2(BlockCalib4* obj);
// Refits every camera against the global corners (mode 0 only).
int32_t BestCalibResult(BlockCalib4* obj);

int32_t CalcGlobalPhyCoord6(BlockCalib6* obj);
int32_t BestCalibResult6(BlockCalib6* obj);

// ---- Corner search (needs the marker-quad finder) ----
// Finds block `block` (0..11) in its search band from schedule position
// *position (0..15); 1 found (position: the step that found it), 0 not
// (position 16). imageKind 0: image is a float Matrix quad frame, else an
// ImageU8. Blocks 8..11 use the slots 4..7 of `set` and frame2's bands.
int32_t FindFourCorners(const BlockHeader& header, BlockSet* set, int32_t imageKind, const void* image,
                        int32_t block, int32_t* position, int32_t cameraValue, int32_t bandPass);

// Search band of one block, owning its pixels.
struct BlockBand {
  std::vector<float> data;
  Matrix image{0, 0, nullptr};
};
// Band cut of block 0..7 from a float (CutBlockRegion) or grey quad frame,
// and of blocks 8..11 from the rear frame (the two rear side cameras side by
// side), with its scales and its column offset inside the camera image: a
// band corner (r, c) lies at camera pixel (yScale r, offset + xScale c).
// False when the frame is too small for the band.
bool CutBlockRegion(const Matrix* image, int32_t block, int32_t percent, BlockBand* band, float* xScale,
                    float* yScale, int32_t* columnOffset);
bool CutBlockRegionGray(const ImageU8* image, int32_t block, int32_t percent, BlockBand* band, float* xScale,
                        float* yScale, int32_t* columnOffset);
// The side bands take the top `rows` rows (all when rows < 1).
bool CutSideBlockRegionGray(const ImageU8* image, int32_t block, int32_t percent, int32_t rows, BlockBand* band,
                            float* xScale, float* yScale, int32_t* columnOffset);
