// Source maps of the undistorted single-camera views for one 1280 x 720
// camera, per view type, against OpenCV's fisheye undistortion map of the
// same size.
#include <benchmark/benchmark.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <vector>

#include "testsupport/view_test_fixture.h"
#include "camera/view_object.h"
#include "camera/view_source_maps.h"

namespace {

struct Views {
  UndistOB* view = nullptr;
  Views() {
    gv().CalibLayoutCode = 3;
    const std::string path = view_fixture::TempFile("bench_lut_config.krv");
    view_fixture::WriteRig(path);
    view = UndistOB_Create();
    Undist4Camera_Init(view, path.c_str());
    unlink(path.c_str());
  }
};

Views& TheViews() {
  static Views v;
  return v;
}

// Types 1, 3 and 4 build into maps kept across frames, as OpenCV's peer
// reuses its output maps. What differs: ours evaluates the lens model on an
// 8 x 8 grid and fills the rest by map repair (linear steps between grid
// samples); OpenCV evaluates every pixel, for a plain fisheye model without
// our view's shaping.
void BM_UndistViewMap(benchmark::State& st) {
  const int type = static_cast<int>(st.range(0));
  UndistOB* view = TheViews().view;
  UndistView_SetParam(view, 1, 1280, 720, type, 0, 100.0f, 1.3f, 0, 0, 1.0f, 0, 0.2f, 0.2f, 0.2f, 0.1f, 0);
  UndistViewBlock* b = &view->undist[0];
  const int32_t camW = view->frameWidth / 2, camH = view->frameHeight / 2;
  std::vector<float> xs(static_cast<size_t>(b->width) * b->height), ys(xs.size());
  Matrix mx{b->width, b->height, xs.data()}, my{b->width, b->height, ys.data()};
  for (auto _ : st) {
    switch (type) {
      case 1: UndistView_BuildMapsType1(b, camW, camH, &mx, &my); break;
      case 2:
        UndistView_BuildCurvedMaps(view, b);
        b->yShift = 20.0f;  // the builder moves it by the first usable row
        break;
      case 3: UndistView_BuildMapsType3(b, camW, camH, &mx, &my); break;
      default: UndistView_BuildMapsType4(b, camW, camH, &mx, &my); break;
    }
    benchmark::DoNotOptimize(xs.data());
    benchmark::DoNotOptimize(b->mapX.data);
  }
  st.SetItemsProcessed(st.iterations() * 1280 * 720);
}
BENCHMARK(BM_UndistViewMap)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

// OpenCV's fisheye undistortion map of the same size (float maps, one
// thread, outputs reused), the peer.
void BM_OpenCvFisheyeMap(benchmark::State& st) {
  cv::setNumThreads(1);
  cv::Matx33d K(300, 0, 639.5, 0, 300, 359.5, 0, 0, 1);
  cv::Vec4d D(0.0, 0.0, 0.0, 0.0);
  cv::Matx33d P(1280 * 0.5 / std::tan(100.0 * M_PI / 180.0 / 1.3), 0, 639.5, 0,
                1280 * 0.5 / std::tan(100.0 * M_PI / 180.0 / 1.3), 359.5, 0, 0, 1);
  cv::Mat m1, m2;
  for (auto _ : st) {
    cv::fisheye::initUndistortRectifyMap(K, D, cv::Matx33d::eye(), P, cv::Size(1280, 720), CV_32FC1, m1, m2);
    benchmark::DoNotOptimize(m1.data);
  }
  st.SetItemsProcessed(st.iterations() * 1280 * 720);
}
BENCHMARK(BM_OpenCvFisheyeMap)->Unit(benchmark::kMillisecond);

}  // namespace
