#include "toolkit/edges.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "toolkit/matrix.h"
#include "toolkit/smoothing.h"
#include "toolkit/linear_filters.h"
#include "toolkit/thinning.h"

size_t Image_DetectEdgesWorkFloats(int32_t width, int32_t height) {
  if (width < 1 || height < 1) return 0;
  const size_t n = static_cast<size_t>(width) * height;
  return 3 * n + 3 * static_cast<size_t>(width);
}

void Image_DetectEdges(const Matrix* src, float* work, ImageU8* edges, float low, float high) {
  const int32_t w = src->cols, h = src->rows;
  if (w < 1 || h < 1) return;
  const size_t n = static_cast<size_t>(w) * h;
  std::vector<float> own;
  if (!work) {
    own.resize(Image_DetectEdgesWorkFloats(w, h));
    work = own.data();
  }
  float* smooth = work;
  float* gxd = work + n;
  float* gyd = work + 2 * n;
  float* magBuf = work + 3 * n;
  Matrix S, GX, GY;
  Matrix_Init(&S, w, h, smooth);
  Matrix_Init(&GX, w, h, gxd);
  Matrix_Init(&GY, w, h, gyd);
  Image_Smooth3x3(src, &S, 0);
  Image_Sobel(&S, &GX, &GY, 255.0f);  // leaves the border alone: zero it
  for (int32_t x = 0; x < w; ++x) {
    gxd[x] = gyd[x] = 0.0f;
    gxd[n - w + x] = gyd[n - w + x] = 0.0f;
  }
  for (int32_t y = 0; y < h; ++y) {
    gxd[static_cast<size_t>(y) * w] = gyd[static_cast<size_t>(y) * w] = 0.0f;
    gxd[static_cast<size_t>(y) * w + w - 1] = gyd[static_cast<size_t>(y) * w + w - 1] = 0.0f;
  }

  uint8_t* map = edges->data;
  memset(map, 0, n);
  const float low2 = low * low, high2 = high * high;
  // Three rolling magnitude rows: above, current, below.
  float* rows[3] = {magBuf, magBuf + w, magBuf + 2 * w};
  auto magRow = [&](float* out, int32_t y) {
    memset(out, 0, sizeof(float) * static_cast<size_t>(w));
    if (y <= 0 || y >= h - 1) return;
    const float* gx = gxd + static_cast<size_t>(y) * w;
    const float* gy = gyd + static_cast<size_t>(y) * w;
    for (int32_t x = 1; x < w - 1; ++x) out[x] = gx[x] * gx[x] + gy[x] * gy[x];
  };
  magRow(rows[0], 0);
  magRow(rows[1], 1);
  std::vector<int32_t> strong, weak;
  strong.reserve(1024);
  weak.reserve(1024);
  const float tan22 = 0.41421357f;
  for (int32_t y = 1; y < h - 1; ++y) {
    magRow(rows[2], y + 1);
    const float* above = rows[0];
    const float* mag = rows[1];
    const float* below = rows[2];
    const float* gx = gxd + static_cast<size_t>(y) * w;
    const float* gy = gyd + static_cast<size_t>(y) * w;
    uint8_t* mrow = map + static_cast<size_t>(y) * w;
    bool prevStrong = false;
    for (int32_t x = 1; x < w - 1; ++x) {
      const float m = mag[x];
      if (m <= low2) {
        mrow[x] = 0;
        prevStrong = false;
        continue;
      }
      const float ax = std::fabs(gx[x]), ay = std::fabs(gy[x]);
      bool keep;
      if (ay < tan22 * ax) {
        keep = m > mag[x - 1] && m >= mag[x + 1];
      } else if (ay <= (tan22 + 2.0f) * ax) {
        const int32_t s = gx[x] * gy[x] >= 0.0f ? 1 : -1;
        keep = m > above[x - s] && m > below[x + s];
      } else {
        keep = m > above[x] && m >= below[x];
      }
      if (!keep) {
        mrow[x] = 0;
        prevStrong = false;
        continue;
      }
      const int32_t idx = y * w + x;
      if (m > high2 && !prevStrong && map[idx - w] != 1) {
        mrow[x] = 1;
        strong.push_back(idx);
        prevStrong = true;
      } else {
        mrow[x] = 2;
        weak.push_back(idx);
      }
    }
    float* t = rows[0];
    rows[0] = rows[1];
    rows[1] = rows[2];
    rows[2] = t;
  }
  // Hysteresis: weak pixels linked to strong ones become edges.
  const int32_t offs[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
  while (!strong.empty()) {
    const int32_t idx = strong.back();
    strong.pop_back();
    for (int32_t o : offs) {
      if (map[idx + o] == 2) {
        map[idx + o] = 1;
        strong.push_back(idx + o);
      }
    }
  }
  for (int32_t idx : weak)
    if (map[idx] == 2) map[idx] = 0;
  ImageU8_Thin(edges);
}

void Image_NonMaxSuppress(const Matrix* img, ImageU8* marks, int32_t n, int32_t margin, float t) {
  const int32_t w = img->cols, h = img->rows;
  memset(marks->data, 0, static_cast<size_t>(marks->width) * marks->height);
  if (n < 0) return;
  const float* d = img->data;
  for (int32_t by = margin + n; by < h - margin - n; by += n + 1) {
    for (int32_t bx = margin + n; bx < w - margin - n; bx += n + 1) {
      int32_t mr = by, mc = bx;
      float best = d[by * w + bx];
      for (int32_t r = by; r <= by + n && r < h; ++r)
        for (int32_t c = bx; c <= bx + n && c < w; ++c)
          if (d[r * w + c] > best) {
            best = d[r * w + c];
            mr = r;
            mc = c;
          }
      bool rejected = false;
      const int32_t r1 = std::min(h - 1 - margin, mr + n), c1 = std::min(w - 1 - margin, mc + n);
      for (int32_t r = mr - n; r <= r1 && !rejected; ++r)
        for (int32_t c = mc - n; c <= c1; ++c)
          if (d[r * w + c] > best) {
            rejected = true;
            break;
          }
      if (!rejected && best > t) marks->data[mr * marks->width + mc] = 1;
    }
  }
}
