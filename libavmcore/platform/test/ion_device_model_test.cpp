// The model of the ION and cedar devices refuses what the drivers would, so
// that the allocator's tests over it mean something; and it keeps buffer
// memory as dma-bufs do.
#include "platform/ion_device_model.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>
#include <functional>

#include "device_test_support.h"
#include "platform/ion_requests.h"

namespace {

class IonDeviceModelTest : public ModelDeviceTest {
 protected:
  void SetUp() override {
    ModelDeviceTest::SetUp();
    ion_ = ops().open("/dev/ion", O_RDWR);
    cedar_ = ops().open("/dev/cedar_dev", O_RDWR);
    ASSERT_GE(ion_, 0);
    ASSERT_GE(cedar_, 0);
  }
  void TearDown() override {
    ops().close(ion_);
    ops().close(cedar_);
    ModelDeviceTest::TearDown();
  }
  static const DeviceOps& ops() { return IonDeviceModel_Ops(); }
  // A well-formed allocation on ion_; its handle.
  uint32_t Alloc(uint64_t length, uint32_t heapMask = kIonHeapMaskIommu) {
    IonAllocRequest r{};
    r.length = length;
    r.heapMask = heapMask;
    r.flags = kIonFlagsCached;
    EXPECT_EQ(ops().ioctl(ion_, kIonIocAlloc, &r), 0);
    return r.handle;
  }
  int Share(uint32_t handle) {
    IonShareRequest r{handle, -1};
    EXPECT_EQ(ops().ioctl(ion_, kIonIocMap, &r), 0);
    return r.fd;
  }
  void FreeHandle(uint32_t handle) {
    IonHandleRequest r{handle};
    EXPECT_EQ(ops().ioctl(ion_, kIonIocFree, &r), 0);
  }
  int ion_ = -1;
  int cedar_ = -1;
};

// errno of a call that must fail.
int Refusal(int result) { return result == -1 ? errno : 0; }

TEST_F(IonDeviceModelTest, MalformedRequestsAreRefusedAsTheDriversWould) {
  const uint32_t handle = Alloc(4096);
  const uint32_t contiguousHandle = Alloc(4096, kIonHeapMaskContiguous);
  const int dmaBuf = Share(handle);
  const int other = ops().open("/dev/ion", O_RDWR);  // a second client
  struct Case {
    const char* name;
    int error;
    std::function<int()> call;
  };
  const Case cases[] = {
      {"unknown heap", ENODEV,
       [&] {
         IonAllocRequest r{4096, 0, 0x2, kIonFlagsCached, 0};
         return ops().ioctl(ion_, kIonIocAlloc, &r);
       }},
      {"zero length", EINVAL,
       [&] {
         IonAllocRequest r{0, 0, kIonHeapMaskIommu, kIonFlagsCached, 0};
         return ops().ioctl(ion_, kIonIocAlloc, &r);
       }},
      {"unknown flags", EINVAL,
       [&] {
         IonAllocRequest r{4096, 0, kIonHeapMaskIommu, 0x10, 0};
         return ops().ioctl(ion_, kIonIocAlloc, &r);
       }},
      {"alignment not a power of two", EINVAL,
       [&] {
         IonAllocRequest r{4096, 3000, kIonHeapMaskIommu, kIonFlagsCached, 0};
         return ops().ioctl(ion_, kIonIocAlloc, &r);
       }},
      {"no record", EFAULT, [&] { return ops().ioctl(ion_, kIonIocAlloc, nullptr); }},
      {"free of an unknown handle", EINVAL,
       [&] {
         IonHandleRequest r{handle + 100};
         return ops().ioctl(ion_, kIonIocFree, &r);
       }},
      {"another client's handle", EINVAL,
       [&] {
         IonShareRequest r{handle, -1};
         return ops().ioctl(other, kIonIocMap, &r);
       }},
      {"custom command unknown", EINVAL,
       [&] {
         uint32_t x = 0;
         IonCustomRequest r{99, 0, reinterpret_cast<uintptr_t>(&x)};
         return ops().ioctl(ion_, kIonIocCustom, &r);
       }},
      {"physical address of a scattered buffer", EINVAL,
       [&] {
         IonPhysicalQuery q{handle, 0, 0};
         IonCustomRequest r{kIonCustomPhysicalAddress, 0, reinterpret_cast<uintptr_t>(&q)};
         return ops().ioctl(ion_, kIonIocCustom, &r);
       }},
      {"flush range reversed", EINVAL,
       [&] {
         IonFlushRange r{0x2000, 0x1000};
         return ops().ioctl(ion_, kIonIocSunxiFlushRange, &r);
       }},
      {"flush all with a record", EINVAL,
       [&] {
         IonFlushRange r{0, 0};
         return ops().ioctl(ion_, kIonIocSunxiFlushAll, &r);
       }},
      {"cedar code on the ION device", ENOTTY, [&] { return ops().ioctl(ion_, kCedarEngineRequest, nullptr); }},
      {"ION code on the cedar device", ENOTTY,
       [&] {
         IonHandleRequest r{handle};
         return ops().ioctl(cedar_, kIonIocFree, &r);
       }},
      {"request on a dma-buf", ENOTTY,
       [&] {
         IonHandleRequest r{handle};
         return ops().ioctl(dmaBuf, kIonIocFree, &r);
       }},
      {"unknown descriptor", EBADF, [&] { return ops().ioctl(12345, kIonIocFrameCommand, nullptr); }},
      {"IOMMU map before the engine request", EPERM,
       [&] {
         CedarIommuParam p{dmaBuf, 0};
         return ops().ioctl(cedar_, kCedarGetIommuAddress, &p);
       }},
      {"engine release without a request", EINVAL, [&] { return ops().ioctl(cedar_, kCedarEngineRelease, nullptr); }},
      {"IOMMU unmap of what is not mapped", EINVAL,
       [&] {
         CedarIommuParam p{dmaBuf, 0};
         return ops().ioctl(cedar_, kCedarFreeIommuAddress, &p);
       }},
      {"open read-only", EINVAL, [&] { return ops().open("/dev/ion", O_RDONLY); }},
      {"cedar opened write-only", EINVAL, [&] { return ops().open("/dev/cedar_dev", O_WRONLY); }},
      {"open outside the root", ENOENT,
       [&] {
         DeviceRoot_Set("/srv/unit");
         const int r = ops().open("/dev/ion", O_RDWR);
         DeviceRoot_Set("/");
         return r;
       }},
      {"close of an unknown descriptor", EBADF, [&] { return ops().close(12345); }},
      {"private mapping", EINVAL,
       [&] { return ops().mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE, dmaBuf, 0) == MAP_FAILED ? -1 : 0; }},
      {"mapping past the buffer", EINVAL,
       [&] { return ops().mmap(nullptr, 8192, PROT_READ | PROT_WRITE, MAP_SHARED, dmaBuf, 0) == MAP_FAILED ? -1 : 0; }},
      {"mapping the device", ENODEV,
       [&] { return ops().mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, ion_, 0) == MAP_FAILED ? -1 : 0; }},
      {"unmapping what the model did not map", EINVAL,
       [&] {
         int x = 0;
         return ops().munmap(&x, sizeof(x));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Refusal(c.call()), c.error);
  }
  EXPECT_EQ(IonDeviceModel_Stats().refused, static_cast<int64_t>(sizeof(cases) / sizeof(cases[0])));
  // The well-formed forms of the same requests go through.
  uint32_t address = 0;
  {
    IonPhysicalQuery q{contiguousHandle, 0, 0};
    IonCustomRequest r{kIonCustomPhysicalAddress, 0, reinterpret_cast<uintptr_t>(&q)};
    EXPECT_EQ(ops().ioctl(ion_, kIonIocCustom, &r), 0);
    EXPECT_EQ(q.size, 4096u);
    EXPECT_EQ(q.address % 4096, 0u);
  }
  ASSERT_EQ(ops().ioctl(cedar_, kCedarEngineRequest, nullptr), 0);
  CedarIommuParam p{dmaBuf, 0};
  ASSERT_EQ(ops().ioctl(cedar_, kCedarGetIommuAddress, &p), 0);
  address = p.iommuAddress;
  EXPECT_EQ(address & 0xFFF, 0u);
  EXPECT_EQ(Refusal(ops().ioctl(cedar_, kCedarGetIommuAddress, &p)), EEXIST);  // mapped once
  EXPECT_EQ(ops().ioctl(cedar_, kCedarFreeIommuAddress, &p), 0);
  EXPECT_EQ(ops().ioctl(cedar_, kCedarEngineRelease, nullptr), 0);
  EXPECT_EQ(ops().close(dmaBuf), 0);
  FreeHandle(handle);
  FreeHandle(contiguousHandle);
  EXPECT_EQ(ops().close(other), 0);
}

TEST_F(IonDeviceModelTest, MemoryLivesWhileAnythingRefersToIt) {
  const uint32_t handle = Alloc(10000);
  const int dmaBuf = Share(handle);
  void* p = ops().mmap(nullptr, 10000, PROT_READ | PROT_WRITE, MAP_SHARED, dmaBuf, 0);
  ASSERT_NE(p, MAP_FAILED);
  memset(p, 0x33, 10000);
  // Freeing the handle and closing the descriptor leave the mapping valid.
  FreeHandle(handle);
  EXPECT_EQ(ops().close(dmaBuf), 0);
  EXPECT_EQ(IonDeviceModel_Stats().buffers, 1);
  EXPECT_EQ(IonDeviceModel_Stats().heldBytes, 12288);  // whole pages of the pool
  EXPECT_EQ(static_cast<uint8_t*>(p)[9999], 0x33);
  EXPECT_EQ(ops().munmap(p, 10000), 0);
  EXPECT_EQ(IonDeviceModel_Stats().buffers, 0);
  EXPECT_EQ(IonDeviceModel_Stats().heldBytes, 0);
}

TEST_F(IonDeviceModelTest, ClosingAClientFreesItsHandles) {
  const int client = ops().open("/dev/ion", O_RDWR);
  ASSERT_GE(client, 0);
  IonAllocRequest r{4096, 0, kIonHeapMaskIommu, kIonFlagsCached, 0};
  ASSERT_EQ(ops().ioctl(client, kIonIocAlloc, &r), 0);
  ASSERT_EQ(ops().ioctl(client, kIonIocAlloc, &r), 0);
  EXPECT_EQ(IonDeviceModel_Stats().handles, 2);
  EXPECT_EQ(ops().close(client), 0);
  EXPECT_EQ(IonDeviceModel_Stats().handles, 0);
  EXPECT_EQ(IonDeviceModel_Stats().buffers, 0);
}

}  // namespace
