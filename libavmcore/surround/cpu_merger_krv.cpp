// CPU stitching objects loaded from a KRVImage byte LUT.
#include <cstdio>
#include <vector>

#include "surround/cpu_merger.h"
#include "surround/krv_image.h"
#include "toolkit/matrix_alloc.h"
#include "camera/lut_config.h"
#include "frame/log.h"

int LUTCPU_LoadByteLut(const char* krvImagePath, const char* lutConfigPath, int32_t cameraWidth,
                       int32_t cameraHeight, std::vector<uint8_t> planes[4], ByteLutGeometry* geometry) {
  LutConfigInfo info;
  CameraParamSet params;
  if (lutConfigPath == nullptr || LoadLUTConfig(&info, &params, lutConfigPath, nullptr) == 0) {
    AvmLog("LUTCPU_InitFromFile LoadParam Failed %s \n", lutConfigPath != nullptr ? lutConfigPath : "(null)");
    return 0;
  }
  if (static_cast<int32_t>(info.quadWidth / 2) != cameraWidth ||
      static_cast<int32_t>(info.quadHeight / 2) != cameraHeight) {
    AvmLog("LUTCPU_InitFromFile Width Height Not Right \n");
    return 0;
  }
  Matrix* m[4] = {nullptr, nullptr, nullptr, nullptr};
  int32_t pair1[2] = {0, 0}, pair2[2] = {0, 0};
  if (krvImagePath == nullptr || KRVImage_Load(krvImagePath, &m[0], &m[1], &m[2], &m[3], pair1, pair2) == 0) {
    AvmLog("LUTCPU_InitFromFile LoadKRVImage Failed %s \n", krvImagePath != nullptr ? krvImagePath : "(null)");
    return 0;
  }
  const int32_t w = m[0]->cols, h = m[0]->rows / 2;
  int ok = 0;
  if (w >= 1 && h >= 1 && m[0]->rows % 2 == 0) {
    // Back to the stored bytes: every plane value is byte / 255.
    const size_t n = static_cast<size_t>(w) * 2 * h;
    for (int k = 0; k < 4; ++k) {
      planes[k].resize(n);
      for (size_t i = 0; i < n; ++i) planes[k][i] = static_cast<uint8_t>(static_cast<int>(m[k]->data[i] * 255.0f + 0.5f));
    }
    geometry->W = w;
    geometry->H = h;
    geometry->qw = static_cast<int32_t>(info.quadWidth);
    geometry->qh = static_cast<int32_t>(info.quadHeight);
    int32_t* carBox = geometry->carBox;
    // The file carries carLeft, carTop, carRight, carBottom; the loader
    // hands them back as the writer's pairs {top, left}, {bottom, right}.
    carBox[0] = pair1[1];
    carBox[1] = pair1[0];
    carBox[2] = pair2[1];
    carBox[3] = pair2[0];
    ok = 1;
  } else {
    AvmLog("LUTCPU_InitFromFile LoadKRVImage Failed %s \n", krvImagePath);
  }
  for (Matrix* p : m) Matrix_Delete(p);
  return ok;
}

int LUTCPU_InitFromFile(MergerCPUOB* obj, const char* krvImagePath, const char* lutConfigPath, int32_t userValue1,
                        int32_t cameraWidth, int32_t cameraHeight, int32_t userValue2, int32_t* outWidth,
                        int32_t* outHeight) {
  if (obj == nullptr) return 0;
  if (obj->loaded) return 1;
  std::vector<uint8_t> bytes[4];
  ByteLutGeometry geometry{0, 0, 0, 0, {}};
  if (!LUTCPU_LoadByteLut(krvImagePath, lutConfigPath, cameraWidth, cameraHeight, bytes, &geometry)) return 0;
  const uint8_t* planes[4] = {bytes[0].data(), bytes[1].data(), bytes[2].data(), bytes[3].data()};
  const int ok = LUTCPU_InitFromBytePlanes(obj, planes, geometry, cameraWidth, cameraHeight, userValue1, userValue2);
  if (ok && outWidth != nullptr) *outWidth = geometry.W;
  if (ok && outHeight != nullptr) *outHeight = geometry.H;
  return ok;
}
