#pragma once
// A small grid of ground points beside the car projected into the side
// cameras, from which the colour step derives the brightness score.
#include <cstdint>

#include "frame/matrix_types.h"

// Areas 1..4: camera 3 front-left, camera 4 front-right, camera 3 rear-left,
// camera 4 rear-right; each an x table then a y table of 5 x 3 quad-frame
// coordinates (-1 + offset where a point is not seen).
struct ScoreGridInfo {
  uint32_t valid;
  uint32_t flag;
  int32_t camW, camH;
  ImageI32 tables[8];
};

// 1 when valid (now or before); 0 when the lut_config file at path cannot be
// read or its car is shorter than 3000 mm (the grid stays invalid).
int ScoreGridInfo_Build(ScoreGridInfo* grid, const char* path);
void ScoreGridInfo_Release(ScoreGridInfo* grid);
