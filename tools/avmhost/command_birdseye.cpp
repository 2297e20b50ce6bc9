// avmhost birdseye: build the bird's-eye files from a calibrated data
// directory and a quad frame through the exports, then stitch that frame on
// the CPU into the bird's-eye picture.
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "avm_library.h"
#include "command_views.h"
#include "birdseye_planes.h"
#include "commands.h"

namespace {
uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
}  // namespace

// One quadrant of the quad frame as a semi-planar 4:2:0 camera image
// (BT.601 studio range).
std::vector<uint8_t> QuadrantToNV12(const HostImage& quad, int32_t ox, int32_t oy, int32_t cw, int32_t ch) {
  std::vector<uint8_t> img(static_cast<size_t>(cw) * ch * 3 / 2);
  for (int32_t y = 0; y < ch; ++y)
    for (int32_t x = 0; x < cw; ++x) {
      const uint8_t* p = &quad.data[(static_cast<size_t>(oy + y) * quad.width + ox + x) * 3];
      img[static_cast<size_t>(y) * cw + x] = Clamp(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16);
    }
  uint8_t* uv = img.data() + static_cast<size_t>(cw) * ch;
  for (int32_t y = 0; y < ch / 2; ++y)
    for (int32_t x = 0; x < cw / 2; ++x) {
      int r = 0, g = 0, b = 0;
      for (int k = 0; k < 4; ++k) {
        const uint8_t* p = &quad.data[(static_cast<size_t>(oy + 2 * y + k / 2) * quad.width + ox + 2 * x + k % 2) * 3];
        r += p[0];
        g += p[1];
        b += p[2];
      }
      r /= 4;
      g /= 4;
      b /= 4;
      uv[(static_cast<size_t>(y) * (cw / 2) + x) * 2] = Clamp(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
      uv[(static_cast<size_t>(y) * (cw / 2) + x) * 2 + 1] = Clamp(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
    }
  return img;
}

HostImage NV12ToRgb(const uint8_t* luma, const uint8_t* chroma, int32_t w, int32_t h) {
  HostImage pic;
  pic.channels = 3;
  pic.width = w;
  pic.height = h;
  pic.data.resize(static_cast<size_t>(w) * h * 3);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const int c = luma[static_cast<size_t>(y) * w + x] - 16;
      const size_t ci = static_cast<size_t>(y / 2) * w + (x / 2) * 2;
      const int d = chroma[ci] - 128, e = chroma[ci + 1] - 128;
      uint8_t* p = &pic.data[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = Clamp((298 * c + 409 * e + 128) >> 8);
      p[1] = Clamp((298 * c - 100 * d - 208 * e + 128) >> 8);
      p[2] = Clamp((298 * c + 516 * d + 128) >> 8);
    }
  return pic;
}

bool ResolveBirdseyeExports(AvmLibrary& lib, BirdseyeExports* e) {
  e->setDir = lib.Get<decltype(e->setDir)>("KRV_TVDecoder_CaptureFileEx");
  e->init = lib.Get<decltype(e->init)>("KRV_GlobalImage_Init");
  e->release = lib.Get<decltype(e->release)>("KRV_GlobalImage_Release");
  e->loadLut = lib.Get<decltype(e->loadLut)>("KRV_GlobalImage_LoadLUTOB");
  e->getResult = lib.Get<decltype(e->getResult)>("KRV_GlobalImage_GetLUTOBResult_EX");
  e->unInitLut = lib.Get<decltype(e->unInitLut)>("KRV_GlobalImage_UnInitLUTOB");
  e->initMerger = lib.Get<decltype(e->initMerger)>("KRV_GlobalImage_InitMergerCPUOB");
  e->execMerger = lib.Get<decltype(e->execMerger)>("KRV_GlobalImage_ExecCPUMerger");
  e->unInitMerger = lib.Get<decltype(e->unInitMerger)>("KRV_GlobalImage_UnInitMergerCPUOB");
  return e->setDir && e->init && e->release && e->loadLut && e->getResult && e->unInitLut && e->initMerger &&
         e->execMerger && e->unInitMerger;
}

namespace {

}  // namespace

int StitchBirdseye(AvmLibrary& lib, const std::string& dir, const std::string& frame, const std::string& out,
                   bool verbose) {
  BirdseyeExports x{};
  if (!ResolveBirdseyeExports(lib, &x)) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  HostImage quad;
  if (!HostImage_ReadBmp(frame, &quad, 3) || quad.width % 4 != 0 || quad.height % 4 != 0) {
    fprintf(stderr, "avmhost: %s is not a quad frame in a 24- or 32-bit BMP with sides divisible by 4\n",
            frame.c_str());
    return 1;
  }
  const int32_t cw = quad.width / 2, ch = quad.height / 2;
  x.setDir(dir.c_str(), 0, 152, 0);
  const int initRc = x.init();
  if (verbose) {
    printf("data directory: %s\n", dir.c_str());
    printf("KRV_GlobalImage_Init: %d\n", initRc);
  }

  const std::string config = dir + "/lut_config.krv", byteLut = dir + "/lut_birdseye.krv";
  void* lut = x.loadLut(frame.c_str(), config.c_str(), nullptr);
  if (lut == nullptr) {
    fprintf(stderr, "avmhost: KRV_GlobalImage_LoadLUTOB failed for %s\n", config.c_str());
    x.release();
    return 1;
  }
  // Every file of the bird's-eye view: byte LUT, configuration, dynamic
  // alpha, mix-area information and the driver-assistance tables.
  const int saved = x.getResult(lut, byteLut.c_str(), config.c_str(), 0xBF);
  x.unInitLut(lut);
  if (verbose) printf("KRV_GlobalImage_GetLUTOBResult_EX: %d\n", saved);
  if (saved != 0) {
    x.release();
    return 1;
  }
  uint32_t w = 0, h = 0;
  void* merger = x.initMerger(config.c_str(), byteLut.c_str(), 0, cw, ch, 0, &w, &h);
  if (merger == nullptr) {
    fprintf(stderr, "avmhost: KRV_GlobalImage_InitMergerCPUOB failed\n");
    x.release();
    return 1;
  }
  if (verbose) printf("bird's-eye picture: %u x %u\n", w, h);
  std::vector<uint8_t> cams[4];
  const int32_t ox[4] = {0, cw, 0, cw}, oy[4] = {0, 0, ch, ch};
  for (int k = 0; k < 4; ++k) cams[k] = QuadrantToNV12(quad, ox[k], oy[k], cw, ch);
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h, 16), chroma(static_cast<size_t>(w) * ((h + 1) / 2), 128);
  uint8_t* planes[2] = {luma.data(), chroma.data()};
  uint32_t pitches[2] = {w, w};
  const std::vector<float> gains(24, 1.0f);
  x.execMerger(merger, cams[0].data(), cams[1].data(), cams[2].data(), cams[3].data(), planes, pitches, gains.data(),
               0);
  x.unInitMerger(merger);
  x.release();
  if (!HostImage_WriteBmp(out, NV12ToRgb(luma.data(), chroma.data(), static_cast<int32_t>(w), static_cast<int32_t>(h)))) {
    fprintf(stderr, "avmhost: cannot write %s\n", out.c_str());
    return 1;
  }
  if (verbose) printf("written: %s\n", out.c_str());
  return 0;
}

int RunBirdseye(AvmLibrary& lib, const std::vector<std::string>& args) {
  if (std::find(args.begin(), args.end(), "--six") != args.end()) return RunBirdseyeSix(lib, args);
  std::string dir = OptionValue(args, "--data");
  std::string frame = OptionValue(args, "--frame");
  const std::string out = OptionValue(args, "--out", "birdseye.bmp");
  if (dir.empty()) {
    fprintf(stderr, "avmhost: birdseye needs --data DIR\n");
    return 2;
  }
  if (frame.empty()) frame = dir + "/quad.bmp";
  return StitchBirdseye(lib, dir, frame, out, true);
}
