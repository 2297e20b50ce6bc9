// The main road of a chessboard site for four 1280 x 720 fisheye cameras: a
// rendered layout-1 quad frame through KRV_GlobalImage_InitLUTOB_New (object
// set-up, target world points, corner search, pose solving, LUT build), and
// the corner search alone (each camera's finder, with the pose test it runs)
// on one thread, camera after camera, and as the road runs it: camera 1, then
// cameras 2 to 4 on threads of their own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "calibration/solve/new_lut_corner_search.h"
#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "testsupport/calibration_site.h"
#include "testsupport/config_state.h"

namespace {

struct Road {
  CalibrationSite site = CalibrationSite_Compact(2);
  std::vector<uint8_t> quad;
  std::vector<float> quadF;
  Matrix quadM{0, 0, nullptr};
  ScopedConfigState state;

  Road() {
    state.WriteFile("globalimage_base.txt", site.BaseText());
    GlobalVariables_InitRuntimeDefaults();
    GlobalVariables_Init(1);
    quad = CalibrationSite_RenderQuad(site);
    quadF.resize(quad.size());
    for (size_t i = 0; i < quad.size(); ++i) quadF[i] = quad[i] / 255.0f;
    quadM = Matrix{2 * site.camW, 2 * site.camH, quadF.data()};
  }
};

Road& TheRoad() {
  static Road road;
  return road;
}

uint32_t NoSearch(LUTOB*, uint32_t) { return 1; }

void BM_WholeRoad(benchmark::State& state) {
  Road& r = TheRoad();
  uint32_t err = 0;
  for (auto _ : state) {
    std::vector<uint8_t> frame = r.quad;
    LUTOB* lut = KRV_GlobalImage_InitLUTOB_New(1, frame.data(), 2 * r.site.camW, 2 * r.site.camH, r.site.carWidth,
                                               r.site.carLength, r.site.SideShift(), 900, 2700, r.site.model, 0, &err);
    benchmark::DoNotOptimize(lut);
    KRV_GlobalImage_UnInitLUTOB(lut);
  }
  state.counters["result"] = err;
}

void BM_CornerSearchOneThread(benchmark::State& state) {
  Road& r = TheRoad();
  gv().cameraMask = 15;
  LUTOB* lut = LUTOB_Create();
  // The object as the road prepares it, without its search.
  InitLUTOB_New_DetectCornersWith(lut, r.site.carWidth, r.site.carLength, r.site.SideShift(), 900, 2700,
                                  r.site.model, &r.quadM, NoSearch);
  uint32_t found = 0;
  for (auto _ : state) {
    found = 0;
    for (uint32_t c = 1; c <= 4; ++c) found += FindAllChessboardCorners(lut, c);
    benchmark::DoNotOptimize(found);
  }
  state.counters["corners"] = found;
  LUTOB_Destroy(lut);
}

void BM_CornerSearchFourThreads(benchmark::State& state) {
  Road& r = TheRoad();
  gv().cameraMask = 15;
  int32_t code = 0;
  int32_t found = 0;
  for (auto _ : state) {
    LUTOB* lut = LUTOB_Create();
    code = InitLUTOB_New_DetectCorners(lut, r.site.carWidth, r.site.carLength, r.site.SideShift(), 900, 2700,
                                       r.site.model, &r.quadM);
    found = lut->cornerCounts[0] + lut->cornerCounts[1] + lut->cornerCounts[2] + lut->cornerCounts[3];
    LUTOB_Destroy(lut);
  }
  state.counters["corners"] = found;
  state.counters["result"] = code;
}

}  // namespace

BENCHMARK(BM_WholeRoad)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CornerSearchOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CornerSearchFourThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
