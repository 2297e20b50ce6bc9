// Run-table, dynamic-alpha and driver-assistance files written from a LUT
// object built for a four-camera rig, and the CPU stitch of its byte LUT.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/four_camera_rig.h"
#include "pipeline/adas_config.h"
#include "surround/byte_lut_file.h"
#include "surround/cpu_merger.h"
#include "surround/dyn_alpha.h"
#include "surround/mab_lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"

namespace {

class LutobFilesTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  std::string Path(const char* n) { return dir_ + "/" + n; }
  void SetUp() override { GlobalVariables_InitRuntimeDefaults(); }
};

TEST_F(LutobFilesTest, WritersOfARealLut) {
  FourCameraRig rig(320, 240, 160, 240);
  ASSERT_EQ(LUT_GenerateMergerLUT(rig.lut, 0, 0), 0);
  const int W = rig.lut->cfg.W1.cols, H = rig.lut->cfg.W1.rows;
  // The camera strips around the car body (the grid-LUT writer records them).
  const LutConfig& c = rig.lut->cfg;
  rig.lut->bandSizes[0] = c.carTop;
  rig.lut->bandSizes[1] = H - c.carBottom;
  rig.lut->bandSizes[2] = c.carLeft;
  rig.lut->bandSizes[3] = W - c.carRight;

  ASSERT_EQ(GenerateMABFile(rig.lut, Path("a.mab").c_str()), 0);
  MABFileData mab;
  ASSERT_EQ(MABFile_Read(Path("a.mab").c_str(), &mab), 1);
  EXPECT_EQ(mab.width, W);
  EXPECT_EQ(mab.height, H);
  size_t runs = 0;
  for (auto& t : mab.tables.camera) runs += t.size();
  EXPECT_GT(runs, static_cast<size_t>(H));  // every band row has runs

  ASSERT_EQ(GenerateMAB6File(rig.lut, rig.lut, Path("six.mab").c_str()), 0);
  MAB6FileData six;
  ASSERT_EQ(MAB6File_Read(Path("six.mab").c_str(), &six), 1);
  EXPECT_EQ(six.tables[10].size(), 20u);

  ASSERT_EQ(SaveDynAlphaFile(rig.lut, Path("lut_dyncalpha.krv").c_str(), nullptr), 0);
  ASSERT_EQ(GenerateDynAlphaMABFiles(rig.lut, Path("da.mab").c_str(), Path("db.mab").c_str()), 0);
  EXPECT_EQ(GenerateMABFile(nullptr, Path("n.mab").c_str()), 1);

  ADASConfig cfg{};
  ADAS_GenerateTables(&cfg, rig.lut, kAdasLDWS | kAdasMODS);
  EXPECT_EQ(cfg.C[kAdasFrameWidth], 640);
  EXPECT_EQ(cfg.C[kAdasCarLength], rig.carLength);
  EXPECT_EQ(cfg.ldws.width, 180);
  EXPECT_EQ(cfg.C[kAdasBsdsPresent], 0);
  // The rig's cameras see the ground beside the car: some MODS cells are valid.
  int valid = 0;
  for (int i = 0; i < cfg.mods[2].width * cfg.mods[2].height; ++i)
    valid += static_cast<uint32_t>(cfg.mods[2].data[i]) != (240u << 16);
  EXPECT_GT(valid, 100);
  ADASConfig_Free(&cfg);

  // The byte LUT loads into the CPU stitcher with the car box of the LUT.
  ASSERT_EQ(LUT_GenerateByteLUTFile(rig.lut, Path("lut.krv").c_str(), Path("lut_config.krv").c_str()), 0);
  MergerCPUOB o;
  int32_t w = 0, h = 0;
  ASSERT_EQ(LUTCPU_InitFromFile(&o, Path("lut.krv").c_str(), Path("lut_config.krv").c_str(), 0, 320, 240, 0, &w, &h),
            1);
  EXPECT_EQ(w, W);
  EXPECT_EQ(h, H);
  EXPECT_EQ(o.bandSizes[0], rig.lut->cfg.carTop);
  EXPECT_EQ(o.bandSizes[2], rig.lut->cfg.carLeft);
  size_t single = 0, blend = 0;
  for (int k = 0; k < 4; ++k) {
    single += o.singleRuns[k].size();
    blend += o.blendRuns[k].size();
  }
  EXPECT_GT(single, static_cast<size_t>(H));
  EXPECT_GT(blend, 0u);
  LUTCPU_Release(&o);
}

}  // namespace
