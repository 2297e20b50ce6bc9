#pragma once
// The automatic line calibration job (Best3) that KRV_TVDecoder_Better
// starts and the decoder feeds. The job belongs to calibration; until it is
// linked in, weak stand-ins (best3_services.cpp) refuse to create a job, so
// KRV_TVDecoder_Better reports -1.
#include <cstdint>

struct Best3Ctrl;

// A job with its construction defaults, or null.
Best3Ctrl* Best3Ctrl_Create();
// Frees a job made by Best3Ctrl_Create (null allowed).
void Best3Ctrl_Destroy(Best3Ctrl* job);
// Loads the camera file, starts the job's threads. 1 on success, 0 on failure.
int32_t Best3Ctrl_Init(Best3Ctrl* job, int32_t timeoutSeconds, const char* lutConfigPath, const char* lutPath1,
                       const char* lutPath2);
// One decoder frame: layout 0 or 3 a PackedFrame, 1 or 4 a YuvSemiPlanarFrame.
void Best3Ctrl_InputFrame(Best3Ctrl* job, int32_t layout, const void* descriptor);
// 0 running, 1 done and saved, 2 timed out.
int32_t Best3Ctrl_PollAndSave(Best3Ctrl* job);
// Stops the job's threads and frees its buffers (not the job).
void Best3Ctrl_Release(Best3Ctrl* job);
