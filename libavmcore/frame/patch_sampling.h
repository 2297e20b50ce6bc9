#pragma once
// Bilinear sampling of a patch around a point of a float image.
#include "frame/matrix_types.h"

// Fills patch (cols x rows) with source sampled on a unit grid centred on
// (centreX, centreY). A patch that would reach the last source column or row,
// or leave the image, is set to zeros; an empty patch is left alone.
void Image_SamplePatchBilinear(const Matrix* source, Matrix* patch, float centreY, float centreX);

// The same on a grid of the given step; each sample has its own fractions.
// A patch whose samples would need a neighbour outside the source is zeroed.
void Image_SamplePatchBilinearScaled(const Matrix* source, Matrix* patch, float centreY, float centreX,
                                     float step);
