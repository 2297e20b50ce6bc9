// The profile-guided finders on rendered sites: the profile written by the
// test predicts the six (layout 13: four) corners a few pixels off their
// true places; the finders must take the corners, find the layout's floor
// patterns from the pose solved on them and return every point within a
// pixel of its projection, in world-point order. Layouts 18, 19 and 28 have
// world points for camera 1 only: the rows of their tables for the other
// cameras run on world points the test writes (a small board for the six
// corners, the pattern boards beside it).
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "board_site_fixture.h"
#include "calibration/detect/profile_template_finders.h"

namespace {

using namespace board_site;

constexpr float kEdge = 250.0f;  // outer squares of the boards, mm

class ProfileSite : public BoardSiteTest {
 protected:
  // yk3 profile lines: camera c's line holds predictions[c - 1] (six
  // (x, y) pairs); `lines` lines are written (5 to 8 set the presence bits).
  void WriteYk3(int code, const std::vector<std::vector<float>>& predictions, int lines = 4) {
    std::string text;
    for (int n = 0; n < lines; ++n) {
      const std::vector<float> v = n < static_cast<int>(predictions.size()) && !predictions[n].empty()
                                       ? predictions[n]
                                       : std::vector<float>(12, 0.0f);
      for (size_t i = 0; i < v.size(); ++i) text += (i ? "," : "") + std::to_string(v[i]);
      text += "\n";
    }
    Compute(code, "yk3_cfg.txt", text);
  }
  // The first n world points of the camera seen by cam, moved by (dx, dy)
  // pixels, as (x, y) pairs.
  std::vector<float> Predict(int camera, const SceneCamera& cam, int n, float dx = 3.0f, float dy = -2.0f) const {
    std::vector<float> v;
    for (int k = 0; k < n; ++k) {
      float row, col;
      Project(cam, W(camera, k), &row, &col);
      v.push_back(col + dx);
      v.push_back(row + dy);
    }
    return v;
  }
  void SetWorld(int camera, const std::vector<float>& xy) {
    std::fill(world[camera - 1].begin(), world[camera - 1].end(), 0.0f);
    for (size_t k = 0; k < xy.size() / 2; ++k) {
      world[camera - 1][3 * k] = xy[2 * k];
      world[camera - 1][3 * k + 1] = xy[2 * k + 1];
    }
  }
  static void Grid(const FloorBoard& b, std::vector<float>* xy) {
    for (int j = 0; j < b.ny; ++j)
      for (int i = 0; i < b.nx; ++i) {
        xy->push_back(b.x0 + i * b.s);
        xy->push_back(b.y0 + j * b.s);
      }
  }
  static SceneCamera FrontCamera() { return Camera(0, -2300, 1300, 0, -3700); }
  static SceneCamera SideCamera() { return Camera(-600, 0, 1000, -2600, 0); }
};

// The camera-1 sites of layouts 18, 19 and 28: the four middle corners on a
// small board, the fifth and sixth shared with the two pattern boards.
struct FrontSite {
  int code;
  float middleY;            // first row of the middle corners
  FloorBoard left, right;   // the pattern boards
  uint32_t expected;
};

TEST_F(ProfileSite, CameraOneOfLayoutsEighteenNineteenTwentyEight) {
  const FrontSite sites[] = {
      {18, -3600, {-2100, -4200, 2, 3, 600, kEdge}, {1500, -4200, 2, 3, 600, kEdge}, 18},
      {19, -3600, {-2400, -4200, 3, 3, 600, kEdge}, {1200, -4200, 3, 3, 600, kEdge}, 24},
      {28, -3900, {-2000, -4500, 2, 3, 600, kEdge}, {1400, -4500, 2, 3, 600, kEdge}, 18},
  };
  const SceneCamera cam = FrontCamera();
  for (const FrontSite& s : sites) {
    SCOPED_TRACE(s.code);
    WriteYk3(s.code, {});
    ShowBoards(1, cam, {{-600, s.middleY, 2, 2, 600, kEdge}, s.left, s.right});
    WriteYk3(s.code, {Predict(1, cam, 6)});
    ExpectCalibrationRoad(1, cam, s.expected, 0);
  }
}

// Layout 18 camera 1 with the six corners all there but the left board cut
// down to the corner it shares with them: no list gives the patterns, 0.
// Predictions that miss every corner by more than the radius: 0.
TEST_F(ProfileSite, SixCornersWithoutTheirPatternsGiveNothing) {
  const SceneCamera cam = FrontCamera();
  WriteYk3(18, {});
  ShowBoards(1, cam, {{-600, -3600, 2, 2, 600, kEdge}, {-1500, -3000, 1, 1, 600, kEdge}, {1500, -4200, 2, 3, 600, kEdge}});
  WriteYk3(18, {Predict(1, cam, 6)});
  EXPECT_EQ(0u, CalibFind_Layout18(lut, 1, &images[0], 0, 0, points[0].data()));
  const float radius = 720.0f * 65.0f / 720.0f;
  WriteYk3(18, {Predict(1, cam, 6, 0.0f, radius + 2.0f)});
  EXPECT_EQ(0u, CalibFind_Layout18(lut, 1, &images[0], 0, 0, points[0].data()));
}

// The rows of the pattern tables for cameras 2 to 4, on world points the
// test writes: two boards beside a middle board (cameras 2) or one long
// board beside a small one (cameras 3 and 4).
TEST_F(ProfileSite, PatternTablesOfTheOtherCameras) {
  const FloorBoard middle{-600, -3600, 2, 2, 600, kEdge}, small{-1300, -300, 2, 3, 300, 150};
  struct Site {
    bool side;
    std::vector<FloorBoard> patterns;
    std::vector<float> xy;
    std::vector<float> pixels;
  };
  auto front = [&](int rows) {
    Site s{false, {{-2400, -4200, 3, rows, 600, kEdge}, {1200, -4200, 3, rows, 600, kEdge}}, {}, {}};
    Grid(middle, &s.xy);
    s.xy.insert(s.xy.end(), {-1200, -3000, 1200, -3000});
    for (const FloorBoard& b : s.patterns) Grid(b, &s.xy);
    std::vector<FloorBoard> all = s.patterns;
    all.push_back(middle);
    s.pixels = RenderBoards(FrontCamera(), all);
    return s;
  };
  auto side = [&](int rows) {
    Site s{true, {}, {}, {}};
    s.patterns.push_back({-3000, rows == 12 ? -3300.0f : -3000.0f, 3, rows, 600, kEdge});
    Grid(small, &s.xy);
    Grid(s.patterns[0], &s.xy);
    std::vector<FloorBoard> all = s.patterns;
    all.push_back(small);
    s.pixels = RenderBoards(SideCamera(), all);
    return s;
  };
  const Site nine = front(3), twelve = front(4), eleven = side(11), long12 = side(12);
  // Pattern type 2 starts on 16 mm top-view pixels and its corners are
  // whole view pixels: up to 8 mm on the floor, measured up to 1.09 px
  // here; the others start on 8 mm pixels and hold 1 px.
  struct Case {
    int code, camera;
    const Site* site;
    uint32_t expected;
    float patternTolerance;
  };
  const Case cases[] = {
      {18, 2, &nine, 24, 1.0f}, {19, 2, &twelve, 30, 1.6f}, {18, 3, &eleven, 39, 1.0f},
      {19, 4, &long12, 42, 1.0f}, {28, 3, &long12, 42, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << c.code << " camera " << c.camera);
    const int k = c.camera - 1;
    const SceneCamera cam = c.site->side ? SideCamera() : FrontCamera();
    SetWorld(c.camera, c.site->xy);
    std::vector<std::vector<float>> lines(4);
    lines[k] = Predict(c.camera, cam, 6);
    WriteYk3(c.code, lines);
    SetWorld(c.camera, c.site->xy);  // the layout has none for this camera
    pixels[k] = c.site->pixels;
    images[k].data = pixels[k].data();
    AVM_LAYOUT_FINDER((*const finder)) = c.code == 18 ? CalibFind_Layout18
                                         : c.code == 19 ? CalibFind_Layout19
                                                        : CalibFind_Layout28;
    ASSERT_EQ(c.expected, finder(lut, c.camera, &images[k], 0, 0, points[k].data()));
    ExpectTruth(c.camera, cam, 6);
    ExpectTruthFrom(c.camera, cam, 6, static_cast<int>(c.expected), c.patternTolerance);
    // The count of the object stays at the six corners; the caller stores
    // the result.
    EXPECT_EQ(6, lut->cornerCounts[k]);
  }
}

// Layout 28 camera 2: set 0's predictions lead nowhere; without the
// profile's presence bit of camera 2 that is 0, with it the second set's
// line is searched. Camera 1's marks and pose serve as camera 2's.
TEST_F(ProfileSite, LayoutTwentyEightSecondSetByPresenceBit) {
  const SceneCamera cam = FrontCamera();
  WriteYk3(28, {});
  ShowBoards(2, cam, {{-600, -3900, 2, 2, 600, kEdge}, {-2000, -4500, 2, 3, 600, kEdge}, {1400, -4500, 2, 3, 600, kEdge}});
  const std::vector<float> camera1World = world[0];
  std::copy(camera1World.begin(), camera1World.end(), world[1].begin());
  std::vector<float> right = Predict(2, cam, 6), wrong(12, 40.0f);
  std::vector<std::vector<float>> lines = {{}, wrong, {}, {}, {}, right};
  WriteYk3(28, lines, 4);  // lines 5 to 8 absent: no presence bits
  std::copy(camera1World.begin(), camera1World.end(), world[1].begin());
  EXPECT_EQ(0u, CalibFind_Layout28(lut, 2, &images[1], 0, 0, points[1].data()));
  WriteYk3(28, lines, 6);  // line 6: camera 2's second set
  std::copy(camera1World.begin(), camera1World.end(), world[1].begin());
  EXPECT_EQ(3u, CalibProfile().words[50]);  // lines 5 and 6
  ASSERT_EQ(18u, CalibFind_Layout28(lut, 2, &images[1], 0, 0, points[1].data()));
  ExpectTruth(2, cam, 18);
  EXPECT_EQ(18, lut->cornerCounts[1]);
}

// Layout 8 with its profile loaded: cameras 1 and 2 as layout 18's camera
// 1 (their own world points), through the dispatcher; predictions more
// than the radius off are found by the second pass, which moves them 10
// pixels at a time.
TEST_F(ProfileSite, LayoutEightFrontCamerasFromTheProfile) {
  struct Case {
    int camera;
    SceneCamera cam;
    std::vector<FloorBoard> boards;
  };
  const Case cases[] = {
      {1, Camera(0, -2000, 1300, 0, -3400),
       {{-600, -3300, 2, 2, 600, kEdge}, {-1800, -3900, 2, 3, 600, kEdge}, {1200, -3900, 2, 3, 600, kEdge}}},
      {2, Camera(0, 2000, 1300, 0, 3400),
       {{0, 3300, 1, 2, 600, kEdge}, {1200, 2700, 1, 1, 600, kEdge}, {-1200, 2700, 1, 1, 600, kEdge},
        {-2400, 2700, 2, 3, 600, kEdge}, {1800, 2700, 2, 3, 600, kEdge}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    WriteYk3(8, {});
    ShowBoards(c.camera, c.cam, c.boards);
    std::vector<std::vector<float>> lines(4);
    lines[c.camera - 1] = Predict(c.camera, c.cam, 6);
    WriteYk3(8, lines);
    ExpectCalibrationRoad(c.camera, c.cam, 18, 0);
  }
  // The first prediction 70 px above its corner, beyond the radius of 65
  // px; moved 10 px down it is 60 px off.
  std::vector<std::vector<float>> lines(4);
  lines[0] = Predict(1, cases[0].cam, 6, 0.0f, 0.0f);
  lines[0][1] -= 70.0f;
  WriteYk3(8, lines);
  ShowBoards(1, cases[0].cam, cases[0].boards);
  ASSERT_EQ(18u, CalibFind_Layout8(lut, 1, &images[0], 0, 0, points[0].data()));
  ExpectTruth(1, cases[0].cam, 18);
}

// Layout 8's side cameras: a 5 x 4 board (12 corners) and two small
// squares beyond it, world points written by the test in the finder's
// order (the board's corners, then the marks); without the second square
// only the board's corners remain.
TEST_F(ProfileSite, LayoutEightSideCameraBoardAndMarks) {
  GlobalVariables& g = gv();
  g.boardCols34 = 5;
  g.boardRows34 = 4;
  const SceneCamera cam = SideCamera();
  const FloorBoard board{-2600, -600, 3, 4, 400}, a{-2700, -3000, 2, 2, 600, kEdge}, b{-2700, 2000, 2, 2, 600, kEdge};
  std::vector<float> xy;
  // The board's rows run outward (x), its columns from the rear (y) forward,
  // as the camera sees them: row-major from the picture's top left.
  for (int r = 0; r < 3; ++r)
    for (int j = 0; j < 4; ++j) xy.insert(xy.end(), {-2600.0f + 400.0f * r, 600.0f - 400.0f * j});
  xy.insert(xy.end(), {-2700, -3000, -2100, -3000, -2700, 2000, -2100, 2000, -2700, 2600, -2100, 2600});
  WriteYk3(8, {});
  SetWorld(3, xy);
  ShowBoards(3, cam, {board, a, b});
  lut->cornerCounts[2] = 0;
  ASSERT_EQ(18u, FindAllChessboardCorners(lut, 3));
  ExpectTruth(3, cam, 18);
  ASSERT_EQ(1, CalibrateCameraByIndex(lut, 3, 0, 0, 0));
  const double angle = RotationGapDeg(lut->params.R[2], cam.r);
  EXPECT_LT(angle, 0.3);
  ShowBoards(3, cam, {board, a});
  EXPECT_EQ(12u, CalibFind_Layout8(lut, 3, &images[2], 5, 4, points[2].data()));
}

// Layout 8's side cameras on the points the layout itself writes: a site
// laid out by the configuration (5 x 4 boards of 400 mm, the six 600 mm
// marks of each side where the layout puts them) gives the board's corners
// and then the marks, in the rows the layout writes them, and the road
// solves the true pose.
TEST_F(ProfileSite, LayoutEightSideCamerasOnTheLayoutsOwnPoints) {
  GlobalVariables& g = gv();
  g.boardCols34 = 5;
  g.boardRows34 = 4;
  g.targetDimA = 400;  // square
  g.targetDimB = 100;  // gap
  g.place5 = 600;      // left distance: the site centre 300 mm left
  lut->cfg.carWidth = 1400;
  lut->cfg.carBoxParam = 1200;
  WriteYk3(8, {});
  const int n = 12;  // the board's corners
  struct Case {
    int camera;
    SceneCamera cam;
    FloorBoard board;
  };
  const Case cases[] = {
      {3, SideCamera(), {-2600, -600, 3, 4, 400}},
      {4, Camera(600, 0, 1000, 2600, 0), {1200, -600, 3, 4, 400}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    // The grid where the board lies, the marks behind it.
    EXPECT_FLOAT_EQ(W(c.camera, 0)[0], c.camera == 3 ? -2600.0f : 2000.0f);
    EXPECT_FLOAT_EQ(W(c.camera, n - 1)[1], 600.0f * (c.camera == 3 ? -1.0f : 1.0f));
    const FloorBoard first{W(c.camera, n)[0], W(c.camera, n)[1], 2, 2, 600, kEdge},
        second{W(c.camera, n + 2)[0], W(c.camera, n + 2)[1], 2, 2, 600, kEdge};
    EXPECT_FLOAT_EQ(first.y0, -3300.0f);
    EXPECT_FLOAT_EQ(second.y0, 3300.0f);
    ShowBoards(c.camera, c.cam, {c.board, first, second});
    lut->cornerCounts[c.camera - 1] = 0;
    ExpectCalibrationRoad(c.camera, c.cam, n + 6, 0);
  }
}

// Without layout 8's profile the front cameras repeat their board pieces
// until the pieces' try counter runs past the last step: on a bare floor
// that ends with 0.
TEST_F(ProfileSite, LayoutEightWithoutItsProfileEndsOnTheTryCounter) {
  CalibProfile() = CalibProfileRecord{};
  for (int camera = 1; camera <= 2; ++camera) {
    std::fill(pixels[camera - 1].begin(), pixels[camera - 1].end(), 0.84f);
    EXPECT_EQ(0u, CalibFind_Layout8(lut, camera, &images[camera - 1], 0, 0, points[camera - 1].data()));
  }
}

// Layout 13: single checker corners at the world points; the pq1 profile
// stores line n's points in its own order, so the file is written in it.
class Layout13Site : public ProfileSite {
 protected:
  // predictions[c - 1]: camera c's four (x, y) pairs.
  void WritePq1(const std::vector<std::vector<float>>& predictions) {
    static const int kOrder[4][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {2, 3, 0, 1}, {0, 1, 2, 3}};
    std::string text;
    for (int n = 0; n < 4; ++n) {
      float file[8] = {};
      if (n < static_cast<int>(predictions.size()) && predictions[n].size() == 8)
        for (int i = 0; i < 4; ++i) {
          file[2 * kOrder[n][i]] = predictions[n][2 * i];
          file[2 * kOrder[n][i] + 1] = predictions[n][2 * i + 1];
        }
      for (int i = 0; i < 8; ++i) text += (i ? "," : "") + std::to_string(file[i]);
      text += "\n";
    }
    Compute(13, "pq1_cfg.txt", text);
  }
  std::vector<FloorBoard> Corners(int camera, int count) const {
    std::vector<FloorBoard> b;
    for (int k = 0; k < count; ++k) b.push_back({W(camera, k)[0], W(camera, k)[1], 1, 1, 400, 200});
    return b;
  }
};

TEST_F(Layout13Site, CornersAndPairsSolveThePose) {
  struct Case {
    int camera;
    SceneCamera cam;
    uint32_t expected;
  };
  const Case cases[] = {
      {1, Camera(0, -2600, 800, 0, -3400), 4},
      {3, SideCamera(), 8},
      {4, Camera(600, 0, 1000, 2600, 0), 8},
  };
  WritePq1({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.camera);
    ShowBoards(c.camera, c.cam, Corners(c.camera, c.expected == 4 ? 4 : 8));
    std::vector<std::vector<float>> lines(4);
    lines[c.camera - 1] = Predict(c.camera, c.cam, 4);
    WritePq1(lines);
    if (c.expected == 8) {
      ExpectCalibrationRoad(c.camera, c.cam, c.expected, 0);
      continue;
    }
    // The four corners are whole pixels of the crop resampled to 960 rows
    // (up to 0.375 px off in the picture), and four points leave the pose
    // loose: over the sign patterns of that error the solve moves up to
    // 0.9 m at this range (exact projections solve to 0.07 mm). The
    // finder's residual limit is what the camera is held to.
    ASSERT_EQ(4u, FindAllChessboardCorners(lut, 1));
    ExpectTruth(1, c.cam, 4);
    lut->cornerCounts[0] = 4;
    ASSERT_EQ(1, CalibrateCameraByIndex(lut, 1, 0, 0, 0));
    EXPECT_LT(gv().lastCalibResult[0], 1.54f * 1280.0f / 1026.0f);
  }
}

// Camera 4 with the second pair missing: variant 0 gives 6 (the first
// pair's two points behind the four corners), and so does the dispatcher's
// second try with variant 1.
TEST_F(Layout13Site, SecondPairMissingGivesSix) {
  const SceneCamera cam = Camera(600, 0, 1000, 2600, 0);
  WritePq1({});
  ShowBoards(4, cam, Corners(4, 6));
  std::vector<std::vector<float>> lines(4);
  lines[3] = Predict(4, cam, 4);
  WritePq1(lines);
  ASSERT_EQ(6u, CalibFind_Layout13(lut, 4, &images[3], 0, 0, points[3].data(), 0));
  ExpectTruth(4, cam, 6);
  EXPECT_EQ(6u, FindAllChessboardCorners(lut, 4));
}

// Predictions outside the picture, huge or not numbers: the crop is cut to
// the picture (or there is none) and a bare floor gives 0.
TEST_F(ProfileSite, PredictionsOutsideThePicture) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<float> cases[] = {
      std::vector<float>(12, -50000.0f), std::vector<float>(12, 1.0e6f), std::vector<float>(12, 3.0e38f),
      {1270, 710, 1400, 800, 1300, 900, 2000, 719, 1279, 1000, 1279, 719},
      {nan, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
  };
  std::fill(pixels[0].begin(), pixels[0].end(), 0.84f);
  for (const std::vector<float>& c : cases) {
    WriteYk3(18, {c});
    EXPECT_EQ(0u, CalibFind_Layout18(lut, 1, &images[0], 0, 0, points[0].data()));
    std::vector<std::vector<float>> pq(1, std::vector<float>(c.begin(), c.begin() + 8));
    std::string text;
    for (int n = 0; n < 4; ++n) {
      for (int i = 0; i < 8; ++i) text += (i ? "," : "") + std::to_string(n == 0 ? pq[0][i] : 0.0f);
      text += "\n";
    }
    Compute(13, "pq1_cfg.txt", text);
    EXPECT_EQ(0u, CalibFind_Layout13(lut, 1, &images[0], 0, 0, points[0].data(), 1));
  }
}

}  // namespace
