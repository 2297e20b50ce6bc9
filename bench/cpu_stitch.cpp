// Stitching one four-camera frame into the bird's-eye picture on the CPU:
// the run-table stitcher on one thread and with its rows spread over
// threads, against nearest-neighbour cv::remap of the same maps (luma and
// chroma pairs) plus the same per-pixel corner blend.
//
// What still differs: the peer applies no per-camera gain (ours multiplies
// every luma sample by its gain ramp), blends only the corners' luma from
// the already remapped bands, and writes each band through an intermediate
// image (cv::remap cannot write into a strided region of a shared output
// with its own map rectangle).
//
// Thread scaling is measured pinned to four cores (taskset -c 0-3); the
// one-thread figure of the pool is its baseline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "surround/cpu_merger.h"
#include "surround/krv_image.h"

namespace {

constexpr int kCw = 1280, kCh = 720;
constexpr int kW = 720, kH = 960;
constexpr int kTop = 300, kBottom = 300, kLeft = 250, kRight = 250;

// A fisheye-like warp of every band into its camera (camera-local pixels).
void BandSource(int cam, int r, int c, float* x, float* y) {
  float u, v;  // across the band, away from the car
  switch (cam) {
    case 0: u = c / float(kW - 1); v = (kTop - 1 - r) / float(kTop); break;
    case 1: u = c / float(kW - 1); v = (r - (kH - kBottom)) / float(kBottom); break;
    case 2: u = r / float(kH - 1); v = (kLeft - 1 - c) / float(kLeft); break;
    default: u = r / float(kH - 1); v = (c - (kW - kRight)) / float(kRight); break;
  }
  const float squeeze = 1.0f - 0.45f * v;  // far ground shrinks towards the horizon
  *x = kCw / 2.0f + (u - 0.5f) * (kCw - 40) * squeeze;
  *y = kCh - 30.0f - v * (kCh - 120) * (1.0f - 0.2f * v);
}

struct Setup {
  std::vector<float> maps[6];  // X1 Y1 X2 Y2 W1 W2 in quad-frame pixels
  MergerCPUOB obj;
  std::vector<uint8_t> cams[4];
  const uint8_t* camPtr[4];
  std::vector<uint8_t> outY, outUV;
  CPUMergerOutput out;
  int32_t pitches[2] = {kW, kW};
  std::vector<float> gains = std::vector<float>(24, 1.0f);
  // Peer: per camera fixed-point maps of its band rectangle.
  cv::Rect rect[4];
  cv::Mat map1[4], chromaMap[4];  // nearest-neighbour maps (CV_16SC2)
  cv::Mat endWeight;  // per pixel 0..32 in the corners, else -1

  Setup() {
    const size_t n = size_t(kW) * kH;
    for (auto& m : maps) m.assign(n, 0.0f);
    const float offX[4] = {0, kCw, 0, kCw}, offY[4] = {0, 0, kCh, kCh};
    endWeight = cv::Mat(kH, kW, CV_32S, cv::Scalar(-1));
    for (int r = 0; r < kH; ++r)
      for (int c = 0; c < kW; ++c) {
        const size_t i = size_t(r) * kW + c;
        const int end = r < kTop ? 0 : (r >= kH - kBottom ? 1 : -1);
        const int side = c < kLeft ? 2 : (c >= kW - kRight ? 3 : -1);
        float x, y;
        if (end >= 0) {
          BandSource(end, r, c, &x, &y);
          maps[0][i] = x + offX[end];
          maps[1][i] = y + offY[end];
        }
        if (side >= 0) {
          BandSource(side, r, c, &x, &y);
          const int slot = end >= 0 ? 2 : 0;
          maps[slot][i] = x + offX[side];
          maps[slot + 1][i] = y + offY[side];
        }
        maps[4][i] = 1.0f;
        if (end >= 0 && side >= 0) {
          const float dr = end == 0 ? float(kTop - r) : float(r - (kH - kBottom) + 1);
          const float dc = side == 2 ? float(kLeft - c) : float(c - (kW - kRight) + 1);
          maps[4][i] = std::min(0.99f, dr / (dr + dc));
          endWeight.at<int>(r, c) = int(31.0f * maps[4][i] + 0.5f);
        }
        maps[5][i] = float(c) / (kW - 1);
        if (end < 0 && side < 0) maps[0][i] = maps[1][i] = 0.0f;  // car: no source
      }
    // Byte LUT, then the stitcher's tables.
    std::vector<uint8_t> planes[4];
    ImageU8 p[4];
    for (int k = 0; k < 4; ++k) {
      planes[k].assign(size_t(kW) * 2 * kH, 0);
      p[k] = ImageU8{kW, 2 * kH, planes[k].data()};
    }
    Matrix m[6];
    for (int k = 0; k < 6; ++k) m[k] = Matrix{kW, kH, maps[k].data()};
    LUT_PackBytePlanes(&p[0], &p[1], &p[2], &p[3], &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], 2 * kCw, 2 * kCh);
    const uint8_t* pp[4] = {planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()};
    const int32_t box[4] = {kLeft, kTop, kW - kRight, kH - kBottom};
    LUTCPU_InitFromBytePlanes(&obj, pp, {kW, kH, 2 * kCw, 2 * kCh, {box[0], box[1], box[2], box[3]}}, kCw, kCh, 0, 0);

    cv::RNG rng(7);
    for (int k = 0; k < 4; ++k) {
      cams[k].resize(size_t(kCw) * kCh * 3 / 2);
      cv::Mat all(kCh * 3 / 2, kCw, CV_8U, cams[k].data());
      rng.fill(all, cv::RNG::UNIFORM, 16, 235);
      camPtr[k] = cams[k].data();
    }
    outY.assign(size_t(kW) * kH, 0);
    outUV.assign(size_t(kW) * kH / 2, 128);
    out = CPUMergerOutput{outY.data(), outUV.data()};

    rect[0] = cv::Rect(0, 0, kW, kTop);
    rect[1] = cv::Rect(0, kH - kBottom, kW, kBottom);
    rect[2] = cv::Rect(0, 0, kLeft, kH);
    rect[3] = cv::Rect(kW - kRight, 0, kRight, kH);
    for (int k = 0; k < 4; ++k) {
      cv::Mat mx(rect[k].height, rect[k].width, CV_32F), my(rect[k].height, rect[k].width, CV_32F);
      cv::Mat cx(rect[k].height / 2, rect[k].width / 2, CV_32FC2);
      for (int r = 0; r < rect[k].height; ++r)
        for (int c = 0; c < rect[k].width; ++c) {
          float x, y;
          BandSource(k, rect[k].y + r, rect[k].x + c, &x, &y);
          mx.at<float>(r, c) = x;
          my.at<float>(r, c) = y;
          if ((r & 1) == 0 && (c & 1) == 0) cx.at<cv::Vec2f>(r / 2, c / 2) = cv::Vec2f(x / 2, y / 2);
        }
      cv::Mat unused;
      cv::convertMaps(mx, my, map1[k], unused, CV_16SC2, true);
      cv::convertMaps(cx, cv::noArray(), chromaMap[k], unused, CV_16SC2, true);
    }
  }
};

Setup& Shared() {
  static Setup s;
  return s;
}

void BM_RunTableStitch_OneThread(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) {
    LUTCPU_Exec(&s.obj, s.camPtr, &s.out, s.pitches, s.gains.data(), 0);
    benchmark::DoNotOptimize(s.outY.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunTableStitch_OneThread)->Unit(benchmark::kMillisecond);

// A pool of n threads kept across frames, as a display application would
// keep them: the caller and n - 1 workers. The rows are split into n
// contiguous bands of equal cost (pixels of the run tables, a seam pixel
// counted as 1.5 single ones), one per thread, which walks its band from
// the top in chunks; a thread done with its band takes chunks from the
// bottom of the others'. Contiguous bands keep each thread's source reads
// local: neighbouring output rows read neighbouring source lines, so
// chunks dealt out round-robin start cold each time (3.3x at 4 threads
// against 3.7x). Taking from the far end balances a core that runs slower
// (one shared host core here ran 40 % slower) without breaking the owner's
// walk. Workers spin for the next frame for a while before sleeping:
// waking a sleeping thread costs about as much as a chunk, so the spin is
// bounded in time (a count of loads ran out in 5-10 us). The counters a
// frame writes and the word the workers spin on sit on cache lines of
// their own.
class BandPool {
 public:
  static constexpr int kChunkRows = 16;  // even, so that no chroma row is shared
  static constexpr auto kSpinTime = std::chrono::microseconds(200);
  static constexpr int kMaxThreads = 16;
  BandPool(int n, Setup& s) : s_(s), bands_(std::min(std::max(n, 1), kMaxThreads)) {
    std::vector<double> cost(kH, 0.0);
    for (int k = 0; k < 4; ++k) {
      for (const CPUStitchRun& run : s.obj.singleRuns[k]) cost[run.row] += run.length;
      for (const CPUStitchRun& run : s.obj.blendRuns[k]) cost[run.row] += 1.5 * run.length;
    }
    double total = 0.0;
    for (double c : cost) total += c;
    bounds_.push_back(0);
    double done = 0.0;
    for (int r = 0; r + 1 < kH && static_cast<int>(bounds_.size()) < bands_; r += 2) {
      done += cost[r] + cost[r + 1];
      if (done >= total * static_cast<double>(bounds_.size()) / bands_) bounds_.push_back(r + 2);
    }
    while (static_cast<int>(bounds_.size()) <= bands_) bounds_.push_back(kH);
    for (int t = 1; t < bands_; ++t) workers_.emplace_back([this, t] { Run(t); });
  }
  ~BandPool() {
    {
      std::lock_guard<std::mutex> l(m_);
      stop_.store(true);
      generation_.fetch_add(1);
    }
    cv_.notify_all();
    for (auto& w : workers_) w.join();
  }
  void Frame() {
    for (int b = 0; b < bands_; ++b) left_[b].rows.store(Pack(bounds_[b], bounds_[b + 1]));
    pending_.store(static_cast<int>(workers_.size()));
    {
      std::lock_guard<std::mutex> l(m_);
      generation_.fetch_add(1);
    }
    cv_.notify_all();
    Work(0);
    while (pending_.load() != 0) {
    }
  }

 private:
  // Rows still to do of a band: [first, end) packed in one word, so that
  // the owner (from the top) and helpers (from the bottom) never take the
  // same rows.
  struct alignas(64) Left {
    std::atomic<uint64_t> rows{0};
  };
  static uint64_t Pack(int first, int end) { return (static_cast<uint64_t>(end) << 32) | static_cast<uint32_t>(first); }
  bool Take(int band, bool fromTop, int* r0, int* r1) {
    uint64_t v = left_[band].rows.load();
    for (;;) {
      const int first = static_cast<int>(v & 0xFFFFFFFFu), end = static_cast<int>(v >> 32);
      if (first >= end) return false;
      *r0 = fromTop ? first : std::max(end - kChunkRows, first);
      *r1 = fromTop ? std::min(first + kChunkRows, end) : end;
      const uint64_t rest = fromTop ? Pack(*r1, end) : Pack(first, *r0);
      if (left_[band].rows.compare_exchange_weak(v, rest)) return true;
    }
  }
  void Stitch(int r0, int r1) {
    LUTCPU_ExecRows(&s_.obj, s_.camPtr, &s_.out, s_.pitches, s_.gains.data(), 0, r0, r1);
  }
  void Work(int t) {
    int r0, r1;
    while (Take(t, true, &r0, &r1)) Stitch(r0, r1);
    for (int k = 1; k < bands_; ++k)
      while (Take((t + k) % bands_, false, &r0, &r1)) Stitch(r0, r1);
  }
  void Run(int t) {
    uint64_t seen = 0;
    for (;;) {
      uint64_t g = generation_.load();
      if (g == seen) {
        const auto until = std::chrono::steady_clock::now() + kSpinTime;
        for (int i = 1; g == seen; ++i) {
          g = generation_.load();
          if ((i & 255) == 0 && std::chrono::steady_clock::now() > until) break;
        }
      }
      if (g == seen) {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [&] { return generation_.load() != seen; });
        g = generation_.load();
      }
      seen = g;
      if (stop_.load()) return;
      Work(t);
      pending_.fetch_sub(1);
    }
  }
  Setup& s_;
  const int bands_;
  std::vector<int> bounds_;  // band b: rows bounds_[b] .. bounds_[b + 1] - 1
  std::vector<std::thread> workers_;
  std::mutex m_;
  std::condition_variable cv_;
  Left left_[kMaxThreads];
  alignas(64) std::atomic<int> pending_{0};
  alignas(64) std::atomic<uint64_t> generation_{0};
  std::atomic<bool> stop_{false};
};

void BM_RunTableStitch_Threads(benchmark::State& state) {
  Setup& s = Shared();
  BandPool pool(static_cast<int>(state.range(0)), s);
  for (auto _ : state) {
    pool.Frame();
    benchmark::DoNotOptimize(s.outY.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RunTableStitch_Threads)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a user would write with OpenCV: remap each camera's band (luma and
// chroma pairs nearest-neighbour from integer maps, as our stitcher samples),
// then blend the corners per pixel with the same weights.
void BM_OpenCvNearestRemapAndBlend(benchmark::State& state) {
  Setup& s = Shared();
  const int previousThreads = cv::getNumThreads();
  if (state.range(0) > 0) cv::setNumThreads(static_cast<int>(state.range(0)));
  cv::Mat warped[4], warpedUV[4];
  cv::Mat outY(kH, kW, CV_8U, s.outY.data()), outUV(kH / 2, kW / 2, CV_8UC2, s.outUV.data());
  for (auto _ : state) {
    for (int k = 0; k < 4; ++k) {
      cv::Mat src(kCh, kCw, CV_8U, s.cams[k].data());
      cv::Mat srcUV(kCh / 2, kCw / 2, CV_8UC2, s.cams[k].data() + size_t(kCw) * kCh);
      cv::remap(src, warped[k], s.map1[k], cv::noArray(), cv::INTER_NEAREST);
      cv::remap(srcUV, warpedUV[k], s.chromaMap[k], cv::noArray(), cv::INTER_NEAREST);
    }
    // Bands first (sides, then ends over them), then the corner blend.
    for (int k : {2, 3, 0, 1}) {
      warped[k].copyTo(outY(s.rect[k]));
      warpedUV[k].copyTo(outUV(cv::Rect(s.rect[k].x / 2, s.rect[k].y / 2, s.rect[k].width / 2, s.rect[k].height / 2)));
    }
    for (int r = 0; r < kH; ++r) {
      const int end = r < kTop ? 0 : (r >= kH - kBottom ? 1 : -1);
      if (end < 0) continue;
      const int er = r - s.rect[end].y;
      const int* a = s.endWeight.ptr<int>(r);
      uint8_t* dst = outY.ptr<uint8_t>(r);
      const uint8_t* e = warped[end].ptr<uint8_t>(er);
      for (int side : {2, 3}) {
        const uint8_t* sd = warped[side].ptr<uint8_t>(r);
        const int c0 = s.rect[side].x;
        for (int c = c0; c < c0 + s.rect[side].width; ++c)
          dst[c] = uint8_t((e[c] * a[c] + sd[c - c0] * (32 - a[c])) >> 5);
      }
    }
    benchmark::DoNotOptimize(s.outY.data());
  }
  state.SetItemsProcessed(state.iterations());
  cv::setNumThreads(previousThreads);
}
// Arg: OpenCV's threads (1 = one thread, 0 = its default).
BENCHMARK(BM_OpenCvNearestRemapAndBlend)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
