#pragma once
// Cut-outs of float images by boxes that may reach past the image: search
// boxes come from profile values and predictions, so every box is first cut
// to the image. The crop keeps its true offset, so a point found in it maps
// back into the image by adding (top, left).
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"

struct ImageBox {
  int32_t left;
  int32_t top;
  int32_t cols;
  int32_t rows;
};

// The part of the box (left, top, width x height) that lies inside an image
// of imageCols x imageRows; 0 (box zeroed) when nothing does.
int32_t ImageBox_Clip(int32_t imageCols, int32_t imageRows, int64_t left, int64_t top, int64_t width,
                      int64_t height, ImageBox* box);
// A box given by its edges (left, top, right, bottom) in pixels: it starts at
// the truncated left and top and has int(right - left) columns and
// int(bottom - top) rows, each converted toward zero; then as ImageBox_Clip.
// Non-finite edges give 0.
int32_t ImageBox_ClipEdges(int32_t imageCols, int32_t imageRows, float left, float top, float right, float bottom,
                           ImageBox* box);

// Copies the clipped box of image into buffer (resized to fit) and wraps it
// in crop; box receives the clipped box, whose (left, top) is the crop's
// offset in the image. 0 with crop empty when the box misses the image.
int32_t Matrix_CropToImage(const Matrix* image, int64_t left, int64_t top, int64_t width, int64_t height,
                           std::vector<float>* buffer, Matrix* crop, ImageBox* box);
