#pragma once
// Blind-spot detection: five ground-plane zone images resampled from the
// quad frame, each searched for textured stretches (vehicles) along its
// length and tracked; the zone results make a left and a right result with
// hold times. The zone tracker also serves rear cross traffic.
//
// Positions along a zone are millimetres at the centre row of an 11-row
// window: near distance + cell x window position.
#include <atomic>
#include <cstdint>
#include <list>
#include <vector>

#include "pipeline/adas_config.h"
#include "toolkit/kalman_filter.h"

// The 24-byte settings block of a zone.
struct BSDSSettings {
  int32_t S1;  // leave limit
  int32_t S2;  // approaches of both ends when the other end is unconfirmed
  int32_t S3;  // approaches of one end alone
  int32_t S4;  // approaches once the other end is confirmed
  float approachRate;  // A, mm per frame
  float leaveRate;     // L, mm per frame
};

struct BSDSCandidate {
  int32_t first;   // near-end position (the larger)
  int32_t second;  // far-end position
  int32_t taken;
};

struct BSDSEnd {
  int32_t isNew = 1;
  KalmanFilter filter{};  // position and rate
  float position = 0, rate = 0;
  int32_t lastPosition = 0, startPosition = 0;
  int32_t confirmed = 0, approachCount = 0, leaveCount = 0;
};

struct BSDSTarget {
  BSDSTarget();
  ~BSDSTarget();
  BSDSTarget(const BSDSTarget&) = delete;
  BSDSTarget& operator=(const BSDSTarget&) = delete;
  BSDSEnd nearEnd, farEnd;
  int32_t matched = 1;
};

constexpr int32_t kBsdsMaxCandidates = 8;
constexpr int32_t kBsdsRingSlots = 3;

struct BSDSTracker {
  char name[8] = {0};
  int32_t kind = 0;  // 1 behind the vehicle, 2 cross zones
  int32_t writeSlot = 0, readSlot = 0;
  int32_t nearDistance = 0, farDistance = 0, cell = 0, width = 0, rows = 0;
  uint8_t* slots[kBsdsRingSlots] = {nullptr, nullptr, nullptr};  // width x rows bytes each
  std::vector<int32_t> rowSums;
  std::vector<int32_t> rowHist;  // 64 bins a row
  int32_t windowHist[64] = {0};
  std::vector<float> variation, mean;  // per window position
  int32_t candidateCount = 0;
  BSDSCandidate candidates[kBsdsMaxCandidates] = {};
  std::list<BSDSTarget> targets;
  int32_t result = 0;           // bit 0 when a tracked target counts
  int32_t position = -1000000;  // largest near end of the counting targets
  int32_t farLimit = 1000000;   // smallest far end of the counting targets
  BSDSSettings settings{};
  std::vector<uint8_t> slotStorage_;
};

// True when a zone of `rows` rows with `cell`-sized cells `offset` past the
// car keeps its near and far distances inside the tracker's range.
bool BSDS_ZoneDistancesFit(int32_t cell, int64_t offset, int32_t cols, int32_t rows);

// One zone: near distance 5 x cell + offset, far distance near + (rows - 11)
// x cell; the name is cut to 7 characters. Sizes below 1 give a zone without
// images that finds nothing. Releases an earlier set-up first.
void BSDS_InitTracker(BSDSTracker* zone, int32_t kind, int32_t width, int32_t rows, int32_t offset, int32_t cell,
                      const char* name, const BSDSSettings* settings);
void BSDS_ReleaseTracker(BSDSTracker* zone);
void BSDS_ClearTargets(std::list<BSDSTarget>* list);
// One zone step on the slot at readSlot: window measures, candidates and
// target tracking; leaves result, position and farLimit in the zone.
void BSDS_TrackTargets(int32_t night, BSDSTracker* zone);
// Target tracking over given candidates (the last part of the zone step).
void BSDS_UpdateTargets(BSDSTracker* zone, BSDSCandidate* candidates, int32_t count);

// Zones of the state, in order.
enum BsdsZone { kBsdsBR = 0, kBsdsBL = 1, kBsdsXR = 2, kBsdsXL = 3, kBsdsBC = 4, kBsdsZoneCount = 5 };

struct BSDSState {
  // Written by the feed (write) and the worker (read) only; published with
  // release, read with acquire.
  std::atomic<int32_t> writeIndex{0}, readIndex{0};
  BSDSTracker zones[kBsdsZoneCount];
  uint32_t leftDeadline = 0;
  std::atomic<int32_t> leftResult{0};
  uint32_t rightDeadline = 0;
  std::atomic<int32_t> rightResult{0};
  std::atomic<int32_t> extraHoldMs{600};
  uint32_t leftBit1Time = 0, leftBit0Time = 0, rightBit1Time = 0, rightBit0Time = 0;
  int32_t night = 0;
  float steering = 0;
  int32_t rearCameraAbsent = 0;
  std::atomic<int32_t> respRate{0};
  int32_t inited = 0;
  // Source positions checked against the frame at Init: one per table entry
  // per zone, -1 where the entry lies outside the frame.
  std::vector<int32_t> offsets_[kBsdsZoneCount];
  int32_t frameWidth_ = 0, frameHeight_ = 0;
};

// Sets up the five zones from the configuration (only when its base and BSDS
// are present); returns 1 when created.
int32_t BSDS_Init(BSDSState* state, const ADASConfig* config);
void BSDS_Release(BSDSState* state);
int32_t BSDS_HasFrame(const BSDSState* state);
int32_t BSDS_CanWrite(const BSDSState* state);
void BSDS_AdvanceRead(BSDSState* state);
void BSDS_AdvanceWrite(BSDSState* state);
// Input forms: the frame is the quad frame the tables address (width x
// height of the configuration). Entries outside it read as 0.
void BSDS_InputLuma(BSDSState* state, const uint8_t* luma);
void BSDS_InputLumaB(BSDSState* state, const uint8_t* luma);
void BSDS_InputUYVY(BSDSState* state, const uint8_t* frame);
void BSDS_InputYUYV(BSDSState* state, const uint8_t* frame);
// planes: four per-camera planes of half the frame size, in camera order; a
// table position picks its plane by the quadrant it addresses.
void BSDS_InputPlanes(BSDSState* state, const uint8_t* const* planes);
void BSDS_SetNight(BSDSState* state, int32_t night);
void BSDS_SetSteering(BSDSState* state, float angle);
void BSDS_SetRespRate(BSDSState* state, int32_t rate);
void BSDS_SetHold(BSDSState* state, int32_t ms);
void BSDS_Reset(BSDSState* state);
// One step over all zones at time nowMs: 0 no change, 1 left, 2 right, 3 both.
int32_t BSDS_StepAt(BSDSState* state, uint32_t nowMs);
int32_t BSDS_Step(BSDSState* state);
// Steps 5 and 6 of the step on given side values.
int32_t BSDS_Hold(BSDSState* state, int32_t left, int32_t right, uint32_t nowMs);
