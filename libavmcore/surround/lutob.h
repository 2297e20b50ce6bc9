#pragma once
// LUTOB: the handle object of one stitched bird's-eye set-up. Created zeroed
// (extra value of its LutConfig 50), filled by one build, handed to the
// stitched LUT builder, freed with LUTOB_ReleaseBuffers and delete.
// Calibration uses it as its working context: the corner finder reads a
// camera image slot and writes corner counts and image points; the pose
// solver writes each camera's pose into the parameter set.
#include <cstdint>
#include <memory>

#include "camera/lut_config.h"
#include "frame/matrix_types.h"

// Points per camera in the hand-entry and corner-query arrays.
constexpr int kLutobHandPoints = 59;
// World points per camera that LUTOB_WorldPointsChanged compares at most.
constexpr int kLutobWorldCompareLimit = 66;

struct LUTOB {
  int32_t camW, camH;  // camera image size, half the quad frame; 0 after release
  LutConfig cfg;
  Matrix previewImage;  // output size, owned
  CameraParamSet params;
  CameraParamHeaders poses;    // K, D, R, T of cameras 1..4 over params
  Matrix* cameraImages[4];     // owned, from Matrix_New (luma / 255), or null
  int32_t cornerCounts[4];
  float* imagePoints[4];       // M points of (x, y)
  float* worldPoints[4];       // M points of (x, y, z)
  float seamAngles[4];         // degrees, front pair then rear pair
  int32_t singleFitFlags[4];
  int32_t blendWidths[2];      // front, rear (output px); 0: the configuration's
  int32_t bandSizes[4];        // top rows, bottom rows, left columns, right columns
};

// A new zeroed object (extra value 50), as the exports create it.
LUTOB* LUTOB_Create();
// LUTOB_ReleaseBuffers, then delete. Null is fine.
void LUTOB_Destroy(LUTOB* lut);

// Owner of an object inside the library; release() hands it to an export's
// caller, who frees it through the export that destroys it.
struct LutobDeleter {
  void operator()(LUTOB* lut) const { LUTOB_Destroy(lut); }
};
using LutobPtr = std::unique_ptr<LUTOB, LutobDeleter>;

int32_t LUTOB_BuildFromImage(LUTOB* lut, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                             int32_t frontOverhang, int32_t wheelBase, int32_t model, ImageU8* image,
                             int32_t ignored, int32_t checkCorners);
// The same from a float frame (luma / 255): the camera images are filled
// before detection and read by it; the preview image is allocated.
int32_t LUTOB_BuildFromImageF32(LUTOB* lut, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                                int32_t frontOverhang, int32_t wheelBase, int32_t model, Matrix* image,
                                int32_t ignored, int32_t checkCorners);
int32_t LUTOB_RunBlockCalib4(int32_t model, int32_t passMode, const ImageU8* image);
// Largest quad frame side the hand-entered builds take (camera pictures of
// half of it).
constexpr int32_t kLutobMaxQuadSide = 8192;
int32_t LUTOB_BuildFromHand(LUTOB* lut, int32_t carWidth, int32_t carLength, int32_t carBoxParam,
                            int32_t frontOverhang, int32_t wheelBase, int32_t model, int32_t quadWidth,
                            int32_t quadHeight, const float* first, const float* second);
// first/second: 59 floats per camera (236 in all); first holds each point's
// second float, second its first.
void LUTOB_SetHandPoints(LUTOB* lut, const float* first, const float* second);
// 1 loaded, 0 failed (missing file, wrong magic, impossible point counts).
int LUTOB_LoadConfig(LUTOB* lut, const char* path, const Matrix* frame);
// Writes the lut_config file of the object; 1 when it landed, 0 otherwise.
int SaveLUTConfig(const LUTOB* lut, const char* path);
void LUTOB_GetCorners(const LUTOB* lut, int32_t counts[4], float* first, float* second);
int LUTOB_WorldPointsChanged(LUTOB* lut);
void LUTOB_ReleaseBuffers(LUTOB* lut);
void LUTOB_FreeCameraImages(LUTOB* lut);
int32_t LUTOB_GetCameraWord(const LUTOB* lut, int32_t index);
void LUTOB_SetFrontCameraX(LUTOB* lut);

// A single camera image (width 1280 or 1920, height below the width) placed
// as camera 2 of a zeroed quad frame of twice its size; null otherwise.
// Free with ImageU8_Delete / Matrix_Delete (toolkit/matrix_alloc.h).
ImageU8* QuadFrame_FromSingleU8(const ImageU8* image);
Matrix* QuadFrame_FromSingleF32(const Matrix* image);
