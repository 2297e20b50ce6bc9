#include "pipeline/adas_manager.h"

#include "frame/log.h"

namespace {

std::atomic<KRV_TVDecoder_ADASEventCallback> g_eventCallback{nullptr};
std::atomic<void*> g_eventUser{nullptr};

// Switch id of SetEXParam -> function bit of the enable mask.
struct SwitchBit {
  int32_t id;
  int32_t bit;
};
constexpr SwitchBit kSwitches[] = {{6, 1}, {7, 2}, {26, 4}, {53, 16}, {54, 32}, {52, 0x100}};

}  // namespace

void ADAS_Init(ADASManager* adas, const char* dataDirectory) {
  (void)dataDirectory;
  adas->activeMask = 0;
  adas->framesFed = 0;
}

void ADAS_StartThreads(ADASManager* adas) { adas->running = 1; }

void ADAS_StopThreads(ADASManager* adas) { adas->running = 0; }

int ADAS_IsAnyActive(const ADASManager* adas) { return adas->activeMask.load() != 0 ? 1 : 0; }

void ADAS_FeedFrame(ADASManager* adas, int32_t layout, int32_t width, int32_t height, const uint8_t* frame,
                    const float* colourValues) {
  (void)layout;
  (void)width;
  (void)height;
  (void)frame;
  (void)colourValues;
  ++adas->framesFed;
}

void ADAS_UpdateNightMode(ADASManager* adas, int32_t value) { adas->nightMode = value; }

int32_t ADAS_NightMode(const ADASManager* adas) { return adas->nightMode.load(); }

void ADAS_SetParam(ADASManager* adas, int32_t id, int32_t value, int32_t width, int32_t height) {
  (void)width;
  (void)height;
  for (const SwitchBit& s : kSwitches) {
    if (s.id != id) continue;
    if (value != 0)
      adas->activeMask.fetch_or(s.bit);
    else
      adas->activeMask.fetch_and(~s.bit);
    return;
  }
  if (id == 12) adas->speedCentiKmh = value * 100;
  if (id == 212) adas->speedCentiKmh = value;
}

int32_t ADAS_GetResult(const ADASManager* adas, int32_t id) {
  (void)adas;
  (void)id;
  return 0;
}

void ADAS_SetEventCallback(KRV_TVDecoder_ADASEventCallback callback, void* user) {
  g_eventUser = user;
  g_eventCallback = callback;
}
