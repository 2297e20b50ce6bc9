// Layouts whose base target solves the pose before further targets are
// looked for where that pose puts them: rendered sites with the true camera
// poses give every point back in world-point order and the calibration road
// solves the true pose; a hidden further target stops the count before it,
// a hidden base target gives 0; profile regions and buffers past their
// bounds are handled safely.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "calibration/detect/extra_target_finders.h"
#include "calibration/detect/find_all_corners.h"
#include "calibration/detect/pose_solve_services.h"
#include "camera/lut_config_file.h"
#include "detect_scene_helpers.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "testsupport/calibration_site.h"
#include "testsupport/mark_scenes.h"
#include "marker_board_site.h"
#include "testsupport/pose_scene.h"
#include "testsupport/test_lutob.h"

namespace {

constexpr int kMaxPoints = 59;

// One rendered camera of a layout-14 site: the site's chessboard and two
// 1000 mm dark squares further out (on the rendered floor, 4 m about the
// vehicle centre), each square's corners in the order a
// ground view gives them (smallest y first, then smallest x).
struct ChessSite {
  int camera = 0;
  SceneCamera cam;
  FloatImage image;
  int cols = 0, rows = 0;
  std::vector<float> world;  // x, y, z per point in the finder's order
  std::vector<float> truth;  // (row, column) per point
  std::vector<float> bound;  // allowed distance from the truth, px, per point
};

// The squares' corners are whole outline pixels of a ground view of 8 mm a
// pixel, moved by up to two more where blur rounds a corner off: the image
// length of 24 mm of floor at the corner bounds them (measured: 0.9 to 1.8
// px against bounds of 1.3 to 3.2 px). Board corners are sub-pixel.
constexpr float kSquareCornerMm = 24.0f;

struct SquareSpot {
  float x0, y0;  // corner with the smallest x and y
};

enum Hide { kNothing = 0, kBoard = 1, kSecondSquare = 2 };

void BuildChessSite(int camera, const SquareSpot squares[2], int hide, ChessSite* out) {
  const CalibrationSite site = CalibrationSite_Compact(2);
  MarkScene scene;
  scene.cam = CalibrationSite_Camera(site, camera);
  const float s[3] = {1, 0, 0}, t[3] = {0, 1, 0};
  memcpy(scene.axisS, s, sizeof s);
  memcpy(scene.axisT, t, sizeof t);
  scene.ground = 200;
  const TargetSpec mb = CalibrationSite_Board(site, camera);
  out->camera = camera;
  out->cam = scene.cam;
  out->cols = mb.squaresX;
  out->rows = mb.squaresY;
  const std::vector<float> boardSt =
      MarkScene_AddChessboard(&scene, mb.origin[0], mb.origin[1], out->cols, out->rows, mb.squareSize, 30);
  std::vector<float> boardImg;
  ASSERT_TRUE(MarkScene_ProjectAll(scene, boardSt, &boardImg));
  // The board's points in the order the detector reports them (the
  // layout lists them so).
  const std::vector<float> ordered = TruthInDetectorOrder(boardImg, out->cols, out->rows);
  std::vector<float> worldSt;
  for (size_t i = 0; i < ordered.size() / 2; ++i) {
    size_t best = 0;
    double bd = 1e30;
    for (size_t k = 0; k < boardImg.size() / 2; ++k) {
      const double d = std::hypot(ordered[2 * i] - boardImg[2 * k], ordered[2 * i + 1] - boardImg[2 * k + 1]);
      if (d < bd) bd = d, best = k;
    }
    worldSt.push_back(boardSt[2 * best]);
    worldSt.push_back(boardSt[2 * best + 1]);
  }
  if (hide & kBoard) scene.shapes.clear();
  for (int k = 0; k < 2; ++k) {
    const float x0 = squares[k].x0, y0 = squares[k].y0;
    const float corners[8] = {x0, y0, x0 + 1000, y0, x0, y0 + 1000, x0 + 1000, y0 + 1000};
    worldSt.insert(worldSt.end(), corners, corners + 8);
    if (k == 1 && (hide & kSecondSquare)) continue;
    MarkScene_AddSquare(&scene, x0 + 500, y0 + 500, 1000, 0.0f, 30);
  }
  ASSERT_TRUE(MarkScene_ProjectAll(scene, worldSt, &out->truth));
  out->bound.assign(worldSt.size() / 2, 1.0f);
  for (size_t i = ordered.size() / 2; i < worldSt.size() / 2; ++i) {
    float r0, c0, r1, c1, r2, c2;
    MarkScene_Project(scene, worldSt[2 * i], worldSt[2 * i + 1], &r0, &c0);
    MarkScene_Project(scene, worldSt[2 * i] + kSquareCornerMm, worldSt[2 * i + 1], &r1, &c1);
    MarkScene_Project(scene, worldSt[2 * i], worldSt[2 * i + 1] + kSquareCornerMm, &r2, &c2);
    out->bound[i] = std::max(1.0f, std::max(std::hypot(r1 - r0, c1 - c0), std::hypot(r2 - r0, c2 - c0)));
  }
  out->world.assign(3 * kMaxPoints, 0.0f);
  for (size_t i = 0; i < worldSt.size() / 2; ++i) {
    out->world[3 * i] = worldSt[2 * i];
    out->world[3 * i + 1] = worldSt[2 * i + 1];
  }
  RenderOptions o;
  o.supersample = 2;
  o.blurSigma = 0.6f;
  o.noiseSigma = 1.5f;
  MarkScene_Render(scene, o, &out->image);
}

// A LUT object over one site camera: its image, world points and a point
// buffer of exactly word 31 points (so a write past it is caught).
class SiteLut {
 public:
  explicit SiteLut(const ChessSite& site, int maxPoints = kMaxPoints) : site_(site) {
    gv().maxPoints = maxPoints;
    for (float& l : gv().presetLimit) l = 5.0f;
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    points_.assign(2 * static_cast<size_t>(maxPoints), -1.0f);
    world_.assign(site.world.begin(), site.world.begin() + 3 * maxPoints);
    image_ = site.image;
    image_.m.data = image_.data.data();
    const int c = site.camera - 1;
    lut_->cameraImages[c] = &image_.m;
    lut_->imagePoints[c] = points_.data();
    lut_->worldPoints[c] = world_.data();
  }
  LUTOB* lut() { return lut_; }
  Matrix* image() { return &image_.m; }
  float* points() { return points_.data(); }
  const std::vector<float>& pointVector() const { return points_; }
  // The solved pose against the camera's true one.
  void PoseErrors(double* deg, double* mm) const {
    const int c = site_.camera - 1;
    *deg = PoseScene_RotationErrorDeg(lut_->poses.R[c].data, site_.cam.r);
    *mm = PoseScene_PositionErrorMm(lut_->poses.T[c].data, site_.cam.T);
  }

 private:
  const ChessSite& site_;
  TestLutob lut_;
  std::vector<float> points_, world_;
  FloatImage image_;
};

void ExpectWithinBounds(const std::vector<float>& got, const ChessSite& site) {
  for (size_t i = 0; i < site.truth.size() / 2; ++i) {
    const double d = std::hypot(got[2 * i] - site.truth[2 * i], got[2 * i + 1] - site.truth[2 * i + 1]);
    EXPECT_LT(d, site.bound[i]) << "point " << i;
  }
}

class Layout14Site : public ::testing::Test {
 protected:
  // Rendered once: the front and the left camera with both squares, the
  // front camera without its second square and without its board.
  static void SetUpTestSuite() {
    sites_ = std::make_unique<std::vector<ChessSite>>(4);
    const SquareSpot front[2] = {{-2700, -3500}, {1700, -3500}};
    const SquareSpot left[2] = {{-3300, -3000}, {-3300, 1800}};
    BuildChessSite(1, front, kNothing, &(*sites_)[0]);
    BuildChessSite(3, left, kNothing, &(*sites_)[1]);
    BuildChessSite(1, front, kSecondSquare, &(*sites_)[2]);
    BuildChessSite(1, front, kBoard, &(*sites_)[3]);
  }
  static void TearDownTestSuite() { sites_.reset(); }
  void SetUp() override { gv().CalibLayoutCode = 14; }

  static std::unique_ptr<std::vector<ChessSite>> sites_;
  LensModelScenes scenes_;
};
std::unique_ptr<std::vector<ChessSite>> Layout14Site::sites_;

TEST_F(Layout14Site, BoardAndBothSquaresInWorldPointOrderAndTheRoadSolvesThePose) {
  for (int i : {0, 1}) {
    const ChessSite& site = (*sites_)[i];
    SCOPED_TRACE("camera " + std::to_string(site.camera));
    SiteLut s(site);
    GlobalVariables& g = gv();
    g.boardCols12 = g.boardCols34 = site.cols;
    g.boardRows12 = g.boardRows34 = site.rows;
    s.lut()->singleFitFlags[site.camera - 1] = 1;
    const uint32_t n = FindAllChessboardCorners(s.lut(), static_cast<uint32_t>(site.camera));
    ASSERT_EQ(n, site.truth.size() / 2);
    EXPECT_EQ(s.lut()->cornerCounts[site.camera - 1], static_cast<int32_t>(n));
    EXPECT_EQ(s.lut()->singleFitFlags[site.camera - 1], 0);
    ExpectWithinBounds(s.pointVector(), site);
    ASSERT_NE(CalibrateCameraByIndex(s.lut(), site.camera, 1, 0, 0), 0);
    double deg = 0, mm = 0;
    s.PoseErrors(&deg, &mm);
    // Eight square corners off by up to 24 mm pull the solved rotation:
    // measured 0.43 (front) and 0.72 degrees (left); the board's points
    // alone give 0.33 and 0.10, the true points 0.07 and 0.09.
    EXPECT_LT(deg, 1.0);
    EXPECT_LT(mm, 25.0);
  }
}

// The points the layout writes for the front site (a 7 x 5 board of 200 mm
// 200 mm ahead of a 4400 mm vehicle box, the squares 500 mm further out to
// each side): the board's corners then the squares', row for row the site's,
// and the road on them solves the pose as on the site's own list.
TEST_F(Layout14Site, TheLayoutsOwnPointsAreTheFindersOrder) {
  ScopedConfigState state;
  const ChessSite& site = (*sites_)[0];
  GlobalVariables& g = gv();
  g.CalibLayoutCode = 14;
  g.boardCols12 = site.cols;
  g.boardRows12 = site.rows;
  g.targetDimA = 200;  // square
  g.targetDimB = 200;  // gap
  g.place5 = g.place6 = 500;
  LutConfig cfg;
  memset(&cfg, 0, sizeof cfg);
  cfg.carWidth = 1800;
  cfg.carLength = 4400;
  ChessSite layout = site;
  Matrix m{3, kMaxPoints, layout.world.data()};
  ComputeTargetWorldPoints(&cfg, 1, &m);
  const size_t count = site.truth.size() / 2;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_NEAR(layout.world[3 * i], site.world[3 * i], 0.01f) << "point " << i;
    EXPECT_NEAR(layout.world[3 * i + 1], site.world[3 * i + 1], 0.01f) << "point " << i;
  }
  SiteLut s(layout);
  ASSERT_EQ(FindAllChessboardCorners(s.lut(), 1), count);
  ExpectWithinBounds(s.pointVector(), site);
  ASSERT_NE(CalibrateCameraByIndex(s.lut(), 1, 1, 0, 0), 0);
  double deg = 0, mm = 0;
  s.PoseErrors(&deg, &mm);
  EXPECT_LT(deg, 1.0);  // the bounds of the site's own list, above
  EXPECT_LT(mm, 25.0);
}

// A hidden second square leaves the board's points (after all six offsets);
// a hidden board gives 0.
TEST_F(Layout14Site, AHiddenSquareStopsTheCountAndAHiddenBoardGivesZero) {
  {
    const ChessSite& site = (*sites_)[2];
    SiteLut s(site);
    const uint32_t n = CalibFind_Layout14(s.lut(), 1, s.image(), site.cols, site.rows, s.points());
    const auto board = static_cast<uint32_t>((site.cols - 1) * (site.rows - 1));
    ASSERT_EQ(n, board);
    std::vector<float> truth(site.truth.begin(), site.truth.begin() + 2 * board);
    EXPECT_LT(ErrorsInOrder(s.pointVector(), truth).max, 1.0);
  }
  {
    const ChessSite& site = (*sites_)[3];
    SiteLut s(site);
    EXPECT_EQ(CalibFind_Layout14(s.lut(), 1, s.image(), site.cols, site.rows, s.points()), 0u);
  }
}

// Buffers of word 31 points: a board that fills them is returned without
// its squares, one larger than them is not searched; nothing is written
// past the buffer (the sanitizer build checks).
TEST_F(Layout14Site, PointBuffersOfWord31AreNeverOverrun) {
  const ChessSite& site = (*sites_)[0];
  const int board = (site.cols - 1) * (site.rows - 1);
  struct Case {
    int maxPoints;
    uint32_t expected;
  } cases[] = {{board, static_cast<uint32_t>(board)}, {board + 7, static_cast<uint32_t>(board)}, {board - 1, 0u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxPoints);
    SiteLut s(site, c.maxPoints);
    EXPECT_EQ(CalibFind_Layout14(s.lut(), 1, s.image(), site.cols, site.rows, s.points()), c.expected);
  }
}

// Square windows from world points that put them off the picture, far
// beyond any floor or nowhere (not finite) find nothing and read nothing
// outside the picture: the board alone stands.
TEST_F(Layout14Site, WindowsOffThePictureFindNoSquares) {
  const ChessSite& site = (*sites_)[0];
  const int board = (site.cols - 1) * (site.rows - 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    float x, y;
  } cases[] = {{"behind the camera", 0.0f, 9000.0f}, {"far off", 3.0e7f, -3.0e7f}, {"not finite", nan, 0.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChessSite moved = site;
    for (int k = board; k < board + 8; ++k) {
      moved.world[3 * k] = c.x;
      moved.world[3 * k + 1] = c.y;
    }
    SiteLut s(moved);
    EXPECT_EQ(CalibFind_Layout14(s.lut(), 1, s.image(), site.cols, site.rows, s.points()),
              static_cast<uint32_t>(board));
  }
}

// The square-size word 201 makes layout 14 a plain marker board: the
// chessboard is not looked at, and the per-camera flag stays.
TEST_F(Layout14Site, SquareSizeWord201SearchesOnlyTheMarkerBoard) {
  const ChessSite& site = (*sites_)[0];
  SiteLut s(site);
  gv().targetDimA = 201;
  s.lut()->singleFitFlags[0] = 1;
  EXPECT_EQ(CalibFind_Layout14(s.lut(), 1, s.image(), site.cols, site.rows, s.points()), 0u);
  EXPECT_EQ(s.lut()->singleFitFlags[0], 1);
}

// ---- Layout 26, side cameras. The first finder's site: markers of 900 mm
// dark squares holding a 500 mm light square (200 mm frame) on a light
// floor, found by their outer corners. The second finder's (it searches the
// inverted picture): 500 mm light squares on a dark floor.
struct MarkerSpot {
  float x0, y0;  // corner with the smallest x and y
};

struct MarkerStyle {
  float side;
  float innerRatio;  // 0: plain squares
  uint8_t floor, mark;
};

const MarkerStyle kNestedDark{900.0f, 500.0f / 900.0f, 200, 30};
const MarkerStyle kPlainLight{500.0f, 0.0f, 50, 220};

struct MarkerSite {
  int camera = 0;
  SceneCamera cam;
  FloatImage image;
  std::vector<float> world;  // x, y, z per point, kMaxPoints rows
  std::vector<float> truth;  // (row, column)
  std::vector<float> bound;  // px per point
};

// A lower edge's ends are outline pixels inside a light square whose upper
// part the search blanks, after a 3 x 3 mean: up to four 8 mm view pixels
// (measured up to 28 mm).
constexpr float kLowerEdgeMm = 32.0f;

// Which corners of a marker are world points: the outer square's four, the
// inner square's four, or the inner square's lower (largest y) edge.
enum class Corners { kOuter, kInner, kInnerLowerEdge };

struct SiteMarker {
  float x0, y0;  // outer corner with the smallest x and y
  Corners corners;
};

// Markers on a floor seen by cam; world points in marker order, each
// marker's in ground-view order; hidden: bit k leaves marker k off the
// floor. The rendered floor spans 4 m about origin.
void BuildSite(int camera, const SceneCamera& cam, const float origin[2], const std::vector<SiteMarker>& markers,
               const MarkerStyle& style, int hidden, MarkerSite* out, int width = 1280, int height = 720) {
  MarkScene scene;
  scene.cam = cam;
  scene.width = width;
  scene.height = height;
  const float s[3] = {1, 0, 0}, t[3] = {0, 1, 0}, o[3] = {origin[0], origin[1], 0};
  memcpy(scene.axisS, s, sizeof s);
  memcpy(scene.axisT, t, sizeof t);
  memcpy(scene.groundOrigin, o, sizeof o);
  scene.ground = style.floor;
  out->camera = camera;
  out->cam = cam;
  std::vector<float> st;
  std::vector<bool> edge;  // a lower-edge point
  const float frame = style.side * (1.0f - style.innerRatio) / 2;
  for (size_t k = 0; k < markers.size(); ++k) {
    const float x0 = markers[k].x0 - o[0], y0 = markers[k].y0 - o[1], side = style.side;
    const float in = markers[k].corners == Corners::kOuter ? 0.0f : frame;
    const float a = x0 + in, b = y0 + in, e = side - 2 * in;
    if (markers[k].corners == Corners::kInnerLowerEdge) {
      const float c[4] = {a, b + e, a + e, b + e};
      st.insert(st.end(), c, c + 4);
      edge.insert(edge.end(), 2, true);
    } else {
      const float c[8] = {a, b, a + e, b, a, b + e, a + e, b + e};
      st.insert(st.end(), c, c + 8);
      edge.insert(edge.end(), 4, false);
    }
    if (hidden & (1 << k)) continue;
    if (style.innerRatio > 0.0f)
      MarkScene_AddNestedSquare(&scene, x0 + side / 2, y0 + side / 2, side, style.innerRatio, 0.0f, style.mark);
    else
      MarkScene_AddSquare(&scene, x0 + side / 2, y0 + side / 2, side, 0.0f, style.mark);
  }
  ASSERT_TRUE(MarkScene_ProjectAll(scene, st, &out->truth));
  out->bound.assign(st.size() / 2, 1.0f);
  out->world.assign(3 * kMaxPoints, 0.0f);
  for (size_t i = 0; i < st.size() / 2; ++i) {
    const float mm = edge[i] ? kLowerEdgeMm : kSquareCornerMm;
    float r0, c0, r1, c1, r2, c2;
    MarkScene_Project(scene, st[2 * i], st[2 * i + 1], &r0, &c0);
    MarkScene_Project(scene, st[2 * i] + mm, st[2 * i + 1], &r1, &c1);
    MarkScene_Project(scene, st[2 * i], st[2 * i + 1] + mm, &r2, &c2);
    out->bound[i] = std::max(1.0f, std::max(std::hypot(r1 - r0, c1 - c0), std::hypot(r2 - r0, c2 - c0)));
    out->world[3 * i] = st[2 * i] + o[0];
    out->world[3 * i + 1] = st[2 * i + 1] + o[1];
  }
  RenderOptions opt;
  opt.supersample = 2;
  opt.blurSigma = 0.6f * static_cast<float>(width) / 1280.0f;
  opt.noiseSigma = 1.5f;
  MarkScene_Render(scene, opt, &out->image);
}

// The left camera (3) on the mirror, 1 m up, 1 m ahead of the vehicle
// centre; the markers' outer corners.
void BuildMarkerSite(const std::vector<MarkerSpot>& spots, const MarkerStyle& style, int hidden, MarkerSite* out) {
  SceneCamera cam = PoseScene_Camera(2, 1280, 720);
  const float pos[3] = {-960, -1000, -1000}, at[3] = {-2400, -1000, 0}, up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos, at, up);
  std::vector<SiteMarker> markers;
  for (const MarkerSpot& m : spots) markers.push_back({m.x0, m.y0, Corners::kOuter});
  const float origin[2] = {-1000, -1000};
  BuildSite(3, cam, origin, markers, style, hidden, out);
}

void ExpectWithinBounds(const std::vector<float>& got, const std::vector<float>& truth,
                        const std::vector<float>& bound, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const double d = std::hypot(got[2 * i] - truth[2 * i], got[2 * i + 1] - truth[2 * i + 1]);
    EXPECT_LT(d, bound[i]) << "point " << i;
  }
}

class Layout26Side : public ::testing::Test {
 protected:
  // Base pair beside the mirror, A ahead, B behind, the third further out
  // beside the first base marker. Rendered once: the dark markers, with
  // each of the third, A and the second base marker hidden; the light
  // squares.
  static void SetUpTestSuite() {
    std::vector<MarkerSpot> spots = {{-2800, -2375}, {-2800, -450}, {-2800, -4300}, {-2800, 1475}, {-4300, -2375}};
    sites_ = std::make_unique<std::vector<MarkerSite>>(5);
    const int hidden[4] = {0, 1 << 4, 1 << 2, 1 << 1};
    for (int i = 0; i < 4; ++i) BuildMarkerSite(spots, kNestedDark, hidden[i], &(*sites_)[i]);
    for (MarkerSpot& m : spots) m.x0 += 200.0f, m.y0 += 200.0f;
    BuildMarkerSite(spots, kPlainLight, 0, &(*sites_)[4]);
  }
  static void TearDownTestSuite() { sites_.reset(); }
  void SetUp() override {
    GlobalVariables& g = gv();
    g.CalibLayoutCode = 26;
    g.maxPoints = kMaxPoints;
    for (float& l : g.presetLimit) l = 5.0f;
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    lut_->cfg.carWidth = 1800;
    lut_->cfg.carLength = 4600;
    // The whole picture is camera 3's region.
    CalibProfile() = CalibProfileRecord{};
    const float region[4] = {0, 0, 1280, 720};
    for (int i = 0; i < 4; ++i) CalibProfile().SetF(2 + i, region[i]);
    points_.assign(2 * kMaxPoints, -1.0f);
  }
  // Camera 3 of the LUT object on site i.
  void Use(int i) {
    const MarkerSite& site = (*sites_)[i];
    image_ = site.image;
    image_.m.data = image_.data.data();
    world_ = site.world;
    lut_->cameraImages[2] = &image_.m;
    lut_->imagePoints[2] = points_.data();
    lut_->worldPoints[2] = world_.data();
  }
  void PoseErrors(const MarkerSite& site, double* deg, double* mm) const {
    *deg = PoseScene_RotationErrorDeg(lut_->poses.R[2].data, site.cam.r);
    *mm = PoseScene_PositionErrorMm(lut_->poses.T[2].data, site.cam.T);
  }

  static std::unique_ptr<std::vector<MarkerSite>> sites_;
  LensModelScenes scenes_;
  TestLutob lut_;
  FloatImage image_;
  std::vector<float> points_, world_;
};
std::unique_ptr<std::vector<MarkerSite>> Layout26Side::sites_;

// Both finders through the dispatcher (words 71 and 81 choose), every
// marker in world-point order, and the road's solve near the true pose.
TEST_F(Layout26Side, AllMarkersInWorldPointOrderAndTheRoadSolvesThePose) {
  struct Case {
    const char* name;
    int site;
    int32_t word71, word81;  // equal (both 0 or both set): the second finder
  } cases[] = {{"dark markers", 0, 1, 0}, {"light squares", 4, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MarkerSite& site = (*sites_)[c.site];
    gv().groupNumber = c.word71;
    gv().layout26InvertFront = c.word81;
    Use(c.site);
    ASSERT_EQ(FindAllChessboardCorners(lut_, 3), 20u);
    ExpectWithinBounds(points_, site.truth, site.bound, 20);
    ASSERT_NE(CalibrateCameraByIndex(lut_, 3, 1, 0, 0), 0);
    double deg = 0, mm = 0;
    PoseErrors(site, &deg, &mm);
    // The marker board's eight points alone solve to 0.83 and 1.37 degrees
    // (21 and 44 mm) here, the true points to 0; all twenty measured 0.67
    // and 1.03 degrees (21 and 32 mm).
    EXPECT_LT(deg, 1.5);
    EXPECT_LT(mm, 50.0);
    TearDown();
    SetUp();
  }
}

// A hidden third marker leaves the base pair with A and B (16), a hidden A
// the base pair alone (8), a hidden base marker nothing.
TEST_F(Layout26Side, AHiddenMarkerStopsTheCountBeforeIt) {
  struct Case {
    int site;
    uint32_t expected;
  } cases[] = {{1, 16u}, {2, 8u}, {3, 0u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.site);
    Use(c.site);
    const MarkerSite& site = (*sites_)[c.site];
    EXPECT_EQ(CalibFind_Layout26A(lut_, 3, &image_.m, 0, 0, points_.data()), c.expected);
    ExpectWithinBounds(points_, site.truth, site.bound, c.expected);
    TearDown();
    SetUp();
  }
}

// A region that holds only the first base marker hides the second: 0.
TEST_F(Layout26Side, TheProfileRegionLimitsTheBaseSearch) {
  Use(0);
  const MarkerSite& site = (*sites_)[0];
  float minCol = 1e9f, maxCol = 0;
  for (int i = 4; i < 8; ++i) {
    minCol = std::min(minCol, site.truth[2 * i + 1]);
    maxCol = std::max(maxCol, site.truth[2 * i + 1]);
  }
  // Cut away whichever side of the picture the second marker is on.
  const bool right = minCol > 640.0f;
  const float region[4] = {right ? 0.0f : maxCol + 5.0f, 0.0f, right ? minCol - 5.0f : 1280.0f, 720.0f};
  for (int i = 0; i < 4; ++i) CalibProfile().SetF(2 + i, region[i]);
  EXPECT_EQ(CalibFind_Layout26A(lut_, 3, &image_.m, 0, 0, points_.data()), 0u);
}

// ---- Front and rear cameras of layouts 20 and 26.
const MarkerStyle kPlainDark{900.0f, 0.0f, 200, 30};

class FrontRearSites : public ::testing::Test {
 protected:
  enum Site {
    kLayout20,            // camera 2: the marker pair, two framed squares behind it
    kLayout20NoRight,     // the same without the right framed square
    kLayout20Large,       // the layout-20 site at 1920 x 1080 (the lens scaled with the picture)
    kLayout26Front,       // camera 1: framed markers left, right and middle; outer corners
    kLayout26FrontLight,  // camera 1: 500 mm light squares on a dark floor at the markers' middles
    kLayout26FrontPlain,  // camera 1: plain dark squares
    kLayout26Rear,        // camera 2: the marker pair, two framed squares behind it
    kSites
  };
  static void SetUpTestSuite() {
    sites_ = std::make_unique<std::vector<MarkerSite>>(kSites);
    auto& v = *sites_;
    const SceneCamera front = marker_site::Camera(1, 1280, 720), rear = marker_site::Camera(2, 1280, 720);
    const float behind[2] = {0, 3500}, ahead[2] = {0, -3000};
    // Layout 20 with 900 mm squares: the pair at the rear bumper line, the
    // framed squares' lower edges 1700 mm behind it.
    const std::vector<SiteMarker> l20 = {{-2000, 2600, Corners::kOuter},
                                         {1100, 2600, Corners::kOuter},
                                         {-2000, 4500, Corners::kInnerLowerEdge},
                                         {1100, 4500, Corners::kInnerLowerEdge}};
    BuildSite(2, rear, behind, l20, kNestedDark, 0, &v[kLayout20]);
    BuildSite(2, rear, behind, l20, kNestedDark, 1 << 3, &v[kLayout20NoRight]);
    BuildSite(2, marker_site::Camera(2, 1920, 1080), behind, l20, kNestedDark, 0, &v[kLayout20Large], 1920, 1080);
    std::vector<SiteMarker> l26f = {{-2800, -4300, Corners::kOuter},
                                    {1900, -4300, Corners::kOuter},
                                    {-450, -4300, Corners::kOuter}};
    BuildSite(1, front, ahead, l26f, kNestedDark, 0, &v[kLayout26Front]);
    BuildSite(1, front, ahead, l26f, kPlainDark, 0, &v[kLayout26FrontPlain]);
    for (SiteMarker& m : l26f) m.x0 += 200.0f, m.y0 += 200.0f;
    BuildSite(1, front, ahead, l26f, kPlainLight, 0, &v[kLayout26FrontLight]);
    // Layout 26 behind: the pair far enough back to lie in the upper half
    // of the picture (the rule of the first search level), the framed
    // squares nearer.
    const std::vector<SiteMarker> l26r = {{-2800, 4000, Corners::kOuter},
                                          {1900, 4000, Corners::kOuter},
                                          {-2000, 2300, Corners::kInnerLowerEdge},
                                          {1100, 2300, Corners::kInnerLowerEdge}};
    BuildSite(2, rear, behind, l26r, kNestedDark, 0, &v[kLayout26Rear]);
  }
  static void TearDownTestSuite() { sites_.reset(); }
  void SetUp() override {
    GlobalVariables& g = gv();
    g.maxPoints = kMaxPoints;
    for (float& l : g.presetLimit) l = 5.0f;
    lut_.Reset(1280, 720);
    for (int c = 0; c < 4; ++c) lut_->cfg.model[c] = 2;
    lut_->cfg.carWidth = 1800;
    lut_->cfg.carLength = 4600;
    points_.assign(2 * kMaxPoints, -1.0f);
  }
  void Use(int i, int camera) {
    const MarkerSite& site = (*sites_)[i];
    lut_->camW = site.image.m.cols;
    lut_->camH = site.image.m.rows;
    image_ = site.image;
    image_.m.data = image_.data.data();
    world_ = site.world;
    lut_->cameraImages[camera - 1] = &image_.m;
    lut_->imagePoints[camera - 1] = points_.data();
    lut_->worldPoints[camera - 1] = world_.data();
  }
  void Restart() {
    TearDown();
    SetUp();
  }

  static std::unique_ptr<std::vector<MarkerSite>> sites_;
  LensModelScenes scenes_;
  TestLutob lut_;
  FloatImage image_;
  std::vector<float> points_, world_;
};
std::unique_ptr<std::vector<MarkerSite>> FrontRearSites::sites_;

// Each finder on its site: the count, every point in world-point order,
// and (for a full count) the road's solve near the true pose.
TEST_F(FrontRearSites, FindersGiveTheirPointsInWorldPointOrder) {
  struct Case {
    const char* name;
    int32_t code;
    uint32_t (*finder)(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*);
    int site, camera;
    int32_t word82;
    uint32_t expected;
    // The road's pose: measured 0.29 degrees and 22 mm (layout 20; 0.24 and
    // 13 at 1920 x 1080), 1.58 and
    // 74 (26B front: twelve points in one band 4 m ahead), 0.39 and 29 (26A
    // rear); the bounds leave half as much again.
    double maxDeg, maxMm;
  } cases[] = {
      {"layout 20 rear: pair and both edges", 20, CalibFind_Layout20, kLayout20, 2, 0, 12u, 0.45, 35},
      {"layout 20 rear at 1920 x 1080", 20, CalibFind_Layout20, kLayout20Large, 2, 0, 12u, 0.45, 35},
      {"layout 20 rear: the second edge hidden", 20, CalibFind_Layout20, kLayout20NoRight, 2, 0, 8u, 0, 0},
      {"layout 20 front: no marker window", 20, CalibFind_Layout20, kLayout20, 1, 0, 0u, 0, 0},
      {"26A front: framed markers pass the ground check", 26, CalibFind_Layout26A, kLayout26Front, 1, 0, 8u, 0, 0},
      {"26A front: plain squares fail the ground check", 26, CalibFind_Layout26A, kLayout26FrontPlain, 1, 0, 0u, 0,
       0},
      {"26B front: light squares and the middle one", 26, CalibFind_Layout26B, kLayout26FrontLight, 1, 0, 12u, 2.4,
       110},
      {"26A rear: pair and both edges", 26, CalibFind_Layout26A, kLayout26Rear, 2, 0, 12u, 0.6, 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gv().CalibLayoutCode = c.code;
    gv().layout26Cam2Variant = c.word82;
    Use(c.site, c.camera);
    const MarkerSite& site = (*sites_)[c.site];
    const uint32_t got = c.finder(lut_, static_cast<uint32_t>(c.camera), &image_.m, 0, 0, points_.data());
    ASSERT_EQ(got, c.expected);
    ExpectWithinBounds(points_, site.truth, site.bound, c.expected);
    if (c.expected > 8) {
      lut_->cornerCounts[c.camera - 1] = static_cast<int32_t>(c.expected);
      ASSERT_NE(CalibrateCameraByIndex(lut_, c.camera, 1, 0, 0), 0);
      const double deg = PoseScene_RotationErrorDeg(lut_->poses.R[c.camera - 1].data, site.cam.r);
      const double mm = PoseScene_PositionErrorMm(lut_->poses.T[c.camera - 1].data, site.cam.T);
      EXPECT_LT(deg, c.maxDeg);
      EXPECT_LT(mm, c.maxMm);
    }
    Restart();
  }
}

// The layout-26 entry on the front camera: the first finder finds no dark
// markers on a site of light squares, so word 71 is turned to agree with
// word 81, camera 1's world points are recomputed (the inner squares) and
// the inverted search finds all twelve points; word 71 is put back.
TEST_F(FrontRearSites, Layout26FrontFallsBackToTheInvertedSearchOnRecomputedWorldPoints) {
  GlobalVariables& g = gv();
  g.CalibLayoutCode = 26;
  g.targetDimB = 1;  // square margins moved in when words 71 and 81 agree
  g.layout26InvertFront = 0;
  g.groupNumber = 0;
  std::vector<float> expected(3 * kMaxPoints, 0.0f);
  Matrix target{3, kMaxPoints, expected.data()};
  ComputeTargetWorldPoints(&lut_->cfg, 1, &target);
  ASSERT_EQ(g.layout26InvertFront, 0);
  // The site's light squares are the recomputed ones.
  const MarkerSite& site = (*sites_)[kLayout26FrontLight];
  for (int i = 0; i < 12; ++i) {
    ASSERT_NEAR(expected[3 * i], site.world[3 * i], 0.5f) << i;
    ASSERT_NEAR(expected[3 * i + 1], site.world[3 * i + 1], 0.5f) << i;
  }
  g.groupNumber = 1;
  Use(kLayout26FrontLight, 1);
  std::fill(world_.begin(), world_.end(), 0.0f);  // stale until recomputed
  ASSERT_EQ(FindAllChessboardCorners(lut_, 1), 12u);
  EXPECT_EQ(g.groupNumber, 1);
  EXPECT_EQ(lut_->cornerCounts[0], 12);
  ExpectWithinBounds(points_, site.truth, site.bound, 12);
}

// The inverted copy of layout 26's second finder: 1 - v capped by the mean
// of 1 - v plus 0.1, at most 0.75, or the mean itself above that.
TEST(Layout26Inverted, CapFollowsTheMeanOfTheInvertedImage) {
  struct Case {
    const char* name;
    std::vector<float> pixels;
    float cap;
  } cases[] = {
      {"dark mean 0.3: cap 0.4", {1.0f, 1.0f, 0.4f, 0.4f}, 0.4f},
      {"mean 0.7: cap 0.75", {0.3f, 0.3f, 0.3f, 0.3f}, 0.75f},
      {"mean 0.9: cap the mean", {0.0f, 0.2f, 0.0f, 0.2f}, 0.9f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> px = c.pixels;
    const Matrix image{2, 2, px.data()};
    std::vector<float> buffer;
    Matrix out{0, 0, nullptr};
    Layout26_InvertImage(&image, &buffer, &out);
    ASSERT_EQ(out.cols, 2);
    ASSERT_EQ(out.rows, 2);
    for (size_t i = 0; i < px.size(); ++i) EXPECT_NEAR(out.data[i], std::min(1.0f - px[i], c.cap), 1e-6f) << i;
  }
}

// The side cameras' region comes from the profile: boxes partly or wholly
// outside the picture, reversed or not finite are cut to the picture (the
// sanitizer build checks no read leaves it) and find nothing on an empty
// picture.
TEST(Layout26Region, ProfileRegionsOutsideThePictureAreCut) {
  LensModelScenes scenes;
  gv().CalibLayoutCode = 26;
  TestLutob lut(320, 180);
  std::vector<float> pixels(320 * 180, 0.8f), world(3 * kMaxPoints, 0.0f), points(2 * kMaxPoints, 0.0f);
  Matrix image{320, 180, pixels.data()};
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float boxes[][4] = {{-500, -500, 2000, 2000}, {300, 170, 5000, 5000}, {400, 200, 900, 900},
                            {200, 100, 50, 20},       {-1e30f, 0, 1e30f, 180}, {nan, 0, 100, 100},
                            {0, 0, inf, 100}};
  for (const auto& b : boxes) {
    for (uint32_t camera : {3u, 4u}) {
      CalibProfile() = CalibProfileRecord{};
      const int base = 2 + 4 * static_cast<int>(camera - 3);
      for (int i = 0; i < 4; ++i) CalibProfile().SetF(base + i, b[i]);
      lut->worldPoints[camera - 1] = world.data();
      EXPECT_EQ(CalibFind_Layout26A(lut, camera, &image, 0, 0, points.data()), 0u);
      EXPECT_EQ(CalibFind_Layout26B(lut, camera, &image, 0, 0, points.data()), 0u);
      lut->worldPoints[camera - 1] = nullptr;
    }
  }
}

}  // namespace

