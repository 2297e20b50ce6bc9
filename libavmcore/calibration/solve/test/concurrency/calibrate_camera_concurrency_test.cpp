// Solves of three cameras on three threads at once give what they give one
// after the other: the cameras use different lens-table slots and board
// layout 26 sets the intrinsics mode for each fit, so a solve that saw
// another camera's slot or mode would come out different.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "../solve_test_support.h"
#include "calibration/solve/ground_grid_maps.h"

namespace {

struct CameraJob {
  int camera;
  PoseScene scene;
  SolveResult result;
  float error = 0.0f;
};

struct GridJob {
  SceneCamera cam;
  std::vector<float> u = std::vector<float>(40 * 30), v = std::vector<float>(40 * 30);
  void Run() {
    Matrix R{1, 3, cam.r}, T{1, 3, cam.T}, K{3, 3, cam.K}, D{1, 8, cam.D};
    Matrix U{40, 30, u.data()}, V{40, 30, v.data()};
    Calib_ReprojectPoints(1280, 720, 40, 30, -2000, -4000, &R, &T, &K, &D, &U, &V, 3, cam.slot, 100.0f, 100.0f, 0.0f);
  }
};

bool Same(const SolveResult& a, const SolveResult& b) {
  return a.ret == b.ret && memcmp(a.K, b.K, sizeof a.K) == 0 && memcmp(a.D, b.D, sizeof a.D) == 0 &&
         memcmp(a.R, b.R, sizeof a.R) == 0 && memcmp(a.T, b.T, sizeof a.T) == 0;
}

TEST(CalibrateCameraConcurrencyTest, ThreeCamerasAtOnceSolveAsOneAfterTheOther) {
  ScopedConfigState state;
  InstallLensTables(state);
  gv().CalibLayoutCode = 26;
  for (float& l : gv().presetLimit) l = 5.0f;
  LutConfig cfg = OneModelConfig(3);
  cfg.lensSlot[1] = 0;  // camera 2
  cfg.lensSlot[2] = 1;  // camera 3
  cfg.lensSlot[3] = 1;  // camera 4
  std::vector<CameraJob> jobs;
  const float yaw[3] = {0.0f, -70.0f, 70.0f};
  for (int i = 0; i < 3; ++i) {
    const int camera = 2 + i;
    jobs.push_back({camera, PoseScene_Make(TruthIntrinsics(3, cfg.lensSlot[camera - 1]), 900.0f + 100 * i,
                                           800.0f + 300 * i, yaw[i], 0.2f, 5 + i),
                    {}, 0.0f});
  }
  GridJob grid;
  grid.cam = jobs[0].scene.cam;
  auto solve = [&](CameraJob& j) {
    j.result = SolveScene(&cfg, j.scene, j.camera);
    j.error = gv().lastCalibResult[j.camera - 1];
  };

  // One after the other.
  for (CameraJob& j : jobs) solve(j);
  grid.Run();
  std::vector<SolveResult> expected;
  std::vector<float> expectedError;
  for (const CameraJob& j : jobs) {
    ASSERT_EQ(j.result.ret, 0) << j.camera;
    expected.push_back(j.result);
    expectedError.push_back(j.error);
  }
  const std::vector<float> expectedU = grid.u;
  EXPECT_EQ(LensTable_Slot(0)->trackCount, 0);
  EXPECT_EQ(LensTable_Slot(1)->trackCount, 0);

  // All at once, a few rounds, with a model-3 grid projection beside them.
  for (int round = 0; round < 3; ++round) {
    std::vector<std::thread> threads;
    for (CameraJob& j : jobs) threads.emplace_back([&solve, &j] { solve(j); });
    threads.emplace_back([&grid] { grid.Run(); });
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
      EXPECT_TRUE(Same(jobs[i].result, expected[i])) << "camera " << jobs[i].camera << " round " << round;
      EXPECT_EQ(jobs[i].error, expectedError[i]) << "camera " << jobs[i].camera;
    }
    EXPECT_EQ(grid.u, expectedU) << round;
  }
  // Each solve restored the mode it changed.
  EXPECT_EQ(LensTable_Slot(0)->trackCount, 0);
  EXPECT_EQ(LensTable_Slot(1)->trackCount, 0);
}

}  // namespace
