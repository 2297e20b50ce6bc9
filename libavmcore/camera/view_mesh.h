#pragma once
// GPU triangle meshes of the single-camera views.
//
// A view's source maps (camera-picture source point of every output pixel)
// become a mesh that the display application textures with the live quad
// frame. Three vertices per triangle, no index array: 9 position floats
// (x, y, 0 in clip space, y up) and 6 texture floats (u, v in the quad frame,
// 0..1) per triangle. The two triangles of a quad have opposite windings, so
// the mesh is drawn without face culling.
//
// Count-only call: with a null positions or texture pointer the builders
// write nothing but the count (the same merging decisions as a full call),
// so the caller can size its arrays and call again. The count pointer may be
// null. Builders do not check the caller's array capacity.
#include <cstdint>

#include "frame/matrix_types.h"

struct UndistOB;

// Quadrant offset of a camera in the quad frame (cameras 1..4; other 0, 0).
void Trian_QuadrantOffset(int32_t frameWidth, int32_t frameHeight, int32_t camera, int32_t* ox,
                          int32_t* oy);

// Mesh of map columns colStart..colEnd (inclusive), step 8, vertical search
// for invalid samples, 3 x 3 cell merging. Returns 1, or 0 (nothing written)
// for bad arguments or when its work arrays cannot be allocated.
int GenerateTrian(int32_t frameWidth, int32_t frameHeight, int32_t camera, const Matrix* mapX, const Matrix* mapY,
                  int32_t colStart, int32_t colEnd, uint32_t* count, float* positions, float* texture);
// The same with a given step and search mode (0 vertical, non-zero diagonal).
int GenerateTrian_Step(int32_t frameWidth, int32_t frameHeight, int32_t camera, const Matrix* mapX,
                       const Matrix* mapY, int32_t colStart, int32_t colEnd, int32_t step, int32_t searchMode,
                       uint32_t* count, float* positions, float* texture);
// No merging and always writes (no count-only mode): every cell is a quad.
// Returns the triangle count 2 x cellsX x cellsY (also stored), 0 on bad
// arguments.
int32_t GenerateTrian_Plain(int32_t frameWidth, int32_t frameHeight, int32_t camera, const Matrix* mapX,
                            const Matrix* mapY, int32_t colStart, int32_t colEnd, int32_t step, int32_t searchMode,
                            uint32_t* count, float* positions, float* texture);

// View-level meshes: 1 done, 0 nothing built (count untouched).
int UndistView_GenerateTrian(UndistOB* view, int32_t camera, uint32_t* count, float* positions, float* texture);
int CutView_GenerateTrian(UndistOB* view, int32_t camera, uint32_t* count, float* positions, float* texture);
// Wide view: mode 1 the built-in side-fold map (three meshes, left, centre
// and right panel, one after the other), mode 2 the plane map.
int WideView_GenerateTrian(UndistOB* view, int32_t camera, int32_t width, int32_t height, int32_t mode,
                           uint32_t* count, float* positions, float* texture, float scale, float p1, float p2,
                           float p3);
