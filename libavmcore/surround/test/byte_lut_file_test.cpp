#include "surround/byte_lut_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "testsupport/four_camera_rig.h"
#include "surround/krv_image.h"
#include "toolkit/matrix_alloc.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"

namespace {

class ByteLutFile : public ::testing::Test {
 protected:
  static constexpr int32_t kCamW = 160, kCamH = 120, kOutW = 60, kOutH = 100;
  ScopedConfigState state_;
  std::unique_ptr<FourCameraRig> rig_;

  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = std::make_unique<FourCameraRig>(kCamW, kCamH, kOutW, kOutH);
    ASSERT_EQ(LUT_GenerateMergerLUT(rig_->lut, 0, 0), 0);
  }
  bool Exists(const std::string& p) const { return std::ifstream(p).good(); }
};

TEST_F(ByteLutFile, PacksTheObjectsMapsWithTheCarBody) {
  const LutConfig& c = rig_->lut->cfg;
  const std::string krv = state_.Path("lut.krv");
  ASSERT_EQ(LUT_GenerateByteLUTFile(rig_->lut, krv.c_str(), ""), 0);
  Matrix* p[4];
  int32_t pair1[2], pair2[2];
  ASSERT_EQ(KRVImage_Load(krv.c_str(), &p[0], &p[1], &p[2], &p[3], pair1, pair2), 1);
  EXPECT_EQ(p[0]->cols, kOutW);
  EXPECT_EQ(p[0]->rows, 2 * kOutH);
  // The file carries left, top, right, bottom; the pairs come back swapped.
  EXPECT_EQ(pair1[1], c.carLeft);
  EXPECT_EQ(pair1[0], c.carTop);
  EXPECT_EQ(pair2[1], c.carRight);
  EXPECT_EQ(pair2[0], c.carBottom);
  for (int k = 0; k < kOutW * kOutH; k += 37) {
    const int x = static_cast<int>(c.X1.data[k] * 255.0f / (2 * kCamW));
    const int x2 = static_cast<int>(c.X2.data[k] * 255.0f / (2 * kCamW));
    EXPECT_EQ(static_cast<int>(p[0]->data[k] * 255.0f + 0.5f), x) << k;
    EXPECT_EQ(static_cast<int>(p[0]->data[kOutW * kOutH + k] * 255.0f + 0.5f), x2 & 255) << k;
  }
  for (Matrix* m : p) Matrix_Delete(m);
  EXPECT_FALSE(Exists(state_.Path("lut_config.krv")));
}

TEST_F(ByteLutFile, EmptyImagePathWritesOnlyTheConfiguration) {
  const std::string cfg = state_.Path("lut_config.krv");
  ASSERT_EQ(LUT_GenerateByteLUTFile(rig_->lut, "", cfg.c_str()), 0);
  EXPECT_TRUE(Exists(cfg));
  EXPECT_EQ(LUT_GenerateByteLUTFile(rig_->lut, nullptr, nullptr), 0);
  // A file that cannot be written is reported.
  EXPECT_EQ(LUT_GenerateByteLUTFile(rig_->lut, state_.Path("no/dir/lut.krv").c_str(), ""), -1);
}

TEST_F(ByteLutFile, GroundGridByteLut) {
  const std::string krv = state_.Path("grid.krv");
  int32_t box[4] = {-1, -1, -1, -1};
  const float seam0 = rig_->lut->seamAngles[0];
  ASSERT_EQ(LUT_GenerateNewByteLUTFile(rig_->lut, krv.c_str(), 40, 80, 1000, 0, box), 0);
  // Spacing (1800 + 2000) / 40 = 95 mm from -1900 mm: the car spans
  // columns trunc(1000 / 95 + 0.5) = 11 to trunc(2800 / 95 + 0.5) = 29.
  EXPECT_EQ(box[0], 11);
  EXPECT_EQ(box[2], 29);
  EXPECT_LT(box[1], box[3]);
  EXPECT_EQ(rig_->lut->seamAngles[0], seam0);  // restored after the run
  Matrix* p[4];
  int32_t pair1[2], pair2[2];
  ASSERT_EQ(KRVImage_Load(krv.c_str(), &p[0], &p[1], &p[2], &p[3], pair1, pair2), 1);
  EXPECT_EQ(p[0]->cols, 40);
  EXPECT_EQ(p[0]->rows, 160);
  EXPECT_EQ(pair1[1], box[0]);
  EXPECT_EQ(pair2[0], box[3]);
  for (Matrix* m : p) Matrix_Delete(m);
  EXPECT_EQ(LUT_GenerateNewByteLUTFile(rig_->lut, krv.c_str(), 0, 80, 1000, 0, box), -1);
}

}  // namespace
