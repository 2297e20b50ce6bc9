// Pose solving against the truth and against OpenCV: corners of a board seen
// from known poses through lens models 1 to 4, solved by CalibrateCamera and
// by OpenCV's fisheye undistortion followed by solvePnP.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <vector>

#include "camera/camera_model.h"
#include "solve_test_support.h"

namespace {

struct PoseCase {
  float heightMm, distanceMm, yawDeg;
};
// Cameras 0.6 to 1.2 m high, boards 0.5 to 3 m away.
const PoseCase kPoses[] = {{600, 500, 0}, {800, 1500, 20}, {1000, 2000, -35}, {1200, 3000, 10}, {1200, 500, 60}};

// OpenCV's fisheye form of one of our lens models (K[0] 1, no skew): the
// radial curve r(theta) of the model fitted by theta_d = theta (1 + k1 theta^2
// + ... + k4 theta^8) with f = r'(0).
struct FisheyeForm {
  cv::Matx33d K;
  cv::Vec4d k;
  double worstPx = 0.0;  // largest difference of the fitted curve, pixels
};

FisheyeForm FisheyeOf(const SceneCamera& cam) {
  Matrix K{3, 3, const_cast<float*>(cam.K)}, D{1, 8, const_cast<float*>(cam.D)};
  auto radius = [&](double theta) {
    float u = 0, v = 0;
    CameraModel_UndistPointToImage(cam.model, &K, &D, &u, &v, cam.slot, static_cast<float>(theta), 1.0f, 0.0f);
    return static_cast<double>(u) - cam.K[2];
  };
  const double f = radius(0.01) / 0.01;
  const int n = 400;
  cv::Mat A(n, 4, CV_64F), b(n, 1, CV_64F);
  std::vector<double> th(n), r(n);
  for (int i = 0; i < n; ++i) {
    th[i] = 0.02 + 1.5 * i / (n - 1);
    r[i] = radius(th[i]);
    for (int p = 0; p < 4; ++p) A.at<double>(i, p) = std::pow(th[i], 2 * p + 3);
    b.at<double>(i) = r[i] / f - th[i];
  }
  cv::Mat x;
  cv::solve(A, b, x, cv::DECOMP_SVD);
  FisheyeForm out;
  out.k = cv::Vec4d(x.at<double>(0), x.at<double>(1), x.at<double>(2), x.at<double>(3));
  for (int i = 0; i < n; ++i) {
    double td = th[i];
    for (int p = 0; p < 4; ++p) td += out.k[p] * std::pow(th[i], 2 * p + 3);
    out.worstPx = std::max(out.worstPx, std::fabs(f * td - r[i]));
  }
  out.K = cv::Matx33d(cam.K[0] * f, 0, cam.K[2], 0, f, cam.K[5], 0, 0, 1);
  return out;
}

// OpenCV's pose in our convention: camera = R (world + T).
struct Pose {
  float r[3], T[3];
};

Pose OpenCvPose(const PoseScene& s, const FisheyeForm& fe) {
  std::vector<cv::Point2d> distorted;
  std::vector<cv::Point3d> object;
  for (int i = 0; i < s.count; ++i) {
    distorted.emplace_back(s.image[2 * i + 1], s.image[2 * i]);
    object.emplace_back(s.world[3 * i], s.world[3 * i + 1], s.world[3 * i + 2]);
  }
  std::vector<cv::Point2d> normalised;
  cv::fisheye::undistortPoints(distorted, normalised, fe.K, fe.k);
  cv::Mat rvec, tvec;
  cv::solvePnP(object, normalised, cv::Matx33d::eye(), cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_ITERATIVE);
  cv::Mat Rm;
  cv::Rodrigues(rvec, Rm);
  cv::Mat T = Rm.t() * tvec;
  Pose p;
  for (int k = 0; k < 3; ++k) {
    p.r[k] = static_cast<float>(rvec.at<double>(k));
    p.T[k] = static_cast<float>(T.at<double>(k));
  }
  return p;
}

// Reprojection RMS (pixels) of a pose through the scene's true lens.
double ReprojectionRms(const PoseScene& s, const float* r, const float* T) {
  std::vector<float> world = s.world, image(static_cast<size_t>(2 * s.count));
  Matrix W{3, s.count, world.data()}, I{2, s.count, image.data()};
  float rr[3] = {r[0], r[1], r[2]}, tt[3] = {T[0], T[1], T[2]};
  float k[9], d[8];
  memcpy(k, s.cam.K, sizeof k);
  memcpy(d, s.cam.D, sizeof d);
  Matrix Rm{1, 3, rr}, Tm{1, 3, tt}, K{3, 3, k}, D{1, 8, d};
  CameraModel_ProjectPoints(s.cam.model, &W, &Rm, &Tm, &K, &D, &I, nullptr, nullptr, nullptr, nullptr, nullptr,
                            s.cam.slot);
  double sum = 0.0;
  for (int i = 0; i < s.count; ++i) {
    const double du = image[2 * i] - s.image[2 * i + 1], dv = image[2 * i + 1] - s.image[2 * i];
    sum += du * du + dv * dv;
  }
  return std::sqrt(sum / s.count);
}

class PoseGroundTruthTest : public ::testing::Test {
 protected:
  ScopedConfigState state;
  void SetUp() override {
    InstallLensTables(state);
    gv().CalibLayoutCode = 1;
    for (float& l : gv().presetLimit) l = 2.0f;
  }
};

// Our pose with the intrinsics held at the truth: models 1, 2 and 4 through
// the pose-only lens fit (mode 3; model 4's search grid holds the truth),
// model 3 through CalibrateCamera with the slot's fixed intrinsics.
SolveResult PoseWithTruthIntrinsics(LutConfig* cfg, PoseScene& s) {
  if (s.cam.model == 3) {
    HoldModel3Intrinsics(s.cam, s.width, s.height);
    return SolveScene(cfg, s, 1);
  }
  SolveResult r;
  memcpy(r.K, s.cam.K, sizeof r.K);
  memcpy(r.D, s.cam.D, sizeof r.D);
  std::vector<float> xy(static_cast<size_t>(2 * s.count));
  for (int i = 0; i < s.count; ++i) {
    xy[2 * i] = s.image[2 * i + 1];
    xy[2 * i + 1] = s.image[2 * i];
  }
  Matrix W{3, s.count, s.world.data()}, I{2, s.count, xy.data()};
  Matrix K{3, 3, r.K}, D{1, 8, r.D}, R{1, 3, r.R}, T{1, 3, r.T};
  const float err = CameraModel_Calibrate(s.width, s.height, s.cam.model, &W, &I, &K, &D, &R, kCalibFitEpsilon, &T, 3,
                                          100, 0, s.cam.slot);
  r.ret = err < 2.0f ? 0 : -2;
  return r;
}

// Models 1, 2 and 4 solve their intrinsics too (focal aspect, second lens
// term); model 3 runs with the slot's fixed intrinsics (with a free
// principal point a single board trades it against rotation by about 0.1
// degree at the lens table's 1/400 degree steps).
TEST_F(PoseGroundTruthTest, ExactCornersGiveBackThePoseForEveryModel) {
  for (int model = 1; model <= 4; ++model) {
    LutConfig cfg = OneModelConfig(model);
    for (const PoseCase& pc : kPoses) {
      PoseScene s = PoseScene_Make(TruthIntrinsics(model), pc.heightMm, pc.distanceMm, pc.yawDeg);
      ASSERT_EQ(s.count, 48) << model;
      if (model == 3) HoldModel3Intrinsics(s.cam, s.width, s.height);
      const SolveResult r = SolveScene(&cfg, s, 1);
      ASSERT_EQ(r.ret, 0) << "model " << model << " height " << pc.heightMm << " distance " << pc.distanceMm;
      const double rot = PoseScene_RotationErrorDeg(r.R, s.cam.r), pos = PoseScene_PositionErrorMm(r.T, s.cam.T);
      printf("[ exact ] model %d h %4.0f d %4.0f yaw %3.0f: rotation %.5f deg, position %.4f mm, rms %.5f px\n",
             model, pc.heightMm, pc.distanceMm, pc.yawDeg, rot, pos, gv().lastCalibResult[0]);
      EXPECT_LT(rot, 0.01) << "model " << model << " h " << pc.heightMm << " d " << pc.distanceMm;
      EXPECT_LT(pos, 0.5) << "model " << model << " h " << pc.heightMm << " d " << pc.distanceMm;
    }
  }
}

// Mean errors over seeded noise of 0.3 px: ours with the intrinsics held,
// as OpenCV's PnP holds them, within 10 % of OpenCV's (plus 0.002 degree
// and 0.05 mm for the float arithmetic of the fit). Model 4's fit has no
// pose-only mode (its search re-chooses scale and second term on its grid,
// which noise can move off the truth), so only its rotation is held to
// OpenCV's.
TEST_F(PoseGroundTruthTest, NoisyCornersSolveAsWellAsOpenCv) {
  constexpr int kSeeds = 6;
  for (int model = 1; model <= 4; ++model) {
    LutConfig cfg = OneModelConfig(model);
    const FisheyeForm fe = FisheyeOf(TruthIntrinsics(model));
    ASSERT_LT(fe.worstPx, 0.06) << model;
    for (const PoseCase& pc : kPoses) {
      double ours[2] = {0, 0}, cv[2] = {0, 0};
      int solved = 0;
      for (int seed = 1; seed <= kSeeds; ++seed) {
        PoseScene s = PoseScene_Make(TruthIntrinsics(model), pc.heightMm, pc.distanceMm, pc.yawDeg, 0.3f, seed);
        const SolveResult r = PoseWithTruthIntrinsics(&cfg, s);
        // Model 4's grid search may find its best scale at the grid's edge
        // with a better score beyond (a far board hardly fixes the scale):
        // that is a failed fit, not a pose to compare.
        if (model == 4 && r.ret != 0) continue;
        ASSERT_EQ(r.ret, 0) << model;
        ++solved;
        const Pose p = OpenCvPose(s, fe);
        ours[0] += PoseScene_RotationErrorDeg(r.R, s.cam.r);
        ours[1] += PoseScene_PositionErrorMm(r.T, s.cam.T);
        cv[0] += PoseScene_RotationErrorDeg(p.r, s.cam.r);
        cv[1] += PoseScene_PositionErrorMm(p.T, s.cam.T);
      }
      ASSERT_GE(solved, kSeeds / 2) << "model " << model << " h " << pc.heightMm << " d " << pc.distanceMm;
      for (double* v : {ours, cv})
        for (int k = 0; k < 2; ++k) v[k] /= solved;
      printf("[ noisy, intrinsics held ] model %d h %4.0f d %4.0f yaw %3.0f: rotation %.4f (OpenCV %.4f) deg, "
             "position %.2f (OpenCV %.2f) mm\n",
             model, pc.heightMm, pc.distanceMm, pc.yawDeg, ours[0], cv[0], ours[1], cv[1]);
      EXPECT_LE(ours[0], 1.1 * cv[0] + 0.002) << "model " << model << " h " << pc.heightMm << " d " << pc.distanceMm;
      if (model != 4) {
        EXPECT_LE(ours[1], 1.1 * cv[1] + 0.05) << "model " << model << " h " << pc.heightMm << " d " << pc.distanceMm;
      }
    }
  }
}

// OpenCV's own full solve of one view: cv::fisheye::calibrate started from
// the true intrinsics (which favours it), principal point and skew fixed,
// k2..k4 held at the truth; it estimates k1 and the pose, and the focal
// lengths too unless fixFocal holds them at the truth.
Pose OpenCvFullSolve(const PoseScene& s, const FisheyeForm& fe, bool fixFocal) {
  std::vector<std::vector<cv::Point2d>> image(1);
  std::vector<std::vector<cv::Point3d>> object(1);
  for (int i = 0; i < s.count; ++i) {
    image[0].emplace_back(s.image[2 * i + 1], s.image[2 * i]);
    object[0].emplace_back(s.world[3 * i], s.world[3 * i + 1], s.world[3 * i + 2]);
  }
  cv::Matx33d K = fe.K;
  cv::Vec4d k = fe.k;
  std::vector<cv::Vec3d> rvecs, tvecs;
  int flags = cv::fisheye::CALIB_USE_INTRINSIC_GUESS | cv::fisheye::CALIB_RECOMPUTE_EXTRINSIC |
              cv::fisheye::CALIB_FIX_SKEW | cv::fisheye::CALIB_FIX_PRINCIPAL_POINT | cv::fisheye::CALIB_FIX_K2 |
              cv::fisheye::CALIB_FIX_K3 | cv::fisheye::CALIB_FIX_K4;
  if (fixFocal) flags |= cv::fisheye::CALIB_FIX_FOCAL_LENGTH;
  cv::fisheye::calibrate(object, image, cv::Size(s.width, s.height), K, k, rvecs, tvecs, flags,
                         cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, 1e-12));
  cv::Mat m;
  cv::Rodrigues(rvecs[0], m);
  const cv::Vec3d T = cv::Matx33d(m).t() * tvecs[0];
  Pose p;
  for (int c = 0; c < 3; ++c) {
    p.r[c] = static_cast<float>(rvecs[0][c]);
    p.T[c] = static_cast<float>(T[c]);
  }
  return p;
}

// The full solve of CalibrateCamera also estimates the focal aspect and the
// second lens term from the one board, so noise moves the camera along its
// view more than a PnP with known intrinsics; the figures are printed beside
// OpenCV's and bounded loosely. For model 2 (OpenCV's fisheye form within
// 1e-3 px) they are printed beside OpenCV's own one-view calibration too:
// with its focal length free it is far off (degrees, hundreds of mm), ours
// stays within tenths of a degree because the search grid holds the scale;
// held at the true focal length OpenCV is better by what the grid's scale
// step allows.
TEST_F(PoseGroundTruthTest, NoisyCornersFullSolve) {
  constexpr int kSeeds = 4;
  for (int model : {1, 2, 4}) {
    LutConfig cfg = OneModelConfig(model);
    const FisheyeForm fe = FisheyeOf(TruthIntrinsics(model));
    for (const PoseCase& pc : kPoses) {
      double ours[2] = {0, 0}, cv[2] = {0, 0}, cvFree[2] = {0, 0}, cvHeld[2] = {0, 0};
      for (int seed = 1; seed <= kSeeds; ++seed) {
        PoseScene s = PoseScene_Make(TruthIntrinsics(model), pc.heightMm, pc.distanceMm, pc.yawDeg, 0.3f, seed);
        const SolveResult r = SolveScene(&cfg, s, 1);
        ASSERT_EQ(r.ret, 0) << model;
        const Pose p = OpenCvPose(s, fe);
        ours[0] += PoseScene_RotationErrorDeg(r.R, s.cam.r) / kSeeds;
        ours[1] += PoseScene_PositionErrorMm(r.T, s.cam.T) / kSeeds;
        cv[0] += PoseScene_RotationErrorDeg(p.r, s.cam.r) / kSeeds;
        cv[1] += PoseScene_PositionErrorMm(p.T, s.cam.T) / kSeeds;
        if (model == 2) {
          const Pose f = OpenCvFullSolve(s, fe, false), h = OpenCvFullSolve(s, fe, true);
          cvFree[0] += PoseScene_RotationErrorDeg(f.r, s.cam.r) / kSeeds;
          cvFree[1] += PoseScene_PositionErrorMm(f.T, s.cam.T) / kSeeds;
          cvHeld[0] += PoseScene_RotationErrorDeg(h.r, s.cam.r) / kSeeds;
          cvHeld[1] += PoseScene_PositionErrorMm(h.T, s.cam.T) / kSeeds;
        }
      }
      printf("[ noisy, full solve ] model %d h %4.0f d %4.0f yaw %3.0f: rotation %.4f (OpenCV PnP %.4f) deg, "
             "position %.2f (OpenCV PnP %.2f) mm\n",
             model, pc.heightMm, pc.distanceMm, pc.yawDeg, ours[0], cv[0], ours[1], cv[1]);
      if (model == 2)
        printf("    beside OpenCV's one-view calibration: rotation focal free %.4f, held %.4f deg; "
               "position focal free %.2f, held %.2f mm\n",
               cvFree[0], cvHeld[0], cvFree[1], cvHeld[1]);
      const double range = std::hypot(pc.heightMm, pc.distanceMm + 350.0f);
      EXPECT_LT(ours[0], 0.6) << model;
      EXPECT_LT(ours[1], 0.05 * range) << model;
    }
  }
}

TEST_F(PoseGroundTruthTest, ModelTwoPoseSideBySideWithOpenCv) {
  const SceneCamera truth = TruthIntrinsics(2);
  const FisheyeForm fe = FisheyeOf(truth);
  ASSERT_LT(fe.worstPx, 1e-3);
  for (const PoseCase& pc : kPoses) {
    PoseScene s = PoseScene_Make(truth, pc.heightMm, pc.distanceMm, pc.yawDeg, 0.3f, 11);
    // Our pose with the intrinsics held at the truth (fit mode 3).
    float k[9], d[8], r[3] = {0, 0, 0}, t[3] = {0, 0, 0};
    memcpy(k, truth.K, sizeof k);
    memcpy(d, truth.D, sizeof d);
    std::vector<float> xy(static_cast<size_t>(2 * s.count));
    for (int i = 0; i < s.count; ++i) {
      xy[2 * i] = s.image[2 * i + 1];
      xy[2 * i + 1] = s.image[2 * i];
    }
    Matrix W{3, s.count, s.world.data()}, I{2, s.count, xy.data()};
    Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
    CameraModel_Calibrate(s.width, s.height, 2, &W, &I, &K, &D, &R, kCalibFitEpsilon, &T, 3, 100, 0, 0);
    const Pose p = OpenCvPose(s, fe);
    const double rmsOurs = ReprojectionRms(s, r, t), rmsCv = ReprojectionRms(s, p.r, p.T);
    const double rotDiff = PoseScene_RotationErrorDeg(r, p.r), posDiff = PoseScene_PositionErrorMm(t, p.T);
    printf("[ model 2 vs OpenCV ] h %4.0f d %4.0f yaw %3.0f: rms %.4f (OpenCV %.4f) px, poses %.4f deg %.3f mm apart; "
           "rotation error %.4f (OpenCV %.4f) deg, position error %.2f (OpenCV %.2f) mm\n",
           pc.heightMm, pc.distanceMm, pc.yawDeg, rmsOurs, rmsCv, rotDiff, posDiff,
           PoseScene_RotationErrorDeg(r, s.cam.r), PoseScene_RotationErrorDeg(p.r, s.cam.r),
           PoseScene_PositionErrorMm(t, s.cam.T), PoseScene_PositionErrorMm(p.T, s.cam.T));
    // Float projections of ~1000 px carry about 1e-4 px of rounding.
    EXPECT_LE(rmsOurs, rmsCv + 1e-3);
    EXPECT_LT(rotDiff, 0.05);
    EXPECT_LT(posDiff, 2.0);
  }
}

}  // namespace
