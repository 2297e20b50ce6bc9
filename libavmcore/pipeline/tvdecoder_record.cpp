// Recording: start and stop on the application's thread, the encoder
// thread's step (overlay, address hook, encoder call).
#include "frame/data_directory.h"
#include "frame/log.h"
#include "pipeline/tvdecoder.h"

int32_t TVDecoderBase::StartRecordEx(const char* path, int32_t value) {
  if (inited.load() == 0) {
    AvmLog("StartRecordEx zao \n ");
    return -1;
  }
  if (path == nullptr) return -1;
  AvmLog("StartRecordEx  %s %d \n", path, value);
  std::lock_guard<std::mutex> lock(recordMutex_);
  if (encoderReady.load() == 0) {
    if (osd.initialised == 0 && OSD_Init(&osd, DataDirectory()) == 0) {
      OSD_AllocOverlay(&osd, &dateOverlay);
      OSD_AllocOverlay(&osd, &speedOverlay);
      OSD_DrawDateTime(&osd, &dateOverlay, 0);
      OSD_DrawSpeed(&osd, &speedOverlay, osdMode.load(), vehicleSpeed.load(), distanceKm.load());
    }
    AvmLog("VideoEncThread_Init \n");
    const int32_t rate = recordFrameRate.load();
    const int rc = platform.encoderInit(width, height, encodeWidth, encodeHeight, rate, static_cast<double>(rate));
    AvmLog("VideoEncThread_Init: end \n");
    if (rc != 0) return KRV_TVDECODER_RECORD_ENCODER_FAILED;
    encoderReady = 1;
  }
  if (platform.startRecord(path) != 0) return KRV_TVDECODER_RECORD_ENCODER_FAILED;
  return 0;
}

void TVDecoderBase::StopRecordEx(int32_t value) {
  AvmLog("StopRecordEx   %d \n", value);
  std::lock_guard<std::mutex> lock(recordMutex_);
  if (encoderReady.load() != 0) platform.stopRecord();
}

void TVDecoderBase::EncodeSlot(int32_t s) {
  const uint64_t* v = slots[s].values;
  uint8_t* frame = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(v[1]));
  if (overlayEnabled != 0) {
    const int32_t mode = osdMode.load();
    if (mode != 65535) {
      OSD_DrawDateTime(&osd, &dateOverlay, (mode & 4) != 0 ? 1 : 0);
      OSD_DrawSpeed(&osd, &speedOverlay, mode, vehicleSpeed.load(), distanceKm.load());
      if (layout == kLayoutNV12) OSD_DrawOverlay(frame, width, height, &osd, &dateOverlay, &speedOverlay, mode, 16, 16);
    }
    TranslateAddress(v[2], v[0]);
  }
  const uint64_t luma = (v[0] == 0 || v[0] == ~0ull) ? v[2] : v[0];
  const uint64_t planeBytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  platform.encodeFrame(luma, luma + planeBytes, v[1], v[1] + planeBytes);
  ++framesEncoded_;
}
