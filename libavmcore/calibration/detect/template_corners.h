#pragma once
// Correlation-template chessboard detector: corners as maxima of a
// four-quadrant likelihood, checked against the gradients around them,
// linked along their edge directions and grown into boards. Positions are
// (row, column) = (y, x); angles come from atan2(dy, dx) in image
// coordinates (x right, y down).
#include <cstdint>

#include "frame/matrix_types.h"

struct TemplateCorner {
  int32_t label;    // board from GrowBoard; -1 in none
  int32_t gridRow;  // -1 unset
  int32_t gridCol;
  float y;
  float x;
  int32_t linkCount;
  int32_t visitMark;        // scratch of GrowBoardEdge, 0 outside it
  float direction[4];       // edge directions in [0, 2 pi): near +x, +y, -x, -y
  float linkLength[4];      // FLT_MAX when unlinked
  TemplateCorner* link[4];
  int32_t backIndex[4];     // direction at the partner pointing back; -1 none
};

// Kernels (2r + 1) x (2r + 1) of the two-angle corner template.
void BuildCornerTemplates(int32_t r, float alpha1, float alpha2, Matrix* a1, Matrix* a2, Matrix* b1, Matrix* b2);
// Corner likelihood of image into out (same size, never negative); small
// selects radius 3 templates instead of 5. Returns 0.
int32_t CornerLikelihood(const Matrix* image, Matrix* out, int32_t small);
// Moves each mark to the most point-symmetric of its 3 x 3 neighbours.
void RefineCornerMarks(const Matrix* image, ImageU8* marks);
// Two strongest modes of a circular histogram; 1 on success.
int32_t FindHistogramModes(const float* hist, int32_t bins, int32_t outBins[2], float outValues[2], float alpha);
// The two dominant edge directions in [0, pi), ascending, around (row, col).
int32_t EdgeOrientations(const Matrix* orientation, const Matrix* magnitude, int32_t row, int32_t col, int32_t radius,
                         float out[2]);
// Gradient check of the marked pixels into three level masks and lists
// (level 0 medium, 1 loose, 2 strict); lists from malloc, freed by the caller.
void ScoreCornerCandidates(const Matrix* image, const ImageU8* marks, ImageU8* levels[3], TemplateCorner* lists[3],
                           int32_t counts[3], int32_t fast, float scoreThreshold);
void DetectTemplateCorners(const Matrix* smooth, const Matrix* likelihood, TemplateCorner* lists[3],
                           int32_t counts[3], int32_t fast, float nmsThreshold, float scoreThreshold);
void LinkTemplateCorners(TemplateCorner* corners, int32_t n, int32_t allLevels, float maxDistance, float maxRatio);
int32_t GrowBoardEdge(TemplateCorner* corners, int32_t n, TemplateCorner* seed, int32_t direction,
                      TemplateCorner** out, int32_t extent);
int32_t GrowBoard(TemplateCorner* corners, int32_t n, TemplateCorner** members, int32_t label, int32_t* rowsOut,
                  int32_t* colsOut, int32_t centreX);
// Stores each member's (y, x) at (gridCol - min) + (gridRow - min) stride.
int32_t CornerGridToArray(TemplateCorner** members, int32_t n, int32_t stride, float* out, TemplateCorner** ptrs);
// (squaresX - 1) x (squaresY - 1) on success with the (y, x) pairs in the
// input's coordinates, row-major; 0 with out untouched otherwise.
int32_t FindChessboardByTemplates(const Matrix* image, int32_t squaresX, int32_t squaresY, float* out,
                                  int32_t resampleMode, int32_t fast, int32_t selectMode, int32_t small);
