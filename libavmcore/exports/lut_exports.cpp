// Exports of the LUT object of the bird's-eye view and the LUT save chain.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exports/export_guard.h"
#include "calibration/solve/best3_solve.h"
#include "calibration/solve/block_calib.h"
#include "calibration/solve/block_calib_run.h"
#include "calibration/solve/new_lut_corner_search.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "exports/lut_save_chain.h"
#include "pipeline/adas_config.h"
#include "frame/data_directory.h"
#include "surround/byte_lut_file.h"
#include "surround/mab_lutob.h"
#include "surround/ground_grid.h"
#include "camera/lut_config.h"
#include "surround/lutob.h"
#include "surround/lutob_param_file.h"
#include "surround/lutob_preview.h"
#include "surround/six_camera_lut.h"
#include "surround/merger_lut.h"
#include "surround/mix_area_info.h"
#include "toolkit/bmp_file.h"
#include "toolkit/frame_statistics.h"
#include "toolkit/matrix_alloc.h"
#include "toolkit/pixel_formats.h"
#include "frame/log.h"

namespace {

void SetErr(uint32_t* err, int32_t value) {
  if (err != nullptr) *err = static_cast<uint32_t>(value);
}

// Camera mask of the image-based builders: option bits 4 and up, 0 = all.
void SetCameraMaskFromOption(int32_t option) {
  const int32_t mask = option >> 4;
  gv().cameraMask = mask == 0 ? 15 : mask;
}

std::string InDataDirectory(const char* name) { return std::string(DataDirectory()) + "/" + name; }

// Mix-area information of the object, written to path. 0 or kSaveMixArea.
int32_t SaveMixArea(LUTOB* lut, const char* path) {
  MixAreaInfo info = MixAreaInfo_Empty();
  MixAreaInfo_Build(&info, &lut->cfg, 2 * lut->camW, 2 * lut->camH, lut->cornerCounts[0], lut->cornerCounts[1]);
  const int ok = MixAreaInfo_Save(&info, path);
  MixAreaInfo_Release(&info);
  return ok ? 0 : kLutSaveMixAreaFailed;
}

// A frame of the _New exports as a float picture (luma / 255); null for an
// unsupported format or size.
MatrixPtr FrameToMatrix(const char* exportName, int32_t format, uint8_t* frame, int32_t width, int32_t height) {
  if (frame == nullptr || (format != 0 && format != 1 && format != 4)) return nullptr;
  if (!ExportPictureOk(exportName, width, height)) return nullptr;
  MatrixPtr m(Matrix_New(width, height));
  if (m == nullptr) return nullptr;
  if (format == 0) {
    PackedFrame src{width, height, frame, 2 * width};
    ImageToMatrix(&src, m.get());
  } else {
    LumaToMatrix(width, height, frame, m.get());
  }
  return m;
}

LutobPtr InitLUTOBLineCore(const char* paramPath, Matrix* image, int32_t option, uint32_t* err) {
  LutobPtr lut(LUTOB_Create());
  if (LUTOB_LoadConfig(lut.get(), paramPath, nullptr) == 0) {
    SetErr(err, 2);
    return nullptr;
  }
  Best3Work work;
  const int32_t r = Best3Ctrl_CreateWork(&work, lut.get()) != 0 ? CalibBest3_Run(&work, image, option) : 17;
  Best3Ctrl_DestroyWork(&work);
  if (r != 0) {
    SetErr(err, r);
    return nullptr;
  }
  return lut;
}

// Loads a parameter file into a new object; null when it cannot be read.
LutobPtr LoadLocal(const char* paramPath) {
  LutobPtr lut(LUTOB_Create());
  if (LUTOB_LoadConfig(lut.get(), paramPath, nullptr) == 0) return nullptr;
  return lut;
}

}  // namespace

int32_t GlobalImage_SaveLUTResult(LUTOB* lut, const char* path1, const char* path2, uint32_t mask) {
  if (lut == nullptr) return kLutSaveNoObject;
  int32_t result = 0;
  AvmLog("begin lut \n");
  if (LUT_GenerateByteLUTFile(lut, path1 != nullptr ? path1 : "", path2 != nullptr ? path2 : "") != 0)
    result = kLutSaveByteLutFailed;
  if (result == 0 && (mask & 0x80u) != 0) {
    const std::string p = InDataDirectory("lut_dyncalpha.krv");
    if (SaveDynAlphaFile(lut, p.c_str(), nullptr) != 0) result = kLutSaveDynAlphaFailed;
  }
  AvmLog("begin adas \n");
  if (result == 0 && path2 != nullptr && path2[0] != '\0') {
    const std::string p = InDataDirectory("lut_mixareainfo.krv");
    result = SaveMixArea(lut, p.c_str());
    if (result == 0) {
      ADASConfig cfg{};
      ADAS_GenerateTables(&cfg, lut, static_cast<int32_t>(mask));
      if (ADASConfig_Save(&cfg, DataDirectory(), static_cast<int32_t>(mask)) == 0) result = kLutSaveAdasFailed;
      ADASConfig_Free(&cfg);
    }
  }
  if (result != 0) AvmLog("LUT save chain stopped (%d)\n", result);
  AvmLog("begin sync \n");
  sync();
  return result;
}

AVM_EXPORT LUTOB* KRV_GlobalImage_LoadLUTOB(const char* bmpPath, const char* paramPath, const char* previewPath) try {
  if (bmpPath == nullptr || paramPath == nullptr) return nullptr;
  MatrixPtr image(Bmp_LoadGrayFloat(bmpPath, 0));
  if (image == nullptr) return nullptr;
  LutobPtr lut(LUTOB_Create());
  const int loaded = LUTOB_LoadConfig(lut.get(), paramPath, image.get());
  image.reset();
  if (loaded == 0 || LUT_GenerateMergerLUT(lut.get(), 0, 0) != 0) return nullptr;
  if (previewPath != nullptr) {
    LUTOB_RenderPreview(lut.get(), 0);
    if (Bmp_SaveFloatPlanes(&lut->previewImage, previewPath) == 0) AvmLog("preview %s not written\n", previewPath);
  }
  return lut.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB(const char* bmpPath, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                            int32_t a5, int32_t option, int32_t /*reserved*/, uint32_t* err) try {
  SetErr(err, 0);
  if (bmpPath == nullptr) {
    SetErr(err, 1);
    return nullptr;
  }
  ImageU8Ptr image(Bmp_LoadGrayU8(bmpPath));
  if (image == nullptr) {
    SetErr(err, 2);
    return nullptr;
  }
  SetCameraMaskFromOption(option);
  LutobPtr lut(LUTOB_Create());
  int32_t r = LUTOB_BuildFromImage(lut.get(), a1, a2, a3, a4, a5, option & 15, image.get(), 0, 1);
  if (r == 0) r = LUT_GenerateMergerLUT(lut.get(), 2, 0);
  image.reset();
  if (r != 0) {
    SetErr(err, r);
    return nullptr;
  }
  return lut.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB_New(int32_t format, uint8_t* frame, int32_t width, int32_t height,
                                                int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                                int32_t option, int32_t /*reserved*/, uint32_t* err) try {
  SetErr(err, 0);
  MatrixPtr image = FrameToMatrix(__func__, format, frame, width, height);
  if (image == nullptr) {
    SetErr(err, 1);
    return nullptr;
  }
  SetCameraMaskFromOption(option);
  LutobPtr lut(LUTOB_Create());
  int32_t r = InitLUTOB_New_DetectCorners(lut.get(), a1, a2, a3, a4, a5, option & 15, image.get());
  if (r == 0) r = LUT_GenerateMergerLUT(lut.get(), 2, 0);
  image.reset();
  if (r != 0) {
    SetErr(err, r);
    return nullptr;
  }
  return lut.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB_Hand(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                                 int32_t quadWidth, int32_t quadHeight, const float* first,
                                                 const float* second, int32_t option, uint32_t* err) try {
  SetErr(err, 0);
  // The quad frame holds four camera pictures of half its sides.
  if (first == nullptr || second == nullptr ||
      !ExportArgInRange(__func__, "quad width", quadWidth, 2, kExportMaxSide) ||
      !ExportArgInRange(__func__, "quad height", quadHeight, 2, kExportMaxSide)) {
    SetErr(err, 1);
    return nullptr;
  }
  SetCameraMaskFromOption(option);
  LutobPtr lut(LUTOB_Create());
  int32_t r = LUTOB_BuildFromHand(lut.get(), a1, a2, a3, a4, a5, option & 15, quadWidth, quadHeight, first, second);
  if (r == 0) r = LUT_GenerateMergerLUT(lut.get(), 2, 0);
  if (r != 0) {
    SetErr(err, r);
    return nullptr;
  }
  return lut.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOB_ParamFile(int32_t variant, const char* paramPath, int32_t a2,
                                                      int32_t a3, uint32_t* err, uint32_t* out1, uint32_t* out2,
                                                      uint32_t* out3, uint32_t* out4) try {
  SetErr(err, 0);
  // The set-ups take their parameters from fixed values and the data
  // directory; paramPath, a2 and a3 select nothing.
  (void)paramPath;
  (void)a2;
  (void)a3;
  if (variant != 1 && variant != 2) {
    SetErr(err, 1);
    return nullptr;
  }
  LutobPtr lut(LUTOB_Create());
  int32_t r = variant == 1 ? InitLUTOB_ParamFileA(lut.get()) : InitLUTOB_ParamFileCC(lut.get());
  if (r == 0) {
    // The sizes the set-up stored: car width and length, front overhang,
    // wheel base.
    if (out1 != nullptr) *out1 = static_cast<uint32_t>(lut->cfg.carWidth);
    if (out2 != nullptr) *out2 = static_cast<uint32_t>(lut->cfg.carLength);
    if (out3 != nullptr) *out3 = static_cast<uint32_t>(lut->cfg.frontOverhang);
    if (out4 != nullptr) *out4 = static_cast<uint32_t>(lut->cfg.wheelBase);
    r = LUT_GenerateMergerLUT(lut.get(), 2, 0);
  }
  if (r != 0) {
    SetErr(err, r);
    return nullptr;
  }
  return lut.release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOBLine(const char* paramPath, const char* bmpPath, int32_t option,
                                                int32_t /*reserved1*/, int32_t /*reserved2*/, uint32_t* err) try {
  SetErr(err, 0);
  if (paramPath == nullptr || bmpPath == nullptr) {
    SetErr(err, 1);
    return nullptr;
  }
  MatrixPtr image(Bmp_LoadGrayFloat(bmpPath, 0));
  if (image == nullptr) {
    SetErr(err, 2);
    return nullptr;
  }
  return InitLUTOBLineCore(paramPath, image.get(), option, err).release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT LUTOB* KRV_GlobalImage_InitLUTOBLine_New(const char* paramPath, int32_t format, uint8_t* frame,
                                                    int32_t width, int32_t height, int32_t option,
                                                    int32_t /*reserved1*/, int32_t /*reserved2*/, uint32_t* err) try {
  SetErr(err, 0);
  MatrixPtr image = paramPath != nullptr ? FrameToMatrix(__func__, format, frame, width, height) : nullptr;
  if (image == nullptr) {
    SetErr(err, 1);
    return nullptr;
  }
  return InitLUTOBLineCore(paramPath, image.get(), option, err).release();
}
AVM_EXPORT_CATCH(nullptr)

AVM_EXPORT int KRV_GlobalImage_GetLUTOBResult(LUTOB* lut, const char* path1, const char* path2) try {
  return GlobalImage_SaveLUTResult(lut, path1, path2, 15);
}
AVM_EXPORT_CATCH(kLutSaveByteLutFailed)

AVM_EXPORT int KRV_GlobalImage_GetLUTOBResult_EX(LUTOB* lut, const char* path1, const char* path2, uint32_t mask) try {
  return GlobalImage_SaveLUTResult(lut, path1, path2, mask);
}
AVM_EXPORT_CATCH(kLutSaveByteLutFailed)

AVM_EXPORT int KRV_GlobalImage_UnInitLUTOB(LUTOB* lut) try {
  LUTOB_Destroy(lut);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GenerateMergerLUTFile(const char* paramPath, const char* path1) try {
  if (paramPath == nullptr || path1 == nullptr) return kGlobalImageFailed;
  LutobPtr lut = LoadLocal(paramPath);
  if (lut == nullptr) return kGlobalImageFailed;
  for (int k = 0; k < 4; ++k) lut->seamAngles[k] = gv().config.seamAngle[k];
  int32_t r = LUT_GenerateMergerLUT(lut.get(), LUTOB_WorldPointsChanged(lut.get()) ? 2 : 0, 0);
  if (r == 0 && LUT_GenerateByteLUTFile(lut.get(), path1, paramPath) != 0) r = kLutSaveByteLutFailed;
  if (r == 0) r = SaveMixArea(lut.get(), InDataDirectory("lut_mixareainfo.krv").c_str());
  return r;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GenerateNewMergerLUTFile(const char* paramPath, const char* path1, int32_t w0,
                                                        int32_t w1, int32_t w2, int32_t w3, int32_t /*extra*/) try {
  if (paramPath == nullptr || path1 == nullptr || !ExportPictureOk(__func__, w0, w1)) return kGlobalImageFailed;
  LutobPtr lut = LoadLocal(paramPath);
  if (lut == nullptr) return kGlobalImageFailed;
  int32_t box[4] = {0, 0, 0, 0};
  return LUT_GenerateNewByteLUTFile(lut.get(), path1, w0, w1, w2, w3, box) != 0 ? kLutSaveByteLutFailed : 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_GenerateROIFile(const char* paramPath, const char* roiPath, int32_t a, int32_t b,
                                               float c, float d, float e, float f, float g) try {
  if (paramPath == nullptr || roiPath == nullptr) return kGlobalImageFailed;
  // Step and corners in millimetres on the ground, as the camera file's
  // lengths; checked as floats, before they become integers.
  const float mm = static_cast<float>(kLutConfigMaxMm);
  if (!(c >= 1.0f && c <= mm) || !(d >= -mm && d <= mm) || !(e >= -mm && e <= mm) || !(f >= -mm && f <= mm) ||
      !(g >= -mm && g <= mm)) {
    AvmLog("%s: step %g or corners %g %g %g %g out of range, refused\n", __func__, static_cast<double>(c),
           static_cast<double>(d), static_cast<double>(e), static_cast<double>(f), static_cast<double>(g));
    return kGlobalImageFailed;
  }
  LutobPtr lut = LoadLocal(paramPath);
  if (lut == nullptr) return kGlobalImageFailed;
  const int32_t r = GenerateROIFile(lut.get(), roiPath, a, b, static_cast<int32_t>(c), static_cast<int32_t>(d),
                                    static_cast<int32_t>(e), static_cast<int32_t>(f), static_cast<int32_t>(g));
  return r != 0 ? kLutSaveRoiFailed : 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_CalcCarImagePos(int32_t width, int32_t height, int32_t* out) try {
  if (!ExportPictureOk(__func__, width, height)) return kGlobalImageFailed;
  LutConfig cfg{};
  LutConfig_Init(&cfg, width, height, 0, 500, 2600, 0, 0, 0, 0);
  if (out != nullptr) {
    const GlobalVariables& g = gv();
    out[0] = g.f7;
    out[1] = g.f8;
    out[2] = g.f3;
    out[3] = cfg.carBox[0];
    out[4] = cfg.carBox[1];
    out[5] = cfg.carBox[2];
    out[6] = cfg.carBox[3];
    out[7] = g.f5;
  }
  LutConfig_Release(&cfg, 1);
  return 0;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_BuildSixLUTByImage(int32_t a0, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                  int32_t option, const char* imagePath1, const char* imagePath2,
                                                  int32_t* cameraSize, float* cornersA1, float* cornersA2,
                                                  float* cornersB1, float* cornersB2, const char* byteLutPathA,
                                                  const char* byteLutPathB, const char* configPathA,
                                                  const char* configPathB, float* splitPoint) try {
  const int32_t mask = (option >> 4) & 15;
  gv().cameraMask = mask == 0 ? 15 : mask;
  LutobPtr lutA(LUTOB_Create());
  LutobPtr lutB(LUTOB_Create());
  const int32_t r = LUTSix_InitMergerLUTOBByFile(lutA.get(), lutB.get(), a0, a1, a2, a3, a4, option & 15, imagePath1,
                                                 imagePath2, cameraSize, cornersA1, cornersA2, cornersB1, cornersB2,
                                                 byteLutPathA, byteLutPathB, configPathA, configPathB, splitPoint);
  return r;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_BuildSixLUTByHand(int32_t a0, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                                 int32_t option, int32_t cameraWidth, int32_t cameraHeight,
                                                 const float* pointsA1, const float* pointsA2,
                                                 const float* pointsB1, const float* pointsB2,
                                                 const char* byteLutPathA, const char* byteLutPathB,
                                                 const char* configPathA, const char* configPathB,
                                                 float* splitPoint) try {
  // Each camera picture is a quarter of a quad frame of at most the largest
  // picture side.
  if (!ExportArgInRange(__func__, "camera width", cameraWidth, 1, kExportMaxSide / 2) ||
      !ExportArgInRange(__func__, "camera height", cameraHeight, 1, kExportMaxSide / 2))
    return kGlobalImageFailed;
  const int32_t mask = (option >> 4) & 15;
  gv().cameraMask = mask == 0 ? 15 : mask;
  LutobPtr lutA(LUTOB_Create());
  LutobPtr lutB(LUTOB_Create());
  const int32_t r = LUTSix_InitMergerLUTOBByHand(lutA.get(), lutB.get(), a0, a1, a2, a3, a4, option & 15, cameraWidth,
                                                 cameraHeight, pointsA1, pointsA2, pointsB1, pointsB2, byteLutPathA,
                                                 byteLutPathB, configPathA, configPathB, splitPoint);
  return r;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_DirectGetCorner_EX(const char* bmpPath, int32_t a1, int32_t a2, int32_t a3,
                                                  int32_t a4, int32_t a5, int32_t option, uint32_t* counts,
                                                  float* xs, float* ys, int32_t* size) try {
  if (bmpPath == nullptr) return kGlobalImageFailed;
  ImageU8Ptr image(Bmp_LoadGrayU8(bmpPath));
  if (image == nullptr) return kGlobalImageFailed;
  SetCameraMaskFromOption(option);
  gv().cornerQuickMode = 1;
  LutobPtr lut(LUTOB_Create());
  const int32_t r = LUTOB_BuildFromImage(lut.get(), a1, a2, a3, a4, a5, option & 15, image.get(), 0, 0);
  if (r == 0) {
    int32_t n[4] = {0, 0, 0, 0};
    if (xs != nullptr && ys != nullptr) LUTOB_GetCorners(lut.get(), n, xs, ys);
    else for (int k = 0; k < 4; ++k) n[k] = lut->cornerCounts[k];
    if (counts != nullptr)
      for (int k = 0; k < 4; ++k) counts[k] = static_cast<uint32_t>(n[k]);
    if (size != nullptr) {
      size[0] = lut->camW;
      size[1] = lut->camH;
    }
  } else if (gv().CalibLayoutCode == 29) {
    // The four-block calibration kept what it found; it exists only once
    // that calibration ran.
    BlockCalib4* block = gv().blockCalib4;
    if (block != nullptr) {
      if (xs != nullptr && ys != nullptr) BlockCalib4_GetCorners(block, xs, ys, 0);
      if (counts != nullptr)
        for (int k = 0; k < 4; ++k) counts[k] = block->blocks.counts[k];
    }
    if (size != nullptr) {
      size[0] = image->width / 2;
      size[1] = image->height / 2;
    }
  }
  return r;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_DirectGetCorner(const char* bmpPath, int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                               int32_t a5, int32_t option, uint32_t* counts, float* xs, float* ys) try {
  return KRV_GlobalImage_DirectGetCorner_EX(bmpPath, a1, a2, a3, a4, a5, option, counts, xs, ys, nullptr);
}
AVM_EXPORT_CATCH(kGlobalImageFailed)

AVM_EXPORT int KRV_GlobalImage_ModLUTConfigFile(const char* path, int32_t a, int32_t b, int32_t c) try {
  if (path == nullptr) return kGlobalImageFailed;
  return ModLUTConfigFile(path, a, b, c, 0, nullptr, nullptr, nullptr, 0) != 0 ? 0
                                                                               : kGlobalImageFailed;
}
AVM_EXPORT_CATCH(kGlobalImageFailed)
