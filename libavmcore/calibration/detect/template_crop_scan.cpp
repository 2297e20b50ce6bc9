#include "calibration/detect/template_crop_scan.h"

#include <cstdlib>
#include <memory>

#include "calibration/detect/corner_resample.h"

#include "toolkit/border_filters.h"

TemplateCornerLists::~TemplateCornerLists() {
  for (TemplateCorner* l : lists) free(l);
}

bool TemplateCropScan::Prepare(const Matrix* image, int64_t left, int64_t top, int64_t width, int64_t height,
                               int32_t radius, float factor) {
  Matrix cropM{0, 0, nullptr};
  if (image == nullptr || image->data == nullptr || !(factor > 0.0f && factor <= 16.0f)) return false;
  if (!Matrix_CropToImage(image, left, top, width, height, &crop_, &cropM, &box_)) return false;
  factor_ = factor;
  MatrixPtr resampled;
  if (factor != 1.0f) {
    resampled.reset(ResampleByFactor(&cropM, factor));
    if (resampled == nullptr || resampled->cols < 1 || resampled->rows < 1) return false;
    cropM = *resampled;
  }
  const size_t n = static_cast<size_t>(cropM.cols) * static_cast<size_t>(cropM.rows);
  smooth_.assign(n, 0.0f);
  like_.assign(n, 0.0f);
  smoothM_ = Matrix{cropM.cols, cropM.rows, smooth_.data()};
  likeM_ = Matrix{cropM.cols, cropM.rows, like_.data()};
  Image_BoxMean(&cropM, &smoothM_, radius, radius);
  CornerLikelihood(&smoothM_, &likeM_, 0);
  return true;
}

void TemplateCropScan::Detect(float suppression, float score, TemplateCornerLists* out) const {
  DetectTemplateCorners(&smoothM_, &likeM_, out->lists, out->counts, 0, suppression, score);
  for (int32_t j = 0; j < 3; ++j)
    for (int32_t i = 0; i < out->counts[j]; ++i) {
      out->lists[j][i].y += static_cast<float>(box_.top) * factor_;
      out->lists[j][i].x += static_cast<float>(box_.left) * factor_;
    }
}

std::vector<GrownBoard> TemplateBoards_Grow(TemplateCorner* list, int32_t n, float lengthLimit, int32_t centreX) {
  std::vector<GrownBoard> boards;
  if (list == nullptr || n <= 0) return boards;
  LinkTemplateCorners(list, n, 0, lengthLimit, 4.0f);
  // Growth writes candidates behind the members found so far.
  std::vector<TemplateCorner*> members(2 * static_cast<size_t>(n) + 16, nullptr);
  for (int32_t k = 0;; ++k) {
    int32_t rows = 0, cols = 0;
    const int32_t m = GrowBoard(list, n, members.data(), k, &rows, &cols, centreX);
    if (m == 0) break;
    if (m != rows * cols) continue;
    GrownBoard b;
    b.rows = rows;
    b.cols = cols;
    b.grid.assign(2 * static_cast<size_t>(m), -1.0f);
    CornerGridToArray(members.data(), m, cols, b.grid.data(), nullptr);
    boards.push_back(std::move(b));
  }
  return boards;
}
