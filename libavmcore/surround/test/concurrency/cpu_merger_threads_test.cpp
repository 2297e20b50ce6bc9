// Row bands of one frame stitched on several threads at once give the
// single-thread picture.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "surround/cpu_merger.h"
#include "surround/test/merger_by_hand.h"

namespace {

TEST(CpuMergerThreads, RowBandsOnThreadsEqualOneThread) {
  // 64 x 48 output: every row one run of camera 1 then one blend run of
  // pair 1, sources spread over a 32 x 32 camera.
  const int W = 64, H = 48, cw = 32, ch = 32;
  MergerCPUOB o = MergerByHand(W, H, cw, ch);
  const size_t n = static_cast<size_t>(W) * H;
  for (int r = 0; r < H; ++r) {
    for (int c = 0; c < W; ++c) {
      const size_t i = static_cast<size_t>(r) * W + c;
      const int x = (c * 7 + r) % cw, y = (r * 5 + c) % ch;
      o.endLumaIndex[i] = y * cw + x;
      o.endChromaIndex[i] = (y / 2) * (cw / 2) + x / 2;
      o.sideLumaIndex[i] = x * cw + y;
      o.sideChromaIndex[i] = (x / 2) * (cw / 2) + y / 2;
      o.blendMap[i] = static_cast<uint16_t>((c * 4) | ((c % 32) << 8));
    }
    o.singleRuns[0].push_back(CPUStitchRun{r, 1, 40});
    o.blendRuns[0].push_back(CPUStitchRun{r, 41, 20});
  }
  std::vector<uint8_t> cams[4];
  const uint8_t* ptr[4];
  for (int k = 0; k < 4; ++k) {
    cams[k].resize(cw * ch * 3 / 2);
    for (size_t i = 0; i < cams[k].size(); ++i) cams[k][i] = static_cast<uint8_t>(i * (k + 3));
    ptr[k] = cams[k].data();
  }
  std::vector<float> gains(24);
  for (int i = 0; i < 24; ++i) gains[i] = 0.5f + 0.05f * i;
  const int32_t pitches[2] = {W, W};
  std::vector<uint8_t> y1(n, 0), uv1(n / 2, 0), y4(n, 0), uv4(n / 2, 0);
  CPUMergerOutput one{y1.data(), uv1.data()}, many{y4.data(), uv4.data()};
  ASSERT_EQ(LUTCPU_Exec(&o, ptr, &one, pitches, gains.data(), 0), 1);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&, t] { LUTCPU_ExecRows(&o, ptr, &many, pitches, gains.data(), 0, t * 12, t * 12 + 12); });
  for (auto& w : workers) w.join();
  EXPECT_EQ(y1, y4);
  EXPECT_EQ(uv1, uv4);
}

}  // namespace
