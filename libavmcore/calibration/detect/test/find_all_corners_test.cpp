#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "calibration/detect/find_all_corners.h"
#include "detect_scene_helpers.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/lutob.h"
#include "testsupport/test_lutob.h"

namespace {

std::mutex gLinesMutex;
std::vector<std::string> gLines;
void Capture(const char* line) {
  std::lock_guard<std::mutex> lock(gLinesMutex);
  gLines.push_back(line);
}

// A LUT object whose camera 2 (or the given camera) shows the rendered
// picture, with point buffers of word 31 points filled with a marker value.
class FindAll : public ::testing::Test {
 protected:
  void SetUp() override {
    lut_.Reset();
    for (int c = 0; c < 4; ++c) {
      points_[c].assign(2 * 59, kMarker);
      lut_->imagePoints[c] = points_[c].data();
      lut_->cornerCounts[c] = 77;
    }
    gv().boardCols12 = gv().boardCols34 = 9;
    gv().boardRows12 = gv().boardRows34 = 7;
    gLines.clear();
    previous_ = AvmLog_SetSink(Capture);
  }
  void TearDown() override {
    AvmLog_SetSink(previous_);
  }
  void Show(uint32_t camera, const BoardSceneSpec& spec, std::vector<float>* truth) {
    scene_ = BoardScene_Make(spec);
    BoardScene_Truth(scene_, truth);
    RenderOptions opt;
    opt.blurSigma = 0.8f;
    opt.noiseSigma = 2.0f;
    BoardScene_Render(scene_, opt, &img_);
    lut_->cameraImages[camera - 1] = &img_.m;
  }
  bool Untouched(uint32_t camera) const {
    for (int i = 0; i < 2 * 59; ++i)
      if (lut_->imagePoints[camera - 1][i] != kMarker) return false;
    return true;
  }
  bool Logged(const std::string& start) const {
    for (const std::string& l : gLines)
      if (l.rfind(start, 0) == 0) return true;
    return false;
  }

  static constexpr float kMarker = -31.0f;
  ScopedConfigState state_;
  TestLutob lut_;
  std::vector<float> points_[4];
  BoardScene scene_;
  FloatImage img_;
  AvmLogSink previous_ = nullptr;
};

BoardSceneSpec Board(float offX = 0.0f, float offY = 0.0f, float tilt = 20.0f, float span = 0.9f) {
  BoardSceneSpec s;
  s.model = 1;
  s.span = span;
  s.tiltDeg = tilt;
  s.offsetX = offX;
  s.offsetY = offY;
  return s;
}

}  // namespace

TEST_F(FindAll, Layout1NineBySevenStores48AndLogsBeginAndEnd) {
  std::vector<float> truth;
  Show(2, Board(), &truth);
  EXPECT_EQ(48u, FindAllChessboardCorners(lut_, 2));
  EXPECT_EQ(48, lut_->cornerCounts[1]);
  std::vector<float> got(lut_->imagePoints[1], lut_->imagePoints[1] + 96);
  EXPECT_LE(ErrorsInOrder(got, truth).max, 0.5);
  EXPECT_TRUE(Logged("FindAllChessboardCorners begin 2 1 \n"));
  EXPECT_TRUE(Logged("FindAllChessboardCorners end 2 1 "));
  // The other cameras are not touched.
  EXPECT_EQ(77, lut_->cornerCounts[0]);
  EXPECT_TRUE(Untouched(1));
}

TEST_F(FindAll, Layout1FallsBackToTheTemplateDetector) {
  // Far to the side of the fisheye picture only the template detector finds
  // the board.
  std::vector<float> truth;
  Show(3, Board(0.9f, 0.2f, 40.0f, 0.7f), &truth);
  EXPECT_EQ(48u, FindAllChessboardCorners(lut_, 3));
  EXPECT_EQ(48, lut_->cornerCounts[2]);
  EXPECT_TRUE(Logged("get corner") == false);
  std::vector<float> got(lut_->imagePoints[2], lut_->imagePoints[2] + 96);
  EXPECT_LE(ErrorsInOrder(got, truth).max, 1.4);
}

TEST_F(FindAll, Layout1WithoutBoardStoresZero) {
  std::vector<float> flat(1280 * 720, 0.5f);
  Matrix m{1280, 720, flat.data()};
  lut_->cameraImages[0] = &m;
  EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 1));
  EXPECT_EQ(0, lut_->cornerCounts[0]);
  EXPECT_TRUE(Untouched(1));
  EXPECT_TRUE(Logged("FindAllChessboardCorners end 1 1 "));
}

TEST_F(FindAll, Layout1BoardsThatDoNotFitThePointBufferAreRefused) {
  std::vector<float> truth;
  Show(2, Board(), &truth);
  struct Size {
    int cols, rows, maxPoints;
  };
  // 9 x 7 needs 48 points: refused with word 31 at 47; a board of one
  // column (no inner corner) and a negative size are refused too.
  for (const Size& s : {Size{9, 7, 47}, Size{1, 7, 59}, Size{9, 1, 59}, Size{-3, -4, 59}}) {
    gv().boardCols12 = s.cols;
    gv().boardRows12 = s.rows;
    gv().maxPoints = s.maxPoints;
    EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 2)) << s.cols << "x" << s.rows;
    EXPECT_EQ(0, lut_->cornerCounts[1]);
    EXPECT_TRUE(Untouched(2));
  }
}

// Every camera shows a 9 x 7 board that layout 1 finds: a code that ran
// any finder of the boards would find it.
TEST_F(FindAll, CodesWithoutAFinderGiveZeroAndLeaveThePoints) {
  std::vector<float> truth;
  Show(1, Board(), &truth);
  for (uint32_t camera = 2; camera <= 4; ++camera) lut_->cameraImages[camera - 1] = &img_.m;
  gv().CalibLayoutCode = 1;
  ASSERT_EQ(48u, FindAllChessboardCorners(lut_, 1)) << "the board must be findable";
  for (int i = 0; i < 2 * 59; ++i) lut_->imagePoints[0][i] = kMarker;
  for (int code : {22, 0, 33, 50, 55, 99, -1}) {
    gv().CalibLayoutCode = code;
    for (uint32_t camera = 1; camera <= 4; ++camera) {
      lut_->cornerCounts[camera - 1] = 77;
      EXPECT_EQ(0u, FindAllChessboardCorners(lut_, camera)) << code << " camera " << camera;
      EXPECT_EQ(0, lut_->cornerCounts[camera - 1]) << code << " camera " << camera;
      EXPECT_TRUE(Untouched(camera)) << code << " camera " << camera;
    }
  }
  // Layout 1 set to an 8 x 6 board finds no such board in this picture.
  gv().CalibLayoutCode = 1;
  gv().boardCols12 = 8;
  gv().boardRows12 = 6;
  EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 1));
  EXPECT_TRUE(Untouched(1));
}

// These finders place their search by the LUT object's world points or the
// calibration parameter block; a LUT object without them is refused with
// 0 and nothing written, even with a findable board in the picture.
TEST_F(FindAll, FindersWithoutWorldPointsOrParametersRefuse) {
  std::vector<float> truth;
  Show(1, Board(), &truth);
  for (uint32_t camera = 2; camera <= 4; ++camera) lut_->cameraImages[camera - 1] = &img_.m;
  ASSERT_EQ(nullptr, lut_->worldPoints[0]);
  for (int code : {3, 5, 13, 17, 26, 51}) {
    gv().CalibLayoutCode = code;
    for (uint32_t camera = 1; camera <= 4; ++camera) {
      EXPECT_EQ(0u, FindAllChessboardCorners(lut_, camera)) << code << " camera " << camera;
      EXPECT_EQ(0, lut_->cornerCounts[camera - 1]) << code << " camera " << camera;
      EXPECT_TRUE(Untouched(camera)) << code << " camera " << camera;
    }
  }
}

TEST_F(FindAll, Layout29WithoutTheFourBlockObjectGivesZero) {
  gv().CalibLayoutCode = 29;
  std::vector<float> truth;
  Show(1, Board(), &truth);
  EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 1));
  EXPECT_EQ(0, lut_->cornerCounts[0]);
  EXPECT_TRUE(Untouched(1));
}

TEST_F(FindAll, Layout26RestoresWord71AndCameraNumbersOutsideRangeGiveZero) {
  gv().CalibLayoutCode = 26;
  std::vector<float> truth;
  Show(1, Board(), &truth);
  for (int w71 : {0, 1}) {
    for (int w81 : {0, 1}) {
      gv().groupNumber = w71;
      gv().layout26InvertFront = w81;
      gLines.clear();
      EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 1));
      EXPECT_EQ(w71, gv().groupNumber);
      // Words 71 and 81 agreeing go straight to the B target, silently.
      EXPECT_EQ((w71 != 0) != (w81 != 0), Logged("DK1 LG Front F0 "));
    }
  }
  EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 0));
  EXPECT_EQ(0u, FindAllChessboardCorners(lut_, 5));
  EXPECT_EQ(0u, FindAllChessboardCorners(nullptr, 1));
}
