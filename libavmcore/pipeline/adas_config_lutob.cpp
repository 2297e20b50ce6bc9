// Driver-assistance tables from the cameras of a LUT object.
#include <cstdio>

#include "pipeline/adas_config.h"
#include "camera/lut_config.h"
#include "surround/lutob.h"

void ADAS_GenerateTables(ADASConfig* config, LUTOB* lut, int32_t mask) {
  if (config == nullptr || lut == nullptr) return;
  AdasCameraRig rig{};
  rig.camW = lut->camW;
  rig.camH = lut->camH;
  rig.carWidth = lut->cfg.carWidth;
  rig.carLength = lut->cfg.carLength;
  rig.frontOverhang = lut->cfg.frontOverhang;
  rig.wheelBase = lut->cfg.wheelBase;
  rig.groupNumber = lut->cfg.groupNumber;
  rig.camera2Corners = lut->cornerCounts[1];
  CameraParamSet_SetHeaders(&lut->params, &lut->poses);
  for (int k = 0; k < 4; ++k) {
    rig.model[k] = static_cast<int32_t>(LutConfig_GetCameraModel(&lut->cfg, k + 1));
    rig.slot[k] = lut->cfg.lensSlot[k];
    rig.K[k] = &lut->poses.K[k];
    rig.D[k] = &lut->poses.D[k];
    rig.R[k] = &lut->poses.R[k];
    rig.T[k] = &lut->poses.T[k];
  }
  ADAS_GenerateTablesFromRig(config, rig, mask);
}
