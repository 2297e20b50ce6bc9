#include "globalimage_api.h"
#include "surround/color_correct.h"

AVM_EXPORT int KRV_GlobalImage_CalcColorCorrectValue(int32_t mode, const char* imagePath, const char* mixAreaPath,
                                                      float* out) {
  if (out == nullptr) return -1;
  return ColorCorrect_Vell(mode, imagePath, mixAreaPath, out);
}
