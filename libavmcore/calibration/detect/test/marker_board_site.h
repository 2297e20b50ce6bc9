#pragma once
// Marker-board sites for the finders' tests: plain square markers (dark on
// a light floor, or bright on a dark floor) laid on the ground at world
// rectangles, seen by four fisheye cameras at known poses around a vehicle
// of 1800 x 4600 mm (origin at its centre, x right, y to the rear, z down).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "camera/camera_model.h"
#include "frame/matrix_types.h"
#include "testsupport/pose_scene.h"
#include "testsupport/scene_renderer.h"

namespace marker_site {

struct Rect {
  float x0, y0, x1, y1;  // mm
};

// Camera 1..4 at its pose on the vehicle, for a picture of W x H (the lens
// scaled with the picture's width). height > 0 mounts it that many mm above
// the ground instead.
inline SceneCamera Camera(int camera, int W, int H, float height = 0.0f) {
  SceneCamera cam = PoseScene_Camera(2, W, H);
  // Each picture size's fit searches the scale its own set-up row expects.
  cam.D[0] *= static_cast<float>(W) / 1280.0f;
  float pos[4][3] = {{0, -2100, -900}, {0, 2100, -950}, {-960, -100, -1000}, {960, 100, -1000}};
  if (height > 0.0f) pos[camera - 1][2] = -height;
  const float at[4][3] = {{40, -3600, 0}, {-30, 3600, 0}, {-2400, 0, 0}, {2400, 0, 0}};
  const float up[3] = {0, 0, -1};
  SceneCamera_LookAt(&cam, pos[camera - 1], at[camera - 1], up);
  return cam;
}

// Grey picture (0..1) of the rectangles: level `mark` on a floor of level
// `floor`.
inline std::vector<float> Render(const SceneCamera& cam, const std::vector<Rect>& rects, int W, int H, uint8_t mark,
                                 uint8_t floor) {
  TargetSpec t;
  t.kind = TargetKind::kCustom;
  t.margin = 0.0f;
  t.origin[0] = -7000;
  t.origin[1] = -8000;
  t.extentS = 14000;
  t.extentT = 16000;
  t.light = floor;
  const float level = mark;
  t.shade = [rects, level](float s, float u) {
    const float x = s - 7000.0f, y = u - 8000.0f;
    for (const Rect& r : rects)
      if (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1) return level;
    return -1.0f;
  };
  RenderOptions opt;
  opt.width = W;
  opt.height = H;
  opt.supersample = 3;
  opt.blurSigma = 0.6f * static_cast<float>(W) / 1280.0f;
  opt.background = 100;
  const std::vector<uint8_t> grey = Scene_RenderGrey(cam, t, opt);
  std::vector<float> img(grey.size());
  for (size_t i = 0; i < grey.size(); ++i) img[i] = grey[i] / 255.0f;
  return img;
}

// (row, column) of a ground point.
inline void Project(const SceneCamera& c, const float* world, float* row, float* col) {
  float w[3] = {world[0], world[1], world[2]}, px[2] = {-1, -1};
  float K[9], D[8], R[3], T[3];
  std::copy(c.K, c.K + 9, K);
  std::copy(c.D, c.D + 8, D);
  std::copy(c.r, c.r + 3, R);
  std::copy(c.T, c.T + 3, T);
  Matrix Wm{3, 1, w}, Pm{2, 1, px}, Km{3, 3, K}, Dm{1, 8, D}, Rm{1, 3, R}, Tm{1, 3, T};
  CameraModel_ProjectPoints(c.model, &Wm, &Rm, &Tm, &Km, &Dm, &Pm, nullptr, nullptr, nullptr, nullptr, nullptr,
                            c.slot);
  *col = px[0];
  *row = px[1];
}

}  // namespace marker_site
