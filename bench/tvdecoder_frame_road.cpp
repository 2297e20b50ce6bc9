// The decoder's frame road for four 1280 x 720 cameras (one 2560 x 1440 NV12
// quad frame): input call to output callback and back, with the corner
// marks, the day/night value and colour correction on the main thread; and
// the colour-correction step alone, beside the same statistics taken with
// OpenCV after a whole-frame colour conversion.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "pipeline/tvdecoder.h"
#include "surround/color_correct.h"
#include "testsupport/colour_overlap_scene.h"
#include "testsupport/config_state.h"
#include "toolkit/pixel_formats.h"

namespace {

constexpr int32_t kCamW = 1280, kCamH = 720, kRows = 240;
const float kGains[4][3] = {{1, 1, 1}, {1, 1, 1}, {0.62f, 0.74f, 0.9f}, {1, 1, 1}};

int Deliver(int32_t, int32_t, uint64_t, int32_t, int32_t, uint64_t) { return 1; }

void BM_FrameRoad(benchmark::State& state) {
  ScopedConfigState config;
  MixAreaInfo mix = ColourScene_MixArea(kCamW, kCamH, kRows);
  MixAreaInfo_Save(&mix, config.Path("lut_mixareainfo.krv").c_str());
  MixAreaInfo_Release(&mix);
  std::unique_ptr<TVDecoderMain> d(new TVDecoderMain);
  d->platform.syncFiles = [] {};
  d->Init(1, 2 * kCamW, 2 * kCamH);
  d->RequestVideo(Deliver, 0);
  std::vector<uint8_t> frame = ColourScene_RenderNV12(kCamW, kCamH, kGains);
  const uint64_t addr = reinterpret_cast<uintptr_t>(frame.data());
  int64_t timeouts = 0;
  for (auto _ : state) timeouts += d->Input(std::array<uint64_t, 6>{addr, addr, 1, 0, 0, 0}.data());
  state.counters["timeouts"] = static_cast<double>(timeouts);
  state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  float v[132];
  d->GetColorCorrectValue(v);
  state.counters["gainRatioR"] = v[3] / v[15];  // converges to 0.62
}
BENCHMARK(BM_FrameRoad)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

struct ColourSetup {
  MixAreaInfo mix = ColourScene_MixArea(kCamW, kCamH, kRows);
  std::vector<uint8_t> frame = ColourScene_RenderNV12(kCamW, kCamH, kGains);
  YuvSemiPlanarFrame desc{2 * kCamW, 2 * kCamH, frame.data(), frame.data() + static_cast<size_t>(4) * kCamW * kCamH,
                          2 * kCamW};
  ~ColourSetup() { MixAreaInfo_Release(&mix); }
};

void BM_ColourCorrectionStep(benchmark::State& state) {
  ColourSetup s;
  ColorCorrectState st;
  ColorCorrect_InitState(&st, 0);
  float values[132];
  for (auto _ : state) {
    ColorCorrect_UpdateFrame(&st, kPixelFormatNV12, &s.desc, &s.mix, nullptr);
    ColorCorrect_ApplyValues(&st, values);
    benchmark::DoNotOptimize(values);
  }
}
BENCHMARK(BM_ColourCorrectionStep)->Unit(benchmark::kMicrosecond);

// The same band statistics with OpenCV: the whole quad frame to BGR, then
// the sampled positions' ln(value + 1) averaged per band.
void BM_ColourStatsOpenCV(benchmark::State& state) {
  ColourSetup s;
  const cv::Mat yuv(3 * kCamH, 2 * kCamW, CV_8UC1, s.frame.data());
  cv::Mat bgr;
  const int colStep = (kMixAreaBandColumns + 1) / 7, rowStep = (kRows + 1) / 50;
  float out[8][24];
  for (auto _ : state) {
    cv::cvtColor(yuv, bgr, cv::COLOR_YUV2BGR_NV12);
    for (int k = 0; k < 8; ++k) {
      const ImageI32& xs = s.mix.tables[2 * k];
      const ImageI32& ys = s.mix.tables[2 * k + 1];
      double sum[3][8] = {};
      int n[8] = {};
      for (int r = 0; r < xs.height; r += rowStep)
        for (int c = 0; c < xs.width; c += colStep) {
          const int seg = std::min(7, static_cast<int>(r / (xs.height / 7.98f)));
          const cv::Vec3b p = bgr.at<cv::Vec3b>(ys.data[r * xs.width + c], xs.data[r * xs.width + c]);
          for (int ch = 0; ch < 3; ++ch) sum[ch][seg] += std::log(p[2 - ch] + 1.0);
          ++n[seg];
        }
      for (int ch = 0; ch < 3; ++ch)
        for (int seg = 0; seg < 8; ++seg) out[k][ch * 8 + seg] = n[seg] > 0 ? static_cast<float>(sum[ch][seg] / n[seg]) : 0.0f;
    }
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_ColourStatsOpenCV)->Unit(benchmark::kMicrosecond);

}  // namespace
