#pragma once
// AVI 1.0 file writer (RIFF with an idx1 index) for an encoded video stream
// and an optional audio stream. The header is a fixed 2048 bytes written at
// open with placeholder counts; chunks are appended, the index is kept in
// memory and written at close, and the header is then rewritten with the
// final counts.
#include <cstdint>
#include <cstdio>

#include "platform/avi_file_services.h"

constexpr int32_t kAviHeaderBytes = 2048;
constexpr int64_t kAviSizeLimit = 2000000000;

// Error word values (AviWriter_LastError).
enum AviError : int32_t {
  kAviErrorNone = 0,
  kAviErrorSizeLimit = 1,
  kAviErrorOpen = 2,
  kAviErrorWrite = 4,
  kAviErrorHeader = 6,
  kAviErrorMemory = 8,
};

struct AviIndexEntry {
  uint32_t fourcc;
  uint32_t flags;
  uint32_t offset;  // file position of the chunk header
  uint32_t size;    // data bytes
};

struct AviWriter {
  FILE* file;
  int32_t width, height;
  float rate;
  uint32_t fourcc;
  int32_t frames;
  int32_t audio[4];  // SetAudio: format, channels, sample rate, bits; channels non-zero = audio present
  int32_t audioBytes;
  int64_t position;
  int32_t entries, capacity;
  AviIndexEntry* index;
  uint32_t startMs;
  int64_t sizeLimit;  // kAviSizeLimit
  uint32_t firstFrameMs, lastFrameMs;  // clock at the first and the last video frame written
};

void AviWriter_SetVideo(AviWriter* writer, int32_t width, int32_t height, const char* fourcc, float rate);
void AviWriter_SetAudio(AviWriter* writer, int32_t format, int32_t channels, int32_t sampleRate, int32_t bits);
int AviWriter_WriteAudio(AviWriter* writer, const void* data, int32_t size);
// mode bit 0: the video chunk, bit 1: the audio chunk.
int AviWriter_WriteFrameAudio(AviWriter* writer, const void* video, int32_t videoSize, const void* audio,
                              int32_t audioSize, int mode);
int AviWriter_AddIndex(AviWriter* writer, const char* fourcc, uint32_t flags, uint32_t offset, uint32_t size);
int AviWriter_WriteChunk(AviWriter* writer, const char* fourcc, const void* data, int32_t size, const void* extra,
                         int32_t extraSize);
int AviWriter_WriteIndex(AviWriter* writer);
// Closes the file and frees the writer without index or header update.
void AviWriter_Abort(AviWriter* writer);

// Last failure (AviError), and the frame count of the last closed file.
int32_t AviWriter_LastError();
int32_t AviWriter_LastFrameCount();
// The millisecond clock of the measured rate; null restores GetTickMs.
void AviWriter_SetClock(uint32_t (*clock)());
