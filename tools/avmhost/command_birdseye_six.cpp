// avmhost birdseye --six: the six-camera bird's-eye view through the
// exports. Each camera group (A: front, back, left-front, right-front from
// frame 1; B: front, back, left-rear, right-rear, its side cameras from
// frame 2) has its own calibrated parameter file; both are stitched on the
// CPU and meet at the split line across the vehicle, at the car's middle,
// which is the picture's middle row.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "avm_library.h"
#include "birdseye_planes.h"
#include "commands.h"

namespace {


struct Stitched {
  uint32_t w = 0, h = 0;
  std::vector<uint8_t> luma, chroma;
};

// One group: its LUT from the parameter file and quad frame, its byte LUT,
// then the CPU stitch of the quad frame.
bool StitchGroup(const BirdseyeExports& x, const std::string& dir, const char* tag, const HostImage& quad,
                 Stitched* out) {
  const std::string config = dir + "/lut_config_" + tag + ".krv", byteLut = dir + "/lut_birdseye_" + tag + ".krv";
  const std::string frame = dir + "/quad_" + tag + ".bmp";
  if (!HostImage_WriteBmp(frame, quad)) {
    fprintf(stderr, "avmhost: cannot write %s\n", frame.c_str());
    return false;
  }
  void* lut = x.loadLut(frame.c_str(), config.c_str(), nullptr);
  if (lut == nullptr) {
    fprintf(stderr, "avmhost: KRV_GlobalImage_LoadLUTOB failed for %s\n", config.c_str());
    return false;
  }
  const int saved = x.getResult(lut, byteLut.c_str(), config.c_str(), 0);
  x.unInitLut(lut);
  printf("group %s: KRV_GlobalImage_GetLUTOBResult_EX: %d\n", tag, saved);
  if (saved != 0) return false;
  const int32_t cw = quad.width / 2, ch = quad.height / 2;
  void* merger = x.initMerger(config.c_str(), byteLut.c_str(), 0, cw, ch, 0, &out->w, &out->h);
  if (merger == nullptr) {
    fprintf(stderr, "avmhost: KRV_GlobalImage_InitMergerCPUOB failed for group %s\n", tag);
    return false;
  }
  std::vector<uint8_t> cams[4];
  const int32_t ox[4] = {0, cw, 0, cw}, oy[4] = {0, 0, ch, ch};
  for (int k = 0; k < 4; ++k) cams[k] = QuadrantToNV12(quad, ox[k], oy[k], cw, ch);
  out->luma.assign(static_cast<size_t>(out->w) * out->h, 16);
  out->chroma.assign(static_cast<size_t>(out->w) * ((out->h + 1) / 2), 128);
  uint8_t* planes[2] = {out->luma.data(), out->chroma.data()};
  uint32_t pitches[2] = {out->w, out->w};
  const std::vector<float> gains(24, 1.0f);
  x.execMerger(merger, cams[0].data(), cams[1].data(), cams[2].data(), cams[3].data(), planes, pitches, gains.data(),
               0);
  x.unInitMerger(merger);
  return true;
}

}  // namespace

int RunBirdseyeSix(AvmLibrary& lib, const std::vector<std::string>& args) {
  const std::string dir = OptionValue(args, "--data");
  const std::string out = OptionValue(args, "--out", "birdseye_six.bmp");
  if (dir.empty()) {
    fprintf(stderr, "avmhost: birdseye --six needs --data DIR\n");
    return 2;
  }
  BirdseyeExports x{};
  if (!ResolveBirdseyeExports(lib, &x)) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  HostImage frame1, frame2;
  if (!HostImage_ReadBmp(dir + "/frame1.bmp", &frame1, 3) || !HostImage_ReadBmp(dir + "/frame2.bmp", &frame2, 3) ||
      frame1.width % 4 != 0 || frame1.height % 4 != 0 || frame2.width != frame1.width ||
      frame2.height * 2 != frame1.height) {
    fprintf(stderr,
            "avmhost: %s needs frame1.bmp (a quad frame, sides divisible by 4) and frame2.bmp (its width, half its "
            "height)\n",
            dir.c_str());
    return 1;
  }
  // Group B's quad frame: the end cameras of frame 1 over the rear side
  // cameras of frame 2.
  HostImage quadB = frame1;
  const size_t half = static_cast<size_t>(frame1.width) * (frame1.height / 2) * 3;
  memcpy(quadB.data.data() + half, frame2.data.data(), half);

  x.setDir(dir.c_str(), 0, 152, 0);
  printf("data directory: %s\n", dir.c_str());
  printf("KRV_GlobalImage_Init: %d\n", x.init());
  Stitched a, b;
  const bool ok = StitchGroup(x, dir, "a", frame1, &a) && StitchGroup(x, dir, "b", quadB, &b);
  x.release();
  if (!ok) return 1;
  if (a.w != b.w || a.h != b.h) {
    fprintf(stderr, "avmhost: the two groups' pictures differ in size\n");
    return 1;
  }
  // Rows above the split from group A, from it on from group B (an even row,
  // so that no chroma row is shared).
  const uint32_t split = (a.h / 2) & ~1u;
  memcpy(a.luma.data() + static_cast<size_t>(split) * a.w, b.luma.data() + static_cast<size_t>(split) * a.w,
         static_cast<size_t>(a.h - split) * a.w);
  memcpy(a.chroma.data() + static_cast<size_t>(split / 2) * a.w, b.chroma.data() + static_cast<size_t>(split / 2) * a.w,
         a.chroma.size() - static_cast<size_t>(split / 2) * a.w);
  printf("bird's-eye picture: %u x %u, split line at row %u\n", a.w, a.h, split);
  if (!HostImage_WriteBmp(out, NV12ToRgb(a.luma.data(), a.chroma.data(), static_cast<int32_t>(a.w), static_cast<int32_t>(a.h)))) {
    fprintf(stderr, "avmhost: cannot write %s\n", out.c_str());
    return 1;
  }
  printf("written: %s\n", out.c_str());
  return 0;
}
