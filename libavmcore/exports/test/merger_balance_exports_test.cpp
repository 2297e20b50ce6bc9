#include <gtest/gtest.h>

#include <vector>

#include "globalimage_api.h"

namespace {

TEST(MergerBalanceExports, LifecycleAndTableSize) {
  uint32_t cols = 0, rows = 0;
  MergerBalanceOB* ob = KRV_GlobalImage_InitMergerBalance(1120, 1680, 400, 600, 320, 480, &cols, &rows);
  ASSERT_NE(ob, nullptr);
  EXPECT_EQ(cols, 28u);
  EXPECT_EQ(rows, 42u);
  std::vector<uint8_t> frame(static_cast<size_t>(1120) * 1680 * 3, 100), out(1176, 0);
  EXPECT_EQ(KRV_GlobalImage_CalcMergerBalance(ob, 1, frame.data(), out.data()), 0);
  EXPECT_EQ(KRV_GlobalImage_CalcMergerBalance(ob, 1, nullptr, out.data()), 1);
  EXPECT_EQ(KRV_GlobalImage_ReleaseMergerBalance(ob), 0);
  EXPECT_EQ(KRV_GlobalImage_ReleaseMergerBalance(nullptr), 0);
  // Null outputs are fine; an empty frame size gives no handle.
  ob = KRV_GlobalImage_InitMergerBalance(64, 64, 16, 16, 32, 32, nullptr, nullptr);
  ASSERT_NE(ob, nullptr);
  KRV_GlobalImage_ReleaseMergerBalance(ob);
  EXPECT_EQ(KRV_GlobalImage_InitMergerBalance(0, 64, 0, 0, 0, 0, &cols, &rows), nullptr);
  EXPECT_EQ(KRV_GlobalImage_CalcMergerBalance(nullptr, 1, frame.data(), nullptr), 1);
}

}  // namespace
