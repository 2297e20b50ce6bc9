#pragma once
// Lens-dirt detector: per camera of the 2 x 2 quad frame, a region that keeps
// the same dark look while the scene moves is reported as dirt on the lens.
//
// The decoder's analysis thread feeds one camera quarter at a time (at most
// one every feedIntervalMs, cameras in turn); the DirtyDetect worker steps,
// evaluating one pending camera per step. Each camera collects its period of
// images (10, or 5 at speed) and then decides; five positive decisions in a
// row set the camera's bit of the result mask, one negative clears it.
#include <atomic>
#include <cstdint>
#include <vector>

#include "camera/lut_config_file.h"
#include "frame/matrix_types.h"
#include "pipeline/adas_function_services.h"

struct DirtyDetectCamera {
  int32_t cameraIndex = 0;
  int32_t hitCount = 0;
  uint32_t dirty = 0;
  int32_t frameCounter = -1;  // -1 until the first image primes the camera
  int32_t decisionCount = 0;
  ImageU16 current{};        // newest image (written by the feed)
  ImageU16 previous{};       // image of the previous evaluation
  ImageU16 brightnessAcc{};  // max over the period of min(pixel, central mean)
  ImageU16 differenceAcc{};  // max over the period of |current - previous|
  std::vector<uint16_t> buffers;  // the four images, one block
};

struct DirtyDetectState {
  uint32_t inited = 0;
  int32_t quadWidth = 0, quadHeight = 0;
  int32_t vehicleExtentX = 0, vehicleExtentY = 0;
  int32_t width = 0, height = 0;  // work images: a quarter of the quad frame each way
  // Ring of pending cameras: the feed alone advances writeIndex, the step
  // alone readIndex; release/acquire hands the image over with the index.
  std::atomic<int32_t> writeIndex{0};
  std::atomic<int32_t> readIndex{0};
  DirtyDetectCamera cameras[4];
  Matrix motionMap{};
  Matrix localMeanMap{};
  Matrix brightnessMap{};
  ImageU8 regionMask{};  // 0 centre, 1 ring, 2 outer zone
  std::vector<float> mapBuffers;
  std::vector<uint8_t> maskBuffer;
  uint32_t cameraParamsValid = 0;
  uint32_t lensSlot[4] = {0, 0, 0, 0};
  uint32_t modelNumber[4] = {0, 0, 0, 0};
  CameraParamSet params{};
  CameraParamHeaders headers{};
  uint32_t feedIntervalMs = 250;
  uint32_t lastFeedMs = 0;
  float speed = 0.0f;
  int32_t period = 10;
  // Clock of the feed's time test; tests put a clock of their own here.
  uint32_t (*tickMs)() = nullptr;
};

// A state as the manager's construction leaves it (not initialised).
DirtyDetectState* DirtyDetect_Create();
void DirtyDetect_Destroy(DirtyDetectState* state);
uint32_t DirtyDetect_IsInited(const DirtyDetectState* state);

// Reads the camera file and allocates the work images (width and height 0:
// a quarter of the quad frame each way). 1 on success or when already
// initialised; 0 for a null path or an unreadable file.
uint32_t DirtyDetect_Init(DirtyDetectState* state, const char* cameraFilePath, int32_t width, int32_t height);
// Frees everything and marks the state not initialised. Safe on any state.
void DirtyDetect_Release(DirtyDetectState* state);

// Feeds of one quad frame of frameWidth x frameHeight pixels: 8-bit luma (A),
// packed 2-byte pixels with luma in the second (B) or first (C) byte. The
// camera quarter is taken from the frame's own size; a frame too small for
// the work images is skipped. Each returns 1 when it took an image, else 0.
int32_t DirtyDetect_FeedA(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth, int32_t frameHeight);
int32_t DirtyDetect_FeedB(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth, int32_t frameHeight);
int32_t DirtyDetect_FeedC(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth, int32_t frameHeight);
// Quad frame of 3-byte pixels whose cameras are width x height each (no
// subsampling).
int32_t DirtyDetect_FeedBGR(DirtyDetectState* state, const uint8_t* frame, int32_t frameWidth,
                            int32_t frameHeight);

void DirtyDetect_SetParam(DirtyDetectState* state, float speed);
// Evaluates the pending camera, if any; returns the result mask (bit c set
// while camera c is dirty), 0 when not initialised.
uint32_t DirtyDetectStep(DirtyDetectState* state);
// One evaluation of one camera block; returns 0.
uint32_t DirtyDetectOne(DirtyDetectState* state, DirtyDetectCamera* camera);

void DirtyDetect_NextWrite(DirtyDetectState* state);
void DirtyDetect_NextRead(DirtyDetectState* state);
uint32_t DirtyDetect_HasFrame(const DirtyDetectState* state);
uint32_t DirtyDetect_CanWrite(const DirtyDetectState* state);
// 1 (and lastFeedMs = now) when more than feedIntervalMs passed since the
// last feed, or the clock went back; else 0.
uint32_t DirtyDetect_TimerDue(DirtyDetectState* state, uint32_t now);
uint32_t DirtyDetect_GetResult(const DirtyDetectState* state);
// Ground point (mm) of work-image point (col, row) of camera 0..3; 0 when the
// camera parameters are missing or the ray misses the ground.
uint32_t DirtyDetect_ImageToGround(const DirtyDetectState* state, int32_t camera, float col, float row, float* x,
                                   float* y);
// 1 when ground point (x, y) lies beyond the vehicle (with 200 mm margin) on
// the camera's side.
uint32_t DirtyDetect_OutsideVehicle(const DirtyDetectState* state, int32_t camera, float x, float y);
