// Building the full stitched bird's-eye LUT (four-sided layout) for four
// 1280 x 720 fisheye cameras: pose-derived projection of every output pixel
// into its cameras, weights, seam ramp and corner fade.
// Arguments: output width, output height, build threads (0: default).
// Thread scaling is measured pinned to four cores (taskset -c 4-7).
#include <benchmark/benchmark.h>

#include "frame/global_variables.h"
#include "testsupport/four_camera_rig.h"
#include "surround/merger_lut.h"

namespace {

void BM_StitchedLut(benchmark::State& state) {
  GlobalVariables_InitRuntimeDefaults();
  const int32_t outW = static_cast<int32_t>(state.range(0)), outH = static_cast<int32_t>(state.range(1));
  FourCameraRig rig(1280, 720, outW, outH);
  LUT_SetBuildThreads(static_cast<int32_t>(state.range(2)));
  for (auto _ : state) {
    LutConfig& c = rig.lut->cfg;
    LUT_BuildMergerMaps(rig.lut, 1, 1, c.X1.cols, c.X1.rows, &c.groundTable, &c.W1, &c.W2, &c.X1, &c.Y1, &c.X2,
                        &c.Y2, &c.W3, &c.carLeft, &c.carTop, &c.carRight, &c.carBottom, &c.innerLeft, &c.innerTop,
                        &c.innerRight, &c.innerBottom);
    benchmark::DoNotOptimize(c.X1.data[0]);
  }
  LUT_SetBuildThreads(0);
  state.SetItemsProcessed(state.iterations() * outW * outH);
}

}  // namespace

BENCHMARK(BM_StitchedLut)
    ->Args({350, 600, 1})
    ->Args({350, 600, 4})
    ->Args({350, 600, 0})
    ->Args({720, 1280, 1})
    ->Args({720, 1280, 4})
    ->Args({720, 1280, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
