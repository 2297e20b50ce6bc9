// The six-camera colour records: a mix-area file and its six-camera
// extension, used as the decoder uses them on a quad frame and a second
// frame of their size, then turned to camera coordinates.
// Input: the mix-area file, then the extension file (see fuzz_input.h).
#include <vector>

#include "fuzz/fuzz_support.h"
#include "surround/mix_area_info.h"
#include "surround/mix_area_six_ex.h"
#include "surround/six_bright_balance.h"
#include "surround/six_colour_stats.h"
#include "toolkit/pixel_formats.h"

namespace {

// Frames only for records of a modest quad size.
constexpr int64_t kMaxQuadPixels = 1 << 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 2);
  const std::string pm = fuzz::WriteFile("mixarea.krv", files[0]);
  const std::string ps = fuzz::WriteFile("mixarea_sixex.krv", files[1]);
  MixAreaInfo mix = MixAreaInfo_Empty();
  MixAreaSixEx six = MixAreaSixEx_Empty();
  MixAreaInfo_Load(&mix, pm.c_str());
  MixAreaSixEx_Load(&six, ps.c_str());
  const int32_t qw = mix.valid != 0 ? mix.quadWidth : six.quadWidth;
  const int32_t qh = mix.valid != 0 ? mix.quadHeight : six.quadHeight;
  if (qw > 0 && qh > 1 && static_cast<int64_t>(qw) * qh <= kMaxQuadPixels) {
    std::vector<uint8_t> p1(static_cast<size_t>(qw) * qh * 3), p2(p1.size() / 2 + 3);
    for (size_t i = 0; i < p1.size(); ++i) p1[i] = static_cast<uint8_t>(i * 7);
    for (size_t i = 0; i < p2.size(); ++i) p2[i] = static_cast<uint8_t>(i * 3);
    const Rgb24Image f1{qw, qh, 1, p1.data(), 3 * qw}, f2{qw, qh / 2, 1, p2.data(), 3 * qw};
    ColorCorrectState state;
    ColorCorrect_InitState(&state, 0);
    MergerColorStatsSix(&state, kPixelFormatRGB24, &f1, kPixelFormatRGB24, &f2, &mix);
    BrightBalanceState balance{};
    balance.enabled = 1;
    BrightBalance_Update(&balance, kPixelFormatRGB24, &f1, kPixelFormatRGB24, &f2, &six);
  }
  MixAreaInfo_ToCameraCoords(&mix);
  MixAreaSixEx_ToCameraCoords(&six);
  MixAreaInfo_Release(&mix);
  MixAreaSixEx_Free(&six);
  return 0;
}
