// The 3-D LUT object: creation, the empty calculation export, seam clamping
// and the computed table of a top view of the sample rig.
#include "surround/lut3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bowl_test_fixture.h"

namespace {

struct LutDeleter {
  void operator()(LUT3DOB* l) const { KRV_GlobalImage_UnInit3DLutOB(l); }
};
using LutPtr = std::unique_ptr<LUT3DOB, LutDeleter>;

using Lut3DTest = BowlFixture;

constexpr int32_t kW = 160, kH = 120;

LutPtr MakeLut(const std::string& path) {
  return LutPtr(KRV_GlobalImage_Init3DLutOB(path.c_str(), kW, kH, 2400, 5400, 6000, 1, 2400, 3400, 4000, 1));
}

TEST_F(Lut3DTest, AnUnreadableFileLeavesAnInvalidObject) {
  LutPtr lut = MakeLut(state_.Path("missing.krv"));
  ASSERT_NE(lut, nullptr);
  EXPECT_EQ(lut->valid, 0);
  EXPECT_TRUE(lut->U1.empty());
  float mvp[16];
  EXPECT_EQ(KRV_GlobalImage_Compute3DLut(lut.get(), 2, mvp, 0, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0, 0, 0,
                                         9000, 0, 0),
            1);
  UnInit3DLut(lut.get());
  EXPECT_EQ(lut->valid, 0);
  EXPECT_EQ(KRV_GlobalImage_Compute3DLut(nullptr, 2, mvp, 0, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0, 0, 0,
                                         9000, 0, 0),
            1);
  EXPECT_EQ(KRV_GlobalImage_UnInit3DLutOB(nullptr), 0);
  // A zero size allocates nothing either.
  LutPtr empty(KRV_GlobalImage_Init3DLutOB(path_.c_str(), 0, kH, 2400, 5400, 6000, 1, 2400, 3400, 4000, 1));
  EXPECT_EQ(empty->valid, 0);
  // Nor does a size beyond memory (9 maps of 4 bytes a pixel).
  LutPtr huge(KRV_GlobalImage_Init3DLutOB(path_.c_str(), 1 << 30, 1 << 30, 2400, 5400, 6000, 1, 2400, 3400, 4000, 1));
  EXPECT_EQ(huge->valid, 0);
  EXPECT_TRUE(huge->U1.empty());
}

TEST_F(Lut3DTest, SeamFractionsAreClampedAndWrittenBack) {
  struct Case {
    float lo, hi, wantLo, wantHi;
  } cases[] = {{0.95f, 0.97f, 0.84999996f, 0.9f}, {0.05f, 0.5f, 0.1f, 0.5f}, {0.7f, 0.72f, 0.67f, 0.72f},
               {0.05f, 0.95f, 0.1f, 0.9f},        {0.3f, 0.6f, 0.3f, 0.6f}};
  const float P[2] = {0, 0}, Q[2] = {-1, 0}, R[2] = {0, 1};
  for (const Case& c : cases)
    for (int32_t seam : {0, 2}) {
      float* pair = gv().config.seamFraction + seam;
      pair[0] = c.lo;
      pair[1] = c.hi;
      float f, s;
      Lut3D_SeamAngles(seam, &f, &s, P, Q, R);
      EXPECT_FLOAT_EQ(pair[0], c.wantLo) << c.lo << " " << c.hi;
      EXPECT_FLOAT_EQ(pair[1], c.wantHi) << c.lo << " " << c.hi;
      EXPECT_TRUE(f >= 0.0f && f < 6.2831855f && s >= 0.0f && s < 6.2831855f);
    }
}

TEST_F(Lut3DTest, TopViewTableWithHolesKeptApart) {
  LutPtr lut = MakeLut(path_);
  ASSERT_EQ(lut->valid, 1);
  const size_t n = static_cast<size_t>(kW) * kH;
  std::vector<int32_t> uv1(2 * n), uv0(2 * n), w(2 * n);
  std::vector<float> pts(3 * n);
  float mvp[16];
  ASSERT_EQ(KRV_GlobalImage_Compute3DLut(lut.get(), 2, mvp, 1, uv1.data(), uv0.data(), w.data(), pts.data(), 1.0f,
                                         static_cast<float>(kW) / kH, 0, 0, 0, 0, 16000, 0, 0),
            0);
  // The empty calculation export changes nothing.
  const std::vector<int32_t> before = lut->U1;
  EXPECT_EQ(KRV_GlobalImage_Calc3DLut(lut.get(), 2, mvp, 1, nullptr, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(lut->U1, before);

  const BowlCameras& cams = lut->cams;
  int floor = 0, holes = 0, averagedHoles = 0, mismatch = 0;
  for (int32_t j = 0; j < kH; ++j)
    for (int32_t i = 0; i < kW; ++i) {
      const size_t k = static_cast<size_t>(j) * kW + i;
      for (const int32_t* uv : {&uv1[2 * k], &uv0[2 * k]}) {
        // A source is a real pixel or a hole, never a mean of the two.
        for (int c = 0; c < 2; ++c) {
          if (uv[c] <= kLut3DHoleLimit) continue;
          if (uv[c] < 0) ++averagedHoles;
        }
        holes += uv[0] <= kLut3DHoleLimit;
      }
      EXPECT_GE(w[2 * k], 0);
      EXPECT_LE(w[2 * k], 1023);
      // Cast pixels of the floor: z 0, the camera by the sign of x and its
      // source the point's projection. The float maps hold the points of
      // the side cast last, side 0 (the side cameras, bowl set 2).
      if (i % 4 != 0 || j % 4 != 0) continue;
      const float x = pts[3 * k], y = pts[3 * k + 1], z = pts[3 * k + 2];
      const double A = 2400 + 900, B = 3400 + 2300;
      if (B * B * x * x + A * A * y * y >= A * A * B * B || uv0[2 * k] <= kLut3DHoleLimit) continue;
      EXPECT_EQ(z, 0.0f) << i << "," << j << " " << x << "," << y;
      const int32_t cam = uv0[2 * k] < static_cast<int32_t>(lut->quadW / 2) * 1024 ? 3 : 4;
      EXPECT_EQ(cam, x < 0.0f ? 3 : 4) << i << "," << j;
      float u, v;
      ASSERT_TRUE(BowlCameras_Project(&cams, cam, x, y, z, &u, &v));
      if (std::fabs((u + cams.ox[cam - 1]) * 1024 - uv0[2 * k]) > 2 || std::fabs(v * 1024 - uv0[2 * k + 1]) > 2)
        ++mismatch;
      ++floor;
    }
  EXPECT_GT(floor, 100);
  EXPECT_EQ(mismatch, 0);
  EXPECT_GT(holes, 0) << "the ground under the car is seen by no camera";
  EXPECT_EQ(averagedHoles, 0);
  // Straight ahead the front/rear cameras' share is full, beside the car 0.
  EXPECT_EQ(w[2 * (static_cast<size_t>(4) * kW + kW / 2)], 1023);
  EXPECT_EQ(w[2 * (static_cast<size_t>(kH / 2) * kW + 4)], 0);
}

TEST(Lut3DAngles, WeightsAcrossTwoPi) {
  const float a[4] = {1.0f, 2.0f, 3.0f, 6.0f};
  EXPECT_NEAR(Lut3D_SectorRamp4(a, 1.5f), 0.5f, 1e-6f);
  EXPECT_NEAR(Lut3D_SectorRamp4(a, 2.5f), 0.5f, 1e-6f);
  EXPECT_NEAR(Lut3D_SectorRamp4(a, 4.5f), 0.5f, 1e-6f);
  // [6, 1) runs across 2 pi: 0.3 lies in it.
  const float x = 1.0f - (0.3f + 6.2831855f - 6.0f) / (1.0f + 6.2831855f - 6.0f);
  EXPECT_NEAR(Lut3D_SectorRamp4(a, 0.3f), x, 1e-5f);
  EXPECT_EQ(Lut3D_BandWeight(3.0f, 2.0f, 0.5f, 1.0f, 1.5f), 1.0f);
  EXPECT_NEAR(Lut3D_BandWeight(3.0f, 2.0f, 0.5f, 1.0f, 2.5f), 0.5f, 1e-6f);
  EXPECT_NEAR(Lut3D_BandWeight(3.0f, 2.0f, 0.5f, 1.0f, 0.75f), 0.5f, 1e-6f);
  EXPECT_EQ(Lut3D_BandWeight(3.0f, 2.0f, 0.5f, 1.0f, 4.0f), 0.0f);
  float out[3];
  Lut3D_BandWeightEx(6.0f, 0.5f, 3.0f, 2.0f, 6.1f, out);
  EXPECT_NEAR(out[0], 0.1f / (0.5f + 6.2831855f - 6.0f), 1e-5f);
  EXPECT_NEAR(out[1], 0.5f + 6.2831855f, 1e-5f);
}

}  // namespace
