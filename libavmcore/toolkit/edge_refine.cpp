#include <cmath>

#include "frame/patch_sampling.h"
#include "toolkit/edges.h"
#include "toolkit/matrix.h"

const float EdgeKernelX[49] = {
    0,       -0.015f,  -0.019f,  0, 0.019f,  0.015f,  0,
    -0.0224f, -0.0466f, -0.0233f, 0, 0.0233f, 0.0466f, 0.0224f,
    -0.0573f, -0.0466f, -0.0233f, 0, 0.0233f, 0.0466f, 0.0573f,
    -0.069f,  -0.0466f, -0.0233f, 0, 0.0233f, 0.0466f, 0.069f,
    -0.0573f, -0.0466f, -0.0233f, 0, 0.0233f, 0.0466f, 0.0573f,
    -0.0224f, -0.0466f, -0.0233f, 0, 0.0233f, 0.0466f, 0.0224f,
    0,       -0.015f,  -0.019f,  0, 0.019f,  0.015f,  0,
};

const float EdgeKernelY[49] = {
    0,      -0.0224f, -0.0573f, -0.069f, -0.0573f, -0.0224f, 0,
    -0.015f, -0.0466f, -0.0466f, -0.0466f, -0.0466f, -0.0466f, -0.015f,
    -0.019f, -0.0233f, -0.0233f, -0.0233f, -0.0233f, -0.0233f, -0.019f,
    0,      0,        0,        0,       0,        0,        0,
    0.019f,  0.0233f,  0.0233f,  0.0233f, 0.0233f,  0.0233f,  0.019f,
    0.015f,  0.0466f,  0.0466f,  0.0466f, 0.0466f,  0.0466f,  0.015f,
    0,      0.0224f,  0.0573f,  0.069f,  0.0573f,  0.0224f,  0,
};

const float EdgeKernelR[49] = {
    0,       0.0224f,  0.0394f,  0.0396f,  0.0394f,  0.0224f,  0,
    0.0224f, 0.0272f,  -0.0128f, -0.0261f, -0.0128f, 0.0272f,  0.0224f,
    0.0394f, -0.0128f, -0.0528f, -0.0661f, -0.0528f, -0.0128f, 0.0394f,
    0.0396f, -0.0261f, -0.0661f, -0.0794f, -0.0661f, -0.0261f, 0.0396f,
    0.0394f, -0.0128f, -0.0528f, -0.0661f, -0.0528f, -0.0128f, 0.0394f,
    0.0224f, 0.0272f,  -0.0128f, -0.0261f, -0.0128f, 0.0272f,  0.0224f,
    0,       0.0224f,  0.0394f,  0.0396f,  0.0394f,  0.0224f,  0,
};

int32_t Image_RefineEdgePoint(float* x, float* y, const Matrix* img) {
  float patchData[49];
  Matrix patch;
  Matrix_Init(&patch, 7, 7, patchData);
  Image_SamplePatchBilinear(img, &patch, *x, *y);
  float g1 = 0.0f, g2 = 0.0f, g3 = 0.0f;
  for (int32_t i = 0; i < 49; ++i) {
    g1 = std::fma(patchData[i], EdgeKernelX[i], g1);
    g2 = std::fma(patchData[i], EdgeKernelY[i], g2);
    g3 = std::fma(patchData[i], EdgeKernelR[i], g3);
  }
  if (std::sqrt(g2 * g2 + g1 * g1) < 0.04f) return 0;
  const float phi = std::atan(g2 / g1);
  const float t = g3 / (std::cos(phi) * g1 + std::sin(phi) * g2) * 3.5f;
  *y = *y + t * std::cos(phi);
  *x = *x + t * std::sin(phi);
  return 1;
}
