// Layout finders of codes 7, 25 and 27 on rendered 1280 x 720 fisheye
// frames of their sites (targets at the layouts' world points, the camera at
// a known pose): each finder's whole road on the front camera, with the
// solves it runs, and the roads that search longest (layout 25 when no
// second-stage crossing is on the floor runs all ten attempts; layout 7's
// front part finder on a frame without its mat runs all four threshold
// steps).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "calibration/detect/layout_finders.h"
#include "camera/lut_config_file.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "testsupport/floor_render.h"
#include "testsupport/config_state.h"
#include "testsupport/pose_scene.h"
#include "testsupport/scene_renderer.h"

namespace {

constexpr int kW = 1280, kH = 720, kRows = 64;

SceneCamera Camera(float x, float y, float height, float atX, float atY) {
  SceneCamera cam = PoseScene_Camera(2, kW, kH);
  const float pos[3] = {x, y, -height}, at[3] = {atX, atY, 0.0f}, up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos, at, up);
  return cam;
}

std::vector<float> RenderFloor(const SceneCamera& cam, std::function<float(float, float)> level) {
  return Floor_Render(cam, kW, kH, FloorRenderWindow{-8000.0f, -9000.0f, 16000.0f, 18000.0f}, std::move(level));
}

// Dark cells of a checker cut by the lines xs and ys.
struct Rect {
  float x0, y0, x1, y1;
};
void Checker(const std::vector<float>& xs, const std::vector<float>& ys, std::vector<Rect>* out) {
  for (size_t j = 0; j + 1 < ys.size(); ++j)
    for (size_t i = 0; i + 1 < xs.size(); ++i)
      if ((i + j) % 2 == 0) out->push_back({xs[i], ys[j], xs[i + 1], ys[j + 1]});
}
std::function<float(float, float)> Rects(std::vector<Rect> rects) {
  return [rects](float x, float y) {
    for (const Rect& d : rects)
      if (x >= d.x0 && x < d.x1 && y >= d.y0 && y < d.y1) return 30.0f;
    return -1.0f;
  };
}

// One layout's site for the front camera: configuration, profile, the LUT
// object with the camera's world points, and the rendered frame.
struct Site {
  ScopedConfigState state;
  LUTOB* lut = LUTOB_Create();
  std::vector<float> world, points, pixels;
  Matrix image{kW, kH, nullptr};

  Site(int32_t code, const std::string& profileFile, const std::string& profileText) {
    GlobalVariables& g = gv();
    g.maxPoints = kRows;
    for (float& l : g.presetLimit) l = 5.0f;
    g.boardCols12 = g.boardCols34 = 6;
    g.boardRows12 = g.boardRows34 = 7;
    g.targetDimA = 400;
    g.targetDimB = code == 27 ? 1 : 300;
    CameraParamSet_SetHeaders(&lut->params, &lut->poses);
    lut->cfg.carWidth = 1800;
    lut->cfg.carLength = 4600;
    for (int c = 0; c < 4; ++c) lut->cfg.model[c] = 2;
    lut->camW = kW;
    lut->camH = kH;
    world.assign(3 * kRows, 0.0f);
    points.assign(2 * kRows, 0.0f);
    if (!profileFile.empty()) state.WriteFile(profileFile, profileText);
    CalibProfile() = CalibProfileRecord{};
    g.CalibLayoutCode = code;
    Matrix m{3, kRows, world.data()};
    ComputeTargetWorldPoints(&lut->cfg, 1, &m);
    lut->cameraImages[0] = &image;
    lut->imagePoints[0] = points.data();
    lut->worldPoints[0] = world.data();
  }
  ~Site() {
    lut->cameraImages[0] = nullptr;
    lut->imagePoints[0] = lut->worldPoints[0] = nullptr;
    LUTOB_Destroy(lut);
  }
  const float* W(int k) const { return &world[3 * k]; }
  void Show(const SceneCamera& cam, std::function<float(float, float)> level) {
    pixels = RenderFloor(cam, std::move(level));
    image.data = pixels.data();
  }
  uint32_t Find(uint32_t (*finder)(LUTOB*, uint32_t, Matrix*, int32_t, int32_t, float*)) {
    lut->cornerCounts[0] = 0;
    return finder(lut, 1, &image, 6, 7, points.data());
  }
};

// Layout 25: painted lines through the front camera's world points and a
// glow between the first four; `outer` false leaves out the lines that the
// second stage looks for.
void ShowLines(Site* s, const SceneCamera& cam, bool outer) {
  std::vector<float> xs, ys;
  for (int k = 0; k < 16; ++k) xs.push_back(s->W(k)[0]), ys.push_back(s->W(k)[1]);
  for (auto* v : {&xs, &ys}) {
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end()), v->end());
  }
  const float x0 = xs.front() - 300, x1 = xs.back() + 300, y0 = ys.front() - 300, y1 = ys.back() + 300;
  s->Show(cam, [=](float x, float y) {
    bool line = false;
    for (float lx : xs)
      line = line || (std::fabs(x - lx) <= 20.0f && y >= y0 && y <= y1 && (outer || std::fabs(lx) < 1000.0f));
    for (float ly : ys) line = line || (std::fabs(y - ly) <= 20.0f && x >= x0 && x <= x1);
    const float d2 = x * x + (y + 3200.0f) * (y + 3200.0f);
    return std::min(255.0f, (line ? 200.0f : 40.0f) + 90.0f * std::exp(-d2 / (2.0f * 350.0f * 350.0f)));
  });
}

const std::string kCvj = "0,0,1280,720\n0,0,1280,720\n0,0,1280,720\n0,0,1280,720\n";

void BM_Layout25Front(benchmark::State& state) {
  Site s(25, "cvj_cfg.txt", kCvj);
  ShowLines(&s, Camera(0, -2300, 1000, 0, -3300), true);
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = s.Find(CalibFind_Layout25));
  state.counters["points"] = n;
}
BENCHMARK(BM_Layout25Front)->Unit(benchmark::kMillisecond);

void BM_Layout25FrontAllAttempts(benchmark::State& state) {
  Site s(25, "cvj_cfg.txt", kCvj);
  ShowLines(&s, Camera(0, -2300, 1000, 0, -3300), false);
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = s.Find(CalibFind_Layout25));
  state.counters["points"] = n;
}
BENCHMARK(BM_Layout25FrontAllAttempts)->Unit(benchmark::kMillisecond);

std::function<float(float, float)> FrontMat() {
  std::vector<Rect> r;
  const std::vector<float> side = {-4200, -3900, -3300, -2700, -2400}, mark = {-2850, -2700, -2550};
  Checker({-900, -600, 0, 300}, {-3600, -3300, -2700, -2400}, &r);
  Checker({-2700, -2400, -1800, -1500}, side, &r);
  Checker({1500, 1800, 2400, 2700}, side, &r);
  Checker({-1350, -1200, -1050}, mark, &r);
  Checker({1050, 1200, 1350}, mark, &r);
  return Rects(r);
}

void BM_Layout7Front(benchmark::State& state) {
  Site s(7, "", "");
  s.Show(Camera(-300, -2500, 800, -300, -3300), FrontMat());
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = s.Find(CalibFind_Layout7));
  state.counters["points"] = n;
}
BENCHMARK(BM_Layout7Front)->Unit(benchmark::kMillisecond);

void BM_Layout7FrontWithoutMat(benchmark::State& state) {
  Site s(7, "", "");
  s.Show(Camera(-300, -2500, 800, -300, -3300), [](float, float) { return -1.0f; });
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = s.Find(CalibFind_Layout7));
  state.counters["points"] = n;
}
BENCHMARK(BM_Layout7FrontWithoutMat)->Unit(benchmark::kMillisecond);

void BM_Layout27Front(benchmark::State& state) {
  Site s(27, "", "");
  std::vector<Rect> r;
  Checker({-500, -300, -100, 100, 300, 500}, {-3700, -3500, -3300, -3100, -2900, -2700}, &r);
  std::vector<Rect> a, b;
  Checker({-1850, -1650, -1450}, {-3300, -3100, -2900}, &a);
  Checker({1450, 1650, 1850}, {-3300, -3100, -2900}, &b);
  // The first mark's other diagonal is dark.
  for (Rect& q : a) q.x0 = q.x0 == -1850 ? -1650 : -1850, q.x1 = q.x0 + 200;
  r.insert(r.end(), a.begin(), a.end());
  r.insert(r.end(), b.begin(), b.end());
  s.Show(Camera(0, -2300, 700, 0, -3300), Rects(r));
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(n = s.Find(CalibFind_Layout27));
  state.counters["points"] = n;
}
BENCHMARK(BM_Layout27Front)->Unit(benchmark::kMillisecond);

}  // namespace
