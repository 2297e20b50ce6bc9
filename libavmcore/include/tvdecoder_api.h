#pragma once
/* Exported KRV_TVDecoder_* interface of libavmcore: the live video pipeline.
 * One decoder object per process: Init creates it, Release destroys it; every
 * other call except the data-directory form of KRV_TVDecoder_CaptureFileEx is
 * a no-op returning 0 (or nothing) while it does not exist. Init and Release
 * must be called from one thread and not race with the other calls. */
#include <stdint.h>

#include "avm_export.h"

/* Frame output, four cameras: (layout, frame reference, CPU address of the
 * frame, width, height, user value). Non-zero sets the frame-done flag. */
typedef int (*KRV_TVDecoder_VideoCallback)(int32_t layout, int32_t frameRef, uint64_t frameAddress, int32_t width,
                                           int32_t height, uint64_t user);
/* Frame output, six cameras: the first and the second frame. */
typedef int (*KRV_TVDecoder_SixVideoCallback)(int32_t layout, int32_t frameRef, uint64_t frameAddress,
                                              int32_t secondRef, uint64_t secondAddress, int32_t width,
                                              int32_t height, uint64_t user);
/* End of an automatic calibration job: (1, outcome, user); outcome 0 when the
 * new tables were written, 1 when the job timed out. */
typedef void (*KRV_TVDecoder_CalibCallback)(int32_t kind, int32_t outcome, uint64_t user);
/* Driver-assistance event: (event number, value, four further values, user
 * pointer). */
typedef void (*KRV_TVDecoder_ADASEventCallback)(int32_t event, int32_t value, int32_t a, int32_t b, int32_t c,
                                                int32_t d, void* user);
/* Event numbers passed as the callback's first argument (4 is unused). */
typedef enum {
  KRV_ADAS_EVENT_LDWS = 1,
  KRV_ADAS_EVENT_BSDS_LEFT = 2,
  KRV_ADAS_EVENT_BSDS_RIGHT = 3,
  KRV_ADAS_EVENT_MODS_BLOCK1 = 5,
  KRV_ADAS_EVENT_MODS_BLOCK2 = 6,
  KRV_ADAS_EVENT_MODS_BLOCK4 = 7,
  KRV_ADAS_EVENT_MODS_BLOCK8 = 8,
  KRV_ADAS_EVENT_DIRTY_DETECT = 9,
  KRV_ADAS_EVENT_RCTA_LEFT = 10,
  KRV_ADAS_EVENT_RCTA_RIGHT = 11,
  KRV_ADAS_EVENT_LVSA = 12
} KRV_TVDecoder_ADASEvent;

/* Result of KRV_TVDecoder_StartRecordEx when the encoder cannot be started. */
#define KRV_TVDECODER_RECORD_ENCODER_FAILED (-2)

/* The other failure results of the int exports (success is 0). */
enum {
  /* Init refused (nothing created), a frame not taken within 100 ms, out of
   * memory. */
  KRV_TVDECODER_FAILED = 1,
  /* StartRecordEx before the decoder's own start; Better refused. */
  KRV_TVDECODER_REFUSED = -1
};

/* Creates the decoder (frame size width x height; the decoder runs layout 1,
 * NV12) or does nothing when it exists. 0; 1 (nothing created) for a side
 * outside 1..8192. */
AVM_EXPORT int KRV_TVDecoder_Init(int32_t layout, int32_t width, int32_t height);
/* Stops the decoder's threads and destroys it. 0. */
AVM_EXPORT int KRV_TVDecoder_Release(void);

/* Hands one frame in and blocks until it was taken (0) or for at most 100 ms
 * (1). value0: encoder (device) address, value1: CPU address, value2: frame
 * reference; values 3 to 5 the same for the second frame of six cameras. A
 * null CPU address hands in no frame.
 *
 * Frame lifetime. The decoder goes on using a frame after the call that
 * handed it has returned: it holds two frames in turn, whose analysis
 * thread reads them and whose recording thread draws the overlay into them
 * and encodes them, and it marks the corners of every frame. It is done with
 * a frame (and its second frame) once two later input calls have returned
 * 0; only then may the application refill or free it. A call that returns 1
 * (time-out, or the frame dropped while the decoder was still busy with
 * earlier ones) does not count, and its own frame may still be in use. So
 * three buffers used in turn suffice while every call returns 0; after a
 * call returned 1 the application hands its next frame in a buffer that is
 * free by this rule, or a call without frame (null CPU address), which also
 * counts once it returns 0. The output callback runs during the call that
 * handed the frame. */
AVM_EXPORT int KRV_TVDecoder_InputVideoData(uint64_t value0, uint64_t value1);
AVM_EXPORT int KRV_TVDecoder_InputVideoDataEx(uint64_t value0, uint64_t value1, uint64_t value2);
AVM_EXPORT int KRV_TVDecoder_InputSixVideoData(uint64_t value0, uint64_t value1, uint64_t value3, uint64_t value4);
AVM_EXPORT int KRV_TVDecoder_InputSixVideoDataEx(uint64_t value0, uint64_t value1, uint64_t value2, uint64_t value3,
                                                 uint64_t value4, uint64_t value5);

AVM_EXPORT int KRV_TVDecoder_RequestVideo(KRV_TVDecoder_VideoCallback callback, uint64_t user);
AVM_EXPORT int KRV_TVDecoder_RequestSixVideo(KRV_TVDecoder_SixVideoCallback callback, uint64_t user);
AVM_EXPORT void KRV_TVDecoder_OnVideoDataOver(void);
/* Registers the driver-assistance event callback (only while the decoder exists). */
AVM_EXPORT int KRV_TVDecoder_RequestADASEvent(KRV_TVDecoder_ADASEventCallback callback, void* user);

/* The colour-correction record: 132 floats (528 bytes), 22 entries of two
 * RGB gain triples. */
AVM_EXPORT void KRV_TVDecoder_GetColorCorrectValue(float* values);
/* The six-camera balance: 12 floats, four RGB gain triples. */
AVM_EXPORT void KRV_TVDecoder_GetSixExColorCorrectValue(float* values);

/* Type 152 sets the data directory (works before any other call); the other
 * types are capture requests to the running decoder: the next frame is saved
 * as a BMP at path (at most 255 characters); wait non-zero blocks until it
 * was saved (at most 30 s). */
AVM_EXPORT void KRV_TVDecoder_CaptureFileEx(const char* path, int index, int type, int wait);

/* 0 started; -1 before Init; KRV_TVDECODER_RECORD_ENCODER_FAILED when the
 * encoder cannot be started. */
AVM_EXPORT int KRV_TVDecoder_StartRecordEx(const char* path, int32_t value);
AVM_EXPORT void KRV_TVDecoder_StopRecordEx(int32_t value);

/* Numbered parameters (always 0) and results (0 for unknown ids). */
AVM_EXPORT int KRV_TVDecoder_SetEXParam(int32_t id, int32_t value);
AVM_EXPORT int KRV_TVDecoder_GetEXResult(int32_t id);

/* Starts the automatic line calibration: 0 started or already running, -1
 * refused (mode other than 1, a null path or callback, or the job failed to
 * start). */
AVM_EXPORT int KRV_TVDecoder_Better(int32_t mode, int32_t timeoutSeconds, const char* lutConfigPath,
                                    const char* lutPath1, const char* lutPath2, KRV_TVDecoder_CalibCallback callback,
                                    uint64_t user);
