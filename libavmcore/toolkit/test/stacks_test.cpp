#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "toolkit/stacks.h"

namespace {

TEST(U32Stack, LastInFirstOut) {
  U32Stack s{};
  for (uint32_t v : {5u, 6u, 7u}) EXPECT_EQ(U32Stack_Push(&s, v), 1);
  EXPECT_EQ(s.count, 3u);
  uint32_t out = 0;
  EXPECT_EQ(U32Stack_Peek(&s, &out), 1);
  EXPECT_EQ(out, 7u);
  EXPECT_EQ(s.count, 3u);
  std::vector<uint32_t> popped;
  while (U32Stack_Pop(&s, &out) == 1) popped.push_back(out);
  EXPECT_EQ(popped, (std::vector<uint32_t>{7, 6, 5}));
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.top, nullptr);
}

TEST(U32Stack, EmptyPopAndPeekWriteZero) {
  U32Stack s{};
  uint32_t out = 42;
  EXPECT_EQ(U32Stack_Pop(&s, &out), 0);
  EXPECT_EQ(out, 0u);
  out = 42;
  EXPECT_EQ(U32Stack_Peek(&s, &out), 0);
  EXPECT_EQ(out, 0u);
}

TEST(U32Stack, ClearFreesEveryNodeAndPushStartsAfresh) {
  U32Stack s{};
  for (uint32_t v = 0; v < 1000; ++v) U32Stack_Push(&s, v);
  U32Stack_Clear(&s);  // the leak checker fails the run if a node survives
  EXPECT_EQ(s.count, 0u);
  EXPECT_EQ(s.top, nullptr);
  U32Stack_Push(&s, 9);
  EXPECT_EQ(s.count, 1u);
  uint32_t out = 0;
  EXPECT_EQ(U32Stack_Pop(&s, &out), 1);
  EXPECT_EQ(out, 9u);
  U32Stack_Clear(&s);  // clearing an empty stack is harmless
}

TEST(PtrStack, LastInFirstOutHandsBackThePointers) {
  int cells[4] = {};
  PtrStack s{};
  for (int& c : cells) EXPECT_EQ(PtrStack_Push(&s, &c), 1);
  PtrStack_Push(&s, nullptr);  // a null value is an ordinary entry
  EXPECT_EQ(s.count, 5u);
  void* out = &cells[0];
  EXPECT_EQ(PtrStack_Peek(&s, &out), 1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(PtrStack_Pop(&s, &out), 1);
  EXPECT_EQ(out, nullptr);
  for (int i = 3; i >= 0; --i) {
    ASSERT_EQ(PtrStack_Pop(&s, &out), 1);
    EXPECT_EQ(out, &cells[i]);
  }
  out = &cells[0];
  EXPECT_EQ(PtrStack_Pop(&s, &out), 0);
  EXPECT_EQ(out, nullptr);
  out = &cells[0];
  EXPECT_EQ(PtrStack_Peek(&s, &out), 0);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(s.top, nullptr);
}

TEST(Stacks, RegionGrowingWorkList) {
  // Flood fill of a 4-connected region, the way the detectors use the stack.
  const int w = 6, h = 4;
  std::vector<uint8_t> img{1, 1, 0, 0, 1, 1,  //
                           0, 1, 0, 1, 1, 0,  //
                           0, 1, 1, 1, 0, 0,  //
                           1, 0, 0, 0, 0, 1};
  std::vector<uint8_t> seen(img.size(), 0);
  U32Stack s{};
  U32Stack_Push(&s, 0);
  seen[0] = 1;
  int size = 0;
  uint32_t p = 0;
  while (U32Stack_Pop(&s, &p) == 1) {
    ++size;
    const int x = static_cast<int>(p % w), y = static_cast<int>(p / w);
    const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
    for (int k = 0; k < 4; ++k) {
      if (nx[k] < 0 || ny[k] < 0 || nx[k] >= w || ny[k] >= h) continue;
      const uint32_t q = static_cast<uint32_t>(ny[k] * w + nx[k]);
      if (img[q] == 1 && seen[q] == 0) {
        seen[q] = 1;
        U32Stack_Push(&s, q);
      }
    }
  }
  EXPECT_EQ(size, 10);
  EXPECT_EQ(s.count, 0u);
}

}  // namespace
