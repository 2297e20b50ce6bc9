#include "surround/virtual_view_lut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "surround/lutob.h"
#include "testsupport/config_state.h"
#include "testsupport/four_camera_rig.h"

namespace {

constexpr int32_t kCamW = 320, kCamH = 240, kW = 160, kH = 240;
constexpr float kHeight = 8000.0f, kFocal = 200.0f;

class VirtualViewTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  FourCameraRig* rig_ = nullptr;
  VirtualViewLUTGen gen_;
  std::string cfg_ = std::string(DataDirectory()) + "/lut_config.krv";
  void SetUp() override {
    GlobalVariables_InitRuntimeDefaults();
    rig_ = new FourCameraRig(kCamW, kCamH, 160, 240, true);
    ASSERT_EQ(SaveLUTConfig(rig_->lut, cfg_.c_str()), 1);
    ASSERT_EQ(VirtualViewLUTGen_Init(&gen_, cfg_.c_str(), kW, kH, kHeight, 1000.0f, 2000.0f, 2000.0f), 1);
  }
  void TearDown() override {
    VirtualViewLUTGen_Release(&gen_);
    delete rig_;
  }
  // Ground point (x, y) through rig camera k; false outside its field.
  bool Project(int k, float x, float y, float* u, float* v) const {
    const SceneCamera& c = rig_->cams[k];
    float K[9], D[8], r[3], T[3];
    std::copy(c.K, c.K + 9, K);
    std::copy(c.D, c.D + 8, D);
    std::copy(c.r, c.r + 3, r);
    std::copy(c.T, c.T + 3, T);
    Matrix mK{3, 3, K}, mD{1, 8, D}, mr{3, 1, r}, mT{1, 3, T};
    ProjectPointFn fn = nullptr;
    ProjectionContext ctx;
    CameraModel_ProjectPoint(c.model, &mr, &mT, &mK, &mD, &fn, &ctx);
    return fn != nullptr && fn(c.model, &ctx, u, v, 0, x, y, 0.0f) != 0;
  }
};

TEST_F(VirtualViewTest, UnsupportedStepsAreRefused) {
  std::vector<uint32_t> tex(2 * kW * kH, 7u);
  for (int s : {0, -4, 1, 3, 16}) {
    EXPECT_EQ(VirtualViewLUTGen_Build(&gen_, s, tex.data(), nullptr, kFocal, 0, 0, 1, 0, 0, 0, 0), 0) << s;
    EXPECT_EQ(tex[0], 7u);
  }
}

TEST_F(VirtualViewTest, CameraMatrixWithoutTexture) {
  float m[12];
  ASSERT_EQ(VirtualViewLUTGen_Build(&gen_, 4, nullptr, m, kFocal, 0, 0, 1, 0, 0, 0, 0), 1);
  // Straight down from kHeight above the target: no rotation, the target
  // kHeight in front.
  const float want[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, kHeight};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(m[i], want[i], 1e-3f) << i;
}

// Floor points land where the virtual camera's geometry puts them, for
// every spacing: sampled and interpolated pixels alike; the car stays empty.
TEST_F(VirtualViewTest, FloorPointsLandInPlaceForEverySpacing) {
  for (int s : {2, 4, 8}) {
    std::vector<uint32_t> tex(2 * kW * kH, 0u);
    ASSERT_EQ(VirtualViewLUTGen_Build(&gen_, s, tex.data(), nullptr, kFocal, 0, 0, 1, 0, 0, 0, 0), 1);
    float cx, cy;
    VirtualViewLUTGen_ProjectToView(&gen_, &cx, &cy, nullptr, 0, 0, 0);
    const size_t centre = static_cast<size_t>(kH / 2 + std::lround(cy)) * kW + kW / 2 + std::lround(cx);
    EXPECT_EQ(tex[centre], kVirtualViewEmptyTop);
    EXPECT_EQ(tex[kW * kH + centre], 0u);
    double worst = 0.0;
    int checked = 0, over = 0;
    for (float y = -4000; y <= 4000; y += 137)
      for (float x = -2800; x <= 2800; x += 131) {
        if (std::fabs(x) < 900 + 100 && std::fabs(y) < 2300 + 100) continue;
        if (x * x / (2900.f * 2900.f) + y * y / (4300.f * 4300.f) > 0.95f) continue;  // the floor only
        float u, v;
        VirtualViewLUTGen_ProjectToView(&gen_, &u, &v, nullptr, x, y, 0);
        const int32_t col = (kW >> 1) + static_cast<int32_t>(std::lround(u)), row = (kH >> 1) + static_cast<int32_t>(std::lround(v));
        if (col < 0 || col >= kW || row < 0 || row >= kH) continue;
        const uint32_t t = tex[static_cast<size_t>(row) * kW + col];
        if (t == kVirtualViewEmptyTop) continue;
        // The ground point of the pixel's own centre.
        const float gx = x + (col - (kW >> 1) - u) * kHeight / kFocal, gy = y + (row - (kH >> 1) - v) * kHeight / kFocal;
        const float qx = ((t & 255) + ((t >> 24) & 127) / 127.0f) * (2 * kCamW) / 255.0f;
        const float qy = (((t >> 8) & 255) + ((t >> 16) & 127) / 127.0f) * (2 * kCamH) / 255.0f;
        const int k = (qx >= kCamW ? 1 : 0) + (qy >= kCamH ? 2 : 0);
        float pu, pv, pu2, pv2;
        if (!Project(k, gx, gy, &pu, &pv) || !Project(k, gx + kHeight / kFocal, gy, &pu2, &pv2)) continue;
        const double scale = std::hypot(pu2 - pu, pv2 - pv);  // camera pixels per virtual pixel
        const double err = std::hypot(qx - (k & 1 ? kCamW : 0) - pu, qy - (k & 2 ? kCamH : 0) - pv) / std::max(scale, 1e-3);
        worst = std::max(worst, err);
        if (err > 1.0) ++over;
        ++checked;
      }
    EXPECT_GT(checked, 300) << s;
    // Spacings 2 and 4 hold every pixel within 1 px; with 8, a linear
    // stretch of 8 pixels near a fisheye's rim bends away from the lens by up
    // to a few pixels, at a handful of places.
    EXPECT_LE(over, checked / 100) << "spacing " << s;
    EXPECT_LE(worst, s < 8 ? 1.0 : 3.0) << "spacing " << s;
    printf("spacing %d: %d floor points, %d beyond 1 px, worst %.2f px\n", s, checked, over, worst);
  }
}

}  // namespace
