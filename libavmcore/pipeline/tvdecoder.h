#pragma once
// The decoder object: the live video pipeline. The display application hands
// frames in synchronously; the main thread takes each into one of two frame
// slots, delivers it back through the output callback and does the per-frame
// work (capture, day/night value, colour correction); the analysis thread
// (driver assistance) and the encoder thread (overlay and recording) then
// work on the slot; a sync thread keeps the file system synced while a
// recording runs.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "pipeline/adas_manager.h"
#include "pipeline/best3_job.h"
#include "pipeline/osd_overlay.h"
#include "surround/color_correct.h"
#include "surround/mix_area_info.h"
#include "surround/mix_area_six_ex.h"
#include "surround/six_bright_balance.h"
#include "surround/score_grid_info.h"
#include "tvdecoder_api.h"

// Frame layouts of the decoder.
enum FrameLayout : int32_t {
  kLayoutUYVY = 0,
  kLayoutNV12 = 1,
  kLayoutYUYV = 3,
  kLayoutNV21 = 4,
  kLayoutUnset = -1,
};

// Waits and polling periods. The defaults are the product's; tests shorten
// the long ones.
struct DecoderTiming {
  uint32_t inputTimeoutMs = 100;   // input caller waits for its frame
  uint32_t frameWaitMs = 100;      // main thread waits for a frame
  uint32_t idleSleepMs = 10;       // main thread after a frame wait timed out
  uint32_t slotPollMs = 5;         // main thread waits for a free slot ...
  int32_t slotPolls = 20;          // ... this many times
  uint32_t subIdleMs = 2;          // sub-threads without work
  uint32_t stopPauseMs = 50;       // release: pause after the stop request ...
  uint32_t stopPollMs = 30;        // ... then polls of the thread count ...
  int32_t stopPolls = 100;         // ... up to this many; then the release goes on without them
  uint32_t reloadPollMs = 10;      // SetEXParam 47 waits for the main thread ...
  int32_t reloadPolls = 10;        // ... this many times
  uint32_t syncTickMs = 10;        // sync thread sleeps this ...
  int32_t syncTicks = 100;         // ... this many times between checks
  uint32_t capturePollMs = 10;     // a waiting capture request polls ...
  int32_t capturePolls = 3000;     // ... this many times
  uint32_t skipWindowMs = 1400;    // SetEXParam 11
};

// The platform calls of the decoder; tests replace them (slow or failing
// encoders, no file-system sync).
struct DecoderPlatform {
  int (*encoderInit)(int32_t, int32_t, int32_t, int32_t, int32_t, double);
  void (*encoderUninit)();
  int (*startRecord)(const char*);
  int (*stopRecord)();
  int (*isRecording)();
  int (*encodeFrame)(uint64_t, uint64_t, uint64_t, uint64_t);
  void (*setFrameRate)(double);
  void (*syncFiles)();
  int (*frameCommand)(uint32_t);
  uint32_t (*clockMs)();
};
const DecoderPlatform& DecoderPlatform_Default();

// The analysis thread's work; the driver-assistance manager unless a test
// installs its own.
struct DecoderAnalysis {
  void* user;
  int (*isActive)(void* user);
  void (*analyse)(void* user, const uint64_t values[6]);
};

// Counters for tests and the display-application stand-in.
struct DecoderCounters {
  int64_t framesIn;       // frames taken by the main thread
  int64_t framesOut;      // output callbacks made
  int64_t framesDropped;  // slot stayed busy
  int64_t framesAnalysed;
  int64_t framesEncoded;
};

class TVDecoderBase {
 public:
  TVDecoderBase();
  virtual ~TVDecoderBase();
  TVDecoderBase(const TVDecoderBase&) = delete;
  TVDecoderBase& operator=(const TVDecoderBase&) = delete;

  virtual int32_t DependConfig();
  virtual int32_t FrameHook();
  virtual uint64_t TranslateAddress(uint64_t frameRef, uint64_t address);
  virtual void ClearCapture();

  // Set before Init (tests).
  DecoderTiming timing;
  DecoderPlatform platform;
  DecoderAnalysis analysis;

  int32_t Init(int32_t layout, int32_t width, int32_t height);
  // 0 frame taken, 1 time-out.
  int32_t Input(const uint64_t values[6]);
  void RequestVideo(KRV_TVDecoder_VideoCallback callback, uint64_t user);
  void RequestSixVideo(KRV_TVDecoder_SixVideoCallback callback, uint64_t user);
  void OnVideoDataOver() { frameDone = 1; }
  void GetColorCorrectValue(float* out);
  void GetSixExColorCorrectValue(float* out);
  void CaptureFileEx(const char* path, int32_t index, int32_t type, int32_t wait);
  int32_t StartRecordEx(const char* path, int32_t value);
  void StopRecordEx(int32_t value);
  int32_t SetEXParam(int32_t id, int32_t value);
  int32_t GetEXResult(int32_t id);
  int32_t Better(int32_t mode, int32_t timeout, const char* lutConfigPath, const char* lutPath1,
                 const char* lutPath2, KRV_TVDecoder_CalibCallback callback, uint64_t user);
  // Stops the threads and releases the encoder and analysis (the first part
  // of the release), waiting a bounded time. True when every decoder thread
  // and driver-assistance worker has left; otherwise the object is still in
  // use and must not be freed (TVDecoder_Release keeps it).
  bool Shutdown();
  // Every decoder thread and driver-assistance worker has left.
  bool ThreadsGone();
  // Decoder threads still running, as a mask of the kThread* bits.
  int32_t LiveThreads() const { return liveThreads_.load(); }
  static constexpr int32_t kThreadMain = 1, kThreadSub1 = 2, kThreadSub2 = 4, kThreadSync = 8;
  DecoderCounters Counters() const;

  // One slot of the frame road.
  struct Slot {
    uint64_t values[6];
    std::atomic<int32_t> flags{0};  // bit 0 analysis pending, bit 1 encoding pending
    std::atomic<int32_t> encode{0};
    std::atomic<int32_t> analyse{0};
    // Main thread only: input calls that had returned 0 when the slot was
    // handed to the sub-threads.
    uint64_t zeroMark = 0;
  };

  // Fields (see the per-frame work and parameters for their meaning).
  int32_t encodeCounter = -1;
  int32_t frameCounter = 0;
  std::atomic<int32_t> inited{0};
  int32_t width = 0, height = 0;
  int32_t encodeWidth = 1280, encodeHeight = 720;
  std::atomic<KRV_TVDecoder_VideoCallback> videoCallback{nullptr};
  std::atomic<KRV_TVDecoder_SixVideoCallback> sixVideoCallback{nullptr};
  std::atomic<uint64_t> callbackUser{0};
  std::atomic<int32_t> frameDone{1};
  std::atomic<int32_t> outputPaused{0};
  std::atomic<int32_t> runState{0};
  std::atomic<int32_t> threadCount{0};
  std::atomic<int32_t> encoderReady{0};
  std::atomic<int32_t> recordFrameRate{16};
  MixAreaInfo mixAreaInfo;
  ScoreGridInfo scoreGrid;
  std::atomic<const ScoreGridInfo*> scoreGridReady{nullptr};  // published once built
  ColorCorrectState colour;  // main thread only
  std::atomic<float> lumaScore{0.0f};  // colour.lumaScore as published by the main thread
  // Six-camera brightness balance: main thread only; the application's
  // first fetch of the gains turns it on (sixExRequested).
  MixAreaSixEx mixAreaSixEx;
  BrightBalanceState brightBalance{};
  std::atomic<int32_t> sixExRequested{0};
  float sixExColorValues[12];  // written and copied under the values lock
  ADASManager adas;
  std::atomic<int32_t> holdFrames{0};
  std::atomic<int32_t> holdAck{0};
  std::atomic<int32_t> skipWindow{0};
  std::atomic<uint32_t> skipWindowStart{0};
  std::atomic<int32_t> vehicleSpeed{0};
  std::atomic<int32_t> secondsWithoutRecording{3};
  std::atomic<int32_t> distanceKm{0};
  std::atomic<int32_t> osdMode{1};
  std::atomic<int32_t> colorCorrectMode{1};
  std::atomic<int32_t> pendingRegionFromTables{0};  // SetEXParam 45: the main thread takes the tables' mode
  std::atomic<int32_t> pendingHoldSpeedOff{0};
  int32_t param29 = 0, param30 = 0;
  std::atomic<int32_t> sub1Busy{0}, sub2Busy{0};
  Slot slots[2];
  std::atomic<int32_t> mainSlot{0}, subSlot{0};
  std::recursive_mutex slotMutex;
  OSDState osd;
  OverlayBuffer dateOverlay, speedOverlay;
  Best3Ctrl* best3Job = nullptr;
  KRV_TVDecoder_CalibCallback best3Callback = nullptr;
  uint64_t best3User = 0;
  std::mutex best3Mutex;
  int32_t overlayEnabled = 0;
  int32_t layout = kLayoutUnset;
  int32_t modelNumber = 0;

 protected:
  void BaseInit();

 private:
  friend struct DecoderThreads;
  // Hand-over between the input caller and the main thread: one frame at a
  // time, identified by its sequence number, so that an input call returns
  // only for its own frame.
  std::mutex handMutex_;
  std::condition_variable readyCv_, takenCv_, exitCv_;
  uint64_t handValues_[6] = {};
  uint64_t postedSeq_ = 0;  // last frame handed in
  uint64_t takenSeq_ = 0;   // last frame the main thread took
  uint64_t doneSeq_ = 0;    // last frame the main thread is done with
  uint64_t gaveUpSeq_ = 0;  // last frame whose input call timed out
  // Input calls that returned 0 (written under handMutex_ by the main thread).
  std::atomic<uint64_t> zeroReturns_{0};
  bool pending_ = false;
  uint64_t napSeq_ = 0;  // bumped at every slot hand-over (ends naps early)

  // Capture request, published whole under its lock.
  std::mutex captureMutex_;
  std::string capturePath_;
  int32_t captureIndex_ = 0, captureType_ = 0;
  std::atomic<int32_t> capturePending_{0};

  // The colour-correction record handed to the caller.
  mutable std::mutex valuesMutex_;
  float colorCorrectValues_[kColorCorrectValueCount];

  std::mutex recordMutex_;  // StartRecordEx / StopRecordEx / release
  std::mutex scoreMutex_;   // builds of the score grid
  bool shutDown_ = false;
  bool globalsReleased_ = false;
  std::atomic<int32_t> liveThreads_{0};

  // Mix-area tables loaded by SetEXParam 47 while the main thread was busy:
  // the main thread puts them in place at its next step.
  std::mutex mixMutex_;
  std::atomic<int32_t> mixPending_{0};
  MixAreaInfo pendingMixInfo_;
  MixAreaSixEx pendingMixSix_;

  std::atomic<int64_t> framesIn_{0}, framesOut_{0}, framesDropped_{0}, framesAnalysed_{0}, framesEncoded_{0};

  // Main thread.
  void MainStep();
  bool WaitFrame(uint64_t values[6], uint64_t* seq);
  void PostTaken(uint64_t seq);
  // Ends the main thread's part of frame seq; see the frame lifetime in
  // tvdecoder_api.h.
  void FinishFrame(uint64_t seq);
  void InstallPendingMixArea();
  void PerFrameWork(int32_t s);
  void CalibrationRoad(int32_t s);
  int32_t DeliverFrame(int32_t s);
  void DrawCornerMarks(uint8_t* frame);
  void SaveCapture(int32_t s);
  void ColorCorrectStep(int32_t s);
  // Sub-threads.
  bool SubStep(int32_t bit);
  void AnalyseSlot(int32_t s);
  void EncodeSlot(int32_t s);
  void SyncStep();
  void ThreadExit(const char* name, int32_t bit);
  // Sleeps up to ms, returning early once the threads are to stop.
  void Nap(uint32_t ms);
  void WakeNappers();
  bool StopThreads();
  void ReloadMixArea();

 protected:
  // The release's last resort when the object is deleted directly while a
  // thread is still inside: waits, without a bound, for all to leave.
  void EnsureThreadsGone();

 private:
  friend void TVDecoder_Release(TVDecoderBase* decoder);
  // What the release may still free while a thread has not left: the
  // process-wide configuration and a calibration job not in use.
  void ReleaseUnshared();
};

class TVDecoderMain : public TVDecoderBase {
 public:
  TVDecoderMain();
  ~TVDecoderMain() override;
  int32_t DependConfig() override;
  uint64_t TranslateAddress(uint64_t frameRef, uint64_t address) override;
};

// Release of the export: a bounded stop, then the object is destroyed; when
// a thread has not left (an output callback that does not return), it is
// kept allocated, logged, and destroyed by a later TVDecoder_ReclaimAbandoned
// once its threads have left.
void TVDecoder_Release(TVDecoderBase* decoder);
// Destroys the kept decoders whose threads have all left; returns how many
// are still kept.
int32_t TVDecoder_ReclaimAbandoned();

// Should frame n (encodeCounter) be encoded at the recording rate.
bool Decoder_ShouldEncodeFrame(int32_t rate, int32_t n);
// SetEXParam 2: the supported recording rate for a requested value.
int32_t Decoder_RecordRate(int32_t value);
// The second capture name: the path with its extension (from the last '.'
// of the file name) replaced by "_2.bmp", or "_2.bmp" appended.
std::string Decoder_SecondCaptureName(const std::string& path);
// Pixel-format code of a decoder layout, or 0.
int32_t Decoder_FormatCode(int32_t layout);
