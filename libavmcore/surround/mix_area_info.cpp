#include "surround/mix_area_info.h"
#include "frame/log.h"
#include "frame/checked_int.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "frame/global_variables.h"
#include "surround/car_motion.h"
#include "camera/lut_config.h"
#include "toolkit/matrix_alloc.h"

namespace {

// The (upper, other) table pairs of each corner: x tables; y is x + 1.
constexpr int kFrontLeft[2] = {0, 8};
constexpr int kFrontRight[2] = {2, 12};
constexpr int kRearLeft[2] = {4, 10};
constexpr int kRearRight[2] = {6, 14};

void FreeTables(MixAreaInfo* info) {
  for (ImageI32& t : info->tables) ImageI32_FreeData(&t);
}

bool AllocTable(ImageI32* t, int32_t cols, int32_t rows) {
  // An empty table has no block (the merge and the file keep it empty); a
  // negative size has none either and fails.
  if (cols <= 0 || rows <= 0) {
    *t = ImageI32{cols, rows, nullptr};
    return cols >= 0 && rows >= 0;
  }
  return ImageI32_NewData(t, cols, rows);
}

inline int32_t Positive(float v) { return v > 0.0f ? static_cast<int32_t>(v) : 0; }

struct BandSampler {
  const LutConfig* cfg;
  int32_t W, H, L, skip, h;
  int32_t cameraMask;

  // Left start column of row r (the right side mirrors it).
  int32_t Start(int32_t r, bool fromRight, bool earlyRow, int32_t maskForEdge) const {
    const float* w3 = cfg->W3.data;
    if (L - 6 > 0 && w3 != nullptr) {
      const float* row = w3 + static_cast<size_t>(r) * W;
      auto at = [&](int32_t k) { return fromRight ? row[W - 1 - k] : row[k]; };
      if (at(0) < 1.0f) return std::max(skip, 0);
      for (int32_t k = 1; k < L - 6 && k < W; ++k)
        if (at(k) < 1.0f) return std::max(skip, k);
    }
    if (earlyRow || cameraMask == maskForEdge) return L - 24;
    return skip;
  }

  void Sample(MixAreaInfo* info, const int pair[2], int32_t i, int32_t r, int32_t s, bool fromRight) const {
    const size_t rowBase = static_cast<size_t>(r) * W;
    for (int32_t c = 0; c < kMixAreaBandColumns; ++c) {
      int32_t col = fromRight ? W - 1 - (s + c) : s + c;
      // A start near the picture edge would step outside the row.
      col = std::min(std::max(col, 0), W - 1);
      const size_t k = rowBase + col;
      const int32_t x1 = Positive(cfg->X1.data[k]), y1 = Positive(cfg->Y1.data[k]);
      const int32_t x2 = Positive(cfg->X2.data[k]), y2 = Positive(cfg->Y2.data[k]);
      const bool firstUpper = y1 < h;
      const size_t o = static_cast<size_t>(i) * kMixAreaBandColumns + c;
      info->tables[pair[0]].data[o] = firstUpper ? x1 : x2;
      info->tables[pair[0] + 1].data[o] = firstUpper ? y1 : y2;
      info->tables[pair[1]].data[o] = firstUpper ? x2 : x1;
      info->tables[pair[1] + 1].data[o] = firstUpper ? y2 : y1;
    }
  }
};

bool WriteAll(FILE* f, const void* p, size_t bytes) { return bytes == 0 || fwrite(p, 1, bytes, f) == bytes; }

}  // namespace

MixAreaInfo MixAreaInfo_Empty() {
  MixAreaInfo m{};
  m.quadCoords = 1;
  return m;
}

bool MixAreaInfo_IsFrontTable(int k) { return k < 4 || k == 8 || k == 9 || k == 12 || k == 13; }

void MixAreaInfo_Build(MixAreaInfo* info, const LutConfig* cfg, int32_t quadWidth, int32_t quadHeight,
                       int32_t countA, int32_t countB) {
  if (info == nullptr || cfg == nullptr || info->valid != 0 || cfg->extraParam != 0) return;
  const int32_t W = cfg->X1.cols, H = cfg->X1.rows;
  if (W < 1 || H < 1 || cfg->X1.data == nullptr || cfg->Y1.data == nullptr || cfg->X2.data == nullptr ||
      cfg->Y2.data == nullptr) {
    AvmLog("MixAreaInfo_Build: the configuration holds no maps\n");
    return;
  }
  const GlobalVariables& g = gv();
  const int32_t L0 = cfg->carRect[0], R = cfg->carRect[1], T = cfg->carRect[3], B = cfg->carRect[4];
  info->quadWidth = quadWidth;
  info->quadHeight = quadHeight;
  info->coverageMode = countB == 0 ? 1 : (countA == 0 ? 2 : 0);

  int32_t L = L0;
  const int32_t FR = std::max(std::min(T - 2, H), 0);
  int32_t RR;
  if (g.f0 >= 1000) {
    RR = (H - B) - 2;
    L = std::min(L0, W - R);
  } else {
    // Without the rear-band rules the rear corners get as many rows as the
    // front ones, as far as the picture goes.
    RR = std::min(FR, (H - B) - 2);
  }
  RR = std::max(RR, 0);
  info->bandColumns = L - 2;
  info->frontRows = FR;
  info->rearRows = RR;

  int32_t skip = 0;
  const int32_t car[2] = {cfg->carWidth, cfg->carLength};
  if (IsFarDistance(car) == 0 && cfg->mmPerPixel > 0.0f)
    skip = std::max(0, (L - 2) - static_cast<int32_t>(2000.0f / cfg->mmPerPixel));
  info->frontSeamAngle = (g.config.seamAngle[0] + g.config.seamAngle[1]) * 0.5f;
  info->rearSeamAngle = (g.config.seamAngle[2] + g.config.seamAngle[3]) * 0.5f;

  bool ok = true;
  for (int k = 0; k < 16; ++k)
    ok = AllocTable(&info->tables[k], kMixAreaBandColumns, MixAreaInfo_IsFrontTable(k) ? FR : RR) && ok;
  if (!ok) {
    FreeTables(info);
    return;
  }

  const BandSampler bs{cfg, W, H, L, skip, quadHeight / 2, g.cameraMask};
  for (int32_t i = 0; i < FR; ++i) {
    const int32_t r = T - i;
    if (r < 0 || r >= H) continue;
    const bool early = i <= std::min(FR - 1, 10);
    bs.Sample(info, kFrontLeft, i, r, bs.Start(r, false, early, 1), false);
    bs.Sample(info, kFrontRight, i, r, bs.Start(r, true, early, 1), true);
  }
  for (int32_t i = 0; i < RR; ++i) {
    const int32_t r = B + i;
    if (r < 0 || r >= H) continue;
    const bool early = i <= std::min(RR - 1, 10);
    bs.Sample(info, kRearLeft, i, r, bs.Start(r, false, early, 2), false);
    bs.Sample(info, kRearRight, i, r, bs.Start(r, true, early, 2), true);
  }
  info->valid = 1;
  info->quadCoords = 1;
}

int MixAreaInfo_Save(const MixAreaInfo* info, const char* path) {
  if (info == nullptr || path == nullptr) return 0;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) {
    AvmLog("MixAreaInfo_Save: cannot create %s\n", path);
    return 0;
  }
  bool ok = true;
  if (info->valid != 0) {
    const ImageI32& front = info->tables[0];
    const ImageI32& rear = info->tables[4];
    const int32_t head[7] = {static_cast<int32_t>(kMixAreaInfoMagic), info->quadWidth, info->quadHeight,
                             front.width, front.height, rear.width, rear.height};
    ok = WriteAll(f, head, sizeof head);
    for (int k = 0; k < 16 && ok; ++k) {
      const ImageI32& ref = MixAreaInfo_IsFrontTable(k) ? front : rear;
      const ImageI32& t = info->tables[k];
      const size_t n = static_cast<size_t>(std::max(ref.width, 0)) * static_cast<size_t>(std::max(ref.height, 0));
      if (t.data != nullptr && t.width == ref.width && t.height == ref.height) {
        ok = WriteAll(f, t.data, n * 4);
      } else {
        // A table missing from a merged record is stored as zeros so that
        // the file stays readable.
        std::vector<int32_t> zeros(n, 0);
        ok = WriteAll(f, zeros.data(), n * 4);
      }
    }
    const float angles[2] = {info->frontSeamAngle, info->rearSeamAngle};
    const int32_t tail[4] = {info->bandColumns, info->frontRows, info->rearRows, info->coverageMode};
    ok = ok && WriteAll(f, angles, sizeof angles) && WriteAll(f, tail, sizeof tail);
  }
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok) AvmLog("MixAreaInfo_Save: writing %s failed\n", path);
  return ok ? 1 : 0;
}

void MixAreaInfo_Load(MixAreaInfo* info, const char* path) {
  if (info == nullptr || path == nullptr || info->valid != 0) return;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return;
  int32_t head[7];
  if (fread(head, sizeof head, 1, f) != 1 || static_cast<uint32_t>(head[0]) != kMixAreaInfoMagic) {
    fclose(f);
    return;
  }
  const int32_t fc = head[3], frows = head[4], rc = head[5], rrows = head[6];
  long bodyStart = ftell(f);
  long fileEnd = -1;
  if (fseek(f, 0, SEEK_END) == 0) fileEnd = ftell(f);
  const bool sizesOk = fc >= 0 && fc <= kMixAreaMaxColumns && frows >= 0 && frows <= kMixAreaMaxRows &&
                       rc >= 0 && rc <= kMixAreaMaxColumns && rrows >= 0 && rrows <= kMixAreaMaxRows;
  const long need = sizesOk ? 8L * 4 * (static_cast<long>(fc) * frows + static_cast<long>(rc) * rrows) : 0;
  if (!sizesOk || fileEnd < 0 || fileEnd - bodyStart < need || fseek(f, bodyStart, SEEK_SET) != 0) {
    AvmLog("MixAreaInfo_Load: %s has impossible table sizes %d x %d, %d x %d\n", path, fc, frows, rc, rrows);
    fclose(f);
    return;
  }
  // The quad size halves every entry later (camera coordinates, the rear
  // tables of a merge): both within a frame, every entry a coordinate.
  if (head[1] < 0 || head[1] > kMixAreaMaxQuadSide || head[2] < 0 || head[2] > kMixAreaMaxQuadSide) {
    AvmLog("MixAreaInfo_Load: %s has impossible quad size %d x %d\n", path, head[1], head[2]);
    fclose(f);
    return;
  }
  MixAreaInfo in = MixAreaInfo_Empty();
  bool ok = true, entriesOk = true;
  for (int k = 0; k < 16 && ok; ++k) {
    const bool front = MixAreaInfo_IsFrontTable(k);
    ImageI32* t = &in.tables[k];
    ok = AllocTable(t, front ? fc : rc, front ? frows : rrows);
    const size_t n = static_cast<size_t>(t->width) * static_cast<size_t>(t->height);
    ok = ok && (n == 0 || fread(t->data, 4, n, f) == n);
    for (size_t i = 0; ok && i < n; ++i)
      if (t->data[i] < -kMixAreaMaxEntry || t->data[i] > kMixAreaMaxEntry) entriesOk = ok = false;
  }
  if (!ok) {
    if (entriesOk)
      AvmLog("MixAreaInfo_Load: %s is short\n", path);
    else
      AvmLog("MixAreaInfo_Load: %s holds an entry outside +-%d\n", path, kMixAreaMaxEntry);
    FreeTables(&in);
    fclose(f);
    return;
  }
  float angles[2] = {75.0f, 75.0f};
  int32_t tail[4] = {200, 200, 20, 0};
  for (float& a : angles)
    if (fread(&a, 4, 1, f) != 1) break;
  for (int32_t& t : tail)
    if (fread(&t, 4, 1, f) != 1) break;
  fclose(f);
  if (tail[2] == 20) tail[2] = tail[1];
  in.frontSeamAngle = angles[0];
  in.rearSeamAngle = angles[1];
  in.bandColumns = tail[0];
  in.frontRows = tail[1];
  in.rearRows = tail[2];
  in.coverageMode = tail[3];
  in.quadWidth = head[1];
  in.quadHeight = head[2];
  in.valid = 1;
  in.quadCoords = 1;
  *info = in;
}

void MixAreaInfo_Release(MixAreaInfo* info) {
  if (info == nullptr) return;
  if (info->valid != 0) FreeTables(info);
  info->valid = 0;
  info->quadCoords = 1;
}

void MixAreaInfo_Merge(MixAreaInfo* out, const MixAreaInfo* a, const MixAreaInfo* b) {
  if (out == nullptr || a == nullptr || b == nullptr || out == a || out == b) return;
  // A valid record would lose its tables to the copies below.
  MixAreaInfo_Release(out);
  out->quadCoords = a->quadCoords;
  out->quadWidth = a->quadWidth;
  out->quadHeight = a->quadHeight;
  out->frontSeamAngle = a->frontSeamAngle;
  out->rearSeamAngle = a->rearSeamAngle;
  out->bandColumns = a->bandColumns;
  out->frontRows = a->frontRows;
  out->rearRows = a->rearRows;
  out->coverageMode = b->coverageMode;
  for (int k = 0; k < 16; ++k) {
    const ImageI32& src = MixAreaInfo_IsFrontTable(k) ? a->tables[k] : b->tables[k];
    ImageI32& dst = out->tables[k];
    // A table that is not there in its source stays empty here: never a
    // header left over from before, which the release would free.
    dst = ImageI32{0, 0, nullptr};
    if (src.width >= 1 && src.height > 0 && src.data != nullptr) {
      if (!AllocTable(&dst, src.width, src.height)) {
        dst = ImageI32{0, 0, nullptr};
        continue;
      }
      memcpy(dst.data, src.data, sizeof(int32_t) * src.width * src.height);
    }
  }
  const int32_t half = out->quadHeight / 2;
  for (int k : {11, 15}) {
    ImageI32& t = out->tables[k];
    const size_t n = t.data != nullptr ? static_cast<size_t>(t.width) * t.height : 0;
    for (size_t i = 0; i < n; ++i) t.data[i] = SaturateToInt32(static_cast<int64_t>(t.data[i]) - half);
  }
  out->valid = 1;
}

void MixAreaInfo_ToCameraCoords(MixAreaInfo* info) {
  if (info == nullptr || info->valid == 0 || info->quadCoords == 0) return;
  const int32_t hw = info->quadWidth / 2, hh = info->quadHeight / 2;
  auto reduce = [](ImageI32& t, int32_t half) {
    const size_t n = t.data != nullptr ? static_cast<size_t>(t.width) * t.height : 0;
    for (size_t i = 0; i < n; ++i)
      if (t.data[i] >= half) t.data[i] = SaturateToInt32(static_cast<int64_t>(t.data[i]) - half);
  };
  for (int k : {4, 6, 12, 14}) reduce(info->tables[k], hw);
  for (int k : {9, 11, 13, 15}) reduce(info->tables[k], hh);
  info->quadCoords = 0;
}
