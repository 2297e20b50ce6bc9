// Projection speed of the six lens models (points per second), single-point
// function and point sets, against OpenCV's fisheye projection.
#include <benchmark/benchmark.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include <vector>

#include "camera/camera_model.h"
#include "camera/rotation.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"
#include "testsupport/scene_renderer.h"

namespace {

constexpr int kPoints = 20000;

struct Scene {
  Scene() {
    EquidistantTable t;
    LensTableFixture_Write(state.dir(), 1, t);
    LensTableFixture_Install(state.dir(), 1);
    const float pos[3] = {0, -300, 1000}, at[3] = {0, 1500, 0};
    SceneCamera_LookAt(&cam, pos, at);
    for (int i = 0; i < kPoints; ++i) {
      const float x = -3000.0f + 6000.0f * (i % 200) / 199.0f;
      const float y = 100.0f + 4000.0f * (i / 200) / 99.0f;
      world.insert(world.end(), {x, y, 0.0f});
    }
  }
  ScopedConfigState state;
  SceneCamera cam;
  std::vector<float> world;
};

Scene& TheScene() {
  static Scene scene;
  return scene;
}

// Intrinsics of each model for a 1280 x 720 camera.
void ModelParams(int model, float* K, float* D) {
  const float Kp[9] = {1, 0, 639.5f, 0, 1, 359.5f, 0, 0, 1};
  const float Kq[9] = {360, 0, 639.5f, model == 5 ? 0.9f : 0.0f, 360, 359.5f, 0, 0, 1};
  std::copy(model >= 5 ? Kq : Kp, (model >= 5 ? Kq : Kp) + 9, K);
  for (int k = 0; k < 8; ++k) D[k] = 0;
  if (model == 3) {
    D[0] = 72;
  } else if (model <= 4) {
    D[0] = 360;
    D[1] = 2;
    D[2] = -0.2f;
  } else {
    D[0] = 0.02f;
    D[1] = -0.003f;
    D[2] = 0.0005f;
  }
}

void BM_SinglePoint(benchmark::State& st) {
  Scene& s = TheScene();
  const int model = static_cast<int>(st.range(0));
  float K[9], D[8];
  ModelParams(model, K, D);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, s.cam.r}, mT{1, 3, s.cam.T};
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(model, &mr, &mT, &mK, &mD, &fn, &ctx);
  for (auto _ : st) {
    float acc = 0;
    for (int i = 0; i < kPoints; ++i) {
      float u, v;
      fn(model, &ctx, &u, &v, 0, s.world[3 * i], s.world[3 * i + 1], s.world[3 * i + 2]);
      acc += u + v;
    }
    benchmark::DoNotOptimize(acc);
  }
  st.SetItemsProcessed(st.iterations() * kPoints);
}

void BM_PointSet(benchmark::State& st) {
  Scene& s = TheScene();
  const int model = static_cast<int>(st.range(0));
  const bool deriv = st.range(1) != 0;
  float K[9], D[8];
  ModelParams(model, K, D);
  Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, s.cam.r}, mT{1, 3, s.cam.T};
  std::vector<float> out(2 * kPoints), b3a(6 * kPoints), b3b(6 * kPoints), b3c(6 * kPoints), b2(4 * kPoints),
      b8(16 * kPoints);
  Matrix mw{3, kPoints, s.world.data()}, mo{2, kPoints, out.data()};
  Matrix mR{3, 2 * kPoints, b3a.data()}, mTr{3, 2 * kPoints, b3b.data()}, mI{3, 2 * kPoints, b3c.data()};
  Matrix mC{2, 2 * kPoints, b2.data()}, mDd{8, 2 * kPoints, b8.data()};
  for (auto _ : st) {
    if (deriv)
      CameraModel_ProjectPoints(model, &mw, &mr, &mT, &mK, &mD, &mo, &mR, &mTr, &mI, &mC, &mDd, 0);
    else
      CameraModel_ProjectPoints(model, &mw, &mr, &mT, &mK, &mD, &mo, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
    benchmark::DoNotOptimize(out.data());
  }
  st.SetItemsProcessed(st.iterations() * kPoints);
}

void BM_OpenCvFisheye(benchmark::State& st) {
  Scene& s = TheScene();
  // Same camera: OpenCV's pose is Xc = R X + t, so t = R T.
  cv::Mat rvec = (cv::Mat_<double>(3, 1) << s.cam.r[0], s.cam.r[1], s.cam.r[2]);
  float Rf[9];
  RodriguesArr(s.cam.r, Rf, nullptr);
  cv::Vec3d t;
  for (int k = 0; k < 3; ++k) t[k] = Rf[k * 3] * s.cam.T[0] + Rf[k * 3 + 1] * s.cam.T[1] + Rf[k * 3 + 2] * s.cam.T[2];
  cv::Mat tvec = (cv::Mat_<double>(3, 1) << t[0], t[1], t[2]);
  cv::Matx33d K(360, 0, 639.5, 0, 360, 359.5, 0, 0, 1);
  cv::Vec4d D(0.02, -0.003, 0.0005, 0.0001);
  std::vector<cv::Point3d> pts(kPoints);
  for (int i = 0; i < kPoints; ++i) pts[i] = cv::Point3d(s.world[3 * i], s.world[3 * i + 1], s.world[3 * i + 2]);
  std::vector<cv::Point2d> out;
  const bool deriv = st.range(0) != 0;
  cv::Mat jac;
  for (auto _ : st) {
    if (deriv)
      cv::fisheye::projectPoints(pts, out, rvec, tvec, K, D, 0.0, jac);
    else
      cv::fisheye::projectPoints(pts, out, rvec, tvec, K, D, 0.0, cv::noArray());
    benchmark::DoNotOptimize(out.data());
  }
  st.SetItemsProcessed(st.iterations() * kPoints);
}

BENCHMARK(BM_SinglePoint)->ArgName("model")->DenseRange(1, 6);
BENCHMARK(BM_PointSet)->ArgNames({"model", "deriv"})->ArgsProduct({{1, 2, 3, 4, 5, 6}, {0, 1}});
BENCHMARK(BM_OpenCvFisheye)->ArgName("deriv")->Arg(0)->Arg(1);

}  // namespace
