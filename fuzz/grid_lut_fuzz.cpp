// Grid-LUT files, read alone and applied to a picture.
#include "camera/grid_lut_file.h"
#include "fuzz/fuzz_support.h"
#include "toolkit/bmp_file.h"

namespace {

const std::string& Picture() {
  static const std::string path = [] {
    uint8_t grey[32 * 24];
    for (int i = 0; i < 32 * 24; ++i) grey[i] = static_cast<uint8_t>(i * 7);
    const std::string p = fuzz::Dir() + "/picture.bmp";
    Bmp_SaveGrayU8(32, 24, 32, grey, p.c_str());
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("grid.lut", data, size);
  Matrix x{0, 0, nullptr}, y{0, 0, nullptr};
  if (GridLUT_ReadFile(path.c_str(), &x, &y) == 1) {
    delete[] x.data;
    delete[] y.data;
  }
  GridLUT_ApplyToBmp(path.c_str(), Picture().c_str(), (fuzz::Dir() + "/out.bmp").c_str());
  return 0;
}
