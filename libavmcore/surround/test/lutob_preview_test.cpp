#include "surround/lutob_preview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"
#include "testsupport/four_camera_rig.h"
#include "toolkit/bmp_file.h"
#include "toolkit/matrix_alloc.h"

namespace {

constexpr int32_t kCamW = 160, kCamH = 120;
const float kCamValue[4] = {0.1f, 0.2f, 0.3f, 0.4f};

class PreviewTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  FourCameraRig* rig_ = nullptr;
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = new FourCameraRig(kCamW, kCamH, 160, 240);
    ASSERT_EQ(LUT_GenerateMergerLUT(rig_->lut, 0, 0), 0);
    LUTOB* lut = rig_->lut;
    ASSERT_TRUE(Matrix_NewData(&lut->previewImage, lut->cfg.X1.cols, lut->cfg.X1.rows));
    for (int c = 0; c < 4; ++c) {
      lut->cameraImages[c] = Matrix_New(kCamW, kCamH);
      for (int i = 0; i < kCamW * kCamH; ++i) lut->cameraImages[c]->data[i] = kCamValue[c];
    }
  }
  void TearDown() override { delete rig_; }
  const Matrix& Out() const { return rig_->lut->previewImage; }
  static int CameraOf(float x, float y) {
    const int32_t xi = std::max(static_cast<int32_t>(x), 0), yi = std::max(static_cast<int32_t>(y), 0);
    if (x < 0 || y < 0) return 0;
    return (yi < kCamH ? 0 : 2) + (xi < kCamW ? 0 : 1);
  }
};

TEST_F(PreviewTest, ModesBlendOrPickTheirCameras) {
  const LutConfig& c = rig_->lut->cfg;
  const size_t n = static_cast<size_t>(Out().cols) * Out().rows;
  ASSERT_EQ(LUTOB_RenderPreview(rig_->lut, 3), 0);
  for (size_t i = 0; i < n; ++i) {
    const float w = c.W1.data[i];
    const float want = w * kCamValue[CameraOf(c.X1.data[i], c.Y1.data[i])] +
                       (1 - w) * kCamValue[CameraOf(c.X2.data[i], c.Y2.data[i])];
    ASSERT_NEAR(Out().data[i], want, 1e-5f) << i;
  }
  ASSERT_EQ(LUTOB_RenderPreview(rig_->lut, 1), 0);
  for (size_t i = 0; i < n; ++i) {
    const float v = Out().data[i];
    ASSERT_TRUE(v == 0.0f || v == kCamValue[2] || v == kCamValue[3]) << v;
  }
  ASSERT_EQ(LUTOB_RenderPreview(rig_->lut, 2), 0);
  for (size_t i = 0; i < n; ++i) {
    const float v = Out().data[i];
    ASSERT_TRUE(v == 0.0f || v == kCamValue[0] || v == kCamValue[1]) << v;
  }
}

TEST_F(PreviewTest, CarInteriorIsBlankedInModeZero) {
  LutConfig& c = rig_->lut->cfg;
  const int32_t r = (c.innerTop + c.innerBottom) / 2, col = (c.innerLeft + c.innerRight) / 2;
  const size_t i = static_cast<size_t>(r) * c.X1.cols + col;
  c.W1.data[i] = 1.0f;
  c.X1.data[i] = 0.0f;
  c.Y1.data[i] = 2.0f * kCamH - 1;
  c.X2.data[i] = 0.0f;
  c.Y2.data[i] = 2.0f * kCamH - 1;
  ASSERT_EQ(LUTOB_RenderPreview(rig_->lut, 0), 0);
  EXPECT_EQ(Out().data[i], 0.0f);
  ASSERT_EQ(LUTOB_RenderPreview(rig_->lut, 3), 0);
  EXPECT_FLOAT_EQ(Out().data[i], kCamValue[2]);
}

TEST_F(PreviewTest, MissingBuffers) {
  LUTOB* lut = rig_->lut;
  Out().data[0] = 7.0f;
  Matrix* saved = lut->cameraImages[2];
  lut->cameraImages[2] = nullptr;
  EXPECT_EQ(LUTOB_RenderPreview(lut, 0), 0);
  lut->cameraImages[2] = saved;
  float* preview = lut->previewImage.data;
  lut->previewImage.data = nullptr;
  EXPECT_EQ(LUTOB_RenderPreview(lut, 0), 255);
  EXPECT_EQ(LUTOB_RenderPreviewFromImage(lut, nullptr), 255);
  lut->previewImage.data = preview;
}

TEST_F(PreviewTest, FromQuadImageAndBlendedBmp) {
  // A quad image whose value is its own column / 1000: the blend of the
  // two source columns comes back.
  std::vector<float> q(static_cast<size_t>(4) * kCamW * kCamH);
  for (int32_t y = 0; y < 2 * kCamH; ++y)
    for (int32_t x = 0; x < 2 * kCamW; ++x) q[static_cast<size_t>(y) * 2 * kCamW + x] = x / 1000.0f;
  const Matrix quad{2 * kCamW, 2 * kCamH, q.data()};
  const LutConfig& c = rig_->lut->cfg;
  ASSERT_EQ(LUTOB_RenderPreviewFromImage(rig_->lut, &quad), 0);
  const size_t n = static_cast<size_t>(Out().cols) * Out().rows;
  size_t checked = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!(c.X1.data[i] >= 2 && c.Y1.data[i] >= 2 && c.X2.data[i] >= 2 && c.Y2.data[i] >= 2)) continue;
    const float w = c.W1.data[i];
    ASSERT_NEAR(Out().data[i], (w * c.X1.data[i] + (1 - w) * c.X2.data[i]) / 1000.0f, 1e-4f);
    ++checked;
  }
  EXPECT_GT(checked, n / 2);
  const std::string path = std::string(DataDirectory()) + "/blend.bmp";
  EXPECT_EQ(LUT_SaveBlendedBmp(rig_->lut, &quad, path.c_str()), 0);
  ImageU8* img = Bmp_LoadGrayU8(path.c_str());
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->width, c.X1.cols);
  free(img->data);
  free(img);
  EXPECT_EQ(LUT_SaveBlendedBmp(rig_->lut, nullptr, path.c_str()), 1);
}

}  // namespace
