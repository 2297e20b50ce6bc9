#pragma once
#include <cstdint>

#include "camera/view_lut.h"
#include "camera/view_object.h"

// Source maps (one camera-picture source point per output pixel, -2 where
// there is none) and ViewLUT words of the views of an UndistOB. Maps are
// built on grids and completed by map repair. With the configuration's
// CutIfFill non-zero the random hole fill runs before encoding.

// out: width x height words of the camera's view. 1 done, 0 when the view
// type has no builder or memory runs out.
int UndistView_GenerateLUT(UndistOB* view, int32_t camera, uint32_t* out);
int CutView_GenerateLUT(UndistOB* view, int32_t camera, uint32_t* out);
// Wide front (camera 1) or rear (other cameras) view; mode 1 fold, mode 2
// plane. f1 and f2 are not used.
int WideView_GenerateLUT(UndistOB* view, int32_t camera, int32_t width, int32_t height, int32_t mode,
                         uint32_t* out, float f0, float f1, float f2, float f3, float f4, float f5);

// Maps without hole fill and encoding. Undistorted: 1 with maps allocated
// for the caller (delete[] the data), 2 with headers over the block's own
// type-2 maps (not to be freed), 0 otherwise. Cut: 1 after allocating.
int UndistView_BuildMaps(UndistOB* view, int32_t camera, Matrix* mapX, Matrix* mapY);
int CutView_BuildMaps(UndistOB* view, int32_t camera, Matrix* mapX, Matrix* mapY);
// Cut types 11 and above at step 2, repaired; maps sized by the caller.
void CutView_BuildMapsParam(CutViewBlock* block, Matrix* mapX, Matrix* mapY);

// Build the maps as the LUT calls do and write them as a grid-LUT file
// (shift -1). 1 written, 0 otherwise.
int UndistView_SaveGridLUT(UndistOB* view, int32_t camera, const char* path);
int CutView_SaveGridLUT(UndistOB* view, int32_t camera, const char* path);
int WideView_SaveGridLUT(UndistOB* view, int32_t camera, int32_t width, int32_t height, int32_t mode,
                         float scale, float shift, float distance, float heightScale, const char* path);

// Builders of the undistorted types 1, 3 and 4 (camera picture camW x camH)
// on maps of the block's size: every element is written (grid samples, then
// map repair), so the maps may be reused between builds without clearing.
void UndistView_BuildMapsType1(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mapX,
                               Matrix* mapY);
void UndistView_BuildMapsType3(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mapX,
                               Matrix* mapY);
void UndistView_BuildMapsType4(const UndistViewBlock* b, int32_t camW, int32_t camH, Matrix* mapX,
                               Matrix* mapY);
// Type 2: the block's own maps and row map (run by the set-up).
void UndistView_BuildCurvedMaps(const UndistOB* view, UndistViewBlock* b);
void CutView_BuildMapsSphere(const UndistOB* view, CutViewBlock* c, Matrix* mapX, Matrix* mapY);
void CutView_BuildMapsWall(const UndistOB* view, CutViewBlock* c, Matrix* mapX, Matrix* mapY);
void CutView_BuildMapsRotated(UndistOB* view, CutViewBlock* c, Matrix* mapX, Matrix* mapY);
