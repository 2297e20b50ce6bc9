// The driver-assistance frame rings between the analysis thread (producer)
// and a function's worker (consumer): every block arrives whole and in
// order. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "frame/block_ring.h"
#include "pipeline/bsds.h"

namespace {

constexpr uint32_t kBlocks = 100000;
constexpr int kWords = 64;

void FillBlock(uint32_t* w, uint32_t seq) {
  uint32_t sum = 0;
  for (int i = 1; i < kWords; ++i) {
    w[i] = seq * 2654435761u + static_cast<uint32_t>(i);
    sum += w[i];
  }
  w[0] = sum ^ seq;
}

bool CheckBlock(const uint32_t* w, uint32_t seq) {
  uint32_t sum = 0;
  for (int i = 1; i < kWords; ++i) {
    if (w[i] != seq * 2654435761u + static_cast<uint32_t>(i)) return false;
    sum += w[i];
  }
  return w[0] == (sum ^ seq);
}

}  // namespace

TEST(AdasRingTest, BlockRingPassesEveryChecksummedBlockInOrder) {
  BlockRing ring;
  BlockRing_Init(&ring, 3, kWords * 4, 1);
  std::thread producer([&] {
    for (uint32_t seq = 0; seq < kBlocks;) {
      uint8_t* b = BlockRing_GetWriteBlock(&ring);
      if (b == nullptr) {
        std::this_thread::yield();
        continue;
      }
      FillBlock(reinterpret_cast<uint32_t*>(b), seq);
      BlockRing_CommitWrite(&ring);
      ++seq;
    }
  });
  uint32_t bad = 0;
  for (uint32_t seq = 0; seq < kBlocks;) {
    const uint8_t* b = BlockRing_GetReadBlock(&ring);
    if (b == nullptr) {
      std::this_thread::yield();
      continue;
    }
    if (!CheckBlock(reinterpret_cast<const uint32_t*>(b), seq)) ++bad;
    BlockRing_AdvanceRead(&ring);
    ++seq;
  }
  producer.join();
  EXPECT_EQ(bad, 0u);
  BlockRing_Release(&ring);
}

TEST(AdasRingTest, BlindSpotRingIndicesPublishTheSlot) {
  BSDSState s;
  std::vector<uint32_t> slots(3 * kWords);
  std::thread producer([&] {
    for (uint32_t seq = 0; seq < kBlocks;) {
      if (BSDS_CanWrite(&s) == 0) {
        std::this_thread::yield();
        continue;
      }
      FillBlock(&slots[static_cast<size_t>(s.writeIndex.load(std::memory_order_relaxed)) * kWords], seq);
      BSDS_AdvanceWrite(&s);
      ++seq;
    }
  });
  uint32_t bad = 0;
  for (uint32_t seq = 0; seq < kBlocks;) {
    if (BSDS_HasFrame(&s) == 0) {
      std::this_thread::yield();
      continue;
    }
    if (!CheckBlock(&slots[static_cast<size_t>(s.readIndex.load(std::memory_order_relaxed)) * kWords], seq)) ++bad;
    BSDS_AdvanceRead(&s);
    ++seq;
  }
  producer.join();
  EXPECT_EQ(bad, 0u);
}
