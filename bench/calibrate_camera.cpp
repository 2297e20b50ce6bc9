// Pose solving: one CalibrateCamera of a 48-corner board (lens models 1 to
// 4, board-layout code 1), and the layout-16 refinement of a front camera
// with five points, whose T.z search renders two 96 x 96 top-view patches
// per step from a 1280 x 720 picture.
#include <benchmark/benchmark.h>

#include <vector>

#include "calibration/solve/calibrate_camera.h"
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
BENCHMARK(BM_RefinePoseLayout16)->Unit(benchmark::kMillisecond);
