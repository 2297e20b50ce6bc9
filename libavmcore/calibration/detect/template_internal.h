#pragma once
// Shared between the stages of the template detector: the gradient field of
// the smoothed image, computed once per search and reused by every pass.
#include <cstdint>
#include <vector>

#include "calibration/detect/template_corners.h"

struct TemplateGradients {
  int32_t cols = 0, rows = 0;
  std::vector<float> orientation;  // [0, pi)
  std::vector<float> magnitude;
};

void TemplateGradients_Compute(const Matrix* image, TemplateGradients* g);
void ScoreCornerCandidatesWith(const TemplateGradients& g, const ImageU8* marks, ImageU8* levels[3],
                               TemplateCorner* lists[3], int32_t counts[3], int32_t fast, float scoreThreshold);
void DetectTemplateCornersWith(const Matrix* smooth, const Matrix* likelihood, const TemplateGradients& g,
                               TemplateCorner* lists[3], int32_t counts[3], int32_t fast, float nmsThreshold,
                               float scoreThreshold);
