#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Global and local thresholds of float images (grey values 0..1). Histograms
// have 256 bins, bin = (uint32)(v * 255 + 0.5) modulo 256 (negative 0), and
// thresholds come back as bin / 255.

// Iterative two-class mean threshold; a weights the upper class mean.
float Image_IterativeThreshold(const Matrix* img, float a);
// The same threshold, then img := 1 where pixel > threshold, else 0.
void Image_BinarizeIterative(Matrix* img, float a);
// First bin whose running count exceeds width * p * height; 1.0 if none.
float Image_PercentileThreshold(const Matrix* img, float p);
// Threshold maximising the summed entropies of the two classes.
float Image_EntropyThreshold(const Matrix* img);
// img := 1 where pixel > t, else 0.
void Image_Binarize(Matrix* img, float t);

// img := 1 where the pixel is brighter than its (2k+1) x (2k+1) box mean
// minus about offset, else 0.
void Image_AdaptiveThreshold(Matrix* img, int32_t k, float offset);
// The same with the caller's work block of at least width x height floats
// for the local mean (for callers that threshold every frame).
void Image_AdaptiveThresholdBuffered(Matrix* img, int32_t k, float offset, float* mean);

// Bytes of work area that Image_LocalContrastThreshold needs.
int64_t Image_LocalContrastWorkSize(int width, int height, int k);
// Marks in dst (0/1) the pixels of highest local contrast against the
// (2k+1) x (2k+1) box mean; img is unchanged. work holds at least
// Image_LocalContrastWorkSize bytes.
void Image_LocalContrastThreshold(const Matrix* img, ImageU8* dst, uint8_t* work, int32_t k,
                                  float scale, float low, float fraction);

// Two-level cut between the image's own dark and bright ends: lo and hi are
// the histogram levels below and above which 0.5 % of the pixels lie, the
// level is lo + p (hi - lo), and img := 1 where pixel > level, else 0. An
// image whose ends lie fewer than 16 levels apart has no mark to cut out and
// comes out all 0.
void Image_HistStretch(Matrix* img, float p);
