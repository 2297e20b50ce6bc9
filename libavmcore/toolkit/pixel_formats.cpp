#include "toolkit/pixel_formats.h"

#include <cstddef>
#include <cstring>

#include "toolkit/yuv_rgb_table.h"

namespace {

// (s >> 6) clamped to 0..255 as one table read; the sums of the YUV table
// rows shift into -277..534, indexed from kClampZero.
constexpr int kClampZero = 320;
struct ClampTable {
  uint8_t v[1024];
};
constexpr ClampTable BuildClamp() {
  ClampTable t{};
  for (int i = 0; i < 1024; ++i) t.v[i] = static_cast<uint8_t>(i < kClampZero ? 0 : (i > kClampZero + 255 ? 255 : i - kClampZero));
  return t;
}
constexpr ClampTable kClampTable = BuildClamp();

inline uint8_t Clamp6(int s) { return kClampTable.v[(s >> 6) + kClampZero]; }

// Chroma part of one pixel (rows of V and U summed), shared by the pixels
// that use the same U and V.
struct Chroma {
  int b, g, r;
};

inline Chroma ChromaOf(int u, int v) {
  const int16_t* tu = YuvRgbTable[256 + u];
  const int16_t* tv = YuvRgbTable[512 + v];
  return {tv[0] + tu[0], tv[1] + tu[1], tv[2] + tu[2]};
}

// Writes one pixel at p in the destination's byte order.
template <bool kRgb>
inline void Store(uint8_t* p, const Chroma& c, int y) {
  const int16_t* ty = YuvRgbTable[y];
  const uint8_t b = Clamp6(c.b + ty[0]);
  const uint8_t g = Clamp6(c.g + ty[1]);
  const uint8_t r = Clamp6(c.r + ty[2]);
  p[0] = kRgb ? r : b;
  p[1] = g;
  p[2] = kRgb ? b : r;
}

// Two pixels sharing one chroma: every value is computed before the first
// byte is stored, so the stores (which may alias anything) do not force the
// table and source reads to be repeated.
template <bool kRgb>
inline void StorePair(uint8_t* p, int u, int v, int y0, int y1) {
  const Chroma c = ChromaOf(u, v);
  const int16_t* t0 = YuvRgbTable[y0];
  const int16_t* t1 = YuvRgbTable[y1];
  const uint8_t b0 = Clamp6(c.b + t0[0]), g0 = Clamp6(c.g + t0[1]), r0 = Clamp6(c.r + t0[2]);
  const uint8_t b1 = Clamp6(c.b + t1[0]), g1 = Clamp6(c.g + t1[1]), r1 = Clamp6(c.r + t1[2]);
  const uint8_t px[6] = {kRgb ? r0 : b0, g0, kRgb ? b0 : r0, kRgb ? r1 : b1, g1, kRgb ? b1 : r1};
  std::memcpy(p, px, 6);
}

inline void StoreFloat(float* p, const Chroma& c, int y) {
  const int16_t* ty = YuvRgbTable[y];
  p[0] = Clamp6(c.r + ty[2]) / 255.0f;
  p[1] = Clamp6(c.g + ty[1]) / 255.0f;
  p[2] = Clamp6(c.b + ty[0]) / 255.0f;
}

bool Empty(int w, int h) { return w < 1 || h < 1; }

// The table columns in arithmetic form, for rows converted many pixels at
// a time; every form is checked against the rule for all 256 inputs below,
// so they give exactly the table's entries while the compiler can vectorise
// them. The chroma columns are floor((A * k + C) / 2^S), plus one on the
// side where the rule's truncation toward zero rounds up. The luma column
// needs no wide product: with k = y - 16, 74.496 k + 0.5 is
// 74 k + k / 2 + 0.5 - 0.004 k, and for -16 <= k <= 239 the small term only
// decides the rounding of even k from 126 up and of every k below 0.
constexpr int32_t TermY(int32_t y) {
  const int32_t k = y - 16;
  const int32_t odd = k & 1;
  const int32_t below = k < 0;
  const int32_t late = (k >= 126) & (odd ^ 1);
  return 74 * k + (k >> 1) + below * (1 + odd) - late;
}
constexpr int32_t TermUB(int32_t u) { return ((529007 * (u - 128) + 2041) >> 12) + (u < 128); }
constexpr int32_t TermUG(int32_t u) { return ((-51249 * (u - 128) + 1019) >> 11) + (u > 128); }
constexpr int32_t TermVG(int32_t v) { return ((-213123 * (v - 128) + 2035) >> 12) + (v > 128); }
constexpr int32_t TermVR(int32_t v) { return ((209191 * (v - 128) + 1021) >> 11) + (v < 128); }

constexpr int32_t Rule(double factor, int value, int centre) {
  return static_cast<int32_t>(factor * 64 * (value - centre) + 0.5);
}
constexpr bool TermsFollowTheRule() {
  for (int x = 0; x < 256; ++x)
    if (TermY(x) != Rule(1.164, x, 16) || TermUB(x) != Rule(2.018, x, 128) || TermUG(x) != Rule(-0.391, x, 128) ||
        TermVG(x) != Rule(-0.813, x, 128) || TermVR(x) != Rule(1.596, x, 128))
      return false;
  return true;
}
static_assert(TermsFollowTheRule(), "arithmetic table columns");

inline int32_t Clamp255(int32_t s) {
  s >>= 6;
  s = s < 0 ? 0 : s;
  return s > 255 ? 255 : s;
}

// Pixels converted per pass: samples gathered into arrays (luma per pixel,
// chroma per pixel pair), converted in element-wise loops, then
// interleaved into the destination.
constexpr int kChunk = 256;

struct ChunkSamples {
  uint8_t y[kChunk], u[kChunk / 2], v[kChunk / 2];
};

// The sums of a chroma term and a luma term lie in -17721..34207; biased by
// kSumBias (a multiple of 64) they fit 16 unsigned bits, so the shift by 6
// and the clamp run on 16-bit lanes: ((s + bias) >> 6) - bias / 64 is
// exactly s >> 6.
constexpr int32_t kSumBias = 277 * 64;

inline uint8_t BiasedToByte(uint16_t biasedSum) {
  const uint16_t v = static_cast<uint16_t>(biasedSum >> 6);
  const uint16_t above = v > 277 ? static_cast<uint16_t>(v - 277) : 0;
  return static_cast<uint8_t>(above > 255 ? 255 : above);
}

template <bool kRgb>
void ConvertChunk(const ChunkSamples& s, int n, uint8_t* out) {
  // Terms modulo 2^16: the biased sums are exact in 16 bits.
  uint16_t ty[kChunk], cb[kChunk / 2], cg[kChunk / 2], cr[kChunk / 2];
  for (int i = 0; i < n; ++i) ty[i] = static_cast<uint16_t>(TermY(s.y[i]));
  for (int j = 0; j < n / 2; ++j) {
    const int32_t u = s.u[j], v = s.v[j];
    cb[j] = static_cast<uint16_t>(TermUB(u) + kSumBias);
    cg[j] = static_cast<uint16_t>(TermVG(v) + TermUG(u) + kSumBias);
    cr[j] = static_cast<uint16_t>(TermVR(v) + kSumBias);
  }
  uint8_t b[kChunk], g[kChunk], r[kChunk];
  for (int j = 0; j < n / 2; ++j) {
    const uint16_t y0 = ty[2 * j], y1 = ty[2 * j + 1];
    b[2 * j] = BiasedToByte(static_cast<uint16_t>(cb[j] + y0));
    b[2 * j + 1] = BiasedToByte(static_cast<uint16_t>(cb[j] + y1));
    g[2 * j] = BiasedToByte(static_cast<uint16_t>(cg[j] + y0));
    g[2 * j + 1] = BiasedToByte(static_cast<uint16_t>(cg[j] + y1));
    r[2 * j] = BiasedToByte(static_cast<uint16_t>(cr[j] + y0));
    r[2 * j + 1] = BiasedToByte(static_cast<uint16_t>(cr[j] + y1));
  }
  const uint8_t* first = kRgb ? r : b;
  const uint8_t* third = kRgb ? b : r;
  for (int i = 0; i < n; ++i) {
    out[3 * i] = first[i];
    out[3 * i + 1] = g[i];
    out[3 * i + 2] = third[i];
  }
}

// Converts the whole pairs of one row; gather(x0, n, samples) fills the
// samples of pixels x0 .. x0 + n - 1 (n even). Returns the pixels done.
template <bool kRgb, class Gather>
int ConvertPairs(int w, uint8_t* out, Gather gather) {
  ChunkSamples s;
  const int pairs = w & ~1;
  for (int x0 = 0; x0 < pairs; x0 += kChunk) {
    const int n = pairs - x0 < kChunk ? pairs - x0 : kChunk;
    gather(x0, n, &s);
    ConvertChunk<kRgb>(s, n, out + 3 * x0);
  }
  return pairs;
}

// Semi-planar rows; kU is the byte of U within a pair (0 NV12, 1 NV21).
template <bool kRgb, int kU>
void SemiPlanarRows(const YuvSemiPlanarFrame* src, const Rgb24Image* dst) {
  const int w = src->width, h = src->height;
  const ptrdiff_t inStride = src->stride, outStride = dst->stride;
  const uint8_t* const luma = src->luma;
  const uint8_t* const chroma = src->chroma;
  uint8_t* const data = dst->data;
  for (int y = 0; y < h; ++y) {
    const uint8_t* lum = luma + y * inStride;
    const uint8_t* chr = chroma + (y / 2) * inStride;
    uint8_t* out = data + y * outStride;
    const int x = ConvertPairs<kRgb>(w, out, [&](int x0, int n, ChunkSamples* s) {
      std::memcpy(s->y, lum + x0, n);
      const uint8_t* c = chr + x0;
      for (int j = 0; j < n / 2; ++j) {
        s->u[j] = c[2 * j + kU];
        s->v[j] = c[2 * j + 1 - kU];
      }
    });
    if (x < w) Store<kRgb>(out + 3 * x, ChromaOf(chr[x + kU], chr[x + 1 - kU]), lum[x]);
  }
}

template <int kU>
void SemiPlanarToRgb(const YuvSemiPlanarFrame* src, const Rgb24Image* dst) {
  if (Empty(src->width, src->height)) return;
  if (dst->rgbOrder)
    SemiPlanarRows<true, kU>(src, dst);
  else
    SemiPlanarRows<false, kU>(src, dst);
}

// Packed 4:2:2 rows; kY is the byte of Y0 in a group (0 YUYV, 1 UYVY),
// the U byte sits at 1 - kY and the V byte at 3 - kY.
template <bool kRgb, int kY>
void PackedRows(const PackedFrame* src, const Rgb24Image* dst) {
  const int w = src->width, h = src->height;
  const ptrdiff_t inStride = src->stride, outStride = dst->stride;
  const uint8_t* const in0 = src->data;
  uint8_t* const data = dst->data;
  for (int y = 0; y < h; ++y) {
    const uint8_t* in = in0 + y * inStride;
    uint8_t* out = data + y * outStride;
    const int x = ConvertPairs<kRgb>(w, out, [&](int x0, int n, ChunkSamples* s) {
      const uint8_t* g = in + 2 * x0;
      for (int j = 0; j < n / 2; ++j) {
        s->y[2 * j] = g[4 * j + kY];
        s->y[2 * j + 1] = g[4 * j + kY + 2];
        s->u[j] = g[4 * j + 1 - kY];
        s->v[j] = g[4 * j + 3 - kY];
      }
    });
    if (x < w) {
      const uint8_t* g = in + 2 * x;
      Store<kRgb>(out + 3 * x, ChromaOf(g[1 - kY], g[3 - kY]), g[kY]);
    }
  }
}

template <int kY>
void PackedToRgb(const PackedFrame* src, const Rgb24Image* dst) {
  if (Empty(src->width, src->height)) return;
  if (dst->rgbOrder)
    PackedRows<true, kY>(src, dst);
  else
    PackedRows<false, kY>(src, dst);
}

template <bool kRgb>
void PlanarRows(const YuvPlanarFrame* src, const Rgb24Image* dst) {
  const int w = src->width, h = src->height;
  const ptrdiff_t stride = src->stride, cstride = src->stride / 2, outStride = dst->stride;
  const uint8_t *const luma = src->luma, *const planeU = src->planeU, *const planeV = src->planeV;
  uint8_t* const data = dst->data;
  for (int y = 0; y < h; ++y) {
    const uint8_t* lum = luma + y * stride;
    const uint8_t* pu = planeU + (y / 2) * cstride;
    const uint8_t* pv = planeV + (y / 2) * cstride;
    uint8_t* out = data + y * outStride;
    const int x = ConvertPairs<kRgb>(w, out, [&](int x0, int n, ChunkSamples* s) {
      std::memcpy(s->y, lum + x0, n);
      std::memcpy(s->u, pu + x0 / 2, n / 2);
      std::memcpy(s->v, pv + x0 / 2, n / 2);
    });
    if (x < w) Store<kRgb>(out + 3 * x, ChromaOf(pu[x / 2], pv[x / 2]), lum[x]);
  }
}

void PackedToFloat(const PackedFrame* src, float* dst, int yOff) {
  if (Empty(src->width, src->height)) return;
  const int w = src->width;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * src->stride;
    float* out = dst + static_cast<ptrdiff_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      const uint8_t* g = in + 4 * (x / 2);
      StoreFloat(out + 3 * x, ChromaOf(g[1 - yOff], g[3 - yOff]), g[yOff + 2 * (x & 1)]);
    }
  }
}

// R, G, B of an RGB24 pixel by the image's byte order.
inline void Rgb(const uint8_t* p, int rgbOrder, int* r, int* g, int* b) {
  *g = p[1];
  if (rgbOrder) {
    *r = p[0];
    *b = p[2];
  } else {
    *r = p[2];
    *b = p[0];
  }
}

void RgbToSemiPlanar(const Rgb24Image* src, const YuvSemiPlanarFrame* dst, int uOff) {
  if (Empty(src->width, src->height)) return;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * src->stride;
    uint8_t* lum = dst->luma + static_cast<ptrdiff_t>(y) * dst->stride;
    uint8_t* chr = dst->chroma + static_cast<ptrdiff_t>(y / 2) * dst->stride;
    for (int x = 0; x < src->width; ++x) {
      int r, g, b;
      Rgb(in + 3 * x, src->rgbOrder, &r, &g, &b);
      lum[x] = Rgb_ToY(r, g, b);
      uint8_t* pair = chr + (x & ~1);
      pair[uOff] = Rgb_ToU(r, g, b);
      pair[1 - uOff] = Rgb_ToV(r, g, b);
    }
  }
}

void RgbToPacked(const Rgb24Image* src, const PackedFrame* dst, int yOff) {
  if (Empty(src->width, src->height)) return;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * src->stride;
    uint8_t* out = dst->data + static_cast<ptrdiff_t>(y) * dst->stride;
    for (int x = 0; x + 1 < src->width; x += 2) {
      int r0, g0, b0, r1, g1, b1;
      Rgb(in + 3 * x, src->rgbOrder, &r0, &g0, &b0);
      Rgb(in + 3 * x + 3, src->rgbOrder, &r1, &g1, &b1);
      uint8_t* grp = out + 2 * x;
      grp[yOff] = Rgb_ToY(r0, g0, b0);
      grp[yOff + 2] = Rgb_ToY(r1, g1, b1);
      grp[1 - yOff] = static_cast<uint8_t>((Rgb_ToU(r0, g0, b0) >> 1) + (Rgb_ToU(r1, g1, b1) >> 1));
      grp[3 - yOff] = static_cast<uint8_t>((Rgb_ToV(r0, g0, b0) >> 1) + (Rgb_ToV(r1, g1, b1) >> 1));
    }
  }
}

// Byte offsets of quadrant q in a picture of 2w x 2h with the given row
// length (in bytes) of one quadrant row and number of rows.
inline ptrdiff_t QuadOffset(int q, ptrdiff_t rowBytes, ptrdiff_t rows) {
  ptrdiff_t off = 0;
  if (q == 1 || q == 3) off += rowBytes;
  if (q == 2 || q == 3) off += rows * 2 * rowBytes;
  return off;
}

}  // namespace

void Yuv_I420ToRGB24(const YuvPlanarFrame* src, const Rgb24Image* dst) {
  if (Empty(src->width, src->height)) return;
  if (dst->rgbOrder)
    PlanarRows<true>(src, dst);
  else
    PlanarRows<false>(src, dst);
}

void Yuv_NV12ToRGB24(const YuvSemiPlanarFrame* src, const Rgb24Image* dst) {
  SemiPlanarToRgb<0>(src, dst);
}

void Yuv_NV21ToRGB24(const YuvSemiPlanarFrame* src, const Rgb24Image* dst) {
  SemiPlanarToRgb<1>(src, dst);
}

void Yuv_YUYVToRGB24(const PackedFrame* src, const Rgb24Image* dst) { PackedToRgb<0>(src, dst); }

void Yuv_UYVYToRGB24(const PackedFrame* src, const Rgb24Image* dst) { PackedToRgb<1>(src, dst); }

void Yuv_NV12ToFloatRGB(const YuvSemiPlanarFrame* src, float* dst) {
  if (Empty(src->width, src->height)) return;
  const int w = src->width;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* lum = src->luma + static_cast<ptrdiff_t>(y) * src->stride;
    const uint8_t* chr = src->chroma + static_cast<ptrdiff_t>(y / 2) * src->stride;
    float* out = dst + static_cast<ptrdiff_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      const uint8_t* pair = chr + (x & ~1);
      StoreFloat(out + 3 * x, ChromaOf(pair[0], pair[1]), lum[x]);
    }
  }
}

void Yuv_YUYVToFloatRGB(const PackedFrame* src, float* dst) { PackedToFloat(src, dst, 0); }

void Yuv_UYVYToFloatRGB(const PackedFrame* src, float* dst) { PackedToFloat(src, dst, 1); }

void Rgb24_ToI420(const Rgb24Image* src, const YuvPlanarFrame* dst) {
  if (Empty(src->width, src->height)) return;
  const int cstride = dst->stride / 2;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * src->stride;
    uint8_t* lum = dst->luma + static_cast<ptrdiff_t>(y) * dst->stride;
    uint8_t* pu = dst->planeU + static_cast<ptrdiff_t>(y / 2) * cstride;
    uint8_t* pv = dst->planeV + static_cast<ptrdiff_t>(y / 2) * cstride;
    for (int x = 0; x < src->width; ++x) {
      int r, g, b;
      Rgb(in + 3 * x, src->rgbOrder, &r, &g, &b);
      lum[x] = Rgb_ToY(r, g, b);
      pu[x / 2] = Rgb_ToU(r, g, b);
      pv[x / 2] = Rgb_ToV(r, g, b);
    }
  }
}

void Rgb24_ToNV12(const Rgb24Image* src, const YuvSemiPlanarFrame* dst) {
  RgbToSemiPlanar(src, dst, 0);
}

void Rgb24_ToNV21(const Rgb24Image* src, const YuvSemiPlanarFrame* dst) {
  RgbToSemiPlanar(src, dst, 1);
}

void Rgb24_ToYUYV(const Rgb24Image* src, const PackedFrame* dst) { RgbToPacked(src, dst, 0); }

void Rgb24_ToUYVY(const Rgb24Image* src, const PackedFrame* dst) { RgbToPacked(src, dst, 1); }

void Rgb24_ToFloatRGB(const Rgb24Image* src, float* dst) {
  if (Empty(src->width, src->height)) return;
  const int w = src->width;
  const int ri = src->rgbOrder ? 0 : 2;
  const int bi = 2 - ri;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * src->stride;
    float* out = dst + static_cast<ptrdiff_t>(y) * w * 3;
    for (int x = 0; x < w; ++x) {
      out[3 * x] = in[3 * x + ri] / 255.0f;
      out[3 * x + 1] = in[3 * x + 1] / 255.0f;
      out[3 * x + 2] = in[3 * x + bi] / 255.0f;
    }
  }
}

void Rgb565_ToRGB24(const PackedFrame* src, const Rgb24Image* dst) {
  if (Empty(src->width, src->height)) return;
  for (int y = 0; y < src->height; ++y) {
    const uint8_t* in = src->data + static_cast<ptrdiff_t>(y) * src->stride;
    uint8_t* out = dst->data + static_cast<ptrdiff_t>(y) * dst->stride;
    for (int x = 0; x < src->width; ++x) {
      const unsigned word = in[2 * x] | (in[2 * x + 1] << 8);
      const uint8_t r = static_cast<uint8_t>((word >> 8) & 0xF8);
      const uint8_t g = static_cast<uint8_t>((word >> 3) & 0xFC);
      const uint8_t b = static_cast<uint8_t>((word & 31) * 8);
      out[3 * x] = dst->rgbOrder ? r : b;
      out[3 * x + 1] = g;
      out[3 * x + 2] = dst->rgbOrder ? b : r;
    }
  }
}

void Quad_PutPacked422(const uint8_t* src, uint8_t* dst, int w, int h, int q) {
  if (w < 1 || h < 1) return;
  const ptrdiff_t row = 2 * static_cast<ptrdiff_t>(w);
  uint8_t* base = dst + QuadOffset(q, row, h);
  for (int y = 0; y < h; ++y) std::memcpy(base + y * 2 * row, src + y * row, row);
}

void Quad_GetPacked422(const uint8_t* src, uint8_t* dst, int w, int h, int q) {
  if (w < 1 || h < 1) return;
  const ptrdiff_t row = 2 * static_cast<ptrdiff_t>(w);
  const uint8_t* base = src + QuadOffset(q, row, h);
  for (int y = 0; y < h; ++y) std::memcpy(dst + y * row, base + y * 2 * row, row);
}

namespace {

// Copies between a small semi-planar picture and quadrant q of the large
// one; toLarge selects the direction.
void SemiPlanarQuad(const uint8_t* src, uint8_t* dst, int w, int h, int q, int shift,
                    bool toLarge) {
  if (w < 1 || h < 1) return;
  const ptrdiff_t W = w, H = h;
  const ptrdiff_t lumaOff = QuadOffset(q, W, H);
  // Chroma of the large picture starts at 4wh; its quadrant rows are h / 2.
  const ptrdiff_t chromaOff = 4 * W * H + QuadOffset(q, W, H / 2);
  for (ptrdiff_t y = 0; y < H; ++y) {
    const ptrdiff_t s = y * W, l = lumaOff + y * 2 * W;
    if (toLarge)
      std::memcpy(dst + l, src + s, W);
    else
      std::memcpy(dst + s, src + l, W);
    if (y % 2 == 0) {
      const ptrdiff_t sc = W * H + (y / 2) * W;
      const ptrdiff_t lc = chromaOff + (y / 2) * 2 * W;
      const ptrdiff_t n = shift ? W - 1 : W;
      const ptrdiff_t sh = shift ? 1 : 0;
      if (n < 1) continue;
      if (toLarge)
        std::memcpy(dst + lc, src + sc + sh, n);
      else
        std::memcpy(dst + sc + sh, src + lc, n);
    }
  }
}

}  // namespace

void Quad_PutSemiPlanar(const uint8_t* src, uint8_t* dst, int w, int h, int q, int shift) {
  SemiPlanarQuad(src, dst, w, h, q, shift, true);
}

void Quad_GetSemiPlanar(const uint8_t* src, uint8_t* dst, int w, int h, int q, int shift) {
  SemiPlanarQuad(src, dst, w, h, q, shift, false);
}

void Quad_CopySemiPlanar(const uint8_t* src, uint8_t* dst, int w, int h, int q) {
  if (w < 1 || h < 1) return;
  const ptrdiff_t W = w, H = h;
  const ptrdiff_t lumaOff = QuadOffset(q, W, H);
  const ptrdiff_t chromaOff = 4 * W * H + QuadOffset(q, W, H / 2);
  for (ptrdiff_t y = 0; y < H; ++y) {
    const ptrdiff_t l = lumaOff + y * 2 * W;
    std::memcpy(dst + l, src + l, W);
    if (y % 2 == 0) {
      const ptrdiff_t c = chromaOff + (y / 2) * 2 * W;
      std::memcpy(dst + c, src + c, W);
    }
  }
}
