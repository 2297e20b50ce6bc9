// Manual pose adjustment (ModCP).
#include "calibration/solve/modcp.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "camera/lut_config.h"
#include "camera/rotation.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/byte_lut_file.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "surround/mix_area_info.h"

namespace {

constexpr float kRefitEpsilon = 1.1920929e-07f;

// Blocks seen by each slot, and the neighbours re-fitted after a linked step.
const int32_t kBlocks6[6][2] = {{0, 1}, {4, 5}, {0, 2}, {1, 3}, {2, 4}, {3, 5}};
const int32_t kBlocks4[4][2] = {{0, 1}, {2, 3}, {0, 2}, {1, 3}};
const int32_t kNeighbours6[6][2] = {{2, 3}, {4, 5}, {0, 4}, {0, 5}, {2, 1}, {3, 1}};
const int32_t kNeighbours4[4][2] = {{2, 3}, {2, 3}, {0, 1}, {0, 1}};

// File (0 first, 1 second) and camera (0..3) of each slot.
const int32_t kSlotFile6[6][2] = {{0, 0}, {1, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}};

const int32_t* Blocks(const ModCPObject* o, int32_t cam) { return o->cameraCount == 6 ? kBlocks6[cam] : kBlocks4[cam]; }
const int32_t* Neighbours(const ModCPObject* o, int32_t cam) {
  return o->cameraCount == 6 ? kNeighbours6[cam] : kNeighbours4[cam];
}

bool ValidCamera(const ModCPObject* o, int32_t cam) { return cam >= 0 && cam < o->cameraCount; }

struct LoadedFile {
  LutConfigInfo info{};
  CameraParamSet params{};
  std::unique_ptr<LutConfigPoints> points{new LutConfigPoints()};
};

void RefitAll(ModCPObject* o) {
  for (int32_t c = 0; c < o->cameraCount; ++c) {
    ModCP_RefitCamera(o, c);
    memcpy(o->resetR[c], o->curR[c], sizeof o->curR[c]);
    memcpy(o->resetT[c], o->curT[c], sizeof o->curT[c]);
  }
}

// Turns (x, y) about the vertical through the camera at (px, py) by the
// rotation of the vector (0, 0, angle).
void TurnCorner(const float* m, float px, float py, float* x, float* y) {
  const float X = *x + px, Y = *y + py;
  *x = m[0] * X + m[1] * Y - px;
  *y = m[3] * X + m[4] * Y - py;
}

LutobPtr LoadLut(const char* path) {
  LutobPtr lut(LUTOB_Create());
  if (LUTOB_LoadConfig(lut.get(), path, nullptr) == 0) {
    AvmLog("T8~~~~~~~~ cannot load %s\n", path);
    lut.reset();
  }
  return lut;
}

// Outputs written beside their final names and renamed together at the end.
class FileSet {
 public:
  ~FileSet() {
    for (const auto& f : files_) unlink(f.first.c_str());
  }
  // The temporary name for final (empty final: none).
  const char* Add(const std::string& final) {
    if (final.empty()) return "";
    files_.emplace_back(final + ".modcp-tmp", final);
    return files_.back().first.c_str();
  }
  bool Commit() {
    for (const auto& f : files_)
      if (rename(f.first.c_str(), f.second.c_str()) != 0) {
        AvmLog("T8~~~~~~~~ cannot replace %s\n", f.second.c_str());
        return false;
      }
    files_.clear();
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> files_;
};

std::string Str(const char* s) { return s != nullptr ? s : ""; }

// Regenerates each LUT object, writes its byte LUT and camera file and the
// (merged) mix-area file into temporaries, and renames them when all landed.
bool RegenerateAndWrite(LUTOB* const* luts, int32_t n, const char* const* lutPaths, const char* const* configPaths) {
  for (int32_t i = 0; i < n; ++i)
    if (LUT_GenerateMergerLUT(luts[i], 0, 0) != 0) {
      AvmLog("T8~~~~~~~~ regenerating the tables failed\n");
      return false;
    }
  FileSet files;
  std::vector<std::string> lutTmp, cfgTmp;
  for (int32_t i = 0; i < n; ++i) {
    const char* l = files.Add(Str(lutPaths[i]));
    const char* c = files.Add(Str(configPaths[i]));
    if (LUT_GenerateByteLUTFile(luts[i], l, c) != 0) {
      AvmLog("T8~~~~~~~~ writing the tables failed\n");
      return false;
    }
  }
  MixAreaInfo info[2] = {MixAreaInfo_Empty(), MixAreaInfo_Empty()};
  for (int32_t i = 0; i < n; ++i)
    MixAreaInfo_Build(&info[i], &luts[i]->cfg, 2 * luts[i]->camW, 2 * luts[i]->camH, luts[i]->cornerCounts[0],
                      luts[i]->cornerCounts[1]);
  MixAreaInfo merged = MixAreaInfo_Empty();
  const MixAreaInfo* out = &info[0];
  if (n == 2) {
    MixAreaInfo_Merge(&merged, &info[0], &info[1]);
    out = &merged;
  }
  const char* mix = files.Add(std::string(DataDirectory()) + "/lut_mixareainfo.krv");
  const int saved = MixAreaInfo_Save(out, mix);
  MixAreaInfo_Release(&merged);
  MixAreaInfo_Release(&info[0]);
  MixAreaInfo_Release(&info[1]);
  if (saved == 0) {
    AvmLog("T8~~~~~~~~ writing the mix-area file failed\n");
    return false;
  }
  return files.Commit();
}

}  // namespace

int32_t ModCP_Init(ModCPObject* o, const char* configPath1, const char* configPath2, int32_t mode) {
  if (o == nullptr || configPath1 == nullptr) return 0;
  if (o->state != 0) return 1;
  const bool six = configPath2 != nullptr && configPath2[0] != '\0';
  LoadedFile files[2];
  if (LoadLUTConfig(&files[0].info, &files[0].params, configPath1, files[0].points.get()) == 0) return 0;
  if (six && LoadLUTConfig(&files[1].info, &files[1].params, configPath2, files[1].points.get()) == 0) return 0;
  // Each camera's first eight points are the corners of its two blocks.
  if (gv().pointsPerCamera < 8) {
    AvmLog("T8~~~~~~~~ %d points a camera do not hold the block corners\n", gv().pointsPerCamera);
    return 0;
  }
  o->mode = mode;
  o->cameraCount = six ? 6 : 4;
  o->width = static_cast<int32_t>(files[0].info.quadWidth / 2);
  o->height = static_cast<int32_t>(files[0].info.quadHeight / 2);
  o->model = files[0].info.model;
  for (int32_t s = 0; s < o->cameraCount; ++s) {
    const int32_t f = six ? kSlotFile6[s][0] : 0, c = six ? kSlotFile6[s][1] : s;
    const LoadedFile& lf = files[f];
    o->lensSlot[s] = lf.info.lensSlot[c];
    memcpy(o->K[s], lf.params.K[c], sizeof o->K[s]);
    memcpy(o->D[s], lf.params.D[c], sizeof o->D[s]);
    memcpy(o->curR[s], lf.params.R[c], sizeof o->curR[s]);
    memcpy(o->curT[s], lf.params.T[c], sizeof o->curT[s]);
    memcpy(o->resetR[s], o->curR[s], sizeof o->curR[s]);
    memcpy(o->resetT[s], o->curT[s], sizeof o->curT[s]);
    for (int p = 0; p < 8; ++p) {
      o->imageX[s][p] = lf.points->image[c][p][1];
      o->imageY[s][p] = lf.points->image[c][p][0];
    }
  }
  auto setBlock = [&](int32_t block, int32_t slot, int32_t firstPoint) {
    const int32_t f = six ? kSlotFile6[slot][0] : 0, c = six ? kSlotFile6[slot][1] : slot;
    for (int k = 0; k < 4; ++k) {
      const float* w = files[f].points->world[c][firstPoint + k];
      o->loadedX[4 * block + k] = o->cornerX[4 * block + k] = w[0];
      o->loadedY[4 * block + k] = o->cornerY[4 * block + k] = w[1];
      o->cornerZ[4 * block + k] = w[2];
    }
  };
  setBlock(0, 0, 0);
  setBlock(1, 0, 4);
  setBlock(2, 2, 4);
  setBlock(3, 3, 4);
  if (six) {
    setBlock(4, 1, 0);
    setBlock(5, 1, 4);
  }
  memset(o->changeX, 0, sizeof o->changeX);
  memset(o->changeY, 0, sizeof o->changeY);
  o->state = 1;
  return 1;
}

void ModCP_RefitCamera(ModCPObject* o, int32_t cam) {
  if (o == nullptr || !ValidCamera(o, cam)) return;
  const int32_t* b = Blocks(o, cam);
  float world[8][3], image[8][2];
  for (int k = 0; k < 8; ++k) {
    const int32_t corner = 4 * b[k / 4] + k % 4;
    world[k][0] = o->cornerX[corner];
    world[k][1] = o->cornerY[corner];
    world[k][2] = o->cornerZ[corner];
    image[k][0] = o->imageX[cam][k];
    image[k][1] = o->imageY[cam][k];
  }
  float R[3], T[3];
  memcpy(R, o->curR[cam], sizeof R);
  memcpy(T, o->curT[cam], sizeof T);
  Matrix mw{3, 8, &world[0][0]}, mi{2, 8, &image[0][0]};
  Matrix mK{3, 3, o->K[cam]}, mD{1, 8, o->D[cam]}, mR{1, 3, R}, mT{1, 3, T};
  const float err = CameraModel_Calibrate(o->width, o->height, static_cast<int32_t>(o->model), &mw, &mi, &mK, &mD,
                                          &mR, kRefitEpsilon, &mT, 4, 100, 0, static_cast<int32_t>(o->lensSlot[cam]));
  AvmLog("T8~~~~~~~~ %d %f %f %f %f %f %f %f \n", cam, err, o->D[cam][1], o->D[cam][2], o->K[cam][1], o->K[cam][3],
         o->K[cam][6], T[2]);
  // A fit that ended on no finite value keeps the pose it started from.
  if (!std::isfinite(err)) return;
  memcpy(o->curR[cam], R, sizeof R);
  memcpy(o->curT[cam], T, sizeof T);
}

void ModCP_Adjust(ModCPObject* o, int32_t cam, int32_t stepMode, float step) {
  if (o == nullptr || o->mode != 0 || !ValidCamera(o, cam)) return;
  if (stepMode >= 1 && stepMode <= 3) {
    o->curT[cam][stepMode - 1] += step;
  } else if (stepMode >= 4 && stepMode <= 6) {
    float angles[3] = {0.0f, 0.0f, 0.0f};
    angles[stepMode - 4] = -step;
    RotationVec_ApplyAngles(o->curR[cam], angles, o->curR[cam]);
  }
}

void ModCP_AdjustLinked(ModCPObject* o, int32_t cam, int32_t stepMode, float step) {
  if (o == nullptr || o->mode != 1 || !ValidCamera(o, cam)) return;
  if (o->state == 1) {
    RefitAll(o);
    o->state = 2;
    return;
  }
  const int32_t* b = Blocks(o, cam);
  if (stepMode == 1 || stepMode == 2) {
    float* coord = stepMode == 1 ? o->cornerX : o->cornerY;
    float* change = stepMode == 1 ? o->changeX[cam] : o->changeY[cam];
    o->curT[cam][stepMode - 1] += step;
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < 4; ++k) {
        coord[4 * b[i] + k] -= step;
        change[4 * b[i] + k] -= step;
      }
  } else if (stepMode == 6) {
    const float angles[3] = {0.0f, 0.0f, step};
    RotationVec_ApplyAngles(o->curR[cam], angles, o->curR[cam]);
    float rv[3] = {0.0f, 0.0f, -step}, m[9];
    Matrix mr{1, 3, rv}, mm{3, 3, m};
    Rodrigues(&mr, &mm, nullptr);
    const float px = o->curT[cam][0], py = o->curT[cam][1];
    for (int i = 0; i < 2; ++i)
      for (int k = 0; k < 4; ++k) {
        const int32_t c = 4 * b[i] + k;
        const float x0 = o->cornerX[c], y0 = o->cornerY[c];
        TurnCorner(m, px, py, &o->cornerX[c], &o->cornerY[c]);
        o->changeX[cam][c] += o->cornerX[c] - x0;
        o->changeY[cam][c] += o->cornerY[c] - y0;
      }
  }
  const int32_t* n = Neighbours(o, cam);
  ModCP_RefitCamera(o, n[0]);
  ModCP_RefitCamera(o, n[1]);
}

void ModCP_Reset(ModCPObject* o, int32_t cam) {
  if (o == nullptr) return;
  if (cam == -2) {
    for (int32_t c = 0; c < o->cameraCount; ++c) {
      o->K[c][2] = static_cast<float>(o->width) / 2.0f;
      o->K[c][5] = static_cast<float>(o->height) / 2.0f;
    }
    RefitAll(o);
    o->state = 3;
    return;
  }
  if (cam == -1) {
    memcpy(o->curR, o->resetR, sizeof o->curR);
    memcpy(o->curT, o->resetT, sizeof o->curT);
    if (o->mode == 1 && o->state == 1) {
      RefitAll(o);
      o->state = 2;
    }
    return;
  }
  if (!ValidCamera(o, cam)) return;
  if (o->mode == 1 && o->state == 1) {
    RefitAll(o);
    o->state = 2;
    return;
  }
  memcpy(o->curR[cam], o->resetR[cam], sizeof o->curR[cam]);
  memcpy(o->curT[cam], o->resetT[cam], sizeof o->curT[cam]);
  if (o->mode == 1) {
    for (int32_t c = 0; c < kModCPBlocks * 4; ++c) {
      o->cornerX[c] -= o->changeX[cam][c];
      o->cornerY[c] -= o->changeY[cam][c];
    }
    memset(o->changeX[cam], 0, sizeof o->changeX[cam]);
    memset(o->changeY[cam], 0, sizeof o->changeY[cam]);
    const int32_t* n = Neighbours(o, cam);
    ModCP_RefitCamera(o, cam);
    ModCP_RefitCamera(o, n[0]);
    ModCP_RefitCamera(o, n[1]);
  }
}

void ModCP_Output(const ModCPObject* o, float* outRotations, float* outPositions) {
  if (o == nullptr) return;
  for (int32_t c = 0; c < o->cameraCount; ++c) {
    if (outRotations != nullptr) memcpy(outRotations + 3 * c, o->curR[c], sizeof o->curR[c]);
    if (outPositions != nullptr) memcpy(outPositions + 3 * c, o->curT[c], sizeof o->curT[c]);
  }
}

int32_t ModCP_SaveConfig(ModCPObject* o, const char* lutPath1, const char* lutPath2, const char* configPath1,
                         const char* configPath2) {
  if (o == nullptr || o->state == 0 || configPath1 == nullptr) return 0;
  const bool six = o->cameraCount == 6;
  if (six && (configPath2 == nullptr || configPath2[0] == '\0')) return 0;
  // The poses go into in-memory copies of the camera files; the files on
  // disk change only once everything was regenerated and written.
  LutobPtr first = LoadLut(configPath1);
  if (!first) return 0;
  LutobPtr second;
  if (six) {
    second = LoadLut(configPath2);
    if (!second) return 0;
  }
  auto setPose = [&](LUTOB* lut, int32_t fileCam, int32_t slot) {
    memcpy(lut->params.R[fileCam], o->curR[slot], sizeof o->curR[slot]);
    memcpy(lut->params.T[fileCam], o->curT[slot], sizeof o->curT[slot]);
    if (o->state == 3) {
      lut->params.K[fileCam][2] = o->K[slot][2];
      lut->params.K[fileCam][5] = o->K[slot][5];
    }
  };
  const int32_t slots1[4] = {0, 1, 2, 3}, slots2[4] = {0, 1, 4, 5};
  for (int c = 0; c < 4; ++c) {
    setPose(first.get(), c, slots1[c]);
    if (six) setPose(second.get(), c, slots2[c]);
  }
  LUTOB* luts[2] = {first.get(), second.get()};
  const char* lutPaths[2] = {lutPath1, lutPath2};
  const char* cfgPaths[2] = {configPath1, configPath2};
  return RegenerateAndWrite(luts, six ? 2 : 1, lutPaths, cfgPaths) ? 1 : 0;
}

int32_t ModCP_ConfigFileBlind(int32_t extA, int32_t extB, int32_t extC, int32_t extD, const char* configPath1,
                              const char* configPath2, const char* lutPath1, const char* lutPath2) {
  if (configPath1 == nullptr) return 0;
  const bool two = configPath2 != nullptr && configPath2[0] != '\0' && lutPath2 != nullptr && lutPath2[0] != '\0';
  LutobPtr luts[2];
  const char* cfgPaths[2] = {configPath1, configPath2};
  const char* lutPaths[2] = {lutPath1, lutPath2};
  const int32_t n = two ? 2 : 1;
  const float dy = static_cast<float>(extB - extA) / 2.0f, dx = static_cast<float>(extD - extC) / 2.0f;
  for (int32_t i = 0; i < n; ++i) {
    luts[i] = LoadLut(cfgPaths[i]);
    if (!luts[i]) return 0;
    LUTOB* lut = luts[i].get();
    // A zero shift leaves the values (and their files) as they are, -0 included.
    for (int c = 0; c < 4; ++c) {
      if (dx != 0.0f) lut->params.T[c][0] += dx;
      if (dy != 0.0f) lut->params.T[c][1] += dy;
    }
    lut->cfg.carWidth += extC + extD;
    lut->cfg.carLength += extA + extB;
    LutConfig_CalcBlindArea(&lut->cfg, 1, 1);
  }
  LUTOB* raw[2] = {luts[0].get(), luts[1].get()};
  if (!RegenerateAndWrite(raw, n, lutPaths, cfgPaths)) return 0;
  // The global offsets follow only a rewrite that succeeded.
  GlobalVariables_ModChessParam(nullptr, nullptr, nullptr, nullptr);
  const int32_t ext[4] = {extA, extB, extC, extD};
  int32_t offsets[4];
  for (int k = 0; k < 4; ++k) {
    offsets[k] = gv().f20_23[k] + ext[k];
    if (offsets[k] == -1000) offsets[k] = -1001;  // -1000 is the writer's "keep"
  }
  GlobalVariables_ModChessParam(nullptr, offsets, nullptr, nullptr);
  return 1;
}
