// The Best3 job: frame intake on the decoder's thread, the one-second ring
// on the accumulation thread, the solve on the execution thread, and the
// saving poll.
#include "pipeline/best3_job.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "frame/clock.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "frame/thread_start.h"
#include "pipeline/adas_config.h"
#include "surround/byte_lut_file.h"
#include "surround/lutob.h"
#include "surround/mab_lutob.h"
#include "surround/mix_area_info.h"
#include "toolkit/pixel_formats.h"

namespace {

std::atomic<uint32_t (*)()> g_clock{nullptr};
// Last accepted frame of any job; touched only on the decoder's thread.
uint32_t g_lastFeedMs = 0;

uint32_t NowMs() {
  uint32_t (*c)() = g_clock.load();
  return c != nullptr ? c() : GetTickMs();
}
uint32_t NowSeconds() { return NowMs() / 1000u; }

void CopyPath(char (&dst)[128], const char* src) {
  snprintf(dst, sizeof dst, "%s", src != nullptr ? src : "");
}

void* AccumulationThread(void* arg) {
  Best3Ctrl* job = static_cast<Best3Ctrl*>(arg);
  AvmLog("S_Best3Ctrl_Thread_Linux Thread Start \n");
  const size_t n = static_cast<size_t>(job->workW) * job->workH;
  while (job->runFlag.load(std::memory_order_acquire) == 1) {
    if (job->frameState.load(std::memory_order_acquire) != 2) {
      usleep(20000);
      continue;
    }
    const uint32_t index = job->secondIndex.load(std::memory_order_relaxed);
    uint16_t* slot = job->slotBuf.data() + (index % kBest3Slots) * n;
    for (size_t i = 0; i < n; ++i) slot[i] = static_cast<uint16_t>(slot[i] + job->workBuf[i]);
    ++job->framesCounted;
    const uint32_t s = NowSeconds();
    if (s != job->currentSecond) {
      const uint32_t frames = job->framesCounted;
      for (size_t i = 0; i < n; ++i) slot[i] = static_cast<uint16_t>(slot[i] / frames);
      const uint32_t ready = job->imageReady.load(std::memory_order_acquire);
      AvmLog("Best3Ctrl Sec %d %d %d \n", static_cast<int32_t>(index), static_cast<int32_t>(frames),
             static_cast<int32_t>(ready));
      if (index > 4 && ready == 0) {
        for (size_t i = 0; i < n; ++i) {
          uint32_t sum = 0;
          for (int k = 0; k < kBest3Slots; ++k) sum += job->slotBuf[k * n + i];
          job->combinedBuf[i] = static_cast<float>(sum) / 1275.0f;
        }
        job->imageReady.store(1, std::memory_order_release);
      }
      job->secondIndex.store(index + 1, std::memory_order_relaxed);
      std::fill(job->slotBuf.begin() + ((index + 1) % kBest3Slots) * n,
                job->slotBuf.begin() + ((index + 1) % kBest3Slots + 1) * n, 0);
      job->framesCounted = 0;
      job->currentSecond = s;
    }
    job->frameState.store(0, std::memory_order_release);
    usleep(20000);
  }
  AvmLog("S_Best3Ctrl_Thread_Linux Thread End \n");
  job->liveThreads.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

void* ExecThread(void* arg) {
  Best3Ctrl* job = static_cast<Best3Ctrl*>(arg);
  AvmLog("S_Best3Ctrl_ExecThread_Linux Thread Start \n");
  while (job->runFlag.load(std::memory_order_acquire) == 1) {
    if (job->imageReady.load(std::memory_order_acquire) == 1 &&
        job->work.done.load(std::memory_order_acquire) == 0) {
      const uint32_t t0 = NowMs();
      AvmLog("NewImage Time1 \n");
      int32_t r = CalibBest3_NewImage(&job->work, &job->combined);
      AvmLog("NewImage Time2 %d %d \n", r, static_cast<int32_t>(NowMs() - t0));
      if (r != 0) {
        r = CalibBest3_Run(&job->work, &job->combined, 0);
        AvmLog("NewImage Time3 %d %d \n", r, static_cast<int32_t>(NowMs() - t0));
      }
      job->imageReady.store(0, std::memory_order_release);
    }
    usleep(10000);
  }
  AvmLog("S_Best3Ctrl_ExecThread_Linux Thread End \n");
  job->liveThreads.fetch_sub(1, std::memory_order_acq_rel);
  return nullptr;
}

// Luma of quad pixel (2x, 2y) for source pixel (x, y), then the nearest
// neighbour resampling into the work image (last row and column stay 0).
void FillImages(Best3Ctrl* job, int32_t layout, const void* descriptor) {
  const int32_t W = job->srcW, H = job->srcH;
  uint16_t* src = job->srcBuf.data();
  if (layout == 0 || layout == 3) {
    const PackedFrame* f = static_cast<const PackedFrame*>(descriptor);
    const int32_t off = layout == 0 ? 1 : 0;
    for (int32_t y = 0; y < H; ++y) {
      const uint8_t* row = f->data + static_cast<size_t>(2 * y) * f->stride;
      for (int32_t x = 0; x < W; ++x) src[static_cast<size_t>(y) * W + x] = row[4 * x + off];
    }
  } else {
    const YuvSemiPlanarFrame* f = static_cast<const YuvSemiPlanarFrame*>(descriptor);
    for (int32_t y = 0; y < H; ++y) {
      const uint8_t* row = f->luma + static_cast<size_t>(2 * y) * f->stride;
      for (int32_t x = 0; x < W; ++x) src[static_cast<size_t>(y) * W + x] = row[2 * x];
    }
  }
  const float fx = static_cast<float>(W) / static_cast<float>(job->workW);
  const float fy = static_cast<float>(H) / static_cast<float>(job->workH);
  for (int32_t y = 0; y < job->workH - 1; ++y) {
    const int32_t sy = static_cast<int32_t>(static_cast<float>(y) * fy);
    for (int32_t x = 0; x < job->workW - 1; ++x) {
      const int32_t sx = static_cast<int32_t>(static_cast<float>(x) * fx);
      job->workBuf[static_cast<size_t>(y) * job->workW + x] = src[static_cast<size_t>(sy) * W + sx];
    }
  }
}

bool FrameFits(const Best3Ctrl* job, int32_t layout, const void* descriptor) {
  int32_t w = 0, h = 0;
  if (layout == 0 || layout == 3) {
    const PackedFrame* f = static_cast<const PackedFrame*>(descriptor);
    if (f->data == nullptr || f->stride < 2 * f->width) return false;
    w = f->width;
    h = f->height;
  } else if (layout == 1 || layout == 4) {
    const YuvSemiPlanarFrame* f = static_cast<const YuvSemiPlanarFrame*>(descriptor);
    if (f->luma == nullptr || f->stride < f->width) return false;
    w = f->width;
    h = f->height;
  } else {
    return false;
  }
  return w == 2 * job->srcW && h == 2 * job->srcH;
}

void FreeImages(Best3Ctrl* job) {
  std::vector<uint16_t>().swap(job->srcBuf);
  std::vector<uint16_t>().swap(job->workBuf);
  std::vector<uint16_t>().swap(job->slotBuf);
  std::vector<float>().swap(job->combinedBuf);
  job->combined = Matrix{0, 0, nullptr};
}

// The save chain of a solved job; false when any file was not written.
bool SaveResults(Best3Ctrl* job) {
  LUTOB* lut = job->lut.get();
  const std::string dir = DataDirectory();
  bool ok = true;
  AvmLog("begin save lut \n");
  if (LUT_GenerateByteLUTFile(lut, job->lutPath, job->configPath) != 0) {
    AvmLog("Best3: byte LUT or camera file not written\n");
    ok = false;
  }
  const std::string basePath = dir + "/adas_base.krv";
  const int32_t option = access(basePath.c_str(), F_OK) == 0 ? ADASConfig_ReadBaseValue(dir.c_str()) : 255;
  if ((option & 0x80) != 0) {
    const std::string p = dir + "/lut_dyncalpha.krv";
    if (SaveDynAlphaFile(lut, p.c_str(), nullptr) != 0) {
      AvmLog("Best3: %s not written\n", p.c_str());
      ok = false;
    }
  }
  AvmLog("begin save adas \n");
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &lut->cfg, 2 * lut->camW, 2 * lut->camH, lut->cornerCounts[0], lut->cornerCounts[1]);
  const std::string mix = dir + "/lut_mixareainfo.krv";
  if (MixAreaInfo_Save(&info, mix.c_str()) == 0) {
    AvmLog("Best3: %s not written\n", mix.c_str());
    ok = false;
  }
  MixAreaInfo_Release(&info);
  ADASConfig adas{};
  ADAS_GenerateTables(&adas, lut, option);
  if (ADASConfig_Save(&adas, dir.c_str(), option) == 0) {
    AvmLog("Best3: driver-assistance files not written\n");
    ok = false;
  }
  ADASConfig_Free(&adas);
  AvmLog("begin sync \n");
  sync();
  return ok;
}

}  // namespace

void Best3Ctrl_SetClock(uint32_t (*clock)()) { g_clock.store(clock); }

Best3Ctrl* Best3Ctrl_Create() { return new Best3Ctrl; }

void Best3Ctrl_Destroy(Best3Ctrl* job) {
  if (job == nullptr) return;
  if (job->runFlag.load(std::memory_order_acquire) != 0 || job->lut) Best3Ctrl_Release(job);
  delete job;
}

int32_t Best3Ctrl_Init(Best3Ctrl* job, int32_t timeoutSeconds, const char* lutConfigPath, const char* lutPath,
                       const char* configOutPath) {
  if (job == nullptr || lutConfigPath == nullptr || job->runFlag.load() != 0) return 0;
  GlobalVariables_Init(1);
  job->lut.reset(LUTOB_Create());
  if (LUTOB_LoadConfig(job->lut.get(), lutConfigPath, nullptr) == 0) {
    AvmLog("Best3Ctrl_Init: cannot load %s\n", lutConfigPath);
    job->lut.reset();
    return 0;
  }
  if (Best3Ctrl_CreateWork(&job->work, job->lut.get()) == 0) {
    job->lut.reset();
    return 0;
  }
  CopyPath(job->lutPath, lutPath);
  CopyPath(job->configPath, configOutPath);
  job->timeoutSeconds = timeoutSeconds;
  job->startMs = NowMs();
  job->startSecond = job->startMs / 1000u;
  job->srcW = job->lut->camW;
  job->srcH = job->lut->camH;
  if (job->srcW > kBest3MaxWorkWidth) {
    job->workW = kBest3MaxWorkWidth;
    job->workH = 720;
  } else {
    job->workW = job->srcW;
    job->workH = job->srcH;
  }
  AvmLog("Best3Ctrl_Init %d %d %d %d \n", job->srcW, job->srcH, job->workW, job->workH);
  const size_t src = static_cast<size_t>(job->srcW) * job->srcH, work = static_cast<size_t>(job->workW) * job->workH;
  job->srcBuf.assign(src, 0);
  job->workBuf.assign(work, 0);
  job->slotBuf.assign(work * kBest3Slots, 0);
  job->combinedBuf.assign(work, 0.0f);
  job->combined = Matrix{job->workW, job->workH, job->combinedBuf.data()};
  job->frameState.store(0);
  job->secondIndex.store(0);
  job->imageReady.store(0);
  job->framesCounted = 0;
  job->currentSecond = job->startSecond;
  job->liveThreads.store(2);
  job->threadMissing = false;
  job->runFlag.store(1, std::memory_order_release);
  // A thread that did not start is not waited for; the job then ends at the
  // next poll with the failure report instead of running without it.
  const ThreadRoutine routines[2] = {AccumulationThread, ExecThread};
  for (ThreadRoutine routine : routines) {
    const int rc = Thread_CreateDetached(nullptr, routine, job);
    if (rc == 0) continue;
    AvmLog("Best3Ctrl_Init: a calibration thread was not started (%d)\n", rc);
    job->liveThreads.fetch_sub(1, std::memory_order_acq_rel);
    job->threadMissing = true;
  }
  return 1;
}

void Best3Ctrl_InputFrame(Best3Ctrl* job, int32_t layout, const void* descriptor) {
  if (job == nullptr || descriptor == nullptr || job->runFlag.load(std::memory_order_acquire) != 1) return;
  if (job->work.done.load(std::memory_order_acquire) != 0) return;
  if (job->frameState.load(std::memory_order_acquire) != 0) return;
  if (!FrameFits(job, layout, descriptor)) return;
  const uint32_t now = NowMs();
  // Unsigned difference: the 32-bit tick's wrap does not stop the intake.
  if (now - g_lastFeedMs < kBest3FrameGapMs) return;
  job->frameState.store(1, std::memory_order_relaxed);
  g_lastFeedMs = now;
  FillImages(job, layout, descriptor);
  job->frameState.store(2, std::memory_order_release);
}

int32_t Best3Ctrl_PollAndSave(Best3Ctrl* job) {
  if (job == nullptr || !job->lut || job->threadMissing) return 2;
  if (job->work.done.load(std::memory_order_acquire) == 0) {
    // Unsigned difference of millisecond ticks: right across the tick's wrap.
    const uint32_t elapsed = (NowMs() - job->startMs) / 1000u;
    return elapsed > static_cast<uint32_t>(job->timeoutSeconds) ? 2 : 0;
  }
  return SaveResults(job) ? 1 : 2;
}

void Best3Ctrl_Release(Best3Ctrl* job) {
  if (job == nullptr) return;
  if (job->runFlag.load(std::memory_order_acquire) == 1) {
    job->runFlag.store(2, std::memory_order_release);
    for (int i = 0; job->liveThreads.load(std::memory_order_acquire) > 0; ++i) {
      // A solve can outlast the 300 polls: its buffers stay until it ends.
      if (i == 300) AvmLog("Best3Ctrl_Release: still waiting for the calibration threads\n");
      usleep(30000);
    }
    job->runFlag.store(0, std::memory_order_release);
  }
  if (job->lut) LUTOB_ReleaseBuffers(job->lut.get());
  Best3Ctrl_DestroyWork(&job->work);
  FreeImages(job);
  job->lut.reset();
}
