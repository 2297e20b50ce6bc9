// Numbered parameters and results, capture requests and the calibration
// start of the decoder (called on the display application's thread).
#include <chrono>
#include <cstring>
#include <thread>

#include "frame/data_directory.h"
#include "frame/log.h"
#include "pipeline/tvdecoder.h"
#include "toolkit/bmp_file.h"
#include "frame/matrix_types.h"

namespace {

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr size_t kCapturePathMax = 255;

struct ParamEntry {
  int32_t id;
  bool silent;
  void (*set)(TVDecoderBase& d, int32_t value);
};

void ToAdas(TVDecoderBase& d, int32_t id, int32_t value) { ADAS_SetParam(&d.adas, id, value, d.width, d.height); }

// Ids that only the driver-assistance manager takes.
constexpr int32_t kAdasIds[] = {6, 7, 13, 14, 15, 16, 17, 18, 22, 23, 24, 25, 26, 27, 28, 31, 32, 34, 35, 36, 51, 52, 53, 54, 213};
constexpr int32_t kSilentAdasIds[] = {13, 15, 16, 17, 18, 213};

void SetRate(TVDecoderBase& d, int32_t value) {
  const int32_t rate = Decoder_RecordRate(value);
  d.recordFrameRate = rate;
  if (d.encoderReady.load() != 0) d.platform.setFrameRate(static_cast<double>(rate));
}

const ParamEntry kParams[] = {
    {2, false, SetRate},
    {3, false, [](TVDecoderBase& d, int32_t v) { d.outputPaused = v; }},
    {9, false, [](TVDecoderBase& d, int32_t v) { d.holdFrames = v; }},
    {10, true, [](TVDecoderBase&, int32_t) {}},
    {11, false,
     [](TVDecoderBase& d, int32_t) {
       d.skipWindowStart = d.platform.clockMs();
       d.skipWindow = 1;
     }},
    {12, true,
     [](TVDecoderBase& d, int32_t v) {
       d.vehicleSpeed = v;
       ToAdas(d, 12, v);
     }},
    {21, false, [](TVDecoderBase& d, int32_t v) { d.osdMode = v; }},
    {29, false, [](TVDecoderBase& d, int32_t v) { d.param29 = v; }},
    {30, false, [](TVDecoderBase& d, int32_t v) { d.param30 = v; }},
    {41, true, [](TVDecoderBase& d, int32_t v) { d.distanceKm = v; }},
    {45, false,
     [](TVDecoderBase& d, int32_t v) {
       if (v == 5) {
         d.colorCorrectMode = 1;
         d.pendingHoldSpeedOff = 1;
       } else {
         d.colorCorrectMode = v;
         // The tables are the main thread's (a reload may be putting new
         // ones in place): it takes their mode itself.
         d.pendingRegionFromTables = 1;
       }
     }},
    {212, true,
     [](TVDecoderBase& d, int32_t v) {
       d.vehicleSpeed = v / 100;
       ToAdas(d, 212, v);
     }},
};

}  // namespace

int32_t Decoder_RecordRate(int32_t value) {
  if (value <= 1) return 1;
  if (value == 2) return 2;
  if (value <= 4) return 4;
  if (value <= 8) return 8;
  if (value <= 12) return 12;
  if (value <= 16) return 16;
  if (value <= 20) return 20;
  return 25;
}

void TVDecoderBase::ReloadMixArea() {
  // The main thread consumes frames unprocessed while held; wait a bounded
  // time until it has acknowledged the hold, so no colour step reads the
  // tables while they are replaced. The previous hold (SetEXParam 9) is
  // restored after.
  const int32_t previousHold = holdFrames.exchange(1);
  holdAck.store(0);
  char path[256];
  MixAreaInfo info = MixAreaInfo_Empty();
  if (DataFilePath(path, sizeof path, "lut_mixareainfo.krv")) MixAreaInfo_Load(&info, path);
  MixAreaSixEx six = MixAreaSixEx_Empty();
  if (DataFilePath(path, sizeof path, "lut_mixareainfo_sixex.krv")) MixAreaSixEx_Load(&six, path);
  bool held = false;
  for (int32_t i = 0; i <= timing.reloadPolls; ++i) {
    held = holdAck.load() != 0 || (LiveThreads() & kThreadMain) == 0;
    if (held || i == timing.reloadPolls) break;
    SleepMs(timing.reloadPollMs);
  }
  if (held) {
    std::lock_guard<std::mutex> lock(mixMutex_);
    std::swap(mixAreaInfo, info);
    std::swap(mixAreaSixEx, six);
    // An earlier pair still waiting for the main thread is older than these.
    MixAreaInfo_Release(&pendingMixInfo_);
    MixAreaSixEx_Free(&pendingMixSix_);
    mixPending_ = 0;
  } else {
    // The main thread is busy (a long output callback): it puts the new
    // tables in place itself at its next step, and frees the old ones.
    AvmLog("SetEXParam 47: main thread busy for %u ms; the new tables take effect at its next frame\n",
           timing.reloadPollMs * static_cast<uint32_t>(timing.reloadPolls));
    std::lock_guard<std::mutex> lock(mixMutex_);
    std::swap(pendingMixInfo_, info);
    std::swap(pendingMixSix_, six);
    mixPending_ = 1;
  }
  // The replaced tables (or an earlier pending pair): read by nobody now.
  MixAreaInfo_Release(&info);
  MixAreaSixEx_Free(&six);
  ClearCapture();
  holdFrames.store(previousHold);
}

int32_t TVDecoderBase::SetEXParam(int32_t id, int32_t value) {
  bool silent = false;
  for (int32_t s : kSilentAdasIds) silent = silent || s == id;
  for (const ParamEntry& p : kParams) silent = silent || (p.id == id && p.silent);
  if (!silent) AvmLog("SetEXParam   %d %d \n", id, value);
  if (id == 47) {
    ReloadMixArea();
    return 0;
  }
  for (const ParamEntry& p : kParams)
    if (p.id == id) {
      p.set(*this, value);
      return 0;
    }
  for (int32_t a : kAdasIds)
    if (a == id) {
      ToAdas(*this, id, value);
      return 0;
    }
  return 0;
}

int32_t TVDecoderBase::GetEXResult(int32_t id) {
  switch (id) {
    case 1:
    case 2:
    case 3: return ADAS_GetResult(&adas, id);
    case 4: return secondsWithoutRecording.load() < 3 ? 1 : 0;
    case 7: {
      if (scoreGridReady.load(std::memory_order_acquire) == nullptr) {
        std::lock_guard<std::mutex> lock(scoreMutex_);
        if (scoreGridReady.load(std::memory_order_acquire) == nullptr) {
          char path[256];
          // Built whole before the main thread may see it.
          if (DataFilePath(path, sizeof path, "lut_config.krv") && ScoreGridInfo_Build(&scoreGrid, path) != 0 &&
              scoreGrid.valid != 0)
            scoreGridReady.store(&scoreGrid, std::memory_order_release);
        }
      }
      return static_cast<int32_t>(lumaScore.load() * 100.0f + 0.5f);
    }
    default: return 0;
  }
}

void TVDecoderBase::CaptureFileEx(const char* path, int32_t index, int32_t type, int32_t wait) {
  if (path == nullptr) {
    AvmLog("CaptureFileEx: no path \n");
    return;
  }
  AvmLog("CaptureFileEx  %s %d \n", path, index);
  if (strlen(path) > kCapturePathMax) {
    AvmLog("CaptureFileEx: path longer than %zu characters refused\n", kCapturePathMax);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(captureMutex_);
    captureIndex_ = index;
    captureType_ = type;
    capturePath_ = path;
    capturePending_.store(path[0] != '\0' ? 1 : 0, std::memory_order_release);
  }
  if (wait == 0) return;
  for (int32_t i = 0; i < timing.capturePolls; ++i) {
    if (capturePending_.load(std::memory_order_acquire) == 0) return;
    SleepMs(timing.capturePollMs);
  }
  if (capturePending_.load(std::memory_order_acquire) == 0) return;
  ClearCapture();
  if (type != 0) return;
  // Leave no stale picture under the name: black out an existing file.
  MatrixPtr old(Bmp_LoadGrayFloat(path, 0));
  if (old == nullptr) return;
  for (int32_t i = 0; i < old->cols * old->rows; ++i) old->data[i] = 0.0f;
  Bmp_SaveFloatPlanes(old.get(), path);
}

int32_t TVDecoderBase::Better(int32_t mode, int32_t timeout, const char* lutConfigPath, const char* lutPath1,
                              const char* lutPath2, KRV_TVDecoder_CalibCallback callback, uint64_t user) {
  if (mode != 1 || lutConfigPath == nullptr || lutPath1 == nullptr || lutPath2 == nullptr || callback == nullptr)
    return -1;
  std::lock_guard<std::mutex> lock(best3Mutex);
  if (best3Job != nullptr) return 0;
  Best3Ctrl* job = Best3Ctrl_Create();
  const int32_t seconds = timeout < 10 ? 10 : (timeout > 30 ? 30 : timeout);
  if (job == nullptr || Best3Ctrl_Init(job, seconds, lutConfigPath, lutPath1, lutPath2) == 0) {
    Best3Ctrl_Destroy(job);
    return -1;
  }
  best3Job = job;
  best3Callback = callback;
  best3User = user;
  return 0;
}
