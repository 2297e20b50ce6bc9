#include "camera/grid_lut_file.h"
#include "frame/log.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "camera/view_map_repair.h"
#include "toolkit/bmp_file.h"
#include "toolkit/sampling.h"

namespace {

// The largest map a view or strip of this system has is a few thousand
// pixels wide; anything far beyond is a corrupt header.
constexpr int32_t kMaxGridSide = 16384;
constexpr int32_t kMaxShift = 8;
// A few stored samples can declare a huge map (step 4096 covers 16384 x
// 16384 with 25 of them): the maps a file expands to are bounded too, at
// 4 Mi pixels (a 2560 x 1600 view; every map of this system is smaller).
constexpr int64_t kMaxMapPixels = int64_t{1} << 22;

struct Geometry {
  int32_t step, gridW, gridH, rowBytes;
};

bool MakeGeometry(int32_t w, int32_t h, int32_t shift, Geometry* g) {
  g->step = GridLUT_StepOfShift(shift);
  if (g->step == 0 || w < 1 || h < 1 || w > kMaxGridSide || h > kMaxGridSide) return false;
  g->gridW = (w - 1) / g->step + 2;
  g->gridH = (h - 1) / g->step + 2;
  if (shift < 0) {
    g->rowBytes = g->gridW * 8;
  } else {
    int32_t bytes = ((w + g->step - 1) / g->step + 1) * 8;
    g->rowBytes = (bytes + 15) / 16 * 16;
  }
  return true;
}

bool IsStored(int32_t i, int32_t n, int32_t step) { return i % step == 0 || i == n - 1; }

uint32_t Encode(float v) {
  if (!(v > 1.0f)) return 0;
  uint32_t whole = static_cast<uint32_t>(v);
  uint32_t frac = static_cast<uint32_t>((v - static_cast<float>(whole)) * 15.0f);
  return (whole << 4) | frac;
}

float Decode(uint32_t e) {
  return static_cast<float>(e >> 4) + static_cast<float>(e & 0xFu) / 15.0f;
}

bool CloseSynced(FILE* f, bool ok) {
  ok = fflush(f) == 0 && ok;
  ok = fsync(fileno(f)) == 0 && ok;
  ok = fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

int32_t GridLUT_StepOfShift(int32_t shift) {
  if (shift < 0) return 8;
  if (shift > kMaxShift) return 0;
  return 16 << shift;
}

int GridLUT_WriteFile(const Matrix* mapX, const Matrix* mapY, int32_t shift, const char* path) {
  const int32_t w = mapX->cols, h = mapX->rows;
  if (h == 0) return 0;
  Geometry g;
  if (!MakeGeometry(w, h, shift, &g) || path == nullptr) {
    AvmLog("GridLUT_WriteFile: impossible map %d x %d shift %d\n", w, h, shift);
    return 0;
  }
  std::vector<uint8_t> row(static_cast<size_t>(g.rowBytes > 100 ? g.rowBytes : 100), 0);
  FILE* f = fopen(path, "wb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  int32_t head[6] = {g.gridW, g.gridH, shift, shift, w, h};
  bool ok = fwrite(head, 4, 6, f) == 6 && fwrite(row.data(), 1, 76, f) == 76;
  // The header declares gridH rows; when H - 1 is a multiple of the step
  // the stored-row rule yields one fewer, and the last row is written again
  // so that the file holds every row it declares.
  int32_t written = 0;
  for (int32_t y = 0; y < h && ok; ++y) {
    if (!IsStored(y, h, g.step)) continue;
    std::fill(row.begin(), row.end(), 0);
    int32_t k = 0;
    for (int32_t x = 0; x < w; ++x) {
      if (!IsStored(x, w, g.step)) continue;
      float vx = mapX->data[static_cast<long>(y) * w + x];
      float vy = mapY->data[static_cast<long>(y) * w + x];
      if (vx > 1.0f && vy > 1.0f) {
        uint32_t pair[2] = {Encode(vx), Encode(vy)};
        memcpy(&row[static_cast<size_t>(8 * k)], pair, 8);
      }
      ++k;
    }
    ok = fwrite(row.data(), 1, static_cast<size_t>(g.rowBytes), f) ==
         static_cast<size_t>(g.rowBytes);
    ++written;
  }
  while (ok && written < g.gridH) {
    ok = fwrite(row.data(), 1, static_cast<size_t>(g.rowBytes), f) ==
         static_cast<size_t>(g.rowBytes);
    ++written;
  }
  ok = CloseSynced(f, ok);
  if (!ok) AvmLog("GridLUT_WriteFile: writing %s failed\n", path);
  return ok ? 1 : 0;
}

int GridLUT_ReadFile(const char* path, Matrix* mapX, Matrix* mapY) {
  if (path == nullptr || mapX == nullptr || mapY == nullptr) return 0;
  FILE* f = fopen(path, "rb");
  if (f == nullptr) {
    AvmLog("open file failed %s \n", path);
    return 0;
  }
  int32_t head[6];
  Geometry g;
  bool ok = fread(head, 4, 6, f) == 6 && head[2] == head[3] &&
            MakeGeometry(head[4], head[5], head[2], &g) && head[0] == g.gridW &&
            head[1] == g.gridH && fseek(f, 76, SEEK_CUR) == 0;
  if (ok && static_cast<int64_t>(head[4]) * head[5] > kMaxMapPixels) {
    AvmLog("GridLUT_ReadFile: %s declares a %d x %d map, beyond %lld pixels\n", path, head[4], head[5],
           static_cast<long long>(kMaxMapPixels));
    ok = false;
  }
  // The grid rows must be in the file before they are allocated.
  if (ok) {
    const long start = ftell(f);
    long end = -1;
    if (start >= 0 && fseek(f, 0, SEEK_END) == 0) end = ftell(f);
    ok = end >= start && static_cast<uint64_t>(end - start) >= static_cast<uint64_t>(g.gridH) * g.rowBytes &&
         fseek(f, start, SEEK_SET) == 0;
  }
  std::vector<uint8_t> grid;
  if (ok) {
    grid.resize(static_cast<size_t>(g.gridH) * static_cast<size_t>(g.rowBytes));
    ok = fread(grid.data(), 1, grid.size(), f) == grid.size();
  }
  fclose(f);
  if (!ok) {
    AvmLog("GridLUT_ReadFile: %s is not a valid grid-LUT file\n", path);
    return 0;
  }
  const int32_t w = head[4], h = head[5];
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  float* xs = new (std::nothrow) float[n];
  float* ys = new (std::nothrow) float[n];
  if (xs == nullptr || ys == nullptr) {
    delete[] xs;
    delete[] ys;
    return 0;
  }
  std::fill(xs, xs + n, 0.0f);
  std::fill(ys, ys + n, 0.0f);
  int32_t gr = 0;
  for (int32_t y = 0; y < h; ++y) {
    if (!IsStored(y, h, g.step)) continue;
    const uint8_t* row = &grid[static_cast<size_t>(gr) * static_cast<size_t>(g.rowBytes)];
    int32_t k = 0;
    for (int32_t x = 0; x < w; ++x) {
      if (!IsStored(x, w, g.step)) continue;
      uint32_t pair[2];
      memcpy(pair, row + 8 * k, 8);
      xs[static_cast<size_t>(y) * w + x] = Decode(pair[0]);
      ys[static_cast<size_t>(y) * w + x] = Decode(pair[1]);
      ++k;
    }
    ++gr;
  }
  Matrix mx{w, h, xs}, my{w, h, ys};
  ViewMap_ConvertLoaded(&mx, &my, g.step);
  *mapX = mx;
  *mapY = my;
  return 1;
}

namespace {

struct Candidates {
  const Matrix *x1, *y1, *x2, *y2;
  int32_t wc, hc;
  bool Inside(float x, float y, int32_t qx, int32_t qy) const {
    float lx = x - static_cast<float>(qx), ly = y - static_cast<float>(qy);
    return lx > 0.0f && lx < static_cast<float>(wc - 1) && ly > 0.0f &&
           ly < static_cast<float>(hc - 1);
  }
  bool Covered(long i, int32_t qx, int32_t qy) const {
    return Inside(x1->data[i], y1->data[i], qx, qy) || Inside(x2->data[i], y2->data[i], qx, qy);
  }
  // Strip value of pixel i for the quadrant at (qx, qy).
  void Value(long i, int32_t qx, int32_t qy, float* ox, float* oy) const {
    if (Inside(x1->data[i], y1->data[i], qx, qy)) {
      *ox = x1->data[i] - static_cast<float>(qx);
      *oy = y1->data[i] - static_cast<float>(qy);
    } else if (Inside(x2->data[i], y2->data[i], qx, qy)) {
      *ox = x2->data[i] - static_cast<float>(qx);
      *oy = y2->data[i] - static_cast<float>(qy);
    } else {
      *ox = 0.0f;
      *oy = 0.0f;
    }
  }
};

// Writes the strip of rows [r0, r0 + rows) x columns [c0, c0 + cols).
void WriteStrip(const Candidates& cand, int32_t qx, int32_t qy, int32_t r0, int32_t rows,
                int32_t c0, int32_t cols, int32_t shift, const char* path,
                std::vector<float>* wx, std::vector<float>* wy) {
  if (path == nullptr || rows < 1 || cols < 1) return;
  const int32_t w = cand.x1->cols;
  wx->assign(static_cast<size_t>(rows) * cols, 0.0f);
  wy->assign(static_cast<size_t>(rows) * cols, 0.0f);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c)
      cand.Value(static_cast<long>(r0 + r) * w + c0 + c, qx, qy,
                 &(*wx)[static_cast<size_t>(r) * cols + c], &(*wy)[static_cast<size_t>(r) * cols + c]);
  Matrix mx{cols, rows, wx->data()}, my{cols, rows, wy->data()};
  GridLUT_WriteFile(&mx, &my, shift, path);
}

}  // namespace

void GridLUT_BuildAndWrite(int32_t wc, int32_t hc, const Matrix* x1, const Matrix* y1,
                           const Matrix* x2, const Matrix* y2, int32_t shift,
                           const char* pathTop, const char* pathBottom, const char* pathLeft,
                           const char* pathRight, uint32_t* sizes, int32_t sideMode) {
  uint32_t unused[4];
  if (sizes == nullptr) sizes = unused;
  const Candidates cand{x1, y1, x2, y2, wc, hc};
  const int32_t w = x1->cols, h = x1->rows;
  std::vector<float> wx, wy;
  auto rowCovered = [&](int32_t r, int32_t qx, int32_t qy) {
    for (int32_t c = 0; c < w; ++c)
      if (!cand.Covered(static_cast<long>(r) * w + c, qx, qy)) return false;
    return true;
  };
  int32_t bandTop = 0, bandEnd = h;
  if (sideMode == 1) bandEnd = h / 2;
  if (sideMode == 2) bandTop = h / 2;
  auto colCovered = [&](int32_t c, int32_t qx, int32_t qy) {
    for (int32_t r = bandTop; r < bandEnd; ++r)
      if (!cand.Covered(static_cast<long>(r) * w + c, qx, qy)) return false;
    return true;
  };

  // Top strip, camera 1. An uncovered row at index 1 does not end the scan.
  int32_t topRows = 0;
  for (int32_t r = 0; r < h; ++r) {
    if (rowCovered(r, 0, 0)) continue;
    if (r == 1) continue;
    topRows = r & ~1;
    break;
  }
  WriteStrip(cand, 0, 0, 0, topRows, 0, w, shift, pathTop, &wx, &wy);
  sizes[0] = static_cast<uint32_t>(topRows);

  // Bottom strip, camera 2.
  int32_t start = 0;
  for (int32_t r = h - 1; r >= 0; --r) {
    if (!rowCovered(r, wc, 0)) {
      start = (r + 2) & ~1;
      break;
    }
  }
  if (start > h) start = h;
  WriteStrip(cand, wc, 0, start, h - start, 0, w, shift, pathBottom, &wx, &wy);
  sizes[1] = static_cast<uint32_t>(h - start);

  // Left strip, camera 3.
  int32_t leftCols = 0;
  for (int32_t c = 0; c < w; ++c) {
    if (colCovered(c, 0, hc)) continue;
    if (c == 1) continue;
    leftCols = c & ~1;
    break;
  }
  WriteStrip(cand, 0, hc, 0, h, 0, leftCols, shift, pathLeft, &wx, &wy);
  sizes[2] = static_cast<uint32_t>(leftCols);

  // Right strip, camera 4.
  start = 0;
  for (int32_t c = w - 1; c >= 0; --c) {
    if (!colCovered(c, wc, hc)) {
      start = (c + 2) & ~1;
      break;
    }
  }
  if (start > w) start = w;
  WriteStrip(cand, wc, hc, 0, h, start, w - start, shift, pathRight, &wx, &wy);
  sizes[3] = static_cast<uint32_t>(w - start);
}

int GridLUT_ApplyToBmp(const char* gridPath, const char* bmpPath, const char* outPath) {
  Matrix mx{0, 0, nullptr}, my{0, 0, nullptr};
  if (GridLUT_ReadFile(gridPath, &mx, &my) == 0) return 0;
  const std::unique_ptr<float[]> ownX(mx.data), ownY(my.data);
  MatrixPtr src(Bmp_LoadGrayFloat(bmpPath, 0));
  int ok = 0;
  if (src != nullptr) {
    // Decoded coordinates come from a file: anything outside the picture
    // is no source rather than a read beyond it, and so are the blank
    // (below 1) points.
    const long n = static_cast<long>(mx.cols) * mx.rows;
    const float maxX = static_cast<float>(src->cols - 1), maxY = static_cast<float>(src->rows - 1);
    for (long i = 0; i < n; ++i)
      if (!(mx.data[i] >= 1.0f && mx.data[i] <= maxX && my.data[i] >= 1.0f && my.data[i] <= maxY))
        mx.data[i] = -1.0f;
    MatrixPtr out(Image_RemapBilinearAlloc(src.get(), &mx, &my));
    ok = Bmp_SaveFloatPlanes(out.get(), outPath);
  }
  return ok;
}
