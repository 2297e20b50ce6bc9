#include "toolkit/pixel_formats.h"

#include <cstddef>
#include <cstring>

#include "toolkit/vector_shuffle.h"
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

// Rows are converted 16 pixels at a time on vectors of eight 16-bit lanes
// (GCC vector extensions, which Clang shares; shuffles through
// vector_shuffle.h; NEON gets the same code), the last few pixels
// of a row by table. Lane i of a 16-byte vector read as eight 16-bit lanes
// holds bytes 2i and 2i + 1 as low and high byte.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16-bit lanes over byte pairs");

typedef uint8_t V16u8 __attribute__((vector_size(16)));
typedef uint16_t V8u16 __attribute__((vector_size(16)));
typedef int16_t V8i16 __attribute__((vector_size(16)));
typedef uint64_t V2u64 __attribute__((vector_size(16)));
typedef uint8_t V32u8 __attribute__((vector_size(32)));
typedef uint16_t V16u16 __attribute__((vector_size(32)));
typedef int16_t V16i16 __attribute__((vector_size(32)));
typedef uint64_t V4u64 __attribute__((vector_size(32)));

constexpr int kVecPixels = 16;

// The table columns in exact arithmetic form for 16-bit lanes. Each column
// of the rule, trunc(c * (x - centre) + 0.5), is I * x + ((a * M) >> 16)
// with a = x + off, plus a step at the centre where the truncation toward
// zero starts rounding the other way, plus a constant; everything modulo
// 2^16 (the constants fold into the bias of the sums below). (a * M) >> 16
// is the high half of a 16 x 16-bit product (pmulhuw; a widening multiply
// and an unzip on NEON). For c > 0 the step is -1 from the centre up: off places the
// centre at a = 2^15, so the step is the sign of a as a signed lane. For
// c < 0 it is +1 above the centre, from a compare. The forms are checked
// for all 256 inputs below.
struct ColumnForm {
  double factor;
  int centre;
  int32_t off, mul;  // a = x + off; I
  uint32_t high;     // M
};
constexpr ColumnForm kFormY{1.164, 16, 32752, 74, 32505};
constexpr ColumnForm kFormUB{2.018, 128, 32640, 129, 9959};
constexpr ColumnForm kFormUG{-0.391, 128, 32640, -26, 63961};
constexpr ColumnForm kFormVG{-0.813, 128, 32640, -53, 63437};
constexpr ColumnForm kFormVR{1.596, 128, 32640, 102, 9435};

constexpr int32_t Rule(const ColumnForm& f, int x) {
  return static_cast<int32_t>(f.factor * 64 * (x - f.centre) + 0.5);
}
// One lane of a form without its constant, modulo 2^16.
constexpr uint16_t FormLane(const ColumnForm& f, int x) {
  const uint32_t a = static_cast<uint32_t>(x + f.off);
  const int32_t step = f.factor > 0 ? -(x >= f.centre) : (x > f.centre);
  return static_cast<uint16_t>(static_cast<uint32_t>(f.mul * x) + ((a * f.high) >> 16) + step);
}
constexpr uint16_t FormConstant(const ColumnForm& f) {
  return static_cast<uint16_t>(static_cast<uint32_t>(Rule(f, 0)) - FormLane(f, 0));
}
constexpr bool FormFollowsTheRule(const ColumnForm& f) {
  if (f.off < 0 || f.off + 255 > 65535 || f.high > 65535 || f.mul > 255) return false;
  if (f.factor > 0 && f.off + f.centre != 32768) return false;
  for (int x = 0; x < 256; ++x)
    if (static_cast<uint16_t>(FormLane(f, x) + FormConstant(f)) != static_cast<uint16_t>(Rule(f, x))) return false;
  return true;
}
static_assert(FormFollowsTheRule(kFormY) && FormFollowsTheRule(kFormUB) && FormFollowsTheRule(kFormUG) &&
                  FormFollowsTheRule(kFormVG) && FormFollowsTheRule(kFormVR),
              "16-bit lane forms of the table columns");

// The sums of a chroma term and a luma term lie in -17721..34207; biased by
// kSumBias (a multiple of 64) they fit 16 unsigned bits, so the shift by 6
// and the clamp run on 16-bit lanes: ((s + bias) >> 6) - bias / 64 is
// exactly s >> 6, and the lane sums, exact modulo 2^16, are exact.
constexpr int32_t kBiasRows = 277;
constexpr int32_t kSumBias = kBiasRows * 64;

// Constants added to each chroma sum: the bias and the constants of the
// forms (the luma constant included).
constexpr uint16_t kConstB = static_cast<uint16_t>(kSumBias + FormConstant(kFormY) + FormConstant(kFormUB));
constexpr uint16_t kConstG =
    static_cast<uint16_t>(kSumBias + FormConstant(kFormY) + FormConstant(kFormUG) + FormConstant(kFormVG));
constexpr uint16_t kConstR = static_cast<uint16_t>(kSumBias + FormConstant(kFormY) + FormConstant(kFormVR));

// High half of the lane products, written per lane: GCC's block
// vectoriser turns it into the high-half multiply, which no
// vector-extension operator expresses.
// Always inlined (these helpers): the 32-pixel converter is compiled for
// another instruction set than its callers.
#define AVM_INLINE __attribute__((always_inline)) inline

template <class VU>
AVM_INLINE VU MulHigh(VU a, uint16_t m) {
  constexpr int kN = sizeof(VU) / 2;
  uint16_t in[kN], r[kN];
  std::memcpy(in, &a, sizeof a);
  for (int i = 0; i < kN; ++i) r[i] = static_cast<uint16_t>((static_cast<uint32_t>(in[i]) * m) >> 16);
  VU v;
  std::memcpy(&v, r, sizeof v);
  return v;
}

// A form without its constant on eight samples x (0..255 in 16-bit lanes)
// given also as x << 8. A positive I * x is the high half of
// (x << 8) * (I << 8), one instruction where the compiler would otherwise
// spell the constant product out in shifts and adds.
// VU / VI: unsigned / signed 16-bit lanes of one width (8 or 16 lanes).
template <const ColumnForm& kF, class VU, class VI>
AVM_INLINE VU FormLanes(VU x, VU xHigh) {
  const VU a = x + static_cast<uint16_t>(kF.off);
  const VU linear = kF.mul > 0 ? MulHigh(xHigh, static_cast<uint16_t>(kF.mul * 256))
                               : x * static_cast<uint16_t>(kF.mul);
  const VU product = linear + MulHigh(a, static_cast<uint16_t>(kF.high));
  // Lanes as signed: the sign of a, or a compare (samples are 0..255),
  // gives all ones where true.
  if (kF.factor > 0) return product + reinterpret_cast<VU>(reinterpret_cast<VI>(a) >> 15);
  const VI above = reinterpret_cast<VI>(x) > static_cast<int16_t>(kF.centre);
  return product - reinterpret_cast<VU>(above);
}

// Biased sums to bytes: (s >> 6) clamped to 0..255 for the even pixels (lo)
// and the odd ones (hi), returned as 16 bytes in pixel order.
template <class VB, class VU, class VI>
AVM_INLINE VB ClampPair(VU loSum, VU hiSum) {
  // After the shift the lanes are at most 1023: signed from here on.
  constexpr int16_t kLow = kBiasRows, kHigh = kBiasRows + 255;
  VI lo = reinterpret_cast<VI>(loSum >> 6);
  VI hi = reinterpret_cast<VI>(hiSum >> 6);
  lo = lo > kLow ? lo : kLow;
  hi = hi > kLow ? hi : kLow;
  lo = lo > kHigh ? kHigh : lo;
  hi = hi > kHigh ? kHigh : hi;
  // Both in kLow..kHigh: one subtraction takes the bias off both bytes
  // without a borrow between them.
  const VU bytes = reinterpret_cast<VU>(lo) + (reinterpret_cast<VU>(hi) << 8);
  return reinterpret_cast<VB>(bytes - static_cast<uint16_t>(kLow * 257));
}

// Converts 16 pixels: 16 luma bytes in pixel order and the 8 chroma pairs
// of 16 bytes (U at byte kU of each pair); stores 48 bytes at out. Kept
// out of line: inside the row loops GCC 12 leaves MulHigh as scalar
// products, while in a function of its own it becomes one instruction; the
// call costs little beside the body.
// The B, G and R bytes of pixels in pixel order from their luma and
// chroma pairs (U at byte kU of each pair); VB holds the bytes, VU / VI the
// 16-bit lanes over them.
template <class VB, class VU, class VI>
AVM_INLINE void ChannelsOf(VB luma, VU u, VU uHigh, VU v, VU vHigh, VB* b, VB* g, VB* r) {
  // Even pixels are the low bytes of the 16-bit lanes; each sample also
  // shifted up by 8 (see FormLanes).
  const VU y = reinterpret_cast<VU>(luma);
  const VU yEven = y & 0xFF, yEvenHigh = y << 8, yOdd = y >> 8, yOddHigh = y & 0xFF00;
  const VU tyE = FormLanes<kFormY, VU, VI>(yEven, yEvenHigh), tyO = FormLanes<kFormY, VU, VI>(yOdd, yOddHigh);
  const VU cb = FormLanes<kFormUB, VU, VI>(u, uHigh) + kConstB;
  const VU cg = FormLanes<kFormUG, VU, VI>(u, uHigh) + FormLanes<kFormVG, VU, VI>(v, vHigh) + kConstG;
  const VU cr = FormLanes<kFormVR, VU, VI>(v, vHigh) + kConstR;
  *b = ClampPair<VB, VU, VI>(cb + tyE, cb + tyO);
  *g = ClampPair<VB, VU, VI>(cg + tyE, cg + tyO);
  *r = ClampPair<VB, VU, VI>(cr + tyE, cr + tyO);
}

// The same from chroma pairs (U at byte kU of each pair): the first byte of
// each pair is the low byte of a 16-bit lane.
template <int kU, class VB, class VU, class VI>
AVM_INLINE void Channels(VB luma, VB chroma, VB* b, VB* g, VB* r) {
  const VU c = reinterpret_cast<VU>(chroma);
  const VU first = c & 0xFF, firstHigh = c << 8, second = c >> 8, secondHigh = c & 0xFF00;
  const VU u = kU == 0 ? first : second, uHigh = kU == 0 ? firstHigh : secondHigh;
  const VU v = kU == 0 ? second : first, vHigh = kU == 0 ? secondHigh : firstHigh;
  ChannelsOf<VB, VU, VI>(luma, u, uHigh, v, vHigh, b, g, r);
}

// Three-way interleave of 16 pixels' channels: 48 bytes at out.
template <bool kRgb>
AVM_INLINE void Store16(V16u8 b, V16u8 g, V16u8 r, uint8_t* out) {
  const V16u8 one = kRgb ? r : b, three = kRgb ? b : r;
  // The first channel and g into place, then the third.
  const V16u8 fg0 = AVM_SHUFFLE2(V16u8, one, g, 0, 16, 0, 1, 17, 1, 2, 18, 2, 3, 19, 3, 4, 20, 4, 5);
  const V16u8 o0 = AVM_SHUFFLE2(V16u8, fg0, three, 0, 1, 16, 3, 4, 17, 6, 7, 18, 9, 10, 19, 12, 13, 20, 15);
  const V16u8 fg1 =
      AVM_SHUFFLE2(V16u8, one, g, 21, 5, 6, 22, 6, 7, 23, 7, 8, 24, 8, 9, 25, 9, 10, 26);
  const V16u8 o1 = AVM_SHUFFLE2(V16u8, fg1, three, 0, 21, 2, 3, 22, 5, 6, 23, 8, 9, 24, 11, 12, 25, 14, 15);
  const V16u8 fg2 =
      AVM_SHUFFLE2(V16u8, one, g, 10, 11, 27, 11, 12, 28, 12, 13, 29, 13, 14, 30, 14, 15, 31, 15);
  const V16u8 o2 = AVM_SHUFFLE2(V16u8, fg2, three, 26, 1, 2, 27, 4, 5, 28, 7, 8, 29, 10, 11, 30, 13, 14, 31);
  std::memcpy(out, &o0, 16);
  std::memcpy(out + 16, &o1, 16);
  std::memcpy(out + 32, &o2, 16);
}

// Converts 16 pixels: 16 luma bytes in pixel order and the 8 chroma pairs
// of 16 bytes (U at byte kU of each pair); stores 48 bytes at out. Kept
// out of line: inside the row loops GCC 12 leaves MulHigh as scalar
// products, while in a function of its own it becomes one instruction; the
// call costs little beside the body.
template <bool kRgb, int kU>
__attribute__((noinline)) void Convert16(V16u8 luma, V16u8 chroma, uint8_t* out) {
  V16u8 b, g, r;
  Channels<kU, V16u8, V8u16, V8i16>(luma, chroma, &b, &g, &r);
  Store16<kRgb>(b, g, r, out);
}

// Blocks of 32 pixels: the arithmetic on 32-byte vectors of one AVX2
// register, the interleave per half; arguments are pointers, so that no
// calling convention depends on the vector width. Only where the build
// machine runs AVX2 (the rest of this file keeps the 16-byte instructions)
// elsewhere rows go through Convert16 alone.
#if defined(AVM_YUV_AVX2_BLOCKS)
constexpr bool kBlocks32 = true;
#define AVM_BLOCKS32_TARGET __attribute__((target("avx2")))
#else
constexpr bool kBlocks32 = false;
#define AVM_BLOCKS32_TARGET
#endif

// The channels' halves through the 16-byte interleave.
template <bool kRgb>
AVM_INLINE void Store32(const V32u8& b, const V32u8& g, const V32u8& r, uint8_t* out) {
  V16u8 h[3][2];
  std::memcpy(h[0], &b, 32);
  std::memcpy(h[1], &g, 32);
  std::memcpy(h[2], &r, 32);
  Store16<kRgb>(h[0][0], h[1][0], h[2][0], out);
  Store16<kRgb>(h[0][1], h[1][1], h[2][1], out + 48);
}

// 32 semi-planar pixels: 32 luma bytes and 16 chroma pairs read straight
// from the rows.
template <bool kRgb, int kU>
AVM_BLOCKS32_TARGET __attribute__((noinline)) void Convert32SemiPlanar(const uint8_t* luma, const uint8_t* chroma,
                                                                       uint8_t* out) {
  V32u8 l, c, b, g, r;
  std::memcpy(&l, luma, 32);
  std::memcpy(&c, chroma, 32);
  Channels<kU, V32u8, V16u16, V16i16>(l, c, &b, &g, &r);
  Store32<kRgb>(b, g, r, out);
}

// 32 planar pixels: 32 luma bytes, 16 U and 16 V bytes widened to 16-bit
// lanes.
template <bool kRgb>
AVM_BLOCKS32_TARGET __attribute__((noinline)) void Convert32Planar(const uint8_t* luma, const uint8_t* pu,
                                                                   const uint8_t* pv, uint8_t* out) {
  V32u8 l, b, g, r;
  V16u8 u8, v8;
  std::memcpy(&l, luma, 32);
  std::memcpy(&u8, pu, 16);
  std::memcpy(&v8, pv, 16);
  const V16u16 u = __builtin_convertvector(u8, V16u16), v = __builtin_convertvector(v8, V16u16);
  ChannelsOf<V32u8, V16u16, V16i16>(l, u, u << 8, v, v << 8, &b, &g, &r);
  Store32<kRgb>(b, g, r, out);
}

// 32 packed 4:2:2 pixels (64 bytes; Y0 at byte kY of each group of four).
// Within each 16-byte half the luma bytes go to its first 8 bytes and the
// chroma pairs to its last 8; 64-bit halves of the two reads then make the
// luma and chroma vectors with the pixels in the order 0-7, 16-23, 8-15,
// 24-31 (the same in both, so every pixel meets its own chroma), and the
// channels go back into pixel order before the interleave.
template <bool kRgb, int kY>
AVM_BLOCKS32_TARGET __attribute__((noinline)) void Convert32Packed(const uint8_t* in, uint8_t* out) {
  constexpr int L = kY, C = 1 - kY;
  V32u8 a, b;
  std::memcpy(&a, in, 32);
  std::memcpy(&b, in + 32, 32);
  a = AVM_SHUFFLE1(V32u8, a, L, L + 2, L + 4, L + 6, L + 8, L + 10, L + 12, L + 14, C, C + 2, C + 4, C + 6, C + 8,
                   C + 10, C + 12, C + 14, 16 + L, 18 + L, 20 + L, 22 + L, 24 + L, 26 + L, 28 + L, 30 + L, 16 + C,
                   18 + C, 20 + C, 22 + C, 24 + C, 26 + C, 28 + C, 30 + C);
  b = AVM_SHUFFLE1(V32u8, b, L, L + 2, L + 4, L + 6, L + 8, L + 10, L + 12, L + 14, C, C + 2, C + 4, C + 6, C + 8,
                   C + 10, C + 12, C + 14, 16 + L, 18 + L, 20 + L, 22 + L, 24 + L, 26 + L, 28 + L, 30 + L, 16 + C,
                   18 + C, 20 + C, 22 + C, 24 + C, 26 + C, 28 + C, 30 + C);
  const V4u64 qa = reinterpret_cast<V4u64>(a), qb = reinterpret_cast<V4u64>(b);
  const V32u8 luma = reinterpret_cast<V32u8>(AVM_SHUFFLE2(V4u64, qa, qb, 0, 4, 2, 6));
  const V32u8 chroma = reinterpret_cast<V32u8>(AVM_SHUFFLE2(V4u64, qa, qb, 1, 5, 3, 7));
  V32u8 ch[3];
  Channels<0, V32u8, V16u16, V16i16>(luma, chroma, &ch[0], &ch[1], &ch[2]);
  for (V32u8& c : ch) c = reinterpret_cast<V32u8>(AVM_SHUFFLE1(V4u64, reinterpret_cast<V4u64>(c), 0, 2, 1, 3));
  Store32<kRgb>(ch[0], ch[1], ch[2], out);
}

inline V16u8 Load16(const uint8_t* p) {
  V16u8 v;
  std::memcpy(&v, p, 16);
  return v;
}

// 8 bytes from each of p and q, interleaved.
inline V16u8 Interleave8(const uint8_t* p, const uint8_t* q) {
  uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, q, 8);
  const V16u8 v = reinterpret_cast<V16u8>(V2u64{a, b});
  return AVM_SHUFFLE1(V16u8, v, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
}

// The scalar forms of the table for the pixels after the last whole
// vector of a row: pairs from x on, then a last odd pixel.
template <bool kRgb, class PairAt>
inline void ConvertTail(int x, int w, uint8_t* out, PairAt pairAt) {
  for (; x + 1 < w; x += 2) {
    int y0, y1, u, v;
    pairAt(x, &y0, &y1, &u, &v);
    StorePair<kRgb>(out + 3 * x, u, v, y0, y1);
  }
  if (x < w) {
    int y0, y1, u, v;
    pairAt(x, &y0, &y1, &u, &v);  // y1 is not read past the row for a last odd pixel
    Store<kRgb>(out + 3 * x, ChromaOf(u, v), y0);
  }
}

// The bytes at L, L + 2, ... L + 14 of v to its first 8 bytes, those at
// C, C + 2, ... C + 14 to its last 8.
template <int L, int C>
inline V16u8 SplitHalf(V16u8 v) {
  return AVM_SHUFFLE1(V16u8, v, L, L + 2, L + 4, L + 6, L + 8, L + 10, L + 12, L + 14, C, C + 2, C + 4, C + 6,
                      C + 8, C + 10, C + 12, C + 14);
}

// Semi-planar rows; kU is the byte of U within a pair (0 NV12, 1 NV21).
template <bool kRgb, int kU>
void SemiPlanarRows(const YuvSemiPlanarFrame* src, const Rgb24Image* dst) {
  const int w = src->width, h = src->height;
  const ptrdiff_t inStride = src->stride, outStride = dst->stride;
  for (int y = 0; y < h; ++y) {
    const uint8_t* lum = src->luma + y * inStride;
    const uint8_t* chr = src->chroma + (y / 2) * inStride;
    uint8_t* out = dst->data + y * outStride;
    int x = 0;
    for (; kBlocks32 && x + 2 * kVecPixels <= w; x += 2 * kVecPixels) {
      Convert32SemiPlanar<kRgb, kU>(lum + x, chr + x, out + 3 * x);
    }
    for (; x + kVecPixels <= w; x += kVecPixels)
      Convert16<kRgb, kU>(Load16(lum + x), Load16(chr + x), out + 3 * x);
    ConvertTail<kRgb>(x, w, out, [&](int px, int* y0, int* y1, int* u, int* v) {
      *y0 = lum[px];
      *y1 = px + 1 < w ? lum[px + 1] : 0;
      *u = chr[px + kU];
      *v = chr[px + 1 - kU];
    });
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
  // Luma bytes of a 16-byte half to its first 8 bytes, chroma (U V U V)
  // to its last 8.
  constexpr int L = kY, C = 1 - kY;
  for (int y = 0; y < h; ++y) {
    const uint8_t* in = src->data + y * inStride;
    uint8_t* out = dst->data + y * outStride;
    int x = 0;
    for (; kBlocks32 && x + 2 * kVecPixels <= w; x += 2 * kVecPixels) Convert32Packed<kRgb, kY>(in + 2 * x, out + 3 * x);
    for (; x + kVecPixels <= w; x += kVecPixels) {
      const V2u64 a = reinterpret_cast<V2u64>(SplitHalf<L, C>(Load16(in + 2 * x)));
      const V2u64 b = reinterpret_cast<V2u64>(SplitHalf<L, C>(Load16(in + 2 * x + 16)));
      const V2u64 luma = AVM_SHUFFLE2(V2u64, a, b, 0, 2);
      const V2u64 chroma = AVM_SHUFFLE2(V2u64, a, b, 1, 3);
      Convert16<kRgb, 0>(reinterpret_cast<V16u8>(luma), reinterpret_cast<V16u8>(chroma), out + 3 * x);
    }
    ConvertTail<kRgb>(x, w, out, [&](int px, int* y0, int* y1, int* u, int* v) {
      const uint8_t* g = in + 2 * px;
      *y0 = g[kY];
      *y1 = px + 1 < w ? g[kY + 2] : 0;
      *u = g[1 - kY];
      *v = g[3 - kY];
    });
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
  for (int y = 0; y < h; ++y) {
    const uint8_t* lum = src->luma + y * stride;
    const uint8_t* pu = src->planeU + (y / 2) * cstride;
    const uint8_t* pv = src->planeV + (y / 2) * cstride;
    uint8_t* out = dst->data + y * outStride;
    int x = 0;
    for (; kBlocks32 && x + 2 * kVecPixels <= w; x += 2 * kVecPixels) {
      Convert32Planar<kRgb>(lum + x, pu + x / 2, pv + x / 2, out + 3 * x);
    }
    for (; x + kVecPixels <= w; x += kVecPixels)
      Convert16<kRgb, 0>(Load16(lum + x), Interleave8(pu + x / 2, pv + x / 2), out + 3 * x);
    ConvertTail<kRgb>(x, w, out, [&](int px, int* y0, int* y1, int* u, int* v) {
      *y0 = lum[px];
      *y1 = px + 1 < w ? lum[px + 1] : 0;
      *u = pu[px / 2];
      *v = pv[px / 2];
    });
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
