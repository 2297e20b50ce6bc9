#pragma once
// Shared fixtures of the decoder tests: NV12 frames with distinct addresses,
// a fake encoder library and analysis whose calls can be held at a gate, and
// a decoder set up with short idle waits.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/tvdecoder.h"
#include "testsupport/config_state.h"

// A gate that holds callers until opened, counting who arrived.
struct Gate {
  std::mutex m;
  std::condition_variable cv;
  bool open = true;
  int entered = 0;
  void Close() {
    std::lock_guard<std::mutex> l(m);
    open = false;
  }
  void Open() {
    std::lock_guard<std::mutex> l(m);
    open = true;
    cv.notify_all();
  }
  void Pass() {
    std::unique_lock<std::mutex> l(m);
    ++entered;
    cv.notify_all();
    cv.wait(l, [this] { return open; });
  }
  bool WaitEntered(int n, int ms = 2000) {
    std::unique_lock<std::mutex> l(m);
    return cv.wait_for(l, std::chrono::milliseconds(ms), [&] { return entered >= n; });
  }
};

// Process-wide fake encoder (the decoder takes plain function pointers).
struct FakeEncoder {
  std::mutex m;
  std::vector<uint64_t> encoded;  // CPU addresses in encode order
  std::atomic<int> recording{0};
  std::atomic<int> initResult{0};
  std::atomic<int> inits{0}, syncs{0};
  Gate gate;
  static FakeEncoder& Get() {
    static FakeEncoder f;
    return f;
  }
  void Reset() {
    std::lock_guard<std::mutex> l(m);
    encoded.clear();
    recording = 0;
    initResult = 0;
    inits = 0;
    syncs = 0;
    gate.Open();
    std::lock_guard<std::mutex> g(gate.m);
    gate.entered = 0;
  }
  std::vector<uint64_t> Encoded() {
    std::lock_guard<std::mutex> l(m);
    return encoded;
  }
  static DecoderPlatform Platform() {
    DecoderPlatform p = DecoderPlatform_Default();
    p.encoderInit = [](int32_t, int32_t, int32_t, int32_t, int32_t, double) {
      ++Get().inits;
      return Get().initResult.load();
    };
    p.encoderUninit = [] {};
    p.startRecord = [](const char*) {
      Get().recording = 1;
      return 0;
    };
    p.stopRecord = [] {
      Get().recording = 0;
      return 0;
    };
    p.isRecording = [] { return Get().recording.load(); };
    p.encodeFrame = [](uint64_t, uint64_t, uint64_t cpu, uint64_t) {
      Get().gate.Pass();
      std::lock_guard<std::mutex> l(Get().m);
      Get().encoded.push_back(cpu);
      return 0;
    };
    p.setFrameRate = [](double) {};
    p.syncFiles = [] { ++Get().syncs; };
    return p;
  }
};

// Analysis that records frames and can be held.
struct FakeAnalysis {
  std::mutex m;
  std::vector<uint64_t> analysed;
  std::atomic<int> active{0};
  Gate gate;
  DecoderAnalysis Hooks() {
    return DecoderAnalysis{this, [](void* u) { return static_cast<FakeAnalysis*>(u)->active.load(); },
                           [](void* u, const uint64_t v[6]) {
                             FakeAnalysis* a = static_cast<FakeAnalysis*>(u);
                             a->gate.Pass();
                             std::lock_guard<std::mutex> l(a->m);
                             a->analysed.push_back(v[1]);
                           }};
  }
  std::vector<uint64_t> Analysed() {
    std::lock_guard<std::mutex> l(m);
    return analysed;
  }
};

// NV12 frames of one size, each its own buffer.
struct FramePool {
  int32_t w, h;
  std::vector<std::vector<uint8_t>> frames;
  FramePool(int32_t width, int32_t height, int n) : w(width), h(height) {
    for (int i = 0; i < n; ++i) frames.emplace_back(static_cast<size_t>(w) * h * 3 / 2, static_cast<uint8_t>(60 + i));
  }
  uint64_t Addr(int i) { return reinterpret_cast<uintptr_t>(frames[static_cast<size_t>(i)].data()); }
};

// Output callback recording the CPU addresses it is given.
struct OutputLog {
  std::mutex m;
  std::vector<uint64_t> addresses;
  std::atomic<int> slowMs{0};
  std::atomic<uint64_t> slowAddress{0};
  static int Callback(int32_t, int32_t, uint64_t addr, int32_t, int32_t, uint64_t user) {
    OutputLog* log = reinterpret_cast<OutputLog*>(static_cast<uintptr_t>(user));
    if (log->slowAddress.load() == addr) std::this_thread::sleep_for(std::chrono::milliseconds(log->slowMs.load()));
    std::lock_guard<std::mutex> l(log->m);
    log->addresses.push_back(addr);
    return 1;
  }
  std::vector<uint64_t> Get() {
    std::lock_guard<std::mutex> l(m);
    return addresses;
  }
};

// Output callback that can be held at its gate (block set): an application
// callback that does not return.
struct BlockingOutput {
  Gate gate;
  std::atomic<bool> block{false};
  static int Callback(int32_t, int32_t, uint64_t, int32_t, int32_t, uint64_t user) {
    BlockingOutput* o = reinterpret_cast<BlockingOutput*>(static_cast<uintptr_t>(user));
    if (o->block.load()) o->gate.Pass();
    return 1;
  }
};

// Runs fn on a thread of its own; Wait tells whether it returned within
// ms. The thread is joined on destruction, so whatever held fn must be let
// go first.
class BoundedCall {
 public:
  template <typename Fn>
  explicit BoundedCall(Fn fn)
      : thread_([this, fn] {
          fn();
          std::lock_guard<std::mutex> l(m_);
          done_ = true;
          cv_.notify_all();
        }) {}
  ~BoundedCall() { thread_.join(); }
  bool Wait(int ms) {
    std::unique_lock<std::mutex> l(m_);
    return cv_.wait_for(l, std::chrono::milliseconds(ms), [this] { return done_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the rest is built
};

// A decoder on the fakes, started at w x h.
inline std::unique_ptr<TVDecoderMain> StartDecoder(int32_t w, int32_t h, FakeAnalysis* analysis,
                                                   const DecoderTiming& timing = DecoderTiming{}) {
  std::unique_ptr<TVDecoderMain> d(new TVDecoderMain);
  d->timing = timing;
  d->platform = FakeEncoder::Platform();
  if (analysis != nullptr) d->analysis = analysis->Hooks();
  d->Init(1, w, h);
  return d;
}

inline int32_t InputFrame(TVDecoderBase* d, uint64_t cpu, uint64_t ref = 0) {
  const uint64_t v[6] = {cpu, cpu, ref, 0, 0, 0};
  return d->Input(v);
}
