#pragma once
// Preparation of a LUT object built from one quad frame (the _New export):
// set up the object, cut the frame into the four camera images, compute the
// target world points and search every camera's corners on a thread of its
// own, camera 1 first, then cameras 2 to 4 together. The LUT build itself
// follows in the export.
#include <atomic>
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// The finder a worker runs: corners of the camera in the object's camera
// image, written as its image points; returns their number.
using CornerFinder = uint32_t (*)(LUTOB* lut, uint32_t camera);

// One camera's corner search, handed to its worker thread. The worker
// writes count and result, then raises done (release); the preparing thread
// reads them only after it has seen done (acquire).
struct CornerSearchJob {
  CornerFinder finder = nullptr;
  LUTOB* lutob = nullptr;
  int32_t camera = 0;     // 1..4
  int32_t count = 0;      // corners found; 0 until the worker has run
  int32_t errorCode = 0;  // 16 + camera: this camera has no corners
  int32_t result = 0;     // 0, or errorCode when nothing was found
  bool searchable = true; // false: its target does not fit the point arrays
  bool startFailed = false; // its thread could not be started
  std::atomic<int32_t> done{0};
};

// Thread start routine of one job: count = finder(object, camera) (0 without
// a search for a target that does not fit), result = errorCode when 0, then
// done. Returns null.
void* CalibCornerWorker(void* job);

// a1..a5 and model go to LutConfig_Init (vehicle box, front overhang, wheel
// base, camera model); quad is the quad frame as floats (luma / 255), which
// the one-shot corner-minimum request filters in place. Returns 0 when the
// object is ready for the LUT build; the block calibration's code when that
// ran (layout 29) and failed, before anything of the object is set up; or
// 17..20 for the first camera (in order 1..4) whose search found nothing,
// only when all four cameras are enabled (configuration camera mask 0xF),
// or under any mask when a camera's search thread could not be started,
// with the object's buffers then released.
int32_t InitLUTOB_New_DetectCorners(LUTOB* lut, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                    int32_t model, Matrix* quad);
// The same with another finder (tests).
int32_t InitLUTOB_New_DetectCornersWith(LUTOB* lut, int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                        int32_t model, Matrix* quad, CornerFinder finder);
