#pragma once
#include <cstdint>

#include "camera/view_object.h"

// Point mappings between the world (ground) and a camera's views, and from a
// camera pixel back to the ground. The invalid point is (-2, -2). A display
// pixel (X, Y) is inside a W x H view when 0 <= X < W - 1 and 0 <= Y <= H - 1.

// Direction split of (u, v): the x and y parts of the unit direction, with
// sign(0) = +1. Both 0 when u and v are both 0.
void View_DirectionSplit(float u, float v, float* cu, float* cv);
// A divisor within FLT_EPSILON of 0 moves to +-FLT_EPSILON, keeping its side.
float View_EpsilonClamp(float w);

// World point through an undistorted block (view types 1 to 4). Outside the
// view: check 0 writes the values anyway, otherwise (-2, -2). Other types
// return 0 and write nothing.
int UndistView_Physical2Disp(UndistViewBlock* block, float x, float y, float z, int check,
                             float* outX, float* outY);
int UndistView_Physical2DispPoint(UndistOB* view, int32_t camera, int32_t zoom, float x, float y,
                                  float z, float* outX, float* outY);
// Pixels of the view that draw the ground segment (x0, y0)-(x1, y1). Stores
// at most maxPoints unrounded points when both arrays are given; returns the
// count. The walk is limited to the part of the segment that can reach the
// view's bounds, so far-away or huge ends cost no more than a near segment.
int32_t UndistView_Physical2DispLine(UndistOB* view, int32_t camera, int32_t zoom, float x0,
                                     float y0, float x1, float y1, int32_t maxPoints, float* outX,
                                     float* outY);
// Camera pixel to the ground; 1 when it reaches the ground, else 0 (outputs
// untouched).
int UndistView_CameraImage2Physical(UndistOB* view, int32_t camera, float px, float py,
                                    float* outX, float* outY);
int ZoomView_MapPoint(float* outX, float* outY, ZoomViewBlock* zoom, int check, float x, float y,
                      float z);
int CutView_Physical2Disp(float* outX, float* outY, CutViewBlock* cut, int check, float x, float y,
                          float z);
