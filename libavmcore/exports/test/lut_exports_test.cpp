#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "calibration/solve/block_calib.h"
#include "globalimage_api.h"
#include "exports/lut_save_chain.h"
#include "pipeline/adas_config.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/block_site.h"
#include "testsupport/four_camera_rig.h"
#include "testsupport/config_state.h"
#include "toolkit/bmp_file.h"

namespace {

constexpr int kCamW = 320, kCamH = 240;

uint32_t FirstWord(const std::string& path) {
  uint32_t v = 0;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  if (fread(&v, 4, 1, f) != 1) v = 0;
  fclose(f);
  return v;
}

class LutExportsTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  std::string Path(const char* n) { return dir_ + "/" + n; }

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    // A calibrated four-camera set-up stored as a parameter file, and a
    // grey quad frame to go with it.
    FourCameraRig rig(kCamW, kCamH, 160, 240);
    ASSERT_EQ(LUT_GenerateMergerLUT(rig.lut, 0, 0), 0);
    ASSERT_EQ(SaveLUTConfig(rig.lut, Path("lut_config.krv").c_str()), 1);
    std::vector<uint8_t> grey(static_cast<size_t>(4) * kCamW * kCamH, 90);
    ImageU8 img{2 * kCamW, 2 * kCamH, grey.data()};
    ASSERT_EQ(Bmp_SaveImageU8(&img, Path("quad.bmp").c_str(), 0), 1);
  }
  void WritePlainFile(const std::string& p) {
    FILE* f = fopen(p.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("x", f);
    fclose(f);
  }
};

TEST_F(LutExportsTest, LoadAndSaveChainWritesEveryFile) {
  LUTOB* lut = KRV_GlobalImage_LoadLUTOB(Path("quad.bmp").c_str(), Path("lut_config.krv").c_str(),
                                         Path("preview.bmp").c_str());
  ASSERT_NE(lut, nullptr);
  EXPECT_TRUE(std::filesystem::exists(Path("preview.bmp")));
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult_EX(lut, Path("lut.krv").c_str(), Path("lut_config2.krv").c_str(), 0xBF),
            0);
  EXPECT_EQ(FirstWord(Path("lut.krv")), 0x00666601u);
  EXPECT_EQ(FirstWord(Path("lut_config2.krv")), 0x05080101u);
  EXPECT_EQ(FirstWord(Path("lut_dyncalpha.krv")), 0x00666701u);
  EXPECT_EQ(FirstWord(Path("lut_mixareainfo.krv")), 0x08060808u);
  EXPECT_EQ(FirstWord(Path("adas_base.krv")), kAdasBaseMagic);
  for (const char* f : {"adas_ldws.krv", "adas_bsds.krv", "adas_mods.krv", "adas_rcta.krv", "adas_lvsa.krv"})
    EXPECT_TRUE(std::filesystem::exists(Path(f))) << f;
  EXPECT_EQ(ADASConfig_ReadBaseValue(dir_.c_str()), 0xBF);
  // GetLUTOBResult uses mask 15: no dynamic alpha, no RCTA / LVSA files.
  std::filesystem::remove(Path("lut_dyncalpha.krv"));
  std::filesystem::remove(Path("adas_rcta.krv"));
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult(lut, Path("lut.krv").c_str(), Path("lut_config2.krv").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(Path("lut_dyncalpha.krv")));
  EXPECT_FALSE(std::filesystem::exists(Path("adas_rcta.krv")));
  EXPECT_EQ(KRV_GlobalImage_UnInitLUTOB(lut), 0);
}

TEST_F(LutExportsTest, DynAlphaOnlyWithAnEmptyConfigurationPath) {
  LUTOB* lut = KRV_GlobalImage_LoadLUTOB(Path("quad.bmp").c_str(), Path("lut_config.krv").c_str(), nullptr);
  ASSERT_NE(lut, nullptr);
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult_EX(lut, Path("only.krv").c_str(), "", 0x80), 0);
  EXPECT_TRUE(std::filesystem::exists(Path("only.krv")));
  EXPECT_TRUE(std::filesystem::exists(Path("lut_dyncalpha.krv")));
  EXPECT_FALSE(std::filesystem::exists(Path("lut_mixareainfo.krv")));
  EXPECT_FALSE(std::filesystem::exists(Path("adas_base.krv")));
  KRV_GlobalImage_UnInitLUTOB(lut);
}

TEST_F(LutExportsTest, SaveChainReportsTheFirstFailure) {
  LUTOB* lut = KRV_GlobalImage_LoadLUTOB(Path("quad.bmp").c_str(), Path("lut_config.krv").c_str(), nullptr);
  ASSERT_NE(lut, nullptr);
  WritePlainFile(Path("plain"));
  const std::string under = Path("plain") + "/x.krv";  // parent is a regular file: cannot be created
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult(lut, under.c_str(), Path("c.krv").c_str()), kLutSaveByteLutFailed);
  // The data directory itself unusable: the byte LUT lands elsewhere, the
  // dynamic-alpha file (first file of the data directory) fails.
  const std::string saved = DataDirectory();
  ASSERT_TRUE(SetDataDirectory((Path("plain") + "/data").c_str()));
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult_EX(lut, Path("ok.krv").c_str(), Path("c.krv").c_str(), 0x8F),
            kLutSaveDynAlphaFailed);
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult(lut, Path("ok.krv").c_str(), Path("c.krv").c_str()),
            kLutSaveMixAreaFailed);
  SetDataDirectory(saved.c_str());
  EXPECT_EQ(KRV_GlobalImage_GetLUTOBResult(nullptr, "a", "b"), kLutSaveNoObject);
  KRV_GlobalImage_UnInitLUTOB(lut);
}

TEST_F(LutExportsTest, CreatingExportsFailCleanly) {
  uint32_t err = 99;
  // Image-based build: null path, missing BMP, then no corners in a blank frame.
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB(nullptr, 1800, 4600, 0, 500, 2800, 2, 0, &err), nullptr);
  EXPECT_EQ(err, 1u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB(Path("none.bmp").c_str(), 1800, 4600, 0, 500, 2800, 2, 0, &err), nullptr);
  EXPECT_EQ(err, 2u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB(Path("quad.bmp").c_str(), 1800, 4600, 0, 500, 2800, 0x25, 0, &err), nullptr);
  EXPECT_EQ(gv().cameraMask, 2);  // option 0x25: camera 2 only
  EXPECT_GE(err, 17u);
  EXPECT_LE(err, 20u);
  KRV_GlobalImage_InitLUTOB(Path("quad.bmp").c_str(), 1800, 4600, 0, 500, 2800, 0x05, 0, &err);
  EXPECT_EQ(gv().cameraMask, 15);

  // Large enough for format 0 (rows of 2 x width bytes).
  std::vector<uint8_t> frame(static_cast<size_t>(2) * 2 * kCamW * 2 * kCamH, 80);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB_New(2, frame.data(), 2 * kCamW, 2 * kCamH, 1800, 4600, 0, 500, 2800, 2, 0,
                                          &err),
            nullptr);
  EXPECT_EQ(err, 1u);
  for (int format : {0, 1, 4}) {
    EXPECT_EQ(KRV_GlobalImage_InitLUTOB_New(format, frame.data(), 2 * kCamW, 2 * kCamH, 1800, 4600, 0, 500, 2800, 2,
                                            0, &err),
              nullptr);
    EXPECT_EQ(err, 17u) << format;  // corner search finds nothing
  }

  std::vector<float> hand(4 * 59, 10.0f);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB_Hand(1800, 4600, 0, 500, 2800, 2 * kCamW, 2 * kCamH, nullptr, hand.data(), 2,
                                           &err),
            nullptr);
  EXPECT_EQ(err, 1u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB_Hand(1800, 4600, 0, 500, 2800, 2 * kCamW, 2 * kCamH, hand.data(), hand.data(),
                                           2, &err),
            nullptr);
  EXPECT_NE(err, 0u);

  uint32_t o[4] = {7, 7, 7, 7};
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB_ParamFile(3, Path("lut_config.krv").c_str(), 0, 0, &err, o, o + 1, o + 2, o + 3),
            nullptr);
  EXPECT_EQ(err, 1u);
  // Set-up B without its camera records fails and keeps the outputs.
  EXPECT_EQ(KRV_GlobalImage_InitLUTOB_ParamFile(2, nullptr, 0, 0, &err, o, o + 1, o + 2, o + 3), nullptr);
  EXPECT_EQ(err, 2u);
  EXPECT_EQ(o[0], 7u);
  LUTOB* fixed = KRV_GlobalImage_InitLUTOB_ParamFile(1, nullptr, 0, 0, &err, o, o + 1, o + 2, o + 3);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(err, 0u);
  EXPECT_EQ(o[0], 1864u);
  EXPECT_EQ(o[1], 4950u);
  EXPECT_EQ(o[2], 1053u);
  EXPECT_EQ(o[3], 2850u);
  EXPECT_NE(fixed->cfg.X1.data, nullptr);
  KRV_GlobalImage_UnInitLUTOB(fixed);

  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine(nullptr, Path("quad.bmp").c_str(), 0, 0, 0, &err), nullptr);
  EXPECT_EQ(err, 1u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine(Path("lut_config.krv").c_str(), Path("none.bmp").c_str(), 0, 0, 0, &err),
            nullptr);
  EXPECT_EQ(err, 2u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine(Path("none.krv").c_str(), Path("quad.bmp").c_str(), 0, 0, 0, &err),
            nullptr);
  EXPECT_EQ(err, 2u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine(Path("lut_config.krv").c_str(), Path("quad.bmp").c_str(), 0, 0, 0, &err),
            nullptr);
  EXPECT_EQ(err, 17u);  // line calibration finds no line points
  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine_New(Path("lut_config.krv").c_str(), 3, frame.data(), 2 * kCamW, 2 * kCamH,
                                              0, 0, 0, &err),
            nullptr);
  EXPECT_EQ(err, 1u);
  EXPECT_EQ(KRV_GlobalImage_InitLUTOBLine_New(Path("lut_config.krv").c_str(), 1, frame.data(), 2 * kCamW, 2 * kCamH,
                                              0, 0, 0, &err),
            nullptr);
  EXPECT_EQ(err, 17u);

  EXPECT_EQ(KRV_GlobalImage_LoadLUTOB(nullptr, Path("lut_config.krv").c_str(), nullptr), nullptr);
  EXPECT_EQ(KRV_GlobalImage_LoadLUTOB(Path("none.bmp").c_str(), Path("lut_config.krv").c_str(), nullptr), nullptr);
  EXPECT_EQ(KRV_GlobalImage_LoadLUTOB(Path("quad.bmp").c_str(), Path("none.krv").c_str(), nullptr), nullptr);
  EXPECT_EQ(KRV_GlobalImage_UnInitLUTOB(nullptr), 0);
}

TEST_F(LutExportsTest, FileOnlyExports) {
  EXPECT_EQ(KRV_GlobalImage_GenerateMergerLUTFile(nullptr, Path("m.krv").c_str()), 1);
  EXPECT_EQ(KRV_GlobalImage_GenerateMergerLUTFile(Path("none.krv").c_str(), Path("m.krv").c_str()), 1);
  const int r = KRV_GlobalImage_GenerateMergerLUTFile(Path("lut_config.krv").c_str(), Path("m.krv").c_str());
  if (r == 0) {
    EXPECT_EQ(FirstWord(Path("m.krv")), 0x00666601u);
    EXPECT_EQ(FirstWord(Path("lut_mixareainfo.krv")), 0x08060808u);
  } else {
    // A re-calibration was needed and failed: its code comes back, no file.
    EXPECT_GE(r, 33);
    EXPECT_LE(r, 36);
  }

  // Loading failures are failures (not success).
  EXPECT_EQ(KRV_GlobalImage_GenerateNewMergerLUTFile(Path("none.krv").c_str(), Path("n.krv").c_str(), 200, 300, 100,
                                                     0, 0),
            1);
  EXPECT_EQ(KRV_GlobalImage_GenerateNewMergerLUTFile(Path("lut_config.krv").c_str(), Path("n.krv").c_str(), 200,
                                                     300, 100, 0, 0),
            0);
  EXPECT_EQ(FirstWord(Path("n.krv")), 0x00666601u);
  WritePlainFile(Path("plain"));
  EXPECT_NE(KRV_GlobalImage_GenerateNewMergerLUTFile(Path("lut_config.krv").c_str(),
                                                     (Path("plain") + "/n.krv").c_str(), 200, 300, 100, 0, 0),
            0);

  EXPECT_EQ(KRV_GlobalImage_GenerateROIFile(Path("lut_config.krv").c_str(), nullptr, 15, 0, 100, -2000, -3000, 2000,
                                            3000),
            1);
  EXPECT_EQ(KRV_GlobalImage_GenerateROIFile(Path("none.krv").c_str(), Path("roi.txt").c_str(), 15, 0, 100, -2000,
                                            -3000, 2000, 3000),
            1);

  int32_t pos[8] = {0};
  EXPECT_EQ(KRV_GlobalImage_CalcCarImagePos(1800, 4600, pos), 0);
  EXPECT_EQ(pos[0], gv().f7);
  EXPECT_EQ(pos[1], gv().f8);
  EXPECT_EQ(pos[2], gv().f3);
  EXPECT_EQ(pos[7], gv().f5);
  EXPECT_GT(pos[5], 0);  // car-box width

  EXPECT_EQ(KRV_GlobalImage_ModLUTConfigFile(Path("none.krv").c_str(), 600, 2900, -1), 1);
  EXPECT_EQ(KRV_GlobalImage_ModLUTConfigFile(Path("lut_config.krv").c_str(), 600, 2900, -1), 0);

  // Six-camera builders: missing images, missing hand points.
  EXPECT_NE(KRV_GlobalImage_BuildSixLUTByImage(1800, 4600, 0, 0, 0, 0x12, Path("a.bmp").c_str(),
                                               Path("b.bmp").c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(gv().cameraMask, 1);
  EXPECT_NE(KRV_GlobalImage_BuildSixLUTByHand(1800, 4600, 0, 0, 0, 2, kCamW, kCamH, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(gv().cameraMask, 15);
}

TEST_F(LutExportsTest, DirectGetCornerWithoutCornersOrBlockObject) {
  uint32_t counts[4] = {5, 5, 5, 5};
  std::vector<float> xs(4 * 59), ys(4 * 59);
  int32_t size[2] = {-1, -1};
  EXPECT_EQ(KRV_GlobalImage_DirectGetCorner_EX(nullptr, 1800, 4600, 0, 500, 2800, 2, counts, xs.data(), ys.data(),
                                               size),
            1);
  EXPECT_EQ(KRV_GlobalImage_DirectGetCorner(Path("none.bmp").c_str(), 1800, 4600, 0, 500, 2800, 2, counts,
                                            xs.data(), ys.data()),
            1);
  // Without the corner check the build succeeds; a blank frame has no corners.
  EXPECT_EQ(KRV_GlobalImage_DirectGetCorner_EX(Path("quad.bmp").c_str(), 1800, 4600, 0, 500, 2800, 0x12, counts,
                                               xs.data(), ys.data(), size),
            0);
  EXPECT_EQ(gv().cornerQuickMode, 1);
  EXPECT_EQ(gv().cameraMask, 1);
  for (uint32_t c : counts) EXPECT_EQ(c, 0u);
  EXPECT_EQ(size[0], kCamW);
  EXPECT_EQ(size[1], kCamH);
  // Null outputs are skipped, also under the four-block layout before any
  // block calibration object exists.
  gv().CalibLayoutCode = 29;
  EXPECT_EQ(KRV_GlobalImage_DirectGetCorner_EX(Path("quad.bmp").c_str(), 1800, 4600, 0, 500, 2800, 2, nullptr,
                                               nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(KRV_GlobalImage_DirectGetCorner(Path("quad.bmp").c_str(), 1800, 4600, 0, 500, 2800, 2, counts, nullptr,
                                            nullptr),
            0);
}

// Layout 29: the corner export runs the four-block calibration and hands
// out the blocks' corners it found, from the calibration object.
TEST_F(LutExportsTest, DirectGetCornerOfTheFourBlockLayout) {
  const BlockSite site = BlockSite_Four();
  std::vector<uint8_t> pixels = BlockSite_RenderQuad(site);
  ImageU8 img{2 * site.camW, 2 * site.camH, pixels.data()};
  ASSERT_EQ(Bmp_SaveImageU8(&img, Path("blocks.bmp").c_str(), 0), 1);
  gv().CalibLayoutCode = 29;
  gv().targetDimA = static_cast<int32_t>(site.square);
  uint32_t counts[4] = {};
  std::vector<float> xs(4 * 59, -1.0f), ys(4 * 59, -1.0f);
  int32_t size[2] = {};
  ASSERT_EQ(KRV_GlobalImage_DirectGetCorner_EX(Path("blocks.bmp").c_str(), 1800, 4600, 0, 500, 2800, 2, counts,
                                               xs.data(), ys.data(), size),
            0);
  EXPECT_EQ(size[0], site.camW);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(counts[c], 8u) << "camera " << c;
    int32_t blocks[2];
    BlockSite_CameraBlocks(site, c, blocks);
    for (int i = 0; i < 8; ++i) {
      float w[3], row, col;
      site.Corner(blocks[i / 4], i % 4, w);
      site.Project(c, w, &row, &col);
      EXPECT_NEAR(xs[59 * c + i], col, 3.0f) << "camera " << c << " corner " << i;
      EXPECT_NEAR(ys[59 * c + i], row, 3.0f) << "camera " << c << " corner " << i;
    }
  }
}

}  // namespace
