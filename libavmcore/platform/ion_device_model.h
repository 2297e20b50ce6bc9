#pragma once
// User-space model of the ION allocator and cedar devices, for machines
// without them. It answers the device calls of DeviceOps: every request is
// checked against the records of ion_requests.h (code on the right device,
// record fields, handles and descriptors it handed out) and refused with
// the errno a driver would give when it does not match. Buffers are memfd
// files; their dma-buf descriptors are real descriptors of those files, so
// they can be mapped and passed on. Engine (IOMMU) addresses come from a
// 4 KiB-aligned range, contiguous-heap addresses from a second one.
// Process-wide and thread-safe. Requests are recorded for tests, and single
// requests can be made to fail.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/device_ops.h"

const DeviceOps& IonDeviceModel_Ops();

enum class IonModelOp { kOpen, kIoctl, kMmap, kMunmap, kClose };
enum class IonModelDevice { kNone, kIon, kCedar, kBuffer };

struct IonModelRequest {
  IonModelOp op;
  IonModelDevice device;
  int fd;                         // the descriptor named, or the one opened
  unsigned long code;             // ioctl request code
  std::vector<uint8_t> record;    // the ioctl's record as it came in
  std::vector<uint8_t> argument;  // for ION_IOC_CUSTOM: the record its argument points to
  std::string path;               // open
  int flags;                      // open, mmap
  uint64_t length;                // mmap, munmap
  int error;                      // 0, or the errno of a refused request
};

struct IonModelStats {
  int32_t openDevices;  // ION and cedar descriptors
  int32_t openDmaBufs;  // dma-buf descriptors (each dup counts)
  int32_t handles;      // live ION handles
  int32_t mappings;     // live CPU mappings
  int32_t iommuMappings;
  int32_t engineReferences;
  int32_t buffers;       // buffers whose memory is still held
  int64_t heldBytes;     // their sizes
  int64_t refused;       // requests refused since the last reset
  int64_t frameCommands;
  uint32_t lastFrameCommand;
};

IonModelStats IonDeviceModel_Stats();
// The recorded requests, oldest first (the most recent 4096).
std::vector<IonModelRequest> IonDeviceModel_Requests();
// Forgets the record, the counts of refused requests and frame commands and
// the armed failures; live objects stay.
void IonDeviceModel_Reset();
// The next request that matches fails with err. For kIoctl the code must
// match; for kOpen the device (by path), for kMmap any buffer.
void IonDeviceModel_FailNext(IonModelOp op, IonModelDevice device, unsigned long code, int err);
// The next IOMMU address handed out is offset by this many bytes.
void IonDeviceModel_OffsetNextIommuAddress(uint32_t offset);
// A device that is absent fails every open with ENOENT.
void IonDeviceModel_SetPresent(IonModelDevice device, bool present);
// Size of the modelled ION pool.
constexpr uint64_t kIonModelPoolBytes = 256u << 20;
