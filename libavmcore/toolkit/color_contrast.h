#pragma once
// Colour histogram-contrast map: per pixel, how rare its colour is and how
// far it lies in Lab space from the image's frequent colours (global
// histogram contrast). Works on at most 1728 quantised colours, not pixels.
#include <cstdint>
#include <vector>

#include "frame/matrix_types.h"

// Three bytes a pixel in B, G, R order, rows packed.
struct ColorImage8 {
  int32_t width;
  int32_t height;
  const uint8_t* data;
};

// One kept colour: mean colour (B, G, R in 0..1) of the pixels mapped to it,
// its Lab value and its pixel count.
struct QuantColor {
  float bgr[3];
  float lab[3];
  int32_t count;
};

// Quantises each channel to 12 levels (index = B * 144 + G * 12 + R), keeps
// the most frequent colours until they cover keptFraction of the pixels and
// maps every other pixel to the nearest kept colour in the quantised space.
// colours gets the kept colours (most frequent first), indexMap one kept
// index per pixel. Returns the number kept (0 for an empty image).
int32_t ColorSegment_Quantize(const ColorImage8* image, std::vector<QuantColor>* colours,
                              std::vector<int32_t>* indexMap, float keptFraction);

// The map into out (image width x height), 1.0 the most contrasting colour,
// 0.0 the least; a single colour gives 0 everywhere. Nothing happens when out
// does not have the image's size.
void ColorSegment_Run(const ColorImage8* image, Matrix* out);

// The contrast and smoothing over kept colours whose Lab values are filled
// in, written through indexMap into out (as many values as indexMap holds).
void ColorSegment_ContrastMap(const std::vector<QuantColor>& colours, const std::vector<int32_t>& indexMap,
                              float* out);

// Lab of one colour given as B, G, R in 0..1 (sRGB, D65 white): L 0..100.
// The conversion is computed in full; OpenCV's float sRGB path interpolates
// a 33-step table instead, which is off by up to about 0.4.
void ColorSegment_BgrToLab(const float bgr[3], float lab[3]);
// The same for linear B, G, R (no sRGB curve).
void ColorSegment_LinearBgrToLab(const float bgr[3], float lab[3]);
