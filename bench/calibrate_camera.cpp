// Pose solving: one CalibrateCamera of a 48-corner board (lens models 1 to
// 4, board-layout code 1), and the layout-16 refinement of a front camera
// with five points, whose T.z search renders two 96 x 96 top-view patches
// per step from a 1280 x 720 picture.
#include <benchmark/benchmark.h>

#include <opencv2/calib3d.hpp>
#include <vector>

#include "calibration/solve/calibrate_camera.h"
#include "camera/camera_model.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/pose_scene.h"

namespace {

constexpr float kTableHeight = 0.55f;

SceneCamera Intrinsics(int32_t model) {
  return PoseScene_Camera(model, 1280, 720, model == 3 ? 360.0f / kTableHeight : 0.0f, 0);
}

void InstallTable(const ScopedConfigState& state) {
  EquidistantTable t;
  t.heightPerRadian = kTableHeight;
  LensTableFixture_Write(state.dir(), 7, t);
  LensTableFixture_Install(state.dir(), 7);
}

LutConfig Config(int32_t model) {
  LutConfig cfg{};
  for (int c = 0; c < 4; ++c) cfg.model[c] = static_cast<uint32_t>(model);
  return cfg;
}

void BM_CalibrateCamera(benchmark::State& state) {
  ScopedConfigState config;
  InstallTable(config);
  gv().CalibLayoutCode = 1;
  for (float& l : gv().presetLimit) l = 5.0f;
  const int32_t model = static_cast<int32_t>(state.range(0));
  LutConfig cfg = Config(model);
  PoseScene s = PoseScene_Make(Intrinsics(model), 1000, 1500, 15, 0.3f, 1);
  float k[9], d[8], r[3], t[3];
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  for (auto _ : state) {
    const int32_t ret = CalibrateCamera(&cfg, s.width, s.height, nullptr, 1, s.count, s.image.data(), s.world.data(),
                                        &K, &D, &R, &T, 0, 0);
    benchmark::DoNotOptimize(ret);
  }
  state.counters["points"] = s.count;
}

// For scale: OpenCV's pose of the same model-2 corners with the intrinsics
// known (fisheye undistortion, then iterative PnP), which solves less than
// CalibrateCamera (no focal aspect, no second lens term, no search).
void BM_OpenCvFisheyePnP(benchmark::State& state) {
  PoseScene s = PoseScene_Make(Intrinsics(2), 1000, 1500, 15, 0.3f, 1);
  std::vector<cv::Point2d> distorted;
  std::vector<cv::Point3d> object;
  for (int i = 0; i < s.count; ++i) {
    distorted.emplace_back(s.image[2 * i + 1], s.image[2 * i]);
    object.emplace_back(s.world[3 * i], s.world[3 * i + 1], s.world[3 * i + 2]);
  }
  const cv::Matx33d K(s.cam.D[0], 0, s.cam.K[2], 0, s.cam.D[0], s.cam.K[5], 0, 0, 1);
  const cv::Vec4d k(0, 0, 0, 0);
  for (auto _ : state) {
    std::vector<cv::Point2d> normalised;
    cv::fisheye::undistortPoints(distorted, normalised, K, k);
    cv::Mat rvec, tvec;
    cv::solvePnP(object, normalised, cv::Matx33d::eye(), cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_ITERATIVE);
    benchmark::DoNotOptimize(rvec.data);
  }
}

// Our model-2 pose with the intrinsics held (the lens fit's mode 3), the
// counterpart of the OpenCV figure above.
void BM_PoseOnlyFit(benchmark::State& state) {
  PoseScene s = PoseScene_Make(Intrinsics(2), 1000, 1500, 15, 0.3f, 1);
  std::vector<float> xy(static_cast<size_t>(2 * s.count));
  for (int i = 0; i < s.count; ++i) {
    xy[2 * i] = s.image[2 * i + 1];
    xy[2 * i + 1] = s.image[2 * i];
  }
  Matrix W{3, s.count, s.world.data()}, I{2, s.count, xy.data()};
  for (auto _ : state) {
    float k[9], d[8], r[3] = {0, 0, 0}, t[3] = {0, 0, 0};
    for (int i = 0; i < 9; ++i) k[i] = s.cam.K[i];
    for (int i = 0; i < 8; ++i) d[i] = s.cam.D[i];
    Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
    benchmark::DoNotOptimize(
        CameraModel_Calibrate(s.width, s.height, 2, &W, &I, &K, &D, &R, kCalibFitEpsilon, &T, 3, 100, 0, 0));
  }
}

void BM_RefinePoseLayout16(benchmark::State& state) {
  ScopedConfigState config;
  InstallTable(config);
  gv().CalibLayoutCode = 16;
  for (float& l : gv().presetLimit) l = 50.0f;
  LutConfig cfg = Config(3);
  PoseScene s = PoseScene_Make(Intrinsics(3), 1000, 900, 0, 0.0f, 1);
  RenderOptions opt;
  opt.supersample = 2;
  const std::vector<uint8_t> pix = Scene_RenderGrey(s.cam, s.board, opt);
  std::vector<float> grey(pix.begin(), pix.end());
  for (float& g : grey) g /= 255.0f;
  Matrix image{1280, 720, grey.data()};
  CalibProfileRecord saved = CalibProfile();
  for (int i = 0; i < 3; ++i) {
    CalibProfile().SetF(2 + i, s.cam.r[i]);
    CalibProfile().SetF(14 + i, s.cam.T[i] + (i == 2 ? 20.0f : 0.0f));
  }
  float k[9], d[8], r[3], t[3];
  Matrix K{3, 3, k}, D{1, 8, d}, R{1, 3, r}, T{1, 3, t};
  for (auto _ : state) {
    const int32_t ret =
        CalibrateCamera(&cfg, 1280, 720, &image, 1, 5, s.image.data(), s.world.data(), &K, &D, &R, &T, 0, 0);
    benchmark::DoNotOptimize(ret);
  }
  CalibProfile() = saved;
}

}  // namespace

BENCHMARK(BM_CalibrateCamera)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvFisheyePnP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoseOnlyFit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefinePoseLayout16)->Unit(benchmark::kMillisecond);
