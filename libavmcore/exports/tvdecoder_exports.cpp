// KRV_TVDecoder_* exports: thin forwarders to the one decoder object.
#include <atomic>
#include <mutex>

#include "exports/export_guard.h"
#include "exports/tvdecoder_instance.h"
#include "frame/log.h"
#include "tvdecoder_api.h"

namespace {

std::atomic<TVDecoderBase*> g_decoder{nullptr};
// Init and Release are serialised; the other exports read the pointer.
std::mutex g_lifecycle;

}  // namespace

TVDecoderBase* TVDecoder_Instance() { return g_decoder.load(); }

AVM_EXPORT int KRV_TVDecoder_Init(int32_t layout, int32_t width, int32_t height) try {
  AvmLog("KRV_TVDecoder_Init \n");
  // The frame size sizes every buffer of the decoder's threads.
  if (!ExportPictureOk(__func__, width, height)) return KRV_TVDECODER_FAILED;
  std::lock_guard<std::mutex> lock(g_lifecycle);
  TVDecoder_ReclaimAbandoned();
  if (g_decoder.load() != nullptr) return 0;
  TVDecoderMain* d = new TVDecoderMain;
  d->Init(layout, width, height);
  g_decoder.store(d);
  return 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_Release(void) try {
  AvmLog("KRV_TVDecoder_Release \n");
  std::lock_guard<std::mutex> lock(g_lifecycle);
  // Returns within the stop bounds even when an output callback does not
  // return; such a decoder is kept until its threads have left.
  TVDecoder_Release(g_decoder.exchange(nullptr));
  return 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_InputVideoData(uint64_t value0, uint64_t value1) try {
  TVDecoderBase* d = g_decoder.load();
  const uint64_t v[6] = {value0, value1, 0, 0, 0, 0};
  return d != nullptr ? d->Input(v) : 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_InputVideoDataEx(uint64_t value0, uint64_t value1, uint64_t value2) try {
  TVDecoderBase* d = g_decoder.load();
  const uint64_t v[6] = {value0, value1, value2, 0, 0, 0};
  return d != nullptr ? d->Input(v) : 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_InputSixVideoData(uint64_t value0, uint64_t value1, uint64_t value3, uint64_t value4) try {
  TVDecoderBase* d = g_decoder.load();
  const uint64_t v[6] = {value0, value1, 0, value3, value4, 0};
  return d != nullptr ? d->Input(v) : 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_InputSixVideoDataEx(uint64_t value0, uint64_t value1, uint64_t value2, uint64_t value3,
                                                 uint64_t value4, uint64_t value5) try {
  TVDecoderBase* d = g_decoder.load();
  const uint64_t v[6] = {value0, value1, value2, value3, value4, value5};
  return d != nullptr ? d->Input(v) : 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_RequestVideo(KRV_TVDecoder_VideoCallback callback, uint64_t user) try {
  if (TVDecoderBase* d = g_decoder.load()) d->RequestVideo(callback, user);
  return 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_RequestSixVideo(KRV_TVDecoder_SixVideoCallback callback, uint64_t user) try {
  if (TVDecoderBase* d = g_decoder.load()) d->RequestSixVideo(callback, user);
  return 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT void KRV_TVDecoder_OnVideoDataOver(void) try {
  if (TVDecoderBase* d = g_decoder.load()) d->OnVideoDataOver();
}
AVM_EXPORT_CATCH_VOID

AVM_EXPORT int KRV_TVDecoder_RequestADASEvent(KRV_TVDecoder_ADASEventCallback callback, void* user) try {
  if (g_decoder.load() != nullptr) ADAS_SetEventCallback(callback, user);
  return 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT void KRV_TVDecoder_GetColorCorrectValue(float* values) try {
  TVDecoderBase* d = g_decoder.load();
  if (d != nullptr && values != nullptr) d->GetColorCorrectValue(values);
}
AVM_EXPORT_CATCH_VOID

AVM_EXPORT void KRV_TVDecoder_GetSixExColorCorrectValue(float* values) try {
  TVDecoderBase* d = g_decoder.load();
  if (d != nullptr && values != nullptr) d->GetSixExColorCorrectValue(values);
}
AVM_EXPORT_CATCH_VOID

AVM_EXPORT int KRV_TVDecoder_StartRecordEx(const char* path, int32_t value) try {
  TVDecoderBase* d = g_decoder.load();
  return d != nullptr ? d->StartRecordEx(path, value) : 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_REFUSED)

AVM_EXPORT void KRV_TVDecoder_StopRecordEx(int32_t value) try {
  if (TVDecoderBase* d = g_decoder.load()) d->StopRecordEx(value);
}
AVM_EXPORT_CATCH_VOID

AVM_EXPORT int KRV_TVDecoder_SetEXParam(int32_t id, int32_t value) try {
  if (TVDecoderBase* d = g_decoder.load()) d->SetEXParam(id, value);
  return 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_FAILED)

AVM_EXPORT int KRV_TVDecoder_GetEXResult(int32_t id) try {
  TVDecoderBase* d = g_decoder.load();
  return d != nullptr ? d->GetEXResult(id) : 0;
}
AVM_EXPORT_CATCH(0)

AVM_EXPORT int KRV_TVDecoder_Better(int32_t mode, int32_t timeoutSeconds, const char* lutConfigPath,
                                    const char* lutPath1, const char* lutPath2, KRV_TVDecoder_CalibCallback callback,
                                    uint64_t user) try {
  TVDecoderBase* d = g_decoder.load();
  return d != nullptr ? d->Better(mode, timeoutSeconds, lutConfigPath, lutPath1, lutPath2, callback, user) : 0;
}
AVM_EXPORT_CATCH(KRV_TVDECODER_REFUSED)
