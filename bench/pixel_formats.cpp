// YUV to 24-bit RGB per frame layout at 1280 x 720, against cv::cvtColor.
// OpenCV runs single-threaded (as our converters do) and, for reference,
// with its default thread pool.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "toolkit/pixel_formats.h"

namespace {

constexpr int kW = 1280, kH = 720;

struct Frames {
  std::vector<uint8_t> yuv420, packed;
  std::vector<uint8_t> rgb;
  Frames() : yuv420(kW * kH * 3 / 2), packed(kW * kH * 2), rgb(kW * kH * 3) {
    std::mt19937 rng(1);
    for (auto& b : yuv420) b = static_cast<uint8_t>(16 + rng() % 220);
    for (auto& b : packed) b = static_cast<uint8_t>(16 + rng() % 220);
  }
};

Frames& F() {
  static Frames f;
  return f;
}

enum Layout { kI420, kNV12, kNV21, kYUYV, kUYVY };

void Ours(benchmark::State& state) {
  Frames& f = F();
  const int layout = static_cast<int>(state.range(0));
  Rgb24Image dst{kW, kH, 0, f.rgb.data(), 3 * kW};
  uint8_t* y = f.yuv420.data();
  YuvPlanarFrame i420{kW, kH, y, y + kW * kH, y + kW * kH * 5 / 4, kW};
  YuvSemiPlanarFrame sp{kW, kH, y, y + kW * kH, kW};
  PackedFrame pk{kW, kH, f.packed.data(), 2 * kW};
  for (auto _ : state) {
    switch (layout) {
      case kI420: Yuv_I420ToRGB24(&i420, &dst); break;
      case kNV12: Yuv_NV12ToRGB24(&sp, &dst); break;
      case kNV21: Yuv_NV21ToRGB24(&sp, &dst); break;
      case kYUYV: Yuv_YUYVToRGB24(&pk, &dst); break;
      case kUYVY: Yuv_UYVYToRGB24(&pk, &dst); break;
    }
    benchmark::DoNotOptimize(f.rgb.data());
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

void OpenCv(benchmark::State& state) {
  Frames& f = F();
  const int layout = static_cast<int>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const int prev = cv::getNumThreads();
  cv::setNumThreads(threads);
  cv::Mat planar(kH * 3 / 2, kW, CV_8UC1, f.yuv420.data());
  cv::Mat packed(kH, kW, CV_8UC2, f.packed.data());
  cv::Mat out(kH, kW, CV_8UC3, f.rgb.data());
  static const int codes[] = {cv::COLOR_YUV2BGR_I420, cv::COLOR_YUV2BGR_NV12, cv::COLOR_YUV2BGR_NV21,
                              cv::COLOR_YUV2BGR_YUYV, cv::COLOR_YUV2BGR_UYVY};
  const cv::Mat& src = layout >= kYUYV ? packed : planar;
  for (auto _ : state) {
    cv::cvtColor(src, out, codes[layout]);
    benchmark::DoNotOptimize(out.data);
  }
  cv::setNumThreads(prev);
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

void LayoutArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"layout"});
  for (int l = kI420; l <= kUYVY; ++l) b->Arg(l);
}

void OpenCvArgs(benchmark::internal::Benchmark* b) {
  b->ArgNames({"layout", "threads"});
  for (int l = kI420; l <= kUYVY; ++l) {
    b->Args({l, 1});
    b->Args({l, -1});  // OpenCV's default pool
  }
}

}  // namespace

// layout: 0 I420, 1 NV12, 2 NV21, 3 YUYV, 4 UYVY
BENCHMARK(Ours)->Apply(LayoutArgs)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenCv)->Apply(OpenCvArgs)->Unit(benchmark::kMicrosecond);
