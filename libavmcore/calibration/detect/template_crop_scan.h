#pragma once
// A part of a camera image made ready for the template corner detector: cut
// to the image, smoothed by a box mean, with its corner likelihood. The
// corner lists of one threshold pair come back in the coordinates of the
// whole image, and the boards grown from a list as row-major point grids.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "calibration/detect/image_box.h"
#include "calibration/detect/template_corners.h"
#include "frame/matrix_types.h"

// The three lists of one detection (malloc'ed by the detector, freed here).
struct TemplateCornerLists {
  TemplateCorner* lists[3] = {nullptr, nullptr, nullptr};
  int32_t counts[3] = {0, 0, 0};
  TemplateCornerLists() = default;
  TemplateCornerLists(const TemplateCornerLists&) = delete;
  TemplateCornerLists& operator=(const TemplateCornerLists&) = delete;
  ~TemplateCornerLists();
};

// A complete board of rows x cols corners, (row, column) pairs row-major.
struct GrownBoard {
  int32_t rows = 0, cols = 0;
  std::vector<float> grid;
  const float* At(int32_t k) const { return &grid[2 * static_cast<size_t>(k)]; }
};

class TemplateCropScan {
 public:
  // The box (left, top, width x height) of image, cut to it; radius of the
  // box mean; a factor other than 1 resamples the cut-out by it first
  // (positions then stay in the resampled scale). False when nothing of the
  // box lies in the image.
  bool Prepare(const Matrix* image, int64_t left, int64_t top, int64_t width, int64_t height, int32_t radius,
               float factor = 1.0f);
  // Corner lists of the threshold pair, positions moved into the image
  // (times the factor).
  void Detect(float suppression, float score, TemplateCornerLists* out) const;
  const ImageBox& Box() const { return box_; }
  const Matrix& Smoothed() const { return smoothM_; }

 private:
  ImageBox box_{};
  float factor_ = 1.0f;
  std::vector<float> crop_, smooth_, like_;
  Matrix smoothM_{0, 0, nullptr}, likeM_{0, 0, nullptr};
};

// Links the list (length limit, factor 4) and grows every board; only
// complete grids are kept, in the order grown.
std::vector<GrownBoard> TemplateBoards_Grow(TemplateCorner* list, int32_t n, float lengthLimit, int32_t centreX);

// The five-step threshold schedule of the board searches: (suppression,
// score) from strict to loose.
constexpr float kBoardThresholds[5][2] = {{0.28f, 0.23f}, {0.36f, 0.23f}, {0.2f, 0.23f}, {0.14f, 0.15f},
                                          {0.09f, 0.07f}};
