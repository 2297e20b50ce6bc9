// The buffer allocator driven through the model of its devices: the requests
// it issues, its lookups and reference count, and every failure path with
// nothing left held.
#include "platform/ion_allocator.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <functional>

#include "device_test_support.h"

namespace {

using Op = IonModelOp;
using Dev = IonModelDevice;

class IonAllocatorTest : public ModelDeviceTest {};

TEST_F(IonAllocatorTest, OpenTakesBothDevicesUnderTheRootAndOnlyTheLastCloseGivesThemBack) {
  struct Case {
    const char* root;
    const char* ion;
    const char* cedar;
  };
  const Case cases[] = {
      {"/", "/dev/ion", "/dev/cedar_dev"},
      {"/srv/unit", "/srv/unit/dev/ion", "/srv/unit/dev/cedar_dev"},
      {"/srv/unit//", "/srv/unit/dev/ion", "/srv/unit/dev/cedar_dev"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    DeviceRoot_Set(c.root);
    IonDeviceModel_Reset();
    ASSERT_EQ(IonAllocOpen(), 0);
    ASSERT_EQ(IonAllocOpen(), 0);
    EXPECT_TRUE(LogLines::Has("ion allocator has already been created"));
    EXPECT_EQ(IonAllocReferences(), 2);
    std::vector<IonModelRequest> r = IonDeviceModel_Requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].path, c.ion);
    EXPECT_EQ(r[0].flags & O_ACCMODE, O_RDWR);
    EXPECT_EQ(r[1].path, c.cedar);
    EXPECT_EQ(r[1].flags & O_ACCMODE, O_RDWR);
    // The matching close keeps the devices.
    EXPECT_EQ(IonAllocClose(), 0);
    EXPECT_TRUE(LogLines::Has("ref cnt: 1 > 0, do not free"));
    EXPECT_EQ(IonDeviceModel_Stats().openDevices, 2);
    EXPECT_EQ(IonAllocClose(), 0);
    EXPECT_EQ(IonAllocReferences(), 0);
    r = IonDeviceModel_Requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(Call({r[2].op, r[2].device, 0}), Call({Op::kClose, Dev::kIon, 0}));
    EXPECT_EQ(Call({r[3].op, r[3].device, 0}), Call({Op::kClose, Dev::kCedar, 0}));
    EXPECT_EQ(IonDeviceModel_Stats().refused, 0);
  }
}

TEST_F(IonAllocatorTest, OpenFailsCleanlyWhenADeviceIsMissing) {
  struct Case {
    Dev missing;
    const char* line;
    std::vector<Call> calls;
  };
  const Case cases[] = {
      {Dev::kIon, "open /dev/ion failed", {{Op::kOpen, Dev::kIon, 0}}},
      {Dev::kCedar,
       "open /dev/cedar_dev failed",
       {{Op::kOpen, Dev::kIon, 0}, {Op::kOpen, Dev::kCedar, 0}, {Op::kClose, Dev::kIon, 0}}},
  };
  for (const Case& c : cases) {
    IonDeviceModel_Reset();
    LogLines::Clear();
    IonDeviceModel_SetPresent(c.missing, false);
    EXPECT_EQ(IonAllocOpen(), -1);
    EXPECT_TRUE(LogLines::Has(c.line));
    EXPECT_EQ(Calls(IonDeviceModel_Requests()), c.calls);
    EXPECT_EQ(IonDeviceModel_Stats().openDevices, 0);
    EXPECT_EQ(IonAllocReferences(), 0);
    // Nothing works, and a later open finds the device.
    EXPECT_EQ(IonAlloc(4096), 0u);
    IonDeviceModel_SetPresent(c.missing, true);
    ASSERT_EQ(IonAllocOpen(), 0);
    EXPECT_EQ(IonAllocReferences(), 1);
    IonAllocClose();
  }
}

TEST_F(IonAllocatorTest, AllocAndFreeIssueTheRequestsInOrder) {
  struct Case {
    bool contiguous;
    int32_t size;
    std::vector<Call> alloc;
    std::vector<Call> free;
  };
  const Case cases[] = {
      {false,
       10000,
       {{Op::kIoctl, Dev::kIon, kIonIocAlloc},
        {Op::kIoctl, Dev::kIon, kIonIocMap},
        {Op::kMmap, Dev::kBuffer, 0},
        {Op::kIoctl, Dev::kCedar, kCedarEngineRequest},
        {Op::kIoctl, Dev::kCedar, kCedarGetIommuAddress}},
       {{Op::kIoctl, Dev::kCedar, kCedarFreeIommuAddress},
        {Op::kIoctl, Dev::kCedar, kCedarEngineRelease},
        {Op::kMunmap, Dev::kBuffer, 0},
        {Op::kClose, Dev::kBuffer, 0},
        {Op::kIoctl, Dev::kIon, kIonIocFree}}},
      {true,
       5000,
       {{Op::kIoctl, Dev::kIon, kIonIocAlloc},
        {Op::kIoctl, Dev::kIon, kIonIocMap},
        {Op::kMmap, Dev::kBuffer, 0},
        {Op::kIoctl, Dev::kIon, kIonIocCustom}},
       {{Op::kMunmap, Dev::kBuffer, 0}, {Op::kClose, Dev::kBuffer, 0}, {Op::kIoctl, Dev::kIon, kIonIocFree}}},
  };
  ASSERT_EQ(IonAllocOpen(), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contiguous ? "contiguous" : "iommu");
    IonDeviceModel_Reset();
    const uintptr_t a = c.contiguous ? IonAllocPhysical(c.size) : IonAlloc(c.size);
    ASSERT_NE(a, 0u);
    std::vector<IonModelRequest> r = IonDeviceModel_Requests();
    ASSERT_EQ(Calls(r), c.alloc);
    const IonAllocRequest alloc = RecordAs<IonAllocRequest>(r[0].record);
    EXPECT_EQ(alloc.length, static_cast<uint64_t>(c.size));
    EXPECT_EQ(alloc.alignment, c.contiguous ? 4096u : 0u);
    EXPECT_EQ(alloc.heapMask, c.contiguous ? 0x40u : 5u);
    EXPECT_EQ(alloc.flags, 3u);
    const uint32_t handle = RecordAs<IonShareRequest>(r[1].record).handle;
    EXPECT_NE(handle, 0u);
    const int dmaBuf = r[2].fd;
    EXPECT_EQ(r[2].length, static_cast<uint64_t>(c.size));
    EXPECT_EQ(r[2].flags, MAP_SHARED);
    if (c.contiguous) {
      const IonCustomRequest custom = RecordAs<IonCustomRequest>(r[3].record);
      EXPECT_EQ(custom.command, 7u);
      EXPECT_EQ(RecordAs<IonPhysicalQuery>(r[3].argument).handle, handle);
    } else {
      EXPECT_TRUE(r[3].record.empty());
      EXPECT_EQ(RecordAs<CedarIommuParam>(r[4].record).fd, dmaBuf);
    }
    const uintptr_t device = IonVir2phy(a);
    EXPECT_NE(device, 0u);
    EXPECT_EQ(device & 0xFF, 0u);
    EXPECT_EQ(IonVir2fd(a), dmaBuf);

    IonDeviceModel_Reset();
    EXPECT_EQ(IonFree(a), c.size);
    r = IonDeviceModel_Requests();
    ASSERT_EQ(Calls(r), c.free);
    if (!c.contiguous) {
      const CedarIommuParam unmap = RecordAs<CedarIommuParam>(r[0].record);
      EXPECT_EQ(unmap.fd, dmaBuf);
      EXPECT_EQ(unmap.iommuAddress, device);
    }
    EXPECT_EQ(r[r.size() - 2].fd, dmaBuf);
    EXPECT_EQ(RecordAs<IonHandleRequest>(r.back().record).handle, handle);
    EXPECT_EQ(IonDeviceModel_Stats().refused, 0);
    EXPECT_EQ(IonDeviceModel_Stats().buffers, 0);
    EXPECT_EQ(IonVir2phy(a), 0u);
  }
}

TEST_F(IonAllocatorTest, LookupsInsideAndOutsideABuffer) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(10000);
  const uintptr_t b = IonAlloc(5000);
  const uintptr_t p = IonAllocPhysical(8192);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_NE(p, 0u);
  const uintptr_t pa = IonVir2phy(a);
  const uintptr_t pb = IonVir2phy(b);
  EXPECT_EQ(IonVir2phy(a + 1234), pa + 1234);
  EXPECT_EQ(IonVir2phy(a + 9999), pa + 9999);
  LogLines::Clear();
  EXPECT_EQ(IonVir2phy(a + 10000), 0u);  // one past its end
  EXPECT_TRUE(LogLines::Has("IonVir2phy failed, do not find virtual address"));
  // The two engine ranges do not overlap.
  EXPECT_TRUE(pb >= pa + 10000 || pb + 5000 <= pa);
  EXPECT_EQ(IonPhy2vir(pa + 99), a + 99);
  EXPECT_EQ(IonPhy2vir(pb + 4999), b + 4999);
  EXPECT_EQ(IonPhy2vir(IonVir2phy(p) + 8000), p + 8000);
  EXPECT_EQ(IonVir2phy(p) % 4096, 0u);
  EXPECT_EQ(IonVir2fd(b + 4999), IonVir2fd(b));
  EXPECT_EQ(IonVir2fd(b + 5000), -1);
  EXPECT_EQ(IonVir2phy(0), 0u);
  EXPECT_EQ(IonPhy2vir(0), 0u);
  EXPECT_TRUE(LogLines::Has("can not vir2phy NULL buffer"));
  EXPECT_TRUE(LogLines::Has("can not phy2vir NULL buffer"));
  // The memory is real and shared through its descriptor.
  memset(reinterpret_cast<void*>(a), 0x5A, 10000);
  void* view = mmap(nullptr, 10000, PROT_READ, MAP_SHARED, IonVir2fd(a), 0);
  ASSERT_NE(view, MAP_FAILED);
  EXPECT_EQ(static_cast<uint8_t*>(view)[9999], 0x5A);
  munmap(view, 10000);
}

TEST_F(IonAllocatorTest, FreeOfAnUnknownAddressChangesNothing) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(4096);
  ASSERT_NE(a, 0u);
  IonDeviceModel_Reset();
  EXPECT_EQ(IonFree(a + 8), 0);
  EXPECT_TRUE(LogLines::Has("IonFree failed, do not find virtual address"));
  EXPECT_EQ(IonFree(0), 0);
  EXPECT_TRUE(LogLines::Has("can not free NULL buffer"));
  EXPECT_TRUE(IonDeviceModel_Requests().empty());
  EXPECT_NE(IonVir2phy(a), 0u);
  EXPECT_EQ(IonFree(a), 4096);
  EXPECT_EQ(IonFree(a), 0);  // already gone
  EXPECT_EQ(IonAlloc(0), 0u);
  EXPECT_EQ(IonAlloc(-5), 0u);
  EXPECT_EQ(LogLines::Count("can not alloc size 0"), 2);
}

TEST_F(IonAllocatorTest, EveryOperationRefusesBeforeOpenWithoutTouchingTheDevices) {
  struct Case {
    const char* name;
    std::function<bool()> refused;
  };
  const Case cases[] = {
      {"IonAlloc", [] { return IonAlloc(4096) == 0; }},
      {"IonAllocPhysical", [] { return IonAllocPhysical(4096) == 0; }},
      {"IonFree", [] { return IonFree(0x1000) == 0; }},
      {"IonVir2fd", [] { return IonVir2fd(0x1000) == -1; }},
      {"IonVir2phy", [] { return IonVir2phy(0x1000) == 0; }},
      {"IonPhy2vir", [] { return IonPhy2vir(0x1000) == 0; }},
      {"IonFlushCache", [] { return IonFlushCache(0x1000, 64), true; }},
      {"IonFlushCacheAll", [] { return IonFlushCacheAll(), true; }},
      {"IonCustomIoctl", [] { return IonCustomIoctl(5) == 0; }},
      {"IonAllocClose", [] { return IonAllocClose() == 0; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogLines::Clear();
    EXPECT_TRUE(c.refused());
    EXPECT_TRUE(LogLines::Has("IonAlloc do not opened"));
  }
  EXPECT_TRUE(IonDeviceModel_Requests().empty());
}

// Each refused step of an allocation: a clear 0, the line that names it, and
// everything taken before it given back.
TEST_F(IonAllocatorTest, EveryRefusedStepOfAnAllocationLeavesNothingHeld) {
  struct Case {
    const char* name;
    bool contiguous;
    int32_t size;
    std::function<void()> arm;
    std::vector<const char*> lines;
    int64_t refusals;  // by the devices
  };
  const Case cases[] = {
      {"allocation refused", false, 4096,
       [] { IonDeviceModel_FailNext(Op::kIoctl, Dev::kIon, kIonIocAlloc, ENOMEM); },
       {"ION_IOC_ALLOC error"}, 1},
      {"pool too small", false, static_cast<int32_t>(kIonModelPoolBytes + 4096), [] {}, {"ION_IOC_ALLOC error"}, 1},
      {"share refused", false, 4096, [] { IonDeviceModel_FailNext(Op::kIoctl, Dev::kIon, kIonIocMap, EINVAL); },
       {"ION_IOC_MAP err, ret -1, dmabuf fd 0xffffffff"}, 1},
      {"mmap fails", false, 4096, [] { IonDeviceModel_FailNext(Op::kMmap, Dev::kBuffer, 0, ENOMEM); },
       {"mmap err"}, 1},
      {"engine refused", false, 4096,
       [] { IonDeviceModel_FailNext(Op::kIoctl, Dev::kCedar, kCedarEngineRequest, EBUSY); },
       {"ENGINE_REQ err", "get phy addr error"}, 1},
      {"IOMMU map fails", false, 4096,
       [] { IonDeviceModel_FailNext(Op::kIoctl, Dev::kCedar, kCedarGetIommuAddress, ENOMEM); },
       {"get iommu addr fail! ret:[-1]", "get phy addr error"}, 1},
      {"IOMMU address off its page", false, 4096, [] { IonDeviceModel_OffsetNextIommuAddress(0x80); },
       {"get iommu addr maybe wrong:", "get phy addr error"}, 0},
      {"physical query refused", true, 4096,
       [] { IonDeviceModel_FailNext(Op::kIoctl, Dev::kIon, kIonIocCustom, EINVAL); },
       {"ION_IOC_CUSTOM err, ret -1"}, 1},
  };
  ASSERT_EQ(IonAllocOpen(), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IonDeviceModel_Reset();
    LogLines::Clear();
    c.arm();
    EXPECT_EQ(c.contiguous ? IonAllocPhysical(c.size) : IonAlloc(c.size), 0u);
    for (const char* line : c.lines) EXPECT_TRUE(LogLines::Has(line)) << line;
    const IonModelStats s = IonDeviceModel_Stats();
    EXPECT_EQ(s.openDmaBufs, 0);
    EXPECT_EQ(s.handles, 0);
    EXPECT_EQ(s.mappings, 0);
    EXPECT_EQ(s.iommuMappings, 0);
    EXPECT_EQ(s.engineReferences, 0);
    EXPECT_EQ(s.buffers, 0);
    // Only the armed step was refused; the undo itself went through.
    EXPECT_EQ(s.refused, c.refusals);
    // The allocator goes on working.
    const uintptr_t a = IonAlloc(4096);
    EXPECT_NE(a, 0u);
    EXPECT_EQ(IonFree(a), 4096);
  }
  EXPECT_EQ(IonAllocReferences(), 1);
}

TEST_F(IonAllocatorTest, TheLastCloseGivesBackTheBuffersStillListed) {
  ASSERT_EQ(IonAllocOpen(), 0);
  ASSERT_NE(IonAlloc(3000), 0u);
  ASSERT_NE(IonAllocPhysical(6000), 0u);
  IonDeviceModel_Reset();
  EXPECT_EQ(IonAllocClose(), 0);
  EXPECT_EQ(LogLines::Count("IonAllocClose del item"), 2);
  const std::vector<Call> expected = {
      {Op::kIoctl, Dev::kCedar, kCedarFreeIommuAddress},
      {Op::kIoctl, Dev::kCedar, kCedarEngineRelease},
      {Op::kMunmap, Dev::kBuffer, 0},
      {Op::kClose, Dev::kBuffer, 0},
      {Op::kIoctl, Dev::kIon, kIonIocFree},
      {Op::kMunmap, Dev::kBuffer, 0},
      {Op::kClose, Dev::kBuffer, 0},
      {Op::kIoctl, Dev::kIon, kIonIocFree},
      {Op::kClose, Dev::kIon, 0},
      {Op::kClose, Dev::kCedar, 0},
  };
  EXPECT_EQ(Calls(IonDeviceModel_Requests()), expected);
  EXPECT_EQ(IonDeviceModel_Stats().refused, 0);
}

TEST_F(IonAllocatorTest, CacheFlushesAndFrameCommandCarryTheirRecords) {
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(8192);
  ASSERT_NE(a, 0u);
  IonDeviceModel_Reset();
  IonFlushCache(a + 100, 4000);
  IonFlushCacheAll();
  EXPECT_EQ(IonCustomIoctl(77), 0);
  const std::vector<IonModelRequest> r = IonDeviceModel_Requests();
  const std::vector<Call> expected = {{Op::kIoctl, Dev::kIon, 5}, {Op::kIoctl, Dev::kIon, 6},
                                      {Op::kIoctl, Dev::kIon, 0xC0084907}};
  ASSERT_EQ(Calls(r), expected);
  const IonFlushRange range = RecordAs<IonFlushRange>(r[0].record);
  EXPECT_EQ(range.start, a + 100);
  EXPECT_EQ(range.end, a + 4100);
  EXPECT_TRUE(r[1].record.empty());
  const IonFrameCommand frame = RecordAs<IonFrameCommand>(r[2].record);
  EXPECT_EQ(frame.reserved, 0u);
  EXPECT_EQ(frame.value, 77u);
  EXPECT_EQ(IonDeviceModel_Stats().frameCommands, 1);
  EXPECT_EQ(IonDeviceModel_Stats().lastFrameCommand, 77u);
  EXPECT_EQ(IonDeviceModel_Stats().refused, 0);
  // A range the process has not mapped is refused by the driver and logged;
  // a refused frame command is not reported.
  IonFlushCache(a + 8000, 4096);
  EXPECT_TRUE(LogLines::Has("ION_IOC_SUNXI_FLUSH_RANGE failed"));
  IonDeviceModel_FailNext(Op::kIoctl, Dev::kIon, kIonIocSunxiFlushAll, EIO);
  IonFlushCacheAll();
  EXPECT_TRUE(LogLines::Has("ION_IOC_SUNXI_FLUSH_ALL failed"));
  IonDeviceModel_FailNext(Op::kIoctl, Dev::kIon, kIonIocFrameCommand, EIO);
  EXPECT_EQ(IonCustomIoctl(78), 0);
  EXPECT_EQ(IonFree(a), 8192);
}

TEST_F(IonAllocatorTest, PoolQueryUsesADescriptorOfItsOwn) {
  // Works without the allocator open.
  EXPECT_EQ(IonQueryFreePool(), static_cast<int64_t>(kIonModelPoolBytes));
  EXPECT_TRUE(LogLines::Has("ion dev get free pool [256 MB], total [256 MB]"));
  std::vector<IonModelRequest> r = IonDeviceModel_Requests();
  const std::vector<Call> expected = {{Op::kOpen, Dev::kIon, 0}, {Op::kIoctl, Dev::kIon, kIonIocCustom},
                                      {Op::kClose, Dev::kIon, 0}};
  ASSERT_EQ(Calls(r), expected);
  EXPECT_EQ(r[0].flags & O_ACCMODE, O_WRONLY);
  EXPECT_EQ(RecordAs<IonCustomRequest>(r[1].record).command, 10u);
  // The free part follows the allocations.
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAlloc(3 << 20);
  ASSERT_NE(a, 0u);
  LogLines::Clear();
  EXPECT_EQ(IonQueryFreePool(), static_cast<int64_t>(kIonModelPoolBytes));
  EXPECT_TRUE(LogLines::Has("ion dev get free pool [253 MB], total [256 MB]"));
  EXPECT_EQ(IonFree(a), 3 << 20);
  // Refusals: no device, then a refused query whose descriptor is still closed.
  IonDeviceModel_SetPresent(Dev::kIon, false);
  EXPECT_EQ(IonQueryFreePool(), -1);
  EXPECT_TRUE(LogLines::Has("open ion dev failed, cannot get ion mem."));
  IonDeviceModel_SetPresent(Dev::kIon, true);
  IonDeviceModel_FailNext(Op::kIoctl, Dev::kIon, kIonIocCustom, EINVAL);
  EXPECT_EQ(IonQueryFreePool(), -1);
  EXPECT_TRUE(LogLines::Has(std::string("Failed to ioctl ion device, errno:") + strerror(EINVAL)));
  EXPECT_EQ(IonDeviceModel_Stats().openDevices, 2);  // the allocator's own
}

TEST_F(IonAllocatorTest, CedarIommuCallsHoldTheEngineOnlyWithAMapping) {
  const int cedar = CedarDevOpen();
  ASSERT_GE(cedar, 0);
  ASSERT_EQ(IonAllocOpen(), 0);
  const uintptr_t a = IonAllocPhysical(4096);  // a dma-buf with no IOMMU mapping yet
  ASSERT_NE(a, 0u);
  CedarIommuParam param{IonVir2fd(a), 0};
  uint32_t address = 0;
  ASSERT_EQ(CedarGetIommuAddr(cedar, &param, &address), 0);
  EXPECT_EQ(address, param.iommuAddress);
  EXPECT_EQ(address & 0xFF, 0u);
  EXPECT_EQ(IonDeviceModel_Stats().engineReferences, 1);
  EXPECT_EQ(CedarFreeIommuAddr(cedar, &param), 0);
  EXPECT_EQ(IonDeviceModel_Stats().engineReferences, 0);
  // A descriptor the device does not know: refused, and the engine released.
  CedarIommuParam bad{-1, 0};
  EXPECT_EQ(CedarGetIommuAddr(cedar, &bad, &address), -1);
  EXPECT_TRUE(LogLines::Has("get iommu addr fail!"));
  EXPECT_EQ(IonDeviceModel_Stats().engineReferences, 0);
  // Unmapping what is not mapped fails; with no engine held the release does too.
  EXPECT_EQ(CedarFreeIommuAddr(cedar, &param), -1);
  EXPECT_TRUE(LogLines::Has("fatal error! ENGINE_REL err"));
  EXPECT_EQ(IonFree(a), 4096);
  EXPECT_EQ(CedarDevClose(cedar), 0);
}

}  // namespace
