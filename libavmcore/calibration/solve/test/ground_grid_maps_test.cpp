// Ground-grid reprojection maps: the inner-area rule at its boundary, the
// maps against direct projection, and the half-grid interpolation.
#include "calibration/solve/ground_grid_maps.h"

#include <gtest/gtest.h>

#include <vector>

#include "camera/camera_model.h"
#include "solve_test_support.h"

namespace {

struct Maps {
  std::vector<float> u, v;
  Matrix U, V;
  Maps(int cols, int rows, float fill = 55.0f)
      : u(static_cast<size_t>(cols) * rows, fill), v(static_cast<size_t>(cols) * rows, fill) {
    U = Matrix{cols, rows, u.data()};
    V = Matrix{cols, rows, v.data()};
  }
  float Ua(int r, int c) const { return u[static_cast<size_t>(r) * U.cols + c]; }
  float Va(int r, int c) const { return v[static_cast<size_t>(r) * V.cols + c]; }
};

// Camera looking straight along +z from 1000 units before the origin:
// the origin projects exactly onto the principal point (cx, cy).
struct AxisCamera {
  float k[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, d[8] = {300, 0, 0, 0, 0, 0, 0, 0}, r[3] = {0, 0, 0},
        t[3] = {0, 0, 1000};
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  AxisCamera(float cx, float cy) {
    k[2] = cx;
    k[5] = cy;
  }
};

TEST(GroundGridMapsTest, InnerAreaBoundaryIsInclusive) {
  constexpr int W = 1280, H = 720;
  struct Case {
    float cx, cy;
    bool kept;
  } cases[] = {{2.0f, 300.0f, true},      {1.99f, 300.0f, false},     {W - 2.0f, 300.0f, true},
               {W - 1.99f, 300.0f, false}, {600.0f, 2.0f, true},       {600.0f, 1.99f, false},
               {600.0f, H - 2.0f, true},  {600.0f, H - 1.99f, false}};
  for (const Case& c : cases) {
    AxisCamera cam(c.cx, c.cy);
    Maps m(1, 1);
    Calib_ReprojectPoints(W, H, 1, 1, 0, 0, &cam.R, &cam.T, &cam.K, &cam.D, &m.U, &m.V, 2, 0, 10.0f, 10.0f, 0.0f);
    if (c.kept) {
      EXPECT_EQ(m.u[0], c.cx);
      EXPECT_EQ(m.v[0], c.cy);
    } else {
      EXPECT_EQ(m.u[0], -1.0f) << c.cx << "," << c.cy;
      EXPECT_EQ(m.v[0], -1.0f) << c.cx << "," << c.cy;
    }
  }
}

TEST(GroundGridMapsTest, MapsHoldTheProjectionOfEveryGridPoint) {
  PoseScene s = PoseScene_Make(TruthIntrinsics(2), 1000, 800, 0);
  Matrix R{1, 3, s.cam.r}, T{1, 3, s.cam.T}, K{3, 3, s.cam.K}, D{1, 8, s.cam.D};
  constexpr int cols = 7, rows = 5;
  // Maps wider than the grid: element (i, j) sits at i * map width + j.
  Maps m(cols + 3, rows + 1);
  Calib_ReprojectPoints(s.width, s.height, cols, rows, -600, -2500, &R, &T, &K, &D, &m.U, &m.V, 2, 0, 200.0f, 250.0f,
                        -30.0f);
  int kept = 0;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      float w[3] = {-600.0f + 200.0f * j, -2500.0f + 250.0f * i, -30.0f}, p[2];
      Matrix Wm{3, 1, w}, P{2, 1, p};
      CameraModel_ProjectPoints(2, &Wm, &R, &T, &K, &D, &P, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
      const bool inside = p[0] >= 2 && p[0] <= s.width - 2 && p[1] >= 2 && p[1] <= s.height - 2;
      EXPECT_EQ(m.Ua(i, j), inside ? p[0] : -1.0f) << i << "," << j;
      EXPECT_EQ(m.Va(i, j), inside ? p[1] : -1.0f) << i << "," << j;
      kept += inside;
    }
  EXPECT_GT(kept, 20);
  EXPECT_EQ(m.Ua(rows, 0), 55.0f);  // outside the grid: untouched
  EXPECT_EQ(m.Ua(0, cols), 55.0f);
  // With the caller's work block of exactly five floats per grid point (the
  // sanitizers catch a read or write past it): the same maps.
  Maps b(cols + 3, rows + 1);
  std::vector<float> work(static_cast<size_t>(5) * cols * rows);
  Calib_ReprojectPointsBuffered(s.width, s.height, GroundGrid{cols, rows, -600, -2500, 200.0f, 250.0f, -30.0f},
                                PoseView{&R, &T, &K, &D, 2, 0}, &b.U, &b.V, work.data());
  EXPECT_EQ(b.u, m.u);
  EXPECT_EQ(b.v, m.v);
}

TEST(GroundGridMapsTest, GridWithoutRowsLeavesReprojectionMapsAndClearsMatchMaps) {
  PoseScene s = PoseScene_Make(TruthIntrinsics(2), 1000, 800, 0);
  Matrix R{1, 3, s.cam.r}, T{1, 3, s.cam.T}, K{3, 3, s.cam.K}, D{1, 8, s.cam.D};
  Maps a(4, 3), b(4, 3);
  Calib_ReprojectPoints(s.width, s.height, 4, 0, 0, -2000, &R, &T, &K, &D, &a.U, &a.V, 2, 0, 100, 100, 0);
  for (float e : a.u) EXPECT_EQ(e, 55.0f);
  Calib_MatchTargetPoints(s.width, s.height, 4, 0, 0, -2000, &R, &T, &K, &D, &b.U, &b.V, 2, 0, 100, 100);
  for (float e : b.u) EXPECT_EQ(e, -1.0f);
  for (float e : b.v) EXPECT_EQ(e, -1.0f);
}

TEST(GroundGridMapsTest, MatchMapsOfAFiveByFiveGrid) {
  PoseScene s = PoseScene_Make(TruthIntrinsics(2), 1000, 800, 0);
  Matrix R{1, 3, s.cam.r}, T{1, 3, s.cam.T}, K{3, 3, s.cam.K}, D{1, 8, s.cam.D};
  Maps full(5, 5), m(5, 5);
  Calib_ReprojectPoints(s.width, s.height, 5, 5, -400, -2400, &R, &T, &K, &D, &full.U, &full.V, 2, 0, 100, 100, 0);
  Calib_MatchTargetPoints(s.width, s.height, 5, 5, -400, -2400, &R, &T, &K, &D, &m.U, &m.V, 2, 0, 100, 100);
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 5; ++c) ASSERT_GT(full.Ua(r, c), 0.0f) << "the whole grid is in view";
  for (int r : {0, 2})
    for (int c : {0, 2}) {
      EXPECT_EQ(m.Ua(r, c), full.Ua(r, c));
      EXPECT_EQ(m.Va(r, c), full.Va(r, c));
    }
  for (int r : {0, 2}) {
    EXPECT_EQ(m.Ua(r, 1), (m.Ua(r, 0) + m.Ua(r, 2)) / 2);
    EXPECT_EQ(m.Va(r, 1), (m.Va(r, 0) + m.Va(r, 2)) / 2);
  }
  for (int c : {0, 1, 2}) EXPECT_EQ(m.Ua(1, c), (m.Ua(0, c) + m.Ua(2, c)) / 2);
  // The interpolation of a straight ground line lands within a pixel of it.
  EXPECT_NEAR(m.Ua(1, 1), full.Ua(1, 1), 1.0f);
  EXPECT_NEAR(m.Va(1, 1), full.Va(1, 1), 1.0f);
  // Columns 3 and 4, rows 3 and 4: never projected, and a mean with a -1
  // marker is no position.
  for (int k = 0; k < 5; ++k)
    for (int l : {3, 4}) {
      EXPECT_EQ(m.Ua(k, l), -1.0f) << k << "," << l;
      EXPECT_EQ(m.Va(l, k), -1.0f) << l << "," << k;
    }
}

TEST(GroundGridMapsTest, MidpointNextToAnUnmappedPointIsUnmapped) {
  // Column 0 lands exactly on u = 2.0, column 2 left of it (outside).
  AxisCamera cam(2.0f, 300.0f);
  Maps m(5, 5);
  Calib_MatchTargetPoints(1280, 720, 5, 5, 0, 0, &cam.R, &cam.T, &cam.K, &cam.D, &m.U, &m.V, 2, 0, -50.0f, 50.0f);
  EXPECT_EQ(m.Ua(0, 0), 2.0f);
  EXPECT_EQ(m.Ua(0, 2), -1.0f);
  EXPECT_EQ(m.Ua(0, 1), -1.0f);
  EXPECT_EQ(m.Va(0, 1), -1.0f);
  EXPECT_EQ(m.Ua(1, 0), (m.Ua(0, 0) + m.Ua(2, 0)) / 2);
}

TEST(GroundGridMapsTest, GroundPatchIsTheModelThreeGridAroundThePoint) {
  ScopedConfigState state;
  InstallLensTables(state);
  PoseScene s = PoseScene_Make(TruthIntrinsics(3), 1000, 800, 0);
  Matrix R{1, 3, s.cam.r}, T{1, 3, s.cam.T}, K{3, 3, s.cam.K}, D{1, 8, s.cam.D};
  Maps a(96, 96), b(96, 96);
  Calib_GroundPatchMaps(-20.0f, s.width, s.height, -240, -1700, &R, &T, &K, &D, &a.U, &a.V, 0);
  Calib_ReprojectPoints(s.width, s.height, 96, 96, -240, -1700, &R, &T, &K, &D, &b.U, &b.V, 3, 0, 5.0f, 5.0f, -20.0f);
  EXPECT_EQ(a.u, b.u);
  EXPECT_EQ(a.v, b.v);
  int kept = 0;
  for (float e : a.u) kept += e >= 0.0f;
  EXPECT_EQ(kept, 96 * 96);
}

}  // namespace
