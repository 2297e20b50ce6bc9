#pragma once
// Moving-object detector (MODS): watches four ground blocks of the
// bird's-eye picture around the vehicle and reports an object that moves
// relative to the ground near it. Block ids 1 (ahead; the vehicle beyond the
// bottom edge), 2 (behind; beyond the top edge), 4 (left; beyond the right
// edge) and 8 (right; beyond the left edge) are also their bits in every
// block mask.
//
// Threads: frames are pushed by the decoder's analysis thread and taken by
// the MODS worker through a 16-slot ring (at most 12 pending); the two ring
// positions are atomics, each written by one side only and published with
// release. Signal setters may run in any thread; the step and the speed and
// gear setters run in the worker.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"
#include "pipeline/adas_function_services.h"
#include "pipeline/mod_core.h"

constexpr int32_t kModRingSlots = 16;
constexpr int32_t kModMaxPending = 12;
constexpr int32_t kModBlock1SkipRows = 18;  // rows of block 1's table left out (under the vehicle's front)
constexpr int32_t kModBlockIds[4] = {1, 2, 4, 8};

struct MODAlarm {
  uint64_t alarmTime;  // last raising or confirmation
  uint32_t alarm;      // 1 while raised
};

struct MODVehicleState {
  int32_t speed = 0;  // stored with the speed offset; negated by the step while gear 2 is set
  int32_t angle = 0;  // steering angle, degrees
  int32_t gear = 0;
  std::atomic<float> sideSignal0{0.0f}, sideSignal1{0.0f};
  int32_t LL = 2500;  // mm: sets the turning radius with the steering angle
  int32_t DL = 500;   // mm: turning centre from the rear end
  int32_t frameGap = 0;  // ms between this and the previous processed frame of the block being stepped
  int32_t CW = 1960;  // car width, mm
  int32_t CL = 5280;  // car length, mm
  std::atomic<uint32_t> keepTime{1000};  // ms an alarm stays raised after its last confirmation
  std::atomic<uint32_t> radar[4] = {{0xFFFFFFFFu}, {0xFFFFFFFFu}, {0xFFFFFFFFu}, {0xFFFFFFFFu}};
  MODAlarm alarms[4] = {};  // blocks 1, 2, 4, 8
  uint64_t pushTime = 0;
  std::atomic<uint32_t> mask{0};
};

// Ego motion since the previous processed frame: a ground point at (u, v)
// from the block centre moves by dx = m0 + m2 u + m3 v, dy = m1 + m4 u + m5 v.
struct MODMotion {
  float m[6];
};

struct MODBlock {
  MODBlock() = default;
  MODBlock(const MODBlock&) = delete;
  MODBlock& operator=(const MODBlock&) = delete;

  uint8_t* frames[kModRingSlots] = {};  // width x bufferHeight bytes each, into storage
  uint64_t frameTimes[kModRingSlots] = {};
  int32_t lastSlot = 0;
  // Time stamp of the slot processed last, kept here: once read, that slot
  // belongs to the feed again (and a block left out of the selection for a
  // while may find it refilled).
  uint64_t lastTime = 0;
  int32_t id = 0;
  int32_t writePos = 0, readPos = 0;  // copies of the object's positions
  int32_t PPP = 0;                    // mm per pixel
  int32_t width = 0, height = 0;      // processed image; block 1: table height - 18
  int32_t bufferHeight = 0;           // table height
  int32_t warmup = 0;
  uint32_t history = 0;
  int32_t hits = 0;
  MODBlockTracker tracker;
  MODVehicleState* vehicle = nullptr;
  MODMotion motion = {};
  // The block's table, checked at Init: entries that address no pixel of
  // the configured frame are 0.
  std::vector<int32_t> table;
  std::vector<uint8_t> storage;
};

struct MODObject {
  MODObject() = default;
  MODObject(const MODObject&) = delete;
  MODObject& operator=(const MODObject&) = delete;

  std::atomic<int32_t> writePos{0};  // advanced by the feed only
  std::atomic<int32_t> readPos{0};   // advanced by the worker only
  std::atomic<uint32_t> activeBlocks{15};
  MODBlock blocks[4];  // 1, 2, 4, 8
  MODVehicleState vehicle;
  int32_t initialised = 0;
};

// --- object ------------------------------------------------------------
// Declared with the manager's calls (adas_function_services.h):
// MOD_Create, MOD_Destroy, MOD_Init, MOD_Release, the setters, the ring and
// push operations it uses, MOD_Process, MOD_GetResult, MOD_GetResultValue,
// MOD_ClearResults and MOD_GetAlarm.
//
// MOD_Init sets the detector up from the configuration (base file loaded and
// MODS file read): car values, PPP, block sizes and tables, frame rings and
// trackers; it reads the tuning file first. Without the two files it leaves
// the object untouched. It leaves MODS off (released; MOD_CanWrite and
// MOD_HasFrame 0, MOD_Process nothing) when PPP is not positive, the
// block-1/2 height is 18 or less (block 1 would have no rows), a block size
// is not positive or a table's size differs from its block's.
//
// MOD_GetResult and MOD_GetResultValue give the result pair (X, Y in mm,
// vehicle frame) of block 2, 4 or 8, and of block 1 for any other id.
uint32_t MOD_GetKeepTime(const MODObject* object);
// First image of the block's tracker, or null for another id.
const ImageU8* MOD_GetBlockImage(const MODObject* object, int32_t id);
// One block as MOD_Init sets it (height minus 18 for id 1). Returns 1, or 0
// for sizes below 1 (block 1: a height of 18 or less) or PPP below 1.
int MOD_InitBlock(MODBlock* block, int32_t width, int32_t height, int32_t PPP, int32_t id);
void MOD_ReleaseBlock(MODBlock* block);
int32_t MOD_TrackerDetected(const MODBlockTracker* tracker);
// index 1 or 2: the static mask or the spare image; anything else the first.
const ImageU8* MOD_TrackerImage(const MODBlockTracker* tracker, int32_t index);

// Test seams: the tuning file read by MOD_Init (null restores the fixed
// path) and the millisecond clock of the step and the pushes (null restores
// GetTickMs).
void MOD_SetTuningFile(const char* path);
void MOD_SetClock(uint32_t (*clock)());
uint32_t MOD_Now();

// --- ring and frame input -------------------------------------------------
// The pushes (MOD_PushFrameGray, UYVY, YUYV, Planes and BGR) fill the slot at
// the write position of each active block and advance the write position.
// The source height bounds the rows the tables may address; a table entry
// outside width x height reads pixel 0.
// B, G, R bytes; returns the new write position.
int32_t MOD_PushFrameBGR(MODObject* object, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config);
// Time stamps of the slot (with the stored push time) and advance.
void MOD_CommitWrite(MODObject* object);
typedef uint8_t (*MODSampler)(const void* context, int32_t stride, int32_t row, int32_t column);
// Fills the block's slot at its write position through lut, each byte from
// sampler(context, stride, source row, source column); block 1 leaves its
// first 18 rows out.
void MOD_FillBlock(MODBlock* block, const ImageI32* lut, int32_t stride, const void* context, MODSampler sampler);

// --- step ---------------------------------------------------------------
// MOD_Process: one step on the frame at the read position; returns the bits
// of the blocks whose alarm changed.
void MOD_StepBlock(MODBlock* block, MODVehicleState* vehicle);
void MOD_ComputeMotion(const MODBlock* block, const MODVehicleState* vehicle, MODMotion* motion);
// The alarm rules with each block's "hits at the threshold" given; returns
// the change bits.
uint32_t MOD_UpdateAlarms(MODObject* object, int hit1, int hit2, int hit4, int hit8);

// --- block detection ---------------------------------------------------
void MOD_DetectBlock(MODBlockTracker* tracker, ImageU8* image);
void MOD_DetectAndKeep(MODBlockTracker* tracker, ImageU8* image);
int32_t MOD_HistPeak(const ImageU8* image, int32_t first, int32_t window);
struct BlobList;
void MOD_ExtractRects(MODBlockTracker* tracker, BlobList* blobs);
void MOD_RectsFromContours(MODBlockTracker* tracker, BlobList* blobs);
// Pairs of (current index, previous index) of the step's pairing.
void MOD_PairRects(MODBlockTracker* tracker, std::vector<int32_t>* pairs);
void MOD_EvaluateTracks(MODBlockTracker* tracker);
void MOD_UpdatePosition(MODBlockTracker* tracker, float x, float y);
void MOD_EgoFlowAt(const MODBlockTracker* tracker, float* dx, float* dy, float x, float y);
int MOD_WindowDensityTest(const ImageU8* image, int32_t r, int32_t minCount, float fraction);
int MOD_WindowDensityMask(const ImageU8* image, ImageU8* mask, int32_t r, int32_t minCount, float fraction);
void MOD_BandMaskF(Matrix* image, float high, float low);
void MOD_BandMaskU8F(const ImageU8* image, Matrix* mask, int32_t high, int32_t low);
void MOD_BandMaskU8(const ImageU8* image, ImageU8* mask, int32_t high, int32_t low);
