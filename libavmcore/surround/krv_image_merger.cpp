// CPU stitch of a KRVImageMerger: one camera frame through the byte planes,
// plain or with per-camera colour gains.
#include <algorithm>
#include <cmath>

#include "surround/krv_image.h"
#include "toolkit/pixel_formats.h"

namespace {

// One output pixel's two samples as the byte planes give them.
struct Unpacked {
  float w;       // first sample's weight
  float w2;      // W2 (second-half P3)
  int32_t x1, y1, x2, y2;
};

inline int32_t ByteAt(const Matrix* m, size_t i) { return static_cast<int32_t>(m->data[i] * 255.0f + 0.5f); }

inline int32_t ClampIndex(float v, int32_t n) {
  const int32_t i = static_cast<int32_t>(v);
  return i < 0 ? 0 : (i >= n ? n - 1 : i);
}

Unpacked Unpack(const KRVImageMerger* m, int32_t r, int32_t c) {
  const int32_t W = m->outWidth, H = m->outHeight;
  const size_t a = static_cast<size_t>(r) * W + c, b = static_cast<size_t>(H + r) * W + c;
  const int32_t p0 = ByteAt(m->planes[0], a), p1 = ByteAt(m->planes[1], a), p2 = ByteAt(m->planes[2], a),
                p3 = ByteAt(m->planes[3], a);
  const int32_t q0 = ByteAt(m->planes[0], b), q1 = ByteAt(m->planes[1], b), q2 = ByteAt(m->planes[2], b),
                q3 = ByteAt(m->planes[3], b);
  const float Wq = static_cast<float>(m->inWidth), Hq = static_cast<float>(m->inHeight);
  Unpacked u;
  u.w = (32.0f * static_cast<float>(p2 >> 5) + 8.0f * static_cast<float>(p3 & 3)) / 255.0f * 1.02822f;
  u.w2 = static_cast<float>(q3) / 255.0f;
  // A top byte with a full fraction addresses one column past the frame:
  // clamp to the last one.
  u.x1 = ClampIndex((p0 + static_cast<float>(p3 >> 2) / 63.0f) / 255.0f * Wq, m->inWidth);
  u.y1 = ClampIndex((p1 + static_cast<float>(p2 & 31) / 31.0f) / 255.0f * Hq, m->inHeight);
  u.x2 = ClampIndex((q0 + static_cast<float>(q2 >> 4) / 15.0f) / 255.0f * Wq, m->inWidth);
  u.y2 = ClampIndex((q1 + static_cast<float>(q2 & 15) / 15.0f) / 255.0f * Hq, m->inHeight);
  return u;
}

bool Convert(KRVImageMerger* m, int32_t format, const KRVMergerFrame* f) {
  if (m == nullptr || m->loaded == 0 || f == nullptr || f->data == nullptr || f->width != m->inWidth ||
      f->height != m->inHeight)
    return false;
  const Rgb24Image dst{m->inWidth, m->inHeight, 0, m->inRGB.data(), 3 * m->inWidth};
  uint8_t* data = const_cast<uint8_t*>(f->data);
  switch (format) {
    case 3:
    case 6: {
      const YuvSemiPlanarFrame src{f->width, f->height, data, data + static_cast<size_t>(f->stride) * f->height,
                                   f->stride};
      if (format == 3) Yuv_NV12ToRGB24(&src, &dst);
      else Yuv_NV21ToRGB24(&src, &dst);
      break;
    }
    case 4:
    case 7: {
      const PackedFrame src{f->width, f->height, data, f->stride};
      if (format == 4) Yuv_YUYVToRGB24(&src, &dst);
      else Yuv_UYVYToRGB24(&src, &dst);
      break;
    }
    default:
      break;
  }
  return true;
}

inline uint8_t Clamp255(float v) { return static_cast<uint8_t>(v >= 255.0f ? 255.0f : (v > 0.0f ? v : 0.0f)); }

const float kUnitRow[6] = {1, 1, 1, 1, 1, 1};

// Gain row (six floats) of a quad-frame sample at (x, y) of output row r.
// A sample on the middle row or column belongs to no camera: unit gains.
void GainRow(const KRVImageMerger* m, const float* table, int32_t r, int32_t x, int32_t y, float row[6]) {
  const int32_t hw = m->inWidth / 2, hh = m->inHeight / 2;
  const float* src = kUnitRow;
  int camera = 0;
  if (y < hh && x < hw) camera = 1;
  else if (y < hh && x > hw) camera = 2;
  else if (y > hh && x < hw) camera = 3;
  else if (y > hh && x > hw) camera = 4;
  if (camera == 3 || camera == 4) src = table + (camera == 3 ? 12 : 18);
  if (camera == 1 || camera == 2) {
    const int32_t H = m->outHeight;
    const float top = static_cast<float>(m->pair1[0]), bottom = static_cast<float>(m->pair2[0]);
    float t = 0.0f;
    if (camera == 1 && top > 0.0f) t = 7.99f - static_cast<float>(r) / (top / 7.99f);
    if (camera == 2 && H - bottom > 0.0f) t = 7.99f - static_cast<float>(H - 1 - r) / ((H - bottom) / 7.99f);
    // Rows 0..8: k + 1 must stay a row of this camera.
    const int32_t k = std::min(std::max(static_cast<int32_t>(t), 0), 7);
    const float f = t - static_cast<float>(k);
    const float* base = table + (camera == 1 ? 24 : 78);
    for (int i = 0; i < 6; ++i) row[i] = (1.0f - f) * base[6 * k + i] + f * base[6 * (k + 1) + i];
    return;
  }
  for (int i = 0; i < 6; ++i) row[i] = src[i];
}

int Stitch(KRVImageMerger* m, const float* table) {
  const int32_t W = m->outWidth, H = m->outHeight;
  if (W < 1 || m->planes[0]->rows < 2) return 0;
  const uint8_t* in = m->inRGB.data();
  for (int32_t r = 0; r < H; ++r)
    for (int32_t c = 0; c < W; ++c) {
      const Unpacked u = Unpack(m, r, c);
      const uint8_t* a = in + (static_cast<size_t>(u.y1) * m->inWidth + u.x1) * 3;
      const uint8_t* b = in + (static_cast<size_t>(u.y2) * m->inWidth + u.x2) * 3;
      uint8_t* o = m->outRGB.data() + (static_cast<size_t>(r) * W + c) * 3;
      float g1[3] = {1, 1, 1}, g2[3] = {1, 1, 1};
      if (table != nullptr) {
        float row1[6], row2[6];
        GainRow(m, table, r, u.x1, u.y1, row1);
        GainRow(m, table, r, u.x2, u.y2, row2);
        for (int i = 0; i < 3; ++i) {
          g1[i] = u.w2 * row1[i] + (1.0f - u.w2) * row1[i + 3];
          g2[i] = u.w2 * row2[i] + (1.0f - u.w2) * row2[i + 3];
        }
      }
      for (int i = 0; i < 3; ++i)
        o[i] = Clamp255(u.w * a[2 - i] * g1[i] + (1.0f - u.w) * b[2 - i] * g2[i]);
    }
  return 0;
}

}  // namespace

int KRVImageMerger_Exec(KRVImageMerger* merger, int32_t format, const KRVMergerFrame* frame) {
  if (!Convert(merger, format, frame)) return 1;
  return Stitch(merger, nullptr);
}

int KRVImageMerger_ExecColour(KRVImageMerger* merger, const float* colourTable, int32_t format,
                              const KRVMergerFrame* frame) {
  if (colourTable == nullptr || !Convert(merger, format, frame)) return 1;
  return Stitch(merger, colourTable);
}

int KRVImageMerger_ExecUYVY(KRVImageMerger* merger, const uint8_t* frame) {
  if (merger == nullptr) return 1;
  const KRVMergerFrame f{merger->inWidth, merger->inHeight, frame, 2 * merger->inWidth};
  return KRVImageMerger_Exec(merger, 7, &f);
}

int KRVImageMerger_ExecColourUYVY(KRVImageMerger* merger, const float* colourTable, const uint8_t* frame) {
  if (merger == nullptr) return 1;
  const KRVMergerFrame f{merger->inWidth, merger->inHeight, frame, 2 * merger->inWidth};
  return KRVImageMerger_ExecColour(merger, colourTable, 7, &f);
}
