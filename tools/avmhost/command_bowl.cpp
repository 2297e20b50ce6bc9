// avmhost bowl: the 3-D bowl view of a data directory through the exports.
// Creates the bowl object from lut_config.krv, fetches the four cameras'
// meshes and the view matrix of each orbit position, draws the textured
// meshes from the quad frame on the CPU with depth testing and writes one
// picture per position; then builds the 3-D LUT of the top view and writes
// its picture.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "avm_library.h"
#include "bowl_views.h"
#include "commands.h"
#include "host_image.h"

namespace {

struct BowlExports {
  void (*setDir)(const char*, int, int, int);
  int (*init)();
  int (*release)();
  void* (*initGrid)(const char*);
  int (*unInitGrid)(void*);
  int (*trian)(void*, int32_t, int32_t, uint32_t*, float*, float*);
  int (*mvp)(void*, float*, float*, float*, int32_t, int32_t, float, float, float, float, float, float, float, float,
             float);
  void* (*initLut)(const char*, int32_t, int32_t, float, float, float, float, float, float, float, float);
  int (*computeLut)(void*, int32_t, float*, int32_t, int32_t*, int32_t*, int32_t*, float*, float, float, float, float,
                    float, float, float, float, float);
  int (*unInitLut)(void*);
};

bool Resolve(AvmLibrary& lib, BowlExports* e) {
  e->setDir = lib.Get<decltype(e->setDir)>("KRV_TVDecoder_CaptureFileEx");
  e->init = lib.Get<decltype(e->init)>("KRV_GlobalImage_Init");
  e->release = lib.Get<decltype(e->release)>("KRV_GlobalImage_Release");
  e->initGrid = lib.Get<decltype(e->initGrid)>("KRV_GlobalImage_Init3DTrianOB");
  e->unInitGrid = lib.Get<decltype(e->unInitGrid)>("KRV_GlobalImage_UnInit3DTrianOB");
  e->trian = lib.Get<decltype(e->trian)>("KRV_GlobalImage_Generate3DTrian");
  e->mvp = lib.Get<decltype(e->mvp)>("KRV_GlobalImage_Generate3DMVP_EX");
  e->initLut = lib.Get<decltype(e->initLut)>("KRV_GlobalImage_Init3DLutOB");
  e->computeLut = lib.Get<decltype(e->computeLut)>("KRV_GlobalImage_Compute3DLut");
  e->unInitLut = lib.Get<decltype(e->unInitLut)>("KRV_GlobalImage_UnInit3DLutOB");
  return e->setDir && e->init && e->release && e->initGrid && e->unInitGrid && e->trian && e->mvp && e->initLut &&
         e->computeLut && e->unInitLut;
}

struct CameraMesh {
  std::vector<float> vertices, texture;
  uint32_t count = 0;
};

// The default bowl shape of the plain creation export, for the 3-D LUT.
const float kShape[8] = {2400, 5400, 6000, 1.0f, 2400, 3400, 4000, 1.0f};

}  // namespace

int RunBowl(AvmLibrary& lib, const std::vector<std::string>& args) {
  const std::string dir = OptionValue(args, "--data");
  std::string frame = OptionValue(args, "--frame");
  const std::string out = OptionValue(args, "--out", "avmhost-bowl");
  if (dir.empty()) {
    fprintf(stderr, "avmhost: bowl needs --data DIR\n");
    return 2;
  }
  if (frame.empty()) frame = dir + "/quad.bmp";
  BowlExports x{};
  if (!Resolve(lib, &x)) {
    fprintf(stderr, "avmhost: %s\n", lib.error().c_str());
    return 1;
  }
  HostImage quad;
  if (!HostImage_ReadBmp(frame, &quad, 1) || quad.width < 4 || quad.height < 4) {
    fprintf(stderr, "avmhost: %s is not a readable quad frame BMP\n", frame.c_str());
    return 1;
  }
  mkdir(out.c_str(), 0755);
  x.setDir(dir.c_str(), 0, 152, 0);
  printf("data directory: %s\n", dir.c_str());
  printf("KRV_GlobalImage_Init: %d\n", x.init());
  const std::string config = dir + "/lut_config.krv";
  void* grid = x.initGrid(config.c_str());
  if (grid == nullptr) {
    fprintf(stderr, "avmhost: KRV_GlobalImage_Init3DTrianOB failed for %s\n", config.c_str());
    x.release();
    return 1;
  }
  CameraMesh meshes[4];
  for (int c = 0; c < 4; ++c) {
    CameraMesh& m = meshes[c];
    x.trian(grid, c + 1, 3, &m.count, nullptr, nullptr);
    m.vertices.resize(static_cast<size_t>(m.count) * 9);
    m.texture.resize(static_cast<size_t>(m.count) * 12);
    x.trian(grid, c + 1, 3, &m.count, m.vertices.data(), m.texture.data());
    printf("camera %d: %u triangles\n", c + 1, m.count);
  }
  int failed = 0;
  for (const BowlOrbit& o : kBowlOrbits) {
    float mvp[16];
    x.mvp(grid, mvp, nullptr, nullptr, 0, 0, 1.0f, static_cast<float>(kBowlPictureW) / kBowlPictureH, 0.0f, 0.0f,
          o.pitch, o.yaw, o.distance, 0.0f, 0.0f);
    BowlCanvas canvas;
    BowlCanvas_Init(&canvas, kBowlPictureW, kBowlPictureH);
    for (int c = 0; c < 4; ++c)
      BowlCanvas_Draw(&canvas, c < 2 ? 0 : 1, meshes[c].vertices.data(), meshes[c].texture.data(), meshes[c].count,
                      12, mvp, quad);
    const std::string path = out + "/bowl_" + o.name + ".bmp";
    if (!HostImage_WriteBmp(path, BowlCanvas_Picture(canvas))) {
      fprintf(stderr, "avmhost: cannot write %s\n", path.c_str());
      failed = 1;
      continue;
    }
    printf("written: %s\n", path.c_str());
  }
  x.unInitGrid(grid);

  // The 3-D LUT of the top view.
  const BowlOrbit& top = kBowlOrbits[4];
  void* lut = x.initLut(config.c_str(), kBowlPictureW, kBowlPictureH, kShape[0], kShape[1], kShape[2], kShape[3],
                        kShape[4], kShape[5], kShape[6], kShape[7]);
  const size_t n = static_cast<size_t>(kBowlPictureW) * kBowlPictureH;
  std::vector<int32_t> uv1(2 * n), uv0(2 * n), weights(2 * n);
  float mvp[16];
  const int computed =
      lut == nullptr ? 1
                     : x.computeLut(lut, kBowlLutStep, mvp, 0, uv1.data(), uv0.data(), weights.data(), nullptr, 1.0f,
                                    static_cast<float>(kBowlPictureW) / kBowlPictureH, 0.0f, 0.0f, top.pitch, top.yaw,
                                    top.distance, 0.0f, 0.0f);
  x.unInitLut(lut);
  x.release();
  printf("KRV_GlobalImage_Compute3DLut: %d\n", computed);
  if (computed != 0) return 1;
  const std::string path = out + "/lut3d_" + top.name + ".bmp";
  if (!HostImage_WriteBmp(path, BowlLut_Picture(uv1, uv0, weights, kBowlPictureW, kBowlPictureH, quad))) {
    fprintf(stderr, "avmhost: cannot write %s\n", path.c_str());
    return 1;
  }
  printf("written: %s\n", path.c_str());
  return failed;
}
