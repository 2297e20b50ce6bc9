#pragma once
// Six corner points of a pattern around its brightest area, from the
// junctions of a thinned binarisation. Points are (row, column) f32 pairs.
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"

// Slots: upper-left, upper-right, lower-left, lower-right, near-left,
// near-right. k and offset of the local-mean threshold; mode 0..3 and flag
// select the search rules (mode 0: the lower points lie 50 columns further
// out; modes 0 and 1: the pairs must be level; flag with mode 0: six tries
// and a flatter spot window). 1 found, 0 not.
int32_t Pattern_FindSpotJunctions(const Matrix* image, float* out, int32_t k, int32_t mode, int32_t flag,
                                  float offset);

// The two halves of the search, for callers that run several searches on
// one picture: the junction pixels of the thinned binarisation (row, column
// pairs in scan order, at most 1024), which depend on k and offset only,
// and the search around the spot among them.
void SpotJunctions_Collect(const Matrix* image, int32_t k, float offset, std::vector<int32_t>* junctions);
int32_t Pattern_FindSpotJunctionsIn(const Matrix* image, const std::vector<int32_t>& junctions, float* out,
                                    int32_t mode, int32_t flag);
