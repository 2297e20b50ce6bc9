#include "surround/cpu_merger_six.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "camera/lut_config.h"
#include "frame/log.h"
#include "surround/calibration_services.h"

namespace {

struct Area {
  int32_t rowBegin, rowEnd, colBegin, colEnd;
};

Area CameraArea(const MergerCPUOB6* o, int32_t k) {
  const int32_t W = o->outWidth, H = o->outHeight;
  const int32_t* a = o->bandSizesA;
  const int32_t* b = o->bandSizesB;
  switch (k) {
    case 0: return Area{0, a[0], 0, W};
    case 1: return Area{H - a[1], H, 0, W};
    case 2: return Area{0, H, 0, a[2]};
    case 3: return Area{0, H, W - a[3], W};
    case 4: return Area{0, H, 0, b[2]};
    default: return Area{0, H, W - b[3], W};
  }
}

constexpr int32_t kPairFirst[6] = {0, 0, 1, 1, 2, 3};
constexpr int32_t kPairSecond[6] = {2, 3, 4, 5, 4, 5};

bool Inside(const CPUStitchRun& r, const Area& a) {
  return r.row >= a.rowBegin && r.row < a.rowEnd && r.col >= a.colBegin && r.col + r.length <= a.colEnd;
}

Area Intersect(const Area& x, const Area& y) {
  return Area{std::max(x.rowBegin, y.rowBegin), std::min(x.rowEnd, y.rowEnd), std::max(x.colBegin, y.colBegin),
              std::min(x.colEnd, y.colEnd)};
}

int32_t FixedGain(const float* t) {
  const float g = 256.0f * (t[0] + t[1] + t[2]) / 3.0f;
  // Keeps every product of the stitch inside 32 bits.
  if (!(g > 0.0f)) return 0;
  if (g > 65535.0f) return 65535;
  return static_cast<int32_t>(g);
}

bool LoadBands(const char* path, int32_t bands[4]) {
  LutConfigInfo info;
  CameraParamSet params;
  if (path == nullptr || LoadLUTConfig(&info, &params, path, nullptr) == 0) {
    AvmLog("LUTHI6CPU_InitFromFile LoadParam Failed %s \n", path != nullptr ? path : "(null)");
    return false;
  }
  for (int k = 0; k < 4; ++k) bands[k] = static_cast<int32_t>(info.bandSizes[k]);
  return true;
}

inline uint8_t Clamp255(uint32_t v) { return static_cast<uint8_t>(v > 255 ? 255 : v); }

}  // namespace

int LUTHI6CPU_InitFromFile(MergerCPUOB6* o, const char* mab6Path, const char* lutConfigPathA,
                           const char* lutConfigPathB, int32_t userValue, int32_t* outWidth, int32_t* outHeight) {
  if (o == nullptr) return 0;
  if (o->loaded) return 1;
  int32_t bandsA[4], bandsB[4];
  if (!LoadBands(lutConfigPathB, bandsB) || !LoadBands(lutConfigPathA, bandsA)) return 0;
  MAB6FileData mab;
  if (mab6Path == nullptr || MAB6File_Read(mab6Path, &mab) == 0) return 0;
  MergerCPUOB6 t;
  t.outWidth = mab.width;
  t.outHeight = mab.height;
  t.userValue = userValue;
  for (int k = 0; k < 4; ++k) {
    // A band wider than the output would place a picture outside it.
    t.bandSizesA[k] = std::min(std::max(bandsA[k], 0), k < 2 ? mab.height : mab.width);
    t.bandSizesB[k] = std::min(std::max(bandsB[k], 0), k < 2 ? mab.height : mab.width);
  }
  // The pictures hold nothing beyond their camera's area: a run that leaves
  // it would read past them.
  for (int k = 0; k < 6; ++k) {
    const Area a = CameraArea(&t, k);
    for (const CPUStitchRun& r : mab.tables[k])
      if (r.length > 0 && !Inside(r, a)) {
        AvmLog("LUTHI6CPU_InitFromFile %s: a run of camera %d leaves its area\n", mab6Path, k + 1);
        return 0;
      }
    const Area both = Intersect(CameraArea(&t, kPairFirst[k]), CameraArea(&t, kPairSecond[k]));
    for (const CPUStitchRun& r : mab.tables[6 + k])
      if (r.length > 0 && !Inside(r, both)) {
        AvmLog("LUTHI6CPU_InitFromFile %s: a run of blend pair %d leaves its cameras' areas\n", mab6Path, k + 1);
        return 0;
      }
  }
  const int32_t W = t.outWidth, H = t.outHeight;
  t.blendMap.assign(static_cast<size_t>(W) * H, 0);
  for (int32_t r = 0; r < H; ++r) {
    const size_t rowStart = MAB_WeightMapRowStart(W, r);
    for (int32_t c = 0; c + 1 < W; c += 2) {
      const uint8_t* p = &mab.weightMap[rowStart + static_cast<size_t>(c / 2) * 3];
      const size_t i = static_cast<size_t>(r) * W + c;
      t.blendMap[i] = static_cast<uint16_t>((p[0] & 0xFE) | ((((p[0] & 1) << 4) | (p[2] >> 4)) << 8));
      t.blendMap[i + 1] = static_cast<uint16_t>((p[1] & 0xFE) | ((((p[1] & 1) << 4) | (p[2] & 15)) << 8));
    }
  }
  for (int k = 0; k < 6; ++k) {
    t.singleRuns[k] = std::move(mab.tables[k]);
    t.blendRuns[k] = std::move(mab.tables[6 + k]);
  }
  t.loaded = 1;
  *o = std::move(t);
  if (outWidth != nullptr) *outWidth = W;
  if (outHeight != nullptr) *outHeight = H;
  return 1;
}

void LUTHI6CPU_BuildRamps(const float gains[24], const float* extra, int32_t ramps[6][256]) {
  int32_t G[9], X[5] = {0, 0, 0, 0, 0};
  for (int j = 1; j <= 8; ++j) G[j] = FixedGain(gains + 3 * (j - 1));
  if (extra != nullptr)
    for (int j = 1; j <= 4; ++j) X[j] = FixedGain(extra + 3 * (j - 1));
  for (int32_t i = 0; i < 256; ++i) {
    ramps[0][i] = i * G[1] + (255 - i) * G[2];
    ramps[1][i] = i * G[3] + (255 - i) * G[4];
    if (extra == nullptr) {
      ramps[2][i] = ramps[4][i] = i * G[5] + (255 - i) * G[6];
      ramps[3][i] = ramps[5][i] = i * G[7] + (255 - i) * G[8];
    } else {
      const int32_t p = std::min(2 * i, 255);
      const int32_t q = i > 129 ? (i - 128) >> 1 : 0;
      ramps[2][i] = (255 - p) * G[6] + p * X[1];
      ramps[3][i] = (255 - q) * X[3] + q * G[7];
      ramps[4][i] = (255 - q) * X[2] + q * G[5];
      ramps[5][i] = (255 - p) * G[8] + p * X[4];
    }
  }
}

void LUTHI6CPU_CameraOrigin(const MergerCPUOB6* o, int32_t k, int32_t* row, int32_t* col) {
  *row = 0;
  *col = 0;
  if (o == nullptr) return;
  if (k == 1) *row = o->outHeight - o->bandSizesA[1];
  if (k == 3) *col = o->outWidth - o->bandSizesA[3];
  if (k == 5) *col = o->outWidth - o->bandSizesB[3];
}

int LUTHI6CPU_Exec(const MergerCPUOB6* o, const uint8_t* const cameras[6][2], const int32_t cameraPitches[6][2],
                   const CPUMergerOutput* out, const int32_t pitches[2], const float gains[24],
                   const float* extraGains) {
  if (o == nullptr || !o->loaded || cameras == nullptr || cameraPitches == nullptr || out == nullptr ||
      out->luma == nullptr || out->chroma == nullptr || pitches == nullptr || gains == nullptr)
    return 0;
  for (int k = 0; k < 6; ++k)
    if (cameras[k][0] == nullptr || cameras[k][1] == nullptr) return 0;
  int32_t ramps[6][256];
  LUTHI6CPU_BuildRamps(gains, extraGains, ramps);
  const int32_t W = o->outWidth;
  const uint16_t* cell = o->blendMap.data();
  const int32_t lumaPitch = pitches[0], chromaPitch = pitches[1];
  int32_t originRow[6], originCol[6];
  for (int k = 0; k < 6; ++k) LUTHI6CPU_CameraOrigin(o, k, &originRow[k], &originCol[k]);

  for (int k = 0; k < 6; ++k) {
    const int32_t* R = ramps[k];
    const int32_t ly = cameraPitches[k][0], cy = cameraPitches[k][1];
    for (const CPUStitchRun& run : o->singleRuns[k]) {
      const int32_t r = run.row, a = run.col, b = run.col + run.length;
      if (a >= b) continue;
      const size_t base = static_cast<size_t>(r) * W;
      // Picture row r and column c are at src[c].
      const uint8_t* src = cameras[k][0] + static_cast<ptrdiff_t>(r - originRow[k]) * ly - originCol[k];
      uint8_t* dst = out->luma + static_cast<size_t>(r) * lumaPitch;
      auto onePixel = [&](int32_t c) {
        dst[c] = Clamp255((static_cast<uint32_t>(src[c]) * static_cast<uint32_t>(R[cell[base + c] & 255])) >> 16);
      };
      // Groups of four step the gain linearly; the first group and the
      // run's last group use their own rule (see the four-camera stitch).
      const int32_t g0 = (a + 3) & ~3, last = (b - 1) & ~3;
      for (int32_t c = a; c < std::min(g0, b); ++c) onePixel(c);
      for (int32_t g = g0; g < last; g += 4) {
        const size_t i = base + g;
        int32_t s, step;
        if (g == g0) {
          s = R[cell[i + 4] & 255];
          step = 0;
        } else {
          s = R[cell[i] & 255];
          step = (R[cell[i + 4] & 255] - s) / 4;
        }
        uint8_t px[4];
        for (int32_t j = 0; j < 4; ++j)
          px[j] = Clamp255((static_cast<uint32_t>(src[g + j]) * static_cast<uint32_t>(s + j * step)) >> 16);
        memcpy(dst + g, px, 4);
      }
      for (int32_t c = std::max(last, a); c < b; ++c) onePixel(c);
      if ((r & 1) == 0) {
        const uint8_t* csrc = cameras[k][1] + static_cast<ptrdiff_t>((r - originRow[k]) >> 1) * cy;
        uint8_t* cdst = out->chroma + static_cast<size_t>(r >> 1) * chromaPitch;
        for (int32_t c = a + (a & 1); c < b; c += 2)
          memcpy(cdst + 2 * static_cast<size_t>(c >> 1), csrc + 2 * static_cast<ptrdiff_t>((c - originCol[k]) >> 1), 2);
      }
    }
  }

  for (int p = 0; p < 6; ++p) {
    const int e = kPairFirst[p], s = kPairSecond[p];
    const int32_t* Re = ramps[e];
    const int32_t* Rs = ramps[s];
    for (const CPUStitchRun& run : o->blendRuns[p]) {
      const int32_t r = run.row, a = run.col, b = run.col + run.length;
      if (a >= b) continue;
      const size_t base = static_cast<size_t>(r) * W;
      const uint8_t* se = cameras[e][0] + static_cast<ptrdiff_t>(r - originRow[e]) * cameraPitches[e][0] - originCol[e];
      const uint8_t* ss = cameras[s][0] + static_cast<ptrdiff_t>(r - originRow[s]) * cameraPitches[s][0] - originCol[s];
      uint8_t* dst = out->luma + static_cast<size_t>(r) * lumaPitch;
      for (int32_t c = a; c < b; ++c) {
        const uint32_t lo = cell[base + c] & 255u, wa = cell[base + c] >> 8;
        dst[c] = Clamp255((static_cast<uint32_t>(se[c]) * static_cast<uint32_t>(Re[lo]) * wa +
                           static_cast<uint32_t>(ss[c]) * static_cast<uint32_t>(Rs[lo]) * (32u - wa)) >>
                          21);
      }
      if ((r & 1) == 0) {
        const uint8_t* csrc = cameras[e][1] + static_cast<ptrdiff_t>((r - originRow[e]) >> 1) * cameraPitches[e][1];
        uint8_t* cdst = out->chroma + static_cast<size_t>(r >> 1) * chromaPitch;
        for (int32_t c = a + (a & 1); c < b; c += 2)
          memcpy(cdst + 2 * static_cast<size_t>(c >> 1), csrc + 2 * static_cast<ptrdiff_t>((c - originCol[e]) >> 1), 2);
      }
    }
  }
  return 1;
}

void LUTHI6CPU_Release(MergerCPUOB6* o) {
  if (o == nullptr || !o->loaded) return;
  std::vector<uint16_t>().swap(o->blendMap);
  for (auto& l : o->singleRuns) std::vector<CPUStitchRun>().swap(l);
  for (auto& l : o->blendRuns) std::vector<CPUStitchRun>().swap(l);
  o->loaded = 0;
}

int32_t LUTFile_GetCameraCount(const char* path) {
  FILE* f = path != nullptr ? fopen(path, "rb") : nullptr;
  if (f == nullptr) return 0;
  uint8_t b[4];
  const bool ok = fread(b, 1, 4, f) == 4;
  fclose(f);
  if (!ok) return 0;
  const uint32_t magic = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
  return magic == kMABMagic ? 4 : (magic == kMAB6Magic ? 6 : 0);
}

int32_t CameraSlotTable(int32_t group, int32_t slot) {
  static const int32_t kSlots[2][4] = {{0, 1, 2, 3}, {0, 1, 4, 5}};
  if (group < 0 || group > 1 || slot < 0 || slot > 3) return -1;
  return kSlots[group][slot];
}

void LUTSix_MergeHelper(float* yA, float* xA, float* yB, float* xB, int32_t fixedCount) {
  auto copyGroup = [&](int32_t group, int32_t slot, float* ys, float* xs) {
    if (ys == nullptr || xs == nullptr) return;
    float pts[2 * kBlockCalib6Points] = {};
    int32_t n = BlockCalib6_GetGroupPoints(group, slot, pts);
    if (fixedCount != 0) n = kBlockCalib6Points;
    if (n < 1) return;
    n = std::min(n, kBlockCalib6Points);
    for (int32_t i = 0; i < n; ++i) {
      xs[kSixCornerSlot * (slot - 1) + i] = pts[2 * i];
      ys[kSixCornerSlot * (slot - 1) + i] = pts[2 * i + 1];
    }
  };
  for (int32_t slot = 1; slot <= 4; ++slot) copyGroup(0, slot, yA, xA);
  for (int32_t slot = 1; slot <= 4; ++slot) copyGroup(1, slot, yB, xB);
  copyGroup(1, 2, yA, xA);
}
