// avmhost play: drives the live pipeline through the KRV_TVDecoder_*
// exports as the display application does — Init, callbacks, quad frames
// in, frames out, the colour-correction record fetched and applied to the
// stitched bird's-eye picture, a capture and a recording.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "avm_library.h"
#include "commands.h"
#include "birdseye_planes.h"
#include "host_image.h"
#include "tvdecoder_api.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Exports {
  void (*capture)(const char*, int, int, int);
  int (*init)();
  int (*release)();
  void* (*loadLut)(const char*, const char*, const char*);
  int (*getResult)(void*, const char*, const char*, uint32_t);
  int (*unInitLut)(void*);
  void* (*initMerger)(const char*, const char*, int32_t, int32_t, int32_t, int32_t, uint32_t*, uint32_t*);
  int (*execMerger)(void*, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t**, uint32_t*,
                    const float*, int32_t);
  int (*unInitMerger)(void*);
  decltype(&KRV_TVDecoder_Init) decInit;
  decltype(&KRV_TVDecoder_Release) decRelease;
  decltype(&KRV_TVDecoder_InputVideoDataEx) input;
  decltype(&KRV_TVDecoder_RequestVideo) requestVideo;
  decltype(&KRV_TVDecoder_GetColorCorrectValue) getColour;
  decltype(&KRV_TVDecoder_StartRecordEx) startRecord;
  decltype(&KRV_TVDecoder_StopRecordEx) stopRecord;
  decltype(&KRV_TVDecoder_SetEXParam) setParam;
  decltype(&KRV_TVDecoder_GetEXResult) getResultEx;
};

bool Resolve(AvmLibrary& lib, Exports* e) {
  e->capture = lib.Get<decltype(e->capture)>("KRV_TVDecoder_CaptureFileEx");
  e->init = lib.Get<decltype(e->init)>("KRV_GlobalImage_Init");
  e->release = lib.Get<decltype(e->release)>("KRV_GlobalImage_Release");
  e->loadLut = lib.Get<decltype(e->loadLut)>("KRV_GlobalImage_LoadLUTOB");
  e->getResult = lib.Get<decltype(e->getResult)>("KRV_GlobalImage_GetLUTOBResult_EX");
  e->unInitLut = lib.Get<decltype(e->unInitLut)>("KRV_GlobalImage_UnInitLUTOB");
  e->initMerger = lib.Get<decltype(e->initMerger)>("KRV_GlobalImage_InitMergerCPUOB");
  e->execMerger = lib.Get<decltype(e->execMerger)>("KRV_GlobalImage_ExecCPUMerger");
  e->unInitMerger = lib.Get<decltype(e->unInitMerger)>("KRV_GlobalImage_UnInitMergerCPUOB");
  e->decInit = lib.Get<decltype(e->decInit)>("KRV_TVDecoder_Init");
  e->decRelease = lib.Get<decltype(e->decRelease)>("KRV_TVDecoder_Release");
  e->input = lib.Get<decltype(e->input)>("KRV_TVDecoder_InputVideoDataEx");
  e->requestVideo = lib.Get<decltype(e->requestVideo)>("KRV_TVDecoder_RequestVideo");
  e->getColour = lib.Get<decltype(e->getColour)>("KRV_TVDecoder_GetColorCorrectValue");
  e->startRecord = lib.Get<decltype(e->startRecord)>("KRV_TVDecoder_StartRecordEx");
  e->stopRecord = lib.Get<decltype(e->stopRecord)>("KRV_TVDecoder_StopRecordEx");
  e->setParam = lib.Get<decltype(e->setParam)>("KRV_TVDecoder_SetEXParam");
  e->getResultEx = lib.Get<decltype(e->getResultEx)>("KRV_TVDecoder_GetEXResult");
  return e->capture && e->init && e->release && e->loadLut && e->getResult && e->unInitLut && e->initMerger &&
         e->execMerger && e->unInitMerger && e->decInit && e->decRelease && e->input && e->requestVideo &&
         e->getColour && e->startRecord && e->stopRecord && e->setParam && e->getResultEx;
}

// What the output callback sees (it runs on the library's main thread
// while the input call blocks, so plain counters suffice).
struct Output {
  int64_t frames = 0;
  int32_t width = 0, height = 0;
};

int OnFrame(int32_t, int32_t, uint64_t, int32_t w, int32_t h, uint64_t user) {
  Output* o = reinterpret_cast<Output*>(static_cast<uintptr_t>(user));
  ++o->frames;
  o->width = w;
  o->height = h;
  return 1;
}

// One quadrant of an NV12 quad frame as an NV12 camera image.
std::vector<uint8_t> Quadrant(const uint8_t* quad, int32_t W, int32_t H, int k) {
  const int32_t cw = W / 2, ch = H / 2, ox = (k % 2) * cw, oy = (k / 2) * ch;
  std::vector<uint8_t> img(static_cast<size_t>(cw) * ch * 3 / 2);
  for (int32_t y = 0; y < ch; ++y) memcpy(&img[static_cast<size_t>(y) * cw], quad + static_cast<size_t>(oy + y) * W + ox, cw);
  const uint8_t* uv = quad + static_cast<size_t>(W) * H;
  for (int32_t y = 0; y < ch / 2; ++y)
    memcpy(&img[static_cast<size_t>(cw) * ch + static_cast<size_t>(y) * cw], uv + static_cast<size_t>(oy / 2 + y) * W + ox, cw);
  return img;
}

// Stitches a quad frame with the first 24 gains of the colour record (the
// end gains of the four cameras).
bool Stitch(const Exports& x, void* merger, uint32_t w, uint32_t h, const uint8_t* quad, int32_t W, int32_t H,
            const float* gains, const std::string& path) {
  std::vector<uint8_t> cams[4];
  for (int k = 0; k < 4; ++k) cams[k] = Quadrant(quad, W, H, k);
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h, 16), chroma(static_cast<size_t>(w) * ((h + 1) / 2), 128);
  uint8_t* planes[2] = {luma.data(), chroma.data()};
  uint32_t pitches[2] = {w, w};
  x.execMerger(merger, cams[0].data(), cams[1].data(), cams[2].data(), cams[3].data(), planes, pitches, gains, 0);
  return HostImage_WriteBmp(path, NV12ToRgb(luma.data(), chroma.data(), static_cast<int32_t>(w), static_cast<int32_t>(h)));
}

}  // namespace

int RunPlay(AvmLibrary& lib, const std::vector<std::string>& args) {
  const std::string dir = OptionValue(args, "--data", ".");
  const int frames = atoi(OptionValue(args, "--frames", "48").c_str());
  const std::string record = OptionValue(args, "--record");
  const std::string captureDir = OptionValue(args, "--capture");
  const std::string outDir = OptionValue(args, "--out", dir);
  Exports x{};
  if (!Resolve(lib, &x)) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  int32_t W = 0, H = 0, count = 0;
  FILE* info = fopen((dir + "/play_frames.txt").c_str(), "r");
  if (info == nullptr || fscanf(info, "%d %d %d", &W, &H, &count) != 3 || W <= 0 || H <= 0 || W % 4 != 0 ||
      H % 4 != 0 || count <= 0) {
    if (info != nullptr) fclose(info);
    fprintf(stderr, "avmhost: %s holds no play frames (write them with: avmsample play DIR)\n", dir.c_str());
    return 1;
  }
  fclose(info);
  const size_t frameBytes = static_cast<size_t>(W) * H * 3 / 2;
  std::vector<uint8_t> clip(frameBytes * static_cast<size_t>(count));
  FILE* f = fopen((dir + "/play_frames.nv12").c_str(), "rb");
  const bool read = f != nullptr && fread(clip.data(), 1, clip.size(), f) == clip.size();
  if (f != nullptr) fclose(f);
  if (!read || frames <= 0) {
    fprintf(stderr, "avmhost: cannot read %d frames of %dx%d from %s/play_frames.nv12\n", count, W, H, dir.c_str());
    return 1;
  }

  // The bird's-eye files of the rig, then the stitching object.
  x.capture(dir.c_str(), 0, 152, 0);
  x.init();
  const std::string config = dir + "/lut_config.krv", byteLut = dir + "/lut_birdseye.krv";
  void* lut = x.loadLut((dir + "/quad.bmp").c_str(), config.c_str(), nullptr);
  const int built = lut != nullptr ? x.getResult(lut, byteLut.c_str(), config.c_str(), 0xBF) : -1;
  if (lut != nullptr) x.unInitLut(lut);
  uint32_t bw = 0, bh = 0;
  void* merger = built == 0 ? x.initMerger(config.c_str(), byteLut.c_str(), 0, W / 2, H / 2, 0, &bw, &bh) : nullptr;
  if (merger == nullptr) {
    fprintf(stderr, "avmhost: the bird's-eye files of %s could not be built\n", dir.c_str());
    x.release();
    return 1;
  }

  x.decInit(1, W, H);
  Output out;
  x.requestVideo(OnFrame, reinterpret_cast<uintptr_t>(&out));
  x.setParam(21, 2);  // overlay: date, time and speed
  x.setParam(12, 8);  // km/h
  // The decoder reads and draws into the frames it is handed until two
  // later input calls have returned 0: a buffer is refilled only then.
  std::vector<uint8_t> buffers[4];
  for (auto& b : buffers) b.resize(frameBytes);
  int zeroSince[4] = {2, 2, 2, 2};
  int next = 0;
  float firstGains[132];
  int64_t timeouts = 0;
  double sumMs = 0.0, worstMs = 0.0;
  const int recordStart = frames / 4, recordStop = frames - frames / 4;
  int recordResult = 0;
  for (int i = 0; i < frames; ++i) {
    // Ping-pong through the clip: the car drives forward and back.
    const int period = count > 1 ? 2 * (count - 1) : 1;
    const int k = i % period < count ? i % period : period - i % period;
    int b = -1;
    for (int tries = 0; b < 0 && tries < 50; ++tries) {
      for (int n = 0; n < 4 && b < 0; ++n)
        if (zeroSince[(next + n) % 4] >= 2) b = (next + n) % 4;
      // Every buffer still in use after time-outs: a call without a frame.
      if (b < 0 && x.input(1, 0, 0) == 0)
        for (int& z : zeroSince) ++z;
    }
    if (b < 0) {
      fprintf(stderr, "avmhost: the decoder holds every frame buffer\n");
      break;
    }
    next = (b + 1) % 4;
    std::vector<uint8_t>& buf = buffers[b];
    memcpy(buf.data(), clip.data() + frameBytes * static_cast<size_t>(k), frameBytes);
    if (i == 1 && !captureDir.empty()) x.capture((captureDir + "/capture.bmp").c_str(), i, 0, 0);
    if (i == recordStart && !record.empty()) recordResult = x.startRecord(record.c_str(), 0);
    if (i == recordStop && !record.empty()) x.stopRecord(0);
    const uint64_t addr = reinterpret_cast<uintptr_t>(buf.data());
    const auto t0 = Clock::now();
    const int taken = x.input(addr, addr, static_cast<uint64_t>(i + 1));
    if (taken != 0) ++timeouts;
    for (int n = 0; n < 4; ++n)
      if (n != b && taken == 0) ++zeroSince[n];
    zeroSince[b] = 0;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    sumMs += ms;
    if (ms > worstMs) worstMs = ms;
    if (i == 0) x.getColour(firstGains);
    // Frames come at the cameras' rate, 25 a second.
    std::this_thread::sleep_until(t0 + std::chrono::milliseconds(40));
  }
  if (!record.empty() && recordStop >= frames) x.stopRecord(0);
  float gains[132];
  x.getColour(gains);
  const int recording = x.getResultEx(4);
  x.decRelease();

  printf("frames in: %d\nframes out: %lld\ndropped frames: %lld\ninput time-outs: %lld\n", frames,
         static_cast<long long>(out.frames), static_cast<long long>(frames - out.frames), static_cast<long long>(timeouts));
  printf("time per frame: mean %.2f ms, worst %.2f ms\n", sumMs / frames, worstMs);
  const char* names[4] = {"front", "back", "left", "right"};
  for (int c = 0; c < 4; ++c)
    printf("colour gains %-5s: R %.3f G %.3f B %.3f | R %.3f G %.3f B %.3f\n", names[c], gains[6 * c], gains[6 * c + 1],
           gains[6 * c + 2], gains[6 * c + 3], gains[6 * c + 4], gains[6 * c + 5]);
  if (!record.empty()) printf("recording: %s (start %d, recent %d)\n", record.c_str(), recordResult, recording);
  if (!captureDir.empty()) printf("capture: %s/capture.bmp\n", captureDir.c_str());

  // First and last frames stitched before and after correction.
  const std::vector<float> unit(132, 1.0f);
  const int last = (frames - 1) % (count > 1 ? 2 * (count - 1) : 1);
  const uint8_t* lastFrame = clip.data() + frameBytes * static_cast<size_t>(last < count ? last : 2 * (count - 1) - last);
  bool ok = Stitch(x, merger, bw, bh, clip.data(), W, H, unit.data(), outDir + "/birdseye_first_before.bmp") &&
            Stitch(x, merger, bw, bh, clip.data(), W, H, firstGains, outDir + "/birdseye_first_after.bmp") &&
            Stitch(x, merger, bw, bh, lastFrame, W, H, unit.data(), outDir + "/birdseye_last_before.bmp") &&
            Stitch(x, merger, bw, bh, lastFrame, W, H, gains, outDir + "/birdseye_last_after.bmp");
  x.unInitMerger(merger);
  x.release();
  if (!ok) {
    fprintf(stderr, "avmhost: cannot write the bird's-eye pictures into %s\n", outDir.c_str());
    return 1;
  }
  printf("bird's-eye pictures: %s/birdseye_{first,last}_{before,after}.bmp\n", outDir.c_str());
  return recordResult == 0 ? 0 : 1;
}
