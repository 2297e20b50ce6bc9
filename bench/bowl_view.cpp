// The 3-D bowl view on the sample rig (four 640 x 360 fisheye cameras):
// building the four camera meshes of the default bowl (200 x 268 grid, cast
// twice, projected and triangulated) and the 3-D LUT of a 640 x 480 top
// view (sampling step 2). Beside them, as a yardstick for the projection
// share, OpenCV's fisheye projection of as many points as the mesh build
// projects.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "frame/global_variables.h"
#include "surround/bowl_grid.h"
#include "surround/bowl_mesh.h"
#include "surround/lut3d.h"
#include "testsupport/bowl_rig.h"

namespace {

// The rig's parameter file in a temporary directory removed at exit.
struct RigDirectory {
  std::string dir;
  RigDirectory() {
    GlobalVariables_InitRuntimeDefaults();
    char tmpl[] = "/tmp/avmbowlbenchXXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir = tmpl;
    BowlRig_WriteConfig(dir + "/lut_config.krv");
  }
  ~RigDirectory() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

std::string ConfigPath() {
  static RigDirectory rig;
  return rig.dir + "/lut_config.krv";
}

void BM_BowlMeshes(benchmark::State& state) {
  const std::string path = ConfigPath();
  D3DGrid grid;
  const float insets[4] = {0, 0, 0, 0};
  if (D3DGrid_Init_New(&grid, path.c_str(), kBowlDefaultShape, insets) == 0) {
    state.SkipWithError("no parameter file");
    return;
  }
  for (auto _ : state) {
    D3DGrid_GenerateMeshes(&grid);
    benchmark::DoNotOptimize(grid.meshes[0].vertices.data());
  }
  int64_t triangles = 0;
  for (const BowlCameraMesh& m : grid.meshes) triangles += m.part1 + m.part2;
  state.counters["triangles"] = static_cast<double>(triangles);
  state.SetItemsProcessed(state.iterations() * 2 * grid.cols * grid.rows);
  D3DGrid_Release(&grid);
}

void BM_Lut3D(benchmark::State& state) {
  const std::string path = ConfigPath();
  const int32_t w = static_cast<int32_t>(state.range(0)), h = static_cast<int32_t>(state.range(1));
  LUT3DOB lut;
  if (Init3DLut(&lut, path.c_str(), w, h, kBowlDefaultShape) == 0) {
    state.SkipWithError("no parameter file");
    return;
  }
  for (auto _ : state) {
    Lut3D_ComputeEx(&lut, 2, nullptr, 0, 1.0f, static_cast<float>(w) / h, 0, 0, 0, 0, 16000, 0, 0);
    benchmark::DoNotOptimize(lut.U1.data());
  }
  state.SetItemsProcessed(state.iterations() * w * h);
  UnInit3DLut(&lut);
}

void BM_OpenCVFisheyeProjection(benchmark::State& state) {
  // As many bowl points as the mesh build projects (two casts of 200 x 268).
  const SceneCamera cam = SampleRigCamera(1);
  std::vector<cv::Point3f> pts;
  for (int r = 0; r < 268; ++r)
    for (int c = 0; c < 200; ++c)
      for (int s = 0; s < 2; ++s) pts.emplace_back((c - 100) * 50.0f, -4000.0f - r * 30.0f, s * -500.0f);
  const cv::Matx33d K(150, 0, kSampleCamW / 2.0, 0, 150, kSampleCamH / 2.0, 0, 0, 1);
  const cv::Vec4d D(0, 0, 0, 0);
  const cv::Vec3d rvec(cam.r[0], cam.r[1], cam.r[2]), tvec(0, 0, 0);
  std::vector<cv::Point2f> out;
  for (auto _ : state) {
    cv::fisheye::projectPoints(pts, out, rvec, tvec, K, D);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(pts.size()));
}

}  // namespace

BENCHMARK(BM_BowlMeshes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lut3D)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVFisheyeProjection)->Unit(benchmark::kMillisecond);
