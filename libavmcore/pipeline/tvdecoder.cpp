#include "pipeline/tvdecoder.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#include "frame/clock.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/thread_start.h"
#include "platform/h264_encoder.h"
#include "platform/ion_allocator.h"

namespace {

void SyncFiles() { sync(); }

}  // namespace

const DecoderPlatform& DecoderPlatform_Default() {
  static const DecoderPlatform p = {T7H264EncFactory_init,        T7H264EncFactory_uninit,
                                    T7H264EncFactory_startRecord, T7H264EncFactory_stopRecord,
                                    T7H264EncFactory_isRecording, T7H264EncFactory_updateAddrAndEncodeFrame,
                                    T7H264EncFactory_setFrameRate, SyncFiles,
                                    IonCustomIoctl,               GetTickMs};
  return p;
}

// The four thread routines.
struct DecoderThreads {
  static void* Main(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderMainThread_Linux begin\n");
    srand(static_cast<unsigned>(time(nullptr)));
    while (d->runState.load() == 1) d->MainStep();
    d->ThreadExit("S_TVDecoderMainThread_Linux", TVDecoderBase::kThreadMain);
    return nullptr;
  }
  static void* Sub1(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderSubThread1_Linux begin\n");
    while (d->runState.load() == 1)
      if (!d->SubStep(1)) d->Nap(d->timing.subIdleMs);
    d->ThreadExit("S_TVDecoderSubThread1_Linux", TVDecoderBase::kThreadSub1);
    return nullptr;
  }
  static void* Sub2(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderSubThread2_Linux begin\n");
    while (d->runState.load() == 1)
      if (!d->SubStep(2)) d->Nap(d->timing.subIdleMs);
    d->ThreadExit("S_TVDecoderSubThread2_Linux", TVDecoderBase::kThreadSub2);
    return nullptr;
  }
  static void* Sync(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderSubThread_Linux begin\n");
    while (d->runState.load() == 1) d->SyncStep();
    d->ThreadExit("S_TVDecoderSyncThread_Linux", TVDecoderBase::kThreadSync);
    return nullptr;
  }
};

TVDecoderBase::TVDecoderBase()
    : platform(DecoderPlatform_Default()), analysis{nullptr, nullptr, nullptr}, mixAreaInfo(MixAreaInfo_Empty()),
      mixAreaSixEx(MixAreaSixEx_Empty()), pendingMixInfo_(MixAreaInfo_Empty()), pendingMixSix_(MixAreaSixEx_Empty()) {
  memset(&scoreGrid, 0, sizeof scoreGrid);
  scoreGrid.flag = 1;
  ColorCorrect_InitState(&colour, 0);
  ColorCorrect_ResetRecord(colorCorrectValues_);
  for (float& v : sixExColorValues) v = 1.0f;
}

TVDecoderBase::~TVDecoderBase() {
  EnsureThreadsGone();
  OSD_FreeIcons(&osd);
  OSD_FreeOverlay(&dateOverlay);
  OSD_FreeOverlay(&speedOverlay);
  MixAreaInfo_Release(&mixAreaInfo);
  MixAreaSixEx_Free(&mixAreaSixEx);
  MixAreaInfo_Release(&pendingMixInfo_);
  MixAreaSixEx_Free(&pendingMixSix_);
  ColorCorrect_Release(&scoreGrid);
  ReleaseUnshared();
  AvmLog("TVDecoder_Release over\n");
}

void TVDecoderBase::ReleaseUnshared() {
  // A main thread still inside an output callback of the calibration road
  // holds the job's lock: the job is then freed when the object is, and the
  // configuration its threads read is left loaded.
  std::unique_lock<std::mutex> lock(best3Mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    AvmLog("TVDecoder_Release: calibration job in use by the main thread; it and the configuration are kept\n");
    globalsReleased_ = true;
    return;
  }
  if (best3Job != nullptr) {
    Best3Ctrl_Release(best3Job);
    Best3Ctrl_Destroy(best3Job);
    best3Job = nullptr;
  }
  if (!globalsReleased_) {
    globalsReleased_ = true;
    GlobalVariables_Release();
  }
}

void TVDecoderBase::EnsureThreadsGone() {
  if (Shutdown()) return;
  // Deleted directly with a thread still inside: freeing now would pull the
  // object from under it. TVDecoder_Release keeps the object instead.
  AvmLog("decoder deleted with threads still running (mask %d); waiting for them\n", liveThreads_.load());
  {
    std::unique_lock<std::mutex> lock(handMutex_);
    exitCv_.wait(lock, [this] { return threadCount.load() == 0; });
  }
  while (adas.workerCount.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timing.stopPollMs));
  ADAS_StopThreads(&adas);
}

bool TVDecoderBase::ThreadsGone() {
  // Under the lock the last thread counted itself out with: once it is
  // released the thread touches nothing of the object any more.
  std::lock_guard<std::mutex> lock(handMutex_);
  return threadCount.load() == 0 && adas.workerCount.load() == 0;
}

namespace {

// Decoders kept by TVDecoder_Release while a thread was still inside. A
// plain array: it outlives every static destructor, so what it holds stays
// reachable to the end.
constexpr int kMaxKept = 16;
std::mutex g_keptMutex;
TVDecoderBase* g_kept[kMaxKept] = {};

}  // namespace

int32_t TVDecoder_ReclaimAbandoned() {
  std::lock_guard<std::mutex> lock(g_keptMutex);
  int32_t left = 0;
  for (TVDecoderBase*& d : g_kept) {
    if (d == nullptr) continue;
    if (d->ThreadsGone()) {
      AvmLog("TVDecoder: kept decoder %p freed, its threads have left\n", static_cast<void*>(d));
      delete d;
      d = nullptr;
    } else {
      ++left;
    }
  }
  return left;
}

void TVDecoder_Release(TVDecoderBase* d) {
  TVDecoder_ReclaimAbandoned();
  if (d == nullptr) return;
  if (d->Shutdown()) {
    delete d;
    return;
  }
  // A thread has not left within the bound (an output callback or an
  // encoder call that does not return): it still uses the object, so the
  // object stays allocated until it has left.
  AvmLog("TVDecoder_Release: decoder threads (mask %d) or %d driver-assistance workers still running; the decoder "
         "is left allocated until they leave\n",
         d->LiveThreads(), d->adas.workerCount.load());
  d->ReleaseUnshared();
  std::lock_guard<std::mutex> lock(g_keptMutex);
  for (TVDecoderBase*& k : g_kept)
    if (k == nullptr) {
      k = d;
      return;
    }
  AvmLog("TVDecoder_Release: too many decoders kept; this one is no longer tracked\n");
}

int32_t TVDecoderBase::DependConfig() {
  AvmLog("TVDecoderBase::DependConfig \n");
  overlayEnabled = 1;
  modelNumber = 8;
  return 8;
}

int32_t TVDecoderBase::FrameHook() { return 1; }

uint64_t TVDecoderBase::TranslateAddress(uint64_t frameRef, uint64_t address) {
  (void)address;
  return frameRef;
}

void TVDecoderBase::ClearCapture() {
  std::lock_guard<std::mutex> lock(captureMutex_);
  capturePath_.clear();
  capturePending_.store(0, std::memory_order_release);
}

void TVDecoderBase::BaseInit() {
  AvmLog("TVDecoderBase::BaseInit \n");
  best3Job = nullptr;
  ClearCapture();
  videoCallback = nullptr;
  sixVideoCallback = nullptr;
  callbackUser = 0;
  frameDone = 1;
  for (Slot& s : slots) s.flags = 0;
  mainSlot = 0;
  subSlot = 0;
  skipWindow = 0;
  frameCounter = 0;
  srand(static_cast<unsigned>(time(nullptr)));
  GlobalVariables_Init(0);
  GlobalVariables_InitRuntimeDefaults();
}

int32_t TVDecoderBase::Init(int32_t layoutArg, int32_t w, int32_t h) {
  AvmLog("####################TVDecoderBase::Init %d %d %d \n", inited.load(), w, h);
  frameDone = 1;
  if (layout == kLayoutUnset) layout = layoutArg;
  width = w;
  height = h;
  if (encodeWidth == 0) {
    encodeWidth = w;
    encodeHeight = h;
  }
  encodeCounter = -1;
  char path[256];
  if (DataFilePath(path, sizeof path, "lut_mixareainfo.krv")) MixAreaInfo_Load(&mixAreaInfo, path);
  colour.regionMode = mixAreaInfo.coverageMode;
  if (DataFilePath(path, sizeof path, "lut_mixareainfo_sixex.krv")) MixAreaSixEx_Load(&mixAreaSixEx, path);
  srand(static_cast<unsigned>(time(nullptr)));
  ADAS_Init(&adas, DataDirectory());
  ADAS_StartThreads(&adas);
  holdFrames = 0;
  if (runState.load() != 1) {
    runState = 1;
    threadCount = 4;
    liveThreads_ = kThreadMain | kThreadSub1 | kThreadSub2 | kThreadSync;
    Thread_CreateDetached(nullptr, DecoderThreads::Main, this);
    Thread_CreateDetached(nullptr, DecoderThreads::Sub1, this);
    Thread_CreateDetached(nullptr, DecoderThreads::Sub2, this);
    Thread_CreateDetached(nullptr, DecoderThreads::Sync, this);
  }
  inited = 1;
  return 0;
}

void TVDecoderBase::Nap(uint32_t ms) {
  std::unique_lock<std::mutex> lock(handMutex_);
  const uint64_t seq = napSeq_;
  exitCv_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return runState.load() != 1 || napSeq_ != seq; });
}

void TVDecoderBase::ThreadExit(const char* name, int32_t bit) {
  // Nothing of the object may be touched once the count reaches 0 and the
  // lock is released: the release may free it at once.
  std::lock_guard<std::mutex> lock(handMutex_);
  liveThreads_.fetch_and(~bit);
  const int32_t left = threadCount.fetch_sub(1) - 1;
  AvmLog("%s end %d \n", name, left);
  exitCv_.notify_all();
}

bool TVDecoderBase::StopThreads() {
  if (runState.load() != 1) {
    std::lock_guard<std::mutex> lock(handMutex_);
    return threadCount.load() == 0;
  }
  const uint32_t start = platform.clockMs();
  {
    std::lock_guard<std::mutex> lock(handMutex_);
    runState = 2;
    readyCv_.notify_all();
    exitCv_.notify_all();
  }
  std::unique_lock<std::mutex> lock(handMutex_);
  const uint32_t bound = timing.stopPauseMs + timing.stopPollMs * static_cast<uint32_t>(timing.stopPolls);
  const bool gone =
      exitCv_.wait_for(lock, std::chrono::milliseconds(bound), [this] { return threadCount.load() == 0; });
  if (!gone)
    AvmLog("decoder threads still running after %u ms (%d left, mask %d); the release goes on without them\n",
           platform.clockMs() - start, threadCount.load(), liveThreads_.load());
  runState = 0;
  return gone;
}

bool TVDecoderBase::Shutdown() {
  if (shutDown_) return ThreadsGone();
  shutDown_ = true;
  AvmLog("~TVDecoder_Release begin \n");
  if (inited.load() == 0) {
    AvmLog("no Inited\n");
    return ThreadsGone();
  }
  const bool threadsGone = StopThreads();
  {
    // The encoder thread may still be inside the encoder library.
    std::lock_guard<std::mutex> lock(recordMutex_);
    if ((liveThreads_.load() & kThreadSub2) != 0)
      AvmLog("encoder thread still running: encoder left initialised\n");
    else if (encoderReady.exchange(0) != 0)
      platform.encoderUninit();
  }
  const bool workersGone = ADAS_StopThreads(&adas) != 0;
  if (threadsGone) {
    for (Slot& s : slots) s.flags = 0;
    mainSlot = 0;
    subSlot = 0;
    encodeCounter = -1;
  }
  AvmLog("execDisconnect over\n");
  inited = 0;
  return threadsGone && workersGone;
}

DecoderCounters TVDecoderBase::Counters() const {
  return DecoderCounters{framesIn_.load(), framesOut_.load(), framesDropped_.load(), framesAnalysed_.load(),
                         framesEncoded_.load()};
}

int32_t TVDecoderBase::Input(const uint64_t values[6]) {
  std::unique_lock<std::mutex> lock(handMutex_);
  // A frame of an earlier, timed-out call that the main thread has not
  // taken yet is replaced: the newest frame goes on.
  memcpy(handValues_, values, sizeof handValues_);
  const uint64_t seq = ++postedSeq_;
  pending_ = true;
  readyCv_.notify_all();
  const bool done = takenCv_.wait_for(lock, std::chrono::milliseconds(timing.inputTimeoutMs),
                                      [&] { return doneSeq_ >= seq; });
  if (done) return 0;
  if (pending_ && postedSeq_ == seq) pending_ = false;  // not taken: withdrawn
  if (seq > gaveUpSeq_) gaveUpSeq_ = seq;
  return 1;
}

bool TVDecoderBase::WaitFrame(uint64_t values[6], uint64_t* seq) {
  std::unique_lock<std::mutex> lock(handMutex_);
  if (!readyCv_.wait_for(lock, std::chrono::milliseconds(timing.frameWaitMs),
                         [this] { return pending_ || runState.load() != 1; }))
    return false;
  if (!pending_) return false;
  memcpy(values, handValues_, sizeof handValues_);
  *seq = postedSeq_;
  takenSeq_ = postedSeq_;
  pending_ = false;
  return true;
}

void TVDecoderBase::PostTaken(uint64_t seq) {
  std::lock_guard<std::mutex> lock(handMutex_);
  // Counted only when its caller is still waiting, i.e. the call returns 0.
  if (seq > gaveUpSeq_ && seq > doneSeq_) zeroReturns_.fetch_add(1);
  if (seq > doneSeq_) doneSeq_ = seq;
  takenCv_.notify_all();
}

void TVDecoderBase::FinishFrame(uint64_t seq) {
  // The application may refill a frame once two later input calls have
  // returned 0. A slot handed over before the last 0 return holds such a
  // frame if one more 0 return would be its second: this call may return 0
  // only once the sub-threads are done with it. Otherwise the call runs out
  // its wait and returns 1, which does not count.
  for (;;) {
    const uint64_t zero = zeroReturns_.load();
    bool blocked = false;
    for (const Slot& sl : slots) blocked = blocked || (sl.flags.load() != 0 && sl.zeroMark != zero);
    bool callerGone;
    {
      std::lock_guard<std::mutex> lock(handMutex_);
      callerGone = gaveUpSeq_ >= seq;
    }
    if (!blocked || callerGone) {
      PostTaken(seq);
      return;
    }
    if (runState.load() != 1) return;  // stopping: the caller runs out its wait
    Nap(timing.slotPollMs);
  }
}

void TVDecoderBase::InstallPendingMixArea() {
  if (mixPending_.load() == 0) return;
  std::lock_guard<std::mutex> lock(mixMutex_);
  std::swap(mixAreaInfo, pendingMixInfo_);
  std::swap(mixAreaSixEx, pendingMixSix_);
  MixAreaInfo_Release(&pendingMixInfo_);
  MixAreaSixEx_Free(&pendingMixSix_);
  mixPending_ = 0;
  AvmLog("SetEXParam 47: new mix-area tables in place\n");
}

void TVDecoderBase::MainStep() {
  InstallPendingMixArea();
  holdAck.store(1);
  uint64_t v[6];
  uint64_t seq = 0;
  if (!WaitFrame(v, &seq)) {
    Nap(timing.idleSleepMs);
    return;
  }
  if (holdFrames.load() != 0) {
    FinishFrame(seq);
    return;
  }
  ++encodeCounter;
  ++frameCounter;
  ++framesIn_;
  if (frameCounter == 1) AvmLog("First Frame %u \n", platform.clockMs());
  if (v[1] == 0) {
    FinishFrame(seq);
    return;
  }
  if (v[0] != ~0ull) DrawCornerMarks(reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(v[1])));
  const int32_t s = mainSlot.load();
  // Wait up to slotPolls x slotPollMs for the slot; hand-overs end a nap early.
  const auto slotDeadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timing.slotPollMs * static_cast<uint32_t>(timing.slotPolls));
  while (slots[s].flags.load() != 0) {
    if (std::chrono::steady_clock::now() >= slotDeadline) {
      ++framesDropped_;
      FinishFrame(seq);
      return;
    }
    Nap(timing.slotPollMs);
    if (runState.load() != 1) {
      FinishFrame(seq);
      return;
    }
  }
  memcpy(slots[s].values, v, sizeof v);
  bool calibrating = false;
  {
    std::lock_guard<std::mutex> lock(best3Mutex);
    if (best3Job != nullptr) {
      CalibrationRoad(s);
      calibrating = true;
    }
  }
  if (calibrating) {
    FinishFrame(seq);
    return;
  }
  PerFrameWork(s);
  FinishFrame(seq);
  const int32_t busy2 = sub2Busy.load(), busy1 = sub1Busy.load();
  int32_t flags = 3;
  if (busy2 == 0 && busy1 != 0) flags = 2;
  if (busy2 != 0 && busy1 == 0) flags = 1;
  if (busy2 != 0 && busy1 != 0) flags = (frameCounter % 2 == 0) ? 1 : 2;
  slots[s].zeroMark = zeroReturns_.load();
  slots[s].flags.exchange(flags);
  mainSlot.exchange(s ^ 1);
  WakeNappers();
}

void TVDecoderBase::WakeNappers() {
  // The sub-threads (and a main thread waiting for a slot) nap between
  // polls; a hand-over ends their nap at once.
  std::lock_guard<std::mutex> lock(handMutex_);
  napSeq_++;
  exitCv_.notify_all();
}

bool TVDecoderBase::SubStep(int32_t bit) {
  int32_t s;
  {
    std::lock_guard<std::recursive_mutex> lock(slotMutex);
    s = subSlot.load();
    if ((slots[s].flags.load() & bit) == 0) return false;
  }
  if (bit == 1) {
    if (slots[s].analyse.load() != 0) {
      sub1Busy = 1;
      AnalyseSlot(s);
      sub1Busy = 0;
    }
  } else if (slots[s].encode.load() != 0) {
    sub2Busy = 1;
    EncodeSlot(s);
    sub2Busy = 0;
  }
  {
    std::lock_guard<std::recursive_mutex> lock(slotMutex);
    const int32_t old = slots[s].flags.fetch_and(~bit);
    if ((old & ~bit) == 0) subSlot.exchange(s ^ 1);
  }
  WakeNappers();
  return true;
}

void TVDecoderBase::AnalyseSlot(int32_t s) {
  ++framesAnalysed_;
  if (analysis.analyse != nullptr) {
    analysis.analyse(analysis.user, slots[s].values);
    return;
  }
  if (layout != 0 && layout != 1 && layout != 3 && layout != 4) return;
  float values[kColorCorrectValueCount];
  GetColorCorrectValue(values);
  ADAS_FeedLayout(&adas, layout, width, height, reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(slots[s].values[1])),
                 values);
}

void TVDecoderBase::SyncStep() {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(timing.syncTickMs * static_cast<uint32_t>(timing.syncTicks));
  while (runState.load() == 1 && std::chrono::steady_clock::now() < deadline) Nap(timing.syncTickMs);
  if (runState.load() != 1) return;
  if (encoderReady.load() != 0 && platform.isRecording() != 0) {
    platform.syncFiles();
    secondsWithoutRecording = 0;
  } else {
    ++secondsWithoutRecording;
  }
}

TVDecoderMain::TVDecoderMain() {
  DependConfig();
  BaseInit();
  IonAllocOpen();
}

TVDecoderMain::~TVDecoderMain() {
  // The threads use the allocator (frame commands): stop them first.
  EnsureThreadsGone();
  IonAllocClose();
}

int32_t TVDecoderMain::DependConfig() {
  AvmLog("TVDecoderMain::DependConfig \n");
  overlayEnabled = 1;
  layout = kLayoutNV12;
  modelNumber = 6;
  return 6;
}

uint64_t TVDecoderMain::TranslateAddress(uint64_t frameRef, uint64_t address) {
  (void)address;
  platform.frameCommand(static_cast<uint32_t>(frameRef));
  return 0;
}
