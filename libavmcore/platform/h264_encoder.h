#pragma once
// The platform's H.264 encoder library (T7H264EncFactory_*). This stand-in
// encodes with libx264 and writes each recording as an AVI file at the path
// given to startRecord, so that it plays in an ordinary player. Frames are
// semi-planar 4:2:0 (NV12) at the source size; they are scaled to the
// encode size when the two differ. Process-wide, callable from any thread.
#include <cstdint>

// 0 on success; -1 for sizes that are not positive and even, or a rate
// below 1.
int T7H264EncFactory_init(int32_t srcWidth, int32_t srcHeight, int32_t encWidth, int32_t encHeight, int32_t rate,
                          double frameRate);
void T7H264EncFactory_uninit();
// Starts a recording into path (replacing a running one). 0, or -1 when not
// initialised or the file or encoder cannot be opened.
int T7H264EncFactory_startRecord(const char* path);
// Ends the recording and closes its file. 0, or -1 when none ran.
int T7H264EncFactory_stopRecord();
// Non-zero while a recording runs.
int T7H264EncFactory_isRecording();
// Encodes one frame into the running recording; the CPU addresses are read
// (the device addresses name the same memory for the video engine). 0, or
// -1 when no recording runs or the frame cannot be encoded.
int T7H264EncFactory_updateAddrAndEncodeFrame(uint64_t lumaDevice, uint64_t chromaDevice, uint64_t lumaCpu,
                                              uint64_t chromaCpu);
// The rate of the next recording.
void T7H264EncFactory_setFrameRate(double frameRate);

// Frames encoded into the current (or last) recording.
int32_t T7H264EncFactory_framesEncoded();
