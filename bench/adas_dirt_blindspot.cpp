// One lens-dirt decision (the heavy pass that closes a camera's period) and
// one blind-spot interface step on a 32 x 280 strip.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pipeline/bsdsif_object.h"
#include "pipeline/dirty_detect.h"
#include "testsupport/adas_sequences.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/config_state.h"

namespace {

uint32_t gNow = 0;
uint32_t FakeTick() { return gNow; }

void BM_DirtyDetectDecision(benchmark::State& st) {
  ScopedConfigState config;
  const std::string path = config.Path("lut_config.krv");
  if (!BowlRig_WriteConfig(path)) {
    st.SkipWithError("camera file not written");
    return;
  }
  DirtyDetectState dd;
  dd.tickMs = FakeTick;
  DirtyDetect_Init(&dd, path.c_str(), 0, 0);
  std::vector<std::vector<uint8_t>> frames;
  for (int p = 0; p < 6; ++p) frames.push_back(DirtScene_RenderQuad(p));
  Smudge smudge{0, 250.0f, 130.0f, 28.0f, 0.8f};
  for (auto& f : frames) DirtScene_ApplySmudge(&f, 2 * kSampleCamW, smudge);
  // Camera 0 through one period of images, stopping before its decision.
  for (int image = 0; image < 4 * 11; ++image) {
    gNow += 300;
    DirtyDetect_FeedA(&dd, frames[(image / 4) % 6].data(), 2 * kSampleCamW, 2 * kSampleCamH);
    DirtyDetectStep(&dd);
  }
  DirtyDetectCamera& cam = dd.cameras[0];
  const std::vector<uint16_t> saved = cam.buffers;
  const int32_t counter = cam.frameCounter;
  for (auto _ : st) {
    st.PauseTiming();
    cam.buffers = saved;
    cam.frameCounter = counter;
    cam.hitCount = 0;
    st.ResumeTiming();
    DirtyDetectOne(&dd, &cam);
    benchmark::DoNotOptimize(cam.hitCount);
  }
  if (cam.hitCount != 1) st.SkipWithError("the smudge was not found");
  DirtyDetect_Release(&dd);
}
BENCHMARK(BM_DirtyDetectDecision)->Unit(benchmark::kMicrosecond);

void BM_BlindSpotInterfaceStep(benchmark::State& st) {
  constexpr int32_t W = 160, H = 400;
  const float p00[2] = {40, 380}, p01[2] = {120, 380}, p10[2] = {64, 20}, p11[2] = {96, 20};
  BSDSIFObject obj;
  BSDSIF_Init(&obj, W, H, nullptr, nullptr, 20000.0f, p00, p01, p10, p11);
  std::vector<std::vector<uint8_t>> frames;
  for (int k = 0; k < 40; ++k) {
    const float top = 330.0f - 6.0f * k;
    frames.push_back(ZoneScene_Render(W, H, {{top, top + 60.0f}}, k + 1));
  }
  size_t k = 0;
  for (auto _ : st) {
    st.PauseTiming();
    BSDSIF_FeedLuma(&obj, frames[k++ % frames.size()].data());
    st.ResumeTiming();
    BSDSIF_Step(&obj);
    BSDSIF_NextRead(&obj);
    benchmark::DoNotOptimize(obj.stepResult);
  }
  BSDSIF_Release(&obj);
}
BENCHMARK(BM_BlindSpotInterfaceStep)->Unit(benchmark::kMicrosecond);

}  // namespace
