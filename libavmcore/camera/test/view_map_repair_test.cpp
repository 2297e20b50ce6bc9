#include "camera/view_map_repair.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct MapPair {
  int w, h;
  std::vector<float> x, y;
  Matrix mx, my;
  MapPair(int w_, int h_, float fill) : w(w_), h(h_), x(w_ * h_, fill), y(w_ * h_, fill) {
    mx = Matrix{w, h, x.data()};
    my = Matrix{w, h, y.data()};
  }
  float& X(int c, int r) { return x[r * w + c]; }
  float& Y(int c, int r) { return y[r * w + c]; }
};

bool IsGrid(int i, int n, int step) { return i % step == 0 || i == n - 1; }

// Fills the grid points of an affine map (values >= 1) and leaves the rest at
// a marker value the repair must overwrite.
MapPair AffineGrid(int w, int h, int step) {
  MapPair m(w, h, -7.0f);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      if (IsGrid(r, h, step) && IsGrid(c, w, step)) {
        m.X(c, r) = 10.0f + 1.5f * c + 0.25f * r;
        m.Y(c, r) = 20.0f + 0.5f * c + 2.0f * r;
      }
  return m;
}

TEST(ViewMapRepair, AffineMapIsReproducedAndGridPointsKept) {
  for (int w : {17, 25, 30}) {  // W - 1 a multiple of 8, and not
    MapPair m = AffineGrid(w, 19, 8);
    MapPair before = m;
    ViewMap_Repair8(&m.mx, &m.my);
    for (int r = 0; r < m.h; ++r)
      for (int c = 0; c < w; ++c) {
        if (IsGrid(r, m.h, 8) && IsGrid(c, w, 8)) {
          EXPECT_EQ(m.X(c, r), before.X(c, r));
          EXPECT_EQ(m.Y(c, r), before.Y(c, r));
        }
        EXPECT_NEAR(m.X(c, r), 10.0f + 1.5f * c + 0.25f * r, 1e-3f) << c << "," << r;
        EXPECT_NEAR(m.Y(c, r), 20.0f + 0.5f * c + 2.0f * r, 1e-3f) << c << "," << r;
      }
  }
}

TEST(ViewMapRepair, SegmentWithInvalidEndBecomesZerosBetweenUnchangedEnds) {
  MapPair m(17, 1, 5.0f);
  m.X(8, 0) = -2.0f;
  m.Y(8, 0) = -2.0f;
  ViewMap_RepairRows(&m.mx, &m.my, 8, 8);
  for (int c = 1; c < 16; ++c) {
    if (c == 8) continue;
    EXPECT_EQ(m.X(c, 0), 0.0f);
    EXPECT_EQ(m.Y(c, 0), 0.0f);
  }
  EXPECT_EQ(m.X(0, 0), 5.0f);
  EXPECT_EQ(m.X(8, 0), -2.0f);
  EXPECT_EQ(m.X(16, 0), 5.0f);
}

TEST(ViewMapRepair, RepairIsIdempotent) {
  MapPair m = AffineGrid(41, 33, 8);
  m.X(16, 8) = -2.0f;  // a hole makes blanked runs
  ViewMap_Repair8(&m.mx, &m.my);
  MapPair once = m;
  ViewMap_Repair8(&m.mx, &m.my);
  EXPECT_EQ(m.x, once.x);
  EXPECT_EQ(m.y, once.y);

  MapPair c = AffineGrid(21, 13, 2);
  CutView_RepairMaps(&c.mx, &c.my);
  MapPair conce = c;
  CutView_RepairMaps(&c.mx, &c.my);
  EXPECT_EQ(c.x, conce.x);
}

TEST(ViewMapRepair, SingleColumnOrRowHasNoWork) {
  MapPair col(1, 9, 3.0f);
  col.X(0, 4) = -1.0f;
  ViewMap_RepairRows(&col.mx, &col.my, 8, 8);
  EXPECT_EQ(col.X(0, 4), -1.0f);
  MapPair row(9, 1, 3.0f);
  row.X(4, 0) = -1.0f;
  ViewMap_RepairCols(&row.mx, &row.my, 8);
  EXPECT_EQ(row.X(4, 0), -1.0f);
}

TEST(ViewMapRepair, SmoothSingleAveragesNeighbours) {
  std::vector<float> d(5 * 5, 0.0f);
  Matrix m{5, 5, d.data()};
  d[0 * 5 + 0] = 2.0f;
  d[2 * 5 + 0] = 4.0f;  // row 1 col 0 = mean of rows 0 and 2
  ViewMap_SmoothSingle(&m, 1);
  EXPECT_FLOAT_EQ(d[1 * 5 + 0], 3.0f);
}

}  // namespace
