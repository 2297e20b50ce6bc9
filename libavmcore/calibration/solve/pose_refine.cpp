#include "calibration/solve/pose_refine.h"

#include <cmath>
#include <vector>

#include "calibration/solve/calibrate_camera.h"
#include "calibration/solve/ground_grid_maps.h"
#include "camera/camera_model.h"
#include "frame/calib_profile.h"
#include "frame/global_variables.h"
#include "frame/lens_table.h"
#include "frame/log.h"
#include "toolkit/border_filters.h"
#include "toolkit/sampling.h"

namespace {

constexpr float kNoImageError = 999.0f;
constexpr int32_t kSearchSteps = 16;
constexpr int32_t kPatch = kGroundPatchSize;

// What a refinement fits and measures against: the camera image (its size
// and pixels) and the world / image point pairs.
struct FitScene {
  int32_t width;
  int32_t height;
  const Matrix* image;
  const Matrix* world;
  const Matrix* imagePts;
};

float ModelThreeFit(const FitScene& s, const PoseEdit& p, int32_t fitMode) {
  return CameraModel_Calibrate(s.width, s.height, 3, s.world, s.imagePts, p.K, p.D, p.R, kCalibFitEpsilon, p.T,
                               fitMode, 100, 0, p.slot);
}

// The final fit through the camera's own lens model.
float CameraFit(const FitScene& s, const PoseEdit& p, int32_t fitMode, int32_t fitRefine) {
  return CameraModel_Calibrate(s.width, s.height, p.model, s.world, s.imagePts, p.K, p.D, p.R, kCalibFitEpsilon, p.T,
                               fitMode, 100, fitRefine, p.slot);
}

// Start pose: the profile's orientation and position groups of the camera,
// the position moved by the vehicle centre offset of the site's reference
// lines.
void StartPose(int32_t camera, Matrix* R, Matrix* T) {
  const CalibProfileRecord& p = CalibProfile();
  const GlobalVariables& g = gv();
  const int c = camera - 1;
  for (int k = 0; k < 3; ++k) {
    R->data[k] = p.F(2 + 3 * c + k);
    T->data[k] = p.F(14 + 3 * c + k);
  }
  // Words 48..51: front, rear, left, right line distances; 57..60 their offsets.
  const int32_t front = g.place3 - g.f20_23[0], rear = g.place4 - g.f20_23[1];
  const int32_t left = g.place5 - g.f20_23[2], right = g.place6 - g.f20_23[3];
  T->data[0] -= static_cast<float>(right - left) / 2.0f;
  T->data[1] -= static_cast<float>(rear - front) / 2.0f;
}

// Fixed focal lengths (fx, fy) of layout 11 for the current lens-table slot.
void SetFixedFocal(int32_t camera, const Matrix* imagePts, int32_t count) {
  float fx, fy;
  if (camera == 1) {
    fx = fy = 345.0f;
  } else if (camera == 2) {
    fx = fy = 344.0f;
  } else {
    if (count < 5) return;  // the rule reads image point 4
    const float u = imagePts->data[4 * imagePts->cols];
    if (camera == 3) {
      const float s = (u / 159.0f - 1.0f) * 0.2f + 1.0f;
      if (s < 0.995f) {
        fx = 351.04568f;
        fy = 344.16245f;
      } else if (s <= 1.002f) {
        fx = 345.78f / s;
        fy = 339.0f / s;
      } else {
        fx = 345.08981f;
        fy = 338.32336f;
      }
    } else if (u > 1115.0f) {
      fx = 351.04568f;
      fy = 344.16245f;
    } else {
      fx = 345.78f;
      fy = 339.0f;
    }
  }
  LensTableSlot* slot = LensTable_Current();
  slot->scaleX = fx;
  slot->scaleY = fy;
}

const float* Point(const Matrix* m, int32_t index) { return m->data + static_cast<size_t>(index) * m->cols; }

// Lean of the target edge around world point P in the top-view patch:
// crossing of line 8 minus that of line 87 (rows, or columns when
// `columns`); 0 for a line without crossing, and line 87 is not examined
// when line 8 has none.
float PatchLean(const FitScene& s, const PoseView& p, const float* P, bool columns) {
  std::vector<float> u(kPatch * kPatch), v(kPatch * kPatch), patch(kPatch * kPatch), smooth(kPatch * kPatch);
  Matrix U{kPatch, kPatch, u.data()}, V{kPatch, kPatch, v.data()};
  Matrix S{kPatch, kPatch, patch.data()}, B{kPatch, kPatch, smooth.data()};
  Calib_GroundPatchMaps(P[2], s.width, s.height, static_cast<int32_t>(P[0] - 240.0f),
                        static_cast<int32_t>(P[1] - 240.0f), p.R, p.T, p.K, p.D, &U, &V, p.slot);
  Image_RemapBilinear(s.image, &U, &V, &S, 0, 0);
  Image_BoxMean(&S, &B, 5, 5);
  const int32_t stride = columns ? kPatch : 1;
  auto line = [&](int32_t k) { return columns ? smooth.data() + k : smooth.data() + static_cast<size_t>(k) * kPatch; };
  float first = 0.0f, last = 0.0f;
  if (!Calib_EdgeCrossing(line(8), stride, &first)) return 0.0f;
  if (!Calib_EdgeCrossing(line(87), stride, &last)) last = 0.0f;
  return first - last;
}

// The model-3 pose fitted, then the lean at world point A minus that at B.
float EdgeLean(const FitScene& s, const PoseEdit& p, int32_t pointA, int32_t pointB, int32_t fitMode, float* errorOut,
               bool columns) {
  *errorOut = ModelThreeFit(s, p, fitMode);
  const float a = PatchLean(s, p.View(), Point(s.world, pointA), columns);
  const float b = PatchLean(s, p.View(), Point(s.world, pointB), columns);
  return a - b;
}

}  // namespace

int32_t Calib_StepSearch(float* t, float start, float step, const std::function<float()>& measure) {
  const bool fromAbove = start > 0.0f;
  for (int32_t i = 1; i <= kSearchSteps; ++i) {
    *t += step;
    const float m = measure();
    if (fromAbove ? m <= 0.0f : m > 0.0f) {
      *t -= step / 2.0f;
      return i;
    }
  }
  return kSearchSteps;
}

bool Calib_EdgeCrossing(const float* line, int32_t stride, float* crossing) {
  auto at = [&](int32_t k) { return line[static_cast<size_t>(k) * stride]; };
  float sum = 0.0f;
  for (int32_t k = 12; k <= 83; ++k) sum += at(k);
  const float m = sum / 72.0f;
  const bool startAbove = at(12) > m;
  for (int32_t k = 13; k <= 83; ++k) {
    if ((at(k) > m) != startAbove) {
      *crossing = static_cast<float>(k) - (at(k) - m) / (at(k) - at(k - 1));
      return true;
    }
  }
  return false;
}

float Calib_SpanDifference(float offset, int32_t width, int32_t height, Matrix* K, Matrix* D, Matrix* R, Matrix* T,
                           const Matrix* world, const Matrix* imagePts, int32_t pointA, int32_t pointB,
                           int32_t fitMode, float* errorOut, int32_t slot) {
  *errorOut = ModelThreeFit(FitScene{width, height, nullptr, world, imagePts}, PoseEdit{R, T, K, D, 3, slot}, fitMode);
  ProjectPointFn fn = nullptr;
  ProjectionContext ctx;
  CameraModel_ProjectPoint(3, R, T, K, D, &fn, &ctx);
  const float* wa = Point(world, pointA);
  const float* wb = Point(world, pointB);
  float ua = -2.0f, va = -2.0f, ub = -2.0f, vb = -2.0f;
  if (fn != nullptr) {
    fn(3, &ctx, &ua, &va, slot, wa[0], wa[1], wa[2]);
    fn(3, &ctx, &ub, &vb, slot, wb[0], wb[1], wb[2]);
  }
  const float* ia = Point(imagePts, pointA);
  const float* ib = Point(imagePts, pointB);
  const float observed = std::hypot(ia[0] - ib[0], ia[1] - ib[1]);
  const float projected = std::hypot(ua - ub, va - vb);
  return observed - projected - offset;
}

float Calib_EdgeLeanRows(int32_t width, int32_t height, const Matrix* image, Matrix* K, Matrix* D, Matrix* R,
                         Matrix* T, const Matrix* world, const Matrix* imagePts, int32_t pointA, int32_t pointB,
                         int32_t fitMode, float* errorOut, int32_t slot) {
  return EdgeLean(FitScene{width, height, image, world, imagePts}, PoseEdit{R, T, K, D, 3, slot}, pointA, pointB,
                  fitMode, errorOut, false);
}

float Calib_EdgeLeanColumns(int32_t width, int32_t height, const Matrix* image, int32_t camera, Matrix* K,
                            Matrix* D, Matrix* R, Matrix* T, const Matrix* world, const Matrix* imagePts,
                            int32_t pointA, int32_t pointB, int32_t fitMode, float* errorOut, int32_t slot) {
  const float lean = EdgeLean(FitScene{width, height, image, world, imagePts}, PoseEdit{R, T, K, D, 3, slot}, pointA,
                              pointB, fitMode, errorOut, true);
  return camera == 4 ? -lean : lean;
}

float Calib_RefinePoseA(LutConfig* config, int32_t width, int32_t height, const Matrix* image, int32_t camera,
                        Matrix* K, Matrix* D, Matrix* R, Matrix* T, const Matrix* world, const Matrix* imagePts,
                        int32_t count, int32_t fitRefine, int32_t candidate, int32_t focusFlag) {
  if (image == nullptr) return kNoImageError;
  const int32_t slot = config->lensSlot[camera - 1];
  StartPose(camera, R, T);
  const FitScene scene{width, height, image, world, imagePts};
  const PoseEdit pose{R, T, K, D, static_cast<int32_t>(config->model[camera - 1]), slot};
  auto finalFit = [&](int32_t mode) { return CameraFit(scene, pose, mode, fitRefine); };
  if (candidate != 0) {
    if (camera == 3 && (gv().JDSpecial & 8) != 0) {
      const float r0 = R->data[0], r1 = R->data[1], r2 = R->data[2];
      R->data[0] = -r1;
      R->data[1] = r0;
      R->data[2] = -r2;
    }
    return finalFit(camera == 1 ? 6 : 7);
  }
  if (focusFlag == 1) SetFixedFocal(camera, imagePts, count);
  if (camera == 1) return finalFit(6);
  float fitError = 0.0f;
  if (camera == 2) {
    if (count < 5) return finalFit(5);  // the measure reads points 3 and 4
    const float offset = focusFlag == 1 ? -1.5f : 0.0f;
    auto measure = [&] {
      return offset + Calib_EdgeLeanRows(width, height, image, K, D, R, T, world, imagePts, 3, 4, 5, &fitError, slot);
    };
    const float start = measure();
    Calib_StepSearch(&T->data[2], start, start > 0.0f ? -3.0f : 3.0f, measure);
    return finalFit(5);
  }
  if (count < 4) return finalFit(5);  // the measure reads points 3 and 2
  auto measure = [&] {
    return Calib_SpanDifference(0.0f, width, height, K, D, R, T, world, imagePts, 3, 2, 5, &fitError, slot);
  };
  const float start = measure();
  Calib_StepSearch(&T->data[2], start, start > 0.0f ? -4.0f : 4.0f, measure);
  return finalFit(5);
}

float Calib_RefinePoseB(LutConfig* config, int32_t width, int32_t height, const Matrix* image, int32_t camera,
                        Matrix* K, Matrix* D, Matrix* R, Matrix* T, const Matrix* world, const Matrix* imagePts,
                        int32_t count, int32_t fitRefine, int32_t candidate) {
  if (image == nullptr) return kNoImageError;
  const int32_t slot = config->lensSlot[camera - 1];
  const bool frontBack = camera <= 2;
  StartPose(camera, R, T);
  const FitScene scene{width, height, image, world, imagePts};
  const PoseEdit pose{R, T, K, D, static_cast<int32_t>(config->model[camera - 1]), slot};
  auto finalFit = [&](int32_t mode) { return CameraFit(scene, pose, mode, fitRefine); };
  if (candidate != 0) {
    int32_t mode = frontBack ? 7 : 8;
    if (count >= (frontBack ? 9 : 13)) mode = 0;
    return finalFit(mode);
  }
  if (count > (frontBack ? 5 : 4)) return finalFit(0);
  float fitError = 0.0f;
  if (frontBack) {
    if (count < 5) return finalFit(7);  // the measure reads points 3 and 4
    auto measure = [&] {
      return Calib_EdgeLeanRows(width, height, image, K, D, R, T, world, imagePts, 3, 4, 7, &fitError, slot);
    };
    const float start = measure();
    Calib_StepSearch(&T->data[2], start, start > 0.0f ? -3.0f : 3.0f, measure);
    return finalFit(7);
  }
  if (count < 3) return finalFit(8);  // the measure reads points 0 and 2
  auto measure = [&] {
    return Calib_EdgeLeanColumns(width, height, image, camera, K, D, R, T, world, imagePts, 0, 2, 8, &fitError, slot);
  };
  const float start = measure();
  Calib_StepSearch(&T->data[0], start, start < 0.0f ? -3.0f : 3.0f, measure);
  return finalFit(8);
}
