#pragma once
// Colour correction between cameras. Each frame the colour of both cameras
// is measured in the four overlaps of the stitched view (front-left,
// front-right, rear-left, rear-right), stretches that cannot be trusted are
// excluded, and per-channel gains that pull the two cameras of an overlap
// towards each other are tracked at a limited rate. Everything is tracked in
// the natural-log domain; a gain is powf(2.71828, x).
#include <cstdint>

#include "surround/mix_area_info.h"
#include "surround/score_grid_info.h"

constexpr int kColorCorrectValueCount = 132;  // 22 entries of two RGB triples
constexpr int kColorSegments = 8;
constexpr int kColorRegions = 4;

// Per region: per channel the first-end value, the second-end value and the
// 8 segment values; sticky exclusion flags and the colourful flag.
struct ColorRegionTrack {
  float target[3][2 + kColorSegments];
  float current[3][2 + kColorSegments];
  uint8_t channelExcluded[kColorSegments];
  uint8_t brightnessExcluded[kColorSegments];
  int32_t colourful;
};

struct ColorCorrectState {
  int32_t immediate;  // every tracked value takes its target at once
  float holdSpeed;    // above it the fast step applies
  float speed;
  int32_t mode[2];
  int32_t regionMode;  // 0 all regions; 1 regions 3, 4 neutral; 2 regions 1, 2 neutral
  ColorRegionTrack regions[kColorRegions];
  // Exponentials of the current values: [0..23] the end gains in the layout
  // of entries 0..3 of the record, then per region 8 segment triples.
  float gainBlock[24 + kColorRegions * kColorSegments * 3];
  float lumaScore;
};

// Fresh state: values 0, gains 1.0, hold speed 15.0.
void ColorCorrect_InitState(ColorCorrectState* state, int32_t immediate);
// All 132 floats 1.0.
void ColorCorrect_ResetRecord(float values[kColorCorrectValueCount]);

// Statistics of the eight map pairs of a frame: stats[k] = 3 x 8 means of
// ln(value + 1), pairs in table order (0/1, 2/3 ... 14/15). frame is the
// descriptor of code (2 Rgb24Image, 3/6 YuvSemiPlanarFrame, 4/7 PackedFrame).
void ColorCorrect_PairStats(int32_t code, const void* frame, const MixAreaInfo* mix, float stats[8][24]);
// The same with a frame of its own per pair (the six-camera view reads the
// rear side cameras from a second frame).
void ColorCorrect_PairStatsEach(const int32_t codes[8], const void* const frames[8], const MixAreaInfo* mix,
                                float stats[8][24]);
// Region update from pair statistics: masks of all regions, then targets,
// tracking and gains region by region.
void ColorCorrect_RegionStats(ColorCorrectState* state, const float stats[8][24]);
// The per-frame step: nothing when the mix-area quad size differs from the
// frame's; otherwise statistics, region update and (with a valid score
// grid) the brightness score.
void ColorCorrect_UpdateFrame(ColorCorrectState* state, int32_t code, const void* frame, const MixAreaInfo* mix,
                              const ScoreGridInfo* score);
// Stores the mode and speed; a positive speed restores the hold speed 15.0.
void ColorCorrect_SetHold(ColorCorrectState* state, int32_t mode, float speed);
// The RGB form and the grey form of the record.
void ColorCorrect_ApplyValues(const ColorCorrectState* state, float values[kColorCorrectValueCount]);
void ColorCorrect_ComputeLuma(const ColorCorrectState* state, float values[kColorCorrectValueCount]);
// Frees the score grid's tables (valid 0, flag 1).
void ColorCorrect_Release(ScoreGridInfo* score);

// One-shot computation on a stored picture (immediate tracking): the BMP at
// imagePath against the mix-area file. (mode & ~2) == 1 writes the RGB form,
// otherwise the grey form. 0 done (all 1.0 when the sizes differ); -1 when
// the picture or the mix-area file cannot be read (out all 1.0).
int ColorCorrect_Vell(int32_t mode, const char* imagePath, const char* mixAreaPath,
                      float out[kColorCorrectValueCount]);
