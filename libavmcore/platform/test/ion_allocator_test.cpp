#include "platform/ion_allocator.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>

namespace {

// Every test leaves the allocator closed.
class IonAllocatorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    while (IonStandIn_Counters().references > 0) IonAllocClose();
  }
};

TEST_F(IonAllocatorTest, NothingWorksBeforeOpen) {
  EXPECT_EQ(IonAlloc(4096), 0u);
  EXPECT_EQ(IonVir2phy(0x1000), 0u);
  EXPECT_EQ(IonFree(0x1000), 0);
  EXPECT_EQ(IonQueryFreePool(), -1);
}

TEST_F(IonAllocatorTest, SecondOpenOnlyRaisesTheCount) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(1000);
  ASSERT_NE(a, 0u);
  ASSERT_EQ(IonAllocOpen(), 0);
  EXPECT_EQ(IonStandIn_Counters().references, 2);
  IonAllocClose();
  // Still open: the buffer is listed and usable.
  EXPECT_EQ(IonStandIn_Counters().buffers, 1);
  EXPECT_NE(IonVir2phy(a), 0u);
  IonAllocClose();
  EXPECT_EQ(IonStandIn_Counters().buffers, 0);
  EXPECT_EQ(IonAlloc(16), 0u);
}

TEST_F(IonAllocatorTest, LookupsInsideAndOutsideABuffer) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(10000);
  const uintptr_t b = IonAlloc(5000);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  const uintptr_t pa = IonVir2phy(a);
  EXPECT_EQ(pa & 0xFF, 0u);
  EXPECT_EQ(IonVir2phy(a + 1234), pa + 1234);
  EXPECT_EQ(IonVir2phy(a + 10000), 0u);  // one past its end
  EXPECT_EQ(IonPhy2vir(pa + 99), a + 99);
  EXPECT_NE(IonVir2phy(b), pa);
  EXPECT_GE(IonVir2fd(a + 5), 0);
  // The memory is real and shared through its descriptor.
  memset(reinterpret_cast<void*>(a), 0x5A, 10000);
  void* view = mmap(nullptr, 10000, PROT_READ, MAP_SHARED, IonVir2fd(a), 0);
  ASSERT_NE(view, MAP_FAILED);
  EXPECT_EQ(static_cast<uint8_t*>(view)[9999], 0x5A);
  munmap(view, 10000);
  EXPECT_EQ(IonQueryFreePool(), 15000);
}

TEST_F(IonAllocatorTest, FreeOfAnUnknownAddressChangesNothing) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(4096);
  EXPECT_EQ(IonFree(a + 8), 0);
  EXPECT_EQ(IonFree(0), 0);
  EXPECT_EQ(IonStandIn_Counters().buffers, 1);
  EXPECT_EQ(IonFree(a), 4096);
  EXPECT_EQ(IonStandIn_Counters().buffers, 0);
  EXPECT_EQ(IonAlloc(0), 0u);
  EXPECT_EQ(IonAlloc(-5), 0u);
}

TEST_F(IonAllocatorTest, CacheAndFrameCommandsAreCounted) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const IonStandInCounters before = IonStandIn_Counters();
  IonFlushCache(0x1000, 64);
  IonFlushCacheAll();
  EXPECT_EQ(IonCustomIoctl(77), 0);
  const IonStandInCounters after = IonStandIn_Counters();
  EXPECT_EQ(after.flushes - before.flushes, 2);
  EXPECT_EQ(after.frameCommands - before.frameCommands, 1);
  EXPECT_EQ(after.lastFrameCommand, 77u);
}

}  // namespace
