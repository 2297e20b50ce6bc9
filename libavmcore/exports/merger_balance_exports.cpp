// Exports of the merger brightness balance.
#include <memory>
#include <new>

#include "exports/export_guard.h"
#include "globalimage_api.h"
#include "surround/merger_balance.h"

AVM_EXPORT MergerBalanceOB* KRV_GlobalImage_InitMergerBalance(int32_t width, int32_t height, int32_t x0, int32_t y0,
                                                              int32_t w, int32_t h, uint32_t* cols,
                                                              uint32_t* rows) try {
  if (!ExportPictureOk(__func__, width, height)) return nullptr;
  std::unique_ptr<MergerBalanceOB> ob(new (std::nothrow) MergerBalanceOB(MergerBalance_Empty()));
  if (ob == nullptr) return nullptr;
  if (KRV_InitMergerBalance(ob.get(), width, height, x0, y0, w, h) != 0) return nullptr;
  if (cols != nullptr) *cols = static_cast<uint32_t>(ob->cols);
  if (rows != nullptr) *rows = static_cast<uint32_t>(ob->rows);
  return ob.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT int KRV_GlobalImage_CalcMergerBalance(MergerBalanceOB* handle, int32_t format, const uint8_t* frame,
                                                 uint8_t* out) try {
  return KRV_CalcMergerBalance(handle, format, frame, out);
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_ReleaseMergerBalance(MergerBalanceOB* handle) try {
  if (handle == nullptr) return 0;
  KRV_ReleaseMergerBalance(handle);
  delete handle;
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
