#include "toolkit/frame_statistics.h"

#include <cstddef>
#include <cmath>
#include <cstring>

#include "toolkit/yuv_rgb_table.h"

namespace {

struct Rgb {
  int r, g, b;
};

inline Rgb FromYuv(int y, int u, int v) {
  uint8_t b, g, r;
  YuvRgb_Convert(y, u, v, &b, &g, &r);
  return {r, g, b};
}

// Colour of frame pixel (x, y) by layout code; false for an unknown code.
bool PixelRgb(int32_t code, const void* frame, int32_t x, int32_t y, Rgb* out) {
  switch (code) {
    case kPixelFormatI420: {
      const auto* f = static_cast<const YuvPlanarFrame*>(frame);
      const ptrdiff_t c = static_cast<ptrdiff_t>(y / 2) * (f->stride / 2) + x / 2;
      *out = FromYuv(f->luma[static_cast<ptrdiff_t>(y) * f->stride + x], f->planeU[c], f->planeV[c]);
      return true;
    }
    case kPixelFormatNV12:
    case kPixelFormatNV21: {
      const auto* f = static_cast<const YuvSemiPlanarFrame*>(frame);
      const uint8_t* pair = f->chroma + static_cast<ptrdiff_t>(y / 2) * f->stride + (x & ~1);
      const int u = code == kPixelFormatNV12 ? pair[0] : pair[1];
      const int v = code == kPixelFormatNV12 ? pair[1] : pair[0];
      *out = FromYuv(f->luma[static_cast<ptrdiff_t>(y) * f->stride + x], u, v);
      return true;
    }
    case kPixelFormatYUYV:
    case kPixelFormatUYVY: {
      const auto* f = static_cast<const PackedFrame*>(frame);
      const uint8_t* row = f->data + static_cast<ptrdiff_t>(y) * f->stride;
      const uint8_t* grp = row + 4 * (x / 2);
      if (code == kPixelFormatYUYV)
        *out = FromYuv(row[2 * x], grp[1], grp[3]);
      else
        *out = FromYuv(row[2 * x + 1], grp[0], grp[2]);
      return true;
    }
    case kPixelFormatRGB24: {
      const auto* f = static_cast<const Rgb24Image*>(frame);
      const uint8_t* p = f->data + static_cast<ptrdiff_t>(y) * f->stride + 3 * static_cast<ptrdiff_t>(x);
      *out = f->rgbOrder ? Rgb{p[0], p[1], p[2]} : Rgb{p[2], p[1], p[0]};
      return true;
    }
    case kPixelFormatRGB565: {
      const auto* f = static_cast<const PackedFrame*>(frame);
      const uint8_t* p = f->data + static_cast<ptrdiff_t>(y) * f->stride + 2 * static_cast<ptrdiff_t>(x);
      const unsigned w = p[0] | (p[1] << 8);
      *out = {static_cast<int>((w >> 8) & 0xF8), static_cast<int>((w >> 3) & 0xFC), static_cast<int>((w << 3) & 0xFF)};
      return true;
    }
    default:
      return false;
  }
}

// Shared walk of both colour statistics; bands is 8 or 1.
void BandStats(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame, int32_t colStep,
               int32_t rowStep, int bands, float* out) {
  for (int i = 0; i < 3 * bands; ++i) out[i] = 0.0f;
  if (xMap == nullptr || yMap == nullptr || frame == nullptr) return;
  const int32_t mw = xMap->width, mh = xMap->height;
  if (mw < 1 || mh < 1 || yMap->width != mw || yMap->height != mh) return;
  if (colStep < 1) colStep = 1;
  if (rowStep < 1) rowStep = 1;
  // Every descriptor begins with width and height; a map entry off the
  // frame (an unseen ground point, a record of another frame) is no sample.
  const int32_t* size = static_cast<const int32_t*>(frame);
  const int32_t fw = size[0], fh = size[1];
  float sum[3][8] = {};
  int64_t count[8] = {};
  const float bandRows = static_cast<float>(mh) / 7.98f;
  for (int32_t r = 0; r < mh; r += rowStep) {
    int b = 0;
    if (bands == 8) {
      b = static_cast<int>(static_cast<float>(r) / bandRows);
      b = b < 0 ? 0 : (b > 7 ? 7 : b);
    }
    for (int64_t c = 0; c < static_cast<int64_t>(mw) + colStep - 1; c += colStep) {
      const int32_t col = c < mw ? static_cast<int32_t>(c) : mw - 1;
      const ptrdiff_t i = static_cast<ptrdiff_t>(r) * mw + col;
      const int32_t x = xMap->data[i], y = yMap->data[i];
      if (x < 0 || x >= fw || y < 0 || y >= fh) continue;
      Rgb p;
      if (!PixelRgb(code, frame, x, y, &p)) return;
      sum[0][b] += static_cast<float>(std::log(p.r + 1.0));
      sum[1][b] += static_cast<float>(std::log(p.g + 1.0));
      sum[2][b] += static_cast<float>(std::log(p.b + 1.0));
      ++count[b];
    }
  }
  for (int ch = 0; ch < 3; ++ch)
    for (int b = 0; b < bands; ++b) out[ch * bands + b] = count[b] ? sum[ch][b] / static_cast<float>(count[b]) : 0.0f;
}

}  // namespace

void CalcBandColorStats(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame,
                        int32_t colStep, int32_t rowStep, float out[24]) {
  BandStats(xMap, yMap, code, frame, colStep, rowStep, 8, out);
}

void CalcBandColorStatsEx(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame,
                          int32_t colStep, int32_t rowStep, float out[3]) {
  BandStats(xMap, yMap, code, frame, colStep, rowStep, 1, out);
}

int CalcFrameBrightnessWindow(int32_t code, int32_t width, int32_t height, const uint8_t* frameA,
                              const uint8_t* frameB, int32_t) {
  if (frameA == nullptr || width < 1 || height < 1) return 0;
  const bool two = frameB != nullptr;
  const int32_t fw = two ? width / 2 : width, fh = two ? height / 2 : height;
  const double f = two ? static_cast<double>(width / 2) : width * 0.5;
  const int32_t x0 = static_cast<int32_t>(0.3 * f);
  const int32_t step = static_cast<int32_t>(f * 0.4 * 0.0625);
  const int32_t start[2] = {x0, two ? x0 : x0 + width / 2};
  const uint8_t* frames[2] = {frameA, two ? frameB : frameA};
  constexpr int32_t kRow = 8;
  // The windows must lie on the frame: row 8 and their last sample (with
  // the whole 4-byte group of a packed pixel) inside it.
  if (fh <= kRow || start[1] + 15 * step >= (fw & ~1)) return 0;
  int32_t sums[2];
  for (int wdx = 0; wdx < 2; ++wdx) {
    const uint8_t* fr = frames[wdx];
    uint8_t samples[16];
    for (int i = 0; i < 16; ++i) {
      const int32_t x = start[wdx] + i * step;
      int y, u, v;
      switch (code) {
        case kPixelFormatYUYV:
        case kPixelFormatUYVY: {
          const uint8_t* row = fr + static_cast<ptrdiff_t>(kRow) * 2 * fw;
          const uint8_t* grp = row + 4 * (x / 2);
          const bool yuyv = code == kPixelFormatYUYV;
          y = yuyv ? row[2 * x] : row[2 * x + 1];
          u = yuyv ? grp[1] : grp[0];
          v = yuyv ? grp[3] : grp[2];
          break;
        }
        case kPixelFormatNV12:
        case kPixelFormatNV21: {
          const uint8_t* pair = fr + static_cast<ptrdiff_t>(fw) * fh + static_cast<ptrdiff_t>(kRow / 2) * fw + (x & ~1);
          y = fr[static_cast<ptrdiff_t>(kRow) * fw + x];
          u = code == kPixelFormatNV12 ? pair[0] : pair[1];
          v = code == kPixelFormatNV12 ? pair[1] : pair[0];
          break;
        }
        case kPixelFormatRGB24:
          samples[i] = fr[static_cast<ptrdiff_t>(kRow) * 3 * fw + 3 * x + 2];
          continue;
        default:
          return 0;
      }
      samples[i] = YuvRgb_Channel(y, u, v, kYuvRgbB);
    }
    // Insertion into ascending order; the sum of the 10 smallest.
    for (int i = 1; i < 16; ++i) {
      const uint8_t s = samples[i];
      int j = i - 1;
      for (; j >= 0 && samples[j] > s; --j) samples[j + 1] = samples[j];
      samples[j + 1] = s;
    }
    int32_t s = 0;
    for (int i = 0; i < 10; ++i) s += samples[i];
    sums[wdx] = s;
  }
  if (sums[0] > 1250 || sums[1] > 1250) return 0;
  return (sums[0] < 850 || sums[1] < 850) ? 1 : 0;
}

int32_t Frame_SumLumaAtMap(const ImageI32* xMap, const ImageI32* yMap, int32_t code, const void* frame,
                           uint32_t histogram[256], int32_t fallback) {
  if (xMap == nullptr || yMap == nullptr || frame == nullptr || histogram == nullptr) return 0;
  const int32_t mw = xMap->width, mh = xMap->height;
  if (mw < 1 || mh < 1 || yMap->width != mw || yMap->height != mh) return 0;
  int32_t counted = 0;
  const ptrdiff_t n = static_cast<ptrdiff_t>(mw) * mh;
  for (ptrdiff_t i = 0; i < n; ++i) {
    const int32_t x = xMap->data[i], y = yMap->data[i];
    if (x < 0 || y < 0) continue;
    int luma;
    switch (code) {
      case kPixelFormatI420: {
        const auto* f = static_cast<const YuvPlanarFrame*>(frame);
        luma = f->luma[static_cast<ptrdiff_t>(y) * f->stride + x];
        break;
      }
      case kPixelFormatNV12:
      case kPixelFormatNV21: {
        const auto* f = static_cast<const YuvSemiPlanarFrame*>(frame);
        luma = f->luma[static_cast<ptrdiff_t>(y) * f->stride + x];
        break;
      }
      case kPixelFormatYUYV:
      case kPixelFormatUYVY: {
        const auto* f = static_cast<const PackedFrame*>(frame);
        luma = f->data[static_cast<ptrdiff_t>(y) * f->stride + 2 * static_cast<ptrdiff_t>(x) + (code == kPixelFormatUYVY)];
        break;
      }
      case kPixelFormatRGB24: {
        Rgb p;
        PixelRgb(code, frame, x, y, &p);
        luma = Rgb_ToY(p.r, p.g, p.b);
        break;
      }
      case kPixelFormatRGB565: {
        const auto* f = static_cast<const PackedFrame*>(frame);
        const uint8_t* q = f->data + static_cast<ptrdiff_t>(y) * f->stride + 2 * static_cast<ptrdiff_t>(x);
        const unsigned p = q[0] | (q[1] << 8);
        // The blue field enters unshifted with weight 200 (= 25 * 8).
        luma = ((129 * ((p >> 3) & 0xFC) + 66 * ((p >> 8) & 0xF8) + 200 * (p & 31) + 128) >> 8) + 16;
        break;
      }
      default:
        luma = fallback;
        break;
    }
    ++histogram[luma & 255];
    ++counted;
  }
  return counted;
}

void LumaToMatrix(int32_t width, int32_t height, const uint8_t* luma, Matrix* m) {
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = luma + static_cast<ptrdiff_t>(y) * width;
    float* out = m->data + static_cast<ptrdiff_t>(y) * m->cols;
    for (int32_t x = 0; x < width; ++x) out[x] = in[x] / 255.0f;
  }
}

void ImageToMatrix(const PackedFrame* src, Matrix* m) {
  for (int32_t y = 0; y < m->rows; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * 2 * m->cols;
    float* out = m->data + static_cast<ptrdiff_t>(y) * m->cols;
    for (int32_t x = 0; x < m->cols; ++x) out[x] = in[2 * x + 1] / 255.0f;
  }
}

void SubsampleLumaU16(const uint8_t* plane, int32_t stride, ImageU16* dst) {
  for (int32_t r = 0; r < dst->height; ++r) {
    const uint8_t* in = plane + static_cast<ptrdiff_t>(2 * r) * stride;
    uint16_t* out = dst->data + static_cast<ptrdiff_t>(r) * dst->width;
    for (int32_t x = 0; x < dst->width; ++x) out[x] = in[2 * x];
  }
}

namespace {

void SubsampleGroups(const PackedFrame* src, ImageU16* dst, int byte) {
  for (int32_t r = 0; r < dst->height; ++r) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(2 * r) * src->stride;
    uint16_t* out = dst->data + static_cast<ptrdiff_t>(r) * dst->width;
    for (int32_t x = 0; x < dst->width; ++x) out[x] = in[4 * x + byte];
  }
}

}  // namespace

void SubsampleChromaU16A(const PackedFrame* src, ImageU16* dst) { SubsampleGroups(src, dst, 1); }

void SubsampleChromaU16B(const PackedFrame* src, ImageU16* dst) { SubsampleGroups(src, dst, 0); }
