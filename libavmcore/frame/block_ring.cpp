#include "frame/block_ring.h"

#include <cstdlib>

namespace {

uint32_t LoadAcquire(const uint32_t* p) { return __atomic_load_n(p, __ATOMIC_ACQUIRE); }
uint32_t LoadRelaxed(const uint32_t* p) { return __atomic_load_n(p, __ATOMIC_RELAXED); }
void StoreRelease(uint32_t* p, uint32_t v) { __atomic_store_n(p, v, __ATOMIC_RELEASE); }

uint32_t FillCount(uint32_t write, uint32_t read, uint32_t n) {
  return write >= read ? write - read : write + n - read;
}

// Producer's view: its own index is exact, the consumer's is acquired so a
// slot is reused only after the consumer has finished reading it.
bool IsFull(const BlockRing* ring) {
  uint32_t n = ring->capacity;
  if (n == 0) return true;
  return FillCount(LoadRelaxed(&ring->writeIndex), LoadAcquire(&ring->readIndex), n) == n - 1;
}

// Consumer's view: the producer's index is acquired so the block contents
// written before it are visible.
bool IsEmpty(const BlockRing* ring) {
  return LoadAcquire(&ring->writeIndex) == LoadRelaxed(&ring->readIndex);
}

}  // namespace

void BlockRing_Init(BlockRing* ring, int32_t n, int32_t blockSize, int32_t ownsBlocks) {
  ring->readIndex = 0;
  ring->writeIndex = 0;
  ring->blocks = nullptr;
  ring->tags = nullptr;
  if (n < 1 || blockSize < 0) {
    ring->capacity = 0;
    ring->blockSize = 0;
    ring->ownsBlocks = 0;
    return;
  }
  ring->capacity = static_cast<uint32_t>(n);
  ring->blockSize = static_cast<uint32_t>(blockSize);
  ring->ownsBlocks = ownsBlocks ? 1u : 0u;
  ring->blocks = static_cast<uint8_t**>(calloc(static_cast<size_t>(n), sizeof(uint8_t*)));
  ring->tags = static_cast<uint32_t*>(calloc(static_cast<size_t>(n), sizeof(uint32_t)));
  if (ring->ownsBlocks && ring->blocks) {
    for (int32_t i = 0; i < n; ++i)
      ring->blocks[i] = static_cast<uint8_t*>(malloc(blockSize > 0 ? static_cast<size_t>(blockSize) : 1));
  }
}

void BlockRing_Release(BlockRing* ring) {
  if (ring->ownsBlocks && ring->blocks) {
    for (uint32_t i = 0; i < ring->capacity; ++i) {
      free(ring->blocks[i]);
      ring->blocks[i] = nullptr;
    }
  }
  free(ring->blocks);
  free(ring->tags);
  ring->blocks = nullptr;
  ring->tags = nullptr;
}

void BlockRing_Reset(BlockRing* ring) {
  StoreRelease(&ring->readIndex, 0);
  StoreRelease(&ring->writeIndex, 0);
}

uint8_t* BlockRing_GetWriteBlock(BlockRing* ring) {
  if (IsFull(ring)) return nullptr;
  return ring->blocks[LoadRelaxed(&ring->writeIndex)];
}

void BlockRing_SetWriteTag(BlockRing* ring, uint32_t tag) {
  if (IsFull(ring)) return;
  ring->tags[LoadRelaxed(&ring->writeIndex)] = tag;
}

void BlockRing_CommitWrite(BlockRing* ring) {
  if (IsFull(ring)) return;
  uint32_t next = LoadRelaxed(&ring->writeIndex) + 1;
  if (next == ring->capacity) next = 0;
  StoreRelease(&ring->writeIndex, next);
}

uint8_t* BlockRing_GetReadBlock(BlockRing* ring) {
  if (ring->capacity == 0 || IsEmpty(ring)) return nullptr;
  return ring->blocks[LoadRelaxed(&ring->readIndex)];
}

uint32_t BlockRing_GetReadTag(BlockRing* ring) {
  if (ring->capacity == 0 || IsEmpty(ring)) return 0xFFFFFFFFu;
  return ring->tags[LoadRelaxed(&ring->readIndex)];
}

void BlockRing_AdvanceRead(BlockRing* ring) {
  if (ring->capacity == 0 || IsEmpty(ring)) return;
  uint32_t next = LoadRelaxed(&ring->readIndex) + 1;
  if (next == ring->capacity) next = 0;
  StoreRelease(&ring->readIndex, next);
}

uint32_t BlockRing_Count(BlockRing* ring) {
  if (ring->capacity == 0) return 0;
  return FillCount(LoadAcquire(&ring->writeIndex), LoadAcquire(&ring->readIndex), ring->capacity);
}
