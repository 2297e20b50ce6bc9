#include "pipeline/avi_writer.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/clock.h"
#include "frame/log.h"

namespace {

std::atomic<int32_t> g_error{kAviErrorNone};
std::atomic<int32_t> g_lastFrames{0};
std::atomic<uint32_t (*)()> g_clock{nullptr};

constexpr uint32_t kIndexGrowth = 4096;
constexpr uint32_t kPlaceholderMovi = 409600000;
constexpr uint32_t kKeyFrameFlag = 16;
constexpr int32_t kAdpcmSamplesPerBlock = 505;

uint32_t NowMs() {
  uint32_t (*c)() = g_clock.load();
  return c != nullptr ? c() : GetTickMs();
}

uint32_t FourCC(const char* s) {
  if (s == nullptr) return 0;
  char b[4] = {' ', ' ', ' ', ' '};
  for (int i = 0; i < 4 && s[i] != '\0'; ++i) b[i] = s[i];
  return static_cast<uint32_t>(static_cast<uint8_t>(b[0])) | static_cast<uint32_t>(static_cast<uint8_t>(b[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(b[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[3])) << 24;
}

struct Bytes {
  std::vector<uint8_t> v;
  void U32(uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
  }
  void U16(uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
  }
  void Tag(const char* t) { U32(FourCC(t)); }
};

int32_t AudioBlockAlign(const AviWriter* w) { return 256 * (w->audio[1] > 0 ? w->audio[1] : 1); }

// The 2048-byte header for the current counts.
std::vector<uint8_t> BuildHeader(const AviWriter* w, uint32_t moviSize, uint32_t indexBytes) {
  const bool audio = w->audio[1] != 0;
  const uint32_t usPerFrame = w->rate < 0.001f ? 0u : static_cast<uint32_t>(std::lround(1000000.0 / w->rate));
  Bytes b;
  b.Tag("RIFF");
  b.U32(2044u + moviSize + indexBytes - 8u);
  b.Tag("AVI ");
  b.Tag("LIST");
  b.U32(audio ? 296 : 192);
  b.Tag("hdrl");
  b.Tag("avih");
  b.U32(56);
  b.U32(usPerFrame);
  b.U32(10000000);
  b.U32(0);
  b.U32(0x10000u | (w->frames > 0 ? 0x10u : 0u));
  b.U32(static_cast<uint32_t>(w->frames));
  b.U32(0);
  b.U32(audio ? 2 : 1);
  b.U32(0);
  b.U32(static_cast<uint32_t>(w->width));
  b.U32(static_cast<uint32_t>(w->height));
  for (int i = 0; i < 4; ++i) b.U32(0);
  // Video stream.
  b.Tag("LIST");
  b.U32(116);
  b.Tag("strl");
  b.Tag("strh");
  b.U32(56);
  b.Tag("vids");
  b.U32(w->fourcc);
  b.U32(0);
  b.U32(0);
  b.U32(0);
  b.U32(usPerFrame);
  b.U32(1000000);
  b.U32(0);
  b.U32(static_cast<uint32_t>(w->frames));
  b.U32(0);
  b.U32(0xFFFFFFFFu);
  b.U32(0);
  for (int i = 0; i < 4; ++i) b.U16(0);
  b.Tag("strf");
  b.U32(40);
  b.U32(40);
  b.U32(static_cast<uint32_t>(w->width));
  b.U32(static_cast<uint32_t>(w->height));
  b.U16(1);
  b.U16(24);
  b.U32(w->fourcc);
  b.U32(static_cast<uint32_t>(w->width) * static_cast<uint32_t>(w->height));
  for (int i = 0; i < 4; ++i) b.U32(0);
  if (audio) {
    // IMA ADPCM: 505 samples in blocks of 256 bytes a channel.
    const int32_t channels = w->audio[1];
    const int32_t sampleRate = w->audio[2] > 0 ? w->audio[2] : 16000;
    const int32_t align = AudioBlockAlign(w);
    b.Tag("LIST");
    b.U32(96);
    b.Tag("strl");
    b.Tag("strh");
    b.U32(56);
    b.Tag("auds");
    b.U32(0);
    b.U32(0);
    b.U32(0);
    b.U32(0);
    b.U32(kAdpcmSamplesPerBlock);
    b.U32(static_cast<uint32_t>(sampleRate));
    b.U32(0);
    b.U32(static_cast<uint32_t>(w->audioBytes / align));
    b.U32(0);
    b.U32(0xFFFFFFFFu);
    b.U32(static_cast<uint32_t>(align));
    for (int i = 0; i < 4; ++i) b.U16(0);
    b.Tag("strf");
    b.U32(20);
    b.U16(17);
    b.U16(static_cast<uint16_t>(channels));
    b.U32(static_cast<uint32_t>(sampleRate));
    b.U32(static_cast<uint32_t>(static_cast<int64_t>(sampleRate) * align / kAdpcmSamplesPerBlock));
    b.U16(static_cast<uint16_t>(align));
    b.U16(4);
    b.U16(2);
    b.U16(kAdpcmSamplesPerBlock);
  }
  b.Tag("JUNK");
  b.U32(audio ? 1712 : 1816);
  b.v.resize(2036, 0);
  b.Tag("LIST");
  b.U32(moviSize);
  b.Tag("movi");
  return b.v;
}

int WriteHeader(AviWriter* w, uint32_t moviSize, uint32_t indexBytes) {
  const std::vector<uint8_t> h = BuildHeader(w, moviSize, indexBytes);
  if (fseeko(w->file, 0, SEEK_SET) != 0 || fwrite(h.data(), 1, h.size(), w->file) != h.size()) return -1;
  return 0;
}

bool OverLimit(AviWriter* w, int32_t size) {
  if (w->position + 16 + size + 16LL * (w->entries + 1) > w->sizeLimit) {
    g_error = kAviErrorSizeLimit;
    return true;
  }
  return false;
}

}  // namespace

int32_t AviWriter_LastError() { return g_error.load(); }
int32_t AviWriter_LastFrameCount() { return g_lastFrames.load(); }
void AviWriter_SetClock(uint32_t (*clock)()) { g_clock.store(clock); }

AviWriter* AviWriter_Open(const char* path, int32_t width, int32_t height, const char* fourcc, float rate) {
  AviWriter* w = static_cast<AviWriter*>(calloc(1, sizeof(AviWriter)));
  if (w == nullptr) {
    g_error = kAviErrorMemory;
    return nullptr;
  }
  w->file = path != nullptr ? fopen(path, "wb") : nullptr;
  if (w->file == nullptr) {
    g_error = kAviErrorOpen;
    free(w);
    return nullptr;
  }
  setvbuf(w->file, nullptr, _IONBF, 0);
  AviWriter_SetVideo(w, width, height, fourcc, rate);
  w->startMs = NowMs();
  w->position = kAviHeaderBytes;
  w->sizeLimit = kAviSizeLimit;
  if (WriteHeader(w, kPlaceholderMovi, 0) != 0) {
    g_error = kAviErrorWrite;
    fclose(w->file);
    free(w);
    return nullptr;
  }
  return w;
}

void AviWriter_SetVideo(AviWriter* w, int32_t width, int32_t height, const char* fourcc, float rate) {
  w->width = width;
  w->height = height;
  w->fourcc = FourCC(fourcc);
  w->rate = rate;
  w->frames = 0;
  w->firstFrameMs = w->lastFrameMs = 0;
}

void AviWriter_SetAudio(AviWriter* w, int32_t format, int32_t channels, int32_t sampleRate, int32_t bits) {
  w->audio[0] = format;
  w->audio[1] = channels;
  w->audio[2] = sampleRate;
  w->audio[3] = bits;
}

int AviWriter_AddIndex(AviWriter* w, const char* fourcc, uint32_t flags, uint32_t offset, uint32_t size) {
  if (w->entries >= w->capacity) {
    const int32_t cap = w->capacity + static_cast<int32_t>(kIndexGrowth);
    void* grown = realloc(w->index, sizeof(AviIndexEntry) * static_cast<size_t>(cap));
    if (grown == nullptr) {
      AvmLog("avi_idx realloc error \n");
      g_error = kAviErrorMemory;
      return -1;
    }
    w->index = static_cast<AviIndexEntry*>(grown);
    w->capacity = cap;
  }
  w->index[w->entries++] = AviIndexEntry{FourCC(fourcc), flags, offset, size};
  return 0;
}

int AviWriter_WriteChunk(AviWriter* w, const char* fourcc, const void* data, int32_t size, const void* extra,
                         int32_t extraSize) {
  const int64_t start = w->position;
  const uint32_t total = static_cast<uint32_t>(size + (extra != nullptr ? extraSize : 0));
  const uint32_t padded = (total + 1u) & ~1u;
  uint8_t head[8];
  const uint32_t tag = FourCC(fourcc);
  memcpy(head, &tag, 4);
  memcpy(head + 4, &padded, 4);
  bool ok = fseeko(w->file, start, SEEK_SET) == 0 && fwrite(head, 1, 8, w->file) == 8;
  if (ok && size > 0) ok = fwrite(data, 1, static_cast<size_t>(size), w->file) == static_cast<size_t>(size);
  if (ok && extra != nullptr && extraSize > 0)
    ok = fwrite(extra, 1, static_cast<size_t>(extraSize), w->file) == static_cast<size_t>(extraSize);
  if (ok && padded != total) ok = fputc(0, w->file) != EOF;
  if (!ok) {
    fseeko(w->file, start, SEEK_SET);
    g_error = kAviErrorWrite;
    return -1;
  }
  w->position = start + 8 + padded;
  return 0;
}

int AviWriter_WriteVideo(AviWriter* w, const void* data, int32_t size, const void* extra, int32_t extraSize,
                         int keyFrame) {
  (void)keyFrame;  // every frame is indexed as a key frame
  if (w == nullptr || size < 0) return -1;
  const int32_t total = size + (extra != nullptr ? extraSize : 0);
  if (OverLimit(w, total)) return -1;
  const uint32_t at = static_cast<uint32_t>(w->position);
  if (AviWriter_WriteChunk(w, "00db", data, size, extra, extraSize) != 0) return -1;
  if (AviWriter_AddIndex(w, "00db", kKeyFrameFlag, at, static_cast<uint32_t>(total)) != 0) return -1;
  const uint32_t now = NowMs();
  if (w->frames == 0) w->firstFrameMs = now;
  w->lastFrameMs = now;
  ++w->frames;
  return 0;
}

int AviWriter_WriteAudio(AviWriter* w, const void* data, int32_t size) {
  if (w == nullptr || size < 0) return -1;
  if (OverLimit(w, size)) return -1;
  const uint32_t at = static_cast<uint32_t>(w->position);
  if (AviWriter_WriteChunk(w, "01wb", data, size, nullptr, 0) != 0) return -1;
  if (AviWriter_AddIndex(w, "01wb", 0, at, static_cast<uint32_t>(size)) != 0) return -1;
  w->audioBytes += size;
  return 0;
}

int AviWriter_WriteFrameAudio(AviWriter* w, const void* video, int32_t videoSize, const void* audio,
                              int32_t audioSize, int mode) {
  if ((mode & 1) != 0 && AviWriter_WriteVideo(w, video, videoSize, nullptr, 0, 1) != 0) return -1;
  if ((mode & 2) != 0 && AviWriter_WriteAudio(w, audio, audioSize) != 0) return -1;
  return 0;
}

int AviWriter_WriteIndex(AviWriter* w) {
  const uint32_t moviSize = static_cast<uint32_t>(w->position - 2044);
  const uint32_t bytes = 16u * static_cast<uint32_t>(w->entries);
  uint8_t head[8];
  const uint32_t tag = FourCC("idx1");
  memcpy(head, &tag, 4);
  memcpy(head + 4, &bytes, 4);
  bool ok = fseeko(w->file, w->position, SEEK_SET) == 0 && fwrite(head, 1, 8, w->file) == 8;
  if (ok && w->entries > 0)
    ok = fwrite(w->index, sizeof(AviIndexEntry), static_cast<size_t>(w->entries), w->file) ==
         static_cast<size_t>(w->entries);
  if (!ok) {
    g_error = kAviErrorWrite;
    return -1;
  }
  if (WriteHeader(w, moviSize, 8 + bytes) != 0) {
    g_error = kAviErrorHeader;
    return -1;
  }
  return 0;
}

int AviWriter_Close(AviWriter* w) {
  if (w == nullptr) return -1;
  // The file plays at the rate its frames were written at: frames - 1
  // intervals from the first frame to the last. The time before the first
  // frame and after the last (a late close) is not part of the video.
  const uint32_t span = w->lastFrameMs - w->firstFrameMs;
  if (w->frames >= 2 && span != 0)
    w->rate = static_cast<float>(static_cast<double>(w->frames - 1) * 1000.0 / static_cast<double>(span));
  int rc = AviWriter_WriteIndex(w);
  g_lastFrames = w->frames;
  if (fflush(w->file) != 0) rc = -1;
  if (fclose(w->file) != 0) {
    g_error = kAviErrorWrite;
    rc = -1;
  }
  free(w->index);
  free(w);
  return rc;
}

void AviWriter_Abort(AviWriter* w) {
  if (w == nullptr) return;
  fclose(w->file);
  free(w->index);
  free(w);
}
