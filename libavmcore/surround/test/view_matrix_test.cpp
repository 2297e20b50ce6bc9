// Bowl view matrix, texture re-projection, custom meshes and the TB meshes.
#include "surround/view_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "bowl_test_fixture.h"
#include "surround/bowl_mesh.h"
#include "surround/bowl_tb.h"

namespace {

constexpr float kTwoPi = 6.2831855f;

std::vector<float> Mvp(float zoom, float aspect, float pitch, float yaw, float distance, float tx = 0, float ty = 0) {
  std::vector<float> m(16);
  Generate3DMVP(m.data(), zoom, aspect, 0.1f, -0.05f, pitch, yaw, distance, tx, ty);
  return m;
}

void ExpectNear(const std::vector<float>& a, const std::vector<float>& b, float tol, const char* what) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a[i], b[i], tol) << what << " element " << i;
}

TEST(BowlViewMatrix, YawAndDistanceIdentities) {
  ExpectNear(Mvp(1.2f, 1.5f, 0.7f, 7.0f, 9000), Mvp(1.2f, 1.5f, 0.7f, 7.0f - kTwoPi, 9000), 2e-3f, "yaw 7");
  ExpectNear(Mvp(1.2f, 1.5f, 0.7f, -0.5f, 9000), Mvp(1.2f, 1.5f, 0.7f, kTwoPi - 0.5f, 9000), 2e-3f, "yaw -0.5");
  ExpectNear(Mvp(1.0f, 1.3f, 0.4f, 2.0f, -7000, 100, -200), Mvp(1.0f, 1.3f, 0.4f, 2.0f, 7000, 100, -200), 0.0f,
             "distance");
  // The plain export is the extended one with zoom 1.
  std::vector<float> a(16), b(16);
  EXPECT_EQ(KRV_GlobalImage_Generate3DMVP(nullptr, a.data(), 1.4f, 0.1f, 0.2f, 0.6f, 1.1f, 8000, 50, 60), 0);
  EXPECT_EQ(KRV_GlobalImage_Generate3DMVP_EX(nullptr, b.data(), nullptr, nullptr, 0, 0, 1.0f, 1.4f, 0.1f, 0.2f, 0.6f,
                                             1.1f, 8000, 50, 60),
            0);
  EXPECT_EQ(a, b);
}

// Screen position of a ground-frame point (vertices enter as (x, -y, -z)).
void Screen(const std::vector<float>& m, float x, float y, float z, float* sx, float* sy) {
  const float v[4] = {x, -y, -z, 1};
  float r[4];
  for (int i = 0; i < 4; ++i) r[i] = m[4 * i] * v[0] + m[4 * i + 1] * v[1] + m[4 * i + 2] * v[2] + m[4 * i + 3] * v[3];
  *sx = r[0] / r[3];
  *sy = r[1] / r[3];
}

TEST(BowlViewMatrix, TopViewLooksStraightDownWithTheFrontUp) {
  std::vector<float> m(16);
  const float d = 10000, t = std::tan(3.14159265f / 8);
  Generate3DMVP(m.data(), 1.0f, 1.0f, 0, 0, 0, 0, d, 0, 0);
  float x, y;
  Screen(m, 0, 0, 0, &x, &y);
  EXPECT_NEAR(x, 0.0f, 1e-6f);
  EXPECT_NEAR(y, 0.0f, 1e-6f);
  Screen(m, 1000, -2000, 0, &x, &y);  // right of and ahead of the car
  EXPECT_NEAR(x, 1000 / (d * t), 1e-4f);
  EXPECT_NEAR(y, 2000 / (d * t), 1e-4f);
  // A point 1000 mm up is nearer the viewer: further from the centre.
  Screen(m, 1000, 0, -1000, &x, &y);
  EXPECT_NEAR(x, 1000 / ((d - 1000) * t), 1e-4f);
}

using BowlReprojectTest = BowlFixture;

TEST_F(BowlReprojectTest, ReprojectionEqualsAFreshMeshAtTheTrialPose) {
  GridPtr a = Grid();
  ASSERT_NE(a, nullptr);
  uint32_t n = 0;
  KRV_GlobalImage_Generate3DTrian(a.get(), 1, 3, &n, nullptr, nullptr);
  BowlRigOptions opt;
  opt.poseCamera = 1;
  for (int k = 0; k < 3; ++k) {
    opt.r[k] = a->params.R[0][k] + (k == 0 ? 0.01f : -0.015f);
    opt.T[k] = a->params.T[0][k] + 15.0f * (k + 1);
  }
  EXPECT_EQ(KRV_GlobalImage_Mod3DTrian(a.get(), 1, opt.r, opt.T), 0);
  GridPtr b = GridWith(opt, "trial.krv");
  ASSERT_NE(b, nullptr);
  KRV_GlobalImage_Generate3DTrian(b.get(), 1, 3, &n, nullptr, nullptr);
  // The stored pose is untouched.
  EXPECT_NE(a->params.T[0][0], opt.T[0]);
  const BowlCameraMesh& ma = a->meshes[0];
  const BowlCameraMesh& mb = b->meshes[0];
  std::map<std::tuple<float, float, float>, std::pair<float, float>> fresh;
  for (size_t k = 0; k < mb.flags.size() * 3; ++k)
    fresh[{mb.vertices[3 * k], mb.vertices[3 * k + 1], mb.vertices[3 * k + 2]}] = {mb.texture[4 * k],
                                                                                  mb.texture[4 * k + 1]};
  size_t matched = 0, differ = 0;
  for (size_t k = 0; k < ma.flags.size() * 3; ++k) {
    auto it = fresh.find({ma.vertices[3 * k], ma.vertices[3 * k + 1], ma.vertices[3 * k + 2]});
    if (it == fresh.end()) continue;
    ++matched;
    if (std::fabs(it->second.first - ma.texture[4 * k]) > 1e-6f ||
        std::fabs(it->second.second - ma.texture[4 * k + 1]) > 1e-6f)
      ++differ;
  }
  EXPECT_GT(matched, ma.flags.size() * 3 * 9 / 10);
  EXPECT_EQ(differ, 0u) << "of " << matched;
}

TEST_F(BowlReprojectTest, ComposedPoseWithoutChangeKeepsTheTexture) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  uint32_t n = 0;
  KRV_GlobalImage_Generate3DTrian(g.get(), 3, 3, &n, nullptr, nullptr);
  const std::vector<float> before = g->meshes[2].texture;
  const float zero[3] = {0, 0, 0};
  Mod3DTrianProject(g.get(), 3, zero, zero, 1);
  ASSERT_EQ(g->meshes[2].texture.size(), before.size());
  size_t differ = 0;
  for (size_t k = 0; k < before.size(); ++k) differ += std::fabs(before[k] - g->meshes[2].texture[k]) > 1e-5f;
  EXPECT_EQ(differ, 0u);
  // A shift along x moves every re-projected texture coordinate.
  const float shift[3] = {50, 0, 0};
  Mod3DTrianProject(g.get(), 3, zero, shift, 1);
  differ = 0;
  for (size_t k = 0; k < before.size(); k += 4) differ += before[k] != g->meshes[2].texture[k];
  EXPECT_GT(differ, before.size() / 8);
}

TEST_F(BowlReprojectTest, CustomTrianglesAreAcceptedOrRefused) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  const BowlCameras cams = Cameras(g.get());
  const float ahead[9] = {0, -4000, 0, 300, -4000, 0, 0, -3700, 0};       // floor ahead: front camera alone
  const float onCar[9] = {0, 0, 0, 100, 0, 0, 0, 100, 0};                 // inside the vehicle
  const float offGrid[9] = {1e7f, 0, 0, 1e7f, 300, 0, 1e7f, 0, -300};     // beyond the grid
  const float beside[9] = {-2500, 0, 0, -2500, 300, 0, -2800, 0, 0};      // left of the car: side camera
  struct Case {
    const float* tri;
    int32_t groupMode;
    int32_t camera;  // that gets it, 0 none
    uint32_t flag;
  } cases[] = {
      {ahead, 0, 1, 2}, {ahead, 2, 0, 0}, {ahead, 1, 1, 2}, {onCar, 0, 0, 0},
      {offGrid, 0, 0, 0}, {beside, 0, 3, 2}, {beside, 1, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KRV_GlobalImage_SetCustom3DTrian(g.get(), c.tri, 1, c.groupMode), 0);
    EXPECT_EQ(g->meshesBuilt, 1);
    for (int cam = 1; cam <= 4; ++cam) {
      uint32_t n = 99;
      KRV_GlobalImage_Generate3DTrian(g.get(), cam, 3, &n, nullptr, nullptr);
      EXPECT_EQ(n, cam == c.camera ? 1u : 0u) << "camera " << cam << " case " << (&c - cases);
    }
    if (c.camera == 0) continue;
    const BowlCameraMesh& m = g->meshes[c.camera - 1];
    ASSERT_EQ(m.flags.size(), 1u);
    EXPECT_EQ(m.flags[0], c.flag);
    for (int k = 0; k < 3; ++k) {
      float u, v, tu, tv;
      ASSERT_TRUE(BowlCameras_Project(&cams, c.camera, c.tri[3 * k], c.tri[3 * k + 1], c.tri[3 * k + 2], &u, &v));
      BowlCameras_Texture(&cams, c.camera, u, v, &tu, &tv);
      EXPECT_FLOAT_EQ(m.texture[4 * k], tu);
      EXPECT_FLOAT_EQ(m.texture[4 * k + 1], tv);
      EXPECT_FLOAT_EQ(m.texture[4 * k + 2], 1.0f);
    }
  }
  // No triangles: empty meshes, and the bowl meshes are not generated.
  KRV_GlobalImage_SetCustom3DTrian(g.get(), ahead, 0, 0);
  uint32_t n = 99;
  KRV_GlobalImage_Generate3DTrian(g.get(), 1, 3, &n, nullptr, nullptr);
  EXPECT_EQ(n, 0u);

  // Single-camera lists: kept only when the camera sees every corner.
  float v[18], t[12];
  int32_t count = 1;
  EXPECT_EQ(KRV_GlobalImage_GenerateCustomTBTrian(g.get(), 1, ahead, &count, v, t), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::vector<float>(v, v + 9), std::vector<float>(ahead, ahead + 9));
  const float halfSeen[9] = {0, -4000, 0, 300, -4000, 0, 0, 6000, 0};  // last corner behind the car
  count = 1;
  KRV_GlobalImage_GenerateCustomTBTrian(g.get(), 1, halfSeen, &count, v, t);
  EXPECT_EQ(count, 0);
  float two[18];
  std::copy(halfSeen, halfSeen + 9, two);
  std::copy(ahead, ahead + 9, two + 9);
  count = 2;
  KRV_GlobalImage_GenerateCustomTBTrian(g.get(), 1, two, &count, v, t);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(v[0], ahead[0]);
  EXPECT_EQ(v[1], ahead[1]);
  count = -3;
  KRV_GlobalImage_GenerateCustomTBTrian(g.get(), 1, ahead, &count, v, t);
  EXPECT_EQ(count, 0);
}

using BowlTBTest = BowlFixture;

TEST_F(BowlTBTest, TheMeshOfTheLastRequestIsReused) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  uint32_t n1 = 0, n2 = 0;
  EXPECT_EQ(KRV_GlobalImage_GenerateTBTrian(g.get(), 1, 2, &n1, nullptr, nullptr), 0);
  ASSERT_GT(n1, 1000u);
  EXPECT_EQ(g->tb.builds, 1);
  std::vector<float> v1(n1 * 9), t1(n1 * 6), v2(n1 * 9), t2(n1 * 6);
  KRV_GlobalImage_GenerateTBTrian(g.get(), 1, 2, &n2, v1.data(), t1.data());
  EXPECT_EQ(g->tb.builds, 1);
  EXPECT_EQ(n2, n1);
  KRV_GlobalImage_GenerateTBTrian(g.get(), 1, 2, &n2, v2.data(), t2.data());
  EXPECT_EQ(v1, v2);
  EXPECT_EQ(t1, t2);
  EXPECT_EQ(g->tb.builds, 1);
  // Another shape or camera casts again.
  KRV_GlobalImage_GenerateTBTrian(g.get(), 1, 1, &n2, nullptr, nullptr);
  EXPECT_EQ(g->tb.builds, 2);
  EXPECT_GT(n2, 1000u);
  KRV_GlobalImage_GenerateTBTrian(g.get(), 2, 1, &n2, nullptr, nullptr);
  EXPECT_EQ(g->tb.builds, 3);
  // Another shape number writes nothing.
  n2 = 4242;
  KRV_GlobalImage_GenerateTBTrian(g.get(), 1, 3, &n2, v2.data(), t2.data());
  EXPECT_EQ(n2, 4242u);
  EXPECT_EQ(g->tb.builds, 3);
}

TEST_F(BowlTBTest, TexturesInsideTheCameraAndSurfacesAsShaped) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  const BowlCameras cams = Cameras(g.get());
  const float Wq = static_cast<float>(g->quadW) - 1, Hq = static_cast<float>(g->quadH) - 1;
  for (int32_t shape : {1, 2})
    for (int32_t cam : {1, 3}) {
      uint32_t n = 0;
      KRV_GlobalImage_GenerateTBTrian(g.get(), cam, shape, &n, nullptr, nullptr);
      std::vector<float> v(n * 9), t(n * 6);
      KRV_GlobalImage_GenerateTBTrian(g.get(), cam, shape, &n, v.data(), t.data());
      ASSERT_GT(n, 500u) << shape << " " << cam;
      int outside = 0, shapeOff = 0;
      const double A = 9400 + 900, B = (shape == 1 ? 3400 : 5200) + 2300;
      for (uint32_t k = 0; k < n * 3; ++k) {
        const float u = t[2 * k] * Wq - cams.ox[cam - 1], vv = t[2 * k + 1] * Hq - cams.oy[cam - 1];
        outside += !BowlCameras_Inside(&cams, u, vv);
        const double x = v[3 * k], y = v[3 * k + 1], z = v[3 * k + 2];
        const bool in = B * B * x * x + A * A * y * y < A * A * B * B * (1 - 1e-6);
        // Inside the rim the surface sinks below the ground, outside it rises.
        if ((in && z < -1.0) || (!in && z > 1.0)) ++shapeOff;
      }
      EXPECT_EQ(outside, 0) << shape << " " << cam;
      EXPECT_EQ(shapeOff, 0) << shape << " " << cam;
    }
}

// Rim point of the floor ellipse (semi-axes A across, B along) on the line
// from the far point (0, F) through (px, py), beyond (px, py).
void RimBeyond(double A, double B, double F, double px, double py, double* rx, double* ry) {
  const double ux = px, uy = py - F;  // O + t u, t = 1 at the point
  const double qa = B * B * ux * ux + A * A * uy * uy, qb = 2 * A * A * F * uy, qc = A * A * F * F - A * A * B * B;
  const double t = (-qb + std::sqrt(qb * qb - 4 * qa * qc)) / (2 * qa);
  *rx = t * ux;
  *ry = F + t * uy;
}

// Tracked ground points come back on their surface where camera 1 sees them:
// the lifted point shows at the ground point's pixel, and it meets the
// shape's surface: for TBA the trough (depth r (1 + 0.6 s^2), r the distance
// to the rim along the line from the far point, s = x / A), for TBB the cone
// (depth half the distance to the rim). A point left on the ground, lifted
// off the camera's ray or onto another surface fails.
TEST_F(BowlTBTest, TrackPointsLieOnTheSurfaceWhereTheCameraSeesThem) {
  GridPtr g = Grid();
  ASSERT_NE(g, nullptr);
  float ox[5] = {7, 7, 7, 7, 7}, oy[5] = {7, 7, 7, 7, 7}, oz[5] = {7, 7, 7, 7, 7};
  const float x[5] = {500, -800, 1500, -2000, 0}, y[5] = {-4000, -5000, -4500, -3000, -4800};
  EXPECT_EQ(KRV_GlobalImage_TrackPhyTransfer(g.get(), 1, 2, 0, 0, x, y, ox, oy, oz), 0);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(ox[i] == 7.0f && oy[i] == 7.0f && oz[i] == 7.0f) << "n = 0 wrote " << i;
  const BowlCameras cams = Cameras(g.get());
  const double W = g->carW, L = g->carL;
  struct Shape {
    int32_t shape;
    double A, B;
  };
  for (const Shape& sh : {Shape{1, 9400 + W / 2, 3400 + L / 2}, Shape{2, 9400 + W / 2, 5200 + L / 2}}) {
    SCOPED_TRACE(testing::Message() << "shape " << sh.shape);
    EXPECT_EQ(KRV_GlobalImage_TrackPhyTransfer(g.get(), 1, sh.shape, 5, 0, x, y, ox, oy, oz), 0);
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(testing::Message() << "point " << i);
      ASSERT_LT(x[i] * x[i] / (sh.A * sh.A) + y[i] * y[i] / (sh.B * sh.B), 1.0) << "inside the rim";
      float u0, v0, u1, v1;
      ASSERT_TRUE(BowlCameras_Project(&cams, 1, x[i], y[i], 0.0f, &u0, &v0));
      ASSERT_TRUE(BowlCameras_Project(&cams, 1, ox[i], oy[i], oz[i], &u1, &v1));
      EXPECT_NEAR(u1, u0, 0.02f);
      EXPECT_NEAR(v1, v0, 0.02f);
      double rx, ry;
      RimBeyond(sh.A, sh.B, 100000.0, ox[i], oy[i], &rx, &ry);
      const double r = std::hypot(ox[i] - rx, oy[i] - ry);
      const double s = ox[i] / sh.A;
      const double depth = sh.shape == 1 ? r * (1.0 + 0.6 * s * s) : r / 2;
      EXPECT_GT(oz[i], 100.0f) << "below the ground";
      EXPECT_NEAR(oz[i], depth, 1.0);
    }
  }
}

}  // namespace
