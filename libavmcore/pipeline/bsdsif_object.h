#pragma once
// Blind-spot interface object: a self-contained blind-spot detector with its
// own worker and result callback. A trapezoid zone of the camera frame is
// sampled into a 32 x 280 grey strip; the step tracks textured stretches
// (vehicles) along the zone and the worker reports the held alert through
// the callback, gated by the vehicle speed.
//
// Threads: one worker; feeds from one other thread through a three-slot ring
// (at most two strips pending); commands, speed and gate from any thread.
#include <atomic>
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"
#include "toolkit/kalman_filter.h"
#include "toolkit/pointer_list.h"

constexpr int32_t kBsdsifCols = 32;
constexpr int32_t kBsdsifRows = 280;
constexpr int32_t kBsdsifStrip = kBsdsifCols * kBsdsifRows;
constexpr int32_t kBsdsifHistory = 30;
constexpr int32_t kBsdsifWindows = kBsdsifRows - 8;
constexpr int32_t kBsdsifMaxRuns = 8;

// value 0 clears the alert; a and b are the far and near end of the target
// that raised it, in zone units.
typedef void (*BSDSIFCallback)(uint32_t value, void* user, float a, float b);

// Speed gate: flagA (detection on) with hysteresis t1 < t2, flagB (report)
// with t4 < t3.
struct BSDSIFGate {
  std::atomic<int32_t> t1{0}, t2{0}, t3{0}, t4{0};
  std::atomic<uint32_t> flagA{0}, flagB{0};
};

struct BSDSIFRun {
  float far;   // arc length of the run's last window (towards row 279)
  float near;  // arc length of its first window
  uint32_t used;
};

struct BSDSIFTrackHalf {
  uint32_t needsInit;
  KalmanFilter filter;  // (position, velocity)
  float lastValue;
  float riseStart;
  uint32_t confirmed;
  int32_t riseCount;
  int32_t staleCount;
};

struct BSDSIFTarget {
  BSDSIFTrackHalf farHalf;
  BSDSIFTrackHalf nearHalf;
  uint32_t matched;
  uint32_t alarm;
};

struct BSDSIFObject {
  uint32_t inited = 0;
  std::atomic<uint32_t> enabled{0};
  std::atomic<uint32_t> secondSwitch{0};
  int32_t frameRowLength = 0;
  int32_t frameHeight = 0;
  float zoneLength = 0.0f;
  ImageI32 grid{};  // 32 x 280 packed source pixels; -1 outside the frame
  float arcLength[kBsdsifRows] = {};
  float arcAt271 = 0.0f, arcAt0 = 0.0f;
  std::atomic<int32_t> speed{0};
  BSDSIFCallback callback = nullptr;
  void* user = nullptr;
  std::atomic<uint32_t> threadState{0};  // 0 stopped, 1 running, 2 stop requested
  BSDSIFGate gate;
  std::atomic<uint32_t> changed{0};
  // The feed alone advances writeIndex, the worker alone readIndex.
  std::atomic<int32_t> writeIndex{0};
  std::atomic<int32_t> readIndex{0};
  uint8_t* slots[3] = {nullptr, nullptr, nullptr};
  uint8_t* history[kBsdsifHistory] = {};
  int32_t historyRef = 1, historyStore = 0;
  int32_t* rowSimilarSum = nullptr;
  int32_t* rowSimilarCount = nullptr;
  int32_t* rowBackground = nullptr;
  int32_t* rowBinSum = nullptr;
  uint32_t* rowHistogram = nullptr;  // 280 x 64
  uint32_t windowHistogram[64] = {};
  float* windowRatio = nullptr;
  int32_t runCount = 0;
  BSDSIFRun runs[kBsdsifMaxRuns] = {};
  List targets{};
  uint32_t stepResult = 0;
  float reportA = 0.0f, reportB = 0.0f;
  std::atomic<uint32_t> state{0};
  std::atomic<uint32_t> lastReported{0};
  uint32_t holdStartMs = 0;
  std::atomic<uint32_t> holdTimeMs{1000};
  uint32_t (*tickMs)() = nullptr;  // clock of the hold rule; tests set their own
  std::vector<int32_t> gridBuffer;
  std::vector<uint8_t> stripBuffer;  // 3 slots, then 30 history strips
  std::vector<int32_t> rowBuffer;
  std::vector<uint32_t> histogramBuffer;
  std::vector<float> ratioBuffer;
};

// Builds the grid over the zone corners (P00 first and P01 last column of
// row 0, P10 and P11 of row 279; x, y each) and the arc-length table, and
// allocates every buffer with clear history, background and target list.
// 1 on success; 0 (nothing kept) for a null object, a frame below 1 x 1, a
// zone length not above 0 or a zone with a row of no width.
uint32_t BSDSIF_Init(BSDSIFObject* obj, int32_t rowLength, int32_t height, BSDSIFCallback callback, void* user,
                     float zoneLength, const float P00[2], const float P01[2], const float P10[2],
                     const float P11[2]);
// Stops the worker and waits until it has left, then frees everything.
void BSDSIF_Release(BSDSIFObject* obj);
void BSDSIF_StartThread(BSDSIFObject* obj);
// Asks the worker to stop and waits until it has left.
void BSDSIF_StopThread(BSDSIFObject* obj);
void BSDSIF_Ctrl(BSDSIFObject* obj, int32_t command);
void BSDSIF_SetSpeedGate(BSDSIFObject* obj, int32_t v);
void BSDSIF_SetSpeed(BSDSIFObject* obj, int32_t speed);
void BSDSIF_SetHoldTime(BSDSIFObject* obj, uint32_t ms);
void BSDSIF_ClearState(BSDSIFObject* obj);
uint32_t BSDSIF_IsActive(const BSDSIFObject* obj);
uint32_t BSDSIF_GetResult(const BSDSIFObject* obj);
uint32_t BSDSIF_HasFrame(const BSDSIFObject* obj);
uint32_t BSDSIF_CanWrite(const BSDSIFObject* obj);
void BSDSIF_NextRead(BSDSIFObject* obj);
void BSDSIF_NextWrite(BSDSIFObject* obj);
// Feeds of one frame (frameRowLength x frameHeight): packed 2-byte pixels
// with luma in the second byte, an 8-bit plane, 3-byte pixels. Nothing
// happens when not inited or with two strips pending.
void BSDSIF_FeedPacked(BSDSIFObject* obj, const uint8_t* frame);
void BSDSIF_FeedLuma(BSDSIFObject* obj, const uint8_t* frame);
void BSDSIF_FeedBGR(BSDSIFObject* obj, const uint8_t* frame);
// Samples slot writeIndex through fetch(user, frameRowLength, y, x), without
// the ring checks or the advance.
void BSDSIF_FeedFetch(BSDSIFObject* obj, void* user, int32_t (*fetch)(void*, int32_t, int32_t, int32_t));
// 1 when flagA changed.
uint32_t BSDSIF_UpdateGate(BSDSIFGate* gate, int32_t speed);
// The hold rule with value as the step result.
void BSDSIF_UpdateHold(BSDSIFObject* obj, uint32_t value);
// The step on slot readIndex, then the hold rule (readIndex stays).
void BSDSIF_StepAndHold(BSDSIFObject* obj);

// Detection and tracking step on slot readIndex (readIndex stays).
void BSDSIF_Step(BSDSIFObject* obj);
void BSDSIF_AssociateTargets(BSDSIFObject* obj, List* targets, int32_t count, BSDSIFRun* runs);
uint32_t BSDSIF_UpdateTarget(BSDSIFObject* obj, BSDSIFTarget* target, BSDSIFRun* run);
void BSDSIF_ExtractRuns(int32_t n, const float* values, const float* positions, int32_t* count, BSDSIFRun* runs,
                        float high, float low);
float BSDSIF_TargetDistance(int32_t pass, const BSDSIFTarget* target, const BSDSIFRun* run);
uint32_t BSDSIF_UpdateHalf(BSDSIFTrackHalf* half, float value);
void BSDSIF_ConfirmHalf(const BSDSIFObject* obj, BSDSIFTrackHalf* half, const BSDSIFTrackHalf* other);
// Frees every target of the list and empties it.
void BSDSIF_FreeTargets(List* targets);
