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
  {
    /* The failure results' names keep the values the application compares. */
    static const struct {
      int value, expected;
    } kResults[] = {{kGlobalImageFailed, 1},   {kCarMatrixRefused, -1},     {kColorCorrectFailed, -1},
                    {kTraceLPFailed, 2},       {kAMNotFollowed, 2},         {kAMNoAngle, -1},
                    {kModCPNotReplaced, -1},   {kLutSaveByteLutFailed, -1}, {kLutSaveRoiFailed, -6},
                    {KRV_TVDECODER_FAILED, 1}, {KRV_TVDECODER_REFUSED, -1}, {KRV_TVDECODER_RECORD_ENCODER_FAILED, -2}};
    size_t i;
    for (i = 0; i < sizeof kResults / sizeof kResults[0]; ++i)
      if (kResults[i].value != kResults[i].expected) {
        printf("result %u is %d, not %d\n", (unsigned)i, kResults[i].value, kResults[i].expected);
        return 1;
      }
    /* Each export returns its own failure names. */
    if (KRV_GlobalImage_Compute3DLut(lut3d, 1, 0, 0, 0, 0, 0, 0, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1000.0f, 0.0f,
                                     0.0f) != kGlobalImageFailed)
      return 1;
    if (KRV_GlobalImage_GenerateUndistLUT(view, 1, 0) != kGlobalImageFailed) return 1;
    if (KRV_GlobalImage_AMGetAngle(0, 0) != kAMNoAngle) return 1;
    if (KRV_TVDecoder_Init(1, 0, 720) != KRV_TVDECODER_FAILED) return 1;
  }
  printf("public C interface: ok\n");
  return 0;
}
