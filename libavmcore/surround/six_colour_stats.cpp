#include "surround/six_colour_stats.h"

namespace {

void FrameSize(const void* frame, int32_t* w, int32_t* h) {
  const int32_t* words = static_cast<const int32_t*>(frame);
  *w = words[0];
  *h = words[1];
}

// Camera of each map pair (tables 2k, 2k + 1): the first pairs of the front
// overlaps are the front camera's, of the rear overlaps the back camera's;
// the second pairs are the side cameras', front then rear in region order.
constexpr int32_t kPairCamera[8] = {kSixFront,     kSixFront,    kSixBack,       kSixBack,
                                    kSixLeftFront, kSixLeftRear, kSixRightFront, kSixRightRear};

}  // namespace

void MergerColorStatsSix(ColorCorrectState* st, int32_t code1, const void* frame1, int32_t code2,
                         const void* frame2, const MixAreaInfo* mix) {
  if (st == nullptr || frame1 == nullptr || frame2 == nullptr || mix == nullptr || mix->valid == 0) return;
  int32_t w, h;
  FrameSize(frame1, &w, &h);
  if (mix->quadWidth != w || mix->quadHeight != h) return;
  int32_t codes[8];
  const void* frames[8];
  for (int k = 0; k < 8; ++k) {
    const bool rearSide = kPairCamera[k] == kSixLeftRear || kPairCamera[k] == kSixRightRear;
    codes[k] = rearSide ? code2 : code1;
    frames[k] = rearSide ? frame2 : frame1;
  }
  float stats[8][24];
  ColorCorrect_PairStatsEach(codes, frames, mix, stats);
  ColorCorrect_RegionStats(st, stats);
}

void MergerColorStatsSixEx(ColorCorrectState* st, int32_t code, const void* const cameras[6], MixAreaInfo* mix) {
  if (st == nullptr || cameras == nullptr || mix == nullptr || mix->valid == 0) return;
  for (int k = 0; k < 6; ++k)
    if (cameras[k] == nullptr) return;
  int32_t w, h;
  FrameSize(cameras[0], &w, &h);
  for (int k = 1; k < 6; ++k) {
    int32_t wk, hk;
    FrameSize(cameras[k], &wk, &hk);
    if (wk != w || hk != h) return;
  }
  MixAreaInfo_ToCameraCoords(mix);
  if (mix->quadWidth != 2 * w || mix->quadHeight != 2 * h) return;
  int32_t codes[8];
  const void* frames[8];
  for (int k = 0; k < 8; ++k) {
    codes[k] = code;
    frames[k] = cameras[kPairCamera[k]];
  }
  float stats[8][24];
  ColorCorrect_PairStatsEach(codes, frames, mix, stats);
  ColorCorrect_RegionStats(st, stats);
}
