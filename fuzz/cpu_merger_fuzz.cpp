// The CPU merger's loaders, each followed by one stitch of a frame: the
// KRVImage byte LUT (run and per-pixel forms), the MAB file with grid LUTs,
// and the MAB file alone (pre-warped form).
// Input: lut_config.krv, the KRVImage, the MAB file, then the front, back,
// left and right grid LUTs (see fuzz_input.h).
#include <vector>

#include "camera/lut_config.h"
#include "fuzz/fuzz_support.h"
#include "surround/cpu_merger.h"

namespace {

constexpr int kFileCount = 7;
// Camera images beyond this are not set up (the loaders refuse nothing for
// size alone, but the frame buffers of the stitch would be large).
constexpr int32_t kMaxCamera = 1024;

struct Frame {
  std::vector<uint8_t> luma, chroma;
};

// Output buffers of W x H (luma) and W x H / 2 (chroma), pitch W.
void Stitch(int32_t W, int32_t H, int32_t cw, int32_t ch, const MergerCPUOB* run,
            const MergerCPUOBPerPixel* perPixel, const MergerCPUOBWarped* warped) {
  if (W < 1 || H < 1 || W > 4096 || H > 4096) return;
  std::vector<uint8_t> cams[4];
  const uint8_t* images[4];
  for (int k = 0; k < 4; ++k) {
    cams[k].assign(static_cast<size_t>(cw) * ch * 3 / 2 + 16, static_cast<uint8_t>(40 * k + 20));
    images[k] = cams[k].data();
  }
  std::vector<uint8_t> luma(static_cast<size_t>(W) * H), chroma(static_cast<size_t>(W) * ((H + 1) / 2) + W);
  CPUMergerOutput out{luma.data(), chroma.data()};
  const int32_t pitches[2] = {W, W};
  float gains[24];
  for (int i = 0; i < 24; ++i) gains[i] = 0.9f + 0.01f * i;
  if (run != nullptr) LUTCPU_Exec(run, images, &out, pitches, gains, 0);
  if (perPixel != nullptr) LUTCPU_ExecPerPixel(perPixel, images, &out, pitches, gains, 0, 1);
  if (warped != nullptr) {
    const uint8_t* cameras[4][2];
    int32_t cameraPitches[4][2];
    for (int k = 0; k < 4; ++k) {
      cams[k].assign(static_cast<size_t>(W) * H * 3 / 2 + 16, static_cast<uint8_t>(30 * k + 10));
      cameras[k][0] = cams[k].data();
      cameras[k][1] = cams[k].data() + static_cast<size_t>(W) * H;
      cameraPitches[k][0] = W;
      cameraPitches[k][1] = W;
    }
    LUTCPU_ExecWarped(warped, cameras, cameraPitches, &out, pitches, gains, 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> f = fuzzinput::Split(data, size, kFileCount);
  const std::string cfg = fuzz::WriteFile("lut_config.krv", f[0]);
  const std::string krv = fuzz::WriteFile("krvimage.krv", f[1]);
  const std::string mab = fuzz::WriteFile("stitch.mab", f[2]);
  const std::string grid[4] = {fuzz::WriteFile("grid_front.lut", f[3]), fuzz::WriteFile("grid_back.lut", f[4]),
                               fuzz::WriteFile("grid_left.lut", f[5]), fuzz::WriteFile("grid_right.lut", f[6])};
  // The camera size the configuration asks for.
  LutConfigInfo info;
  CameraParamSet params;
  if (LoadLUTConfig(&info, &params, cfg.c_str(), nullptr) == 0) return 0;
  const int32_t cw = static_cast<int32_t>(info.quadWidth / 2), ch = static_cast<int32_t>(info.quadHeight / 2);
  if (cw < 1 || ch < 1 || cw > kMaxCamera || ch > kMaxCamera) return 0;

  int32_t W = 0, H = 0;
  MergerCPUOB run;
  if (LUTCPU_InitFromFile(&run, krv.c_str(), cfg.c_str(), 1, cw, ch, 2, &W, &H) == 1)
    Stitch(W, H, cw, ch, &run, nullptr, nullptr);
  LUTCPU_Release(&run);

  MergerCPUOBPerPixel perPixel;
  if (LUTCPU_InitPerPixel(&perPixel, krv.c_str(), cfg.c_str(), 1, cw, ch, 2, &W, &H) == 1)
    Stitch(W, H, cw, ch, nullptr, &perPixel, nullptr);
  LUTCPU_ReleasePerPixel(&perPixel);

  MergerCPUOB yw;
  if (LUTCPU_InitFromFile_YW(&yw, cfg.c_str(), mab.c_str(), grid[0].c_str(), grid[1].c_str(), grid[2].c_str(),
                             grid[3].c_str(), 1, cw, ch, 2, &W, &H) == 1)
    Stitch(W, H, cw, ch, &yw, nullptr, nullptr);
  LUTCPU_Release(&yw);

  MergerCPUOBWarped warped;
  if (LUTCPU_InitFromMAB(&warped, cfg.c_str(), mab.c_str(), 1, &W, &H) == 1)
    Stitch(W, H, cw, ch, nullptr, nullptr, &warped);
  LUTCPU_ReleaseWarped(&warped);
  return 0;
}
