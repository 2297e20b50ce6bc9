#pragma once
// Request codes and argument records of the two devices behind the buffer
// allocator: the ION memory allocator (legacy staging interface with the
// sunxi additions) and the cedar video-engine device. The records are laid
// out as the unit's 64-bit kernel reads them; the allocator issues them and
// the user-space model of the devices checks them, both from this one file.
#include <cstddef>
#include <cstdint>

// The kernel's request encoding: direction in bits 30-31, record size in
// bits 16-29, type in 8-15, number in 0-7.
constexpr unsigned long IonRequestCode(unsigned long dir, unsigned long type, unsigned long nr, unsigned long size) {
  return (dir << 30) | (size << 16) | (type << 8) | nr;
}
constexpr unsigned long kIocReadWrite = 3;
constexpr unsigned long IonRequestSize(unsigned long code) { return (code >> 16) & 0x3FFF; }

// ION_IOC_ALLOC.
struct IonAllocRequest {
  uint64_t length;
  uint64_t alignment;
  uint32_t heapMask;
  uint32_t flags;
  uint32_t handle;  // out
};
// ION_IOC_FREE.
struct IonHandleRequest {
  uint32_t handle;
};
// ION_IOC_MAP (share): the handle's dma-buf descriptor.
struct IonShareRequest {
  uint32_t handle;
  int32_t fd;  // out
};
// ION_IOC_CUSTOM: a driver-specific command and the address of its record.
struct IonCustomRequest {
  uint32_t command;
  uint32_t reserved;  // the padding before the 64-bit argument
  uint64_t argument;
};
// The sunxi range flush: CPU addresses [start, end).
struct IonFlushRange {
  uint64_t start;
  uint64_t end;
};
// The frame command: only the second word is read by the driver.
struct IonFrameCommand {
  uint32_t reserved;
  uint32_t value;
};
// Record of the custom physical-address query.
struct IonPhysicalQuery {
  uint32_t handle;
  uint32_t address;  // out
  uint32_t size;     // out
};
// Record of the custom pool query, in KiB.
struct IonPoolQuery {
  uint32_t totalKb;  // out
  uint32_t freeKb;   // out
};
// Cedar IOMMU map and unmap: a dma-buf descriptor and its engine address.
struct CedarIommuParam {
  int32_t fd;
  uint32_t iommuAddress;  // out of the map
};

constexpr unsigned long kIonIocAlloc = 0xC0204900;
constexpr unsigned long kIonIocFree = 0xC0044901;
constexpr unsigned long kIonIocMap = 0xC0084902;
constexpr unsigned long kIonIocCustom = 0xC0104906;
constexpr unsigned long kIonIocSunxiFlushRange = 5;
constexpr unsigned long kIonIocSunxiFlushAll = 6;
constexpr unsigned long kIonIocFrameCommand = 0xC0084907;

constexpr uint32_t kIonCustomPhysicalAddress = 7;
constexpr uint32_t kIonCustomPoolInfo = 10;

// Heaps and flags of the two kinds of buffer.
constexpr uint32_t kIonHeapMaskIommu = 5;
constexpr uint32_t kIonHeapMaskContiguous = 0x40;
constexpr uint32_t kIonFlagsCached = 3;  // cached, synchronised by the flush commands
constexpr uint64_t kIonContiguousAlignment = 4096;

constexpr unsigned long kCedarEngineRequest = 0x206;
constexpr unsigned long kCedarEngineRelease = 0x207;
constexpr unsigned long kCedarGetIommuAddress = 0x502;
constexpr unsigned long kCedarFreeIommuAddress = 0x503;

constexpr const char* kIonDevicePath = "/dev/ion";
constexpr const char* kCedarDevicePath = "/dev/cedar_dev";

// The encoded codes carry their records' sizes; a record that drifts from
// the kernel's layout fails here rather than on the unit.
static_assert(sizeof(IonAllocRequest) == 32 && offsetof(IonAllocRequest, heapMask) == 16 &&
                  offsetof(IonAllocRequest, handle) == 24,
              "ION allocation record");
static_assert(sizeof(IonCustomRequest) == 16 && offsetof(IonCustomRequest, argument) == 8, "ION custom record");
static_assert(sizeof(IonFlushRange) == 16 && sizeof(CedarIommuParam) == 8, "flush and IOMMU records");
static_assert(kIonIocAlloc == IonRequestCode(kIocReadWrite, 'I', 0, sizeof(IonAllocRequest)), "ION_IOC_ALLOC");
static_assert(kIonIocFree == IonRequestCode(kIocReadWrite, 'I', 1, sizeof(IonHandleRequest)), "ION_IOC_FREE");
static_assert(kIonIocMap == IonRequestCode(kIocReadWrite, 'I', 2, sizeof(IonShareRequest)), "ION_IOC_MAP");
static_assert(kIonIocCustom == IonRequestCode(kIocReadWrite, 'I', 6, sizeof(IonCustomRequest)), "ION_IOC_CUSTOM");
static_assert(kIonIocFrameCommand == IonRequestCode(kIocReadWrite, 'I', 7, sizeof(IonFrameCommand)), "frame command");
