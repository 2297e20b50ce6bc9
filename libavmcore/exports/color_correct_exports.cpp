#include "exports/export_guard.h"
#include "globalimage_api.h"
#include "surround/color_correct.h"

AVM_EXPORT int KRV_GlobalImage_CalcColorCorrectValue(int32_t mode, const char* imagePath, const char* mixAreaPath,
                                                      float* out) try {
  if (out == nullptr) return kColorCorrectFailed;
  return ColorCorrect_Vell(mode, imagePath, mixAreaPath, out);
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
