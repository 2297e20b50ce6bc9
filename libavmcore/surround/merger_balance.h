#pragma once
// Merger brightness balance: the brightness of a stitched bird's-eye frame on
// a coarse 28 x 42 grid around the car, compared with the frame's previous
// overall mean, gives a per-cell gain table the display applies. A gain g
// is half the multiplier (0.5: unchanged).
#include <cstdint>

#include "frame/matrix_types.h"

constexpr int32_t kMergerBalanceCols = 28;
constexpr int32_t kMergerBalanceRows = 42;

struct MergerBalanceOB {
  int32_t counter;  // 0 new; 1 after Init; +1 per Calc
  int32_t cols, rows;
  float previousMean;  // mean cell brightness (0..1) of the last Calc
  float* gainTable;    // cols x rows, row-major
  float* savedGains;   // last accepted gains
  float* weightTable;  // border weights
  int32_t* countTable; // samples per cell
  int32_t width, height;
  int32_t x0, y0, w, h;  // car rectangle in the frame
  int32_t logFlag;       // non-zero: log the texture measure instead of discarding
};

// Zeroed object (tables null).
MergerBalanceOB MergerBalance_Empty();
// Sets up the tables for a width x height frame with the car at (x0, y0)
// of w x h. Nothing when already set up. 0; 1 for a size without a pixel.
int32_t KRV_InitMergerBalance(MergerBalanceOB* ob, int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t w,
                              int32_t h);
// One measurement of a stitched frame (format: 0, 2 four bytes a pixel,
// sampled byte 1; 4 one byte; other three bytes, byte 1). out: 28 x 42
// bytes or null. 0; 1 when the object is not set up or frame is null.
int32_t KRV_CalcMergerBalance(MergerBalanceOB* ob, int32_t format, const uint8_t* frame, uint8_t* out);
// Frees the tables and clears the counter. 0.
int32_t KRV_ReleaseMergerBalance(MergerBalanceOB* ob);

// Bilinear sample of the gain table at frame pixel (x, y).
float MergerBalance_SampleGain(const MergerBalanceOB* ob, float y, float x);
// width x height map (Matrix of that size) of each pixel's distance from the
// car rectangle grown by the margins, over radius, limited to 1.
void MergerBalance_DistanceWeights(int32_t width, int32_t height, int32_t x0, int32_t y0, int32_t w, int32_t h,
                                   int32_t marginTop, int32_t marginBottom, int32_t marginLeft, int32_t marginRight,
                                   float radius, Matrix* map);
