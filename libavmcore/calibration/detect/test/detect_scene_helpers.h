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

// A size x size window of an image around (row, col), as the angle
// measurements cut it; *top and *left give its offset.
inline FloatImage CropWindow(const FloatImage& img, float row, float col, int size, int* top, int* left) {
  *top = static_cast<int>(row) - size / 2;
  *left = static_cast<int>(col) - size / 2;
  FloatImage w;
  w.data.resize(static_cast<size_t>(size) * size);
  for (int r = 0; r < size; ++r)
    for (int c = 0; c < size; ++c) w.data[r * size + c] = img.m.data[(*top + r) * img.m.cols + (*left + c)];
  w.m = Matrix{size, size, w.data.data()};
  return w;
}

// A board of sx x sy squares through lens model `model` on a w x h picture.
inline BoardSceneSpec BoardSpec(int model, int sx, int sy, int w, int h, float span, float tilt, float yaw = 0.0f,
                                float offX = 0.0f, float offY = 0.0f) {
  BoardSceneSpec s;
  s.model = model;
  s.squaresX = sx;
  s.squaresY = sy;
  s.width = w;
  s.height = h;
  s.span = span;
  s.tiltDeg = tilt;
  s.yawDeg = yaw;
  s.offsetX = offX;
  s.offsetY = offY;
  return s;
}
