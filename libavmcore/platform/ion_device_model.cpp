#include "platform/ion_device_model.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "platform/ion_requests.h"

namespace {

constexpr uint64_t kPage = 4096;
constexpr size_t kRecordedRequests = 4096;
constexpr uint32_t kIommuBase = 0x40000000u;
constexpr uint32_t kPhysicalBase = 0x10000000u;
constexpr uint32_t kPhysicalEnd = kIommuBase;

uint64_t PageRound(uint64_t n) { return (n + kPage - 1) / kPage * kPage; }

// One buffer of the pool; its memory is held while anything refers to it:
// its handle, a dma-buf descriptor, a CPU mapping or an IOMMU mapping.
struct Buffer {
  int backing = -1;  // memfd
  uint64_t size = 0;
  uint32_t heapMask = 0;
  uint32_t physical = 0;
  int references = 0;
};

struct Handle {
  int client;  // the ION descriptor it was allocated on
  int buffer;
};

struct Mapping {
  int buffer;
  uint64_t length;
};

struct Fault {
  IonModelOp op;
  IonModelDevice device;
  unsigned long code;
  int error;
};

struct Model {
  std::mutex mutex;
  std::map<int, IonModelDevice> devices;
  std::map<int, Buffer> buffers;
  int nextBuffer = 1;
  std::map<uint32_t, Handle> handles;
  uint32_t nextHandle = 1;
  std::map<int, int> dmaBufs;  // descriptor -> buffer
  std::map<uintptr_t, Mapping> mappings;
  std::map<int, uint32_t> iommu;  // buffer -> engine address
  int engineReferences = 0;
  uint64_t nextIommu = kIommuBase;
  uint64_t nextPhysical = kPhysicalBase;
  uint32_t iommuOffset = 0;
  uint64_t heldBytes = 0;  // page-rounded, counted against the pool
  bool ionPresent = true;
  bool cedarPresent = true;
  std::vector<Fault> faults;
  std::deque<IonModelRequest> requests;
  int64_t refused = 0;
  int64_t frameCommands = 0;
  uint32_t lastFrameCommand = 0;
};

// Destroyed with the library (a host may unload it); the decoder's threads,
// its only users on other threads, end before its release returns.
Model& TheModel() {
  static Model m;
  return m;
}

void Unref(Model& m, int id) {
  auto it = m.buffers.find(id);
  if (it == m.buffers.end()) return;
  if (--it->second.references > 0) return;
  close(it->second.backing);
  m.heldBytes -= PageRound(it->second.size);
  m.buffers.erase(it);
}

bool TakeFault(Model& m, IonModelOp op, IonModelDevice device, unsigned long code, int* error) {
  for (auto it = m.faults.begin(); it != m.faults.end(); ++it) {
    if (it->op != op || it->device != device) continue;
    if (op == IonModelOp::kIoctl && it->code != code) continue;
    *error = it->error;
    m.faults.erase(it);
    return true;
  }
  return false;
}

IonModelRequest& Record(Model& m, IonModelOp op, IonModelDevice device, int fd) {
  if (m.requests.size() == kRecordedRequests) m.requests.pop_front();
  m.requests.emplace_back();
  IonModelRequest& r = m.requests.back();
  r.op = op;
  r.device = device;
  r.fd = fd;
  r.code = 0;
  r.flags = 0;
  r.length = 0;
  r.error = 0;
  return r;
}

std::vector<uint8_t> Bytes(const void* p, size_t n) {
  if (p == nullptr || n == 0) return {};
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return std::vector<uint8_t>(b, b + n);
}

// Size of the record a request reads, by its code.
size_t RecordSize(IonModelDevice device, unsigned long code) {
  if (device == IonModelDevice::kIon) {
    if (code == kIonIocSunxiFlushRange) return sizeof(IonFlushRange);
    if (code == kIonIocSunxiFlushAll) return 0;
    if ((code >> 30) != 0 && ((code >> 8) & 0xFF) == 'I') return IonRequestSize(code);
    return 0;
  }
  if (device == IonModelDevice::kCedar &&
      (code == kCedarGetIommuAddress || code == kCedarFreeIommuAddress))
    return sizeof(CedarIommuParam);
  return 0;
}

IonModelDevice Kind(const Model& m, int fd) {
  auto d = m.devices.find(fd);
  if (d != m.devices.end()) return d->second;
  if (m.dmaBufs.count(fd) != 0) return IonModelDevice::kBuffer;
  return IonModelDevice::kNone;
}

int Allocate(Model& m, int client, IonAllocRequest* r) {
  if (r->length == 0 || r->length > 0x7FFFFFFFu) return EINVAL;
  if (r->alignment != 0 && ((r->alignment & (r->alignment - 1)) != 0 || r->alignment > (1u << 20))) return EINVAL;
  if (r->heapMask != kIonHeapMaskIommu && r->heapMask != kIonHeapMaskContiguous) return ENODEV;
  if ((r->flags & ~kIonFlagsCached) != 0) return EINVAL;
  const uint64_t rounded = PageRound(r->length);
  if (m.heldBytes + rounded > kIonModelPoolBytes) return ENOMEM;
  Buffer b;
  b.size = r->length;
  b.heapMask = r->heapMask;
  if (r->heapMask == kIonHeapMaskContiguous) {
    const uint64_t align = r->alignment > kPage ? r->alignment : kPage;
    const uint64_t at = (m.nextPhysical + align - 1) / align * align;
    if (at + rounded > kPhysicalEnd) return ENOMEM;
    b.physical = static_cast<uint32_t>(at);
    m.nextPhysical = at + rounded;
  }
  b.backing = memfd_create("ion-model-buffer", MFD_CLOEXEC);
  if (b.backing < 0) return ENOMEM;
  if (ftruncate(b.backing, static_cast<off_t>(r->length)) != 0) {
    close(b.backing);
    return ENOMEM;
  }
  b.references = 1;
  const int id = m.nextBuffer++;
  m.buffers[id] = b;
  m.heldBytes += rounded;
  const uint32_t h = m.nextHandle++;
  m.handles[h] = Handle{client, id};
  r->handle = h;
  return 0;
}

const Handle* FindHandle(const Model& m, int client, uint32_t handle) {
  auto it = m.handles.find(handle);
  if (it == m.handles.end() || it->second.client != client) return nullptr;
  return &it->second;
}

int IonRequest(Model& m, int fd, unsigned long code, void* argument, IonModelRequest& rec) {
  if (code == kIonIocSunxiFlushAll) return argument == nullptr ? 0 : EINVAL;
  if (argument == nullptr) {
    const bool known = code == kIonIocAlloc || code == kIonIocFree || code == kIonIocMap || code == kIonIocCustom ||
                       code == kIonIocSunxiFlushRange || code == kIonIocFrameCommand;
    return known ? EFAULT : ENOTTY;
  }
  switch (code) {
    case kIonIocAlloc:
      return Allocate(m, fd, static_cast<IonAllocRequest*>(argument));
    case kIonIocFree: {
      const uint32_t handle = static_cast<IonHandleRequest*>(argument)->handle;
      const Handle* h = FindHandle(m, fd, handle);
      if (h == nullptr) return EINVAL;
      const int id = h->buffer;
      m.handles.erase(handle);
      Unref(m, id);
      return 0;
    }
    case kIonIocMap: {
      IonShareRequest* r = static_cast<IonShareRequest*>(argument);
      const Handle* h = FindHandle(m, fd, r->handle);
      if (h == nullptr) return EINVAL;
      Buffer& b = m.buffers.at(h->buffer);
      const int dup = fcntl(b.backing, F_DUPFD_CLOEXEC, 0);
      if (dup < 0) return EMFILE;
      m.dmaBufs[dup] = h->buffer;
      ++b.references;
      r->fd = dup;
      return 0;
    }
    case kIonIocCustom: {
      IonCustomRequest* r = static_cast<IonCustomRequest*>(argument);
      void* inner = reinterpret_cast<void*>(static_cast<uintptr_t>(r->argument));
      if (inner == nullptr) return EFAULT;
      if (r->command == kIonCustomPhysicalAddress) {
        IonPhysicalQuery* q = static_cast<IonPhysicalQuery*>(inner);
        rec.argument = Bytes(q, sizeof(*q));
        const Handle* h = FindHandle(m, fd, q->handle);
        if (h == nullptr) return EINVAL;
        const Buffer& b = m.buffers.at(h->buffer);
        if (b.heapMask != kIonHeapMaskContiguous) return EINVAL;  // scattered pages have no one address
        q->address = b.physical;
        q->size = static_cast<uint32_t>(b.size);
        return 0;
      }
      if (r->command == kIonCustomPoolInfo) {
        IonPoolQuery* q = static_cast<IonPoolQuery*>(inner);
        rec.argument = Bytes(q, sizeof(*q));
        q->totalKb = static_cast<uint32_t>(kIonModelPoolBytes >> 10);
        q->freeKb = static_cast<uint32_t>((kIonModelPoolBytes - m.heldBytes) >> 10);
        return 0;
      }
      return EINVAL;
    }
    case kIonIocSunxiFlushRange: {
      const IonFlushRange* r = static_cast<const IonFlushRange*>(argument);
      if (r->end < r->start) return EINVAL;
      // The range must lie in one mapping of a buffer.
      auto it = m.mappings.upper_bound(static_cast<uintptr_t>(r->start));
      if (it == m.mappings.begin()) return EFAULT;
      --it;
      if (r->end > it->first + it->second.length) return EFAULT;
      return 0;
    }
    case kIonIocFrameCommand:
      ++m.frameCommands;
      m.lastFrameCommand = static_cast<IonFrameCommand*>(argument)->value;
      return 0;
    default:
      return ENOTTY;
  }
}

int CedarRequest(Model& m, unsigned long code, void* argument) {
  switch (code) {
    case kCedarEngineRequest:
      if (argument != nullptr) return EINVAL;
      ++m.engineReferences;
      return 0;
    case kCedarEngineRelease:
      if (argument != nullptr || m.engineReferences == 0) return EINVAL;
      --m.engineReferences;
      return 0;
    case kCedarGetIommuAddress: {
      CedarIommuParam* p = static_cast<CedarIommuParam*>(argument);
      if (p == nullptr) return EFAULT;
      if (m.engineReferences == 0) return EPERM;  // the engine is requested first
      auto d = m.dmaBufs.find(p->fd);
      if (d == m.dmaBufs.end()) return EBADF;
      if (m.iommu.count(d->second) != 0) return EEXIST;
      Buffer& b = m.buffers.at(d->second);
      const uint64_t at = m.nextIommu;
      if (at + PageRound(b.size) > 0x100000000ull) return ENOMEM;
      m.nextIommu = at + PageRound(b.size);
      p->iommuAddress = static_cast<uint32_t>(at) + m.iommuOffset;
      m.iommuOffset = 0;
      m.iommu[d->second] = p->iommuAddress;
      ++b.references;
      return 0;
    }
    case kCedarFreeIommuAddress: {
      CedarIommuParam* p = static_cast<CedarIommuParam*>(argument);
      if (p == nullptr) return EFAULT;
      auto d = m.dmaBufs.find(p->fd);
      if (d == m.dmaBufs.end()) return EBADF;
      auto i = m.iommu.find(d->second);
      if (i == m.iommu.end()) return EINVAL;
      const int id = d->second;
      m.iommu.erase(i);
      Unref(m, id);
      return 0;
    }
    default:
      return ENOTTY;
  }
}

int Fail(int error) {
  errno = error;
  return -1;
}

int ModelOpen(const char* path, int flags) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  IonModelDevice device = IonModelDevice::kNone;
  if (path != nullptr && DeviceRoot_Path(kIonDevicePath) == path) device = IonModelDevice::kIon;
  if (path != nullptr && DeviceRoot_Path(kCedarDevicePath) == path) device = IonModelDevice::kCedar;
  IonModelRequest& rec = Record(m, IonModelOp::kOpen, device, -1);
  rec.path = path != nullptr ? path : "";
  rec.flags = flags;
  const int mode = flags & O_ACCMODE;
  int error = 0;
  if (device == IonModelDevice::kNone) {
    error = ENOENT;
  } else if (!TakeFault(m, IonModelOp::kOpen, device, 0, &error)) {
    if ((device == IonModelDevice::kIon && !m.ionPresent) || (device == IonModelDevice::kCedar && !m.cedarPresent))
      error = ENOENT;
    else if ((flags & ~(O_ACCMODE | O_CLOEXEC)) != 0 || mode == O_RDONLY ||
             (device == IonModelDevice::kCedar && mode != O_RDWR))
      error = EINVAL;
  }
  if (error == 0) {
    const int fd = memfd_create(device == IonModelDevice::kIon ? "ion-model-device" : "cedar-model-device", MFD_CLOEXEC);
    if (fd < 0) {
      error = errno;
    } else {
      m.devices[fd] = device;
      rec.fd = fd;
      return fd;
    }
  }
  rec.error = error;
  ++m.refused;
  return Fail(error);
}

int ModelIoctl(int fd, unsigned long code, void* argument) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  const IonModelDevice device = Kind(m, fd);
  IonModelRequest& rec = Record(m, IonModelOp::kIoctl, device, fd);
  rec.code = code;
  rec.record = Bytes(argument, RecordSize(device, code));
  int error = 0;
  if (device == IonModelDevice::kNone) {
    error = EBADF;
  } else if (!TakeFault(m, IonModelOp::kIoctl, device, code, &error)) {
    if (device == IonModelDevice::kIon)
      error = IonRequest(m, fd, code, argument, rec);
    else if (device == IonModelDevice::kCedar)
      error = CedarRequest(m, code, argument);
    else
      error = ENOTTY;
  }
  if (error == 0) return 0;
  rec.error = error;
  ++m.refused;
  return Fail(error);
}

void* ModelMmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  const IonModelDevice device = Kind(m, fd);
  IonModelRequest& rec = Record(m, IonModelOp::kMmap, device, fd);
  rec.flags = flags;
  rec.length = length;
  int error = 0;
  auto d = m.dmaBufs.find(fd);
  if (device == IonModelDevice::kNone) {
    error = EBADF;
  } else if (d == m.dmaBufs.end()) {
    error = ENODEV;  // the devices themselves are not mapped
  } else if (!TakeFault(m, IonModelOp::kMmap, IonModelDevice::kBuffer, 0, &error)) {
    if (address != nullptr || protection != (PROT_READ | PROT_WRITE) || flags != MAP_SHARED || offset != 0 ||
        length == 0 || length > m.buffers.at(d->second).size)
      error = EINVAL;
  }
  if (error == 0) {
    Buffer& b = m.buffers.at(d->second);
    void* p = mmap(nullptr, length, protection, flags, b.backing, 0);
    if (p == MAP_FAILED) {
      error = errno;
    } else {
      m.mappings[reinterpret_cast<uintptr_t>(p)] = Mapping{d->second, length};
      ++b.references;
      return p;
    }
  }
  rec.error = error;
  ++m.refused;
  errno = error;
  return MAP_FAILED;
}

int ModelMunmap(void* address, size_t length) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto it = m.mappings.find(reinterpret_cast<uintptr_t>(address));
  IonModelRequest& rec =
      Record(m, IonModelOp::kMunmap, it != m.mappings.end() ? IonModelDevice::kBuffer : IonModelDevice::kNone, -1);
  rec.length = length;
  int error = 0;
  if (it == m.mappings.end() || it->second.length != length)
    error = EINVAL;
  else if (munmap(address, length) != 0)
    error = errno;
  if (error == 0) {
    const int id = it->second.buffer;
    m.mappings.erase(it);
    Unref(m, id);
    return 0;
  }
  rec.error = error;
  ++m.refused;
  return Fail(error);
}

int ModelClose(int fd) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  const IonModelDevice device = Kind(m, fd);
  IonModelRequest& rec = Record(m, IonModelOp::kClose, device, fd);
  if (device == IonModelDevice::kNone) {
    rec.error = EBADF;
    ++m.refused;
    return Fail(EBADF);
  }
  close(fd);
  if (device == IonModelDevice::kBuffer) {
    const int id = m.dmaBufs.at(fd);
    m.dmaBufs.erase(fd);
    Unref(m, id);
    return 0;
  }
  m.devices.erase(fd);
  // As the driver does, closing an ION client frees the handles it holds.
  for (auto it = m.handles.begin(); it != m.handles.end();) {
    if (it->second.client != fd) {
      ++it;
      continue;
    }
    const int id = it->second.buffer;
    it = m.handles.erase(it);
    Unref(m, id);
  }
  return 0;
}

const DeviceOps kModelOps = {ModelOpen, ModelIoctl, ModelMmap, ModelMunmap, ModelClose};

}  // namespace

const DeviceOps& IonDeviceModel_Ops() { return kModelOps; }

IonModelStats IonDeviceModel_Stats() {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  IonModelStats s{};
  s.openDevices = static_cast<int32_t>(m.devices.size());
  s.openDmaBufs = static_cast<int32_t>(m.dmaBufs.size());
  s.handles = static_cast<int32_t>(m.handles.size());
  s.mappings = static_cast<int32_t>(m.mappings.size());
  s.iommuMappings = static_cast<int32_t>(m.iommu.size());
  s.engineReferences = m.engineReferences;
  s.buffers = static_cast<int32_t>(m.buffers.size());
  s.heldBytes = static_cast<int64_t>(m.heldBytes);
  s.refused = m.refused;
  s.frameCommands = m.frameCommands;
  s.lastFrameCommand = m.lastFrameCommand;
  return s;
}

std::vector<IonModelRequest> IonDeviceModel_Requests() {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  return std::vector<IonModelRequest>(m.requests.begin(), m.requests.end());
}

void IonDeviceModel_Reset() {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.requests.clear();
  m.faults.clear();
  m.refused = 0;
  m.frameCommands = 0;
  m.lastFrameCommand = 0;
  m.iommuOffset = 0;
  m.ionPresent = true;
  m.cedarPresent = true;
}

void IonDeviceModel_FailNext(IonModelOp op, IonModelDevice device, unsigned long code, int err) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.faults.push_back(Fault{op, device, code, err});
}

void IonDeviceModel_OffsetNextIommuAddress(uint32_t offset) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.iommuOffset = offset;
}

void IonDeviceModel_SetPresent(IonModelDevice device, bool present) {
  Model& m = TheModel();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (device == IonModelDevice::kIon) m.ionPresent = present;
  if (device == IonModelDevice::kCedar) m.cedarPresent = present;
}
