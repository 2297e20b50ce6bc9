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
  uint8_t* map = edges->data;
  if (w < 3 || h < 3) {  // no interior pixel: no edge
    memset(map, 0, n);
    return;
  }
  // Rows stream through small rings at the front of the work area: three
  // smoothed rows, two rows of gx and gy, three magnitude rows. Each row is
  // made just before the step that reads it, while it is still in cache.
  float* sRing = work;
  float* gxRing = work + 3 * static_cast<size_t>(w);
  float* gyRing = work + 5 * static_cast<size_t>(w);
  float* magBuf = work + 7 * static_cast<size_t>(w);
  const float* sRow[3] = {};
  auto smoothRow = [&](int32_t r) {
    const float* in = src->data + static_cast<size_t>(r) * w;
    if (r == 0 || r == h - 1) {
      sRow[r % 3] = in;  // border rows are copied unchanged
      return;
    }
    float* out = sRing + static_cast<size_t>(r % 3) * w;
    Image_Smooth3x3Row(in - w, in, in + w, out, w, 0);
    sRow[r % 3] = out;
  };
  auto gradientRow = [&](int32_t r) {  // interior row; its border columns are 0
    float* gx = gxRing + static_cast<size_t>(r % 2) * w;
    float* gy = gyRing + static_cast<size_t>(r % 2) * w;
    Image_SobelRow(sRow[(r - 1) % 3], sRow[r % 3], sRow[(r + 1) % 3], gx, gy, w, 255.0f);
    gx[0] = gy[0] = gx[w - 1] = gy[w - 1] = 0.0f;
  };
  smoothRow(0);
  smoothRow(1);
  smoothRow(2);
  gradientRow(1);
  memset(map, 0, n);
  const float low2 = low * low, high2 = high * high;
  // Three rolling magnitude rows: above, current, below.
  float* rows[3] = {magBuf, magBuf + w, magBuf + 2 * w};
  auto magRow = [&](float* out, int32_t y) {
    memset(out, 0, sizeof(float) * static_cast<size_t>(w));
    if (y <= 0 || y >= h - 1) return;
    const float* gx = gxRing + static_cast<size_t>(y % 2) * w;
    const float* gy = gyRing + static_cast<size_t>(y % 2) * w;
    for (int32_t x = 1; x < w - 1; ++x) out[x] = gx[x] * gx[x] + gy[x] * gy[x];
  };
  magRow(rows[0], 0);
  magRow(rows[1], 1);
  thread_local std::vector<int32_t> strong, weak;
  thread_local std::vector<uint8_t> flagRow;
  strong.clear();
  weak.clear();
  if (flagRow.size() < static_cast<size_t>(w) + 8) flagRow.resize(static_cast<size_t>(w) + 8);
  uint8_t* flags = flagRow.data();
  const float tan22 = 0.41421357f;
  for (int32_t y = 1; y < h - 1; ++y) {
    if (y + 2 < h) smoothRow(y + 2);
    if (y + 1 <= h - 2) gradientRow(y + 1);
    magRow(rows[2], y + 1);
    const float* above = rows[0];
    const float* mag = rows[1];
    const float* below = rows[2];
    const float* gx = gxRing + static_cast<size_t>(y % 2) * w;
    const float* gy = gyRing + static_cast<size_t>(y % 2) * w;
    // Non-maximum suppression of the whole row at once (bit 0: kept, bit 1:
    // above the high level): every direction's test is computed and the
    // pixel's own direction selects one, a form that vectorises.
    for (int32_t x = 1; x < w - 1; ++x) {
      const float m = mag[x];
      const float ax = std::fabs(gx[x]), ay = std::fabs(gy[x]);
      const int pos = gx[x] * gy[x] >= 0.0f;
      const float aboveL = above[x - 1], aboveR = above[x + 1], belowL = below[x - 1], belowR = below[x + 1];
      const float diagAbove = pos ? aboveL : aboveR;
      const float diagBelow = pos ? belowR : belowL;
      const int keepH = (m > mag[x - 1]) & (m >= mag[x + 1]);
      const int keepD = (m > diagAbove) & (m > diagBelow);
      const int keepV = (m > above[x]) & (m >= below[x]);
      const int horizontal = ay < tan22 * ax;
      const int diagonal = ay <= (tan22 + 2.0f) * ax;
      const int other = horizontal ^ 1;
      const int keep = (horizontal & keepH) | (other & diagonal & keepD) | (other & (diagonal ^ 1) & keepV);
      const int aboveLow = m <= low2 ? 0 : 1;  // a NaN magnitude passes here and fails the tests above
      flags[x] = static_cast<uint8_t>((aboveLow & keep) | ((m > high2) << 1));
    }
    flags[0] = 0;
    flags[w - 1] = 0;
    // Marking in row order: a kept pixel above the high level is strong
    // unless the previous pixel was marked strong or the pixel above is
    // strong; a pixel not kept clears the flag.
    uint8_t* mrow = map + static_cast<size_t>(y) * w;
    bool prevStrong = false;
    for (int32_t x = 1; x < w - 1;) {
      uint64_t word;
      if (x + 8 <= w - 1) {
        memcpy(&word, flags + x, sizeof word);
        if ((word & 0x0101010101010101ull) == 0) {
          prevStrong = false;
          x += 8;
          continue;
        }
      }
      const uint8_t f = flags[x];
      if ((f & 1) == 0) {
        prevStrong = false;
      } else {
        const int32_t idx = y * w + x;
        if ((f & 2) != 0 && !prevStrong && map[idx - w] != 1) {
          mrow[x] = 1;
          strong.push_back(idx);
          prevStrong = true;
        } else {
          mrow[x] = 2;
          weak.push_back(idx);
        }
      }
      ++x;
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
