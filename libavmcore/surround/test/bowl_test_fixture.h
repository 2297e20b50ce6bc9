#pragma once
// Fixture of the 3-D bowl tests: the sample rig's parameter file in a fresh
// data directory and a bowl object made from it.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "frame/global_variables.h"
#include "globalimage_api.h"
#include "surround/bowl_cameras.h"
#include "surround/bowl_grid.h"
#include "testsupport/bowl_rig.h"
#include "testsupport/config_state.h"

struct GridDeleter {
  void operator()(D3DGrid* g) const { KRV_GlobalImage_UnInit3DTrianOB(g); }
};
using GridPtr = std::unique_ptr<D3DGrid, GridDeleter>;

class BowlFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    path_ = state_.Path("lut_config.krv");
    ASSERT_TRUE(BowlRig_WriteConfig(path_));
  }
  GridPtr Grid() { return GridPtr(KRV_GlobalImage_Init3DTrianOB(path_.c_str())); }
  GridPtr GridWith(const BowlRigOptions& opt, const std::string& name) {
    const std::string p = state_.Path(name);
    if (!BowlRig_WriteConfig(p, opt)) return GridPtr();
    return GridPtr(KRV_GlobalImage_Init3DTrianOB(p.c_str()));
  }
  static BowlCameras Cameras(const D3DGrid* g) {
    BowlCameras c;
    BowlCameras_Setup(&c, &g->headers, g->model, g->info.lensSlot, g->quadW, g->quadH);
    return c;
  }

  ScopedConfigState state_;
  std::string path_;
};
