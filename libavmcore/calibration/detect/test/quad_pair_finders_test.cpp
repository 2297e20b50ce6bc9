// The patch-pair finders of layouts 53 and 54 on rendered sites: 2 x 4
// patches laid at the layout's world points (computed from the written
// vehicle profile), seen by fisheye cameras at known poses; the finders
// must return every point within a pixel of its projection, in world-point
// order, and the solver must take them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "calibration/detect/quad_pair_finders.h"
#include "camera/camera_model.h"
#include "camera/lut_config_file.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/pose_scene.h"
#include "testsupport/scene_renderer.h"

namespace {

constexpr int kW = 1280, kH = 720, kRows = 64;

// A 2 x 4 patch: its three inner corners run from a to b (world mm) through
// the middle; squares of half the a-b distance.
struct Patch {
  float a[2], b[2];
};

SceneCamera Camera(float x, float y, float height, float atX, float atY) {
  SceneCamera cam = PoseScene_Camera(2, kW, kH);
  const float pos[3] = {x, y, -height}, at[3] = {atX, atY, 0.0f}, up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos, at, up);
  return cam;
}

// Shade of the site floor at (x, y): dark squares of the patches on a light
// mat, -1 (light) off the patches.
float Shade(const std::vector<Patch>& patches, float x, float y) {
  for (const Patch& p : patches) {
    const float mx = (p.a[0] + p.b[0]) / 2, my = (p.a[1] + p.b[1]) / 2;
    const float len = std::hypot(p.b[0] - p.a[0], p.b[1] - p.a[1]), s = len / 2;
    const float ux = (p.b[0] - p.a[0]) / len, uy = (p.b[1] - p.a[1]) / len;
    const float along = (x - mx) * ux + (y - my) * uy, across = -(x - mx) * uy + (y - my) * ux;
    if (std::fabs(along) >= 2 * s || std::fabs(across) >= s) continue;
    const int i = static_cast<int>(std::floor(along / s)), j = static_cast<int>(std::floor(across / s));
    return ((i + j) % 2 == 0) ? 30.0f : -1.0f;
  }
  return -1.0f;
}

std::vector<float> Render(const SceneCamera& cam, const std::vector<Patch>& patches) {
  TargetSpec t;
  t.kind = TargetKind::kCustom;
  t.margin = 0.0f;
  t.origin[0] = -6000;
  t.origin[1] = -7000;
  t.extentS = 12000;
  t.extentT = 14000;
  t.light = 215;
  t.shade = [patches](float s, float u) { return Shade(patches, s - 6000.0f, u - 7000.0f); };
  RenderOptions opt;
  opt.width = kW;
  opt.height = kH;
  opt.supersample = 3;
  opt.blurSigma = 0.6f;
  const std::vector<uint8_t> grey = Scene_RenderGrey(cam, t, opt);
  std::vector<float> img(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) img[i] = grey[i] / 255.0f;
  return img;
}

// (row, column) of a ground point.
void Project(const SceneCamera& c, const float* world, float* row, float* col) {
  float w[3] = {world[0], world[1], 0.0f}, px[2] = {-1, -1};
  float K[9], D[8], R[3], T[3];
  std::copy(c.K, c.K + 9, K);
  std::copy(c.D, c.D + 8, D);
  std::copy(c.r, c.r + 3, R);
  std::copy(c.T, c.T + 3, T);
  Matrix Wm{3, 1, w}, Pm{2, 1, px}, Km{3, 3, K}, Dm{1, 8, D}, Rm{1, 3, R}, Tm{1, 3, T};
  CameraModel_ProjectPoints(c.model, &Wm, &Rm, &Tm, &Km, &Dm, &Pm, nullptr, nullptr, nullptr, nullptr, nullptr,
                            c.slot);
  *col = px[0];
  *row = px[1];
}

class QuadPairFinderTest : public ::testing::Test {
 protected:
  ScopedConfigState state;
  LUTOB* lut = LUTOB_Create();
  std::vector<float> world[4], points[4], pixels[4];
  Matrix images[4];

  void SetUp() override {
    GlobalVariables& g = gv();
    g.maxPoints = kRows;
    for (float& l : g.presetLimit) l = 5.0f;
    CameraParamSet_SetHeaders(&lut->params, &lut->poses);
    memset(&lut->cfg, 0, sizeof lut->cfg);
    lut->cfg.carWidth = 1800;
    lut->cfg.carLength = 4600;
    for (int c = 0; c < 4; ++c) lut->cfg.model[c] = 2;
    lut->camW = kW;
    lut->camH = kH;
    for (int c = 0; c < 4; ++c) {
      world[c].assign(3 * kRows, 0.0f);
      points[c].assign(2 * kRows, -1.0f);
      pixels[c].assign(static_cast<size_t>(kW) * kH, 0.5f);
      images[c] = Matrix{kW, kH, pixels[c].data()};
      lut->cameraImages[c] = &images[c];
      lut->imagePoints[c] = points[c].data();
      lut->worldPoints[c] = world[c].data();
    }
  }
  void TearDown() override {
    for (int c = 0; c < 4; ++c) {
      lut->cameraImages[c] = nullptr;
      lut->imagePoints[c] = lut->worldPoints[c] = nullptr;
    }
    LUTOB_Destroy(lut);
  }
  // Writes the profile (one box a line, four lines a camera set) and
  // computes camera c's world points from it.
  void Layout(int32_t code, const std::string& file, const std::vector<std::vector<float>>& boxes) {
    std::string text;
    for (const auto& b : boxes) {
      for (size_t i = 0; i < b.size(); ++i) text += (i ? "," : "") + std::to_string(b[i]);
      text += "\n";
    }
    state.WriteFile(file, text);
    gv().CalibLayoutCode = code;
    for (int c = 1; c <= 4; ++c) {
      Matrix m{3, kRows, world[c - 1].data()};
      ComputeTargetWorldPoints(&lut->cfg, c, &m);
    }
  }
  const float* W(int camera, int k) const { return &world[camera - 1][3 * k]; }
  void Show(int camera, const SceneCamera& cam, const std::vector<Patch>& patches) {
    pixels[camera - 1] = Render(cam, patches);
    images[camera - 1].data = pixels[camera - 1].data();
  }
  void ExpectTruth(int camera, const SceneCamera& cam, int n) {
    for (int k = 0; k < n; ++k) {
      float row, col;
      Project(cam, W(camera, k), &row, &col);
      EXPECT_NEAR(points[camera - 1][2 * k], row, 1.0) << "point " << k;
      EXPECT_NEAR(points[camera - 1][2 * k + 1], col, 1.0) << "point " << k;
    }
  }
};

// Layout 54: the front and rear pairs, seen from the height of a coach's
// cameras (the patches stand steeper than they lie in the image, as the end
// point order expects); the rear camera's box reaches past the image on
// every side.
TEST_F(QuadPairFinderTest, LayoutFiftyFourPairsGiveTheWorldPointOrder) {
  const std::vector<float> wide = {-300, -200, 1600, 1000};
  Layout(54, "hulvex_cfg.txt",
         {{0, 200, 1280, 700}, {0, 150, 1280, 700}, {0, 150, 1280, 700}, {0, 200, 1280, 700}, {0, 150, 1280, 700},
          wide});
  gv().targetDimB = 1;
  struct Case {
    int camera;
    SceneCamera cam;
  };
  const Case cases[] = {
      {1, Camera(0, -2300, 2200, 0, -4700)},
      {2, Camera(0, 2300, 2300, 0, 4900)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    const std::vector<Patch> patches = {{{W(c.camera, 0)[0], W(c.camera, 0)[1]}, {W(c.camera, 1)[0], W(c.camera, 1)[1]}},
                                        {{W(c.camera, 2)[0], W(c.camera, 2)[1]}, {W(c.camera, 3)[0], W(c.camera, 3)[1]}}};
    Show(c.camera, c.cam, patches);
    lut->cornerCounts[c.camera - 1] = 0;
    ASSERT_EQ(6u, CalibFind_Layout54(lut, c.camera, &images[c.camera - 1], 0, 0, points[c.camera - 1].data()));
    EXPECT_EQ(6, lut->cornerCounts[c.camera - 1]);
    ExpectTruth(c.camera, c.cam, 6);
    EXPECT_LE(gv().lastCalibResult[c.camera - 1], 4.51f);

    // One patch hidden: nothing reaches the solver.
    Show(c.camera, c.cam, {patches[0]});
    EXPECT_EQ(0u, CalibFind_Layout54(lut, c.camera, &images[c.camera - 1], 0, 0, points[c.camera - 1].data()));
  }
}

// Which finder runs: the count written before the search tells (boxes off
// the image, so nothing is searched).
TEST_F(QuadPairFinderTest, LayoutFiftyFourChoosesPairsOrQuads) {
  Layout(54, "hulvex_cfg.txt", std::vector<std::vector<float>>(6, {2000, 0, 2064, 64}));
  struct Case {
    int32_t word34, word71;
    uint32_t camera;
    int32_t count;
  };
  const Case cases[] = {
      {1, 0, 1, 6},  {0, 0, 1, 12}, {2, 2, 1, 12}, {0, 0, 2, 6}, {1, 1, 2, 6},
      {0, 2, 3, 6},  {0, 2, 4, 6},  {0, 1, 3, 12}, {1, 0, 4, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.word34 << " " << c.word71 << " camera " << c.camera);
    gv().targetDimB = c.word34;
    gv().groupNumber = c.word71;
    for (int k = 0; k < 4; ++k) lut->cornerCounts[k] = -1;
    EXPECT_EQ(0u, CalibFind_Layout54(lut, c.camera, &images[c.camera - 1], 0, 0, points[c.camera - 1].data()));
    for (int k = 0; k < 4; ++k) EXPECT_EQ(k + 1 == static_cast<int>(c.camera) ? c.count : -1, lut->cornerCounts[k]);
  }
}

// Layout 53 gives camera 2 no points: its finders return at once and leave
// every camera's fields alone; side quads serve only the side cameras.
TEST_F(QuadPairFinderTest, LayoutFiftyThreeCameraTwoTouchesNothing) {
  Layout(53, "mbto_cfg.txt", std::vector<std::vector<float>>(5, {0, 0, 1280, 720}));
  for (int k = 0; k < 4; ++k) lut->cornerCounts[k] = -1;
  EXPECT_EQ(0u, CalibFind_Layout53Pairs(lut, 2, &images[1], 0, 0, points[1].data(), 0.7f));
  EXPECT_EQ(0u, CalibFind_Layout53SideQuads(lut, 2, &images[1], 0, 0, points[1].data(), 0.4f));
  EXPECT_EQ(0u, CalibFind_Layout53Pairs(lut, 5, &images[1], 0, 0, points[1].data(), 0.7f));
  EXPECT_EQ(0u, CalibFind_Layout54Pairs(nullptr, 1, &images[0], 0, 0, points[0].data()));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(-1, lut->cornerCounts[k]);
  for (float v : points[1]) ASSERT_EQ(-1.0f, v);
}

}  // namespace
