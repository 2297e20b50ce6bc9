// The system-call table under a root of the test's own: a missing device, and
// plain files standing where the devices would be (they open, and refuse
// every request as a file does). No real device is touched.
#include "platform/device_ops.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device_test_support.h"
#include "platform/ion_requests.h"

namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

class SystemDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/avm-devroot-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    DeviceOps_Install(&DeviceOps_System());
    DeviceRoot_Set(root_.c_str());
    LogLines::Clear();
  }
  void TearDown() override {
    while (IonAllocReferences() > 0) IonAllocClose();
    DeviceRoot_Set("/");
    DeviceOps_Install(nullptr);
    unlink((root_ + "/dev/ion").c_str());
    unlink((root_ + "/dev/cedar_dev").c_str());
    rmdir((root_ + "/dev").c_str());
    rmdir(root_.c_str());
  }
  void MakeFile(const char* abs) {
    mkdir((root_ + "/dev").c_str(), 0755);
    FILE* f = fopen((root_ + abs).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
  }
  // The errno the system gives for a pool query sent to a plain file: ENOTTY
  // from a kernel; qemu's user-mode emulation passes on only the requests it
  // knows and answers the others with ENOSYS.
  int PlainFileQueryErrno() {
    const int fd = ::open((root_ + "/dev/ion").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    IonCustomRequest custom{};
    errno = 0;
    const int rc = DeviceOps_System().ioctl(fd, kIonIocCustom, &custom);
    const int err = rc != 0 ? errno : 0;
    ::close(fd);
    return err;
  }
  std::string root_;
  LogLines log_;
};

TEST(DeviceRootTest, PathsTakeThePrefix) {
  struct Case {
    const char* root;
    const char* path;
  };
  const Case cases[] = {
      {"/", "/dev/ion"},          {"", "/dev/ion"},          {nullptr, "/dev/ion"},
      {"/r", "/r/dev/ion"},       {"/r/", "/r/dev/ion"},     {"/a/b//", "/a/b/dev/ion"},
  };
  for (const Case& c : cases) {
    DeviceRoot_Set(c.root);
    EXPECT_EQ(DeviceRoot_Path("/dev/ion"), c.path) << (c.root != nullptr ? c.root : "null");
  }
  DeviceRoot_Set("/");
}

TEST_F(SystemDeviceTest, MissingDeviceFailsTheOpenAndLeavesNoDescriptor) {
  const int before = OpenDescriptors();
  EXPECT_EQ(IonAllocOpen(), -1);
  EXPECT_TRUE(LogLines::Has("open " + root_ + "/dev/ion failed"));
  EXPECT_EQ(IonAllocReferences(), 0);
  EXPECT_EQ(IonQueryFreePool(), -1);
  EXPECT_EQ(CedarDevOpen(), -1);
  EXPECT_EQ(OpenDescriptors(), before);
  // The ION device alone is not enough.
  MakeFile("/dev/ion");
  EXPECT_EQ(IonAllocOpen(), -1);
  EXPECT_TRUE(LogLines::Has("open " + root_ + "/dev/cedar_dev failed"));
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(SystemDeviceTest, RequestsToSomethingThatIsNotTheDriverAreRefused) {
  MakeFile("/dev/ion");
  MakeFile("/dev/cedar_dev");
  const int before = OpenDescriptors();
  ASSERT_EQ(IonAllocOpen(), 0);
  EXPECT_EQ(OpenDescriptors(), before + 2);
  EXPECT_EQ(IonAlloc(4096), 0u);
  EXPECT_TRUE(LogLines::Has("ION_IOC_ALLOC error"));
  EXPECT_EQ(IonAllocPhysical(4096), 0u);
  IonFlushCacheAll();
  EXPECT_TRUE(LogLines::Has("ION_IOC_SUNXI_FLUSH_ALL failed"));
  EXPECT_EQ(IonCustomIoctl(3), 0);
  EXPECT_EQ(IonQueryFreePool(), -1);
  const int refused = PlainFileQueryErrno();
  EXPECT_TRUE(refused == ENOTTY || refused == ENOSYS) << refused;
  EXPECT_TRUE(LogLines::Has(std::string("Failed to ioctl ion device, errno:") + strerror(refused)));
  EXPECT_EQ(OpenDescriptors(), before + 2);
  EXPECT_EQ(IonAllocClose(), 0);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
