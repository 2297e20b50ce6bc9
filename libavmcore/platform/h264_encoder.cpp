#include "platform/h264_encoder.h"

#include <x264.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "frame/log.h"
#include "platform/avi_file_services.h"

namespace {

struct Encoder {
  bool ready = false;
  int32_t srcW = 0, srcH = 0, encW = 0, encH = 0;
  double rate = 16.0;
  x264_t* x264 = nullptr;
  AviWriter* file = nullptr;
  int64_t pts = 0;
  int32_t frames = 0;
  std::vector<uint8_t> scaled;  // NV12 at the encode size when scaling
};

std::mutex g_mutex;
Encoder g_enc;
// Asked on every frame by the decoder's main thread: answered without
// waiting for an encode in progress.
std::atomic<int> g_recording{0};

void CloseRecording(Encoder& e) {
  g_recording = 0;
  if (e.x264 != nullptr) {
    x264_encoder_close(e.x264);
    e.x264 = nullptr;
  }
  if (e.file != nullptr) {
    if (AviWriter_Close(e.file) != 0) AvmLog("encoder: recording file not closed cleanly\n");
    e.file = nullptr;
  }
}

bool OpenX264(Encoder& e) {
  x264_param_t p;
  if (x264_param_default_preset(&p, "veryfast", "zerolatency") < 0) return false;
  p.i_csp = X264_CSP_NV12;
  p.i_width = e.encW;
  p.i_height = e.encH;
  const int fps = std::max(1, static_cast<int>(std::lround(e.rate)));
  p.i_fps_num = static_cast<uint32_t>(fps);
  p.i_fps_den = 1;
  p.i_timebase_num = 1;
  p.i_timebase_den = static_cast<uint32_t>(fps);
  p.i_threads = 1;
  p.b_repeat_headers = 1;  // every key frame carries its parameter sets
  p.b_annexb = 1;
  p.i_keyint_max = fps * 2;
  p.rc.i_rc_method = X264_RC_CRF;
  p.rc.f_rf_constant = 18.0f;
  p.i_log_level = X264_LOG_NONE;
  if (x264_param_apply_profile(&p, "high") < 0) return false;
  e.x264 = x264_encoder_open(&p);
  return e.x264 != nullptr;
}

// Nearest-neighbour scale of an NV12 frame.
void ScaleNV12(const uint8_t* luma, const uint8_t* chroma, int32_t sw, int32_t sh, uint8_t* dst, int32_t dw,
               int32_t dh) {
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * sh / dh);
    for (int32_t x = 0; x < dw; ++x) dst[static_cast<size_t>(y) * dw + x] = luma[static_cast<size_t>(sy) * sw + x * sw / dw];
  }
  uint8_t* uv = dst + static_cast<size_t>(dw) * dh;
  for (int32_t y = 0; y < dh / 2; ++y) {
    const int32_t sy = static_cast<int32_t>(static_cast<int64_t>(y) * (sh / 2) / (dh / 2));
    for (int32_t x = 0; x < dw / 2; ++x) {
      const int32_t sx = x * (sw / 2) / (dw / 2);
      uv[static_cast<size_t>(y) * dw + 2 * x] = chroma[static_cast<size_t>(sy) * sw + 2 * sx];
      uv[static_cast<size_t>(y) * dw + 2 * x + 1] = chroma[static_cast<size_t>(sy) * sw + 2 * sx + 1];
    }
  }
}

bool Even(int32_t v) { return v > 0 && v % 2 == 0; }

}  // namespace

int T7H264EncFactory_init(int32_t srcWidth, int32_t srcHeight, int32_t encWidth, int32_t encHeight, int32_t rate,
                          double frameRate) {
  (void)rate;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!Even(srcWidth) || !Even(srcHeight) || !Even(encWidth) || !Even(encHeight) || !(frameRate >= 1.0)) {
    AvmLog("T7H264EncFactory_init: unusable sizes %dx%d -> %dx%d or rate %.2f\n", srcWidth, srcHeight, encWidth,
           encHeight, frameRate);
    return -1;
  }
  CloseRecording(g_enc);
  g_enc.ready = true;
  g_enc.srcW = srcWidth;
  g_enc.srcH = srcHeight;
  g_enc.encW = encWidth;
  g_enc.encH = encHeight;
  g_enc.rate = frameRate;
  return 0;
}

void T7H264EncFactory_uninit() {
  std::lock_guard<std::mutex> lock(g_mutex);
  CloseRecording(g_enc);
  g_enc = Encoder{};
}

int T7H264EncFactory_startRecord(const char* path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_enc.ready || path == nullptr) return -1;
  CloseRecording(g_enc);
  if (!OpenX264(g_enc)) {
    AvmLog("T7H264EncFactory_startRecord: encoder not opened\n");
    return -1;
  }
  g_enc.file = AviWriter_Open(path, g_enc.encW, g_enc.encH, "H264", static_cast<float>(g_enc.rate));
  if (g_enc.file == nullptr) {
    AvmLog("T7H264EncFactory_startRecord: cannot create %s\n", path);
    CloseRecording(g_enc);
    return -1;
  }
  g_enc.pts = 0;
  g_enc.frames = 0;
  g_recording = 1;
  return 0;
}

int T7H264EncFactory_stopRecord() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_enc.file == nullptr) return -1;
  CloseRecording(g_enc);
  return 0;
}

int T7H264EncFactory_isRecording() { return g_recording.load(); }

int T7H264EncFactory_updateAddrAndEncodeFrame(uint64_t lumaDevice, uint64_t chromaDevice, uint64_t lumaCpu,
                                              uint64_t chromaCpu) {
  (void)lumaDevice;
  (void)chromaDevice;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_enc.file == nullptr || g_enc.x264 == nullptr || lumaCpu == 0 || chromaCpu == 0) return -1;
  const uint8_t* luma = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(lumaCpu));
  const uint8_t* chroma = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(chromaCpu));
  if (g_enc.srcW != g_enc.encW || g_enc.srcH != g_enc.encH) {
    g_enc.scaled.resize(static_cast<size_t>(g_enc.encW) * g_enc.encH * 3 / 2);
    ScaleNV12(luma, chroma, g_enc.srcW, g_enc.srcH, g_enc.scaled.data(), g_enc.encW, g_enc.encH);
    luma = g_enc.scaled.data();
    chroma = luma + static_cast<size_t>(g_enc.encW) * g_enc.encH;
  }
  x264_picture_t in;
  x264_picture_init(&in);
  in.img.i_csp = X264_CSP_NV12;
  in.img.i_plane = 2;
  in.img.plane[0] = const_cast<uint8_t*>(luma);
  in.img.plane[1] = const_cast<uint8_t*>(chroma);
  in.img.i_stride[0] = g_enc.encW;
  in.img.i_stride[1] = g_enc.encW;
  in.i_pts = g_enc.pts++;
  x264_picture_t out;
  x264_nal_t* nals = nullptr;
  int count = 0;
  const int bytes = x264_encoder_encode(g_enc.x264, &nals, &count, &in, &out);
  if (bytes < 0) return -1;
  if (bytes == 0) return 0;
  // The payloads of one call lie back to back in x264's buffer.
  if (AviWriter_WriteVideo(g_enc.file, nals[0].p_payload, bytes, nullptr, 0, out.b_keyframe) != 0) return -1;
  ++g_enc.frames;
  return 0;
}

void T7H264EncFactory_setFrameRate(double frameRate) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (frameRate >= 1.0) g_enc.rate = frameRate;
}

int32_t T7H264EncFactory_framesEncoded() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_enc.frames;
}
