// Best3 pose solve: line fits of the four cameras from the line points of
// one combined image, the plausibility check against the poses held before,
// and the publish of a passing set into the LUT object.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "calibration/solve/best3_solve.h"
#include "camera/camera_model.h"
#include "frame/clock.h"
#include "frame/global_variables.h"
#include "frame/log.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"

namespace {

constexpr Best3SearchParams kLRParams{10, 100, 5000, 160, 500};
constexpr Best3SearchParams kFBParams{20, 5000, 3600, 250, 180};

size_t ScratchFloats() {
  const size_t lr = static_cast<size_t>(kLRParams.width) * kLRParams.height;
  const size_t fb = static_cast<size_t>(kFBParams.width) * kFBParams.height;
  return std::max(lr, fb) * 20 / sizeof(float);
}

// Both fits: start from the camera's previous pose and refine it so that
// the image points land on the given floor lines.
float LineFit(Best3Work* w, int32_t camera, bool frontBack, float* K, float* D, float* R, float* T) {
  Best3Camera& cam = w->cams[camera - 1];
  memcpy(K, cam.K, sizeof cam.K);
  memcpy(D, cam.D, sizeof cam.D);
  memcpy(R, cam.prevR, sizeof cam.prevR);
  memcpy(T, cam.prevT, sizeof cam.prevT);
  float world[kBest3Points];
  const float a = frontBack ? w->lineValues[0] : w->lineValues[camera == 3 ? 0 : 2];
  const float b = frontBack ? w->lineValues[2] : w->lineValues[camera == 3 ? 1 : 3];
  for (int32_t i = 0; i < kBest3EdgePoints; ++i) {
    world[i] = a;
    world[kBest3EdgePoints + i] = b;
  }
  // The side fit takes the inner edge alone.
  const int32_t n = frontBack ? kBest3Points : kBest3EdgePoints;
  Matrix mw{1, n, world}, mi{2, n, &cam.points[0][0]};
  Matrix mK{3, 3, K}, mD{1, 8, D}, mR{1, 3, R}, mT{1, 3, T};
  const int32_t slot = w->lut->cfg.lensSlot[camera - 1];
  const int32_t model = static_cast<int32_t>(cam.model);
  return frontBack ? CameraModel_LineCalibFB(model, &mw, &mi, &mK, &mD, &mR, &mT, 0, w->quadWidth / 2,
                                             w->quadHeight / 2, slot)
                   : CameraModel_LineCalibLR(model, &mw, &mi, &mK, &mD, &mR, &mT, 1, w->quadWidth / 2,
                                             w->quadHeight / 2, slot);
}

// Writes the new poses into the LUT object and rebuilds its tables. On a
// failed rebuild the object gets its old poses back: it must never hold
// poses that its tables do not show.
int32_t Publish(Best3Work* w) {
  LUTOB* lut = w->lut;
  CameraParamSet old = lut->params;
  for (int k = 0; k < 4; ++k) {
    memcpy(lut->params.R[k], w->cams[k].newR, sizeof w->cams[k].newR);
    memcpy(lut->params.T[k], w->cams[k].newT, sizeof w->cams[k].newT);
  }
  GlobalVariables& g = gv();
  for (int k = 0; k < 4; ++k) g.config.seamAngle[k] = lut->seamAngles[k];
  if (lut->blendWidths[0] > 0 && lut->blendWidths[1] > 0) {
    g.extraConfig.frontBlendWidth = lut->blendWidths[0];
    g.extraConfig.rearBlendWidth = lut->blendWidths[1];
  }
  AvmLog("Best3 angle %f %f %f %f %d %d \n", lut->seamAngles[0], lut->seamAngles[1], lut->seamAngles[2],
         lut->seamAngles[3], lut->blendWidths[0], lut->blendWidths[1]);
  const int32_t r = LUT_GenerateMergerLUT(lut, 0, 0);
  if (r != 0) {
    AvmLog("Best3: rebuilding the tables failed (%d)\n", r);
    lut->params = old;
    return kBest3RegenerateFailed;
  }
  w->done.store(1, std::memory_order_release);
  return 0;
}

int32_t FitAndCheck(Best3Work* w) {
  for (int32_t c = 1; c <= 2; ++c)
    if (CalibBest3_CalibFB(w, c) != 0) return 32 + c;
  for (int32_t c = 3; c <= 4; ++c)
    if (CalibBest3_CalibLR(w, c) != 0) return 32 + c;
  if (Best3Ctrl_CheckMaxSub(w) == 0) return 49;
  return 0;
}

}  // namespace

int32_t Best3Ctrl_CreateWork(Best3Work* w, LUTOB* lut) {
  if (w == nullptr || lut == nullptr) return 0;
  w->done.store(0, std::memory_order_relaxed);
  w->rotationLimit = kBest3RotationLimit;
  w->heightLimit = kBest3HeightLimit;
  w->lut = lut;
  w->image = nullptr;
  for (int k = 0; k < 4; ++k) {
    Best3Camera& cam = w->cams[k];
    cam.model = LutConfig_GetCameraModel(&lut->cfg, k + 1);
    memcpy(cam.K, lut->params.K[k], sizeof cam.K);
    memcpy(cam.D, lut->params.D[k], sizeof cam.D);
    memcpy(cam.prevR, lut->params.R[k], sizeof cam.prevR);
    memcpy(cam.prevT, lut->params.T[k], sizeof cam.prevT);
    memcpy(cam.newR, cam.prevR, sizeof cam.newR);
    memcpy(cam.newT, cam.prevT, sizeof cam.newT);
  }
  w->quadWidth = 2 * lut->camW;
  w->quadHeight = 2 * lut->camH;
  w->cfgWord0 = lut->cfg.carWidth;
  w->cfgWord1 = lut->cfg.carLength;
  w->lr = kLRParams;
  w->fb = kFBParams;
  if (Hough_Create(&w->lrHough, kLRParams.width, kLRParams.height, 64, 85, 0, 0.5f, 0.004363323f, 1.4333516f) == 0 ||
      Hough_Create(&w->fbHough, kFBParams.width, kFBParams.height, 64, 36, 0, 0.5f, 0.0055850535f, 1.3948672f) == 0) {
    Best3Ctrl_DestroyWork(w);
    return 0;
  }
  w->scratch1.assign(ScratchFloats(), 0.0f);
  w->scratch2.assign(ScratchFloats(), 0.0f);
  return 1;
}

void Best3Ctrl_DestroyWork(Best3Work* w) {
  if (w == nullptr) return;
  std::vector<float>().swap(w->scratch1);
  std::vector<float>().swap(w->scratch2);
  Hough_Destroy(&w->lrHough);
  Hough_Destroy(&w->fbHough);
  w->done.store(0, std::memory_order_relaxed);
}

int32_t CalibBest3_CalibFB(Best3Work* w, int32_t camera) {
  float K[9], D[8], R[3], T[3];
  const float err = LineFit(w, camera, true, K, D, R, T);
  AvmLog("Calib FB %f \n", err);
  if (!(err <= kBest3FBErrorLimit)) return 180;
  memcpy(w->cams[camera - 1].newR, R, sizeof R);
  memcpy(w->cams[camera - 1].newT, T, sizeof T);
  return 0;
}

int32_t CalibBest3_CalibLR(Best3Work* w, int32_t camera) {
  float K[9], D[8], R[3], T[3];
  const float err = LineFit(w, camera, false, K, D, R, T);
  AvmLog("Calib LR %f \n", err);
  if (!(err <= kBest3LRErrorLimit)) return 183;
  memcpy(w->cams[camera - 1].newR, R, sizeof R);
  memcpy(w->cams[camera - 1].newT, T, sizeof T);
  return 0;
}

int32_t Best3Ctrl_CheckMaxSub(Best3Work* w) {
  float rot[4], height[2];
  for (int k = 0; k < 4; ++k) {
    rot[k] = 0.0f;
    for (int i = 0; i < 3; ++i) rot[k] = std::max(rot[k], std::fabs(w->lut->params.R[k][i] - w->cams[k].newR[i]));
  }
  for (int k = 0; k < 2; ++k) height[k] = std::fabs(w->lut->params.T[k][2] - w->cams[k].newT[2]);
  AvmLog("BestCtrl MaxSub %f %f %f %f %f %f \n", rot[0], rot[1], rot[2], rot[3], height[0], height[1]);
  const float maxRot = *std::max_element(rot, rot + 4);
  const float maxHeight = std::max(height[0], height[1]);
  return (maxRot > w->rotationLimit || maxHeight > w->heightLimit) ? 0 : 1;
}

int32_t CalibBest3_Run(Best3Work* w, const Matrix* image, int32_t) {
  if (w == nullptr || w->lut == nullptr || image == nullptr || image->data == nullptr) return 17;
  w->image = image;
  w->done.store(0, std::memory_order_relaxed);
  for (int32_t c = 1; c <= 4; ++c) {
    const int32_t r = c <= 2 ? CalibBest3_GetFB_2LPoint(w, c, 0, 0.005f) : CalibBest3_GetLR_LPoint(w, c, 0, 0.005f);
    if (r != 0) return 16 + c;
  }
  const int32_t r = FitAndCheck(w);
  return r != 0 ? r : Publish(w);
}

int32_t CalibBest3_NewImage(Best3Work* w, const Matrix* image) {
  if (w == nullptr || w->lut == nullptr || image == nullptr || image->data == nullptr) return 17;
  w->image = image;
  w->done.store(0, std::memory_order_relaxed);
  const float fbThresholds[2] = {-0.045f, -0.055f};
  int32_t fbCode = 17;
  for (float t : fbThresholds) {
    AvmLog("CalibBest3_NewImage1 %d \n", static_cast<int32_t>(GetTickMs()));
    if (CalibBest3_GetFB_2LPoint(w, 1, 1, t) != 0) {
      fbCode = 17;
      continue;
    }
    AvmLog("CalibBest3_NewImage2 %d \n", static_cast<int32_t>(GetTickMs()));
    if (CalibBest3_GetFB_2LPoint(w, 2, 1, t) != 0) {
      fbCode = 18;
      continue;
    }
    fbCode = 0;
    break;
  }
  if (fbCode != 0) return fbCode;

  const float lrThresholds[4][2] = {{-0.045f, -0.045f}, {-0.055f, -0.055f}, {-0.055f, -0.045f}, {-0.045f, -0.055f}};
  int32_t code = 19;
  for (int attempt = 0; attempt < 4; ++attempt) {
    AvmLog("CalibBest3_NewImage3 %d \n", static_cast<int32_t>(GetTickMs()));
    if (CalibBest3_GetLR_LPoint(w, 3, 1, lrThresholds[attempt][0]) != 0) {
      code = 19;
      continue;
    }
    AvmLog("CalibBest3_NewImage4 %d \n", static_cast<int32_t>(GetTickMs()));
    if (CalibBest3_GetLR_LPoint(w, 4, 1, lrThresholds[attempt][1]) != 0) {
      code = 20;
      continue;
    }
    AvmLog("CalibBest3_NewImage5 %d \n", static_cast<int32_t>(GetTickMs()));
    AvmLog("BestCtrl BeginCalib %d \n", attempt);
    code = FitAndCheck(w);
    if (code == 0) break;
  }
  return code != 0 ? code : Publish(w);
}
