// The marker-angle model file: read into a measurement object, which then
// takes one blank frame of the size the file names.
#include <vector>

#include "calibration/solve/am_measure.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ResetConfiguration();
  const std::string path = fuzz::WriteFile("am_model.krv", data, size);
  AMObject* obj = AM_InitOB(path.c_str());
  if (obj != nullptr) {
    // Frames of at most 1024 x 1024 keep the runs short.
    if (obj->model.width <= 1024 && obj->model.height <= 1024) {
      std::vector<uint8_t> frame(static_cast<size_t>(obj->model.width) * obj->model.height, 128);
      AM_InputVideo(obj, nullptr, frame.data(), obj->model.width);
      float angle;
      AM_GetAngle(obj, &angle, nullptr);
    }
    AM_Release(obj);
  }
  return 0;
}
