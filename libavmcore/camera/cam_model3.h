#pragma once
#include <cstdint>

#include "camera/camera_model.h"

struct LensTableSlot;

// Lens model 3: a measured lens table instead of a formula. The current
// lens-table slot gives the image height of an incidence angle (1/400 degree
// steps) and the angle of an image height (0.001 steps); D[0] is the scale s
// in pixels per height unit, u = K[0] s hx + K[1] s hy + K[2],
// v = K[3] s hx + s hy + K[5]. Every operation that takes a slot selects it
// first. Angles or radii beyond the tables give the out-of-field result.

void CamModel3_Setup(FitSetup* out, int32_t width, int32_t height, int32_t slot);
void CamModel3_UndistPointToImage(const Matrix* K, const Matrix* D, float* u, float* v, int32_t slot, float theta,
                                  float dirX, float dirY);
int32_t CamModel3_ProjectPoint(int32_t model, const ProjectionContext* ctx, float* u, float* v, int32_t slot,
                               float X, float Y, float Z);
// Image points to the pinhole plane (pixelFlag 0) or pinhole pixels; radii
// beyond the angle table take its last entry.
void CamModel3_ProjectPointSet(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,
                               int32_t pixelFlag, int32_t slot);
void CamModel3_ImageToRay(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D, const Matrix* R,
                          const Matrix* T, int32_t slot, float h);
void CamModel3_ImageToGroundJac(const Matrix* imagePoints, Matrix* out, const Matrix* K, const Matrix* D,
                                const Matrix* R, const Matrix* T, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                                Matrix* dCentre, Matrix* dDist, int32_t slot);
void CamModel3_ProjectPoints(const Matrix* objectPoints, const Matrix* R, const Matrix* T, const Matrix* K,
                             const Matrix* D, Matrix* imagePoints, Matrix* dRot, Matrix* dTrans, Matrix* dIntr,
                             Matrix* dCentre, Matrix* dDist, int32_t slot);
float CamModel3_LineCalibFB(const Matrix* targets, const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R,
                            Matrix* T, int32_t mode, int32_t slot);
float CamModel3_LineCalibLR(const Matrix* targets, const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R,
                            Matrix* T, int32_t mode, int32_t slot);
float CamModel3_BestFit(const FitSetup* setup, int32_t width, int32_t height, const Matrix* objectPoints,
                        const Matrix* imagePoints, Matrix* K, Matrix* D, Matrix* R, float epsilon, Matrix* T,
                        int32_t mode, int32_t iterArg, int32_t freeCentre, int32_t slot);
// Remap planes (W x H Matrix each) of the current table: a virtual pinhole
// grid to source points cx + sx hx, cy + sy hy; 0 outside the table.
int32_t LensTable_BuildRemap(int32_t width, int32_t height, Matrix* outX, Matrix* outY, float cx, float cy, float sx,
                             float sy);

// Table look-ups of a slot (shared with the centre tracking and the tests).
// Height of an incidence angle; false when the index is outside the table.
bool LensTable_HeightAt(const LensTableSlot* slot, float theta, float* height);
// Angle of a normalised radius; false beyond the table (or no table).
bool LensTable_AngleAt(const LensTableSlot* slot, float radius, float* theta);
// Same, with the index clamped to the last entry.
bool LensTable_AngleAtClamped(const LensTableSlot* slot, float radius, float* theta);
