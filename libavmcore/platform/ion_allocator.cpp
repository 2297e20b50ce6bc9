#include "platform/ion_allocator.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "frame/log.h"
#include "platform/device_ops.h"

namespace {

struct IonBuffer {
  uint32_t device;  // engine address; low byte 0
  uintptr_t cpu;
  int32_t size;
  uint32_t handle;
  int fd;      // dma-buf
  bool iommu;  // the device address is an IOMMU mapping to give back
};

struct IonAllocContext {
  int fd = -1;
  std::list<IonBuffer> buffers;
  int32_t references = 0;
};

// Called from the application's thread and from the encoder thread (frame
// commands); one lock keeps the context and its list consistent.
std::mutex g_mutex;
std::unique_ptr<IonAllocContext> g_context;
int g_cedarFd = -1;

const DeviceOps& Ops() { return DeviceOps_Current(); }

void LogNotOpen() { AvmLog("IonAlloc do not opened, should call ion_alloc_open() before ion_alloc(size) \n"); }

// Frees a buffer that was mapped but not listed: the CPU mapping, its
// descriptor and its handle.
void DropUnlisted(void* cpu, int32_t size, int dmaBuf, uint32_t handle) {
  if (cpu != nullptr && Ops().munmap(cpu, static_cast<size_t>(size)) != 0) AvmLog("munmap err, ret %d\n", -1);
  if (dmaBuf >= 0) Ops().close(dmaBuf);
  IonHandleRequest h{handle};
  const int ret = Ops().ioctl(g_context->fd, kIonIocFree, &h);
  if (ret != 0) AvmLog("ION_IOC_FREE err, ret %d\n", ret);
}

// Gives back everything a listed buffer holds.
void Release(const IonBuffer& b) {
  if (b.iommu) {
    CedarIommuParam param{b.fd, b.device};
    if (CedarFreeIommuAddr(g_cedarFd, &param) != 0) AvmLog("free phy addr error\n");
  }
  if (Ops().munmap(reinterpret_cast<void*>(b.cpu), static_cast<size_t>(b.size)) != 0) AvmLog("munmap err, ret %d\n", -1);
  Ops().close(b.fd);
  IonHandleRequest h{b.handle};
  if (Ops().ioctl(g_context->fd, kIonIocFree, &h) != 0) AvmLog("TON_IOC_FREE failed \n");
}

uintptr_t Allocate(int32_t size, bool contiguous) {
  if (size <= 0) {
    AvmLog("can not alloc size 0 \n");
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return 0;
  }
  IonAllocRequest alloc{};
  alloc.length = static_cast<uint64_t>(size);
  alloc.alignment = contiguous ? kIonContiguousAlignment : 0;
  alloc.heapMask = contiguous ? kIonHeapMaskContiguous : kIonHeapMaskIommu;
  alloc.flags = kIonFlagsCached;
  if (Ops().ioctl(g_context->fd, kIonIocAlloc, &alloc) != 0) {
    AvmLog("ION_IOC_ALLOC error \n");
    return 0;
  }
  IonShareRequest share{};
  share.handle = alloc.handle;
  share.fd = -1;
  int ret = Ops().ioctl(g_context->fd, kIonIocMap, &share);
  if (ret != 0 || share.fd < 0) {
    AvmLog("ION_IOC_MAP err, ret %d, dmabuf fd 0x%08x\n", ret, static_cast<unsigned>(share.fd));
    DropUnlisted(nullptr, size, ret == 0 ? share.fd : -1, alloc.handle);
    return 0;
  }
  void* cpu = Ops().mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, share.fd, 0);
  if (cpu == MAP_FAILED) {
    AvmLog("mmap err, ret %d\n", -1);
    DropUnlisted(nullptr, size, share.fd, alloc.handle);
    return 0;
  }
  // The node is made before the engine mapping so that running out of
  // memory leaves nothing to undo in the engine.
  std::list<IonBuffer> node;
  try {
    node.emplace_back();
  } catch (const std::bad_alloc&) {
    AvmLog("malloc buffer node failed\n");
    DropUnlisted(cpu, size, share.fd, alloc.handle);
    return 0;
  }
  uint32_t device = 0;
  if (contiguous) {
    IonPhysicalQuery query{};
    query.handle = alloc.handle;
    IonCustomRequest custom{};
    custom.command = kIonCustomPhysicalAddress;
    custom.argument = reinterpret_cast<uintptr_t>(&query);
    ret = Ops().ioctl(g_context->fd, kIonIocCustom, &custom);
    if (ret != 0) {
      AvmLog("ION_IOC_CUSTOM err, ret %d\n", ret);
      DropUnlisted(cpu, size, share.fd, alloc.handle);
      return 0;
    }
    device = query.address;
  } else {
    // A buffer the engine cannot reach is of no use to its callers: it is
    // given back rather than listed without a device address.
    CedarIommuParam param{share.fd, 0};
    if (CedarGetIommuAddr(g_cedarFd, &param, &device) != 0) {
      AvmLog("get phy addr error\n");
      DropUnlisted(cpu, size, share.fd, alloc.handle);
      return 0;
    }
  }
  node.front() = IonBuffer{device, reinterpret_cast<uintptr_t>(cpu), size, alloc.handle, share.fd, !contiguous};
  g_context->buffers.splice(g_context->buffers.end(), node);
  return reinterpret_cast<uintptr_t>(cpu);
}

const IonBuffer* HoldingCpu(uintptr_t address) {
  for (const IonBuffer& b : g_context->buffers)
    if (address >= b.cpu && address - b.cpu < static_cast<uintptr_t>(b.size)) return &b;
  return nullptr;
}

}  // namespace

int CedarDevOpen() {
  const std::string path = DeviceRoot_Path(kCedarDevicePath);
  return Ops().open(path.c_str(), O_RDWR | O_CLOEXEC);
}

int CedarDevClose(int fd) { return Ops().close(fd); }

int CedarGetIommuAddr(int fd, CedarIommuParam* param, uint32_t* address) {
  if (param == nullptr || address == nullptr) return -1;
  int ret = Ops().ioctl(fd, kCedarEngineRequest, nullptr);
  if (ret != 0) {
    AvmLog("ENGINE_REQ err, ret %d\n", ret);
    return -1;
  }
  ret = Ops().ioctl(fd, kCedarGetIommuAddress, param);
  if (ret != 0) {
    AvmLog("get iommu addr fail! ret:[%d]\n", ret);
    ret = Ops().ioctl(fd, kCedarEngineRelease, nullptr);
    if (ret != 0) AvmLog("fatal error! ENGINE_REL err, ret %d\n", ret);
    return -1;
  }
  if ((param->iommuAddress & 0xFF) != 0) {
    AvmLog("get iommu addr maybe wrong:%x\n", param->iommuAddress);
    // The refused mapping and the engine are given back.
    CedarFreeIommuAddr(fd, param);
    return -1;
  }
  *address = param->iommuAddress;
  return 0;
}

int CedarFreeIommuAddr(int fd, CedarIommuParam* param) {
  int result = 0;
  int ret = Ops().ioctl(fd, kCedarFreeIommuAddress, param);
  if (ret != 0) {
    AvmLog("free iommu addr fail! ret:[%d]\n", ret);
    result = -1;
  }
  // The engine was requested with the mapping; it is released either way.
  ret = Ops().ioctl(fd, kCedarEngineRelease, nullptr);
  if (ret != 0) {
    AvmLog("fatal error! ENGINE_REL err, ret %d\n", ret);
    result = -1;
  }
  return result;
}

int IonAllocOpen() {
  AvmLog("\n===begin IonAllocOpen \n");
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context != nullptr) {
    AvmLog("ion allocator has already been created \n");
    ++g_context->references;
    return 0;
  }
  std::unique_ptr<IonAllocContext> context(new (std::nothrow) IonAllocContext);
  if (context == nullptr) {
    AvmLog("create ion allocator failed, out of memory \n");
    g_cedarFd = -1;
    return -1;
  }
  AvmLog("pid: %d, g_pAllocContext = %p \n", static_cast<int>(getpid()), static_cast<void*>(context.get()));
  const std::string ionPath = DeviceRoot_Path(kIonDevicePath);
  context->fd = Ops().open(ionPath.c_str(), O_RDWR | O_CLOEXEC);
  if (context->fd < 0) {
    AvmLog("open %s failed \n", ionPath.c_str());
    g_cedarFd = -1;
    return -1;
  }
  g_cedarFd = CedarDevOpen();
  if (g_cedarFd < 0) {
    AvmLog("open %s failed \n", DeviceRoot_Path(kCedarDevicePath).c_str());
    Ops().close(context->fd);
    g_cedarFd = -1;
    return -1;
  }
  context->references = 1;
  g_context = std::move(context);
  return 0;
}

int IonAllocClose() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return 0;
  }
  if (--g_context->references > 0) {
    AvmLog("ref cnt: %d > 0, do not free \n", g_context->references);
    return 0;
  }
  AvmLog("pid: %d, release g_pAllocContext = %p \n", static_cast<int>(getpid()), static_cast<void*>(g_context.get()));
  // Buffers still listed are given back before their devices close: their
  // mappings and descriptors would otherwise outlive every way to free them.
  for (const IonBuffer& b : g_context->buffers) {
    AvmLog("IonAllocClose del item phy = 0x%lx vir = 0x%lx, size = %d \n", static_cast<unsigned long>(b.device),
           static_cast<unsigned long>(b.cpu), b.size);
    Release(b);
  }
  g_context->buffers.clear();
  Ops().close(g_context->fd);
  CedarDevClose(g_cedarFd);
  g_cedarFd = -1;
  g_context.reset();
  return 0;
}

uintptr_t IonAlloc(int32_t size) { return Allocate(size, false); }

uintptr_t IonAllocPhysical(int32_t size) { return Allocate(size, true); }

int32_t IonFree(uintptr_t cpuAddress) {
  AvmLog("\n===IonFree \n");
  if (cpuAddress == 0) {
    AvmLog("can not free NULL buffer \n");
    return 0;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return 0;
  }
  for (auto it = g_context->buffers.begin(); it != g_context->buffers.end(); ++it) {
    if (it->cpu != cpuAddress) continue;
    const int32_t size = it->size;
    Release(*it);
    g_context->buffers.erase(it);
    return size;
  }
  AvmLog("IonFree failed, do not find virtual address: 0x%lx \n", static_cast<unsigned long>(cpuAddress));
  return 0;
}

int IonVir2fd(uintptr_t cpuAddress) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return -1;
  }
  if (const IonBuffer* b = HoldingCpu(cpuAddress)) {
    AvmLog("ion mem vir = 0x%p, fd = %d\n", reinterpret_cast<void*>(cpuAddress), b->fd);
    return b->fd;
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
    LogNotOpen();
    return 0;
  }
  if (const IonBuffer* b = HoldingCpu(cpuAddress)) return b->device + (cpuAddress - b->cpu);
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
    LogNotOpen();
    return 0;
  }
  for (const IonBuffer& b : g_context->buffers)
    if (deviceAddress >= b.device && deviceAddress - b.device < static_cast<uintptr_t>(b.size))
      return b.cpu + (deviceAddress - b.device);
  AvmLog("IonPhy2vir failed, do not find physical address: 0x%lx \n", static_cast<unsigned long>(deviceAddress));
  return 0;
}

void IonFlushCache(uintptr_t address, int32_t length) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return;
  }
  IonFlushRange range{};
  range.start = address;
  range.end = static_cast<uint64_t>(address) + static_cast<uint64_t>(static_cast<int64_t>(length));
  if (Ops().ioctl(g_context->fd, kIonIocSunxiFlushRange, &range) != 0)
    AvmLog("ION_IOC_SUNXI_FLUSH_RANGE failed \n");
}

void IonFlushCacheAll() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return;
  }
  if (Ops().ioctl(g_context->fd, kIonIocSunxiFlushAll, nullptr) != 0) AvmLog("ION_IOC_SUNXI_FLUSH_ALL failed \n");
}

int IonCustomIoctl(uint32_t value) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_context == nullptr) {
    LogNotOpen();
    return 0;
  }
  IonFrameCommand command{0, value};
  Ops().ioctl(g_context->fd, kIonIocFrameCommand, &command);
  return 0;
}

int64_t IonQueryFreePool() {
  const std::string path = DeviceRoot_Path(kIonDevicePath);
  const int fd = Ops().open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    AvmLog("open ion dev failed, cannot get ion mem.\n");
    return -1;
  }
  IonPoolQuery pool{};
  IonCustomRequest custom{};
  custom.command = kIonCustomPoolInfo;
  custom.argument = reinterpret_cast<uintptr_t>(&pool);
  if (Ops().ioctl(fd, kIonIocCustom, &custom) != 0) {
    const int err = errno;
    AvmLog("Failed to ioctl ion device, errno:%s\n", strerror(err));
    Ops().close(fd);
    return -1;
  }
  AvmLog("ion dev get free pool [%d MB], total [%d MB]\n", static_cast<int>(pool.freeKb >> 10),
         static_cast<int>(pool.totalKb >> 10));
  Ops().close(fd);
  return static_cast<int64_t>(pool.totalKb) * 1024;
}

int32_t IonAllocReferences() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_context != nullptr ? g_context->references : 0;
}
