#include "platform/ion_allocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <list>
#include <memory>
#include <mutex>

#include "frame/log.h"

namespace {

struct IonBuffer {
  uintptr_t device;
  uintptr_t cpu;
  int32_t size;
  int fd;
};

struct IonAllocContext {
  std::list<IonBuffer> buffers;
  int32_t references = 0;
  uintptr_t nextDevice = 0x40000000u;  // low byte always 0, as the IOMMU gives them
};

// The allocator is called from the application's thread and from the
// encoder thread; one lock keeps the list and counters consistent.
std::mutex g_mutex;
IonAllocContext* g_context = nullptr;
int64_t g_flushes = 0;
int64_t g_frameCommands = 0;
uint32_t g_lastFrameCommand = 0;

constexpr uintptr_t kPage = 4096;

void ReleaseBuffer(const IonBuffer& b) {
  munmap(reinterpret_cast<void*>(b.cpu), static_cast<size_t>(b.size));
  close(b.fd);
}

uintptr_t Allocate(int32_t size, const char* name) {
  if (size <= 0) {
    AvmLog("can not alloc size 0 \n");
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    AvmLog("IonAlloc do not opened, should call ion_alloc_open() before ion_alloc(size) \n");
    return 0;
  }
  const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) {
    AvmLog("ION_IOC_ALLOC error \n");
    return 0;
  }
  if (ftruncate(fd, size) != 0) {
    AvmLog("ION_IOC_ALLOC error \n");
    close(fd);
    return 0;
  }
  void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) {
    AvmLog("mmap err, ret %d\n", -1);
    close(fd);
    return 0;
  }
  IonBuffer b{g_context->nextDevice, reinterpret_cast<uintptr_t>(p), size, fd};
  g_context->nextDevice += (static_cast<uintptr_t>(size) + kPage - 1) / kPage * kPage;
  g_context->buffers.push_back(b);
  return b.cpu;
}

}  // namespace

int IonAllocOpen() {
  AvmLog("\n===begin IonAllocOpen \n");
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context != nullptr) {
    AvmLog("ion allocator has already been created \n");
    ++g_context->references;
    return 0;
  }
  g_context = new (std::nothrow) IonAllocContext;
  if (g_context == nullptr) {
    AvmLog("create ion allocator failed, out of memory \n");
    return -1;
  }
  AvmLog("pid: %d, g_pAllocContext = %p \n", static_cast<int>(getpid()), static_cast<void*>(g_context));
  g_context->references = 1;
  return 0;
}

int IonAllocClose() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) return 0;
  if (--g_context->references > 0) {
    AvmLog("ref cnt: %d > 0, do not free \n", g_context->references);
    return 0;
  }
  AvmLog("pid: %d, release g_pAllocContext = %p \n", static_cast<int>(getpid()), static_cast<void*>(g_context));
  for (const IonBuffer& b : g_context->buffers) {
    AvmLog("IonAllocClose del item phy = 0x%lx vir = 0x%lx, size = %d \n", static_cast<unsigned long>(b.device),
           static_cast<unsigned long>(b.cpu), b.size);
    ReleaseBuffer(b);
  }
  delete g_context;
  g_context = nullptr;
  return 0;
}

uintptr_t IonAlloc(int32_t size) { return Allocate(size, "ion"); }

uintptr_t IonAllocPhysical(int32_t size) { return Allocate(size, "ion-phys"); }

int32_t IonFree(uintptr_t cpuAddress) {
  AvmLog("\n===IonFree \n");
  if (cpuAddress == 0) {
    AvmLog("can not free NULL buffer \n");
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    AvmLog("IonAlloc do not opened, should call ion_alloc_open() before ion_alloc(size) \n");
    return 0;
  }
  for (auto it = g_context->buffers.begin(); it != g_context->buffers.end(); ++it) {
    if (it->cpu != cpuAddress) continue;
    const int32_t size = it->size;
    ReleaseBuffer(*it);
    g_context->buffers.erase(it);
    return size;
  }
  AvmLog("IonFree failed, do not find virtual address: 0x%lx \n", static_cast<unsigned long>(cpuAddress));
  return 0;
}

int IonVir2fd(uintptr_t cpuAddress) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) return -1;
  for (const IonBuffer& b : g_context->buffers)
    if (cpuAddress >= b.cpu && cpuAddress < b.cpu + static_cast<uintptr_t>(b.size)) {
      AvmLog("ion mem vir = 0x%p, fd = %d\n", reinterpret_cast<void*>(cpuAddress), b.fd);
      return b.fd;
    }
  AvmLog("ion_vir2fd failed, do not find virtual address: 0x%lx \n", static_cast<unsigned long>(cpuAddress));
  return -1;
}

uintptr_t IonVir2phy(uintptr_t cpuAddress) {
  if (cpuAddress == 0) {
    AvmLog("can not vir2phy NULL buffer \n");
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    AvmLog("IonAlloc do not opened, should call ion_alloc_open() before ion_alloc(size) \n");
    return 0;
  }
  for (const IonBuffer& b : g_context->buffers)
    if (cpuAddress >= b.cpu && cpuAddress < b.cpu + static_cast<uintptr_t>(b.size)) return b.device + (cpuAddress - b.cpu);
  AvmLog("IonVir2phy failed, do not find virtual address: 0x%lx \n", static_cast<unsigned long>(cpuAddress));
  return 0;
}

uintptr_t IonPhy2vir(uintptr_t deviceAddress) {
  if (deviceAddress == 0) {
    AvmLog("can not phy2vir NULL buffer \n");
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    AvmLog("IonAlloc do not opened, should call ion_alloc_open() before ion_alloc(size) \n");
    return 0;
  }
  for (const IonBuffer& b : g_context->buffers)
    if (deviceAddress >= b.device && deviceAddress < b.device + static_cast<uintptr_t>(b.size))
      return b.cpu + (deviceAddress - b.device);
  AvmLog("IonPhy2vir failed, do not find physical address: 0x%lx \n", static_cast<unsigned long>(deviceAddress));
  return 0;
}

void IonFlushCache(uintptr_t address, int32_t length) {
  (void)address;
  (void)length;
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_flushes;
}

void IonFlushCacheAll() {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_flushes;
}

int IonCustomIoctl(uint32_t value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  ++g_frameCommands;
  g_lastFrameCommand = value;
  return 0;
}

int64_t IonQueryFreePool() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    AvmLog("open ion dev failed, cannot get ion mem.\n");
    return -1;
  }
  int64_t total = 0;
  for (const IonBuffer& b : g_context->buffers) total += b.size;
  AvmLog("ion dev get free pool [%d MB], total [%d MB]\n", 0, static_cast<int>(total >> 20));
  return total;
}

IonStandInCounters IonStandIn_Counters() {
  std::lock_guard<std::mutex> lock(g_mutex);
  IonStandInCounters c{};
  c.buffers = g_context != nullptr ? static_cast<int32_t>(g_context->buffers.size()) : 0;
  c.references = g_context != nullptr ? g_context->references : 0;
  c.flushes = g_flushes;
  c.frameCommands = g_frameCommands;
  c.lastFrameCommand = g_lastFrameCommand;
  return c;
}
