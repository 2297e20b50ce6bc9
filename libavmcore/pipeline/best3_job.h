#pragma once
// The automatic line calibration job (Best3) that KRV_TVDecoder_Better
// starts: the decoder hands it every quad frame and polls it once a frame.
// The job keeps at most one frame every 191 ms, averages the frames of each
// second into a ring of five one-second slots, combines the five into one
// float image and runs the line calibration on it on a thread of its own.
// A successful solve is saved by the next poll.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "calibration/solve/best3_solve.h"
#include "frame/matrix_types.h"
#include "surround/lutob.h"

constexpr uint32_t kBest3FrameGapMs = 191;
constexpr int32_t kBest3Slots = 5;
constexpr int32_t kBest3MaxWorkWidth = 1280;

struct Best3Ctrl {
  Best3Work work;  // the calibration state, on the embedded LUT object
  LutobPtr lut;
  int32_t timeoutSeconds = 0;
  uint32_t startMs = 0;
  uint32_t startSecond = 0;
  char lutPath[128] = {};
  char configPath[128] = {};
  int32_t srcW = 0, srcH = 0, workW = 0, workH = 0;
  std::vector<uint16_t> srcBuf, workBuf, slotBuf;
  std::vector<float> combinedBuf;
  Matrix combined{0, 0, nullptr};
  // Hand-over words between the decoder thread and the job's two threads.
  std::atomic<uint32_t> frameState{0};    // 0 free, 1 feeder writing, 2 ready
  std::atomic<uint32_t> secondIndex{0};   // closed one-second slots
  std::atomic<uint32_t> imageReady{0};    // 1 while the combined image waits for or is under a solve
  uint32_t framesCounted = 0;             // accumulation thread only
  uint32_t currentSecond = 0;             // accumulation thread only
  std::atomic<uint32_t> runFlag{0};       // 1 running, 2 stop requested, 0 stopped
  std::atomic<int32_t> liveThreads{0};   // threads started and not yet ended
  bool threadMissing = false;             // a thread could not be started (decoder thread only)
};

// A job with its construction defaults, or null.
Best3Ctrl* Best3Ctrl_Create();
// Frees a job made by Best3Ctrl_Create (null allowed), releasing it first
// when its threads still run.
void Best3Ctrl_Destroy(Best3Ctrl* job);
// Loads the camera file, sets up the calibration, starts the job's threads.
// 1 on success, 0 on failure (no thread started).
int32_t Best3Ctrl_Init(Best3Ctrl* job, int32_t timeoutSeconds, const char* lutConfigPath, const char* lutPath,
                       const char* configOutPath);
// One decoder frame: layout 0 or 3 a PackedFrame, 1 or 4 a YuvSemiPlanarFrame.
void Best3Ctrl_InputFrame(Best3Ctrl* job, int32_t layout, const void* descriptor);
// 0 running, 1 done and every file written, 2 timed out, a file could not
// be written, or a thread of the job could not be started.
int32_t Best3Ctrl_PollAndSave(Best3Ctrl* job);
// Stops the job's threads and frees its buffers (not the job).
void Best3Ctrl_Release(Best3Ctrl* job);

// The millisecond clock of the job (frame gate, seconds, time-out); null
// restores GetTickMs.
void Best3Ctrl_SetClock(uint32_t (*clock)());
