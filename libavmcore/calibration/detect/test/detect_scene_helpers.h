#pragma once
// Helpers of the detector tests: scene set-up with the lens table of model
// 3, error measures against the rendered truth, and crops.
#include <cmath>
#include <vector>

#include "calibration/detect/chessboard_corners.h"
#include "testsupport/board_scenes.h"
#include "testsupport/config_state.h"
#include "testsupport/lens_table_fixture.h"

// Model 3 reads an equidistant lens table of 5 units a radian.
class LensModelScenes {
 public:
  LensModelScenes() {
    EquidistantTable t;
    LensTableFixture_Write(state_.dir(), 5, t);
    LensTableFixture_Install(state_.dir(), 5);
  }

 private:
  ScopedConfigState state_;
};

struct PointErrors {
  double mean = 0.0;
  double max = 0.0;
};

// Point i against truth point i.
inline PointErrors ErrorsInOrder(const std::vector<float>& got, const std::vector<float>& truth) {
  PointErrors e;
  const size_t n = truth.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    const double d = std::hypot(got[2 * i] - truth[2 * i], got[2 * i + 1] - truth[2 * i + 1]);
    e.mean += d / static_cast<double>(n);
    e.max = std::max(e.max, d);
  }
  return e;
}

// The truth in the order the quad detector gives: first point nearest the
// image origin (a board seen upside down reversed, a square board seen
// sideways turned).
inline std::vector<float> TruthInDetectorOrder(std::vector<float> truth, int cols, int rows) {
  ChessCorners_NormaliseOrientation(truth.data(), cols, rows);
  return truth;
}

// Rows [0, rows) of an image.
inline void CropRows(const FloatImage& src, int rows, FloatImage* dst) {
  dst->data.assign(src.data.begin(), src.data.begin() + static_cast<size_t>(rows) * src.m.cols);
  dst->m = Matrix{src.m.cols, rows, dst->data.data()};
}
