#pragma once
// Detectors of single black squares (markers) printed beside a calibration
// board: a fixed schedule of local-mean binarisations, quads that reappear
// corner for corner in a second (and third) binarisation, one marker on the
// left and one on the right. Points are (row, column) f32 pairs; each marker
// is written from its start corner on around its outline (the left one from
// the corner farthest from the image's top-right, the right one from the
// corner farthest from its top-left). 1 on success, 0 when the schedule is
// exhausted.
#include <cstdint>

#include "frame/matrix_types.h"

// 8 points: the markers left and right of the board points already found,
// given by the found point with the smallest column (leftRow, leftCol), the
// one with the largest (rightRow, rightCol) and their row span. With
// nearLimitFlag 1 a marker must also lie near the board.
int32_t Chessboard_FindSideQuads(const Matrix* image, float* out, int32_t nearLimitFlag, float leftCol,
                                 float leftRow, float rightCol, float rightRow, float rowMin, float rowMax);
// The same on the inverted image (light markers), with its own schedule.
int32_t Chessboard_FindSideQuadsInverted(const Matrix* image, float* out, float leftCol, float leftRow,
                                         float rightCol, float rightRow, float rowMin, float rowMax);
// 16 points: the outer squares of a nested marker on each side of the
// centre column (left, right), then their inner squares (left, right).
// openSize > 0 opens every binarisation by that radius.
int32_t Chessboard_FindNestedMarkerPair(const Matrix* image, float* out, int32_t openSize);
// 8 points: the two markers, left and right of the centre, nearest the
// lower third of the image, whose longest side is at least minSide pixels.
int32_t Chessboard_FindLowerMarkerPair(const Matrix* image, float* out, int32_t openSize, float minSide);
