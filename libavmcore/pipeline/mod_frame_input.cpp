// Frame ring of the moving-object detector and the pushes that cut the four
// block images out of a frame through the block tables.
#include <cstddef>

#include "frame/log.h"
#include "pipeline/mod_object.h"

namespace {

int32_t Pending(int32_t write, int32_t read) {
  const int32_t d = write - read;
  return d < 0 ? d + kModRingSlots : d;
}

struct Source {
  const uint8_t* data;
  int32_t width, height;
  int32_t bytesPerPixel;  // 2 packed YUV, 1 grey, 3 BGR
  int32_t lumaByte;       // offset of the luma byte in a packed pixel
  bool fold;              // planes: quad-frame positions fold onto the camera's plane
};

uint8_t SampleLuma(const void* context, int32_t stride, int32_t row, int32_t col) {
  const Source* s = static_cast<const Source*>(context);
  if (s->fold) {
    // A quad frame is 2 x 2 planes: a position in it is one in the camera's
    // plane (the tables may still be in quad-frame form).
    if (col >= s->width) col -= s->width;
    if (row >= s->height) row -= s->height;
  }
  if (row >= s->height || col >= s->width) row = col = 0;  // bad entries read pixel 0
  return s->data[static_cast<size_t>(row) * stride + static_cast<size_t>(col) * s->bytesPerPixel + s->lumaByte];
}

uint8_t SampleBGR(const void* context, int32_t stride, int32_t row, int32_t col) {
  const Source* s = static_cast<const Source*>(context);
  if (row >= s->height || col >= s->width) row = col = 0;
  const uint8_t* p = s->data + static_cast<size_t>(row) * stride + static_cast<size_t>(col) * 3;
  float v = p[0] * 0.114f + p[1] * 0.587f + p[2] * 0.299f;
  if (v > 255.0f) v = 255.0f;
  return static_cast<uint8_t>(v);
}

// Steps 1 and 2 of a push (stamp, fill the active blocks) with one sampler
// per block; then the commit.
template <typename SourceOf>
void Push(MODObject* object, int32_t width, int32_t height, SourceOf sourceOf, MODSampler sampler) {
  if (object == nullptr || object->initialised == 0 || width < 1 || height < 1) return;
  object->vehicle.pushTime = MOD_Now();
  const uint32_t active = object->activeBlocks.load(std::memory_order_relaxed);
  for (int b = 0; b < 4; ++b) {
    MODBlock& blk = object->blocks[b];
    if ((active & static_cast<uint32_t>(kModBlockIds[b])) == 0) continue;
    Source src{};
    int32_t stride = 0;
    if (!sourceOf(b, &src, &stride) || src.data == nullptr) continue;
    ImageI32 lut{blk.width, blk.bufferHeight, blk.table.data()};
    MOD_FillBlock(&blk, &lut, stride, &src, sampler);
  }
  MOD_CommitWrite(object);
}

template <int32_t kBytes, int32_t kLuma>
void PushPacked(MODObject* object, int32_t width, int32_t height, const uint8_t* frame) {
  Push(
      object, width, height,
      [&](int, Source* s, int32_t* stride) {
        *s = Source{frame, width, height, kBytes, kLuma, false};
        *stride = width * kBytes;
        return true;
      },
      kBytes == 3 ? SampleBGR : SampleLuma);
}

}  // namespace

int32_t MOD_HasFrame(MODObject* object) {
  if (object == nullptr || object->initialised == 0) return 0;
  return Pending(object->writePos.load(std::memory_order_acquire), object->readPos.load(std::memory_order_relaxed)) >
                 0
             ? 1
             : 0;
}

int32_t MOD_CanWrite(MODObject* object) {
  if (object == nullptr || object->initialised == 0) return 0;
  return Pending(object->writePos.load(std::memory_order_relaxed), object->readPos.load(std::memory_order_acquire)) <
                 kModMaxPending
             ? 1
             : 0;
}

void MOD_NextRead(MODObject* object) {
  if (object == nullptr) return;
  const int32_t old = object->readPos.load(std::memory_order_relaxed);
  if ((g_modTuning.debugFlags & 16) != 0) AvmLog("  MOD cur read pos  = %d\n", old);
  const int32_t next = old + 1 == kModRingSlots ? 0 : old + 1;
  for (MODBlock& b : object->blocks) b.readPos = next;
  // Release: the slot just read may now be refilled by the feed.
  object->readPos.store(next, std::memory_order_release);
}

void MOD_FillBlock(MODBlock* block, const ImageI32* lut, int32_t stride, const void* context, MODSampler sampler) {
  if (block == nullptr || lut == nullptr || lut->data == nullptr || block->frames[block->writePos] == nullptr) return;
  if (lut->width != block->width || lut->height > block->bufferHeight) return;
  uint8_t* out = block->frames[block->writePos];
  const int32_t cols = lut->width;
  for (int32_t r = block->id == 1 ? kModBlock1SkipRows : 0; r < lut->height; ++r) {
    const int32_t* e = lut->data + static_cast<size_t>(r) * cols;
    uint8_t* o = out + static_cast<size_t>(r) * cols;
    for (int32_t c = 0; c < cols; ++c) {
      int32_t row = e[c] >> 16, col = e[c] & 0xFFFF;
      if (row < 0) row = col = 0;
      o[c] = sampler(context, stride, row, col);
    }
  }
}

void MOD_CommitWrite(MODObject* object) {
  if (object == nullptr) return;
  const int32_t old = object->writePos.load(std::memory_order_relaxed);
  if ((g_modTuning.debugFlags & 16) != 0) AvmLog("  MOD cur write pos = %d\n", old);
  const int32_t next = old + 1 == kModRingSlots ? 0 : old + 1;
  for (MODBlock& b : object->blocks) {
    b.frameTimes[old] = object->vehicle.pushTime;
    b.writePos = next;
  }
  // Release: the filled slot and its time stamps become visible with it.
  object->writePos.store(next, std::memory_order_release);
}

void MOD_PushFrameUYVY(MODObject* object, int32_t width, int32_t height, const uint8_t* frame,
                       const ADASConfig* config) {
  (void)config;
  if (frame != nullptr) PushPacked<2, 1>(object, width, height, frame);
}

void MOD_PushFrameYUYV(MODObject* object, int32_t width, int32_t height, const uint8_t* frame,
                       const ADASConfig* config) {
  (void)config;
  if (frame != nullptr) PushPacked<2, 0>(object, width, height, frame);
}

void MOD_PushFrameGray(MODObject* object, int32_t width, int32_t height, const uint8_t* frame,
                       const ADASConfig* config) {
  (void)config;
  if (frame != nullptr) PushPacked<1, 0>(object, width, height, frame);
}

int32_t MOD_PushFrameBGR(MODObject* object, int32_t width, int32_t height, const uint8_t* frame,
                         const ADASConfig* config) {
  (void)config;
  if (frame != nullptr) PushPacked<3, 0>(object, width, height, frame);
  return object != nullptr ? object->writePos.load(std::memory_order_relaxed) : 0;
}

void MOD_PushFramePlanes(MODObject* object, int32_t width, int32_t height, const uint8_t* const* planes,
                         const ADASConfig* config) {
  (void)config;
  if (planes == nullptr) return;
  Push(
      object, width, height,
      [&](int b, Source* s, int32_t* stride) {
        *s = Source{planes[b], width, height, 1, 0, true};
        *stride = width;
        return true;
      },
      SampleLuma);
}
