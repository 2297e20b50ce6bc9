#pragma once
// A stitching object as tests fill it by hand: marked loaded, sizes set,
// zeroed W x H tables and no runs (no packed chroma tables, so the stitch
// reads the full ones).
#include <cstddef>
#include <cstdint>

#include "surround/cpu_merger.h"

inline MergerCPUOB MergerByHand(int32_t W, int32_t H, int32_t cw, int32_t ch) {
  MergerCPUOB o;
  o.loaded = 1;
  o.outWidth = W;
  o.outHeight = H;
  o.camWidth = cw;
  o.camHeight = ch;
  const size_t n = static_cast<size_t>(W) * H;
  o.endLumaIndex.assign(n, 0);
  o.endChromaIndex.assign(n, 0);
  o.sideLumaIndex.assign(n, 0);
  o.sideChromaIndex.assign(n, 0);
  o.blendMap.assign(n, 0);
  return o;
}
