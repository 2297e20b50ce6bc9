// Marker-angle measurement: one AM_InputVideo step on a 1280 x 720 luma
// frame of a rendered marker pair, while following the pair (two small
// boxes) and with the full search of the model's window.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "calibration/solve/am_measure.h"
#include "testsupport/am_marker_scene.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/pose_scene.h"
#include "toolkit/bmp_file.h"

namespace {

constexpr float kTableHeight[2] = {0.55f, 0.6f};

struct Setup {
  ScopedConfigState config;
  AMMarkerScene scene;
  AMObject* obj = nullptr;
  std::vector<uint8_t> frame;

  Setup() {
    for (int s = 0; s < 2; ++s) {
      EquidistantTable t;
      t.heightPerRadian = kTableHeight[s];
      LensTableFixture_Write(config.dir(), 7 + s, t);
    }
    LensTableFixture_Install(config.dir(), 7, 8);
    scene = AMMarkerScene_Make(PoseScene_Camera(3, 1280, 720, 360.0f / kTableHeight[1], 1), 900.0f, 700.0f);
    const std::string bmp = config.Path("still.bmp"), model = config.Path("am.krv");
    const std::vector<uint8_t> still = AMMarkerScene_Render(scene, 0.0f);
    Bmp_SaveGrayU8(scene.width, scene.height, scene.width, still.data(), bmp.c_str());
    if (AM_Calib(bmp.c_str(), nullptr, 0u, scene.a, scene.b, model.c_str()) == 0) obj = AM_InitOB(model.c_str());
    frame = AMMarkerScene_Render(scene, 0.01f);
  }
  ~Setup() { AM_Release(obj); }
};

void Run(benchmark::State& state, bool search) {
  Setup s;
  if (s.obj == nullptr) {
    state.SkipWithError("calibration failed");
    return;
  }
  int32_t measured = 0, steps = 0;
  for (auto _ : state) {
    if (search) {
      s.obj->tracking = 0;
      AM_SetScheduleIndex(0);
    }
    measured += AM_InputVideo(s.obj, nullptr, s.frame.data(), s.scene.width) == 0;
    ++steps;
  }
  state.counters["measured"] = benchmark::Counter(static_cast<double>(measured) / (steps > 0 ? steps : 1));
}

void BM_AMInputVideoTracking(benchmark::State& state) { Run(state, false); }
void BM_AMInputVideoSearch(benchmark::State& state) { Run(state, true); }

}  // namespace

BENCHMARK(BM_AMInputVideoTracking)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AMInputVideoSearch)->Unit(benchmark::kMicrosecond);
