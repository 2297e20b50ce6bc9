#include "toolkit/edges.h"
#include "toolkit/code_path.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "toolkit/float_lanes.h"
#include "toolkit/matrix.h"
#include "toolkit/smoothing.h"
#include "toolkit/thinning.h"

namespace {

// Floats between the starts of two ring rows of the edge detector: ring rows
// lie 576 bytes apart modulo 4096 (a stride of 144 floats modulo 1024), since
// rows whose addresses agree in their low 12 bits make the loads of one row
// wait for the stores of another (4K aliasing).
size_t RingStride(int32_t w) { return static_cast<size_t>(w) + static_cast<size_t>(((144 - w) % 1024 + 1024) % 1024); }

}  // namespace

// Four smoothed rows and three magnitude rows; the pixel lists are kept per
// thread.
size_t Image_DetectEdgesWorkFloats(int32_t width, int32_t height) {
  if (width < 1 || height < 1) return 0;
  return 7 * RingStride(width);
}

namespace {

// Pixels per block of the suppression pass: a block in which no magnitude
// exceeds the low level holds no kept pixel and is skipped whole (most of
// a picture's blocks).
constexpr int32_t kEdgeBlock = 16;  // the kept mask below gathers 16 flags

// Sobel gradients of the smoothed rows up, mid, dn at column x, times 255:
// the expressions of Image_SobelRow.
inline void SobelAt(const float* up, const float* mid, const float* dn, int32_t x, float* gx, float* gy) {
  const float scale = 255.0f;
  const float nw = up[x - 1], nn = up[x], ne = up[x + 1];
  const float wv = mid[x - 1], e = mid[x + 1];
  const float sw = dn[x - 1], s = dn[x], se = dn[x + 1];
  *gx = scale * ((ne + 2.0f * e + se) - (nw + 2.0f * wv + sw));
  *gy = scale * ((sw + 2.0f * s + se) - (nw + 2.0f * nn + ne));
}

// Squared gradient magnitude of columns 1 .. w-2 of one interior row, as one
// fused multiply-add spelled out (the form the contracted gx * gx + gy * gy
// takes; written so that no compiler picks the other order).
inline void MagnitudeRow(const float* up, const float* mid, const float* dn, float* __restrict om, int32_t w) {
  for (int32_t x = 1; x <= w - 2; ++x) {
    float gx, gy;
    SobelAt(up, mid, dn, x, &gx, &gy);
    om[x] = std::fma(gx, gx, gy * gy);
  }
}

// The smoothing and the magnitude rows are bound by their arithmetic (ten
// and fourteen operations a pixel). On x86-64 machines with 512-bit
// registers they run sixteen lanes wide, with the fused multiply-adds of
// the contracted portable forms spelled out (Image_Smooth3x3Row: the edge
// sum times 0.125, then centre and corner sum fused in; the magnitude
// above), so both give the same bits. Other machines, the ARM target
// included, run the portable forms.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define AVM_EDGES_WIDE 1
// One row's columns x - 1 .. x + 16 around sixteen lanes at x, from one
// load per step: each step loads the next sixteen columns (masked at the
// row's end) and shifts the left and right neighbours out of the loaded
// vectors (misaligned 512-bit loads all cross a cache line; nine of them a
// step held the rows back).
struct WideRow {
  // Shifts through the zero-masking form (all lanes kept): the plain form's
  // undefined fill draws a false uninitialised-use warning from GCC 12.
  static constexpr __mmask16 kAll = 0xFFFF;
  const float* p;
  int32_t w;
  __m512 prev, cur, next;
  __attribute__((target("avx512f"))) inline void Start(const float* row, int32_t width, int32_t x) {
    p = row;
    w = width;
    prev = _mm512_maskz_loadu_ps(static_cast<__mmask16>(0x8000), row + x - 16);  // column x - 1 only
    cur = _mm512_loadu_ps(row + x);
  }
  // Loads columns x + 16 .. x + 31 (those inside the row).
  __attribute__((target("avx512f"))) inline void Load(int32_t x) {
    const int32_t left = w - (x + 16);
    next = left >= 16 ? _mm512_loadu_ps(p + x + 16)
                      : _mm512_maskz_loadu_ps(static_cast<__mmask16>((1u << left) - 1u), p + x + 16);
  }
  __attribute__((target("avx512f"))) inline __m512 Left() const {
    return _mm512_castsi512_ps(_mm512_maskz_alignr_epi32(kAll, _mm512_castps_si512(cur), _mm512_castps_si512(prev), 15));
  }
  __attribute__((target("avx512f"))) inline __m512 Right() const {
    return _mm512_castsi512_ps(_mm512_maskz_alignr_epi32(kAll, _mm512_castps_si512(next), _mm512_castps_si512(cur), 1));
  }
  __attribute__((target("avx512f"))) inline void Step() {
    prev = cur;
    cur = next;
  }
};

__attribute__((target("avx512f"))) void SmoothRowWide(const float* up, const float* row, const float* dn,
                                                      float* out, int32_t w) {
  out[0] = row[0];
  out[w - 1] = row[w - 1];
  const __m512 wc = _mm512_set1_ps(0.25f), we = _mm512_set1_ps(0.125f), wk = _mm512_set1_ps(0.0625f);
  int32_t x = 1;
  if (w >= 18) {
    WideRow u, m, d;
    u.Start(up, w, x);
    m.Start(row, w, x);
    d.Start(dn, w, x);
    for (; x + 16 <= w - 1; x += 16) {
      u.Load(x);
      m.Load(x);
      d.Load(x);
      const __m512 edges = _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(u.cur, d.cur), m.Left()), m.Right());
      const __m512 corners = _mm512_add_ps(_mm512_add_ps(_mm512_add_ps(u.Left(), u.Right()), d.Left()), d.Right());
      _mm512_storeu_ps(out + x, _mm512_fmadd_ps(corners, wk, _mm512_fmadd_ps(m.cur, wc, _mm512_mul_ps(edges, we))));
      u.Step();
      m.Step();
      d.Step();
    }
  }
  for (; x < w - 1; ++x) {
    const float edges = up[x] + dn[x] + row[x - 1] + row[x + 1];
    const float corners = up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1];
    out[x] = std::fma(corners, 0.0625f, std::fma(row[x], 0.25f, edges * 0.125f));
  }
}

__attribute__((target("avx512f"))) void MagnitudeRowWide(const float* up, const float* mid, const float* dn,
                                                         float* om, int32_t w, float low2, uint16_t* cand) {
  const __m512 two = _mm512_set1_ps(2.0f), scale = _mm512_set1_ps(255.0f), lowv = _mm512_set1_ps(low2);
  int32_t x = 1;
  if (w >= 18) {
    WideRow u, m, d;
    u.Start(up, w, x);
    m.Start(mid, w, x);
    d.Start(dn, w, x);
    for (; x + 16 <= w - 1; x += 16) {
      u.Load(x);
      m.Load(x);
      d.Load(x);
      const __m512 nw = u.Left(), nn = u.cur, ne = u.Right();
      const __m512 wv = m.Left(), e = m.Right();
      const __m512 sw = d.Left(), sv = d.cur, se = d.Right();
      const __m512 gx = _mm512_mul_ps(scale, _mm512_sub_ps(_mm512_add_ps(_mm512_fmadd_ps(e, two, ne), se),
                                                           _mm512_add_ps(_mm512_fmadd_ps(wv, two, nw), sw)));
      const __m512 gy = _mm512_mul_ps(scale, _mm512_sub_ps(_mm512_add_ps(_mm512_fmadd_ps(sv, two, sw), se),
                                                           _mm512_add_ps(_mm512_fmadd_ps(nn, two, nw), ne)));
      const __m512 mv = _mm512_fmadd_ps(gx, gx, _mm512_mul_ps(gy, gy));
      _mm512_storeu_ps(om + x, mv);
      *cand++ = _mm512_cmp_ps_mask(mv, lowv, _CMP_GT_OQ);
      u.Step();
      m.Step();
      d.Step();
    }
  }
  for (; x <= w - 2; ++x) {
    float gx, gy;
    SobelAt(up, mid, dn, x, &gx, &gy);
    om[x] = std::fma(gx, gx, gy * gy);
  }
}

// Suppression of one whole block as two lane masks (kept, above the high
// level): the tests of SuppressionFlags lane for lane, the gradients made
// again as in MagnitudeRowWide (the blocks that get here are few, so plain
// loads serve).
__attribute__((target("avx512f"))) void SuppressionMasksWide(const float* up, const float* mid, const float* dn,
                                                             const float* above, const float* mag,
                                                             const float* below, int32_t x, float low2,
                                                             float high2, uint32_t* kept, uint32_t* high) {
  const __m512 two = _mm512_set1_ps(2.0f), scale = _mm512_set1_ps(255.0f);
  const float tan22 = 0.41421357f;
  const __m512 nw = _mm512_loadu_ps(up + x - 1), nn = _mm512_loadu_ps(up + x), ne = _mm512_loadu_ps(up + x + 1);
  const __m512 wv = _mm512_loadu_ps(mid + x - 1), e = _mm512_loadu_ps(mid + x + 1);
  const __m512 sw = _mm512_loadu_ps(dn + x - 1), sv = _mm512_loadu_ps(dn + x), se = _mm512_loadu_ps(dn + x + 1);
  const __m512 gx = _mm512_mul_ps(scale, _mm512_sub_ps(_mm512_add_ps(_mm512_fmadd_ps(e, two, ne), se),
                                                       _mm512_add_ps(_mm512_fmadd_ps(wv, two, nw), sw)));
  const __m512 gy = _mm512_mul_ps(scale, _mm512_sub_ps(_mm512_add_ps(_mm512_fmadd_ps(sv, two, sw), se),
                                                       _mm512_add_ps(_mm512_fmadd_ps(nn, two, nw), ne)));
  const __m512 m = _mm512_loadu_ps(mag + x);
  const __m512 ax = _mm512_abs_ps(gx), ay = _mm512_abs_ps(gy);
  const __mmask16 pos = _mm512_cmp_ps_mask(_mm512_mul_ps(gx, gy), _mm512_setzero_ps(), _CMP_GE_OQ);
  const __m512 diagAbove = _mm512_mask_blend_ps(pos, _mm512_loadu_ps(above + x + 1), _mm512_loadu_ps(above + x - 1));
  const __m512 diagBelow = _mm512_mask_blend_ps(pos, _mm512_loadu_ps(below + x - 1), _mm512_loadu_ps(below + x + 1));
  const __mmask16 keepH = _mm512_cmp_ps_mask(m, _mm512_loadu_ps(mag + x - 1), _CMP_GT_OQ) &
                          _mm512_cmp_ps_mask(m, _mm512_loadu_ps(mag + x + 1), _CMP_GE_OQ);
  const __mmask16 keepD = _mm512_cmp_ps_mask(m, diagAbove, _CMP_GT_OQ) & _mm512_cmp_ps_mask(m, diagBelow, _CMP_GT_OQ);
  const __mmask16 keepV = _mm512_cmp_ps_mask(m, _mm512_loadu_ps(above + x), _CMP_GT_OQ) &
                          _mm512_cmp_ps_mask(m, _mm512_loadu_ps(below + x), _CMP_GE_OQ);
  const __mmask16 horizontal = _mm512_cmp_ps_mask(ay, _mm512_mul_ps(_mm512_set1_ps(tan22), ax), _CMP_LT_OQ);
  const __mmask16 diagonal = _mm512_cmp_ps_mask(ay, _mm512_mul_ps(_mm512_set1_ps(tan22 + 2.0f), ax), _CMP_LE_OQ);
  const uint32_t keep = (horizontal & keepH) | (~horizontal & diagonal & keepD) | (~horizontal & ~diagonal & keepV);
  const uint32_t notLow = _mm512_cmp_ps_mask(m, _mm512_set1_ps(low2), _CMP_LE_OQ);
  *kept = keep & ~notLow & 0xFFFFu;
  *high = _mm512_cmp_ps_mask(m, _mm512_set1_ps(high2), _CMP_GT_OQ);
}

std::atomic<int32_t> gLaneLimit{16};

bool WideRegisters() {
  return CodePath_WideForms() != 0 && gLaneLimit.load(std::memory_order_relaxed) >= 16;
}
#endif

// True when some magnitude of x0 .. x0 + kEdgeBlock - 1 exceeds low2. A
// kept pixel needs m > low2 (a NaN magnitude is never kept).
inline bool BlockAboveLow(const float* mag, int32_t x0, float low2) {
  using float_lanes::F32x8;
  static_assert(kEdgeBlock == 2 * float_lanes::kLanes, "two vectors a block");
  F32x8 a, b, t;
  float_lanes::Load(&a, mag + x0);
  float_lanes::Load(&b, mag + x0 + float_lanes::kLanes);
  float_lanes::Splat(&t, low2);
  const float_lanes::U32x8 c = reinterpret_cast<float_lanes::U32x8>((a > t) | (b > t));
  uint64_t q[4];
  memcpy(q, &c, sizeof q);
  return ((q[0] | q[1]) | (q[2] | q[3])) != 0;
}

void SmoothRow(const float* up, const float* row, const float* dn, float* out, int32_t w) {
#ifdef AVM_EDGES_WIDE
  if (WideRegisters()) {
    SmoothRowWide(up, row, dn, out, w);
    return;
  }
#endif
  Image_Smooth3x3Row(up, row, dn, out, w, 0);
}

// Magnitude row, and for each whole block of kEdgeBlock pixels from column
// 1 whether some magnitude exceeds low2 (non-zero) or none does (0).
void MagnitudeRowAny(const float* up, const float* mid, const float* dn, float* om, int32_t w, float low2,
                     uint16_t* cand) {
#ifdef AVM_EDGES_WIDE
  static_assert(kEdgeBlock == 16, "one block a wide vector");
  if (WideRegisters()) {
    MagnitudeRowWide(up, mid, dn, om, w, low2, cand);
    return;
  }
#endif
  MagnitudeRow(up, mid, dn, om, w);
  for (int32_t x0 = 1; x0 + kEdgeBlock <= w - 1; x0 += kEdgeBlock) *cand++ = BlockAboveLow(om, x0, low2) ? 1 : 0;
}

// Suppression flags of pixels x0 .. x0 + n - 1 of one row (bit 0: kept,
// bit 1: above the high level): every direction's test is computed and the
// pixel's own direction selects one, a form that vectorises. The gradients
// are made again from the smoothed rows up, mid, dn (only blocks that can
// hold an edge get here, so no gradient row is stored).
inline void SuppressionFlags(const float* up, const float* mid, const float* dn, const float* above,
                             const float* mag, const float* below, int32_t x0, int32_t n, float low2,
                             float high2, uint32_t* __restrict flags) {
  const float tan22 = 0.41421357f;
  for (int32_t l = 0; l < n; ++l) {
    const int32_t x = x0 + l;
    float gx, gy;
    SobelAt(up, mid, dn, x, &gx, &gy);
    const float m = mag[x];
    const float ax = std::fabs(gx), ay = std::fabs(gy);
    const int pos = gx * gy >= 0.0f;
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
    flags[l] = static_cast<uint32_t>((aboveLow & keep) | ((m > high2) << 1));
  }
}

}  // namespace

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
  // Rows stream through small rings at the front of the work area: four
  // smoothed rows (the gradients of a row are made again where it may hold
  // an edge) and three magnitude rows. Each row is made just before the
  // step that reads it, while it is still in cache.
  const size_t stride = RingStride(w);
  float* sRing = work;
  float* magBuf = work + 4 * stride;
  const float* sRow[4] = {};
  auto smoothRow = [&](int32_t r) {
    const float* in = src->data + static_cast<size_t>(r) * w;
    if (r == 0 || r == h - 1) {
      sRow[r % 4] = in;  // border rows are copied unchanged
      return;
    }
    float* out = sRing + static_cast<size_t>(r % 4) * stride;
    SmoothRow(in - w, in, in + w, out, w);
    sRow[r % 4] = out;
  };
  // Three rolling magnitude rows: above, current, below (0 outside columns
  // 1 .. w-2 and on the border rows).
  float* rows[3] = {magBuf, magBuf + stride, magBuf + 2 * stride};
  // With each interior magnitude row, its blocks' marks (MagnitudeRowAny).
  const size_t blocks = static_cast<size_t>(w) / kEdgeBlock + 1;
  thread_local std::vector<uint16_t> candBuf;
  if (candBuf.size() < 3 * blocks) candBuf.resize(3 * blocks);
  uint16_t* cands[3] = {candBuf.data(), candBuf.data() + blocks, candBuf.data() + 2 * blocks};
  const float low2 = low * low, high2 = high * high;
  auto gradientRow = [&](int32_t r, float* mag, uint16_t* cand) {
    if (r >= h - 1) {
      memset(mag, 0, sizeof(float) * static_cast<size_t>(w));
      return;
    }
    MagnitudeRowAny(sRow[(r - 1) % 4], sRow[r % 4], sRow[(r + 1) % 4], mag, w, low2, cand);
    mag[0] = mag[w - 1] = 0.0f;
  };
  smoothRow(0);
  smoothRow(1);
  smoothRow(2);
  memset(rows[0], 0, sizeof(float) * static_cast<size_t>(w));
  gradientRow(1, rows[1], cands[1]);
  memset(map, 0, n);
  // Pixel lists kept across calls, written through plain pointers: each
  // row makes room for a row's worth of entries first.
  thread_local std::vector<int32_t> strongBuf, weakBuf, stackBuf, setBuf;
  size_t nStrong = 0, nWeak = 0;
  auto room = [w](std::vector<int32_t>& buf, size_t used) {
    if (buf.size() < used + static_cast<size_t>(w)) buf.resize(std::max(2 * buf.size(), used + static_cast<size_t>(w)));
    return buf.data();
  };
  // Hysteresis runs one row behind the marking, while the rows are in
  // cache: a row's strong pixels spread to the weak pixels linked to them,
  // and a weak pixel next to an edge pixel becomes one and spreads. Rows
  // not yet marked hold 0, so a link that appears only through later rows
  // is taken up when those rows are linked. The edges are the weak pixels
  // linked to strong ones, whatever the order of the search. (An edge pixel
  // above a pixel can make it weak where it would have been strong; it is
  // next to that edge, so it becomes an edge and spreads all the same.)
  size_t top = 0;
  auto spread = [&](int32_t seed) {
    int32_t* stack = stackBuf.data();
    stack[top++] = seed;
    while (top != 0) {
      const int32_t idx = stack[--top];
      const int32_t offs[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
      for (int32_t o : offs) {
        if (map[idx + o] == 2) {
          map[idx + o] = 1;
          stack[top++] = idx + o;
        }
      }
    }
  };
  // True when a pixel's eight neighbours hold an edge pixel (1).
  auto nextToEdge = [&](int32_t idx) {
    const uint8_t* p = map + idx;
    return (p[-w - 1] == 1) | (p[-w] == 1) | (p[-w + 1] == 1) | (p[-1] == 1) | (p[1] == 1) | (p[w - 1] == 1) |
           (p[w] == 1) | (p[w + 1] == 1);
  };
  // Spreads from the strong pixels strong[s0 .. s1) and the weak pixels
  // weak[w0 .. w1) next to an edge pixel (one row's).
  auto linkRow = [&](size_t s0, size_t s1, size_t w0, size_t w1) {
    // The stack never holds more than the weak pixels marked so far.
    if (stackBuf.size() < nWeak + 1) stackBuf.resize(std::max(2 * stackBuf.size(), nWeak + 1));
    for (size_t k = s0; k < s1; ++k) spread(strongBuf[k]);
    for (size_t k = w0; k < w1; ++k) {
      const int32_t idx = weakBuf[k];
      if (map[idx] == 2 && nextToEdge(idx)) {
        map[idx] = 1;
        spread(idx);
      }
    }
  };
  size_t lagStrong = 0, lagWeak = 0;
  uint32_t flags[kEdgeBlock];
  for (int32_t y = 1; y < h - 1; ++y) {
    if (y + 2 < h) smoothRow(y + 2);
    gradientRow(y + 1, rows[2], cands[2]);
    const uint16_t* cand = cands[1];
    const float* above = rows[0];
    const float* mag = rows[1];
    const float* below = rows[2];
    const float* up = sRow[(y - 1) % 4];
    const float* mid = sRow[y % 4];
    const float* dn = sRow[(y + 1) % 4];
    // Marking in row order: a kept pixel above the high level is strong
    // unless the previous pixel was marked strong or the pixel above is
    // strong; a pixel not kept clears the flag.
    uint8_t* mrow = map + static_cast<size_t>(y) * w;
    int32_t* strong = room(strongBuf, nStrong);
    int32_t* weak = room(weakBuf, nWeak);
    const size_t rowStrong = nStrong, rowWeak = nWeak;
    bool prevStrong = false;
    for (int32_t x0 = 1; x0 < w - 1; x0 += kEdgeBlock) {
      const int32_t count = std::min(kEdgeBlock, w - 1 - x0);
      if (count == kEdgeBlock) {
        if (cand[(x0 - 1) / kEdgeBlock] == 0) {
          prevStrong = false;
          continue;
        }
      }
      uint32_t kept, high;
#ifdef AVM_EDGES_WIDE
      if (count == kEdgeBlock && WideRegisters()) {
        SuppressionMasksWide(up, mid, dn, above, mag, below, x0, low2, high2, &kept, &high);
      } else
#endif
      {
        memset(flags, 0, sizeof flags);
        SuppressionFlags(up, mid, dn, above, mag, below, x0, count, low2, high2, flags);
        // Flag bits 0 and 1 as lane masks.
        kept = 0;
        high = 0;
        for (int32_t l = 0; l < kEdgeBlock; ++l) {
          kept |= (flags[l] & 1u) << l;
          high |= ((flags[l] >> 1) & 1u) << l;
        }
      }
      int32_t next = 0;  // the lane after the last kept one
      while (kept != 0) {
        const int32_t l = __builtin_ctz(kept);
        kept &= kept - 1;
        if (l != next) prevStrong = false;  // pixels not kept in between
        next = l + 1;
        const int32_t x = x0 + l;
        const int32_t idx = y * w + x;
        if (((high >> l) & 1) != 0 && !prevStrong && map[idx - w] != 1) {
          mrow[x] = 1;
          strong[nStrong++] = idx;
          prevStrong = true;
        } else {
          mrow[x] = 2;
          weak[nWeak++] = idx;
        }
      }
      if (next != count) prevStrong = false;
    }
    // Hysteresis of the row above, now that this row is marked.
    linkRow(lagStrong, rowStrong, lagWeak, rowWeak);
    lagStrong = rowStrong;
    lagWeak = rowWeak;
    float* t = rows[0];
    rows[0] = rows[1];
    rows[1] = rows[2];
    rows[2] = t;
    uint16_t* c = cands[0];
    cands[0] = cands[1];
    cands[1] = cands[2];
    cands[2] = c;
  }
  linkRow(lagStrong, nStrong, lagWeak, nWeak);  // the last row
  const int32_t* strong = strongBuf.data();
  const int32_t* weak = weakBuf.data();
  // Weak pixels left unlinked are cleared; the linked ones merge with the
  // strong ones into the row-ordered list of set pixels the thinning visits.
  if (setBuf.size() < nStrong + nWeak + 1) setBuf.resize(nStrong + nWeak + 1);
  int32_t* set = setBuf.data();
  size_t nSet = 0, s = 0;
  for (size_t k = 0; k < nWeak; ++k) {
    const int32_t idx = weak[k];
    if (map[idx] == 2) {
      map[idx] = 0;
      continue;
    }
    while (s < nStrong && strong[s] < idx) set[nSet++] = strong[s++];
    set[nSet++] = idx;
  }
  while (s < nStrong) set[nSet++] = strong[s++];
  ImageU8_ThinListed(edges, set, nSet);
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

void Edges_LimitLanes(int32_t lanes) {
#ifdef AVM_EDGES_WIDE
  gLaneLimit.store(lanes);
#else
  (void)lanes;
#endif
}
