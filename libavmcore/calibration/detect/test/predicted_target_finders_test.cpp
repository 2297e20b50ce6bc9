// The main-board-and-satellite layout finders on a rendered site: the main
// board in front of (or beside) the vehicle and two small boards further
// out, seen by the site's fisheye camera at its true pose. The finder must
// give every point back in world-point order, solving the pose from the main
// board to find the satellites.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/predicted_target_finders.h"
#include "calibration/detect/template_corners.h"
#include "camera/lut_config_file.h"
#include "detect_scene_helpers.h"
#include "frame/global_variables.h"
#include "surround/lutob.h"
#include "testsupport/calibration_site.h"
#include "testsupport/mark_scenes.h"
#include "testsupport/test_lutob.h"

namespace {

constexpr int kMaxPoints = 59;

struct SiteBoard {
  float x0, y0;  // top-left corner on the floor (smallest x and y)
  int sx, sy;    // squares
  float side;
};

// One camera's site: the main board and the satellites in world-point order,
// each satellite's corners row by row along the floor's y then x, as a top
// view of the floor gives them.
struct LayoutCase {
  const char* name;
  uint32_t (*finder)(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*);
  int camera;
  SiteBoard satellites[2];
  // Layout 6 finds its satellites with the template detector alone, whose
  // corners are whole pixels of the 16 mm top view: up to 8 mm of rounding
  // along each floor axis, 11 mm in all, about 1.7 px in the picture at
  // their distance (measured 1.3).
  double tolerance = 1.0;
};

class PredictedTargets : public ::testing::Test {
 protected:
  void SetUp() override {
    gv().CalibLayoutCode = 15;
    for (float& l : gv().presetLimit) l = 5.0f;
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    points_.assign(2 * kMaxPoints, -1.0f);
    world_.assign(3 * kMaxPoints, 0.0f);
  }

  // Renders the site of the case (without the listed pieces: bit 0 the main
  // board, bit 1 the first satellite, bit 2 the second) and fills the
  // camera's world points and the truth in the same order.
  void Build(const LayoutCase& lc, int hidden) {
    const CalibrationSite site = CalibrationSite_Compact(2);
    MarkScene scene;
    scene.cam = CalibrationSite_Camera(site, lc.camera);
    scene.width = 1280;
    scene.height = 720;
    const float s[3] = {1, 0, 0}, t[3] = {0, 1, 0};
    memcpy(scene.axisS, s, sizeof s);
    memcpy(scene.axisT, t, sizeof t);
    scene.ground = 200;
    const TargetSpec mb = CalibrationSite_Board(site, lc.camera);
    cols_ = mb.squaresX;
    rows_ = mb.squaresY;
    std::vector<float> mainSt = MarkScene_AddChessboard(&scene, mb.origin[0], mb.origin[1], cols_, rows_,
                                                        mb.squareSize, 30);
    // The main board's world points in the order the board detector reports
    // its corners (the layouts list them so).
    std::vector<float> mainImg;
    ASSERT_TRUE(MarkScene_ProjectAll(scene, mainSt, &mainImg));
    std::vector<float> ordered = mainImg;
    if (!(hidden & 1)) {
      FloatImage plain;
      MarkScene_Render(scene, RenderOptions(), &plain);
      ASSERT_TRUE(Chessboard_FindCorners(&plain.m, cols_, rows_, ordered.data(), 1) != 0 ||
                  FindChessboardByTemplates(&plain.m, cols_, rows_, ordered.data(), 1, 0, 0, 0) != 0);
    }
    if (hidden & 1) scene.shapes.clear();
    truth_.clear();
    std::vector<float> worldSt;
    for (size_t i = 0; i < ordered.size() / 2; ++i) {
      size_t best = 0;
      double bd = 1e30;
      for (size_t k = 0; k < mainImg.size() / 2; ++k) {
        const double d = std::hypot(ordered[2 * i] - mainImg[2 * k], ordered[2 * i + 1] - mainImg[2 * k + 1]);
        if (d < bd) bd = d, best = k;
      }
      worldSt.push_back(mainSt[2 * best]);
      worldSt.push_back(mainSt[2 * best + 1]);
    }
    for (int k = 0; k < 2; ++k) {
      const SiteBoard& b = lc.satellites[k];
      MarkScene probe = scene;
      const std::vector<float> st = MarkScene_AddChessboard(&probe, b.x0, b.y0, b.sx, b.sy, b.side, 30);
      if (!(hidden & (2 << k))) scene = probe;
      worldSt.insert(worldSt.end(), st.begin(), st.end());
    }
    ASSERT_TRUE(MarkScene_ProjectAll(scene, worldSt, &truth_));
    ASSERT_LE(worldSt.size() / 2, static_cast<size_t>(kMaxPoints));
    for (size_t i = 0; i < worldSt.size() / 2; ++i) {
      world_[3 * i] = worldSt[2 * i];
      world_[3 * i + 1] = worldSt[2 * i + 1];
    }
    RenderOptions o;
    o.blurSigma = 0.6f;
    o.noiseSigma = 1.5f;
    MarkScene_Render(scene, o, &img_);
    const int c = lc.camera - 1;
    lut_->cameraImages[c] = &img_.m;
    lut_->imagePoints[c] = points_.data();
    lut_->worldPoints[c] = world_.data();
  }

  LensModelScenes scenes_;
  TestLutob lut_;
  FloatImage img_;
  std::vector<float> points_, world_, truth_;
  int cols_ = 0, rows_ = 0;
};

// The satellites where the layouts put them about the vehicle centre:
// layout 15 boards of 3 x 3 squares of 400 mm beyond the corners of the
// site, layout 3 boards of 4 x 4 squares of 200 mm, inside the windows their
// first world points open and clear of the main board.
std::vector<LayoutCase> Cases() {
  return {
      {"layout15_front", CalibFind_Layout15, 1, {{-2700, -4200, 3, 3, 400}, {1500, -4200, 3, 3, 400}}},
      {"layout15_right", CalibFind_Layout15, 4, {{1500, -4200, 3, 3, 400}, {1500, 3000, 3, 3, 400}}},
      {"layout3_front", CalibFind_Layout3, 1, {{-2300, -3000, 4, 4, 200}, {1500, -3000, 4, 4, 200}}},
      {"layout6_front", CalibFind_Layout6, 1, {{-2900, -4000, 4, 5, 400}, {1300, -4000, 4, 5, 400}}, 1.7},
  };
}

TEST_F(PredictedTargets, MainBoardAndSatellitesComeBackInWorldPointOrder) {
  for (const LayoutCase& lc : Cases()) {
    SCOPED_TRACE(lc.name);
    Build(lc, 0);
    const uint32_t got = lc.finder(lut_, static_cast<uint32_t>(lc.camera), &img_.m, cols_, rows_, points_.data());
    ASSERT_EQ(got, truth_.size() / 2);
    const PointErrors e = ErrorsInOrder(points_, truth_);
    EXPECT_LT(e.max, lc.tolerance) << "mean " << e.mean;
    TearDown();
    SetUp();
  }
}

// A hidden main board, or a hidden satellite of either kind (inline board,
// pattern), gives 0 after both passes.
TEST_F(PredictedTargets, AHiddenPieceGivesZero) {
  const std::vector<LayoutCase> cases = Cases();
  struct Hidden {
    size_t layout;
    int pieces;
  };
  for (const Hidden& h : {Hidden{0, 1}, Hidden{0, 4}, Hidden{2, 2}}) {
    const LayoutCase& lc = cases[h.layout];
    SCOPED_TRACE(std::string(lc.name) + " hidden " + std::to_string(h.pieces));
    Build(lc, h.pieces);
    EXPECT_EQ(lc.finder(lut_, static_cast<uint32_t>(lc.camera), &img_.m, cols_, rows_, points_.data()), 0u);
    TearDown();
    SetUp();
  }
}

// Layout 6 keeps its main board when a satellite is missing (both passes
// find the inline board but not the pattern): n points, in the board's
// order.
TEST_F(PredictedTargets, LayoutSixKeepsTheMainBoardWithoutASatellite) {
  const LayoutCase lc = Cases()[3];
  for (int hidden : {4}) {
    SCOPED_TRACE(hidden);
    Build(lc, hidden);
    const uint32_t n = static_cast<uint32_t>((cols_ - 1) * (rows_ - 1));
    ASSERT_EQ(lc.finder(lut_, 1, &img_.m, cols_, rows_, points_.data()), n);
    std::vector<float> got(points_.begin(), points_.begin() + 2 * n), want(truth_.begin(), truth_.begin() + 2 * n);
    EXPECT_LT(ErrorsInOrder(got, want).max, 1.0);
    TearDown();
    SetUp();
  }
}

}  // namespace
