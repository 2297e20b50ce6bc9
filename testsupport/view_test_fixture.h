#pragma once
// A four-camera rig around a car written as a lut_config file, for the view
// tests: equidistant fisheye cameras (lens model 2) of 1280 x 720 in a
// 2560 x 1440 quad frame, front and rear looking down along the car, the
// side cameras looking down sideways. World: millimetres, x to the right, y
// to the rear (front at negative y), z down (a camera 900 mm above the ground
// has z = -900).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "camera/camera_model.h"
#include "camera/view_object.h"
#include "frame/global_variables.h"
#include "camera/lut_config_file.h"
#include "testsupport/scene_renderer.h"

namespace view_fixture {

constexpr int kCamW = 1280, kCamH = 720;

inline SceneCamera RigCamera(int camera) {
  SceneCamera cam;
  cam.model = 2;
  cam.D[0] = 300.0f;
  const float pos[4][3] = {{0, -2300, -900}, {0, 2300, -900}, {-1000, 0, -1000}, {1000, 0, -1000}};
  const float at[4][3] = {{0, -4300, 0}, {0, 4300, 0}, {-3000, 0, 0}, {3000, 0, 0}};
  const float up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos[camera - 1], at[camera - 1], up);
  return cam;
}

inline void FillParams(CameraParamSet* ps) {
  for (int c = 0; c < 4; ++c) {
    const SceneCamera cam = RigCamera(c + 1);
    for (int i = 0; i < 9; ++i) ps->K[c][i] = cam.K[i];
    for (int i = 0; i < 8; ++i) ps->D[c][i] = cam.D[i];
    for (int i = 0; i < 3; ++i) ps->R[c][i] = cam.r[i];
    for (int i = 0; i < 3; ++i) ps->T[c][i] = cam.T[i];
  }
}

// Writes the rig to path (N and M of the configuration), with no points.
inline bool WriteRig(const std::string& path) {
  const GlobalVariables& g = gv();
  LutConfigFileData d{};
  d.carWidth = 1800;
  d.carLength = 4600;
  d.carBoxParam = 1200;
  d.model = 2;
  d.lensSlot[0] = 0;
  d.lensSlot[1] = 0;
  d.lensSlot[2] = 1;
  d.lensSlot[3] = 1;
  FillParams(&d.params);
  d.quadWidth = 2 * kCamW;
  d.quadHeight = 2 * kCamH;
  d.frontOverhang = 900;
  d.wheelBase = 2700;
  return LutConfigFile_Write(path.c_str(), d, g.pointsPerCamera, g.maxPoints);
}

inline std::string TempFile(const char* name) {
  return "/tmp/views_" + std::to_string(getpid()) + "_" + name;
}

// The camera's own projection of a world point.
inline bool Project(const CameraParamSet& ps, int camera, const float* p, float* u, float* v) {
  const int s = camera - 1;
  float pt[3] = {p[0], p[1], p[2]}, out[2] = {-2, -2};
  Matrix P{3, 1, pt}, O{2, 1, out};
  Matrix R{3, 1, const_cast<float*>(ps.R[s])}, T{3, 1, const_cast<float*>(ps.T[s])};
  Matrix K{3, 3, const_cast<float*>(ps.K[s])}, D{8, 1, const_cast<float*>(ps.D[s])};
  CameraModel_ProjectPoints(2, &P, &R, &T, &K, &D, &O, nullptr, nullptr, nullptr, nullptr, nullptr, 0);
  *u = out[0];
  *v = out[1];
  return out[0] > 0 && out[1] > 0;
}

// A view object made from the rig's file, with the configuration restored
// afterwards. Configure() runs before the file is written.
class RigViewTest : public ::testing::Test {
 protected:
  explicit RigViewTest(const char* fileName) : path(TempFile(fileName)) {}
  virtual void Configure() {}
  void SetUp() override {
    gv().CalibLayoutCode = 3;  // no lock: parameters stay as stored
    gv().CutIfFill = 0;
    Configure();
    ASSERT_TRUE(WriteRig(path));
    view = UndistOB_Create();
    ASSERT_EQ(Undist4Camera_Init(view, path.c_str()), 1);
  }
  void TearDown() override {
    UndistOB_Destroy(view);
    unlink(path.c_str());
    gv() = saved;
  }

  GlobalVariables saved = gv();
  std::string path;
  UndistOB* view = nullptr;
};

}  // namespace view_fixture
