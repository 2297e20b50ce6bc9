// Box mean, dilation and erosion of a 1280 x 720 float image, against
// cv::blur, cv::dilate and cv::erode with replicated borders (OpenCV single-
// threaded, as our filters are).
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "toolkit/border_filters.h"
#include "toolkit/morphology.h"

namespace {

constexpr int kW = 1280, kH = 720;

// No filter here chooses a path at run time: the build's vector width is the path.

std::vector<float> Grey() {
  std::vector<float> v(kW * kH);
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> d(0.0f, 1.0f);
  for (float& x : v) x = d(rng);
  return v;
}

// A two-level mask like the thresholded camera images the detectors clean.
std::vector<float> Mask() {
  std::vector<float> v(kW * kH);
  std::mt19937 rng(3);
  for (float& x : v) x = (rng() % 100) < 30 ? 1.0f : 0.0f;
  return v;
}

void BoxMeanOurs(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  std::vector<float> src = Grey(), dst(kW * kH);
  Matrix s{kW, kH, src.data()}, d{kW, kH, dst.data()};
  for (auto _ : state) {
    Image_BoxMean(&s, &d, r, r);
    benchmark::DoNotOptimize(dst.data());
  }
}

void BoxMeanOpenCv(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  cv::setNumThreads(1);
  std::vector<float> src = Grey(), dst(kW * kH);
  cv::Mat s(kH, kW, CV_32F, src.data()), d(kH, kW, CV_32F, dst.data());
  for (auto _ : state) {
    cv::blur(s, d, cv::Size(2 * r + 1, 2 * r + 1), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(d.data);
  }
}

// The mask is restored before each run (outside the timing) because both
// sides work in place or need the same input.
void MorphOurs(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  const bool erode = state.range(1) != 0;
  const std::vector<float> mask = Mask();
  std::vector<float> img = mask;
  Matrix m{kW, kH, img.data()};
  for (auto _ : state) {
    state.PauseTiming();
    img = mask;
    m.data = img.data();
    state.ResumeTiming();
    if (erode)
      Image_Erode(&m, r, r);
    else
      Image_Dilate(&m, r, r);
    benchmark::DoNotOptimize(img.data());
  }
}

void MorphOpenCv(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  const bool erode = state.range(1) != 0;
  cv::setNumThreads(1);
  std::vector<float> mask = Mask(), out(kW * kH);
  cv::Mat s(kH, kW, CV_32F, mask.data()), d(kH, kW, CV_32F, out.data());
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * r + 1, 2 * r + 1));
  for (auto _ : state) {
    if (erode)
      cv::erode(s, d, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    else
      cv::dilate(s, d, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(d.data);
  }
}

// Grey maximum / minimum filters (the general path of dilation and erosion)
// against cv::dilate / cv::erode with a rectangle, replicated border, float
// in and out. What differs: ours clamps at 0 (maximum) and 1 (minimum),
// which images in 0..1 never show.
void ExtremeOurs(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  const bool min = state.range(1) != 0;
  std::vector<float> src = Grey(), dst(kW * kH);
  Matrix s{kW, kH, src.data()}, d{kW, kH, dst.data()};
  for (auto _ : state) {
    if (min)
      Image_MinFilter(&s, &d, r, r);
    else
      Image_MaxFilter(&s, &d, r, r);
    benchmark::DoNotOptimize(dst.data());
  }
}

void ExtremeOpenCv(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  const bool min = state.range(1) != 0;
  cv::setNumThreads(1);
  std::vector<float> src = Grey(), dst(kW * kH);
  cv::Mat s(kH, kW, CV_32F, src.data()), d(kH, kW, CV_32F, dst.data());
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * r + 1, 2 * r + 1));
  for (auto _ : state) {
    if (min)
      cv::erode(s, d, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    else
      cv::dilate(s, d, kernel, cv::Point(-1, -1), 1, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(d.data);
  }
}

}  // namespace

BENCHMARK(ExtremeOurs)->ArgNames({"r", "min"})->ArgsProduct({{1, 2, 3, 7}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(ExtremeOpenCv)->ArgNames({"r", "min"})->ArgsProduct({{1, 2, 3, 7}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BoxMeanOurs)->ArgName("r")->Arg(1)->Arg(2)->Arg(5)->Arg(15)->Unit(benchmark::kMicrosecond);
BENCHMARK(BoxMeanOpenCv)->ArgName("r")->Arg(1)->Arg(2)->Arg(5)->Arg(15)->Unit(benchmark::kMicrosecond);
BENCHMARK(MorphOurs)->ArgNames({"r", "erode"})->ArgsProduct({{1, 2, 3}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(MorphOpenCv)->ArgNames({"r", "erode"})->ArgsProduct({{1, 2, 3}, {0, 1}})->Unit(benchmark::kMicrosecond);
