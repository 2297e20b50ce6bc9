#pragma once
// Process-wide allocator of buffers shared with the video engine: ION
// buffers (/dev/ion) mapped into the CPU and, through the cedar device
// (/dev/cedar_dev), into the engine's IOMMU. The devices are reached through
// DeviceOps (device_ops.h) at paths under the device root prefix.
#include <cstddef>
#include <cstdint>

#include "platform/ion_requests.h"

// Takes a reference; the first one opens both devices. 0, or -1 when a
// device does not open (nothing stays open then).
int IonAllocOpen();
// Drops a reference; the last one releases every buffer still listed and
// closes both devices. 0.
int IonAllocClose();
// A buffer of size bytes mapped for the engine's IOMMU: its CPU address, or
// 0 (not open, size <= 0, or a request refused; nothing is kept then).
uintptr_t IonAlloc(int32_t size);
// The same from the physically contiguous heap (4 KiB aligned); its device
// address is the physical one.
uintptr_t IonAllocPhysical(int32_t size);
// Releases the buffer that starts at address; its size, or 0 when no buffer
// starts there.
int32_t IonFree(uintptr_t cpuAddress);
// dma-buf descriptor of the buffer holding address, or -1.
int IonVir2fd(uintptr_t cpuAddress);
// Device address of a CPU address inside a buffer, or 0.
uintptr_t IonVir2phy(uintptr_t cpuAddress);
// CPU address of a device address inside a buffer, or 0.
uintptr_t IonPhy2vir(uintptr_t deviceAddress);
// Cache maintenance over [address, address + length) and over everything.
void IonFlushCache(uintptr_t address, int32_t length);
void IonFlushCacheAll();
// The frame command that precedes encoding a frame by reference. 0; the
// command's own result is not reported.
int IonCustomIoctl(uint32_t value);
// Size of the ION pool in bytes (logs the free part), or -1. Needs no open
// allocator.
int64_t IonQueryFreePool();
// References held (0: closed).
int32_t IonAllocReferences();

// The cedar device on its own: the descriptor or -1; close's result.
int CedarDevOpen();
int CedarDevClose(int fd);
// Requests the engine and maps param->fd into its IOMMU; *address gets the
// engine address. 0, or -1 with nothing held.
int CedarGetIommuAddr(int fd, CedarIommuParam* param, uint32_t* address);
// Unmaps param->fd and releases the engine. 0, or -1 when either failed.
int CedarFreeIommuAddr(int fd, CedarIommuParam* param);
