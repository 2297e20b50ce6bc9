#pragma once
// Small targets in an already cut-out patch, from the first stages of the
// correlation-template detector (its loose corner list): a single corner, a
// pair of corners at an expected offset, and a corner with the two squares
// meeting at it. Points are (y, x) f32 pairs; 1 on success, 0 otherwise.
#include <cstdint>

#include "calibration/detect/template_corners.h"
#include "frame/matrix_types.h"

// The patch's only corner; t1 suppression, t2 gradient-check threshold.
int32_t FindSingleTemplateCorner(const Matrix* patch, float* out, float t1, float t2);
// Two corners of equal polarity whose offsets (|dy|, |dx|) lie within
// maxDeviation of (dy, dx), in list order. mode 1 prefers a nearly as good
// pair higher in the patch, other non-zero modes one lower.
int32_t FindTemplateCornerPair(const Matrix* patch, float* out, int32_t mode, float t1, float t2, float dx,
                               float dy, float maxDeviation);
// Seven points: the corner, three corners of the square on one side of it
// and three of the square on the other side. checkRatio != 0 also wants
// squares no thinner than 0.7 (first pass) or 0.5 (second pass).
int32_t FindCornerWithQuads(const Matrix* patch, float* out, int32_t checkRatio, float t1, float t2);
// Plausibility of one corner: along the bisectors of its four edge
// directions at least one sector is dark (below 0.24) and two are bright
// (above 0.5). 0 within 11 pixels of the top or left border or beyond
// rows - 12 or cols - 12.
int32_t CheckCornerSectors(const TemplateCorner* corner, const Matrix* image);

// Link pieces of board growing: the link k of corner pointing to other,
// then k + 1 .. k + 3 (mod 4); 0 when none points there.
int32_t FindLinkDirections(const TemplateCorner* corner, const TemplateCorner* other, int32_t* out);
// The unlabelled neighbour in direction (with needLinks at least two links
// of its own); its visit mark goes up and the result is 1 while the mark
// stays below 2.
int32_t TakeUnlabelledNeighbour(const TemplateCorner* corner, int32_t direction, TemplateCorner** out,
                                int32_t needLinks);
// Gives the neighbour in direction the corner's label and the grid position
// one step on (0: column + 1, 1: row + 1, 2: column - 1, 3: row - 1).
int32_t LabelNeighbour(const TemplateCorner* corner, int32_t direction, TemplateCorner** out);
// |a - b| folded to [0, pi], and further to [0, pi / 2].
float AngleDiff2Pi(float a, float b);
float AngleDiffHalfPi(float a, float b);
// Mean of the pixels not below the (2k + 1)^2 window mean minus the mean of
// those below it, over rows and columns -k .. k - 3 around (y, x); 0 when
// the window leaves the image.
float LocalContrast(const Matrix* image, int32_t k, int32_t y, int32_t x);
// 1 when the top-left and bottom-right k x k blocks (the point's row and
// column left out) are brighter together than the other two; 0 when the
// blocks leave the image.
int32_t CornerPolarity(const Matrix* image, int32_t y, int32_t x, int32_t k);
