#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "frame/block_ring.h"
#include "frame/recursive_mutex.h"

namespace {

constexpr uint32_t kBlocks = 100000;
constexpr int32_t kBlockSize = 64;

// Block layout: sequence number, then filler derived from it, then a
// checksum over both; a torn or stale block fails one of the checks.
void FillBlock(uint8_t* b, uint32_t seq) {
  memcpy(b, &seq, 4);
  uint32_t sum = seq;
  for (int i = 4; i < kBlockSize - 4; ++i) {
    b[i] = static_cast<uint8_t>(seq * 31u + static_cast<uint32_t>(i));
    sum = sum * 33u + b[i];
  }
  memcpy(b + kBlockSize - 4, &sum, 4);
}

bool CheckBlock(const uint8_t* b, uint32_t* seqOut) {
  uint32_t seq, stored;
  memcpy(&seq, b, 4);
  memcpy(&stored, b + kBlockSize - 4, 4);
  uint32_t sum = seq;
  for (int i = 4; i < kBlockSize - 4; ++i) sum = sum * 33u + b[i];
  *seqOut = seq;
  return sum == stored;
}

TEST(BlockRingThreads, ProducerAndConsumerPassEveryBlockIntact) {
  BlockRing ring;
  BlockRing_Init(&ring, 8, kBlockSize, 1);

  std::thread producer([&] {
    for (uint32_t seq = 0; seq < kBlocks;) {
      uint8_t* b = BlockRing_GetWriteBlock(&ring);
      if (!b) {
        std::this_thread::yield();
        continue;
      }
      FillBlock(b, seq);
      BlockRing_SetWriteTag(&ring, seq);
      BlockRing_CommitWrite(&ring);
      ++seq;
    }
  });

  uint32_t expected = 0, bad = 0, tagMismatch = 0;
  while (expected < kBlocks) {
    uint8_t* b = BlockRing_GetReadBlock(&ring);
    if (!b) {
      std::this_thread::yield();
      continue;
    }
    uint32_t seq;
    if (!CheckBlock(b, &seq) || seq != expected) ++bad;
    if (BlockRing_GetReadTag(&ring) != expected) ++tagMismatch;
    BlockRing_AdvanceRead(&ring);
    ++expected;
  }
  producer.join();
  EXPECT_EQ(bad, 0u);
  EXPECT_EQ(tagMismatch, 0u);
  EXPECT_EQ(BlockRing_Count(&ring), 0u);
  BlockRing_Release(&ring);
}

TEST(RecursiveMutexThreads, OtherThreadWaitsUntilEveryLockIsReleased) {
  pthread_mutex_t m;
  MutexInitRecursive(&m);
  int shared = 0;
  MutexLock(&m);
  MutexLock(&m);
  std::atomic<bool> acquired{false};
  std::thread other([&] {
    MutexLock(&m);
    acquired = true;
    shared += 1;
    MutexUnlock(&m);
  });
  shared = 10;
  MutexUnlock(&m);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(acquired.load());  // still held once
  MutexUnlock(&m);
  other.join();
  EXPECT_TRUE(acquired.load());
  EXPECT_EQ(shared, 11);
  MutexDestroy(&m);
}

}  // namespace
