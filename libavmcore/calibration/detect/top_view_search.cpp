#include <cmath>
#include <vector>

#include "calibration/detect/predicted_target_finders.h"
#include "camera/camera_model.h"
#include "surround/calibration_services.h"
#include "surround/lutob.h"
#include "toolkit/sampling.h"

PoseView FinderPose(const LUTOB* lut, int32_t cameraIndex) {
  return PoseView{&lut->poses.R[cameraIndex], &lut->poses.T[cameraIndex], &lut->poses.K[cameraIndex],
                  &lut->poses.D[cameraIndex], static_cast<int32_t>(lut->cfg.model[cameraIndex]),
                  lut->cfg.lensSlot[cameraIndex]};
}

int32_t TopView_Search(LUTOB* lut, int32_t cameraIndex, const Matrix* image, const FloorWindow& window, float scale,
                       int32_t count, TopViewDetector detector, void* ctx, float* points) {
  const float x0 = window.x0, y0 = window.y0, width = window.width, height = window.height;
  if (lut == nullptr || cameraIndex < 0 || cameraIndex > 3 || image == nullptr || image->data == nullptr ||
      detector == nullptr || points == nullptr || count < 1 || !(scale > 0.0f))
    return 0;
  // Windows come from world points and poses: reject what no floor holds.
  if (!std::isfinite(x0) || !std::isfinite(y0) || std::fabs(x0) > 1.0e7f || std::fabs(y0) > 1.0e7f) return 0;
  const float fc = width / scale, fr = height / scale;
  if (!(fc >= 1.0f && fr >= 1.0f && fc * fr <= 16.0e6f)) return 0;
  const auto cols = static_cast<int32_t>(fc), rows = static_cast<int32_t>(fr);
  const size_t n = static_cast<size_t>(cols) * rows;
  std::vector<float> mapX(n), mapY(n), viewData(n, 0.0f);
  Matrix U{cols, rows, mapX.data()}, V{cols, rows, mapY.data()}, view{cols, rows, viewData.data()};
  const PoseView pose = FinderPose(lut, cameraIndex);
  const auto ix0 = static_cast<int32_t>(x0), iy0 = static_cast<int32_t>(y0);
  // The image's own size bounds the maps, so the view never reads past it.
  Calib_ReprojectPoints(image->cols, image->rows, cols, rows, ix0, iy0, pose.R, pose.T, pose.K, pose.D, &U, &V,
                        pose.model, pose.slot, scale, scale, window.z);
  Image_RemapBilinear(image, &U, &V, &view, 0, 0);
  std::vector<float> found(2 * static_cast<size_t>(count) + 64, 0.0f);
  if (detector(&view, found.data(), ctx) == 0) return 0;
  ProjectPointFn fn = nullptr;
  ProjectionContext pc;
  CameraModel_PointProjector(pose, &fn, &pc);
  if (fn == nullptr) return 0;
  for (int32_t i = 0; i < count; ++i) {
    float u = 0.0f, v = 0.0f;
    fn(pose.model, &pc, &u, &v, pose.slot, static_cast<float>(ix0) + scale * found[2 * i + 1],
       static_cast<float>(iy0) + scale * found[2 * i], window.z);
    points[2 * i] = v;
    points[2 * i + 1] = u;
  }
  return 1;
}
