// Runs `avmhost bowl` on the sample rig: the floor of the bowl view lies
// where the view matrix puts the known chessboard, and the 3-D LUT's picture
// of the same view agrees with the drawn meshes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "globalimage_api.h"
#include "surround/bowl_grid.h"
#include "surround/view_matrix.h"
#include "frame/global_variables.h"
#include "testsupport/config_state.h"
#include "tools/avmhost/bowl_views.h"
#include "tools/avmhost/host_image.h"
#include "tools/avmhost/test/host_runner.h"
#include "tools/avmsample/sample_rig.h"

namespace {

class AvmhostBowlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ScopedConfigState state;
    dir_ = new std::string(std::filesystem::temp_directory_path() / ("avmbowl" + std::to_string(getpid())));
    ASSERT_TRUE(WriteSampleRig(*dir_ + "/sample"));
    std::string out;
    status_ = RunHost("bowl --data " + *dir_ + "/sample --out " + *dir_ + "/out", &out);
    log_ = new std::string(out);
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(*dir_, ec);
    delete dir_;
    delete log_;
  }
  static HostImage Picture(const std::string& name) {
    HostImage img;
    EXPECT_TRUE(HostImage_ReadBmp(*dir_ + "/out/" + name, &img, 1)) << name;
    return img;
  }
  static std::string* dir_;
  static std::string* log_;
  static int status_;
};
std::string* AvmhostBowlTest::dir_ = nullptr;
std::string* AvmhostBowlTest::log_ = nullptr;
int AvmhostBowlTest::status_ = -1;

TEST_F(AvmhostBowlTest, EveryPictureIsWritten) {
  ASSERT_EQ(status_, 0) << *log_;
  for (const BowlOrbit& o : kBowlOrbits) {
    const HostImage img = Picture(std::string("bowl_") + o.name + ".bmp");
    EXPECT_EQ(img.width, kBowlPictureW);
    EXPECT_EQ(img.height, kBowlPictureH);
    size_t drawn = 0;
    for (uint8_t v : img.data) drawn += v != 0;
    EXPECT_GT(drawn, img.data.size() / 2) << o.name;
  }
  EXPECT_EQ(Picture("lut3d_top.bmp").width, kBowlPictureW);
}

TEST_F(AvmhostBowlTest, FloorCornersLandWhereTheViewMatrixPutsThem) {
  ASSERT_EQ(status_, 0) << *log_;
  // The floor of both bowls: inside the side cameras' floor ellipse.
  const double A = 2400 + 900, B = 3400 + 2300;
  // The seam maps of the same rig: in the close views only corners that one
  // camera group covers alone are held to a pixel (across a seam two
  // cameras of different sharpness are blended, which moves a blurred
  // corner's apparent centre), and only beyond 1.5 m of the car: nearer, a
  // mesh cell spans a steep part of the side cameras' fisheye mapping and
  // its linear texture is off by a few pixels in a close view (the 3-D
  // LUT's per-pixel picture holds those corners within a pixel).
  ScopedConfigState state;
  GlobalVariables_InitRuntimeDefaults();
  D3DGrid* grid = KRV_GlobalImage_Init3DTrianOB((*dir_ + "/sample/lut_config.krv").c_str());
  ASSERT_NE(grid, nullptr);
  const auto alone = [&](float X, float Y) {
    float gx, gy;
    D3DGrid_ViewPoint(grid, X, Y, grid->height, &gx, &gy);
    const int c = static_cast<int>(std::lround(grid->cols / 2 + gx)), r = static_cast<int>(std::lround(grid->rows / 2 + gy));
    for (int dr = -3; dr <= 3; ++dr)
      for (int dc = -3; dc <= 3; ++dc) {
        const float a = grid->seamA.data[(r + dr) * grid->cols + c + dc];
        if (a != 0.0f && a != 1.0f) return false;
      }
    return true;
  };
  // The side views show little floor beyond that near field: the top,
  // rear and front views are checked.
  for (const BowlOrbit& o : kBowlOrbits) {
    const std::string name = o.name;
    if (name != "top" && name != "rear" && name != "front") continue;
    const bool close = o.pitch != 0.0f;
    const HostImage img = Picture(std::string("bowl_") + o.name + ".bmp");
    cv::Mat grey(img.height, img.width, CV_8U, const_cast<uint8_t*>(img.data.data()));
    float m[16];
    Generate3DMVP(m, 1.0f, static_cast<float>(kBowlPictureW) / kBowlPictureH, 0, 0, o.pitch, o.yaw, o.distance, 0,
                  0);
    const auto pixel = [&](float X, float Y, float* px, float* py) {
      const float v[4] = {X, -Y, 0, 1};
      float r[4];
      for (int k = 0; k < 4; ++k) r[k] = m[4 * k] * v[0] + m[4 * k + 1] * v[1] + m[4 * k + 2] * v[2] + m[4 * k + 3];
      *px = (r[0] / r[3] + 1) * (kBowlPictureW / 2);
      *py = (1 - r[1] / r[3]) * (kBowlPictureH / 2);
      return r[3] > 0.0f;
    };
    int checked = 0;
    double worst = 0.0;
    for (int j = 1; j < kSampleSquaresY; ++j)
      for (int i = 1; i < kSampleSquaresX; ++i) {
        const float X = kSampleBoardX0 + i * kSampleSquare, Y = kSampleBoardY0 + j * kSampleSquare;
        if (std::fabs(X) < 900 + 400 && std::fabs(Y) < 2300 + 400) continue;  // the car and its edge
        const double ex = X / (A - 300), ey = Y / (B - 300);
        if (ex * ex + ey * ey >= 1.0) continue;
        float px, py;
        if (close && (!alone(X, Y) || (std::fabs(X) <= 900 + 1500 && std::fabs(Y) <= 2300 + 1500))) continue;
        if (!pixel(X, Y, &px, &py) || px < 12 || py < 12 || px > kBowlPictureW - 13 || py > kBowlPictureH - 13)
          continue;
        // Squares drawn large enough to find their corner to a pixel.
        float ax, ay, bx, by;
        pixel(X + kSampleSquare / 2, Y, &ax, &ay);
        pixel(X, Y + kSampleSquare / 2, &bx, &by);
        if (std::min(std::hypot(ax - px, ay - py), std::hypot(bx - px, by - py)) < 6.0f) continue;
        const int ci = static_cast<int>(std::lround(px)), ri = static_cast<int>(std::lround(py));
        const auto q = [&](float dx, float dy) {
          return static_cast<int>(grey.at<uint8_t>(static_cast<int>(std::lround(py + dy)), static_cast<int>(std::lround(px + dx))));
        };
        // A chessboard corner: diagonal quadrants alike, neighbours opposite
        // (along the drawn square edges).
        const float ux = (ax - px) / 2, uy = (ay - py) / 2, vx = (bx - px) / 2, vy = (by - py) / 2;
        EXPECT_GT(std::abs((q(ux + vx, uy + vy) + q(-ux - vx, -uy - vy)) - (q(ux - vx, uy - vy) + q(vx - ux, vy - uy))),
                  150)
            << o.name << ": no corner at " << X << "," << Y << " (" << ci << ", " << ri << ")";
        std::vector<cv::Point2f> pt = {cv::Point2f(px, py)};
        cv::cornerSubPix(grey, pt, cv::Size(4, 4), cv::Size(-1, -1),
                         cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 40, 0.01));
        const double d = std::hypot(pt[0].x - px, pt[0].y - py);
        worst = std::max(worst, d);
        EXPECT_LE(d, 1.0) << o.name << ": corner (" << X << ", " << Y << ") expected at (" << px << ", " << py
                          << "), found at (" << pt[0].x << ", " << pt[0].y << ")";
        ++checked;
      }
    EXPECT_GE(checked, close ? 15 : 200) << o.name;
    printf("%s: %d floor corners, largest offset %.2f px\n", o.name, checked, worst);
  }
  KRV_GlobalImage_UnInit3DTrianOB(grid);
}

TEST_F(AvmhostBowlTest, LutPictureAgreesWithTheMeshPicture) {
  ASSERT_EQ(status_, 0) << *log_;
  const HostImage mesh = Picture("bowl_top.bmp"), lut = Picture("lut3d_top.bmp");
  ASSERT_EQ(mesh.data.size(), lut.data.size());
  double sum = 0.0;
  size_t both = 0;
  for (size_t i = 0; i < mesh.data.size(); ++i) {
    if (mesh.data[i] == 0 || lut.data[i] == 0) continue;
    sum += std::abs(static_cast<int>(mesh.data[i]) - static_cast<int>(lut.data[i]));
    ++both;
  }
  ASSERT_GT(both, mesh.data.size() / 2);
  const double mean = sum / both;
  printf("mesh and 3-D LUT pictures: mean difference %.2f grey levels over %zu pixels\n", mean, both);
  EXPECT_LE(mean, 2.0);
}

TEST(AvmhostBowlArgs, BadArgumentsAreReported) {
  std::string out;
  EXPECT_EQ(RunHost("bowl --out /dev/null", &out), 2);
  out.clear();
  EXPECT_EQ(RunHost("bowl --data /nonexistent-dir --frame /nonexistent-dir/q.bmp --out /tmp", &out), 1);
  EXPECT_NE(out.find("q.bmp"), std::string::npos);
}

}  // namespace
