#include <cstdio>
#include <cstring>

#include "host_image.h"

namespace {

uint32_t U32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool HostImage_WriteBmp(const std::string& path, const HostImage& img) {
  if (img.width < 1 || img.height < 1 || (img.channels != 1 && img.channels != 3)) return false;
  const uint32_t row = (static_cast<uint32_t>(img.width) * 3 + 3) & ~3u;
  const uint32_t dataSize = row * static_cast<uint32_t>(img.height);
  uint8_t h[54] = {'B', 'M'};
  Put32(h + 2, 54 + dataSize);
  Put32(h + 10, 54);
  Put32(h + 14, 40);
  Put32(h + 18, static_cast<uint32_t>(img.width));
  Put32(h + 22, static_cast<uint32_t>(img.height));
  h[26] = 1;
  h[28] = 24;
  Put32(h + 34, dataSize);
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = fwrite(h, 1, sizeof h, f) == sizeof h;
  std::vector<uint8_t> line(row, 0);
  for (int y = img.height - 1; y >= 0 && ok; --y) {  // bottom-up
    for (int x = 0; x < img.width; ++x) {
      const size_t i = (static_cast<size_t>(y) * img.width + x) * img.channels;
      if (img.channels == 1) {
        line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = img.data[i];
      } else {  // stored R, G, B; BMP wants B, G, R
        line[3 * x] = img.data[i + 2];
        line[3 * x + 1] = img.data[i + 1];
        line[3 * x + 2] = img.data[i];
      }
    }
    ok = fwrite(line.data(), 1, row, f) == row;
  }
  return fclose(f) == 0 && ok;
}

bool HostImage_ReadBmp(const std::string& path, HostImage* out, int channels) {
  if (channels != 1 && channels != 3) return false;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<uint8_t> all;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.insert(all.end(), buf, buf + n);
  fclose(f);
  if (all.size() < 54 || all[0] != 'B' || all[1] != 'M') return false;
  const uint32_t offset = U32(&all[10]);
  const int32_t w = static_cast<int32_t>(U32(&all[18]));
  int32_t h = static_cast<int32_t>(U32(&all[22]));
  const uint16_t bits = U16(&all[28]);
  const uint32_t compression = U32(&all[30]);
  const bool topDown = h < 0;
  if (topDown) h = -h;
  if (w < 1 || h < 1 || w > 16384 || h > 16384 || compression != 0 || (bits != 8 && bits != 24 && bits != 32))
    return false;
  const size_t bpp = bits / 8;
  const size_t row = (static_cast<size_t>(w) * bpp + 3) & ~static_cast<size_t>(3);
  if (offset > all.size() || all.size() - offset < row * static_cast<size_t>(h)) return false;
  // B, G, R of each palette entry; a file without a palette reads as grey levels.
  uint8_t palette[256][3];
  for (int i = 0; i < 256; ++i) palette[i][0] = palette[i][1] = palette[i][2] = static_cast<uint8_t>(i);
  if (bits == 8 && offset >= 54 + 4 * 256u) {
    for (int i = 0; i < 256; ++i)
      for (int c = 0; c < 3; ++c) palette[i][c] = all[54 + 4 * i + c];
  }
  out->width = w;
  out->height = h;
  out->channels = channels;
  out->data.assign(static_cast<size_t>(w) * h * channels, 0);
  for (int y = 0; y < h; ++y) {
    const uint8_t* src = &all[offset + row * static_cast<size_t>(topDown ? y : h - 1 - y)];
    for (int x = 0; x < w; ++x) {
      const uint8_t* bgr = bits == 8 ? palette[src[x]] : src + bpp * x;
      uint8_t* dst = &out->data[(static_cast<size_t>(y) * w + x) * channels];
      if (channels == 1) {
        dst[0] = static_cast<uint8_t>((bgr[0] * 29 + bgr[1] * 150 + bgr[2] * 77) >> 8);
      } else {
        dst[0] = bgr[2];
        dst[1] = bgr[1];
        dst[2] = bgr[0];
      }
    }
  }
  return true;
}
