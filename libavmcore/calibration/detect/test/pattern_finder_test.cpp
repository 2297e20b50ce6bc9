#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/template_corners.h"
#include "mark_test_helpers.h"
#include "surround/lutob.h"

namespace {

constexpr int kW = 960, kH = 540;

// A LUT object whose camera `index` is the scene's camera.
struct SceneLut {
  LUTOB* lut;
  SceneLut(const MarkScene& scene, int index) {
    lut = LUTOB_Create();
    CameraParamSet_SetHeaders(&lut->params, &lut->poses);
    lut->camW = scene.width;
    lut->camH = scene.height;
    lut->cfg.model[index] = static_cast<uint32_t>(scene.cam.model);
    lut->cfg.lensSlot[index] = scene.cam.slot;
    memcpy(lut->params.K[index], scene.cam.K, sizeof scene.cam.K);
    memcpy(lut->params.D[index], scene.cam.D, sizeof scene.cam.D);
    memcpy(lut->params.R[index], scene.cam.r, sizeof scene.cam.r);
    memcpy(lut->params.T[index], scene.cam.T, sizeof scene.cam.T);
  }
  ~SceneLut() { LUTOB_Destroy(lut); }
  SceneLut(const SceneLut&) = delete;
  SceneLut& operator=(const SceneLut&) = delete;
};

// One pattern type: what to draw at the ground point (0, 0) (returning the
// truth points as (s, t) pairs in the order the type gives them, when it
// fixes one), the window (world, centred on the pattern) and the size.
struct PatternCase {
  int type;
  std::function<std::vector<float>(MarkScene*)> draw;
  float windowW, windowH, size;
  // How the truth's order is checked: as drawn; a board's inner corners row
  // by row over the top view (rows along the world y, from the corner
  // nearest the view origin; a square grid may come column by column); the
  // corner-with-two-squares order (corner, then each square's three corners
  // with its far corner in the middle, the square whose far corner lies
  // left of or above the corner's diagonal first).
  enum Order { kAsDrawn, kGrid, kCornerQuads } order;
  int variant = 0;
  uint8_t ground = 200;
  // Largest point error allowed, camera pixels. The top view of scale s
  // shows s mm a pixel, about 2 to 4 camera pixels here (8 and 16 mm against
  // about 3.7 mm a camera pixel 1 m from a 960-pixel fisheye): detectors
  // with a sub-pixel step (the quad chessboard, the round mark's contour
  // mean) stay within 0.35 px, which also shows the view's map and the
  // mapping back carry no offset (half a view pixel would be a camera pixel
  // and more). Those that report whole view pixels (square outlines,
  // template corners, skeleton junctions) are off by up to sqrt(2) view
  // pixels at a corner, 3.1 camera pixels at scale 8 (type 1 measured up to
  // 2.85), and are held to their measured error plus a margin.
  double limit = 1.0;
};

std::vector<float> Checker(MarkScene* s, float cs, float ct, float side) {
  MarkScene_AddChecker(s, cs, ct, side, false, 30);
  return {cs, ct};
}

std::vector<PatternCase> Cases() {
  std::vector<PatternCase> c;
  // Type 1: a dark square, corners from the one nearest the window origin
  // (the smallest world x and y: s left, t down means the lower-left one).
  c.push_back({1, [](MarkScene* s) {
                 const std::vector<float> g = MarkScene_AddSquare(s, 0, 0, 300, 0, 30);
                 // Grid order TL, TR, BL, BR in (s, t) -> view order by world (x, y).
                 return std::vector<float>{g[4], g[5], g[6], g[7], g[0], g[1], g[2], g[3]};
               },
               800, 800, 300, PatternCase::kAsDrawn, 0, 200, 3.5});
  c.push_back({15, [](MarkScene* s) {
                 const std::vector<float> g = MarkScene_AddSquare(s, 0, 0, 300, 0, 220);
                 return std::vector<float>{g[4], g[5], g[6], g[7], g[0], g[1], g[2], g[3]};
               },
               800, 800, 300, PatternCase::kAsDrawn, 0, 40, 3.5});
  c.push_back({16, [](MarkScene* s) {
                 MarkShape m;
                 m.st = {-100, -160, 100, -160, 100, 160, -100, 160};
                 m.level = 30;
                 s->shapes.push_back(m);
                 return std::vector<float>{-100, 160, 100, 160, -100, -160, 100, -160};
               },
               800, 800, 350, PatternCase::kAsDrawn, 0, 200, 2.0});
  struct Board {
    int type, sx, sy;
    float side;
    double limit;
  };
  // Types 3, 4, 5 and 17 try the quad chessboard first; the others, and 17
  // at its first scale 16, the template detector only.
  for (const Board& b : {Board{2, 4, 5, 120, 3.0}, Board{3, 4, 4, 90, 1.0}, Board{4, 3, 3, 100, 1.0},
                         Board{5, 2, 4, 100, 1.0}, Board{12, 3, 4, 90, 2.5}, Board{17, 4, 2, 120, 3.0},
                         Board{18, 5, 5, 110, 3.0}, Board{19, 4, 3, 120, 3.0}, Board{20, 4, 7, 110, 3.0},
                         Board{10, 4, 13, 60, 2.5}, Board{11, 4, 12, 60, 2.5}}) {
    c.push_back({b.type,
                 [b](MarkScene* s) {
                   return MarkScene_AddChessboard(s, -0.5f * b.sx * b.side, -0.5f * b.sy * b.side, b.sx, b.sy, b.side,
                                                  30);
                 },
                 b.sx * b.side + 400, b.sy * b.side + 400, 0, PatternCase::kGrid, 0, 200, b.limit});
  }
  c.push_back({6, [](MarkScene* s) {
                 Checker(s, 0, 0, 250);
                 // The corner, then each square's corners: next to the corner,
                 // far, next to the corner.
                 return std::vector<float>{0, 0, -250, 0, -250, -250, 0, -250, 250, 0, 250, 250, 0, 250};
               },
               1000, 1000, 250, PatternCase::kCornerQuads, 0, 200, 3.0});
  // Type 7: two crosses 512 mm apart along the view's rows (world y).
  c.push_back({7, [](MarkScene* s) {
                 Checker(s, 0, 256, 120);
                 Checker(s, 0, -256, 120);
                 return std::vector<float>{0, 256, 0, -256};
               },
               800, 1000, 0, PatternCase::kAsDrawn, 0, 200, 2.0});
  c.push_back({8, [](MarkScene* s) { return Checker(s, 0, 0, 150); }, 800, 800, 0, PatternCase::kAsDrawn, 0, 200, 2.0});
  c.push_back({9, [](MarkScene* s) {
                 MarkScene_AddDisc(s, 0, 0, 75, 30);
                 return std::vector<float>{0, 0};
               },
               800, 800, 150, PatternCase::kAsDrawn, 0, 200, 1.0});
  c.push_back({13, [](MarkScene* s) {
                 MarkScene_AddStripe(s, -300, 0, 300, 0, 30, 230);
                 MarkScene_AddStripe(s, 0, -300, 0, 300, 30, 230);
                 return std::vector<float>{0, 0};
               },
               1000, 1000, 0, PatternCase::kAsDrawn, 0, 90, 2.5});
  // Type 14: a light square of 5/13 of the window's width in its lower part
  // (larger world y: smaller t); its two corners there, left first.
  c.push_back({14, [](MarkScene* s) {
                 const float side = 800.0f * 5.0f / 13.0f;
                 MarkScene_AddSquare(s, 0, -120, side, 0, 220);
                 const float h = side / 2;
                 return std::vector<float>{-h, -120 - h, h, -120 - h};
               },
               800, 800, 0, PatternCase::kAsDrawn, 0, 60, 2.5});
  return c;
}

class PatternFinder : public ::testing::Test {
 protected:
  LensModelScenes scenes_;
};

struct Outcome {
  int32_t result;
  double maxErr;
};

Outcome RunCase(const PatternCase& pc, int model, uint32_t seed, int level = 0) {
  BoardSceneSpec v;
  v.model = model;
  v.width = kW;
  v.height = kH;
  v.tiltDeg = 30.0f;
  MarkScene scene = MarkScene_Make(v, pc.ground);
  const std::vector<float> st = pc.draw(&scene);
  std::vector<float> truth;
  EXPECT_TRUE(MarkScene_ProjectAll(scene, st, &truth));
  FloatImage img;
  RenderOptions o;
  o.blurSigma = 0.7f;
  o.noiseSigma = 2.0f;
  o.seed = seed;
  MarkScene_Render(scene, o, &img);
  SceneLut sl(scene, 1);
  // The window's centre off the pattern's by a fraction of a view pixel and
  // more: nothing lands on whole view pixels by chance.
  float cx = 0, cy = 0;
  MarkScene_World(scene, 37.3f, -23.9f, &cx, &cy);
  const int n = CalibPattern_PointCount(pc.type);
  std::vector<float> pts(2 * n + 2, -7.0f);
  Outcome out{CalibFindPattern(sl.lut, 1, &img.m, pc.type, level, pc.variant, pts.data(), pc.size,
                               cx - pc.windowW / 2, cy - pc.windowH / 2, pc.windowW, pc.windowH, 0.0f),
              0.0};
  EXPECT_EQ(-7.0f, pts[2 * n]) << "wrote past the type's points";
  if (out.result == 0) return out;
  EXPECT_EQ(truth.size(), static_cast<size_t>(2 * n));
  // World position of every truth point: the view's rows follow y and its
  // columns x, both growing away from the window's first corner.
  std::vector<float> wx(n), wy(n);
  for (int i = 0; i < n; ++i) MarkScene_World(scene, st[2 * i], st[2 * i + 1], &wx[i], &wy[i]);
  auto errorIn = [&](const std::vector<int>& order) {
    double e = 0.0;
    for (int i = 0; i < n; ++i) {
      const int k = order[i];
      e = std::max(e, static_cast<double>(std::hypot(pts[2 * i] - truth[2 * k], pts[2 * i + 1] - truth[2 * k + 1])));
    }
    return e;
  };
  std::vector<int> order(n);
  for (int i = 0; i < n; ++i) order[i] = i;
  if (pc.order == PatternCase::kAsDrawn) {
    out.maxErr = errorIn(order);
  } else if (pc.order == PatternCase::kGrid) {
    auto byRows = [&](int a, int b) { return std::fabs(wy[a] - wy[b]) > 1.0f ? wy[a] < wy[b] : wx[a] < wx[b]; };
    auto byColumns = [&](int a, int b) { return std::fabs(wx[a] - wx[b]) > 1.0f ? wx[a] < wx[b] : wy[a] < wy[b]; };
    std::vector<int> rows = order, columns = order;
    std::sort(rows.begin(), rows.end(), byRows);
    std::sort(columns.begin(), columns.end(), byColumns);
    int perRow = 1;
    while (perRow < n && std::fabs(wy[rows[perRow]] - wy[rows[0]]) <= 1.0f) ++perRow;
    out.maxErr = errorIn(rows);
    if (perRow * perRow == n) out.maxErr = std::min(out.maxErr, errorIn(columns));
  } else {
    // Points 1..3 and 4..6 are drawn as near, far, near; the far corner's
    // side of the diagonal through the corner decides which square is first.
    const bool firstIsFirst = (wx[2] - wx[0]) - (wy[2] - wy[0]) <= 0.0f;
    const int a = firstIsFirst ? 1 : 4, b = firstIsFirst ? 4 : 1;
    const std::vector<int> e1{0, a, a + 1, a + 2, b, b + 1, b + 2};
    const std::vector<int> e2{0, a + 2, a + 1, a, b + 2, b + 1, b};
    // The two squares lie point-symmetric about the corner and are walked
    // the same way round; which way follows the corner's grey diagonal.
    out.maxErr = std::min(errorIn(e1), errorIn(e2));
  }
  return out;
}

// The bare mat seen at a tilt of 30 degrees, and its picture with noise of
// 2 grey levels.
MarkScene BareFloorScene() {
  BoardSceneSpec v;
  v.width = kW;
  v.height = kH;
  v.tiltDeg = 30.0f;
  return MarkScene_Make(v);
}
FloatImage BareFloorPicture(const MarkScene& scene) {
  FloatImage img;
  RenderOptions o;
  o.noiseSigma = 2.0f;
  MarkScene_Render(scene, o, &img);
  return img;
}

}  // namespace

TEST_F(PatternFinder, EveryPatternTypeComesBackInCameraPixels) {
  const std::vector<PatternCase> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const PatternCase& pc = cases[i];
    SCOPED_TRACE("type " + std::to_string(pc.type));
    const Outcome o = RunCase(pc, 2, static_cast<uint32_t>(i + 1));
    EXPECT_NE(0, o.result);
    std::printf("[errors] CalibFindPattern type %d model 2: max %.3f px\n", pc.type, o.maxErr);
    EXPECT_LT(o.maxErr, pc.limit);
  }
}

TEST_F(PatternFinder, SquaresCrossesAndDiscsThroughLensModels1To4) {
  const std::vector<PatternCase> cases = Cases();
  for (int model = 1; model <= 4; ++model)
    for (const PatternCase& pc : cases) {
      if (pc.type != 1 && pc.type != 3 && pc.type != 6 && pc.type != 9) continue;
      SCOPED_TRACE("type " + std::to_string(pc.type) + " model " + std::to_string(model));
      const Outcome o = RunCase(pc, model, static_cast<uint32_t>(model));
      EXPECT_NE(0, o.result);
      std::printf("[errors] CalibFindPattern type %d model %d: max %.3f px\n", pc.type, model, o.maxErr);
      EXPECT_LT(o.maxErr, pc.limit);
    }
}

TEST(PatternFinderRules, ScaleSchedules) {
  struct Case {
    int type, camera, height, level;
    std::vector<float> tried;
  };
  const Case cases[] = {
      {2, 0, 720, 2, {16}},          // level 2: scale 16 whatever the type
      {13, 0, 720, 2, {16}},
      {13, 0, 720, 0, {24}},         // type 13 starts at index 2
      {2, 0, 720, 0, {16, 24}},      // type 2 starts at index 1
      {1, 0, 720, 0, {8, 16, 24}},
      {1, 0, 720, 4, {38}},
      {1, 2, 576, 0, {24, 16, 8}},   // cameras 3 and 4 of small images
      {1, 3, 576, 4, {4}},
      {1, 1, 576, 0, {8, 16, 24}},
      {1, 2, 720, 0, {8, 16, 24}},
      {15, 2, 576, 0, {8, 16, 24}},  // only type 1 reverses
      {6, 0, 720, 0, {4, 6, 8}},
      {7, 0, 720, 5, {8, 16, 24}},   // levels outside 1..4: the default range
      {18, 0, 720, -1, {16, 24}},
  };
  for (const Case& c : cases) {
    float scales[4];
    int32_t first = -1, last = -1;
    CalibPattern_Scales(c.type, c.camera, c.height, c.level, scales, &first, &last);
    std::vector<float> tried;
    for (int32_t i = first; i <= last; ++i) tried.push_back(scales[i]);
    EXPECT_EQ(c.tried, tried) << "type " << c.type << " camera " << c.camera << " level " << c.level;
  }
  const int counts[21] = {0, 4, 12, 9, 4, 3, 7, 2, 1, 1, 36, 33, 6, 1, 2, 4, 4, 3, 16, 6, 18};
  for (int t = 0; t <= 20; ++t) EXPECT_EQ(counts[t], CalibPattern_PointCount(t)) << t;
  EXPECT_EQ(0, CalibPattern_PointCount(21));
  EXPECT_EQ(0, CalibPattern_PointCount(-3));
}

TEST(PatternFinderRules, SquareScoresAndOrder) {
  // A dark 40 x 40 square on a light ground with fixed grain.
  std::vector<float> img(120 * 100, 0.8f);
  uint32_t st = 99;
  for (float& v : img) {
    st = st * 1664525u + 1013904223u;
    v += (static_cast<float>(st >> 8) / 16777216.0f - 0.5f) * 0.02f;
  }
  for (int r = 30; r < 70; ++r)
    for (int c = 40; c < 80; ++c) img[r * 120 + c] = 0.1f;
  const Matrix m{120, 100, img.data()};
  float pts[8];
  ASSERT_EQ(1, Square_Find(&m, 0, pts, 39, 39, 0.02f));
  // Top-left, top-right, bottom-left, bottom-right.
  const float want[8] = {30, 40, 30, 79, 69, 40, 69, 79};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(want[i], pts[i], 1.0f) << i;
  ASSERT_EQ(1, Square_Find(&m, 1, pts, 39, 39, 0.02f));
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(want[i], pts[i], 1.0f) << i;
  // An expected side below half the found one scores below 0.5: no
  // candidate; just above half it is one.
  EXPECT_EQ(0, Square_Find(&m, 0, pts, 19.0f, 19.0f, 0.02f));
  EXPECT_EQ(1, Square_Find(&m, 0, pts, 21.0f, 21.0f, 0.02f));
  EXPECT_EQ(0, Square_FindMultiThreshold(&m, 0, pts, 300, 300));
  EXPECT_EQ(1, Square_FindMultiThreshold(&m, 0, pts, 39, 39));
}

TEST_F(PatternFinder, NothingFoundWritesNothingAndBadWindowsAreSafe) {
  const MarkScene scene = BareFloorScene();
  FloatImage img = BareFloorPicture(scene);
  SceneLut sl(scene, 1);
  std::vector<float> pts(80, -7.0f);
  for (int type : {1, 2, 3, 6, 7, 8, 9, 13, 14, 15, 16, 18})
    EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, type, 0, 0, pts.data(), 200, -400, -400, 800, 800, 0)) << type;
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, 21, 0, 0, pts.data(), 200, -400, -400, 800, 800, 0));
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, 0, 0, 0, pts.data(), 200, -400, -400, 800, 800, 0));
  // Windows far off the camera's view, empty, or not numbers.
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, 1, 0, 0, pts.data(), 200, 1e6f, 1e6f, 800, 800, 0));
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, 1, 0, 0, pts.data(), 200, 0, 0, 0, 800, 0));
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, 1, 0, 0, pts.data(), 200, NAN, 0, 800, 800, 0));
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, 1, 0, 0, pts.data(), 200, 0, 0, 1e12f, 1e12f, 0));
  EXPECT_EQ(0, CalibFindPattern(sl.lut, 4, &img.m, 1, 0, 0, pts.data(), 200, -400, -400, 800, 800, 0));
  EXPECT_EQ(0, CalibFindPattern(nullptr, 1, &img.m, 1, 0, 0, pts.data(), 200, -400, -400, 800, 800, 0));
  for (float p : pts) EXPECT_EQ(-7.0f, p);
}

// The object says 960 x 540; the image handed in is the picture's top
// half, lying at the front of the whole picture's buffer, with the square
// in the bottom half right behind it. A finder that took the object's size
// for the image's would read the square there and find it (and an
// AddressSanitizer build would also flag the read when the half is a
// buffer of its own).
TEST_F(PatternFinder, AnImageSmallerThanTheCameraSizeIsNeverReadPastItsEnd) {
  BoardSceneSpec v;
  v.width = kW;
  v.height = kH;
  v.tiltDeg = 30.0f;
  MarkScene scene = MarkScene_Make(v);
  // The first place along t where the whole square shows in the bottom half.
  float ct = 0.0f;
  bool below = false;
  for (float t = -3000.0f; t <= 3000.0f && !below; t += 100.0f) {
    MarkScene probe = scene;
    std::vector<float> corners;
    below = MarkScene_ProjectAll(probe, MarkScene_AddSquare(&probe, 0, t, 300, 0, 30), &corners);
    for (size_t i = 0; i < corners.size() && below; i += 2) below = corners[i] > kH / 2 + 20;
    ct = t;
  }
  ASSERT_TRUE(below) << "no place for the square in the bottom half";
  MarkScene_AddSquare(&scene, 0, ct, 300, 0, 30);
  FloatImage img;
  MarkScene_Render(scene, RenderOptions(), &img);
  SceneLut sl(scene, 1);
  float cx = 0, cy = 0;
  MarkScene_World(scene, 0, ct, &cx, &cy);
  auto find = [&](const Matrix* image, float* pts) {
    return CalibFindPattern(sl.lut, 1, image, 1, 0, 0, pts, 300, cx - 400, cy - 400, 800, 800, 0);
  };
  std::vector<float> pts(8, -7.0f);
  ASSERT_EQ(1, find(&img.m, pts.data())) << "the whole picture shows the square";
  std::fill(pts.begin(), pts.end(), -7.0f);
  const Matrix topHalf{kW, kH / 2, img.data.data()};
  EXPECT_EQ(0, find(&topHalf, pts.data()));
  for (float p : pts) EXPECT_EQ(-7.0f, p);
  FloatImage half;
  CropRows(img, kH / 2, &half);
  EXPECT_EQ(0, find(&half.m, pts.data()));
}

// Far windows of a bare floor: the top view shows the mat's noise at a few
// pixels a texel, where the quad search links blobs into groups of a board's
// size. Those used to fill 2 x 2 corner grids with a corner twice or a flat
// cell; a grid is a board only when its cells are proper quadrilaterals.
TEST_F(PatternFinder, BareFloorGivesNoQuadBoard) {
  const MarkScene scene = BareFloorScene();
  FloatImage img = BareFloorPicture(scene);
  SceneLut sl(scene, 1);
  const float windows[][2] = {{-5000, -2500}, {-5000, 0}, {-4500, -2500}, {-6000, 1500}, {-5500, 1000},
                              {-4500, -1500}, {-3500, -2500}, {-2000, 500}};
  std::vector<float> pts(80, -7.0f);
  for (int type : {3, 4, 5, 17})
    for (const auto& w : windows)
      EXPECT_EQ(0, CalibFindPattern(sl.lut, 1, &img.m, type, 0, 0, pts.data(), 200, w[0], w[1], 1200, 1200, 0))
          << "type " << type << " window at " << w[0] << ", " << w[1];
  for (float p : pts) EXPECT_EQ(-7.0f, p);
}
