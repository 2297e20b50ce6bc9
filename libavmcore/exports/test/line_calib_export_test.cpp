// The still-image line calibration export on the rendered stripe site.
#include <gtest/gtest.h>

#include <cmath>

#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "surround/lutob.h"
#include "testsupport/best3_site.h"
#include "testsupport/config_state.h"

namespace {

TEST(LineCalibExport, StripeSiteSolvesBareFloorReportsCameraOne) {
  ScopedConfigState state;
  Best3Site site;
  state.WriteFile("globalimage_base.txt", site.BaseText());
  ScopedConfigState::ResetConfiguration();
  GlobalVariables_InitRuntimeDefaults();
  GlobalVariables_Init(1);
  SceneCamera cams[4];
  for (int c = 0; c < 4; ++c) cams[c] = Best3Site_Camera(site, c + 1);
  LUTOB* file = Best3Site_MakeLut(site, cams);
  ASSERT_EQ(SaveLUTConfig(file, state.Path("lut_config.krv").c_str()), 1);
  LUTOB_Destroy(file);

  std::vector<uint8_t> quad = Best3Site_RenderQuad(site);
  uint32_t err = 99;
  LUTOB* lut = KRV_GlobalImage_InitLUTOBLine_New(state.Path("lut_config.krv").c_str(), 1, quad.data(), 2 * site.camW,
                                                 2 * site.camH, 0, 0, 0, &err);
  ASSERT_NE(lut, nullptr) << err;
  for (int c = 0; c < 2; ++c) {
    EXPECT_NEAR(lut->params.T[c][2], cams[c].T[2], 25.0f) << c;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(lut->params.R[c][k], cams[c].r[k], 0.005f) << c << " " << k;
  }
  KRV_GlobalImage_UnInitLUTOB(lut);

  Best3Site bare = site;
  bare.stripes = false;
  std::vector<uint8_t> floor = Best3Site_RenderQuad(bare);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine_New(state.Path("lut_config.krv").c_str(), 1, floor.data(), 2 * site.camW,
                                              2 * site.camH, 0, 0, 0, &err),
            nullptr);
  EXPECT_EQ(err, 17u);
}

}  // namespace
