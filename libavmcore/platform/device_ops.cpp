#include "platform/device_ops.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "platform/ion_device_model.h"

namespace {

int SystemOpen(const char* path, int flags) { return ::open(path, flags); }
int SystemIoctl(int fd, unsigned long request, void* argument) { return ::ioctl(fd, request, argument); }
void* SystemMmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  return ::mmap(address, length, protection, flags, fd, offset);
}
int SystemMunmap(void* address, size_t length) { return ::munmap(address, length); }
int SystemClose(int fd) { return ::close(fd); }

const DeviceOps kSystemOps = {SystemOpen, SystemIoctl, SystemMmap, SystemMunmap, SystemClose};

const DeviceOps& BuildDefault() {
#ifdef AVM_DEVICE_MODEL
  return IonDeviceModel_Ops();
#else
  return kSystemOps;
#endif
}

std::atomic<const DeviceOps*> g_installed{nullptr};

struct RootState {
  std::mutex mutex;
  std::string root = "/";
};
RootState& Root() {
  static RootState s;
  return s;
}

}  // namespace

const DeviceOps& DeviceOps_System() { return kSystemOps; }

const DeviceOps& DeviceOps_Current() {
  const DeviceOps* ops = g_installed.load();
  return ops != nullptr ? *ops : BuildDefault();
}

const DeviceOps* DeviceOps_Install(const DeviceOps* ops) {
  const DeviceOps* previous = g_installed.exchange(ops);
  return previous != nullptr ? previous : &BuildDefault();
}

void DeviceRoot_Set(const char* root) {
  std::lock_guard<std::mutex> lock(Root().mutex);
  Root().root = root != nullptr && root[0] != '\0' ? root : "/";
}

std::string DeviceRoot_Path(const char* abs) {
  std::string root;
  {
    std::lock_guard<std::mutex> lock(Root().mutex);
    root = Root().root;
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") return abs;
  return root + abs;
}
