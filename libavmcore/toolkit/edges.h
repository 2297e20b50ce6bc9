#pragma once
#include <cstddef>
#include <cstdint>

#include "frame/matrix_types.h"

// 7 x 7 kernels of the sub-pixel edge refinement: horizontal and vertical
// derivative and a ring (second-derivative) response.
extern const float EdgeKernelX[49];
extern const float EdgeKernelY[49];
extern const float EdgeKernelR[49];

// Floats of work Image_DetectEdges needs for a width x height image.
size_t Image_DetectEdgesWorkFloats(int32_t width, int32_t height);

// Hysteresis edge map of a grey image in 0..1: 3 x 3 smoothing, Sobel
// gradients on the 0..255 scale, non-maximum suppression by direction,
// strong pixels above high, weak ones above low kept when linked to a strong
// one, then thinning. edges (same size as src) ends 0/1. work holds
// Image_DetectEdgesWorkFloats floats, or is null (then allocated here).
void Image_DetectEdges(const Matrix* src, float* work, ImageU8* edges, float low, float high);
// Test support: the widest vectors the edge detector may use (16 by
// default, where the machine has them; 8 runs the portable form on every
// machine).
void Edges_LimitLanes(int32_t lanes);

// Marks (1) the local maxima above t of (n + 1) x (n + 1) blocks that no
// pixel within n of them exceeds, keeping margin pixels off the edge.
void Image_NonMaxSuppress(const Matrix* img, ImageU8* marks, int32_t n, int32_t margin, float t);

// Moves an edge point to its sub-pixel position. x is the row and y the
// column coordinate (the order of the patch sampler). Returns 0 and leaves
// the point when the edge is too weak.
int32_t Image_RefineEdgePoint(float* x, float* y, const Matrix* img);
