#include "camera/lut_config.h"
#include "frame/log.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "frame/base_file.h"
#include "frame/block_calib_services.h"
#include "frame/checked_int.h"
#include "frame/global_variables.h"
#include "frame/neighbour_services.h"
#include "frame/data_directory.h"
#include "toolkit/matrix_alloc.h"

int LoadLUTConfig(LutConfigInfo* info, CameraParamSet* params, const char* path,
                  LutConfigPoints* points) {
  const GlobalVariables& g = gv();
  return LoadLUTConfigCounts(info, params, path, points, g.pointsPerCamera, g.maxPoints);
}

int CameraParamBlock_Load(CameraParamBlock* block, const char* path) {
  if (block == nullptr) return 0;
  if (block->loaded != 0) return 1;
  LutConfigInfo info;
  if (LoadLUTConfig(&info, &block->params, path, nullptr) == 0) return 0;
  block->quadWidth = info.quadWidth;
  block->quadHeight = info.quadHeight;
  block->carWidth = static_cast<float>(info.carWidth);
  block->carLength = static_cast<float>(info.carLength);
  for (int c = 0; c < 4; ++c) {
    block->model[c] = info.model;
    block->lensSlot[c] = info.lensSlot[c];
  }
  CameraParamSet_SetHeaders(&block->params, &block->headers);
  block->loaded = 1;
  return 1;
}

void CameraParamBlock_ClearLoaded(CameraParamBlock* block) {
  if (block != nullptr) block->loaded = 0;
}

void LutConfigBase_GetSize(int32_t* first, int32_t* second) {
  char path[256];
  if (!DataFilePath(path, sizeof path, "lut_config_base.krv")) return;
  LutConfigInfo info;
  CameraParamSet params;
  if (LoadLUTConfig(&info, &params, path, nullptr) == 0) return;
  if (first != nullptr) *first = static_cast<int32_t>(info.carLength);
  if (second != nullptr) *second = static_cast<int32_t>(info.carWidth);
}

uint32_t LutConfig_GetCameraModel(const LutConfig* cfg, int32_t camera) {
  if (cfg == nullptr || camera < 1 || camera > 4) return 0;
  return cfg->model[camera - 1];
}

namespace {

Matrix* MapsOf(LutConfig* cfg, int i) {
  Matrix* maps[8] = {&cfg->groundTable, &cfg->X1, &cfg->Y1, &cfg->X2,
                     &cfg->Y2,          &cfg->W1, &cfg->W2, &cfg->W3};
  return maps[i];
}

void FreeMaps(LutConfig* cfg) {
  for (int i = 0; i < 8; ++i) {
    Matrix_FreeData(MapsOf(cfg, i));
  }
}

bool AllocMap(Matrix* m, int32_t cols, int32_t rows, float value) {
  const size_t n = static_cast<size_t>(cols) * static_cast<size_t>(rows);
  if (!Matrix_NewData(m, cols, rows)) return false;
  for (size_t i = 0; i < n; ++i) m->data[i] = value;
  return true;
}

}  // namespace

void LutConfig_Release(LutConfig* cfg, int32_t freeParamBlock) {
  if (cfg == nullptr) return;
  FreeMaps(cfg);
  if (freeParamBlock != 0 && cfg->paramBlock != nullptr) {
    CameraParamBlock_ClearLoaded(cfg->paramBlock);
    delete cfg->paramBlock;
    cfg->paramBlock = nullptr;
  }
}

void LutConfig_CalcBlindArea(LutConfig* cfg, int32_t allocMaps, int32_t keepSize) {
  GlobalVariables& g = gv();
  // Sizes and offsets come from files and callers: the sums run in 64 bits
  // and are held to the int32 range.
  int32_t w = cfg->carWidth, h = cfg->carLength;
  const int32_t code = g.CalibLayoutCode;
  if (keepSize == 0) {
    if (code == 0) {
      h = SaturateToInt32(static_cast<int64_t>(h) + g.f20_23[0] + g.f20_23[1]);
      w = SaturateToInt32(static_cast<int64_t>(w) + g.f20_23[2] + g.f20_23[3]);
    } else if (code != 1 && code != 2 && code != 24) {
      if (code == 29 || code == 52) {
        // The block calibrations measure the blind area themselves; until
        // one has run, the caller's size stands.
        float lengthTerm = 0.0f, widthTerm = 0.0f;
        bool measured = false;
        if (code == 29 && g.blockCalib4 != nullptr) {
          BlockCalib4_BlindTerms(g.blockCalib4, &lengthTerm, &widthTerm);
          measured = true;
        } else if (code == 52 && g.blockCalib6 != nullptr) {
          BlockCalib6_BlindTerms(g.blockCalib6, &lengthTerm, &widthTerm);
          measured = true;
        }
        if (measured) {
          h = SaturateToInt32(static_cast<int64_t>(g.f20_23[0]) + g.f20_23[1] + TruncToInt32(lengthTerm));
          w = SaturateToInt32(static_cast<int64_t>(g.f20_23[2]) + g.f20_23[3] + TruncToInt32(widthTerm));
        }
      } else {
        w = SaturateToInt32(static_cast<int64_t>(g.place0) - (static_cast<int64_t>(g.place5) - g.f20_23[2]) -
                            (static_cast<int64_t>(g.place6) - g.f20_23[3]));
        h = SaturateToInt32(static_cast<int64_t>(g.place1) - (static_cast<int64_t>(g.place3) - g.f20_23[0]) -
                            (static_cast<int64_t>(g.place4) - g.f20_23[1]));
      }
      cfg->carBoxParam = g.place2;
    } else {
      if (code == 1 && cfg->carBoxParam == 0) {
        if (g.boardCols12 == 8 && g.boardRows12 == 6) {
          cfg->carBoxParam = TruncToInt32(static_cast<float>(g.targetDimA) / 200.0f * 1200.0f);
          g.boardKind1 = g.boardKind2 = g.boardKind34 = 1;
        } else {
          cfg->carBoxParam = 0;
          g.boardKind1 = g.boardKind2 = g.boardKind34 = 0;
        }
      } else if (code != 24) {
        g.boardKind1 = g.boardKind2 = g.boardKind34 = 0;
      }
      g.place3 = g.place4 = g.place5 = g.place6 = 0;
      for (int i = 0; i < 4; ++i) g.f20_23[i] = 0;
    }
  }
  g.f6 = 0;
  GlobalVariables_CalcDerivedSizes(w, h);
  FreeMaps(cfg);

  const int32_t ow = g.f3, oh = g.f5, cw = g.f4, ct = g.f6, range = g.f0;
  const int32_t left = SaturateToInt32((static_cast<int64_t>(ow) - cw) / 2);
  float mpp = cw >= 1 ? static_cast<float>(w) / static_cast<float>(cw)
                      : static_cast<float>(static_cast<int64_t>(w) + 2 * static_cast<int64_t>(range)) /
                            static_cast<float>(ow);
  // A zero scale (no car width) gives no car height rather than a division
  // by zero.
  int32_t ch = TruncToInt32(static_cast<float>(h) / mpp + 0.5f) & ~1;
  cfg->mmPerPixel = mpp;
  cfg->carRect[0] = left;
  cfg->carRect[1] = SaturateToInt32(static_cast<int64_t>(left) + cw);
  cfg->carRect[2] = ow;
  cfg->carRect[3] = ct;
  cfg->carRect[4] = SaturateToInt32(static_cast<int64_t>(ct) + ch);
  cfg->outHeight = oh;
  cfg->carBox[0] = left;
  cfg->carBox[1] = ct;
  cfg->carBox[2] = cw;
  cfg->carBox[3] = ch;
  cfg->carWidth = w;
  cfg->carLength = h;
  cfg->viewRange = range;
  cfg->extraValue = g.extraConfig.derivedSizePercent;
  cfg->groupNumber = 0;
  cfg->splitLength = 0;
  cfg->lensSlot[0] = g.cameraEnabled[0];
  cfg->lensSlot[1] = g.cameraEnabled[1];
  if (g.groupNumber < 2) {
    cfg->lensSlot[2] = g.cameraEnabled[2];
    cfg->lensSlot[3] = g.cameraEnabled[3];
  } else {
    cfg->lensSlot[2] = g.cameraBit4;
    cfg->lensSlot[3] = g.cameraBit5;
  }

  if (allocMaps == 0 || ow < 1 || oh < 1) return;
  if (ow > kBirdsEyeMaxSide || oh > kBirdsEyeMaxSide) {
    AvmLog("LutConfig_CalcBlindArea: output %d x %d beyond %d, no maps\n", ow, oh, kBirdsEyeMaxSide);
    return;
  }
  const int32_t pixels = ow * oh;
  bool ok = AllocMap(&cfg->groundTable, 3, pixels, -500000.0f);
  Matrix* maps[7] = {&cfg->X1, &cfg->Y1, &cfg->X2, &cfg->Y2, &cfg->W1, &cfg->W2, &cfg->W3};
  for (Matrix* m : maps) ok = ok && AllocMap(m, ow, oh, 0.0f);
  if (!ok) {
    AvmLog("LutConfig_CalcBlindArea: out of memory for %d x %d maps\n", ow, oh);
    FreeMaps(cfg);
    return;
  }
  const float cx = static_cast<float>(left) + (static_cast<float>(cw) - 1.0f) * 0.5f + 0.5f;
  const float cy = static_cast<float>(ct) + (static_cast<float>(ch) - 1.0f) * 0.5f + 0.5f;
  float* gt = cfg->groundTable.data;
  for (int32_t r = 0; r < oh; ++r) {
    for (int32_t c = 0; c < ow; ++c) {
      float* p = gt + 3 * (static_cast<long>(r) * ow + c);
      p[0] = (static_cast<float>(c) - cx) * mpp;
      p[1] = (static_cast<float>(r) - cy) * mpp;
      p[2] = 0.0f;
    }
  }
}

void LutConfig_Init(LutConfig* cfg, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                    int32_t frontOverhang, int32_t wheelBase, int32_t model, int32_t allocMaps,
                    int32_t extraParam, int32_t keepSize) {
  GlobalVariables& g = gv();
  if (g.CalibLayoutCode == 51 && cfg->paramBlock == nullptr) {
    cfg->paramBlock = new CameraParamBlock();
    char path[256];
    if (DataFilePath(path, sizeof path, "lut_config_base.krv"))
      CameraParamBlock_Load(cfg->paramBlock, path);
    g.place1 = TruncToInt32(cfg->paramBlock->carLength);
    if (g.place5 == 0 && g.place6 == 0) {
      const int32_t gap =
          SaturateToInt32((static_cast<int64_t>(g.place0) - TruncToInt32(cfg->paramBlock->carWidth)) / 2);
      g.place5 = gap;
      g.place6 = gap;
    }
  }
  cfg->carWidth = carWidth;
  cfg->carLength = carLength;
  cfg->carBoxParam = carBoxParam;
  cfg->frontOverhang = frontOverhang;
  cfg->wheelBase =
      (wheelBase >= 1 && !(static_cast<float>(wheelBase) > 25000.0f)) ? wheelBase : 3000;
  cfg->extraParam = extraParam;
  for (int c = 0; c < 4; ++c) cfg->model[c] = static_cast<uint32_t>(model);
  LutConfig_CalcBlindArea(cfg, allocMaps, keepSize);
  if (cfg->frontOverhang < 501)
    cfg->frontOverhang = SaturateToInt32(
        (static_cast<int64_t>(carLength) - g.f20_23[0] - g.f20_23[1] - cfg->wheelBase) / 2);
}
