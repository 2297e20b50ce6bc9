// The driver-assistance run on a loaded configuration: the files as
// adas_config_fuzz takes them (adas_base.krv, then the function files; see
// fuzz_input.h), the manager set up from them, every function switched on
// and, when the configuration's frame is small, a few frames fed and each
// function's pass run on this thread.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pipeline/adas_manager.h"

namespace {

const char* const kFiles[] = {"adas_base.krv", "adas_ldws.krv", "adas_bsds.krv", "adas_mods.krv",
                              "adas_rcta.krv", "adas_lvsa.krv", "adas_apa.krv"};
constexpr int kFileCount = sizeof kFiles / sizeof kFiles[0];
// Frames beyond this many pixels are set up but not run: the passes' work
// grows with the frame.
constexpr int64_t kMaxRunPixels = 96 * 64;

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now += 40; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, kFileCount);
  for (int i = 0; i < kFileCount; ++i) fuzz::WriteFile(kFiles[i], files[i]);
  ADASManager adas;
  adas.clock = FakeClock;
  if (ADAS_Init(&adas, fuzz::Dir().c_str()) == 1) {
    const int32_t W = adas.config.C[kAdasFrameWidth], H = adas.config.C[kAdasFrameHeight];
    if (W >= 2 && H >= 2 && static_cast<int64_t>(W) * H <= kMaxRunPixels) {
      ADAS_SetSpeed(&adas, 20.0f);
      CtrlLDWS(&adas, W, H, 1);
      CtrlBSDS(&adas, W, H, 1);
      CtrlMODS(&adas, W, H, 1);
      CtrlDirtyDetect(&adas, W, H, 1);
      CtrlRCTA(&adas, W, H, 1);
      CtrlLVSA(&adas, W, H, 1);
      adas.runState = 1;  // feeds without worker threads: the passes run here
      std::vector<uint8_t> frame(static_cast<size_t>(W) * H * 2);
      for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
      for (int k = 0; k < 3; ++k) {
        ADAS_FeedFrame(&adas, W, H, frame.data(), nullptr, k & 1, 0, k);
        // As the workers: one pass for each function the configuration
        // created.
        if (adas.ldwsCtl.created.load() != 0) ADAS_LDWSPass(&adas);
        if (adas.bsdsCtl.created.load() != 0) ADAS_BSDSPass(&adas);
        if (adas.modsCtl.created.load() != 0) ADAS_MODSPass(&adas);
        if (adas.rctaCtl.created.load() != 0) ADAS_RCTAPass(&adas);
        if (adas.lvsaCtl.created.load() != 0) ADAS_LVSAPass(&adas);
        ADAS_DirtyPass(&adas);  // checks its own object
      }
      adas.runState = 0;
    }
  }
  ADAS_Release(&adas);
  return 0;
}
