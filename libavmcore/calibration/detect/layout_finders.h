#pragma once
// The finders of the board layouts: each writes the image points (row,
// column) of its target in the order of the layout's world points into
// points and returns how many it wrote (0: not found).
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Standard form.
#define AVM_LAYOUT_FINDER(name) \
  uint32_t name(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows, float* points)
// Short form.
#define AVM_LAYOUT_FINDER_SHORT(name) uint32_t name(LUTOB* lut, uint32_t camera, Matrix* image, float* points)

AVM_LAYOUT_FINDER(CalibFind_Board8x6);
AVM_LAYOUT_FINDER(CalibFind_Layout3);
AVM_LAYOUT_FINDER(CalibFind_Layout4);
AVM_LAYOUT_FINDER_SHORT(CalibInit_FindChessboardCorners);
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout5Side);
AVM_LAYOUT_FINDER(CalibFind_Layout6);
AVM_LAYOUT_FINDER(CalibFind_Layout7);
AVM_LAYOUT_FINDER(CalibFind_Layout8);
AVM_LAYOUT_FINDER(CalibFind_Layout9);
AVM_LAYOUT_FINDER(CalibFind_Layout10);
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout11Front);
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout11Rear);
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout11Side);
AVM_LAYOUT_FINDER(CalibFind_Layout12);
AVM_LAYOUT_FINDER(CalibFind_Layout14);
AVM_LAYOUT_FINDER(CalibFind_Layout15);
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout16A);
AVM_LAYOUT_FINDER_SHORT(CalibFind_Layout16B);
AVM_LAYOUT_FINDER(CalibFind_Layout18);
AVM_LAYOUT_FINDER(CalibFind_Layout19);
AVM_LAYOUT_FINDER(CalibFind_Layout20);
AVM_LAYOUT_FINDER(CalibFind_Layout21);
AVM_LAYOUT_FINDER(CalibFind_Layout23);
AVM_LAYOUT_FINDER(CalibFind_Layout24);
AVM_LAYOUT_FINDER(CalibFind_Layout25);
AVM_LAYOUT_FINDER(CalibFind_Layout26);
AVM_LAYOUT_FINDER(CalibFind_Layout26A);
AVM_LAYOUT_FINDER(CalibFind_Layout26B);
AVM_LAYOUT_FINDER(CalibFind_Layout26Part);
AVM_LAYOUT_FINDER(CalibFind_Layout27);
AVM_LAYOUT_FINDER(CalibFind_Layout28);
AVM_LAYOUT_FINDER(CalibFind_Layout30);
AVM_LAYOUT_FINDER(CalibFind_Layout31);
AVM_LAYOUT_FINDER(CalibFind_Layout32);
AVM_LAYOUT_FINDER(CalibFind_Layout51);
AVM_LAYOUT_FINDER(CalibFind_Layout52);
AVM_LAYOUT_FINDER(CalibFind_Layout53);
AVM_LAYOUT_FINDER(CalibFind_Layout54);
// Marker boards: level picks the search schedule.
uint32_t CalibFindMarkerBoard(LUTOB* lut, uint32_t camera, Matrix* image, int32_t level, float* points);
// Marker boards of layouts 2 (level 1) and 17 (level 2, then level 7 for a
// side camera of a vehicle longer than 7500 mm).
AVM_LAYOUT_FINDER(CalibFind_Layout2);
AVM_LAYOUT_FINDER(CalibFind_Layout17);
// variant 0 or 1.
uint32_t CalibFind_Layout13(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows, float* points,
                            int32_t variant);
