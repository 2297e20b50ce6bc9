#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "frame/clock.h"
#include "frame/log.h"
#include "pipeline/bsds.h"

namespace {

constexpr BSDSSettings kSideSettings{12, 5, 7, 4, 20.0f, 20.0f};
constexpr BSDSSettings kCentreSettings{12, 4, 6, 3, 0.01f, 0.01f};

// Zone -> table of the configuration (BR B2, BL B1, XR B5, XL B4, BC B3).
constexpr int kZoneTable[kBsdsZoneCount] = {1, 0, 4, 3, 2};
constexpr const char* kZoneName[kBsdsZoneCount] = {"BR", "BL", "XR", "XL", "BC"};

bool RearZone(int z) { return z == kBsdsBR || z == kBsdsBL || z == kBsdsBC; }

// Entries checked against the frame once: a position outside it reads as
// nothing rather than past the frame.
void BuildOffsets(std::vector<int32_t>* out, const ImageI32& t, const BSDSTracker& zone, int32_t fw, int32_t fh) {
  const size_t n = static_cast<size_t>(zone.width) * zone.rows;
  out->assign(n, -1);
  if (t.data == nullptr || t.width != zone.width || t.height != zone.rows) return;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t e = static_cast<uint32_t>(t.data[i]);
    const int32_t x = static_cast<int32_t>(e & 0xFFFFu), y = static_cast<int32_t>(e >> 16);
    if (x < fw && y < fh) (*out)[i] = y * fw + x;
  }
}

template <typename Fetch>
void Input(BSDSState* s, Fetch fetch) {
  if (s->inited == 0) return;
  const int32_t w = s->writeIndex.load(std::memory_order_relaxed);
  for (int z = 0; z < kBsdsZoneCount; ++z) {
    if (s->rearCameraAbsent != 0 && RearZone(z)) continue;
    BSDSTracker& zone = s->zones[z];
    uint8_t* dst = zone.slots[w];
    if (dst == nullptr) continue;
    const std::vector<int32_t>& off = s->offsets_[z];
    for (size_t i = 0; i < off.size(); ++i) dst[i] = off[i] >= 0 ? fetch(off[i]) : 0;
  }
  BSDS_AdvanceWrite(s);
}


}  // namespace

int32_t BSDS_Init(BSDSState* s, const ADASConfig* c) {
  if (s == nullptr || c == nullptr || c->C[kAdasLoaded] == 0 || c->C[kAdasBsdsPresent] == 0) return 0;
  const int32_t cell = c->C[25];
  const int64_t rearOffset64 = -static_cast<int64_t>(c->C[28]);
  const int64_t crossOffset64 = -static_cast<int64_t>(c->C[kAdasBsdsRearExtent]);
  if (!BSDS_ZoneDistancesFit(cell, rearOffset64, std::max(c->C[kAdasBsdsCols], c->C[kAdasBsdsCols3]),
                        c->C[kAdasBsdsRows]) ||
      !BSDS_ZoneDistancesFit(cell, crossOffset64, c->C[kAdasBsdsCrossCols], c->C[kAdasBsdsCrossRows])) {
    AvmLog("BSDS_Init: zone distances out of range (cell %d), blind-spot detection off\n", cell);
    return 0;
  }
  const int32_t rearOffset = static_cast<int32_t>(rearOffset64);
  const int32_t crossOffset = static_cast<int32_t>(crossOffset64);
  BSDS_Release(s);
  s->rearCameraAbsent = (c->C[kAdasCameraMask] & 2) == 0 ? 1 : 0;
  for (int z = 0; z < kBsdsZoneCount; ++z) {
    const bool cross = z == kBsdsXR || z == kBsdsXL;
    const int32_t w = cross ? c->C[kAdasBsdsCrossCols] : (z == kBsdsBC ? c->C[kAdasBsdsCols3] : c->C[kAdasBsdsCols]);
    const int32_t rows = cross ? c->C[kAdasBsdsCrossRows] : c->C[kAdasBsdsRows];
    BSDS_InitTracker(&s->zones[z], cross ? 2 : 1, w, rows, cross ? crossOffset : rearOffset, cell, kZoneName[z],
                     z == kBsdsBC ? &kCentreSettings : &kSideSettings);
  }
  s->frameWidth_ = c->C[kAdasFrameWidth];
  s->frameHeight_ = c->C[kAdasFrameHeight];
  for (int z = 0; z < kBsdsZoneCount; ++z)
    BuildOffsets(&s->offsets_[z], c->bsds[kZoneTable[z]], s->zones[z], s->frameWidth_, s->frameHeight_);
  s->writeIndex = 0;
  s->readIndex = 0;
  s->leftResult = s->rightResult = 0;
  s->inited = 1;
  return 1;
}

void BSDS_Release(BSDSState* s) {
  if (s == nullptr) return;
  for (int z = 0; z < kBsdsZoneCount; ++z) {
    BSDS_ReleaseTracker(&s->zones[z]);
    std::vector<int32_t>().swap(s->offsets_[z]);
  }
  s->inited = 0;
}

int32_t BSDS_HasFrame(const BSDSState* s) {
  const int32_t d = s->writeIndex.load(std::memory_order_acquire) - s->readIndex.load(std::memory_order_relaxed);
  return ((d % 3) + 3) % 3 > 0 ? 1 : 0;
}

int32_t BSDS_CanWrite(const BSDSState* s) {
  const int32_t d = s->writeIndex.load(std::memory_order_relaxed) - s->readIndex.load(std::memory_order_acquire);
  return ((d % 3) + 3) % 3 < 2 ? 1 : 0;
}

void BSDS_AdvanceRead(BSDSState* s) {
  const int32_t r = (s->readIndex.load(std::memory_order_relaxed) + 1) % 3;
  for (BSDSTracker& z : s->zones) z.readSlot = r;
  s->readIndex.store(r, std::memory_order_release);
}

void BSDS_AdvanceWrite(BSDSState* s) {
  const int32_t w = (s->writeIndex.load(std::memory_order_relaxed) + 1) % 3;
  for (BSDSTracker& z : s->zones) z.writeSlot = w;
  s->writeIndex.store(w, std::memory_order_release);
}

void BSDS_InputLuma(BSDSState* s, const uint8_t* luma) {
  if (luma != nullptr) Input(s, [luma](int32_t o) { return luma[o]; });
}
void BSDS_InputLumaB(BSDSState* s, const uint8_t* luma) { BSDS_InputLuma(s, luma); }
void BSDS_InputUYVY(BSDSState* s, const uint8_t* f) {
  if (f != nullptr) Input(s, [f](int32_t o) { return f[2 * static_cast<size_t>(o) + 1]; });
}
void BSDS_InputYUYV(BSDSState* s, const uint8_t* f) {
  if (f != nullptr) Input(s, [f](int32_t o) { return f[2 * static_cast<size_t>(o)]; });
}
void BSDS_InputPlanes(BSDSState* s, const uint8_t* const* planes) {
  if (planes == nullptr) return;
  const int32_t fw = s->frameWidth_, hw = fw / 2, hh = s->frameHeight_ / 2;
  if (hw < 1 || hh < 1) return;
  Input(s, [=](int32_t o) -> uint8_t {
    const int32_t x = o % fw, y = o / fw;
    const int32_t p = (x >= hw ? 1 : 0) + (y >= hh ? 2 : 0);
    if (planes[p] == nullptr) return 0;
    return planes[p][static_cast<size_t>(y % hh) * hw + (x % hw)];
  });
}

void BSDS_SetNight(BSDSState* s, int32_t night) {
  if (night != s->night) AvmLog("BSDS Change Night %d \n", night);
  s->night = night;
}
void BSDS_SetSteering(BSDSState* s, float angle) { s->steering = angle; }
void BSDS_SetRespRate(BSDSState* s, int32_t rate) {
  AvmLog("bsds SetRespRate %d \n", rate);
  s->respRate = rate;
}
void BSDS_SetHold(BSDSState* s, int32_t ms) { s->extraHoldMs = ms; }
void BSDS_Reset(BSDSState* s) { s->leftResult = s->rightResult = 0; }

int32_t BSDS_Hold(BSDSState* s, int32_t left, int32_t right, uint32_t now) {
  int32_t changed = 0;
  auto side = [&](int32_t value, std::atomic<int32_t>* result, uint32_t* deadline, uint32_t* bit0, uint32_t* bit1, int32_t bit) {
    const int32_t before = result->load();
    if (value != 0) {
      result->store(value);
      if ((value & 1) != 0) {
        *bit0 = now;
        *deadline = now + 600;
      }
      if ((value & 2) != 0) *bit1 = now;
      if (static_cast<int32_t>(*deadline - now) < 0) *deadline = now;
    } else if (result->load() != 0 && static_cast<int32_t>(now - *deadline) > s->extraHoldMs.load()) {
      result->store(0);
    }
    if (result->load() != before) changed |= bit;
  };
  side(left, &s->leftResult, &s->leftDeadline, &s->leftBit0Time, &s->leftBit1Time, 1);
  side(right, &s->rightResult, &s->rightDeadline, &s->rightBit0Time, &s->rightBit1Time, 2);
  return changed;
}

int32_t BSDS_StepAt(BSDSState* s, uint32_t now) {
  if (s == nullptr || s->inited == 0) return 0;
  const int32_t night = s->night;
  if (s->rearCameraAbsent == 0) {
    BSDS_TrackTargets(night, &s->zones[kBsdsBR]);
    BSDS_TrackTargets(night, &s->zones[kBsdsBL]);
    BSDS_TrackTargets(night, &s->zones[kBsdsBC]);
  }
  BSDS_TrackTargets(night, &s->zones[kBsdsXR]);
  BSDS_TrackTargets(night, &s->zones[kBsdsXL]);

  const float a = std::fabs(s->steering);
  if (a > 4.6f) return BSDS_Hold(s, 0, 0, now);
  // Age test of a noted time; 0 means never noted.
  auto within = [now](uint32_t t, uint32_t ms) { return t != 0 && now - t <= ms; };
  int32_t left = 0, right = 0;
  auto rearCounts = [&](const BSDSTracker& z, uint32_t bit0Time) {
    if (s->rearCameraAbsent != 0 || z.result == 0) return false;
    if (a > 3.4f && z.position - z.nearDistance <= 6999) return false;
    if (night != 0 && z.farDistance - z.position <= 2000 && !within(bit0Time, 4000)) return false;
    const BSDSTracker& centre = s->zones[kBsdsBC];
    if (centre.result != 0 && z.position - centre.position < 2500) return false;
    return true;
  };
  auto crossCounts = [&](const BSDSTracker& z, uint32_t bit0Time, uint32_t bit1Time) {
    if (z.result == 0) return false;
    if (night != 0) return within(bit0Time, 4000) || within(bit1Time, 1000);
    return true;
  };
  if (crossCounts(s->zones[kBsdsXR], s->rightBit0Time, s->rightBit1Time)) right |= 2;
  if (crossCounts(s->zones[kBsdsXL], s->leftBit0Time, s->leftBit1Time)) left |= 2;
  if (rearCounts(s->zones[kBsdsBR], s->rightBit0Time)) right |= 1;
  if (rearCounts(s->zones[kBsdsBL], s->leftBit0Time)) left |= 1;
  return BSDS_Hold(s, left, right, now);
}

int32_t BSDS_Step(BSDSState* s) { return BSDS_StepAt(s, GetTickMs()); }
