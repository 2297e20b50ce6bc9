// The rotation-sweep detector's model file and template picture, loaded
// with a template size of 7 and, when the model's frame is small, run once
// on a gradient frame of that size.
// Input: the model file, then the template bitmap (see fuzz_input.h).
#include <vector>

#include "fuzz/fuzz_support.h"
#include "pipeline/rot_template_detector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::vector<std::string> files = fuzzinput::Split(data, size, 2);
  const std::string model = fuzz::WriteFile("model.bin", files[0]);
  const std::string templ = fuzz::WriteFile("template.bmp", files[1]);
  RotTemplateDetector detector;
  detector.templateSize = 7;
  if (RotTemplate_LoadModel(&detector, model.c_str(), templ.c_str()) == 1 &&
      detector.frameWidth * detector.frameHeight <= 128 * 128) {
    std::vector<float> pixels(static_cast<size_t>(detector.frameWidth) * detector.frameHeight);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<float>(i % 97) / 96.0f;
    Matrix frame{detector.frameWidth, detector.frameHeight, pixels.data()};
    RotTemplate_Detect(&detector, &frame);
  }
  RotTemplate_Release(&detector);
  return 0;
}
