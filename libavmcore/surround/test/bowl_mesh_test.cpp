// Bowl surface cast and camera meshes on the sample rig.
#include "surround/bowl_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bowl_test_fixture.h"

namespace {

using BowlMeshTest = BowlFixture;

struct Mesh {
  uint32_t count = 0;
  std::vector<float> v, t;
};

Mesh Fetch(D3DGrid* g, int32_t camera, int32_t mask) {
  Mesh m;
  KRV_GlobalImage_Generate3DTrian(g, camera, mask, &m.count, nullptr, nullptr);
  m.v.assign(m.count * 9, 0.0f);
  m.t.assign(m.count * 12, 0.0f);
  KRV_GlobalImage_Generate3DTrian(g, camera, mask, &m.count, m.v.data(), m.t.data());
  return m;
}

TEST_F(BowlMeshTest, CountsFollowTheMaskAndCameraFallsBackToFour) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  uint32_t all = 0;
  // A count-only request builds the meshes.
  EXPECT_EQ(KRV_GlobalImage_Generate3DTrian(g.get(), 1, 3, &all, nullptr, nullptr), 0);
  EXPECT_EQ(g->meshesBuilt, 1);
  for (int32_t cam = 1; cam <= 4; ++cam) {
    const BowlCameraMesh& m = g->meshes[cam - 1];
    EXPECT_GT(m.part1, 0) << cam;
    EXPECT_GT(m.part2, 0) << cam;
    const struct {
      int32_t mask;
      int32_t expect;
    } cases[] = {{0, 0}, {1, m.part1}, {2, m.part2}, {3, m.part1 + m.part2}};
    for (const auto& c : cases) {
      uint32_t n = 12345;
      KRV_GlobalImage_Generate3DTrian(g.get(), cam, c.mask, &n, nullptr, nullptr);
      EXPECT_EQ(n, static_cast<uint32_t>(c.expect)) << "camera " << cam << " mask " << c.mask;
    }
  }
  const Mesh four = Fetch(g.get(), 4, 3);
  for (int32_t other : {0, 7, -1}) {
    const Mesh m = Fetch(g.get(), other, 3);
    EXPECT_EQ(m.count, four.count);
    EXPECT_EQ(m.v, four.v);
    EXPECT_EQ(m.t, four.t);
  }
  // Only the seam part: every copied triangle is one of the blended ones.
  const Mesh seam = Fetch(g.get(), 2, 1);
  EXPECT_EQ(seam.count, static_cast<uint32_t>(g->meshes[1].part1));
}

TEST_F(BowlMeshTest, EveryTextureCoordinateIsTheCornersProjectionInsideItsCamera) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  const BowlCameras cams = Cameras(g.get());
  const float Wq = static_cast<float>(g->quadW) - 1, Hq = static_cast<float>(g->quadH) - 1;
  for (int32_t cam = 1; cam <= 4; ++cam) {
    const Mesh m = Fetch(g.get(), cam, 3);
    ASSERT_GT(m.count, 1000u);
    int outside = 0, mismatch = 0;
    for (uint32_t k = 0; k < m.count * 3; ++k) {
      const float* p = &m.v[k * 3];
      const float tu = m.t[k * 4], tv = m.t[k * 4 + 1];
      const float u = tu * Wq - cams.ox[cam - 1], v = tv * Hq - cams.oy[cam - 1];
      if (!(u > 0.0f && u < cams.umax && v > 0.0f && v < cams.vmax)) ++outside;
      float pu, pv;
      ASSERT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]));
      ASSERT_TRUE(BowlCameras_Project(&cams, cam, p[0], p[1], p[2], &pu, &pv));
      // One texture unit is ~1280 pixels: 1e-4 is a tenth of a pixel.
      if (std::fabs(pu - u) > 0.1f || std::fabs(pv - v) > 0.1f) ++mismatch;
    }
    EXPECT_EQ(outside, 0) << "camera " << cam;
    EXPECT_EQ(mismatch, 0) << "camera " << cam;
  }
}

TEST_F(BowlMeshTest, WallSolvesMeetTheBowlShape) {
  // Bowl set (2400, 5400, 6000, 1) around the 1800 x 4600 car: floor
  // semi-axis 3300 across; the wall is a quarter circle of radius 6000 from
  // the rim, then the vertical rim 6000 beyond it.
  const double H = 8000, A = 3300, B = 7700, h = 6000, k = 1;
  // The wall point 3000 mm up: 5196 mm beyond the rim, along +x.
  const double beyond = std::sqrt(h * h - (h - 3000) * (h - 3000));
  const double dx = (A + beyond) / (H - 3000), dy = 1e-7;
  double w = H, x = dx * H, y = 0;
  ASSERT_EQ(Bowl_SolveWall(dx, dy, H, A, B, h, k, &w, &x, &y), 1);
  EXPECT_NEAR(w - H, -3000.0, 1.0);
  EXPECT_NEAR(x, A, 0.5);
  // The vertical rim: 6000 mm beyond the rim at any height, here for a ray
  // 1000 mm above the view (negative depth).
  const double dr = (A + 6000.0) / (H - 9000);
  w = H - 9000;
  x = A;
  y = 0;
  ASSERT_EQ(Bowl_SolveRim(dr, dy, H, A, B, h, k, &w, &x, &y), 1);
  EXPECT_NEAR(w, H - 9000, 1.0);
  EXPECT_NEAR(dr * w - x, 6000.0, 1.0);

  // A whole cast: floor nodes at z = 0 inside the ellipse, wall and rim
  // nodes on the surface outside it.
  const int32_t cols = 200, rows = 268;
  std::vector<float> X(cols * rows, 0.0f), Y(X), Z(X);
  const float insets[4] = {0, 0, 0, 0};
  Bowl_CastGrid(cols, rows, 1, X.data(), Y.data(), Z.data(), 0, 85.0f, 8000.0f, 1800.0f, 4600.0f, insets,
                BowlShape{2400, 5400, 6000, 1.0f});
  int floor = 0, wall = 0, off = 0;
  for (int32_t i = 0; i < cols * rows; ++i) {
    const double px = X[i], py = Y[i], pz = Z[i];
    const bool in = B * B * px * px + A * A * py * py < A * A * B * B;
    // Rays above the horizon meet the vertical rim above the view; they
    // come back over the floor only as the rim seen from inside.
    if (in && pz > -H) {
      EXPECT_EQ(pz, 0.0);
      ++floor;
      continue;
    }
    // Distance beyond the rim along the node's own direction.
    const double r = std::hypot(px, py), rim = 1.0 / std::sqrt(px * px / (r * r * A * A) + py * py / (r * r * B * B));
    const double d = r - rim;
    const double onWall = d * d + (pz + h) * (pz + h) - h * h, onRim = d - h;
    if (std::fabs(onWall) > 0.02 * h * h && std::fabs(onRim) > 5.0) ++off;
    ++wall;
  }
  EXPECT_GT(floor, 5000);
  EXPECT_GT(wall, 5000);
  EXPECT_LE(off, wall / 100) << "nodes off the bowl surface";
}

TEST_F(BowlMeshTest, AWallPointIsSeenByTheCameraTheSeamMapsChoose) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  const BowlCameras cams = Cameras(g.get());
  const int32_t cols = g->cols, rows = g->rows;
  ASSERT_EQ(cols, 200);
  ASSERT_EQ(rows, 268);
  std::vector<float> X[2], Y[2], Z[2];
  for (int s = 0; s < 2; ++s) {
    X[s].assign(cols * rows, 0.0f);
    Y[s] = Z[s] = X[s];
    Bowl_CastGrid(cols, rows, 1, X[s].data(), Y[s].data(), Z[s].data(), 0, g->focal, g->height, g->carW, g->carL,
                  g->insets, g->shape[s]);
  }
  const Mesh meshes[4] = {Fetch(g.get(), 1, 3), Fetch(g.get(), 2, 3), Fetch(g.get(), 3, 3), Fetch(g.get(), 4, 3)};
  // Nodes on the wall ahead, behind and beside the car: map A gives the
  // group, the node's side the camera, whose mesh must carry the point.
  struct Probe {
    int32_t col, row, camera;
  } probes[] = {{100, 40, 1}, {100, 228, 2}, {20, 132, 3}, {180, 132, 4}};  // corners of 4 x 4 cells
  for (const Probe& p : probes) {
    const size_t i = static_cast<size_t>(p.row) * cols + p.col;
    const float a = g->seamA.data[i];
    const int s = a == 1.0f ? 0 : 1;
    ASSERT_TRUE(a == 1.0f || a == 0.0f) << a;
    EXPECT_EQ(s, p.camera <= 2 ? 0 : 1);
    ASSERT_LT(Z[s][i], -100.0f) << "probe " << p.camera << " is not on the wall";
    float u, v;
    ASSERT_TRUE(BowlCameras_Project(&cams, p.camera, X[s][i], Y[s][i], Z[s][i], &u, &v));
    ASSERT_TRUE(BowlCameras_Inside(&cams, u, v)) << "camera " << p.camera << " does not see the probe";
    const Mesh& m = meshes[p.camera - 1];
    bool found = false;
    for (uint32_t k = 0; k < m.count * 3 && !found; ++k)
      found = m.v[k * 3] == X[s][i] && m.v[k * 3 + 1] == Y[s][i] && m.v[k * 3 + 2] == Z[s][i];
    EXPECT_TRUE(found) << "camera " << p.camera << "'s mesh lacks its wall point";
    // And no camera of the other group draws that point of this surface.
    for (int c = 1; c <= 4; ++c) {
      if ((c <= 2) == (p.camera <= 2)) continue;
      const Mesh& o = meshes[c - 1];
      for (uint32_t k = 0; k < o.count * 3; ++k)
        ASSERT_FALSE(o.v[k * 3] == X[s][i] && o.v[k * 3 + 1] == Y[s][i] && o.v[k * 3 + 2] == Z[s][i]) << c;
    }
  }
}

TEST_F(BowlMeshTest, SplitRowKeepsTheMeshOnItsSideAndFadesIt) {
  // Word 14 = 1: the mesh ends at the split row, 2000 mm behind the car's
  // centre (4300 mm from its front edge); without corners of camera 2 the
  // coarse cells stop 15 rows before it.
  BowlRigOptions opt;
  opt.groupNumber = 1;
  opt.splitLength = 4300;
  opt.cornerCount = 0;
  GridPtr g = GridWith(opt, "split.krv");
  ASSERT_NE(g, nullptr);
  float px, py;
  D3DGrid_ViewPoint(g.get(), 0.0f, 2000.0f, g->height, &px, &py);
  const int32_t S = static_cast<int32_t>(g->rows / 2 + py + 0.5f);
  int floorCorners = 0, beyond = 0, unfaded = 0;
  for (int32_t cam = 1; cam <= 4; ++cam) {
    const Mesh m = Fetch(g.get(), cam, 3);
    for (uint32_t k = 0; k < m.count * 3; ++k) {
      if (m.v[3 * k + 2] != 0.0f) continue;  // floor corners map back to their grid row
      D3DGrid_ViewPoint(g.get(), m.v[3 * k], m.v[3 * k + 1], g->height, &px, &py);
      const float row = g->rows / 2 + py;
      ++floorCorners;
      if (row > S + 16.5f) ++beyond;
      // Within the last rows the weight fades to 0 at S + 15.
      if (row > S + 10.5f && m.t[4 * k + 2] > (S + 15.5f - (row - 1.0f)) / 30) ++unfaded;
    }
  }
  EXPECT_GT(floorCorners, 1000);
  EXPECT_EQ(beyond, 0);
  EXPECT_EQ(unfaded, 0);
}

}  // namespace
