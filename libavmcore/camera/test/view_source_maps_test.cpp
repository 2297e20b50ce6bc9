#include "camera/view_source_maps.h"
#include "camera/grid_lut_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <vector>

#include "testsupport/view_test_fixture.h"
#include "camera/view_point_mapping.h"
#include "camera/view_virtual.h"
#include "frame/global_variables.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "toolkit/sampling.h"

namespace {

using namespace view_fixture;

class ViewMapsTest : public RigViewTest {
 protected:
  ViewMapsTest() : RigViewTest("maps_lut_config.krv") {}

  // Ground points of a camera's side of the car, mapped into the view with
  // map(); where the map has four usable neighbours its bilinear source must
  // match the camera's projection. Returns the largest error; *n the count.
  template <typename MapFn>
  float WorstAgreement(int camera, const Matrix& mx, const Matrix& my, MapFn map, int* n,
                       float minRow = 0.0f) {
    float worst = 0.0f;
    *n = 0;
    for (float a = -4000; a <= 4000; a += 250)
      for (float b = 500; b <= 6000; b += 250) {
        float p[3] = {a, b, 0.0f};
        if (camera == 1) p[1] = -2300 - b;
        if (camera == 2) p[1] = 2300 + b;
        if (camera == 3) {
          p[0] = -1000 - b;
          p[1] = a;
        }
        if (camera == 4) {
          p[0] = 1000 + b;
          p[1] = a;
        }
        float X, Y;
        if (map(p, &X, &Y) != 1) continue;
        if (Y < minRow || X > mx.cols - 2 || Y > mx.rows - 2) continue;
        const int c = static_cast<int>(X), r = static_cast<int>(Y);
        bool usable = true;
        for (int dr = 0; dr < 2; ++dr)
          for (int dc = 0; dc < 2; ++dc) {
            const long i = static_cast<long>(r + dr) * mx.cols + c + dc;
            usable = usable && mx.data[i] >= 1.0f && my.data[i] >= 1.0f;
          }
        if (!usable) continue;
        float u, v;
        if (!Project(view->params, camera, p, &u, &v)) continue;
        const float sx = Image_SampleBilinear(&mx, Y, X), sy = Image_SampleBilinear(&my, Y, X);
        worst = std::fmax(worst, std::hypot(sx - u, sy - v));
        ++*n;
      }
    return worst;
  }

  float UndistAgreement(int camera, int* n, float minRow = 0.0f) {
    Matrix mx{}, my{};
    const int kind = UndistView_BuildMaps(view, camera, &mx, &my);
    EXPECT_GE(kind, 1);
    UndistViewBlock* b = &view->undist[View_CameraSlot(camera)];
    const float w = WorstAgreement(
        camera, mx, my, [&](const float* p, float* X, float* Y) { return UndistView_Physical2Disp(b, p[0], p[1], p[2], 1, X, Y); },
        n, minRow);
    if (kind == 1) {
      delete[] mx.data;
      delete[] my.data;
    }
    return w;
  }
};

TEST_F(ViewMapsTest, UndistortedViewsAgreeWithTheLensModel) {
  struct Case {
    int camera, type, flip;
    float roll, minRowFrac, tolerance;
  } cases[] = {
      {1, 1, 0, 0.0f, 0.0f, 0.5f},   {2, 1, 1, 8.0f, 0.0f, 0.5f},
      {1, 3, 0, 0.0f, 0.46f, 0.5f},  // above 0.45 H the map bends rows on purpose
      {2, 3, 0, -5.0f, 0.46f, 0.5f},
      // Type 4 bends the angle by a factor that the map takes from the view
      // angle and the mapping from the camera angle: a few pixels apart.
      {1, 4, 0, 0.0f, 0.0f, 3.5f}, {2, 4, 1, 3.0f, 0.0f, 3.5f},
  };
  for (const Case& c : cases) {
    UndistView_SetParam(view, c.camera, 600, 400, c.type, c.flip, 90.0f, 1.3f, 3.0f, -4.0f, 1.0f,
                        c.roll, 0, 0, 0, 0, 0);
    int n = 0;
    const float worst = UndistAgreement(c.camera, &n, c.minRowFrac * 400.0f);
    EXPECT_GT(n, 40) << c.camera << "/" << c.type;
    EXPECT_LT(worst, c.tolerance) << c.camera << "/" << c.type << " over " << n;
  }
}

TEST_F(ViewMapsTest, CurvedPanoramaAgreesWithTheLensModel) {
  // The panorama maps points back through its coarse row map, whose row
  // correction assumes a fixed slope: it lands within a few pixels of the
  // map, not within the half pixel of the other view types.
  UndistView_SetParam(view, 1, 600, 400, 2, 0, 80.0f, 1.2f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  UndistViewBlock* b = &view->undist[0];
  std::vector<float> errs;
  for (float a = -4000; a <= 4000; a += 250)
    for (float d = 500; d <= 6000; d += 250) {
      const float p[3] = {a, -2300 - d, 0.0f};
      float X, Y, u, v;
      if (UndistView_Physical2Disp(b, p[0], p[1], p[2], 1, &X, &Y) != 1 || X > 598 || Y > 398) continue;
      if (!Project(view->params, 1, p, &u, &v)) continue;
      const float sx = Image_SampleBilinear(&b->mapX, Y, X), sy = Image_SampleBilinear(&b->mapY, Y, X);
      if (sx < 1.0f) continue;
      errs.push_back(std::hypot(sx - u, sy - v));
    }
  ASSERT_GT(errs.size(), 100u);
  std::sort(errs.begin(), errs.end());
  EXPECT_LT(errs[errs.size() / 2], 3.0f);
  EXPECT_LT(errs[errs.size() * 9 / 10], 4.0f);
}

TEST_F(ViewMapsTest, VirtualViewsAgreeWithTheLensModel) {
  // World points all around a side camera: where a point maps into the
  // virtual view, the view's source there is the camera's own projection of
  // the point (the plane point it shows lies on the camera's ray through it).
  struct Case {
    int camera, cutType;
  } cases[] = {{3, 16}, {4, 15}, {4, 12}};
  for (const Case& k : cases) {
    CutView_SetParam(view, k.camera, 400, 300, k.cutType, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
    Matrix mx{}, my{};
    ASSERT_EQ(CutView_BuildMaps(view, k.camera, &mx, &my), 1);
    CutViewBlock* c = &view->cut[View_CameraSlot(k.camera)];
    const float* T = view->params.T[k.camera - 1];
    float worst = 0.0f;
    int n = 0;
    for (float el = -1.5f; el <= 1.5f; el += 0.08f)
      for (float az = 0.0f; az < 6.28f; az += 0.08f) {
        const float p[3] = {-T[0] + 3000.0f * std::cos(el) * std::cos(az), -T[1] + 3000.0f * std::cos(el) * std::sin(az),
                            -T[2] + 3000.0f * std::sin(el)};
        float X, Y, u, v;
        if (CutView_Physical2Disp(&X, &Y, c, 1, p[0], p[1], p[2]) != 1) continue;
        if (X > mx.cols - 2 || Y > mx.rows - 2 || !Project(view->params, k.camera, p, &u, &v)) continue;
        const int ci = static_cast<int>(X), ri = static_cast<int>(Y);
        bool usable = true;
        for (int dr = 0; dr < 2; ++dr)
          for (int dc = 0; dc < 2; ++dc) usable = usable && mx.data[(ri + dr) * mx.cols + ci + dc] >= 1.0f;
        if (!usable) continue;
        worst = std::fmax(worst, std::hypot(Image_SampleBilinear(&mx, Y, X) - u, Image_SampleBilinear(&my, Y, X) - v));
        ++n;
      }
    EXPECT_GT(n, 20) << k.cutType;
    EXPECT_LT(worst, 0.5f) << k.cutType << " over " << n;
    delete[] mx.data;
    delete[] my.data;
  }
}

TEST_F(ViewMapsTest, CameraImageToPhysicalInvertsProjection) {
  for (int camera = 1; camera <= 4; ++camera) {
    const float pts[4][3] = {{800, -3500, 0}, {800, 3500, 0}, {-2500, 1200, 0}, {2500, 1200, 0}};
    const float* p = pts[camera - 1];
    float u, v;
    ASSERT_TRUE(Project(view->params, camera, p, &u, &v)) << camera;
    float gx = 0, gy = 0;
    ASSERT_EQ(UndistView_CameraImage2Physical(view, camera, u, v, &gx, &gy), 1) << camera;
    EXPECT_NEAR(gx, p[0], 2.0f);
    EXPECT_NEAR(gy, p[1], 2.0f);
  }
  // A pixel outside the lens field does not reach the ground: outputs
  // untouched.
  float gx = 123, gy = 456;
  EXPECT_EQ(UndistView_CameraImage2Physical(view, 1, 1, 1, &gx, &gy), 0);
  EXPECT_EQ(gx, 123);
}

TEST_F(ViewMapsTest, PointMappingEdges) {
  UndistViewBlock b{};
  b.viewType = 3;
  b.width = 10;
  b.height = 10;
  b.rotation[0] = b.rotation[4] = b.rotation[8] = 1.0f;
  b.translation[2] = 1.0f;
  b.invAngleDivisor = 1.0f;
  b.focal = 1.0f;
  b.heightWidthRatio = 1.0f;
  b.cosRoll = 1.0f;
  float X, Y;
  // The principal point at the last column is outside, at the last row inside.
  b.cx = 9.0f;
  b.cy = 5.0f;
  EXPECT_EQ(UndistView_Physical2Disp(&b, 0, 0, 0, 1, &X, &Y), 0);
  EXPECT_EQ(X, -2.0f);
  EXPECT_EQ(UndistView_Physical2Disp(&b, 0, 0, 0, 0, &X, &Y), 0);
  EXPECT_NEAR(X, 9.0f, 1e-3f);
  b.cx = 5.0f;
  b.cy = 9.0f;
  EXPECT_EQ(UndistView_Physical2Disp(&b, 0, 0, 0, 1, &X, &Y), 1);
  b.viewType = 7;
  X = 77;
  EXPECT_EQ(UndistView_Physical2Disp(&b, 0, 0, 0, 1, &X, &Y), 0);
  EXPECT_EQ(X, 77);
}

TEST_F(ViewMapsTest, LineWalkIsClippedAndCountsWithoutArrays) {
  UndistView_SetParam(view, 1, 600, 400, 3, 0, 100.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  std::vector<float> xs(1000), ys(1000);
  const int n = UndistView_Physical2DispLine(view, 1, 0, -1500, -3000, 1500, -3000, 1000, xs.data(), ys.data());
  EXPECT_GT(n, 100);
  for (int i = 0; i < n; ++i) {
    EXPECT_GE(xs[i], -0.5f);
    EXPECT_LT(xs[i], 599.5f);
  }
  EXPECT_EQ(UndistView_Physical2DispLine(view, 1, 0, -1500, -3000, 1500, -3000, 1000, nullptr, nullptr), n);
  EXPECT_EQ(UndistView_Physical2DispLine(view, 1, 0, -1500, -3000, 1500, -3000, 5, xs.data(), ys.data()), 5);
  EXPECT_EQ(UndistView_Physical2DispLine(view, 1, 0, 7, 7, 7, 7, 10, xs.data(), ys.data()), 0);
  // Far-away and overflowing ends walk the 200 m ground limit at most, as
  // long as a walk over exactly that range; unclamped they would walk
  // thousands of times as far. Timed against that walk on the same machine,
  // so the bound holds as well under emulation and the sanitizers.
  const auto seconds = [](auto&& walk) {
    const auto t0 = std::chrono::steady_clock::now();
    walk();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  const double limitWalk = seconds([&] {
    UndistView_Physical2DispLine(view, 1, 0, -200000, -3000, 200000, -3000, 1000, xs.data(), ys.data());
  });
  const double farWalks = seconds([&] {
    UndistView_Physical2DispLine(view, 1, 0, -1e30f, -3000, 1e30f, -3000, 1000, xs.data(), ys.data());
    UndistView_Physical2DispLine(view, 1, 0, -3e9f, -3000, 3e9f, -3001, 1000, nullptr, nullptr);
  });
  EXPECT_LT(farWalks, 8.0 * limitWalk + 0.5) << "the walk over the limit took " << limitWalk << " s";
  EXPECT_EQ(UndistView_Physical2DispLine(view, 1, 0, NAN, 0, 1, 1, 10, nullptr, nullptr), 0);
}

TEST_F(ViewMapsTest, LutIsDeterministicAndZeroOffImage) {
  UndistView_SetParam(view, 2, 320, 200, 1, 0, 100.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  std::vector<uint32_t> a(320 * 200, 7u), b(320 * 200, 9u);
  ASSERT_EQ(UndistView_GenerateLUT(view, 2, a.data()), 1);
  ASSERT_EQ(UndistView_GenerateLUT(view, 2, b.data()), 1);
  EXPECT_EQ(a, b);
  // Without hole fill the random generator is left alone.
  srand(4321);
  const int first = rand();
  srand(4321);
  ASSERT_EQ(UndistView_GenerateLUT(view, 2, a.data()), 1);
  EXPECT_EQ(rand(), first);
  Matrix mx{}, my{};
  ASSERT_EQ(UndistView_BuildMaps(view, 2, &mx, &my), 1);
  int zeros = 0, words = 0;
  for (int i = 0; i < 320 * 200; ++i) {
    if (mx.data[i] < 1.0f || my.data[i] < 1.0f) {
      EXPECT_EQ(a[i], 0u);
      ++zeros;
    } else {
      // Camera 2 lies in the right half of the quad frame.
      EXPECT_GE(a[i] & 0xFFu, 127u);
      ++words;
    }
  }
  EXPECT_GT(words, 1000);
  delete[] mx.data;
  delete[] my.data;
  // No builder: result 0, buffer untouched.
  UndistView_SetParam(view, 1, 32, 20, 9, 0, 100.0f, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  std::vector<uint32_t> keep(32 * 20, 5u);
  EXPECT_EQ(UndistView_GenerateLUT(view, 1, keep.data()), 0);
  EXPECT_EQ(WideView_GenerateLUT(view, 1, 32, 20, 3, keep.data(), 1, 0, 0, 0, 0, 1), 0);
  EXPECT_EQ(keep[0], 5u);
}

TEST_F(ViewMapsTest, EveryCutAndWideBuilderProducesSourcesInThePicture) {
  struct Case {
    int camera, cutType;
  } cases[] = {{3, 1}, {4, 2}, {3, 3}, {4, 4}, {3, 6}, {4, 5}, {3, 7}, {3, 11}, {4, 12}, {3, 14}, {4, 15}, {3, 16}, {4, 17}, {3, 18}, {3, 9}};
  for (const Case& c : cases) {
    CutView_SetParam(view, c.camera, 200, 120, c.cutType, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
    Matrix mx{}, my{};
    ASSERT_EQ(CutView_BuildMaps(view, c.camera, &mx, &my), 1);
    int inside = 0;
    for (int i = 0; i < 200 * 120; ++i) {
      const float x = mx.data[i], y = my.data[i];
      if (x >= 1.0f && y >= 1.0f) {
        ++inside;
        EXPECT_LE(x, kCamW - 1.0f);
        EXPECT_LE(y, kCamH - 1.0f);
      }
    }
    RecordProperty("cut" + std::to_string(c.cutType) + "_sources", inside);
    std::vector<uint32_t> lut(200 * 120);
    EXPECT_EQ(CutView_GenerateLUT(view, c.camera, lut.data()), 1);
    delete[] mx.data;
    delete[] my.data;
  }
  for (int mode : {1, 2}) {
    std::vector<uint32_t> lut(400 * 200, 1u);
    ASSERT_EQ(WideView_GenerateLUT(view, 1, 400, 200, mode, lut.data(), 1.0f, 0, 0, 0.0f, 10.0f, 1.0f), 1);
    int valid = 0;
    for (uint32_t w : lut) valid += w != 0;
    EXPECT_GT(valid, 1000) << mode;
  }
}

TEST_F(ViewMapsTest, SavedGridLutReadsBackAsTheMap) {
  UndistView_SetParam(view, 1, 600, 400, 3, 0, 100.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  const std::string grid = TempFile("undist_grid.krv");
  ASSERT_EQ(UndistView_SaveGridLUT(view, 1, grid.c_str()), 1);
  Matrix rx{}, ry{}, mx{}, my{};
  ASSERT_EQ(GridLUT_ReadFile(grid.c_str(), &rx, &ry), 1);
  ASSERT_EQ(UndistView_BuildMaps(view, 1, &mx, &my), 1);
  for (int r = 0; r < 400; r += 8)
    for (int c = 0; c < 600; c += 8) {
      const int i = r * 600 + c;
      if (mx.data[i] > 1.0f && my.data[i] > 1.0f) {
        EXPECT_NEAR(rx.data[i], mx.data[i], 0.07f);
      }
    }
  for (float* p : {rx.data, ry.data, mx.data, my.data}) delete[] p;
  unlink(grid.c_str());
}

TEST_F(ViewMapsTest, ZoomMappingIsTheCroppedTurnedPicture) {
  // No crop, no turn: the view is the camera picture scaled to the view.
  UndistView_SetZoominParam(view, 3, 640, 360, 0, 0.0f, 0, 0, 0, 0);
  const float p[3] = {-2500.0f, 400.0f, 0.0f};
  float u, v, X, Y;
  ASSERT_TRUE(Project(view->params, 3, p, &u, &v));
  ASSERT_EQ(UndistView_Physical2DispPoint(view, 3, 1, p[0], p[1], p[2], &X, &Y), 1);
  EXPECT_NEAR(X, u * 639.0f / 1279.0f, 1e-2f);
  EXPECT_NEAR(Y, v * 359.0f / 719.0f, 1e-2f);
  // Crop a quarter on each side and flip: the same point moves accordingly.
  UndistView_SetZoominParam(view, 3, 640, 360, 1, 0.0f, 0.25f, 0.25f, 0.25f, 0.25f);
  float X2, Y2;
  UndistView_Physical2DispPoint(view, 3, 1, p[0], p[1], p[2], &X2, &Y2);
  EXPECT_NEAR(X2, 639.0f * (1.0f - ((u / 1279.0f) * 2.0f - 0.5f)), 1e-2f);
  EXPECT_NEAR(Y2, 359.0f * ((v / 719.0f) * 2.0f - 0.5f), 1e-2f);
  // A zoom point beyond the view: the checked mapping writes (-2, -2), the
  // point call the values.
  const float far[3] = {-1100.0f, -3000.0f, 0.0f};
  float cx, cy;
  if (ZoomView_MapPoint(&cx, &cy, &view->zoom[2], 1, far[0], far[1], far[2]) == 0) {
    EXPECT_EQ(cx, -2.0f);
    UndistView_Physical2DispPoint(view, 3, 1, far[0], far[1], far[2], &cx, &cy);
    EXPECT_NE(cx, -2.0f);
  }
}

TEST_F(ViewMapsTest, TableCutViewsUseTheUserLensTable) {
  ScopedConfigState state;
  gv().CalibLayoutCode = 3;
  gv().CutIfFill = 0;
  EquidistantTable t;
  ASSERT_TRUE(LensTableFixture_Write(state.dir(), 5, t));
  ASSERT_EQ(rename((state.dir() + "/table5.krv").c_str(), (state.dir() + "/tableuser.krv").c_str()), 0);
  for (int type : {1, 2}) {
    CutView_SetParam(view, 3, 200, 120, type, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
    Matrix mx{}, my{};
    ASSERT_EQ(CutView_BuildMaps(view, 3, &mx, &my), 1);
    int inside = 0;
    for (int i = 0; i < 200 * 120; ++i) inside += mx.data[i] >= 1.0f && my.data[i] >= 1.0f;
    EXPECT_GT(inside, 100) << type;
    delete[] mx.data;
    delete[] my.data;
  }
  ASSERT_NE(gv().userTable1, nullptr);
}

TEST_F(ViewMapsTest, HoleFillLeavesFewerEmptyWords) {
  UndistView_SetParam(view, 1, 320, 200, 1, 0, 100.0f, 1.3f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  CutView_SetParam(view, 4, 320, 200, 4, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0, 0);
  auto zeros = [](const std::vector<uint32_t>& v) { return std::count(v.begin(), v.end(), 0u); };
  std::vector<uint32_t> plain(320 * 200), filled(320 * 200), cutPlain(320 * 200), cutFilled(320 * 200);
  ASSERT_EQ(UndistView_GenerateLUT(view, 1, plain.data()), 1);
  ASSERT_EQ(CutView_GenerateLUT(view, 4, cutPlain.data()), 1);
  gv().CutIfFill = 1;
  ASSERT_EQ(UndistView_GenerateLUT(view, 1, filled.data()), 1);
  ASSERT_EQ(CutView_GenerateLUT(view, 4, cutFilled.data()), 1);
  std::vector<uint32_t> wide(320 * 200);
  EXPECT_EQ(WideView_GenerateLUT(view, 2, 320, 200, 2, wide.data(), 1.0f, 0, 0, 0.0f, 10.0f, 1.0f), 1);
  gv().CutIfFill = 0;
  EXPECT_LE(zeros(filled), zeros(plain));
  EXPECT_LE(zeros(cutFilled), zeros(cutPlain));
}

}  // namespace
