#pragma once
#include <cstdint>

#include "camera/view_object.h"

// View-parameter record of the view object and the virtual views built on
// it (cut types 5, 7 and 11 to 18).
//
// Virtual view geometry: a virtual pinhole camera at `eye` with the base
// rotation `rotation` and a per-pixel turn (VirtualView_Rotation) looks at
// the plane planeN . X = planeD. The internal pixel coordinates are
// u = X * scaleX + shiftX + originX, v = Y * scaleY + shiftY + originY for a
// display pixel (X, Y); the camera ray of (u, v) is (u / fx, v / fy, 1).
// A plane point shows the colour the real camera sees there.

// Reads the lut_config file into the record and prepares the four
// single-point projections. 1 read; 0 when the file cannot be read.
int Undist4Camera_LoadParam(ViewParamRecord* record, const char* path);
// Release hook; the record owns nothing.
void Undist4Camera_ReleaseParam();

// f: focalRef, aspect, rx, ry, rz (radians), shiftX, shiftY, zOffset.
void VirtualView_SetParam(const ViewParamRecord* record, VirtualViewState* state, uint32_t viewCode,
                          int32_t width, int32_t height, const float* f);
// Source maps at every step-th pixel and the last column and row; sources
// outside the camera picture are stored as 0.
void VirtualView_BuildMap(const VirtualViewState* state, int32_t step, Matrix* mapX, Matrix* mapY);
// World point to display pixel, iterative. 1 when the point lies in front of
// the view, 0 (and (-2, -2)) otherwise.
int VirtualView_MapPoint(const VirtualViewState* state, float x, float y, float z, float* outX,
                         float* outY);
// View rotation of a code for the column turn p and the row turn q.
void VirtualView_Rotation(float* out, uint32_t viewCode, float q, float p, float A, float B);

// Side-camera map of cut types 5 and 7 (sides 1 and 3: camera 3, 2 and 4:
// camera 4): a pinhole view from the camera's own position, turned per pixel
// (pitch rising towards the top (sides 1, 2) or bottom (3, 4) edge, a fixed
// 90-degree turn, a yaw growing with column and row) and then by the cut
// block's rotation, all in the camera's own frame. f: focalRef, aspect, xShift, yShift, pitch angle (deg),
// yaw angle (deg).
void SideView_BuildMap(const ViewParamRecord* record, int32_t side, int32_t width, int32_t height,
                       const float* rotation, int32_t step, Matrix* mapX, Matrix* mapY, const float* f);
