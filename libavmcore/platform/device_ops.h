#pragma once
// The device calls under the buffer allocator, as a table so that a build
// without the unit's devices can serve them from a model. Every entry keeps
// its system call's contract: -1 (MAP_FAILED for mmap) with errno set on
// failure.
#include <sys/types.h>

#include <cstddef>
#include <string>

struct DeviceOps {
  int (*open)(const char* path, int flags);
  int (*ioctl)(int fd, unsigned long request, void* argument);
  void* (*mmap)(void* address, size_t length, int protection, int flags, int fd, off_t offset);
  int (*munmap)(void* address, size_t length);
  int (*close)(int fd);
};

// The system calls themselves.
const DeviceOps& DeviceOps_System();

// The table the allocator uses: the system calls on the unit, the model of
// the devices (ion_device_model.h) in a build made with AVM_DEVICE_MODEL,
// unless one was installed.
const DeviceOps& DeviceOps_Current();
// Installs a table (null: back to the build's default) and returns the one
// it replaces. Only while no descriptor of the replaced table is open.
const DeviceOps* DeviceOps_Install(const DeviceOps* ops);

// Root prefix of the absolute device paths ("/" leaves them unchanged), so
// that tests can point the library at a directory of their own.
void DeviceRoot_Set(const char* root);
// abs is an absolute path such as "/dev/ion".
std::string DeviceRoot_Path(const char* abs);
