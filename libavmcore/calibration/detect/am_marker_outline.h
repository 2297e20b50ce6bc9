#pragma once
// Marker outline search of the angle measurement: the closed outline
// nearest the centre of a window cut around the expected marker.
#include <cstdint>

#include "frame/matrix_types.h"

// image is scratch (its content is lost; pass a copy). darkOnLight != 0
// looks for dark marks on a light ground, 0 inverts first. out (row, column)
// receives the centroid of the nearest closed outline seen, also when the
// result is false; true when it lies within 5 pixels of the window centre.
bool AM_FindMarkerBlobs(Matrix* image, float* out, int32_t darkOnLight);
