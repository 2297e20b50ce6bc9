#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// ViewLUT word of one output pixel, from its source point (x, y) in the
// camera's picture: xq = (offX + x) * 255 / frameWidth, yq likewise, with
// (offX, offY) the camera's quarter of the quad frame.
//   bits 0-7 int(xq), 8-15 int(yq), 16-23 frac(yq) * 127, 24-31 frac(xq) * 127
// A source with x < 1 or y < 1 is the word 0.
void ViewLUT_Encode(int32_t frameWidth, int32_t frameHeight, const Matrix* mapX,
                    const Matrix* mapY, int32_t camera, uint32_t* out);

// Random hole fill of undistorted and wide views (W < 12 does nothing).
// Reseeds rand() from the clock.
void ViewMap_FillHoles(Matrix* mapX, Matrix* mapY);
// Random hole fill of cut views (W < 12 does nothing).
void CutView_FillHoles(Matrix* mapX, Matrix* mapY, int32_t camera);
