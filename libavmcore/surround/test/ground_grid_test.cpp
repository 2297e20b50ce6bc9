#include "surround/ground_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "testsupport/four_camera_rig.h"
#include "testsupport/config_state.h"

namespace {

class RoiFile : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::unique_ptr<FourCameraRig> rig_;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = std::make_unique<FourCameraRig>(320, 240, 60, 100, true);
  }
  struct Line {
    float u, v, x, y;
  };
  // Header lines and the "bd" lines under each.
  std::vector<std::pair<std::string, std::vector<Line>>> Read(const std::string& path) const {
    std::vector<std::pair<std::string, std::vector<Line>>> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("camera ", 0) == 0) {
        out.push_back({line, {}});
      } else {
        Line l{};
        EXPECT_EQ(sscanf(line.c_str(), "bd %f %f %f %f", &l.u, &l.v, &l.x, &l.y), 4) << line;
        EXPECT_FALSE(out.empty());
        if (!out.empty()) out.back().second.push_back(l);
      }
    }
    return out;
  }
};

TEST_F(RoiFile, RefusesUnusableRectanglesBeforeOpening) {
  const std::string path = state_.Path("roi.txt");
  LUTOB* lut = rig_->lut;
  EXPECT_EQ(GenerateROIFile(lut, path.c_str(), 15, 0, 100, -1000, -1000, -1000, 1000), -1);  // x1 = x0
  EXPECT_EQ(GenerateROIFile(lut, path.c_str(), 15, 0, 100, -1000, 1000, 1000, 1000), -1);    // y1 = y0
  EXPECT_EQ(GenerateROIFile(lut, path.c_str(), 15, 0, 0, -1000, -1000, 1000, 1000), -1);     // step 0
  EXPECT_EQ(GenerateROIFile(lut, path.c_str(), 15, 0, -5, -1000, -1000, 1000, 1000), -1);
  EXPECT_FALSE(std::ifstream(path).good());
  EXPECT_EQ(GenerateROIFile(lut, state_.Path("no/dir/roi.txt").c_str(), 15, 0, 100, -1, -1, 1, 1), -1);
}

TEST_F(RoiFile, FrontPathAlongTheRectangle) {
  const std::string path = state_.Path("roi.txt");
  ASSERT_EQ(GenerateROIFile(rig_->lut, path.c_str(), 1, 0, 500, -2000, -4000, 2000, 3000), 0);
  const auto cams = Read(path);
  ASSERT_EQ(cams.size(), 1u);
  EXPECT_EQ(cams[0].first, "camera front ");
  // Down the left side from 0, along the front edge, up the right side to
  // 0, every 500 mm, each corner once: at most 8 + 7 + 7 points.
  size_t found = 0;
  const auto& lines = cams[0].second;
  ASSERT_FALSE(lines.empty());
  for (const Line& l : lines) {
    const bool onLeft = l.x == -2000.0f && l.y <= 0.0f && l.y > -4000.0f;
    const bool onFront = l.y == -4000.0f && l.x >= -2000.0f && l.x < 2000.0f;
    const bool onRight = l.x == 2000.0f && l.y >= -4000.0f && l.y < 0.0f;
    EXPECT_TRUE(onLeft || onFront || onRight) << l.x << "," << l.y;
    EXPECT_EQ(std::fmod(l.x, 500.0f), 0.0f);
    EXPECT_EQ(std::fmod(l.y, 500.0f), 0.0f);
    // The image position is the camera's projection of the ground point.
    float obj[3] = {l.x, l.y, 0.0f}, img[2];
    Matrix o{3, 1, obj}, i{2, 1, img};
    const LUTOB* lut = rig_->lut;
    CameraModel_ProjectPoints(2, &o, &lut->poses.R[0], &lut->poses.T[0], &lut->poses.K[0], &lut->poses.D[0], &i,
                              nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    EXPECT_NEAR(l.u, img[0], 1e-3f);
    EXPECT_NEAR(l.v, img[1], 1e-3f);
    EXPECT_GT(l.u, 0.0f);
    EXPECT_LT(l.u, 319.0f);
    ++found;
  }
  EXPECT_LE(found, 22u);
  EXPECT_GE(found, 10u);
  // (x0, 0) starts the path and no corner point is written twice.
  EXPECT_EQ(lines[0].x, -2000.0f);
  EXPECT_EQ(lines[0].y, 0.0f);
  for (size_t a = 0; a < lines.size(); ++a)
    for (size_t b = a + 1; b < lines.size(); ++b)
      EXPECT_FALSE(lines[a].x == lines[b].x && lines[a].y == lines[b].y);
}

TEST_F(RoiFile, AllCamerasAndRectanglesAwayFromTheOrigin) {
  const std::string path = state_.Path("roi.txt");
  ASSERT_EQ(GenerateROIFile(rig_->lut, path.c_str(), 15, 0, 250, -2500, -4000, 2500, 4000), 0);
  const auto cams = Read(path);
  ASSERT_EQ(cams.size(), 4u);
  EXPECT_EQ(cams[1].first, "camera back ");
  EXPECT_EQ(cams[2].first, "camera left ");
  EXPECT_EQ(cams[3].first, "camera right ");
  for (const auto& c : cams) EXPECT_FALSE(c.second.empty()) << c.first;
  // A rectangle that does not hold the origin: only the middle segments,
  // and no buffer sized on the assumption that it does.
  ASSERT_EQ(GenerateROIFile(rig_->lut, path.c_str(), 15, 0, 50, 3000, 6000, 9000, 12000), 0);
  const auto far = Read(path);
  ASSERT_EQ(far.size(), 4u);
  // Camera 1 (front): y0 > 0, so only its middle segment (at y = 6000).
  for (const Line& l : far[0].second) EXPECT_EQ(l.y, 6000.0f);
}

TEST(GroundGrid, BuildsTheFourSidedMapsOverTheGrid) {
  ScopedConfigState state;
  GlobalVariables_InitRuntimeDefaults();
  FourCameraRig rig(320, 240, 60, 100);
  const int32_t w = 30, h = 50;
  std::vector<float> buf[6];
  GroundGridMaps m{};
  Matrix* maps[6] = {&m.W1, &m.W2, &m.X1, &m.Y1, &m.X2, &m.Y2};
  for (int k = 0; k < 6; ++k) {
    buf[k].assign(w * h, 0.0f);
    *maps[k] = Matrix{w, h, buf[k].data()};
  }
  ASSERT_EQ(LUT_BuildGroundGrid(rig.lut, w, h, 1000, 0, &m), 0);
  // 3800 / 30 mm a cell: the car spans columns 8..22 (left edge at 900 mm
  // from cell 0's 1900 mm), rows 7..43 of the 50.
  const float g = 3800.0f / 30.0f;
  EXPECT_EQ(m.box[0], static_cast<int>((-900.0f + 15 * g) / g + 0.5f));
  EXPECT_EQ(m.box[2], static_cast<int>((900.0f + 15 * g) / g + 0.5f));
  EXPECT_EQ(m.box[1], static_cast<int>((-2300.0f + 25 * g) / g + 0.5f));
  for (int i = 0; i < w * h; ++i) {
    ASSERT_GE(m.W1.data[i], 0.5f);
    ASSERT_LE(m.W1.data[i], 1.0f);
  }
  // The front band's middle comes from camera 1.
  EXPECT_LT(m.X1.data[2 * w + w / 2], 320.0f);
  EXPECT_LT(m.Y1.data[2 * w + w / 2], 240.0f);
  EXPECT_EQ(LUT_BuildGroundGrid(rig.lut, 0, h, 1000, 0, &m), -1);
}

}  // namespace

namespace {

// Grid of 38 x 66 cells of 100 mm: the car box spans columns 10..28 and rows
// 10..56, so front corner cells with dr = dc lie on the 45 degree diagonal.
class GroundGridEx : public ::testing::Test {
 protected:
  static constexpr int32_t kW = 38, kH = 66;
  ScopedConfigState state_;
  std::unique_ptr<FourCameraRig> rig_;
  std::vector<float> x_, y_;
  Matrix X_{}, Y_{};
  int32_t left_ = -1, front_ = -1, right_ = -1, back_ = -1;
  float spacing_ = 0.0f;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = std::make_unique<FourCameraRig>(320, 320, 60, 100, true);
    x_.assign(kW * kH, -5.0f);
    y_.assign(kW * kH, -5.0f);
    X_ = Matrix{kW, kH, x_.data()};
    Y_ = Matrix{kW, kH, y_.data()};
  }
  void Build() {
    ASSERT_EQ(LUT_BuildGroundGridEx(rig_->lut, kW, kH, 1000, 0, &X_, &Y_, &left_, &front_, &right_, &back_, &spacing_),
              0);
  }
  int Cam(int c, int r) const {
    const float x = x_[r * kW + c], y = y_[r * kW + c];
    if (x == 0.0f && y == 0.0f) return 0;
    return 1 + (x >= 320.0f ? 1 : 0) + (y >= 320.0f ? 2 : 0);
  }
};

TEST_F(GroundGridEx, RegionsAndCornerAngles) {
  const float seam = rig_->lut->seamAngles[0];
  Build();
  EXPECT_EQ(left_, 10);
  EXPECT_EQ(right_, 28);
  EXPECT_EQ(front_, 10);
  EXPECT_EQ(back_, 56);
  EXPECT_FLOAT_EQ(spacing_, 100.0f);
  EXPECT_EQ(rig_->lut->seamAngles[0], seam);
  EXPECT_EQ(Cam(19, 5), 1);   // front band
  EXPECT_EQ(Cam(19, 60), 2);  // back band
  EXPECT_EQ(Cam(5, 30), 3);   // left band
  EXPECT_EQ(Cam(33, 30), 4);  // right band
  EXPECT_EQ(Cam(19, 30), 0);  // car box
  EXPECT_EQ(Cam(5, 5), 3);    // on the diagonal: 45 degrees, the side camera
  EXPECT_EQ(Cam(33, 5), 4);
  EXPECT_EQ(Cam(29, 65), 2);  // steep behind the car: above 75 degrees, the back camera
  EXPECT_EQ(Cam(27 - 20, 58), 3);
}

TEST_F(GroundGridEx, FrontCornersTurnToTheSidesWithoutFrontCorners) {
  rig_->lut->cornerCounts[0] = 0;
  Build();
  EXPECT_EQ(Cam(19, 5), 1);
  EXPECT_EQ(Cam(9, 0), 3);
  EXPECT_EQ(Cam(29, 0), 4);
  Matrix none{0, 0, nullptr};
  EXPECT_EQ(LUT_BuildGroundGridEx(rig_->lut, 0, 0, 1000, 0, &none, &none, nullptr, nullptr, nullptr, nullptr, nullptr),
            0);
}

}  // namespace
