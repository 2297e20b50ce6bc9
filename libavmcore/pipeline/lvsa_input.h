#pragma once
// LVSA: one remapped grey image of the scene ahead; while the vehicle stands,
// a horizontal brightness edge that shows up and moves steadily towards the
// top of the image raises the alert (event 12), held for holdTimeMs.
//
// The decoder's analysis thread remaps frames into a three-slot ring (at most
// two pending); the LVSA worker runs the step on each pending slot.
#include <atomic>
#include <cstdint>
#include <vector>

#include "pipeline/adas_function_services.h"
#include "pipeline/adas_remap.h"

struct LVSAStep {
  int32_t writeSlot = 0, readSlot = 0;  // mirrors of the input's indices
  int32_t lvsaParam4 = 0, lvsaParam1 = 0;
  int32_t columns = 0, rows = 0;
  uint8_t* slots[3] = {nullptr, nullptr, nullptr};
  uint32_t* rowSums = nullptr;
  float* profiles[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};  // [0] newest
  uint8_t* spare = nullptr;
  int32_t frameCount = 0;
  int32_t edgeRows[5] = {0, 0, 0, 0, 0};  // newest first
  int32_t detectionCount = 0;
  int32_t movingCount = 0;
  uint32_t result = 0;
  std::vector<uint8_t> slotBuffer;
  std::vector<uint32_t> rowSumBuffer;
  std::vector<float> profileBuffer;
  std::vector<uint8_t> spareBuffer;
};

struct LVSAInput {
  // The feed alone advances writeIndex, the worker alone readIndex.
  std::atomic<int32_t> writeIndex{0};
  std::atomic<int32_t> readIndex{0};
  LVSAStep step;
  uint32_t stopped = 0;
  uint32_t moved = 0;
  uint32_t lastAlertMs = 0;
  uint32_t holdStartMs = 0;
  uint32_t state = 0;
  uint32_t holdTimeMs = 1500;
  uint32_t inited = 0;
  uint32_t (*tickMs)() = nullptr;  // clock of the hold rules; tests set their own
};

// An adapter as the manager's construction leaves it (hold time 1500 ms).
LVSAInput* LVSAInput_Create();
void LVSAInput_Destroy(LVSAInput* input);
uint32_t LVSAInput_State(const LVSAInput* input);

// Takes the LVSA section of a loaded configuration: its words and the
// buffers. Does nothing without the section or when the table's size is not
// the section's columns x rows.
void LVSAInput_Init(LVSAInput* input, const ADASConfig* config);
void LVSAInput_Release(LVSAInput* input);
int32_t LVSAInput_CanWrite(LVSAInput* input);
int32_t LVSAInput_HasFrame(LVSAInput* input);
void LVSAInput_NextRead(LVSAInput* input);
void LVSAInput_NextWrite(LVSAInput* input);

// Remaps of one frame of width x height pixels through config's table into
// the write slot, then the write index advances. A table entry outside the
// frame reads 0; a table of another size than at Init is not used.
void LVSAInput_RemapCamA(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
void LVSAInput_RemapCamB(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
void LVSAInput_RemapCamC(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
void LVSAInput_RemapBGR(LVSAInput* input, int32_t width, int32_t height, const uint8_t* frame,
                        const ADASConfig* config);
// Through fetch into slot writeSlot of step, no advance; returns the table's
// column count. Entries are packed like the configuration's.
int32_t LVSAInput_RemapFetch(LVSAStep* step, const ImageI32* table, int32_t stride, int32_t ignored, void* user,
                             AdasPixelFetch fetch);

void LVSAInput_SetSpeed(LVSAInput* input, float speed);
void LVSAInput_SetNight(LVSAInput* input, int32_t night);
// The step on slot readIndex, then the alert-state rule; state holds the
// result afterwards.
void LVSAInput_Process(LVSAInput* input);
void LVSAInput_ClearState(LVSAInput* input);
void LVSAInput_SetHoldTime(LVSAInput* input, uint32_t ms);
void LVSAInput_UpdateHold(LVSAInput* input, uint32_t value);

void LVSAStep_Init(LVSAStep* step, int32_t columns, int32_t rows, int32_t a, int32_t b);
void LVSAStep_Release(LVSAStep* step);
// One detection on the image in slot readSlot.
void LVSA_DetectStep(LVSAStep* step);
