// Marker quads and the calibration pattern finder on a 1280 x 720 fisheye
// frame. Chessboard_FindMarkerQuads (schedule entries 0 and 1) on a frame holding
// four nested markers and four plain squares, beside OpenCV's classic
// marker-candidate search (adaptive threshold, contour tree, polygon
// approximation, a quad holding a quad; threshold constant 7 as ArUco
// uses, since at 0 the grain of the flat ground floods it with contours).
// CalibFindPattern for a square
// (type 1), a 4 x 4 board (type 3) and a round mark (type 9) in an
// 800 x 800 mm ground window, beside OpenCV's remap of the same top view
// followed by its chessboard detector (the work of type 3's first scale).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <cstring>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "calibration/detect/pattern_finder.h"
#include "calibration/detect/quad_search.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "testsupport/mark_scenes.h"

namespace {

// Keep freed work images in the heap (as the chessboard benchmark does):
// fresh mappings' page faults would hide the work itself.
const int kMallocTuned = [] {
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  return 0;
}();

struct Frame {
  MarkScene scene;
  FloatImage img;
  cv::Mat grey;
};

void Finish(Frame* f) {
  RenderOptions o;
  o.blurSigma = 0.8f;
  o.noiseSigma = 2.0f;
  MarkScene_Render(f->scene, o, &f->img);
  f->grey.create(f->scene.height, f->scene.width, CV_8UC1);
  for (size_t i = 0; i < f->img.data.size(); ++i)
    f->grey.data[i] = static_cast<uint8_t>(std::lround(f->img.data[i] * 255.0f));
}

BoardSceneSpec View() {
  BoardSceneSpec v;
  v.model = 2;
  v.width = 1280;
  v.height = 720;
  v.tiltDeg = 30.0f;
  return v;
}

const Frame& MarkerFrame() {
  static Frame f;
  static bool made = false;
  if (!made) {
    f.scene = MarkScene_Make(View());
    for (float s : {-500.0f, -170.0f, 170.0f, 500.0f}) {
      MarkScene_AddNestedSquare(&f.scene, s, -220, 160, 0.5f, 8, 30);
      MarkScene_AddSquare(&f.scene, s, 220, 160, 8, 30);
    }
    Finish(&f);
    made = true;
  }
  return f;
}

// Ground window centres (world) of the three patterns of the pattern frame.
struct PatternFrame : Frame {
  float square[2], board[2], disc[2];
};

const PatternFrame& PatternsFrame() {
  static PatternFrame f;
  static bool made = false;
  if (!made) {
    f.scene = MarkScene_Make(View());
    MarkScene_AddSquare(&f.scene, -600, 0, 300, 0, 30);
    MarkScene_AddChessboard(&f.scene, -180, -180, 4, 4, 90, 30);
    MarkScene_AddDisc(&f.scene, 600, 0, 90, 30);
    MarkScene_World(f.scene, -600, 0, &f.square[0], &f.square[1]);
    MarkScene_World(f.scene, 0, 0, &f.board[0], &f.board[1]);
    MarkScene_World(f.scene, 600, 0, &f.disc[0], &f.disc[1]);
    Finish(&f);
    made = true;
  }
  return f;
}

// A LUT object whose camera 1 is the frame's camera.
struct Lut {
  LUTOB* lut;
  explicit Lut(const MarkScene& s) {
    lut = LUTOB_Create();
    CameraParamSet_SetHeaders(&lut->params, &lut->poses);
    lut->camW = s.width;
    lut->camH = s.height;
    lut->cfg.model[0] = static_cast<uint32_t>(s.cam.model);
    lut->cfg.lensSlot[0] = s.cam.slot;
    memcpy(lut->params.K[0], s.cam.K, sizeof s.cam.K);
    memcpy(lut->params.D[0], s.cam.D, sizeof s.cam.D);
    memcpy(lut->params.R[0], s.cam.r, sizeof s.cam.r);
    memcpy(lut->params.T[0], s.cam.T, sizeof s.cam.T);
  }
  ~Lut() { LUTOB_Destroy(lut); }
};

void FindMarkerQuads(benchmark::State& state) {
  const Frame& f = MarkerFrame();
  std::vector<float> out(8 * kMarkerQuadMax);
  int32_t n = 0;
  const int32_t index = static_cast<int32_t>(state.range(0));
  for (auto _ : state)
    benchmark::DoNotOptimize(n = Chessboard_FindMarkerQuads(&f.img.m, 0, index, out.data(), 5, 150, 7, 150));
  state.counters["markers"] = n;
}
// Entry 0 thresholds the unsmoothed frame: the grain of the flat ground
// breaks into many regions to label. Entry 1 smooths first.
BENCHMARK(FindMarkerQuads)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void OpenCVMarkerCandidates(benchmark::State& state) {
  const Frame& f = MarkerFrame();
  cv::Mat bin;
  std::vector<std::vector<cv::Point>> contours;
  std::vector<cv::Vec4i> tree;
  int found = 0;
  for (auto _ : state) {
    cv::adaptiveThreshold(f.grey, bin, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, 47, 7);
    cv::findContours(bin, contours, tree, cv::RETR_TREE, cv::CHAIN_APPROX_NONE);
    std::vector<char> quad(contours.size(), 0);
    std::vector<cv::Point> poly;
    for (size_t i = 0; i < contours.size(); ++i) {
      if (contours[i].size() < 20) continue;
      cv::approxPolyDP(contours[i], poly, 0.05 * cv::arcLength(contours[i], true), true);
      quad[i] = poly.size() == 4 && cv::isContourConvex(poly);
    }
    found = 0;
    for (size_t i = 0; i < contours.size(); ++i)
      if (quad[i] && tree[i][2] >= 0 && quad[tree[i][2]]) ++found;
    benchmark::DoNotOptimize(found);
  }
  state.counters["markers"] = found;
}
BENCHMARK(OpenCVMarkerCandidates)->Unit(benchmark::kMillisecond);

void CalibFindPatternType(benchmark::State& state) {
  const PatternFrame& f = PatternsFrame();
  Lut lut(f.scene);
  const int type = static_cast<int>(state.range(0));
  const float* c = type == 1 ? f.square : (type == 3 ? f.board : f.disc);
  const float size = type == 1 ? 300.0f : (type == 9 ? 180.0f : 0.0f);
  float pts[32];
  int32_t result = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(result = CalibFindPattern(lut.lut, 0, &f.img.m, type, 0, 0, pts, size, c[0] - 400,
                                                       c[1] - 400, 800, 800, 0));
  state.counters["found"] = result != 0;
}
BENCHMARK(CalibFindPatternType)->Arg(1)->Arg(3)->Arg(9)->Unit(benchmark::kMillisecond);

void OpenCVTopViewChessboard(benchmark::State& state) {
  const PatternFrame& f = PatternsFrame();
  Lut lut(f.scene);
  const int cols = 100, rows = 100;
  cv::Mat mapX(rows, cols, CV_32FC1), mapY(rows, cols, CV_32FC1), view, view8;
  Matrix U{cols, rows, reinterpret_cast<float*>(mapX.data)}, V{cols, rows, reinterpret_cast<float*>(mapY.data)};
  Calib_ReprojectPoints(f.scene.width, f.scene.height, cols, rows, static_cast<int32_t>(f.board[0] - 400),
                        static_cast<int32_t>(f.board[1] - 400), &lut.lut->poses.R[0], &lut.lut->poses.T[0],
                        &lut.lut->poses.K[0], &lut.lut->poses.D[0], &U, &V, f.scene.cam.model, 0, 8, 8, 0);
  std::vector<cv::Point2f> corners;
  bool found = false;
  for (auto _ : state) {
    cv::remap(f.grey, view, mapX, mapY, cv::INTER_LINEAR);
    found = cv::findChessboardCorners(view, cv::Size(3, 3), corners, cv::CALIB_CB_ADAPTIVE_THRESH);
    if (found) cv::cornerSubPix(view, corners, cv::Size(3, 3), cv::Size(-1, -1),
                                cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 20, 0.01));
    benchmark::DoNotOptimize(found);
  }
  state.counters["found"] = found;
}
BENCHMARK(OpenCVTopViewChessboard)->Unit(benchmark::kMillisecond);

}  // namespace
