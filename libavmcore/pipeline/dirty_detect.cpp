#include "pipeline/dirty_detect.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "camera/camera_model.h"
#include "camera/lut_config.h"
#include "frame/clock.h"
#include "frame/log.h"
#include "toolkit/blobs.h"
#include "toolkit/border_filters.h"
#include "toolkit/contours.h"
#include "toolkit/frame_statistics.h"
#include "toolkit/image_ops.h"
#include "toolkit/matrix.h"
#include "toolkit/morphology.h"
#include "toolkit/thresholds.h"

namespace {

int32_t Pending(int32_t write, int32_t read) { return ((write - read) % 4 + 4) % 4; }

uint32_t Now(const DirtyDetectState* s) { return s->tickMs ? s->tickMs() : GetTickMs(); }

size_t Pixels(const DirtyDetectState* s) { return static_cast<size_t>(s->width) * static_cast<size_t>(s->height); }

// Time and ring tests shared by every feed; the camera to write, or -1.
int32_t FeedSlot(DirtyDetectState* s) {
  if (!s->inited) return -1;
  if (!DirtyDetect_TimerDue(s, Now(s))) return -1;
  const int32_t write = s->writeIndex.load(std::memory_order_relaxed);
  if (Pending(write, s->readIndex.load(std::memory_order_acquire)) > 2) return -1;
  return write;
}

void Publish(DirtyDetectState* s, int32_t write) {
  s->writeIndex.store((write + 1) % 4, std::memory_order_release);
}

// The camera quarters of a frame too small for the work images would be
// read past its end.
bool FrameFits(const DirtyDetectState* s, const uint8_t* frame, int32_t fw, int32_t fh, int32_t factor) {
  if (!frame || fw < 1 || fh < 1) return false;
  return static_cast<int64_t>(fw) >= static_cast<int64_t>(factor) * s->width &&
         static_cast<int64_t>(fh) >= static_cast<int64_t>(factor) * s->height;
}

int32_t FeedPacked(DirtyDetectState* s, const uint8_t* frame, int32_t fw, int32_t fh, bool lumaFirst) {
  if (!s || !s->inited || !FrameFits(s, frame, fw, fh, 4)) return 0;
  const int32_t c = FeedSlot(s);
  if (c < 0) return 0;
  const int32_t stride = 2 * fw;
  const int32_t ox = (c % 2) * (fw / 2), oy = (c / 2) * (fh / 2);
  PackedFrame quarter{fw / 2, fh / 2, const_cast<uint8_t*>(frame) + static_cast<size_t>(oy) * stride + 2 * ox,
                      stride};
  if (lumaFirst)
    SubsampleChromaU16B(&quarter, &s->cameras[c].current);
  else
    SubsampleChromaU16A(&quarter, &s->cameras[c].current);
  Publish(s, c);
  return 1;
}

// Sum of current over the centre zone, as the 16-bit truncated mean.
uint16_t CentralMean(const DirtyDetectState* s, const uint16_t* cur) {
  const size_t n = Pixels(s);
  uint64_t sum = 0, count = 0;
  for (size_t i = 0; i < n; ++i)
    if (s->regionMask.data[i] == 0) {
      sum += cur[i];
      ++count;
    }
  return count ? static_cast<uint16_t>(sum / count) : 0;
}

// Blob acceptance; on acceptance the ground point (0, 0 in the upper half),
// centroid, area and diameter come back for the log line.
bool AcceptBlob(const DirtyDetectState* s, int32_t camera, const Blob* blob, float out[6]) {
  float row = 0, col = 0;
  Blob_Centroid(blob, &row, &col);
  const float area = Blob_ContourArea(blob, row, col);
  const int32_t minSide = s->width / 50;
  if (area < static_cast<float>(minSide * minSide)) return false;
  const int32_t r = static_cast<int32_t>(row), c = static_cast<int32_t>(col);
  if (r < 0 || c < 0 || r >= s->height || c >= s->width) return false;
  if (s->regionMask.data[static_cast<size_t>(r) * s->width + c] == 2) return false;
  const float diameter = Blob_ContourDiameter(blob);
  if (!(area / diameter >= static_cast<float>(minSide))) return false;
  float gx = 0, gy = 0;
  if (row > static_cast<float>(s->height / 2)) {
    if (!DirtyDetect_ImageToGround(s, camera, col, row, &gx, &gy)) return false;
    if (!DirtyDetect_OutsideVehicle(s, camera, gx, gy)) return false;
  }
  out[0] = gx;
  out[1] = gy;
  out[2] = col;
  out[3] = row;
  out[4] = area;
  out[5] = area / diameter;
  return true;
}

void ClearAccumulators(DirtyDetectCamera* cam, size_t n) {
  std::fill(cam->brightnessAcc.data, cam->brightnessAcc.data + n, 0);
  std::fill(cam->differenceAcc.data, cam->differenceAcc.data + n, 0);
}

}  // namespace

DirtyDetectState* DirtyDetect_Create() { return new DirtyDetectState(); }

void DirtyDetect_Destroy(DirtyDetectState* state) {
  if (!state) return;
  DirtyDetect_Release(state);
  delete state;
}

uint32_t DirtyDetect_IsInited(const DirtyDetectState* state) { return state && state->inited ? 1 : 0; }

uint32_t DirtyDetect_Init(DirtyDetectState* state, const char* cameraFilePath, int32_t width, int32_t height) {
  if (!state) return 0;
  if (state->inited) return 1;
  if (!cameraFilePath) return 0;
  LutConfigInfo info{};
  if (!LoadLUTConfig(&info, &state->params, cameraFilePath, nullptr)) return 0;
  state->quadWidth = static_cast<int32_t>(info.quadWidth);
  state->quadHeight = static_cast<int32_t>(info.quadHeight);
  state->vehicleExtentX = static_cast<int32_t>(info.carWidth);
  state->vehicleExtentY = static_cast<int32_t>(info.carLength);
  for (int c = 0; c < 4; ++c) {
    state->lensSlot[c] = info.lensSlot[c];
    state->modelNumber[c] = info.model;
  }
  CameraParamSet_SetHeaders(&state->params, &state->headers);
  state->cameraParamsValid = 1;
  if (width < 1 || height < 1) {
    width = state->quadWidth / 4;
    height = state->quadHeight / 4;
  }
  if (width < 1 || height < 1) return 0;
  state->width = width;
  state->height = height;
  state->writeIndex.store(0);
  state->readIndex.store(0);
  state->feedIntervalMs = 250;
  state->lastFeedMs = 0;
  const size_t n = Pixels(state);
  for (int c = 0; c < 4; ++c) {
    DirtyDetectCamera& cam = state->cameras[c];
    cam.cameraIndex = c;
    cam.hitCount = 0;
    cam.dirty = 0;
    cam.frameCounter = -1;
    cam.decisionCount = 0;
    cam.buffers.assign(4 * n, 0);
    ImageU16_Init(&cam.current, width, height, cam.buffers.data());
    ImageU16_Init(&cam.previous, width, height, cam.buffers.data() + n);
    ImageU16_Init(&cam.brightnessAcc, width, height, cam.buffers.data() + 2 * n);
    ImageU16_Init(&cam.differenceAcc, width, height, cam.buffers.data() + 3 * n);
  }
  state->mapBuffers.assign(3 * n, 0.0f);
  Matrix_Init(&state->motionMap, width, height, state->mapBuffers.data());
  Matrix_Init(&state->localMeanMap, width, height, state->mapBuffers.data() + n);
  Matrix_Init(&state->brightnessMap, width, height, state->mapBuffers.data() + 2 * n);
  state->maskBuffer.assign(n, 0);
  ImageU8_Init(&state->regionMask, width, height, state->maskBuffer.data());
  const float hw = static_cast<float>(width / 2), hh = static_cast<float>(height / 2);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const float dx = (static_cast<float>(x) - hw) / hw, dy = (static_cast<float>(y) - hh) / hh;
      const float r = std::sqrt(dx * dx + dy * dy);
      state->maskBuffer[static_cast<size_t>(y) * width + x] = r > 0.81f ? 2 : (r > 0.6f ? 1 : 0);
    }
  state->inited = 1;
  return 1;
}

void DirtyDetect_Release(DirtyDetectState* state) {
  if (!state) return;
  for (DirtyDetectCamera& cam : state->cameras) {
    std::vector<uint16_t>().swap(cam.buffers);
    cam.current = cam.previous = cam.brightnessAcc = cam.differenceAcc = ImageU16{};
  }
  std::vector<float>().swap(state->mapBuffers);
  std::vector<uint8_t>().swap(state->maskBuffer);
  state->motionMap = state->localMeanMap = state->brightnessMap = Matrix{};
  state->regionMask = ImageU8{};
  state->inited = 0;
}

int32_t DirtyDetect_FeedA(DirtyDetectState* s, const uint8_t* frame, int32_t fw, int32_t fh) {
  if (!s || !s->inited || !FrameFits(s, frame, fw, fh, 4)) return 0;
  const int32_t c = FeedSlot(s);
  if (c < 0) return 0;
  const int32_t ox = (c % 2) * (fw / 2), oy = (c / 2) * (fh / 2);
  SubsampleLumaU16(frame + static_cast<size_t>(oy) * fw + ox, fw, &s->cameras[c].current);
  Publish(s, c);
  return 1;
}

int32_t DirtyDetect_FeedB(DirtyDetectState* s, const uint8_t* frame, int32_t fw, int32_t fh) {
  return FeedPacked(s, frame, fw, fh, false);
}

int32_t DirtyDetect_FeedC(DirtyDetectState* s, const uint8_t* frame, int32_t fw, int32_t fh) {
  return FeedPacked(s, frame, fw, fh, true);
}

int32_t DirtyDetect_FeedBGR(DirtyDetectState* s, const uint8_t* frame, int32_t fw, int32_t fh) {
  if (!s || !s->inited || !FrameFits(s, frame, fw, fh, 2)) return 0;
  const int32_t c = FeedSlot(s);
  if (c < 0) return 0;
  const int32_t ox = (c % 2) * (fw / 2), oy = (c / 2) * (fh / 2);
  uint16_t* dst = s->cameras[c].current.data;
  for (int32_t y = 0; y < s->height; ++y) {
    const uint8_t* p = frame + 3 * (static_cast<size_t>(oy + y) * fw + ox);
    for (int32_t x = 0; x < s->width; ++x, p += 3)
      dst[static_cast<size_t>(y) * s->width + x] =
          static_cast<uint16_t>(0.114f * p[0] + 0.5868f * p[1] + 0.2992f * p[2]);
  }
  Publish(s, c);
  return 1;
}

void DirtyDetect_SetParam(DirtyDetectState* state, float speed) {
  if (state) state->speed = speed;
}

uint32_t DirtyDetect_GetResult(const DirtyDetectState* s) {
  if (!s) return 0;
  return s->cameras[0].dirty | s->cameras[1].dirty << 1 | s->cameras[2].dirty << 2 | s->cameras[3].dirty << 3;
}

uint32_t DirtyDetectStep(DirtyDetectState* s) {
  if (!s || !s->inited) return 0;
  const int32_t read = s->readIndex.load(std::memory_order_relaxed);
  if (Pending(s->writeIndex.load(std::memory_order_acquire), read) < 1) return DirtyDetect_GetResult(s);
  DirtyDetectOne(s, &s->cameras[read]);
  s->readIndex.store((read + 1) % 4, std::memory_order_release);
  return DirtyDetect_GetResult(s);
}

uint32_t DirtyDetectOne(DirtyDetectState* s, DirtyDetectCamera* cam) {
  if (s->period != 10 && s->speed < 10.0f)
    s->period = 10;
  else if (s->period == 10 && s->speed > 13.0f)
    s->period = 5;
  const size_t n = Pixels(s);
  if (cam->frameCounter == -1) {
    ImageU16_Copy(&cam->current, &cam->previous);
    ClearAccumulators(cam, n);
    cam->frameCounter = 0;
    return 0;
  }
  const uint16_t* cur = cam->current.data;
  const uint16_t* prev = cam->previous.data;
  for (size_t i = 0; i < n; ++i) {
    const uint16_t d = static_cast<uint16_t>(std::abs(static_cast<int16_t>(cur[i] - prev[i])));
    cam->differenceAcc.data[i] = std::max(cam->differenceAcc.data[i], d);
  }
  const uint16_t mean = CentralMean(s, cur);
  for (size_t i = 0; i < n; ++i)
    cam->brightnessAcc.data[i] = std::max(cam->brightnessAcc.data[i], std::min(cur[i], mean));
  if (cam->frameCounter < 1 || cam->frameCounter % s->period != 0) {
    ImageU16_Copy(&cam->current, &cam->previous);
    cam->frameCounter += 1;
    return 0;
  }

  cam->decisionCount += 1;
  float* bright = s->brightnessMap.data;
  float* motion = s->motionMap.data;
  for (size_t i = 0; i < n; ++i) {
    bright[i] = cam->brightnessAcc.data[i] / 255.0f;
    motion[i] = cam->differenceAcc.data[i] / 255.0f;
  }
  Image_MaxFilter(&s->motionMap, &s->motionMap, 2, 2);
  Image_BoxMean(&s->brightnessMap, &s->localMeanMap, 30, 30);
  const float* local = s->localMeanMap.data;
  for (size_t i = 0; i < n; ++i)
    if (motion[i] > 0.07f) {
      const float t = std::min((motion[i] - 0.07f) / 0.22f, 1.0f);
      bright[i] += t * (local[i] - bright[i]);
    }
  Image_AdaptiveThreshold(&s->brightnessMap, s->width / 20, 0.05f);
  Image_Dilate(&s->brightnessMap, 2, 2);
  Image_Erode(&s->brightnessMap, 2, 2);

  BlobList* blobs = BlobList_FindComponents(&s->brightnessMap);
  bool accepted = false;
  float found[6] = {0, 0, 0, 0, 0, 0};
  if (blobs) {
    while (Blob* blob = BlobList_Next(blobs))
      if (AcceptBlob(s, cam->cameraIndex, blob, found)) {
        accepted = true;
        break;
      }
  }
  if (accepted) {
    AvmLog("DirtyDetectOne %f %f %f %f %f %f \n", found[0], found[1], found[2], found[3], found[4], found[5]);
    cam->hitCount += 1;
    cam->dirty = cam->hitCount > 4 ? 1 : 0;
  } else {
    cam->hitCount = 0;
    cam->dirty = 0;
  }
  AvmLog("DirtyDetectResult %d %d %d \n", cam->cameraIndex, cam->hitCount, cam->dirty);
  if (blobs) BlobList_Free(blobs);
  ClearAccumulators(cam, n);
  ImageU16_Copy(&cam->current, &cam->previous);
  cam->frameCounter += 1;
  return 0;
}

void DirtyDetect_NextWrite(DirtyDetectState* s) {
  s->writeIndex.store((s->writeIndex.load(std::memory_order_relaxed) + 1) % 4, std::memory_order_release);
}

void DirtyDetect_NextRead(DirtyDetectState* s) {
  s->readIndex.store((s->readIndex.load(std::memory_order_relaxed) + 1) % 4, std::memory_order_release);
}

uint32_t DirtyDetect_HasFrame(const DirtyDetectState* s) {
  return Pending(s->writeIndex.load(std::memory_order_acquire), s->readIndex.load(std::memory_order_acquire)) > 0;
}

uint32_t DirtyDetect_CanWrite(const DirtyDetectState* s) {
  return Pending(s->writeIndex.load(std::memory_order_acquire), s->readIndex.load(std::memory_order_acquire)) < 3;
}

uint32_t DirtyDetect_TimerDue(DirtyDetectState* s, uint32_t now) {
  if (now >= s->lastFeedMs && now - s->lastFeedMs <= s->feedIntervalMs) return 0;
  s->lastFeedMs = now;
  return 1;
}

uint32_t DirtyDetect_ImageToGround(const DirtyDetectState* s, int32_t camera, float col, float row, float* x,
                                   float* y) {
  if (!s || !s->cameraParamsValid || camera < 0 || camera > 3 || s->width < 1 || s->height < 1) return 0;
  const float scaleX = static_cast<float>(s->quadWidth) / 2.0f / static_cast<float>(s->width);
  const float scaleY = static_cast<float>(s->quadHeight) / 2.0f / static_cast<float>(s->height);
  float pointData[2] = {col * scaleX, row * scaleY};
  float outData[3] = {-1.0f, -1.0f, -1.0f};
  Matrix point{2, 1, pointData};
  Matrix out{3, 1, outData};
  CameraModel_ImageToRay(static_cast<int32_t>(s->modelNumber[camera]), &point, &out, &s->headers.K[camera],
                         &s->headers.D[camera], &s->headers.R[camera], &s->headers.T[camera],
                         static_cast<int32_t>(s->lensSlot[camera]), 0.0f);
  if (outData[2] < 0.0f) return 0;
  *x = outData[0];
  *y = outData[1];
  return 1;
}

uint32_t DirtyDetect_OutsideVehicle(const DirtyDetectState* s, int32_t camera, float x, float y) {
  switch (camera) {
    case 0: return y <= -s->vehicleExtentY * 0.5f - 200.0f;
    case 1: return y >= s->vehicleExtentY * 0.5f + 200.0f;
    case 2: return x <= -s->vehicleExtentX * 0.5f - 200.0f;
    case 3: return x >= s->vehicleExtentX * 0.5f + 200.0f;
    default: return 1;
  }
}
