// One LDWS step and one BSDS step per frame on four 1280 x 720 cameras (a
// 2560 x 1440 NV12 quad frame of the sample rig on a painted road), beside
// versions whose table gathers are cv::remap with integer maps and whose
// line search is cv::HoughLinesP.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "pipeline/bsds.h"
#include "pipeline/ldws.h"
#include "testsupport/adas_road_scene.h"

namespace {

struct Scene {
  AdasSampleRig rig{2};
  ADASConfig cfg{};
  std::vector<uint8_t> frame;
  Scene() {
    ADAS_GenerateTablesFromRig(&cfg, rig.rig, kAdasLDWS | kAdasBSDS);
    AdasRoadRenderer r(rig, 4600.0f, 14000.0f, 25.0f);
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(4096);
    for (auto& v : noise) v = static_cast<uint8_t>(rng());
    // Lines 3.5 m apart and a textured patch (a vehicle) behind on the left.
    frame = r.Render([&](float x, float y) -> uint8_t {
      if (std::fabs(x + 1750) < 75 || std::fabs(x - 1750) < 75) return 230;
      if (x < -1200 && x > -3000 && y > 3000 && y < 7000)
        return noise[(static_cast<int>(x / 25) * 64 + static_cast<int>(y / 25)) & 4095];
      return 80;
    });
  }
  ~Scene() { ADASConfig_Free(&cfg); }
  int32_t width() const { return cfg.C[kAdasFrameWidth]; }
  int32_t height() const { return cfg.C[kAdasFrameHeight]; }
};

Scene& TheScene() {
  static Scene s;
  return s;
}

// Integer remap maps (x, y) of a table, for the luma plane and, halved, for
// the interleaved chroma plane.
void TableMaps(const ImageI32& t, cv::Mat* luma, cv::Mat* chroma) {
  *luma = cv::Mat(t.height, t.width, CV_16SC2);
  *chroma = cv::Mat(t.height, t.width, CV_16SC2);
  for (int r = 0; r < t.height; ++r)
    for (int c = 0; c < t.width; ++c) {
      const uint32_t e = static_cast<uint32_t>(t.data[r * t.width + c]);
      const int x = static_cast<int>(e & 0xFFFF), y = static_cast<int>(e >> 16);
      luma->at<cv::Vec2s>(r, c) = cv::Vec2s(static_cast<short>(x), static_cast<short>(y));
      chroma->at<cv::Vec2s>(r, c) = cv::Vec2s(static_cast<short>(x / 2), static_cast<short>(y / 2));
    }
}

struct LdwsRun {
  LDWSState s;
  Hough hough{};
  std::vector<float> block, thin, work;
  explicit LdwsRun(const ADASConfig& cfg) {
    LDWS_Init(&s, &cfg, 0, 0);
    Hough_Create(&hough, s.columns, s.rows, 51, 26, 140, 1.0f, 0.017453292f, 1.134464f);
    const size_t cells = static_cast<size_t>(s.columns) * s.rows;
    block.assign(cells, 0.0f);
    thin.assign(cells, 0.0f);
    work.assign(cells * 4 + static_cast<size_t>(24) * s.rows * 4, 0.0f);
  }
  ~LdwsRun() {
    Hough_Destroy(&hough);
    LDWS_Release(&s);
  }
};

void BM_LDWSStep(benchmark::State& state) {
  Scene& sc = TheScene();
  LdwsRun run(sc.cfg);
  uint32_t now = 0;
  for (auto _ : state) {
    LDWS_InputLuma(&run.s, sc.frame.data(), run.block.data());
    LDWS_ExtractLinePoints(&run.s, run.block.data(), run.thin.data(), run.work.data());
    HoughSegment segs[16];
    int32_t n = 0;
    LDWS_FindSegments(&run.hough, run.thin.data(), run.s.columns, run.s.rows, segs, &n);
    LDWS_StepAt(&run.s, segs, n, now += 40);
    benchmark::DoNotOptimize(run.s.result.load());
  }
}
BENCHMARK(BM_LDWSStep)->Unit(benchmark::kMillisecond);

void BM_LDWSStep_OpenCV(benchmark::State& state) {
  Scene& sc = TheScene();
  LdwsRun run(sc.cfg);
  const int W = sc.width(), H = sc.height();
  cv::Mat lumaMap, chromaMap;
  TableMaps(sc.cfg.ldws, &lumaMap, &chromaMap);
  cv::Mat luma(H, W, CV_8UC1, sc.frame.data());
  cv::Mat uv(H / 2, W / 2, CV_8UC2, sc.frame.data() + static_cast<size_t>(W) * H);
  cv::Mat y8, uv8, yF, c1, c2, d, value, thin8;
  std::vector<cv::Mat> ch;
  uint32_t now = 0;
  for (auto _ : state) {
    cv::remap(luma, y8, lumaMap, cv::noArray(), cv::INTER_NEAREST);
    cv::remap(uv, uv8, chromaMap, cv::noArray(), cv::INTER_NEAREST);
    cv::split(uv8, ch);
    ch[0].convertTo(c1, CV_32F);
    ch[1].convertTo(c2, CV_32F);
    // Pair differences: each cell against its partner column (2k <-> 2k+1).
    cv::Mat c1p = c1.reshape(2), c2p = c2.reshape(2);
    std::vector<cv::Mat> a, b;
    cv::split(c1p, a);
    cv::split(c2p, b);
    cv::Mat dPair = 0.014f * cv::abs(a[0] - a[1]) + 0.00675f * cv::abs(b[0] - b[1]);
    cv::Mat dTwo[2] = {dPair, dPair};
    cv::merge(dTwo, 2, d);
    d = d.reshape(1, y8.rows);
    y8.convertTo(yF, CV_32F, 0.003474);
    value = cv::min(d + yF - 0.000792f * (c1 - 128.0f), 1.0f);
    cv::Mat block(run.s.rows, run.s.columns, CV_32F, run.block.data());
    value.copyTo(block);
    LDWS_ExtractLinePoints(&run.s, run.block.data(), run.thin.data(), run.work.data());
    cv::Mat(run.s.rows, run.s.columns, CV_32F, run.thin.data()).convertTo(thin8, CV_8U, 255);
    std::vector<cv::Vec4i> lines;
    cv::HoughLinesP(thin8, lines, 1, CV_PI / 180, 36, 20, 7);
    HoughSegment segs[16];
    int32_t n = 0;
    for (const cv::Vec4i& l : lines) {
      if (n == 16) break;
      HoughSegment& g = segs[n++];
      const bool up = l[1] <= l[3];
      g.row0 = up ? l[1] : l[3];
      g.col0 = up ? l[0] : l[2];
      g.row1 = up ? l[3] : l[1];
      g.col1 = up ? l[2] : l[0];
      g.angleDeg = static_cast<float>(std::atan2(g.row1 - g.row0, g.col1 - g.col0) * 180.0 / CV_PI);
      const float dr = static_cast<float>(g.row1 - g.row0);
      g.baseCol = dr != 0 ? g.col0 + (139 - g.row0) * (g.col1 - g.col0) / dr : static_cast<float>(g.col0);
      g.reserved = 0;
    }
    LDWS_StepAt(&run.s, segs, n, now += 40);
    benchmark::DoNotOptimize(run.s.result.load());
  }
}
BENCHMARK(BM_LDWSStep_OpenCV)->Unit(benchmark::kMillisecond);

void BM_BSDSStep(benchmark::State& state) {
  Scene& sc = TheScene();
  BSDSState s;
  BSDS_Init(&s, &sc.cfg);
  s.rearCameraAbsent = 0;
  uint32_t now = 0;
  for (auto _ : state) {
    BSDS_InputLuma(&s, sc.frame.data());
    BSDS_StepAt(&s, now += 40);
    BSDS_AdvanceRead(&s);
    benchmark::DoNotOptimize(s.leftResult.load());
  }
  BSDS_Release(&s);
}
BENCHMARK(BM_BSDSStep)->Unit(benchmark::kMillisecond);

void BM_BSDSStep_OpenCV(benchmark::State& state) {
  Scene& sc = TheScene();
  BSDSState s;
  BSDS_Init(&s, &sc.cfg);
  s.rearCameraAbsent = 0;
  const int W = sc.width(), H = sc.height();
  cv::Mat luma(H, W, CV_8UC1, sc.frame.data());
  const int tableOf[kBsdsZoneCount] = {1, 0, 4, 3, 2};
  cv::Mat maps[kBsdsZoneCount], unused;
  for (int z = 0; z < kBsdsZoneCount; ++z) TableMaps(sc.cfg.bsds[tableOf[z]], &maps[z], &unused);
  uint32_t now = 0;
  for (auto _ : state) {
    const int w = s.writeIndex.load();
    for (int z = 0; z < kBsdsZoneCount; ++z) {
      cv::Mat dst(s.zones[z].rows, s.zones[z].width, CV_8UC1, s.zones[z].slots[w]);
      cv::remap(luma, dst, maps[z], cv::noArray(), cv::INTER_NEAREST);
    }
    BSDS_AdvanceWrite(&s);
    BSDS_StepAt(&s, now += 40);
    BSDS_AdvanceRead(&s);
    benchmark::DoNotOptimize(s.leftResult.load());
  }
  BSDS_Release(&s);
}
BENCHMARK(BM_BSDSStep_OpenCV)->Unit(benchmark::kMillisecond);

}  // namespace
