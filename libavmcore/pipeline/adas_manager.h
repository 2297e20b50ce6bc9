#pragma once
// Driver-assistance manager: reads the driver-assistance configuration,
// creates each function it enables (LDWS, BSDS, MODS, DirtyDetect, RCTA,
// LVSA), takes frames from the decoder's analysis thread into each
// function's ring, runs one worker thread per created function, gates each
// function by vehicle speed and reports results through the process-wide
// event callback.
//
// Shared words are atomics: the feed, the parameter caller and the workers
// each write their own and poll the others' without locks.
#include <atomic>
#include <cstdint>
#include <vector>

#include "frame/block_ring.h"
#include "pipeline/adas_config.h"
#include "pipeline/adas_function_services.h"
#include "pipeline/bsds.h"
#include "pipeline/ldws.h"
#include "toolkit/hough.h"
#include "tvdecoder_api.h"

// Speed gate. Mode 1: works above a speed; any other mode: below one.
struct SpeedGate {
  std::atomic<int32_t> mode{0}, t1{-17}, t2{-12}, t3{0}, t4{0};
  std::atomic<int32_t> active{1};  // processes frames
  std::atomic<int32_t> report{0};  // sends events
};

// Updates the flags for speed (truncated toward zero); 1 when the active
// flag changed or the report flag went off (the worker then clears outputs).
int SpeedGate_Update(SpeedGate* gate, float speed);
// Writes all five values and clears the active flag.
void SpeedGate_Set(SpeedGate* gate, int32_t mode, int32_t t1, int32_t t2, int32_t t3, int32_t t4);

struct AdasFunctionControl {
  std::atomic<int32_t> created{0};
  std::atomic<int32_t> on{0};  // switch of the Ctrl operation
  SpeedGate gate;
  std::atomic<int32_t> changed{0};
};

// The manager's millisecond clock (tests inject one).
using AdasClock = uint32_t (*)();

struct ADASManager {
  ADASManager();
  ~ADASManager();
  ADASManager(const ADASManager&) = delete;
  ADASManager& operator=(const ADASManager&) = delete;

  std::atomic<int32_t> runState{0};  // 0 stopped, 1 running, 2 stop requested
  std::atomic<int32_t> workerCount{0};
  std::atomic<int32_t> inited{0};
  ADASConfig config{};
  std::atomic<float> speed{0.0f};
  std::atomic<float> steering{0.0f};
  std::atomic<int32_t> gear{-1};
  std::atomic<int32_t> frameStamp{0};
  std::atomic<int32_t> param23{0};

  // LDWS
  AdasFunctionControl ldwsCtl;
  LDWSState ldws;
  BlockRing ldwsRing{};
  std::vector<float> ldwsWork1, ldwsWork2;  // width x height x 4 and x 16 bytes
  Hough hough{};
  int32_t ldwsLastResult = 0, ldwsLaneFlag = 0;
  std::atomic<int32_t> ldwsParam{0};
  std::atomic<int32_t> ldwsMarginPending{0};  // the worker applies a new margin
  // BSDS
  AdasFunctionControl bsdsCtl;
  BSDSState bsds;
  int32_t bsdsLast[2] = {0, 0};
  std::atomic<int32_t> bsdsRespRate{0};
  std::atomic<int32_t> bsdsExtraHold{600};
  // MODS
  AdasFunctionControl modsCtl;
  MODObject* mods = nullptr;
  int32_t modsLast[4] = {0, 0, 0, 0};
  // DirtyDetect (no gate; its detector tells whether it was created)
  AdasFunctionControl dirtyCtl;
  DirtyDetectState* dirty = nullptr;
  uint32_t dirtyLast = 0, dirtyNoted = 0;
  // RCTA, LVSA
  AdasFunctionControl rctaCtl;
  RCTAInput* rcta = nullptr;
  int32_t rctaLast[2] = {0, 0};
  AdasFunctionControl lvsaCtl;
  LVSAInput* lvsa = nullptr;
  int32_t lvsaLast = 0;

  std::atomic<int32_t> frameCounter{0};
  std::atomic<int32_t> night{0};
  int32_t lastRawNight = 0, disagreeCount = 0, agreeCount = 0;

  AdasClock clock;
  int32_t idleSleepMs = 20;  // worker wait when no frame is pending
  int32_t stopPollMs = 30;   // the stop polls the worker count ...
  int32_t stopPolls = 50;    // ... at most this many times
};

// 1 on success or when already initialised; 0 when adas_base.krv is missing
// or invalid (nothing created).
int ADAS_Init(ADASManager* adas, const char* dataDirectory);
void ADAS_StartThreads(ADASManager* adas);
// Asks the workers to stop and waits for them a bounded time (stopPolls x
// stopPollMs). 1 when every worker has left; 0 when one is still running
// (an event callback that does not return): the function objects it uses
// must then stay allocated.
int ADAS_StopThreads(ADASManager* adas);
// Stops the workers and frees the functions; with a worker still running,
// the functions are left allocated (logged) and the manager stays
// initialised, so a later call can free them.
void ADAS_Release(ADASManager* adas);

// Frame feeds (decoder's analysis thread). frame is the quad frame of the
// configuration's size.
void ADAS_FeedFrame(ADASManager* adas, int32_t width, int32_t height, const uint8_t* frame, const float* values,
                    int32_t everySecond, int32_t ldwsVariant, int32_t stamp);
void ADAS_FeedFrameMode0(ADASManager* adas, int32_t width, int32_t height, const uint8_t* frame, const float* values,
                         int32_t everySecond, int32_t ldwsVariant, int32_t stamp);
void ADAS_FeedFrameMode3(ADASManager* adas, int32_t width, int32_t height, const uint8_t* frame, const float* values,
                         int32_t everySecond, int32_t ldwsVariant, int32_t stamp);
void ADAS_FeedFramePlanes(ADASManager* adas, int32_t width, int32_t height, const uint8_t* const* planes,
                          const float* values, int32_t everySecond, int32_t ignored, int32_t stamp);
// The decoder's form: picks the feed of its layout (0, 1, 3 or 4).
void ADAS_FeedLayout(ADASManager* adas, int32_t layout, int32_t width, int32_t height, const uint8_t* frame,
                     const float* values);

// Controls: switch a function and mark it changed.
void CtrlLDWS(ADASManager* adas, int32_t width, int32_t height, int32_t value);
void CtrlBSDS(ADASManager* adas, int32_t width, int32_t height, int32_t value);
void CtrlMODS(ADASManager* adas, int32_t width, int32_t height, int32_t value);
void CtrlDirtyDetect(ADASManager* adas, int32_t width, int32_t height, int32_t value);
void CtrlRCTA(ADASManager* adas, int32_t width, int32_t height, int32_t value);
void CtrlLVSA(ADASManager* adas, int32_t width, int32_t height, int32_t value);

void ADAS_SetSpeed(ADASManager* adas, float speed);
void ADAS_SetFloat2(ADASManager* adas, float angle);
void ADAS_SetInt(ADASManager* adas, int32_t gear);
void ADAS_SetMODSZone(ADASManager* adas, int32_t index, float value);
void ADAS_SetMODSPair(ADASManager* adas, int32_t a, int32_t b);
void ADAS_SetLDWSParam(ADASManager* adas, int32_t value);
void ADAS_SetLDWSParam2(ADASManager* adas, int32_t value);
void ADAS_SetBSDSRespRate(ADASManager* adas, int32_t value);
void ADAS_SetBSDSParam(ADASManager* adas, int32_t value);
void ADAS_SetMODSParam(ADASManager* adas, int32_t value);
void ADAS_SetRCTAParam(ADASManager* adas, int32_t value);
void ADAS_SetLVSAParam(ADASManager* adas, int32_t value);
void ADAS_SetLDWSSpeedGate(ADASManager* adas, int32_t v);
void ADAS_SetBSDSSpeedGate(ADASManager* adas, int32_t v);
void ADAS_SetMODSSpeedGate(ADASManager* adas, int32_t v);
void ADAS_SetRCTASpeedGate(ADASManager* adas, int32_t v);
void ADAS_SetLVSASpeedGate(ADASManager* adas, int32_t v);
void ADAS_SetParam25(ADASManager* adas, int32_t width, int32_t height, int32_t value);
void ADAS_SetParam27(ADASManager* adas, int32_t value);
// Night debounce, once per decoded frame.
void ADAS_UpdateNightMode(ADASManager* adas, int32_t value);
// A numbered parameter of KRV_TVDecoder_SetEXParam meant for the manager.
void ADAS_SetParam(ADASManager* adas, int32_t id, int32_t value, int32_t width, int32_t height);

int32_t ADAS_IsLDWSActive(const ADASManager* adas);
int32_t ADAS_IsBSDSActive(const ADASManager* adas);
int32_t ADAS_IsMODSActive(const ADASManager* adas);
int32_t ADAS_IsRCTAActive(const ADASManager* adas);
int32_t ADAS_IsLVSAActive(const ADASManager* adas);
int32_t ADAS_IsDirtyDetectActive(const ADASManager* adas);
int ADAS_IsAnyActive(const ADASManager* adas);
int32_t ADAS_IsBSDSOrDirtyActive(const ADASManager* adas);
int32_t ADAS_IsNight(const ADASManager* adas);
int32_t ADAS_GetLDWSResult(const ADASManager* adas);
int32_t ADAS_GetBSDSLeft(const ADASManager* adas);
int32_t ADAS_GetBSDSRight(const ADASManager* adas);
int32_t ADAS_GetMODSResult1(const ADASManager* adas);
int32_t ADAS_GetMODSResult2(const ADASManager* adas);
int32_t ADAS_GetMODSResult4(const ADASManager* adas);
int32_t ADAS_GetMODSResult8(const ADASManager* adas);
int32_t ADAS_GetRCTALeft(const ADASManager* adas);
int32_t ADAS_GetRCTARight(const ADASManager* adas);
int32_t ADAS_GetLVSAResult(const ADASManager* adas);
int32_t ADAS_IsLDWSWarning(const ADASManager* adas);
// Results 1 (LDWS), 2 and 3 (BSDS left and right) of KRV_TVDecoder_GetEXResult.
int32_t ADAS_GetResult(const ADASManager* adas, int32_t id);

// The process-wide event callback and its user pointer.
void ADAS_SetEventCallback(KRV_TVDecoder_ADASEventCallback callback, void* user);

// The DirtyDetect event rule: 1 when state is to be sent now (a change, or a
// non-zero state unchanged for more than 1000 ms since it was last sent).
int ADAS_DirtyEventDue(uint32_t state, uint32_t now, uint32_t* last, uint32_t* noted);

// One pass of a worker, for tests that drive a manager without threads: 1
// when a frame was taken.
int ADAS_LDWSPass(ADASManager* adas);
int ADAS_BSDSPass(ADASManager* adas);
int ADAS_MODSPass(ADASManager* adas);
int ADAS_RCTAPass(ADASManager* adas);
int ADAS_LVSAPass(ADASManager* adas);
void ADAS_DirtyPass(ADASManager* adas);
