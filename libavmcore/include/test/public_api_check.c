/* A display application written in C: the public headers compile as C99 and
 * the entry points link against libavmcore.so. */
#include <stdio.h>

#include "globalimage_api.h"
#include "tvdecoder_api.h"

int main(void) {
  Config cfg;
  ExtraConfig extra;
  AdvCameraConfig adv;
  LUTOB* lut = 0;
  UndistOB* view = 0;
  MergerCPUOB* merger = 0;
  D3DGrid* grid = 0;
  LUT3DOB* lut3d = 0;
  if (sizeof cfg != 84 || sizeof extra != 40 || sizeof adv != 36) {
    printf("record sizes %u %u %u\n", (unsigned)sizeof cfg, (unsigned)sizeof extra, (unsigned)sizeof adv);
    return 1;
  }
  /* Null handles are refused without a crash. */
  if (KRV_GlobalImage_UnInitLUTOB(lut) == 0 && lut != 0) return 1;
  (void)KRV_GlobalImage_UnInitUndistOB(view);
  (void)KRV_GlobalImage_UnInitMergerCPUOB(merger);
  if (KRV_GlobalImage_UnInit3DTrianOB(grid) != 0 || KRV_GlobalImage_UnInit3DLutOB(lut3d) != 0) return 1;
  if (KRV_GlobalImage_Init3DTrianOB("/nonexistent/lut_config.krv") != 0) return 1;
  if (KRV_GlobalImage_GetConfig(0) != -1) return 1;
  (void)&KRV_TVDecoder_CaptureFileEx;
  /* Without a decoder the pipeline calls do nothing and return 0. */
  if (KRV_TVDecoder_SetEXParam(2, 8) != 0 || KRV_TVDecoder_GetEXResult(4) != 0) return 1;
  {
    float gains[132];
    KRV_TVDecoder_GetColorCorrectValue(gains);
    if (KRV_GlobalImage_CalcColorCorrectValue(1, "/nonexistent.bmp", "/nonexistent.krv", gains) != -1) return 1;
    if (gains[0] != 1.0f || gains[131] != 1.0f) return 1;
  }
  {
    /* The car matrices: a straight first automatic call is a pure scaling. */
    float m[9];
    if (KRV_GlobalImage_CalcCarDriveMatrix(0, m, 8000.0f, 4000.0f, 2800.0f, 900.0f, 30.0f, 0.0f) != 0) return 1;
    if (m[0] != 2.0f / 4000.0f || m[5] != 0.0f || m[8] != 1.0f) return 1;
    if (KRV_GlobalImage_CalcCarSceneMatrix(0, m, 8000.0f, 0.0f, 2800.0f, 900.0f, 30.0f, 0.0f, -1000.0f, -2000.0f,
                                           1000.0f, 2000.0f) != 0)
      return 1;
    if (m[2] != 0.5f || m[5] != 0.5f) return 1;
    if (KRV_GlobalImage_CalcCarDriveMatrix(0, 0, 8000.0f, 4000.0f, 2800.0f, 900.0f, 30.0f, 0.0f) != -1) return 1;
  }
  printf("public C interface: ok\n");
  return 0;
}
