// In-place patch of a camera parameter file and the pose adjustment it uses.
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "camera/rotation.h"
#include "frame/global_variables.h"
#include "camera/lut_config.h"
#include "frame/log.h"

namespace {

struct FileCloser {
  FILE* f;
  ~FileCloser() {
    if (f) fclose(f);
  }
};

bool ReadExact(FILE* f, void* dst, size_t bytes) { return fread(dst, 1, bytes, f) == bytes; }

long FileSize(FILE* f) {
  if (fseek(f, 0, SEEK_END) != 0) return -1;
  long size = ftell(f);
  if (fseek(f, 0, SEEK_SET) != 0) return -1;
  return size;
}

}  // namespace

int ModLUTConfigFileCounts(const char* path, int32_t frontOverhang, int32_t wheelBase,
                           int32_t splitLength, int mode, const float* rotations,
                           const float* positions, const float* worldPoints, int resetCentre,
                           int n, int m) {
  LutConfigLayout lay;
  if (path == nullptr || !LutConfigLayout_Make(n, m, &lay)) return 0;
  if (worldPoints != nullptr && n > kLutConfigPointCapacity) {
    AvmLog("ModLUTConfigFile: %d points per camera do not fit the world-point block\n", n);
    return 0;
  }
  if (mode != 0 && (rotations == nullptr || positions == nullptr)) {
    AvmLog("ModLUTConfigFile: pose change without rotations or positions\n");
    return 0;
  }
  FileCloser fc{fopen(path, "rb+")};
  if (fc.f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  FILE* f = fc.f;
  // Patch only a whole parameter file of this layout: a foreign or short
  // file would be corrupted by writes at computed offsets.
  uint32_t magic = 0;
  long size = FileSize(f);
  if (!ReadExact(f, &magic, 4) || magic != kLutConfigMagic || size < lay.size) {
    AvmLog("ModLUTConfigFile: %s is not a camera parameter file of this layout\n", path);
    return 0;
  }

  // Work out every change before the first write.
  CameraParamSet ps;
  if (mode != 0) {
    int32_t quad[2];
    if (fseek(f, lay.paramSet, SEEK_SET) != 0 || !ReadExact(f, &ps, sizeof ps) ||
        fseek(f, lay.quadWidth, SEEK_SET) != 0 || !ReadExact(f, quad, sizeof quad))
      return 0;
    for (int c = 0; c < 4; ++c) {
      if (mode == 2) {
        RotationVec_ApplyAngles(ps.R[c], rotations + 3 * c, ps.R[c]);
        for (int i = 0; i < 3; ++i) ps.T[c][i] += positions[3 * c + i];
      } else {
        for (int i = 0; i < 3; ++i) {
          ps.R[c][i] = rotations[3 * c + i];
          ps.T[c][i] = positions[3 * c + i];
        }
      }
    }
    if (resetCentre != 0) {
      for (int c = 0; c < 4; ++c) {
        ps.K[c][2] = static_cast<float>(quad[0]) * 0.25f;
        ps.K[c][5] = static_cast<float>(quad[1]) * 0.25f;
      }
    }
  }

  bool ok = true;
  auto write_at = [&](long off, const void* src, size_t bytes) {
    ok = ok && fseek(f, off, SEEK_SET) == 0 && fwrite(src, 1, bytes, f) == bytes;
  };
  if (frontOverhang != -1) write_at(lay.frontOverhang, &frontOverhang, 4);
  if (wheelBase != -1) write_at(lay.wheelBase, &wheelBase, 4);
  if (splitLength != -1) write_at(48, &splitLength, 4);
  if (mode != 0) write_at(lay.paramSet, &ps, sizeof ps);
  if (worldPoints != nullptr) {
    for (int c = 0; c < 4; ++c)
      write_at(lay.worldPoints + 12L * n * c, worldPoints + c * 3 * kLutConfigPointCapacity,
               12u * n);
  }
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  if (!ok) {
    AvmLog("ModLUTConfigFile: writing %s failed\n", path);
    return 0;
  }
  return 1;
}

void RotationVec_ApplyAngles(const float* rvecIn, const float* angles, float* rvecOut) {
  float m1[9], m2[9], m[9];
  float in[3] = {rvecIn[0], rvecIn[1], rvecIn[2]};
  RodriguesArr(in, m1, nullptr);
  // Rz(angles[2]) Ry(angles[1]) Rx(angles[0]).
  const float ordered[3] = {angles[2], angles[0], angles[1]};
  Matrix m2m{3, 3, m2};
  RotationFromAngles(ordered, &m2m);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      m[3 * r + c] = std::fma(m1[3 * r + 2], m2[6 + c], std::fma(m1[3 * r + 1], m2[3 + c], m1[3 * r] * m2[c]));
  Matrix mm{3, 3, m};
  float out[3];
  Matrix om{3, 1, out};
  RotationToAxisAngle(&mm, &om, 0);
  rvecOut[0] = out[0];
  rvecOut[1] = out[1];
  rvecOut[2] = out[2];
}

int ModLUTConfigFile(const char* path, int32_t frontOverhang, int32_t wheelBase, int32_t splitLength,
                     int32_t mode, const float* rotations, const float* positions, const float* worldPoints,
                     int32_t resetCentre) {
  const GlobalVariables& g = gv();
  return ModLUTConfigFileCounts(path, frontOverhang, wheelBase, splitLength, mode, rotations, positions,
                                worldPoints, resetCentre, g.pointsPerCamera, g.maxPoints);
}
