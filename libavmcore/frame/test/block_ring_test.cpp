#include "frame/block_ring.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstring>

#include "frame/recursive_mutex.h"

namespace {

TEST(BlockRing, HoldsOneLessThanCapacityAndRefusesWhenFull) {
  BlockRing ring;
  BlockRing_Init(&ring, 4, 16, 1);
  for (uint32_t i = 0; i < 3; ++i) {
    uint8_t* b = BlockRing_GetWriteBlock(&ring);
    ASSERT_NE(b, nullptr) << i;
    memset(b, static_cast<int>(i + 1), 16);
    BlockRing_SetWriteTag(&ring, 100 + i);
    BlockRing_CommitWrite(&ring);
  }
  EXPECT_EQ(BlockRing_Count(&ring), 3u);
  EXPECT_EQ(BlockRing_GetWriteBlock(&ring), nullptr);
  BlockRing_CommitWrite(&ring);  // refused: no overwrite of the oldest block
  EXPECT_EQ(BlockRing_Count(&ring), 3u);

  // One read frees one slot.
  uint8_t* r = BlockRing_GetReadBlock(&ring);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[0], 1);
  EXPECT_EQ(BlockRing_GetReadTag(&ring), 100u);
  BlockRing_AdvanceRead(&ring);
  EXPECT_NE(BlockRing_GetWriteBlock(&ring), nullptr);
  BlockRing_Release(&ring);
  EXPECT_EQ(ring.blocks, nullptr);
  EXPECT_EQ(ring.tags, nullptr);
}

TEST(BlockRing, DrainsInOrderAndWrapsIndices) {
  BlockRing ring;
  BlockRing_Init(&ring, 3, 4, 1);
  uint32_t next = 0, expect = 0;
  for (int round = 0; round < 10; ++round) {
    while (uint8_t* b = BlockRing_GetWriteBlock(&ring)) {
      memcpy(b, &next, 4);
      BlockRing_SetWriteTag(&ring, next);
      BlockRing_CommitWrite(&ring);
      ++next;
    }
    EXPECT_LT(ring.writeIndex, 3u);
    while (uint8_t* b = BlockRing_GetReadBlock(&ring)) {
      uint32_t v;
      memcpy(&v, b, 4);
      EXPECT_EQ(v, expect);
      EXPECT_EQ(BlockRing_GetReadTag(&ring), expect);
      BlockRing_AdvanceRead(&ring);
      ++expect;
    }
  }
  EXPECT_EQ(next, 20u);
  EXPECT_EQ(expect, next);
  BlockRing_Release(&ring);
}

TEST(BlockRing, EmptyRingGivesNothingAndAdvanceIsANoOp) {
  BlockRing ring;
  BlockRing_Init(&ring, 4, 8, 1);
  EXPECT_EQ(BlockRing_GetReadBlock(&ring), nullptr);
  EXPECT_EQ(BlockRing_GetReadTag(&ring), 0xFFFFFFFFu);
  BlockRing_AdvanceRead(&ring);
  EXPECT_EQ(ring.readIndex, 0u);
  EXPECT_EQ(BlockRing_Count(&ring), 0u);
  BlockRing_CommitWrite(&ring);
  BlockRing_CommitWrite(&ring);
  BlockRing_Reset(&ring);
  EXPECT_EQ(BlockRing_Count(&ring), 0u);
  EXPECT_EQ(BlockRing_GetReadBlock(&ring), nullptr);
  BlockRing_Release(&ring);
}

TEST(BlockRing, CallerBlocksAreNotFreed) {
  static uint8_t storage[2][8];
  BlockRing ring;
  BlockRing_Init(&ring, 2, 8, 0);
  EXPECT_EQ(ring.blocks[0], nullptr);
  ring.blocks[0] = storage[0];
  ring.blocks[1] = storage[1];
  EXPECT_EQ(BlockRing_GetWriteBlock(&ring), storage[0]);
  BlockRing_CommitWrite(&ring);
  EXPECT_EQ(BlockRing_GetWriteBlock(&ring), nullptr);  // N = 2 holds one block
  EXPECT_EQ(BlockRing_GetReadBlock(&ring), storage[0]);
  BlockRing_Release(&ring);  // must not free the static storage (ASan would object)
}

TEST(BlockRing, BadSizesGiveARingThatAcceptsNothing) {
  for (int n : {0, -3}) {
    BlockRing ring;
    BlockRing_Init(&ring, n, 8, 1);
    EXPECT_EQ(BlockRing_GetWriteBlock(&ring), nullptr);
    EXPECT_EQ(BlockRing_GetReadBlock(&ring), nullptr);
    BlockRing_CommitWrite(&ring);
    EXPECT_EQ(BlockRing_Count(&ring), 0u);
    BlockRing_Release(&ring);
  }
}

TEST(RecursiveMutex, OwnerMayRelock) {
  pthread_mutex_t m;
  MutexInitRecursive(&m);
  MutexLock(&m);
  MutexLock(&m);
  EXPECT_EQ(pthread_mutex_trylock(&m), 0);  // recursive: the owner gets it again
  MutexUnlock(&m);
  MutexUnlock(&m);
  MutexUnlock(&m);
  MutexDestroy(&m);
}

}  // namespace
