// Run-table and dynamic-alpha files of a LUT object.
#include <cstdio>

#include "surround/dyn_alpha.h"
#include "surround/lutob.h"
#include "surround/mab_file.h"
#include "surround/mab_lutob.h"

StitchMaps StitchMaps_OfLUTOB(const LUTOB* lut) {
  StitchMaps m{};
  m.camW = lut->camW;
  m.camH = lut->camH;
  for (int k = 0; k < 4; ++k) m.bandSizes[k] = lut->bandSizes[k];
  m.X1 = &lut->cfg.X1;
  m.Y1 = &lut->cfg.Y1;
  m.X2 = &lut->cfg.X2;
  m.Y2 = &lut->cfg.Y2;
  m.W1 = &lut->cfg.W1;
  m.W2 = &lut->cfg.W2;
  return m;
}

namespace {
DynAlphaSource SourceOf(const LUTOB* lut) {
  DynAlphaSource s{};
  s.maps = StitchMaps_OfLUTOB(lut);
  s.groundTable = &lut->cfg.groundTable;
  s.carWidth = lut->cfg.carWidth;
  s.carLength = lut->cfg.carLength;
  return s;
}
}  // namespace

int GenerateMABFile(const LUTOB* lut, const char* path) {
  if (lut == nullptr) return 1;
  return GenerateMABFileFromMaps(StitchMaps_OfLUTOB(lut), path) == 0 ? 0 : 1;
}

int GenerateMAB6File(const LUTOB* lutA, const LUTOB* lutB, const char* path) {
  if (lutA == nullptr || lutB == nullptr) return 1;
  return GenerateMAB6FileFromMaps(StitchMaps_OfLUTOB(lutA), StitchMaps_OfLUTOB(lutB), path) == 0 ? 0 : 1;
}

int SaveDynAlphaFile(const LUTOB* lut, const char* path, const Matrix* testMap) {
  if (lut == nullptr) return 1;
  return SaveDynAlphaFileFromMaps(SourceOf(lut), path, testMap);
}

int GenerateDynAlphaMABFiles(const LUTOB* lut, const char* pathA, const char* pathB) {
  if (lut == nullptr) return 1;
  return GenerateDynAlphaMABFilesFromMaps(SourceOf(lut), pathA, pathB);
}
