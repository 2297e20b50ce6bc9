// One step of the moving-object detector: block selection, ego motion, the
// per-block detection, hit histories and the alarms (with the parking radar
// as second opinion near the bumpers).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "frame/log.h"
#include "pipeline/mod_object.h"

namespace {

// Mean step time over 200 steps (the worker is the only caller).
uint64_t g_stepSum = 0;
int32_t g_stepCount = 0;

// Radar bits that cover the lateral position x (mm) of an object at a
// bumper, or -1 when x lies beyond the radar's reach.
int32_t RadarBits(int32_t x, int32_t half) {
  const float h = static_cast<float>(half), fx = static_cast<float>(x);
  if (fx > 0.7f * h && fx < 1.8f * h) return 0xF00;
  if (std::abs(x) <= 0.7f * h) return 0x0F0;
  if (fx > -1.8f * h && fx < -0.7f * h) return 0x00F;
  return -1;
}

}  // namespace

void MOD_ComputeMotion(const MODBlock* block, const MODVehicleState* vehicle, MODMotion* motion) {
  const int32_t PPP = block->PPP > 0 ? block->PPP : 1;
  const float dist = static_cast<float>(vehicle->frameGap) * static_cast<float>(vehicle->speed) /
                     (static_cast<float>(PPP) * 3.6f);
  float* m = motion->m;
  std::memset(m, 0, sizeof motion->m);
  if (std::fabs(static_cast<float>(vehicle->angle)) < 2.5f) {
    m[1] = dist;
    return;
  }
  const float t = std::tan(static_cast<float>(vehicle->angle) * 3.1415927f / 180.0f);
  const float R = static_cast<float>(vehicle->LL / PPP) / t;
  const float s = std::sin(dist / R), c = std::cos(dist / R);
  float x0 = -R;
  float y0 = static_cast<float>(vehicle->CL / PPP) / 2.0f - static_cast<float>(vehicle->DL / PPP);
  const float alongY = static_cast<float>(block->height / 2) + static_cast<float>(vehicle->CL / PPP) / 2.0f;
  const float alongX = static_cast<float>(block->width / 2) + static_cast<float>(vehicle->CW / PPP) / 2.0f;
  switch (block->id) {
    case 1: y0 += alongY; break;
    case 2: y0 -= alongY; break;
    case 4: x0 += alongX; break;
    default: x0 -= alongX; break;
  }
  m[0] = s * y0 + (1.0f - c) * x0;
  m[1] = (1.0f - c) * y0 - s * x0;
  m[2] = c - 1.0f;
  m[3] = -s;
  m[4] = s;
  m[5] = c - 1.0f;
}

void MOD_StepBlock(MODBlock* block, MODVehicleState* vehicle) {
  if (block == nullptr || vehicle == nullptr || block->frames[block->readPos] == nullptr) return;
  uint8_t* data = block->frames[block->readPos];
  if (block->id == 1) data += static_cast<size_t>(kModBlock1SkipRows) * block->width;
  ImageU8 image{block->width, block->height, data};

  const uint64_t stamp = block->frameTimes[block->readPos];
  const uint32_t gap = static_cast<uint32_t>(stamp) - static_cast<uint32_t>(block->lastTime);
  if (gap >= 1 && gap <= 200) {
    vehicle->frameGap = static_cast<int32_t>(gap);
  } else {
    vehicle->frameGap = 66;
    block->history = 0;
    block->hits = 0;
  }
  block->lastSlot = block->readPos;
  block->lastTime = stamp;

  MOD_ComputeMotion(block, vehicle, &block->motion);
  if ((g_modTuning.debugFlags & 1) != 0)
    AvmLog("==> TTT = %d, fps=%.2f\n", vehicle->frameGap, 1000.0 / vehicle->frameGap);

  block->tracker.motion = block->motion.m;
  block->tracker.vehicle = vehicle;
  MOD_DetectBlock(&block->tracker, &image);
  std::memcpy(block->tracker.previousFrame.data, image.data, static_cast<size_t>(block->width) * block->height);

  if (block->warmup < 30) {
    ++block->warmup;
    return;
  }
  if ((block->history & static_cast<uint32_t>(g_modTuning.historyTopBit)) != 0) block->hits -= 1;
  block->history = (block->history << 1) & static_cast<uint32_t>(g_modTuning.historyMask);
  if (block->tracker.detected != 0) {
    block->history |= 1;
    block->hits += 1;
  }
}

uint32_t MOD_UpdateAlarms(MODObject* object, int hit1, int hit2, int hit4, int hit8) {
  if (object == nullptr) return 0;
  MODVehicleState& v = object->vehicle;
  const uint64_t now = MOD_Now();
  const int hit[4] = {hit1, hit2, hit4, hit8};
  uint32_t changes = 0;
  for (int b = 0; b < 4; ++b) {
    MODAlarm& a = v.alarms[b];
    MODBlockTracker& t = object->blocks[b].tracker;
    const int32_t id = kModBlockIds[b];
    if (!hit[b]) {
      // 32-bit difference: the clock wraps.
      if (a.alarm == 1 && static_cast<uint32_t>(now - a.alarmTime) > v.keepTime.load()) {
        a.alarm = 0;
        changes |= static_cast<uint32_t>(id);
      }
      continue;
    }
    bool raise = true;
    if (id == 1 || id == 2) {
      const int32_t beyond = id == 1 ? -t.resultY - v.CL / 2 : t.resultY - v.CL / 2;
      if (beyond < 1800) {
        const int32_t bits = RadarBits(t.resultX, v.CW / 2);
        const uint32_t word = v.radar[id == 1 ? 0 : 1].load(std::memory_order_relaxed);
        raise = bits < 0 || word == 0xFFFFFFFFu || (word & static_cast<uint32_t>(bits)) != 0;
      }
    }
    if (!raise) continue;
    if (a.alarm == 0) changes |= static_cast<uint32_t>(id);
    a.alarmTime = now;
    a.alarm = 1;
    if (id == 8 && (t.resultX != t.lastReported[0] || t.resultY != t.lastReported[1])) {
      changes |= 8u;
      t.lastReported[0] = t.resultX;
      t.lastReported[1] = t.resultY;
    }
  }
  return changes;
}

uint32_t MOD_Process(MODObject* object) {
  if (object == nullptr || object->initialised == 0) return 0;
  const uint32_t start = MOD_Now();
  MODVehicleState& v = object->vehicle;
  if ((g_modTuning.debugFlags & 8) != 0) AvmLog("Speed = %d, Ag = %d\n", v.speed, v.angle);

  uint32_t base;
  if (v.gear == 1) {
    base = 1;
  } else if (v.gear == 2) {
    base = 2;
    if (v.speed > 0) v.speed = -v.speed;
  } else {
    base = v.speed > 0 ? 1u : v.speed < 0 ? 2u : 15u;
  }
  const uint32_t mask = v.mask.load(std::memory_order_relaxed);
  const uint32_t always = (mask >> 4) & 15u, removed = mask & 15u;
  const float s0 = v.sideSignal0.load(std::memory_order_relaxed), s1 = v.sideSignal1.load(std::memory_order_relaxed);
  uint32_t selection;
  if (v.speed == 0)
    selection = s0 > 0.0f || s1 > 0.0f ? always : always | (base & ~removed);
  else
    selection = s0 >= 0.0001f || s1 >= 0.0001f ? always | (base & ~removed) : always;
  object->activeBlocks.store(selection, std::memory_order_relaxed);

  const int32_t readPos = object->readPos.load(std::memory_order_relaxed);
  uint32_t changes = 0;
  for (int b = 0; b < 4; ++b) {
    MODBlock& blk = object->blocks[b];
    blk.readPos = readPos;
    if ((selection & static_cast<uint32_t>(kModBlockIds[b])) != 0) {
      MOD_StepBlock(&blk, &v);
    } else {
      blk.history = 0;
      blk.hits = 0;
      if (v.alarms[b].alarm == 1) {
        v.alarms[b].alarm = 0;
        changes |= static_cast<uint32_t>(kModBlockIds[b]);
      }
    }
  }

  g_stepSum += MOD_Now() - start;
  if (++g_stepCount == 200) {
    AvmLog("modt : %lu\n", static_cast<unsigned long>(g_stepSum / 200));
    g_stepSum = 0;
    g_stepCount = 0;
  }
  const int32_t threshold = g_modTuning.hitThreshold;
  changes |= MOD_UpdateAlarms(object, object->blocks[0].hits >= threshold, object->blocks[1].hits >= threshold,
                              object->blocks[2].hits >= threshold, object->blocks[3].hits >= threshold);
  return changes;
}
