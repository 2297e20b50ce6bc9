// The map builders spread their rows over threads; the maps must not depend
// on how many.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "testsupport/four_camera_rig.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"

namespace {

std::vector<float> BuildAll(LUTOB* lut, int32_t threads, bool direct = false) {
  LUT_SetBuildThreads(threads);
  if (direct)
    EXPECT_EQ(LUT_BuildMergerMapsDirect(lut), 0);
  else
    EXPECT_EQ(LUT_GenerateMergerLUT(lut, 0, 0), 0);
  std::vector<float> all;
  const LutConfig& c = lut->cfg;
  for (const Matrix* m : {&c.X1, &c.Y1, &c.X2, &c.Y2, &c.W1, &c.W2, &c.W3})
    all.insert(all.end(), m->data, m->data + static_cast<size_t>(m->cols) * m->rows);
  return all;
}

TEST(MergerLutThreads, SameMapsOnAnyNumberOfThreads) {
  ScopedConfigState state;
  GlobalVariables_InitRuntimeDefaults();
  for (int32_t sector : {0, 1}) {
    FourCameraRig rig(320, 240, 116, 200, sector != 0);
    rig.lut->cfg.extraParam = sector;
    const std::vector<float> one = BuildAll(rig.lut, 1);
    for (int32_t n : {2, 3, 8}) {
      const std::vector<float> many = BuildAll(rig.lut, n);
      ASSERT_EQ(one.size(), many.size());
      EXPECT_EQ(0, memcmp(one.data(), many.data(), one.size() * sizeof(float))) << n << " threads, sector " << sector;
    }
  }
  LUT_SetBuildThreads(0);
}

// The direct builder fills its start values and seam ramp in the threads'
// row chunks too.
TEST(MergerLutThreads, DirectMapsSameOnAnyNumberOfThreads) {
  ScopedConfigState state;
  GlobalVariables_InitRuntimeDefaults();
  FourCameraRig rig(320, 240, 116, 200);
  const std::vector<float> one = BuildAll(rig.lut, 1, true);
  for (int32_t n : {2, 3, 8}) {
    const std::vector<float> many = BuildAll(rig.lut, n, true);
    ASSERT_EQ(one.size(), many.size());
    EXPECT_EQ(0, memcmp(one.data(), many.data(), one.size() * sizeof(float))) << n << " threads";
  }
  LUT_SetBuildThreads(0);
}

}  // namespace
