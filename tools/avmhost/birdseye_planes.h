#pragma once
// Picture conversions of the birdseye commands.
#include <cstdint>
#include <vector>

#include "host_image.h"

// A cw x ch block of a colour picture at (ox, oy) as a semi-planar 4:2:0
// camera image (BT.601 studio range).
std::vector<uint8_t> QuadrantToNV12(const HostImage& quad, int32_t ox, int32_t oy, int32_t cw, int32_t ch);
// Semi-planar 4:2:0 planes (pitch w) back to a colour picture.
HostImage NV12ToRgb(const uint8_t* luma, const uint8_t* chroma, int32_t w, int32_t h);

class AvmLibrary;

// The exports the bird's-eye commands call, looked up in the loaded library.
struct BirdseyeExports {
  void (*setDir)(const char*, int, int, int);
  int (*init)();
  int (*release)();
  void* (*loadLut)(const char*, const char*, const char*);
  int (*getResult)(void*, const char*, const char*, uint32_t);
  int (*unInitLut)(void*);
  void* (*initMerger)(const char*, const char*, int32_t, int32_t, int32_t, int32_t, uint32_t*, uint32_t*);
  int (*execMerger)(void*, const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, uint8_t**, uint32_t*,
                    const float*, int32_t);
  int (*unInitMerger)(void*);
};

// False when any of them is missing.
bool ResolveBirdseyeExports(AvmLibrary& lib, BirdseyeExports* e);
