#pragma once
// What the driver-assistance manager calls of the functions that live in
// their own modules: the moving-object detector object (MODS), the lens-dirt
// detector, and the rear cross-traffic (RCTA) and LVSA input adapters. Each
// module defines these.
//
// Besides the operations of each function, each module supplies Create /
// Destroy (the manager owns the object through a pointer, since the type is
// the module's) and small getters for the fields the manager reads.
#include <cstdint>

#include "pipeline/adas_config.h"

// ---------------------------------------------------------------------------
// Moving-object detector.
struct MODObject;
// A new object with the values the decoder's construction gives it: keep
// time 1000 ms, radar words all ones, speed, angle, gear, side signals,
// alarms and mask 0, the car defaults LL 2500, DL 500, CW 1960, CL 5280.
MODObject* MOD_Create();
void MOD_Destroy(MODObject* object);
void MOD_Init(MODObject* object, const ADASConfig* config);
void MOD_Release(MODObject* object);
void MOD_SetSpeedAngle(MODObject* object, int32_t speed, int32_t angle);
void MOD_SetGear(MODObject* object, int32_t gear);
void MOD_SetSideSignal(MODObject* object, int32_t side, float value);
void MOD_SetKeepTime(MODObject* object, uint32_t ms);
void MOD_SetRadarInfo(MODObject* object, int32_t sensor, uint32_t word);
void MOD_SetMask(MODObject* object, uint32_t mask);
int32_t MOD_CanWrite(MODObject* object);
int32_t MOD_HasFrame(MODObject* object);
void MOD_NextRead(MODObject* object);
void MOD_PushFrameGray(MODObject* object, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void MOD_PushFrameUYVY(MODObject* object, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void MOD_PushFrameYUYV(MODObject* object, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
// planes: four per-camera planes (blocks 1, 2, 4, 8 read planes 0..3).
void MOD_PushFramePlanes(MODObject* object, int32_t width, int32_t height, const uint8_t* const* planes,
                         const ADASConfig* config);
uint32_t MOD_Process(MODObject* object);
int32_t MOD_GetResult(MODObject* object, int32_t block);
int32_t MOD_GetResultValue(MODObject* object, int32_t block);
void MOD_ClearResults(MODObject* object);
// The alarm word of block 1, 2, 4 or 8 (0 for another block).
uint32_t MOD_GetAlarm(const MODObject* object, int32_t block);

// ---------------------------------------------------------------------------
// Lens-dirt detector.
struct DirtyDetectState;
// A new state as the decoder's construction leaves it: feed interval 250 ms,
// speed 0, period 10, every camera's frame counter -1, not initialised.
DirtyDetectState* DirtyDetect_Create();
void DirtyDetect_Destroy(DirtyDetectState* state);
uint32_t DirtyDetect_Init(DirtyDetectState* state, const char* cameraFilePath, int32_t width, int32_t height);
void DirtyDetect_Release(DirtyDetectState* state);
// 1 once DirtyDetect_Init succeeded (the state's first word).
uint32_t DirtyDetect_IsInited(const DirtyDetectState* state);
// The quad frame of frameWidth x frameHeight pixels; a frame too small for
// the detector's work images is skipped (0).
int32_t DirtyDetect_FeedA(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth,
                          int32_t frameHeight);  // luma plane
int32_t DirtyDetect_FeedB(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth,
                          int32_t frameHeight);  // UYVY
int32_t DirtyDetect_FeedC(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth,
                          int32_t frameHeight);  // YUYV
void DirtyDetect_SetParam(DirtyDetectState* state, float speed);
uint32_t DirtyDetectStep(DirtyDetectState* state);

// ---------------------------------------------------------------------------
// Rear cross-traffic input adapter.
struct RCTAInput;
// A new adapter with the hold time 1000 ms.
RCTAInput* RCTAInput_Create();
void RCTAInput_Destroy(RCTAInput* input);
void RCTAInput_Init(RCTAInput* input, const ADASConfig* config);
void RCTAInput_Release(RCTAInput* input);
int32_t RCTAInput_CanWrite(RCTAInput* input);
int32_t RCTAInput_HasFrame(RCTAInput* input);
void RCTAInput_NextRead(RCTAInput* input);
void RCTAInput_RemapCamA(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void RCTAInput_RemapCamB(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void RCTAInput_RemapCamC(RCTAInput* input, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void RCTAInput_RemapPlanes(RCTAInput* input, int32_t width, int32_t height, const uint8_t* const* planes,
                           const ADASConfig* config);
void RCTAInput_Process(RCTAInput* input);
void RCTAInput_ClearStates(RCTAInput* input);
void RCTAInput_SetNight(RCTAInput* input, int32_t night);
void RCTAInput_SetHoldTime(RCTAInput* input, uint32_t ms);
uint32_t RCTAInput_LeftState(const RCTAInput* input);
uint32_t RCTAInput_RightState(const RCTAInput* input);

// ---------------------------------------------------------------------------
// LVSA input adapter.
struct LVSAInput;
// A new adapter with the hold time 1500 ms.
LVSAInput* LVSAInput_Create();
void LVSAInput_Destroy(LVSAInput* input);
void LVSAInput_Init(LVSAInput* input, const ADASConfig* config);
void LVSAInput_Release(LVSAInput* input);
int32_t LVSAInput_CanWrite(LVSAInput* input);
int32_t LVSAInput_HasFrame(LVSAInput* input);
void LVSAInput_NextRead(LVSAInput* input);
void LVSAInput_RemapCamA(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void LVSAInput_RemapCamB(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void LVSAInput_RemapCamC(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame, const ADASConfig* config);
void LVSAInput_SetSpeed(LVSAInput* input, float speed);
void LVSAInput_SetNight(LVSAInput* input, int32_t night);
void LVSAInput_Process(LVSAInput* input);
void LVSAInput_ClearState(LVSAInput* input);
void LVSAInput_SetHoldTime(LVSAInput* input, uint32_t ms);
uint32_t LVSAInput_State(const LVSAInput* input);
