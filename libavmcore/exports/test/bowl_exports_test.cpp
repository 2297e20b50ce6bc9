// The bowl exports with null handles and arguments: nothing is touched, no
// crash, the documented results.
#include <gtest/gtest.h>

#include <vector>

#include "globalimage_api.h"

namespace {

TEST(BowlExports, NullHandlesAndArgumentsAreHarmless) {
  uint32_t count = 5;
  EXPECT_EQ(KRV_GlobalImage_Generate3DTrian(nullptr, 1, 3, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 0u);
  count = 5;
  EXPECT_EQ(KRV_GlobalImage_GenerateTBTrian(nullptr, 1, 1, &count, nullptr, nullptr), 0);
  EXPECT_EQ(count, 5u);
  const float r[3] = {0, 0, 0};
  EXPECT_EQ(KRV_GlobalImage_Mod3DTrian(nullptr, 1, r, r), 0);
  EXPECT_EQ(KRV_GlobalImage_SetCustom3DTrian(nullptr, r, 1, 0), 0);
  int32_t n = 1;
  EXPECT_EQ(KRV_GlobalImage_GenerateCustomTBTrian(nullptr, 1, r, &n, nullptr, nullptr), 0);
  EXPECT_EQ(n, 0);
  float x = 1, y = 2, ox = 7, oy = 7, oz = 7;
  EXPECT_EQ(KRV_GlobalImage_TrackPhyTransfer(nullptr, 1, 1, 1, 0, &x, &y, &ox, &oy, &oz), 0);
  EXPECT_EQ(ox, 7.0f);
  EXPECT_EQ(KRV_GlobalImage_Generate3DMVP(nullptr, nullptr, 1, 0, 0, 0, 0, 1000, 0, 0), 0);
  EXPECT_EQ(KRV_GlobalImage_Generate3DMVP_EX(nullptr, nullptr, nullptr, nullptr, 0, 0, 1, 1, 0, 0, 0, 0, 1000, 0, 0),
            0);
  EXPECT_EQ(KRV_GlobalImage_Calc3DLut(nullptr, 1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(KRV_GlobalImage_UnInit3DTrianOB(nullptr), 0);
  EXPECT_EQ(KRV_GlobalImage_UnInit3DLutOB(nullptr), 0);
  // A LUT object of an unreadable file is handed out invalid and refused.
  LUT3DOB* lut = KRV_GlobalImage_Init3DLutOB(nullptr, 64, 48, 1, 2, 3, 4, 5, 6, 7, 8);
  ASSERT_NE(lut, nullptr);
  std::vector<float> mvp(16, 3.0f);
  EXPECT_EQ(KRV_GlobalImage_Compute3DLut(lut, 2, mvp.data(), 0, nullptr, nullptr, nullptr, nullptr, 1, 1, 0, 0, 0, 0,
                                         1000, 0, 0),
            1);
  EXPECT_EQ(mvp[0], 3.0f);
  EXPECT_EQ(KRV_GlobalImage_UnInit3DLutOB(lut), 0);
}

}  // namespace
