#include "pipeline/tvdecoder.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>

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
    d->ThreadExit("S_TVDecoderMainThread_Linux");
    return nullptr;
  }
  static void* Sub1(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderSubThread1_Linux begin\n");
    while (d->runState.load() == 1)
      if (!d->SubStep(1)) d->Nap(d->timing.subIdleMs);
    d->ThreadExit("S_TVDecoderSubThread1_Linux");
    return nullptr;
  }
  static void* Sub2(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderSubThread2_Linux begin\n");
    while (d->runState.load() == 1)
      if (!d->SubStep(2)) d->Nap(d->timing.subIdleMs);
    d->ThreadExit("S_TVDecoderSubThread2_Linux");
    return nullptr;
  }
  static void* Sync(void* arg) {
    TVDecoderBase* d = static_cast<TVDecoderBase*>(arg);
    AvmLog("S_TVDecoderSubThread_Linux begin\n");
    while (d->runState.load() == 1) d->SyncStep();
    d->ThreadExit("S_TVDecoderSyncThread_Linux");
    return nullptr;
  }
};

TVDecoderBase::TVDecoderBase()
    : platform(DecoderPlatform_Default()), analysis{nullptr, nullptr, nullptr}, mixAreaInfo(MixAreaInfo_Empty()) {
  memset(&scoreGrid, 0, sizeof scoreGrid);
  scoreGrid.flag = 1;
  ColorCorrect_InitState(&colour, 0);
  ColorCorrect_ResetRecord(colorCorrectValues_);
  for (float& v : sixExColorValues) v = 1.0f;
}

TVDecoderBase::~TVDecoderBase() {
  Shutdown();
  OSD_FreeIcons(&osd);
  OSD_FreeOverlay(&dateOverlay);
  OSD_FreeOverlay(&speedOverlay);
  MixAreaInfo_Release(&mixAreaInfo);
  ColorCorrect_Release(&scoreGrid);
  {
    std::lock_guard<std::mutex> lock(best3Mutex);
    if (best3Job != nullptr) {
      Best3Ctrl_Release(best3Job);
      Best3Ctrl_Destroy(best3Job);
      best3Job = nullptr;
    }
  }
  GlobalVariables_Release();
  AvmLog("TVDecoder_Release over\n");
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
  // The six-camera mix-area extension is not part of this build: a second
  // frame is delivered and captured, and its colour balance stays at 1.0.
  srand(static_cast<unsigned>(time(nullptr)));
  ADAS_Init(&adas, DataDirectory());
  ADAS_StartThreads(&adas);
  holdFrames = 0;
  if (runState.load() != 1) {
    runState = 1;
    threadCount = 4;
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

void TVDecoderBase::ThreadExit(const char* name) {
  // Nothing of the object may be touched once the count reaches 0: the
  // release may free it at once.
  std::lock_guard<std::mutex> lock(handMutex_);
  const int32_t left = threadCount.fetch_sub(1) - 1;
  AvmLog("%s end %d \n", name, left);
  exitCv_.notify_all();
}

void TVDecoderBase::StopThreads() {
  if (runState.load() != 1) return;
  const uint32_t start = platform.clockMs();
  {
    std::lock_guard<std::mutex> lock(handMutex_);
    runState = 2;
    readyCv_.notify_all();
    exitCv_.notify_all();
  }
  std::unique_lock<std::mutex> lock(handMutex_);
  exitCv_.wait_for(lock, std::chrono::milliseconds(timing.stopPauseMs), [this] { return threadCount.load() == 0; });
  const uint32_t bound = timing.stopPollMs * static_cast<uint32_t>(timing.stopPolls);
  if (!exitCv_.wait_for(lock, std::chrono::milliseconds(bound), [this] { return threadCount.load() == 0; })) {
    // Freeing now would pull the object from under a running thread: wait on.
    AvmLog("decoder threads still running after %u ms (%d left); waiting for them\n",
           platform.clockMs() - start, threadCount.load());
    exitCv_.wait(lock, [this] { return threadCount.load() == 0; });
    AvmLog("decoder threads ended after %u ms\n", platform.clockMs() - start);
  }
  runState = 0;
}

void TVDecoderBase::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  AvmLog("~TVDecoder_Release begin \n");
  if (inited.load() == 0) {
    AvmLog("no Inited\n");
    return;
  }
  StopThreads();
  {
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (encoderReady.exchange(0) != 0) platform.encoderUninit();
  }
  ADAS_StopThreads(&adas);
  for (Slot& s : slots) s.flags = 0;
  mainSlot = 0;
  subSlot = 0;
  AvmLog("execDisconnect over\n");
  inited = 0;
  encodeCounter = -1;
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
  if (seq > doneSeq_) doneSeq_ = seq;
  takenCv_.notify_all();
}

void TVDecoderBase::MainStep() {
  holdAck.store(1);
  uint64_t v[6];
  uint64_t seq = 0;
  if (!WaitFrame(v, &seq)) {
    Nap(timing.idleSleepMs);
    return;
  }
  if (holdFrames.load() != 0) {
    PostTaken(seq);
    return;
  }
  ++encodeCounter;
  ++frameCounter;
  ++framesIn_;
  if (frameCounter == 1) AvmLog("First Frame %u \n", platform.clockMs());
  if (v[1] == 0) {
    PostTaken(seq);
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
      PostTaken(seq);
      return;
    }
    Nap(timing.slotPollMs);
    if (runState.load() != 1) {
      PostTaken(seq);
      return;
    }
  }
  memcpy(slots[s].values, v, sizeof v);
  {
    std::lock_guard<std::mutex> lock(best3Mutex);
    if (best3Job != nullptr) {
      CalibrationRoad(s);
      PostTaken(seq);
      return;
    }
  }
  PerFrameWork(s);
  PostTaken(seq);
  const int32_t busy2 = sub2Busy.load(), busy1 = sub1Busy.load();
  int32_t flags = 3;
  if (busy2 == 0 && busy1 != 0) flags = 2;
  if (busy2 != 0 && busy1 == 0) flags = 1;
  if (busy2 != 0 && busy1 != 0) flags = (frameCounter % 2 == 0) ? 1 : 2;
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
  Shutdown();
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
