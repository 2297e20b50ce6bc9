#include "calibration/solve/calibration_lock.h"
#include "frame/log.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "camera/camera_model.h"
#include "frame/lens_table.h"
#include "frame/global_variables.h"
#include "frame/clock.h"
#include "camera/lut_config.h"

namespace {

constexpr float kLockLimit = 3.51f;
constexpr float kLockEpsilon = 1.1920929e-07f;

}  // namespace

int32_t Lock_CalibrationAll(int32_t width, int32_t height, int32_t slot, int32_t model, int32_t count,
                            const float* imagePoints, const float* worldPoints, float* K, float* D,
                            float* R, float* T) {
  const GlobalVariables& g = gv();
  if (count < 1 || count > g.maxPoints) return -1;
  if (model == 3) {
    LensTable_Select(slot);
    if (static_cast<uint32_t>(LensTable_Current()->trackCount) > 1u && g.CalibLayoutCode != 14) return -1;
  }
  std::vector<float> world(static_cast<size_t>(3 * count)), image(static_cast<size_t>(2 * count));
  memcpy(world.data(), worldPoints, world.size() * sizeof(float));
  for (int32_t i = 0; i < count; ++i) {
    image[2 * i] = imagePoints[2 * i + 1];  // stored (row, column)
    image[2 * i + 1] = imagePoints[2 * i];
  }
  float k[9], d[8], r[3], t[3];
  memcpy(k, K, sizeof k);
  memcpy(d, D, sizeof d);
  memcpy(r, R, sizeof r);
  memcpy(t, T, sizeof t);
  k[2] = static_cast<float>(width) * 0.5f;
  k[5] = static_cast<float>(height) * 0.5f;
  Matrix wm{3, count, world.data()}, im{2, count, image.data()};
  Matrix km{3, 3, k}, dm{8, 1, d}, rm{3, 1, r}, tm{3, 1, t};
  const float err = CameraModel_Calibrate(width, height, model, &wm, &im, &km, &dm, &rm, kLockEpsilon, &tm, 2,
                                          100, 1, slot);
  if (!(err < kLockLimit)) return -1;
  AvmLog("Lock_CalibrationAll %f %f \n", k[2], k[5]);
  memcpy(K, k, sizeof k);
  memcpy(D, d, sizeof d);
  memcpy(R, r, sizeof r);
  memcpy(T, t, sizeof t);
  return 0;
}

int32_t ExecLockCalibration(LutConfigInfo* info, CameraParamSet* params, const char* path) {
  const uint32_t start = GetTickMs();
  const GlobalVariables& g = gv();
  const int32_t n = g.pointsPerCamera, m = g.maxPoints;
  LutConfigLayout lay;
  if (info == nullptr || params == nullptr || path == nullptr || !LutConfigLayout_Make(n, m, &lay)) return 0;
  LutConfigInfo in;
  CameraParamSet ps;
  if (LoadLUTConfigCounts(&in, &ps, path, nullptr, n, m) == 0) return 0;
  in.extraParam = 0;

  // The stored point pairs, in buffers of M points per camera.
  std::vector<float> image(static_cast<size_t>(4 * 2 * m), 0.0f), world(static_cast<size_t>(4 * 3 * m), 0.0f);
  bool pointsRead = false;
  if (FILE* f = fopen(path, "rb")) {
    std::vector<float> raw(static_cast<size_t>(20 * n));
    pointsRead = fseek(f, lay.imagePoints, SEEK_SET) == 0 &&
                 fread(raw.data(), sizeof(float), raw.size(), f) == raw.size();
    fclose(f);
    if (pointsRead) {
      for (int c = 0; c < 4; ++c) {
        memcpy(&image[static_cast<size_t>(c * 2 * m)], &raw[static_cast<size_t>(c * 2 * n)], sizeof(float) * 2 * n);
        memcpy(&world[static_cast<size_t>(c * 3 * m)], &raw[static_cast<size_t>(8 * n + c * 3 * n)],
               sizeof(float) * 3 * n);
      }
    }
  }

  const int32_t model = static_cast<int32_t>(in.model);
  const int32_t code = g.CalibLayoutCode;
  if (pointsRead && model != 5 && model != 6 && (IsLayoutCode_1_2_24(code) || code == 14)) {
    for (int c = 0; c < 4; ++c) {
      const float d0 = ps.D[c][0];
      if (!(d0 > 10.0f && d0 < 10000.0f)) continue;
      // Only the N stored points are real; a count beyond them would fit
      // zero-filled points.
      const int32_t count = static_cast<int32_t>(in.cornerCount[c]);
      if (count > n) continue;
      Lock_CalibrationAll(static_cast<int32_t>(in.quadWidth / 2), static_cast<int32_t>(in.quadHeight / 2),
                          static_cast<int32_t>(in.lensSlot[c]), model, count, &image[static_cast<size_t>(c * 2 * m)],
                          &world[static_cast<size_t>(c * 3 * m)], ps.K[c], ps.D[c], ps.R[c], ps.T[c]);
    }
  }
  *info = in;
  *params = ps;
  AvmLog("exec Lock Calibration %d \n", static_cast<int>(GetTickMs() - start));
  return 1;
}
