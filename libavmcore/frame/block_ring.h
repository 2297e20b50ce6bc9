#pragma once
#include <cstdint>

// Single-producer, single-consumer ring of equal-sized blocks, each with a
// 32-bit tag. One slot always stays free, so a ring of N blocks holds at most
// N - 1. Only the producer writes writeIndex and only the consumer writes
// readIndex; each publishes with release and reads the other side's index
// with acquire, so no lock is needed.
struct BlockRing {
  uint32_t readIndex;
  uint32_t writeIndex;
  uint32_t capacity;
  uint32_t blockSize;
  uint32_t ownsBlocks;
  uint8_t** blocks;
  uint32_t* tags;
};

// With ownsBlocks set the ring allocates its N blocks; otherwise the pointer
// table starts zeroed and the caller fills it. N < 1 or a negative size
// gives an empty ring that accepts nothing.
void BlockRing_Init(BlockRing* ring, int32_t n, int32_t blockSize, int32_t ownsBlocks);
void BlockRing_Release(BlockRing* ring);
void BlockRing_Reset(BlockRing* ring);

// Producer side. GetWriteBlock returns null when the ring is full (the
// caller drops its data).
uint8_t* BlockRing_GetWriteBlock(BlockRing* ring);
void BlockRing_SetWriteTag(BlockRing* ring, uint32_t tag);
void BlockRing_CommitWrite(BlockRing* ring);

// Consumer side. GetReadBlock returns null and GetReadTag 0xFFFFFFFF when the
// ring is empty.
uint8_t* BlockRing_GetReadBlock(BlockRing* ring);
uint32_t BlockRing_GetReadTag(BlockRing* ring);
void BlockRing_AdvanceRead(BlockRing* ring);

uint32_t BlockRing_Count(BlockRing* ring);
