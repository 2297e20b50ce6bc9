// The main road of a chessboard site end to end: a rendered layout-1 site's
// quad frame through KRV_GlobalImage_InitLUTOB_New (corner search on four
// threads, pose solving, LUT build), checked against the known poses and the
// known ground pattern, side by side with OpenCV's road on the same frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "calibration/solve/new_lut_corner_search.h"
#include "frame/global_variables.h"
#include "frame/numeric_constants.h"
#include "globalimage_api.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/calibration_site.h"
#include "testsupport/config_state.h"

namespace {

// Rotation matrix of a rotation vector, in double precision: small angle
// differences need it.
void RotationMatrix(const float* r, double R[9]) {
  const double x = r[0], y = r[1], z = r[2], th = std::sqrt(x * x + y * y + z * z);
  const double k[3] = {th > 0 ? x / th : 0, th > 0 ? y / th : 0, th > 0 ? z / th : 0};
  const double c = std::cos(th), s = std::sin(th), v = 1 - c;
  const double M[9] = {c + k[0] * k[0] * v,        k[0] * k[1] * v - k[2] * s, k[0] * k[2] * v + k[1] * s,
                       k[1] * k[0] * v + k[2] * s, c + k[1] * k[1] * v,        k[1] * k[2] * v - k[0] * s,
                       k[2] * k[0] * v - k[1] * s, k[2] * k[1] * v + k[0] * s, c + k[2] * k[2] * v};
  std::copy(M, M + 9, R);
}

// Angle of the rotation between two rotation vectors, in degrees.
double RotationErrorDeg(const float* a, const float* b) {
  double A[9], B[9], D[9];
  RotationMatrix(a, A);
  RotationMatrix(b, B);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) D[3 * i + j] = A[i] * B[j] + A[3 + i] * B[3 + j] + A[6 + i] * B[6 + j];
  const double sinPart = std::hypot(std::hypot(D[7] - D[5], D[2] - D[6]), D[3] - D[1]) / 2;
  const double cosPart = (D[0] + D[4] + D[8] - 1) / 2;
  return std::atan2(sinPart, cosPart) * 180.0 / kPiD;
}

double Distance(const float* a, const float* b) {
  return std::sqrt(double(a[0] - b[0]) * (a[0] - b[0]) + double(a[1] - b[1]) * (a[1] - b[1]) +
                   double(a[2] - b[2]) * (a[2] - b[2]));
}

struct Truth {
  SceneCamera cams[4];
  float position[4][3];
};

Truth SiteTruth(const CalibrationSite& site) {
  Truth t;
  for (int c = 0; c < 4; ++c) {
    t.cams[c] = CalibrationSite_Camera(site, c + 1);
    CalibrationSite_CameraPosition(t.cams[c], t.position[c]);
  }
  return t;
}

// Reads the site's configuration as the library would from its directory.
void LoadSiteConfig(const ScopedConfigState& state, const CalibrationSite& site) {
  state.WriteFile("globalimage_base.txt", site.BaseText());
  ScopedConfigState::ResetConfiguration();
  GlobalVariables_InitRuntimeDefaults();
  ASSERT_EQ(GlobalVariables_Init(1), 1);
}

LUTOB* RunRoad(const CalibrationSite& site, const std::vector<uint8_t>& quad, int32_t option, uint32_t* err) {
  std::vector<uint8_t> frame = quad;  // the export may filter the frame it is given
  return KRV_GlobalImage_InitLUTOB_New(1, frame.data(), 2 * site.camW, 2 * site.camH, site.carWidth,
                                       site.carLength, site.SideShift(), 900, 2700, option, 0, err);
}

// Corners of the four boards, and of the layout's square marks at the
// vehicle corners and sides (where the seams run), in the stitched
// bird's-eye view: where the LUT of `lut` shows each corner, against where
// the ground grid of the view puts it, for every camera that contributes to
// the pixel (both sides of a seam's blend). The maps are the stitching: a
// corner appears at the output pixel whose source is the corner's true image
// point.
struct BirdseyeFigures {
  int checked = 0;
  double worst = 0.0;
  int perCamera[4] = {0, 0, 0, 0};
  int blended = 0;  // corners on a seam, checked in both cameras
};

BirdseyeFigures CheckBirdseye(const LUTOB* lut, const CalibrationSite& site, const Truth& truth) {
  BirdseyeFigures f;
  const LutConfig& m = lut->cfg;
  const Matrix& g = m.groundTable;
  const int W = m.W1.cols, H = m.W1.rows;
  if (W < 8 || H < 8 || g.rows != W * H) {
    ADD_FAILURE() << "no bird's-eye maps";
    return f;
  }
  const float x0 = g.data[0], y0 = g.data[1];
  const float step = (g.data[3 * (W - 1)] - x0) / (W - 1);
  const int cw = lut->camW, ch = lut->camH;
  const auto quadrant = [&](float x, float y) { return (x >= cw ? 1 : 0) + (y >= ch ? 2 : 0); };
  // Source of output pixel i in camera q's picture (quad coordinates), if any.
  const auto source = [&](int i, int q, float* u, float* v) {
    if (m.X1.data[i] >= 0.0f && quadrant(m.X1.data[i], m.Y1.data[i]) == q) {
      *u = m.X1.data[i], *v = m.Y1.data[i];
      return true;
    }
    if (m.W1.data[i] < 0.9999f && m.X2.data[i] >= 0.0f && quadrant(m.X2.data[i], m.Y2.data[i]) == q) {
      *u = m.X2.data[i], *v = m.Y2.data[i];
      return true;
    }
    return false;
  };
  const std::vector<TargetSpec> targets = CalibrationSite_Targets(site);
  for (size_t target = 0; target < targets.size(); ++target) {
    const TargetSpec& spec = targets[target];
    for (int q = 0; q < 4; ++q) {
      const std::vector<TargetCorner> corners = Target_Corners(spec, truth.cams[q], site.camW, site.camH);
      for (const TargetCorner& tc : corners) {
        if (!tc.visible) continue;
        const float c = (tc.world[0] - x0) / step, r = (tc.world[1] - y0) / step;
        const int ci = static_cast<int>(std::lround(c)), ri = static_cast<int>(std::lround(r));
        if (ci < 2 || ri < 2 || ci > W - 3 || ri > H - 3) continue;
        float u0, v0, ux1, vx1, ux0, vx0, uy1, vy1, uy0, vy0;
        const int i = ri * W + ci;
        if (!source(i, q, &u0, &v0) || !source(i + 1, q, &ux1, &vx1) || !source(i - 1, q, &ux0, &vx0) ||
            !source(i + W, q, &uy1, &vy1) || !source(i - W, q, &uy0, &vy0))
          continue;
        // Only where a camera pixel is no larger than an output pixel can the
        // view hold a corner to output pixels.
        const double J[4] = {(ux1 - ux0) / 2.0, (uy1 - uy0) / 2.0, (vx1 - vx0) / 2.0, (vy1 - vy0) / 2.0};
        const double det = J[0] * J[3] - J[1] * J[2];
        if (std::fabs(det) < 1e-9 || std::hypot(J[0], J[2]) < 1.0 || std::hypot(J[1], J[3]) < 1.0) continue;
        const double du = tc.u + (q % 2) * cw - u0, dv = tc.v + (q / 2) * ch - v0;
        const double oc = ci + (J[3] * du - J[1] * dv) / det, orow = ri + (-J[2] * du + J[0] * dv) / det;
        const double err = std::hypot(oc - c, orow - r);
        f.worst = std::max(f.worst, err);
        ++f.checked;
        ++f.perCamera[q];
        if (m.W1.data[i] < 0.9999f) ++f.blended;
        EXPECT_LE(err, 2.0) << "target " << target << " corner (" << tc.world[0] << ", " << tc.world[1]
                            << ") in camera " << q + 1 << ": expected at (" << c << ", " << r << "), shown at ("
                            << oc << ", " << orow << ")";
      }
    }
  }
  return f;
}

// OpenCV's road on one camera picture: findChessboardCorners, cornerSubPix,
// fisheye::undistortPoints with the true intrinsics, solvePnP on the board's
// world points (correspondences by the nearest true corner).
struct OpenCvFigures {
  bool found = false;
  double cornerRms = 0, rotDeg = 0, posMm = 0;
};

OpenCvFigures OpenCvRoad(const CalibrationSite& site, const std::vector<uint8_t>& quad, int camera,
                         const Truth& truth) {
  OpenCvFigures f;
  const int W = site.camW, H = site.camH, q = camera - 1;
  cv::Mat quadM(2 * H, 2 * W, CV_8U, const_cast<uint8_t*>(quad.data()));
  cv::Mat img = quadM(cv::Rect((q % 2) * W, (q / 2) * H, W, H)).clone();
  std::vector<cv::Point2f> pts;
  const cv::Size pattern(site.boardCols - 1, site.boardRows - 1);
  if (!cv::findChessboardCorners(img, pattern, pts, cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_NORMALIZE_IMAGE))
    return f;
  cv::cornerSubPix(img, pts, cv::Size(5, 5), cv::Size(-1, -1),
                   cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 40, 0.01));
  const std::vector<TargetCorner> truthCorners =
      Target_Corners(CalibrationSite_Board(site, camera), truth.cams[q], W, H);
  std::vector<cv::Point3d> world;
  double sq = 0;
  for (const cv::Point2f& p : pts) {
    const TargetCorner* best = nullptr;
    double bd = 1e30;
    for (const TargetCorner& tc : truthCorners) {
      const double d = std::hypot(tc.u - p.x, tc.v - p.y);
      if (d < bd) bd = d, best = &tc;
    }
    sq += bd * bd;
    world.emplace_back(best->world[0], best->world[1], best->world[2]);
  }
  f.cornerRms = std::sqrt(sq / pts.size());
  const SceneCamera& cam = truth.cams[q];
  const double fx = cam.D[0];
  cv::Matx33d K(fx, 0, cam.K[2], 0, fx, cam.K[5], 0, 0, 1);
  // Lens model 2 is the equidistant fisheye; model 1 (equisolid,
  // 2 sin(theta / 2)) is its odd series in theta.
  cv::Vec4d D = site.model == 1 ? cv::Vec4d(-1.0 / 24, 1.0 / 1920, -1.0 / 322560, 1.0 / 92897280)
                                : cv::Vec4d(cam.D[1] / fx, cam.D[2] / fx, 0, 0);
  std::vector<cv::Point2d> in(pts.begin(), pts.end()), und;
  cv::fisheye::undistortPoints(in, und, K, D);
  cv::Mat rvec, tvec;
  cv::solvePnP(world, und, cv::Matx33d::eye(), cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_ITERATIVE);
  cv::Matx33d R;
  cv::Rodrigues(rvec, R);
  const cv::Vec3d t(tvec);
  const cv::Vec3d pos = -(R.t() * t);
  const float r[3] = {static_cast<float>(rvec.at<double>(0)), static_cast<float>(rvec.at<double>(1)),
                      static_cast<float>(rvec.at<double>(2))};
  const float p[3] = {static_cast<float>(pos[0]), static_cast<float>(pos[1]), static_cast<float>(pos[2])};
  f.rotDeg = RotationErrorDeg(r, cam.r);
  f.posMm = Distance(p, truth.position[q]);
  f.found = true;
  return f;
}

// RMS distance of the object's image points (row, column pairs) of a camera
// to the nearest true corner, in pixels.
double OurCornerRms(const LUTOB* lut, const CalibrationSite& site, int camera, const Truth& truth) {
  const int q = camera - 1, n = lut->cornerCounts[q];
  if (n <= 0 || lut->imagePoints[q] == nullptr) return -1;
  const std::vector<TargetCorner> truthCorners =
      Target_Corners(CalibrationSite_Board(site, camera), truth.cams[q], site.camW, site.camH);
  double sq = 0;
  for (int k = 0; k < n; ++k) {
    const float y = lut->imagePoints[q][2 * k], x = lut->imagePoints[q][2 * k + 1];
    double bd = 1e30;
    for (const TargetCorner& tc : truthCorners) bd = std::min(bd, static_cast<double>(std::hypot(tc.u - x, tc.v - y)));
    sq += bd * bd;
  }
  return std::sqrt(sq / n);
}

struct RoadCase {
  const char* name;
  const char* id;
  CalibrationSite (*site)(int32_t model);
  int32_t model;
};

const RoadCase kRoads[] = {
    {"compact car, lens model 2", "CompactModel2", CalibrationSite_Compact, 2},
    {"compact car, lens model 1", "CompactModel1", CalibrationSite_Compact, 1},
    {"large car, lens model 2", "LargeModel2", CalibrationSite_Large, 2},
    {"large car, lens model 1", "LargeModel1", CalibrationSite_Large, 1},
};

class CalibrateRoad : public ::testing::TestWithParam<RoadCase> {
 protected:
  ScopedConfigState state_;
};

// The checking machinery itself: a LUT built from the true poses shows every
// corner where the ground pattern puts it.
TEST(CalibrateRoadCheck, TruePosesShowTheGroundPatternInPlace) {
  ScopedConfigState state;
  const CalibrationSite site = CalibrationSite_Compact(2);
  LoadSiteConfig(state, site);
  const Truth truth = SiteTruth(site);
  LUTOB* lut = LUTOB_Create();
  LutConfig_Init(&lut->cfg, site.carWidth, site.carLength, site.SideShift(), 900, 2700, site.model, 1, 0, 0);
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  lut->camW = site.camW;
  lut->camH = site.camH;
  for (int c = 0; c < 4; ++c) {
    std::copy(truth.cams[c].K, truth.cams[c].K + 9, lut->params.K[c]);
    std::copy(truth.cams[c].D, truth.cams[c].D + 8, lut->params.D[c]);
    std::copy(truth.cams[c].r, truth.cams[c].r + 3, lut->params.R[c]);
    std::copy(truth.cams[c].T, truth.cams[c].T + 3, lut->params.T[c]);
    lut->cornerCounts[c] = 24;
    lut->seamAngles[c] = gv().config.seamAngle[c];
  }
  ASSERT_EQ(LUT_GenerateMergerLUT(lut, 0, 0), 0);
  const BirdseyeFigures f = CheckBirdseye(lut, site, truth);
  printf("true poses: %d corners checked (cameras %d %d %d %d, %d on seams), largest offset %.3f output px\n",
         f.checked, f.perCamera[0], f.perCamera[1], f.perCamera[2], f.perCamera[3], f.blended, f.worst);
  EXPECT_GE(f.checked, 60);
  EXPECT_LT(f.worst, 0.5);
  for (int q = 0; q < 4; ++q) EXPECT_GT(f.perCamera[q], 0) << q;
  LUTOB_Destroy(lut);
}

TEST_P(CalibrateRoad, EveryCameraWithinTolerancesAndTheBirdseyeInPlace) {
  const RoadCase& rc = GetParam();
  const CalibrationSite site = rc.site(rc.model);
  LoadSiteConfig(state_, site);
  const Truth truth = SiteTruth(site);
  const std::vector<uint8_t> quad = CalibrationSite_RenderQuad(site);
  uint32_t err = 99;
  LUTOB* lut = RunRoad(site, quad, site.model, &err);
  ASSERT_NE(lut, nullptr) << "result " << err;
  EXPECT_EQ(err, 0u);
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c + 1);
    const float pos[3] = {-lut->params.T[c][0], -lut->params.T[c][1], -lut->params.T[c][2]};
    const double rot = RotationErrorDeg(lut->params.R[c], truth.cams[c].r);
    const double dist = Distance(pos, truth.position[c]);
    const OpenCvFigures cv = OpenCvRoad(site, quad, c + 1, truth);
    printf("[%s] camera %d: ours %d corners, corner rms %.3f px, fit %.3f px, %.4f deg, %.2f mm | OpenCV %s",
           rc.name, c + 1, lut->cornerCounts[c], OurCornerRms(lut, site, c + 1, truth),
           static_cast<double>(gv().lastCalibResult[c]), rot, dist, cv.found ? "found" : "not found");
    if (cv.found) printf(", corner rms %.3f px, %.4f deg, %.2f mm", cv.cornerRms, cv.rotDeg, cv.posMm);
    printf("\n");
    EXPECT_GT(lut->cornerCounts[c], 0);
    EXPECT_LE(rot, 0.25);
    EXPECT_LE(dist, 15.0);
  }
  const BirdseyeFigures f = CheckBirdseye(lut, site, truth);
  printf("[%s] bird's-eye: %d corners checked (%d on seams, in both cameras), largest offset %.2f output px\n",
         rc.name, f.checked, f.blended, f.worst);
  EXPECT_GE(f.checked, 60);
  for (int q = 0; q < 4; ++q) EXPECT_GT(f.perCamera[q], 0) << q;
  KRV_GlobalImage_UnInitLUTOB(lut);
}

INSTANTIATE_TEST_SUITE_P(Sites, CalibrateRoad, ::testing::ValuesIn(kRoads),
                         [](const ::testing::TestParamInfo<RoadCase>& info) { return std::string(info.param.id); });

// One camera's board hidden: that camera's code with every camera enabled;
// with that camera left out of the mask the other three still solve.
TEST(CalibrateRoadHidden, HiddenBoardGivesItsCameraCodeOthersUnaffected) {
  ScopedConfigState state;
  CalibrationSite site = CalibrationSite_Compact(2);
  site.hiddenBoard = 3;
  LoadSiteConfig(state, site);
  const Truth truth = SiteTruth(site);
  const std::vector<uint8_t> quad = CalibrationSite_RenderQuad(site);
  uint32_t err = 0;
  EXPECT_EQ(RunRoad(site, quad, site.model, &err), nullptr);
  EXPECT_EQ(err, 19u);

  // Mask 0xB: camera 3's bit clear (the export takes the mask from option
  // bits 4 and up).
  err = 99;
  LUTOB* lut = RunRoad(site, quad, site.model | (0xB << 4), &err);
  ASSERT_NE(lut, nullptr) << err;
  EXPECT_EQ(lut->cornerCounts[2], 0);
  for (int c : {0, 1, 3}) {
    SCOPED_TRACE(c + 1);
    const float pos[3] = {-lut->params.T[c][0], -lut->params.T[c][1], -lut->params.T[c][2]};
    EXPECT_LE(RotationErrorDeg(lut->params.R[c], truth.cams[c].r), 0.25);
    EXPECT_LE(Distance(pos, truth.position[c]), 15.0);
  }
  KRV_GlobalImage_UnInitLUTOB(lut);
}

}  // namespace
