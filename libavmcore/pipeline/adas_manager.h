#pragma once
// Driver-assistance manager as the decoder sees it: set up at decoder Init,
// fed with frames by the analysis thread, told the day/night value of each
// frame, and driven by the numbered parameters. The functions themselves
// (LDWS, BSDS, MODS, RCTA, LVSA, DirtyDetect) and their workers are not in
// this build yet: the manager records what it is told, counts the frames it
// is handed, and reports no event and no result.
#include <atomic>
#include <cstdint>

#include "tvdecoder_api.h"

struct ADASManager {
  std::atomic<int32_t> activeMask{0};   // functions switched on by their numbered parameters
  std::atomic<int32_t> nightMode{0};    // day/night value of the last frame
  std::atomic<int64_t> framesFed{0};
  std::atomic<int32_t> speedCentiKmh{0};
  std::atomic<int32_t> running{0};
};

void ADAS_Init(ADASManager* adas, const char* dataDirectory);
void ADAS_StartThreads(ADASManager* adas);
void ADAS_StopThreads(ADASManager* adas);
// Non-zero when any function is switched on.
int ADAS_IsAnyActive(const ADASManager* adas);
// One frame of the given decoder layout (0, 1, 3 or 4) for the functions;
// colourValues are the decoder's 132 colour-correction floats.
void ADAS_FeedFrame(ADASManager* adas, int32_t layout, int32_t width, int32_t height, const uint8_t* frame,
                    const float* colourValues);
void ADAS_UpdateNightMode(ADASManager* adas, int32_t value);
int32_t ADAS_NightMode(const ADASManager* adas);
// A numbered parameter of KRV_TVDecoder_SetEXParam meant for the manager
// (switches 6, 7, 26, 52, 53, 54; speeds, gear, zones and tunings).
void ADAS_SetParam(ADASManager* adas, int32_t id, int32_t value, int32_t width, int32_t height);
// Results 1 (LDWS), 2 and 3 (BSDS left and right).
int32_t ADAS_GetResult(const ADASManager* adas, int32_t id);

// The process-wide event callback and its user pointer.
void ADAS_SetEventCallback(KRV_TVDecoder_ADASEventCallback callback, void* user);
