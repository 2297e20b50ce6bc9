#pragma once
// Brightness balance between the extra cameras of the six-camera view and
// their neighbours: the mean log colour of the mix-area pairs beside the
// car's middle (pairs 1 and 3 in the first frame, 2 and 4 in the second)
// moves two half-differences per channel towards each other, a bounded step
// a frame; the gains are exp of them, each side moving half-way.
#include <cstdint>

struct MixAreaSixEx;

struct BrightBalanceState {
  int32_t enabled;     // set by the first fetch of the gains
  int32_t immediate;   // step 100 instead of 0.032
  float current[6];    // pair 1/2 balance R, G, B, then pair 3/4
  float target[6];
};

constexpr float kBrightBalanceStep = 0.032f;
constexpr float kBrightBalanceImmediateStep = 100.0f;

// Moves the current values towards (a - b) / 2 and (c - d) / 2 per channel.
void BrightBalance_Track(BrightBalanceState* state, const float a[3], const float b[3], const float c[3],
                         const float d[3]);
// One frame pair (format codes and descriptors of the frame statistics;
// frame 2 has the quad width and half its height). Only when enabled and
// the record's quad size equals frame 1's size.
void BrightBalance_Update(BrightBalanceState* state, int32_t code1, const void* frame1, int32_t code2,
                          const void* frame2, const MixAreaSixEx* sixEx);
// The same from camera frames of one size: left-front, left-rear,
// right-front, right-rear (pairs 1 to 4), one code. The record is first
// turned into camera coordinates in place; its quad size must be twice the
// camera size. steps (may be null) receives the two step sizes, per frame
// and immediate.
void BrightBalance_UpdateEx(BrightBalanceState* state, int32_t code, const void* const cameras[4],
                            MixAreaSixEx* sixEx, float steps[2]);
// values: twelve floats, four RGB gain triples (pair 1, 2, 3, 4 sides).
// rgb 0: each triple replaced by its luma weight sum.
void BrightBalance_Gains(const BrightBalanceState* state, int32_t rgb, float values[12]);
