#pragma once
// One-channel previews of the stitched bird's-eye view rendered on the CPU
// through the maps of a LUT object, to check a LUT without the display.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Renders the object's preview image from its four camera images. mode 0
// blends and blanks the car interior, 3 blends without blanking, 1 shows
// the side cameras only, any other value the end cameras only. 255 without
// a preview image; 0 otherwise (nothing rendered when a camera image is
// missing).
int32_t LUTOB_RenderPreview(LUTOB* lut, int32_t mode);
// Blends a quad-frame float image into the preview where all four source
// coordinates exceed 1. 255 without a preview image or image; else 0.
int32_t LUTOB_RenderPreviewFromImage(LUTOB* lut, const Matrix* image);
// The same blend of every pixel into a temporary image written as a grey
// BMP. 0 written; 1 when the maps or image are missing or the file did not
// land.
int32_t LUT_SaveBlendedBmp(const LUTOB* lut, const Matrix* image, const char* path);
