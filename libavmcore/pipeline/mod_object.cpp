// Moving-object detector object: set-up from the driver-assistance
// configuration, the signal setters and the result queries.
#include <cstdlib>
#include <string>

#include "frame/clock.h"
#include "frame/log.h"
#include "pipeline/adas_config.h"
#include "pipeline/mod_object.h"

namespace {

std::string g_tuningFile;  // empty: the fixed path
std::atomic<uint32_t (*)()> g_clock{nullptr};

int32_t BlockIndex(int32_t id) {
  switch (id) {
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return 0;
  }
}

// Copy of a block table with every entry that addresses no pixel of the
// frameWidth x frameHeight frame set to 0 (frame sizes below 1 check only
// the sign).
void CheckTable(const ImageI32& lut, int32_t frameWidth, int32_t frameHeight, std::vector<int32_t>* out) {
  const size_t n = static_cast<size_t>(lut.width) * lut.height;
  out->assign(lut.data, lut.data + n);
  int32_t bad = 0;
  for (int32_t& e : *out) {
    const int32_t row = e >> 16, col = e & 0xFFFF;
    if (row < 0 || (frameHeight > 0 && row >= frameHeight) || (frameWidth > 0 && col >= frameWidth)) {
      e = 0;
      ++bad;
    }
  }
  if (bad > 0) AvmLog("MOD table: %d entries outside the frame read pixel 0\n", bad);
}

}  // namespace

void MOD_SetTuningFile(const char* path) { g_tuningFile = path != nullptr ? path : ""; }

void MOD_SetClock(uint32_t (*clock)()) { g_clock = clock; }

uint32_t MOD_Now() {
  uint32_t (*c)() = g_clock.load();
  return c != nullptr ? c() : GetTickMs();
}

int MOD_InitBlock(MODBlock* block, int32_t width, int32_t height, int32_t PPP, int32_t id) {
  if (block == nullptr) return 0;
  MOD_ReleaseBlock(block);
  const int32_t processed = id == 1 ? height - kModBlock1SkipRows : height;
  if (width < 1 || processed < 1 || PPP < 1) return 0;
  block->id = id;
  block->PPP = PPP;
  block->width = width;
  block->height = processed;
  block->bufferHeight = height;
  const size_t slot = static_cast<size_t>(width) * height;
  block->storage.assign(slot * kModRingSlots, 0);
  for (int k = 0; k < kModRingSlots; ++k) {
    block->frames[k] = block->storage.data() + slot * k;
    block->frameTimes[k] = 0;
  }
  block->lastSlot = 0;
  block->lastTime = 0;
  block->writePos = block->readPos = 0;
  block->warmup = 0;
  block->history = 0;
  block->hits = 0;
  MODBlockTrackerInit(&block->tracker, width, processed);
  block->tracker.id = id;
  block->tracker.motion = block->motion.m;
  AvmLog("MOD BLOCK%d: phy/pixel = %d, [%d x %d]\n", id, PPP, width, processed);
  return 1;
}

void MOD_ReleaseBlock(MODBlock* block) {
  if (block == nullptr) return;
  for (uint8_t*& f : block->frames) f = nullptr;
  std::vector<uint8_t>().swap(block->storage);
  std::vector<int32_t>().swap(block->table);
  MODBlockTrackerRelease(&block->tracker);
}

MODObject* MOD_Create() { return new MODObject(); }

void MOD_Destroy(MODObject* object) {
  MOD_Release(object);
  delete object;
}

void MOD_Init(MODObject* object, const ADASConfig* config) {
  if (object == nullptr || config == nullptr) return;
  if (config->C[kAdasLoaded] == 0 || config->C[kAdasModsPresent] == 0) return;
  MOD_Release(object);
  MODTuning_Reset();
  int32_t objectValue = 25;
  MODTuning_Load(g_tuningFile.empty() ? kModTuningPath : g_tuningFile.c_str(), &objectValue);

  MODVehicleState& v = object->vehicle;
  v.CW = config->C[kAdasCarWidth];
  v.CL = config->C[kAdasCarLength];
  v.LL = config->C[kAdasWheelBase];
  v.DL = config->C[kAdasFrontOverhang];
  const int32_t PPP = config->C[kAdasModsPresent + 1];
  AvmLog("MOD version : %s(%s - %s)\n", "V1.11", "2022-10-25", "15:00:00");
  AvmLog("===> MOD Car info <===\n");
  AvmLog("   PHY PPP   : %d\n", PPP);
  AvmLog("   PHY CL    : %d\n", v.CL);
  AvmLog("   PHY CW    : %d\n", v.CW);
  AvmLog("   PHY LL    : %d\n", v.LL);
  AvmLog("   PHY DL    : %d\n", v.DL);
  AvmLog("========================\n");

  // The ego motion divides by PPP and block 1 drops 18 rows: refuse what
  // would divide by zero or leave no rows.
  const int32_t w12 = config->C[kAdasModsCols], h12 = config->C[kAdasModsRows];
  const int32_t w48 = config->C[kAdasModsSideCols], h48 = config->C[kAdasModsSideRows];
  if (PPP <= 0 || h12 <= kModBlock1SkipRows || w12 < 1 || w48 < 1 || h48 < 1) {
    AvmLog("MOD init refused: PPP %d, blocks %d x %d and %d x %d\n", PPP, w12, h12, w48, h48);
    return;
  }
  const int32_t fw = config->C[kAdasFrameWidth], fh = config->C[kAdasFrameHeight];
  for (int b = 0; b < 4; ++b) {
    const int32_t w = b < 2 ? w12 : w48, h = b < 2 ? h12 : h48;
    const ImageI32& lut = config->mods[b];
    if (lut.data == nullptr || lut.width != w || lut.height != h) {
      AvmLog("MOD init refused: table %d is %d x %d, block %d x %d\n", b + 1, lut.width, lut.height, w, h);
      MOD_Release(object);
      return;
    }
    MODBlock& blk = object->blocks[b];
    MOD_InitBlock(&blk, w, h, PPP, kModBlockIds[b]);
    CheckTable(lut, fw, fh, &blk.table);
    blk.vehicle = &v;
    blk.tracker.vehicle = &v;
  }
  object->writePos.store(0, std::memory_order_relaxed);
  object->readPos.store(0, std::memory_order_relaxed);
  object->activeBlocks = 15;
  object->initialised = 1;
}

void MOD_Release(MODObject* object) {
  if (object == nullptr) return;
  for (MODBlock& b : object->blocks) MOD_ReleaseBlock(&b);
  object->initialised = 0;
}

void MOD_SetSpeedAngle(MODObject* object, int32_t speed, int32_t angle) {
  if (object == nullptr) return;
  int32_t offset = 0;
  if (speed >= 13)
    offset = 5;
  else if (speed >= 5)
    offset = (speed - 3) / 2;  // 5-6: 1, 7-8: 2, 9-10: 3, 11-12: 4
  const int32_t stored = speed + offset;
  MODVehicleState& v = object->vehicle;
  // The signed value is always stored: the step negates it in reverse gear,
  // and a negated value kept after leaving reverse would run the ego motion
  // backwards. Only that negation is not logged as a change.
  const bool logged = (stored != v.speed && -stored != v.speed) || angle != v.angle;
  v.speed = stored;
  v.angle = angle;
  if (logged) AvmLog("MOD set speed angle [%d, %d]\n", stored, angle);
}

void MOD_SetGear(MODObject* object, int32_t gear) {
  if (object == nullptr || object->vehicle.gear == gear) return;
  object->vehicle.gear = gear;
  AvmLog("MOD Set gear [%d]\n", gear);
}

void MOD_SetSideSignal(MODObject* object, int32_t side, float value) {
  if (object == nullptr) return;
  (side == 0 ? object->vehicle.sideSignal0 : object->vehicle.sideSignal1).store(value, std::memory_order_relaxed);
}

void MOD_SetKeepTime(MODObject* object, uint32_t ms) {
  if (object == nullptr) return;
  object->vehicle.keepTime = ms;
  AvmLog("MOD Set keep time [%d]\n", static_cast<int32_t>(ms));
}

uint32_t MOD_GetKeepTime(const MODObject* object) { return object != nullptr ? object->vehicle.keepTime.load() : 0; }

void MOD_SetRadarInfo(MODObject* object, int32_t sensor, uint32_t word) {
  if (object == nullptr || sensor < 1 || sensor > 4) return;
  const uint32_t stored = (word & 0xF000u) != 0 ? 0xFFFFFFFFu : word;
  object->vehicle.radar[sensor - 1] = stored;
  AvmLog("MOD RadarInfo %d:[%04X]\n", sensor - 1, stored);
}

void MOD_SetMask(MODObject* object, uint32_t mask) {
  if (object == nullptr) return;
  object->vehicle.mask = mask;
  AvmLog("MOD Set mask [0x%X]\n", mask);
}

int32_t MOD_GetResult(MODObject* object, int32_t block) {
  return object != nullptr ? object->blocks[BlockIndex(block)].tracker.resultX : 0;
}

int32_t MOD_GetResultValue(MODObject* object, int32_t block) {
  return object != nullptr ? object->blocks[BlockIndex(block)].tracker.resultY : 0;
}

uint32_t MOD_GetAlarm(const MODObject* object, int32_t block) {
  if (object == nullptr || (block != 1 && block != 2 && block != 4 && block != 8)) return 0;
  return object->vehicle.alarms[BlockIndex(block)].alarm;
}

void MOD_ClearResults(MODObject* object) {
  if (object == nullptr) return;
  for (int b = 0; b < 4; ++b) {
    object->vehicle.alarms[b].alarm = 0;
    object->blocks[b].history = 0;
    object->blocks[b].hits = 0;
  }
}

const ImageU8* MOD_GetBlockImage(const MODObject* object, int32_t id) {
  if (object == nullptr || (id != 1 && id != 2 && id != 4 && id != 8)) return nullptr;
  return &object->blocks[BlockIndex(id)].tracker.workImage;
}

int32_t MOD_TrackerDetected(const MODBlockTracker* tracker) { return tracker != nullptr ? tracker->detected : 0; }

const ImageU8* MOD_TrackerImage(const MODBlockTracker* tracker, int32_t index) {
  if (tracker == nullptr) return nullptr;
  if (index == 1) return &tracker->staticMask;
  if (index == 2) return &tracker->spareImage;
  return &tracker->workImage;
}
