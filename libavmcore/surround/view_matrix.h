#pragma once
// The bowl view's model-view-projection matrix, re-projection of a camera
// mesh's texture for a trial pose, and meshes from caller-supplied triangle
// lists.
#include <cstdint>

#include "surround/bowl_grid.h"

// mvp (16 floats, row-major) of the orbiting view: perspective of vertical
// field of view pi/4 with zoom, aspect and off-centre terms, rotated by
// -pitch about x and by 2 pi - yaw about z, looking at the target (tx, ty)
// from |distance|. Vertices enter as (x, -y, -z, 1).
void Generate3DMVP(float* mvp, float zoom, float aspect, float offX, float offY, float pitch, float yaw,
                   float distance, float tx, float ty);

// Re-projects the texture coordinates of camera (1..3, other 4)'s mesh for
// the pose (r, t); with compose non-zero r are Euler angles applied to the
// stored rotation and t is added to the stored translation. Corners that fall
// outside the picture keep their coordinates.
void Mod3DTrianProject(D3DGrid* grid, int32_t camera, const float* r, const float* t, int32_t compose);

// Replaces the four camera meshes with meshes made from n triangles (9
// floats each). groupMode 1 leaves out the side cameras, 2 the front and
// rear cameras.
void SetCustom3DTrian(D3DGrid* grid, const float* triangles, int32_t n, int32_t groupMode);

// Keeps the triangles that camera (1..3, other 4) sees whole: *count in =
// triangles given, out = triangles kept; vertices get 9 and texture 6 floats
// a kept triangle.
void GenerateCustomTBTrian(const D3DGrid* grid, int32_t camera, const float* triangles, int32_t* count,
                           float* vertices, float* texture);
