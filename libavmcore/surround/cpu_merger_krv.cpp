// CPU stitching object loaded from a KRVImage byte LUT.
#include <cstdio>
#include <vector>

#include "surround/cpu_merger.h"
#include "surround/krv_image.h"
#include "surround/lut_config.h"

int LUTCPU_InitFromFile(MergerCPUOB* obj, const char* krvImagePath, const char* lutConfigPath, int32_t userValue1,
                        int32_t cameraWidth, int32_t cameraHeight, int32_t userValue2, int32_t* outWidth,
                        int32_t* outHeight) {
  if (obj == nullptr) return 0;
  if (obj->loaded) return 1;
  LutConfigInfo info;
  CameraParamSet params;
  if (lutConfigPath == nullptr || LoadLUTConfig(&info, &params, lutConfigPath, nullptr) == 0) {
    printf("LUTCPU_InitFromFile LoadParam Failed %s \n", lutConfigPath != nullptr ? lutConfigPath : "(null)");
    return 0;
  }
  if (static_cast<int32_t>(info.quadWidth / 2) != cameraWidth ||
      static_cast<int32_t>(info.quadHeight / 2) != cameraHeight) {
    printf("LUTCPU_InitFromFile Width Height Not Right \n");
    return 0;
  }
  Matrix* m[4] = {nullptr, nullptr, nullptr, nullptr};
  int32_t pair1[2] = {0, 0}, pair2[2] = {0, 0};
  if (krvImagePath == nullptr || KRVImage_Load(krvImagePath, &m[0], &m[1], &m[2], &m[3], pair1, pair2) == 0) {
    printf("LUTCPU_InitFromFile LoadKRVImage Failed %s \n", krvImagePath != nullptr ? krvImagePath : "(null)");
    return 0;
  }
  const int32_t W = m[0]->cols, H = m[0]->rows / 2;
  int ok = 0;
  if (W >= 1 && H >= 1 && m[0]->rows % 2 == 0) {
    // Back to the stored bytes: every plane value is byte / 255.
    const size_t n = static_cast<size_t>(W) * 2 * H;
    std::vector<uint8_t> bytes[4];
    const uint8_t* planes[4];
    for (int k = 0; k < 4; ++k) {
      bytes[k].resize(n);
      for (size_t i = 0; i < n; ++i) bytes[k][i] = static_cast<uint8_t>(static_cast<int>(m[k]->data[i] * 255.0f + 0.5f));
      planes[k] = bytes[k].data();
    }
    // The file carries carLeft, carTop, carRight, carBottom; the loader
    // hands them back as the writer's pairs {top, left}, {bottom, right}.
    const int32_t carBox[4] = {pair1[1], pair1[0], pair2[1], pair2[0]};
    ok = LUTCPU_InitFromBytePlanes(obj, planes, W, H, static_cast<int32_t>(info.quadWidth),
                                   static_cast<int32_t>(info.quadHeight), cameraWidth, cameraHeight, carBox, userValue1,
                                   userValue2);
  } else {
    printf("LUTCPU_InitFromFile LoadKRVImage Failed %s \n", krvImagePath);
  }
  for (Matrix* p : m) KRVImage_FreeMatrix(p);
  if (ok && outWidth != nullptr) *outWidth = W;
  if (ok && outHeight != nullptr) *outHeight = H;
  return ok;
}
