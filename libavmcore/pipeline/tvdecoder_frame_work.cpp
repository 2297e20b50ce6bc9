// Per-frame work of the decoder's main thread: output, capture, day/night
// value, colour correction, and the calibration road.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "frame/global_variables.h"
#include "frame/log.h"
#include "pipeline/tvdecoder.h"
#include "surround/six_colour_stats.h"
#include "toolkit/frame_savers.h"
#include "toolkit/frame_statistics.h"
#include "toolkit/pixel_formats.h"

namespace {

bool Packed(int32_t layout) { return layout == kLayoutUYVY || layout == kLayoutYUYV; }
bool Supported(int32_t layout) { return Decoder_FormatCode(layout) != 0; }

// Descriptor of a frame of the layout (the form the image routines take).
union FrameDescriptor {
  PackedFrame packed;
  YuvSemiPlanarFrame planar;
};

FrameDescriptor Describe(int32_t layout, int32_t w, int32_t h, uint8_t* data) {
  FrameDescriptor d;
  if (Packed(layout))
    d.packed = PackedFrame{w, h, data, 2 * w};
  else
    d.planar = YuvSemiPlanarFrame{w, h, data, data + static_cast<size_t>(w) * h, w};
  return d;
}

int SaveFrame(int32_t layout, const FrameDescriptor& d, const char* path) {
  switch (layout) {
    case kLayoutUYVY: return Bmp_SaveFrameUYVY(&d.packed, path);
    case kLayoutNV12: return Bmp_SaveFrameNV12(&d.planar, path);
    case kLayoutYUYV: return Bmp_SaveFrameYUYV(&d.packed, path);
    case kLayoutNV21:
      AvmLog("SaveImageBmpFile2 %d \n", layout);
      return Bmp_SaveFrameNV21(&d.planar, path);
    default: return 0;
  }
}

uint8_t* Ptr(uint64_t v) { return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(v)); }

}  // namespace

int32_t Decoder_FormatCode(int32_t layout) {
  switch (layout) {
    case kLayoutUYVY: return kPixelFormatUYVY;
    case kLayoutNV12: return kPixelFormatNV12;
    case kLayoutYUYV: return kPixelFormatYUYV;
    case kLayoutNV21: return kPixelFormatNV21;
    default: return 0;
  }
}

bool Decoder_ShouldEncodeFrame(int32_t rate, int32_t n) {
  switch (rate) {
    case 25: return true;
    case 20: return n % 5 != 4;
    case 16: return n % 3 != 2;
    case 8: return n % 3 == 0;
    case 4: return n % 6 == 0;
    case 2: return n % 12 == 0;
    case 1: return n % 25 == 0;
    default: return n % 2 == 0;
  }
}

std::string Decoder_SecondCaptureName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + "_2.bmp";
  return path.substr(0, dot) + "_2.bmp";
}

void TVDecoderBase::DrawCornerMarks(uint8_t* f) {
  const int32_t w = width, h = height;
  if (w < 2 || h < 2) return;
  const int32_t rows[4] = {0, 1, h - 2, h - 1};
  if (layout == kLayoutNV12 || layout == kLayoutNV21) {
    for (int32_t r : rows) f[static_cast<size_t>(r) * w] = f[static_cast<size_t>(r) * w + 1] = 77;
    uint8_t* first = f + static_cast<size_t>(w) * h;
    uint8_t* last = f + static_cast<size_t>(h + h / 2 - 1) * w;
    first[0] = first[1] = last[0] = last[1] = 128;
  } else if (layout == kLayoutUYVY || layout == kLayoutYUYV) {
    const uint8_t uyvy[4] = {128, 77, 128, 77}, yuyv[4] = {77, 128, 77, 128};
    for (int32_t r : rows) memcpy(f + static_cast<size_t>(r) * 2 * w, layout == kLayoutUYVY ? uyvy : yuyv, 4);
  }
}

int32_t TVDecoderBase::DeliverFrame(int32_t s) {
  const uint64_t* v = slots[s].values;
  const int32_t ref = static_cast<int32_t>(static_cast<uint32_t>(v[2] != 0 ? v[2] : v[0]));
  const int32_t ref2 = static_cast<int32_t>(static_cast<uint32_t>(v[2] != 0 ? v[5] : v[3]));
  if (!Supported(layout)) return 1;
  if (KRV_TVDecoder_VideoCallback cb = videoCallback.load()) {
    ++framesOut_;
    return cb(layout, ref, v[1], width, height, callbackUser.load());
  }
  if (KRV_TVDecoder_SixVideoCallback cb = sixVideoCallback.load()) {
    ++framesOut_;
    return cb(layout, ref, v[1], ref2, v[4], width, height, callbackUser.load());
  }
  return 1;
}

void TVDecoderBase::SaveCapture(int32_t s) {
  std::string path;
  int32_t type;
  {
    std::lock_guard<std::mutex> lock(captureMutex_);
    if (capturePending_.load(std::memory_order_acquire) == 0) return;
    path = capturePath_;
    type = captureType_;
  }
  uint8_t* frame = Ptr(slots[s].values[1]);
  if (type >= 128) {
    ClearCapture();
    return;
  }
  if (layout == kLayoutUYVY) {
    // 8 x 8 mark in the top-left corner, coloured by the space index.
    uint8_t y = 125, u = 128, vv = 128;
    switch (gv().SpaceIndex) {
      case 1: y = 49, u = 109, vv = 184; break;
      case 2: y = 80, u = 91, vv = 81; break;
      case 3: y = 28, u = 184, vv = 119; break;
      default: break;
    }
    const uint8_t quad[4] = {u, y, vv, y};
    for (int32_t r = 0; r < 8 && r < height; ++r)
      for (int k = 0; k < 4; ++k) memcpy(frame + static_cast<size_t>(r) * 2 * width + 4 * k, quad, 4);
  }
  AvmLog("SaveImageBmpFile1 %d \n", layout);
  if (Supported(layout)) {
    const size_t bytes = Packed(layout) ? static_cast<size_t>(width) * height * 2
                                        : static_cast<size_t>(width) * height * 3 / 2;
    const uint64_t second = slots[s].values[4];
    // A stable copy: the display application may refill its buffer while the
    // picture is converted.
    std::vector<uint8_t> copy;
    copy.assign(frame, frame + bytes);
    if (second != 0) copy.insert(copy.end(), Ptr(second), Ptr(second) + bytes / 2);
    SaveFrame(layout, Describe(layout, width, height, copy.data()), path.c_str());
    if (second != 0)
      SaveFrame(layout, Describe(layout, width, height / 2, copy.data() + bytes),
                Decoder_SecondCaptureName(path).c_str());
  }
  ClearCapture();
}

void TVDecoderBase::ColorCorrectStep(int32_t s) {
  const int32_t code = Decoder_FormatCode(layout);
  FrameDescriptor d = Describe(layout, width, height, Ptr(slots[s].values[1]));
  if (slots[s].values[4] == 0) {
    ColorCorrect_UpdateFrame(&colour, code, &d, &mixAreaInfo, scoreGridReady.load(std::memory_order_acquire));
    return;
  }
  // Six cameras: the rear side cameras arrive in a second frame of half the
  // height; no brightness score.
  FrameDescriptor d2 = Describe(layout, width, height / 2, Ptr(slots[s].values[4]));
  MergerColorStatsSix(&colour, code, &d, code, &d2, &mixAreaInfo);
  brightBalance.enabled = sixExRequested.load();
  BrightBalance_Update(&brightBalance, code, &d, code, &d2, &mixAreaSixEx);
}

void TVDecoderBase::PerFrameWork(int32_t s) {
  Slot& slot = slots[s];
  const bool deliverable =
      (videoCallback.load() != nullptr || sixVideoCallback.load() != nullptr) && outputPaused.load() == 0;
  bool encode = false;
  if (encoderReady.load() != 0 && platform.isRecording() != 0)
    encode = Decoder_ShouldEncodeFrame(recordFrameRate.load(), encodeCounter);
  bool analyse = analysis.isActive != nullptr ? analysis.isActive(analysis.user) != 0 : ADAS_IsAnyActive(&adas) != 0;
  if (skipWindow.load() != 0 && frameCounter % 2 != 0) {
    if (platform.clockMs() - skipWindowStart.load() <= timing.skipWindowMs) {
      encode = false;
      analyse = false;
    } else {
      skipWindow = 0;
    }
  }
  slot.encode = encode ? 1 : 0;
  slot.analyse = analyse ? 1 : 0;
  if (deliverable) {
    frameDone = 0;
    if (DeliverFrame(s) != 0) frameDone = 1;
  }
  SaveCapture(s);
  const int32_t code = Decoder_FormatCode(layout);
  const int32_t night =
      code != 0 ? CalcFrameBrightnessWindow(code, width, height, Ptr(slot.values[1]), nullptr, 0) : 0;
  ADAS_UpdateNightMode(&adas, night);
  // Parameter changes from the application's thread take effect here, between steps.
  if (pendingRegionFromTables.exchange(0) != 0) colour.regionMode = mixAreaInfo.coverageMode;
  if (pendingHoldSpeedOff.exchange(0) != 0) colour.holdSpeed = -1.0f;
  ColorCorrect_SetHold(&colour, ADAS_IsNight(&adas), static_cast<float>(vehicleSpeed.load()));
  const int32_t mode = colorCorrectMode.load();
  if (deliverable && mode != 0 && code != 0) {
    ColorCorrectStep(s);
    lumaScore = colour.lumaScore;
    float values[kColorCorrectValueCount], six[12];
    const int32_t rgb = (mode & ~2) == 1 ? 1 : 0;
    if (rgb != 0)
      ColorCorrect_ApplyValues(&colour, values);
    else
      ColorCorrect_ComputeLuma(&colour, values);
    BrightBalance_Gains(&brightBalance, rgb, six);
    std::lock_guard<std::mutex> lock(valuesMutex_);
    memcpy(colorCorrectValues_, values, sizeof values);
    memcpy(sixExColorValues, six, sizeof six);
  }
}

void TVDecoderBase::CalibrationRoad(int32_t s) {
  // best3Mutex is held by the caller.
  if (Supported(layout)) {
    FrameDescriptor d = Describe(layout, width, height, Ptr(slots[s].values[1]));
    Best3Ctrl_InputFrame(best3Job, layout, &d);
  }
  const int32_t r = Best3Ctrl_PollAndSave(best3Job);
  if (r != 0) {
    Best3Ctrl_Release(best3Job);
    Best3Ctrl_Destroy(best3Job);
    best3Job = nullptr;
    if (best3Callback != nullptr) best3Callback(1, r - 1, best3User);
    best3Callback = nullptr;
  }
  if (videoCallback.load() == nullptr && sixVideoCallback.load() == nullptr) return;
  if (outputPaused.load() == 0) {
    frameDone = 0;
    if (DeliverFrame(s) != 0) frameDone = 1;
  }
}

void TVDecoderBase::GetColorCorrectValue(float* out) {
  std::lock_guard<std::mutex> lock(valuesMutex_);
  memcpy(out, colorCorrectValues_, sizeof colorCorrectValues_);
}

void TVDecoderBase::GetSixExColorCorrectValue(float* out) {
  sixExRequested.store(1);
  std::lock_guard<std::mutex> lock(valuesMutex_);
  memcpy(out, sixExColorValues, sizeof sixExColorValues);
}

void TVDecoderBase::RequestVideo(KRV_TVDecoder_VideoCallback cb, uint64_t user) {
  callbackUser = user;
  videoCallback = cb;
}

void TVDecoderBase::RequestSixVideo(KRV_TVDecoder_SixVideoCallback cb, uint64_t user) {
  callbackUser = user;
  sixVideoCallback = cb;
}
