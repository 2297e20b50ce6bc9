#include "toolkit/residual_rms.h"

#include <cmath>

float Residual_RMS(const Matrix* e) {
  const int n = e->rows / 2;
  const int stride = e->cols;
  float sum = 0.0f;
  for (int i = 0; i < n; ++i) {
    const float ex = e->data[(2 * i) * stride];
    const float ey = e->data[(2 * i + 1) * stride];
    sum += ex * ex + ey * ey;
  }
  return std::sqrt(sum / static_cast<float>(n));
}
