#include "surround/lutob_param_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "camera/rotation.h"
#include "frame/data_directory.h"
#include "surround/lutob.h"
#include "surround/merger_lut.h"
#include "testsupport/config_state.h"
#include "toolkit/transform3d.h"

namespace {

class ParamFileTest : public ::testing::Test {
 protected:
  ScopedConfigState state_;
  std::string dir_ = DataDirectory();
  void SetUp() override { GlobalVariables_InitRuntimeDefaults(); }
  void Write(const std::string& name, const std::string& text) {
    std::filesystem::create_directories(dir_ + "/cc_config");
    FILE* f = fopen((dir_ + "/cc_config/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs(text.c_str(), f);
    fclose(f);
  }
  // Camera record c: fixed intrinsics, a pose that differs per camera.
  void WriteRecords() {
    for (int c = 0; c < 4; ++c) {
      std::string p = "{\"width\": 1280, \"height\": 720, \"params\": [";
      const float r[27] = {0.7f + 0.1f * c, 640, 360, 320, 321, 0.1f, -0.02f, 0.003f, -0.0004f, 1.5f - c, 0.9f,
                           0, 0.2f, -0.1f * c, 0.05f, 0, 0, 0.3f * c};
      for (int k = 0; k < 27; ++k) p += (k ? ", " : "") + std::to_string(r[k]);
      Write(std::to_string(c) + ".json", p + "]}");
    }
  }
};

TEST_F(ParamFileTest, SetupAExample) {
  LUTOB* lut = LUTOB_Create();
  ASSERT_EQ(InitLUTOB_ParamFileA(lut), 0);
  EXPECT_EQ(lut->cfg.carLength, 4950);
  EXPECT_EQ(lut->cfg.frontOverhang, 1053);
  EXPECT_EQ(lut->camW, 1280);
  EXPECT_EQ(lut->camH, 720);
  EXPECT_FLOAT_EQ(lut->params.T[0][0], 11.0f);
  EXPECT_FLOAT_EQ(lut->params.T[0][1], 2311.0f);
  EXPECT_FLOAT_EQ(lut->params.T[0][2], 718.0f);
  EXPECT_FLOAT_EQ(lut->params.K[2][5], 482.436096f);
  EXPECT_EQ(lut->params.K[2][1], 0.0f);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(lut->cornerCounts[c], 1);
  LUTOB_Destroy(lut);
}

TEST_F(ParamFileTest, CarSizesFromTheParameterFile) {
  int32_t s[4];
  const std::string path = dir_ + "/cc_config/param.txt";
  ParamFile_ReadCarSizes(path.c_str(), s);
  EXPECT_EQ(s[0], 1950);
  EXPECT_EQ(s[1], 5240);
  EXPECT_EQ(s[2], 3040);
  EXPECT_EQ(s[3], 1180);
  Write("param.txt", "2000,5000,3000");
  ParamFile_ReadCarSizes(path.c_str(), s);
  EXPECT_EQ(s[0], 2000);
  EXPECT_EQ(s[1], 5000);
  EXPECT_EQ(s[2], 3000);
  EXPECT_EQ(s[3], 1180);
}

TEST_F(ParamFileTest, AnglesToRotationVector) {
  const float s[4] = {0.3f, 0.2f, -0.4f, 1.1f};
  float out[3];
  CamPose_AnglesToRotVec(s[0], s[1], s[2], s[3], out);
  // Back to a matrix: the rotation of -out equals the product.
  float a[9], b[9], c[9], d[9];
  Mat3_RotateZ(a, s[0]);
  Mat3_RotateY(b, -s[2]);
  Mat3_RotateX(c, 1.5707964f - s[1]);
  Mat3_RotateZ(d, s[3]);
  auto mul = [](const float* x, const float* y, float* z) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) z[3 * i + j] = x[3 * i] * y[j] + x[3 * i + 1] * y[3 + j] + x[3 * i + 2] * y[6 + j];
  };
  float ab[9], abc[9], m[9], back[9];
  mul(a, b, ab);
  mul(ab, c, abc);
  mul(abc, d, m);
  const float neg[3] = {-out[0], -out[1], -out[2]};
  RodriguesArr(neg, back, nullptr);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(back[i], m[i], 1e-5f) << i;
}

TEST_F(ParamFileTest, SetupBFromRecordFiles) {
  LUTOB* lut = LUTOB_Create();
  EXPECT_EQ(InitLUTOB_ParamFileCC(lut), 2);  // no records
  WriteRecords();
  Write("param.txt", "2000,5000,3000,1000");
  ASSERT_EQ(InitLUTOB_ParamFileCC(lut), 0);
  EXPECT_EQ(lut->cfg.carWidth, 2000);
  EXPECT_EQ(lut->cfg.wheelBase, 3000);
  EXPECT_EQ(lut->camW, 1280);
  EXPECT_FLOAT_EQ(lut->params.K[1][0], 320.0f);
  EXPECT_FLOAT_EQ(lut->params.K[1][2], 640.0f);
  const float dy = lut->cfg.carLength * 0.5f - lut->cfg.frontOverhang;
  EXPECT_NEAR(lut->params.T[2][0], -900.0f, 1e-3f);
  EXPECT_NEAR(lut->params.T[2][1], -500.0f - dy, 1e-3f);
  EXPECT_NEAR(lut->params.T[2][2], 900.0f, 1e-2f);
  float r[3];
  CamPose_AnglesToRotVec(0.6f, 0.2f, -0.2f, 0.05f, r);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(lut->params.R[2][i], r[i], 1e-5f);
  // A malformed record refuses the set-up.
  Write("3.json", "{\"width\": 1280, \"height\": 720, \"params\": [1, 2, 3]}");
  EXPECT_EQ(InitLUTOB_ParamFileCC(lut), 2);
  LUTOB_Destroy(lut);
}

// The set-up's poses give the same maps as the calibration road's stored
// parameter file loaded back and built with the solved poses kept.
TEST_F(ParamFileTest, MapsEqualThoseOfTheStoredPoses) {
  for (int kind = 1; kind <= 2; ++kind) {
    if (kind == 2) WriteRecords();
    LUTOB* a = LUTOB_Create();
    ASSERT_EQ(kind == 1 ? InitLUTOB_ParamFileA(a) : InitLUTOB_ParamFileCC(a), 0);
    ASSERT_EQ(LUT_GenerateMergerLUT(a, 2, 0), 0);
    const std::string path = dir_ + "/lut_config_" + std::to_string(kind) + ".krv";
    ASSERT_EQ(SaveLUTConfig(a, path.c_str()), 1);
    LUTOB* b = LUTOB_Create();
    ASSERT_EQ(LUTOB_LoadConfig(b, path.c_str(), nullptr), 1);
    ASSERT_EQ(LUT_GenerateMergerLUT(b, 0, 0), 0);
    const Matrix* ma[7] = {&a->cfg.X1, &a->cfg.Y1, &a->cfg.X2, &a->cfg.Y2, &a->cfg.W1, &a->cfg.W2, &a->cfg.W3};
    const Matrix* mb[7] = {&b->cfg.X1, &b->cfg.Y1, &b->cfg.X2, &b->cfg.Y2, &b->cfg.W1, &b->cfg.W2, &b->cfg.W3};
    for (int k = 0; k < 7; ++k) {
      ASSERT_EQ(ma[k]->cols, mb[k]->cols);
      ASSERT_EQ(ma[k]->rows, mb[k]->rows);
      const size_t n = static_cast<size_t>(ma[k]->cols) * ma[k]->rows;
      size_t differ = 0;
      for (size_t i = 0; i < n; ++i) differ += ma[k]->data[i] != mb[k]->data[i];
      EXPECT_EQ(differ, 0u) << "kind " << kind << " map " << k;
    }
    LUTOB_Destroy(a);
    LUTOB_Destroy(b);
  }
}

}  // namespace
