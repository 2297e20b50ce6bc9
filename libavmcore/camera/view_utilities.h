#pragma once
#include <cstdint>

#include "frame/matrix_types.h"

// Small view-map utilities offered beside the view object.

// Edge compression curve of n columns at column i with strength k: kind 3
// i * (1 + (k i / (n - 1))^1.5); otherwise the mirrored form from the other
// edge.
float EdgeCurve_Position(int32_t kind, int32_t n, int32_t i, float k);
// The same curve as a displacement from i.
float EdgeCurve_Shift(int32_t kind, int32_t n, int32_t i, float k);
// i * (0.9 + 0.1 i / (n - 1)).
float LinearRamp(int32_t n, int32_t i);

// A lens-model-3 camera for the undistortion utilities.
struct UndistortCamera {
  Matrix K;  // 3 x 3
  Matrix D;  // 8 x 1
  int32_t width, height;  // the camera picture
};

// Undistorted width x height picture of a fisheye BMP (grey), written as a
// BMP. rollDeg in degrees. 1 written; 0 when the source cannot be read or
// the result cannot be written.
int BmpUndistortFile(const char* bmpPath, const char* outPath, const UndistortCamera* camera,
                     int32_t width, int32_t height, int32_t mirror, float fovDeg, float divisor,
                     float shiftX, float shiftY, float verticalScale, float rollDeg);
// The same on packed 3-byte pixels (nearest source pixel; pixels without
// source become 0).
void Rgb24UndistortBuffer(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, uint8_t* dst,
                          const UndistortCamera* camera, int32_t width, int32_t height, int32_t mirror,
                          float fovDeg, float divisor, float shiftX, float shiftY, float verticalScale,
                          float rollDeg);

// Builds the undistortion map of the utilities (maps sized width x height
// by the caller); -2 or 0 where there is no source.
void UndistortCamera_BuildMap(const UndistortCamera* camera, int32_t mirror, float fovDeg, float divisor,
                              float shiftX, float shiftY, float verticalScale, float rollDeg, Matrix* mapX,
                              Matrix* mapY);
