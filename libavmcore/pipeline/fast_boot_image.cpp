#include "pipeline/fast_boot_image.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/lutob.h"
#include "toolkit/bmp_file.h"

namespace {

size_t LutWords(const FastBootImage& m) { return static_cast<size_t>(m.Wb) * m.H; }
size_t Pic1Bytes(const FastBootImage& m) { return static_cast<size_t>(m.CW) * m.CH * 2; }
size_t Pic2Bytes(const FastBootImage& m) { return static_cast<size_t>(m.W - m.Wb) * (m.H - m.Hb) * 2; }

bool SizesUsable(const FastBootImage& m) {
  auto side = [](int32_t v) { return v >= 0 && v <= kFastBootMaxSide; };
  // P is a row offset on the screen: beyond one side of the largest screen
  // either way the car picture is off the screen anyway.
  const bool rowOk = m.P >= -kFastBootMaxSide && m.P <= kFastBootMaxSide;
  return side(m.W) && side(m.H) && side(m.Wb) && side(m.Hb) && side(m.QW) && side(m.QH) && side(m.CW) &&
         side(m.CH) && rowOk && m.W >= 1 && m.H >= 1 && m.Wb <= m.W && m.Hb <= m.H && (m.QW & 1) == 0;
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// A BMP picture as two-byte YUV pixels; false when it is not w x h.
bool LoadPicture(const char* path, int32_t w, int32_t h, std::vector<uint8_t>* out) {
  const Rgb24ImagePtr img(path != nullptr ? Bmp_LoadRGB24(path) : nullptr);
  if (img == nullptr) {
    AvmLog("FastBoot_Build: cannot read %s\n", path != nullptr ? path : "(null)");
    return false;
  }
  const bool ok = img->width == w && img->height == h;
  if (!ok) AvmLog("FastBoot_Build: %s is %d x %d, not %d x %d\n", path, img->width, img->height, w, h);
  if (ok) {
    out->resize(static_cast<size_t>(w) * h * 2);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* p = img->data + static_cast<size_t>(y) * img->stride + 3 * x;
        const int B = p[0], G = p[1], R = p[2];
        const int Y = ((66 * R + 129 * G + 25 * B + 128) >> 8) + 16;
        const int C = (x & 1) == 0 ? ((-38 * R - 74 * G + 112 * B + 128) >> 8) + 128
                                   : ((112 * R - 94 * G - 18 * B + 128) >> 8) + 128;
        uint8_t* o = &(*out)[(static_cast<size_t>(y) * w + x) * 2];
        o[0] = static_cast<uint8_t>(Clamp255(C));
        o[1] = static_cast<uint8_t>(Clamp255(Y));
      }
  }
  return ok;
}

// Output pixel (x, y) of a UYVY screen from the source pixel (sx, sy) of a
// UYVY picture: its luma and the chroma byte of the output's parity.
inline void CopyPixel(const uint8_t* src, int32_t srcW, int32_t sx, int32_t sy, uint8_t* dst, int32_t dstW,
                      int32_t x, int32_t y) {
  const uint8_t* pair = src + (static_cast<size_t>(sy) * srcW + (sx & ~1)) * 2;
  uint8_t* o = dst + (static_cast<size_t>(y) * dstW + x) * 2;
  o[0] = pair[(x & 1) ? 2 : 0];
  o[1] = pair[(sx & 1) ? 3 : 1];
}

}  // namespace

int FastBoot_Build(FastBootImage* m, const LUTOB* lut, const char* bmpPath1, const char* bmpPath2) {
  if (m == nullptr || lut == nullptr) return 0;
  const LutConfig& cfg = lut->cfg;
  const GlobalVariables& g = gv();
  FastBootImage t;
  t.W = g.f7;
  t.H = g.f8;
  t.Wb = g.f3;
  t.Hb = t.H;
  if (!(t.W == 1280 && t.H == 480)) t.Hb = (t.H - static_cast<int32_t>(0.2f * static_cast<float>(t.W - t.Wb))) & ~3;
  t.Hb = std::min(std::max(t.Hb, 0), t.H);
  t.QW = 2 * lut->camW;
  t.QH = 2 * lut->camH;
  t.P = cfg.carTop & ~1;
  t.Q = cfg.mmPerPixel;
  t.CW = std::max(cfg.carRight - cfg.carLeft, 0) & ~3;
  t.CH = std::max(cfg.carBottom - cfg.carTop, 0);
  const Matrix& X1 = cfg.X1;
  if (X1.data == nullptr || cfg.Y1.data == nullptr || cfg.X2.data == nullptr || cfg.Y2.data == nullptr ||
      cfg.W1.data == nullptr || X1.cols != t.Wb || !SizesUsable(t)) {
    AvmLog("FastBoot_Build: no stitched maps of %d columns\n", t.Wb);
    return 0;
  }
  t.lut.assign(LutWords(t), kFastBootNoSource);
  for (int32_t r = 0; r < std::min(t.H, X1.rows); ++r)
    for (int32_t c = 0; c < t.Wb; ++c) {
      const size_t i = static_cast<size_t>(r) * X1.cols + c;
      // The dominant source: the second maps where the corner blend leans
      // towards them.
      const bool second = cfg.W1.data[i] < 0.5f;
      const float x = second ? cfg.X2.data[i] : cfg.X1.data[i], y = second ? cfg.Y2.data[i] : cfg.Y1.data[i];
      const long sx = std::lround(x), sy = std::lround(y);
      if (sx < 0 || sy < 0 || sx >= t.QW || sy >= t.QH) continue;
      t.lut[static_cast<size_t>(r) * t.Wb + c] = (static_cast<uint32_t>(sx) << 16) | static_cast<uint32_t>(sy);
    }
  if (!LoadPicture(bmpPath1, t.CW, t.CH, &t.picture1) ||
      !LoadPicture(bmpPath2, t.W - t.Wb, t.H - t.Hb, &t.picture2))
    return 0;
  *m = std::move(t);
  return 1;
}

int FastBoot_Save(const FastBootImage* m, const char* path) {
  if (m == nullptr || path == nullptr || m->lut.size() != LutWords(*m) || m->picture1.size() != Pic1Bytes(*m) ||
      m->picture2.size() != Pic2Bytes(*m))
    return 0;
  FILE* f = fopen(path, "wb");
  if (f == nullptr) return 0;
  int32_t head[11] = {static_cast<int32_t>(kFastBootMagic), m->H, m->W, m->Wb, m->Hb, m->QW, m->QH, m->P, 0, m->CW,
                      m->CH};
  memcpy(&head[8], &m->Q, 4);
  bool ok = fwrite(head, sizeof head, 1, f) == 1;
  ok = ok && (m->lut.empty() || fwrite(m->lut.data(), 4, m->lut.size(), f) == m->lut.size());
  ok = ok && (m->picture1.empty() || fwrite(m->picture1.data(), 1, m->picture1.size(), f) == m->picture1.size());
  ok = ok && (m->picture2.empty() || fwrite(m->picture2.data(), 1, m->picture2.size(), f) == m->picture2.size());
  if (fflush(f) != 0) ok = false;
  if (fsync(fileno(f)) != 0) ok = false;
  if (fclose(f) != 0) ok = false;
  return ok ? 1 : 0;
}

int FastBoot_Load(FastBootImage* m, const char* path) {
  if (m == nullptr || path == nullptr) return 0;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return 0;
  int32_t head[11];
  FastBootImage t;
  bool ok = fread(head, sizeof head, 1, f) == 1 && static_cast<uint32_t>(head[0]) == kFastBootMagic;
  if (ok) {
    t.H = head[1];
    t.W = head[2];
    t.Wb = head[3];
    t.Hb = head[4];
    t.QW = head[5];
    t.QH = head[6];
    t.P = head[7];
    memcpy(&t.Q, &head[8], 4);
    t.CW = head[9];
    t.CH = head[10];
    ok = SizesUsable(t);
    if (!ok)
      AvmLog("FastBoot_Load: %s has impossible sizes (screen %d x %d, part %d x %d, quad %d x %d, car %d x %d at row %d), "
             "file refused\n",
             path, t.W, t.H, t.Wb, t.Hb, t.QW, t.QH, t.CW, t.CH, t.P);
  }
  if (ok) {
    // The blocks must be exactly as long as the header says.
    const long start = ftell(f);
    ok = fseek(f, 0, SEEK_END) == 0;
    const long end = ftell(f);
    const unsigned long long need = 4ull * LutWords(t) + Pic1Bytes(t) + Pic2Bytes(t);
    ok = ok && start >= 0 && end >= start && static_cast<unsigned long long>(end - start) == need &&
         fseek(f, start, SEEK_SET) == 0;
  }
  if (ok) {
    t.lut.resize(LutWords(t));
    t.picture1.resize(Pic1Bytes(t));
    t.picture2.resize(Pic2Bytes(t));
    ok = (t.lut.empty() || fread(t.lut.data(), 4, t.lut.size(), f) == t.lut.size()) &&
         (t.picture1.empty() || fread(t.picture1.data(), 1, t.picture1.size(), f) == t.picture1.size()) &&
         (t.picture2.empty() || fread(t.picture2.data(), 1, t.picture2.size(), f) == t.picture2.size());
  }
  fclose(f);
  if (!ok) return 0;
  *m = std::move(t);
  return 1;
}

void FastBoot_Free(FastBootImage* m) {
  if (m == nullptr) return;
  *m = FastBootImage();
}

int FastBoot_Render(const FastBootImage* m, const uint8_t* frame, uint8_t* out) {
  if (m == nullptr || frame == nullptr || out == nullptr || m->W < 1 || m->H < 1 ||
      m->lut.size() != LutWords(*m))
    return 0;
  const int32_t W = m->W, H = m->H;
  memset(out, 128, static_cast<size_t>(W) * H * 2);
  for (int32_t r = 0; r < H; ++r)
    for (int32_t c = 0; c < m->Wb; ++c) {
      const uint32_t e = m->lut[static_cast<size_t>(r) * m->Wb + c];
      const int32_t sx = static_cast<int32_t>(e >> 16), sy = static_cast<int32_t>(e & 0xFFFF);
      if (e == kFastBootNoSource || sx >= m->QW || sy >= m->QH) continue;
      CopyPixel(frame, m->QW, sx, sy, out, W, c, r);
    }
  // The rear camera (top-right quadrant) mirrored, 80 % of the area beside
  // the bird's-eye part, centred.
  const int32_t aw = W - m->Wb, cw = m->QW / 2, ch = m->QH / 2;
  if (aw > 0 && cw > 0 && ch > 0) {
    const int32_t dw = aw * 4 / 5, dh = std::min(H * 4 / 5, dw * ch / std::max(cw, 1));
    const int32_t x0 = m->Wb + (aw - dw) / 2, y0 = (H - dh) / 2;
    for (int32_t y = 0; y < dh; ++y)
      for (int32_t x = 0; x < dw; ++x) {
        const int32_t sx = cw + (cw - 1 - x * cw / std::max(dw, 1)), sy = y * ch / std::max(dh, 1);
        CopyPixel(frame, m->QW, sx, sy, out, W, x0 + x, y0 + y);
      }
  }
  auto lay = [&](const std::vector<uint8_t>& pic, int32_t pw, int32_t ph, int32_t x0, int32_t y0) {
    for (int32_t y = 0; y < ph; ++y) {
      if (y0 + y < 0 || y0 + y >= H) continue;
      for (int32_t x = 0; x < pw; ++x) {
        if (x0 + x < 0 || x0 + x >= W) continue;
        memcpy(out + (static_cast<size_t>(y0 + y) * W + x0 + x) * 2, &pic[(static_cast<size_t>(y) * pw + x) * 2], 2);
      }
    }
  };
  if (m->picture1.size() == Pic1Bytes(*m)) lay(m->picture1, m->CW, m->CH, ((m->Wb - m->CW) / 2) & ~1, m->P);
  if (m->picture2.size() == Pic2Bytes(*m)) lay(m->picture2, m->W - m->Wb, m->H - m->Hb, m->Wb, m->Hb);
  return 1;
}
