#include "pipeline/bsdsif_object.h"

#include <unistd.h>

#include <cmath>
#include <cstring>

#include "frame/clock.h"
#include "frame/log.h"
#include "frame/thread_start.h"

namespace {

int32_t Pending(int32_t write, int32_t read) { return ((write - read) % 3 + 3) % 3; }

uint32_t Now(const BSDSIFObject* obj) { return obj->tickMs ? obj->tickMs() : GetTickMs(); }

// Waits for the worker to leave after a stop request. The worker touches the
// object until it stores 0, so nothing may be freed or restarted before.
void WaitStopped(BSDSIFObject* obj) {
  for (int i = 0; obj->threadState.load(std::memory_order_acquire) != 0; ++i) {
    if (i == 50) AvmLog("BSDSIF worker %p still running, waiting\n", static_cast<void*>(obj));
    usleep(30 * 1000);
  }
}

void RequestStop(BSDSIFObject* obj) {
  uint32_t running = 1;
  if (obj->threadState.compare_exchange_strong(running, 2)) WaitStopped(obj);
}

void Report(BSDSIFObject* obj, uint32_t value, float a, float b) {
  if (obj->callback) obj->callback(value, obj->user, a, b);
}

template <typename Read>
void FeedWith(BSDSIFObject* obj, const uint8_t* frame, Read read) {
  if (!obj || !obj->inited || !frame) return;
  const int32_t write = obj->writeIndex.load(std::memory_order_relaxed);
  if (Pending(write, obj->readIndex.load(std::memory_order_acquire)) >= 2) return;
  uint8_t* dst = obj->slots[write];
  for (int32_t i = 0; i < kBsdsifStrip; ++i) {
    const int32_t e = obj->grid.data[i];
    dst[i] = e == -1 ? 0
                     : read(frame, static_cast<size_t>(static_cast<int16_t>((e >> 16) & 0xFFFF)) * obj->frameRowLength +
                                       static_cast<int16_t>(e & 0xFFFF));
  }
  obj->writeIndex.store((write + 1) % 3, std::memory_order_release);
}

void* Worker(void* arg) {
  BSDSIFObject* obj = static_cast<BSDSIFObject*>(arg);
  AvmLog("S_KRVBSDSIFThread_Linux Thread Start %p \n", arg);
  while (obj->threadState.load(std::memory_order_acquire) == 1) {
    if (BSDSIF_UpdateGate(&obj->gate, obj->speed.load(std::memory_order_relaxed))) obj->changed.store(1);
    const uint32_t enabled = obj->enabled.load(std::memory_order_relaxed);
    const uint32_t flagA = obj->gate.flagA.load(std::memory_order_relaxed);
    if (obj->changed.exchange(0)) {
      if (!(enabled && flagA) && obj->lastReported.load() != 0) Report(obj, 0, 0.0f, 0.0f);
      obj->state.store(0);
      obj->lastReported.store(static_cast<uint32_t>(-1));
      AvmLog("BSDSIF Change %p %d %d \n", arg, static_cast<int>(enabled), static_cast<int>(flagA));
    }
    if (!BSDSIF_HasFrame(obj)) {
      usleep(20 * 1000);
      continue;
    }
    if (!(enabled && flagA)) {
      BSDSIF_NextRead(obj);
      continue;
    }
    BSDSIF_StepAndHold(obj);
    BSDSIF_NextRead(obj);
    const uint32_t state = obj->state.load();
    const uint32_t value = (obj->gate.flagB.load() && state != 0) ? state : 0;
    if (value != 0 || obj->lastReported.load() != 0) {
      Report(obj, value, obj->reportA, obj->reportB);
      obj->lastReported.store(value);
    }
  }
  // The last touch of the object: after this store its owner may free it.
  obj->threadState.store(0, std::memory_order_release);
  AvmLog("S_KRVBSDSIFThread_Linux Thread End %p \n", arg);
  return nullptr;
}

}  // namespace

uint32_t BSDSIF_Init(BSDSIFObject* obj, int32_t rowLength, int32_t height, BSDSIFCallback callback, void* user,
                     float zoneLength, const float P00[2], const float P01[2], const float P10[2],
                     const float P11[2]) {
  if (!obj || obj->inited || rowLength < 1 || height < 1 || !(zoneLength > 0.0f) || !P00 || !P01 || !P10 || !P11)
    return 0;
  std::vector<int32_t> grid(kBsdsifStrip);
  float cellX[kBsdsifRows][2], cellY[kBsdsifRows][2];  // first and last cell of each row
  for (int32_t r = 0; r < kBsdsifRows; ++r) {
    const float t = static_cast<float>(r) / (kBsdsifRows - 1);
    for (int32_t c = 0; c < kBsdsifCols; ++c) {
      const float s = static_cast<float>(c) / (kBsdsifCols - 1);
      const float x = (1 - t) * ((1 - s) * P00[0] + s * P01[0]) + t * ((1 - s) * P10[0] + s * P11[0]);
      const float y = (1 - s) * ((1 - t) * P00[1] + t * P10[1]) + s * ((1 - t) * P01[1] + t * P11[1]);
      const int16_t xi = static_cast<int16_t>(x), yi = static_cast<int16_t>(y);
      if (c == 0 || c == kBsdsifCols - 1) {
        cellX[r][c == 0 ? 0 : 1] = xi;
        cellY[r][c == 0 ? 0 : 1] = yi;
      }
      // A cell outside the frame would be read past its end: it samples 0.
      const bool inside = x > -1.0f && y > -1.0f && xi >= 0 && yi >= 0 && xi < rowLength && yi < height;
      grid[static_cast<size_t>(r) * kBsdsifCols + c] =
          inside ? static_cast<int32_t>((static_cast<uint32_t>(static_cast<uint16_t>(yi)) << 16) |
                                        static_cast<uint16_t>(xi))
                 : -1;
    }
  }
  float w[kBsdsifRows];
  for (int32_t r = 0; r < kBsdsifRows; ++r) {
    w[r] = std::hypot(cellX[r][1] - cellX[r][0], cellY[r][1] - cellY[r][0]);
    if (!(w[r] > 0.0f)) return 0;
  }
  float a[kBsdsifRows];
  a[kBsdsifRows - 1] = 0.0f;
  for (int32_t r = kBsdsifRows - 2; r >= 0; --r) a[r] = a[r + 1] + w[kBsdsifRows - 1] / w[r];

  obj->frameRowLength = rowLength;
  obj->frameHeight = height;
  obj->zoneLength = zoneLength;
  obj->callback = callback;
  obj->user = user;
  for (int32_t r = 0; r < kBsdsifRows; ++r) obj->arcLength[r] = zoneLength - a[r] * (zoneLength / a[0]);
  obj->arcAt271 = obj->arcLength[271];
  obj->arcAt0 = obj->arcLength[0];
  obj->gridBuffer = std::move(grid);
  ImageI32 g{kBsdsifCols, kBsdsifRows, obj->gridBuffer.data()};
  obj->grid = g;

  // Zeroed history and background: the first steps compare with an empty
  // past instead of whatever the allocator left.
  obj->stripBuffer.assign(static_cast<size_t>(3 + kBsdsifHistory) * kBsdsifStrip, 0);
  for (int i = 0; i < 3; ++i) obj->slots[i] = obj->stripBuffer.data() + static_cast<size_t>(i) * kBsdsifStrip;
  for (int i = 0; i < kBsdsifHistory; ++i)
    obj->history[i] = obj->stripBuffer.data() + static_cast<size_t>(3 + i) * kBsdsifStrip;
  obj->rowBuffer.assign(4 * kBsdsifRows, 0);
  obj->rowSimilarSum = obj->rowBuffer.data();
  obj->rowSimilarCount = obj->rowBuffer.data() + kBsdsifRows;
  obj->rowBackground = obj->rowBuffer.data() + 2 * kBsdsifRows;
  obj->rowBinSum = obj->rowBuffer.data() + 3 * kBsdsifRows;
  obj->histogramBuffer.assign(static_cast<size_t>(kBsdsifRows) * 64, 0);
  obj->rowHistogram = obj->histogramBuffer.data();
  obj->ratioBuffer.assign(kBsdsifRows, 0.0f);
  obj->windowRatio = obj->ratioBuffer.data();
  std::memset(obj->windowHistogram, 0, sizeof(obj->windowHistogram));
  obj->historyRef = 1;
  obj->historyStore = 0;
  obj->runCount = 0;
  obj->targets = List{};
  obj->stepResult = 0;
  obj->reportA = obj->reportB = 0.0f;
  obj->state.store(0);
  obj->lastReported.store(0);
  obj->holdStartMs = 0;
  obj->writeIndex.store(0);
  obj->readIndex.store(0);
  obj->inited = 1;
  return 1;
}

void BSDSIF_Release(BSDSIFObject* obj) {
  if (!obj || !obj->inited) return;
  RequestStop(obj);
  BSDSIF_FreeTargets(&obj->targets);
  std::vector<int32_t>().swap(obj->gridBuffer);
  std::vector<uint8_t>().swap(obj->stripBuffer);
  std::vector<int32_t>().swap(obj->rowBuffer);
  std::vector<uint32_t>().swap(obj->histogramBuffer);
  std::vector<float>().swap(obj->ratioBuffer);
  obj->grid = ImageI32{};
  for (uint8_t*& s : obj->slots) s = nullptr;
  for (uint8_t*& h : obj->history) h = nullptr;
  obj->rowSimilarSum = obj->rowSimilarCount = obj->rowBackground = obj->rowBinSum = nullptr;
  obj->rowHistogram = nullptr;
  obj->windowRatio = nullptr;
  obj->inited = 0;
}

void BSDSIF_StartThread(BSDSIFObject* obj) {
  if (!obj || !obj->inited) return;
  uint32_t stopped = 0;
  if (!obj->threadState.compare_exchange_strong(stopped, 1)) return;
  Thread_CreateDetached(nullptr, Worker, obj);
}

void BSDSIF_StopThread(BSDSIFObject* obj) {
  if (obj) RequestStop(obj);
}

void BSDSIF_Ctrl(BSDSIFObject* obj, int32_t command) {
  AvmLog("BSDSIF_Ctrl %p %d \n", static_cast<void*>(obj), command);
  if (!obj) return;
  switch (command) {
    case 0:
      obj->enabled.store(0);
      obj->changed.store(1);
      break;
    case 1:
      obj->enabled.store(1);
      obj->changed.store(1);
      break;
    case 2: obj->secondSwitch.store(1); break;
    case 3: obj->secondSwitch.store(0); break;
    default: break;
  }
}

void BSDSIF_SetSpeedGate(BSDSIFObject* obj, int32_t v) {
  obj->gate.t1.store(v - 15);
  obj->gate.t2.store(v - 10);
  obj->gate.t3.store(v);
  obj->gate.t4.store(v - 5);
  obj->gate.flagA.store(0);
}

void BSDSIF_SetSpeed(BSDSIFObject* obj, int32_t speed) { obj->speed.store(speed); }
void BSDSIF_SetHoldTime(BSDSIFObject* obj, uint32_t ms) { obj->holdTimeMs.store(ms); }

void BSDSIF_ClearState(BSDSIFObject* obj) {
  obj->state.store(0);
  obj->lastReported.store(static_cast<uint32_t>(-1));
}

uint32_t BSDSIF_IsActive(const BSDSIFObject* obj) { return obj->enabled.load() && obj->gate.flagA.load(); }

uint32_t BSDSIF_GetResult(const BSDSIFObject* obj) { return obj->gate.flagB.load() ? obj->state.load() : 0; }

uint32_t BSDSIF_HasFrame(const BSDSIFObject* obj) {
  return Pending(obj->writeIndex.load(std::memory_order_acquire), obj->readIndex.load(std::memory_order_relaxed)) >
         0;
}

uint32_t BSDSIF_CanWrite(const BSDSIFObject* obj) {
  return Pending(obj->writeIndex.load(std::memory_order_relaxed), obj->readIndex.load(std::memory_order_acquire)) <
         2;
}

void BSDSIF_NextRead(BSDSIFObject* obj) {
  obj->readIndex.store((obj->readIndex.load(std::memory_order_relaxed) + 1) % 3, std::memory_order_release);
}

void BSDSIF_NextWrite(BSDSIFObject* obj) {
  obj->writeIndex.store((obj->writeIndex.load(std::memory_order_relaxed) + 1) % 3, std::memory_order_release);
}

void BSDSIF_FeedPacked(BSDSIFObject* obj, const uint8_t* frame) {
  FeedWith(obj, frame, [](const uint8_t* f, size_t p) { return f[2 * p + 1]; });
}

void BSDSIF_FeedLuma(BSDSIFObject* obj, const uint8_t* frame) {
  FeedWith(obj, frame, [](const uint8_t* f, size_t p) { return f[p]; });
}

void BSDSIF_FeedBGR(BSDSIFObject* obj, const uint8_t* frame) {
  FeedWith(obj, frame, [](const uint8_t* f, size_t p) {
    const uint8_t* q = f + 3 * p;
    return static_cast<uint8_t>(0.114f * q[0] + 0.5868f * q[1] + 0.2992f * q[2]);
  });
}

void BSDSIF_FeedFetch(BSDSIFObject* obj, void* user, int32_t (*fetch)(void*, int32_t, int32_t, int32_t)) {
  if (!obj || !obj->inited || !fetch) return;
  uint8_t* dst = obj->slots[obj->writeIndex.load(std::memory_order_relaxed)];
  for (int32_t i = 0; i < kBsdsifStrip; ++i) {
    const int32_t e = obj->grid.data[i];
    dst[i] = e == -1 ? 0
                     : static_cast<uint8_t>(fetch(user, obj->frameRowLength, static_cast<int16_t>((e >> 16) & 0xFFFF),
                                                  static_cast<int16_t>(e & 0xFFFF)));
  }
}

uint32_t BSDSIF_UpdateGate(BSDSIFGate* gate, int32_t speed) {
  const uint32_t before = gate->flagA.load();
  if (speed > gate->t2.load())
    gate->flagA.store(1);
  else if (speed < gate->t1.load())
    gate->flagA.store(0);
  if (speed > gate->t3.load())
    gate->flagB.store(1);
  else if (speed < gate->t4.load())
    gate->flagB.store(0);
  return gate->flagA.load() != before;
}

void BSDSIF_UpdateHold(BSDSIFObject* obj, uint32_t value) {
  const uint32_t now = Now(obj);
  if (value != 0) {
    obj->state.store(value);
    obj->holdStartMs = now;
  } else if (now - obj->holdStartMs > obj->holdTimeMs.load()) {
    obj->state.store(0);
  }
}

void BSDSIF_StepAndHold(BSDSIFObject* obj) {
  if (!obj || !obj->inited) return;
  BSDSIF_Step(obj);
  BSDSIF_UpdateHold(obj, obj->stepResult);
}
