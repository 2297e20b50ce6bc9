#include "pipeline/lvsa_input.h"

#include <algorithm>
#include <cstring>

#include "frame/clock.h"
#include "pipeline/adas_config.h"

namespace {

int32_t Pending(int32_t write, int32_t read) { return ((write - read) % 3 + 3) % 3; }

uint32_t Now(const LVSAInput* in) { return in->tickMs ? in->tickMs() : GetTickMs(); }

void Remap(LVSAInput* in, AdasPixel kind, int32_t width, int32_t height, const uint8_t* frame,
           const ADASConfig* config) {
  if (!in || !in->inited || !config || !AdasRemap_Fits(config->lvsa, in->step.columns, in->step.rows)) return;
  const int32_t write = in->writeIndex.load(std::memory_order_relaxed);
  AdasRemap_Gather(config->lvsa, kind, frame, width, height, in->step.slots[write]);
  LVSAInput_NextWrite(in);
}

void HoldExpiry(LVSAInput* in, uint32_t now) {
  if (in->state != 0 && now > in->holdStartMs && now - in->holdStartMs > in->holdTimeMs) in->state = 0;
}

}  // namespace

void LVSAStep_Init(LVSAStep* step, int32_t columns, int32_t rows, int32_t a, int32_t b) {
  LVSAStep_Release(step);
  if (columns < 1 || rows < 1) return;
  step->lvsaParam4 = a;
  step->lvsaParam1 = b;
  step->columns = columns;
  step->rows = rows;
  const size_t image = static_cast<size_t>(columns) * static_cast<size_t>(rows);
  step->slotBuffer.assign(3 * image, 0);
  for (int i = 0; i < 3; ++i) step->slots[i] = step->slotBuffer.data() + i * image;
  step->rowSumBuffer.assign(static_cast<size_t>(rows), 0);
  step->rowSums = step->rowSumBuffer.data();
  step->profileBuffer.assign(6 * static_cast<size_t>(rows), 0.0f);
  for (int i = 0; i < 6; ++i) step->profiles[i] = step->profileBuffer.data() + i * static_cast<size_t>(rows);
  step->spareBuffer.assign(4 * static_cast<size_t>(rows), 0);
  step->spare = step->spareBuffer.data();
}

void LVSAStep_Release(LVSAStep* step) {
  std::vector<uint8_t>().swap(step->slotBuffer);
  std::vector<uint32_t>().swap(step->rowSumBuffer);
  std::vector<float>().swap(step->profileBuffer);
  std::vector<uint8_t>().swap(step->spareBuffer);
  for (uint8_t*& s : step->slots) s = nullptr;
  for (float*& p : step->profiles) p = nullptr;
  step->rowSums = nullptr;
  step->spare = nullptr;
}

LVSAInput* LVSAInput_Create() { return new LVSAInput(); }

void LVSAInput_Destroy(LVSAInput* in) {
  if (!in) return;
  LVSAInput_Release(in);
  delete in;
}

uint32_t LVSAInput_State(const LVSAInput* in) { return in ? in->state : 0; }

void LVSAInput_Init(LVSAInput* in, const ADASConfig* config) {
  if (!in || !config || !config->C[kAdasLoaded] || !config->C[kAdasLvsaPresent]) return;
  const int32_t cols = config->C[kAdasLvsaCols], rows = config->C[kAdasLvsaRows];
  if (!AdasRemap_Fits(config->lvsa, cols, rows)) return;
  LVSAStep_Init(&in->step, cols, rows, config->C[kAdasLvsaFrontY], config->C[kAdasLvsaPresent + 1]);
  in->inited = 1;
}

void LVSAInput_Release(LVSAInput* in) {
  if (!in) return;
  LVSAStep_Release(&in->step);
  in->inited = 0;
}

int32_t LVSAInput_CanWrite(LVSAInput* in) {
  return Pending(in->writeIndex.load(std::memory_order_relaxed), in->readIndex.load(std::memory_order_acquire)) < 2;
}

int32_t LVSAInput_HasFrame(LVSAInput* in) {
  return Pending(in->writeIndex.load(std::memory_order_acquire), in->readIndex.load(std::memory_order_relaxed)) > 0;
}

void LVSAInput_NextRead(LVSAInput* in) {
  const int32_t next = (in->readIndex.load(std::memory_order_relaxed) + 1) % 3;
  in->step.readSlot = next;
  in->readIndex.store(next, std::memory_order_release);
}

void LVSAInput_NextWrite(LVSAInput* in) {
  const int32_t next = (in->writeIndex.load(std::memory_order_relaxed) + 1) % 3;
  in->step.writeSlot = next;
  in->writeIndex.store(next, std::memory_order_release);
}

void LVSAInput_RemapCamA(LVSAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kLuma, w, h, frame, config);
}
void LVSAInput_RemapCamB(LVSAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kPackedHigh, w, h, frame, config);
}
void LVSAInput_RemapCamC(LVSAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kPackedLow, w, h, frame, config);
}
void LVSAInput_RemapBGR(LVSAInput* in, int32_t w, int32_t h, const uint8_t* frame, const ADASConfig* config) {
  Remap(in, AdasPixel::kBGR, w, h, frame, config);
}

int32_t LVSAInput_RemapFetch(LVSAStep* step, const ImageI32* table, int32_t stride, int32_t, void* user,
                             AdasPixelFetch fetch) {
  if (!step || !table || !table->data || !fetch || step->writeSlot < 0 || step->writeSlot > 2 ||
      !step->slots[step->writeSlot])
    return 0;
  // Only as much of the table as the slot holds.
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(table->width) * table->height,
                                      static_cast<int64_t>(step->columns) * step->rows);
  uint8_t* dst = step->slots[step->writeSlot];
  for (int64_t i = 0; i < n; ++i) {
    const int32_t e = table->data[i];
    dst[i] = static_cast<uint8_t>(fetch(user, stride, static_cast<int16_t>((e >> 16) & 0xFFFF),
                                        static_cast<int16_t>(e & 0xFFFF)));
  }
  return table->width;
}

void LVSAInput_SetSpeed(LVSAInput* in, float speed) {
  if (speed >= 1.0f) {
    in->stopped = 0;
    in->moved = 1;
  } else if (!in->stopped) {
    in->stopped = 1;
    in->lastAlertMs = 0;
  }
}

void LVSAInput_SetNight(LVSAInput*, int32_t) {}

void LVSA_DetectStep(LVSAStep* s) {
  const int32_t rows = s->rows, cols = s->columns;
  if (!s->slots[0] || rows < 1) return;
  for (int k = 5; k > 0; --k) std::memcpy(s->profiles[k], s->profiles[k - 1], sizeof(float) * rows);
  const uint8_t* img = s->slots[s->readSlot];
  for (int32_t r = 0; r < rows; ++r) {
    uint32_t sum = 0;
    for (int32_t c = 0; c < cols; ++c) sum += img[static_cast<size_t>(r) * cols + c];
    s->rowSums[r] = sum;
  }
  if (rows > 6) {
    uint64_t run = 0;
    for (int32_t r = 0; r < 7; ++r) run += s->rowSums[r];
    const float denom = 7.0f * static_cast<float>(cols);
    for (int32_t k = 0; k <= rows - 7; ++k) {
      if (k > 0) run = run + s->rowSums[k + 6] - s->rowSums[k - 1];
      s->profiles[0][k] = static_cast<float>(run) / denom;
    }
  }
  s->frameCount += 1;
  if (s->frameCount <= 6) {
    s->result = (s->edgeRows[4] - s->edgeRows[0] > 2 && s->movingCount > 3) ? 1 : 0;
    return;
  }
  int32_t found = -1;
  for (int32_t k = rows - 7; k >= 0; --k)
    if (s->profiles[0][k] - s->profiles[5][k] > 12.0f) {
      found = k;
      break;
    }
  if (found < 0) {
    s->detectionCount = s->movingCount = 0;
    s->result = 0;
    return;
  }
  for (int i = 4; i > 0; --i) s->edgeRows[i] = s->edgeRows[i - 1];
  s->edgeRows[0] = found;
  s->detectionCount += 1;
  if (s->detectionCount <= 4 || !(found <= s->edgeRows[1] && s->edgeRows[4] > found)) {
    s->movingCount = 0;
    s->result = 0;
  } else {
    s->movingCount += 1;
    s->result = (s->edgeRows[4] - found > 2 && s->movingCount > 3) ? 1 : 0;
  }
}

void LVSAInput_Process(LVSAInput* in) {
  if (!in || !in->inited) return;
  in->step.readSlot = in->readIndex.load(std::memory_order_relaxed);
  LVSA_DetectStep(&in->step);
  const uint32_t now = Now(in);
  if (in->moved && in->lastAlertMs != 0 && now - in->lastAlertMs > 10000) {
    HoldExpiry(in, now);
  } else if (in->step.result == 1) {
    in->holdStartMs = now;
    in->state = in->step.result;
    if (in->moved) in->lastAlertMs = now;
  } else {
    HoldExpiry(in, now);
  }
}

void LVSAInput_ClearState(LVSAInput* in) {
  in->step.frameCount = 0;
  in->step.result = 0;
  in->state = 0;
  in->step.detectionCount = in->step.movingCount = 0;
}

void LVSAInput_SetHoldTime(LVSAInput* in, uint32_t ms) { in->holdTimeMs = ms; }

void LVSAInput_UpdateHold(LVSAInput* in, uint32_t value) {
  const uint32_t now = Now(in);
  if (value != 0) {
    in->holdStartMs = now;
    in->state = value;
  } else {
    HoldExpiry(in, now);
  }
}
