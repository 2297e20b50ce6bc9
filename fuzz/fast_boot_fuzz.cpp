// Fast-boot view image: loaded and, when its sizes are modest, rendered
// from a quad frame of its size.
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pipeline/fast_boot_image.h"

namespace {

constexpr int64_t kMaxPixels = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("fastboot.bin", data, size);
  FastBootImage image;
  if (FastBoot_Load(&image, path.c_str()) == 1 && static_cast<int64_t>(image.QW) * image.QH <= kMaxPixels &&
      static_cast<int64_t>(image.W) * image.H <= kMaxPixels) {
    std::vector<uint8_t> frame(static_cast<size_t>(image.QW) * image.QH * 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 5);
    std::vector<uint8_t> out(static_cast<size_t>(image.W) * image.H * 2);
    FastBoot_Render(&image, frame.data(), out.data());
  }
  FastBoot_Free(&image);
  return 0;
}
