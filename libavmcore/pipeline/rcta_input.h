#pragma once
// Rear cross-traffic input: two small grey images remapped from each frame,
// left and right behind the car, tracked by the blind-spot zone tracker; a
// side's alert state follows its tracker and is held for holdTimeMs after the
// last report (5 s longer after a close target). Events 10 (left) and 11
// (right).
//
// The decoder's analysis thread remaps into a three-slot ring (the trackers'
// slot images, at most two pending); the RCTA worker tracks each pending slot.
#include <atomic>
#include <cstdint>
#include <vector>

#include "pipeline/adas_function_services.h"
#include "pipeline/adas_remap.h"
#include "pipeline/bsds.h"

struct RCTAInput {
  // The feed alone advances writeIndex, the worker alone readIndex.
  std::atomic<int32_t> writeIndex{0};
  std::atomic<int32_t> readIndex{0};
  BSDSTracker trackerRight;  // "TR", fed by the second table
  BSDSTracker trackerLeft;   // "TL", fed by the first table
  uint32_t leftHoldStart = 0;
  uint32_t leftState = 0;
  uint32_t rightHoldStart = 0;
  uint32_t rightState = 0;
  uint32_t holdTimeMs = 1000;
  uint32_t inited = 0;
  uint32_t (*tickMs)() = nullptr;              // clock of the hold rule; tests set their own
};

// The settings block both trackers get.
extern const BSDSSettings kRctaTrackerSettings;

// Sets up both trackers from the RCTA section of a loaded configuration.
// Does nothing without the section or when a table's size is not the
// section's columns x rows.
void RCTAInput_Init(RCTAInput* input, const ADASConfig* config);
void RCTAInput_Release(RCTAInput* input);
int32_t RCTAInput_CanWrite(RCTAInput* input);
int32_t RCTAInput_HasFrame(RCTAInput* input);
void RCTAInput_NextRead(RCTAInput* input);
void RCTAInput_NextWrite(RCTAInput* input);

// Remaps of one frame of width x height pixels through config's two tables
// into slot writeIndex of both trackers, then the write index advances. A
// table entry outside the frame reads 0; tables of another size than at Init
// are not used.
void RCTAInput_RemapCamA(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
void RCTAInput_RemapCamB(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
void RCTAInput_RemapCamC(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
void RCTAInput_RemapBGR(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                        const ADASConfig* config);
// planes: per-camera planes of width x height; the right table reads plane 3,
// the left plane 2.
void RCTAInput_RemapPlanes(RCTAInput* input, int32_t width, int32_t height, const uint8_t* const* planes,
                           const ADASConfig* config);
// One table into slot writeSlot of one tracker through fetch, no advance;
// returns the table's column count.
int32_t RCTAInput_RemapFetch(BSDSTracker* tracker, const ImageI32* table, int32_t stride, int32_t ignored,
                             void* user, AdasPixelFetch fetch);

// Tracks both sides on slot readIndex and applies the hold rule.
void RCTAInput_Process(RCTAInput* input);
void RCTAInput_ClearStates(RCTAInput* input);
void RCTAInput_SetNight(RCTAInput* input, int32_t night);
void RCTAInput_SetHoldTime(RCTAInput* input, uint32_t ms);
// The hold rule on given results, with the trackers' first-row and nearest
// values as they stand.
void RCTAInput_UpdateHold(RCTAInput* input, uint32_t leftResult, uint32_t rightResult);

RCTAInput* RCTAInput_Create();
void RCTAInput_Destroy(RCTAInput* input);
uint32_t RCTAInput_LeftState(const RCTAInput* input);
uint32_t RCTAInput_RightState(const RCTAInput* input);
