// The per-pixel and pre-warped forms of the CPU stitching.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "surround/cpu_merger.h"
#include "camera/lut_config.h"
#include "frame/log.h"

namespace {

inline uint8_t Clamp255(uint32_t v) { return static_cast<uint8_t>(v > 255 ? 255 : v); }

inline void CopyPair(uint8_t* dst, const uint8_t* src) { memcpy(dst, src, 2); }

}  // namespace

int LUTCPU_InitPerPixel(MergerCPUOBPerPixel* o, const char* krvImagePath, const char* lutConfigPath,
                        int32_t userValue1, int32_t cw, int32_t ch, int32_t userValue2, int32_t* outWidth,
                        int32_t* outHeight) {
  if (o == nullptr) return 0;
  if (o->loaded) return 1;
  if (cw < 4 || ch < 4 || (cw & 1) != 0 || (ch & 1) != 0) {
    AvmLog("LUTCPU_InitFromFile Width Height Not Right \n");
    return 0;
  }
  std::vector<uint8_t> p[4];
  ByteLutGeometry geometry{0, 0, 0, 0, {}};
  if (!LUTCPU_LoadByteLut(krvImagePath, lutConfigPath, cw, ch, p, &geometry)) return 0;
  const int32_t W = geometry.W, H = geometry.H, qw = geometry.qw, qh = geometry.qh;
  const size_t n = static_cast<size_t>(W) * H;
  o->endLumaIndex.assign(n, 0);
  o->endChromaIndex.assign(n, 0);
  o->sideLumaIndex.assign(n, 0);
  o->sideChromaIndex.assign(n, 0);
  o->descriptor.assign(n, 0);
  const float fqw = static_cast<float>(qw), fqh = static_cast<float>(qh);
  for (size_t i = 0; i < n; ++i) {
    const size_t lo = i + n;
    const int32_t b0 = p[0][i], b1 = p[1][i], b2 = p[2][i], b3 = p[3][i];
    const int32_t d0 = p[0][lo], d1 = p[1][lo], d2 = p[2][lo], d3 = p[3][lo];
    const float x1 = fqw * (static_cast<float>(b0) + static_cast<float>(b3 >> 2) / 63.0f) / 255.0f;
    const float y1 = fqh * (static_cast<float>(b1) + static_cast<float>(b2 & 31) / 31.0f) / 255.0f;
    const int32_t code = (b2 >> 5) * 4 + (b3 & 3);
    const float w = static_cast<float>(code) / 31.0f;
    int32_t cam1, x, y;
    if (!LUTCPU_MapSource(x1, y1, cw, ch, &cam1, &x, &y)) continue;
    const bool end1 = cam1 <= 2;
    (end1 ? o->endLumaIndex : o->sideLumaIndex)[i] = y * cw + x;
    (end1 ? o->endChromaIndex : o->sideChromaIndex)[i] = (y >> 1) * (cw / 2) + (x >> 1);
    uint32_t mask = 1u << (cam1 - 1);
    if (code != 31) {
      const float x2 = fqw * (static_cast<float>(d0) + static_cast<float>(d2 >> 4) / 15.0f) / 255.0f;
      const float y2 = fqh * (static_cast<float>(d1) + static_cast<float>(d2 & 15) / 15.0f) / 255.0f;
      int32_t cam2;
      if (!LUTCPU_MapSource(x2, y2, cw, ch, &cam2, &x, &y)) continue;
      (cam2 <= 2 ? o->endLumaIndex : o->sideLumaIndex)[i] = y * cw + x;
      (cam2 <= 2 ? o->endChromaIndex : o->sideChromaIndex)[i] = (y >> 1) * (cw / 2) + (x >> 1);
      mask |= 1u << (cam2 - 1);
    }
    const float endWeight = end1 ? w : 1.0f - w;
    o->descriptor[i] = mask | ((static_cast<uint32_t>(static_cast<int32_t>(static_cast<float>(d3) + 0.5f)) & 255u) << 8) |
                       ((static_cast<uint32_t>(static_cast<int32_t>(31.0f * endWeight + 0.5f)) & 255u) << 16);
  }
  o->outWidth = W;
  o->outHeight = H;
  o->camWidth = cw;
  o->camHeight = ch;
  o->userValue1 = userValue1;
  o->userValue2 = userValue2;
  o->loaded = 1;
  if (outWidth != nullptr) *outWidth = W;
  if (outHeight != nullptr) *outHeight = H;
  return 1;
}

int LUTCPU_ExecPerPixel(const MergerCPUOBPerPixel* o, const uint8_t* const images[4], const CPUMergerOutput* out,
                        const int32_t pitches[2], const float gains[24], int32_t /*region*/, int32_t fill) {
  if (o == nullptr || !o->loaded || images == nullptr || out == nullptr || pitches == nullptr || gains == nullptr)
    return 0;
  for (int k = 0; k < 4; ++k)
    if (images[k] == nullptr) return 0;
  int32_t ramp[4][256];
  for (int k = 0; k < 4; ++k) LUTCPU_BuildRamp(gains, k + 1, ramp[k]);
  const int32_t W = o->outWidth, H = o->outHeight, cw = o->camWidth;
  const size_t chromaOffset = static_cast<size_t>(cw) * o->camHeight;
  for (int32_t r = 0; r < H; ++r) {
    uint8_t* dstY = out->luma + static_cast<size_t>(r) * pitches[0];
    uint8_t* dstUV = out->chroma + static_cast<size_t>(r >> 1) * pitches[1];
    const bool chromaRow = (r & 1) == 0 && r != H - 1;
    for (int32_t c = 0; c < W; ++c) {
      const size_t i = static_cast<size_t>(r) * W + c;
      const uint32_t d = o->descriptor[i];
      const uint32_t mask = d & 255u, lo = (d >> 8) & 255u, a = (d >> 16) & 255u;
      const bool chroma = chromaRow && (c & 1) == 0;
      uint8_t* pair = dstUV + 2 * static_cast<size_t>(c >> 1);
      int single = -1, e = -1, s = -1;
      switch (mask) {
        case 1: single = 0; break;
        case 2: single = 1; break;
        case 4: single = 2; break;
        case 8: single = 3; break;
        case 5: e = 0; s = 2; break;
        case 6: e = 1; s = 2; break;
        case 9: e = 0; s = 3; break;
        case 10: e = 1; s = 3; break;
        default: break;
      }
      if (single >= 0) {
        const bool end = single < 2;
        const uint32_t y = images[single][end ? o->endLumaIndex[i] : o->sideLumaIndex[i]];
        const uint32_t weight = end ? a : 32u - a;
        dstY[c] = Clamp255((y * static_cast<uint32_t>(ramp[single][lo]) * weight) >> 21);
        if (chroma)
          CopyPair(pair, images[single] + chromaOffset +
                             2 * static_cast<size_t>(end ? o->endChromaIndex[i] : o->sideChromaIndex[i]));
      } else if (e >= 0) {
        const uint32_t ye = images[e][o->endLumaIndex[i]], ys = images[s][o->sideLumaIndex[i]];
        dstY[c] = Clamp255((ye * static_cast<uint32_t>(ramp[e][lo]) * a + ys * static_cast<uint32_t>(ramp[s][lo]) * (32u - a)) >> 21);
        if (chroma) {
          const uint8_t* pe = images[e] + chromaOffset + 2 * static_cast<size_t>(o->endChromaIndex[i]);
          const uint8_t* ps = images[s] + chromaOffset + 2 * static_cast<size_t>(o->sideChromaIndex[i]);
          for (int b = 0; b < 2; ++b) pair[b] = static_cast<uint8_t>((ps[b] * (32u - a) + pe[b] * a) >> 5);
        }
      } else if (mask != 0 || fill != 0) {
        dstY[c] = 16;
        if (chroma) pair[0] = pair[1] = 0x80;
      }
    }
  }
  return 1;
}

void LUTCPU_ReleasePerPixel(MergerCPUOBPerPixel* o) {
  if (o == nullptr || !o->loaded) return;
  std::vector<int32_t>().swap(o->endLumaIndex);
  std::vector<int32_t>().swap(o->endChromaIndex);
  std::vector<int32_t>().swap(o->sideLumaIndex);
  std::vector<int32_t>().swap(o->sideChromaIndex);
  std::vector<uint32_t>().swap(o->descriptor);
  o->loaded = 0;
}

namespace {

// Output rows and columns of camera 0..3's area picture.
CPUStitchRange CameraArea(int k, int32_t W, int32_t H, const int32_t bands[4]) {
  switch (k) {
    case 0: return CPUStitchRange{0, bands[0], 0, W};
    case 1: return CPUStitchRange{H - bands[1], H, 0, W};
    case 2: return CPUStitchRange{0, H, 0, bands[2]};
    default: return CPUStitchRange{0, H, W - bands[3], W};
  }
}

bool RunInside(const CPUStitchRun& run, const CPUStitchRange& a) {
  return run.row >= a.rowBegin && run.row < a.rowEnd && run.col >= a.colBegin && run.col + run.length <= a.colEnd;
}

}  // namespace

int LUTCPU_InitFromMAB(MergerCPUOBWarped* o, const char* lutConfigPath, const char* mabPath, int32_t userValue,
                       int32_t* outWidth, int32_t* outHeight) {
  if (o == nullptr) return 0;
  if (o->loaded) return 1;
  LutConfigInfo info;
  CameraParamSet params;
  if (lutConfigPath == nullptr || LoadLUTConfig(&info, &params, lutConfigPath, nullptr) == 0) {
    AvmLog("LUTCPU_InitFromFile LoadParam Failed %s \n", lutConfigPath != nullptr ? lutConfigPath : "(null)");
    return 0;
  }
  MABFileData mab;
  if (mabPath == nullptr || MABFile_Read(mabPath, &mab) == 0) return 0;
  const int32_t W = mab.width, H = mab.height;
  // An area reaching beyond the output has no picture a caller could supply
  // (its origin would lie outside the output).
  if (info.bandSizes[0] > static_cast<uint32_t>(H) || info.bandSizes[1] > static_cast<uint32_t>(H) ||
      info.bandSizes[2] > static_cast<uint32_t>(W) || info.bandSizes[3] > static_cast<uint32_t>(W)) {
    AvmLog("LUTCPU_InitFromMAB band sizes %u, %u, %u, %u beyond the %d x %d output\n", info.bandSizes[0],
           info.bandSizes[1], info.bandSizes[2], info.bandSizes[3], W, H);
    return 0;
  }
  int32_t bands[4];
  for (int k = 0; k < 4; ++k) bands[k] = static_cast<int32_t>(info.bandSizes[k]);
  // The area pictures hold nothing beyond their camera's area: a run that
  // leaves it would read past them.
  for (int k = 0; k < 4; ++k) {
    const CPUStitchRange area = CameraArea(k, W, H, bands);
    const CPUStitchRange endArea = CameraArea(k < 2 ? 0 : 1, W, H, bands);
    const CPUStitchRange sideArea = CameraArea((k & 1) ? 3 : 2, W, H, bands);
    const CPUStitchRange corner{std::max(endArea.rowBegin, sideArea.rowBegin), std::min(endArea.rowEnd, sideArea.rowEnd),
                                std::max(endArea.colBegin, sideArea.colBegin), std::min(endArea.colEnd, sideArea.colEnd)};
    for (const CPUStitchRun& r : mab.tables.camera[k])
      if (!RunInside(r, area)) {
        AvmLog("LUTCPU_InitFromMAB %s: a run of camera %d leaves its area\n", mabPath, k + 1);
        return 0;
      }
    for (const CPUStitchRun& r : mab.tables.seam[k])
      if (!RunInside(r, corner)) {
        AvmLog("LUTCPU_InitFromMAB %s: a blend run leaves its corner\n", mabPath);
        return 0;
      }
  }
  o->outWidth = W;
  o->outHeight = H;
  o->userValue = userValue;
  for (int k = 0; k < 4; ++k) o->bandSizes[k] = bands[k];
  o->blendMap.assign(static_cast<size_t>(W) * H, 0);
  for (int32_t r = 0; r < H; ++r) {
    const size_t rowStart = MAB_WeightMapRowStart(W, r);
    for (int32_t c = 0; c + 1 < W; c += 2) {
      const uint8_t* p = &mab.weightMap[rowStart + static_cast<size_t>(c / 2) * 3];
      const size_t i = static_cast<size_t>(r) * W + c;
      o->blendMap[i] = static_cast<uint16_t>((p[0] & 0xFE) | ((((p[0] & 1) << 4) | (p[2] >> 4)) << 8));
      o->blendMap[i + 1] = static_cast<uint16_t>((p[1] & 0xFE) | ((((p[1] & 1) << 4) | (p[2] & 15)) << 8));
    }
  }
  for (int k = 0; k < 4; ++k) {
    o->singleRuns[k] = std::move(mab.tables.camera[k]);
    o->blendRuns[k] = std::move(mab.tables.seam[k]);
  }
  if (outWidth != nullptr) *outWidth = W;
  if (outHeight != nullptr) *outHeight = H;
  o->loaded = 1;
  return 1;
}

int LUTCPU_ExecWarped(const MergerCPUOBWarped* o, const uint8_t* const cameras[4][2], const int32_t cameraPitches[4][2],
                      const CPUMergerOutput* out, const int32_t pitches[2], const float gains[24], int32_t region) {
  if (o == nullptr || !o->loaded || cameras == nullptr || cameraPitches == nullptr || out == nullptr ||
      pitches == nullptr || gains == nullptr)
    return 0;
  for (int k = 0; k < 4; ++k)
    if (cameras[k][0] == nullptr || cameras[k][1] == nullptr) return 0;
  const int32_t W = o->outWidth, H = o->outHeight;
  int32_t ramp[4][256];
  for (int k = 0; k < 4; ++k) LUTCPU_BuildRamp(gains, k + 1, ramp[k]);
  CPUStitchRange ranges[4];
  bool useSingle[4], useBlend[4];
  LUTCPU_SelectRegion(region, W, H, o->bandSizes, ranges, useSingle, useBlend);
  int32_t originRow[4], originCol[4];
  for (int k = 0; k < 4; ++k) {
    const CPUStitchRange a = CameraArea(k, W, H, o->bandSizes);
    originRow[k] = a.rowBegin;
    originCol[k] = a.colBegin;
  }
  auto lumaAt = [&](int k, int32_t r, int32_t c) {
    return cameras[k][0][static_cast<size_t>(r - originRow[k]) * cameraPitches[k][0] + (c - originCol[k])];
  };
  auto chromaAt = [&](int k, int32_t r, int32_t c) {
    return cameras[k][1] + static_cast<size_t>((r - originRow[k]) >> 1) * cameraPitches[k][1] +
           2 * static_cast<size_t>((c - originCol[k]) >> 1);
  };
  for (int k = 0; k < 4; ++k) {
    if (!useSingle[k]) continue;
    for (const CPUStitchRun& run : o->singleRuns[k]) {
      const int32_t r = run.row;
      if (r < ranges[k].rowBegin || r >= ranges[k].rowEnd) continue;
      const int32_t a = std::max(run.col, ranges[k].colBegin), b = std::min(run.col + run.length, ranges[k].colEnd);
      uint8_t* dst = out->luma + static_cast<size_t>(r) * pitches[0];
      for (int32_t c = a; c < b; ++c) {
        const uint32_t lo = o->blendMap[static_cast<size_t>(r) * W + c] & 255u;
        dst[c] = Clamp255((lumaAt(k, r, c) * static_cast<uint32_t>(ramp[k][lo])) >> 16);
        if ((r & 1) == 0 && (c & 1) == 0)
          CopyPair(out->chroma + static_cast<size_t>(r >> 1) * pitches[1] + 2 * static_cast<size_t>(c >> 1),
                   chromaAt(k, r, c));
      }
    }
  }
  for (int p = 0; p < 4; ++p) {
    if (!useBlend[p]) continue;
    const int e = p < 2 ? 0 : 1, s = (p & 1) == 0 ? 2 : 3;
    for (const CPUStitchRun& run : o->blendRuns[p]) {
      const int32_t r = run.row;
      uint8_t* dst = out->luma + static_cast<size_t>(r) * pitches[0];
      for (int32_t c = run.col; c < run.col + run.length; ++c) {
        const uint16_t cell = o->blendMap[static_cast<size_t>(r) * W + c];
        const uint32_t lo = cell & 255u, wa = cell >> 8;
        dst[c] = Clamp255((lumaAt(e, r, c) * static_cast<uint32_t>(ramp[e][lo]) * wa +
                           lumaAt(s, r, c) * static_cast<uint32_t>(ramp[s][lo]) * (32u - wa)) >>
                          21);
        if ((r & 1) == 0 && (c & 1) == 0)
          CopyPair(out->chroma + static_cast<size_t>(r >> 1) * pitches[1] + 2 * static_cast<size_t>(c >> 1),
                   chromaAt(e, r, c));
      }
    }
  }
  return 1;
}

void LUTCPU_ReleaseWarped(MergerCPUOBWarped* o) {
  if (o == nullptr || !o->loaded) return;
  std::vector<uint16_t>().swap(o->blendMap);
  for (auto& l : o->singleRuns) std::vector<CPUStitchRun>().swap(l);
  for (auto& l : o->blendRuns) std::vector<CPUStitchRun>().swap(l);
  o->loaded = 0;
}
