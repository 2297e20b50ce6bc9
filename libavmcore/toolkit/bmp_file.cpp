#include "toolkit/bmp_file.h"
#include "frame/log.h"

#include <cstddef>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "toolkit/matrix_alloc.h"
#include "toolkit/thresholds.h"

namespace {

constexpr int kHeaderBytes = 54;
// Largest picture the readers take; keeps every index of the result types
// (32-bit sizes, up to 4 floats a pixel) far from overflow.
constexpr int64_t kMaxPixels = int64_t{1} << 28;

inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline int64_t RowBytes(int bits, int64_t width) { return ((bits * width + 31) >> 3) & ~int64_t{3}; }

// What a reader takes from a file, checked against what it can read.
struct BmpInfo {
  int32_t width;
  int32_t height;  // absolute
  bool topDown;
  int bits;
  int64_t dataOffset;
  int64_t rowBytes;
};

void Malformed(const char* path, const char* why) {
  AvmLog("bmp file %s rejected: %s \n", path, why);
}

bool ParseHeader(const uint8_t* h, int64_t fileSize, const char* path, BmpInfo* info) {
  if (h[0] != 'B' || h[1] != 'M') {
    Malformed(path, "not a bitmap");
    return false;
  }
  const int64_t width = static_cast<int32_t>(Le32(h + 18));
  const int64_t rawHeight = static_cast<int32_t>(Le32(h + 22));
  const int bits = Le16(h + 28);
  const uint32_t compression = Le32(h + 30);
  const int64_t offset = Le32(h + 10);
  if (bits != 24 && bits != 32) {
    Malformed(path, "only 24 and 32 bits a pixel are read");
    return false;
  }
  if (compression != 0) {
    Malformed(path, "compressed");
    return false;
  }
  const int64_t height = rawHeight < 0 ? -rawHeight : rawHeight;
  if (width < 1 || height < 1 || width * height > kMaxPixels) {
    Malformed(path, "bad size");
    return false;
  }
  const int64_t rowBytes = RowBytes(bits, width);
  if (offset < kHeaderBytes || offset > fileSize || (fileSize - offset) / rowBytes < height) {
    Malformed(path, "truncated");
    return false;
  }
  info->width = static_cast<int32_t>(width);
  info->height = static_cast<int32_t>(height);
  info->topDown = rawHeight < 0;
  info->bits = bits;
  info->dataOffset = offset;
  info->rowBytes = rowBytes;
  return true;
}

// Opens, checks and positions the file at its pixel rows.
FILE* OpenForRead(const char* path, BmpInfo* info) {
  if (path == nullptr) {
    AvmLog("open file failed %s \n", "(null)");
    return nullptr;
  }
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return nullptr;
  }
  uint8_t h[kHeaderBytes];
  int64_t size = -1;
  if (fseek(f, 0, SEEK_END) == 0) size = ftell(f);
  if (size < kHeaderBytes || fseek(f, 0, SEEK_SET) != 0 || fread(h, 1, kHeaderBytes, f) != kHeaderBytes) {
    Malformed(path, "truncated header");
    fclose(f);
    return nullptr;
  }
  if (!ParseHeader(h, size, path, info) || fseek(f, static_cast<long>(info->dataOffset), SEEK_SET) != 0) {
    fclose(f);
    return nullptr;
  }
  return f;
}

// Reads every row and hands (image row, row bytes) to take; rows go top
// first for top-down files and bottom first otherwise.
template <class Take>
bool ReadRows(FILE* f, const BmpInfo& info, const char* path, Take take) {
  std::vector<uint8_t> row(static_cast<size_t>(info.rowBytes));
  for (int32_t i = 0; i < info.height; ++i) {
    if (fread(row.data(), 1, row.size(), f) != row.size()) {
      Malformed(path, "short read");
      return false;
    }
    take(info.topDown ? i : info.height - 1 - i, row.data(), info.bits / 8);
  }
  return true;
}

// Opens, reads every row into take and closes; false on any failure.
template <class Prepare, class Take>
bool LoadFile(const char* path, Prepare prepare, Take take) {
  BmpInfo info;
  FILE* f = OpenForRead(path, &info);
  if (f == nullptr) return false;
  bool ok = prepare(info);
  if (!ok) AvmLog("bmp read %s failed: out of memory for %d x %d \n", path, info.width, info.height);
  if (ok) ok = ReadRows(f, info, path, take);
  fclose(f);
  return ok;
}

inline uint8_t LumaOf(const uint8_t* bgr) { return Rgb_ToY(bgr[2], bgr[1], bgr[0]); }

// trunc(v * 255 + 0.5) in double precision, negative 0, low 8 bits.
inline uint8_t FloatToByte(float v) {
  const double d = std::fma(static_cast<double>(v), 255.0, 0.5);
  if (!(d > 0.0) || d >= 9.0e18) return 0;
  return static_cast<uint8_t>(static_cast<int64_t>(d));
}

// trunc(v * 255), negative 0, low 8 bits.
inline uint8_t FloatToByteTrunc(float v) {
  const double d = static_cast<double>(v) * 255.0;
  if (!(d > 0.0) || d >= 9.0e18) return 0;
  return static_cast<uint8_t>(static_cast<int64_t>(d));
}

void FillHeader(uint8_t* h, int32_t width, int32_t height, int bits) {
  std::memset(h, 0, kHeaderBytes);
  const uint32_t imageSize =
      static_cast<uint32_t>(width) * static_cast<uint32_t>(bits / 8) * static_cast<uint32_t>(height);
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, kHeaderBytes + imageSize);
  Put32(h + 10, kHeaderBytes);
  Put32(h + 14, 40);
  Put32(h + 18, static_cast<uint32_t>(width));
  Put32(h + 22, static_cast<uint32_t>(height));
  Put16(h + 26, 1);
  Put16(h + 28, static_cast<uint16_t>(bits));
  Put32(h + 34, imageSize);
}

bool CheckSize(int64_t width, int64_t height, const char* path) {
  if (width < 0 || height < 0 || width * height > kMaxPixels) {
    AvmLog("bmp write %s rejected: bad size %lld x %lld \n", path, static_cast<long long>(width),
           static_cast<long long>(height));
    return false;
  }
  return true;
}

// Flushes, syncs and closes; reports any failure of the three.
bool Finish(FILE* f, const char* path, bool ok) {
  if (fflush(f) != 0) ok = false;
  if (fsync(fileno(f)) != 0) ok = false;
  if (fclose(f) != 0) ok = false;
  if (!ok) AvmLog("write file failed %s \n", path);
  return ok;
}

FILE* OpenForWrite(const char* path) {
  if (path == nullptr) {
    AvmLog("open file failed %s \n", "(null)");
    return nullptr;
  }
  FILE* f = fopen(path, "wb");
  if (f == nullptr) AvmLog("open file failed %s \n", path);
  return f;
}

// The common writer: headers, then fill(y, row) for image rows from the last
// to the first, each written as one zero-padded row.
template <class Fill>
int WriteBmp(const char* path, int32_t width, int32_t height, int bits, bool hasData, Fill fill) {
  if (!CheckSize(width, height, path ? path : "(null)")) return 0;
  FILE* f = OpenForWrite(path);
  if (f == nullptr) return 0;
  if (!hasData) {
    fclose(f);
    AvmLog("bmp write %s: no pixels \n", path);
    return 0;
  }
  uint8_t h[kHeaderBytes];
  FillHeader(h, width, height, bits);
  bool ok = fwrite(h, 1, 14, f) == 14 && fwrite(h + 14, 1, 40, f) == 40;
  std::vector<uint8_t> row(static_cast<size_t>(RowBytes(bits, width)), 0);
  for (int32_t y = height - 1; ok && y >= 0; --y) {
    fill(y, row.data());
    ok = fwrite(row.data(), 1, row.size(), f) == row.size();
  }
  return Finish(f, path, ok) ? 1 : 0;
}

inline void Grey(uint8_t* p, uint8_t g) { p[0] = p[1] = p[2] = g; }

}  // namespace

Matrix* Bmp_LoadGrayFloat(const char* path, int mode) {
  Matrix* m = nullptr;
  const bool ok = LoadFile(
      path,
      [&](const BmpInfo& info) {
        m = Matrix_New(info.width, info.height);
        return m != nullptr;
      },
      [&](int32_t y, const uint8_t* row, int bpp) {
        float* out = m->data + static_cast<ptrdiff_t>(y) * m->cols;
        for (int32_t x = 0; x < m->cols; ++x) {
          const uint8_t* p = row + static_cast<ptrdiff_t>(x) * bpp;
          int v;
          if (mode == 0)
            v = LumaOf(p);
          else if (mode == 1)
            v = std::max(p[0], std::max(p[1], p[2]));
          else
            v = std::min(p[0], std::min(p[1], p[2]));
          out[x] = v / 255.0f;
        }
      });
  if (!ok) {
    Matrix_Delete(m);
    return nullptr;
  }
  return m;
}

int Bmp_LoadRGBPlanesFloat(const char* path, Matrix** r, Matrix** g, Matrix** b, Matrix** a) {
  Matrix* planes[4] = {nullptr, nullptr, nullptr, nullptr};
  const bool ok = LoadFile(
      path,
      [&](const BmpInfo& info) {
        bool all = true;
        for (int c = 0; c < (info.bits == 32 ? 4 : 3); ++c) {
          planes[c] = Matrix_New(info.width, info.height);
          all = all && planes[c] != nullptr;
        }
        return all;
      },
      [&](int32_t y, const uint8_t* row, int bpp) {
        const ptrdiff_t base = static_cast<ptrdiff_t>(y) * planes[0]->cols;
        for (int32_t x = 0; x < planes[0]->cols; ++x) {
          const uint8_t* p = row + static_cast<ptrdiff_t>(x) * bpp;
          planes[0]->data[base + x] = p[2] / 255.0f;
          planes[1]->data[base + x] = p[1] / 255.0f;
          planes[2]->data[base + x] = p[0] / 255.0f;
          if (planes[3]) planes[3]->data[base + x] = p[3] / 255.0f;
        }
      });
  if (!ok)
    for (Matrix*& m : planes) {
      Matrix_Delete(m);
      m = nullptr;
    }
  if (r) *r = planes[0];
  if (g) *g = planes[1];
  if (b) *b = planes[2];
  if (a)
    *a = planes[3];
  else
    Matrix_Delete(planes[3]);
  return ok ? 1 : 0;
}

ImageU8* Bmp_LoadGrayU8(const char* path) {
  ImageU8* img = nullptr;
  const bool ok = LoadFile(
      path,
      [&](const BmpInfo& info) {
        img = ImageU8_New(info.width, info.height);
        return img != nullptr;
      },
      [&](int32_t y, const uint8_t* row, int bpp) {
        uint8_t* out = img->data + static_cast<ptrdiff_t>(y) * img->width;
        for (int32_t x = 0; x < img->width; ++x) out[x] = LumaOf(row + static_cast<ptrdiff_t>(x) * bpp);
      });
  if (!ok) {
    ImageU8_Delete(img);
    return nullptr;
  }
  return img;
}

int Bmp_LoadRGBPlanesU8(const char* path, ImageU8** r, ImageU8** g, ImageU8** b) {
  ImageU8* planes[3] = {nullptr, nullptr, nullptr};
  const bool ok = LoadFile(
      path,
      [&](const BmpInfo& info) {
        bool all = true;
        for (ImageU8*& p : planes) {
          p = ImageU8_New(info.width, info.height);
          all = all && p != nullptr;
        }
        return all;
      },
      [&](int32_t y, const uint8_t* row, int bpp) {
        const ptrdiff_t base = static_cast<ptrdiff_t>(y) * planes[0]->width;
        for (int32_t x = 0; x < planes[0]->width; ++x) {
          const uint8_t* p = row + static_cast<ptrdiff_t>(x) * bpp;
          planes[0]->data[base + x] = p[2];
          planes[1]->data[base + x] = p[1];
          planes[2]->data[base + x] = p[0];
        }
      });
  if (!ok)
    for (ImageU8*& p : planes) {
      ImageU8_Delete(p);
      p = nullptr;
    }
  if (r) *r = planes[0];
  if (g) *g = planes[1];
  if (b) *b = planes[2];
  return ok ? 1 : 0;
}

Rgb24Image* Bmp_LoadRGB24(const char* path) {
  Rgb24ImagePtr img;
  const bool ok = LoadFile(
      path,
      [&](const BmpInfo& info) {
        img.reset(Rgb24Image_New(info.width, info.height));
        return img != nullptr;
      },
      [&](int32_t y, const uint8_t* row, int bpp) {
        uint8_t* out = img->data + static_cast<ptrdiff_t>(y) * img->stride;
        if (bpp == 3) {
          std::memcpy(out, row, static_cast<size_t>(img->stride));
          return;
        }
        for (int32_t x = 0; x < img->width; ++x) std::memcpy(out + 3 * x, row + 4 * x, 3);
      });
  return ok ? img.release() : nullptr;
}

FloatPixelImage* Bmp_LoadRGB24Matrix(const char* path) {
  FloatPixelImagePtr img;
  const bool ok = LoadFile(
      path,
      [&](const BmpInfo& info) {
        img.reset(FloatPixelImage_New(info.width, info.height));
        return img != nullptr;
      },
      [&](int32_t y, const uint8_t* row, int bpp) {
        float* out = img->data + static_cast<ptrdiff_t>(y) * img->width * 3;
        for (int32_t x = 0; x < img->width; ++x) {
          const uint8_t* p = row + static_cast<ptrdiff_t>(x) * bpp;
          out[3 * x] = p[2] / 255.0f;
          out[3 * x + 1] = p[1] / 255.0f;
          out[3 * x + 2] = p[0] / 255.0f;
        }
      });
  return ok ? img.release() : nullptr;
}

int Bmp_SaveRGB24(const Rgb24Image* img, const char* path) {
  if (img == nullptr) {
    AvmLog("bmp write %s rejected: no image \n", path ? path : "(null)");
    return 0;
  }
  const bool swap = img->rgbOrder != 0;
  return WriteBmp(path, img->width, img->height, 24, img->data != nullptr, [&](int32_t y, uint8_t* row) {
    const uint8_t* in = img->data + static_cast<ptrdiff_t>(y) * img->stride;
    if (!swap) {
      std::memcpy(row, in, 3 * static_cast<size_t>(img->width));
      return;
    }
    for (int32_t x = 0; x < img->width; ++x) {
      row[3 * x] = in[3 * x + 2];
      row[3 * x + 1] = in[3 * x + 1];
      row[3 * x + 2] = in[3 * x];
    }
  });
}

int Bmp_SaveFloatPlanes(const Matrix* m, const char* path) {
  if (m == nullptr) {
    AvmLog("bmp write %s rejected: no image \n", path ? path : "(null)");
    return 0;
  }
  return WriteBmp(path, m->cols, m->rows, 24, m->data != nullptr, [&](int32_t y, uint8_t* row) {
    const float* in = m->data + static_cast<ptrdiff_t>(y) * m->cols;
    for (int32_t x = 0; x < m->cols; ++x) Grey(row + 3 * x, FloatToByte(in[x]));
  });
}

namespace {

template <class Image, class Pixel>
int SaveGreyImage(const Image* img, const char* path, Pixel pixel) {
  if (img == nullptr) {
    AvmLog("bmp write %s rejected: no image \n", path ? path : "(null)");
    return 0;
  }
  return WriteBmp(path, img->width, img->height, 24, img->data != nullptr, [&](int32_t y, uint8_t* row) {
    const auto* in = img->data + static_cast<ptrdiff_t>(y) * img->width;
    for (int32_t x = 0; x < img->width; ++x) Grey(row + 3 * x, pixel(in[x]));
  });
}

template <class Plane>
bool SameSize(const Plane* a, const Plane* b) {
  return b == nullptr || (a->width == b->width && a->height == b->height && b->data != nullptr);
}
bool SameSize(const Matrix* a, const Matrix* b) {
  return b == nullptr || (a->cols == b->cols && a->rows == b->rows && b->data != nullptr);
}

}  // namespace

int Bmp_SaveImageU8(const ImageU8* img, const char* path, int twoLevel) {
  return SaveGreyImage(img, path, [twoLevel](uint8_t v) -> uint8_t {
    return twoLevel ? (v != 0 ? 255 : 0) : v;
  });
}

int Bmp_SaveImageI32(const ImageI32* img, const char* path, int twoLevel) {
  return SaveGreyImage(img, path, [twoLevel](int32_t v) -> uint8_t {
    return twoLevel ? (v >= 1 ? 255 : 0) : static_cast<uint8_t>(v);
  });
}

int Bmp_SaveImageU16(const ImageU16* img, const char* path, int twoLevel) {
  return SaveGreyImage(img, path, [twoLevel](uint16_t v) -> uint8_t {
    return twoLevel ? (static_cast<int16_t>(v) > 0 ? 255 : 0) : static_cast<uint8_t>(v);
  });
}

int Bmp_SaveOverlayFloat(const Matrix* r, const Matrix* g, const Matrix* b, const char* path) {
  if (r == nullptr || !SameSize(r, g) || !SameSize(r, b)) {
    AvmLog("bmp write %s rejected: missing plane or planes of different sizes \n", path ? path : "(null)");
    return 0;
  }
  return WriteBmp(path, r->cols, r->rows, 24, r->data != nullptr, [&](int32_t y, uint8_t* row) {
    const ptrdiff_t base = static_cast<ptrdiff_t>(y) * r->cols;
    for (int32_t x = 0; x < r->cols; ++x) {
      row[3 * x] = b ? FloatToByte(b->data[base + x]) : 0;
      row[3 * x + 1] = g ? FloatToByte(g->data[base + x]) : 0;
      row[3 * x + 2] = FloatToByte(r->data[base + x]);
    }
  });
}

int Bmp_SaveOverlayU8(const ImageU8* r, const ImageU8* g, const ImageU8* b, const char* path) {
  if (r == nullptr || !SameSize(r, g) || !SameSize(r, b)) {
    AvmLog("bmp write %s rejected: missing plane or planes of different sizes \n", path ? path : "(null)");
    return 0;
  }
  return WriteBmp(path, r->width, r->height, 24, r->data != nullptr, [&](int32_t y, uint8_t* row) {
    const ptrdiff_t base = static_cast<ptrdiff_t>(y) * r->width;
    for (int32_t x = 0; x < r->width; ++x) {
      row[3 * x] = b ? b->data[base + x] : 0;
      row[3 * x + 1] = g ? g->data[base + x] : 0;
      row[3 * x + 2] = r->data[base + x];
    }
  });
}

int Bmp_SaveRGBA32(const ImageU8* r, const ImageU8* g, const ImageU8* b, const ImageU8* a,
                   const char* path) {
  if (r == nullptr || g == nullptr || b == nullptr || a == nullptr || !SameSize(r, g) ||
      !SameSize(r, b) || !SameSize(r, a)) {
    AvmLog("bmp write %s rejected: missing plane or planes of different sizes \n", path ? path : "(null)");
    return 0;
  }
  return WriteBmp(path, r->width, r->height, 32, r->data != nullptr, [&](int32_t y, uint8_t* row) {
    const ptrdiff_t base = static_cast<ptrdiff_t>(y) * r->width;
    for (int32_t x = 0; x < r->width; ++x) {
      row[4 * x] = b->data[base + x];
      row[4 * x + 1] = g->data[base + x];
      row[4 * x + 2] = r->data[base + x];
      row[4 * x + 3] = a->data[base + x];
    }
  });
}

int Bmp_SaveGrayU8(int width, int height, int stride, const uint8_t* data, const char* path) {
  if (width > 0 && stride < width) {
    AvmLog("bmp write %s rejected: stride %d below width %d \n", path ? path : "(null)", stride, width);
    return 0;
  }
  return WriteBmp(path, width, height, 24, data != nullptr, [&](int32_t y, uint8_t* row) {
    const uint8_t* in = data + static_cast<ptrdiff_t>(y) * stride;
    for (int32_t x = 0; x < width; ++x) Grey(row + 3 * x, in[x]);
  });
}

int Bmp_SaveRGBFloat(const FloatPixelImage* img, const char* path) {
  if (img == nullptr) {
    AvmLog("bmp write %s rejected: no image \n", path ? path : "(null)");
    return 0;
  }
  return WriteBmp(path, img->width, img->height, 24, img->data != nullptr, [&](int32_t y, uint8_t* row) {
    const float* in = img->data + static_cast<ptrdiff_t>(y) * img->width * 3;
    for (int32_t x = 0; x < img->width; ++x) {
      row[3 * x] = FloatToByteTrunc(in[3 * x + 2]);
      row[3 * x + 1] = FloatToByteTrunc(in[3 * x + 1]);
      row[3 * x + 2] = FloatToByteTrunc(in[3 * x]);
    }
  });
}

int Bmp_SaveGrayWithMarks(const Matrix* m, int n, const float* xs, const float* ys,
                          const uint8_t* colours, const char* path) {
  static const uint8_t kColours[8][3] = {{255, 255, 255}, {0, 0, 255},   {0, 255, 255}, {0, 255, 0},
                                         {255, 0, 0},     {221, 160, 221}, {255, 0, 255}, {255, 255, 0}};
  if (m == nullptr || (n > 0 && (xs == nullptr || ys == nullptr || colours == nullptr))) {
    AvmLog("bmp write %s rejected: no image or marks \n", path ? path : "(null)");
    return 0;
  }
  const char* name = path ? path : "(null)";
  if (!CheckSize(m->cols, m->rows, name)) return 0;
  FILE* f = OpenForWrite(path);
  if (f == nullptr) return 0;
  if (m->data == nullptr) {
    fclose(f);
    AvmLog("bmp write %s: no pixels \n", path);
    return 0;
  }
  const int32_t w = m->cols, h = m->rows;
  const int64_t rowBytes = RowBytes(24, w);
  // Whole file in memory: headers, then rows bottom-up.
  std::vector<uint8_t> file(static_cast<size_t>(kHeaderBytes + rowBytes * h), 0);
  FillHeader(file.data(), w, h, 24);
  auto pixel = [&](int32_t x, int32_t y) {
    return file.data() + kHeaderBytes + (h - 1 - y) * rowBytes + 3 * static_cast<int64_t>(x);
  };
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) Grey(pixel(x, y), FloatToByte(m->data[static_cast<ptrdiff_t>(y) * w + x]));
  for (int i = 0; i < n; ++i) {
    if (!(xs[i] > -1.0f && ys[i] > -1.0f && xs[i] < 2.0e9f && ys[i] < 2.0e9f)) continue;
    const int32_t x = static_cast<int32_t>(xs[i]), y = static_cast<int32_t>(ys[i]);
    const uint8_t c = colours[i];
    if (c > 7 || x < 0 || x + 1 >= w || y < 1 || y >= h) continue;
    for (uint8_t* p : {pixel(x, y), pixel(x, y - 1), pixel(x + 1, y)}) std::memcpy(p, kColours[c], 3);
  }
  const bool ok = fwrite(file.data(), 1, file.size(), f) == file.size();
  return Finish(f, path, ok) ? 1 : 0;
}

int Bmp_BinarizeGrayInPlace(const char* path) {
  if (path == nullptr) {
    AvmLog("open file failed %s \n", "(null)");
    return 0;
  }
  // The whole file is read and the new one written beside it, then renamed
  // over it, so a failure leaves the original untouched.
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  std::vector<uint8_t> file;
  uint8_t chunk[65536];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) file.insert(file.end(), chunk, chunk + got);
  const bool readOk = ferror(f) == 0;
  fclose(f);
  BmpInfo info;
  if (!readOk || file.size() < static_cast<size_t>(kHeaderBytes)) {
    Malformed(path, "truncated header");
    return 0;
  }
  if (!ParseHeader(file.data(), static_cast<int64_t>(file.size()), path, &info)) return 0;
  const int bpp = info.bits / 8;
  auto pixel = [&](int32_t x, int32_t y) {
    const int64_t fileRow = info.topDown ? y : info.height - 1 - y;
    return file.data() + info.dataOffset + fileRow * info.rowBytes + static_cast<int64_t>(x) * bpp;
  };
  std::vector<float> grey(static_cast<size_t>(info.width) * info.height);
  for (int32_t y = 0; y < info.height; ++y)
    for (int32_t x = 0; x < info.width; ++x)
      grey[static_cast<size_t>(y) * info.width + x] = LumaOf(pixel(x, y)) / 255.0f;
  Matrix m{info.width, info.height, grey.data()};
  Image_BinarizeIterative(&m, 0.5f);
  for (int32_t y = 0; y < info.height; ++y)
    for (int32_t x = 0; x < info.width; ++x)
      Grey(pixel(x, y), FloatToByte(grey[static_cast<size_t>(y) * info.width + x]));

  const std::string tmp = std::string(path) + ".tmp";
  FILE* out = fopen(tmp.c_str(), "wb");
  if (out == nullptr) {
    AvmLog("open file failed %s \n", tmp.c_str());
    return 0;
  }
  const bool ok = fwrite(file.data(), 1, file.size(), out) == file.size();
  if (!Finish(out, tmp.c_str(), ok) || rename(tmp.c_str(), path) != 0) {
    remove(tmp.c_str());
    AvmLog("write file failed %s \n", path);
    return 0;
  }
  return 1;
}
