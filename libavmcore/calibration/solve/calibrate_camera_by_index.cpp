// The LUT object's form of the pose solve, in a file of its own so that a
// program linking only this form (the layout finders) can bring its own
// CalibrateCamera, as the LUT-build tests do.
#include "calibration/solve/calibrate_camera.h"
#include "surround/lutob.h"

int32_t CalibrateCameraByIndex(LUTOB* lut, int32_t camera, int32_t fitRefine, int32_t width, int32_t height) {
  if (lut == nullptr || camera < 1 || camera > 4) return 0;
  const int c = camera - 1;
  if (lut->cameraImages[c] == nullptr || lut->cornerCounts[c] <= 0) return 0;
  if (width == 0) width = lut->camW;
  if (height == 0) height = lut->camH;
  return CalibrateCamera(&lut->cfg, width, height, lut->cameraImages[c], camera, lut->cornerCounts[c],
                         lut->imagePoints[c], lut->worldPoints[c], &lut->poses.K[c], &lut->poses.D[c],
                         &lut->poses.R[c], &lut->poses.T[c], fitRefine, 1) == 0
             ? 1
             : 0;
}
