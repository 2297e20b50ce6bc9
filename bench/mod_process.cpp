// One step of the moving-object detector on its four blocks (rendered
// bird's-eye sequence of a car at 4 km/h over a textured floor with a box
// walking across the right block), against a peer built from OpenCV: a
// MOG2 background subtractor per block and connected components of its
// foreground, on the same block images.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#if AVM_HAVE_OPENCV_VIDEO
#include <opencv2/video/background_segm.hpp>
#endif

#include "frame/log.h"
#include "pipeline/mod_object.h"
#include "testsupport/mods_block_scene.h"

namespace {

const bool kOneCvThread = (cv::setNumThreads(1), true);
constexpr int kFrames = 64;
constexpr float kFrameMs = 66.0f;

uint32_t g_now = 0;
uint32_t BenchClock() { return g_now; }

std::vector<std::vector<uint8_t>> Sequence(const ModsBlockScene& scene) {
  std::vector<std::vector<uint8_t>> out;
  float travelled = 0;
  for (int f = 0; f < kFrames; ++f) {
    travelled += 4.0f / 3.6f * kFrameMs;
    const float x = 1300.0f + (f % 32) * 5.0f / 3.6f * kFrameMs;
    out.push_back(scene.Render(travelled, {ModsBox{x, -1500.0f, 500.0f, 600.0f}}));
  }
  return out;
}

struct Detector {
  ModsBlockScene scene;
  MODObject mod;
  std::vector<std::vector<uint8_t>> frames = Sequence(scene);
  Detector() {
    AvmLog_SetSink([](const char*) {});
    MOD_SetClock(BenchClock);
    MOD_SetTuningFile("/nonexistent/mod_temp.txt");
    MOD_Init(&mod, &scene.config());
    MOD_SetMask(&mod, 0xF0);
    MOD_SetSpeedAngle(&mod, 4, 0);
  }
  ~Detector() { MOD_Release(&mod); }
  void Push(int f) {
    g_now += static_cast<uint32_t>(kFrameMs);
    MOD_PushFrameGray(&mod, scene.width(), scene.height(), frames[f % kFrames].data(), &scene.config());
  }
};

void BM_MOD_Process(benchmark::State& state) {
  (void)kOneCvThread;
  Detector d;
  int f = 0;
  for (int i = 0; i < 40; ++i, ++f) {  // past the warm-up and background start
    d.Push(f);
    MOD_Process(&d.mod);
    MOD_NextRead(&d.mod);
  }
  for (auto _ : state) {
    state.PauseTiming();
    d.Push(f++);
    state.ResumeTiming();
    benchmark::DoNotOptimize(MOD_Process(&d.mod));
    state.PauseTiming();
    MOD_NextRead(&d.mod);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MOD_Process)->Unit(benchmark::kMicrosecond);

#if AVM_HAVE_OPENCV_VIDEO
void BM_OpenCV_MOG2_Components(benchmark::State& state) {
  Detector d;
  // The same block images the detector steps on.
  std::vector<std::vector<cv::Mat>> blocks(kFrames);
  for (int f = 0; f < kFrames; ++f) {
    const int32_t slot = d.mod.writePos.load();
    d.Push(f);
    for (const MODBlock& b : d.mod.blocks) {
      const uint8_t* data = b.frames[slot] + (b.id == 1 ? 18 * b.width : 0);
      blocks[f].push_back(cv::Mat(b.height, b.width, CV_8UC1, const_cast<uint8_t*>(data)).clone());
    }
    MOD_NextRead(&d.mod);
  }
  std::vector<cv::Ptr<cv::BackgroundSubtractorMOG2>> subtractors;
  for (int b = 0; b < 4; ++b) subtractors.push_back(cv::createBackgroundSubtractorMOG2(20, 16, false));
  cv::Mat fg, labels, stats, centroids;
  int f = 0;
  auto step = [&] {
    int found = 0;
    for (int b = 0; b < 4; ++b) {
      subtractors[b]->apply(blocks[f % kFrames][b], fg);
      found += cv::connectedComponentsWithStats(fg, labels, stats, centroids, 8, CV_32S);
    }
    ++f;
    return found;
  };
  for (int i = 0; i < 40; ++i) step();
  for (auto _ : state) benchmark::DoNotOptimize(step());
}
BENCHMARK(BM_OpenCV_MOG2_Components)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
