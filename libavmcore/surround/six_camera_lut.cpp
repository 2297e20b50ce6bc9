#include "surround/six_camera_lut.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/byte_lut_file.h"
#include "surround/calibration_services.h"
#include "surround/cpu_merger_six.h"
#include "surround/lutob.h"
#include "surround/mab_lutob.h"
#include "surround/merger_lut.h"
#include "surround/mix_area_info.h"
#include "surround/mix_area_six_ex.h"
#include "surround/six_lut_services.h"
#include "toolkit/bmp_file.h"
#include "toolkit/image_ops.h"
#include "toolkit/sampling.h"

namespace {

int32_t High(int32_t v) { return (v >> 16) & 0xFFFF; }
int32_t Low(int32_t v) { return v & 0xFFFF; }

std::string InDataDirectory(const char* name) { return std::string(DataDirectory()) + "/" + name; }

bool Given(const char* p) { return p != nullptr && p[0] != '\0'; }

// Restores the configuration words a build changes, however it ends.
struct GroupScope {
  int32_t mask, group;
  GroupScope() : mask(gv().cameraMask), group(gv().groupNumber) {}
  ~GroupScope() {
    gv().cameraMask = mask;
    gv().groupNumber = group;
  }
  void Enter(int32_t number, int32_t cameras) {
    gv().groupNumber = number;
    gv().cameraMask = mask & cameras;
  }
};

// The two output files of group A under their temporary names while group
// B is built; removed again unless the build succeeds.
struct GroupAFiles {
  bool active = false;
  std::string byteLut, config, tmpByteLut, tmpConfig;
  GroupAFiles(const char* a, const char* b, const char* c, const char* d) {
    if (!Given(a) || !Given(b) || !Given(c) || !Given(d)) return;
    active = true;
    byteLut = a;
    config = c;
    tmpByteLut = byteLut + "_";
    tmpConfig = config + "_";
  }
  // Moves the temporaries to the final names; false when a rename failed.
  bool Commit() {
    remove(byteLut.c_str());
    remove(config.c_str());
    const bool ok = rename(tmpByteLut.c_str(), byteLut.c_str()) == 0 && rename(tmpConfig.c_str(), config.c_str()) == 0;
    sync();
    return ok;
  }
  void Discard() {
    if (!active) return;
    remove(tmpByteLut.c_str());
    remove(tmpConfig.c_str());
  }
};

Matrix CopyOf(const Matrix& m, std::vector<float>* buf) {
  buf->assign(m.data, m.data + static_cast<size_t>(m.cols) * m.rows);
  return Matrix{m.cols, m.rows, buf->data()};
}

void ApplySplit(LUTOB* lut, int32_t group, int32_t* splitLength, int32_t pairA, int32_t pairB) {
  if (*splitLength == 0) {
    if (group == 1) *splitLength = lut->cfg.carLength / 2;
    return;
  }
  LUTSix_SetSplit(lut, group, *splitLength, pairA, pairB);
}

// Where both builders put their results: the byte LUT and configuration
// files of each group (all four given, or group A is not saved) and the
// split point.
struct GroupOutputs {
  const char* byteLutPathA;
  const char* byteLutPathB;
  const char* configPathA;
  const char* configPathB;
  float* splitPoint;
};

// What the two builders share after their calibration step. buildGroup
// fills one group's object (1 or 2) and returns 0 or its code.
template <typename Build>
int32_t BuildBothGroups(LUTOB* lutA, LUTOB* lutB, int32_t splitLength, int32_t pairA, int32_t pairB,
                        const GroupOutputs& out, Build buildGroup,
                        const std::function<void(LUTOB*, int32_t)>& afterGenerate) {
  float* splitPoint = out.splitPoint;
  GroupScope scope;
  GroupAFiles files(out.byteLutPathA, out.byteLutPathB, out.configPathA, out.configPathB);
  MixAreaInfo infoA = MixAreaInfo_Empty();
  MixAreaSixEx sixEx = MixAreaSixEx_Empty();
  std::vector<float> y1Copy;
  Matrix testMap{0, 0, nullptr};
  auto fail = [&](int32_t code) {
    LUTOB_ReleaseBuffers(lutA);
    LUTOB_ReleaseBuffers(lutB);
    MixAreaInfo_Release(&infoA);
    MixAreaSixEx_Free(&sixEx);
    files.Discard();
    return code;
  };

  scope.Enter(1, 15);
  int32_t r = buildGroup(lutA, 1);
  if (r != 0) return fail(r);
  ApplySplit(lutA, 1, &splitLength, pairA, pairB);
  r = LUT_GenerateMergerLUT(lutA, 2, 2);
  if (r != 0) return fail(r);
  afterGenerate(lutA, 1);
  lutA->cfg.groupNumber = 1;
  lutA->cfg.splitLength = splitLength;
  if (files.active) {
    testMap = CopyOf(lutA->cfg.Y1, &y1Copy);
    r = LUTSix_SaveGroupA(lutA, files.tmpByteLut.c_str(), files.tmpConfig.c_str(), &infoA, &sixEx, splitPoint);
    LUTOB_ReleaseBuffers(lutA);
    if (r != 0) return fail(r);
  } else {
    LUTOB_FreeCameraImages(lutA);
  }

  scope.Enter(2, 14);
  r = buildGroup(lutB, 2);
  if (r != 0) return fail(r);
  ApplySplit(lutB, 2, &splitLength, pairA, pairB);
  r = LUT_GenerateMergerLUT(lutB, 2, 0);
  if (r != 0) return fail(r);
  afterGenerate(lutB, 2);
  lutB->cfg.groupNumber = 2;
  lutB->cfg.splitLength = splitLength;
  if (files.active) {
    r = LUTSix_SaveGroupB(lutB, out.byteLutPathB, out.configPathB, &infoA, &sixEx, &testMap, nullptr, nullptr);
    LUTOB_ReleaseBuffers(lutB);
    MixAreaInfo_Release(&infoA);
    MixAreaSixEx_Free(&sixEx);
    if (r != 0) return fail(r);
    if (!files.Commit()) {
      AvmLog("LUTSix: group A files could not take their names\n");
      return -1;
    }
  }
  return 0;
}

}  // namespace

void LUTSix_SetSplit(LUTOB* lut, int32_t group, int32_t splitLength, int32_t pairA, int32_t pairB) {
  if (lut == nullptr || splitLength <= 0 || High(pairA) <= 0) return;
  LutConfig& c = lut->cfg;
  if (group == 1) {
    c.frontOverhang = c.carLength - Low(pairB) - High(pairA);
    c.wheelBase = Low(pairB);
  } else {
    c.frontOverhang = Low(pairA);
    c.wheelBase = c.carLength - splitLength - Low(pairA) - High(pairB);
  }
}

float LUTSix_SplitRow(const LutConfig* cfg) {
  if (cfg == nullptr || !(cfg->mmPerPixel > 0.0f)) return 0.0f;
  return static_cast<float>(cfg->carTop) + static_cast<float>(cfg->splitLength) / cfg->mmPerPixel;
}

int32_t LUTSix_SaveGroupA(LUTOB* lutA, const char* byteLutPath, const char* configPath, MixAreaInfo* info,
                          MixAreaSixEx* sixEx, float* splitPoint) {
  if (lutA == nullptr) return -1;
  if (LUT_GenerateByteLUTFile(lutA, byteLutPath, configPath) != 0) return -1;
  if (splitPoint != nullptr) {
    splitPoint[0] = static_cast<float>(lutA->cfg.X1.cols / 2);
    splitPoint[1] = LUTSix_SplitRow(&lutA->cfg);
  }
  const int32_t qw = 2 * lutA->camW, qh = 2 * lutA->camH;
  if (info != nullptr) MixAreaInfo_Build(info, &lutA->cfg, qw, qh, 8, lutA->cornerCounts[1]);
  if (sixEx != nullptr && sixEx->valid == 0) MixAreaSixEx_AddGroup(sixEx, 1, &lutA->cfg, qw, qh);
  const int32_t code = gv().CalibLayoutCode;
  if (code == 53 || code == 54) LUTSix_WriteAdasTables(lutA, 4, 4);
  return 0;
}

int32_t LUTSix_SaveGroupB(LUTOB* lutB, const char* byteLutPath, const char* configPath, const MixAreaInfo* groupAInfo,
                          MixAreaSixEx* sixEx, const Matrix* testMap, const char* mixAreaPath,
                          const char* sixExPath) {
  if (lutB == nullptr) return -1;
  if (LUT_GenerateByteLUTFile(lutB, byteLutPath, configPath) != 0) return -1;
  int32_t result = 0;
  const Matrix* map = testMap != nullptr && testMap->data != nullptr ? testMap : nullptr;
  if (SaveDynAlphaFile(lutB, InDataDirectory("lut_dyncalpha.krv").c_str(), map) != 0) result = -1;
  std::string mixPath = InDataDirectory("lut_mixareainfo.krv"), sixPath = InDataDirectory("lut_mixareainfo_sixex.krv");
  if (mixAreaPath != nullptr && sixExPath != nullptr) {
    mixPath = mixAreaPath;
    sixPath = sixExPath;
  }
  const int32_t qw = 2 * lutB->camW, qh = 2 * lutB->camH;
  MixAreaInfo infoB = MixAreaInfo_Empty(), merged = MixAreaInfo_Empty();
  MixAreaInfo_Build(&infoB, &lutB->cfg, qw, qh, 8, lutB->cornerCounts[1]);
  if (groupAInfo != nullptr) {
    MixAreaInfo_Merge(&merged, groupAInfo, &infoB);
    if (MixAreaInfo_Save(&merged, mixPath.c_str()) == 0) result = -1;
  }
  MixAreaInfo_Release(&merged);
  MixAreaInfo_Release(&infoB);
  if (sixEx != nullptr) {
    if (sixEx->valid == 0 && sixEx->tables[0].data != nullptr) {
      MixAreaSixEx_AddGroup(sixEx, 0, &lutB->cfg, qw, qh);
      sixEx->valid = 1;
    }
    if (sixEx->valid != 0 && MixAreaSixEx_Save(sixEx, sixPath.c_str()) == 0) result = -1;
    MixAreaSixEx_Free(sixEx);
  }
  const int32_t code = gv().CalibLayoutCode;
  if (code == 53) LUTSix_WriteAdasTables(lutB, 2, 6);
  else if (code != 54) LUTSix_WriteAdasTables(lutB, 0, 0);
  return result;
}

int32_t LUTSix_SaveBothGroups(LUTOB* lutA, LUTOB* lutB, const char* byteLutPathA, const char* byteLutPathB,
                              const char* configPathA, const char* configPathB, float* splitPoint,
                              const char* mixAreaPath, const char* sixExPath) {
  if (lutA == nullptr || lutB == nullptr) return -1;
  MixAreaInfo infoA = MixAreaInfo_Empty();
  MixAreaSixEx sixEx = MixAreaSixEx_Empty();
  int32_t r = LUTSix_SaveGroupA(lutA, byteLutPathA, configPathA, &infoA, &sixEx, splitPoint);
  if (r == 0) r = LUTSix_SaveGroupB(lutB, byteLutPathB, configPathB, &infoA, &sixEx, &lutA->cfg.Y1, mixAreaPath,
                                    sixExPath);
  MixAreaInfo_Release(&infoA);
  MixAreaSixEx_Free(&sixEx);
  AvmLog("begin sync \n");
  sync();
  return r;
}

int32_t LUTSix_SaveRunTables(LUTOB* lutA, LUTOB* lutB, const char* mab6Path, const char* mabPathA,
                             const char* mabPathB, const char* configPathA, const char* configPathB) {
  if (lutA == nullptr || lutB == nullptr) return -1;
  int32_t r = 0;
  if (Given(mab6Path) && GenerateMAB6File(lutA, lutB, mab6Path) != 0) r = -1;
  if (Given(mabPathA) && GenerateMABFile(lutA, mabPathA) != 0) r = -1;
  if (Given(mabPathB) && GenerateMABFile(lutB, mabPathB) != 0) r = -1;
  if (Given(configPathA) && SaveLUTConfig(lutA, configPathA) != 1) r = -1;
  if (Given(configPathB) && SaveLUTConfig(lutB, configPathB) != 1) r = -1;
  MixAreaInfo a = MixAreaInfo_Empty(), b = MixAreaInfo_Empty(), merged = MixAreaInfo_Empty();
  MixAreaInfo_Build(&a, &lutA->cfg, 2 * lutA->camW, 2 * lutA->camH, 8, lutA->cornerCounts[1]);
  MixAreaInfo_Build(&b, &lutB->cfg, 2 * lutB->camW, 2 * lutB->camH, 8, lutB->cornerCounts[1]);
  MixAreaInfo_Merge(&merged, &a, &b);
  if (MixAreaInfo_Save(&merged, InDataDirectory("lut_mixareainfo.krv").c_str()) == 0) r = -1;
  MixAreaInfo_Release(&merged);
  MixAreaInfo_Release(&a);
  MixAreaInfo_Release(&b);
  AvmLog("begin sync \n");
  sync();
  return r;
}

int32_t LUTSix_InitMergerLUTOBByHand(LUTOB* lutA, LUTOB* lutB, int32_t carWidth, int32_t carLength,
                                     int32_t splitLength, int32_t pairA, int32_t pairB, int32_t model,
                                     int32_t cameraWidth, int32_t cameraHeight, const float* pointsA1,
                                     const float* pointsA2, const float* pointsB1, const float* pointsB2,
                                     const char* byteLutPathA, const char* byteLutPathB, const char* configPathA,
                                     const char* configPathB, float* splitPoint) {
  if (lutA == nullptr || lutB == nullptr || pointsA1 == nullptr || pointsA2 == nullptr || pointsB1 == nullptr ||
      pointsB2 == nullptr)
    return 1;
  // The groups are built as quad frames of twice the camera size.
  if (cameraWidth < 1 || cameraHeight < 1 || cameraWidth > kLutobMaxQuadSide / 2 ||
      cameraHeight > kLutobMaxQuadSide / 2) {
    AvmLog("LUTSix_InitMergerLUTOBByHand: camera size %d x %d out of range, refused\n", cameraWidth, cameraHeight);
    return 1;
  }
  const int32_t calib =
      BlockCalib6_RunHand(model, cameraWidth, cameraHeight, pointsA1, pointsA2, pointsB1, pointsB2);
  if (calib != 0) return calib;
  auto build = [&](LUTOB* lut, int32_t group) {
    return LUTOB_BuildFromHand(lut, carWidth, carLength, 0, pairA, pairB, model, 2 * cameraWidth,
                               2 * cameraHeight, group == 1 ? pointsA1 : pointsB1, group == 1 ? pointsA2 : pointsB2);
  };
  return BuildBothGroups(lutA, lutB, splitLength, pairA, pairB,
                         {byteLutPathA, byteLutPathB, configPathA, configPathB, splitPoint}, build,
                         [](LUTOB*, int32_t) {});
}

int32_t LUTSix_InitMergerLUTOBByFile(LUTOB* lutA, LUTOB* lutB, int32_t carWidth, int32_t carLength,
                                     int32_t splitLength, int32_t pairA, int32_t pairB, int32_t model,
                                     const char* imagePath1, const char* imagePath2, int32_t* cameraSize,
                                     float* cornersA1, float* cornersA2, float* cornersB1, float* cornersB2,
                                     const char* byteLutPathA, const char* byteLutPathB, const char* configPathA,
                                     const char* configPathB, float* splitPoint) {
  if (lutA == nullptr || lutB == nullptr) return 1;
  ImageU8Ptr image1(imagePath1 != nullptr ? Bmp_LoadGrayU8(imagePath1) : nullptr);
  if (image1 == nullptr) {
    AvmLog("LUTSix_InitMergerLUTOBByFile No File1 %s \n", imagePath1 != nullptr ? imagePath1 : "(null)");
    return 1;
  }
  ImageU8Ptr image2(imagePath2 != nullptr ? Bmp_LoadGrayU8(imagePath2) : nullptr);
  if (image2 == nullptr) {
    AvmLog("LUTSix_InitMergerLUTOBByFile No File2 %s \n", imagePath2 != nullptr ? imagePath2 : "(null)");
    return 1;
  }
  // Group B's quad frame takes the second frame's top half as its bottom
  // half: both must be quad frames of one size.
  if (image1->width != image2->width || image1->height != image2->height || image1->height < 4) {
    AvmLog("LUTSix_InitMergerLUTOBByFile: %s and %s differ in size\n", imagePath1, imagePath2);
    return 1;
  }
  GlobalVariables& g = gv();
  if (g.advValue8 != 0) {
    ImageU8_RaiseToCornerMin(image1.get());
    ImageU8_RaiseToCornerMin(image2.get());
    g.advValue8 = 0;
  }
  int32_t r = BlockCalib6_RunAuto(model, image1.get(), image2.get());
  if (r != 0) {
    LUTSix_MergeHelper(cornersA1, cornersA2, cornersB1, cornersB2, 0);
    return r;
  }
  auto build = [&](LUTOB* lut, int32_t group) {
    if (group == 2)
      ImageU8_CopyBlock(image2.get(), image1.get(), image2->width & ~1, image2->height / 2, 0, 0, 0, image1->height / 2);
    return LUTOB_BuildFromImage(lut, carWidth, carLength, 0, pairA, pairB, model, image1.get(), 0, 1);
  };
  auto corners = [&](LUTOB* lut, int32_t group) {
    if (group == 1 && cameraSize != nullptr) {
      cameraSize[0] = lut->camW;
      cameraSize[1] = lut->camH;
    }
    float* first = group == 1 ? cornersA1 : cornersB1;
    float* second = group == 1 ? cornersA2 : cornersB2;
    if (first != nullptr && second != nullptr) {
      int32_t counts[4];
      LUTOB_GetCorners(lut, counts, first, second);
    }
  };
  r = BuildBothGroups(lutA, lutB, splitLength, pairA, pairB,
                      {byteLutPathA, byteLutPathB, configPathA, configPathB, splitPoint}, build, corners);
  return r;
}
