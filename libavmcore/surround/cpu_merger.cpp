// CPU stitching object: table set-up from byte planes or a MAB file, and the
// per-frame stitch.
#include "surround/cpu_merger.h"
#include "frame/log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "camera/grid_lut_file.h"
#include "camera/lut_config.h"
#include "toolkit/vector_shuffle.h"

namespace {

constexpr int32_t kMaxSide = 16384;

bool CameraSizeUsable(int32_t cw, int32_t ch) {
  return cw >= 4 && ch >= 4 && cw <= kMaxSide && ch <= kMaxSide && (cw & 1) == 0 && (ch & 1) == 0;
}

void AllocTables(MergerCPUOB* o, int32_t W, int32_t H) {
  const size_t n = static_cast<size_t>(W) * H;
  o->endLumaIndex.assign(n, 0);
  o->endChromaIndex.assign(n, 0);
  o->sideLumaIndex.assign(n, 0);
  o->sideChromaIndex.assign(n, 0);
  o->blendMap.assign(n, 0);
  for (auto& l : o->singleRuns) l.clear();
  for (auto& l : o->blendRuns) l.clear();
}

// The packed chroma tables of the even rows' even columns (see the header).
void PackPairIndex(MergerCPUOB* o) {
  const int32_t W = o->outWidth, H = o->outHeight, pw = (W + 1) / 2, ph = (H + 1) / 2;
  const size_t n = static_cast<size_t>(pw) * ph;
  o->endPairIndex.assign(n, 0);
  o->sidePairIndex.assign(n, 0);
  for (int32_t r = 0; r < H; r += 2)
    for (int32_t q = 0; q < pw; ++q) {
      const size_t from = static_cast<size_t>(r) * W + 2 * q, to = static_cast<size_t>(r / 2) * pw + q;
      o->endPairIndex[to] = o->endChromaIndex[from];
      o->sidePairIndex[to] = o->sideChromaIndex[from];
    }
}

}  // namespace

bool LUTCPU_MapSource(float x, float y, int32_t cw, int32_t ch, int32_t* cam, int32_t* px, int32_t* py) {
  int32_t k = 1;
  if (x > static_cast<float>(cw)) {
    x -= static_cast<float>(cw);
    k += 1;
  }
  if (y > static_cast<float>(ch)) {
    y -= static_cast<float>(ch);
    k += 2;
  }
  if (!(x > -2.0f && x < static_cast<float>(kMaxSide) && y > -2.0f && y < static_cast<float>(kMaxSide)))
    return false;
  const int32_t ix = static_cast<int32_t>(x + 0.5f), iy = static_cast<int32_t>(y + 0.5f);
  if (ix < 1 || ix > cw - 2 || iy < 1 || iy > ch - 2) return false;
  *cam = k;
  *px = ix;
  *py = iy;
  return true;
}

namespace {

bool MapSource(float x, float y, int32_t cw, int32_t ch, int32_t* cam, int32_t* px, int32_t* py) {
  return LUTCPU_MapSource(x, y, cw, ch, cam, px, py);
}

bool IsEnd(int32_t cam) { return cam == 1 || cam == 2; }

// Pair 1..4 of an end and a side camera; 0 for any other combination.
int32_t PairOf(int32_t a, int32_t b) {
  int32_t e = IsEnd(a) ? a : b, s = IsEnd(a) ? b : a;
  if (!IsEnd(e) || IsEnd(s)) return 0;
  return (e - 1) * 2 + (s - 2);
}

// Open runs of one row while tables are built.
struct RowRuns {
  std::vector<CPUStitchRun>* single = nullptr;
  int32_t singleCam = 0;
  std::vector<CPUStitchRun>* blend = nullptr;
  void CloseAll() {
    single = nullptr;
    singleCam = 0;
    blend = nullptr;
  }
};

using Range = CPUStitchRange;

// One luma byte, read as the low byte of a 32-bit word: a form the compiler
// turns into vector gathers where the machine has them. The three bytes
// after any luma byte exist (the chroma plane follows the luma plane).
inline uint32_t SourceByte(const uint8_t* plane, int32_t i) {
  uint32_t v;
  memcpy(&v, plane + i, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return v >> 24;
#else
  return v & 255u;
#endif
}

// The chroma pairs of the even columns c of [a, b): pair idx[c] of the
// camera's chroma plane to pair c / 2 of the output row. Read as the high
// half of the 32-bit word that ends with the pair (the bytes before any
// pair exist: the luma plane precedes the chroma plane).
// Pair q's index is idx[step * q]: step 2 in a full table's row, 1 in a
// packed one.
template <int kStep>
void ChromaPairs(const uint8_t* UV, const int32_t* __restrict idx, uint8_t* __restrict cdst, int32_t a, int32_t b) {
  const int32_t q0 = (a + 1) >> 1, q1 = (b + 1) >> 1;
  for (int32_t q = q0; q < q1; ++q) {
    uint32_t v;
    memcpy(&v, UV + 2 * static_cast<ptrdiff_t>(idx[kStep * q]) - 2, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const uint16_t pair = static_cast<uint16_t>(v);
#else
    const uint16_t pair = static_cast<uint16_t>(v >> 16);
#endif
    memcpy(cdst + 2 * static_cast<ptrdiff_t>(q), &pair, sizeof pair);
  }
}

// A camera's gain ramp R(i) = i * G1 + (255 - i) * G2 as the line
// R(0) + i * (G1 - G2): the same integers (every term stays inside 32 bits),
// computed where a table look-up per pixel would be a gather.
struct RampLine {
  int32_t base, slope;
  explicit RampLine(const int32_t ramp[256]) : base(ramp[0]), slope(ramp[1] - ramp[0]) {}
  int32_t At(uint32_t i) const { return base + static_cast<int32_t>(i) * slope; }
};

typedef int32_t I32x8 __attribute__((vector_size(32)));
typedef uint32_t U32x8 __attribute__((vector_size(32)));
typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));

// The 32-bit word that starts with luma byte i (SourceByte's read).
inline uint32_t SourceWord(const uint8_t* plane, int32_t i) {
  uint32_t v;
  memcpy(&v, plane + i, sizeof v);
  return v;
}

// Vectors move through pointers, never as arguments or results, so that no
// calling convention depends on the register width of the build.
// The luma bytes ix[0..7] of a plane, one load a lane: on this host's AVX2
// the hardware gathers ran 35 % slower (0.75 against 0.55 ms a frame), and
// the target's vector unit has none.
inline void LumaBytes(const uint8_t* plane, const int32_t* ix, U32x8* out) {
  const U32x8 words = {SourceWord(plane, ix[0]), SourceWord(plane, ix[1]), SourceWord(plane, ix[2]),
                       SourceWord(plane, ix[3]), SourceWord(plane, ix[4]), SourceWord(plane, ix[5]),
                       SourceWord(plane, ix[6]), SourceWord(plane, ix[7])};
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  *out = words >> 24;
#else
  *out = words & 255u;
#endif
}

// Eight lanes, held at 255, to eight bytes at dst.
inline void StoreClamped(const U32x8* v, uint8_t* dst) {
  const U32x8 held = *v > 255u ? U32x8{255, 255, 255, 255, 255, 255, 255, 255} : *v;
  // The halves through one 16-byte two-register shuffle (a 32-byte one
  // becomes byte moves through memory on 128-bit builds).
  U8x16 lo, hi;
  memcpy(&lo, &held, sizeof lo);
  memcpy(&hi, reinterpret_cast<const uint8_t*>(&held) + sizeof lo, sizeof hi);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  const U8x16 bytes = AVM_SHUFFLE2(U8x16, lo, hi, 3, 7, 11, 15, 19, 23, 27, 31, 3, 7, 11, 15, 19, 23, 27, 31);
#else
  const U8x16 bytes = AVM_SHUFFLE2(U8x16, lo, hi, 0, 4, 8, 12, 16, 20, 24, 28, 0, 4, 8, 12, 16, 20, 24, 28);
#endif
  memcpy(dst, &bytes, 8);
}

// Luma of a single-camera run [a, b) of one row: source byte times its gain,
// in 16ths of 16 bits, held at 255. A pixel's gain is the ramp value at its
// ramp position, except in the groups of four columns (each from a multiple
// of four) that lie wholly inside the run before the group of column b - 1:
// there each group steps from the value at its start towards the next
// group's start in truncated quarters, and the first group holds the second
// group's value.
// Two groups at a time on eight lanes (gains, products and the clamp), with
// no gain table between the steps: each source byte is a scattered read.
void SingleLuma(const uint8_t* __restrict Y, const int32_t* __restrict idx, const uint16_t* __restrict cell,
                RampLine line, uint8_t* __restrict dst, int32_t a, int32_t b) {
  auto one = [&](int32_t c, uint32_t gain) {
    const uint32_t v = (SourceByte(Y, idx[c]) * gain) >> 16;
    dst[c] = static_cast<uint8_t>(v > 255 ? 255 : v);
  };
  auto at = [&](int32_t c) { return line.At(cell[c] & 255u); };
  const int32_t g0 = (a + 3) & ~3, last = (b - 1) & ~3;
  if (g0 >= last) {
    for (int32_t c = a; c < b; ++c) one(c, static_cast<uint32_t>(at(c)));
    return;
  }
  for (int32_t c = a; c < g0; ++c) one(c, static_cast<uint32_t>(at(c)));
  const int32_t first = at(g0 + 4);
  for (int32_t c = g0; c < g0 + 4; ++c) one(c, static_cast<uint32_t>(first));
  int32_t c = g0 + 4;
  // Lane j of the second group takes its start and step where the mask is
  // set: scalar steps and broadcasts, since a vector division and a vector
  // built lane by lane go through memory on 128-bit builds.
  const I32x8 lane = {0, 1, 2, 3, 0, 1, 2, 3}, second = {0, 0, 0, 0, -1, -1, -1, -1};
  int32_t s0 = at(c);
  for (; c + 8 <= last; c += 8) {
    const int32_t s1 = at(c + 4), s2 = at(c + 8);
    const int32_t step0 = (s1 - s0) / 4, step1 = (s2 - s1) / 4;
    const I32x8 gain = (s0 + (second & (s1 - s0))) + lane * (step0 + (second & (step1 - step0)));
    U32x8 src;
    LumaBytes(Y, idx + c, &src);
    const U32x8 v = (src * __builtin_convertvector(gain, U32x8)) >> 16;
    StoreClamped(&v, dst + c);
    s0 = s2;
  }
  if (c < last) {
    const int32_t step = (at(c + 4) - s0) / 4;
    for (int32_t j = 0; j < 4; ++j) one(c + j, static_cast<uint32_t>(s0 + j * step));
  }
  for (c = last; c < b; ++c) one(c, static_cast<uint32_t>(at(c)));
}

// Luma of a seam run: end and side sources, each times its camera's ramp
// value at the pixel's ramp position and its weight (end wa, side 32 - wa,
// in 32nds), held at 255. The products wrap in 32 bits as the scalar
// unsigned arithmetic does, so the lanes give the same bytes.
void BlendLuma(const uint8_t* __restrict Ye, const uint8_t* __restrict Ys, const int32_t* __restrict endIdx,
               const int32_t* __restrict sideIdx, const uint16_t* __restrict cell, RampLine Re, RampLine Rs,
               uint8_t* __restrict dst, int32_t a, int32_t b) {
  int32_t c = a;
  const uint32_t eb = static_cast<uint32_t>(Re.base), es = static_cast<uint32_t>(Re.slope);
  const uint32_t sb = static_cast<uint32_t>(Rs.base), ss = static_cast<uint32_t>(Rs.slope);
  for (; c + 8 <= b; c += 8) {
    U16x8 cells;
    memcpy(&cells, cell + c, sizeof cells);
    const U32x8 cl = __builtin_convertvector(cells, U32x8);
    const U32x8 lo = cl & 255u, wa = cl >> 8;
    U32x8 ye, ys;
    LumaBytes(Ye, endIdx + c, &ye);
    LumaBytes(Ys, sideIdx + c, &ys);
    const U32x8 v = (ye * (eb + lo * es) * wa + ys * (sb + lo * ss) * (32u - wa)) >> 21;
    StoreClamped(&v, dst + c);
  }
  for (; c < b; ++c) {
    const uint32_t lo = cell[c] & 255u, wa = cell[c] >> 8u;
    const uint32_t v = (SourceByte(Ye, endIdx[c]) * static_cast<uint32_t>(Re.At(lo)) * wa +
                        SourceByte(Ys, sideIdx[c]) * static_cast<uint32_t>(Rs.At(lo)) * (32u - wa)) >>
                       21;
    dst[c] = static_cast<uint8_t>(v > 255 ? 255 : v);
  }
}

}  // namespace

int LUTCPU_InitFromBytePlanes(MergerCPUOB* o, const uint8_t* const planes[4], const ByteLutGeometry& geometry,
                              int32_t cw, int32_t ch, int32_t user1, int32_t user2) {
  const int32_t W = geometry.W, H = geometry.H, qw = geometry.qw, qh = geometry.qh;
  const int32_t* carBox = geometry.carBox;
  if (o == nullptr) return 0;
  if (o->loaded) return 1;
  if (W < 1 || H < 1 || W > kMaxSide || H > kMaxSide || !CameraSizeUsable(cw, ch)) {
    AvmLog("LUTCPU_InitFromFile unusable sizes: output %d x %d, camera %d x %d\n", W, H, cw, ch);
    return 0;
  }
  // The band sizes come from the car box: each edge inside the output.
  if (carBox[0] < 0 || carBox[0] > W || carBox[2] < 0 || carBox[2] > W || carBox[1] < 0 ||
      carBox[1] > H || carBox[3] < 0 || carBox[3] > H) {
    AvmLog("LUTCPU_InitFromFile car box outside the %d x %d output\n", W, H);
    return 0;
  }
  o->outWidth = W;
  o->outHeight = H;
  o->camWidth = cw;
  o->camHeight = ch;
  o->userValue1 = user1;
  o->userValue2 = user2;
  o->bandSizes[0] = carBox[1];
  o->bandSizes[1] = H - carBox[3];
  o->bandSizes[2] = carBox[0];
  o->bandSizes[3] = W - carBox[2];
  AllocTables(o, W, H);
  const float fqw = static_cast<float>(qw), fqh = static_cast<float>(qh);
  for (int32_t r = 0; r < H; ++r) {
    RowRuns runs;
    for (int32_t c = 0; c < W; ++c) {
      const size_t up = static_cast<size_t>(r) * W + c, low = static_cast<size_t>(r + H) * W + c;
      const int32_t b0 = planes[0][up], b1 = planes[1][up], b2 = planes[2][up], b3 = planes[3][up];
      const int32_t d0 = planes[0][low], d1 = planes[1][low], d2 = planes[2][low], d3 = planes[3][low];
      const float x1 = fqw * (static_cast<float>(b0) + static_cast<float>(b3 >> 2) / 63.0f) / 255.0f;
      const float y1 = fqh * (static_cast<float>(b1) + static_cast<float>(b2 & 31) / 31.0f) / 255.0f;
      const int32_t code = (b2 >> 5) * 4 + (b3 & 3);
      const float w = static_cast<float>(code) / 31.0f;
      const size_t i = up;
      int32_t cam1, px1, py1;
      int32_t kind = 0;  // 0 invalid, 1 single, 2 blend
      int32_t pair = 0;
      float endWeight = 0.0f;
      if (MapSource(x1, y1, cw, ch, &cam1, &px1, &py1)) {
        const int32_t luma = py1 * cw + px1, chroma = (py1 >> 1) * (cw / 2) + (px1 >> 1);
        if (IsEnd(cam1)) {
          o->endLumaIndex[i] = luma;
          o->endChromaIndex[i] = chroma;
          endWeight = w;
        } else {
          o->sideLumaIndex[i] = luma;
          o->sideChromaIndex[i] = chroma;
          endWeight = 1.0f - w;
        }
        if (code == 31) {
          kind = 1;
        } else {
          const float x2 = fqw * (static_cast<float>(d0) + static_cast<float>(d2 >> 4) / 15.0f) / 255.0f;
          const float y2 = fqh * (static_cast<float>(d1) + static_cast<float>(d2 & 15) / 15.0f) / 255.0f;
          int32_t cam2, px2, py2;
          // Two end or two side cameras form no pair: such a pixel is left out.
          if (MapSource(x2, y2, cw, ch, &cam2, &px2, &py2) && (pair = PairOf(cam1, cam2)) != 0) {
            if (IsEnd(cam2)) {
              o->endLumaIndex[i] = py2 * cw + px2;
              o->endChromaIndex[i] = (py2 >> 1) * (cw / 2) + (px2 >> 1);
            } else {
              o->sideLumaIndex[i] = py2 * cw + px2;
              o->sideChromaIndex[i] = (py2 >> 1) * (cw / 2) + (px2 >> 1);
            }
            kind = 2;
          }
        }
      }
      if (kind == 0) {
        o->blendMap[i] = 0;
        runs.CloseAll();
        continue;
      }
      o->blendMap[i] = static_cast<uint16_t>((static_cast<int32_t>(static_cast<float>(d3) + 0.5f) & 255) |
                                             ((static_cast<int32_t>(31.0f * endWeight + 0.5f) & 255) << 8));
      if (kind == 1) {
        if (runs.single != nullptr && runs.singleCam == cam1) {
          runs.single->back().length++;
        } else {
          runs.CloseAll();
          runs.single = &o->singleRuns[cam1 - 1];
          runs.singleCam = cam1;
          runs.single->push_back(CPUStitchRun{r, c, 1});
        }
      } else {
        if (runs.blend != nullptr) {
          runs.blend->back().length++;
        } else {
          runs.single = nullptr;
          runs.singleCam = 0;
          runs.blend = &o->blendRuns[pair - 1];
          runs.blend->push_back(CPUStitchRun{r, c, 1});
        }
      }
    }
  }
  PackPairIndex(o);
  o->loaded = 1;
  return 1;
}

int LUTCPU_InitFromFile_YW(MergerCPUOB* o, const char* lutConfigPath, const char* mabPath,
                           const char* frontGridPath, const char* backGridPath, const char* leftGridPath,
                           const char* rightGridPath, int32_t user1, int32_t cw, int32_t ch, int32_t user2,
                           int32_t* outWidth, int32_t* outHeight) {
  if (o == nullptr) return 0;
  if (o->loaded) return 1;
  LutConfigInfo info;
  CameraParamSet params;
  if (lutConfigPath == nullptr || LoadLUTConfig(&info, &params, lutConfigPath, nullptr) == 0) {
    AvmLog("LUTCPU_InitFromFile LoadParam Failed %s \n", lutConfigPath != nullptr ? lutConfigPath : "(null)");
    return 0;
  }
  if (static_cast<int32_t>(info.quadWidth / 2) != cw || static_cast<int32_t>(info.quadHeight / 2) != ch ||
      !CameraSizeUsable(cw, ch)) {
    AvmLog("LUTCPU_InitFromFile Width Height Not Right \n");
    return 0;
  }
  MABFileData mab;
  if (mabPath == nullptr || MABFile_Read(mabPath, &mab) == 0) return 0;
  const int32_t W = mab.width, H = mab.height;
  // The back and right grids start a band before the output's far edges.
  if (info.bandSizes[1] > static_cast<uint32_t>(H) || info.bandSizes[3] > static_cast<uint32_t>(W)) {
    AvmLog("LUTCPU_InitFromFile band sizes %u, %u beyond the %d x %d output\n", info.bandSizes[1],
           info.bandSizes[3], W, H);
    return 0;
  }
  o->camWidth = cw;
  o->camHeight = ch;
  o->userValue1 = user1;
  o->userValue2 = user2;
  for (int k = 0; k < 4; ++k) o->bandSizes[k] = static_cast<int32_t>(info.bandSizes[k]);
  o->outWidth = W;
  o->outHeight = H;
  if (outWidth != nullptr) *outWidth = W;
  if (outHeight != nullptr) *outHeight = H;
  AllocTables(o, W, H);
  for (int k = 0; k < 4; ++k) {
    o->singleRuns[k] = std::move(mab.tables.camera[k]);
    o->blendRuns[k] = std::move(mab.tables.seam[k]);
    // The frame step finds a row band's runs by binary search.
    auto byRow = [](const CPUStitchRun& a, const CPUStitchRun& b) { return a.row < b.row; };
    std::stable_sort(o->singleRuns[k].begin(), o->singleRuns[k].end(), byRow);
    std::stable_sort(o->blendRuns[k].begin(), o->blendRuns[k].end(), byRow);
  }
  const std::vector<uint8_t>& map = mab.weightMap;
  for (int32_t r = 0; r < H; ++r) {
    const size_t rowStart = MAB_WeightMapRowStart(W, r);
    for (int32_t c = 0; c + 1 < W; c += 2) {
      const uint8_t* p = &map[rowStart + static_cast<size_t>(c / 2) * 3];
      const size_t i = static_cast<size_t>(r) * W + c;
      o->blendMap[i] = static_cast<uint16_t>((p[0] & 0xFE) | ((((p[0] & 1) << 4) | (p[2] >> 4)) << 8));
      o->blendMap[i + 1] = static_cast<uint16_t>((p[1] & 0xFE) | ((((p[1] & 1) << 4) | (p[2] & 15)) << 8));
    }
  }
  struct Grid {
    const char* path;
    bool end;
    int32_t row0, col0;
  } grids[4] = {
      {frontGridPath, true, 0, 0},
      {info.cornerCount[1] != 0 ? backGridPath : nullptr, true, H - o->bandSizes[1], 0},
      {leftGridPath, false, 0, 0},
      {rightGridPath, false, 0, W - o->bandSizes[3]},
  };
  for (const Grid& g : grids) {
    if (g.path == nullptr) continue;
    Matrix X{0, 0, nullptr}, Y{0, 0, nullptr};
    if (GridLUT_ReadFile(g.path, &X, &Y) == 0) continue;
    const std::unique_ptr<float[]> ownX(X.data), ownY(Y.data);
    std::vector<int32_t>& luma = g.end ? o->endLumaIndex : o->sideLumaIndex;
    std::vector<int32_t>& chroma = g.end ? o->endChromaIndex : o->sideChromaIndex;
    for (int32_t i = 0; i < X.rows; ++i) {
      const int32_t r = g.row0 + i;
      if (r < 0 || r >= H) continue;
      for (int32_t j = 0; j < X.cols; ++j) {
        const int32_t c = g.col0 + j;
        if (c < 0 || c >= W) continue;
        const float fx = X.data[static_cast<size_t>(i) * X.cols + j], fy = Y.data[static_cast<size_t>(i) * X.cols + j];
        // Sources beyond the camera image are held at its border.
        const float cx = std::min(std::max(fx, 0.0f), static_cast<float>(cw - 1));
        const float cy = std::min(std::max(fy, 0.0f), static_cast<float>(ch - 1));
        int32_t x = std::min(static_cast<int32_t>(cx + 0.5f), cw - 1);
        int32_t y = std::min(static_cast<int32_t>(cy + 0.5f), ch - 1);
        const size_t o_i = static_cast<size_t>(r) * W + c;
        luma[o_i] = y * cw + x;
        chroma[o_i] = (y >> 1) * (cw / 2) + (x >> 1);
      }
    }
  }
  PackPairIndex(o);
  o->loaded = 1;
  return 1;
}

void LUTCPU_SelectRegion(int32_t region, int32_t W, int32_t H, const int32_t bands[4], CPUStitchRange ranges[4],
                         bool useSingle[4], bool useBlend[4]) {
  const int32_t top = bands[0], bottom = bands[1], left = bands[2], right = bands[3];
  for (int k = 0; k < 4; ++k) useSingle[k] = useBlend[k] = true;
  for (int k = 0; k < 4; ++k) ranges[k] = CPUStitchRange{0, H, 0, W};
  switch (region) {
    case 1:
      ranges[0] = ranges[1] = CPUStitchRange{0, H, left, W - right};
      ranges[2] = ranges[3] = CPUStitchRange{top, H - bottom, 0, W};
      for (int k = 0; k < 4; ++k) useBlend[k] = false;
      break;
    case 2:
    case 3:
    case 4:
    case 5: {
      const bool front = region <= 3, leftSide = region == 2 || region == 4;
      for (int k = 0; k < 4; ++k) useSingle[k] = useBlend[k] = false;
      const int end = front ? 0 : 1, side = leftSide ? 2 : 3;
      useSingle[end] = useSingle[side] = true;
      useBlend[region - 2] = true;
      ranges[end] = leftSide ? CPUStitchRange{0, H, 0, left} : CPUStitchRange{0, H, W - right, W};
      ranges[side] = front ? CPUStitchRange{0, top, 0, W} : CPUStitchRange{H - bottom, H, 0, W};
      break;
    }
    default:
      break;
  }
}

void LUTCPU_BuildRamp(const float gains[24], int32_t camera, int32_t ramp[256]) {
  auto gainOf = [&](int triple) {  // triple 1..8
    const float* t = gains + 3 * (triple - 1);
    float g = 256.0f * (t[0] + t[1] + t[2]) / 3.0f;
    // Keeps every product of the stitch inside 32 bits.
    if (!(g > 0.0f)) return 0;
    if (g > 65535.0f) return 65535;
    return static_cast<int32_t>(g);
  };
  const int32_t g1 = gainOf(2 * camera - 1), g2 = gainOf(2 * camera);
  for (int32_t i = 0; i < 256; ++i) ramp[i] = i * g1 + (255 - i) * g2;
}

int LUTCPU_Exec(const MergerCPUOB* o, const uint8_t* const images[4], const CPUMergerOutput* out,
                const int32_t pitches[2], const float gains[24], int32_t region) {
  if (o == nullptr) return 0;
  return LUTCPU_ExecRows(o, images, out, pitches, gains, region, 0, o->outHeight);
}

namespace {

// The frame step over output rows rowLo .. rowHi - 1.
void StitchRows(const MergerCPUOB* o, const uint8_t* const images[4], const CPUMergerOutput* out,
                const int32_t pitches[2], const int32_t ramp[4][256], int32_t region, int32_t rowLo, int32_t rowHi) {
  const int32_t W = o->outWidth, H = o->outHeight;
  Range ranges[4];
  bool useSingle[4], useBlend[4];
  LUTCPU_SelectRegion(region, W, H, o->bandSizes, ranges, useSingle, useBlend);
  const int32_t lumaPitch = pitches[0], pairPitch = pitches[1] / 2;
  const size_t chromaOffset = static_cast<size_t>(o->camWidth) * o->camHeight;
  // Chroma indices from the packed tables where the loader made them.
  const size_t pairWidth = static_cast<size_t>(W + 1) / 2;
  const bool packed = o->endPairIndex.size() == pairWidth * static_cast<size_t>((H + 1) / 2) &&
                      o->sidePairIndex.size() == o->endPairIndex.size();
  auto chromaRow = [&](const uint8_t* UV, bool endTable, int32_t r, int32_t a, int32_t b) {
    uint8_t* cdst = out->chroma + static_cast<size_t>(r >> 1) * pairPitch * 2;
    if (packed)
      ChromaPairs<1>(
          UV, (endTable ? o->endPairIndex : o->sidePairIndex).data() + static_cast<size_t>(r >> 1) * pairWidth, cdst,
          a, b);
    else
      ChromaPairs<2>(UV, (endTable ? o->endChromaIndex : o->sideChromaIndex).data() + static_cast<size_t>(r) * W, cdst,
                     a, b);
  };
  auto firstRunAt = [](const std::vector<CPUStitchRun>& runs, int32_t row) {
    return std::lower_bound(runs.begin(), runs.end(), row,
                            [](const CPUStitchRun& a, int32_t r) { return a.row < r; });
  };

  for (int k = 0; k < 4; ++k) {
    if (!useSingle[k]) continue;
    const Range& rg = ranges[k];
    const uint8_t* Y = images[k];
    const uint8_t* UV = Y + chromaOffset;
    const RampLine line(ramp[k]);
    const bool end = k < 2;
    const int32_t* lumaIdx = end ? o->endLumaIndex.data() : o->sideLumaIndex.data();
    const uint16_t* cell = o->blendMap.data();
    const std::vector<CPUStitchRun>& runs = o->singleRuns[k];
    const int32_t r0 = std::max(rowLo, rg.rowBegin), r1 = std::min(rowHi, rg.rowEnd);
    for (auto it = firstRunAt(runs, r0); it != runs.end() && it->row < r1; ++it) {
      const int32_t r = it->row;
      const int32_t a = std::max(it->col, rg.colBegin), b = std::min(it->col + it->length, rg.colEnd);
      if (a >= b) continue;
      const size_t base = static_cast<size_t>(r) * W;
      uint8_t* dst = out->luma + static_cast<size_t>(r) * lumaPitch;
      SingleLuma(Y, lumaIdx + base, cell + base, line, dst, a, b);
      if ((r & 1) == 0) chromaRow(UV, end, r, a, b);
    }
  }

  for (int p = 0; p < 4; ++p) {
    if (!useBlend[p]) continue;
    const int e = p < 2 ? 0 : 1, s = (p & 1) == 0 ? 2 : 3;
    const uint8_t* Ye = images[e];
    const uint8_t* Ys = images[s];
    const uint8_t* UVe = Ye + chromaOffset;
    const RampLine Re(ramp[e]), Rs(ramp[s]);
    const std::vector<CPUStitchRun>& runs = o->blendRuns[p];
    const uint16_t* cell = o->blendMap.data();
    const int32_t* endLuma = o->endLumaIndex.data();
    const int32_t* sideLuma = o->sideLumaIndex.data();
    for (auto it = firstRunAt(runs, rowLo); it != runs.end() && it->row < rowHi; ++it) {
      const int32_t r = it->row;
      const size_t base = static_cast<size_t>(r) * W;
      uint8_t* dst = out->luma + static_cast<size_t>(r) * lumaPitch;
      const int32_t a = it->col, b = it->col + it->length;
      BlendLuma(Ye, Ys, endLuma + base, sideLuma + base, cell + base, Re, Rs, dst, a, b);
      if ((r & 1) == 0) chromaRow(UVe, true, r, a, b);
    }
  }
}

}  // namespace

int LUTCPU_ExecRows(const MergerCPUOB* o, const uint8_t* const images[4], const CPUMergerOutput* out,
                    const int32_t pitches[2], const float gains[24], int32_t region, int32_t rowBegin,
                    int32_t rowEnd) {
  if (o == nullptr || !o->loaded || images == nullptr || out == nullptr || pitches == nullptr || gains == nullptr)
    return 0;
  for (int k = 0; k < 4; ++k)
    if (images[k] == nullptr) return 0;
  int32_t ramp[4][256];
  for (int k = 0; k < 4; ++k) LUTCPU_BuildRamp(gains, k + 1, ramp[k]);
  const int32_t rowLo = std::max(rowBegin, 0), rowHi = std::min(rowEnd, o->outHeight);
  StitchRows(o, images, out, pitches, ramp, region, rowLo, rowHi);
  return 1;
}

void LUTCPU_Release(MergerCPUOB* o) {
  if (o == nullptr || !o->loaded) return;
  std::vector<int32_t>().swap(o->endLumaIndex);
  std::vector<int32_t>().swap(o->endChromaIndex);
  std::vector<int32_t>().swap(o->sideLumaIndex);
  std::vector<int32_t>().swap(o->sideChromaIndex);
  std::vector<uint16_t>().swap(o->blendMap);
  std::vector<int32_t>().swap(o->endPairIndex);
  std::vector<int32_t>().swap(o->sidePairIndex);
  for (auto& l : o->singleRuns) std::vector<CPUStitchRun>().swap(l);
  for (auto& l : o->blendRuns) std::vector<CPUStitchRun>().swap(l);
  o->loaded = 0;
}
