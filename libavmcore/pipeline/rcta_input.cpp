#include "pipeline/rcta_input.h"

#include <algorithm>

#include "frame/clock.h"
#include "frame/log.h"

const BSDSSettings kRctaTrackerSettings = {12, 3, 5, 3, 10.0f, 10.0f};

namespace {

int32_t Pending(int32_t write, int32_t read) { return ((write - read) % 3 + 3) % 3; }

uint32_t Now(const RCTAInput* in) { return in->tickMs ? in->tickMs() : GetTickMs(); }

void Remap(RCTAInput* in, AdasPixel kind, int32_t width, int32_t height, const uint8_t* left,
           const uint8_t* right, const ADASConfig* config) {
  if (!in || !in->inited || !config) return;
  const int32_t cols = in->trackerLeft.width, rows = in->trackerLeft.rows;
  if (!AdasRemap_Fits(config->rcta[0], cols, rows) || !AdasRemap_Fits(config->rcta[1], cols, rows)) return;
  const int32_t write = in->writeIndex.load(std::memory_order_relaxed);
  if (!in->trackerLeft.slots[write] || !in->trackerRight.slots[write]) return;
  AdasRemap_Gather(config->rcta[0], kind, left, width, height, in->trackerLeft.slots[write]);
  AdasRemap_Gather(config->rcta[1], kind, right, width, height, in->trackerRight.slots[write]);
  RCTAInput_NextWrite(in);
}

// One side: a reporting tracker sets the state and its hold start (5 s ahead
// for a close target); a silent one lets the state go after the hold time.
void HoldSide(uint32_t result, const BSDSTracker& tracker, uint32_t holdTimeMs, uint32_t now, uint32_t* state,
              uint32_t* holdStart) {
  if (result != 0) {
    *state = result;
    if (static_cast<int64_t>(tracker.nearDistance) + 499 < tracker.farLimit) {
      if (now > *holdStart) *holdStart = now;
    } else {
      *holdStart = now + 5000;
    }
  } else if (*state != 0 && now > *holdStart && now - *holdStart > holdTimeMs) {
    *state = 0;
  }
}

}  // namespace

RCTAInput* RCTAInput_Create() { return new RCTAInput(); }

void RCTAInput_Destroy(RCTAInput* in) {
  if (!in) return;
  RCTAInput_Release(in);
  delete in;
}

uint32_t RCTAInput_LeftState(const RCTAInput* in) { return in ? in->leftState : 0; }
uint32_t RCTAInput_RightState(const RCTAInput* in) { return in ? in->rightState : 0; }

void RCTAInput_Init(RCTAInput* in, const ADASConfig* config) {
  if (!in || in->inited || !config || !config->C[kAdasLoaded] || !config->C[kAdasRctaPresent]) return;
  const int32_t p1 = config->C[kAdasRctaPresent + 1], cols = config->C[kAdasRctaCols],
                rows = config->C[kAdasRctaRows], p4 = config->C[kAdasRctaPresent + 4];
  if (!AdasRemap_Fits(config->rcta[0], cols, rows) || !AdasRemap_Fits(config->rcta[1], cols, rows)) return;
  // The trackers' distances come from the same words: values beyond their
  // range leave cross-traffic alerts off, as for the blind-spot zones.
  if (!BSDS_ZoneDistancesFit(p1, -static_cast<int64_t>(p4), cols, rows)) {
    AvmLog("RCTAInput_Init: zone distances out of range (cell %d), cross-traffic alert off\n", p1);
    return;
  }
  BSDS_InitTracker(&in->trackerRight, 1, cols, rows, -p4, p1, "TR", &kRctaTrackerSettings);
  BSDS_InitTracker(&in->trackerLeft, 1, cols, rows, -p4, p1, "TL", &kRctaTrackerSettings);
  in->inited = 1;
}

void RCTAInput_Release(RCTAInput* in) {
  if (!in || !in->inited) return;
  BSDS_ReleaseTracker(&in->trackerRight);
  BSDS_ReleaseTracker(&in->trackerLeft);
  in->inited = 0;
}

int32_t RCTAInput_CanWrite(RCTAInput* in) {
  return Pending(in->writeIndex.load(std::memory_order_relaxed), in->readIndex.load(std::memory_order_acquire)) < 2;
}

int32_t RCTAInput_HasFrame(RCTAInput* in) {
  return Pending(in->writeIndex.load(std::memory_order_acquire), in->readIndex.load(std::memory_order_relaxed)) > 0;
}

void RCTAInput_NextRead(RCTAInput* in) {
  const int32_t next = (in->readIndex.load(std::memory_order_relaxed) + 1) % 3;
  in->trackerRight.readSlot = in->trackerLeft.readSlot = next;
  in->readIndex.store(next, std::memory_order_release);
}

void RCTAInput_NextWrite(RCTAInput* in) {
  const int32_t next = (in->writeIndex.load(std::memory_order_relaxed) + 1) % 3;
  in->trackerRight.writeSlot = in->trackerLeft.writeSlot = next;
  in->writeIndex.store(next, std::memory_order_release);
}

void RCTAInput_RemapCamA(RCTAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kLuma, w, h, frame, frame, config);
}
void RCTAInput_RemapCamB(RCTAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kPackedHigh, w, h, frame, frame, config);
}
void RCTAInput_RemapCamC(RCTAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kPackedLow, w, h, frame, frame, config);
}
void RCTAInput_RemapBGR(RCTAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kBGR, w, h, frame, frame, config);
}
void RCTAInput_RemapPlanes(RCTAInput* in, int32_t w, int32_t h, const uint8_t* const* planes,
                           const ADASConfig* config) {
  if (!planes) return;
  Remap(in, AdasPixel::kLuma, w, h, planes[2], planes[3], config);
}

int32_t RCTAInput_RemapFetch(BSDSTracker* tracker, const ImageI32* table, int32_t stride, int32_t, void* user,
                             AdasPixelFetch fetch) {
  if (!tracker || !table || !table->data || !fetch || tracker->writeSlot < 0 || tracker->writeSlot > 2 ||
      !tracker->slots[tracker->writeSlot])
    return 0;
  // Only as much of the table as the slot image holds.
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(table->width) * table->height,
                                      static_cast<int64_t>(tracker->width) * tracker->rows);
  uint8_t* dst = tracker->slots[tracker->writeSlot];
  for (int64_t i = 0; i < n; ++i) {
    const int32_t e = table->data[i];
    dst[i] = static_cast<uint8_t>(fetch(user, stride, static_cast<int16_t>((e >> 16) & 0xFFFF),
                                        static_cast<int16_t>(e & 0xFFFF)));
  }
  return table->width;
}

void RCTAInput_Process(RCTAInput* in) {
  if (!in || !in->inited) return;
  const int32_t read = in->readIndex.load(std::memory_order_relaxed);
  in->trackerRight.readSlot = in->trackerLeft.readSlot = read;
  BSDS_TrackTargets(1, &in->trackerRight);
  BSDS_TrackTargets(1, &in->trackerLeft);
  const uint32_t now = Now(in);
  HoldSide(static_cast<uint32_t>(in->trackerRight.result), in->trackerRight, in->holdTimeMs, now, &in->rightState,
           &in->rightHoldStart);
  HoldSide(static_cast<uint32_t>(in->trackerLeft.result), in->trackerLeft, in->holdTimeMs, now, &in->leftState,
           &in->leftHoldStart);
}

void RCTAInput_UpdateHold(RCTAInput* in, uint32_t leftResult, uint32_t rightResult) {
  const uint32_t now = Now(in);
  HoldSide(rightResult, in->trackerRight, in->holdTimeMs, now, &in->rightState, &in->rightHoldStart);
  HoldSide(leftResult, in->trackerLeft, in->holdTimeMs, now, &in->leftState, &in->leftHoldStart);
}

void RCTAInput_ClearStates(RCTAInput* in) { in->leftState = in->rightState = 0; }
void RCTAInput_SetNight(RCTAInput*, int32_t) {}
void RCTAInput_SetHoldTime(RCTAInput* in, uint32_t ms) { in->holdTimeMs = ms; }
