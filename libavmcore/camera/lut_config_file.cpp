#include "camera/lut_config_file.h"
#include "frame/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Counts far beyond anything the calibration arrays hold mean a corrupt
// configuration; they would make offsets overflow long before that.
constexpr int kMaxPointsSane = 100000;

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) fclose(f);
  }
};

bool ReadExact(FILE* f, void* dst, size_t bytes) { return fread(dst, 1, bytes, f) == bytes; }

int32_t ClampCount(int32_t v, int m) {
  if (v < 0) return 0;
  return v > m ? m : v;
}

}  // namespace

void CameraParamSet_SetHeaders(CameraParamSet* set, CameraParamHeaders* h) {
  for (int c = 0; c < 4; ++c) {
    h->K[c] = Matrix{3, 3, set->K[c]};
    h->D[c] = Matrix{8, 1, set->D[c]};
    h->R[c] = Matrix{3, 1, set->R[c]};
    h->T[c] = Matrix{3, 1, set->T[c]};
  }
}

const char* LutConfigInfo_BadWord(const LutConfigInfo& in) {
  auto mm = [](uint32_t v) { return static_cast<int32_t>(v) >= 0 && static_cast<int32_t>(v) <= kLutConfigMaxMm; };
  if (!mm(in.carWidth)) return "carWidth";
  if (!mm(in.carLength)) return "carLength";
  if (!mm(in.carBoxParam)) return "carBoxParam";
  const int32_t overhang = static_cast<int32_t>(in.frontOverhang);
  if (overhang < -kLutConfigMaxMm || overhang > kLutConfigMaxMm) return "frontOverhang";
  // Each camera picture is half the quad frame: at least one pixel a side.
  if (in.quadWidth < kLutConfigMinQuadSide || in.quadWidth > kLutConfigMaxQuadSide) return "quadWidth";
  if (in.quadHeight < kLutConfigMinQuadSide || in.quadHeight > kLutConfigMaxQuadSide) return "quadHeight";
  for (uint32_t b : in.bandSizes)
    if (b > kLutConfigMaxBandSize) return "bandSizes";
  return nullptr;
}

bool LutConfigLayout_Make(int n, int m, LutConfigLayout* o) {
  if (n < 0 || m < n || m > kMaxPointsSane) return false;
  const long N = n, M = m;
  o->imagePoints = 68;
  o->worldPoints = 68 + 32 * N;
  o->paramSet = 68 + 80 * N;
  o->quadWidth = 436 + 80 * N;
  o->quadHeight = 440 + 80 * N;
  o->frontOverhang = 444 + 80 * N;
  o->wheelBase = 448 + 80 * N;
  o->seamAngles = 452 + 80 * N;
  o->moreImagePoints = 468 + 80 * N;
  o->moreWorldPoints = 468 + 48 * N + 32 * M;
  o->frontBlendWidth = 468 + 80 * M;
  o->rearBlendWidth = 472 + 80 * M;
  o->bandSizes = 476 + 80 * M;
  o->extraParam = 492 + 80 * M;
  o->size = 496 + 80 * M;
  return true;
}

int LoadLUTConfigCounts(LutConfigInfo* info, CameraParamSet* params, const char* path,
                        LutConfigPoints* points, int n, int m) {
  LutConfigLayout lay;
  if (info == nullptr || params == nullptr || path == nullptr) return 0;
  if (!LutConfigLayout_Make(n, m, &lay)) {
    AvmLog("LoadLUTConfig: impossible point counts %d %d\n", n, m);
    return 0;
  }
  if (points != nullptr && n > kLutConfigPointCapacity) {
    AvmLog("LoadLUTConfig: %d points per camera do not fit the buffer of %d\n", n,
           kLutConfigPointCapacity);
    return 0;
  }
  FileCloser fc{fopen(path, "rb")};
  if (fc.f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  FILE* f = fc.f;
  uint32_t head[17];  // magic and the 64 header bytes at offsets 4..67
  if (!ReadExact(f, head, sizeof head) || head[0] != kLutConfigMagic) {
    AvmLog("LoadLUTConfig: %s is not a camera parameter file\n", path);
    return 0;
  }

  // Everything goes to locals first: a refused file leaves the outputs as
  // they were.
  LutConfigInfo in{};
  in.quadWidth = 1440;
  in.quadHeight = 1152;
  in.frontOverhang = 500;
  in.wheelBase = 3000;
  in.carWidth = head[1];
  in.carLength = head[2];
  in.carBoxParam = head[3];
  in.model = head[4];
  for (int c = 0; c < 4; ++c) in.lensSlot[c] = head[5 + c];
  in.viewRange = head[9];
  in.extraValue = head[10];
  in.groupNumber = head[11];
  in.splitLength = head[12];
  // The counts index the point arrays of every reader: never beyond what
  // the file can hold.
  for (int c = 0; c < 4; ++c)
    in.cornerCount[c] = static_cast<uint32_t>(ClampCount(static_cast<int32_t>(head[13 + c]), m));

  std::vector<float> pts(static_cast<size_t>(80 * n) / 4);
  if (n > 0 && !ReadExact(f, pts.data(), pts.size() * sizeof(float))) {
    AvmLog("LoadLUTConfig: %s is short\n", path);
    return 0;
  }
  CameraParamSet ps;
  if (!ReadExact(f, &ps, sizeof ps)) {
    AvmLog("LoadLUTConfig: %s is short\n", path);
    return 0;
  }
  // The tail was added to the format over time: a file that ends after the
  // parameters keeps the defaults of the words it lacks.
  int32_t tail[4];
  if (ReadExact(f, tail, sizeof tail)) {
    in.quadWidth = static_cast<uint32_t>(tail[0]);
    in.quadHeight = static_cast<uint32_t>(tail[1]);
    in.frontOverhang = static_cast<uint32_t>(tail[2]);
    in.wheelBase = static_cast<uint32_t>(tail[3]);
  }
  if (static_cast<int32_t>(in.wheelBase) < 1 || static_cast<int32_t>(in.wheelBase) > 25000)
    in.wheelBase = 3000;
  int32_t end[5];
  if (fseek(f, lay.bandSizes, SEEK_SET) == 0 && ReadExact(f, end, sizeof end)) {
    for (int c = 0; c < 4; ++c) in.bandSizes[c] = static_cast<uint32_t>(end[c]);
    in.extraParam = static_cast<uint32_t>(end[4]);
  }

  if (const char* bad = LutConfigInfo_BadWord(in)) {
    AvmLog("LoadLUTConfig: %s has %s out of range, file refused\n", path, bad);
    return 0;
  }

  *info = in;
  *params = ps;
  if (points != nullptr && n > 0) {
    for (int c = 0; c < 4; ++c) {
      memcpy(points->image[c], &pts[static_cast<size_t>(c) * 2 * n], sizeof(float) * 2 * n);
      memcpy(points->world[c], &pts[static_cast<size_t>(8 * n + c * 3 * n)],
             sizeof(float) * 3 * n);
    }
  }
  return 1;
}

bool LutConfigFile_Write(const char* path, const LutConfigFileData& d, int n, int m) {
  LutConfigLayout lay;
  if (path == nullptr || !LutConfigLayout_Make(n, m, &lay)) return false;
  std::vector<uint8_t> buf(static_cast<size_t>(lay.size), 0);
  auto put = [&](long off, const void* src, size_t bytes) {
    memcpy(&buf[static_cast<size_t>(off)], src, bytes);
  };
  auto put32 = [&](long off, int32_t v) { put(off, &v, 4); };
  put32(0, static_cast<int32_t>(kLutConfigMagic));
  put32(4, d.carWidth);
  put32(8, d.carLength);
  put32(12, d.carBoxParam);
  put32(16, static_cast<int32_t>(d.model));
  for (int c = 0; c < 4; ++c) put32(20 + 4 * c, static_cast<int32_t>(d.lensSlot[c]));
  put32(36, d.viewRange);
  put32(40, d.extraValue);
  put32(44, d.groupNumber);
  put32(48, d.splitLength);
  for (int c = 0; c < 4; ++c) put32(52 + 4 * c, d.cornerCount[c]);
  for (int c = 0; c < 4; ++c) {
    if (d.image[c]) {
      put(lay.imagePoints + 8L * n * c, d.image[c], 8u * n);
      put(lay.moreImagePoints + 8L * (m - n) * c, d.image[c] + 2 * n, 8u * (m - n));
    }
    if (d.world[c]) {
      put(lay.worldPoints + 12L * n * c, d.world[c], 12u * n);
      put(lay.moreWorldPoints + 12L * (m - n) * c, d.world[c] + 3 * n, 12u * (m - n));
    }
  }
  put(lay.paramSet, &d.params, sizeof d.params);
  put32(lay.quadWidth, d.quadWidth);
  put32(lay.quadHeight, d.quadHeight);
  put32(lay.frontOverhang, d.frontOverhang);
  put32(lay.wheelBase, d.wheelBase);
  put(lay.seamAngles, d.seamAngles, sizeof d.seamAngles);
  put32(lay.frontBlendWidth, d.frontBlendWidth);
  put32(lay.rearBlendWidth, d.rearBlendWidth);
  put(lay.bandSizes, d.bandSizes, sizeof d.bandSizes);
  put32(lay.extraParam, d.extraParam);

  FILE* f = fopen(path, "wb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return false;
  }
  bool ok = fwrite(buf.data(), 1, buf.size(), f) == buf.size();
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok) AvmLog("LutConfigFile_Write: writing %s failed\n", path);
  return ok;
}

