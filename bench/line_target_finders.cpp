// The layout-51 stripe finders on 1280 x 720 fisheye frames of the stripe
// site: a side camera (both edges of its stripe, world points returned) and
// the front camera (the inner edges of both stripes), each finding its
// pair at the first scale level.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <vector>

#include "calibration/detect/line_target_finders.h"
#include "testsupport/stripe_site.h"

namespace {

// Keep freed work images in the heap, as the other detection benchmarks do:
// fresh mappings' page faults would otherwise dominate.
const int kMallocTuned = [] {
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  return 0;
}();

struct Frames {
  StripeSite site;
  std::vector<float> pixels[4];
  Frames() {
    StripeSite_Init(&site);
    for (int c = 1; c <= 4; ++c) pixels[c - 1] = StripeSite_Render(site, c);
  }
};

const Frames& SiteFrames() {
  static const Frames frames;
  return frames;
}

void BM_Layout51Side(benchmark::State& state) {
  const Frames& f = SiteFrames();
  std::vector<float> pixels = f.pixels[2];
  Matrix image{f.site.camW, f.site.camH, pixels.data()};
  float points[2 * kLineTargetPoints], world[3 * kLineTargetPoints];
  const float inner = -f.site.innerSpan / 2.0f;
  for (auto _ : state) {
    const int32_t ok = CalibFind_Layout51LR(&f.site.block, &image, 3, points, world,
                                            static_cast<float>(f.site.stripe), inner, inner - f.site.stripe);
    if (ok == 0) state.SkipWithError("stripe pair not found");
    benchmark::DoNotOptimize(points);
  }
}
BENCHMARK(BM_Layout51Side)->Unit(benchmark::kMillisecond);

void BM_Layout51Front(benchmark::State& state) {
  const Frames& f = SiteFrames();
  std::vector<float> pixels = f.pixels[0];
  Matrix image{f.site.camW, f.site.camH, pixels.data()};
  float points[2 * kLineTargetPoints];
  for (auto _ : state) {
    if (CalibFind_Layout51FB(&f.site.block, &image, 1, points, static_cast<float>(f.site.stripe)) == 0)
      state.SkipWithError("stripe pair not found");
    benchmark::DoNotOptimize(points);
  }
}
BENCHMARK(BM_Layout51Front)->Unit(benchmark::kMillisecond);

// A frame without stripes runs all four scale levels.
void BM_Layout51SideNothing(benchmark::State& state) {
  const Frames& f = SiteFrames();
  std::vector<float> pixels(f.pixels[2].size(), 60.0f / 255.0f);
  Matrix image{f.site.camW, f.site.camH, pixels.data()};
  float points[2 * kLineTargetPoints], world[3 * kLineTargetPoints];
  for (auto _ : state) {
    benchmark::DoNotOptimize(CalibFind_Layout51LR(&f.site.block, &image, 3, points, world, 100.0f, -1300.0f, -1400.0f));
  }
}
BENCHMARK(BM_Layout51SideNothing)->Unit(benchmark::kMillisecond);

}  // namespace
