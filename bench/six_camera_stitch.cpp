// Stitching one six-camera frame (six pre-warped camera pictures) into the
// bird's-eye picture on the CPU: the run-table stitcher against cv::remap
// of the same pictures plus the per-pixel blend, one thread each.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "frame/data_directory.h"
#include "frame/global_variables.h"
#include "surround/cpu_merger_six.h"
#include "surround/lutob.h"
#include "surround/mab_lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/six_camera_rig.h"

namespace {

constexpr int kCw = 1280, kCh = 720;
constexpr int kW = 720, kH = 960;

struct Setup {
  ScopedConfigState state;
  MergerCPUOB6 obj;
  std::vector<uint8_t> luma[6], chroma[6];
  const uint8_t* cams[6][2];
  int32_t camPitch[6][2];
  std::vector<uint8_t> outY, outUV;
  CPUMergerOutput out;
  int32_t pitches[2] = {kW, kW};
  std::vector<float> gains = std::vector<float>(24, 1.0f);
  cv::Rect area[6];   // each picture's area of the output
  cv::Rect owned[6];  // the part a plain copy writes (front part, rear part)
  cv::Mat map1[6], map2[6], chromaMap[6];

  Setup() {
    GlobalVariables_InitRuntimeDefaults();
    SixCameraRig rig(kCw, kCh, kW, kH);
    LUTOB* a = rig.MakeGroupLut(1);
    LUTOB* b = rig.MakeGroupLut(2);
    const std::string dir = DataDirectory();
    GenerateMAB6File(a, b, (dir + "/six.mab").c_str());
    SaveLUTConfig(a, (dir + "/a.krv").c_str());
    SaveLUTConfig(b, (dir + "/b.krv").c_str());
    LUTOB_Destroy(a);
    LUTOB_Destroy(b);
    LUTHI6CPU_InitFromFile(&obj, (dir + "/six.mab").c_str(), (dir + "/a.krv").c_str(), (dir + "/b.krv").c_str(), 0,
                           nullptr, nullptr);
    const int32_t* A = obj.bandSizesA;
    const int32_t* B = obj.bandSizesB;
    area[0] = cv::Rect(0, 0, kW, A[0]);
    area[1] = cv::Rect(0, kH - A[1], kW, A[1]);
    area[2] = cv::Rect(0, 0, A[2], kH);
    area[3] = cv::Rect(kW - A[3], 0, A[3], kH);
    area[4] = cv::Rect(0, 0, B[2], kH);
    area[5] = cv::Rect(kW - B[3], 0, B[3], kH);
    for (int k = 0; k < 6; ++k) owned[k] = area[k];
    owned[2].height = owned[3].height = kH / 2;
    owned[4].y = owned[5].y = kH / 2;
    owned[4].height = owned[5].height = kH - kH / 2;
    cv::RNG rng(7);
    for (int k = 0; k < 6; ++k) {
      const int w = area[k].width, h = area[k].height;
      luma[k].resize(size_t(w) * h);
      chroma[k].resize(size_t(w) * h / 2 + 2);
      cv::Mat y(h, w, CV_8U, luma[k].data()), uv(h / 2, w, CV_8U, chroma[k].data());
      rng.fill(y, cv::RNG::UNIFORM, 16, 235);
      rng.fill(uv, cv::RNG::UNIFORM, 16, 240);
      cams[k][0] = luma[k].data();
      cams[k][1] = chroma[k].data();
      camPitch[k][0] = w;
      camPitch[k][1] = w;
      // The peer's maps of the owned part: output pixel to picture pixel.
      const cv::Rect& o = owned[k];
      cv::Mat mx(o.height, o.width, CV_32F), my(o.height, o.width, CV_32F);
      cv::Mat cx(o.height / 2, o.width / 2, CV_32FC2);
      for (int r = 0; r < o.height; ++r)
        for (int c = 0; c < o.width; ++c) {
          const float x = float(o.x + c - area[k].x), yv = float(o.y + r - area[k].y);
          mx.at<float>(r, c) = x;
          my.at<float>(r, c) = yv;
          if ((r & 1) == 0 && (c & 1) == 0) cx.at<cv::Vec2f>(r / 2, c / 2) = cv::Vec2f(x / 2, yv / 2);
        }
      cv::convertMaps(mx, my, map1[k], map2[k], CV_16SC2);
      chromaMap[k] = cx;
    }
    outY.assign(size_t(kW) * kH, 0);
    outUV.assign(size_t(kW) * kH / 2, 128);
    out = CPUMergerOutput{outY.data(), outUV.data()};
  }
};

Setup& Shared() {
  static Setup s;
  return s;
}

void BM_SixCameraRunTableStitch(benchmark::State& state) {
  Setup& s = Shared();
  for (auto _ : state) {
    LUTHI6CPU_Exec(&s.obj, s.cams, s.camPitch, &s.out, s.pitches, s.gains.data(), nullptr);
    benchmark::DoNotOptimize(s.outY.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SixCameraRunTableStitch)->Unit(benchmark::kMillisecond);

// What a user would write with OpenCV: remap each picture over its part of
// the output (luma bilinear from fixed-point maps, chroma pairs nearest),
// copy the parts, then blend the seams per pixel with the same weights.
void BM_SixCameraOpenCvRemapAndBlend(benchmark::State& state) {
  Setup& s = Shared();
  const int previousThreads = cv::getNumThreads();
  cv::setNumThreads(1);
  cv::Mat warped[6], warpedUV[6];
  cv::Mat outY(kH, kW, CV_8U, s.outY.data()), outUV(kH / 2, kW / 2, CV_8UC2, s.outUV.data());
  const int first[6] = {0, 0, 1, 1, 2, 3}, second[6] = {2, 3, 4, 5, 4, 5};
  for (auto _ : state) {
    for (int k = 0; k < 6; ++k) {
      const cv::Rect& a = s.area[k];
      cv::Mat src(a.height, a.width, CV_8U, s.luma[k].data());
      cv::Mat srcUV(a.height / 2, a.width / 2, CV_8UC2, s.chroma[k].data());
      cv::remap(src, warped[k], s.map1[k], s.map2[k], cv::INTER_LINEAR);
      cv::remap(srcUV, warpedUV[k], s.chromaMap[k], cv::noArray(), cv::INTER_NEAREST);
    }
    for (int k : {2, 3, 4, 5, 0, 1}) {
      const cv::Rect& o = s.owned[k];
      warped[k].copyTo(outY(o));
      warpedUV[k].copyTo(outUV(cv::Rect(o.x / 2, o.y / 2, o.width / 2, o.height / 2)));
    }
    for (int p = 0; p < 6; ++p) {
      const int e = first[p], d = second[p];
      for (const CPUStitchRun& run : s.obj.blendRuns[p]) {
        const int r = run.row;
        uint8_t* dst = outY.ptr<uint8_t>(r);
        const uint16_t* cell = &s.obj.blendMap[size_t(r) * kW];
        const uint8_t* ea = s.luma[e].data() + size_t(r - s.area[e].y) * s.area[e].width - s.area[e].x;
        const uint8_t* da = s.luma[d].data() + size_t(r - s.area[d].y) * s.area[d].width - s.area[d].x;
        for (int c = run.col; c < run.col + run.length; ++c) {
          const int w = cell[c] >> 8;
          dst[c] = uint8_t((ea[c] * w + da[c] * (32 - w)) >> 5);
        }
      }
    }
    benchmark::DoNotOptimize(s.outY.data());
  }
  state.SetItemsProcessed(state.iterations());
  cv::setNumThreads(previousThreads);
}
BENCHMARK(BM_SixCameraOpenCvRemapAndBlend)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
