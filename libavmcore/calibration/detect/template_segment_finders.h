#pragma once
// Finders of short corner strips (one-row segments of three corners) with
// the correlation-template detector inside a profile search box. Points are
// (row, column) f32 pairs in the order of the layout's world points; the
// result is the point count, 0 when not found.
#include <cstdint>

#include "frame/matrix_types.h"

struct LUTOB;

// Layout 53, cameras 1, 3 and 4: two three-corner segments (standing on
// camera 1, lying on the side cameras), solved at once; 6 or 0. Camera 2
// has no points in this layout: 0 at once.
uint32_t CalibFind_Layout53Templates(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                     float* points);

// Layout 53, cameras 3 and 4 (word 71 set): the outer corners of a grid of
// 4 x 3 corners and a lying three-corner segment, solved at once; 7 or 0.
// Every other camera: 0 at once, nothing written.
uint32_t CalibFind_Layout53SideTemplates(LUTOB* lut, uint32_t camera, Matrix* image, int32_t cols, int32_t rows,
                                         float* points);

// The front and rear mats of the whole picture (resampled to 720 x 576 from
// 1280 wide): the front part gives 14 points (a centre board, two side
// boards and a corner above each), the rear part 16 (the centre cross and
// two side boards). The threshold schedule (steps 0..3) starts at *tries;
// success leaves *tries one past the step that worked, failure leaves 5, and
// a call with *tries already 4 or more only counts it up. lut and camera are
// not read.
uint32_t CalibFind_TemplateFrontPart(LUTOB* lut, uint32_t camera, Matrix* image, float* points, int32_t* tries);
uint32_t CalibFind_TemplateRearPart(LUTOB* lut, uint32_t camera, Matrix* image, float* points, int32_t* tries);
