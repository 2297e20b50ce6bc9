#pragma once
// Shared by the allocator and device-model tests: the library's log lines,
// and the model installed as the device layer for one test.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "frame/log.h"
#include "platform/device_ops.h"
#include "platform/ion_allocator.h"
#include "platform/ion_device_model.h"

class LogLines {
 public:
  LogLines() { previous_ = AvmLog_SetSink(Sink); }
  ~LogLines() { AvmLog_SetSink(previous_); }
  static void Clear() {
    std::lock_guard<std::mutex> lock(Mutex());
    Lines().clear();
  }
  // Whether a line beginning with prefix was logged.
  static bool Has(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(Mutex());
    for (const std::string& l : Lines())
      if (l.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
  static int Count(const std::string& prefix) {
    std::lock_guard<std::mutex> lock(Mutex());
    int n = 0;
    for (const std::string& l : Lines()) n += l.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> v;
    return v;
  }
  static void Sink(const char* line) {
    std::lock_guard<std::mutex> lock(Mutex());
    // Lines that open with a blank line are matched by their text.
    std::string s(line);
    while (!s.empty() && s[0] == '\n') s.erase(0, 1);
    Lines().push_back(s);
  }
  AvmLogSink previous_;
};

// Each test starts on the model with a clean record and ends with the
// allocator closed and nothing held in the devices.
class ModelDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceOps_Install(&IonDeviceModel_Ops());
    DeviceRoot_Set("/");
    IonDeviceModel_Reset();
    LogLines::Clear();
  }
  void TearDown() override {
    for (int i = 0; i < 16 && IonAllocReferences() > 0; ++i) IonAllocClose();
    const IonModelStats s = IonDeviceModel_Stats();
    EXPECT_EQ(s.openDevices, 0);
    EXPECT_EQ(s.openDmaBufs, 0);
    EXPECT_EQ(s.handles, 0);
    EXPECT_EQ(s.mappings, 0);
    EXPECT_EQ(s.iommuMappings, 0);
    EXPECT_EQ(s.engineReferences, 0);
    EXPECT_EQ(s.buffers, 0);
    IonDeviceModel_Reset();
    DeviceRoot_Set("/");
    DeviceOps_Install(nullptr);
  }
  LogLines log_;
};

// One recorded request, reduced to what a test compares.
struct Call {
  IonModelOp op;
  IonModelDevice device;
  unsigned long code;
  bool operator==(const Call& o) const { return op == o.op && device == o.device && code == o.code; }
};

inline std::vector<Call> Calls(const std::vector<IonModelRequest>& requests) {
  std::vector<Call> out;
  for (const IonModelRequest& r : requests) out.push_back(Call{r.op, r.device, r.code});
  return out;
}

inline std::ostream& operator<<(std::ostream& os, const Call& c) {
  static const char* const kOps[] = {"open", "ioctl", "mmap", "munmap", "close"};
  static const char* const kDevices[] = {"none", "ion", "cedar", "buffer"};
  return os << kOps[static_cast<int>(c.op)] << "(" << kDevices[static_cast<int>(c.device)] << ", 0x" << std::hex
            << c.code << std::dec << ")";
}

template <typename T>
T RecordAs(const std::vector<uint8_t>& bytes) {
  T t{};
  EXPECT_EQ(bytes.size(), sizeof(T));
  if (bytes.size() == sizeof(T)) memcpy(&t, bytes.data(), sizeof(T));
  return t;
}
