#pragma once
// Process-wide allocator of buffers shared with the video engine. On the
// unit these are ION buffers mapped into the engine's IOMMU; here every
// buffer is an anonymous shared memory file (memfd) mapped read-write, with
// a device address handed out from a private 4 KiB-aligned range, so that
// the lookups, reference counting and cache calls behave as the callers
// expect without the devices.
#include <cstddef>
#include <cstdint>

// Takes a reference; the first one creates the context. 0, or -1 on failure.
int IonAllocOpen();
// Drops a reference; the last one frees every buffer still listed. 0.
int IonAllocClose();
// A buffer of size bytes: its CPU address, or 0 (not open, size <= 0, no memory).
uintptr_t IonAlloc(int32_t size);
// The same from the physically contiguous heap (4 KiB aligned).
uintptr_t IonAllocPhysical(int32_t size);
// Frees the buffer that starts at address; its size, or 0 when no buffer starts there.
int32_t IonFree(uintptr_t cpuAddress);
// Descriptor of the buffer holding address, or -1.
int IonVir2fd(uintptr_t cpuAddress);
// Device address of a CPU address inside a buffer, or 0.
uintptr_t IonVir2phy(uintptr_t cpuAddress);
// CPU address of a device address inside a buffer, or 0.
uintptr_t IonPhy2vir(uintptr_t deviceAddress);
// Cache maintenance over [address, address + length) and over everything.
// Both are complete with the coherent mappings used here; they only count.
void IonFlushCache(uintptr_t address, int32_t length);
void IonFlushCacheAll();
// The frame command that precedes encoding a frame by reference. 0.
int IonCustomIoctl(uint32_t value);
// Total size of the listed buffers in bytes, or -1 when not open.
int64_t IonQueryFreePool();

// What the stand-in has seen, for tests: listed buffers, the reference count,
// flush calls, and frame commands with the last value.
struct IonStandInCounters {
  int32_t buffers;
  int32_t references;
  int64_t flushes;
  int64_t frameCommands;
  uint32_t lastFrameCommand;
};
IonStandInCounters IonStandIn_Counters();
