#include "pipeline/osd_overlay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/log.h"
#include "toolkit/bmp_file.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr const char* kCameraNames[4] = {"front", "back", "left", "right"};

// Loads one icon; false when missing. Pure black is transparent.
bool LoadIcon(const char* path, OSDIcon* icon, int32_t* w, int32_t* h) {
  const Rgb24ImagePtr img(Bmp_LoadRGB24(path));
  if (img == nullptr) return false;
  *w = img->width;
  *h = img->height;
  icon->yuv.resize(static_cast<size_t>(img->width) * img->height * 3);
  for (int32_t y = 0; y < img->height; ++y)
    for (int32_t x = 0; x < img->width; ++x) {
      const uint8_t* p = img->data + static_cast<size_t>(y) * img->stride + 3 * x;
      const int r = img->rgbOrder ? p[0] : p[2], g = p[1], b = img->rgbOrder ? p[2] : p[0];
      uint8_t* o = &icon->yuv[(static_cast<size_t>(y) * img->width + x) * 3];
      o[0] = (r | g | b) == 0 ? 0 : Rgb_ToY(r, g, b);
      o[1] = Rgb_ToU(r, g, b);
      o[2] = Rgb_ToV(r, g, b);
    }
  return true;
}

void IconPath(char* out, size_t n, const char* dir, int32_t index) {
  snprintf(out, n, "%s/res/icon_720p_%d.bmp", dir, index);
}

void BlitRows(uint8_t* frame, int32_t width, int32_t height, const uint8_t* yuv, int32_t stridePixels, int32_t w,
              int32_t h, int32_t x, int32_t y) {
  const int32_t x0 = std::max(0, -x), y0 = std::max(0, -y);
  const int32_t x1 = std::min(w, width - x), y1 = std::min(h, height - y);
  uint8_t* chroma = frame + static_cast<size_t>(width) * height;
  for (int32_t r = y0; r < y1; ++r)
    for (int32_t c = x0; c < x1; ++c) {
      const uint8_t* p = yuv + (static_cast<size_t>(r) * stridePixels + c) * 3;
      if (p[0] == 0) continue;
      const int32_t fx = x + c, fy = y + r;
      frame[static_cast<size_t>(fy) * width + fx] = p[0];
      if ((fx & 1) == 0 && (fy & 1) == 0) {
        uint8_t* uv = chroma + static_cast<size_t>(fy / 2) * width + fx;
        uv[0] = p[1];
        uv[1] = p[2];
      }
    }
}

}  // namespace

int32_t OSD_GlyphIndex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  switch (c) {
    case ' ': return 10;
    case '-': return 11;
    case ':': return 12;
    case '/': return 13;
    case 'K': return 14;
    case 'M': return 15;
    case 'h': return 16;
    case '.': return 17;
    default: return 10;
  }
}

int32_t OSD_Init(OSDState* osd, const char* dir) {
  OSD_FreeIcons(osd);
  char path[512];
  IconPath(path, sizeof path, dir, kBlankGlyph);
  int32_t gw = 0, gh = 0;
  OSDIcon blank;
  if (!LoadIcon(path, &blank, &gw, &gh) || gw <= 0 || gh <= 0) {
    AvmLog("Init OSD Failed \n ");
    return -1;
  }
  osd->glyphWidth = gw;
  osd->glyphHeight = gh;
  for (int32_t i = 0; i < kGlyphCount; ++i) {
    osd->glyphs[i].index = i;
    if (i == kBlankGlyph) {
      osd->glyphs[i].yuv = blank.yuv;
      continue;
    }
    IconPath(path, sizeof path, dir, i);
    int32_t w = 0, h = 0;
    if (!LoadIcon(path, &osd->glyphs[i], &w, &h) || w != gw || h != gh) osd->glyphs[i].yuv = blank.yuv;
  }
  bool camsOk = true;
  for (int k = 0; k < 4 && camsOk; ++k) {
    snprintf(path, sizeof path, "%s/res/icon_720p_%s.bmp", dir, kCameraNames[k]);
    int32_t w = 0, h = 0;
    osd->cameras[k].index = k;
    camsOk = LoadIcon(path, &osd->cameras[k], &w, &h) && w > 0 && h > 0;
    if (k == 0) {
      osd->cameraWidth = w;
      osd->cameraHeight = h;
    } else if (w != osd->cameraWidth || h != osd->cameraHeight) {
      camsOk = false;
    }
  }
  osd->cameraIconsValid = camsOk ? 1 : 0;
  osd->initialised = 1;
  AvmLog("Init OSD OK \n ");
  return 0;
}

void OSD_FreeIcons(OSDState* osd) { *osd = OSDState{}; }

void OSD_AllocOverlay(const OSDState* osd, OverlayBuffer* b) {
  b->glyphWidth = osd->glyphWidth;
  b->height = osd->glyphHeight;
  b->width = 0;
  b->yuv.assign(static_cast<size_t>(osd->glyphWidth) * kOverlayMaxGlyphs * osd->glyphHeight * 3, 0);
  b->valid = osd->initialised;
}

void OSD_FreeOverlay(OverlayBuffer* b) { *b = OverlayBuffer{}; }

void OSD_ComposeGlyphs(const OSDState* osd, OverlayBuffer* b, const int32_t* indices, int32_t count) {
  if (osd->initialised == 0 || b->valid == 0 || b->glyphWidth != osd->glyphWidth) {
    b->width = 0;
    return;
  }
  count = std::max(0, std::min(count, kOverlayMaxGlyphs));
  const int32_t gw = osd->glyphWidth, gh = osd->glyphHeight, stride = gw * kOverlayMaxGlyphs;
  for (int32_t g = 0; g < count; ++g) {
    const int32_t idx = indices[g] >= 0 && indices[g] < kGlyphCount ? indices[g] : kBlankGlyph;
    const std::vector<uint8_t>& src = osd->glyphs[idx].yuv;
    for (int32_t r = 0; r < gh; ++r)
      memcpy(&b->yuv[(static_cast<size_t>(r) * stride + g * gw) * 3], &src[static_cast<size_t>(r) * gw * 3],
             static_cast<size_t>(gw) * 3);
  }
  b->width = count * gw;
}

void OSD_DrawDateTimeAt(const OSDState* osd, OverlayBuffer* b, int32_t layoutB, time_t t) {
  tm lt{};
  localtime_r(&t, &lt);
  char text[64];
  if (layoutB != 0)
    snprintf(text, sizeof text, "%04d\x11\x12%02d\x11\x12%02d %02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1,
             lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
  else
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday,
             lt.tm_hour, lt.tm_min, lt.tm_sec);
  int32_t idx[kOverlayMaxGlyphs];
  int32_t n = 0;
  for (const char* p = text; *p != '\0' && n < kOverlayMaxGlyphs; ++p)
    idx[n++] = *p == '\x11' ? 17 : (*p == '\x12' ? 18 : OSD_GlyphIndex(*p));
  OSD_ComposeGlyphs(osd, b, idx, n);
}

void OSD_DrawDateTime(const OSDState* osd, OverlayBuffer* b, int32_t layoutB) {
  OSD_DrawDateTimeAt(osd, b, layoutB, time(nullptr));
}

void OSD_DrawSpeed(const OSDState* osd, OverlayBuffer* b, int32_t mode, int32_t speed, int32_t distance) {
  char text[64] = "";
  const bool s = (mode & 2) != 0, d = (mode & 8) != 0;
  if (s && d)
    snprintf(text, sizeof text, "%dKM/h %dKM", speed, distance);
  else if (s)
    snprintf(text, sizeof text, "%dKM/h", speed);
  else if (d)
    snprintf(text, sizeof text, "%dKM", distance);
  int32_t idx[kOverlayMaxGlyphs];
  int32_t n = 0;
  for (const char* p = text; *p != '\0' && n < kOverlayMaxGlyphs; ++p) idx[n++] = OSD_GlyphIndex(*p);
  OSD_ComposeGlyphs(osd, b, idx, n);
}

void OSD_BlitPlanar(uint8_t* frame, int32_t width, int32_t height, const OverlayBuffer* b, int32_t x, int32_t y,
                    int32_t firstGlyph, int32_t glyphs) {
  if (b->valid == 0 || b->width <= 0 || b->glyphWidth <= 0) return;
  const int32_t total = b->width / b->glyphWidth;
  firstGlyph = std::max(0, firstGlyph);
  glyphs = std::min(glyphs, total - firstGlyph);
  if (glyphs <= 0) return;
  const int32_t stride = b->glyphWidth * kOverlayMaxGlyphs;
  BlitRows(frame, width, height, &b->yuv[static_cast<size_t>(firstGlyph) * b->glyphWidth * 3], stride,
           glyphs * b->glyphWidth, b->height, x, y);
}

void OSD_BlitIcon(uint8_t* frame, int32_t width, int32_t height, const uint8_t* yuv, int32_t iconW, int32_t iconH,
                  int32_t x, int32_t y) {
  BlitRows(frame, width, height, yuv, iconW, iconW, iconH, x, y);
}

void OSD_DrawOverlay(uint8_t* frame, int32_t width, int32_t height, const OSDState* osd, const OverlayBuffer* date,
                     const OverlayBuffer* speed, int32_t mode, int32_t marginX, int32_t marginY) {
  if (osd->initialised == 0 || frame == nullptr) return;
  const int32_t gw = osd->glyphWidth;
  const int32_t all = kOverlayMaxGlyphs;
  if ((mode & 0xE0) == 0xE0) {
    const int32_t ox[4] = {0, width / 2, 0, width / 2}, oy[4] = {0, 0, height / 2, height / 2};
    for (int q = 0; q < 4; ++q) {
      const int32_t x = ox[q] + 9 * gw, y = oy[q] + date->height / 2;
      OSD_BlitPlanar(frame, width, height, date, x, y, 0, all);
      OSD_BlitPlanar(frame, width, height, speed, x + date->width + gw, y, 0, all);
    }
  } else {
    const int32_t blockW = date->width + speed->width, blockH = date->height;
    const int32_t x = (mode & 0x80) != 0 ? width - 1 - blockW - marginX : marginX;
    const int32_t y = (mode & 0x40) != 0 ? height - 1 - blockH - marginY : marginY;
    if ((mode & 0xE0) == 0x20) {
      OSD_BlitPlanar(frame, width, height, date, x, y, 0, 10);
      OSD_BlitPlanar(frame, width, height, date, x + gw, y + date->height + date->height / 2, 11, 8);
    } else {
      OSD_BlitPlanar(frame, width, height, date, x, y, 0, all);
      OSD_BlitPlanar(frame, width, height, speed, x + date->width + gw, y, 0, all);
    }
  }
  if ((mode & 16) != 0 && osd->cameraIconsValid != 0) {
    const int32_t w = osd->cameraWidth, h = osd->cameraHeight;
    const int32_t fx = width / 2 - w - w / 2, bx = width / 2 + w / 2;
    const int32_t ty = height / 2 - h - h / 2, by = height / 2 + h / 2;
    const int32_t at[4][2] = {{fx, ty}, {bx, ty}, {fx, by}, {bx, by}};
    for (int k = 0; k < 4; ++k) OSD_BlitIcon(frame, width, height, osd->cameras[k].yuv.data(), w, h, at[k][0], at[k][1]);
  }
}
