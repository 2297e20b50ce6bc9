#include "camera/view_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

struct Maps {
  int w, h;
  std::vector<float> x, y;
  Matrix mx, my;
  Maps(int w_, int h_, float fill) : w(w_), h(h_), x(w_ * h_, fill), y(w_ * h_, fill) {
    mx = {w, h, x.data()};
    my = {w, h, y.data()};
  }
  void Set(int r, int c, float sx, float sy) {
    x[r * w + c] = sx;
    y[r * w + c] = sy;
  }
  void Fill(const std::function<void(int, int, float*, float*)>& f) {
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) f(r, c, &x[r * w + c], &y[r * w + c]);
  }
};

struct Mesh {
  uint32_t count = 0;
  std::vector<float> pos, tex;
};

Mesh Build(const Maps& m, int camera, int Wq = 1280, int Hq = 720, int step = 8, int search = 0, int c0 = 0,
           int c1 = -1) {
  if (c1 < 0) c1 = m.w - 1;
  Mesh out;
  EXPECT_EQ(GenerateTrian_Step(Wq, Hq, camera, &m.mx, &m.my, c0, c1, step, search, &out.count, nullptr, nullptr), 1);
  out.pos.assign(out.count * 9 + 9, 123.0f);
  out.tex.assign(out.count * 6 + 6, 123.0f);
  uint32_t full = 0;
  EXPECT_EQ(GenerateTrian_Step(Wq, Hq, camera, &m.mx, &m.my, c0, c1, step, search, &full, out.pos.data(),
                               out.tex.data()),
            1);
  EXPECT_EQ(full, out.count) << "count-only call must match the full call";
  // Nothing written past the announced triangles.
  EXPECT_EQ(out.pos[out.count * 9], 123.0f);
  EXPECT_EQ(out.tex[out.count * 6], 123.0f);
  return out;
}

double TriangleArea(const float* p) {
  return 0.5 * std::fabs((p[3] - p[0]) * (p[7] - p[1]) - (p[6] - p[0]) * (p[4] - p[1]));
}

TEST(ViewMesh, AllValid600x400GivesMergedCount) {
  Maps m(600, 400, 0.0f);
  m.Fill([](int r, int c, float* x, float* y) {
    *x = 10.0f + c * 0.5f;
    *y = 10.0f + r * 0.5f;
  });
  Mesh mesh = Build(m, 1);
  EXPECT_EQ(mesh.count, 1100u);  // 400 merged quads + 150 single cells

  // The merged mesh still covers the whole clip square exactly once.
  double area = 0;
  for (uint32_t t = 0; t < mesh.count; ++t) area += TriangleArea(&mesh.pos[t * 9]);
  EXPECT_NEAR(area, 4.0, 1e-3);

  // The plain builder keeps every cell: 2 x 75 x 50.
  std::vector<float> pos(7500 * 9), tex(7500 * 6);
  uint32_t plainCount = 0;
  EXPECT_EQ(GenerateTrian_Plain(1280, 720, 1, &m.mx, &m.my, 0, 599, 8, 0, &plainCount, pos.data(), tex.data()), 7500);
  EXPECT_EQ(plainCount, 7500u);
  double plainArea = 0;
  for (int t = 0; t < 7500; ++t) plainArea += TriangleArea(&pos[t * 9]);
  EXPECT_NEAR(plainArea, 4.0, 1e-3);
}

TEST(ViewMesh, FirstQuadLayoutAndTextureFormula) {
  Maps m(600, 400, 0.0f);
  m.Fill([](int r, int c, float* x, float* y) {
    *x = 5.0f + c;
    *y = 7.0f + r;
  });
  Mesh mesh = Build(m, 4, 1280, 720);
  // First quad is the merged 24 x 24 block: TL (0,0), TR (0,24), BL (24,0), BR (24,24).
  const int rows[6] = {0, 0, 24, 0, 24, 24};
  const int cols[6] = {0, 24, 0, 24, 0, 24};
  for (int n = 0; n < 6; ++n) {
    EXPECT_FLOAT_EQ(mesh.pos[3 * n], -1.0f + 2.0f * cols[n] / 599.0f);
    EXPECT_FLOAT_EQ(mesh.pos[3 * n + 1], 1.0f - 2.0f * rows[n] / 399.0f);
    EXPECT_EQ(mesh.pos[3 * n + 2], 0.0f);
    EXPECT_FLOAT_EQ(mesh.tex[2 * n], (5.0f + cols[n] + 640.0f) / 1280.0f);
    EXPECT_FLOAT_EQ(mesh.tex[2 * n + 1], (7.0f + rows[n] + 360.0f) / 720.0f);
  }
}

TEST(ViewMesh, TextureStaysInsideTheCameraQuadrant) {
  const int Wq = 1280, Hq = 720, Wc = Wq / 2, Hc = Hq / 2;
  Maps m(300, 200, -2.0f);
  // A fisheye-like disc of valid sources spanning the whole camera picture.
  m.Fill([&](int r, int c, float* x, float* y) {
    const float u = (c - 150) / 150.0f, v = (r - 100) / 100.0f;
    if (u * u + v * v > 0.9f) return;
    *x = 1.0f + (u * 0.5f + 0.5f) * (Wc - 2);
    *y = 1.0f + (v * 0.5f + 0.5f) * (Hc - 2);
  });
  struct Q {
    int camera, ox, oy;
  } cases[] = {{1, 0, 0}, {2, Wc, 0}, {3, 0, Hc}, {4, Wc, Hc}, {5, 0, 0}};
  for (const Q& q : cases) {
    for (int search : {0, 1}) {
      Mesh mesh = Build(m, q.camera, Wq, Hq, 8, search);
      ASSERT_GT(mesh.count, 0u);
      EXPECT_EQ(mesh.count % 2, 0u);
      for (uint32_t k = 0; k < mesh.count * 3; ++k) {
        const float u = mesh.tex[2 * k], v = mesh.tex[2 * k + 1];
        if (u == 0.0f && v == 0.0f) continue;  // no source
        EXPECT_GE(u * Wq, q.ox) << q.camera;
        EXPECT_LE(u * Wq, q.ox + Wc) << q.camera;
        EXPECT_GE(v * Hq, q.oy) << q.camera;
        EXPECT_LE(v * Hq, q.oy + Hc) << q.camera;
      }
    }
  }
}

TEST(ViewMesh, EmptyMapStillGivesFullMeshPulledToTheBands) {
  Maps m(600, 400, -2.0f);
  Mesh mesh = Build(m, 1);
  EXPECT_EQ(mesh.count, 7500u);  // no merging, every cell a quad
  for (uint32_t k = 0; k < mesh.count * 6; ++k) EXPECT_EQ(mesh.tex[k], 0.0f);
  // Rows above h/4 are pulled to row 100, rows below h - h/4 to row 300.
  const float yTop = 1.0f - 2.0f * 100 / 399.0f, yBottom = 1.0f - 2.0f * 300 / 399.0f;
  for (uint32_t k = 0; k < mesh.count * 3; ++k) {
    const float y = mesh.pos[3 * k + 1];
    EXPECT_LE(y, yTop + 1e-6f);
    EXPECT_GE(y, yBottom - 1e-6f);
  }
}

TEST(ViewMesh, VerticalSearchTakesTheFirstValidRowOfTheColumn) {
  Maps m(600, 400, -2.0f);
  // Column 0 valid only from row 37 down to the middle.
  for (int r = 37; r < 400; ++r) m.Set(r, 0, 50.0f, 60.0f + r);
  Mesh mesh = Build(m, 1);
  // First vertex is grid point (0, 0): its row is replaced by 37.
  EXPECT_FLOAT_EQ(mesh.pos[1], 1.0f - 2.0f * 37 / 399.0f);
  EXPECT_FLOAT_EQ(mesh.tex[0], 50.0f / 1280.0f);
  EXPECT_FLOAT_EQ(mesh.tex[1], 97.0f / 720.0f);
}

TEST(ViewMesh, DiagonalSearchWalksTowardTheCentre) {
  Maps m(600, 400, -2.0f);
  // Valid only at (row 3, col 2): from grid point (0, 0) each step moves
  // the row down, reads, then moves the column right: (1,0), (2,1), (3,2).
  m.Set(3, 2, 20.0f, 30.0f);
  Mesh mesh = Build(m, 1, 1280, 720, 8, 1);
  EXPECT_FLOAT_EQ(mesh.pos[0], -1.0f + 2.0f * 2 / 599.0f);
  EXPECT_FLOAT_EQ(mesh.pos[1], 1.0f - 2.0f * 3 / 399.0f);
  EXPECT_FLOAT_EQ(mesh.tex[0], 20.0f / 1280.0f);
  // A middle-band column is never searched: grid point (0, 296) keeps its
  // place with texture (0, 0). Nothing merges, so the blocks emit their
  // cells block by block: cell (0, 36) opens block 12, quad 12 x 9 = 108,
  // and the grid point is its top-right vertex.
  const float* p = &mesh.pos[108 * 18];
  EXPECT_FLOAT_EQ(p[3], -1.0f + 2.0f * 296 / 599.0f);
  EXPECT_FLOAT_EQ(p[4], 1.0f);
}

TEST(ViewMesh, ColumnRangeAndBadArguments) {
  Maps m(600, 400, 1.5f);
  // Column range 0..300: nx = 38, grid columns 0..296 and 300.
  Mesh mesh = Build(m, 2, 1280, 720, 8, 0, 0, 300);
  float maxX = -2;
  for (uint32_t k = 0; k < mesh.count * 3; ++k) maxX = std::fmax(maxX, mesh.pos[3 * k]);
  EXPECT_FLOAT_EQ(maxX, -1.0f + 2.0f * 300 / 599.0f);

  uint32_t count = 77;
  EXPECT_EQ(GenerateTrian(1280, 720, 1, &m.mx, &m.my, 0, 600, &count, nullptr, nullptr), 0);
  EXPECT_EQ(GenerateTrian(1280, 720, 1, &m.mx, &m.my, 10, 5, &count, nullptr, nullptr), 0);
  EXPECT_EQ(GenerateTrian(1280, 720, 1, nullptr, &m.my, 0, 10, &count, nullptr, nullptr), 0);
  EXPECT_EQ(GenerateTrian_Step(1280, 720, 1, &m.mx, &m.my, 0, 10, 0, 0, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 77u);
  EXPECT_EQ(GenerateTrian(1280, 720, 1, &m.mx, &m.my, 0, 599, nullptr, nullptr, nullptr), 1);
}

}  // namespace
