#include "surround/krv_image.h"
#include "frame/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "frame/global_variables.h"
#include "toolkit/matrix_alloc.h"

namespace {

// Low 8 bits of an integer, as the planes store it.
inline uint8_t Low8(int32_t v) { return static_cast<uint8_t>(static_cast<uint32_t>(v) & 0xFFu); }

inline int32_t IntPart(float s) { return static_cast<int32_t>(s); }
inline float Frac(float s) { return s - static_cast<float>(static_cast<int32_t>(s)); }

}  // namespace

void LUT_PackBytePlanes(ImageU8* p0, ImageU8* p1, ImageU8* p2, ImageU8* p3, const Matrix* X1, const Matrix* Y1,
                        const Matrix* X2, const Matrix* Y2, const Matrix* W1, const Matrix* W2, int32_t Wq,
                        int32_t Hq) {
  const int32_t W = X1->cols, H = X1->rows;
  if (W < 1 || H < 1 || Wq < 1 || Hq < 1) return;
  const float sx = 255.0f / static_cast<float>(Wq);
  const float sy = 255.0f / static_cast<float>(Hq);
  for (int32_t r = 0; r < H; ++r) {
    const size_t up = static_cast<size_t>(r) * W;
    const size_t lo = static_cast<size_t>(H + r) * W;
    for (int32_t c = 0; c < W; ++c) {
      const size_t k = up + c;
      const float x1 = X1->data[k] * sx, y1 = Y1->data[k] * sy;
      const float x2 = X2->data[k] * sx, y2 = Y2->data[k] * sy;
      const int32_t w1 = static_cast<int32_t>(W1->data[k] * 31.0f + 0.5f);
      const uint32_t w1u = static_cast<uint32_t>(w1);
      p0->data[up + c] = Low8(IntPart(x1));
      p1->data[up + c] = Low8(IntPart(y1));
      p2->data[up + c] = Low8(static_cast<int32_t>((static_cast<uint32_t>(IntPart(Frac(y1) * 31.0f)) & 31u) |
                                                   (((w1u >> 2) & 7u) << 5)));
      p3->data[up + c] =
          Low8(static_cast<int32_t>((w1u & 3u) | (static_cast<uint32_t>(IntPart(Frac(x1) * 63.0f)) << 2)));
      p0->data[lo + c] = Low8(IntPart(x2));
      p1->data[lo + c] = Low8(IntPart(y2));
      p2->data[lo + c] = Low8(static_cast<int32_t>((static_cast<uint32_t>(IntPart(Frac(y2) * 15.0f)) & 15u) |
                                                   (static_cast<uint32_t>(IntPart(Frac(x2) * 15.0f)) << 4)));
      p3->data[lo + c] = Low8(IntPart(W2->data[k] * 255.0f + 0.5f));
    }
  }
}

int KRVImage_Save(const ImageU8* p0, const ImageU8* p1, const ImageU8* p2, const ImageU8* p3,
                  const int32_t pair1[2], const int32_t pair2[2], const char* path) {
  if (p0 == nullptr || p1 == nullptr || p2 == nullptr || p3 == nullptr || path == nullptr) return 0;
  const int32_t W = p0->width, H2 = p0->height;
  const size_t pixels = (W > 0 && H2 > 0) ? static_cast<size_t>(W) * static_cast<size_t>(H2) : 0;
  std::vector<uint8_t> buf(pixels * 4);
  const ImageU8* planes[4] = {p0, p1, p2, p3};
  for (int32_t r = 0; r < H2 && W > 0; ++r) {
    uint8_t* out = &buf[static_cast<size_t>(r) * W * 4];
    for (int k = 0; k < 4; ++k) {
      const uint8_t* in = planes[k]->data + static_cast<size_t>(r) * planes[k]->width;
      for (int32_t c = 0; c < W; ++c) out[4 * c + k] = in[c];
    }
  }
  FILE* f = fopen(path, "wb");
  if (f == nullptr) {
    AvmLog("create KRVImage failed ");
    return 0;
  }
  const GlobalVariables& g = gv();
  const int32_t head[7] = {static_cast<int32_t>(kKRVImageMagic), W, H2, pair1[1], pair1[0], pair2[1], pair2[0]};
  bool ok = fwrite(head, sizeof head, 1, f) == 1;
  if (!buf.empty()) ok = fwrite(buf.data(), 1, buf.size(), f) == buf.size() && ok;
  ok = fwrite(g.config.seamAngle, sizeof g.config.seamAngle, 1, f) == 1 && ok;
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  if (!ok) AvmLog("KRVImage_Save: writing %s failed\n", path);
  return ok ? 1 : 0;
}

int KRVImage_Load(const char* path, Matrix** out0, Matrix** out1, Matrix** out2, Matrix** out3,
                  int32_t pair1[2], int32_t pair2[2]) {
  if (path == nullptr) return 0;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return 0;
  int32_t head[7];
  const bool headOk = fread(head, sizeof head, 1, f) == 1;
  if (!headOk || static_cast<uint32_t>(head[0]) != kKRVImageMagic) {
    AvmLog("KRVImage_Load: %s is not a KRVImage file\n", path);
    fclose(f);
    return 0;
  }
  const int32_t W = head[1], H2 = head[2];
  // Both halves of the planes belong to one output pixel, so the height is
  // even; anything else (or a size no file of ours has) is a corrupt header.
  if (W < 1 || H2 < 2 || (H2 & 1) != 0 || W > kKRVImageMaxSide || H2 > 2 * kKRVImageMaxSide) {
    AvmLog("KRVImage_Load: %s has impossible size %d x %d\n", path, W, H2);
    fclose(f);
    return 0;
  }
  const size_t n = static_cast<size_t>(W) * static_cast<size_t>(H2);
  // The pixels must be in the file before anything is allocated for them.
  const long start = ftell(f);
  long end = -1;
  if (start >= 0 && fseek(f, 0, SEEK_END) == 0) end = ftell(f);
  if (end < start || static_cast<uint64_t>(end - start) < 4ull * n || fseek(f, start, SEEK_SET) != 0) {
    AvmLog("KRVImage_Load: %s is shorter than its %d x %d pixels\n", path, W, H2);
    fclose(f);
    return 0;
  }
  std::vector<uint8_t> buf;
  try {
    buf.resize(n * 4);
  } catch (const std::bad_alloc&) {
    fclose(f);
    return 0;
  }
  const bool bodyOk = fread(buf.data(), 1, buf.size(), f) == buf.size();
  fclose(f);
  if (!bodyOk) {
    AvmLog("KRVImage_Load: %s is shorter than its %d x %d pixels\n", path, W, H2);
    return 0;
  }
  Matrix* out[4] = {nullptr, nullptr, nullptr, nullptr};
  for (int k = 0; k < 4; ++k) {
    out[k] = Matrix_New(W, H2);
    if (out[k] == nullptr) {
      for (int j = 0; j < k; ++j) Matrix_Delete(out[j]);
      return 0;
    }
    float* d = out[k]->data;
    for (size_t i = 0; i < n; ++i) d[i] = static_cast<float>(buf[4 * i + k]) / 255.0f;
  }
  *out0 = out[0];
  *out1 = out[1];
  *out2 = out[2];
  *out3 = out[3];
  pair1[1] = head[3];
  pair1[0] = head[4];
  pair2[1] = head[5];
  pair2[0] = head[6];
  return 1;
}

int KRVImageMerger_Init(KRVImageMerger* m, const char* path, int32_t width, int32_t height) {
  if (m == nullptr || m->loaded != 0) return 0;
  Matrix* planes[4];
  int32_t p1[2], p2[2];
  if (KRVImage_Load(path, &planes[0], &planes[1], &planes[2], &planes[3], p1, p2) == 0) {
    AvmLog("KRVImageMerger_Init: cannot load %s\n", path != nullptr ? path : "(null)");
    return 0;
  }
  // Held here until every buffer exists: a failed allocation frees them.
  MatrixPtr owned[4];
  for (int k = 0; k < 4; ++k) owned[k].reset(planes[k]);
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  const int32_t outWidth = planes[0]->cols, outHeight = planes[0]->rows / 2;
  std::vector<uint8_t> outRGB(static_cast<size_t>(outWidth) * outHeight * 3);
  std::vector<uint8_t> inRGB(static_cast<size_t>(width) * height * 3);
  for (int k = 0; k < 4; ++k) m->planes[k] = owned[k].release();
  m->pair1[0] = p1[0];
  m->pair1[1] = p1[1];
  m->pair2[0] = p2[0];
  m->pair2[1] = p2[1];
  m->inWidth = width;
  m->inHeight = height;
  m->outWidth = outWidth;
  m->outHeight = outHeight;
  m->outRGB = std::move(outRGB);
  m->inRGB = std::move(inRGB);
  m->loaded = 1;
  return 0;
}

int KRVImageMerger_Release(KRVImageMerger* m) {
  if (m == nullptr || m->loaded == 0) return 0;
  m->outRGB = std::vector<uint8_t>();
  m->inRGB = std::vector<uint8_t>();
  for (auto& p : m->planes) {
    Matrix_Delete(p);
    p = nullptr;
  }
  m->loaded = 0;
  return 0;
}
