// lut_config.krv through every reader: the counted reader, the parameter
// block, the LUT object's loader (which sets up the blind area from the
// file's car box) and the in-place patcher.
#include "camera/lut_config.h"
#include "frame/global_variables.h"
#include "fuzz/fuzz_support.h"
#include "surround/lutob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  // A small bird's-eye output: the LUT object's maps are set up for every
  // input, and small maps keep the runs fast.
  gv().f3 = 64;
  gv().f5 = 96;
  const std::string path = fuzz::WriteFile("lut_config.krv", data, size);
  LutConfigInfo info;
  CameraParamSet params;
  LutConfigPoints points;
  LoadLUTConfig(&info, &params, path.c_str(), &points);
  CameraParamBlock block{};
  CameraParamBlock_Load(&block, path.c_str());
  LUTOB* lut = LUTOB_Create();
  LUTOB_LoadConfig(lut, path.c_str(), nullptr);
  LUTOB_Destroy(lut);
  const float rotations[12] = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, 0, 0, 0};
  const float positions[12] = {10, 0, 0, 0, 10, 0, 0, 0, 10, 0, 0, 0};
  static float world[4 * 3 * kLutConfigPointCapacity];
  for (int mode = 0; mode < 2; ++mode)
    ModLUTConfigFile(path.c_str(), 900, 2700, 100, mode, rotations, positions, world, mode);
  return 0;
}
