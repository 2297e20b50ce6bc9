// Best3 job entry on a site seen through lens model 3 (lens table in slot
// 0): the only lens model whose side-line fit re-poses the side cameras.
// That fit frees the third rotation-vector component alone; the front/back
// fit frees the rotation and the height. Starts disturbed in those
// components come back to the rendered truth.
#include <gtest/gtest.h>

#include "best3_test_support.h"
#include "testsupport/lens_table_fixture.h"

namespace {

Best3Site Model3Site() {
  Best3Site site;
  site.model = 3;
  return site;
}

void InstallTable(const ScopedConfigState& state) {
  ASSERT_TRUE(LensTableFixture_Write(state.dir(), 5, EquidistantTable{}));
  LensTableFixture_Install(state.dir(), 5);
}

class Best3Model3 : public ::testing::Test {
 protected:
  // One render per suite: the table must be loaded while rendering.
  static void SetUpTestSuite() {
    ScopedConfigState state;
    InstallTable(state);
    const Best3Site site = Model3Site();
    quad_ = new std::vector<uint8_t>(Best3Site_RenderQuad(site));
  }
  static void TearDownTestSuite() {
    delete quad_;
    quad_ = nullptr;
  }

  void SetUp() override {
    Best3LoadConfig(state_, site_);
    InstallTable(state_);
    for (int c = 0; c < 4; ++c) truth_[c] = Best3Site_Camera(site_, c + 1);
    combined_ = Best3Site_Combined(site_, *quad_);
    image_ = Matrix{site_.camW, site_.camH, combined_.data()};
  }

  static std::vector<uint8_t>* quad_;
  ScopedConfigState state_;
  Best3Site site_ = Model3Site();
  SceneCamera truth_[4];
  std::vector<float> combined_;
  Matrix image_{};
};

std::vector<uint8_t>* Best3Model3::quad_ = nullptr;

struct Start {
  const char* name;
  float turn[2][3];  // front, rear: degrees about the world axes
  float height[2];   // front, rear: mm up (+) or down
  float roll[2];     // left, right: degrees added to the third rotation-vector component
};

TEST_F(Best3Model3, DisturbedCamerasComeBackThroughTheJobEntry) {
  const Start starts[] = {
      {"side cameras only", {{0, 0, 0}, {0, 0, 0}}, {0, 0}, {2.0f, -2.0f}},
      {"side cameras, other sense", {{0, 0, 0}, {0, 0, 0}}, {0, 0}, {-1.5f, 1.0f}},
      {"all four", {{1.5f, -1.0f, 2.0f}, {-2.0f, 1.2f, -1.0f}}, {50.0f, -40.0f}, {2.0f, -1.5f}},
  };
  for (const Start& s : starts) {
    SCOPED_TRACE(s.name);
    SceneCamera start[4];
    for (int c = 0; c < 4; ++c) start[c] = truth_[c];
    for (int c = 0; c < 2; ++c) {
      const float shift[3] = {0.0f, 0.0f, -s.height[c]};
      DisturbPose(&start[c], s.turn[c], shift);
    }
    for (int c = 2; c < 4; ++c) start[c].r[2] += s.roll[c - 2] * 3.14159265f / 180.0f;
    LUTOB* lut = Best3Site_MakeLut(site_, start);
    for (int c = 0; c < 4; ++c) lut->cfg.lensSlot[c] = 0;
    Best3Work work;
    ASSERT_EQ(Best3Ctrl_CreateWork(&work, lut), 1);
    EXPECT_EQ(CalibBest3_NewImage(&work, &image_), 0);
    EXPECT_EQ(work.done.load(), 1u);
    for (int c = 0; c < 4; ++c) {
      const double rot0 = RotationGapDeg(start[c].r, truth_[c].r);
      const double rot = RotationGapDeg(lut->params.R[c], truth_[c].r);
      double off0 = 0.0, off = 0.0;
      for (int k = 0; k < 3; ++k) {
        off0 += std::pow(static_cast<double>(start[c].T[k] - truth_[c].T[k]), 2.0);
        off += std::pow(static_cast<double>(lut->params.T[c][k] - truth_[c].T[k]), 2.0);
      }
      printf("%s, camera %d: start %.3f deg %.1f mm -> solved %.3f deg %.1f mm\n", s.name, c + 1, rot0,
             std::sqrt(off0), rot, std::sqrt(off));
      EXPECT_LE(rot, 0.3) << c + 1;
      EXPECT_LE(std::sqrt(off), 25.0) << c + 1;
    }
    Best3Ctrl_DestroyWork(&work);
    LUTOB_Destroy(lut);
  }
}

// The side fit's error limit, 35, at its boundary (this model's side fit
// is the one that gives an error), for both side cameras.
TEST_F(Best3Model3, SideFitErrorLimitAtItsBoundary) {
  LUTOB* lut = Best3Site_MakeLut(site_, truth_);
  for (int c = 0; c < 4; ++c) lut->cfg.lensSlot[c] = 0;
  Best3Work work;
  ASSERT_EQ(Best3Ctrl_CreateWork(&work, lut), 1);
  work.image = &image_;
  for (int32_t camera : {3, 4}) {
    SCOPED_TRACE(camera);
    ASSERT_EQ(CalibBest3_GetLR_LPoint(&work, camera, 1, -0.045f), 0);
    Best3ExpectFitLimit(&work, camera, 35.0f, 183, 40.0f);
  }
  Best3Ctrl_DestroyWork(&work);
  LUTOB_Destroy(lut);
}

}  // namespace
