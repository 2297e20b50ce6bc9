#include "camera/view_mesh.h"
#include "frame/log.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace {

struct MeshVertex {
  float px, py;  // clip space
  float u, v;    // quad-frame texture coordinates
};

struct MeshGrid {
  int32_t nx = 0, ny = 0;  // cells; grid points are (nx + 1) x (ny + 1)
  MeshVertex* vertex = nullptr;
  uint8_t* valid = nullptr;
  ~MeshGrid() {
    delete[] vertex;
    delete[] valid;
  }
  const MeshVertex& at(int32_t i, int32_t j) const { return vertex[i * (nx + 1) + j]; }
  bool ok(int32_t i, int32_t j) const { return valid[i * (nx + 1) + j] != 0; }
};

bool ArgsOk(const Matrix* mapX, const Matrix* mapY, int32_t colStart, int32_t colEnd, int32_t step) {
  if (mapX == nullptr || mapY == nullptr || mapX->data == nullptr || mapY->data == nullptr) return false;
  if (mapX->cols != mapY->cols || mapX->rows != mapY->rows) return false;
  if (mapX->cols < 2 || mapX->rows < 2 || step < 1) return false;
  return colStart >= 0 && colStart <= colEnd && colEnd < mapX->cols;
}

// Grid points with their vertices (steps 1 to 4 of the builder).
bool BuildGrid(int32_t Wq, int32_t Hq, int32_t camera, const Matrix* mapX, const Matrix* mapY, int32_t colStart,
               int32_t colEnd, int32_t step, int32_t searchMode, MeshGrid* g) {
  const int32_t w = mapX->cols, h = mapX->rows;
  g->nx = (colEnd - colStart + step) / step;
  g->ny = (h + step - 1) / step;
  const size_t n = static_cast<size_t>(g->nx + 1) * static_cast<size_t>(g->ny + 1);
  g->vertex = new (std::nothrow) MeshVertex[n];
  g->valid = new (std::nothrow) uint8_t[n];
  if (g->vertex == nullptr || g->valid == nullptr) return false;

  int32_t ox = 0, oy = 0;
  Trian_QuadrantOffset(Wq, Hq, camera, &ox, &oy);
  const float* X = mapX->data;
  const float* Y = mapY->data;
  auto good = [&](int32_t r, int32_t c) {
    const size_t k = static_cast<size_t>(r) * w + c;
    return X[k] > 0.0f && Y[k] > 0.0f;
  };
  auto tex = [&](MeshVertex* v, int32_t r, int32_t c) {
    const size_t k = static_cast<size_t>(r) * w + c;
    v->u = (X[k] + static_cast<float>(ox)) / static_cast<float>(Wq);
    v->v = (Y[k] + static_cast<float>(oy)) / static_cast<float>(Hq);
  };
  const int32_t top = h / 4, bottom = h - h / 4;  // middle band: top <= row <= bottom
  const int32_t left = w / 4, right = w - w / 4;

  for (int32_t i = 0; i <= g->ny; ++i) {
    const int32_t row0 = std::min(i * step, h - 1);
    for (int32_t j = 0; j <= g->nx; ++j) {
      const int32_t col0 = colStart + std::min(j * step, colEnd - colStart);
      MeshVertex v{0.0f, 0.0f, 0.0f, 0.0f};
      int32_t row = row0, col = col0;
      const bool valid = good(row0, col0);
      if (valid) {
        tex(&v, row, col);
      } else if (searchMode == 0) {
        if (row0 < top) {
          row = top;
          for (int32_t r = row0; r <= top - 1; ++r)
            if (good(r, col0)) {
              row = r;
              tex(&v, r, col0);
              break;
            }
        } else if (row0 > bottom) {
          row = bottom;
          for (int32_t r = row0; r >= bottom + 1; --r)
            if (good(r, col0)) {
              row = r;
              tex(&v, r, col0);
              break;
            }
        }
      } else if (col0 < left || col0 > right) {
        const int32_t dc = col0 < left ? 1 : -1;
        for (;;) {
          if (row < top) ++row;
          else if (row > bottom) --row;
          if (good(row, col)) {
            tex(&v, row, col);
            break;
          }
          col += dc;
          if (col == left || col == right) break;
        }
      }
      v.px = -1.0f + 2.0f * static_cast<float>(col) / static_cast<float>(w - 1);
      v.py = 1.0f - 2.0f * static_cast<float>(row) / static_cast<float>(h - 1);
      g->vertex[i * (g->nx + 1) + j] = v;
      g->valid[i * (g->nx + 1) + j] = valid ? 1 : 0;
    }
  }
  return true;
}

void PutVertex(const MeshVertex& v, float* pos, float* tex) {
  pos[0] = v.px;
  pos[1] = v.py;
  pos[2] = 0.0f;
  tex[0] = v.u;
  tex[1] = v.v;
}

// Quad k as triangles (TL, TR, BL) and (TR, BL, BR).
void Trian_EmitQuad(uint32_t k, const MeshVertex& tl, const MeshVertex& tr, const MeshVertex& bl,
                    const MeshVertex& br, float* positions, float* texture) {
  float* p = positions + 18 * static_cast<size_t>(k);
  float* t = texture + 12 * static_cast<size_t>(k);
  const MeshVertex* order[6] = {&tl, &tr, &bl, &tr, &bl, &br};
  for (int n = 0; n < 6; ++n) PutVertex(*order[n], p + 3 * n, t + 2 * n);
}

}  // namespace

void Trian_QuadrantOffset(int32_t Wq, int32_t Hq, int32_t camera, int32_t* ox, int32_t* oy) {
  *ox = (camera == 2 || camera == 4) ? Wq / 2 : 0;
  *oy = (camera == 3 || camera == 4) ? Hq / 2 : 0;
}

int GenerateTrian_Step(int32_t Wq, int32_t Hq, int32_t camera, const Matrix* mapX, const Matrix* mapY,
                       int32_t colStart, int32_t colEnd, int32_t step, int32_t searchMode, uint32_t* count,
                       float* positions, float* texture) {
  if (!ArgsOk(mapX, mapY, colStart, colEnd, step) || Wq <= 0 || Hq <= 0) return 0;
  MeshGrid g;
  if (!BuildGrid(Wq, Hq, camera, mapX, mapY, colStart, colEnd, step, searchMode, &g)) return 0;
  const bool write = positions != nullptr && texture != nullptr;
  uint32_t quads = 0;
  auto emit = [&](int32_t r0, int32_t c0, int32_t r1, int32_t c1) {
    if (write) Trian_EmitQuad(quads, g.at(r0, c0), g.at(r0, c1), g.at(r1, c0), g.at(r1, c1), positions, texture);
    ++quads;
  };
  for (int32_t r = 0; r < g.ny; r += 3) {
    for (int32_t c = 0; c < g.nx; c += 3) {
      if (r + 3 <= g.ny && c + 3 <= g.nx && g.ok(r, c) && g.ok(r, c + 3) && g.ok(r + 3, c) &&
          g.ok(r + 3, c + 3)) {
        emit(r, c, r + 3, c + 3);
        continue;
      }
      for (int32_t rr = r; rr < std::min(r + 3, g.ny); ++rr)
        for (int32_t cc = c; cc < std::min(c + 3, g.nx); ++cc) emit(rr, cc, rr + 1, cc + 1);
    }
  }
  const uint32_t triangles = 2 * quads;
  if (count != nullptr) *count = triangles;
  AvmLog("GenerateTrian Cnt %d %d %p %p %p \n", camera, static_cast<int>(triangles), static_cast<void*>(count),
         static_cast<void*>(positions), static_cast<void*>(texture));
  return 1;
}

int GenerateTrian(int32_t Wq, int32_t Hq, int32_t camera, const Matrix* mapX, const Matrix* mapY, int32_t colStart,
                  int32_t colEnd, uint32_t* count, float* positions, float* texture) {
  return GenerateTrian_Step(Wq, Hq, camera, mapX, mapY, colStart, colEnd, 8, 0, count, positions, texture);
}

int32_t GenerateTrian_Plain(int32_t Wq, int32_t Hq, int32_t camera, const Matrix* mapX, const Matrix* mapY,
                            int32_t colStart, int32_t colEnd, int32_t step, int32_t searchMode, uint32_t* count,
                            float* positions, float* texture) {
  if (!ArgsOk(mapX, mapY, colStart, colEnd, step) || Wq <= 0 || Hq <= 0) return 0;
  if (positions == nullptr || texture == nullptr) return 0;
  MeshGrid g;
  if (!BuildGrid(Wq, Hq, camera, mapX, mapY, colStart, colEnd, step, searchMode, &g)) return 0;
  uint32_t quads = 0;
  for (int32_t r = 0; r < g.ny; ++r)
    for (int32_t c = 0; c < g.nx; ++c)
      Trian_EmitQuad(quads++, g.at(r, c), g.at(r, c + 1), g.at(r + 1, c), g.at(r + 1, c + 1), positions, texture);
  const int32_t triangles = static_cast<int32_t>(2 * quads);
  if (count != nullptr) *count = static_cast<uint32_t>(triangles);
  return triangles;
}
