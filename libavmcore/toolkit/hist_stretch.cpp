#include <cstdint>
#include <vector>

#include "toolkit/thresholds.h"

void Image_HistStretch(Matrix* img, float p) {
  if (img == nullptr || img->cols < 1 || img->rows < 1) return;
  const int64_t n = static_cast<int64_t>(img->cols) * img->rows;
  auto bin = [](float v) {
    const float s = v * 255.0f + 0.5f;
    if (!(s > 0.0f)) return 0;
    return s >= 255.0f ? 255 : static_cast<int>(s);
  };
  std::vector<int64_t> hist(256, 0);
  for (int64_t i = 0; i < n; ++i) ++hist[bin(img->data[i])];
  // Half a percent at each end is noise and stray pixels, not the mark.
  const int64_t tail = n / 200;
  int lo = 0, hi = 255;
  for (int64_t run = 0; lo < 255; ++lo) {
    run += hist[lo];
    if (run > tail) break;
  }
  for (int64_t run = 0; hi > 0; --hi) {
    run += hist[hi];
    if (run > tail) break;
  }
  float level;
  if (hi - lo < 16)
    level = 2.0f;  // above every value: all 0
  else
    level = (static_cast<float>(lo) + p * static_cast<float>(hi - lo)) / 255.0f;
  for (int64_t i = 0; i < n; ++i) img->data[i] = img->data[i] > level ? 1.0f : 0.0f;
}
