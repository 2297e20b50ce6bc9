#pragma once
// Lane-departure warning on the LDWS ground grid (cells of C11 / C15 mm):
// a lane-paint map per frame, thinned to line points, searched for segments
// by two Hough passes; the segments are tracked, a lane pair is chosen and
// followed, and a departure over one line is decided. Result 0 none, 3 over
// the line at lower columns, 4 over the line at higher columns.
#include <atomic>
#include <cstdint>
#include <list>
#include <vector>

#include "pipeline/adas_config.h"
#include "toolkit/hough.h"
#include "toolkit/kalman_filter.h"

struct LDWSTrack {
  LDWSTrack();
  ~LDWSTrack();
  LDWSTrack(const LDWSTrack&) = delete;
  LDWSTrack& operator=(const LDWSTrack&) = delete;
  int32_t age = 1;
  int32_t topRow = 0, bottomRow = 0, latestTop = 0, pairingTop = 0;
  float column = 0;  // at the reference row
  float angle = 90;  // degrees, 90 along the vehicle
  float filtColumn = 0, filtRate = 0;
  int32_t ahead = 0;
  float prevAngle = 90;
  int32_t matched = 0;
  KalmanFilter filter{};
};

constexpr int32_t kLdwsMaxTracks = 16;

struct LDWSState {
  int32_t groundWidth = 0, groundLength = 0, columns = 0, rows = 0, refRow = 0, secondRow = 0, cell = 0;
  int32_t vehicleWidth = 0, widthCells = 0, leftBound = 0, rightBound = 0, innerLeft = 0, innerRight = 0;
  int32_t minLane = 0, maxLane = 0, width3a = 0, width3b = 0, nominal = 0, narrow = 0, wide = 0;
  std::list<LDWSTrack> tracks;
  LDWSTrack* current[kLdwsMaxTracks] = {};
  int32_t currentCount = 0;
  int32_t crossCount = 0;
  std::atomic<int32_t> laneTracked{0};
  LDWSTrack* left = nullptr;
  LDWSTrack* right = nullptr;
  int32_t missCount = 0;
  float laneWidth = 0, filteredWidth = 0;
  KalmanFilter widthFilter{};
  int32_t confirmCount = 0;
  LDWSTrack* lastLeft = nullptr;
  LDWSTrack* lastRight = nullptr;
  float lastGap = 0;
  std::atomic<int32_t> result{0};
  uint32_t resultTime = 0;
  std::atomic<int32_t> holdMs{300};
  int32_t inited = 0;
  // Per cell: the luma offset in the quad frame and the offset of its chroma
  // pair in the chroma plane, -1 where the table entry lies outside the frame.
  std::vector<int32_t> lumaOffset, chromaOffset;
  int32_t frameWidth = 0, frameHeight = 0;
};

// Geometry from the configuration words, tracks and results cleared, hold
// 300 ms, result time = now. Returns 1, or 0 when the configuration has no
// LDWS table.
int32_t LDWS_Init(LDWSState* state, const ADASConfig* config, int32_t parameter, uint32_t nowMs);
void LDWS_Release(LDWSState* state);
void LDWS_Reset(LDWSState* state);
void LDWS_ClearTracks(LDWSState* state);
void LDWS_SetMargin(LDWSState* state, int32_t parameter);
void LDWS_SetHoldTime(LDWSState* state, int32_t ms);
void LDWS_SetLaneWidth(LDWSState* state, float width);

// Input forms: fill one block (columns x rows floats) from a quad frame.
// Luma forms: NV12 (LumaB: NV21) planes, chroma after the luma plane.
void LDWS_InputLuma(const LDWSState* state, const uint8_t* frame, float* block);
void LDWS_InputLumaB(const LDWSState* state, const uint8_t* frame, float* block);
void LDWS_InputUYVY(const LDWSState* state, const uint8_t* frame, float* block);
void LDWS_InputYUYV(const LDWSState* state, const uint8_t* frame, float* block);
// Four per-camera luma planes (no chroma: the colour terms are 0).
void LDWS_InputPlanes(const LDWSState* state, const uint8_t* const* planes, float* block);

// Bar filter and run thinning of one block into thin (columns x rows);
// work holds at least (columns + 24) x rows x 4 floats.
void LDWS_ExtractLinePoints(const LDWSState* state, const float* block, float* thin, float* work);
// The two Hough passes over the thinned map: up to 16 segments.
void LDWS_FindSegments(Hough* hough, const float* thin, int32_t columns, int32_t rows, HoughSegment* segments,
                       int32_t* count);
// One decision step at time nowMs; the result is read from the state.
void LDWS_StepAt(LDWSState* state, HoughSegment* segments, int32_t count, uint32_t nowMs);
void LDWS_Step(LDWSState* state, HoughSegment* segments, int32_t count);
// The result rule: value 0 (no new warning), 3 or 4.
void LDWS_UpdateResult(LDWSState* state, int32_t value, uint32_t nowMs);
int32_t LDWS_CountCrossSegments(LDWSState* state, const HoughSegment* segments, int32_t count);
