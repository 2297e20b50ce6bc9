#include "toolkit/frame_savers.h"
#include "frame/log.h"

#include <cstddef>
#include <cstdio>
#include <vector>

namespace {

bool BadFrame(const void* frame, int w, int h, const char* path) {
  if (frame == nullptr || w < 0 || h < 0) {
    AvmLog("frame save %s rejected: no frame or bad size \n", path ? path : "(null)");
    return true;
  }
  return false;
}

// Converts into a temporary B, G, R picture of w x h and saves it.
template <class Convert>
int SaveConverted(int w, int h, const char* path, Convert convert) {
  std::vector<uint8_t> block(static_cast<size_t>(w) * h * 3);
  uint8_t none[3] = {0, 0, 0};
  Rgb24Image rgb{w, h, 0, block.empty() ? none : block.data(), 3 * w};
  convert(&rgb);
  return Bmp_SaveRGB24(&rgb, path);
}

// Scaled, clipped-above copy of n floats read through value(i).
template <class Value>
int SaveScaled(int w, int h, const char* path, float scale, Value value) {
  std::vector<float> block(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < block.size(); ++i) {
    const float v = scale * value(i);
    block[i] = v > 1.0f ? 1.0f : v;
  }
  // An empty picture still has a (zero-sized) pixel block: it is saved as
  // a header-only file, not refused as a missing one.
  float none = 0.0f;
  Matrix m{w, h, block.empty() ? &none : block.data()};
  return Bmp_SaveFloatPlanes(&m, path);
}

template <class Convert>
int SaveQuadSemiPlanar(int width, int height, const char* path, const uint8_t* const pics[4],
                       Convert convert) {
  if (width < 0 || height < 0 || !pics[0] || !pics[1] || !pics[2] || !pics[3]) {
    AvmLog("frame save %s rejected: missing picture or bad size \n", path ? path : "(null)");
    return 0;
  }
  // Odd sizes keep the quadrants at width / 2 x height / 2 in a joined
  // picture of twice that; the spare column or row is dropped.
  const int qw = width / 2, qh = height / 2;
  const int w = 2 * qw, h = 2 * qh;
  std::vector<uint8_t> joined(static_cast<size_t>(w) * h * 3 / 2, 0);
  for (int k = 0; k < 4; ++k) Quad_PutSemiPlanar(pics[k], joined.data(), qw, qh, k, 0);
  YuvSemiPlanarFrame frame{w, h, joined.data(), joined.data() + static_cast<size_t>(w) * h, w};
  return SaveConverted(w, h, path, [&](Rgb24Image* rgb) { convert(&frame, rgb); });
}

}  // namespace

int Bmp_SaveFrameI420(const YuvPlanarFrame* frame, const char* path) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  return SaveConverted(frame->width, frame->height, path, [&](Rgb24Image* rgb) { Yuv_I420ToRGB24(frame, rgb); });
}

int Bmp_SaveFrameNV12(const YuvSemiPlanarFrame* frame, const char* path) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  return SaveConverted(frame->width, frame->height, path, [&](Rgb24Image* rgb) { Yuv_NV12ToRGB24(frame, rgb); });
}

int Bmp_SaveFrameNV21(const YuvSemiPlanarFrame* frame, const char* path) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  return SaveConverted(frame->width, frame->height, path, [&](Rgb24Image* rgb) { Yuv_NV21ToRGB24(frame, rgb); });
}

int Bmp_SaveFrameYUYV(const PackedFrame* frame, const char* path) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  return SaveConverted(frame->width, frame->height, path, [&](Rgb24Image* rgb) { Yuv_YUYVToRGB24(frame, rgb); });
}

int Bmp_SaveFrameUYVY(const PackedFrame* frame, const char* path) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  return SaveConverted(frame->width, frame->height, path, [&](Rgb24Image* rgb) { Yuv_UYVYToRGB24(frame, rgb); });
}

int Bmp_SaveFrameRGB565(const PackedFrame* frame, const char* path) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  return SaveConverted(frame->width, frame->height, path, [&](Rgb24Image* rgb) { Rgb565_ToRGB24(frame, rgb); });
}

int Bmp_SaveQuadrantUYVY(const PackedFrame* frame, const char* path, int cameraMask) {
  if (BadFrame(frame, frame ? frame->width : 0, frame ? frame->height : 0, path)) return 0;
  if (cameraMask == 0 || cameraMask == 15) return Bmp_SaveFrameUYVY(frame, path);
  const int q = (cameraMask & 1) ? 0 : (cameraMask & 2) ? 1 : (cameraMask & 4) ? 2 : 3;
  const int qw = frame->width / 2, qh = frame->height / 2;
  // Quadrants sit qw pixels (2 * qw bytes) right and qh rows down.
  ptrdiff_t offset = 0;
  if (q == 1 || q == 3) offset += 2 * static_cast<ptrdiff_t>(qw);
  if (q == 2 || q == 3) offset += static_cast<ptrdiff_t>(qh) * frame->stride;
  PackedFrame part{qw, qh, frame->data + offset, frame->stride};
  return SaveConverted(qw, qh, path, [&](Rgb24Image* rgb) { Yuv_UYVYToRGB24(&part, rgb); });
}

int Bmp_SaveQuadNV12(int width, int height, const char* path, const uint8_t* p0, const uint8_t* p1,
                     const uint8_t* p2, const uint8_t* p3) {
  const uint8_t* const pics[4] = {p0, p1, p2, p3};
  return SaveQuadSemiPlanar(width, height, path, pics, Yuv_NV12ToRGB24);
}

int Bmp_SaveQuadNV21(int width, int height, const char* path, const uint8_t* p0, const uint8_t* p1,
                     const uint8_t* p2, const uint8_t* p3) {
  const uint8_t* const pics[4] = {p0, p1, p2, p3};
  return SaveQuadSemiPlanar(width, height, path, pics, Yuv_NV21ToRGB24);
}

int Bmp_SaveQuadUYVY(int width, int height, const char* path, const uint8_t* p0, const uint8_t* p1,
                     const uint8_t* p2, const uint8_t* p3) {
  const uint8_t* const pics[4] = {p0, p1, p2, p3};
  if (width < 0 || height < 0 || !p0 || !p1 || !p2 || !p3) {
    AvmLog("frame save %s rejected: missing picture or bad size \n", path ? path : "(null)");
    return 0;
  }
  const int qw = width / 2, qh = height / 2;
  const int w = 2 * qw, h = 2 * qh;
  std::vector<uint8_t> joined(static_cast<size_t>(w) * h * 2, 0);
  for (int k = 0; k < 4; ++k) Quad_PutPacked422(pics[k], joined.data(), qw, qh, k);
  PackedFrame frame{w, h, joined.data(), 2 * w};
  return SaveConverted(w, h, path, [&](Rgb24Image* rgb) { Yuv_UYVYToRGB24(&frame, rgb); });
}

int Bmp_SaveScaledFloat(const Matrix* m, const char* path, float scale) {
  if (m == nullptr || m->cols < 0 || m->rows < 0 || (m->data == nullptr && m->cols > 0 && m->rows > 0)) {
    AvmLog("frame save %s rejected: no picture \n", path ? path : "(null)");
    return 0;
  }
  return SaveScaled(m->cols, m->rows, path, scale, [&](size_t i) { return m->data[i]; });
}

int Bmp_SaveFloatChannel(const FloatPixelImage* img, int channel, const char* path, float scale) {
  if (img == nullptr || channel < 0 || channel > 7 || img->width < 0 || img->height < 0 ||
      (img->data == nullptr && img->width > 0 && img->height > 0)) {
    AvmLog("frame save %s rejected: no picture or bad channel \n", path ? path : "(null)");
    return 0;
  }
  return SaveScaled(img->width, img->height, path, scale, [&](size_t i) { return img->data[8 * i + channel]; });
}
