// Image-analysis toolkit against its closest OpenCV peers at 1280 x 720.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "lane_context.h"
#include "toolkit/blobs.h"
#include "toolkit/edges.h"
#include "toolkit/hough.h"
#include "toolkit/linear_filters.h"
#include "toolkit/smoothing.h"

namespace {

constexpr int kW = 1280, kH = 720;

// The toolkit runs on one thread; compare per core.
const bool kOneCvThread = (cv::setNumThreads(1), true);

// cv::Canny and cv::connectedComponentsWithStats allocate megabytes of work
// per call; with glibc's default thresholds those come from fresh mappings
// often enough to cost page faults (Canny measured 1.4 ms or 6 ms depending
// on the heap's history). A long-running program's heap keeps such blocks:
// keep them here too, so the peers are timed at their steady speed. Ours
// keep their work buffers across calls and are not affected.
const bool kKeepHeap = (mallopt(M_MMAP_THRESHOLD, 32 << 20), mallopt(M_TRIM_THRESHOLD, 64 << 20), true);

// Grey scene in 0..1: rectangles, discs and bars on a mid background with a
// little noise, the kind of picture the target finders see.
const std::vector<float>& Scene() {
  static const std::vector<float> scene = [] {
    std::vector<float> px(kW * kH, 0.45f);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> noise(-0.03f, 0.03f);
    for (int i = 0; i < 40; ++i) {
      const int x0 = static_cast<int>(rng() % (kW - 120)), y0 = static_cast<int>(rng() % (kH - 90));
      const int w = 20 + static_cast<int>(rng() % 100), h = 20 + static_cast<int>(rng() % 70);
      const float v = (i % 2) ? 0.9f : 0.1f;
      for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) px[y * kW + x] = v;
    }
    for (int i = 0; i < 20; ++i) {
      const float cx = static_cast<float>(rng() % kW), cy = static_cast<float>(rng() % kH);
      const float r = 10.0f + static_cast<float>(rng() % 40);
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
          if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) px[y * kW + x] = (i % 2) ? 0.05f : 0.95f;
    }
    for (float& v : px) v = std::min(1.0f, std::max(0.0f, v + noise(rng)));
    return px;
  }();
  return scene;
}

// Binary mask of many dark regions (0.0) on bright (1.0).
const std::vector<float>& Mask() {
  static const std::vector<float> mask = [] {
    std::vector<float> m(Scene().size());
    for (size_t i = 0; i < m.size(); ++i) m[i] = Scene()[i] < 0.3f ? 0.0f : 1.0f;
    std::mt19937 rng(5);
    for (int i = 0; i < 3000; ++i) {  // speckle: many small regions
      const int x = 1 + static_cast<int>(rng() % (kW - 5)), y = 1 + static_cast<int>(rng() % (kH - 5));
      for (int dy = 0; dy < 3; ++dy)
        for (int dx = 0; dx < 3; ++dx) m[(y + dy) * kW + x + dx] = 0.0f;
    }
    return m;
  }();
  return mask;
}

// Edge mask of steep lane-like lines plus scattered clutter.
std::vector<uint8_t> LineEdges() {
  std::vector<uint8_t> e(kW * kH, 0);
  const int lines[6][4] = {{200, 300, 719, 150},  {200, 500, 719, 420}, {200, 780, 719, 860},
                           {200, 980, 719, 1130}, {250, 640, 700, 640}, {300, 100, 719, 30}};
  for (const auto& l : lines) {
    const int n = l[2] - l[0];
    for (int i = 0; i <= n; ++i) {
      const int r = l[0] + i;
      const int c = static_cast<int>(std::lround(l[1] + static_cast<double>(l[3] - l[1]) * i / n));
      e[r * kW + c] = 255;
    }
  }
  std::mt19937 rng(3);
  for (int i = 0; i < 4000; ++i) e[(rng() % kH) * kW + rng() % kW] = 255;
  return e;
}

// Argument: the widest lanes the detector may use (8: the portable form,
// what machines without 512-bit registers run; 16: the 512-bit forms where
// the machine has them).
void BM_DetectEdges(benchmark::State& state) {
  const int lanes = static_cast<int>(state.range(0));
  Edges_LimitLanes(lanes);
  state.SetLabel(LanePath(lanes));
  Matrix src{kW, kH, const_cast<float*>(Scene().data())};
  std::vector<float> work(Image_DetectEdgesWorkFloats(kW, kH));
  std::vector<uint8_t> e(kW * kH);
  ImageU8 edges{kW, kH, e.data()};
  for (auto _ : state) {
    Image_DetectEdges(&src, work.data(), &edges, 30.0f, 90.0f);
    benchmark::DoNotOptimize(e.data());
  }
  Edges_LimitLanes(16);
}
BENCHMARK(BM_DetectEdges)->ArgName("lanes")->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// Peer of the edge detector from the same float image: to 8 bits (Canny
// takes no floats), the same 3x3 binomial blur, Canny with the same low and
// high levels on the same L2 magnitude; both on one thread. What differs:
// ours smooths and differentiates the floats and compares squared float
// magnitudes, Canny's Sobel and magnitudes are integers on the 8-bit image
// (so the maps differ a little); Canny does not thin its map afterwards
// (ours runs one thinning pass); on x86-64 machines with 512-bit registers
// ours runs its smoothing and magnitude rows sixteen lanes wide, while
// OpenCV picks its own instruction set at run time.
void BM_CvCanny(benchmark::State& state) {
  cv::Mat src(kH, kW, CV_32F, const_cast<float*>(Scene().data())), u8, blurred, edges;
  for (auto _ : state) {
    src.convertTo(u8, CV_8U, 255.0);
    cv::GaussianBlur(u8, blurred, cv::Size(3, 3), 0);
    cv::Canny(blurred, edges, 30, 90, 3, true);
    benchmark::DoNotOptimize(edges.data);
  }
}
BENCHMARK(BM_CvCanny)->Unit(benchmark::kMillisecond);

// Separable Gaussian of 2k+1 taps against cv::GaussianBlur with the same
// sigma and a replicated border (float in, float out). What differs: OpenCV
// folds the symmetric taps and sums in another order (results agree to
// float rounding, tested in smoothing_test).
void BM_GaussianBlurSep(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  Matrix src{kW, kH, const_cast<float*>(Scene().data())};
  std::vector<float> d(kW * kH);
  Matrix dst{kW, kH, d.data()};
  for (auto _ : state) {
    Image_GaussianBlurSep(k, &src, &dst, 1.0f);
    benchmark::DoNotOptimize(d.data());
  }
}
BENCHMARK(BM_GaussianBlurSep)->ArgName("k")->Arg(1)->Arg(2)->Arg(3)->Arg(5)->Unit(benchmark::kMicrosecond);

void BM_CvGaussianBlur(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  cv::Mat src(kH, kW, CV_32F, const_cast<float*>(Scene().data())), dst(kH, kW, CV_32F);
  for (auto _ : state) {
    cv::GaussianBlur(src, dst, cv::Size(2 * k + 1, 2 * k + 1), 1.0, 1.0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(dst.data);
  }
}
BENCHMARK(BM_CvGaussianBlur)->ArgName("k")->Arg(1)->Arg(2)->Arg(3)->Arg(5)->Unit(benchmark::kMicrosecond);

// The 2-D form sums all (2k+1)^2 taps (no separation); its peer is the same
// cv::GaussianBlur (variance 1 = sigma 1), which separates. What differs:
// ours does 25 multiply-adds per pixel against OpenCV's 10, and on x86-64
// machines with 512-bit registers runs them 16 lanes wide (OpenCV picks its
// own instruction set at run time).
void BM_GaussianBlur2D5(benchmark::State& state) {
  const int lanes = static_cast<int>(state.range(0));
  LinearFilters_LimitLanes(lanes);
  state.SetLabel(LanePath(lanes));
  Matrix src{kW, kH, const_cast<float*>(Scene().data())};
  std::vector<float> d(kW * kH);
  Matrix dst{kW, kH, d.data()};
  for (auto _ : state) {
    Image_GaussianBlur(2, &src, &dst, 1.0f);
    benchmark::DoNotOptimize(d.data());
  }
  LinearFilters_LimitLanes(16);
}
BENCHMARK(BM_GaussianBlur2D5)->ArgName("lanes")->Arg(8)->Arg(16)->Unit(benchmark::kMicrosecond);

// Normalised gradient magnitude: replicated border, Sobel / 4 in x and y,
// root of the sum of squares, divided by the largest. Peer: the same steps
// in OpenCV (two cv::Sobel with scale 0.25, cv::magnitude, cv::minMaxLoc,
// one scaling pass). What differs: OpenCV writes gx and gy out as images.
void BM_SobelMagnitude(benchmark::State& state) {
  Matrix src{kW, kH, const_cast<float*>(Scene().data())};
  std::vector<float> d(kW * kH);
  Matrix dst{kW, kH, d.data()};
  for (auto _ : state) {
    Image_SobelMagnitude(&src, &dst);
    benchmark::DoNotOptimize(d.data());
  }
}
BENCHMARK(BM_SobelMagnitude)->Unit(benchmark::kMicrosecond);

void BM_CvSobelMagnitude(benchmark::State& state) {
  cv::Mat src(kH, kW, CV_32F, const_cast<float*>(Scene().data())), gx, gy, mag(kH, kW, CV_32F);
  for (auto _ : state) {
    cv::Sobel(src, gx, CV_32F, 1, 0, 3, 0.25, 0.0, cv::BORDER_REPLICATE);
    cv::Sobel(src, gy, CV_32F, 0, 1, 3, 0.25, 0.0, cv::BORDER_REPLICATE);
    cv::magnitude(gx, gy, mag);
    double largest = 0.0;
    cv::minMaxLoc(mag, nullptr, &largest);
    if (largest > 0.0) mag *= 1.0 / largest;
    benchmark::DoNotOptimize(mag.data);
  }
}
BENCHMARK(BM_CvSobelMagnitude)->Unit(benchmark::kMicrosecond);

// Sobel gradients of the interior, times 255 (the edge detector's step).
// Peer: cv::Sobel in x and y with scale 255. What differs: OpenCV also
// writes the border pixels.
void BM_Sobel(benchmark::State& state) {
  Matrix src{kW, kH, const_cast<float*>(Scene().data())};
  std::vector<float> gx(kW * kH), gy(kW * kH);
  Matrix GX{kW, kH, gx.data()}, GY{kW, kH, gy.data()};
  for (auto _ : state) {
    Image_Sobel(&src, &GX, &GY, 255.0f);
    benchmark::DoNotOptimize(gx.data());
  }
}
BENCHMARK(BM_Sobel)->Unit(benchmark::kMicrosecond);

void BM_CvSobel(benchmark::State& state) {
  cv::Mat src(kH, kW, CV_32F, const_cast<float*>(Scene().data())), gx(kH, kW, CV_32F), gy(kH, kW, CV_32F);
  for (auto _ : state) {
    cv::Sobel(src, gx, CV_32F, 1, 0, 3, 255.0, 0.0, cv::BORDER_REPLICATE);
    cv::Sobel(src, gy, CV_32F, 0, 1, 3, 255.0, 0.0, cv::BORDER_REPLICATE);
    benchmark::DoNotOptimize(gx.data);
  }
}
BENCHMARK(BM_CvSobel)->Unit(benchmark::kMicrosecond);

void BM_FindComponents(benchmark::State& state) {
  Matrix img{kW, kH, const_cast<float*>(Mask().data())};
  for (auto _ : state) {
    BlobList* list = BlobList_FindComponents(&img);
    benchmark::DoNotOptimize(list->count);
    BlobList_Free(list);
  }
}
BENCHMARK(BM_FindComponents)->Unit(benchmark::kMillisecond);

void BM_CvConnectedComponentsWithStats(benchmark::State& state) {
  cv::Mat dark(kH, kW, CV_8U);
  for (int i = 0; i < kW * kH; ++i) dark.data[i] = Mask()[i] == 0.0f ? 255 : 0;
  cv::Mat labels, stats, centroids;
  for (auto _ : state) {
    const int n = cv::connectedComponentsWithStats(dark, labels, stats, centroids, 8, CV_32S);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_CvConnectedComponentsWithStats)->Unit(benchmark::kMillisecond);

void BM_HoughRandom(benchmark::State& state) {
  std::vector<uint8_t> e = LineEdges();
  ImageU8 img{kW, kH, e.data()};
  Hough h;
  Hough_Create(&h, kW, kH, 180, 50, kH, 1.0f, 3.14159265f / 180.0f, 0.0f);
  HoughSegment segs[64];
  for (auto _ : state) {
    Hough_CollectPointsU8(&h, &img);  // detection consumes the mask
    int32_t n = 64;
    Hough_DetectSegmentsRandom(&h, segs, &n);
    benchmark::DoNotOptimize(n);
  }
  Hough_Destroy(&h);
}
BENCHMARK(BM_HoughRandom)->Unit(benchmark::kMillisecond);

void BM_CvHoughLinesP(benchmark::State& state) {
  std::vector<uint8_t> e = LineEdges();
  cv::Mat img(kH, kW, CV_8U, e.data());
  std::vector<cv::Vec4i> lines;
  for (auto _ : state) {
    cv::HoughLinesP(img, lines, 1.0, CV_PI / 180.0, 50, 30, 8);
    benchmark::DoNotOptimize(lines.data());
  }
}
BENCHMARK(BM_CvHoughLinesP)->Unit(benchmark::kMillisecond);

}  // namespace
