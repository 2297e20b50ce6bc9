#pragma once
// Sites of small chessboard patches for the layout finders' tests: 2 x 4
// patches laid at a layout's world points (computed from the vehicle
// profile the test writes), seen by fisheye cameras at known poses, and a
// LUT object that solves with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "camera/lut_config_file.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "testsupport/floor_render.h"
#include "testsupport/config_state.h"
#include "testsupport/pose_scene.h"
#include "testsupport/scene_renderer.h"

namespace patch_site {


constexpr int kW = 1280, kH = 720, kRows = 64;

// A 2 x 4 patch: its three inner corners run from a to b (world mm) through
// the middle; squares of half the a-b distance.
struct Patch {
  float a[2], b[2];
};

inline SceneCamera Camera(float x, float y, float height, float atX, float atY) {
  SceneCamera cam = PoseScene_Camera(2, kW, kH);
  const float pos[3] = {x, y, -height}, at[3] = {atX, atY, 0.0f}, up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos, at, up);
  return cam;
}

// Shade of the site floor at (x, y): dark squares of the patches on a light
// mat, -1 (light) off the patches.
inline float Shade(const std::vector<Patch>& patches, float x, float y) {
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

// The patches lie `raise` mm above the ground.
inline std::vector<float> Render(const SceneCamera& cam, const std::vector<Patch>& patches, float raise = 0.0f) {
  FloorRenderWindow w = FloorRenderWindow{-6000.0f, -7000.0f, 12000.0f, 14000.0f};
  w.z = -raise;
  return Floor_Render(cam, kW, kH, w, [patches](float x, float y) { return Shade(patches, x, y); });
}

// (row, column) of a ground point.
inline void Project(const SceneCamera& c, const float* world, float* row, float* col) {
  float w[3] = {world[0], world[1], world[2]}, px[2] = {-1, -1};
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

class PatchSiteTest : public ::testing::Test {
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
    Compute(code, file, text);
  }
  // Writes the profile text and computes every camera's world points.
  void Compute(int32_t code, const std::string& file, const std::string& text) {
    state.WriteFile(file, text);
    CalibProfile() = CalibProfileRecord{};  // a loaded profile is not read again
    gv().CalibLayoutCode = code;
    for (int c = 1; c <= 4; ++c) {
      Matrix m{3, kRows, world[c - 1].data()};
      ComputeTargetWorldPoints(&lut->cfg, c, &m);
    }
  }
  const float* W(int camera, int k) const { return &world[camera - 1][3 * k]; }
  void Show(int camera, const SceneCamera& cam, const std::vector<Patch>& patches, float raise = 0.0f) {
    pixels[camera - 1] = Render(cam, patches, raise);
    images[camera - 1].data = pixels[camera - 1].data();
  }
  // Patches whose end corners are world points (2k, 2k + 1) of the camera.
  std::vector<Patch> EndPairPatches(int camera, int count) const {
    std::vector<Patch> p;
    for (int k = 0; k < count; ++k)
      p.push_back({{W(camera, 2 * k)[0], W(camera, 2 * k)[1]}, {W(camera, 2 * k + 1)[0], W(camera, 2 * k + 1)[1]}});
    return p;
  }
  // Layout 53, camera 1: two standing strips of three corners ahead of the
  // vehicle (world points 0..2 and 3..5), the whole picture as every box.
  SceneCamera Layout53FrontSite() {
    Layout(53, "mbto_cfg.txt", std::vector<std::vector<float>>(5, {0, 0, 1280, 720}));
    const SceneCamera cam = Camera(0, -2300, 2200, 0, -4900);
    const std::vector<Patch> strips = {{{W(1, 0)[0], W(1, 0)[1]}, {W(1, 2)[0], W(1, 2)[1]}},
                                       {{W(1, 3)[0], W(1, 3)[1]}, {W(1, 5)[0], W(1, 5)[1]}}};
    // Several tests look at this site: it is rendered once while the
    // strips stay where they are.
    static std::vector<float> where, picture;
    std::vector<float> here;
    for (const Patch& p : strips) here.insert(here.end(), {p.a[0], p.a[1], p.b[0], p.b[1]});
    if (here != where || picture.empty()) {
      picture = Render(cam, strips);
      where = here;
    }
    pixels[0] = picture;
    images[0].data = pixels[0].data();
    return cam;
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

}  // namespace patch_site
